// Float exponential and logarithm kernels (Exp, Expm1, Ln, Log10, Log1p), compiled once per
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
#include <array>
#include <bit>
#include <cstddef>
#include <type_traits>

#include "kernels/explog/explog_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::Fn;
using vm::kEP;
using vm::kHA;
using vm::kLA;
namespace tb = zok::explog_data;

// The float formula K where a fused multiply-add makes its exact steps cheap; on SSE4.1, which has
// none, the double formula kHalf on the two halves of the vector instead.
template <VD (*kHalf)(VD)>
struct WideVec {
  static VF vec(VF x) { return narrow(kHalf(widen_lo(x)), kHalf(widen_hi(x))); }
};
template <class K, VD (*kHalf)(VD)>
using FloatOrWide = std::conditional_t<ZOK_ISA_LEVEL == 1, WideVec<kHalf>, K>;

// ============================================================================================
// Float Exp
// ============================================================================================

constexpr float kSExpShift = 11534336.0f;  // 1.375 * 2^23: N lands in the low fraction bits
constexpr int32_t kSExpShiftBits = 0x4B300000;
// |x| below -tb::kSExpUnderflow: normal results.
constexpr uint32_t kSExpFastBits = std::bit_cast<uint32_t>(-tb::kSExpUnderflow);

struct SExpReduced {
  VI n;
  VF r;
};
inline SExpReduced sexp_reduce(VF x) {
  const VF t = mul_add(x, splat<VF>(tb::kSExpInvL), splat<VF>(kSExpShift));
  const VI n = as_int(t) - isplat(kSExpShiftBits);
  const VF d = t - splat<VF>(kSExpShift);
  const VF r = nmul_add(d, splat<VF>(tb::kSExpL2), nmul_add(d, splat<VF>(tb::kSExpL1), x));
  return {n, r};
}

#if ZOK_ISA_LEVEL >= 2
// LA without a table: k = round(x/ln2), r = x - k ln2 (|r| <= ln2/2) and e^r = P(r) of degree 5
// (2^-23.3 relative), scaled by 2^k. The shift leaves k + 127 in the low bits of t, so one shift
// puts it in the exponent field; over the fast range -126 <= k <= 126, and where k is -126 r is
// positive, so the product stays a normal float and is exact.
struct SExpLAVec {
  static VF vec(VF x) {
    const VF shift = splat<VF>(12583039.0f);  // 1.5 * 2^23 + 127
    const VF t = mul_add(x, splat<VF>(tb::kSInvLn2), shift);
    const VF k = t - shift;
    const VF r = nmul_add(k, splat<VF>(tb::kSLn2Lo), nmul_add(k, splat<VF>(tb::kSLn2Hi), x));
    return horner(r, tb::kSExpLA) * as_float(shl<23>(as_int(t)));
  }
};
#else
// LA without a fused multiply-add: 2^(N>>7) 2^(j/128) assembled from the fraction table, times
// (r/2 + 1) r + 1.
struct SExpLAVec {
  static VF vec(VF x) {
    const SExpReduced v = sexp_reduce(x);
    VF frac, unused;
    lookup_pairs(tb::kSExpFrac, v.n & isplat(127), frac, unused);
    const VF scale = as_float(shl<23>(sar<7>(v.n) + isplat(127)) | as_int(frac));
    const VF p = mul_add(mul_add(splat<VF>(0.5f), v.r, splat<VF>(1.0f)), v.r, splat<VF>(1.0f));
    return p * scale;
  }
};
#endif

