// Merging two partial results of the basic statistics and the running extremes: the exported entries,
// the checks that come before any write, and the minimum and maximum.
#include "stats/merge.h"

#include <type_traits>

#include "stats/estimator.h"
#include "stats/task.h"

namespace zok::ss {
namespace {

// Every estimate of the basic statistics has a merge; quantiles, order statistics, deviations and the
// derived and robust estimates do not, since they are not functions of the parts' results.
#define ESTIMATE(name, mask, ...) | (mask)
constexpr uint64_t kMomentEstimates = 0
#include "stats/basic_estimates.def"
    ;
#undef ESTIMATE
constexpr uint64_t kExtremes = ZOK_SS_MIN | ZOK_SS_MAX;

template <class T>
int32_t merge(SSTask* task, SSTask* other, uint64_t estimates) {
  if (task == nullptr || other == nullptr) return ErrNullTask;
  if ((estimates & ~(kMomentEstimates | kExtremes)) != 0) return ZOK_SS_ERR_NOT_MERGEABLE;
  if (task->p == nullptr || other->p == nullptr) return ErrP;
  const int64_t p = read_int(*task, task->p);
  if (p < 1) return ErrP;
  const int32_t precision = std::is_same_v<T, double> ? 1 : 0;
  if (read_int(*other, other->p) != p || task->precision != precision || other->precision != precision)
    return ZOK_SS_ERR_MERGE_MISMATCH;
  const bool want_min = (estimates & ZOK_SS_MIN) != 0, want_max = (estimates & ZOK_SS_MAX) != 0;
  if (want_min && (task->min == nullptr || other->min == nullptr)) return ZOK_SS_ERR_MIN;
  if (want_max && (task->max == nullptr || other->max == nullptr)) return ZOK_SS_ERR_MAX;
  Scratch scratch;
  int64_t k = 0;
  const int64_t* vars = select_variables(*task, p, scratch, &k);
  if (vars == nullptr) return ErrMemory;
  // The moments check everything of theirs before they write; the extremes cannot fail after that.
  if ((estimates & kMomentEstimates) != 0) {
    const int32_t status = merge_basic<T>(task, other, estimates & kMomentEstimates);
    if (status != kOk) return status;
  }
  // The comparisons of the running extremes: a NaN on task's side stays, one on other's side is passed.
  T* mins = static_cast<T*>(task->min);
  T* maxs = static_cast<T*>(task->max);
  const T* omins = static_cast<const T*>(other->min);
  const T* omaxs = static_cast<const T*>(other->max);
  for (int64_t j = 0; j < k; ++j) {
    const int64_t v = vars[j];
    if (want_min && omins[v] < mins[v]) mins[v] = omins[v];
    if (want_max && omaxs[v] > maxs[v]) maxs[v] = omaxs[v];
  }
  return kOk;
}

}  // namespace
}  // namespace zok::ss

extern "C" {

ZOK_SS_API int32_t _qordSSMerge(SSTask* task, const SSTask* other, uint64_t estimates) {
  return zok::ss::merge<double>(task, const_cast<SSTask*>(other), estimates);
}
ZOK_SS_API int32_t _qorsSSMerge(SSTask* task, const SSTask* other, uint64_t estimates) {
  return zok::ss::merge<float>(task, const_cast<SSTask*>(other), estimates);
}

}  // extern "C"
