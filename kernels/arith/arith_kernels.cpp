// Arithmetic and rounding kernels (Add, Sub, Mul, Sqr, Abs, Div, Inv, LinearFrac, Floor, Ceil,
// Trunc, Round, NearbyInt, Rint, Modf, Frac) for float and double, compiled once per instruction set.
//
// Contract: Add, Sub, Mul, Sqr, Abs, the rounding functions, Modf and Frac are exact (one IEEE
// operation or an exact rounding per element). Div and Inv: HA and every double flavour exact
// (correctly rounded); float LA and EP within 4 ulp. A zero divisor stores the IEEE quotient and
// reports code 2, except in the double EP Inv; LA/EP Div do not report a NaN dividend.
// LinearFrac (float) refines a reciprocal estimate once: within 4 ulp while the denominator lies in
// [2^-126, 2^126]; a zero denominator gives whatever that step gives and is not reported.
#include "frame/kernel_frame.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::Fn;

// The reciprocal estimate is trusted for |x| in [2^-126, 2^126]: the float estimate is a normal
// number there (doubles borrow it, so they share the range).
template <typename V>
inline unsigned outside_rcp_range(V x) {
  using T = typename V::T;
  const V m = abs(x);
  return outside<V>((m >= splat<V>(T(0x1p-126))) & (m <= splat<V>(T(0x1p126))));
}
#if ZOK_ISA_LEVEL == 3
template <typename V>
inline unsigned outside_rcp_range_fixed(V x) {
  using T = typename V::T;
  const V m = abs(x);
  return outside<V>(ge_sae(m, splat<V>(T(0x1p-126))) & le_sae(m, splat<V>(T(0x1p126))));
}
#endif

// ---- plain operations ----

struct NoCheck {
  static constexpr Check kCheck = Check::kNone;
  static constexpr int kUnroll = 4;
};
// Float Add, Sub and Mul at AVX2 one vector a block: four ran the loop 1.15x slower on Zen 5 (two
// loads a vector; a plain loop unrolled four times is as slow), where the other cheap kernels
// measured no better with one.
template <typename T>
struct NoCheckArith : NoCheck {
  static constexpr int kUnroll = ZOK_ISA_LEVEL == 2 && sizeof(T) == 4 ? 1 : 4;
};

template <typename T>
struct AddK : NoCheckArith<T> {
  template <class V>
  static V vec(V a, V b) {
    return a + b;
  }
#if ZOK_ISA_LEVEL == 3
  template <class V>
  static V vec_fixed(V a, V b) {
    return add_rn(a, b);
  }
#endif
  static void scalar(int i, const T* a, const T* b, T* r) {
    r[i] = a[i] + b[i];
  }
};
template <typename T>
struct SubK : NoCheckArith<T> {
  template <class V>
  static V vec(V a, V b) {
    return a - b;
  }
#if ZOK_ISA_LEVEL == 3
  template <class V>
  static V vec_fixed(V a, V b) {
    return sub_rn(a, b);
  }
#endif
  static void scalar(int i, const T* a, const T* b, T* r) {
    r[i] = a[i] - b[i];
  }
};
template <typename T>
struct MulK : NoCheckArith<T> {
  template <class V>
  static V vec(V a, V b) {
    return a * b;
  }
#if ZOK_ISA_LEVEL == 3
  template <class V>
  static V vec_fixed(V a, V b) {
    return mul_rn(a, b);
  }
#endif
  static void scalar(int i, const T* a, const T* b, T* r) {
    r[i] = a[i] * b[i];
  }
};
template <typename T>
struct SqrK : NoCheck {
  template <class V>
  static V vec(V a) {
    return a * a;
  }
#if ZOK_ISA_LEVEL == 3
  template <class V>
  static V vec_fixed(V a) {
    return mul_rn(a, a);
  }
#endif
  static void scalar(int i, const T* a, T* r) {
    r[i] = a[i] * a[i];
  }
};

