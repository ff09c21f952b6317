// What interpolation and integration share: the evaluation kind of a task, the piece of the spline
// that serves a site, Horner forms of values, derivatives and antiderivatives, the region routines
// and the per-thread scratch of a call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "fitting/partition.h"
#include "fitting/search_plan.h"
#include "fitting/task.h"
#include "zok/core_services.h"
#include "zok/data_fitting.h"

namespace zok::df {

enum class EvalKind : int {
  Linear = 0,
  Quadratic = 1,
  Cubic = 2,
  KnotQuadratic = 3,  // nx cells between knots
  General = 4,        // any order, or nothing but region routines
  StepLeft = 5,
  StepRight = 6,
  Lookup = 7,
};

constexpr bool reads_values(EvalKind k) {
  return k == EvalKind::StepLeft || k == EvalKind::StepRight || k == EvalKind::Lookup;
}

// Coefficients per piece (1 for the values of the step kinds), 0 when only routines evaluate.
struct EvalSetup {
  EvalKind kind;
  int64_t order;
};

inline int32_t choose_eval(const DfTask& task, bool all_routines, EvalSetup* e) {
  const int64_t s = task.s_order, type = task.s_type;
  if (s == 2) {
    *e = {EvalKind::Linear, 2};
  } else if (s == 3 && (type == 0 || type == 1)) {
    *e = {type == 0 ? EvalKind::Quadratic : EvalKind::KnotQuadratic, 3};
  } else if (s == 4 && (type == 0 || (type >= 2 && type <= 5))) {
    *e = {EvalKind::Cubic, 4};
  } else if (s > 4) {
    *e = {EvalKind::General, s};
  } else if (s == 0 && (type == 6 || type == 7 || type == 8)) {
    *e = {type == 8 ? EvalKind::StepLeft : type == 7 ? EvalKind::StepRight : EvalKind::Lookup, 1};
  } else if (s == 0 && all_routines) {
    *e = {EvalKind::General, 0};
  } else {
    return ErrSplineType;
  }
  return kOk;
}

template <class T>
using RegionCallback =
    std::conditional_t<std::is_same_v<T, double>, ZokDfdRegionCallback, ZokDfsRegionCallback>;

enum Region : int { kLeft = 0, kInside = 1, kRight = 2 };
inline Region region_of(int64_t cell, int64_t nx) {
  return cell <= 0 ? kLeft : cell >= nx ? kRight : kInside;
}

// The functions' pieces: piece p of function f starts at base(f) + p*stride and holds `order`
// coefficients in the distance from left(p). Step functions read their values the same way, one
// per piece, rows or columns alike.
template <class T, bool Uniform>
struct Pieces {
  const DfTask* task;
  EvalKind kind;
  int64_t order, nx, stride;
  Grid<T, Uniform> g;
  T first, last;
  const T* ic;
  bool all_knots;

  Pieces(const DfTask& t, EvalSetup e)
      : task(&t),
        kind(e.kind),
        order(e.order),
        nx(t.nx),
        stride(reads_values(e.kind) ? (t.yhint == ZOK_DF_VALUES_BY_COLUMNS ? (t.ny > 0 ? t.ny : 1) : 1)
                                    : e.order),
        g(static_cast<const T*>(t.x), t.nx),
        first(g.node(0)),
        last(Uniform ? static_cast<const T*>(t.x)[1] : g.node(t.nx - 1)),
        ic(static_cast<const T*>(t.ic)),
        all_knots((t.ic_type & 4) == 0) {}

  const T* base(int64_t f) const {
    if (!reads_values(kind)) return static_cast<const T*>(coeff_pointer(*task, f));
    if (task->yhint == ZOK_DF_VALUES_BY_COLUMNS) {
      const T* y = static_cast<const T*>(value_pointer(*task, 0));
      return y != nullptr ? y + f : nullptr;
    }
    return static_cast<const T*>(value_pointer(*task, f));
  }
  T knot(int64_t j) const { return Knots<T, Uniform>{g, ic, all_knots}.knot(j); }
  // The last point is the partition's own, not node nx-1 recomputed: the search compares with it.
  T node(int64_t j) const { return j == nx - 1 ? last : g.node(j); }

