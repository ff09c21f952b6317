// Baselines for the vector-math benchmarks, compiled once per instruction set at -O3 (inside that
// set's namespace): plain loops of the same operation, glibc scalar loops, and SLEEF at the same
// vector width.
#include "bench/vm_baseline.h"

#include <immintrin.h>
#include <sleef.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "frame/functions.h"

#if ZOK_ISA_LEVEL == 1
#define ZOK_SLEEF_F(name) Sleef_##name##f4_sse4
#define ZOK_SLEEF_D(name) Sleef_##name##d2_sse4
#define ZOK_WF 4
#define ZOK_WD 2
#define ZOK_LOADF _mm_loadu_ps
#define ZOK_LOADD _mm_loadu_pd
#define ZOK_STOREF _mm_storeu_ps
#define ZOK_STORED _mm_storeu_pd
#elif ZOK_ISA_LEVEL == 2
#define ZOK_SLEEF_F(name) Sleef_##name##f8_avx2
#define ZOK_SLEEF_D(name) Sleef_##name##d4_avx2
#define ZOK_WF 8
#define ZOK_WD 4
#define ZOK_LOADF _mm256_loadu_ps
#define ZOK_LOADD _mm256_loadu_pd
#define ZOK_STOREF _mm256_storeu_ps
#define ZOK_STORED _mm256_storeu_pd
#else
#define ZOK_SLEEF_F(name) Sleef_##name##f16_avx512f
#define ZOK_SLEEF_D(name) Sleef_##name##d8_avx512f
#define ZOK_WF 16
#define ZOK_WD 8
#define ZOK_LOADF _mm512_loadu_ps
#define ZOK_LOADD _mm512_loadu_pd
#define ZOK_STOREF _mm512_storeu_ps
#define ZOK_STORED _mm512_storeu_pd
#endif

namespace zok::bench::ZOK_ISA_NS {

namespace {

template <typename T, typename F>
void plain_loop(int n, const T* a, const T* b, T* r, F f) {
  for (int i = 0; i < n; ++i) r[i] = f(a[i], b[i]);
}
#define ZOK_LOOP(name, expr)                                                 \
  void loop_##name##_f(int n, const float* a, const float* b, float* r) {    \
    using T = float;                                                         \
    plain_loop(n, a, b, r, [](T x, T y) { return (void)y, (expr); });        \
  }                                                                          \
  void loop_##name##_d(int n, const double* a, const double* b, double* r) { \
    using T = double;                                                        \
    plain_loop(n, a, b, r, [](T x, T y) { return (void)y, (expr); });        \
  }
ZOK_LOOP(add, x + y)
ZOK_LOOP(sub, x - y)
ZOK_LOOP(mul, x* y)
ZOK_LOOP(div, x / y)
ZOK_LOOP(sqr, x* x)
ZOK_LOOP(inv, T(1) / x)
ZOK_LOOP(abs, std::fabs(x))
#undef ZOK_LOOP

// glibc called per element; the volatile pointer keeps the compiler from inlining a round
// instruction in its place.
template <typename T>
void libm_loop(T (*f)(T), int n, const T* a, T* r) {
  T (*volatile hidden)(T) = f;
  T (*g)(T) = hidden;
  for (int i = 0; i < n; ++i) r[i] = g(a[i]);
}

#define ZOK_LIBM_SLEEF(name)                                                                     \
  void libm_##name##_f(int n, const float* a, const float*, float* r) {                          \
    libm_loop<float>(::name##f, n, a, r);                                                        \
  }                                                                                              \
  void libm_##name##_d(int n, const double* a, const double*, double* r) {                       \
    libm_loop<double>(::name, n, a, r);                                                          \
  }                                                                                              \
  void sleef_##name##_f(int n, const float* a, const float*, float* r) {                         \
    int i = 0;                                                                                   \
    for (; i + ZOK_WF <= n; i += ZOK_WF) ZOK_STOREF(r + i, ZOK_SLEEF_F(name)(ZOK_LOADF(a + i))); \
    for (; i < n; ++i) r[i] = ::name##f(a[i]);                                                   \
  }                                                                                              \
  void sleef_##name##_d(int n, const double* a, const double*, double* r) {                      \
    int i = 0;                                                                                   \
    for (; i + ZOK_WD <= n; i += ZOK_WD) ZOK_STORED(r + i, ZOK_SLEEF_D(name)(ZOK_LOADD(a + i))); \
    for (; i < n; ++i) r[i] = ::name(a[i]);                                                      \
  }
