// Pieces shared by the float and double trigonometric kernels: the large-argument reduction, the
// double reductions by pi/2, the sine and cosine of a reduced argument, and the special values.
#pragma once

#include <cstdint>

#include "frame/kernel_frame.h"
#include "frame/simd/exact.h"
#include "frame/simd/poly.h"
#include "kernels/trig/trig_tables.h"

namespace zok::ZOK_ISA_NS {

namespace {

using vm::Fn;
namespace td = zok::trig_data;

// Block length in vectors for a block of `elements` (at least one vector).
template <typename T>
constexpr int trig_unroll(int elements) {
  return elements / Vec<T>::kLanes > 0 ? elements / Vec<T>::kLanes : 1;
}

constexpr double kDShifter = 6755399441055744.0;  // 1.5 * 2^52: N lands in the low bits
constexpr float kSShifter = 12582912.0f;          // 1.5 * 2^23
// Below (2^20 - 1/2) pi/2 the quotient N stays under 2^20, where N times each 33-bit part of pi/2 is
// exact; the float kernels stop at 10000, where N times each of their parts of pi is.
constexpr double kDFast = 1.6e6;
constexpr float kSFast = 10000.0f;

// ============================================================================================
// Large arguments: |x| = (q + f) pi/2 with q an integer and |f| <= 1/2, from a 192-bit window of
// 2/pi. Bits of 2/pi that would only add multiples of 4 to q are skipped, so the window starts
// at the argument's exponent; the product keeps 190 fraction bits, 2^-137 after the window's own
// truncation, which leaves 75 correct bits of f even at the double closest to a multiple of pi/2
// (|f| near 2^-62).
// ============================================================================================

struct Quadrant {
  int q;          // the quadrant, q mod 4
  double hi, lo;  // the reduced argument f pi/2 as hi + lo
};

inline Quadrant reduce_large(double ax) {
  using u128 = unsigned __int128;
  const uint64_t u = to_bits(ax);
  const int ex = static_cast<int>(u >> 52) - 1075;  // ax = m 2^ex
  const uint64_t m = (u & 0xFFFFFFFFFFFFFull) | (1ull << 52);
  const int off = ex - 2 + 64;  // at least 30: ax >= 2^20 here; the zero word covers ex < 2
  const int w = off >> 6, sh = off & 63;
  auto word = [&](int k) {
    return sh == 0 ? td::kTwoOverPi[w + k]
                   : (td::kTwoOverPi[w + k] << sh) | (td::kTwoOverPi[w + k + 1] >> (64 - sh));
  };
  const u128 p2 = static_cast<u128>(m) * word(0), p1 = static_cast<u128>(m) * word(1),
             p0 = static_cast<u128>(m) * word(2);
  // The product as 64-bit digits d2 d1 d0 (the digit above holds only multiples of 4); its value over
  // 2^190 is |x| 2/pi modulo 4.
  const u128 t1 = (p0 >> 64) + static_cast<uint64_t>(p1);
  const u128 t2 = (t1 >> 64) + (p1 >> 64) + static_cast<uint64_t>(p2);
  const uint64_t d0 = static_cast<uint64_t>(p0), d1 = static_cast<uint64_t>(t1),
                 d2 = static_cast<uint64_t>(t2);
  const u128 frac =
      (static_cast<u128>(d2 & 0x3FFFFFFFFFFFFFFFull) << 66) | (static_cast<u128>(d1) << 2) | (d0 >> 62);
  // A fraction of 1/2 or more rounds the quadrant up and leaves f negative (two's complement).
  const __int128 sf = static_cast<__int128>(frac);
  const int q = static_cast<int>(((d2 >> 62) + (sf < 0 ? 1 : 0)) & 3);
  const u128 mag = sf < 0 ? static_cast<u128>(-sf) : static_cast<u128>(sf);
  if (mag == 0) return {q, 0.0, 0.0};
  // f = mag 2^-128 as fh + fl: the leading 53 bits exactly, the next 75 rounded (the library's
  // 128-bit conversions are calls, these are two plain ones).
  const uint64_t top = static_cast<uint64_t>(mag >> 64), bottom = static_cast<uint64_t>(mag);
  const int lz = top != 0 ? __builtin_clzll(top) : 64 + __builtin_clzll(bottom);
  const u128 norm = mag << lz;
  const uint64_t nh = static_cast<uint64_t>(norm >> 64), nl = static_cast<uint64_t>(norm);
  const double scale_h = from_bits<double>(static_cast<uint64_t>(1023 - 53 - lz) << 52);
  const double scale_l = from_bits<double>(static_cast<uint64_t>(1023 - 128 - lz) << 52);
  const double rest = static_cast<double>(static_cast<int64_t>(nh & 0x7FF)) * 0x1p64 +
                      static_cast<double>(static_cast<int64_t>(nl >> 1)) * 2.0;
  const double sign = sf < 0 ? -1.0 : 1.0;
  const double fh = static_cast<double>(static_cast<int64_t>(nh >> 11)) * scale_h * sign;
  const double fl = rest * scale_l * sign;
  double p, e;
  two_prod(fh, td::kDPio2Hi, p, e);
  const double tail = e + (fh * td::kDPio2Lo + fl * td::kDPio2Hi);
  Quadrant out;
  out.q = q;
  fast_two_sum(p, tail, out.hi, out.lo);
  return out;
}

// ============================================================================================
// Double reductions by pi/2 over the fast range: |x| = N pi/2 + r, |r| <= pi/4 (a rounding beyond).
// ============================================================================================

struct DReduced {
  VL q;       // N in the low bits
  VD hi, lo;  // r = hi + lo (lo = 0 for the plain reduction)
};

inline VD quotient(VD ax, VL& q) {
  const VD t = mul_add(ax, splat<VD>(td::kD2OverPi), splat<VD>(kDShifter));
  q = as_int(t);
  return t - splat<VD>(kDShifter);
}

// r in one double: the first product and difference are exact, the others lose only bits of r.
inline DReduced reduce_plain(VD ax) {
  DReduced d;
  const VD n = quotient(ax, d.q);
  VD r = ax;
  for (double c : {td::kDPio2_1, td::kDPio2_2, td::kDPio2_3, td::kDPio2_4}) r = nmul_add(n, splat<VD>(c), r);
  d.hi = r;
  d.lo = splat<VD>(0.0);
  return d;
}

// r as hi + lo: every product is exact, the two differences keep their errors.
inline DReduced reduce_ha(VD ax) {
  DReduced d;
  const VD n = quotient(ax, d.q);
  const VD t1 = nmul_add(n, splat<VD>(td::kDPio2_1), ax);
  const VD mn = splat<VD>(0.0) - n;
  VD a, ea, b, eb;
  two_sum(t1, mn * splat<VD>(td::kDPio2_2), a, ea);
  two_sum(a, mn * splat<VD>(td::kDPio2_3), b, eb);
  fast_two_sum(b, nmul_add(n, splat<VD>(td::kDPio2_4), ea + eb), d.hi, d.lo);
  return d;
}

// ============================================================================================
// Sine and cosine of r = hi + lo, |r| <= pi/4, and their placement by quadrant.
// ============================================================================================

// sin r and cos r each as a leading value and a correction: sin(hi + lo) = sin hi + lo cos hi, and
// 1 - r^2/2 is split so that its rounding error is kept, r^2 itself taken exactly (its rounding
// error alone would cost the cosine near pi/4 a third of an ulp).
template <const double (&S)[6], const double (&C)[6]>
inline void sincos_dd(VD hi, VD lo, VD& sh, VD& sl, VD& ch, VD& cl) {
  VD p, pe;
  two_prod(hi, hi, p, pe);
  const VD hz = splat<VD>(0.5) * p;
  const VD st = mul_add(hi * p, horner(p, S), nmul_add(hz, lo, lo));
  fast_two_sum(hi, st, sh, sl);
  const VD w = splat<VD>(1.0) - hz;
  const VD ct = ((splat<VD>(1.0) - w) - hz) + (mul_sub(p * p, horner(p, C), hi * lo) - splat<VD>(0.5) * pe);
  fast_two_sum(w, ct, ch, cl);
}

// sin r and cos r of one double, with the polynomials S and C.
template <const auto& S, const auto& C>
inline void sincos_plain(VD r, VD& s, VD& c) {
  const VD p = r * r, hz = splat<VD>(0.5) * p;
  s = mul_add(r * p, horner(p, S), r);
  const VD w = splat<VD>(1.0) - hz;
  c = w + (((splat<VD>(1.0) - w) - hz) + p * p * horner(p, C));
}

// Sign bits of sin and cos of N pi/2 + r: -sin r, -cos r in quadrants 2 and 3 (and 1 for cos).
inline VD sin_sign(VL q) {
  return as_double(shl<62>(q & splat<VL>(2)));
}
inline VD cos_sign(VL q) {
  return as_double(shl<62>((q + splat<VL>(1)) & splat<VL>(2)));
}
// Quadrants 1 and 3 exchange sine and cosine.
inline MD odd(VL q) {
  return (q & splat<VL>(1)) == splat<VL>(1);
}

// tan of N pi/2 + hi + lo from sin and cos as leading values and corrections: the quotient and
// one correction step from its exact residual (num_h - t den_h by an exact product).
inline VD tan_dd(VL q, VD sh, VD sl, VD ch, VD cl) {
  const MD o = odd(q);
  const VD nh = select(o, sh, ch), nl = select(o, sl, cl);  // cot r = cos / sin in odd quadrants
  const VD dh = select(o, ch, sh), dl = select(o, cl, sl);
  const VD t = nh / dh;
  VD p, e;
  two_prod(t, dh, p, e);
  const VD t2 = (((nh - p) - e) + nmul_add(t, dl, nl)) / dh;
  return (t + t2) ^ (sign_mask<VD>() & as_double(shl<63>(q)));
}

// Sine and cosine of N pi/2 + r from sin r and cos r.
inline VD place_sin(VL q, VD s, VD c) {
  return select(odd(q), s, c) ^ sin_sign(q);
}
inline VD place_cos(VL q, VD s, VD c) {
  return select(odd(q), c, s) ^ cos_sign(q);
}

// The double methods of Sin (kOut 0), Cos (1) and SinCos (2): values at |x| = N pi/2 + hi + lo,
// before the argument's sign. HA (kTwoPart) carries lo, LA drops it.
template <bool kTwo, int kOut>
struct DQuadrant {
  static constexpr bool kTwoPart = kTwo;
  static void sin_cos(VD hi, VD lo, VD& s, VD& c) {
    if constexpr (kTwo) {
      VD sl, cl;
      sincos_dd<td::kDSinHA, td::kDCosHA>(hi, lo, s, sl, c, cl);
    } else {
      sincos_plain<td::kDSinHA, td::kDCosHA>(hi, s, c);
    }
  }
  static VD eval(VL q, VD hi, VD lo) {
    VD s, c;
    sin_cos(hi, lo, s, c);
    return kOut == 0 ? place_sin(q, s, c) : place_cos(q, s, c);
  }
  static void eval2(VL q, VD hi, VD lo, VD& s, VD& c) {
    VD sr, cr;
    sin_cos(hi, lo, sr, cr);
    s = place_sin(q, sr, cr);
    c = place_cos(q, sr, cr);
  }
};
using DSinHA = DQuadrant<true, 0>;
using DCosHA = DQuadrant<true, 1>;
using DSinCosHA = DQuadrant<true, 2>;
struct DTanHA {
  static constexpr bool kTwoPart = true;
  static VD eval(VL q, VD hi, VD lo) {
    VD sh, sl, ch, cl;
    sincos_dd<td::kDSinHA, td::kDCosHA>(hi, lo, sh, sl, ch, cl);
    return tan_dd(q, sh, sl, ch, cl);
  }
};

// Arguments beyond the fast range: the HA method on the exact reduction, for every flavour of both
// precisions (the float kernels round its double result once).
template <class M>
inline double large_eval(double x) {
  const Quadrant g = reduce_large(from_bits<double>(to_bits(x) & Bits<double>::kMagnitude));
  const VD y = M::eval(splat<VL>(g.q), splat<VD>(g.hi), splat<VD>(g.lo));
  return lane0(y);
}
inline void large_sincos(double x, double& s, double& c) {
  const Quadrant g = reduce_large(from_bits<double>(to_bits(x) & Bits<double>::kMagnitude));
  VD vs, vc;
  DSinCosHA::eval2(splat<VL>(g.q), splat<VD>(g.hi), splat<VD>(g.lo), vs, vc);
  s = lane0(vs);
  c = lane0(vc);
}

// The two halves of a float vector (or of two) through a double computation.
template <class F>
inline VF widened(VF x, F f) {
  return narrow(f(widen_lo(x)), f(widen_hi(x)));
}
template <class F>
inline VF widened(VF a, VF b, F f) {
  return narrow(f(widen_lo(a), widen_lo(b)), f(widen_hi(a), widen_hi(b)));
}

// ============================================================================================
// Special values and the scalar path shared by the kernels
// ============================================================================================

// NaN gives x x silently; an infinity gives inf 0 (NaN) and code 1, returned.
template <typename T>
inline int nonfinite(T x, T& y) {
  if (x != x) {
    y = x * x;
    return 0;
  }
  y = x * T(0);
  return ZOK_VM_STATUS_DOMAIN;
}

}  // namespace
}  // namespace zok::ZOK_ISA_NS
