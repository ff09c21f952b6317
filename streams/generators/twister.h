// What MT19937 and the MT2203 family share: the init-by-array seeding, the block regeneration of a
// twisted shift register in vector lanes, tempering and the output forms of the tempered words.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "streams/generators/block_isa.h"
#include "streams/generators/generator_common.h"
#include "streams/generators/word_reals.h"

namespace zok::rng {

// The published init-by-array procedure for a register of N words; no key means the key {1}.
template <int N>
void twister_seed(uint32_t* mt, int32_t n, const uint32_t* key) {
  static const uint32_t kOne = 1;
  if (n < 1) {
    n = 1;
    key = &kOne;
  }
  mt[0] = 19650218u;
  for (uint32_t i = 1; i < N; ++i) mt[i] = 1812433253u * (mt[i - 1] ^ (mt[i - 1] >> 30)) + i;
  uint32_t i = 1, j = 0;
  for (int64_t k = n > N ? n : N; k > 0; --k) {
    mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1664525u)) + key[j] + j;
    if (++i >= N) {
      mt[0] = mt[N - 1];
      i = 1;
    }
    if (++j >= static_cast<uint32_t>(n)) j = 0;
  }
  for (int k = N - 1; k > 0; --k) {
    mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1566083941u)) - i;
    if (++i >= N) {
      mt[0] = mt[N - 1];
      i = 1;
    }
  }
  mt[0] = 0x80000000u;
}

// A register of N words with middle distance M whose words keep `upper` of the older word and the
// rest of the newer one in the twist.
template <int N_, int M_, uint32_t Upper>
struct Twister {
  static constexpr int N = N_, M = M_;
  static constexpr uint32_t kUpper = Upper, kLower = ~Upper;
  static_assert(N - M >= 8, "the lanes read words written at least eight places earlier");

  static uint32_t twist(uint32_t older, uint32_t newer, uint32_t far, uint32_t a) {
    const uint32_t y = (older & kUpper) | (newer & kLower);
    return far ^ (y >> 1) ^ ((0u - (y & 1)) & a);
  }
};

// Vector types of 4 and 8 words (an alias template would drop the attribute).
typedef uint32_t Lanes4 __attribute__((vector_size(16)));
typedef uint32_t Lanes8 __attribute__((vector_size(32)));
template <int W>
struct LanesOf;
template <>
struct LanesOf<4> {
  using type = Lanes4;
};
template <>
struct LanesOf<8> {
  using type = Lanes8;
};

// Regenerates all N words, W at a time: words below N - M read words M ahead that are still old,
// the rest read words N - M behind that are new already, which is at least W back.
template <class Tw, int W>
__attribute__((always_inline)) inline void regenerate_lanes(uint32_t* mt, uint32_t a) {
  using V = typename LanesOf<W>::type;
  static_assert(sizeof(V) == 4 * W);
  constexpr int N = Tw::N, M = Tw::M;
  int k = 0;
  for (; k + W <= N - M; k += W) {
    V older, newer, far;
    std::memcpy(&older, mt + k, sizeof(V));
    std::memcpy(&newer, mt + k + 1, sizeof(V));
    std::memcpy(&far, mt + k + M, sizeof(V));
    const V y = (older & Tw::kUpper) | (newer & Tw::kLower);
    const V r = far ^ (y >> 1) ^ ((V{} - (y & 1)) & a);
    std::memcpy(mt + k, &r, sizeof(V));
  }
  for (; k < N - M; ++k) mt[k] = Tw::twist(mt[k], mt[k + 1], mt[k + M], a);
  for (; k + W <= N - 1; k += W) {
    V older, newer, far;
    std::memcpy(&older, mt + k, sizeof(V));
    std::memcpy(&newer, mt + k + 1, sizeof(V));
    std::memcpy(&far, mt + k + M - N, sizeof(V));
    const V y = (older & Tw::kUpper) | (newer & Tw::kLower);
    const V r = far ^ (y >> 1) ^ ((V{} - (y & 1)) & a);
    std::memcpy(mt + k, &r, sizeof(V));
  }
  for (; k < N - 1; ++k) mt[k] = Tw::twist(mt[k], mt[k + 1], mt[k + M - N], a);
  mt[N - 1] = Tw::twist(mt[N - 1], mt[0], mt[M - 1], a);
}

