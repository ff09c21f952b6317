// Error-function kernels (Erf, Erfc, CdfNorm and the inverses ErfInv, ErfcInv, CdfNormInv) for float
// and double, compiled once per instruction set. Tables and coefficients come from
// tools/gen_erf_coeffs.py, tools/gen_erf_float.py and tools/gen_erf_double.py.
//
// Contract (measured maxima against MPFR in tests/vm/accuracy_test.cpp):
//   HA within 1 ulp, LA within 4 ulp, EP at least 12 (float) or 26 (double) correct bits, over the
//   whole argument range, denormal arguments and results included.
// Special values, the same in every flavour:
//   Erf: NaN -> NaN, +-0 -> +-0, +-inf -> +-1; never reports.
//   Erfc: NaN -> NaN, -inf -> 2, +inf -> +0 without a report; a result below the smallest normal
//     number from a finite argument reports code 4, and is +0 above 10.054194450378418 (float) and
//     27.22601318359375 (double).
//   CdfNorm: as Erfc mirrored: -inf -> +0, +inf -> 1; code 4 below the smallest normal result, +0
//     below -14.170185089111328 (float) and -38.485408335567335 (double).
//   ErfInv: +-0 -> +-0, +-1 -> +-inf code 2, |x| > 1 -> NaN code 1.
//   ErfcInv: +-0 -> +inf and 2 -> -inf code 2, outside [0, 2] NaN code 1.
//   CdfNormInv: +-0 -> -inf and 1 -> +inf code 2, outside [0, 1] NaN code 1; 0.5 -> +0.
//   NaN -> NaN without a report everywhere.
#include <cmath>
#include <type_traits>

#include "kernels/erf/erf_coeffs.h"
#include "kernels/erf/erf_double_coeffs.h"
#include "kernels/erf/erf_float_coeffs.h"
#include "kernels/explog/explog_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::Fn;
using vm::kEP;
using vm::kHA;
using vm::kLA;
namespace sd = zok::special_data;

// How much care a double formula takes: HA carries the exact parts, LA rounds them, EP keeps some
// 27 bits.
enum class Tier { kHA, kLA, kEP };

#if ZOK_ISA_LEVEL >= 2
// The rows as columns, for the in-register permutes of AVX-512.
template <int kRows, int kStride>
struct Columns {
  alignas(64) double v[kStride][kRows];
};
template <int kRows, int kStride>
constexpr Columns<kRows, kStride> columns_of(const double (&rows)[kRows][kStride]) {
  Columns<kRows, kStride> c{};
  for (int i = 0; i < kRows; ++i)
    for (int k = 0; k < kStride; ++k) c.v[k][i] = rows[i][k];
  return c;
}

// The rows of a table given as a plain array or as a struct holding one in v (a constexpr-built
// table: template arguments must name whole objects, not a member of one).
template <class T>
constexpr const auto& rows_of(const T& t) {
  if constexpr (std::is_array_v<T>) {
    return t;
  } else {
    return t.v;
  }
}

// Calls take(m, column m) for m = 0 ... kCount - 1 with each lane's row of kTable. AVX-512 permutes
// columns held in registers; AVX2 has no double permute over more than four entries and reads two
// columns of four rows at a time instead (four 16-byte loads and two unpacks), less than a gather
// per column.
template <int kCount, const auto& kTable, class Take>
inline void for_columns(VL row, Take take) {
  constexpr const auto& kRowsOf = rows_of(kTable);
  constexpr int kRows = std::extent_v<std::remove_reference_t<decltype(kRowsOf)>, 0>;
#if ZOK_ISA_LEVEL == 3
  static constexpr auto kCols = columns_of(kRowsOf);
  for (int m = 0; m < kCount; ++m) take(m, lookup_reg<kRows>(kCols.v[m], row));
#else
  alignas(32) int64_t i[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(i), (row & splat<VL>(int64_t{kRows - 1})).v);
  const double *p0 = kRowsOf[i[0]], *p1 = kRowsOf[i[1]], *p2 = kRowsOf[i[2]], *p3 = kRowsOf[i[3]];
  for (int m = 0; m < kCount; m += 2) {
    const __m256d r02 =
        _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p0 + m)), _mm_loadu_pd(p2 + m), 1);
    const __m256d r13 =
        _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p1 + m)), _mm_loadu_pd(p3 + m), 1);
    take(m, VD{_mm256_unpacklo_pd(r02, r13)});
    if (m + 1 < kCount) take(m + 1, VD{_mm256_unpackhi_pd(r02, r13)});
  }
#endif
}

// p((a - c) + al) for each lane's row [c, c_deg ... c_0] of kTable.
template <int kDeg, const auto& kTable>
inline VD interval_poly(VD a, VL row, VD al) {
  VD d = a, p = a;
  for_columns<kDeg + 2, kTable>(row, [&](int m, VD v) {
    if (m == 0) {
      d = (a - v) + al;
    } else if (m == 1) {
      p = v;
    } else {
      p = mul_add(p, d, v);
    }
  });
  return p;
}

#if ZOK_ISA_LEVEL == 3
// p(d) = sum c_k d^k for each lane's row [c, c_deg ... c_0] of kTable, d = make_d(c), as
// H(d) d^kSplit + L(d) (kSplit 4 or 8): two Horner sums side by side, half the chain of one.
template <int kDeg, const auto& kTable, int kSplit, class MakeD>
[[gnu::always_inline]] inline VD split_poly(VL row, MakeD make_d) {
  static_assert((kSplit == 4 || kSplit == 8) && kSplit < kDeg);
  VD d{}, dk{}, h{}, l{};
  for_columns<kDeg + 2, kTable>(row, [&](int m, VD v) {
    const int k = kDeg + 1 - m;  // the power of the column's coefficient
    if (m == 0) {
      d = make_d(v);
      const VD d2 = d * d;
      dk = kSplit == 4 ? d2 * d2 : (d2 * d2) * (d2 * d2);
    } else if (m == 1) {
      h = v;
    } else if (k >= kSplit) {
      h = mul_add(h, d, v);
    } else if (k == kSplit - 1) {
      l = v;
    } else {
      l = mul_add(l, d, v);
    }
  });
  return mul_add(h, dk, l);
}
constexpr int kSplitLA = 8, kSplitEP = 4;
#endif

// The erfc rows, [a_mid, c0, (c0_lo,) c1 ...], in interval_poly's order [a_mid, c_deg ... c_1, c_0]
// and, where the rows carry it (kC1 = 3), c0_lo after c_0 for HA; padded to kRows rows.
template <int kStride, int kDeg, int kC1, int kRows = 32>
constexpr auto horner_rows(const double* rows, int count) {
  struct {
    alignas(64) double v[kRows][kStride];
  } r{};
  for (int i = 0; i < kRows; ++i) {
    const double* q = rows + kStride * (i < count ? i : count - 1);
    r.v[i][0] = q[0];
    for (int k = 1; k <= kDeg; ++k) r.v[i][1 + kDeg - k] = q[kC1 + k - 1];
    r.v[i][kDeg + 1] = q[1];
    if constexpr (kC1 == 3) r.v[i][kDeg + 2] = q[2];
  }
  return r;
}
inline constexpr auto kErfcHARows = horner_rows<sd::kErfcHAStride, sd::kErfcHADegree, 3>(sd::kErfcHA, 24);
inline constexpr auto kErfcEPRows = horner_rows<sd::kErfcEPStride, sd::kErfcEPDegree, 2>(sd::kErfcEP, 24);
// The first estimate of erfcinv, [w_mid, c0 ... c_deg], as [w_mid, c_deg ... c0] on 8 rows (one
// permute a column at AVX-512).
inline constexpr auto kErfcInvGuessRows =
    horner_rows<sd::kErfcInvGuessDegree + 2, sd::kErfcInvGuessDegree, 2, 8>(sd::kErfcInvGuess, 6);
#endif

// ============================================================================================
// erfc(a) = (hi + lo) 2^k for 0.5 <= a < 32, a given as ah + al (al small against ah)
// ============================================================================================

// (ah + al)^2 as sh + sl, exact to the square of al (EP: ah^2 rounded, sl = 0).
template <bool kEp>
inline void square_of(VD ah, VD al, VD& sh, VD& sl) {
  if constexpr (kEp) {
    sh = ah * ah;
    sl = splat<VD>(0.0);
  } else {
    two_prod(ah, ah, sh, sl);
    sl = mul_add(ah + ah, al, sl);
  }
}

struct ErfcParts {
  VD hi, lo, k;  // k integral
  VD e;          // e^(-a^2) 2^-k
};

