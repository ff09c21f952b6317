// Goodness of fit: binned chi-square against the exact distribution function, equiprobable bins,
// for each Gaussian method and precision, the integer uniform and the lognormal, on MRG32K3A and
// MCG59. Built twice: a short run (unit) and a long one (slow), sizes from ZOK_FIT_DRAWS/BINS.
#include <gsl/gsl_cdf.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/distributions/dist_support.h"

namespace zok::test {
namespace {

constexpr int32_t kDraws = ZOK_FIT_DRAWS;
constexpr int kBins = ZOK_FIT_BINS;
constexpr double kMinP = 1e-4;
constexpr int32_t kGenerators[] = {ZOK_RNG_MRG32K3A, ZOK_RNG_MCG59};

TEST(Fit, GaussianEachMethodAndPrecision) {
  const double a = -1.0, sigma = 3.0;
  const auto quantile = [&](double p) { return a + sigma * gsl_cdf_ugaussian_Pinv(p); };
  for (int32_t brng : kGenerators)
    for (int32_t method = 0; method < 3; ++method) {
      const Stream s(brng, 1234);
      std::vector<double> d(kDraws);
      ASSERT_EQ(_qordRngGaussian(method, s, kDraws, d.data(), a, sigma), 0);
      EXPECT_GE(chi_square_p(d, kBins, quantile), kMinP) << brng << " double method " << method;
      std::vector<float> f(kDraws);
      ASSERT_EQ(_qorsRngGaussian(method, s, kDraws, f.data(), float(a), float(sigma)), 0);
      EXPECT_GE(chi_square_p(std::vector<double>(f.begin(), f.end()), kBins, quantile), kMinP)
          << brng << " single method " << method;
    }
}

TEST(Fit, IntegerUniform) {
  for (int32_t brng : kGenerators) {
    const Stream s(brng, 99);
    std::vector<int32_t> r(kDraws);
    ASSERT_EQ(_qoriRngUniform(0, s, kDraws, r.data(), -7, kBins - 7), 0);
    EXPECT_GE(chi_square_p_uniform_int(r, -7, kBins), kMinP) << brng;
  }
}

TEST(Fit, Lognormal) {
  const double a = 0.5, sigma = 0.8, b = 2.0, beta = 1.5;
  const auto quantile = [&](double p) { return b + beta * std::exp(a + sigma * gsl_cdf_ugaussian_Pinv(p)); };
  for (int32_t brng : kGenerators)
    for (int32_t method : {0, 1}) {
      const Stream s(brng, 4321);
      std::vector<double> d(kDraws);
      ASSERT_EQ(_qordRngLognormal(method, s, kDraws, d.data(), a, sigma, b, beta), 0);
      EXPECT_GE(chi_square_p(d, kBins, quantile), kMinP) << brng << " double method " << method;
      std::vector<float> f(kDraws);
      ASSERT_EQ(_qorsRngLognormal(method, s, kDraws, f.data(), float(a), float(sigma), float(b), float(beta)),
                0);
      EXPECT_GE(chi_square_p(std::vector<double>(f.begin(), f.end()), kBins, quantile), kMinP)
          << brng << " single method " << method;
    }
}

}  // namespace
}  // namespace zok::test
