// Complex kernels with a kernel per flavour (Add, Sub, Mul, MulByConj, Div, Abs, Arg, CIS, Exp, Ln,
// cSqrt), compiled once per instruction set; the functions of one kernel for every flavour come from
// complex_scalar.cpp.
//
// Contract (measured against MPC in tests/vm/complex_accuracy_test.cpp), per part:
//   c: computed in double and rounded once to float, within 1 ulp in every flavour.
//   z: Add, Sub exact; Mul, MulByConj, Div LA/HA with exact products (within 1 ulp), EP plain
//     formulas; Abs HA with an exact sum of squares, LA/EP plain; Arg the arctangent of the trig
//     family's Atan2 method of the flavour; CIS its SinCos method (HA with the reduced argument in two
//     doubles); Exp HA e^x and cos y, sin y each in two doubles with one rounding of their product,
//     LA/EP e^x cos y, e^x sin y in one double each; Ln HA ln|a| from the sum of squares in two
//     doubles, by a series in |a|^2 - 1 near the unit circle, and the HA arctangent; Ln LA/EP ln|a|
//     through log1p of an exact |a|^2 - 1 near the unit circle.
//   Abs, Arg never overflow or underflow inside: extreme parts are scaled.
// Elements go through the vectors W at a time as a vector of real parts and one of imaginary parts
// (in double, float parts widened); arguments outside a kernel's vector range, and overflowing
// results, go through the scalar path element by element; a tail shorter than a vector runs the
// same vector computation on broadcast parts, so an element's result does not depend on its place.
// Reports, code 3 with the element: Add, Sub, Mul, MulByConj, Div in their LA/HA kernel and Exp in
// every kernel, for a result with an infinite part while every argument part is finite; a zero divisor
// with a non-zero dividend gives the C99 Annex G infinity and so reports too. EP arithmetic, Abs, Arg,
// CIS, Ln and Sqrt never report.
#include <algorithm>
#include <cmath>
#include <complex>

#include "frame/kernel_frame.h"
#include "frame/simd/exact.h"
#include "kernels/complex/complex_scalar.h"
#include "kernels/explog/explog_common.h"
#include "kernels/explog/explog_reg.h"
#include "kernels/trig/atrig_common.h"

namespace zok::ZOK_ISA_NS {

namespace {

using cplx::Cc;
using cplx::Cz;
using cplx::finite_parts;
using cplx::infinite_part;
using vm::Fn;
using vm::kEP;
using vm::kHA;
using vm::kLA;

template <Fn kFn>
using C = std::complex<std::conditional_t<vm::traits(kFn).type == 'c', float, double>>;
template <Fn kFn>
using R = typename C<kFn>::value_type;
template <Fn kFn>
inline constexpr bool kFloat = vm::traits(kFn).type == 'c';

constexpr int kBlock = 32;

// Runs op over blocks: op.fast computes an element into scratch and says whether it stands; the
// others go, in ascending order, through op.slow, which stores (and reports) the element itself.
template <Fn kFn, int kSlot, class Op, class A, class B, class Out>
void blocks(int n, const A* a, const B* b, Out* r) {
  if (n <= 0) return;
  with_control<kFn, kSlot>([&] {
    for (int i0 = 0; i0 < n; i0 += kBlock) {
      const int m = std::min(kBlock, n - i0);
      Out out[kBlock];
      bool ok[kBlock];
      for (int j = 0; j < m; ++j) ok[j] = Op::fast(a[i0 + j], b[i0 + j], out[j]);
      for (int j = 0; j < m; ++j) {
        if (ok[j]) {
          r[i0 + j] = out[j];
        } else {
          Op::slow(i0 + j, a, b, r);
        }
      }
    }
  });
}

// ---- complex parts in vectors ----

// W elements as a vector of real parts and one of imaginary parts. AVX-512 separates the parts of
// two vectors with two-source permutes, in element order. The narrower sets unpack within 128-bit
// lanes, which on AVX2 leaves the elements in the order 0 2 1 3: there real arrays are put in the
// same order and lane masks back in element order.
constexpr int W = VD::kLanes;
struct Parts {
  VD re, im;
};

inline Parts split(VD a0, VD a1) {
#if ZOK_ISA_LEVEL == 1
  return {{_mm_unpacklo_pd(a0.v, a1.v)}, {_mm_unpackhi_pd(a0.v, a1.v)}};
#elif ZOK_ISA_LEVEL == 2
  return {{_mm256_unpacklo_pd(a0.v, a1.v)}, {_mm256_unpackhi_pd(a0.v, a1.v)}};
#else
  const __m512i even = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
  const __m512i odd = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
  return {{_mm512_permutex2var_pd(a0.v, even, a1.v)}, {_mm512_permutex2var_pd(a0.v, odd, a1.v)}};
#endif
}
// The interleaved parts of p, back as two vectors.
inline void join(Parts p, VD& a0, VD& a1) {
#if ZOK_ISA_LEVEL <= 2
  const Parts t = split(p.re, p.im);  // the unpacking is its own inverse
  a0 = t.re;
  a1 = t.im;
#else
  const __m512i lo = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
  const __m512i hi = _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15);
  a0 = {_mm512_permutex2var_pd(p.re.v, lo, p.im.v)};
  a1 = {_mm512_permutex2var_pd(p.re.v, hi, p.im.v)};
#endif
}
// A real array's lanes in the order of split's lanes and back (the exchange is its own inverse).
inline VD reorder(VD x) {
#if ZOK_ISA_LEVEL == 2
  return {_mm256_permute4x64_pd(x.v, 0xD8)};
#else
  return x;
#endif
}
inline unsigned element_order(unsigned lanes) {
#if ZOK_ISA_LEVEL == 2
  return (lanes & 0x9u) | ((lanes & 0x2u) << 1) | ((lanes & 0x4u) >> 1);
#else
  return lanes;
#endif
}
// W floats widened, and W doubles rounded to float (under the kernel's rounding, like a cast).
inline VD widen_w(const float* p) {
#if ZOK_ISA_LEVEL == 1
  return {_mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))))};