// e^(-a^2) e^(a^2) erfc(a) with both factors from tables: e^(-a^2) by 64 entries of 2^(j/64) after
// -a^2 = (64 N' + j) ln2/64 + r, and erfc(a) e^(a^2) by a polynomial in a - a_mid on each quarter
// binade. a^2 is exact as a sum of two doubles (it reaches 742, where a rounding of a^2 would cost
// some hundreds of ulps).
template <Tier kTier>
inline ErfcParts erfc_parts(VD ah, VD al) {
  constexpr bool kEp = kTier == Tier::kEP;
  constexpr int kDeg = kEp ? sd::kErfcEPDegree : sd::kErfcHADegree;
  // Row of the quarter binade: the exponent and the top two fraction bits, less those of 0.5.
  const VL row = shr<50>(as_int(ah)) - splat<VL>(int64_t{0x3FE0000000000000 >> 50});
  VD t, s, c0, c0lo, f;  // HA: t = a - a_mid, s = Q(t), c0 and c0_lo; LA and EP: f
#if ZOK_ISA_LEVEL >= 2
  if constexpr (kEp) {
    f = interval_poly<kDeg, kErfcEPRows>(ah, row, al);
  } else if constexpr (kTier == Tier::kLA) {
    f = interval_poly<kDeg, kErfcHARows>(ah, row, al);
  } else {
    t = s = c0 = c0lo = ah;
    for_columns<kDeg + 3, kErfcHARows>(row, [&](int m, VD v) {
      if (m == 0) {
        t = (ah - v) + al;  // the difference is exact: a_mid lies within a/2
      } else if (m == 1) {
        s = v;
      } else if (m <= kDeg) {
        s = mul_add(s, t, v);
      } else if (m == kDeg + 1) {
        c0 = v;
      } else {
        c0lo = v;
      }
    });
  }
#else
  {
    const double* rows = kEp ? sd::kErfcEP : sd::kErfcHA;
    const VL at = kEp ? shl<3>(row) : shl<4>(row);
    t = (ah - lookup_one(rows, at)) + al;  // the difference is exact: a_mid lies within a/2
    constexpr int kC1 = kEp ? 2 : 3;       // column of c1 (HA rows carry c0_lo before it)
    s = lookup_one(rows + kC1 + kDeg - 1, at);
    for (int c = kDeg - 1; c >= 1; --c) s = mul_add(s, t, lookup_one(rows + kC1 + c - 1, at));
    c0 = lookup_one(rows + 1, at);
    if constexpr (kTier != Tier::kHA) {
      f = mul_add(s, t, c0);
    } else {
      c0lo = lookup_one(rows + 2, at);
    }
  }
#endif

  // -a^2 = -(sh + sl) and its reduction.
  VD sh, sl;
  square_of<kEp>(ah, al, sh, sl);
  const VD shift = splat<VD>(kDShift);
  const VD tn = mul_add(sh, splat<VD>(-tb::kDInvL64), shift);
  const VD d = tn - shift;  // N, integral
  const VD r = (nmul_add(d, splat<VD>(tb::kDL64a), splat<VD>(0.0) - sh) - d * splat<VD>(tb::kDL64b)) - sl;
  const VL j = as_int(tn) & splat<VL>(int64_t{63});
  const VD k = round<ZOK_RND_FLOOR>(d * splat<VD>(1.0 / 64));
  VD thi, tlo;
  dexp_pair(j, thi, tlo);
  const VD p = mul_add(r * r, horner(r, tb::kDExpC), r);  // e^r - 1
  const VD elo = mul_add(thi + tlo, p, tlo);              // e^(-a^2) 2^-k = thi + elo

  if constexpr (kTier == Tier::kHA) {
    // (thi + elo)(c0 + c0_lo + t Q): thi c0 exactly, the rest well below it.
    const VD ftail = mul_add(s, t, c0lo);
    VD ph, pe;
    two_prod(thi, c0, ph, pe);
    const VD lo = mul_add(thi, ftail, mul_add(elo, c0 + ftail, pe));
    return {ph, lo, k, thi + elo};
  } else {
    return {(thi + elo) * f, splat<VD>(0.0), k, thi + elo};
  }
}

// 2^k for integral k within the normal exponents.
inline VD pow2_vec(VD k) {
  return as_double(shl<52>(as_int(k + splat<VD>(0x1p52 + 1023.0))));
}

// erf(x)/x - 1 in x^2 for |x| < 0.5.
template <Tier kTier>
inline VD erf_small(VD x) {
  const VD t = x * x;
  if constexpr (kTier == Tier::kHA) {
    return x * horner(t, sd::kErfSmallHA);
  } else if constexpr (kTier == Tier::kLA) {
    return x * horner(t, sd::kErfSmallLA);
  } else {
    return x * horner(t, sd::kErfSmallEP);
  }
}

// 1 - v for v = hi + lo with |hi| <= 1, or 2 - v (kTwo) for 0 <= hi <= 1.
template <bool kTwo>
inline VD one_minus(VD hi, VD lo) {
  VD s, e;
  fast_two_sum(splat<VD>(kTwo ? 2.0 : 1.0), splat<VD>(0.0) - hi, s, e);
  return s + (e - lo);
}

// Lanes whose |value| is at least 0.5: the erfc tables serve them.
inline bool any_large(VD a) {
  return bits(a >= splat<VD>(0.5)) != 0;
}

// ---- double formulas on finite arguments ----

// erf x: x + x P(x^2) below 0.5, 1 - erfc|x| with the sign of x above (1 from 6 on).
template <Tier kTier>
inline VD erf_d(VD x) {
  const VD a = abs(x);
  const VD small = x + erf_small<kTier>(x);
  if (!any_large(a)) return small;
  const VD ac = min(max(a, splat<VD>(0.5)), splat<VD>(6.0));
  const ErfcParts e = erfc_parts<kTier>(ac, splat<VD>(0.0));
  const VD scale = pow2_vec(e.k);
  const VD big = or_sign(one_minus<false>(e.hi * scale, e.lo * scale), x);
  return select(a < splat<VD>(0.5), big, small);
}

// erfc of y = yh + yl (yl = 0 but for CdfNorm), for finite yh up to the fast bound: 1 - y - y P(y^2)
// below 0.5 in magnitude, erfc|y| above, 2 - erfc|y| below -0.5.
template <Tier kTier>
inline VD erfc_d(VD yh, VD yl) {
  const VD a = abs(yh);
  VD s, e;
  fast_two_sum(splat<VD>(1.0), splat<VD>(0.0) - yh, s, e);
  const VD small = s + ((e - yl) - erf_small<kTier>(yh));
  if (!any_large(a)) return small;
  const MD neg = yh < splat<VD>(0.0);
  const VD ac = min(max(a, splat<VD>(0.5)), splat<VD>(26.5));
  const VD al = select(neg, yl, splat<VD>(0.0) - yl);
  const ErfcParts p = erfc_parts<kTier>(ac, al);
  const VD scale = pow2_vec(p.k);
  const VD hi = p.hi * scale, lo = p.lo * scale;
  const VD big = select(neg, hi + lo, one_minus<true>(hi, lo));
  return select(a < splat<VD>(0.5), big, small);
}

// -x/sqrt(2) as yh + yl; |x| is kept below 40, where CdfNorm is 0 or 1 already.
template <Tier kTier>
inline void cdf_argument(VD x, VD& yh, VD& yl) {
  const VD xc = min(max(x, splat<VD>(-40.0)), splat<VD>(40.0));
  if constexpr (kTier == Tier::kEP) {
    yh = xc * splat<VD>(-sd::kRsqrt2Hi);
    yl = splat<VD>(0.0);
  } else {
    two_prod(xc, splat<VD>(-sd::kRsqrt2Hi), yh, yl);
    yl = mul_add(xc, splat<VD>(-sd::kRsqrt2Lo), yl);
  }
}
template <Tier kTier>
inline VD cdfnorm_d(VD x) {
  VD yh, yl;
  cdf_argument<kTier>(x, yh, yl);
  return erfc_d<kTier>(yh, yl) * splat<VD>(0.5);
}

// erfc(ah + al) for ah from 0.5 to 28 on one element, scaled once at the end, so that results
// below the normal range are rounded once more only (the scalar paths of the tails).
template <Tier kTier>
inline double erfc_tail(double ah, double al, int extra_exponent) {
  const ErfcParts p = erfc_parts<kTier>(splat<VD>(ah), splat<VD>(al));
  return std::ldexp(lane0(p.hi + p.lo), static_cast<int>(lane0(p.k)) + extra_exponent);
}

#if ZOK_ISA_LEVEL == 3
// ============================================================================================
// Double Erfc and CdfNorm LA and EP at AVX-512 for vectors whose |y| lies below 6 (every common
// argument): erfc(a) = e^(-a^2) R(a) from a = 0 on, R(a) = erfc(a) e^(a^2) by a polynomial on each
// of 16 intervals of a (LA: widening with a; EP: of 3/8), and e^(-a^2) by 16 entries of 2^(j/16): one
// permute of two registers a column, no memory read a lane. Lanes at 6 or beyond (NaN too) take
// erfc_d.
// ============================================================================================

// e^r - 1 = r + r^2 Q(r) for |r| <= ln2/32: Taylor's terms, 2^-34 relative (EP).
inline constexpr double kExpQEP[] = {1.0 / 2, 1.0 / 6, 1.0 / 24};

