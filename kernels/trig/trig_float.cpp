// Float trigonometric kernels (Sin, Cos, SinCos, Tan), compiled once per instruction set.
// Constants and coefficients come from tools/gen_trig_tables.py.
//
// Contract (measured against MPFR in tests/vm/accuracy_test.cpp), over the whole argument range:
//   HA within 1 ulp, LA within 4 ulp, EP within 2^12 ulp.
//   LA and EP Sin and Cos reduce |x| <= 10000 by pi in four floats (N times each of the first three
//   exact; the cosine by odd multiples of pi/2), in three where multiply-adds fuse, to |r| <= pi/2
//   and evaluate one odd polynomial in float; EP SinCos, and LA SinCos where multiply-adds fuse,
//   reduce once by pi/2 and evaluate short sine and cosine polynomials. HA
//   reduces by pi/2 to a two-float r, |r| <= pi/4, and evaluates sine and cosine polynomials in
//   float where multiply-adds fuse (AVX2, AVX-512), the LA reduction and a double polynomial on widened lanes
//   elsewhere. Tan reduces by pi/2 and divides the sine by the cosine: HA in float from their
//   unrounded parts where multiply-adds fuse (in double elsewhere), LA and EP in float. Beyond
//   10000 every flavour rounds the double HA kernel's exact-reduction result once.
// Special values: NaN -> NaN silently; +-inf -> NaN (inf 0), code 1 (SinCos: NaN in both results,
//   one report with a, a, r1, r2). Sin and Tan keep the sign of a zero, Cos(+-0) = 1.
#include "kernels/trig/trig_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::kEP;
using vm::kHA;
using vm::kLA;

// ---- float arithmetic: LA and EP Sin, Cos, SinCos ----

// r + r^3 P(r^2).
template <const auto& P, class V>
inline V odd_poly(V r) {
  const V p = r * r;
  return mul_add(r * p, horner(p, P), r);
}

// |x| = N pi + r, N from |x| times the float 1/pi by the shifter; `parity` holds N's lowest bit in
// the sign position.
inline VF quotient_pi(VF m, VF& parity) {
  const VF t = mul_add(m, splat<VF>(td::kSInvPi), splat<VF>(kSShifter));
  parity = as_float(shl<31>(as_int(t)));
  return t - splat<VF>(kSShifter);
}
// Where multiply-adds fuse, pi is the three floats kSPiH + kSPiL + 2 kSPio2T instead, one step
// shorter: N kSPiH (the cosine's (N + 1/2) kSPiH too) is a multiple of 2^-23, as is |x| from 1 up,
// so there the first step is exact (|r| < 2); below 1 the sine's N is 0 and the cosine's first step
// rounds by at most 2^-24 near a value of 1. The other two steps round r once each.
inline VF minus_pi_times(VF m, VF n) {
  if constexpr (kFusedMulAdd) {
    const VF r = nmul_add(n, splat<VF>(td::kSPiL), nmul_add(n, splat<VF>(td::kSPiH), m));
    return nmul_add(n, splat<VF>(2.0f * td::kSPio2T), r);
  } else {
    const VF r2 = nmul_add(n, splat<VF>(td::kSPi2), nmul_add(n, splat<VF>(td::kSPi1), m));
    return nmul_add(n, splat<VF>(td::kSPi4), nmul_add(n, splat<VF>(td::kSPi3), r2));
  }
}

