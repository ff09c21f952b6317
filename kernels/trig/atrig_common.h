// Pieces shared by the float and double inverse trigonometric kernels: the arctangent of a quotient
// and the arcsine and arccosine cores, written once for float and double vectors, and the frame
// policies of Asin, Acos, Atan and Atan2.
#pragma once

#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>

#include "kernels/trig/trig_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

// pi/2 and pi as hi + lo in the element type, and the arctangents of the reduction's centres 1/2
// and 1 (double only).
template <typename T>
struct Angles;
template <>
struct Angles<double> {
  static constexpr double kHalfH = td::kDPio2H, kHalfL = td::kDPio2L, kPiH = td::kDPiH, kPiL = td::kDPiL;
};
template <>
struct Angles<float> {
  static constexpr float kHalfH = td::kSPio2H, kHalfL = td::kSPio2L, kPiH = td::kSPiH, kPiL = td::kSPiL;
};

// The lanes whose sign bit is set (negative zeros included).
template <class V>
inline auto negative(V x) {
  const auto s = as_int(sign_mask<V>());
  return (as_int(x) & s) == s;
}

// K + sigma m theta, K = kh + kl and sigma m theta = th + tl with th exact: with kTwo the sum of
// kh and th keeps its rounding error (|kh| >= |th| or kh = 0), so the result is rounded about once.
template <bool kTwo, class V>
inline V finish(V kh, V kl, V th, V tl) {
  if constexpr (kTwo) {
    V s, e;
    fast_two_sum(kh, th, s, e);
    return s + (e + (kl + tl));
  } else {
    return kh + (th + (kl + tl));
  }
}

// atan2(a, b) for finite a and b, not both zero; the double kernels also need the larger magnitude
// within [2^-960, 2^990], where quartering stays exact and the residual's products (split in halves
// without a fused multiply-add) finite.
// With y <= x the smaller and larger magnitudes, theta = atan(y/x) <= pi/4 and the angle is
// K + sigma theta: theta, pi/2 - theta (swapped), pi - theta (b negative) or pi/2 + theta (both),
// with a's sign. kReduce (double arithmetic) takes theta = atan c + atan z around c = 0, 1/4, 1/2
// or 1, z = (y - c x) / (x + c y), |z| <= 3/16, its numerator exact (c x is within a factor 2 of y); kTwo
// carries z's rounding error through an exact residual, and the constant parts in two doubles. Without
// kReduce z = y/x <= 1. kShort (LA and EP, with kReduce and without kTwo) rounds z + z^3 P(z^2) once
// and adds it to the constant: one rounding more than the sum of the parts, a few operations less.
template <const auto& P, bool kReduce, bool kTwo, bool kShort = false, class V>
inline V atan2_core(V a, V b) {
  using T = typename V::T;
  using A = Angles<T>;
  const V zero = splat<V>(T(0)), sign = sign_mask<V>();
  const V ya = abs(a), xb = abs(b);
  const V y = min(ya, xb), x = max(ya, xb);
  const auto swap = xb < ya;
  const auto bneg = negative(b);
  const V sigma = (b & sign) ^ select(swap, zero, sign);  // sign bit of sigma
  V kh = select(swap, select(bneg, zero, splat<V>(A::kPiH)), splat<V>(A::kHalfH));
  // The constants' low parts count only where the quotient's error is carried too, or where nothing
  // else rounds (the float formula).
  V kl = zero;
  if constexpr (kTwo || !kReduce)
    kl = select(swap, select(bneg, zero, splat<V>(A::kPiL)), splat<V>(A::kHalfL));
  V z, zl = zero;
  if constexpr (kReduce) {
    static_assert(std::is_same_v<T, double>);
    const auto m0 = y >= x * splat<V>(0.1875), m1 = y >= x * splat<V>(0.4375), m2 = y >= x * splat<V>(0.6875);
    auto centre = [&](double c0, double c1, double c2) {
      return select(m0, zero, select(m1, splat<V>(c0), select(m2, splat<V>(c1), splat<V>(c2))));
    };
    const V c = centre(0.25, 0.5, 1.0);
    const V ch = centre(td::kDAtanQuarterH, td::kDAtanHalfH, td::kDPio4H) ^ sigma;
    const V num = nmul_add(c, x, y), cy = c * y;
    V dh, dl;
    fast_two_sum(x, cy, dh, dl);
    if constexpr (kTwo) {
      const V inv = splat<V>(1.0) / dh;
      z = num * inv;
      // The residual num - z (dh + dl), taken 2^200 higher where the numerator is so small that
      // it (or the error of the product) would fall below the denormals.
      const auto tiny = y < splat<V>(0x1p-900);
      const V up = select(tiny, splat<V>(1.0), splat<V>(0x1p200));
      const V zs = z * up;
      V p, e;
      two_prod(zs, dh, p, e);
      zl = nmul_add(zs, dl, (num * up - p) - e) * inv * select(tiny, splat<V>(1.0), splat<V>(0x1p-200));
      V s, se;
      two_sum(kh, ch, s, se);
      kh = s;
      kl = se + (kl + (centre(td::kDAtanQuarterL, td::kDAtanHalfL, td::kDPio4L) ^ sigma));
    } else {
      z = num / dh;
      kh = kh + ch;
    }
  } else {
    z = y / x;
  }
  const V s = z * z;
  if constexpr (kShort) {
    static_assert(kReduce && !kTwo);
    return (kh + (mul_add(z * s, horner(s, P), z) ^ sigma)) ^ (a & sign);
  } else {
    const V t = mul_add(z * s, horner(s, P), zl);
    return finish<kTwo>(kh, kl, z ^ sigma, t ^ sigma) ^ (a & sign);
  }
}

