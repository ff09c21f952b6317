// Cell search of 1e6 sites through a task, one thread, against std::upper_bound on the same nodes
// and sites in the same run: hybrid on non-uniform partitions, uniform, and sorted sites.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/thread_limit.h"
#include "zok/core_services.h"
#include "zok/data_fitting.h"

namespace {

constexpr int64_t kSites = 1000000;

enum Layout { kRandomNodes = 0, kGradedNodes = 1, kEvenNodes = 2 };

// Random nodes (sorted uniform draws), nodes crowded towards one end (cubic), or evenly spaced ones.
std::vector<double> nodes(int64_t nx, Layout layout) {
  std::vector<double> x(nx);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int64_t j = 0; j < nx; ++j) {
    const double s = static_cast<double>(j) / static_cast<double>(nx - 1);
    x[j] = layout == kRandomNodes ? u(rng) : layout == kGradedNodes ? s * s * s : s;
  }
  std::sort(x.begin(), x.end());
  x.front() = 0.0;
  x.back() = 1.0;
  for (int64_t j = 1; j < nx; ++j)
    if (!(x[j] > x[j - 1])) x[j] = std::nextafter(x[j - 1], 2.0);
  return x;
}

std::vector<double> sites(bool sorted) {
  std::vector<double> s(kSites);
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (auto& v : s) v = u(rng);
  if (sorted) std::sort(s.begin(), s.end());
  return s;
}

void search_with_task(benchmark::State& state, Layout layout, bool sorted) {
  const int64_t nx = state.range(0);
  const auto x = nodes(nx, layout);
  const auto s = sites(sorted);
  std::vector<int32_t> cells(kSites);
  DfTask* task = nullptr;
  const bool uniform = layout == kEvenNodes;
  const double ends[2] = {0.0, 1.0};
  zok_df_kernel_dNewTask1D(&task, nx, uniform ? ends : x.data(), uniform ? ZOK_DF_PARTITION_UNIFORM : 0, 0,
                           nullptr, 0, 0);
  for (auto _ : state) {
    zok_df_kernel_dDFSearch1D(task, 0, kSites, s.data(), sorted ? ZOK_DF_SITES_SORTED : 0, nullptr,
                              cells.data(), nullptr, nullptr, zok::core::threads_up_to(1));
    benchmark::DoNotOptimize(cells.data());
    benchmark::ClobberMemory();
  }
  zok_df_kernel_DeleteTask(&task);
  state.SetItemsProcessed(state.iterations() * kSites);
}

void upper_bound_baseline(benchmark::State& state, Layout layout, bool sorted) {
  const int64_t nx = state.range(0);
  const auto x = nodes(nx, layout);
  const auto s = sites(sorted);
  std::vector<int32_t> cells(kSites);
  for (auto _ : state) {
    for (int64_t i = 0; i < kSites; ++i)
      cells[i] = static_cast<int32_t>(std::upper_bound(x.begin(), x.end(), s[i]) - x.begin());
    benchmark::DoNotOptimize(cells.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSites);
}

void BM_HybridRandomNodes(benchmark::State& st) {
  search_with_task(st, kRandomNodes, false);
}
void BM_UpperBoundRandomNodes(benchmark::State& st) {
  upper_bound_baseline(st, kRandomNodes, false);
}
void BM_HybridGradedNodes(benchmark::State& st) {
  search_with_task(st, kGradedNodes, false);
}
void BM_UpperBoundGradedNodes(benchmark::State& st) {
  upper_bound_baseline(st, kGradedNodes, false);
}
void BM_Uniform(benchmark::State& st) {
  search_with_task(st, kEvenNodes, false);
}
void BM_UpperBoundEvenNodes(benchmark::State& st) {
  upper_bound_baseline(st, kEvenNodes, false);
}
void BM_SortedSites(benchmark::State& st) {
  search_with_task(st, kRandomNodes, true);
}
void BM_UpperBoundSortedSites(benchmark::State& st) {
  upper_bound_baseline(st, kRandomNodes, true);
}

}  // namespace

BENCHMARK(BM_HybridRandomNodes)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpperBoundRandomNodes)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HybridGradedNodes)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpperBoundGradedNodes)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Uniform)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpperBoundEvenNodes)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortedSites)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpperBoundSortedSites)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
