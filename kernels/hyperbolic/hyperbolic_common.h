// Double formulas of the hyperbolic kernels, shared by the double kernels and the float ones (which
// run them on widened lanes one tier down), and the scalar e^|x|/2 beyond the fast ranges.
#pragma once

#include <cstdint>
#include <iterator>
#include <type_traits>

#include "kernels/explog/explog_common.h"
#include "kernels/explog/explog_reg.h"
#include "kernels/hyperbolic/hyperbolic_tables.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::Fn;
namespace hb = zok::hyperbolic_data;

// How much care a double formula takes: HA carries the exact parts, LA rounds some of them, EP
// keeps some 37 bits (enough for every float flavour).
enum class Tier { kHA, kLA, kEP };

// a - b in each 16-bit part, clamped at 0 from below. On powers of two (nothing set below the
// exponent field, which lies in the top 16 bits of a float or a double) it subtracts the fields and
// gives +0 once the difference would go below 1: one operation for 2^(-k) beside 2^k.
template <class V>
requires std::is_same_v<V, VI> || std::is_same_v<V, VL>
inline V sub_sat16(V a, V b) {
#if ZOK_ISA_LEVEL == 3
  return {_mm512_subs_epu16(a.v, b.v)};
#elif ZOK_ISA_LEVEL == 2
  return {_mm256_subs_epu16(a.v, b.v)};
#else
  return {_mm_subs_epu16(a.v, b.v)};
#endif
}

// Beyond this e^-a is below 2^-62 of e^a: sinh, cosh and tanh take e^a alone.
constexpr double kDMinusGone = 22.0;
// Below this asinh and atanh are a itself (a^3/6 and a^3/3 lie under half an ulp of a); from
// kDLogTwoA on asinh and acosh are ln 2a (1/(4a^2) lies under an ulp of the result).
constexpr double kDTiny = 0x1p-27;
constexpr double kDLogTwoA = 0x1p28;

// ============================================================================================
// e^a / 2 and e^-a / 2 for 0 <= a < 709 from one reduction
// ============================================================================================

// HA: a = N ln2/64 + r, |r| <= ln2/128; A = 2^(N/64) / 2 and B = 2^(-N/64) / 2, each as hi + lo,
// so e^a / 2 = A (1 + pe + po) and e^-a / 2 = B (1 + pe - po) with pe = cosh r - 1 and po = sinh r.
// B is 0 from kDMinusGone on, where its exponent leaves the normal range of interest (and, for
// large a, the scale's field wraps).
struct HalfExps {
  VD ahi, alo, bhi, blo, pe, po;
};
inline HalfExps half_exps(VD a) {
  const VD shift = splat<VD>(kDShift);
  const VD t = mul_add(a, splat<VD>(tb::kDInvL64), shift);
  const VL n = as_int(t) - lsplat(kDShiftBits);  // N >= 0
  const VD d = t - shift;
  const VD r = nmul_add(d, splat<VD>(tb::kDL64b), nmul_add(d, splat<VD>(tb::kDL64a), a));
  // 2^(k-1) for N = 64 k + j: the exponent field (k + 1022), by a shift that wraps k's sign away.
  const VL half = lsplat(int64_t{1022} << 52), high = lsplat(~int64_t{63});
  const VD sp = as_double(shl<46>(n & high) + half);
  const MD live = a < splat<VD>(kDMinusGone);
  HalfExps e;
  const VD z = r * r;
  const VL nm = lsplat(0) - n;
  const VD sm = as_double(shl<46>(nm & high) + half);
  // Rows n & 63 and -n & 63 (from registers on AVX-512).
  VD thi, tlo, uhi, ulo;
  dexp_pair(n, thi, tlo);
  dexp_pair(nm, uhi, ulo);
  e.ahi = sp * thi;
  e.alo = sp * tlo;
  e.bhi = keep(live, sm * uhi);
  e.blo = keep(live, sm * ulo);
  e.pe = z * horner(z, hb::kCoshHA);
  e.po = r * horner(z, hb::kSinhHA);
  return e;
}

