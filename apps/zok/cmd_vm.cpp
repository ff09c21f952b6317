// zok vm: run one vector function on values from the command line, with a chosen type, flavour and
// instruction set; the vector-math tour stop.
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "apps/zok/commands.h"
#include "frame/functions.h"
#include "zok/vector_math.h"

namespace {

using zok::vm::Fn;
using zok::vm::Isa;
using zok::vm::Shape;

int find_function(const std::string& name, char type) {
  for (int f = 0; f < zok::vm::kFnCount; ++f) {
    const auto& in = zok::vm::kFunctions[f];
    if (in.type == type && strcasecmp(in.name + 2, name.c_str()) == 0) return f;
  }
  return -1;
}

struct Call {
  int fn = -1;
  int slot = zok::vm::kHA;
  Isa isa = zok::vm::selected_isa();
};

// A whole argument as a number (inf, nan and hexadecimal forms included): a typo must not run the
// function on a silent 0.
bool parse_value(const std::string& text, double* out) {
  char* end = nullptr;
  *out = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size();
}

int32_t print_report(ErrorContext* ctx) {
  std::printf("  report: code %d at element %d (%.*s)\n", ctx->code, ctx->index, ctx->func_name_len,
              ctx->func_name);
  return 0;
}

template <typename T>
int run_typed(const Call& c, const std::vector<std::string>& values, const std::vector<T>& scalars) {
  const auto& in = zok::vm::kFunctions[c.fn];
  const auto* kernels = zok::vm::isa_kernels(c.isa);
  if (kernels == nullptr) {
    std::fprintf(stderr, "zok vm: this machine cannot run %s kernels\n", zok::vm::isa_name(c.isa));
    return 2;
  }
  void* k = (*kernels)[c.fn][c.slot];
  std::vector<T> a, b;
  const bool pairs = in.shape == Shape::AB_R || in.shape == Shape::LINFRAC;
  for (const auto& v : values) {
    const size_t colon = v.find(':');
    if (pairs && colon == std::string::npos) {
      std::fprintf(stderr, "zok vm: %s takes pairs a:b\n", in.name);
      return 2;
    }
    double x, y = 0;
    if (!parse_value(pairs ? v.substr(0, colon) : v, &x) ||
        (pairs && !parse_value(v.substr(colon + 1), &y))) {
      std::fprintf(stderr, "zok vm: %s is not a number%s\n", v.c_str(), pairs ? " pair a:b" : "");
      return 2;
    }
    a.push_back(static_cast<T>(x));
    if (pairs) b.push_back(static_cast<T>(y));
  }
  const int n = static_cast<int>(a.size());
  std::vector<T> r(a.size()), r2(a.size());
  _yubClearErrStatus();
  const ErrorCallback old = _yubSetErrorCallBack(print_report);
  // The exponent of Powx is the first of --scalars.
  zok::vm::call_any<T>(k, in.shape, n, a.data(), b.data(), r.data(), r2.data(), scalars.data());
  _yubSetErrorCallBack(old);
  static const char* kSlot[] = {"LA", "HA", "EP"};
  std::printf("%s %s on %s:\n", in.name, kSlot[c.slot], zok::vm::isa_name(c.isa));
  for (int i = 0; i < n; ++i) {
    std::printf("  %s -> %.*g", values[static_cast<size_t>(i)].c_str(), sizeof(T) == 4 ? 9 : 17,
                static_cast<double>(r[static_cast<size_t>(i)]));
    if (in.shape == Shape::A_RR) std::printf(", %.*g", sizeof(T) == 4 ? 9 : 17, static_cast<double>(r2[i]));
    std::printf("\n");
  }
  std::printf("  status %d\n", _yubGetErrStatus());
  return 0;
}

int option_error(const char* message) {
  std::fprintf(stderr, "zok vm: %s\n", message);
  return 2;
}

// argv[0] is "vm".
int cmd_vm(int argc, char** argv) {
  if (argc >= 2 && zok::app::is_pack_function(argv[1])) return zok::app::vm_pack(argc, argv);
  char type = 'd';
  Call c;
  std::string name;
  std::vector<std::string> values;
  std::vector<double> scalars = {1, 0, 1, 0};
  std::string scalars_text;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (arg == "--type") {
      type = next()[0];
    } else if (arg == "--acc") {
      const std::string acc = next();
      if (acc != "LA" && acc != "HA" && acc != "EP") return option_error("--acc needs HA, LA or EP");
      c.slot = acc == "LA" ? zok::vm::kLA : acc == "EP" ? zok::vm::kEP : zok::vm::kHA;
    } else if (arg == "--isa") {
      const std::string isa = next();
      bool known = false;
      for (int k = 0; k < zok::vm::kIsaCount; ++k)
        if (isa == zok::vm::isa_name(static_cast<Isa>(k))) {
          c.isa = static_cast<Isa>(k);
          known = true;
        }
      if (!known) return option_error("--isa needs sse41, avx2 or avx512");
    } else if (arg == "--scalars") {
      scalars_text = next();  // read below, once the type is known
    } else if (name.empty()) {
      name = arg;
    } else {
      values.push_back(arg);
    }
  }
  if (!scalars_text.empty() && type != 'c' && type != 'z') {
    // One to four numbers; the ones not given keep their defaults.
    const std::string& s = scalars_text;
    size_t at = 0, k = 0;
    for (; k < scalars.size() && at <= s.size(); ++k) {
      const size_t comma = std::min(s.find(',', at), s.size());
      if (!parse_value(s.substr(at, comma - at), &scalars[k])) return option_error("--scalars needs numbers");
      at = comma + 1;
    }
    if (at <= s.size()) return option_error("--scalars takes at most four numbers");
  }
  if (name.empty() || (type != 's' && type != 'd' && type != 'c' && type != 'z')) {
    std::fprintf(stderr,
                 "usage: zok vm FUNC [--type s|d|c|z] [--acc HA|LA|EP] [--isa sse41|avx2|avx512] "
                 "[--scalars sa,sha,sb,shb] VALUES...\n  two-argument functions take pairs a:b; Powx takes "
                 "its exponent as the "
                 "first of --scalars\n  complex types (c, z) take values 1+2i, -0.5-1i, 2i, 3 and Powx's "
                 "exponent as --scalars 2+0.5i; CIS takes reals\n  functions:");
    for (const auto& f : zok::vm::kFunctions)
      if (f.type == 'd' && zok::vm::elementwise(f.shape)) std::fprintf(stderr, " %s", f.name + 2);
    std::fprintf(stderr,
                 "\n  copies (zok vm packi for their options): packi packv packm unpacki unpackv unpackm");
    std::fprintf(stderr, "\n");
    return 2;
  }
  c.fn = find_function(name, type);
  if (c.fn >= 0 && !zok::vm::elementwise(zok::vm::kFunctions[c.fn].shape)) {
    std::fprintf(stderr, "zok vm: %s copies elements: name it first (zok vm %s --type %c ...)\n",
                 name.c_str(), name.c_str(), type);
    return 2;
  }
  if (c.fn < 0) {
    std::fprintf(stderr, "zok vm: no function %c%s\n", type, name.c_str());
    return 2;
  }
  if (type == 'c' || type == 'z') return zok::app::vm_complex(c.fn, c.slot, c.isa, values, scalars_text);
  if (type == 's') {
    return run_typed<float>(c, values,
                            {static_cast<float>(scalars[0]), static_cast<float>(scalars[1]),
                             static_cast<float>(scalars[2]), static_cast<float>(scalars[3])});
  }
  return run_typed<double>(c, values, scalars);
}

