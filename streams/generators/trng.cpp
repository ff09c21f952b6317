// The non-deterministic generator: words of the processor's hardware random-number instruction,
// 64 bits per draw where the form allows, each failed draw tried again up to the stream's limit.
#include <cstdint>

#include "streams/generators/generator_common.h"
#include "streams/generators/hardware.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

constexpr uint32_t kDefaultRetries = 10;

struct TrngState {
  uint32_t zero;     // always 0, read by nothing
  uint32_t retries;  // further attempts after a failed draw
};

// A draw counts only when the instruction sets the carry and the value is not all ones: a unit that
// came back broken from a suspend can report success with all ones for ever, and a stream of
// constants must end in an error. On sound hardware the value is all ones with probability 2^-64
// (2^-32 for a 32-bit draw), so nothing visible changes there.
bool draw(uint32_t retries, uint64_t* v) {
  for (uint64_t attempt = 0; attempt <= retries; ++attempt)
    if (hardware_draw64(v) && *v != ~uint64_t{0}) return true;
  return false;
}
bool draw(uint32_t retries, uint32_t* v) {
  for (uint64_t attempt = 0; attempt <= retries; ++attempt)
    if (hardware_draw32(v) && *v != ~uint32_t{0}) return true;
  return false;
}

// Integers and floats take two 32-bit outputs per 64-bit draw, low half first, and one 32-bit draw
// for an odd n; put(i, word) writes output i.
template <class Put>
int32_t pairs(const TrngState& st, int32_t n, Put put) {
  for (int32_t i = 0; i + 1 < n; i += 2) {
    uint64_t v = 0;
    if (!draw(st.retries, &v)) return ZOK_RNG_ERROR_RDRAND_FAILED;
    put(i, static_cast<uint32_t>(v));
    put(i + 1, static_cast<uint32_t>(v >> 32));
  }
  if (n % 2 != 0) {
    uint32_t v = 0;
    if (!draw(st.retries, &v)) return ZOK_RNG_ERROR_RDRAND_FAILED;
    put(n - 1, v);
  }
  return ZOK_RNG_STATUS_OK;
}

struct Trng {
  using State = TrngState;
  static int32_t ints(StreamRecord* stream, int32_t n, uint32_t* r) {
    if (!has_rdrand()) return ZOK_RNG_ERROR_NO_RDRAND;
    return pairs(state_of<State>(stream), n, [r](int32_t i, uint32_t w) { r[i] = w; });
  }
  // Doubles take one 64-bit draw each, x·((b - a)·2^-64) + a; floats two per draw,
  // x·((b - a)·2^-32) + a in float.
  template <class T>
  static int32_t reals(StreamRecord* stream, int32_t n, T* r, double a, double b) {
    if (!has_rdrand()) return ZOK_RNG_ERROR_NO_RDRAND;
    const State& st = state_of<State>(stream);
    if constexpr (std::is_same_v<T, double>) {
      const double scale = (b - a) * 0x1p-64;
      for (int32_t i = 0; i < n; ++i) {
        uint64_t v = 0;
        if (!draw(st.retries, &v)) return ZOK_RNG_ERROR_RDRAND_FAILED;
        r[i] = static_cast<double>(v) * scale + a;
      }
      return ZOK_RNG_STATUS_OK;
    } else {
      const float lo = static_cast<float>(a), scale = (static_cast<float>(b) - lo) * 0x1p-32f;
      return pairs(st, n,
                   [r, lo, scale](int32_t i, uint32_t w) { r[i] = static_cast<float>(w) * scale + lo; });
    }
  }
};

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

// Seed word 1, when given and not 0, is the retry limit; seed word 0 is not used.
int32_t __qorBRngTRNGInitStream(int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params) {
  if (method == ZOK_RNG_METHOD_LEAPFROG) return ZOK_RNG_ERROR_NO_LEAPFROG;
  if (method == ZOK_RNG_METHOD_SKIP) return ZOK_RNG_ERROR_NO_SKIP_AHEAD;
  if (method != ZOK_RNG_METHOD_SEED) return ZOK_RNG_ERROR_METHOD;
  state_of<TrngState>(stream) = TrngState{0, n >= 2 && params[1] != 0 ? params[1] : kDefaultRetries};
  return ZOK_RNG_STATUS_OK;
}

}  // extern "C"

ZOK_GENERATOR_ENTRIES(TRNG, Trng)
