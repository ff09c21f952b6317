// Beta variates: Johnk's method when both shapes are below 1, Cheng's BB when both exceed 1 and
// Cheng's BC otherwise, mapped onto [a, a + beta].
#include <algorithm>

#include "distributions/continuous/continuous.h"
#include "zok/summary_stats.h"

namespace zok::rng::continuous {
namespace {

// Johnk: X = U^(1/p), Y = V^(1/q), accepted when X + Y <= 1, giving X / (X + Y). For small shapes
// X and Y underflow together, so the ratio is taken from their logarithms: with s = e^-|lx - ly| it
// is s / (1 + s) or its complement, which never divides 0 by 0.
template <class T>
int32_t johnk(StreamRecord* stream, int32_t n, T* r, T p, T q) {
  return rejection(n, r, [&](int32_t k, T* out) -> int32_t {
    T logs[2 * kBatch], powers[3 * kBatch];
    if (const int32_t status = uniform(stream, 2 * k, logs, T(0), T(1)); status < 0) return status;
    ln(Kernels<T>::kExact, 2 * k, logs, logs);
    for (int32_t i = 0; i < k; ++i) {
      powers[i] = logs[i] / p;
      powers[k + i] = logs[k + i] / q;
      powers[2 * k + i] = -std::abs(powers[i] - powers[k + i]);
    }
    bool smaller[kBatch];
    for (int32_t i = 0; i < k; ++i) smaller[i] = powers[i] <= powers[k + i];
    exp(Kernels<T>::kExactExp, 3 * k, powers, powers);
    int32_t got = 0;
    for (int32_t i = 0; i < k; ++i) {
      if (!(powers[i] + powers[k + i] <= T(1))) continue;
      // The smaller part is exact to rounding, so 1 - part rounds once to the nearest value near 1.
      const T part = powers[2 * k + i] / (T(1) + powers[2 * k + i]);
      out[got++] = smaller[i] ? part : T(1) - part;
    }
    return got;
  });
}

// Both of Cheng's methods (1978) draw V = scale·ln(u1 / (1 - u1)) and W = w_shape·e^V from a
// log-logistic envelope of beta-prime variates; W / (other + W) is then a beta variate with first
// shape w_shape, and its complement serves when that shape is q. W overflows to infinity and
// underflows to 0 at the ends.
template <class T>
struct Cheng {
  T w_shape, other, alpha, scale;
  bool w_is_p;
  T log_ratio;  // ln(w_shape / other): W / (other + W) is the logistic function of V + log_ratio
};

// Writes V, W and z = u1^2·u2 for the k candidates of a round from 2k uniforms.
template <class T>
int32_t cheng_candidates(StreamRecord* stream, const Cheng<T>& m, int32_t k, T* u, T* v, T* w, T* z) {
  if (const int32_t status = uniform(stream, 2 * k, u, T(0), T(1)); status < 0) return status;
  for (int32_t i = 0; i < k; ++i) {
    v[i] = u[i] / (T(1) - u[i]);
    z[i] = u[i] * u[i] * u[k + i];
  }
  ln(Kernels<T>::kExact, k, v, v);
  for (int32_t i = 0; i < k; ++i) w[i] = v[i] = m.scale * v[i];
  exp(Kernels<T>::kExactExp, k, w, w);
  for (int32_t i = 0; i < k; ++i) w[i] *= m.w_shape;
  return 0;
}

// For the undecided candidates: logs[j] = ln z and logs[count + j] = ln(alpha / (other + W)).
template <class T>
void cheng_logs(const Cheng<T>& m, int32_t count, int32_t* undecided, const T* w, const T* z, T* logs) {
  for (int32_t j = 0; j < count; ++j) {
    logs[j] = z[undecided[j]];
    logs[count + j] = m.alpha / (m.other + w[undecided[j]]);
  }
  ln(Kernels<T>::kExact, 2 * count, logs, logs);
}

// Near 1/2 (large equal shapes) W carries the rounding of e^V, as coarse as the output's own
// spacing there, so the logistic function is taken as 1/2 + tanh(L/2)/2 from its series in L.
// Elsewhere the smaller of W / (other + W) and other / (other + W) is taken directly and the larger
// as its complement: values next to 1 then round once, and W = infinity gives 1 and 0, not NaN.
template <class T>
T cheng_result(const Cheng<T>& m, T v, T w) {
  if (const T h = (v + m.log_ratio) / T(2); std::abs(h) < T(0.0625)) {
    const T h2 = h * h;
    const T half_tanh = T(0.5) * h * (T(1) + h2 * (T(-1.0 / 3) + h2 * (T(2.0 / 15) + h2 * T(-17.0 / 315))));
    return m.w_is_p ? T(0.5) + half_tanh : T(0.5) - half_tanh;
  }
  const bool w_larger = w >= m.other;
  const T part = (w_larger ? m.other : w) / (m.other + w);
  return w_larger == m.w_is_p ? T(1) - part : part;
}

constexpr double kLn4 = 1.3862943611198906;

// BB, both shapes above 1: W belongs to the smaller shape.
template <class T>
int32_t cheng_bb(StreamRecord* stream, int32_t n, T* r, T p, T q) {
  const double a = std::min(p, q), b = std::max(p, q), alpha = a + b;
  const double scale = __qordSqrt((alpha - 2.0) / (2.0 * a * b - alpha));
  const T gamma = static_cast<T>(a + 1.0 / scale);
  const Cheng<T> m{T(a), T(b), T(alpha), T(scale), p <= q, T(__qordLn(a / b))};
  return rejection(n, r, [&](int32_t k, T* out) -> int32_t {
    T u[2 * kBatch], v[kBatch], w[kBatch], z[kBatch], logs[2 * kBatch], s[kBatch];
    int32_t undecided[kBatch];
    bool accept[kBatch];
    if (const int32_t status = cheng_candidates(stream, m, k, u, v, w, z); status < 0) return status;
    int32_t count = 0;
    for (int32_t i = 0; i < k; ++i) {
      s[i] = m.w_shape + (gamma * v[i] - T(kLn4)) - w[i];
      accept[i] = s[i] + T(2.609438) >= T(5) * z[i];  // 2.609438 = 1 + ln 5
      if (!accept[i]) undecided[count++] = i;
    }
    cheng_logs(m, count, undecided, w, z, logs);
    for (int32_t j = 0; j < count; ++j) {
      const int32_t i = undecided[j];
      accept[i] = s[i] >= logs[j] || (gamma * v[i] - T(kLn4)) + m.alpha * logs[count + j] >= logs[j];
    }
    int32_t got = 0;
    for (int32_t i = 0; i < k; ++i)
      if (accept[i]) out[got++] = cheng_result(m, v[i], w[i]);
    return got;
  });
}

// BC, the smaller shape at most 1 and the other at least 1: W belongs to the larger shape.
template <class T>
int32_t cheng_bc(StreamRecord* stream, int32_t n, T* r, T p, T q) {
  const double a = std::max(p, q), b = std::min(p, q), alpha = a + b, scale = 1.0 / b;
  const double delta = 1.0 + a - b;
  const T k1 = static_cast<T>(delta * (0.0138889 + 0.0416667 * b) / (a * scale - 0.777778));
  const T k2 = static_cast<T>(0.25 + (0.5 + 0.25 / delta) * b);
  const Cheng<T> m{T(a), T(b), T(alpha), T(scale), p >= q, T(__qordLn(a / b))};
  return rejection(n, r, [&](int32_t k, T* out) -> int32_t {
    T u[2 * kBatch], v[kBatch], w[kBatch], z[kBatch], logs[2 * kBatch];
    int32_t undecided[kBatch];
    enum : char { kReject, kAccept, kTest };
    char verdict[kBatch];
    if (const int32_t status = cheng_candidates(stream, m, k, u, v, w, z); status < 0) return status;
    int32_t count = 0;
    for (int32_t i = 0; i < k; ++i) {
      const T u1 = u[i], u2 = u[k + i];
      if (u1 < T(0.5)) {
        verdict[i] = T(0.25) * u2 + z[i] - u1 * u2 >= k1 ? kReject : kTest;
      } else {
        verdict[i] = z[i] <= T(0.25) ? kAccept : z[i] >= k2 ? kReject : kTest;
      }
      if (verdict[i] == kTest) undecided[count++] = i;
    }
    cheng_logs(m, count, undecided, w, z, logs);
    for (int32_t j = 0; j < count; ++j) {
      const int32_t i = undecided[j];
      verdict[i] = m.alpha * (logs[count + j] + v[i]) - T(kLn4) >= logs[j] ? kAccept : kReject;
    }
    int32_t got = 0;
    for (int32_t i = 0; i < k; ++i)
      if (verdict[i] == kAccept) out[got++] = cheng_result(m, v[i], w[i]);
    return got;
  });
}

template <class T>
int32_t beta(StreamRecord* stream, int32_t n, T* r, T p, T q, T a, T beta) {
  Repair<T> repair;
  int32_t status;
  if (p < T(1) && q < T(1)) {
    status = johnk(stream, n, r, p, q);
  } else if (std::min(p, q) > T(1)) {
    status = cheng_bb(stream, n, r, p, q);
  } else {
    status = cheng_bc(stream, n, r, p, q);
  }
  if (status < 0) return status;
  // x in [0, 1] keeps a + beta·x in [a, a + beta]: the rounding is monotonic.
  for (int32_t k = 0; k < n; ++k) r[k] = a + beta * r[k];
  return 0;
}

}  // namespace
}  // namespace zok::rng::continuous

int32_t _qordRngBeta(int32_t, StreamRecord* stream, int32_t n, double* r, double p, double q, double a,
                     double beta) {
  return zok::rng::continuous::beta<double>(stream, n, r, p, q, a, beta);
}
int32_t _qorsRngBeta(int32_t, StreamRecord* stream, int32_t n, float* r, float p, float q, float a,
                     float beta) {
  return zok::rng::continuous::beta<float>(stream, n, r, p, q, a, beta);
}
