// SSE4.1 back end of the vector layer: 4 floats or 2 doubles per vector.
#pragma once

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

// a*b + c: without a fused instruction here, two roundings.
inline VF fma(VF a, VF b, VF c) { return a * b + c; }
inline VD fma(VD a, VD b, VD c) { return a * b + c; }
// c - a*b
inline VF fnma(VF a, VF b, VF c) { return c - a * b; }
inline VD fnma(VD a, VD b, VD c) { return c - a * b; }

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

inline float lane0(VF x) { return _mm_cvtss_f32(x.v); }
inline double lane0(VD x) { return _mm_cvtsd_f64(x.v); }

}  // namespace zok::ZOK_ISA_NS
