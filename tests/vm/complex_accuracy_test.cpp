// Accuracy of every complex kernel against MPC: each flavour on every instruction set, over the whole
// plane (parts from denormal to near overflow), both sides of every branch cut and near the zeros of
// a part. Errors per part, a part below |r| 2^-p/2 counted in ulps of |r| 2^-p/2; EP normwise; Abs,
// Arg and CIS parts as real results.
#include <gtest/gtest.h>
#include <mpc.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "frame/vm_facts.h"
#include "tests/vm/vm_test_support.h"

namespace {

using zok::vm::Fn;
using zok::vm::Shape;
constexpr mpfr_rnd_t N = MPFR_RNDN;
constexpr mpc_rnd_t NN = MPC_RNDNN;
constexpr int kPrec = 256;

// The exact value of a function at (a, b) (b unused by functions of one argument); real-valued
// functions leave the imaginary part zero, CIS reads a's real part.
using Exact = std::function<void(mpc_ptr r, mpc_srcptr a, mpc_srcptr b)>;
#define ONE(F, f) {#F, [](mpc_ptr r, mpc_srcptr a, mpc_srcptr) { mpc_##f(r, a, NN); }},
#define TWO(F, f) {#F, [](mpc_ptr r, mpc_srcptr a, mpc_srcptr b) { mpc_##f(r, a, b, NN); }},
#define REAL(F, f) {#F, [](mpc_ptr r, mpc_srcptr a, mpc_srcptr) { mpc_##f(mpc_realref(r), a, N); }},

const std::map<std::string, Exact>& exact_values() {
  static const std::map<std::string, Exact> m = {
      TWO(Add, add) TWO(Sub, sub) TWO(Mul, mul) TWO(Div, div) TWO(Pow, pow) TWO(Powx, pow) ONE(Exp, exp)
          ONE(Ln, log) ONE(Log10, log10) ONE(Sqrt, sqrt) ONE(Sin, sin) ONE(Cos, cos) ONE(Tan, tan)
              ONE(Sinh, sinh) ONE(Cosh, cosh) ONE(Tanh, tanh) ONE(Asin, asin) ONE(Acos, acos) ONE(Atan, atan)
                  ONE(Asinh, asinh) ONE(Acosh, acosh) ONE(Atanh, atanh) ONE(Conj, conj) REAL(Abs, abs) REAL(
                      Arg, arg){"MulByConj", [](mpc_ptr r, mpc_srcptr a,
                                                mpc_srcptr b) { mpc_conj(r, b, NN), mpc_mul(r, a, r, NN); }},
      {"CIS", [](mpc_ptr r, mpc_srcptr a, mpc_srcptr) {
         mpfr_sin_cos(mpc_imagref(r), mpc_realref(r), mpc_realref(a), N);
       }}};
  return m;
}

// The error of part y against the exact part x, in ulps of max(|x|, floor) in T's precision (its
// subnormal ulp below the normals); x rounded to T first, so overflow expects infinity.
template <typename T>
double part_error(T y, mpfr_srcptr x, mpfr_srcptr floor) {
  const T xr = sizeof(T) == 4 ? mpfr_get_flt(x, N) : static_cast<T>(mpfr_get_d(x, N));
  if (std::isnan(xr)) return std::isnan(y) ? 0 : 1e30;
  if (std::isinf(xr) || std::isinf(y) || std::isnan(y)) return y == xr ? 0 : 1e30;
  mpfr_t d, s;
  mpfr_inits2(kPrec, d, s, static_cast<mpfr_ptr>(nullptr));
  mpfr_abs(s, x, N);
  if (mpfr_cmp(s, floor) < 0) mpfr_set(s, floor, N);
  constexpr int p = std::numeric_limits<T>::digits, emin = std::numeric_limits<T>::min_exponent;
  double err = 0;
  if (!mpfr_zero_p(s)) {
    mpfr_exp_t e = mpfr_get_exp(s);
    if (e < emin) e = emin;
    mpfr_set_d(d, static_cast<double>(y), N);
    mpfr_sub(d, d, x, N);
    mpfr_abs(d, d, N);
    mpfr_mul_2si(d, d, p - e, N);
    err = mpfr_get_d(d, N);
  } else {
    err = y == 0 ? 0 : 1e30;
  }
  mpfr_clears(d, s, static_cast<mpfr_ptr>(nullptr));
  return err;
}

// The error of (re, im) against the exact z: per part above |z| 2^-p/2 (kNormwise false) or
// normwise in ulps of |z| (EP).
template <typename T>
double complex_error(T re, T im, mpc_srcptr z, bool normwise, bool real_parts) {
  mpfr_t mod, floor;
  mpfr_inits2(kPrec, mod, floor, static_cast<mpfr_ptr>(nullptr));
  mpc_abs(mod, z, N);
  constexpr int p = std::numeric_limits<T>::digits;
  double e;
  if (normwise && mpfr_number_p(mod)) {
    const double er = part_error<T>(re, mpc_realref(z), mod), ei = part_error<T>(im, mpc_imagref(z), mod);
    e = std::hypot(er, ei);
  } else {
    mpfr_set_zero(floor, 1);
    if (!real_parts) mpfr_mul_2si(floor, mod, -(p / 2), N);
    e = std::max(part_error<T>(re, mpc_realref(z), floor), part_error<T>(im, mpc_imagref(z), floor));
  }
  mpfr_clears(mod, floor, static_cast<mpfr_ptr>(nullptr));
  return e;
}

// Parts: random signs, exponents uniform from the subnormals to near overflow, a few zeros; then
// both sides of the cuts (the real and imaginary axes beyond +-1, signed zeros), parts near 0, and
// real parts near multiples of pi/2.
template <typename T>
std::vector<std::complex<T>> plane(unsigned seed, int count) {
  std::mt19937_64 rng(seed);
  constexpr int lo = std::numeric_limits<T>::min_exponent - std::numeric_limits<T>::digits,
                hi = std::numeric_limits<T>::max_exponent - 1;
  std::uniform_int_distribution<int> ex(lo, hi), small(-12, 12), tiny(lo, -20);
  std::uniform_real_distribution<double> m(1, 2);
  auto part = [&](int e) {
    const T v = static_cast<T>(std::ldexp(m(rng), e));
    return rng() & 1 ? -v : v;
  };
  std::vector<std::complex<T>> v;
  for (int i = 0; i < count; ++i) v.emplace_back(part(ex(rng)), part(ex(rng)));
  for (int i = 0; i < count / 4; ++i) v.emplace_back(part(small(rng)), part(small(rng)));
  for (int i = 0; i < count / 8; ++i) {
    const T x = std::abs(part(small(rng))) + 1, z = rng() & 1 ? T(-0.0) : T(0.0);
    v.emplace_back(rng() & 1 ? -x : x, z);  // the real axis beyond +-1
    v.emplace_back(z, rng() & 1 ? -x : x);  // the imaginary axis beyond +-i
    v.emplace_back(part(small(rng)), part(tiny(rng)));
    v.emplace_back(part(tiny(rng)), part(small(rng)));
    const double k = static_cast<double>(small(rng) * 4 + 1);
    v.emplace_back(static_cast<T>(k * M_PI_2), part(small(rng)));
  }
  return v;
}

struct Case {
  std::vector<std::complex<double>> a, b;  // arguments (as doubles: exact for floats too)
  std::vector<__mpc_struct> exact;
};

template <typename T>
double worst(Fn fn, void* k, const Case& c, int slot, std::string* where) {
  const auto& in = zok::vm::info(fn);
  using Cx = std::complex<T>;
  const int n = static_cast<int>(c.a.size());
  std::vector<Cx> a(n), b(n), r(n);
  std::vector<T> ar(n), rr(n);
  for (int i = 0; i < n; ++i) {
    a[i] = Cx(static_cast<T>(c.a[i].real()), static_cast<T>(c.a[i].imag()));
    b[i] = Cx(static_cast<T>(c.b[i].real()), static_cast<T>(c.b[i].imag()));
    ar[i] = a[i].real();
  }
  switch (in.shape) {
    case Shape::AB_R:
      reinterpret_cast<void (*)(int, const Cx*, const Cx*, Cx*)>(k)(n, a.data(), b.data(), r.data());
      break;
    case Shape::AX_R:
      reinterpret_cast<void (*)(int, const Cx*, Cx, Cx*)>(k)(n, a.data(), b[0], r.data());
      break;
    case Shape::AXP_R:
      reinterpret_cast<void (*)(int, const Cx*, const Cx*, Cx*)>(k)(n, a.data(), &b[0], r.data());
      break;
    case Shape::C_R:
      reinterpret_cast<void (*)(int, const Cx*, T*)>(k)(n, a.data(), rr.data());
      for (int i = 0; i < n; ++i) r[i] = Cx(rr[i], 0);
      break;
    case Shape::R_C:
      reinterpret_cast<void (*)(int, const T*, Cx*)>(k)(n, ar.data(), r.data());
      break;
    default:
      reinterpret_cast<void (*)(int, const Cx*, Cx*)>(k)(n, a.data(), r.data());
  }
  const double bound = zok::vm::facts(fn).bound[slot];
  const bool normwise = bound >= 4096;
  const bool real_parts = in.shape == Shape::C_R || in.shape == Shape::R_C;
  double w = 0;
  for (int i = 0; i < n; ++i) {
    const double e = complex_error<T>(r[i].real(), r[i].imag(), &c.exact[i], normwise, real_parts);
    if (e > w) {
      w = e;
      char buf[200];
      std::snprintf(buf, sizeof buf, "(%a, %a) (%a, %a) -> (%a, %a)", c.a[i].real(), c.a[i].imag(),
                    c.b[i].real(), c.b[i].imag(), static_cast<double>(r[i].real()),
                    static_cast<double>(r[i].imag()));
      *where = buf;
    }
  }
  return w;
}

template <typename T>
Case make_case(Fn fn) {
  const auto& in = zok::vm::info(fn);
  const std::string name = in.name + 2;
  Case c;
  for (const auto& z : plane<T>(41, 3000)) c.a.emplace_back(z.real(), z.imag());
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-1, 1);
  std::uniform_int_distribution<int> e(-12, 6);
  // Pow's exponents stay moderate (most of the plane to the power of a large exponent overflows);
  // Powx takes one exponent per call.
  for (size_t i = 0; i < c.a.size(); ++i) {
    if (name == "Pow" || name == "Powx") {
      c.b.emplace_back(static_cast<T>(std::ldexp(u(rng), e(rng))),
                       static_cast<T>(std::ldexp(u(rng), e(rng))));
    } else {
      const auto z = plane<T>(43 + static_cast<unsigned>(i), 1)[0];
      c.b.emplace_back(z.real(), z.imag());
    }
  }
  if (name == "Powx")
    std::fill(c.b.begin(), c.b.end(), std::complex<double>(static_cast<T>(2.5), static_cast<T>(-0.75)));
  // Tan beyond |Im a| = 256 and Tanh beyond |Re a| = 256 are +-i and +-1 to every bit; MPC takes
  // minutes to resolve the vanishing other part there.
  for (auto& z : c.a) {
    if (name == "Tan" && std::fabs(z.imag()) > 256) z.imag(std::fmod(z.imag(), 256));
    if (name == "Tanh" && std::fabs(z.real()) > 256) z.real(std::fmod(z.real(), 256));
  }
  if (in.shape == Shape::R_C)
    for (auto& z : c.a) z.imag(0);
  const Exact& f = exact_values().at(name);
  c.exact.resize(c.a.size());
  mpc_t a, b;
  mpc_init2(a, kPrec);
  mpc_init2(b, kPrec);
  for (size_t i = 0; i < c.a.size(); ++i) {
    mpc_init2(&c.exact[i], kPrec);
    mpc_set_ui(&c.exact[i], 0, NN);  // real-valued functions set only the real part
    mpc_set_d_d(a, c.a[i].real(), c.a[i].imag(), NN);
    mpc_set_d_d(b, c.b[i].real(), c.b[i].imag(), NN);
    f(&c.exact[i], a, b);
  }
  mpc_clear(a);
  mpc_clear(b);
  return c;
}