// LA: R on 16 rows of u = a (K - Q a), whose intervals widen with a (0.23 at 0, 0.85 below 6) as
// R flattens, so that degree 10 holds where uniform intervals of 3/8 need 12: two columns and two
// multiply-adds fewer for one multiply-add more. e^(-a^2) as above but with q = -r, which takes
// two operations fewer to form, and its polynomial fitted (a term fewer than Taylor's). The
// product rounds once: thi R + (thi p + tlo) R, the scale added to the exponent field (the result
// is above 2^-60).
template <bool kLow>
[[gnu::always_inline]] inline VD erfc_rows_la(VD ah, VD al) {
  // u - 1/2 rounded to an integer: u(6) is 15.95, so that no a below 6 reaches row 16.
  const VD u =
      mul_add(ah, mul_add(ah, splat<VD>(-sd::kDErfcRQLAQ), splat<VD>(sd::kDErfcRQLAK)), splat<VD>(-0.5));
  const VL row = as_int(u + splat<VD>(0x1.8p52));
  const VD rr = split_poly<sd::kDErfcRQLADegree, sd::kDErfcRQLA, 4>(
      row, [&](VD c) { return kLow ? (ah - c) + al : ah - c; });  // a - c: exact from c/2 on, 2^-57 below

  VD sh, sl;
  if constexpr (kLow) {
    square_of<false>(ah, al, sh, sl);
  } else {
    two_prod(ah, ah, sh, sl);
  }
  // -a^2 = (16 N + j) ln2/16 - q. The low bits of t hold m = 16 N + j (N < 0) in two's complement
  // beneath the shifter's bit 51: j is m & 15, and (m & ~15) << 48 is N << 52, bits 4 to 15 of m
  // being those of t.
  const VD shift = splat<VD>(kDShift);
  const VD t = mul_add(sh, splat<VD>(-tb::kDInvL64 / 4), shift);
  const VL m = as_int(t);
  const VD n = t - shift;
  const VD q = mul_add(n, splat<VD>(tb::kDL64b * 4), mul_add(n, splat<VD>(tb::kDL64a * 4), sh)) + sl;
  const VD p = mul_sub(q * q, horner(q, sd::kDErfcExpQLA), q);  // e^-q - 1
  const VD thi = lookup_reg<16>(tb::kDExp16[0], m);
  const VD tlo = lookup_reg<16>(tb::kDExp16[1], m);
  const VD v = mul_add(thi, rr, mul_add(thi, p, tlo) * rr);
  return as_double(as_int(v) + shl<48>(m & splat<VL>(~int64_t{15})));
}

// EP: as LA on the uniform rows of 3/8, a^2 rounded (its error is 2^-48 of the result).
template <bool kLow>
[[gnu::always_inline]] inline VD erfc_rows_ep(VD ah, VD al) {
  // The interval: 8a/3 - 1/2 rounded to an integer (a tie takes either neighbour; both fits hold
  // at their common end; 8/3 rounds down, so that no a below 6 reaches row 16).
  const VL row = as_int(mul_add(ah, splat<VD>(8.0 / 3), splat<VD>(-0.5)) + splat<VD>(0x1.8p52));
  const auto make_d = [&](VD c) { return kLow ? (ah - c) + al : ah - c; };
  const VD rr = split_poly<sd::kDErfcR375EPDegree, sd::kDErfcR375EP, kSplitEP>(row, make_d);
  VD sh, sl;
  square_of<true>(ah, al, sh, sl);
  // -a^2 = (16 N + j) ln2/16 + r; the shifter carries 1023 * 16, so that the integer m in its low
  // bits is non-negative: m & 15 is j, (m >> 4) << 52 the exponent field of 2^(N + 1023).
  const VD shift = splat<VD>(kDShift + 1023.0 * 16);
  const VD t = mul_add(sh, splat<VD>(-tb::kDInvL64 / 4), shift);
  const VL m = as_int(t) - splat<VL>(kDShiftBits);
  const VD n = t - shift;
  const VD r =
      (nmul_add(n, splat<VD>(tb::kDL64a * 4), splat<VD>(0.0) - sh) - n * splat<VD>(tb::kDL64b * 4)) - sl;
  const VD scale = as_double(shl<48>(m & splat<VL>(~int64_t{15})));
  const VD thi = lookup_reg<16>(tb::kDExp16[0], m);
  const VD p = mul_add(r * r, horner(r, kExpQEP), r);
  return (mul_add(thi, p, thi) * rr) * scale;
}

constexpr double kErfcNearTop = 6.0;
template <bool kEp, bool kLow>
[[gnu::always_inline]] inline VD erfc_near(VD ah, VD al) {
  if constexpr (kEp) {
    return erfc_rows_ep<kLow>(ah, al);
  } else {
    return erfc_rows_la<kLow>(ah, al);
  }
}
#endif

#if ZOK_ISA_LEVEL == 2
// ============================================================================================
// Double Erf, Erfc and CdfNorm LA and EP at AVX2, where reading per-interval polynomials costs
// more than arithmetic: Taylor's series about the nearest multiple r of 1/128 (|d| <= 2^-8), from
// the function at r and its slope s = (2/sqrt(pi)) e^(-r^2), read as one pair a lane:
//   erf(r + d) = erf(r) + s S(r, d),  erfc(r + d) = erfc(r) - s S(r, d),
//   S = sum c_n(r) d^(n+1),  c_n = (-1)^n H_n(r) / (n + 1)!  (Hermite polynomials H_n),
// c_n by its few terms in r^2, with no table. Relative to erfc(r + d), a term is about (2 r d)^n/n!.
// ============================================================================================

// The coefficients of c_n(r) in powers of r: H_0 = 1, H_1 = 2r, H_(n+1) = 2r H_n - 2n H_(n-1).
constexpr int kHermiteTop = 6;
struct HermiteTaylor {
  double c[kHermiteTop + 1][kHermiteTop + 1];
};
constexpr HermiteTaylor hermite_taylor() {
  double h[kHermiteTop + 1][kHermiteTop + 1] = {};
  h[0][0] = 1;
  h[1][1] = 2;
  for (int n = 1; n < kHermiteTop; ++n)
    for (int j = 0; j <= n + 1; ++j) h[n + 1][j] = (j > 0 ? 2 * h[n][j - 1] : 0.0) - 2 * n * h[n - 1][j];
  HermiteTaylor t{};
  double factorial = 1;
  for (int n = 0; n <= kHermiteTop; ++n) {
    factorial *= n + 1;
    for (int j = 0; j <= n; ++j) t.c[n][j] = (n % 2 ? -h[n][j] : h[n][j]) / factorial;
  }
  return t;
}
inline constexpr HermiteTaylor kHermiteTaylor = hermite_taylor();

// S(r, d) to the term in d^(kK + 1); r2 = r^2.
template <int kK>
inline VD hermite_series(VD r, VD r2, VD d) {
  static_assert(kK >= 2 && kK <= kHermiteTop);
  const auto c = [&](int n) {  // c_n(r): powers of r of n's parity
    const double* k = kHermiteTaylor.c[n];
    VD v = splat<VD>(k[n]);
    for (int j = n - 2; j >= 0; j -= 2) v = mul_add(v, r2, splat<VD>(k[j]));
    return n % 2 ? v * r : v;
  };
  VD p = c(kK);
  for (int n = kK - 1; n >= 2; --n) p = mul_add(p, d, c(n));
  return mul_add(d * d, mul_sub(p, d, r), d);  // c_1 = -r, c_0 = 1
}

// The row of r = i/128 sits in the low bits of t = 128 a + 1.5 2^52; rows hold [f(r), s].
inline VD nearest_r(VD a, VD& t) {
  const VD shift = splat<VD>(0x1.8p52);
  t = mul_add(a, splat<VD>(128.0), shift);
  return (t - shift) * splat<VD>(1.0 / 128);
}
template <size_t kRows>
[[gnu::always_inline]] inline void function_and_slope(const double (&rows)[kRows][2], VD t, VD& f, VD& s) {
  lookup_pairs_by(
      &rows[0][0], t, [](uint64_t w) { return 2 * (w & 1023); }, f, s);
}

// erf x for finite x: LA to d^6 (the next term is below 2^-53.3 of the result), EP to d^3 (2^-32).
// From r = 0 the result is s S, relative down to the denormals; elsewhere erf(r) < 2 erf|x|.
template <bool kEp>
[[gnu::always_inline]] inline VD derf_taylor(VD x) {
  const VD a = min(abs(x), splat<VD>(6.0));  // NaN lanes take 6 (the scalar path replaces them)
  VD t, e, s;
  const VD r = nearest_r(a, t);
  function_and_slope(sd::kDErfT128, t, e, s);
  constexpr int kK = kEp ? 2 : 5;
  const VD sum = hermite_series<kK>(r, r * r, a - r);  // a - r is exact
  return or_sign(mul_add(s, sum, e), x);
}

