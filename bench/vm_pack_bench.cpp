// Pack and unpack kernels beside plain copy loops compiled for the same instruction set, through the
// same call: every type, n = 1e3 and 1e6, increments 1 and 3, random indices, masks of half density.
// Names: <kernel|loop>/<isa>/<function>/<n>/<increment> (the increment 0 for indices and masks).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bench/vm_pack_loops.h"
#include "frame/functions.h"

namespace {

using zok::vm::Fn;
using zok::vm::Isa;

const Fn kFns[4][6] = {{Fn::sPackI, Fn::sPackV, Fn::sPackM, Fn::sUnpackI, Fn::sUnpackV, Fn::sUnpackM},
                       {Fn::dPackI, Fn::dPackV, Fn::dPackM, Fn::dUnpackI, Fn::dUnpackV, Fn::dUnpackM},
                       {Fn::cPackI, Fn::cPackV, Fn::cPackM, Fn::cUnpackI, Fn::cUnpackV, Fn::cUnpackM},
                       {Fn::zPackI, Fn::zPackV, Fn::zPackM, Fn::zUnpackI, Fn::zUnpackV, Fn::zUnpackM}};
const int kUnit[4] = {4, 8, 8, 16};

void run(benchmark::State& state, void* k, int type, int kind, int64_t n, int64_t inc) {
  const size_t unit = static_cast<size_t>(kUnit[type]);
  std::vector<unsigned char> a(static_cast<size_t>(n) * 3 * unit + 64), y(a.size());
  std::vector<int> list(static_cast<size_t>(n));
  std::mt19937 rng(1);
  for (auto& v : list) v = kind == 2 || kind == 5 ? static_cast<int>(rng() & 1) : static_cast<int>(rng() % n);
  for (auto& b : a) b = static_cast<unsigned char>(rng());
  for (auto _ : state) {
    switch (kind) {
      case 0:
        reinterpret_cast<void (*)(int64_t, const void*, int64_t, void*, int32_t)>(k)(n, a.data(), inc,
                                                                                     y.data(), 1);
        break;
      case 3:
        reinterpret_cast<void (*)(int64_t, const void*, void*, int64_t, int32_t)>(k)(n, a.data(), y.data(),
                                                                                     inc, 1);
        break;
      case 1:
      case 2:
        reinterpret_cast<void (*)(int64_t, const void*, const void*, void*, int32_t)>(k)(
            n, a.data(), list.data(), y.data(), 1);
        break;
      default:
        reinterpret_cast<void (*)(int64_t, const void*, void*, const void*, int32_t)>(k)(
            n, a.data(), y.data(), list.data(), 1);
    }
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  state.counters["ns/element"] = benchmark::Counter(
      static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void register_all() {
  void* loops[3][4][6];
  zok::bench::isa_sse41::pack_loops(loops[0]);
  zok::bench::isa_avx2::pack_loops(loops[1]);
  zok::bench::isa_avx512::pack_loops(loops[2]);
  for (int i = 0; i < zok::vm::kIsaCount; ++i) {
    const auto* kernels = zok::vm::isa_kernels(static_cast<Isa>(i));
    if (kernels == nullptr) continue;
    const std::string set = zok::vm::isa_name(static_cast<Isa>(i));
    for (int type = 0; type < 4; ++type)
      for (int kind = 0; kind < 6; ++kind)
        for (int64_t n : {int64_t{1000}, int64_t{1000000}})
          for (int64_t inc : {int64_t{1}, int64_t{3}}) {
            if (inc == 3 && kind != 0 && kind != 3) continue;
            const int64_t shown = kind == 0 || kind == 3 ? inc : 0;
            const std::string tail = std::string("/") +
                                     zok::vm::kFunctions[static_cast<int>(kFns[type][kind])].name + "/" +
                                     std::to_string(n) + "/" + std::to_string(shown);
            void* k = (*kernels)[static_cast<int>(kFns[type][kind])][zok::vm::kHA];
            void* loop = loops[i][type][kind];
            benchmark::RegisterBenchmark(("kernel/" + set + tail).c_str(),
                                         [=](benchmark::State& s) { run(s, k, type, kind, n, inc); });
            benchmark::RegisterBenchmark(("loop/" + set + tail).c_str(),
                                         [=](benchmark::State& s) { run(s, loop, type, kind, n, inc); });
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