#elif ZOK_ISA_LEVEL == 2
  return {_mm256_cvtps_pd(_mm_loadu_ps(p))};
#else
  return {_mm512_cvtps_pd(_mm256_loadu_ps(p))};
#endif
}
inline void narrow_w(float* p, VD x) {
#if ZOK_ISA_LEVEL == 1
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(x.v)));
#elif ZOK_ISA_LEVEL == 2
  _mm_storeu_ps(p, _mm256_cvtpd_ps(x.v));
#else
  _mm256_storeu_ps(p, _mm512_cvtpd_ps(x.v));
#endif
}

inline Parts load(const Cz* p) {
  const double* d = reinterpret_cast<const double*>(p);
  return split(loadu(d), loadu(d + W));
}
inline Parts load(const Cc* p) {
  const VF f = loadu(reinterpret_cast<const float*>(p));
  return split(widen_lo(f), widen_hi(f));
}
inline VD load(const double* p) {
  return reorder(loadu(p));
}
inline VD load(const float* p) {
  return reorder(widen_w(p));
}
inline void store(Cz* p, Parts v) {
  VD a0, a1;
  join(v, a0, a1);
  storeu(reinterpret_cast<double*>(p), a0);
  storeu(reinterpret_cast<double*>(p) + W, a1);
}
inline void store(Cc* p, Parts v) {
  VD a0, a1;
  join(v, a0, a1);
  storeu(reinterpret_cast<float*>(p), narrow(a0, a1));
}
inline void store(double* p, VD v) {
  storeu(p, reorder(v));
}
inline void store(float* p, VD v) {
  narrow_w(p, reorder(v));
}
// One element in every lane, and lane 0 back.
template <typename T>
inline Parts load_one(const std::complex<T>* p) {
  return {splat<VD>(p->real()), splat<VD>(p->imag())};
}
template <typename T>
inline VD load_one(const T* p) {
  return splat<VD>(*p);
}
template <typename T>
inline void store_one(std::complex<T>* p, Parts v) {
  *p = std::complex<T>(static_cast<T>(lane0(v.re)), static_cast<T>(lane0(v.im)));
}
template <typename T>
inline void store_one(T* p, VD v) {
  *p = static_cast<T>(lane0(v));
}

// Lanes whose value, rounded to the element type T, is finite.
template <typename T>
inline MD finite_as(VD v) {
  if constexpr (sizeof(T) == 4) v = widen_lo(narrow(v, v));
  return abs(v) <= splat<VD>(Limits<double>::kMax);
}
template <typename T>
inline MD finite_as(Parts v) {
  return finite_as<T>(v.re) & finite_as<T>(v.im);
}
inline VD neg(VD v) {
  return v ^ sign_mask<VD>();
}
inline double neg(double v) {
  return -v;
}

