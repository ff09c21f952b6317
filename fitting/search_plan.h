// The search kind a task operation uses for its sites (partition hint, site hint, data hint, search
// routine) and one run of it over a group of sites; shared by the task search, interpolation and
// integration so that all of them place a site in the same cell.
#pragma once

#include <cstdint>

#include "fitting/search_kinds.h"
#include "fitting/task.h"
#include "zok/data_fitting.h"

namespace zok::df {

// Partitions up to this size are searched by counting, without the bucket index.
inline constexpr int64_t kSmallPartition = 8;

// A data-hint array: kind 0.0 (or no array) asks for nothing, kind 1.0 names a most likely cell in
// [0, nx]; anything else is refused with -1026.
struct DataHint {
  bool peak = false;
  double cell = 0.0;
};

inline int32_t read_data_hint(const double* datahint, int64_t nx, DataHint* out) {
  *out = DataHint{};
  if (datahint == nullptr) return kOk;
  const double kind = datahint[1];
  if (kind == ZOK_DF_DATA_HINT_PEAK) {
    const double cell = datahint[4];
    if (!(cell >= 0.0 && cell <= static_cast<double>(nx))) return ErrDataHint;
    *out = DataHint{true, cell};
    return kOk;
  }
  return kind == 0.0 ? kOk : ErrDataHint;
}

struct SearchPlan {
  SearchMode mode;
  bool small_partition;  // a hybrid search that counts instead
  void* aux;             // the bucket table of a hybrid search
  double param;
};

// First match wins: search routine, uniform and quasi-uniform partitions, sorted sites, a most
// likely cell, else the bucket index.
template <class T>
SearchPlan plan_search(const DfTask& task, bool has_callback, int64_t sitehint, const DataHint& hint) {
  const T* x = static_cast<const T*>(task.x);
  const int64_t nx = task.nx;
  const bool uniform = task.xhint == ZOK_DF_PARTITION_UNIFORM;
  const bool quasi = task.xhint == ZOK_DF_PARTITION_QUASI_UNIFORM;
  SearchPlan plan{SearchMode::Hybrid, false, nullptr, 0.0};
  if (uniform || quasi) {
    // Both use the scaled distance from the first point; a uniform partition keeps its last point
    // in x[1].
    const T last = uniform ? x[1] : x[nx - 1];
    plan.param = static_cast<T>(static_cast<T>(nx - 1) / (last - x[0]));
  }
  if (has_callback) {
    plan.mode = uniform ? SearchMode::UniUserDef : SearchMode::UserDef;
  } else if (uniform) {
    plan.mode = SearchMode::Uniform;
  } else if (quasi) {
    plan.mode = SearchMode::QuasiUniform;
  } else if (sitehint & ZOK_DF_SITES_SORTED) {
    plan.mode = SearchMode::Sorted;
  } else if (hint.peak) {
    plan.mode = SearchMode::Peak;
    plan.param = hint.cell;
  } else {
    plan.small_partition = nx <= kSmallPartition;
    // An index built for another partition (x or nx edited since) would misplace sites; the
    // search then bisects the whole partition.
    if (bucket_index_current(task)) {
      plan.aux = task.bucket_table;
      plan.param = task.PrecisionFlag == 1 ? task.inverse_bucket_width.d : task.inverse_bucket_width.s;
    }
  }
  return plan;
}

// Cells of n sites by the plan, node arithmetic in I, cells written as C. A sorted search starts
// its walk at `sorted_start`; `flag`, when given, lets a search routine see all n sites at once.
template <class T, class I, class C>
int32_t run_plan(const SearchPlan& plan, int64_t nx, const T* x, int64_t n, const T* site, C* cell,
                 SearchCallback<T> search_cb, const void* search_params, int32_t* flag, C sorted_start = 0) {
  SearchArgs<T> a{nx, x, n, site, plan.aux, plan.param};
  switch (plan.mode) {
    case SearchMode::Uniform:
      return search_range<SearchMode::Uniform, T, I>(a, cell, nullptr, nullptr, nullptr);
    case SearchMode::QuasiUniform:
      return search_range<SearchMode::QuasiUniform, T, I>(a, cell, nullptr, nullptr, nullptr);
    case SearchMode::Sorted: {
      C position = sorted_start;
      a.aux = &position;
      return search_range<SearchMode::Sorted, T, I>(a, cell, nullptr, nullptr, nullptr);
    }
    case SearchMode::Peak:
      return search_range<SearchMode::Peak, T, I>(a, cell, nullptr, nullptr, nullptr);
    case SearchMode::Hybrid:
      if (plan.small_partition) {
        small_partition_cells<T, I>(a, cell);
        return kOk;
      }
      return search_range<SearchMode::Hybrid, T, I>(a, cell, nullptr, nullptr, nullptr);
    case SearchMode::UserDef:
      return search_range<SearchMode::UserDef, T, I>(a, cell, search_cb, search_params, flag);
    case SearchMode::UniUserDef:
      return search_range<SearchMode::UniUserDef, T, I>(a, cell, search_cb, search_params, flag);
  }
  return kOk;
}

}  // namespace zok::df