template <class Tw>
__attribute__((noinline)) void regenerate_sse41(uint32_t* mt, uint32_t a) {
  regenerate_lanes<Tw, 4>(mt, a);
}
template <class Tw>
__attribute__((noinline, target("avx2"))) void regenerate_avx2(uint32_t* mt, uint32_t a) {
  regenerate_lanes<Tw, 8>(mt, a);
}
template <class Tw>
inline void regenerate(uint32_t* mt, uint32_t a) {
  if (block_isa() >= BlockIsa::kAvx2)
    regenerate_avx2<Tw>(mt, a);
  else
    regenerate_sse41<Tw>(mt, a);
}

// Tempering y ^= y >> u; y ^= (y << 7) & b; y ^= (y << 15) & c; y ^= y >> 18.
struct Tempering {
  int u;
  uint32_t b, c;
  uint32_t operator()(uint32_t y) const {
    y ^= y >> u;
    y ^= (y << 7) & b;
    y ^= (y << 15) & c;
    return y ^ (y >> 18);
  }
  __m128i operator()(__m128i y) const {
    y = _mm_xor_si128(y, _mm_srl_epi32(y, _mm_cvtsi32_si128(u)));
    y = _mm_xor_si128(y, _mm_and_si128(_mm_slli_epi32(y, 7), _mm_set1_epi32(static_cast<int>(b))));
    y = _mm_xor_si128(y, _mm_and_si128(_mm_slli_epi32(y, 15), _mm_set1_epi32(static_cast<int>(c))));
    return _mm_xor_si128(y, _mm_srli_epi32(y, 18));
  }
  __attribute__((target("avx2"))) __m256i operator()(__m256i y) const {
    y = _mm256_xor_si256(y, _mm256_srl_epi32(y, _mm_cvtsi32_si128(u)));
    y = _mm256_xor_si256(y,
                         _mm256_and_si256(_mm256_slli_epi32(y, 7), _mm256_set1_epi32(static_cast<int>(b))));
    y = _mm256_xor_si256(y,
                         _mm256_and_si256(_mm256_slli_epi32(y, 15), _mm256_set1_epi32(static_cast<int>(c))));
    return _mm256_xor_si256(y, _mm256_srli_epi32(y, 18));
  }
};

// Eight tempered words at a time, as far as `take` allows; returns how many were delivered.
template <class Out>
__attribute__((target("avx2"))) int32_t deliver_avx2(const uint32_t* w, int32_t take, Tempering temper,
                                                     const Out out, int32_t i) {
  int32_t k = 0;
  for (; k + 8 <= take; k += 8)
    out.put8(i + k, temper(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + k))));
  return k;
}

// Delivers n tempered words of the register mt, whose next word is mt[next] (N: all delivered),
// through out (put/put4 as in generator_common.h, put8 for eight words on AVX2), regenerating the
// block whenever it is used up. An index beyond N (only a foreign image holds one) counts as N.
template <class Tw, class Out>
void twister_generate(uint32_t* mt, uint32_t& next, uint32_t a, Tempering temper, int32_t n, const Out out) {
  constexpr int N = Tw::N;
  uint32_t index = next < N ? next : N;
  const bool wide = block_isa() >= BlockIsa::kAvx2;
  for (int32_t i = 0; i < n;) {
    if (index == N) {
      regenerate<Tw>(mt, a);
      index = 0;
    }
    const int32_t take = n - i < static_cast<int32_t>(N - index) ? n - i : static_cast<int32_t>(N - index);
    const uint32_t* w = mt + index;
    int32_t k = wide ? deliver_avx2(w, take, temper, out, i) : 0;
    for (; k + 4 <= take; k += 4)
      out.put4(i + k, temper(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + k))));
    for (; k < take; ++k) out.put(i + k, temper(w[k]));
    i += take;
    index += take;
  }
  next = index;
}

