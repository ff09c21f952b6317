// AVX2 + FMA back end of the vector layer: 8 floats or 4 doubles per vector.
#pragma once

// One-line wrappers read best one per line, as a table: clang-format leaves this file alone.
// clang-format off
namespace zok::ZOK_ISA_NS {

struct VF {
  using T = float;
  static constexpr int kLanes = 8;
  __m256 v;
};
struct VD {
  using T = double;
  static constexpr int kLanes = 4;
  __m256d v;
};
struct MF {
  __m256 m;
};
struct MD {
  __m256d m;
};

template <typename V>
V splat(typename V::T x);
template <>
inline VF splat<VF>(float x) { return {_mm256_set1_ps(x)}; }
template <>
inline VD splat<VD>(double x) { return {_mm256_set1_pd(x)}; }

inline VF loadu(const float* p) { return {_mm256_loadu_ps(p)}; }
inline VD loadu(const double* p) { return {_mm256_loadu_pd(p)}; }
inline void storeu(float* p, VF x) { _mm256_storeu_ps(p, x.v); }
inline void storeu(double* p, VD x) { _mm256_storeu_pd(p, x.v); }
// Partial vectors, 0 < count < lanes: load_part reads p[0, count) and repeats p[0] in the other
// lanes; store_part writes lanes [0, count). Masked moves never touch the lanes past count.
inline __m256i lanes_below(int count, float) { return _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)); }
inline __m256i lanes_below(int count, double) { return _mm256_cmpgt_epi64(_mm256_set1_epi64x(count), _mm256_setr_epi64x(0, 1, 2, 3)); }
inline VF load_part(const float* p, int count) {
  const __m256i m = lanes_below(count, 0.0f);
  return {_mm256_blendv_ps(_mm256_set1_ps(*p), _mm256_maskload_ps(p, m), _mm256_castsi256_ps(m))};
}
inline VD load_part(const double* p, int count) {
  const __m256i m = lanes_below(count, 0.0);
  return {_mm256_blendv_pd(_mm256_set1_pd(*p), _mm256_maskload_pd(p, m), _mm256_castsi256_pd(m))};
}
inline void store_part(float* p, int count, VF x) { _mm256_maskstore_ps(p, lanes_below(count, 0.0f), x.v); }
inline void store_part(double* p, int count, VD x) { _mm256_maskstore_pd(p, lanes_below(count, 0.0), x.v); }

inline VF operator+(VF a, VF b) { return {_mm256_add_ps(a.v, b.v)}; }
inline VF operator-(VF a, VF b) { return {_mm256_sub_ps(a.v, b.v)}; }
inline VF operator*(VF a, VF b) { return {_mm256_mul_ps(a.v, b.v)}; }
inline VF operator/(VF a, VF b) { return {_mm256_div_ps(a.v, b.v)}; }
inline VF operator&(VF a, VF b) { return {_mm256_and_ps(a.v, b.v)}; }
inline VF operator|(VF a, VF b) { return {_mm256_or_ps(a.v, b.v)}; }
inline VF operator^(VF a, VF b) { return {_mm256_xor_ps(a.v, b.v)}; }
inline VF andnot(VF a, VF b) { return {_mm256_andnot_ps(a.v, b.v)}; }
inline VD operator+(VD a, VD b) { return {_mm256_add_pd(a.v, b.v)}; }
inline VD operator-(VD a, VD b) { return {_mm256_sub_pd(a.v, b.v)}; }
inline VD operator*(VD a, VD b) { return {_mm256_mul_pd(a.v, b.v)}; }
inline VD operator/(VD a, VD b) { return {_mm256_div_pd(a.v, b.v)}; }
inline VD operator&(VD a, VD b) { return {_mm256_and_pd(a.v, b.v)}; }
inline VD operator|(VD a, VD b) { return {_mm256_or_pd(a.v, b.v)}; }
inline VD operator^(VD a, VD b) { return {_mm256_xor_pd(a.v, b.v)}; }
inline VD andnot(VD a, VD b) { return {_mm256_andnot_pd(a.v, b.v)}; }

