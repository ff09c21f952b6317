// Robust estimation: the translated-biweight S-estimate of mean and covariance started from an
// orthogonalised pairwise estimate, and outlier detection by a growing basic subset.
#include "stats/robust.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#include "stats/derived.h"
#include "stats/estimator.h"
#include "stats/order_sort.h"
#include "stats/task.h"
#include "zok/summary_stats.h"

namespace zok::ss {

// ---- translated-biweight constants ----
namespace {

constexpr double kResidual = 1e-4;
constexpr int kNewtonSteps = 100;

// E[d^m 1{a <= d <= b}] for d^2 chi-square with p degrees of freedom (b may be +inf).
double partial_moment(int64_t p, int m, double a, double b) {
  const double k = static_cast<double>(p + m);
  const double scale = std::exp2(0.5 * m) * std::exp(__qordLGamma(0.5 * k) - __qordLGamma(0.5 * p));
  const double upper = std::isinf(b) ? 1.0 : chi2_cdf(k, b * b);
  return scale * (upper - chi2_cdf(k, a * a));
}

// E[rho(d)] - beta rho(inf) for rho(d) the integral of t w(t) from 0 to d: d^2/2 below m, then a
// polynomial of degree 6 in d whose coefficients come from expanding t (1 - ((t - m)/c)^2)^2.
double rho_equation(int64_t p, double beta, double m, double c) {
  const double rho_inf = 0.5 * m * m + 8.0 * c * m / 15.0 + c * c / 6.0;
  double value = 0.5 * partial_moment(p, 2, 0.0, m) + rho_inf * partial_moment(p, 0, m + c, INFINITY);
  if (c > 0.0) {
    const double s = 1.0 / (c * c), m2 = m * m;
    // b[j]: the coefficient of t^j of the integrand.
    const double b[6] = {0.0,
                         1.0 - 2.0 * s * m2 + s * s * m2 * m2,
                         4.0 * s * m - 4.0 * s * s * m2 * m,
                         -2.0 * s + 6.0 * s * s * m2,
                         -4.0 * s * s * m,
                         s * s};
    double at_m = 0.0, mp = m;
    for (int j = 1; j < 6; ++j) {
      mp *= m;
      at_m += b[j] * mp / (j + 1);
    }
    value += (0.5 * m2 - at_m) * partial_moment(p, 0, m, m + c);
    for (int j = 1; j < 6; ++j) value += b[j] / (j + 1) * partial_moment(p, j + 1, m, m + c);
  }
  return value - beta * rho_inf;
}

}  // namespace

Biweight biweight_constants(int64_t p, double beta, double alpha) {
  const double pd = static_cast<double>(p);
  // c0: E[min(d^2, c0^2)] = beta c0^2; the derivative in c0 is 2 c0 (1 - F_p(c0^2) - beta).
  double c0 = 2.0 * pd;
  for (int i = 0; i < kNewtonSteps; ++i) {
    const double x = c0 * c0, fp = chi2_cdf(pd, x);
    const double g = pd * chi2_cdf(pd + 2.0, x) + x * (1.0 - fp) - beta * x;
    if (std::fabs(g) <= kResidual) break;
    const double next = c0 - g / (2.0 * c0 * (1.0 - fp - beta));
    c0 = next > 0.0 && std::isfinite(next) ? next : 0.5 * c0;
  }
  const double root_q = std::sqrt(chi2_quantile(pd, 1.0 - alpha));
  if (1.0 - chi2_cdf(pd, c0 * c0) <= alpha) return {c0, root_q, 0.0};
  // Newton on m keeps a bracket: the equation is negative at root_q, and where it starts to rise
  // towards small m a plain Newton step runs out of the interval and would come back to the same point.
  double m = std::sqrt(pd), lo = 0.0, hi = root_q;
  if (m >= root_q) m = 0.5 * root_q;
  constexpr double kStep = 1e-4;
  for (int i = 0; i < kNewtonSteps; ++i) {
    const double h = rho_equation(p, beta, m, root_q - m);
    if (std::fabs(h) <= kResidual) return {c0, m, root_q - m};
    (h > 0.0 ? lo : hi) = m;
    const double slope = (rho_equation(p, beta, m + kStep, root_q - m - kStep) - h) / kStep;
    const double next = m - h / slope;
    m = next > lo && next < hi ? next : 0.5 * (lo + hi);
  }
  return {c0, root_q, 0.0};
}

namespace {

constexpr int32_t kNoEstimate = ZOK_SS_ERR_ROBUST_FAILED;

// ---- inner routines by precision ----
template <class T>
struct Inner;
#define ZOK_SS_INNER(T, t)                                                                                 \
  template <>                                                                                              \
  struct Inner<T> {                                                                                        \
    static int32_t basic(SSTask* s, uint64_t e, uint64_t m) { return _qor##t##SSBasic(s, e, m, nullptr); } \
    static int32_t quantiles(SSTask* s) {                                                                  \
      return _qor##t##SSQuantiles(s, ZOK_SS_QUANTILES, ZOK_SS_METHOD_EXACT, nullptr);                      \
    }                                                                                                      \
    static int32_t wmedian(SSTask* s) { return _qor##t##SSWMedian(s, 0, 0, nullptr); }                     \
    static int32_t distances(SSTask* s) { return _qor##t##SSMahDistance(s, 0, 0, nullptr); }               \
    static int32_t rank(int64_t p, T* c) { return __qor##t##TestCovRank(p, c); }                           \
    static int32_t inverse(int64_t p, T* c) { return __qor##t##InvCov(p, c); }                             \
    static int eigen(int p, T* packed, T* w, T* z, T* work, int lwork, int* iwork, int liwork) {           \
      int info = 0;                                                                                        \
      zok_lapack_##t##spevd("V", "U", &p, packed, w, z, &p, work, &lwork, iwork, &liwork, &info);          \
      return info;                                                                                         \
    }                                                                                                      \
  };
ZOK_SS_INNER(double, d)
ZOK_SS_INNER(float, s)
#undef ZOK_SS_INNER

const int64_t kFullStorage = 0;  // reads as 0 in either integer width
const int64_t kOneCount = 1;

// A task over the same observations with nothing else registered.
SSTask observations_only(const SSTask& task) {
  SSTask t{};
  t.int_width = task.int_width;
  t.kind = task.kind;
  t.precision = task.precision;
  t.p = task.p;
  t.n = task.n;
  t.x = task.x;
  t.x_storage = task.x_storage;
  return t;
}

template <class T>
struct Observations {
  const T* x;
  int64_t n, p;
  bool cols;
  T at(int64_t i, int64_t v) const { return cols ? x[i * p + v] : x[v * n + i]; }
};
template <class T>
Observations<T> observations_of(const SSTask& task, int64_t p, int64_t n) {
  return {static_cast<const T*>(task.x), n, p, columns_storage(task, p)};
}

// The weighted mean and full covariance (divided by W - W2/W) through the basic statistics.
template <class T>
int32_t mean_cov(const SSTask& task, const T* w, T* mean, T* cov) {
  SSTask t = observations_only(task);
  t.weights = w;
  t.mean = mean;
  t.cov = cov;
  t.cov_storage = &kFullStorage;
  return Inner<T>::basic(&t, ZOK_SS_MEAN | ZOK_SS_COV, ZOK_SS_METHOD_RAW);
}

// The median of n values through the quantile routine.
template <class T>
int32_t median(int64_t n, const T* v, T* result) {
  SSTask t{};
  const int64_t rows = ZOK_SS_STORAGE_ROWS;
  const T half = T(0.5);
  t.int_width = 1;
  t.precision = sizeof(T) == sizeof(double);
  t.p = &kOneCount;
  t.n = &n;
  t.x = v;
  t.x_storage = &rows;
  t.quantile_order_count = &kOneCount;
  t.quantile_orders = &half;
  t.quantiles = result;
  return Inner<T>::quantiles(&t);
}

// Location and scale of n values: the bisquare-weighted mean about the median (tuning 4.5 MADs) and
// the scale sigma^2 = MAD^2 mean(min(((x - mu)/MAD)^2, 9)). A MAD of 0 leaves the median with scale 0.
// tmp: n reals of scratch.
template <class T>
int32_t location_scale(int64_t n, const T* v, T* tmp, T* mu, T* sigma) {
  T med = 0, mad = 0;
  int32_t status = median(n, v, &med);
  if (status != kOk) return status;
  for (int64_t i = 0; i < n; ++i) tmp[i] = std::fabs(v[i] - med);
  if ((status = median(n, tmp, &mad)) != kOk) return status;
  *mu = med;
  *sigma = 0;
  if (!(mad > T(0))) return kOk;
  double sw = 0, swx = 0;
  const double reach = 4.5 * mad;
  for (int64_t i = 0; i < n; ++i) {
    const double u = (v[i] - med) / reach;
    if (std::fabs(u) > 1.0) continue;
    const double w = (1.0 - u * u) * (1.0 - u * u);
    sw += w;
    swx += w * v[i];
  }
  // At least half the values lie within one MAD of the median, so sw > 0.
  const double location = swx / sw;
  double s2 = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double u = (v[i] - location) / mad;
    s2 += std::min(u * u, 9.0);
  }
  *mu = static_cast<T>(location);
  *sigma = static_cast<T>(mad * std::sqrt(s2 / static_cast<double>(n)));
  return kOk;
}

// ---- distances of all observations, ranges over the threads ----
template <class T>
struct DistanceJob {
  const SSTask* task;
  const T* mean;
  const T* inverse;  // lower triangle, full storage
  T* out;
  int64_t n, ranges;
  std::atomic<int32_t> status{kOk};
};
template <class T>
void distance_body(int64_t range, int, int, void* context) {
  auto& job = *static_cast<DistanceJob<T>*>(context);
  const auto [first, last] = range_bounds(range, job.ranges, job.n);
  SSTask t = *job.task;
  t.work_mean = job.mean;
  t.work_cov = job.inverse;
  t.work_cov_storage = nullptr;
  t.work_first = first;
  t.work_last = last;
  t.work_out = job.out + first;
  const int32_t s = Inner<T>::distances(&t);
  int32_t expected = kOk;
  if (s != kOk) job.status.compare_exchange_strong(expected, s);
}

// Rank test and inverse of a copy of cov (into inverse), then the distances of all n observations.
template <class T>
int32_t distances(const SSTask& task, int64_t p, int64_t n, const T* mean, const T* cov, T* inverse, T* out,
                  int threads, const ThreadingServices* services) {
  std::memcpy(inverse, cov, static_cast<size_t>(p * p) * sizeof(T));
  int32_t status = Inner<T>::rank(p, inverse);
  if (status < 0) return status;
  if ((status = Inner<T>::inverse(p, inverse)) != kOk) return status;
  SSTask base = observations_only(task);
  DistanceJob<T> job{&base, mean, inverse, out, n, std::min<int64_t>(threads, n)};
  run_items(services, job.ranges, threads, &job, distance_body<T>);
  return job.status.load();
}

int threads_for(int64_t p, int64_t n, const ThreadingServices* services) {
  return p * n < 10000 ? 1 : thread_limit(services, &ThreadingServices::parallel_for);
}

// Task, p, n against its least value, then the observations; p and n receive their values.
int32_t leading_checks(const SSTask* task, int64_t* p, int64_t* n, int64_t least_n_per_p) {
  if (task == nullptr) return ErrNullTask;
  if (task->p == nullptr || (*p = read_int(*task, task->p)) < 1) return ErrP;
  if (task->n == nullptr || (*n = read_int(*task, task->n)) < least_n_per_p * *p) return ErrN;
  if (task->x == nullptr) return ErrX;
  return kOk;
}

// ---- robust covariance ----
struct RobustParams {
  double beta, alpha, eps;
  int64_t iterations;
};
template <class T>
RobustParams robust_params(const SSTask& task, int64_t p, int64_t n) {
  const double beta_max = static_cast<double>(n - p) / (2.0 * static_cast<double>(n));
  RobustParams r{beta_max, 0.001, 0.001, 100};
  if (task.robust_param_count == nullptr || task.robust_params == nullptr ||
      read_int(task, task.robust_param_count) != 4)
    return r;
  const T* v = static_cast<const T*>(task.robust_params);
  if (v[0] > T(0)) r.beta = std::min<double>(v[0], beta_max);
  if (v[1] > T(0) && v[1] < T(1)) r.alpha = v[1];
  if (v[2] > T(0)) r.eps = v[2];
  if (v[3] >= T(0)) r.iterations = static_cast<int64_t>(std::min<double>(v[3], 1e9));
  return r;
}

// Work arrays of the robust covariance, carved from one allocation.
template <class T>
struct RobustWork {
  T *cov, *prev_cov, *inverse, *vecs, *packed, *eig_work;
  T *mean, *prev_mean, *mu_x, *sigma_x, *lambda, *mu_z, *sigma_z;
  T *w, *d, *sel, *buffers;  // buffers: 2n reals per thread
  int* iwork;
  int lwork, liwork;
};

template <class T>
bool carve(Scratch& scratch, int64_t p, int64_t n, int threads, RobustWork<T>& k) {
  const int64_t pp = p * p;
  k.lwork = static_cast<int>(1 + 6 * p + pp);
  k.liwork = static_cast<int>(3 + 5 * p);
  const int64_t reals = 5 * pp + p * (p + 1) / 2 + k.lwork + 7 * p + 3 * n + 2 * n * threads;
  const int64_t ints = k.liwork;
  // One block: at least 8 (p^2 + 4n) + 1e7 bytes, more when the threads' buffers need it.
  const int64_t bytes =
      std::max<int64_t>(8 * (pp + 4 * n) + 10000000, reals * static_cast<int64_t>(sizeof(T)) + 4 * ints + 64);
  auto* block = scratch.take_unset<unsigned char>(bytes);
  if (block == nullptr) return false;
  T* at = reinterpret_cast<T*>(block);
  for (T** slot : {&k.cov, &k.prev_cov, &k.inverse, &k.vecs}) *slot = at, at += pp;
  k.packed = at, at += p * (p + 1) / 2;
  k.eig_work = at, at += k.lwork;
  for (T** slot : {&k.mean, &k.prev_mean, &k.mu_x, &k.sigma_x, &k.lambda, &k.mu_z, &k.sigma_z})
    *slot = at, at += p;
  for (T** slot : {&k.w, &k.d, &k.sel}) *slot = at, at += n;
  k.buffers = at, at += 2 * n * threads;
  k.iwork = reinterpret_cast<int*>(at);
  return true;
}

// Pairwise covariance of standardised variables j < k: (sigma(Yj + Yk)^2 - sigma(Yj - Yk)^2)/4.
template <class T>
struct PairJob {
  Observations<T> obs;
  const RobustWork<T>* k;
  T* u;  // p x p
  std::atomic<int32_t> status{kOk};
  T standard(int64_t i, int64_t v) const {
    return k->sigma_x[v] > T(0) ? (obs.at(i, v) - k->mu_x[v]) / k->sigma_x[v] : T(0);
  }
};
template <class T>
void pair_body(int64_t item, int thread, int, void* context) {
  auto& job = *static_cast<PairJob<T>*>(context);
  const int64_t p = job.obs.p, n = job.obs.n, a = item / p, b = item % p;
  if (b <= a) return;
  T* buf = job.k->buffers + 2 * n * thread;
  T* tmp = buf + n;
  T scale[2] = {0, 0};
  for (int sign = 0; sign < 2; ++sign) {
    for (int64_t i = 0; i < n; ++i)
      buf[i] = sign == 0 ? job.standard(i, a) + job.standard(i, b) : job.standard(i, a) - job.standard(i, b);
    T mu = 0;
    const int32_t s = location_scale(n, buf, tmp, &mu, &scale[sign]);
    int32_t expected = kOk;
    if (s != kOk) job.status.compare_exchange_strong(expected, s);
  }
  job.u[a * p + b] = job.u[b * p + a] = (scale[0] * scale[0] - scale[1] * scale[1]) / T(4);
}

// The orthogonalised pairwise estimate: robust scales of the standardised variables, their pairwise
// covariances, the data projected on that matrix's eigenvectors, whose robust locations and scales give
// the mean and covariance back in the original coordinates.
template <class T>
int32_t initial_estimate(const Observations<T>& obs, RobustWork<T>& k, int threads,
                         const ThreadingServices* services) {
  const int64_t p = obs.p, n = obs.n;
  T* buf = k.buffers;
  T* tmp = buf + n;
  for (int64_t v = 0; v < p; ++v) {
    for (int64_t i = 0; i < n; ++i) buf[i] = obs.at(i, v);
    if (const int32_t s = location_scale(n, buf, tmp, &k.mu_x[v], &k.sigma_x[v]); s != kOk) return s;
  }
  T* u = k.cov;
  for (int64_t v = 0; v < p; ++v) u[v * p + v] = k.sigma_x[v] > T(0) ? T(1) : T(0);
  PairJob<T> pairs{obs, &k, u};
  run_items(services, p * p, p > 1 ? threads : 1, &pairs, pair_body<T>);
  if (const int32_t s = pairs.status.load(); s != kOk) return s;
  for (int64_t j = 0; j < p; ++j)
    for (int64_t i = 0; i <= j; ++i) k.packed[i + j * (j + 1) / 2] = u[i * p + j];
  if (Inner<T>::eigen(static_cast<int>(p), k.packed, k.lambda, k.vecs, k.eig_work, k.lwork, k.iwork,
                      k.liwork) != 0)
    return ZOK_SS_ERR_RANK_EIGEN;
  // Column e of vecs (vecs[e*p + v]) is eigenvector e.
  for (int64_t e = 0; e < p; ++e) {
    for (int64_t i = 0; i < n; ++i) {
      T z = 0;
      for (int64_t v = 0; v < p; ++v) z += pairs.standard(i, v) * k.vecs[e * p + v];
      buf[i] = z;
    }
    if (const int32_t s = location_scale(n, buf, tmp, &k.mu_z[e], &k.sigma_z[e]); s != kOk) return s;
  }
  for (int64_t a = 0; a < p; ++a) {
    T shift = 0;
    for (int64_t e = 0; e < p; ++e) shift += k.vecs[e * p + a] * k.mu_z[e];
    k.mean[a] = k.mu_x[a] + k.sigma_x[a] * shift;
    for (int64_t b = 0; b < p; ++b) {
      T c = 0;
      for (int64_t e = 0; e < p; ++e)
        c += k.vecs[e * p + a] * k.sigma_z[e] * k.sigma_z[e] * k.vecs[e * p + b];
      k.cov[a * p + b] = k.sigma_x[a] * k.sigma_x[b] * c;
    }
  }
  return kOk;
}

// (W - W2/W)/W for weights w, or p (W - W2/W)/swd2 when swd2 is given.
template <class T>
T normaliser_ratio(const T* w, int64_t n, T numerator_scale, T denominator) {
  double W = 0, W2 = 0;
  for (int64_t i = 0; i < n; ++i) {
    W += w[i];
    W2 += static_cast<double>(w[i]) * w[i];
  }
  return static_cast<T>(numerator_scale * (W - W2 / W) / (denominator > T(0) ? denominator : W));
}

// Squared change of the estimates relative to their size.
template <class T>
double relative_change(const RobustWork<T>& k, int64_t p) {
  double num = 0, den = 0;
  for (int64_t i = 0; i < p; ++i) {
    num += double(k.mean[i] - k.prev_mean[i]) * (k.mean[i] - k.prev_mean[i]);
    den += double(k.mean[i]) * k.mean[i];
  }
  for (int64_t i = 0; i < p * p; ++i) {
    num += double(k.cov[i] - k.prev_cov[i]) * (k.cov[i] - k.prev_cov[i]);
    den += double(k.cov[i]) * k.cov[i];
  }
  return num / den;
}

template <class T>
int32_t robust_covariance(SSTask* task, uint64_t, uint64_t method, const ThreadingServices* services) {
  int64_t p = 0, n = 0;
  if (const int32_t s = leading_checks(task, &p, &n, 2); s != kOk) return s;
  if (n == 2 * p) return ErrN;
  if (task->x_storage == nullptr) return ErrStoragePtr;
  const int64_t x_code = read_int(*task, task->x_storage);
  if (x_code != ZOK_SS_STORAGE_ROWS && x_code != ZOK_SS_STORAGE_COLUMNS) return ErrStorage;
  if (task->robust_mean == nullptr) return ZOK_SS_ERR_ROBUST_MEAN;
  if (task->robust_cov == nullptr) return ZOK_SS_ERR_ROBUST_COV;
  if (task->robust_cov_storage == nullptr) return ErrStoragePtr;
  const int64_t out_code = read_int(*task, task->robust_cov_storage);
  if (out_code < 0 || out_code > 2) return ErrStorage;
  if ((method & ZOK_SS_METHOD_ROBUST_COV) == 0) return ErrMethod;
  if (p > 46340) return ErrP;

  const RobustParams prm = robust_params<T>(*task, p, n);
  const int threads = threads_for(p, n, services);
  Scratch scratch;
  RobustWork<T> k{};
  if (!carve(scratch, p, n, threads, k)) return ErrMemory;
  const Observations<T> obs = observations_of<T>(*task, p, n);
  const double pd = static_cast<double>(p);

  int32_t status = initial_estimate(obs, k, threads, services);
  if (status != kOk) return status;
  status = distances(*task, p, n, k.mean, k.cov, k.inverse, k.d, threads, services);
  if (status != kOk) return status;
  for (int64_t i = 0; i < n; ++i) k.sel[i] = k.d[i] * k.d[i];
  T med = 0;
  if ((status = median(n, k.sel, &med)) != kOk) return status;
  const double cut = med * chi2_quantile(pd, 0.9) / chi2_quantile(pd, 0.5);
  int64_t kept = 0;
  for (int64_t i = 0; i < n; ++i) kept += (k.w[i] = k.sel[i] < cut ? T(1) : T(0)) > T(0);
  if (kept == 0) return kNoEstimate;
  if ((status = mean_cov(*task, k.w, k.mean, k.cov)) != kOk) return status;
  const T ratio = normaliser_ratio(k.w, n, T(1), T(0));
  for (int64_t i = 0; i < p * p; ++i) k.cov[i] *= ratio;

  if (prm.iterations > 0) {
    const Biweight bw = biweight_constants(p, prm.beta, prm.alpha);
    const int64_t h = (n + p + 1) / 2;
    const double q_h = std::sqrt(chi2_quantile(pd, static_cast<double>(h) / static_cast<double>(n + 1)));
    for (int64_t it = 0; it < prm.iterations; ++it) {
      status = distances(*task, p, n, k.mean, k.cov, k.inverse, k.d, threads, services);
      if (status != kOk) return status;
      std::memcpy(k.sel, k.d, static_cast<size_t>(n) * sizeof(T));
      const double d_h = qselect(n, k.sel, h - 1);
      if (!(d_h > 0.0)) return kNoEstimate;
      const double scale = q_h / d_h;
      double swd2 = 0;
      for (int64_t i = 0; i < n; ++i) {
        const double d = k.d[i] * scale;
        double w = 0;
        if (d < bw.m) {
          w = 1;
        } else if (bw.c > 0.0 && d <= bw.m + bw.c) {
          const double u = (d - bw.m) / bw.c;
          w = (1 - u * u) * (1 - u * u);
        }
        k.w[i] = static_cast<T>(w);
        swd2 += w * d * d;
      }
      if (!(swd2 > 0.0)) return kNoEstimate;
      std::memcpy(k.prev_mean, k.mean, static_cast<size_t>(p) * sizeof(T));
      std::memcpy(k.prev_cov, k.cov, static_cast<size_t>(p * p) * sizeof(T));
      if ((status = mean_cov(*task, k.w, k.mean, k.cov)) != kOk) return status;
      const T f = normaliser_ratio(k.w, n, static_cast<T>(pd), static_cast<T>(swd2));
      for (int64_t i = 0; i < p * p; ++i) k.cov[i] *= f;
      if (relative_change(k, p) <= prm.eps * prm.eps) break;
    }
  }
  std::memcpy(task->robust_mean, k.mean, static_cast<size_t>(p) * sizeof(T));
  for (int64_t a = 0; a < p; ++a)
    for (int64_t b = (out_code == 0 ? 0 : a); b < p; ++b)
      static_cast<T*>(task->robust_cov)[mat_index(a, b, p, packing_of(out_code))] = k.cov[a * p + b];
  return kOk;
}

// ---- outlier detection ----
template <class T>
int32_t outliers(SSTask* task, uint64_t, uint64_t method, const ThreadingServices* services) {
  int64_t p = 0, n = 0;
  if (const int32_t s = leading_checks(task, &p, &n, 5); s != kOk) return s;
  if (task->x_storage == nullptr) return ErrStorage;
  const int64_t x_code = read_int(*task, task->x_storage);
  if (x_code != ZOK_SS_STORAGE_ROWS && x_code != ZOK_SS_STORAGE_COLUMNS) return ErrStorage;
  if (task->outlier_weights == nullptr) return ZOK_SS_ERR_OUTLIER_WEIGHTS;
  if ((method & ZOK_SS_METHOD_OUTLIERS) == 0) return ErrMethod;
  if (p > 46340) return ErrP;

  int start_method = 2;
  double alpha = 0.05, accuracy = 0.005;
  if (task->outlier_param_count != nullptr && task->outlier_params != nullptr &&
      read_int(*task, task->outlier_param_count) == 3) {
    const T* v = static_cast<const T*>(task->outlier_params);
    start_method = v[0] == T(1) ? 1 : 2;
    if (v[1] >= T(0) && v[1] <= T(1)) alpha = v[1];
    if (v[2] > T(0)) accuracy = v[2];
  }
  const int threads = threads_for(p, n, services);
  Scratch scratch;
  T* w = scratch.take_unset<T>(2 * n + 2 * p * p + p);
  int64_t* order = scratch.take_unset<int64_t>(n);
  if (w == nullptr || order == nullptr) return ErrMemory;
  T* d = w + n;
  T* cov = d + n;
  T* inverse = cov + p * p;
  T* centre = inverse + p * p;
  const Observations<T> obs = observations_of<T>(*task, p, n);
  const int64_t m = 5 * p;

  int32_t status = kOk;
  if (start_method == 1) {
    std::fill(w, w + n, T(1));
    if ((status = mean_cov(*task, w, centre, cov)) != kOk) return status;
    if ((status = distances(*task, p, n, centre, cov, inverse, d, threads, services)) != kOk) return status;
  } else {
    SSTask t = observations_only(*task);
    const T half = T(0.5);
    t.quantile_order_count = &kOneCount;
    t.quantile_orders = &half;
    t.quantiles = centre;
    t.weights = task->weights;
    status = task->weights != nullptr ? Inner<T>::wmedian(&t) : Inner<T>::quantiles(&t);
    if (status != kOk) return status;
    for (int64_t i = 0; i < n; ++i) {
      double s = 0;
      for (int64_t v = 0; v < p; ++v) s += double(obs.at(i, v) - centre[v]) * (obs.at(i, v) - centre[v]);
      d[i] = static_cast<T>(std::sqrt(s));
    }
  }
  // The m nearest, ties to the lower index; a NaN distance counts as the farthest.
  for (int64_t i = 0; i < n; ++i) order[i] = i;
  auto key = [&](int64_t i) { return std::isnan(d[i]) ? std::numeric_limits<T>::infinity() : d[i]; };
  std::nth_element(order, order + (m - 1), order + n,
                   [&](int64_t a, int64_t b) { return key(a) < key(b) || (key(a) == key(b) && a < b); });
  std::fill(w, w + n, T(0));
  for (int64_t i = 0; i < m; ++i) w[order[i]] = T(1);

  const double pd = static_cast<double>(p), nd = static_cast<double>(n);
  const double chi = std::sqrt(chi2_quantile(pd, 1.0 - alpha));
  const double h = std::floor((nd + pd + 1.0) / 2.0);
  const double c_np = 1.0 + (pd + 1.0) / (nd - pd) + 2.0 / (nd - 1.0 - 3.0 * pd);
  int64_t r = m;
  for (int round = 0; round < 100; ++round) {
    if ((status = mean_cov(*task, w, centre, cov)) != kOk) return status;
    if ((status = distances(*task, p, n, centre, cov, inverse, d, threads, services)) != kOk) return status;
    const double c_hr = std::max(0.0, (h - r) / (h + r));
    const double limit = (c_hr + c_np) * chi;
    int64_t r_new = 0;
    for (int64_t i = 0; i < n; ++i) r_new += (w[i] = d[i] < limit ? T(1) : T(0)) > T(0);
    const bool settled = std::fabs(static_cast<double>(r_new - r)) < accuracy * static_cast<double>(r);
    r = r_new;
    if (r == 0 || r == n || settled) break;
  }
  std::memcpy(task->outlier_weights, w, static_cast<size_t>(n) * sizeof(T));
  return r <= m ? kNoEstimate : kOk;
}

}  // namespace
}  // namespace zok::ss

extern "C" {

ZOK_SS_API int32_t _qordSSRobustCovariance(SSTask* task, uint64_t estimates, uint64_t method,
                                           const ThreadingServices* services) {
  return zok::ss::robust_covariance<double>(task, estimates, method, services);
}
ZOK_SS_API int32_t _qorsSSRobustCovariance(SSTask* task, uint64_t estimates, uint64_t method,
                                           const ThreadingServices* services) {
  return zok::ss::robust_covariance<float>(task, estimates, method, services);
}
ZOK_SS_API int32_t _qordSSOutliersDetection(SSTask* task, uint64_t estimates, uint64_t method,
                                            const ThreadingServices* services) {
  return zok::ss::outliers<double>(task, estimates, method, services);
}
ZOK_SS_API int32_t _qorsSSOutliersDetection(SSTask* task, uint64_t estimates, uint64_t method,
                                            const ThreadingServices* services) {
  return zok::ss::outliers<float>(task, estimates, method, services);
}

}  // extern "C"
