// Goodness of fit: binned chi-square against the exact distribution function in equiprobable bins,
// each Gaussian method and precision, the integer uniform and the lognormal, on MRG32K3A and MCG59;
// the multivariate Gaussian's sample covariance. Built twice: short (unit) and long (slow), sizes
// from ZOK_FIT_DRAWS and ZOK_FIT_BINS.
#include <cmath>

#include "tests/distributions/dist_support.h"

namespace zok::test {
namespace {

constexpr int32_t kDraws = ZOK_FIT_DRAWS;
constexpr int kBins = ZOK_FIT_BINS;
constexpr int32_t kGenerators[] = {ZOK_RNG_MRG32K3A, ZOK_RNG_MCG59};

template <class T>
void fit_gaussian_and_lognormal(int32_t brng) {
  const double a = 0.5, sigma = 0.8, b = 2.0, beta = 1.5;
  const auto normal = [&](double p) { return a + sigma * gsl_cdf_ugaussian_Pinv(p); };
  const auto lognormal = [&](double p) { return b + beta * std::exp(normal(p)); };
  std::vector<T> r(kDraws);
  for (int32_t method = 0; method < 3; ++method) {
    const Stream s(brng, 1234);
    ASSERT_EQ(gaussian<T>(method, s, kDraws, r.data(), T(a), T(sigma)), 0);
    EXPECT_GE(chi_square_p(r, kBins, normal), 1e-4)
        << brng << " Gaussian " << sizeof(T) << " method " << method;
    if (method == 2) continue;
    if constexpr (sizeof(T) == 8)
      ASSERT_EQ(_qordRngLognormal(method, s, kDraws, r.data(), a, sigma, b, beta), 0);
    else
      ASSERT_EQ(_qorsRngLognormal(method, s, kDraws, r.data(), a, sigma, b, beta), 0);
    EXPECT_GE(chi_square_p(r, kBins, lognormal), 1e-4)
        << brng << " lognormal " << sizeof(T) << " method " << method;
  }
}

TEST(Fit, GaussianLognormalAndIntegerUniform) {
  for (int32_t brng : kGenerators) {
    fit_gaussian_and_lognormal<double>(brng);
    fit_gaussian_and_lognormal<float>(brng);
    // Integers in [-7, kBins - 7): bin k, around -7 + k, has edges at half-integers.
    const Stream s(brng, 99);
    std::vector<int32_t> r(kDraws);
    ASSERT_EQ(_qoriRngUniform(0, s, kDraws, r.data(), -7, kBins - 7), 0);
    EXPECT_GE(chi_square_p(r, kBins, [](double p) { return -7.5 + p * kBins; }), 1e-4) << brng;
  }
}

// Each entry of the sample covariance of 1e6 vectors lies within 5 standard errors of L·Lᵀ.
TEST(Fit, MultivariateCovariance) {
  constexpr int32_t d = 4, n = 1000000;
  const double lower[d][d] = {{1, 0, 0, 0}, {0.5, 2, 0, 0}, {-0.25, 0.75, 1.5, 0}, {0.1, -0.2, 0.3, 0.8}};
  const double mean[d] = {1, -2, 0.5, 3};
  const Stream s(ZOK_RNG_MCG59, 11);
  std::vector<double> r(size_t{n} * d);
  ASSERT_EQ(_qordRngGaussianMV(2, s, n, r.data(), d, ZOK_RNG_MV_FULL, mean, &lower[0][0]), 0);
  const auto sigma = [&](int i, int j) {
    long double v = 0;
    for (int k = 0; k < d; ++k) v += lower[i][k] * lower[j][k];
    return v;
  };
  for (int32_t i = 0; i < d; ++i)
    for (int32_t j = 0; j <= i; ++j) {
      long double cov = 0;
      for (int32_t v = 0; v < n; ++v) cov += (r[v * d + i] - mean[i]) * (r[v * d + j] - mean[j]);
      const long double se = std::sqrt((sigma(i, i) * sigma(j, j) + sigma(i, j) * sigma(i, j)) / n);
      EXPECT_LE(std::fabs(cov / n - sigma(i, j)), 5 * se) << i << "," << j;
    }
}

}  // namespace
}  // namespace zok::test
