// Continuous and integer uniform distributions and the raw-bit operations (generator words, and
// uniform 32-bit and 64-bit words where the generator has them).
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "distributions/distributions.h"

namespace zok::rng {

namespace {

template <class T>
int32_t uniform_operation(int32_t method, StreamRecord* stream, int32_t n, T* r, T a, T b) {
  const int32_t status = uniform(stream, n, r, a, b);
  if (status < 0) return status;
  if ((method & ZOK_RNG_UNIFORM_ACCURATE) != 0)
    for (int32_t k = 0; k < n; ++k) r[k] = std::min(b, std::max(a, r[k]));
  return status;
}

// How a generator's words become 32-bit ones: taken as they are, MCG59's top 32 bits, or none.
enum class BitsForm { kWords, kTop32Of59, kNone };

BitsForm bits_form(int32_t brng) {
  int32_t index = 0, member = 0;
  const GeneratorProperties* table = __qorGetBrngBaseOffset(brng, &index, &member);
  // Legacy identifiers name the first four generators by their own row; only MCG59 among them has
  // a form. Registered rows (16 on) have none.
  if (table == __RegBrngs) return index == 3 ? BitsForm::kTop32Of59 : BitsForm::kNone;
  switch (index) {
    case 3:
      return BitsForm::kTop32Of59;
    case 7:
    case 8:
    case 12:
    case 13:
    case 14:
    case 15:
      return BitsForm::kWords;
    default:
      return BitsForm::kNone;
  }
}

// Counts above this are drawn in pieces, so no 32-bit count overflows.
constexpr int64_t kMaxPiece = int64_t{1} << 30;

// `count` (possibly above 2^31) 32-bit words through the generator's integer operation.
int32_t draw_words(StreamRecord* stream, int64_t count, uint32_t* r) {
  const GeneratorProperties& row = row_of(stream);
  for (int64_t done = 0; done < count;) {
    const int32_t m = static_cast<int32_t>(std::min(count - done, kMaxPiece));
    const int32_t status = row.generate_i(stream, m, r + done);
    if (status < 0) return status;
    done += m;
  }
  return 0;
}

// `count` MCG59 outputs reduced to their top 32 bits, in blocks of 2048 outputs.
int32_t draw_top32(StreamRecord* stream, int64_t count, uint32_t* r) {
  constexpr int32_t kWordsBlock = 2 * kBlock;
  uint64_t words[kWordsBlock];
  const GeneratorProperties& row = row_of(stream);
  for (int64_t done = 0; done < count;) {
    const int32_t m = static_cast<int32_t>(std::min<int64_t>(count - done, kWordsBlock));
    const int32_t status = row.generate_i(stream, m, reinterpret_cast<uint32_t*>(words));
    if (status < 0) return status;
    for (int32_t k = 0; k < m; ++k) r[done + k] = static_cast<uint32_t>(words[k] >> 27);
    done += m;
  }
  return 0;
}

int32_t draw_bits32(StreamRecord* stream, int64_t count, uint32_t* r) {
  switch (bits_form(stream->brng)) {
    case BitsForm::kWords:
      return draw_words(stream, count, r);
    case BitsForm::kTop32Of59:
      return draw_top32(stream, count, r);
    case BitsForm::kNone:
      break;
  }
  return ZOK_RNG_ERROR_NO_BITS;
}

}  // namespace

}  // namespace zok::rng

using zok::rng::kBlock;

extern "C" {

ZOK_RNG_API int32_t _qordRngUniform(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                    double b) {
  return zok::rng::uniform_operation(method, stream, n, r, a, b);
}

ZOK_RNG_API int32_t _qorsRngUniform(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                    float b) {
  return zok::rng::uniform_operation(method, stream, n, r, a, b);
}

ZOK_RNG_API int32_t _qoriRngUniform(int32_t, StreamRecord* stream, int32_t n, int32_t* r, int32_t a,
                                    int32_t b) {
  double u[kBlock];
  for (int32_t done = 0; done < n;) {
    const int32_t m = std::min(n - done, kBlock);
    const int32_t status = zok::rng::uniform(stream, m, u, static_cast<double>(a), static_cast<double>(b));
    if (status < 0) return status;
    // A generator's double can round up to b (MCG59's 59-bit words, WH's sums of three terms).
    for (int32_t k = 0; k < m; ++k) r[done + k] = std::min(static_cast<int32_t>(std::floor(u[k])), b - 1);
    done += m;
  }
  return 0;
}

ZOK_RNG_API int32_t _qoriRngUniformBits(int32_t, StreamRecord* stream, int32_t n, uint32_t* r) {
  return zok::rng::row_of(stream).generate_i(stream, n, r);
}

ZOK_RNG_API int32_t _qoriRngUniformBits32(int32_t, StreamRecord* stream, int32_t n, uint32_t* r) {
  return zok::rng::draw_bits32(stream, n, r);
}

// Each 64-bit word is two consecutive 32-bit words, the first in the low half (little-endian).
ZOK_RNG_API int32_t _qoriRngUniformBits64(int32_t, StreamRecord* stream, int32_t n, uint64_t* r) {
  return zok::rng::draw_bits32(stream, 2 * static_cast<int64_t>(n < 0 ? 0 : n),
                               reinterpret_cast<uint32_t*>(r));
}

}  // extern "C"
