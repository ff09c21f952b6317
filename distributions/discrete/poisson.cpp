// Poisson variates. Method 0: for lambda below 30 inversion over a cumulative table kept in a chunk,
// searched with uniforms made from the generator's raw words; from 30 on the transformed rejection
// with squeeze (PTRS) of Hörmann (1993). Method 1: inversion from zero below 1, inversion over a
// table made for the call on uniforms made from Gaussian variates below 100, PTRS beyond. PoissonV: one mean
// per element, inversion from zero below 10 and PTRS from there.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "distributions/discrete/discrete_common.h"

namespace zok::rng::discrete {
namespace {

// ---- PTRS ----
struct Ptrs {
  double a, b, vr, ln_inv_alpha, ln_lambda;
};

// The constants of the quick acceptance; the two logarithms only the slower test needs are made by
// with_logs (per-element means seldom reach that test).
Ptrs ptrs_setup(double lambda) {
  Ptrs c;
  c.b = 0.931 + 2.53 * std::sqrt(lambda);
  c.a = -0.059 + 0.02483 * c.b;
  c.vr = 0.9277 - 3.6224 / (c.b - 2.0);
  c.ln_inv_alpha = c.ln_lambda = 0.0;
  return c;
}
void with_logs(Ptrs& c, double lambda) {
  c.ln_inv_alpha = std::log(1.1239 + 1.1328 / (c.b - 3.4));
  c.ln_lambda = std::log(lambda);
}

// One attempt from the float pair (u, v); -1 when rejected. The variate and the acceptance test mix
// lambda and ln k!, so they stay in double.
double ptrs_attempt(Ptrs& c, bool& logs, double lambda, double u, double v, double ln_v) {
  const double us_u = u - 0.5, us = 0.5 - std::fabs(us_u);
  const double k = std::floor((2.0 * c.a / us + c.b) * us_u + lambda + 0.43);
  if (us >= 0.07 && v <= c.vr) return k;
  if (!(k >= 0.0) || (us < 0.013 && v > us)) return -1.0;
  if (!logs) with_logs(c, lambda), logs = true;
  const double lhs = ln_v + c.ln_inv_alpha - std::log(c.a / (us * us) + c.b);
  return lhs <= -lambda + k * c.ln_lambda - ln_factorial(k) ? k : -1.0;
}

int32_t ptrs_one(UniformPairs& pairs, Ptrs c, double lambda, double* x) {
  bool logs = false;
  for (*x = -1.0; *x < 0.0;) {
    double u, v, ln_v;
    const int32_t status = pairs.next(&u, &v, &ln_v);
    if (status < 0) return status;
    *x = ptrs_attempt(c, logs, lambda, u, v, ln_v);
  }
  return 0;
}

int32_t fill_ptrs(Ptrs c, double lambda, StreamRecord* stream, int32_t n, uint32_t* r) {
  with_logs(c, lambda);
  bool logs = true;
  return fill_by_rejection(
      stream, n, r,
      [&](double u, double v, double ln_v) { return ptrs_attempt(c, logs, lambda, u, v, ln_v); }, identity);
}

// ---- inversion by the pmf recurrence ----
// The smallest x >= x0 whose cumulative probability reaches u, walking up from (x0, f = pmf(x0),
// cdf = F(x0)); -1 asks for a new uniform when the sum rounds below u past `bound`.
double walk_up(double u, double lambda, double x, double f, double cdf, double bound) {
  while (u > cdf) {
    if (x >= bound) return -1.0;
    x += 1.0;
    f *= lambda / x;
    cdf += f;
  }
  return x;
}

// Far enough in the tail that only rounding reaches it.
double tail_bound(double lambda) {
  return std::ceil(lambda + 60.0 * std::sqrt(lambda) + 60.0);
}

// ---- method 0: the table and its chunk ----
constexpr double kTableLimit = 30.0;
constexpr int kTableSize = 81;  // F(80) of lambda 30 is 1 - 1e-15

struct PoissonSetup {
  double lambda;
  int64_t kind;  // 1 table, 2 PTRS: a zero-filled chunk matches neither
  double spare[4];
  union {
    double cdf[kTableSize];
    Ptrs ptrs;
  };
};
static_assert(sizeof(PoissonSetup) == kPoissonChunkBytes);

// Uniforms on [0, 1) from raw generator words, by their significant bits only: the low bit_count
// bits of a 4-byte word (MCG31M1 31, never 0), the top 53 of the low bit_count bits of an 8-byte one
// (MCG59 59), the exclusive or of the four words of a 16-byte one (WH: four 24-bit components, none
// of which is a uniform source by itself).
class RawUniforms {
 public:
  explicit RawUniforms(const StreamRecord* stream) {
    const GeneratorProperties& row = row_of(stream);
    words_ = row.word_size == 8 ? 2 : row.word_size == 16 ? 4 : 1;
    const int limit = words_ == 2 ? 64 : 32;
    bits_ = std::clamp(row.bit_count, 1, limit);
    mask_ = bits_ == 64 ? ~uint64_t{0} : (uint64_t{1} << bits_) - 1;
    shift_ = bits_ > 53 ? bits_ - 53 : 0;
    scale_ = std::ldexp(1.0, -(bits_ - shift_));
  }
  int32_t draw(StreamRecord* stream, int32_t n, double* u) {
    const int32_t status = row_of(stream).generate_i(stream, n, raw_);
    if (status < 0) return status;
    for (int32_t k = 0; k < n; ++k) {
      const uint32_t* w = raw_ + words_ * k;
      uint64_t v = w[0];
      if (words_ == 2) v |= uint64_t{w[1]} << 32;
      if (words_ == 4) v ^= w[1] ^ w[2] ^ w[3];
      u[k] = static_cast<double>((v & mask_) >> shift_) * scale_;
    }
    return 0;
  }

