// Float hyperbolic kernels (Sinh, Cosh, Tanh, Asinh, Acosh, Atanh), compiled once per instruction
// set: HA runs the double EP formulas on widened lanes; LA and EP stay in float lanes without a
// table (e^r by its series, the inverses through one float logarithm).
//
// Contract (measured maxima against MPFR in tests/vm/accuracy_test.cpp):
//   HA within 1 ulp, LA within 4 ulp, EP at least 12 correct bits, over the whole argument range,
//   denormal arguments included.
// Special values, the same in every flavour:
//   Sinh: NaN -> NaN, +-0 -> +-0, +-inf -> +-inf; |x| >= 89.4159927368164 -> +-inf, code 3.
//   Cosh: NaN -> NaN, +-inf -> +inf, +-0 -> 1; |x| >= 89.4159927368164 -> +inf, code 3.
//   Tanh: NaN -> NaN, +-inf -> +-1; never reports.
//   Asinh: NaN -> NaN, +-inf -> +-inf, odd (keeps -0); never reports.
//   Acosh: NaN -> NaN, +inf -> +inf, 1 -> +0; x < 1 (-inf included) -> NaN, code 1.
//   Atanh: NaN -> NaN, odd; +-1 -> +-inf, code 2; |x| > 1 (+-inf included) -> NaN, code 1.
#include "kernels/hyperbolic/hyperbolic_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::kEP;
using vm::kLA;

// Taylor's coefficients, rounded to float (LA and EP read no table: a float table read costs a load
// per lane at AVX-512 width). (e^r - 1) / r on |r| <= ln2/2 to r^6 (LA) or r^4 (EP).
constexpr float kExpM1R[7] = {1.0f, 1.0f / 2, 1.0f / 6, 1.0f / 24, 1.0f / 120, 1.0f / 720, 1.0f / 5040};
constexpr float kExpM1REP[5] = {1.0f, 1.0f / 2, 1.0f / 6, 1.0f / 24, 1.0f / 120};
// 2 cosh r = sum of 2 r^2i / (2i)! and 2 sinh r / r = sum of 2 r^2i / (2i+1)! on 0 <= r < ln2, to
// r^6 and r^4 (EP; LA takes fitted series of the same length as r^6 and r^7, hb::kSTwo*LA), for k
// below m/ln2 (SSE4.1). With k nearest to m/ln2, |r| <= ln2/2, the fitted hb::kSTwo*N* series.
constexpr float kTwoCoshREP[4] = {2.0f, 1.0f, 1.0f / 12, 1.0f / 360};
constexpr float kTwoSinhREP[3] = {2.0f, 1.0f / 3, 1.0f / 60};

// m = k ln2 + r for 0 <= m: the low fraction bits of t = m/ln2 - h + 1.5 2^23 + kBias hold
// k + kBias, k the nearest integer to m/ln2 (h = 0) or the one below it (h = 1/2); r = m - k ln2 in
// two parts (the first product exact), or in one for EP (ln2 rounded to float: k up to 129 moves r
// by 2^-22 at most).
struct FReduced {
  VF r;
  VI bits;  // as_int(t): k + kBias in the low bits
};
template <bool kFloor = false, bool kOnePart = false, int kBias = 0>
inline FReduced freduce(VF m) {
  const VF shift = splat<VF>(12582912.0f + kBias);
  const VF t = kFloor ? mul_add(m, splat<VF>(1.44269502f), splat<VF>(-0.5f)) + shift
                      : mul_add(m, splat<VF>(1.44269502f), shift);
  const VF kf = t - shift;
  if constexpr (kOnePart) return {nmul_add(kf, splat<VF>(0.693147182f), m), as_int(t)};
  return {nmul_add(kf, splat<VF>(tb::kSLn2Lo), nmul_add(kf, splat<VF>(tb::kSLn2Hi), m)), as_int(t)};
}
// 2^(k + e), the exponent field from k's bits (a shift that drops t's own exponent).
template <int kE>
inline VF fscale(VI bits) {
  return as_float(shl<23>(bits + isplat(127 + kE)));
}

