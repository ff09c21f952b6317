// Gamma-function kernels (LGamma = ln|Gamma(x)|, TGamma = Gamma(x)) for float and double: one
// kernel per type fills all three slots. Elements in the ordinary range take a vector formula
// (float on double lanes, double in hi + lo pairs), the rest a scalar routine in extended
// precision. Coefficients come from tools/gen_gamma_coeffs.py.
//
// Contract (measured maxima against MPFR in tests/vm/accuracy_test.cpp): within 1 ulp in every
// slot, over the whole argument range, denormal arguments and results included. The scalar
// routines work on 64-bit significands and round once to the element type, so a result is within
// 0.5 ulp plus the extended computation's few units of 2^-64; the float vector formula carries
// some 2^-43 relative before its one rounding to float, the double one some 2^-59 (TGamma, the
// exponential's polynomial) or 2^-66 absolute (LGamma, whose lanes within 2^-8 of zero go to the
// scalar routine).
// Special values, the same in every slot:
//   LGamma: NaN -> NaN, +-inf -> +inf without a report; +-0 and the negative integers -> +inf,
//     code 2; a finite result too large for the type -> +inf, code 3 (float from 4.085e36 on);
//     1 and 2 -> +0.
//   TGamma: NaN -> NaN, +inf -> +inf without a report; +-0 -> +-inf, code 2; the negative
//     integers and -inf -> NaN, code 1; a result too large -> +-inf, code 3; a float result below
//     the smallest normal number (zero included) from a finite argument reports code 4, double
//     ones none. Positive integers whose factorial the type holds give it exactly.
#include <cmath>

#include "frame/kernel_frame.h"
#include "kernels/explog/dlog_dd_reg.h"
#include "kernels/explog/explog_common.h"
#include "kernels/explog/explog_reg.h"
#include "kernels/gamma/gamma_coeffs.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::Fn;
namespace gd = zok::gamma_data;
using LD = long double;

// The nearest integer of |v| < 2^62 (x87 rounding to nearest: the kernels run in X87Control).
inline LD round_ld(LD v) {
  constexpr LD kShift = 0x1.8p63L;
  return v >= 0 ? (v + kShift) - kShift : (v - kShift) + kShift;
}

// Taylor coefficients of sin z / z and cos z in z^2, to z^21 and z^22: at |z| <= pi/4 the first
// omitted term is below 2^-70.
constexpr int kSinTerms = 11;
struct SinCosTaylor {
  LD s[kSinTerms], c[kSinTerms + 1];
};
constexpr SinCosTaylor sincos_taylor() {
  SinCosTaylor t{};
  LD ts = 1, tc = 1;
  for (int j = 0; j <= kSinTerms; ++j) {
    if (j < kSinTerms) t.s[j] = ts;
    t.c[j] = tc;
    ts /= -LD((2 * j + 2) * (2 * j + 3));
    tc /= -LD((2 * j + 1) * (2 * j + 2));
  }
  return t;
}
constexpr SinCosTaylor kSinPi = sincos_taylor();

// sin(pi x) for finite x with |x| < 2^52. The reduction is exact: 2|x| and its nearest integer k
// fit in 53 bits, f = |x| - k/2 lies in [-1/4, 1/4] and is a difference of two values on the grid
// of |x|'s last place; only pi f is rounded (to 64 bits), so the result is exactly zero at the
// integers and near them keeps its full relative accuracy.
inline LD sinpi(double x) {
  const LD a = std::fabs(x);
  const LD k = round_ld(2 * a);
  const LD f = a - k / 2;
  const LD z = gd::kPi * f;
  const LD z2 = z * z;
  LD s = kSinPi.s[kSinTerms - 1], c = kSinPi.c[kSinTerms];
  for (int j = kSinTerms - 2; j >= 0; --j) s = s * z2 + kSinPi.s[j];
  for (int j = kSinTerms - 1; j >= 0; --j) c = c * z2 + kSinPi.c[j];
  s *= z;
  const int q = static_cast<int>(static_cast<long long>(k) & 3);
  LD r = (q & 1) ? c : s;
  if (q >= 2) r = -r;
  return x < 0 ? -r : r;
}

