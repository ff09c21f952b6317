// AVX-512 (F, VL, DQ, BW) back end of the vector layer: 16 floats or 8 doubles per vector, with
// mask registers.
#pragma once

// One-line wrappers read best one per line, as a table: clang-format leaves this file alone.
// clang-format off
namespace zok::ZOK_ISA_NS {

struct VF {
  using T = float;
  static constexpr int kLanes = 16;
  __m512 v;
};
struct VD {
  using T = double;
  static constexpr int kLanes = 8;
  __m512d v;
};
struct MF {
  __mmask16 m;
};
struct MD {
  __mmask8 m;
};

template <typename V>
V splat(typename V::T x);
template <>
inline VF splat<VF>(float x) { return {_mm512_set1_ps(x)}; }
template <>
inline VD splat<VD>(double x) { return {_mm512_set1_pd(x)}; }

inline VF loadu(const float* p) { return {_mm512_loadu_ps(p)}; }
inline VD loadu(const double* p) { return {_mm512_loadu_pd(p)}; }
inline void storeu(float* p, VF x) { _mm512_storeu_ps(p, x.v); }
inline void storeu(double* p, VD x) { _mm512_storeu_pd(p, x.v); }
// Partial vectors, 0 < count < lanes: load_part reads p[0, count) and repeats p[0] in the other
// lanes; store_part writes lanes [0, count). Masked moves never touch the lanes past count.
inline VF load_part(const float* p, int count) {
  return {_mm512_mask_loadu_ps(_mm512_set1_ps(*p), static_cast<__mmask16>((1u << count) - 1), p)};
}
inline VD load_part(const double* p, int count) {
  return {_mm512_mask_loadu_pd(_mm512_set1_pd(*p), static_cast<__mmask8>((1u << count) - 1), p)};
}
inline void store_part(float* p, int count, VF x) { _mm512_mask_storeu_ps(p, static_cast<__mmask16>((1u << count) - 1), x.v); }
inline void store_part(double* p, int count, VD x) { _mm512_mask_storeu_pd(p, static_cast<__mmask8>((1u << count) - 1), x.v); }

inline VF operator+(VF a, VF b) { return {_mm512_add_ps(a.v, b.v)}; }
inline VF operator-(VF a, VF b) { return {_mm512_sub_ps(a.v, b.v)}; }
inline VF operator*(VF a, VF b) { return {_mm512_mul_ps(a.v, b.v)}; }
inline VF operator/(VF a, VF b) { return {_mm512_div_ps(a.v, b.v)}; }
inline VF operator&(VF a, VF b) { return {_mm512_and_ps(a.v, b.v)}; }
inline VF operator|(VF a, VF b) { return {_mm512_or_ps(a.v, b.v)}; }
inline VF operator^(VF a, VF b) { return {_mm512_xor_ps(a.v, b.v)}; }
inline VF andnot(VF a, VF b) { return {_mm512_andnot_ps(a.v, b.v)}; }
inline VD operator+(VD a, VD b) { return {_mm512_add_pd(a.v, b.v)}; }
inline VD operator-(VD a, VD b) { return {_mm512_sub_pd(a.v, b.v)}; }
inline VD operator*(VD a, VD b) { return {_mm512_mul_pd(a.v, b.v)}; }
inline VD operator/(VD a, VD b) { return {_mm512_div_pd(a.v, b.v)}; }
inline VD operator&(VD a, VD b) { return {_mm512_and_pd(a.v, b.v)}; }
inline VD operator|(VD a, VD b) { return {_mm512_or_pd(a.v, b.v)}; }
inline VD operator^(VD a, VD b) { return {_mm512_xor_pd(a.v, b.v)}; }
inline VD andnot(VD a, VD b) { return {_mm512_andnot_pd(a.v, b.v)}; }

// Fused: a*b + c (mul_add), c - a*b (nmul_add) and a*b - c (mul_sub) round once.
static constexpr bool kFusedMulAdd = true;
inline VF mul_add(VF a, VF b, VF c) { return {_mm512_fmadd_ps(a.v, b.v, c.v)}; }
inline VD mul_add(VD a, VD b, VD c) { return {_mm512_fmadd_pd(a.v, b.v, c.v)}; }
inline VF nmul_add(VF a, VF b, VF c) { return {_mm512_fnmadd_ps(a.v, b.v, c.v)}; }
inline VD nmul_add(VD a, VD b, VD c) { return {_mm512_fnmadd_pd(a.v, b.v, c.v)}; }
inline VF mul_sub(VF a, VF b, VF c) { return {_mm512_fmsub_ps(a.v, b.v, c.v)}; }
inline VD mul_sub(VD a, VD b, VD c) { return {_mm512_fmsub_pd(a.v, b.v, c.v)}; }

// 14-bit estimates, over the whole exponent range of each type.
inline VF rcp(VF a) { return {_mm512_rcp14_ps(a.v)}; }
inline VD rcp(VD a) { return {_mm512_rcp14_pd(a.v)}; }

template <int kMode>
inline VF round(VF a) {
  return {_mm512_roundscale_ps(a.v, kMode)};
}
template <int kMode>
inline VD round(VD a) {
  return {_mm512_roundscale_pd(a.v, kMode)};
}

// Round to nearest and raise no flag whatever MXCSR's rounding and masks say (embedded rounding
// with exceptions suppressed); MXCSR's flush-to-zero and denormals-are-zero still act on them.
inline VF add_rn(VF a, VF b) { return {_mm512_add_round_ps(a.v, b.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)}; }
inline VD add_rn(VD a, VD b) { return {_mm512_add_round_pd(a.v, b.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)}; }
inline VF sub_rn(VF a, VF b) { return {_mm512_sub_round_ps(a.v, b.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)}; }
inline VD sub_rn(VD a, VD b) { return {_mm512_sub_round_pd(a.v, b.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)}; }
inline VF mul_rn(VF a, VF b) { return {_mm512_mul_round_ps(a.v, b.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)}; }
inline VD mul_rn(VD a, VD b) { return {_mm512_mul_round_pd(a.v, b.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)}; }
inline VF div_rn(VF a, VF b) { return {_mm512_div_round_ps(a.v, b.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)}; }
inline VD div_rn(VD a, VD b) { return {_mm512_div_round_pd(a.v, b.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)}; }
inline VF nmul_add_rn(VF a, VF b, VF c) { return {_mm512_fnmadd_round_ps(a.v, b.v, c.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)}; }
inline VD nmul_add_rn(VD a, VD b, VD c) { return {_mm512_fnmadd_round_pd(a.v, b.v, c.v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)}; }
// Comparisons that raise no flag (not even for denormal operands).
inline MF eq_sae(VF a, VF b) { return {_mm512_cmp_round_ps_mask(a.v, b.v, _CMP_EQ_OQ, _MM_FROUND_NO_EXC)}; }
inline MD eq_sae(VD a, VD b) { return {_mm512_cmp_round_pd_mask(a.v, b.v, _CMP_EQ_OQ, _MM_FROUND_NO_EXC)}; }
inline MF ge_sae(VF a, VF b) { return {_mm512_cmp_round_ps_mask(a.v, b.v, _CMP_GE_OQ, _MM_FROUND_NO_EXC)}; }
inline MD ge_sae(VD a, VD b) { return {_mm512_cmp_round_pd_mask(a.v, b.v, _CMP_GE_OQ, _MM_FROUND_NO_EXC)}; }
inline MF le_sae(VF a, VF b) { return {_mm512_cmp_round_ps_mask(a.v, b.v, _CMP_LE_OQ, _MM_FROUND_NO_EXC)}; }
inline MD le_sae(VD a, VD b) { return {_mm512_cmp_round_pd_mask(a.v, b.v, _CMP_LE_OQ, _MM_FROUND_NO_EXC)}; }
// round<kMode> with exceptions suppressed (kMode names its own direction, not the current one).
template <int kMode>
inline VF round_sae(VF a) {
  static_assert((kMode & _MM_FROUND_CUR_DIRECTION) == 0, "the direction must be the instruction's own");
  return {_mm512_roundscale_round_ps(a.v, kMode, _MM_FROUND_NO_EXC)};
}
template <int kMode>
inline VD round_sae(VD a) {
  static_assert((kMode & _MM_FROUND_CUR_DIRECTION) == 0, "the direction must be the instruction's own");
  return {_mm512_roundscale_round_pd(a.v, kMode, _MM_FROUND_NO_EXC)};
}

inline MF operator==(VF a, VF b) { return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_EQ_OQ)}; }
inline MF operator<(VF a, VF b) { return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_LT_OQ)}; }
inline MF operator<=(VF a, VF b) { return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_LE_OQ)}; }
inline MF operator>=(VF a, VF b) { return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_GE_OQ)}; }
inline MD operator==(VD a, VD b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_EQ_OQ)}; }
inline MD operator<(VD a, VD b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LT_OQ)}; }
inline MD operator<=(VD a, VD b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LE_OQ)}; }
inline MD operator>=(VD a, VD b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GE_OQ)}; }
inline MF operator&(MF a, MF b) { return {static_cast<__mmask16>(a.m & b.m)}; }
inline MD operator&(MD a, MD b) { return {static_cast<__mmask8>(a.m & b.m)}; }
// The lanes holding a NaN (quiet or signalling) or a denormal: one classification, no flag raised.
inline unsigned nan_or_denormal(VF x) { return _mm512_fpclass_ps_mask(x.v, 0x01 | 0x20 | 0x80); }
inline unsigned nan_or_denormal(VD x) { return _mm512_fpclass_pd_mask(x.v, 0x01 | 0x20 | 0x80); }
inline unsigned bits(MF m) { return m.m; }
inline unsigned bits(MD m) { return m.m; }
inline VF select(MF m, VF a, VF b) { return {_mm512_mask_blend_ps(m.m, a.v, b.v)}; }
inline VD select(MD m, VD a, VD b) { return {_mm512_mask_blend_pd(m.m, a.v, b.v)}; }
// x in the lanes of m and +0 elsewhere (keep), or +0 in the lanes of m and x elsewhere (drop): one
// zeroing move.
inline VF keep(MF m, VF x) { return {_mm512_maskz_mov_ps(m.m, x.v)}; }
inline VD keep(MD m, VD x) { return {_mm512_maskz_mov_pd(m.m, x.v)}; }
inline VF drop(MF m, VF x) { return {_mm512_maskz_mov_ps(static_cast<__mmask16>(~m.m), x.v)}; }
inline VD drop(MD m, VD x) { return {_mm512_maskz_mov_pd(static_cast<__mmask8>(~m.m), x.v)}; }
// sqrt(b), a * b, and a's bit pattern shifted right once in the lanes of m, src elsewhere: one
// merge-masked operation each.
inline VF sqrt_where(MF m, VF src, VF b) { return {_mm512_mask_sqrt_ps(src.v, m.m, b.v)}; }
inline VD sqrt_where(MD m, VD src, VD b) { return {_mm512_mask_sqrt_pd(src.v, m.m, b.v)}; }
inline VF times_where(MF m, VF src, VF a, VF b) { return {_mm512_mask_mul_ps(src.v, m.m, a.v, b.v)}; }
inline VD times_where(MD m, VD src, VD a, VD b) { return {_mm512_mask_mul_pd(src.v, m.m, a.v, b.v)}; }
inline VF halve_bits_where(MF m, VF src, VF a) {
  return {_mm512_castsi512_ps(_mm512_mask_srli_epi32(_mm512_castps_si512(src.v), m.m, _mm512_castps_si512(a.v), 1))};
}
inline VD halve_bits_where(MD m, VD src, VD a) {
  return {_mm512_castsi512_pd(_mm512_mask_srli_epi64(_mm512_castpd_si512(src.v), m.m, _mm512_castpd_si512(a.v), 1))};
}
// a + b in the lanes of m and a elsewhere (plus_where), or a - b (minus_where): the sum and a select of
// a, one operation more than a masked sum, but the comparison stays off the sum's path.
inline VF plus_where(MF m, VF a, VF b) { return select(m, a, a + b); }
inline VD plus_where(MD m, VD a, VD b) { return select(m, a, a + b); }
inline VF minus_where(MF m, VF a, VF b) { return select(m, a, a - b); }
inline VD minus_where(MD m, VD a, VD b) { return select(m, a, a - b); }