#if ZOK_ISA_LEVEL == 3
// HA on AVX-512: 32 rows, held in registers, instead of 128 read from memory, so |r| reaches ln2/64
// and the polynomial gains an r^3 term: 2^(N>>5) (T_hi + T_hi (T_lo + r + r^2 Q(r))) with
// 2^(j/32) = T_hi (1 + T_lo). Past the last rounding (half an ulp) the sum T_lo + r + r^2 Q(r) and
// r itself carry some 2^-31 of 1, a few hundredths of an ulp.
inline SExpReduced sexp32_reduce(VF x) {
  const VF shift = splat<VF>(kSExpShift);
  const VF t = mul_add(x, splat<VF>(tb::kSExp32InvL), shift);
  const VI n = as_int(t) - isplat(kSExpShiftBits);
  const VF d = t - shift;
  return {n, nmul_add(d, splat<VF>(tb::kSExp32L2), nmul_add(d, splat<VF>(tb::kSExp32L1), x))};
}
// |N>>5| <= 126 over the fast range: the scale is a normal float.
inline VF sexp32_scale(VI n) {
  return as_float(shl<23>(sar<5>(n) + isplat(127)));
}
struct SExpHAVec {
  static VF vec(VF x) {
    const SExpReduced v = sexp32_reduce(x);
    const VF thi = lookup_reg<32>(tb::kSExp32[0], v.n), tlo = lookup_reg<32>(tb::kSExp32[1], v.n);
    const VF q = mul_add(v.r * v.r, horner(v.r, tb::kSExpHA32), tlo + v.r);
    return sexp32_scale(v.n) * mul_add(thi, q, thi);
  }
};
#elif ZOK_ISA_LEVEL == 2
// HA on AVX2: 8 rows (every fourth row of the 32-row table) held in one register and read by one
// permute instead of 8 memory reads, so |r| reaches ln2/16 and Q has degree 2:
// 2^(N>>3) (T_hi + T_hi (T_lo + r + r^2 Q(r))) with 2^(j/8) = T_hi (1 + T_lo). Q leaves 2^-31.5 of
// 1; the reduction's constants are the 32-row ones times 4, exact.
inline constexpr auto kSExp8 = [] {
  std::array<std::array<float, 8>, 2> t{};
  for (int j = 0; j < 8; ++j) {
    t[0][j] = tb::kSExp32[0][4 * j];
    t[1][j] = tb::kSExp32[1][4 * j];
  }
  return t;
}();
struct SExpHAVec {
  static VF vec(VF x) {
    const VF shift = splat<VF>(kSExpShift);
    const VF t = mul_add(x, splat<VF>(tb::kSExp32InvL * 0.25f), shift);
    const VI n = as_int(t) - isplat(kSExpShiftBits);
    const VF d = t - shift;
    const VF r = nmul_add(d, splat<VF>(tb::kSExp32L2 * 4), nmul_add(d, splat<VF>(tb::kSExp32L1 * 4), x));
    const VF thi = lookup_reg<8>(kSExp8[0].data(), n), tlo = lookup_reg<8>(kSExp8[1].data(), n);
    const VF q = mul_add(r * r, horner(r, tb::kSExpHA8), tlo + r);
    // |N>>3| <= 126 over the fast range: the scale is a normal float.
    return as_float(shl<23>(sar<3>(n) + isplat(127))) * mul_add(thi, q, thi);
  }
};
#else
// HA: 2^(N>>7) (T_hi + T_hi (T_lo + r + r^2/2)), with 2^(j/128) = T_hi (1 + T_lo).
struct SExpHAVec {
  static VF vec(VF x) {
    const SExpReduced v = sexp_reduce(x);
    VF thi, tlo;
    lookup_pairs(tb::kSExpHiLo, v.n & isplat(127), thi, tlo);
    const VF scale = as_float(shl<23>(sar<7>(v.n) + isplat(127)));
    const VF q = mul_add(splat<VF>(0.5f) * v.r, v.r, tlo + v.r);
    return scale * mul_add(thi, q, thi);
  }
};
#endif

// The mantissa part of the LA or HA result for the scalar path near overflow, where the scale
// 2^(N>>7) alone is not a float.
inline float sexp_big(float x, bool ha) {
  const float t = x * tb::kSExpInvL + kSExpShift;
  const int32_t n = static_cast<int32_t>(to_bits(t)) - kSExpShiftBits;
  const float d = t - kSExpShift;
  const float r = (x - d * tb::kSExpL1) - d * tb::kSExpL2;
  const int j = n & 127, e = n >> 7;
  float mant;
  if (ha) {
    const float thi = tb::kSExpHiLo[j][0], tlo = tb::kSExpHiLo[j][1];
    mant = thi + thi * ((tlo + r) + 0.5f * r * r);
  } else {
    mant = ((0.5f * r + 1.0f) * r + 1.0f) * from_bits<float>(0x3F800000u | tb::kSExpFrac[j][0]);
  }
  // e is 127 or 128 here: 2^127 times 2^(e-127) keeps every factor finite.
  return mant * 0x1p127f * from_bits<float>(static_cast<uint32_t>(e - 127 + 127) << 23);
}

// e^x of a float in double precision, for results below the normal range: a degree-6 polynomial
// of 2^f after x/ln2 = k + f, then one rounding to float.
inline float sexp_tiny(float x) {
  const double t = static_cast<double>(x) * tb::kInvLn2;
  const double k = (t + 6755399441055744.0) - 6755399441055744.0;
  const double f = t - k;
  return static_cast<float>(horner(f, tb::kSExpTiny) * pow2(static_cast<int>(k)));
}

