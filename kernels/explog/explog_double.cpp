// Double exponential and logarithm kernels (Exp, Expm1, Ln, Log10, Log1p), compiled once per
// instruction set. Tables, constants and coefficients come from tools/gen_explog_tables.py.
//
// Contract (measured maxima against MPFR in tests/vm/explog_accuracy_test.cpp):
//   HA within 1 ulp, LA within 4 ulp, EP at least 12 (float) or 26 (double) correct bits, over
//   the whole argument range, denormal arguments and results included.
// Special values, the same in every flavour:
//   Exp: NaN -> NaN, +inf -> +inf, -inf -> +0. Overflow (float x >= 88.72283935546875, double
//     x >= 709.7827128933841): +inf, code 3. Underflow (float x < -87.3365478515625, double
//     x < -708.3964185322642): the denormal result, or +0 at and below the zero threshold (float
//     -103.97208404541016, double -745.1332191019412), code 4.
//   Expm1: NaN -> NaN, +inf -> +inf, -inf and negative x beyond the fast range -> -1; overflow as
//     Exp, code 3; underflow is never reported.
//   Ln, Log10: NaN -> NaN, +inf -> +inf; x < 0 (-inf included) -> NaN, code 1; +-0 -> -inf, code 2.
//   Log1p: NaN -> NaN, +inf -> +inf, +-0 -> +-0; x < -1 -> NaN, code 1; x = -1 -> -inf, code 2.
// Denormal arguments are exact inputs unless the mode word asks for denormals-are-zero.
#include <cstddef>

#include "kernels/explog/explog_common.h"
#include "kernels/explog/explog_reg.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::Fn;
using vm::kEP;
using vm::kHA;
using vm::kLA;
namespace tb = zok::explog_data;

// ============================================================================================
// Double Exp and Expm1
// ============================================================================================

// Element of the row of j = N & 63 in the pair table, from the bits of the reduced integer.
inline uint64_t exp_row64(uint64_t m) {
  return 2 * (m & 63);
}

// 2^(j/64) for j = m & 63: on AVX-512 from the 64 values held in registers.
inline VD dexp64_at(VL m) {
#if ZOK_ISA_LEVEL == 3
  return lookup_reg<64>(tb::kDExp64, m);
#else
  return lookup_one(tb::kDExp64, m & lsplat(63));
#endif
}

// LA: one table value T = 2^(j/64): 2^(N>>6) (T + T p).
inline VD dexp_la(VD x) {
  const DExpReduced v = dexp_reduce<6>(x, x);
  const VD t = dexp64_at(v.m);
  const VD p = mul_add(v.r * v.r, horner(v.r, tb::kDExpLA), v.r);
  return dexp_scale<6>(v.m) * mul_add(t, p, t);
}
#if ZOK_ISA_LEVEL == 3
// LA on AVX-512: 16 rows held in two registers and read by one permute (the 64-row read takes
// four permutes and three blends), |r| up to ln2/32 and a polynomial one degree longer.
inline VD dexp_la16(VD x) {
  const DExpReduced v = dexp_reduce<4>(x, x);
  const VD t = lookup_reg<16>(tb::kDExp16[0], v.m);
  const VD p = mul_add(v.r * v.r, horner(v.r, tb::kDExpLA16), v.r);
  return dexp_scale<4>(v.m) * mul_add(t, p, t);
}
// HA on AVX-512 from 32 rows of T_hi + T_lo held in registers: two permutes and a blend per part
// in place of the 64-row pair's four permutes and three blends, for one more term of the
// polynomial. (16 rows, one permute per part and two more terms, ran some 20% faster again, but
// |r| up to ln2/32 put the roundings of r, of r + r^2 Q(r) and of the fused product near 2^-59.5 of
// the result each, and the sampled worst case from 0.503 to 0.533 ulp; 32 rows keep it at 0.503.)
inline VD dexp_ha32(VD x) {
  const DExpReduced v = dexp_reduce<5>(x, x);
  const VD thi = lookup_reg<32>(tb::kDExp32[0], v.m), tlo = lookup_reg<32>(tb::kDExp32[1], v.m);
  const VD p = mul_add(v.r * v.r, horner(v.r, tb::kDExpHA32), v.r);
  return dexp_scale<5>(v.m) * (thi + mul_add(thi + tlo, p, tlo));
}
#endif
// EP without a table (the table read cost more than the longer polynomial): x = N ln2 + r with
// ln2 in one part (its rounding times |N| <= 1022 moves r by some 2^-44, a relative error of the
// result), |r| <= ln2/2, e^r = 1 + r + r^2 Q(r), and N added to the exponent field, which stays
// normal over the fast range (at N = -1022, r > 0).
inline VD dexp_ep(VD x) {
  const VD shift = splat<VD>(kDShift);
  const VD t = mul_add(x, splat<VD>(tb::kDInvL64 / 64), shift);
  const VL n = as_int(t) - lsplat(kDShiftBits);
  const VD r = nmul_add(t - shift, splat<VD>(tb::kLn2), x);
  const VD e = mul_add(r * r, horner(r, tb::kDExpEP0), r) + splat<VD>(1.0);
  return as_double(as_int(e) + shl<52>(n));
}