  // Piece serving site t of cell c (c in 0 .. nx).
  int64_t piece(T t, int64_t c) const {
    if (kind == EvalKind::KnotQuadratic) {
      if (c <= 0) return 0;
      if (c >= nx) return nx - 1;
      return t < knot(c) ? c - 1 : c;
    }
    const int64_t p = c - 1;
    return p < 0 ? 0 : p > nx - 2 ? nx - 2 : p;
  }
  T left(int64_t p) const { return kind == EvalKind::KnotQuadratic ? knot(p) : node(p); }
  T right(int64_t p) const { return kind == EvalKind::KnotQuadratic ? knot(p + 1) : node(p + 1); }
  int64_t count() const { return kind == EvalKind::KnotQuadratic ? nx : nx - 1; }
};

// d^k/du^k of c0 + c1 u + ... + c_{s-1} u^{s-1} in Horner form; S > 0 fixes s at compile time. The
// cubic's first derivative is c1 + u(2c2 + 3c3 u), its second 2c2 + 6c3 u.
template <int S, class T>
inline T poly_derivative(const T* c, T u, int64_t k, int64_t s_runtime) {
  const int64_t s = S > 0 ? S : s_runtime;
  if (k >= s) return T(0);
  if (k == 0) {
    T acc = c[s - 1];
    for (int64_t j = s - 2; j >= 0; --j) acc = acc * u + c[j];
    return acc;
  }
  auto falling = [k](int64_t j) {
    T f = T(1);
    for (int64_t m = j - k + 1; m <= j; ++m) f *= static_cast<T>(m);
    return f;
  };
  T acc = c[s - 1] * falling(s - 1);
  for (int64_t j = s - 2; j >= k; --j) acc = acc * u + c[j] * falling(j);
  return acc;
}

// The antiderivative c0 u + c1 u^2/2 + ... + c_{s-1} u^s/s, 0 at u = 0.
template <class T>
inline T poly_antiderivative(const T* c, T u, int64_t s) {
  if (s <= 0) return T(0);
  T acc = c[s - 1] / static_cast<T>(s);
  for (int64_t j = s - 2; j >= 0; --j) acc = acc * u + c[j] / static_cast<T>(j + 1);
  return acc * u;
}

// An integer of the task's width at p[i].
inline int64_t load_int(const void* p, int64_t i, bool wide) {
  return wide ? static_cast<const int64_t*>(p)[i] : static_cast<const int32_t*>(p)[i];
}
inline void store_int(void* p, int64_t i, int64_t v, bool wide) {
  if (wide) {
    static_cast<int64_t*>(p)[i] = v;
  } else {
    static_cast<int32_t*>(p)[i] = static_cast<int32_t>(v);
  }
}

// Sites per block: cells, positions and partial results of a block live on the stack.
inline constexpr int64_t kSiteBlock = 320;
// Split over threads only above this many sites.
inline constexpr int64_t kThreadedFrom = 512;
// The fixed area of routine scratch; a call whose threads need more allocates.
inline constexpr int64_t kStackScratch = 2048;

// Routine scratch of `per_thread` values for each of `threads` threads, on the stack when it fits.
template <class T>
struct ThreadScratch {
  T stack[kStackScratch];
  T* heap = nullptr;
  T* base = nullptr;
  int64_t per_thread = 0;
  ThreadScratch() = default;
  ThreadScratch(const ThreadScratch&) = delete;
  ThreadScratch& operator=(const ThreadScratch&) = delete;
  ~ThreadScratch() { zok_serv_deallocate(heap); }
  int32_t reserve(int64_t per, int threads) {
    per_thread = per;
    if (per == 0) return kOk;
    if (per > (INT64_MAX / static_cast<int64_t>(sizeof(T))) / threads) return ErrMemory;
    const int64_t need = per * threads;
    if (need <= kStackScratch) {
      base = stack;
      return kOk;
    }
    heap = static_cast<T*>(zok_serv_allocate(static_cast<size_t>(need) * sizeof(T), 128));
    base = heap;
    return heap != nullptr ? kOk : ErrMemory;
  }
  T* of(int thread) const { return base + thread * per_thread; }
};

// What interpolation and integration take alike: the task and its kind, the functions, the region
// and search routines, and the routine scratch.
template <class T>
struct CallBase {
  const DfTask* task;
  EvalSetup ev;
  int64_t nx;
  const T* x;
  bool uniform;
  bool wide;   // the caller's integers are 64-bit
  int64_t nf;  // functions; a task without any has one
  T* r;
  RegionCallback<T> cb[3];
  const void* cb_params[3];
  bool any_cb, all_cb;
  SearchCallback<T> search_cb;
  const void* search_params;
  ThreadScratch<T>* scratch;

