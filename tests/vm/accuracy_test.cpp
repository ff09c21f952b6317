// Accuracy against MPFR: the largest error in ulps of every kernel flavour on every instruction set,
// over random arguments spread across the whole exponent range (denormals included) and over
// evenly bit-spaced arguments, against the flavour's bound. Every function adds one row.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
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

int ref_add(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b) { return mpfr_add(r, a, b, MPFR_RNDN); }
int ref_sub(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b) { return mpfr_sub(r, a, b, MPFR_RNDN); }
int ref_mul(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b) { return mpfr_mul(r, a, b, MPFR_RNDN); }
int ref_div(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b) { return mpfr_div(r, a, b, MPFR_RNDN); }
int ref_sqr(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_sqr(r, a, MPFR_RNDN); }
int ref_inv(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_ui_div(r, 1, a, MPFR_RNDN); }
int ref_floor(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_floor(r, a); }
int ref_ceil(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_ceil(r, a); }
int ref_trunc(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_trunc(r, a); }
int ref_round(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_round(r, a); }
int ref_rint(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_rint(r, a, MPFR_RNDN); }
int ref_frac(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_frac(r, a, MPFR_RNDN); }
// Power and root functions.
int ref_sqrt(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_sqrt(r, a, MPFR_RNDN); }
int ref_inv_sqrt(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_rec_sqrt(r, a, MPFR_RNDN); }
int ref_cbrt(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_cbrt(r, a, MPFR_RNDN); }
int ref_inv_cbrt(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) {
  mpfr_cbrt(r, a, MPFR_RNDN);
  return mpfr_ui_div(r, 1, r, MPFR_RNDN);
}
int ref_pow2o3(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) {
  mpfr_abs(r, a, MPFR_RNDN);
  mpfr_cbrt(r, r, MPFR_RNDN);
  return mpfr_sqr(r, r, MPFR_RNDN);
}
int ref_pow3o2(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) {
  mpfr_sqrt(r, a, MPFR_RNDN);
  return mpfr_mul(r, r, a, MPFR_RNDN);
}
int ref_hypot(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b) { return mpfr_hypot(r, a, b, MPFR_RNDN); }
int ref_pow(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b) { return mpfr_pow(r, a, b, MPFR_RNDN); }
// Exponential and logarithm functions.
int ref_exp(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_exp(r, a, MPFR_RNDN); }
int ref_expm1(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_expm1(r, a, MPFR_RNDN); }
int ref_log(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_log(r, a, MPFR_RNDN); }
int ref_log10(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_log10(r, a, MPFR_RNDN); }
int ref_log1p(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) { return mpfr_log1p(r, a, MPFR_RNDN); }

// Bounds in ulps per slot (LA, HA, EP). EP needs half the significand bits: 2^12 (float) and 2^26
// (double) ulps.
struct Row {
  Fn fs, fd;
  Ref ref;
  double bound[3];
  double ep_float, ep_double;
};

