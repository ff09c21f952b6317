// Modular arithmetic of the congruential generators: products modulo 2^31 - 1, 2^59 and a general
// 32-bit modulus, and 3x3 matrices for the jumps of a three-term recurrence.
#pragma once

#include <cstdint>

namespace zok::rng {

inline constexpr uint32_t kMcg31Modulus = 0x7FFFFFFF;
inline constexpr uint64_t kMcg59Mask = 0x7FFFFFFFFFFFFFFull;

// a·x mod 2^31 - 1 for a, x below 2^31: since 2^31 ≡ 1, p ≡ low 31 bits + the rest, and that sum is
// below 2·(2^31 - 1), so one subtraction ends the reduction.
constexpr uint32_t mulmod_2p31m1(uint32_t a, uint32_t x) {
  const uint64_t p = static_cast<uint64_t>(a) * x;
  const uint64_t s = (p & kMcg31Modulus) + (p >> 31);
  return static_cast<uint32_t>(s >= kMcg31Modulus ? s - kMcg31Modulus : s);
}

// v' = M·v mod m for the 3-vectors of a three-term recurrence, oldest element first.
struct Mat3 {
  uint32_t e[3][3];
};

// Reduction modulo a modulus known at run time, or at compile time (where the division becomes a
// multiplication, which matters in the jumps that every long MRG32K3A request makes).
struct RuntimeModulus {
  uint64_t m;
  constexpr uint64_t operator()(uint64_t v) const { return v % m; }
};
template <uint64_t M>
struct FixedModulus {
  constexpr uint64_t operator()(uint64_t v) const { return v % M; }
};

constexpr Mat3 mat3_identity() {
  return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
}

// The companion matrix that shifts (oldest, middle, newest) by one element: the new newest is
// c_oldest·oldest + c_middle·middle + c_newest·newest.
constexpr Mat3 companion(uint32_t c_newest, uint32_t c_middle, uint32_t c_oldest) {
  return {{{0, 1, 0}, {0, 0, 1}, {c_oldest, c_middle, c_newest}}};
}

// Entries are residues below 2^32: each product fits 64 bits, and three reduced products sum below 2^34.
template <class Mod>
constexpr Mat3 mat3_mul(const Mat3& a, const Mat3& b, Mod mod) {
  Mat3 c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      uint64_t s = 0;
      for (int k = 0; k < 3; ++k) s += mod(uint64_t{a.e[i][k]} * b.e[k][j]);
      c.e[i][j] = static_cast<uint32_t>(mod(s));
    }
  return c;
}

template <class Mod>
constexpr Mat3 mat3_pow(Mat3 base, uint64_t n, Mod mod) {
  Mat3 result = mat3_identity();
  for (; n != 0; n >>= 1) {
    if (n & 1) result = mat3_mul(result, base, mod);
    base = mat3_mul(base, base, mod);
  }
  return result;
}

template <class Mod>
constexpr void mat3_apply(const Mat3& a, uint32_t* v, Mod mod) {
  uint32_t out[3] = {};
  for (int i = 0; i < 3; ++i) {
    uint64_t s = 0;
    for (int k = 0; k < 3; ++k) s += mod(uint64_t{a.e[i][k]} * v[k]);
    out[i] = static_cast<uint32_t>(mod(s));
  }
  for (int i = 0; i < 3; ++i) v[i] = out[i];
}

}  // namespace zok::rng