// sinh a and cosh a as hi + lo: sinh = (A - B)(1 + pe) + (A + B) po, cosh = (A + B)(1 + pe) +
// (A - B) po, with A - B and A + B exact sums (A >= B).
struct SinhCosh {
  VD sh, sl, ch, cl;
};
inline SinhCosh sinh_cosh(VD a) {
  const HalfExps e = half_exps(a);
  VD dh, de, sh, se;
  fast_two_sum(e.ahi, splat<VD>(0.0) - e.bhi, dh, de);
  fast_two_sum(e.ahi, e.bhi, sh, se);
  const VD dl = de + (e.alo - e.blo), sl = se + (e.alo + e.blo);
  // The factors carry their low parts: T_lo reaches 2^-38 of T_hi, and po up to 2^-7.5.
  const VD d = dh + dl, s = sh + sl;
  SinhCosh out{dh, mul_add(d, e.pe, mul_add(s, e.po, dl)), sh, mul_add(s, e.pe, mul_add(d, e.po, sl))};
  // Below 1/4 A - B keeps only a few bits and the roundings of the terms beside it add up to two
  // ulps: sinh a = a + a^3 P(a^2) instead, a + a^3 P(a^2) exactly as the pair (a, a^3 P).
  const MD small = a < splat<VD>(0.25);
  const VD z = a * a;
  out.sh = select(small, out.sh, a);
  out.sl = select(small, out.sl, a * z * horner(z, hb::kSinhSmall));
  return out;
}

// 2^(j/16) for j = m & 15, rounded (column 0) or the rest (column 1): on AVX-512 by one permute of
// the 16 values held in registers.
inline VD exp16_at(int column, VL m) {
#if ZOK_ISA_LEVEL == 3
  return lookup_reg<16>(tb::kDExp16[column], m);
#else
  return lookup_one(tb::kDExp16[column], m & lsplat(15));
#endif
}

// LA and EP: e^a / 2 for 0 <= a < 709 from one 16-row table read, a = N ln2/16 + r,
// e^r = 1 + r + r^2 Q(r) with the exponential family's LA series, or Taylor's to r^4 for EP
// (2^-35). Sinh and Cosh then take e^-a / 2 as 1/4 over it: a division costs less than the second
// table read and series of the pairs. Used by the float HA kernels (on widened lanes) and by the
// double Cosh LA and EP at SSE4.1; with fused multiply-adds the double LA and EP kernels take k
// nearest and the pair of series instead.
inline constexpr double kExpEP16[3] = {0.5, 1.0 / 6.0, 1.0 / 24.0};
template <Tier kTier>
inline VD exp_half16(VD a) {
  const DExpReduced v = dexp_reduce<4>(a, a);
  const VD t = exp16_at(0, v.m);
  const VD q = kTier == Tier::kEP ? horner(v.r, kExpEP16) : horner(v.r, tb::kDExpLA16);
  return dexp_scale<4>(v.m - lsplat(16)) * mul_add(t, mul_add(v.r * v.r, q, v.r), t);
}

template <Tier kTier>
inline VD sinh_d(VD x) {
  if constexpr (kTier != Tier::kHA) {
    // h - 1/(4h) with h = e^a / 2: h's error reaches cosh a / sinh a of sinh's ulp, about one from
    // 1/2 on; below, a + a^3 P(a^2) (the series reaches 2^-54 of a at 1/2).
    const VD a = abs(x), h = exp_half16<kTier>(a);
    const VD z = a * a;
    const VD y =
        select(a < splat<VD>(0.5), h - splat<VD>(0.25) / h, mul_add(a * z, horner(z, hb::kSinhSmall), a));
    return or_sign(y, x);
  } else {
    const SinhCosh s = sinh_cosh(abs(x));
    return or_sign(s.sh + s.sl, x);
  }
}
template <Tier kTier>
inline VD cosh_d(VD x) {
  if constexpr (kTier != Tier::kHA) {
    const VD h = exp_half16<kTier>(abs(x));
    return h + splat<VD>(0.25) / h;
  } else {
    const SinhCosh s = sinh_cosh(abs(x));
    return s.ch + s.cl;
  }
}
// e^b - 1 for 0 <= b <= 44 from the 16-row table: (S - 1) + 2^k (T_lo + T p) with
// S = 2^k T_hi, S - 1 exact within ln 2 of 0 (as the exponential family's Expm1 LA). EP cuts the
// series after r^4 (2^-35 of r).
template <Tier kTier>
inline VD expm1_16(VD b) {
  const DExpReduced v = dexp_reduce<4>(b, b);
  const VD thi = exp16_at(0, v.m), tlo = exp16_at(1, v.m);
  const VD scale = dexp_scale<4>(v.m);
  const VD q = kTier == Tier::kEP ? horner(v.r, kExpEP16) : horner(v.r, tb::kDExpm1LA16);
  const VD p = mul_add(v.r * v.r, q, v.r);
  return mul_add(scale, mul_add(thi + tlo, p, tlo), mul_sub(scale, thi, splat<VD>(1.0)));
}

