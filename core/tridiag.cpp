// Tridiagonal factorisation and solve without pivoting (the Thomas algorithm), in the LAPACK
// gttrf/gttrs argument style but with neither pivot indices nor a second super-diagonal.
#include <cstddef>

#include "zok/core_services.h"

namespace {

// Accepts either case; a null pointer is rejected like any other bad character.
bool TransposeCode(const char* trans, bool* transpose) {
  if (trans == nullptr) return false;
  switch (*trans) {
    case 'N':
    case 'n':
      *transpose = false;
      return true;
    case 'T':
    case 't':
    case 'C':
    case 'c':
      *transpose = true;
      return true;
    default:
      return false;
  }
}

// A = L*U with L unit lower bidiagonal (multipliers in dl) and U upper bidiagonal (pivots in d,
// super-diagonal du unchanged). A pivot is compared with zero exactly: a tiny pivot is the caller's
// business, since without pivoting there is no better choice to make.
template <typename T>
int Factor(int n, T* dl, T* d, const T* du) {
  for (int i = 0; i + 1 < n; ++i) {
    if (d[i] == T(0)) return i + 1;
    dl[i] /= d[i];
    d[i + 1] -= dl[i] * du[i];
  }
  if (n > 0 && d[n - 1] == T(0)) return n;
  return 0;
}

// Overwrites each column of b with the solution; the arguments are already checked.
template <typename T>
void Solve(bool transpose, int n, int nrhs, const T* dl, const T* d, const T* du, T* b, int ldb) {
  for (int j = 0; j < nrhs; ++j) {
    T* x = b + static_cast<size_t>(j) * static_cast<size_t>(ldb);
    if (!transpose) {
      // L y = b, then U x = y.
      for (int i = 1; i < n; ++i) x[i] -= dl[i - 1] * x[i - 1];
      x[n - 1] /= d[n - 1];
      for (int i = n - 2; i >= 0; --i) x[i] = (x[i] - du[i] * x[i + 1]) / d[i];
    } else {
      // U^T y = b (lower bidiagonal: pivots on the diagonal, du below it), then L^T x = y.
      x[0] /= d[0];
      for (int i = 1; i < n; ++i) x[i] = (x[i] - du[i - 1] * x[i - 1]) / d[i];
      for (int i = n - 2; i >= 0; --i) x[i] -= dl[i] * x[i + 1];
    }
  }
}

// info is -1 when n is negative.
template <typename T>
void Dttrfb(const int* n, T* dl, T* d, T* du, int* info) {
  if (*n < 0) {
    *info = -1;
    return;
  }
  *info = Factor(*n, dl, d, du);
}

// info is -1 for a bad trans, -2 for n < 0, -3 for nrhs < 0, -8 for ldb < max(1, n).
template <typename T>
void Dttrsb(const char* trans, const int* n, const int* nrhs, const T* dl, const T* d, const T* du, T* b,
            const int* ldb, int* info) {
  bool transpose = false;
  if (!TransposeCode(trans, &transpose)) {
    *info = -1;
  } else if (*n < 0) {
    *info = -2;
  } else if (*nrhs < 0) {
    *info = -3;
  } else if (*ldb < (*n > 1 ? *n : 1)) {
    *info = -8;
  } else {
    *info = 0;
  }
  if (*info != 0 || *n == 0 || *nrhs == 0) return;
  Solve(transpose, *n, *nrhs, dl, d, du, b, *ldb);
}

// info is -1 for n < 0, -2 for nrhs < 0, -7 for ldb < max(1, n); a zero pivot (info > 0) leaves b
// as it was and dl, d factored up to that pivot.
template <typename T>
void Dtsvb(const int* n, const int* nrhs, T* dl, T* d, T* du, T* b, const int* ldb, int* info) {
  if (*n < 0) {
    *info = -1;
  } else if (*nrhs < 0) {
    *info = -2;
  } else if (*ldb < (*n > 1 ? *n : 1)) {
    *info = -7;
  } else {
    *info = 0;
  }
  if (*info != 0 || *n == 0) return;
  *info = Factor(*n, dl, d, du);
  if (*info != 0) return;
  Solve(false, *n, *nrhs, dl, d, du, b, *ldb);
}

}  // namespace

extern "C" {

ZOK_API void ddttrfb_4dfl(const int* n, double* dl, double* d, double* du, int* info) {
  Dttrfb(n, dl, d, du, info);
}
ZOK_API void sdttrfb_4dfl(const int* n, float* dl, float* d, float* du, int* info) {
  Dttrfb(n, dl, d, du, info);
}

ZOK_API void ddttrsb_4dfl(const char* trans, const int* n, const int* nrhs, const double* dl, const double* d,
                          const double* du, double* b, const int* ldb, int* info) {
  Dttrsb(trans, n, nrhs, dl, d, du, b, ldb, info);
}
ZOK_API void sdttrsb_4dfl(const char* trans, const int* n, const int* nrhs, const float* dl, const float* d,
                          const float* du, float* b, const int* ldb, int* info) {
  Dttrsb(trans, n, nrhs, dl, d, du, b, ldb, info);
}

ZOK_API void ddtsvb_4dfl(const int* n, const int* nrhs, double* dl, double* d, double* du, double* b,
                         const int* ldb, int* info) {
  Dtsvb(n, nrhs, dl, d, du, b, ldb, info);
}
ZOK_API void sdtsvb_4dfl(const int* n, const int* nrhs, float* dl, float* d, float* du, float* b,
                         const int* ldb, int* info) {
  Dtsvb(n, nrhs, dl, d, du, b, ldb, info);
}

}  // extern "C"
