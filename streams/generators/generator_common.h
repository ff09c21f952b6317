// What the congruential generators share: access to a generator's state behind the stream header,
// the skip count of a request and the output forms (raw integers, or doubles or floats on [a, b)).
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "streams/generators/block_isa.h"
#include "zok/random.h"

namespace zok::rng {

// Every generator's state starts 16 bytes into the record; records are 128-byte aligned.
template <class State>
State& state_of(StreamRecord* stream) {
  return *reinterpret_cast<State*>(reinterpret_cast<unsigned char*>(stream) + 16);
}

// The 64-bit count of a skip-ahead request, sent as two 32-bit words, low word first.
inline uint64_t skip_count(const uint32_t* params) {
  uint64_t s = 0;
  std::memcpy(&s, params, sizeof s);
  return s;
}

// Output forms. Each takes 32-bit generator words v and writes either v itself or v·scale + offset
// computed in double (scale already holds (b - a) times the generator's normalising constant); the
// float form rounds that double once. put4 writes four consecutive elements. Generators take them by
// value: through a reference, every store to r could change their fields and force a reload.
struct IntOut {
  uint32_t* r;
  void put(int64_t i, uint32_t v) const { r[i] = v; }
  void put4(int64_t i, __m128i v) const { _mm_storeu_si128(reinterpret_cast<__m128i*>(r + i), v); }
  __attribute__((target("avx2"))) void put8(int64_t i, __m256i v) const {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + i), v);
  }
};

// Unsigned 32-bit words to exact doubles: 2^52 + v is a double whose low mantissa bits are v.
inline __m128d u32_low_to_pd(__m128i v) {
  const __m128i exponent = _mm_set1_epi32(0x43300000);
  return _mm_sub_pd(_mm_castsi128_pd(_mm_unpacklo_epi32(v, exponent)), _mm_set1_pd(0x1p52));
}
inline __m128d u32_high_to_pd(__m128i v) {
  const __m128i exponent = _mm_set1_epi32(0x43300000);
  return _mm_sub_pd(_mm_castsi128_pd(_mm_unpackhi_epi32(v, exponent)), _mm_set1_pd(0x1p52));
}

struct DoubleOut {
  double* r;
  double scale, offset;
  double value(uint32_t v) const { return static_cast<double>(v) * scale + offset; }
  void put(int64_t i, uint32_t v) const { r[i] = value(v); }
  void put4(int64_t i, __m128i v) const {
    const __m128d s = _mm_set1_pd(scale), o = _mm_set1_pd(offset);
    _mm_storeu_pd(r + i, _mm_add_pd(_mm_mul_pd(u32_low_to_pd(v), s), o));
    _mm_storeu_pd(r + i + 2, _mm_add_pd(_mm_mul_pd(u32_high_to_pd(v), s), o));
  }
  // Widened to 64 bits and placed in the mantissa of 2^52, as above.
  __attribute__((target("avx2"))) void put8(int64_t i, __m256i v) const {
    const __m256d s = _mm256_set1_pd(scale), o = _mm256_set1_pd(offset), two52 = _mm256_set1_pd(0x1p52);
    const __m256i exponent = _mm256_castpd_si256(two52);
    const __m256d lo = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_or_si256(_mm256_cvtepu32_epi64(_mm256_castsi256_si128(v)), exponent)),
        two52);
    const __m256d hi = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_or_si256(_mm256_cvtepu32_epi64(_mm256_extracti128_si256(v, 1)), exponent)),
        two52);
    _mm256_storeu_pd(r + i, _mm256_add_pd(_mm256_mul_pd(lo, s), o));
    _mm256_storeu_pd(r + i + 4, _mm256_add_pd(_mm256_mul_pd(hi, s), o));
  }
};

struct FloatOut {
  float* r;
  double scale, offset;
  void put(int64_t i, uint32_t v) const {
    r[i] = static_cast<float>(static_cast<double>(v) * scale + offset);
  }
  void put4(int64_t i, __m128i v) const {
    const __m128d s = _mm_set1_pd(scale), o = _mm_set1_pd(offset);
    const __m128 lo = _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(u32_low_to_pd(v), s), o));
    const __m128 hi = _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(u32_high_to_pd(v), s), o));
    _mm_storeu_ps(r + i, _mm_movelh_ps(lo, hi));
  }
};

template <class T>
using RealOut = std::conditional_t<std::is_same_v<T, double>, DoubleOut, FloatOut>;

