// The registry's tables and stubs: every stub calls its slot (read at each call) with its arguments
// unchanged, cost tables sit 24 bytes behind their kernel tables, slot sharing matches the registry,
// each function's kernels come from the family of its facts row, and the tables hold the selected
// instruction set's kernels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <type_traits>
#include <utility>

#include "frame/cpu.h"
#include "frame/vm_facts.h"
#include "tests/vm/vm_test_support.h"

namespace {

using zok::vm::Fn;
using zok::vm::Shape;
using zok::vm::Share;

struct Call {
  int slot = -1;
  int64_t n = 0;
  const void* p[4] = {};
  int64_t inc = 0;
  int32_t flag = 0;
};
Call g_last;

template <typename T, int kId>
void fake_a_r(int n, const T* a, T* r) {
  g_last = {kId, n, {a, r}};
}
template <typename T, int kId>
void fake_ab_r(int n, const T* a, const T* b, T* r) {
  g_last = {kId, n, {a, b, r}};
}
template <typename T, int kId>
void fake_a_rr(int n, const T* a, T* r1, T* r2) {
  g_last = {kId, n, {a, r1, r2}};
}
template <typename T, int kId>
void fake_ax_r(int n, const T* a, T b, T* r) {
  g_last = {b == T(2.5) ? kId : -2, n, {a, r}};
}
template <typename T, int kId>
void fake_linfrac(int n, const T* a, const T* b, T sa, T sha, T sb, T shb, T* r) {
  const bool scalars_ok = sa == T(1.5) && sha == T(2.5) && sb == T(3.5) && shb == T(4.5);
  g_last = {scalars_ok ? kId : -2, n, {a, b, r}};
}

// Pack and unpack kernels take a 64-bit n, the increment or the index/mask array, and the flag.
template <int kId>
void fake_pack_i(int64_t n, const void* a, int64_t inc, void* y, int32_t flag) {
  g_last = {kId, n, {a, nullptr, y}, inc, flag};
}
template <int kId>
void fake_pack_p(int64_t n, const void* a, const void* ix, void* y, int32_t flag) {
  g_last = {kId, n, {a, ix, y}, 0, flag};
}
template <int kId>
void fake_unpack_i(int64_t n, const void* a, void* y, int64_t inc, int32_t flag) {
  g_last = {kId, n, {a, nullptr, y}, inc, flag};
}
template <int kId>
void fake_unpack_p(int64_t n, const void* a, void* y, const void* ix, int32_t flag) {
  g_last = {kId, n, {a, ix, y}, 0, flag};
}

// Every complex shape starts (n, a, ...): this fake reads only those two.
template <int kId>
void fake_complex(int n, const void* a) {
  g_last = {kId, n, {a}};
}

// The recording fake of slot kId for a shape.
template <typename T, int kId>
void* fake(Shape shape) {
  switch (shape) {
    case Shape::PACK_I:
      return reinterpret_cast<void*>(&fake_pack_i<kId>);
    case Shape::PACK_V:
    case Shape::PACK_M:
      return reinterpret_cast<void*>(&fake_pack_p<kId>);
    case Shape::UNPACK_I:
      return reinterpret_cast<void*>(&fake_unpack_i<kId>);
    case Shape::UNPACK_V:
    case Shape::UNPACK_M:
      return reinterpret_cast<void*>(&fake_unpack_p<kId>);
    default:
      break;
  }
  if constexpr (std::is_floating_point_v<T>) {
    switch (shape) {
      case Shape::A_R:
        return reinterpret_cast<void*>(&fake_a_r<T, kId>);
      case Shape::AB_R:
        return reinterpret_cast<void*>(&fake_ab_r<T, kId>);
      case Shape::A_RR:
        return reinterpret_cast<void*>(&fake_a_rr<T, kId>);
      case Shape::AX_R:
        return reinterpret_cast<void*>(&fake_ax_r<T, kId>);
      case Shape::LINFRAC:
        return reinterpret_cast<void*>(&fake_linfrac<T, kId>);
      default:
        break;
    }
  } else {
    return reinterpret_cast<void*>(&fake_complex<kId>);
  }
  return nullptr;
}

// Installs three recording fakes in the table, calls each stub and checks which slot it reached.
template <typename T>
void check_stubs(const char* name, Shape shape, void** table, void* plain, void* ha, void* la, void* ep) {
  void* saved[3] = {table[0], table[1], table[2]};
  T in[2] = {}, out[2] = {}, out2[2] = {};
  void* const fakes[3] = {fake<T, 0>(shape), fake<T, 1>(shape), fake<T, 2>(shape)};
  for (int k = 0; k < 3; ++k) table[k] = fakes[k];
  const std::pair<void*, int> stubs[] = {{plain, 1}, {ha, 1}, {la, 0}, {ep, 2}};
  for (const auto& [stub, slot] : stubs) {
    g_last = {};
    if (!zok::vm::elementwise(shape)) {
      // The pack and unpack stubs widen n and the increment and add the flag 1.
      const int ix[2] = {};
      if (shape == Shape::PACK_I) reinterpret_cast<void (*)(int, const T*, int, T*)>(stub)(7, in, -3, out);
      if (shape == Shape::UNPACK_I) reinterpret_cast<void (*)(int, const T*, T*, int)>(stub)(7, in, out, -3);
      if (shape == Shape::PACK_V || shape == Shape::PACK_M)
        reinterpret_cast<void (*)(int, const T*, const int*, T*)>(stub)(7, in, ix, out);
      if (shape == Shape::UNPACK_V || shape == Shape::UNPACK_M)
        reinterpret_cast<void (*)(int, const T*, T*, const int*)>(stub)(7, in, out, ix);
      const bool strided = shape == Shape::PACK_I || shape == Shape::UNPACK_I;
      EXPECT_EQ(g_last.slot, slot) << name;
      EXPECT_EQ(g_last.n, 7) << name;
      EXPECT_EQ(g_last.flag, 1) << name;
      EXPECT_EQ(g_last.inc, strided ? -3 : 0) << name;
      EXPECT_EQ(g_last.p[0], in) << name;
      EXPECT_EQ(g_last.p[1], strided ? nullptr : static_cast<const void*>(ix)) << name;
      EXPECT_EQ(g_last.p[2], out) << name;
      continue;
    }
    if constexpr (std::is_floating_point_v<T>) {
      zok::test::call<T>(stub, shape, 7, in, in + 1, out, out2);
      const bool one_in = shape == Shape::A_R || shape == Shape::AX_R || shape == Shape::A_RR;
      const void* expect[3] = {in, one_in ? out : in + 1,
                               shape == Shape::A_RR ? out2
                               : one_in             ? nullptr
                                                    : out};
      EXPECT_EQ(g_last.slot, slot) << name;
      EXPECT_EQ(g_last.n, 7) << name;
      for (int j = 0; j < 3; ++j) EXPECT_EQ(g_last.p[j], expect[j]) << name << " argument " << j;
    } else {
      // Complex shapes (the scalar of zPowx by pointer: tests/vm/complex_test.cpp).
      reinterpret_cast<void (*)(int, const T*, T*, T*)>(stub)(7, in, out, out);
      EXPECT_EQ(g_last.slot, slot) << name;
      EXPECT_EQ(g_last.n, 7) << name;
      EXPECT_EQ(g_last.p[0], in) << name;
    }
  }
  for (int k = 0; k < 3; ++k) table[k] = saved[k];
}

TEST(Registry, StubsCallTheirSlotWithArgumentsUnchanged) {
#define ZOK_VM_FUNCTION(t, F, SHAPE, ...)                                                                    \
  check_stubs<ZOK_VM_T_##t>("v" #t #F, Shape::SHAPE, zok_yub_kernel_##t##F##_ttab,                           \
                            reinterpret_cast<void*>(&_yub##t##F), reinterpret_cast<void*>(&_yub##t##F##_HA), \
                            reinterpret_cast<void*>(&ZOK_VM_CAT(_yub##t##F, ZOK_VM_LA_SUFFIX_##t)),          \
                            reinterpret_cast<void*>(&ZOK_VM_CAT(_yub##t##F, ZOK_VM_EP_SUFFIX_##t)));
#include "zok/vm_functions.def"
#undef ZOK_VM_FUNCTION
}

TEST(Registry, CostTablesSitBehindTheKernelTables){
#define ZOK_VM_FUNCTION(t, F, SHAPE, SHARE, ROUND, CALLER, c0, c1, c2)                                      \
  {                                                                                                         \
    const char* table = reinterpret_cast<const char*>(zok_yub_kernel_##t##F##_ttab);                        \
    const char* costs = reinterpret_cast<const char*>(zok_yub_kernel_##t##F##_ctab);                        \
    EXPECT_EQ(costs - table, 24) << #t #F;                                                                  \
    const float expect[3] = {c0##f, c1##f, c2##f};                                                          \
    for (int k = 0; k < 3; ++k) EXPECT_EQ(zok_yub_kernel_##t##F##_ctab[k], expect[k]) << #t #F << " " << k; \
    uint32_t zero;                                                                                          \
    std::memcpy(&zero, &zok_yub_kernel_##t##F##_ctab[3], 4);                                                \
    EXPECT_EQ(zero, 0u) << #t #F;                                                                           \
    if (Share::SHARE == Share::ALL || Share::SHARE == Share::LAHA) {                                        \
      EXPECT_EQ(c0, c1) << #t #F;                                                                           \
    }                                                                                                       \
    if (Share::SHARE == Share::ALL || Share::SHARE == Share::LAEP) {                                        \
      EXPECT_EQ(c0, c2) << #t #F;                                                                           \
    }                                                                                                       \
  }
#include "zok/vm_functions.def"
#undef ZOK_VM_FUNCTION
}

// Every function's kernels come from the family its facts row names, in every slot, with the
// sharing of its row.
TEST(Registry, SlotSharingAndFamilyFollowTheRegistryOnEveryInstructionSet) {
  for (int f = 0; f < zok::vm::kFnCount; ++f) {
    const char* family = zok::vm::registered_family(static_cast<Fn>(f));
    EXPECT_STREQ(family == nullptr ? "(none)" : family, zok::vm::kFacts[f].family)
        << zok::vm::kFunctions[f].name;
  }
  for (zok::vm::Isa isa : zok::test::machine_isas()) {
    const auto& slots = *zok::vm::isa_kernels(isa);
    for (int f = 0; f < zok::vm::kFnCount; ++f) {
      const auto& in = zok::vm::kFunctions[f];
      const void* const* k = slots[f];
      const std::string what = std::string(in.name) + " on " + zok::vm::isa_name(isa);
      for (int s = 0; s < 3; ++s) ASSERT_NE(k[s], nullptr) << what << " slot " << s;
      EXPECT_EQ(k[0] == k[1], in.share == Share::ALL || in.share == Share::LAHA) << what;
      EXPECT_EQ(k[0] == k[2], in.share == Share::ALL || in.share == Share::LAEP) << what;
      EXPECT_EQ(k[1] == k[2], in.share == Share::ALL) << what;
    }
  }
}

// The hyperbolic rows carry the agreed sharing: three kernels each (the double EP kernels take
// their own series and logarithm on AVX-512, the float LA inverses run in float lanes, HA in double).
TEST(Registry, HyperbolicRowsShareTheAgreedSlots) {
  using enum Fn;
  const std::pair<Fn, Share> rows[] = {{sSinh, Share::NONE},  {dSinh, Share::NONE},  {sCosh, Share::NONE},
                                       {dCosh, Share::NONE},  {sTanh, Share::NONE},  {dTanh, Share::NONE},
                                       {sAsinh, Share::NONE}, {dAsinh, Share::NONE}, {sAcosh, Share::NONE},
                                       {dAcosh, Share::NONE}, {sAtanh, Share::NONE}, {dAtanh, Share::NONE}};
  for (const auto& [fn, share] : rows) EXPECT_EQ(zok::vm::info(fn).share, share) << zok::vm::info(fn).name;
}

// The processor class follows the CPUID vendor string and, on AMD's cores (Hygon's too), the width
// of their floating-point data paths: 256 bits take the choice measured on Zen 4, 512 bits the one
// measured on Zen 5; every other vendor takes the full-width one.
TEST(Registry, ProcessorClassFollowsTheVendorAndTheDataPathWidth) {
  using zok::vm::CpuClass;
  EXPECT_TRUE(zok::vendor_is_amd("AuthenticAMD"));
  EXPECT_TRUE(zok::vendor_is_amd("HygonGenuine"));
  EXPECT_FALSE(zok::vendor_is_amd("AuthenticAM_"));
  EXPECT_FALSE(zok::vendor_is_amd("CentaurHauls"));
  EXPECT_EQ(zok::vm::cpu_class_of(true, false), CpuClass::kAmd);
  EXPECT_EQ(zok::vm::cpu_class_of(true, true), CpuClass::kAmdFullWidth);
  EXPECT_EQ(zok::vm::cpu_class_of(false, true), CpuClass::kFullWidth);
  EXPECT_EQ(zok::vm::cpu_class_of(false, false), CpuClass::kFullWidth);
  // The width as the leaf states it, and as family and model give it where the leaf is hidden or
  // states neither width.
  EXPECT_TRUE(zok::amd_fp512(true, 0xF, 0x1A, 0x44));   // Zen 5 desktop, leaf: 128, 256, 512
  EXPECT_FALSE(zok::amd_fp512(true, 0x7, 0x19, 0x11));  // Zen 4 server, leaf: 128, 256
  EXPECT_FALSE(zok::amd_fp512(true, 0x7, 0x1A, 0x24));  // Zen 5 mobile, leaf: 256
  EXPECT_TRUE(zok::amd_fp512(true, 0x2, 0x1A, 0x02));   // Zen 5 server, leaf passed through bare
  EXPECT_TRUE(zok::amd_fp512(false, 0, 0x1A, 0x11));    // Zen 5 server, leaf hidden
  EXPECT_TRUE(zok::amd_fp512(false, 0, 0x1A, 0x44));
  EXPECT_FALSE(zok::amd_fp512(false, 0, 0x1A, 0x24));   // Zen 5 mobile, leaf hidden
  EXPECT_FALSE(zok::amd_fp512(false, 0, 0x19, 0x11));   // Zen 4, leaf hidden
  EXPECT_FALSE(zok::amd_fp512(true, 0x2, 0x17, 0x31));  // Zen 2 with a bare leaf
  const zok::CpuFeatures f = zok::detect_cpu_features();
  EXPECT_EQ(zok::vm::cpu_class(), zok::vm::cpu_class_of(f.amd, f.fp512));
}

// The tables hold, in each slot, the kernel of the widest supported set, or of the narrower set the
// function's facts row names for that slot on this processor's class (where the wider kernel was
// measured slower).
TEST(Registry, TablesHoldEachSlotsChosenInstructionSet) {
  const auto isas = zok::test::machine_isas();
  ASSERT_FALSE(isas.empty());
  // The test environment does not set ZOK_ISA, so the widest set is chosen.
  ASSERT_EQ(std::getenv("ZOK_ISA"), nullptr);
  EXPECT_EQ(zok::vm::selected_isa(), isas.back());
  const int cls = static_cast<int>(zok::vm::cpu_class());
  int narrower = 0;
  for (int f = 0; f < zok::vm::kFnCount; ++f)
    for (int s = 0; s < 3; ++s) {
      const zok::vm::Choice choice = zok::vm::kFacts[f].widest[cls][s];
      const zok::vm::Isa want = std::min(isas.back(), choice.isa);
      // The HA kernel only at the set the row names.
      const int from = choice.ha && want == choice.isa ? zok::vm::kHA : s;
      narrower += want != isas.back();
      EXPECT_EQ(zok::vm::table_isa(static_cast<Fn>(f), s), want) << zok::vm::kFunctions[f].name << " " << s;
      EXPECT_EQ(zok::vm::table_slot(static_cast<Fn>(f), s), from) << zok::vm::kFunctions[f].name << " " << s;
      EXPECT_EQ(zok::vm::kFunctions[f].table[s], (*zok::vm::isa_kernels(want))[f][from])
          << zok::vm::kFunctions[f].name << " slot " << s;
    }
  // On a machine with AVX-512 some slots are held at AVX2, and those take the AVX2 kernels.
  if (isas.back() == zok::vm::Isa::kAvx512) {
    EXPECT_GT(narrower, 0);
  }
  // Kernels of different sets are different code.
  if (isas.size() > 1) {
    EXPECT_NE((*zok::vm::isa_kernels(isas[0]))[0][1], (*zok::vm::isa_kernels(isas[1]))[0][1]);
  }
}

}  // namespace