// ln Gamma(2 + u) for u in [-0.5, 1): u Q(u), exact zero at u = 0.
inline LD lgamma2(LD u) {
  int k = static_cast<int>((u + 0.5L) * 4);
  k = k < 0 ? 0 : k > 5 ? 5 : k;
  const LD v = u - (-0.375L + 0.25L * k);
  const LD* q = gd::kQ[k];
  LD p = q[gd::kQDegree];
  for (int j = gd::kQDegree - 1; j >= 0; --j) p = p * v + q[j];
  return u * p;
}

// The Stirling series' sum for x >= 12.
inline LD stirling_sum(LD x) {
  const LD t = 1 / x, t2 = t * t;
  LD p = gd::kStirling[9];
  for (int j = 8; j >= 0; --j) p = p * t2 + gd::kStirling[j];
  return p * t;
}

// ln Gamma(x) for x > 0 (not a denormal in extended precision, so no scaling is needed).
inline LD lgamma_pos(LD x) {
  if (x < 0.5L) return lgamma2(x) - logl(x * (1 + x));
  // lgamma(x) = lgamma(x + 1) - ln x with x = 1 + u: ln(1 + u) from u, which is exact.
  if (x < 1.5L) return lgamma2(x - 1) - log1pl(x - 1);
  if (x < 3) return lgamma2(x - 2);
  if (x < 12) {
    LD y = x, p = 1;
    while (y >= 3) {
      y -= 1;
      p *= y;
    }
    return lgamma2(y - 2) + logl(p);
  }
  return (x - 0.5L) * logl(x) - x + (gd::kHalfLn2Pi + stirling_sum(x));
}

// Gamma(x) for x > 0. Above 12 as x^(x - 1/2) e^-x sqrt(2 pi) e^S(x), each factor within an ulp or
// two of 64 bits whatever the size of its exponent; above 200 every type overflows.
inline LD tgamma_pos(LD x) {
  if (x < 0.5L) return expl(lgamma2(x)) / (x * (1 + x));
  if (x < 1.5L) return expl(lgamma2(x - 1)) / x;
  if (x < 3) return expl(lgamma2(x - 2));
  if (x < 12) {
    LD y = x, p = 1;
    while (y >= 3) {
      y -= 1;
      p *= y;
    }
    return expl(lgamma2(y - 2)) * p;
  }
  if (x > 200) return __builtin_infl();
  return powl(x, x - 0.5L) * expl(-x) * gd::kSqrt2Pi * expl(stirling_sum(x));
}

// ln|Gamma(x)| for non-integer x in (-2^52, 0). Near the zeros (on (-18, -2), where the result
// is small against the terms that make it) by the Taylor series at the zero; elsewhere below 20
// as ln|Gamma(x)| with |Gamma(x)| = pi / (|x sin(pi x)| Gamma(-x)), whose relative error becomes an
// absolute one of the same size; beyond 20 no zero lies within a double of the argument, and the
// terms are added.
inline LD lgamma_neg(double x, LD s) {
  const LD a = -static_cast<LD>(x);
  if (a < 20) {
    const int n = static_cast<int>(a);
    if (n >= gd::kRootFirst && n < gd::kRootEnd) {
      for (int j = 0; j < 2; ++j) {
        const gd::GammaRoot& root = gd::kRoots[2 * (n - gd::kRootFirst) + j];
        const LD h = (x - root.hi) - root.lo;  // x - hi is exact: both lie within a factor 2
        if (std::fabs(h) < root.radius) {
          LD p = root.c[gd::kRootDegree - 1];
          for (int k = gd::kRootDegree - 2; k >= 0; --k) p = p * h + root.c[k];
          return p * h;
        }
      }
    }
    return logl(gd::kPi / (a * std::fabs(s) * tgamma_pos(a)));
  }
  return gd::kLnPi - logl(a * std::fabs(s)) - lgamma_pos(a);
}