// e^m / 4 = (C + S) 2^(k-2) and e^-m / 4 = (C - S) 2^(-k-2) with C = 2 cosh r, S = 2 sinh r; the
// quarters keep 2^(k-2) normal up to the fast range's end at 89.41056060791016. sinh m = C A + S B
// and cosh m = C B + S A with A = 2^(k-2) - 2^(-k-2), B = 2^(k-2) + 2^(-k-2) (both exact while
// k <= 12); from 16 on 2^(-k-2) no longer reaches the result's last bit, and once its exponent
// field would go below 1 (k >= 125) the saturating difference of the fields clears it. With k below
// m/ln2, r >= 0 and no term cancels another (for k = 0, sinh m = S / 2 alone); with k nearest to
// m/ln2, Sinh's S B takes up to 0.56 of C A off at k = 1, r = -ln2/2, and Cosh's S A at most a
// fifth of C B.
struct FSinhCosh {
  VF c, s, a, b;  // c = C - 1 with k nearest
};
// With k nearest, C - 1 and S / r - 1 from the series: the callers add the 1 back through A or B, an
// exact term (sinh m = (C - 1) A + (S B + A)), so that C and S round at half their size (S as
// r + r (S / r - 1)); where Sinh's terms cancel, the LA result stays within 2.6 ulp.
inline constexpr float kCoshNLA1[4] = {hb::kSTwoCoshNLA[0] - 1, hb::kSTwoCoshNLA[1], hb::kSTwoCoshNLA[2],
                                       hb::kSTwoCoshNLA[3]};
inline constexpr float kSinhNLA1[3] = {hb::kSTwoSinhNLA[0] - 1, hb::kSTwoSinhNLA[1], hb::kSTwoSinhNLA[2]};
inline constexpr float kCoshNEP1[2] = {hb::kSTwoCoshNEP[0] - 1, hb::kSTwoCoshNEP[1]};
inline constexpr float kSinhNEP1[2] = {hb::kSTwoSinhNEP[0] - 1, hb::kSTwoSinhNEP[1]};
template <bool kEP, bool kFloor>
inline FSinhCosh fsinh_cosh(VF m) {
  // k nearest: k + 125 in t's low bits, where the shift alone leaves the exponent field of 2^(k-2)
  // (k <= 129). k below: an even shift, so that m/ln2 - 1/2 = -1/2 (m = 0) still rounds to k = 0.
  constexpr bool kOnePart = kEP && !kFloor;
  constexpr int kBias = kFloor ? 0 : 125;
  const FReduced v = freduce<kFloor, kOnePart, kBias>(m);
  const VF z = v.r * v.r;
  const VF up = kFloor ? fscale<-2>(v.bits) : as_float(shl<23>(v.bits));
  const VF down = as_float(sub_sat16(isplat(250 << 23), as_int(up)));
  if constexpr (kFloor) {
    if constexpr (kEP) {
      return {horner(z, kTwoCoshREP), v.r * horner(z, kTwoSinhREP), up - down, up + down};
    } else {
      return {horner(z, hb::kSTwoCoshLA), v.r * horner(z, hb::kSTwoSinhLA), up - down, up + down};
    }
  } else {
    if constexpr (kEP) {
      return {horner(z, kCoshNEP1), mul_add(v.r, horner(z, kSinhNEP1), v.r), up - down, up + down};
    } else {
      return {horner(z, kCoshNLA1), mul_add(v.r, horner(z, kSinhNLA1), v.r), up - down, up + down};
    }
  }
}
// Sinh and Cosh take k nearest to m/ln2 where a fused multiply-add joins the two products; without
// one (SSE4.1) C A or C B alone would overflow at the top of the range (k = 129, r < 0) before the
// other term brings it back, and k stays below m/ln2.
constexpr bool kHypFloor = ZOK_ISA_LEVEL == 1;
template <bool kEP>
struct FCosh {
  static VF apply(VF x) {
    const FSinhCosh e = fsinh_cosh<kEP, kHypFloor>(abs(x));
    if constexpr (kHypFloor) return mul_add(e.c, e.b, e.s * e.a);
    return mul_add(e.c, e.b, mul_add(e.s, e.a, e.b));
  }
};
template <bool kEP>
struct FSinh {
  static VF apply(VF x) {
    const FSinhCosh e = fsinh_cosh<kEP, kHypFloor>(abs(x));
    if constexpr (kHypFloor) return or_sign(mul_add(e.c, e.a, e.s * e.b), x);
    return or_sign(mul_add(e.c, e.a, mul_add(e.s, e.b, e.a)), x);
  }
};
// Tanh = E / (E + 2) with E = e^2m - 1 = 2^k q + (2^k - 1), q = e^r - 1 (2^k - 1 exact): no
// cancellation near 0, and the error of E reaches the result damped by 2 / (E + 2). |x| stops at
// 9.5, where tanh is 1 in float.
template <bool kEP>
struct FTanh {
  static VF apply(VF x) {
    const VF m = min(abs(x), splat<VF>(9.5f));
    const FReduced v = freduce(m + m);
    const VF p = kEP ? horner(v.r, kExpM1REP) : horner(v.r, kExpM1R);
    const VF sc = fscale<0>(v.bits);
    const VF e = mul_add(sc, v.r * p, sc - splat<VF>(1.0f));
    return or_sign(e / (e + splat<VF>(2.0f)), x);
  }
};

