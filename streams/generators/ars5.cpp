// ARS5: five AES rounds over a 128-bit counter under a 128-bit key whose round keys step by a
// Weyl increment, four output words per counter; AES-NI here, VAES where the processor has it.
// Nothing runs before the processor has been asked for the AES instructions.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "streams/generators/counter_based.h"
#include "streams/generators/counter_lanes.h"
#include "streams/generators/generator_common.h"
#include "streams/generators/hardware.h"
#include "zok/random.h"

namespace zok::rng {

int64_t ars5_blocks_aesni(uint64_t* c, const uint32_t* key, int64_t count, uint32_t* out) {
  return ars5_lanes(c, key, count, out);
}

namespace {

// The widest block loop worth taking. Measured (bench/streams_bench.cpp, integers against
// integers_avx2, medians of 5, same run): VAES on 512-bit registers 0.090 ns per word, on 256-bit
// ones 0.101, at n = 1e4 and 1e6.
constexpr BlockIsa kArsWidest = BlockIsa::kAvx512;

struct ArsState {
  uint32_t key[4];
  uint64_t counter[2];  // low half first; names the next block not yet computed
  uint32_t remaining;   // unread words at the end of buffer
  uint32_t buffer[4];
};
static_assert(offsetof(ArsState, counter) == 16 && offsetof(ArsState, remaining) == 32 &&
              offsetof(ArsState, buffer) == 36);

void ars5_block(uint64_t* c, const uint32_t* key, uint32_t* out) {
  const uint64_t k_lo = key[0] | static_cast<uint64_t>(key[1]) << 32;
  const uint64_t k_hi = key[2] | static_cast<uint64_t>(key[3]) << 32;
  __m128i x = _mm_xor_si128(Lanes::block_pair(c[0], c[1]), Lanes::block_pair(k_lo, k_hi));
  for (int r = 1; r < kArsRounds; ++r)
    x = _mm_aesenc_si128(x, Lanes::block_pair(k_lo + r * kArsW0, k_hi + r * kArsW1));
  x = _mm_aesenclast_si128(x, Lanes::block_pair(k_lo + kArsRounds * kArsW0, k_hi + kArsRounds * kArsW1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
  ars_add(c, 1);
}

struct Ars5 {
  using State = ArsState;
  static void blocks(State& st, int64_t count, uint32_t* out) {
    const BlockIsa isa = std::min(block_isa(), kArsWidest);
    int64_t done = 0;
    if (isa >= BlockIsa::kAvx2 && has_vaes()) {
      if (isa >= BlockIsa::kAvx512) done += ars5_blocks_vaes512(st.counter, st.key, count, out);
      done += ars5_blocks_vaes256(st.counter, st.key, count - done, out + 4 * done);
    }
    done += ars5_blocks_aesni(st.counter, st.key, count - done, out + 4 * done);
    for (; done < count; ++done) ars5_block(st.counter, st.key, out + 4 * done);
  }
  static void advance(State& st, uint64_t v) { ars_add(st.counter, v); }

  static int32_t ready() { return has_aes() ? ZOK_RNG_STATUS_OK : ZOK_RNG_ERROR_NO_AES; }
  // The single form rounds its factor, made in double, to float.
  template <class T>
  static T factor(double a, double b) {
    return static_cast<T>((b - a) * 0x1p-32);
  }
};

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

// Seed words 0..3 are the key, 4..7 the counter (low word first); missing words are 0.
int32_t __qorBRngARS5InitStream(int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params) {
  if (method == ZOK_RNG_METHOD_LEAPFROG) return ZOK_RNG_ERROR_NO_LEAPFROG;
  ArsState& st = state_of<ArsState>(stream);
  if (method == ZOK_RNG_METHOD_SKIP) {
    if (const int32_t status = Ars5::ready(); status != ZOK_RNG_STATUS_OK) return status;
    counter_skip<Ars5>(st, skip_count(params));
    return ZOK_RNG_STATUS_OK;
  }
  if (method != ZOK_RNG_METHOD_SEED) return ZOK_RNG_ERROR_METHOD;
  uint32_t seeds[8] = {};
  for (int32_t k = 0; k < n && k < 8; ++k) seeds[k] = params[k];
  st = ArsState{
      {seeds[0], seeds[1], seeds[2], seeds[3]},
      {seeds[4] | static_cast<uint64_t>(seeds[5]) << 32, seeds[6] | static_cast<uint64_t>(seeds[7]) << 32},
      0,
      {}};
  return ZOK_RNG_STATUS_OK;
}

}  // extern "C"

ZOK_GENERATOR_ENTRIES(ARS5, CounterForms<Ars5>)
