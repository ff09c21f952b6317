// The function registry as C++ data: ids, shapes, slot sharing, rounding direction, caller control,
// and the kernel tables; the instruction-set choice that fills the tables.
#pragma once

#include <cstdint>
#include <type_traits>

#include "zok/vector_math.h"

namespace zok::vm {

// C_R: complex a, real r (Abs, Arg); R_C: real a, complex r (CIS); AXP_R: AX_R whose kernels take
// the scalar by pointer (zPowx).
enum class Shape {
  A_R,
  AB_R,
  LINFRAC,
  A_RR,
  AX_R,
  C_R,
  R_C,
  AXP_R,
  PACK_I,
  PACK_V,
  PACK_M,
  UNPACK_I,
  UNPACK_V,
  UNPACK_M
};
// Complex element types (c, z): their functions have tests and benchmarks of their own.
constexpr bool complex_type(char type) {
  return type == 'c' || type == 'z';
}
// Elementwise functions compute; the pack and unpack shapes copy (and take other arguments).
constexpr bool elementwise(Shape s) {
  return s < Shape::PACK_I;
}
enum class Share { ALL, LAHA, LAEP, NONE };
enum class Round : uint32_t { NEAR = 0x0000, DOWN = 0x2000, UP = 0x4000, ZERO = 0x6000 };
// Flavours (bit 1 << slot) whose kernels run under the caller's floating-point control.
inline constexpr unsigned CTL_NONE = 0, CTL_ALL = 7, CTL_EP = 4, CTL_HA = 2, CTL_LAHA = 3;

enum Slot : int { kLA = 0, kHA = 1, kEP = 2 };

enum class Fn : int {
#define ZOK_VM_FUNCTION(t, F, ...) t##F,
#include "zok/vm_functions.def"
#undef ZOK_VM_FUNCTION
  kCount
};
inline constexpr int kFnCount = static_cast<int>(Fn::kCount);

// What a kernel needs to know about its function at compile time.
struct FnTraits {
  Round round;
  unsigned caller;
  const char* name;  // "vsDiv": the name given to error reports
  char type;         // 's', 'd', 'c' or 'z'
  Shape shape;
  Share share;
};
inline constexpr FnTraits kTraits[] = {
#define ZOK_VM_FUNCTION(t, F, SHAPE, SHARE, ROUND, CALLER, ...) \
  {Round::ROUND, CALLER, "v" #t #F, #t[0], Shape::SHAPE, Share::SHARE},
#include "zok/vm_functions.def"
#undef ZOK_VM_FUNCTION
};
constexpr const FnTraits& traits(Fn f) {
  return kTraits[static_cast<int>(f)];
}

// The element type of a function's arrays.
template <Fn kFn>
using Elem = std::conditional_t<traits(kFn).type == 's', float, double>;

struct FnInfo {
  const char* name;  // "vsAdd": the name given to error reports
  char type;         // 's', 'd', 'c' or 'z'
  Shape shape;
  Share share;
  float cost[3];
  void** table;  // the exported kernel table
};
extern const FnInfo kFunctions[kFnCount];
inline const FnInfo& info(Fn f) {
  return kFunctions[static_cast<int>(f)];
}

using KernelSlots = void* [kFnCount][3];

enum class Isa : int { kSse41 = 0, kAvx2 = 1, kAvx512 = 2 };
inline constexpr int kIsaCount = 3;
const char* isa_name(Isa isa);
// Whether this processor and its OS can run the kernels of `isa`.
bool isa_supported(Isa isa);
// The widest instruction set whose kernels fill the tables: the widest supported, lowered by
// ZOK_ISA; a function's slot may hold a narrower one (table_isa).
Isa selected_isa();
// The processor classes the instruction-set choice was measured on: AMD (Zen 4, whose 512-bit
// operations run as two 256-bit halves), full-width (512-bit units as wide as the registers) and
// AMD full-width (Zen 5 with 512-bit data paths, whose division, square root and cheap kernels gain
// from the width where the other full-width processor's do not). Processors of every vendor but AMD
// take the full-width choice.
enum class CpuClass : int { kAmd = 0, kFullWidth = 1, kAmdFullWidth = 2 };
inline constexpr int kCpuClassCount = 3;
const char* cpu_class_name(CpuClass c);
// The class of a processor from its vendor (AMD's or not) and, for AMD's, the width of its
// floating-point data paths.
CpuClass cpu_class_of(bool amd, bool fp512);
// The class whose measured choice the tables follow on this processor.
CpuClass cpu_class();
// Whether reading MXCSR costs more than a write that changes only its flags (AMD full-width: about
// 30 cycles against 2; a write that changes the rounding costs about 80 there). Where it does, the
// kernels write the caller's word back at every exit without reading it again, and those that can
// run at a fixed rounding with no flag raised skip MXCSR altogether. Elsewhere a read tells whether
// the kernel changed anything, and the write happens only then.
extern bool g_csr_read_costly;
// Whether the division instruction costs no more than a reciprocal estimate with its refinement (AMD's
// cores, both classes: float division at AVX-512 and AVX2 as fast on Zen 4, 1.25x faster on Zen 5).
// Where it does, the kernels whose policy is a DivisionCost divide.
extern bool g_division_cheap;
// Whether the 512-bit square root instruction costs no more than a reciprocal square root estimate
// with its refinement (AMD full-width: float roots 1.7-1.9x faster than the estimate). Where it does,
// the AVX-512 kernels whose policy is a RootCost take the root.
extern bool g_root_cheap;
// The instruction set whose kernel fills slot `slot` of fn's table: the selected set, or a
// narrower one where the function's kernel of the selected set was measured slower on this
// processor's class.
Isa table_isa(Fn fn, int slot);
// The slot whose kernel of that set fills slot `slot`: the slot itself, or HA where the function's
// HA kernel was measured faster on this processor's class.
int table_slot(Fn fn, int slot);
// The kernel family whose registration filled fn's kernels (null when none did).
const char* registered_family(Fn fn);
// The kernels of one instruction set, or null when this machine cannot run them.
const KernelSlots* isa_kernels(Isa isa);

// Calls a kernel or stub of any elementwise shape: one-argument shapes ignore b, one-result shapes
// r2; the by-value arguments come from scalars (Powx's exponent is scalars[0], LinearFrac takes
// scalea, shifta, scaleb, shiftb). Pack and unpack kernels are not called through it.
template <typename T>
void call_any(void* k, Shape shape, int n, const T* a, const T* b, T* r, T* r2, const T* scalars) {
  switch (shape) {
    case Shape::A_R:
      return reinterpret_cast<void (*)(int, const T*, T*)>(k)(n, a, r);
    case Shape::AB_R:
      return reinterpret_cast<void (*)(int, const T*, const T*, T*)>(k)(n, a, b, r);
    case Shape::LINFRAC:
      return reinterpret_cast<void (*)(int, const T*, const T*, T, T, T, T, T*)>(k)(
          n, a, b, scalars[0], scalars[1], scalars[2], scalars[3], r);
    case Shape::A_RR:
      return reinterpret_cast<void (*)(int, const T*, T*, T*)>(k)(n, a, r, r2);
    case Shape::AX_R:
      return reinterpret_cast<void (*)(int, const T*, T, T*)>(k)(n, a, scalars[0], r);
    default:
      return;
  }
}

}  // namespace zok::vm
