// Exponential and logarithm kernels: special values, thresholds and reports of every flavour on
// every instruction set this machine runs; a reported element in every lane and tail position; a
// callback replacing a result; flush-to-zero; the exported stubs. Values are checked against the C
// library in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/vm/vm_test_support.h"

namespace {

using zok::test::KA;
using zok::test::kernel;
using zok::test::machine_isas;
using zok::test::on_fresh_thread;
using zok::test::Reports;
using zok::vm::Fn;
using zok::vm::Isa;

constexpr float kInfF = std::numeric_limits<float>::infinity();
constexpr double kInfD = std::numeric_limits<double>::infinity();
const char* const kSlotName[] = {"LA", "HA", "EP"};

template <typename Fn_>
Reports with_reports(Fn_ fn) {
  zok::test::ModeOption env(nullptr);
  return on_fresh_thread([&] {
    Reports rep;
    zok::test::t_reports = &rep;
    _yubSetErrorCallBack(zok::test::record_report);
    fn();
    return rep;
  });
}

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

// EP may lose half the bits; LA 4 ulp, HA 1.
double bound(int slot, bool is_float) {
  if (slot == zok::vm::kEP) return is_float ? 4096.0 : 67108864.0;
  return slot == zok::vm::kLA ? 4.0 : 1.0;
}

class ExpLogTest : public testing::TestWithParam<Isa> {
 protected:
  template <typename T>
  KA<T> k(Fn fn, int slot) const {
    return kernel<KA<T>>(GetParam(), fn, slot);
  }
};

TEST_P(ExpLogTest, FloatExpSpecialVectorInEveryFlavour) {
  const float a[10] = {0, 1, -1, 88.72283f, 88.72284f, -87.4f, -110, std::nanf(""), kInfF, -kInfF};
  for (int slot = 0; slot < 3; ++slot) {
    float r[10];
    const Reports rep = with_reports([&] { k<float>(Fn::sExp, slot)(10, a, r); });
    const std::string what = kSlotName[slot];
    EXPECT_EQ(rep.index, (std::vector<int>{4, 5, 6})) << what;
    EXPECT_EQ(rep.code, (std::vector<int>{3, 4, 4})) << what;
    for (int i : {0, 1, 2, 3, 5})
      EXPECT_TRUE(near_ulps<float>(r[i], std::exp(static_cast<double>(a[i])), bound(slot, true)))
          << what << " e^" << a[i] << " = " << r[i];
    EXPECT_GT(r[3], 3.4e38f) << what;
    EXPECT_TRUE(std::isfinite(r[3])) << what;
    EXPECT_EQ(r[4], kInfF) << what;
    EXPECT_EQ(std::fpclassify(r[5]), FP_SUBNORMAL) << what;
    EXPECT_EQ(r[6], 0.0f) << what;
    EXPECT_FALSE(std::signbit(r[6])) << what;
    EXPECT_TRUE(std::isnan(r[7])) << what;
    EXPECT_EQ(r[8], kInfF) << what;
    EXPECT_EQ(r[9], 0.0f) << what;
    if (slot == zok::vm::kLA) {
      EXPECT_EQ(r[0], 1.0f);
    }
  }
}

TEST_P(ExpLogTest, FloatExpThresholdsOfEachFlavour) {
  // The first float that overflows, the edge of the reported underflow range, and the two zero
  // thresholds: the LA (and EP) threshold lies where e^x is half the smallest denormal.
  const float a[6] = {88.72283172607422f,   -87.3365478515625f,   -87.33655548095703f,
                      -103.97208404541016f, -103.97207641601562f, -103.27893829345703f};
  for (int slot = 0; slot < 3; ++slot) {
    float r[6];
    const Reports rep = with_reports([&] { k<float>(Fn::sExp, slot)(6, a, r); });
    const std::string what = kSlotName[slot];
    EXPECT_TRUE(std::isfinite(r[0])) << what;
    EXPECT_EQ(rep.index, (std::vector<int>{2, 3, 4, 5})) << what;
    EXPECT_EQ(r[3], 0.0f) << what;
    EXPECT_EQ(r[4], slot == zok::vm::kHA ? 0.0f : std::numeric_limits<float>::denorm_min()) << what;
    EXPECT_EQ(r[5], slot == zok::vm::kHA ? 0.0f : std::numeric_limits<float>::denorm_min()) << what;
    for (int i : {1, 2})
      EXPECT_TRUE(near_ulps<float>(r[i], std::exp(double(a[i])), bound(slot, true))) << what;
  }
}

TEST_P(ExpLogTest, OneOverflowInsideABlockOfSixteen) {
  for (int slot = 0; slot < 3; ++slot) {
    std::vector<float> a(16), r(16);
    for (int i = 0; i < 16; ++i) a[i] = 0.25f * static_cast<float>(i) - 2.0f;
    a[3] = 100.0f;
    const Reports rep = with_reports([&] { k<float>(Fn::sExp, slot)(16, a.data(), r.data()); });
    EXPECT_EQ(rep.index, (std::vector<int>{3})) << kSlotName[slot];
    EXPECT_EQ(rep.code, (std::vector<int>{3})) << kSlotName[slot];
    EXPECT_EQ(r[3], kInfF);
    for (int i = 0; i < 16; ++i) {
      if (i != 3) {
        EXPECT_TRUE(near_ulps<float>(r[i], std::exp(double(a[i])), bound(slot, true)))
            << kSlotName[slot] << " " << i;
      }
    }
  }
}

TEST_P(ExpLogTest, DoubleExpThresholds) {
  // Beside 709.78 and 709.79, -740 and -746: the last finite argument and the overflow threshold,
  // a normal result near the underflow threshold, the threshold itself (not reported) and the zero
  // threshold.
  const double a[9] = {709.78,
                       709.79,
                       -740,
                       -746,
                       std::nextafter(709.7827128933841, 0.0),
                       709.7827128933841,
                       -708.39,
                       -708.3964185322642,
                       -745.1332191019412};
  for (int slot = 0; slot < 3; ++slot) {
    double r[9];
    const Reports rep = with_reports([&] { k<double>(Fn::dExp, slot)(9, a, r); });
    const std::string what = kSlotName[slot];
    EXPECT_EQ(rep.index, (std::vector<int>{1, 2, 3, 5, 8})) << what;
    EXPECT_EQ(rep.code, (std::vector<int>{3, 4, 4, 3, 4})) << what;
    EXPECT_TRUE(std::isfinite(r[0]) && r[0] > 1e308) << what;
    EXPECT_EQ(r[1], kInfD) << what;
    EXPECT_EQ(std::fpclassify(r[2]), FP_SUBNORMAL) << what;
    EXPECT_EQ(r[3], 0.0) << what;
    EXPECT_TRUE(std::isfinite(r[4])) << what;
    EXPECT_EQ(r[5], kInfD) << what;
    EXPECT_EQ(r[8], 0.0) << what;
    for (int i : {0, 2, 4, 6, 7})
      EXPECT_TRUE(near_ulps<double>(r[i], std::exp(a[i]), bound(slot, false))) << what << " e^" << a[i];
  }
}

TEST_P(ExpLogTest, ExpSpecialsOfDouble) {
  const double a[4] = {std::nan(""), kInfD, -kInfD, 0.0};
  for (int slot = 0; slot < 3; ++slot) {
    double r[4];
    const Reports rep = with_reports([&] { k<double>(Fn::dExp, slot)(4, a, r); });
    EXPECT_TRUE(rep.index.empty()) << kSlotName[slot];
    EXPECT_TRUE(std::isnan(r[0]));
    EXPECT_EQ(r[1], kInfD);
    EXPECT_EQ(r[2], 0.0);
    EXPECT_TRUE(near_ulps<double>(r[3], 1.0, bound(slot, false)));
  }
}

// The logarithms share their special values: the sLn vector, and its analogues.
template <typename T>
void check_log_specials(Fn fn, KA<T> kern, const std::string& what, double (*ref)(double), int slot) {
  using L = std::numeric_limits<T>;
  const T a[8] = {T(1),  T(2.718281828459045), T(0),           -T(0),
                  T(-1), L::infinity(),        -L::infinity(), L::denorm_min() * 7};
  T r[8];
  const Reports rep = with_reports([&] { kern(8, a, r); });
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
  (void)fn;
}

TEST_P(ExpLogTest, LogarithmSpecialVectorsInEveryFlavour) {
  for (int slot = 0; slot < 3; ++slot) {
    const std::string s = kSlotName[slot];
    check_log_specials<float>(
        Fn::sLn, k<float>(Fn::sLn, slot), "sLn " + s, [](double x) { return std::log(x); }, slot);
    check_log_specials<double>(
        Fn::dLn, k<double>(Fn::dLn, slot), "dLn " + s, [](double x) { return std::log(x); }, slot);
    check_log_specials<float>(
        Fn::sLog10, k<float>(Fn::sLog10, slot), "sLog10 " + s, [](double x) { return std::log10(x); }, slot);
    check_log_specials<double>(
        Fn::dLog10, k<double>(Fn::dLog10, slot), "dLog10 " + s, [](double x) { return std::log10(x); }, slot);
  }
  // The sLn vector of the contract, with 1e-40 (a denormal) near -92.1.
  const float a[8] = {1, 2.71828183f, 0, -0.0f, -1, kInfF, -kInfF, 1e-40f};
  float r[8];
  with_reports([&] { k<float>(Fn::sLn, zok::vm::kHA)(8, a, r); });
  EXPECT_NEAR(r[1], 1.0f, 1e-6f);
  EXPECT_NEAR(r[7], -92.1034f, 1e-3f);
}

TEST_P(ExpLogTest, Log1pEdges) {
  for (int slot = 0; slot < 3; ++slot) {
    const float a[6] = {-1, -2, -kInfF, -0.0f, 1e-30f, kInfF};
    float r[6];
    Reports rep = with_reports([&] { k<float>(Fn::sLog1p, slot)(6, a, r); });
    EXPECT_EQ(rep.index, (std::vector<int>{0, 1, 2})) << kSlotName[slot];
    EXPECT_EQ(rep.code, (std::vector<int>{2, 1, 1})) << kSlotName[slot];
    EXPECT_EQ(r[0], -kInfF);
    EXPECT_TRUE(std::isnan(r[1]) && std::isnan(r[2]));
    EXPECT_TRUE(r[3] == 0.0f && std::signbit(r[3])) << kSlotName[slot] << ": log1p(-0) keeps the sign";
    EXPECT_EQ(r[4], 1e-30f) << kSlotName[slot];
    EXPECT_EQ(r[5], kInfF);

    const double ad[6] = {-1, -2, -kInfD, -0.0, 1e-300, kInfD};
    double rd[6];
    rep = with_reports([&] { k<double>(Fn::dLog1p, slot)(6, ad, rd); });
    EXPECT_EQ(rep.index, (std::vector<int>{0, 1, 2})) << kSlotName[slot];
    EXPECT_EQ(rep.code, (std::vector<int>{2, 1, 1})) << kSlotName[slot];
    EXPECT_EQ(rd[0], -kInfD);
    EXPECT_TRUE(rd[3] == 0.0 && std::signbit(rd[3]));
    EXPECT_EQ(rd[4], 1e-300);
    EXPECT_EQ(rd[5], kInfD);
  }
}

TEST_P(ExpLogTest, Expm1Edges) {
  for (int slot = 0; slot < 3; ++slot) {
    const float a[6] = {-200, 100, -kInfF, kInfF, -90, 88.0f};
    float r[6];
    Reports rep = with_reports([&] { k<float>(Fn::sExpm1, slot)(6, a, r); });
    EXPECT_EQ(rep.index, (std::vector<int>{1})) << kSlotName[slot];
    EXPECT_EQ(rep.code, (std::vector<int>{3})) << kSlotName[slot];
    EXPECT_EQ(r[0], -1.0f);
    EXPECT_EQ(r[1], kInfF);
    EXPECT_EQ(r[2], -1.0f);
    EXPECT_EQ(r[3], kInfF);
    EXPECT_EQ(r[4], -1.0f);
    EXPECT_TRUE(near_ulps<float>(r[5], std::expm1(88.0), bound(slot, true))) << kSlotName[slot];

    const double ad[6] = {-200, 710, -kInfD, kInfD, -800, 709.5};
    double rd[6];
    rep = with_reports([&] { k<double>(Fn::dExpm1, slot)(6, ad, rd); });
    EXPECT_EQ(rep.index, (std::vector<int>{1})) << kSlotName[slot];
    EXPECT_EQ(rep.code, (std::vector<int>{3})) << kSlotName[slot];
    EXPECT_EQ(rd[0], -1.0);
    EXPECT_EQ(rd[1], kInfD);
    EXPECT_EQ(rd[2], -1.0);
    EXPECT_EQ(rd[3], kInfD);
    EXPECT_EQ(rd[4], -1.0);
    EXPECT_TRUE(near_ulps<double>(rd[5], std::expm1(709.5), bound(slot, false))) << kSlotName[slot];
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
    one_report_anywhere<float>(k<float>(Fn::sExp, slot), -5.0f, 5.0f, 100.0f, 3, "sExp " + s);
    one_report_anywhere<double>(k<double>(Fn::dExp, slot), -5.0, 5.0, -1000.0, 4, "dExp " + s);
    one_report_anywhere<float>(k<float>(Fn::sExpm1, slot), -3.0f, 3.0f, 95.0f, 3, "sExpm1 " + s);
    one_report_anywhere<double>(k<double>(Fn::dExpm1, slot), -3.0, 3.0, 720.0, 3, "dExpm1 " + s);
    one_report_anywhere<float>(k<float>(Fn::sLn, slot), 0.1f, 9.0f, -1.0f, 1, "sLn " + s);
    one_report_anywhere<double>(k<double>(Fn::dLn, slot), 0.1, 9.0, 0.0, 2, "dLn " + s);
    one_report_anywhere<float>(k<float>(Fn::sLog10, slot), 0.1f, 9.0f, 0.0f, 2, "sLog10 " + s);
    one_report_anywhere<double>(k<double>(Fn::dLog10, slot), 0.1, 9.0, -3.0, 1, "dLog10 " + s);
    one_report_anywhere<float>(k<float>(Fn::sLog1p, slot), -0.5f, 9.0f, -1.0f, 2, "sLog1p " + s);
    one_report_anywhere<double>(k<double>(Fn::dLog1p, slot), -0.5, 9.0, -7.0, 1, "dLog1p " + s);
  }
}

int32_t zero_on_overflow(ErrorContext* ctx) {
  if (ctx->code == ZOK_VM_STATUS_OVERFLOW) ctx->res1 = 0;
  return 0;
}

TEST_P(ExpLogTest, ACallbackReplacesAnOverflowResult) {
  zok::test::ModeOption env(nullptr);
  const auto out = on_fresh_thread([&] {
    _yubSetErrorCallBack(zero_on_overflow);
    std::vector<float> r;
    for (int slot = 0; slot < 3; ++slot) {
      const float a[2] = {100.0f, 1.0f};
      float res[2];
      k<float>(Fn::sExp, slot)(2, a, res);
      r.push_back(res[0]);
      r.push_back(res[1]);
    }
    r.push_back(static_cast<float>(_yubGetErrStatus()));
    return r;
  });
  for (int slot = 0; slot < 3; ++slot) {
    EXPECT_EQ(out[2 * slot], 0.0f) << kSlotName[slot];
    EXPECT_TRUE(near_ulps<float>(out[2 * slot + 1], std::exp(1.0), bound(slot, true)));
  }
  EXPECT_EQ(out[6], 3.0f);
}

TEST_P(ExpLogTest, DenormalsFlushWhenTheModeAsksForIt) {
  zok::test::ModeOption env(nullptr);
  const auto out = on_fresh_thread([&] {
    std::vector<double> v;
    for (int slot = 0; slot < 3; ++slot) {
      _yubSetMode(ZOK_VM_FTZDAZ_ON | ZOK_VM_ERRMODE_IGNORE);
      const float a[2] = {-100.0f, 1e-40f};
      float re[2], rl[2];
      k<float>(Fn::sExp, slot)(1, a, re);
      _yubClearErrStatus();
      k<float>(Fn::sLn, slot)(1, a + 1, rl);
      v.push_back(re[0]);
      v.push_back(rl[0]);
      v.push_back(_yubGetErrStatus());
      const double d[1] = {-740.0};
      double rd[1];
      k<double>(Fn::dExp, slot)(1, d, rd);
      v.push_back(rd[0]);
      // Kept when the mode says so.
      _yubSetMode(ZOK_VM_FTZDAZ_OFF | ZOK_VM_ERRMODE_IGNORE);
      k<float>(Fn::sExp, slot)(1, a, re);
      v.push_back(re[0]);
    }
    return v;
  });
  for (int slot = 0; slot < 3; ++slot) {
    const double* v = &out[5 * slot];
    EXPECT_EQ(v[0], 0.0) << kSlotName[slot] << ": e^-100 not flushed";
    EXPECT_EQ(v[1], -kInfD) << kSlotName[slot] << ": 1e-40 not read as zero";
    EXPECT_EQ(v[2], ZOK_VM_STATUS_SING);
    EXPECT_EQ(v[3], 0.0);
    EXPECT_GT(v[4], 0.0) << kSlotName[slot];
  }
}

INSTANTIATE_TEST_SUITE_P(Isas, ExpLogTest, testing::ValuesIn(machine_isas()),
                         [](const testing::TestParamInfo<Isa>& p) { return zok::vm::isa_name(p.param); });

// Through the exported stubs: plain and _HA reach slot 1, _21/_50 slot 0, _11/_26 slot 2.
TEST(ExpLogStubs, ExportedNamesReachTheirSlots) {
  const float a[1] = {0.5f};
  float r[3];
  _yubsExp_21(1, a, &r[0]);
  _yubsExp(1, a, &r[1]);
  _yubsExp_11(1, a, &r[2]);
  EXPECT_TRUE(near_ulps<float>(r[1], std::exp(0.5), 1.0));
  EXPECT_TRUE(near_ulps<float>(r[0], std::exp(0.5), 4.0));
  const double d[1] = {10.0};
  double rd[2];
  _yubdLn_50(1, d, &rd[0]);
  _yubdLog1p_26(1, d, &rd[1]);
  EXPECT_TRUE(near_ulps<double>(rd[0], std::log(10.0), 1.0));
  EXPECT_TRUE(near_ulps<double>(rd[1], std::log1p(10.0), 67108864.0));
}

}  // namespace