// |got - want| in units in the last place of the double nearest to want.
double ulp_error(double got, long double want) {
  const double ulp = std::ldexp(1.0, std::ilogb(static_cast<double>(want)) - 52);
  return static_cast<double>(fabsl(static_cast<long double>(got) - want) / ulp);
}

// Exp: the largest error of each double flavour against the long-double library function over
// [-700, 700], and the speed of each beside the C library's loop.
void tour_exp() {
  zok::app::tour_heading("vector math: exponential and logarithm");
  const int n = 1 << 18;
  std::vector<double> x(n), y(n);
  for (int i = 0; i < n; ++i) x[i] = -700.0 + 1400.0 * (i + 0.5) / n;
  using K = void (*)(int, const double*, double*);
  const K kernels[3] = {_yubdExp_50, _yubdExp, _yubdExp_26};
  const char* names[3] = {"LA", "HA", "EP"};
  double err[3], ns[3];
  auto time = [n](auto&& f) { return zok::app::ns_per_element(n, f); };
  for (int f = 0; f < 3; ++f) {
    kernels[f](n, x.data(), y.data());
    err[f] = 0;
    for (int i = 0; i < n; ++i) {
      err[f] = std::max(err[f], ulp_error(y[i], expl(static_cast<long double>(x[i]))));
    }
    ns[f] = time([&] { kernels[f](n, x.data(), y.data()); });
  }
  double (*volatile libm_exp)(double) = std::exp;
  const double libm = time([&] {
    for (int i = 0; i < n; ++i) y[i] = libm_exp(x[i]);
  });
  std::printf("dExp over [-700, 700], 2^18 arguments: largest error LA %.2f ulp, HA %.2f, EP %.3g\n", err[0],
              err[1], err[2]);
  std::printf("dExp speed: %s %.2f ns/element, %s %.2f, %s %.2f; C library loop %.2f\n", names[0], ns[0],
              names[1], ns[1], names[2], ns[2], libm);
  const float xs[4] = {0.0f, 1.0f, 88.8f, -104.0f};
  float ys[4];
  const ErrorCallback old = _yubSetErrorCallBack(print_report);
  _yubsExp(4, xs, ys);
  _yubSetErrorCallBack(old);
  std::printf("sExp {0, 1, 88.8, -104} = {%g, %.9g, %g, %g}, status %d\n", ys[0], ys[1], ys[2], ys[3],
              _yubGetErrStatus());
  _yubClearErrStatus();
}