// Runs op over vectors of W elements: op.vec computes them and names the lanes it leaves to op.slow,
// which stores (and reports) its element itself, in ascending order. The tail goes one element at a
// time through op.vec on broadcast parts.
template <Fn kFn, int kSlot, class Op, class A, class B, class Out>
void lanes(int n, const A* a, const B* b, Out* r) {
  if (n <= 0) return;
  with_control<kFn, kSlot>([&] {
    int i = 0;
    for (; i + W <= n; i += W) {
      unsigned special;
      const auto y = Op::vec(load(a + i), load(b + i), special);
      if (special == 0) {
        store(r + i, y);
        continue;
      }
      // Through scratch: with r == a, storing first would overwrite arguments the scalar path reads.
      Out out[W];
      store(out, y);
      for (unsigned m = element_order(special); m != 0; m &= m - 1) {
        const int j = __builtin_ctz(m);
        Op::slow(i + j, a, b, r);
        out[j] = r[i + j];  // a callback's replacement stands
      }
      for (int j = 0; j < W; ++j) r[i + j] = out[j];
    }
    for (; i < n; ++i) {
      unsigned special;
      const auto y = Op::vec(load_one(a + i), load_one(b + i), special);
      if ((special & 1) != 0) {
        Op::slow(i, a, b, r);
      } else {
        store_one(r + i, y);
      }
    }
  });
}

// ---- Add, Sub ----

template <Fn kFn, bool kReport, bool kSub>
struct AddOp {
  using T = C<kFn>;
  static Parts vec(Parts x, Parts y, unsigned& special) {
    const Parts r = kSub ? Parts{x.re - y.re, x.im - y.im} : Parts{x.re + y.re, x.im + y.im};
    special = 0;
    if constexpr (kReport) special = outside<VD>(finite_as<R<kFn>>(r));
    return r;
  }
  static void slow(int i, const T* a, const T* b, T* r) {
    const T x = a[i], y = b[i];
    r[i] = kSub ? T(x.real() - y.real(), x.imag() - y.imag()) : T(x.real() + y.real(), x.imag() + y.imag());
    if (infinite_part(r[i]) && finite_parts(x) && finite_parts(y))
      cplx::report(3, i, a, b, r, vm::traits(kFn).name);
  }
};

// ---- Mul, MulByConj, Div ----

// x1 y1 + x2 y2 as an unevaluated sum hi + lo, from exact products (|x|, |y| below 2^480).
template <class V>
inline void dot2(V x1, V y1, V x2, V y2, V& hi, V& lo) {
  V p1, e1, p2, e2, s, t;
  two_prod(x1, y1, p1, e1);
  two_prod(x2, y2, p2, e2);
  two_sum(p1, p2, s, t);
  hi = s;
  lo = t + (e1 + e2);
}

inline bool moderate(double v) {
  return std::fabs(v) <= 0x1p480;
}
inline bool moderate(Cz v) {
  return moderate(v.real()) && moderate(v.imag());
}
inline MD moderate(Parts v) {
  const VD big = splat<VD>(0x1p480);
  return (abs(v.re) <= big) & (abs(v.im) <= big);
}
inline MD not_small(Parts v) {
  return max(abs(v.re), abs(v.im)) >= splat<VD>(0x1p-480);
}

// a b or a conj(b), in doubles or vectors of them. Float parts multiply exactly in double. Double
// HA sums exact products; EP rounds each product.
template <bool kConj, bool kExact, class V>
inline void product(V xr, V xi, V yr, V yi, V& rr, V& ri) {
  if constexpr (kConj) yi = neg(yi);
  if constexpr (kExact) {
    V rh, rl, ih, il;
    dot2(xr, yr, neg(xi), yi, rh, rl);
    dot2(xr, yi, xi, yr, ih, il);
    rr = rh + rl;
    ri = ih + il;
  } else {
    rr = xr * yr - xi * yi;
    ri = xr * yi + xi * yr;
  }
}

// a / b. Double HA: the numerator and |b|^2 as exact sums, one corrected quotient per part. EP and
// float parts (exact in double): the plain formula.
template <bool kExact, class V>
inline void quotient(V xr, V xi, V yr, V yi, V& qr, V& qi) {
  if constexpr (kExact) {
    V dh, dl;
    dot2(yr, yr, yi, yi, dh, dl);
    auto part = [&](V x1, V y1, V x2, V y2) {
      V nh, nl, p, e;
      dot2(x1, y1, x2, y2, nh, nl);
      const V q = nh / dh;
      two_prod(q, dh, p, e);
      return q + (((nh - p) - e) + nl - q * dl) / dh;
    };
    qr = part(xr, yr, xi, yi);
    qi = part(xi, yr, neg(xr), yi);
  } else {
    const V d = yr * yr + yi * yi;
    qr = (xr * yr + xi * yi) / d;
    qi = (xi * yr - xr * yi) / d;
  }
}

