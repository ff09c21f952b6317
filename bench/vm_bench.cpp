// Vector-math benchmarks: every registered function, flavour and instruction set at n = 1e3 and
// 1e6, each beside its baselines (plain loop, glibc loop, SLEEF) for the same set in the same run.
// tools/vm_bench_table.py turns the JSON output into a table of ratios.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/vm_baseline.h"
#include "frame/functions.h"
#include "frame/vm_facts.h"

namespace {

using zok::vm::Isa;
using zok::vm::Shape;

// Argument sets, by the function's domain in its facts row: ordinary values of both signs; the
// magnitudes; 0.8 times the values (inside the float range of e^x); 0.05 times them (within +-5);
// 0.0099 times the values and their magnitudes (inside (-1, 1) and (0, 1)); 1 plus the magnitudes.
enum ArgKind { kGeneral, kPositive, kExpRange, kModest, kUnit, kProbability, kAboveOne, kArgKinds };
ArgKind arg_kind(zok::vm::Fn fn) {
  switch (zok::vm::facts(fn).domain) {
    case zok::vm::Domain::POSITIVE:
      return kPositive;
    case zok::vm::Domain::EXP_RANGE:
      return kExpRange;
    case zok::vm::Domain::MODEST:
      return kModest;
    case zok::vm::Domain::UNIT:
      return kUnit;
    case zok::vm::Domain::PROBABILITY:
      return kProbability;
    case zok::vm::Domain::ABOVE_ONE:
      return kAboveOne;
    case zok::vm::Domain::ANY:
      break;
  }
  return kGeneral;
}

template <typename T>
struct Data {
  // Every array starts on a 64-byte boundary at a fixed place within its page: the results 64 and
  // 0 bytes in, the arguments 128 and 192. Loads then never match a pending store in their low 12
  // address bits (which would hold them back as if dependent), and timings do not depend on where
  // the heap put the arrays or in which order the benchmarks first touched them.
  struct Array {
    Array(size_t n, size_t offset)
        : raw(static_cast<char*>(std::aligned_alloc(4096, (n * sizeof(T) + offset + 4095) / 4096 * 4096))),
          p(reinterpret_cast<T*>(raw + offset)) {}
    ~Array() { std::free(raw); }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    T* data() { return p; }
    T& operator[](size_t i) { return p[i]; }
    char* raw;
    T* p;
  };
  Array a, b, r, r2;
  Data(size_t n, int kind) : a(n, 128), b(n, 192), r(n, 64), r2(n, 0) {
    std::mt19937 rng(7);
    // Ordinary arguments away from every special path: what the fast paths are for.
    std::uniform_real_distribution<T> d(T(0.5), T(100));
    for (size_t i = 0; i < n; ++i) {
      a[i] = d(rng) * (i % 3 ? T(1) : T(-1));
      b[i] = d(rng);
      if (kind == kPositive || kind == kProbability || kind == kAboveOne) a[i] = a[i] < 0 ? -a[i] : a[i];
      if (kind == kExpRange) a[i] *= T(0.8);
      if (kind == kModest) a[i] *= T(0.05);
      if (kind == kUnit || kind == kProbability) a[i] *= T(0.0099);
      if (kind == kAboveOne) a[i] += T(1);
    }
  }
};

template <typename T>
Data<T>& data(size_t n, int kind = kGeneral) {
  static Data<T> small[kArgKinds] = {{1000, 0}, {1000, 1}, {1000, 2}, {1000, 3},
                                     {1000, 4}, {1000, 5}, {1000, 6}},
                 large[kArgKinds] = {{1000000, 0}, {1000000, 1}, {1000000, 2}, {1000000, 3},
                                     {1000000, 4}, {1000000, 5}, {1000000, 6}};
  return n == 1000 ? small[kind] : large[kind];
}

template <typename T>
void run_kernel(benchmark::State& state, void* k, Shape shape, int kind) {
  const int n = static_cast<int>(state.range(0));
  Data<T>& d = data<T>(static_cast<size_t>(n), kind);
  static const T kScalars[4] = {T(2.5), T(1), T(3), T(0.5)}, kLinFrac[4] = {T(2), T(1), T(3), T(0.5)};
  const T* scalars = shape == Shape::LINFRAC ? kLinFrac : kScalars;
  for (auto _ : state) {
    zok::vm::call_any<T>(k, shape, n, d.a.data(), d.b.data(), d.r.data(), d.r2.data(), scalars);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

template <typename T>
void run_baseline(benchmark::State& state, void* f, int kind) {
  const int n = static_cast<int>(state.range(0));
  Data<T>& d = data<T>(static_cast<size_t>(n), kind);
  for (auto _ : state) {
    reinterpret_cast<void (*)(int, const T*, const T*, T*)>(f)(n, d.a.data(), d.b.data(), d.r.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

const zok::bench::Baseline* baselines_of(Isa isa, int* count) {
  switch (isa) {
    case Isa::kSse41:
      return zok::bench::isa_sse41::baselines(count);
    case Isa::kAvx2:
      return zok::bench::isa_avx2::baselines(count);
    case Isa::kAvx512:
      return zok::bench::isa_avx512::baselines(count);
  }
  return nullptr;
}

// Names: vm/<isa>/<function>/<LA|HA|EP>/<n> and base/<isa>/<function>/<kind>/<n>.
void register_all() {
  static const char* kSlot[] = {"LA", "HA", "EP"};
  for (int i = 0; i < zok::vm::kIsaCount; ++i) {
    const Isa isa = static_cast<Isa>(i);
    const auto* kernels = zok::vm::isa_kernels(isa);
    if (kernels == nullptr) continue;
    const std::string set = zok::vm::isa_name(isa);
    for (int f = 0; f < zok::vm::kFnCount; ++f) {
      const auto& in = zok::vm::kFunctions[f];
      if (!zok::vm::elementwise(in.shape)) continue;  // copies: bench/vm_pack_bench.cpp
      if (zok::vm::complex_type(in.type)) continue;   // bench/vm_complex_bench.cpp
      for (int slot = 0; slot < 3; ++slot) {
        void* k = (*kernels)[f][slot];
        const std::string name = "vm/" + set + "/" + in.name + "/" + kSlot[slot];
        const int kind = arg_kind(static_cast<zok::vm::Fn>(f));
        auto* b = in.type == 's'
                      ? benchmark::RegisterBenchmark(
                            name.c_str(),
                            [k, &in, kind](benchmark::State& s) { run_kernel<float>(s, k, in.shape, kind); })
                      : benchmark::RegisterBenchmark(name.c_str(), [k, &in, kind](benchmark::State& s) {
                          run_kernel<double>(s, k, in.shape, kind);
                        });
        b->Arg(1000)->Arg(1000000);
      }
    }
    int count = 0;
    const zok::bench::Baseline* base = baselines_of(isa, &count);
    for (int j = 0; j < count; ++j) {
      const std::string name = "base/" + set + "/v" + base[j].type + base[j].function + "/" + base[j].kind;
      void* f = base[j].run;
      const int kind = arg_kind(static_cast<zok::vm::Fn>(base[j].fn));
      auto* b = base[j].type == 's'
                    ? benchmark::RegisterBenchmark(
                          name.c_str(), [f, kind](benchmark::State& s) { run_baseline<float>(s, f, kind); })
                    : benchmark::RegisterBenchmark(
                          name.c_str(), [f, kind](benchmark::State& s) { run_baseline<double>(s, f, kind); });
      b->Arg(1000)->Arg(1000000);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