// The scalar path of float Exp LA and HA. Below the normal range both round e^x once from double
// precision, so down to the zero threshold (ln 2^-150) every result is the nearest float, the
// smallest denormal included.
template <Fn kFn, class K, int kSlot>
struct SExpK {
  static constexpr Check kCheck = Check::kRedoBlock;
  static constexpr int kUnroll = unroll_for<float>(kSlot == kHA ? 16 : 8);
  static VF vec(VF x) { return K::vec(x); }
  static unsigned special(VF x) {
    return bits(as_int(abs(x)) > isplat(static_cast<int32_t>(kSExpFastBits - 1)));
  }
  static void scalar(int i, const float* a, float* r) {
    const float x = a[i];
    const uint32_t ax = to_bits(x) & 0x7FFFFFFFu;
    if (ax > 0x7F800000u) {
      r[i] = x + x;
    } else if (ax == 0x7F800000u) {
      r[i] = x > 0 ? x : 0.0f;
    } else if (ax < kSExpFastBits) {
      r[i] = on_lane<SExpK>(x);
    } else if (x >= tb::kSExpOverflow) {
      r[i] = kInfF;
      report(ZOK_VM_STATUS_OVERFLOW, i, a, a, r, r, vm::traits(kFn).name);
    } else if (x > 0) {
      r[i] = sexp_big(x, kSlot == kHA);
    } else if (x > tb::kSExpZero) {
      r[i] = sexp_tiny(x);
      if (x < tb::kSExpUnderflow) report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, vm::traits(kFn).name);
    } else {
      r[i] = 0.0f;
      report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, vm::traits(kFn).name);
    }
  }
};

// EP: no table; |x| < 87.25 only.
struct SExpEPK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<float>(8);
#if ZOK_ISA_LEVEL == 3
  // t = x/ln2 rounded (2^-17 absolute at most over the fast range, well inside EP), 2^t as
  // 2^floor(t) 2^f with f = t - floor(t) in [0, 1) taken exactly by vreduceps, a cubic in f, and
  // the power of two applied by vscalefps, which takes floor(t) itself: four operations and the
  // polynomial, no integer steps.
  static VF vec(VF x) {
    const VF t = x * splat<VF>(tb::kSInvLn2);
    const VF f{_mm512_reduce_ps(t.v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)};
    return {_mm512_scalef_ps(horner(f, tb::kSExp2EP).v, t.v)};
  }
#else
  // k = round(x/ln 2), r = x - k ln2 in float, a cubic in r. As in LA the shift leaves k + 127 in
  // the low bits of t, so one shift makes the scale 2^k (normal over the fast range).
  static VF vec(VF x) {
    const VF shift = splat<VF>(12583039.0f);  // 1.5 * 2^23 + 127
    const VF t = mul_add(x, splat<VF>(tb::kSInvLn2), shift);
    const VF r = nmul_add(t - shift, splat<VF>(tb::kSLn2), x);
    return horner(r, tb::kSExpEP) * as_float(shl<23>(as_int(t)));
  }
#endif
  static unsigned special(VF x) {
    return bits(as_int(abs(x)) > isplat(0x42AE7FFF));
  }
  static void scalar(int i, const float* a, float* r) {
    const float x = a[i];
    const uint32_t ax = to_bits(x) & 0x7FFFFFFFu;
    const char* name = vm::traits(Fn::sExp).name;
    if (ax > 0x7F800000u) {
      r[i] = x + x;
    } else if (ax == 0x7F800000u) {
      r[i] = x > 0 ? x : 0.0f;
    } else if (ax < 0x42AE8000u) {
      r[i] = on_lane<SExpEPK>(x);
    } else if (x >= tb::kSExpOverflow) {
      r[i] = kInfF;
      report(ZOK_VM_STATUS_OVERFLOW, i, a, a, r, r, name);
    } else if (x <= tb::kSExpZero) {
      r[i] = 0.0f;
      report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, name);
    } else {
      // Double precision: k = round(x/ln2), r = x - k ln2, a degree-6 polynomial of e^r.
      const double xd = x;
      const double k = (xd * tb::kInvLn2 + 6755399441055744.0) - 6755399441055744.0;
      const double rr = xd - k * tb::kLn2;
      r[i] = static_cast<float>(horner(rr, tb::kSExpEPScalar) * pow2(static_cast<int>(k)));
      if (x < tb::kSExpUnderflow) report(ZOK_VM_STATUS_UNDERFLOW, i, a, a, r, r, name);
    }
  }
};

// ============================================================================================
// Float Expm1
// ============================================================================================

constexpr float kSExpm1Shift = 12582912.0f;  // 1.5 * 2^23: N lands in the low fraction bits
constexpr int32_t kSExpm1ShiftBits = 0x4B400000;

