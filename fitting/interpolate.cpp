// Interpolation of a data-fitting task: values and derivatives of its splines, step functions and
// node lookups at sites, with the cells of the sites, region routines and a search routine.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/thread_limit.h"
#include "fitting/evaluation.h"
#include "fitting/search_kinds.h"
#include "fitting/search_plan.h"
#include "fitting/site_driver.h"
#include "fitting/task.h"
#include "zok/core_services.h"
#include "zok/data_fitting.h"

namespace zok::df {
namespace {

// Lookup accepts a uniform partition's site this many steps from a node.
constexpr double kNodeTolerance = 0x1p-40;
// Up to this many nodes the coefficients of a cubic stay in cache; above, fetching a block's
// coefficients ahead of the arithmetic pays.
constexpr int64_t kCachedNodes = 32768;
// The one-site path computes at most this many orders.
constexpr int64_t kFastOrders = 4;

template <class T>
struct Call : CallBase<T> {
  int64_t nsite;
  const T* site;
  bool generated;
  T gen_a, gen_step;
  const void* dorder;
  int64_t ndorder, q;
  bool value_alone;  // one function, one order, the value, no routines
  bool direct;       // value_alone on a uniform partition, no cells read or written
  bool by_site;
  void* cell;
  bool read_cells, write_cells;
  SearchPlan plan;

