// Accuracy against MPFR: the largest error in ulps of every kernel flavour on every instruction set,
// against the flavour's bound, over random arguments across the whole exponent range (denormals
// included) and evenly bit-spaced ones, over the (x, y) plane of Pow, and densely over the ranges
// where the exponentials and logarithms give finite non-zero results.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/vm/vm_test_support.h"

namespace {

using zok::vm::Fn;
using zok::vm::Shape;

using Ref = int (*)(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b);
#define REF(expr) [](mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b) -> int { return (void)b, (expr); }
constexpr mpfr_rnd_t N = MPFR_RNDN;
const Ref ref_exp = REF(mpfr_exp(r, a, N)), ref_expm1 = REF(mpfr_expm1(r, a, N)),
          ref_log = REF(mpfr_log(r, a, N)), ref_log10 = REF(mpfr_log10(r, a, N)),
          ref_log1p = REF(mpfr_log1p(r, a, N)), ref_pow = REF(mpfr_pow(r, a, b, N));

// Bounds in ulps: LA, HA, and EP (half the significand bits: 2^12 float and 2^26 double ulps).
struct Row {
  Fn fs, fd;
  Ref ref;
  double la, ha, ep_float, ep_double;
};

constexpr double kExact = 0.5, kEpS = 4096, kEpD = 67108864;
const Row kRows[] = {
    {Fn::sAdd, Fn::dAdd, REF(mpfr_add(r, a, b, N)), kExact, kExact, kExact, kExact},
    {Fn::sSub, Fn::dSub, REF(mpfr_sub(r, a, b, N)), kExact, kExact, kExact, kExact},
    {Fn::sMul, Fn::dMul, REF(mpfr_mul(r, a, b, N)), kExact, kExact, kExact, kExact},
    {Fn::sSqr, Fn::dSqr, REF(mpfr_sqr(r, a, N)), kExact, kExact, kExact, kExact},
    {Fn::sDiv, Fn::dDiv, REF(mpfr_div(r, a, b, N)), 4, kExact, kEpS, kEpD},
    {Fn::sInv, Fn::dInv, REF(mpfr_ui_div(r, 1, a, N)), 4, kExact, kEpS, kEpD},
    {Fn::sFloor, Fn::dFloor, REF(mpfr_floor(r, a)), 0, 0, 0, 0},
    {Fn::sCeil, Fn::dCeil, REF(mpfr_ceil(r, a)), 0, 0, 0, 0},
    {Fn::sTrunc, Fn::dTrunc, REF(mpfr_trunc(r, a)), 0, 0, 0, 0},
    {Fn::sRound, Fn::dRound, REF(mpfr_round(r, a)), 0, 0, 0, 0},
    {Fn::sRint, Fn::dRint, REF(mpfr_rint(r, a, N)), 0, 0, 0, 0},
    {Fn::sNearbyInt, Fn::dNearbyInt, REF(mpfr_rint(r, a, N)), 0, 0, 0, 0},
    {Fn::sFrac, Fn::dFrac, REF(mpfr_frac(r, a, N)), 0, 0, 0, 0},
    {Fn::sExp, Fn::dExp, ref_exp, 4, 1, kEpS, kEpD},
    {Fn::sExpm1, Fn::dExpm1, ref_expm1, 4, 1, kEpS, kEpD},
    {Fn::sLn, Fn::dLn, ref_log, 4, 1, kEpS, kEpD},
    {Fn::sLog10, Fn::dLog10, ref_log10, 4, 1, kEpS, kEpD},
    {Fn::sLog1p, Fn::dLog1p, ref_log1p, 4, 1, kEpS, kEpD},
    {Fn::sSqrt, Fn::dSqrt, REF(mpfr_sqrt(r, a, N)), 4, kExact, kEpS, kExact},
    {Fn::sInvSqrt, Fn::dInvSqrt, REF(mpfr_rec_sqrt(r, a, N)), 4, 1, kEpS, 4},
    {Fn::sCbrt, Fn::dCbrt, REF(mpfr_cbrt(r, a, N)), 4, 1, kEpS, 4},
    {Fn::sInvCbrt, Fn::dInvCbrt, REF((mpfr_cbrt(r, a, N), mpfr_ui_div(r, 1, r, N))), 4, 1, kEpS, 4},
    {Fn::sPow2o3, Fn::dPow2o3, REF((mpfr_abs(r, a, N), mpfr_cbrt(r, r, N), mpfr_sqr(r, r, N))), 4, 1, kEpS,
     kEpD},
    {Fn::sPow3o2, Fn::dPow3o2, REF((mpfr_sqrt(r, a, N), mpfr_mul(r, r, a, N))), 4, 1, kEpS, kEpD},
    {Fn::sHypot, Fn::dHypot, REF(mpfr_hypot(r, a, b, N)), 4, 1, kEpS, kEpD},
    {Fn::sPow, Fn::dPow, ref_pow, 4, 1, kEpS, kEpD},
    // The third exponents of the float EP Powx are the floats nearest a third: a few ulp off.
    {Fn::sPowx, Fn::dPowx, ref_pow, 4, 1, kEpS, kEpD},
};

template <typename T>
constexpr int kPrecision = std::numeric_limits<T>::digits;
template <typename T>
constexpr int kMinExp = std::numeric_limits<T>::min_exponent;  // 2^(kMinExp-1) is the smallest normal

// Error of y against the exact value x, in ulps of x's binade (subnormal ulp below the normals); x is
// first rounded to T with its range and subnormals, so that overflow gives infinity, deep underflow 0.
template <typename T>
double ulp_error(T y, mpfr_t x) {
  mpfr_t t;
  mpfr_init2(t, kPrecision<T>);
  const mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
  mpfr_set_emin(kMinExp<T> - kPrecision<T> + 1);
  mpfr_set_emax(std::numeric_limits<T>::max_exponent);
  mpfr_subnormalize(t, mpfr_check_range(t, mpfr_set(t, x, N), N), N);
  mpfr_set_emin(emin);
  mpfr_set_emax(emax);
  const T xr = static_cast<T>(mpfr_get_d(t, N));
  mpfr_clear(t);
  if (std::isnan(xr)) return std::isnan(y) ? 0 : 1e30;
  if (std::isinf(xr) || std::isnan(y) || std::isinf(y)) return y == xr ? 0 : 1e30;
  if (mpfr_zero_p(x)) return y == T(0) ? 0 : 1e30;
  mpfr_exp_t e = mpfr_get_exp(x);
  if (e < kMinExp<T>) e = kMinExp<T>;
  mpfr_t d;
  mpfr_init2(d, 256);
  mpfr_set_d(d, static_cast<double>(y), N);
  mpfr_sub(d, d, x, N);
  mpfr_abs(d, d, N);
  mpfr_mul_2si(d, d, kPrecision<T> - e, N);
  const double err = mpfr_get_d(d, N);
  mpfr_clear(d);
  return err;
}

// The largest error of results r of (a, b) against ref, and where it occurs.
template <typename T>
double worst_against(Ref ref, const std::vector<T>& a, const std::vector<T>& b, const std::vector<T>& r,
                     std::string* where) {
  mpfr_t ma, mb, mr;
  mpfr_inits2(320, ma, mb, mr, static_cast<mpfr_ptr>(nullptr));
  double worst = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    mpfr_set_d(ma, static_cast<double>(a[i]), N);
    mpfr_set_d(mb, static_cast<double>(b[i]), N);
    ref(mr, ma, mb);
    const double e = ulp_error<T>(r[i], mr);
    if (e > worst) {
      worst = e;
      char buf[160];
      std::snprintf(buf, sizeof buf, "%a, %a -> %a", static_cast<double>(a[i]), static_cast<double>(b[i]),
                    static_cast<double>(r[i]));
      *where = buf;
    }
  }
  mpfr_clears(ma, mb, mr, static_cast<mpfr_ptr>(nullptr));
  return worst;
}