// Pow and the roots: the ordered special cases with their reports, roots of negative and huge
// arguments, and dPow's largest error against the long-double library and its speed.
void tour_power() {
  zok::app::tour_heading("vector math: powers and roots");
  const float inf = std::numeric_limits<float>::infinity();
  const float pa[6] = {0.0f, -0.0f, -8.0f, -8.0f, -1.0f, 10.0f},
              pb[6] = {-1.0f, -3.0f, 1.0f / 3, 3.0f, inf, 50.0f};
  float pr[6];
  const ErrorCallback old = _yubSetErrorCallBack(print_report);
  _yubsPow(6, pa, pb, pr);
  _yubSetErrorCallBack(old);
  std::printf("sPow {0^-1, -0^-3, -8^(1/3), -8^3, -1^inf, 10^50} = {%g, %g, %g, %g, %g, %g}, status %d\n",
              pr[0], pr[1], pr[2], pr[3], pr[4], pr[5], _yubGetErrStatus());
  _yubClearErrStatus();
  const float ca[3] = {-27.0f, -8.0f, 2.0f};
  float cr[3], qr[3];
  _yubsCbrt(3, ca, cr);
  _yubsPow2o3(3, ca, qr);
  std::printf("sCbrt {-27, -8, 2} = {%g, %g, %.9g}; sPow2o3 = {%g, %g, %.9g}\n", cr[0], cr[1], cr[2], qr[0],
              qr[1], qr[2]);
  const float ha[2] = {3e30f, 3e38f}, hb[2] = {4e30f, 3e38f};
  float hr[2];
  _yubsHypot(2, ha, hb, hr);
  std::printf("sHypot (3e30, 4e30) = %g, (3e38, 3e38) = %g (no report)\n", hr[0], hr[1]);

  const int n = 1 << 16;
  std::vector<double> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    x[i] = std::ldexp(1.0 + (i % 251) / 251.0, (i % 61) - 30);
    y[i] = -20.0 + 40.0 * ((i * 7919) % n) / n;
  }
  using K = void (*)(int, const double*, const double*, double*);
  const K kernels[3] = {_yubdPow_50, _yubdPow, _yubdPow_26};
  double err[3], ns[3];
  auto time = [n](auto&& f) { return zok::app::ns_per_element(n, f); };
  for (int f = 0; f < 3; ++f) {
    kernels[f](n, x.data(), y.data(), z.data());
    err[f] = 0;
    for (int i = 0; i < n; ++i) {
      err[f] = std::max(
          err[f], ulp_error(z[i], powl(static_cast<long double>(x[i]), static_cast<long double>(y[i]))));
    }
    ns[f] = time([&] { kernels[f](n, x.data(), y.data(), z.data()); });
  }
  double (*volatile libm_pow)(double, double) = std::pow;
  const double libm = time([&] {
    for (int i = 0; i < n; ++i) z[i] = libm_pow(x[i], y[i]);
  });
  std::printf(
      "dPow, 2^16 pairs over x in [2^-30, 2^31), y in [-20, 20]: largest error LA %.2f ulp, HA %.2f, EP "
      "%.3g\n",
      err[0], err[1], err[2]);
  std::printf("dPow speed: LA %.2f ns/element, HA %.2f, EP %.2f; C library loop %.2f\n", ns[0], ns[1], ns[2],
              libm);
}

