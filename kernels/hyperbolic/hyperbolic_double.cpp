// Double hyperbolic kernels (Sinh, Cosh, Tanh, Asinh, Acosh, Atanh), compiled once per instruction
// set. Tables and series come from tools/gen_hyperbolic_tables.py and the exponential family.
//
// Contract (measured maxima against MPFR in tests/vm/accuracy_test.cpp):
//   HA within 1 ulp, LA within 4 ulp, EP at least 26 correct bits, over the whole argument range,
//   denormal arguments included.
// Special values, the same in every flavour:
//   Sinh: NaN -> NaN, +-0 -> +-0, +-inf -> +-inf; |x| >= 710.475860073944 -> +-inf, code 3 (finite
//     results through 710.4758600739439).
//   Cosh: NaN -> NaN, +-inf -> +inf, +-0 -> 1; |x| >= 710.475860073944 -> +inf, code 3.
//   Tanh: NaN -> NaN, +-inf -> +-1; never reports.
//   Asinh: NaN -> NaN, +-inf -> +-inf, odd (keeps -0); never reports.
//   Acosh: NaN -> NaN, +inf -> +inf, 1 -> +0; x < 1 (-inf included) -> NaN, code 1.
//   Atanh: NaN -> NaN, odd; +-1 -> +-inf, code 2; |x| > 1 (+-inf included) -> NaN, code 1.
#include "kernels/hyperbolic/hyperbolic_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::kHA;

// HA in slot 1, LA in slot 0, EP in slot 2.
template <int s, VD (*kHa)(VD), VD (*kLa)(VD), VD (*kEp)(VD)>
using Tiered = InDouble<s == kHA       ? kHa
                        : s == vm::kEP ? kEp
                                       : kLa>;

#if ZOK_ISA_LEVEL == 3
// Asinh LA: HA's exact argument costs a division more than LA's two branches, which the one-part
// register logarithm no longer outweighs.
constexpr Tier kAsinhLa = Tier::kLA;
#else
// Asinh LA takes HA's formula: its exact sums cost less than LA's two branches.
constexpr Tier kAsinhLa = Tier::kHA;
#endif

template <Fn f, int s>
using SinhOf =
    HypK<f, Func::kSinh, double, Tiered<s, sinh_d<Tier::kHA>, sinh_d<Tier::kLA>, sinh_d<Tier::kEP>>>;
template <Fn f, int s>
using CoshOf =
    HypK<f, Func::kCosh, double, Tiered<s, cosh_d<Tier::kHA>, cosh_d<Tier::kLA>, cosh_d<Tier::kEP>>>;
template <Fn f, int s>
using TanhOf =
    HypK<f, Func::kTanh, double, Tiered<s, tanh_d<Tier::kHA>, tanh_d<Tier::kLA>, tanh_d<Tier::kEP>>>;
template <Fn f, int s>
using AsinhOf = HypK<f, Func::kAsinh, double,
                     Tiered<s, asinh_d<Tier::kHA>, asinh_d<kAsinhLa, Tier::kLA>, asinh_d<Tier::kEP>>>;
template <Fn f, int s>
using AcoshOf =
    HypK<f, Func::kAcosh, double, Tiered<s, acosh_d<Tier::kHA>, acosh_d<Tier::kLA>, acosh_d<Tier::kEP>>>;
template <Fn f, int s>
using AtanhOf =
    HypK<f, Func::kAtanh, double, Tiered<s, atanh_d<Tier::kHA>, atanh_d<Tier::kLA>, atanh_d<Tier::kEP>>>;

}  // namespace

void register_hyperbolic_double(vm::KernelSlots& s) {
  using enum Fn;
  reg<dSinh, SinhOf>(s);
  reg<dCosh, CoshOf>(s);
  reg<dTanh, TanhOf>(s);
  reg<dAsinh, AsinhOf>(s);
  reg<dAcosh, AcoshOf>(s);
  reg<dAtanh, AtanhOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
