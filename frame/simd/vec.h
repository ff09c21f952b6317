// The vector layer: Vec types for float (VF) and double (VD) with their masks, and the operations
// kernels are written in. Included only by kernel sources compiled once per instruction set, with
// ZOK_ISA_NS naming that set's namespace and ZOK_ISA_LEVEL selecting its back end.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#if !defined(ZOK_ISA_NS) || !defined(ZOK_ISA_LEVEL)
#error "vector-layer sources are compiled per instruction set (ZOK_ISA_NS, ZOK_ISA_LEVEL)"
#endif

// Rounding immediates of the round instructions.
#define ZOK_RND_NEAREST (_MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)
#define ZOK_RND_FLOOR (_MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)
#define ZOK_RND_CEIL (_MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC)
#define ZOK_RND_TRUNC (_MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)
#define ZOK_RND_CURRENT_NOEXC (_MM_FROUND_CUR_DIRECTION | _MM_FROUND_NO_EXC)
#define ZOK_RND_CURRENT (_MM_FROUND_CUR_DIRECTION)

// Each back end states kFusedMulAdd: whether its mul_add (a*b + c), nmul_add (c - a*b) and mul_sub
// (a*b - c) round once, as fused instructions, or twice. A step that is exact only when rounded
// once tests it.
#if ZOK_ISA_LEVEL == 1
#include "frame/simd/sse41.h"
#elif ZOK_ISA_LEVEL == 2
#include "frame/simd/avx2.h"
#elif ZOK_ISA_LEVEL == 3
#include "frame/simd/avx512.h"
#else
#error "unknown ZOK_ISA_LEVEL"
#endif

namespace zok::ZOK_ISA_NS {

template <typename T>
struct VecFor;
template <>
struct VecFor<float> {
  using type = VF;
};
template <>
struct VecFor<double> {
  using type = VD;
};
template <typename T>
using Vec = typename VecFor<T>::type;
// Integer lanes of the same width as the floating lanes of V: VI for VF, VL for VD.
template <typename V>
struct IntFor;
template <>
struct IntFor<VF> {
  using type = VI;
};
template <>
struct IntFor<VD> {
  using type = VL;
};
template <typename V>
using IntVec = typename IntFor<V>::type;
// Bit views that work for both precisions.
inline VI bits_of(VF a) {
  return as_int(a);
}
inline VL bits_of(VD a) {
  return as_int(a);
}
inline VF from_bits_of(VI a) {
  return as_float(a);
}
inline VD from_bits_of(VL a) {
  return as_double(a);
}

template <typename T>
struct Bits;
template <>
struct Bits<float> {
  using U = uint32_t;
  static constexpr U kSign = 0x80000000u;
  static constexpr U kMagnitude = 0x7FFFFFFFu;
};
template <>
struct Bits<double> {
  using U = uint64_t;
  static constexpr U kSign = 0x8000000000000000ull;
  static constexpr U kMagnitude = 0x7FFFFFFFFFFFFFFFull;
};

// Per-precision constants the kernels share.
template <typename T>
struct Limits;
template <>
struct Limits<float> {
  static constexpr float kMinNormal = 0x1p-126f;
  static constexpr float kMax = 3.40282347e38f;
  static constexpr float kIntegral = 8388608.0f;  // 2^23: from here on every float is an integer
  static constexpr uint32_t kNegNan = 0xFFC00000u;
};
template <>
struct Limits<double> {
  static constexpr double kMinNormal = 0x1p-1022;
  static constexpr double kMax = 1.7976931348623157e308;
  static constexpr double kIntegral = 4503599627370496.0;  // 2^52
  static constexpr uint64_t kNegNan = 0xFFF8000000000000ull;
};
template <typename T>
constexpr T kInf = T(__builtin_inf());
// The mask bits of every lane of V.
template <typename V>
constexpr unsigned kAllLanes = (1u << V::kLanes) - 1;

// Lanes of a mask that are NOT set: the lanes outside a fast range given as the lanes inside it.
template <class V, class M>
inline unsigned outside(M inside) {
  return bits(inside) ^ kAllLanes<V>;
}

// Scalar bit views, for the special-case paths.
template <typename T>
inline typename Bits<T>::U to_bits(T x) {
  typename Bits<T>::U u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}
template <typename T>
inline T from_bits(typename Bits<T>::U u) {
  T x;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

template <typename V>
inline V sign_mask() {
  using T = typename V::T;
  return splat<V>(from_bits<T>(Bits<T>::kSign));
}
template <typename V>
inline V abs(V x) {
  return andnot(sign_mask<V>(), x);
}
// The sign bit of `s` ORed into `x`.
template <typename V>
inline V or_sign(V x, V s) {
  return x | (s & sign_mask<V>());
}
inline bool any(unsigned mask_bits) {
  return mask_bits != 0;
}

}  // namespace zok::ZOK_ISA_NS
