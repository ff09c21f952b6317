// Error-function kernels (Erf, Erfc, CdfNorm) for float and double, compiled once per instruction
// set. Tables and coefficients come from tools/gen_special_coeffs.py.
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
#include <cmath>
#include <type_traits>

#include "kernels/explog/explog_common.h"
#include "kernels/special/special_coeffs.h"

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

// ============================================================================================
// erfc(a) = (hi + lo) 2^k for 0.5 <= a < 32, a given as ah + al (al small against ah)
// ============================================================================================

struct ErfcParts {
  VD hi, lo, k;  // k integral
};

// e^(-a^2) e^(a^2) erfc(a) with both factors from tables: e^(-a^2) by 64 entries of 2^(j/64) after
// -a^2 = (64 N' + j) ln2/64 + r, and erfc(a) e^(a^2) by a polynomial in a - a_mid on each quarter
// binade. a^2 is exact as a sum of two doubles (it reaches 742, where a rounding of a^2 would cost
// some hundreds of ulps).
template <Tier kTier>
inline ErfcParts erfc_parts(VD ah, VD al) {
  constexpr bool kEp = kTier == Tier::kEP;
  constexpr int kDeg = kEp ? sd::kErfcEPDegree : sd::kErfcHADegree;
  const double* rows = kEp ? sd::kErfcEP : sd::kErfcHA;
  // Row of the quarter binade: the exponent and the top two fraction bits, less those of 0.5.
  const VL row = shr<50>(as_int(ah)) - splat<VL>(int64_t{0x3FE0000000000000 >> 50});
  const VL at = kEp ? shl<3>(row) : shl<4>(row);
  const VD t = (ah - lookup_one(rows, at)) + al;  // the difference is exact: a_mid lies within a/2
  constexpr int kC1 = kEp ? 2 : 3;                // column of c1 (HA rows carry c0_lo before it)
  VD s = lookup_one(rows + kC1 + kDeg - 1, at);
  for (int c = kDeg - 1; c >= 1; --c) s = mul_add(s, t, lookup_one(rows + kC1 + c - 1, at));
  const VD c0 = lookup_one(rows + 1, at);

  // -a^2 = -(sh + sl) and its reduction.
  VD sh, sl;
  if constexpr (kEp) {
    sh = ah * ah;
    sl = splat<VD>(0.0);
  } else {
    two_prod(ah, ah, sh, sl);
    sl = mul_add(ah + ah, al, sl);
  }
  const VD shift = splat<VD>(kDShift);
  const VD tn = mul_add(sh, splat<VD>(-tb::kDInvL64), shift);
  const VD d = tn - shift;  // N, integral
  const VD r = (nmul_add(d, splat<VD>(tb::kDL64a), splat<VD>(0.0) - sh) - d * splat<VD>(tb::kDL64b)) - sl;
  const VL j = as_int(tn) & splat<VL>(int64_t{63});
  const VD k = round<ZOK_RND_FLOOR>(d * splat<VD>(1.0 / 64));
  VD thi, tlo;
  lookup_pairs(&tb::kDExpHiLo[0][0], j, thi, tlo);
  const VD p = mul_add(r * r, horner(r, tb::kDExpC), r);  // e^r - 1
  const VD elo = mul_add(thi + tlo, p, tlo);              // e^(-a^2) 2^-k = thi + elo

  if constexpr (kTier == Tier::kHA) {
    // (thi + elo)(c0 + c0_lo + t Q): thi c0 exactly, the rest well below it.
    const VD ftail = mul_add(s, t, lookup_one(rows + 2, at));
    VD ph, pe;
    two_prod(thi, c0, ph, pe);
    const VD lo = mul_add(thi, ftail, mul_add(elo, c0 + ftail, pe));
    return {ph, lo, k};
  } else {
    const VD f = mul_add(s, t, c0);
    return {(thi + elo) * f, splat<VD>(0.0), k};
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

// ============================================================================================
// Policies: double
// ============================================================================================

constexpr double kDErfcZero = 27.22601318359375;   // above: +0
constexpr double kDCdfZero = -38.485408335567335;  // below: +0
constexpr double kDErfcFast = 26.5;                // erfc >= 2^-1021 below
constexpr double kDCdfFast = -37.4;                // Phi >= 2^-1021 above
constexpr float kSErfcZero = 10.054194450378418f;  // above: +0
constexpr float kSCdfZero = -14.170185089111328f;  // below: +0
constexpr float kSErfcFast = 9.0f;                 // erfc >= 2^-125 below
constexpr float kSCdfFast = -12.9f;                // Phi >= 2^-125 above

template <Tier kTier>
struct DErfVec {
  static VD vec(VD x) { return erf_d<kTier>(x); }
};

template <Fn kFn, Tier kTier>
struct DErfK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<double>(8);
  static VD vec(VD x) { return erf_d<kTier>(x); }
  static unsigned special(VD x) { return outside<VD>(abs(x) < splat<VD>(kInfD)); }
  static void scalar(int i, const double* a, double* r) {
    const double x = a[i];
    r[i] = x != x ? x + x : std::fabs(x) == kInfD ? std::copysign(1.0, x) : on_lane<DErfK>(x);
  }
};

template <Fn kFn, Tier kTier>
struct DErfcK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<double>(8);
  static VD vec(VD x) { return erfc_d<kTier>(x, splat<VD>(0.0)); }
  // NaN, and from kDErfcFast on (+inf included).
  static unsigned special(VD x) { return outside<VD>(x < splat<VD>(kDErfcFast)); }
  static void scalar(int i, const double* a, double* r) {
    const double x = a[i];
    if (x != x) {
      r[i] = x + x;
    } else if (x < kDErfcFast) {
      r[i] = on_lane<DErfcK>(x);
    } else if (x == kInfD) {
      r[i] = 0.0;
    } else {
      r[i] = x > kDErfcZero ? 0.0 : erfc_tail<kTier>(x, 0.0, 0);
      if (r[i] < Limits<double>::kMinNormal)
        report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, vm::traits(kFn).name);
    }
  }
};