template <Fn kFn, int kBlock, VD (*kVec)(VD)>
struct DExpK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<double>(kBlock);
  static VD vec(VD x) { return kVec(x); }
  static unsigned special(VD x) { return outside<VD>(abs(x) < splat<VD>(tb::kDFast)); }
  static void scalar(int i, const double* a, double* r) {
    const double x = a[i];
    const char* name = vm::traits(kFn).name;
    if (x != x) {
      r[i] = x + x;
    } else if (x == kInfD || x == -kInfD) {
      r[i] = x > 0 ? x : 0.0;
    } else if (x < tb::kDFast && x > -tb::kDFast) {
      r[i] = on_lane<DExpK>(x);
    } else if (x >= tb::kDOverflow) {
      r[i] = kInfD;
      report(ZOK_VM_STATUS_OVERFLOW, i, a, a, r, r, name);
    } else if (x <= tb::kDZero) {
      r[i] = 0.0;
      report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, name);
    } else {
      r[i] = dexp_outside(x);
      if (x < tb::kDUnderflow) report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, name);
    }
  }
};

// Expm1 HA and LA: e^x - 1 = (s - 1) + s' with s = 2^(N>>6) T_hi; s - 1 is formed as an exact
// sum and its rounding error carried.
//
// Below ln2/64 in magnitude N is 0 (r = x, a longer polynomial): rounding to the nearest N there
// would make s - 1 and the rest cancel, which costs most of an ulp.
inline VD dexpm1_ha(VD x) {
  const DExpReduced v = dexp_reduce<6>(x, drop(abs(x) < splat<VD>(tb::kDL64), x));
  VD thi, tlo;
#if ZOK_ISA_LEVEL == 3
  dexp_pair(v.m, thi, tlo);
#else
  lookup_pairs_by(&tb::kDExpHiLo[0][0], as_double(v.m), exp_row64, thi, tlo);
#endif
  const VD scale = dexp_scale<6>(v.m);
  const VD p = mul_add(v.r * v.r, horner(v.r, tb::kDExpm1HA), v.r);
  VD hi, err;
  two_sum(scale * thi, splat<VD>(-1.0), hi, err);
  const VD lo = scale * mul_add(thi + tlo, p, tlo);
  return hi + (err + lo);
}
// Expm1 LA: N = round(x 64/ln2) everywhere and S - 1 rounded once, with S = 2^(N>>6) T_hi:
// (S - 1) + 2^(N>>6) (T_lo + T p). Within ln 2 of 0, S lies in [1/2, 2] and S - 1 is exact, and
// where N is +-1 and the two terms cancel to half of S - 1, the second is rounded at the size of
// the result: about an ulp from each rounding, against HA's exact sum and separate N = 0 range.
inline VD dexpm1_la(VD x) {
  const DExpReduced v = dexp_reduce<6>(x, x);
  VD thi, tlo;
  dexp_pair(v.m, thi, tlo);
  const VD scale = dexp_scale<6>(v.m);
  // Relative to r, not to 1 as in Exp LA: one degree more.
  const VD p = mul_add(v.r * v.r, horner(v.r, tb::kDExpm1LA), v.r);
  return mul_add(scale, mul_add(thi + tlo, p, tlo), mul_sub(scale, thi, splat<VD>(1.0)));
}
#if ZOK_ISA_LEVEL == 3
// Expm1 LA on AVX-512: the same sum on the 16-row register table, T_hi the double nearest
// 2^(j/16) and T_lo the rest.
inline VD dexpm1_la16(VD x) {
  const DExpReduced v = dexp_reduce<4>(x, x);
  const VD thi = lookup_reg<16>(tb::kDExp16[0], v.m), tlo = lookup_reg<16>(tb::kDExp16[1], v.m);
  const VD scale = dexp_scale<4>(v.m);
  const VD p = mul_add(v.r * v.r, horner(v.r, tb::kDExpm1LA16), v.r);
  return mul_add(scale, mul_add(thi + tlo, p, tlo), mul_sub(scale, thi, splat<VD>(1.0)));
}
#endif
// Expm1 EP: (s - 1) + s p with s = 2^(N>>6) 2^(j/64) and a cubic p.
inline VD dexpm1_ep(VD x) {
  const DExpReduced v = dexp_reduce<6>(x, x);
  const VD s = dexp_scale<6>(v.m) * dexp64_at(v.m);
  const VD p = mul_add(v.r * v.r, horner(v.r, tb::kExpm1Q1), v.r);
  return mul_add(s, p, s - splat<VD>(1.0));
}

