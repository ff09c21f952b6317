// Floating-point control of the vector kernels on every instruction set this machine runs: the
// caller's MXCSR comes back, denormals are kept unless the mode word asks to flush them (then they
// flush in every flavour), Rint and NearbyInt follow the caller's rounding, and a callback's
// replacement result is the one stored.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/vm/vm_test_support.h"

namespace {

using zok::test::KA;
using zok::test::KAB;
using zok::test::kSlotName;
using zok::test::on_fresh_thread;
using zok::test::Reports;
using zok::test::same_bits;
using zok::test::same_value;
using zok::test::with_reports;
using zok::vm::Fn;

constexpr float kInf = std::numeric_limits<float>::infinity();
class ControlTest : public zok::test::IsaTest {};

struct Csr {
  explicit Csr(unsigned v) : saved(_mm_getcsr()) { _mm_setcsr(v); }
  ~Csr() { _mm_setcsr(saved); }
  unsigned saved;
};

TEST_P(ControlTest, CallersControlIsRestoredAndDenormalsKeptByDefault) {
  const float tiny = 1e-20f;
  zok::test::ModeOption env(nullptr);  // denormal field 0: both off inside the kernel
  const float denormal = 1e-40f;
  const auto out = on_fresh_thread([&] {
    float a[2] = {tiny, denormal}, b[2] = {tiny, 1.0f}, r[2];
    bool restored;
    {
      // The caller runs with flush-to-zero, denormals-are-zero and upward rounding, flags clear.
      const unsigned caller = 0x1F80 | 0x8040 | 0x4000;
      Csr csr(caller);
      k<KAB<float>>(Fn::sMul)(2, a, b, r);
      restored = _mm_getcsr() == caller;
    }
    // Compared outside the caller's control, where denormals read as themselves.
    return std::vector<bool>{r[0] > 0.0f, same_bits(r[1], denormal), restored};
  });
  EXPECT_TRUE(out[0]) << "a denormal product was flushed";
  EXPECT_TRUE(out[1]) << "a denormal input was read as zero";
  EXPECT_TRUE(out[2]) << "the caller's MXCSR was not restored";
}

// Under the flushing mode denormal results become 0 and denormal arguments read as 0, in every
// flavour; under the keeping mode neither happens.
struct Flush {
  Fn fn;
  double a, b, flushed;
  int code;
};

template <typename T>
void check_flush(zok::vm::Isa isa, const Flush& c, int slot) {
  const T a = static_cast<T>(c.a), b = static_cast<T>(c.b);
  for (uint32_t denormals : {ZOK_VM_FTZDAZ_ON, ZOK_VM_FTZDAZ_OFF}) {
    T r = 77;
    const Reports rep = with_reports(
        [&] {
          const T scalars[4] = {b, b, b, b};
          zok::vm::call_any<T>((*zok::vm::isa_kernels(isa))[static_cast<int>(c.fn)][slot],
                               zok::vm::info(c.fn).shape, 1, &a, &b, &r, &r, scalars);
        },
        ZOK_VM_HA | denormals | ZOK_VM_ERRMODE_CALLBACK);
    const std::string what = std::string(zok::vm::info(c.fn).name) + " " + kSlotName[slot] + " of " +
                             std::to_string(c.a) + (denormals == ZOK_VM_FTZDAZ_ON ? " flushing" : " keeping");
    if (denormals == ZOK_VM_FTZDAZ_ON) {
      EXPECT_TRUE(same_value(static_cast<double>(r), c.flushed)) << what << " gave " << r;
      EXPECT_EQ(rep.code, c.code ? std::vector<int>{c.code} : std::vector<int>{}) << what;
    } else {
      EXPECT_FALSE(same_value(static_cast<double>(r), c.flushed)) << what;
    }
  }
}

TEST_P(ControlTest, DenormalsFlushOnlyWhenTheModeAsks) {
  const double inf = std::numeric_limits<double>::infinity();
  const Flush cases[] = {
      {Fn::sMul, 1e-20, 1e-20, 0, 0}, {Fn::sMul, 1e-40, 1, 0, 0},       {Fn::dSqr, 1e-160, 0, 0, 0},
      {Fn::sExp, -100, 0, 0, 4},      {Fn::dExp, -740, 0, 0, 4},        {Fn::sLn, 1e-40, 0, -inf, 2},
      {Fn::sSqrt, 1e-40, 0, 0, 0},    {Fn::sInvSqrt, 1e-40, 0, inf, 2}, {Fn::sPowx, 1e-40, 0.5, 0, 0},
  };
  for (const Flush& c : cases)
    for (int slot = 0; slot < 3; ++slot) {
      if (zok::vm::info(c.fn).type == 's') {
        check_flush<float>(GetParam(), c, slot);
      } else {
        check_flush<double>(GetParam(), c, slot);
      }
    }
}

TEST_P(ControlTest, RintAndNearbyIntFollowTheCallersRounding) {
  const float a[3] = {1.2f, -1.2f, 2.5f};
  float r[3];
  {
    Csr up(0x1F80 | 0x4000);
    k<KA<float>>(Fn::sRint)(3, a, r);
    EXPECT_EQ(r[0], 2.0f);
    EXPECT_EQ(r[1], -1.0f);
    EXPECT_EQ(r[2], 3.0f);
    _mm_setcsr(0x1F80);  // nearest, flags clear
    k<KA<float>>(Fn::sNearbyInt)(3, a, r);
    EXPECT_EQ(_mm_getcsr() & 0x20u, 0u) << "NearbyInt raised inexact";
    EXPECT_EQ(r[2], 2.0f);
    k<KA<float>>(Fn::sRint)(3, a, r);
    EXPECT_NE(_mm_getcsr() & 0x20u, 0u) << "Rint did not raise inexact";
  }
  // Floor keeps its own direction whatever the caller's.
  Csr up(0x1F80 | 0x4000);
  k<KA<float>>(Fn::sFloor)(3, a, r);
  EXPECT_EQ(r[0], 1.0f);
  EXPECT_EQ(r[1], -2.0f);
}

// The caller's word comes back exactly, flags included, whether or not the kernel had to change the
// control: flags raised inside do not reach the caller, flags the caller had stay set.
TEST_P(ControlTest, CallersFlagsComeBackExactly) {
  zok::test::ModeOption env(nullptr);
  struct Case {
    Fn fn;
    float a, b;
    unsigned caller;
  };
  const Case cases[] = {
      {Fn::sAdd, 1.0f, 1e-9f, 0x1F80},              // inexact inside, control already right
      {Fn::sDiv, 1.0f, 0.0f, 0x1F80},               // divide-by-zero inside
      {Fn::sFloor, 2.5f, 0, 0x1F80 | 0x20},         // the caller's inexact flag stays
      {Fn::sMul, 1e-30f, 1e-30f, 0x1F80 | 0x6000},  // control changed, underflow inside
      {Fn::sSqrt, -1.0f, 0, 0x1F80 | 0x01},         // invalid inside, the caller's invalid flag stays
  };
  // Both ways of restoring the word: read first and written only when it changed, or written back
  // unread (the processor class picks one).
  const bool class_choice = zok::vm::g_csr_write_back;
  for (const bool write_back : {false, true}) {
    zok::vm::g_csr_write_back = write_back;
    for (const Case& c : cases) {
      const unsigned after = on_fresh_thread([&] {
        float a[17], b[17], r[17];
        for (int i = 0; i < 17; ++i) a[i] = c.a, b[i] = c.b;
        const Csr csr(c.caller);
        zok::test::call<float>(zok::test::kernel<void*>(GetParam(), c.fn, zok::vm::kHA),
                               zok::vm::info(c.fn).shape, 17, a, b, r, r);
        return _mm_getcsr();
      });
      EXPECT_EQ(after, c.caller) << zok::vm::info(c.fn).name << (write_back ? " (written back unread)" : "");
    }
  }
  zok::vm::g_csr_write_back = class_choice;
}

int32_t zero_on_overflow(ErrorContext* ctx) {
  if (ctx->code == ZOK_VM_STATUS_OVERFLOW) ctx->res1 = 0;
  return 0;
}

// The callback's replacement result is the one stored, in a block and alone; the status keeps the
// overflow.
TEST_P(ControlTest, ACallbackReplacesAnOverflowResult) {
  zok::test::ModeOption env(nullptr);
  on_fresh_thread([&] {
    _yubSetErrorCallBack(zero_on_overflow);
    for (int slot = 0; slot < 3; ++slot) {
      std::vector<float> a(19, 1.0f), r(19);
      a[3] = a[18] = 100.0f;
      k<KA<float>>(Fn::sExp, slot)(19, a.data(), r.data());
      EXPECT_EQ(r[3], 0.0f) << kSlotName[slot];
      EXPECT_EQ(r[18], 0.0f) << kSlotName[slot];
      EXPECT_NEAR(r[4], 2.7182817f, 2e-3f) << kSlotName[slot];
    }
    EXPECT_EQ(_yubGetErrStatus(), 3);
    return 0;
  });
}

ZOK_VM_EVERY_ISA(ControlTest);

}  // namespace