constexpr double kExact = 0.5;
const Row kRows[] = {
    {Fn::sAdd, Fn::dAdd, ref_add, {kExact, kExact, kExact}, kExact, kExact},
    {Fn::sSub, Fn::dSub, ref_sub, {kExact, kExact, kExact}, kExact, kExact},
    {Fn::sMul, Fn::dMul, ref_mul, {kExact, kExact, kExact}, kExact, kExact},
    {Fn::sSqr, Fn::dSqr, ref_sqr, {kExact, kExact, kExact}, kExact, kExact},
    {Fn::sDiv, Fn::dDiv, ref_div, {4, kExact, 0}, 4096, 67108864},
    {Fn::sInv, Fn::dInv, ref_inv, {4, kExact, 0}, 4096, 67108864},
    {Fn::sFloor, Fn::dFloor, ref_floor, {0, 0, 0}, 0, 0},
    {Fn::sCeil, Fn::dCeil, ref_ceil, {0, 0, 0}, 0, 0},
    {Fn::sTrunc, Fn::dTrunc, ref_trunc, {0, 0, 0}, 0, 0},
    {Fn::sRound, Fn::dRound, ref_round, {0, 0, 0}, 0, 0},
    {Fn::sRint, Fn::dRint, ref_rint, {0, 0, 0}, 0, 0},
    {Fn::sNearbyInt, Fn::dNearbyInt, ref_rint, {0, 0, 0}, 0, 0},
    {Fn::sFrac, Fn::dFrac, ref_frac, {0, 0, 0}, 0, 0},
    // Exponential and logarithm functions.
    {Fn::sExp, Fn::dExp, ref_exp, {4, 1, 0}, 4096, 67108864},
    {Fn::sExpm1, Fn::dExpm1, ref_expm1, {4, 1, 0}, 4096, 67108864},
    {Fn::sLn, Fn::dLn, ref_log, {4, 1, 0}, 4096, 67108864},
    {Fn::sLog10, Fn::dLog10, ref_log10, {4, 1, 0}, 4096, 67108864},
    {Fn::sLog1p, Fn::dLog1p, ref_log1p, {4, 1, 0}, 4096, 67108864},
    // Power and root functions.
    {Fn::sSqrt, Fn::dSqrt, ref_sqrt, {4, kExact, 0}, 4096, kExact},
    {Fn::sInvSqrt, Fn::dInvSqrt, ref_inv_sqrt, {4, 1, 0}, 4096, 4},
    {Fn::sCbrt, Fn::dCbrt, ref_cbrt, {4, 1, 0}, 4096, 4},
    {Fn::sInvCbrt, Fn::dInvCbrt, ref_inv_cbrt, {4, 1, 0}, 4096, 4},
    {Fn::sPow2o3, Fn::dPow2o3, ref_pow2o3, {4, 1, 0}, 4096, 67108864},
    {Fn::sPow3o2, Fn::dPow3o2, ref_pow3o2, {4, 1, 0}, 4096, 67108864},
    {Fn::sHypot, Fn::dHypot, ref_hypot, {4, 1, 0}, 4096, 67108864},
    {Fn::sPow, Fn::dPow, ref_pow, {4, 1, 0}, 4096, 67108864},
    // The third exponents of the float EP Powx are the floats nearest a third: a few ulp off.
    {Fn::sPowx, Fn::dPowx, ref_pow, {4, 1, 0}, 4096, 67108864},
};

template <typename T>
constexpr int kPrecision = std::numeric_limits<T>::digits;
template <typename T>
constexpr int kMinExp = std::numeric_limits<T>::min_exponent;  // 2^(kMinExp-1) is the smallest normal

template <typename T>
void set_mpfr(mpfr_t x, T v) {
  if constexpr (sizeof(T) == 4) {
    mpfr_set_flt(x, v, MPFR_RNDN);
  } else {
    mpfr_set_d(x, v, MPFR_RNDN);
  }
}
template <typename T>
T get_rounded(mpfr_t x) {
  // Rounded to the target format with its subnormals.
  mpfr_t t;
  mpfr_init2(t, kPrecision<T>);
  const mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
  mpfr_set_emin(kMinExp<T> - kPrecision<T> + 1);
  mpfr_set_emax(std::numeric_limits<T>::max_exponent);
  int inex = mpfr_set(t, x, MPFR_RNDN);
  inex = mpfr_check_range(t, inex, MPFR_RNDN);
  mpfr_subnormalize(t, inex, MPFR_RNDN);
  mpfr_set_emin(emin);
  mpfr_set_emax(emax);
  T v;
  if constexpr (sizeof(T) == 4) {
    v = mpfr_get_flt(t, MPFR_RNDN);
  } else {
    v = mpfr_get_d(t, MPFR_RNDN);
  }
  mpfr_clear(t);
  return v;
}

// Error of y against the exact value x, in ulps of x's binade (subnormal ulp below the normals).
template <typename T>
double ulp_error(T y, mpfr_t x) {
  const T xr = get_rounded<T>(x);
  if (std::isnan(xr) || std::isinf(xr) || std::isnan(y) || std::isinf(y)) {
    if (std::isnan(xr)) return std::isnan(y) ? 0 : 1e30;
    return (y == xr) ? 0 : 1e30;
  }
  if (mpfr_zero_p(x)) return y == T(0) ? 0 : 1e30;
  mpfr_exp_t e = mpfr_get_exp(x);
  if (e < kMinExp<T>) e = kMinExp<T>;
  mpfr_t d;
  mpfr_init2(d, 256);
  set_mpfr(d, y);
  mpfr_sub(d, d, x, MPFR_RNDN);
  mpfr_abs(d, d, MPFR_RNDN);
  mpfr_mul_2si(d, d, kPrecision<T> - e, MPFR_RNDN);
  const double err = mpfr_get_d(d, MPFR_RNDN);
  mpfr_clear(d);
  return err;
}