inline float lane0(VF x) { return _mm512_cvtss_f32(x.v); }
inline double lane0(VD x) { return _mm512_cvtsd_f64(x.v); }

// ---- integer lanes, bit views, conversions, comparisons, lookups ----

struct VI {
  using T = int32_t;
  static constexpr int kLanes = 16;
  __m512i v;
};
struct VL {
  using T = int64_t;
  static constexpr int kLanes = 8;
  __m512i v;
};
template <>
inline VI splat<VI>(int32_t x) { return {_mm512_set1_epi32(x)}; }
template <>
inline VL splat<VL>(int64_t x) { return {_mm512_set1_epi64(x)}; }
inline VI operator+(VI a, VI b) { return {_mm512_add_epi32(a.v, b.v)}; }
inline VI operator-(VI a, VI b) { return {_mm512_sub_epi32(a.v, b.v)}; }
inline VI operator*(VI a, VI b) { return {_mm512_mullo_epi32(a.v, b.v)}; }
inline VI operator&(VI a, VI b) { return {_mm512_and_si512(a.v, b.v)}; }
inline VI operator|(VI a, VI b) { return {_mm512_or_si512(a.v, b.v)}; }
inline VI operator^(VI a, VI b) { return {_mm512_xor_si512(a.v, b.v)}; }
inline VL operator+(VL a, VL b) { return {_mm512_add_epi64(a.v, b.v)}; }
inline VL operator-(VL a, VL b) { return {_mm512_sub_epi64(a.v, b.v)}; }
inline VL operator&(VL a, VL b) { return {_mm512_and_si512(a.v, b.v)}; }
inline VL operator|(VL a, VL b) { return {_mm512_or_si512(a.v, b.v)}; }
inline VL operator^(VL a, VL b) { return {_mm512_xor_si512(a.v, b.v)}; }
template <int kBits>
inline VI shl(VI a) { return {_mm512_slli_epi32(a.v, kBits)}; }
template <int kBits>
inline VI shr(VI a) { return {_mm512_srli_epi32(a.v, kBits)}; }
template <int kBits>
inline VI sar(VI a) { return {_mm512_srai_epi32(a.v, kBits)}; }
template <int kBits>
inline VL shl(VL a) { return {_mm512_slli_epi64(a.v, kBits)}; }
template <int kBits>
inline VL shr(VL a) { return {_mm512_srli_epi64(a.v, kBits)}; }

