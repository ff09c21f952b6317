// Power and root kernels (Sqrt, InvSqrt, Cbrt, InvCbrt, Pow2o3, Pow3o2, Hypot, Pow, Powx) for float
// and double, compiled once per instruction set.
//
// Accuracy: HA within 1 ulp (Sqrt exact), LA within 4 ulp, EP within 2^12 (float) or 2^26 (double)
// ulp. The float HA kernels of the cube roots and Hypot, and float Pow and Powx HA and LA, compute in
// double precision, which keeps every float result within about half an ulp (LA Pow 2 ulp) and makes
// float denormals ordinary numbers there; the float Pow elements outside the fast range go through a
// float-pair computation of their own. Float InvSqrt and Pow3o2 HA compute in float from exact
// residuals; the other float LA and EP kernels compute in float.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "frame/kernel_frame.h"
#include "frame/simd/exact.h"
#include "frame/simd/poly.h"
#include "kernels/explog/dlog_dd_reg.h"
#include "kernels/explog/explog_poly.h"
#include "kernels/explog/explog_tables.h"
#include "kernels/power/power_coeffs.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::Fn;
using vm::kEP;
using vm::kHA;
using vm::kLA;

// Without a fused multiply-add (SSE4.1) two_prod takes its error from Dekker's split; the operands
// here are scaled so that the split cannot overflow.

// Lanes that are not positive, normal and finite (NaNs included).
template <typename V>
inline unsigned not_positive_normal(V x) {
  using T = typename V::T;
  return outside<V>((x >= splat<V>(Limits<T>::kMinNormal)) & (x <= splat<V>(Limits<T>::kMax)));
}
// Lanes that are not positive and finite (zeros and NaNs included; denormals pass).
template <typename V>
inline unsigned not_positive_finite(V x) {
  using T = typename V::T;
  return outside<V>((x > splat<V>(T(0))) & (x <= splat<V>(Limits<T>::kMax)));
}
// Lanes that are not finite.
template <typename V>
inline unsigned not_finite(V x) {
  using T = typename V::T;
  return outside<V>(abs(x) <= splat<V>(Limits<T>::kMax));
}

// Runs a double computation on both halves of a float vector.
template <typename F>
inline VF in_double(VF x, F f) {
  return narrow(f(widen_lo(x)), f(widen_hi(x)));
}
template <typename F>
[[gnu::always_inline]] inline VF in_double(VF x, VF y, F f) {
  return narrow(f(widen_lo(x), widen_lo(y)), f(widen_hi(x), widen_hi(y)));
}

// 2^k for integral k in [-1022, 1023], held in a double vector.
inline VD pow2i(VD k) {
  const VD shifter = splat<VD>(0x1.8p52);
  const VL n = as_int(k + shifter) - as_int(shifter);
  return as_double(shl<52>(n + splat<VL>(1023)));
}
// The unbiased exponent of positive normal x as a double, and x with its exponent set to 0
// (so in [1, 2)).
inline VD exponent_of(VD x, VD& m) {
  const VL u = as_int(x);
  m = as_double((u & splat<VL>(0x000FFFFFFFFFFFFFll)) | splat<VL>(0x3FF0000000000000ll));
  const VL e = shr<52>(u);  // sign bit is clear
  return as_double(e | as_int(splat<VD>(0x1p52))) - splat<VD>(0x1p52 + 1023.0);
}

template <typename T>
inline T neg_nan() {
  return from_bits<T>(Limits<T>::kNegNan);
}

// ---- square root ----

// Exact root. Positive normal lanes take the vector root; the rest go to the scalar path, which
// copies zeros and +inf, quiets NaNs, roots denormals exactly and reports negative arguments.
template <Fn kFn, typename T>
inline void sqrt_scalar(int i, const T* a, T* r) {
  const T x = a[i];
  if (x != x) {
    r[i] = x * T(1);
  } else if (x < T(0)) {
    r[i] = neg_nan<T>();
    report(ZOK_VM_STATUS_DOMAIN, i, a, a, r, r, vm::traits(kFn).name);
  } else {
    r[i] = lane0(sqrt(splat<Vec<T>>(x)));
  }
}

template <Fn kFn, typename T>
struct SqrtK {
  static constexpr Check kCheck = Check::kRedoBlock;
  static constexpr int kUnroll = 4;  // several roots in flight
  template <class V>
  static V vec(V x) {
    return sqrt(x);
  }
  template <class V>
  static unsigned special(V x) {
    return not_positive_normal(x);
  }
  static void scalar(int i, const T* a, T* r) { sqrt_scalar<kFn, T>(i, a, r); }
};

// Float LA and EP: the reciprocal-root estimate y (0 where x = 0, so zeros keep their sign) and
// one Newton step on s = x y. LA: 0.5 s (3 - x y^2), computed as (s y - 3)(-0.5 s); EP the same
// step in its first-order form s (1.5 - 0.5 s y), one operation shorter.
template <Fn kFn, int kSlot>
struct SqrtEstimateK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = kSlot == kLA ? (16 + VF::kLanes - 1) / VF::kLanes : 1;
  static VF vec(VF x) {
    const VF zero = splat<VF>(0.0f);
    const VF y = select(x == zero, rsqrt(x), zero);
    const VF s = x * y;
    if constexpr (kSlot == kLA) {
      return mul_sub(s, y, splat<VF>(3.0f)) * (splat<VF>(-0.5f) * s);
    } else {
      return s * nmul_add(splat<VF>(0.5f) * s, y, splat<VF>(1.5f));
    }
  }
  static unsigned special(VF x) { return not_positive_normal(x) & ~bits(x == splat<VF>(0.0f)); }
  static void scalar(int i, const float* a, float* r) {
    // Ordinary elements of a tail get the vector formula, so no result depends on its position.
    if (special(splat<VF>(a[i])) == 0) {
      r[i] = on_lane<SqrtEstimateK>(a[i]);
    } else {
      sqrt_scalar<kFn, float>(i, a, r);
    }
  }
};

// ---- reciprocal square root ----

// Shared special values: NaN stays NaN, +inf gives +0, zeros give infinities of their sign (code
// 2), negatives NaN (code 1). Returns false when x is an ordinary positive number left to the
// caller.
template <Fn kFn, typename T>
inline bool inv_sqrt_special(int i, const T* a, T* r) {
  const T x = a[i];
  if (x != x) {
    r[i] = x + x;
  } else if (x == T(0)) {
    r[i] = T(1) / x;
    report(ZOK_VM_STATUS_SING, i, a, a, r, r, vm::traits(kFn).name);
  } else if (x < T(0)) {
    r[i] = neg_nan<T>();
    report(ZOK_VM_STATUS_DOMAIN, i, a, a, r, r, vm::traits(kFn).name);
  } else if (x == kInf<T>) {
    r[i] = T(0);
  } else {
    return false;
  }
  return true;
}

// 1/sqrt(x) in double for positive finite x: correctly rounded root, then a division; within
// about 1.5 ulp of double, far inside half an ulp of float.
inline VD inv_sqrt_plain(VD x) {
  return splat<VD>(1.0) / sqrt(x);
}

// Float HA: in double precision. Denormal floats are normal doubles, so only zeros, negatives,
// infinities and NaNs leave the vector path.
template <Fn kFn>
struct InvSqrtFloatHaK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = 1;
  static VF vec(VF x) { return in_double(x, inv_sqrt_plain); }
  static unsigned special(VF x) { return not_positive_finite(x); }
  static void scalar(int i, const float* a, float* r) {
    if (!inv_sqrt_special<kFn>(i, a, r)) r[i] = on_lane<InvSqrtFloatHaK>(a[i]);
  }
};

// Float HA in float lanes: the estimate y (relative error below 1.5 * 2^-12) and one step of second
// order, y (1 + e/2 + 3e^2/8), on e = 1 - x y^2 formed from exact products (x y = p + pe, p y =
// q + qe): e is right to 2^-34 and the step leaves 5e^3/16 (below 2^-32 relative), so the one
// rounding of the result keeps it within half an ulp plus 2^-8 ulp. Positive denormals take the
// double formula one at a time.
template <Fn kFn>
struct InvSqrtFloatStepK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = 2;
  static VF vec(VF x) {
    const VF y = rsqrt(x);
    VF p, pe, q, qe;
    two_prod(x, y, p, pe);
    two_prod(p, y, q, qe);
    const VF e = nmul_add(pe, y, (splat<VF>(1.0f) - q) - qe);
    return mul_add(y * e, mul_add(e, splat<VF>(0.375f), splat<VF>(0.5f)), y);
  }
  // (Without a fused multiply-add the split of x in its exact product would overflow above 2^115.)
  static unsigned special(VF x) {
    return kFusedMulAdd
               ? not_positive_normal(x)
               : outside<VF>((x >= splat<VF>(Limits<float>::kMinNormal)) & (x <= splat<VF>(0x1p100f)));
  }
  static void scalar(int i, const float* a, float* r) {
    if (inv_sqrt_special<kFn>(i, a, r)) return;
    r[i] = special(splat<VF>(a[i])) == 0 ? on_lane<InvSqrtFloatStepK>(a[i])
                                         : on_lane<InvSqrtFloatHaK<kFn>>(a[i]);
  }
};

// Float LA and EP: the estimate y and a Newton step on e = 1 - x y^2: LA adds the second-order term,
// y (1 + e/2 + 3e^2/8) (about 1 ulp); EP stops at y (1 + e/2) (about 3 * 2^-24 relative).
template <Fn kFn, int kSlot>
struct InvSqrtEstimateK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = kSlot == kLA ? 2 : 1;
  static VF vec(VF x) {
    const VF y = rsqrt(x);
    const VF e = nmul_add(x, y * y, splat<VF>(1.0f));
    if constexpr (kSlot == kLA) {
      return mul_add(y * e, mul_add(e, splat<VF>(0.375f), splat<VF>(0.5f)), y);
    } else {
      return mul_add(y * e, splat<VF>(0.5f), y);
    }
  }
  static unsigned special(VF x) { return not_positive_normal(x); }
  static void scalar(int i, const float* a, float* r) {
    // Ordinary elements get the vector formula; positive denormals are computed in double.
    if (inv_sqrt_special<kFn>(i, a, r)) return;
    r[i] =
        special(splat<VF>(a[i])) == 0 ? on_lane<InvSqrtEstimateK>(a[i]) : on_lane<InvSqrtFloatHaK<kFn>>(a[i]);
  }
};

