// Interpolation of a natural cubic spline at 1e6 random sites, on one thread and all, against GSL's
// spline evaluation with an accelerator and a std::upper_bound + Horner loop in the same run; values
// alone and with two derivatives, random and evenly spaced nodes, and one site per call.
#include <benchmark/benchmark.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_spline.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "bench/interp_baseline.h"
#include "core/thread_limit.h"
#include "zok/core_services.h"
#include "zok/data_fitting.h"

namespace {

constexpr int64_t kSites = 1000000;

// A natural cubic spline of sin(10x) on nx random (or evenly spaced) nodes in [0, 1], and random
// sites in the same range.
struct Data {
  int64_t nx;
  bool even;
  std::vector<double> x, y, c, s, ends{0.0, 1.0};
  DfTask* task = nullptr;
  Data(int64_t n, bool evenly) : nx(n), even(evenly), x(n), y(n), c(4 * (n - 1)), s(kSites) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int64_t j = 0; j < nx; ++j)
      x[j] = even ? static_cast<double>(j) / static_cast<double>(nx - 1) : u(rng);
    std::sort(x.begin(), x.end());
    x.front() = 0.0;
    x.back() = 1.0;
    for (int64_t j = 1; j < nx; ++j)
      if (!(x[j] > x[j - 1])) x[j] = std::nextafter(x[j - 1], 2.0);
    for (int64_t j = 0; j < nx; ++j) y[j] = std::sin(10.0 * x[j]);
    for (auto& v : s) v = u(rng);
    zok_df_kernel_dNewTask1D(&task, nx, even ? ends.data() : x.data(), even ? ZOK_DF_PARTITION_UNIFORM : 0, 1,
                             y.data(), ZOK_DF_VALUES_BY_ROWS, 0);
    zok_df_kernel_dEditPPSpline1D(task, 4, 0, 2, nullptr, 0, nullptr, c.data(), 0);
    zok_df_kernel_dDFNaturalCubicSpline1D(task, nullptr, 0, nullptr);
  }
  ~Data() { zok_df_kernel_DeleteTask(&task); }
};

Data& data(int64_t nx, bool even) {
  static Data* cache[4] = {};
  Data*& d = cache[(nx > 1000 ? 2 : 0) + (even ? 1 : 0)];
  if (d == nullptr) d = new Data(nx, even);
  return *d;
}

// range(0): nx; range(1): 1 for values and two derivatives; range(2): 0 one thread, 1 all threads.
void BM_Zok(benchmark::State& state, bool even) {
  Data& d = data(state.range(0), even);
  const int32_t dorder[3] = {1, 1, 1};
  const int64_t q = state.range(1) ? 3 : 1;
  std::vector<double> r(kSites * q);
  const ThreadingServices* ts =
      state.range(2) ? zok_serv_get_threading_services() : zok::core::threads_up_to(1);
  for (auto _ : state) {
    zok_df_kernel_dDFInterpolate1D(d.task, 0, 0, kSites, d.s.data(), 0, q, dorder, nullptr, r.data(), 16,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, ts);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSites);
}
void BM_ZokRandomNodes(benchmark::State& st) {
  BM_Zok(st, false);
}
void BM_ZokEvenNodes(benchmark::State& st) {
  BM_Zok(st, true);
}

void BM_Gsl(benchmark::State& state) {
  Data& d = data(state.range(0), false);
  gsl_set_error_handler_off();
  gsl_interp_accel* acc = gsl_interp_accel_alloc();
  gsl_spline* spline = gsl_spline_alloc(gsl_interp_cspline, d.nx);
  gsl_spline_init(spline, d.x.data(), d.y.data(), d.nx);
  const bool derivs = state.range(1) != 0;
  std::vector<double> r(kSites * 3);
  for (auto _ : state) {
    for (int64_t i = 0; i < kSites; ++i) {
      r[3 * i] = gsl_spline_eval(spline, d.s[i], acc);
      if (derivs) {
        r[3 * i + 1] = gsl_spline_eval_deriv(spline, d.s[i], acc);
        r[3 * i + 2] = gsl_spline_eval_deriv2(spline, d.s[i], acc);
      }
    }
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  gsl_spline_free(spline);
  gsl_interp_accel_free(acc);
  state.SetItemsProcessed(state.iterations() * kSites);
}

void BM_UpperBoundHorner(benchmark::State& state, bool even) {
  Data& d = data(state.range(0), even);
  std::vector<double> r(kSites);
  for (auto _ : state) {
    zok::bench::upper_bound_horner(d.nx, d.x.data(), d.c.data(), kSites, d.s.data(), r.data());
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSites);
}
void BM_UpperBoundRandomNodes(benchmark::State& st) {
  BM_UpperBoundHorner(st, false);
}
void BM_UpperBoundEvenNodes(benchmark::State& st) {
  BM_UpperBoundHorner(st, true);
}

// One site per call: the path without blocks.
void BM_ZokOneSite(benchmark::State& state) {
  Data& d = data(state.range(0), false);
  int64_t i = 0;
  double r;
  for (auto _ : state) {
    zok_df_kernel_dDFInterpolate1D(d.task, 0, 0, 1, &d.s[i], 0, 0, nullptr, nullptr, &r, 0, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    benchmark::DoNotOptimize(r);
    i = i + 1 < kSites ? i + 1 : 0;
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_ZokRandomNodes)
    ->Args({1000000, 0, 0})
    ->Args({1000000, 0, 1})
    ->Args({1000000, 1, 0})
    ->Args({1000000, 1, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gsl)->Args({1000000, 0})->Args({1000000, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpperBoundRandomNodes)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZokEvenNodes)
    ->Args({1000, 0, 0})
    ->Args({1000000, 0, 0})
    ->Args({1000000, 0, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpperBoundEvenNodes)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZokOneSite)->Arg(1000)->Arg(1000000);

BENCHMARK_MAIN();
