// Basic-statistics benchmarks with same-run baselines: mean, variance and covariance against a blocked
// Welford-Chan loop, and a large covariance against one rank-k update of centred data.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "core/thread_limit.h"
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
void BM_dsyrk_centred(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
  std::vector<double> x = make_data(p, n);  // rows storage: variable j contiguous = column-major n x p
  for (int j = 0; j < p; ++j) {
    double s = 0;
    for (int i = 0; i < n; ++i) s += x[j * n + i];
    for (int i = 0; i < n; ++i) x[j * n + i] -= s / n;
  }
  std::vector<double> C(p * p);
  const double one = 1, zero = 0;
  for (auto _ : state) {
    zok_blas_dsyrk("L", "T", &p, &n, &one, x.data(), &n, &zero, C.data(), &p);
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
BENCHMARK(BM_zok_cov)
    ->ArgNames({"p", "n", "threads"})
    ->Args({100, 100000, 1})
    ->Args({100, 100000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_dsyrk_centred)
    ->ArgNames({"p", "n"})
    ->Args({100, 100000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
