// ln x in two parts on AVX-512 from the 32-row register table, to some 2^-69 absolute: shared by
// the double Pow HA kernels (whose y ln x needs the logarithm's second part) and the double gamma
// kernels. No memory reads but the broadcast constants.
#pragma once

#include "frame/kernel_frame.h"
#include "frame/simd/exact.h"
#include "frame/simd/poly.h"
#include "kernels/explog/explog_common.h"
#include "kernels/explog/explog_tables.h"

namespace zok::ZOK_ISA_NS {

namespace {

#if ZOK_ISA_LEVEL == 3
// (log1p(r) - r + r^2/2) / r^3 by its Taylor terms to r^12: at |r| < 0.0237 the first omitted
// term, r^13/13, stays below 2^-73.
alignas(64) inline constexpr double kDLog1pDD[10] = {1.0 / 3,  -1.0 / 4, 1.0 / 5,   -1.0 / 6, 1.0 / 7,
                                                     -1.0 / 8, 1.0 / 9,  -1.0 / 10, 1.0 / 11, -1.0 / 12};

// x = 2^k m with m in [0.75, 1.5) (dlog_reg_reduce), rcp = j/32 the 14-bit reciprocal of m rounded to five
// fraction bits and r = m rcp - 1, exact (|r| < 0.0237); -ln(rcp) = lnhi + lnlo from the 32 rows in
// registers. ln x = hi + lo: hi0 = k ln2_hi + lnhi is exact (both multiples of 2^-42 below 2^10)
// and 0 or larger than |r| (|lnhi| >= ln(32/31) where rcp != 1); hi0 + r and the sum with -r^2/2
// (r^2 an exact product) are exact two-sums, each larger than the next term; the tail collects
// their errors, k ln2_lo + lnlo and r^3 Q(r) (below 2^-17.4, rounded at 2^-70). Where rcp = 1 (m
// within 1/64 of 1) hi0 is k ln2_hi alone, and at k = 0 the error stays relative to r.
struct DLnDD {
  VD hi, lo;
};
inline DLnDD dln_dd_reg(VD x) {
  namespace ed = zok::explog_data;
  const DLogRegReduced v = dlog_reg_reduce(x, splat<VD>(0.0));
  const VD k = v.k, r = v.r;
  const VL row = v.row;
  const VD hi0 = mul_add(k, splat<VD>(ed::kLn2Hi), lookup_reg<32>(ed::kDLogR32[0], row));
  VD s1, e1, sq, sqe, s2, e2;
  fast_two_sum(hi0, r, s1, e1);
  two_prod(r, r, sq, sqe);
  fast_two_sum(s1, splat<VD>(-0.5) * sq, s2, e2);
  const VD lo = mul_add(k, splat<VD>(ed::kLn2Lo), lookup_reg<32>(ed::kDLogR32[1], row));
  const VD tail = mul_add(r * sq, estrin(r, kDLog1pDD), mul_add(splat<VD>(-0.5), sqe, (e1 + e2) + lo));
  DLnDD out;
  fast_two_sum(s2, tail, out.hi, out.lo);
  return out;
}
#endif

}  // namespace
}  // namespace zok::ZOK_ISA_NS