// erfc(ah + al) for 0 <= ah < 5.5, al small against ah (zero unless kLow): LA to d^7 (the next
// term is below 2^-52 of the result), EP to d^4 (2^-29).
constexpr double kErfcNearTop = 5.5;
template <bool kEp, bool kLow>
[[gnu::always_inline]] inline VD erfc_near(VD ah, VD al) {
  VD t, e, s;
  const VD r = nearest_r(ah, t);
  function_and_slope(sd::kDErfcT128, t, e, s);
  const VD d = kLow ? (ah - r) + al : ah - r;
  constexpr int kK = kEp ? 3 : 6;
  const VD sum = hermite_series<kK>(r, r * r, d);
  return nmul_add(s, sum, e);
}
#endif

#if ZOK_ISA_LEVEL >= 2
// erfc(yh + yl): erfc_near on lanes whose |yh| is below its top, 2 - erfc|y| for negative y;
// erfc_d on the other lanes (NaN too), of the EP tier where kEpBeyond, chosen lane by lane so that
// no result depends on its neighbours. yl is zero unless kLow.
template <bool kEp, bool kEpBeyond = kEp, bool kLow = true>
[[gnu::always_inline]] inline VD erfc_fast_d(VD yh, VD yl) {
  const VD a = abs(yh);
  const MD rows = a < splat<VD>(kErfcNearTop);
  const MD neg = yh < splat<VD>(0.0);
  const VD al = kLow ? select(neg, yl, splat<VD>(0.0) - yl) : splat<VD>(0.0);
#if ZOK_ISA_LEVEL == 2
  const VD an = min(a, splat<VD>(kErfcNearTop));  // NaN takes the top: its row is read, then replaced
#else
  const VD an = select(rows, splat<VD>(1.0), a);  // the top's row would wrap to the first
#endif
  const VD v = erfc_near<kEp, kLow>(an, al);
  const VD r = select(neg, v, splat<VD>(2.0) - v);
  if (bits(rows) == kAllLanes<VD>) return r;
  return select(rows, erfc_d < kEpBeyond ? Tier::kEP : Tier::kLA > (yh, yl), r);
}
// Erfc EP keeps LA's formula beyond erfc_near's top, where results approach the underflow threshold:
// which results are reported as below the smallest normal stays the same in every flavour.
template <bool kEp>
[[gnu::always_inline]] inline VD derfc_fast(VD x) {
  return erfc_fast_d<kEp, false, false>(x, splat<VD>(0.0));
}
template <bool kEp>
[[gnu::always_inline]] inline VD dcdfnorm_fast(VD x) {
  constexpr Tier kTier = kEp ? Tier::kEP : Tier::kLA;
  VD yh, yl;
  cdf_argument<kTier>(x, yh, yl);
  return erfc_fast_d<kEp>(yh, yl) * splat<VD>(0.5);
}
#endif

#if ZOK_ISA_LEVEL >= 2
// ============================================================================================
// Float Erf and Erfc in float lanes, their coefficients picked per lane from columns held in
// registers (eight intervals, one permute per coefficient) instead of table reads.
// ============================================================================================

inline VF pick(const float* column, VI row) {
#if ZOK_ISA_LEVEL == 3
  return lookup_reg<16>(column, row);
#else
  return {_mm256_permutevar8x32_ps(_mm256_load_ps(column), row.v)};
#endif
}

// erf x on eight intervals of 0.5 up to 4 (erf rounds to 1 beyond 3.92): c0 + d c1 + d^2 P(d) with
// d = |x| - c. The centres are placed where erf(c) is a float to 2^-36, c1 is carried in two parts
// and d c1 is formed within one fused multiply-add, so that the sum rounds once at the end; on the
// first interval c = c0 = 0 and the error is relative. NaN lanes come out finite (the minimum takes
// the bound): the scalar path replaces them.
[[gnu::always_inline]] inline VF serf_ha(VF x) {
  const auto& c = sd::kSErfCols;
  const VF a = min(abs(x), splat<VF>(3.99f));
  const VI i = to_int_trunc(a + a);
  const VF d = a - pick(c[0], i);
  VF p = pick(c[sd::kSErfDegree + 2], i);
  for (int k = sd::kSErfDegree + 1; k >= 4; --k) p = mul_add(p, d, pick(c[k], i));
  const VF t = mul_add(d, pick(c[2], i), d * mul_add(d, p, pick(c[3], i)));
  const VF r = or_sign(pick(c[1], i) + t, x);
  // Below 2^-100 the low part of the slope times x would fall under the denormals: erf x = x c1
  // there, formed 2^64 higher and scaled back (rounded once more only where the result is denormal).
  const MF tiny = a < splat<VF>(0x1p-100f);
  if (bits(tiny) == 0) return r;
  const VF as = a * splat<VF>(0x1p64f);
  return select(tiny, r,
                or_sign(mul_add(as, splat<VF>(c[2][0]), as * splat<VF>(c[3][0])) * splat<VF>(0x1p-64f), x));
}

// LA and EP: one Horner sum on the same intervals, of degree 7 (2^-24.3 relative at most) or 4
// (2^-14.6); the first interval's constant is 0, so that tiny arguments keep their relative error.
template <int kDeg, const auto& c>
inline VF serf_horner(VF x) {
  const VF a = min(abs(x), splat<VF>(3.99f));
  const VI i = to_int_trunc(a + a);
  const VF d = a - pick(c[0], i);
  VF p = pick(c[kDeg + 1], i);
  for (int k = kDeg; k >= 1; --k) p = mul_add(p, d, pick(c[k], i));
  return or_sign(p, x);
}
inline VF serf_la(VF x) {
  return serf_horner<sd::kSErfLADegree, sd::kSErfLACols>(x);
}
inline VF serf_ep(VF x) {
  return serf_horner<sd::kSErfEPDegree, sd::kSErfEPCols>(x);
}

// erfc(yh + yl) for |yh| up to 9.15, yl a rounding error of yh: e^(-a^2) R(a) with a = |yh| and
// R(a) = erfc(a) e^(a^2) on eight intervals (degree 6, 2^-23.8 relative at most), less
// (2/sqrt(pi)) e^(-a^2) yl for the part of the argument beyond yh; 2 - erfc(-y) for negative y.
// a^2 is exact inside a fused multiply-add (it reaches 84, where its rounding alone would cost 40
// ulps), and -n is added to the exponent of a product near R: a is held below 9.15, where erfc is
// 2^-125.3, so that the sum stays a normal number (for negative y, whose result is 2, too).
// kClamp false leaves |yh| as it is, for callers that keep |yh| >= 9 off this path.
template <bool kLow, bool kClamp = true>
[[gnu::always_inline]] inline VF serfc_lanes(VF yh, VF yl) {
  const auto& c = sd::kSErfcRCols;
  const VF a = kClamp ? min(abs(yh), splat<VF>(9.15f)) : abs(yh);
  const VF h = a * a;
  // The interval: the exponent of 1.5 h + 0.75, from [0.5, 1) to [64, 128) (narrow near 0, where R
  // turns fastest, wider as it flattens); the permutes read its low bits.
  const VI i = shr<23>(as_int(mul_add(h, splat<VF>(1.5f), splat<VF>(0.75f))));
  const VF d = a - pick(c[0], i);
  VF rr = pick(c[sd::kSErfcRDegree + 1], i);
  for (int k = sd::kSErfcRDegree; k >= 1; --k) rr = mul_add(rr, d, pick(c[k], i));
  if constexpr (kLow) rr = nmul_add(yl ^ (yh & sign_mask<VF>()), splat<VF>(1.12837917f), rr);  // 2/sqrt(pi)
  // a^2 = n ln2 - r with n = round(a^2/ln2) >= 0: r = (n ln2_hi - a^2) + n ln2_lo, the first
  // difference formed from the exact square inside one fused multiply-add (n ln2_hi is exact).
  constexpr float kShift = 12582912.0f;  // 1.5 * 2^23: n lands in the low fraction bits
  const VF t = mul_add(h, splat<VF>(sd::kSInvLn2), splat<VF>(kShift));
  const VF nf = t - splat<VF>(kShift);
  const VF r = mul_add(nf, splat<VF>(sd::kSLn2Lo), nmul_add(a, a, nf * splat<VF>(sd::kSLn2Hi)));
  const VF q = mul_add(r * r, horner(r, sd::kSExpErfc), r);  // e^r - 1
  // t's own bits above n shift out of the word: shl<23>(as_int(t)) is n 2^23.
#if ZOK_ISA_LEVEL == 2
  // 2 - v for negative y without a blend (several micro-operations at AVX2): the sign bit of y joins
  // the subtracted exponent, which negates v, and 2 is that bit shifted down once (-0 gives 1).
  const VI sg = as_int(yh) & isplat(INT32_MIN);
  const VF v = as_float(as_int(mul_add(q, rr, rr)) - (shl<23>(as_int(t)) | sg));
  return v + as_float(shr<1>(sg));
#else
  const VF v = as_float(as_int(mul_add(q, rr, rr)) - shl<23>(as_int(t)));
  return select(yh < splat<VF>(0.0f), v, splat<VF>(2.0f) - v);
#endif
}

