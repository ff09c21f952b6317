// Baselines of the vector-math benchmarks, one set per instruction set.
#pragma once

namespace zok::bench {

struct Baseline {
  const char* function;  // the registry's function name, "Floor"
  char type;             // 's' or 'd'
  const char* kind;      // "loop" (plain loop, -O3), "libm" (glibc per element), "sleef"
  void* run;             // void(int n, const T* a, const T* b, T* r); b unused by one-argument functions
  int fn;                // the registry's function id
};

#define ZOK_BASELINE_SET(ns)             \
  namespace ns {                         \
  const Baseline* baselines(int* count); \
  }
ZOK_BASELINE_SET(isa_sse41)
ZOK_BASELINE_SET(isa_avx2)
ZOK_BASELINE_SET(isa_avx512)
#undef ZOK_BASELINE_SET

}  // namespace zok::bench