// The asin polynomial's argument: z = a = |x| up to 1/2 and z = sqrt(w), w = (1 - a)/2, above (big);
// s = z^2, exact in both.
template <class V>
struct AsinArg {
  using T = typename V::T;
  explicit AsinArg(V x)
      : a(abs(x)),
        big(a > splat<V>(T(0.5))),
        w(nmul_add(splat<V>(T(0.5)), a, splat<V>(T(0.5)))),
        root(sqrt(w)),
        z(select(big, a, root)),
        s(select(big, a * a, w)) {}
  V a;
  decltype(std::declval<V>() > std::declval<V>()) big;
  V w, root, z, s;
};

// asin x (kAcos false) or acos x for |x| <= 1. With a = |x| <= 1/2, z = a; above, asin a =
// pi/2 - 2 asin z with z = sqrt((1 - a)/2), the square exact; both are K + sigma m (z + z^3 P(z^2)):
//   asin: a, or pi/2 - 2(...), with x's sign;
//   acos: pi/2 - (x's sign) a, 2(...) for x > 1/2, pi - 2(...) for x < -1/2.
// kTwo carries the rounding error of the square root.
template <const auto& P, bool kAcos, bool kTwo, class V>
inline V asin_core(V x) {
  using T = typename V::T;
  using A = Angles<T>;
  const V zero = splat<V>(T(0)), sign = sign_mask<V>();
  const AsinArg<V> g(x);
  const auto big = g.big;
  const V w = g.w, root = g.root, z = g.z, s = g.s;
  V zl = zero;
  if constexpr (kTwo) {
    V p, e;
    two_prod(root, root, p, e);
    const V dz = ((w - p) - e) / max(root + root, splat<V>(std::numeric_limits<T>::min()));
    zl = select(big, zero, dz);
  }
  const V t = mul_add(z * s, horner(s, P), zl);
  const V m = select(big, splat<V>(T(1)), splat<V>(T(2)));
  V kh, kl, sigma;
  if constexpr (kAcos) {
    const V xs = x & sign;
    sigma = xs ^ select(big, sign, zero);
    const auto neg = negative(x);
    kh = select(big, splat<V>(A::kHalfH), select(neg, zero, splat<V>(A::kPiH)));
    kl = select(big, splat<V>(A::kHalfL), select(neg, zero, splat<V>(A::kPiL)));
  } else {
    sigma = select(big, zero, sign);
    kh = select(big, zero, splat<V>(A::kHalfH));
    kl = select(big, zero, splat<V>(A::kHalfL));
  }
  const V r = finish<kTwo>(kh, kl, (m * z) ^ sigma, (m * t) ^ sigma);
  if constexpr (kAcos) {
    return r;
  } else {
    return r ^ (x & sign);
  }
}

