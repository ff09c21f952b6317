// Nodes and steps of a task's partition, uniform or given point by point: the one place that says
// where node j of a uniform partition lies, for construction and interpolation alike.
#pragma once

#include <cmath>
#include <cstdint>

namespace zok::df {

// The step of nx evenly spaced nodes from x[0] to x[1].
template <class T>
inline T uniform_step(const T* x, int64_t nx) {
  return (x[1] - x[0]) / static_cast<T>(nx - 1);
}

// Node j of a uniform partition: x[0] + j*h. Only x[0] and x[1] of such a partition are ever read.
template <class T>
inline T uniform_node(const T* x, T h, int64_t j) {
  return x[0] + static_cast<T>(j) * h;
}

// A partition seen through node(j) and step(i) = h_i, the same code serving both kinds.
template <class T, bool Uniform>
struct Grid {
  const T* x;
  int64_t n;
  T h;  // the step of a uniform partition

  Grid(const T* x_, int64_t n_) : x(x_), n(n_), h(Uniform ? uniform_step(x_, n_) : T(0)) {}
  T node(int64_t j) const {
    if constexpr (Uniform) return uniform_node(x, h, j);
    return x[j];
  }
  T step(int64_t i) const {
    if constexpr (Uniform) return h;
    return x[i + 1] - x[i];
  }
  // Strictly ascending and finite: a repeated point, a NaN or an infinity makes steps of zero,
  // NaN or infinity, and every coefficient built on them meaningless.
  bool valid() const {
    if constexpr (Uniform) return std::isfinite(x[0]) && std::isfinite(x[1]) && x[0] < x[1] && h > T(0);
    bool ascending = true;
    for (int64_t i = 0; i + 1 < n; ++i) ascending &= x[i] < x[i + 1];
    return ascending && std::isfinite(x[0]) && std::isfinite(x[n - 1]);
  }
};

}  // namespace zok::df