[[gnu::always_inline]] inline VF serfc_fast(VF x) {
  return serfc_lanes<false, false>(x, splat<VF>(0.0f));
}

// EP: erfc a = 2^-G(a), G(a) = -log2 erfc(a) by a polynomial of degree 4 on the unit intervals of
// serfc_lanes (2^-17.3 absolute at most), 2^f on [-1/2, 1/2] of degree 4 (2^-18.3 relative): no
// exact square of a and no second polynomial to multiply by. n = round(G) is at most 125 for
// a <= 9.15, so that 2^f 2^-n stays normal.
[[gnu::always_inline]] inline VF serfc_ep(VF y) {
  constexpr int kDeg = sd::kSErfcGEPDegree;
  const auto& c = sd::kSErfcGEPCols;
  const VF a = min(abs(y), splat<VF>(9.15f));
  const VI i = to_int_trunc(min(a, splat<VF>(7.5f)));
  const VF d = a - pick(c[0], i);
  VF g = pick(c[kDeg + 1], i);
  for (int k = kDeg; k >= 1; --k) g = mul_add(g, d, pick(c[k], i));
  constexpr float kShift = 12582912.0f;  // 1.5 * 2^23: n lands in the low fraction bits
  const VF t = g + splat<VF>(kShift);
  const VF v = as_float(as_int(horner((t - splat<VF>(kShift)) - g, sd::kSExp2EP)) - shl<23>(as_int(t)));
  return select(y < splat<VF>(0.0f), v, splat<VF>(2.0f) - v);
}
// Phi(x) = erfc(-x/sqrt(2))/2: EP drops the rounding error of -x/sqrt(2) (2^-23 of G), and needs
// no clamp, +inf giving a = 9.15 as well.
[[gnu::always_inline]] inline VF scdfnorm_ep(VF x) {
  return serfc_ep(x * splat<VF>(-sd::kSRsqrt2Hi)) * splat<VF>(0.5f);
}

// Phi(x) = erfc(-x/sqrt(2))/2 with -x/sqrt(2) as yh + yl; x is held within [-13, 14], where Phi is
// beyond the fast range or 1 already.
[[gnu::always_inline]] inline VF scdfnorm_fast(VF x) {
  const VF xc = min(max(x, splat<VF>(-13.0f)), splat<VF>(14.0f));
  VF yh, yl;
  two_prod(xc, splat<VF>(-sd::kSRsqrt2Hi), yh, yl);
  yl = mul_add(xc, splat<VF>(-sd::kSRsqrt2Lo), yl);
  return serfc_lanes<true>(yh, yl) * splat<VF>(0.5f);
}
#endif

#if ZOK_ISA_LEVEL >= 2
// ============================================================================================
// Double Erf HA without an exponential: erf|x| by a polynomial in |x| - c on eleven intervals of
// 0.5 from 0.5 to 6, each lane's coefficients read by its interval; below 0.5 the polynomial in x^2
// of the other flavours.
// ============================================================================================

// HA: c0 + (d c1 + (c0_lo + d c1_lo + d^2 P(d))) with c0 and c1 each in two parts, so that the
// sum rounds once at the end and d c1 once inside a fused multiply-add: within 0.5 + 2^-3 ulp and
// the polynomial's 2^-61.
inline VD derf_ha(VD x) {
  constexpr int kDeg = sd::kDErfHADegree;
  const VD a = min(abs(x), splat<VD>(6.0));
  const VD small = x + erf_small<Tier::kHA>(x);
  const MD is_small = a < splat<VD>(0.5);
  if (bits(is_small) == kAllLanes<VD>) return small;
  const VL row =
      as_int(mul_add(a, splat<VD>(2.0), splat<VD>(-1.5)) + splat<VD>(0x1.8p52)) & splat<VL>(int64_t{15});
  VD d = a, p = a, c1 = a, r = a;
  for_columns<kDeg + 4, sd::kDErfHA>(row, [&](int m, VD v) {
    if (m == 0) {
      d = a - v;
    } else if (m == 1) {
      p = v;
    } else if (m <= kDeg) {
      p = mul_add(p, d, v);  // down to c1_lo
    } else if (m == kDeg + 1) {
      c1 = v;
    } else if (m == kDeg + 2) {
      p = mul_add(d, c1, mul_add(d, p, v));
    } else {
      r = v + p;
    }
  });
  return select(is_small, or_sign(r, x), small);
}
#endif

#if ZOK_ISA_LEVEL == 3
// LA and EP at AVX-512 on the same intervals, one Horner sum of degree 13 (LA) or 7 (EP) whose
// columns are permuted from registers: the interval of |x| = 0.5 (i + 1) + t, t in [0, 0.5), is i,
// found by rounding 2|x| - 1.5 to an integer (a tie at an interval's end takes either neighbour;
// both fits hold there). |x| is held at 6, where erf rounds to 1. Lanes below 0.5 index rows 14 and
// 15, which no interval reaches: there the rows hold the polynomial in x^2 of the other flavours,
// led by zeros, and the same sum runs over x^2 in place of |x| - c.
template <int kDeg, size_t kStride, size_t kN>
constexpr auto with_small_rows(const double (&rows)[16][kStride], const double (&small)[kN]) {
  static_assert(kN <= kDeg + 1 && kDeg + 2 <= kStride);
  struct {
    alignas(64) double v[16][kStride];
  } r{};
  for (int i = 0; i < 16; ++i)
    for (size_t k = 0; k < kStride; ++k) r.v[i][k] = i < 11 ? rows[i][k] : 0.0;
  for (int i = 11; i < 16; ++i)
    for (size_t k = 0; k < kN; ++k) r.v[i][1 + kDeg - k] = small[k];
  return r;
}
inline constexpr auto kDErfLARows = with_small_rows<sd::kDErfLADegree>(sd::kDErfLA, sd::kErfSmallLA);
inline constexpr auto kDErfEPRows = with_small_rows<sd::kDErfEPDegree>(sd::kDErfEP, sd::kErfSmallEP);

template <int kDeg, const auto& kRows>
[[gnu::always_inline]] inline VD derf_intervals(VD x) {
  const VD a = min(abs(x), splat<VD>(6.0));
  const VD t = x * x;
  const MD is_small = a < splat<VD>(0.5);
  const VL row = as_int(mul_add(a, splat<VD>(2.0), splat<VD>(-1.5)) + splat<VD>(0x1.8p52));
  const VD p = split_poly<kDeg, kRows, (kDeg > 8 ? kSplitLA : kSplitEP)>(
      row, [&](VD c) { return select(is_small, a - c, t); });
  return select(is_small, or_sign(p, x), mul_add(x, p, x));  // x + x P(x^2) below 0.5
}
template <bool kEp>
[[gnu::always_inline]] inline VD derf_la_ep(VD x) {
  if constexpr (kEp) {
    return derf_intervals<sd::kDErfEPDegree, kDErfEPRows>(x);
  } else {
    return derf_intervals<sd::kDErfLADegree, kDErfLARows>(x);
  }
}
#endif

// ============================================================================================
// Inverses: erfinv by a polynomial below 0.53, erfcinv of the tail by a first estimate in
// w = sqrt(-ln z) refined by one step of Halley's method on erfc. EP instead takes one polynomial
// in -ln(1 - x^2) over nearly all of (-1, 1) and leaves the tail to the lanes beyond it.
// ============================================================================================

// A result as hi + lo, lo below an ulp of hi.
struct Pair {
  VD hi, lo;
};

// erfinv(xh + xl) for |xh| < 0.53, xl a rounding error of xh: x P(x^2), HA with x c0 exact and the
// slope (sqrt(pi)/2) e^(y^2) times xl, which is 2^-54 of x at most.
template <Tier kTier>
inline Pair erfinv_small(VD xh, VD xl) {
  const VD t = xh * xh;
  if constexpr (kTier == Tier::kHA) {
    const VD q = horner(t, sd::kErfInvSmallHA);  // c0_lo + t Q(t)
    VD ph, pe;
    two_prod(xh, splat<VD>(sd::kErfInvSmallHAC0), ph, pe);
    const VD y2 = t * splat<VD>(0.7854);  // y^2 to a few digits
    const VD slope =
        splat<VD>(sd::kSqrtPiHalf) * mul_add(y2, mul_add(y2, splat<VD>(0.5), splat<VD>(1.0)), splat<VD>(1.0));
    // The pair stays exact down to 2^-960, where the error of x c0 is still a normal number; it
    // matters beyond ErfInv itself: CdfNormInv multiplies the pair by sqrt(2), and a product of the
    // rounded x c0 reached 1.37 ulp just below p = 0.5. Below, x c0 rounded once is within 0.75 ulp.
    const MD tiny = abs(xh) < splat<VD>(0x1p-960);
    return {select(tiny, ph, xh * splat<VD>(sd::kErfInvSmallHAC0)),
            select(tiny, mul_add(xh, q, mul_add(xl, slope, pe)), splat<VD>(-0.0))};
  } else if constexpr (kTier == Tier::kLA) {
    return {xh * horner(t, sd::kErfInvSmallLA), splat<VD>(0.0)};
  } else {
    return {xh * horner(t, sd::kErfInvSmallEP), splat<VD>(0.0)};
  }
}