// asin_core's formula for LA and EP, rounded a little more often: u = z + z^3 P(z^2) in one value and
// the angle as K + sigma m u, K = k pi/2 with k = 0, 1 or 2, by one multiply-add (k times the leading
// part of pi/2, exact). Without a select between two values: z = min(|x|, sqrt(w)) (the root is at
// least 1/2 up to |x| = 1/2 and below it beyond), s = z^2 rounded, and sigma m folded into z exactly
// (by one fused multiply-add, z c + z or z c - z with c = 0 or 3, where there is one). Near |x| = 1/2
// the doubled u costs asin about an ulp more than asin_core, and the missing low part of pi/2 up to
// 0.55 ulp (double) or 0.75 ulp (float) of the angle, at least pi/6 wherever it is added.
// kHalves (the double LA): s = w itself above 1/2, exact and off the square root's path, the
// polynomial in two chains (horner_halves), and the angle as m v + K from v = z + z s P(s) by one
// multiply-add, m = +-1 or +-2 (m v exact): the same roundings as above, two operations fewer.
template <const auto& P, bool kAcos, bool kHalves = false, class V>
inline V asin_short(V x) {
  using T = typename V::T;
  using A = Angles<T>;
  const V sign = sign_mask<V>(), one = splat<V>(T(1)), half = splat<V>(T(0.5));
  const V a = abs(x), xs = x & sign;
  const auto big = a > half;
  const V w = nmul_add(half, a, half);
  const V z = min(a, sqrt(w));
  const V s = kHalves ? select(big, a * a, w) : z * z;
  if constexpr (kHalves) {
    const V v = mul_add(z * s, horner_halves(s, P), z);
    V m, k;
    if constexpr (kAcos) {
      // pi/2 - (x's sign) v; 2v for x > 1/2, pi - 2v for x < -1/2.
      m = select(big, splat<V>(T(-1)), splat<V>(T(2))) ^ xs;
      k = select(big, splat<V>(A::kHalfH), keep(x < splat<V>(T(0)), splat<V>(A::kPiH)));
    } else {
      // v, or pi/2 - 2v above 1/2; x's sign afterwards.
      m = select(big, one, splat<V>(T(-2)));
      k = keep(big, splat<V>(A::kHalfH));
    }
    const V r = mul_add(m, v, k);
    if constexpr (kAcos) {
      return r;
    } else {
      return r ^ xs;
    }
  }
  V zm, k;
  if constexpr (kAcos) {
    // pi/2 - (x's sign) u; 2u for x > 1/2, pi - 2u for x < -1/2.
    const V zx = z ^ xs, c = keep(big, splat<V>(T(3)));
    zm = kFusedMulAdd ? mul_sub(c, zx, zx) : zx * (c - one);
    k = one - (keep(big, one) ^ xs);
  } else {
    // u, or pi/2 - 2u above 1/2; x's sign afterwards.
    const V c = keep(big, splat<V>(T(-3)));
    zm = kFusedMulAdd ? mul_add(c, z, z) : z * (c + one);
    k = keep(big, one);
  }
  const V u = mul_add(zm * s, horner(s, P), zm);
  const V r = mul_add(k, splat<V>(A::kHalfH), u);
  if constexpr (kAcos) {
    return r;
  } else {
    return r ^ xs;
  }
}

