// R250: the shift-register sequence w_n = w_{n-250} XOR w_{n-147} on 32-bit words, kept as a ring of
// the last 250 words. Long requests are computed in the output buffer itself.
#include <smmintrin.h>

#include <cstddef>
#include <cstdint>

#include "streams/generators/generator_common.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

constexpr int32_t kLong = 250;                    // the longer lag, and the ring's length
constexpr int32_t kShort = 147;                   // the shorter lag
constexpr int32_t kLagGap = kLong - kShort;       // 103: where j stands ahead of i in the ring
constexpr uint32_t kSeedMultiplier = 69069;       // seeding congruence, modulo 2^32
constexpr uint32_t kSeedMultiplier2 = 475559465;  // its square
constexpr double kNorm = 0x1p-32;

struct R250State {
  uint32_t w[kLong];
  uint32_t i;  // the oldest word: w[i] is w_{n-250} for the next output n
  uint32_t j;  // w[j] is w_{n-147}
};
static_assert(sizeof(R250State) == 1008 && offsetof(R250State, i) == 1000 && offsetof(R250State, j) == 1004);

// One word at a time on the ring.
void generate_ring(R250State& st, int32_t n, uint32_t* r) {
  uint32_t i = st.i, j = st.j;
  for (int32_t k = 0; k < n; ++k) {
    const uint32_t v = st.w[i] ^ st.w[j];
    st.w[i] = v;
    r[k] = v;
    i = i == kLong - 1 ? 0 : i + 1;
    j = j == kLong - 1 ? 0 : j + 1;
  }
  st.i = i;
  st.j = j;
}

// n >= 250 words: r[k] = r[k-250] ^ r[k-147], the first 250 reaching back into the ring. The ring
// then becomes the last 250 outputs in order.
void generate_block(R250State& st, int32_t n, uint32_t* r) {
  uint32_t history[kLong];  // w_{-250} .. w_{-1}, oldest first
  for (int32_t t = 0; t < kLong; ++t) history[t] = st.w[(st.i + t) % kLong];
  int32_t k = 0;
  for (; k < kShort; ++k) r[k] = history[k] ^ history[k + kLagGap];
  for (; k < kLong; ++k) r[k] = history[k] ^ r[k - kShort];
  // Four at a time: the words read lie at least 147 places back, so none is still to be written.
  for (; k + 4 <= n; k += 4) {
    const __m128i older = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + k - kLong));
    const __m128i newer = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + k - kShort));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r + k), _mm_xor_si128(older, newer));
  }
  for (; k < n; ++k) r[k] = r[k - kLong] ^ r[k - kShort];
  for (int32_t t = 0; t < kLong; ++t) st.w[t] = r[n - kLong + t];
  st.i = 0;
  st.j = kLagGap;
}

void generate_words(R250State& st, int32_t n, uint32_t* r) {
  // Positions from a saved image are not trusted to lie inside the ring.
  st.i %= kLong;
  st.j %= kLong;
  // The block path assumes the lags' usual distance, which only a foreign image could break.
  if (n >= kLong && st.j == (st.i + kLagGap) % kLong)
    generate_block(st, n, r);
  else
    generate_ring(st, n, r);
}

// Continuous outputs: the words are produced in the caller's array and converted there.
template <class T>
void generate_continuous(R250State& st, int32_t n, T* r, double scale, double offset) {
  if (n <= 0) return;
  uint32_t* words = words_in_place(r, n);
  generate_words(st, n, words);
  convert_in_place(words, r, n, scale, offset);
}

struct R250 {
  using State = R250State;
  static int32_t ints(StreamRecord* stream, int32_t n, uint32_t* r) {
    if (n > 0) generate_words(state_of<State>(stream), n, r);
    return ZOK_RNG_STATUS_OK;
  }
  template <class T>
  static int32_t reals(StreamRecord* stream, int32_t n, T* r, double a, double b) {
    generate_continuous(state_of<State>(stream), n, r, (b - a) * kNorm, a);
    return ZOK_RNG_STATUS_OK;
  }
};

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qorBRngR250InitStream(int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params) {
  if (method == ZOK_RNG_METHOD_LEAPFROG) return ZOK_RNG_ERROR_NO_LEAPFROG;
  if (method == ZOK_RNG_METHOD_SKIP) return ZOK_RNG_ERROR_NO_SKIP_AHEAD;
  if (method != ZOK_RNG_METHOD_SEED) return ZOK_RNG_ERROR_METHOD;
  R250State& st = state_of<R250State>(stream);
  if (n >= kLong) {
    for (int32_t t = 0; t < kLong; ++t) st.w[t] = params[t];
  } else {
    uint32_t s = n >= 1 && params[0] != 0 ? params[0] : 1;
    for (int32_t t = 0; t < kLong; t += 2) {
      st.w[t] = s * kSeedMultiplier;
      s *= kSeedMultiplier2;
      st.w[t + 1] = s;
    }
    // Words 3, 10, ..., 220 get a staircase of leading bits (word 7t+3 has bit 31-t as its highest),
    // so those 32 words are linearly independent and the register cannot fall into a short cycle.
    for (int32_t t = 0; t < 32; ++t)
      st.w[7 * t + 3] = (st.w[7 * t + 3] & (0xFFFFFFFFu >> t)) | (0x80000000u >> t);
  }
  st.i = 0;
  st.j = kLagGap;
  return ZOK_RNG_STATUS_OK;
}

}  // extern "C"

ZOK_GENERATOR_ENTRIES(R250, R250)
