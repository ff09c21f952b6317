// The scalar helpers: the logarithm within 2 ulp of MPFR over every binade, denormals, arguments next
// to 1 and just below powers of 2; floor bit for bit against the C library; the special values.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "zok/summary_stats.h"

namespace {

// The error of ln(x) = got in units of the last place of the exact value.
double ln_ulp_error(double got, double x) {
  mpfr_t a;
  mpfr_init2(a, 200);
  mpfr_set_d(a, x, MPFR_RNDN);
  mpfr_log(a, a, MPFR_RNDN);
  const double exact = std::fabs(mpfr_get_d(a, MPFR_RNDN));
  mpfr_sub_d(a, a, got, MPFR_RNDN);
  const double err = std::fabs(mpfr_get_d(a, MPFR_RNDN)) / (std::nextafter(exact, INFINITY) - exact);
  mpfr_clear(a);
  return err;
}

TEST(ScalarHelpers, LogarithmWithinTwoUlp) {
  std::mt19937_64 gen(4);
  std::vector<double> xs = {std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max()};
  for (int e = -1074; e <= 1023; ++e)
    for (int i = 0; i < 8; ++i)
      xs.push_back(std::ldexp(std::bit_cast<double>((gen() >> 12) | 0x3FF0000000000000ull), e));
  for (int e = -60; e <= 60; ++e) xs.push_back(std::nextafter(std::ldexp(1.0, e), 0.0));
  for (int i = 1; i < 2000; ++i) xs.insert(xs.end(), {1.0 + i * 0x1p-52, 1.0 - i * 0x1p-53});
  for (int i = 0; i < 100000; ++i) xs.push_back(1.0 + std::ldexp(static_cast<double>(gen() >> 11), -53));
  double worst = 0;
  for (double x : xs) worst = std::max(worst, ln_ulp_error(__qordLn(x), x));
  EXPECT_LE(worst, 2.0);
  EXPECT_EQ(std::bit_cast<uint64_t>(__qordLn(1.0)), 0u);
  EXPECT_TRUE(__qordLn(0.0) == -744.4400719213812 && __qordLn(-0.0) == -744.4400719213812);
  EXPECT_TRUE(std::isnan(__qordLn(-1.0)) && std::isnan(__qordLn(NAN)) && __qordLn(INFINITY) == INFINITY);
  EXPECT_EQ(__qorsLn(2.0f), static_cast<float>(__qordLn(2.0)));
}

TEST(ScalarHelpers, FloorBitForBitAndSpecialValues) {
  std::mt19937_64 gen(8);
  std::vector<double> xs = {-0.5,         -0.0,
                            0.0,          2.5,
                            -2.5,         0x1p53 + 2,
                            0x1p51 + 0.5, -0x1p51 - 0.5,
                            0x1p52 - 0.5, 1e300,
                            -1e-300,      INFINITY,
                            -INFINITY,    std::numeric_limits<double>::denorm_min()};
  for (int i = 0; i < 200000; ++i)
    xs.push_back(
        std::ldexp(std::ldexp(static_cast<double>(gen() >> 11), -52) - 1, static_cast<int>(gen() % 60) - 4));
  for (double x : xs)
    ASSERT_EQ(std::bit_cast<uint64_t>(__qordFloor(x)), std::bit_cast<uint64_t>(std::floor(x))) << x;
  EXPECT_TRUE(std::isnan(__qordFloor(NAN)));
  EXPECT_EQ(__qordSqrt(2.0), std::sqrt(2.0));
  // Log-gamma is the C library's; what it adds here is the value at the poles.
  EXPECT_TRUE(__qordLGamma(1.0) == 0 && __qordLGamma(2.0) == 0 &&
              std::fabs(__qordLGamma(0.5) - 0.5723649429247001) < 1e-16);
  EXPECT_TRUE(__qordLGamma(0.0) == INFINITY && __qordLGamma(-3.0) == INFINITY);
}

// ln|Gamma(x)| within 4 ulp of MPFR over the positive binades; within 1e-16 absolute near its zeros
// at 1 and 2, where an ulp of the result shrinks to nothing.
TEST(ScalarHelpers, LogGammaAgainstMpfr) {
  std::mt19937_64 gen(12);
  std::vector<double> xs;
  for (int e = -1074; e < 1014; ++e)
    for (int i = 0; i < 8; ++i)
      xs.push_back(std::ldexp(std::bit_cast<double>((gen() >> 12) | 0x3FF0000000000000ull), e));
  for (int i = 0; i < 50000; ++i) xs.push_back(0.5 + std::ldexp(static_cast<double>(gen() >> 11), -53) * 3);
  mpfr_t a;
  mpfr_init2(a, 200);
  for (double x : xs) {
    int sign;
    mpfr_set_d(a, x, MPFR_RNDN);
    mpfr_lgamma(a, &sign, a, MPFR_RNDN);
    const double exact = mpfr_get_d(a, MPFR_RNDN);
    mpfr_sub_d(a, a, __qordLGamma(x), MPFR_RNDN);
    const double err = std::fabs(mpfr_get_d(a, MPFR_RNDN));
    if (std::fabs(x - 1) < 0.1 || std::fabs(x - 2) < 0.1)
      ASSERT_LE(err, 1e-16) << x;
    else
      ASSERT_LE(err, 4 * (std::nextafter(std::fabs(exact), INFINITY) - std::fabs(exact))) << x;
  }
  mpfr_clear(a);
}

}  // namespace
