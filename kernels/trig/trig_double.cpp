// Double trigonometric kernels (Sin, Cos, SinCos, Tan), compiled once per instruction set.
// Constants, the 2/pi bits and the coefficients come from tools/gen_trig_tables.py.
//
// Contract (measured against MPFR in tests/vm/accuracy_test.cpp), over the whole argument range:
//   HA within 1 ulp, LA within 4 ulp, EP within 2^26 ulp (about half the significand bits).
//   |x| = N pi/2 + r: up to 1.6e6 by pi/2 in four parts (N times each of the first three exact), r
//   kept in two doubles by HA; beyond, by a 192-bit window of 2/pi, exact enough for the hardest
//   double (6381956970095103 2^797), in every flavour.
// Special values: NaN -> NaN silently; +-inf -> NaN (inf 0), code 1 (SinCos: NaN in both results,
//   one report with a, a, r1, r2). Sin and Tan keep the sign of a zero, Cos(+-0) = 1.
#include "kernels/trig/trig_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::kEP;
using vm::kHA;
using vm::kLA;

// LA: the HA polynomials on r in one double.
struct DSinLA {
  static constexpr bool kTwoPart = false;
  static VD eval(VL q, VD hi, VD) {
    VD s, c;
    sincos_plain<td::kDSinHA, td::kDCosHA>(hi, s, c);
    return select(odd(q), s, c) ^ sin_sign(q);
  }
};
struct DCosLA {
  static constexpr bool kTwoPart = false;
  static VD eval(VL q, VD hi, VD) {
    VD s, c;
    sincos_plain<td::kDSinHA, td::kDCosHA>(hi, s, c);
    return select(odd(q), c, s) ^ cos_sign(q);
  }
};
struct DSinCosLA {
  static constexpr bool kTwoPart = false;
  static void eval2(VL q, VD hi, VD, VD& s, VD& c) {
    VD sr, cr;
    sincos_plain<td::kDSinHA, td::kDCosHA>(hi, sr, cr);
    const MD o = odd(q);
    s = select(o, sr, cr) ^ sin_sign(q);
    c = select(o, cr, sr) ^ cos_sign(q);
  }
};
// tan r or -cot r as one quotient of the sine and cosine polynomials S and C.
template <const auto& S, const auto& C>
struct DTanPlain {
  static constexpr bool kTwoPart = false;
  static VD eval(VL q, VD hi, VD) {
    VD s, c;
    sincos_plain<S, C>(hi, s, c);
    const MD o = odd(q);
    return (select(o, s, c) / select(o, c, s)) ^ (sign_mask<VD>() & as_double(shl<63>(q)));
  }
};
using DTanLA = DTanPlain<td::kDSinHA, td::kDCosHA>;
using DTanEP = DTanPlain<td::kDSinLow, td::kDCosLow>;

// EP: r = j pi/64 + r' with |r'| <= pi/128 and j = 32 N + round(r 64/pi) modulo 128; sin and cos of
// j pi/64 from a table of 64 rows (j modulo 64, the seventh bit of j flipping both signs), of r' by
// short polynomials.
inline void sincos_table(VL q, VD hi, VD& s, VD& c) {
  const VD t = mul_add(hi, splat<VD>(td::kD64OverPi), splat<VD>(kDShifter));
  const VD k = t - splat<VD>(kDShifter);
  const VL j = (shl<5>(q) + as_int(t)) & splat<VL>(127);
  // k is at most 17 in magnitude: k times each 33-bit part of pi/64 is exact.
  const VD r = nmul_add(k, splat<VD>(td::kDPio2_2 / 32), nmul_add(k, splat<VD>(td::kDPio2_1 / 32), hi));
  VD ts, tc;
  lookup_pairs(&td::kDSinCos64[0][0], j & splat<VL>(63), ts, tc);
  const VD p = r * r;
  const VD sr = mul_add(r * p, splat<VD>(td::kDSinEP[0]), r);
  const VD cr = mul_add(p * p, splat<VD>(td::kDCosEP[0]), nmul_add(splat<VD>(0.5), p, splat<VD>(1.0)));
  const VD sg = as_double(shl<57>(j & splat<VL>(64)));
  s = mul_add(ts, cr, tc * sr) ^ sg;
  c = mul_sub(tc, cr, ts * sr) ^ sg;
}
struct DSinEP {
  static constexpr bool kTwoPart = false;
  static VD eval(VL q, VD hi, VD) {
    VD s, c;
    sincos_table(q, hi, s, c);
    return s;
  }
};
struct DCosEP {
  static constexpr bool kTwoPart = false;
  static VD eval(VL q, VD hi, VD) {
    VD s, c;
    sincos_table(q, hi, s, c);
    return c;
  }
};
struct DSinCosEP {
  static constexpr bool kTwoPart = false;
  static void eval2(VL q, VD hi, VD, VD& s, VD& c) { sincos_table(q, hi, s, c); }
};

template <class M>
inline DReduced reduce(VD ax) {
  if constexpr (M::kTwoPart) {
    return reduce_ha(ax);
  } else {
    return reduce_plain(ax);
  }
}

inline unsigned beyond_fast(VD x) {
  return outside<VD>(abs(x) <= splat<VD>(kDFast));
}

// Sin, Cos and Tan: the method M in the fast range, the HA method H beyond it; kOdd functions take
// the argument's sign.
template <Fn kFn, class M, class H, bool kOdd>
struct DTrigK {
  static constexpr int kUnroll = trig_unroll<double>(8);
  static VD vec(VD x) {
    const DReduced d = reduce<M>(abs(x));
    const VD y = M::eval(d.q, d.hi, d.lo);
    if constexpr (kOdd) {
      return y ^ (x & sign_mask<VD>());
    } else {
      return y;
    }
  }
  static unsigned special(VD x) { return beyond_fast(x); }
  static void scalar(int i, const double* a, double* r) {
    const double x = a[i];
    const uint64_t ax = to_bits(x) & Bits<double>::kMagnitude;
    if (ax >= 0x7FF0000000000000ull) {
      const int status = nonfinite(x, r[i]);
      if (status != 0) report(status, i, a, a, r, r, vm::traits(kFn).name);
    } else if (from_bits<double>(ax) <= kDFast) {
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
  static void vec(VD x, VD& s, VD& c) {
    const DReduced d = reduce<M>(abs(x));
    M::eval2(d.q, d.hi, d.lo, s, c);
    s = s ^ (x & sign_mask<VD>());
  }
  static unsigned special(VD x) { return beyond_fast(x); }
  static void scalar(int i, const double* a, double* r1, double* r2) {
    const double x = a[i];
    const uint64_t ax = to_bits(x) & Bits<double>::kMagnitude;
    if (ax >= 0x7FF0000000000000ull) {
      const int status = nonfinite(x, r1[i]);
      r2[i] = r1[i];
      if (status != 0) report(status, i, a, a, r1, r2, vm::traits(kFn).name);
    } else if (from_bits<double>(ax) <= kDFast) {
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