// Double HA: y = 1/s with s the rounded root, corrected by the exact residuals of both steps:
// with d = x - s^2 and c = 1 - s y, 1/sqrt(x) = y (1 + c - d y^2 / 2) to second order, so the
// result is within half an ulp plus a few 2^-60. The residuals need x away from the ends of the
// exponent range; the scalar path scales such x by an even power of two.
struct InvSqrtDoubleHaCore {
  static VD vec(VD x) {
    const VD s = sqrt(x), y = splat<VD>(1.0) / s;
    VD p, pe, q, qe;
    two_prod(s, s, p, pe);
    const VD d = (x - p) - pe;
    two_prod(s, y, q, qe);
    const VD c = (splat<VD>(1.0) - q) - qe;
    const VD corr = c - splat<VD>(0.5) * d * (y * y);
    return mul_add(y, corr, y);
  }
};

template <Fn kFn>
struct InvSqrtDoubleHaK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = 2;
  static VD vec(VD x) { return InvSqrtDoubleHaCore::vec(x); }
  static unsigned special(VD x) {
    return outside<VD>((x >= splat<VD>(0x1p-960)) & (x <= splat<VD>(0x1p960)));
  }
  static void scalar(int i, const double* a, double* r) {
    if (inv_sqrt_special<kFn>(i, a, r)) return;
    const double x = a[i];
    if (x < 0x1p-960) {
      r[i] = on_lane<InvSqrtDoubleHaCore>(x * 0x1p128) * 0x1p64;
    } else if (x > 0x1p960) {
      r[i] = on_lane<InvSqrtDoubleHaCore>(x * 0x1p-128) * 0x1p-64;
    } else {
      r[i] = on_lane<InvSqrtDoubleHaCore>(x);
    }
  }
};

// Double LA and EP: the rounded root and one division, within 1.5 ulp for every positive finite x.
template <Fn kFn>
struct InvSqrtDoubleK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = 2;
  static VD vec(VD x) { return inv_sqrt_plain(x); }
  static unsigned special(VD x) { return not_positive_finite(x); }
  static void scalar(int i, const double* a, double* r) {
    if (!inv_sqrt_special<kFn>(i, a, r)) r[i] = on_lane<InvSqrtDoubleK>(a[i]);
  }
};

// ---- cube roots: Cbrt, InvCbrt, Pow2o3 ----

// For positive normal x = m 2^E (m in [1, 2)): E = 3q + k with k in {0, 1, 2}, v = m 2^k in [1, 8),
// so x^(1/3) = v^(1/3) 2^q. z approximates v^(-1/3): a polynomial in m times 2^(-k/3), then one
// step of third order, z (1 + e/3 + 2e^2/9) with e = 1 - v z^3, which leaves only rounding errors
// (a few 2^-53). y = v z^2 approximates v^(1/3).
struct CbrtParts {
  VD v, z, y, q;
};
inline CbrtParts cbrt_parts(VD x) {
  using power::kInvCbrtPoly;
  VD m;
  const VD e_x = exponent_of(x, m);
  const VD q = round<ZOK_RND_FLOOR>((e_x + splat<VD>(0.5)) * splat<VD>(1.0 / 3.0));
  const VD k = e_x - splat<VD>(3.0) * q;
  const VD v = m * pow2i(k);
  const VD p = horner(m, kInvCbrtPoly);
  const VD one = splat<VD>(1.0);
  const VD t = select(k == one, select(k == splat<VD>(2.0), one, splat<VD>(0x1.428a2f98d728bp-1)),
                      splat<VD>(0x1.965fea53d6e3dp-1));  // 2^(-k/3)
  VD z = p * t;
  const VD e = nmul_add(v * z, z * z, one);
  z = mul_add(z * e, mul_add(e, splat<VD>(2.0 / 9.0), splat<VD>(1.0 / 3.0)), z);
  return {v, z, v * (z * z), q};
}

// The residual of y as a cube root of v: t = v - y^3, exact to about 2^-105 relative to v; the
// corrected root is y + t z^2 / 3.
inline VD cbrt_residual(const CbrtParts& c) {
  VD h, l, p, pe;
  two_prod(c.y, c.y, h, l);
  two_prod(h, c.y, p, pe);
  return ((c.v - p) - pe) - l * c.y;
}

enum class Root { kCbrt, kInvCbrt, kPow2o3 };

// The function of positive normal double x; HA adds the residual corrections that bring HA
// within about half an ulp. Without it the roots are still corrected once by a rounded residual
// (y is about 4 ulp off before that).
template <Root kRoot, int kSlot>
inline VD root_core(VD x) {
  const CbrtParts c = cbrt_parts(x);
  const VD third = splat<VD>(1.0 / 3.0);
  if constexpr (kRoot == Root::kCbrt) {
    const VD t = kSlot == kHA ? cbrt_residual(c) : nmul_add(c.y * c.y, c.y, c.v);
    return mul_add(t * third, c.z * c.z, c.y) * pow2i(c.q);
  } else if constexpr (kRoot == Root::kInvCbrt) {
    VD z = c.z;
    if constexpr (kSlot == kHA) {
      // e = 1 - v z^3 from exact products: z^3 = d + dl, v d = w + wl.
      VD h, l, d, de, w, we;
      two_prod(z, z, h, l);
      two_prod(h, z, d, de);
      two_prod(c.v, d, w, we);
      const VD e = ((splat<VD>(1.0) - w) - we) - c.v * (de + l * z);
      z = mul_add(z * e, third, z);
    }
    return z * pow2i(splat<VD>(0.0) - c.q);
  } else {
    // (y + yl)^2 with yl the residual correction, squared in two parts.
    if constexpr (kSlot == kHA) {
      const VD yl = cbrt_residual(c) * third * (c.z * c.z);
      VD h, l;
      two_prod(c.y, c.y, h, l);
      return (h + (l + splat<VD>(2.0) * c.y * yl)) * pow2i(c.q + c.q);
    } else {
      const VD y = mul_add(nmul_add(c.y * c.y, c.y, c.v) * third, c.z * c.z, c.y);
      return (y * y) * pow2i(c.q + c.q);
    }
  }
}

// The core on any finite non-zero |x| of double: denormals are scaled by 2^54 first.
// Float arguments: the uncorrected parts (a few ulp of double) are far inside half an ulp of float.
template <Root kRoot>
inline VD root_float_core(VD x) {
  const CbrtParts c = cbrt_parts(x);
  if constexpr (kRoot == Root::kCbrt) {
    return c.y * pow2i(c.q);
  } else if constexpr (kRoot == Root::kInvCbrt) {
    return c.z * pow2i(splat<VD>(0.0) - c.q);
  } else {
    return (c.y * c.y) * pow2i(c.q + c.q);
  }
}

// Cbrt, InvCbrt and Pow2o3 LA and EP without a division of the exponent: the bit pattern of
// positive normal x, read as a number u, is nearly a linear function of log2 x, so the bits K - u/3
// give a seed z0 of x^(-1/3) within a few percent (K tuned by the generator). One step
// z = z0 (1 + e q(e)), with e = 1 - x z0^3 and q a fit of ((1 - e)^(-1/3) - 1)/e over the seeds'
// range of e, leaves the relative error the generator states (float EP stops here: z, x z^2 or x z).
// Then one Newton step on the result: InvCbrt z + z e/3 with e = 1 - x z^3; Cbrt y + d with y = x z^2
// and d = (x - y^3) z^2/3; Pow2o3 y^2 + 2 y d in one rounding. Each leaves about ten times the
// square of z's error and the roundings of its residual: within about 1 ulp (Pow2o3 1.5).
// The seed reads u through a float (u rounded to 24 bits moves z0 by 2^-17 at most).
inline VF inv_cbrt_seed(VF ax) {
  const VF u = to_float(as_int(ax));
  return as_float(to_int(nmul_add(u, splat<VF>(1.0f / 3.0f), splat<VF>(power::kCbrtSeedF))));
}
// Double: the high word h of x (below 2^31) becomes the double 2^52 + h by its bits, and
// kCbrtSeedD - (2^52 + h)/3 lands in [2^52, 2^53), rounded to an integer whose low 32 bits are
// the seed's high word.
inline VD inv_cbrt_seed(VD ax) {
  const VD h = as_double(shr<32>(as_int(ax)) | as_int(splat<VD>(0x1p52)));
  return as_double(shl<32>(as_int(nmul_add(h, splat<VD>(1.0 / 3.0), splat<VD>(power::kCbrtSeedD)))));
}
inline VF cbrt_step(VF e) {
  return horner(e, power::kCbrtStepF);
}
inline VD cbrt_step(VD e) {
  return estrin(e, power::kCbrtStepD);
}

template <Root kRoot, int kSlot, class V>
inline V root_seeded(V ax) {
  using T = typename V::T;
  constexpr bool kShort = sizeof(T) == 4 && kSlot == kEP;
  const V one = splat<V>(T(1)), third = splat<V>(T(1) / T(3));
  const V z0 = inv_cbrt_seed(ax);
  const V e0 = nmul_add(ax * z0, z0 * z0, one);
  const V z = mul_add(z0 * e0, cbrt_step(e0), z0);
  if constexpr (kRoot == Root::kInvCbrt) {
    if constexpr (kShort) return z;
    return mul_add(z * nmul_add(ax * z, z * z, one), third, z);
  } else if constexpr (kShort) {
    return kRoot == Root::kCbrt ? ax * (z * z) : ax * z;
  } else {
    const V z2 = z * z;
    const V y = ax * z2;
    const V w = z2 * third;
    const V t = nmul_add(y * y, y, ax);
    if constexpr (kRoot == Root::kCbrt) {
      return mul_add(t, w, y);
    } else {
      return mul_add(y, y, (y + y) * (t * w));
    }
  }
}

template <Root kRoot, int kSlot>
inline double root_scalar_core(double ax) {
  if (ax >= 0x1p-1022) return lane0(root_core<kRoot, kSlot>(splat<VD>(ax)));
  const double r = lane0(root_core<kRoot, kSlot>(splat<VD>(ax * 0x1p54)));
  return kRoot == Root::kCbrt ? r * 0x1p-18 : kRoot == Root::kInvCbrt ? r * 0x1p18 : r * 0x1p-36;
}

