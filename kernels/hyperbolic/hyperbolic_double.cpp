// Double hyperbolic kernels (Sinh, Cosh, Tanh, Asinh, Acosh, Atanh), compiled once per instruction
// set. Tables and series come from tools/gen_hyperbolic_tables.py and the exponential family.
//
// Contract (measured maxima against MPFR in tests/vm/accuracy_test.cpp):
//   HA within 1 ulp, LA within 4 ulp, EP at least 26 correct bits, over the whole argument range,
//   denormal arguments included.
// Special values, the same in every flavour:
//   Sinh: NaN -> NaN, +-0 -> +-0, +-inf -> +-inf; |x| >= 710.475860073944 -> +-inf, code 3 (finite
//     results through 710.4758600739439).
//   Cosh: NaN -> NaN, +-inf -> +inf, +-0 -> 1; |x| >= 710.475860073944 -> +inf, code 3.
//   Tanh: NaN -> NaN, +-inf -> +-1; never reports.
//   Asinh: NaN -> NaN, +-inf -> +-inf, odd (keeps -0); never reports.
//   Acosh: NaN -> NaN, +inf -> +inf, 1 -> +0; x < 1 (-inf included) -> NaN, code 1.
//   Atanh: NaN -> NaN, odd; +-1 -> +-inf, code 2; |x| > 1 (+-inf included) -> NaN, code 1.
#include "kernels/hyperbolic/hyperbolic_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::kHA;

// HA in slot 1, LA in slot 0, EP in slot 2.
template <int s, VD (*kHa)(VD), VD (*kLa)(VD), VD (*kEp)(VD)>
using Tiered = InDouble<s == kHA       ? kHa
                        : s == vm::kEP ? kEp
                                       : kLa>;

// Sinh and Cosh LA and EP without a table or a division: a = k ln2 + r with k nearest to a/ln2,
// and sinh a = D cosh r + S sinh r, cosh a = S cosh r + D sinh r with D = 2^(k-1) - 2^(-k-1),
// S = 2^(k-1) + 2^(-k-1) (exact while k stays below 27; past that 2^(-k-1) falls under the result's
// last bit). For k = 0, D = 0 and S = 1 leave sinh r = r + r z Q(z) or cosh r = 1 + z P(z) alone,
// with no cancellation near 0; for Sinh at k = 1 and r < 0, S sinh r takes up to 0.6 of D cosh r
// off, so cosh r enters as D + D z P(z) and only the last two sums round at the result's scale
// (Cosh's D sinh r takes at most a fifth off S cosh r). 2^(-k-1) is 0 once its exponent field
// would go below 1 (k >= 1022): the saturating difference of the fields clears it.
template <bool kCosh, const auto& kQ, const auto& kP>
inline VD hyp_near(VD x) {
  // t's low bits hold k + 1022 (k <= 1023): the shift drops t's own exponent and leaves the
  // exponent field of 2^(k-1).
  const VD a = abs(x), shift = splat<VD>(kDShift + 1022);
  const VD t = mul_add(a, splat<VD>(tb::kDInvL64 / 64), shift);
  const VD d = t - shift;
  // ln2 as 64 times the parts of ln2/64: d below 2^11 keeps d * kDL64a * 64 exact.
  const VD r = nmul_add(d, splat<VD>(tb::kDL64b * 64), nmul_add(d, splat<VD>(tb::kDL64a * 64), a));
  const VL ub = shl<52>(as_int(t));
  const VD up = as_double(ub), down = as_double(sub_sat16(lbits(int64_t{2044} << 52), ub));
  const VD dd = up - down, ss = up + down;
  const VD z = r * r;
  const VD sh = mul_add(r * z, horner(z, kQ), r);
  if constexpr (kCosh) {
    return mul_add(ss * z, horner(z, kP), mul_add(dd, sh, ss));
  } else {
    return or_sign(mul_add(dd * z, horner(z, kP), mul_add(ss, sh, dd)), x);
  }
}
template <const auto& kQ, const auto& kP>
inline VD sinh_near(VD x) {
  return hyp_near<false, kQ, kP>(x);
}
template <const auto& kQ, const auto& kP>
inline VD cosh_near(VD x) {
  return hyp_near<true, kQ, kP>(x);
}

