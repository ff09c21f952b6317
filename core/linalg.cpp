// Linear-algebra forms imported by the kernel library: thin forwarders to the system BLAS/LAPACK
// (OpenBLAS) and the packed triangular matrix-matrix product, which has no standard routine.
#include <cstddef>

#include "zok/core_services.h"

// Fortran interfaces. Every character argument is followed by a hidden length argument at the end
// of the list, as gfortran passes them; LAPACK built with gfortran may read these lengths, so they
// are passed (always 1) for BLAS as well to keep every call written the same way.
extern "C" {
void sgemm_(const char*, const char*, const int*, const int*, const int*, const float*, const float*,
            const int*, const float*, const int*, const float*, float*, const int*, size_t, size_t);
void dgemm_(const char*, const char*, const int*, const int*, const int*, const double*, const double*,
            const int*, const double*, const int*, const double*, double*, const int*, size_t, size_t);
void sgemv_(const char*, const int*, const int*, const float*, const float*, const int*, const float*,
            const int*, const float*, float*, const int*, size_t);
void dgemv_(const char*, const int*, const int*, const double*, const double*, const int*, const double*,
            const int*, const double*, double*, const int*, size_t);
void ssyrk_(const char*, const char*, const int*, const int*, const float*, const float*, const int*,
            const float*, float*, const int*, size_t, size_t);
void dsyrk_(const char*, const char*, const int*, const int*, const double*, const double*, const int*,
            const double*, double*, const int*, size_t, size_t);
void ssyr_(const char*, const int*, const float*, const float*, const int*, float*, const int*, size_t);
void dsyr_(const char*, const int*, const double*, const double*, const int*, double*, const int*, size_t);
void ssymm_(const char*, const char*, const int*, const int*, const float*, const float*, const int*,
            const float*, const int*, const float*, float*, const int*, size_t, size_t);
void dsymm_(const char*, const char*, const int*, const int*, const double*, const double*, const int*,
            const double*, const int*, const double*, double*, const int*, size_t, size_t);
void strmm_(const char*, const char*, const char*, const char*, const int*, const int*, const float*,
            const float*, const int*, float*, const int*, size_t, size_t, size_t, size_t);
void dtrmm_(const char*, const char*, const char*, const char*, const int*, const int*, const double*,
            const double*, const int*, double*, const int*, size_t, size_t, size_t, size_t);
void stpmv_(const char*, const char*, const char*, const int*, const float*, float*, const int*, size_t,
            size_t, size_t);
void dtpmv_(const char*, const char*, const char*, const int*, const double*, double*, const int*, size_t,
            size_t, size_t);

void spotrf_(const char*, const int*, float*, const int*, int*, size_t);
void dpotrf_(const char*, const int*, double*, const int*, int*, size_t);
void spotri_(const char*, const int*, float*, const int*, int*, size_t);
void dpotri_(const char*, const int*, double*, const int*, int*, size_t);
void strtri_(const char*, const char*, const int*, float*, const int*, int*, size_t, size_t);
void dtrtri_(const char*, const char*, const int*, double*, const int*, int*, size_t, size_t);
void ssyev_(const char*, const char*, const int*, float*, const int*, float*, float*, const int*, int*,
            size_t, size_t);
void dsyev_(const char*, const char*, const int*, double*, const int*, double*, double*, const int*, int*,
            size_t, size_t);
void sspevd_(const char*, const char*, const int*, float*, float*, float*, const int*, float*, const int*,
             int*, const int*, int*, size_t, size_t);
void dspevd_(const char*, const char*, const int*, double*, double*, double*, const int*, double*, const int*,
             int*, const int*, int*, size_t, size_t);
}

