// Exponential, Laplace, Weibull, Cauchy, Rayleigh and Gumbel variates: closed-form transforms of one
// uniform per variate (Laplace: a pair), so a request in pieces gives the variates of one request.
#include <algorithm>

#include "distributions/continuous/continuous.h"

namespace zok::rng::continuous {
namespace {

// Each transform runs in blocks of at most kBlock outputs straight in the caller's array.
template <class T, class Block>
int32_t in_blocks(int32_t n, T* r, Block block) {
  for (int32_t done = 0; done < n; done += kBlock) {
    if (const int32_t status = block(std::min(kBlock, n - done), r + done); status < 0) return status;
  }
  return 0;
}

template <class T>
int32_t exponential_variates(StreamRecord* stream, int32_t n, T* r, T a, T beta) {
  Repair<T> repair;
  return exponential(stream, n, r, a, beta);
}

// -ln U for m uniforms, in place; ln 0 gives -L, which keeps every result below finite.
template <class T>
int32_t neg_ln_uniform(StreamRecord* stream, int32_t m, T* x) {
  if (const int32_t status = uniform(stream, m, x, T(0), T(1)); status < 0) return status;
  ln(Kernels<T>::kFast, m, x, x);
  for (int32_t k = 0; k < m; ++k) x[k] = -x[k];
  return 0;
}

template <class T>
int32_t rayleigh(StreamRecord* stream, int32_t n, T* r, T a, T beta) {
  Repair<T> repair;
  return in_blocks(n, r, [&](int32_t m, T* x) {
    if (const int32_t status = neg_ln_uniform(stream, m, x); status < 0) return status;
    sqrt(Kernels<T>::kFast, m, x, x);
    for (int32_t k = 0; k < m; ++k) x[k] = std::max(a, beta * x[k] + a);
    return 0;
  });
}

template <class T>
int32_t weibull(StreamRecord* stream, int32_t n, T* r, T alpha, T a, T beta) {
  Repair<T> repair;
  const T inv_alpha = T(1) / alpha;
  return in_blocks(n, r, [&](int32_t m, T* x) {
    if (const int32_t status = neg_ln_uniform(stream, m, x); status < 0) return status;
    powx(m, x, inv_alpha, x);
    for (int32_t k = 0; k < m; ++k) x[k] = std::max(a, beta * x[k] + a);
    return 0;
  });
}

template <class T>
int32_t cauchy(StreamRecord* stream, int32_t n, T* r, T a, T beta) {
  return in_blocks(n, r, [&](int32_t m, T* x) {
    if (const int32_t status = uniform(stream, m, x, -Kernels<T>::kHalfPi, Kernels<T>::kHalfPi); status < 0)
      return status;
    tan(m, x, x);
    for (int32_t k = 0; k < m; ++k) x[k] = a + beta * x[k];
    return 0;
  });
}

// The logarithm of an Exp(1) variate: the distribution of the smallest extreme value.
template <class T>
int32_t gumbel(StreamRecord* stream, int32_t n, T* r, T a, T beta) {
  Repair<T> repair;
  return in_blocks(n, r, [&](int32_t m, T* x) {
    if (const int32_t status = exponential(stream, m, x, T(0), T(1)); status < 0) return status;
    ln(Kernels<T>::kFast, m, x, x);
    for (int32_t k = 0; k < m; ++k) x[k] = beta * x[k] + a;
    return 0;
  });
}

// Pair k of a block is (u, w): |ln u| gives the magnitude, w <= 0.5 the sign.
template <class T>
int32_t laplace(StreamRecord* stream, int32_t n, T* r, T a, T beta) {
  Repair<T> repair;
  return in_blocks(n, r, [&](int32_t m, T* x) {
    T pairs[2 * kBlock];
    if (const int32_t status = uniform(stream, 2 * m, pairs, T(0), T(1)); status < 0) return status;
    for (int32_t k = 0; k < m; ++k) x[k] = pairs[2 * k];
    ln(Kernels<T>::kFast, m, x, x);
    // The sign as a select, not a branch: w is a coin toss no predictor can learn.
    for (int32_t k = 0; k < m; ++k) x[k] = a + (pairs[2 * k + 1] <= T(0.5) ? -beta : beta) * x[k];
    return 0;
  });
}

}  // namespace
}  // namespace zok::rng::continuous

using namespace zok::rng::continuous;

#define ZOK_TWO_PARAMETER(Name, fn)                                                                         \
  extern "C" int32_t _qord##Name(int32_t, StreamRecord* stream, int32_t n, double* r, double a,             \
                                 double beta) {                                                             \
    return fn<double>(stream, n, r, a, beta);                                                               \
  }                                                                                                         \
  extern "C" int32_t _qors##Name(int32_t, StreamRecord* stream, int32_t n, float* r, float a, float beta) { \
    return fn<float>(stream, n, r, a, beta);                                                                \
  }
ZOK_TWO_PARAMETER(RngExponential, exponential_variates)
ZOK_TWO_PARAMETER(RngLaplace, laplace)
ZOK_TWO_PARAMETER(RngCauchy, cauchy)
ZOK_TWO_PARAMETER(RngRayleigh, rayleigh)
ZOK_TWO_PARAMETER(RngGumbel, gumbel)
#undef ZOK_TWO_PARAMETER

int32_t _qordRngWeibull(int32_t, StreamRecord* stream, int32_t n, double* r, double alpha, double a,
                        double beta) {
  return weibull<double>(stream, n, r, alpha, a, beta);
}
int32_t _qorsRngWeibull(int32_t, StreamRecord* stream, int32_t n, float* r, float alpha, float a,
                        float beta) {
  return weibull<float>(stream, n, r, alpha, a, beta);
}