template <Fn f, int s>
using SinhOf = HypK<f, Func::kSinh, double,
                    Tiered<s, sinh_d<Tier::kHA>, sinh_near<hb::kDSinhQLA, hb::kDCoshPLA>,
                           sinh_near<hb::kDSinhQEP, hb::kDCoshPEP>>>;
// Cosh LA and EP: without a fused multiply-add (SSE4.1) the division of h + 1/(4h) costs less than
// the longer unfused chain.
#if ZOK_ISA_LEVEL == 1
constexpr VD (*kCoshLaK)(VD) = cosh_d<Tier::kLA>;
constexpr VD (*kCoshEpK)(VD) = cosh_d<Tier::kEP>;
#else
constexpr VD (*kCoshLaK)(VD) = cosh_near<hb::kDSinhQLA, hb::kDCoshPLA>;
constexpr VD (*kCoshEpK)(VD) = cosh_near<hb::kDSinhQEP, hb::kDCoshPEP>;
#endif
template <Fn f, int s>
using CoshOf = HypK<f, Func::kCosh, double, Tiered<s, cosh_d<Tier::kHA>, kCoshLaK, kCoshEpK>>;
template <Fn f, int s>
using TanhOf =
    HypK<f, Func::kTanh, double, Tiered<s, tanh_d<Tier::kHA>, tanh_d<Tier::kLA>, tanh_d<Tier::kEP>>>;
// EP Asinh and Acosh: ln u + kadj ln2 for u >= 1, to some 2^-29 of the result, by the double
// logarithm with P of degree 9 (the float flavours' double logarithm carries 37 bits and three
// terms more).
inline VD ln_ep(VD u, VD kadj) {
  return dlog_normal<true, hb::kDLog1pEP>(u, kadj);
}

// The argument of ln_ep: u itself below kDLogTwoA and a with ln 2 added from there (where u would be
// 2a to well under an ulp, and a^2 may overflow).
inline VD ln_ep_or_large(VD u, VD a) {
  const MD large = a >= splat<VD>(kDLogTwoA);
  return ln_ep(select(large, u, a), keep(large, splat<VD>(1.0)));
}

// asinh a = ln(a + sqrt(1 + a^2)) with no split but the two ends: the rounding of u (2^-53 near 1)
// costs at most 2^-37 of the result from 2^-16 on, and below that a alone is within a^2/6 (2^-34.5)
// of it.
inline VD asinh_ep(VD x) {
  const VD a = abs(x);
  const VD y = ln_ep_or_large(a + sqrt(mul_add(a, a, splat<VD>(1.0))), a);
  return or_sign(select(a < splat<VD>(0x1p-16), y, a), x);
}

// acosh x = ln(x + w), w = sqrt(t (t + 2)) = sqrt(x^2 - 1) with t = x - 1 exact: near 1 the result
// is about w >= 2^-25.5, so the rounding of x + w (2^-53 there) stays within 2^-27.5 of it.
inline VD acosh_ep(VD x) {
  const VD t = x - splat<VD>(1.0);
  return ln_ep_or_large(x + sqrt(t * (t + splat<VD>(2.0))), x);
}