// Fused: a*b + c (mul_add), c - a*b (nmul_add) and a*b - c (mul_sub) round once.
static constexpr bool kFusedMulAdd = true;
inline VF mul_add(VF a, VF b, VF c) { return {_mm256_fmadd_ps(a.v, b.v, c.v)}; }
inline VD mul_add(VD a, VD b, VD c) { return {_mm256_fmadd_pd(a.v, b.v, c.v)}; }
inline VF nmul_add(VF a, VF b, VF c) { return {_mm256_fnmadd_ps(a.v, b.v, c.v)}; }
inline VD nmul_add(VD a, VD b, VD c) { return {_mm256_fnmadd_pd(a.v, b.v, c.v)}; }
inline VF mul_sub(VF a, VF b, VF c) { return {_mm256_fmsub_ps(a.v, b.v, c.v)}; }
inline VD mul_sub(VD a, VD b, VD c) { return {_mm256_fmsub_pd(a.v, b.v, c.v)}; }

inline VF rcp(VF a) { return {_mm256_rcp_ps(a.v)}; }
inline VD rcp(VD a) { return {_mm256_cvtps_pd(_mm_rcp_ps(_mm256_cvtpd_ps(a.v)))}; }

template <int kMode>
inline VF round(VF a) {
  return {_mm256_round_ps(a.v, kMode)};
}
template <int kMode>
inline VD round(VD a) {
  return {_mm256_round_pd(a.v, kMode)};
}

inline MF operator==(VF a, VF b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_EQ_OQ)}; }
inline MF operator<(VF a, VF b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ)}; }
inline MF operator<=(VF a, VF b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_LE_OQ)}; }
inline MF operator>=(VF a, VF b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_GE_OQ)}; }
inline MD operator==(VD a, VD b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)}; }
inline MD operator<(VD a, VD b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LT_OQ)}; }
inline MD operator<=(VD a, VD b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LE_OQ)}; }
inline MD operator>=(VD a, VD b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GE_OQ)}; }
inline MF operator&(MF a, MF b) { return {_mm256_and_ps(a.m, b.m)}; }
inline MD operator&(MD a, MD b) { return {_mm256_and_pd(a.m, b.m)}; }
inline unsigned bits(MF m) { return static_cast<unsigned>(_mm256_movemask_ps(m.m)); }
inline unsigned bits(MD m) { return static_cast<unsigned>(_mm256_movemask_pd(m.m)); }
inline VF select(MF m, VF a, VF b) { return {_mm256_blendv_ps(a.v, b.v, m.m)}; }
inline VD select(MD m, VD a, VD b) { return {_mm256_blendv_pd(a.v, b.v, m.m)}; }
// x in the lanes of m and +0 elsewhere (keep), or +0 in the lanes of m and x elsewhere (drop): one
// logical operation, where a select costs a blend (and the compiler's sign test of the mask).
inline VF keep(MF m, VF x) { return {_mm256_and_ps(m.m, x.v)}; }
inline VD keep(MD m, VD x) { return {_mm256_and_pd(m.m, x.v)}; }
inline VF drop(MF m, VF x) { return {_mm256_andnot_ps(m.m, x.v)}; }
inline VD drop(MD m, VD x) { return {_mm256_andnot_pd(m.m, x.v)}; }
// a + b in the lanes of m and a elsewhere (plus_where), or a - b (minus_where): b masked and added,
// two operations where a select would take a blend more.
inline VF plus_where(MF m, VF a, VF b) { return a + keep(m, b); }
inline VD plus_where(MD m, VD a, VD b) { return a + keep(m, b); }
inline VF minus_where(MF m, VF a, VF b) { return a - keep(m, b); }
inline VD minus_where(MD m, VD a, VD b) { return a - keep(m, b); }

inline float lane0(VF x) { return _mm256_cvtss_f32(x.v); }
inline double lane0(VD x) { return _mm256_cvtsd_f64(x.v); }

// ---- integer lanes, bit views, conversions, comparisons, lookups ----

