// The block loops of PHILOX4X32X10 and ARS5 over many counters at once and the conversion of words
// to reals (theirs and the twisted registers'), written once over the register type of the
// including source's instruction set (SSE4.1, AVX2 or AVX-512 with VAES). Beyond the declarations
// everything has internal linkage: each source compiles its own copy.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace zok::rng {

// Each writes the blocks of `count` consecutive counters from *c on, four words per block, and
// leaves c past the last block written. They run whole passes of 4, 8 or 16 counters only and
// return the number of blocks written; a narrower form takes the rest.
int64_t philox_blocks_sse41(uint32_t* c, const uint32_t* key, int64_t count, uint32_t* out);
int64_t philox_blocks_avx2(uint32_t* c, const uint32_t* key, int64_t count, uint32_t* out);
int64_t philox_blocks_avx512(uint32_t* c, const uint32_t* key, int64_t count, uint32_t* out);
int64_t ars5_blocks_aesni(uint64_t* c, const uint32_t* key, int64_t count, uint32_t* out);
int64_t ars5_blocks_vaes256(uint64_t* c, const uint32_t* key, int64_t count, uint32_t* out);
int64_t ars5_blocks_vaes512(uint64_t* c, const uint32_t* key, int64_t count, uint32_t* out);
// Continuous output of words read as signed integers, w·scale + offset in T, over whole registers;
// return the number of elements written.
int64_t signed_to_real_avx2(const uint32_t* w, int64_t n, double* r, double scale, double offset);
int64_t signed_to_real_avx2(const uint32_t* w, int64_t n, float* r, float scale, float offset);
int64_t signed_to_real_avx512(const uint32_t* w, int64_t n, double* r, double scale, double offset);
int64_t signed_to_real_avx512(const uint32_t* w, int64_t n, float* r, float scale, float offset);
// The same for words read as unsigned integers, w·scale + offset in double (MT19937's doubles).
int64_t unsigned_to_real_avx2(const uint32_t* w, int64_t n, double* r, double scale, double offset);
int64_t unsigned_to_real_avx512(const uint32_t* w, int64_t n, double* r, double scale, double offset);

