// MCG59: x <- a·x mod 2^59 with a = 13^13, 64-bit outputs, the current x output next; the block path
// keeps sixteen lanes (element k+16 = a^16 times element k) in scalar or, with AVX2, vector registers.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "streams/generators/generator_common.h"
#include "streams/generators/modular.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

struct Mcg59State {
  uint64_t x;  // the next output, 1 <= x < 2^59
  uint64_t a;  // the current multiplier
};
static_assert(sizeof(Mcg59State) == 16 && offsetof(Mcg59State, a) == 8);

constexpr uint64_t kMultiplier = 302875106592253ull;  // 13^13
constexpr double kNorm = 0x1p-59;
constexpr int32_t kLanes = 16;
constexpr int32_t kBlockMin = 2 * kLanes;

// x < 2^59 as a double, rounded once. The high word goes into the mantissa of 2^84 (so the double is
// 2^84 + hi·2^32) and the low word into that of 2^52; subtracting 2^84 + 2^52 from the first is exact
// (both lie in [2^84, 2^85)), and adding the second then gives hi·2^32 + lo with the one rounding.
__attribute__((target("avx2"))) inline __m256d to_double(__m256i x) {
  const __m256i hi = _mm256_or_si256(_mm256_srli_epi64(x, 32), _mm256_set1_epi64x(0x4530000000000000ll));
  const __m256i lo = _mm256_blend_epi32(x, _mm256_set1_epi64x(0x4330000000000000ll), 0xAA);
  const __m256d f = _mm256_sub_pd(_mm256_castsi256_pd(hi), _mm256_set1_pd(0x1p84 + 0x1p52));
  return _mm256_add_pd(f, _mm256_castsi256_pd(lo));
}

// Output forms: put() one element, put4() four consecutive ones from the 64-bit lanes of a register.
struct IntOut64 {
  uint32_t* r;
  void put(int64_t i, uint64_t v) const { std::memcpy(r + 2 * i, &v, sizeof v); }
  __attribute__((target("avx2"))) void put4(int64_t i, __m256i v) const {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + 2 * i), v);
  }
};

// x·scale + offset with x < 2^59 converted once (as a non-negative signed 64-bit integer), then
// rounded to T.
template <class T>
struct RealOut64 {
  T* r;
  double scale, offset;
  void put(int64_t i, uint64_t v) const {
    r[i] = static_cast<T>(static_cast<double>(static_cast<int64_t>(v)) * scale + offset);
  }
  __attribute__((target("avx2"))) void put4(int64_t i, __m256i v) const {
    const __m256d d =
        _mm256_add_pd(_mm256_mul_pd(to_double(v), _mm256_set1_pd(scale)), _mm256_set1_pd(offset));
    if constexpr (sizeof(T) == sizeof(double))
      _mm256_storeu_pd(reinterpret_cast<double*>(r + i), d);
    else
      _mm_storeu_ps(reinterpret_cast<float*>(r + i), _mm256_cvtpd_ps(d));
  }
};

// Low 64 bits of x·a per lane from 32-bit halves: xl·al + 2^32·(xh·al + xl·ah); the xh·ah term lies
// above bit 63.
__attribute__((target("avx2"))) inline __m256i mul_lanes(__m256i x, __m256i a_lo, __m256i a_hi) {
  const __m256i cross =
      _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(x, 32), a_lo), _mm256_mul_epu32(x, a_hi));
  return _mm256_add_epi64(_mm256_mul_epu32(x, a_lo), _mm256_slli_epi64(cross, 32));
}

