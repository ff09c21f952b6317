// Double inverse trigonometric kernels (Asin, Acos, Atan, Atan2), compiled once per instruction set.
// Coefficients and constants come from tools/gen_trig_tables.py.
//
// Contract (measured against MPFR in tests/vm/accuracy_test.cpp): HA within 1 ulp, LA within 4,
// EP within 2^26. HA Atan and Atan2 reduce the quotient of the smaller and larger magnitudes around
// 0, 1/4, 1/2 or 1 to |z| <= 3/16 by one division, LA and EP around 0 or 1 to |z| <= 1/2 (a longer
// polynomial, fewer selections); Asin and Acos take sqrt((1 - |x|)/2) above 1/2. HA
// carries the rounding errors of the division and the square root in a second double; LA and EP
// round the polynomial's value once and add it to the constant by one multiply-add or addition.
// Measured maxima of the LA and EP Atan and Atan2 (MPFR, random and dense): LA 1.89 and 1.77 ulp,
// EP 8.4e6 ulp both.
// Special values: NaN -> NaN silently; Asin, Acos of |x| > 1 (infinities too) NaN, code 1; Atan of
// +-inf is +-pi/2; Atan2 of zeros and infinities takes the limits of each quadrant, never reported.
#include "kernels/trig/atrig_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

// LA and EP Atan and Atan2: with y <= x the smaller and larger magnitudes, theta = atan(y/x) is
// atan z with z = y/x below 1/2 and pi/4 + atan z with z = (y - x)/(y + x) from 1/2 on (the numerator
// exact), |z| <= 1/2 either way: one division and one odd polynomial by Estrin's scheme, its value
// rounded once and added to the constant of the angle K + sigma theta (as in atan2_core).
template <const auto& P>
inline VD atan2_half(VD a, VD b) {
  const VD sign = sign_mask<VD>();
  const VD ya = abs(a), xb = abs(b);
  const VD y = min(ya, xb), x = max(ya, xb);
  const MD swap = xb < ya;
  const VD sigma = (b & sign) ^ keep(swap, sign);
  const MD mid = y >= splat<VD>(0.5) * x;
  const VD z = minus_where(mid, y, x) / plus_where(mid, x, y);
  // pi/2 where swapped; otherwise pi where b < 0 (b = -0 is swapped, as a is nonzero on this path).
  const VD k = select(swap, keep(b < splat<VD>(0.0), splat<VD>(td::kDPiH)), splat<VD>(td::kDPio2H));
  const VD kc = k + (keep(mid, splat<VD>(td::kDPio4H)) ^ sigma);
  const VD s = z * z;
  return (kc + (mul_add(z * s, estrin(s, P), z) ^ sigma)) ^ (a & sign);
}

// Atan alone: a = |x| below 1/2 is z itself; from 1/2 to 2, atan a = pi/4 + atan z with
// z = (a - 1)/(a + 1) (the numerator exact); above 2, atan a = pi/2 + atan z with z = -1/a. |z| <= 1/2
// in each, and no sign to carry but x's own.
template <const auto& P>
inline VD atan_half(VD x) {
  const VD sign = sign_mask<VD>(), one = splat<VD>(1.0);
  const VD a = abs(x);
  const MD mid = a >= splat<VD>(0.5), big = a > splat<VD>(2.0);
  const VD num = select(big, minus_where(mid, a, one), splat<VD>(-1.0));
  const VD den = select(big, plus_where(mid, one, a), a);
  const VD kc = select(big, keep(mid, splat<VD>(td::kDPio4H)), splat<VD>(td::kDPio2H));
  const VD z = num / den;
  const VD s = z * z;
#if ZOK_ISA_LEVEL == 2
  // Two Horner chains, three multiplications fewer than Estrin's tree: 3-6% faster at AVX2 (LA and
  // EP, n = 1e3 and 1e6). AVX-512 keeps the shallower tree (LA 3% faster with it at n = 1e3).
  const VD p = horner_halves(s, P);
#else
  const VD p = estrin(s, P);
#endif
  return (kc + mul_add(z * s, p, z)) ^ (x & sign);
}