  // Fills the fields and checks the pointers evaluation reads: x, then the coefficients (-1016) or
  // values (-1008) of every function unless routines serve every region, then r (-1037).
  int32_t set(const DfTask& t, EvalSetup e, T* results, RegionCallback<T> le_cb, const void* le_params,
              RegionCallback<T> re_cb, const void* re_params, RegionCallback<T> i_cb, const void* i_params,
              SearchCallback<T> search, const void* search_p) {
    task = &t;
    ev = e;
    nx = t.nx;
    x = static_cast<const T*>(t.x);
    uniform = t.xhint == ZOK_DF_PARTITION_UNIFORM;
    wide = t.IntWidthFlag != 0;
    nf = t.ny > 0 ? t.ny : 1;
    r = results;
    cb[kLeft] = le_cb;
    cb[kRight] = re_cb;
    cb[kInside] = i_cb;
    cb_params[kLeft] = le_params;
    cb_params[kRight] = re_params;
    cb_params[kInside] = i_params;
    any_cb = le_cb != nullptr || re_cb != nullptr || i_cb != nullptr;
    all_cb = le_cb != nullptr && re_cb != nullptr && i_cb != nullptr;
    search_cb = search;
    search_params = search_p;
    if (x == nullptr) return ErrX;
    if (!all_cb) {
      for (int64_t f = 0; f < nf; ++f) {
        const bool present =
            uniform ? Pieces<T, true>(t, e).base(f) != nullptr : Pieces<T, false>(t, e).base(f) != nullptr;
        if (!present) return reads_values(e.kind) ? ErrY : ErrCoeff;
      }
    }
    return r != nullptr ? kOk : ErrNullResult;
  }

  // The routine of a region on m sites or intervals; the count goes at the caller's width.
  int32_t run_routine(int region, int64_t m, const void* cells, const T* sites, T* out) const {
    int64_t count64 = m;
    int32_t count32 = static_cast<int32_t>(m);
    return cb[region](wide ? static_cast<void*>(&count64) : &count32, cells, sites, out, cb_params[region]);
  }
};

// Cells of a block of n <= kSiteBlock sites by the plan. A search routine sees the whole block at
// once; cells it gives outside 0 .. nx are refused (-1026) before anything indexes with them.
template <class T, class C>
int32_t search_block(const SearchPlan& plan, int64_t nx, const T* x, int64_t n, const T* t, C* cells,
                     SearchCallback<T> search_cb, const void* search_params) {
  int32_t flag[kSiteBlock];
  C start = 0;
  if (plan.mode == SearchMode::Sorted) {
    // The walk of sorted sites starts at the first site's cell, not at the partition's start.
    start = static_cast<C>(BucketSearch<T, int64_t>{x, nx, x[0], x[nx - 1], T(0), nullptr}.cell(t[0]));
  }
  const int32_t status =
      needs_wide_index(nx)
          ? run_plan<T, int64_t>(plan, nx, x, n, t, cells, search_cb, search_params, flag, start)
          : run_plan<T, int32_t>(plan, nx, x, n, t, cells, search_cb, search_params, flag, start);
  if (status < 0) return status;
  if (plan.mode == SearchMode::UserDef || plan.mode == SearchMode::UniUserDef)
    for (int64_t i = 0; i < n; ++i)
      if (cells[i] < 0 || cells[i] > nx) return ErrDataHint;
  return kOk;
}

}  // namespace zok::df