ZOK_LIBM_SLEEF(floor)
ZOK_LIBM_SLEEF(ceil)
ZOK_LIBM_SLEEF(trunc)
ZOK_LIBM_SLEEF(round)
ZOK_LIBM_SLEEF(rint)
#undef ZOK_LIBM_SLEEF

// ---- exponential and logarithm baselines: glibc loops, SLEEF (1.0- and 3.5-ulp functions) and
// glibc's vector entry points (libmvec, 4-ulp class), called directly at the same width ----
#if ZOK_ISA_LEVEL == 1
#define ZOK_SLEEF_FU(name, u) Sleef_##name##f4_##u##sse4
#define ZOK_SLEEF_DU(name, u) Sleef_##name##d2_##u##sse4
#define ZOK_MVEC_F(name) _ZGVbN4v_##name##f
#define ZOK_MVEC_D(name) _ZGVbN2v_##name
#define ZOK_VF __m128
#define ZOK_VD __m128d
#elif ZOK_ISA_LEVEL == 2
#define ZOK_SLEEF_FU(name, u) Sleef_##name##f8_##u##avx2
#define ZOK_SLEEF_DU(name, u) Sleef_##name##d4_##u##avx2
#define ZOK_MVEC_F(name) _ZGVdN8v_##name##f
#define ZOK_MVEC_D(name) _ZGVdN4v_##name
#define ZOK_VF __m256
#define ZOK_VD __m256d
#else
#define ZOK_SLEEF_FU(name, u) Sleef_##name##f16_##u##avx512f
#define ZOK_SLEEF_DU(name, u) Sleef_##name##d8_##u##avx512f
#define ZOK_MVEC_F(name) _ZGVeN16v_##name##f
#define ZOK_MVEC_D(name) _ZGVeN8v_##name
#define ZOK_VF __m512
#define ZOK_VD __m512d
#endif

}  // namespace
}  // namespace zok::bench::ZOK_ISA_NS

#define ZOK_MVEC_DECLARE(name)                \
  extern "C" ZOK_VF ZOK_MVEC_F(name)(ZOK_VF); \
  extern "C" ZOK_VD ZOK_MVEC_D(name)(ZOK_VD);
ZOK_MVEC_DECLARE(exp)
ZOK_MVEC_DECLARE(expm1)
ZOK_MVEC_DECLARE(log)
ZOK_MVEC_DECLARE(log10)
ZOK_MVEC_DECLARE(log1p)
ZOK_MVEC_DECLARE(sin)
ZOK_MVEC_DECLARE(cos)
ZOK_MVEC_DECLARE(tan)
ZOK_MVEC_DECLARE(asin)
ZOK_MVEC_DECLARE(acos)
ZOK_MVEC_DECLARE(atan)
ZOK_MVEC_DECLARE(erf)
ZOK_MVEC_DECLARE(erfc)
ZOK_MVEC_DECLARE(sinh)
ZOK_MVEC_DECLARE(cosh)
ZOK_MVEC_DECLARE(tanh)
ZOK_MVEC_DECLARE(asinh)
ZOK_MVEC_DECLARE(acosh)
ZOK_MVEC_DECLARE(atanh)
#undef ZOK_MVEC_DECLARE