// Sin and Cos of huge arguments, where the reduction needs many bits of 2/pi: each double flavour
// beside the long-double C library (reduced exactly) and the C library's double cos, in ulps; then
// the speed of dSin over [-100, 100] beside the C library's loop; then the inverse functions.
void tour_trig() {
  zok::app::tour_heading("vector math: trigonometric functions of huge arguments");
  const double x[3] = {1e22, 0x16AC5B262CA1FFp797, 1e300};
  const char* names[3] = {"1e22", "6381956970095103*2^797", "1e300"};
  using K = void (*)(int, const double*, double*);
  const K sines[3] = {_yubdSin_50, _yubdSin, _yubdSin_26}, cosines[3] = {_yubdCos_50, _yubdCos, _yubdCos_26};
  double (*volatile libm_cos)(double) = std::cos;
  for (int j = 0; j < 3; ++j) {
    const long double s = sinl(x[j]), c = cosl(x[j]);
    std::printf("%s: sin %.17Lg, cos %.17Lg (long double)\n", names[j], s, c);
    double ys[3], yc[3];
    for (int f = 0; f < 3; ++f) {
      sines[f](1, x + j, ys + f);
      cosines[f](1, x + j, yc + f);
    }
    std::printf(
        "  dSin error LA %.2f ulp, HA %.2f, EP %.3g; dCos LA %.2f, HA %.2f, EP %.3g; C library cos %.2f\n",
        ulp_error(ys[0], s), ulp_error(ys[1], s), ulp_error(ys[2], s), ulp_error(yc[0], c),
        ulp_error(yc[1], c), ulp_error(yc[2], c), ulp_error(libm_cos(x[j]), c));
  }
  const int n = 1 << 18;
  std::vector<double> a(n), r(n);
  for (int i = 0; i < n; ++i) a[i] = -100.0 + 200.0 * (i + 0.5) / n;
  auto time = [n](auto&& f) { return zok::app::ns_per_element(n, f); };
  double ns[3];
  for (int f = 0; f < 3; ++f) ns[f] = time([&] { sines[f](n, a.data(), r.data()); });
  double (*volatile libm_sin)(double) = std::sin;
  const double libm = time([&] {
    for (int i = 0; i < n; ++i) r[i] = libm_sin(a[i]);
  });
  std::printf("dSin speed over [-100, 100]: LA %.2f ns/element, HA %.2f, EP %.2f; C library loop %.2f\n",
              ns[0], ns[1], ns[2], libm);

  // The inverse functions: Atan2 in the four quadrants and of signed zeros, and each dAcos flavour's
  // largest error over [-1, 1] against the long-double library, with its speed.
  const double qy[6] = {1, 1, -1, -1, 0.0, -0.0}, qx[6] = {1, -1, -1, 1, -0.0, -0.0};
  double q[6];
  _yubdAtan2(6, qy, qx, q);
  std::printf(
      "dAtan2 of (1, 1), (1, -1), (-1, -1), (-1, 1), (0, -0), (-0, -0) = {%.17g, %.17g, %.17g, %.17g, %g, "
      "%g}\n",
      q[0], q[1], q[2], q[3], q[4], q[5]);
  for (int i = 0; i < n; ++i) a[i] = -1.0 + 2.0 * (i + 0.5) / n;
  const K acos[3] = {_yubdAcos_50, _yubdAcos, _yubdAcos_26};
  double err[3];
  for (int f = 0; f < 3; ++f) {
    acos[f](n, a.data(), r.data());
    err[f] = 0;
    for (int i = 0; i < n; ++i)
      err[f] = std::max(err[f], ulp_error(r[i], acosl(static_cast<long double>(a[i]))));
    ns[f] = time([&] { acos[f](n, a.data(), r.data()); });
  }
  std::printf(
      "dAcos over [-1, 1]: largest error LA %.2f ulp, HA %.2f, EP %.3g; %.2f, %.2f, %.2f ns/element\n",
      err[0], err[1], err[2], ns[0], ns[1], ns[2]);
}

