// zok rng abstract: distributions drawn from the caller's own numbers, read from a file or standard
// input by an abstract stream's refill callback; and the abstract-stream tour stop.
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "apps/zok/commands.h"
#include "zok/random.h"

namespace {

constexpr const char* kUsage =
    "usage: zok rng abstract [--kind d|s|i] [--buffer N] --from FILE|- -n N\n"
    "                        (--uniform a,b | --gaussian mu,sigma [--method 0|1|2] | --bits)\n"
    "       (the numbers of FILE, or of standard input for -, feed a double (d, the default), single\n"
    "       (s) or integer (i) abstract stream through a buffer of N places (default 1024): reals in\n"
    "       [0, 1), or unsigned 32-bit integers; a distribution prints its -n N variates, one a line)\n";

// What the refill callbacks read from: the input, numbers read so far, and why reading stopped.
struct Input {
  FILE* file = nullptr;
  int64_t numbers = 0;
  char bad[64] = "";  // a token that is not a number of the kind
};
Input g_input;

// The next number of the input as T, false at its end or at a token that is not one (kept in
// g_input.bad). Reals must lie in [0, 1), the interval the streams are made with.
template <class T>
bool next_number(T* out) {
  char token[64];
  if (std::fscanf(g_input.file, "%63s", token) != 1) return false;
  char* end = nullptr;
  errno = 0;
  bool ok;
  if constexpr (sizeof(T) == 4 && static_cast<T>(-1) > 0) {
    const unsigned long long v = std::strtoull(token, &end, 0);
    ok = token[0] != '-' && v <= 0xFFFFFFFFull;
    *out = static_cast<T>(v);
  } else {
    const double v = std::strtod(token, &end);
    ok = v >= 0 && v < 1;
    *out = static_cast<T>(v);
    ok = ok && *out < 1;  // a double just below 1 may round to 1 as a float
  }
  if (end == token || *end != '\0' || errno != 0 || !ok) {
    std::snprintf(g_input.bad, sizeof g_input.bad, "%s", token);
    return false;
  }
  ++g_input.numbers;
  return true;
}

// Refills at most nmax places from idx on with what the input still has: 0 once it is used up.
template <class T>
int32_t refill(StreamRecord*, int32_t* n, T* buffer, int32_t*, int32_t* nmax, int32_t* idx) {
  int32_t count = 0;
  while (count < *nmax && next_number(&buffer[(*idx + count) % *n])) ++count;
  return count;
}

bool parse_pair(const char* text, double* a, double* b) {
  char* end = nullptr;
  *a = std::strtod(text, &end);
  if (end == text || *end != ',') return false;
  const char* second = end + 1;
  *b = std::strtod(second, &end);
  return end != second && *end == '\0';
}
bool parse_count(const char* text, int64_t most, int64_t* out) {
  char* end = nullptr;
  errno = 0;
  *out = std::strtoll(text, &end, 10);
  return end != text && *end == '\0' && errno == 0 && *out >= 0 && *out <= most;
}

struct Options {
  char kind = 'd';
  int64_t buffer = 1024, n = -1;
  const char* from = nullptr;
  char what = 0;        // 'u' uniform, 'g' Gaussian, 'b' bits
  double a = 0, b = 1;  // the uniform's interval, or the Gaussian's mean and sigma
  int64_t method = ZOK_RNG_GAUSSIAN_ICDF;
  bool method_given = false;
};

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool has_value = i + 1 < argc;
    bool ok = has_value;
    if (std::strcmp(arg, "--kind") == 0 && has_value) {
      const char* k = argv[++i];
      ok = (k[0] == 'd' || k[0] == 's' || k[0] == 'i') && k[1] == '\0';
      o->kind = k[0];
    } else if (std::strcmp(arg, "--buffer") == 0 && has_value) {
      ok = parse_count(argv[++i], INT32_MAX, &o->buffer) && o->buffer >= 1;
    } else if (std::strcmp(arg, "-n") == 0 && has_value) {
      ok = parse_count(argv[++i], INT64_MAX, &o->n);
    } else if (std::strcmp(arg, "--from") == 0 && has_value) {
      o->from = argv[++i];
    } else if (std::strcmp(arg, "--uniform") == 0 && has_value && o->what == 0) {
      o->what = 'u';
      ok = parse_pair(argv[++i], &o->a, &o->b) && o->a < o->b;
    } else if (std::strcmp(arg, "--gaussian") == 0 && has_value && o->what == 0) {
      o->what = 'g';
      ok = parse_pair(argv[++i], &o->a, &o->b) && o->b > 0;
    } else if (std::strcmp(arg, "--method") == 0 && has_value) {
      ok = parse_count(argv[++i], 2, &o->method);
      o->method_given = true;
    } else if (std::strcmp(arg, "--bits") == 0 && o->what == 0) {
      o->what = 'b';
      ok = true;
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "zok rng abstract: cannot use %s\n%s", arg, kUsage);
      return false;
    }
  }
  if (o->method_given && o->what != 'g') {
    std::fprintf(stderr, "zok rng abstract: --method goes with --gaussian\n%s", kUsage);
    return false;
  }
  if (o->from == nullptr || o->n < 0 || o->what == 0) {
    std::fprintf(stderr, "zok rng abstract: --from, -n and a distribution are required\n%s", kUsage);
    return false;
  }
  return true;
}