  // Calls f(k, order) for the k-th requested order.
  template <class F>
  void for_each_order(F&& f) const {
    if (ndorder <= 0 || q == 0) {
      f(int64_t{0}, int64_t{0});
      return;
    }
    int64_t k = 0;
    for (int64_t j = 0; j < ndorder; ++j)
      if (load_int(dorder, j, this->wide) != 0) f(k++, j);
  }
  // Strides of the results of m sites: (function, site, order).
  int64_t site_stride(int64_t) const { return by_site ? q : 1; }
  int64_t order_stride(int64_t m) const { return by_site ? 1 : m; }
};

// The value index of a step or lookup kind for site t of cell c, -1 when a lookup site is no node.
template <class T, EvalKind K, bool Uniform>
inline int64_t value_index(const Pieces<T, Uniform>& pc, T t, int64_t c) {
  const int64_t nx = pc.nx;
  if constexpr (K == EvalKind::Lookup) {
    if (c <= 0 || c >= nx) return -1;
    if constexpr (Uniform) {
      const double s = (static_cast<double>(t) - static_cast<double>(pc.first)) / static_cast<double>(pc.g.h);
      // The node as this library places it matches exactly; in single precision that placement
      // alone is off by far more than the tolerance.
      for (int64_t m : {c - 1, c})
        if (m < nx && (t == pc.node(m) || std::fabs(s - static_cast<double>(m)) <= kNodeTolerance)) return m;
      return -1;
    } else {
      if (t == pc.node(c - 1)) return c - 1;
      return c == nx - 1 && t == pc.last ? nx - 1 : -1;
    }
  } else {
    if (c <= 0) return 0;
    if (c >= nx) return nx - 1;
    if constexpr (K == EvalKind::StepRight) {
      return t == pc.last ? nx - 1 : c - 1;
    } else {
      // Continuous from the left: an interior node takes the value of the step that ends there.
      return c >= 2 && t == pc.node(c - 1) ? c - 2 : c - 1;
    }
  }
}

// Results of n sites from `begin` whose cells are known. Sites a region routine serves get a dummy
// piece here and their results from the routine afterwards.
template <class T, EvalKind K, bool Uniform>
int32_t evaluate(const Call<T>& c, int64_t begin, int64_t n, const T* t, const int64_t* cell) {
  const Pieces<T, Uniform> pc(*c.task, c.ev);
  constexpr int S = K == EvalKind::Linear                                      ? 2
                    : K == EvalKind::Quadratic || K == EvalKind::KnotQuadratic ? 3
                    : K == EvalKind::Cubic                                     ? 4
                                                                               : 0;
  if constexpr (Uniform && S > 0 && K != EvalKind::KnotQuadratic) {
    // The common call on a uniform partition: every result is the value at its site, in site
    // order, and everything it reads is in cache; one pass does. Without cells (null) the pass
    // finds them itself, by the uniform search's arithmetic.
    if (c.value_alone && pc.nx <= kCachedNodes) {
      const T* base = pc.base(0);
      T* out = c.r + begin;
      auto run = [&](auto cell_of) {
        for (int64_t i = 0; i < n; ++i) {
          const int64_t p = std::clamp<int64_t>(cell_of(i) - 1, 0, pc.nx - 2);
          out[i] = poly_derivative<S>(base + p * S, t[i] - pc.g.node(p), 0, S);
        }
      };
      if (cell != nullptr) {
        run([cell](int64_t i) { return cell[i]; });
      } else {
        const UniformGrid<T, int64_t> grid(pc.nx, c.x, static_cast<T>(c.plan.param));
        run([&](int64_t i) { return grid.cell(t[i]); });
      }
      return kOk;
    }
  }
  int64_t index[kSiteBlock];
  T u[kSiteBlock];
  const T* first_base = reads_values(K) ? nullptr : pc.base(0);
  auto place = [&](int64_t i) -> bool {
    if constexpr (reads_values(K)) {
      const int64_t m = value_index<T, K>(pc, t[i], cell[i]);
      index[i] = m * pc.stride;
      return m >= 0;
    } else {
      int64_t p;
      if constexpr (K == EvalKind::KnotQuadratic) {
        p = pc.piece(t[i], cell[i]);
        u[i] = t[i] - pc.knot(p);
      } else {
        // Pieces of these kinds start at nodes 0 .. nx-2, never at the last point.
        p = std::clamp<int64_t>(cell[i] - 1, 0, pc.nx - 2);
        u[i] = t[i] - pc.g.node(p);
      }
      index[i] = p * pc.stride;
      // The coefficients are a cache miss apiece on a large partition; asking early overlaps them.
      __builtin_prefetch(first_base + index[i]);
      return true;
    }
  };
  if (!c.any_cb) {
    for (int64_t i = 0; i < n; ++i)
      if (!place(i)) return ErrSiteNotNode;
  } else {
    for (int64_t i = 0; i < n; ++i) {
      if (c.cb[region_of(cell[i], c.nx)] != nullptr) {
        index[i] = 0;
        u[i] = T(0);
      } else if (!place(i)) {
        return ErrSiteNotNode;
      }
    }
  }
  const int64_t ss = c.site_stride(c.nsite), os = c.order_stride(c.nsite);
  for (int64_t f = 0; f < c.nf; ++f) {
    const T* base = pc.base(f);
    T* out = c.r + f * c.nsite * c.q + begin * ss;
    c.for_each_order([&](int64_t k, int64_t order) {
      T* o = out + k * os;
      if constexpr (reads_values(K)) {
        for (int64_t i = 0; i < n; ++i) o[i * ss] = order == 0 ? base[index[i]] : T(0);
      } else if (order == 0) {
        for (int64_t i = 0; i < n; ++i) o[i * ss] = poly_derivative<S>(base + index[i], u[i], 0, pc.order);
      } else {
        for (int64_t i = 0; i < n; ++i)
          o[i * ss] = poly_derivative<S>(base + index[i], u[i], order, pc.order);
      }
    });
  }
  return kOk;
}

template <class T>
using Evaluator = int32_t (*)(const Call<T>&, int64_t, int64_t, const T*, const int64_t*);

template <class T, bool Uniform>
Evaluator<T> evaluator_of(EvalKind k) {
  switch (k) {
    case EvalKind::Linear:
      return evaluate<T, EvalKind::Linear, Uniform>;
    case EvalKind::Quadratic:
      return evaluate<T, EvalKind::Quadratic, Uniform>;
    case EvalKind::Cubic:
      return evaluate<T, EvalKind::Cubic, Uniform>;
    case EvalKind::KnotQuadratic:
      return evaluate<T, EvalKind::KnotQuadratic, Uniform>;
    case EvalKind::General:
      return evaluate<T, EvalKind::General, Uniform>;
    case EvalKind::StepLeft:
      return evaluate<T, EvalKind::StepLeft, Uniform>;
    case EvalKind::StepRight:
      return evaluate<T, EvalKind::StepRight, Uniform>;
    case EvalKind::Lookup:
      return evaluate<T, EvalKind::Lookup, Uniform>;
  }
  return nullptr;
}

// Hands each region's sites of a block to its routine, in site order, and copies the results into
// place. `cells` are the block's cells at the task's width.
template <class T>
int32_t run_region_routines(const Call<T>& c, int64_t begin, int64_t n, const T* t, const int64_t* cell,
                            const void* cells, T* scratch) {
  int64_t at[kSiteBlock];
  int64_t picked_cells[kSiteBlock];
  T* sites = scratch;
  T* buf = scratch + kSiteBlock;
  const int64_t ss = c.site_stride(c.nsite), os = c.order_stride(c.nsite);
  for (int reg = kLeft; reg <= kRight; ++reg) {
    if (c.cb[reg] == nullptr) continue;
    int64_t m = 0;
    for (int64_t i = 0; i < n; ++i) {
      if (region_of(cell[i], c.nx) != reg) continue;
      at[m] = i;
      sites[m] = t[i];
      store_int(picked_cells, m, load_int(cells, i, c.wide), c.wide);
      ++m;
    }
    if (m == 0) continue;
    const int32_t status = c.run_routine(reg, m, picked_cells, sites, buf);
    if (status < 0) return status;
    const int64_t bss = c.site_stride(m), bos = c.order_stride(m);
    for (int64_t f = 0; f < c.nf; ++f) {
      T* out = c.r + f * c.nsite * c.q + begin * ss;
      const T* in = buf + f * m * c.q;
      for (int64_t k = 0; k < c.q; ++k)
        for (int64_t j = 0; j < m; ++j) out[at[j] * ss + k * os] = in[j * bss + k * bos];
    }
  }
  return kOk;
}

// One block: its sites, their cells (searched or the caller's), the cell output, then results.
template <class T, class C>
int32_t run_block(const Call<T>& c, Evaluator<T> eval, int64_t begin, int64_t n, int thread) {
  T generated[kSiteBlock];
  const T* t = c.site + begin;
  if (c.generated) {
    for (int64_t i = 0; i < n; ++i) generated[i] = c.gen_a + static_cast<T>(begin + i) * c.gen_step;
    t = generated;
  }
  if (c.direct) return eval(c, begin, n, t, nullptr);
  C cells[kSiteBlock];
  if (c.read_cells) {
    const C* given = static_cast<const C*>(c.cell) + begin;
    for (int64_t i = 0; i < n; ++i) {
      if (given[i] < 0 || given[i] > c.nx) return ErrDataHint;
      cells[i] = given[i];
    }
  } else {
    const int32_t status = search_block(c.plan, c.nx, c.x, n, t, cells, c.search_cb, c.search_params);
    if (status < 0) return status;
  }
  if (c.write_cells) std::copy(cells, cells + n, static_cast<C*>(c.cell) + begin);
  int64_t wide_cells[kSiteBlock];
  for (int64_t i = 0; i < n; ++i) wide_cells[i] = cells[i];
  if (!c.all_cb) {
    const int32_t status = eval(c, begin, n, t, wide_cells);
    if (status < 0) return status;
  }
  if (!c.any_cb) return kOk;
  return run_region_routines(c, begin, n, t, wide_cells, cells, c.scratch->of(thread));
}

template <class T, class C>
int32_t run_blocks(const Call<T>& c, Evaluator<T> eval, const ThreadingServices* threading, int threads) {
  auto run = [&](int64_t begin, int64_t end, int thread) -> int32_t {
    for (int64_t b = begin; b < end; b += kSiteBlock) {
      const int32_t status = run_block<T, C>(c, eval, b, std::min(kSiteBlock, end - b), thread);
      if (status < 0) return status;
    }
    return kOk;
  };
  const Split split = threads > 1 && c.nsite > kThreadedFrom ? Split::kGroups : Split::kNone;
  return run_sites_split(split, c.nsite, threads, threading, run, kSiteBlock);
}

// One site, one function: the cell by the cheapest means, then the region routine or the polynomial,
// the requested orders packed. No blocks and no scratch.
template <class T, bool Uniform>
int32_t one_site(const Call<T>& c) {
  const T t = c.site[0];
  const int64_t nx = c.nx;
  int64_t cell;
  if (c.read_cells) {
    cell = load_int(c.cell, 0, c.wide);
    if (cell < 0 || cell > nx) return ErrDataHint;
  } else if constexpr (Uniform) {
    cell = UniformGrid<T, int64_t>(nx, c.x, static_cast<T>(c.plan.param)).cell(t);
  } else if (c.plan.mode == SearchMode::QuasiUniform) {
    const T first = c.x[0], last = c.x[nx - 1];
    if (t < first) {
      cell = 0;
    } else if (!(t < last)) {
      cell = outer_cell<T, int64_t>(t, last, nx);
    } else {
      const int64_t g =
          guess_cell<T, int64_t>(t, first, static_cast<T>(c.plan.param), static_cast<T>(nx), nx);
      cell = walk_from<T, int64_t>(c.x, nx, g < nx ? g : nx, t);
    }
  } else if (nx <= kSmallPartition) {
    cell = count_cell<T, int64_t>(c.x, nx, c.x[nx - 1], t);
  } else {
    const uint64_t* table = bucket_index_current(*c.task) ? c.task->bucket_table : nullptr;
    const T inv = table == nullptr             ? T(0)
                  : c.task->PrecisionFlag == 1 ? static_cast<T>(c.task->inverse_bucket_width.d)
                                               : static_cast<T>(c.task->inverse_bucket_width.s);
    cell = BucketSearch<T, int64_t>{c.x, nx, c.x[0], c.x[nx - 1], inv, table}.cell(t);
  }
  const Region reg = region_of(cell, nx);
  if (c.cb[reg] != nullptr) {
    int64_t cell_at_width;
    store_int(&cell_at_width, 0, cell, c.wide);
    const int32_t status = c.run_routine(reg, 1, &cell_at_width, &t, c.r);
    return status < 0 ? status : kOk;
  }
  const Pieces<T, Uniform> pc(*c.task, c.ev);
  const int64_t p = pc.piece(t, cell);
  const T u = t - pc.left(p);
  const T* coeffs = pc.base(0) + p * pc.stride;
  c.for_each_order([&](int64_t k, int64_t order) {
    switch (c.ev.kind) {
      case EvalKind::Linear:
        c.r[k] = poly_derivative<2>(coeffs, u, order, 2);
        break;
      case EvalKind::Quadratic:
        c.r[k] = poly_derivative<3>(coeffs, u, order, 3);
        break;
      default:
        c.r[k] = poly_derivative<4>(coeffs, u, order, 4);
        break;
    }
  });
  return kOk;
}

template <class T>
int32_t interpolate(const DfTask* task, int64_t type, int64_t nsite, const T* site, int64_t sitehint,
                    int64_t ndorder, const void* dorder, const double* datahint, T* r, int64_t rhint,
                    void* cell, RegionCallback<T> le_cb, const void* le_params, RegionCallback<T> re_cb,
                    const void* re_params, RegionCallback<T> i_cb, const void* i_params,
                    SearchCallback<T> search_cb, const void* search_params,
                    const ThreadingServices* threading) {
  if (task == nullptr) return ErrNullTask;
  const bool all_cb = le_cb != nullptr && re_cb != nullptr && i_cb != nullptr;
  EvalSetup ev;
  if (const int32_t status = choose_eval(*task, all_cb, &ev); status != kOk) return status;
  DataHint hint;
  if (const int32_t status = read_data_hint(datahint, task->nx, &hint); status != kOk) return status;
  if (rhint != 0 && rhint != 16 && rhint != 32 && rhint != 128) return ErrResultHint;
  if (nsite <= 0) return kOk;

  Call<T> c{};
  c.wide = task->IntWidthFlag != 0;
  c.nsite = nsite;
  c.site = site;
  c.dorder = dorder;
  c.ndorder = dorder != nullptr ? ndorder : 0;
  c.q = 0;
  int64_t highest = 0;
  for (int64_t j = 0; j < c.ndorder; ++j)
    if (load_int(dorder, j, c.wide) != 0) ++c.q, highest = j;
  const bool value_only = c.q == 0;
  if (value_only) c.q = 1;
  if (ev.kind == EvalKind::Lookup && !all_cb) {
    if (c.q != 1) return ErrLookupOrderCount;
    if (!value_only && highest != 0) return ErrLookupValue;
  }
  if (const int32_t status =
          c.set(*task, ev, r, le_cb, le_params, re_cb, re_params, i_cb, i_params, search_cb, search_params);
      status != kOk)
    return status;
  c.value_alone = c.q == 1 && (value_only || highest == 0) && c.nf == 1 && !c.any_cb;
  c.by_site = rhint == 16 || rhint == 128;
  c.cell = cell;
  c.read_cells = type == ZOK_DF_INTERP_USER_CELLS;
  c.write_cells = !c.read_cells && (type & ZOK_DF_INTERP_CELLS) != 0;
  if ((c.read_cells || c.write_cells) && cell == nullptr) return ErrNullResult;
  if (sitehint & ZOK_DF_SITES_UNIFORM) {
    // One generated site is the first end alone, not 0/0.
    c.generated = true;
    c.gen_a = site[0];
    c.gen_step = nsite > 1 ? (site[1] - site[0]) / static_cast<T>(nsite - 1) : T(0);
  }
  c.plan = plan_search<T>(*task, search_cb != nullptr, sitehint, hint);

  const bool fast =
      nsite == 1 && c.nf == 1 && !c.write_cells && !c.generated &&
      (ev.kind == EvalKind::Linear || ev.kind == EvalKind::Quadratic || ev.kind == EvalKind::Cubic) &&
      c.ndorder <= kFastOrders && search_cb == nullptr;
  if (fast) return c.uniform ? one_site<T, true>(c) : one_site<T, false>(c);

  const int threads =
      nsite > kThreadedFrom ? core::thread_limit(threading, &ThreadingServices::parallel_for) : 1;
  ThreadScratch<T> scratch;
  // A block's sites and the results of every function and order for them.
  if (const int32_t status = scratch.reserve(c.any_cb ? kSiteBlock * (1 + c.nf * c.q) : 0, threads);
      status != kOk)
    return status;
  c.scratch = &scratch;
  c.direct = c.value_alone && c.nx <= kCachedNodes && c.plan.mode == SearchMode::Uniform && !c.read_cells &&
             !c.write_cells &&
             (ev.kind == EvalKind::Linear || ev.kind == EvalKind::Quadratic || ev.kind == EvalKind::Cubic);
  const Evaluator<T> eval = c.uniform ? evaluator_of<T, true>(ev.kind) : evaluator_of<T, false>(ev.kind);
  return c.wide ? run_blocks<T, int64_t>(c, eval, threading, threads)
                : run_blocks<T, int32_t>(c, eval, threading, threads);
}

}  // namespace
}  // namespace zok::df

