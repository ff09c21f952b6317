// Distribution generators on an MCG59 stream against, in the same run: std::normal_distribution on
// std::mt19937, a 256-layer ziggurat on std::mt19937_64 written here, a std::mt19937·2^-32 uniform
// loop, and a plain multivariate loop (four normal_distribution draws, the triangle, the mean).
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "zok/random.h"

namespace {

struct Stream {
  StreamRecord* s = nullptr;
  Stream() {
    const uint32_t seed = 12345;
    __qorNewStreamEx(&s, ZOK_RNG_MCG59, 1, &seed);
  }
  ~Stream() { __qorDeleteStream(&s); }
};

void set_items(benchmark::State& state, int64_t per_iteration) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * per_iteration);
}

template <class T>
void gaussian(benchmark::State& state, int32_t method) {
  Stream s;
  const auto n = static_cast<int32_t>(state.range(0));
  std::vector<T> r(n);
  for (auto _ : state) {
    if constexpr (sizeof(T) == 8) {
      _qordRngGaussian(method, s.s, n, r.data(), 0.0, 1.0);
    } else {
      _qorsRngGaussian(method, s.s, n, r.data(), 0.0f, 1.0f);
    }
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state, n);
}

void gaussian_double(benchmark::State& state, int32_t method) {
  gaussian<double>(state, method);
}
void gaussian_float(benchmark::State& state, int32_t method) {
  gaussian<float>(state, method);
}

void std_normal(benchmark::State& state) {
  std::mt19937 engine(12345);
  std::normal_distribution<double> normal;
  const auto n = static_cast<size_t>(state.range(0));
  std::vector<double> r(n);
  for (auto _ : state) {
    for (double& x : r) x = normal(engine);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state, static_cast<int64_t>(n));
}

// The 256-layer ziggurat of Marsaglia and Tsang, in Doornik's form: one 64-bit draw gives the
// layer (low 8 bits) and a uniform on (-1, 1) (top 53 bits); the wedge and the tail are rejected.
class Ziggurat {
 public:
  Ziggurat() {
    x_[0] = kV / density(kR);
    x_[1] = kR;
    for (int i = 2; i < kLayers; ++i) x_[i] = std::sqrt(-2 * std::log(kV / x_[i - 1] + density(x_[i - 1])));
    x_[kLayers] = 0;
    for (int i = 0; i < kLayers; ++i) ratio_[i] = x_[i + 1] / x_[i];
  }
  double operator()(std::mt19937_64& engine) const {
    for (;;) {
      const uint64_t bits = engine();
      const int i = static_cast<int>(bits & 0xFF);
      const double u = 2 * ((bits >> 11) * 0x1p-53) - 1;
      if (std::fabs(u) < ratio_[i]) return u * x_[i];
      if (i == 0) return tail(engine, u < 0);
      const double x = u * x_[i];
      const double f0 = std::exp(-0.5 * (x_[i] * x_[i] - x * x));
      const double f1 = std::exp(-0.5 * (x_[i + 1] * x_[i + 1] - x * x));
      if (f1 + uniform(engine) * (f0 - f1) < 1.0) return x;
    }
  }

 private:
  static constexpr int kLayers = 256;
  static constexpr double kR = 3.6541528853610088;
  static constexpr double kV = 0.00492867323399;
  static double density(double x) { return std::exp(-0.5 * x * x); }
  static double uniform(std::mt19937_64& engine) { return ((engine() >> 11) + 0.5) * 0x1p-53; }
  static double tail(std::mt19937_64& engine, bool negative) {
    double x, y;
    do {
      x = std::log(uniform(engine)) / kR;
      y = std::log(uniform(engine));
    } while (-2 * y < x * x);
    return negative ? x - kR : kR - x;
  }
  std::array<double, kLayers + 1> x_;
  std::array<double, kLayers> ratio_;
};

void ziggurat(benchmark::State& state) {
  std::mt19937_64 engine(12345);
  const Ziggurat zig;
  const auto n = static_cast<size_t>(state.range(0));
  std::vector<double> r(n);
  for (auto _ : state) {
    for (double& x : r) x = zig(engine);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state, static_cast<int64_t>(n));
}

void uniform(benchmark::State& state) {
  Stream s;
  const auto n = static_cast<int32_t>(state.range(0));
  std::vector<double> r(n);
  for (auto _ : state) {
    _qordRngUniform(0, s.s, n, r.data(), 0.0, 1.0);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state, n);
}

void std_uniform(benchmark::State& state) {
  std::mt19937 engine(12345);
  const auto n = static_cast<size_t>(state.range(0));
  std::vector<double> r(n);
  for (auto _ : state) {
    for (double& x : r) x = engine() * 0x1p-32;
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state, static_cast<int64_t>(n));
}

// Dimension 4, the factor in full storage (lower triangle row by row); items are vectors.
constexpr int kDim = 4;
constexpr double kFactor[kDim * kDim] = {1.0,   0,    0,   0, 0.5, 2.0,  0,   0,
                                         -0.25, 0.75, 1.5, 0, 0.1, -0.2, 0.3, 0.8};
constexpr double kMean[kDim] = {1, -2, 0.5, 3};

void gaussian_mv(benchmark::State& state, int32_t method) {
  Stream s;
  const auto n = static_cast<int32_t>(state.range(0));
  std::vector<double> r(static_cast<size_t>(n) * kDim);
  for (auto _ : state) {
    _qordRngGaussianMV(method, s.s, n, r.data(), kDim, ZOK_RNG_MV_FULL, kMean, kFactor);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state, n);
}

void plain_mv(benchmark::State& state) {
  std::mt19937 engine(12345);
  std::normal_distribution<double> normal;
  const auto n = static_cast<size_t>(state.range(0));
  std::vector<double> r(n * kDim);
  for (auto _ : state) {
    for (size_t v = 0; v < n; ++v) {
      double z[kDim];
      for (double& x : z) x = normal(engine);
      for (int i = 0; i < kDim; ++i) {
        double x = kMean[i];
        for (int j = 0; j <= i; ++j) x += kFactor[i * kDim + j] * z[j];
        r[v * kDim + i] = x;
      }
    }
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state, static_cast<int64_t>(n));
}

#define SIZES Arg(1000)->Arg(1000000)
BENCHMARK(std_normal)->Name("normal/std_mt19937")->SIZES;
BENCHMARK(ziggurat)->Name("normal/ziggurat256_mt19937_64")->SIZES;
BENCHMARK_CAPTURE(gaussian_double, bm1, 0)->Name("normal/zok_method0")->SIZES;
BENCHMARK_CAPTURE(gaussian_double, bm2, 1)->Name("normal/zok_method1")->SIZES;
BENCHMARK_CAPTURE(gaussian_double, icdf, 2)->Name("normal/zok_method2")->SIZES;
BENCHMARK_CAPTURE(gaussian_float, bm2, 1)->Name("normal/zok_float_method1")->SIZES;
BENCHMARK_CAPTURE(gaussian_float, icdf, 2)->Name("normal/zok_float_method2")->SIZES;
BENCHMARK(std_uniform)->Name("uniform/std_mt19937")->SIZES;
BENCHMARK(uniform)->Name("uniform/zok_mcg59")->SIZES;
BENCHMARK(plain_mv)->Name("mvn4/plain_std_normal")->SIZES;
BENCHMARK_CAPTURE(gaussian_mv, bm2, 1)->Name("mvn4/zok_method1")->SIZES;
BENCHMARK_CAPTURE(gaussian_mv, icdf, 2)->Name("mvn4/zok_method2")->SIZES;

}  // namespace

BENCHMARK_MAIN();
