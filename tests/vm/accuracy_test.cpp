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
                    static_cast<double>(in.shape == Shape::AB_R ? b[i] : a[i]), static_cast<double>(r[i]));
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
    return 0;
  });
}

}  // namespace
