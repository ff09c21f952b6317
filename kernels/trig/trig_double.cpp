// Double trigonometric kernels (Sin, Cos, SinCos, Tan), compiled once per instruction set.
// Constants, the 2/pi bits and the coefficients come from tools/gen_trig_tables.py.
//
// Contract (measured against MPFR in tests/vm/accuracy_test.cpp), over the whole argument range:
//   HA within 1 ulp, LA within 4 ulp, EP within 2^26 ulp (about half the significand bits).
//   |x| = N pi/2 + r: up to 1.6e6 by pi/2 in four parts (N times each of the first three exact), r
//   kept in two doubles by HA; LA and EP Sin and Cos reduce by even multiples of pi/2 (the cosine
//   by odd ones) to one odd polynomial on |r| <= pi/2 (degree 17 LA, 11 EP); LA and EP Tan take one rational
//   function of r on |r| <= pi/4, EP SinCos short sine and cosine polynomials there. Beyond, every
//   flavour reduces by a 192-bit window of 2/pi, exact enough for the hardest double
//   (6381956970095103 2^797), and evaluates the HA method.
// Measured maxima (dense and random MPFR sweeps, 2e5 arguments over [-1e300, 1e300]): HA Sin, Cos
//   0.80 ulp, Tan 0.91; LA Sin 2.00, Cos 2.21, Tan 2.99 (2.51 where multiply-adds fuse); EP Sin,
//   Cos 9.6e5 ulp, SinCos 1.2e5, Tan 2.3e5.
// Special values: NaN -> NaN silently; +-inf -> NaN (inf 0), code 1 (SinCos: NaN in both results,
//   one report with a, a, r1, r2). Sin and Tan keep the sign of a zero, Cos(+-0) = 1.
#include <iterator>

#include "kernels/trig/trig_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::kEP;
using vm::kHA;
using vm::kLA;

// r = ax - k pi/2 for an integral k below 2^20, losing only bits of r: by three doubles where
// multiply-adds fuse (ax - k kDPio2Hi is exact wherever r is small, as ax and the product then share
// their last place, 2^-52 or above; the next step rounds once, relatively to r), by four 33-bit
// parts (N times each of the first three exact) elsewhere.
inline VD minus_k_pio2(VD ax, VD k) {
  VD r = ax;
  if constexpr (kFusedMulAdd) {
    for (double c : {td::kDPio2Hi, td::kDPio2Lo, td::kDPio2Lo2}) r = nmul_add(k, splat<VD>(c), r);
  } else {
    for (double c : {td::kDPio2_1, td::kDPio2_2, td::kDPio2_3, td::kDPio2_4})
      r = nmul_add(k, splat<VD>(c), r);
  }
  return r;
}
// x - k pi/2 the same way, by parts that are all positive: x = -0 keeps its sign (N times a negative
// part would add +0).
inline VD minus_k_pio2_signed(VD x, VD k) {
  if constexpr (kFusedMulAdd) {
    VD r = x;
    for (double c : {td::kDPio2Hi, td::kDPio2LoDown, td::kDPio2Lo3}) r = nmul_add(k, splat<VD>(c), r);
    return r;
  } else {
    return minus_k_pio2(x, k);
  }
}
// k pi/2 - ax, the steps of minus_k_pio2 negated.
inline VD k_pio2_minus(VD ax, VD k) {
  if constexpr (kFusedMulAdd) {
    VD r = mul_sub(k, splat<VD>(td::kDPio2Hi), ax);
    for (double c : {td::kDPio2Lo, td::kDPio2Lo2}) r = mul_add(k, splat<VD>(c), r);
    return r;
  } else {
    VD r = mul_sub(k, splat<VD>(td::kDPio2_1), ax);
    for (double c : {td::kDPio2_2, td::kDPio2_3, td::kDPio2_4}) r = mul_add(k, splat<VD>(c), r);
    return r;
  }
}