// The routines on a double argument (floats are exact in it), in extended precision; each returns
// the status and rounds its result once, to T.
template <typename T>
int lgamma_of(double x, T* r) {
  if (x != x) {
    *r = static_cast<T>(x + x);
    return 0;
  }
  if (std::fabs(x) == kInf<double>) {
    *r = kInf<T>;
    return 0;
  }
  LD v;
  if (x > 0) {
    v = lgamma_pos(x);
  } else {
    const LD s = std::fabs(x) < Limits<double>::kIntegral ? sinpi(x) : 0;
    if (s == 0) {
      *r = kInf<T>;
      return ZOK_VM_STATUS_SING;
    }
    v = lgamma_neg(x, s);
  }
  *r = static_cast<T>(v);
  return *r == kInf<T> ? ZOK_VM_STATUS_OVERFLOW : 0;
}

template <typename T>
int tgamma_of(double x, T* r) {
  if (x != x) {
    *r = static_cast<T>(x + x);
    return 0;
  }
  if (x == kInf<double>) {
    *r = kInf<T>;
    return 0;
  }
  if (x == 0) {
    *r = std::copysign(kInf<T>, static_cast<T>(x));
    return ZOK_VM_STATUS_SING;
  }
  LD v;
  if (x > 0) {
    v = tgamma_pos(x);
  } else {
    const LD s = std::fabs(x) < Limits<double>::kIntegral ? sinpi(x) : 0;
    if (s == 0) {  // the negative integers and -inf
      const volatile T zero = 0;
      *r = zero / zero;
      return ZOK_VM_STATUS_DOMAIN;
    }
    // Gamma(x) = -pi / (x sin(pi x) Gamma(-x)); beyond -200 it is zero in every type, with the
    // sign of sin(pi x).
    v = x < -200 ? (s > 0 ? 0.0L : -0.0L) : -gd::kPi / (x * s * tgamma_pos(-static_cast<LD>(x)));
  }
  *r = static_cast<T>(v);
  if (std::fabs(*r) == kInf<T>) return ZOK_VM_STATUS_OVERFLOW;
  if constexpr (sizeof(T) == 4) {
    if (std::fabs(*r) < Limits<T>::kMinNormal) return ZOK_VM_STATUS_UNDERFLOW;
  }
  return 0;
}

// What the float and double kernels share: the frame's settings (extended-precision control for
// the scalar routine, tails in padded vectors) and the scalar path, element i by the extended
// routine, then its report.
template <Fn kFn, bool kLog>
struct GammaCommon {
  using T = vm::Elem<kFn>;
  using V = Vec<T>;
  static constexpr bool kX87 = true;
  static constexpr int kTailGroup = V::kLanes;
  static constexpr T kPad = 3;
  static void scalar(int i, const T* a, T* r) {
    const int status = kLog ? lgamma_of<T>(a[i], r + i) : tgamma_of<T>(a[i], r + i);
    if (status != 0) report(status, i, a, a, r, r, vm::traits(kFn).name);
  }
};

// ---- float arguments on double lanes ----
// For y > 0, ln Gamma(y) = e - ln p with e = (z - 1/2) ln z - z + ln(2 pi)/2 + S(z), Stirling's
// series at z = y + 8 and p = y (y + 1) ... (y + 7) below 8, at z = y and p = 1 from 8 on. From
// z = 8 the eight terms of S leave under 1e-16; e is formed to some 2^-46 absolute for z < 48.
struct StirlingParts {
  VD e, p;
};
constexpr double kStirlingS[] = {1.0 / 12,   -1.0 / 360,      1.0 / 1260, -1.0 / 1680,
                                 1.0 / 1188, -691.0 / 360360, 1.0 / 156,  -3617.0 / 122400};