// 2^k scaling that brings the larger part of a finite non-zero v near 1.
inline int scale_of(Cz v) {
  return std::ilogb(std::max(std::fabs(v.real()), std::fabs(v.imag())));
}
inline Cz scaled(Cz v, int k) {
  return Cz(std::ldexp(v.real(), k), std::ldexp(v.imag(), k));
}

enum class Op2 { kMul, kMulByConj, kDiv };

template <Fn kFn, bool kReport, Op2 kOp>
struct MulDivOp {
  using T = C<kFn>;
  // Float: exact in double, so rounding once is all. Double HA: exact products; EP plain.
  static constexpr bool kExact = !kFloat<kFn> && kReport;
  template <class V>
  static void compute(V xr, V xi, V yr, V yi, V& rr, V& ri) {
    if constexpr (kOp == Op2::kDiv) {
      quotient<kExact>(xr, xi, yr, yi, rr, ri);
    } else {
      product<kOp == Op2::kMulByConj, kExact>(xr, xi, yr, yi, rr, ri);
    }
  }
  static Cz compute(Cz x, Cz y) {
    double rr, ri;
    compute(x.real(), x.imag(), y.real(), y.imag(), rr, ri);
    return Cz(rr, ri);
  }
  static Parts vec(Parts x, Parts y, unsigned& special) {
    Parts r;
    compute(x.re, x.im, y.re, y.im, r.re, r.im);
    MD ok = finite_as<R<kFn>>(r);
    // Double: the exact steps need moderate parts; a quotient also arguments not too small, or the
    // products of the numerator and of |b|^2 lose their low parts to underflow.
    if constexpr (!kFloat<kFn>) {
      ok = ok & moderate(x) & moderate(y);
      if constexpr (kOp == Op2::kDiv) ok = ok & not_small(x) & not_small(y);
    }
    special = outside<VD>(ok);
    return r;
  }
  static void slow(int i, const T* a, const T* b, T* r) {
    const T x = a[i], y = kOp == Op2::kMulByConj ? std::conj(b[i]) : b[i];
    const bool finite = finite_parts(x) && finite_parts(y);
    const bool zero = (x.real() == 0 && x.imag() == 0) || (y.real() == 0 && y.imag() == 0);
    if (!finite || zero) {
      // Infinities, NaNs, zeros and the zero divisor: the C99 Annex G rules of the language's own
      // operators.
      r[i] = kOp == Op2::kDiv ? x / y : x * y;
    } else {
      // Finite and non-zero: scale both to parts near 1, compute, scale back (overflow or underflow
      // happens only in that last step, where the result itself overflows or underflows).
      const int kx = scale_of(Cz(x)), ky = scale_of(Cz(y));
      const Cz w = compute(scaled(Cz(x), -kx), scaled(Cz(b[i]), -ky));
      const Cz v = scaled(w, kOp == Op2::kDiv ? kx - ky : kx + ky);
      r[i] = T(static_cast<R<kFn>>(v.real()), static_cast<R<kFn>>(v.imag()));
    }
    if (kReport && finite && infinite_part(r[i])) cplx::report(3, i, a, b, r, vm::traits(kFn).name);
  }
};

// ---- Abs, Arg ----

// |a| without intermediate overflow or underflow: float parts square exactly in double; double HA
// takes the exact sum of squares and corrects the root once; extreme double parts are scaled first.
template <Fn kFn, bool kExact>
struct AbsOp {
  using T = C<kFn>;
  template <class V>
  static V root(V x, V y) {
    using std::sqrt;
    if constexpr (kExact) {
      V h, l, p, e;
      dot2(x, x, y, y, h, l);
      const V s = sqrt(h);
      two_prod(s, s, p, e);
      return s + (((h - p) - e) + l) / (s + s);
    } else {
      return sqrt(x * x + y * y);
    }
  }
  static VD vec(Parts x, Parts, unsigned& special) {
    const VD re = abs(x.re), im = abs(x.im), big = max(re, im);
    // Float parts are finite below 2^128, where their squares are exact in double.
    if constexpr (kFloat<kFn>) {
      special = outside<VD>(big <= splat<VD>(0x1p128));
    } else {
      special = outside<VD>((big <= splat<VD>(0x1p480)) & (big >= splat<VD>(0x1p-480)));
    }
    if constexpr (kFloat<kFn>) {
      return sqrt(re * re + im * im);
    } else {
      return root(re, im);
    }
  }
  static void slow(int i, const T* a, const T*, R<kFn>* r) {
    const double re = std::fabs(a[i].real()), im = std::fabs(a[i].imag());
    if (std::isinf(re) || std::isinf(im)) {
      r[i] = INFINITY;  // even beside a NaN
    } else if (std::isnan(re) || std::isnan(im)) {
      r[i] = NAN;
    } else if (re == 0 && im == 0) {
      r[i] = 0;
    } else {
      const int k = scale_of(Cz(re, im));
      r[i] = static_cast<R<kFn>>(std::ldexp(root(std::ldexp(re, -k), std::ldexp(im, -k)), k));
    }
  }
};

