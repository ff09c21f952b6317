// Missing values by multiple imputation: expectation-maximisation for a starting mean and covariance,
// then data augmentation (conditional normal draws of the missing values, posterior draws of the mean
// and covariance) from a stream of its own.
#include <bit>
#include <cmath>
#include <cstring>

#include "stats/derived.h"
#include "stats/estimator.h"
#include "stats/task.h"
#include "zok/random.h"
#include "zok/summary_stats.h"

namespace zok::ss {
namespace {

// The default quiet NaN with its sign set: 13 top bits of a double; sign, exponent and quiet bit of a
// float. A NaN of another pattern is data.
bool is_missing(double v) {
  return (std::bit_cast<uint64_t>(v) >> 51) == 0x1FFF;
}
bool is_missing(float v) {
  return (std::bit_cast<uint32_t>(v) & 0xFFC00000u) == 0xFFC00000u;
}

// The stream of the routine, deleted on every way out.
struct OwnStream {
  StreamRecord* s = nullptr;
  ~OwnStream() { __qorDeleteStream(&s); }
};

// Everything one call works on, in double: the completed data row by row, which entries are missing,
// the current mean and full covariance, and per-observation scratch.
struct Work {
  int64_t p = 0, n = 0;
  double* z = nullptr;      // n x p
  uint8_t* miss = nullptr;  // n x p
  double *mu = nullptr, *sigma = nullptr, *next_mu = nullptr, *next_sigma = nullptr;
  // p x p and p-vectors of scratch
  double *chol = nullptr, *w = nullptr, *cond_mean = nullptr, *cond_cov = nullptr, *draw = nullptr;
  int* observed = nullptr;
  int* missing_at = nullptr;
};

// Lower Cholesky factor of the full symmetric k x k matrix a (row-major), in place; false when it is
// not positive definite or not finite (a NaN observation would pass the factorisation unnoticed).
bool cholesky(int k, double* a) {
  if (k == 0) return true;
  if (potrf_upper(k, a) != 0) return false;  // column-major upper is row-major lower: a = L L^T
  for (int i = 0; i < k; ++i)
    if (!(a[i * k + i] > 0.0) || !std::isfinite(a[i * k + i])) return false;
  return true;
}

// Conditional mean and covariance of observation i's missing entries given its observed ones under
// (mu, sigma); k_obs and k_mis receive the counts. False when sigma's observed block is singular.
bool conditional(Work& w, int64_t i, int* k_obs, int* k_mis) {
  const int64_t p = w.p;
  int ko = 0, km = 0;
  for (int64_t v = 0; v < p; ++v)
    (w.miss[i * p + v] ? w.missing_at[km++] : w.observed[ko++]) = static_cast<int>(v);
  *k_obs = ko;
  *k_mis = km;
  for (int a = 0; a < ko; ++a)
    for (int b = 0; b < ko; ++b) w.chol[a * ko + b] = w.sigma[w.observed[a] * p + w.observed[b]];
  if (!cholesky(ko, w.chol)) return false;
  const double* L = w.chol;
  // y = L^-1 (x_O - mu_O); W = L^-1 Sigma_OM (ko x km, column m at w.w[a*km + m])
  double* y = w.draw;
  for (int a = 0; a < ko; ++a) {
    double s = w.z[i * p + w.observed[a]] - w.mu[w.observed[a]];
    for (int b = 0; b < a; ++b) s -= L[a * ko + b] * y[b];
    y[a] = s / L[a * ko + a];
  }
  for (int m = 0; m < km; ++m)
    for (int a = 0; a < ko; ++a) {
      double s = w.sigma[w.observed[a] * p + w.missing_at[m]];
      for (int b = 0; b < a; ++b) s -= L[a * ko + b] * w.w[b * km + m];
      w.w[a * km + m] = s / L[a * ko + a];
    }
  // mean_M = mu_M + W^T y; cov_MM = Sigma_MM - W^T W
  for (int m = 0; m < km; ++m) {
    double s = w.mu[w.missing_at[m]];
    for (int a = 0; a < ko; ++a) s += w.w[a * km + m] * y[a];
    w.cond_mean[m] = s;
    for (int l = 0; l <= m; ++l) {
      double c = w.sigma[w.missing_at[m] * p + w.missing_at[l]];
      for (int a = 0; a < ko; ++a) c -= w.w[a * km + m] * w.w[a * km + l];
      w.cond_cov[m * km + l] = w.cond_cov[l * km + m] = c;
    }
  }
  return true;
}

// Squared change of (mu, sigma) against (next_mu, next_sigma) relative to the new size.
double change(const Work& w) {
  double num = 0, den = 0;
  for (int64_t a = 0; a < w.p; ++a) {
    num += (w.next_mu[a] - w.mu[a]) * (w.next_mu[a] - w.mu[a]);
    den += w.next_mu[a] * w.next_mu[a];
  }
  for (int64_t a = 0; a < w.p * w.p; ++a) {
    num += (w.next_sigma[a] - w.sigma[a]) * (w.next_sigma[a] - w.sigma[a]);
    den += w.next_sigma[a] * w.next_sigma[a];
  }
  return num / den;
}

// Expectation-maximisation from the observed means and variances.
int32_t em(Work& w, int64_t iterations, double accuracy) {
  const int64_t p = w.p, n = w.n;
  for (int64_t v = 0; v < p; ++v) {
    double s = 0, s2 = 0, c = 0;
    for (int64_t i = 0; i < n; ++i)
      if (!w.miss[i * p + v]) {
        s += w.z[i * p + v];
        c += 1;
      }
    const double m = c > 0 ? s / c : 0.0;
    for (int64_t i = 0; i < n; ++i)
      if (!w.miss[i * p + v]) s2 += (w.z[i * p + v] - m) * (w.z[i * p + v] - m);
    w.mu[v] = m;
    for (int64_t u = 0; u < p; ++u) w.sigma[v * p + u] = 0;
    w.sigma[v * p + v] = c > 1 ? s2 / (c - 1) : 1.0;
  }
  for (int64_t it = 0; it < iterations; ++it) {
    std::memset(w.next_mu, 0, sizeof(double) * p);
    std::memset(w.next_sigma, 0, sizeof(double) * p * p);
    for (int64_t i = 0; i < n; ++i) {
      int ko = 0, km = 0;
      double* x = w.draw + p;  // the expected row
      std::memcpy(x, w.z + i * p, sizeof(double) * p);
      bool any = false;
      for (int64_t v = 0; v < p; ++v) any = any || w.miss[i * p + v];
      if (any) {
        if (!conditional(w, i, &ko, &km)) return ZOK_SS_ERR_INV_FACTOR;
        for (int m = 0; m < km; ++m) x[w.missing_at[m]] = w.cond_mean[m];
        for (int m = 0; m < km; ++m)
          for (int l = 0; l < km; ++l)
            w.next_sigma[w.missing_at[m] * p + w.missing_at[l]] += w.cond_cov[m * km + l];
      }
      for (int64_t a = 0; a < p; ++a) {
        w.next_mu[a] += x[a];
        for (int64_t b = 0; b < p; ++b) w.next_sigma[a * p + b] += x[a] * x[b];
      }
    }
    const double nd = static_cast<double>(n);
    for (int64_t a = 0; a < p; ++a) w.next_mu[a] /= nd;
    for (int64_t a = 0; a < p; ++a)
      for (int64_t b = 0; b < p; ++b)
        w.next_sigma[a * p + b] = w.next_sigma[a * p + b] / nd - w.next_mu[a] * w.next_mu[b];
    const double delta = change(w);
    std::memcpy(w.mu, w.next_mu, sizeof(double) * p);
    std::memcpy(w.sigma, w.next_sigma, sizeof(double) * p * p);
    if (delta <= accuracy * accuracy) break;
  }
  return kOk;
}

// Imputation step: every observation's missing entries drawn from their conditional normal.
int32_t impute(Work& w, StreamRecord* stream) {
  const int64_t p = w.p;
  for (int64_t i = 0; i < w.n; ++i) {
    bool any = false;
    for (int64_t v = 0; v < p; ++v) any = any || w.miss[i * p + v];
    if (!any) continue;
    int ko = 0, km = 0;
    if (!conditional(w, i, &ko, &km) || !cholesky(km, w.cond_cov)) return ZOK_SS_ERR_INV_FACTOR;
    double* r = w.draw + p;
    const int32_t s = _qordRngGaussianMV(ZOK_RNG_GAUSSIAN_BOXMULLER, stream, 1, r, km, ZOK_RNG_MV_FULL,
                                         w.cond_mean, w.cond_cov);
    if (s != 0) return s;
    for (int m = 0; m < km; ++m) w.z[i * p + w.missing_at[m]] = r[m];
  }
  return kOk;
}

// Posterior step: Sigma ~ inverse-Wishart(nu, Psi) by Bartlett's construction (Sigma = R R^T with
// R = chol(Psi) B^-T, B lower with chi roots on the diagonal and normals below), mu ~ N(centre,
// Sigma/kappa). Without a prior nu = n - 1, Psi the completed data's scatter, centre its mean,
// kappa = n.
struct Prior {
  double kappa = 0, nu = 0;
  const double* mu0 = nullptr;   // p values, or null
  const double* psi0 = nullptr;  // packed lower, or null
};
int32_t posterior(Work& w, const Prior& prior, StreamRecord* stream, double* normals, int64_t normals_size) {
  const int64_t p = w.p, n = w.n;
  const double nd = static_cast<double>(n);
  double* xbar = w.next_mu;
  double* psi = w.next_sigma;
  for (int64_t a = 0; a < p; ++a) {
    double s = 0;
    for (int64_t i = 0; i < n; ++i) s += w.z[i * p + a];
    xbar[a] = s / nd;
  }
  for (int64_t a = 0; a < p; ++a)
    for (int64_t b = 0; b <= a; ++b) {
      double s = 0;
      for (int64_t i = 0; i < n; ++i) s += (w.z[i * p + a] - xbar[a]) * (w.z[i * p + b] - xbar[b]);
      psi[a * p + b] = psi[b * p + a] = s;
    }
  const double kappa = prior.kappa + nd, nu = prior.nu + nd - 1;
  double* centre = w.cond_mean;
  for (int64_t a = 0; a < p; ++a)
    centre[a] = prior.mu0 != nullptr ? (prior.kappa * prior.mu0[a] + nd * xbar[a]) / kappa : xbar[a];
  if (prior.psi0 != nullptr)
    for (int64_t a = 0; a < p; ++a)
      for (int64_t b = 0; b <= a; ++b) {
        const double shift = prior.kappa * nd / kappa * (xbar[a] - prior.mu0[a]) * (xbar[b] - prior.mu0[b]);
        psi[a * p + b] = psi[b * p + a] = psi[a * p + b] + prior.psi0[a * (a + 1) / 2 + b] + shift;
      }
  if (!cholesky(static_cast<int>(p), psi)) return ZOK_SS_ERR_INV_FACTOR;
  // B: diagonal sqrt(chi-square(nu - a)) as sums of squared normals, normals below it.
  double* B = w.chol;
  for (int64_t a = 0; a < p; ++a) {
    double chi2 = 0;
    for (int64_t left = static_cast<int64_t>(nu) - a; left > 0; left -= normals_size) {
      const int32_t count = static_cast<int32_t>(std::min(left, normals_size));
      if (const int32_t s = _qordRngGaussian(ZOK_RNG_GAUSSIAN_BOXMULLER, stream, count, normals, 0.0, 1.0);
          s != 0)
        return s;
      for (int32_t k = 0; k < count; ++k) chi2 += normals[k] * normals[k];
    }
    B[a * p + a] = std::sqrt(chi2);
    if (a > 0) {
      if (const int32_t s = _qordRngGaussian(ZOK_RNG_GAUSSIAN_BOXMULLER, stream, static_cast<int32_t>(a),
                                             B + a * p, 0.0, 1.0);
          s != 0)
        return s;
    }
  }
  // R = L B^-T: row r of R solves B x = (row r of L)^T, so R R^T = L (B B^T)^-1 L^T.
  double* R = w.w;
  for (int64_t r = 0; r < p; ++r)
    for (int64_t a = 0; a < p; ++a) {
      double s = a <= r ? psi[r * p + a] : 0.0;
      for (int64_t b = 0; b < a; ++b) s -= B[a * p + b] * R[r * p + b];
      R[r * p + a] = s / B[a * p + a];
    }
  for (int64_t a = 0; a < p; ++a)
    for (int64_t b = 0; b <= a; ++b) {
      double s = 0;
      for (int64_t k = 0; k < p; ++k) s += R[a * p + k] * R[b * p + k];
      w.sigma[a * p + b] = w.sigma[b * p + a] = s;
    }
  double* zv = w.draw;
  if (const int32_t s =
          _qordRngGaussian(ZOK_RNG_GAUSSIAN_BOXMULLER, stream, static_cast<int32_t>(p), zv, 0.0, 1.0);
      s != 0)
    return s;
  for (int64_t a = 0; a < p; ++a) {
    double s = 0;
    for (int64_t k = 0; k < p; ++k) s += R[a * p + k] * zv[k];
    w.mu[a] = centre[a] + s / std::sqrt(kappa);
  }
  return kOk;
}

constexpr int64_t kNormalsBlock = 4096;

template <class T>
int32_t missing_values(SSTask* task, uint64_t, uint64_t method) {
  if (task == nullptr) return ErrNullTask;
  if (task->p == nullptr) return ErrP;
  const int64_t p = read_int(*task, task->p);
  if (p < 1 || p > 46340) return ErrP;
  const int64_t n = task->n != nullptr ? read_int(*task, task->n) : 0;
  if (n < p + 1) return ErrN;
  if (task->x == nullptr) return ErrX;
  if (task->x_storage == nullptr) return ErrStorage;
  const int64_t x_code = read_int(*task, task->x_storage);
  if (x_code != ZOK_SS_STORAGE_ROWS && x_code != ZOK_SS_STORAGE_COLUMNS) return ErrStorage;
  if (task->missing_params == nullptr) return ZOK_SS_ERR_MISSING_PARAMS;
  if (task->missing_param_count == nullptr) return ZOK_SS_ERR_MISSING_PARAM_COUNT;
  if (read_int(*task, task->missing_param_count) != 5) return ZOK_SS_ERR_MISSING_PARAM_COUNT_VALUE;
  if (task->simul_count != nullptr && task->simul_values == nullptr) return ZOK_SS_ERR_SIMUL_VALUES;
  if (task->simul_values != nullptr && task->simul_count == nullptr) return ZOK_SS_ERR_SIMUL_COUNT;
  if (task->simul_values == nullptr && task->estimates == nullptr) return ZOK_SS_ERR_NO_OUTPUT;
  if (task->prior_params != nullptr && task->prior_count == nullptr) return ZOK_SS_ERR_PRIOR_COUNT;
  if (task->prior_count != nullptr && task->prior_params == nullptr) return ZOK_SS_ERR_PRIOR;
  if ((method & ZOK_SS_METHOD_MISSING) == 0) return ErrMethod;

  const T* prm = static_cast<const T*>(task->missing_params);
  const int64_t em_iterations = prm[0] >= T(1) ? static_cast<int64_t>(std::fmin(prm[0], 1e9)) : 50;
  const int64_t iterations = prm[1] >= T(1) ? static_cast<int64_t>(std::fmin(prm[1], 1e9)) : 30;
  const double accuracy = prm[2] > T(0) ? static_cast<double>(prm[2]) : 0.001;
  const int64_t m = prm[3] >= T(1) ? static_cast<int64_t>(std::fmin(prm[3], 1e9)) : 0;
  const T* x = static_cast<const T*>(task->x);
  int64_t found = 0;
  for (int64_t k = 0; k < n * p; ++k) found += is_missing(x[k]);
  if (static_cast<double>(found) != static_cast<double>(prm[4])) return ZOK_SS_ERR_MISSING_COUNT;
  if (m < 1 || found < 1) return ZOK_SS_ERR_IMPUTATIONS;
  if (task->simul_values != nullptr && read_int(*task, task->simul_count) != m * found)
    return ZOK_SS_ERR_SIMUL_COUNT_VALUE;
  const int64_t record = p * (p + 3) / 2;
  if (task->estimates != nullptr &&
      (task->estimate_count == nullptr || read_int(*task, task->estimate_count) != m * iterations * record))
    return ZOK_SS_ERR_ESTIMATE_COUNT;
  Prior prior;
  const int64_t prior_size = 2 + p + p * (p + 1) / 2;
  if (task->prior_params != nullptr) {
    const T* pr = static_cast<const T*>(task->prior_params);
    if (read_int(*task, task->prior_count) != prior_size || !(pr[0] >= T(0)) || !(pr[1] >= T(0)) ||
        pr[1] != std::floor(pr[1]) || pr[1] > T(1e9))
      return ZOK_SS_ERR_PRIOR_COUNT;
  }

  Scratch scratch;
  double* reals = scratch.take<double>(n * p + 5 * p + 5 * p * p + kNormalsBlock + prior_size);
  auto* miss = scratch.take<uint8_t>(n * p);
  int* ints = scratch.take<int>(2 * p);
  if (reals == nullptr || miss == nullptr || ints == nullptr) return ErrMemory;
  Work w;
  w.p = p;
  w.n = n;
  w.z = reals;
  w.miss = miss;
  double* at = reals + n * p;
  for (double** slot : {&w.mu, &w.next_mu, &w.cond_mean, &w.draw})
    *slot = at, at += (slot == &w.draw ? 2 * p : p);
  for (double** slot : {&w.sigma, &w.next_sigma, &w.chol, &w.cond_cov}) *slot = at, at += p * p;
  w.w = at, at += p * p;  // the conditional's W, then the posterior's factor R
  double* normals = at;
  at += kNormalsBlock;
  w.observed = ints;
  w.missing_at = ints + p;
  if (task->prior_params != nullptr) {
    const T* pr = static_cast<const T*>(task->prior_params);
    for (int64_t k = 0; k < prior_size; ++k) at[k] = pr[k];
    prior = {at[0], at[1], at + 2, at + 2 + p};
  }
  const bool cols = columns_storage(*task, p);
  for (int64_t i = 0; i < n; ++i)
    for (int64_t v = 0; v < p; ++v) {
      const T value = cols ? x[i * p + v] : x[v * n + i];
      w.miss[i * p + v] = is_missing(value);
      w.z[i * p + v] = w.miss[i * p + v] ? 0.0 : static_cast<double>(value);
    }

  // The starting estimate: the registered one (mean, then the packed lower covariance), else EM.
  if (task->init_estimates != nullptr && task->init_count != nullptr &&
      read_int(*task, task->init_count) == record) {
    const T* init = static_cast<const T*>(task->init_estimates);
    for (int64_t a = 0; a < p; ++a) {
      w.mu[a] = init[a];
      for (int64_t b = 0; b <= a; ++b)
        w.sigma[a * p + b] = w.sigma[b * p + a] = init[p + a * (a + 1) / 2 + b];
    }
  } else if (const int32_t s = em(w, em_iterations, accuracy); s != kOk) {
    return s;
  }
  double* start = scratch.take<double>(p + p * p);
  if (start == nullptr) return ErrMemory;
  std::memcpy(start, w.mu, sizeof(double) * p);
  std::memcpy(start + p, w.sigma, sizeof(double) * p * p);

  OwnStream stream;
  const uint32_t seed[2] = {1, 0x40000};
  if (const int32_t s = __qorNewStreamEx(&stream.s, 0x400000, 2, seed); s != 0) return s;
  // Results gather in scratch, so that a failure part way leaves the caller's arrays as they were.
  T* values = scratch.take<T>(m * found);
  T* records = task->estimates != nullptr ? scratch.take<T>(m * iterations * record) : nullptr;
  if (values == nullptr || (task->estimates != nullptr && records == nullptr)) return ErrMemory;
  int64_t v_at = 0, r_at = 0;
  for (int64_t j = 0; j < m; ++j) {
    std::memcpy(w.mu, start, sizeof(double) * p);
    std::memcpy(w.sigma, start + p, sizeof(double) * p * p);
    for (int64_t t = 0; t < iterations; ++t) {
      if (const int32_t s = impute(w, stream.s); s != kOk) return s;
      if (const int32_t s = posterior(w, prior, stream.s, normals, kNormalsBlock); s != kOk) return s;
      if (records != nullptr) {
        for (int64_t a = 0; a < p; ++a) records[r_at++] = static_cast<T>(w.mu[a]);
        for (int64_t a = 0; a < p; ++a)
          for (int64_t b = 0; b <= a; ++b) records[r_at++] = static_cast<T>(w.sigma[a * p + b]);
      }
    }
    for (int64_t k = 0; k < n * p; ++k) {
      const int64_t i = cols ? k / p : k % n, v = cols ? k % p : k / n;
      if (w.miss[i * p + v]) values[v_at++] = static_cast<T>(w.z[i * p + v]);
    }
  }
  if (task->simul_values != nullptr) std::memcpy(task->simul_values, values, sizeof(T) * m * found);
  if (records != nullptr) std::memcpy(task->estimates, records, sizeof(T) * m * iterations * record);
  return kOk;
}

}  // namespace
}  // namespace zok::ss

extern "C" {

ZOK_SS_API int32_t _qordSSMissingValues(SSTask* task, uint64_t estimates, uint64_t method) {
  return zok::ss::missing_values<double>(task, estimates, method);
}
ZOK_SS_API int32_t _qorsSSMissingValues(SSTask* task, uint64_t estimates, uint64_t method) {
  return zok::ss::missing_values<float>(task, estimates, method);
}

}  // extern "C"
