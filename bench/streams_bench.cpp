// The built generators of include/zok/rng_generators.def: integer and double output per generator against,
// in the same run, straightforward one-element-at-a-time loops of the recurrences and std::minstd_rand,
// Random123's counter-based generators and a plain loop of the hardware instruction.
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench/random123_loops.h"
#include "streams/generators/block_isa.h"
#include "zok/random.h"

namespace {

struct Stream {
  StreamRecord* s = nullptr;
  explicit Stream(int32_t brng) {
    const uint32_t seeds[6] = {12345, 23456, 34567, 45678, 56789, 67890};
    __qorNewStreamEx(&s, brng, 6, seeds);
  }
  ~Stream() { __qorDeleteStream(&s); }
};

GeneratorProperties row(int32_t brng) {
  GeneratorProperties p{};
  __qorGetBrngProperties(brng, &p);
  return p;
}

void set_items(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void integers(benchmark::State& state, int32_t brng) {
  Stream s(brng);
  const GeneratorProperties p = row(brng);
  const auto n = static_cast<int32_t>(state.range(0));
  std::vector<uint32_t> r(static_cast<size_t>(n) * p.word_size / 4);
  for (auto _ : state) {
    p.generate_i(s.s, n, r.data());
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

void doubles(benchmark::State& state, int32_t brng) {
  Stream s(brng);
  const GeneratorProperties p = row(brng);
  const auto n = static_cast<int32_t>(state.range(0));
  std::vector<double> r(n);
  for (auto _ : state) {
    p.generate_d(s.s, n, r.data(), 0.0, 1.0);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

// The same outputs with the block paths held to SSE4.1 or AVX2.
void integers_held(benchmark::State& state, int32_t brng, zok::rng::BlockIsa isa) {
  zok::rng::set_block_isa(isa);
  integers(state, brng);
  zok::rng::set_block_isa(zok::rng::widest_block_isa());
}
void integers_sse41(benchmark::State& state, int32_t brng) {
  integers_held(state, brng, zok::rng::BlockIsa::kSse41);
}
void integers_avx2(benchmark::State& state, int32_t brng) {
  integers_held(state, brng, zok::rng::BlockIsa::kAvx2);
}

// One skip of s elements on a fresh stream (copied back before each): s = 1 and 2^63 + 1 land inside
// a block, which the skip computes; s = 2^63 lands on a block boundary and computes none.
void skip_ahead(benchmark::State& state, int32_t brng, uint64_t s) {
  Stream stream(brng), fresh(brng);
  for (auto _ : state) {
    __qorCopyStreamState(stream.s, fresh.s);
    __qorSkipAheadStream(stream.s, s);
    benchmark::ClobberMemory();
  }
}

// ---- baselines: the recurrences as one would first write them ----

void loop_mcg31m1(benchmark::State& state) {
  std::vector<uint32_t> r(state.range(0));
  uint64_t x = 12345;
  for (auto _ : state) {
    for (auto& v : r) {
      v = static_cast<uint32_t>(x);
      x = x * 1132489760u % 2147483647u;
    }
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

void loop_mcg59(benchmark::State& state) {
  std::vector<uint64_t> r(state.range(0));
  uint64_t x = 12345;
  for (auto _ : state) {
    for (auto& v : r) {
      v = x;
      x = (x * 302875106592253ull) & 0x7FFFFFFFFFFFFFFull;
    }
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

void loop_mrg32k3a(benchmark::State& state) {
  std::vector<uint32_t> r(state.range(0));
  const int64_t m1 = 4294967087, m2 = 4294944443;
  int64_t x0 = 12345, x1 = 23456, x2 = 34567, y0 = 45678, y1 = 56789, y2 = 67890;
  for (auto _ : state) {
    for (auto& v : r) {
      int64_t xn = (1403580 * x1 - 810728 * x0) % m1;
      if (xn < 0) xn += m1;
      int64_t yn = (527612 * y2 - 1370589 * y0) % m2;
      if (yn < 0) yn += m2;
      x0 = x1;
      x1 = x2;
      x2 = xn;
      y0 = y1;
      y1 = y2;
      y2 = yn;
      v = static_cast<uint32_t>(xn >= yn ? xn - yn : xn - yn + m1);
    }
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

void minstd(benchmark::State& state) {
  std::vector<uint32_t> r(state.range(0));
  std::minstd_rand g(12345);
  for (auto _ : state) {
    for (auto& v : r) v = static_cast<uint32_t>(g());
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

template <void (*Fill)(uint32_t*, int64_t, uint32_t*)>
void random123(benchmark::State& state) {
  std::vector<uint32_t> r(state.range(0));
  uint32_t counter = 0;
  for (auto _ : state) {
    Fill(r.data(), static_cast<int64_t>(r.size()), &counter);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

__attribute__((target("rdrnd"))) void rdrand32_loop(benchmark::State& state) {
  std::vector<uint32_t> r(state.range(0));
  for (auto _ : state) {
    for (auto& v : r) {
      unsigned x = 0;
      while (!_rdrand32_step(&x)) {
      }
      v = x;
    }
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(10000)->Arg(1000000);
}

// Every built generator of the list: integers (also with the block paths held to SSE4.1) and doubles.
#define ZOK_BENCH_BUILT(N)                                         \
  BENCHMARK_CAPTURE(integers, N, ZOK_RNG_##N)->Apply(sizes);       \
  BENCHMARK_CAPTURE(integers_sse41, N, ZOK_RNG_##N)->Apply(sizes); \
  BENCHMARK_CAPTURE(integers_avx2, N, ZOK_RNG_##N)->Apply(sizes);  \
  BENCHMARK_CAPTURE(doubles, N, ZOK_RNG_##N)->Apply(sizes);
#define ZOK_BENCH_NOT_BUILT(N)
#define ZOK_GENERATOR(N, label, state, seeds, zero, word, bits, members, status) ZOK_BENCH_##status(N)
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR

BENCHMARK(loop_mcg31m1)->Apply(sizes);
BENCHMARK(minstd)->Apply(sizes);
BENCHMARK(loop_mcg59)->Apply(sizes);
BENCHMARK(loop_mrg32k3a)->Apply(sizes);
BENCHMARK(random123<zok::baseline::random123_philox>)->Apply(sizes);
BENCHMARK(random123<zok::baseline::random123_ars5>)->Apply(sizes);
BENCHMARK(rdrand32_loop)->Apply(sizes);
// Skip-ahead costs one block evaluation, however far.
#define ZOK_BENCH_SKIPS(N)                                                 \
  BENCHMARK_CAPTURE(skip_ahead, N##_1, ZOK_RNG_##N, 1);                    \
  BENCHMARK_CAPTURE(skip_ahead, N##_2e63, ZOK_RNG_##N, uint64_t{1} << 63); \
  BENCHMARK_CAPTURE(skip_ahead, N##_2e63_plus_1, ZOK_RNG_##N, (uint64_t{1} << 63) + 1);
ZOK_BENCH_SKIPS(PHILOX4X32X10)
ZOK_BENCH_SKIPS(ARS5)

}  // namespace

BENCHMARK_MAIN();