// The larger part within [2^-960, 2^990]: the range of the arctangent of a quotient.
inline MD atan2_range(Parts x) {
  const VD ya = abs(x.im), xb = abs(x.re), hi = splat<VD>(0x1p990);
  return (ya <= hi) & (xb <= hi) & (max(ya, xb) >= splat<VD>(0x1p-960));
}
// arg a = atan2(im, re). Double parts take the flavour's method; float parts the LA method for HA
// and the EP method otherwise, whose errors vanish in the rounding to float. Zeros, infinities,
// NaNs and extreme parts: the C library's atan2 (signed zeros and the limits of each quadrant).
template <bool kTwo, const auto& P>
inline VD arg_of(Parts x) {
  return atan2_core<P, true, kTwo>(x.im, x.re);
}
template <Fn kFn, int kSlot>
struct ArgOp {
  using T = C<kFn>;
  static VD vec(Parts x, Parts, unsigned& special) {
    special = outside<VD>(atan2_range(x));
    if constexpr (!kFloat<kFn> && kSlot == kHA) {
      return arg_of<true, td::kDAtanHA>(x);
    } else if constexpr (kFloat<kFn> == (kSlot == kHA)) {
      return arg_of<false, td::kDAtanLA>(x);
    } else {
      return arg_of<false, td::kDAtanEP>(x);
    }
  }
  static void slow(int i, const T* a, const T*, R<kFn>* r) {
    r[i] =
        static_cast<R<kFn>>(std::atan2(static_cast<double>(a[i].imag()), static_cast<double>(a[i].real())));
  }
};

// ---- CIS, Exp, Ln, Sqrt ----

// cos y and sin y of |y| up to the fast reduction's range, sin with y's sign; kTwo: each as a
// leading value and a correction (the reduced argument in two doubles).
template <bool kTwo>
inline void cos_sin(VD y, VD& ch, VD& cl, VD& sh, VD& sl) {
  const VD ay = abs(y), sign = y & sign_mask<VD>();
  if constexpr (kTwo) {
    const DReduced d = reduce_ha(ay);
    VD s0, s1, c0, c1;
    sincos_dd<td::kDSinHA, td::kDCosHA>(d.hi, d.lo, s0, s1, c0, c1);
    ch = place_cos(d.q, s0, c0);
    cl = place_cos(d.q, s1, c1);
    sh = place_sin(d.q, s0, c0) ^ sign;
    sl = place_sin(d.q, s1, c1) ^ sign;
  } else {
    const DReduced d = reduce_plain(ay);
    VD s0, c0;
    sincos_plain<td::kDSinHA, td::kDCosHA>(d.hi, s0, c0);
    ch = place_cos(d.q, s0, c0);
    sh = place_sin(d.q, s0, c0) ^ sign;
    cl = sl = splat<VD>(0.0);
  }
}
inline MD in_reduction(VD y) {
  return abs(y) <= splat<VD>(kDFast);
}

// cis x = cos x + i sin x: double HA the HA method, the others (float parts in every flavour) the
// LA method; beyond the fast reduction the exact reduction, element by element.
template <Fn kFn, int kSlot>
struct CisOp {
  using T = C<kFn>;
  static constexpr bool kTwo = !kFloat<kFn> && kSlot == kHA;
  static Parts vec(VD x, VD, unsigned& special) {
    special = outside<VD>(in_reduction(x));
    // The leading parts are the rounded values (the trig family's SinCos, bit for bit).
    VD ch, cl, sh, sl;
    cos_sin<kTwo>(x, ch, cl, sh, sl);
    return {ch, sh};
  }
  static void slow(int i, const R<kFn>* a, const R<kFn>*, T* r) {
    const double x = a[i];
    double s, c;
    if (std::isfinite(x)) {
      large_sincos(x, s, c);
      s = from_bits<double>(to_bits(s) ^ (to_bits(x) & Bits<double>::kSign));
    } else {
      s = c = x - x;
    }
    r[i] = T(static_cast<R<kFn>>(c), static_cast<R<kFn>>(s));
  }
};

