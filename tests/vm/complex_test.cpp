// Complex kernels: the contract's cases and their reports in every flavour and instruction set, the
// error context and a callback's replacement, an Annex G grid against the C library, zPowx by value
// and by pointer, the caller's control words, an overflow in every lane and tail position, and each
// result the same in every position.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cfenv>
#include <cmath>
#include <complex>
#include <cstring>
#include <tuple>
#include <vector>

#include "frame/vm_facts.h"
#include "tests/vm/vm_test_support.h"

namespace {

using zok::vm::Fn;
using zok::vm::Shape;
using Cz = std::complex<double>;
constexpr double kInf = INFINITY, kNan = NAN;

// One element through slot `slot` of fn on `isa`, arguments and result as complex doubles (Abs and
// Arg give the real part; CIS reads a's real part). Returns the codes reported.
std::vector<int> run(zok::vm::Isa isa, Fn fn, int slot, Cz a, Cz b, Cz* r, int n = 1, int at = 0) {
  const auto& in = zok::vm::info(fn);
  void* k = (*zok::vm::isa_kernels(isa))[static_cast<int>(fn)][slot];
  auto body = [&]<typename T>(T) {
    using C = std::complex<T>;
    std::vector<C> x(n, C(T(0.5), T(0.25))), y(n, C(T(1), T(-1))), z(n);
    std::vector<T> re(n, T(0.5)), out(n);
    x[at] = C(static_cast<T>(a.real()), static_cast<T>(a.imag()));
    y[at] = C(static_cast<T>(b.real()), static_cast<T>(b.imag()));
    re[at] = static_cast<T>(a.real());
    if (in.shape == Shape::AB_R)
      reinterpret_cast<void (*)(int, const C*, const C*, C*)>(k)(n, x.data(), y.data(), z.data());
    if (in.shape == Shape::A_R) reinterpret_cast<void (*)(int, const C*, C*)>(k)(n, x.data(), z.data());
    if (in.shape == Shape::AX_R)
      reinterpret_cast<void (*)(int, const C*, C, C*)>(k)(n, x.data(), y[at], z.data());
    if (in.shape == Shape::AXP_R)
      reinterpret_cast<void (*)(int, const C*, const C*, C*)>(k)(n, x.data(), &y[at], z.data());
    if (in.shape == Shape::C_R) reinterpret_cast<void (*)(int, const C*, T*)>(k)(n, x.data(), out.data());
    if (in.shape == Shape::R_C) reinterpret_cast<void (*)(int, const T*, C*)>(k)(n, re.data(), z.data());
    *r = in.shape == Shape::C_R ? Cz(out[at], 0) : Cz(z[at].real(), z[at].imag());
  };
  const auto rep = zok::test::with_reports([&] {
    if (in.type == 'c')
      body(0.0f);
    else
      body(0.0);
  });
  for (int i : rep.index) EXPECT_EQ(i, at) << in.name;
  return rep.code;
}

bool same(double x, double y) {
  return zok::test::same_value(x, y) || (std::isnan(x) && std::isnan(y));
}

struct Edge {
  Fn fn;
  Cz a, b, want;
  bool reports_la_ha, reports_ep;
};

TEST(ComplexCases, ContractCasesAndReportsInEveryFlavour) {
  using enum Fn;
  const double pi = M_PI;
  const Edge edges[] = {
      {cAdd, {3e38, 0}, {3e38, 0}, {kInf, 0}, true, false},
      {cAdd, {kInf, 0}, {1, 0}, {kInf, 0}, false, false},
      {zSub, {-1e308, 1}, {1e308, 0}, {-kInf, 1}, true, false},
      {cConj, {1, -0.0}, {}, {1, 0}, false, false},
      {cAbs, {3e30, 4e30}, {}, {5e30, 0}, false, false},
      {cAbs, {3e-30, 4e-30}, {}, {static_cast<float>(5e-30), 0}, false, false},
      {zAbs, {3e300, -4e300}, {}, {5e300, 0}, false, false},
      {zMulByConj, {1, 2}, {3, 4}, {11, 2}, false, false},
      {zMul, {1e300, 1e300}, {1e10, 1e10}, {0, kInf}, true, false},
      {cMul, {3e38, 3e38}, {2, 0}, {kInf, kInf}, true, false},
      {zDiv, {1, 0}, {0, 0}, {kInf, kNan}, true, false},
      {cDiv, {1e30, 0}, {1e-30, 0}, {kInf, 0}, true, false},
      {cLn, {0, 0}, {}, {-kInf, 0}, false, false},
      {zLn, {-1, 0}, {}, {0, pi}, false, false},
      {zLn, {-1, -0.0}, {}, {0, -pi}, false, false},
      {cSin, {100, 100}, {}, {kInf, kInf}, true, true},
      {cSin, {kInf, 0}, {}, {kNan, 0}, false, false},
      {cSin, {0, 100}, {}, {0, kInf}, true, true},
      {cCosh, {100, 0}, {}, {kInf, 0}, true, true},
      {zCosh, {800, 0}, {}, {kInf, 0}, true, true},
      {zExp, {710, 0}, {}, {kInf, 0}, true, true},
      {cExp, {89, 0}, {}, {kInf, 0}, true, true},
      {cPowx, {1e20, 0}, {3, 0}, {kInf, 0}, true, true},
      {zPowx, {1e200, 0}, {2, 0}, {kInf, 0}, true, true},
      {zPow, {0, 0}, {-1, 0}, {kInf, 0}, false, false},
      {zSqrt, {-4, -0.0}, {}, {0, -2}, false, false},
      {cSqrt, {-4, 0}, {}, {0, 2}, false, false},
      {zArg, {-1, -0.0}, {}, {-pi, 0}, false, false},
      {cCIS, {0, 0}, {}, {1, 0}, false, false},
  };
  for (const Edge& e : edges)
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (int slot = 0; slot < 3; ++slot) {
        Cz r;
        const auto codes = run(isa, e.fn, slot, e.a, e.b, &r);
        const bool reports = slot == zok::vm::kEP ? e.reports_ep : e.reports_la_ha;
        const char* name = zok::vm::info(e.fn).name;
        EXPECT_EQ(codes, reports ? std::vector<int>{3} : std::vector<int>{}) << name << " slot " << slot;
        const double tol = zok::vm::info(e.fn).type == 'c' ? 1e-6 : 1e-15;
        auto close = [&](double x, double y) { return same(x, y) || std::fabs(x - y) <= tol * std::fabs(y); };
        EXPECT_TRUE(close(r.real(), e.want.real()) && close(r.imag(), e.want.imag()))
            << name << " slot " << slot << ": " << r << " want " << e.want;
      }
}

// The callback sees both parts of arguments and result, and its replacement of both stands.
TEST(ComplexCases, ErrorContextCarriesPartsAndTheCallbackReplacesThem) {
  static ErrorContext seen;
  auto cb = [](ErrorContext* c) -> int32_t {
    seen = *c;
    c->res1 = 7;
    c->res1_im = -7;
    return 0;
  };
  std::complex<float> a[2] = {{1, 2}, {3e38f, 1}}, b[2] = {{1, 1}, {3e38f, -2}}, r[2];
  zok::test::on_fresh_thread([&] {
    _yubSetErrorCallBack(cb);
    _yubcAdd(2, reinterpret_cast<ZokComplex8*>(a), reinterpret_cast<ZokComplex8*>(b),
             reinterpret_cast<ZokComplex8*>(r));
    return 0;
  });
  EXPECT_STREQ(seen.func_name, "vcAdd");
  EXPECT_EQ(
      std::make_tuple(seen.code, seen.index, seen.arg1_im, seen.arg2, seen.arg2_im, seen.res1, seen.res1_im),
      std::make_tuple(3, 1, 1.0, static_cast<double>(3e38f), -2.0, kInf, -1.0));
  EXPECT_EQ(r[1], std::complex<float>(7, -7));
  EXPECT_EQ(r[0], std::complex<float>(2, 3));
}

// Parts from +-0, +-2, +-inf and NaN: each function as the C library's (NaN signs aside, finite
// values within a few ulps), and nothing reported.
TEST(ComplexCases, AnnexGGridAgreesWithTheCLibrarySilently) {
  using enum Fn;
  const double parts[] = {0.0, -0.0, 2, -2, kInf, -kInf, kNan};
  const std::pair<Fn, Cz (*)(const Cz&)> fns[] = {
      {zExp, std::exp},     {zLn, std::log},      {zSqrt, std::sqrt},  {zSin, std::sin},
      {zCos, std::cos},     {zTan, std::tan},     {zSinh, std::sinh},  {zCosh, std::cosh},
      {zTanh, std::tanh},   {zAsin, std::asin},   {zAcos, std::acos},  {zAtan, std::atan},
      {zAsinh, std::asinh}, {zAcosh, std::acosh}, {zAtanh, std::atanh}};
  for (const auto& [fn, lib] : fns)
    for (double x : parts)
      for (double y : parts)
        for (zok::vm::Isa isa : zok::test::machine_isas())
          for (int slot = 0; slot < 3; ++slot) {
            Cz r;
            EXPECT_TRUE(run(isa, fn, slot, {x, y}, {}, &r).empty()) << zok::vm::info(fn).name;
            const Cz w = lib(Cz(x, y));
            auto agree = [](double u, double v) {
              return same(u, v) || (std::isfinite(u) && std::fabs(u - v) <= 4e-16 * std::fabs(v));
            };
            EXPECT_TRUE(agree(r.real(), w.real()) && agree(r.imag(), w.imag()))
                << zok::vm::info(fn).name << Cz(x, y) << " slot " << slot << ": " << r << " want " << w;
          }
}

// zPowx's stub takes the exponent by value, its kernel by pointer: the same bits either way.
TEST(ComplexCases, ZPowxByValueAndByPointerAgree) {
  const ZokComplex16 a[3] = {{1.5, -2}, {0.25, 3}, {-7, 0}}, b{2.5, -0.75};
  ZokComplex16 r1[3], r2[3];
  _yubzPowx(3, a, b, r1);
  reinterpret_cast<void (*)(int, const ZokComplex16*, const ZokComplex16*, ZokComplex16*)>(
      zok_yub_kernel_zPowx_ttab[zok::vm::kHA])(3, a, &b, r2);
  EXPECT_EQ(std::memcmp(r1, r2, sizeof r1), 0);
  EXPECT_NE(r1[0].re, 0);
}

// Kernels give the caller's x87 control word and MXCSR back, and their x87 steps do not depend on the
// caller's x87 precision.
TEST(ComplexCases, CallersControlWordsComeBack) {
  const ZokComplex8 a[2] = {{0.7f, 1.3f}, {-2, 0.5f}};
  ZokComplex8 ref[2], r[2];
  _yubcSin(2, a, ref);
  const unsigned short low = 0x07F;  // 24-bit significand
  unsigned short cw = 0;
  const unsigned csr = _mm_getcsr();
  __asm__ volatile("fldcw %0" : : "m"(low));
  _mm_setcsr((csr & ~0x6000u) | 0x2000u);  // rounding down
  _yubcSin(2, a, r);
  _yubzLn(1, reinterpret_cast<const ZokComplex16*>(a), reinterpret_cast<ZokComplex16*>(r));
  const unsigned after = _mm_getcsr();
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  _mm_setcsr(csr);
  const unsigned short normal = 0x37F;
  __asm__ volatile("fldcw %0" : : "m"(normal));
  EXPECT_EQ(cw, low);
  EXPECT_EQ(after & 0xE040u, (csr & ~0x6000u & 0xE040u) | 0x2000u);
  _yubcSin(2, a, r);
  EXPECT_EQ(std::memcmp(r, ref, sizeof r), 0);
}

// An overflowing element in every lane and tail position reports once, at its index.
TEST(ComplexCases, OverflowInEveryPositionReportsItsIndex) {
  using enum Fn;
  const Edge cases[] = {{cAdd, {3e38, 0}, {3e38, 0}, {}, true, false},
                        {zMul, {1e300, 1}, {1e10, 0}, {}, true, false},
                        {zDiv, {1e300, 0}, {1e-10, 0}, {}, true, false},
                        {zExp, {710, 0}, {}, {}, true, true},
                        {cSinh, {100, 0}, {}, {}, true, true}};
  for (const Edge& e : cases)
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (int n : {1, 31, 32, 33, 70})
        for (int at = 0; at<n; at += n> 33 ? 7 : 1) {
          Cz r;
          EXPECT_EQ(run(isa, e.fn, zok::vm::kHA, e.a, e.b, &r, n, at), std::vector<int>{3})
              << zok::vm::info(e.fn).name << " n " << n << " at " << at;
          EXPECT_TRUE(std::isinf(r.real()) || std::isinf(r.imag()));
        }
}

// Every complex kernel, flavour and instruction set: an element gives the same bits alone and in
// every lane and tail position among ordinary neighbours, whether it takes the vector path or the
// scalar one (specials, extreme parts, a huge angle, a result that overflows, the unit circle).
TEST(ComplexCases, ResultsDoNotDependOnPosition) {
  const double tiny = 0x1p-1000;
  const std::pair<Cz, Cz> args[] = {
      {{0.7, -1.3}, {1.5, -0.5}}, {{0.6, 0.8000000001}, {-2, 3}}, {{-0.0, kInf}, {1, 0}},
      {{kNan, 1}, {2, 2}},        {{1e300, -1e300}, {1e-300, 1}}, {{tiny, -tiny}, {tiny, 0}},
      {{-3e6, 0.25}, {0, 0}},     {{705, 2e7}, {0.5, 0.5}},       {{-1, -0.0}, {1e200, 1e200}}};
  for (int f = 0; f < zok::vm::kFnCount; ++f) {
    const Fn fn = static_cast<Fn>(f);
    const auto& in = zok::vm::info(fn);
    if (!zok::vm::complex_type(in.type) || !zok::vm::elementwise(in.shape)) continue;
    for (zok::vm::Isa isa : zok::test::machine_isas())
      for (int slot = 0; slot < 3; ++slot)
        for (const auto& [a, b] : args) {
          Cz alone, r;
          run(isa, fn, slot, a, b, &alone);
          for (int at = 0; at < 19; ++at) {
            run(isa, fn, slot, a, b, &r, 19, at);
            EXPECT_TRUE(same(r.real(), alone.real()) && same(r.imag(), alone.imag()))
                << in.name << " slot " << slot << " " << zok::vm::isa_name(isa) << " at " << at << ": " << r
                << " alone " << alone;
          }
        }
  }
}

}  // namespace
