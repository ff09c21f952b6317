// Floating-point control of the vector kernels on every instruction set this machine runs: the
// caller's MXCSR comes back, denormals are kept unless the mode word asks to flush them (then they
// flush in every flavour), Rint and NearbyInt follow the caller's rounding, and a callback's
// replacement result is the one stored.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

class ControlTest : public zok::test::IsaTest {};

struct Csr {
  explicit Csr(unsigned v) : saved(_mm_getcsr()) { _mm_setcsr(v); }
  ~Csr() { _mm_setcsr(saved); }
  unsigned saved;
};

// Sets whether the kernels treat a read of MXCSR as dear, which changes how they restore it and
// lets the cheap AVX-512 kernels run at a fixed rounding without it; both ways are tested on every
// machine, whatever its processor class picks.
class CsrReadCost {
 public:
  explicit CsrReadCost(bool costly) : class_choice_(zok::vm::g_csr_read_costly) {
    zok::vm::g_csr_read_costly = costly;
  }
  ~CsrReadCost() { zok::vm::g_csr_read_costly = class_choice_; }
  CsrReadCost(const CsrReadCost&) = delete;
  CsrReadCost& operator=(const CsrReadCost&) = delete;

 private:
  bool class_choice_;
};

// Under any caller's control (directed rounding, flush-to-zero, denormals-are-zero, each alone and
// all together) the kernels that keep control of their own (HA slots here) round to nearest and keep
// denormals, and the caller's MXCSR comes back. Expected values come from wider arithmetic, exact before its
// one rounding to nearest.
TEST_P(ControlTest, CallersControlIsRestoredAndDenormalsKeptByDefault) {
  zok::test::ModeOption env(nullptr);  // denormal field 0: both off inside the kernel
  const float tiny = 1e-20f, denormal = 1e-40f, f1 = 1.0f + 0x1p-12f, q = 0x1p-25f;
  const double d1 = 1.0 + 0x1p-27;
  const float want_mul = static_cast<float>(double{tiny} * tiny), want_add = static_cast<float>(1.0 + q);
  const float want_sqr = static_cast<float>(double{f1} * f1);
  const double want_dsqr = static_cast<double>(static_cast<long double>(d1) * d1);
  // A float quotient rounded once from double is the correctly rounded one; 1/3 lies far from a
  // tie between doubles, so the long double quotient rounds to the nearest double.
  const float want_third = static_cast<float>(1.0 / 3.0);
  const double want_dthird = static_cast<double>(1.0L / 3.0L);
  for (const bool costly : {false, true})
    for (const unsigned control : {0x4000u | 0x8040u, 0x8000u, 0x0040u, 0x4000u, 0x2000u, 0u}) {
      const CsrReadCost cost(costly);
      const unsigned caller = 0x1F80 | control;  // flags clear
      const auto out = on_fresh_thread([&] {
        float a[3] = {tiny, denormal, 1.0f}, b[3] = {tiny, 1.0f, q}, r[3], sq[2], fl[1];
        const float sa[2] = {f1, -f1}, fa[1] = {-denormal};
        const double da[1] = {d1};
        const float one[1] = {1.0f}, three[1] = {3.0f};
        const double done[1] = {1.0}, dthree[1] = {3.0};
        double dsq[1], dq[1];
        float quo[2];
        bool restored;
        {
          Csr csr(caller);
          k<KAB<float>>(Fn::sMul)(2, a, b, r);
          k<KAB<float>>(Fn::sAdd)(1, a + 2, b + 2, r + 2);
          k<KA<float>>(Fn::sSqr)(2, sa, sq);
          k<KA<float>>(Fn::sFloor)(1, fa, fl);
          k<KA<double>>(Fn::dSqr)(1, da, dsq);
          k<KAB<float>>(Fn::sDiv)(1, one, three, quo);
          k<KA<float>>(Fn::sInv)(1, three, quo + 1);
          k<KAB<double>>(Fn::dDiv)(1, done, dthree, dq);
          restored = _mm_getcsr() == caller;
        }
        // Compared outside the caller's control, where denormals read as themselves.
        return std::vector<bool>{same_bits(r[0], want_mul),     same_bits(r[1], denormal),
                                 same_bits(r[2], want_add),     same_bits(sq[0], want_sqr),
                                 same_bits(sq[1], want_sqr),    fl[0] == -1.0f,
                                 same_bits(dsq[0], want_dsqr),  restored,
                                 same_bits(quo[0], want_third), same_bits(quo[1], want_third),
                                 same_bits(dq[0], want_dthird)};
      });
      char word[16];
      std::snprintf(word, sizeof word, "%#x", caller);
      const std::string what = std::string(" under caller ") + word + (costly ? ", read dear" : "");
      EXPECT_TRUE(out[0]) << "a denormal product was flushed or misrounded" << what;
      EXPECT_TRUE(out[1]) << "a denormal input was read as zero" << what;
      EXPECT_TRUE(out[2]) << "a sum was not rounded to nearest" << what;
      EXPECT_TRUE(out[3] && out[4]) << "a float square was not rounded to nearest" << what;
      EXPECT_TRUE(out[5]) << "Floor read a denormal as zero" << what;
      EXPECT_TRUE(out[6]) << "a double square was not rounded to nearest" << what;
      EXPECT_TRUE(out[7]) << "the caller's MXCSR was not restored" << what;
      EXPECT_TRUE(out[8] && out[9]) << "a float quotient was not rounded to nearest" << what;
      EXPECT_TRUE(out[10]) << "a double quotient was not rounded to nearest" << what;
    }
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
      {Fn::sAdd, 1e-40, 0, 0, 0},     {Fn::sFloor, -1e-40, 0, -0.0, 0}, {Fn::dFloor, -1e-310, 0, -0.0, 0},
  };
  for (const bool costly : {false, true})
    for (const Flush& c : cases)
      for (int slot = 0; slot < 3; ++slot) {
        const CsrReadCost cost(costly);
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

// Abs runs under the caller's control and gives what a * ((a & sign) | 1) gives under it, bit for
// bit and flag for flag: NaNs quieted with their sign, denormals flushed by the caller's FTZ and DAZ,
// the invalid flag for a signalling NaN and the denormal flag for a denormal argument. The reference
// is that product in scalar arithmetic under the same MXCSR. 70 elements, the special ones in blocks
// and tails; each array holds one kind of special element, so a flag comes from it alone.
template <typename T, typename U>
void abs_as_the_product(zok::vm::Isa isa) {
  const U sign = U(1) << (8 * sizeof(T) - 1), quiet = sign >> (sizeof(T) == 4 ? 9 : 12);
  const U exp_all = sizeof(T) == 4 ? 0x7F800000u : 0x7FF0000000000000ull;
  const U kinds[] = {exp_all | quiet | 5, sign | exp_all | 3, 1, sign | 7,
                     0};  // qNaN, -sNaN, denormals, none
  const auto fn = sizeof(T) == 4 ? Fn::sAbs : Fn::dAbs;
  constexpr int n = 70;
  for (const unsigned csr : {0x1F80u, 0x1FC0u, 0x9F80u, 0x9FC0u})  // none, DAZ, FTZ, both
    for (const U kind : kinds) {
      std::vector<T> a(n), r(n);
      for (int i = 0; i < n; ++i) a[i] = static_cast<T>((i % 2 ? -1.5 : 2.25) * (i + 1));
      a[3] = T(-0.0);
      a[9] = -std::numeric_limits<T>::infinity();
      if (kind != 0)
        for (const int i : {1, 40, 67}) std::memcpy(&a[i], &kind, sizeof(T));
      U want_flags = 0;
      std::vector<U> want(n);
      {
        Csr c(csr);
        for (int i = 0; i < n; ++i) {
          // The multiply in assembly: the compiler folds x * copysign(1, x) into fabs.
          T x = a[i], m = std::copysign(T(1), x);
          if constexpr (sizeof(T) == 4) {
            __asm__ volatile("mulss %1, %0" : "+x"(m) : "x"(x));
          } else {
            __asm__ volatile("mulsd %1, %0" : "+x"(m) : "x"(x));
          }
          std::memcpy(&want[i], &m, sizeof(T));
        }
        want_flags = _mm_getcsr() & 0x3Fu;
      }
      unsigned got_flags = 0;
      {
        Csr c(csr);
        zok::test::kernel<KA<T>>(isa, fn, zok::vm::kHA)(n, a.data(), r.data());
        got_flags = _mm_getcsr() & 0x3Fu;
      }
      for (int i = 0; i < n; ++i) {
        U got;
        std::memcpy(&got, &r[i], sizeof(T));
        EXPECT_EQ(got, want[i]) << i << " csr " << std::hex << csr << " kind " << kind;
      }
      EXPECT_EQ(got_flags, want_flags) << std::hex << "csr " << csr << " kind " << kind;
    }
}
TEST_P(ControlTest, AbsIsTheProductUnderTheCallersControl) {
  abs_as_the_product<float, uint32_t>(GetParam());
  abs_as_the_product<double, uint64_t>(GetParam());
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
  // Both ways of restoring the word: read first and written only when it changed, or (where a read
  // is dear) written back unread, or never touched by the kernels that run at a fixed rounding.
  for (const bool write_back : {false, true}) {
    const CsrReadCost cost(write_back);
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