// e^x (cos y + i sin y) for |x| <= 700 and y in the fast reduction's range. Double HA: e^x =
// 2^k (eh + el) from the Exp HA table step, cos y and sin y in two doubles, each part one exact
// product rounded once with its corrections. The others: e^x HA times the LA cosine and sine.
// Elsewhere the long double routine (an x87 step for that element alone) gives the Annex G values
// and the overflow edge; float results that overflow go there too.
template <Fn kFn, int kSlot>
struct ExpOp {
  using T = C<kFn>;
  static constexpr bool kTwo = !kFloat<kFn> && kSlot == kHA;
  static Parts vec(Parts x, Parts, unsigned& special) {
    VD ch, cl, sh, sl;
    cos_sin<kTwo>(x.im, ch, cl, sh, sl);
    Parts r;
    if constexpr (kTwo) {
#if ZOK_ISA_LEVEL == 3
      // On AVX-512 the 32 rows of 2^(j/32) held in registers and a polynomial one term longer.
      const DExpReduced v = dexp_reduce<5>(x.re, x.re);
      const VD thi = lookup_reg<32>(tb::kDExp32[0], v.m), tlo = lookup_reg<32>(tb::kDExp32[1], v.m);
      const VD em1 = mul_add(v.r * v.r, horner(v.r, tb::kDExpHA32), v.r);
      constexpr int kExpBits = 5;
#else
      const DExpReduced v = dexp_reduce<6>(x.re, x.re);
      VD thi, tlo;
      lookup_pairs(&tb::kDExpHiLo[0][0], v.m & lsplat(63), thi, tlo);
      const VD q = v.r * v.r * horner(v.r, tb::kDExpC);
      const VD em1 = v.r + q;
      constexpr int kExpBits = 6;
#endif
      VD eh, el;
      fast_two_sum(thi, mul_add(thi + tlo, em1, tlo), eh, el);
      const VD scale = dexp_scale<kExpBits>(v.m);
      auto times = [&](VD h, VD l) {
        VD p, e;
        two_prod(eh, h, p, e);
        return scale * (p + (e + mul_add(eh, l, el * h)));
      };
      r = {times(ch, cl), times(sh, sl)};
    } else {
      const VD e = dexp_ha(x.re);
      r = {e * ch, e * sh};
    }
    MD ok = (abs(x.re) <= splat<VD>(700.0)) & in_reduction(x.im);
    if constexpr (kFloat<kFn>) ok = ok & finite_as<float>(r);
    special = outside<VD>(ok);
    return r;
  }
  static void slow(int i, const T* a, const T*, T* r) {
    const T x = a[i];
    Cz w;
    {
      const X87Control x87;
      w = cplx::z_exp(Cz(x.real(), x.imag()));
    }
    r[i] = T(static_cast<R<kFn>>(w.real()), static_cast<R<kFn>>(w.imag()));
    if (finite_parts(x) && infinite_part(r[i])) cplx::report(3, i, a, a, r, vm::traits(kFn).name);
  }
};

// ln a = ln|a| + i arg a. Near the unit circle ln|a| = log1p(|a|^2 - 1) / 2 with |a|^2 - 1 summed
// exactly (float parts square exactly in double); elsewhere ln|a| from the scaled modulus.
template <Fn kFn>
struct LnOp {
  using T = C<kFn>;
  static double log_modulus(double x, double y) {
    x = std::fabs(x);
    y = std::fabs(y);
    if (x < y) std::swap(x, y);
    if (x >= 0.5 && x <= 1.5 && y < 1) {
      double p, e, q, f, s1, t1, s, t;
      two_prod(x, x, p, e);
      two_prod(y, y, q, f);
      two_sum(p, -1.0, s1, t1);
      two_sum(s1, q, s, t);
      return 0.5 * std::log1p(s + (t + t1 + e + f));
    }
    const int k = std::ilogb(x);
    const double xs = std::ldexp(x, -k), ys = std::ldexp(y, -k);
    return 0.5 * std::log(xs * xs + ys * ys) + k * 0.69314718055994530942;
  }
  static bool fast(T x, const T&, T& r) {
    const double re = x.real(), im = x.imag();
    if (!std::isfinite(re) || !std::isfinite(im) || (re == 0 && im == 0)) return false;
    r = T(static_cast<R<kFn>>(log_modulus(re, im)), static_cast<R<kFn>>(std::atan2(im, re)));
    return true;
  }
  static void slow(int i, const T* a, const T*, T* r) {
    const X87Control x87;
    const Cz w = cplx::z_ln(Cz(a[i].real(), a[i].imag()));
    r[i] = T(static_cast<R<kFn>>(w.real()), static_cast<R<kFn>>(w.imag()));
  }
};

