// Float inverse trigonometric kernels (Asin, Acos, Atan, Atan2), compiled once per instruction set.
// Coefficients and constants come from tools/gen_trig_tables.py.
//
// Contract (measured against MPFR in tests/vm/accuracy_test.cpp): HA within 1 ulp, LA within 4,
// EP within 2^12. Where multiply-adds fuse (AVX2, AVX-512) HA works in float: Atan and Atan2 reduce
// around 0 and 1 and carry the quotient's rounding error, Asin and Acos carry the square root's.
// Elsewhere (SSE4.1) HA evaluates the double formulas (without their second double) and rounds once. LA and
// EP work in float: Atan and Atan2 on the quotient of the smaller and larger magnitudes, Asin and Acos on
// sqrt((1 - |x|)/2) above 1/2, adding the polynomial's value to the constant by one multiply-add. EP Atan is
// the fixed formula on the unrefined reciprocal estimate of the instruction set (rcpps or rcp14ps) above 1,
// without a special path. Below AVX-512, LA Atan and LA and EP Atan2 use the shorter forms further
// down (EP Atan2 a polynomial of degree 9). Measured maxima: LA Atan 2.77 ulp, Atan2 2.17; EP Atan2
// 2107 ulp. Special values: NaN -> NaN silently; Asin, Acos of |x| > 1 (infinities too) NaN,
// code 1; Atan of
// +-inf is +-pi/2; Atan2 of zeros and infinities takes the limits of each quadrant, never reported.
#include "kernels/trig/atrig_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

// The magnitudes of the vector paths; kLo goes unread where every Atan2 kernel tests its own lanes.
struct SRange {
  [[maybe_unused]] static constexpr float kLo = std::numeric_limits<float>::denorm_min();
  static constexpr float kHi = std::numeric_limits<float>::max();
};

// atan2(a, b) in float, rounded about once. With y <= x the smaller and larger magnitudes, atan(y/x)
// = c pi/4 + atan z with z = (y - c x)/(x + c y): c = 1 where y >= x/2 (the numerator exact, z in
// [-1/3, 0]), c = 0 below (z < 1/2). The denominator is kept as two floats and the quotient's
// rounding error carried through its residual; the constants K + sigma c pi/4 (pi/4 is half of each
// float of pi/2) are two floats. The angle is formed as in atan2_core. Needs the nonzero magnitudes
// within [2^-92, 2^60]: the denominator then stays finite and the residual (about 2^-24 of the
// numerator, which is at least an ulp of x) above the denormals; any finite a with |b| = 1 also works.
template <const auto& P>
inline VF atan2_two(VF a, VF b) {
  using A = Angles<float>;
  const VF zero = splat<VF>(0.0f), sign = sign_mask<VF>();
  const VF ya = abs(a), xb = abs(b);
  const VF y = min(ya, xb), x = max(ya, xb);
  const auto swap = xb < ya;
  const auto bneg = negative(b);
  const VF sigma = (b & sign) ^ select(swap, zero, sign);
  const VF kh0 = select(swap, select(bneg, zero, splat<VF>(A::kPiH)), splat<VF>(A::kHalfH));
  const VF kl0 = select(swap, select(bneg, zero, splat<VF>(A::kPiL)), splat<VF>(A::kHalfL));
  const auto low = y < splat<VF>(0.5f) * x;
  const VF cy = select(low, y, zero);
  const VF num = select(low, y - x, y);
  VF dh, dl;
  fast_two_sum(x, cy, dh, dl);
  const VF z = num / dh;
  const VF zl = nmul_add(z, dl, nmul_add(z, dh, num)) / dh;
  const VF ch = select(low, splat<VF>(0.5f * A::kHalfH), zero) ^ sigma;
  const VF cl = select(low, splat<VF>(0.5f * A::kHalfL), zero) ^ sigma;
  VF kh, e;
  two_sum(kh0, ch, kh, e);
  const VF s = z * z;
  const VF t = mul_add(z * s, horner(s, P), zl);
  return finish<true>(kh, e + (kl0 + cl), z ^ sigma, t ^ sigma) ^ (a & sign);
}