template <Fn kFn, Tier kTier>
struct DCdfNormK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<double>(8);
  static VD vec(VD x) { return cdfnorm_d<kTier>(x); }
  // NaN, and below kDCdfFast (-inf included).
  static unsigned special(VD x) { return outside<VD>(x >= splat<VD>(kDCdfFast)); }
  static void scalar(int i, const double* a, double* r) {
    const double x = a[i];
    if (x != x) {
      r[i] = x + x;
    } else if (x >= kDCdfFast) {
      r[i] = on_lane<DCdfNormK>(x);
    } else if (x == -kInfD) {
      r[i] = 0.0;
    } else {
      if (x < kDCdfZero) {
        r[i] = 0.0;
      } else {
        VD yh, yl;
        cdf_argument<kTier>(splat<VD>(x), yh, yl);
        r[i] = erfc_tail<kTier>(lane0(yh), lane0(yl), -1);
      }
      if (r[i] < Limits<double>::kMinNormal)
        report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, vm::traits(kFn).name);
    }
  }
};

// ============================================================================================
// Policies: float, through the double formulas on the two halves of each vector
// ============================================================================================

template <VD (*kHalf)(VD)>
inline VF on_halves(VF x) {
  return narrow(kHalf(widen_lo(x)), kHalf(widen_hi(x)));
}

template <Fn kFn, Tier kTier>
struct SErfK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<float>(8);
  static VF vec(VF x) { return on_halves<erf_d<kTier>>(x); }
  static unsigned special(VF x) { return outside<VF>(abs(x) < splat<VF>(kInfF)); }
  static void scalar(int i, const float* a, float* r) {
    const float x = a[i];
    r[i] = x != x ? x + x : std::fabs(x) == kInfF ? std::copysign(1.0f, x) : on_lane<SErfK>(x);
  }
};

template <Tier kTier>
inline VD erfc_plain(VD x) {
  return erfc_d<kTier>(x, splat<VD>(0.0));
}

template <Fn kFn, Tier kTier>
struct SErfcK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<float>(8);
  static VF vec(VF x) { return on_halves<erfc_plain<kTier>>(x); }
  static unsigned special(VF x) { return outside<VF>(x < splat<VF>(kSErfcFast)); }
  static void scalar(int i, const float* a, float* r) {
    const float x = a[i];
    if (x != x) {
      r[i] = x + x;
    } else if (x < kSErfcFast) {
      r[i] = on_lane<SErfcK>(x);
    } else if (x == kInfF) {
      r[i] = 0.0f;
    } else {
      r[i] = x > kSErfcZero ? 0.0f : static_cast<float>(lane0(erfc_plain<kTier>(splat<VD>(x))));
      if (r[i] < Limits<float>::kMinNormal)
        report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, vm::traits(kFn).name);
    }
  }
};

template <Fn kFn, Tier kTier>
struct SCdfNormK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<float>(8);
  static VF vec(VF x) { return on_halves<cdfnorm_d<kTier>>(x); }
  static unsigned special(VF x) { return outside<VF>(x >= splat<VF>(kSCdfFast)); }
  static void scalar(int i, const float* a, float* r) {
    const float x = a[i];
    if (x != x) {
      r[i] = x + x;
    } else if (x >= kSCdfFast) {
      r[i] = on_lane<SCdfNormK>(x);
    } else if (x == -kInfF) {
      r[i] = 0.0f;
    } else {
      r[i] = x < kSCdfZero ? 0.0f : static_cast<float>(lane0(cdfnorm_d<kTier>(splat<VD>(x))));
      if (r[i] < Limits<float>::kMinNormal)
        report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, vm::traits(kFn).name);
    }
  }
};

// Float EP erf from the table of erf and its slope at the multiples of 1/128: i = round(128 m)
// from the low fraction bits of m + 65536 (whose ulp is 2^-7), erf|x| = E_i + D_i (m - i/128). The
// minima take NaN from their second operand: m = 3.9296875 for a NaN, whose d is NaN again.
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

// ---- the policy of each function and slot ----

template <Fn f, int s>
using SErfOf = std::conditional_t<s == kEP, SErfEPK, SErfK<f, s == kHA ? Tier::kLA : Tier::kEP>>;
template <Fn f, int s>
using DErfOf = DErfK<f, s == kHA   ? Tier::kHA
                        : s == kLA ? Tier::kLA
                                   : Tier::kEP>;
template <Fn f, int s>
using SErfcOf = SErfcK<f, s == kHA ? Tier::kLA : Tier::kEP>;
// LA and EP share one kernel.
template <Fn f, int s>
using DErfcOf = DErfcK<f, s == kHA ? Tier::kHA : Tier::kLA>;
template <Fn f, int s>
using SCdfNormOf = SCdfNormK<f, s == kHA ? Tier::kLA : Tier::kEP>;
template <Fn f, int s>
using DCdfNormOf = DCdfNormK<f, s == kHA   ? Tier::kHA
                                : s == kLA ? Tier::kLA
                                           : Tier::kEP>;

}  // namespace

void register_special(vm::KernelSlots& s) {
  using enum Fn;
  reg<sErf, SErfOf>(s);
  reg<dErf, DErfOf>(s);
  reg<sErfc, SErfcOf>(s);
  reg<dErfc, DErfcOf>(s);
  reg<sCdfNorm, SCdfNormOf>(s);
  reg<dCdfNorm, DCdfNormOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
