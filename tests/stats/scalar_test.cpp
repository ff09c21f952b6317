// The scalar helpers against MPFR (logarithm within 2 ulp, log-gamma within 4) and the C library's
// floor, over every binade, denormals, arguments next to 1 and just below powers of 2.
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

// The error of `got` in units of the last place of the exact value f(x).
double ulp_error(double got, double x, int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t)) {
  mpfr_t a, e;
  mpfr_inits2(200, a, e, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_d(a, x, MPFR_RNDN);
  f(e, a, MPFR_RNDN);
  const double exact = mpfr_get_d(e, MPFR_RNDN);
  mpfr_sub_d(a, e, got, MPFR_RNDN);
  const double ulp = std::nextafter(std::fabs(exact), INFINITY) - std::fabs(exact);
  const double err = std::fabs(mpfr_get_d(a, MPFR_RNDN)) / ulp;
  mpfr_clears(a, e, static_cast<mpfr_ptr>(nullptr));
  return err;
}
int mpfr_lgamma_abs(mpfr_ptr r, mpfr_srcptr x, mpfr_rnd_t rnd) {
  int sign = 0;
  return mpfr_lgamma(r, &sign, x, rnd);
}

TEST(ScalarHelpers, LogarithmWithinTwoUlp) {
  std::mt19937_64 gen(4);
  std::vector<double> xs = {std::numeric_limits<double>::denorm_min(), 0x1p-1030, 0x1.fffffp-1023,
                            std::numeric_limits<double>::max()};
  for (int e = -1074; e <= 1023; ++e)
    for (int i = 0; i < 8; ++i) {
      const uint64_t m = gen() & 0x000FFFFFFFFFFFFFull;
      xs.push_back(std::ldexp(std::bit_cast<double>(m | 0x3FF0000000000000ull), e));
    }
  for (int e = -60; e <= 60; ++e) xs.push_back(std::nextafter(std::ldexp(1.0, e), 0.0));  // below 2^e
  for (int i = 1; i < 2000; ++i) xs.push_back(1.0 + i * 0x1p-52), xs.push_back(1.0 - i * 0x1p-53);
  for (int i = 0; i < 100000; ++i) xs.push_back(1.0 + std::ldexp(static_cast<double>(gen() >> 11), -53));
  double worst = 0;
  for (double x : xs)
    if (x != 1.0) worst = std::max(worst, ulp_error(__qordLn(x), x, mpfr_log));
  EXPECT_LE(worst, 2.0);
  EXPECT_EQ(__qordLn(1.0), 0.0);
  EXPECT_FALSE(std::signbit(__qordLn(1.0)));
  EXPECT_EQ(__qordLn(0.0), -744.4400719213812);
  EXPECT_EQ(__qordLn(-0.0), -744.4400719213812);
  EXPECT_TRUE(std::isnan(__qordLn(-1.0)) && std::isnan(__qordLn(NAN)));
  EXPECT_EQ(__qordLn(INFINITY), INFINITY);
  EXPECT_EQ(__qorsLn(2.0f), static_cast<float>(__qordLn(2.0)));
}

TEST(ScalarHelpers, LogGammaWithinFourUlp) {
  double worst = 0;
  for (double x = 1.0 / 1024; x < 200; x *= 1.0137) {
    if (std::fabs(x - 1) < 1e-3 || std::fabs(x - 2) < 1e-3) continue;
    worst = std::max(worst, ulp_error(__qordLGamma(x), x, mpfr_lgamma_abs));
  }
  EXPECT_LE(worst, 4.0);
  for (double x : {0.999, 0.99999, 1.0, 1.00001, 1.999, 2.0, 2.0001}) {
    mpfr_t a;
    mpfr_init2(a, 200);
    mpfr_set_d(a, x, MPFR_RNDN);
    mpfr_lgamma_abs(a, a, MPFR_RNDN);
    EXPECT_NEAR(__qordLGamma(x), mpfr_get_d(a, MPFR_RNDN), 1e-16) << x;
    mpfr_clear(a);
  }
  EXPECT_EQ(__qordLGamma(0.0), INFINITY);
  EXPECT_EQ(__qordLGamma(-3.0), INFINITY);
}

TEST(ScalarHelpers, FloorBitForBit) {
  std::mt19937_64 gen(8);
  std::vector<double> xs = {-0.5,         -0.0,
                            0.0,          2.5,
                            -2.5,         0x1p53 + 2,
                            0x1p51 + 0.5, -0x1p51 - 0.5,
                            0x1p52 - 0.5, 1e300,
                            -1e-300,      INFINITY,
                            -INFINITY,    std::numeric_limits<double>::denorm_min()};
  for (int i = 0; i < 200000; ++i) {
    const double u = std::ldexp(static_cast<double>(gen() >> 11), -53) * 2 - 1;
    xs.push_back(std::ldexp(u, static_cast<int>(gen() % 60) - 4));
  }
  for (double x : xs)
    ASSERT_EQ(std::bit_cast<uint64_t>(__qordFloor(x)), std::bit_cast<uint64_t>(std::floor(x))) << x;
  EXPECT_TRUE(std::isnan(__qordFloor(NAN)));
  EXPECT_EQ(__qordSqrt(2.0), std::sqrt(2.0));
}

}  // namespace