extern "C" {

ZOK_DF_API int32_t zok_df_kernel_dDFInterpolate1D(
    const DfTask* task, int64_t type, int32_t /*method*/, int64_t nsite, const double* site, int64_t sitehint,
    int64_t ndorder, const void* dorder, const double* datahint, double* r, int64_t rhint, void* cell,
    ZokDfdRegionCallback le_cb, const void* le_params, ZokDfdRegionCallback re_cb, const void* re_params,
    ZokDfdRegionCallback i_cb, const void* i_params, ZokDfdSearchCallback search_cb,
    const void* search_params, const ThreadingServices* threading) {
  return zok::df::interpolate(task, type, nsite, site, sitehint, ndorder, dorder, datahint, r, rhint, cell,
                              le_cb, le_params, re_cb, re_params, i_cb, i_params, search_cb, search_params,
                              threading);
}

ZOK_DF_API int32_t zok_df_kernel_sDFInterpolate1D(
    const DfTask* task, int64_t type, int32_t /*method*/, int64_t nsite, const float* site, int64_t sitehint,
    int64_t ndorder, const void* dorder, const double* datahint, float* r, int64_t rhint, void* cell,
    ZokDfsRegionCallback le_cb, const void* le_params, ZokDfsRegionCallback re_cb, const void* re_params,
    ZokDfsRegionCallback i_cb, const void* i_params, ZokDfsSearchCallback search_cb,
    const void* search_params, const ThreadingServices* threading) {
  return zok::df::interpolate(task, type, nsite, site, sitehint, ndorder, dorder, datahint, r, rhint, cell,
                              le_cb, le_params, re_cb, re_params, i_cb, i_params, search_cb, search_params,
                              threading);
}

}  // extern "C"