struct VI {
  using T = int32_t;
  static constexpr int kLanes = 8;
  __m256i v;
};
struct VL {
  using T = int64_t;
  static constexpr int kLanes = 4;
  __m256i v;
};
template <>
inline VI splat<VI>(int32_t x) { return {_mm256_set1_epi32(x)}; }
template <>
inline VL splat<VL>(int64_t x) { return {_mm256_set1_epi64x(x)}; }
inline VI operator+(VI a, VI b) { return {_mm256_add_epi32(a.v, b.v)}; }
inline VI operator-(VI a, VI b) { return {_mm256_sub_epi32(a.v, b.v)}; }
inline VI operator*(VI a, VI b) { return {_mm256_mullo_epi32(a.v, b.v)}; }
inline VI operator&(VI a, VI b) { return {_mm256_and_si256(a.v, b.v)}; }
inline VI operator|(VI a, VI b) { return {_mm256_or_si256(a.v, b.v)}; }
inline VI operator^(VI a, VI b) { return {_mm256_xor_si256(a.v, b.v)}; }
inline VL operator+(VL a, VL b) { return {_mm256_add_epi64(a.v, b.v)}; }
inline VL operator-(VL a, VL b) { return {_mm256_sub_epi64(a.v, b.v)}; }
inline VL operator&(VL a, VL b) { return {_mm256_and_si256(a.v, b.v)}; }
inline VL operator|(VL a, VL b) { return {_mm256_or_si256(a.v, b.v)}; }
inline VL operator^(VL a, VL b) { return {_mm256_xor_si256(a.v, b.v)}; }
template <int kBits>
inline VI shl(VI a) { return {_mm256_slli_epi32(a.v, kBits)}; }
template <int kBits>
inline VI shr(VI a) { return {_mm256_srli_epi32(a.v, kBits)}; }
template <int kBits>
inline VI sar(VI a) { return {_mm256_srai_epi32(a.v, kBits)}; }
template <int kBits>
inline VL shl(VL a) { return {_mm256_slli_epi64(a.v, kBits)}; }
template <int kBits>
inline VL shr(VL a) { return {_mm256_srli_epi64(a.v, kBits)}; }

inline VI as_int(VF a) { return {_mm256_castps_si256(a.v)}; }
inline VF as_float(VI a) { return {_mm256_castsi256_ps(a.v)}; }
inline VL as_int(VD a) { return {_mm256_castpd_si256(a.v)}; }
inline VD as_double(VL a) { return {_mm256_castsi256_pd(a.v)}; }
inline VI to_int(VF a) { return {_mm256_cvtps_epi32(a.v)}; }
inline VI to_int_trunc(VF a) { return {_mm256_cvttps_epi32(a.v)}; }
inline VF to_float(VI a) { return {_mm256_cvtepi32_ps(a.v)}; }

inline MF operator>(VF a, VF b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_GT_OQ)}; }
inline MF operator!=(VF a, VF b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_NEQ_UQ)}; }
inline MD operator>(VD a, VD b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GT_OQ)}; }
inline MD operator!=(VD a, VD b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_NEQ_UQ)}; }
inline MF operator|(MF a, MF b) { return {_mm256_or_ps(a.m, b.m)}; }
inline MD operator|(MD a, MD b) { return {_mm256_or_pd(a.m, b.m)}; }
inline MF operator==(VI a, VI b) { return {_mm256_castsi256_ps(_mm256_cmpeq_epi32(a.v, b.v))}; }
inline MF operator>(VI a, VI b) { return {_mm256_castsi256_ps(_mm256_cmpgt_epi32(a.v, b.v))}; }
inline MD operator==(VL a, VL b) { return {_mm256_castsi256_pd(_mm256_cmpeq_epi64(a.v, b.v))}; }
inline VI select(MF m, VI a, VI b) {
  return {_mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(a.v), _mm256_castsi256_ps(b.v), m.m))};
}
inline VL select(MD m, VL a, VL b) {
  return {_mm256_castpd_si256(_mm256_blendv_pd(_mm256_castsi256_pd(a.v), _mm256_castsi256_pd(b.v), m.m))};
}

