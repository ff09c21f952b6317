// The discrete distributions of `zok rng gen` (--bernoulli, --geometric, --binomial,
// --hypergeometric, --poisson, --poissonv, --negbinomial, --summary) and their tour stop: speed per
// distribution beside the matching std:: distribution on std::mt19937.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "apps/zok/commands.h"
#include "zok/random.h"

namespace zok::app {
namespace {

struct Kind {
  const char* option;
  int params;  // numbers the option takes (0: a list)
};
constexpr Kind kKinds[] = {{"--bernoulli", 1},      {"--geometric", 1}, {"--binomial", 2},
                           {"--hypergeometric", 3}, {"--poisson", -2},  {"--poissonv", 0},
                           {"--negbinomial", 2}};
enum { kBernoulli, kGeometric, kBinomial, kHyper, kPoisson, kPoissonV, kNegbin };

bool parse_list(const char* text, std::vector<double>* out) {
  for (const char* p = text;;) {
    char* end = nullptr;
    out->push_back(std::strtod(p, &end));
    if (end == p) return false;
    if (*end == '\0') return true;
    if (*end != ',') return false;
    p = end + 1;
  }
}

int32_t draw(const DiscreteRequest& d, StreamRecord* s, int32_t n, uint32_t* r, const double* lambdas) {
  const double* p = d.params.data();
  switch (d.kind) {
    case kBernoulli:
      return _qoriRngBernoulli(0, s, n, r, p[0]);
    case kGeometric:
      return _qoriRngGeometric(0, s, n, r, p[0]);
    case kBinomial:
      return _qoriRngBinomial(0, s, n, r, static_cast<int32_t>(p[0]), p[1]);
    case kHyper:
      return _qoriRngHypergeometric(0, s, n, r, static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1]),
                                    static_cast<int32_t>(p[2]));
    case kPoisson:
      return _qoriRngPoisson(d.params.size() > 1 ? static_cast<int32_t>(p[1]) : 0, s, n, r, p[0]);
    case kPoissonV:
      return _qoriRngPoissonV(0, s, n, r, lambdas);
    default:
      return _qoriRngNegbinomial(0, s, n, r, p[0], p[1]);
  }
}

// The exact mean and variance of element k.
void moments(const DiscreteRequest& d, int64_t k, double* mean, double* var) {
  const std::vector<double>& p = d.params;
  switch (d.kind) {
    case kBernoulli:
      *mean = p[0], *var = p[0] * (1 - p[0]);
      return;
    case kGeometric:
      *mean = (1 - p[0]) / p[0], *var = (1 - p[0]) / (p[0] * p[0]);
      return;
    case kBinomial:
      *mean = p[0] * p[1], *var = p[0] * p[1] * (1 - p[1]);
      return;
    case kHyper:
      *mean = p[1] * p[2] / p[0];
      *var = *mean * (p[0] - p[2]) / p[0] * (p[0] - p[1]) / std::max(p[0] - 1, 1.0);
      return;
    case kPoisson:
      *mean = *var = p[0];
      return;
    case kPoissonV:
      *mean = *var = p[static_cast<size_t>(k) % p.size()];
      return;
    default:
      *mean = p[0] * (1 - p[1]) / p[1], *var = *mean / p[1];
  }
}

}  // namespace

bool take_discrete_options(int* argc, char** argv, DiscreteRequest* d) {
  int out = 1;
  for (int i = 1; i < *argc; ++i) {
    if (std::strcmp(argv[i], "--summary") == 0) {
      d->summary = true;
      continue;
    }
    int kind = -1;
    for (int k = 0; k < 7; ++k)
      if (std::strcmp(argv[i], kKinds[k].option) == 0) kind = k;
    if (kind < 0) {
      argv[out++] = argv[i];
      continue;
    }
    const int want = kKinds[kind].params;
    d->params.clear();
    const bool ok =
        i + 1 < *argc && d->kind < 0 && parse_list(argv[i + 1], &d->params) &&
        (want == 0 || static_cast<int>(d->params.size()) == want || (want == -2 && d->params.size() <= 2));
    if (!ok) {
      std::fprintf(stderr, "zok rng gen: cannot use %s%s%s (one distribution, %s)\n", argv[i],
                   i + 1 < *argc ? " " : "", i + 1 < *argc ? argv[i + 1] : "",
                   want == 0 ? "a list of means" : "its parameters by commas");
      return false;
    }
    d->kind = kind;
    ++i;
  }
  *argc = out;
  if (d->summary && d->kind < 0) {
    std::fprintf(stderr, "zok rng gen: --summary goes with a distribution option\n");
    return false;
  }
  return true;
}

