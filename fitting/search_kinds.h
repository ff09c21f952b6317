// Cell search kinds as templates over the element type T, the index type I of the node arithmetic
// and the cell type C written out; the exported kernels and the task's search drivers share them.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "fitting/task.h"
#include "zok/data_fitting.h"

namespace zok::df {

enum class SearchMode : int32_t {
  Uniform = 0,
  QuasiUniform = 1,
  Sorted = 2,
  Peak = 3,
  Hybrid = 4,
  UserDef = 5,
  UniUserDef = 6,
};

template <class T>
using SearchCallback =
    std::conditional_t<std::is_same_v<T, double>, ZokDfdSearchCallback, ZokDfsSearchCallback>;

// From this partition size on, node indices and nx + 1 no longer fit 32-bit arithmetic.
inline constexpr int64_t kWideIndexFrom = std::numeric_limits<int32_t>::max();
inline bool needs_wide_index(int64_t nx) {
  return nx >= kWideIndexFrom;
}

// The hybrid search bisects down to this many nodes, then walks.
inline constexpr int64_t kHybridWalk = 20;
// The callback status saying that every cell has been written.
inline constexpr int32_t kCallbackAllCells = 1000;
// Sites per call of a search routine when the caller gives no flags array.
inline constexpr int64_t kCallbackGroup = 128;
// Sites whose first guesses the quasi-uniform search computes together.
inline constexpr int64_t kGuessGroup = 32;

template <class T>
struct SearchArgs {
  int64_t nx;
  const T* x;
  int64_t nsite;
  const T* site;
  void* aux;
  double param;
};

// A site at or above the last point, or NaN, which compares false everywhere and so is placed after
// the last cell, as a search for the first node above it would place it.
template <class T, class I>
inline I outer_cell(T t, T last, I nx) {
  return t == last ? nx - 1 : nx;
}

// Truncated scaled position of t, as a cell guess in [1, nx]; the clamps go first so that no
// conversion sees NaN, an infinity or a value beyond I.
template <class T, class I>
inline I guess_cell(T t, T first, T scale, T top, I nx) {
  T u = (t - first) * scale;
  u = u < top ? u : top;
  u = u > T(0) ? u : T(0);
  return u < top ? static_cast<I>(u) + 1 : nx;
}

// Uniform partition, given by its two ends x[0] and x[1]; inv = (nx-1)/(x[1]-x[0]).
template <class T, class I>
struct UniformGrid {
  I nx;
  T first, last, inv, top;
  UniformGrid(I n, const T* x, T scale)
      : nx(n), first(x[0]), last(x[1]), inv(scale), top(static_cast<T>(n)) {}
  // The scaled position only chooses among the inner cells: whether t lies beyond the last point is
  // decided by comparison, so rounding cannot move a site below it out of the partition.
  I cell(T t) const {
    I c = guess_cell(t, first, inv, top, nx);
    c = c < nx - 1 ? c : nx - 1;
    c = t < first ? I(0) : c;
    return t <= last ? c : nx;
  }
};

// Walks from a starting cell p in [0, nx] to the cell of t, for t below the last point.
template <class T, class I>
inline I walk_from(const T* x, I nx, I p, T t) {
  I c = p;
  if (p >= nx) {
    c = nx - 1;
    while (c > 0 && x[c - 1] > t) --c;
  } else if (t >= x[p]) {
    // x[nx-1] > t ends the walk inside the partition.
    while (x[c] <= t) ++c;
  } else {
    while (c > 0 && x[c - 1] > t) --c;
  }
  return c;
}

template <class T, class I>
inline I peak_cell(const T* x, I nx, T last, I p, T t) {
  if (!(t < last)) return outer_cell(t, last, nx);
  return walk_from(x, nx, p, t);
}

// A starting cell from a caller's integer or double, within [0, nx].
template <class I, class V>
inline I start_cell(V v, I nx) {
  if (!(v > V(0))) return 0;
  if constexpr (std::is_integral_v<V>) {
    return static_cast<int64_t>(v) >= static_cast<int64_t>(nx) ? nx : static_cast<I>(v);
  } else {
    return v >= static_cast<V>(nx) ? nx : static_cast<I>(v);
  }
}

// Bucket-index search. A null table stands for one bucket spanning the partition (plain
// bisection). Table entries are clamped to the partition so that an index built for another
// partition can give a wrong cell but never a read outside x.
template <class T, class I>
struct BucketSearch {
  const T* x;
  I nx;
  T first, last, inv;
  const uint64_t* table;