// Room for n 32-bit words inside an output array of n doubles (its back half) or n floats (itself),
// for generators that produce words first and convert them in place.
inline uint32_t* words_in_place(double* r, int32_t n) {
  return reinterpret_cast<uint32_t*>(r) + n;
}
inline uint32_t* words_in_place(float* r, int32_t) {
  return reinterpret_cast<uint32_t*>(r);
}

// z·scale + offset in double, rounded to T once.
template <class T>
inline T real_of(uint32_t z, double scale, double offset) {
  return static_cast<T>(static_cast<double>(z) * scale + offset);
}

// Converts n words z[i] = words_in_place(r, n)[i] into r[i] from the front. The four results of a
// step never reach words not yet read: for i <= n-4 they end at byte 8i + 32 <= 4n + 4i + 16, where
// the next words start (floats overwrite exactly the words they come from). Loads go before stores.
inline void convert_in_place(const uint32_t* z, double* r, int32_t n, double scale, double offset) {
  const __m128d s = _mm_set1_pd(scale), o = _mm_set1_pd(offset);
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(z + i));
    const __m128d lo = _mm_add_pd(_mm_mul_pd(u32_low_to_pd(v), s), o);
    const __m128d hi = _mm_add_pd(_mm_mul_pd(u32_high_to_pd(v), s), o);
    _mm_storeu_pd(r + i, lo);
    _mm_storeu_pd(r + i + 2, hi);
  }
  uint32_t rest[4] = {};
  std::memcpy(rest, z + i, sizeof(uint32_t) * (n - i));
  for (int32_t k = 0; k < n - i; ++k) r[i + k] = real_of<double>(rest[k], scale, offset);
}
inline void convert_in_place(const uint32_t* z, float* r, int32_t n, double scale, double offset) {
  const __m128d s = _mm_set1_pd(scale), o = _mm_set1_pd(offset);
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(z + i));
    const __m128 lo = _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(u32_low_to_pd(v), s), o));
    const __m128 hi = _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(u32_high_to_pd(v), s), o));
    _mm_storeu_ps(r + i, _mm_movelh_ps(lo, hi));
  }
  uint32_t rest[4] = {};
  std::memcpy(rest, z + i, sizeof(uint32_t) * (n - i));
  for (int32_t k = 0; k < n - i; ++k) r[i + k] = real_of<float>(rest[k], scale, offset);
}

// The implementation behind ZOK_GENERATOR_ENTRIES for generators that run one generate(state, n,
// out) over every output form: IntO for integers, RealO<T> holding (b - a)·norm and a for reals.
// The norm comes by reference: clang 14, which builds the fuzzing target, takes no double parameters.
template <class S, class IntO, template <class> class RealO, const double& kNorm, class Generate>
struct OutputForms {
  using State = S;
  static int32_t ints(StreamRecord* stream, int32_t n, uint32_t* r) {
    Generate{}(state_of<S>(stream), n, IntO{r});
    return ZOK_RNG_STATUS_OK;
  }
  template <class T>
  static int32_t reals(StreamRecord* stream, int32_t n, T* r, double a, double b) {
    Generate{}(state_of<S>(stream), n, RealO<T>{r, (b - a) * kNorm, a});
    return ZOK_RNG_STATUS_OK;
  }
};

// Each generator's record size in the generator list, which its state must fill exactly.
#define ZOK_GENERATOR(N, label, state, ...) inline constexpr int32_t kListedStateSize_##N = state;
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR

}  // namespace zok::rng

// The integer, double and float operations of generator N from one implementation G:
// G::ints(stream, n, r) and G::reals(stream, n, r, a, b) with the interval in double (the float form
// widens its bounds first, so both real forms compute alike and only round differently at the end).
// G::State is the state kept behind the header.
#define ZOK_GENERATOR_ENTRIES(N, G)                                                                  \
  static_assert(16 + sizeof(G::State) == zok::rng::kListedStateSize_##N);                            \
  extern "C" int32_t __qoriBRng##N(StreamRecord* stream, int32_t n, uint32_t* r) {                   \
    return G::ints(stream, n, r);                                                                    \
  }                                                                                                  \
  extern "C" int32_t __qordBRng##N(StreamRecord* stream, int32_t n, double* r, double a, double b) { \
    return G::reals(stream, n, r, a, b);                                                             \
  }                                                                                                  \
  extern "C" int32_t __qorsBRng##N(StreamRecord* stream, int32_t n, float* r, float a, float b) {    \
    return G::reals(stream, n, r, static_cast<double>(a), static_cast<double>(b));                   \
  }
