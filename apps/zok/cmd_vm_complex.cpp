// zok vm with --type c or z: complex values (1+2i, -0.5-1i, 2i, 3, inf and nan parts, signed
// zeros), pairs a:b, Powx's exponent from --scalars; and the complex tour stop.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/zok/commands.h"
#include "frame/functions.h"
#include "zok/vector_math.h"

namespace zok::app {

namespace {

using vm::Shape;

// One real number at the start of text (sign, digits, inf, nan, hexadecimal); its length or 0.
size_t real_prefix(const char* text, double* out) {
  char* end = nullptr;
  *out = std::strtod(text, &end);
  return static_cast<size_t>(end - text);
}

}  // namespace

// "re", "imi", "re+imi", "re-imi" (either part may be inf, nan or a signed zero); the whole text must
// be used.
bool parse_complex(const std::string& text, std::complex<double>* out) {
  const char* s = text.c_str();
  double re = 0, im = 0;
  size_t at = real_prefix(s, &re);
  if (at == 0) {
    // "i", "-i": the unit alone
    if (text == "i" || text == "+i" || text == "-i") return *out = {0.0, text[0] == '-' ? -1.0 : 1.0}, true;
    return false;
  }
  if (at == text.size()) return *out = {re, 0.0}, true;
  if (s[at] == 'i' && at + 1 == text.size()) return *out = {0.0, re}, true;
  const std::string rest = text.substr(at);
  if (rest == "+i" || rest == "-i") return *out = {re, rest[0] == '-' ? -1.0 : 1.0}, true;
  if (rest[0] != '+' && rest[0] != '-') return false;
  const size_t n = real_prefix(rest.c_str(), &im);
  if (n == 0 || n + 1 != rest.size() || rest[n] != 'i') return false;
  return *out = {re, im}, true;
}

namespace {

std::string show(double re, double im, int digits) {
  char buf[96];
  // re+imi, with the sign of the imaginary part (a NaN's or -0's too) written out.
  std::snprintf(buf, sizeof buf, "%.*g%s%.*gi", digits, re, std::signbit(im) ? "-" : "+", digits,
                std::fabs(im));
  return buf;
}

int32_t print_report(ErrorContext* ctx) {
  std::printf("  report: code %d at element %d (%.*s): a = %s, r = %s\n", ctx->code, ctx->index,
              ctx->func_name_len, ctx->func_name, show(ctx->arg1, ctx->arg1_im, 9).c_str(),
              show(ctx->res1, ctx->res1_im, 9).c_str());
  return 0;
}

template <typename T>
int run_typed(int fn, int slot, vm::Isa isa, const std::vector<std::string>& values, std::complex<double> x) {
  using C = std::complex<T>;
  const auto& in = vm::kFunctions[fn];
  const auto* kernels = vm::isa_kernels(isa);
  if (kernels == nullptr) {
    std::fprintf(stderr, "zok vm: this machine cannot run %s kernels\n", vm::isa_name(isa));
    return 2;
  }
  void* k = (*kernels)[fn][slot];
  const bool pairs = in.shape == Shape::AB_R;
  std::vector<C> a, b;
  std::vector<T> real_in;
  for (const auto& v : values) {
    const size_t colon = v.find(':');
    std::complex<double> p, q;
    bool ok = false;
    if (in.shape == Shape::R_C) {
      double t;
      ok = !v.empty() && real_prefix(v.c_str(), &t) == v.size();
      p = t;
    } else if (pairs) {
      ok = colon != std::string::npos && parse_complex(v.substr(0, colon), &p) &&
           parse_complex(v.substr(colon + 1), &q);
    } else {
      ok = parse_complex(v, &p);
    }
    if (!ok) {
      std::fprintf(stderr, "zok vm: %s is not %s\n", v.c_str(),
                   in.shape == Shape::R_C ? "a real number"
                   : pairs                ? "a pair a:b of complex numbers"
                                          : "a complex number (1+2i, -0.5-1i, 2i, 3)");
      return 2;
    }
    a.emplace_back(static_cast<T>(p.real()), static_cast<T>(p.imag()));
    b.emplace_back(static_cast<T>(q.real()), static_cast<T>(q.imag()));
    real_in.push_back(static_cast<T>(p.real()));
  }
  const int n = static_cast<int>(a.size());
  std::vector<C> r(a.size());
  std::vector<T> rr(a.size());
  const C xs(static_cast<T>(x.real()), static_cast<T>(x.imag()));
  _yubClearErrStatus();
  const ErrorCallback old = _yubSetErrorCallBack(print_report);
  switch (in.shape) {
    case Shape::AB_R:
      reinterpret_cast<void (*)(int, const C*, const C*, C*)>(k)(n, a.data(), b.data(), r.data());
      break;
    case Shape::AX_R:
      reinterpret_cast<void (*)(int, const C*, C, C*)>(k)(n, a.data(), xs, r.data());
      break;
    case Shape::AXP_R:
      reinterpret_cast<void (*)(int, const C*, const C*, C*)>(k)(n, a.data(), &xs, r.data());
      break;
    case Shape::C_R:
      reinterpret_cast<void (*)(int, const C*, T*)>(k)(n, a.data(), rr.data());
      break;
    case Shape::R_C:
      reinterpret_cast<void (*)(int, const T*, C*)>(k)(n, real_in.data(), r.data());
      break;
    default:
      reinterpret_cast<void (*)(int, const C*, C*)>(k)(n, a.data(), r.data());
  }
  _yubSetErrorCallBack(old);
  static const char* kSlot[] = {"LA", "HA", "EP"};
  const int digits = sizeof(T) == 4 ? 9 : 17;
  std::printf("%s %s on %s", in.name, kSlot[slot], vm::isa_name(isa));
  if (in.shape == Shape::AX_R || in.shape == Shape::AXP_R)
    std::printf(", exponent %s", show(x.real(), x.imag(), digits).c_str());
  std::printf(":\n");
  for (int i = 0; i < n; ++i) {
    if (in.shape == Shape::C_R) {
      std::printf("  %s -> %.*g\n", values[i].c_str(), digits, static_cast<double>(rr[i]));
    } else {
      std::printf("  %s -> %s\n", values[i].c_str(), show(r[i].real(), r[i].imag(), digits).c_str());
    }
  }
  std::printf("  status %d\n", _yubGetErrStatus());
  return 0;
}

}  // namespace

int vm_complex(int fn, int slot, vm::Isa isa, const std::vector<std::string>& values,
               const std::string& scalars) {
  std::complex<double> x(1, 0);
  if (!scalars.empty() && !parse_complex(scalars, &x)) {
    std::fprintf(stderr, "zok vm: --scalars for a complex Powx takes one complex number (2+0.5i)\n");
    return 2;
  }
  return vm::kFunctions[fn].type == 'c' ? run_typed<float>(fn, slot, isa, values, x)
                                        : run_typed<double>(fn, slot, isa, values, x);
}

namespace {

// The largest error of any part, in ulps of that part (parts below |w| 2^-26 in ulps of |w| 2^-26).
double part_error(std::complex<double> got, std::complex<long double> want) {
  const long double floor = std::abs(want) * 0x1p-26L;
  auto one = [&](double g, long double w) {
    const long double scale = std::max(fabsl(w), floor);
    if (scale == 0) return g == 0 ? 0.0 : 1e30;
    return static_cast<double>(fabsl(g - w) / ldexpl(1.0L, std::ilogb(static_cast<double>(scale)) - 52));
  };
  return std::max(one(got.real(), want.real()), one(got.imag(), want.imag()));
}

void tour_complex() {
  tour_heading("vector math: complex functions");
  const ErrorCallback old = _yubSetErrorCallBack(print_report);
  const ZokComplex8 ca[2] = {{3e38f, 1}, {1, 2}}, cb[2] = {{3e38f, 0}, {3, 4}};
  ZokComplex8 cr[2];
  _yubcAdd(2, ca, cb, cr);
  std::printf("cAdd (3e38+1i) + (3e38+0i) = %s, status %d\n", show(cr[0].re, cr[0].im, 9).c_str(),
              _yubGetErrStatus());
  _yubClearErrStatus();
  const ZokComplex16 za = {1, 2}, zb = {3, 4};
  ZokComplex16 zr;
  _yubzMulByConj(1, &za, &zb, &zr);
  std::printf("zMulByConj(1+2i, 3+4i) = %s\n", show(zr.re, zr.im, 17).c_str());
  const ZokComplex8 big = {3e30f, 4e30f};
  float abs_r;
  _yubcAbs(1, &big, &abs_r);
  std::printf("cAbs(3e30+4e30i) = %g (no overflow inside)\n", abs_r);
  const ZokComplex16 cut[2] = {{-1, 0.0}, {-1, -0.0}};
  ZokComplex16 ln[2];
  _yubzLn(2, cut, ln);
  std::printf("zLn(-1+0i) = %s, zLn(-1-0i) = %s\n", show(ln[0].re, ln[0].im, 17).c_str(),
              show(ln[1].re, ln[1].im, 17).c_str());
  const ZokComplex8 s100 = {100, 100};
  _yubcSin(1, &s100, cr);
  std::printf("cSin(100+100i) = %s, status %d\n", show(cr[0].re, cr[0].im, 9).c_str(), _yubGetErrStatus());
  _yubClearErrStatus();
  _yubSetErrorCallBack(old);

  // zExp and zLn per flavour: the largest part error against std::complex<long double> and the speed
  // beside a loop over std::complex<double>.
  const int n = 1 << 16;
  std::vector<std::complex<double>> x(n), y(n);
  for (int i = 0; i < n; ++i) x[i] = {-20.0 + 40.0 * (i + 0.5) / n, -50.0 + 100.0 * ((i * 7919) % n) / n};
  using K = void (*)(int, const ZokComplex16*, ZokComplex16*);
  const struct {
    const char* name;
    K k[3];
    std::complex<long double> (*exact)(const std::complex<long double>&);
    std::complex<double> (*lib)(const std::complex<double>&);
  } fns[2] = {{"zExp", {_yubzExp_50, _yubzExp, _yubzExp_26}, std::exp, std::exp},
              {"zLn", {_yubzLn_50, _yubzLn, _yubzLn_26}, std::log, std::log}};
  auto* xa = reinterpret_cast<const ZokComplex16*>(x.data());
  auto* ya = reinterpret_cast<ZokComplex16*>(y.data());
  for (const auto& f : fns) {
    double err[3], ns[3];
    for (int s = 0; s < 3; ++s) {
      f.k[s](n, xa, ya);
      err[s] = 0;
      for (int i = 0; i < n; ++i)
        err[s] =
            std::max(err[s], part_error(y[i], f.exact(std::complex<long double>(x[i].real(), x[i].imag()))));
      ns[s] = ns_per_element(n, [&] { f.k[s](n, xa, ya); });
    }
    auto* volatile lib = f.lib;
    const double base = ns_per_element(n, [&] {
      for (int i = 0; i < n; ++i) y[i] = lib(x[i]);
    });
    std::printf(
        "%s over [-20, 20] x [-50, 50]i: largest part error LA %.2f ulp, HA %.2f, EP %.3g; "
        "%.2f, %.2f, %.2f ns/element; std::complex<double> loop %.2f\n",
        f.name, err[0], err[1], err[2], ns[0], ns[1], ns[2], base);
  }
}

const bool kRegistered = register_command({"vm-complex", nullptr, nullptr, tour_complex, 36});

}  // namespace

}  // namespace zok::app