// log1p(-1/2 ...): the series of log1p d = d + d^2 P(d) to d^12, enough for |d| < 2^-5.
alignas(64) constexpr double kLog1pSeries[11] = {-1.0 / 2, 1.0 / 3, -1.0 / 4,  1.0 / 5,  -1.0 / 6, 1.0 / 7,
                                                 -1.0 / 8, 1.0 / 9, -1.0 / 10, 1.0 / 11, -1.0 / 12};

// zLn HA: |a|^2 as hi + lo from exact squares; ln|a| = ln(hi + lo) / 2 by the Log10 HA logarithm of a
// sum (on AVX-512 the register-table one), or, where |a|^2 - 1 = d is below 2^-5, log1p(d) / 2 with
// d summed from the exact squares less 1 (two doubles) by the series; arg a by the HA arctangent.
// Parts whose larger one lies outside [2^-480, 2^480] (zeros, infinities, NaNs): the long double
// routine.
template <Fn kFn>
struct LnHaOp : LnOp<kFn> {
  static Parts vec(Parts x, Parts, unsigned& special) {
    const VD re = abs(x.re), im = abs(x.im), big = max(re, im);
    special = outside<VD>((big <= splat<VD>(0x1p480)) & (big >= splat<VD>(0x1p-480)));
    VD p1, e1, p2, e2, s0, t0, s1, t1, dh, dl;
    two_prod(re, re, p1, e1);
    two_prod(im, im, p2, e2);
    two_sum(p1, p2, s1, t1);
#if ZOK_ISA_LEVEL == 3
    const VD far = splat<VD>(0.5) * dln_sum_reg_ha(s1, t1 + (e1 + e2), splat<VD>(0.0));
#else
    const VD far = splat<VD>(0.5) * dln_sum_ha(s1, t1 + (e1 + e2), splat<VD>(0.0));
#endif
    two_sum(p1, splat<VD>(-1.0), s0, t0);
    two_sum(s0, p2, s1, t1);
    two_sum(s1, (t0 + t1) + (e1 + e2), dh, dl);
    const VD tail = mul_add(dh * dh, horner(dh, kLog1pSeries), dl * (splat<VD>(1.0) - dh));
    const VD near = splat<VD>(0.5) * (dh + tail);
    const VD modulus = select(abs(dh) < splat<VD>(0x1p-5), far, near);
    return {modulus, arg_of<true, td::kDAtanHA>(x)};
  }
};

// sqrt a for float parts in double: t = sqrt((|x| + |a|) / 2), then (t, y / 2t) for x >= 0 and
// (|y| / 2t, t with y's sign) for x < 0; zeros, infinities and NaNs by the Annex G routine.
template <Fn kFn>
struct SqrtOp {
  using T = C<kFn>;
  static bool fast(T x, const T&, T& r) {
    const double re = x.real(), im = x.imag();
    if (!std::isfinite(re) || !std::isfinite(im) || (re == 0 && im == 0)) return false;
    const double t = std::sqrt((std::fabs(re) + std::sqrt(re * re + im * im)) * 0.5);
    r = re >= 0 ? T(static_cast<float>(t), static_cast<float>(im / (2 * t)))
                : T(static_cast<float>(std::fabs(im) / (2 * t)), static_cast<float>(std::copysign(t, im)));
    return true;
  }
  static void slow(int i, const T* a, const T*, T* r) {
    const X87Control x87;
    const Cz w = cplx::z_sqrt(Cz(a[i].real(), a[i].imag()));
    r[i] = T(static_cast<float>(w.real()), static_cast<float>(w.imag()));
  }
};

// ---- kernels and registration ----