// 2^k for integral k from -1100 to 1100, as two factors within the normal range.
inline void pow2_halves(VD k, VD& f1, VD& f2) {
  const VD h = round<ZOK_RND_FLOOR>(k * splat<VD>(0.5));
  f1 = pow2_vec(h);
  f2 = pow2_vec(k - h);
}

// erfcinv(z) for 0 < z < 0.47 (denormals included): y0 from the estimate, then
// y0 + d / (1 - y0 d) with d = (erfc(y0) - z) / ((2/sqrt(pi)) e^(-y0^2)); both sides carry the scale
// 2^k of erfc(y0), so z 2^-k is formed exactly and nothing leaves the double range.
template <Tier kTier>
inline Pair erfcinv_tail(VD z) {
  // Lanes outside the range (the scalar path replaces them) must still index the tables: the
  // minimum takes NaN from its second operand.
  z = max(min(z, splat<VD>(0.47)), splat<VD>(0x1p-1074));
  const MD tiny = z < splat<VD>(0x1p-1000);
  const VD zs = select(tiny, z, z * splat<VD>(0x1p64));
  const VD ln = dlog_normal(zs) - keep(tiny, splat<VD>(64 * tb::kLn2));
  const VD w = sqrt(splat<VD>(0.0) - ln);
  constexpr int kStride = sd::kErfcInvGuessDegree + 2;
  const VL row = shr<52>(as_int(w)) - splat<VL>(int64_t{1022});
#if ZOK_ISA_LEVEL >= 2
  VD u = w, p = w;
  for_columns<kStride, kErfcInvGuessRows>(row, [&](int m, VD v) {
    if (m == 0) {
      u = w - v;
    } else if (m == 1) {
      p = v;
    } else {
      p = mul_add(p, u, v);
    }
  });
#else
  static_assert(kStride == 11);
  const VL at = shl<3>(row) + shl<1>(row) + row;
  const VD u = w - lookup_one(sd::kErfcInvGuess, at);
  VD p = lookup_one(sd::kErfcInvGuess + kStride - 1, at);
  for (int c = kStride - 2; c >= 1; --c) p = mul_add(p, u, lookup_one(sd::kErfcInvGuess + c, at));
#endif
  const VD y0 = max(w * p, splat<VD>(0.5));
  const ErfcParts e = erfc_parts<kTier>(y0, splat<VD>(0.0));
  VD f1, f2;
  pow2_halves(splat<VD>(0.0) - e.k, f1, f2);
  const VD res = ((e.hi - (z * f1) * f2) + e.lo);
  const VD d = res * splat<VD>(sd::kSqrtPiHalf) / e.e;
  return {y0, d / nmul_add(y0, d, splat<VD>(1.0))};
}

// x P(w), w = -ln u, for lanes whose u = 1 - x^2 (formed without cancellation) is
// above the central bound: no table reads, and the logarithm's error (2^-37 of w) stays below the
// fit's. The other lanes get some finite value.
inline VD erfinv_central(VD x, VD u) {
  const VD w = splat<VD>(0.0) - dlog_normal(max(u, splat<VD>(sd::kErfInvCentralU)));
  return x * estrin(w - splat<VD>(sd::kErfInvCentralMid), sd::kErfInvCentral);
}

// erfcinv(z) for finite 0 < z < 2: erfinv(1 - z) between 0.47 and 1.53 (EP: while z (2 - z) is
// above the central bound), the tail of z or of 2 - z (negated) outside.
template <Tier kTier>
inline Pair erfcinv_pair(VD z) {
  VD xh, xl;
  fast_two_sum(splat<VD>(1.0), splat<VD>(0.0) - z, xh, xl);  // |1| >= |z| or z in [1, 2): exact sum
  MD mid;
  Pair r;
  if constexpr (kTier == Tier::kEP) {
    // 1 - x^2 as z (2 - z): no cancellation as z nears 0, where x = xh is rounded.
    const VD u = z * (splat<VD>(2.0) - z);
    mid = u > splat<VD>(sd::kErfInvCentralU);
    r = {erfinv_central(xh, u), splat<VD>(0.0)};
  } else {
    mid = abs(xh) < splat<VD>(0.53);
    r = erfinv_small<kTier>(xh, xl);
  }
  if (bits(mid) == kAllLanes<VD>) return r;
  const MD upper = z > splat<VD>(1.0);
  const VD zt = select(upper, z, splat<VD>(2.0) - z);
  const Pair t = erfcinv_tail<kTier>(select(mid, zt, splat<VD>(0.25)));
  const VD sign = keep(upper, sign_mask<VD>());
  r.hi = select(mid, t.hi ^ sign, r.hi);
  r.lo = select(mid, t.lo ^ sign, r.lo);
  return r;
}

// erfinv(x) for finite |x| < 1: the polynomial below 0.53, the tail of 1 - |x| (exact) above; EP
// the central polynomial while 1 - x^2 is above its bound (|x| < 0.99903), the tail beyond.
template <Tier kTier>
inline VD erfinv_d(VD x) {
  const VD a = abs(x);
  if constexpr (kTier == Tier::kEP) {
    // 1 - x^2 as (1 - |x|)(1 + |x|), the first factor exact where it is small: the rounded x^2 of a
    // multiply-add without fusion (SSE4.1) would cost 2^-16 of w near the bound.
    const VD u = (splat<VD>(1.0) - a) * (splat<VD>(1.0) + a);
    const MD central = u > splat<VD>(sd::kErfInvCentralU);
    const VD r = erfinv_central(x, u);
    if (bits(central) == kAllLanes<VD>) return r;
    const Pair t = erfcinv_tail<kTier>(select(central, splat<VD>(1.0) - a, splat<VD>(0.25)));
    return select(central, or_sign(t.hi + t.lo, x), r);
  }
  const MD mid = a < splat<VD>(0.53);
  Pair r = erfinv_small<kTier>(x, splat<VD>(0.0));
  r.hi = select(x == splat<VD>(0.0), r.hi + r.lo, x);  // zeros keep their sign
  r.lo = splat<VD>(-0.0);
  if (bits(mid) == kAllLanes<VD>) return r.hi + r.lo;
  const Pair t = erfcinv_tail<kTier>(select(mid, splat<VD>(1.0) - a, splat<VD>(0.25)));
  return select(mid, or_sign(t.hi + t.lo, x), r.hi + r.lo);
}

template <Tier kTier>
inline VD erfcinv_d(VD z) {
  const Pair r = erfcinv_pair<kTier>(z);
  return r.hi + r.lo;
}

// CdfNormInv(p) = -sqrt(2) erfcinv(2p), the product of the pair taken with its error in HA.
template <Tier kTier>
inline VD cdfnorminv_d(VD p) {
  // The negation as 0 - v: Phi^-1(0.5) is +0.
  const Pair r = erfcinv_pair<kTier>(p + p);
  if constexpr (kTier == Tier::kHA) {
    VD ph, pe;
    two_prod(r.hi, splat<VD>(sd::kSqrt2Hi), ph, pe);
    return splat<VD>(0.0) -
           (ph + mul_add(r.lo, splat<VD>(sd::kSqrt2Hi), mul_add(r.hi, splat<VD>(sd::kSqrt2Lo), pe)));
  } else {
    return splat<VD>(0.0) - (r.hi + r.lo) * splat<VD>(sd::kSqrt2Hi);
  }
}

// ---- float EP inverses in float lanes ----

// A double formula on a double vector, or on the two halves of a float vector.
template <VD (*kD)(VD)>
inline VD in_double(VD x) {
  return kD(x);
}
template <VD (*kD)(VD)>
inline VF in_double(VF x) {
  return narrow(kD(widen_lo(x)), kD(widen_hi(x)));
}

// -ln u for u from the central bound to 1: u = 2^k m, m in [2/3, 4/3), k ln2 + f + f^2 P(f) with
// f = m - 1 exact.
inline VF sneg_ln(VF u) {
  const VI d = as_int(u) - isplat(static_cast<int32_t>(tb::kSTwoThirdsBits));
  const VF f = as_float((d & isplat(0x007FFFFF)) + isplat(static_cast<int32_t>(tb::kSTwoThirdsBits))) -
               splat<VF>(1.0f);
  const VF ln = mul_add(to_float(sar<23>(d)), splat<VF>(tb::kSLn2), mul_add(f * f, horner(f, tb::kSLnHA), f));
  return splat<VF>(0.0f) - ln;
}

// The central polynomial of x, for lanes whose u = 1 - x^2 lies above the float bound.
inline VF serfinv_ratio(VF u) {
  const VF w = sneg_ln(max(u, splat<VF>(sd::kSErfInvCentralU)));
  return estrin(w - splat<VF>(sd::kSErfInvCentralMid), sd::kSErfInvCentral);
}

