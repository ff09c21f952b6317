// The multivariate Gaussian (standard normals times a triangular factor, plus the mean) and the
// lognormal distribution (the exponential of a Gaussian, scaled and displaced).
#include <algorithm>
#include <climits>
#include <cstdint>

#include "distributions/distributions.h"
#include "zok/core_services.h"

namespace zok::rng {

namespace {

template <class T>
struct Blas;
template <>
struct Blas<double> {
  static constexpr auto kPackedTrmm = zok_blas4yub_dptrmm;
  static constexpr auto kTrmm = zok_blas4yub_dtrmm;
  static constexpr auto kSmallTrmm = zok_blas_xdtrmm_4yub;
  static constexpr int kExpSlot = vm::kSlotEP;
  static void* const* exp() { return zok_yub_kernel_dExp_ttab; }
};
template <>
struct Blas<float> {
  static constexpr auto kPackedTrmm = zok_blas4yub_sptrmm;
  static constexpr auto kTrmm = zok_blas4yub_strmm;
  static constexpr auto kSmallTrmm = zok_blas_xstrmm_4yub;
  static constexpr int kExpSlot = vm::kSlotLA;
  static void* const* exp() { return zok_yub_kernel_sExp_ttab; }
};

// Above this dimension the general triangular multiply serves; below it the small-matrix form.
constexpr int32_t kSmallDimension = 10;

// The factor applied to `vectors` vectors of standard normals in r, then the mean added.
template <class T>
void transform(int32_t storage, int32_t dimen, int32_t vectors, T* r, const T* mean, const T* t) {
  using B = Blas<T>;
  const T one = 1;
  if (storage == ZOK_RNG_MV_DIAGONAL) {
    for (int64_t i = 0; i < vectors; ++i)
      for (int32_t j = 0; j < dimen; ++j) r[i * dimen + j] = r[i * dimen + j] * t[j] + mean[j];
    return;
  }
  if (storage == ZOK_RNG_MV_PACKED) {
    B::kPackedTrmm("L", "L", "N", "N", &dimen, &vectors, &one, t, r, &dimen);
  } else if (storage == ZOK_RNG_MV_FULL) {
    // t column-major is the transposed lower triangle, so its upper triangle applied transposed.
    (dimen > kSmallDimension ? B::kTrmm : B::kSmallTrmm)("L", "U", "T", "N", &dimen, &vectors, &one, t,
                                                         &dimen, r, &dimen);
  } else {
    return;
  }
  for (int64_t i = 0; i < vectors; ++i)
    for (int32_t j = 0; j < dimen; ++j) r[i * dimen + j] += mean[j];
}

template <class T>
int32_t gaussian_mv(int32_t method, StreamRecord* stream, int32_t n, T* r, int32_t dimen, int32_t storage,
                    const T* mean, const T* t) {
  if (dimen == 1) return gaussian(method, stream, n, r, mean[0], t[0]);
  if (n <= 0 || dimen < 1) return 0;
  // n·dimen may pass 2^31: whole vectors in pieces whose element count fits a request.
  const int32_t per_piece = std::max(1, INT32_MAX / dimen);
  for (int32_t done = 0; done < n;) {
    const int32_t vectors = std::min(n - done, per_piece);
    T* piece = r + static_cast<int64_t>(done) * dimen;
    const int32_t status = gaussian(method, stream, vectors * dimen, piece, T(0), T(1));
    if (status < 0) return status;
    transform(storage, dimen, vectors, piece, mean, t);
    done += vectors;
  }
  return 0;
}

// The exponential runs under the caller's own error mode (the Gaussian's has ended by then).
template <class T>
int32_t lognormal(int32_t method, StreamRecord* stream, int32_t n, T* r, T a, T sigma, T b, T beta) {
  const int32_t status =
      gaussian(method == 0 ? ZOK_RNG_GAUSSIAN_BOXMULLER2 : ZOK_RNG_GAUSSIAN_ICDF, stream, n, r, a, sigma);
  if (status < 0 || n <= 0) return status;
  vm::call_slot(Blas<T>::exp(), Blas<T>::kExpSlot, n, r, r);
  for (int32_t k = 0; k < n; ++k) r[k] = std::max(b, r[k] * beta + b);
  return 0;
}

}  // namespace

}  // namespace zok::rng

extern "C" {

ZOK_RNG_API int32_t _qordRngGaussianMV(int32_t method, StreamRecord* stream, int32_t n, double* r,
                                       int32_t dimen, int32_t mstorage, const double* mean, const double* t) {
  return zok::rng::gaussian_mv(method, stream, n, r, dimen, mstorage, mean, t);
}

ZOK_RNG_API int32_t _qorsRngGaussianMV(int32_t method, StreamRecord* stream, int32_t n, float* r,
                                       int32_t dimen, int32_t mstorage, const float* mean, const float* t) {
  return zok::rng::gaussian_mv(method, stream, n, r, dimen, mstorage, mean, t);
}

ZOK_RNG_API int32_t _qordRngLognormal(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                      double sigma, double b, double beta) {
  return zok::rng::lognormal(method, stream, n, r, a, sigma, b, beta);
}

ZOK_RNG_API int32_t _qorsRngLognormal(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                      float sigma, float b, float beta) {
  return zok::rng::lognormal(method, stream, n, r, a, sigma, b, beta);
}

}  // extern "C"
