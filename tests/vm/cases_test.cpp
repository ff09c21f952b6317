// Special values, thresholds and reports of the vector kernels, as one table of cases per function
// and flavour set, run by one runner on every instruction set this machine runs: each case alone
// (scalar and tail paths) and inside a long array of ordinary elements (block paths), every value
// checked (exactly for zeros, infinities and NaNs, otherwise within the flavour's bound or exactly
// where the group says so) and exactly the cases with a code reported, once each, in order.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "frame/vm_facts.h"
#include "tests/vm/vm_test_support.h"

namespace {

using zok::test::Reports;
using zok::test::same_value;
using zok::test::with_reports;
using zok::vm::Fn;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::numeric_limits<double>::quiet_NaN();

// One argument pair, the expected result (the exact value, rounded only when compared) and the
// report code (0: none); want2 is the second result of two-result functions.
struct Case {
  double a, b, want;
  int code;
  double want2 = 0;
};

constexpr unsigned kLA = 1, kHA = 2, kEP = 4, kAll = 7;

struct Group {
  Fn fn;
  std::vector<Case> cases;
  unsigned slots = kAll;
  bool exact = false;             // every value exactly, whatever the flavour's bound
  double fill_a = 2, fill_b = 1;  // ordinary elements around the cases; Powx's exponent is fill_b
  std::vector<double> scalars = {1.5, 2.5, 3.5, 4.5};  // LinearFrac's scalea, shifta, scaleb, shiftb
};

// got against the exact value want: zeros with their sign, infinities and NaNs exactly, others
// within ulps units in the last place of want's binade in T (denormal ulp below the normals).
template <typename T>
bool near(T got, double want, double ulps) {
  if (std::isnan(want)) return std::isnan(got);
  if (std::isinf(want) || want == 0) return same_value(static_cast<double>(got), want);
  const double ulp = std::max(std::ldexp(1.0, std::ilogb(want) - std::numeric_limits<T>::digits + 1),
                              static_cast<double>(std::numeric_limits<T>::denorm_min()));
  return std::fabs(static_cast<double>(got) - want) <= ulps * ulp;
}

template <typename T>
void run_group(zok::vm::Isa isa, const Group& g) {
  const auto& in = zok::vm::info(g.fn);
  const T scalars[4] = {static_cast<T>(in.shape == zok::vm::Shape::AX_R ? g.fill_b : g.scalars[0]),
                        static_cast<T>(g.scalars[1]), static_cast<T>(g.scalars[2]),
                        static_cast<T>(g.scalars[3])};
  for (int slot = 0; slot < 3; ++slot) {
    if ((g.slots & (1u << slot)) == 0) continue;
    void* k = (*zok::vm::isa_kernels(isa))[static_cast<int>(g.fn)][slot];
    const double ulps = g.exact ? 0 : zok::vm::facts(g.fn).bound[slot];
    for (int pre : {0, 21}) {
      const std::string what = std::string(in.name) + " " + zok::test::kSlotName[slot] + " " +
                               zok::vm::isa_name(isa) + (pre ? " in a block" : " alone");
      const int n = pre + static_cast<int>(g.cases.size()) + (pre ? 10 : 0);
      std::vector<T> a(n, static_cast<T>(g.fill_a)), b(n, static_cast<T>(g.fill_b)), r(n), r2(n);
      for (size_t j = 0; j < g.cases.size(); ++j) {
        a[pre + j] = static_cast<T>(g.cases[j].a);
        b[pre + j] = static_cast<T>(g.cases[j].b);
      }
      const Reports rep = with_reports(
          [&] { zok::vm::call_any<T>(k, in.shape, n, a.data(), b.data(), r.data(), r2.data(), scalars); });
      std::vector<int> want_index, want_code;
      for (size_t j = 0; j < g.cases.size(); ++j) {
        const Case& c = g.cases[j];
        EXPECT_TRUE(near<T>(r[pre + j], c.want, ulps))
            << what << ": (" << c.a << ", " << c.b << ") gave " << r[pre + j] << ", want " << c.want;
        if (in.shape == zok::vm::Shape::A_RR) {
          EXPECT_TRUE(near<T>(r2[pre + j], c.want2, ulps)) << what << ": second result of " << c.a;
        }
        if (c.code != 0) {
          want_index.push_back(pre + static_cast<int>(j));
          want_code.push_back(c.code);
        }
      }
      EXPECT_EQ(rep.index, want_index) << what;
      EXPECT_EQ(rep.code, want_code) << what;
    }
  }
}

// ---- arithmetic and rounding (case tables laid out by hand, several cases a line) ----
// clang-format off

std::vector<Group> arith_groups() {
  return {
      // Zero divisors report in every flavour (0/0 too); a NaN over zero only in HA.
      {Fn::sDiv, {{1, 0, kInf, 2}, {0, -0.0, kNan, 2}, {1, 1, 1, 0}, {4, 2, 2, 0}}},
      {Fn::sDiv, {{kNan, 0, kNan, 2}}, kHA}, {Fn::sDiv, {{kNan, 0, kNan, 0}}, kLA | kEP},
      {Fn::dDiv, {{3, 0, kInf, 2}, {3, -0.0, -kInf, 2}, {3, 1.5, 2, 0}}},
      {Fn::dDiv, {{kNan, 0, kNan, 2}}, kHA},
      // Beyond 2^126 the reciprocal estimate is not trusted: the fast flavours divide exactly.
      {Fn::sDiv, {{1, 3e38, 1.0f / 3e38f, 0}, {1, -3e38, -1.0f / 3e38f, 0}}, kAll, true},
      {Fn::dDiv, {{1, 1e300, 1.0 / 1e300, 0}}, kAll, true},
      {Fn::sInv, {{0, 0, kInf, 2}, {-0.0, 0, -kInf, 2}, {4, 0, 0.25, 0}}},
      {Fn::dInv, {{0, 0, kInf, 2}, {-0.0, 0, -kInf, 2}, {4, 0, 0.25, 0}}, kLA | kHA},
      {Fn::dInv, {{0, 0, kInf, 0}, {4, 0, 0.25, 0}}, kEP},  // no report in double EP
      // Modf and Frac keep the sign of zero parts, give 0 fractions of infinities and huge values,
      // and keep the fraction just below 2^52.
      {Fn::sModf, {{-3.75, 0, -3, 0, -0.75}, {kInf, 0, kInf, 0, 0}, {1e10, 0, 1e10, 0, 0},
                   {-0.0, 0, -0.0, 0, -0.0}, {kNan, 0, kNan, 0, kNan}}},
      {Fn::dModf, {{4503599627370495.5, 0, 4503599627370495.0, 0, 0.5}, {-1.25, 0, -1, 0, -0.25},
                   {0.999999999999, 0, 0, 0, 0.999999999999}, {-7.0, 0, -7, 0, -0.0},
                   {-kInf, 0, -kInf, 0, -0.0}}},
      {Fn::sFrac, {{-2, 0, -0.0, 0}, {-kInf, 0, -0.0, 0}, {2.75, 0, 0.75, 0}, {-1.25, 0, -0.25, 0}}},
      // Halfway cases away from zero; the float just below 1/2 stays 0.
      {Fn::sRound,
       {{2.5, 0, 3, 0}, {3.5, 0, 4, 0}, {-2.5, 0, -3, 0}, {-0.4, 0, -0.0, 0}, {0.49999997, 0, 0, 0}}},
      {Fn::dRound, {{2.5, 0, 3, 0}, {-0.5, 0, -1, 0}, {0.49999999999999994, 0, 0, 0}, {-0.0, 0, -0.0, 0}}},
      // A zero scaleb makes the denominator the constant shiftb; double divides exactly.
      {Fn::sLinearFrac, {{1, kInf, 1, 0}, {2, kNan, 1.75, 0}, {-4, 0, -2.75, 0}, {6, 3, 4.75, 0}}, kAll, true,
       1, 1, {3, 1, 0, 4}},
      {Fn::dLinearFrac, {{1, 1, -6, 0}, {-4, 6, -3.5, 0}, {3, 4, 7, 0}}, kAll, true, 1, 1, {2, 1, 0.5, -1}},
  };
}

// ---- exponentials and logarithms ----

std::vector<Group> explog_groups() {
  const double dmin = std::numeric_limits<float>::denorm_min();
  auto e = [](double x) { return std::exp(x); };
  auto ef = [](double x) { return std::exp(static_cast<double>(static_cast<float>(x))); };
  // Float Exp: the last finite argument, overflow, the reported underflow range and the zero
  // threshold, where e^x is half the smallest denormal: every flavour rounds to that denormal just
  // above it and up to ln 2^-149.
  const std::vector<Case> sexp = {{0, 0, 1, 0}, {1, 0, ef(1), 0}, {-1, 0, ef(-1), 0},
                                  {88.72283172607422, 0, ef(88.72283172607422), 0}, {88.72284, 0, kInf, 3},
                                  {-87.4, 0, ef(-87.4), 4}, {-110, 0, 0, 4}, {kNan, 0, kNan, 0},
                                  {kInf, 0, kInf, 0}, {-kInf, 0, 0, 0},
                                  {-87.3365478515625, 0, ef(-87.3365478515625), 0},
                                  {-87.33655548095703, 0, ef(-87.33655548095703), 4},
                                  {-103.97208404541016, 0, 0, 4}};
  auto logs = [](Fn fn, double (*ref)(double), double denormal) {
    const double e1 =
        zok::vm::info(fn).type == 's' ? static_cast<float>(2.718281828459045) : 2.718281828459045;
    return Group{fn, {{1, 0, 0, 0}, {e1, 0, ref(e1), 0}, {0, 0, -kInf, 2}, {-0.0, 0, -kInf, 2},
                      {-1, 0, kNan, 1}, {kInf, 0, kInf, 0}, {-kInf, 0, kNan, 1},
                      {denormal, 0, ref(denormal), 0}}};
  };
  const double sden = 7 * dmin, dden = 7 * std::numeric_limits<double>::denorm_min();
  double (*const ln)(double) = std::log;
  double (*const lg)(double) = std::log10;
  auto log1p = [](Fn fn, double tiny) {
    return Group{fn, {{-1, 0, -kInf, 2}, {-2, 0, kNan, 1}, {-kInf, 0, kNan, 1}, {-0.0, 0, -0.0, 0},
                      {tiny, 0, tiny, 0}, {kInf, 0, kInf, 0}}};
  };
  auto expm1 = [](Fn fn, double over, double under, double big) {
    return Group{fn, {{-200, 0, -1, 0}, {over, 0, kInf, 3}, {-kInf, 0, -1, 0}, {kInf, 0, kInf, 0},
                      {under, 0, -1, 0}, {big, 0, std::expm1(big), 0}}};
  };
  return {
      {Fn::sExp, sexp}, {Fn::sExp, {{-103.97207641601562, 0, dmin, 4}, {-103.27893829345703, 0, dmin, 4}}},
      // Double Exp: beside 709.78 and 709.79, -740 and -746, the last finite argument and the
      // overflow threshold, a normal result near the underflow threshold, the threshold itself (not
      // reported) and the zero threshold.
      {Fn::dExp, {{709.78, 0, e(709.78), 0}, {709.79, 0, kInf, 3}, {-740, 0, e(-740), 4}, {-746, 0, 0, 4},
        {std::nextafter(709.7827128933841, 0.0), 0, e(std::nextafter(709.7827128933841, 0.0)), 0},
        {709.7827128933841, 0, kInf, 3}, {-708.39, 0, e(-708.39), 0},
        {-708.3964185322642, 0, e(-708.3964185322642), 0}, {-745.1332191019412, 0, 0, 4}, {kNan, 0, kNan, 0},
        {kInf, 0, kInf, 0}, {-kInf, 0, 0, 0}, {0, 0, 1, 0}}},
      logs(Fn::sLn, ln, sden), logs(Fn::dLn, ln, dden), logs(Fn::sLog10, lg, sden), logs(Fn::dLog10, lg, dden),
      // Log1p: -1 is a singularity, below it a domain error; -0 keeps its sign, tiny arguments are
      // exact. Expm1: -1 below the range, the overflow reported.
      log1p(Fn::sLog1p, 1e-30), log1p(Fn::dLog1p, 1e-300),
      expm1(Fn::sExpm1, 100, -90, 88), expm1(Fn::dExpm1, 710, -800, 709.5),
  };
}

// ---- powers and roots ----

template <typename T>
std::vector<Case> sqrt_cases() {
  const double tiny = sizeof(T) == 4 ? 1e-40 : 1e-320;
  const double root = static_cast<double>(std::sqrt(static_cast<T>(tiny)));
  return {{4, 0, 2, 0},        {-0.0, 0, -0.0, 0}, {-1, 0, kNan, 1}, {kInf, 0, kInf, 0},
          {-kInf, 0, kNan, 1}, {tiny, 0, root, 0}, {0, 0, 0, 0},     {kNan, 0, kNan, 0},
          {-tiny, 0, kNan, 1}, {0.25, 0, 0.5, 0}};
}

template <typename T>
std::vector<Case> inv_sqrt_cases() {
  const double tiny = sizeof(T) == 4 ? 0x1p-140 : 0x1p-1070, inv_root = sizeof(T) == 4 ? 0x1p70 : 0x1p535;
  return {{0, 0, kInf, 2},          {-0.0, 0, -kInf, 2}, {4, 0, 0.5, 0},     {-4, 0, kNan, 1},
          {kInf, 0, 0, 0},          {-kInf, 0, kNan, 1}, {kNan, 0, kNan, 0}, {tiny, 0, inv_root, 0},
          {0x1p100, 0, 0x1p-50, 0}, {0.0625, 0, 4, 0}};
}

// Cube roots are odd, Pow2o3 drops the sign, InvCbrt of zero is a singularity.
template <typename T>
std::vector<Case> root_cases(bool pow2o3, bool inv) {
  const double tiny = sizeof(T) == 4 ? 0x1p-141 : 0x1p-1071;  // denormal, a cube of a power of two
  const double tiny_root = sizeof(T) == 4 ? 0x1p-47 : 0x1p-357, tiny_sq = tiny_root * tiny_root;
  if (inv) {
    return {{-27, 0, -1.0 / 3, 0}, {0, 0, kInf, 2},    {-0.0, 0, -kInf, 2}, {kInf, 0, 0, 0},
            {-kInf, 0, -0.0, 0},   {kNan, 0, kNan, 0}, {0.125, 0, 2, 0},    {-tiny, 0, -1 / tiny_root, 0}};
  }
  if (pow2o3) {
    return {{-8, 0, 4, 0},       {27, 0, 9, 0},      {0, 0, 0, 0},           {-0.0, 0, 0, 0},
            {-kInf, 0, kInf, 0}, {kNan, 0, kNan, 0}, {-tiny, 0, tiny_sq, 0}, {0x1p-30, 0, 0x1p-20, 0}};
  }
  return {{-27, 0, -3, 0},      {8, 0, 2, 0},       {-0.0, 0, -0.0, 0}, {0, 0, 0, 0},
          {-kInf, 0, -kInf, 0}, {kInf, 0, kInf, 0}, {kNan, 0, kNan, 0}, {-tiny, 0, -tiny_root, 0},
          {1e-3, 0, 0.1, 0}};
}

// Pow3o2 overflows quietly and rejects negatives.
template <typename T>
std::vector<Case> pow3o2_cases() {
  const double big = sizeof(T) == 4 ? 0x1p100 : 0x1p700, small = sizeof(T) == 4 ? 0x1p-96 : 0x1p-710;
  const double small_r = std::ldexp(1.0, sizeof(T) == 4 ? -144 : -1065);
  const double dmin = std::numeric_limits<T>::denorm_min();
  return {{-4, 0, kNan, 1},       {4, 0, 8, 0},        {-kInf, 0, kNan, 1}, {kInf, 0, kInf, 0},
          {0, 0, 0, 0},           {-0.0, 0, 0, 0},     {kNan, 0, kNan, 0},  {big, 0, kInf, 0},
          {small, 0, small_r, 0}, {-dmin, 0, kNan, 1}, {0.25, 0, 0.125, 0}};
}

// Hypot neither overflows nor underflows inside; an infinity wins over a NaN.
template <typename T>
std::vector<Case> hypot_cases() {
  using L = std::numeric_limits<T>;
  const double h = sizeof(T) == 4 ? 3e30 : 3e300, k = sizeof(T) == 4 ? 4e30 : 4e300;
  const double huge_a = sizeof(T) == 4 ? 3e38 : 1.5e308, huge_b = sizeof(T) == 4 ? 4e38 : 1.6e308;
  const double d = L::denorm_min(), max = L::max();
  const double hf = static_cast<T>(h), kf = static_cast<T>(k);
  return {{h, k, std::hypot(hf, kf), 0}, {huge_a, huge_b, kInf, 0}, {kInf, kNan, kInf, 0},
          {kNan, -kInf, kInf, 0}, {kNan, 1, kNan, 0}, {1, kNan, kNan, 0}, {0, -0.0, 0, 0}, {-3, 4, 5, 0},
          {d * 3, d * 4, d * 5, 0}, {1e-30, 1, 1, 0}, {max, 0, max, 0}};
}

// The ordered rules of Pow on the cases that decide between them, with their reports; then signs of
// zeros and infinities, -1 with odd, even and infinite exponents, NaN propagation, and results beyond
// the range without reports.
template <typename T>
std::vector<Case> pow_rule_cases() {
  using L = std::numeric_limits<T>;
  const bool f = sizeof(T) == 4;
  const double big = f ? 50 : 400, huge_even = f ? 0x1p24 : 0x1p53, odd_big = f ? 0x1p24 - 1 : 0x1p53 - 1;
  const double dmin = L::denorm_min(), tiny_y = f ? -60 : -400, sub_y = f ? -140 : -1070;
  const double sub = f ? 0x1p-140 : 0x1p-1070, max_y = f ? 127 : 1023, neg_max = f ? -0x1p127 : -0x1p1023;
  const double third = static_cast<T>(1.0 / 3);
  return {{0, -1, kInf, 1}, {-0.0, -3, -kInf, 1}, {-0.0, -2, kInf, 1}, {-8, third, kNan, 1}, {-8, 3, -512, 0},
          {-1, kInf, 1, 0}, {1, kNan, 1, 0}, {kNan, 0, 1, 0}, {0.5, -kInf, kInf, 0}, {2, -kInf, 0, 0},
          {10, big, kInf, 0}, {-0.0, 3, -0.0, 0}, {-0.0, 2, 0, 0}, {-0.0, 0.5, 0, 0}, {0, kInf, 0, 0},
          {-0.0, -kInf, kInf, 1}, {-1, 3, -1, 0}, {-1, -4, 1, 0}, {-1, -kInf, 1, 0}, {-1, 0.5, kNan, 1},
          {kNan, 1, kNan, 0}, {2, kNan, kNan, 0}, {1, kInf, 1, 0}, {-kInf, 3, -kInf, 0}, {-kInf, -3, -0.0, 0},
          {-kInf, 2, kInf, 0}, {-kInf, 0.5, kInf, 0}, {kInf, -0.5, 0, 0}, {-0.5, kInf, 0, 0}, {-2, kInf, kInf, 0},
          {-2, -kInf, 0, 0}, {-2, huge_even, kInf, 0}, {-0.5, huge_even, 0, 0}, {-1, odd_big, -1, 0},
          {-2, -3, -0.125, 0}, {4, 0.5, 2, 0}, {2, -1, 0.5, 0}, {L::max(), -2, 0, 0},
          {dmin, 0.5, std::sqrt(dmin), 0}, {10, tiny_y, 0, 0}, {2, sub_y, sub, 0}, {-2, max_y, neg_max, 0}};
}

std::vector<Group> power_groups() {
  const double dmax = std::numeric_limits<double>::max();
  return {
      {Fn::sSqrt, sqrt_cases<float>()}, {Fn::dSqrt, sqrt_cases<double>()},
      {Fn::sInvSqrt, inv_sqrt_cases<float>()}, {Fn::dInvSqrt, inv_sqrt_cases<double>()},
      // Double InvSqrt rescales near the ends of the exponent range.
      {Fn::dInvSqrt, {{0x1p-1000, 0, 0x1p500, 0}, {0x1.8p1000, 0, 1 / std::sqrt(0x1.8p1000), 0},
                      {dmax, 0, 1 / std::sqrt(dmax), 0}}},
      {Fn::sCbrt, root_cases<float>(false, false)}, {Fn::dCbrt, root_cases<double>(false, false)},
      {Fn::sInvCbrt, root_cases<float>(false, true)}, {Fn::dInvCbrt, root_cases<double>(false, true)},
      {Fn::sPow2o3, root_cases<float>(true, false)}, {Fn::dPow2o3, root_cases<double>(true, false)},
      {Fn::sPow3o2, pow3o2_cases<float>()}, {Fn::dPow3o2, pow3o2_cases<double>()},
      {Fn::sHypot, hypot_cases<float>(), kAll, false, 3, 4}, {Fn::dHypot, hypot_cases<double>(), kAll, false, 3, 4},
      {Fn::sPow, pow_rule_cases<float>(), kAll, false, 3, 1.5}, {Fn::dPow, pow_rule_cases<double>(), kAll, false, 3, 1.5},
      // Powx with the exponent 0.5 over a negative base: a domain error.
      {Fn::sPowx, {{4, 0.5, 2, 0}, {-4, 0.5, kNan, 1}}, kAll, false, 9, 0.5},
  };
}

// ---- trigonometric functions ----
// Reference values beyond the float range of 10000 and at the hardest arguments of the reduction
// (float 16367173 2^72, double 6381956970095103 2^797) are MPFR's at 2000 bits.

std::vector<Group> trig_groups() {
  const double fhard = 0xF9BE45p72, dhard = 0x16AC5B262CA1FFp797;
  auto sin_group = [](Fn fn, double big, double want) {
    return Group{fn, {{0, 0, 0, 0}, {-0.0, 0, -0.0, 0}, {kInf, 0, kNan, 1}, {-kInf, 0, kNan, 1},
                      {kNan, 0, kNan, 0}, {1e-300, 0, 1e-300, 0}, {-1e-30, 0, -1e-30, 0}, {big, 0, want, 0},
                      {-big, 0, -want, 0}, {10000, 0, -0.30561438888825214, 0}}};
  };
  auto cos_group = [](Fn fn, double big, double want) {
    return Group{fn, {{0, 0, 1, 0}, {-0.0, 0, 1, 0}, {kInf, 0, kNan, 1}, {-kInf, 0, kNan, 1},
                      {kNan, 0, kNan, 0}, {1e-30, 0, 1, 0}, {big, 0, want, 0}, {-big, 0, want, 0},
                      {20000, 0, 0.81319969060892037, 0}, {-10000, 0, -0.95215536825901485, 0}}};
  };
  auto tan_group = [](Fn fn, double big, double want) {
    return Group{fn, {{0, 0, 0, 0}, {-0.0, 0, -0.0, 0}, {kInf, 0, kNan, 1}, {-kInf, 0, kNan, 1},
                      {kNan, 0, kNan, 0}, {-1e-30, 0, -1e-30, 0}, {big, 0, want, 0}, {-big, 0, -want, 0},
                      {20000, 0, 0.71567263086205474, 0}}};
  };
  auto sincos_group = [](Fn fn, double big, double s, double c) {
    return Group{fn, {{0, 0, 0, 0, 1}, {-kInf, 0, kNan, 1, kNan}, {-0.0, 0, -0.0, 0, 1}, {kNan, 0, kNan, 0, kNan},
                      {20000, 0, 0.58198476199429499, 0, 0.81319969060892037}, {big, 0, s, 0, c},
                      {-big, 0, -s, 0, c}, {kInf, 0, kNan, 1, kNan}}};
  };
  return {
      sin_group(Fn::sSin, fhard, 1.0), sin_group(Fn::dSin, dhard, 1.0),
      sin_group(Fn::dSin, 1e22, -0.8522008497671888), sin_group(Fn::dSin, 1e300, -0.8178819121159086),
      cos_group(Fn::sCos, fhard, -1.6147697982476212e-9), cos_group(Fn::dCos, dhard, -4.6871659242546276e-19),
      cos_group(Fn::dCos, 1e22, 0.52321478539513895), cos_group(Fn::dCos, 1e300, -0.57538611195754905),
      tan_group(Fn::sTan, fhard, -619283318.95061387), tan_group(Fn::dTan, dhard, -2.1334853857537038e+18),
      tan_group(Fn::dTan, 1e300, 1.4214488238747244),
      sincos_group(Fn::sSinCos, fhard, 1.0, -1.6147697982476212e-9),
      sincos_group(Fn::dSinCos, dhard, 1.0, -4.6871659242546276e-19),
      sincos_group(Fn::dSinCos, 1e22, -0.8522008497671888, 0.52321478539513895),
      // The cosine of a zero is 1 exactly in every flavour (the float formula alone gives 1 - 2^-24).
      {Fn::sCos, {{0, 0, 1, 0}, {-0.0, 0, 1, 0}, {1e-30, 0, 1, 0}}, kAll, true},
      {Fn::sSinCos, {{0, 0, 0, 0, 1}, {-0.0, 0, -0.0, 0, 1}, {-0x1p-100, 0, -0x1p-100, 0, 1}}, kAll, true},
      {Fn::dCos, {{0, 0, 1, 0}, {-0.0, 0, 1, 0}}, kAll, true},
      {Fn::dSinCos, {{-0.0, 0, -0.0, 0, 1}}, kAll, true},
  };
}

// Inverse functions: the zeros, ends and limits exactly, |x| > 1 reported, NaN never; Atan2 of
// signed zeros and infinities in every quadrant, two zeros included, and magnitudes beyond the
// double kernels' range (scaled, not reported).
std::vector<Group> inverse_groups() {
  const double pi = 3.141592653589793, half = 1.5707963267948966, quarter = 0.7853981633974483;
  const double ddmin = std::numeric_limits<double>::denorm_min();
  auto asin_group = [&](Fn fn, double above, double near1, double want) {
    return Group{fn, {{0, 0, 0, 0}, {-0.0, 0, -0.0, 0}, {1, 0, half, 0}, {-1, 0, -half, 0}, {above, 0, kNan, 1},
                      {kInf, 0, kNan, 1}, {-kInf, 0, kNan, 1}, {kNan, 0, kNan, 0}, {0.5, 0, 0.5235987755982989, 0},
                      {-0.5, 0, -0.5235987755982989, 0}, {near1, 0, want, 0}, {-above, 0, kNan, 1}},
                 kAll, false, 0.25};
  };
  auto acos_group = [&](Fn fn, double above, double near1, double want) {
    return Group{fn, {{1, 0, 0, 0}, {-1, 0, pi, 0}, {0, 0, half, 0}, {-0.0, 0, half, 0}, {above, 0, kNan, 1},
                      {kInf, 0, kNan, 1}, {kNan, 0, kNan, 0}, {0.5, 0, 1.0471975511965979, 0},
                      {-0.5, 0, 2.0943951023931957, 0}, {near1, 0, want, 0}, {-kInf, 0, kNan, 1}},
                 kAll, false, 0.25};
  };
  auto atan_group = [&](Fn fn, unsigned slots) {
    return Group{fn, {{0, 0, 0, 0}, {-0.0, 0, -0.0, 0}, {kInf, 0, half, 0}, {-kInf, 0, -half, 0}, {kNan, 0, kNan, 0},
                      {1, 0, quarter, 0}, {-1, 0, -quarter, 0}, {-1e30, 0, -half, 0}, {1e300, 0, half, 0}, {1e-30, 0, 1e-30, 0}}, slots};
  };
  auto atan2_group = [&](Fn fn) {
    return Group{fn, {{0, 0, 0, 0}, {-0.0, 0, -0.0, 0}, {0, -0.0, pi, 0}, {-0.0, -0.0, -pi, 0},
                      {0, -1, pi, 0}, {-0.0, -1, -pi, 0}, {-0.0, 1, -0.0, 0}, {1, 0, half, 0}, {1, -0.0, half, 0},
                      {-1, 0, -half, 0}, {kInf, 1, half, 0}, {-kInf, -1, -half, 0}, {1, kInf, 0, 0},
                      {-1, kInf, -0.0, 0}, {1, -kInf, pi, 0}, {-1, -kInf, -pi, 0}, {kInf, kInf, quarter, 0},
                      {kInf, -kInf, 2.356194490192345, 0}, {-kInf, kInf, -quarter, 0},
                      {-kInf, -kInf, -2.356194490192345, 0}, {kNan, 1, kNan, 0}, {1, kNan, kNan, 0},
                      {kNan, kInf, kNan, 0}, {0, kNan, kNan, 0}, {1, 1, quarter, 0}, {-1, -1, -2.356194490192345, 0},
                      {1e30, 1e-30, half, 0}, {-1e-30, 1e30, -1e-60, 0}}};
  };
  return {
      asin_group(Fn::sAsin, 1.0000001192092896, 1 - 0x1p-24, 1.5704510598101804),
      asin_group(Fn::dAsin, 1.0000000000000002, 1 - 0x1p-53, 1.5707963118937354),
      acos_group(Fn::sAcos, 1.0000001192092896, 1 - 0x1p-24, 0.0003452669847162036),
      acos_group(Fn::dAcos, 1.0000000000000002, -(1 - 0x1p-53), 3.141592638688632),
      atan_group(Fn::sAtan, kLA | kHA), atan_group(Fn::dAtan, kAll), atan2_group(Fn::sAtan2), atan2_group(Fn::dAtan2),
      // The fixed float EP arctangent: pi/2 rounded to float at the infinities, through its formula.
      {Fn::sAtan, {{-kInf, 0, -1.5707963705062866, 0}, {kInf, 0, 1.5707963705062866, 0}, {kNan, 0, kNan, 0},
                   {-0.0, 0, -0.0, 0}}, kEP, true},
      {Fn::sAtan, {{1, 0, quarter, 0}, {-3, 0, -1.2490457723982544, 0}, {0.5, 0, 0.4636476090008061, 0}}, kEP},
      // Beyond [2^-960, 2^990] the double Atan2 scales both arguments.
      {Fn::dAtan2, {{1.5e308, 1.7e308, 0.722979353401491, 0}, {1e-310, 2e-310, 0.4636476090008061, 0},
                    {-3e-320, -1e-315, -3.1415626539237413, 0}, {1e308, -1e-300, half, 0},
                    {ddmin, 1e300, 0, 0}, {0x1.0624dd2f1a9f9p-1022, 0x1.325ec76682154p-245, 1.0764323181337122e-234, 0}}},
  };
}

// ---- error functions: the limits, and every threshold beside its neighbour: where results leave
// the normal range (reported from there on) and where they become +0 ----

std::vector<Group> special_groups() {
  const double sdmin = std::numeric_limits<float>::denorm_min(), ddmin = std::numeric_limits<double>::denorm_min();
  const double dmin = std::numeric_limits<double>::min();
  return {
      {Fn::sErf, {{kInf, 0, 1, 0}, {-kInf, 0, -1, 0}, {-0.0, 0, -0.0, 0}, {0.25, 0, 0.27632639016823696, 0},
                  {-0.5, 0, -0.5204998778130465, 0}, {3, 0, 0.9999779095030014, 0}, {kNan, 0, kNan, 0}}},
      {Fn::dErf, {{kInf, 0, 1, 0}, {-kInf, 0, -1, 0}, {-0.0, 0, -0.0, 0}, {0.25, 0, 0.27632639016823696, 0},
                  {-0.5, 0, -0.5204998778130465, 0}, {5.9, 0, 0.9999999999999999, 0}, {7, 0, 1, 0},
                  {ddmin, 0, ddmin, 0}, {kNan, 0, kNan, 0}}},
      // EP: 1 from 3.9296875 on.
      {Fn::sErf, {{0.5, 0, 0.5204998850822449, 0}, {10, 0, 1, 0}, {-3.9296875, 0, -1, 0}}, kEP},
      {Fn::sErfc, {{kInf, 0, 0, 0}, {-kInf, 0, 2, 0}, {-0.5, 0, 1.5204998778130465, 0}, {3, 0, 2.209049699858544e-05, 0},
                   {9.194548606872559, 0, 1.175512663982318e-38, 0}, {9.194549560546875, 0, 1.1754919284271987e-38, 4},
                   {10.054194450378418, 0, 0.500004833912312 * sdmin, 4}, {10.054195404052734, 0, 0, 4},
                   {20, 0, 0, 4}, {kNan, 0, kNan, 0}}},
      {Fn::dErfc, {{kInf, 0, 0, 0}, {-kInf, 0, 2, 0}, {-0.5, 0, 1.5204998778130465, 0}, {5.9, 0, 7.190409783550478e-17, 0},
                   {26.543243408203125, 0, 1.0007996276279012 * dmin, 0},
                   {26.543258454250978, 0, 2.2250738585076055e-308, 0}, {26.54325845425098, 0, 2.2250738585071856e-308, 4},
                   {27.22601318359375, 0, ddmin, 4}, {27.226013183593754, 0, 0, 4}, {kNan, 0, kNan, 0}}},
      // The inverses: poles at the ends of the domain (-0 counts as 0), NaN beyond, and the tails.
      {Fn::sErfInv, {{0, 0, 0, 0}, {0.5, 0, 0.4769362762044699, 0}, {1, 0, kInf, 2}, {-1, 0, -kInf, 2},
                     {1.5, 0, kNan, 1}, {-0.0, 0, -0.0, 0}, {-kInf, 0, kNan, 1}, {kNan, 0, kNan, 0}}, kAll, false, 0.25},
      {Fn::dErfInv, {{0.5, 0, 0.4769362762044699, 0}, {1, 0, kInf, 2}, {-1, 0, -kInf, 2}, {-0.99, 0, -1.8213863677184494, 0},
                     {1.0000000000000002, 0, kNan, 1}, {-0.0, 0, -0.0, 0}, {ddmin, 0, ddmin * 0.886226925452758, 0}}, kAll, false, 0.25},
      {Fn::sErfcInv, {{0, 0, kInf, 2}, {-0.0, 0, kInf, 2}, {2, 0, -kInf, 2}, {2.5, 0, kNan, 1}, {-1e-30, 0, kNan, 1},
                      {1, 0, 0, 0}, {1.5, 0, -0.4769362762044699, 0}, {sdmin, 0, 10.019834265884624, 0}}, kAll, false, 0.25},
      {Fn::dErfcInv, {{0, 0, kInf, 2}, {-0.0, 0, kInf, 2}, {2, 0, -kInf, 2}, {kInf, 0, kNan, 1}, {1, 0, 0, 0},
                      {ddmin, 0, 27.21329321081295, 0}, {1e-300, 0, 26.209469960516124, 0}, {kNan, 0, kNan, 0}}, kAll, false, 0.25},
      {Fn::sCdfNormInv, {{0.5, 0, 0, 0}, {0, 0, -kInf, 2}, {1, 0, kInf, 2}, {-0.1, 0, kNan, 1}, {-0.0, 0, -kInf, 2},
                         {0.025, 0, -1.9599639845400543, 0}}, kAll, false, 0.25},
      {Fn::dCdfNormInv, {{0.5, 0, 0, 0}, {0, 0, -kInf, 2}, {1, 0, kInf, 2}, {1.0000000000000002, 0, kNan, 1},
                         {1e-300, 0, -37.0470962993612, 0}, {1 - 0x1p-53, 0, 8.209536151601387, 0}}, kAll, false, 0.25},
      // Just below 0.5 the result is about -2.5 (0.5 - p): erfinv's pair times sqrt(2) without rounding
      // the pair first (it once reached 1.37 ulp here).
      {Fn::dCdfNormInv, {{0x1.fffffffffffdap-2, 0, -5.287541206876357152e-15, 0},
                         {0x1.ffffffffffffep-2, 0, -2.782916424671766922e-16, 0}}, kHA, false, 0.25},
      {Fn::sCdfNorm, {{kInf, 0, 1, 0}, {-kInf, 0, 0, 0}, {0.75, 0, 0.7733726476231318, 0}, {-3, 0, 0.0013498980316300946, 0},
                      {-12.949952125549316, 0, 1.1755031652047813e-38, 0}, {-12.949953079223633, 0, 1.1754885622229144e-38, 4},
                      {-14.170185089111328, 0, 0.500003007749427 * sdmin, 4}, {-14.170186042785645, 0, 0, 4},
                      {kNan, 0, kNan, 0}}},
      {Fn::dCdfNorm, {{kInf, 0, 1, 0}, {-kInf, 0, 0, 0}, {0.75, 0, 0.7733726476231318, 0}, {-8, 0, 6.220960574271784e-16, 0}, {-30, 0, 4.906713927148187e-198, 0},
                      {-38.485408335567335, 0, ddmin, 4}, {-38.48540833556734, 0, 0, 4}, {kNan, 0, kNan, 0}}},
      // The report follows the result: 27 bits do not place EP's crossing on the exact one.
      {Fn::dCdfNorm, {{-37.51937934714449, 0, 2.225073858507737e-308, 0},
                      {-37.5193793471445, 0, 2.2250738585071436e-308, 4}}, kLA | kHA},
  };
}

// ---- gamma functions: poles, the limits of the range and exact values; references from 50-digit
// arithmetic ----

std::vector<Group> gamma_groups() {
  const double dmax = std::numeric_limits<double>::max();
  return {
      {Fn::sTGamma, {{1, 0, 1, 0}, {0, 0, kInf, 2}, {-0.0, 0, -kInf, 2}, {-1, 0, kNan, 1}, {5, 0, 24, 0},
                     {40, 0, kInf, 3}, {-kInf, 0, kNan, 1}, {kInf, 0, kInf, 0}, {kNan, 0, kNan, 0},
                     {14, 0, 6227020800.0, 0}, {-8388608, 0, kNan, 1}}, kAll, true},
      // Overflow beside the last finite result, above and below zero; float results below the normal
      // range are reported, denormal or zero.
      {Fn::sTGamma, {{35.040096282958984, 0, 3.4027979115654976e38, 0}, {35.04010009765625, 0, kInf, 3},
                     {1.0000002153053333e-39, 0, kInf, 3}, {-1.0000002153053333e-39, 0, -kInf, 3},
                     {0.5, 0, 1.772453850905516, 0}, {-2.5, 0, -0.94530872048294188, 0},
                     {-36.5, 0, -1.3930959446654347e-42, 4}, {-40.5, 0, -0.0, 4}}},
      {Fn::dTGamma, {{1, 0, 1, 0}, {0, 0, kInf, 2}, {-0.0, 0, -kInf, 2}, {-1, 0, kNan, 1}, {5, 0, 24, 0},
                     {23, 0, 1.1240007277776077e21, 0}, {-0x1p60, 0, kNan, 1}, {-kInf, 0, kNan, 1},
                     {kInf, 0, kInf, 0}, {kNan, 0, kNan, 0}}, kAll, true},
      {Fn::dTGamma, {{171.6243769563027, 0, 1.7976931348622299e308, 0}, {171.62437695630274, 0, kInf, 3},
                     {1 / dmax / 4, 0, kInf, 3}, {0.5, 0, 1.772453850905516, 0}, {-2.5, 0, -0.94530872048294188, 0},
                     {-170.5, 0, -3.3127395215386073e-308, 0}, {-180.5, 0, -0.0, 0}}},
      {Fn::sLGamma, {{1, 0, 0, 0}, {2, 0, 0, 0}, {0, 0, kInf, 2}, {-2, 0, kInf, 2}, {-0.0, 0, kInf, 2},
                     {-8388609, 0, kInf, 2}, {kInf, 0, kInf, 0}, {-kInf, 0, kInf, 0}, {kNan, 0, kNan, 0}}, kAll, true},
      // The last float whose ln|Gamma| is finite, and the first that overflows; the float nearest the
      // zero at -2.457...
      {Fn::sLGamma, {{4.085003108497519e36, 0, 3.4028233508339779e38, 0}, {4.085003425410169e36, 0, kInf, 3},
                     {-2.4570248126983643, 0, -1.1287842529645816e-7, 0}, {0.5, 0, 0.57236494292470009, 0},
                     {-0.5, 0, 1.2655121234846454, 0}, {-2.5, 0, -0.056243716497674051, 0}}},
      {Fn::dLGamma, {{1, 0, 0, 0}, {2, 0, 0, 0}, {0, 0, kInf, 2}, {-3, 0, kInf, 2}, {-0x1p60, 0, kInf, 2},
                     {kInf, 0, kInf, 0}, {-kInf, 0, kInf, 0}, {kNan, 0, kNan, 0}}, kAll, true},
      // The two doubles beside the zero at -2.457..., where the reflection's terms cancel entirely.
      {Fn::dLGamma, {{2.5599833278516383e305, 0, 1.7976931348623157e308, 0}, {2.5599833278516387e305, 0, kInf, 3},
                     {-2.4570247382208006, 0, 5.6191923589500965e-17, 0}, {-2.457024738220801, 0, -6.1687121408846648e-16, 0},
                     {1e-300, 0, 690.77552789821371, 0}, {1e300, 0, 6.8977552789821374e302, 0},
                     {100, 0, 359.1342053695754, 0}, {-0.5, 0, 1.2655121234846454, 0}}},
  };
}

// ---- hyperbolic functions: both sides of the overflow bounds of Sinh and Cosh (the float kernels'
// fast range ends at 89.41056060791016, their results at 89.4159927368164; double results stay
// finite through 710.4758600739439), the limits, the poles and domain edges of the inverses ----

std::vector<Group> hyperbolic_groups() {
  const double fmax = std::numeric_limits<float>::max(), dmax = std::numeric_limits<double>::max();
  const double ddmin = std::numeric_limits<double>::denorm_min();
  return {
      {Fn::sSinh, {{0, 0, 0, 0}, {-0.0, 0, -0.0, 0}, {1, 0, 1.1752011936438014, 0}, {90, 0, kInf, 3},
                   {-90, 0, -kInf, 3}, {89.41598510742188, 0, 3.4028196375086208e+38, 0},
                   {-89.4159927368164, 0, -kInf, 3}, {89.41056060791016, 0, 3.3844110179601107e+38, 0},
                   {kInf, 0, kInf, 0}, {-kInf, 0, -kInf, 0}, {-20, 0, -242582597.70489514, 0}, {kNan, 0, kNan, 0}}},
      {Fn::dSinh, {{-0.0, 0, -0.0, 0}, {710.4758600739439, 0, 1.7976931348621744e+308, 0},
                   {-710.475860073944, 0, -kInf, 3}, {709.5, 0, 6.774931596573164e+307, 0}, {800, 0, kInf, 3},
                   {ddmin, 0, ddmin, 0}, {-kInf, 0, -kInf, 0}, {-20, 0, -242582597.70489514, 0}, {kNan, 0, kNan, 0}}},
      {Fn::sCosh, {{0, 0, 1, 0}, {-90, 0, kInf, 3}, {-89.41598510742188, 0, 3.4028196375086208e+38, 0},
                   {89.4159927368164, 0, kInf, 3}, {-kInf, 0, kInf, 0}, {10, 0, 11013.232920103323, 0},
                   {16, 0, 4443055.260253993, 0}, {kNan, 0, kNan, 0}}},
      {Fn::dCosh, {{-0.0, 0, 1, 0}, {-710.4758600739439, 0, 1.7976931348621744e+308, 0}, {710.476, 0, kInf, 3},
                   {-kInf, 0, kInf, 0}, {1e300, 0, kInf, 3}, {10, 0, 11013.232920103323, 0}, {kNan, 0, kNan, 0}}},
      {Fn::sTanh, {{kInf, 0, 1, 0}, {-kInf, 0, -1, 0}, {100, 0, 1, 0}, {-0.0, 0, -0.0, 0},
                   {0.5, 0, 0.46211715726000974, 0}, {kNan, 0, kNan, 0}}},
      {Fn::dTanh, {{kInf, 0, 1, 0}, {-kInf, 0, -1, 0}, {-100, 0, -1, 0}, {1e-300, 0, 1e-300, 0},
                   {0.5, 0, 0.46211715726000974, 0}, {kNan, 0, kNan, 0}}},
      {Fn::sAsinh, {{-0.0, 0, -0.0, 0}, {kInf, 0, kInf, 0}, {-kInf, 0, -kInf, 0}, {-3, 0, -1.8184464592320668, 0},
                    {fmax, 0, 89.4159862326283, 0}, {1e-30, 0, 1e-30, 0}, {kNan, 0, kNan, 0}}},
      {Fn::dAsinh, {{-0.0, 0, -0.0, 0}, {-kInf, 0, -kInf, 0}, {dmax, 0, 710.475860073944, 0},
                    {-dmax, 0, -710.475860073944, 0}, {-3, 0, -1.8184464592320668, 0}, {ddmin, 0, ddmin, 0}}},
      {Fn::sAcosh, {{1, 0, 0, 0}, {0.5, 0, kNan, 1}, {-kInf, 0, kNan, 1}, {kInf, 0, kInf, 0},
                    {1.00000011920928955, 0, 0.0004882812451493617, 0}, {4, 0, 2.0634370688955603, 0},
                    {-0.0, 0, kNan, 1}, {kNan, 0, kNan, 0}}},
      {Fn::dAcosh, {{1, 0, 0, 0}, {0.9999999999999999, 0, kNan, 1}, {dmax, 0, 710.475860073944, 0},
                    {1.0000000000000002, 0, 2.1073424255447014e-08, 0}, {kInf, 0, kInf, 0}, {-kInf, 0, kNan, 1}}},
      {Fn::sAtanh, {{1, 0, kInf, 2}, {-1, 0, -kInf, 2}, {2, 0, kNan, 1}, {0.5, 0, 0.5493061443340549, 0},
                    {-kInf, 0, kNan, 1}, {-0.0, 0, -0.0, 0}, {0.99999994039535522, 0, 8.664339742098155, 0},
                    {kNan, 0, kNan, 0}}, kAll, false, 0.25},
      {Fn::dAtanh, {{1, 0, kInf, 2}, {-1, 0, -kInf, 2}, {1.0000000000000002, 0, kNan, 1},
                    {0.99999999999999989, 0, 18.714973875118524, 0}, {kInf, 0, kNan, 1}, {-0.0, 0, -0.0, 0}},
       kAll, false, 0.25},
  };
}

// clang-format on

class SpecialTest : public zok::test::IsaTest {};

TEST_P(SpecialTest, EveryFunctionsCasesInEveryFlavour) {
  for (const auto& groups : {arith_groups(), explog_groups(), power_groups(), trig_groups(), inverse_groups(),
                             hyperbolic_groups(), special_groups(), gamma_groups()})
    for (const Group& g : groups) {
      if (zok::vm::info(g.fn).type == 's') {
        run_group<float>(GetParam(), g);
      } else {
        run_group<double>(GetParam(), g);
      }
    }
}

// The float EP erf of SSE4.1 is the table of erf and its slope at the multiples of 1/128: at i/128 it
// gives the entry E_i, 2^-10 further E_i + D_i 2^-10, with x's sign; the entries computed here in long
// double. Every start offset within 16 bytes takes the unaligned head through a different group.
TEST_P(SpecialTest, FloatErfTableFlavourReachesEveryEntry) {
  if (GetParam() != zok::vm::Isa::kSse41) GTEST_SKIP() << "a polynomial in float lanes here";
  std::vector<float> a, want;
  for (int i = 0; i < 504; ++i) {
    const long double x = i / 128.0L;
    const float e = static_cast<float>(erfl(x));
    const float d = static_cast<float>(2 / std::sqrt(3.14159265358979323846264338327950288L) * expl(-x * x));
    a.insert(a.end(), {static_cast<float>(x), -static_cast<float>(x)});
    want.insert(want.end(), {e, -e});
    if (i < 503) {
      a.push_back(static_cast<float>(x + 0x1p-10L));
      want.push_back(static_cast<float>(static_cast<double>(e) + static_cast<double>(d) * 0x1p-10));
    }
  }
  auto* k = zok::test::kernel<zok::test::KA<float>>(GetParam(), Fn::sErf, 2);
  const int n = static_cast<int>(a.size());
  for (int off = 0; off < 4; ++off) {
    std::vector<float> in(n + 4), r(n + 4);
    std::copy(a.begin(), a.end(), in.begin() + off);
    k(n, in.data() + off, r.data() + off);
    for (int i = 0; i < n; ++i) ASSERT_EQ(r[off + i], want[i]) << "offset " << off << ": erf(" << a[i] << ")";
  }
}

// The square root of a negative number is the negative quiet NaN, bit for bit.
TEST_P(SpecialTest, SqrtOfNegativeIsTheNegativeQuietNan) {
  const float a[3] = {-1.0f, -std::numeric_limits<float>::infinity(), -1e-40f};
  for (int slot = 0; slot < 3; ++slot) {
    float r[3];
    with_reports([&] { k<zok::test::KA<float>>(Fn::sSqrt, slot)(3, a, r); });
    for (float v : r) {
      uint32_t u;
      std::memcpy(&u, &v, 4);
      EXPECT_EQ(u, 0xFFC00000u) << zok::test::kSlotName[slot];
    }
  }
}

// Float LA and EP Div divide where division is cheap and refine a reciprocal estimate elsewhere;
// both ways (whatever this machine's class picks) a call's results are the quotient within 4 ulp,
// exactly it when dividing, a zero divisor is reported and a NaN over zero is not. 67 elements: the
// block loop, a whole tail vector and a partial one, with the zero divisors in a block and a tail.
TEST_P(SpecialTest, FloatDivLaEpDividesWhereDivisionIsCheap) {
  const bool class_choice = zok::vm::g_division_cheap;
  constexpr int n = 67;
  std::vector<float> a(n), b(n), r(n);
  uint32_t x = 12345;
  for (int i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    a[i] = std::ldexp(1.0f + (x >> 9) * 0x1p-23f, static_cast<int>(x % 40) - 20);
    x = x * 1664525u + 1013904223u;
    b[i] = std::ldexp(1.0f + (x >> 9) * 0x1p-23f, static_cast<int>(x % 40) - 20) * (x & 1 ? -1 : 1);
  }
  b[5] = 0.0f;
  b[66] = -0.0f;
  a[66] = std::numeric_limits<float>::quiet_NaN();
  for (const bool cheap : {false, true}) {
    zok::vm::g_division_cheap = cheap;
    for (const int slot : {zok::vm::kLA, zok::vm::kEP}) {
      const Reports rep =
          with_reports([&] { k<zok::test::KAB<float>>(Fn::sDiv, slot)(n, a.data(), b.data(), r.data()); });
      EXPECT_EQ(rep.index, std::vector<int>{5}) << cheap << zok::test::kSlotName[slot];
      for (int i = 0; i < n; ++i) {
        const double want = static_cast<double>(a[i]) / b[i];
        if (cheap || i == 5 || i == 66) {
          EXPECT_TRUE(r[i] == static_cast<float>(want) || (r[i] != r[i] && want != want)) << i;
        } else {
          EXPECT_LE(std::fabs(r[i] - want), 4 * std::ldexp(1.0, std::ilogb(want) - 23)) << i;
        }
      }
    }
  }
  zok::vm::g_division_cheap = class_choice;
}

// Pow of a NaN base and a NaN exponent gives the base's NaN, in blocks and tails alike, so the
// result does not depend on the flavour or the instruction set.
TEST_P(SpecialTest, PowOfTwoNansKeepsTheBasesNan) {
  for (int slot = 0; slot < 3; ++slot) {
    std::vector<float> a(19), b(19), r(19);
    for (uint32_t i = 0; i < 19; ++i) {
      const uint32_t x = 0x7FC00001u + i, y = 0xFFC00100u + i;
      std::memcpy(&a[i], &x, 4);
      std::memcpy(&b[i], &y, 4);
    }
    with_reports([&] { k<zok::test::KAB<float>>(Fn::sPow, slot)(19, a.data(), b.data(), r.data()); });
    for (int i = 0; i < 19; ++i)
      EXPECT_TRUE(zok::test::same_bits(r[i], a[i])) << zok::test::kSlotName[slot] << " " << i;
    std::vector<double> ad(9), bd(9, -std::numeric_limits<double>::quiet_NaN()), rd(9);
    for (uint64_t i = 0; i < 9; ++i) {
      const uint64_t x = 0x7FF8000000000001ull + i;
      std::memcpy(&ad[i], &x, 8);
    }
    with_reports([&] { k<zok::test::KAB<double>>(Fn::dPow, slot)(9, ad.data(), bd.data(), rd.data()); });
    for (int i = 0; i < 9; ++i)
      EXPECT_TRUE(zok::test::same_bits(rd[i], ad[i])) << zok::test::kSlotName[slot] << " " << i;
  }
}

// The report of a Powx element carries the exponent as its second argument.
int32_t keep_arg2(ErrorContext* ctx) {
  zok::test::t_reports->index.push_back(static_cast<int>(ctx->arg2 * 100));
  zok::test::t_reports->code.push_back(ctx->code);
  return 0;
}

TEST_P(SpecialTest, PowxReportsCarryTheExponent) {
  const double a[3] = {2.0, -3.0, 0.0};
  double r[3];
  zok::test::ModeOption env(nullptr);
  const Reports rep = zok::test::on_fresh_thread([&] {
    Reports got;
    zok::test::t_reports = &got;
    _yubSetErrorCallBack(keep_arg2);
    k<void (*)(int, const double*, double, double*)>(Fn::dPowx)(3, a, -2.5, r);
    return got;
  });
  EXPECT_EQ(rep.index, (std::vector<int>{-250, -250}));
  EXPECT_EQ(rep.code, (std::vector<int>{1, 1}));
  EXPECT_EQ(r[2], std::numeric_limits<double>::infinity());
}

// TGamma of a positive integer n is (n - 1)! exactly while the type holds it (n <= 14 in float,
// n <= 23 in double), through blocks and tails; the factorials by integer products.
TEST_P(SpecialTest, TGammaOfIntegersIsTheFactorial) {
  std::vector<float> as, ws, rs(14);
  std::vector<double> ad, wd, rd(23);
  unsigned __int128 f = 1;
  for (int n = 1; n <= 23; ++n, f *= n - 1) {
    ad.push_back(n);
    wd.push_back(static_cast<double>(f));
    if (n <= 14) {
      as.push_back(static_cast<float>(n));
      ws.push_back(static_cast<float>(f));
    }
  }
  k<zok::test::KA<float>>(Fn::sTGamma)(14, as.data(), rs.data());
  k<zok::test::KA<double>>(Fn::dTGamma)(23, ad.data(), rd.data());
  EXPECT_EQ(rs, ws);
  EXPECT_EQ(rd, wd);
}

// ---- floating-point exceptions unmasked by the caller ----

// What one run gave: results and reports, in memory the parent shares with a forked child.
struct RunRecord {
  int reports;
  int index[512], code[512];
  double r[1024], r2[1024];
};
thread_local RunRecord* t_record = nullptr;
int32_t record_into(ErrorContext* ctx) {
  if (t_record->reports < 512) {
    t_record->index[t_record->reports] = ctx->index;
    t_record->code[t_record->reports++] = ctx->code;
  }
  return 0;
}

// A callback's replacement results of an infinite SinCos argument land in both result arrays, in
// the block path and the tail alike.
int32_t replace_results(ErrorContext* ctx) {
  ctx->res1 = 7;
  ctx->res2 = -8;
  return 0;
}

TEST_P(SpecialTest, SinCosReportsCarryBothResults) {
  for (int slot = 0; slot < 3; ++slot)
    for (int n : {2, 40}) {
      std::vector<float> a(n, 0.5f), r1(n), r2(n);
      std::vector<double> ad(n, 0.5), r1d(n), r2d(n);
      a[1] = -std::numeric_limits<float>::infinity();
      ad[1] = -kInf;
      zok::test::ModeOption env(nullptr);
      zok::test::on_fresh_thread([&] {
        _yubSetErrorCallBack(replace_results);
        k<zok::test::KARR<float>>(Fn::sSinCos, slot)(n, a.data(), r1.data(), r2.data());
        k<zok::test::KARR<double>>(Fn::dSinCos, slot)(n, ad.data(), r1d.data(), r2d.data());
        return 0;
      });
      const std::string what = std::string(zok::test::kSlotName[slot]) + " n=" + std::to_string(n);
      EXPECT_EQ(r1[1], 7.0f) << what;
      EXPECT_EQ(r2[1], -8.0f) << what;
      EXPECT_EQ(r1d[1], 7.0) << what;
      EXPECT_EQ(r2d[1], -8.0) << what;
      EXPECT_NEAR(r1[0], std::sin(0.5), 1e-6) << what;
      EXPECT_NEAR(r2d[0], std::cos(0.5), 1e-12) << what;
    }
}

// Every function's special cases and ordinary values of every class, three times over (blocks and
// tails), through kernel k; Powx once per exponent of a small set, LinearFrac with a zero and a
// non-zero scaleb.
template <typename T>
void run_record(void* k, zok::vm::Shape shape, const std::vector<T>& a, const std::vector<T>& b,
                RunRecord* out) {
  std::memset(out, 0, sizeof *out);
  t_record = out;
  const int n = static_cast<int>(a.size());
  T r[1024], r2[1024];
  if (shape == zok::vm::Shape::AX_R || shape == zok::vm::Shape::LINFRAC) {
    const T sets[][4] = {{T(0.5), 1, 3, 4},
                         {T(-1), 2, 0, 0},
                         {T(2.5), 0, 0, 4},
                         {T(1) / 3, 1, 1, 1},
                         {T(0), 1, -1, 1},
                         {-T(0), 1, 1, 0},
                         {std::numeric_limits<T>::infinity(), 0, 1, 0}};
    for (int j = 0; j < 7; ++j) zok::vm::call_any<T>(k, shape, n, a.data(), b.data(), r + j * n, r2, sets[j]);
    for (int i = 0; i < 7 * n; ++i) out->r[i] = static_cast<double>(r[i]);
  } else {
    zok::vm::call_any<T>(k, shape, n, a.data(), b.data(), r, r2, nullptr);
    for (int i = 0; i < n; ++i) {
      out->r[i] = static_cast<double>(r[i]);
      out->r2[i] = shape == zok::vm::Shape::A_RR ? static_cast<double>(r2[i]) : 0.0;
    }
  }
}

template <typename T>
void compare_unmasked(zok::vm::Isa isa, Fn fn, const std::vector<Group>& groups, RunRecord* shared) {
  using L = std::numeric_limits<T>;
  std::vector<T> a = {
      0,        -T(0),     L::infinity(), -L::infinity(), L::quiet_NaN(), L::denorm_min(), -L::min() / 4,
      L::max(), -L::max(), T(0.5),        T(-2.5),        T(1e-3),        L::min(),        T(1) / L::min(),
      T(3e7),   T(-1e15),  T(1),          T(-1),          T(2),           T(100),          T(-100),
      T(710),   T(-746),   T(89),         T(-104)};
  for (const Group& g : groups)
    if (g.fn == fn)
      for (const Case& c : g.cases) a.push_back(static_cast<T>(c.a));
  while (a.size() < 45) a.push_back(T(0.75));
  a.resize(45);
  std::vector<T> b(a.rbegin(), a.rend());
  for (int copy = 0; copy < 2; ++copy) {
    a.insert(a.end(), a.begin(), a.begin() + 45);
    b.insert(b.end(), b.begin(), b.begin() + 45);
  }
  const auto& in = zok::vm::info(fn);
  for (int slot = 0; slot < 3; ++slot) {
    if ((zok::vm::traits(fn).caller & (1u << slot)) != 0) continue;  // the caller's masks, by design
    void* k = (*zok::vm::isa_kernels(isa))[static_cast<int>(fn)][slot];
    const std::string what =
        std::string(in.name) + " " + zok::test::kSlotName[slot] + " " + zok::vm::isa_name(isa);
    static RunRecord masked;
    run_record<T>(k, in.shape, a, b, &masked);
    const pid_t child = fork();
    if (child == 0) {
      feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
      run_record<T>(k, in.shape, a, b, shared);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child) << what;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << what << ": the child " << (WIFSIGNALED(status) ? "died of signal " : "exited with ")
        << (WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
    EXPECT_EQ(std::memcmp(masked.r, shared->r, sizeof masked.r), 0) << what << ": results differ";
    EXPECT_EQ(std::memcmp(masked.r2, shared->r2, sizeof masked.r2), 0) << what << ": second results differ";
    EXPECT_EQ(masked.reports, shared->reports) << what;
    EXPECT_EQ(std::memcmp(masked.index, shared->index, sizeof(int) * masked.reports), 0) << what;
    EXPECT_EQ(std::memcmp(masked.code, shared->code, sizeof(int) * masked.reports), 0) << what;
  }
}

// A caller that unmasks invalid, divide-by-zero and overflow gets, from every kernel that does not
// run under its control, the results and reports it gets with them masked, and no trap.
TEST_P(SpecialTest, UnmaskedExceptionsChangeNothing) {
  void* mem = mmap(nullptr, sizeof(RunRecord), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mem, MAP_FAILED);
  auto* shared = static_cast<RunRecord*>(mem);
  std::vector<Group> groups = arith_groups();
  for (auto more : {explog_groups(), power_groups(), trig_groups(), hyperbolic_groups(), special_groups(),
                    gamma_groups()})
    groups.insert(groups.end(), more.begin(), more.end());
  zok::test::ModeOption env(nullptr);
  zok::test::on_fresh_thread([&] {
    _yubSetErrorCallBack(record_into);
    for (int f = 0; f < zok::vm::kFnCount; ++f) {
      if (!zok::vm::elementwise(zok::vm::info(static_cast<Fn>(f)).shape)) continue;
      if (zok::vm::complex_type(zok::vm::info(static_cast<Fn>(f)).type)) continue;
      if (zok::vm::info(static_cast<Fn>(f)).type == 's') {
        compare_unmasked<float>(GetParam(), static_cast<Fn>(f), groups, shared);
      } else {
        compare_unmasked<double>(GetParam(), static_cast<Fn>(f), groups, shared);
      }
    }
    return 0;
  });
  munmap(mem, sizeof(RunRecord));
}

ZOK_VM_EVERY_ISA(SpecialTest);

}  // namespace