inline VI as_int(VF a) { return {_mm512_castps_si512(a.v)}; }
inline VF as_float(VI a) { return {_mm512_castsi512_ps(a.v)}; }
inline VL as_int(VD a) { return {_mm512_castpd_si512(a.v)}; }
inline VD as_double(VL a) { return {_mm512_castsi512_pd(a.v)}; }
inline VI to_int(VF a) { return {_mm512_cvtps_epi32(a.v)}; }
inline VI to_int_trunc(VF a) { return {_mm512_cvttps_epi32(a.v)}; }
inline VF to_float(VI a) { return {_mm512_cvtepi32_ps(a.v)}; }

inline MF operator>(VF a, VF b) { return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_GT_OQ)}; }
inline MF operator!=(VF a, VF b) { return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_NEQ_UQ)}; }
inline MD operator>(VD a, VD b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GT_OQ)}; }
inline MD operator!=(VD a, VD b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_NEQ_UQ)}; }
inline MF operator|(MF a, MF b) { return {static_cast<__mmask16>(a.m | b.m)}; }
inline MD operator|(MD a, MD b) { return {static_cast<__mmask8>(a.m | b.m)}; }
inline MF operator==(VI a, VI b) { return {_mm512_cmpeq_epi32_mask(a.v, b.v)}; }
inline MF operator>(VI a, VI b) { return {_mm512_cmpgt_epi32_mask(a.v, b.v)}; }
inline MD operator==(VL a, VL b) { return {_mm512_cmpeq_epi64_mask(a.v, b.v)}; }
inline VI select(MF m, VI a, VI b) { return {_mm512_mask_blend_epi32(m.m, a.v, b.v)}; }
inline VL select(MD m, VL a, VL b) { return {_mm512_mask_blend_epi64(m.m, a.v, b.v)}; }

