// Pieces shared by the float and double exponential and logarithm kernels: small vector
// helpers, the double Exp reduction (float Expm1 runs on it) and ln 2 in two parts.
#pragma once

#include <cstdint>

#include "frame/kernel_frame.h"
#include "frame/simd/exact.h"
#include "frame/simd/poly.h"
#include "kernels/explog/explog_poly.h"
#include "kernels/explog/explog_tables.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::Fn;
namespace tb = zok::explog_data;

constexpr float kInfF = __builtin_inff();
constexpr double kInfD = __builtin_inf();

// Block length in vectors for a block of `elements` (at least one vector).
template <typename T>
constexpr int unroll_for(int elements) {
  return elements / Vec<T>::kLanes > 0 ? elements / Vec<T>::kLanes : 1;
}

// The loop of float kernels that take groups of four: an unaligned head first (the elements before
// the first 16-byte boundary), blocks of kBlock elements, the rest in groups of four padded with
// 0.75, only special lanes through the scalar path.
template <int kBlock>
struct FloatGroupLoop {
  static constexpr int kUnroll = unroll_for<float>(kBlock);
  static constexpr int kTailGroup = 4;
  static constexpr bool kAlignHead = true;
  static constexpr float kPad = 0.75f;
};

inline VL lsplat(int64_t v) {
  return splat<VL>(v);
}
inline VI isplat(int32_t v) {
  return splat<VI>(v);
}

// 2^k for an integer k within the double normal range, exactly.
inline double pow2(int k) {
  return from_bits<double>(static_cast<uint64_t>(k + 1023) << 52);
}

// ============================================================================================
// The double Exp reduction and the scalar e^x beyond the fast range
// ============================================================================================

constexpr double kDShift = 6755399441055744.0;  // 1.5 * 2^52
constexpr int64_t kDShiftBits = 0x4338000000000000;

// x (64/ln2) = N + r (64/ln2). The shifter carries 1023*64 more, so the integer in the low bits is
// M = N + 1023*64 >= 0 over the fast range: M & 63 is j, and (M & ~63) << 46 the exponent field
// of 2^(N>>6) without a signed shift.
struct DExpReduced {
  VL m;
  VD r;
};
// xn is the argument N is taken from (x itself, unless the caller wants N = 0 somewhere).
template <int kTableBits>
inline DExpReduced dexp_reduce(VD x, VD xn) {
  constexpr double kSize = 1 << kTableBits;
  const VD shift = splat<VD>(kDShift + 1023.0 * kSize);
  constexpr double kInv = kTableBits == 4   ? tb::kDInvL64 / 4
                          : kTableBits == 5 ? tb::kDInvL64 / 2
                          : kTableBits == 6 ? tb::kDInvL64
                                            : tb::kDInvL128;
  const VD t = mul_add(xn, splat<VD>(kInv), shift);
  const VL m = as_int(t) - lsplat(kDShiftBits);
  const VD d = t - shift;
  VD r;
  if constexpr (kTableBits == 4) {
    // ln2/16 as 4 times the parts of ln2/64: |d| < 2^15 and d * kDL64a * 4 stays exact.
    r = nmul_add(d, splat<VD>(tb::kDL64b * 4), nmul_add(d, splat<VD>(tb::kDL64a * 4), x));
  } else if constexpr (kTableBits == 5) {
    // ln2/32 as twice the parts of ln2/64: |d| < 2^16 and d * kDL64a * 2 stays exact.
    r = nmul_add(d, splat<VD>(tb::kDL64b * 2), nmul_add(d, splat<VD>(tb::kDL64a * 2), x));
  } else if constexpr (kTableBits == 6) {
    r = nmul_add(d, splat<VD>(tb::kDL64b), nmul_add(d, splat<VD>(tb::kDL64a), x));
  } else {
    r = nmul_add(d, splat<VD>(tb::kDL128), x);
  }
  return {m, r};
}
template <int kTableBits>
inline VD dexp_scale(VL m) {
  return as_double(shl<52 - kTableBits>(m & lsplat(~int64_t{(1 << kTableBits) - 1})));
}

// e^x by the HA formula for x beyond the fast range but inside the thresholds: the power of two
// is applied in two steps so that neither overflows and a subnormal result is rounded once.
inline double dexp_outside(double x) {
  const double t = x * tb::kDInvL64 + kDShift;
  const int64_t n = static_cast<int64_t>(to_bits(t)) - kDShiftBits;
  const double d = t - kDShift;
  const double r = (x - d * tb::kDL64a) - d * tb::kDL64b;
  const int j = static_cast<int>(n & 63), e = static_cast<int>(n >> 6);
  const double thi = tb::kDExpHiLo[j][0], tlo = tb::kDExpHiLo[j][1];
  const double q = r * r * horner(r, tb::kDExpC);
  const double mant = thi + (tlo + (thi + tlo) * (r + q));
  if (e > 1000) return mant * pow2(e - 1) * 2.0;
  if (e < -1000) return (mant * pow2(e + 200)) * 0x1p-200;
  return mant * pow2(e);
}

