// Basic statistics on hostile data: means of finite values near the overflow threshold, infinities in
// every position, and negative or NaN weights, against long-double sums.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "core/thread_limit.h"
#include "zok/summary_stats.h"

namespace {

using LD = long double;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr uint64_t kMoments = ZOK_SS_MEAN | ZOK_SS_RAW2 | ZOK_SS_RAW3 | ZOK_SS_RAW4 | ZOK_SS_CENTRAL2 |
                              ZOK_SS_CENTRAL3 | ZOK_SS_CENTRAL4;

// One call or several portions over v[j][i] (weights w, empty for none); registers the moments and,
// when asked, the covariance (the blocked path for four or more variables).
struct Outcome {
  std::vector<double> mean, raw2, raw3, raw4, c2, c3, c4, cov;
  std::vector<int32_t> status;
};
Outcome compute(const std::vector<std::vector<double>>& v, const std::vector<double>& w, bool cols,
                uint64_t method, bool cov, int threads, const std::vector<int64_t>& cuts) {
  const int64_t p = static_cast<int64_t>(v.size());
  Outcome o;
  for (auto* a : {&o.mean, &o.raw2, &o.raw3, &o.raw4, &o.c2, &o.c3, &o.c4}) a->assign(p, 0);
  o.cov.assign(p * p, 0);
  int32_t p32 = static_cast<int32_t>(p), n = 0, storage = 0, cov_storage = ZOK_SS_MATRIX_FULL;
  double pair[2] = {0, 0};
  SSTask* t = nullptr;
  EXPECT_EQ(__qordSSNewTask(&t, &p32, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(__qordSSEditMoments(t, o.mean.data(), o.raw2.data(), o.raw3.data(), o.raw4.data(), o.c2.data(),
                                o.c3.data(), o.c4.data()),
            0);
  EXPECT_EQ(__qordSSEditCovCor(t, nullptr, o.cov.data(), &cov_storage, nullptr, nullptr), 0);
  EXPECT_EQ(__qordSSEditTask(t, ZOK_SS_ID_ACCUM_WEIGHTS, pair), 0);
  std::vector<double> x;
  for (size_t part = 0; part + 1 < cuts.size(); ++part) {
    const int64_t i0 = cuts[part], i1 = cuts[part + 1], m = i1 - i0;
    x.assign(p * m, 0);
    for (int64_t j = 0; j < p; ++j)
      for (int64_t i = 0; i < m; ++i) (cols ? x[i * p + j] : x[j * m + i]) = v[j][i0 + i];
    n = static_cast<int32_t>(m);
    storage = cols ? ZOK_SS_STORAGE_COLUMNS : ZOK_SS_STORAGE_ROWS;
    EXPECT_EQ(__qordSSEditTask(t, ZOK_SS_ID_X, x.data()), 0);
    if (!w.empty()) {
      EXPECT_EQ(__qordSSEditTask(t, ZOK_SS_ID_WEIGHTS, w.data() + i0), 0);
    }
    EXPECT_EQ(__qoriSSEditTask(t, ZOK_SS_ID_N, &n), 0);
    EXPECT_EQ(__qoriSSEditTask(t, ZOK_SS_ID_X_STORAGE, &storage), 0);
    o.status.push_back(
        _qordSSBasic(t, kMoments | (cov ? ZOK_SS_COV : 0), method, zok::core::threads_up_to(threads)));
  }
  EXPECT_EQ(__qorSSDeleteTask(&t), 0);
  return o;
}

// The weighted mean of x^k as a long-double sum: IEEE arithmetic gives inf, -inf or NaN by the
// infinities present, and huge finite values stay in range.
LD power_mean(const std::vector<double>& x, const std::vector<double>& w, int k) {
  LD s = 0, W = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    const LD wi = w.empty() ? 1 : w[i];
    if (wi == 0) continue;
    s += wi * std::pow(static_cast<LD>(x[i]), k);
    W += wi;
  }
  return s / W;
}

// Non-finite expectations must match exactly in kind (inf, -inf or NaN); finite ones within tol.
bool same_class_near(LD want, double got, double tol) {
  const double wd = static_cast<double>(want);
  if (std::isnan(wd)) return std::isnan(got);
  if (std::isinf(wd)) return got == wd;
  return std::fabs(static_cast<LD>(got) - want) <= tol * std::fabs(want);
}

struct Layout {
  bool cols;
  uint64_t method;
  bool cov;
  int threads;
  std::vector<int64_t> cuts;
};
std::vector<Layout> layouts(int64_t n) {
  std::vector<Layout> out;
  for (bool cols : {false, true})
    for (uint64_t method : {ZOK_SS_METHOD_ONEPASS, ZOK_SS_METHOD_KEPT, ZOK_SS_METHOD_RAW})
      for (bool cov : {false, true})
        for (int threads : {1, 2, 8})
          for (bool portions : {false, true})
            out.push_back({cols, method, cov, threads,
                           portions ? std::vector<int64_t>{0, n / 3, n / 2, n} : std::vector<int64_t>{0, n}});
  return out;
}

#define LAYOUT_TRACE(l)                                                                                      \
  SCOPED_TRACE(::testing::Message() << "cols " << (l).cols << " method " << (l).method << " cov " << (l).cov \
                                    << " threads " << (l).threads << " portions " << (l).cuts.size() - 1)

// Finite data far apart: the first half near -1.5e308, the second near +1.5e308 (differences overflow
// inside a range, between ranges and between calls), and random signs of near-maximal size, with and
// without weights, one to six variables. The mean must equal the long-double mean.
TEST(SsBasicReliability, MeansOfFiniteDataNearOverflow) {
  {
    const std::vector<std::vector<double>> v = {{1e308, 1e308, -1e308}};
    const Outcome o = compute(v, {}, false, ZOK_SS_METHOD_ONEPASS, false, 1, {0, 3});
    EXPECT_EQ(o.status[0], 0);
    EXPECT_NEAR(o.mean[0], 1e308 / 3, 1e293);
  }
  std::mt19937_64 gen(5);
  std::uniform_real_distribution<double> u(0.5, 1.0), uw(0.25, 4.0);
  const int64_t n = 4096;
  for (int64_t p : {1, 3, 6})
    for (bool weighted : {false, true}) {
      std::vector<std::vector<double>> v(p, std::vector<double>(n));
      std::vector<double> w;
      for (int64_t j = 0; j < p; ++j)
        for (int64_t i = 0; i < n; ++i) {
          const double sign = j % 2 ? (gen() % 2 ? 1.0 : -1.0) : (i < n / 2 ? -1.0 : 1.0);
          v[j][i] = sign * (j % 2 ? u(gen) : 0.75 + 0.01 * u(gen)) * 1.79e308;
        }
      if (weighted)
        for (int64_t i = 0; i < n; ++i) w.push_back(uw(gen));
      std::vector<LD> want(p);
      for (int64_t j = 0; j < p; ++j) want[j] = power_mean(v[j], w, 1);
      for (const Layout& l : layouts(n)) {
        LAYOUT_TRACE(l);
        const Outcome o = compute(v, w, l.cols, l.method, l.cov, l.threads, l.cuts);
        for (int32_t s : o.status) EXPECT_EQ(s, 0);
        for (int64_t j = 0; j < p; ++j) {
          // Means of opposite halves cancel to a small fraction of the data: compare on the data's scale.
          EXPECT_LE(std::fabs(static_cast<LD>(o.mean[j]) - want[j]), 1e-12L * 1.79e308L)
              << "p " << p << " j " << j;
          EXPECT_TRUE(std::isfinite(o.mean[j]));
        }
      }
    }
}

// An infinity or NaN in any position (first, inside, last, in a later portion) gives the mean and raw
// moments a sum gives, whatever the order, and NaN central moments; the variables without them keep
// their finite results. Observations of zero weight take no part.
TEST(SsBasicReliability, InfinitiesInAnyOrder) {
  const int64_t n = 4096;
  std::mt19937_64 gen(11);
  std::normal_distribution<double> normal;
  const struct {
    const char* name;
    std::vector<std::pair<int64_t, double>> specials;
  } cases[] = {
      {"+inf first", {{0, kInf}}},
      {"+inf last", {{n - 1, kInf}}},
      {"-inf middle", {{n / 2, -kInf}}},
      {"+inf twice", {{3, kInf}, {n - 2, kInf}}},
      {"+inf and -inf", {{1, kInf}, {n - 1, -kInf}}},
      {"NaN", {{n / 3, kNaN}}},
  };
  for (const auto& c : cases)
    for (int64_t p : {2, 5})
      for (bool weighted : {false, true}) {
        std::vector<std::vector<double>> v(p, std::vector<double>(n));
        std::vector<double> w;
        for (auto& col : v)
          for (auto& x : col) x = 2.0 + normal(gen);
        for (auto [i, x] : c.specials) v[1][i] = x;
        if (weighted) {
          w.assign(n, 1.5);
          w[n / 4] = 0;
          v[1][n / 4] = -kInf;  // no weight: takes no part
        }
        std::vector<LD> mean(p), raw2(p);
        for (int64_t j = 0; j < p; ++j) {
          mean[j] = power_mean(v[j], w, 1);
          raw2[j] = power_mean(v[j], w, 2);
        }
        for (const Layout& l : layouts(n)) {
          LAYOUT_TRACE(l);
          SCOPED_TRACE(::testing::Message() << c.name << " p " << p << " weighted " << weighted);
          const Outcome o = compute(v, w, l.cols, l.method, l.cov, l.threads, l.cuts);
          for (int32_t s : o.status) EXPECT_EQ(s, 0);
          EXPECT_TRUE(same_class_near(mean[1], o.mean[1], 0)) << "mean " << o.mean[1];
          EXPECT_TRUE(same_class_near(raw2[1], o.raw2[1], 0)) << "raw2 " << o.raw2[1];
          if (l.method != ZOK_SS_METHOD_RAW) {
            EXPECT_TRUE(std::isnan(o.c2[1])) << "c2 " << o.c2[1];
          }
          if (l.cov) {
            EXPECT_TRUE(std::isnan(o.cov[1 * p + 1]));
          }
          for (int64_t j = 0; j < p; ++j)
            if (j != 1) {
              EXPECT_NEAR(o.mean[j], static_cast<double>(mean[j]), 1e-13);
              EXPECT_NEAR(o.raw2[j], static_cast<double>(raw2[j]), 1e-12);
              EXPECT_TRUE(std::isfinite(o.c2[j]));
            }
        }
      }
}

// A negative or NaN weight anywhere is refused with the bad-weight status before any output, the
// accumulated pair or a later call's state changes; zero weights stay allowed.
TEST(SsBasicReliability, NegativeOrNaNWeightRefused) {
  const std::vector<std::vector<double>> v = {{1, 2, 3, 4}, {5, 6, 7, 8}};
  for (const std::vector<double>& w : {std::vector<double>{1, -1, 0, 0}, std::vector<double>{1, 1, 1, kNaN},
                                       std::vector<double>{-0.0, 1, 1, -1e-300}})
    for (const Layout& l : layouts(4)) {
      LAYOUT_TRACE(l);
      const Outcome o = compute(v, w, l.cols, l.method, l.cov, l.threads, l.cuts);
      // Every portion holding a bad weight is refused; -0 is a zero weight.
      for (size_t part = 0; part + 1 < l.cuts.size(); ++part) {
        bool bad = false;
        for (int64_t i = l.cuts[part]; i < l.cuts[part + 1]; ++i) bad = bad || !(w[i] >= 0);
        EXPECT_EQ(o.status[part], bad ? ZOK_SS_ERR_BAD_WEIGHT : 0);
      }
      if (l.cuts.size() == 2) {
        for (const auto* a : {&o.mean, &o.raw2, &o.c2, &o.c4, &o.cov})
          for (double x : *a) EXPECT_EQ(x, 0.0);
      }
    }
  // The single-precision form checks too.
  const float x[4] = {1, 2, 3, 4}, wf[4] = {1, -1, 0, 0};
  float mean = 7;
  int32_t p = 1, n = 4, storage = ZOK_SS_STORAGE_ROWS;
  SSTask* t = nullptr;
  ASSERT_EQ(__qorsSSNewTask(&t, &p, &n, &storage, x, wf, nullptr, 0), 0);
  ASSERT_EQ(__qorsSSEditTask(t, ZOK_SS_ID_MEAN, &mean), 0);
  EXPECT_EQ(_qorsSSBasic(t, ZOK_SS_MEAN, ZOK_SS_METHOD_ONEPASS, nullptr), ZOK_SS_ERR_BAD_WEIGHT);
  EXPECT_EQ(mean, 7.0f);
  EXPECT_EQ(__qorSSDeleteTask(&t), 0);
}

}  // namespace
