// AVX2 + FMA back end of the vector layer: 8 floats or 4 doubles per vector.
#pragma once

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

inline VF fma(VF a, VF b, VF c) { return {_mm256_fmadd_ps(a.v, b.v, c.v)}; }
inline VD fma(VD a, VD b, VD c) { return {_mm256_fmadd_pd(a.v, b.v, c.v)}; }
inline VF fnma(VF a, VF b, VF c) { return {_mm256_fnmadd_ps(a.v, b.v, c.v)}; }
inline VD fnma(VD a, VD b, VD c) { return {_mm256_fnmadd_pd(a.v, b.v, c.v)}; }

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

inline float lane0(VF x) { return _mm256_cvtss_f32(x.v); }
inline double lane0(VD x) { return _mm256_cvtsd_f64(x.v); }

}  // namespace zok::ZOK_ISA_NS
