// Robust estimation: chi-square helpers against long-double series and continued fractions, the
// biweight constants against bisection over a quadrature, robust covariance and outlier detection on
// Gaussian data with planted clusters; imputations against complete-data estimates and the
// closed-form conditionals of the draws; statuses with sentinel outputs and allocation failures.
#include "stats/robust.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "core/thread_limit.h"
#include "tests/support/alloc_hook.h"
#include "zok/summary_stats.h"

namespace {

using LD = long double;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = INFINITY, kSentinel = -777.0;

// Regularised lower (series) or upper (continued fraction) incomplete gamma in long double: P and Q.
LD ref_gamma(LD a, LD y, bool upper) {
  const LD pre = std::exp(a * std::log(y) - y - std::lgamma(a));
  if (y < a + 1) {
    LD term = 1, sum = 1;
    for (int i = 1; i < 100000 && term > sum * 1e-21L; ++i) sum += term *= y / (a + i);
    return upper ? 1 - pre * sum / a : pre * sum / a;
  }
  LD b = y + 1 - a, c = 1e4000L, d = 1 / b, h = d;
  for (int i = 1; i < 100000; ++i) {
    const LD an = -i * (i - a);
    d = 1 / (an * d + (b += 2));
    c = b + an / c;
    h *= d * c;
    if (std::fabs(d * c - 1) < 1e-21L) break;
  }
  return upper ? pre * h : 1 - pre * h;
}
LD ref_pdf(LD k, LD x) {
  return std::exp((k / 2 - 1) * std::log(x) - x / 2 - k / 2 * std::log(2.0L) - std::lgamma(k / 2));
}
double rel(LD got, LD want) {
  return static_cast<double>(std::fabs(got - want) / std::fabs(want));
}

TEST(Chi2, CdfAndDensityAgainstLongDouble) {
  for (double k : {0.5, 1.0, 2.0, 3.0, 7.5, 10.0, 50.0, 100.0, 400.0, 1000.0})
    for (double f : {0.01, 0.2, 0.7, 0.95, 1.0, 1.05, 1.6, 3.0, 8.0}) {
      const double x = f * k + (k > 100 ? 0.0 : 0.3 * f), bound = k <= 100 ? 1e-12 : 5e-12;
      if (ref_pdf(k, x) < 1e-300L) continue;  // beyond double range
      EXPECT_LE(rel(__qordChi2CDF(k, x), ref_gamma(k / 2.0L, x / 2.0L, false)), bound) << k << " " << x;
      EXPECT_LE(rel(__qordChi2PDF(k, x), ref_pdf(k, x)), bound) << k << " " << x;
    }
}

TEST(Chi2, QuantileInvertsTheLongDoubleDistribution) {
  for (double k : {0.5, 1.0, 3.0, 10.0, 64.5, 300.0, 1000.0})
    for (double q : {0.01, 0.05, 0.3, 0.5, 0.9, 0.99, 1 - 1e-6, 1 - 1e-9}) {
      const double x = __qordChi2ICDF(k, q);
      // One long-double Newton step from x lands on the root to far below the bound.
      const LD residual = q < 0.5 ? ref_gamma(k / 2.0L, x / 2.0L, false) - q
                                  : (1 - static_cast<LD>(q)) - ref_gamma(k / 2.0L, x / 2.0L, true);
      EXPECT_LE(rel(x, x - residual / ref_pdf(k, x)), 1e-12) << k << " " << q;
    }
}

TEST(Chi2, EdgeValuesAndPublishedQuantiles) {
  std::pair<double, double> cases[] = {
      {__qordChi2CDF(kNaN, 1), kNaN}, {__qordChi2CDF(3, kNaN), kNaN}, {__qordChi2CDF(3, kInf), 1},
      {__qordChi2CDF(3, -1), 0},      {__qordChi2PDF(3, kInf), 0},    {__qordChi2PDF(3, 0), 0},
      {__qordChi2ICDF(3, 0), 0},      {__qordChi2ICDF(3, 1), kInf},   {__qordChi2ICDF(3, -0.1), kNaN},
      {__qordChi2ICDF(3, 1.1), kNaN}, {__qordChi2ICDF(0, 0.5), kNaN}, {__qordChi2ICDF(kNaN, 0.5), kNaN},
      {__qordChi2ICDF(3, kNaN), kNaN}};
  for (auto [got, want] : cases) EXPECT_TRUE(got == want || (std::isnan(got) && std::isnan(want)));
  // Printed tables: 18.307038 (10 degrees, 0.95), 124.342113 (100, 0.95), 0.00393214 (1, 0.05).
  for (auto [k, q, x] :
       {std::tuple{10.0, 0.95, 18.307038}, {100.0, 0.95, 124.342113}, {1.0, 0.05, 3.93214e-3}})
    EXPECT_NEAR(__qordChi2ICDF(k, q), x, 5e-7 * x / 18);
}

// E[rho(d)] - beta rho(inf) for the translated biweight by Simpson's rule over the density of d.
LD biweight_equation(int p, LD beta, LD m, LD c) {
  auto rho = [&](LD d) {
    if (d <= m) return d * d / 2;
    const LD u = (std::min(d, m + c) - m) / c;  // integral of (m + c s)(1 - s^2)^2 c ds up to u
    return m * m / 2 + c * m * (u - 2 * u * u * u / 3 + u * u * u * u * u / 5) +
           c * c * (u * u / 2 - u * u * u * u / 2 + u * u * u * u * u * u / 6);
  };
  const int steps = 4000;
  const LD top = m + c, hstep = top / steps;
  LD sum = 0;
  for (int i = 0; i <= steps; ++i) {
    const LD d = i * hstep, wgt = (i == 0 || i == steps) ? 1 : (i % 2 ? 4 : 2);
    if (d > 0) sum += wgt * rho(d) * 2 * d * ref_pdf(p, d * d);
  }
  const LD rho_inf = rho(top);
  return sum * hstep / 3 + rho_inf * ref_gamma(p / 2.0L, top * top / 2, true) - beta * rho_inf;
}

TEST(Biweight, ConstantsAgainstBisection) {
  for (int p = 1; p <= 50; ++p) {
    const double beta = 0.45, alpha = 0.001;
    const zok::ss::Biweight got = zok::ss::biweight_constants(p, beta, alpha);
    LD lo = 1e-3, hi = 4.0 * p + 10;  // E[min(d^2, c^2)] - beta c^2 falls through 0 once
    auto g = [&](LD x) {
      return p * ref_gamma(p / 2.0L + 1, x / 2, false) + x * ref_gamma(p / 2.0L, x / 2, true) - beta * x;
    };
    for (int i = 0; i < 200; ++i) ((g((lo + hi) * (lo + hi) / 4) > 0) ? lo : hi) = (lo + hi) / 2;
    EXPECT_NEAR(got.c0, lo, 1e-3 * lo) << p;
    const double root_q = std::sqrt(__qordChi2ICDF(p, 1 - alpha));
    EXPECT_NEAR(got.m + got.c, root_q, 1e-9 * root_q) << p;
    // Past the tail beyond c0, or without a sign change of the equation, the plain cut at root_q.
    lo = 1e-9, hi = root_q - 1e-9;
    const bool cut =
        ref_gamma(p / 2.0L, got.c0 * got.c0 / 2, true) <= alpha ||
        (biweight_equation(p, beta, lo, hi - lo) > 0) == (biweight_equation(p, beta, hi, lo) > 0);
    for (int i = 0; i < 40 && !cut; ++i) {
      const LD m = (lo + hi) / 2;
      (biweight_equation(p, beta, m, root_q - m) > 0 ? lo : hi) = m;
    }
    EXPECT_NEAR(got.m, cut ? root_q : lo, 2e-3 * root_q) << p;
  }
}

// ---- data: n draws of N(mu, L L^T) in rows storage, a fraction replaced by a tight cluster at
// whitened distance `far` along (1, ..., 1)/sqrt(p) ----
struct Data {
  int64_t p, n;
  std::vector<double> x, mu, chol, sigma;  // chol: lower triangle of sigma, row-major p x p
  std::vector<int> planted;
};
Data make_data(int64_t p, int64_t n, double fraction, uint64_t seed) {
  const std::vector<double> square(p * p, 0.0);
  Data d{p, n, std::vector<double>(p * n), std::vector<double>(p), square, square, {}};
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> nd;
  for (int64_t i = 0; i < p * p; ++i)
    d.chol[i] = i % p > i / p ? 0 : i % p == i / p ? 1.0 + 0.25 * (i / p) : 0.4 / (1 + i / p - i % p);
  for (int64_t i = 0; i < p * p * p; ++i)
    d.sigma[i / p] += d.chol[i / (p * p) * p + i % p] * d.chol[i / p % p * p + i % p];
  for (int64_t i = 0; i < n; ++i) {
    const bool out = i % 100 < fraction * 100;
    if (out) d.planted.push_back(static_cast<int>(i));
    std::vector<double> z(p);
    for (double& v : z) v = (out ? 9.0 / std::sqrt(double(p)) : 0.0) + nd(gen);
    for (int64_t a = 0; a < p; ++a) {
      d.x[a * n + i] = d.mu[a] = 3.0 * a - 1.0;
      for (int64_t b = 0; b <= a; ++b) d.x[a * n + i] += d.chol[a * p + b] * z[b];
    }
  }
  return d;
}
double cov_error(const Data& d, const std::vector<double>& c) {  // relative Frobenius, full storage
  double num = 0, den = 0;
  for (int64_t i = 0; i < d.p * d.p; ++i)
    num += (c[i] - d.sigma[i]) * (c[i] - d.sigma[i]), den += d.sigma[i] * d.sigma[i];
  return std::sqrt(num / den);
}
double mean_error(const Data& d, const std::vector<double>& m) {  // whitened distance to mu
  std::vector<double> z(d.p);
  double s2 = 0;
  for (int64_t a = 0; a < d.p; ++a) {
    z[a] = m[a] - d.mu[a];
    for (int64_t b = 0; b < a; ++b) z[a] -= d.chol[a * d.p + b] * z[b];
    s2 += (z[a] /= d.chol[a * d.p + a]) * z[a];
  }
  return std::sqrt(s2);
}

struct Task {
  SSTask* t = nullptr;
  int64_t n, storage = ZOK_SS_STORAGE_ROWS, out_storage = 0, count = 4;
  std::vector<double> params, mean, cov, weights;
  // Flags: observations, robust mean, robust covariance, outlier weights registered.
  explicit Task(const Data& d, int64_t n_used = 0, unsigned flags = 15)
      : n(n_used > 0 ? n_used : d.n),
        mean(d.p, kSentinel),
        cov(d.p * d.p, kSentinel),
        weights(d.n, kSentinel) {
    __qordSSNewTask(&t, &d.p, &n, &storage, flags & 1 ? d.x.data() : nullptr, nullptr, nullptr, 1);
    __qordSSEditRCov(t, &out_storage, nullptr, nullptr, flags & 2 ? mean.data() : nullptr,
                     flags & 4 ? cov.data() : nullptr);
    __qordSSEditOutDetect(t, nullptr, nullptr, flags & 8 ? weights.data() : nullptr);
  }
  ~Task() { __qorSSDeleteTask(&t); }
  void set_params(std::vector<double> v, bool robust) {
    params = v, count = static_cast<int64_t>(v.size());
    __qordSSEditTask(t, robust ? 38 : 42, params.data()), __qoriSSEditTask(t, robust ? 37 : 41, &count);
  }
  bool untouched() const {
    auto same = [](double v) { return v == kSentinel; };
    return std::all_of(mean.begin(), mean.end(), same) && std::all_of(weights.begin(), weights.end(), same) &&
           same(cov[0]);
  }
};

TEST(RobustCovariance, PlantedClustersLeaveTheEstimateNearTheTruth) {
  struct Case {
    int64_t p;
    double fraction, cov_bound, mean_bound;
  } cases[] = {{4, 0.0, 0.15, 0.2}, {4, 0.1, 0.35, 0.2}, {4, 0.3, 1.0, 0.3}, {10, 0.1, 0.3, 0.25}};
  for (const Case& c : cases) {
    const Data d = make_data(c.p, 2000, c.fraction, 7);
    Task t(d);
    ASSERT_EQ(_qordSSRobustCovariance(t.t, 0, ZOK_SS_METHOD_ROBUST_COV, nullptr), 0);
    EXPECT_LE(cov_error(d, t.cov), c.cov_bound) << c.p << " " << c.fraction;
    EXPECT_LE(mean_error(d, t.mean), c.mean_bound) << c.p << " " << c.fraction;
    if (c.fraction == 0.3) {  // the classical estimate is thrown far off by the same data
      std::vector<double> m(c.p), cov(c.p * c.p);
      __qordSSEditCovCor(t.t, m.data(), cov.data(), &t.out_storage, nullptr, nullptr);
      ASSERT_EQ(_qordSSBasic(t.t, ZOK_SS_MEAN | ZOK_SS_COV, ZOK_SS_METHOD_RAW, nullptr), 0);
      EXPECT_GT(cov_error(d, cov), 10.0);
    }
  }
}

TEST(RobustCovariance, StoragesThreadsAndPrecisionsAgree) {
  const Data d = make_data(5, 3000, 0.1, 11);
  Task full(d);
  ASSERT_EQ(_qordSSRobustCovariance(full.t, 0, ZOK_SS_METHOD_ROBUST_COV, nullptr), 0);
  // The same data in columns storage, packed lower output, two threads; then single precision.
  Data cols = d;
  for (int64_t i = 0; i < d.n; ++i)
    for (int64_t v = 0; v < d.p; ++v) cols.x[i * d.p + v] = d.x[v * d.n + i];
  Task other(cols);
  other.storage = ZOK_SS_STORAGE_COLUMNS;
  other.out_storage = 1;
  ASSERT_EQ(_qordSSRobustCovariance(other.t, 0, ZOK_SS_METHOD_ROBUST_COV, zok::core::threads_up_to(2)), 0);
  std::vector<float> xs(d.x.begin(), d.x.end()), ms(d.p), cs(d.p * d.p);
  SSTask* ts = nullptr;
  const int64_t rows = ZOK_SS_STORAGE_ROWS, zero = 0;
  __qorsSSNewTask(&ts, &d.p, &d.n, &rows, xs.data(), nullptr, nullptr, 1);
  __qorsSSEditRCov(ts, &zero, nullptr, nullptr, ms.data(), cs.data());
  ASSERT_EQ(_qorsSSRobustCovariance(ts, 0, ZOK_SS_METHOD_ROBUST_COV, nullptr), 0);
  __qorSSDeleteTask(&ts);
  for (int64_t a = 0; a < d.p; ++a) {
    const double scale = std::sqrt(full.cov[a * d.p + a]);
    EXPECT_NEAR(other.mean[a], full.mean[a], 2e-3 * scale);
    EXPECT_NEAR(ms[a], full.mean[a], 2e-3 * scale);
    for (int64_t b = 0; b <= a; ++b) {
      EXPECT_NEAR(other.cov[a * (a + 1) / 2 + b], full.cov[a * d.p + b], 2e-3 * scale * scale);
      EXPECT_NEAR(cs[a * d.p + b], full.cov[a * d.p + b], 2e-3 * scale * scale);
    }
  }
}

TEST(RobustCovariance, ParameterDefaultsAndDegenerateData) {
  const Data d = make_data(3, 400, 0.05, 3);
  Task def(d);
  ASSERT_EQ(_qordSSRobustCovariance(def.t, 0, ZOK_SS_METHOD_ROBUST_COV, nullptr), 0);
  const double beta = (400.0 - 3) / 800;
  for (const auto& v : std::vector<std::vector<double>>{
           {beta, 0.001, 0.001, 100}, {0.1, 0.2, 0.3}, {-1, 1.0, -2, -5}, {0.9, kNaN, 0, 100.7}}) {
    Task t(d);
    t.set_params(v, true);
    ASSERT_EQ(_qordSSRobustCovariance(t.t, 0, ZOK_SS_METHOD_ROBUST_COV, nullptr), 0);
    EXPECT_EQ(t.cov, def.cov);
    EXPECT_EQ(t.mean, def.mean);
  }
  // A constant variable keeps variance 0; a duplicated one copies its twin; identical rows have none.
  Data deg = d;
  for (int64_t i = 0; i < d.n; ++i) deg.x[2 * d.n + i] = 5.0, deg.x[1 * d.n + i] = deg.x[i];
  Task t(deg);
  ASSERT_EQ(_qordSSRobustCovariance(t.t, 0, ZOK_SS_METHOD_ROBUST_COV, nullptr), 0);
  EXPECT_EQ(t.cov[8], 0.0);
  EXPECT_NEAR(t.cov[1], t.cov[0], 1e-12 * t.cov[0]);
  EXPECT_EQ(t.mean[2], 5.0);
  std::fill(deg.x.begin(), deg.x.end(), 1.0);
  Task same(deg);
  EXPECT_EQ(_qordSSRobustCovariance(same.t, 0, ZOK_SS_METHOD_ROBUST_COV, nullptr), ZOK_SS_ERR_COV_RANK);
  EXPECT_TRUE(same.untouched());
}

TEST(Outliers, PlantedObservationsFoundAndFewCleanOnesFlagged) {
  const Data d = make_data(4, 1000, 0.05, 5);
  for (double method : {1.0, 2.0})
    for (double alpha : {0.001, 0.05}) {
      Task t(d);
      t.set_params({method, alpha, 0.005}, false);
      ASSERT_EQ(_qordSSOutliersDetection(t.t, 0, ZOK_SS_METHOD_OUTLIERS, nullptr), 0);
      for (int i : d.planted) EXPECT_EQ(t.weights[i], 0.0) << i;
      const auto flagged = std::count(t.weights.begin(), t.weights.end(), 0.0);
      EXPECT_LE(flagged - int(d.planted.size()), (alpha < 0.01 ? 0.01 : 0.12) * 950) << method;
    }
  // Defaults: method 7 is method 2, alpha outside [0, 1] is 0.05, a wrong count is all defaults.
  Task def(d), odd(d), wrong(d);
  def.set_params({2, 0.05, 0.005}, false);
  odd.set_params({7, 1.5, -1}, false);
  wrong.set_params({1, 0.5}, false);
  for (Task* t : {&def, &odd, &wrong}) ASSERT_EQ(_qordSSOutliersDetection(t->t, 0, 0x20, nullptr), 0);
  EXPECT_TRUE(odd.weights == def.weights && wrong.weights == def.weights);
  // alpha = 1 leaves nothing inside the subset.
  Task all(d);
  all.set_params({2, 1.0, 0.005}, false);
  EXPECT_EQ(_qordSSOutliersDetection(all.t, 0, 0x20, nullptr), ZOK_SS_ERR_ROBUST_FAILED);
  EXPECT_EQ(std::count(all.weights.begin(), all.weights.end(), 0.0), d.n);
}

TEST(RobustStatuses, ChecksInOrderWithOutputsUntouched) {
  const Data d = make_data(3, 15, 0.0, 9);
  struct Case {
    int64_t n, storage;
    unsigned flags;
    uint64_t method;
    int32_t robust, outliers;
  } cases[] = {
      {6, ZOK_SS_STORAGE_ROWS, 15, 0x28, ZOK_SS_ERR_N, ZOK_SS_ERR_N},
      {7, ZOK_SS_STORAGE_ROWS, 15, 0x28, 0, ZOK_SS_ERR_N},
      {14, ZOK_SS_STORAGE_ROWS, 14, 0x28, ZOK_SS_ERR_X, ZOK_SS_ERR_N},
      {15, ZOK_SS_STORAGE_ROWS, 14, 0x28, ZOK_SS_ERR_X, ZOK_SS_ERR_X},
      {15, 7, 15, 0x28, ZOK_SS_ERR_STORAGE, ZOK_SS_ERR_STORAGE},
      {15, ZOK_SS_STORAGE_ROWS, 5, 0x28, ZOK_SS_ERR_ROBUST_MEAN, ZOK_SS_ERR_OUTLIER_WEIGHTS},
      {15, ZOK_SS_STORAGE_ROWS, 11, 0x28, ZOK_SS_ERR_ROBUST_COV, ZOK_SS_ERR_ROBUST_FAILED},
      {15, ZOK_SS_STORAGE_ROWS, 15, 0x10, ZOK_SS_ERR_METHOD, ZOK_SS_ERR_METHOD},
  };
  for (const Case& c : cases) {
    Task t(d, c.n, c.flags);
    t.storage = c.storage;
    EXPECT_EQ(_qordSSRobustCovariance(t.t, 0, c.method, nullptr), c.robust) << c.n;
    EXPECT_TRUE(c.robust == 0 || t.untouched());
    std::fill(t.mean.begin(), t.mean.end(), kSentinel), std::fill(t.cov.begin(), t.cov.end(), kSentinel);
    EXPECT_EQ(_qordSSOutliersDetection(t.t, 0, c.method, nullptr), c.outliers) << c.n;
    EXPECT_TRUE(c.outliers == 0 || c.outliers == ZOK_SS_ERR_ROBUST_FAILED || t.untouched());
  }
  EXPECT_EQ(_qordSSRobustCovariance(nullptr, 0, 8, nullptr), ZOK_SS_ERR_NULL_TASK);
}

const double kMissing = std::bit_cast<double>(uint64_t{0xFFF8000000000000});

// p = 3 in rows storage: x2 = 1 + 0.8 x0 - 0.5 x1 + noise; every 10th x2 missing.
struct Imputation {
  int64_t p = 3, n, storage = ZOK_SS_STORAGE_ROWS, five = 5, simul_count, estimate_count;
  std::vector<double> complete, x, params, simul, records;
  SSTask* t = nullptr;
  Imputation(int64_t n_, int64_t m, int64_t iterations, int64_t every = 10) : n(n_), complete(3 * n_) {
    std::mt19937_64 gen(17);
    std::normal_distribution<double> nd;
    for (int64_t i = 0; i < n; ++i) {
      const double a = nd(gen), b = 0.6 * a + nd(gen);
      complete[i] = 2 + a, complete[n + i] = -1 + b,
      complete[2 * n + i] = 1 + 0.8 * a - 0.5 * b + 0.7 * nd(gen);
    }
    x = complete;
    int64_t missing = 0;
    for (int64_t i = every - 1; i < n; i += every, ++missing) x[2 * n + i] = kMissing;
    params = {0, double(iterations), 0, double(m), double(missing)};
    simul.assign((simul_count = m * missing) + 1, kSentinel);
    records.assign(estimate_count = m * iterations * 9, kSentinel);
    __qordSSNewTask(&t, &p, &n, &storage, x.data(), nullptr, nullptr, 1);
    __qordSSEditMissingVals(t, &five, params.data(), nullptr, nullptr, nullptr, nullptr, &simul_count,
                            simul.data(), &estimate_count, records.data());
  }
  ~Imputation() { __qorSSDeleteTask(&t); }
  int32_t run() { return _qordSSMissingValues(t, 0, ZOK_SS_METHOD_MISSING); }
  bool untouched() const { return simul[0] == kSentinel && records[0] == kSentinel; }
};

TEST(MissingValues, DrawsAgreeWithCompleteDataAndTheirConditionals) {
  const int64_t m = 5, iterations = 30;
  Imputation d(2000, m, iterations);
  ASSERT_EQ(d.run(), 0);
  const int64_t n = d.n;
  std::vector<double> mean(3, 0), cov(9, 0);  // complete-data estimates, straightforward two-pass
  for (int64_t k = 0; k < 3 * n; ++k) mean[k / n] += d.complete[k] / n;
  for (int64_t k = 0; k < 9 * n; ++k)
    cov[k / n] += (d.complete[k / n / 3 * n + k % n] - mean[k / n / 3]) *
                  (d.complete[k / n % 3 * n + k % n] - mean[k / n % 3]) / (n - 1);
  std::vector<double> avg(9, 0);  // averaged records: mean, then the lower triangle
  for (size_t r = 0; r < d.records.size(); ++r) avg[r % 9] += d.records[r] / (m * iterations);
  double num = 0, den = 0;
  for (int a = 0; a < 3; ++a) {
    EXPECT_NEAR(avg[a], mean[a], 5 * std::sqrt(cov[a * 4] / n)) << a;
    for (int b = 0; b <= a; ++b) {
      const double got = avg[3 + a * (a + 1) / 2 + b];
      num += (got - cov[a * 3 + b]) * (got - cov[a * 3 + b]), den += cov[a * 3 + b] * cov[a * 3 + b];
    }
  }
  EXPECT_LE(std::sqrt(num / den), 0.1);
  // The last draw of imputation j came from record (j, iterations - 2): x2 given x0, x1 under it.
  double s = 0, s2 = 0;
  std::set<double> distinct;  // values rounded to 1e-6
  const int64_t missing = d.simul_count / m;
  for (int64_t j = 0; j < m; ++j) {
    const double* r = d.records.data() + (j * iterations + iterations - 2) * 9;
    const double c00 = r[3], c10 = r[4], c11 = r[5], c20 = r[6], c21 = r[7], det = c00 * c11 - c10 * c10;
    const double b0 = (c20 * c11 - c21 * c10) / det, b1 = (c21 * c00 - c20 * c10) / det;
    const double sd = std::sqrt(r[8] - b0 * c20 - b1 * c21);
    for (int64_t k = 0; k < missing; ++k) {
      const int64_t i = 10 * k + 9;
      const double value = d.simul[j * missing + k];
      const double z = (value - r[2] - b0 * (d.x[i] - r[0]) - b1 * (d.x[n + i] - r[1])) / sd;
      s += z, s2 += z * z;
      distinct.insert(std::round(value * 1e6));
    }
  }
  const double count = double(m * missing), zmean = s / count, zvar = s2 / count - zmean * zmean;
  EXPECT_NEAR(zmean, 0.0, 0.25);
  EXPECT_TRUE(zvar >= 0.7 && zvar <= 1.4) << zvar;
  EXPECT_GE(double(distinct.size()), 0.95 * count);
  // Reruns repeat exactly.
  const std::vector<double> simul = d.simul, records = d.records;
  EXPECT_TRUE(d.run() == 0 && d.simul == simul && d.records == records);
}

TEST(MissingValues, MarkersAndStatusesWithOutputsUntouched) {
  // Only the negative default quiet NaN counts as missing: other NaNs are data, which EM cannot use.
  const double positive = std::bit_cast<double>(uint64_t{0x7FF8000000000000}),
               signalling = std::bit_cast<double>(uint64_t{0xFFF0000000000001});
  struct Case {
    int field;  // 0..4 a parameter, 5 the simulated count, 6 the estimate count, 7 an observation
    double value;
    uint64_t method;
    int32_t status;
  } cases[] = {{4, 201, 0x10, ZOK_SS_ERR_MISSING_COUNT},
               {3, 0, 0x10, ZOK_SS_ERR_IMPUTATIONS},
               {5, 7, 0x10, ZOK_SS_ERR_SIMUL_COUNT_VALUE},
               {6, 7, 0x10, ZOK_SS_ERR_ESTIMATE_COUNT},
               {0, 0, 0x8, ZOK_SS_ERR_METHOD},
               {7, kMissing, 0x10, ZOK_SS_ERR_MISSING_COUNT},
               {7, positive, 0x10, ZOK_SS_ERR_INV_FACTOR},
               {7, signalling, 0x10, ZOK_SS_ERR_INV_FACTOR}};
  for (const Case& c : cases) {
    Imputation d(200, 2, 3);
    if (c.field < 5 || c.field == 7) (c.field < 5 ? d.params[c.field] : d.x[5]) = c.value;
    if (c.field == 5 || c.field == 6) (c.field == 5 ? d.simul_count : d.estimate_count) = int64_t(c.value);
    EXPECT_EQ(_qordSSMissingValues(d.t, 0, c.method), c.status) << c.field;
    EXPECT_TRUE(d.untouched());
  }
  // Floats: sign, exponent and quiet bit, so the default NaN 0xFFC00000 is missing and 0x7FC00000 data.
  std::vector<float> xs = {1, 2, 3, 4, 5, 6, 7, 8}, ps = {0, 2, 0, 1, 2}, out(2), est(4);
  xs[1] = std::bit_cast<float>(0xFFC00000u), xs[6] = std::bit_cast<float>(0xFFC00001u);
  xs[4] = std::bit_cast<float>(0x7FC00000u);
  int64_t p = 1, n = 8, storage = ZOK_SS_STORAGE_ROWS, five = 5, two = 2, four = 4;
  SSTask* ts = nullptr;
  __qorsSSNewTask(&ts, &p, &n, &storage, xs.data(), nullptr, nullptr, 1);
  __qorsSSEditMissingVals(ts, &five, ps.data(), nullptr, nullptr, nullptr, nullptr, &two, out.data(), &four,
                          est.data());
  EXPECT_EQ(_qorsSSMissingValues(ts, 0, ZOK_SS_METHOD_MISSING), ZOK_SS_ERR_INV_FACTOR);
  __qorSSDeleteTask(&ts);
  Imputation no_missing(40, 2, 3, 41);
  EXPECT_EQ(no_missing.run(), ZOK_SS_ERR_IMPUTATIONS);
  Imputation wrong_count(40, 2, 3);
  wrong_count.five = 4;
  EXPECT_EQ(wrong_count.run(), ZOK_SS_ERR_MISSING_PARAM_COUNT_VALUE);
  Imputation prior(40, 2, 3);
  __qordSSEditMissingVals(prior.t, nullptr, nullptr, nullptr, nullptr, nullptr, prior.complete.data(),
                          nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(prior.run(), ZOK_SS_ERR_PRIOR_COUNT);
}

TEST(MissingValues, OneMissingValueAndAPriorKeepTheCompleteDataEstimate) {
  Imputation d(400, 2, 20, 400);
  // A weak prior: kappa0 = 1, nu0 = 3, mu0 = 0, Psi0 = I.
  std::vector<double> prior = {1, 3, 0, 0, 0, 1, 0, 1, 0, 0, 1};
  int64_t prior_count = 11;
  __qordSSEditMissingVals(d.t, nullptr, nullptr, nullptr, nullptr, &prior_count, prior.data(), nullptr,
                          nullptr, nullptr, nullptr);
  ASSERT_EQ(d.run(), 0);
  double mean0 = 0, draws = 0;  // the first variable has unit variance
  for (int64_t i = 0; i < d.n; ++i) mean0 += d.complete[i] / d.n;
  for (size_t r = 0; r < d.records.size(); r += 9) draws += d.records[r] / (d.records.size() / 9);
  EXPECT_NEAR(draws, mean0, 5 / std::sqrt(d.n));
}

TEST(RobustStatuses, AllocationFailuresWriteNothing) {
  const Data d = make_data(3, 200, 0.05, 1);
  for (int routine = 0; routine < 3; ++routine)
    for (long k = 1;; ++k) {
      Task t(d);
      Imputation imp(60, 2, 3);
      const long before = zok::test::outstanding_blocks();
      zok::test::fail_allocation(k);
      const int32_t status = routine == 0   ? _qordSSRobustCovariance(t.t, 0, 8, nullptr)
                             : routine == 1 ? _qordSSOutliersDetection(t.t, 0, 0x20, nullptr)
                                            : imp.run();
      zok::test::fail_allocation(0);
      EXPECT_EQ(zok::test::outstanding_blocks(), before);  // the imputation's stream included
      if (status == 0) break;
      EXPECT_TRUE(status == ZOK_SS_ERR_MEMORY || (routine == 2 && status == -4)) << routine << " " << status;
      EXPECT_TRUE(t.untouched() && imp.untouched());
    }
}

}  // namespace
