// The built generators of include/zok/rng_generators.def: integer and double output per generator against,
// in the same run, straightforward one-element-at-a-time loops of the recurrences, std::minstd_rand and
// std::mt19937, Random123's counter-based generators and a plain loop of the hardware instruction;
// skip-ahead times of the twisted registers; saving and loading an MT19937 image; SOBOL and
// NIEDERR points against a plain Gray-code loop.
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
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

// The quasi-random sequences end before point 2^32; a stream that reached its end starts afresh.
void restart_if_done(benchmark::State& state, int32_t status, Stream& s, int32_t brng) {
  if (status == 0) return;
  state.PauseTiming();
  __qorDeleteStream(&s.s);
  s = Stream(brng);
  state.ResumeTiming();
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
    restart_if_done(state, p.generate_i(s.s, n, r.data()), s, brng);
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
    restart_if_done(state, p.generate_d(s.s, n, r.data(), 0.0, 1.0), s, brng);
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

// A twisted register one word at a time: N words, middle distance M, `upper` bits of the older word.
template <int N, int M, uint32_t Upper, uint32_t A, int U, uint32_t B, uint32_t C>
void loop_twister(benchmark::State& state) {
  std::vector<uint32_t> r(state.range(0));
  uint32_t mt[N];
  for (int i = 0; i < N; ++i) mt[i] = 1812433253u * static_cast<uint32_t>(i) + 5489u;
  int i = 0;
  for (auto _ : state) {
    for (auto& v : r) {
      const uint32_t y = (mt[i] & Upper) | (mt[(i + 1) % N] & ~Upper);
      uint32_t x = mt[(i + M) % N] ^ (y >> 1) ^ (y & 1 ? A : 0);
      mt[i] = x;
      i = (i + 1) % N;
      x ^= x >> U;
      x ^= (x << 7) & B;
      x ^= (x << 15) & C;
      v = x ^ (x >> 18);
    }
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

// SFMT19937 one 128-bit word at a time, lane by lane.
void loop_sfmt19937(benchmark::State& state) {
  constexpr uint32_t kMask[4] = {0xDFFFFFEFu, 0xDDFECB7Fu, 0xBFFAFFFFu, 0xBFFFFFF6u};
  std::vector<uint32_t> r(state.range(0));
  uint32_t w[156][4];
  for (int i = 0; i < 624; ++i) w[i / 4][i % 4] = 1812433253u * static_cast<uint32_t>(i) + 1234u;
  int i = 0, lane = 4;
  for (auto _ : state) {
    for (auto& v : r) {
      if (lane == 4) {
        const uint32_t *a = w[i], *b = w[(i + 122) % 156], *c = w[(i + 154) % 156], *d = w[(i + 155) % 156];
        uint32_t x[4];
        for (int k = 0; k < 4; ++k) {
          const uint32_t a_shifted = (a[k] << 8) | (k > 0 ? a[k - 1] >> 24 : 0);
          const uint32_t c_shifted = (c[k] >> 8) | (k < 3 ? c[k + 1] << 24 : 0);
          x[k] = a[k] ^ a_shifted ^ ((b[k] >> 11) & kMask[k]) ^ c_shifted ^ (d[k] << 18);
        }
        for (int k = 0; k < 4; ++k) w[i][k] = x[k];
        lane = 0;
        i = (i + 1) % 156;
      }
      v = w[(i + 155) % 156][lane++];
    }
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

void std_mt19937(benchmark::State& state) {
  std::vector<uint32_t> r(state.range(0));
  std::mt19937 g(12345);
  for (auto _ : state) {
    for (auto& v : r) v = static_cast<uint32_t>(g());
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  set_items(state);
}

// One skip-ahead of s words per iteration (the stream moves on each time; the work does not depend
// on where it stands).
void skip(benchmark::State& state, int32_t brng, uint64_t s) {
  Stream st(brng);
  for (auto _ : state) benchmark::DoNotOptimize(__qorSkipAheadStream(st.s, s));
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
#define ZOK_BENCH_ABSTRACT(N)
#define ZOK_GENERATOR(N, label, state, seeds, zero, word, bits, members, status) ZOK_BENCH_##status(N)
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR

BENCHMARK(loop_mcg31m1)->Apply(sizes);
BENCHMARK(loop_twister<624, 397, 0x80000000u, 0x9908B0DFu, 11, 0x9D2C5680u, 0xEFC60000u>)
    ->Name("loop_mt19937")
    ->Apply(sizes);
BENCHMARK(loop_twister<69, 34, 0xFFFFFFE0u, 0xAF81055Fu, 12, 0xDD7EEF80u, 0xEFD78000u>)
    ->Name("loop_mt2203")
    ->Apply(sizes);
BENCHMARK(loop_sfmt19937)->Apply(sizes);
BENCHMARK(std_mt19937)->Apply(sizes);
// Far jumps, and the hand-over from Horner's rule to the window (MT19937 steps words, SFMT19937
// 128-bit words, four outputs each; both from a fresh stream's used-up block).
BENCHMARK_CAPTURE(skip, MT19937_2p40, ZOK_RNG_MT19937, uint64_t{1} << 40)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(skip, MT19937_2p64m1, ZOK_RNG_MT19937, ~uint64_t{0})->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(skip, MT19937_horner_19936, ZOK_RNG_MT19937, 624 + 19937)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(skip, MT19937_window_19937, ZOK_RNG_MT19937, 624 + 19938)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(skip, SFMT19937_2p40, ZOK_RNG_SFMT19937, uint64_t{1} << 40)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(skip, SFMT19937_2p64m1, ZOK_RNG_SFMT19937, ~uint64_t{0})->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(skip, SFMT19937_horner_19967, ZOK_RNG_SFMT19937, 4 * 19967)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(skip, SFMT19937_window_19968, ZOK_RNG_SFMT19937, 4 * 19968)->Unit(benchmark::kMicrosecond);
BENCHMARK(minstd)->Apply(sizes);
BENCHMARK(loop_mcg59)->Apply(sizes);
BENCHMARK(loop_mrg32k3a)->Apply(sizes);
BENCHMARK(random123<zok::baseline::random123_philox>)->Apply(sizes);
BENCHMARK(random123<zok::baseline::random123_ars5>)->Apply(sizes);
BENCHMARK(rdrand32_loop)->Apply(sizes);
// ---- quasi-random points ----

// A point at a time, as a one-point-per-call quasi-random generator works: the lowest zero bit of the
// point counter picks a row of direction numbers, each coordinate is XORed with it and scaled.
class GrayLoop {
 public:
  explicit GrayLoop(int32_t d) : d_(d), v_(32 * static_cast<size_t>(d)), x_(d) {
    std::mt19937 gen(3);
    for (uint32_t& w : v_) w = gen();
  }
  void next(double* out) {
    const uint32_t* row = &v_[static_cast<size_t>(__builtin_ctz(~count_++)) * d_];
    for (int32_t j = 0; j < d_; ++j) {
      x_[j] ^= row[j];
      out[j] = static_cast<double>(x_[j] >> 1) * 0x1p-31;
    }
  }
  void next(uint32_t* out) {
    const uint32_t* row = &v_[static_cast<size_t>(__builtin_ctz(~count_++)) * d_];
    for (int32_t j = 0; j < d_; ++j) out[j] = x_[j] ^= row[j];
  }
  void restart() {
    count_ = 0;
    std::fill(x_.begin(), x_.end(), 0);
  }

 private:
  int32_t d_;
  uint32_t count_ = 0;
  std::vector<uint32_t> v_, x_;
};

// n elements (range 0) of d-dimensional points (range 1).
template <class T>
void gray_loop(benchmark::State& state) {
  const auto d = static_cast<int32_t>(state.range(1));
  const int64_t points = state.range(0) / d;
  GrayLoop g(d);
  std::vector<T> r(points * d);
  for (auto _ : state) {
    g.restart();
    for (int64_t i = 0; i < points; ++i) g.next(&r[i * d]);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * points * d);
}

// The same through a stream of dimension d, restarted each time like the loop; range 2 is the thread
// limit (0: the machine's).
template <class T>
void quasi(benchmark::State& state, int32_t brng) {
  const auto d = static_cast<uint32_t>(state.range(1));
  const int64_t n = state.range(0) / d * d;
  if (state.range(2) > 0)
    setenv("ZOK_NUM_THREADS", std::to_string(state.range(2)).c_str(), 1);
  else
    unsetenv("ZOK_NUM_THREADS");
  StreamRecord* s = nullptr;
  __qorNewStreamEx(&s, brng, 1, &d);
  StreamRecord* fresh = nullptr;
  __qorCopyStream(&fresh, s);
  const GeneratorProperties p = row(brng);
  std::vector<T> r(n);
  for (auto _ : state) {
    __qorCopyStreamState(s, fresh);
    if constexpr (std::is_same_v<T, double>)
      p.generate_d(s, static_cast<int32_t>(n), r.data(), 0.0, 1.0);
    else
      p.generate_i(s, static_cast<int32_t>(n), r.data());
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
  __qorDeleteStream(&s);
  __qorDeleteStream(&fresh);
  unsetenv("ZOK_NUM_THREADS");
}

void quasi_doubles(benchmark::State& state, int32_t brng) {
  quasi<double>(state, brng);
}
void quasi_ints(benchmark::State& state, int32_t brng) {
  quasi<uint32_t>(state, brng);
}

void quasi_dims(benchmark::internal::Benchmark* b) {
  for (int64_t d : {1, 12, 40, 318}) b->Args({1000000, d, 1});
}
BENCHMARK(gray_loop<double>)->Apply(quasi_dims);
BENCHMARK(gray_loop<uint32_t>)->Apply(quasi_dims);
BENCHMARK_CAPTURE(quasi_doubles, SOBOL, ZOK_RNG_SOBOL)
    ->Args({1000000, 1, 1})
    ->Args({1000000, 12, 1})
    ->Args({1000000, 40, 1});
BENCHMARK_CAPTURE(quasi_ints, SOBOL, ZOK_RNG_SOBOL)
    ->Args({1000000, 1, 1})
    ->Args({1000000, 12, 1})
    ->Args({1000000, 40, 1});
BENCHMARK_CAPTURE(quasi_doubles, NIEDERR, ZOK_RNG_NIEDERR)->Apply(quasi_dims);
BENCHMARK_CAPTURE(quasi_ints, NIEDERR, ZOK_RNG_NIEDERR)->Apply(quasi_dims);
// NIEDERR over 318 dimensions, 1e7 elements, on 1, 2 and all threads.
BENCHMARK_CAPTURE(quasi_doubles, NIEDERR_threads, ZOK_RNG_NIEDERR)
    ->Args({10000000, 318, 1})
    ->Args({10000000, 318, 2})
    ->Args({10000000, 318, 0})
    ->UseRealTime();

// Skip-ahead costs one block evaluation, however far.
#define ZOK_BENCH_SKIPS(N)                                                 \
  BENCHMARK_CAPTURE(skip_ahead, N##_1, ZOK_RNG_##N, 1);                    \
  BENCHMARK_CAPTURE(skip_ahead, N##_2e63, ZOK_RNG_##N, uint64_t{1} << 63); \
  BENCHMARK_CAPTURE(skip_ahead, N##_2e63_plus_1, ZOK_RNG_##N, (uint64_t{1} << 63) + 1);
ZOK_BENCH_SKIPS(PHILOX4X32X10)
ZOK_BENCH_SKIPS(ARS5)

// An MT19937 image saved to and loaded from memory, beside copying the stream, which moves the same
// bytes through the same allocator.
void image_save(benchmark::State& state) {
  Stream st(ZOK_RNG_MT19937);
  std::vector<unsigned char> image(static_cast<size_t>(__qorGetStreamSize(st.s)));
  for (auto _ : state) benchmark::DoNotOptimize(__qorSaveStreamM(st.s, image.data()));
}
void image_load(benchmark::State& state) {
  Stream st(ZOK_RNG_MT19937);
  std::vector<unsigned char> image(static_cast<size_t>(__qorGetStreamSize(st.s)));
  __qorSaveStreamM(st.s, image.data());
  for (auto _ : state) {
    StreamRecord* s = nullptr;
    benchmark::DoNotOptimize(__qorLoadStreamMEx(&s, image.data(), image.size()));
    __qorDeleteStream(&s);
  }
}
void copy_stream(benchmark::State& state) {
  Stream st(ZOK_RNG_MT19937);
  for (auto _ : state) {
    StreamRecord* s = nullptr;
    benchmark::DoNotOptimize(__qorCopyStream(&s, st.s));
    __qorDeleteStream(&s);
  }
}
BENCHMARK(image_save);
BENCHMARK(image_load);
BENCHMARK(copy_stream);

}  // namespace

BENCHMARK_MAIN();
