// PHILOX4X32X10: ten Philox4x32 rounds over a 128-bit counter under a 64-bit key, four output words
// per counter; the SSE4.1 block loop and the choice among the wider ones.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "streams/generators/counter_based.h"
#include "streams/generators/counter_lanes.h"
#include "streams/generators/generator_common.h"
#include "zok/random.h"

namespace zok::rng {

int64_t philox_blocks_sse41(uint32_t* c, const uint32_t* key, int64_t count, uint32_t* out) {
  return philox_lanes(c, key, count, out);
}

namespace {

// The widest block loop worth taking. Measured (bench/streams_bench.cpp, integers against
// integers_avx2, medians of 5, same run): AVX-512 0.57 ns per word, AVX2 0.79, at n = 1e4 and 1e6.
constexpr BlockIsa kPhiloxWidest = BlockIsa::kAvx512;

struct PhiloxState {
  uint32_t key[2];
  uint32_t counter[4];  // lowest word first; names the next block not yet computed
  uint32_t remaining;   // unread words at the end of buffer
  uint32_t buffer[4];
  uint32_t unused;
};
static_assert(offsetof(PhiloxState, counter) == 8 && offsetof(PhiloxState, remaining) == 24 &&
              offsetof(PhiloxState, buffer) == 28);

void philox_block(uint32_t* c, const uint32_t* key, uint32_t* out) {
  uint32_t x0 = c[0], x1 = c[1], x2 = c[2], x3 = c[3], k0 = key[0], k1 = key[1];
  for (int r = 0; r < kPhiloxRounds; ++r) {
    const uint64_t p = static_cast<uint64_t>(kPhiloxM0) * x0, q = static_cast<uint64_t>(kPhiloxM1) * x2;
    x0 = static_cast<uint32_t>(q >> 32) ^ x1 ^ k0;
    x1 = static_cast<uint32_t>(q);
    x2 = static_cast<uint32_t>(p >> 32) ^ x3 ^ k1;
    x3 = static_cast<uint32_t>(p);
    k0 += kPhiloxW0;
    k1 += kPhiloxW1;
  }
  out[0] = x0;
  out[1] = x1;
  out[2] = x2;
  out[3] = x3;
  philox_add(c, 1);
}

struct Philox {
  using State = PhiloxState;
  static void blocks(State& st, int64_t count, uint32_t* out) {
    const BlockIsa isa = std::min(block_isa(), kPhiloxWidest);
    int64_t done = 0;
    if (isa >= BlockIsa::kAvx512) done += philox_blocks_avx512(st.counter, st.key, count, out);
    if (isa >= BlockIsa::kAvx2) done += philox_blocks_avx2(st.counter, st.key, count - done, out + 4 * done);
    done += philox_blocks_sse41(st.counter, st.key, count - done, out + 4 * done);
    for (; done < count; ++done) philox_block(st.counter, st.key, out + 4 * done);
  }
  static void advance(State& st, uint64_t v) { philox_add(st.counter, v); }

  static int32_t ready() { return ZOK_RNG_STATUS_OK; }
  // The single form works in float throughout, its factor included.
  template <class T>
  static T factor(double a, double b) {
    return (static_cast<T>(b) - static_cast<T>(a)) * T(0x1p-32);
  }
};

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

// Seed words 0 and 1 are the key, 2..5 the counter; missing words are 0.
int32_t __qorBRngPHILOX4X32X10InitStream(int32_t method, StreamRecord* stream, int32_t n,
                                         const uint32_t* params) {
  if (method == ZOK_RNG_METHOD_LEAPFROG) return ZOK_RNG_ERROR_NO_LEAPFROG;
  PhiloxState& st = state_of<PhiloxState>(stream);
  if (method == ZOK_RNG_METHOD_SKIP) {
    counter_skip<Philox>(st, skip_count(params));
    return ZOK_RNG_STATUS_OK;
  }
  if (method != ZOK_RNG_METHOD_SEED) return ZOK_RNG_ERROR_METHOD;
  uint32_t seeds[6] = {};
  for (int32_t k = 0; k < n && k < 6; ++k) seeds[k] = params[k];
  st = PhiloxState{{seeds[0], seeds[1]}, {seeds[2], seeds[3], seeds[4], seeds[5]}, 0, {}, 0};
  return ZOK_RNG_STATUS_OK;
}

}  // extern "C"

ZOK_GENERATOR_ENTRIES(PHILOX4X32X10, CounterForms<Philox>)