// Runs the sixteen lanes over whole blocks from element 0; returns the elements done. The lanes then
// hold the sixteen elements that follow.
template <class Out>
__attribute__((target("avx2"))) int32_t run_lanes_avx2(uint64_t* lanes, uint64_t a16, int32_t n,
                                                       const Out out) {
  const __m256i mask = _mm256_set1_epi64x(kMcg59Mask);
  const __m256i a_lo = _mm256_set1_epi64x(a16 & 0xFFFFFFFF), a_hi = _mm256_set1_epi64x(a16 >> 32);
  __m256i v[4];
  for (int g = 0; g < 4; ++g) v[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes + 4 * g));
  int32_t i = 0;
  for (; n - i >= kLanes; i += kLanes)
    for (int g = 0; g < 4; ++g) {
      out.put4(i + 4 * g, v[g]);
      v[g] = _mm256_and_si256(mul_lanes(v[g], a_lo, a_hi), mask);
    }
  for (int g = 0; g < 4; ++g) _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes + 4 * g), v[g]);
  return i;
}

template <class Out>
void generate(Mcg59State& st, int32_t n, const Out out) {
  uint64_t x = st.x;
  const uint64_t a = st.a;
  if (n < kBlockMin) {
    for (int32_t i = 0; i < n; ++i) {
      out.put(i, x);
      x = (a * x) & kMcg59Mask;
    }
    st.x = x;
    return;
  }
  // Lanes 0..3 step by a, lanes 4..7 are a^4 times them, lanes 8..15 a^8 times lanes 0..7.
  uint64_t lanes[kLanes];
  for (int j = 0; j < 4; ++j) {
    lanes[j] = x;
    x = (a * x) & kMcg59Mask;
  }
  const uint64_t a4 = __qoriPowMod2P59(a, 4);
  const uint64_t a8 = (a4 * a4) & kMcg59Mask, a16 = (a8 * a8) & kMcg59Mask;
  for (int j = 4; j < 8; ++j) lanes[j] = (a4 * lanes[j - 4]) & kMcg59Mask;
  for (int j = 8; j < 16; ++j) lanes[j] = (a8 * lanes[j - 8]) & kMcg59Mask;
  int32_t i = 0;
  if (block_isa() >= BlockIsa::kAvx2) {
    i = run_lanes_avx2(lanes, a16, n, out);
  } else {
    for (; n - i >= kLanes; i += kLanes) {
      for (int j = 0; j < kLanes; ++j) {
        out.put(i + j, lanes[j]);
        lanes[j] = (a16 * lanes[j]) & kMcg59Mask;
      }
    }
  }
  // The lanes hold elements i .. i+15; element n is the next state.
  const int32_t rest = n - i;
  for (int32_t j = 0; j < rest; ++j) out.put(i + j, lanes[j]);
  st.x = lanes[rest];
}

using Mcg59 = OutputForms<Mcg59State, IntOut64, RealOut64, kNorm,
                          decltype([](Mcg59State& st, int32_t n, auto out) { generate(st, n, out); })>;

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qorBRngMCG59InitStream(int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params) {
  Mcg59State& st = state_of<Mcg59State>(stream);
  switch (method) {
    case ZOK_RNG_METHOD_SEED: {
      uint64_t x = 0;
      if (n == 1) x = params[0];
      if (n >= 2) x = (params[0] | static_cast<uint64_t>(params[1]) << 32) & kMcg59Mask;
      st.x = x == 0 ? 1 : x;
      st.a = kMultiplier;
      return ZOK_RNG_STATUS_OK;
    }
    case ZOK_RNG_METHOD_LEAPFROG:
      st.x = (st.x * __qoriPowMod2P59(st.a, params[0])) & kMcg59Mask;
      st.a = __qoriPowMod2P59(st.a, static_cast<uint32_t>(n));
      return ZOK_RNG_STATUS_OK;
    case ZOK_RNG_METHOD_SKIP:
      st.x = (st.x * __qoriPowMod2P59(st.a, skip_count(params))) & kMcg59Mask;
      return ZOK_RNG_STATUS_OK;
    default:
      return ZOK_RNG_ERROR_METHOD;
  }
}

}  // extern "C"

ZOK_GENERATOR_ENTRIES(MCG59, Mcg59)
