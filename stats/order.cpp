// Order statistics: quantiles and order statistics, sorted copies, median and mean absolute deviations,
// the weighted quantile, and the exported sorting helpers.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#include "stats/estimator.h"
#include "stats/order_sort.h"
#include "stats/task.h"
#include "zok/core_services.h"

namespace zok::ss {

namespace {

// ---- what every routine shares ----
// Task, p, then the observations; p and n receive their values.
int32_t leading_checks(const SSTask* task, int64_t* p, int64_t* n) {
  if (task == nullptr) return ErrNullTask;
  *p = read_int(*task, task->p);
  if (*p < 1) return ErrP;
  return check_observations(*task, n);
}

bool storage_code_ok(const SSTask& task, const void* storage) {
  const int64_t code = read_int(task, storage);
  return code == ZOK_SS_STORAGE_ROWS || code == ZOK_SS_STORAGE_COLUMNS;
}

// Where one variable's observations are: x[v*n + i], or x[i*p + v] in columns storage.
template <class T>
struct Source {
  const T* x;
  int64_t n, p;
  bool cols;
  void copy(int64_t v, T* dst, int64_t stride) const {
    if (cols) {
      for (int64_t i = 0; i < n; ++i) dst[i * stride] = x[i * p + v];
    } else if (stride == 1) {
      if (dst != x + v * n) std::memcpy(dst, x + v * n, static_cast<size_t>(n) * sizeof(T));
    } else {
      for (int64_t i = 0; i < n; ++i) dst[i * stride] = x[v * n + i];
    }
  }
};
template <class T>
Source<T> source_of(const SSTask& task, int64_t p, int64_t n) {
  return {static_cast<const T*>(task.x), n, p, columns_storage(task, p)};
}

// The first failing status of the parallel bodies.
struct Failure {
  std::atomic<int32_t> status{kOk};
  void set(int32_t s) {
    int32_t expected = kOk;
    if (s != kOk) status.compare_exchange_strong(expected, s);
  }
};

// Type 7 between neighbouring order statistics a <= b. At an exact position the statistic itself:
// (1 - 0)*a + 0*b would turn an infinite b into NaN.
template <class T>
T interpolate(T a, T b, T f) {
  return f == T(0) ? a : (T(1) - f) * a + f * b;
}
// The position of order q among n sorted values: integer part k and fraction f. Kept in double, so
// that the single-precision forms find the right place beyond 2^24 observations.
inline int64_t position(double q, int64_t n, double* f) {
  const double pos = q * static_cast<double>(n - 1);
  int64_t k = static_cast<int64_t>(pos);
  if (k > n - 1) k = n - 1;
  *f = pos - static_cast<double>(k);
  return k;
}

// ---- quantiles and order statistics ----
template <class T>
struct QuantileJob {
  Source<T> src;
  const int64_t* vars;
  const T* orders;
  int64_t count;
  T* quantiles;  // null: not wanted
  T* stats;      // order statistics, null: not wanted
  bool stats_cols;
  T* buffers;      // n reals per thread
  int64_t* marks;  // 2*count + 2 positions per thread
};

// buf[k] in sorted order, selected within the range that earlier selections bound; marks holds the
// sorted positions already in their final place. A position at the edge of its range is the range's
// minimum or maximum, found by one scan.
template <class T>
T select_at(T* buf, int64_t n, int64_t k, int64_t* marks, int64_t* nmarks) {
  int64_t* const end = marks + *nmarks;
  int64_t* it = std::lower_bound(marks, end, k);
  if (it != end && *it == k) return buf[k];
  const int64_t lo = it == marks ? 0 : it[-1] + 1;
  const int64_t hi = it == end ? n : *it;
  if (k == lo || k == hi - 1) {
    int64_t best = lo;
    if (k == lo) {
      for (int64_t i = lo + 1; i < hi; ++i)
        if (buf[i] < buf[best]) best = i;
    } else {
      best = hi - 1;
      for (int64_t i = lo; i < hi - 1; ++i)
        if (buf[best] < buf[i]) best = i;
    }
    std::swap(buf[best], buf[k]);
  } else {
    qselect(hi - lo, buf + lo, k - lo);
  }
  std::memmove(it + 1, it, static_cast<size_t>(end - it) * sizeof(int64_t));
  *it = k;
  ++*nmarks;
  return buf[k];
}

template <class T>
void quantile_body(int64_t s, int thread, int, void* context) {
  const auto& job = *static_cast<const QuantileJob<T>*>(context);
  const int64_t n = job.src.n, v = job.vars[s];
  T* const buf = job.buffers + thread * n;
  T* out = job.quantiles != nullptr ? job.quantiles + s * job.count : nullptr;
  if (job.stats != nullptr) {
    const int64_t stride = job.stats_cols ? job.src.p : 1;
    T* const slot = job.stats_cols ? job.stats + s : job.stats + s * n;
    job.src.copy(v, slot, stride);
    sort_values(n, slot, stride, buf);
    for (int64_t i = 0; out != nullptr && i < job.count; ++i) {
      double f = 0;
      const int64_t k = position(job.orders[i], n, &f);
      out[i] = interpolate(slot[k * stride], slot[std::min(k + 1, n - 1) * stride], static_cast<T>(f));
    }
    return;
  }
  job.src.copy(v, buf, 1);
  int64_t* const marks = job.marks + thread * (2 * job.count + 2);
  int64_t nmarks = 0;
  for (int64_t i = 0; i < job.count; ++i) {
    double f = 0;
    const int64_t k = position(job.orders[i], n, &f);
    const T a = select_at(buf, n, k, marks, &nmarks);
    const T b = f == 0 ? a : select_at(buf, n, std::min(k + 1, n - 1), marks, &nmarks);
    out[i] = interpolate(a, b, static_cast<T>(f));
  }
}

template <class T>
int32_t quantiles(SSTask* task, uint64_t estimates, uint64_t method, const ThreadingServices* services) {
  int64_t p = 0, n = 0;
  if (const int32_t status = leading_checks(task, &p, &n); status != kOk) return status;
  if (!storage_code_ok(*task, task->x_storage)) return ErrStorage;
  const bool want_q = (estimates & ZOK_SS_QUANTILES) != 0, want_os = (estimates & ZOK_SS_ORDER_STATS) != 0;
  int64_t count = 0;
  const T* orders = static_cast<const T*>(task->quantile_orders);
  if (want_q) {
    if (task->quantiles == nullptr) return ZOK_SS_ERR_QUANTILES;
    if (orders == nullptr) return ZOK_SS_ERR_ORDERS;
    if (task->quantile_order_count == nullptr || (count = read_int(*task, task->quantile_order_count)) < 0)
      return ZOK_SS_ERR_ORDER_COUNT;
    for (int64_t i = 0; i < count; ++i)
      if (!(orders[i] >= T(0) && orders[i] <= T(1))) return ZOK_SS_ERR_ORDER_COUNT;
  }
  if (want_os) {
    if (task->order_stats == nullptr) return ZOK_SS_ERR_ORDER_STATS;
    if (task->order_stats_storage == nullptr) return ErrStoragePtr;
    if (!storage_code_ok(*task, task->order_stats_storage)) return ErrStorage;
  }
  if ((method & ZOK_SS_METHOD_EXACT) == 0) return ErrMethod;
  if (!want_os && (!want_q || count == 0)) return kOk;

  const int64_t limit = thread_limit(services, &ThreadingServices::parallel_for);
  const int64_t threads = std::min({std::max<int64_t>(1, 10485760 / (8 * n)), limit, p});
  Scratch scratch;
  int64_t k = 0;
  const int64_t* vars = select_variables(*task, p, scratch, &k);
  QuantileJob<T> job{source_of<T>(*task, p, n),
                     vars,
                     orders,
                     count,
                     want_q ? static_cast<T*>(task->quantiles) : nullptr,
                     want_os ? static_cast<T*>(task->order_stats) : nullptr,
                     want_os && read_int(*task, task->order_stats_storage) == ZOK_SS_STORAGE_COLUMNS && p > 1,
                     scratch.take_unset<T>(threads * n),
                     want_os ? nullptr : scratch.take_unset<int64_t>(threads * (2 * count + 2))};
  if (vars == nullptr || job.buffers == nullptr || (!want_os && job.marks == nullptr)) return ErrMemory;
  run_items(services, k, static_cast<int>(threads), &job, quantile_body<T>);
  return kOk;
}

// ---- sorted copies ----
template <class T>
struct SortJob {
  Source<T> src;
  const int64_t* vars;
  T* out;
  bool out_cols, in_place;
  T* buffers;  // per thread: n reals (rows output) or 2n (columns output)
  int64_t per_thread;
};

template <class T>
void sort_body(int64_t s, int thread, int, void* context) {
  const auto& job = *static_cast<const SortJob<T>*>(context);
  const int64_t n = job.src.n, p = job.src.p, v = job.vars[s];
  T* const buf = job.buffers + thread * job.per_thread;
  if (!job.out_cols) {
    T* const slot = job.out + s * n;
    if (!job.in_place) job.src.copy(v, slot, 1);
    sort_values(n, slot, 1, buf);
    return;
  }
  // Columns output: gathered, sorted with the buffer's second half as scratch, scattered back.
  T* const slot = job.out + s;
  if (job.in_place)
    for (int64_t i = 0; i < n; ++i) buf[i] = slot[i * p];
  else
    job.src.copy(v, buf, 1);
  sort_values(n, buf, 1, buf + n);
  for (int64_t i = 0; i < n; ++i) slot[i * p] = buf[i];
}

template <class T>
int32_t sort(SSTask* task, uint64_t, uint64_t method, const ThreadingServices* services) {
  int64_t p = 0, n = 0;
  if (const int32_t status = leading_checks(task, &p, &n); status != kOk) return status;
  T* const out = static_cast<T*>(task->sorted);
  if (out == nullptr) return ZOK_SS_ERR_SORTED;
  if (task->sorted_storage == nullptr) return ErrStoragePtr;
  const bool in_place = out == task->x;
  if (in_place) {
    if (read_int(*task, task->sorted_storage) != read_int(*task, task->x_storage)) return ErrStoragePtr;
    if (task->indices != nullptr) return ZOK_SS_ERR_SORT_SELECTION;
  }
  if (!storage_code_ok(*task, task->x_storage) || !storage_code_ok(*task, task->sorted_storage))
    return ErrStorage;
  if ((method & ZOK_SS_METHOD_SORT) == 0) return ErrMethod;

  const bool out_cols = read_int(*task, task->sorted_storage) == ZOK_SS_STORAGE_COLUMNS && p > 1;
  const int64_t limit = thread_limit(services, &ThreadingServices::parallel_for);
  const int64_t per_thread = out_cols ? 2 * n : n;
  const double bytes = static_cast<double>(per_thread) * sizeof(T);
  const int64_t by_memory =
      std::max<int64_t>(1, static_cast<int64_t>(static_cast<double>(limit) * 1073741824.0 / bytes));
  const int64_t threads = std::min({limit, p, by_memory});
  Scratch scratch;
  int64_t k = 0;
  const int64_t* vars = select_variables(*task, p, scratch, &k);
  SortJob<T> job{source_of<T>(*task, p, n),
                 vars,
                 out,
                 out_cols,
                 in_place,
                 scratch.take_unset<T>(threads * per_thread),
                 per_thread};
  if (vars == nullptr || job.buffers == nullptr) return ErrMemory;
  run_items(services, k, static_cast<int>(threads), &job, sort_body<T>);
  return kOk;
}

// ---- absolute deviations ----
// A one-variable task over n values at v, in rows storage with 64-bit integers.
template <class T>
struct LocalTask {
  SSTask task{};
  int64_t one = 1, n = 0, storage = ZOK_SS_STORAGE_ROWS;
  LocalTask(int64_t count, const T* v) : n(count) {
    task.int_width = 1;
    task.precision = sizeof(T) == sizeof(double) ? 1 : 0;
    task.p = &one;
    task.n = &n;
    task.x = v;
    task.x_storage = &storage;
  }
};

template <class T>
int32_t call_basic(SSTask* task, uint64_t estimates, uint64_t method) {
  if constexpr (sizeof(T) == sizeof(double))
    return _qordSSBasic(task, estimates, method, nullptr);
  else
    return _qorsSSBasic(task, estimates, method, nullptr);
}

// The median of n values through the quantile routine.
template <class T>
int32_t median(int64_t n, const T* v, T* result) {
  LocalTask<T> local(n, v);
  const int64_t count = 1;
  const T half = T(0.5);
  local.task.quantile_order_count = &count;
  local.task.quantile_orders = &half;
  local.task.quantiles = result;
  return quantiles<T>(&local.task, ZOK_SS_QUANTILES, ZOK_SS_METHOD_EXACT, nullptr);
}

// The weighted mean of n values through the basic statistics.
template <class T>
int32_t weighted_mean(int64_t n, const T* v, const T* w, T* result) {
  LocalTask<T> local(n, v);
  local.task.weights = w;
  local.task.mean = result;
  return call_basic<T>(&local.task, ZOK_SS_MEAN, ZOK_SS_METHOD_RAW);
}

template <class T>
struct DeviationJob {
  SSTask* task;
  Source<T> src;
  bool median_dev, mean_dev;
  const T* centres;  // registered means, or null: the weighted mean
  T* buffers;        // n reals per thread
  Failure failure;
};

template <class T>
void deviation_body(int64_t j, int thread, int, void* context) {
  auto& job = *static_cast<DeviationJob<T>*>(context);
  const SSTask& task = *job.task;
  if (task.indices != nullptr && read_int(task, task.indices, j) == 0) return;
  const int64_t n = job.src.n;
  T* const buf = job.buffers + thread * n;
  if (job.median_dev) {
    job.src.copy(j, buf, 1);
    T centre = 0;
    int32_t status = median(n, buf, &centre);
    for (int64_t i = 0; i < n && status == kOk; ++i) buf[i] = std::fabs(buf[i] - centre);
    if (status == kOk) status = median(n, buf, static_cast<T*>(task.median_abs_dev) + j);
    job.failure.set(status);
  }
  if (job.mean_dev) {
    job.src.copy(j, buf, 1);
    const T* w = static_cast<const T*>(task.weights);
    T centre = job.centres != nullptr ? job.centres[j] : T(0);
    int32_t status = job.centres != nullptr ? kOk : weighted_mean(n, buf, w, &centre);
    for (int64_t i = 0; i < n && status == kOk; ++i) buf[i] = std::fabs(buf[i] - centre);
    if (status == kOk) status = weighted_mean(n, buf, w, static_cast<T*>(task.mean_abs_dev) + j);
    job.failure.set(status);
  }
}

template <class T>
int32_t deviations(SSTask* task, uint64_t estimates, uint64_t method, const ThreadingServices* services) {
  int64_t p = 0, n = 0;
  if (const int32_t status = leading_checks(task, &p, &n); status != kOk) return status;
  const bool median_dev = (estimates & ZOK_SS_MEDIAN_ABS_DEV) != 0;
  const bool mean_dev = (estimates & ZOK_SS_MEAN_ABS_DEV) != 0;
  const bool given = (method & ZOK_SS_METHOD_GIVEN_MEANS) != 0;
  if (median_dev) {
    if (task->median_abs_dev == nullptr) return ZOK_SS_ERR_MEDIAN_ABS_DEV;
    if ((method & ZOK_SS_METHOD_EXACT) == 0) return ErrMethod;
  }
  if (mean_dev) {
    if (task->mean_abs_dev == nullptr) return ZOK_SS_ERR_MEAN_ABS_DEV;
    if ((method & (ZOK_SS_METHOD_EXACT | ZOK_SS_METHOD_GIVEN_MEANS)) == 0) return ErrMethod;
    if (given && task->mean == nullptr) return ZOK_SS_ERR_MEAN;
  }
  if (!median_dev && !mean_dev) return kOk;

  const int64_t threads = std::min<int64_t>(thread_limit(services, &ThreadingServices::parallel_for), p);
  Scratch scratch;
  DeviationJob<T> job{task,
                      source_of<T>(*task, p, n),
                      median_dev,
                      mean_dev,
                      mean_dev && given ? static_cast<const T*>(task->mean) : nullptr,
                      scratch.take_unset<T>(threads * n),
                      {}};
  if (job.buffers == nullptr) return ErrMemory;
  run_items(services, p, static_cast<int>(threads), &job, deviation_body<T>);
  return job.failure.status.load();
}

// ---- weighted quantile ----
template <class T>
struct Weighted {
  T v, w;
};
template <class T>
struct ByValue {
  bool operator()(const Weighted<T>& a, const Weighted<T>& b) const { return a.v < b.v; }
};

// The weighted quantile at q of n (value, weight) pairs sorted by value.
template <class T>
T weighted_quantile(const Weighted<T>* s, int64_t n, T q) {
  T W = 0;
  for (int64_t i = 0; i < n; ++i) W += s[i].w;
  const T target = q * W;
  T c = 0;
  int64_t k = 0;
  for (; k < n; ++k) {
    c += s[k].w;
    if (c >= target) break;
  }
  // Rounding can keep the running sum below the target: the largest value is the answer.
  if (k == n) return s[n - 1].v;
  const T before = c - s[k].w;
  const bool odd = (n & 1) != 0;
  if (c > target) {
    if (!(before > T(0))) return s[k].v;
    int64_t kb = k - 1;
    while (kb > 0 && !(s[kb].w > T(0))) --kb;
    if (odd && before == (W - s[k].w) * q) return s[k].v;
    return s[kb].v + (target - before) / (c - before) * (s[k].v - s[kb].v);
  }
  if (odd || k == n - 1) return s[k].v;
  int64_t kn = k + 1;
  while (kn < n && !(s[kn].w > T(0))) ++kn;
  return (s[k].v + s[kn < n ? kn : n - 1].v) / T(2);
}

template <class T>
int32_t wmedian(SSTask* task, uint64_t, uint64_t, const ThreadingServices*) {
  int64_t p = 0, n = 0;
  if (const int32_t status = leading_checks(task, &p, &n); status != kOk) return status;
  const T* orders = static_cast<const T*>(task->quantile_orders);
  if (orders == nullptr) return ZOK_SS_ERR_ORDERS;
  if (task->quantile_order_count == nullptr || read_int(*task, task->quantile_order_count) < 1)
    return ZOK_SS_ERR_ORDER_COUNT;
  if (task->quantiles == nullptr) return ZOK_SS_ERR_QUANTILES;
  Scratch scratch;
  auto* pairs = scratch.take_unset<Weighted<T>>(n);
  if (pairs == nullptr) return ErrMemory;
  const Source<T> src = source_of<T>(*task, p, n);
  const T* w = static_cast<const T*>(task->weights);
  T* const out = static_cast<T*>(task->quantiles);
  for (int64_t j = 0; j < p; ++j) {
    for (int64_t i = 0; i < n; ++i)
      pairs[i] = {src.cols ? src.x[i * p + j] : src.x[j * n + i], w != nullptr ? w[i] : T(1)};
    quick_sort(n, Strided<Weighted<T>, true>{pairs, 1}, ByValue<T>{}, depth_limit(n));
    out[j] = weighted_quantile(pairs, n, orders[0]);
  }
  return kOk;
}

}  // namespace
}  // namespace zok::ss

