// SSE4.1 back end of the vector layer: 4 floats or 2 doubles per vector.
#pragma once

// One-line wrappers read best one per line, as a table: clang-format leaves this file alone.
// clang-format off
namespace zok::ZOK_ISA_NS {

struct VF {
  using T = float;
  static constexpr int kLanes = 4;
  __m128 v;
};
struct VD {
  using T = double;
  static constexpr int kLanes = 2;
  __m128d v;
};
// Masks are vectors with all bits set in the selected lanes.
struct MF {
  __m128 m;
};
struct MD {
  __m128d m;
};

template <typename V>
V splat(typename V::T x);
template <>
inline VF splat<VF>(float x) { return {_mm_set1_ps(x)}; }
template <>
inline VD splat<VD>(double x) { return {_mm_set1_pd(x)}; }

inline VF loadu(const float* p) { return {_mm_loadu_ps(p)}; }
inline VD loadu(const double* p) { return {_mm_loadu_pd(p)}; }
inline void storeu(float* p, VF x) { _mm_storeu_ps(p, x.v); }
inline void storeu(double* p, VD x) { _mm_storeu_pd(p, x.v); }
// Partial vectors, 0 < count < lanes: load_part reads p[0, count) and repeats p[0] in the other
// lanes; store_part writes lanes [0, count). Through a scratch vector (no masked moves here).
inline VF load_part(const float* p, int count) {
  alignas(16) float t[4];
  for (int j = 0; j < 4; ++j) t[j] = p[j < count ? j : 0];
  return {_mm_load_ps(t)};
}
inline VD load_part(const double* p, int) { return {_mm_set1_pd(*p)}; }
inline void store_part(float* p, int count, VF x) {
  alignas(16) float t[4];
  _mm_store_ps(t, x.v);
  for (int j = 0; j < count; ++j) p[j] = t[j];
}
inline void store_part(double* p, int, VD x) { _mm_store_sd(p, x.v); }

inline VF operator+(VF a, VF b) { return {_mm_add_ps(a.v, b.v)}; }
inline VF operator-(VF a, VF b) { return {_mm_sub_ps(a.v, b.v)}; }
inline VF operator*(VF a, VF b) { return {_mm_mul_ps(a.v, b.v)}; }
inline VF operator/(VF a, VF b) { return {_mm_div_ps(a.v, b.v)}; }
inline VF operator&(VF a, VF b) { return {_mm_and_ps(a.v, b.v)}; }
inline VF operator|(VF a, VF b) { return {_mm_or_ps(a.v, b.v)}; }
inline VF operator^(VF a, VF b) { return {_mm_xor_ps(a.v, b.v)}; }
inline VF andnot(VF a, VF b) { return {_mm_andnot_ps(a.v, b.v)}; }  // ~a & b
inline VD operator+(VD a, VD b) { return {_mm_add_pd(a.v, b.v)}; }
inline VD operator-(VD a, VD b) { return {_mm_sub_pd(a.v, b.v)}; }
inline VD operator*(VD a, VD b) { return {_mm_mul_pd(a.v, b.v)}; }
inline VD operator/(VD a, VD b) { return {_mm_div_pd(a.v, b.v)}; }
inline VD operator&(VD a, VD b) { return {_mm_and_pd(a.v, b.v)}; }
inline VD operator|(VD a, VD b) { return {_mm_or_pd(a.v, b.v)}; }
inline VD operator^(VD a, VD b) { return {_mm_xor_pd(a.v, b.v)}; }
inline VD andnot(VD a, VD b) { return {_mm_andnot_pd(a.v, b.v)}; }

// No fused multiply-add here: a*b + c (mul_add), c - a*b (nmul_add) and a*b - c (mul_sub) round
// twice, once after the product and once after the sum.
static constexpr bool kFusedMulAdd = false;
inline VF mul_add(VF a, VF b, VF c) { return a * b + c; }
inline VD mul_add(VD a, VD b, VD c) { return a * b + c; }
inline VF nmul_add(VF a, VF b, VF c) { return c - a * b; }
inline VD nmul_add(VD a, VD b, VD c) { return c - a * b; }
inline VF mul_sub(VF a, VF b, VF c) { return a * b - c; }
inline VD mul_sub(VD a, VD b, VD c) { return a * b - c; }

// Reciprocal estimates with a relative error below 1.5 * 2^-12.
inline VF rcp(VF a) { return {_mm_rcp_ps(a.v)}; }
// Doubles go through the float estimate, so |a| must lie within the float normal range.
inline VD rcp(VD a) { return {_mm_cvtps_pd(_mm_rcp_ps(_mm_cvtpd_ps(a.v)))}; }

template <int kMode>
inline VF round(VF a) {
  return {_mm_round_ps(a.v, kMode)};
}
template <int kMode>
inline VD round(VD a) {
  return {_mm_round_pd(a.v, kMode)};
}

inline MF operator==(VF a, VF b) { return {_mm_cmpeq_ps(a.v, b.v)}; }
inline MF operator<(VF a, VF b) { return {_mm_cmplt_ps(a.v, b.v)}; }
inline MF operator<=(VF a, VF b) { return {_mm_cmple_ps(a.v, b.v)}; }
inline MF operator>=(VF a, VF b) { return {_mm_cmpge_ps(a.v, b.v)}; }
inline MD operator==(VD a, VD b) { return {_mm_cmpeq_pd(a.v, b.v)}; }
inline MD operator<(VD a, VD b) { return {_mm_cmplt_pd(a.v, b.v)}; }
inline MD operator<=(VD a, VD b) { return {_mm_cmple_pd(a.v, b.v)}; }
inline MD operator>=(VD a, VD b) { return {_mm_cmpge_pd(a.v, b.v)}; }
inline MF operator&(MF a, MF b) { return {_mm_and_ps(a.m, b.m)}; }
inline MD operator&(MD a, MD b) { return {_mm_and_pd(a.m, b.m)}; }
// One bit per lane, lane 0 in bit 0.
inline unsigned bits(MF m) { return static_cast<unsigned>(_mm_movemask_ps(m.m)); }
inline unsigned bits(MD m) { return static_cast<unsigned>(_mm_movemask_pd(m.m)); }
// m ? b : a, per lane.
inline VF select(MF m, VF a, VF b) { return {_mm_blendv_ps(a.v, b.v, m.m)}; }
inline VD select(MD m, VD a, VD b) { return {_mm_blendv_pd(a.v, b.v, m.m)}; }
// x in the lanes of m and +0 elsewhere (keep), or +0 in the lanes of m and x elsewhere (drop): one
// logical operation, where a select costs a blend (and the compiler's sign test of the mask).
inline VF keep(MF m, VF x) { return {_mm_and_ps(m.m, x.v)}; }
inline VD keep(MD m, VD x) { return {_mm_and_pd(m.m, x.v)}; }
inline VF drop(MF m, VF x) { return {_mm_andnot_ps(m.m, x.v)}; }
inline VD drop(MD m, VD x) { return {_mm_andnot_pd(m.m, x.v)}; }
// a + b in the lanes of m and a elsewhere (plus_where), or a - b (minus_where): b masked and added,
// two operations where a select would take a blend more.
inline VF plus_where(MF m, VF a, VF b) { return a + keep(m, b); }
inline VD plus_where(MD m, VD a, VD b) { return a + keep(m, b); }
inline VF minus_where(MF m, VF a, VF b) { return a - keep(m, b); }
inline VD minus_where(MD m, VD a, VD b) { return a - keep(m, b); }

inline float lane0(VF x) { return _mm_cvtss_f32(x.v); }
inline double lane0(VD x) { return _mm_cvtsd_f64(x.v); }

// ---- integer lanes, bit views, conversions, comparisons, lookups ----

// 32-bit integer lanes beside VF, 64-bit integer lanes beside VD.
struct VI {
  using T = int32_t;
  static constexpr int kLanes = 4;
  __m128i v;
};
struct VL {
  using T = int64_t;
  static constexpr int kLanes = 2;
  __m128i v;
};
template <>
inline VI splat<VI>(int32_t x) { return {_mm_set1_epi32(x)}; }
template <>
inline VL splat<VL>(int64_t x) { return {_mm_set1_epi64x(x)}; }
inline VI operator+(VI a, VI b) { return {_mm_add_epi32(a.v, b.v)}; }
inline VI operator-(VI a, VI b) { return {_mm_sub_epi32(a.v, b.v)}; }
inline VI operator*(VI a, VI b) { return {_mm_mullo_epi32(a.v, b.v)}; }
inline VI operator&(VI a, VI b) { return {_mm_and_si128(a.v, b.v)}; }
inline VI operator|(VI a, VI b) { return {_mm_or_si128(a.v, b.v)}; }
inline VI operator^(VI a, VI b) { return {_mm_xor_si128(a.v, b.v)}; }
inline VL operator+(VL a, VL b) { return {_mm_add_epi64(a.v, b.v)}; }
inline VL operator-(VL a, VL b) { return {_mm_sub_epi64(a.v, b.v)}; }
inline VL operator&(VL a, VL b) { return {_mm_and_si128(a.v, b.v)}; }
inline VL operator|(VL a, VL b) { return {_mm_or_si128(a.v, b.v)}; }
inline VL operator^(VL a, VL b) { return {_mm_xor_si128(a.v, b.v)}; }
template <int kBits>
inline VI shl(VI a) { return {_mm_slli_epi32(a.v, kBits)}; }
template <int kBits>
inline VI shr(VI a) { return {_mm_srli_epi32(a.v, kBits)}; }  // logical
template <int kBits>
inline VI sar(VI a) { return {_mm_srai_epi32(a.v, kBits)}; }  // arithmetic
template <int kBits>
inline VL shl(VL a) { return {_mm_slli_epi64(a.v, kBits)}; }
template <int kBits>
inline VL shr(VL a) { return {_mm_srli_epi64(a.v, kBits)}; }

// Bit views between float and integer lanes of the same width.
inline VI as_int(VF a) { return {_mm_castps_si128(a.v)}; }
inline VF as_float(VI a) { return {_mm_castsi128_ps(a.v)}; }
inline VL as_int(VD a) { return {_mm_castpd_si128(a.v)}; }
inline VD as_double(VL a) { return {_mm_castsi128_pd(a.v)}; }
// Float to integer with the current rounding (nearest by default), and truncating; int to float.
inline VI to_int(VF a) { return {_mm_cvtps_epi32(a.v)}; }
inline VI to_int_trunc(VF a) { return {_mm_cvttps_epi32(a.v)}; }
inline VF to_float(VI a) { return {_mm_cvtepi32_ps(a.v)}; }

inline MF operator>(VF a, VF b) { return {_mm_cmpgt_ps(a.v, b.v)}; }
inline MF operator!=(VF a, VF b) { return {_mm_cmpneq_ps(a.v, b.v)}; }
inline MD operator>(VD a, VD b) { return {_mm_cmpgt_pd(a.v, b.v)}; }
inline MD operator!=(VD a, VD b) { return {_mm_cmpneq_pd(a.v, b.v)}; }
inline MF operator|(MF a, MF b) { return {_mm_or_ps(a.m, b.m)}; }
inline MD operator|(MD a, MD b) { return {_mm_or_pd(a.m, b.m)}; }
// Integer comparisons, as masks of the matching floating lanes.
inline MF operator==(VI a, VI b) { return {_mm_castsi128_ps(_mm_cmpeq_epi32(a.v, b.v))}; }
inline MF operator>(VI a, VI b) { return {_mm_castsi128_ps(_mm_cmpgt_epi32(a.v, b.v))}; }
inline MD operator==(VL a, VL b) { return {_mm_castsi128_pd(_mm_cmpeq_epi64(a.v, b.v))}; }
inline VI select(MF m, VI a, VI b) {
  return {_mm_castps_si128(_mm_blendv_ps(_mm_castsi128_ps(a.v), _mm_castsi128_ps(b.v), m.m))};
}
inline VL select(MD m, VL a, VL b) {
  return {_mm_castpd_si128(_mm_blendv_pd(_mm_castsi128_pd(a.v), _mm_castsi128_pd(b.v), m.m))};
}

inline VF sqrt(VF a) { return {_mm_sqrt_ps(a.v)}; }
inline VD sqrt(VD a) { return {_mm_sqrt_pd(a.v)}; }
inline VF rsqrt(VF a) { return {_mm_rsqrt_ps(a.v)}; }  // estimate, relative error below 1.5 * 2^-12
inline VF min(VF a, VF b) { return {_mm_min_ps(a.v, b.v)}; }
inline VF max(VF a, VF b) { return {_mm_max_ps(a.v, b.v)}; }
inline VD min(VD a, VD b) { return {_mm_min_pd(a.v, b.v)}; }
inline VD max(VD a, VD b) { return {_mm_max_pd(a.v, b.v)}; }

// Table lookups: base[idx[lane]].
inline VF gather(const float* base, VI idx) {
  alignas(16) int32_t i[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(i), idx.v);
  return {_mm_setr_ps(base[i[0]], base[i[1]], base[i[2]], base[i[3]])};
}
inline VD gather(const double* base, VL idx) {
  alignas(16) int64_t i[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(i), idx.v);
  return {_mm_setr_pd(base[i[0]], base[i[1]])};
}
inline VI loadu(const int32_t* p) { return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))}; }
inline void storeu(int32_t* p, VI x) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x.v); }

