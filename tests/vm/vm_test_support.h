// Helpers for vector-math tests: the instruction sets this machine runs, kernels by set and slot,
// a fresh-thread runner with a recording callback.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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

// Calls a kernel (or stub) of any registered shape; the scalars are 2.5 (Powx) and 1.5, 2.5, 3.5, 4.5
// (LinearFrac).
template <typename T>
void call(void* k, vm::Shape shape, int n, const T* a, const T* b, T* r, T* r2) {
  static const T kScalars[4] = {T(2.5), T(2.5), T(3.5), T(4.5)};
  static const T kLinFrac[4] = {T(1.5), T(2.5), T(3.5), T(4.5)};
  vm::call_any<T>(k, shape, n, a, b, r, r2, shape == vm::Shape::LINFRAC ? kLinFrac : kScalars);
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

// Runs body on a fresh thread (mode word `mode` if non-zero) with a recording callback.
template <typename Body>
Reports with_reports(Body body, uint32_t mode = 0) {
  ModeOption env(nullptr);
  return on_fresh_thread([&] {
    if (mode != 0) _yubSetMode(mode);
    Reports rep;
    t_reports = &rep;
    _yubSetErrorCallBack(record_report);
    body();
    return rep;
  });
}

inline const char* const kSlotName[] = {"LA", "HA", "EP"};
// A test fixture run once per instruction set this machine runs.
class IsaTest : public testing::TestWithParam<vm::Isa> {
 protected:
  template <typename Sig>
  Sig k(vm::Fn fn, int slot = vm::kHA) const {
    return kernel<Sig>(GetParam(), fn, slot);
  }
};
#define ZOK_VM_EVERY_ISA(Suite)                                  \
  INSTANTIATE_TEST_SUITE_P(                                      \
      Isas, Suite, testing::ValuesIn(zok::test::machine_isas()), \
      [](const testing::TestParamInfo<zok::vm::Isa>& p) { return zok::vm::isa_name(p.param); })

}  // namespace zok::test
