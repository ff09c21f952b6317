// Vector-math benchmarks: every registered function, flavour and instruction set at n = 1e3 and
// 1e6, each beside its baselines (plain loop, glibc loop, SLEEF) for the same set in the same run.
// tools/vm_bench_table.py turns the JSON output into a table of ratios.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "bench/vm_baseline.h"
#include "frame/functions.h"

namespace {

using zok::vm::Isa;
using zok::vm::Shape;

// Argument sets: kGeneral for most functions; logarithms take the magnitudes, exponentials
// 0.8 times the arguments (inside the float range of e^x).
enum ArgKind { kGeneral, kPositive, kExpRange, kArgKinds };
ArgKind arg_kind(const char* name) {
  const std::string f = name + 2;  // "vdExp" -> "Exp"
  if (f == "Ln" || f == "Log10" || f == "Log1p") return kPositive;
  // Roots and powers of negative numbers are domain errors.
  if (f == "Sqrt" || f == "InvSqrt" || f == "Pow" || f == "Powx" || f == "Pow3o2") return kPositive;
  if (f == "Exp" || f == "Expm1") return kExpRange;
  return kGeneral;
}

template <typename T>
struct Data {
  std::vector<T> a, b, r, r2;
  Data(size_t n, int kind) : a(n), b(n), r(n), r2(n) {
    std::mt19937 rng(7);
    // Ordinary arguments away from every special path: what the fast paths are for.
    std::uniform_real_distribution<T> d(T(0.5), T(100));
    for (size_t i = 0; i < n; ++i) {
      a[i] = d(rng) * (i % 3 ? T(1) : T(-1));
      b[i] = d(rng);
      if (kind == kPositive) a[i] = a[i] < 0 ? -a[i] : a[i];
      if (kind == kExpRange) a[i] *= T(0.8);
    }
  }
};

template <typename T>
Data<T>& data(size_t n, int kind = kGeneral) {
  static Data<T> small[kArgKinds] = {{1000, 0}, {1000, 1}, {1000, 2}},
                 large[kArgKinds] = {{1000000, 0}, {1000000, 1}, {1000000, 2}};
  return n == 1000 ? small[kind] : large[kind];
}

template <typename T>
void run_kernel(benchmark::State& state, void* k, Shape shape, int kind) {
  const int n = static_cast<int>(state.range(0));
  Data<T>& d = data<T>(static_cast<size_t>(n), kind);
  for (auto _ : state) {
    switch (shape) {
      case Shape::A_R:
        reinterpret_cast<void (*)(int, const T*, T*)>(k)(n, d.a.data(), d.r.data());
        break;
      case Shape::AB_R:
        reinterpret_cast<void (*)(int, const T*, const T*, T*)>(k)(n, d.a.data(), d.b.data(), d.r.data());
        break;
      case Shape::LINFRAC:
        reinterpret_cast<void (*)(int, const T*, const T*, T, T, T, T, T*)>(k)(n, d.a.data(), d.b.data(), T(2),
                                                                            T(1), T(3), T(0.5), d.r.data());
        break;
      case Shape::A_RR:
        reinterpret_cast<void (*)(int, const T*, T*, T*)>(k)(n, d.a.data(), d.r.data(), d.r2.data());
        break;
      case Shape::AX_R:
        reinterpret_cast<void (*)(int, const T*, T, T*)>(k)(n, d.a.data(), T(2.5), d.r.data());
        break;
    }
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
      for (int slot = 0; slot < 3; ++slot) {
        void* k = (*kernels)[f][slot];
        const std::string name = "vm/" + set + "/" + in.name + "/" + kSlot[slot];
        const int kind = arg_kind(in.name);
        auto* b = in.type == 's'
                      ? benchmark::RegisterBenchmark(name.c_str(), [k, &in, kind](benchmark::State& s) {
                          run_kernel<float>(s, k, in.shape, kind);
                        })
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
      const int kind = arg_kind(("v" + std::string(1, base[j].type) + base[j].function).c_str());
      auto* b = base[j].type == 's'
                    ? benchmark::RegisterBenchmark(name.c_str(),
                                                   [f, kind](benchmark::State& s) { run_baseline<float>(s, f, kind); })
                    : benchmark::RegisterBenchmark(name.c_str(),
                                                   [f, kind](benchmark::State& s) { run_baseline<double>(s, f, kind); });
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