inline VF sqrt(VF a) { return {_mm256_sqrt_ps(a.v)}; }
inline VD sqrt(VD a) { return {_mm256_sqrt_pd(a.v)}; }
inline VF rsqrt(VF a) { return {_mm256_rsqrt_ps(a.v)}; }
inline VF min(VF a, VF b) { return {_mm256_min_ps(a.v, b.v)}; }
inline VF max(VF a, VF b) { return {_mm256_max_ps(a.v, b.v)}; }
inline VD min(VD a, VD b) { return {_mm256_min_pd(a.v, b.v)}; }
inline VD max(VD a, VD b) { return {_mm256_max_pd(a.v, b.v)}; }

inline VF gather(const float* base, VI idx) { return {_mm256_i32gather_ps(base, idx.v, 4)}; }
inline VD gather(const double* base, VL idx) {
  return {_mm256_i64gather_pd(reinterpret_cast<const double*>(base), idx.v, 8)};
}
inline VI loadu(const int32_t* p) { return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))}; }
inline void storeu(int32_t* p, VI x) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x.v); }

// ---- added for power kernels ----
// Float lanes widened to double (low half, high half) and two double vectors narrowed back, so
// float kernels can compute in double precision.
inline VD widen_lo(VF a) { return {_mm256_cvtps_pd(_mm256_castps256_ps128(a.v))}; }
inline VD widen_hi(VF a) { return {_mm256_cvtps_pd(_mm256_extractf128_ps(a.v, 1))}; }
inline VF narrow(VD lo, VD hi) {
  return {_mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(lo.v)), _mm256_cvtpd_ps(hi.v), 1)};
}

// ---- added for exp/log kernels ----
// Integer table lookups: base[idx[lane]].
inline VI gather(const int32_t* base, VI idx) { return {_mm256_i32gather_epi32(base, idx.v, 4)}; }

// Rows of small tables, one row per lane, read with plain loads (cheaper than the gather
// instructions on some processors): `row` is the row number, rows hold two 4-byte values or two or
// four doubles.
inline void lookup_pairs(const void* base, VI row, VF& first, VF& second) {
  // The row numbers leave the vector two at a time as 64-bit extracts (no store and reload).
  const double* p = static_cast<const double*>(base);
  const __m128i lo = _mm256_castsi256_si128(row.v), hi = _mm256_extracti128_si256(row.v, 1);
  auto two = [&](uint64_t q) {
    return _mm_loadh_pi(_mm_castpd_ps(_mm_load_sd(p + static_cast<uint32_t>(q))),
                        reinterpret_cast<const __m64*>(p + (q >> 32)));
  };
  const __m256 v0 = _mm256_set_m128(two(_mm_cvtsi128_si64(hi)), two(_mm_cvtsi128_si64(lo)));
  const __m256 v1 = _mm256_set_m128(two(_mm_extract_epi64(hi, 1)), two(_mm_extract_epi64(lo, 1)));
  first = {_mm256_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0))};
  second = {_mm256_shuffle_ps(v0, v1, _MM_SHUFFLE(3, 1, 3, 1))};
}
inline void lookup_pairs(const double* base, VL row, VD& first, VD& second) {
  alignas(32) int64_t i[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(i), row.v);
  const __m256d r02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(base + 2 * i[0])),
                                           _mm_loadu_pd(base + 2 * i[2]), 1);
  const __m256d r13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(base + 2 * i[1])),
                                           _mm_loadu_pd(base + 2 * i[3]), 1);
  first = {_mm256_unpacklo_pd(r02, r13)};
  second = {_mm256_unpackhi_pd(r02, r13)};
}
// One double per row.
inline VD lookup_one(const double* base, VL row) {
  alignas(32) int64_t i[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(i), row.v);
  return {_mm256_setr_pd(base[i[0]], base[i[1]], base[i[2]], base[i[3]])};
}
// A column of 8 floats held in a register: base[row & 7] per lane, by one in-register permute
// instead of memory reads. Bits of `row` above the low three are ignored.
template <int kRows>
inline VF lookup_reg(const float* base, VI row) {
  static_assert(kRows == 8, "8 rows");
  return {_mm256_permutevar8x32_ps(_mm256_loadu_ps(base), row.v)};
}
// Columns 0, 2 and 3 of rows of four doubles.
inline void lookup_quads(const double* base, VL row, VD& c0, VD& c2, VD& c3) {
  alignas(32) int64_t i[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(i), row.v);
  const __m256d q0 = _mm256_loadu_pd(base + 4 * i[0]), q1 = _mm256_loadu_pd(base + 4 * i[1]);
  const __m256d q2 = _mm256_loadu_pd(base + 4 * i[2]), q3 = _mm256_loadu_pd(base + 4 * i[3]);
  const __m256d t0 = _mm256_unpacklo_pd(q0, q1), t1 = _mm256_unpackhi_pd(q0, q1);
  const __m256d t2 = _mm256_unpacklo_pd(q2, q3), t3 = _mm256_unpackhi_pd(q2, q3);
  c0 = {_mm256_permute2f128_pd(t0, t2, 0x20)};
  c2 = {_mm256_permute2f128_pd(t0, t2, 0x31)};
  c3 = {_mm256_permute2f128_pd(t1, t3, 0x31)};
}