// HA Atan and Atan2: in float where multiply-adds fuse; otherwise the double formula on widened
// lanes, which also serves the Atan2 lanes outside atan2_two's range.
template <const auto& P>
struct SAtanHA {
  static VF eval(VF x) {
    if constexpr (kFusedMulAdd) {
      return atan2_two<td::kSAtanHA>(x, splat<VF>(1.0f));
    } else {
      return widened(x, [](VD d) { return atan2_core<P, true, false>(d, splat<VD>(1.0)); });
    }
  }
};
template <const auto& P>
struct SAtan2HA {
  static VF eval(VF a, VF b) {
    return widened(a, b, [](VD y, VD x) { return atan2_core<P, true, false>(y, x); });
  }
};
// HA Asin and Acos: in float, the square root's rounding error carried, where multiply-adds fuse;
// otherwise the double formula on widened lanes.
template <const auto& P, bool kAcos>
struct SAsinHA {
  static VF eval(VF x) {
    if constexpr (kFusedMulAdd) {
      return asin_core<td::kSAsinF13, kAcos, true>(x);
    } else {
      return widened(x, [](VD d) { return asin_core<P, kAcos, false>(d); });
    }
  }
};
// LA Atan: z = |x| up to 1, z = -1/|x| beyond, where pi/2 is added; one division, one polynomial,
// the sign ORed back. The float pi/2 alone (up to 0.75 ulp of the angle) fits the flavour's bound.
template <const auto& P>
struct SAtanShort {
  static VF eval(VF x) {
    const VF m = abs(x), one = splat<VF>(1.0f);
    const MF big = m > one;
    // min(m, 1) / max(m, 1), negated above 1: masks and no select.
    const VF z = (min(m, one) ^ keep(big, sign_mask<VF>())) / max(m, one);
    const VF s = z * z;
    return (keep(big, splat<VF>(td::kSPio2H)) + mul_add(z * s, horner(s, P), z)) | (x & sign_mask<VF>());
  }
};
// LA Atan2: atan2_core's angle K + sigma theta without the constants' low parts (0.75 ulp at most),
// theta rounded once before it is added.
template <const auto& P>
struct SAtan2Short {
  static VF eval(VF a, VF b) {
    const VF sign = sign_mask<VF>();
    const VF ya = abs(a), xb = abs(b);
    const auto swap = xb < ya;
    const VF z = min(ya, xb) / max(ya, xb);
    const VF sigma = (b & sign) ^ keep(swap, sign);
    // pi/2 where swapped; otherwise pi where b < 0 (b = -0 is swapped, as a is nonzero on this path).
    const VF kh = select(swap, keep(b < splat<VF>(0.0f), splat<VF>(td::kSPiH)), splat<VF>(td::kSPio2H));
    const VF s = z * z;
    return (kh + (mul_add(z * s, estrin(s, P), z) ^ sigma)) ^ (a & sign);
  }
};
template <const auto& P>
struct SAtan2F {
  static VF eval(VF a, VF b) { return atan2_core<P, false, false>(a, b); }
};
template <const auto& P, bool kAcos>
struct SAsinF {
  static VF eval(VF x) {
#if ZOK_ISA_LEVEL == 3
    return asin_masked<P, kAcos, 0>(x);
#else
    return asin_short<P, kAcos>(x);
#endif
  }
};

// Several vectors per block: the division and the polynomial of one overlap the next's.
constexpr int kSBlock = 32;
template <class K>
struct SBlocks : K {
  static constexpr int kUnroll = trig_unroll<float>(kSBlock);
};

