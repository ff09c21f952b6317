// Power kernels on every instruction set this machine runs: float Pow's rules path over the (x, y)
// plane against powl, and Powx against Pow for every exponent class.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "frame/vm_facts.h"
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
bool within(T got, T want, double ulps) {
  if (std::isnan(want) || std::isinf(want) || want == T(0)) return same_value(got, want);
  const T ulp = std::nextafter(std::fabs(want), std::numeric_limits<T>::infinity()) - std::fabs(want);
  return std::fabs(static_cast<double>(got) - static_cast<double>(want)) <= ulps * static_cast<double>(ulp);
}

class PowerTest : public zok::test::IsaTest {};

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
    EXPECT_LE(worst, zok::vm::facts(Fn::sPow).bound[slot])
        << "vsPow " << kSlotName[slot] << " worst at (" << std::hexfloat << a[at] << ", " << b[at] << ") -> "
        << r[at];
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
        const double ulps = zok::vm::facts(pow).bound[slot] + 1;
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

TEST_P(PowerTest, PowxAgreesWithPowForEveryExponentClass) {
  powx_matches_pow<float>(GetParam());
  powx_matches_pow<double>(GetParam());
}

ZOK_VM_EVERY_ISA(PowerTest);

}  // namespace