  // For t in [first, last): nodes lo < hi with x[lo] <= t < x[hi].
  void bracket(T t, I& lo, I& hi) const {
    const uint64_t top = static_cast<uint64_t>(nx - 1);
    uint64_t l = 0, h = top;
    if (table != nullptr) {
      T u = (t - first) * inv;
      u = u > T(0) ? u : T(0);
      u = u < static_cast<T>(kBucketEntries - 1) ? u : static_cast<T>(kBucketEntries - 1);
      const int64_t k = static_cast<int64_t>(u);
      l = table[2 * k];
      h = table[2 * k + 1];
      h = h < top ? h : top;
      l = l < h ? l : h;
    }
    lo = static_cast<I>(l);
    hi = static_cast<I>(h);
  }

  // One bisection step, taken only while more than kHybridWalk nodes remain; mid lies in [lo, hi],
  // so the read is inside x even when the step is not taken. The update is arithmetic: a branch on
  // the comparison would stall every later read until this one has arrived. Both possible next
  // midpoints are fetched alongside, so on a large partition two steps cost about one memory wait.
  bool bisect(T t, I& lo, I& hi) const {
    const I width = hi - lo;
    const I active = width > kHybridWalk;
    const I mid = lo + width / 2;
    __builtin_prefetch(x + lo + width / 4);
    __builtin_prefetch(x + mid + (hi - mid) / 2);
    const I above = x[mid] > t;
    hi -= (active & above) * (hi - mid);
    lo += (active & (above ^ 1)) * (mid - lo);
    return active != 0;
  }

  // The first node above t in [lo, hi), or hi. On ascending nodes that is lo plus the nodes of
  // [lo, hi) not above t, counted over a fixed window so that no branch depends on the data.
  I walk(T t, I lo, I hi) const {
    I c = lo;
    if (lo <= nx - kHybridWalk) {
      for (I j = 0; j < kHybridWalk; ++j) c += (lo + j < hi) & (x[lo + j] <= t);
    } else {
      for (I i = lo; i < hi; ++i) c += x[i] <= t ? 1 : 0;
    }
    return c;
  }

