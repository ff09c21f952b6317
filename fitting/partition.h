// Nodes, steps, values and quadratic knots of a task's partition, uniform or given point by point: the
// one place that says where node j of a uniform partition lies, for construction and evaluation alike.
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

// Values of one function: element j of a row, or of a column of values stored by nodes.
template <class T, bool Columns>
struct Values {
  const T* p;
  int64_t stride;
  T operator[](int64_t j) const {
    if constexpr (Columns) return p[j * stride];
    return p[j];
  }
};

// Knots between the nodes: t_0 = x_0, t_n = x_{n-1} and one knot inside every node interval.
template <class T, bool Uniform>
struct Knots {
  const Grid<T, Uniform>& g;
  const T* ic;
  bool all_given;  // ic holds t_0 .. t_n; otherwise, when ic is given, the first and last inner knots
  T knot(int64_t j) const {
    const int64_t n = g.n;
    if (ic != nullptr && all_given) return ic[j];
    if (j == 0) return g.node(0);
    if (j == n) return g.node(n - 1);
    if (ic == nullptr) return (g.node(j - 1) + g.node(j)) / T(2);
    if (n == 2) return ic[0];
    return ic[0] + static_cast<T>(j - 1) * ((ic[1] - ic[0]) / static_cast<T>(n - 2));
  }
  bool valid() const {
    const int64_t n = g.n;
    if (ic != nullptr && all_given && !(ic[0] == g.node(0) && ic[n] == g.node(n - 1))) return false;
    if (ic != nullptr && !all_given && !(g.node(0) < ic[0] && ic[n == 2 ? 0 : 1] < g.node(n - 1)))
      return false;
    for (int64_t j = 1; j < n; ++j) {
      const T t = knot(j);
      if (!(g.node(j - 1) < t && t < g.node(j))) return false;
    }
    return true;
  }
};

}  // namespace zok::df