// x = N ln2/64 + r, S = 2^(N>>6) T_hi(j) with j = N & 63 (the even rows of the Exp HA table hold
// 2^(j/64) = T_hi (1 + T_lo)). xn is the argument N is taken from.
struct SExpm1Reduced {
  VF s, tlo, r;
};
inline SExpm1Reduced sexpm1_reduce(VF x, VF xn) {
  const VF shift = splat<VF>(kSExpm1Shift);
  const VF t = mul_add(xn, splat<VF>(tb::kSExpm1InvL), shift);
  const VI n = as_int(t) - isplat(kSExpm1ShiftBits);
  const VF d = t - shift;
  const VF r = nmul_add(d, splat<VF>(tb::kSExpm1L2), nmul_add(d, splat<VF>(tb::kSExpm1L1), x));
#if ZOK_ISA_LEVEL == 3
  const VF thi = lookup_reg<64>(tb::kSExpm1HiLo[0], n), tlo = lookup_reg<64>(tb::kSExpm1HiLo[1], n);
#else
  VF thi, tlo;
  lookup_pairs(tb::kSExpHiLo, shl<1>(n & isplat(63)), thi, tlo);
#endif
  // |N>>6| <= 125 over the fast range: the exponent field of S stays normal.
  const VF s = as_float(as_int(thi) + shl<23>(sar<6>(n)));
  return {s, tlo, r};
}

// LA and HA: e^x - 1 = S (1 + T_lo) (1 + p) - 1 = (S - 1) + S r + S (r^2 Q(r) + T_lo (1 + r)),
// with p = e^r - 1 = r + r^2 Q(r) (T_lo r^2 is far below the result's ulp). S - 1 is split
// exactly into hi + lo and S r is exact inside its fma, so the roundings that reach the result
// are those of the small third term, of S r + (third term + lo) at the size of r, at most a
// quarter ulp of the result, and of the last sum. Below |x| = 0.011 N is 0, S is 1 and the
// result is r + r^2 Q(r) with one rounding: there S - 1 and S r would cancel, and the rounding
// of r would show.
struct SExpm1HAVec {
  static VF vec(VF x) {
    const VF xn = drop(abs(x) < splat<VF>(0.011f), x);
    const SExpm1Reduced v = sexpm1_reduce(x, xn);
    const VF small = mul_add(v.tlo, v.r, mul_add(v.r * v.r, horner(v.r, tb::kSExpm1HA), v.tlo));
    const VF one = splat<VF>(1.0f);
    const VF hi = v.s - one;
    const VF bb = hi - v.s;
    const VF lo = (v.s - (hi - bb)) - (one + bb);
    return hi + mul_add(v.s, v.r, mul_add(v.s, small, lo));
  }
};
// LA and HA in double, two halves of the vector: without a fused multiply-add (SSE4.1) the exact
// steps of the float formula cost more than this. In double, 2^(j/64) (1 + p) - 1 needs no split.
inline VD sexpm1_wide(VD x) {
  const DExpReduced v = dexp_reduce<6>(x, x);
  const VD s = dexp_scale<6>(v.m) * lookup_one(tb::kDExp64, v.m & lsplat(63));
  return mul_add(s, mul_add(v.r * v.r, horner(v.r, tb::kExpm1Q1), v.r), s - splat<VD>(1.0));
}
using SExpm1HAKVec = FloatOrWide<SExpm1HAVec, sexpm1_wide>;
// LA: N = round(x 64/ln2) everywhere, S - 1 rounded once (exact within ln 2 of 0, where S lies in
// [1/2, 2]), p = r + r^2 Q(r) with one term less: (S - 1) + S (T_lo + p). Where N is +-1 and S p
// cancels half of S - 1, the roundings of p and T_lo + p are at the size of the result, about an
// ulp together with the last one.
struct SExpm1LAVec {
  static VF vec(VF x) {
    const SExpm1Reduced v = sexpm1_reduce(x, x);
    const VF p = mul_add(v.r * v.r, horner(v.r, tb::kSExpm1LA), v.r);
    return mul_add(v.s, p + v.tlo, v.s - splat<VF>(1.0f));
  }
};
using SExpm1LAKVec = FloatOrWide<SExpm1LAVec, sexpm1_wide>;
// EP: T_lo and the rounding of S - 1 left out, e^r - 1 = r + r^2/2.
struct SExpm1EPVec {
  static VF vec(VF x) {
    const SExpm1Reduced v = sexpm1_reduce(x, x);
    const VF p = mul_add(v.r * splat<VF>(0.5f), v.r, v.r);
    return mul_add(v.s, p, v.s - splat<VF>(1.0f));
  }
};