template <Fn kFn, VD (*kVec)(VD)>
struct DExpm1K {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<double>(4);
  static VD vec(VD x) { return kVec(x); }
  static unsigned special(VD x) { return outside<VD>(abs(x) < splat<VD>(tb::kDFast)); }
  static void scalar(int i, const double* a, double* r) {
    const double x = a[i];
    if (x != x) {
      r[i] = x + x;
    } else if (x < tb::kDFast && x > -tb::kDFast) {
      r[i] = on_lane<DExpm1K>(x);
    } else if (x < 0) {
      r[i] = -1.0;  // -inf included; e^x is far below half an ulp of 1
    } else if (x >= tb::kDOverflow) {
      r[i] = kInfD;
      if (x != kInfD) report(ZOK_VM_STATUS_OVERFLOW, i, a, a, r, r, vm::traits(kFn).name);
    } else {
      r[i] = dexp_outside(x);  // e^x - 1 = e^x at this size
    }
  }
};

// dLog10 HA: ln x as s + lo, s = hi + r and r = rh + rl both as exact sums (rh and rl nearly
// cancel just below powers of two), then s split in halves so that s_hi / ln10_hi is exact.
inline VD dlog10_ha(VD x, VD kadj) {
  const DLogReduced v = dlog_reduce<9>(x, kadj);
  const VD hi = mul_add(v.k, splat<VD>(tb::kLn2Hi), v.lnhi);
  VD r, rerr, s, e;
  two_sum(v.rh, v.rl, r, rerr);
  two_sum(hi, r, s, e);
  const VD lo =
      (e + rerr) + (mul_add(v.k, splat<VD>(tb::kLn2Lo), v.lnlo) + v.r * v.r * horner(v.r, tb::kDLnP));
  const VD sh = split_hi(s), sl = s - sh;
  const VD c = splat<VD>(tb::kInvLn10Hi);
  return sh * c + (sl * c + (s * splat<VD>(tb::kInvLn10Lo) + lo * splat<VD>(tb::kInvLn10)));
}
// dLog1p HA: u = 1 + x with its rounding error c exactly, ln(1+x) = ln(u + c).
inline VD dlog1p_ha(VD x, VD kadj) {
  const VD one = splat<VD>(1.0);
  const VD u = x + one;
  return dln_sum_ha(u, (max(x, one) - u) + min(x, one), kadj);
}

// ============================================================================================
// Double logarithms without a table (LA of Log1p, EP of Ln, Log10 and Log1p): x = 2^k m with m in
// [sqrt(1/2), sqrt(2)), f = m - 1, s = f / (2 + f), ln m = 2 atanh s = 2s (1 + z Q(z)), z = s^2 at
// most 0.0295. One division replaces the table reads; s carries the rounding of 2 + f and of the
// quotient, about one ulp, which LA affords and which the constant term of 2s passes on unscaled.
// ============================================================================================

// The exponent k + 1024 of x counted from sqrt(1/2), as an integer, and k + kadj as a double.
inline VL dlog_kbits(VL xb) {
  return shr<52>(xb + lbits(0x4000000000000000 - tb::kSqrtHalfBits));
}
inline VD dlog_k(VL kbits, VD kadj) {
  return (as_double(kbits) | splat<VD>(0x1p52)) - (splat<VD>(0x1p52 + 1024.0) - kadj);
}
// f = m - 1 for a positive normal x (exact: m lies within a factor 2 of 1).
inline VD dlog_f(VL xb) {
  const VL t = xb - lbits(tb::kSqrtHalfBits);
  return as_double((t & lbits(0x000FFFFFFFFFFFFF)) + lbits(tb::kSqrtHalfBits)) - splat<VD>(1.0);
}
// f = (1 + x) 2^-k - 1 with k from u = 1 + x (k <= 1022): x 2^-k and 2^-k - 1 are exact, so the one
// rounding of the fused sum is all; the rounding of u itself is gone.
inline VD dlog1p_f(VD x, VL kbits) {
  const VD sc = as_double(shl<52>(lbits(2047) - kbits));  // 2^-k
  return mul_add(x, sc, sc - splat<VD>(1.0));
}