// Arguments: sign, exponent over the whole range (with subnormals) and random significand, plus an
// even walk over bit patterns.
template <typename T>
std::vector<T> arguments(unsigned seed, size_t count) {
  using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
  std::mt19937_64 rng(seed);
  std::vector<T> v;
  v.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    const U bitsv = static_cast<U>(rng());
    T x;
    std::memcpy(&x, &bitsv, sizeof x);
    if (std::isnan(x)) continue;
    v.push_back(x);
  }
  const U step = std::numeric_limits<U>::max() / static_cast<U>(count);
  for (U b = 0, k = 0; k < count; ++k, b += step) {
    T x;
    std::memcpy(&x, &b, sizeof x);
    if (!std::isnan(x)) v.push_back(x);
  }
  return v;
}

template <typename T>
double worst_error(const Row& row, Fn fn, zok::vm::Isa isa, int slot, std::string* worst_case) {
  const auto& in = zok::vm::info(fn);
  void* k = (*zok::vm::isa_kernels(isa))[static_cast<int>(fn)][slot];
  std::vector<T> a = arguments<T>(11, 20000), b = arguments<T>(12, 20000);
  b.resize(a.size(), T(1));
  std::shuffle(b.begin(), b.end(), std::mt19937(5));
  std::vector<T> r(a.size());
  if (in.shape == Shape::AB_R) {
    reinterpret_cast<void (*)(int, const T*, const T*, T*)>(k)(static_cast<int>(a.size()), a.data(), b.data(), r.data());
  } else if (in.shape == Shape::AX_R) {
    // One scalar per stretch of the arguments: every exponent with a shortcut, and a few without.
    const T xs[] = {T(0.5), T(-0.5), T(1),     T(-1),     T(1.5),     T(-1.5),     T(2),   T(-2),    T(3),   T(-3),
                    T(4),   T(-4),   T(1) / 3, T(-1) / 3, T(2) / 3,   T(-2) / 3,   T(2.5), T(-7.25), T(1e-3), T(150)};
    const size_t groups = sizeof xs / sizeof xs[0], per = a.size() / groups;
    for (size_t g = 0; g < groups; ++g) {
      const size_t start = g * per, len = g + 1 == groups ? a.size() - start : per;
      std::fill(b.begin() + static_cast<long>(start), b.begin() + static_cast<long>(start + len), xs[g]);
      reinterpret_cast<void (*)(int, const T*, T, T*)>(k)(static_cast<int>(len), a.data() + start, xs[g],
                                                          r.data() + start);
    }
  } else {
    reinterpret_cast<void (*)(int, const T*, T*)>(k)(static_cast<int>(a.size()), a.data(), r.data());
  }
  mpfr_t ma, mb, mr;
  mpfr_init2(ma, 320);
  mpfr_init2(mb, 320);
  mpfr_init2(mr, 320);
  double worst = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    set_mpfr(ma, a[i]);
    set_mpfr(mb, b[i]);
    row.ref(mr, ma, mb);
    const double e = ulp_error<T>(r[i], mr);
    if (e > worst) {
      worst = e;
      char buf[160];
      std::snprintf(buf, sizeof buf, "%a, %a -> %a", static_cast<double>(a[i]),
                    static_cast<double>(in.shape == Shape::AB_R || in.shape == Shape::AX_R ? b[i] : a[i]),
                    static_cast<double>(r[i]));
      *worst_case = buf;
    }
  }
  mpfr_clear(ma);
  mpfr_clear(mb);
  mpfr_clear(mr);
  return worst;
}

TEST(Accuracy, EveryFlavourWithinItsBound) {
  zok::test::ModeOption env(nullptr);
  zok::test::on_fresh_thread([] {
    _yubSetMode(ZOK_VM_ERRMODE_IGNORE);  // zero divisors are reported; here only values matter
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (const Row& row : kRows)
        for (int slot = 0; slot < 3; ++slot) {
          std::string where;
          const double bs = slot == zok::vm::kEP ? row.ep_float : row.bound[slot];
          const double bd = slot == zok::vm::kEP ? row.ep_double : row.bound[slot];
          const double es = worst_error<float>(row, row.fs, isa, slot, &where);
          EXPECT_LE(es, bs) << zok::vm::info(row.fs).name << " slot " << slot << " " << zok::vm::isa_name(isa)
                            << " worst at " << where;
          const double ed = worst_error<double>(row, row.fd, isa, slot, &where);
          EXPECT_LE(ed, bd) << zok::vm::info(row.fd).name << " slot " << slot << " " << zok::vm::isa_name(isa)
                            << " worst at " << where;
          std::printf("%-12s %-3s %-6s %8.3f ulp   %-12s %8.3f ulp\n", zok::vm::info(row.fs).name,
                      slot == 0 ? "LA" : slot == 1 ? "HA" : "EP", zok::vm::isa_name(isa), es,
                      zok::vm::info(row.fd).name, ed);
        }
    mpfr_free_cache();  // MPFR keeps per-thread constant caches; this thread ends here
    return 0;
  });
}