// The error functions, their inverses and the gamma function: limits, poles and tail reports, each
// dErf flavour's largest error against the long-double library function over [-6, 6] and its speed
// beside the C library's loop.
void tour_special() {
  zok::app::tour_heading("vector math: special functions");
  const float inf = std::numeric_limits<float>::infinity();
  const float ea[4] = {-inf, 0.5f, 20.0f, -20.0f};
  float erf_r[4], erfc_r[4], cdf_r[4];
  const ErrorCallback old = _yubSetErrorCallBack(print_report);
  _yubsErf(4, ea, erf_r);
  _yubsErfc(4, ea, erfc_r);
  _yubsCdfNorm(4, ea, cdf_r);
  _yubSetErrorCallBack(old);
  std::printf(
      "{-inf, 0.5, 20, -20}: sErf {%g, %.9g, %g, %g}, sErfc {%g, %.9g, %g, %g}, sCdfNorm {%g, %.9g, %g, "
      "%g}\n",
      erf_r[0], erf_r[1], erf_r[2], erf_r[3], erfc_r[0], erfc_r[1], erfc_r[2], erfc_r[3], cdf_r[0], cdf_r[1],
      cdf_r[2], cdf_r[3]);
  _yubClearErrStatus();
  const float ia[5] = {0.0f, 0.5f, 1.0f, -1.0f, 1.5f};
  float ir[5];
  _yubSetErrorCallBack(print_report);
  _yubsErfInv(5, ia, ir);
  _yubSetErrorCallBack(old);
  std::printf("sErfInv {0, 0.5, 1, -1, 1.5} = {%g, %.9g, %g, %g, %g}, status %d\n", ir[0], ir[1], ir[2],
              ir[3], ir[4], _yubGetErrStatus());
  _yubClearErrStatus();
  const float ga[6] = {1.0f, 0.0f, -0.0f, -1.0f, 5.0f, 40.0f};
  float gr[6];
  _yubSetErrorCallBack(print_report);
  _yubsTGamma(6, ga, gr);
  _yubSetErrorCallBack(old);
  std::printf("sTGamma {1, 0, -0, -1, 5, 40} = {%g, %g, %g, %g, %g, %g}, status %d\n", gr[0], gr[1], gr[2],
              gr[3], gr[4], gr[5], _yubGetErrStatus());
  _yubClearErrStatus();
  const double pa[2] = {1e-300, 1 - 0x1p-53};
  double pr[2];
  _yubdCdfNormInv(2, pa, pr);
  std::printf("dCdfNormInv(1e-300) = %.17g, dCdfNormInv(1 - 2^-53) = %.17g\n", pr[0], pr[1]);
  float ep_half;
  _yubsErf_11(1, &ea[1], &ep_half);
  std::printf("sErf EP(0.5) = %.17g, the table's erf(64/128)\n", ep_half);

  const int n = 1 << 18;
  std::vector<double> x(n), y(n);
  for (int i = 0; i < n; ++i) x[i] = -6.0 + 12.0 * (i + 0.5) / n;
  using K = void (*)(int, const double*, double*);
  const K kernels[3] = {_yubdErf_50, _yubdErf, _yubdErf_26};
  double err[3], ns[3];
  auto time = [n](auto&& f) { return zok::app::ns_per_element(n, f); };
  for (int f = 0; f < 3; ++f) {
    kernels[f](n, x.data(), y.data());
    err[f] = 0;
    for (int i = 0; i < n; ++i)
      err[f] = std::max(err[f], ulp_error(y[i], erfl(static_cast<long double>(x[i]))));
    ns[f] = time([&] { kernels[f](n, x.data(), y.data()); });
  }
  double (*volatile libm_erf)(double) = std::erf;
  const double libm = time([&] {
    for (int i = 0; i < n; ++i) y[i] = libm_erf(x[i]);
  });
  std::printf("dErf over [-6, 6], 2^18 arguments: largest error LA %.2f ulp, HA %.2f, EP %.3g\n", err[0],
              err[1], err[2]);
  std::printf("dErf speed: LA %.2f ns/element, HA %.2f, EP %.2f; C library loop %.2f\n", ns[0], ns[1], ns[2],
              libm);
}