// ln and log10 EP from k and f.
inline VD dln_from_f_ep(VD k, VD f) {
  const VD s = f / (f + splat<VD>(2.0));
  const VD s2 = s + s, z = s * s;
  return mul_add(k, splat<VD>(tb::kLn2), mul_add(s2 * z, horner(z, tb::kDLogAtEP), s2));
}
inline VD dlog10_from_f_ep(VD k, VD f) {
  const VD s = f / (f + splat<VD>(2.0));
  const VD sc = s * splat<VD>(tb::kTwoInvLn10), z = s * s;
  return mul_add(k, splat<VD>(tb::kLog10Of2), mul_add(sc * z, horner(z, tb::kDLogAtEP), sc));
}
// Q(z) of degree 6 in Estrin's order: the chain after the division is the longest part of the
// kernel, and the terms past the first are below 2^-5 of it, so the order costs no accuracy.
inline VD dlog_q_la(VD z) {
  return estrin(z, tb::kDLogAtLA);
}
// LA: k ln2 in two parts (the high product exact).
inline VD dln_from_f_la(VD k, VD f) {
  const VD s = f / (f + splat<VD>(2.0));
  const VD s2 = s + s, z = s * s;
  const VD lo = mul_add(k, splat<VD>(tb::kLn2Lo), s2 * z * dlog_q_la(z));
  return mul_add(k, splat<VD>(tb::kLn2Hi), s2 + lo);
}
// LA of Ln and Log10 without AVX-512: m in [sqrt(1/2), sqrt(2)) as above, its row i from the
// exponent's low bit and the top five fraction bits rounded, r = m rcp_i - 1 (one rounding, |r| at
// most 1/64) and ln m = -ln(rcp_i) + r + r^2 P(r) in one part (rcp_i is chosen so that -ln(rcp_i) is
// a double to 2^-10 ulp); the table is read with two plain loads per lane instead of the
// four-column rows and exact sums of HA.
struct DLnOne {
  VD k, lnr, r;  // ln x = k ln2 + lnr + ln(1 + r)
};
inline DLnOne dln_one_la(VD x, VD kadj) {
  const VL xb = as_int(x);
  const VD k = dlog_k(dlog_kbits(xb), kadj);
  const VL mb = ((xb - lbits(tb::kSqrtHalfBits)) & lbits(0x000FFFFFFFFFFFFF)) + lbits(tb::kSqrtHalfBits);
  VD rcp, lnr;
  lookup_pairs(&tb::kDLn64[0][0], shr<47>(mb + lbits(uint64_t{1} << 46)) & lsplat(63), rcp, lnr);
  const VD m = as_double(mb);
  VD r;
  if constexpr (kFusedMulAdd) {
    r = mul_sub(m, rcp, splat<VD>(1.0));
  } else {
    // rcp has 24 significant bits: the high 21 bits of m times rcp, less 1, are exact.
    const VD mh = m & dbits(0xFFFFFFFF00000000);
    r = (mh * rcp - splat<VD>(1.0)) + (m - mh) * rcp;
  }
  return {k, lnr, r};
}
inline VD dln_la(VD x, VD kadj) {
  const DLnOne l = dln_one_la(x, kadj);
  // Estrin's order: the table read already sits on the chain, and the terms past r^2 are small.
  return mul_add(l.k, splat<VD>(tb::kLn2), l.lnr + mul_add(l.r * l.r, estrin(l.r, tb::kDLnR32LA), l.r));
}
// Log10 LA from k, -ln(rcp) and r (either reduction): log10(1 + r) = r (log10(e) + r Q(r)), Q
// carrying 1/ln10, so that only -ln(rcp) is scaled, apart from the polynomial's chain (one product
// fewer than scaling ln(1 + r)). Q in Estrin's order where the table read sits on the chain (measured
// 3% faster on AVX2; Horner's order is faster after the AVX-512 register read).
inline VD dlog10_from_one_la(VD k, VD lnr, VD r) {
#if ZOK_ISA_LEVEL == 3
  const VD q = horner(r, tb::kDLog10R32LA);
#else
  const VD q = estrin(r, tb::kDLog10R32LA);
#endif
  const VD l10 = mul_add(r, mul_add(r, q, splat<VD>(tb::kInvLn10)), lnr * splat<VD>(tb::kInvLn10));
  return mul_add(k, splat<VD>(tb::kLog10Of2), l10);
}
inline VD dlog10_la(VD x, VD kadj) {
  const DLnOne l = dln_one_la(x, kadj);
  return dlog10_from_one_la(l.k, l.lnr, l.r);
}