#if ZOK_ISA_LEVEL == 3
// Asinh LA on AVX-512 without a division: ln(1 + v) (ln1p_la_reg), v = a + w and
// w = sqrt(1 + a^2) - 1 = (s - 1) + D / (2s), s = sqrt(q) rounded, q = 1 + a^2 rounded, and
// D = (q - s^2) + (1 + a^2 - q), both parts exact but for one rounding of the second (the first
// is the remainder of a correctly rounded root, the second the rounding error of q while q stays
// below 2^53; beyond, the error of D stays within a few units against 2s). 1/(2s) is the 14-bit
// reciprocal root estimate y0 of q halved and refined once (2^-28), from q alone, so it is ready
// beside the root: D is at most about an ulp of s, so w stays within 2^-80 of its value past its
// own rounding, some 2^-53 of v from a = 2^-27 on (below, the result is a); v's own rounding costs
// at most half an ulp of the result. The logarithm's reduction starts from a + q y0, within 2^-14
// of 1 + v, also beside the root. One formula up to kDLogTwoA, no split at 4; from there ln a + ln 2.
inline VD asinh_la_nodiv(VD x) {
  const VD a = abs(x), one = splat<VD>(1.0);
  const VD q = mul_add(a, a, one);
  const VD s = sqrt(q);
  const VD d = nmul_add(s, s, q) + mul_add(a, a, one - q);
  const VD y0{_mm512_rsqrt14_pd(q.v)};
  const VD t = q * y0, hh = splat<VD>(0.5) * y0;
  const VD h = mul_add(hh, nmul_add(t, hh, splat<VD>(0.5)), hh);
  const VD v = a + mul_add(d, h, s - one);
  const MD large = a >= splat<VD>(kDLogTwoA);
  const VD y = ln1p_la_reg<0>(select(large, a + t, a), select(large, v, a), large, keep(large, one));
  return or_sign(select(a < splat<VD>(kDTiny), y, a), x);
}
constexpr VD (*kAsinhLaK)(VD) = asinh_la_nodiv;

// Atanh LA on AVX-512: ln(1 + v) / 2 with v = 2a / (1 - a) (the logarithm halved through its
// table and coefficients); the reduction starts from (1 + a) rcp14(1 - a), beside the division.
inline VD atanh_la_reg(VD x) {
  const VD a = abs(x), one = splat<VD>(1.0);
  const VD v = (a + a) / (one - a);
  const VD u0 = (one + a) * rcp(one - a);
  const VD y = ln1p_la_reg<1>(u0, v, MD{__mmask8(0)}, splat<VD>(0.0));
  return or_sign(select(a < splat<VD>(kDTiny), y, a), x);
}
constexpr VD (*kAtanhLaK)(VD) = atanh_la_reg;

// Acosh LA on AVX-512: ln(1 + v) with v = t + sqrt(t (t + 2)), t = x - 1 exact; the logarithm's
// reduction starts from x + q rsqrt14(q) (q at least 2^-1000 there, so that x = 1 gives x).
inline VD acosh_la_reg(VD x) {
  const VD one = splat<VD>(1.0), t = x - one;
  const VD q = t * (t + splat<VD>(2.0));
  const VD y0{_mm512_rsqrt14_pd(max(q, splat<VD>(0x1p-1000)).v)};
  const MD large = x >= splat<VD>(kDLogTwoA);
  return ln1p_la_reg<0>(select(large, x + q * y0, x), select(large, t + sqrt(q), x), large, keep(large, one));
}
constexpr VD (*kAcoshLaK)(VD) = acosh_la_reg;
#else
constexpr VD (*kAcoshLaK)(VD) = acosh_d<Tier::kLA>;
// Asinh LA takes HA's formula: its exact sums cost less than LA's two branches.
constexpr VD (*kAsinhLaK)(VD) = asinh_d<Tier::kHA, Tier::kLA>;
constexpr VD (*kAtanhLaK)(VD) = atanh_d<Tier::kLA>;
#endif

template <Fn f, int s>
using AsinhOf = HypK<f, Func::kAsinh, double, Tiered<s, asinh_d<Tier::kHA>, kAsinhLaK, asinh_ep>>;
template <Fn f, int s>
using AcoshOf = HypK<f, Func::kAcosh, double, Tiered<s, acosh_d<Tier::kHA>, kAcoshLaK, acosh_ep>>;
template <Fn f, int s>
using AtanhOf = HypK<f, Func::kAtanh, double, Tiered<s, atanh_d<Tier::kHA>, kAtanhLaK, atanh_d<Tier::kEP>>>;

}  // namespace

void register_hyperbolic_double(vm::KernelSlots& s) {
  using enum Fn;
  reg<dSinh, SinhOf>(s);
  reg<dCosh, CoshOf>(s);
  reg<dTanh, TanhOf>(s);
  reg<dAsinh, AsinhOf>(s);
  reg<dAcosh, AcoshOf>(s);
  reg<dAtanh, AtanhOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
