// Spline construction on 1e6 nodes against GSL's spline initialisation and a plain Thomas-algorithm
// build in the same run: natural cubic (free ends), Akima and linear, one and several functions.
#include <benchmark/benchmark.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_spline.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "bench/spline_baseline.h"
#include "core/thread_limit.h"
#include "zok/core_services.h"
#include "zok/data_fitting.h"

namespace {

// Random steps and smooth values with a little noise: ny functions by rows.
struct Data {
  std::vector<double> x, y, c;
  Data(int64_t nx, int64_t ny, int64_t order) : x(nx), y(nx * ny), c((nx - 1) * order * ny) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(0.5, 1.5);
    x[0] = 0;
    for (int64_t j = 1; j < nx; ++j) x[j] = x[j - 1] + u(rng) / static_cast<double>(nx);
    for (int64_t f = 0; f < ny; ++f)
      for (int64_t j = 0; j < nx; ++j)
        y[f * nx + j] = std::sin(20.0 * x[j] + static_cast<double>(f)) + 0.01 * u(rng);
  }
};

using Entry = int32_t (*)(const DfTask*, const void*, int32_t, const ThreadingServices*);

// bc_type 2 gives free ends to the natural cubic, 0 the Akima end rule; threads 0 means all.
void zok_build(benchmark::State& state, Entry entry, int64_t order, int64_t bc_type, int64_t ny,
               int threads) {
  const int64_t nx = state.range(0);
  Data d(nx, ny, order);
  DfTask* task = nullptr;
  zok_df_kernel_dNewTask1D(&task, nx, d.x.data(), 0, ny, d.y.data(), ZOK_DF_VALUES_BY_ROWS, 0);
  zok_df_kernel_dEditPPSpline1D(task, order, 0, bc_type, nullptr, 0, nullptr, d.c.data(), 0);
  const ThreadingServices* ts =
      threads > 0 ? zok::core::threads_up_to(threads) : zok_serv_get_threading_services();
  for (auto _ : state) {
    if (entry(task, nullptr, 0, ts) != 0) state.SkipWithError("construction failed");
    benchmark::DoNotOptimize(d.c.data());
  }
  zok_df_kernel_DeleteTask(&task);
  state.SetItemsProcessed(state.iterations() * nx * ny);
}

void gsl_build(benchmark::State& state, const gsl_interp_type* type) {
  const int64_t nx = state.range(0);
  Data d(nx, 1, 4);
  gsl_spline* spline = gsl_spline_alloc(type, nx);
  for (auto _ : state) {
    gsl_spline_init(spline, d.x.data(), d.y.data(), nx);
    benchmark::DoNotOptimize(spline);
  }
  gsl_spline_free(spline);
  state.SetItemsProcessed(state.iterations() * nx);
}

void thomas_build(benchmark::State& state) {
  const int64_t nx = state.range(0);
  Data d(nx, 1, 4);
  std::vector<double> work;
  for (auto _ : state) {
    zok::bench::thomas_natural_spline(nx, d.x.data(), d.y.data(), d.c.data(), work);
    benchmark::DoNotOptimize(d.c.data());
  }
  state.SetItemsProcessed(state.iterations() * nx);
}

constexpr int64_t kNodes = 1000000;
const auto kNatural = zok_df_kernel_dDFNaturalCubicSpline1D;
const auto kAkima = zok_df_kernel_dDFAkimaCubicSpline1D;
const auto kLinear = zok_df_kernel_dDFLinearSpline1D;

BENCHMARK_CAPTURE(zok_build, natural_1thread, kNatural, 4, 2, 1, 1)
    ->Arg(kNodes)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(gsl_build, cspline, gsl_interp_cspline)->Arg(kNodes)->Unit(benchmark::kMillisecond);
BENCHMARK(thomas_build)->Arg(kNodes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zok_build, natural_ny8_1thread, kNatural, 4, 2, 8, 1)
    ->Arg(kNodes)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zok_build, natural_ny8_all, kNatural, 4, 2, 8, 0)
    ->Arg(kNodes)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zok_build, akima_1thread, kAkima, 4, 0, 1, 1)->Arg(kNodes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zok_build, akima_all, kAkima, 4, 0, 1, 0)->Arg(kNodes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(gsl_build, akima, gsl_interp_akima)->Arg(kNodes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zok_build, linear_1thread, kLinear, 2, 0, 1, 1)->Arg(kNodes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zok_build, linear_all, kLinear, 2, 0, 1, 0)->Arg(kNodes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(gsl_build, linear, gsl_interp_linear)->Arg(kNodes)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
