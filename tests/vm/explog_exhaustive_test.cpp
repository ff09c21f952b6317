// Every one of the 2^32 float arguments through every flavour of the float exponential, logarithm,
// trigonometric, inverse trigonometric, hyperbolic, error-function, gamma-function and root
// kernels of one argument (the instruction set the tables use; both results of SinCos), against the
// C library's double-precision functions, whose own error is far below a float ulp, and the inverses
// against a double solution. Slow: not run in CI.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "frame/vm_facts.h"
#include "tests/vm/vm_test_support.h"

namespace {

using zok::vm::Fn;

// Error of y in float ulps of the double reference's binade (the subnormal ulp below the normals).
// A result equal to the reference rounded to float is within half an ulp and counts as 0, which
// keeps the sweep to minutes.
double float_ulps(float y, double ref) {
  const float rounded = static_cast<float>(ref);
  if (y == rounded) return 0;
  if (std::isnan(ref)) return std::isnan(y) ? 0 : 1e30;
  if (std::isinf(rounded) || std::isnan(y) || std::isinf(y) || ref == 0) return 1e30;
  uint64_t b;
  std::memcpy(&b, &ref, 8);
  int e = static_cast<int>((b >> 52) & 0x7FF) - 1023;
  if (e < -126) e = -126;
  const uint64_t ulp_bits = static_cast<uint64_t>(e - 23 + 1023) << 52;
  double ulp;
  std::memcpy(&ulp, &ulp_bits, 8);
  return std::fabs(static_cast<double>(y) - ref) / ulp;
}

// A function and the references of its results (SinCos has two).
struct Swept {
  Fn fn;
  double (*ref)(double);
  double (*ref2)(double) = nullptr;
};

void sweep_every_float(const std::vector<Swept>& functions) {
  const zok::vm::Isa isa = zok::vm::selected_isa();
  zok::test::ModeOption env(nullptr);
  for (const Swept& f : functions) {
    const Fn fn = f.fn;
    // Two threads, each over half of the bit patterns.
    double worst[2][3] = {}, worst_at[2][3] = {};
    auto sweep = [&](int half) {
      _yubSetMode(ZOK_VM_ERRMODE_IGNORE);
      constexpr uint32_t kChunk = 1u << 16;
      std::vector<float> a(kChunk), r(kChunk), r2(kChunk);
      std::vector<double> ref(kChunk), ref2(kChunk);
      const uint64_t begin = static_cast<uint64_t>(half) << 31, end = begin + (1ull << 31);
      for (uint64_t base = begin; base < end; base += kChunk) {
        for (uint32_t i = 0; i < kChunk; ++i) {
          const uint32_t b = static_cast<uint32_t>(base + i);
          std::memcpy(&a[i], &b, 4);
          ref[i] = f.ref(static_cast<double>(a[i]));
          if (f.ref2 != nullptr) ref2[i] = f.ref2(static_cast<double>(a[i]));
        }
        for (int slot = 0; slot < 3; ++slot) {
          void* const* slots = (*zok::vm::isa_kernels(isa))[static_cast<int>(fn)];
          // Slots sharing a kernel share its results.
          if (slot == 0 || slots[slot] != slots[slot - 1])
            zok::test::call<float>(slots[slot], zok::vm::info(fn).shape, static_cast<int>(kChunk), a.data(),
                                   a.data(), r.data(), r2.data());
          for (uint32_t i = 0; i < kChunk; ++i) {
            double e = float_ulps(r[i], ref[i]);
            if (f.ref2 != nullptr) e = std::max(e, float_ulps(r2[i], ref2[i]));
            if (e > worst[half][slot]) {
              worst[half][slot] = e;
              worst_at[half][slot] = a[i];
            }
          }
        }
      }
      return 0;
    };
    std::thread other([&] { zok::test::on_fresh_thread([&] { return sweep(1); }); });
    zok::test::on_fresh_thread([&] { return sweep(0); });
    other.join();
    for (int slot = 0; slot < 3; ++slot) {
      const int h = worst[1][slot] > worst[0][slot] ? 1 : 0;
      // 0 means every result was the correctly rounded one.
      std::printf("%-8s %s %-6s max %.4f ulp at %a\n", zok::vm::info(fn).name, zok::test::kSlotName[slot],
                  zok::vm::isa_name(isa), worst[h][slot], worst_at[h][slot]);
      std::fflush(stdout);
      EXPECT_LE(worst[h][slot], zok::vm::facts(fn).bound[slot])
          << zok::vm::info(fn).name << " slot " << slot << " at " << worst_at[h][slot];
    }
  }
}

TEST(ExpLogExhaustive, EveryFloatArgument) {
  sweep_every_float({{Fn::sExp, [](double x) { return std::exp(x); }},
                     {Fn::sExpm1, [](double x) { return std::expm1(x); }},
                     {Fn::sLn, [](double x) { return std::log(x); }},
                     {Fn::sLog10, [](double x) { return std::log10(x); }},
                     {Fn::sLog1p, [](double x) { return std::log1p(x); }}});
}

// Half of all floats lie beyond the fast range of 10000 and take the exact reduction one at a time.
TEST(TrigExhaustive, EveryFloatArgument) {
  double (*const sin)(double) = std::sin;
  double (*const cos)(double) = std::cos;
  sweep_every_float({{Fn::sSin, sin}, {Fn::sCos, cos}, {Fn::sSinCos, sin, cos}, {Fn::sTan, std::tan}});
}

// Asin and Acos report (and give NaN for) the floats beyond 1; the C library's NaN is the reference.
TEST(InverseTrigExhaustive, EveryFloatArgument) {
  double (*const asin)(double) = std::asin;
  double (*const acos)(double) = std::acos;
  double (*const atan)(double) = std::atan;
  sweep_every_float({{Fn::sAsin, asin}, {Fn::sAcos, acos}, {Fn::sAtan, atan}});
}

// The normal distribution's reference rounds -x/sqrt(2) once: at most 2^-45 relative in the result
// over the float range, far below a float ulp.
TEST(ErfExhaustive, EveryFloatArgument) {
  sweep_every_float({{Fn::sErf, [](double x) { return std::erf(x); }},
                     {Fn::sErfc, [](double x) { return std::erfc(x); }},
                     {Fn::sCdfNorm, [](double x) { return 0.5 * std::erfc(-x * 0.70710678118654752440); }}});
}

// The float roots' LA and EP kernels compute in float; their HA kernels in double. The references
// round twice in double, far below a float ulp.
TEST(RootExhaustive, EveryFloatArgument) {
  double (*const cbrt)(double) = std::cbrt;
  sweep_every_float({{Fn::sCbrt, cbrt},
                     {Fn::sInvCbrt, [](double x) { return 1 / std::cbrt(x); }},
                     {Fn::sPow2o3, [](double x) { return std::cbrt(x) * std::cbrt(x); }}});
}

// The square-root powers: float HA from exact residuals in float, LA and EP from the estimate or two
// roundings. The references round twice in double.
TEST(SquareRootPowerExhaustive, EveryFloatArgument) {
  sweep_every_float({{Fn::sInvSqrt, [](double x) { return 1 / std::sqrt(x); }},
                     {Fn::sPow3o2, [](double x) { return x * std::sqrt(x); }}});
}

// The inverses: the double HA kernel's result (itself checked against MPFR) refined by one Newton
// step on the C library's double erf, erfc or normal distribution, which leaves an error far below a
// float ulp; the ends of the domain and beyond are the kernel's own, checked exactly by the case
// tables.
constexpr double kTwoOverSqrtPi = 1.1283791670955126;
double double_inverse(void (*k)(int, const double*, double*), double x) {
  double y;
  k(1, &x, &y);
  return y;
}
double erfinv_ref(double x) {
  const double y = double_inverse(_yubdErfInv, x);
  return std::isfinite(y) ? y - (std::erf(y) - x) / (kTwoOverSqrtPi * std::exp(-y * y)) : y;
}
double erfcinv_ref(double x) {
  const double y = double_inverse(_yubdErfcInv, x);
  return std::isfinite(y) ? y + (std::erfc(y) - x) / (kTwoOverSqrtPi * std::exp(-y * y)) : y;
}
double cdfnorminv_ref(double x) {
  const double y = double_inverse(_yubdCdfNormInv, x);
  return std::isfinite(y) ? y - (0.5 * std::erfc(-y * 0.70710678118654752440) - x) /
                                    (0.3989422804014327 * std::exp(-0.5 * y * y))
                          : y;
}

TEST(ErfInverseExhaustive, EveryFloatArgument) {
  sweep_every_float(
      {{Fn::sErfInv, erfinv_ref}, {Fn::sErfcInv, erfcinv_ref}, {Fn::sCdfNormInv, cdfnorminv_ref}});
}

// Both gamma functions give each float argument to one scalar routine in every slot: one pass each.
TEST(GammaExhaustive, EveryFloatArgument) {
  sweep_every_float({{Fn::sLGamma, [](double x) { return std::lgamma(x); }},
                     {Fn::sTGamma, [](double x) { return std::tgamma(x); }}});
}

TEST(HyperbolicExhaustive, EveryFloatArgument) {
  double (*const sinh)(double) = std::sinh;
  double (*const cosh)(double) = std::cosh;
  double (*const tanh)(double) = std::tanh;
  double (*const asinh)(double) = std::asinh;
  double (*const acosh)(double) = std::acosh;
  double (*const atanh)(double) = std::atanh;
  sweep_every_float({{Fn::sSinh, sinh},
                     {Fn::sCosh, cosh},
                     {Fn::sTanh, tanh},
                     {Fn::sAsinh, asinh},
                     {Fn::sAcosh, acosh},
                     {Fn::sAtanh, atanh}});
}

}  // namespace
