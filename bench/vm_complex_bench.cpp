// Complex kernels beside loops over std::complex and the C library's complex functions (glibc),
// compiled -O3 in this file, n = 1e3 and 1e6. Names: kernel/<isa>/<LA|HA|EP>/<function>/<n> for each
// instruction set this machine runs, and base/<function>/<n>.
#include <benchmark/benchmark.h>

#include <complex>
#include <random>
#include <string>
#include <vector>

#include "frame/functions.h"

namespace {

using zok::vm::Fn;
using zok::vm::Shape;

template <typename T>
struct Data {
  std::vector<std::complex<T>> a, b, r;
  std::vector<T> x, y;
  explicit Data(int n) : a(n), b(n), r(n), x(n), y(n) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-4, 4);
    for (int i = 0; i < n; ++i) {
      a[i] = {static_cast<T>(u(rng)), static_cast<T>(u(rng))};
      b[i] = {static_cast<T>(u(rng)), static_cast<T>(u(rng))};
      x[i] = static_cast<T>(u(rng));
    }
  }
};

template <typename T>
void kernel(benchmark::State& state, void* k, Fn fn, int n) {
  using C = std::complex<T>;
  Data<T> d(n);
  const Shape shape = zok::vm::info(fn).shape;
  for (auto _ : state) {
    if (shape == Shape::AB_R)
      reinterpret_cast<void (*)(int, const C*, const C*, C*)>(k)(n, d.a.data(), d.b.data(), d.r.data());
    if (shape == Shape::A_R) reinterpret_cast<void (*)(int, const C*, C*)>(k)(n, d.a.data(), d.r.data());
    if (shape == Shape::C_R) reinterpret_cast<void (*)(int, const C*, T*)>(k)(n, d.a.data(), d.y.data());
    if (shape == Shape::R_C) reinterpret_cast<void (*)(int, const T*, C*)>(k)(n, d.x.data(), d.r.data());
    if (shape == Shape::AX_R)
      reinterpret_cast<void (*)(int, const C*, C, C*)>(k)(n, d.a.data(), d.b[0], d.r.data());
    if (shape == Shape::AXP_R)
      reinterpret_cast<void (*)(int, const C*, const C*, C*)>(k)(n, d.a.data(), &d.b[0], d.r.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// The same work as a loop over std::complex, the function chosen outside the loop.
template <typename T, typename F>
void loop(benchmark::State& state, int n, F f) {
  Data<T> d(n);
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) f(d, i);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
template <typename T>
void base(benchmark::State& state, const std::string& f, int n) {
#define ZOK_BASE(name, expr)                         \
  if (f == name)                                     \
    return loop<T>(state, n, [](Data<T>& d, int i) { \
      const auto a = d.a[i], b = d.b[i];             \
      (void)a, (void)b;                              \
      expr;                                          \
    });
  ZOK_BASE("Add", d.r[i] = a + b)
  ZOK_BASE("Sub", d.r[i] = a - b)
  ZOK_BASE("Mul", d.r[i] = a * b)
  ZOK_BASE("MulByConj", d.r[i] = a * std::conj(b))
  ZOK_BASE("Div", d.r[i] = a / b)
  ZOK_BASE("Conj", d.r[i] = std::conj(a))
  ZOK_BASE("Abs", d.y[i] = std::abs(a))
  ZOK_BASE("Arg", d.y[i] = std::arg(a))
  ZOK_BASE("CIS", d.r[i] = std::polar(T(1), d.x[i]))
  ZOK_BASE("Exp", d.r[i] = std::exp(a))
  ZOK_BASE("Ln", d.r[i] = std::log(a))
  ZOK_BASE("Sqrt", d.r[i] = std::sqrt(a))
  ZOK_BASE("Sin", d.r[i] = std::sin(a))
  ZOK_BASE("Asin", d.r[i] = std::asin(a))
  ZOK_BASE("Pow", d.r[i] = std::pow(a, b))
#undef ZOK_BASE
}

void register_all() {
  const char* names[] = {"Add", "Sub", "Mul", "MulByConj", "Div", "Conj", "Abs", "Arg",
                         "CIS", "Exp", "Ln",  "Sqrt",      "Sin", "Asin", "Pow"};
  static const char* kSlot[] = {"LA", "HA", "EP"};
  for (int n : {1000, 1000000})
    for (const char* f : names)
      for (char t : {'c', 'z'}) {
        int fn = -1;
        for (int i = 0; i < zok::vm::kFnCount; ++i)
          if (zok::vm::kFunctions[i].type == t && std::string(zok::vm::kFunctions[i].name + 2) == f) fn = i;
        const std::string tail = std::string("/v") + t + f + "/" + std::to_string(n);
        for (int i = 0; i < zok::vm::kIsaCount; ++i) {
          const auto* kernels = zok::vm::isa_kernels(static_cast<zok::vm::Isa>(i));
          if (kernels == nullptr) continue;
          const std::string set = zok::vm::isa_name(static_cast<zok::vm::Isa>(i));
          for (int slot = 0; slot < 3; ++slot) {
            void* k = (*kernels)[fn][slot];
            benchmark::RegisterBenchmark(("kernel/" + set + "/" + kSlot[slot] + tail).c_str(),
                                         [=](benchmark::State& s) {
                                           t == 'c' ? kernel<float>(s, k, static_cast<Fn>(fn), n)
                                                    : kernel<double>(s, k, static_cast<Fn>(fn), n);
                                         });
          }
        }
        benchmark::RegisterBenchmark(("base" + tail).c_str(), [=](benchmark::State& s) {
          t == 'c' ? base<float>(s, f, n) : base<double>(s, f, n);
        });
      }
}

}  // namespace

// Registered from main: the kernel tables of each instruction set are filled by then.
int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