void tour_vm() {
  zok::app::tour_heading("vector math: arithmetic and rounding");
  std::printf("kernels in the tables: %s\n", zok::vm::isa_name(zok::vm::selected_isa()));
  const float a[4] = {1, 1, 0, 4}, b[4] = {1, 0, -0.0f, 2};
  float r[4];
  const ErrorCallback old = _yubSetErrorCallBack(print_report);
  _yubsDiv(4, a, b, r);
  _yubSetErrorCallBack(old);
  std::printf("sDiv {1,1,0,4} / {1,0,-0,2} = {%g, %g, %g, %g}, status %d\n", r[0], r[1], r[2], r[3],
              _yubGetErrStatus());
  _yubClearErrStatus();
  const double x[5] = {0.5, 1.5, 2.5, -0.5, -3.75};
  double rr[5], whole[5], frac[5];
  _yubdRound(5, x, rr);
  _yubdModf(5, x, whole, frac);
  std::printf("dRound {0.5, 1.5, 2.5, -0.5, -3.75} = {%g, %g, %g, %g, %g}\n", rr[0], rr[1], rr[2], rr[3],
              rr[4]);
  std::printf("dModf(-3.75) = %g and %g\n", whole[4], frac[4]);
  const float h[5] = {0, -0.0f, 1, 90, -90};
  float sh[5];
  _yubSetErrorCallBack(print_report);
  _yubsSinh(5, h, sh);
  _yubSetErrorCallBack(old);
  std::printf("sSinh {0, -0, 1, 90, -90} = {%g, %g, %.9g, %g, %g}, status %d\n", sh[0], sh[1], sh[2], sh[3],
              sh[4], _yubGetErrStatus());
  _yubClearErrStatus();

  // Speed of double division against a plain loop, in elements per nanosecond.
  const int n = 1 << 20;
  std::vector<double> p(n), q(n), out(n);
  for (int i = 0; i < n; ++i) {
    p[i] = 1.0 + i;
    q[i] = 3.0 + (i % 97);
  }
  auto time = [n](auto&& f) { return zok::app::ns_per_element(n, f); };
  const double lib_ha = time([&] { _yubdDiv(n, p.data(), q.data(), out.data()); });
  const double lib_la = time([&] { _yubdDiv_50(n, p.data(), q.data(), out.data()); });
  volatile double sink = 0;
  const double loop = time([&] {
    for (int i = 0; i < n; ++i) out[i] = p[i] / q[i];
    sink = out[n / 2];
  });
  (void)sink;
  std::printf("dDiv, n = 2^20: HA %.2f ns/element, LA %.2f, plain loop %.2f\n", lib_ha, lib_la, loop);
  tour_exp();
  tour_power();
  tour_trig();
  tour_special();
}

const bool kRegistered = zok::app::register_command(
    {"vm", "vm FUNC ...   run a vector function (zok vm for the options)", cmd_vm, tour_vm, 30});

}  // namespace
