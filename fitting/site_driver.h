// The threaded driver of the site operations (search, interpolation, integration): pieces of sites run
// over the threads of a ThreadingServices table, and the first failing piece's status is the result.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "zok/core_services.h"

namespace zok::df {

// How a site operation splits nsite sites: not at all, one chunk per thread, or fixed groups.
enum class Split { kNone, kChunks, kGroups };

// Sites per piece of a split into groups, unless the operation names its own block size.
inline constexpr int64_t kGroupSites = 128;

namespace detail {

inline constexpr int64_t kNoFailure = std::numeric_limits<int64_t>::max();

template <class Run>
struct Pieces {
  Run* run;
  int64_t per_piece;
  // The failing piece that comes first among the sites and its status, so that the status does not
  // depend on which thread failed first.
  std::atomic<int64_t> failed{kNoFailure};
  int32_t status = 0;
  int lock = 0;
};

template <class Run>
void run_piece(int64_t piece, int thread, int /*threads*/, void* context) {
  auto* job = static_cast<Pieces<Run>*>(context);
  // Pieces after a failure need not run: only the first failure is reported.
  if (piece > job->failed.load(std::memory_order_relaxed)) return;
  const int64_t begin = piece * job->per_piece;
  const int32_t status = (*job->run)(begin, begin + job->per_piece, thread);
  if (status >= 0) return;
  zok_serv_lock(&job->lock);
  if (piece < job->failed.load(std::memory_order_relaxed)) {
    job->status = status;
    job->failed.store(piece, std::memory_order_relaxed);
  }
  zok_serv_unlock(&job->lock);
}

}  // namespace detail

// Runs sites [0, n) with run(begin, end, thread), which returns a status that is a failure when
// negative; non-negative statuses are not errors and give 0. With a split the pieces (one chunk per
// thread, or groups of `group` sites) go to slot 0 of `threading` on `threads` threads, and the sites
// left after the whole pieces run last in the calling thread, as thread 0, once every piece is done.
template <class Run>
int32_t run_sites_split(Split split, int64_t n, int threads, const ThreadingServices* threading, Run&& run,
                        int64_t group = kGroupSites) {
  auto kept = [](int32_t status) { return status < 0 ? status : 0; };
  if (split == Split::kNone) return kept(run(int64_t{0}, n, 0));
  const int64_t per_piece = split == Split::kChunks ? n / threads : group;
  const int64_t pieces = split == Split::kChunks ? threads : n / group;
  using R = std::remove_reference_t<Run>;
  detail::Pieces<R> job{&run, per_piece};
  threading->parallel_for(pieces, threads, &job, detail::run_piece<R>);
  if (job.failed.load() != detail::kNoFailure) return job.status;
  return kept(run(pieces * per_piece, n, 0));
}

}  // namespace zok::df