// Draws `count` variates of the chosen distribution into out (doubles, floats or words).
int32_t draw(const Options& o, StreamRecord* s, int32_t count, std::vector<double>& d, std::vector<float>& f,
             std::vector<uint32_t>& w) {
  const auto method = static_cast<int32_t>(o.method);
  const float fa = static_cast<float>(o.a), fb = static_cast<float>(o.b);
  if (o.what == 'b') return _qoriRngUniformBits(0, s, count, w.data());
  if (o.what == 'g' && o.kind == 's') return _qorsRngGaussian(method, s, count, f.data(), fa, fb);
  if (o.what == 'g') return _qordRngGaussian(method, s, count, d.data(), o.a, o.b);
  if (o.kind == 's') return _qorsRngUniform(0, s, count, f.data(), fa, fb);
  return _qordRngUniform(0, s, count, d.data(), o.a, o.b);
}

void print(const Options& o, int32_t count, const std::vector<double>& d, const std::vector<float>& f,
           const std::vector<uint32_t>& w) {
  for (int32_t i = 0; i < count; ++i) {
    if (o.what == 'b')
      std::printf("%u\n", w[i]);
    else if (o.kind == 's')
      std::printf("%.9g\n", static_cast<double>(f[i]));
    else
      std::printf("%.17g\n", d[i]);
  }
}

int run(const Options& o) {
  StreamRecord* s = nullptr;
  const int32_t size = static_cast<int32_t>(o.buffer);
  std::vector<double> dbuf(o.kind == 'd' ? size : 0);
  std::vector<float> sbuf(o.kind == 's' ? size : 0);
  std::vector<uint32_t> ibuf(o.kind == 'i' ? size : 0);
  int32_t status = o.kind == 'd'   ? __qordNewAbstractStream(&s, size, dbuf.data(), 0.0, 1.0, refill<double>)
                   : o.kind == 's' ? __qorsNewAbstractStream(&s, size, sbuf.data(), 0.0f, 1.0f, refill<float>)
                                   : __qoriNewAbstractStream(&s, size, ibuf.data(), refill<uint32_t>);
  // Variates are printed a piece at a time, each once its draw succeeded.
  constexpr int32_t kPiece = 4096;
  std::vector<double> d(kPiece);
  std::vector<float> f(kPiece);
  std::vector<uint32_t> w(kPiece);
  for (int64_t done = 0; status == 0 && done < o.n;) {
    const int32_t count = static_cast<int32_t>(o.n - done < kPiece ? o.n - done : kPiece);
    status = draw(o, s, count, d, f, w);
    if (status == 0) print(o, count, d, f, w);
    done += count;
  }
  __qorDeleteStream(&s);
  if (status == 0) return 0;
  if (g_input.bad[0] != '\0')
    std::fprintf(stderr, "zok rng abstract: \"%s\" after %" PRId64 " numbers is not %s\n", g_input.bad,
                 g_input.numbers, o.kind == 'i' ? "an unsigned 32-bit integer" : "a number in [0, 1)");
  else if (status == ZOK_RNG_ERROR_ABSTRACT_EMPTY)
    std::fprintf(stderr, "zok rng abstract: the input ran out after %" PRId64 " numbers\n", g_input.numbers);
  else if (status == ZOK_RNG_ERROR_UNAVAILABLE)
    std::fprintf(stderr, "zok rng abstract: %s stream cannot serve that distribution (status %d)\n",
                 o.kind == 'i' ? "an integer" : "a real", status);
  else
    std::fprintf(stderr, "zok rng abstract: status %d\n", status);
  return 1;
}