inline VF sqrt(VF a) { return {_mm512_sqrt_ps(a.v)}; }
inline VD sqrt(VD a) { return {_mm512_sqrt_pd(a.v)}; }
inline VF rsqrt(VF a) { return {_mm512_rsqrt14_ps(a.v)}; }  // 14-bit estimate
inline VF min(VF a, VF b) { return {_mm512_min_ps(a.v, b.v)}; }
inline VF max(VF a, VF b) { return {_mm512_max_ps(a.v, b.v)}; }
inline VD min(VD a, VD b) { return {_mm512_min_pd(a.v, b.v)}; }
inline VD max(VD a, VD b) { return {_mm512_max_pd(a.v, b.v)}; }

inline VF gather(const float* base, VI idx) { return {_mm512_i32gather_ps(idx.v, base, 4)}; }
inline VD gather(const double* base, VL idx) { return {_mm512_i64gather_pd(idx.v, base, 8)}; }
inline VI loadu(const int32_t* p) { return {_mm512_loadu_si512(p)}; }
inline void storeu(int32_t* p, VI x) { _mm512_storeu_si512(p, x.v); }

// ---- added for power kernels ----
// Float lanes widened to double (low half, high half) and two double vectors narrowed back, so
// float kernels can compute in double precision.
inline VD widen_lo(VF a) { return {_mm512_cvtps_pd(_mm512_castps512_ps256(a.v))}; }
inline VD widen_hi(VF a) {
  return {_mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(a.v), 1)))};
}
inline VF narrow(VD lo, VD hi) {
  const __m512d both = _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(_mm512_cvtpd_ps(lo.v))),
                                          _mm256_castps_pd(_mm512_cvtpd_ps(hi.v)), 1);
  return {_mm512_castpd_ps(both)};
}