// EP Atan: m < 1 (or NaN) evaluates at t = m, otherwise at t = -1/m by the reciprocal estimate
// and adds pi/2; the argument's sign is ORed in. Infinities give +-pi/2 and NaN NaN on the way.
struct SAtanEP {
  static constexpr Check kCheck = Check::kNone;
  static constexpr int kUnroll = trig_unroll<float>(kSBlock);
  static VF vec(VF x) {
    const VF m = abs(x);
    const MF big = m >= splat<VF>(1.0f);
    const VF t = select(big, m, splat<VF>(0.0f) - rcp(m));
    const VF h = select(big, splat<VF>(0.0f), splat<VF>(1.5707963705062866f));
    const VF u = t * t, v = u * u;
    const auto& c = td::kSAtanEP5;
    const VF p = mul_add(mul_add(splat<VF>(c[0]), v, splat<VF>(c[1])), v, splat<VF>(c[2])) +
                 mul_add(splat<VF>(c[3]), v, splat<VF>(c[4])) * u;
    return mul_add(p, t, h) | (x & sign_mask<VF>());
  }
  static unsigned special(VF) { return 0; }
  static void scalar(int i, const float* a, float* r) { r[i] = on_lane<SAtanEP>(a[i]); }
};

#if ZOK_ISA_LEVEL < 3
// Below AVX-512, where masks are vectors: LA Atan without a select or a special lane, and LA and EP
// Atan2 on a signed quotient, for |a| and with a's sign ORed in at the end (every angle is then in
// [0, pi], zeros included): atan(|a|/b) + (pi where b < 0) where |b| >= |a|, and pi/2 + atan(-b/|a|)
// beyond. The quotient's magnitude is that of the smaller over the larger, so each value is the one
// of the unsigned formula, with fewer operations.

// a where the sign bit of v is clear, b where it is set.
inline VF by_sign(VF v, VF a, VF b) {
  return select(MF{v.v}, a, b);
}

// The signed quotient of atan2(|a|, b) and the constant K added to its arctangent.
struct SQuotient {
  VF z, k;
  SQuotient(VF a, VF b) {
    const VF ya = abs(a);
    const MF swap = abs(b) < ya;
    z = select(swap, ya, b ^ sign_mask<VF>()) / select(swap, b, ya);
    k = select(swap, by_sign(b, splat<VF>(0.0f), splat<VF>(td::kSPiH)), splat<VF>(td::kSPio2H));
  }
};

// LA Atan: z = min(|x|, 1) / max(|x|, 1) and the angle |atan z - K| with K = pi/2 above 1, x's
// sign ORed in: K - z rounds, as the sum would (half an ulp of an angle at least pi/2 - 1). No blend,
// which would share the multiply-add units with the polynomial. The minimum and maximum take 1
// first, so that a NaN passes through them; infinities give +-pi/2 on the way: every lane takes the
// vector path (unchecked, the frame also leaves out its fetching ahead, which at 1e6 elements cost
// more than it gained).
template <const auto& P>
struct SAtanPlain {
  static constexpr Check kCheck = Check::kNone;
  static constexpr int kUnroll = trig_unroll<float>(kSBlock);
  static VF vec(VF x) {
    const VF one = splat<VF>(1.0f), m = abs(x);
    const VF z = min(one, m) / max(one, m);
    const VF s = z * z;
    // atan z - K by the polynomial's last multiply-add on z - K, formed beside it.
    const VF d = mul_add(z * s, horner(s, P), z - keep(m > one, splat<VF>(td::kSPio2H)));
    return abs(d) | (x & sign_mask<VF>());
  }
  static unsigned special(VF) { return 0; }
  static void scalar(int i, const float* a, float* r) { r[i] = on_lane<SAtanPlain>(a[i]); }
};

