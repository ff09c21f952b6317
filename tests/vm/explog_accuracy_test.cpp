// Accuracy of the exponential and logarithm kernels against MPFR over the ranges where their
// results are finite and non-zero, densely: random arguments per range (denormal arguments and
// results included) plus the neighbourhoods of 0, 1 and the thresholds, every flavour on every
// instruction set, against the flavour's bound (HA 1 ulp, LA 4, EP half the significand bits).
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/vm/vm_test_support.h"

namespace {

using zok::vm::Fn;

using Ref = int (*)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t);

template <typename T>
constexpr int kDigits = std::numeric_limits<T>::digits;
template <typename T>
constexpr int kMinExp = std::numeric_limits<T>::min_exponent;

// |y - exact| in ulps of exact's binade, the subnormal ulp below the normals; the exact value is
// first rounded to T's range so that overflow gives infinity and deep underflow zero.
template <typename T>
double ulps(T y, mpfr_t exact) {
  if (mpfr_nan_p(exact)) return std::isnan(y) ? 0 : 1e30;
  mpfr_t t;
  mpfr_init2(t, kDigits<T>);
  const mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
  mpfr_set_emin(kMinExp<T> - kDigits<T> + 1);
  mpfr_set_emax(std::numeric_limits<T>::max_exponent);
  int inex = mpfr_set(t, exact, MPFR_RNDN);
  inex = mpfr_check_range(t, inex, MPFR_RNDN);
  mpfr_subnormalize(t, inex, MPFR_RNDN);
  mpfr_set_emin(emin);
  mpfr_set_emax(emax);
  const double rounded = mpfr_get_d(t, MPFR_RNDN);
  mpfr_clear(t);
  if (std::isinf(rounded) || std::isnan(y) || std::isinf(y))
    return static_cast<double>(y) == rounded ? 0 : 1e30;
  if (mpfr_zero_p(exact)) return y == 0 ? 0 : 1e30;
  mpfr_exp_t e = mpfr_get_exp(exact);
  if (e < kMinExp<T>) e = kMinExp<T>;
  mpfr_t d;
  mpfr_init2(d, 256);
  mpfr_set_d(d, static_cast<double>(y), MPFR_RNDN);
  mpfr_sub(d, d, exact, MPFR_RNDN);
  mpfr_abs(d, d, MPFR_RNDN);
  mpfr_mul_2si(d, d, kDigits<T> - e, MPFR_RNDN);
  const double err = mpfr_get_d(d, MPFR_RNDN);
  mpfr_clear(d);
  return err;
}

struct Range {
  double lo, hi;
  bool log_scale;  // spread by magnitude (lo, hi > 0, the sign taken from `negative`)
  bool negative;
};

struct Row {
  Fn fn;
  Ref ref;
  std::vector<Range> ranges;
};

template <typename T>
std::vector<T> arguments(const std::vector<Range>& ranges, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::vector<T> v;
  for (const Range& r : ranges) {
    std::uniform_real_distribution<double> u(0, 1);
    for (int i = 0; i < 6000; ++i) {
      double x = r.log_scale ? std::exp2(std::log2(r.lo) + u(rng) * (std::log2(r.hi) - std::log2(r.lo)))
                             : r.lo + u(rng) * (r.hi - r.lo);
      if (r.negative) x = -x;
      v.push_back(static_cast<T>(x));
    }
    // The neighbourhood of both ends, a few ulps wide.
    for (double end : {r.lo, r.hi}) {
      T x = static_cast<T>(r.negative ? -end : end);
      for (int k = 0; k < 40; ++k) {
        v.push_back(x);
        x = std::nextafter(x, T(0));
      }
    }
  }
  return v;
}