int print_discrete(StreamRecord* s, int64_t n, const DiscreteRequest& d) {
  constexpr int32_t kPiece = 4096;
  std::vector<uint32_t> r(kPiece);
  std::vector<double> lambdas(kPiece);
  double sum = 0, sum2 = 0, mean_sum = 0, var_sum = 0;
  for (int64_t done = 0; done < n;) {
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(n - done, kPiece));
    for (int32_t k = 0; k < count; ++k)
      lambdas[k] = d.params[static_cast<size_t>(done + k) % d.params.size()];
    const int32_t status = draw(d, s, count, r.data(), lambdas.data());
    if (status != 0) {
      std::fprintf(stderr, "zok rng gen: status %d\n", status);
      return 1;
    }
    for (int32_t k = 0; k < count; ++k) {
      if (!d.summary) std::printf("%u\n", r[k]);
      double mean, var;
      moments(d, done + k, &mean, &var);
      sum += r[k], sum2 += static_cast<double>(r[k]) * r[k], mean_sum += mean, var_sum += var + mean * mean;
    }
    done += count;
  }
  if (d.summary && n > 0) {
    // For PoissonV the exact figures are those of the mixture of the elements' laws.
    const double m = sum / n, exact_m = mean_sum / n;
    std::printf("n %lld\nmean %.6g (exact %.6g)\nvariance %.6g (exact %.6g)\n", static_cast<long long>(n), m,
                exact_m, sum2 / n - m * m, var_sum / n - exact_m * exact_m);
  }
  return 0;
}

namespace {

void tour_discrete() {
  tour_heading("random streams: discrete distributions (10^6 draws on MCG59; std:: on std::mt19937)");
  constexpr int32_t n = 1000000;
  StreamRecord* s = nullptr;
  const uint32_t seed = 7;
  if (__qorNewStreamEx(&s, ZOK_RNG_MCG59, 1, &seed) != 0) return;
  std::vector<uint32_t> r(n);
  std::vector<double> lambdas(n);
  for (int32_t k = 0; k < n; ++k) lambdas[k] = k % 2 ? 50.0 : 3.0;
  std::mt19937 g(7);
  auto line = [&](const char* what, int kind, std::vector<double> params, auto baseline) {
    DiscreteRequest d;
    d.kind = kind;
    d.params = std::move(params);
    const double ours = ns_per_element(
        n, [&] { draw(d, s, n, r.data(), lambdas.data()); }, 3);
    double mean = 0;
    for (uint32_t x : r) mean += x;
    const double theirs = ns_per_element(
        n,
        [&] {
          for (int32_t k = 0; k < n; ++k) r[k] = baseline(k);
        },
        3);
    std::printf("  %-34s mean %9.3f  %6.1f ns (std:: %6.1f ns, %.2fx)\n", what, mean / n, ours, theirs,
                theirs / ours);
  };
  std::bernoulli_distribution be(0.3);
  std::geometric_distribution<uint32_t> ge(0.2);
  std::binomial_distribution<uint32_t> b10(10, 0.3), b1000(1000, 0.3);
  std::poisson_distribution<uint32_t> p3(3.0), p50(50.0);
  std::negative_binomial_distribution<uint32_t> nb(10, 0.3);
  line("bernoulli 0.3", kBernoulli, {0.3}, [&](int32_t) { return be(g); });
  line("geometric 0.2", kGeometric, {0.2}, [&](int32_t) { return ge(g); });
  line("binomial 10, 0.3", kBinomial, {10, 0.3}, [&](int32_t) { return b10(g); });
  line("binomial 1000, 0.3", kBinomial, {1000, 0.3}, [&](int32_t) { return b1000(g); });
  line("poisson 3 (method 0)", kPoisson, {3, 0}, [&](int32_t) { return p3(g); });
  line("poisson 50 (method 0)", kPoisson, {50, 0}, [&](int32_t) { return p50(g); });
  line("poisson 50 (method 1)", kPoisson, {50, 1}, [&](int32_t) { return p50(g); });
  line("poissonv 3, 50 alternating", kPoissonV, {3, 50}, [&](int32_t k) { return k % 2 ? p50(g) : p3(g); });
  // std:: has no hypergeometric: the baseline is Bernoulli sampling of the 300 draws themselves.
  line("hypergeometric 900, 300, 500", kHyper, {900, 300, 500}, [&](int32_t) {
    uint32_t marked = 0;
    for (int left = 900, m = 500, k = 0; k < 300; ++k, --left)
      if (std::uniform_int_distribution<int>(0, left - 1)(g) < m) --m, ++marked;
    return marked;
  });
  line("negative binomial 10, 0.3", kNegbin, {10, 0.3}, [&](int32_t) { return nb(g); });
  __qorDeleteStream(&s);
}

const bool kRegistered = register_command({"rng-discrete", nullptr, nullptr, tour_discrete, 102});

}  // namespace
}  // namespace zok::app
