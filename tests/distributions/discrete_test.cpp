// Discrete distributions: goodness of fit against exact probabilities in long double, formulas on a
// copied stream's uniforms, set-up chunks and kernel calls, chosen uniforms and failing generators.
#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "tests/distributions/dist_support.h"
#include "zok/vector_math.h"

#ifndef ZOK_DISCRETE_DRAWS
#define ZOK_DISCRETE_DRAWS 100000
#endif

namespace {

using zok::test::Stream;
using Draw = std::function<int32_t(StreamRecord*, int32_t, uint32_t*)>;
using LogPmf = std::function<long double(long double)>;

// Support [lo, hi], a window of mean ± 15 sd holding all but a negligible mass, and ln pmf.
struct Law {
  int64_t lo, hi;
  double mean, sd;
  LogPmf log_pmf;
};

// The p-value of Pearson's statistic (1 for a single cell, whose count is then all draws).
double pearson(const std::vector<long>& count, const std::vector<long double>& expected) {
  double stat = 0;
  for (size_t c = 0; c < count.size(); ++c)
    stat += (count[c] - expected[c]) * (count[c] - expected[c]) / expected[c];
  return count.size() < 2 ? 1.0 : gsl_cdf_chisq_Q(stat, count.size() - 1);
}

// Pearson's p-value with consecutive values merged into cells of at least 20 expected draws; every
// draw must lie in the support.
double fit(const std::vector<uint32_t>& x, const Law& law) {
  const auto wlo = std::max<int64_t>(law.lo, std::floor(law.mean - 15 * law.sd - 30));
  const auto whi = std::min<int64_t>(law.hi, std::ceil(law.mean + 15 * law.sd + 30));
  std::vector<int64_t> starts{wlo};
  std::vector<long double> expected;
  long double e = 0;
  for (int64_t v = wlo; v <= whi; ++v) {
    e += std::exp(law.log_pmf(v)) * x.size();
    if (e >= 20 && v < whi) expected.push_back(e), e = 0, starts.push_back(v + 1);
  }
  expected.push_back(e);
  if (expected.size() > 1 && e < 20)
    expected[expected.size() - 2] += e, expected.pop_back(), starts.pop_back();
  std::vector<long> count(expected.size());
  for (uint32_t v : x) {
    EXPECT_TRUE(v >= law.lo && v <= law.hi) << v;
    ++count[std::max<long>(0,
                           std::upper_bound(starts.begin(), starts.end(), int64_t{v}) - starts.begin() - 1)];
  }
  return pearson(count, expected);
}

long double ln_choose(long double n, long double k) {
  return std::lgamma(n + 1) - std::lgamma(k + 1) - std::lgamma(n - k + 1);
}
// k ln p, with 0 ln 0 = 0.
long double k_ln(long double k, long double p) {
  return k == 0 ? 0.0L : k * std::log(p);
}

Law binomial(int64_t n, double p) {
  return {0, n, n * p, std::sqrt(n * p * (1 - p)),
          [=](long double k) { return ln_choose(n, k) + k_ln(k, p) + k_ln(n - k, 1.0L - p); }};
}
Law hypergeometric(int64_t l, int64_t s, int64_t m) {
  const double mean = double(s) * m / l, var = mean * (l - m) / l * (l - s) / std::max<int64_t>(l - 1, 1);
  return {std::max<int64_t>(0, s + m - l), std::min(s, m), mean, std::sqrt(var),
          [=](long double k) { return ln_choose(m, k) + ln_choose(l - m, s - k) - ln_choose(l, s); }};
}
Law poisson(double lambda) {
  return {0, 0xFFFFFFFF, lambda, std::sqrt(lambda),
          [=](long double k) { return -lambda + k * std::log((long double)lambda) - std::lgamma(k + 1); }};
}
Law negbinomial(double a, double p) {
  return {0, 0xFFFFFFFF, a * (1 - p) / p, std::sqrt(a * (1 - p)) / p, [=](long double k) {
            return std::lgamma(a + k) - std::lgamma((long double)a) - std::lgamma(k + 1) +
                   a * std::log((long double)p) + k_ln(k, 1.0L - p);
          }};
}

void expect_fit(const char* what, const Draw& draw, const Law& law, int32_t brng = ZOK_RNG_MCG59) {
  Stream s(brng, 20261207);
  std::vector<uint32_t> x(ZOK_DISCRETE_DRAWS);
  ASSERT_EQ(draw(s, ZOK_DISCRETE_DRAWS, x.data()), 0) << what;
  EXPECT_GE(fit(x, law), 1e-4) << what;
}

TEST(DiscreteFit, BernoulliGeometricBinomial) {
  for (double p : {0.0, 1e-7, 0.3, 1 - 1e-7, 1.0})
    expect_fit("bernoulli", [p](auto s, int n, auto r) { return _qoriRngBernoulli(0, s, n, r, p); },
               {0, 1, p, 0.5, [p](long double k) { return std::log(k == 1 ? (long double)p : 1.0L - p); }});
  // The geometric is granular above 2^24 (float uniforms and logarithms): 20 cells at its quantiles.
  for (double p : {1e-8, 1e-4, 0.2, 0.5, 0.999, 1.0}) {
    Stream s(ZOK_RNG_MCG59, 5);
    std::vector<uint32_t> x(ZOK_DISCRETE_DRAWS);
    ASSERT_EQ(_qoriRngGeometric(0, s, x.size(), x.data(), p), 0);
    const long double lq = std::log1p(-(long double)p);
    auto cdf = [&](long double e) { return p == 1.0 ? 1.0L : -std::expm1((e + 1) * lq); };
    std::vector<int64_t> ends;  // cell c holds values up to ends[c]
    for (int k = 1; k < 20 && p < 1.0; ++k) ends.push_back(std::ceil(std::log1p(-k / 20.0L) / lq) - 1);
    ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
    ends.push_back(INT64_MAX);
    std::vector<long> count(ends.size());
    std::vector<long double> expected(ends.size());
    for (uint32_t v : x) ++count[std::lower_bound(ends.begin(), ends.end(), int64_t{v}) - ends.begin()];
    for (size_t c = 0; c < ends.size(); ++c)
      expected[c] = x.size() * ((c + 1 < ends.size() ? cdf(ends[c]) : 1.0L) - (c ? cdf(ends[c - 1]) : 0.0L));
    EXPECT_GE(pearson(count, expected), 1e-4) << p;
  }
  const std::pair<int64_t, double> grid[] = {{0, 0.5},
                                             {10, 0.3},
                                             {119, 0.25},
                                             {121, 0.25},
                                             {1000, 0.7},
                                             {50, 1e-12},
                                             {50, 1 - 1e-12},
                                             {1000000000, 1e-9},
                                             {1000000000, 2.9e-8},
                                             {1000000000, 3.1e-8},
                                             {1000000000, 0.5},
                                             {2147483647, 1e-3},
                                             {10, 0.0},
                                             {10, 1.0}};
  for (auto [n, p] : grid)
    expect_fit(
        "binomial", [n, p](auto s, int k, auto r) { return _qoriRngBinomial(0, s, k, r, n, p); },
        binomial(n, p));
}

TEST(DiscreteFit, HypergeometricNegbinomial) {
  const int64_t grid[][3] = {{900, 300, 500},
                             {10, 5, 3},
                             {50, 50, 20},
                             {50, 0, 20},
                             {1000000, 1000, 10},
                             {1000000, 500000, 500000},
                             {2000000000, 1000000, 1000000000}};
  for (auto& [l, s, m] : grid)
    expect_fit(
        "hypergeometric",
        [&](auto st, int n, auto r) { return _qoriRngHypergeometric(0, st, n, r, l, s, m); },
        hypergeometric(l, s, m));
  const double nb[][2] = {{10, 0.3},  {0.5, 0.5},   {1.2, 0.003},  {100.9, 0.5},
                          {101, 0.5}, {1e6, 0.999}, {5, 1 - 1e-9}, {3, 1}};
  for (auto& [a, p] : nb)
    expect_fit(
        "negbinomial", [&](auto s, int n, auto r) { return _qoriRngNegbinomial(0, s, n, r, a, p); },
        negbinomial(a, p));
}

TEST(DiscreteFit, Poisson) {
  const double lambdas[] = {1e-10, 1e-3, 0.999, 1, 3, 10, 50, 99.99, 100, 1e6, 1e9};
  for (int method : {0, 1})
    for (double l : lambdas)
      expect_fit(
          "poisson", [&](auto s, int n, auto r) { return _qoriRngPoisson(method, s, n, r, l); }, poisson(l));
  // Method 0 turns raw words of every width into uniforms.
  for (int32_t brng : {ZOK_RNG_MCG31M1, ZOK_RNG_MCG59, ZOK_RNG_WH, ZOK_RNG_R250})
    for (double l : {0.999, 3.0, 29.0})
      expect_fit(
          "poisson raw", [&](auto s, int n, auto r) { return _qoriRngPoisson(0, s, n, r, l); }, poisson(l),
          brng);
  // PoissonV through the grid in turn: every residue class follows its own law.
  Stream s(ZOK_RNG_MCG59, 9);
  const int per = ZOK_DISCRETE_DRAWS / 4, kinds = std::size(lambdas);
  std::vector<double> lam(per * kinds);
  for (size_t k = 0; k < lam.size(); ++k) lam[k] = lambdas[k % kinds];
  std::vector<uint32_t> x(lam.size());
  ASSERT_EQ(_qoriRngPoissonV(0, s, x.size(), x.data(), lam.data()), 0);
  for (int c = 0; c < kinds; ++c) {
    std::vector<uint32_t> xc;
    for (size_t k = c; k < x.size(); k += kinds) xc.push_back(x[k]);
    EXPECT_GE(fit(xc, poisson(lambdas[c])), 1e-4) << lambdas[c];
  }
  const double zero = 0;
  uint32_t r = 7;
  EXPECT_EQ(_qoriRngPoissonV(0, s, 1, &r, &zero), 0);
  EXPECT_EQ(r, 0u);
}

}  // namespace
