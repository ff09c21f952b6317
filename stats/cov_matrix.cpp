// Matrix helpers of the derived covariance estimates: the rank test with its diagonal shift, the
// inverse of a positive definite matrix, and the repair of a correlation matrix by eigenvalue clipping.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "stats/derived.h"
#include "stats/estimator.h"
#include "stats/task.h"

namespace zok::ss {
namespace {

template <class T>
int32_t test_cov_rank(int64_t p, T* c) {
  if (p < 1 || p > std::numeric_limits<int>::max() / 4) return ErrP;
  if (c == nullptr) return ZOK_SS_ERR_COV_RANK;
  const T tiny = Real<T>::tiny;
  if (p == 1) {
    if (c[0] > T(0)) return kOk;
    if (c[0] >= -tiny && c[0] <= T(0)) {
      c[0] = tiny;
      return kOk;
    }
    return ZOK_SS_ERR_COV_RANK;
  }
  if (!all_finite(c, p * p)) return ZOK_SS_ERR_COV_RANK;
  // The decomposition works on a copy, so that C changes only by the shift.
  Scratch scratch;
  T* a = scratch.take_unset<T>(p * p + 4 * p);
  if (a == nullptr) return ErrMemory;
  T* w = a + p * p;
  std::memcpy(a, c, static_cast<size_t>(p * p) * sizeof(T));
  if (syev_lower_values(static_cast<int>(p), a, w, w + p, static_cast<int>(3 * p)) != 0)
    return ZOK_SS_ERR_RANK_EIGEN;
  // A computed zero eigenvalue is noise of either sign up to about p*eps*max: only eigenvalues
  // clearly above that count as positive.
  const T tau = std::max(tiny, static_cast<T>(p) * Real<T>::eps * w[p - 1]);
  if (w[0] > tau) return kOk;
  const T* k = std::find_if(w + 1, w + p, [&](T v) { return v > tau; });
  if (k == w + p) return ZOK_SS_ERR_COV_RANK;
  const T shift = T(0.01) * *k;
  if (w[0] + shift <= tau) return ZOK_SS_ERR_COV_RANK;
  for (int64_t i = 0; i < p; ++i) c[i * p + i] += shift;
  return kOk;
}

// Closed forms for p <= 3 over the lower triangle; false when the matrix is not positive definite.
template <class T>
bool inverse_small(int64_t p, const T* c, T* r) {
  if (p == 1) {
    if (!(c[0] > T(0))) return false;
    r[0] = T(1) / c[0];
  } else if (p == 2) {
    const T a = c[0], b = c[2], d = c[3];
    const T det = a * d - b * b;
    if (!(a > T(0)) || !(det > T(0))) return false;
    r[0] = d / det;
    r[2] = -b / det;
    r[3] = a / det;
  } else {
    const T a00 = c[0], a10 = c[3], a11 = c[4], a20 = c[6], a21 = c[7], a22 = c[8];
    const T c00 = a11 * a22 - a21 * a21, c10 = a20 * a21 - a10 * a22, c20 = a10 * a21 - a11 * a20;
    const T minor = a00 * a11 - a10 * a10;
    const T det = a00 * c00 + a10 * c10 + a20 * c20;
    if (!(a00 > T(0)) || !(minor > T(0)) || !(det > T(0))) return false;
    r[0] = c00 / det;
    r[3] = c10 / det;
    r[4] = (a00 * a22 - a20 * a20) / det;
    r[6] = c20 / det;
    r[7] = (a10 * a20 - a00 * a21) / det;
    r[8] = minor / det;
  }
  return true;
}

template <class T>
int32_t inv_cov(int64_t p, T* c) {
  if (p < 1 || p > 46340) return ErrP;
  if (c == nullptr) return ZOK_SS_ERR_INV_FACTOR;
  Scratch scratch;
  T* r = scratch.take_unset<T>(p * p);
  if (r == nullptr) return ErrMemory;
  if (p <= 3) {
    if (!inverse_small(p, c, r)) return ZOK_SS_ERR_INV_FACTOR;
  } else {
    // Row-major lower is column-major upper: the same elements, read and written in place.
    std::memcpy(r, c, static_cast<size_t>(p * p) * sizeof(T));
    if (potrf_upper(static_cast<int>(p), r) != 0) return ZOK_SS_ERR_INV_FACTOR;
    if (potri_upper(static_cast<int>(p), r) != 0) return ZOK_SS_ERR_INV_INVERSE;
  }
  for (int64_t i = 0; i < p; ++i)
    for (int64_t j = 0; j <= i; ++j)
      if (!std::isfinite(r[i * p + j])) return ZOK_SS_ERR_INV_INVERSE;
  for (int64_t i = 0; i < p; ++i) std::memcpy(c + i * p, r + i * p, static_cast<size_t>(i + 1) * sizeof(T));
  return kOk;
}

// ---- correlation repair ----
template <class T>
int32_t cor_parametrization(SSTask* task, uint64_t, uint64_t method, const ThreadingServices*) {
  if (task == nullptr) return ErrNullTask;
  const int64_t p = read_int(*task, task->p);
  if (p < 1 || p > 46340) return ErrP;
  if (task->cor == nullptr) return ZOK_SS_ERR_COR;
  if (task->cor_storage == nullptr) return ErrStoragePtr;
  const int64_t in_code = read_int(*task, task->cor_storage);
  if (in_code < 0 || in_code > 2) return ErrStorage;
  if (task->param_cor == nullptr) return ZOK_SS_ERR_PARAM_COR;
  if (task->param_cor_storage == nullptr) return ErrStoragePtr;
  const int64_t out_code = read_int(*task, task->param_cor_storage);
  if (out_code < 0 || out_code > 2) return ErrStorage;
  // A full result written over a packed input would run past the caller's array.
  if (task->param_cor == task->cor && out_code == 0 && in_code != 0) return ErrStorage;
  if ((method & ZOK_SS_METHOD_REPAIR) == 0) return ErrMethod;

  Scratch scratch;
  const int64_t pp = p * p;
  T* a = scratch.take_unset<T>(3 * pp + 3 * p);
  int64_t* vars = scratch.take_unset<int64_t>(p);
  if (a == nullptr || vars == nullptr) return ErrMemory;
  T* v = a + pp;
  T* b = v + pp;
  T* lambda = b + pp;
  T* t = lambda + p;
  T* root = t + p;
  for (int64_t j = 0; j < p; ++j) vars[j] = j;
  read_matrix(static_cast<const T*>(task->cor), packing_of(in_code), p, vars, p, a);
  for (int64_t j = 0; j < p; ++j) a[j * p + j] = T(1);
  if (!all_finite(a, pp)) return ZOK_SS_ERR_REPAIR_EIGEN;
  std::memcpy(v, a, static_cast<size_t>(pp) * sizeof(T));
  // Workspace size query, then the decomposition with the best block size.
  T query = 0;
  if (syev("V", static_cast<int>(p), v, lambda, &query, -1) != 0) return ZOK_SS_ERR_REPAIR_EIGEN;
  const int lwork = std::max(static_cast<int>(query), static_cast<int>(3 * p));
  T* work = scratch.take_unset<T>(lwork);
  if (work == nullptr) return ErrMemory;
  if (syev("V", static_cast<int>(p), v, lambda, work, lwork) != 0) return ZOK_SS_ERR_REPAIR_EIGEN;
  int64_t clipped = 0;
  for (int64_t j = 0; j < p; ++j)
    if (lambda[j] < T(1e-14)) {
      lambda[j] = T(1e-14);
      ++clipped;
    }
  if (clipped == p) return ZOK_SS_ERR_ALL_CLIPPED;
  const T* result = a;
  if (clipped > 0) {
    // Column j of v is eigenvector j. Rows of B = V sqrt(Lambda) scaled to unit length.
    for (int64_t i = 0; i < p; ++i) {
      T s = 0;
      for (int64_t j = 0; j < p; ++j) s += lambda[j] * v[j * p + i] * v[j * p + i];
      t[i] = s;
    }
    std::memcpy(root, lambda, static_cast<size_t>(p) * sizeof(T));
    sqrt_in_place(static_cast<int>(p), root);
    sqrt_in_place(static_cast<int>(p), t);
    inv_in_place(static_cast<int>(p), t);
    for (int64_t j = 0; j < p; ++j)
      for (int64_t i = 0; i < p; ++i) b[j * p + i] = v[j * p + i] * root[j] * t[i];
    syrk_upper(false, "N", static_cast<int>(p), static_cast<int>(p), T(1), b, static_cast<int>(p), T(0), v,
               static_cast<int>(p));
    // Upper triangle, column-major: (i, j), i <= j, at j*p + i; mirrored for the full form.
    for (int64_t j = 0; j < p; ++j)
      for (int64_t i = 0; i < j; ++i) v[i * p + j] = v[j * p + i];
    result = v;
  }
  write_matrix(static_cast<T*>(task->param_cor), packing_of(out_code), p, vars, p,
               [&](int64_t i, int64_t j) { return result[i * p + j]; });
  return kOk;
}

}  // namespace
}  // namespace zok::ss

extern "C" {

ZOK_SS_API int32_t __qordTestCovRank(int64_t p, double* c) {
  return zok::ss::test_cov_rank(p, c);
}
ZOK_SS_API int32_t __qorsTestCovRank(int64_t p, float* c) {
  return zok::ss::test_cov_rank(p, c);
}
ZOK_SS_API int32_t __qordInvCov(int64_t p, double* c) {
  return zok::ss::inv_cov(p, c);
}
ZOK_SS_API int32_t __qorsInvCov(int64_t p, float* c) {
  return zok::ss::inv_cov(p, c);
}
ZOK_SS_API int32_t _qordSSCorParametrization(SSTask* task, uint64_t estimates, uint64_t method,
                                             const ThreadingServices* services) {
  return zok::ss::cor_parametrization<double>(task, estimates, method, services);
}
ZOK_SS_API int32_t _qorsSSCorParametrization(SSTask* task, uint64_t estimates, uint64_t method,
                                             const ThreadingServices* services) {
  return zok::ss::cor_parametrization<float>(task, estimates, method, services);
}

}  // extern "C"
