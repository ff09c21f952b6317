// Basic-statistics benchmarks with same-run baselines: mean, variance and covariance against a blocked
// Welford-Chan loop, and a large covariance against one rank-k update of centred data. Order
// statistics: quantiles against multi-select by std::nth_element, sorting against std::sort, stream
// quantiles and absolute deviations. Derived estimates: partial covariance, pooled and group
// covariance and Mahalanobis distances against the direct BLAS/LAPACK calls they rest on. Robust
// estimation (no peer to compare with): robust covariance and outlier detection per observation at
// p = 10, n = 1e5 with 10% planted, imputation of 10% of one variable, the chi-square helpers per call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/thread_limit.h"
#include "stats/task.h"
#include "zok/core_services.h"
#include "zok/summary_stats.h"

namespace {

std::vector<double> make_data(int64_t p, int64_t n) {
  std::mt19937_64 gen(42);
  std::normal_distribution<double> normal(10.0, 2.0);
  std::vector<double> x(p * n);
  for (auto& v : x) v = normal(gen);
  return x;
}

// zok: mean, variance and full covariance in one call. Arguments: p, n, columns storage, threads.
void BM_zok_mean_var_cov(benchmark::State& state) {
  int32_t p = static_cast<int32_t>(state.range(0)), n = static_cast<int32_t>(state.range(1));
  int32_t storage = state.range(2) ? ZOK_SS_STORAGE_COLUMNS : ZOK_SS_STORAGE_ROWS, full = 0;
  const ThreadingServices* s = zok::core::threads_up_to(static_cast<int>(state.range(3)));
  const std::vector<double> x = make_data(p, n);
  std::vector<double> mean(p), raw2(p), c2(p), cov(p * p);
  SSTask* task = nullptr;
  __qordSSNewTask(&task, &p, &n, &storage, x.data(), nullptr, nullptr, 0);
  __qordSSEditMoments(task, mean.data(), raw2.data(), nullptr, nullptr, c2.data(), nullptr, nullptr);
  __qordSSEditCovCor(task, nullptr, cov.data(), &full, nullptr, nullptr);
  for (auto _ : state) {
    // No weights pair: every call starts afresh.
    const int32_t status =
        _qordSSBasic(task, ZOK_SS_MEAN | ZOK_SS_CENTRAL2 | ZOK_SS_COV, ZOK_SS_METHOD_ONEPASS, s);
    if (status != 0) state.SkipWithError("status");
    benchmark::DoNotOptimize(cov.data());
  }
  __qorSSDeleteTask(&task);
  state.counters["ns/element"] =
      benchmark::Counter(static_cast<double>(p) * n * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Baseline: blocks of 256 observations, each centred on its own mean (two passes in cache), its
// cross-products accumulated by plain loops, merged into the running state with Chan's formulas.
void BM_welford_chan(benchmark::State& state) {
  const int64_t p = state.range(0), n = state.range(1);
  const bool cols = state.range(2) != 0;
  const std::vector<double> x = make_data(p, n);
  constexpr int64_t kBlock = 256;
  std::vector<double> mean(p), C(p * p), bm(p), z(kBlock * p), dl(p);
  for (auto _ : state) {
    std::fill(mean.begin(), mean.end(), 0.0);
    std::fill(C.begin(), C.end(), 0.0);
    double W = 0;
    for (int64_t b0 = 0; b0 < n; b0 += kBlock) {
      const int64_t nb = std::min(kBlock, n - b0);
      for (int64_t j = 0; j < p; ++j) {
        double s = 0;
        for (int64_t i = 0; i < nb; ++i) s += cols ? x[(b0 + i) * p + j] : x[j * n + b0 + i];
        bm[j] = s / nb;
        for (int64_t i = 0; i < nb; ++i)
          z[i * p + j] = (cols ? x[(b0 + i) * p + j] : x[j * n + b0 + i]) - bm[j];
      }
      for (int64_t i = 0; i < nb; ++i) {
        const double* zi = &z[i * p];
        for (int64_t a = 0; a < p; ++a) {
          const double za = zi[a];
          double* row = &C[a * p];
          for (int64_t c = a; c < p; ++c) row[c] += za * zi[c];
        }
      }
      const double WB = static_cast<double>(nb), Wn = W + WB, g = W * WB / Wn;
      for (int64_t j = 0; j < p; ++j) dl[j] = bm[j] - mean[j];
      for (int64_t a = 0; a < p; ++a)
        for (int64_t c = a; c < p; ++c) C[a * p + c] += g * dl[a] * dl[c];
      for (int64_t j = 0; j < p; ++j) mean[j] += dl[j] * (WB / Wn);
      W = Wn;
    }
    for (int64_t a = 0; a < p; ++a)
      for (int64_t c = a; c < p; ++c) C[a * p + c] /= (W - 1);
    benchmark::DoNotOptimize(C.data());
  }
  state.counters["ns/element"] =
      benchmark::Counter(static_cast<double>(p) * n * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Baseline: one rank-k update over data that is already centred (the cost of the products alone).
// Arguments: p, n, threads. One thread runs the update inside a one-thread region of the core's
// services, which holds OpenBLAS to one thread; otherwise OpenBLAS uses its own threads (as many as
// the machine has cores).
void BM_dsyrk_centred(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
  const ThreadingServices* one_thread = zok::core::threads_up_to(1);
  std::vector<double> x = make_data(p, n);  // rows storage: variable j contiguous = column-major n x p
  for (int j = 0; j < p; ++j) {
    double s = 0;
    for (int i = 0; i < n; ++i) s += x[j * n + i];
    for (int i = 0; i < n; ++i) x[j * n + i] -= s / n;
  }
  std::vector<double> C(p * p);
  struct Update {
    const double* x;
    double* C;
    int p, n;
  } u{x.data(), C.data(), p, n};
  auto update = [](int64_t, int, int, void* c) {
    auto* a = static_cast<Update*>(c);
    const double one = 1, zero = 0;
    zok_blas_dsyrk("L", "T", &a->p, &a->n, &one, a->x, &a->n, &zero, a->C, &a->p);
  };
  for (auto _ : state) {
    if (state.range(2) == 1)
      one_thread->parallel_run(1, &u, update);
    else
      update(0, 0, 1, &u);
    benchmark::DoNotOptimize(C.data());
  }
  state.counters["ns/element"] =
      benchmark::Counter(static_cast<double>(p) * n * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// zok: covariance alone (with the mean it depends on). Arguments: p, n, threads.
void BM_zok_cov(benchmark::State& state) {
  int32_t p = static_cast<int32_t>(state.range(0)), n = static_cast<int32_t>(state.range(1));
  int32_t storage = ZOK_SS_STORAGE_ROWS, full = 0;
  const ThreadingServices* s = zok::core::threads_up_to(static_cast<int>(state.range(2)));
  const std::vector<double> x = make_data(p, n);
  std::vector<double> mean(p), cov(p * p);
  SSTask* task = nullptr;
  __qordSSNewTask(&task, &p, &n, &storage, x.data(), nullptr, nullptr, 0);
  __qordSSEditCovCor(task, mean.data(), cov.data(), &full, nullptr, nullptr);
  for (auto _ : state) {
    if (_qordSSBasic(task, ZOK_SS_MEAN | ZOK_SS_COV, ZOK_SS_METHOD_ONEPASS, s) != 0)
      state.SkipWithError("status");
    benchmark::DoNotOptimize(cov.data());
  }
  __qorSSDeleteTask(&task);
  state.counters["ns/element"] =
      benchmark::Counter(static_cast<double>(p) * n * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// ---- order statistics ----
void per_element(benchmark::State& state, double elements) {
  state.counters["ns/element"] =
      benchmark::Counter(elements * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
std::vector<double> normal_data(int64_t n) {
  std::mt19937_64 gen(7);
  std::normal_distribution<double> normal;
  std::vector<double> x(n);
  for (auto& v : x) v = normal(gen);
  return x;
}
const std::vector<double> kOrders = {0.05, 0.25, 0.5, 0.75, 0.95};

// A one-variable task over x in rows storage, with 64-bit integers.
struct OneVariable {
  int64_t p = 1, n, storage = ZOK_SS_STORAGE_ROWS, count = 5;
  SSTask* task = nullptr;
  explicit OneVariable(const std::vector<double>& x) : n(static_cast<int64_t>(x.size())) {
    __qordSSNewTask(&task, &p, &n, &storage, x.data(), nullptr, nullptr, 1);
  }
  ~OneVariable() { __qorSSDeleteTask(&task); }
};

// zok: five quantiles by selection, one variable, one thread. Argument: n.
void BM_zok_quantiles(benchmark::State& state) {
  const std::vector<double> x = normal_data(state.range(0));
  OneVariable t(x);
  std::vector<double> q(5);
  __qordSSEditQuantiles(t.task, &t.count, kOrders.data(), q.data(), nullptr, nullptr);
  const ThreadingServices* one = zok::core::threads_up_to(1);
  for (auto _ : state) {
    if (_qordSSQuantiles(t.task, ZOK_SS_QUANTILES, ZOK_SS_METHOD_EXACT, one) != 0)
      state.SkipWithError("status");
    benchmark::DoNotOptimize(q.data());
  }
  per_element(state, static_cast<double>(x.size()));
}

// Baseline: a copy, then std::nth_element on the middle wanted rank, recursing on both sides with the
// ranks that fall there (the ranks k and k + 1 of every order, as type 7 needs).
void multi_select(double* first, double* last, const int64_t* r0, const int64_t* r1, int64_t offset) {
  if (r0 == r1) return;
  const int64_t* mid = r0 + (r1 - r0) / 2;
  double* nth = first + (*mid - offset);
  std::nth_element(first, nth, last);
  multi_select(first, nth, r0, mid, offset);
  multi_select(nth + 1, last, mid + 1, r1, *mid + 1);
}
void BM_nth_element_multi(benchmark::State& state) {
  const std::vector<double> x = normal_data(state.range(0));
  const int64_t n = static_cast<int64_t>(x.size());
  std::vector<int64_t> ranks;
  for (double q : kOrders) {
    const int64_t k = static_cast<int64_t>(q * static_cast<double>(n - 1));
    ranks.push_back(k);
    ranks.push_back(std::min(k + 1, n - 1));
  }
  std::sort(ranks.begin(), ranks.end());
  ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
  std::vector<double> buf(n), q(5);
  for (auto _ : state) {
    std::copy(x.begin(), x.end(), buf.begin());
    multi_select(buf.data(), buf.data() + n, ranks.data(), ranks.data() + ranks.size(), 0);
    for (size_t i = 0; i < kOrders.size(); ++i) {
      const double pos = kOrders[i] * static_cast<double>(n - 1);
      const int64_t k = static_cast<int64_t>(pos);
      const double f = pos - static_cast<double>(k);
      q[i] = (1 - f) * buf[k] + f * buf[std::min(k + 1, n - 1)];
    }
    benchmark::DoNotOptimize(q.data());
  }
  per_element(state, static_cast<double>(n));
}

// zok: sorted copy of one variable. Argument: n.
void BM_zok_sort(benchmark::State& state) {
  const std::vector<double> x = normal_data(state.range(0));
  OneVariable t(x);
  std::vector<double> out(x.size());
  __qordSSEditTask(t.task, ZOK_SS_ID_SORTED, out.data());
  __qoriSSEditTask(t.task, ZOK_SS_ID_SORTED_STORAGE, &t.storage);
  const ThreadingServices* one = zok::core::threads_up_to(1);
  for (auto _ : state) {
    if (_qordSSSort(t.task, 0, ZOK_SS_METHOD_SORT, one) != 0) state.SkipWithError("status");
    benchmark::DoNotOptimize(out.data());
  }
  per_element(state, static_cast<double>(x.size()));
}

void BM_std_sort(benchmark::State& state) {
  const std::vector<double> x = normal_data(state.range(0));
  std::vector<double> out(x.size());
  for (auto _ : state) {
    std::copy(x.begin(), x.end(), out.begin());
    std::sort(out.begin(), out.end());
    benchmark::DoNotOptimize(out.data());
  }
  per_element(state, static_cast<double>(x.size()));
}

// zok: stream quantiles of n values in portions of 10^4, answering once at the end. Arguments: n,
// 1/epsilon.
void BM_zok_stream_quantiles(benchmark::State& state) {
  const std::vector<double> x = normal_data(state.range(0));
  int64_t p = 1, n = 10000, storage = ZOK_SS_STORAGE_ROWS, count = 5, params = 1;
  const double eps = 1.0 / static_cast<double>(state.range(1));
  std::vector<double> q(5);
  const ThreadingServices* one = zok::core::threads_up_to(1);
  for (auto _ : state) {
    SSTask* task = nullptr;
    __qordSSNewTask(&task, &p, &n, &storage, x.data(), nullptr, nullptr, 1);
    __qordSSEditStreamQuantiles(task, &count, kOrders.data(), q.data(), &params, &eps);
    const int64_t total = static_cast<int64_t>(x.size());
    for (int64_t at = 0; at < total; at += n) {
      __qordSSEditTask(task, ZOK_SS_ID_X, x.data() + at);
      const uint64_t method = at + n >= total ? ZOK_SS_METHOD_STREAM : ZOK_SS_METHOD_STREAM_UPDATE;
      if (_qordSSStreamQuantiles(task, 0, method, one) != 0) state.SkipWithError("status");
    }
    __qorSSDeleteTask(&task);
    benchmark::DoNotOptimize(q.data());
  }
  per_element(state, static_cast<double>(x.size()));
}

// zok: median absolute deviation and mean absolute deviation of one variable. Argument: n.
void BM_zok_mad(benchmark::State& state) {
  const std::vector<double> x = normal_data(state.range(0));
  OneVariable t(x);
  double mad = 0, meanad = 0;
  __qordSSEditTask(t.task, ZOK_SS_ID_MEDIAN_ABS_DEV, &mad);
  __qordSSEditTask(t.task, ZOK_SS_ID_MEAN_ABS_DEV, &meanad);
  const ThreadingServices* one = zok::core::threads_up_to(1);
  const uint64_t which = state.range(1) ? ZOK_SS_MEDIAN_ABS_DEV : ZOK_SS_MEAN_ABS_DEV;
  for (auto _ : state) {
    if (_qordSSMAD(t.task, which, ZOK_SS_METHOD_EXACT, one) != 0) state.SkipWithError("status");
    benchmark::DoNotOptimize(mad);
  }
  per_element(state, static_cast<double>(x.size()));
}

BENCHMARK(BM_zok_quantiles)->ArgNames({"n"})->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_nth_element_multi)->ArgNames({"n"})->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_zok_sort)->ArgNames({"n"})->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_std_sort)->ArgNames({"n"})->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_zok_stream_quantiles)
    ->ArgNames({"n", "inv_eps"})
    ->Args({1000000, 100})
    ->Args({1000000, 1000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_zok_mad)
    ->ArgNames({"n", "median"})
    ->Args({10000000, 1})
    ->Args({10000000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(BM_zok_mean_var_cov)
    ->ArgNames({"p", "n", "cols", "threads"})
    ->Args({10, 1000000, 0, 1})
    ->Args({10, 1000000, 1, 1})
    ->Args({10, 1000000, 0, 2})
    ->Args({10, 1000000, 1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_welford_chan)
    ->ArgNames({"p", "n", "cols"})
    ->Args({10, 1000000, 0})
    ->Args({10, 1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// The CPU column of these two is the whole process's CPU time (every thread's, BLAS's own included),
// the measure that stays meaningful on a loaded machine.
BENCHMARK(BM_zok_cov)
    ->ArgNames({"p", "n", "threads"})
    ->Args({100, 100000, 1})
    ->Args({100, 100000, 2})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_dsyrk_centred)
    ->ArgNames({"p", "n", "threads"})
    ->Args({100, 100000, 1})
    ->Args({100, 100000, 2})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// ---- derived covariance estimates (p = 100, n = 1e5) ----
// A positive definite p x p covariance of p + 20 observations.
std::vector<double> make_cov(int p) {
  const std::vector<double> a = make_data(p, p + 20);
  std::vector<double> c(p * p);
  const int m = p + 20;
  const double one = 1.0 / m, zero = 0;
  zok_blas_dgemm("N", "T", &p, &p, &m, &one, a.data(), &p, a.data(), &p, &zero, c.data(), &p);
  return c;
}

// zok: partial covariance of the first half of the variables given the second half.
void BM_zok_partial(benchmark::State& state) {
  int64_t p = state.range(0), full = 0;
  const std::vector<double> cov = make_cov(static_cast<int>(p));
  std::vector<int64_t> sel(p);
  for (int64_t j = 0; j < p; ++j) sel[j] = j < p / 2 ? 1 : -1;
  std::vector<double> out((p / 2) * (p / 2));
  SSTask* task = nullptr;
  __qordSSNewTask(&task, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 1);
  __qordSSEditPartialCovCor(task, sel.data(), cov.data(), &full, nullptr, nullptr, out.data(), &full, nullptr,
                            nullptr);
  for (auto _ : state) {
    if (_qordSSPartialCovariance(task, ZOK_SS_PARTIAL_COV, ZOK_SS_METHOD_PARTIAL) != 0)
      state.SkipWithError("status");
    benchmark::DoNotOptimize(out.data());
  }
  __qorSSDeleteTask(&task);
}

// Baseline: the blocks gathered, Cholesky inverse, two products.
void BM_partial_direct(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0)), h = p / 2;
  const std::vector<double> cov = make_cov(p);
  std::vector<double> zz(h * h), zy(h * h), m(h * h), yy(h * h);
  const double one = 1, zero = 0, minus = -1;
  int info = 0;
  for (auto _ : state) {
    for (int a = 0; a < h; ++a)
      for (int b = 0; b < h; ++b) {
        zz[a * h + b] = cov[(h + a) * p + h + b];
        zy[a * h + b] = cov[(h + b) * p + a];
        yy[a * h + b] = cov[a * p + b];
      }
    zok_lapack_dpotrf("U", &h, zz.data(), &h, &info);
    zok_lapack_dpotri("U", &h, zz.data(), &h, &info);
    for (int j = 0; j < h; ++j)
      for (int i = j + 1; i < h; ++i) zz[j * h + i] = zz[i * h + j];
    zok_blas_dgemm("N", "N", &h, &h, &h, &one, zz.data(), &h, zy.data(), &h, &zero, m.data(), &h);
    zok_blas_dgemm("T", "N", &h, &h, &h, &minus, zy.data(), &h, m.data(), &h, &one, yy.data(), &h);
    benchmark::DoNotOptimize(yy.data());
  }
}

constexpr int64_t kGroups = 10;

// zok: pooled and group means and covariances of 10 groups (observation i in group i*7 % 10).
// Arguments: p, n, threads.
void BM_zok_pooled(benchmark::State& state) {
  int64_t p = state.range(0), n = state.range(1), storage = ZOK_SS_STORAGE_ROWS, full = 0;
  const ThreadingServices* s = zok::core::threads_up_to(static_cast<int>(state.range(2)));
  const std::vector<double> x = make_data(p, n);
  std::vector<int64_t> groups(n), sel(kGroups, 1);
  for (int64_t i = 0; i < n; ++i) groups[i] = i * 7 % kGroups;
  std::vector<double> pm(p), pc(p * p), gm(kGroups * p), gc(kGroups * p * p);
  SSTask* task = nullptr;
  __qordSSNewTask(&task, &p, &n, &storage, x.data(), nullptr, nullptr, 1);
  __qordSSEditPooledCovariance(task, groups.data(), pm.data(), pc.data(), sel.data(), gm.data(), gc.data());
  __qoriSSEditTask(task, ZOK_SS_ID_POOLED_COV_STORAGE, &full);
  __qoriSSEditTask(task, ZOK_SS_ID_GROUP_COV_STORAGE, &full);
  const uint64_t all = ZOK_SS_POOLED_COV | ZOK_SS_POOLED_MEAN | ZOK_SS_GROUP_COV | ZOK_SS_GROUP_MEAN;
  for (auto _ : state) {
    if (_qordSSPooledCovariance(task, all, ZOK_SS_METHOD_POOLED, s) != 0) state.SkipWithError("status");
    benchmark::DoNotOptimize(gc.data());
  }
  __qorSSDeleteTask(&task);
}

// Baseline: each group gathered, its mean taken, centred and multiplied by one rank-k update.
void BM_pooled_direct(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
  const std::vector<double> x = make_data(p, n);
  std::vector<double> z(n * p), mean(kGroups * p), gc(kGroups * p * p);
  const double one = 1, zero = 0;
  for (auto _ : state) {
    for (int64_t g = 0; g < kGroups; ++g) {
      int ng = 0;
      for (int i = static_cast<int>(g * 3 % kGroups); i < n; i += kGroups) ++ng;  // i*7 % 10 == g
      const int first = static_cast<int>((g * 3) % kGroups);
      for (int j = 0; j < p; ++j) {
        double* col = z.data() + static_cast<int64_t>(j) * ng;
        double sum = 0;
        for (int i = first, r = 0; i < n; i += kGroups, ++r)
          sum += col[r] = x[static_cast<int64_t>(j) * n + i];
        const double m = mean[g * p + j] = sum / ng;
        for (int r = 0; r < ng; ++r) col[r] -= m;
      }
      zok_blas_dsyrk("L", "T", &p, &ng, &one, z.data(), &ng, &zero, gc.data() + g * p * p, &p);
    }
    benchmark::DoNotOptimize(gc.data());
  }
}

// zok: distances of every observation (columns storage) under a full inverse covariance.
void BM_zok_mahalanobis(benchmark::State& state) {
  int64_t p = state.range(0), n = state.range(1), storage = ZOK_SS_STORAGE_COLUMNS;
  const std::vector<double> x = make_data(p, n), s = make_cov(static_cast<int>(p));
  std::vector<double> mean(p, 10.0), d(n);
  SSTask* task = nullptr;
  __qordSSNewTask(&task, &p, &n, &storage, x.data(), nullptr, nullptr, 1);
  task->work_mean = mean.data();
  task->work_cov = s.data();
  task->work_first = 0;
  task->work_last = n;
  task->work_out = d.data();
  for (auto _ : state) {
    if (_qordSSMahDistance(task, 0, 0, nullptr) != 0) state.SkipWithError("status");
    benchmark::DoNotOptimize(d.data());
  }
  __qorSSDeleteTask(&task);
}

// Baseline: blocks of 1024 observations centred, one symmetric product, row dots.
void BM_mahalanobis_direct(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
  const std::vector<double> x = make_data(p, n), s = make_cov(p);
  constexpr int kRows = 1024;
  std::vector<double> z(kRows * p), y(kRows * p), d(n);
  const double one = 1, zero = 0;
  for (auto _ : state) {
    for (int b = 0; b < n; b += kRows) {
      const int nb = std::min(kRows, n - b);
      for (int64_t i = 0; i < static_cast<int64_t>(nb) * p; ++i)
        z[i] = x[static_cast<int64_t>(b) * p + i] - 10.0;
      zok_blas_xdsymm("L", "U", &p, &nb, &one, s.data(), &p, z.data(), &p, &zero, y.data(), &p);
      for (int r = 0; r < nb; ++r) {
        double dot = 0;
        for (int j = 0; j < p; ++j) dot += z[r * p + j] * y[r * p + j];
        d[b + r] = std::sqrt(dot);
      }
    }
    benchmark::DoNotOptimize(d.data());
  }
}

}  // namespace

// Derived estimates beside their direct BLAS/LAPACK baselines, alternating in one run.
BENCHMARK(BM_zok_partial)->ArgNames({"p"})->Arg(100)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_partial_direct)->ArgNames({"p"})->Arg(100)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_zok_pooled)
    ->ArgNames({"p", "n", "threads"})
    ->Args({100, 100000, 1})
    ->Args({100, 100000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_pooled_direct)
    ->ArgNames({"p", "n"})
    ->Args({100, 100000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_zok_mahalanobis)
    ->ArgNames({"p", "n"})
    ->Args({100, 100000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_mahalanobis_direct)
    ->ArgNames({"p", "n"})
    ->Args({100, 100000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ---- robust estimation (p = 10, n = 1e5, 10% of the rows a cluster 9 standard deviations out) ----
struct Planted {
  int64_t p, n, storage = ZOK_SS_STORAGE_ROWS, full = 0, count = 4;
  std::vector<double> x, mean, cov, weights, params = {0, 0.001, 0.001, 100};
  SSTask* task = nullptr;
  Planted(int64_t p_, int64_t n_) : p(p_), n(n_), x(make_data(p_, n_)), mean(p_), cov(p_ * p_), weights(n_) {
    for (int64_t i = 0; i < n; i += 10)
      for (int64_t j = 0; j < p; ++j) x[j * n + i] += 18.0 / std::sqrt(double(p));
    params[0] = (n - p) / (2.0 * n);
    __qordSSNewTask(&task, &p, &n, &storage, x.data(), nullptr, nullptr, 1);
    __qordSSEditRCov(task, &full, &count, params.data(), mean.data(), cov.data());
    __qordSSEditOutDetect(task, nullptr, nullptr, weights.data());
  }
  ~Planted() { __qorSSDeleteTask(&task); }
  int32_t robust(const ThreadingServices* threads) {
    return _qordSSRobustCovariance(task, 0, ZOK_SS_METHOD_ROBUST_COV, threads);
  }
};

// zok: robust mean and covariance. Arguments: p, n, threads. Counter: iterations to convergence,
// found as the smallest limit that gives the unlimited result.
void BM_zok_robust_cov(benchmark::State& state) {
  Planted d(state.range(0), state.range(1));
  const ThreadingServices* threads = zok::core::threads_up_to(static_cast<int>(state.range(2)));
  d.robust(threads);
  const std::vector<double> converged = d.cov;
  int iterations = 0;
  for (int limit = 1; limit <= 100 && iterations == 0; ++limit) {
    d.params[3] = limit;
    d.robust(threads);
    if (d.cov == converged) iterations = limit;
  }
  d.params[3] = 100;
  for (auto _ : state) {
    if (d.robust(threads) != 0) state.SkipWithError("status");
    benchmark::DoNotOptimize(d.cov.data());
  }
  state.counters["iterations"] = iterations;
  state.counters["ns/observation"] = benchmark::Counter(
      double(d.n) * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// zok: outlier weights from the medians' start. Arguments: p, n, threads.
void BM_zok_outliers(benchmark::State& state) {
  Planted d(state.range(0), state.range(1));
  const ThreadingServices* threads = zok::core::threads_up_to(static_cast<int>(state.range(2)));
  for (auto _ : state) {
    if (_qordSSOutliersDetection(d.task, 0, ZOK_SS_METHOD_OUTLIERS, threads) != 0)
      state.SkipWithError("status");
    benchmark::DoNotOptimize(d.weights.data());
  }
  state.counters["ns/observation"] = benchmark::Counter(
      double(d.n) * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// zok: multiple imputation, 10% of the first variable missing, one imputation of 30 iterations
// (after EM). Arguments: p, n.
void BM_zok_impute(benchmark::State& state) {
  int64_t p = state.range(0), n = state.range(1), storage = ZOK_SS_STORAGE_ROWS, five = 5;
  std::vector<double> x = make_data(p, n);
  const int64_t missing = n / 10, records = 30 * p * (p + 3) / 2;
  for (int64_t i = 0; i < n; i += 10) x[i] = -std::numeric_limits<double>::quiet_NaN();
  const double params[5] = {50, 30, 0.001, 1, double(missing)};
  std::vector<double> values(missing), est(records);
  SSTask* task = nullptr;
  __qordSSNewTask(&task, &p, &n, &storage, x.data(), nullptr, nullptr, 1);
  __qordSSEditMissingVals(task, &five, params, nullptr, nullptr, nullptr, nullptr, &missing, values.data(),
                          &records, est.data());
  for (auto _ : state) {
    if (_qordSSMissingValues(task, 0, ZOK_SS_METHOD_MISSING) != 0) state.SkipWithError("status");
    benchmark::DoNotOptimize(values.data());
  }
  __qorSSDeleteTask(&task);
  state.counters["ns/observation"] = benchmark::Counter(
      double(n) * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// zok: the chi-square distribution function (argument 0) or quantile (1) over 1024 arguments with
// 1 to 100 degrees of freedom; ns per call.
void BM_zok_chi2(benchmark::State& state) {
  std::vector<double> k(1024), a(1024);
  std::mt19937_64 gen(3);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (size_t i = 0; i < k.size(); ++i) {
    k[i] = 1.0 + std::floor(100 * u(gen));
    a[i] = state.range(0) == 0 ? k[i] * (0.2 + 2 * u(gen)) : 0.001 + 0.998 * u(gen);
  }
  for (auto _ : state)
    for (size_t i = 0; i < k.size(); ++i)
      benchmark::DoNotOptimize(state.range(0) == 0 ? __qordChi2CDF(k[i], a[i]) : __qordChi2ICDF(k[i], a[i]));
  state.counters["ns/call"] = benchmark::Counter(double(k.size()) * state.iterations(),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_zok_robust_cov)
    ->ArgNames({"p", "n", "threads"})
    ->Args({10, 100000, 1})
    ->Args({10, 100000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_zok_outliers)
    ->ArgNames({"p", "n", "threads"})
    ->Args({10, 100000, 1})
    ->Args({10, 100000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_zok_impute)
    ->ArgNames({"p", "n"})
    ->Args({10, 100000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_zok_chi2)->ArgNames({"icdf"})->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