// |a| = a * ((a & sign) | 1): -0 gives +0, and a NaN comes back as the (quieted) NaN it was. The
// multiply runs under the caller's control, so its flushing, quieting and flags are Abs's too.
template <typename T>
struct AbsK {
  static constexpr Check kCheck = Check::kNone;
  static constexpr int kUnroll = 4;
  template <class V>
  static V vec(V a) {
    return a * ((a & sign_mask<V>()) | splat<V>(T(1)));
  }
  static void scalar(int i, const T* a, T* r) { r[i] = on_lane<AbsK>(a[i]); }
};
#if ZOK_ISA_LEVEL == 3
// At AVX-512, while the caller's MXCSR flushes no denormal, the vector path clears the sign bit,
// which gives the multiply's result with the multiply's flags (none) on every lane but NaNs and
// denormals; those lanes take the multiply. The classification would see a denormal as zero under
// denormals-are-zero, so a caller who flushes gets the multiply throughout. The product's dependent
// pair of operations ran such a loop 1.2x slower on the AMD full-width class.
template <typename T>
struct AbsSignK : AbsK<T> {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr bool kFetchAhead = false;
  template <class V>
  static V vec(V a) {
    return abs(a);
  }
  template <class V>
  static unsigned special(V a) {
    return nan_or_denormal(a);
  }
  static void scalar(int i, const T* a, T* r) { AbsK<T>::scalar(i, a, r); }
};
template <typename T>
struct AbsOf {
  static bool cheap() { return denormals_pass(); }
  using IfDear = AbsK<T>;
  using IfCheap = AbsSignK<T>;
};
#else
template <typename T>
using AbsOf = AbsK<T>;
#endif

// ---- division ----

// Exact quotient; zero divisors (either sign) are redone lane by lane and reported; with
// kReportNan false a NaN dividend over zero is not reported (the LA and EP rule).
template <Fn kFn, typename T, bool kReportNan>
struct DivExactK {
  static constexpr Check kCheck = Check::kFixLanes;
  static constexpr int kUnroll = 4;
  static constexpr bool kFetchAhead = false;
  template <class V>
  static V vec(V a, V b) {
    return a / b;
  }
  template <class V>
  static unsigned special(V, V b) {
    return bits(b == splat<V>(T(0)));
  }
#if ZOK_ISA_LEVEL == 3
  template <class V>
  static V vec_fixed(V a, V b) {
    return div_rn(a, b);
  }
  template <class V>
  static unsigned special_fixed(V, V b) {
    return bits(eq_sae(b, splat<V>(T(0))));
  }
#endif
  static void scalar(int i, const T* a, const T* b, T* r) {
    r[i] = a[i] / b[i];
    if (b[i] == T(0) && (kReportNan || a[i] == a[i]))
      report(ZOK_VM_STATUS_SING, i, a, b, r, r, vm::traits(kFn).name);
  }
};

// Float reciprocal: the 12-bit estimate refined by one Newton step y' = y (2 - b y), about 23 bits.
template <class V>
inline V recip_quotient(V a, V b) {
  V y = rcp(b);
  y = y * nmul_add(b, y, splat<V>(2.0f));
  return y * a;
}
#if ZOK_ISA_LEVEL == 3
template <class V>
inline V recip_quotient_fixed(V a, V b) {
  V y = rcp(b);
  y = mul_rn(y, nmul_add_rn(b, y, splat<V>(2.0f)));
  return mul_rn(y, a);
}
#endif