inline VD dln_ep(VD x, VD kadj) {
  const VL xb = as_int(x);
  return dln_from_f_ep(dlog_k(dlog_kbits(xb), kadj), dlog_f(xb));
}
inline VD dlog10_ep(VD x, VD kadj) {
  const VL xb = as_int(x);
  return dlog10_from_f_ep(dlog_k(dlog_kbits(xb), kadj), dlog_f(xb));
}
template <int kSlot>
inline VD dlog1p_s(VD x, VD kadj) {
  const VL kb = dlog_kbits(as_int(x + splat<VD>(1.0)));
  const VD k = dlog_k(kb, kadj), f = dlog1p_f(x, kb);
  return kSlot == kLA ? dln_from_f_la(k, f) : dln_from_f_ep(k, f);
}

#if ZOK_ISA_LEVEL == 3
// ============================================================================================
// Double logarithms on AVX-512 from the register table (see dlog_reg_reduce)
// ============================================================================================

// s split in halves so that s_hi / ln10_hi is exact, as in dlog10_ha.
inline VD dlog10_reg_ha(VD x, VD kadj) {
  const DLnParts l = dln_reg_parts(dlog_reg_reduce(x, kadj));
  const VD sh = split_hi(l.s), sl = l.s - sh;
  const VD c = splat<VD>(tb::kInvLn10Hi);
  return sh * c + (sl * c + (l.s * splat<VD>(tb::kInvLn10Lo) + l.lo * splat<VD>(tb::kInvLn10)));
}
// ln(u + c), u = 1 + x rounded and c its error: c/u = c 2^-e rcp / (1 + r), taken as
// c 2^-e rcp (1 - r), joins the low part.
inline VD dlog1p_reg_ha(VD x, VD kadj) {
  const VD one = splat<VD>(1.0);
  const VD u = x + one;
  const VD c = (max(x, one) - u) + min(x, one);
  const DLogRegReduced v = dlog_reg_reduce(u, kadj);
  const VD cr = c * v.rcp;
  const VD cu{_mm512_scalef_pd(nmul_add(cr, v.r, cr).v, (kadj - v.k).v)};
  const DLnParts l = dln_reg_parts(v);
  return l.s + (l.lo + cu);
}
// LA and EP: one-part -ln(rcp), (lnrcp + r + r^2 P(r)) + k ln2 rounded three times. Log10 EP scales
// the first sum by 1/ln10 (Log10 LA: dlog10_from_one_la on the same reduction).
template <const auto& kP>
inline VD dln_reg_one(const DLogRegReduced& v) {
  return lookup_reg<32>(tb::kDLogR32[2], v.row) + mul_add(v.r * v.r, horner(v.r, kP), v.r);
}
template <const auto& kP>
inline VD dln_reg(VD x, VD kadj) {
  const DLogRegReduced v = dlog_reg_reduce(x, kadj);
  return mul_add(v.k, splat<VD>(tb::kLn2), dln_reg_one<kP>(v));
}
inline VD dlog10_reg_la(VD x, VD kadj) {
  const DLogRegReduced v = dlog_reg_reduce(x, kadj);
  return dlog10_from_one_la(v.k, lookup_reg<32>(tb::kDLogR32[2], v.row), v.r);
}
template <const auto& kP>
inline VD dlog10_reg(VD x, VD kadj) {
  const DLogRegReduced v = dlog_reg_reduce(x, kadj);
  return mul_add(v.k, splat<VD>(tb::kLog10Of2), dln_reg_one<kP>(v) * splat<VD>(tb::kInvLn10));
}
#endif