TEST(ComplexAccuracy, EveryFlavourWithinItsBoundAgainstMpc) {
  zok::test::ModeOption env(nullptr);
  zok::test::on_fresh_thread([] {
    _yubSetMode(ZOK_VM_ERRMODE_IGNORE);
    for (int f = 0; f < zok::vm::kFnCount; ++f) {
      const Fn fn = static_cast<Fn>(f);
      const auto& in = zok::vm::info(fn);
      if (!zok::vm::complex_type(in.type) || !zok::vm::elementwise(in.shape)) continue;
      const bool is_c = in.type == 'c';
      Case c = is_c ? make_case<float>(fn) : make_case<double>(fn);
      std::map<void*, double> done;  // kernels shared by slots or instruction sets run once
      for (zok::vm::Isa isa : zok::test::machine_isas())
        for (int slot = 0; slot < 3; ++slot) {
          void* k = (*zok::vm::isa_kernels(isa))[f][slot];
          std::string where;
          double e;
          if (done.count(k) != 0) {
            e = done[k];
          } else {
            e = is_c ? worst<float>(fn, k, c, slot, &where) : worst<double>(fn, k, c, slot, &where);
            done[k] = e;
            std::printf("%-12s %s %-6s %10.3f ulp %s\n", in.name, zok::test::kSlotName[slot],
                        zok::vm::isa_name(isa), e, where.c_str());
          }
          EXPECT_LE(e, zok::vm::facts(fn).bound[slot]) << in.name << " " << zok::test::kSlotName[slot] << " "
                                                       << zok::vm::isa_name(isa) << " at " << where;
        }
      for (auto& z : c.exact) mpc_clear(&z);
    }
    mpfr_free_cache();
    return 0;
  });
}

}  // namespace