// Pow over the whole (x, y) plane: y chosen so that |x|^y spreads evenly in the exponent from below
// the denormals to beyond overflow, with negative x taking integral y; every flavour against its
// bound.
template <typename T>
double pow_plane_error(void* k, std::string* worst_case) {
  std::mt19937_64 rng(3);
  const double lo = sizeof(T) == 4 ? -155 : -1080, hi = sizeof(T) == 4 ? 130 : 1026;
  std::uniform_real_distribution<double> target(lo, hi), expo(sizeof(T) == 4 ? -149 : -1074, sizeof(T) == 4 ? 127 : 1023);
  std::uniform_real_distribution<double> mant(1, 2);
  const size_t n = 60000;
  std::vector<T> a(n), b(n), r(n);
  for (size_t i = 0; i < n; ++i) {
    // Half the bases lie near 1, where y is large.
    const double x = i % 2 ? std::ldexp(mant(rng), static_cast<int>(expo(rng))) : 1 + (mant(rng) - 1.5) * std::ldexp(1, -static_cast<int>(rng() % 40));
    T xv = static_cast<T>(x);
    if (xv == T(1) || !(xv > T(0)) || std::isinf(xv)) xv = T(3);
    double y = target(rng) / std::log2(static_cast<double>(xv));
    if (i % 7 == 0) {
      xv = -xv;  // negative bases with integral exponents
      y = std::trunc(y);
    }
    a[i] = xv;
    b[i] = static_cast<T>(y);
  }
  reinterpret_cast<void (*)(int, const T*, const T*, T*)>(k)(static_cast<int>(n), a.data(), b.data(), r.data());
  mpfr_t ma, mb, mr;
  mpfr_init2(ma, 320);
  mpfr_init2(mb, 320);
  mpfr_init2(mr, 320);
  double worst = 0;
  for (size_t i = 0; i < n; ++i) {
    set_mpfr(ma, a[i]);
    set_mpfr(mb, b[i]);
    mpfr_pow(mr, ma, mb, MPFR_RNDN);
    const double e = ulp_error<T>(r[i], mr);
    if (e > worst) {
      worst = e;
      char buf[160];
      std::snprintf(buf, sizeof buf, "%a, %a -> %a", static_cast<double>(a[i]), static_cast<double>(b[i]),
                    static_cast<double>(r[i]));
      *worst_case = buf;
    }
  }
  mpfr_clear(ma);
  mpfr_clear(mb);
  mpfr_clear(mr);
  return worst;
}

TEST(Accuracy, PowOverTheWholePlane) {
  zok::test::ModeOption env(nullptr);
  zok::test::on_fresh_thread([] {
    _yubSetMode(ZOK_VM_ERRMODE_IGNORE);
    const double bound_s[3] = {4, 1, 4096}, bound_d[3] = {4, 1, 67108864};
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (int slot = 0; slot < 3; ++slot) {
        std::string where;
        const auto& kernels = *zok::vm::isa_kernels(isa);
        const double es = pow_plane_error<float>(kernels[static_cast<int>(Fn::sPow)][slot], &where);
        EXPECT_LE(es, bound_s[slot]) << "vsPow slot " << slot << " " << zok::vm::isa_name(isa) << " worst at " << where;
        const double ed = pow_plane_error<double>(kernels[static_cast<int>(Fn::dPow)][slot], &where);
        EXPECT_LE(ed, bound_d[slot]) << "vdPow slot " << slot << " " << zok::vm::isa_name(isa) << " worst at " << where;
        std::printf("plane vsPow %-3s %-6s %8.3f ulp   vdPow %8.3f ulp\n", slot == 0 ? "LA" : slot == 1 ? "HA" : "EP",
                    zok::vm::isa_name(isa), es, ed);
      }
    mpfr_free_cache();  // MPFR keeps per-thread constant caches; this thread ends here
    return 0;
  });
}

}  // namespace