// ---- added for exp/log kernels ----
// Integer table lookups: base[idx[lane]].
inline VI gather(const int32_t* base, VI idx) { return {_mm512_i32gather_epi32(idx.v, base, 4)}; }

// Rows of small tables, one row per lane: `row` is the row number, rows hold two 4-byte values or
// two or four doubles.
// A row of two 4-byte values is read as one 8-byte element: two gathers of 8 instead of two of 16
// (a gather costs about one load per element), then split into first and second values.
inline void lookup_pairs(const void* base, VI row, VF& first, VF& second) {
  const __m512 lo = _mm512_castpd_ps(_mm512_i32gather_pd(_mm512_castsi512_si256(row.v), base, 8));
  const __m512 hi = _mm512_castpd_ps(_mm512_i32gather_pd(_mm512_extracti32x8_epi32(row.v, 1), base, 8));
  const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  first = {_mm512_permutex2var_ps(lo, even, hi)};
  second = {_mm512_permutex2var_ps(lo, _mm512_add_epi32(even, _mm512_set1_epi32(1)), hi)};
}
inline void lookup_pairs(const double* base, VL row, VD& first, VD& second) {
  const __m512i r2 = _mm512_slli_epi64(row.v, 1);
  first = {_mm512_i64gather_pd(r2, base, 8)};
  second = {_mm512_i64gather_pd(_mm512_add_epi64(r2, _mm512_set1_epi64(1)), base, 8)};
}
// One double per row.
inline VD lookup_one(const double* base, VL row) { return {_mm512_i64gather_pd(row.v, base, 8)}; }
inline void lookup_quads(const double* base, VL row, VD& c0, VD& c2, VD& c3) {
  const __m512i r4 = _mm512_slli_epi64(row.v, 2);
  c0 = {_mm512_i64gather_pd(r4, base, 8)};
  c2 = {_mm512_i64gather_pd(_mm512_add_epi64(r4, _mm512_set1_epi64(2)), base, 8)};
  c3 = {_mm512_i64gather_pd(_mm512_add_epi64(r4, _mm512_set1_epi64(3)), base, 8)};
}