// Runs body on a fresh thread with reports ignored (only values matter here), then frees MPFR's
// per-thread caches.
template <typename Body>
void on_mpfr_thread(Body body) {
  zok::test::ModeOption env(nullptr);
  zok::test::on_fresh_thread([&] {
    _yubSetMode(ZOK_VM_ERRMODE_IGNORE);
    body();
    mpfr_free_cache();
    return 0;
  });
}

// Arguments: random bit patterns (every sign, exponent and significand), plus an even walk over them.
template <typename T>
std::vector<T> arguments(unsigned seed, size_t count) {
  using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
  std::mt19937_64 rng(seed);
  std::vector<T> v;
  const U step = std::numeric_limits<U>::max() / static_cast<U>(count);
  for (size_t k = 0; k < 2 * count; ++k) {
    const U bits = k < count ? static_cast<U>(rng()) : static_cast<U>(step * (k - count));
    T x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isnan(x)) v.push_back(x);
  }
  return v;
}

template <typename T>
double worst_error(const Row& row, Fn fn, zok::vm::Isa isa, int slot, std::string* where) {
  const Shape shape = zok::vm::info(fn).shape;
  void* k = (*zok::vm::isa_kernels(isa))[static_cast<int>(fn)][slot];
  std::vector<T> a = arguments<T>(11, 20000), b = arguments<T>(12, 20000);
  b.resize(a.size(), T(1));
  std::shuffle(b.begin(), b.end(), std::mt19937(5));
  std::vector<T> r(a.size());
  if (shape == Shape::AB_R) {
    reinterpret_cast<zok::test::KAB<T>>(k)(static_cast<int>(a.size()), a.data(), b.data(), r.data());
  } else if (shape == Shape::AX_R) {
    // One scalar per stretch of the arguments: every exponent with a shortcut, and a few without.
    const T xs[] = {T(0.5),   T(-0.5),   T(1),   T(-1),    T(1.5),  T(-1.5),  T(2),
                    T(-2),    T(3),      T(-3),  T(4),     T(-4),   T(1) / 3, T(-1) / 3,
                    T(2) / 3, T(-2) / 3, T(2.5), T(-7.25), T(1e-3), T(150)};
    const size_t groups = sizeof xs / sizeof xs[0], per = a.size() / groups;
    for (size_t g = 0; g < groups; ++g) {
      const size_t start = g * per, len = g + 1 == groups ? a.size() - start : per;
      std::fill(b.begin() + static_cast<long>(start), b.begin() + static_cast<long>(start + len), xs[g]);
      reinterpret_cast<void (*)(int, const T*, T, T*)>(k)(static_cast<int>(len), a.data() + start, xs[g],
                                                          r.data() + start);
    }
  } else {
    reinterpret_cast<zok::test::KA<T>>(k)(static_cast<int>(a.size()), a.data(), r.data());
    b = a;
  }
  return worst_against<T>(row.ref, a, b, r, where);
}

