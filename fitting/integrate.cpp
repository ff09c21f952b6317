// Integration of a data-fitting task: definite integrals of its splines and step functions over
// intervals, through the cell antiderivatives, the extended end pieces or the region routines.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "core/thread_limit.h"
#include "fitting/evaluation.h"
#include "fitting/search_plan.h"
#include "fitting/site_driver.h"
#include "fitting/task.h"
#include "zok/core_services.h"
#include "zok/data_fitting.h"

namespace zok::df {
namespace {

// Sums of at most this many whole pieces are plain; longer ones are split in halves, which keeps
// the rounding error of a sum over n pieces near log2(n) ulps of the integral of |s|.
constexpr int64_t kPlainSum = 32;

template <class F>
double pairwise(int64_t lo, int64_t hi, const F& f) {
  if (hi - lo <= kPlainSum) {
    double s = 0.0;
    for (int64_t p = lo; p < hi; ++p) s += f(p);
    return s;
  }
  const int64_t mid = lo + (hi - lo) / 2;
  return pairwise(lo, mid, f) + pairwise(mid, hi, f);
}

template <class T>
struct Call : CallBase<T> {
  int64_t nlim;
  const T* lim[2];  // left, right
  SearchPlan plan[2];
};

// One interval a < b after ordering, its cells, and the sign of the result.
template <class T>
struct Interval {
  T a, b;
  int64_t ca, cb;
  double sign;
  bool defined;  // false: a NaN limit or an empty interval, nothing to integrate
};

// The parts of the interval in each region: [lo, hi] and the cell of lo; empty when lo >= hi.
template <class T>
struct Part {
  T lo, hi;
  int64_t cell;
  bool present;
};

template <class T>
Part<T> part_of(const Interval<T>& v, Region reg, T first, T last, int64_t nx) {
  if (!v.defined) return {T(0), T(0), 0, false};
  switch (reg) {
    case kLeft:
      return {v.a, std::min(v.b, first), v.ca, v.a < first};
    case kInside: {
      const bool present = v.a < last && v.b > first;
      return {std::max(v.a, first), std::min(v.b, last), v.a >= first ? v.ca : 1, present};
    }
    case kRight:
      return {std::max(v.a, last), v.b, v.a > last ? v.ca : nx - 1, v.b > last};
  }
  return {T(0), T(0), 0, false};
}

// The integral of function f over the parts no routine serves.
template <class T, bool Uniform>
double spline_integral(const Call<T>& c, const Pieces<T, Uniform>& pc, const Interval<T>& v, int64_t f) {
  const T first = pc.first, last = pc.last;
  const T* base = pc.base(f);
  const int64_t s = pc.order, stride = pc.stride;
  auto F = [&](int64_t p, T u) { return static_cast<double>(poly_antiderivative(base + p * stride, u, s)); };
  double left = 0.0, inside = 0.0, right = 0.0;
  const Part<T> lp = part_of(v, kLeft, first, last, c.nx);
  if (lp.present && c.cb[kLeft] == nullptr) left = F(0, lp.hi - pc.left(0)) - F(0, lp.lo - pc.left(0));
  const Part<T> rp = part_of(v, kRight, first, last, c.nx);
  if (rp.present && c.cb[kRight] == nullptr) {
    // Step functions hold y[nx-1] beyond the last point; polynomials extend their last piece.
    const bool steps = reads_values(pc.kind);
    const int64_t p = steps ? c.nx - 1 : pc.count() - 1;
    const T from = steps ? last : pc.left(p);
    right = F(p, rp.hi - from) - F(p, rp.lo - from);
  }
  const Part<T> ip = part_of(v, kInside, first, last, c.nx);
  if (ip.present && c.cb[kInside] == nullptr) {
    const int64_t plo = v.a >= first ? pc.piece(ip.lo, v.ca) : 0;
    const int64_t phi = v.b <= last ? pc.piece(ip.hi, v.cb) : pc.count() - 1;
    if (plo == phi) {
      inside = F(plo, ip.hi - pc.left(plo)) - F(plo, ip.lo - pc.left(plo));
    } else {
      const double head = F(plo, pc.right(plo) - pc.left(plo)) - F(plo, ip.lo - pc.left(plo));
      const double middle = pairwise(plo + 1, phi, [&](int64_t p) { return F(p, pc.right(p) - pc.left(p)); });
      inside = head + middle + F(phi, ip.hi - pc.left(phi));
    }
  }
  return v.sign * (left + inside + right);
}

// Each region's routine gets the block's parts in its region as (lo, hi) pairs with the cells of lo;
// its integrals are added to the results.
template <class T>
int32_t run_region_routines(const Call<T>& c, int64_t begin, int64_t n, const Interval<T>* v, T* scratch) {
  const T first = c.x[0], last = c.uniform ? c.x[1] : c.x[c.nx - 1];
  int64_t at[kSiteBlock];
  int64_t cells[kSiteBlock];
  T* sites = scratch;
  T* buf = scratch + 2 * kSiteBlock;
  for (int reg = kLeft; reg <= kRight; ++reg) {
    if (c.cb[reg] == nullptr) continue;
    int64_t m = 0;
    for (int64_t i = 0; i < n; ++i) {
      const Part<T> p = part_of(v[i], static_cast<Region>(reg), first, last, c.nx);
      if (!p.present) continue;
      at[m] = i;
      sites[2 * m] = p.lo;
      sites[2 * m + 1] = p.hi;
      store_int(cells, m, p.cell, c.wide);
      ++m;
    }
    if (m == 0) continue;
    const int32_t status = c.run_routine(reg, m, cells, sites, buf);
    if (status < 0) return status;
    for (int64_t f = 0; f < c.nf; ++f)
      for (int64_t j = 0; j < m; ++j) {
        T& out = c.r[f * c.nlim + begin + at[j]];
        out = static_cast<T>(static_cast<double>(out) + v[at[j]].sign * static_cast<double>(buf[f * m + j]));
      }
  }
  return kOk;
}

template <class T, class C, bool Uniform>
int32_t run_block(const Call<T>& c, int64_t begin, int64_t n, int thread) {
  C cells[2][kSiteBlock];
  for (int side = 0; side < 2; ++side) {
    const int32_t status = search_block(c.plan[side], c.nx, c.x, n, c.lim[side] + begin, cells[side],
                                        c.search_cb, c.search_params);
    if (status < 0) return status;
  }
  Interval<T> v[kSiteBlock];
  for (int64_t i = 0; i < n; ++i) {
    T a = c.lim[0][begin + i], b = c.lim[1][begin + i];
    int64_t ca = cells[0][i], cb = cells[1][i];
    double sign = 1.0;
    if (a > b) std::swap(a, b), std::swap(ca, cb), sign = -1.0;
    v[i] = {a, b, ca, cb, sign, a < b};
  }
  if (!c.all_cb) {
    const Pieces<T, Uniform> pc(*c.task, c.ev);
    for (int64_t f = 0; f < c.nf; ++f)
      for (int64_t i = 0; i < n; ++i) {
        const T a = v[i].a, b = v[i].b;
        T& out = c.r[f * c.nlim + begin + i];
        if (std::isnan(a) || std::isnan(b)) {
          out = std::numeric_limits<T>::quiet_NaN();
        } else {
          out = static_cast<T>(spline_integral(c, pc, v[i], f));
        }
      }
  } else {
    for (int64_t f = 0; f < c.nf; ++f)
      for (int64_t i = 0; i < n; ++i) {
        const bool nan = std::isnan(v[i].a) || std::isnan(v[i].b);
        c.r[f * c.nlim + begin + i] = nan ? std::numeric_limits<T>::quiet_NaN() : T(0);
      }
  }
  if (!c.any_cb) return kOk;
  return run_region_routines(c, begin, n, v, c.scratch->of(thread));
}

template <class T, class C, bool Uniform>
int32_t run_blocks(const Call<T>& c, const ThreadingServices* threading, int threads) {
  auto run = [&](int64_t begin, int64_t end, int thread) -> int32_t {
    for (int64_t b = begin; b < end; b += kSiteBlock) {
      const int32_t status = run_block<T, C, Uniform>(c, b, std::min(kSiteBlock, end - b), thread);
      if (status < 0) return status;
    }
    return kOk;
  };
  const Split split = threads > 1 && c.nlim > kThreadedFrom ? Split::kGroups : Split::kNone;
  return run_sites_split(split, c.nlim, threads, threading, run, kSiteBlock);
}

template <class T>
int32_t integrate(const DfTask* task, int64_t nlim, const T* llim, int64_t llimhint, const T* rlim,
                  int64_t rlimhint, const double* ldatahint, const double* rdatahint, T* r, int64_t rhint,
                  RegionCallback<T> le_cb, const void* le_params, RegionCallback<T> re_cb,
                  const void* re_params, RegionCallback<T> i_cb, const void* i_params,
                  SearchCallback<T> search_cb, const void* search_params,
                  const ThreadingServices* threading) {
  if (task == nullptr) return ErrNullTask;
  const bool all_cb = le_cb != nullptr && re_cb != nullptr && i_cb != nullptr;
  EvalSetup ev;
  if (const int32_t status = choose_eval(*task, all_cb, &ev); status != kOk) return status;
  if (ev.kind == EvalKind::Lookup) return ErrSplineType;
  DataHint hint[2];
  if (const int32_t status = read_data_hint(ldatahint, task->nx, &hint[0]); status != kOk) return status;
  if (const int32_t status = read_data_hint(rdatahint, task->nx, &hint[1]); status != kOk) return status;
  if (rhint != 0 && rhint != 16 && rhint != 32 && rhint != 128) return ErrIntegralHint;
  if (nlim <= 0) return kOk;

  Call<T> c{};
  c.nlim = nlim;
  c.lim[0] = llim;
  c.lim[1] = rlim;
  if (const int32_t status =
          c.set(*task, ev, r, le_cb, le_params, re_cb, re_params, i_cb, i_params, search_cb, search_params);
      status != kOk)
    return status;
  if (llim == nullptr || rlim == nullptr) return ErrNullResult;
  c.plan[0] = plan_search<T>(*task, search_cb != nullptr, llimhint, hint[0]);
  c.plan[1] = plan_search<T>(*task, search_cb != nullptr, rlimhint, hint[1]);

  const int threads =
      nlim > kThreadedFrom ? core::thread_limit(threading, &ThreadingServices::parallel_for) : 1;
  ThreadScratch<T> scratch;
  // A block's (lo, hi) pairs and the integrals of every function over them.
  if (const int32_t status = scratch.reserve(c.any_cb ? kSiteBlock * (2 + c.nf) : 0, threads); status != kOk)
    return status;
  c.scratch = &scratch;
  if (c.wide) {
    return c.uniform ? run_blocks<T, int64_t, true>(c, threading, threads)
                     : run_blocks<T, int64_t, false>(c, threading, threads);
  }
  return c.uniform ? run_blocks<T, int32_t, true>(c, threading, threads)
                   : run_blocks<T, int32_t, false>(c, threading, threads);
}

}  // namespace
}  // namespace zok::df