namespace {

// Upper-cases an ASCII letter; a null pointer reads as a character no check accepts.
char Upper(const char* c) {
  if (c == nullptr) return '\0';
  return (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
}

void Tpmv(const char* uplo, const char* trans, const char* diag, const int* n, const float* ap, float* x,
          const int* incx) {
  stpmv_(uplo, trans, diag, n, ap, x, incx, 1, 1, 1);
}
void Tpmv(const char* uplo, const char* trans, const char* diag, const int* n, const double* ap, double* x,
          const int* incx) {
  dtpmv_(uplo, trans, diag, n, ap, x, incx, 1, 1, 1);
}

// B := alpha*op(A)*B or alpha*B*op(A), A triangular and packed by columns. The product is built one
// column (side L) or one row (side R) of B at a time with tpmv; a row r of B becomes r*op(A), which
// is op(A)^T applied to r seen as a column with stride ldb, hence the flipped transpose for side R.
// Invalid arguments leave B untouched and return: unlike the BLAS error handler this never stops
// the process, and the caller gets no code back, so it must pass valid arguments to get a result.
template <typename T>
void PackedTrmm(const char* side, const char* uplo, const char* transa, const char* diag, const int* m,
                const int* n, const T* alpha, const T* ap, T* b, const int* ldb) {
  if (m == nullptr || n == nullptr || ldb == nullptr || alpha == nullptr) return;
  const char s = Upper(side), u = Upper(uplo), t = Upper(transa), d = Upper(diag);
  const bool left = s == 'L';
  if (!left && s != 'R') return;
  if (u != 'U' && u != 'L') return;
  if (t != 'N' && t != 'T' && t != 'C') return;
  if (d != 'U' && d != 'N') return;
  const int rows = *m, cols = *n, ld = *ldb;
  if (rows < 0 || cols < 0 || ld < (rows > 1 ? rows : 1)) return;
  if (rows == 0 || cols == 0) return;

  const T a = *alpha;
  const size_t stride = static_cast<size_t>(ld);
  if (a == T(0)) {
    // A may be undefined here, as in trmm; B is cleared even if it holds NaN.
    for (int j = 0; j < cols; ++j) {
      T* col = b + j * stride;
      for (int i = 0; i < rows; ++i) col[i] = T(0);
    }
    return;
  }

  const char uc[1] = {u}, dc[1] = {d};
  if (left) {
    const char tc[1] = {t == 'N' ? 'N' : 'T'};
    const int one = 1;
    for (int j = 0; j < cols; ++j) Tpmv(uc, tc, dc, &rows, ap, b + j * stride, &one);
  } else {
    const char tc[1] = {t == 'N' ? 'T' : 'N'};
    for (int i = 0; i < rows; ++i) Tpmv(uc, tc, dc, &cols, ap, b + i, &ld);
  }
  if (a != T(1)) {
    for (int j = 0; j < cols; ++j) {
      T* col = b + j * stride;
      for (int i = 0; i < rows; ++i) col[i] *= a;
    }
  }
}

}  // namespace

extern "C" {

// ---- BLAS: the plain, x and 4yub names all compute the standard operation ----

ZOK_BLAS_GEMM(float, zok_blas_sgemm) {
  sgemm_(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc, 1, 1);
}
ZOK_BLAS_GEMM(double, zok_blas_dgemm) {
  dgemm_(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc, 1, 1);
}
ZOK_BLAS_GEMM(float, zok_blas_xsgemm) {
  sgemm_(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc, 1, 1);
}
ZOK_BLAS_GEMM(double, zok_blas_xdgemm) {
  dgemm_(transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc, 1, 1);
}

ZOK_BLAS_GEMV(float, zok_blas_sgemv) {
  sgemv_(trans, m, n, alpha, a, lda, x, incx, beta, y, incy, 1);
}
ZOK_BLAS_GEMV(double, zok_blas_dgemv) {
  dgemv_(trans, m, n, alpha, a, lda, x, incx, beta, y, incy, 1);
}

ZOK_BLAS_SYRK(float, zok_blas_ssyrk) {
  ssyrk_(uplo, trans, n, k, alpha, a, lda, beta, c, ldc, 1, 1);
}
ZOK_BLAS_SYRK(double, zok_blas_dsyrk) {
  dsyrk_(uplo, trans, n, k, alpha, a, lda, beta, c, ldc, 1, 1);
}
ZOK_BLAS_SYRK(float, zok_blas_xssyrk) {
  ssyrk_(uplo, trans, n, k, alpha, a, lda, beta, c, ldc, 1, 1);
}
ZOK_BLAS_SYRK(double, zok_blas_xdsyrk) {
  dsyrk_(uplo, trans, n, k, alpha, a, lda, beta, c, ldc, 1, 1);
}

ZOK_BLAS_SYR(float, zok_blas_ssyr) {
  ssyr_(uplo, n, alpha, x, incx, a, lda, 1);
}
ZOK_BLAS_SYR(double, zok_blas_dsyr) {
  dsyr_(uplo, n, alpha, x, incx, a, lda, 1);
}
ZOK_BLAS_SYR(float, zok_blas_xssyr) {
  ssyr_(uplo, n, alpha, x, incx, a, lda, 1);
}
ZOK_BLAS_SYR(double, zok_blas_xdsyr) {
  dsyr_(uplo, n, alpha, x, incx, a, lda, 1);
}

ZOK_BLAS_SYMM(float, zok_blas_xssymm) {
  ssymm_(side, uplo, m, n, alpha, a, lda, b, ldb, beta, c, ldc, 1, 1);
}
ZOK_BLAS_SYMM(double, zok_blas_xdsymm) {
  dsymm_(side, uplo, m, n, alpha, a, lda, b, ldb, beta, c, ldc, 1, 1);
}

ZOK_BLAS_TRMM(float, zok_blas_strmm) {
  strmm_(side, uplo, transa, diag, m, n, alpha, a, lda, b, ldb, 1, 1, 1, 1);
}
ZOK_BLAS_TRMM(double, zok_blas_dtrmm) {
  dtrmm_(side, uplo, transa, diag, m, n, alpha, a, lda, b, ldb, 1, 1, 1, 1);
}
ZOK_BLAS_TRMM(float, zok_blas_xstrmm_4yub) {
  strmm_(side, uplo, transa, diag, m, n, alpha, a, lda, b, ldb, 1, 1, 1, 1);
}
ZOK_BLAS_TRMM(double, zok_blas_xdtrmm_4yub) {
  dtrmm_(side, uplo, transa, diag, m, n, alpha, a, lda, b, ldb, 1, 1, 1, 1);
}
ZOK_BLAS_TRMM(float, zok_blas4yub_strmm) {
  strmm_(side, uplo, transa, diag, m, n, alpha, a, lda, b, ldb, 1, 1, 1, 1);
}
ZOK_BLAS_TRMM(double, zok_blas4yub_dtrmm) {
  dtrmm_(side, uplo, transa, diag, m, n, alpha, a, lda, b, ldb, 1, 1, 1, 1);
}

ZOK_BLAS_PTRMM(float, zok_blas4yub_sptrmm) {
  PackedTrmm(side, uplo, transa, diag, m, n, alpha, ap, b, ldb);
}
ZOK_BLAS_PTRMM(double, zok_blas4yub_dptrmm) {
  PackedTrmm(side, uplo, transa, diag, m, n, alpha, ap, b, ldb);
}

// ---- LAPACK ----

ZOK_LAPACK_POTRF(float, zok_lapack_spotrf) {
  spotrf_(uplo, n, a, lda, info, 1);
}
ZOK_LAPACK_POTRF(double, zok_lapack_dpotrf) {
  dpotrf_(uplo, n, a, lda, info, 1);
}
ZOK_LAPACK_POTRF(float, zok_lapack_spotri) {
  spotri_(uplo, n, a, lda, info, 1);
}
ZOK_LAPACK_POTRF(double, zok_lapack_dpotri) {
  dpotri_(uplo, n, a, lda, info, 1);
}

ZOK_LAPACK_TRTRI(float, zok_lapack_strtri) {
  strtri_(uplo, diag, n, a, lda, info, 1, 1);
}
ZOK_LAPACK_TRTRI(double, zok_lapack_dtrtri) {
  dtrtri_(uplo, diag, n, a, lda, info, 1, 1);
}

ZOK_LAPACK_SYEV(float, zok_lapack_ssyev) {
  ssyev_(jobz, uplo, n, a, lda, w, work, lwork, info, 1, 1);
}
ZOK_LAPACK_SYEV(double, zok_lapack_dsyev) {
  dsyev_(jobz, uplo, n, a, lda, w, work, lwork, info, 1, 1);
}

ZOK_LAPACK_SPEVD(float, zok_lapack_sspevd) {
  sspevd_(jobz, uplo, n, ap, w, z, ldz, work, lwork, iwork, liwork, info, 1, 1);
}
ZOK_LAPACK_SPEVD(double, zok_lapack_dspevd) {
  dspevd_(jobz, uplo, n, ap, w, z, ldz, work, lwork, iwork, liwork, info, 1, 1);
}

}  // extern "C"