// Cbrt is odd and has no errors; InvCbrt is odd and reports zeros (code 2); Pow2o3 drops the sign.
template <Fn kFn, Root kRoot, int kSlot, typename T>
struct RootK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = 1;
  template <class V>
  static V vec(V x) {
    if constexpr (sizeof(T) == 4) {
      // Float denormals are normal doubles.
      const VF ax = abs(x);
      const VF r = in_double(ax, [](VD d) { return root_float_core<kRoot>(d); });
      return kRoot == Root::kPow2o3 ? r : or_sign(r, x);
    } else {
      return kRoot == Root::kPow2o3 ? root_core<kRoot, kSlot>(abs(x))
                                    : or_sign(root_core<kRoot, kSlot>(abs(x)), x);
    }
  }
  template <class V>
  static unsigned special(V x) {
    if constexpr (sizeof(T) == 4) {
      const V ax = abs(x);
      return outside<V>((ax > splat<V>(T(0))) & (ax <= splat<V>(Limits<T>::kMax)));
    } else {
      return not_positive_normal(abs(x));
    }
  }
  static void scalar(int i, const T* a, T* r) {
    const T x = a[i];
    const T ax = std::fabs(x);
    if (x != x) {
      r[i] = x + x;
    } else if (ax == T(0)) {
      // (x * 1 reads a denormal as zero when the mode asks for it.)
      if constexpr (kRoot == Root::kInvCbrt) {
        r[i] = T(1) / x;
        report(ZOK_VM_STATUS_SING, i, a, a, r, r, vm::traits(kFn).name);
      } else {
        r[i] = kRoot == Root::kPow2o3 ? T(0) : x * T(1);
      }
    } else if (ax == kInf<T>) {
      r[i] = kRoot == Root::kInvCbrt ? T(1) / x : kRoot == Root::kPow2o3 ? kInf<T> : x;
    } else if constexpr (sizeof(T) == 4) {
      r[i] = on_lane<RootK>(x);
    } else {
      const double m = root_scalar_core<kRoot, kSlot>(ax);
      r[i] = kRoot == Root::kPow2o3 ? m : std::copysign(m, x);
    }
  }
};

// Cbrt, InvCbrt and Pow2o3 LA and EP: the seeded core on normal |x| below 2^127 (float) or 2^1023
// (double; there y^3 stays finite where the multiply-subtract is not fused), in blocks and one at a
// time alike; other arguments take the element path of the root kernels (float: HA's, in double).
// The double LA and EP share one kernel.
template <Fn kFn, Root kRoot, int kSlot, typename T>
struct RootSeededK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = 2;
  template <class V>
  static V vec(V x) {
    const V r = root_seeded<kRoot, kSlot>(abs(x));
    return kRoot == Root::kPow2o3 ? r : or_sign(r, x);
  }
  template <class V>
  static unsigned special(V x) {
    const V ax = abs(x);
    return outside<V>((ax >= splat<V>(Limits<T>::kMinNormal)) &
                      (ax <= splat<V>(sizeof(T) == 4 ? T(0x1p127) : T(0x1p1023))));
  }
  static void scalar(int i, const T* a, T* r) {
    if (special(splat<Vec<T>>(a[i])) == 0) {
      r[i] = on_lane<RootSeededK>(a[i]);
    } else {
      RootK<kFn, kRoot, sizeof(T) == 4 ? kHA : kLA, T>::scalar(i, a, r);
    }
  }
};

// ---- Pow3o2 ----

// x^(3/2) = x s with s the rounded root; HA adds x (sqrt(x) - s) = x d / (2 s) with d = x - s^2
// exact, and forms x s exactly: within about half an ulp while x lies in [2^-600, 2^680].
// The same in float lanes holds while x lies in [2^-64, 2^85] (p and pe normal, p finite). With a
// fused multiply-add d = x - s^2 comes from one (it is exact for a correctly rounded root).
template <class V>
inline V pow3o2_exact(V x) {
  using T = typename V::T;
  const V s = sqrt(x);
  V p, pe, d;
  if constexpr (kFusedMulAdd) {
    d = nmul_add(s, s, x);
  } else {
    V q, qe;
    two_prod(s, s, q, qe);
    d = (x - q) - qe;
  }
  two_prod(x, s, p, pe);
  return p + mul_add(d * s, splat<V>(T(0.5)), pe);
}

// Float with a fused multiply-add: the same correction c = d s / 2 goes into one fused x s + c, a
// single rounding of the result (within half an ulp plus 2^-20). From x = 2^-64 up c stays normal
// (below it c, some 2^-24 of the result, would lose its bits to the denormals, costing up to half an
// ulp more) and finite up to x = 2^100, far beyond overflow. Sets without the fused operation
// (SSE4.1) never call it.
[[maybe_unused]] inline VF pow3o2_fused(VF x) {
  const VF s = sqrt(x);
  const VF d = nmul_add(s, s, x);
  return mul_add(x, s, d * (s * splat<VF>(0.5f)));
}

template <Fn kFn, int kSlot, typename T>
struct Pow3o2K {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = sizeof(T) == 4 && kSlot == kHA ? 2 : 1;
  static constexpr bool kTailScratch = kSlot != kHA || sizeof(T) == 4;
  template <class V>
  static V vec(V x) {
    if constexpr (kSlot != kHA) {
      // Two roundings: within about 1.3 ulp; overflows to +inf, underflows into the denormals.
      return x * sqrt(x);
    } else if constexpr (sizeof(T) == 4 && kFusedMulAdd) {
      return pow3o2_fused(x);
    } else {
      return pow3o2_exact(x);
    }
  }
  template <class V>
  static unsigned special(V x) {
    if constexpr (sizeof(T) == 8 && kSlot == kHA) {
      return outside<V>((x >= splat<V>(0x1p-600)) & (x <= splat<V>(0x1p680)));
    } else if constexpr (kSlot == kHA && kFusedMulAdd) {
      return outside<V>((x >= splat<V>(0x1p-64f)) & (x <= splat<V>(0x1p100f)));
    } else if constexpr (kSlot == kHA) {
      return outside<V>((x >= splat<V>(0x1p-64f)) & (x <= splat<V>(0x1p85f)));
    } else {
      return not_positive_finite(x);
    }
  }
  static void scalar(int i, const T* a, T* r) {
    const T x = a[i];
    if (x != x) {
      r[i] = x + x;
    } else if (x < T(0)) {
      r[i] = neg_nan<T>();
      report(ZOK_VM_STATUS_DOMAIN, i, a, a, r, r, vm::traits(kFn).name);
    } else if (x == T(0)) {
      r[i] = T(0);  // -0 too: (-0) * sqrt(-0) = +0
    } else if (x == kInf<T>) {
      r[i] = x;
    } else if constexpr (sizeof(T) == 8 && kSlot == kHA) {
      // Scaled into the range where the residuals are exact; the final scaling rounds once into
      // the denormals, or overflows to +inf without a report.
      if (x < 0x1p-600) {
        r[i] = lane0(pow3o2_exact(splat<VD>(x * 0x1p400))) * 0x1p-600;
      } else if (x > 0x1p680) {
        r[i] = lane0(pow3o2_exact(splat<VD>(x * 0x1p-400))) * 0x1p600;
      } else {
        r[i] = lane0(pow3o2_exact(splat<VD>(x)));
      }
    } else if constexpr (kSlot == kHA) {
      // Exact to double rounding: the float result is within half an ulp, rounded once into the
      // denormals, and overflows to +inf.
      const double d = x;
      r[i] = special(splat<VF>(x)) == 0 ? on_lane<Pow3o2K>(x) : static_cast<float>(d * std::sqrt(d));
    } else {
      r[i] = on_lane<Pow3o2K>(x);
    }
  }
};

// ---- Hypot ----

// Infinities win over NaNs; otherwise a NaN propagates. Returns false for two finite arguments.
template <typename T>
inline bool hypot_special(T x, T y, T& out) {
  if (std::fabs(x) == kInf<T> || std::fabs(y) == kInf<T>) {
    out = kInf<T>;
  } else if (x != x || y != y) {
    out = x + y;
  } else {
    return false;
  }
  return true;
}

// Double: the larger magnitude M is scaled to [1, 4) by a power of two (so neither square can
// overflow or lose the result to underflow), the squares summed, the root taken and scaled back;
// HA carries the sum of squares in two parts and corrects the root by its exact residual.
template <int kSlot>
inline VD hypot_scaled(VD a, VD b) {
  const VD ax = abs(a), ay = abs(b);
  const VD big = max(ax, ay), small = min(ax, ay);
  const VL u = as_int(big);
  VD ef = as_double(shr<52>(u) | as_int(splat<VD>(0x1p52))) - splat<VD>(0x1p52);
  ef = min(max(ef, splat<VD>(1.0)), splat<VD>(2045.0));
  const VD scale = pow2i(splat<VD>(1023.0) - ef);
  const VD x = big * scale, y = small * scale;
  VD s;
  if constexpr (kSlot == kHA) {
    VD h1, l1, h2, l2, sum, se;
    two_prod(x, x, h1, l1);
    two_prod(y, y, h2, l2);
    fast_two_sum(h1, h2, sum, se);
    const VD lo = se + (l1 + l2);
    s = sqrt(sum);
    VD p, pe;
    two_prod(s, s, p, pe);
    const VD d = ((sum - p) - pe) + lo;
    s = s + d / (s + s);
  } else {
    s = sqrt(mul_add(x, x, y * y));
  }
  return s * pow2i(ef - splat<VD>(1023.0));
}