const char* slot_name(int slot) {
  return zok::test::kSlotName[slot];
}

TEST(Accuracy, EveryFlavourWithinItsBound) {
  on_mpfr_thread([] {
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (const Row& row : kRows)
        for (int slot = 0; slot < 3; ++slot) {
          std::string where;
          const double bs = slot == zok::vm::kEP ? row.ep_float : slot == zok::vm::kLA ? row.la : row.ha;
          const double bd = slot == zok::vm::kEP ? row.ep_double : slot == zok::vm::kLA ? row.la : row.ha;
          const double es = worst_error<float>(row, row.fs, isa, slot, &where);
          EXPECT_LE(es, bs) << zok::vm::info(row.fs).name << " " << slot_name(slot) << " "
                            << zok::vm::isa_name(isa) << " worst at " << where;
          const double ed = worst_error<double>(row, row.fd, isa, slot, &where);
          EXPECT_LE(ed, bd) << zok::vm::info(row.fd).name << " " << slot_name(slot) << " "
                            << zok::vm::isa_name(isa) << " worst at " << where;
          std::printf("%-12s %-3s %-6s %8.3f ulp   %-12s %8.3f ulp\n", zok::vm::info(row.fs).name,
                      slot_name(slot), zok::vm::isa_name(isa), es, zok::vm::info(row.fd).name, ed);
        }
  });
}