// Columns 0, 2 and 3 of rows of four doubles whose columns 0 and 1 hold the same value (one blend
// then serves for column 0), each row's first element given by row_at(high 32 bits of x's lane),
// computed on the scalar side: the index arithmetic then takes no vector instructions.
template <class RowAt>
inline void lookup_quads_by(const double* base, VD x, RowAt row_at, VD& c0, VD& c2, VD& c3) {
  alignas(32) uint32_t w[8];
  _mm256_store_pd(reinterpret_cast<double*>(w), x.v);
  __asm__("" : "+m"(w));  // the words are read back as scalars, not extracted lane by lane
  const double* p0 = base + row_at(w[1]);
  const double* p1 = base + row_at(w[3]);
  const double* p2 = base + row_at(w[5]);
  const double* p3 = base + row_at(w[7]);
  const __m256d q0 = _mm256_loadu_pd(p0), q1 = _mm256_loadu_pd(p1);
  const __m256d q2 = _mm256_loadu_pd(p2), q3 = _mm256_loadu_pd(p3);
  const __m256d a02 = _mm256_permute2f128_pd(q0, q2, 0x20), a13 = _mm256_permute2f128_pd(q1, q3, 0x20);
  const __m256d b02 = _mm256_permute2f128_pd(q0, q2, 0x31), b13 = _mm256_permute2f128_pd(q1, q3, 0x31);
  c0 = {_mm256_blend_pd(a02, a13, 0xA)};
  c2 = {_mm256_unpacklo_pd(b02, b13)};
  c3 = {_mm256_unpackhi_pd(b02, b13)};
}

// Rows of two doubles, one row per lane, the row's first element given by row_at(the lane's 64
// bits), computed on the scalar side. Always inlined: a call in a kernel's block loop costs more
// than the reads, and a large kernel source can make the compiler keep it out of line.
template <class RowAt>
[[gnu::always_inline]] inline void lookup_pairs_by(const double* base, VD x, RowAt row_at, VD& first, VD& second) {
  alignas(32) uint64_t w[4];
  _mm256_store_pd(reinterpret_cast<double*>(w), x.v);
  __asm__("" : "+m"(w));  // the lanes are read back as scalars, not extracted one by one
  const __m256d r02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(base + row_at(w[0]))),
                                           _mm_loadu_pd(base + row_at(w[2])), 1);
  const __m256d r13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(base + row_at(w[1]))),
                                           _mm_loadu_pd(base + row_at(w[3])), 1);
  first = {_mm256_unpacklo_pd(r02, r13)};
  second = {_mm256_unpackhi_pd(r02, r13)};
}

}  // namespace zok::ZOK_ISA_NS
// clang-format on