#if ZOK_ISA_LEVEL == 3
// asin_short for doubles with mask registers, without the square root instruction (on 8 doubles it
// keeps the divider busy longer than the rest of the kernel takes). The root of w = (1 - |x|)/2 in
// [0, 1/2] comes from the 14-bit reciprocal square root estimate r0 of w: with y0 = w r0 and
// e = 1 - y0 r0, |e| <= 2^-13, sqrt w = y0 (1 - e)^-1/2 = y0 (1 + e/2 + 3/8 e^2 + 5/16 e^3 + ...),
// the rounding of y0 included in e. kTerms 2 stops at e^2, a relative error of 5/16 e^3 <= 2^-40.6
// (EP); kTerms 3 at e^3, 35/128 e^4 <= 2^-53.8 (LA), so the root is within about half an ulp more
// than the rounded one. w = 0 (|x| = 1) would give 0 times infinity: the caller leaves |x| = 1 to
// another path. Up to 1/2 the masked product and multiply-add leave z = |x|: a choice by
// the mask, where the minimum of asin_short could be misled next to 1/2 by the estimate's error.
// The masks fold the rest: asin multiplies z by -2 above 1/2 and adds pi/2 there (one masked
// operation each); acos takes k = 1 up to 1/2 and above it 0 or 2, x's sign bit shifted into the
// exponent of 2.
// kHalves as in asin_short: the polynomial no longer waits for the root's refinement.
// kTerms 0 (floats always): the square root instruction, masked to the lanes above 1/2 (where it is
// cheap): the same roundings as asin_short, so the same results, in three operations fewer.
template <const auto& P, bool kAcos, int kTerms, bool kHalves = false, class V>
inline V asin_masked(V x) {
  using T = typename V::T;
  static_assert(kTerms == 0 || std::is_same_v<T, double>, "the estimate's steps are written for doubles");
  static_assert(!kHalves || std::is_same_v<T, double>, "the halves are written for doubles");
  const V sign = sign_mask<V>(), one = splat<V>(T(1)), half = splat<V>(T(0.5));
  const V a = abs(x), xs = x & sign;
  const auto big = a > half;
  const V w = nmul_add(half, a, half);
  V z;
  if constexpr (kTerms == 0) {
    z = sqrt_where(big, a, w);
  } else {
    const VD r0 = {_mm512_rsqrt14_pd(w.v)};
    // y0 = |x| up to 1/2, where e and q go unused.
    const VD y0 = {_mm512_mask_mul_pd(a.v, big.m, w.v, r0.v)};
    const VD e = nmul_add(y0, r0, one);
    VD q;
    if constexpr (kTerms == 2) {
      q = mul_add(splat<VD>(0.375), e, half);
    } else {
      static_assert(kTerms == 3);
      q = mul_add(mul_add(splat<VD>(0.3125), e, splat<VD>(0.375)), e, half);
    }
    z = VD{_mm512_mask3_fmadd_pd((y0 * e).v, q.v, y0.v, big.m)};
  }
  const V pio2 = splat<V>(Angles<T>::kHalfH);
  if constexpr (kHalves) {
    const VD s = {_mm512_mask_mov_pd((a * a).v, big.m, w.v)};
    const VD p = horner_halves(s, P);
    const VD v = mul_add(z * s, p, z);
    if constexpr (kAcos) {
      // pi/2 - (x's sign) v; 2v for x > 1/2, pi - 2v for x < -1/2: m v + K, m v exact.
      const VD m = VD{_mm512_mask_blend_pd(big.m, splat<VD>(-1.0).v, splat<VD>(2.0).v)} ^ xs;
      const __m512i neg = _mm512_srai_epi64(_mm512_castpd_si512(x.v), 63);
      const VD k = {_mm512_castsi512_pd(_mm512_mask_and_epi64(
          _mm512_castpd_si512(pio2.v), big.m, _mm512_castpd_si512(splat<VD>(td::kDPiH).v), neg))};
      return mul_add(m, v, k);
    } else {
      // v, or pi/2 - 2v above 1/2; x's sign afterwards.
      return VD{_mm512_mask_fmadd_pd(v.v, big.m, splat<VD>(-2.0).v, pio2.v)} ^ xs;
    }
  }
  const V s = z * z;
  const V p = horner(s, P);
  if constexpr (kAcos) {
    // pi/2 - (x's sign) u; 2u for x > 1/2, pi - 2u for x < -1/2 (k = 2: the sign bit shifted into
    // the exponent).
    const V zx = z ^ xs;
    const V zm = mul_sub(keep(big, splat<V>(T(3))), zx, zx);
    const V k = halve_bits_where(big, one, xs);
    return mul_add(k, pio2, mul_add(zm * s, p, zm));
  } else {
    // u, or pi/2 - 2u above 1/2; x's sign afterwards.
    const V zm = times_where(big, z, z, splat<V>(T(-2)));
    const V u = mul_add(zm * s, p, zm);
    return plus_where(big, u, pio2) ^ xs;
  }
}
#endif

