// zok rng gen with a distribution (--gaussian, --uniform, --int, --bits32/--bits64, --lognormal,
// --mvn), and the distributions' tour stop: a histogram of Gaussian draws beside the exact density,
// each method's time per draw and chi-square p-value.
#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "apps/zok/commands.h"
#include "zok/random.h"

namespace zok::app {

bool parse_numbers(const char* text, size_t want, std::vector<double>* out) {
  out->clear();
  for (const char* p = text;;) {
    char* end = nullptr;
    const double v = std::strtod(p, &end);
    if (end == p) return false;
    out->push_back(v);
    if (*end == '\0') break;
    if (*end != ',') return false;
    p = end + 1;
  }
  return want == 0 || out->size() == want;
}

namespace {

// The position of `text` among three names (a method or a storage code).
bool pick(const char* text, const char* const (&names)[3], int32_t* out) {
  for (int32_t k = 0; k < 3; ++k)
    if (std::strcmp(text, names[k]) == 0) return *out = k, true;
  return false;
}

bool next_is_pair(int argc, char** argv, int i) {
  std::vector<double> v;
  return i + 1 < argc && parse_numbers(argv[i + 1], 2, &v);
}

constexpr int32_t kPiece = 4096;

template <class T>
int32_t gaussian(int32_t method, StreamRecord* s, int32_t n, T* r, T a, T sigma) {
  if constexpr (sizeof(T) == 8) {
    return _qordRngGaussian(method, s, n, r, a, sigma);
  } else {
    return _qorsRngGaussian(method, s, n, r, a, sigma);
  }
}

// One piece of `count` values of the distribution into r (doubles or floats by d.single).
template <class T>
int32_t draw_real(StreamRecord* s, const DistOptions& d, int32_t count, T* r) {
  if (is_continuous_kind(d.kind)) return draw_continuous<T>(s, d, count, r);
  const std::vector<double>& p = d.params;
  switch (d.kind) {
    case 'g':
      return gaussian<T>(d.method, s, count, r, T(p[0]), T(p[1]));
    case 'u':
      if constexpr (sizeof(T) == 8) {
        return _qordRngUniform(d.accurate ? ZOK_RNG_UNIFORM_ACCURATE : 0, s, count, r, p[0], p[1]);
      } else {
        return _qorsRngUniform(d.accurate ? ZOK_RNG_UNIFORM_ACCURATE : 0, s, count, r, T(p[0]), T(p[1]));
      }
    case 'l':
      if constexpr (sizeof(T) == 8) {
        return _qordRngLognormal(d.method == ZOK_RNG_GAUSSIAN_ICDF ? 1 : 0, s, count, r, p[0], p[1], p[2],
                                 p[3]);
      } else {
        return _qorsRngLognormal(d.method == ZOK_RNG_GAUSSIAN_ICDF ? 1 : 0, s, count, r, T(p[0]), T(p[1]),
                                 T(p[2]), T(p[3]));
      }
    default: {
      const int32_t dim = static_cast<int32_t>(d.mean.size());
      const std::vector<T> mean(d.mean.begin(), d.mean.end()), t(d.factor.begin(), d.factor.end());
      if constexpr (sizeof(T) == 8) {
        return _qordRngGaussianMV(d.method, s, count / dim, r, dim, d.storage, mean.data(), t.data());
      } else {
        return _qorsRngGaussianMV(d.method, s, count / dim, r, dim, d.storage, mean.data(), t.data());
      }
    }
  }
}

template <class T>
int32_t print_real(StreamRecord* s, const DistOptions& d, int64_t n) {
  const int32_t per_line = d.kind == 'm' ? static_cast<int32_t>(d.mean.size()) : 1;
  const int32_t piece = per_line * std::max<int32_t>(1, kPiece / per_line);
  std::vector<T> r(piece);
  n *= per_line;
  // --summary: count, mean, variance (Welford), least and greatest instead of the values.
  double mean = 0, m2 = 0, lo = INFINITY, hi = -INFINITY;
  for (int64_t done = 0; done < n;) {
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(n - done, piece));
    if (const int32_t status = draw_real(s, d, count, r.data()); status != 0) return status;
    for (int32_t k = 0; k < count && d.summary; ++k) {
      const double x = r[k], delta = x - mean;
      mean += delta / static_cast<double>(done + k + 1);
      m2 += delta * (x - mean);
      lo = std::min(lo, x);
      hi = std::max(hi, x);
    }
    for (int32_t k = 0; k < count && !d.summary; ++k)
      std::printf(sizeof(T) == 8 ? "%.17g%c" : "%.9g%c", static_cast<double>(r[k]),
                  (k + 1) % per_line ? ' ' : '\n');
    done += count;
  }
  if (d.summary)
    std::printf("n %" PRId64 " mean %.9g variance %.9g min %.9g max %.9g\n", n, mean,
                n > 1 ? m2 / static_cast<double>(n - 1) : 0.0, lo, hi);
  return 0;
}

int32_t print_words(StreamRecord* s, const DistOptions& d, int64_t n) {
  std::vector<int32_t> ints(kPiece);
  std::vector<uint32_t> w32(kPiece);
  std::vector<uint64_t> w64(kPiece);
  for (int64_t done = 0; done < n;) {
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(n - done, kPiece));
    int32_t status = 0;
    if (d.kind == 'i') {
      status = _qoriRngUniform(0, s, count, ints.data(), static_cast<int32_t>(d.params[0]),
                               static_cast<int32_t>(d.params[1]));
      for (int32_t k = 0; status == 0 && k < count; ++k) std::printf("%d\n", ints[k]);
    } else if (d.kind == '3') {
      status = _qoriRngUniformBits32(0, s, count, w32.data());
      for (int32_t k = 0; status == 0 && k < count; ++k) std::printf("%u\n", w32[k]);
    } else {
      status = _qoriRngUniformBits64(0, s, count, w64.data());
      for (int32_t k = 0; status == 0 && k < count; ++k) std::printf("%" PRIu64 "\n", w64[k]);
    }
    if (status != 0) return status;
    done += count;
  }
  return 0;
}

}  // namespace

