// Abstract streams: a million doubles through a 4096-place buffer whose callback copies from a
// prepared array, against the two plain copies of the same bytes that no buffering can avoid (the
// callback's into the buffer, and the buffer's into the output); and the Gaussian by the inverse
// distribution function drawn from such a stream against the same draw from an MCG59 stream.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zok/random.h"

namespace {

constexpr int32_t kBuffer = 4096;

// The caller's numbers, handed out in order and from the start again.
struct Source {
  std::vector<double> numbers;
  size_t at = 0;
};
Source g_source;
// The caller's numbers are MCG59's doubles on [0, 1), so that a distribution drawn from them does
// the same work, branch for branch, as one drawn from an MCG59 stream.
void prepare(size_t n) {
  if (g_source.numbers.size() == n) return;
  g_source.numbers.resize(n);
  StreamRecord* s = nullptr;
  const uint32_t seed = 12345;
  if (__qorNewStreamEx(&s, ZOK_RNG_MCG59, 1, &seed) == 0)
    __qordBRngMCG59(s, static_cast<int32_t>(n), g_source.numbers.data(), 0.0, 1.0);
  __qorDeleteStream(&s);
  g_source.at = 0;
}

// Copies nmax numbers into the ring from idx on, in at most two runs.
int32_t refill(StreamRecord*, int32_t* n, double* buffer, int32_t*, int32_t* nmax, int32_t* idx) {
  Source& s = g_source;
  int32_t done = 0;
  while (done < *nmax) {
    const int32_t place = (*idx + done) % *n;
    size_t run = static_cast<size_t>(std::min(*nmax - done, *n - place));
    run = std::min(run, s.numbers.size() - s.at);
    std::memcpy(buffer + place, s.numbers.data() + s.at, run * sizeof(double));
    s.at = s.at + run == s.numbers.size() ? 0 : s.at + run;
    done += static_cast<int32_t>(run);
  }
  return done;
}

void abstract_doubles(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  prepare(static_cast<size_t>(n));
  std::vector<double> buffer(kBuffer), out(static_cast<size_t>(n));
  StreamRecord* s = nullptr;
  if (__qordNewAbstractStream(&s, kBuffer, buffer.data(), 0.0, 1.0, refill) != 0)
    state.SkipWithError("stream");
  for (auto _ : state) {
    if (__qordBRngdAbstract(s, n, out.data(), 2.0, 4.0) != 0) state.SkipWithError("draw");
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  __qorDeleteStream(&s);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}

// The baseline: the same bytes copied into the 4096-place buffer and out of it again.
void two_copies(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  prepare(n);
  const Source& src = g_source;
  std::vector<double> buffer(kBuffer), out(n);
  for (auto _ : state) {
    for (size_t done = 0; done < n; done += kBuffer) {
      const size_t run = std::min<size_t>(kBuffer, n - done);
      std::memcpy(buffer.data(), src.numbers.data() + done, run * sizeof(double));
      benchmark::ClobberMemory();
      std::memcpy(out.data() + done, buffer.data(), run * sizeof(double));
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

// Gaussian method 2 from a stream of `brng`, or from a double abstract stream when brng is 0.
void gaussian_icdf(benchmark::State& state, int32_t brng) {
  const auto n = static_cast<int32_t>(state.range(0));
  prepare(static_cast<size_t>(n));
  std::vector<double> buffer(kBuffer), out(static_cast<size_t>(n));
  StreamRecord* s = nullptr;
  const uint32_t seed = 12345;
  const int32_t made = brng == 0 ? __qordNewAbstractStream(&s, kBuffer, buffer.data(), 0.0, 1.0, refill)
                                 : __qorNewStreamEx(&s, brng, 1, &seed);
  if (made != 0) state.SkipWithError("stream");
  for (auto _ : state) {
    if (_qordRngGaussian(ZOK_RNG_GAUSSIAN_ICDF, s, n, out.data(), 0.0, 1.0) != 0) state.SkipWithError("draw");
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  __qorDeleteStream(&s);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}

BENCHMARK(abstract_doubles)->Arg(1000000);
BENCHMARK(two_copies)->Arg(1000000);
BENCHMARK_CAPTURE(gaussian_icdf, abstract, 0)->Arg(1000000);
BENCHMARK_CAPTURE(gaussian_icdf, MCG59, ZOK_RNG_MCG59)->Arg(1000000);

}  // namespace

BENCHMARK_MAIN();
