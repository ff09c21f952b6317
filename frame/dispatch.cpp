// Instruction-set choice: at load, the kernels of every supported instruction set are collected
// and the exported tables are filled with those of the widest one (or the one ZOK_ISA names).
#include <cstdlib>
#include <cstring>

#include "frame/cpu.h"
#include "frame/functions.h"
#include "frame/vm_facts.h"
#include "zok/core_services.h"

// Each kernel family registers its kernels once per instruction set; the list of families comes
// from kernels/CMakeLists.txt.
#include "zok/vm_families.h"

#define ZOK_DECLARE_FAMILY(family) void register_##family(zok::vm::KernelSlots& slots);
namespace zok::isa_sse41 {
ZOK_VM_FAMILIES(ZOK_DECLARE_FAMILY)
}
namespace zok::isa_avx2 {
ZOK_VM_FAMILIES(ZOK_DECLARE_FAMILY)
}
namespace zok::isa_avx512 {
ZOK_VM_FAMILIES(ZOK_DECLARE_FAMILY)
}
#undef ZOK_DECLARE_FAMILY

namespace zok::vm {

namespace {

KernelSlots g_kernels[kIsaCount];
bool g_supported[kIsaCount];
Isa g_selected = Isa::kSse41;
CpuClass g_class = CpuClass::kFullWidth;
Isa g_table_isa[kFnCount][3];
int g_table_slot[kFnCount][3];

const char* g_family[kFnCount];

// Registers every family's kernels of one instruction set and notes which family filled each
// function (a function filled by two families keeps the first name and is noted as twice).
void collect(Isa isa) {
  KernelSlots& slots = g_kernels[static_cast<int>(isa)];
  auto note = [&](const char* family) {
    for (int fn = 0; fn < kFnCount; ++fn)
      if (slots[fn][kHA] != nullptr && g_family[fn] == nullptr) g_family[fn] = family;
  };
#define ZOK_REGISTER(family)                \
  switch (isa) {                            \
    case Isa::kSse41:                       \
      isa_sse41::register_##family(slots);  \
      break;                                \
    case Isa::kAvx2:                        \
      isa_avx2::register_##family(slots);   \
      break;                                \
    case Isa::kAvx512:                      \
      isa_avx512::register_##family(slots); \
      break;                                \
  }                                         \
  note(#family);
  ZOK_VM_FAMILIES(ZOK_REGISTER)
#undef ZOK_REGISTER
}

__attribute__((constructor)) void fill_tables() {
  const CpuFeatures f = detect_cpu_features();
  g_supported[0] = f.sse41;
  g_supported[1] = f.sse41 && f.avx2 && f.fma;
  g_supported[2] = g_supported[1] && f.avx512;
  int chosen = 0;
  for (int i = 0; i < kIsaCount; ++i)
    if (g_supported[i]) {
      collect(static_cast<Isa>(i));
      chosen = i;
    }
  // ZOK_ISA can only narrow the choice: a wider set than the machine runs is never taken.
  char want[32];
  if (zok_serv_getenv("ZOK_ISA", want, sizeof want) >= 1) {
    for (int i = 0; i < kIsaCount; ++i)
      if (std::strcmp(want, isa_name(static_cast<Isa>(i))) == 0 && i < chosen && g_supported[i]) chosen = i;
  }
  g_selected = static_cast<Isa>(chosen);
  g_class = cpu_class_of(f.amd, f.fp512);
  g_csr_read_costly = g_class == CpuClass::kAmdFullWidth;
  g_division_cheap = g_class != CpuClass::kFullWidth;
  g_root_cheap = g_class == CpuClass::kAmdFullWidth;
  // Each slot takes the widest chosen set its function was measured fastest on, on processors of
  // this class: a wider set never makes a function slower. Every set narrower than the chosen one
  // is supported too. A slot marked to take the HA kernel does so only at the set it names (it was
  // measured faster there, not at narrower sets).
  const int cls = static_cast<int>(g_class);
  for (int fn = 0; fn < kFnCount; ++fn)
    for (int slot = 0; slot < 3; ++slot) {
      const Choice c = kFacts[fn].widest[cls][slot];
      const int widest = static_cast<int>(c.isa);
      g_table_isa[fn][slot] = static_cast<Isa>(widest < chosen ? widest : chosen);
      g_table_slot[fn][slot] = c.ha && widest <= chosen ? kHA : slot;
      kFunctions[fn].table[slot] =
          g_kernels[static_cast<int>(g_table_isa[fn][slot])][fn][g_table_slot[fn][slot]];
    }
}

}  // namespace

const char* isa_name(Isa isa) {
  switch (isa) {
    case Isa::kSse41:
      return "sse41";
    case Isa::kAvx2:
      return "avx2";
    case Isa::kAvx512:
      return "avx512";
  }
  return "?";
}

bool isa_supported(Isa isa) {
  return g_supported[static_cast<int>(isa)];
}
Isa selected_isa() {
  return g_selected;
}
bool g_csr_read_costly = false;
bool g_division_cheap = false;
bool g_root_cheap = false;

const char* cpu_class_name(CpuClass c) {
  switch (c) {
    case CpuClass::kAmd:
      return "amd";
    case CpuClass::kFullWidth:
      return "full-width";
    case CpuClass::kAmdFullWidth:
      return "amd-full-width";
  }
  return "?";
}
CpuClass cpu_class_of(bool amd, bool fp512) {
  if (!amd) return CpuClass::kFullWidth;
  return fp512 ? CpuClass::kAmdFullWidth : CpuClass::kAmd;
}
CpuClass cpu_class() {
  return g_class;
}
Isa table_isa(Fn fn, int slot) {
  return g_table_isa[static_cast<int>(fn)][slot];
}
int table_slot(Fn fn, int slot) {
  return g_table_slot[static_cast<int>(fn)][slot];
}
const char* registered_family(Fn fn) {
  return g_family[static_cast<int>(fn)];
}
const KernelSlots* isa_kernels(Isa isa) {
  return g_supported[static_cast<int>(isa)] ? &g_kernels[static_cast<int>(isa)] : nullptr;
}

}  // namespace zok::vm