// Pow over the whole (x, y) plane: y chosen so that |x|^y spreads evenly in the exponent from below
// the denormals to beyond overflow, half the bases near 1, negative x taking integral y.
template <typename T>
double pow_plane_error(void* k, std::string* where) {
  std::mt19937_64 rng(3);
  const double lo = sizeof(T) == 4 ? -155 : -1080, hi = sizeof(T) == 4 ? 130 : 1026;
  std::uniform_real_distribution<double> target(lo, hi),
      expo(sizeof(T) == 4 ? -149 : -1074, sizeof(T) == 4 ? 127 : 1023), mant(1, 2);
  const size_t n = 60000;
  std::vector<T> a(n), b(n), r(n);
  for (size_t i = 0; i < n; ++i) {
    const double x = i % 2 ? std::ldexp(mant(rng), static_cast<int>(expo(rng)))
                           : 1 + (mant(rng) - 1.5) * std::ldexp(1, -static_cast<int>(rng() % 40));
    T xv = static_cast<T>(x);
    if (xv == T(1) || !(xv > T(0)) || std::isinf(xv)) xv = T(3);
    double y = target(rng) / std::log2(static_cast<double>(xv));
    if (i % 7 == 0) {
      xv = -xv;
      y = std::trunc(y);
    }
    a[i] = xv;
    b[i] = static_cast<T>(y);
  }
  reinterpret_cast<zok::test::KAB<T>>(k)(static_cast<int>(n), a.data(), b.data(), r.data());
  return worst_against<T>(ref_pow, a, b, r, where);
}

TEST(Accuracy, PowOverTheWholePlane) {
  on_mpfr_thread([] {
    const double bound_s[3] = {4, 1, 4096}, bound_d[3] = {4, 1, 67108864};
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (int slot = 0; slot < 3; ++slot) {
        std::string where;
        const auto& kernels = *zok::vm::isa_kernels(isa);
        const double es = pow_plane_error<float>(kernels[static_cast<int>(Fn::sPow)][slot], &where);
        EXPECT_LE(es, bound_s[slot]) << "vsPow " << slot_name(slot) << " " << zok::vm::isa_name(isa)
                                     << " worst at " << where;
        const double ed = pow_plane_error<double>(kernels[static_cast<int>(Fn::dPow)][slot], &where);
        EXPECT_LE(ed, bound_d[slot]) << "vdPow " << slot_name(slot) << " " << zok::vm::isa_name(isa)
                                     << " worst at " << where;
        std::printf("plane vsPow %-3s %-6s %8.3f ulp   vdPow %8.3f ulp\n", slot_name(slot),
                    zok::vm::isa_name(isa), es, ed);
      }
  });
}

// Exponentials and logarithms densely over their ranges: 6000 random arguments per range, spread
// linearly or by magnitude (the sign from `negative`), plus 40 ulps inward from each end.
struct Range {
  double lo, hi;
  bool log_scale, negative;
};

template <typename T>
std::vector<T> range_arguments(const std::vector<Range>& ranges, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<T> v;
  for (const Range& r : ranges) {
    for (int i = 0; i < 6000; ++i) {
      const double x = r.log_scale ? std::exp2(std::log2(r.lo) + u(rng) * (std::log2(r.hi) - std::log2(r.lo)))
                                   : r.lo + u(rng) * (r.hi - r.lo);
      v.push_back(static_cast<T>(r.negative ? -x : x));
    }
    for (double end : {r.lo, r.hi}) {
      T x = static_cast<T>(r.negative ? -end : end);
      for (int k = 0; k < 40; ++k, x = std::nextafter(x, T(0))) v.push_back(x);
    }
  }
  return v;
}