// Sine and cosine by the float formula with polynomial P. The cosine reduces by N + 1/2 or N - 1/2,
// the side given by the sine's reduction after two parts, so that cos = -+ sin of that remainder;
// below 2^-12, where cos x rounds to 1, it is exactly 1 (the reduced argument there is -pi/2 in
// four rounded parts, and the polynomial's value a little below 1).
template <const auto& P, bool kSin, bool kCos>
inline void sincos_f(VF x, VF& s, VF& c) {
  const VF sign = sign_mask<VF>();
  const VF m = abs(x);
  VF parity;
  const VF n = quotient_pi(m, parity);
  const VF r2 = nmul_add(n, splat<VF>(td::kSPi2), nmul_add(n, splat<VF>(td::kSPi1), m));
  if constexpr (kSin) {
    const VF r = kCos ? nmul_add(n, splat<VF>(td::kSPi4), nmul_add(n, splat<VF>(td::kSPi3), r2))
                      : minus_pi_times(m, n);
    s = odd_poly<P>(r) ^ ((x & sign) ^ parity);
  }
  if constexpr (kCos) {
    const VF nc = n + or_sign(splat<VF>(0.5f), r2);
    const VF flip = andnot(r2, sign) ^ parity;
    c = select(m < splat<VF>(0x1p-12f), odd_poly<P>(minus_pi_times(m, nc)) ^ flip, splat<VF>(1.0f));
  }
}

// Cosine alone: |x| = (N + 1/2) pi + r with N rounding |x|/pi - 1/2, so cos x = -(-1)^N sin r and
// the reduction needs no second look at the remainder (N + 1/2 still leaves each of the first three
// products exact). A rounding of the quotient may leave N the neighbour and |r| a little beyond
// pi/2, where the polynomial still holds. Below 2^-12 the value is 1 exactly, as in sincos_f.
template <const auto& P>
inline VF cos_f(VF x) {
  const VF m = abs(x);
  const VF t = mul_add(m, splat<VF>(td::kSInvPi), splat<VF>(-0.5f)) + splat<VF>(kSShifter);
  const VF nc = (t - splat<VF>(kSShifter)) + splat<VF>(0.5f);
  const VF flip = as_float(shl<31>(as_int(t))) ^ sign_mask<VF>();
  return select(m < splat<VF>(0x1p-12f), odd_poly<P>(minus_pi_times(m, nc)) ^ flip, splat<VF>(1.0f));
}

// ---- float arithmetic on a two-float argument: HA Sin, Cos, SinCos where multiply-adds fuse ----

// |x| = N pi/2 + hi + lo, |hi + lo| <= pi/4 (5e-4 beyond where the float product rounds N the
// other way), pi/2 taken as kSPio2H + kSPio2L + kSPio2T. m - N kSPio2H is exact in one fused step:
// both are multiples of 2^-23 (of m's ulp below 1, where N <= 1) and the difference stays below 1.
// N kSPio2L is split by its exact error and the difference keeps its rounding error, so hi + lo
// holds r to some 2^-45 of pi/2 even where r nearly vanishes (1e-9 at the closest float below 10000).
// hi is the rounded difference and lo the rest, not renormalised: lo stays within about an ulp of
// hi except where r nearly vanishes, and there (|r| at least 1e-9) below 2^-5 of hi, which the
// first-order use of lo in the sine, cosine and tangent still takes.
struct SQuarter {
  VI q;
  VF hi, lo;
};
inline SQuarter reduce_quarter(VF m) {
  const VF t = mul_add(m, splat<VF>(2.0f * td::kSInvPi), splat<VF>(kSShifter));
  const VF n = t - splat<VF>(kSShifter);
  const VF t1 = nmul_add(n, splat<VF>(td::kSPio2H), m);
  VF p, pe;
  two_prod(n, splat<VF>(td::kSPio2L), p, pe);
  SQuarter out;
  out.q = as_int(t);
  // t1 - p = hi + e exactly (two_sum with the negation folded in).
  out.hi = t1 - p;
  const VF bb = out.hi - t1;
  const VF e = (t1 - (out.hi - bb)) - (p + bb);
  out.lo = nmul_add(n, splat<VF>(td::kSPio2T), e - pe);
  return out;
}

