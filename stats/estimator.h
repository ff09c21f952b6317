// What every statistics estimator shares: the observation checks, variable selection, scratch that
// is released together, symmetric matrices in the caller's packed storage, the thread limit, the
// range driver and the vector square root, inverse and inverse square root run with the caller's mode
// word kept.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "core/thread_limit.h"
#include "frame/mode_guard.h"
#include "frame/thread_state.h"
#include "stats/task.h"
#include "zok/core_services.h"
#include "zok/vector_math.h"

namespace zok::ss {

// ---- the observations of the task ----
// n, x and the storage of x, in the order they are checked; n receives the count.
inline int32_t check_observations(const SSTask& task, int64_t* n) {
  if (task.n == nullptr || (*n = read_int(task, task.n)) < 1) return ErrN;
  if (task.x == nullptr) return ErrX;
  if (task.x_storage == nullptr) return ErrStoragePtr;
  const int64_t storage = read_int(task, task.x_storage);
  if (storage != ZOK_SS_STORAGE_ROWS && storage != ZOK_SS_STORAGE_COLUMNS) return ErrStorage;
  return kOk;
}

// Observation i of variable v is x[i*p + v] (columns storage, p > 1) or x[v*n + i].
inline bool columns_storage(const SSTask& task, int64_t p) {
  return read_int(task, task.x_storage) == ZOK_SS_STORAGE_COLUMNS && p > 1;
}

// ---- scratch memory: every block of one call, released together ----
class Scratch {
 public:
  Scratch() = default;
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    for (int i = 0; i < count_; ++i) zok_serv_deallocate(blocks_[i]);
  }
  // Zero-filled; null when memory is short or the size overflows.
  template <class U>
  U* take(int64_t elements) {
    return static_cast<U*>(allocate(elements, sizeof(U), true));
  }
  // For buffers that are written before they are read: large sort buffers skip the clearing pass.
  template <class U>
  U* take_unset(int64_t elements) {
    return static_cast<U*>(allocate(elements, sizeof(U), false));
  }

 private:
  void* allocate(int64_t elements, size_t size, bool clear) {
    if (count_ == kMax || elements < 0 ||
        static_cast<uint64_t>(elements) > std::numeric_limits<size_t>::max() / size / 2)
      return nullptr;
    const size_t bytes = (elements == 0 ? 1 : static_cast<size_t>(elements)) * size;
    void* p = zok_serv_allocate(bytes, kAlignment);
    if (p == nullptr) return nullptr;
    if (clear) std::memset(p, 0, bytes);
    blocks_[count_++] = p;
    return p;
  }

  static constexpr int kMax = 8;
  void* blocks_[kMax] = {};
  int count_ = 0;
};

// The selected variables (all of them without an indices array) in increasing order; k receives
// their number. Null when memory is short.
inline int64_t* select_variables(const SSTask& task, int64_t p, Scratch& scratch, int64_t* k) {
  int64_t* vars = scratch.take<int64_t>(p);
  if (vars == nullptr) return nullptr;
  *k = 0;
  for (int64_t j = 0; j < p; ++j)
    if (task.indices == nullptr || read_int(task, task.indices, j) != 0) vars[(*k)++] = j;
  return vars;
}

// ---- symmetric matrices in the caller's storage ----
enum class Packing { kFull, kLower, kUpper };
inline Packing packing_of(int64_t code) {
  if (code & 1) return Packing::kLower;
  if (code & 2) return Packing::kUpper;
  return Packing::kFull;
}
inline int64_t mat_index(int64_t i, int64_t j, int64_t p, Packing f) {
  switch (f) {
    case Packing::kFull:
      return i * p + j;
    case Packing::kLower:
      if (i < j) std::swap(i, j);
      return i * (i + 1) / 2 + j;
    case Packing::kUpper:
      if (i > j) std::swap(i, j);
      return i * p - i * (i - 1) / 2 + (j - i);
  }
  return 0;
}

// Reads the selected variables' block of a caller matrix into a full k x k matrix.
template <class T>
void read_matrix(const T* src, Packing f, int64_t p, const int64_t* vars, int64_t k, T* dst) {
  for (int64_t a = 0; a < k; ++a)
    for (int64_t b = 0; b < k; ++b) dst[a * k + b] = src[mat_index(vars[a], vars[b], p, f)];
}
// Writes value(a, b) into the selected variables' positions; other entries stay as they were.
template <class T, class F>
void write_matrix(T* dst, Packing f, int64_t p, const int64_t* vars, int64_t k, F value) {
  for (int64_t a = 0; a < k; ++a)
    for (int64_t b = (f == Packing::kFull ? 0 : a); b < k; ++b)
      dst[mat_index(vars[a], vars[b], p, f)] = value(a, b);
}

// ---- threads ----
// The limit a table allows for the loop entry an estimator uses: ranges of observations go through
// the parallel-run slot, which runs every index exactly once even on fewer threads; loops over
// variables through slot 0 or 1.
using core::thread_limit;

// Observations [begin, end) of range t when n observations are cut into `ranges` ranges of equal
// length, the last taking the rest.
inline std::pair<int64_t, int64_t> range_bounds(int64_t t, int64_t ranges, int64_t n) {
  const int64_t length = n / ranges;
  return {t * length, t == ranges - 1 ? n : (t + 1) * length};
}

// body(range, range, ranges, context) for every range. A single range runs in the calling thread but
// still as a region of the services: the core's regions hold BLAS to one thread, which a caller
// limited to one thread expects, and which keeps the small products of a blocked accumulation from
// waking BLAS threads for every block.
inline void run_ranges(const ThreadingServices* services, int ranges, void* context, ZokLoopBody body) {
  if (services != nullptr && services->parallel_run != nullptr) {
    services->parallel_run(ranges, context, body);
  } else {
    for (int t = 0; t < ranges; ++t) body(t, t, ranges, context);
  }
}

// body(item, thread, threads, context) for every item in [0, count) on at most `threads` threads of
// slot 0 (thread < threads); in the calling thread, as thread 0, when one thread suffices.
inline void run_items(const ThreadingServices* services, int64_t count, int threads, void* context,
                      ZokLoopBody body) {
  if (threads <= 1 || count <= 1) {
    for (int64_t i = 0; i < count; ++i) body(i, 0, 1, context);
  } else {
    services->parallel_for(count, threads, context, body);
  }
}

// ---- vector inverse square root through its kernel table ----
// The first kernel of a vector-math table applied to v in place, with denormals kept and the
// caller's mode word given back whole afterwards.
template <class T>
inline void kernel_in_place(void* const* table, int n, T* v) {
  vm::call_slot(table, vm::kSlotLA, n, v, v);
}
#define ZOK_SS_KERNEL_IN_PLACE(name, F)                \
  inline void name(int n, double* v) {                 \
    kernel_in_place(zok_yub_kernel_d##F##_ttab, n, v); \
  }                                                    \
  inline void name(int n, float* v) {                  \
    kernel_in_place(zok_yub_kernel_s##F##_ttab, n, v); \
  }
ZOK_SS_KERNEL_IN_PLACE(inv_sqrt_in_place, InvSqrt)
ZOK_SS_KERNEL_IN_PLACE(sqrt_in_place, Sqrt)
ZOK_SS_KERNEL_IN_PLACE(inv_in_place, Inv)
#undef ZOK_SS_KERNEL_IN_PLACE

}  // namespace zok::ss