// n doubles of the register made from its tempered words, which pass through a buffer on the stack;
// convert(w, m, r) writes m of them at r.
template <class Tw, class Convert>
void twister_doubles(uint32_t* mt, uint32_t& next, uint32_t a, Tempering temper, int32_t n, double* r,
                     Convert convert) {
  reals_through_words(
      n,
      [&](int64_t m, uint32_t* w) {
        twister_generate<Tw>(mt, next, a, temper, static_cast<int32_t>(m), IntOut{w});
      },
      [&](const uint32_t* w, int64_t m, int64_t i) { convert(w, m, r + i); });
}

// Reals from the tempered word read as signed: s·scale + mid with scale = (b - a)·2^-32 and
// mid = (a + b)/2, in double; the float form rounds that once.
template <class T>
struct SignedRealOut {
  T* r;
  double scale, mid;
  void put(int64_t i, uint32_t v) const {
    r[i] = static_cast<T>(static_cast<double>(static_cast<int32_t>(v)) * scale + mid);
  }
  void put4(int64_t i, __m128i v) const {
    const __m128d s = _mm_set1_pd(scale), o = _mm_set1_pd(mid);
    const __m128d lo = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(v), s), o);
    const __m128d hi = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(_mm_unpackhi_epi64(v, v)), s), o);
    if constexpr (sizeof(T) == sizeof(double)) {
      _mm_storeu_pd(reinterpret_cast<double*>(r + i), lo);
      _mm_storeu_pd(reinterpret_cast<double*>(r + i + 2), hi);
    } else {
      _mm_storeu_ps(reinterpret_cast<float*>(r + i), _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
    }
  }
  __attribute__((target("avx2"))) void put8(int64_t i, __m256i v) const {
    const __m256d s = _mm256_set1_pd(scale), o = _mm256_set1_pd(mid);
    const __m256d lo = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(v)), s), o);
    const __m256d hi = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)), s), o);
    if constexpr (sizeof(T) == sizeof(double)) {
      _mm256_storeu_pd(reinterpret_cast<double*>(r + i), lo);
      _mm256_storeu_pd(reinterpret_cast<double*>(r + i + 4), hi);
    } else {
      _mm256_storeu_ps(reinterpret_cast<float*>(r + i),
                       _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo)));
    }
  }
};

template <class T>
SignedRealOut<T> signed_real_out(T* r, double a, double b) {
  return SignedRealOut<T>{r, (b - a) * 0x1p-32, (a + b) * 0.5};
}

template <class Out>
__attribute__((target("avx2"))) int32_t convert_avx2(const uint32_t* z, int32_t n, const Out out) {
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) out.put8(i, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(z + i)));
  return i;
}

// Converts n words z[i] = words_in_place(r, n)[i] into r[i] by the signed form, from the front (see
// convert_in_place for why no result reaches a word still to be read).
template <class T>
void convert_signed_in_place(const uint32_t* z, T* r, int32_t n, double a, double b) {
  const SignedRealOut<T> out = signed_real_out(r, a, b);
  int32_t i = block_isa() >= BlockIsa::kAvx2 ? convert_avx2(z, n, out) : 0;
  for (; i + 4 <= n; i += 4) out.put4(i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(z + i)));
  uint32_t rest[4] = {};
  std::memcpy(rest, z + i, sizeof(uint32_t) * (n - i));
  for (int32_t k = 0; k < n - i; ++k) out.put(i + k, rest[k]);
}

// init_stream of a register that skips ahead and has no leapfrog: seed() and skip(count) do the work.
template <class Seed, class Skip>
int32_t seed_or_skip(int32_t method, const uint32_t* params, Seed seed, Skip skip) {
  switch (method) {
    case ZOK_RNG_METHOD_SEED:
      seed();
      return ZOK_RNG_STATUS_OK;
    case ZOK_RNG_METHOD_LEAPFROG:
      return ZOK_RNG_ERROR_NO_LEAPFROG;
    case ZOK_RNG_METHOD_SKIP:
      return skip(skip_count(params));
    default:
      return ZOK_RNG_ERROR_METHOD;
  }
}

}  // namespace zok::rng
