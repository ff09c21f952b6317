// The plain build that spline construction is measured against: the free-end (natural) cubic of one
// function by the Thomas algorithm, coefficients laid out as the library lays them out.
#pragma once

#include <cstdint>
#include <vector>

namespace zok::bench {

// Node derivatives d from h_i d_{i-1} + 2(h_{i-1} + h_i) d_i + h_{i-1} d_{i+1} = 3(h_i m_{i-1} +
// h_{i-1} m_i), with 2 d_0 + d_1 = 3 m_0 and d_{n-2} + 2 d_{n-1} = 3 m_{n-2}; then c0..c3 per cell.
// `work` holds 2n values between calls.
inline void thomas_natural_spline(int64_t n, const double* x, const double* y, double* c,
                                  std::vector<double>& work) {
  work.resize(2 * static_cast<size_t>(n));
  double* cp = work.data();  // the eliminated super-diagonal
  double* d = cp + n;        // right-hand side, then the derivatives
  double h_prev = x[1] - x[0], m_prev = (y[1] - y[0]) / h_prev;
  cp[0] = 0.5;
  d[0] = 1.5 * m_prev;
  for (int64_t i = 1; i + 1 < n; ++i) {
    const double h = x[i + 1] - x[i], m = (y[i + 1] - y[i]) / h;
    const double denom = 2.0 * (h_prev + h) - h * cp[i - 1];
    cp[i] = h_prev / denom;
    d[i] = (3.0 * (h * m_prev + h_prev * m) - h * d[i - 1]) / denom;
    h_prev = h, m_prev = m;
  }
  d[n - 1] = (3.0 * m_prev - d[n - 2]) / (2.0 - cp[n - 2]);
  for (int64_t i = n - 2; i >= 0; --i) d[i] -= cp[i] * d[i + 1];
  for (int64_t i = 0; i + 1 < n; ++i) {
    const double h = x[i + 1] - x[i], m = (y[i + 1] - y[i]) / h;
    c[4 * i] = y[i];
    c[4 * i + 1] = d[i];
    c[4 * i + 2] = (3.0 * m - 2.0 * d[i] - d[i + 1]) / h;
    c[4 * i + 3] = (d[i] + d[i + 1] - 2.0 * m) / (h * h);
  }
}

}  // namespace zok::bench