template <Fn kFn, typename T>
struct DivRecipK {
  static constexpr Check kCheck = Check::kRedoBlock;
  static constexpr int kUnroll = 2;
  template <class V>
  static V vec(V a, V b) {
    return recip_quotient(a, b);
  }
  template <class V>
  static unsigned special(V, V b) {
    return outside_rcp_range(b);
  }
#if ZOK_ISA_LEVEL == 3
  // The element path gives the vector path's result on lanes inside the estimate's range.
  template <class V>
  static V vec_fixed(V a, V b) {
    return recip_quotient_fixed(a, b);
  }
  template <class V>
  static unsigned special_fixed(V, V b) {
    return outside_rcp_range_fixed(b);
  }
#endif
  static void scalar(int i, const T* a, const T* b, T* r) {
    const T bi = b[i];
    if (outside_rcp_range(splat<Vec<T>>(bi)) == 0) {
      r[i] = on_lane<DivRecipK>(a[i], bi);
      return;
    }
    r[i] = a[i] / bi;
    if (bi == T(0) && a[i] == a[i]) report(ZOK_VM_STATUS_SING, i, a, b, r, r, vm::traits(kFn).name);
  }
};

// 1/a: as the division kernels with a dividend of 1, reporting a zero argument unless kReport is
// false (the double EP kernel).
template <Fn kFn, typename T, bool kExact, bool kReport>
struct InvK {
  static constexpr Check kCheck = kExact ? Check::kFixLanes : Check::kRedoBlock;
  static constexpr int kUnroll = 2;
  template <class V>
  static V vec(V a) {
    if constexpr (kExact) {
      return splat<V>(T(1)) / a;
    } else {
      return recip_quotient(splat<V>(T(1)), a);
    }
  }
  template <class V>
  static unsigned special(V a) {
    if constexpr (kExact) {
      return bits(a == splat<V>(T(0)));
    } else {
      return outside_rcp_range(a);
    }
  }
#if ZOK_ISA_LEVEL == 3
  template <class V>
  static V vec_fixed(V a) {
    if constexpr (kExact) {
      return div_rn(splat<V>(T(1)), a);
    } else {
      return recip_quotient_fixed(splat<V>(T(1)), a);
    }
  }
  template <class V>
  static unsigned special_fixed(V a) {
    if constexpr (kExact) {
      return bits(eq_sae(a, splat<V>(T(0))));
    } else {
      return outside_rcp_range_fixed(a);
    }
  }
#endif
  static void scalar(int i, const T* a, T* r) {
    const T x = a[i];
    if (!kExact && outside_rcp_range(splat<Vec<T>>(x)) == 0) {
      r[i] = on_lane<InvK>(x);
      return;
    }
    r[i] = T(1) / x;
    if (kReport && x == T(0)) report(ZOK_VM_STATUS_SING, i, a, a, r, r, vm::traits(kFn).name);
  }
};

// ---- rounding ----

template <typename T, int kMode>
struct RoundModeK : NoCheck {
  template <class V>
  static V vec(V a) {
    return round<kMode>(a);
  }
#if ZOK_ISA_LEVEL == 3
  // Floor, Ceil and Trunc: the direction is the instruction's own.
  template <class V>
  requires((kMode & _MM_FROUND_CUR_DIRECTION) == 0) static V vec_fixed(V a) {
    return round_sae<kMode>(a);
  }
#endif
  static void scalar(int i, const T* a, T* r) {
    r[i] = on_lane<RoundModeK>(a[i]);
  }
};

// Halfway cases away from zero: round |a| to nearest-even, add 1 where exactly 0.5 was dropped,
// and put the sign back (so -0.4 gives -0).
template <typename T>
struct RoundHalfAwayK : NoCheck {
  template <class V>
  static V vec(V a) {
    const V m = abs(a);
    V t = round<ZOK_RND_NEAREST>(m);
    t = select((m - t) == splat<V>(T(0.5)), t, t + splat<V>(T(1)));
    return or_sign(t, a);
  }
  static void scalar(int i, const T* a, T* r) { r[i] = on_lane<RoundHalfAwayK>(a[i]); }
};