template <int kSlot, typename T>
struct HypotK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = 1;
  template <class V>
  static V vec(V a, V b) {
    if constexpr (sizeof(T) == 4) {
      // Float squares are exact in double and cannot overflow there: one rounding of the sum and
      // one of the root, then the narrowing; within half an ulp plus 2^-28.
      return in_double(a, b, [](VD x, VD y) { return sqrt(mul_add(x, x, y * y)); });
    } else {
      return hypot_scaled<kSlot>(a, b);
    }
  }
  template <class V>
  static unsigned special(V a, V b) {
    const unsigned nonfinite = not_finite(a) | not_finite(b);
    if constexpr (sizeof(T) == 4) {
      return nonfinite;
    } else {
      // Both zero: the scaled root would divide zero by zero.
      return nonfinite | bits(max(abs(a), abs(b)) == splat<V>(T(0)));
    }
  }
  static void scalar(int i, const T* a, const T* b, T* r) {
    T out;
    if (hypot_special(a[i], b[i], out)) {
      r[i] = out;
    } else if (sizeof(T) == 8 && std::fabs(a[i]) * T(1) == T(0) && std::fabs(b[i]) * T(1) == T(0)) {
      r[i] = T(0);
    } else {
      r[i] = on_lane<HypotK>(a[i], b[i]);
    }
  }
};

// The root of s from a reciprocal-root estimate r, whose instruction issues far more often than the
// divider's square root. With y = s r rounded and e = 1 - y r (exact to 2^-66), sqrt(s) =
// y (1 - e)^(-1/2) up to half of y's rounding, and the series in e is cut where its remainder is
// below what the flavour allows.
//   Double at AVX-512: the 14-bit estimate, |e| <= 2^-13. EP: one coupled Newton step, a relative
//   error of 1.5 e^2 <= 2^-27.4, within half the significand. LA: the series to e^3, whose
//   remainder 35/128 e^4 stays below 2^-53.8; within about an ulp and a half.
//   Double at AVX2: the float estimate of s rounded to float (1.5 * 2^-12 and the rounding), |e| <=
//   2^-10.4, so s must lie in the float range. EP: the series to e^2 (remainder 5/16 e^3 <=
//   2^-32.9); LA: to e^4 (remainder 63/256 e^5 <= 2^-54); within about an ulp and a half.
//   Float at AVX-512: the 14-bit estimate and one coupled Newton step (1.5 e^2 <= 2^-27.4): within
//   about an ulp.
template <int kSlot>
[[gnu::always_inline]] inline VF root_by_estimate(VF s) {
  const VF r0 = rsqrt(s);
  const VF y0 = s * r0;
  const VF h0 = r0 * splat<VF>(0.5f);
  return mul_add(y0, nmul_add(y0, h0, splat<VF>(0.5f)), y0);
}
#if ZOK_ISA_LEVEL >= 2
template <int kSlot>
[[gnu::always_inline]] inline VD root_by_estimate(VD s) {
#if ZOK_ISA_LEVEL >= 3
  const VD r0 = {_mm512_rsqrt14_pd(s.v)};
  const VD y0 = s * r0;
  if constexpr (kSlot == kEP) {
    const VD h0 = r0 * splat<VD>(0.5);
    return mul_add(y0, nmul_add(y0, h0, splat<VD>(0.5)), y0);
  }
  const VD e = nmul_add(y0, r0, splat<VD>(1.0));
  const VD q = mul_add(mul_add(splat<VD>(0.3125), e, splat<VD>(0.375)), e, splat<VD>(0.5));
  return mul_add(y0 * e, q, y0);
#else
  const VD r0 = {_mm256_cvtps_pd(_mm_rsqrt_ps(_mm256_cvtpd_ps(s.v)))};
  const VD y0 = s * r0;
  const VD e = nmul_add(y0, r0, splat<VD>(1.0));
  VD q;
  if constexpr (kSlot == kEP) {
    q = mul_add(splat<VD>(0.375), e, splat<VD>(0.5));
  } else {
    const VD e2 = e * e;
    q = mul_add(mul_add(splat<VD>(35.0 / 128), e, splat<VD>(0.3125)), e2,
                mul_add(splat<VD>(0.375), e, splat<VD>(0.5)));
  }
  return mul_add(y0 * e, q, y0);
#endif
}
#endif

// LA and EP: sqrt(a^2 + b^2) in the arguments' own precision, one square rounded and added to the
// other in one rounding (within about 1.2 ulp). The result between 2^-40 and 2^60 (float) or 2^-450
// and 2^500 (double) keeps both squares finite and makes a smaller square lost to underflow, even
// when flushed to zero, far below an ulp; other lanes, and infinities and NaNs, take the scaled
// kernel's element path. The range test on the result is the one on the arguments it stands for.
// Where the root comes from an estimate the sum of squares is tested against the squares of the
// bounds, which also keeps the estimate away from denormals and infinities; at AVX2 the double
// bounds narrow to a result between 2^-60 and 2^60, inside the range of the float estimate.
template <int kSlot, typename T>
struct HypotDirectK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr bool kFloat = sizeof(T) == 4;
  // Double at AVX-512: two roots in flight, the tail in whole vectors (faster in one loaded run,
  // not in another: to be settled on a quiet machine); float at AVX-512 the tail in whole vectors
  // too (a block of 16 leaves up to 15 elements, each a vector's work on its own); elsewhere blocks
  // as short as may be, the tail element by element.
  static constexpr bool kWide = !kFloat && ZOK_ISA_LEVEL >= 3;
  static constexpr int kUnroll = kWide ? 2 : 1;
  static constexpr bool kTailScratch = ZOK_ISA_LEVEL >= 3;
  // No prefetch for double: at n = 1e6 the loop runs at memory speed without it, 1.3x faster at
  // AVX-512 and 1.1x at AVX2; float keeps it (5% faster at AVX2 with it).
  static constexpr bool kFetchAhead = kFloat;
  // Double from AVX2 on, and float at AVX-512, take the root from the estimate.
  static constexpr bool kEstimate = kFloat ? ZOK_ISA_LEVEL >= 3 : ZOK_ISA_LEVEL >= 2;
  static constexpr T kLowS = kFloat ? T(0x1p-80) : ZOK_ISA_LEVEL >= 3 ? T(0x1p-900) : T(0x1p-120);
  static constexpr T kHighS = kFloat ? T(0x1p120) : ZOK_ISA_LEVEL >= 3 ? T(0x1p1000) : T(0x1p120);
  template <class V>
  [[gnu::always_inline]] static V vec(V a, V b) {
    if constexpr (kEstimate) {
      return root_by_estimate<kSlot>(mul_add(a, a, b * b));
    } else {
      return sqrt(mul_add(a, a, b * b));
    }
  }
  template <class V>
  [[gnu::always_inline]] static unsigned special(V a, V b) {
    if constexpr (kEstimate) {
      const V s = mul_add(a, a, b * b);
      return outside<V>((s >= splat<V>(kLowS)) & (s <= splat<V>(kHighS)));
    }
    const V r = vec(a, b);
    return outside<V>((r >= splat<V>(kFloat ? T(0x1p-40) : T(0x1p-450))) &
                      (r <= splat<V>(kFloat ? T(0x1p60) : T(0x1p500))));
  }
  static void scalar(int i, const T* a, const T* b, T* r) {
    if (special(splat<Vec<T>>(a[i]), splat<Vec<T>>(b[i])) == 0) {
      r[i] = on_lane<HypotDirectK>(a[i], b[i]);
    } else {
      HypotK<kSlot, T>::scalar(i, a, b, r);
    }
  }
};

// ---- Pow and Powx ----

// ln x in two parts (hi + lo, |lo| <= ulp(hi)) for positive normal x, to about 2^-68 absolute:
// x = z 2^E with z in [0.703125, 1.40625); a cell of z gives inv_c (at most 10 significant bits)
// and -ln(inv_c) in two parts; r = z inv_c - 1 is formed exactly in two parts from the 43 leading
// bits of z; ln x = E ln 2 - ln(inv_c) + log1p(r), the leading terms added without error. The two
// cells beside 1 have inv_c = 1, so for x near 1 the error stays relative (about 2^-80 of ln x),
// which a large y needs.
// kEP leaves the error terms out (about 2^-52 absolute); kLA stops the series at r^9, drops the
// r rl term and the rounding error of r^2 (about 2^-61 of ln x), and adds -r^2/2 to the trailing sum
// instead of the leading one: it is below 2^-7 of ln x, so its rounding there stays near 2^-61 of
// ln x. That keeps y ln x within 2^-51 for every result in range.
// kOffset: e_off is added to the exponent (the fast path's is 0 and takes no addition).
// (The pieces of the double Pow core are forced inline: without a fused multiply-add their size
// keeps the compiler from inlining them, and the calls, with the second parts passed through
// memory, are a large share of the time.)

