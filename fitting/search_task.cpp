// Cell search of a task: the choice of search kind, generated sites, and when large searches are
// split over the threads of the ThreadingServices table.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/thread_limit.h"
#include "fitting/search_kinds.h"
#include "fitting/search_plan.h"
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
  SearchPlan plan;
  SearchArgs<T> args;  // all sites
  C* cell;
  SearchCallback<T> search_cb;
  const void* search_params;
};

// Every piece of the sites starts a sorted walk from the beginning of the partition.
template <class T, class I, class C>
int32_t run_sites(const Job<T, C>& job, int64_t begin, int64_t end) {
  return run_plan<T, I>(job.plan, job.args.nx, job.args.x, end - begin, job.args.site + begin,
                        job.cell + begin, job.search_cb, job.search_params, nullptr);
}

template <class T, class I, class C>
int32_t drive(const Job<T, C>& job, const ThreadingServices* threading) {
  const int64_t n = job.args.nsite;
  // A task search reports only failures of the search routine; the driver keeps negative statuses.
  auto run = [&job](int64_t begin, int64_t end, int) { return run_sites<T, I>(job, begin, end); };
  if (n < kInlineSites) return run_sites_split(Split::kNone, n, 1, threading, run);
  const int threads = core::thread_limit(threading, &ThreadingServices::parallel_for);
  return run_sites_split(split_for(job.plan.mode, n, threads), n, threads, threading, run);
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
  DataHint hint;
  if (const int32_t status = read_data_hint(datahint, nx, &hint); status != kOk) return status;
  if (nsite <= 0) return kOk;

  const T* x = static_cast<const T*>(task->x);
  const SearchPlan plan = plan_search<T>(*task, search_cb != nullptr, sitehint, hint);

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

  const SearchArgs<T> args{nx, x, nsite, sites, plan.aux, plan.param};
  int32_t status;
  if (task->IntWidthFlag == 0) {
    Job<T, int32_t> job{plan, args, static_cast<int32_t*>(cell), search_cb, search_params};
    status = drive_cells(job, threading);
  } else {
    Job<T, int64_t> job{plan, args, static_cast<int64_t*>(cell), search_cb, search_params};
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