// Frac: a - trunc(a) with the sign of a; infinities and NaNs take the scalar path.
template <typename T>
struct FracK {
  static constexpr Check kCheck = Check::kRedoBlock;
  static constexpr int kUnroll = 2;
  template <class V>
  static V vec(V a) {
    return or_sign(a - round<ZOK_RND_TRUNC>(a), a);
  }
  template <class V>
  static unsigned special(V a) {
    return outside<V>(abs(a) <= splat<V>(Limits<T>::kMax));
  }
  static void scalar(int i, const T* a, T* r) {
    const T x = a[i];
    if (x != x) {
      r[i] = x + x;
    } else if (x == T(__builtin_inf())) {
      r[i] = T(0);
    } else if (x == -T(__builtin_inf())) {
      r[i] = -T(0);
    } else {
      r[i] = on_lane<FracK>(x);
    }
  }
};

// The whole part of m = |a| is truncated by the instruction's own rounding, so the kernel runs under
// any rounding direction; m - t is exact.
template <typename T, typename V>
inline void modf_split(V a, V& whole, V& frac) {
  const V m = abs(a);
  const V t = round<ZOK_RND_TRUNC>(m);
  whole = or_sign(t, a);
  frac = or_sign(m - t, a);
}

template <typename T>
inline void modf_scalar(int i, const T* a, T* r1, T* r2) {
  const T x = a[i];
  if (x != x) {
    r1[i] = r2[i] = x + x;
    return;
  }
  const Vec<T> v = splat<Vec<T>>(x);
  if (bits(abs(v) <= splat<Vec<T>>(Limits<T>::kIntegral)) == 0) {
    // Infinite, or so large that it has no fraction.
    r1[i] = x;
    r2[i] = lane0(or_sign(splat<Vec<T>>(T(0)), v));
    return;
  }
  Vec<T> w, f;
  modf_split<T>(v, w, f);
  r1[i] = lane0(w);
  r2[i] = lane0(f);
}

template <typename T>
struct ModfK {
  static constexpr Check kCheck = Check::kRedoBlock;
  template <class V>
  static unsigned special(V x) {
    return outside<V>(abs(x) <= splat<V>(Limits<T>::kIntegral));
  }
  template <class V>
  static void vec(V x, V& whole, V& frac) {
    modf_split<T>(x, whole, frac);
  }
  static void scalar(int i, const T* a, T* r1, T* r2) { modf_scalar(i, a, r1, r2); }
};

// ---- linear fraction ----

// Float: the denominator's reciprocal estimate refined once, y' = 2y - d y y. A zero scaleb makes the
// denominator the constant shiftb, divided once exactly; a zero scalea makes the numerator shifta
// (b, respectively a, is then never read as part of a product, so an infinity there gives no NaN).
inline void linear_frac(int n, const float* a, const float* b, float sa, float sha, float sb, float shb,
                        float* r) {
  using V = Vec<float>;
  if (sb == 0.0f) {
    const V c = splat<V>(1.0f / shb), vsa = splat<V>(sa), vsha = splat<V>(sha);
    map_loop<2>(n, a, b, r, [&](V x, V) { return (vsa * x + vsha) * c; });
    return;
  }
  const V vsa = splat<V>(sa), vsha = splat<V>(sha), vsb = splat<V>(sb), vshb = splat<V>(shb);
  auto recip = [&](V y) {
    const V d = vsb * y + vshb;
    const V e = rcp(d);
    return e + e - d * e * e;
  };
  if (sa == 0.0f) {
    map_loop<2>(n, a, b, r, [&](V, V y) { return recip(y) * vsha; });
  } else {
    map_loop<2>(n, a, b, r, [&](V x, V y) { return recip(y) * (vsa * x + vsha); });
  }
}

// Double: exact divisions. Neither type fuses the products, so every instruction set gives the
// same results.
inline void linear_frac(int n, const double* a, const double* b, double sa, double sha, double sb, double shb,
                        double* r) {
  using V = Vec<double>;
  const V vsa = splat<V>(sa), vsha = splat<V>(sha), vsb = splat<V>(sb), vshb = splat<V>(shb);
  auto num = [&](V x) { return sa == 0.0 ? vsha : vsa * x + vsha; };
  if (sb == 0.0) {
    map_loop<2>(n, a, b, r, [&](V x, V) { return num(x) / vshb; });
  } else {
    map_loop<2>(n, a, b, r, [&](V x, V y) { return num(x) / (vsb * y + vshb); });
  }
}

