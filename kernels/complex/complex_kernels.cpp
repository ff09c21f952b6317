// Complex kernels with a kernel per flavour (Add, Sub, Mul, MulByConj, Div, Abs, Arg, CIS, Exp, Ln,
// cSqrt), compiled once per instruction set; the functions of one kernel for every flavour come from
// complex_scalar.cpp.
//
// Contract (measured against MPC in tests/vm/complex_accuracy_test.cpp), per part:
//   c: computed in double and rounded once to float, within 1 ulp in every flavour.
//   z: Add, Sub exact; Mul, MulByConj, Div LA/HA with exact products (within 1 ulp), EP plain
//     formulas; Abs HA with an exact sum of squares, LA/EP plain; Arg, CIS through the C library's
//     double functions; Exp HA in long double (complex_scalar.cpp), LA/EP e^x cos y, e^x sin y; Ln HA
//     in long double, LA/EP ln|a| through log1p of an exact |a|^2 - 1 near the unit circle.
//   Abs, Arg never overflow or underflow inside: extreme parts are scaled.
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

// ---- Add, Sub ----

template <Fn kFn, bool kReport, bool kSub>
struct AddOp {
  using T = C<kFn>;
  static bool fast(T x, T y, T& r) {
    r = kSub ? T(x.real() - y.real(), x.imag() - y.imag()) : T(x.real() + y.real(), x.imag() + y.imag());
    return !kReport || !infinite_part(r);
  }
  static void slow(int i, const T* a, const T* b, T* r) {
    fast(a[i], b[i], r[i]);
    if (finite_parts(a[i]) && finite_parts(b[i])) cplx::report(3, i, a, b, r, vm::traits(kFn).name);
  }
};

// ---- Mul, MulByConj, Div ----

