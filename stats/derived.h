// What the derived covariance estimates share: the core library's factorisations and products by
// element type, the rounding unit and smallest subnormal of each precision, and finiteness checks.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "zok/core_services.h"

namespace zok::ss {

template <class T>
struct Real;
template <>
struct Real<double> {
  static constexpr double eps = 0x1p-52;
  static constexpr double tiny = std::bit_cast<double>(uint64_t{1000});  // 4.94e-321
};
template <>
struct Real<float> {
  static constexpr float eps = 0x1p-23f;
  static constexpr float tiny = std::bit_cast<float>(uint32_t{1000});  // 1.4e-42
};

template <class T>
bool all_finite(const T* a, int64_t count) {
  for (int64_t i = 0; i < count; ++i)
    if (!std::isfinite(a[i])) return false;
  return true;
}

// Column-major views throughout, as the core library sees the buffers.
#define ZOK_SS_LINALG(T, p)                                                                              \
  inline int syev(const char* job, int n, T* a, T* w, T* work, int lwork) {                              \
    int info = 0;                                                                                        \
    zok_lapack_##p##syev(job, "U", &n, a, &n, w, work, &lwork, &info);                                   \
    return info;                                                                                         \
  }                                                                                                      \
  inline int syev_lower_values(int n, T* a, T* w, T* work, int lwork) {                                  \
    int info = 0;                                                                                        \
    zok_lapack_##p##syev("N", "L", &n, a, &n, w, work, &lwork, &info);                                   \
    return info;                                                                                         \
  }                                                                                                      \
  inline int potrf_upper(int n, T* a) {                                                                  \
    int info = 0;                                                                                        \
    zok_lapack_##p##potrf("U", &n, a, &n, &info);                                                        \
    return info;                                                                                         \
  }                                                                                                      \
  inline int potri_upper(int n, T* a) {                                                                  \
    int info = 0;                                                                                        \
    zok_lapack_##p##potri("U", &n, a, &n, &info);                                                        \
    return info;                                                                                         \
  }                                                                                                      \
  inline void gemm(const char* ta, const char* tb, int m, int n, int k, T alpha, const T* a, int lda,    \
                   const T* b, int ldb, T beta, T* c, int ldc) {                                         \
    zok_blas_##p##gemm(ta, tb, &m, &n, &k, &alpha, a, &lda, b, &ldb, &beta, c, &ldc);                    \
  }                                                                                                      \
  /* c (upper) = alpha a a^T + beta c, a n x k (trans "N"); alpha a^T a + beta c, a k x n ("T") */       \
  inline void syrk_upper(bool extended, const char* trans, int n, int k, T alpha, const T* a, int lda,   \
                         T beta, T* c, int ldc) {                                                        \
    (extended ? zok_blas_x##p##syrk : zok_blas_##p##syrk)("U", trans, &n, &k, &alpha, a, &lda, &beta, c, \
                                                          &ldc);                                         \
  }                                                                                                      \
  inline void syr_upper(int n, T alpha, const T* x, T* a, int lda) {                                     \
    const int inc = 1;                                                                                   \
    zok_blas_x##p##syr("U", &n, &alpha, x, &inc, a, &lda);                                               \
  }                                                                                                      \
  /* c = s b, s n x n symmetric (upper), b n x m */                                                      \
  inline void symm_left_upper(int n, int m, const T* s, const T* b, T* c) {                              \
    const T one = 1, zero = 0;                                                                           \
    zok_blas_x##p##symm("L", "U", &n, &m, &one, s, &n, b, &n, &zero, c, &n);                             \
  }

ZOK_SS_LINALG(double, d)
ZOK_SS_LINALG(float, s)
#undef ZOK_SS_LINALG

}  // namespace zok::ss