// LA Sin and Cos: x = k pi/2 + r with k = 2N even for the sine and k = 2N + 1 odd for the cosine
// (of |x|), so that |r| <= pi/2 and one odd polynomial s serves both: sin x = (-1)^N s(r) and
// cos x = (-1)^N s(-r). k comes from one rounding: a shifter of 1.5 2^53 keeps even integers only
// (of either sign), one of 2^53 - 1 odd ones once the sum reaches 2^53 (below, |x| < pi/4, the
// maximum makes k = 1); in both the shifted value's last bit is N's parity. The sine, odd in every
// step, reduces x itself. |k| stays below 2^20 over the fast range; the bits the reduction loses the
// polynomial's slope (cos r) carries at most unchanged. Where multiply-adds fuse the polynomial goes
// by Horner's rule: at AVX2 and AVX-512, in blocks of 16 elements, the operation it saves counted for
// more than the depth that its even and odd halves save (LA 3-6% faster, EP 3-10%); without fused
// multiply-adds, every step two operations deep, the halves stay. The LA
// polynomial at pi/2 rounds to 1, so the LA cosine of a zero is 1 without a test; the EP one does
// not, and EP pins the cosine to 1 below 2^-27 (kPinOne). EP takes the same path with a shorter
// polynomial P.
template <bool kCos, const auto& P, bool kPinOne = false>
struct DHalf {
  static constexpr bool kSigned = !kCos;
  static constexpr int kBlock = 16;
  // Q(m) = -P(-m): the polynomial in m = -r^2.
  struct Coeffs {
    double c[std::size(P)];
  };
  static constexpr Coeffs kQ = [] {
    Coeffs q{};
    for (size_t i = 0; i < std::size(P); ++i) q.c[i] = i % 2 ? P[i] : -P[i];
    return q;
  }();
  static VD value(VD x) {
    const VD shift = splat<VD>(kCos ? 0x1p53 - 1.0 : 0x1.8p53);
    VD t = mul_add(x, splat<VD>(td::kD2OverPi), shift);
    if constexpr (kCos) t = max(t, splat<VD>(0x1p53));
    const VD k = t - shift;
    const VD r = kCos ? k_pio2_minus(x, k) : minus_k_pio2_signed(x, k);
    const VD m = nmul_add(r, r, splat<VD>(0.0));  // -r^2, and +0 at r = -0: r m Q(m) + r is then -0
    const VD q = kFusedMulAdd ? horner(m, kQ.c) : horner_halves(m, kQ.c);
    const VD y = mul_add(r * m, q, r) ^ as_double(shl<63>(as_int(t)));
    if constexpr (kPinOne) {
      return select(x < splat<VD>(0x1p-27), y, splat<VD>(1.0));
    } else {
      return y;
    }
  }
};
using DSinLA = DHalf<false, td::kDSinHalf>;
using DCosLA = DHalf<true, td::kDSinHalf>;
using DSinCosLA = DQuadrant<false, 2>;
// LA and EP Tan: tan r = r (1 + r^2 N(r^2)) / (1 + r^2 D(r^2)), one rational function on |r| <= pi/4,
// and -cot r its negated reciprocal in odd quadrants: one division. Numerator and denominator each
// round about once, as a sine and cosine would, from polynomials of half their length.
template <const auto& N, const auto& D>
struct DTanShort {
  static VD value(VD ax) {
    VL q;
    const VD r = minus_k_pio2(ax, quotient(ax, q));
    const VD p = r * r;
    const VD s = mul_add(r * p, horner(p, N), r);
    const VD c = mul_add(p, horner(p, D), splat<VD>(1.0));
    const MD o = odd(q);
    return (select(o, s, c) / select(o, c, s)) ^ (sign_mask<VD>() & as_double(shl<63>(q)));
  }
};
using DTanLA = DTanShort<td::kDTanNumLA, td::kDTanDenLA>;
using DTanEP = DTanShort<td::kDTanNumEP, td::kDTanDenEP>;

// EP SinCos: |x| = N pi/2 + r by the reduction of LA and EP Tan, sin r and cos r by short
// polynomials sharing r^2 (the cosine's in one chain from 1), placed by quadrant.
constexpr double kDCosShort[5] = {-0.5, td::kDCosLow[0], td::kDCosLow[1], td::kDCosLow[2], td::kDCosLow[3]};
struct DSinCosEP {
  static void value2(VD ax, VD& s, VD& c) {
    VL q;
    const VD r = minus_k_pio2(ax, quotient(ax, q));
    const VD p = r * r;
    const VD sr = mul_add(r * p, horner(p, td::kDSinLow), r);
    const VD cr = mul_add(p, horner(p, kDCosShort), splat<VD>(1.0));
    s = place_sin(q, sr, cr);
    c = place_cos(q, sr, cr);
  }
};
using DSinEP = DHalf<false, td::kDSinHalfEP>;
using DCosEP = DHalf<true, td::kDSinHalfEP, true>;

