// The HA logarithm on AVX-512 from the 32-row register table, shared by the double Ln, Log10 and
// Log1p kernels, the float gamma ones (where it replaces the gathers of the 9-bit table), and, as the
// logarithm of a sum, the double HA inverse hyperbolic kernels and the double complex HA Ln.
#pragma once

#include "kernels/explog/explog_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

#if ZOK_ISA_LEVEL == 3
// HA: ln x = s + lo, s = (k ln2_hi + lnhi) + r as an exact sum (the first part is exact, and at
// least as large as |r| unless it is 0), lo = its error + k ln2_lo + lnlo + r^2 P(r).
struct DLnParts {
  VD s, lo;
};
inline DLnParts dln_reg_parts(const DLogRegReduced& v) {
  const VD hi = mul_add(v.k, splat<VD>(tb::kLn2Hi), lookup_reg<32>(tb::kDLogR32[0], v.row));
  VD s, e;
  fast_two_sum(hi, v.r, s, e);
  const VD p = v.r * v.r * horner(v.r, tb::kDLnR32HA);
  return {s, e + (mul_add(v.k, splat<VD>(tb::kLn2Lo), lookup_reg<32>(tb::kDLogR32[1], v.row)) + p)};
}
inline VD dln_reg_ha(VD x, VD kadj) {
  const DLnParts l = dln_reg_parts(dlog_reg_reduce(x, kadj));
  return l.s + l.lo;
}
// HA ln(u + c) + kadj ln2 for a positive normal u and |c| at most about an ulp of u: ln u as above
// (r exact), c/u as c rcp 2^-e (1 - r) (u = 2^e m, 1/m = rcp / (1 + r)) joining the trailing sum.
// Replaces the 7-bit table's three gathers of dln_sum_ha.
inline VD dln_sum_reg_ha(VD u, VD c, VD kadj) {
  const DLogRegReduced v = dlog_reg_reduce(u, kadj);
  const VD cr = c * v.rcp;
  const VD cu{_mm512_scalef_pd(nmul_add(cr, v.r, cr).v, (kadj - v.k).v)};
  const DLnParts l = dln_reg_parts(v);
  return l.s + (l.lo + cu);
}
#endif

}  // namespace
}  // namespace zok::ZOK_ISA_NS
