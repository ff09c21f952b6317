// The plain evaluation that interpolation is measured against: std::upper_bound for the cell, then
// the cubic of that cell in Horner form, coefficients laid out as the library lays them out.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zok::bench {

// Values at n sites of the cubic spline with nx nodes x and coefficients c (4 per cell); sites
// beyond the ends use the end cells.
inline void upper_bound_horner(int64_t nx, const double* x, const double* c, int64_t n, const double* s,
                               double* r) {
  for (int64_t i = 0; i < n; ++i) {
    const int64_t p = std::clamp<int64_t>(std::upper_bound(x, x + nx, s[i]) - x - 1, 0, nx - 2);
    const double u = s[i] - x[p];
    const double* q = c + 4 * p;
    r[i] = q[0] + u * (q[1] + u * (q[2] + u * q[3]));
  }
}

}  // namespace zok::bench