// The method's value at |x| in its fast range: its own path, or the reduction by pi/2 it asks for
// (kTwoPart: r in two doubles) and its value at the reduced argument.
template <class M>
inline VD value_of(VD ax) {
  if constexpr (requires { M::value(ax); }) {
    return M::value(ax);
  } else {
    const DReduced d = M::kTwoPart ? reduce_ha(ax) : reduce_plain(ax);
    return M::eval(d.q, d.hi, d.lo);
  }
}
template <class M>
inline void value2_of(VD ax, VD& s, VD& c) {
  if constexpr (requires { M::value2(ax, s, c); }) {
    M::value2(ax, s, c);
  } else {
    const DReduced d = M::kTwoPart ? reduce_ha(ax) : reduce_plain(ax);
    M::eval2(d.q, d.hi, d.lo, s, c);
  }
}

// Sin, Cos and Tan: the method M in its fast range, the HA method H beyond it; kOdd functions take
// the argument's sign.
// Elements per block: the method's own, or 8.
template <class M>
constexpr int block_of() {
  if constexpr (requires { M::kBlock; }) {
    return M::kBlock;
  } else {
    return 8;
  }
}

template <Fn kFn, class M, class H, bool kOdd>
struct DTrigK {
  static constexpr int kUnroll = trig_unroll<double>(block_of<M>());
  static constexpr double kFast = kDFast;
  static VD vec(VD x) {
    if constexpr (requires { M::kSigned; }) {
      if constexpr (M::kSigned) return M::value(x);
    }
    const VD y = value_of<M>(abs(x));
    if constexpr (kOdd) {
      return y ^ (x & sign_mask<VD>());
    } else {
      return y;
    }
  }
  static unsigned special(VD x) { return outside<VD>(abs(x) <= splat<VD>(kFast)); }
  static void scalar(int i, const double* a, double* r) {
    const double x = a[i];
    const uint64_t ax = to_bits(x) & Bits<double>::kMagnitude;
    if (ax >= 0x7FF0000000000000ull) {
      const int status = nonfinite(x, r[i]);
      if (status != 0) report(status, i, a, a, r, r, vm::traits(kFn).name);
    } else if (from_bits<double>(ax) <= kFast) {
      r[i] = on_lane<DTrigK>(x);
    } else {
      const double y = large_eval<H>(x);
      r[i] = kOdd ? from_bits<double>(to_bits(y) ^ (to_bits(x) & Bits<double>::kSign)) : y;
    }
  }
};

template <Fn kFn, class M>
struct DSinCosK {
  static constexpr int kUnroll = trig_unroll<double>(8);
  static constexpr double kFast = kDFast;
  static void vec(VD x, VD& s, VD& c) {
    value2_of<M>(abs(x), s, c);
    s = s ^ (x & sign_mask<VD>());
  }
  static unsigned special(VD x) { return outside<VD>(abs(x) <= splat<VD>(kFast)); }
  static void scalar(int i, const double* a, double* r1, double* r2) {
    const double x = a[i];
    const uint64_t ax = to_bits(x) & Bits<double>::kMagnitude;
    if (ax >= 0x7FF0000000000000ull) {
      const int status = nonfinite(x, r1[i]);
      r2[i] = r1[i];
      if (status != 0) report(status, i, a, a, r1, r2, vm::traits(kFn).name);
    } else if (from_bits<double>(ax) <= kFast) {
      VD s, c;
      vec(splat<VD>(x), s, c);
      r1[i] = lane0(s);
      r2[i] = lane0(c);
    } else {
      double s, c;
      large_sincos(x, s, c);
      r1[i] = from_bits<double>(to_bits(s) ^ (to_bits(x) & Bits<double>::kSign));
      r2[i] = c;
    }
  }
};

template <Fn f, int s>
using DSinOf = DTrigK<f, BySlot<s, DSinLA, DSinHA, DSinEP>, DSinHA, true>;
template <Fn f, int s>
using DCosOf = DTrigK<f, BySlot<s, DCosLA, DCosHA, DCosEP>, DCosHA, false>;
template <Fn f, int s>
using DTanOf = DTrigK<f, BySlot<s, DTanLA, DTanHA, DTanEP>, DTanHA, true>;
template <Fn f, int s>
using DSinCosOf = DSinCosK<f, BySlot<s, DSinCosLA, DSinCosHA, DSinCosEP>>;

}  // namespace

void register_trig_double(vm::KernelSlots& s) {
  using enum Fn;
  reg<dSin, DSinOf>(s);
  reg<dCos, DCosOf>(s);
  reg<dSinCos, DSinCosOf>(s);
  reg<dTan, DTanOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