// ln u + kadj ln2 for positive normal doubles, to some 2^-37 relative: u = 2^k m with m in
// [2/3, 4/3), f = m - 1 exact, (k + kadj) ln2 + f + f^2 P(f); P by Estrin's scheme where kEstrin (a
// third of the chain, other roundings). kP may be a shorter P on the same range, for results that
// round to float.
template <bool kEstrin = false, const auto& kP = tb::kFLogHA>
inline VD dlog_normal(VD u, VD kadj) {
  const VL d = as_int(u) - lsplat(static_cast<int64_t>(tb::kDTwoThirdsBits));
  const VD m =
      as_double((d & lsplat(0x000FFFFFFFFFFFFF)) + lsplat(static_cast<int64_t>(tb::kDTwoThirdsBits)));
  // k + 1024 by a logical shift, then to double through the fraction field of 2^52; kadj joins the
  // constant 2^52 + 1024 (exactly: both are small integers).
  const VL kb = shr<52>(d + lsplat(0x4000000000000000)) | lsplat(0x4330000000000000);
  const VD k = as_double(kb) - (splat<VD>(4503599627371520.0) - kadj);
  const VD f = m - splat<VD>(1.0);
  const VD p = kEstrin ? estrin(f, kP) : horner(f, kP);
  return mul_add(k, splat<VD>(tb::kLn2), mul_add(f * f, p, f));
}
// ln u alone (the constant folds: 2^52 + 1024 - 0 is itself).
template <bool kEstrin = false, const auto& kP = tb::kFLogHA>
inline VD dlog_normal(VD u) {
  return dlog_normal<kEstrin, kP>(u, splat<VD>(0.0));
}

// Constants by their bits, read as doubles: a broadcast from memory costs no integer-to-vector move.
inline VD dbits(uint64_t b) {
  return splat<VD>(from_bits<double>(b));
}
inline VL lbits(uint64_t b) {
  return as_int(dbits(b));
}

// ============================================================================================
// Double logarithms: table reduction x = 2^k m, j = round(2^B (m - 1)), r = m recip_j - 1
// ============================================================================================

template <int kBits>
struct DLogTable;
template <>
struct DLogTable<9> {
  static const double* data() { return &tb::kDLog9[0][0]; }
};
template <>
struct DLogTable<7> {
  static const double* data() { return &tb::kDLog7[0][0]; }
};

struct DLogReduced {
  VD k;      // the exponent, counted so that m recip_j lies near 1
  VD lnhi;   // -ln recip_j (less ln2 past the middle), leading part
  VD lnlo;   // and its correction
  VD rh;     // mh recip - 1, exact
  VD rl;     // ml recip (rounded once)
  VD r;      // rh + rl
  VD recip;  // recip_j
};

// The exponent counts from 0.74951171875 (kBits 9; 0.7490234375 for 7) so that past the middle of
// each binade k is one larger and the table carries -ln 2; the index is the top kBits + 1
// fraction bits rounded to kBits.
template <int kBits>
inline DLogReduced dlog_reduce(VD x, VD kadj) {
  constexpr uint32_t kFracTop = 0xFFFFF & ~((1 << (20 - kBits - 1)) - 1);
  constexpr uint32_t kHalf = 1 << (20 - kBits - 1);
  constexpr uint32_t kJMask = ((1 << (kBits + 1)) - 1) << (20 - kBits);
  constexpr int64_t kMid = 0x3FE00000 + ((1 << kBits) - 1) * kHalf;
  constexpr int64_t kOff = 0x40000000 - kMid;
  const VL xb = as_int(x);
  const VD m = (x & dbits(0x000FFFFFFFFFFFFF)) | splat<VD>(1.0);
  // kadj joins the constant, which folds away when it is a constant 0.
  const VD kb = as_double(shr<52>(xb + lbits(kOff << 32))) | splat<VD>(0x1p52);
  const VD k = kb - (splat<VD>(0x1p52 + 1024.0) - kadj);
  VD recip, lnhi, lnlo;
#if ZOK_ISA_LEVEL == 3
  // 4 j from the high word in the vector lanes (moving eight indices through memory one by one
  // costs more than the three gathers); the mask leaves the two bits below j clear.
  const VL hw = shr<32>(xb);
  const VL at = shr<18 - kBits>(((hw & lsplat(kFracTop)) + lsplat(kHalf)) & lsplat(kJMask));
  lookup_quads_at(DLogTable<kBits>::data(), at, recip, lnhi, lnlo);
#else
  // 4 j from the high word, on the scalar side; the mask leaves the two bits below j clear.
  auto row_at = [](uint32_t hw) { return (((hw & kFracTop) + kHalf) & kJMask) >> (18 - kBits); };
  lookup_quads_by(DLogTable<kBits>::data(), x, row_at, recip, lnhi, lnlo);
#endif
  const VD mh = m & dbits(0xFFFFFFFF00000000);
  const VD ml = m - mh;
  const VD rh = mul_sub(mh, recip, splat<VD>(1.0));  // exact: mh has 21 bits and recip 24
  const VD rl = ml * recip;
  return {k, lnhi, lnlo, rh, rl, rh + rl, recip};
}