// Vectors with a lane beyond the central range are done whole by the double formula.
template <VD (*kD)(VD)>
inline VF central_or_double(VF r, MF central, VF x) {
  return bits(central) == kAllLanes<VF> ? r : select(central, in_double<kD>(x), r);
}

inline VF serfinv(VF x) {
  const VF a = abs(x);
  const VF u = (splat<VF>(1.0f) - a) * (splat<VF>(1.0f) + a);  // as in the double formula
  const MF central = u > splat<VF>(sd::kSErfInvCentralU);
  return central_or_double<erfinv_d<Tier::kEP>>(x * serfinv_ratio(u), central, x);
}

// x = 1 - z as xh + xl: the rounding of xh would cost half an ulp of the result.
inline VF serfcinv_scaled(VF z, VF scale, MF& central) {
  VF xh, xl;
  fast_two_sum(splat<VF>(1.0f), splat<VF>(0.0f) - z, xh, xl);
  const VF u = z * (splat<VF>(2.0f) - z);
  central = u > splat<VF>(sd::kSErfInvCentralU);
  const VF p = serfinv_ratio(u) * scale;
  return mul_add(xh, p, xl * p);
}
inline VF serfcinv(VF z) {
  MF central;
  const VF r = serfcinv_scaled(z, splat<VF>(1.0f), central);
  return central_or_double<erfcinv_d<Tier::kEP>>(r, central, z);
}
// -sqrt(2) erfcinv(2p); 0 - v keeps Phi^-1(0.5) = +0.
inline VF scdfnorminv(VF p) {
  MF central;
  const VF r = splat<VF>(0.0f) - serfcinv_scaled(p + p, splat<VF>(static_cast<float>(sd::kSqrt2Hi)), central);
  return central_or_double<cdfnorminv_d<Tier::kEP>>(r, central, p);
}

// The domain edges of the inverses, in any type: x at the pole gives the infinity `pole`, x beyond
// the domain NaN. Returns the status.
template <typename T>
inline int inverse_edge(T x, T lo, T hi, T at_lo, T at_hi, T* r) {
  if (x != x) {
    *r = x + x;
    return 0;
  }
  if (x == lo || x == hi) {
    *r = x == lo ? at_lo : at_hi;
    return ZOK_VM_STATUS_SING;
  }
  const volatile T zero = 0;
  *r = zero / zero;
  return ZOK_VM_STATUS_DOMAIN;
}

// The policy of an inverse: lanes strictly inside (lo, hi) take the vector path, others the edges.
// Float policies compute in double on the two halves of each vector.
template <Fn kFn, typename T, auto kVec>
struct InverseK {
  using V = Vec<T>;
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<T>(16);
  static constexpr T kLo = kFn == Fn::sErfInv || kFn == Fn::dErfInv ? T(-1) : T(0);
  static constexpr T kHi = kFn == Fn::sErfInv || kFn == Fn::dErfInv     ? T(1)
                           : kFn == Fn::sErfcInv || kFn == Fn::dErfcInv ? T(2)
                                                                        : T(1);
  static constexpr bool kCdf = kFn == Fn::sCdfNormInv || kFn == Fn::dCdfNormInv;
  static V vec(V x) {
    if constexpr (std::is_same_v<decltype(kVec), V (*)(V)>) {
      return kVec(x);
    } else {
      return in_double<kVec>(x);
    }
  }
  static unsigned special(V x) { return outside<V>((x > splat<V>(kLo)) & (x < splat<V>(kHi))); }
  static void scalar(int i, const T* a, T* r) {
    const T x = a[i];
    if (x > kLo && x < kHi) {
      r[i] = on_lane<InverseK>(x);
      return;
    }
    // Erfinv: -1 -> -inf, 1 -> inf; ErfcInv: 0 -> inf, 2 -> -inf; CdfNormInv: 0 -> -inf, 1 -> inf.
    const T inf = kInf<T>;
    const bool erfinv = kFn == Fn::sErfInv || kFn == Fn::dErfInv;
    const T at_lo = erfinv || kCdf ? -inf : inf;
    const int status = inverse_edge<T>(x == 0 ? T(0) : x, kLo, kHi, at_lo, -at_lo, r + i);
    if (status != 0) report(status, i, a, a, r, r, vm::traits(kFn).name);
  }
};

// ============================================================================================
// Policies
// ============================================================================================

constexpr double kDErfcZero = 27.22601318359375;   // above: +0
constexpr double kDCdfZero = -38.485408335567335;  // below: +0
constexpr double kDErfcFast = 26.5;                // erfc >= 2^-1021 below
constexpr double kDCdfFast = -37.4;                // Phi >= 2^-1021 above
constexpr float kSErfcZero = 10.054194450378418f;  // above: +0
constexpr float kSCdfZero = -14.170185089111328f;  // below: +0
constexpr float kSErfcFast = 9.0f;                 // erfc >= 2^-125 below
constexpr float kSCdfFast = -12.9f;                // Phi >= 2^-125 above

// Erf: only NaN and the infinities leave the vector path.
template <Fn kFn, typename T, auto kVec>
struct ErfK {
  using V = Vec<T>;
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<T>(8);
  [[gnu::always_inline]] static V vec(V x) {
    if constexpr (std::is_same_v<decltype(kVec), V (*)(V)>) {
      return kVec(x);
    } else {
      return in_double<kVec>(x);
    }
  }
  static unsigned special(V x) { return outside<V>(abs(x) < splat<V>(kInf<T>)); }
  static void scalar(int i, const T* a, T* r) {
    const T x = a[i];
    r[i] = x != x ? x + x : std::fabs(x) == kInf<T> ? std::copysign(T(1), x) : on_lane<ErfK>(x);
  }
};

template <Tier kTier>
inline VD erfc_plain(VD x) {
  return erfc_d<kTier>(x, splat<VD>(0.0));
}

// Erfc and CdfNorm: the vector path stops where results could leave the normal range (above
// kFast for Erfc, below it for CdfNorm), the scalar path gives the tail and reports results below
// the smallest normal number; beyond kZero the result is +0. The double tail is scaled once, at the
// end, so that denormal results are rounded once more only. kLanes, where set, is the formula of
// the fast range (in float lanes for the float functions).
template <Fn kFn, typename T, Tier kTier, bool kCdf, auto kLanes = nullptr>
struct TailK {
  using V = Vec<T>;
  static constexpr bool kFloat = sizeof(T) == 4;
  static constexpr T kFast =
      kCdf ? (kFloat ? T(kSCdfFast) : T(kDCdfFast)) : (kFloat ? T(kSErfcFast) : T(kDErfcFast));
  static constexpr T kZero =
      kCdf ? (kFloat ? T(kSCdfZero) : T(kDCdfZero)) : (kFloat ? T(kSErfcZero) : T(kDErfcZero));
  static constexpr Check kCheck = Check::kFixLanes;
  // The float formulas in float lanes take two AVX2 vectors a block (one AVX-512 vector): their long
  // chains overlap better (LA 3-12% faster at n = 1e3, four vectors slower again).
  static constexpr int kUnroll = unroll_for<T>(kFloat && kLanes != nullptr ? 16 : 8);
  [[gnu::always_inline]] static V vec(V x) {
    if constexpr (kLanes != nullptr) {
      return kLanes(x);
    } else if constexpr (kCdf) {
      return in_double<cdfnorm_d<kTier>>(x);
    } else {
      return in_double<erfc_plain<kTier>>(x);
    }
  }
  static bool fast(T x) { return kCdf ? x >= kFast : x < kFast; }
  // NaN too.
  static unsigned special(V x) { return outside<V>(kCdf ? (x >= splat<V>(kFast)) : (x < splat<V>(kFast))); }
  static T tail(T x) {
    if constexpr (kFloat) {
      return static_cast<T>(lane0(kCdf ? cdfnorm_d<kTier>(splat<VD>(x)) : erfc_plain<kTier>(splat<VD>(x))));
    } else if constexpr (kCdf) {
      VD yh, yl;
      cdf_argument<kTier>(splat<VD>(x), yh, yl);
      return erfc_tail<kTier>(lane0(yh), lane0(yl), -1);
    } else {
      return erfc_tail<kTier>(x, 0.0, 0);
    }
  }
  static void scalar(int i, const T* a, T* r) {
    const T x = a[i];
    if (x != x) {
      r[i] = x + x;
    } else if (fast(x)) {
      r[i] = on_lane<TailK>(x);
    } else if (std::fabs(x) == kInf<T>) {
      r[i] = T(0);
    } else {
      r[i] = (kCdf ? x < kZero : x > kZero) ? T(0) : tail(x);
      if (r[i] < Limits<T>::kMinNormal) report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, vm::traits(kFn).name);
    }
  }
};