// Columns 0, 2 and 3 of rows of four doubles whose columns 0 and 1 hold the same value; `at` is
// each row's first element (4 x the row number).
inline void lookup_quads_at(const double* base, VL at, VD& c0, VD& c2, VD& c3) {
  c0 = {_mm512_i64gather_pd(at.v, base, 8)};
  c2 = {_mm512_i64gather_pd(_mm512_add_epi64(at.v, _mm512_set1_epi64(2)), base, 8)};
  c3 = {_mm512_i64gather_pd(_mm512_add_epi64(at.v, _mm512_set1_epi64(3)), base, 8)};
}

// As lookup_quads_at, with each row's first element given by row_at(high 32 bits of x's lane).
template <class RowAt>
inline void lookup_quads_by(const double* base, VD x, RowAt row_at, VD& c0, VD& c2, VD& c3) {
  alignas(64) uint32_t w[16];
  alignas(64) int64_t at[8];
  _mm512_store_pd(reinterpret_cast<double*>(w), x.v);
  for (int i = 0; i < 8; ++i) at[i] = static_cast<int64_t>(row_at(w[2 * i + 1]));
  lookup_quads_at(base, VL{_mm512_load_si512(at)}, c0, c2, c3);
}

// Rows of two doubles, one row per lane, the row's first element given by row_at(the lane's 64
// bits).
template <class RowAt>
inline void lookup_pairs_by(const double* base, VD x, RowAt row_at, VD& first, VD& second) {
  alignas(64) uint64_t w[8];
  alignas(64) int64_t at[8];
  _mm512_store_pd(reinterpret_cast<double*>(w), x.v);
  for (int i = 0; i < 8; ++i) at[i] = static_cast<int64_t>(row_at(w[i]));
  const __m512i a = _mm512_load_si512(at);
  first = {_mm512_i64gather_pd(a, base, 8)};
  second = {_mm512_i64gather_pd(_mm512_add_epi64(a, _mm512_set1_epi64(1)), base, 8)};
}

// Tables held in registers: base[row & (kRows - 1)] per lane for a column of kRows values (float 16
// to 128, double 8 to 64), by in-register permutes instead of memory reads. A permute covers 32
// floats or 16 doubles from two registers; larger tables are split in halves joined by a masked
// blend on the next bit of the row, so the cost doubles with each doubling past that. Bits of `row`
// above the table's own are ignored.
template <int kRows>
inline VF lookup_reg(const float* base, VI row) {
  static_assert(kRows == 16 || kRows == 32 || kRows == 64 || kRows == 128, "16 to 128 rows");
  if constexpr (kRows == 16) {
    return {_mm512_permutexvar_ps(row.v, _mm512_loadu_ps(base))};
  } else if constexpr (kRows == 32) {
    return {_mm512_permutex2var_ps(_mm512_loadu_ps(base), row.v, _mm512_loadu_ps(base + 16))};
  } else {
    const VF lo = lookup_reg<kRows / 2>(base, row), hi = lookup_reg<kRows / 2>(base + kRows / 2, row);
    return {_mm512_mask_blend_ps(_mm512_test_epi32_mask(row.v, _mm512_set1_epi32(kRows / 2)), lo.v, hi.v)};
  }
}
template <int kRows>
inline VD lookup_reg(const double* base, VL row) {
  static_assert(kRows == 8 || kRows == 16 || kRows == 32 || kRows == 64, "8 to 64 rows");
  if constexpr (kRows == 8) {
    return {_mm512_permutexvar_pd(row.v, _mm512_loadu_pd(base))};
  } else if constexpr (kRows == 16) {
    return {_mm512_permutex2var_pd(_mm512_loadu_pd(base), row.v, _mm512_loadu_pd(base + 8))};
  } else {
    const VD lo = lookup_reg<kRows / 2>(base, row), hi = lookup_reg<kRows / 2>(base + kRows / 2, row);
    return {_mm512_mask_blend_pd(_mm512_test_epi64_mask(row.v, _mm512_set1_epi64(kRows / 2)), lo.v, hi.v)};
  }
}

}  // namespace zok::ZOK_ISA_NS
// clang-format on