// x1 y1 + x2 y2 as an unevaluated sum hi + lo, from exact products (|x|, |y| below 2^480).
inline void dot2(double x1, double y1, double x2, double y2, double& hi, double& lo) {
  double p1, e1, p2, e2, s, t;
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
inline bool not_small(Cz v) {
  return std::max(std::fabs(v.real()), std::fabs(v.imag())) >= 0x1p-480;
}

// a b or a conj(b). Float parts multiply exactly in double. Double HA sums exact products; EP
// rounds each product.
template <bool kConj, bool kExact>
inline Cz product(Cz x, Cz y) {
  const double yi = kConj ? -y.imag() : y.imag();
  if constexpr (kExact) {
    double rh, rl, ih, il;
    dot2(x.real(), y.real(), -x.imag(), yi, rh, rl);
    dot2(x.real(), yi, x.imag(), y.real(), ih, il);
    return Cz(rh + rl, ih + il);
  } else {
    return Cz(x.real() * y.real() - x.imag() * yi, x.real() * yi + x.imag() * y.real());
  }
}

// a / b. Double HA: the numerator and |b|^2 as exact sums, one corrected quotient per part. EP and
// float parts (exact in double): the plain formula.
template <bool kExact>
inline Cz quotient(Cz x, Cz y) {
  if constexpr (kExact) {
    double dh, dl, nh, nl;
    dot2(y.real(), y.real(), y.imag(), y.imag(), dh, dl);
    auto part = [&](double x1, double y1, double x2, double y2) {
      dot2(x1, y1, x2, y2, nh, nl);
      const double q = nh / dh;
      double p, e;
      two_prod(q, dh, p, e);
      return q + (((nh - p) - e) + nl - q * dl) / dh;
    };
    const double re = part(x.real(), y.real(), x.imag(), y.imag());
    return Cz(re, part(x.imag(), y.real(), -x.real(), y.imag()));
  } else {
    const double d = y.real() * y.real() + y.imag() * y.imag();
    return Cz((x.real() * y.real() + x.imag() * y.imag()) / d,
              (x.imag() * y.real() - x.real() * y.imag()) / d);
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
  static Cz compute(Cz x, Cz y) {
    if constexpr (kOp == Op2::kDiv) {
      return quotient<kExact>(x, y);
    } else {
      return product<kOp == Op2::kMulByConj, kExact>(x, y);
    }
  }
  static bool fast(T x, T y, T& r) {
    const Cz w = compute(Cz(x.real(), x.imag()), Cz(y.real(), y.imag()));
    r = T(static_cast<R<kFn>>(w.real()), static_cast<R<kFn>>(w.imag()));
    if constexpr (kFloat<kFn>) return std::isfinite(r.real()) && std::isfinite(r.imag());
    // Double: the exact steps need moderate parts; a quotient also arguments not too small, or the
    // products of the numerator and of |b|^2 lose their low parts to underflow.
    const bool range =
        moderate(Cz(x)) && moderate(Cz(y)) && (kOp != Op2::kDiv || (not_small(Cz(x)) && not_small(Cz(y))));
    return range && std::isfinite(r.real()) && std::isfinite(r.imag());
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
  static double root(double x, double y) {
    if constexpr (kExact) {
      double h, l;
      dot2(x, x, y, y, h, l);
      const double s = std::sqrt(h);
      double p, e;
      two_prod(s, s, p, e);
      return s + (((h - p) - e) + l) / (2 * s);
    } else {
      return std::sqrt(x * x + y * y);
    }
  }
  static bool fast(T x, const T&, R<kFn>& r) {
    const double re = std::fabs(x.real()), im = std::fabs(x.imag());
    if constexpr (kFloat<kFn>) {
      r = static_cast<float>(std::sqrt(re * re + im * im));
      return std::isfinite(x.real()) && std::isfinite(x.imag());
    } else {
      const double big = std::max(re, im);
      if (!(big <= 0x1p480 && big >= 0x1p-480)) return false;
      r = root(re, im);
      return true;
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

// arg a = atan2(im, re), with the C library's signed zeros and infinities.
template <Fn kFn>
struct ArgOp {
  using T = C<kFn>;
  static bool fast(T x, const T&, R<kFn>& r) {
    r = static_cast<R<kFn>>(std::atan2(static_cast<double>(x.imag()), static_cast<double>(x.real())));
    return true;
  }
  static void slow(int, const T*, const T*, R<kFn>*) {}
};

// ---- CIS, Exp, Ln, Sqrt ----

template <Fn kFn>
struct CisOp {
  using T = C<kFn>;
  static bool fast(R<kFn> x, R<kFn>, T& r) {
    double s, c;
    sincos(static_cast<double>(x), &s, &c);
    r = T(static_cast<R<kFn>>(c), static_cast<R<kFn>>(s));
    return true;
  }
  static void slow(int, const R<kFn>*, const R<kFn>*, T*) {}
};

// e^x (cos y + i sin y) in double while e^x is finite there and y finite; elsewhere the long double
// routine (an x87 step for that element alone) gives the Annex G values and the overflow edge.
template <Fn kFn>
struct ExpOp {
  using T = C<kFn>;
  static bool fast(T x, const T&, T& r) {
    const double re = x.real(), im = x.imag();
    if (!(std::fabs(re) <= 700.0) || !std::isfinite(im)) return false;
    const double e = std::exp(re);
    double s, c;
    sincos(im, &s, &c);
    r = T(static_cast<R<kFn>>(e * c), static_cast<R<kFn>>(im == 0 ? im : e * s));
    return !infinite_part(r);
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
// exactly (float parts square exactly in double); elsewhere ln|a| from the scaled modulus. HA double
// takes the long double routine.
template <Fn kFn, bool kLong>
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
    if constexpr (kLong) {
      return false;
    } else {
      r = T(static_cast<R<kFn>>(log_modulus(re, im)), static_cast<R<kFn>>(std::atan2(im, re)));
      return true;
    }
  }
  static void slow(int i, const T* a, const T*, T* r) {
    const X87Control x87;
    const Cz w = cplx::z_ln(Cz(a[i].real(), a[i].imag()));
    r[i] = T(static_cast<R<kFn>>(w.real()), static_cast<R<kFn>>(w.imag()));
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

template <Fn kFn, int kSlot, class Op>
void k_ab(int n, const C<kFn>* a, const C<kFn>* b, C<kFn>* r) {
  blocks<kFn, kSlot, Op>(n, a, b, r);
}
template <Fn kFn, int kSlot, class Op>
void k_a(int n, const C<kFn>* a, C<kFn>* r) {
  blocks<kFn, kSlot, Op>(n, a, a, r);
}
template <Fn kFn, int kSlot, class Op>
void k_c_r(int n, const C<kFn>* a, R<kFn>* r) {
  blocks<kFn, kSlot, Op>(n, a, a, r);
}
template <Fn kFn, int kSlot, class Op>
void k_r_c(int n, const R<kFn>* a, C<kFn>* r) {
  blocks<kFn, kSlot, Op>(n, a, a, r);
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
template <Fn f, int>
using ArgOf = ArgOp<f>;
template <Fn f, int>
using CisOf = CisOp<f>;
template <Fn f, int>
using ExpOf = ExpOp<f>;
template <Fn f, int s>
using LnOf = LnOp<f, !kFloat<f> && s == kHA>;
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
  // zExp's HA kernel is the long double routine's (complex_scalar.cpp); LA and EP share this one.
  void* const ha = s[static_cast<int>(zExp)][kHA];
  put<zExp, ExpOf>(s);
  s[static_cast<int>(zExp)][kHA] = ha;
  put<cLn, LnOf>(s);
  put<zLn, LnOf>(s);
  put<cSqrt, SqrtOf>(s);
}

}  // namespace zok::ZOK_ISA_NS