#if ZOK_ISA_LEVEL == 3
// Double logarithms on AVX-512 with no memory reads: x = 2^k m with m in [0.75, 1.5) (vgetmantpd),
// rcp the 14-bit reciprocal of m rounded to 5 fraction bits (j/32, j = 21 .. 43), r = m rcp - 1,
// exact (m rcp has at most 58 significant bits and |r| < 0.0237), and -ln(rcp) from 32 rows held
// in registers, read by the low five bits of j. Where m is within 1/64 of 1, rcp is 1 and r = m - 1.
struct DLogRegReduced {
  VD k;    // the exponent plus kadj
  VD r;    // m rcp - 1
  VD rcp;  // j/32
  VL row;  // j in the low five bits
};
inline DLogRegReduced dlog_reg_reduce(VD x, VD kadj) {
  const VD m{_mm512_getmant_pd(x.v, _MM_MANT_NORM_p75_1p5, _MM_MANT_SIGN_src)};
  // getexp(m) is -1 where m < 1; kadj joins it so that a constant 0 folds away.
  const VD k = VD{_mm512_getexp_pd(x.v)} - (VD{_mm512_getexp_pd(m.v)} - kadj);
  const VD rcp{
      _mm512_roundscale_pd(_mm512_rcp14_pd(m.v), (5 << 4) | _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)};
  const VD r = mul_sub(m, rcp, splat<VD>(1.0));
  // 2^47 + j/32 is exact and leaves j in the low bits.
  return {k, r, rcp, as_int(rcp + splat<VD>(0x1p47))};
}
#endif

// T_hi and T_lo of 2^(j/64) for j = m & 63: on AVX-512 from the 128 values held in registers.
inline void dexp_pair(VL m, VD& thi, VD& tlo) {
#if ZOK_ISA_LEVEL == 3
  thi = lookup_reg<64>(tb::kDExpHiLoCols[0], m);
  tlo = lookup_reg<64>(tb::kDExpHiLoCols[1], m);
#else
  lookup_pairs(&tb::kDExpHiLo[0][0], m & lsplat(63), thi, tlo);
#endif
}

// HA: 2^(N>>6) (T_hi + (T_lo + (T_hi + T_lo)(r + q))), q = r^2 (c2 + r (c3 + r (c4 + r c5))).
inline VD dexp_ha(VD x) {
  const DExpReduced v = dexp_reduce<6>(x, x);
  VD thi, tlo;
  dexp_pair(v.m, thi, tlo);
  const VD q = v.r * v.r * horner(v.r, tb::kDExpC);
  return dexp_scale<6>(v.m) * (thi + mul_add(thi + tlo, v.r + q, tlo));
}
// dLn HA (and LA): A = k ln2_hi + lnhi + rh, B = k ln2_lo + lnlo, rl joins A when B is exactly 0
// and B otherwise, result A + (B + r^2 P(r)).
inline VD dln_ha(VD x, VD kadj) {
  const DLogReduced v = dlog_reduce<9>(x, kadj);
  const VD a = mul_add(v.k, splat<VD>(tb::kLn2Hi), v.lnhi) + v.rh;
  const VD b = mul_add(v.k, splat<VD>(tb::kLn2Lo), v.lnlo);
  const MD bz = b == splat<VD>(0.0);
  // rl joins one side, +0 the other (which leaves it unchanged).
  const VD a2 = a + keep(bz, v.rl), b2 = b + drop(bz, v.rl);
  const VD p = v.r * v.r * horner(v.r, tb::kDLnP);
  return a2 + (b2 + p);
}

// ln(u + c) for a positive normal u and |c| at most about an ulp of u: ln u + c/u, c/u taken as
// c 2^-e recip (1 - r) (u = 2^e m, 1/m = recip / (1 + r)). As in dLog10 HA, r = rh + rl and
// hi + r are exact sums.
inline VD dln_sum_ha(VD u, VD c, VD kadj) {
  const VD one = splat<VD>(1.0);
  const DLogReduced v = dlog_reduce<7>(u, kadj);
  const VD inv2e = as_double(lsplat(0x7FE0000000000000) - (as_int(u) & lsplat(0x7FF0000000000000)));
  const VD cu = c * inv2e * v.recip * (one - v.r);
  const VD hi = mul_add(v.k, splat<VD>(tb::kLn2Hi), v.lnhi);
  VD r, rerr, s, e;
  two_sum(v.rh, v.rl, r, rerr);
  two_sum(hi, r, s, e);
  const VD p = v.r * v.r * horner(v.r, tb::kDLog7HA);
  return s + ((e + (rerr + cu)) + (mul_add(v.k, splat<VD>(tb::kLn2Lo), v.lnlo) + p));
}

}  // namespace
}  // namespace zok::ZOK_ISA_NS
