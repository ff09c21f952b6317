// Double inverse trigonometric kernels (Asin, Acos, Atan, Atan2), compiled once per instruction set.
// Coefficients and constants come from tools/gen_trig_tables.py.
//
// Contract (measured against MPFR in tests/vm/accuracy_test.cpp): HA within 1 ulp, LA within 4,
// EP within 2^26. Atan and Atan2 reduce the quotient of the smaller and larger magnitudes around
// 0, 1/4, 1/2 or 1 to |z| <= 3/16 by one division; Asin and Acos take sqrt((1 - |x|)/2) above 1/2. HA
// carries the rounding errors of the division and the square root in a second double; LA and EP
// round the polynomial's value once and add it to the constant by one multiply-add or addition.
// Special values: NaN -> NaN silently; Asin, Acos of |x| > 1 (infinities too) NaN, code 1; Atan of
// +-inf is +-pi/2; Atan2 of zeros and infinities takes the limits of each quadrant, never reported.
#include "kernels/trig/atrig_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

template <const auto& P, bool kTwo>
struct DAtan {
  static VD eval(VD x) { return atan2_core<P, true, kTwo, !kTwo>(x, splat<VD>(1.0)); }
};
template <const auto& P, bool kTwo>
struct DAtan2 {
  static VD eval(VD a, VD b) { return atan2_core<P, true, kTwo, !kTwo>(a, b); }
};
template <const auto& P, bool kAcos, bool kTwo>
struct DAsin {
  static VD eval(VD x) {
    if constexpr (kTwo) {
      return asin_core<P, kAcos, true>(x);
    } else {
      return asin_short<P, kAcos>(x);
    }
  }
};

struct DRange {
  static constexpr double kLo = 0x1p-960, kHi = 0x1p990;
};
template <Fn f, int s>
using DAtanOf =
    AtanK<double,
          BySlot<s, DAtan<td::kDAtanLA, false>, DAtan<td::kDAtanHA, true>, DAtan<td::kDAtanEP, false>>,
          DRange>;
template <Fn f, int s>
using DAtan2Of =
    Atan2K<double,
           BySlot<s, DAtan2<td::kDAtanLA, false>, DAtan2<td::kDAtanHA, true>, DAtan2<td::kDAtanEP, false>>,
           DRange>;
template <Fn f, int s>
using DAsinOf = ASinCosK<f, double,
                         BySlot<s, DAsin<td::kDAsinLA, false, false>, DAsin<td::kDAsinHA, false, true>,
                                DAsin<td::kDAsinEP, false, false>>>;
template <Fn f, int s>
using DAcosOf = ASinCosK<f, double,
                         BySlot<s, DAsin<td::kDAsinLA, true, false>, DAsin<td::kDAsinHA, true, true>,
                                DAsin<td::kDAsinEP, true, false>>>;

}  // namespace

void register_atrig_double(vm::KernelSlots& s) {
  using enum Fn;
  reg<dAsin, DAsinOf>(s);
  reg<dAcos, DAcosOf>(s);
  reg<dAtan, DAtanOf>(s);
  reg<dAtan2, DAtan2Of>(s);
}

}  // namespace zok::ZOK_ISA_NS