bool parse_distribution_option(int argc, char** argv, int* i, DistOptions* d, bool* ok) {
  if (parse_continuous_option(argc, argv, i, d, ok)) return true;
  const char* opt = argv[*i];
  const bool has_value = *i + 1 < argc;
  *ok = has_value;
  struct Kind {
    const char* name;
    char kind;
    size_t values;
  };
  static constexpr Kind kKinds[] = {{"--gaussian", 'g', 2}, {"--uniform", 'u', 2}, {"--lognormal", 'l', 4}};
  for (const Kind& k : kKinds)
    if (std::strcmp(opt, k.name) == 0) {
      d->kind = k.kind;
      if (has_value) *ok = parse_numbers(argv[++*i], k.values, &d->params);
      if (*ok && k.kind == 'u') *ok = d->params[0] < d->params[1];
      return true;
    }
  // --int and --float with a pair of numbers are the generator forms of zok rng gen.
  if (std::strcmp(opt, "--int") == 0 && next_is_pair(argc, argv, *i)) {
    d->kind = 'i';
    parse_numbers(argv[++*i], 2, &d->params);
    *ok = d->params[0] == std::floor(d->params[0]) && d->params[1] == std::floor(d->params[1]) &&
          d->params[0] >= INT32_MIN && d->params[1] <= INT32_MAX && d->params[0] < d->params[1];
    return true;
  }
  if ((std::strcmp(opt, "--float") == 0 && !next_is_pair(argc, argv, *i)) ||
      std::strcmp(opt, "--single") == 0) {
    d->single = *ok = true;
    return true;
  }
  if (std::strcmp(opt, "--summary") == 0) {
    d->summary = *ok = true;
    return true;
  }
  if (std::strcmp(opt, "--accurate") == 0 || std::strcmp(opt, "--bits32") == 0 ||
      std::strcmp(opt, "--bits64") == 0) {
    if (opt[2] == 'a') {
      d->accurate = true;
    } else {
      d->kind = opt[6] == '3' ? '3' : '6';
    }
    *ok = true;
    return true;
  }
  if (std::strcmp(opt, "--method") == 0) {
    static constexpr const char* kMethods[] = {"bm1", "bm2", "icdf"};
    *ok = has_value && pick(argv[++*i], kMethods, &d->method);
    return true;
  }
  if (std::strcmp(opt, "--mvn") == 0 || std::strcmp(opt, "--factor") == 0) {
    if (opt[2] == 'm') d->kind = 'm';
    if (has_value) *ok = parse_numbers(argv[++*i], 0, opt[2] == 'm' ? &d->mean : &d->factor);
    return true;
  }
  if (std::strcmp(opt, "--storage") == 0) {
    static constexpr const char* kStorages[] = {"full", "packed", "diag"};
    *ok = has_value && pick(argv[++*i], kStorages, &d->storage);
    return true;
  }
  return false;
}