// The logarithms of the float formula: dLn HA's table reduction, or on AVX-512 its register-table
// one, which replaces three gathers per call by permutes.
using LnFn = VD (*)(VD, VD);
template <LnFn kLn>
inline StirlingParts stirling_parts(VD y) {
  const VD one = splat<VD>(1.0);
  const MD shifted = y < splat<VD>(8.0);
  const VD z = select(shifted, y, y + splat<VD>(8.0));
  const VD p8 =
      ((y * (y + splat<VD>(7.0))) * ((y + one) * (y + splat<VD>(6.0)))) *
      (((y + splat<VD>(2.0)) * (y + splat<VD>(5.0))) * ((y + splat<VD>(3.0)) * (y + splat<VD>(4.0))));
  const VD t = one / z;
  const VD s = t * horner(t * t, kStirlingS);
  const VD lnz = kLn(z, splat<VD>(0.0));
  const VD e = mul_add(z - splat<VD>(0.5), lnz, (splat<VD>(static_cast<double>(gd::kHalfLn2Pi)) - z) + s);
  return {e, select(shifted, one, p8)};
}

// sin(pi x) for |x| < 2^51: x = n + f with n the nearest integer, f exact; (-1)^n sin(pi f) by
// Taylor's series to z^21 (|pi f| <= pi/2 leaves some 1e-18).
struct SinTaylorD {
  double s[kSinTerms];
};
constexpr SinTaylorD kSinPiD = [] {
  SinTaylorD t{};
  for (int j = 0; j < kSinTerms; ++j) t.s[j] = static_cast<double>(kSinPi.s[j]);
  return t;
}();
inline VD sinpi_d(VD x) {
  const VD shift = splat<VD>(kDShift);
  const VD t = x + shift;
  const VD f = x - (t - shift);
  const VD z = f * splat<VD>(static_cast<double>(gd::kPi));
  const VD s = z * horner(z * z, kSinPiD.s);
  return as_double(as_int(s) ^ shl<63>(as_int(t)));  // the low bit of t is that of n
}

// Gamma(x) for the vector lanes of TGamma: x in [2^-126, 35], or in (-30, 0) and not an integer,
// the negative ones by the reflection Gamma(x) = pi / (sin(pi x) Gamma(1 - x)).
#if ZOK_ISA_LEVEL == 3
constexpr LnFn kGammaLn = dln_reg_ha;
#else
constexpr LnFn kGammaLn = dln_ha;
#endif
inline VD tgamma_fd(VD x) {
  const MD neg = x < splat<VD>(0.0);
  const StirlingParts g = stirling_parts<kGammaLn>(select(neg, x, splat<VD>(1.0) - x));
  const VD ge = dexp_ha(g.e);
  const VD num = select(neg, ge, splat<VD>(static_cast<double>(gd::kPi)) * g.p);
  const VD den = select(neg, g.p, sinpi_d(x) * ge);
  return num / den;
}
// ln|Gamma(x)| for the vector lanes of LGamma: x in (0, 1e36], or in (-2^22, 0) and not an
// integer, the negative ones as ln(pi p / |sin(pi x)|) - e at 1 - x.
inline VD lgamma_fd(VD x) {
  const MD neg = x < splat<VD>(0.0);
  const StirlingParts g = stirling_parts<kGammaLn>(select(neg, x, splat<VD>(1.0) - x));
  const VD w = select(neg, g.p, splat<VD>(static_cast<double>(gd::kPi)) * g.p / abs(sinpi_d(x)));
  const VD lw = kGammaLn(w, splat<VD>(0.0));
  return select(neg, g.e - lw, lw - g.e);
}