// ---- added for power kernels ----
// Float lanes widened to double (low half, high half) and two double vectors narrowed back, so
// float kernels can compute in double precision.
inline VD widen_lo(VF a) { return {_mm_cvtps_pd(a.v)}; }
inline VD widen_hi(VF a) { return {_mm_cvtps_pd(_mm_movehl_ps(a.v, a.v))}; }
inline VF narrow(VD lo, VD hi) { return {_mm_movelh_ps(_mm_cvtpd_ps(lo.v), _mm_cvtpd_ps(hi.v))}; }

// ---- added for exp/log kernels ----
// Integer table lookups: base[idx[lane]].
inline VI gather(const int32_t* base, VI idx) {
  alignas(16) int32_t i[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(i), idx.v);
  return {_mm_setr_epi32(base[i[0]], base[i[1]], base[i[2]], base[i[3]])};
}

// Rows of small tables, one row per lane, read with plain loads: `row` is the row number, rows
// hold two 4-byte values (lookup_pairs of float or int bits) or two or four doubles.
inline void lookup_pairs(const void* base, VI row, VF& first, VF& second) {
  // The row numbers leave the vector two at a time as 64-bit extracts (no store and reload).
  const double* p = static_cast<const double*>(base);
  auto two = [&](uint64_t q) {
    return _mm_loadh_pi(_mm_castpd_ps(_mm_load_sd(p + static_cast<uint32_t>(q))),
                        reinterpret_cast<const __m64*>(p + (q >> 32)));
  };
  const __m128 v01 = two(_mm_cvtsi128_si64(row.v)), v23 = two(_mm_extract_epi64(row.v, 1));
  first = {_mm_shuffle_ps(v01, v23, _MM_SHUFFLE(2, 0, 2, 0))};
  second = {_mm_shuffle_ps(v01, v23, _MM_SHUFFLE(3, 1, 3, 1))};
}
inline void lookup_pairs(const double* base, VL row, VD& first, VD& second) {
  alignas(16) int64_t i[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(i), row.v);
  const __m128d r0 = _mm_loadu_pd(base + 2 * i[0]), r1 = _mm_loadu_pd(base + 2 * i[1]);
  first = {_mm_unpacklo_pd(r0, r1)};
  second = {_mm_unpackhi_pd(r0, r1)};
}
// One double per row.
inline VD lookup_one(const double* base, VL row) {
  alignas(16) int64_t i[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(i), row.v);
  return {_mm_setr_pd(base[i[0]], base[i[1]])};
}
// Columns 0, 2 and 3 of rows of four doubles.
inline void lookup_quads(const double* base, VL row, VD& c0, VD& c2, VD& c3) {
  alignas(16) int64_t i[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(i), row.v);
  const double* p0 = base + 4 * i[0];
  const double* p1 = base + 4 * i[1];
  const __m128d a0 = _mm_loadu_pd(p0), a1 = _mm_loadu_pd(p1);
  const __m128d b0 = _mm_loadu_pd(p0 + 2), b1 = _mm_loadu_pd(p1 + 2);
  c0 = {_mm_unpacklo_pd(a0, a1)};
  c2 = {_mm_unpacklo_pd(b0, b1)};
  c3 = {_mm_unpackhi_pd(b0, b1)};
}