template <typename T>
double worst(const Row& row, zok::vm::Isa isa, int slot, std::string* where) {
  const std::vector<T> a = arguments<T>(row.ranges, 3 + static_cast<unsigned>(slot));
  std::vector<T> r(a.size());
  zok::test::kernel<zok::test::KA<T>>(isa, row.fn, slot)(static_cast<int>(a.size()), a.data(), r.data());
  mpfr_t x, y;
  mpfr_init2(x, 64);
  mpfr_init2(y, 200);
  double w = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    mpfr_set_d(x, static_cast<double>(a[i]), MPFR_RNDN);
    row.ref(y, x, MPFR_RNDN);
    const double e = ulps<T>(r[i], y);
    if (e > w) {
      w = e;
      char buf[128];
      std::snprintf(buf, sizeof buf, "%a -> %a", static_cast<double>(a[i]), static_cast<double>(r[i]));
      *where = buf;
    }
  }
  mpfr_clear(x);
  mpfr_clear(y);
  return w;
}

TEST(ExpLogAccuracy, DenseOverEachFunctionsRange) {
  // Ranges: float and double versions of each function (the double ones wider).
  const std::vector<Row> rows = {
      {Fn::sExp, mpfr_exp, {{-104.0, 89.0, false, false}, {1e-9, 1.0, true, false}, {1e-9, 1.0, true, true}}},
      {Fn::dExp,
       mpfr_exp,
       {{-746.0, 710.0, false, false},
        {1e-17, 1.0, true, false},
        {1e-17, 1.0, true, true},
        {700, 709.7827, false, false},
        {-745.13, -700, false, false}}},
      {Fn::sExpm1,
       mpfr_expm1,
       {{-90.0, 88.72, false, false}, {1e-40, 1.0, true, false}, {1e-40, 1.0, true, true}}},
      {Fn::dExpm1,
       mpfr_expm1,
       {{-50.0, 709.78, false, false}, {1e-310, 1.0, true, false}, {1e-310, 1.0, true, true}}},
      {Fn::sLn,
       mpfr_log,
       {{1e-45, 3e38, true, false}, {0.9, 1.1, false, false}, {0.999, 1.001, false, false}}},
      {Fn::dLn,
       mpfr_log,
       {{4.9e-324, 1.7e308, true, false}, {0.9, 1.1, false, false}, {0.99999, 1.00001, false, false}}},
      {Fn::sLog10,
       mpfr_log10,
       {{1e-45, 3e38, true, false}, {0.9, 1.1, false, false}, {0.999, 1.001, false, false}}},
      {Fn::dLog10,
       mpfr_log10,
       {{4.9e-324, 1.7e308, true, false}, {0.9, 1.1, false, false}, {0.99999, 1.00001, false, false}}},
      {Fn::sLog1p,
       mpfr_log1p,
       {{-0.9999999, 1.0, false, false},
        {1e-45, 1.0, true, false},
        {1e-45, 0.5, true, true},
        {1.0, 3e38, true, false}}},
      {Fn::dLog1p,
       mpfr_log1p,
       {{-0.9999999999, 1.0, false, false},
        {4.9e-324, 1.0, true, false},
        {4.9e-324, 0.5, true, true},
        {1.0, 1.7e308, true, false}}},
  };
  zok::test::ModeOption env(nullptr);
  zok::test::on_fresh_thread([&] {
    _yubSetMode(ZOK_VM_ERRMODE_IGNORE);  // underflows are reported; only values matter here
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (const Row& row : rows)
        for (int slot = 0; slot < 3; ++slot) {
          const bool is_float = zok::vm::info(row.fn).type == 's';
          const double bound = slot == zok::vm::kEP   ? (is_float ? 4096.0 : 67108864.0)
                               : slot == zok::vm::kLA ? 4.0
                                                      : 1.0;
          std::string where;
          const double w =
              is_float ? worst<float>(row, isa, slot, &where) : worst<double>(row, isa, slot, &where);
          EXPECT_LE(w, bound) << zok::vm::info(row.fn).name << " "
                              << "LA\0HA\0EP" + 3 * slot << " " << zok::vm::isa_name(isa) << " worst at "
                              << where;
          std::printf("%-9s %s %-6s %10.3f ulp  (%s)\n", zok::vm::info(row.fn).name, "LA\0HA\0EP" + 3 * slot,
                      zok::vm::isa_name(isa), w, where.c_str());
        }
    mpfr_free_cache();  // MPFR keeps per-thread constant caches; this thread ends here
    return 0;
  });
}

}  // namespace