// LA and EP Atan2: the quotient is NaN exactly where both magnitudes are zeros or infinities or an
// argument is NaN, the lanes the base policy's scalar path takes; an infinity beside a finite value
// gives a zero quotient and the right angle. K + z is formed beside the polynomial and taken by its
// last multiply-add: the same two roundings as K + (z + z^3 P), one operation less.
template <const auto& P>
struct SAtan2Sign {
  static VF eval(VF a, VF b) {
    const SQuotient q(a, b);
    const VF s = q.z * q.z;
    return mul_add(q.z * s, horner(s, P), q.z + q.k) | (a & sign_mask<VF>());
  }
};
template <const auto& P>
struct SAtan2Signed : Atan2K<float, SAtan2Sign<P>, SRange> {
  static constexpr int kUnroll = trig_unroll<float>(kSBlock);
  static unsigned special(VF a, VF b) {
    const VF z = SQuotient(a, b).z;
    return outside<VF>(z == z);
  }
};
#endif

#if ZOK_ISA_LEVEL < 3
template <Fn f, int s>
using SAtanOf = std::conditional_t<s == vm::kEP, SAtanEP,
                                   std::conditional_t<s == vm::kLA, SAtanPlain<td::kSAtanLA8>,
                                                      SBlocks<AtanK<float, SAtanHA<td::kDAtanEP>, SRange>>>>;
#else
template <Fn f, int s>
using SAtanOf = std::conditional_t<
    s == vm::kEP, SAtanEP,
    SBlocks<AtanK<float, BySlot<s, SAtanShort<td::kSAtanLA8>, SAtanHA<td::kDAtanEP>, void>, SRange>>>;
#endif
// HA Atan2 where multiply-adds fuse: atan2_two in its range, the double formula (the scalar path of
// the base policy) on the lanes beyond it.
struct SAtan2Two : Atan2K<float, SAtan2HA<td::kDAtanEP>, SRange> {
  static VF vec(VF a, VF b) { return atan2_two<td::kSAtanHA>(a, b); }
  static unsigned special(VF a, VF b) {
    const VF ya = abs(a), xb = abs(b), hi = splat<VF>(0x1p60f), lo = splat<VF>(0x1p-92f);
    const VF m = min(ya, xb);
    return outside<VF>((ya <= hi) & (xb <= hi) & (max(ya, xb) >= lo) & ((m >= lo) | (m == splat<VF>(0.0f))));
  }
};
#if ZOK_ISA_LEVEL < 3
template <Fn f, int s>
using SAtan2Of = std::conditional_t<
    s == vm::kHA,
    std::conditional_t<kFusedMulAdd, SBlocks<SAtan2Two>,
                       SBlocks<Atan2K<float, SAtan2HA<td::kDAtanEP>, SRange>>>,
    std::conditional_t<s == vm::kLA, SAtan2Signed<td::kSAtanLA8>, SAtan2Signed<td::kSAtanEP4>>>;
#else
template <Fn f, int s>
using SAtan2Of = std::conditional_t<
    s == vm::kHA && kFusedMulAdd, SBlocks<SAtan2Two>,
    SBlocks<
        Atan2K<float, BySlot<s, SAtan2Short<td::kSAtanLA8>, SAtan2HA<td::kDAtanEP>, SAtan2F<td::kSAtanEP>>,
               SRange>>>;
#endif
template <Fn f, int s>
using SAsinOf = ASinCosK<
    f, float,
    BySlot<s, SAsinF<td::kSAsinLA, false>, SAsinHA<td::kSAsinHA, false>, SAsinF<td::kSAsinEP, false>>>;
template <Fn f, int s>
using SAcosOf =
    ASinCosK<f, float,
             BySlot<s, SAsinF<td::kSAsinLA, true>, SAsinHA<td::kSAsinHA, true>, SAsinF<td::kSAsinEP, true>>>;

}  // namespace

void register_atrig_float(vm::KernelSlots& s) {
  using enum Fn;
  reg<sAsin, SAsinOf>(s);
  reg<sAcos, SAcosOf>(s);
  reg<sAtan, SAtanOf>(s);
  reg<sAtan2, SAtan2Of>(s);
}

}  // namespace zok::ZOK_ISA_NS