// tanh: a stops at kDMinusGone, where tanh is 1 in double. HA: sinh / cosh, corrected once by the
// remainder of the whole sums, so only the last division rounds.
template <Tier kTier>
inline VD tanh_d(VD x) {
  if constexpr (kTier != Tier::kHA) {
    // tanh a = E / (E + 2), E = e^(2a) - 1: E's relative error passes on scaled by 2 / (E + 2).
    const VD e = expm1_16<kTier>(splat<VD>(2.0) * min(abs(x), splat<VD>(kDMinusGone)));
    return or_sign(e / (e + splat<VD>(2.0)), x);
  } else {
    const SinhCosh s = sinh_cosh(min(abs(x), splat<VD>(kDMinusGone)));
    const VD den = s.ch + s.cl;
    const VD q = (s.sh + s.sl) / den;
    VD p, pe;
    two_prod(q, s.ch, p, pe);
    const VD rem = ((s.sh - p) - pe) + nmul_add(q, s.cl, s.sl);
    return or_sign(q + rem / den, x);
  }
}

// ============================================================================================
// The inverses through ln(u + c), u + c >= 1 given as a sum of two doubles
// ============================================================================================

// ln(u + c) + kadj ln 2: HA and LA with the table logarithm, EP without a table (some 2^-37); on
// AVX-512 every tier from the 32-row register table.
#if ZOK_ISA_LEVEL == 3
// LA and EP on AVX-512: the one-part register-table logarithm, ln(rcp u) = r + r^2 P(r) with
// r = u rcp - 1 exact, -ln rcp read by a permute; c/u = c rcp 2^-e / (1 + r) joins r as
// c rcp 2^-e (1 - r).
template <const auto& kP>
inline VD ln_sum_reg(VD u, VD c, VD kadj) {
  const DLogRegReduced v = dlog_reg_reduce(u, kadj);
  const VD cr = c * v.rcp;
  const VD cu{_mm512_scalef_pd(nmul_add(cr, v.r, cr).v, (kadj - v.k).v)};
  const VD p = mul_add(v.r * v.r, horner(v.r, kP), v.r + cu);
  return mul_add(v.k, splat<VD>(tb::kLn2), lookup_reg<32>(tb::kDLogR32[2], v.row) + p);
}
#endif

#if ZOK_ISA_LEVEL == 3
// The LA logarithm of 1 + v scaled by kS (1 or 1/2), 1 + v never formed: u, any estimate of 1 + v
// within some 2^-14 of it, only picks the exponent k and the reciprocal rcp = j/32 (as
// dlog_reg_reduce does), and h = kS r = kS ((1 + v) 2^-k rcp - 1) comes from one fused
// multiply-add of exact terms, (v p) rcp + (rcp p - kS) with p = kS 2^-k: rcp p - kS is exact
// while k stays below 48 (beyond, its rounding lies under 2^-100 of the result). So neither the
// rounding of 1 + v nor the estimate costs anything (the estimate widens |r| from 0.02356 to at
// most 0.02363, inside the polynomial's interval), and u can come from estimates beside a division or a root
// rather than after it. Where `no_one` is set the 1 drops out and the logarithm is of v itself (then u = v).
// kS ln(1 + r) = h + h^2 Q(h) with Q_i = P_i / kS^(i+1), exact scalings of the LA coefficients, by Estrin's
// scheme; -kS ln rcp is the row of the register table scaled by kS, and the widest part,
// kS ((k + kadj) ln2 - ln rcp), comes in last.
template <int kHalf>
struct ScaledLn {
  static constexpr double kS = kHalf ? 0.5 : 1.0;
  static constexpr size_t kN = std::size(tb::kDLnR32LA);
  struct Q {
    alignas(64) double c[kN];
  };
  struct T {
    alignas(64) double c[32];
  };
  static constexpr Q q() {
    Q out{};
    double f = 1.0 / kS;
    for (size_t i = 0; i < kN; ++i, f /= kS) out.c[i] = tb::kDLnR32LA[i] * f;
    return out;
  }
  static constexpr T t() {
    T out{};
    for (size_t i = 0; i < 32; ++i) out.c[i] = tb::kDLogR32[2][i] * kS;
    return out;
  }
  static constexpr Q kQ = q();
  static constexpr T kT = t();
};
template <int kHalf>
inline VD ln1p_la_reg(VD u, VD v, MD no_one, VD kadj) {
  using S = ScaledLn<kHalf>;
  const VD m{_mm512_getmant_pd(u.v, _MM_MANT_NORM_p75_1p5, _MM_MANT_SIGN_src)};
  const VD nk = VD{_mm512_getexp_pd(m.v)} - VD{_mm512_getexp_pd(u.v)};
  const VD rcp{
      _mm512_roundscale_pd(_mm512_rcp14_pd(m.v), (5 << 4) | _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)};
  // 2^47 + j/32 is exact and leaves j in the low bits.
  const VL row = as_int(rcp + splat<VD>(0x1p47));
  const VD p{_mm512_scalef_pd(splat<VD>(S::kS).v, nk.v)};
  const VD h = mul_add(v * p, rcp, mul_sub(rcp, drop(no_one, p), splat<VD>(S::kS)));
  const VD poly = mul_add(h * h, estrin(h, S::kQ.c), h);
  const VD top = nmul_add(nk - kadj, splat<VD>(tb::kLn2 * S::kS), lookup_reg<32>(S::kT.c, row));
  return top + poly;
}
#endif

