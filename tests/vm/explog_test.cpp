// Exponential and logarithm kernels: special values, thresholds and reports of every flavour on
// every instruction set this machine runs; a reported element in every lane and tail position; a
// callback replacing a result; flush-to-zero. Values are checked against the C
// library in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/vm/vm_test_support.h"

namespace {

using zok::test::bound;
using zok::test::KA;
using zok::test::kernel;
using zok::test::kSlotName;
using zok::test::on_fresh_thread;
using zok::test::Reports;
using zok::test::with_reports;
using zok::vm::Fn;

constexpr float kInfF = std::numeric_limits<float>::infinity();
constexpr double kInfD = std::numeric_limits<double>::infinity();

// |got - want| within `ulps` units in the last place of want's binade (in T).
template <typename T>
bool near_ulps(T got, double want, double ulps) {
  if (std::isnan(want)) return std::isnan(got);
  if (std::isinf(want)) return got == want;
  const double ulp = std::max(std::ldexp(1.0, std::ilogb(want == 0 ? std::numeric_limits<T>::min() : want) -
                                                  std::numeric_limits<T>::digits + 1),
                              static_cast<double>(std::numeric_limits<T>::denorm_min()));
  return std::fabs(static_cast<double>(got) - want) <= ulps * ulp;
}

class ExpLogTest : public zok::test::IsaTest {};

// Float Exp: the special vector (with the last finite argument), then the edge of the reported underflow
// range and the two zero thresholds (the LA and EP one lies where e^x is half the smallest denormal).
TEST_P(ExpLogTest, FloatExpSpecialsAndThresholdsInEveryFlavour) {
  const float a[15] = {0,
                       1,
                       -1,
                       88.72283172607422f,
                       88.72284f,
                       -87.4f,
                       -110,
                       std::nanf(""),
                       kInfF,
                       -kInfF,
                       -87.3365478515625f,
                       -87.33655548095703f,
                       -103.97208404541016f,
                       -103.97207641601562f,
                       -103.27893829345703f};
  const float dmin = std::numeric_limits<float>::denorm_min();
  for (int slot = 0; slot < 3; ++slot) {
    float r[15];
    const Reports rep = with_reports([&] { k<KA<float>>(Fn::sExp, slot)(15, a, r); });
    const std::string what = kSlotName[slot];
    EXPECT_EQ(rep.index, (std::vector<int>{4, 5, 6, 11, 12, 13, 14})) << what;
    EXPECT_EQ(rep.code, (std::vector<int>{3, 4, 4, 4, 4, 4, 4})) << what;
    for (int i : {0, 1, 2, 3, 5, 10, 11})
      EXPECT_TRUE(near_ulps<float>(r[i], std::exp(static_cast<double>(a[i])), bound(slot, true)))
          << what << " e^" << a[i] << " = " << r[i];
    EXPECT_EQ(r[4], kInfF) << what;
    EXPECT_EQ(std::fpclassify(r[5]), FP_SUBNORMAL) << what;
    EXPECT_TRUE(r[6] == 0.0f && !std::signbit(r[6])) << what;
    EXPECT_TRUE(std::isnan(r[7])) << what;
    EXPECT_EQ(r[8], kInfF) << what;
    EXPECT_EQ(r[9], 0.0f) << what;
    EXPECT_EQ(r[12], 0.0f) << what;
    EXPECT_EQ(r[13], slot == zok::vm::kHA ? 0.0f : dmin) << what;
    EXPECT_EQ(r[14], slot == zok::vm::kHA ? 0.0f : dmin) << what;
    if (slot == zok::vm::kLA) {
      EXPECT_EQ(r[0], 1.0f);
    }
  }
}

TEST_P(ExpLogTest, DoubleExpThresholds) {
  // Beside 709.78 and 709.79, -740 and -746: the last finite argument and the overflow threshold,
  // a normal result near the underflow threshold, the threshold itself (not reported) and the zero
  // threshold; then NaN, the infinities and 0, not reported.
  const double a[13] = {709.78,
                        709.79,
                        -740,
                        -746,
                        std::nextafter(709.7827128933841, 0.0),
                        709.7827128933841,
                        -708.39,
                        -708.3964185322642,
                        -745.1332191019412,
                        std::nan(""),
                        kInfD,
                        -kInfD,
                        0.0};
  for (int slot = 0; slot < 3; ++slot) {
    double r[13];
    const Reports rep = with_reports([&] { k<KA<double>>(Fn::dExp, slot)(13, a, r); });
    const std::string what = kSlotName[slot];
    EXPECT_EQ(rep.index, (std::vector<int>{1, 2, 3, 5, 8})) << what;
    EXPECT_EQ(rep.code, (std::vector<int>{3, 4, 4, 3, 4})) << what;
    EXPECT_EQ(r[1], kInfD) << what;
    EXPECT_EQ(std::fpclassify(r[2]), FP_SUBNORMAL) << what;
    EXPECT_EQ(r[3], 0.0) << what;
    EXPECT_EQ(r[5], kInfD) << what;
    EXPECT_EQ(r[8], 0.0) << what;
    EXPECT_TRUE(std::isnan(r[9])) << what;
    EXPECT_EQ(r[10], kInfD) << what;
    EXPECT_EQ(r[11], 0.0) << what;
    for (int i : {0, 2, 4, 6, 7, 12})
      EXPECT_TRUE(near_ulps<double>(r[i], std::exp(a[i]), bound(slot, false))) << what << " e^" << a[i];
  }
}

// The logarithms share their special values and reports: zeros, negatives, infinities, denormals.
template <typename T>
void check_log_specials(zok::vm::Isa isa, Fn fn, int slot, double (*ref)(double)) {
  using L = std::numeric_limits<T>;
  const std::string what = std::string(zok::vm::info(fn).name) + " " + kSlotName[slot];
  const T a[8] = {T(1),  T(2.718281828459045), T(0),           -T(0),
                  T(-1), L::infinity(),        -L::infinity(), L::denorm_min() * 7};
  T r[8];
  const Reports rep = with_reports([&] { kernel<KA<T>>(isa, fn, slot)(8, a, r); });
  EXPECT_EQ(rep.index, (std::vector<int>{2, 3, 4, 6})) << what;
  EXPECT_EQ(rep.code, (std::vector<int>{2, 2, 1, 1})) << what;
  EXPECT_EQ(r[0], T(0)) << what;
  EXPECT_EQ(r[2], -L::infinity()) << what;
  EXPECT_EQ(r[3], -L::infinity()) << what;
  EXPECT_TRUE(std::isnan(r[4])) << what;
  EXPECT_EQ(r[5], L::infinity()) << what;
  EXPECT_TRUE(std::isnan(r[6])) << what;
  for (int i : {1, 7})
    EXPECT_TRUE(near_ulps<T>(r[i], ref(static_cast<double>(a[i])), bound(slot, sizeof(T) == 4)))
        << what << " of " << a[i] << " = " << r[i];
}

TEST_P(ExpLogTest, LogarithmSpecialVectorsInEveryFlavour) {
  double (*const ln)(double) = std::log, (*const lg)(double) = std::log10;
  for (int slot = 0; slot < 3; ++slot) {
    check_log_specials<float>(GetParam(), Fn::sLn, slot, ln);
    check_log_specials<double>(GetParam(), Fn::dLn, slot, ln);
    check_log_specials<float>(GetParam(), Fn::sLog10, slot, lg);
    check_log_specials<double>(GetParam(), Fn::dLog10, slot, lg);
  }
}

// Log1p: -1 is a singularity, below it a domain error; -0 keeps its sign, tiny arguments are exact.
// Expm1: -1 below the range, the overflow reported; every flavour, float and double.
template <typename T>
void log1p_expm1_edges(zok::vm::Isa isa, int slot, Fn log1p, Fn expm1, T tiny, T over, T under, T big) {
  const T inf = std::numeric_limits<T>::infinity();
  const std::string what = std::string(zok::vm::info(log1p).name) + " " + kSlotName[slot];
  const T a[6] = {-1, -2, -inf, -T(0), tiny, inf};
  T r[6];
  Reports rep = with_reports([&] { kernel<KA<T>>(isa, log1p, slot)(6, a, r); });
  EXPECT_EQ(rep.index, (std::vector<int>{0, 1, 2})) << what;
  EXPECT_EQ(rep.code, (std::vector<int>{2, 1, 1})) << what;
  EXPECT_EQ(r[0], -inf) << what;
  EXPECT_TRUE(std::isnan(r[1]) && std::isnan(r[2])) << what;
  EXPECT_TRUE(r[3] == T(0) && std::signbit(r[3])) << what << ": log1p(-0) keeps the sign";
  EXPECT_EQ(r[4], tiny) << what;
  EXPECT_EQ(r[5], inf) << what;
  const T e[6] = {-200, over, -inf, inf, under, big};
  rep = with_reports([&] { kernel<KA<T>>(isa, expm1, slot)(6, e, r); });
  EXPECT_EQ(rep.index, (std::vector<int>{1})) << what;
  EXPECT_EQ(rep.code, (std::vector<int>{3})) << what;
  for (int i : {0, 2, 4}) EXPECT_EQ(r[i], T(-1)) << what << " expm1 of " << e[i];
  EXPECT_EQ(r[1], inf) << what;
  EXPECT_EQ(r[3], inf) << what;
  EXPECT_TRUE(near_ulps<T>(r[5], std::expm1(static_cast<double>(big)), bound(slot, sizeof(T) == 4))) << what;
}

TEST_P(ExpLogTest, Log1pAndExpm1Edges) {
  for (int slot = 0; slot < 3; ++slot) {
    log1p_expm1_edges<float>(GetParam(), slot, Fn::sLog1p, Fn::sExpm1, 1e-30f, 100.0f, -90.0f, 88.0f);
    log1p_expm1_edges<double>(GetParam(), slot, Fn::dLog1p, Fn::dExpm1, 1e-300, 710.0, -800.0, 709.5);
  }
}

// One reported element at every position of arrays of every length up to three blocks: exactly
// that element is reported, and every other result equals the result of the element alone.
template <typename T>
void one_report_anywhere(KA<T> kern, T ordinary_lo, T ordinary_hi, T bad, int code, const std::string& what) {
  for (int n = 1; n <= 40; ++n) {
    std::vector<T> a(n), alone(n);
    for (int i = 0; i < n; ++i) a[i] = ordinary_lo + (ordinary_hi - ordinary_lo) * T(i) / T(n);
    for (int i = 0; i < n; ++i) with_reports([&] { kern(1, &a[i], &alone[i]); });
    for (int p = 0; p < n; ++p) {
      std::vector<T> b = a, r(n + 1, T(77));
      b[p] = bad;
      const Reports rep = with_reports([&] { kern(n, b.data(), r.data()); });
      ASSERT_EQ(rep.index, (std::vector<int>{p})) << what << " n=" << n;
      ASSERT_EQ(rep.code, (std::vector<int>{code})) << what << " n=" << n;
      for (int i = 0; i < n; ++i) {
        if (i != p) {
          ASSERT_EQ(r[i], alone[i]) << what << " n=" << n << " bad at " << p << ", element " << i;
        }
      }
      ASSERT_EQ(r[n], T(77)) << what << " wrote past n=" << n;
    }
  }
}

TEST_P(ExpLogTest, AReportedElementInEveryLaneAndTailPosition) {
  for (int slot = 0; slot < 3; ++slot) {
    const std::string s = kSlotName[slot];
    one_report_anywhere<float>(k<KA<float>>(Fn::sExp, slot), -5.0f, 5.0f, 100.0f, 3, "sExp " + s);
    one_report_anywhere<double>(k<KA<double>>(Fn::dExp, slot), -5.0, 5.0, -1000.0, 4, "dExp " + s);
    one_report_anywhere<float>(k<KA<float>>(Fn::sExpm1, slot), -3.0f, 3.0f, 95.0f, 3, "sExpm1 " + s);
    one_report_anywhere<double>(k<KA<double>>(Fn::dExpm1, slot), -3.0, 3.0, 720.0, 3, "dExpm1 " + s);
    one_report_anywhere<float>(k<KA<float>>(Fn::sLn, slot), 0.1f, 9.0f, -1.0f, 1, "sLn " + s);
    one_report_anywhere<double>(k<KA<double>>(Fn::dLn, slot), 0.1, 9.0, 0.0, 2, "dLn " + s);
    one_report_anywhere<float>(k<KA<float>>(Fn::sLog10, slot), 0.1f, 9.0f, 0.0f, 2, "sLog10 " + s);
    one_report_anywhere<double>(k<KA<double>>(Fn::dLog10, slot), 0.1, 9.0, -3.0, 1, "dLog10 " + s);
    one_report_anywhere<float>(k<KA<float>>(Fn::sLog1p, slot), -0.5f, 9.0f, -1.0f, 2, "sLog1p " + s);
    one_report_anywhere<double>(k<KA<double>>(Fn::dLog1p, slot), -0.5, 9.0, -7.0, 1, "dLog1p " + s);
  }
}

int32_t zero_on_overflow(ErrorContext* ctx) {
  if (ctx->code == ZOK_VM_STATUS_OVERFLOW) ctx->res1 = 0;
  return 0;
}

// The callback's replacement result is the one stored; the status keeps the overflow.
TEST_P(ExpLogTest, ACallbackReplacesAnOverflowResult) {
  zok::test::ModeOption env(nullptr);
  on_fresh_thread([&] {
    _yubSetErrorCallBack(zero_on_overflow);
    for (int slot = 0; slot < 3; ++slot) {
      const float a[2] = {100.0f, 1.0f};
      float r[2];
      k<KA<float>>(Fn::sExp, slot)(2, a, r);
      EXPECT_EQ(r[0], 0.0f) << kSlotName[slot];
      EXPECT_TRUE(near_ulps<float>(r[1], std::exp(1.0), bound(slot, true))) << kSlotName[slot];
    }
    EXPECT_EQ(_yubGetErrStatus(), 3);
    return 0;
  });
}

// Under the flushing mode denormal results become 0 and denormal arguments read as 0; kept otherwise.
TEST_P(ExpLogTest, DenormalsFlushWhenTheModeAsksForIt) {
  zok::test::ModeOption env(nullptr);
  on_fresh_thread([&] {
    for (int slot = 0; slot < 3; ++slot) {
      _yubSetMode(ZOK_VM_FTZDAZ_ON | ZOK_VM_ERRMODE_IGNORE);
      const float a[2] = {-100.0f, 1e-40f};
      float re[1], rl[1];
      k<KA<float>>(Fn::sExp, slot)(1, a, re);
      EXPECT_EQ(re[0], 0.0f) << kSlotName[slot] << ": e^-100 not flushed";
      _yubClearErrStatus();
      k<KA<float>>(Fn::sLn, slot)(1, a + 1, rl);
      EXPECT_EQ(rl[0], -kInfF) << kSlotName[slot] << ": 1e-40 not read as zero";
      EXPECT_EQ(_yubGetErrStatus(), ZOK_VM_STATUS_SING) << kSlotName[slot];
      const double d[1] = {-740.0};
      double rd[1];
      k<KA<double>>(Fn::dExp, slot)(1, d, rd);
      EXPECT_EQ(rd[0], 0.0) << kSlotName[slot];
      _yubSetMode(ZOK_VM_FTZDAZ_OFF | ZOK_VM_ERRMODE_IGNORE);
      k<KA<float>>(Fn::sExp, slot)(1, a, re);
      EXPECT_GT(re[0], 0.0f) << kSlotName[slot];
    }
    return 0;
  });
}

ZOK_VM_EVERY_ISA(ExpLogTest);

}  // namespace