namespace zok::bench::ZOK_ISA_NS {
namespace {

// Whole vectors through f, the tail through the glibc scalar function.
template <typename T, typename VT, typename F, typename G>
void vector_loop(F f, G tail, int n, const T* a, T* r) {
  constexpr int W = sizeof(VT) / sizeof(T);
  int i = 0;
  for (; i + W <= n; i += W) {
    VT x;
    std::memcpy(&x, a + i, sizeof x);
    const VT y = f(x);
    std::memcpy(r + i, &y, sizeof y);
  }
  for (; i < n; ++i) r[i] = tail(a[i]);
}

#define ZOK_SLEEF10_BASE(name)                                                                              \
  void libm_##name##_f(int n, const float* a, const float*, float* r) {                                     \
    libm_loop<float>(::name##f, n, a, r);                                                                   \
  }                                                                                                         \
  void libm_##name##_d(int n, const double* a, const double*, double* r) {                                  \
    libm_loop<double>(::name, n, a, r);                                                                     \
  }                                                                                                         \
  void sleef10_##name##_f(int n, const float* a, const float*, float* r) {                                  \
    vector_loop<float, ZOK_VF>(ZOK_SLEEF_FU(name, u10), ::name##f, n, a, r);                                \
  }                                                                                                         \
  void sleef10_##name##_d(int n, const double* a, const double*, double* r) {                               \
    vector_loop<double, ZOK_VD>(ZOK_SLEEF_DU(name, u10), static_cast<double (*)(double)>(::name), n, a, r); \
  }
#define ZOK_EXPLOG_BASE(name)                                                                        \
  ZOK_SLEEF10_BASE(name)                                                                             \
  void mvec_##name##_f(int n, const float* a, const float*, float* r) {                              \
    vector_loop<float, ZOK_VF>(ZOK_MVEC_F(name), ::name##f, n, a, r);                                \
  }                                                                                                  \
  void mvec_##name##_d(int n, const double* a, const double*, double* r) {                           \
    vector_loop<double, ZOK_VD>(ZOK_MVEC_D(name), static_cast<double (*)(double)>(::name), n, a, r); \
  }
ZOK_EXPLOG_BASE(exp)
ZOK_EXPLOG_BASE(expm1)
ZOK_EXPLOG_BASE(log)
ZOK_EXPLOG_BASE(log10)
ZOK_EXPLOG_BASE(log1p)
ZOK_EXPLOG_BASE(sin)
ZOK_EXPLOG_BASE(cos)
ZOK_EXPLOG_BASE(tan)
ZOK_EXPLOG_BASE(asin)
ZOK_EXPLOG_BASE(acos)
ZOK_EXPLOG_BASE(atan)
#define ZOK_SLEEF35_BASE(name)                                                                              \
  void sleef35_##name##_f(int n, const float* a, const float*, float* r) {                                  \
    vector_loop<float, ZOK_VF>(ZOK_SLEEF_FU(name, u35), ::name##f, n, a, r);                                \
  }                                                                                                         \
  void sleef35_##name##_d(int n, const double* a, const double*, double* r) {                               \
    vector_loop<double, ZOK_VD>(ZOK_SLEEF_DU(name, u35), static_cast<double (*)(double)>(::name), n, a, r); \
  }
ZOK_SLEEF35_BASE(sin)
ZOK_SLEEF35_BASE(cos)
ZOK_SLEEF35_BASE(tan)
ZOK_SLEEF35_BASE(asin)
ZOK_SLEEF35_BASE(acos)
ZOK_SLEEF35_BASE(atan)
// ---- hyperbolic baselines: glibc loops, SLEEF (1.0-ulp; 3.5-ulp for sinh, cosh and tanh) and libmvec ----
ZOK_EXPLOG_BASE(sinh)
ZOK_EXPLOG_BASE(cosh)
ZOK_EXPLOG_BASE(tanh)
ZOK_EXPLOG_BASE(asinh)
ZOK_EXPLOG_BASE(acosh)
ZOK_EXPLOG_BASE(atanh)
ZOK_SLEEF35_BASE(sinh)
ZOK_SLEEF35_BASE(cosh)
ZOK_SLEEF35_BASE(tanh)
#undef ZOK_SLEEF35_BASE
void sleef35_log_f(int n, const float* a, const float*, float* r) {
  vector_loop<float, ZOK_VF>(ZOK_SLEEF_FU(log, u35), ::logf, n, a, r);
}
void sleef35_log_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>(ZOK_SLEEF_DU(log, u35), static_cast<double (*)(double)>(::log), n, a, r);
}

