// Basic statistics and minimum/maximum against a long-double two-pass reference, over storages, weights,
// order levels, thread counts, portions, packed matrices, selections, methods and both precisions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "core/thread_limit.h"
#include "zok/summary_stats.h"
#include "zok/vector_math.h"

namespace {

using LD = long double;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Observations as variables x observations, independent of storage.
struct Data {
  int64_t p = 0, n = 0;
  std::vector<std::vector<double>> v;  // v[j][i]
  std::vector<double> w;               // empty: unweighted
  std::vector<double> layout(bool cols, int64_t i0, int64_t i1) const {
    std::vector<double> x;
    const int64_t m = i1 - i0;
    x.resize(p * m);
    for (int64_t j = 0; j < p; ++j)
      for (int64_t i = 0; i < m; ++i) (cols ? x[i * p + j] : x[j * m + i]) = v[j][i0 + i];
    return x;
  }
};

// Means near 1e9 with unit spread; variable j mixes in exponential noise (skewed) and a share of
// variable 0 (correlated). Weights, when asked, are positive and uneven.
Data hard_data(int64_t p, int64_t n, bool weighted, uint64_t seed, double offset = 1e9) {
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> normal;
  std::exponential_distribution<double> expo;
  Data d;
  d.p = p;
  d.n = n;
  d.v.assign(p, std::vector<double>(n));
  for (int64_t i = 0; i < n; ++i) {
    const double common = normal(gen);
    for (int64_t j = 0; j < p; ++j)
      d.v[j][i] = offset * (1 + 0.25 * j) + 0.5 * common + (j % 2 ? expo(gen) : normal(gen)) * (1 + 0.1 * j);
  }
  if (weighted) {
    std::uniform_real_distribution<double> u(0.25, 4.0);
    d.w.resize(n);
    for (auto& x : d.w) x = u(gen);
  }
  return d;
}

// Long-double two-pass reference over observations [i0, i1).
struct Ref {
  int64_t p;
  LD W = 0, W2 = 0;
  std::vector<LD> mean, r2, r3, r4, M2, M3, M4, C;
  LD c2(int64_t j) const { return M2[j] * W / (W * W - W2); }
  LD c3(int64_t j) const { return M3[j] / W; }
  LD c4(int64_t j) const { return M4[j] / W; }
  LD cov(int64_t a, int64_t b) const { return C[a * p + b] / (W - W2 / W); }
  LD cor(int64_t a, int64_t b) const {
    return a == b ? cov(a, a) : C[a * p + b] / std::sqrt(C[a * p + a] * C[b * p + b]);
  }
};
Ref reference(const Data& d, int64_t i0 = 0, int64_t i1 = -1) {
  if (i1 < 0) i1 = d.n;
  const int64_t p = d.p;
  Ref r;
  r.p = p;
  r.mean.assign(p, 0);
  r.r2 = r.r3 = r.r4 = r.M2 = r.M3 = r.M4 = r.mean;
  r.C.assign(p * p, 0);
  // Deviations are taken from each variable's first value (an exact subtraction for data near it), so
  // that even long double loses nothing to the size of the data; a second pass corrects the mean.
  std::vector<LD> shift(p), ym(p, 0);
  for (int64_t j = 0; j < p; ++j) shift[j] = d.v[j][i0];
  for (int64_t i = i0; i < i1; ++i) {
    const LD w = d.w.empty() ? 1 : d.w[i];
    r.W += w;
    r.W2 += w * w;
    for (int64_t j = 0; j < p; ++j) {
      const LD x = d.v[j][i];
      ym[j] += w * (x - shift[j]);
      r.r2[j] += w * x * x;
      r.r3[j] += w * x * x * x;
      r.r4[j] += w * x * x * x * x;
    }
  }
  std::vector<LD> corr(p, 0);
  for (auto* v : {&ym, &r.r2, &r.r3, &r.r4})
    for (auto& e : *v) e /= r.W;
  for (int64_t i = i0; i < i1; ++i) {
    const LD w = d.w.empty() ? 1 : d.w[i];
    for (int64_t j = 0; j < p; ++j) corr[j] += w * ((d.v[j][i] - shift[j]) - ym[j]);
  }
  for (int64_t j = 0; j < p; ++j) {
    ym[j] += corr[j] / r.W;
    r.mean[j] = shift[j] + ym[j];
  }
  std::vector<LD> dev(p);
  for (int64_t i = i0; i < i1; ++i) {
    const LD w = d.w.empty() ? 1 : d.w[i];
    for (int64_t a = 0; a < p; ++a) dev[a] = (d.v[a][i] - shift[a]) - ym[a];
    for (int64_t a = 0; a < p; ++a) {
      const LD da = dev[a];
      r.M2[a] += w * da * da;
      r.M3[a] += w * da * da * da;
      r.M4[a] += w * da * da * da * da;
      for (int64_t b = 0; b < p; ++b) r.C[a * p + b] += w * da * dev[b];
    }
  }
  return r;
}

constexpr uint64_t kAllBasic = ZOK_SS_MEAN | ZOK_SS_RAW2 | ZOK_SS_RAW3 | ZOK_SS_RAW4 | ZOK_SS_CENTRAL2 |
                               ZOK_SS_CENTRAL3 | ZOK_SS_CENTRAL4 | ZOK_SS_KURTOSIS | ZOK_SS_SKEWNESS |
                               ZOK_SS_VARIATION | ZOK_SS_COV | ZOK_SS_COR | ZOK_SS_SUM | ZOK_SS_RAW_SUM2 |
                               ZOK_SS_RAW_SUM3 | ZOK_SS_RAW_SUM4 | ZOK_SS_CENTRAL_SUM2 | ZOK_SS_CENTRAL_SUM3 |
                               ZOK_SS_CENTRAL_SUM4 | ZOK_SS_CP;

// A task with every output of the basic statistics registered, in full storage unless told.
struct Outputs {
  int64_t p;
  std::vector<double> mean, raw2, raw3, raw4, c2, c3, c4, kurt, skew, var, sum, rs2, rs3, rs4, cs2, cs3, cs4;
  std::vector<double> cov, cor, cp;
  double pair[2] = {0, 0};
  int32_t cov_storage = ZOK_SS_MATRIX_FULL, cor_storage = ZOK_SS_MATRIX_FULL, cp_storage = ZOK_SS_MATRIX_FULL;
  explicit Outputs(int64_t p_) : p(p_) {
    for (auto* a : {&mean, &raw2, &raw3, &raw4, &c2, &c3, &c4, &kurt, &skew, &var, &sum, &rs2, &rs3, &rs4,
                    &cs2, &cs3, &cs4})
      a->assign(p, 0);
    cov.assign(p * p, 0);
    cor = cp = cov;
  }
  // Registers the arrays of the estimates in `only` (all by default), and the weights pair.
  void attach(SSTask* t, bool with_pair = true, uint64_t only = ~uint64_t{0}) {
    auto pick = [only](uint64_t bit, std::vector<double>& v) { return (only & bit) ? v.data() : nullptr; };
    ASSERT_EQ(__qordSSEditMoments(t, pick(ZOK_SS_MEAN, mean), pick(ZOK_SS_RAW2, raw2),
                                  pick(ZOK_SS_RAW3, raw3), pick(ZOK_SS_RAW4, raw4), pick(ZOK_SS_CENTRAL2, c2),
                                  pick(ZOK_SS_CENTRAL3, c3), pick(ZOK_SS_CENTRAL4, c4)),
              0);
    ASSERT_EQ(
        __qordSSEditSums(t, pick(ZOK_SS_SUM, sum), pick(ZOK_SS_RAW_SUM2, rs2), pick(ZOK_SS_RAW_SUM3, rs3),
                         pick(ZOK_SS_RAW_SUM4, rs4), pick(ZOK_SS_CENTRAL_SUM2, cs2),
                         pick(ZOK_SS_CENTRAL_SUM3, cs3), pick(ZOK_SS_CENTRAL_SUM4, cs4)),
        0);
    ASSERT_EQ(__qordSSEditCovCor(t, nullptr, pick(ZOK_SS_COV, cov), &cov_storage, pick(ZOK_SS_COR, cor),
                                 &cor_storage),
              0);
    ASSERT_EQ(__qordSSEditCP(t, nullptr, nullptr, pick(ZOK_SS_CP, cp), &cp_storage), 0);
    for (auto [bit, id, v] : {std::tuple{ZOK_SS_KURTOSIS, ZOK_SS_ID_KURTOSIS, &kurt},
                              std::tuple{ZOK_SS_SKEWNESS, ZOK_SS_ID_SKEWNESS, &skew},
                              std::tuple{ZOK_SS_VARIATION, ZOK_SS_ID_VARIATION, &var}})
      if (only & bit) {
        ASSERT_EQ(__qordSSEditTask(t, id, v->data()), 0);
      }
    if (with_pair) {
      ASSERT_EQ(__qordSSEditTask(t, ZOK_SS_ID_ACCUM_WEIGHTS, pair), 0);
    }
  }
};

// |got - expected| <= tol * max(|expected|, floor): quantities that can be near zero (third moments,
// skewness and kurtosis of near-symmetric data) are compared against their natural scale.
::testing::AssertionResult near_rel(LD expected, double got, double tol, const char* what, int64_t j,
                                    LD floor = 0) {
  const LD err = std::fabs(static_cast<LD>(got) - expected);
  if (err <= tol * std::max(std::fabs(expected), floor) ||
      (std::isnan(got) && std::isnan(static_cast<double>(expected))))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << what << "[" << j << "]: expected " << static_cast<double>(expected) << " got " << got
         << " rel err " << static_cast<double>(err / std::fabs(expected));
}

// Checks the estimates of `mask` against the reference. Off-diagonal covariances are compared
// relative to the product of standard deviations, as their own size can be near zero.
void check(const Outputs& o, const Ref& r, uint64_t mask, double tol) {
  for (int64_t j = 0; j < o.p; ++j) {
    const LD c2 = r.c2(j), sd3 = std::pow(c2, 1.5L);
    const struct {
      uint64_t bit;
      LD want;
      double got;
      const char* what;
      LD floor;
    } rows[] = {
        {ZOK_SS_MEAN, r.mean[j], o.mean[j], "mean", 0},
        {ZOK_SS_RAW2, r.r2[j], o.raw2[j], "raw2", 0},
        {ZOK_SS_RAW3, r.r3[j], o.raw3[j], "raw3", 0},
        {ZOK_SS_RAW4, r.r4[j], o.raw4[j], "raw4", 0},
        {ZOK_SS_CENTRAL2, c2, o.c2[j], "c2", 0},
        {ZOK_SS_CENTRAL3, r.c3(j), o.c3[j], "c3", sd3},
        {ZOK_SS_CENTRAL4, r.c4(j), o.c4[j], "c4", 0},
        {ZOK_SS_KURTOSIS, r.c4(j) / (c2 * c2) - 3, o.kurt[j], "kurtosis", 1},
        {ZOK_SS_SKEWNESS, r.c3(j) / std::sqrt(c2 * c2 * c2), o.skew[j], "skewness", 1},
        {ZOK_SS_VARIATION, std::sqrt(c2) / r.mean[j], o.var[j], "variation", 0},
        {ZOK_SS_SUM, r.mean[j] * r.W, o.sum[j], "sum", 0},
        {ZOK_SS_RAW_SUM2, r.r2[j] * r.W, o.rs2[j], "raw sum 2", 0},
        {ZOK_SS_RAW_SUM3, r.r3[j] * r.W, o.rs3[j], "raw sum 3", 0},
        {ZOK_SS_RAW_SUM4, r.r4[j] * r.W, o.rs4[j], "raw sum 4", 0},
        {ZOK_SS_CENTRAL_SUM2, r.M2[j], o.cs2[j], "central sum 2", 0},
        {ZOK_SS_CENTRAL_SUM3, r.M3[j], o.cs3[j], "central sum 3", sd3 * r.W},
        {ZOK_SS_CENTRAL_SUM4, r.M4[j], o.cs4[j], "central sum 4", 0},
    };
    for (const auto& e : rows) {
      if (mask & e.bit) {
        EXPECT_TRUE(near_rel(e.want, e.got, tol, e.what, j, e.floor));
      }
    }
  }
  const int64_t p = o.p;
  for (int64_t a = 0; a < p; ++a)
    for (int64_t b = 0; b < p; ++b) {
      const LD scale = std::sqrt(r.C[a * p + a] * r.C[b * p + b]);
      const int64_t idx = a * p + b;
      if (mask & ZOK_SS_CP) {
        EXPECT_LE(std::fabs(o.cp[idx] - r.C[idx]), tol * scale) << "cp " << a << "," << b;
      }
      if (mask & ZOK_SS_COV) {
        EXPECT_LE(std::fabs(o.cov[idx] - r.cov(a, b)), tol * scale / (r.W - r.W2 / r.W))
            << "cov " << a << "," << b;
      }
      if (mask & ZOK_SS_COR) {
        if (a == b) {
          EXPECT_TRUE(near_rel(r.cov(a, a), o.cor[idx], tol, "cor diagonal", a));
        } else {
          EXPECT_LE(std::fabs(o.cor[idx] - r.cor(a, b)), tol) << "cor " << a << "," << b;
        }
      }
    }
}

struct Task {
  SSTask* t = nullptr;
  int32_t p, n, storage;
  std::vector<double> x;
  Task(const Data& d, bool cols, int64_t i0 = 0, int64_t i1 = -1) {
    if (i1 < 0) i1 = d.n;
    p = static_cast<int32_t>(d.p);
    n = static_cast<int32_t>(i1 - i0);
    storage = cols ? ZOK_SS_STORAGE_COLUMNS : ZOK_SS_STORAGE_ROWS;
    x = d.layout(cols, i0, i1);
    const double* w = d.w.empty() ? nullptr : d.w.data() + i0;
    EXPECT_EQ(__qordSSNewTask(&t, &p, &n, &storage, x.data(), w, nullptr, 0), 0);
  }
  ~Task() { __qorSSDeleteTask(&t); }
};

// Through the core library's table with the thread limit replaced, so a test picks the number of ranges.
int32_t run(SSTask* t, uint64_t mask, uint64_t method, int threads) {
  return _qordSSBasic(t, mask, method, zok::core::threads_up_to(threads));
}

// Order levels and cross-product choices: each mask picks different update routines.
constexpr uint64_t kMasks[] = {
    ZOK_SS_MEAN | ZOK_SS_SUM,
    ZOK_SS_MEAN | ZOK_SS_RAW2 | ZOK_SS_CENTRAL2 | ZOK_SS_CENTRAL_SUM2 | ZOK_SS_VARIATION,
    ZOK_SS_MEAN | ZOK_SS_RAW2 | ZOK_SS_RAW3 | ZOK_SS_CENTRAL3 | ZOK_SS_SKEWNESS | ZOK_SS_CENTRAL2,
    ZOK_SS_MEAN | ZOK_SS_COV,
    kAllBasic,
};

struct Case {
  int64_t p;
  bool cols, weighted;
};

class HardData : public ::testing::TestWithParam<Case> {};

TEST_P(HardData, OnePassMatchesLongDoubleTwoPassAtEveryThreadCount) {
  const Case c = GetParam();
  const Data d = hard_data(c.p, 30011, c.weighted, 7 + c.p);
  const Ref r = reference(d);
  for (uint64_t mask : kMasks) {
    std::vector<Outputs> by_threads;
    for (int threads : {1, 2, 8}) {
      for (uint64_t method : {ZOK_SS_METHOD_ONEPASS, ZOK_SS_METHOD_KEPT}) {
        Task task(d, c.cols);
        Outputs o(c.p);
        o.attach(task.t);
        ASSERT_EQ(run(task.t, mask, method, threads), 0);
        SCOPED_TRACE(::testing::Message() << "mask 0x" << std::hex << mask << std::dec << " threads "
                                          << threads << " method " << method);
        check(o, r, mask, 1e-10);
        EXPECT_NEAR(o.pair[0], static_cast<double>(r.W), 1e-12 * r.W);
        if (method == ZOK_SS_METHOD_ONEPASS) by_threads.push_back(o);
      }
    }
    // Thread counts differ only by rounding.
    for (size_t t = 1; t < by_threads.size(); ++t)
      for (int64_t j = 0; j < c.p; ++j) {
        EXPECT_NEAR(by_threads[t].mean[j], by_threads[0].mean[j], 1e-14 * std::fabs(by_threads[0].mean[j]));
        EXPECT_NEAR(by_threads[t].cs2[j], by_threads[0].cs2[j], 1e-11 * std::fabs(by_threads[0].cs2[j]));
      }
  }
}

INSTANTIATE_TEST_SUITE_P(StorageWeightsDimension, HardData,
                         ::testing::Values(Case{1, false, false}, Case{3, false, false}, Case{3, true, true},
                                           Case{3, false, true}, Case{6, false, false}, Case{6, true, false},
                                           Case{6, false, true}, Case{6, true, true}));

// Blocks of the covariance path whose means jump away from the previous block's (steps, a ramp)
// next to stationary variables: each variable is centred by whichever form fits it in each block,
// and the cross-products between the two kinds still match the reference at every thread count.
TEST(SsBasic, CovarianceAcrossStepsAndDrift) {
  const int64_t p = 8, n = 40000;
  for (bool weighted : {false, true}) {
    Data d;
    d.p = p;
    d.n = n;
    d.v.assign(p, std::vector<double>(n));
    std::mt19937_64 gen(11);
    std::normal_distribution<double> normal;
    for (int64_t i = 0; i < n; ++i) {
      const double common = normal(gen);
      for (int64_t j = 0; j < p; ++j) {
        const double level = j % 4 == 1   ? 1e4 * static_cast<double>(i / 5000)  // steps
                             : j % 4 == 3 ? 1e-2 * static_cast<double>(i)        // ramp
                                          : 0.0;                                 // stationary
        d.v[j][i] = 1e9 * (1 + 0.25 * j) + level + common + normal(gen);
      }
    }
    if (weighted) {
      std::uniform_real_distribution<double> u(0.25, 4.0);
      d.w.resize(n);
      for (auto& x : d.w) x = u(gen);
    }
    const Ref r = reference(d);
    for (uint64_t mask : {ZOK_SS_MEAN | ZOK_SS_COV, ZOK_SS_MEAN | ZOK_SS_CENTRAL2 | ZOK_SS_COV})
      for (bool cols : {false, true})
        for (int threads : {1, 2, 8}) {
          Task task(d, cols);
          Outputs o(p);
          o.attach(task.t);
          ASSERT_EQ(run(task.t, mask, ZOK_SS_METHOD_ONEPASS, threads), 0);
          SCOPED_TRACE(::testing::Message() << "weighted " << weighted << " mask 0x" << std::hex << mask
                                            << std::dec << " cols " << cols << " threads " << threads);
          check(o, r, mask, 1e-10);
        }
  }
}

// Portions accumulate to the one-call result, whichever arrays carry the state between calls (rows
// storage and columns in turn, one to eight threads): every array; moments and covariance; central
// moment 4 alone, whose lower sums come back from the raw moments; correlation alone, whose
// diagonal carries the variance (a variable constant at first must not poison the rest, and the
// internal vector call leaves the caller's mode word as it was); and the kept-means method, whose
// means stay in the task between calls.
TEST(SsBasic, PortionsEqualOneCall) {
  const uint64_t moments = ZOK_SS_MEAN | ZOK_SS_RAW2 | ZOK_SS_RAW3 | ZOK_SS_RAW4 | ZOK_SS_CENTRAL2 |
                           ZOK_SS_CENTRAL3 | ZOK_SS_CENTRAL4 | ZOK_SS_KURTOSIS | ZOK_SS_COV;
  const uint64_t raw = ZOK_SS_MEAN | ZOK_SS_RAW2 | ZOK_SS_RAW3 | ZOK_SS_RAW4 | ZOK_SS_CENTRAL4;
  const uint64_t kept = ZOK_SS_MEAN | ZOK_SS_CENTRAL2 | ZOK_SS_RAW2 | ZOK_SS_COV | ZOK_SS_COR;
  const struct {
    std::vector<int64_t> ps;
    double offset;
    uint64_t registered, mask, method;
    std::vector<int64_t> cuts;  // a single observation first where given, then uneven portions
    int64_t constant;           // leading observations where variable 1 is constant
    double tol;
  } rows[] = {
      {{3, 6}, 1e6, kAllBasic, kAllBasic, ZOK_SS_METHOD_ONEPASS, {0, 1, 4000, 4001, 9001}, 0, 1e-10},
      {{3, 6}, 1e6, moments, moments, ZOK_SS_METHOD_ONEPASS, {0, 1, 4000, 4001, 9001}, 0, 1e-10},
      {{2, 5}, 3.0, raw, ZOK_SS_CENTRAL4, ZOK_SS_METHOD_ONEPASS, {0, 2500, 6000}, 0, 1e-9},
      {{3, 6},
       10.0,
       ZOK_SS_MEAN | ZOK_SS_COR,
       ZOK_SS_MEAN | ZOK_SS_COR,
       ZOK_SS_METHOD_ONEPASS,
       {0, 1, 2000, 5000},
       2000,
       1e-11},
      {{3, 6}, 1e6, kept, kept, ZOK_SS_METHOD_KEPT, {0, 3000, 7000, 12000}, 0, 1e-10},
  };
  const int kThreads[] = {1, 2, 8, 3};
  const uint32_t mode_before = _yubGetMode();
  for (const auto& row : rows)
    for (int64_t p : row.ps)
      for (bool weighted : {false, true}) {
        Data d = hard_data(p, row.cuts.back(), weighted, 99 + p, row.offset);
        for (int64_t i = 0; i < row.constant; ++i) d.v[1][i] = 3.0;
        const Ref r = reference(d);
        Outputs o(p);
        int32_t p32 = static_cast<int32_t>(p), n = 0;
        SSTask* t = nullptr;
        ASSERT_EQ(__qordSSNewTask(&t, &p32, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
        o.attach(t, true, row.registered);
        std::vector<double> x;
        for (size_t part = 0; part + 1 < row.cuts.size(); ++part) {
          const int64_t i0 = row.cuts[part], i1 = row.cuts[part + 1];
          int32_t storage = part % 2 ? ZOK_SS_STORAGE_COLUMNS : ZOK_SS_STORAGE_ROWS;
          x = d.layout(part % 2, i0, i1);
          n = static_cast<int32_t>(i1 - i0);
          ASSERT_EQ(__qordSSEditTask(t, ZOK_SS_ID_X, x.data()), 0);
          if (weighted) {
            ASSERT_EQ(__qordSSEditTask(t, ZOK_SS_ID_WEIGHTS, d.w.data() + i0), 0);
          }
          ASSERT_EQ(__qoriSSEditTask(t, ZOK_SS_ID_N, &n), 0);
          ASSERT_EQ(__qoriSSEditTask(t, ZOK_SS_ID_X_STORAGE, &storage), 0);
          ASSERT_EQ(run(t, row.mask, row.method, kThreads[part]), 0);
        }
        SCOPED_TRACE(::testing::Message() << "p " << p << " weighted " << weighted << " registered 0x"
                                          << std::hex << row.registered << " method " << row.method);
        check(o, r, row.registered, row.tol);
        EXPECT_EQ(__qorSSDeleteTask(&t), 0);
      }
  EXPECT_EQ(_yubGetMode(), mode_before);
}

TEST(SsBasic, LeadingZeroWeightsChangeNothing) {
  for (int64_t p : {3, 6})
    for (bool cols : {false, true}) {
      Data d = hard_data(p, 3000, true, 17, 100.0);
      Data skipped = d;
      // Ten leading observations of weight zero, with values no arithmetic could absorb.
      for (int i = 0; i < 10; ++i) {
        d.w.insert(d.w.begin(), 0.0);
        for (auto& v : d.v) v.insert(v.begin(), i % 2 ? kNaN : std::numeric_limits<double>::infinity());
      }
      d.n += 10;
      // A run of zero weights longer than a block, in the middle: finite values there contribute nothing.
      const int64_t mid = 1500 + 10;
      d.w.insert(d.w.begin() + mid, 6000, 0.0);
      for (auto& v : d.v) v.insert(v.begin() + mid, 6000, 1e6);
      d.n += 6000;
      Outputs with(p), without(p);
      for (auto [data, out] :
           std::initializer_list<std::pair<const Data*, Outputs*>>{{&d, &with}, {&skipped, &without}}) {
        Task task(*data, cols);
        out->attach(task.t);
        ASSERT_EQ(run(task.t, kAllBasic, ZOK_SS_METHOD_ONEPASS, 1), 0);
      }
      const Ref r = reference(skipped);
      check(with, r, kAllBasic, 1e-10);
      for (int64_t j = 0; j < p; ++j) EXPECT_NEAR(with.cs2[j], without.cs2[j], 1e-12 * without.cs2[j]);
      EXPECT_NEAR(with.pair[0], without.pair[0], 1e-13 * without.pair[0]);
      EXPECT_NEAR(with.pair[1], without.pair[1], 1e-13 * without.pair[1]);
    }
}

TEST(SsBasic, PackedStorageOrdersForThreeVariables) {
  const Data d = hard_data(3, 500, false, 3, 1.0);
  Outputs full(3);
  {
    Task task(d, false);
    full.attach(task.t);
    ASSERT_EQ(run(task.t, ZOK_SS_MEAN | ZOK_SS_COV | ZOK_SS_COR | ZOK_SS_CP, ZOK_SS_METHOD_ONEPASS, 1), 0);
  }
  const int order1[6][2] = {{0, 0}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {2, 2}};
  const int order2[6][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
  for (int32_t code : {1, 2}) {
    Outputs o(3);
    o.cov.assign(9, -7.0);  // beyond the 6 packed values nothing may be written
    o.cor = o.cp = o.cov;
    o.cov_storage = o.cor_storage = o.cp_storage = code;
    Task task(d, true);
    o.attach(task.t);
    ASSERT_EQ(run(task.t, ZOK_SS_MEAN | ZOK_SS_COV | ZOK_SS_COR | ZOK_SS_CP, ZOK_SS_METHOD_ONEPASS, 1), 0);
    const auto& order = code == 1 ? order1 : order2;
    for (int e = 0; e < 6; ++e) {
      const int idx = order[e][0] * 3 + order[e][1];
      EXPECT_NEAR(o.cov[e], full.cov[idx], 1e-13 * std::fabs(full.cov[idx]) + 1e-15) << code << " " << e;
      EXPECT_NEAR(o.cor[e], full.cor[idx], 1e-13) << code << " " << e;
      EXPECT_NEAR(o.cp[e], full.cp[idx], 1e-12 * std::fabs(full.cp[idx]) + 1e-13) << code << " " << e;
    }
    for (int e = 6; e < 9; ++e) EXPECT_EQ(o.cov[e], -7.0);
    // A later call continues from the packed matrices.
    Task more(d, false);
    o.attach(more.t);
    ASSERT_EQ(run(more.t, ZOK_SS_MEAN | ZOK_SS_COR, ZOK_SS_METHOD_ONEPASS, 1), 0);
    Data twice = d;
    for (auto& v : twice.v) v.insert(v.end(), v.begin(), v.end());
    twice.n *= 2;
    const Ref r = reference(twice);
    for (int e = 0; e < 6; ++e) {
      const int a = order[e][0], b = order[e][1];
      EXPECT_NEAR(o.cor[e], static_cast<double>(r.cor(a, b)), 1e-12) << code << " " << e;
    }
  }
}

TEST(SsBasic, SelectionTouchesOnlySelectedEntries) {
  const Data d = hard_data(5, 2000, true, 41, 50.0);
  Data sub;
  sub.p = 3;
  sub.n = d.n;
  sub.w = d.w;
  sub.v = {d.v[0], d.v[2], d.v[3]};
  const Ref r = reference(sub);
  for (bool cols : {false, true}) {
    Task task(d, cols);
    int32_t sel[5] = {1, 0, 1, 2, 0};
    ASSERT_EQ(__qoriSSEditTask(task.t, ZOK_SS_ID_INDICES, sel), 0);
    Outputs o(5);
    for (auto* a : {&o.mean, &o.c2, &o.kurt}) a->assign(5, -1.0);
    o.cov.assign(25, -1.0);
    o.attach(task.t);
    ASSERT_EQ(run(task.t, kAllBasic, ZOK_SS_METHOD_ONEPASS, 2), 0);
    const int map[3] = {0, 2, 3};
    for (int a = 0; a < 3; ++a) {
      EXPECT_TRUE(near_rel(r.mean[a], o.mean[map[a]], 1e-12, "mean", a));
      EXPECT_TRUE(near_rel(r.c4(a) / (r.c2(a) * r.c2(a)) - 3, o.kurt[map[a]], 1e-10, "kurtosis", a));
      for (int b = 0; b < 3; ++b)
        EXPECT_TRUE(near_rel(r.cov(a, b), o.cov[map[a] * 5 + map[b]], 1e-10, "cov", a * 3 + b));
    }
    for (int j : {1, 4}) {
      EXPECT_EQ(o.mean[j], -1.0);
      EXPECT_EQ(o.c2[j], -1.0);
      for (int b = 0; b < 5; ++b) {
        EXPECT_EQ(o.cov[j * 5 + b], -1.0);
        EXPECT_EQ(o.cov[b * 5 + j], -1.0);
      }
    }
  }
}

TEST(SsBasic, RawMomentMethodOnCentredData) {
  const Data d = hard_data(4, 4000, true, 8, 0.0);
  const Ref r = reference(d);
  Task task(d, true);
  Outputs o(4);
  o.attach(task.t);
  ASSERT_EQ(run(task.t, kAllBasic, ZOK_SS_METHOD_RAW, 2), 0);
  // Raw-moment formulas cancel: looser than the one-pass bound even on data near zero.
  check(o, r, kAllBasic & ~ZOK_SS_VARIATION, 1e-9);
}

TEST(SsBasic, FromSumsMethods) {
  const Data d = hard_data(4, 3000, true, 31, 20.0);
  const Ref r = reference(d);
  Task task(d, false);
  Outputs o(4);
  o.attach(task.t);
  ASSERT_EQ(run(task.t,
                ZOK_SS_SUM | ZOK_SS_RAW_SUM2 | ZOK_SS_RAW_SUM3 | ZOK_SS_RAW_SUM4 | ZOK_SS_CENTRAL_SUM2 |
                    ZOK_SS_CENTRAL_SUM3 | ZOK_SS_CENTRAL_SUM4 | ZOK_SS_CP,
                ZOK_SS_METHOD_ONEPASS, 1),
            0);
  const uint64_t from_sums = ZOK_SS_MEAN | ZOK_SS_RAW2 | ZOK_SS_RAW3 | ZOK_SS_RAW4 | ZOK_SS_CENTRAL2 |
                             ZOK_SS_CENTRAL3 | ZOK_SS_CENTRAL4 | ZOK_SS_KURTOSIS | ZOK_SS_SKEWNESS |
                             ZOK_SS_VARIATION | ZOK_SS_COV | ZOK_SS_COR;
  for (uint64_t method : {ZOK_SS_METHOD_SUMS, ZOK_SS_METHOD_SUMS_2}) {
    for (auto* a : {&o.mean, &o.c2, &o.kurt, &o.var}) a->assign(4, 0.0);
    ASSERT_EQ(run(task.t, from_sums, method, 1), 0);
    check(o, r, from_sums, 1e-11);
  }
  // A sum is not something the from-sums methods can produce.
  EXPECT_EQ(run(task.t, ZOK_SS_MEAN | ZOK_SS_SUM, ZOK_SS_METHOD_SUMS, 1), ZOK_SS_ERR_METHOD);
  EXPECT_EQ(run(task.t, ZOK_SS_CP, ZOK_SS_METHOD_SUMS_2, 1), ZOK_SS_ERR_METHOD);
  // Without the weights pair, W and W2 are n, which only unweighted data justify.
  ASSERT_EQ(__qordSSEditTask(task.t, ZOK_SS_ID_ACCUM_WEIGHTS, nullptr), ZOK_SS_ERR_ACCUM_WEIGHTS);
  SSTask* bare = nullptr;
  int32_t p = 4, n = 3000, rows = ZOK_SS_STORAGE_ROWS;
  ASSERT_EQ(__qordSSNewTask(&bare, &p, &n, &rows, task.x.data(), d.w.data(), nullptr, 0), 0);
  o.attach(bare, false);
  EXPECT_EQ(run(bare, ZOK_SS_MEAN, ZOK_SS_METHOD_SUMS, 1), ZOK_SS_ERR_ACCUM_WEIGHTS);
  __qorSSDeleteTask(&bare);
  Data unweighted = d;
  unweighted.w.clear();
  const Ref ru = reference(unweighted);
  Task plain(unweighted, true);
  Outputs q(4);
  q.attach(plain.t, false);
  ASSERT_EQ(run(plain.t, ZOK_SS_SUM | ZOK_SS_CENTRAL_SUM2 | ZOK_SS_CP, ZOK_SS_METHOD_ONEPASS, 1), 0);
  ASSERT_EQ(run(plain.t, ZOK_SS_MEAN | ZOK_SS_CENTRAL2 | ZOK_SS_COV, ZOK_SS_METHOD_SUMS, 1), 0);
  check(q, ru, ZOK_SS_MEAN | ZOK_SS_CENTRAL2 | ZOK_SS_COV, 1e-11);
}

TEST(SsBasic, StatusCodesInOrder) {
  const Data d = hard_data(2, 100, false, 1, 1.0);
  Task task(d, false);
  Outputs o(2);
  // Kurtosis with everything but raw moment 4.
  ASSERT_EQ(__qordSSEditMoments(task.t, o.mean.data(), o.raw2.data(), o.raw3.data(), nullptr, o.c2.data(),
                                nullptr, o.c4.data()),
            0);
  ASSERT_EQ(__qordSSEditTask(task.t, ZOK_SS_ID_KURTOSIS, o.kurt.data()), 0);
  EXPECT_EQ(run(task.t, ZOK_SS_KURTOSIS, ZOK_SS_METHOD_ONEPASS, 1), -4009);
  // The method word is checked first.
  EXPECT_EQ(run(task.t, ZOK_SS_KURTOSIS, ZOK_SS_METHOD_ONEPASS | ZOK_SS_METHOD_RAW, 1), ZOK_SS_ERR_METHOD);
  EXPECT_EQ(run(task.t, ZOK_SS_MEAN, 0, 1), ZOK_SS_ERR_METHOD);
  EXPECT_EQ(run(task.t, ZOK_SS_MEAN, 0x8, 1), ZOK_SS_ERR_METHOD);
  EXPECT_EQ(run(task.t, ZOK_SS_CENTRAL3, ZOK_SS_METHOD_ONEPASS, 1), -4011);
  EXPECT_EQ(run(task.t, ZOK_SS_COV, ZOK_SS_METHOD_ONEPASS, 1), -4018);
  EXPECT_EQ(run(task.t, ZOK_SS_CENTRAL_SUM2, ZOK_SS_METHOD_RAW, 1), -4078);
  EXPECT_EQ(_qordSSBasic(nullptr, ZOK_SS_MEAN, ZOK_SS_METHOD_ONEPASS, nullptr), ZOK_SS_ERR_NULL_TASK);
  // A covariance without a storage code would be written without knowing its size.
  ASSERT_EQ(__qordSSEditTask(task.t, ZOK_SS_ID_COV, o.cov.data()), 0);
  EXPECT_EQ(run(task.t, ZOK_SS_COV, ZOK_SS_METHOD_ONEPASS, 1), ZOK_SS_ERR_STORAGE_PTR);
  // Observation checks come after the dependencies.
  int32_t bad = 5, zero = 0;
  ASSERT_EQ(__qoriSSEditTask(task.t, ZOK_SS_ID_N, &zero), 0);
  EXPECT_EQ(run(task.t, ZOK_SS_MEAN, ZOK_SS_METHOD_ONEPASS, 1), ZOK_SS_ERR_N);
  ASSERT_EQ(__qoriSSEditTask(task.t, ZOK_SS_ID_N, &task.n), 0);
  ASSERT_EQ(__qoriSSEditTask(task.t, ZOK_SS_ID_X_STORAGE, &bad), 0);
  o.mean.assign(2, 42.0);
  EXPECT_EQ(run(task.t, ZOK_SS_MEAN, ZOK_SS_METHOD_ONEPASS, 1), ZOK_SS_ERR_STORAGE);
  EXPECT_EQ(o.mean[0], 42.0);  // nothing written on failure
  ASSERT_EQ(__qoriSSEditTask(task.t, ZOK_SS_ID_X_STORAGE, &task.storage), 0);
  ASSERT_EQ(run(task.t, ZOK_SS_MEAN, ZOK_SS_METHOD_ONEPASS, 1), 0);
  int32_t p0 = 0;
  ASSERT_EQ(__qoriSSEditTask(task.t, ZOK_SS_ID_P, &p0), 0);
  EXPECT_EQ(run(task.t, ZOK_SS_MEAN, ZOK_SS_METHOD_ONEPASS, 1), ZOK_SS_ERR_P);
  SSTask* nox = nullptr;
  int32_t p = 2;
  ASSERT_EQ(__qordSSNewTask(&nox, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
  ASSERT_EQ(__qordSSEditTask(nox, ZOK_SS_ID_MEAN, o.mean.data()), 0);
  EXPECT_EQ(run(nox, ZOK_SS_MEAN, ZOK_SS_METHOD_ONEPASS, 1), ZOK_SS_ERR_N);
  ASSERT_EQ(__qoriSSEditTask(nox, ZOK_SS_ID_N, &task.n), 0);
  EXPECT_EQ(run(nox, ZOK_SS_MEAN, ZOK_SS_METHOD_ONEPASS, 1), ZOK_SS_ERR_X);
  ASSERT_EQ(__qordSSEditTask(nox, ZOK_SS_ID_X, task.x.data()), 0);
  EXPECT_EQ(run(nox, ZOK_SS_MEAN, ZOK_SS_METHOD_ONEPASS, 1), ZOK_SS_ERR_STORAGE_PTR);
  __qorSSDeleteTask(&nox);
}

TEST(SsBasic, SinglePrecisionForms) {
  const Data d = hard_data(5, 20000, true, 12, 100.0);
  for (bool cols : {false, true}) {
    std::vector<double> xd = d.layout(cols, 0, d.n);
    std::vector<float> x(xd.begin(), xd.end()), w(d.w.begin(), d.w.end());
    // The reference sees exactly the float data.
    Data df = d;
    for (auto& v : df.v)
      for (auto& e : v) e = static_cast<float>(e);
    for (auto& e : df.w) e = static_cast<float>(e);
    const Ref rf = reference(df);
    int32_t p = 5, n = static_cast<int32_t>(d.n),
            storage = cols ? ZOK_SS_STORAGE_COLUMNS : ZOK_SS_STORAGE_ROWS, full = 0;
    SSTask* t = nullptr;
    ASSERT_EQ(__qorsSSNewTask(&t, &p, &n, &storage, x.data(), w.data(), nullptr, 0), 0);
    std::vector<float> mean(5), raw2(5), raw3(5), c2(5), c3(5), skew(5), cov(25), cor(25), mn(5, 1e30f),
        mx(5, -1e30f);
    float pair[2] = {0, 0};
    ASSERT_EQ(
        __qorsSSEditMoments(t, mean.data(), raw2.data(), raw3.data(), nullptr, c2.data(), c3.data(), nullptr),
        0);
    ASSERT_EQ(__qorsSSEditCovCor(t, nullptr, cov.data(), &full, cor.data(), &full), 0);
    ASSERT_EQ(__qorsSSEditTask(t, ZOK_SS_ID_SKEWNESS, skew.data()), 0);
    ASSERT_EQ(__qorsSSEditTask(t, ZOK_SS_ID_ACCUM_WEIGHTS, pair), 0);
    ASSERT_EQ(__qorsSSEditTask(t, ZOK_SS_ID_MIN, mn.data()), 0);
    ASSERT_EQ(__qorsSSEditTask(t, ZOK_SS_ID_MAX, mx.data()), 0);
    ASSERT_EQ(_qorsSSBasic(t,
                           ZOK_SS_MEAN | ZOK_SS_RAW2 | ZOK_SS_CENTRAL2 | ZOK_SS_CENTRAL3 | ZOK_SS_SKEWNESS |
                               ZOK_SS_COV | ZOK_SS_COR,
                           ZOK_SS_METHOD_ONEPASS, zok::core::threads_up_to(2)),
              0);
    ASSERT_EQ(_qorsSSMinmax(t, ZOK_SS_MIN | ZOK_SS_MAX, ZOK_SS_METHOD_RAW), 0);
    for (int j = 0; j < 5; ++j) {
      EXPECT_TRUE(near_rel(rf.mean[j], mean[j], 2e-6, "mean", j));
      EXPECT_TRUE(near_rel(rf.r2[j], raw2[j], 2e-5, "raw2", j));
      EXPECT_TRUE(near_rel(rf.c2(j), c2[j], 1e-3, "c2", j));
      EXPECT_TRUE(near_rel(rf.c3(j) / std::pow(rf.c2(j), 1.5L), skew[j], 2e-2, "skewness", j));
      float lo = 1e30f, hi = -1e30f;
      for (int64_t i = 0; i < d.n; ++i) {
        lo = std::min(lo, static_cast<float>(d.v[j][i]));
        hi = std::max(hi, static_cast<float>(d.v[j][i]));
      }
      EXPECT_EQ(mn[j], lo);
      EXPECT_EQ(mx[j], hi);
      for (int b = 0; b < 5; ++b)
        if (b != j) {
          EXPECT_NEAR(cor[j * 5 + b], static_cast<double>(rf.cor(j, b)), 2e-3);
        }
    }
    EXPECT_TRUE(near_rel(rf.W, pair[0], 1e-5, "W", 0));
    __qorSSDeleteTask(&t);
  }
}

TEST(SsMinmax, RunningExtremesOverPortionsAndSelection) {
  const Data d = hard_data(4, 1000, false, 77, 0.0);
  std::vector<double> mn(4, std::numeric_limits<double>::infinity()),
      mx(4, -std::numeric_limits<double>::infinity());
  int32_t sel[4] = {1, 1, 0, 1};
  for (auto [i0, i1] : {std::pair<int64_t, int64_t>{0, 400}, {400, 1000}}) {
    Task task(d, i0 == 0, i0, i1);
    ASSERT_EQ(__qoriSSEditTask(task.t, ZOK_SS_ID_INDICES, sel), 0);
    ASSERT_EQ(__qordSSEditTask(task.t, ZOK_SS_ID_MIN, mn.data()), 0);
    ASSERT_EQ(__qordSSEditTask(task.t, ZOK_SS_ID_MAX, mx.data()), 0);
    ASSERT_EQ(_qordSSMinmax(task.t, ZOK_SS_MIN | ZOK_SS_MAX, ZOK_SS_METHOD_ONEPASS), 0);
  }
  for (int j = 0; j < 4; ++j) {
    if (j == 2) {
      EXPECT_TRUE(std::isinf(mn[j]) && mn[j] > 0);
      continue;
    }
    double lo = d.v[j][0], hi = d.v[j][0];
    for (double v : d.v[j]) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    EXPECT_EQ(mn[j], lo);
    EXPECT_EQ(mx[j], hi);
  }
  Task task(d, false);
  EXPECT_EQ(_qordSSMinmax(task.t, ZOK_SS_MIN, ZOK_SS_METHOD_ONEPASS), ZOK_SS_ERR_MIN);
  ASSERT_EQ(__qordSSEditTask(task.t, ZOK_SS_ID_MIN, mn.data()), 0);
  EXPECT_EQ(_qordSSMinmax(task.t, ZOK_SS_MIN | ZOK_SS_MAX, ZOK_SS_METHOD_ONEPASS), ZOK_SS_ERR_MAX);
  EXPECT_EQ(_qordSSMinmax(task.t, ZOK_SS_MIN, ZOK_SS_METHOD_KEPT), ZOK_SS_ERR_METHOD);
  int32_t bad = 3;
  ASSERT_EQ(__qoriSSEditTask(task.t, ZOK_SS_ID_X_STORAGE, &bad), 0);
  EXPECT_EQ(_qordSSMinmax(task.t, ZOK_SS_MIN, ZOK_SS_METHOD_ONEPASS), ZOK_SS_ERR_STORAGE);
}

}  // namespace