// sin r and cos r of r = hi + lo, |r| <= pi/4, each rounded about once: lo enters the sine as
// lo (1 - hi^2/2) (alone it would cost 0.15 ulp near pi/4); the cosine keeps the rounding errors of
// hi^2 and of 1 - hi^2/2.
// The parts: sin r = hi + sl, cos r = ch + cl before their last additions.
inline void sincos_quarter_parts(VF hi, VF lo, VF& sl, VF& ch, VF& cl) {
  VF p, pe;
  two_prod(hi, hi, p, pe);
  const VF hz = splat<VF>(0.5f) * p;
  sl = mul_add(hi * p, horner(p, td::kSSinQ9), nmul_add(hz, lo, lo));
  ch = splat<VF>(1.0f) - hz;
  const VF low = ((splat<VF>(1.0f) - ch) - hz) - mul_add(splat<VF>(0.5f), pe, hi * lo);
  cl = mul_add(p * p, horner(p, td::kSCosQ8W), low);
}
inline void sincos_quarter(VF hi, VF lo, VF& s, VF& c) {
  VF sl, ch, cl;
  sincos_quarter_parts(hi, lo, sl, ch, cl);
  s = hi + sl;
  c = ch + cl;
}

// Sine and cosine of |x| = N pi/2 + r: quadrants 1 and 3 exchange them, quadrants 2 and 3 flip the
// sine's sign, 1 and 2 the cosine's.
template <bool kSin, bool kCos>
inline void sincos_two(VF x, VF& s, VF& c) {
  const SQuarter d = reduce_quarter(abs(x));
  VF sr, cr;
  sincos_quarter(d.hi, d.lo, sr, cr);
  const MF odd = (d.q & splat<VI>(1)) == splat<VI>(1);
  if constexpr (kSin)
    s = select(odd, sr, cr) ^ (as_float(shl<30>(d.q & splat<VI>(2))) ^ (x & sign_mask<VF>()));
  if constexpr (kCos) c = select(odd, cr, sr) ^ as_float(shl<30>((d.q + splat<VI>(1)) & splat<VI>(2)));
}

// ---- double arithmetic: HA Sin, Cos, SinCos and Tan without fused multiply-adds, and HA Tan ----

// |x| = N pi + r with the same float pi and 1/pi, the rest of pi in one more double part: each
// difference is exact but the last two, which lose only bits of r.
inline VD dquotient_pi(VD m, VD& parity) {
  const VD t = mul_add(m, splat<VD>(td::kSInvPi), splat<VD>(kDShifter));
  parity = as_double(shl<63>(as_int(t)));
  return t - splat<VD>(kDShifter);
}
inline VD dminus_pi_times(VD m, VD n) {
  VD r = m;
  for (double p : {double(td::kSPi1), double(td::kSPi2), double(td::kSPi3), double(td::kSPi4), td::kSPi5})
    r = nmul_add(n, splat<VD>(p), r);
  return r;
}
template <bool kSin, bool kCos>
inline void sincos_wide(VD x, VD& s, VD& c) {
  const VD sign = sign_mask<VD>();
  const VD m = abs(x);
  VD parity;
  const VD n = dquotient_pi(m, parity);
  if constexpr (kSin) s = odd_poly<td::kSSinHA>(dminus_pi_times(m, n)) ^ ((x & sign) ^ parity);
  if constexpr (kCos) {
    const VD r2 = nmul_add(n, splat<VD>(td::kSPi2), nmul_add(n, splat<VD>(td::kSPi1), m));
    const VD nc = n + or_sign(splat<VD>(0.5), r2);
    c = odd_poly<td::kSSinHA>(dminus_pi_times(m, nc)) ^ (andnot(r2, sign) ^ parity);
  }
}
// tan by pi/2 in double: the quotient of the double sine and cosine polynomials.
inline VD tan_wide(VD x) {
  const DReduced d = reduce_plain(abs(x));
  VD s, c;
  sincos_plain<td::kDSinLow, td::kDCosLow>(d.hi, s, c);
  const MD o = odd(d.q);
  const VD t = select(o, s, c) / select(o, c, s);
  return t ^ ((sign_mask<VD>() & as_double(shl<63>(d.q))) ^ (x & sign_mask<VD>()));
}