// ---- power and root baselines: plain vector root loops, SLEEF (1.0-ulp pow and cbrt, 0.5- and
// 3.5-ulp hypot) and glibc's vector entry points (libmvec), at the same width ----
#if ZOK_ISA_LEVEL == 1
#define ZOK_SQRT_F _mm_sqrt_ps
#define ZOK_SQRT_D _mm_sqrt_pd
#define ZOK_MVEC2_F(name) _ZGVbN4vv_##name##f
#define ZOK_MVEC2_D(name) _ZGVbN2vv_##name
#elif ZOK_ISA_LEVEL == 2
#define ZOK_SQRT_F _mm256_sqrt_ps
#define ZOK_SQRT_D _mm256_sqrt_pd
#define ZOK_MVEC2_F(name) _ZGVdN8vv_##name##f
#define ZOK_MVEC2_D(name) _ZGVdN4vv_##name
#else
#define ZOK_SQRT_F _mm512_sqrt_ps
#define ZOK_SQRT_D _mm512_sqrt_pd
#define ZOK_MVEC2_F(name) _ZGVeN16vv_##name##f
#define ZOK_MVEC2_D(name) _ZGVeN8vv_##name
#endif

}  // namespace
}  // namespace zok::bench::ZOK_ISA_NS

#if ZOK_ISA_LEVEL == 1
#define ZOK_PV __m128i
#define ZOK_MVEC_SINCOS_F _ZGVbN4vvv_sincosf
#define ZOK_MVEC_SINCOS_D _ZGVbN2vvv_sincos
#elif ZOK_ISA_LEVEL == 2
#define ZOK_PV __m256i
#define ZOK_MVEC_SINCOS_F _ZGVdN8vvv_sincosf
#define ZOK_MVEC_SINCOS_D _ZGVdN4vvv_sincos
#else
#define ZOK_PV __m512i
#define ZOK_MVEC_SINCOS_F _ZGVeN16vvv_sincosf
#define ZOK_MVEC_SINCOS_D _ZGVeN8vvv_sincos
#endif
extern "C" void ZOK_MVEC_SINCOS_F(ZOK_VF, ZOK_PV, ZOK_PV, ZOK_PV, ZOK_PV);
extern "C" void ZOK_MVEC_SINCOS_D(ZOK_VD, ZOK_PV, ZOK_PV);
extern "C" ZOK_VF ZOK_MVEC_F(cbrt)(ZOK_VF);
extern "C" ZOK_VD ZOK_MVEC_D(cbrt)(ZOK_VD);
extern "C" ZOK_VF ZOK_MVEC2_F(pow)(ZOK_VF, ZOK_VF);
extern "C" ZOK_VD ZOK_MVEC2_D(pow)(ZOK_VD, ZOK_VD);
extern "C" ZOK_VF ZOK_MVEC2_F(hypot)(ZOK_VF, ZOK_VF);
extern "C" ZOK_VD ZOK_MVEC2_D(hypot)(ZOK_VD, ZOK_VD);
extern "C" ZOK_VF ZOK_MVEC2_F(atan2)(ZOK_VF, ZOK_VF);
extern "C" ZOK_VD ZOK_MVEC2_D(atan2)(ZOK_VD, ZOK_VD);