// Columns 0, 2 and 3 of rows of four doubles whose columns 0 and 1 hold the same value (one blend
// then serves for column 0), each row's first element given by row_at(high 32 bits of x's lane),
// computed on the scalar side.
template <class RowAt>
inline void lookup_quads_by(const double* base, VD x, RowAt row_at, VD& c0, VD& c2, VD& c3) {
  alignas(16) uint32_t w[4];
  _mm_store_pd(reinterpret_cast<double*>(w), x.v);
  __asm__("" : "+m"(w));  // the words are read back as scalars, not extracted lane by lane
  const double* p0 = base + row_at(w[1]);
  const double* p1 = base + row_at(w[3]);
  const __m128d b0 = _mm_loadu_pd(p0 + 2), b1 = _mm_loadu_pd(p1 + 2);
  c0 = {_mm_blend_pd(_mm_loadu_pd(p0), _mm_loadu_pd(p1), 2)};
  c2 = {_mm_unpacklo_pd(b0, b1)};
  c3 = {_mm_unpackhi_pd(b0, b1)};
}

// Rows of two doubles, one row per lane, the row's first element given by row_at(the lane's 64
// bits), computed on the scalar side.
template <class RowAt>
inline void lookup_pairs_by(const double* base, VD x, RowAt row_at, VD& first, VD& second) {
  alignas(16) uint64_t w[2];
  _mm_store_pd(reinterpret_cast<double*>(w), x.v);
  __asm__("" : "+m"(w));  // the lanes are read back as scalars, not extracted one by one
  const __m128d r0 = _mm_loadu_pd(base + row_at(w[0])), r1 = _mm_loadu_pd(base + row_at(w[1]));
  first = {_mm_unpacklo_pd(r0, r1)};
  second = {_mm_unpackhi_pd(r0, r1)};
}

}  // namespace zok::ZOK_ISA_NS
// clang-format on
