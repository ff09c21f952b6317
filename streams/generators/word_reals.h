// Continuous output from 32-bit words: the conversions over whole vector registers at the block
// paths' width, and the small buffer on the stack that generators fill with words first.
#pragma once

#include <cstdint>

#include "streams/generators/block_isa.h"
#include "streams/generators/counter_lanes.h"

namespace zok::rng {

// Continuous output s·scale + offset of each word read as a signed integer, with scale
// (b - a)·2^-32 and offset (a + b)·0.5, all in the output's precision: the uniform value is
// (word XOR 2^31)·2^-32, centred so that the sign bit needs no correction.
template <class T>
void signed_to_real(const uint32_t* w, int64_t n, T* r, T scale, T offset) {
  const BlockIsa isa = block_isa();
  int64_t i = isa >= BlockIsa::kAvx512 ? signed_to_real_avx512(w, n, r, scale, offset)
              : isa >= BlockIsa::kAvx2 ? signed_to_real_avx2(w, n, r, scale, offset)
                                       : signed_to_real_lanes(w, n, r, scale, offset);
  for (; i < n; ++i) r[i] = static_cast<T>(static_cast<int32_t>(w[i])) * scale + offset;
}

// w·scale + offset in double for each word read as an unsigned integer. The baseline instruction
// set has no conversion of unsigned words: callers take this path from AVX2 on only.
inline void unsigned_to_real(const uint32_t* w, int64_t n, double* r, double scale, double offset) {
  int64_t i = block_isa() >= BlockIsa::kAvx512 ? unsigned_to_real_avx512(w, n, r, scale, offset)
                                               : unsigned_to_real_avx2(w, n, r, scale, offset);
  for (; i < n; ++i) r[i] = static_cast<double>(w[i]) * scale + offset;
}

// n reals made by words(m, w), which writes the next m words into w, and convert(w, m, i), which
// turns them into elements i .. i + m - 1. The words pass through a small buffer on the stack, so
// long requests stay in cache and every conversion runs over whole registers but for the last.
template <class Words, class Convert>
void reals_through_words(int64_t n, Words&& words, Convert&& convert) {
  constexpr int64_t kPiece = 1024;
  alignas(64) uint32_t w[kPiece];
  for (int64_t i = 0; i < n; i += kPiece) {
    const int64_t m = n - i < kPiece ? n - i : kPiece;
    words(m, w);
    convert(w, m, i);
  }
}

}  // namespace zok::rng
