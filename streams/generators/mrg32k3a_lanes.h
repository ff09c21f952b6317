// MRG32K3A's state and constants, and its lane kernels: 16 lanes, each over its own stretch of the
// output, two per SSE4.1 register or four per AVX2 register (AVX2 only once the processor was asked).
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace zok::rng::mrg32k3a {

struct MrgState {
  uint32_t x[3];  // oldest first, each below m1
  uint32_t y[3];  // oldest first, each below m2
};

inline constexpr uint64_t kM1 = 4294967087ull;  // 2^32 - 209
inline constexpr uint64_t kM2 = 4294944443ull;  // 2^32 - 22853
inline constexpr uint64_t kA12 = 1403580, kA13 = 810728, kA21 = 527612, kA23 = 1370589;
// The normalising constant 1/m1 rounded to double: z/m1 stays below 1 for every z < m1.
inline constexpr double kNorm = 2.328306549837829e-10;
inline constexpr int kLanes = 16;
// Below this many elements the jumps to the lanes' starting states cost more than they save.
inline constexpr int32_t kBlockMin = 96;

// The lanes write raw z values. Continuous requests have them written into the caller's array first
// (see mrg32k3a.cpp), so the stores go through memcpy, which may write into storage of any type.
struct LaneIntOut {
  uint32_t* r;
  void put(int64_t i, uint32_t z) const { std::memcpy(r + i, &z, sizeof z); }
  void put2(const int64_t* at, __m128i z) const {
    put(at[0], static_cast<uint32_t>(_mm_cvtsi128_si32(z)));
    put(at[1], static_cast<uint32_t>(_mm_extract_epi32(z, 2)));
  }
  __attribute__((target("avx2"))) void put4(const int64_t* at, __m256i z) const {
    const __m128i lo = _mm256_castsi256_si128(z), hi = _mm256_extracti128_si256(z, 1);
    put(at[0], static_cast<uint32_t>(_mm_cvtsi128_si32(lo)));
    put(at[1], static_cast<uint32_t>(_mm_extract_epi32(lo, 2)));
    put(at[2], static_cast<uint32_t>(_mm_cvtsi128_si32(hi)));
    put(at[3], static_cast<uint32_t>(_mm_extract_epi32(hi, 2)));
  }
};

// ---- two lanes per register ----

// d = s - m is negative (sign bit of its 64-bit lane) exactly when s is already below m.
inline __m128i keep_below(__m128i s, __m128i m) {
  const __m128i d = _mm_sub_epi64(s, m);
  return _mm_castpd_si128(_mm_blendv_pd(_mm_castsi128_pd(d), _mm_castsi128_pd(s), _mm_castsi128_pd(d)));
}
inline __m128i fold(__m128i p, __m128i c) {
  return _mm_add_epi64(_mm_and_si128(p, _mm_set1_epi64x(0xFFFFFFFF)),
                       _mm_mul_epu32(_mm_srli_epi64(p, 32), c));
}

template <int G, class Out>
void run_group_sse41(MrgState* lanes, int lane0, int64_t len, const Out out) {
  const __m128i m1 = _mm_set1_epi64x(kM1), m2 = _mm_set1_epi64x(kM2);
  const __m128i a12 = _mm_set1_epi64x(kA12), a13 = _mm_set1_epi64x(kA13);
  const __m128i a21 = _mm_set1_epi64x(kA21), a23 = _mm_set1_epi64x(kA23);
  const __m128i c1 = _mm_set1_epi64x(209), c2 = _mm_set1_epi64x(22853);
  __m128i x[G][3], y[G][3];
  int64_t at[G][2];
  for (int g = 0; g < G; ++g) {
    const int j = lane0 + 2 * g;
    for (int k = 0; k < 3; ++k) {
      x[g][k] = _mm_set_epi64x(lanes[j + 1].x[k], lanes[j].x[k]);
      y[g][k] = _mm_set_epi64x(lanes[j + 1].y[k], lanes[j].y[k]);
    }
    at[g][0] = j * len;
    at[g][1] = (j + 1) * len;
  }
  for (int64_t t = 0; t < len; ++t) {
    for (int g = 0; g < G; ++g) {
      // As in the one-element step: a13·(m1 - x) keeps the sum positive, one fold by 2^32 ≡ 209
      // and one subtraction reduce it mod m1; y needs two folds by 2^32 ≡ 22853.
      __m128i p = _mm_add_epi64(_mm_mul_epu32(x[g][1], a12), _mm_mul_epu32(_mm_sub_epi64(m1, x[g][0]), a13));
      const __m128i xn = keep_below(fold(p, c1), m1);
      p = _mm_add_epi64(_mm_mul_epu32(y[g][2], a21), _mm_mul_epu32(_mm_sub_epi64(m2, y[g][0]), a23));
      const __m128i yn = keep_below(fold(fold(p, c2), c2), m2);
      x[g][0] = x[g][1];
      x[g][1] = x[g][2];
      x[g][2] = xn;
      y[g][0] = y[g][1];
      y[g][1] = y[g][2];
      y[g][2] = yn;
      // z = xn - yn, plus m1 when that is negative.
      const __m128i z = _mm_sub_epi64(xn, yn), zm = _mm_add_epi64(z, m1);
      out.put2(at[g], _mm_castpd_si128(
                          _mm_blendv_pd(_mm_castsi128_pd(z), _mm_castsi128_pd(zm), _mm_castsi128_pd(z))));
      ++at[g][0];
      ++at[g][1];
    }
  }
  for (int g = 0; g < G; ++g)
    for (int k = 0; k < 3; ++k) {
      const int j = lane0 + 2 * g;
      lanes[j].x[k] = static_cast<uint32_t>(_mm_cvtsi128_si32(x[g][k]));
      lanes[j + 1].x[k] = static_cast<uint32_t>(_mm_extract_epi32(x[g][k], 2));
      lanes[j].y[k] = static_cast<uint32_t>(_mm_cvtsi128_si32(y[g][k]));
      lanes[j + 1].y[k] = static_cast<uint32_t>(_mm_extract_epi32(y[g][k], 2));
    }
}

template <class Out>
void run_lanes_sse41(MrgState* lanes, int64_t len, const Out out) {
  constexpr int kGroup = 2;  // registers in flight, enough to cover the latency of one step
  for (int j = 0; j < kLanes; j += 2 * kGroup) run_group_sse41<kGroup>(lanes, j, len, out);
}

// ---- four lanes per register ----

__attribute__((target("avx2"))) inline __m256i keep_below(__m256i s, __m256i m) {
  const __m256i d = _mm256_sub_epi64(s, m);
  return _mm256_castpd_si256(
      _mm256_blendv_pd(_mm256_castsi256_pd(d), _mm256_castsi256_pd(s), _mm256_castsi256_pd(d)));
}
__attribute__((target("avx2"))) inline __m256i fold(__m256i p, __m256i c) {
  return _mm256_add_epi64(_mm256_and_si256(p, _mm256_set1_epi64x(0xFFFFFFFF)),
                          _mm256_mul_epu32(_mm256_srli_epi64(p, 32), c));
}

template <int G, class Out>
__attribute__((target("avx2"))) void run_group_avx2(MrgState* lanes, int lane0, int64_t len, const Out out) {
  const __m256i m1 = _mm256_set1_epi64x(kM1), m2 = _mm256_set1_epi64x(kM2);
  const __m256i a12 = _mm256_set1_epi64x(kA12), a13 = _mm256_set1_epi64x(kA13);
  const __m256i a21 = _mm256_set1_epi64x(kA21), a23 = _mm256_set1_epi64x(kA23);
  const __m256i c1 = _mm256_set1_epi64x(209), c2 = _mm256_set1_epi64x(22853);
  __m256i x[G][3], y[G][3];
  int64_t at[G][4];
  for (int g = 0; g < G; ++g) {
    const int j = lane0 + 4 * g;
    for (int k = 0; k < 3; ++k) {
      x[g][k] = _mm256_set_epi64x(lanes[j + 3].x[k], lanes[j + 2].x[k], lanes[j + 1].x[k], lanes[j].x[k]);
      y[g][k] = _mm256_set_epi64x(lanes[j + 3].y[k], lanes[j + 2].y[k], lanes[j + 1].y[k], lanes[j].y[k]);
    }
    for (int l = 0; l < 4; ++l) at[g][l] = (j + l) * len;
  }
  for (int64_t t = 0; t < len; ++t) {
    for (int g = 0; g < G; ++g) {
      __m256i p = _mm256_add_epi64(_mm256_mul_epu32(x[g][1], a12),
                                   _mm256_mul_epu32(_mm256_sub_epi64(m1, x[g][0]), a13));
      const __m256i xn = keep_below(fold(p, c1), m1);
      p = _mm256_add_epi64(_mm256_mul_epu32(y[g][2], a21),
                           _mm256_mul_epu32(_mm256_sub_epi64(m2, y[g][0]), a23));
      const __m256i yn = keep_below(fold(fold(p, c2), c2), m2);
      x[g][0] = x[g][1];
      x[g][1] = x[g][2];
      x[g][2] = xn;
      y[g][0] = y[g][1];
      y[g][1] = y[g][2];
      y[g][2] = yn;
      const __m256i z = _mm256_sub_epi64(xn, yn), zm = _mm256_add_epi64(z, m1);
      out.put4(at[g], _mm256_castpd_si256(_mm256_blendv_pd(_mm256_castsi256_pd(z), _mm256_castsi256_pd(zm),
                                                           _mm256_castsi256_pd(z))));
      for (int l = 0; l < 4; ++l) ++at[g][l];
    }
  }
  for (int g = 0; g < G; ++g) {
    alignas(32) uint64_t xs[3][4], ys[3][4];
    for (int k = 0; k < 3; ++k) {
      _mm256_store_si256(reinterpret_cast<__m256i*>(xs[k]), x[g][k]);
      _mm256_store_si256(reinterpret_cast<__m256i*>(ys[k]), y[g][k]);
    }
    for (int l = 0; l < 4; ++l)
      for (int k = 0; k < 3; ++k) {
        lanes[lane0 + 4 * g + l].x[k] = static_cast<uint32_t>(xs[k][l]);
        lanes[lane0 + 4 * g + l].y[k] = static_cast<uint32_t>(ys[k][l]);
      }
  }
}

template <class Out>
__attribute__((target("avx2"))) void run_lanes_avx2(MrgState* lanes, int64_t len, const Out out) {
  constexpr int kGroup = 2;
  for (int j = 0; j < kLanes; j += 4 * kGroup) run_group_avx2<kGroup>(lanes, j, len, out);
}

}  // namespace zok::rng::mrg32k3a
