// The scalar helpers the estimators and distributions share: square root, natural logarithm (table
// and polynomial), log-gamma and floor, one value at a time.
#include <immintrin.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "stats/scalar_ln_tables.h"
#include "zok/summary_stats.h"

namespace zok::ss {
namespace {

inline double with_exponent_of_one(uint64_t bits) {
  return std::bit_cast<double>((bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
}

double ln(double x) {
  if (!(x >= 0.0)) return std::numeric_limits<double>::quiet_NaN();
  if (x == std::numeric_limits<double>::infinity()) return x;
  uint64_t bits = std::bit_cast<uint64_t>(x) & 0x7FFFFFFFFFFFFFFFull;  // -0 counts as +0
  int64_t k = static_cast<int64_t>(bits >> 52) - 1023;
  if ((bits >> 52) == 0) {
    const double scaled = x * 0x1p52;
    if (scaled == 0.0) return -744.4400719213812;
    bits = std::bit_cast<uint64_t>(scaled);
    k = static_cast<int64_t>(bits >> 52) - 1023 - 52;
  }
  const double m = with_exponent_of_one(bits);
  // m - 1 rounded to 2^-10 lands in the low bits of the sum; bit 10 keeps the carry of m near 2, so
  // j runs to 64 (recip 1/2, lnhi ln 2).
  const double biased = m + 4398046511103.0073;
  const int j = static_cast<int>((std::bit_cast<uint64_t>(biased) & 0x7FF) >> 4);
  const double mh = std::bit_cast<double>(std::bit_cast<uint64_t>(m) & ~uint64_t{0x1FFFFF});
  const double ml = m - mh;
  const double recip = kLnRecip[j];
  // recip has 21 significant bits and mh 32: the product is exact, and so is the subtraction of 1.
  const double r = (recip * mh - 1.0) + recip * ml;
  const double poly =
      -0.5000000000000031 +
      r * (0.33333333333333787 +
           r * (-0.24999999959276006 +
                r * (0.1999999994995557 + r * (-0.1666800146149218 + r * 0.1428709072311373))));
  const double kd = static_cast<double>(k);
  const double lead = kd * 0.6931471805598903 + kLnHi[j];  // exact: both on the 2^-42 grid
  const double trail = kd * 5.497923018708371e-14 + kLnLo[j];
  return ((r * r * poly + r) + trail) + lead;
}

double floor_of(double x) {
  const double a = std::fabs(x);
  if (a < 1.0) return x > 0.0 ? 0.0 : x < 0.0 ? -1.0 : x;
  if (a < 0x1p51) {
    // Adding 1.5*2^52 rounds to an integer; the result is lowered when rounding went up.
    const double r = (x + 6755399441055744.0) - 6755399441055744.0;
    return r > x ? r - 1.0 : r;
  }
  if (a < 0x1p52) return (std::bit_cast<uint64_t>(x) & 1) ? x - 0.5 : x;
  return std::isnan(x) ? x + x : x;
}

}  // namespace
}  // namespace zok::ss

extern "C" {

ZOK_SS_API double __qordSqrt(double x) {
  return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_set_sd(x), _mm_set_sd(x)));
}
ZOK_SS_API double __qordLn(double x) {
  return zok::ss::ln(x);
}
ZOK_SS_API float __qorsLn(float x) {
  return static_cast<float>(zok::ss::ln(static_cast<double>(x)));
}
// ln|Gamma(x)| by the C library's reentrant routine, which leaves the global sign untouched; its
// result is +inf at 0 and the negative integers.
ZOK_SS_API double __qordLGamma(double x) {
  int sign = 0;
  return lgamma_r(x, &sign);
}
ZOK_SS_API double __qordFloor(double x) {
  return zok::ss::floor_of(x);
}

}  // extern "C"
