// Baselines for the vector-math benchmarks, compiled once per instruction set at -O3 (inside that
// set's namespace): plain loops of the same operation, glibc scalar loops, and SLEEF at the same
// vector width.
#include <immintrin.h>
#include <sleef.h>

#include <cmath>

#include "bench/vm_baseline.h"

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

#define ZOK_LOOP(name, expr)                                                         \
  template <typename T>                                                              \
  void loop_##name(int n, const T* a, const T* b, T* r) {                            \
    (void)b;                                                                         \
    for (int i = 0; i < n; ++i) r[i] = (expr);                                       \
  }
ZOK_LOOP(add, a[i] + b[i])
ZOK_LOOP(sub, a[i] - b[i])
ZOK_LOOP(mul, a[i] * b[i])
ZOK_LOOP(div, a[i] / b[i])
ZOK_LOOP(sqr, a[i] * a[i])
ZOK_LOOP(inv, T(1) / a[i])
ZOK_LOOP(abs, std::fabs(a[i]))
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
  void libm_##name##_f(int n, const float* a, const float*, float* r) { libm_loop<float>(::name##f, n, a, r); } \
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

template <typename F>
void* fp(F* f) {
  return reinterpret_cast<void*>(f);
}

#define ZOK_PAIR(F, kind, fs, fd) {#F, 's', kind, fp(fs)}, {#F, 'd', kind, fp(fd)}
const Baseline kBaselines[] = {
    ZOK_PAIR(Add, "loop", &loop_add<float>, &loop_add<double>),
    ZOK_PAIR(Sub, "loop", &loop_sub<float>, &loop_sub<double>),
    ZOK_PAIR(Mul, "loop", &loop_mul<float>, &loop_mul<double>),
    ZOK_PAIR(Div, "loop", &loop_div<float>, &loop_div<double>),
    ZOK_PAIR(Sqr, "loop", &loop_sqr<float>, &loop_sqr<double>),
    ZOK_PAIR(Inv, "loop", &loop_inv<float>, &loop_inv<double>),
    ZOK_PAIR(Abs, "loop", &loop_abs<float>, &loop_abs<double>),
    ZOK_PAIR(Floor, "libm", &libm_floor_f, &libm_floor_d),
    ZOK_PAIR(Ceil, "libm", &libm_ceil_f, &libm_ceil_d),
    ZOK_PAIR(Trunc, "libm", &libm_trunc_f, &libm_trunc_d),
    ZOK_PAIR(Round, "libm", &libm_round_f, &libm_round_d),
    ZOK_PAIR(Rint, "libm", &libm_rint_f, &libm_rint_d),
    ZOK_PAIR(Floor, "sleef", &sleef_floor_f, &sleef_floor_d),
    ZOK_PAIR(Ceil, "sleef", &sleef_ceil_f, &sleef_ceil_d),
    ZOK_PAIR(Trunc, "sleef", &sleef_trunc_f, &sleef_trunc_d),
    ZOK_PAIR(Round, "sleef", &sleef_round_f, &sleef_round_d),
    ZOK_PAIR(Rint, "sleef", &sleef_rint_f, &sleef_rint_d),
};
#undef ZOK_PAIR

}  // namespace

const Baseline* baselines(int* count) {
  *count = static_cast<int>(sizeof kBaselines / sizeof kBaselines[0]);
  return kBaselines;
}

}  // namespace zok::bench::ZOK_ISA_NS