extern "C" {

#define ZOK_SS_ORDER_ENTRY(name, routine)                               \
  ZOK_SS_ESTIMATOR(_qord##name) {                                       \
    return zok::ss::routine<double>(task, estimates, method, services); \
  }                                                                     \
  ZOK_SS_ESTIMATOR(_qors##name) {                                       \
    return zok::ss::routine<float>(task, estimates, method, services);  \
  }
ZOK_SS_ORDER_ENTRY(SSQuantiles, quantiles)
ZOK_SS_ORDER_ENTRY(SSSort, sort)
ZOK_SS_ORDER_ENTRY(SSMAD, deviations)
#undef ZOK_SS_ORDER_ENTRY

ZOK_SS_ESTIMATOR(_qordSSWMedian) {
  return zok::ss::wmedian<double>(task, estimates, method, services);
}
ZOK_SS_ESTIMATOR(_qorsSSWMedian) {
  return zok::ss::wmedian<float>(task, estimates, method, services);
}

ZOK_SS_API void __qordQSort(int64_t n, double* a) {
  zok::ss::qsort_strided(n, a, 1);
}
ZOK_SS_API void __qordQSortStep(int64_t n, double* a, int64_t stride) {
  zok::ss::qsort_strided(n, a, stride);
}
ZOK_SS_API double __qordQSortSelect(int64_t n, double* a, int64_t k) {
  if (n < 1 || k < 0 || k >= n) return std::numeric_limits<double>::quiet_NaN();
  return zok::ss::qselect(n, a, k);
}

}  // extern "C"