namespace zok::bench::ZOK_ISA_NS {
namespace {

// Two-argument functions: whole vectors through f, the tail through the glibc scalar function.
template <typename T, typename VT, typename F, typename G>
void vector_loop2(F f, G tail, int n, const T* a, const T* b, T* r) {
  constexpr int W = sizeof(VT) / sizeof(T);
  int i = 0;
  for (; i + W <= n; i += W) {
    VT x, y;
    std::memcpy(&x, a + i, sizeof x);
    std::memcpy(&y, b + i, sizeof y);
    const VT z = f(x, y);
    std::memcpy(r + i, &z, sizeof z);
  }
  for (; i < n; ++i) r[i] = tail(a[i], b[i]);
}

// Plain vector root loops: what the Sqrt kernels are measured against.
void loop_sqrt_f(int n, const float* a, const float*, float* r) {
  vector_loop<float, ZOK_VF>([](ZOK_VF x) { return ZOK_SQRT_F(x); }, static_cast<float (*)(float)>(::sqrtf),
                             n, a, r);
}
void loop_sqrt_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>([](ZOK_VD x) { return ZOK_SQRT_D(x); }, static_cast<double (*)(double)>(::sqrt),
                              n, a, r);
}
void loop_inv_sqrt_f(int n, const float* a, const float*, float* r) {
  vector_loop<float, ZOK_VF>([](ZOK_VF x) { return 1.0f / ZOK_SQRT_F(x); },
                             [](float x) { return 1.0f / std::sqrt(x); }, n, a, r);
}
void loop_inv_sqrt_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>([](ZOK_VD x) { return 1.0 / ZOK_SQRT_D(x); },
                              [](double x) { return 1.0 / std::sqrt(x); }, n, a, r);
}
// Plain vector rounding loops with the direction in the instruction (the compiler does not
// vectorise std::floor and its kin): what the rounding kernels are measured against.
#if ZOK_ISA_LEVEL == 1
#define ZOK_ROUND_F(x, m) _mm_round_ps(x, m)
#define ZOK_ROUND_D(x, m) _mm_round_pd(x, m)
#elif ZOK_ISA_LEVEL == 2
#define ZOK_ROUND_F(x, m) _mm256_round_ps(x, m)
#define ZOK_ROUND_D(x, m) _mm256_round_pd(x, m)
#else
#define ZOK_ROUND_F(x, m) _mm512_roundscale_ps(x, m)
#define ZOK_ROUND_D(x, m) _mm512_roundscale_pd(x, m)
#endif
#define ZOK_ROUND_LOOP(name, mode)                                               \
  void loop_##name##_f(int n, const float* a, const float*, float* r) {          \
    vector_loop<float, ZOK_VF>([](ZOK_VF x) { return ZOK_ROUND_F(x, mode); },    \
                               [](float x) { return std::name(x); }, n, a, r);   \
  }                                                                              \
  void loop_##name##_d(int n, const double* a, const double*, double* r) {       \
    vector_loop<double, ZOK_VD>([](ZOK_VD x) { return ZOK_ROUND_D(x, mode); },   \
                                [](double x) { return std::name(x); }, n, a, r); \
  }
ZOK_ROUND_LOOP(floor, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)
ZOK_ROUND_LOOP(ceil, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC)
ZOK_ROUND_LOOP(trunc, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)
ZOK_ROUND_LOOP(rint, _MM_FROUND_CUR_DIRECTION)
#undef ZOK_ROUND_LOOP

#define ZOK_ROOT_BASE(name)                                                                                 \
  void sleef10_##name##_f(int n, const float* a, const float*, float* r) {                                  \
    vector_loop<float, ZOK_VF>(ZOK_SLEEF_FU(name, u10), static_cast<float (*)(float)>(::name##f), n, a, r); \
  }                                                                                                         \
  void sleef10_##name##_d(int n, const double* a, const double*, double* r) {                               \
    vector_loop<double, ZOK_VD>(ZOK_SLEEF_DU(name, u10), static_cast<double (*)(double)>(::name), n, a, r); \
  }                                                                                                         \
  void mvec_##name##_f(int n, const float* a, const float*, float* r) {                                     \
    vector_loop<float, ZOK_VF>(ZOK_MVEC_F(name), static_cast<float (*)(float)>(::name##f), n, a, r);        \
  }                                                                                                         \
  void mvec_##name##_d(int n, const double* a, const double*, double* r) {                                  \
    vector_loop<double, ZOK_VD>(ZOK_MVEC_D(name), static_cast<double (*)(double)>(::name), n, a, r);        \
  }
ZOK_ROOT_BASE(cbrt)
#undef ZOK_ROOT_BASE

#define ZOK_BINARY_BASE(kind, name, sf, sd)                                                        \
  void kind##_##name##_f(int n, const float* a, const float* b, float* r) {                        \
    vector_loop2<float, ZOK_VF>(sf, static_cast<float (*)(float, float)>(::name##f), n, a, b, r);  \
  }                                                                                                \
  void kind##_##name##_d(int n, const double* a, const double* b, double* r) {                     \
    vector_loop2<double, ZOK_VD>(sd, static_cast<double (*)(double, double)>(::name), n, a, b, r); \
  }