// Asin and Acos: M::eval on |x| <= 1; NaN gives NaN silently, |x| > 1 NaN with code 1.
template <vm::Fn kFn, typename T, class M>
struct ASinCosK {
  using V = Vec<T>;
  static constexpr int kUnroll = trig_unroll<T>(8);
  static V vec(V x) { return M::eval(x); }
  static unsigned special(V x) { return outside<V>(abs(x) <= splat<V>(T(1))); }
  static void scalar(int i, const T* a, T* r) {
    const T x = a[i];
    if (std::fabs(x) <= T(1)) {
      r[i] = on_lane<ASinCosK>(x);
    } else if (x != x) {
      r[i] = x + x;
    } else {
      r[i] = std::numeric_limits<T>::quiet_NaN();
      report(ZOK_VM_STATUS_DOMAIN, i, a, a, r, r, vm::traits(kFn).name);
    }
  }
};

// The magnitudes a kernel's vector path takes, as a type (R::kLo, R::kHi): floating-point template
// arguments are not accepted by every compiler we build with.
// Atan: M::eval up to R::kHi; beyond, atan x rounds to +-pi/2 (1/|x| is below half an ulp of it), the
// infinities included; NaN gives NaN. Nothing is reported.
template <typename T, class M, class R>
struct AtanK {
  using V = Vec<T>;
  static constexpr T kHi = R::kHi;
  static constexpr int kUnroll = trig_unroll<T>(8);
  static V vec(V x) { return M::eval(x); }
  static unsigned special(V x) { return outside<V>(abs(x) <= splat<V>(kHi)); }
  static void scalar(int i, const T* a, T* r) {
    const T x = a[i];
    if (x != x) {
      r[i] = x + x;
    } else if (std::fabs(x) > kHi) {
      r[i] = std::copysign(Angles<T>::kHalfH, x);
    } else {
      r[i] = on_lane<AtanK>(x);
    }
  }
};

// Atan2: M::eval where the larger magnitude lies in [R::kLo, R::kHi]. The scalar path never reports: a
// NaN gives NaN; infinities stand in as 1 and finite values then as zeros of their sign, which
// gives every quadrant's limit; two zeros become (a, +-1), which has their angle; magnitudes
// beyond the range are scaled by a power of two.
template <typename T, class M, class R>
struct Atan2K {
  using V = Vec<T>;
  static constexpr T kLo = R::kLo, kHi = R::kHi;
  static constexpr int kUnroll = trig_unroll<T>(8);
  static V vec(V a, V b) { return M::eval(a, b); }
  static unsigned special(V a, V b) {
    // Each magnitude compared on its own: max() would pass a NaN over for the other operand.
    const V ya = abs(a), xb = abs(b), hi = splat<V>(kHi);
    return outside<V>((ya <= hi) & (xb <= hi) & (max(ya, xb) >= splat<V>(kLo)));
  }
  static void scalar(int i, const T* a, const T* b, T* r) {
    T y = a[i], x = b[i];
    if (y != y || x != x) {
      // The first NaN operand, quieted, whichever way round the compiler sets up an addition.
      r[i] = y != y ? y + y : x + x;
      return;
    }
    if (std::isinf(y) || std::isinf(x)) {
      y = std::copysign(std::isinf(y) ? T(1) : T(0), y);
      x = std::copysign(std::isinf(x) ? T(1) : T(0), x);
    } else if (y == 0 && x == 0) {
      x = std::copysign(T(1), x);
    } else {
      if constexpr (sizeof(T) == 8) {
        const T m = std::fmax(std::fabs(y), std::fabs(x));
        // Scaling down loses bits only of magnitudes whose quotient underflows to zero anyway.
        const T scale = m > kHi ? 0x1p-60 : m < kLo ? 0x1p600 : 1.0;
        y *= scale;
        x *= scale;
      }
    }
    r[i] = on_lane<Atan2K>(y, x);
  }
};

}  // namespace
}  // namespace zok::ZOK_ISA_NS
