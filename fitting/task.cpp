// Data-fitting tasks: creation, the spline-settings, pointer and integer editors, the queries,
// deletion, and the bucket index of the partition.
#include "fitting/task.h"

#include <cstring>
#include <limits>

#include "zok/core_services.h"

namespace zok::df {

namespace {

constexpr int kAlignment = 128;

bool valid_xhint(int64_t h) {
  return h == 0 || h == 1 || h == 2 || h == ZOK_DF_PARTITION_UNIFORM;
}
bool valid_storage_hint(int64_t h) {
  return h == 0 || h == 16 || h == 32 || h == 128;
}

template <class P>
P* allocate_slots(int64_t count) {
  if (count < 0 || static_cast<uint64_t>(count) > std::numeric_limits<size_t>::max() / sizeof(P))
    return nullptr;
  return static_cast<P*>(zok_serv_allocate(static_cast<size_t>(count) * sizeof(P), kAlignment));
}

// Address of element `index` of a caller array, in unsigned arithmetic: the caller's layout may put
// it anywhere, and no element is read here.
template <class P>
P element_address(P base, uint64_t elements, int64_t elem_size) {
  return reinterpret_cast<P>(reinterpret_cast<uintptr_t>(base) + elements * static_cast<uint64_t>(elem_size));
}

void release_values(DfTask* t) {
  zok_serv_deallocate(t->y);
  t->y = nullptr;
  t->y_slots = 0;
}

void release_coeffs(DfTask* t) {
  zok_serv_deallocate(t->scoeff);
  t->scoeff = nullptr;
  t->scoeff_slots = 0;
}

// Value pointers for y of ny functions on nx points in storage `yhint`; the old ones are gone first,
// so a failure leaves the task without values.
int32_t make_values(DfTask* t, const void* y, int64_t nx, int64_t ny, int64_t yhint, int64_t elem_size) {
  release_values(t);
  const int64_t slots = yhint == ZOK_DF_VALUES_BY_COLUMNS ? 1 : ny;
  const void** p = allocate_slots<const void*>(slots);
  if (p == nullptr) return ErrMemory;
  for (int64_t f = 0; f < slots; ++f) {
    if (yhint == ZOK_DF_VALUES_FIRST_ONLY) {
      p[f] = f == 0 ? y : nullptr;
    } else {
      p[f] = element_address(y, static_cast<uint64_t>(f) * static_cast<uint64_t>(nx), elem_size);
    }
  }
  t->y = p;
  t->y_slots = slots;
  return kOk;
}

// Coefficient pointers: function f starts s_order*(nx-1) elements after function f-1 (s_order*nx
// for spline type 1, whose construction keeps a cell beyond the last point).
int32_t make_coeffs(DfTask* t, void* scoeff, int64_t scoeffhint, int64_t elem_size) {
  release_coeffs(t);
  void** p = allocate_slots<void*>(t->ny);
  if (p == nullptr) return ErrMemory;
  const uint64_t cells = static_cast<uint64_t>(t->s_type == 1 ? t->nx : t->nx - 1);
  const uint64_t stride = static_cast<uint64_t>(t->s_order) * cells;
  for (int64_t f = 0; f < t->ny; ++f) {
    if (scoeffhint & ZOK_DF_COEFF_FIRST_ONLY) {
      p[f] = f == 0 ? scoeff : nullptr;
    } else {
      p[f] = element_address(scoeff, static_cast<uint64_t>(f) * stride, elem_size);
    }
  }
  t->scoeff = p;
  t->scoeff_slots = t->ny;
  return kOk;
}

// Makes room for slot `index` of a pointer array whose size was fixed under an older ny or storage:
// the array grows to ny slots, keeping the set ones and leaving the new ones empty.
template <class P>
int32_t ensure_slot(P*& array, int64_t& slots, int64_t index, int64_t ny) {
  if (index < slots) return kOk;
  P* grown = allocate_slots<P>(ny);
  if (grown == nullptr) return ErrMemory;
  for (int64_t f = 0; f < ny; ++f) grown[f] = f < slots ? array[f] : nullptr;
  zok_serv_deallocate(array);
  array = grown;
  slots = ny;
  return kOk;
}

// Bucket of a point at scaled distance v = (x - x[0]) / w from the first point. For an ascending
// partition v lies in [0, B] and this is plain truncation; the bounds keep an unordered or
// degenerate partition from writing outside the table.
template <class T>
int64_t bucket_of(T v, int64_t buckets) {
  if (!(v > T(0))) return 0;
  if (v >= static_cast<T>(buckets)) return buckets;
  return static_cast<int64_t>(v);
}

template <class T>
int64_t build_index(int64_t nx, const T* x, uint64_t* table, T* inverse_width) {
  int64_t buckets = nx / kNodesPerBucket;
  if (buckets < kMinBuckets) buckets = kMinBuckets;
  if (buckets > kMaxBuckets) buckets = kMaxBuckets;
  uint64_t* lo = table;
  uint64_t* hi = table + 1;
  auto at = [](int64_t j) { return 2 * j; };
  for (int64_t j = 0; j < buckets; ++j) lo[at(j)] = hi[at(j)] = kUnset;
  const T w = (x[nx - 1] - x[0]) / static_cast<T>(buckets);
  const T inv = T(1) / w;
  *inverse_width = inv;
  lo[at(0)] = 0;
  // Node i bounds the buckets around its own: it is the first node above bucket k-1 (when none came
  // before) and, being the latest node not above bucket k+1, the lower bound of that bucket.
  for (int64_t i = 1; i < nx; ++i) {
    const int64_t k = bucket_of((x[i] - x[0]) * inv, buckets);
    if (k != 0) {
      if (hi[at(k - 1)] == kUnset) hi[at(k - 1)] = static_cast<uint64_t>(i);
      lo[at(k + 1)] = static_cast<uint64_t>(i);
    }
  }
  hi[at(buckets - 1)] = static_cast<uint64_t>(nx - 1);
  for (int64_t j = 1; j < buckets; ++j)
    if (lo[at(j)] == kUnset) lo[at(j)] = lo[at(j - 1)];
  for (int64_t j = buckets - 2; j >= 0; --j)
    if (hi[at(j)] == kUnset) hi[at(j)] = hi[at(j + 1)];
  // A site just below x[nx-1] can round to bucket B; it shares bucket B-1's bounds.
  lo[at(buckets)] = lo[at(buckets - 1)];
  hi[at(buckets)] = hi[at(buckets - 1)];
  return buckets;
}

int32_t rebuild_index(DfTask* t) {
  if (t->bucket_table == nullptr) {
    t->bucket_table = allocate_slots<uint64_t>(2 * kBucketEntries);
    if (t->bucket_table == nullptr) return ErrMemory;
    std::memset(t->bucket_table, 0, 2 * kBucketEntries * sizeof(uint64_t));
  }
  if (t->PrecisionFlag == 1) {
    t->bucket_count =
        build_index(t->nx, static_cast<const double*>(t->x), t->bucket_table, &t->inverse_bucket_width.d);
  } else {
    t->bucket_count =
        build_index(t->nx, static_cast<const float*>(t->x), t->bucket_table, &t->inverse_bucket_width.s);
  }
  t->index_x = t->x;
  t->index_nx = t->nx;
  return kOk;
}

template <class T>
int32_t new_task(DfTask** task, int64_t nx, const T* x, int64_t xhint, int64_t ny, const T* y, int64_t yhint,
                 int32_t int_width_flag) {
  if (task == nullptr) return ErrNullTask;
  if (nx < 2) return ErrNx;
  if (x == nullptr) return ErrX;
  if (!valid_xhint(xhint)) return ErrXHint;
  if (ny < 0) return ErrNy;
  if (ny != 0 && y == nullptr) return ErrY;
  if (ny == 0 && y != nullptr) return ErrNy;
  if (!valid_storage_hint(yhint)) return ErrYHint;

  DfTask* t = static_cast<DfTask*>(zok_serv_allocate(sizeof(DfTask), kAlignment));
  *task = t;
  if (t == nullptr) return ErrMemory;
  std::memset(static_cast<void*>(t), 0, sizeof(DfTask));
  t->nx = nx;
  t->x = x;
  t->xhint = xhint;
  if (y != nullptr) {
    const int32_t rc = make_values(t, y, nx, ny, yhint, sizeof(T));
    if (rc != kOk) return rc;
  }
  t->ny = ny;
  t->yhint = yhint;
  t->IntWidthFlag = static_cast<uint32_t>(int_width_flag);
  t->kind = kTaskKind;
  t->PrecisionFlag = sizeof(T) == sizeof(double) ? 1 : 0;
  t->DimensionField = 1;
  if (xhint == ZOK_DF_PARTITION_UNIFORM) {
    t->bucket_table = allocate_slots<uint64_t>(2 * kBucketEntries);
    if (t->bucket_table == nullptr) return ErrMemory;
    std::memset(t->bucket_table, 0, 2 * kBucketEntries * sizeof(uint64_t));
    return kOk;
  }
  return rebuild_index(t);
}

template <class T>
int32_t edit_spline(DfTask* t, int64_t s_order, int64_t s_type, int64_t bc_type, const T* bc, int64_t ic_type,
                    const T* ic, T* scoeff, int64_t scoeffhint) {
  if (t == nullptr) return ErrNullTask;
  if (s_order < 0) return ErrSplineOrder;
  if (s_type < 0) return ErrSplineType;
  t->s_order = s_order;
  t->s_type = s_type;
  const bool bc_without_values = bc_type == 0 || bc_type == 1 || bc_type == 2 || bc_type == 64;
  if (!bc_without_values && bc == nullptr) return ErrBc;
  t->bc_type = bc_type;
  t->bc = bc;
  if (ic_type != 0 && ic == nullptr) return ErrIc;
  if (ic_type == 0 && ic != nullptr) return ErrIcType;
  t->ic_type = ic_type;
  t->ic = ic;
  if (scoeff != nullptr) {
    if (t->ny == 0) return ErrNy;
    const int32_t rc = make_coeffs(t, scoeff, scoeffhint, sizeof(T));
    if (rc != kOk) return rc;
  }
  t->scoeffhint = scoeffhint;
  return kOk;
}

template <class T>
int32_t edit_ptr(DfTask* t, int32_t attribute, const T* ptr) {
  if (t == nullptr) return ErrNullTask;
  if (t->DimensionField != 1) return kOk;
  switch (attribute) {
    case ZOK_DF_ATTR_X:
      if (ptr == nullptr) return ErrX;
      t->x = ptr;
      return kOk;
    case ZOK_DF_ATTR_Y:
      if (ptr == nullptr) return ErrY;
      // Without functions the task could keep no pointer to the new values.
      if (t->ny == 0) return ErrNy;
      return make_values(t, ptr, t->nx, t->ny, t->yhint, sizeof(T));
    case ZOK_DF_ATTR_IC:
      if (ptr == nullptr) return ErrIc;
      t->ic = ptr;
      return kOk;
    case ZOK_DF_ATTR_BC:
      if (ptr == nullptr) return ErrBc;
      t->bc = ptr;
      return kOk;
    case ZOK_DF_ATTR_SCOEFF:
      if (ptr == nullptr) return ErrCoeff;
      if (t->ny == 0) return ErrNy;
      return make_coeffs(t, const_cast<T*>(ptr), t->scoeffhint, sizeof(T));
    default:
      return ErrAttribute;
  }
}

int32_t edit_idx_ptr(DfTask* t, int32_t attribute, int64_t index, const void* ptr) {
  if (t == nullptr) return ErrNullTask;
  if (t->DimensionField != 1) return kOk;
  const bool in_range = index >= 0 && index < t->ny;
  if (attribute == ZOK_DF_ATTR_Y) {
    if (t->yhint == ZOK_DF_VALUES_BY_COLUMNS) return ErrYHint;
    if (!in_range) return ErrIndex;
    if (ptr == nullptr) return ErrY;
    const int32_t rc = ensure_slot(t->y, t->y_slots, index, t->ny);
    if (rc != kOk) return rc;
    t->y[index] = ptr;
    return kOk;
  }
  if (attribute == ZOK_DF_ATTR_SCOEFF) {
    if (!in_range) return ErrIndex;
    if (ptr == nullptr) return ErrCoeff;
    const int32_t rc = ensure_slot(t->scoeff, t->scoeff_slots, index, t->ny);
    if (rc != kOk) return rc;
    t->scoeff[index] = const_cast<void*>(ptr);
    return kOk;
  }
  return ErrAttribute;
}

int32_t edit_val(DfTask* t, int32_t attribute, int64_t v) {
  if (t == nullptr) return ErrNullTask;
  if (t->DimensionField != 1) return kOk;
  switch (attribute) {
    case ZOK_DF_ATTR_NX:
      if (v < 2) return ErrNx;
      t->nx = v;
      return kOk;
    case ZOK_DF_ATTR_XHINT:
      if (!valid_xhint(v)) return ErrXHint;
      t->xhint = v;
      return v == ZOK_DF_PARTITION_NON_UNIFORM ? rebuild_index(t) : kOk;
    case ZOK_DF_ATTR_NY:
      if (v < 1) return ErrNy;
      t->ny = v;
      return kOk;
    case ZOK_DF_ATTR_YHINT:
      if (!valid_storage_hint(v)) return ErrYHint;
      t->yhint = v;
      return kOk;
    case ZOK_DF_ATTR_SPLINE_ORDER:
      if (v < 0) return ErrSplineOrder;
      t->s_order = v;
      return kOk;
    case ZOK_DF_ATTR_SPLINE_TYPE:
      if (v < 0 || v > 5) return ErrSplineType;
      t->s_type = v;
      return kOk;
    case ZOK_DF_ATTR_IC_TYPE:
      if (!(v == 0 || v == 1 || v == 2 || (v & 8) != 0)) return ErrIcType;
      t->ic_type = v;
      return kOk;
    case ZOK_DF_ATTR_BC_TYPE:
      if (v < 0) return ErrBcType;
      t->bc_type = v;
      return kOk;
    case ZOK_DF_ATTR_SCOEFFHINT:
      if (!valid_storage_hint(v)) return ErrCoeffHint;
      t->scoeffhint = v;
      return kOk;
    case ZOK_DF_ATTR_CALLER_FLAG:
      if (v != 0 && v != 1) return ErrFlagValue;
      t->CallerFlag = static_cast<int32_t>(v);
      return kOk;
    default:
      return ErrAttribute;
  }
}

int32_t query_val(const DfTask* t, int32_t attribute, void* result) {
  if (t == nullptr) return ErrNullTask;
  if (result == nullptr) return ErrNullResult;
  if (t->DimensionField != 1) return kOk;
  int64_t v = 0;
  switch (attribute) {
    case ZOK_DF_ATTR_NX:
      v = t->nx;
      break;
    case ZOK_DF_ATTR_XHINT:
      v = t->xhint;
      break;
    case ZOK_DF_ATTR_NY:
      v = t->ny;
      break;
    case ZOK_DF_ATTR_YHINT:
      v = t->yhint;
      break;
    case ZOK_DF_ATTR_SPLINE_ORDER:
      v = t->s_order;
      break;
    case ZOK_DF_ATTR_SPLINE_TYPE:
      v = t->s_type;
      break;
    case ZOK_DF_ATTR_IC_TYPE:
      v = t->ic_type;
      break;
    case ZOK_DF_ATTR_BC_TYPE:
      v = t->bc_type;
      break;
    case ZOK_DF_ATTR_SCOEFFHINT:
      v = t->scoeffhint;
      break;
    case ZOK_DF_ATTR_CALLER_FLAG:
      v = t->CallerFlag;
      break;
    default:
      return ErrAttribute;
  }
  // The caller's integer may be only 4 bytes wide: never write more than it has.
  if (t->IntWidthFlag == 0) {
    const int32_t narrow = static_cast<int32_t>(static_cast<uint32_t>(v));
    std::memcpy(result, &narrow, sizeof narrow);
  } else {
    std::memcpy(result, &v, sizeof v);
  }
  return kOk;
}

int32_t query_ptr(const DfTask* t, int32_t attribute, void* result) {
  if (t == nullptr) return ErrNullTask;
  if (result == nullptr) return ErrNullResult;
  if (t->DimensionField != 1) return kOk;
  const void* p = nullptr;
  switch (attribute) {
    case ZOK_DF_ATTR_X:
      p = t->x;
      break;
    case ZOK_DF_ATTR_Y:
      p = value_pointer(*t, 0);
      break;
    case ZOK_DF_ATTR_IC:
      p = t->ic;
      break;
    case ZOK_DF_ATTR_BC:
      p = t->bc;
      break;
    case ZOK_DF_ATTR_SCOEFF:
      p = coeff_pointer(*t, 0);
      break;
    default:
      return ErrAttribute;
  }
  std::memcpy(result, &p, sizeof p);
  return kOk;
}

int32_t query_idx_ptr(const DfTask* t, int32_t attribute, int64_t index, void* result) {
  if (t == nullptr) return ErrNullTask;
  if (result == nullptr) return ErrNullResult;
  if (index < 0 || index >= t->ny) return ErrIndex;
  if (t->DimensionField != 1) return kOk;
  const void* p = nullptr;
  if (attribute == ZOK_DF_ATTR_Y) {
    if (t->yhint == ZOK_DF_VALUES_BY_COLUMNS) return ErrYHint;
    p = value_pointer(*t, index);
  } else if (attribute == ZOK_DF_ATTR_SCOEFF) {
    p = coeff_pointer(*t, index);
  } else {
    return ErrAttribute;
  }
  std::memcpy(result, &p, sizeof p);
  return kOk;
}

int32_t delete_task(DfTask** task) {
  if (task == nullptr || *task == nullptr) return ErrNullTask;
  DfTask* t = *task;
  zok_serv_deallocate(t->y);
  zok_serv_deallocate(t->scoeff);
  zok_serv_deallocate(t->bucket_table);
  zok_serv_deallocate(t);
  *task = nullptr;
  return kOk;
}

}  // namespace

int64_t build_bucket_index(int64_t nx, const double* x, uint64_t* table, double* inverse_width) {
  return build_index(nx, x, table, inverse_width);
}
int64_t build_bucket_index(int64_t nx, const float* x, uint64_t* table, float* inverse_width) {
  return build_index(nx, x, table, inverse_width);
}

}  // namespace zok::df