template <typename T>
struct LinearFracK {
  static void run(int n, const T* a, const T* b, T sa, T sha, T sb, T shb, T* r) {
    linear_frac(n, a, b, sa, sha, sb, shb, r);
  }
};

// ---- the policy of each function and slot ----

template <int kMode>
struct RoundIn {
  template <Fn f, int>
  using Of = RoundModeK<vm::Elem<f>, kMode>;
};
// Float LA and EP Div refine a reciprocal estimate, or divide where division costs no more (AMD's
// cores). Double LA and EP divide exactly: on current processors a refined estimate costs more than
// the division instruction. LA and EP differ from HA only in their report rule (a NaN over zero is
// reported by HA alone).
template <Fn f, int s>
using DivOf = std::conditional_t<s != vm::kHA && vm::traits(f).type == 's',
                                 DivisionCost<DivRecipK<f, vm::Elem<f>>, DivExactK<f, vm::Elem<f>, false>>,
                                 DivExactK<f, vm::Elem<f>, s == vm::kHA>>;
// Inv: exact in HA and in double; every kernel but double EP reports a zero argument.
template <Fn f, int s>
using InvOf = InvK<f, vm::Elem<f>, s == vm::kHA || vm::traits(f).type == 'd',
                   !(s == vm::kEP && vm::traits(f).type == 'd')>;

}  // namespace

void register_arith(vm::KernelSlots& s) {
  using enum Fn;
  reg<sAdd, ByElem<AddK>::Of>(s);
  reg<dAdd, ByElem<AddK>::Of>(s);
  reg<sSub, ByElem<SubK>::Of>(s);
  reg<dSub, ByElem<SubK>::Of>(s);
  reg<sMul, ByElem<MulK>::Of>(s);
  reg<dMul, ByElem<MulK>::Of>(s);
  reg<sSqr, ByElem<SqrK>::Of>(s);
  reg<dSqr, ByElem<SqrK>::Of>(s);
  reg<sAbs, ByElem<AbsOf>::Of>(s);
  reg<dAbs, ByElem<AbsOf>::Of>(s);
  reg<sDiv, DivOf>(s);
  reg<dDiv, DivOf>(s);
  reg<sInv, InvOf>(s);
  reg<dInv, InvOf>(s);
  reg<sLinearFrac, ByElem<LinearFracK>::Of>(s);
  reg<dLinearFrac, ByElem<LinearFracK>::Of>(s);
  reg<sFloor, RoundIn<ZOK_RND_FLOOR>::Of>(s);
  reg<dFloor, RoundIn<ZOK_RND_FLOOR>::Of>(s);
  reg<sCeil, RoundIn<ZOK_RND_CEIL>::Of>(s);
  reg<dCeil, RoundIn<ZOK_RND_CEIL>::Of>(s);
  reg<sTrunc, RoundIn<ZOK_RND_TRUNC>::Of>(s);
  reg<dTrunc, RoundIn<ZOK_RND_TRUNC>::Of>(s);
  reg<sRound, ByElem<RoundHalfAwayK>::Of>(s);
  reg<dRound, ByElem<RoundHalfAwayK>::Of>(s);
  reg<sNearbyInt, RoundIn<ZOK_RND_CURRENT_NOEXC>::Of>(s);
  reg<dNearbyInt, RoundIn<ZOK_RND_CURRENT_NOEXC>::Of>(s);
  reg<sRint, RoundIn<ZOK_RND_CURRENT>::Of>(s);
  reg<dRint, RoundIn<ZOK_RND_CURRENT>::Of>(s);
  reg<sModf, ByElem<ModfK>::Of>(s);
  reg<dModf, ByElem<ModfK>::Of>(s);
  reg<sFrac, ByElem<FracK>::Of>(s);
  reg<dFrac, ByElem<FracK>::Of>(s);
}

}  // namespace zok::ZOK_ISA_NS
