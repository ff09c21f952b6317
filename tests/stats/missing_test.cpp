// Multiple imputation: averaged draws against the complete-data estimates, the last draws standardised
// under the conditional normal of the record that drew them (a second, closed-form implementation),
// reruns, markers, statuses with sentinel outputs and allocation failures.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "tests/support/alloc_hook.h"
#include "zok/summary_stats.h"

namespace {

const double kMissing = std::bit_cast<double>(uint64_t{0xFFF8000000000000});
constexpr double kSentinel = -777.0;

// p = 3 in rows storage: x2 = 1 + 0.8 x0 - 0.5 x1 + noise; every 10th x2 missing.
struct Imputation {
  int64_t p = 3, n, storage = ZOK_SS_STORAGE_ROWS, five = 5, simul_count, estimate_count;
  std::vector<double> complete, x, params, simul, records;
  SSTask* t = nullptr;
  Imputation(int64_t n_, int64_t m, int64_t iterations) : n(n_), complete(3 * n_) {
    std::mt19937_64 gen(17);
    std::normal_distribution<double> nd;
    for (int64_t i = 0; i < n; ++i) {
      const double a = nd(gen), b = 0.6 * a + nd(gen);
      complete[i] = 2 + a, complete[n + i] = -1 + b,
      complete[2 * n + i] = 1 + 0.8 * a - 0.5 * b + 0.7 * nd(gen);
    }
    x = complete;
    int64_t missing = 0;
    for (int64_t i = 0; i < n; i += 10, ++missing) x[2 * n + i] = kMissing;
    params = {0, double(iterations), 0, double(m), double(missing)};
    simul.assign(m * missing, kSentinel);
    records.assign(m * iterations * 9, kSentinel);
    simul_count = m * missing;
    estimate_count = m * iterations * 9;
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
  for (int a = 0; a < 3; ++a)
    for (int64_t i = 0; i < n; ++i) mean[a] += d.complete[a * n + i] / n;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      for (int64_t i = 0; i < n; ++i)
        cov[a * 3 + b] += (d.complete[a * n + i] - mean[a]) * (d.complete[b * n + i] - mean[b]) / (n - 1);
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
  std::set<double> distinct;
  const int64_t missing = d.simul_count / m;
  for (int64_t j = 0; j < m; ++j) {
    const double* r = d.records.data() + (j * iterations + iterations - 2) * 9;
    const double c00 = r[3], c10 = r[4], c11 = r[5], c20 = r[6], c21 = r[7], c22 = r[8];
    const double det = c00 * c11 - c10 * c10;
    const double b0 = (c20 * c11 - c21 * c10) / det, b1 = (c21 * c00 - c20 * c10) / det;
    const double sd = std::sqrt(c22 - b0 * c20 - b1 * c21);
    for (int64_t k = 0; k < missing; ++k) {
      const int64_t i = 10 * k;
      const double value = d.simul[j * missing + k];
      const double z = (value - r[2] - b0 * (d.x[i] - r[0]) - b1 * (d.x[n + i] - r[1])) / sd;
      s += z, s2 += z * z;
      distinct.insert(std::round(value * 1e6));
    }
  }
  const double count = double(m * missing), zmean = s / count, zvar = s2 / count - zmean * zmean;
  EXPECT_NEAR(zmean, 0.0, 0.25);
  EXPECT_GE(zvar, 0.7);
  EXPECT_LE(zvar, 1.4);
  EXPECT_GE(double(distinct.size()), 0.95 * count);
  // Reruns repeat exactly.
  const std::vector<double> simul = d.simul, records = d.records;
  ASSERT_EQ(d.run(), 0);
  EXPECT_EQ(d.simul, simul);
  EXPECT_EQ(d.records, records);
}

TEST(MissingValues, MarkersAndStatusesWithOutputsUntouched) {
  // Only the negative default quiet NaN (float: sign, exponent and quiet bit) counts as missing.
  const std::vector<double> not_missing = {std::bit_cast<double>(uint64_t{0x7FF8000000000000}),
                                           std::bit_cast<double>(uint64_t{0xFFF0000000000001})};
  for (double v : not_missing) {
    Imputation d(40, 2, 3);
    d.x[5] = v;  // data, so the stated count of 4 still matches; the NaN makes the estimate fail
    EXPECT_NE(d.run(), ZOK_SS_ERR_MISSING_COUNT);
  }
  {
    Imputation d(40, 2, 3);
    d.x[5] = kMissing;
    EXPECT_EQ(d.run(), ZOK_SS_ERR_MISSING_COUNT);
    EXPECT_TRUE(d.untouched());
  }
  std::vector<float> xs = {1, 2, 3, 4, 5, 6, 7, 8}, ps = {0, 2, 0, 1, 2}, out(2, -1.0f), est(2 * 5, -1.0f);
  xs[1] = std::bit_cast<float>(0xFFC00000u), xs[6] = std::bit_cast<float>(0xFFC00001u);
  xs[4] = std::bit_cast<float>(0x7FC00000u);
  int64_t p = 1, n = 8, storage = ZOK_SS_STORAGE_ROWS, five = 5, two = 2, four = 4;
  SSTask* ts = nullptr;
  __qorsSSNewTask(&ts, &p, &n, &storage, xs.data(), nullptr, nullptr, 1);
  __qorsSSEditMissingVals(ts, &five, ps.data(), nullptr, nullptr, nullptr, nullptr, &two, out.data(), &four,
                          est.data());
  EXPECT_NE(_qorsSSMissingValues(ts, 0, ZOK_SS_METHOD_MISSING), ZOK_SS_ERR_MISSING_COUNT);
  __qorSSDeleteTask(&ts);

  struct Case {
    int param, count_field;  // parameter to change (or -1), count to change (0 none, 1 simul, 2 estimates)
    double value;
    uint64_t method;
    int32_t status;
  } cases[] = {{4, 0, 201, 0x10, ZOK_SS_ERR_MISSING_COUNT},
               {3, 0, 0, 0x10, ZOK_SS_ERR_IMPUTATIONS},
               {-1, 1, 7, 0x10, ZOK_SS_ERR_SIMUL_COUNT_VALUE},
               {-1, 2, 7, 0x10, ZOK_SS_ERR_ESTIMATE_COUNT},
               {-1, 0, 0, 0x8, ZOK_SS_ERR_METHOD}};
  for (const Case& c : cases) {
    Imputation d(2000, 2, 3);
    if (c.param >= 0) d.params[c.param] = c.value;
    if (c.count_field == 1) d.simul_count = int64_t(c.value);
    if (c.count_field == 2) d.estimate_count = int64_t(c.value);
    EXPECT_EQ(_qordSSMissingValues(d.t, 0, c.method), c.status) << c.param;
    EXPECT_TRUE(d.untouched());
  }
  Imputation no_missing(40, 2, 3);
  no_missing.x = no_missing.complete;
  no_missing.params[4] = 0;
  __qordSSEditTask(no_missing.t, ZOK_SS_ID_X, no_missing.x.data());
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
  Imputation d(400, 2, 20);
  d.x = d.complete;
  d.x[2 * d.n + 7] = kMissing;
  d.params[4] = 1;
  d.simul.resize(2);
  d.simul_count = 2;
  // A weak prior: kappa0 = 1, nu0 = 3, mu0 = 0, Psi0 = I.
  std::vector<double> prior = {1, 3, 0, 0, 0, 1, 0, 1, 0, 0, 1};
  int64_t prior_count = 11;
  __qordSSEditTask(d.t, ZOK_SS_ID_X, d.x.data());
  __qordSSEditMissingVals(d.t, nullptr, nullptr, nullptr, nullptr, &prior_count, prior.data(), nullptr,
                          nullptr, nullptr, nullptr);
  ASSERT_EQ(d.run(), 0);
  double mean0 = 0, var0 = 0, draws = 0;
  for (int64_t i = 0; i < d.n; ++i) mean0 += d.complete[i] / d.n;
  for (int64_t i = 0; i < d.n; ++i) var0 += (d.complete[i] - mean0) * (d.complete[i] - mean0) / (d.n - 1);
  for (size_t r = 0; r < d.records.size(); r += 9) draws += d.records[r] / (d.records.size() / 9);
  EXPECT_NEAR(draws, mean0, 5 * std::sqrt(var0 / d.n));
}

TEST(MissingValues, AllocationFailuresLeaveNothingBehind) {
  for (long k = 1;; ++k) {
    Imputation d(60, 2, 3);
    const long before = zok::test::outstanding_blocks();
    zok::test::fail_allocation(k);
    const int32_t status = d.run();
    zok::test::fail_allocation(0);
    EXPECT_EQ(zok::test::outstanding_blocks(), before) << k;  // the stream is deleted on every path
    if (status == 0) break;
    EXPECT_TRUE(status == ZOK_SS_ERR_MEMORY || status == -4) << status;
    EXPECT_TRUE(d.untouched());
  }
}

}  // namespace
