// Multivariate Gaussian against a plain triangular product of the same standard normals for every
// storage, and its sample covariance; lognormal against its formula on the same Gaussians.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tests/distributions/dist_support.h"
#include "zok/vector_math.h"

namespace zok::test {
namespace {

template <class T>
int32_t gaussian(int32_t method, StreamRecord* s, int32_t n, T* r, T a, T sigma) {
  if constexpr (sizeof(T) == 8) {
    return _qordRngGaussian(method, s, n, r, a, sigma);
  } else {
    return _qorsRngGaussian(method, s, n, r, a, sigma);
  }
}
template <class T>
int32_t gaussian_mv(int32_t method, StreamRecord* s, int32_t n, T* r, int32_t d, int32_t storage,
                    const T* mean, const T* t) {
  if constexpr (sizeof(T) == 8) {
    return _qordRngGaussianMV(method, s, n, r, d, storage, mean, t);
  } else {
    return _qorsRngGaussianMV(method, s, n, r, d, storage, mean, t);
  }
}

// A lower-triangular factor L[i][j] (j <= i) in the three storages; the full one has noise above
// the diagonal, which must be ignored.
struct Factor {
  int32_t d;
  std::vector<long double> lower;  // d x d, row-major
  std::vector<double> full, packed, diagonal;
  explicit Factor(int32_t dim)
      : d(dim), lower(dim * dim), full(dim * dim), packed(dim * (dim + 1) / 2), diagonal(dim) {
    for (int32_t i = 0; i < d; ++i)
      for (int32_t j = 0; j < d; ++j) {
        const double v = j < i ? 0.25 * ((i * 7 + j * 3) % 5 - 2) : (j == i ? 0.5 + 0.125 * i : 0.0);
        lower[i * d + j] = v;
        full[i * d + j] = j > i ? 99.0 : v;
      }
    for (int32_t j = 0, k = 0; j < d; ++j)
      for (int32_t i = j; i < d; ++i) packed[k++] = static_cast<double>(lower[i * d + j]);
    for (int32_t j = 0; j < d; ++j) diagonal[j] = static_cast<double>(lower[j * d + j]);
  }
};

template <class T>
void check_storages(int32_t d, double tolerance) {
  const Factor f(d);
  std::vector<T> mean(d);
  for (int32_t j = 0; j < d; ++j) mean[j] = T(j - 1.5);
  const int32_t n = 300;
  struct Storage {
    int32_t code;
    const std::vector<double>* t;
  };
  for (const Storage& st : {Storage{ZOK_RNG_MV_FULL, &f.full}, Storage{ZOK_RNG_MV_PACKED, &f.packed},
                            Storage{ZOK_RNG_MV_DIAGONAL, &f.diagonal}}) {
    const std::vector<T> t(st.t->begin(), st.t->end());
    for (int32_t method = 0; method < 3; ++method) {
      const Stream s(ZOK_RNG_MRG32K3A, 31);
      const Stream copy(s);
      std::vector<T> r(n * d), z(n * d);
      ASSERT_EQ(gaussian_mv<T>(method, s, n, r.data(), d, st.code, mean.data(), t.data()), 0);
      ASSERT_EQ(gaussian<T>(method, copy, n * d, z.data(), T(0), T(1)), 0);
      long double worst = 0;
      for (int32_t v = 0; v < n; ++v)
        for (int32_t i = 0; i < d; ++i) {
          long double x = mean[i], scale = std::fabs(mean[i]);
          for (int32_t j = 0; j <= i; ++j) {
            const long double l =
                st.code == ZOK_RNG_MV_DIAGONAL ? (i == j ? f.lower[i * d + i] : 0) : f.lower[i * d + j];
            x += l * z[v * d + j];
            scale += std::fabs(l * z[v * d + j]);
          }
          worst = std::max(worst, std::fabs(r[v * d + i] - x) / scale);
        }
      EXPECT_LE(worst, tolerance) << "d " << d << " storage " << st.code << " method " << method;
    }
  }
}

// Dimension 4 takes the small-matrix multiply, 12 the general one.
TEST(GaussianMV, StoragesAgainstPlainProduct) {
  for (int32_t d : {4, 12}) {
    check_storages<double>(d, 1e-14);
    check_storages<float>(d, 1e-6);
  }
}

// Dimension 1 is the Gaussian of mean[0] and sigma t[0], whatever the storage code says.
TEST(GaussianMV, DimensionOneIsTheGaussian) {
  const double mean = 2, t = 3;
  for (int32_t storage : {0, 1, 2, 7}) {
    const Stream s(ZOK_RNG_MCG59, 3);
    const Stream copy(s);
    double r[5], g[5];
    ASSERT_EQ(_qordRngGaussianMV(1, s, 5, r, 1, storage, &mean, &t), 0);
    ASSERT_EQ(_qordRngGaussian(1, copy, 5, g, mean, t), 0);
    EXPECT_EQ(std::memcmp(r, g, sizeof r), 0) << storage;
  }
}

// The sample covariance of 1e6 vectors lies within 5 standard errors of L·Lᵀ, entry by entry.
TEST(GaussianMV, SampleCovarianceMatchesFactor) {
  const int32_t d = 4, n = 1000000;
  const Factor f(d);
  const double mean[d] = {1, -2, 0.5, 3};
  const Stream s(ZOK_RNG_MCG59, 11);
  std::vector<double> r(static_cast<size_t>(n) * d);
  ASSERT_EQ(_qordRngGaussianMV(2, s, n, r.data(), d, ZOK_RNG_MV_PACKED, mean, f.packed.data()), 0);
  for (int32_t i = 0; i < d; ++i)
    for (int32_t j = 0; j <= i; ++j) {
      long double sigma_ij = 0, sigma_ii = 0, sigma_jj = 0, cov = 0;
      for (int32_t k = 0; k < d; ++k) {
        sigma_ij += f.lower[i * d + k] * f.lower[j * d + k];
        sigma_ii += f.lower[i * d + k] * f.lower[i * d + k];
        sigma_jj += f.lower[j * d + k] * f.lower[j * d + k];
      }
      for (int32_t v = 0; v < n; ++v) cov += (r[v * d + i] - mean[i]) * (r[v * d + j] - mean[j]);
      cov /= n;
      const long double se = std::sqrt((sigma_ii * sigma_jj + sigma_ij * sigma_ij) / n);
      EXPECT_LE(std::fabs(cov - sigma_ij), 5 * se) << i << "," << j;
    }
}

// Lognormal: max(b, exp(x)·beta + b) on the Gaussians of method 1 (method 0) or 2 (others); the
// exponential's overflow reaches the caller's status.
template <class T>
void check_lognormal(double tolerance) {
  const T a = T(0.25), sigma = T(0.75), b = T(-1), beta = T(2);
  const int32_t n = 4000;
  for (int32_t method : {0, 1}) {
    const Stream s(ZOK_RNG_MRG32K3A, 8);
    const Stream copy(s);
    std::vector<T> r(n), g(n);
    if constexpr (sizeof(T) == 8) {
      ASSERT_EQ(_qordRngLognormal(method, s, n, r.data(), a, sigma, b, beta), 0);
    } else {
      ASSERT_EQ(_qorsRngLognormal(method, s, n, r.data(), a, sigma, b, beta), 0);
    }
    ASSERT_EQ(gaussian<T>(method == 0 ? 1 : 2, copy, n, g.data(), a, sigma), 0);
    long double worst = 0;
    for (int32_t k = 0; k < n; ++k) {
      ASSERT_GE(r[k], b);
      const long double e = std::exp(static_cast<long double>(g[k])) * beta;
      worst = std::max(worst, std::fabs(r[k] - (e + b)) / (e + std::fabs(b)));
    }
    EXPECT_LE(worst, tolerance) << method;
  }
}

TEST(Lognormal, FollowsFormula) {
  check_lognormal<double>(1e-6);
  check_lognormal<float>(3e-5);
}

TEST(Lognormal, OverflowReportedUnderCallersMode) {
  const Stream s(ZOK_RNG_MCG59, 1);
  _yubClearErrStatus();
  double r[8];
  ASSERT_EQ(_qordRngLognormal(1, s, 8, r, 800.0, 1e-3, 0.0, 1.0), 0);
  EXPECT_EQ(_yubGetErrStatus(), ZOK_VM_STATUS_OVERFLOW);
  _yubClearErrStatus();
}

}  // namespace
}  // namespace zok::test
