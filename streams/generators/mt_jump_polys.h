// The characteristic polynomials of the MT19937 and SFMT19937 steps, which the skip-ahead reduces
// x^s by. Defined in the generated mt_jump_polys.cpp.
#pragma once

#include <cstdint>

namespace zok::rng {

inline constexpr int32_t kMt19937JumpDegree = 19937;  // one step: one 32-bit word
inline constexpr int32_t kMt19937JumpTerms = 135;
inline constexpr int32_t kSfmt19937JumpDegree = 19968;  // one step: one 128-bit word
inline constexpr int32_t kSfmt19937JumpTerms = 6711;

extern const int32_t kMt19937JumpExponents[kMt19937JumpTerms];
extern const int32_t kSfmt19937JumpExponents[kSfmt19937JumpTerms];

}  // namespace zok::rng
