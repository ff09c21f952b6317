// The Gaussian distribution: Box-Muller with one variate per pair, with both (the second one kept
// on the stream), and the inverse distribution function, each inside the repairing wrapper.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "distributions/distributions.h"
#include "zok/core_services.h"

namespace zok::rng {

namespace {

// Double methods use the EP kernels, single ones LA: half the significand suffices for variates.
template <class T>
struct Precision;
template <>
struct Precision<double> {
  static constexpr int kSlot = vm::kSlotEP;
  static constexpr double kTwoPi = std::bit_cast<double>(uint64_t{0x401921FB54442D18});
  static constexpr double kSqrt2 = 1.4142135623730951;
  static constexpr int32_t kPairChunk = ZOK_RNG_CHUNK_GAUSSIAN_PAIR_D;
  static void* const* ln() { return zok_yub_kernel_dLn_ttab; }
  static void* const* sqrt() { return zok_yub_kernel_dSqrt_ttab; }
  static void* const* sin() { return zok_yub_kernel_dSin_ttab; }
  static void* const* sincos() { return zok_yub_kernel_dSinCos_ttab; }
  static void* const* erfinv() { return zok_yub_kernel_dErfInv_ttab; }
};
template <>
struct Precision<float> {
  static constexpr int kSlot = vm::kSlotLA;
  static constexpr float kTwoPi = 6.2831855f;
  static constexpr float kSqrt2 = 1.4142135f;
  static constexpr int32_t kPairChunk = ZOK_RNG_CHUNK_GAUSSIAN_PAIR_S;
  static void* const* ln() { return zok_yub_kernel_sLn_ttab; }
  static void* const* sqrt() { return zok_yub_kernel_sSqrt_ttab; }
  static void* const* sin() { return zok_yub_kernel_sSin_ttab; }
  static void* const* sincos() { return zok_yub_kernel_sSinCos_ttab; }
  static void* const* erfinv() { return zok_yub_kernel_sErfInv_ttab; }
};

// For p pairs of uniforms u (pair k is u[2k], u[2k+1]): rho = sqrt(-2 ln u1) and theta = u2·2π.
// Ln runs from the u1 scratch into rho, not in place: the callback must see the argument 0, which
// an in-place call would already have overwritten with -inf.
template <class T>
void radius_angle(int32_t p, const T* u, T* u1, T* rho, T* theta) {
  using P = Precision<T>;
  for (int32_t k = 0; k < p; ++k) {
    u1[k] = u[2 * k];
    theta[k] = u[2 * k + 1] * P::kTwoPi;
  }
  vm::call_slot(P::ln(), P::kSlot, p, u1, rho);
  for (int32_t k = 0; k < p; ++k) rho[k] = -(rho[k] + rho[k]);
  vm::call_slot(P::sqrt(), P::kSlot, p, rho, rho);
}

template <class T>
int32_t box_muller(StreamRecord* stream, int32_t n, T* r, T a, T sigma) {
  using P = Precision<T>;
  T u[2 * kBlock], u1[kBlock], rho[kBlock], theta[kBlock];
  for (int32_t done = 0; done < n;) {
    const int32_t m = std::min(n - done, kBlock);
    const int32_t status = uniform(stream, 2 * m, u, T(0), T(1));
    if (status < 0) return status;
    radius_angle(m, u, u1, rho, theta);
    vm::call_slot(P::sin(), P::kSlot, m, theta, theta);
    for (int32_t k = 0; k < m; ++k) r[done + k] = rho[k] * sigma * theta[k] + a;
    done += m;
  }
  return 0;
}

// Both variates of each of the p pairs of u: r[2k] = rho·sin theta, r[2k + 1] = rho·cos theta.
template <class T>
void both_variates(int32_t p, const T* u, T* r) {
  using P = Precision<T>;
  T u1[kBlock / 2], rho[kBlock / 2], theta[kBlock / 2], s[kBlock / 2], c[kBlock / 2];
  radius_angle(p, u, u1, rho, theta);
  vm::call_slot(P::sincos(), P::kSlot, p, theta, s, c);
  for (int32_t k = 0; k < p; ++k) {
    r[2 * k] = rho[k] * s[k];
    r[2 * k + 1] = rho[k] * c[k];
  }
}

// The pending pair's block: made on first use, private to the stream; both values -1 mean none.
template <class T>
int32_t pending_pair(StreamRecord* stream, T** pair) {
  constexpr int32_t kId = Precision<T>::kPairChunk;
  *pair = static_cast<T*>(__qorSearchChunk(stream, kId));
  if (*pair != nullptr) return 0;
  T* block = static_cast<T*>(zok_serv_allocate(2 * sizeof(T), 128));
  if (block == nullptr) return ZOK_RNG_ERROR_MEMORY;
  block[0] = block[1] = T(-1);
  const int32_t status = __qorAddChunk(stream, kId, nullptr, block, 2 * sizeof(T));
  if (status < 0) {
    zok_serv_deallocate(block);
    return status;
  }
  *pair = block;
  return 0;
}

// Every pair's sin half then cos half, whatever the calls' sizes: a call that ends inside a pair
// keeps its uniforms, and the next call starts with its cos half, computed by the same SinCos call
// shape as whole pairs (kernels give each element the same result wherever it sits in a call).
template <class T>
int32_t box_muller_pairs(StreamRecord* stream, int32_t n, T* r, T a, T sigma) {
  if (n <= 0) return 0;
  T* pair = nullptr;
  int32_t status = pending_pair(stream, &pair);
  if (status < 0) return status;
  T two[2];
  int32_t done = 0;
  if (pair[0] != T(-1)) {
    both_variates(1, pair, two);
    r[done++] = two[1];
  }
  T u[kBlock];
  while (done < n) {
    const int32_t left = n - done;
    const int32_t p = left >= kBlock ? kBlock / 2 : left / 2;
    if (p == 0) break;
    status = uniform(stream, 2 * p, u, T(0), T(1));
    if (status < 0) return status;
    both_variates(p, u, r + done);
    done += 2 * p;
  }
  if (done < n) {
    status = uniform(stream, 2, pair, T(0), T(1));
    if (status < 0) return status;
    both_variates(1, pair, two);
    r[done++] = two[0];
  } else {
    pair[0] = pair[1] = T(-1);
  }
  for (int32_t k = 0; k < n; ++k) r[k] = r[k] * sigma + a;
  return 0;
}

// erfinv of uniforms on [-1, 1): -1 itself becomes -E through the callback.
template <class T>
int32_t inverse_cdf(StreamRecord* stream, int32_t n, T* r, T a, T sigma) {
  using P = Precision<T>;
  if (n <= 0) return 0;
  const int32_t status = uniform(stream, n, r, T(-1), T(1));
  if (status < 0) return status;
  vm::call_slot(P::erfinv(), P::kSlot, n, r, r);
  const T s = P::kSqrt2 * sigma;
  for (int32_t k = 0; k < n; ++k) r[k] = r[k] * s + a;
  return 0;
}

template <class T>
int32_t run_method(int32_t method, StreamRecord* stream, int32_t n, T* r, T a, T sigma) {
  switch (method) {
    case ZOK_RNG_GAUSSIAN_BOXMULLER:
      return box_muller(stream, n, r, a, sigma);
    case ZOK_RNG_GAUSSIAN_BOXMULLER2:
      return box_muller_pairs(stream, n, r, a, sigma);
    case ZOK_RNG_GAUSSIAN_ICDF:
      return inverse_cdf(stream, n, r, a, sigma);
    default:
      return ZOK_RNG_ERROR_METHOD;
  }
}

template <class T>
int32_t wrapped(int32_t method, StreamRecord* stream, int32_t n, T* r, T a, T sigma) {
  if (method < ZOK_RNG_GAUSSIAN_BOXMULLER || method > ZOK_RNG_GAUSSIAN_ICDF) return ZOK_RNG_ERROR_METHOD;
  RepairScope repair(repair_ln_erfinv<T>);
  return run_method(method, stream, n, r, a, sigma);
}

}  // namespace

int32_t gaussian(int32_t method, StreamRecord* stream, int32_t n, double* r, double a, double sigma) {
  return wrapped(method, stream, n, r, a, sigma);
}
int32_t gaussian(int32_t method, StreamRecord* stream, int32_t n, float* r, float a, float sigma) {
  return wrapped(method, stream, n, r, a, sigma);
}
int32_t gaussian_unguarded(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                           double sigma) {
  return run_method(method, stream, n, r, a, sigma);
}
int32_t gaussian_unguarded(int32_t method, StreamRecord* stream, int32_t n, float* r, float a, float sigma) {
  return run_method(method, stream, n, r, a, sigma);
}

}  // namespace zok::rng

extern "C" {

ZOK_RNG_API int32_t _qordRngGaussian(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                     double sigma) {
  return zok::rng::gaussian(method, stream, n, r, a, sigma);
}

ZOK_RNG_API int32_t _qorsRngGaussian(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                     float sigma) {
  return zok::rng::gaussian(method, stream, n, r, a, sigma);
}

}  // extern "C"
