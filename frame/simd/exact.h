// Exact operations of the vector layer: a sum or product as its rounded value and the exact error,
// and the split of a value into halves whose products are exact.
#pragma once

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

// The leading half of a's significand (Dekker's split by 2^27 + 1, 2^12 + 1 for float): a minus it
// is exact, and products of halves are exact. |a| must stay below the largest value over 2^28
// (2^13 for float), or the scaled product overflows.
template <class V>
inline V split_hi(V a) {
  using T = typename V::T;
  const V t = a * splat<V>(sizeof(T) == 8 ? T(134217729.0) : T(4097.0));
  return t - (t - a);
}

// p + e = a * b exactly, barring underflow of e. One fused multiply-subtract where the back end
// fuses; otherwise the four products of Dekker's halves, so |a| and |b| are bounded as for split_hi.
template <class V>
inline void two_prod(V a, V b, V& p, V& e) {
  p = a * b;
  if constexpr (kFusedMulAdd) {
    e = mul_sub(a, b, p);
  } else {
    const V ah = split_hi(a), al = a - ah, bh = split_hi(b), bl = b - bh;
    e = (((ah * bh - p) + ah * bl) + al * bh) + al * bl;
  }
}

}  // namespace zok::ZOK_ISA_NS