#if ZOK_ISA_LEVEL < 2
// Float EP erf below AVX2 from the table of erf and its slope at the multiples of 1/128: i =
// round(128 m) from the low fraction bits of m + 65536 (whose ulp is 2^-7), erf|x| = E_i + D_i (m -
// i/128). The minima take NaN from their second operand: m = 3.9296875 for a NaN, whose d is NaN
// again. (AVX2 and AVX-512 compute it in float lanes: serf_ep.)
struct SErfEPK : FloatGroupLoop<8> {
  static constexpr Check kCheck = Check::kNone;
  static VF vec(VF x) {
    const VF ax = abs(x);
    const VF m = min(ax, splat<VF>(3.9296875f));
    const VF t = m + splat<VF>(65536.0f);
    const VI idx = as_int(t) - isplat(0x47800000);  // bits of 65536
    const VF d = min(m - (t - splat<VF>(65536.0f)), ax);
    VF e, slope;
    lookup_pairs(&sd::kSErfEP[0][0], idx, e, slope);
    return or_sign(mul_add(slope, d, e), x);
  }
  static unsigned special(VF) { return 0; }
  static void scalar(int i, const float* a, float* r) { r[i] = on_lane<SErfEPK>(a[i]); }
};
#endif

// ---- the policy of each function and slot ----

// Float flavours run the double formulas one tier down: HA on LA, LA and EP on EP.
constexpr Tier tier_of(bool is_float, int slot) {
  if (is_float) return slot == kHA ? Tier::kLA : Tier::kEP;
  return slot == kHA ? Tier::kHA : slot == kLA ? Tier::kLA : Tier::kEP;
}
template <Fn f, int s>
constexpr Tier kTierOf = tier_of(vm::traits(f).type == 's', s);

// Double Erfc EP takes LA's formula on the scalar path (see derfc_fast).
template <Fn f, int s, auto kLanes = nullptr>
using ErfcPlainOf =
    TailK<f, vm::Elem<f>, f == Fn::dErfc && s == kEP ? Tier::kLA : kTierOf<f, s>, false, kLanes>;
template <Fn f, int s, auto kLanes = nullptr>
using CdfNormPlainOf = TailK<f, vm::Elem<f>, kTierOf<f, s>, true, kLanes>;
#if ZOK_ISA_LEVEL == 3
// The LA and EP kernels of double Erf, Erfc and CdfNorm at AVX-512 take two vectors a block: their
// permutes and sums overlap better.
constexpr int kUnrollLaEp = 16;
#endif
#if ZOK_ISA_LEVEL >= 2
// Double Erf HA by intervals, LA and EP by Taylor's series about the multiples of 1/128 at AVX2
// and by the intervals at AVX-512.
// The LA and EP kernels inlined into the frame's blocks: a call a vector costs a tenth of the
// formula.
template <Fn kFn, VD (*kVec)(VD)>
struct DErfTaylorK : ErfK<kFn, double, kVec> {
#if ZOK_ISA_LEVEL == 3
  static constexpr int kUnroll = unroll_for<double>(kUnrollLaEp);
#endif
  [[gnu::always_inline]] static VD vec(VD x) {
    return kVec(x);
  }
};
#if ZOK_ISA_LEVEL == 3
template <bool kEp>
constexpr VD (*kDErfLaEp)(VD) = derf_la_ep<kEp>;
#else
template <bool kEp>
constexpr VD (*kDErfLaEp)(VD) = derf_taylor<kEp>;
#endif
template <Fn f, int s>
using DErfOf = std::conditional_t<
    s == kHA, ErfK<f, double, derf_ha>,
    std::conditional_t<s == kEP, DErfTaylorK<f, kDErfLaEp<true>>, DErfTaylorK<f, kDErfLaEp<false>>>>;
// Float Erf in float lanes, and float Erfc and CdfNorm but HA.
template <Fn f, int s>
using ErfOf = std::conditional_t<
    f != Fn::sErf, DErfOf<f, s>,
    std::conditional_t<s == kEP, ErfK<f, float, serf_ep>,
                       std::conditional_t<s == kLA, ErfK<f, float, serf_la>, ErfK<f, float, serf_ha>>>>;
// Double Erfc and CdfNorm LA and EP by Taylor's series where every |y| < 5.5 (AVX2) or by
// e^(-a^2) R(a) where every |y| < 8 (AVX-512), inlined into the frame's blocks as the Erf ones.
template <class Base, VD (*kVec)(VD)>
struct DErfcTaylorK : Base {
#if ZOK_ISA_LEVEL == 3
  static constexpr int kUnroll = unroll_for<double>(kUnrollLaEp);
#endif
  [[gnu::always_inline]] static VD vec(VD x) {
    return kVec(x);
  }
};
template <Fn f, int s>
using DErfcOf =
    std::conditional_t<s == kEP, DErfcTaylorK<ErfcPlainOf<f, s, derfc_fast<true>>, derfc_fast<true>>,
                       DErfcTaylorK<ErfcPlainOf<f, s, derfc_fast<false>>, derfc_fast<false>>>;
template <Fn f, int s>
using DCdfNormOf =
    std::conditional_t<s == kEP, DErfcTaylorK<CdfNormPlainOf<f, s, dcdfnorm_fast<true>>, dcdfnorm_fast<true>>,
                       DErfcTaylorK<CdfNormPlainOf<f, s, dcdfnorm_fast<false>>, dcdfnorm_fast<false>>>;
// Float Erfc LA: |x| from 9 up leaves the vector path on both sides, so that its formula needs no
// clamp; erfc is 2 in float from -9 down. Three AVX2 vectors a block: 2% faster than two (n = 1e3
// and 1e6), where CdfNorm's longer formula runs 7% slower so.
template <Fn f, int s>
struct SErfcLAK : ErfcPlainOf<f, s, serfc_fast> {
  static constexpr int kUnroll = unroll_for<float>(24);
  static unsigned special(VF x) { return outside<VF>(abs(x) < splat<VF>(kSErfcFast)); }
  static void scalar(int i, const float* a, float* r) {
    if (a[i] <= -kSErfcFast) {
      r[i] = 2.0f;
    } else {
      ErfcPlainOf<f, s, serfc_fast>::scalar(i, a, r);
    }
  }
};
// Float Erfc and CdfNorm: LA by e^(-a^2) R(a), EP by 2^-G(a).
template <Fn f, int s>
using SErfcOf = std::conditional_t<s == kEP, ErfcPlainOf<f, s, serfc_ep>, SErfcLAK<f, s>>;
template <Fn f, int s>
using SCdfNormOf =
    std::conditional_t<s == kEP, CdfNormPlainOf<f, s, scdfnorm_ep>, CdfNormPlainOf<f, s, scdfnorm_fast>>;
template <Fn f, int s>
using ErfcOf = std::conditional_t<s == kHA, ErfcPlainOf<f, s>,
                                  std::conditional_t<f == Fn::sErfc, SErfcOf<f, s>, DErfcOf<f, s>>>;
template <Fn f, int s>
using CdfNormOf =
    std::conditional_t<s == kHA, CdfNormPlainOf<f, s>,
                       std::conditional_t<f == Fn::sCdfNorm, SCdfNormOf<f, s>, DCdfNormOf<f, s>>>;
#else
template <Fn f, int s>
using ErfOf =
    std::conditional_t<f == Fn::sErf && s == kEP, SErfEPK, ErfK<f, vm::Elem<f>, erf_d<kTierOf<f, s>>>>;
template <Fn f, int s>
using ErfcOf = ErfcPlainOf<f, s>;
template <Fn f, int s>
using CdfNormOf = CdfNormPlainOf<f, s>;
#endif
// Float inverses: EP in float lanes (within 4 ulp: the float rounding of the central polynomial,
// too close to LA's bound), LA on the double EP formula, HA on the double LA formula.
template <Fn f, int s>
constexpr bool kFloatLanes = vm::traits(f).type == 's' && s == kEP;
template <Fn f, int s>
using ErfInvOf = std::conditional_t<kFloatLanes<f, s>, InverseK<f, float, serfinv>,
                                    InverseK<f, vm::Elem<f>, erfinv_d<kTierOf<f, s>>>>;
template <Fn f, int s>
using ErfcInvOf = std::conditional_t<kFloatLanes<f, s>, InverseK<f, float, serfcinv>,
                                     InverseK<f, vm::Elem<f>, erfcinv_d<kTierOf<f, s>>>>;
template <Fn f, int s>
using CdfNormInvOf = std::conditional_t<kFloatLanes<f, s>, InverseK<f, float, scdfnorminv>,
                                        InverseK<f, vm::Elem<f>, cdfnorminv_d<kTierOf<f, s>>>>;

}  // namespace

void register_erf(vm::KernelSlots& s) {
  using enum Fn;
  reg<sErf, ErfOf>(s);
  reg<dErf, ErfOf>(s);
  reg<sErfc, ErfcOf>(s);
  reg<dErfc, ErfcOf>(s);
  reg<sErfInv, ErfInvOf>(s);
  reg<dErfInv, ErfInvOf>(s);
  reg<sErfcInv, ErfcInvOf>(s);
  reg<dErfcInv, ErfcInvOf>(s);
  reg<sCdfNorm, CdfNormOf>(s);
  reg<dCdfNorm, CdfNormOf>(s);
  reg<sCdfNormInv, CdfNormInvOf>(s);
  reg<dCdfNormInv, CdfNormInvOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
