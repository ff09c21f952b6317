// zok rng gen with the other continuous distributions (--exponential, --laplace, --cauchy,
// --rayleigh, --gumbel, --weibull, --gamma, --beta), and their tour stop: mean and variance of
// 10^6 draws against the exact ones, and the time per draw beside the standard library's.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "apps/zok/commands.h"
#include "zok/random.h"

namespace zok::app {

namespace {

struct Continuous {
  const char* option;
  char kind;
  size_t values;
};
// The parameters are given in the order the operation takes them: shapes first, then a and beta.
constexpr Continuous kContinuous[] = {{"--exponential", 'e', 2}, {"--laplace", 'L', 2}, {"--cauchy", 'c', 2},
                                      {"--rayleigh", 'r', 2},    {"--gumbel", 'G', 2},  {"--weibull", 'w', 3},
                                      {"--gamma", 'a', 3},       {"--beta", 'b', 4}};

template <class T>
struct Forms;
template <>
struct Forms<double> {
  using Two = int32_t (*)(int32_t, StreamRecord*, int32_t, double*, double, double);
  using Three = int32_t (*)(int32_t, StreamRecord*, int32_t, double*, double, double, double);
  static constexpr Two kTwo[] = {_qordRngExponential, _qordRngLaplace, _qordRngCauchy, _qordRngRayleigh,
                                 _qordRngGumbel};
  static constexpr Three kWeibull = _qordRngWeibull, kGamma = _qordRngGamma;
  static constexpr auto kBeta = _qordRngBeta;
};
template <>
struct Forms<float> {
  using Two = int32_t (*)(int32_t, StreamRecord*, int32_t, float*, float, float);
  using Three = int32_t (*)(int32_t, StreamRecord*, int32_t, float*, float, float, float);
  static constexpr Two kTwo[] = {_qorsRngExponential, _qorsRngLaplace, _qorsRngCauchy, _qorsRngRayleigh,
                                 _qorsRngGumbel};
  static constexpr Three kWeibull = _qorsRngWeibull, kGamma = _qorsRngGamma;
  static constexpr auto kBeta = _qorsRngBeta;
};

}  // namespace

bool is_continuous_kind(char kind) {
  for (const Continuous& c : kContinuous)
    if (c.kind == kind) return true;
  return false;
}

bool parse_continuous_option(int argc, char** argv, int* i, DistOptions* d, bool* ok) {
  for (const Continuous& c : kContinuous) {
    if (std::strcmp(argv[*i], c.option) != 0) continue;
    d->kind = c.kind;
    *ok = *i + 1 < argc && parse_numbers(argv[++*i], c.values, &d->params);
    // Scales and shapes are positive: the library takes them as checked.
    for (size_t k = 0; *ok && k < c.values; ++k)
      if (k != c.values - 2) *ok = d->params[k] > 0 && std::isfinite(d->params[k]);
    return true;
  }
  return false;
}

template <class T>
int32_t draw_continuous(StreamRecord* s, const DistOptions& d, int32_t n, T* r) {
  const std::vector<double>& p = d.params;
  switch (d.kind) {
    case 'w':
      return Forms<T>::kWeibull(0, s, n, r, T(p[0]), T(p[1]), T(p[2]));
    case 'a':
      return Forms<T>::kGamma(0, s, n, r, T(p[0]), T(p[1]), T(p[2]));
    case 'b':
      return Forms<T>::kBeta(0, s, n, r, T(p[0]), T(p[1]), T(p[2]), T(p[3]));
    default: {
      const int index = static_cast<int>(std::strchr("eLcrG", d.kind) - "eLcrG");
      return Forms<T>::kTwo[index](0, s, n, r, T(p[0]), T(p[1]));
    }
  }
}
template int32_t draw_continuous<double>(StreamRecord*, const DistOptions&, int32_t, double*);
template int32_t draw_continuous<float>(StreamRecord*, const DistOptions&, int32_t, float*);

namespace {

// One distribution of the tour: our draws, its exact mean and variance, and the standard library's
// variates of the same law (with the same shift and scale) on std::mt19937.
struct Stop {
  const char* label;
  DistOptions options;
  double mean, variance;
  std::function<double(std::mt19937&)> baseline;
};

DistOptions options(char kind, std::vector<double> params) {
  DistOptions d;
  d.kind = kind;
  d.params = std::move(params);
  return d;
}

void tour_continuous() {
  tour_heading("distributions: exponential to beta on an MCG59 stream, beside std:: on std::mt19937");
  StreamRecord* s = nullptr;
  const uint32_t seed = 2026;
  if (__qorNewStreamEx(&s, ZOK_RNG_MCG59, 1, &seed) != 0) return;
  const double pi = 3.141592653589793, euler = 0.5772156649015329;
  const double w_mean = std::tgamma(1 + 1 / 1.5), w_var = std::tgamma(1 + 2 / 1.5) - w_mean * w_mean;
  std::exponential_distribution<double> exp1(1.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::weibull_distribution<double> weibull(1.5, 1.0);
  std::cauchy_distribution<double> cauchy(0.0, 1.0);
  std::extreme_value_distribution<double> extreme(0.0, 1.0);
  std::gamma_distribution<double> g25(2.5), g2(2.0), g3(3.0);
  const Stop stops[] = {
      {"exponential 0,1", options('e', {0, 1}), 1, 1, [&](std::mt19937& g) { return exp1(g); }},
      {"laplace 0,1", options('L', {0, 1}), 0, 2,
       [&](std::mt19937& g) {
         const double u = unit(g);
         return u < 0.5 ? std::log(2 * u) : -std::log(2 - 2 * u);
       }},
      {"cauchy 0,1 (median)", options('c', {0, 1}), 0, NAN, [&](std::mt19937& g) { return cauchy(g); }},
      {"rayleigh 0,1", options('r', {0, 1}), std::sqrt(pi) / 2, 1 - pi / 4,
       [&](std::mt19937& g) { return std::sqrt(-std::log1p(-unit(g))); }},
      {"gumbel 0,1", options('G', {0, 1}), -euler, pi * pi / 6, [&](std::mt19937& g) { return -extreme(g); }},
      {"weibull 1.5,0,1", options('w', {1.5, 0, 1}), w_mean, w_var,
       [&](std::mt19937& g) { return weibull(g); }},
      {"gamma 2.5,0,1", options('a', {2.5, 0, 1}), 2.5, 2.5, [&](std::mt19937& g) { return g25(g); }},
      {"beta 2,3,0,1", options('b', {2, 3, 0, 1}), 0.4, 0.04,
       [&](std::mt19937& g) {
         const double x = g2(g);
         return x / (x + g3(g));
       }},
  };
  const int32_t n = 1000000;
  std::vector<double> r(n);
  std::mt19937 mt(2026);
  std::printf("  %-20s %10s %10s %10s %10s  %8s %8s %6s\n", "distribution", "mean", "exact", "variance",
              "exact", "ns/draw", "std::", "ratio");
  for (const Stop& stop : stops) {
    const double ns = ns_per_element(
        n, [&] { draw_continuous<double>(s, stop.options, n, r.data()); }, 3);
    double mean = 0, var = 0;
    if (stop.options.kind == 'c') {
      std::vector<double> sorted(r);
      std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.end());
      mean = sorted[n / 2];
    } else {
      for (double x : r) mean += x;
      mean /= n;
      for (double x : r) var += (x - mean) * (x - mean);
      var /= n - 1;
    }
    volatile double sink = 0;
    const double base = ns_per_element(
        n,
        [&] {
          double sum = 0;
          for (int32_t k = 0; k < n; ++k) sum += stop.baseline(mt);
          sink = sum;
        },
        3);
    (void)sink;
    if (std::isnan(stop.variance)) {
      std::printf("  %-20s %10.5f %10.5f %10s %10s  %8.2f %8.2f %6.2f\n", stop.label, mean, stop.mean, "-",
                  "-", ns, base, base / ns);
    } else {
      std::printf("  %-20s %10.5f %10.5f %10.5f %10.5f  %8.2f %8.2f %6.2f\n", stop.label, mean, stop.mean,
                  var, stop.variance, ns, base, base / ns);
    }
  }
  std::printf("  (ratio: std:: time over ours; the Cauchy line gives the median)\n");
  __qorDeleteStream(&s);
}

const bool kRegistered = register_command({"rng-continuous", nullptr, nullptr, tour_continuous, 104});

}  // namespace

}  // namespace zok::app