// The loop of a policy: vectors where it has them, blocks of elements otherwise.
template <Fn kFn, int kSlot, class Op, class A, class B, class Out>
void run(int n, const A* a, const B* b, Out* r) {
  if constexpr (requires { &Op::vec; }) {
    lanes<kFn, kSlot, Op>(n, a, b, r);
  } else {
    blocks<kFn, kSlot, Op>(n, a, b, r);
  }
}

template <Fn kFn, int kSlot, class Op>
void k_ab(int n, const C<kFn>* a, const C<kFn>* b, C<kFn>* r) {
  run<kFn, kSlot, Op>(n, a, b, r);
}
template <Fn kFn, int kSlot, class Op>
void k_a(int n, const C<kFn>* a, C<kFn>* r) {
  run<kFn, kSlot, Op>(n, a, a, r);
}
template <Fn kFn, int kSlot, class Op>
void k_c_r(int n, const C<kFn>* a, R<kFn>* r) {
  run<kFn, kSlot, Op>(n, a, a, r);
}
template <Fn kFn, int kSlot, class Op>
void k_r_c(int n, const R<kFn>* a, C<kFn>* r) {
  run<kFn, kSlot, Op>(n, a, a, r);
}

template <Fn kFn, int kSlot, class Op>
void* entry_of() {
  constexpr vm::Shape shape = vm::traits(kFn).shape;
  if constexpr (shape == vm::Shape::AB_R) return ptr(&k_ab<kFn, kSlot, Op>);
  if constexpr (shape == vm::Shape::A_R) return ptr(&k_a<kFn, kSlot, Op>);
  if constexpr (shape == vm::Shape::C_R) return ptr(&k_c_r<kFn, kSlot, Op>);
  if constexpr (shape == vm::Shape::R_C) return ptr(&k_r_c<kFn, kSlot, Op>);
  return nullptr;
}

// The slots of one function: each flavour's policy, joined where the row shares a kernel.
template <Fn kFn, template <Fn, int> class P>
void put(vm::KernelSlots& s) {
  void** slots = s[static_cast<int>(kFn)];
  constexpr vm::Share share = vm::traits(kFn).share;
  slots[kHA] = entry_of<kFn, kHA, P<kFn, kHA>>();
  slots[kLA] = share == vm::Share::LAHA ? slots[kHA] : entry_of<kFn, kLA, P<kFn, kLA>>();
  slots[kEP] = share == vm::Share::LAEP ? slots[kLA] : entry_of<kFn, kEP, P<kFn, kEP>>();
}

template <Fn f, int s>
using AddOf = AddOp<f, s != kEP, false>;
template <Fn f, int s>
using SubOf = AddOp<f, s != kEP, true>;
template <Fn f, int s>
using MulOf = MulDivOp<f, s != kEP, Op2::kMul>;
template <Fn f, int s>
using MulByConjOf = MulDivOp<f, s != kEP, Op2::kMulByConj>;
template <Fn f, int s>
using DivOf = MulDivOp<f, s != kEP, Op2::kDiv>;
template <Fn f, int s>
using AbsOf = AbsOp<f, s == kHA>;
template <Fn f, int s>
using ArgOf = ArgOp<f, s>;
template <Fn f, int s>
using CisOf = CisOp<f, s>;
template <Fn f, int s>
using ExpOf = ExpOp<f, s>;
template <Fn f, int s>
using LnOf = std::conditional_t<!kFloat<f> && s == kHA, LnHaOp<f>, LnOp<f>>;
template <Fn f, int>
using SqrtOf = SqrtOp<f>;

}  // namespace

void register_complex(vm::KernelSlots& s) {
  using enum Fn;
  cplx::register_scalar_kernels(s);
  put<cAdd, AddOf>(s);
  put<zAdd, AddOf>(s);
  put<cSub, SubOf>(s);
  put<zSub, SubOf>(s);
  put<cMul, MulOf>(s);
  put<zMul, MulOf>(s);
  put<cMulByConj, MulByConjOf>(s);
  put<zMulByConj, MulByConjOf>(s);
  put<cDiv, DivOf>(s);
  put<zDiv, DivOf>(s);
  put<cAbs, AbsOf>(s);
  put<zAbs, AbsOf>(s);
  put<cArg, ArgOf>(s);
  put<zArg, ArgOf>(s);
  put<cCIS, CisOf>(s);
  put<zCIS, CisOf>(s);
  put<cExp, ExpOf>(s);
  put<zExp, ExpOf>(s);
  put<cLn, LnOf>(s);
  put<zLn, LnOf>(s);
  put<cSqrt, SqrtOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