template <int kP, bool kOffset = true>
[[gnu::always_inline]] inline VD log_parts(VD x, VD e_off, VD& lo) {
  using namespace power;
  VD m;
  VD e = exponent_of(x, m);
  if constexpr (kOffset) e = e + e_off;
  const MD fold = m >= splat<VD>(1.40625);
  const VD z = select(fold, m, m * splat<VD>(0.5));
  e = select(fold, e, e + splat<VD>(1.0));
  const VL j = shr<45>(as_int(x)) & splat<VL>(127);  // (z's cell, told by the fraction bits alone)
  VD invc, lch, lcl;
  lookup_quads(kPowLogRows, j, invc, lch, lcl);
  const VD zh = as_double(as_int(z) & splat<VL>(static_cast<int64_t>(0xFFFFFFFFFFFFFC00ull)));
  // Both steps of r0 are exact; r1 is below 2^-41.5. The pair is renormalised, r = rh + rl with
  // |rl| <= ulp(rh) / 2, by the two-operation sum: it is exact when r0 = 0 or |r0| >= |r1| (always
  // so in the cells with inv_c = 1, where r0 is a multiple of 2^-42), and otherwise (r0 and r1 both
  // near 2^-42, an |ln x| above 2^-8) off by at most 2^-94.
  const VD r0 = mul_sub(zh, invc, splat<VD>(1.0));
  const VD r1 = (z - zh) * invc;
  VD rh, rl;
  fast_two_sum(r0, r1, rh, rl);
  // log1p(r) - r + r^2/2, for |r| <= 2^-7 (the cell above 1), truncated after r^11 (LA: r^9).
  // Estrin's scheme in r^2 and r^4, half as deep as Horner's rule.
  auto pair = [&](double c0, double c1) { return mul_add(splat<VD>(c1), rh, splat<VD>(c0)); };
  const VD r2 = rh * rh, r4 = r2 * r2, r3 = r2 * rh;
  VD upper;  // the terms from r^7 on, over r^7
  if constexpr (kP == kLA) {
    upper = mul_add(splat<VD>(1.0 / 9), r2, pair(1.0 / 7, -1.0 / 8));
  } else {
    upper = mul_add(mul_add(splat<VD>(1.0 / 11), r2, pair(1.0 / 9, -1.0 / 10)), r2, pair(1.0 / 7, -1.0 / 8));
  }
  const VD pr = mul_add(upper, r4, mul_add(pair(1.0 / 5, -1.0 / 6), r2, pair(1.0 / 3, -1.0 / 4)));
  if constexpr (kP == kLA) {
    // E ln2 is 0 or at least ln2, above |ln(inv_c)| <= 0.35; ln(inv_c) is 0 (the cells beside 1) or
    // at least 2^-7.5, above |r| <= 2^-8 in those cells. The trailing sum gathers the two sums'
    // errors, E ln2's and ln(inv_c)'s trailing parts, rl, -r^2/2 and the series from r^3 on.
    VD s1, e1, s2, e2;
    fast_two_sum(e * splat<VD>(kLn2Hi), lch, s1, e1);
    fast_two_sum(s1, rh, s2, e2);
    const VD t =
        mul_add(splat<VD>(-0.5), r2, (e1 + e2) + mul_add(e, splat<VD>(kLn2Lo), lcl)) + mul_add(pr, r3, rl);
    VD hi;
    fast_two_sum(s2, t, hi, lo);
    return hi;
  }
  const VD p = pr * r3;
  if constexpr (kP == kEP) {
    const VD r = rh + rl;
    lo = splat<VD>(0.0);
    return mul_add(e, splat<VD>(kLn2Hi + kLn2Lo), lch) + (r + mul_add(splat<VD>(-0.5), r * r, p));
  } else {
    // The sums are ordered by magnitude: E ln2 is 0 or at least ln2, above |ln(inv_c)| <= 0.35;
    // ln(inv_c) is 0 (the cells beside 1) or at least 2^-7.5, above |r| <= 2^-8 in those cells;
    // and |r^2 / 2| < |ln x| / 128.
    VD s1, e1, s2, e2, sq, sqe, s3, e3;
    fast_two_sum(e * splat<VD>(kLn2Hi), lch, s1, e1);
    fast_two_sum(s1, rh, s2, e2);
    if constexpr (kFusedMulAdd) {
      two_prod(rh, rh, sq, sqe);
    } else {
      // rh = a + b with a its leading 26 bits: a^2 is exact and b (2a + b) is below 2^-25 rh^2.
      const VD a = as_double(as_int(rh) & splat<VL>(static_cast<int64_t>(0xFFFFFFFFF8000000ull)));
      const VD b = rh - a;
      sq = a * a;
      sqe = b * (rh + a);
    }
    fast_two_sum(s2, splat<VD>(-0.5) * sq, s3, e3);
    const VD rl_sq = rl - rh * rl;  // (r^2 / 2 takes rh rl from log1p)
    const VD p_sq = mul_add(splat<VD>(-0.5), sqe, p);
    const VD t = ((e1 + e2) + e3) + mul_add(e, splat<VD>(kLn2Lo), lcl) + rl_sq + p_sq;
    VD hi;
    fast_two_sum(s3, t, hi, lo);
    return hi;
  }
}

// e^(t + tl) = m 2^k with m in [0.7, 1.5) and k integral, for |t| < 2^17: t = n ln2/128 + rr,
// n = 128 k + j, m = 2^(j/128) e^rr with 2^(j/128) in two parts (LA and EP one, rounded: 2^-53
// relative, which LA's bound has room for, and one table read less) and a polynomial of degree 5
// (3 for EP) in |rr| <= ln2/256. kb is k moved to the exponent field (k 2^52 as an integer), for
// scaling by an integer add.
template <int kP>
[[gnu::always_inline]] inline VD exp_parts(VD t, VD tl, VL& kb) {
  using namespace power;
  constexpr bool kTwoPart = kP == kHA, kLong = kP != kEP;
  const VD shifter = splat<VD>(0x1.8p52);
  const VD ns = mul_add(t, splat<VD>(k128ByLn2), shifter);  // n in the low bits
  const VD n = ns - shifter;
  const VD rr =
      nmul_add(n, splat<VD>(kLn2By128Hi), t) + nmul_add(n, splat<VD>(kLn2By128Lo), tl);  // first part exact
  // (masked: lanes outside the fast range are computed too, and must not read beyond the table;
  // the shift drops the shifter's bits)
  const VL nb = as_int(ns);
  const VL j = nb & splat<VL>(127);
  kb = shl<45>(nb & splat<VL>(~127ll));
  VD th, tlo;
  if constexpr (kTwoPart) {
    lookup_pairs(kExp2Rows, j, th, tlo);
  } else {
    th = lookup_one(kExp2Hi, j);
  }
  const VD rr2 = rr * rr;
  // (e^rr - 1 - rr) / rr^2 by its Taylor terms.
  constexpr double kQ[4] = {0.5, 1.0 / 6, 1.0 / 24, 1.0 / 120};
  constexpr double kQEp[2] = {0.5, 1.0 / 6};
  const VD q = kLong ? estrin(rr, kQ) : horner(rr, kQEp);
  const VD em1 = mul_add(q, rr2, rr);  // e^rr - 1
  if constexpr (kTwoPart) {
    return th + mul_add(th, em1, tlo);
  } else {
    return mul_add(th, em1, th);
  }
}

// |x|^y = e^(y ln x) for positive normal x as m 2^k; the product y ln x is carried in two parts.
template <int kP, bool kOffset = true>
[[gnu::always_inline]] inline VD pow_parts(VD x, VD y, VD e_off, VL& kb) {
  VD lo;
  const VD hi = log_parts<kP, kOffset>(x, e_off, lo);
  VD t, tl;
  if constexpr (kFusedMulAdd) {
    two_prod(y, hi, t, tl);
    tl = mul_add(y, lo, tl);
  } else {
    // y and hi cut to their leading 26 bits: t = yh hh is exact, and tl (below 2^-25 |t|, which
    // widens the exponential's reduced range by a negligible 2^-15) carries the rest with a
    // relative error of 2^-52.
    const VL mask = splat<VL>(static_cast<int64_t>(0xFFFFFFFFF8000000ull));
    const VD yh = as_double(as_int(y) & mask), hh = as_double(as_int(hi) & mask);
    t = yh * hh;
    tl = (y - yh) * hh + y * ((hi - hh) + lo);
  }
  return exp_parts<kP>(t, tl, kb);
}

#if ZOK_ISA_LEVEL == 3
// Double Pow LA on AVX-512, its tables held in registers (the 128-row tables above take four
// gathers a vector). x = 2^k m with m in [0.75, 1.5), rcp = j/32 the reciprocal estimate of m
// rounded to five fraction bits and r = m rcp - 1, exact (|r| < 0.0237). ln x = s + tail: s =
// (k ln2_hi + lnhi) + r as an exact sum (its first part is exact, both terms being multiples of
// 2^-42 below 2^10), tail = its error + k ln2_lo + lnlo + r^2 P(r), with -ln(rcp) = lnhi + lnlo
// from the 32-row table. tail reaches 2^-11.8 and is rounded at that size (some 2^-64), which the
// fast range affords: |y| < 1000 where x is near 1, so y ln x moves by about 2^-54. y tail, up to
// 0.28, joins t in choosing n, so |rr| stays within ln2/32. e^(t + tl) from the 16 rows of
// 2^(j/16), one part rounded (2^-53 relative).
[[gnu::always_inline]] inline VD pow_la_reg(VD x, VD y) {
  namespace ex = zok::explog_data;
  const VD one = splat<VD>(1.0);
  const VD m{_mm512_getmant_pd(x.v, _MM_MANT_NORM_p75_1p5, _MM_MANT_SIGN_src)};
  const VD k = VD{_mm512_getexp_pd(x.v)} - VD{_mm512_getexp_pd(m.v)};  // getexp(m) is -1 where m < 1
  const VD rcp{
      _mm512_roundscale_pd(_mm512_rcp14_pd(m.v), (5 << 4) | _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)};
  const VD r = mul_sub(m, rcp, one);
  const VL row = as_int(rcp + splat<VD>(0x1p47));  // j in the low bits
  const VD hi0 = mul_add(k, splat<VD>(ex::kLn2Hi), lookup_reg<32>(ex::kDLogR32[0], row));
  VD s2, e1;
  fast_two_sum(hi0, r, s2, e1);  // hi0 is 0 or above |r|
  const VD lo = mul_add(k, splat<VD>(ex::kLn2Lo), lookup_reg<32>(ex::kDLogR32[1], row));
  const VD tail = mul_add(r * r, estrin(r, ex::kDLnR32HA), lo + e1);
  VD t, tl;
  two_prod(y, s2, t, tl);
  tl = mul_add(y, tail, tl);
  // t + tl = n ln2/16 + rr, n = 16 k' + j; the leading product is exact (|n| < 2^15).
  const VD shifter = splat<VD>(0x1.8p52);
  const VD ns = mul_add(t + tl, splat<VD>(power::k128ByLn2 / 8), shifter);
  const VD n = ns - shifter;
  const VD rr =
      nmul_add(n, splat<VD>(power::kLn2By128Hi * 8), t) + nmul_add(n, splat<VD>(power::kLn2By128Lo * 8), tl);
  const VL nb = as_int(ns);
  const VD th = lookup_reg<16>(ex::kDExp16[0], nb);
  const VD p = mul_add(rr * rr, estrin(rr, ex::kDExpLA16), rr);  // e^rr - 1
  return as_double(as_int(mul_add(th, p, th)) + shl<48>(nb & splat<VL>(~15ll)));
}

