// Cell search of a task: the choice of search kind, generated sites, and when large searches are
// split over the threads of the ThreadingServices table.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/thread_limit.h"
#include "fitting/search_kinds.h"
#include "fitting/site_driver.h"
#include "fitting/task.h"
#include "zok/core_services.h"
#include "zok/data_fitting.h"

namespace zok::df {
namespace {

// Fewer sites than this are searched at once in the calling thread.
constexpr int64_t kInlineSites = 32;
// Generated sites up to this count live on the stack.
constexpr int64_t kStackSites = 4096;
// Partitions up to this size are searched by counting, without the bucket index.
constexpr int64_t kSmallPartition = 8;

// The point from which splitting pays, by kind: the cheaper a site, the more sites it takes.
Split split_for(SearchMode mode, int64_t n, int threads) {
  if (threads <= 1) return Split::kNone;
  switch (mode) {
    case SearchMode::Uniform:
      return n > 1000 ? Split::kChunks : Split::kNone;
    case SearchMode::Sorted:
      return n > 3000 ? Split::kChunks : Split::kNone;
    case SearchMode::Hybrid:
      return n > 1200 || (n >= 601 && threads < 5) || (n >= 301 && n <= 600 && threads == 2) ? Split::kGroups
                                                                                             : Split::kNone;
    case SearchMode::QuasiUniform:
    case SearchMode::Peak:
      return n > 1200 ? Split::kChunks : Split::kNone;
    case SearchMode::UserDef:
    case SearchMode::UniUserDef:
      return n > 600 ? Split::kGroups : Split::kNone;
  }
  return Split::kNone;
}

template <class T, class C>
struct Job {
  SearchMode mode;
  bool small_partition;
  SearchArgs<T> args;  // all sites
  C* cell;
  SearchCallback<T> search_cb;
  const void* search_params;
};

template <class T, class I, class C>
int32_t run_sites(const Job<T, C>& job, int64_t begin, int64_t end) {
  SearchArgs<T> a = job.args;
  a.site += begin;
  a.nsite = end - begin;
  C* cell = job.cell + begin;
  switch (job.mode) {
    case SearchMode::Uniform:
      return search_range<SearchMode::Uniform, T, I>(a, cell, nullptr, nullptr, nullptr);
    case SearchMode::QuasiUniform:
      return search_range<SearchMode::QuasiUniform, T, I>(a, cell, nullptr, nullptr, nullptr);
    case SearchMode::Sorted: {
      // Every piece of the sites starts its own walk from the beginning of the partition.
      C position = 0;
      a.aux = &position;
      return search_range<SearchMode::Sorted, T, I>(a, cell, nullptr, nullptr, nullptr);
    }
    case SearchMode::Peak:
      return search_range<SearchMode::Peak, T, I>(a, cell, nullptr, nullptr, nullptr);
    case SearchMode::Hybrid:
      if (job.small_partition) {
        small_partition_cells<T, I>(a, cell);
        return kOk;
      }
      return search_range<SearchMode::Hybrid, T, I>(a, cell, nullptr, nullptr, nullptr);
    case SearchMode::UserDef:
      return search_range<SearchMode::UserDef, T, I>(a, cell, job.search_cb, job.search_params, nullptr);
    case SearchMode::UniUserDef:
      return search_range<SearchMode::UniUserDef, T, I>(a, cell, job.search_cb, job.search_params, nullptr);
  }
  return kOk;
}

template <class T, class I, class C>
int32_t drive(const Job<T, C>& job, const ThreadingServices* threading) {
  const int64_t n = job.args.nsite;
  // A task search reports only failures of the search routine; the driver keeps negative statuses.
  auto run = [&job](int64_t begin, int64_t end, int) { return run_sites<T, I>(job, begin, end); };
  if (n < kInlineSites) return run_sites_split(Split::kNone, n, 1, threading, run);
  const int threads = core::thread_limit(threading, &ThreadingServices::parallel_for);
  return run_sites_split(split_for(job.mode, n, threads), n, threads, threading, run);
}

template <class T, class C>
int32_t drive_cells(const Job<T, C>& job, const ThreadingServices* threading) {
  if (needs_wide_index(job.args.nx)) return drive<T, int64_t>(job, threading);
  return drive<T, int32_t>(job, threading);
}

template <class T>
int32_t task_search(const DfTask* task, int64_t nsite, const T* site, int64_t sitehint,
                    const double* datahint, void* cell, SearchCallback<T> search_cb,
                    const void* search_params, const ThreadingServices* threading) {
  if (task == nullptr) return ErrNullTask;
  const int64_t nx = task->nx;
  bool peak = false;
  double peak_cell = 0.0;
  if (datahint != nullptr) {
    const double kind = datahint[1];
    if (kind == ZOK_DF_DATA_HINT_PEAK) {
      peak_cell = datahint[4];
      if (!(peak_cell >= 0.0 && peak_cell <= static_cast<double>(nx))) return ErrDataHint;
      peak = true;
    } else if (kind != 0.0) {
      return ErrDataHint;
    }
  }
  if (nsite <= 0) return kOk;

  const T* x = static_cast<const T*>(task->x);
  const bool uniform = task->xhint == ZOK_DF_PARTITION_UNIFORM;
  SearchMode mode;
  void* aux = nullptr;
  double param = 0.0;
  if (uniform || task->xhint == ZOK_DF_PARTITION_QUASI_UNIFORM) {
    // Both use the scaled distance from the first point; a uniform partition keeps its last point
    // in x[1].
    const T last = uniform ? x[1] : x[nx - 1];
    param = static_cast<T>(static_cast<T>(nx - 1) / (last - x[0]));
  }
  if (search_cb != nullptr) {
    mode = uniform ? SearchMode::UniUserDef : SearchMode::UserDef;
  } else if (uniform) {
    mode = SearchMode::Uniform;
  } else if (task->xhint == ZOK_DF_PARTITION_QUASI_UNIFORM) {
    mode = SearchMode::QuasiUniform;
  } else if (sitehint & ZOK_DF_SITES_SORTED) {
    mode = SearchMode::Sorted;
  } else if (peak) {
    mode = SearchMode::Peak;
    param = peak_cell;
  } else {
    mode = SearchMode::Hybrid;
    // An index built for another partition (x or nx edited since) would misplace sites; the
    // search then bisects the whole partition.
    if (bucket_index_current(*task)) {
      aux = task->bucket_table;
      param = task->PrecisionFlag == 1 ? task->inverse_bucket_width.d : task->inverse_bucket_width.s;
    }
  }

  T stack_sites[kStackSites];
  T* heap_sites = nullptr;
  const T* sites = site;
  if (sitehint & ZOK_DF_SITES_UNIFORM) {
    T* buffer = stack_sites;
    if (nsite > kStackSites) {
      if (static_cast<uint64_t>(nsite) > std::numeric_limits<size_t>::max() / sizeof(T)) return ErrMemory;
      heap_sites = static_cast<T*>(zok_serv_allocate(static_cast<size_t>(nsite) * sizeof(T), 128));
      if (heap_sites == nullptr) return ErrMemory;
      buffer = heap_sites;
    }
    // One site is the first end alone, not a division by zero.
    const T a = site[0], b = site[1];
    const T step = nsite > 1 ? (b - a) / static_cast<T>(nsite - 1) : T(0);
    for (int64_t i = 0; i < nsite; ++i) buffer[i] = a + static_cast<T>(i) * step;
    sites = buffer;
  }

  const SearchArgs<T> args{nx, x, nsite, sites, aux, param};
  const bool small = mode == SearchMode::Hybrid && nx <= kSmallPartition;
  int32_t status;
  if (task->IntWidthFlag == 0) {
    Job<T, int32_t> job{mode, small, args, static_cast<int32_t*>(cell), search_cb, search_params};
    status = drive_cells(job, threading);
  } else {
    Job<T, int64_t> job{mode, small, args, static_cast<int64_t*>(cell), search_cb, search_params};
    status = drive_cells(job, threading);
  }
  zok_serv_deallocate(heap_sites);
  return status;
}

}  // namespace
}  // namespace zok::df

extern "C" {

ZOK_DF_API int32_t zok_df_kernel_dDFSearch1D(const DfTask* task, int32_t /*method*/, int64_t nsite,
                                             const double* site, int64_t sitehint, const double* datahint,
                                             void* cell, ZokDfdSearchCallback search_cb,
                                             const void* search_params, const ThreadingServices* threading) {
  return zok::df::task_search(task, nsite, site, sitehint, datahint, cell, search_cb, search_params,
                              threading);
}

ZOK_DF_API int32_t zok_df_kernel_sDFSearch1D(const DfTask* task, int32_t /*method*/, int64_t nsite,
                                             const float* site, int64_t sitehint, const double* datahint,
                                             void* cell, ZokDfsSearchCallback search_cb,
                                             const void* search_params, const ThreadingServices* threading) {
  return zok::df::task_search(task, nsite, site, sitehint, datahint, cell, search_cb, search_params,
                              threading);
}

}  // extern "C"
