// Chi-square distribution function, density and quantile for real degrees of freedom: the regularised
// incomplete gamma by its series and continued fraction, logarithms and exponentials by the HA kernels.
#include <cmath>
#include <limits>

#include "frame/mode_guard.h"
#include "stats/robust.h"
#include "zok/summary_stats.h"
#include "zok/vector_math.h"

namespace zok::ss {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kLn2 = 0.6931471805599453;
constexpr double kLogCut = -709.7827129;  // a log prefactor below this gives 0
constexpr double kTol = 1e-15;
// The series and the fraction need about sqrt(70 a) terms near y = a: enough for a up to 1e8.
constexpr int kMaxTerms = 100000;

// One element through the HA kernel of a table, denormals kept.
double kernel_ha(void* const* table, double x) {
  double r = 0;
  vm::call_slot(table, vm::kSlotHA, 1, &x, &r);
  return r;
}
double ln_ha(double x) {
  return kernel_ha(zok_yub_kernel_dLn_ttab, x);
}
// Below the underflow threshold the kernel would report the subnormal result: scaling by 2^-64
// afterwards gives the same value without a report.
double exp_ha(double x) {
  if (x < kLogCut) return 0.0;
  if (x < -708.3964185322642) return kernel_ha(zok_yub_kernel_dExp_ttab, x + 64.0) * 0x1p-64;
  return kernel_ha(zok_yub_kernel_dExp_ttab, x);
}

// a ln y - y - lnGamma(a), and its exponential with the cut.
double log_prefactor(double a, double y) {
  return a * ln_ha(y) - y - __qordLGamma(a);
}
double prefactor(double a, double y) {
  const double lp = log_prefactor(a, y);
  return lp < kLogCut ? 0.0 : exp_ha(lp);
}

// Regularised lower incomplete gamma by its series, for y < a or y < 1 (a, y > 0, finite).
double lower_series(double a, double y) {
  const double f = prefactor(a, y);
  if (f == 0.0) return 0.0;
  double term = 1.0, sum = 1.0, ap = a;
  for (int i = 0; i < kMaxTerms; ++i) {
    ap += 1.0;
    term *= y / ap;
    sum += term;
    if (term <= sum * kTol) break;
  }
  return f * sum / a;
}

// Regularised upper incomplete gamma by its continued fraction (modified Lentz), for y >= 1, y >= a.
double upper_fraction(double a, double y) {
  const double f = prefactor(a, y);
  if (f == 0.0) return 0.0;
  constexpr double kFloor = 1e-300;
  double b = y + 1.0 - a, c = 1.0 / kFloor, d = 1.0 / b, h = d;
  for (int i = 1; i <= kMaxTerms; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < kFloor) d = kFloor;
    c = b + an / c;
    if (std::fabs(c) < kFloor) c = kFloor;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) <= kTol) break;
  }
  return f * h;
}

// Q(a, y) for finite a, y.
double upper_gamma(double a, double y) {
  if (y <= 0.0 || a <= 0.0) return 1.0;
  if (y < 1.0 || y < a) return 1.0 - lower_series(a, y);
  return upper_fraction(a, y);
}

double chi2_icdf(double k, double q) {
  if (std::isnan(k) || std::isnan(q) || k <= 0.0 || q < 0.0 || q > 1.0) return kNaN;
  if (q == 0.0) return 0.0;
  if (q == 1.0 || k == kInf) return kInf;
  const double a = 0.5 * k, target = 1.0 - q;
  auto residual = [&](double y) { return upper_gamma(a, y) - target; };
  // Wilson-Hilferty start from the normal quantile of 1 - q; an erfinv argument of +-1 has no start.
  const double d = 1.0 / (9.0 * a);
  const double e = 1.0 - 2.0 * q;
  double y = 0.0;
  if (std::fabs(e) < 1.0) {
    const double z = std::sqrt(2.0) * kernel_ha(zok_yub_kernel_dErfInv_ttab, e);
    const double t = 1.0 - d - z * kernel_ha(zok_yub_kernel_dSqrt_ttab, d);
    y = a * t * t * t;
  }
  if (y > 0.0 && std::isfinite(y)) {
    double lo = 0.0, hi = kInf;
    const double lg = __qordLGamma(a);
    for (int i = 0; i < 10; ++i) {
      const double g = residual(y);
      if (g > 0.0)
        lo = y;  // Q too large: the root lies above
      else
        hi = y;
      const double slope = exp_ha((a - 1.0) * ln_ha(y) - y - lg);
      if (!(slope > 0.0)) break;
      const double step = g / slope;  // Q falls with y: y + g/Q'(y) magnitude
      double next = y + step;
      if (!(next > lo && next < hi)) next = hi == kInf ? 2.0 * y : 0.5 * (lo + hi);
      if (std::fabs(step) < kTol * y) return 2.0 * y;
      y = next;
    }
  }
  // Doubling to a bracket, then halving and secant steps.
  double lo = 0.0, hi = 0.0625, glo = 1.0 - target, ghi = residual(hi);
  for (int i = 0; i < 2100 && ghi > 0.0; ++i) {
    lo = hi;
    glo = ghi;
    hi *= 2.0;
    ghi = residual(hi);
  }
  if (ghi > 0.0) return kInf;
  for (int i = 0; i < 400; ++i) {
    // Secant on even steps, halving on odd ones, so the bracket at least halves every two steps.
    double mid = 0.5 * (lo + hi);
    if ((i & 1) == 0 && glo != ghi) {
      const double s = lo + glo * (hi - lo) / (glo - ghi);
      if (s > lo && s < hi) mid = s;
    }
    const double g = residual(mid);
    if (g > 0.0) {
      lo = mid;
      glo = g;
    } else {
      hi = mid;
      ghi = g;
    }
    if (hi - lo <= 5 * kTol * hi || std::fabs(g) <= 5 * kTol * target) return mid + mid;
  }
  return lo + hi;
}

}  // namespace

double chi2_cdf(double k, double x) {
  if (std::isnan(k) || std::isnan(x)) return kNaN;
  const double a = 0.5 * k, y = 0.5 * x;
  if (y <= 0.0 || a <= 0.0) return 0.0;
  if (x == kInf) return 1.0;
  if (k == kInf) return 0.0;
  if (y > 1.0 && y > a) return 1.0 - upper_fraction(a, y);
  return lower_series(a, y);
}

double chi2_quantile(double k, double q) {
  return chi2_icdf(k, q);
}

}  // namespace zok::ss

extern "C" {

ZOK_SS_API double __qordChi2CDF(double k, double x) {
  return zok::ss::chi2_cdf(k, x);
}
ZOK_SS_API double __qordChi2PDF(double k, double x) {
  using namespace zok::ss;
  if (std::isnan(k) || std::isnan(x) || k <= 0.0) return kNaN;
  if (x <= 0.0 || x == kInf || k == kInf) return 0.0;
  const double a = 0.5 * k;
  return exp_ha((a - 1.0) * ln_ha(x) - 0.5 * x - a * kLn2 - __qordLGamma(a));
}
ZOK_SS_API double __qordChi2ICDF(double k, double q) {
  return zok::ss::chi2_icdf(k, q);
}

}  // extern "C"