 private:
  int words_, bits_, shift_;
  uint64_t mask_;
  double scale_;
  uint32_t raw_[4 * kBlock];
};

void build_table(PoissonSetup& s, double lambda) {
  double f = d_exp1(-lambda), cdf = f;
  s.cdf[0] = f;
  for (int x = 1; x < kTableSize; ++x) {
    f *= lambda / x;
    s.cdf[x] = (cdf += f);
  }
  s.spare[0] = f;  // pmf(80), where a search past the table goes on
}

int32_t fill_table(const PoissonSetup& s, double lambda, StreamRecord* stream, int32_t n, uint32_t* r) {
  RawUniforms raw(stream);
  const double last = kTableSize - 1, bound = tail_bound(lambda) + last;
  auto invert = [&](double v) {
    if (v > s.cdf[kTableSize - 1]) return walk_up(v, lambda, last, s.spare[0], s.cdf[kTableSize - 1], bound);
    return static_cast<double>(first_not_below(s.cdf, kTableSize, v));
  };
  auto draw = [&](int32_t m, double* u) { return raw.draw(stream, m, u); };
  return fill_by_inversion<double>(stream, n, r, draw, invert, bound, identity);
}

int32_t poisson_table_or_ptrs(StreamRecord* stream, int32_t n, uint32_t* r, double lambda) {
  int32_t status;
  auto* s = static_cast<PoissonSetup*>(setup_chunk(stream, kPoissonChunk, kPoissonChunkBytes, &status));
  if (s == nullptr) return status;
  const int64_t kind = lambda < kTableLimit ? 1 : 2;
  if (std::bit_cast<uint64_t>(s->lambda) != std::bit_cast<uint64_t>(lambda) || s->kind != kind) {
    s->lambda = lambda;
    s->kind = kind;
    if (kind == 1) {
      build_table(*s, lambda);
    } else {
      s->ptrs = ptrs_setup(lambda);
    }
  }
  return kind == 1 ? fill_table(*s, lambda, stream, n, r) : fill_ptrs(s->ptrs, lambda, stream, n, r);
}

// ---- method 1 and PoissonV: start values by the polynomial exponential ----
constexpr double kGaussianLimit = 100.0;
constexpr double kPtrsFrom = 10.0;  // PTRS holds from 10 on

// Inversion from zero on float uniforms drawn directly (lambda below 1).
int32_t fill_from_zero(StreamRecord* stream, int32_t n, uint32_t* r, double lambda) {
  const double start = exp_poly(-lambda), bound = tail_bound(lambda);
  auto invert = [&](double v) { return walk_up(v, lambda, 0.0, start, start, bound); };
  return fill_by_inversion<float>(stream, n, r, invert, bound, identity);
}

// u = (1 + erf(g / sqrt 2)) / 2 for m standard Gaussian floats: uniforms on [0, 1].
int32_t gaussian_uniforms(StreamRecord* stream, int32_t m, float* u) {
  const int32_t status = gaussian(ZOK_RNG_GAUSSIAN_ICDF, stream, m, u, 0.0f, 0.70710677f);
  if (status < 0) return status;
  s_erf(m, u, u);
  for (int32_t k = 0; k < m; ++k) u[k] = 0.5f + 0.5f * u[k];
  return 0;
}

// Inversion on Gaussian-made uniforms (1 <= lambda < 100) over a table of F(0 .. lambda + 12 sqrt
// lambda + 12) made for the call (at most 232 values), walking on past its end.
int32_t fill_gaussian_table(StreamRecord* stream, int32_t n, uint32_t* r, double lambda) {
  double cdf[232];
  const int size = static_cast<int>(lambda + 12.0 * std::sqrt(lambda) + 12.0);
  double f = exp_poly(-lambda), sum = f;
  cdf[0] = f;
  for (int x = 1; x < size; ++x) cdf[x] = (sum += (f *= lambda / x));
  const double last = size - 1, bound = tail_bound(lambda);
  auto invert = [&](double v) {
    if (v > cdf[size - 1]) return walk_up(v, lambda, last, f, cdf[size - 1], bound);
    return static_cast<double>(first_not_below(cdf, size, v));
  };
  auto draw = [stream](int32_t m, float* u) { return gaussian_uniforms(stream, m, u); };
  return fill_by_inversion<float>(stream, n, r, draw, invert, bound, identity);
}

int32_t poisson_polynomial(StreamRecord* stream, int32_t n, uint32_t* r, double lambda) {
  if (lambda < 1.0) return fill_from_zero(stream, n, r, lambda);
  if (lambda < kGaussianLimit) return fill_gaussian_table(stream, n, r, lambda);
  return fill_ptrs(ptrs_setup(lambda), lambda, stream, n, r);
}

using Method = int32_t (*)(StreamRecord*, int32_t, uint32_t*, double);
constexpr Method kMethods[2] = {poisson_table_or_ptrs, poisson_polynomial};

}  // namespace

int32_t poisson_per_element(StreamRecord* stream, int32_t n, uint32_t* r, const double* lambda) {
  RepairScope repair(repair_ln_float);
  UniformPairs pairs(stream);
  float u[kBlock];
  for (int32_t done = 0; done < n;) {
    const int32_t m = std::min(n - done, kBlock);
    int32_t status = gaussian_uniforms(stream, m, u);
    if (status < 0) return status;
    for (int32_t k = 0; k < m; ++k) {
      const double lam = lambda[done + k];
      double x = 0.0;
      if (lam >= kPtrsFrom) {
        if ((status = ptrs_one(pairs, ptrs_setup(lam), lam, &x)) < 0) return status;
      } else if (lam > 0.0) {
        const double start = exp_poly(-lam), bound = tail_bound(lam);
        auto invert = [&](double v) { return walk_up(v, lam, 0.0, start, start, bound); };
        x = invert(below_one(u[k]));
        if (x < 0.0 && (status = redraw<float>(stream, invert, bound, &x)) < 0) return status;
      }
      r[done + k] = to_word(x);
    }
    done += m;
  }
  return 0;
}

}  // namespace zok::rng::discrete

using namespace zok::rng::discrete;

extern "C" {

ZOK_RNG_API int32_t _qoriRngPoisson(int32_t method, StreamRecord* stream, int32_t n, uint32_t* r,
                                    double lambda) {
  if (n <= 0) return 0;
  return kMethods[method == 1 ? 1 : 0](stream, n, r, lambda);
}

ZOK_RNG_API int32_t _qoriRngPoissonV(int32_t, StreamRecord* stream, int32_t n, uint32_t* r,
                                     const double* lambda) {
  return n <= 0 ? 0 : poisson_per_element(stream, n, r, lambda);
}

}  // extern "C"