using namespace zok::df;

extern "C" {

ZOK_DF_API int32_t zok_df_kernel_dNewTask1D(DfTask** task, int64_t nx, const double* x, int64_t xhint,
                                            int64_t ny, const double* y, int64_t yhint,
                                            int32_t int_width_flag) {
  return new_task(task, nx, x, xhint, ny, y, yhint, int_width_flag);
}
ZOK_DF_API int32_t zok_df_kernel_sNewTask1D(DfTask** task, int64_t nx, const float* x, int64_t xhint,
                                            int64_t ny, const float* y, int64_t yhint,
                                            int32_t int_width_flag) {
  return new_task(task, nx, x, xhint, ny, y, yhint, int_width_flag);
}

ZOK_DF_API int32_t zok_df_kernel_dEditPPSpline1D(DfTask* task, int64_t s_order, int64_t s_type,
                                                 int64_t bc_type, const double* bc, int64_t ic_type,
                                                 const double* ic, double* scoeff, int64_t scoeffhint) {
  return edit_spline(task, s_order, s_type, bc_type, bc, ic_type, ic, scoeff, scoeffhint);
}
ZOK_DF_API int32_t zok_df_kernel_sEditPPSpline1D(DfTask* task, int64_t s_order, int64_t s_type,
                                                 int64_t bc_type, const float* bc, int64_t ic_type,
                                                 const float* ic, float* scoeff, int64_t scoeffhint) {
  return edit_spline(task, s_order, s_type, bc_type, bc, ic_type, ic, scoeff, scoeffhint);
}

ZOK_DF_API int32_t zok_df_kernel_dEditPtr(DfTask* task, int32_t attribute, const double* ptr) {
  return edit_ptr(task, attribute, ptr);
}
ZOK_DF_API int32_t zok_df_kernel_sEditPtr(DfTask* task, int32_t attribute, const float* ptr) {
  return edit_ptr(task, attribute, ptr);
}

ZOK_DF_API int32_t zok_df_kernel_dEditIdxPtr(DfTask* task, int32_t attribute, int64_t index,
                                             const void* ptr) {
  return edit_idx_ptr(task, attribute, index, ptr);
}
ZOK_DF_API int32_t zok_df_kernel_sEditIdxPtr(DfTask* task, int32_t attribute, int64_t index,
                                             const void* ptr) {
  return edit_idx_ptr(task, attribute, index, ptr);
}

ZOK_DF_API int32_t zok_df_kernel_iEditVal(DfTask* task, int32_t attribute, int64_t value) {
  return edit_val(task, attribute, value);
}

ZOK_DF_API int32_t zok_df_kernel_iQueryVal(const DfTask* task, int32_t attribute, void* result) {
  return query_val(task, attribute, result);
}

ZOK_DF_API int32_t zok_df_kernel_dQueryPtr(const DfTask* task, int32_t attribute, void* result) {
  return query_ptr(task, attribute, result);
}
ZOK_DF_API int32_t zok_df_kernel_sQueryPtr(const DfTask* task, int32_t attribute, void* result) {
  return query_ptr(task, attribute, result);
}

ZOK_DF_API int32_t zok_df_kernel_dQueryIdxPtr(const DfTask* task, int32_t attribute, int64_t index,
                                              void* result) {
  return query_idx_ptr(task, attribute, index, result);
}
ZOK_DF_API int32_t zok_df_kernel_sQueryIdxPtr(const DfTask* task, int32_t attribute, int64_t index,
                                              void* result) {
  return query_idx_ptr(task, attribute, index, result);
}

ZOK_DF_API int32_t zok_df_kernel_DeleteTask(DfTask** task) {
  return delete_task(task);
}

}  // extern "C"