// Double Pow HA on AVX-512, its tables held in registers (the 128-row tables above take five
// gathers a vector). ln x = hi + lo from the 32-row register table and the series to r^12 (some
// 2^-69 absolute: y ln x moves by at most 2^-59 where x is near 1 and |y| < 1000), y ln x = t + tl
// with t an exact product. t = n ln2/32 + rr + tl, n = 32 k' + j taken from t alone (|tl| < 2^-43
// widens |rr| <= ln2/64 by as much); the leading products are exact (|n| < 2^16 and the first part of
// ln2/32 has 35 bits). e^rr from the Exp HA polynomial on 32 rows (2^-62), 2^(j/32) in two parts.
[[gnu::always_inline]] inline VD pow_ha_reg(VD x, VD y) {
  namespace ex = zok::explog_data;
  const DLnDD l = dln_dd_reg(x);
  VD t, tl;
  two_prod(y, l.hi, t, tl);
  tl = mul_add(y, l.lo, tl);
  const VD shifter = splat<VD>(0x1.8p52);
  const VD ns = mul_add(t, splat<VD>(power::k128ByLn2 / 4), shifter);
  const VD n = ns - shifter;
  const VD rr =
      nmul_add(n, splat<VD>(power::kLn2By128Hi * 4), t) + nmul_add(n, splat<VD>(power::kLn2By128Lo * 4), tl);
  const VL nb = as_int(ns);
  const VD th = lookup_reg<32>(ex::kDExp32[0], nb), tlo = lookup_reg<32>(ex::kDExp32[1], nb);
  const VD p = mul_add(rr * rr, horner(rr, ex::kDExpHA32), rr);  // e^rr - 1
  return as_double(as_int(th + mul_add(th + tlo, p, tlo)) + shl<47>(nb & splat<VL>(~31ll)));
}
#endif

// In the fast range m 2^k is normal, so k goes straight into m's exponent field.
template <int kP>
[[gnu::always_inline]] inline VD pow_fast(VD x, VD y) {
#if ZOK_ISA_LEVEL == 3
  if constexpr (kP == kLA) return pow_la_reg(x, y);
  if constexpr (kP == kHA) return pow_ha_reg(x, y);
#endif
  VL kb;
  const VD m = pow_parts<kP, false>(x, y, splat<VD>(0.0), kb);
  return as_double(as_int(m) + kb);
}

// Lanes the fast path takes: x positive normal finite, y finite, and |y| (|E| + 1) < 1000 with E
// the exponent of x, so that |y log2 x| < 1000 and the result and 2^k stay normal.
inline unsigned pow_outside(VD x, VD y) {
#if ZOK_ISA_LEVEL == 3
  // The same lanes in fewer operations: one class test for zeros, denormals, negatives, infinities
  // and NaNs, E from getexp, and (|E| + 1) |y| as a fused product (|E| + 1 is exact, so the one
  // rounding is the same).
  const VD ay = abs(y);
  const unsigned bad = _mm512_fpclass_pd_mask(x.v, 0xFF);
  return bad | outside<VD>(mul_add(abs(VD{_mm512_getexp_pd(x.v)}), ay, ay) < splat<VD>(1000.0));
#else
  const VD e = as_double(shr<52>(as_int(x)) | as_int(splat<VD>(0x1p52))) - splat<VD>(0x1p52 + 1023.0);
  const MD ok = (x >= splat<VD>(0x1p-1022)) & (x <= splat<VD>(Limits<double>::kMax)) &
                (abs(y) * (abs(e) + splat<VD>(1.0)) < splat<VD>(1000.0));
  return outside<VD>(ok);
#endif
}
// Float: x positive and finite (denormals too: they are normal doubles), y finite, and
// |y| (|E| + 1) < 800 with E the exponent field of x less 127, so that |y log2 x| < 800 149/128
// (the denormals' log2 reaches -149 where E is -127) and every double in the computation is normal.
inline unsigned pow_outside(VF x, VF y) {
  const VF e = to_float(shr<23>(as_int(x)) - splat<VI>(127));
  const MF ok = (x > splat<VF>(0.0f)) & (x <= splat<VF>(Limits<float>::kMax)) &
                (abs(y) * (abs(e) + splat<VF>(1.0f)) < splat<VF>(800.0f));
  return outside<VF>(ok);
}

// Pow without tables, in double: float HA and LA (on the widened halves of a float vector) and
// double EP. x = m 2^E with m in [2/3, 4/3) (the bits of x less those of 4/3's fraction carry
// E + 1022 in their exponent field and m's fraction below it), log2 x = E + t p(t) with t = m - 1
// exact and p of degree 12 (float HA, 2^-35.6 relative), 10 (float LA, 2^-30.3) or 13 (double EP,
// 2^-38.3). As |E + log2 m| >= 0.41 wherever E != 0, |y log2 m| <= 1.43 |z|, so z = y log2 x is
// off by at most 1.43 |z| times p's error. 2^z = 2^n (1 + f q(f)) with |f| <= 1/2 and q of degree 6
// (2^-33) or 5 (float LA, 2^-27.5), n added to the exponent field (the fast ranges keep |n| below
// 1000: a normal double). Before any rounding to float the result is within 2^-28 relative (float
// HA, |z| < 128: half an ulp plus 2^-4), 2^-23.3 (float LA: 2 ulp) or 2^-28.2 (double EP, |z| <
// 1000: 2^25 ulp); overflow and underflow of a float happen in that rounding.
template <int kP, typename T>
[[gnu::always_inline]] inline VD pow_poly(VD x, VD y) {
  using namespace power;
  const VL w = as_int(x) - splat<VL>(0x5555555555555ll);
  const VD m = as_double((w & splat<VL>(0xFFFFFFFFFFFFFll)) + splat<VL>(0x3FE5555555555555ll));
  const VD e = as_double(shr<52>(w) | as_int(splat<VD>(0x1p52))) - splat<VD>(0x1p52 + 1022.0);
  const VD t = m - splat<VD>(1.0);
  const VD lp = sizeof(T) == 8 ? estrin(t, kPowLog2Poly13)
                : kP == kHA    ? estrin(t, kPowLog2Poly12)
                               : estrin(t, kPowLog2Poly10);
  const VD z = y * mul_add(t, lp, e);
  const VD shifter = splat<VD>(0x1.8p52);
  const VD ns = z + shifter;
  const VD f = z - (ns - shifter);  // exact
  const VD q = sizeof(T) == 4 && kP == kLA ? estrin(f, kPowExp2Poly5) : estrin(f, kPowExp2Poly6);
  const VD p = mul_add(f, q, splat<VD>(1.0));
  return as_double(as_int(p) + shl<52>(as_int(ns)));
}

// Float Pow EP in float lanes, without tables. x = m 2^E with m in [2/3, 4/3): the bits of x less
// those of 4/3's fraction carry E + 126 in their exponent field and m's fraction below it. log2 x =
// E + t p(t) with t = m - 1 exact and p of degree 7 (2^-22 relative); as |E + log2 m| >= 0.41
// wherever E != 0, z = y log2 x is off by at most 185 |z| 2^-22 plus its roundings (2^-14.5 for
// |z| <= 128). 2^z = 2^n (1 + f q(f)) with n the integer nearest z and |f| <= 1/2 (q: 2^-17), n
// added to the exponent field: the result stays within 2^-14 relative, about 2^10 ulp.
[[gnu::always_inline]] inline VF pow_float_ep_z(VF x, VF y) {
  const VI w = as_int(x) - splat<VI>(0x2AAAAB);
  const VF m = as_float((w & splat<VI>(0x7FFFFF)) + splat<VI>(0x3F2AAAAB));
  const VF e = to_float(shr<23>(w)) - splat<VF>(126.0f);
  const VF t = m - splat<VF>(1.0f);
  return y * mul_add(t, horner(t, power::kPowEpLog2Poly), e);
}
// Lanes with z at or beyond 128 overflow to +inf here (below it n <= 128 and 2^f < 1 keep the
// result finite); within 2^-12 of 128, where z's error could put the result on the wrong side of
// the overflow threshold, and below -125 (where the result nears the denormals) they go through the
// rules, as do denormal x.
[[gnu::always_inline]] inline VF pow_float_ep(VF x, VF y) {
  const VF z = pow_float_ep_z(x, y);
  const VF shifter = splat<VF>(0x1.8p23f);
  const VF ns = z + shifter;
  const VF f = z - (ns - shifter);  // exact
  const VF p = mul_add(f, horner(f, power::kPowEpExp2Poly), splat<VF>(1.0f));
  const VF r = as_float(as_int(p) + shl<23>(as_int(ns)));
  return select(z >= splat<VF>(128.0f), r, splat<VF>(kInf<float>));
}
[[gnu::always_inline]] inline unsigned pow_float_ep_outside(VF x, VF y) {
  const VF z = pow_float_ep_z(x, y);
  const MF ok = (x >= splat<VF>(Limits<float>::kMinNormal)) & (z >= splat<VF>(-125.0f)) &
                (abs(z - splat<VF>(128.0f)) >= splat<VF>(0x1p-12f));
  return pow_outside(x, y) | outside<VF>(ok);
}

// The integer test of y: 0 not an integer, 1 odd, 2 even. |y| >= 2^24 (float) or 2^53 (double)
// counts as even.
template <typename T>
inline int integer_kind(T y) {
  const T ay = std::fabs(y);
  if (!(ay < (sizeof(T) == 4 ? T(0x1p24) : T(0x1p53)))) return 2;
  if (std::trunc(ay) != ay) return 0;
  return (static_cast<int64_t>(ay) & 1) ? 1 : 2;
}

// |x|^y for finite non-zero x and y outside the fast range, in double: the result may overflow,
// underflow or be denormal; it is rounded once.
template <int kP>
inline double pow_scalar_core(double ax, double y) {
  double e_off = 0;
  if (ax < 0x1p-1022) {
    ax *= 0x1p54;
    e_off = -54;
  }
  VD lo_v;
  const VD hi_v = log_parts<kP>(splat<VD>(ax), splat<VD>(e_off), lo_v);
  const double t = y * lane0(hi_v);
  if (!(t < 710.0)) return kInf<double>;
  if (!(t > -746.0)) return 0.0;
  VL kb;
  const VD m = pow_parts<kP>(splat<VD>(ax), splat<VD>(y), splat<VD>(e_off), kb);
  int64_t k;
  const double kbd = lane0(as_double(kb));
  std::memcpy(&k, &kbd, sizeof k);
  return std::ldexp(lane0(m), static_cast<int>(k >> 52));
}

// ---- float Pow, scalar path: float and float-pair arithmetic ----