template <Tier kTier>
inline VD ln_sum(VD u, VD c, VD kadj) {
#if ZOK_ISA_LEVEL == 3
  if constexpr (kTier == Tier::kLA) return ln_sum_reg<tb::kDLnR32LA>(u, c, kadj);
  if constexpr (kTier == Tier::kEP) return ln_sum_reg<tb::kDLnR32EP>(u, c, kadj);
  if constexpr (kTier == Tier::kHA) return dln_sum_reg_ha(u, c, kadj);
#endif
  if constexpr (kTier == Tier::kEP) {
    // c, the rounding of u = 1 + v, is at most half an ulp of u: c/u as c (2 - u) below 2 (off by
    // c (u - 1)^2 / u) and dropped above (under 2^-52 of ln u), with no division.
    const VD cu = c * max(splat<VD>(2.0) - u, splat<VD>(0.0));
    return dlog_normal<true>(u) + mul_add(kadj, splat<VD>(tb::kLn2), cu);
  } else {
    return dln_sum_ha(u, c, kadj);
  }
}

// u + c = 1 + v for v >= 0. EP's sum is exact only below v = 1; above, c stays within an ulp of u,
// which the EP logarithms drop or take within 2^-51 of the result.
template <Tier kTier>
inline void one_plus(VD v, VD& u, VD& c) {
  if constexpr (kTier == Tier::kEP) {
    fast_two_sum(splat<VD>(1.0), v, u, c);
  } else {
    two_sum(splat<VD>(1.0), v, u, c);
  }
}

// sqrt(h + l) as hi + lo (h + l > 0 or h = l = 0), the low part from the exact remainder.
inline void sqrt_sum(VD h, VD l, VD& sh, VD& sl) {
  sh = sqrt(h);
  VD p, e;
  two_prod(sh, sh, p, e);
  const MD pos = sh > splat<VD>(0.0);
  sl = keep(pos, (((h - p) - e) + l) / (sh + sh));
}

// The argument of the logarithm for large a: ln(2a) as ln a + ln 2.
struct LnArg {
  VD u, c, kadj;
};
inline LnArg large_or(MD large, VD a, LnArg small) {
  return {select(large, small.u, a), drop(large, small.c), keep(large, splat<VD>(1.0))};
}

