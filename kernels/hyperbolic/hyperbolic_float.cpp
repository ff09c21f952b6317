// Float hyperbolic kernels (Sinh, Cosh, Tanh, Asinh, Acosh, Atanh), compiled once per instruction
// set: HA and the LA Asinh, Acosh and Atanh run the double EP formulas on widened lanes; the LA
// Sinh, Cosh and Tanh and the EP Sinh, Cosh and Tanh stay in float on the table of 2^(+-j/64).
//
// Contract (measured maxima against MPFR in tests/vm/accuracy_test.cpp):
//   HA within 1 ulp, LA within 4 ulp, EP at least 12 correct bits, over the whole argument range,
//   denormal arguments included.
// Special values, the same in every flavour:
//   Sinh: NaN -> NaN, +-0 -> +-0, +-inf -> +-inf; |x| >= 89.4159927368164 -> +-inf, code 3.
//   Cosh: NaN -> NaN, +-inf -> +inf, +-0 -> 1; |x| >= 89.4159927368164 -> +inf, code 3.
//   Tanh: NaN -> NaN, +-inf -> +-1; never reports.
//   Asinh: NaN -> NaN, +-inf -> +-inf, odd (keeps -0); never reports.
//   Acosh: NaN -> NaN, +inf -> +inf, 1 -> +0; x < 1 (-inf included) -> NaN, code 1.
//   Atanh: NaN -> NaN, odd; +-1 -> +-inf, code 2; |x| > 1 (+-inf included) -> NaN, code 1.
#include "kernels/hyperbolic/hyperbolic_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::kEP;
using vm::kLA;

// e^m / 2 and e^-m / 2 for 0 <= m < 89.41056060791016 in float: the low fraction bits of
// t = m 64/ln2 + 1.5 2^23 hold N = round(m 64/ln2), r = m - N ln2/64 in two parts (the first
// product exact), E+ = 2^(j/64) 2^(k-1) with the exponent field 126 + k built from N's bits and
// E- = 2^(-j/64) 2^(-k-1) from the field 252 minus that; E- is 0 from 16 on, where it no longer
// reaches E+'s last bit (and its field would leave the normal range).
struct FloatExps {
  VF ep, em, r;
};
inline FloatExps float_exps(VF m) {
  const VF shift = splat<VF>(12582912.0f);
  const VF t = mul_add(m, splat<VF>(92.33248138427734f), shift);
  const VF nn = shift - t;  // -N
  const VF r =
      mul_add(nn, splat<VF>(4.313856607041089e-06f), mul_add(nn, splat<VF>(0.01082611083984375f), m));
  const VI bits = as_int(t);
  VF tp, tm;
  lookup_pairs(&hb::kSExpPairs[0][0], bits & isplat(63), tp, tm);
  const VI field = shl<17>(bits + isplat(0x1F80)) & isplat(0x7F800000);
  const VF ep = tp * as_float(field);
  const VF em = select(m < splat<VF>(16.0f), splat<VF>(0.0f), tm * as_float(isplat(0x7E000000) - field));
  return {ep, em, r};
}
// cosh r is taken as 1 + c r^2 (c fitted a little above 1/2), sinh r as r.
constexpr float kCoshR2 = 0.5000012516975403f;

// Cosh = (E+ + E-)(1 + c r^2) + r (E+ - E-); measured 3.1 ulp at most.
struct FCosh {
  static VF apply(VF x) {
    const FloatExps e = float_exps(abs(x));
    const VF c = mul_add(splat<VF>(kCoshR2), e.r * e.r, splat<VF>(1.0f));
    return mul_add(e.r, e.ep - e.em, (e.ep + e.em) * c);
  }
};
// Sinh = (E+ - E-)(1 + c r^2) + r (E+ + E-), the sign of x.
struct FSinh {
  static VF apply(VF x) {
    const FloatExps e = float_exps(abs(x));
    const VF c = mul_add(splat<VF>(kCoshR2), e.r * e.r, splat<VF>(1.0f));
    return or_sign(mul_add(e.r, e.ep + e.em, (e.ep - e.em) * c), x);
  }
};
// Tanh as the quotient of the two; |x| stops at 9.5, where tanh is 1 in float.
struct FTanh {
  static VF apply(VF x) {
    const FloatExps e = float_exps(min(abs(x), splat<VF>(9.5f)));
    const VF c = mul_add(splat<VF>(kCoshR2), e.r * e.r, splat<VF>(1.0f));
    const VF s = e.ep + e.em, d = e.ep - e.em;
    return or_sign(mul_add(e.r, s, d * c) / mul_add(e.r, d, s * c), x);
  }
};