extern "C" {

ZOK_DF_API int32_t zok_df_kernel_dDFIntegrate1D(
    const DfTask* task, int32_t /*method*/, int64_t nlim, const double* llim, int64_t llimhint,
    const double* rlim, int64_t rlimhint, const double* ldatahint, const double* rdatahint, double* r,
    int64_t rhint, ZokDfdRegionCallback le_cb, const void* le_params, ZokDfdRegionCallback re_cb,
    const void* re_params, ZokDfdRegionCallback i_cb, const void* i_params, ZokDfdSearchCallback search_cb,
    const void* search_params, const ThreadingServices* threading) {
  return zok::df::integrate(task, nlim, llim, llimhint, rlim, rlimhint, ldatahint, rdatahint, r, rhint, le_cb,
                            le_params, re_cb, re_params, i_cb, i_params, search_cb, search_params, threading);
}

ZOK_DF_API int32_t zok_df_kernel_sDFIntegrate1D(
    const DfTask* task, int32_t /*method*/, int64_t nlim, const float* llim, int64_t llimhint,
    const float* rlim, int64_t rlimhint, const double* ldatahint, const double* rdatahint, float* r,
    int64_t rhint, ZokDfsRegionCallback le_cb, const void* le_params, ZokDfsRegionCallback re_cb,
    const void* re_params, ZokDfsRegionCallback i_cb, const void* i_params, ZokDfsSearchCallback search_cb,
    const void* search_params, const ThreadingServices* threading) {
  return zok::df::integrate(task, nlim, llim, llimhint, rlim, rlimhint, ldatahint, rdatahint, r, rhint, le_cb,
                            le_params, re_cb, re_params, i_cb, i_params, search_cb, search_params, threading);
}

}  // extern "C"
