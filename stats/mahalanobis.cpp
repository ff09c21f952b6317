// Mahalanobis distances of a range of observations about a mean under an inverse covariance: centred
// blocks multiplied by the symmetric matrix, then one dot product per observation.
#include <algorithm>
#include <cmath>

#include "stats/derived.h"
#include "stats/estimator.h"
#include "stats/task.h"

namespace zok::ss {
namespace {

constexpr int64_t kBlockRows = 1024;

template <class T>
int32_t mah_distance(SSTask* task, uint64_t, uint64_t, const ThreadingServices*) {
  if (task == nullptr) return ErrNullTask;
  // Only the library's estimators set the working inputs; a caller's task does not have them.
  if (task->work_mean == nullptr || task->work_cov == nullptr || task->work_out == nullptr ||
      task->x == nullptr || task->n == nullptr || task->x_storage == nullptr)
    return ErrMethod;
  const int64_t p = read_int(*task, task->p), n = read_int(*task, task->n);
  const int64_t first = task->work_first, last = task->work_last;
  if (p < 1 || p > 46340 || first < 0 || last > n || first > last) return ErrMethod;
  const T* x = static_cast<const T*>(task->x);
  const T* mean = static_cast<const T*>(task->work_mean);
  const T* s = static_cast<const T*>(task->work_cov);
  T* out = static_cast<T*>(task->work_out);
  const bool cols = columns_storage(*task, p);
  auto at = [&](int64_t i, int64_t v) { return cols ? x[i * p + v] : x[v * n + i]; };
  if (p == 1) {
    for (int64_t i = first; i < last; ++i) {
      const T d = x[i] - mean[0];
      out[i - first] = std::sqrt(std::max(T(0), s[0] * d * d));
    }
    return kOk;
  }
  const Packing f = task->work_cov_storage == nullptr ? Packing::kFull
                                                      : packing_of(read_int(*task, task->work_cov_storage));
  const int64_t rows = std::min(kBlockRows, std::max<int64_t>(last - first, 1));
  Scratch scratch;
  T* z = scratch.take_unset<T>(2 * rows * p + (f == Packing::kFull ? 0 : p * p));
  if (z == nullptr) return ErrMemory;
  T* y = z + rows * p;
  if (f != Packing::kFull) {
    // Expanded into the lower triangle, row-major: the upper one of the column-major view symm reads.
    T* full = y + rows * p;
    for (int64_t i = 0; i < p; ++i)
      for (int64_t j = 0; j <= i; ++j) full[i * p + j] = s[mat_index(i, j, p, f)];
    s = full;
  }
  for (int64_t b = first; b < last; b += rows) {
    const int64_t nb = std::min(rows, last - b);
    for (int64_t r = 0; r < nb; ++r)
      for (int64_t v = 0; v < p; ++v) z[r * p + v] = at(b + r, v) - mean[v];
    symm_left_upper(static_cast<int>(p), static_cast<int>(nb), s, z, y);
    for (int64_t r = 0; r < nb; ++r) {
      T dot = 0;
      for (int64_t v = 0; v < p; ++v) dot += z[r * p + v] * y[r * p + v];
      // Rounding can take the form of a positive definite matrix just below zero.
      out[b + r - first] = std::sqrt(std::max(T(0), dot));
    }
  }
  return kOk;
}

}  // namespace
}  // namespace zok::ss

extern "C" {

ZOK_SS_API int32_t _qordSSMahDistance(SSTask* task, uint64_t estimates, uint64_t method,
                                      const ThreadingServices* services) {
  return zok::ss::mah_distance<double>(task, estimates, method, services);
}
ZOK_SS_API int32_t _qorsSSMahDistance(SSTask* task, uint64_t estimates, uint64_t method,
                                      const ThreadingServices* services) {
  return zok::ss::mah_distance<float>(task, estimates, method, services);
}

}  // extern "C"