// (k + 0.5)/8 for k = 0..7 (the tour's streams have eight places, so a refill starts at place 0).
int32_t tour_refill(StreamRecord*, int32_t* n, double* buffer, int32_t*, int32_t* nmax, int32_t* idx) {
  for (int32_t j = 0; j < *nmax; ++j) buffer[(*idx + j) % *n] = (j % 8 + 0.5) / 8;
  return *nmax;
}
int32_t tour_words(StreamRecord*, int32_t* n, uint32_t* buffer, int32_t*, int32_t* nmax, int32_t* idx) {
  for (int32_t j = 0; j < *nmax; ++j) buffer[(*idx + j) % *n] = 1000u + static_cast<uint32_t>(j);
  return *nmax;
}

// The standard normal quantile of p in long double: erf inverted by bisection.
long double normal_quantile(long double p) {
  long double lo = -10, hi = 10;
  for (int i = 0; i < 200; ++i) {
    const long double mid = (lo + hi) / 2;
    (0.5L * std::erfc(-mid / std::sqrt(2.0L)) < p ? lo : hi) = mid;
  }
  return (lo + hi) / 2;
}

void tour_abstract() {
  zok::app::tour_heading("random streams: abstract streams fed by the caller");
  double buffer[8];
  StreamRecord* s = nullptr;
  double u[8] = {};
  if (__qordNewAbstractStream(&s, 8, buffer, 0.0, 1.0, tour_refill) == 0 &&
      _qordRngUniform(0, s, 8, u, 2.0, 4.0) == 0) {
    std::printf("  the caller's (k + 0.5)/8, k = 0..7, as uniforms on [2, 4):");
    for (double v : u) std::printf(" %g", v);
    std::printf("\n");
  }
  __qorDeleteStream(&s);
  double z[8] = {};
  if (__qordNewAbstractStream(&s, 8, buffer, 0.0, 1.0, tour_refill) == 0 &&
      _qordRngGaussian(ZOK_RNG_GAUSSIAN_ICDF, s, 8, z, 0.0, 1.0) == 0) {
    std::printf("  Gaussian by the inverse distribution function of each, beside the exact quantile:\n");
    for (int k = 0; k < 8; ++k)
      std::printf("    u = %.4f  %+.17f  %+.17Lf\n", (k + 0.5) / 8, z[k], normal_quantile((k + 0.5L) / 8));
  }
  __qorDeleteStream(&s);
  uint32_t words[4] = {};
  if (__qoriNewAbstractStream(&s, 4, words, tour_words) == 0) {
    uint32_t bits[4] = {};
    const int32_t status = _qoriRngUniformBits(0, s, 4, bits);
    std::printf("  an integer stream hands out the caller's words %u %u %u %u (status %d)\n", bits[0],
                bits[1], bits[2], bits[3], status);
    std::printf("  and refuses doubles: uniform on it gives status %d\n", _qordRngUniform(0, s, 4, u, 0, 1));
  }
  __qorDeleteStream(&s);
}

const bool kRegistered = zok::app::register_command({"rng-abstract", nullptr, nullptr, tour_abstract, 103});

}  // namespace

namespace zok::app {

int rng_abstract(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, &o)) return 2;
  const bool from_stdin = std::strcmp(o.from, "-") == 0;
  g_input = Input{};
  g_input.file = from_stdin ? stdin : std::fopen(o.from, "r");
  if (g_input.file == nullptr) {
    std::fprintf(stderr, "zok rng abstract: cannot open %s\n", o.from);
    return 1;
  }
  const int code = run(o);
  if (!from_stdin) std::fclose(g_input.file);
  return code;
}

}  // namespace zok::app