// Fast range of Ln and Log10: positive normal finite. Log1p: -1 < x < 2^1022 and x non-zero (so
// -0 keeps its sign through the special path, and 2^-k of the table-free kernels stays normal).
template <Fn kFn, int kBlock, VD (*kVec)(VD, VD), bool kLog1p>
struct DLogK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<double>(kBlock);
  static constexpr bool kTailScratch = true;
  static VD vec(VD x) { return kVec(x, splat<VD>(0.0)); }
  static unsigned special(VD x) {
    if constexpr (kLog1p) {
      return outside<VD>((x > splat<VD>(-1.0)) & (x < splat<VD>(0x1p1022)) & (x != splat<VD>(0.0)));
    } else {
      return outside<VD>((x >= splat<VD>(0x1p-1022)) & (x < splat<VD>(kInfD)));
    }
  }
  static void scalar(int i, const double* a, double* r) {
    const double x = a[i];
    const char* name = vm::traits(kFn).name;
    const double edge = kLog1p ? -1.0 : 0.0;
    if (x != x) {
      r[i] = x + x;
    } else if (x == kInfD) {
      r[i] = x;
    } else if (kLog1p && x == 0.0) {
      r[i] = x;
    } else if (x == edge) {
      r[i] = -kInfD;
      report(ZOK_VM_STATUS_SING, i, a, a, r, r, name);
    } else if (x < edge) {
      const volatile double z = 0.0;
      r[i] = z / z;
      report(ZOK_VM_STATUS_DOMAIN, i, a, a, r, r, name);
    } else if (!kLog1p && x < 0x1p-1022) {
      // Denormal: scaled into the normal range, the exponent corrected by -60.
      r[i] = lane0(kVec(splat<VD>(x * 0x1p60), splat<VD>(-60.0)));
    } else if (kLog1p && x >= 0x1p1022) {
      // ln(1 + x) = ln(4 + x) - 4/x + ... = ln(1 + x/4) + 2 ln 2 to far below an ulp.
      r[i] = lane0(kVec(splat<VD>(x * 0.25), splat<VD>(2.0)));
    } else {
      r[i] = on_lane<DLogK>(x);
    }
  }
};

// ---- the policy of each function and slot ----

// A kernel's vector function as a type, so that BySlot can choose among them.
template <auto F>
struct Vf {
  static constexpr auto value = F;
};
template <int s, auto La, auto Ha, auto Ep>
constexpr auto by_slot = BySlot<s, Vf<La>, Vf<Ha>, Vf<Ep>>::value;

#if ZOK_ISA_LEVEL == 3
template <Fn f, int s>
using DExpOf = DExpK<f, s == kEP ? 4 : 8, by_slot<s, dexp_la16, dexp_ha32, dexp_ep>>;
template <Fn f, int s>
using DExpm1Of = DExpm1K<f, by_slot<s, dexpm1_la16, dexpm1_ha, dexpm1_ep>>;
#else
template <Fn f, int s>
using DExpOf = DExpK<f, s == kEP ? 4 : 8, by_slot<s, dexp_la, dexp_ha, dexp_ep>>;
template <Fn f, int s>
using DExpm1Of = DExpm1K<f, by_slot<s, dexpm1_la, dexpm1_ha, dexpm1_ep>>;
#endif
#if ZOK_ISA_LEVEL == 3
template <Fn f, int s>
using DLnOf = DLogK<f, 16, by_slot<s, dln_reg<tb::kDLnR32LA>, dln_reg_ha, dln_reg<tb::kDLnR32EP>>, false>;
template <Fn f, int s>
using DLog10Of = DLogK<f, 16, by_slot<s, dlog10_reg_la, dlog10_reg_ha, dlog10_reg<tb::kDLnR32EP>>, false>;
template <Fn f, int s>
using DLog1pOf = DLogK<f, 4, by_slot<s, dlog1p_s<kLA>, dlog1p_reg_ha, dlog1p_s<kEP>>, true>;
#else
// LA in blocks of 16: four independent table reads in flight (measured faster than one).
template <Fn f, int s>
using DLnOf = DLogK<f, s == kLA ? 16 : 4, by_slot<s, dln_la, dln_ha, dln_ep>, false>;
template <Fn f, int s>
using DLog10Of = DLogK<f, s == kLA ? 16 : 4, by_slot<s, dlog10_la, dlog10_ha, dlog10_ep>, false>;
template <Fn f, int s>
using DLog1pOf = DLogK<f, 4, by_slot<s, dlog1p_s<kLA>, dlog1p_ha, dlog1p_s<kEP>>, true>;
#endif

}  // namespace

void register_explog_double(vm::KernelSlots& s) {
  using enum Fn;
  reg<dExp, DExpOf>(s);
  reg<dExpm1, DExpm1Of>(s);
  reg<dLn, DLnOf>(s);
  reg<dLog10, DLog10Of>(s);
  reg<dLog1p, DLog1pOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