// The lanes of `fix` recomputed by the extended routine, which never reports for them.
template <class V>
inline V redo_lanes(V x, V r, unsigned fix) {
  using T = typename V::T;
  if (fix == 0) return r;
  alignas(64) T in[V::kLanes], out[V::kLanes];
  storeu(in, x);
  storeu(out, r);
  for (unsigned m = fix; m != 0; m &= m - 1) {
    const int j = __builtin_ctz(m);
    lgamma_of<T>(in[j], &out[j]);
  }
  return loadu(out);
}

// Below this the float result of the vector formula could be off by more than a few hundredths
// of an ulp (its error is absolute, up to some 1e-13 for negative arguments): such lanes, next to
// the zeros of ln|Gamma|, are recomputed by the scalar routine, which never reports there.
constexpr double kLGammaSmall = 1e-4;

template <Fn kFn, bool kLog>
struct GammaFloatK : GammaCommon<kFn, kLog> {
  using V = Vec<float>;
  static V vec(V x) {
    if constexpr (kLog) {
      const VD lo = lgamma_fd(widen_lo(x)), hi = lgamma_fd(widen_hi(x));
      const VD small = splat<VD>(kLGammaSmall);
      const unsigned half = VD::kLanes;
      return redo_lanes(x, narrow(lo, hi), bits(abs(lo) < small) | bits(abs(hi) < small) << half);
    } else {
      return narrow(tgamma_fd(widen_lo(x)), tgamma_fd(widen_hi(x)));
    }
  }
  static unsigned special(V x) {
    const V zero = splat<V>(0.0f);
    const unsigned integral = bits(round<ZOK_RND_NEAREST>(x) == x);
    unsigned fast;
    if constexpr (kLog) {
      fast = bits((x > zero) & (x <= splat<V>(1e36f))) |
             (bits((x < zero) & (x > splat<V>(-0x1p22f))) & ~integral);
    } else {
      fast = bits((x >= splat<V>(0x1p-126f)) & (x <= splat<V>(35.0f))) |
             (bits((x <= splat<V>(-0x1p-126f)) & (x > splat<V>(-30.0f))) & ~integral);
    }
    return ~fast & kAllLanes<V>;
  }
};

// ---- double arguments on vector lanes ----
// Values carried as hi + lo, |lo| at most a few ulps of hi.
struct VDD {
  VD hi, lo;
};

// ln x for a positive normal x as hi + lo, to some 2^-66 relative: the dLn table reduction (k ln2_hi
// + lnhi is exact) with the sum of the leading parts kept exact and every small part in lo. On
// AVX-512 the 32-row register table with a longer series (some 2^-69 absolute, 2^-63 relative at
// worst where ln x is near 2^-6, and 2^-69 of r near 1).
inline VDD dln_dd(VD x) {
#if ZOK_ISA_LEVEL == 3
  const DLnDD l = dln_dd_reg(x);
  return {l.hi, l.lo};
#else
  const DLogReduced v = dlog_reduce<9>(x, splat<VD>(0.0));
  VD s, e;
  two_sum(mul_add(v.k, splat<VD>(tb::kLn2Hi), v.lnhi), v.rh, s, e);
  const VD p = v.r * v.r * horner(v.r, tb::kDLnP);
  return {s, e + ((v.rl + mul_add(v.k, splat<VD>(tb::kLn2Lo), v.lnlo)) + p)};
#endif
}

