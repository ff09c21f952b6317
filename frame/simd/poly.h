// Polynomial schemes of the vector layer over coefficient arrays, constant term first: Horner's
// rule (one chain, the fewest roundings near the small terms), Estrin's (half the depth) and
// Horner's on the even and odd coefficients side by side (about half the depth, Horner's roundings).
#pragma once

#include <bit>
#include <cstddef>
#include <type_traits>

#include "frame/simd/vec.h"

namespace zok::ZOK_ISA_NS {

// c[0] + x (c[1] + x (c[2] + ...)), one mul_add per coefficient after the last.
template <class V, typename C, size_t N>
requires(!std::is_floating_point_v<V>) inline V horner(V x, const C (&c)[N]) {
  using T = typename V::T;
  V s = splat<V>(static_cast<T>(c[N - 1]));
  for (int i = static_cast<int>(N) - 2; i >= 0; --i) s = mul_add(s, x, splat<V>(static_cast<T>(c[i])));
  return s;
}

// The same on one float or double, for the scalar special paths: each step rounds twice (kernel
// sources are compiled without contraction).
template <typename T, typename C, size_t N>
requires std::is_floating_point_v<T>
inline T horner(T x, const C (&c)[N]) {
  T s = static_cast<T>(c[N - 1]);
  for (int i = static_cast<int>(N) - 2; i >= 0; --i) s = s * x + static_cast<T>(c[i]);
  return s;
}

// c[kFirst] .. c[kFirst + kCount - 1] by Estrin's scheme: the leading block of a power-of-two
// length h plus x^h times the rest, each part split again. The tree is the one of pairing
// neighbours as c[2i] + x c[2i+1], those pairs in x^2, and so on, an odd last term moving up a
// level unchanged: for degree 6, ((c0 + x c1) + x^2 (c2 + x c3)) + x^4 ((c4 + x c5) + x^2 c6).
template <size_t kFirst, size_t kCount, class V, typename C, size_t N>
inline V estrin_terms(V x, const C (&c)[N]) {
  using T = typename V::T;
  if constexpr (kCount == 1) {
    return splat<V>(static_cast<T>(c[kFirst]));
  } else {
    constexpr size_t kLow = std::bit_floor(kCount - 1);
    V power = x;  // x^kLow; the compiler shares the squares between the parts
    for (size_t h = 1; h < kLow; h *= 2) power = power * power;
    return mul_add(estrin_terms<kFirst + kLow, kCount - kLow>(x, c), power, estrin_terms<kFirst, kLow>(x, c));
  }
}
// The whole polynomial by Estrin's scheme: half the depth of Horner's rule.
template <class V, typename C, size_t N>
inline V estrin(V x, const C (&c)[N]) {
  return estrin_terms<0, N>(x, c);
}

// c[0] + x c[1] + ... as two Horner chains in x^2, the even and the odd coefficients, joined by one
// multiply-add: about half the depth of one chain for one operation more.
template <class V, typename C, size_t N>
inline V horner_halves(V x, const C (&c)[N]) {
  using T = typename V::T;
  static_assert(N >= 2);
  const V x2 = x * x;
  constexpr int kLastEven = (N - 1) & ~size_t(1), kLastOdd = (N - 2) | 1;
  V e = splat<V>(static_cast<T>(c[kLastEven])), o = splat<V>(static_cast<T>(c[kLastOdd]));
  for (int i = kLastEven - 2; i >= 0; i -= 2) e = mul_add(e, x2, splat<V>(static_cast<T>(c[i])));
  for (int i = kLastOdd - 2; i >= 1; i -= 2) o = mul_add(o, x2, splat<V>(static_cast<T>(c[i])));
  return mul_add(o, x, e);
}

}  // namespace zok::ZOK_ISA_NS