ZOK_BINARY_BASE(sleef10, pow, ZOK_SLEEF_FU(pow, u10), ZOK_SLEEF_DU(pow, u10))
ZOK_BINARY_BASE(mvec, pow, ZOK_MVEC2_F(pow), ZOK_MVEC2_D(pow))
ZOK_BINARY_BASE(sleef05, hypot, ZOK_SLEEF_FU(hypot, u05), ZOK_SLEEF_DU(hypot, u05))
ZOK_BINARY_BASE(sleef35, hypot, ZOK_SLEEF_FU(hypot, u35), ZOK_SLEEF_DU(hypot, u35))
ZOK_BINARY_BASE(mvec, hypot, ZOK_MVEC2_F(hypot), ZOK_MVEC2_D(hypot))
ZOK_BINARY_BASE(sleef10, atan2, ZOK_SLEEF_FU(atan2, u10), ZOK_SLEEF_DU(atan2, u10))
ZOK_BINARY_BASE(sleef35, atan2, ZOK_SLEEF_FU(atan2, u35), ZOK_SLEEF_DU(atan2, u35))
ZOK_BINARY_BASE(mvec, atan2, ZOK_MVEC2_F(atan2), ZOK_MVEC2_D(atan2))
#undef ZOK_BINARY_BASE

// Pow2o3, Pow3o2, InvCbrt and Powx through the same SLEEF and glibc functions: cbrt of the square
// (the sign drops as it does in Pow2o3), x sqrt(x) and pow(x, 1.5), 1 / cbrt, and pow with the one
// exponent the Powx benchmark passes (2.5).
#if ZOK_ISA_LEVEL == 1
#define ZOK_SET1_F _mm_set1_ps
#define ZOK_SET1_D _mm_set1_pd
#elif ZOK_ISA_LEVEL == 2
#define ZOK_SET1_F _mm256_set1_ps
#define ZOK_SET1_D _mm256_set1_pd
#else
#define ZOK_SET1_F _mm512_set1_ps
#define ZOK_SET1_D _mm512_set1_pd
#endif
constexpr double kPowxExponent = 2.5;

