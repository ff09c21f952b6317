// Helpers for vector-math tests: the instruction sets this machine runs, kernels by set and slot,
// a fresh-thread runner with a recording callback.
#pragma once

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "frame/functions.h"
#include "tests/frame/test_support.h"
#include "zok/vector_math.h"

namespace zok::test {

inline std::vector<vm::Isa> machine_isas() {
  std::vector<vm::Isa> out;
  for (int i = 0; i < vm::kIsaCount; ++i)
    if (vm::isa_supported(static_cast<vm::Isa>(i))) out.push_back(static_cast<vm::Isa>(i));
  return out;
}

template <typename Sig>
Sig kernel(vm::Isa isa, vm::Fn fn, int slot) {
  return reinterpret_cast<Sig>((*vm::isa_kernels(isa))[static_cast<int>(fn)][slot]);
}

template <typename T>
using KA = void (*)(int, const T*, T*);
template <typename T>
using KAB = void (*)(int, const T*, const T*, T*);
template <typename T>
using KARR = void (*)(int, const T*, T*, T*);
template <typename T>
using KLF = void (*)(int, const T*, const T*, T, T, T, T, T*);

template <typename T>
bool same_bits(T x, T y) {
  return std::memcmp(&x, &y, sizeof x) == 0;
}
// Equal values, or both NaN.
template <typename T>
bool same_value(T x, T y) {
  return (std::isnan(x) && std::isnan(y)) || (x == y && std::signbit(x) == std::signbit(y));
}

// Element indices and codes the callback saw, in order.
struct Reports {
  std::vector<int> index;
  std::vector<int> code;
};
inline thread_local Reports* t_reports = nullptr;
inline int32_t record_report(ErrorContext* ctx) {
  t_reports->index.push_back(ctx->index);
  t_reports->code.push_back(ctx->code);
  return 0;
}

}  // namespace zok::test
