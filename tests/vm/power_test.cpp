// Power and root kernels: special values, results and error reports of every flavour on every
// instruction set this machine runs, each case both alone (scalar and tail paths) and inside a long
// array of ordinary elements (block paths); denormal handling under the mode word.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/vm/vm_test_support.h"

namespace {

using zok::test::KA;
using zok::test::KAB;
using zok::test::kernel;
using zok::test::kSlotName;
using zok::test::on_fresh_thread;
using zok::test::Reports;
using zok::test::same_value;
using zok::test::with_reports;
using zok::vm::Fn;
using zok::vm::Isa;

template <typename T>
constexpr T kInf = std::numeric_limits<T>::infinity();
template <typename T>
const T kNan = std::numeric_limits<T>::quiet_NaN();

template <typename T>
double bound(int slot) {
  return zok::test::bound(slot, sizeof(T) == 4);
}

template <typename T>
bool within(T got, T want, double ulps) {
  if (std::isnan(want) || std::isinf(want) || want == T(0)) return same_value(got, want);
  const T ulp = std::nextafter(std::fabs(want), kInf<T>) - std::fabs(want);
  return std::fabs(static_cast<double>(got) - static_cast<double>(want)) <= ulps * static_cast<double>(ulp);
}

// One argument pair, the expected result (+ NaN for any NaN) and the report code (0: none).
template <typename T>
struct Case {
  T a, b, want;
  int code;
};

// Runs the cases through run(n, a, b, r) twice: alone, and after 21 ordinary elements (fill)
// with 10 more behind, so they meet both the tail and the block paths. Checks every value, and
// that exactly the cases with a code are reported, once each, in order.
template <typename T, typename Run>
void check_cases(const std::string& what, const std::vector<Case<T>>& cases, double ulps, T fill_a, T fill_b,
                 Run run) {
  for (int pre : {0, 21}) {
    const int n = pre + static_cast<int>(cases.size()) + (pre ? 10 : 0);
    std::vector<T> a(n, fill_a), b(n, fill_b), r(n);
    for (size_t j = 0; j < cases.size(); ++j) {
      a[pre + j] = cases[j].a;
      b[pre + j] = cases[j].b;
    }
    const Reports rep = with_reports([&] { run(n, a.data(), b.data(), r.data()); });
    std::vector<int> want_index, want_code;
    for (size_t j = 0; j < cases.size(); ++j) {
      const Case<T>& c = cases[j];
      EXPECT_TRUE(within(r[pre + j], c.want, ulps))
          << what << " (" << c.a << ", " << c.b << ") gave " << r[pre + j] << ", want " << c.want
          << " [offset " << pre << "]";
      if (c.code != 0) {
        want_index.push_back(pre + static_cast<int>(j));
        want_code.push_back(c.code);
      }
    }
    EXPECT_EQ(rep.index, want_index) << what << " [offset " << pre << "]";
    EXPECT_EQ(rep.code, want_code) << what << " [offset " << pre << "]";
  }
}

class PowerTest : public zok::test::IsaTest {
 protected:
  // Cases of a one- or two-argument function, in all three flavours.
  template <typename T>
  void run(Fn fn, const std::vector<Case<T>>& cases, T fill_a = T(2), T fill_b = T(0)) {
    for (int slot = 0; slot < 3; ++slot) {
      void* k = (*zok::vm::isa_kernels(GetParam()))[static_cast<int>(fn)][slot];
      check_cases<T>(std::string(zok::vm::info(fn).name) + " " + kSlotName[slot], cases, bound<T>(slot),
                     fill_a, fill_b, [&](int n, const T* a, const T* b, T* r) {
                       zok::test::call<T>(k, zok::vm::info(fn).shape, n, a, b, r, nullptr);
                     });
    }
  }
};

template <typename T>
std::vector<Case<T>> sqrt_cases() {
  const T tiny = sizeof(T) == 4 ? T(1e-40) : T(1e-320);
  const T root = std::sqrt(tiny);  // about 1e-20 for float: the C library's correctly rounded root
  return {{T(4), 0, T(2), 0},        {-T(0), 0, -T(0), 0},   {T(-1), 0, kNan<T>, 1}, {kInf<T>, 0, kInf<T>, 0},
          {-kInf<T>, 0, kNan<T>, 1}, {tiny, 0, root, 0},     {T(0), 0, T(0), 0},     {kNan<T>, 0, kNan<T>, 0},
          {-tiny, 0, kNan<T>, 1},    {T(0.25), 0, T(0.5), 0}};
}

TEST_P(PowerTest, SqrtOfNegativeIsTheNegativeQuietNan) {
  const float a[3] = {-1.0f, -kInf<float>, -1e-40f};
  for (int slot = 0; slot < 3; ++slot) {
    float r[3];
    with_reports([&] { k<KA<float>>(Fn::sSqrt, slot)(3, a, r); });
    for (float v : r) {
      uint32_t u;
      std::memcpy(&u, &v, 4);
      EXPECT_EQ(u, 0xFFC00000u) << kSlotName[slot];
    }
  }
}

template <typename T>
std::vector<Case<T>> inv_sqrt_cases() {
  const T tiny = sizeof(T) == 4 ? T(0x1p-140) : T(0x1p-1070);
  const T inv_root = sizeof(T) == 4 ? T(0x1p70) : T(0x1p535);
  return {{T(0), 0, kInf<T>, 2},    {-T(0), 0, -kInf<T>, 2}, {T(4), 0, T(0.5), 0},
          {T(-4), 0, kNan<T>, 1},   {kInf<T>, 0, T(0), 0},   {-kInf<T>, 0, kNan<T>, 1},
          {kNan<T>, 0, kNan<T>, 0}, {tiny, 0, inv_root, 0},  {T(0x1p100), 0, T(0x1p-50), 0},
          {T(0.0625), 0, T(4), 0}};
}

// With the mode word's denormal field 0x280000 a denormal argument counts as zero.
TEST_P(PowerTest, DenormalArgumentsReadAsZeroWhenTheModeFlushes) {
  const float a[1] = {1e-40f};
  for (int slot = 0; slot < 3; ++slot) {
    float r[2];
    const Reports rep = with_reports(
        [&] {
          k<KA<float>>(Fn::sSqrt, slot)(1, a, r);
          k<KA<float>>(Fn::sInvSqrt, slot)(1, a, r + 1);
        },
        ZOK_VM_HA | ZOK_VM_FTZDAZ_ON | ZOK_VM_ERRMODE_CALLBACK);
    EXPECT_EQ(r[0], 0.0f) << kSlotName[slot];
    EXPECT_EQ(r[1], kInf<float>) << kSlotName[slot];
    EXPECT_EQ(rep.code, std::vector<int>{2}) << kSlotName[slot];
  }
}

template <typename T>
std::vector<Case<T>> root_cases(bool pow2o3, bool inv) {
  const T tiny = sizeof(T) == 4 ? T(0x1p-141) : T(0x1p-1071);  // denormal, a cube of a power of two
  const T tiny_root = sizeof(T) == 4 ? T(0x1p-47) : T(0x1p-357), tiny_sq = tiny_root * tiny_root;
  if (inv) {
    return {{T(-27), 0, T(-1) / T(3), 0}, {T(0), 0, kInf<T>, 2},           {-T(0), 0, -kInf<T>, 2},
            {kInf<T>, 0, T(0), 0},        {-kInf<T>, 0, -T(0), 0},         {kNan<T>, 0, kNan<T>, 0},
            {T(0.125), 0, T(2), 0},       {-tiny, 0, T(-1) / tiny_root, 0}};
  }
  if (pow2o3) {
    return {{T(-8), 0, T(4), 0},    {T(27), 0, T(9), 0},           {T(0), 0, T(0), 0},
            {-T(0), 0, T(0), 0},    {-kInf<T>, 0, kInf<T>, 0},     {kNan<T>, 0, kNan<T>, 0},
            {-tiny, 0, tiny_sq, 0}, {T(0x1p-30), 0, T(0x1p-20), 0}};
  }
  return {{T(-27), 0, T(-3), 0},    {T(8), 0, T(2), 0},         {-T(0), 0, -T(0), 0},
          {T(0), 0, T(0), 0},       {-kInf<T>, 0, -kInf<T>, 0}, {kInf<T>, 0, kInf<T>, 0},
          {kNan<T>, 0, kNan<T>, 0}, {-tiny, 0, -tiny_root, 0},  {T(1e-3), 0, T(0.1), 0}};
}

template <typename T>
std::vector<Case<T>> pow3o2_cases() {
  using L = std::numeric_limits<T>;
  const T big = sizeof(T) == 4 ? T(0x1p100) : T(0x1p700);     // the result overflows
  const T small = sizeof(T) == 4 ? T(0x1p-96) : T(0x1p-710);  // the result is a denormal or zero
  const T small_r = T(std::ldexp(1.0, sizeof(T) == 4 ? -144 : -1065)), dmin = L::denorm_min();
  return {{T(-4), 0, kNan<T>, 1}, {T(4), 0, T(8), 0},     {-kInf<T>, 0, kNan<T>, 1}, {kInf<T>, 0, kInf<T>, 0},
          {T(0), 0, T(0), 0},     {-T(0), 0, T(0), 0},    {kNan<T>, 0, kNan<T>, 0},  {big, 0, kInf<T>, 0},
          {small, 0, small_r, 0}, {-dmin, 0, kNan<T>, 1}, {T(0.25), 0, T(0.125), 0}};
}

// One-argument roots and powers: special values and reports; cube roots are odd, Pow2o3 drops the
// sign, Pow3o2 overflows quietly and rejects negatives, InvSqrt rescales near the exponent range's ends.
TEST_P(PowerTest, OneArgumentSpecialValuesAndReports) {
  run<float>(Fn::sSqrt, sqrt_cases<float>());
  run<double>(Fn::dSqrt, sqrt_cases<double>());
  run<float>(Fn::sInvSqrt, inv_sqrt_cases<float>());
  run<double>(Fn::dInvSqrt, inv_sqrt_cases<double>());
  run<double>(Fn::dInvSqrt, {{0x1p-1000, 0, 0x1p500, 0},
                             {0x1.8p1000, 0, 1 / std::sqrt(0x1.8p1000), 0},
                             {std::numeric_limits<double>::max(), 0,
                              1 / std::sqrt(std::numeric_limits<double>::max()), 0}});
  run<float>(Fn::sCbrt, root_cases<float>(false, false));
  run<double>(Fn::dCbrt, root_cases<double>(false, false));
  run<float>(Fn::sInvCbrt, root_cases<float>(false, true));
  run<double>(Fn::dInvCbrt, root_cases<double>(false, true));
  run<float>(Fn::sPow2o3, root_cases<float>(true, false));
  run<double>(Fn::dPow2o3, root_cases<double>(true, false));
  run<float>(Fn::sPow3o2, pow3o2_cases<float>());
  run<double>(Fn::dPow3o2, pow3o2_cases<double>());
}

template <typename T>
std::vector<Case<T>> hypot_cases() {
  using L = std::numeric_limits<T>;
  const T h = sizeof(T) == 4 ? T(3e30) : T(3e300), k = sizeof(T) == 4 ? T(4e30) : T(4e300);
  const T huge_a = sizeof(T) == 4 ? T(3e38) : T(1.5e308), huge_b = sizeof(T) == 4 ? T(4e38) : T(1.6e308);
  const T h5 = T(5) * (h / T(3)), d = L::denorm_min(), max = L::max();
  return {{h, k, h5, 0},
          {huge_a, huge_b, kInf<T>, 0},
          {kInf<T>, kNan<T>, kInf<T>, 0},
          {kNan<T>, -kInf<T>, kInf<T>, 0},
          {kNan<T>, T(1), kNan<T>, 0},
          {T(1), kNan<T>, kNan<T>, 0},
          {T(0), -T(0), T(0), 0},
          {-T(3), T(4), T(5), 0},
          {d * 3, d * 4, d * 5, 0},
          {T(1e-30), T(1), T(1), 0},
          {max, T(0), max, 0}};
}

TEST_P(PowerTest, HypotNeitherOverflowsNorUnderflowsInside) {
  run<float>(Fn::sHypot, hypot_cases<float>(), 3.0f, 4.0f);
  run<double>(Fn::dHypot, hypot_cases<double>(), 3.0, 4.0);
}

// The ordered rules of Pow on the cases that decide between them, with their reports; then signs of
// zeros and infinities, -1 with odd, even and infinite exponents, NaN propagation, and results beyond
// the range without reports.
template <typename T>
std::vector<Case<T>> pow_rule_cases() {
  using L = std::numeric_limits<T>;
  const T big = sizeof(T) == 4 ? T(50) : T(400);               // 10^big overflows
  const T huge_even = sizeof(T) == 4 ? T(0x1p24) : T(0x1p53);  // counts as an even integer
  const T odd_big = sizeof(T) == 4 ? T(0x1p24 - 1) : T(0x1p53 - 1), dmin = L::denorm_min();
  const T tiny_y = sizeof(T) == 4 ? T(-60) : T(-400);  // 10^tiny_y underflows to 0
  const T sub_y = sizeof(T) == 4 ? T(-140) : T(-1070), sub = sizeof(T) == 4 ? T(0x1p-140) : T(0x1p-1070);
  const T max_y = sizeof(T) == 4 ? T(127) : T(1023), neg_max = sizeof(T) == 4 ? T(-0x1p127) : T(-0x1p1023);
  return {{T(0), T(-1), kInf<T>, 1},     {-T(0), T(-3), -kInf<T>, 1},    {-T(0), T(-2), kInf<T>, 1},
          {T(-8), T(1) / 3, kNan<T>, 1}, {T(-8), T(3), T(-512), 0},      {T(-1), kInf<T>, T(1), 0},
          {T(1), kNan<T>, T(1), 0},      {kNan<T>, T(0), T(1), 0},       {T(0.5), -kInf<T>, kInf<T>, 0},
          {T(2), -kInf<T>, T(0), 0},     {T(10), big, kInf<T>, 0},       {-T(0), T(3), -T(0), 0},
          {-T(0), T(2), T(0), 0},        {-T(0), T(0.5), T(0), 0},       {T(0), kInf<T>, T(0), 0},
          {-T(0), -kInf<T>, kInf<T>, 1}, {T(-1), T(3), T(-1), 0},        {T(-1), T(-4), T(1), 0},
          {T(-1), -kInf<T>, T(1), 0},    {T(-1), T(0.5), kNan<T>, 1},    {kNan<T>, T(1), kNan<T>, 0},
          {T(2), kNan<T>, kNan<T>, 0},   {T(1), kInf<T>, T(1), 0},       {-kInf<T>, T(3), -kInf<T>, 0},
          {-kInf<T>, T(-3), -T(0), 0},   {-kInf<T>, T(2), kInf<T>, 0},   {-kInf<T>, T(0.5), kInf<T>, 0},
          {kInf<T>, T(-0.5), T(0), 0},   {T(-0.5), kInf<T>, T(0), 0},    {T(-2), kInf<T>, kInf<T>, 0},
          {T(-2), -kInf<T>, T(0), 0},    {T(-2), huge_even, kInf<T>, 0}, {T(-0.5), huge_even, T(0), 0},
          {T(-1), odd_big, T(-1), 0},    {T(-2), T(-3), T(-0.125), 0},   {T(4), T(0.5), T(2), 0},
          {T(2), T(-1), T(0.5), 0},      {L::max(), T(-2), T(0), 0},     {dmin, T(0.5), std::sqrt(dmin), 0},
          {T(10), tiny_y, T(0), 0},      {T(2), sub_y, sub, 0},          {T(-2), max_y, neg_max, 0}};
}

TEST_P(PowerTest, PowFollowsItsRulesInOrder) {
  run<float>(Fn::sPow, pow_rule_cases<float>(), 3.0f, 1.5f);
  run<double>(Fn::dPow, pow_rule_cases<double>(), 3.0, 1.5);
}

// Float Pow where every element leaves the fast path for the rules path: negative bases with
// integral exponents (from small ones to beyond 2^24, which count as even), and bases next to 1,
// of either sign, with exponents large enough that no block path takes them. The exponents spread
// |x|^y from below the denormals to beyond overflow. Each flavour against powl (64-bit
// significand), in ulps of the float result (denormal ulp below the normals); nothing is reported.
double float_pow_error(float got, long double want) {
  const float w = static_cast<float>(want);
  if (std::isinf(w) || std::isinf(got)) return w == got ? 0 : 1e30;
  const long double aw = std::fabs(want);
  const int e = aw < 0x1p-126L ? -126 : std::ilogb(aw);
  return static_cast<double>(std::fabs(static_cast<long double>(got) - want) / std::ldexp(1.0L, e - 23));
}

TEST_P(PowerTest, FloatPowRulesPathOverThePlane) {
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> target(-160, 135), mant(1, 2);
  std::uniform_int_distribution<int> expo(-149, 127), near(1, 1 << 12);
  const int n = 30000;
  std::vector<float> a(n), b(n);
  for (int i = 0; i < n; ++i) {
    float x, y;
    if (i % 3 == 0) {
      x = -static_cast<float>(std::ldexp(mant(rng), expo(rng)));
      if (x == -1.0f || x == 0.0f) x = -3.0f;
      y = std::trunc(static_cast<float>(target(rng) / std::log2(-static_cast<double>(x))));
    } else {
      // 1 +- k 2^-24 (2^-25 below 1): log2 |x| is tiny, so |y| is far beyond the fast range.
      const int k = near(rng);
      x = static_cast<float>(rng() & 1 ? 1 + std::ldexp(k, -24) : 1 - std::ldexp(k, -25));
      y = static_cast<float>(target(rng) / std::log2(static_cast<double>(x)));
      if (i % 3 == 2) {
        x = -x;
        y = std::trunc(y);
      }
    }
    a[i] = x;
    b[i] = y == 0.0f ? 1.0f : y;
  }
  for (int slot = 0; slot < 3; ++slot) {
    std::vector<float> r(n);
    const Reports rep = with_reports([&] { k<KAB<float>>(Fn::sPow, slot)(n, a.data(), b.data(), r.data()); });
    EXPECT_TRUE(rep.code.empty()) << kSlotName[slot];
    double worst = 0;
    int at = 0;
    for (int i = 0; i < n; ++i) {
      const double e =
          float_pow_error(r[i], std::pow(static_cast<long double>(a[i]), static_cast<long double>(b[i])));
      if (e > worst) {
        worst = e;
        at = i;
      }
    }
    EXPECT_LE(worst, bound<float>(slot)) << "vsPow " << kSlotName[slot] << " worst at (" << std::hexfloat
                                         << a[at] << ", " << b[at] << ") -> " << r[at];
  }
}

// Powx is Pow with one exponent: for every exponent with a shortcut (and a few without), each
// flavour gives, over arguments of every class, Pow's special results and reports, and ordinary
// results within the flavour's bound of Pow's HA result.
template <typename T>
void powx_matches_pow(Isa isa) {
  using L = std::numeric_limits<T>;
  const T exps[] = {T(0.5), T(-0.5), T(1),    T(-1),    T(1.5),    T(-1.5),  T(2),      T(-2),  T(3),
                    T(-3),  T(4),    T(-4),   T(1) / 3, T(-1) / 3, T(2) / 3, T(-2) / 3, T(2.5), T(-7),
                    T(0),   -T(0),   kInf<T>, -kInf<T>, kNan<T>,   T(1e-3),  T(40)};
  const std::vector<T> args = {T(4),      T(-4),     T(0),   -T(0),           kInf<T>,          -kInf<T>,
                               kNan<T>,   T(1),      T(-1),  L::denorm_min(), -L::denorm_min(), L::max(),
                               -L::max(), T(0.3),    T(-27), T(1e-3),         T(7.5),           T(-0.5),
                               L::min(),  T(123.25), T(-8)};
  const Fn powx = sizeof(T) == 4 ? Fn::sPowx : Fn::dPowx, pow = sizeof(T) == 4 ? Fn::sPow : Fn::dPow;
  for (T e : exps) {
    const std::vector<T> b(args.size(), e);
    std::vector<T> want(args.size());
    const Reports want_rep = with_reports([&] {
      kernel<KAB<T>>(isa, pow, zok::vm::kHA)(static_cast<int>(args.size()), args.data(), b.data(),
                                             want.data());
    });
    for (int slot = 0; slot < 3; ++slot) {
      // Alone, element by element, and as one array (blocks and tail).
      for (int whole : {0, 1}) {
        std::vector<T> r(args.size());
        const Reports rep = with_reports([&] {
          auto k = kernel<void (*)(int, const T*, T, T*)>(isa, powx, slot);
          if (whole) {
            k(static_cast<int>(args.size()), args.data(), e, r.data());
          } else {
            for (size_t i = 0; i < args.size(); ++i) k(1, &args[i], e, &r[i]);
          }
        });
        // Third exponents are the nearest float or double, so the EP shortcuts are a few ulp off.
        const double ulps = bound<T>(slot) + 1;
        const std::string what = std::string(zok::vm::info(powx).name) + " " + kSlotName[slot];
        for (size_t i = 0; i < args.size(); ++i)
          EXPECT_TRUE(within(r[i], want[i], ulps))
              << what << " (" << args[i] << ")^" << e << " gave " << r[i] << ", Pow gives " << want[i];
        if (whole) {
          EXPECT_EQ(rep.index, want_rep.index) << what << " ^" << e;
        }
        EXPECT_EQ(rep.code, want_rep.code) << what << " ^" << e;
      }
    }
  }
}

TEST_P(PowerTest, PowxHalfOverFourAndMinusFour) {
  const float a[2] = {4.0f, -4.0f};
  for (int slot = 0; slot < 3; ++slot) {
    float r[2];
    const Reports rep =
        with_reports([&] { k<void (*)(int, const float*, float, float*)>(Fn::sPowx, slot)(2, a, 0.5f, r); });
    EXPECT_EQ(r[0], 2.0f) << kSlotName[slot];
    EXPECT_TRUE(std::isnan(r[1])) << kSlotName[slot];
    EXPECT_EQ(rep.index, std::vector<int>{1}) << kSlotName[slot];
    EXPECT_EQ(rep.code, std::vector<int>{1}) << kSlotName[slot];
  }
}

TEST_P(PowerTest, PowxAgreesWithPowForEveryExponentClass) {
  powx_matches_pow<float>(GetParam());
  powx_matches_pow<double>(GetParam());
}

// The report of a Powx element carries the exponent as its second argument.
int32_t keep_arg2(ErrorContext* ctx) {
  zok::test::t_reports->index.push_back(static_cast<int>(ctx->arg2 * 100));
  zok::test::t_reports->code.push_back(ctx->code);
  return 0;
}

TEST_P(PowerTest, PowxReportsCarryTheExponent) {
  const double a[3] = {2.0, -3.0, 0.0};
  double r[3];
  zok::test::ModeOption env(nullptr);
  const Reports rep = on_fresh_thread([&] {
    Reports got;
    zok::test::t_reports = &got;
    _yubSetErrorCallBack(keep_arg2);
    k<void (*)(int, const double*, double, double*)>(Fn::dPowx)(3, a, -2.5, r);
    return got;
  });
  EXPECT_EQ(rep.index, (std::vector<int>{-250, -250}));
  EXPECT_EQ(rep.code, (std::vector<int>{1, 1}));
  EXPECT_EQ(r[2], kInf<double>);
}

ZOK_VM_EVERY_ISA(PowerTest);

}  // namespace