// asinh a = ln(a + sqrt(1 + a^2)). HA (the double LA too): 1 + a^2, its root and a + root each as
// exact sums. EP splits at 4: below, ln(1 + v) with v = a + a^2 / (1 + sqrt(1 + a^2)) free of
// cancellation; above, ln(a + sqrt(1 + a^2)) directly. EP takes a^2 / (1 + s) as s - 1 (an exact
// difference; s lies within 2^-52 of its value, 2^-39 of v from 2^-13 on) or as a^2 / 2 below 2^-13
// (within 2^-28 of the term), sparing the division.
template <Tier kTier, Tier kLog = kTier>
inline VD asinh_d(VD x) {
  const VD a = abs(x), one = splat<VD>(1.0);
  LnArg g;
  if constexpr (kTier == Tier::kHA) {
    VD ph, pl, uh, ue, sh, sl;
    two_prod(a, a, ph, pl);
    two_sum(one, ph, uh, ue);
    sqrt_sum(uh, ue + pl, sh, sl);
    two_sum(a, sh, g.u, g.c);
    g.c = g.c + sl;
  } else {
    const VD s = sqrt(mul_add(a, a, one));
    VD u1, c1;
    const VD w = kTier == Tier::kEP ? select(a < splat<VD>(0x1p-13), s - one, splat<VD>(0.5) * a * a)
                                    : a * a / (one + s);
    one_plus<kTier>(a + w, u1, c1);
    const MD below4 = a < splat<VD>(4.0);
    g.u = select(below4, a + s, u1);
    g.c = keep(below4, c1);
  }
  g = large_or(a >= splat<VD>(kDLogTwoA), a, g);
  const VD y = ln_sum<kLog>(g.u, g.c, g.kadj);
  return or_sign(select(a < splat<VD>(kDTiny), y, a), x);
}

// acosh x = ln(x + sqrt(x^2 - 1)) for x >= 1, with x^2 - 1 = t (x + 1), t = x - 1 exact. HA: the
// product and root as exact sums. LA and EP split at 4: below, ln(1 + v) with v = t + sqrt(t (t + 2))
// free of cancellation near 1; above, the formula directly, with the same root (t (t + 2) is x^2 - 1
// within two roundings there): one square root for both.
template <Tier kTier>
inline VD acosh_d(VD x) {
  const VD one = splat<VD>(1.0), t = x - one;
  LnArg g;
  if constexpr (kTier == Tier::kHA) {
    VD qh, qe, ph, pl, sh, sl;
    two_sum(x, one, qh, qe);
    two_prod(t, qh, ph, pl);
    sqrt_sum(ph, mul_add(t, qe, pl), sh, sl);
    two_sum(x, sh, g.u, g.c);
    g.c = g.c + sl;
  } else {
    VD u1, c1;
    const VD w = sqrt(t * (t + splat<VD>(2.0)));
    one_plus<kTier>(t + w, u1, c1);
    const MD below4 = x < splat<VD>(4.0);
    g.u = select(below4, x + w, u1);
    g.c = keep(below4, c1);
  }
  g = large_or(x >= splat<VD>(kDLogTwoA), x, g);
  return ln_sum<kTier>(g.u, g.c, g.kadj);
}

// atanh a = ln((1 + a) / (1 - a)) / 2 for |a| < 1. HA: numerator, denominator and quotient as exact
// sums; LA and EP: ln(1 + v), v = 2a / (1 - a).
template <Tier kTier>
inline VD atanh_d(VD x) {
  const VD a = abs(x), one = splat<VD>(1.0);
  VD u, c;
  if constexpr (kTier == Tier::kHA) {
    VD nh, nl, dh, dl, p, pe;
    two_sum(one, a, nh, nl);
    two_sum(one, splat<VD>(0.0) - a, dh, dl);
    u = nh / dh;
    two_prod(u, dh, p, pe);
    c = (((nh - p) - pe) + nmul_add(u, dl, nl)) / dh;
  } else {
    one_plus<kTier>((a + a) / (one - a), u, c);
  }
  const VD y = splat<VD>(0.5) * ln_sum<kTier>(u, c, splat<VD>(0.0));
  return or_sign(select(a < splat<VD>(kDTiny), y, a), x);
}

// ============================================================================================
// Scalar e^a / 2 beyond the fast ranges
// ============================================================================================