template <Fn kFn, class K>
struct SExpm1K {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = unroll_for<float>(8);
  static VF vec(VF x) { return K::vec(x); }
  static unsigned special(VF x) { return outside<VF>(abs(x) <= splat<VF>(tb::kSExpm1Fast)); }
  static void scalar(int i, const float* a, float* r) {
    const float x = a[i];
    if (x != x) {
      r[i] = x + x;
    } else if (x <= tb::kSExpm1Fast && x >= -tb::kSExpm1Fast) {
      r[i] = on_lane<SExpm1K>(x);
    } else if (x < 0) {
      r[i] = -1.0f;
    } else if (x >= tb::kSExpOverflow) {
      r[i] = kInfF;
      if (x != kInfF) report(ZOK_VM_STATUS_OVERFLOW, i, a, a, r, r, vm::traits(kFn).name);
    } else {
      r[i] = static_cast<float>(dexp_outside(x));
    }
  }
};

// ============================================================================================
// Float Ln: the fast path in float, the special path in double
// ============================================================================================

// x = 2^k m with m in [2/3, 4/3), f = m - 1 exact.
struct SLnReduced {
  VF k, f;
};
inline SLnReduced sln_reduce(VF x) {
  const VI u = as_int(x) - isplat(static_cast<int32_t>(tb::kSTwoThirdsBits));
  const VF m = as_float((u & isplat(0x007FFFFF)) + isplat(static_cast<int32_t>(tb::kSTwoThirdsBits)));
  return {to_float(sar<23>(u)), m - splat<VF>(1.0f)};
}
// Positive normal finite floats: (bits + 2^23) >= 2^24 as signed integers.
inline unsigned sln_outside(VF x) {
  return bits(isplat(0x01000000) > (as_int(x) + isplat(0x00800000)));
}

// LA: k ln2 + f + f^2 P(f), P of degree 6.
struct SLnLAVec {
  static VF vec(VF x) {
    const SLnReduced v = sln_reduce(x);
    const VF t = mul_add(v.k, splat<VF>(tb::kSLn2), v.f);
    return mul_add(v.f * v.f, horner(v.f, tb::kSLnLA), t);
  }
};
// HA: k ln2_hi + f as an exact sum hi + lo (k ln2_hi has 23 bits, and |k ln2_hi| >= |f| unless k
// is 0), then the small terms; P of degree 10.
struct SLnHAVec {
  static VF vec(VF x) {
    const SLnReduced v = sln_reduce(x);
    const VF kh = v.k * splat<VF>(tb::kSLn2Hi);
    const VF hi = kh + v.f;
    const VF lo = (kh - hi) + v.f;
    const VF tail = mul_add(v.f * v.f, horner(v.f, tb::kSLnHA), v.k * splat<VF>(tb::kSLn2Lo));
    return hi + (lo + tail);
  }
};
// EP: P of degree 3.
struct SLnEPVec {
  static VF vec(VF x) {
    const SLnReduced v = sln_reduce(x);
    return mul_add(v.k, splat<VF>(tb::kSLn2), mul_add(v.f * v.f, horner(v.f, tb::kSLnEP), v.f));
  }
};

#if ZOK_ISA_LEVEL == 3
// Float Ln and Log10 LA and EP on AVX-512 from a 32-row table held in registers: x = 2^e m' with
// m' in [0.75, 1.5) (vgetmantps, e = vgetexpps(x)), the row from the top five fraction bits of m',
// r = m' rcp - 1 (one rounding), log x = (e log(2) + T) + r q(r). Where m' < 1 the exponent is one
// short of x = 2^k m, m in [1, 2) or [0.5, 1): T holds -log(rcp) + log(2) there, with rcp chosen so
// that this sum is a float to 2^-36 and e = -1 (x just below 1) cancels it exactly. Rows 0 and 31
// hold rcp = 1, so near x = 1 the result is r q(r) alone.
struct SLogRegReduced {
  VF e, r, t;
};
template <const auto& kTable>
inline SLogRegReduced slog_reg_reduce(VF x) {
  const VF m{_mm512_getmant_ps(x.v, _MM_MANT_NORM_p75_1p5, _MM_MANT_SIGN_src)};
  const VI row = shr<18>(as_int(m));
  const VF rcp = lookup_reg<32>(kTable[0], row);
  return {VF{_mm512_getexp_ps(x.v)}, mul_sub(m, rcp, splat<VF>(1.0f)), lookup_reg<32>(kTable[1], row)};
}
// q(r) = c1 + r P(r), P of the slot's degree; c1 is 1 for Ln and log10(e) for Log10.
template <const auto& kTable, const auto& kP, bool kLog10>
struct SLogRegVec {
  static VF vec(VF x) {
    constexpr float kC1 = kLog10 ? tb::kSLog10E : 1.0f;
    constexpr float kLog2 = kLog10 ? tb::kSLog10Of2 : tb::kSLn2;
    const SLogRegReduced v = slog_reg_reduce<kTable>(x);
    const VF q = mul_add(v.r, horner(v.r, kP), splat<VF>(kC1));
    return mul_add(v.r, q, mul_add(v.e, splat<VF>(kLog2), v.t));
  }
};
template <const auto& kP>
using SLnRegVec = SLogRegVec<tb::kSLnR32, kP, false>;
template <const auto& kP>
using SLog10RegVec = SLogRegVec<tb::kSLog10R32, kP, true>;
#endif

