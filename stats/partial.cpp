// Partial covariance and correlation of one set of variables given another: the Schur complement
// of the conditioning block, through its Cholesky inverse and two matrix products.
#include <algorithm>
#include <cmath>

#include "stats/derived.h"
#include "stats/estimator.h"
#include "stats/task.h"

namespace zok::ss {
namespace {

template <class T>
int32_t partial_covariance(SSTask* task, uint64_t estimates, uint64_t method) {
  if (task == nullptr) return ErrNullTask;
  // The covariance when registered, else the correlation.
  const bool from_cov = task->cov != nullptr;
  const void* input = from_cov ? task->cov : task->cor;
  const void* input_storage = from_cov ? task->cov_storage : task->cor_storage;
  if (input == nullptr) return ZOK_SS_ERR_COV;
  if (input_storage == nullptr) return ErrStoragePtr;
  if (task->partial_selection == nullptr) return ZOK_SS_ERR_PARTIAL_SELECTION;
  const bool want_cov = (estimates & ZOK_SS_PARTIAL_COV) != 0,
             want_cor = (estimates & ZOK_SS_PARTIAL_COR) != 0;
  if (want_cov && task->partial_cov == nullptr) return ZOK_SS_ERR_PARTIAL_COV;
  if (want_cov && task->partial_cov_storage == nullptr) return ErrStoragePtr;
  if (want_cor && task->partial_cor == nullptr) return ZOK_SS_ERR_PARTIAL_COR;
  if (want_cor && task->partial_cor_storage == nullptr) return ErrStoragePtr;
  if ((method & ZOK_SS_METHOD_PARTIAL) == 0) return ErrMethod;
  const int64_t p = read_int(*task, task->p);
  if (p < 1) return ZOK_SS_ERR_PARTIAL_SETS;

  Scratch scratch;
  int64_t* y = scratch.take_unset<int64_t>(2 * p);
  if (y == nullptr) return ErrMemory;
  int64_t* z = y + p;
  int64_t ny = 0, nz = 0;
  for (int64_t j = 0; j < p; ++j) {
    const int64_t s = read_int(*task, task->partial_selection, j);
    if (s == 1) y[ny++] = j;
    if (s == -1) z[nz++] = j;
  }
  if (ny == 0 || nz == 0) return ZOK_SS_ERR_PARTIAL_SETS;
  if (ny > 46340 || nz > 46340) return ErrMemory;
  if (!want_cov && !want_cor) return kOk;

  // szz: |Z| x |Z|; szy: column a is Sigma(Z, Y_a); m: the inverse times szy; pm: the result.
  T* szz = scratch.take_unset<T>((nz + 2 * ny) * nz + ny * ny);
  if (szz == nullptr) return ErrMemory;
  T* szy = szz + nz * nz;
  T* m = szy + nz * ny;
  T* pm = m + nz * ny;
  const T* in = static_cast<const T*>(input);
  const Packing f = packing_of(read_int(*task, input_storage));
  // A correlation's diagonal holds variances: the partial correlation wants it to be 1.
  auto sigma = [&](int64_t u, int64_t v) { return !from_cov && u == v ? T(1) : in[mat_index(u, v, p, f)]; };
  for (int64_t a = 0; a < nz; ++a)
    for (int64_t b = 0; b < nz; ++b) szz[a * nz + b] = sigma(z[a], z[b]);
  for (int64_t a = 0; a < ny; ++a) {
    for (int64_t b = 0; b < nz; ++b) szy[a * nz + b] = sigma(z[b], y[a]);
    for (int64_t b = 0; b < ny; ++b) pm[a * ny + b] = sigma(y[a], y[b]);
  }
  if (!all_finite(szz, (nz + ny) * nz) || !all_finite(pm, ny * ny)) return ZOK_SS_ERR_PARTIAL_FACTOR;

  T dmax = 0;
  for (int64_t a = 0; a < nz; ++a) dmax = std::max(dmax, szz[a * nz + a]);
  const int inz = static_cast<int>(nz), iny = static_cast<int>(ny);
  if (potrf_upper(inz, szz) != 0) return ZOK_SS_ERR_PARTIAL_FACTOR;
  // A singular block can pass the factorisation by rounding: its pivot is then rounding noise.
  const T floor = static_cast<T>(nz) * Real<T>::eps * dmax;
  for (int64_t a = 0; a < nz; ++a)
    if (szz[a * nz + a] * szz[a * nz + a] <= floor) return ZOK_SS_ERR_PARTIAL_FACTOR;
  if (potri_upper(inz, szz) != 0) return ZOK_SS_ERR_PARTIAL_INVERSE;
  for (int64_t j = 0; j < nz; ++j)
    for (int64_t i = j + 1; i < nz; ++i) szz[j * nz + i] = szz[i * nz + j];
  gemm("N", "N", inz, iny, inz, T(1), szz, inz, szy, inz, T(0), m, inz);
  gemm("T", "N", iny, iny, inz, T(-1), szy, inz, m, inz, T(1), pm, iny);
  // One triangle of the product, so that both outputs are exactly symmetric.
  auto at = [&](int64_t a, int64_t b) { return a <= b ? pm[b * ny + a] : pm[a * ny + b]; };
  T* d = m;  // the diagonal's inverse square roots, over the consumed product
  if (want_cor) {
    // A partial variance at rounding level means Y is explained by Z (or constant): no correlation.
    for (int64_t a = 0; a < ny; ++a) {
      const T sii = sigma(y[a], y[a]);
      if (!(at(a, a) > Real<T>::eps * static_cast<T>(nz + 1) * sii)) return ZOK_SS_ERR_PARTIAL_INVERSE;
      d[a] = at(a, a);
    }
    inv_sqrt_in_place(iny, d);
  }
  int64_t* ident = y;  // the output is |Y| x |Y|: positions 0 .. |Y|-1
  for (int64_t a = 0; a < ny; ++a) ident[a] = a;
  if (want_cov)
    write_matrix(static_cast<T*>(task->partial_cov), packing_of(read_int(*task, task->partial_cov_storage)),
                 ny, ident, ny, at);
  if (want_cor)
    write_matrix(static_cast<T*>(task->partial_cor), packing_of(read_int(*task, task->partial_cor_storage)),
                 ny, ident, ny, [&](int64_t a, int64_t b) { return a == b ? T(1) : at(a, b) * d[a] * d[b]; });
  return kOk;
}

}  // namespace
}  // namespace zok::ss

extern "C" {

ZOK_SS_API int32_t _qordSSPartialCovariance(SSTask* task, uint64_t estimates, uint64_t method) {
  return zok::ss::partial_covariance<double>(task, estimates, method);
}
ZOK_SS_API int32_t _qorsSSPartialCovariance(SSTask* task, uint64_t estimates, uint64_t method) {
  return zok::ss::partial_covariance<float>(task, estimates, method);
}

}  // extern "C"