Range lin(double lo, double hi) {
  return {lo, hi, false, false};
}
Range mag(double lo, double hi) {
  return {lo, hi, true, false};
}
Range neg_mag(double lo, double hi) {
  return {lo, hi, true, true};
}

struct DenseRow {
  Fn fn;
  Ref ref;
  std::vector<Range> ranges;
};

template <typename T>
double dense_worst(const DenseRow& row, zok::vm::Isa isa, int slot, std::string* where) {
  const std::vector<T> a = range_arguments<T>(row.ranges, 3 + static_cast<unsigned>(slot));
  std::vector<T> r(a.size());
  zok::test::kernel<zok::test::KA<T>>(isa, row.fn, slot)(static_cast<int>(a.size()), a.data(), r.data());
  return worst_against<T>(row.ref, a, a, r, where);
}

TEST(ExpLogAccuracy, DenseOverEachFunctionsRange) {
  // Float and double versions of each function (the double ones wider), near 0, 1 and the thresholds.
  const std::vector<DenseRow> rows = {
      {Fn::sExp, ref_exp, {lin(-104.0, 89.0), mag(1e-9, 1.0), neg_mag(1e-9, 1.0)}},
      {Fn::dExp,
       ref_exp,
       {lin(-746.0, 710.0), mag(1e-17, 1.0), neg_mag(1e-17, 1.0), lin(700, 709.7827), lin(-745.13, -700)}},
      {Fn::sExpm1, ref_expm1, {lin(-90.0, 88.72), mag(1e-40, 1.0), neg_mag(1e-40, 1.0)}},
      {Fn::dExpm1, ref_expm1, {lin(-50.0, 709.78), mag(1e-310, 1.0), neg_mag(1e-310, 1.0)}},
      {Fn::sLn, ref_log, {mag(1e-45, 3e38), lin(0.9, 1.1), lin(0.999, 1.001)}},
      {Fn::dLn, ref_log, {mag(4.9e-324, 1.7e308), lin(0.9, 1.1), lin(0.99999, 1.00001)}},
      {Fn::sLog10, ref_log10, {mag(1e-45, 3e38), lin(0.9, 1.1), lin(0.999, 1.001)}},
      {Fn::dLog10, ref_log10, {mag(4.9e-324, 1.7e308), lin(0.9, 1.1), lin(0.99999, 1.00001)}},
      {Fn::sLog1p, ref_log1p, {lin(-0.9999999, 1.0), mag(1e-45, 1.0), neg_mag(1e-45, 0.5), mag(1.0, 3e38)}},
      {Fn::dLog1p,
       ref_log1p,
       {lin(-0.9999999999, 1.0), mag(4.9e-324, 1.0), neg_mag(4.9e-324, 0.5), mag(1.0, 1.7e308)}},
  };
  on_mpfr_thread([&] {
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (const DenseRow& row : rows)
        for (int slot = 0; slot < 3; ++slot) {
          const bool is_float = zok::vm::info(row.fn).type == 's';
          std::string where;
          const double w = is_float ? dense_worst<float>(row, isa, slot, &where)
                                    : dense_worst<double>(row, isa, slot, &where);
          EXPECT_LE(w, zok::test::bound(slot, is_float))
              << zok::vm::info(row.fn).name << " " << slot_name(slot) << " " << zok::vm::isa_name(isa)
              << " worst at " << where;
          std::printf("%-9s %s %-6s %10.3f ulp  (%s)\n", zok::vm::info(row.fn).name, slot_name(slot),
                      zok::vm::isa_name(isa), w, where.c_str());
        }
  });
}

}  // namespace