// Float pairs h + l from the exact operations. split_hi keeps the leading 12 bits of a float, so
// products of halves, or of a half and a float of 12 bits, are exact. The pair forms below hide the
// shared helpers, so they call them by their full name.
struct FF {
  float h, l;
};
inline FF two_sum(float a, float b) {
  FF r;
  ZOK_ISA_NS::two_sum(a, b, r.h, r.l);
  return r;
}
inline FF fast_two_sum(float a, float b) {
  FF r;
  ZOK_ISA_NS::fast_two_sum(a, b, r.h, r.l);
  return r;
}
// a b exactly, from the four products of the halves (scalar code has no fused multiply-add).
inline FF two_prod(float a, float b) {
  FF r;
  ZOK_ISA_NS::two_prod(a, b, r.h, r.l);
  return r;
}
inline float float_of_bits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// One level of the logarithm's reduction: with m = 1 + u (u a float pair), i the integer nearest
// u 2^s and d from the level's table, m (1 - d) = 1 + u' with u' = u - d - d u. d has 12
// significant bits, so d times either half of u's leading float is exact; d times its trailing
// float is below 2^-47 of u. Returns the table row.
inline int log2_level(FF& u, float scale, int offset, int last, const float* d_tab) {
  int i = static_cast<int>(std::floor(u.h * scale + 0.5f));
  i = i < -offset ? -offset : i > last ? last : i;  // (the generator bounds u; this only guards)
  const float d = d_tab[i + offset];
  const float uh = split_hi(u.h), ul = u.h - uh;
  const FF s1 = two_sum(u.h, -d);
  const FF s2 = two_sum(s1.h, -(d * uh));
  const FF s3 = two_sum(s2.h, -(d * ul));
  u = fast_two_sum(s3.h, ((s1.l + s2.l) + s3.l) + (u.l - d * u.l));
  return i + offset;
}

// log2 x as a float pair, to about 2^-47 relative, for positive finite x (denormals included).
// x = m 2^E with m in [0.75, 1.5); three levels take m to 1 + r with |r| < 2^-14, where
// log(1 + r) = r - r^2/2 + r^3/3 - r^4/4 leaves 2^-71 relative. Near 1 every level picks d = 0 and
// adds nothing, so the result keeps its relative accuracy however close x is to 1 (a large y needs
// that).
inline FF log2_float(float x) {
  using namespace power;
  int e_off = 0;
  if (x < 0x1p-126f) {
    x *= 0x1p24f;
    e_off = -24;
  }
  uint32_t u32;
  std::memcpy(&u32, &x, sizeof u32);
  int e = static_cast<int>(u32 >> 23) - 127 + e_off;
  float m = float_of_bits((u32 & 0x007FFFFFu) | 0x3F800000u);
  if (m >= 1.5f) {
    m *= 0.5f;
    e += 1;
  }
  FF u = {m - 1.0f, 0.0f};  // exact (m within a factor 2 of 1)
  const int j1 = log2_level(u, 16.0f, kPowFOffset1, kPowFLast1, kPowFD1);
  const int j2 = log2_level(u, 256.0f, kPowFOffset2, kPowFLast2, kPowFD2);
  const int j3 = log2_level(u, 8192.0f, kPowFOffset3, kPowFLast3, kPowFD3);
  // log(1 + r): the leading float exact, the rest (below 2^-14 of it) in one float.
  const float r = u.h, r2 = r * r;
  const float tail = (u.l - r * u.l) + r2 * (-0.5f + r * (1.0f / 3 - r * 0.25f));
  const FF ln = fast_two_sum(r, tail);
  FF l2 = two_prod(ln.h, kPowFInvLn2Hi);
  l2 = fast_two_sum(l2.h, l2.l + (ln.h * kPowFInvLn2Lo + ln.l * kPowFInvLn2Hi));
  // E + the three table values + log2(1 + r): the leading floats summed exactly, the trailing ones
  // in a float (they are all below 2^-24 of the result's leading float).
  const FF a1 = two_sum(static_cast<float>(e), kPowFLog2Hi1[j1]);
  const FF a2 = two_sum(a1.h, kPowFLog2Hi2[j2]);
  const FF a3 = two_sum(a2.h, kPowFLog2Hi3[j3]);
  const FF a4 = two_sum(a3.h, l2.h);
  const float lo =
      (((a1.l + a2.l) + (a3.l + a4.l)) + l2.l) + ((kPowFLog2Lo1[j1] + kPowFLog2Lo2[j2]) + kPowFLog2Lo3[j3]);
  return fast_two_sum(a4.h, lo);
}

// 2^z for z = z.h + z.l (|z.l| <= ulp(z.h)), rounded once, overflowing to +inf and underflowing to
// denormals or +0. z = k + j/128 + f with |f| <= 1/256; 2^(j/128) from its table as a float pair,
// 2^f - 1 by the cubic 0.6931472 f + 0.2402265 f^2 + 0.05550411 f^3 (7.9e-11 relative); the
// mantissa t (1 + p) is rounded to float once and scaled by 2^k in two exact-then-rounding steps.
inline float exp2_float(FF z) {
  using namespace power;
  if (z.h >= 129.0f) return kInf<float>;
  if (z.h <= -152.0f) return 0.0f;
  const float nf = std::floor(z.h * 128.0f + 0.5f);
  const int n = static_cast<int>(nf);
  const float f = (z.h - nf * (1.0f / 128)) + z.l;  // the difference is exact
  const int j = n & 127, k = (n - j) / 128;
  const float p = f * (kPowFExp2Poly[0] + f * (kPowFExp2Poly[1] + f * kPowFExp2Poly[2]));
  const float th = kPowFExp2Hi[j];
  const float mant = th + (th * p + kPowFExp2Lo[j]);
  const int k1 = k / 2, k2 = k - k1;  // both in [-77, 65]: normal scale factors
  const float s1 = float_of_bits(static_cast<uint32_t>(k1 + 127) << 23);
  const float s2 = float_of_bits(static_cast<uint32_t>(k2 + 127) << 23);
  return (mant * s1) * s2;
}

// |x|^y for finite non-zero float x and y (x != 1) outside the fast range: log2 |x| as a float pair,
// y times it as a float pair (y split into halves), then 2^z. The product's leading float is
// formed first: when it is beyond +-200 the result is decided (it overflows or underflows) and the
// split is never needed there, so y's halves cannot overflow.
inline float pow_float_scalar(float ax, float y) {
  const FF l = log2_float(ax);
  const float z0 = y * l.h;
  if (z0 > 200.0f) return kInf<float>;
  if (z0 < -200.0f) return 0.0f;
  const FF z = two_prod(y, l.h);
  return exp2_float(fast_two_sum(z.h, z.l + y * l.l));
}

// +-1 and +-0 by the negative-result flag (entry 1 negative).
template <typename T>
inline const T* signed_ones() {
  if constexpr (sizeof(T) == 4) {
    return power::kPowFOnes;
  } else {
    return power::kPowDOnes;
  }
}
template <typename T>
inline const T* signed_zeros() {
  if constexpr (sizeof(T) == 4) {
    return power::kPowFZeros;
  } else {
    return power::kPowDZeros;
  }
}

// The ordered rules on one element; returns the result and sets code (0 or 1). `fast` computes
// |x|^y for ordinary x > 0 exactly as the vector path does.
template <typename T, int kP, typename Fast>
inline T pow_rules(T x, T y, int& code, Fast fast) {
  code = 0;
  T out;
  if (fast(x, y, out)) return out;  // the vector formula, for elements the fast path takes
  if (x == T(1) || y == T(0)) return T(1);
  // A NaN base's payload wins over a NaN exponent's, whatever order the compiler gives an addition.
  if (x != x) return x + x;
  if (y != y) return y + y;
  const int kind = integer_kind(y);
  const bool odd = kind == 1 && std::fabs(y) != kInf<T>;
  if (x == T(0)) {
    const int neg = std::signbit(x) && odd;
    if (y < T(0)) {
      code = ZOK_VM_STATUS_DOMAIN;
      return kInf<T> * signed_ones<T>()[neg];
    }
    return signed_zeros<T>()[neg];
  }
  if (x == T(-1) && (kind != 0 || std::fabs(y) == kInf<T>)) return odd ? T(-1) : T(1);
  const T ax = std::fabs(x);
  if (ax == kInf<T> || std::fabs(y) == kInf<T>) {
    if (ax < T(1)) return y < T(0) ? kInf<T> : T(0);
    const int neg = x < T(0) && odd;
    return y < T(0) ? signed_zeros<T>()[neg] : kInf<T> * signed_ones<T>()[neg];
  }
  if (x < T(0) && kind == 0) {
    code = ZOK_VM_STATUS_DOMAIN;
    return neg_nan<T>();
  }
  const int neg = x < T(0) && odd;
  if constexpr (sizeof(T) == 4) {
    return pow_float_scalar(ax, y) * signed_ones<T>()[neg];
  } else {
    return pow_scalar_core<kP>(ax, y) * signed_ones<T>()[neg];
  }
}

