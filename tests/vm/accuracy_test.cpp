// Accuracy against MPFR: the largest error in ulps of every kernel flavour of every function in the
// registry, on every instruction set, against the bound its facts row gives, over random arguments
// across the whole exponent range (denormals included) and evenly bit-spaced ones, densely over the
// ranges its facts row names, and over the (x, y) plane of Pow.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "frame/vm_facts.h"
#include "tests/vm/vm_test_support.h"

namespace {

using zok::vm::Fn;
using zok::vm::Shape;

using Ref = int (*)(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b);
// A reference per result: Modf has two.
struct Refs {
  Ref first, second = nullptr;
};
#define REF(expr) \
  [](mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b) -> int { return (void)r, (void)a, (void)b, (expr); }
constexpr mpfr_rnd_t N = MPFR_RNDN;

int linear_frac(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b) {
  mpfr_t num, den;
  mpfr_inits2(mpfr_get_prec(r), num, den, static_cast<mpfr_ptr>(nullptr));
  mpfr_mul_d(num, a, 1.5, N);
  mpfr_add_d(num, num, 2.5, N);
  mpfr_mul_d(den, b, 3.5, N);
  mpfr_add_d(den, den, 4.5, N);
  const int t = mpfr_div(r, num, den, N);
  mpfr_clears(num, den, static_cast<mpfr_ptr>(nullptr));
  return t;
}

// Phi(a) = erfc(-a/sqrt 2)/2, the quotient carried in the working precision.
int cdf_norm(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) {
  mpfr_t y;
  mpfr_init2(y, mpfr_get_prec(r));
  mpfr_sqrt_ui(y, 2, N);
  mpfr_div(y, a, y, N);
  mpfr_neg(y, y, N);
  const int t = mpfr_erfc(r, y, N);
  mpfr_div_2ui(r, r, 1, N);
  mpfr_clear(y);
  return t;
}

// y with erfc(y) = z for 0 < z <= 1 (kErf false), or with erf(y) = z for |z| < 0.5 (kErf true):
// Newton's method in double from sqrt(-ln z) (on ln erfc, which stays finite into the denormals),
// then in the working precision until a step is below 2^-110 of y.
template <bool kErf>
void solve_erf(mpfr_ptr y, mpfr_srcptr z) {
  const double zd = mpfr_get_d(z, N);
  const double two_over_sqrt_pi = 1.1283791670955126;
  double yd = kErf ? zd / two_over_sqrt_pi : std::sqrt(-std::log(zd));
  for (int i = 0; i < 40; ++i) {
    if (kErf) {
      yd -= (std::erf(yd) - zd) / (two_over_sqrt_pi * std::exp(-yd * yd));
    } else {
      const double e = std::erfc(yd);
      if (e == 0) {
        yd *= 0.99;
        continue;
      }
      yd -= (std::log(e) - std::log(zd)) / (-two_over_sqrt_pi * std::exp(-yd * yd) / e);
    }
  }
  mpfr_t f, d, c;
  mpfr_inits2(mpfr_get_prec(y), f, d, c, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_d(y, yd, N);
  mpfr_const_pi(c, N);
  mpfr_sqrt(c, c, N);
  mpfr_ui_div(c, 2, c, N);  // 2/sqrt(pi)
  for (int i = 0; i < 12; ++i) {
    mpfr_sqr(d, y, N);
    mpfr_neg(d, d, N);
    mpfr_exp(d, d, N);
    mpfr_mul(d, d, c, N);  // the slope of erf
    if (kErf) {
      mpfr_erf(f, y, N);
      mpfr_sub(f, f, z, N);
      mpfr_div(f, f, d, N);
    } else {
      // ln erfc(y) - ln z over its slope -d / erfc(y).
      mpfr_erfc(f, y, N);
      mpfr_div(d, d, f, N);
      mpfr_log(f, f, N);
      mpfr_log(c, z, N);
      mpfr_sub(f, f, c, N);
      mpfr_div(f, f, d, N);
      mpfr_neg(f, f, N);
      mpfr_const_pi(c, N);
      mpfr_sqrt(c, c, N);
      mpfr_ui_div(c, 2, c, N);
    }
    mpfr_sub(y, y, f, N);
    if (mpfr_zero_p(f) || mpfr_get_exp(f) < mpfr_get_exp(y) - 110) break;
  }
  mpfr_clears(f, d, c, static_cast<mpfr_ptr>(nullptr));
}

// erfcinv(z) on (0, 2): the tail below 1, -erfcinv(2 - z) above.
int erfc_inverse(mpfr_ptr r, mpfr_srcptr z) {
  if (mpfr_cmp_ui(z, 1) <= 0) {
    solve_erf<false>(r, z);
  } else {
    mpfr_t w;
    mpfr_init2(w, mpfr_get_prec(r));
    mpfr_ui_sub(w, 2, z, N);
    solve_erf<false>(r, w);
    mpfr_neg(r, r, N);
    mpfr_clear(w);
  }
  return 0;
}

// Outside the domains the kernels give NaN (reported), as does this reference.
int erf_inv(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) {
  if (mpfr_nan_p(a) || mpfr_cmpabs_ui(a, 1) >= 0) {
    if (mpfr_cmpabs_ui(a, 1) == 0) return mpfr_set_inf(r, mpfr_sgn(a)), 0;
    return mpfr_set_nan(r), 0;
  }
  if (mpfr_cmp_d(a, 0.5) < 0 && mpfr_cmp_d(a, -0.5) > 0) {
    if (mpfr_zero_p(a)) return mpfr_set(r, a, N), 0;
    solve_erf<true>(r, a);
    return 0;
  }
  mpfr_t w;
  mpfr_init2(w, mpfr_get_prec(r));
  mpfr_abs(w, a, N);
  mpfr_ui_sub(w, 1, w, N);
  erfc_inverse(r, w);
  if (mpfr_sgn(a) < 0) mpfr_neg(r, r, N);
  mpfr_clear(w);
  return 0;
}
int erfc_inv(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) {
  if (mpfr_nan_p(a) || mpfr_sgn(a) < 0 || mpfr_cmp_ui(a, 2) > 0) return mpfr_set_nan(r), 0;
  if (mpfr_zero_p(a) || mpfr_cmp_ui(a, 2) == 0) return mpfr_set_inf(r, mpfr_zero_p(a) ? 1 : -1), 0;
  return erfc_inverse(r, a);
}
int cdf_norm_inv(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr b) {
  if (mpfr_nan_p(a) || mpfr_sgn(a) < 0 || mpfr_cmp_ui(a, 1) > 0) return mpfr_set_nan(r), 0;
  if (mpfr_zero_p(a) || mpfr_cmp_ui(a, 1) == 0) return mpfr_set_inf(r, mpfr_zero_p(a) ? -1 : 1), 0;
  mpfr_t z;
  mpfr_init2(z, mpfr_get_prec(r));
  mpfr_mul_2ui(z, a, 1, N);
  erfc_inv(r, z, b);
  mpfr_sqrt_ui(z, 2, N);
  mpfr_mul(r, r, z, N);
  mpfr_neg(r, r, N);
  mpfr_clear(z);
  return 0;
}

// ln|Gamma(a)|; MPFR gives +inf at the poles and at the infinities, as the kernels do.
int lgamma(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) {
  int sign = 0;
  return mpfr_lgamma(r, &sign, a, N);
}

// The references the facts rows name (REF column). LinearFrac's scalars are those of
// zok::test::call: (1.5 a + 2.5) / (3.5 b + 4.5), exact in the working precision but for the division.
const Refs ref_add{REF(mpfr_add(r, a, b, N))}, ref_sub{REF(mpfr_sub(r, a, b, N))},
    ref_mul{REF(mpfr_mul(r, a, b, N))}, ref_sqr{REF(mpfr_sqr(r, a, N))}, ref_abs{REF(mpfr_abs(r, a, N))},
    ref_div{REF(mpfr_div(r, a, b, N))}, ref_inv{REF(mpfr_ui_div(r, 1, a, N))},
    ref_floor{REF(mpfr_floor(r, a))}, ref_ceil{REF(mpfr_ceil(r, a))}, ref_trunc{REF(mpfr_trunc(r, a))},
    ref_round{REF(mpfr_round(r, a))}, ref_rint{REF(mpfr_rint(r, a, N))}, ref_frac{REF(mpfr_frac(r, a, N))},
    ref_modf{REF(mpfr_trunc(r, a)), REF(mpfr_frac(r, a, N))}, ref_linear_frac{linear_frac},
    ref_exp{REF(mpfr_exp(r, a, N))}, ref_expm1{REF(mpfr_expm1(r, a, N))}, ref_log{REF(mpfr_log(r, a, N))},
    ref_log10{REF(mpfr_log10(r, a, N))}, ref_log1p{REF(mpfr_log1p(r, a, N))},
    ref_sqrt{REF(mpfr_sqrt(r, a, N))}, ref_rec_sqrt{REF(mpfr_rec_sqrt(r, a, N))},
    ref_cbrt{REF(mpfr_cbrt(r, a, N))}, ref_inv_cbrt{REF((mpfr_cbrt(r, a, N), mpfr_ui_div(r, 1, r, N)))},
    ref_pow2o3{REF((mpfr_abs(r, a, N), mpfr_cbrt(r, r, N), mpfr_sqr(r, r, N)))},
    ref_pow3o2{REF((mpfr_sqrt(r, a, N), mpfr_mul(r, r, a, N)))}, ref_hypot{REF(mpfr_hypot(r, a, b, N))},
    ref_pow{REF(mpfr_pow(r, a, b, N))}, ref_sin{REF(mpfr_sin(r, a, N))}, ref_cos{REF(mpfr_cos(r, a, N))},
    ref_sincos{REF(mpfr_sin(r, a, N)), REF(mpfr_cos(r, a, N))}, ref_tan{REF(mpfr_tan(r, a, N))},
    ref_asin{REF(mpfr_asin(r, a, N))}, ref_acos{REF(mpfr_acos(r, a, N))}, ref_atan{REF(mpfr_atan(r, a, N))},
    ref_atan2{REF(mpfr_atan2(r, a, b, N))}, ref_erf{REF(mpfr_erf(r, a, N))},
    ref_erfc{REF(mpfr_erfc(r, a, N))}, ref_cdf_norm{cdf_norm}, ref_erf_inv{erf_inv}, ref_erfc_inv{erfc_inv},
    ref_cdf_norm_inv{cdf_norm_inv}, ref_lgamma{lgamma}, ref_tgamma{REF(mpfr_gamma(r, a, N))},
    ref_sinh{REF(mpfr_sinh(r, a, N))}, ref_cosh{REF(mpfr_cosh(r, a, N))}, ref_tanh{REF(mpfr_tanh(r, a, N))},
    ref_asinh{REF(mpfr_asinh(r, a, N))}, ref_acosh{REF(mpfr_acosh(r, a, N))},
    ref_atanh{REF(mpfr_atanh(r, a, N))}, ref_none{};  // none: functions that copy

// Exponentials and logarithms densely over their ranges: 6000 random arguments per range, spread
// linearly or by magnitude (the sign from `negative`), plus 40 ulps inward from each end.
struct Range {
  double lo, hi;
  bool log_scale, negative;
};
Range lin(double lo, double hi) {
  return {lo, hi, false, false};
}
Range mag(double lo, double hi) {
  return {lo, hi, true, false};
}
Range neg_mag(double lo, double hi) {
  return {lo, hi, true, true};
}

// Every function's reference and dense ranges, in registry order, from its facts row.
struct Check {
  Refs ref;
  std::vector<Range> dense;
};
#define DENSE(...)     \
  std::vector<Range> { \
    __VA_ARGS__        \
  }
#define NO_DENSE \
  std::vector<Range> {}
const Check kChecks[] = {
#define ZOK_VM_FACTS(t, F, FAMILY, DOMAIN, SWEEP, REF, LA, HA, EP, DENSE_RANGES, ...) \
  {ref_##REF, DENSE_RANGES},
#include "frame/vm_facts.def"
#undef ZOK_VM_FACTS
};
#undef DENSE
#undef NO_DENSE
static_assert(sizeof kChecks / sizeof kChecks[0] == zok::vm::kFnCount);

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
// The reference values of each argument set a function is checked on, computed once: every slot
// and instruction set of the function is measured against the same values (MPFR is the slow part).
// The test loops clear it when they move on to the next function.
struct RefEntry {
  std::vector<double> a, b;
  std::vector<__mpfr_struct> values;
};
std::map<std::pair<Ref, size_t>, RefEntry> g_refs;
void clear_references() {
  for (auto& [key, e] : g_refs)
    for (auto& v : e.values) mpfr_clear(&v);
  g_refs.clear();
}

template <typename T>
const std::vector<__mpfr_struct>& references(Ref ref, const std::vector<T>& a, const std::vector<T>& b) {
  const std::vector<double> da(a.begin(), a.end()), db(b.begin(), b.end());
  RefEntry& e = g_refs[{ref, a.size()}];
  const bool same = e.values.size() == a.size() && std::memcmp(e.a.data(), da.data(), da.size() * 8) == 0 &&
                    std::memcmp(e.b.data(), db.data(), db.size() * 8) == 0;
  if (same) return e.values;
  for (auto& v : e.values) mpfr_clear(&v);
  e.values.assign(a.size(), __mpfr_struct{});
  e.a = da;
  e.b = db;
  mpfr_t ma, mb;
  mpfr_inits2(320, ma, mb, static_cast<mpfr_ptr>(nullptr));
  for (size_t i = 0; i < a.size(); ++i) {
    mpfr_init2(&e.values[i], 320);
    mpfr_set_d(ma, da[i], N);
    mpfr_set_d(mb, db[i], N);
    ref(&e.values[i], ma, mb);
  }
  mpfr_clears(ma, mb, static_cast<mpfr_ptr>(nullptr));
  return e.values;
}

template <typename T>
double worst_against(Ref ref, const std::vector<T>& a, const std::vector<T>& b, const std::vector<T>& r,
                     std::string* where) {
  const std::vector<__mpfr_struct>& values = references(ref, a, b);
  double worst = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double e = ulp_error<T>(r[i], const_cast<__mpfr_struct*>(&values[i]));
    if (e > worst) {
      worst = e;
      char buf[160];
      std::snprintf(buf, sizeof buf, "%a, %a -> %a", static_cast<double>(a[i]), static_cast<double>(b[i]),
                    static_cast<double>(r[i]));
      *where = buf;
    }
  }
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

// Arguments: random bit patterns (every sign, exponent and significand), plus an even walk over them;
// for a moderate sweep, positive values between 2^-60 and 2^60 spread by magnitude.
template <typename T>
std::vector<T> arguments(unsigned seed, size_t count, zok::vm::Sweep sweep) {
  if (sweep == zok::vm::Sweep::MODERATE) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> e(-60, 60);
    std::vector<T> v(2 * count);
    for (T& x : v) x = static_cast<T>(std::exp2(e(rng)));
    return v;
  }
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
double worst_error(Fn fn, zok::vm::Isa isa, int slot, std::string* where) {
  const Shape shape = zok::vm::info(fn).shape;
  const Refs& ref = kChecks[static_cast<int>(fn)].ref;
  const zok::vm::Sweep sweep = zok::vm::facts(fn).sweep;
  void* k = (*zok::vm::isa_kernels(isa))[static_cast<int>(fn)][slot];
  std::vector<T> a = arguments<T>(11, 20000, sweep), b = arguments<T>(12, 20000, sweep);
  b.resize(a.size(), T(1));
  std::shuffle(b.begin(), b.end(), std::mt19937(5));
  std::vector<T> r(a.size()), r2(a.size());
  const int n = static_cast<int>(a.size());
  if (shape == Shape::AX_R) {
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
    zok::test::call<T>(k, shape, n, a.data(), b.data(), r.data(), r2.data());
  }
  double worst = worst_against<T>(ref.first, a, b, r, where);
  if (ref.second != nullptr) {
    std::string where2;
    const double w2 = worst_against<T>(ref.second, a, b, r2, &where2);
    if (w2 > worst) {
      worst = w2;
      *where = "second result: " + where2;
    }
  }
  return worst;
}

const char* slot_name(int slot) {
  return zok::test::kSlotName[slot];
}

TEST(Accuracy, EveryFlavourWithinItsBound) {
  on_mpfr_thread([] {
    for (int f = 0; f < zok::vm::kFnCount; ++f, clear_references())
      for (zok::vm::Isa isa : zok::test::machine_isas())
        for (int slot = 0; slot < 3; ++slot) {
          const Fn fn = static_cast<Fn>(f);
          const auto& in = zok::vm::info(fn);
          if (!zok::vm::elementwise(in.shape) || zok::vm::complex_type(in.type))
            continue;  // MPC: complex_accuracy_test
          std::string where;
          const double e = in.type == 's' ? worst_error<float>(fn, isa, slot, &where)
                                          : worst_error<double>(fn, isa, slot, &where);
          EXPECT_LE(e, zok::vm::facts(fn).bound[slot])
              << in.name << " " << slot_name(slot) << " " << zok::vm::isa_name(isa) << " worst at " << where;
          std::printf("%-13s %-3s %-6s %10.3f ulp\n", in.name, slot_name(slot), zok::vm::isa_name(isa), e);
        }
  });
}

// Some LA and EP kernels compute one of two ways by the processor class (a refined estimate, or the
// division or square root instruction where that is cheap): the way this machine's class does not
// take is checked here, the flags turned over for the run.
TEST(Accuracy, ClassChosenKernelsWithinTheirBoundTheOtherWay) {
  bool& division = zok::vm::g_division_cheap;
  bool& root = zok::vm::g_root_cheap;
  const bool division_was = division, root_was = root;
  division = !division_was;
  root = !root_was;
  on_mpfr_thread([] {
    for (const Fn fn : {Fn::sDiv, Fn::sSqrt, Fn::dAsin, Fn::dAcos})
      for (zok::vm::Isa isa : zok::test::machine_isas())
        for (const int slot : {zok::vm::kLA, zok::vm::kEP}) {
          std::string where;
          const double e = zok::vm::info(fn).type == 's' ? worst_error<float>(fn, isa, slot, &where)
                                                         : worst_error<double>(fn, isa, slot, &where);
          EXPECT_LE(e, zok::vm::facts(fn).bound[slot])
              << zok::vm::info(fn).name << " " << slot_name(slot) << " " << zok::vm::isa_name(isa)
              << " worst at " << where;
        }
    clear_references();
  });
  division = division_was;
  root = root_was;
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
  return worst_against<T>(ref_pow.first, a, b, r, where);
}

TEST(Accuracy, PowOverTheWholePlane) {
  on_mpfr_thread([] {
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (int slot = 0; slot < 3; ++slot) {
        std::string where;
        const auto& kernels = *zok::vm::isa_kernels(isa);
        const double es = pow_plane_error<float>(kernels[static_cast<int>(Fn::sPow)][slot], &where);
        EXPECT_LE(es, zok::vm::facts(Fn::sPow).bound[slot])
            << "vsPow " << slot_name(slot) << " " << zok::vm::isa_name(isa) << " worst at " << where;
        const double ed = pow_plane_error<double>(kernels[static_cast<int>(Fn::dPow)][slot], &where);
        EXPECT_LE(ed, zok::vm::facts(Fn::dPow).bound[slot])
            << "vdPow " << slot_name(slot) << " " << zok::vm::isa_name(isa) << " worst at " << where;
        std::printf("plane vsPow %-3s %-6s %8.3f ulp   vdPow %8.3f ulp\n", slot_name(slot),
                    zok::vm::isa_name(isa), es, ed);
      }
  });
}

// Float Exp below the normal range: every flavour computes e^x there in double precision and rounds
// once, so every float argument from below the zero threshold (ln 2^-150) up to the normal range
// gets the nearest float, the smallest denormal included. The bounds of the facts rows alone would
// let 0 stand for it (at most one denormal ulp away).
TEST(Accuracy, FloatExpRoundsEveryDenormalResult) {
  on_mpfr_thread([] {
    std::vector<float> a;
    for (float x = -103.98f; x < -87.3365478515625f; x = std::nextafter(x, 0.0f)) a.push_back(x);
    struct Run {
      std::string what;
      std::vector<float> r;
      double worst = 0;
      float at = 0;
    };
    std::vector<Run> runs;
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (int slot = 0; slot < 3; ++slot) {
        Run run{std::string(zok::vm::isa_name(isa)) + " " + slot_name(slot), std::vector<float>(a.size())};
        void* k = (*zok::vm::isa_kernels(isa))[static_cast<int>(Fn::sExp)][slot];
        reinterpret_cast<zok::test::KA<float>>(k)(static_cast<int>(a.size()), a.data(), run.r.data());
        runs.push_back(std::move(run));
      }
    mpfr_t x, e;
    mpfr_inits2(96, x, e, static_cast<mpfr_ptr>(nullptr));
    for (size_t i = 0; i < a.size(); ++i) {
      mpfr_set_flt(x, a[i], N);
      mpfr_exp(e, x, N);
      for (Run& run : runs) {
        const double err = ulp_error<float>(run.r[i], e);
        if (err > run.worst) run.worst = err, run.at = a[i];
      }
    }
    mpfr_clears(x, e, static_cast<mpfr_ptr>(nullptr));
    for (const Run& run : runs)
      EXPECT_LE(run.worst, 0.5 + 1.0 / 64) << "vsExp " << run.what << " worst at " << run.at;
  });
}

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

template <typename T>
double dense_worst(Fn fn, zok::vm::Isa isa, int slot, std::string* where) {
  const Check& c = kChecks[static_cast<int>(fn)];
  // One argument set for every slot and instruction set, so the references are computed once.
  const std::vector<T> a = range_arguments<T>(c.dense, 3);
  // Two-argument functions pair each argument with another of the set: every sign and ratio.
  std::vector<T> b = a;
  const Shape shape = zok::vm::info(fn).shape;
  if (shape == Shape::AB_R) std::shuffle(b.begin(), b.end(), std::mt19937(7));
  std::vector<T> r(a.size()), r2(a.size());
  void* k = (*zok::vm::isa_kernels(isa))[static_cast<int>(fn)][slot];
  zok::test::call<T>(k, shape, static_cast<int>(a.size()), a.data(), b.data(), r.data(), r2.data());
  double worst = worst_against<T>(c.ref.first, a, b, r, where);
  if (c.ref.second != nullptr) {
    std::string where2;
    const double w2 = worst_against<T>(c.ref.second, a, b, r2, &where2);
    if (w2 > worst) {
      worst = w2;
      *where = "second result: " + where2;
    }
  }
  return worst;
}

TEST(Accuracy, DenseOverTheRangesOfItsFacts) {
  on_mpfr_thread([&] {
    for (int f = 0; f < zok::vm::kFnCount; ++f, clear_references())
      for (zok::vm::Isa isa : zok::test::machine_isas())
        for (int slot = 0; slot < 3; ++slot) {
          const Fn fn = static_cast<Fn>(f);
          if (kChecks[f].dense.empty()) continue;
          const auto& in = zok::vm::info(fn);
          std::string where;
          const double w = in.type == 's' ? dense_worst<float>(fn, isa, slot, &where)
                                          : dense_worst<double>(fn, isa, slot, &where);
          EXPECT_LE(w, zok::vm::facts(fn).bound[slot])
              << in.name << " " << slot_name(slot) << " " << zok::vm::isa_name(isa) << " worst at " << where;
          std::printf("%-9s %s %-6s %10.3f ulp  (%s)\n", in.name, slot_name(slot), zok::vm::isa_name(isa), w,
                      where.c_str());
        }
  });
}

}  // namespace