const char* check_distribution(const DistOptions& d) {
  if (d.kind == 'm') {
    const size_t dim = d.mean.size();
    const size_t want = d.storage == ZOK_RNG_MV_FULL     ? dim * dim
                        : d.storage == ZOK_RNG_MV_PACKED ? dim * (dim + 1) / 2
                                                         : dim;
    if (dim == 0 || d.factor.size() != want)
      return "--mvn needs --factor with dim*dim (full), dim*(dim+1)/2 (packed) or dim (diag) values";
  }
  if ((d.kind == 'i' || d.kind == '3' || d.kind == '6') && d.single)
    return "--float is for real-valued distributions";
  return nullptr;
}

int32_t print_distribution(StreamRecord* s, const DistOptions& d, int64_t n) {
  if (d.kind == 'i' || d.kind == '3' || d.kind == '6') return print_words(s, d, n);
  return d.single ? print_real<float>(s, d, n) : print_real<double>(s, d, n);
}

namespace {

// Upper tail of chi-square with k degrees of freedom (Wilson-Hilferty; ample for a tour line).
double chi_square_tail(double x, int k) {
  const double v = 2.0 / (9.0 * k);
  const double z = (std::cbrt(x / k) - (1 - v)) / std::sqrt(v);
  return 0.5 * std::erfc(z / std::sqrt(2.0));
}

void tour_distributions() {
  tour_heading("distributions: Gaussian variates on an MCG59 stream");
  StreamRecord* s = nullptr;
  const uint32_t seed = 2026;
  if (__qorNewStreamEx(&s, ZOK_RNG_MCG59, 1, &seed) != 0) return;
  const int32_t n = 1000000;
  std::vector<double> r(n);
  // 24 bins of width 1/3 over [-4, 4): bars scaled to the tallest expected count; '|' marks the
  // exact density's expected count.
  constexpr int kBins = 24;
  constexpr double kLo = -4, kWidth = 8.0 / kBins, kColumns = 60;
  if (_qordRngGaussian(ZOK_RNG_GAUSSIAN_BOXMULLER2, s, n, r.data(), 0.0, 1.0) != 0) return;
  long counts[kBins] = {};
  for (double x : r)
    if (x >= kLo && x < -kLo) ++counts[static_cast<int>((x - kLo) / kWidth)];
  const auto cdf = [](double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); };
  const double peak = n * (cdf(kWidth / 2) - cdf(-kWidth / 2));
  std::printf("  1e6 draws of method 1 (two variates per pair), '#' observed, '|' exact density\n");
  for (int b = 0; b < kBins; ++b) {
    const double lo = kLo + b * kWidth;
    const double expected = n * (cdf(lo + kWidth) - cdf(lo));
    const int bar = static_cast<int>(std::lround(counts[b] / peak * kColumns));
    const int mark = static_cast<int>(std::lround(expected / peak * kColumns));
    char line[80];
    std::memset(line, ' ', sizeof line);
    std::memset(line, '#', static_cast<size_t>(bar));
    line[mark] = '|';
    line[std::max(bar, mark) + 1] = '\0';
    std::printf("  %5.2f %s\n", lo, line);
  }
  std::printf("  method                      ns/draw   chi-square p (100 equiprobable bins)\n");
  static constexpr const char* kNames[] = {"0 Box-Muller, one per pair", "1 Box-Muller, both of a pair",
                                           "2 inverse CDF"};
  for (int32_t method = 0; method < 3; ++method) {
    const double ns = ns_per_element(
        n, [&] { _qordRngGaussian(method, s, n, r.data(), 0.0, 1.0); }, 3);
    // Equiprobable bins by the exact CDF: bin of x is floor(100·Φ(x)).
    long bins[100] = {};
    for (double x : r) ++bins[std::min(99, static_cast<int>(100 * cdf(x)))];
    double stat = 0;
    for (long c : bins) stat += (c - n / 100.0) * (c - n / 100.0) / (n / 100.0);
    std::printf("  %-28s %7.2f   %.3f\n", kNames[method], ns, chi_square_tail(stat, 99));
  }
  __qorDeleteStream(&s);
}

const bool kRegistered = register_command({"rng-dist", nullptr, nullptr, tour_distributions, 103});

}  // namespace

}  // namespace zok::app