  I cell(T t) const {
    if (!(t >= first && t < last)) return t < first ? I(0) : outer_cell(t, last, nx);
    I lo, hi;
    bracket(t, lo, hi);
    while (bisect(t, lo, hi)) {
    }
    return walk(t, lo, hi);
  }
};

// Partitions of a few points: the count of nodes not above t.
template <class T, class I>
inline I count_cell(const T* x, I nx, T last, T t) {
  if (!(t < last)) return outer_cell(t, last, nx);
  I c = 0;
  for (I i = 0; i < nx; ++i) c += x[i] <= t ? 1 : 0;
  return c;
}

template <class T, class I, class C>
void uniform_cells(const SearchArgs<T>& a, C* cell) {
  const UniformGrid<T, I> grid(static_cast<I>(a.nx), a.x, static_cast<T>(a.param));
  for (int64_t i = 0; i < a.nsite; ++i) cell[i] = static_cast<C>(grid.cell(a.site[i]));
}

template <class T, class I, class C>
void quasi_uniform_cells(const SearchArgs<T>& a, C* cell) {
  const I nx = static_cast<I>(a.nx);
  const T* x = a.x;
  const T first = x[0], last = x[nx - 1], scale = static_cast<T>(a.param), top = static_cast<T>(nx);
  I guess[kGuessGroup];
  for (int64_t b = 0; b < a.nsite; b += kGuessGroup) {
    const int64_t m = a.nsite - b < kGuessGroup ? a.nsite - b : kGuessGroup;
    const T* s = a.site + b;
    for (int64_t i = 0; i < m; ++i) guess[i] = guess_cell(s[i], first, scale, top, nx);
    for (int64_t i = 0; i < m; ++i) {
      const T t = s[i];
      I c;
      if (t < first) {
        c = 0;
      } else if (!(t < last)) {
        c = outer_cell(t, last, nx);
      } else {
        const I g = guess[i];
        if (g >= nx) {
          c = nx;
          while (c > 0 && x[c - 1] > t) --c;
        } else {
          c = walk_from(x, nx, g, t);
        }
      }
      cell[b + i] = static_cast<C>(c);
    }
  }
}

// Sites in ascending order: one short bisection for the first site, then a walk that follows the
// sites. Returns the position after the last site.
template <class T, class I, class C>
I sorted_cells(const SearchArgs<T>& a, I start, C* cell) {
  const I nx = static_cast<I>(a.nx);
  const T* x = a.x;
  const T last = x[nx - 1];
  I pos = start;
  if (a.nsite > 0 && pos < nx - nx / 2) {
    const T t = a.site[0];
    I lo = pos, hi = nx;
    while (lo < hi - nx / 2) {
      const I mid = lo + (hi - lo) / 2;
      if (x[mid] > t) {
        hi = mid;
      } else {
        lo = mid;
      }
    }
    pos = lo;
  }
  // With about a node or more between neighbouring sites the number of steps is unpredictable, and
  // counting the next four nodes without a branch beats a loop that mispredicts its end.
  const bool dense = static_cast<int64_t>(nx) * 4 >= a.nsite;
  for (int64_t i = 0; i < a.nsite; ++i) {
    const T t = a.site[i];
    if (t < last) {
      // Walking down as well keeps the cells right after a stale start position or a site out of
      // order; for ascending sites it costs one comparison.
      while (pos > 0 && x[pos - 1] > t) --pos;
      if (dense && pos <= nx - 4) {
        const I ahead = (x[pos] <= t) + (x[pos + 1] <= t) + (x[pos + 2] <= t) + (x[pos + 3] <= t);
        pos += ahead;
        if (ahead < 4) {
          cell[i] = static_cast<C>(pos);
          continue;
        }
      }
      // x[nx-1] > t ends the walk inside the partition.
      while (x[pos] <= t) ++pos;
      cell[i] = static_cast<C>(pos);
    } else {
      if (t > last) pos = nx;
      cell[i] = static_cast<C>(outer_cell(t, last, nx));
    }
  }
  return pos;
}

template <class T, class I, class C>
void peak_cells(const SearchArgs<T>& a, C* cell) {
  const I nx = static_cast<I>(a.nx);
  const I p = start_cell<I>(a.param, nx);
  const T last = a.x[nx - 1];
  for (int64_t i = 0; i < a.nsite; ++i) cell[i] = static_cast<C>(peak_cell(a.x, nx, last, p, a.site[i]));
}

// Sites go through the bisection in groups, one step for the whole group at a time: the reads of
// different sites do not wait for each other, which hides most of the memory latency of large
// partitions. Each site still takes exactly its own steps.
template <class T, class I, class C>
void hybrid_cells(const SearchArgs<T>& a, const uint64_t* table, C* cell) {
  constexpr int kGroup = 16;
  const I nx = static_cast<I>(a.nx);
  const T first = a.x[0], last = a.x[nx - 1];
  const BucketSearch<T, I> search{a.x, nx, first, last, static_cast<T>(a.param), table};
  I lo[kGroup], hi[kGroup], outer[kGroup];
  T t[kGroup];
  for (int64_t b = 0; b < a.nsite; b += kGroup) {
    const int m = a.nsite - b < kGroup ? static_cast<int>(a.nsite - b) : kGroup;
    for (int j = 0; j < m; ++j) {
      t[j] = a.site[b + j];
      if (t[j] >= first && t[j] < last) {
        search.bracket(t[j], lo[j], hi[j]);
        outer[j] = -1;
      } else {
        // An empty bracket at node 0 takes no step and reads only x[0].
        lo[j] = hi[j] = 0;
        outer[j] = t[j] < first ? I(0) : outer_cell(t[j], last, nx);
      }
    }
    for (bool any = true; any;) {
      any = false;
      for (int j = 0; j < m; ++j) any |= search.bisect(t[j], lo[j], hi[j]);
    }
    for (int j = 0; j < m; ++j)
      cell[b + j] = static_cast<C>(outer[j] >= 0 ? outer[j] : search.walk(t[j], lo[j], hi[j]));
  }
}

template <class T, class I, class C>
void small_partition_cells(const SearchArgs<T>& a, C* cell) {
  const I nx = static_cast<I>(a.nx);
  const T last = a.x[nx - 1];
  for (int64_t i = 0; i < a.nsite; ++i) cell[i] = static_cast<C>(count_cell(a.x, nx, last, a.site[i]));
}

// UserDef and UniUserDef: the search routine places what it can, the library the rest. Without a
// flags array the routine sees groups of kCallbackGroup sites; with one, as many sites as its count
// can hold.
template <SearchMode M, class T, class I, class C>
int32_t user_cells(const SearchArgs<T>& a, C* cell, SearchCallback<T> search_cb, const void* params,
                   int32_t* flag) {
  static_assert(M == SearchMode::UserDef || M == SearchMode::UniUserDef);
  constexpr bool kUniform = M == SearchMode::UniUserDef;
  const I nx = static_cast<I>(a.nx);
  // A uniform partition stores its two ends only.
  const T last = a.x[kUniform ? 1 : nx - 1];
  const UniformGrid<T, I> grid(nx, a.x, static_cast<T>(a.param));
  const BucketSearch<T, I> bisect{a.x, nx, a.x[0], last, T(0), nullptr};
  auto library_cell = [&](T t, C start) -> I {
    if constexpr (kUniform) {
      return grid.cell(t);
    } else {
      return peak_cell(a.x, nx, last, start_cell<I>(start, nx), t);
    }
  };
  if (search_cb == nullptr) {
    for (int64_t i = 0; i < a.nsite; ++i) {
      const T t = a.site[i];
      cell[i] = static_cast<C>(kUniform ? grid.cell(t) : bisect.cell(t));
    }
    return kOk;
  }
  int32_t local_flag[kCallbackGroup];
  const int64_t group =
      flag != nullptr ? static_cast<int64_t>(std::numeric_limits<C>::max()) : kCallbackGroup;
  int32_t status = kOk;
  for (int64_t b = 0; b < a.nsite; b += group) {
    const int64_t m = a.nsite - b < group ? a.nsite - b : group;
    int32_t* f = flag != nullptr ? flag + b : local_flag;
    // Sites the routine leaves unmarked are the library's, whatever the array held before.
    for (int64_t i = 0; i < m; ++i) f[i] = 0;
    C count = static_cast<C>(m);
    status = search_cb(&count, a.site + b, cell + b, f, params);
    if (status < 0) return status;
    if (status == kCallbackAllCells) {
      status = kOk;
      continue;
    }
    for (int64_t i = 0; i < m; ++i)
      if (f[i] == 0) cell[b + i] = static_cast<C>(library_cell(a.site[b + i], cell[b + i]));
  }
  return status;
}

// Runs kind M over all sites of `a`.
template <SearchMode M, class T, class I, class C>
int32_t search_range(const SearchArgs<T>& a, C* cell, SearchCallback<T> search_cb, const void* params,
                     int32_t* flag) {
  if (a.nsite <= 0) return kOk;
  if constexpr (M == SearchMode::Uniform) {
    uniform_cells<T, I>(a, cell);
  } else if constexpr (M == SearchMode::QuasiUniform) {
    quasi_uniform_cells<T, I>(a, cell);
  } else if constexpr (M == SearchMode::Sorted) {
    C* position = static_cast<C*>(a.aux);
    const I nx = static_cast<I>(a.nx);
    const I start = position != nullptr ? start_cell<I>(*position, nx) : I(0);
    const I end = sorted_cells<T, I>(a, start, cell);
    if (position != nullptr) *position = static_cast<C>(end);
  } else if constexpr (M == SearchMode::Peak) {
    peak_cells<T, I>(a, cell);
  } else if constexpr (M == SearchMode::Hybrid) {
    hybrid_cells<T, I>(a, static_cast<const uint64_t*>(a.aux), cell);
  } else {
    return user_cells<M, T, I>(a, cell, search_cb, params, flag);
  }
  return kOk;
}

// Chooses 32-bit index arithmetic where the partition allows it.
template <SearchMode M, class T, class C>
int32_t search_cells(const SearchArgs<T>& a, C* cell, SearchCallback<T> search_cb, const void* params,
                     int32_t* flag) {
  if (needs_wide_index(a.nx)) return search_range<M, T, int64_t>(a, cell, search_cb, params, flag);
  return search_range<M, T, int32_t>(a, cell, search_cb, params, flag);
}

}  // namespace zok::df