struct SSinLA {
  static VF eval(VF x) {
    VF s, c;
    sincos_f<td::kSSinLA, true, false>(x, s, c);
    return s;
  }
};
struct SCosLA {
  static VF eval(VF x) { return cos_f<td::kSSinLA>(x); }
};
struct SSinEP {
  static VF eval(VF x) {
    VF s, c;
    sincos_f<td::kSSinEP, true, false>(x, s, c);
    return s;
  }
};
struct SCosEP {
  static VF eval(VF x) { return cos_f<td::kSSinEP>(x); }
};
// HA: in float on a two-float argument where multiply-adds fuse, otherwise in double.
struct SSinHA {
  static VF eval(VF x) {
    if constexpr (kFusedMulAdd) {
      VF s, c;
      sincos_two<true, false>(x, s, c);
      return s;
    } else {
      return widened(x, [](VD d) {
        VD s, c;
        sincos_wide<true, false>(d, s, c);
        return s;
      });
    }
  }
};
struct SCosHA {
  static VF eval(VF x) {
    if constexpr (kFusedMulAdd) {
      VF s, c;
      sincos_two<false, true>(x, s, c);
      return c;
    } else {
      return widened(x, [](VD d) {
        VD s, c;
        sincos_wide<false, true>(d, s, c);
        return c;
      });
    }
  }
};
// HA Tan where multiply-adds fuse: sin r / cos r (or -cos r / sin r in odd quadrants) from the
// unrounded parts of both. Numerator and denominator are rounded once each with their errors kept,
// and the quotient is corrected by its residual; the correction is below an ulp of the quotient, so
// the reciprocal estimate of the instruction set serves for it. Elsewhere the double quotient.
inline VF tan_two(VF x) {
  const SQuarter d = reduce_quarter(abs(x));
  VF sl, ch, cl;
  sincos_quarter_parts(d.hi, d.lo, sl, ch, cl);
  const MF odd = (d.q & splat<VI>(1)) == splat<VI>(1);
  VF n, ne, den, de;
  fast_two_sum(select(odd, d.hi, ch), select(odd, sl, cl), n, ne);
  fast_two_sum(select(odd, ch, d.hi), select(odd, cl, sl), den, de);
  const VF q = n / den;
  const VF r = nmul_add(q, de, nmul_add(q, den, n) + ne);
  const VF t = mul_add(r, rcp(den), q);
  return t ^ (as_float(shl<31>(d.q)) ^ (x & sign_mask<VF>()));
}
struct STanHA {
  static VF eval(VF x) {
    if constexpr (kFusedMulAdd) {
      return tan_two(x);
    } else {
      return widened(x, tan_wide);
    }
  }
};
// LA and EP Tan in float: pi/2 as the halves of the four float parts of pi (N up to 6367 keeps the
// first three products exact), sine and cosine polynomials SP and CP, one division.
// |x| = N pi/2 + r in float, r returned, N in the low bits of t.
// Where multiply-adds fuse, pi/2 is the three floats of reduce_quarter instead: the first step is
// exact and the second rounds r once, which is both shorter and closer (the four parts lose up to
// an ulp of r at each of the last three steps, over 4 ulp of Tan LA near 8418).
inline VF reduce_half_pi(VF m, VF& t) {
  t = mul_add(m, splat<VF>(2.0f * td::kSInvPi), splat<VF>(kSShifter));
  const VF n = t - splat<VF>(kSShifter);
  if constexpr (kFusedMulAdd) {
    const VF r = nmul_add(n, splat<VF>(td::kSPio2L), nmul_add(n, splat<VF>(td::kSPio2H), m));
    return nmul_add(n, splat<VF>(td::kSPio2T), r);
  } else {
    VF r = m;
    for (float p : {td::kSPi1, td::kSPi2, td::kSPi3, td::kSPi4}) r = nmul_add(n, splat<VF>(0.5f * p), r);
    return r;
  }
}
// sin r and cos r, |r| <= pi/4, by the polynomials SP and CP.
template <const auto& SP, const auto& CP>
inline void sincos_r(VF r, VF& s, VF& c) {
  const VF p = r * r;
  s = mul_add(r * p, horner(p, SP), r);
  c = mul_add(p * p, horner(p, CP), nmul_add(splat<VF>(0.5f), p, splat<VF>(1.0f)));
}
template <const auto& SP, const auto& CP>
struct STanFloat {
  static VF eval(VF x) {
    VF t, s, c;
    sincos_r<SP, CP>(reduce_half_pi(abs(x), t), s, c);
    const MF o = (as_int(t) & splat<VI>(1)) == splat<VI>(1);
    const VF q = select(o, s, c) / select(o, c, s);
    return q ^ ((sign_mask<VF>() & as_float(shl<31>(as_int(t)))) ^ (x & sign_mask<VF>()));
  }
};
// SinCos from one reduction by pi/2 and the cosine polynomial CP (EP, and LA where multiply-adds
// fuse): quadrants 1 and 3 exchange sine and cosine, 2 and 3 flip the sine's sign, 1 and 2 the
// cosine's.
template <const auto& CP>
inline void sincos_half(VF x, VF& s, VF& c) {
  VF t, sr, cr;
  sincos_r<td::kSSinQ, CP>(reduce_half_pi(abs(x), t), sr, cr);
  const VI q = as_int(t);
  const MF odd = (q & splat<VI>(1)) == splat<VI>(1);
  s = select(odd, sr, cr) ^ (as_float(shl<30>(q & splat<VI>(2))) ^ (x & sign_mask<VF>()));
  c = select(odd, cr, sr) ^ as_float(shl<30>((q + splat<VI>(1)) & splat<VI>(2)));
}
// Where multiply-adds fuse, LA and EP take tan r = r P(r^2)/Q(r^2) from the continued fraction
// x/(1 - x^2/(3 - x^2/(5 - ...))), whose convergents carry integral coefficients (exact floats):
// LA r (945 - 105 z + z^2)/(945 - 420 z + 15 z^2), within 2^-26.1 of tan r for |r| <= pi/4, EP
// r (105 - 10 z)/(105 - 45 z + z^2), within 2^-18.8; -Q/(r P) in odd quadrants. Six or five
// operations before the division where the sine and cosine polynomials take ten.
template <bool kEp>
struct STanRational {
  static VF eval(VF x) {
    VF t;
    const VF r = reduce_half_pi(abs(x), t);
    const VF z = r * r;
    VF p, q;
    if constexpr (kEp) {
      p = r * mul_add(z, splat<VF>(-10.0f), splat<VF>(105.0f));
      q = mul_add(z - splat<VF>(45.0f), z, splat<VF>(105.0f));
    } else {
      p = r * mul_add(z - splat<VF>(105.0f), z, splat<VF>(945.0f));
      q = mul_add(mul_add(z, splat<VF>(15.0f), splat<VF>(-420.0f)), z, splat<VF>(945.0f));
    }
    const MF o = (as_int(t) & splat<VI>(1)) == splat<VI>(1);
    const VF v = select(o, p, q) / select(o, q, p);
    return v ^ ((sign_mask<VF>() & as_float(shl<31>(as_int(t)))) ^ (x & sign_mask<VF>()));
  }
};
using STanLA = std::conditional_t<kFusedMulAdd, STanRational<false>, STanFloat<td::kSSinQ, td::kSCosQ8>>;
using STanEP = std::conditional_t<kFusedMulAdd, STanRational<true>, STanFloat<td::kSSinQ, td::kSCosQ>>;

