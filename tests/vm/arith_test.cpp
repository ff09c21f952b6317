// Arithmetic and rounding kernels: the stated special values and reports, floating-point control
// (caller's MXCSR restored, flush-to-zero only when the mode asks, caller's rounding for Rint and
// NearbyInt), on every instruction set this machine runs.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/vm/vm_test_support.h"

namespace {

using zok::test::KA;
using zok::test::KAB;
using zok::test::KARR;
using zok::test::KLF;
using zok::test::kSlotName;
using zok::test::on_fresh_thread;
using zok::test::Reports;
using zok::test::same_bits;
using zok::test::same_value;
using zok::test::with_reports;
using zok::vm::Fn;

constexpr float kInf = std::numeric_limits<float>::infinity();
class ArithTest : public zok::test::IsaTest {};

// Zero divisors report in every flavour (0/0 too); a NaN over zero reports only in HA.
TEST_P(ArithTest, DivZeroDivisorsInEveryFlavour) {
  const float a[5] = {1, 1, 0, 4, std::nanf("")}, b[5] = {1, 0, -0.0f, 2, 0};
  for (int slot = 0; slot < 3; ++slot) {
    float r[5];
    const Reports rep = with_reports([&] { k<KAB<float>>(Fn::sDiv, slot)(5, a, b, r); });
    const bool ha = slot == zok::vm::kHA;
    EXPECT_EQ(rep.index, (ha ? std::vector<int>{1, 2, 4} : std::vector<int>{1, 2})) << kSlotName[slot];
    EXPECT_EQ(rep.code, (ha ? std::vector<int>{2, 2, 2} : std::vector<int>{2, 2})) << kSlotName[slot];
    EXPECT_EQ(r[1], kInf) << kSlotName[slot];
    EXPECT_TRUE(std::isnan(r[2]) && std::isnan(r[4])) << kSlotName[slot];
    if (slot == zok::vm::kHA) {
      EXPECT_EQ(r[0], 1.0f);
      EXPECT_EQ(r[3], 2.0f);
    }
  }
  // The same inside a whole block and beyond it: one report per zero divisor, in element order.
  for (int slot = 0; slot < 3; ++slot) {
    std::vector<double> x(37, 3.0), y(37, 1.5), r(37);
    for (int z : {0, 5, 17, 18, 36}) y[z] = (z % 2) ? -0.0 : 0.0;
    const Reports rep =
        with_reports([&] { k<KAB<double>>(Fn::dDiv, slot)(37, x.data(), y.data(), r.data()); });
    EXPECT_EQ(rep.index, (std::vector<int>{0, 5, 17, 18, 36})) << kSlotName[slot];
    EXPECT_EQ(r[5], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(r[6], 2.0);
  }
}

TEST_P(ArithTest, FastDivisionFallsBackToExactOutsideItsRange) {
  // 3e38 lies beyond 2^126, where the reciprocal estimate is not trusted.
  for (int slot : {0, 2}) {
    std::vector<float> a(9, 1.0f), b(9, 3e38f), r(9);
    b[8] = 3.0f;
    k<KAB<float>>(Fn::sDiv, slot)(9, a.data(), b.data(), r.data());
    for (int i = 0; i < 8; ++i) EXPECT_EQ(r[i], 1.0f / 3e38f) << kSlotName[slot] << " " << i;
    std::vector<double> ad(5, 1.0), bd(5, 1e300), rd(5);
    k<KAB<double>>(Fn::dDiv, slot)(5, ad.data(), bd.data(), rd.data());
    for (double v : rd) EXPECT_EQ(v, 1.0 / 1e300) << kSlotName[slot];
  }
}

TEST_P(ArithTest, InverseOfZero) {
  const float a[3] = {2.0f, 0.0f, -0.0f};
  for (int slot = 0; slot < 3; ++slot) {
    float r[3];
    const Reports rep = with_reports([&] { k<KA<float>>(Fn::sInv, slot)(3, a, r); });
    EXPECT_EQ(rep.index, (std::vector<int>{1, 2})) << kSlotName[slot];
    EXPECT_EQ(r[1], kInf);
    EXPECT_EQ(r[2], -kInf);
    const double ad[2] = {0.0, 4.0};
    double rd[2];
    const Reports rep_d = with_reports([&] { k<KA<double>>(Fn::dInv, slot)(2, ad, rd); });
    // The double EP kernel delivers the infinity without a report.
    EXPECT_EQ(rep_d.index.size(), slot == zok::vm::kEP ? 0u : 1u) << kSlotName[slot];
    EXPECT_EQ(rd[0], std::numeric_limits<double>::infinity());
    EXPECT_NEAR(rd[1], 0.25, slot == zok::vm::kHA ? 0.0 : 0x1p-46);
  }
}

// Modf and Frac keep the sign of zero parts, give 0 fractions of infinities and huge values, and keep
// the fraction just below 2^52 (a block of in-range values takes the vector path).
TEST_P(ArithTest, ModfAndFracSpecialValues) {
  const float nan = std::nanf("");
  const float a[5] = {-3.75f, kInf, 1e10f, -0.0f, nan}, want_w[5] = {-3, kInf, 1e10f, -0.0f, nan},
              want_f[5] = {-0.75f, 0, 0, -0.0f, nan};
  float whole[5], frac[5];
  k<KARR<float>>(Fn::sModf)(5, a, whole, frac);
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(same_value(whole[i], want_w[i]) && same_value(frac[i], want_f[i])) << a[i];
  const double d[4] = {4503599627370495.5, -1.25, 0.999999999999, -7.0},
               want_dw[4] = {4503599627370495.0, -1, 0, -7}, want_df[4] = {0.5, -0.25, 0.999999999999, -0.0};
  double dw[4], df[4];
  k<KARR<double>>(Fn::dModf)(4, d, dw, df);
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(same_value(dw[i], want_dw[i]) && same_value(df[i], want_df[i])) << d[i];
  const float f[4] = {-2.0f, -kInf, 2.75f, -1.25f}, want_fr[4] = {-0.0f, -0.0f, 0.75f, -0.25f};
  float fr[4];
  k<KA<float>>(Fn::sFrac)(4, f, fr);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(same_value(fr[i], want_fr[i])) << f[i];
}

TEST_P(ArithTest, LinearFracWithConstantDenominator) {
  const float a[6] = {1, 2, 3, -4, 5, 6}, b[6] = {kInf, std::nanf(""), 0, 1, 2, 3};
  float r[6];
  k<KLF<float>>(Fn::sLinearFrac)(6, a, b, 3.0f, 1.0f, 0.0f, 4.0f, r);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r[i], (3.0f * a[i] + 1.0f) * 0.25f) << i;
  double rd[6];
  const double ad[6] = {1, 2, 3, -4, 5, 6}, bd[6] = {1, 2, 3, 4, 5, 6};
  k<KLF<double>>(Fn::dLinearFrac)(6, ad, bd, 2.0, 1.0, 0.5, -1.0, rd);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(rd[i], (2.0 * ad[i] + 1.0) / (0.5 * bd[i] - 1.0)) << i;
}

TEST_P(ArithTest, NothingHappensForNonPositiveCounts) {
  float a[4] = {1, 0, 1, 1}, r[4] = {7, 7, 7, 7};
  for (int n : {0, -1, -1000}) {
    const Reports rep = with_reports([&] {
      k<KAB<float>>(Fn::sDiv)(n, a, a, r);
      k<KA<float>>(Fn::sAbs)(n, a, r);
      k<KARR<float>>(Fn::sModf)(n, a, r, r);
    });
    EXPECT_TRUE(rep.index.empty());
    for (float v : r) EXPECT_EQ(v, 7.0f);
  }
}

struct Csr {
  explicit Csr(unsigned v) : saved(_mm_getcsr()) { _mm_setcsr(v); }
  ~Csr() { _mm_setcsr(saved); }
  unsigned saved;
};

TEST_P(ArithTest, CallersControlIsRestoredAndDenormalsKeptByDefault) {
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

TEST_P(ArithTest, FlushToZeroWhenTheModeAsksForIt) {
  zok::test::ModeOption env(nullptr);
  const auto out = on_fresh_thread([&] {
    _yubSetMode(ZOK_VM_FTZDAZ_ON);
    const unsigned before = _mm_getcsr();
    float a[2] = {1e-20f, 1e-40f}, b[2] = {1e-20f, 1.0f}, r[2];
    k<KAB<float>>(Fn::sMul)(2, a, b, r);
    double d[1] = {1e-310}, rd[1];
    k<KA<double>>(Fn::dSqr)(1, d, rd);
    return std::vector<double>{r[0], r[1], rd[0], static_cast<double>(_mm_getcsr() == before)};
  });
  EXPECT_EQ(out[0], 0.0);
  EXPECT_EQ(out[1], 0.0);
  EXPECT_EQ(out[2], 0.0);
  EXPECT_EQ(out[3], 1.0);
}

TEST_P(ArithTest, RintAndNearbyIntFollowTheCallersRounding) {
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

ZOK_VM_EVERY_ISA(ArithTest);

}  // namespace