template <const auto& P, bool kTwo>
struct DAtan {
  static VD eval(VD x) {
    if constexpr (kTwo) {
      return atan2_core<P, true, true, false>(x, splat<VD>(1.0));
    } else {
      return atan_half<P>(x);
    }
  }
};
template <const auto& P, bool kTwo>
struct DAtan2 {
  static VD eval(VD a, VD b) {
    if constexpr (kTwo) {
      return atan2_core<P, true, true, false>(a, b);
    } else {
      return atan2_half<P>(a, b);
    }
  }
};
// LA and EP at AVX-512 take the root of (1 - |x|)/2 from the reciprocal square root estimate (LA to
// about half an ulp, EP to 2^-40) or, where the instruction is cheap (kTerms 0), from the square
// root instruction as elsewhere.
template <const auto& P, bool kAcos, bool kTwo, int kTerms = 3, bool kHalves = false>
struct DAsin {
  static VD eval(VD x) {
    if constexpr (kTwo) {
      return asin_core<P, kAcos, true>(x);
    } else {
#if ZOK_ISA_LEVEL == 3
      return asin_masked<P, kAcos, kTerms, kHalves>(x);
#else
      return asin_short<P, kAcos, kHalves>(x);
#endif
    }
  }
};

struct DRange {
  static constexpr double kLo = 0x1p-960, kHi = 0x1p990;
};
template <Fn f, int s>
using DAtanOf = AtanK<
    double,
    BySlot<s, DAtan<td::kDAtanHalfLA, false>, DAtan<td::kDAtanHA, true>, DAtan<td::kDAtanHalfEP, false>>,
    DRange>;
template <Fn f, int s>
using DAtan2Of = Atan2K<
    double,
    BySlot<s, DAtan2<td::kDAtanHalfLA, false>, DAtan2<td::kDAtanHA, true>, DAtan2<td::kDAtanHalfEP, false>>,
    DRange>;
// The LA and EP Asin and Acos at AVX-512 leave |x| = 1 to the element path, where the root's
// estimate would meet 1/sqrt(0); it gives the values the formula has there, asin(+-1) = +-pi/2 and
// acos(1) = 0, acos(-1) = pi (the leading parts).
template <Fn f, class M, bool kAcos>
struct ASinCosOpen : ASinCosK<f, double, M> {
  using Base = ASinCosK<f, double, M>;
  static unsigned special(VD x) { return outside<VD>(abs(x) < splat<VD>(1.0)); }
  static void scalar(int i, const double* a, double* r) {
    const double x = a[i];
    if (std::fabs(x) == 1.0) {
      r[i] = kAcos ? (x > 0 ? 0.0 : td::kDPiH) : std::copysign(td::kDPio2H, x);
    } else {
      Base::scalar(i, a, r);
    }
  }
};
// Where the root instruction is cheap they take it (kTerms 0), and |x| = 1 stays on the vector path.
template <Fn f, int s, bool kAcos>
using DAsinCosOf = std::conditional_t<
    ZOK_ISA_LEVEL == 3 && s != vm::kHA,
    RootCost<ASinCosOpen<f,
                         BySlot<s, DAsin<td::kDAsinLA, kAcos, false, 3, true>, void,
                                DAsin<td::kDAsinEP, kAcos, false, 2>>,
                         kAcos>,
             ASinCosK<f, double,
                      BySlot<s, DAsin<td::kDAsinLA, kAcos, false, 0, true>, void,
                             DAsin<td::kDAsinEP, kAcos, false, 0>>>>,
    ASinCosK<f, double,
             BySlot<s, DAsin<td::kDAsinLA, kAcos, false, 3, true>, DAsin<td::kDAsinHA, kAcos, true>,
                    DAsin<td::kDAsinEP, kAcos, false, 2>>>>;
template <Fn f, int s>
using DAsinOf = DAsinCosOf<f, s, false>;
template <Fn f, int s>
using DAcosOf = DAsinCosOf<f, s, true>;

}  // namespace

void register_atrig_double(vm::KernelSlots& s) {
  using enum Fn;
  reg<dAsin, DAsinOf>(s);
  reg<dAcos, DAcosOf>(s);
  reg<dAtan, DAtanOf>(s);
  reg<dAtan2, DAtan2Of>(s);
}

}  // namespace zok::ZOK_ISA_NS