// Elements per block: several vectors in flight hide the long dependency chains of the reductions.
constexpr int kSBlock = 32;

inline unsigned beyond_fast(VF x) {
  return outside<VF>(abs(x) <= splat<VF>(kSFast));
}

// Sin, Cos and Tan: M in the fast range, the double HA method H beyond it (kOdd: with x's sign).
template <Fn kFn, class M, class H, bool kOdd>
struct STrigK {
  static constexpr int kUnroll = trig_unroll<float>(kSBlock);
  static VF vec(VF x) { return M::eval(x); }
  static unsigned special(VF x) { return beyond_fast(x); }
  static void scalar(int i, const float* a, float* r) {
    const float x = a[i];
    const uint32_t ax = to_bits(x) & Bits<float>::kMagnitude;
    if (ax >= 0x7F800000u) {
      const int status = nonfinite(x, r[i]);
      if (status != 0) report(status, i, a, a, r, r, vm::traits(kFn).name);
    } else if (from_bits<float>(ax) <= kSFast) {
      r[i] = on_lane<STrigK>(x);
    } else {
      const double y = large_eval<H>(x);
      r[i] = static_cast<float>(kOdd ? (x < 0 ? -y : y) : y);
    }
  }
};

// SinCos; the LA kernel redoes a block holding any argument beyond 10000, an infinity or a NaN
// element by element.
template <Fn kFn, int kSlot>
struct SSinCosK {
  static constexpr Check kCheck = kSlot == kLA ? Check::kRedoBlock : Check::kFixLanes;
  static constexpr int kUnroll = trig_unroll<float>(kSBlock);
  static void vec(VF x, VF& s, VF& c) {
    if constexpr (kSlot == kHA && kFusedMulAdd) {
      sincos_two<true, true>(x, s, c);
    } else if constexpr (kSlot == kHA) {
      VD sl, cl, sh, ch;
      sincos_wide<true, true>(widen_lo(x), sl, cl);
      sincos_wide<true, true>(widen_hi(x), sh, ch);
      s = narrow(sl, sh);
      c = narrow(cl, ch);
    } else if constexpr (kSlot == kLA && kFusedMulAdd) {
      sincos_half<td::kSCosQ8>(x, s, c);
    } else if constexpr (kSlot == kLA) {
      sincos_f<td::kSSinLA, true, true>(x, s, c);
    } else {
      sincos_half<td::kSCosQ>(x, s, c);
    }
  }
  static unsigned special(VF x) { return beyond_fast(x); }
  static void scalar(int i, const float* a, float* r1, float* r2) {
    const float x = a[i];
    const uint32_t ax = to_bits(x) & Bits<float>::kMagnitude;
    if (ax >= 0x7F800000u) {
      const int status = nonfinite(x, r1[i]);
      r2[i] = r1[i];
      if (status != 0) report(status, i, a, a, r1, r2, vm::traits(kFn).name);
    } else if (from_bits<float>(ax) <= kSFast) {
      VF s, c;
      vec(splat<VF>(x), s, c);
      r1[i] = lane0(s);
      r2[i] = lane0(c);
    } else {
      double s, c;
      large_sincos(x, s, c);
      r1[i] = static_cast<float>(x < 0 ? -s : s);
      r2[i] = static_cast<float>(c);
    }
  }
};

template <Fn f, int s>
using SSinOf = STrigK<f, BySlot<s, SSinLA, SSinHA, SSinEP>, DSinHA, true>;
template <Fn f, int s>
using SCosOf = STrigK<f, BySlot<s, SCosLA, SCosHA, SCosEP>, DCosHA, false>;
template <Fn f, int s>
using STanOf = STrigK<f, BySlot<s, STanLA, STanHA, STanEP>, DTanHA, true>;
template <Fn f, int s>
using SSinCosOf = SSinCosK<f, s>;

}  // namespace

void register_trig_float(vm::KernelSlots& s) {
  using enum Fn;
  reg<sSin, SSinOf>(s);
  reg<sCos, SCosOf>(s);
  reg<sSinCos, SSinCosOf>(s);
  reg<sTan, STanOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