// ln Gamma(z) for z = zh + zl, zh >= 8.5 and zl within half an ulp of zh, as hi + lo to some 2^-67
// relative: (z - 1/2) ln z - z + ln(2 pi)/2 + S(z). The leading terms are added largest first by
// exact two-sums (each partial sum outweighs the next term: z ln z >= 2.1 z and z (ln z - 1) >= 9.7
// > ln z / 2); S's first term 1/(12 z) is formed in two parts, its tail (below 5e-6) in one; zl
// enters through the slope ln z - 1/(2z) - 1/(12 z^2).
inline VDD lgamma_stirling(VD zh, VD zl) {
  const VD one = splat<VD>(1.0);
  const VDD l = dln_dd(zh);
  VD a, ae, s3, e3, q, qe, s4, e4, tp, tpe;
  two_prod(zh, l.hi, a, ae);
  const VD s1 = a - zh, e1 = (a - s1) - zh;
  const VD half_l = splat<VD>(0.5) * l.hi;
  const VD s2 = s1 - half_l, e2 = (s1 - s2) - half_l;
  fast_two_sum(s2, splat<VD>(gd::kHalfLn2PiD[0]), s3, e3);
  const VD t = one / zh;
  two_prod(t, zh, tp, tpe);
  const VD tl = ((one - tp) - tpe) * t;  // 1/zh - t
  two_prod(t, splat<VD>(gd::kStirling1D[0]), q, qe);
  fast_two_sum(s3, q, s4, e4);
  const VD t2 = t * t;
  const VD tail = t * t2 * horner(t2, gd::kStirlingTailD);
  const VD slope = l.hi - t * mul_add(t, splat<VD>(1.0 / 12), splat<VD>(0.5));
  const VD small = (((ae + e1) + (e2 + e3)) + (e4 + qe)) +
                   (mul_add(t, splat<VD>(gd::kStirling1D[1]), tl * splat<VD>(gd::kStirling1D[0])) +
                    mul_add(zh - splat<VD>(0.5), l.lo, mul_add(zl, slope, splat<VD>(gd::kHalfLn2PiD[1]))));
  return {s4, tail + small};
}

// For x in (-7.5, 2^960], not a negative integer: ln Gamma(z) at z = x + k and the product
// p = x (x + 1) ... (x + k - 1) as ph + pl, so that ln|Gamma(x)| = ln Gamma(z) - ln|p| and
// Gamma(x) = Gamma(z) / p. With n the nearest integer of x and f = x - n (exact), k = 9 - n below
// 8.5 (z = 9 + f) and 0 above (z = x). The factors are c + f for c = 8, 7, ... down to n, each an
// exact two-sum (|c| >= 1 > |f|, or c = 0), multiplied in as hi + lo in that order; a lane's
// product never depends on how many factors the other lanes need.
constexpr int kShiftTop = 8, kShiftBottom = -7;
struct GammaShift {
  VDD g;
  VD ph, pl;
};
inline GammaShift gamma_shift(VD x) {
  const VD zero = splat<VD>(0.0);
  const VD n = round<ZOK_RND_NEAREST>(x);
  const VD f = x - n;
  const MD shifted = n <= splat<VD>(static_cast<double>(kShiftTop));
  VD zh, zl;
  fast_two_sum(splat<VD>(kShiftTop + 1.0), f, zh, zl);
  VD ph = splat<VD>(1.0), pl = zero;
  for (int c = kShiftTop; c >= kShiftBottom; --c) {
    const MD on = n <= splat<VD>(static_cast<double>(c));
    if (bits(on) == 0) break;
    VD fh, fl, h, l;
    fast_two_sum(splat<VD>(static_cast<double>(c)), f, fh, fl);
    two_prod(ph, fh, h, l);
    l = mul_add(ph, fl, mul_add(pl, fh, l));
    ph = select(on, ph, h);
    pl = select(on, pl, l);
  }
  return {lgamma_stirling(select(shifted, x, zh), keep(shifted, zl)), ph, pl};
}

// ln|Gamma(x)| = ln Gamma(z) - ln|p| as hi + lo: an absolute error of some 2^-66 wherever the two
// cancel.
inline VDD lgamma_dd(VD x) {
  const GammaShift s = gamma_shift(x);
  const VDD m = dln_dd(abs(s.ph));
  VD h, e;
  two_sum(s.g.hi, splat<VD>(0.0) - m.hi, h, e);
  return {h, e + ((s.g.lo - m.lo) - s.pl / s.ph)};
}