// LA Sinh in float: below 1 the series; from 1 on (E+ - E-)(1 + r^2/2) + (E+ + E-)(r + r^3/6), where
// E- is at most a sixth of E+ - E-, so the table's roundings stay near an ulp.
struct FSinhLA {
  static VF apply(VF x) {
    const VF m = abs(x);
    const FloatExps e = float_exps(m);
    const VF r2 = e.r * e.r;
    const VF d = e.ep - e.em, s = e.ep + e.em;
    const VF sr = mul_add(e.r * r2, splat<VF>(1.0f / 6), e.r);
    const VF big = d + mul_add(s, sr, (d * splat<VF>(0.5f)) * r2);
    const VF z = m * m;
    const VF small = mul_add(m * z, horner(z, hb::kSSinhSmallF), m);
    return or_sign(select(m < splat<VF>(1.0f), big, small), x);
  }
};
// LA Tanh in float: below 1/2 the series; from 1/2 on 1 - 2/(e^2m + 1), e^2m = 2 E+ e^r from the
// reduction of 2m: its error reaches the result damped (by 2 e^2m / (e^2m + 1)^2 / tanh m < 0.8).
// |x| stops at 9.5, where tanh is 1 in float.
struct FTanhLA {
  static VF apply(VF x) {
    const VF m = abs(x);
    const FloatExps e = float_exps(min(m + m, splat<VF>(19.0f)));
    const VF r = e.r;
    const VF em1 = mul_add(r * r, mul_add(r, splat<VF>(1.0f / 6), splat<VF>(0.5f)), r);  // e^r - 1
    const VF twice = e.ep + e.ep;
    const VF big = splat<VF>(1.0f) - splat<VF>(2.0f) / mul_add(twice, em1, twice + splat<VF>(1.0f));
    const VF z = m * m;
    const VF small = mul_add(m * z, horner(z, hb::kSTanhSmallF), m);
    return or_sign(select(m < splat<VF>(0.5f), big, small), x);
  }
};

// The double EP formulas keep some 2^-37 relative, which rounds to float within 0.5001 ulp: HA and
// LA (and the EP Asinh, Acosh and Atanh) run them on widened lanes.
template <Fn f, int s>
using SinhOf = HypK<f, Func::kSinh, float, BySlot<s, FSinhLA, InDouble<sinh_d<Tier::kEP>>, FSinh>>;
// Cosh LA: blocks of four, a block with an element beyond the fast range redone element by element.
template <Fn f, int s>
using CoshOf =
    std::conditional_t<s == kLA, HypK<f, Func::kCosh, float, FCosh, Check::kRedoBlock, 4>,
                       std::conditional_t<s == kEP, HypK<f, Func::kCosh, float, FCosh>,
                                          HypK<f, Func::kCosh, float, InDouble<cosh_d<Tier::kEP>>>>>;
template <Fn f, int s>
using TanhOf = HypK<f, Func::kTanh, float, BySlot<s, FTanhLA, InDouble<tanh_d<Tier::kEP>>, FTanh>>;
// LA and HA share one kernel for Asinh and Acosh.
template <Fn f, int>
using AsinhOf = HypK<f, Func::kAsinh, float, InDouble<asinh_d<Tier::kEP>>>;
template <Fn f, int>
using AcoshOf = HypK<f, Func::kAcosh, float, InDouble<acosh_d<Tier::kEP>>>;
// Atanh in blocks of eight, special lanes by their mask.
template <Fn f, int>
using AtanhOf = HypK<f, Func::kAtanh, float, InDouble<atanh_d<Tier::kEP>>>;

}  // namespace

void register_hyperbolic_float(vm::KernelSlots& s) {
  using enum Fn;
  reg<sSinh, SinhOf>(s);
  reg<sCosh, CoshOf>(s);
  reg<sTanh, TanhOf>(s);
  reg<sAsinh, AsinhOf>(s);
  reg<sAcosh, AcoshOf>(s);
  reg<sAtanh, AtanhOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
