// Helpers of the data-fitting tests: partitions and probe sites, the reference cell by binary
// search, threading tables with a chosen thread count, and the allocator hook.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "core/thread_limit.h"
#include "tests/support/alloc_hook.h"
#include "zok/core_services.h"
#include "zok/data_fitting.h"

namespace zok::test {

// The cell of t by the definition: the number of nodes not above t, except nx-1 at the last point.
// std::upper_bound places NaN after every node, which is where the searches place it too.
template <class T>
int64_t reference_cell(const std::vector<T>& x, T t) {
  if (t == x.back()) return static_cast<int64_t>(x.size()) - 1;
  return std::upper_bound(x.begin(), x.end(), t) - x.begin();
}

template <class T>
std::vector<int64_t> reference_cells(const std::vector<T>& x, const std::vector<T>& sites) {
  std::vector<int64_t> r(sites.size());
  for (size_t i = 0; i < sites.size(); ++i) r[i] = reference_cell(x, sites[i]);
  return r;
}

template <class T>
void make_strictly_ascending(std::vector<T>& x) {
  std::sort(x.begin(), x.end());
  for (size_t i = 1; i < x.size(); ++i)
    if (!(x[i] > x[i - 1])) x[i] = std::nextafter(x[i - 1], std::numeric_limits<T>::infinity());
}

enum class Shape { kRandom, kGraded, kClustered };

// Strictly ascending partitions: random points, points crowded towards one end (a cubic grading),
// and runs of neighbouring floating-point values that look repeated.
template <class T>
std::vector<T> make_partition(Shape shape, size_t n, std::mt19937_64& rng) {
  std::vector<T> x(n);
  std::uniform_real_distribution<double> u(-3.0, 7.0);
  switch (shape) {
    case Shape::kRandom:
      for (auto& v : x) v = static_cast<T>(u(rng));
      break;
    case Shape::kGraded:
      for (size_t j = 0; j < n; ++j) {
        const double s = n > 1 ? static_cast<double>(j) / static_cast<double>(n - 1) : 0.0;
        x[j] = static_cast<T>(-3.0 + 100.0 * s * s * s);
      }
      break;
    case Shape::kClustered:
      for (size_t j = 0; j < n;) {
        T base = static_cast<T>(u(rng));
        const size_t run = 1 + rng() % 4;
        for (size_t r = 0; r < run && j < n; ++r, ++j) {
          x[j] = base;
          base = std::nextafter(base, std::numeric_limits<T>::infinity());
        }
      }
      break;
  }
  make_strictly_ascending(x);
  return x;
}

// Sites around and on a partition: random ones spreading a little beyond both ends, every node (up
// to `max_nodes`, evenly picked) with its two floating-point neighbours, the infinities, NaN and the
// largest finite values. Shuffled.
template <class T>
std::vector<T> probe_sites(const std::vector<T>& x, size_t random_count, size_t max_nodes,
                           std::mt19937_64& rng) {
  std::vector<T> s;
  const double lo = x.front(), hi = x.back(), pad = 0.1 * (hi - lo) + 1e-3;
  std::uniform_real_distribution<double> u(lo - pad, hi + pad);
  for (size_t i = 0; i < random_count; ++i) s.push_back(static_cast<T>(u(rng)));
  const size_t step = std::max<size_t>(1, x.size() / std::max<size_t>(1, max_nodes));
  constexpr T kInf = std::numeric_limits<T>::infinity();
  for (size_t j = 0; j < x.size(); j += step) {
    s.push_back(x[j]);
    s.push_back(std::nextafter(x[j], -kInf));
    s.push_back(std::nextafter(x[j], kInf));
  }
  for (T v :
       {x.back(), std::nextafter(x.back(), -kInf), std::nextafter(x.back(), kInf), x.front(), kInf, -kInf,
        std::numeric_limits<T>::quiet_NaN(), std::numeric_limits<T>::max(), std::numeric_limits<T>::lowest()})
    s.push_back(v);
  std::shuffle(s.begin(), s.end(), rng);
  return s;
}

// Owns a task for the length of a test.
struct Task {
  DfTask* t = nullptr;
  ~Task() {
    if (t != nullptr) zok_df_kernel_DeleteTask(&t);
  }
  DfTask** operator&() { return &t; }
  operator DfTask*() const { return t; }
};

// A task with a partition and no functions, in either precision.
template <class T>
int32_t new_task(DfTask** t, int64_t nx, const T* x, int64_t xhint = 0, int32_t width_flag = 0) {
  if constexpr (sizeof(T) == 8) {
    return zok_df_kernel_dNewTask1D(t, nx, x, xhint, 0, nullptr, 0, width_flag);
  } else {
    return zok_df_kernel_sNewTask1D(t, nx, x, xhint, 0, nullptr, 0, width_flag);
  }
}

// A cell or count of 4 or 8 bytes at p, widened; and its store.
inline int64_t load_cell(const void* p, size_t width) {
  int32_t v32;
  int64_t v64;
  std::memcpy(width == 4 ? static_cast<void*>(&v32) : &v64, p, width);
  return width == 4 ? v32 : v64;
}
inline void store_cell(void* p, size_t width, int64_t v) {
  const int32_t v32 = static_cast<int32_t>(v);
  std::memcpy(p, width == 4 ? static_cast<const void*>(&v32) : &v, width);
}

// The core library's table with a fixed thread limit, whose slots 0 and 1 count their calls to see
// whether a search was split.
struct FixedThreads {
  static inline int parallel_calls = 0;
  static void parallel_for(int64_t n, int threads, void* context, ZokLoopBody body) {
    ++parallel_calls;
    zok_serv_get_threading_services()->parallel_for(n, threads, context, body);
  }
  static const ThreadingServices* with(int threads) {
    static ThreadingServices table;
    table = *zok::core::threads_up_to(threads);
    table.parallel_for = table.parallel_for2 = parallel_for;
    parallel_calls = 0;
    return &table;
  }
};

}  // namespace zok::test