namespace {

inline constexpr uint32_t kPhiloxM0 = 0xD2511F53, kPhiloxM1 = 0xCD9E8D57;
inline constexpr uint32_t kPhiloxW0 = 0x9E3779B9, kPhiloxW1 = 0xBB67AE85;
inline constexpr int kPhiloxRounds = 10;
inline constexpr uint64_t kArsW0 = 0x9E3779B97F4A7C15ull, kArsW1 = 0xBB67AE8584CAA73Bull;
inline constexpr int kArsRounds = 5;

// Adds v to the 128-bit counter c0..c3 (c0 lowest); what passes 2^128 is lost.
inline void philox_add(uint32_t* c, uint64_t v) {
  const uint64_t lo = c[0] | static_cast<uint64_t>(c[1]) << 32, hi = c[2] | static_cast<uint64_t>(c[3]) << 32;
  const uint64_t sum = lo + v, high = hi + (sum < lo);
  c[0] = static_cast<uint32_t>(sum);
  c[1] = static_cast<uint32_t>(sum >> 32);
  c[2] = static_cast<uint32_t>(high);
  c[3] = static_cast<uint32_t>(high >> 32);
}

// The same for ARS5's counter of two 64-bit halves, low first.
inline void ars_add(uint64_t* c, uint64_t v) {
  const uint64_t sum = c[0] + v;
  c[1] += sum < c[0];
  c[0] = sum;
}

#if defined(__AVX512F__)
// Sixteen 32-bit lanes; for ARS5 four 128-bit blocks per register.
struct Lanes {
  using R = __m512i;
  static constexpr int kWords = 16;
  static R set1(uint32_t v) { return _mm512_set1_epi32(static_cast<int>(v)); }
  static R iota() { return _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15); }
  static R add32(R a, R b) { return _mm512_add_epi32(a, b); }
  static R add64(R a, R b) { return _mm512_add_epi64(a, b); }
  static R bxor(R a, R b) { return _mm512_xor_si512(a, b); }
  static R mul_even(R a, R b) { return _mm512_mul_epu32(a, b); }
  static R high_down(R a) { return _mm512_srli_epi64(a, 32); }
  static R low_up(R a) { return _mm512_slli_epi64(a, 32); }
  static R blend_odd(R even, R odd) { return _mm512_mask_blend_epi32(0xAAAA, even, odd); }
  static R load(const void* p) { return _mm512_loadu_si512(p); }
  static void store(void* p, R x) { _mm512_storeu_si512(p, x); }
  // Lane j of x0..x3 holds the words of block j; after the transposes within each 128-bit lane, t_i
  // holds blocks i, i + 4, i + 8, i + 12, which two rounds of 128-bit shuffles put in order.
  static void store_blocks(uint32_t* out, R x0, R x1, R x2, R x3) {
    const R a = _mm512_unpacklo_epi32(x0, x1), b = _mm512_unpacklo_epi32(x2, x3);
    const R c = _mm512_unpackhi_epi32(x0, x1), d = _mm512_unpackhi_epi32(x2, x3);
    const R t0 = _mm512_unpacklo_epi64(a, b), t1 = _mm512_unpackhi_epi64(a, b);
    const R t2 = _mm512_unpacklo_epi64(c, d), t3 = _mm512_unpackhi_epi64(c, d);
    const R u0 = _mm512_shuffle_i32x4(t0, t1, 0x44), u1 = _mm512_shuffle_i32x4(t2, t3, 0x44);
    const R u2 = _mm512_shuffle_i32x4(t0, t1, 0xEE), u3 = _mm512_shuffle_i32x4(t2, t3, 0xEE);
    store(out, _mm512_shuffle_i32x4(u0, u1, 0x88));
    store(out + 16, _mm512_shuffle_i32x4(u0, u1, 0xDD));
    store(out + 32, _mm512_shuffle_i32x4(u2, u3, 0x88));
    store(out + 48, _mm512_shuffle_i32x4(u2, u3, 0xDD));
  }
  static R block_pair(uint64_t lo, uint64_t hi) { return _mm512_broadcast_i32x4(_mm_set_epi64x(hi, lo)); }
  // Adds j, j + 1, ... to the low halves of the blocks of one register.
  static R block_steps(uint64_t j) { return _mm512_set_epi64(0, j + 3, 0, j + 2, 0, j + 1, 0, j); }
  static R aesenc(R x, R k) { return _mm512_aesenc_epi128(x, k); }
  static R aesenclast(R x, R k) { return _mm512_aesenclast_epi128(x, k); }
};
#elif defined(__AVX2__)
// Eight 32-bit lanes; for ARS5 two 128-bit blocks per register.
struct Lanes {
  using R = __m256i;
  static constexpr int kWords = 8;
  static R set1(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static R iota() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
  static R add32(R a, R b) { return _mm256_add_epi32(a, b); }
  static R add64(R a, R b) { return _mm256_add_epi64(a, b); }
  static R bxor(R a, R b) { return _mm256_xor_si256(a, b); }
  static R mul_even(R a, R b) { return _mm256_mul_epu32(a, b); }
  static R high_down(R a) { return _mm256_srli_epi64(a, 32); }
  static R low_up(R a) { return _mm256_slli_epi64(a, 32); }
  static R blend_odd(R even, R odd) { return _mm256_blend_epi32(even, odd, 0xAA); }
  static R load(const void* p) { return _mm256_loadu_si256(static_cast<const R*>(p)); }
  static void store(void* p, R x) { _mm256_storeu_si256(static_cast<R*>(p), x); }
  // After the transposes within each 128-bit lane t_i holds blocks i and i + 4.
  static void store_blocks(uint32_t* out, R x0, R x1, R x2, R x3) {
    const R a = _mm256_unpacklo_epi32(x0, x1), b = _mm256_unpacklo_epi32(x2, x3);
    const R c = _mm256_unpackhi_epi32(x0, x1), d = _mm256_unpackhi_epi32(x2, x3);
    const R t0 = _mm256_unpacklo_epi64(a, b), t1 = _mm256_unpackhi_epi64(a, b);
    const R t2 = _mm256_unpacklo_epi64(c, d), t3 = _mm256_unpackhi_epi64(c, d);
    store(out, _mm256_permute2x128_si256(t0, t1, 0x20));
    store(out + 8, _mm256_permute2x128_si256(t2, t3, 0x20));
    store(out + 16, _mm256_permute2x128_si256(t0, t1, 0x31));
    store(out + 24, _mm256_permute2x128_si256(t2, t3, 0x31));
  }
  static R block_pair(uint64_t lo, uint64_t hi) {
    return _mm256_broadcastsi128_si256(_mm_set_epi64x(hi, lo));
  }
  static R block_steps(uint64_t j) { return _mm256_set_epi64x(0, j + 1, 0, j); }
#if defined(__VAES__)
  static R aesenc(R x, R k) {
    return _mm256_aesenc_epi128(x, k);
  }
  static R aesenclast(R x, R k) {
    return _mm256_aesenclast_epi128(x, k);
  }
#endif
};
#else
// Four 32-bit lanes; for ARS5 one block per register.
struct Lanes {
  using R = __m128i;
  static constexpr int kWords = 4;
  static R set1(uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static R iota() { return _mm_setr_epi32(0, 1, 2, 3); }
  static R add32(R a, R b) { return _mm_add_epi32(a, b); }
  static R add64(R a, R b) { return _mm_add_epi64(a, b); }
  static R bxor(R a, R b) { return _mm_xor_si128(a, b); }
  static R mul_even(R a, R b) { return _mm_mul_epu32(a, b); }
  static R high_down(R a) { return _mm_srli_epi64(a, 32); }
  static R low_up(R a) { return _mm_slli_epi64(a, 32); }
  static R blend_odd(R even, R odd) { return _mm_blend_epi16(even, odd, 0xCC); }
  static R load(const void* p) { return _mm_loadu_si128(static_cast<const R*>(p)); }
  static void store(void* p, R x) { _mm_storeu_si128(static_cast<R*>(p), x); }
  static void store_blocks(uint32_t* out, R x0, R x1, R x2, R x3) {
    const R a = _mm_unpacklo_epi32(x0, x1), b = _mm_unpacklo_epi32(x2, x3);
    const R c = _mm_unpackhi_epi32(x0, x1), d = _mm_unpackhi_epi32(x2, x3);
    store(out, _mm_unpacklo_epi64(a, b));
    store(out + 4, _mm_unpackhi_epi64(a, b));
    store(out + 8, _mm_unpacklo_epi64(c, d));
    store(out + 12, _mm_unpackhi_epi64(c, d));
  }
  static R block_pair(uint64_t lo, uint64_t hi) {
    return _mm_set_epi64x(static_cast<int64_t>(hi), static_cast<int64_t>(lo));
  }
  static R block_steps(uint64_t j) { return _mm_set_epi64x(0, static_cast<int64_t>(j)); }
#if defined(__AES__)
  static R aesenc(R x, R k) {
    return _mm_aesenc_si128(x, k);
  }
  static R aesenclast(R x, R k) {
    return _mm_aesenclast_si128(x, k);
  }
#endif
};
#endif

// Philox blocks, one counter per 32-bit lane, in passes of Lanes::kWords counters: the 64-bit
// products of the even lanes and of the odd lanes (shifted down) are split into high and low words
// and woven back together. Writes whole passes only and returns the number of blocks written.
template <class V = Lanes>
int64_t philox_lanes(uint32_t* c, const uint32_t* key, int64_t count, uint32_t* out) {
  using R = typename V::R;
  constexpr int kN = V::kWords;
  R k0[kPhiloxRounds], k1[kPhiloxRounds];
  for (int r = 0; r < kPhiloxRounds; ++r) {
    k0[r] = V::set1(key[0] + static_cast<uint32_t>(r) * kPhiloxW0);
    k1[r] = V::set1(key[1] + static_cast<uint32_t>(r) * kPhiloxW1);
  }
  const R m0 = V::set1(kPhiloxM0), m1 = V::set1(kPhiloxM1);
  const int64_t passes = count / kN;
  for (int64_t p = 0; p < passes; ++p) {
    R x0, x1, x2, x3;
    if (c[0] <= 0xFFFFFFFFu - (kN - 1)) {
      // No carry inside the pass: only the lowest word differs between the lanes.
      x0 = V::add32(V::set1(c[0]), V::iota());
      x1 = V::set1(c[1]);
      x2 = V::set1(c[2]);
      x3 = V::set1(c[3]);
      philox_add(c, kN);
    } else {
      alignas(64) uint32_t lane[4][kN];
      for (int j = 0; j < kN; ++j) {
        for (int w = 0; w < 4; ++w) lane[w][j] = c[w];
        philox_add(c, 1);
      }
      x0 = V::load(lane[0]);
      x1 = V::load(lane[1]);
      x2 = V::load(lane[2]);
      x3 = V::load(lane[3]);
    }
#pragma GCC unroll 10
    for (int r = 0; r < kPhiloxRounds; ++r) {
      const R pe = V::mul_even(x0, m0), po = V::mul_even(V::high_down(x0), m0);
      const R qe = V::mul_even(x2, m1), qo = V::mul_even(V::high_down(x2), m1);
      const R p_hi = V::blend_odd(V::high_down(pe), po), p_lo = V::blend_odd(pe, V::low_up(po));
      const R q_hi = V::blend_odd(V::high_down(qe), qo), q_lo = V::blend_odd(qe, V::low_up(qo));
      x0 = V::bxor(V::bxor(q_hi, x1), k0[r]);
      x1 = q_lo;
      x2 = V::bxor(V::bxor(p_hi, x3), k1[r]);
      x3 = p_lo;
    }
    V::store_blocks(out + static_cast<int64_t>(4) * kN * p, x0, x1, x2, x3);
  }
  return passes * kN;
}

// ARS5 blocks, four registers in flight so that each AES round's latency is covered by the other
// three; each register holds Lanes::kWords / 4 blocks. Writes whole passes only and returns the
// number of blocks written.
template <class V = Lanes>
int64_t ars5_lanes(uint64_t* c, const uint32_t* key, int64_t count, uint32_t* out) {
  using R = typename V::R;
  constexpr int kPerReg = V::kWords / 4, kRegs = 4, kPass = kPerReg * kRegs;
  const uint64_t k_lo = key[0] | static_cast<uint64_t>(key[1]) << 32;
  const uint64_t k_hi = key[2] | static_cast<uint64_t>(key[3]) << 32;
  R rk[kArsRounds + 1];
  for (int r = 0; r <= kArsRounds; ++r) rk[r] = V::block_pair(k_lo + r * kArsW0, k_hi + r * kArsW1);
  R steps[kRegs];
  for (int g = 0; g < kRegs; ++g) steps[g] = V::block_steps(static_cast<uint64_t>(g) * kPerReg);
  const int64_t passes = count / kPass;
  for (int64_t p = 0; p < passes; ++p) {
    R x[kRegs];
    if (c[0] <= ~uint64_t{0} - (kPass - 1)) {
      const R base = V::block_pair(c[0], c[1]);
#pragma GCC unroll 4
      for (int g = 0; g < kRegs; ++g) x[g] = V::add64(base, steps[g]);
      ars_add(c, kPass);
    } else {
      alignas(64) uint64_t blocks[2 * kPass];
      for (int j = 0; j < kPass; ++j) {
        blocks[2 * j] = c[0];
        blocks[2 * j + 1] = c[1];
        ars_add(c, 1);
      }
#pragma GCC unroll 4
      for (int g = 0; g < kRegs; ++g) x[g] = V::load(blocks + 2 * kPerReg * g);
    }
    // Fully unrolled, so that the four registers stay in registers and their rounds interleave.
#pragma GCC unroll 4
    for (int g = 0; g < kRegs; ++g) x[g] = V::bxor(x[g], rk[0]);
#pragma GCC unroll 4
    for (int r = 1; r < kArsRounds; ++r)
#pragma GCC unroll 4
      for (int g = 0; g < kRegs; ++g) x[g] = V::aesenc(x[g], rk[r]);
#pragma GCC unroll 4
    for (int g = 0; g < kRegs; ++g)
      V::store(out + 4 * (kPass * p + kPerReg * g), V::aesenclast(x[g], rk[kArsRounds]));
  }
  return passes * kPass;
}

// The conversion behind signed_to_real_*: a product and a sum, each rounded in T (sources that
// include this are compiled without contraction into fused multiply-adds).
template <class T>
int64_t signed_to_real_lanes(const uint32_t* w, int64_t n, T* r, T scale, T offset) {
  constexpr int kBytes = Lanes::kWords * 4, kPer = kBytes / static_cast<int>(sizeof(T));
  typedef T Real __attribute__((vector_size(kBytes)));
  typedef int32_t Int __attribute__((vector_size(kPer * 4)));
  int64_t i = 0;
  for (; i + kPer <= n; i += kPer) {
    Int x;
    std::memcpy(&x, w + i, sizeof x);
    const Real v = __builtin_convertvector(x, Real) * scale + offset;
    std::memcpy(r + i, &v, sizeof v);
  }
  return i;
}

#if defined(__AVX2__)
// The conversion behind unsigned_to_real_*, rounded as above. AVX-512 converts unsigned words
// itself (the compiler's generic conversion corrects signed ones instead); AVX2 places each word in
// the mantissa of 2^52 and subtracts 2^52, which is exact.
inline int64_t unsigned_to_real_lanes(const uint32_t* w, int64_t n, double* r, double scale, double offset) {
  int64_t i = 0;
#if defined(__AVX512F__)
  const __m512d s = _mm512_set1_pd(scale), o = _mm512_set1_pd(offset);
  for (; i + 8 <= n; i += 8) {
    const __m512d x = _mm512_cvtepu32_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + i)));
    _mm512_storeu_pd(r + i, _mm512_add_pd(_mm512_mul_pd(x, s), o));
  }
#else
  const __m256d s = _mm256_set1_pd(scale), o = _mm256_set1_pd(offset), two52 = _mm256_set1_pd(0x1p52);
  for (; i + 4 <= n; i += 4) {
    const __m256i z = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i)));
    const __m256d x =
        _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(z, _mm256_castpd_si256(two52))), two52);
    _mm256_storeu_pd(r + i, _mm256_add_pd(_mm256_mul_pd(x, s), o));
  }
#endif
  return i;
}
#endif

}  // namespace

}  // namespace zok::rng
