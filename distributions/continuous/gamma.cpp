// Gamma variates: the exponential for shape 1, Marsaglia and Tsang's squeeze method above it, and
// below it the power/exponential envelope of Ahrens and Dieter (GS) or Best (RGS).
#include <algorithm>
#include <cmath>

#include "distributions/continuous/continuous.h"
#include "zok/summary_stats.h"

namespace zok::rng::continuous {
namespace {

// The pending Box-Muller pair of Marsaglia-Tsang: two doubles, or two floats in the single form.
template <class T>
constexpr int32_t kPairChunk = sizeof(T) == 8 ? 7 : 8;

// z[0..k) standard normals, a sequence that runs on across calls: each Box-Muller pair gives its
// sine half, then its cosine half. A pair whose cosine half is not needed yet waits in `pair` as its
// two uniforms (first value -1 when none waits): a normal can be negative and could not mark its
// own absence.
template <class T>
int32_t normals(StreamRecord* stream, T* pair, int32_t k, T* z) {
  T u1[kBatch / 2 + 1], theta[kBatch / 2 + 1], sin_t[kBatch / 2 + 1], cos_t[kBatch / 2 + 1];
  int32_t pairs = 0;
  const bool pending = pair[0] >= T(0);
  if (pending) {
    u1[0] = pair[0];
    theta[0] = pair[1];
    pairs = 1;
  }
  const int32_t fresh = (k - (pending ? 1 : 0) + 1) / 2;
  if (fresh > 0) {
    T draws[kBatch + 2];
    if (const int32_t status = uniform(stream, 2 * fresh, draws, T(0), T(1)); status < 0) return status;
    for (int32_t j = 0; j < fresh; ++j) {
      u1[pairs + j] = draws[2 * j];
      theta[pairs + j] = draws[2 * j + 1];
    }
    pair[0] = draws[2 * fresh - 2];
    pair[1] = draws[2 * fresh - 1];
  }
  pairs += fresh;
  for (int32_t j = 0; j < pairs; ++j) theta[j] *= Kernels<T>::kTwoPi;
  sincos(pairs, theta, sin_t, cos_t);
  ln(Kernels<T>::kFast, pairs, u1, u1);
  for (int32_t j = 0; j < pairs; ++j) u1[j] = -(u1[j] + u1[j]);
  sqrt(Kernels<T>::kFast, pairs, u1, u1);
  int32_t out = 0;
  int32_t j = 0;
  if (pending) z[out++] = u1[j++] * cos_t[0];
  for (; j < pairs; ++j) {
    z[out++] = u1[j] * sin_t[j];
    if (out < k) z[out++] = u1[j] * cos_t[j];
  }
  // The last fresh pair waits only when its cosine half was left over.
  if (fresh == 0 || (k - (pending ? 1 : 0)) % 2 == 0) pair[0] = pair[1] = T(-1);
  return 0;
}

// Marsaglia and Tsang (2000): x = d·v with v = (1 + c·z)^3 for a normal z, accepted when
// u < 1 - 0.0331 z^4 or ln u < z^2/2 + d·(1 - v + ln v). With w = c·z, 1 - v + ln v is
// 3 ln(1 + w) - w(3 + w(3 + w)); for large shapes both parts nearly cancel, so ln(1 + w) is taken
// as ln s plus the rounding error of s = 1 + w over s.
template <class T>
int32_t marsaglia_tsang(StreamRecord* stream, int32_t n, T* r, T alpha) {
  T* pair;
  if (const int32_t status = pair_chunk(stream, kPairChunk<T>, &pair); status < 0) return status;
  const T d = alpha - T(1) / T(3);
  const T c = static_cast<T>(1.0 / __qordSqrt(9.0 * static_cast<double>(alpha) - 3.0));
  return rejection(n, r, [&](int32_t k, T* out) -> int32_t {
    T z[kBatch], u[kBatch], logs[2 * kBatch];
    int32_t undecided[kBatch];
    enum : char { kReject, kAccept, kTest };
    char verdict[kBatch];
    if (const int32_t status = normals(stream, pair, k, z); status < 0) return status;
    if (const int32_t status = uniform(stream, k, u, T(0), T(1)); status < 0) return status;
    int32_t m = 0;
    for (int32_t i = 0; i < k; ++i) {
      const T w = c * z[i];
      const T z2 = z[i] * z[i];
      if (w <= T(-1)) {
        verdict[i] = kReject;
      } else if (u[i] < T(1) - T(0.0331) * z2 * z2) {
        verdict[i] = kAccept;
      } else {
        verdict[i] = kTest;
        undecided[m++] = i;
      }
    }
    for (int32_t j = 0; j < m; ++j) {
      logs[j] = u[undecided[j]];
      logs[m + j] = T(1) + c * z[undecided[j]];
    }
    ln(Kernels<T>::kExact, 2 * m, logs, logs);
    for (int32_t j = 0; j < m; ++j) {
      const int32_t i = undecided[j];
      const T w = c * z[i];
      const T s = T(1) + w;
      const T sw = s - T(1);
      const T err = (T(1) - (s - sw)) + (w - sw);
      const T g = T(3) * (logs[m + j] + err / s) - w * (T(3) + w * (T(3) + w));
      verdict[i] = logs[j] < T(0.5) * z[i] * z[i] + d * g ? kAccept : kReject;
    }
    // d + d·(v - 1) rounds once near d, where d·v would carry the rounding of v, as coarse as the
    // output's own spacing for large shapes.
    int32_t got = 0;
    for (int32_t i = 0; i < k; ++i) {
      if (verdict[i] != kAccept) continue;
      const T w = c * z[i];
      out[got++] = d + d * (w * (T(3) + w * (T(3) + w)));
    }
    return got;
  });
}

// The envelope x^(alpha-1) on [0, t] and t^(alpha-1)·e^-x beyond, mixed in the ratio 1 : b - 1.
// V = b·U picks the part; below 1, x = t·V^(1/alpha) is accepted with probability e^-x, above it
// x = -ln(t·(b - V)/alpha) with probability (x/t)^(alpha-1). All three logarithms and the power are
// taken as one logarithm call over the two uniforms, one exp and one more logarithm per round; for
// tiny shapes the power underflows to 0, which is the variate the double or float can hold.
template <class T>
int32_t power_exponential(StreamRecord* stream, int32_t n, T* r, T alpha, double t) {
  const T tt = static_cast<T>(t);
  T e_t = -tt;
  exp(Kernels<T>::kExactExp, 1, &e_t, &e_t);
  const T b = T(1) + e_t * alpha / tt;
  return rejection(n, r, [&](int32_t k, T* out) -> int32_t {
    T draws[2 * kBatch], power[kBatch], y[kBatch];
    if (const int32_t status = uniform(stream, 2 * k, draws, T(0), T(1)); status < 0) return status;
    bool low[kBatch];
    for (int32_t i = 0; i < k; ++i) {
      const T v = b * draws[i];
      low[i] = v <= T(1);
      draws[i] = low[i] ? v : tt * (b - v) / alpha;
    }
    ln(Kernels<T>::kExact, 2 * k, draws, draws);
    for (int32_t i = 0; i < k; ++i) power[i] = low[i] ? draws[i] / alpha : T(0);
    exp(Kernels<T>::kExactExp, k, power, power);
    for (int32_t i = 0; i < k; ++i) y[i] = low[i] ? T(1) : -draws[i] / tt;
    ln(Kernels<T>::kExact, k, y, y);
    int32_t got = 0;
    for (int32_t i = 0; i < k; ++i) {
      const T x = low[i] ? tt * power[i] : -draws[i];
      const T log_u = draws[k + i];
      if (low[i] ? log_u <= -x : log_u <= (alpha - T(1)) * y[i]) out[got++] = x;
    }
    return got;
  });
}

template <class T>
int32_t gamma(StreamRecord* stream, int32_t n, T* r, T alpha, T a, T beta) {
  if (n <= 0) return 0;  // nothing drawn, no chunk made
  Repair<T> repair;
  int32_t status;
  if (alpha == T(1)) {
    status = exponential(stream, n, r, T(0), T(1));
  } else if (alpha > T(1)) {
    status = marsaglia_tsang(stream, n, r, alpha);
  } else if (alpha < T(0.6)) {
    // Ahrens and Dieter's GS is the envelope split at t = 1, nearly tight for small shapes.
    status = power_exponential(stream, n, r, alpha, 1.0);
  } else {
    // Best's RGS moves the split to t = 0.07 + 0.75·sqrt(1 - alpha), which keeps acceptance near
    // 0.8 as alpha approaches 1 where GS falls towards 0.7.
    status =
        power_exponential(stream, n, r, alpha, 0.07 + 0.75 * __qordSqrt(1.0 - static_cast<double>(alpha)));
  }
  if (status < 0) return status;
  for (int32_t k = 0; k < n; ++k) r[k] = std::max(a, r[k] * beta + a);
  return 0;
}

}  // namespace
}  // namespace zok::rng::continuous

int32_t _qordRngGamma(int32_t, StreamRecord* stream, int32_t n, double* r, double alpha, double a,
                      double beta) {
  return zok::rng::continuous::gamma<double>(stream, n, r, alpha, a, beta);
}
int32_t _qorsRngGamma(int32_t, StreamRecord* stream, int32_t n, float* r, float alpha, float a, float beta) {
  return zok::rng::continuous::gamma<float>(stream, n, r, alpha, a, beta);
}