// ln(1 + v) for v >= 0 in float lanes; lanes flagged `direct` take ln v + ln 2 instead (asinh and
// acosh of arguments from 2^12 on, where 1/(4v^2) lies below 2^-26 of the result). u = 1 + v (or v)
// = 2^k m, m in [2/3, 4/3). LA moves the rounding error c of 1 + v into the reduced argument,
// 1 + v = 2^k (m + c 2^-k), f = (m - 1) + c 2^-k, and sums k ln 2 + f + f^2 P(f) (P of degree 7,
// 2^-24.9): c = v - (u - 1) is exact while u stays below 2^24 (beyond every lane that is not
// direct), and wherever k is 0, f is v itself. EP takes f = v below 1/4, m - 1 above, and leaves c
// out (P of degree 3, 2^-13.2).
template <bool kEP, bool kDirect = true>
inline VF ln1p_f(VF v, MF direct) {
  const VF one = splat<VF>(1.0f);
  const VF s = v + one;
  const VF u = kDirect ? select(direct, s, v) : s;
  const VI d = as_int(u) - isplat(static_cast<int32_t>(tb::kSTwoThirdsBits));
  const VF m = as_float((d & isplat(0x007FFFFF)) + isplat(static_cast<int32_t>(tb::kSTwoThirdsBits)));
  VF k = to_float(sar<23>(d));
  if constexpr (kDirect) k = k + keep(direct, one);
  if constexpr (kEP) {
    const VF f = select(v < splat<VF>(0.25f), m - one, v);
    return mul_add(k, splat<VF>(tb::kSLn2), mul_add(f * f, horner(f, tb::kSLnEP), f));
  } else {
    VF c = v - (s - one);
    if constexpr (kDirect) c = drop(direct, c);
    // 2^-k from the exponent bits of u; k stays below 127 here (u < 2^127 from v < 2^126, or the
    // direct lanes, whose c is 0 and whose 2^-k may be +0 or -inf: the maximum with 0 clears it).
    const VF scale =
        max(as_float(isplat(0x3F800000) - (d & isplat(static_cast<int32_t>(0xFF800000u)))), splat<VF>(0.0f));
    const VF f = mul_add(c, scale, m - one);
    return mul_add(f * f, horner(f, hb::kSLog1pF), mul_add(k, splat<VF>(tb::kSLn2), f));
  }
}
constexpr float kSDirect = 4096.0f;