// Pow: the fast path computes in double (float HA and LA with their lanes widened, float EP in float
// lanes), the rest goes element by element through the rules (special values, reports, results
// beyond the range). Float: HA and LA take pow_poly (polynomials without tables: HA within half an
// ulp plus 2^-4, LA 2 ulp), EP pow_float_ep (about 2^10 ulp) and, off the fast range, all take
// pow_float_scalar (float pairs: within 0.51 ulp, 0.75 where the result is denormal). Double: HA
// and LA take the two-part logarithm, HA the two-part exponential (HA within 0.75 ulp, LA, with the
// shorter logarithm and the one-part table of the exponential, 2.5; on AVX-512 pow_la_reg and
// pow_ha_reg, from tables held in registers, about 2 and within HA's bound), EP pow_poly (about 2^25
// ulp; off the fast range the short table-driven parts, about 2^15). A one-part logarithm cannot
// serve LA: y ln x must be right to about 2^-52 for |y ln x| up to 745, 2^-61.5 of ln x.
template <Fn kFn, int kP, typename T>
struct PowK {
  static constexpr Check kCheck = Check::kFixLanes;
  // Two double vectors in flight help the two-part flavours where there are 4 lanes and a fused
  // multiply-add (measured); elsewhere they do not. The tail goes through whole vectors: one
  // element at a time costs a vector's work each.
  static constexpr int kUnroll = sizeof(T) == 8 && kP != kEP && ZOK_ISA_LEVEL >= 2 ? 2 : 1;
  static constexpr bool kFloatLanes = sizeof(T) == 4 && kP == kEP;
  template <class V>
  [[gnu::always_inline]] static V vec(V x, V y) {
    if constexpr (kFloatLanes) {
      return pow_float_ep(x, y);
    } else if constexpr (sizeof(T) == 4) {
      return in_double(
          x, y, [](VD a, VD b) __attribute__((always_inline)) { return pow_poly<kP, float>(a, b); });
    } else if constexpr (kP == kEP) {
      return pow_poly<kEP, double>(x, y);
    } else {
      return pow_fast<kP>(x, y);
    }
  }
  template <class V>
  [[gnu::always_inline]] static unsigned special(V x, V y) {
    if constexpr (kFloatLanes) {
      return pow_float_ep_outside(x, y);
    } else {
      return pow_outside(x, y);
    }
  }
  static bool fast(T x, T y, T& out) {
    if (special(splat<Vec<T>>(x), splat<Vec<T>>(y)) != 0) return false;
    out = on_lane<PowK>(x, y);
    return true;
  }
  static void scalar(int i, const T* a, const T* b, T* r) {
    int code;
    r[i] = pow_rules<T, kP>(a[i], b[i], code, fast);
    if (code != 0) report(code, i, a, b, r, r, vm::traits(kFn).name);
  }
};

// Powx: Pow with one exponent b for the whole array. The float kernels compare b once with a set
// of small values and compute those powers by shorter means (in double, so they stay within half
// an ulp): +-1/2, +-1, +-3/2, +-2 in every flavour, +-3 and +-4 in LA and EP, +-1/3 and +-2/3 in EP
// (where b is the float nearest the third, a few ulp off the exact power). Elements outside a
// shortcut's range go through the rules as in Pow.
enum class Px {
  kGeneral,
  kHalf,
  kMinusHalf,
  kOne,
  kMinusOne,
  kThreeHalves,
  kMinusThreeHalves,
  kTwo,
  kMinusTwo,
  kThree,
  kMinusThree,
  kFour,
  kMinusFour,
  kThird,
  kMinusThird,
  kTwoThirds,
  kMinusTwoThirds
};

constexpr bool integral_path(Px p) {
  return p == Px::kOne || p == Px::kMinusOne || p == Px::kTwo || p == Px::kMinusTwo || p == Px::kThree ||
         p == Px::kMinusThree || p == Px::kFour || p == Px::kMinusFour;
}

template <Px kPath>
inline VD powx_short(VD x) {
  const VD one = splat<VD>(1.0);
  switch (kPath) {
    case Px::kHalf:
      return sqrt(x);
    case Px::kMinusHalf:
      return one / sqrt(x);
    case Px::kOne:
      return x;
    case Px::kMinusOne:
      return one / x;
    case Px::kThreeHalves:
      return x * sqrt(x);
    case Px::kMinusThreeHalves:
      return one / (x * sqrt(x));
    case Px::kTwo:
      return x * x;
    case Px::kMinusTwo:
      return one / (x * x);
    case Px::kThree:
      return x * x * x;
    case Px::kMinusThree:
      return one / (x * x * x);
    case Px::kFour:
      return (x * x) * (x * x);
    case Px::kMinusFour:
      return one / ((x * x) * (x * x));
    case Px::kThird:
      return root_core<Root::kCbrt, kEP>(x);
    case Px::kMinusThird:
      return root_core<Root::kInvCbrt, kEP>(x);
    case Px::kTwoThirds:
      return root_core<Root::kPow2o3, kEP>(x);
    case Px::kMinusTwoThirds:
      return one / root_core<Root::kPow2o3, kEP>(x);
    case Px::kGeneral:
      break;
  }
  return x;
}

template <Fn kFn, int kP, Px kPath, typename T>
struct PowxK {
  template <class V>
  [[gnu::always_inline]] static V vec(V x, V y) {
    if constexpr (kPath == Px::kGeneral) {
      return PowK<kFn, kP, T>::vec(x, y);
    } else {
      return in_double(x, [](VD d) { return powx_short<kPath>(d); });
    }
  }
  template <class V>
  [[gnu::always_inline]] static unsigned special(V x, V y) {
    if constexpr (kPath == Px::kGeneral) {
      return PowK<kFn, kP, T>::special(x, y);
    } else if constexpr (integral_path(kPath)) {
      return not_finite(x) | bits(x == splat<V>(T(0)));
    } else {
      return not_positive_finite(x);
    }
  }
  static bool fast(T x, T y, T& out) {
    const Vec<T> vx = splat<Vec<T>>(x), vy = splat<Vec<T>>(y);
    if (special(vx, vy) != 0) return false;
    out = lane0(vec(vx, vy));
    return true;
  }
  static void scalar(int i, const T* a, T b, T* r) {
    int code;
    r[i] = pow_rules<T, kP>(a[i], b, code, fast);
    if (code != 0) report(code, i, a, b, r, vm::traits(kFn).name);
  }
};

// Powx picks the kernel of its exponent's shortcut once per call; each runs in blocks of one vector
// against the broadcast b, lanes outside the fast range redone one by one through the rules. Float
// flavours have shortcuts for +-1/2, +-1, +-3/2, +-2; LA and EP also for +-3, +-4; EP also for the
// thirds.
template <Fn kFn, int kP, typename T>
struct PowxByExponent {
  static void run(int n, const T* a, T b, T* r) {
    auto go = [&](auto path) { by_value_loop<PowxK<kFn, kP, decltype(path)::value, T>>(n, a, b, r); };
    using P = Px;
    if constexpr (sizeof(T) == 4) {
      if (b == 0.5f) return go(std::integral_constant<P, P::kHalf>{});
      if (b == -0.5f) return go(std::integral_constant<P, P::kMinusHalf>{});
      if (b == 1.0f) return go(std::integral_constant<P, P::kOne>{});
      if (b == -1.0f) return go(std::integral_constant<P, P::kMinusOne>{});
      if (b == 1.5f) return go(std::integral_constant<P, P::kThreeHalves>{});
      if (b == -1.5f) return go(std::integral_constant<P, P::kMinusThreeHalves>{});
      if (b == 2.0f) return go(std::integral_constant<P, P::kTwo>{});
      if (b == -2.0f) return go(std::integral_constant<P, P::kMinusTwo>{});
      if constexpr (kP != kHA) {
        if (b == 3.0f) return go(std::integral_constant<P, P::kThree>{});
        if (b == -3.0f) return go(std::integral_constant<P, P::kMinusThree>{});
        if (b == 4.0f) return go(std::integral_constant<P, P::kFour>{});
        if (b == -4.0f) return go(std::integral_constant<P, P::kMinusFour>{});
      }
      if constexpr (kP == kEP) {
        if (b == 1.0f / 3) return go(std::integral_constant<P, P::kThird>{});
        if (b == -1.0f / 3) return go(std::integral_constant<P, P::kMinusThird>{});
        if (b == 2.0f / 3) return go(std::integral_constant<P, P::kTwoThirds>{});
        if (b == -2.0f / 3) return go(std::integral_constant<P, P::kMinusTwoThirds>{});
      }
    }
    go(std::integral_constant<P, P::kGeneral>{});
  }
};

// ---- the policy of each function and slot ----

// Float LA and EP refine an estimate (or, at AVX-512 where the root instruction is cheap, take the
// exact root); HA and double round the exact root once.
template <Fn f, int s>
using SqrtOf = std::conditional_t<s == kHA || vm::traits(f).type == 'd', SqrtK<f, vm::Elem<f>>,
                                  RootCost<SqrtEstimateK<f, s>, SqrtK<f, float>>>;
template <Fn f, int s>
using InvSqrtOf =
    std::conditional_t<vm::traits(f).type == 's',
                       std::conditional_t<s == kHA, InvSqrtFloatStepK<f>, InvSqrtEstimateK<f, s>>,
                       std::conditional_t<s == kHA, InvSqrtDoubleHaK<f>, InvSqrtDoubleK<f>>>;
constexpr Root root_of(Fn f) {
  return f == Fn::sCbrt || f == Fn::dCbrt         ? Root::kCbrt
         : f == Fn::sInvCbrt || f == Fn::dInvCbrt ? Root::kInvCbrt
                                                  : Root::kPow2o3;
}
// The roots' HA kernels add residual corrections; LA and EP are seeded (the double ones one kernel,
// but for Pow2o3, whose row gives EP a kernel of its own).
template <Fn f, int s>
using RootOf =
    std::conditional_t<s == kHA, RootK<f, root_of(f), kHA, vm::Elem<f>>,
                       RootSeededK<f, root_of(f), vm::traits(f).type == 's' ? s : kLA, vm::Elem<f>>>;
template <Fn f, int s>
using Pow3o2Of = Pow3o2K<f, s, vm::Elem<f>>;
template <Fn f, int s>
using HypotOf = std::conditional_t<s == kHA, HypotK<s, vm::Elem<f>>, HypotDirectK<s, vm::Elem<f>>>;
template <Fn f, int s>
using PowOf = PowK<f, s, vm::Elem<f>>;
template <Fn f, int s>
using PowxOf = PowxByExponent<f, s, vm::Elem<f>>;

}  // namespace

void register_power(vm::KernelSlots& s) {
  using enum Fn;
  reg<sSqrt, SqrtOf>(s);
  reg<dSqrt, SqrtOf>(s);
  reg<sInvSqrt, InvSqrtOf>(s);
  reg<dInvSqrt, InvSqrtOf>(s);
  reg<sCbrt, RootOf>(s);
  reg<dCbrt, RootOf>(s);
  reg<sInvCbrt, RootOf>(s);
  reg<dInvCbrt, RootOf>(s);
  reg<sPow2o3, RootOf>(s);
  reg<dPow2o3, RootOf>(s);
  reg<sPow3o2, Pow3o2Of>(s);
  reg<dPow3o2, Pow3o2Of>(s);
  reg<sHypot, HypotOf>(s);
  reg<dHypot, HypotOf>(s);
  reg<sPow, PowOf>(s);
  reg<dPow, PowOf>(s);
  reg<sPowx, PowxOf>(s);
  reg<dPowx, PowxOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