void sleef10_pow2o3_f(int n, const float* a, const float*, float* r) {
  vector_loop<float, ZOK_VF>([](ZOK_VF x) { return ZOK_SLEEF_FU(cbrt, u10)(x * x); },
                             [](float x) { return std::cbrt(x * x); }, n, a, r);
}
void sleef10_pow2o3_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>([](ZOK_VD x) { return ZOK_SLEEF_DU(cbrt, u10)(x * x); },
                              [](double x) { return std::cbrt(x * x); }, n, a, r);
}
void loop_pow3o2_f(int n, const float* a, const float*, float* r) {
  vector_loop<float, ZOK_VF>([](ZOK_VF x) { return x * ZOK_SQRT_F(x); },
                             [](float x) { return x * std::sqrt(x); }, n, a, r);
}
void loop_pow3o2_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>([](ZOK_VD x) { return x * ZOK_SQRT_D(x); },
                              [](double x) { return x * std::sqrt(x); }, n, a, r);
}
void sleef10_pow3o2_f(int n, const float* a, const float*, float* r) {
  vector_loop<float, ZOK_VF>([](ZOK_VF x) { return ZOK_SLEEF_FU(pow, u10)(x, ZOK_SET1_F(1.5f)); },
                             [](float x) { return std::pow(x, 1.5f); }, n, a, r);
}
void sleef10_pow3o2_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>([](ZOK_VD x) { return ZOK_SLEEF_DU(pow, u10)(x, ZOK_SET1_D(1.5)); },
                              [](double x) { return std::pow(x, 1.5); }, n, a, r);
}
void sleef10_inv_cbrt_f(int n, const float* a, const float*, float* r) {
  vector_loop<float, ZOK_VF>([](ZOK_VF x) { return ZOK_SET1_F(1.0f) / ZOK_SLEEF_FU(cbrt, u10)(x); },
                             [](float x) { return 1.0f / std::cbrt(x); }, n, a, r);
}
void sleef10_inv_cbrt_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>([](ZOK_VD x) { return ZOK_SET1_D(1.0) / ZOK_SLEEF_DU(cbrt, u10)(x); },
                              [](double x) { return 1.0 / std::cbrt(x); }, n, a, r);
}
void sleef10_powx_f(int n, const float* a, const float*, float* r) {
  constexpr float e = static_cast<float>(kPowxExponent);
  vector_loop<float, ZOK_VF>([](ZOK_VF x) { return ZOK_SLEEF_FU(pow, u10)(x, ZOK_SET1_F(e)); },
                             [](float x) { return std::pow(x, e); }, n, a, r);
}
void sleef10_powx_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>([](ZOK_VD x) { return ZOK_SLEEF_DU(pow, u10)(x, ZOK_SET1_D(kPowxExponent)); },
                              [](double x) { return std::pow(x, kPowxExponent); }, n, a, r);
}
void mvec_powx_f(int n, const float* a, const float*, float* r) {
  constexpr float e = static_cast<float>(kPowxExponent);
  vector_loop<float, ZOK_VF>([](ZOK_VF x) { return ZOK_MVEC2_F(pow)(x, ZOK_SET1_F(e)); },
                             [](float x) { return std::pow(x, e); }, n, a, r);
}
void mvec_powx_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>([](ZOK_VD x) { return ZOK_MVEC2_D(pow)(x, ZOK_SET1_D(kPowxExponent)); },
                              [](double x) { return std::pow(x, kPowxExponent); }, n, a, r);
}
// ---- special-function baselines: glibc loops, SLEEF (1.0-ulp erf, its only erfc at 1.5 ulp) and
// glibc's vector entry points (libmvec); CdfNorm as the glibc loop of erfc(-x/sqrt(2))/2 ----
ZOK_EXPLOG_BASE(erf)
#undef ZOK_EXPLOG_BASE
void libm_erfc_f(int n, const float* a, const float*, float* r) {
  libm_loop<float>(::erfcf, n, a, r);
}
void libm_erfc_d(int n, const double* a, const double*, double* r) {
  libm_loop<double>(::erfc, n, a, r);
}
void mvec_erfc_f(int n, const float* a, const float*, float* r) {
  vector_loop<float, ZOK_VF>(ZOK_MVEC_F(erfc), ::erfcf, n, a, r);
}
void mvec_erfc_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>(ZOK_MVEC_D(erfc), static_cast<double (*)(double)>(::erfc), n, a, r);
}
void sleef15_erfc_f(int n, const float* a, const float*, float* r) {
  vector_loop<float, ZOK_VF>(ZOK_SLEEF_FU(erfc, u15), ::erfcf, n, a, r);
}
void sleef15_erfc_d(int n, const double* a, const double*, double* r) {
  vector_loop<double, ZOK_VD>(ZOK_SLEEF_DU(erfc, u15), static_cast<double (*)(double)>(::erfc), n, a, r);
}
void libm_cdfnorm_f(int n, const float* a, const float*, float* r) {
  for (int i = 0; i < n; ++i) r[i] = 0.5f * ::erfcf(a[i] * -0.70710678f);
}
void libm_cdfnorm_d(int n, const double* a, const double*, double* r) {
  for (int i = 0; i < n; ++i) r[i] = 0.5 * ::erfc(a[i] * -0.7071067811865476);
}
// ---- gamma-function baselines: glibc loops and SLEEF's 1.0-ulp functions ----
ZOK_SLEEF10_BASE(lgamma)
ZOK_SLEEF10_BASE(tgamma)
#undef ZOK_SLEEF10_BASE

// SinCos: sines into r, cosines into a second array of the caller's thread kept across calls. SLEEF
// returns both in a pair; glibc's vector sincos stores each lane through a vector of pointers.
template <typename T>
T* cosines(int n) {
  thread_local std::vector<T> buffer;
  if (buffer.size() < static_cast<size_t>(n)) buffer.resize(static_cast<size_t>(n));
  return buffer.data();
}
template <typename T, typename VT, typename F>
void sincos_loop(F f, int n, const T* a, T* r) {
  constexpr int W = sizeof(VT) / sizeof(T);
  T* c = cosines<T>(n);
  int i = 0;
  for (; i + W <= n; i += W) {
    VT x;
    std::memcpy(&x, a + i, sizeof x);
    f(x, r + i, c + i);
  }
  for (; i < n; ++i) {
    r[i] = std::sin(a[i]);
    c[i] = std::cos(a[i]);
  }
}
#define ZOK_SLEEF_SINCOS(acc)                                                    \
  void sleef##acc##_sincos_f(int n, const float* a, const float*, float* r) {    \
    sincos_loop<float, ZOK_VF>(                                                  \
        [](ZOK_VF x, float* s, float* c) {                                       \
          const auto p = ZOK_SLEEF_FU(sincos, u##acc)(x);                        \
          ZOK_STOREF(s, p.x);                                                    \
          ZOK_STOREF(c, p.y);                                                    \
        },                                                                       \
        n, a, r);                                                                \
  }                                                                              \
  void sleef##acc##_sincos_d(int n, const double* a, const double*, double* r) { \
    sincos_loop<double, ZOK_VD>(                                                 \
        [](ZOK_VD x, double* s, double* c) {                                     \
          const auto p = ZOK_SLEEF_DU(sincos, u##acc)(x);                        \
          ZOK_STORED(s, p.x);                                                    \
          ZOK_STORED(c, p.y);                                                    \
        },                                                                       \
        n, a, r);                                                                \
  }
