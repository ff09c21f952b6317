// Per-call costs of the frame: reading the mode word and taking a lock word, against the nearest
// standard facilities (a thread_local read, std::mutex) measured in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <mutex>

#include "zok/core_services.h"
#include "zok/vector_math.h"

static void BM_GetMode(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(_yubGetMode());
}
BENCHMARK(BM_GetMode);

static void BM_ThreadLocalBaseline(benchmark::State& state) {
  static thread_local unsigned mode = 0x1A02;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&mode);
    benchmark::DoNotOptimize(mode);
  }
}
BENCHMARK(BM_ThreadLocalBaseline);

static void BM_LockWord(benchmark::State& state) {
  int word = 0;
  for (auto _ : state) {
    zok_serv_lock(&word);
    zok_serv_unlock(&word);
  }
}
BENCHMARK(BM_LockWord);

static void BM_StdMutexBaseline(benchmark::State& state) {
  std::mutex m;
  for (auto _ : state) {
    m.lock();
    m.unlock();
  }
}
BENCHMARK(BM_StdMutexBaseline);

static void BM_Allocate(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* p = zok_serv_allocate(n, 128);
    benchmark::DoNotOptimize(p);
    zok_serv_deallocate(p);
  }
}
BENCHMARK(BM_Allocate)->Arg(64)->Arg(1 << 16);

static void BM_MallocBaseline(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* p = std::malloc(n);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}
BENCHMARK(BM_MallocBaseline)->Arg(64)->Arg(1 << 16);

BENCHMARK_MAIN();
