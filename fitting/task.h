// The data-fitting task record, its status codes and the bucket index of its partition, shared by
// the editors, the searches and the spline code.
#pragma once

#include <cstdint>

#include "zok/data_fitting.h"

namespace zok::df {

enum Status : int32_t {
  kOk = 0,
  ErrNullTask = ZOK_DF_ERR_NULL_TASK,
  ErrMemory = ZOK_DF_ERR_MEMORY,
  ErrMethod = ZOK_DF_ERR_METHOD,
  ErrNx = ZOK_DF_ERR_NX,
  ErrX = ZOK_DF_ERR_X,
  ErrXHint = ZOK_DF_ERR_X_HINT,
  ErrNy = ZOK_DF_ERR_NY,
  ErrY = ZOK_DF_ERR_Y,
  ErrYHint = ZOK_DF_ERR_Y_HINT,
  ErrSplineOrder = ZOK_DF_ERR_SPLINE_ORDER,
  ErrSplineType = ZOK_DF_ERR_SPLINE_TYPE,
  ErrIcType = ZOK_DF_ERR_IC_TYPE,
  ErrIc = ZOK_DF_ERR_IC,
  ErrBcType = ZOK_DF_ERR_BC_TYPE,
  ErrBc = ZOK_DF_ERR_BC,
  ErrCoeff = ZOK_DF_ERR_COEFF,
  ErrCoeffHint = ZOK_DF_ERR_COEFF_HINT,
  ErrPeriodicValues = ZOK_DF_ERR_PERIODIC_VALUES,
  ErrAttribute = ZOK_DF_ERR_ATTRIBUTE,
  ErrIndex = ZOK_DF_ERR_INDEX,
  ErrSiteNotNode = ZOK_DF_ERR_SITE_NOT_NODE,
  ErrLookupOrderCount = ZOK_DF_ERR_LOOKUP_ORDER_COUNT,
  ErrLookupValue = ZOK_DF_ERR_LOOKUP_VALUE,
  ErrDataHint = ZOK_DF_ERR_DATA_HINT,
  ErrResultHint = ZOK_DF_ERR_RESULT_HINT,
  ErrIntegralHint = ZOK_DF_ERR_INTEGRAL_HINT,
  ErrFlagValue = ZOK_DF_ERR_FLAG_VALUE,
  ErrNullResult = ZOK_DF_ERR_NULL_RESULT,
  ErrSolver = ZOK_DF_ERR_SOLVER,
};

// Bucket counts lie in [kMinBuckets, kMaxBuckets]; the table has room for entry B + 1, which the
// build may write for nodes whose bucket number rounds up to B.
inline constexpr int64_t kNodesPerBucket = 16;
inline constexpr int64_t kMinBuckets = 16;
inline constexpr int64_t kMaxBuckets = 1024;
inline constexpr int64_t kBucketEntries = kMaxBuckets + 2;
// Marks an entry half that the build has not set yet.
inline constexpr uint64_t kUnset = ~uint64_t{0};

inline constexpr uint8_t kTaskKind = 4;

}  // namespace zok::df

// Laid out in the order the core library expects; the fields after `inverse_bucket_width` are this
// library's own bookkeeping.
struct DfTask {
  uint32_t IntWidthFlag;  // 0: the caller's integers are 32-bit
  uint8_t kind;
  int32_t PrecisionFlag;   // 1 double, 0 single
  int32_t DimensionField;  // edits and queries act only while it is 1
  int64_t nx;
  const void* x;
  int64_t xhint;
  int64_t ny;
  const void** y;  // value pointers, null while no values are given
  int64_t yhint;
  int64_t s_order;
  int64_t s_type;
  int64_t ic_type;
  const void* ic;
  int64_t bc_type;
  const void* bc;
  void** scoeff;  // coefficient pointers
  int64_t scoeffhint;
  int32_t CallerFlag;
  int64_t bucket_count;    // B, 0 while there is no index
  uint64_t* bucket_table;  // kBucketEntries pairs (lo, hi)
  union {
    double d;
    float s;
  } inverse_bucket_width;

  // Slots allocated in `y` and `scoeff`. ny, yhint and the storage can change after the arrays were
  // made, so every indexed access is bounded by these, not by ny.
  int64_t y_slots;
  int64_t scoeff_slots;
  // The partition the bucket index was built for; a search does not trust an index built for
  // another x or nx.
  const void* index_x;
  int64_t index_nx;
};

namespace zok::df {

// Value pointer of function f, or null when the task has none for it.
inline const void* value_pointer(const DfTask& task, int64_t f) {
  return f >= 0 && f < task.y_slots ? task.y[f] : nullptr;
}

// Coefficient pointer of function f, or null when the task has none for it.
inline void* coeff_pointer(const DfTask& task, int64_t f) {
  return f >= 0 && f < task.scoeff_slots ? task.scoeff[f] : nullptr;
}

// True when the bucket index describes the task's current partition.
inline bool bucket_index_current(const DfTask& task) {
  return task.bucket_count > 0 && task.bucket_table != nullptr && task.index_x == task.x &&
         task.index_nx == task.nx;
}

// Builds the bucket index of nx ascending points x into table (kBucketEntries pairs); returns B and
// stores 1/w in *inverse_width.
int64_t build_bucket_index(int64_t nx, const double* x, uint64_t* table, double* inverse_width);
int64_t build_bucket_index(int64_t nx, const float* x, uint64_t* table, float* inverse_width);

}  // namespace zok::df
