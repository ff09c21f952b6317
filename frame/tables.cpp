// The exported kernel tables (with their cost tables 24 bytes behind) and the entry stubs, all
// made from the function registry.
#include "frame/functions.h"

// Each table is 24 bytes of kernel pointers in writable data, and its cost table follows directly:
// three floats (LA, HA, EP) and a zero word. The pair is laid out in assembly so the cost table
// can be exported under its own name at that exact offset. The table's symbol covers both (40
// bytes), so a program that links the library and gets its own copy of a table (a copy
// relocation) finds the cost figures 24 bytes behind its copy too.
#define ZOK_VM_TABLE_ASM(t, F, c0, c1, c2)                                            \
  asm(".pushsection .data\n"                                                          \
      ".balign 8\n"                                                                   \
      ".globl zok_yub_kernel_" #t #F "_ttab\n"                                        \
      ".type zok_yub_kernel_" #t #F "_ttab, @object\n"                                \
      ".size zok_yub_kernel_" #t #F "_ttab, 40\n"                                     \
      "zok_yub_kernel_" #t #F "_ttab:\n"                                              \
      ".zero 24\n"                                                                    \
      ".globl zok_yub_kernel_" #t #F "_ctab\n"                                        \
      ".type zok_yub_kernel_" #t #F "_ctab, @object\n"                                \
      ".size zok_yub_kernel_" #t #F "_ctab, 16\n"                                     \
      "zok_yub_kernel_" #t #F "_ctab:\n"                                              \
      ".float " #c0 ", " #c1 ", " #c2 "\n"                                            \
      ".long 0\n"                                                                     \
      ".popsection\n");

#define ZOK_VM_FUNCTION(t, F, SHAPE, SHARE, ROUND, CALLER, c0, c1, c2) ZOK_VM_TABLE_ASM(t, F, c0, c1, c2)
#include "zok/vm_functions.def"
#undef ZOK_VM_FUNCTION

// Stubs read their slot at every call, so a caller that rewrites a table is followed at once.
#define ZOK_VM_STUB(t, F, SHAPE, slot, name)                                                      \
  ZOK_VM_API void name(int n, ZOK_VM_PARAMS_##SHAPE(ZOK_VM_T_##t)) {                              \
    using Kernel = void (*)(ZOK_VM_KN_##SHAPE, ZOK_VM_KPARAMS_##SHAPE(ZOK_VM_T_##t));              \
    reinterpret_cast<Kernel>(__atomic_load_n(&zok_yub_kernel_##t##F##_ttab[slot], __ATOMIC_RELAXED))( \
        n, ZOK_VM_KARGS_##SHAPE);                                                                  \
  }

extern "C" {
#define ZOK_VM_FUNCTION(t, F, SHAPE, SHARE, ROUND, CALLER, ...)                                  \
  ZOK_VM_STUB(t, F, SHAPE, 1, _yub##t##F)                                                        \
  ZOK_VM_API void _yub##t##F##_HA(int, ZOK_VM_PARAMS_##SHAPE(ZOK_VM_T_##t)) __attribute__((alias("_yub" #t #F))); \
  ZOK_VM_STUB(t, F, SHAPE, 0, ZOK_VM_CAT(_yub##t##F, ZOK_VM_LA_SUFFIX_##t))                      \
  ZOK_VM_STUB(t, F, SHAPE, 2, ZOK_VM_CAT(_yub##t##F, ZOK_VM_EP_SUFFIX_##t))
#include "zok/vm_functions.def"
#undef ZOK_VM_FUNCTION
}

namespace zok::vm {

const FnInfo kFunctions[kFnCount] = {
#define ZOK_VM_FUNCTION(t, F, SHAPE, SHARE, ROUND, CALLER, c0, c1, c2) \
  {"v" #t #F, #t[0], Shape::SHAPE, Share::SHARE, {c0##f, c1##f, c2##f}, zok_yub_kernel_##t##F##_ttab},
#include "zok/vm_functions.def"
#undef ZOK_VM_FUNCTION
};

}  // namespace zok::vm
