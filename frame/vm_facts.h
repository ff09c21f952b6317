// The facts of each vector-math function (frame/vm_facts.def) as C++ data for tests, benchmarks
// and the command-line program; a row missing or out of order fails the build.
#pragma once

#include <array>

#include "frame/functions.h"

namespace zok::vm {

enum class Domain { ANY, POSITIVE, EXP_RANGE, MODEST, UNIT, PROBABILITY, ABOVE_ONE };
enum class Sweep { ALL_BITS, MODERATE };

// Where one slot's table entry comes from on one processor class: the widest set whose kernel it
// takes and, with `ha`, that set's HA kernel instead of the slot's own, where the HA kernel (within
// the slot's bound, reporting the same) was measured faster there.
struct Choice {
  Isa isa;
  bool ha;
};

namespace bounds {
inline constexpr double EXACT = 0, CR = 0.5, EP_S = 4096, EP_D = 67108864;
inline constexpr Choice AVX2{Isa::kAvx2, false}, AVX512{Isa::kAvx512, false}, AVX512_HA{Isa::kAvx512, true};
}  // namespace bounds

struct FnFacts {
  Fn fn;
  const char* family;
  Domain domain;
  Sweep sweep;
  const char* ref;
  double bound[3];  // LA, HA, EP
  // The widest set whose kernel each slot's table entry takes, per processor class (CpuClass).
  Choice widest[kCpuClassCount][3];
};

// Rows beyond the registry's count fail to compile; missing or misplaced ones fail the check below.
inline constexpr std::array<FnFacts, kFnCount> kFacts = [] {
  using namespace bounds;
  return std::array<FnFacts, kFnCount>{{
#define AMD(la, ha, ep) \
  { la, ha, ep }
#define FULL(la, ha, ep) \
  { la, ha, ep }
#define AMD_FULL(la, ha, ep) \
  { la, ha, ep }
#define WIDEST(amd, full, amd_full) \
  { amd, full, amd_full }
#define ZOK_VM_FACTS(t, F, FAMILY, DOMAIN, SWEEP, REF, LA, HA, EP, DENSE, BASELINES, ISAS) \
  {Fn::t##F, #FAMILY, Domain::DOMAIN, Sweep::SWEEP, #REF, {LA, HA, EP}, ISAS},
#include "frame/vm_facts.def"
#undef ZOK_VM_FACTS
#undef WIDEST
#undef AMD_FULL
#undef FULL
#undef AMD
  }};
}();
constexpr const FnFacts& facts(Fn f) {
  return kFacts[static_cast<int>(f)];
}

constexpr bool facts_follow_the_registry() {
  for (int i = 0; i < kFnCount; ++i)
    if (static_cast<int>(kFacts[i].fn) != i || kFacts[i].family == nullptr) return false;
  return true;
}
static_assert(facts_follow_the_registry(),
              "frame/vm_facts.def needs one row per row of zok/vm_functions.def, in the same order");

// Slots that share one kernel must take it from one instruction set.
constexpr bool shared_slots_agree() {
  for (const FnFacts& f : kFacts) {
    const Share share = traits(f.fn).share;
    for (const auto& w : f.widest) {
      if ((share == Share::ALL || share == Share::LAHA) && w[kLA].isa != w[kHA].isa) return false;
      if ((share == Share::ALL || share == Share::LAEP) && w[kLA].isa != w[kEP].isa) return false;
      if (w[kHA].ha) return false;  // the HA slot always takes its own kernel
      if (share == Share::LAEP && w[kLA].ha != w[kEP].ha) return false;
    }
  }
  return true;
}
static_assert(shared_slots_agree(),
              "frame/vm_facts.def gives slots that share a kernel different choices, or HA another kernel");

}  // namespace zok::vm