// e^a / 2 for 0 <= a, from N = round(a 64/ln2), its own two-part ln2/64 (N hi exact) and the table
// of 2^(j/64) in two parts; the power of two is applied in two steps so that nothing overflows
// before the result, which is +inf exactly when e^a / 2 overflows.
inline double exp_half_beyond(double a) {
  if (!(a < 711.0)) return kInfD;  // beyond ln(2 DBL_MAX) by far: N would only grow
  const double t = a * tb::kDInvL64 + kDShift;
  const int64_t n = static_cast<int64_t>(to_bits(t)) - kDShiftBits;
  const double d = t - kDShift;
  const double r = (a - d * hb::kL64Hi) - d * hb::kL64Lo;
  const int j = static_cast<int>(n & 63), e = static_cast<int>(n >> 6);
  const double thi = tb::kDExpHiLo[j][0], tlo = tb::kDExpHiLo[j][1];
  const double q = r * r * horner(r, tb::kDExpC);
  const double mant = thi + (tlo + (thi + tlo) * (r + q));
  return mant * pow2(e - 2) * 2.0;
}

// A double formula as the vector computation of a policy: on a double vector, or on the two halves
// of a float vector.
template <VD (*kD)(VD)>
struct InDouble {
  static VD apply(VD x) { return kD(x); }
  static VF apply(VF x) { return narrow(kD(widen_lo(x)), kD(widen_hi(x))); }
};

// ============================================================================================
// The policy of every hyperbolic kernel
// ============================================================================================

enum class Func { kSinh, kCosh, kTanh, kAsinh, kAcosh, kAtanh };

// Sinh and Cosh leave the vector path at 709 in double (2^(N/64) / 2 stays normal) and at
// 89.41056060791016 in float; float results overflow from 89.4159927368164 on.
template <typename T>
constexpr T kSinhCoshFast = sizeof(T) == 8 ? T(709.0) : T(89.41056060791016);
constexpr float kSSinhCoshOverflow = 89.4159927368164f;

// Lanes inside the fast range take F's vector formula; the others, in ascending order, the scalar
// path, which gives the special values and reports (in-range elements of a redone block take the
// formula on one lane, so no result depends on its position).
template <Fn kFn, Func kF, typename T, class F, Check kChk = Check::kFixLanes, int kBlock = 8>
struct HypK {
  using V = Vec<T>;
  static constexpr Check kCheck = kChk;
  static constexpr int kUnroll = unroll_for<T>(kBlock);
  static V vec(V x) { return F::apply(x); }
  static unsigned special(V x) {
    const V inf = splat<V>(kInf<T>);
    switch (kF) {
      case Func::kSinh:
      case Func::kCosh:
        return outside<V>(abs(x) < splat<V>(kSinhCoshFast<T>));
      case Func::kAcosh:
        return outside<V>((x >= splat<V>(T(1))) & (x < inf));
      case Func::kAtanh:
        return outside<V>(abs(x) < splat<V>(T(1)));
      default:
        return outside<V>(abs(x) < inf);
    }
  }
  static void scalar(int i, const T* a, T* r) {
    const T x = a[i];
    if (x != x) {
      r[i] = x + x;
      return;
    }
    if ((special(splat<V>(x)) & 1) == 0) {
      r[i] = on_lane<HypK>(x);
      return;
    }
    const T ax = x < 0 ? -x : x, inf = kInf<T>;
    int status = 0;
    T y;
    switch (kF) {
      case Func::kSinh:
      case Func::kCosh:
        if constexpr (sizeof(T) == 4) {
          y = ax == inf ? inf : ax >= kSSinhCoshOverflow ? inf : static_cast<T>(exp_half_beyond(ax));
        } else {
          y = exp_half_beyond(ax);
        }
        if (y == inf && ax != inf) status = ZOK_VM_STATUS_OVERFLOW;
        if (kF == Func::kSinh && x < 0) y = -y;
        break;
      case Func::kTanh:
        y = x < 0 ? T(-1) : T(1);
        break;
      case Func::kAsinh:
        y = x;
        break;
      case Func::kAcosh:
        if (x == inf) {
          y = inf;
        } else {
          const volatile T zero = 0;
          y = zero / zero;
          status = ZOK_VM_STATUS_DOMAIN;
        }
        break;
      case Func::kAtanh:
        if (ax == T(1)) {
          const volatile T zero = 0;
          y = x / zero;
          status = ZOK_VM_STATUS_SING;
        } else {
          const volatile T zero = 0;
          y = zero / zero;
          status = ZOK_VM_STATUS_DOMAIN;
        }
        break;
    }
    r[i] = y;
    if (status != 0) report(status, i, a, a, r, r, vm::traits(kFn).name);
  }
};

}  // namespace
}  // namespace zok::ZOK_ISA_NS