ZOK_SLEEF_SINCOS(10)
ZOK_SLEEF_SINCOS(35)
#undef ZOK_SLEEF_SINCOS
// The pointers of W consecutive elements from p, as the vectors of pointers glibc's sincos takes
// (one vector of 64-bit lanes per VD's worth of lanes).
template <typename PV, typename T, int W>
void pointer_vectors(T* p, PV (&out)[(W * 8 + sizeof(PV) - 1) / sizeof(PV)]) {
  uint64_t addr[W];
  for (int j = 0; j < W; ++j) addr[j] = reinterpret_cast<uint64_t>(p + j);
  std::memcpy(out, addr, sizeof addr);
}
void mvec_sincos_f(int n, const float* a, const float*, float* r) {
  sincos_loop<float, ZOK_VF>(
      [](ZOK_VF x, float* s, float* c) {
        ZOK_PV ps[2], pc[2];
        pointer_vectors<ZOK_PV, float, ZOK_WF>(s, ps);
        pointer_vectors<ZOK_PV, float, ZOK_WF>(c, pc);
        ZOK_MVEC_SINCOS_F(x, ps[0], ps[1], pc[0], pc[1]);
      },
      n, a, r);
}
void mvec_sincos_d(int n, const double* a, const double*, double* r) {
  sincos_loop<double, ZOK_VD>(
      [](ZOK_VD x, double* s, double* c) {
        ZOK_PV ps[1], pc[1];
        pointer_vectors<ZOK_PV, double, ZOK_WD>(s, ps);
        pointer_vectors<ZOK_PV, double, ZOK_WD>(c, pc);
        ZOK_MVEC_SINCOS_D(x, ps[0], pc[0]);
      },
      n, a, r);
}

template <typename F>
void* fp(F* f) {
  return reinterpret_cast<void*>(f);
}

// The peers each function's facts row names, as (kind, float, double) triples ending in a null kind.
struct Peer {
  const char* kind;
  void* f;
  void* d;
};
#define BASE(kind, fn) {#kind, fp(&fn##_f), fp(&fn##_d)},
#define NO_BASE
#define ZOK_VM_FACTS(t, F, FAMILY, DOMAIN, SWEEP, REF, LA, HA, EP, DENSE, BASELINES, ...) \
  const Peer kPeers_##t##F[] = {BASELINES{nullptr, nullptr, nullptr}};
#include "frame/vm_facts.def"
#undef ZOK_VM_FACTS
#undef NO_BASE
#undef BASE

std::vector<Baseline> collect_baselines() {
  std::vector<Baseline> out;
  auto add = [&](const char* function, char type, int fn, const Peer* peers) {
    for (; peers->kind != nullptr; ++peers)
      out.push_back({function, type, peers->kind, type == 's' ? peers->f : peers->d, fn});
  };
#define ZOK_VM_FACTS(t, F, ...) add(#F, #t[0], static_cast<int>(zok::vm::Fn::t##F), kPeers_##t##F);
#include "frame/vm_facts.def"
#undef ZOK_VM_FACTS
  return out;
}

}  // namespace

const Baseline* baselines(int* count) {
  static const std::vector<Baseline> all = collect_baselines();
  *count = static_cast<int>(all.size());
  return all.data();
}

}  // namespace zok::bench::ZOK_ISA_NS