// Gamma(x) = e^(ln Gamma(z)) / p: the dExp reduction at hi, lo joining the reduced argument, the
// mantissa thi + u divided by ph + pl with an exact remainder, and one rounding before the power of
// two (which neither overflows nor underflows inside the vector range).
inline VD tgamma_d(VD x) {
  const GammaShift s = gamma_shift(x);
#if ZOK_ISA_LEVEL == 3
  // On AVX-512 the 32 rows of 2^(j/32) held in registers and a polynomial one term longer.
  const DExpReduced v = dexp_reduce<5>(s.g.hi, s.g.hi);
  const VD thi = lookup_reg<32>(tb::kDExp32[0], v.m), tlo = lookup_reg<32>(tb::kDExp32[1], v.m);
  const VD r = v.r + s.g.lo;
  const VD u = mul_add(thi + tlo, mul_add(r * r, horner(r, tb::kDExpHA32), r), tlo);
  constexpr int kExpBits = 5;
#else
  const DExpReduced v = dexp_reduce<6>(s.g.hi, s.g.hi);
  VD thi, tlo;
  lookup_pairs(&tb::kDExpHiLo[0][0], v.m & lsplat(63), thi, tlo);
  const VD r = v.r + s.g.lo;
  const VD u = mul_add(thi + tlo, r + r * r * horner(r, tb::kDExpC), tlo);
  constexpr int kExpBits = 6;
#endif
  VD p, pe;
  const VD inv = splat<VD>(1.0) / s.ph;
  const VD qh = thi * inv;
  two_prod(qh, s.ph, p, pe);
  const VD rem = ((thi - p) - pe) + (u - qh * s.pl);
  return dexp_scale<kExpBits>(v.m) * mul_add(rem, inv, qh);
}

// Below this |ln|Gamma|| the double formula's absolute error could reach a hundredth of an ulp:
// those lanes, beside the zeros at 1, 2 and on (-7.5, -2), go to the extended routine.
constexpr double kDLGammaSmall = 0x1p-8;

template <Fn kFn, bool kLog>
struct GammaDoubleK : GammaCommon<kFn, kLog> {
  using V = Vec<double>;
  static constexpr int kUnroll = 2;
  static V vec(V x) {
    if constexpr (kLog) {
      const VDD l = lgamma_dd(x);
      const V r = l.hi + l.lo;
      return redo_lanes(x, r, bits(abs(r) < splat<V>(kDLGammaSmall)));
    } else {
      return tgamma_d(x);
    }
  }
  // Vector lanes: x in [2^-960, 2^960] (TGamma: up to 171.5, below the overflow at 171.62), or in
  // (-7.5, -2^-960] and not an integer.
  static unsigned special(V x) {
    const unsigned integral = bits(round<ZOK_RND_NEAREST>(x) == x);
    const double top = kLog ? 0x1p960 : 171.5;
    const unsigned fast = bits((x >= splat<V>(0x1p-960)) & (x <= splat<V>(top))) |
                          (bits((x <= splat<V>(-0x1p-960)) & (x > splat<V>(-7.5))) & ~integral);
    return ~fast & kAllLanes<V>;
  }
};

template <Fn f, int>
using LGammaOf =
    std::conditional_t<std::is_same_v<vm::Elem<f>, float>, GammaFloatK<f, true>, GammaDoubleK<f, true>>;
template <Fn f, int>
using TGammaOf =
    std::conditional_t<std::is_same_v<vm::Elem<f>, float>, GammaFloatK<f, false>, GammaDoubleK<f, false>>;

}  // namespace

void register_gamma(vm::KernelSlots& s) {
  using enum Fn;
  reg<sLGamma, LGammaOf>(s);
  reg<dLGamma, LGammaOf>(s);
  reg<sTGamma, TGammaOf>(s);
  reg<dTGamma, TGammaOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
