// The complex-double scalar routines, computed in long double, and the kernels that run them element
// by element for c and z: built once (not per instruction set), shared by every table.
//
// Contract, one kernel in all three slots (measured against MPC in tests/vm/complex_accuracy_test.cpp):
//   within 1 ulp per part (a part below |r| 2^-p/2 counted in ulps of |r| 2^-p/2) for Acos, Acosh,
//   Asin, Asinh, Atan, Atanh, Cos, Cosh, Log10, Sin, Sinh, Tan, Tanh and zSqrt; Pow and Powx as
//   measured there (their angle Im(b ln a) is carried in long double only).
//   c arguments are widened to complex double, computed by the z routine and rounded back.
//   Special values as C99 Annex G (principal values, branch cuts with signed zeros).
//   Reports: Sin, Cos, Sinh, Cosh, Pow, Powx code 3 for a result with an infinite part from finite
//   argument parts (Pow and Powx: and a non-zero base); nothing else reports.
// These kernels run under the caller's MXCSR (no mode read) with the x87 unit at its 64-bit
// significand and rounding to nearest; the caller's x87 environment comes back at exit.
#include "kernels/complex/complex_scalar.h"

#include <cstring>

#include "frame/error_report.h"
#include "frame/kernel_frame.h"

namespace zok::cplx {

namespace {

using Cl = std::complex<long double>;
using vm::Fn;

Cl wide(Cz a) {
  return Cl(a.real(), a.imag());
}
Cz narrow(Cl r) {
  return Cz(static_cast<double>(r.real()), static_cast<double>(r.imag()));
}

}  // namespace

Cz z_exp(Cz a) {
  return narrow(std::exp(wide(a)));
}
Cz z_ln(Cz a) {
  return narrow(std::log(wide(a)));
}
Cz z_log10(Cz a) {
  // ln 10 to the long double's 64 bits; both parts are divided by it.
  constexpr long double kLn10 = 2.302585092994045684017991454684364208L;
  const Cl l = std::log(wide(a));
  return narrow(Cl(l.real() / kLn10, l.imag() / kLn10));
}
Cz z_sqrt(Cz a) {
  return narrow(std::sqrt(wide(a)));
}
Cz z_sin(Cz a) {
  return narrow(std::sin(wide(a)));
}
Cz z_cos(Cz a) {
  return narrow(std::cos(wide(a)));
}
Cz z_tan(Cz a) {
  return narrow(std::tan(wide(a)));
}
Cz z_sinh(Cz a) {
  return narrow(std::sinh(wide(a)));
}
Cz z_cosh(Cz a) {
  return narrow(std::cosh(wide(a)));
}
Cz z_tanh(Cz a) {
  return narrow(std::tanh(wide(a)));
}
Cz z_asin(Cz a) {
  return narrow(std::asin(wide(a)));
}
Cz z_acos(Cz a) {
  return narrow(std::acos(wide(a)));
}
Cz z_atan(Cz a) {
  return narrow(std::atan(wide(a)));
}
Cz z_asinh(Cz a) {
  return narrow(std::asinh(wide(a)));
}
Cz z_acosh(Cz a) {
  return narrow(std::acosh(wide(a)));
}
Cz z_atanh(Cz a) {
  return narrow(std::atanh(wide(a)));
}

// a^b = e^(b ln a). A zero base has no logarithm: 0^b is 1 for b = 0, 0 for Re b > 0, and the pole
// +inf for Re b < 0 (left to the report rule, which never counts a zero base as an overflow).
Cz z_pow(Cz a, Cz b) {
  if (a.real() == 0 && a.imag() == 0 && std::isfinite(b.real()) && std::isfinite(b.imag())) {
    if (b.real() > 0) return Cz(0, 0);
    if (b.real() < 0) return Cz(HUGE_VAL, 0);
    if (b.imag() == 0) return Cz(1, 0);
    return Cz(NAN, NAN);
  }
  const Cl l = std::log(wide(a)), w = wide(b);
  // The product written out: the library's complex multiply would turn an infinite logarithm
  // times a zero into NaN parts that Annex G arithmetic then cannot recover.
  return narrow(
      std::exp(Cl(w.real() * l.real() - w.imag() * l.imag(), w.real() * l.imag() + w.imag() * l.real())));
}

void report(int32_t code, int32_t i, const Cc* a, const Cc* b, Cc* r, const char* name) {
  vm::report_error_c(code, i, a, b, r, r, name);
}
void report(int32_t code, int32_t i, const Cz* a, const Cz* b, Cz* r, const char* name) {
  vm::report_error_z(code, i, a, b, r, r, name);
}
void report(int32_t code, int32_t i, const Cc* a, Cc b, Cc* r, const char* name) {
  vm::report_error_c_value(code, i, a, b, r, name);
}
void report(int32_t code, int32_t i, const Cz* a, Cz b, Cz* r, const char* name) {
  vm::report_error_z_value(code, i, a, b, r, name);
}

namespace {

template <Fn kFn>
using Elem = std::complex<std::conditional_t<vm::traits(kFn).type == 'c', float, double>>;

template <typename C>
C round_to(Cz r) {
  return C(static_cast<typename C::value_type>(r.real()), static_cast<typename C::value_type>(r.imag()));
}

// One argument array: widen, compute, round back; report an overflow where the function may.
template <Fn kFn, Cz (*f)(Cz), bool kReports>
void unary(int n, const Elem<kFn>* a, Elem<kFn>* r) {
  if (n <= 0) return;
  const isa_once::X87Control x87;
  for (int i = 0; i < n; ++i) {
    const Elem<kFn> x = a[i];
    r[i] = round_to<Elem<kFn>>(f(Cz(x.real(), x.imag())));
    if (kReports && finite_parts(x) && infinite_part(r[i])) report(3, i, a, a, r, vm::traits(kFn).name);
  }
}

// Pow's overflow: an infinite part from finite parts and a non-zero base (0^b with Re b < 0 is a pole).
template <typename C>
bool pow_overflow(C x, C y, C r) {
  return finite_parts(x) && finite_parts(y) && (x.real() != 0 || x.imag() != 0) && infinite_part(r);
}
template <typename C>
C pow_of(C x, C y) {
  return round_to<C>(z_pow(Cz(x.real(), x.imag()), Cz(y.real(), y.imag())));
}

template <Fn kFn>
void pow_arrays(int n, const Elem<kFn>* a, const Elem<kFn>* b, Elem<kFn>* r) {
  if (n <= 0) return;
  const isa_once::X87Control x87;
  for (int i = 0; i < n; ++i) {
    const Elem<kFn> x = a[i], y = b[i];
    r[i] = pow_of(x, y);
    if (pow_overflow(x, y, r[i])) report(3, i, a, b, r, vm::traits(kFn).name);
  }
}
template <Fn kFn>
void powx_value(int n, const Elem<kFn>* a, Elem<kFn> b, Elem<kFn>* r) {
  if (n <= 0) return;
  const isa_once::X87Control x87;
  for (int i = 0; i < n; ++i) {
    const Elem<kFn> x = a[i];
    r[i] = pow_of(x, b);
    if (pow_overflow(x, b, r[i])) report(3, i, a, b, r, vm::traits(kFn).name);
  }
}
// zPowx's kernel takes the exponent by pointer (the stub's own copy).
void zpowx_pointer(int n, const Cz* a, const Cz* b, Cz* r) {
  if (n > 0) powx_value<Fn::zPowx>(n, a, *b, r);
}

// Only the sign bits of the imaginary parts change, so payloads and -0 of real parts pass unchanged.
template <typename U>
void conj(int n, const U* a, U* r) {
  constexpr U kSign = U(1) << (sizeof(U) * 8 - 1);
  for (int64_t i = 0; i < 2 * static_cast<int64_t>(n); i += 2) {
    r[i] = a[i];
    r[i + 1] = a[i + 1] ^ kSign;
  }
}

template <typename F>
void* ptr(F* f) {
  return reinterpret_cast<void*>(f);
}
void all_slots(vm::KernelSlots& s, Fn fn, void* k) {
  for (int slot = 0; slot < 3; ++slot) s[static_cast<int>(fn)][slot] = k;
}

template <Fn kc, Fn kz, Cz (*f)(Cz), bool kReports = false>
void both(vm::KernelSlots& s) {
  all_slots(s, kc, ptr(&unary<kc, f, kReports>));
  all_slots(s, kz, ptr(&unary<kz, f, kReports>));
}

}  // namespace

void register_scalar_kernels(vm::KernelSlots& s) {
  using enum Fn;
  both<cAcos, zAcos, z_acos>(s);
  both<cAcosh, zAcosh, z_acosh>(s);
  both<cAsin, zAsin, z_asin>(s);
  both<cAsinh, zAsinh, z_asinh>(s);
  both<cAtan, zAtan, z_atan>(s);
  both<cAtanh, zAtanh, z_atanh>(s);
  both<cCos, zCos, z_cos, true>(s);
  both<cCosh, zCosh, z_cosh, true>(s);
  both<cLog10, zLog10, z_log10>(s);
  both<cSin, zSin, z_sin, true>(s);
  both<cSinh, zSinh, z_sinh, true>(s);
  both<cTan, zTan, z_tan>(s);
  both<cTanh, zTanh, z_tanh>(s);
  all_slots(s, zSqrt, ptr(&unary<zSqrt, z_sqrt, false>));
  all_slots(s, cPow, ptr(&pow_arrays<cPow>));
  all_slots(s, zPow, ptr(&pow_arrays<zPow>));
  all_slots(s, cPowx, ptr(&powx_value<cPowx>));
  all_slots(s, zPowx, ptr(&zpowx_pointer));
  all_slots(s, cConj, ptr(&conj<uint32_t>));
  all_slots(s, zConj, ptr(&conj<uint64_t>));
}

}  // namespace zok::cplx