// asinh a = ln(1 + v), v = a + a^2 / (1 + sqrt(1 + a^2)) free of cancellation.
template <bool kEP>
struct FAsinh {
  static VF apply(VF x) {
    const VF a = abs(x), one = splat<VF>(1.0f);
    const MF direct = a >= splat<VF>(kSDirect);
    const VF v = a + a * a / (one + sqrt(mul_add(a, a, one)));
    return or_sign(ln1p_f<kEP>(select(direct, v, a), direct), x);
  }
};
// acosh x = ln(1 + v), v = t + sqrt(t (t + 2)) with t = x - 1, exact for every x >= 1.
template <bool kEP>
struct FAcosh {
  static VF apply(VF x) {
    const VF t = x - splat<VF>(1.0f);
    const MF direct = x >= splat<VF>(kSDirect);
    const VF v = t + sqrt(mul_add(t, t, t + t));
    return ln1p_f<kEP>(select(direct, v, x), direct);
  }
};
// atanh a = ln(1 + v) / 2, v = 2a / (1 - a).
template <bool kEP>
struct FAtanh {
  static VF apply(VF x) {
    const VF a = abs(x);
    const VF v = (a + a) / (splat<VF>(1.0f) - a);
    return or_sign(splat<VF>(0.5f) * ln1p_f<kEP, false>(v, MF{}), x);
  }
};

#if ZOK_ISA_LEVEL == 2
// Atanh HA on AVX2: the double EP formula with the float Ln HA polynomial, Horner's degree 10 in
// place of Estrin's degree 12 (2^-29 relative: within 0.55 ulp once rounded to float). Below
// a = 2^-27 too: u = 1 + v and its rounding error c keep v/2 to 2^-52, off by a relative a.
inline VD atanh_float_ha(VD x) {
  const VD a = abs(x), one = splat<VD>(1.0);
  VD u, c;
  one_plus<Tier::kEP>((a + a) / (one - a), u, c);
  const VD cu = c * max(splat<VD>(2.0) - u, splat<VD>(0.0));
  return or_sign(splat<VD>(0.5) * (dlog_normal<false, tb::kSLnHA>(u) + cu), x);
}
#endif

// The double EP formulas keep some 2^-37 relative, which rounds to float within 0.5001 ulp: HA runs
// them on widened lanes; LA and EP take K in float.
// Blocks of 16 floats: at AVX2 width two vectors share one look for special lanes and one branch.
template <Func kF, template <bool> class K, VD (*kHa)(VD)>
struct FloatHyp {
  template <Fn f, int s>
  using Of = HypK<f, kF, float, BySlot<s, K<false>, InDouble<kHa>, K<true>>, Check::kFixLanes, 16>;
};

}  // namespace

void register_hyperbolic_float(vm::KernelSlots& s) {
  using enum Fn;
  reg<sSinh, FloatHyp<Func::kSinh, FSinh, sinh_d<Tier::kEP>>::Of>(s);
  reg<sCosh, FloatHyp<Func::kCosh, FCosh, cosh_d<Tier::kEP>>::Of>(s);
  reg<sTanh, FloatHyp<Func::kTanh, FTanh, tanh_d<Tier::kEP>>::Of>(s);
  reg<sAsinh, FloatHyp<Func::kAsinh, FAsinh, asinh_d<Tier::kEP>>::Of>(s);
  reg<sAcosh, FloatHyp<Func::kAcosh, FAcosh, acosh_d<Tier::kEP>>::Of>(s);
#if ZOK_ISA_LEVEL == 2
  reg<sAtanh, FloatHyp<Func::kAtanh, FAtanh, atanh_float_ha>::Of>(s);
#else
  reg<sAtanh, FloatHyp<Func::kAtanh, FAtanh, atanh_d<Tier::kEP>>::Of>(s);
#endif
}

}  // namespace zok::ZOK_ISA_NS
