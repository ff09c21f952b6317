// The complex-double scalar routines (extended precision inside) and the kernels that run them
// element by element; built once, shared by every instruction set's table.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>

#include "frame/functions.h"

namespace zok::cplx {

using Cz = std::complex<double>;
using Cc = std::complex<float>;

// Principal values with C99 branch cuts and signed zeros; special values as C99 Annex G. They use
// long double: callers run them with the x87 unit at its 64-bit significand.
Cz z_exp(Cz a);
Cz z_ln(Cz a);
Cz z_log10(Cz a);
Cz z_sqrt(Cz a);
Cz z_pow(Cz a, Cz b);
Cz z_sin(Cz a);
Cz z_cos(Cz a);
Cz z_tan(Cz a);
Cz z_sinh(Cz a);
Cz z_cosh(Cz a);
Cz z_tanh(Cz a);
Cz z_asin(Cz a);
Cz z_acos(Cz a);
Cz z_atan(Cz a);
Cz z_asinh(Cz a);
Cz z_acosh(Cz a);
Cz z_atanh(Cz a);

// An overflow: an infinite result part while every argument part is finite.
template <typename T>
inline bool finite_parts(std::complex<T> a) {
  return std::isfinite(a.real()) && std::isfinite(a.imag());
}
template <typename T>
inline bool infinite_part(std::complex<T> r) {
  return std::isinf(r.real()) || std::isinf(r.imag());
}

// The error report of a complex element type.
void report(int32_t code, int32_t i, const Cc* a, const Cc* b, Cc* r, const char* name);
void report(int32_t code, int32_t i, const Cz* a, const Cz* b, Cz* r, const char* name);
// The same for kernels of one array and one value b.
void report(int32_t code, int32_t i, const Cc* a, Cc b, Cc* r, const char* name);
void report(int32_t code, int32_t i, const Cz* a, Cz b, Cz* r, const char* name);

// Fills the slots of every function whose one kernel serves all three flavours: the same code for
// every instruction set.
void register_scalar_kernels(vm::KernelSlots& slots);

}  // namespace zok::cplx
