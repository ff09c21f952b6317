// Exact operations of the vector layer, on vectors and on plain floats and doubles: a sum or product
// as its rounded value and the exact error, and the split of a value into halves with exact products.
#pragma once

#include <type_traits>

#include "frame/simd/vec.h"

namespace zok::ZOK_ISA_NS {

// s + e = a + b exactly, whatever the magnitudes of a and b.
template <class V>
inline void two_sum(V a, V b, V& s, V& e) {
  s = a + b;
  const V bb = s - a;
  e = (a - (s - bb)) + (b - bb);
}

// s + e = a + b exactly, provided |a| >= |b| or a = 0 (three operations instead of six).
template <class V>
inline void fast_two_sum(V a, V b, V& s, V& e) {
  s = a + b;
  e = b - (s - a);
}

// The element type of V: V itself for a plain float or double (the scalar special paths use these
// operations too).
template <class V>
struct ElementOf {
  using type = typename V::T;
};
template <>
struct ElementOf<float> {
  using type = float;
};
template <>
struct ElementOf<double> {
  using type = double;
};

// The leading half of a's significand (Dekker's split by 2^27 + 1, 2^12 + 1 for float): a minus it
// is exact, and products of halves are exact. |a| must stay below the largest value over 2^28
// (2^13 for float), or the scaled product overflows.
template <class V>
inline V split_hi(V a) {
  using T = typename ElementOf<V>::type;
  constexpr T kSplit = sizeof(T) == 8 ? T(134217729.0) : T(4097.0);
  V t;
  if constexpr (std::is_same_v<V, T>) {
    t = a * kSplit;
  } else {
    t = a * splat<V>(kSplit);
  }
  return t - (t - a);
}

// p + e = a * b exactly, barring underflow of e. One fused multiply-subtract where the back end
// fuses (vectors only); otherwise the four products of Dekker's halves, so |a| and |b| are bounded
// as for split_hi.
template <class V>
inline void two_prod(V a, V b, V& p, V& e) {
  p = a * b;
  if constexpr (kFusedMulAdd && !std::is_floating_point_v<V>) {
    e = mul_sub(a, b, p);
  } else {
    const V ah = split_hi(a), al = a - ah, bh = split_hi(b), bl = b - bh;
    e = (((ah * bh - p) + ah * bl) + al * bh) + al * bl;
  }
}

}  // namespace zok::ZOK_ISA_NS