// The special path of float Ln (all flavours), in double: returns ln x and the status.
inline double sln_scalar(float x, int* status) {
  *status = 0;
  const uint32_t ux = to_bits(x);
  if ((ux & 0x7F800000u) == 0x7F800000u) {
    if (ux == 0xFF800000u) {
      *status = ZOK_VM_STATUS_DOMAIN;
      const volatile double z = 0.0;
      return z / z;
    }
    return static_cast<double>(x) * x;
  }
  double y = x;
  int kc = 0;
  if (y != 0 && y < 0x1p-126 && y > -0x1p-126) {
    y *= 0x1p60;
    kc = -60;
  }
  if (y == 0) {
    *status = ZOK_VM_STATUS_SING;
    return -kInfD;
  }
  if (y < 0) {
    *status = ZOK_VM_STATUS_DOMAIN;
    const volatile double z = 0.0;
    return z / z;
  }
  const double d = y - 1.0;
  auto q = [](double t) { return horner(t, tb::kSLnQ); };
  if (d <= 0x1p-7 && d >= -0x1p-7) return d + d * d * q(d);
  const uint64_t uy = to_bits(y);
  const double m = from_bits<double>((uy & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
  const double k = static_cast<double>(static_cast<int>(uy >> 52) - 1023 + kc);
  const int j = static_cast<int>(to_bits(m + 70368744177665.0) & 127);
  const double mh = (m + 0x1p21) - 0x1p21, ml = m - mh;
  const double recip = tb::kSLnScalar[j][0];
  const double rh = recip * mh - 1.0, rl = recip * ml, r = rh + rl;
  return (k * tb::kLn2Hi + tb::kSLnScalar[j][1]) + (k * tb::kLn2Lo + tb::kSLnScalar[j][2]) + rh + rl +
         r * r * q(r);
}

// ============================================================================================
// Float Log10 and Log1p: float fast paths on x = 2^k m; the special paths in double
// ============================================================================================

// x = 2^k m with m in [sqrt(2)/2, sqrt(2)), f = m - 1 exact. Centred on 1 in the log, unlike the
// Ln reduction: just above 4/3 that one gives k = 1, f near -1/3 and a result just below 1/8,
// whose ulp is a quarter of that of k log10(2).
inline SLnReduced slog10_reduce(VF x) {
  const VI u = as_int(x) - isplat(static_cast<int32_t>(tb::kSSqrtHalfBits));
  const VF m = as_float((u & isplat(0x007FFFFF)) + isplat(static_cast<int32_t>(tb::kSSqrtHalfBits)));
  return {to_float(sar<23>(u)), m - splat<VF>(1.0f)};
}

// HA: log10 x = k log10(2) + f log10(e) + f^2 Q(f). f splits into 12-bit parts fh + fl, so that
// fh log10(e)_hi is exact and k log10(2)_hi + fh log10(e)_hi is an exact sum hi + lo (the first
// term is the larger whenever k is not 0). The rest (the low parts of both constants,
// fl log10(e)_hi and f^2 Q(f)) is summed in float and added last; near x = sqrt(2), where
// k log10(2) and f log10(e) cancel most, it is below 1/4 of the result.
struct SLog10HAVec {
  static VF vec(VF x) {
    const SLnReduced v = slog10_reduce(x);
    const VF fh = as_float(as_int(v.f) & isplat(static_cast<int32_t>(0xFFFFF000u)));
    const VF kh = v.k * splat<VF>(tb::kSLog10Of2Hi);
    const VF p = fh * splat<VF>(tb::kSLog10EHi);
    const VF hi = kh + p;
    const VF lo = (kh - hi) + p;
    VF tail = mul_add(v.k, splat<VF>(tb::kSLog10Of2Lo), (v.f - fh) * splat<VF>(tb::kSLog10EHi));
    tail = mul_add(v.f, splat<VF>(tb::kSLog10ELo), tail);
    tail = mul_add(v.f * v.f, horner(v.f, tb::kSLog10HA), tail);
    return hi + (lo + tail);
  }
};
// LA and EP: the same sum in plain float arithmetic, shorter polynomials.
template <class Q>
struct SLog10Vec {
  static VF vec(VF x) {
    const SLnReduced v = slog10_reduce(x);
    const VF t = mul_add(v.f, splat<VF>(tb::kSLog10E), v.f * v.f * horner(v.f, Q::c()));
    return mul_add(v.k, splat<VF>(tb::kSLog10Of2), t);
  }
};
struct SLog10QLA {
  static constexpr const auto& c() { return tb::kSLog10LA; }
};
struct SLog10QEP {
  static constexpr const auto& c() { return tb::kSLog10EP; }
};

// ln(1+x) on the Ln reduction of u = 1 + x. Below |x| = 1/4 the reduction of u gives k = 0 and f
// is taken as x itself, which is exact. Above it, u carries a rounding error c, and
// ln(1+x) = ln u + c/u with c/u at most about two ulps of the result, so a 12-bit 1/u is enough.
struct SLog1pReduced {
  VF k, f, c;
};
template <bool kCorrect>
inline SLog1pReduced slog1p_reduce(VF x) {
  const VF one = splat<VF>(1.0f);
  const VF u = x + one;
  const SLnReduced v = sln_reduce(u);
  const MF small = abs(x) < splat<VF>(0.25f);
  VF c = splat<VF>(0.0f);
  if constexpr (kCorrect) {
    // Exact error of x + 1: x > -1, so the larger magnitude is max(x, 1).
    const VF err = (max(x, one) - u) + min(x, one);
    c = select(small, err * rcp(u), c);
  }
  return {v.k, select(small, v.f, x), c};
}
// HA: as float Ln HA, k ln2_hi + f as an exact sum, the correction among the small terms.
struct SLog1pHAVec {
  static VF vec(VF x) {
    const SLog1pReduced v = slog1p_reduce<true>(x);
    const VF kh = v.k * splat<VF>(tb::kSLn2Hi);
    const VF hi = kh + v.f;
    const VF lo = (kh - hi) + v.f;
    const VF tail = mul_add(v.f * v.f, horner(v.f, tb::kSLnHA), mul_add(v.k, splat<VF>(tb::kSLn2Lo), v.c));
    return hi + (lo + tail);
  }
};
// LA: u = 1 + x = 2^k m as for Ln, and the rounding error c of u moved into the reduced argument,
// 1 + x = 2^k (m + c 2^-k), so f = (m - 1) + c 2^-k and ln(1+x) = k ln2 + f + f^2 P(f) with no
// branch on |x|. u - 1 is exact while u stays below 2^24, so c = x - (u - 1) is exact there, and
// f is x itself wherever k is 0 (one rounding of an exact sum); above, c 2^-k is below 2^-23 and
// so is its error. 2^-k stops at +0: from k = 127 on its exponent field is 0 or the difference
// of fields a negative float (-inf at k = 128), which the maximum with 0 clears.
struct SLog1pLAVec {
  static VF vec(VF x) {
    const VF one = splat<VF>(1.0f);
    const VF u = x + one;
    const VI d = as_int(u) - isplat(static_cast<int32_t>(tb::kSTwoThirdsBits));
    const VF m = as_float((d & isplat(0x007FFFFF)) + isplat(static_cast<int32_t>(tb::kSTwoThirdsBits)));
    const VF k = to_float(sar<23>(d));
    const VF scale =
        max(as_float(isplat(0x3F800000) - (d & isplat(static_cast<int32_t>(0xFF800000u)))), splat<VF>(0.0f));
    const VF f = mul_add(x - (u - one), scale, m - one);
    return mul_add(f * f, horner(f, tb::kSLog1pLA), mul_add(k, splat<VF>(tb::kSLn2), f));
  }
};
#if ZOK_ISA_LEVEL == 3
// LA on AVX-512: ln u from the register table of Ln, u = 1 + x, plus the rounding error c of u as
// c/u with the 14-bit reciprocal. For x in [-1/64, 1/32), the rows where rcp is 1, r is x itself
// and c is left out: there c can be as large as the result, and its quotient needs more than 14 bits.
// Elsewhere c/u is below 2^-24 of a result of at least 1/64.
struct SLog1pRegLAVec {
  static VF vec(VF x) {
    const VF one = splat<VF>(1.0f);
    const VF u = x + one;
    const VF c = (max(x, one) - u) + min(x, one);
    const SLogRegReduced v = slog_reg_reduce<tb::kSLnR32>(u);
    const MF near0 = (x >= splat<VF>(-0x1p-6f)) & (x < splat<VF>(0x1p-5f));
    const VF r = select(near0, v.r, x);
    const VF t = drop(near0, mul_add(v.e, splat<VF>(tb::kSLn2), v.t) + c * rcp(u));
    return mul_add(r, mul_add(r, horner(r, tb::kSLnR32LA), one), t);
  }
};
#endif
// EP: the correction is below 12 bits of the result and is left out.
struct SLog1pEPVec {
  static VF vec(VF x) {
    const SLog1pReduced v = slog1p_reduce<false>(x);
    return mul_add(v.k, splat<VF>(tb::kSLn2), mul_add(v.f * v.f, horner(v.f, tb::kSLnEP), v.f));
  }
};

// log10 in double precision from the widened argument (every positive float is a normal double):
// x = 2^k m, m in [2/3, 4/3), ln(1+f) = f + f^2 P(f). The special path uses it for denormal
// arguments, and HA on SSE4.1 for every lane: without a fused multiply-add the float HA sum
// rounds its f^2 Q(f) term too often just below 1/8, where the result's ulp is smallest.
inline VD slog10_wide(VD u) {
  return dlog_normal(u) * splat<VD>(tb::kInvLn10);
}
using SLog10HAKVec = FloatOrWide<SLog10HAVec, slog10_wide>;

// The float logarithms run in blocks of 16 elements, after an unaligned head, with the rest in
// groups of four padded with 0.75.
using FloatLogLoop = FloatGroupLoop<16>;

template <Fn kFn, class K, bool kLog1p>
struct SLogK : FloatLogLoop {
  static VF vec(VF x) { return K::vec(x); }
  static unsigned special(VF x) {
    if constexpr (kLog1p) {
      return outside<VF>((x > splat<VF>(-1.0f)) & (x < splat<VF>(kInfF)) & (x != splat<VF>(0.0f)));
    } else {
      return sln_outside(x);
    }
  }
  // What is left beside the domain edges are denormal arguments (Log10 only; Log1p takes them
  // on the fast path, where f = x).
  static void scalar(int i, const float* a, float* r) {
    const float x = a[i];
    const char* name = vm::traits(kFn).name;
    const float edge = kLog1p ? -1.0f : 0.0f;
    if (x != x) {
      r[i] = x + x;
    } else if (x == kInfF) {
      r[i] = x;
    } else if (kLog1p && x == 0.0f) {
      r[i] = x;
    } else if (x == edge || (!kLog1p && x == 0.0f)) {
      r[i] = -kInfF;
      report(ZOK_VM_STATUS_SING, i, a, a, r, r, name);
    } else if (x < edge) {
      const volatile float z = 0.0f;
      r[i] = z / z;
      report(ZOK_VM_STATUS_DOMAIN, i, a, a, r, r, name);
    } else if (kLog1p) {
      r[i] = on_lane<SLogK>(x);
    } else {
      r[i] = static_cast<float>(lane0(slog10_wide(splat<VD>(static_cast<double>(x)))));
    }
  }
};

template <Fn kFn, class P>
struct SLnK : FloatLogLoop {
  static VF vec(VF x) { return P::vec(x); }
  static unsigned special(VF x) { return sln_outside(x); }
  static void scalar(int i, const float* a, float* r) {
    int status = 0;
    r[i] = static_cast<float>(sln_scalar(a[i], &status));
    if (status != 0) report(status, i, a, a, r, r, vm::traits(kFn).name);
  }
};

// ---- the policy of each function and slot ----

template <Fn f, int s>
using SExpOf =
    std::conditional_t<s == kEP, SExpEPK, SExpK<f, std::conditional_t<s == kHA, SExpHAVec, SExpLAVec>, s>>;
template <Fn f, int s>
using SExpm1Of = SExpm1K<f, BySlot<s, SExpm1LAKVec, SExpm1HAKVec, SExpm1EPVec>>;
#if ZOK_ISA_LEVEL == 3
template <Fn f, int s>
using SLnOf = SLnK<f, BySlot<s, SLnRegVec<tb::kSLnR32LA>, SLnHAVec, SLnRegVec<tb::kSLnR32EP>>>;
template <Fn f, int s>
using SLog10Of =
    SLogK<f, BySlot<s, SLog10RegVec<tb::kSLog10R32LA>, SLog10HAKVec, SLog10RegVec<tb::kSLog10R32EP>>, false>;
template <Fn f, int s>
using SLog1pOf = SLogK<f, BySlot<s, SLog1pRegLAVec, SLog1pHAVec, SLog1pEPVec>, true>;
#else
template <Fn f, int s>
using SLnOf = SLnK<f, BySlot<s, SLnLAVec, SLnHAVec, SLnEPVec>>;
template <Fn f, int s>
using SLog10Of = SLogK<f, BySlot<s, SLog10Vec<SLog10QLA>, SLog10HAKVec, SLog10Vec<SLog10QEP>>, false>;
template <Fn f, int s>
using SLog1pOf = SLogK<f, BySlot<s, SLog1pLAVec, SLog1pHAVec, SLog1pEPVec>, true>;
#endif

}  // namespace

void register_explog_float(vm::KernelSlots& s) {
  using enum Fn;
  reg<sExp, SExpOf>(s);
  reg<sExpm1, SExpm1Of>(s);
  reg<sLn, SLnOf>(s);
  reg<sLog10, SLog10Of>(s);
  reg<sLog1p, SLog1pOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
