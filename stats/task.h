// The summary-statistics task record, the parameter-identifier table that drives its editors, and the
// helpers that read the caller's integers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zok/summary_stats.h"

// Every pointer field is borrowed from the caller except stream_state, the cleanup list and
// kept_means, which the task owns. Integer fields point to 32- or 64-bit integers by int_width.
struct SSTask {
  int32_t int_width;  // 0: the caller's integers are 32-bit, otherwise 64-bit
  int32_t kind;
  int32_t precision;  // 1 double, 0 single
  const void* p;
  const void* n;
  const void* indices;
  const void* x;
  const void* weights;
  void* accum_weights;
  const void* x_storage;
  void* param_cor;  // output of the correlation repair
  const void* param_cor_storage;
  // moments
  void* mean;
  void* raw[3];      // raw moments 2, 3, 4
  void* central[3];  // central moments 2, 3, 4
  // sums
  void* sum;
  void* raw_sum[3];
  void* central_sum[3];
  void* kurtosis;
  void* skewness;
  void* variation;
  void* min;
  void* max;
  // matrices
  const void* cov_storage;
  void* cov;
  const void* cor_storage;
  void* cor;
  const void* cp_storage;
  void* cp;
  // pooled and group estimates
  const void* group_index;
  const void* group_selection;
  void* group_means;
  void* group_cov;
  const void* group_cov_storage;
  void* pooled_mean;
  void* pooled_cov;
  const void* pooled_cov_storage;
  // quantiles
  const void* quantile_order_count;
  const void* quantile_orders;
  void* quantiles;
  void* order_stats;
  const void* order_stats_storage;
  // stream quantiles
  const void* stream_order_count;
  const void* stream_orders;
  void* stream_quantiles;
  void* stream_state;  // owned
  const void* stream_param_count;
  const void* stream_params;
  // absolute deviations
  void* mean_abs_dev;
  void* median_abs_dev;
  // robust covariance
  const void* robust_param_count;
  const void* robust_params;
  void* robust_mean;
  void* robust_cov;
  const void* robust_cov_storage;
  // outlier detection
  const void* outlier_param_count;
  const void* outlier_params;
  void* outlier_weights;
  // partial covariance
  const void* partial_selection;
  void* partial_cov;
  const void* partial_cov_storage;
  void* partial_cor;
  const void* partial_cor_storage;
  // missing values
  const void* missing_param_count;
  const void* missing_params;
  const void* init_count;
  const void* init_estimates;
  const void* prior_count;
  const void* prior_params;
  const void* simul_count;
  void* simul_values;
  const void* estimate_count;
  void* estimates;
  // working fields of estimators that call others on a local copy of the task: the Mahalanobis
  // distances of observations [work_first, work_last) about work_mean, with work_cov the inverse
  // covariance (in the storage of work_cov_storage; full when null), into work_out
  const void* work_mean;
  const void* work_cov;
  const void* work_cov_storage;
  int64_t work_first;
  int64_t work_last;
  void* work_out;
  // cleanup list: routines deletion calls with the task, in registration order
  int32_t cleanup_count;
  void (*cleanup[1])(SSTask*);
  // sorted observations
  void* sorted;
  const void* sorted_storage;
  // owned: the means kept at the end of every call with the kept-means method
  void* kept_means;
  int64_t kept_count;  // elements of kept_means
};

namespace zok::ss {

enum Status : int32_t {
  kOk = 0,
  ErrBadId = ZOK_SS_ERR_BAD_ID,
  ErrMemory = ZOK_SS_ERR_MEMORY,
  ErrP = ZOK_SS_ERR_P,
  ErrN = ZOK_SS_ERR_N,
  ErrStorage = ZOK_SS_ERR_STORAGE,
  ErrAccumWeights = ZOK_SS_ERR_ACCUM_WEIGHTS,
  ErrBadWeight = ZOK_SS_ERR_BAD_WEIGHT,
  ErrMethod = ZOK_SS_ERR_METHOD,
  ErrNullTask = ZOK_SS_ERR_NULL_TASK,
  ErrX = ZOK_SS_ERR_X,
  ErrStoragePtr = ZOK_SS_ERR_STORAGE_PTR,
};

enum class Kind : uint8_t { kNone, kInt, kReal };

// One row per parameter identifier: what it points to, where the task keeps it, and the status an
// editor returns for a null pointer.
struct Param {
  Kind kind;
  uint16_t offset;  // of the pointer field in SSTask
  int32_t null_status;
};
extern const Param kParams[ZOK_SS_ID_COUNT + 1];  // indexed by identifier; row 0 unused

inline const void*& field(SSTask* task, int64_t id) {
  return *reinterpret_cast<const void**>(reinterpret_cast<unsigned char*>(task) + kParams[id].offset);
}

// Element i of a caller integer array in the task's integer width.
inline int64_t read_int(const SSTask& task, const void* base, int64_t i = 0) {
  if (task.int_width != 0) return static_cast<const int64_t*>(base)[i];
  return static_cast<const int32_t*>(base)[i];
}

inline constexpr int kAlignment = 128;

// Registers a routine that deletion calls with the task; false when the list is full.
bool add_cleanup(SSTask* task, void (*routine)(SSTask*));

}  // namespace zok::ss
