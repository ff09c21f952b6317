// What the discrete generators share: set-up chunks kept on the stream, the conversion of a variate
// to an output word, and the vector-math kernels they call through the tables.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "distributions/distributions.h"
#include "frame/mode_guard.h"
#include "zok/core_services.h"
#include "zok/random.h"
#include "zok/vector_math.h"

namespace zok::rng::discrete {

// Set-up chunk ids and sizes.
inline constexpr int32_t kPoissonChunk = 3, kPoissonChunkBytes = 696;
inline constexpr int32_t kNegbinChunk = 4, kNegbinChunkBytes = 1328;
inline constexpr int32_t kBinomialChunk = 5, kBinomialChunkBytes = 544;
inline constexpr int32_t kHyperChunk = 6, kHyperChunkBytes = 600;

// The first private chunk of `id` on the stream when it has `bytes` bytes; otherwise every chunk of
// that id goes (a loaded image or another caller may have brought one of another size or a shared
// one, which must not be written) and a zero-filled one is attached, whose first two words match
// no parameter set the caller can mean. With `larger_ok`, a chunk of 8k + 48 bytes above `bytes` is
// kept as well (a table chunk only grows). *status is 0, -4, or __qorAddChunk's failure.
inline void* setup_chunk(StreamRecord* stream, int32_t id, int32_t bytes, int32_t* status,
                         bool larger_ok = false) {
  *status = 0;
  for (StreamChunk* c = stream->chunks; c != nullptr; c = c->next) {
    if (c->id != id) continue;
    const bool fits = c->size == bytes || (larger_ok && c->size > bytes && (c->size - 48) % 8 == 0);
    if (fits && c->data != nullptr && c->key[0] == 0 && c->key[1] == 0) return c->data;
    break;
  }
  __qorDeleteChunksById(stream, id);
  void* data = zok_serv_allocate(static_cast<size_t>(bytes), 128);
  if (data == nullptr) {
    *status = ZOK_RNG_ERROR_MEMORY;
    return nullptr;
  }
  std::memset(data, 0, static_cast<size_t>(bytes));
  const int32_t added = __qorAddChunk(stream, id, nullptr, data, bytes);
  if (added < 0) {
    zok_serv_deallocate(data);
    *status = added;
    return nullptr;
  }
  return data;
}

// A variate held in double as an output word: [2^31, 2^32) converts exactly; NaN, infinities and
// values from 2^32 on (a geometric whose log-ratio overflowed) saturate.
inline uint32_t to_word(double x) {
  if (!(x >= 0.0)) return x < 0.0 && x > -1.0 ? 0u : 0xFFFFFFFFu;
  if (x >= 4294967296.0) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(static_cast<uint64_t>(x));
}

// A float uniform can be exactly 1.0 (the generator's double rounded to float): every search treats
// it as the largest float below 1.
inline constexpr float kBelowOne = 0x1.fffffep-1f;

// ---- kernels through their tables, denormals kept for each call ----
inline void s_ln(int n, const float* a, float* r) {
  vm::call_slot(zok_yub_kernel_sLn_ttab, vm::kSlotLA, n, a, r);
}
inline void s_erf(int n, const float* a, float* r) {
  vm::call_slot(zok_yub_kernel_sErf_ttab, vm::kSlotLA, n, a, r);
}
inline void d_exp(int n, const double* a, double* r) {
  vm::call_slot(zok_yub_kernel_dExp_ttab, vm::kSlotEP, n, a, r);
}
// x^y for one x and one y by the EP kernel of dPowx.
inline double d_powx(double x, double y) {
  vm::ModeGuard guard(ZOK_VM_FTZDAZ_OFF);
  double r = 0;
  vm::table_kernel<void (*)(int, const double*, double, double*)>(zok_yub_kernel_dPowx_ttab, vm::kSlotEP)(
      1, &x, y, &r);
  return r;
}
inline double d_exp1(double x) {
  double r = 0;
  d_exp(1, &x, &r);
  return r;
}

// ln k! : exact sums below 16, Stirling's series with its first three corrections above (error
// below 1e-14 there).
inline double ln_factorial(double k) {
  static constexpr double kSmall[16] = {0.0,
                                        0.0,
                                        0.69314718055994531,
                                        1.791759469228055,
                                        3.1780538303479458,
                                        4.7874917427820458,
                                        6.5792512120101012,
                                        8.5251613610654147,
                                        10.604602902745251,
                                        12.801827480081469,
                                        15.104412573075516,
                                        17.502307845873887,
                                        19.987214495661885,
                                        22.552163853123425,
                                        25.19122118273868,
                                        27.89927138384089};
  if (k >= 0 && k < 16) return kSmall[static_cast<int>(k)];
  const double x = k + 1, r = 1 / (x * x);
  return (x - 0.5) * std::log(x) - x + 0.91893853320467274 + (1.0 / 12 - r * (1.0 / 360 - r / 1260)) / x;
}

}  // namespace zok::rng::discrete

namespace zok::rng::discrete {

// The repair of the discrete generators' float logarithms: ln 0 (the only error they can meet)
// stands for the logarithm of the smallest float.
inline int32_t repair_ln_float(ErrorContext* context) {
  context->res1 = context->res2 = -103.27893f;
  return 0;
}

// Pairs of float uniforms (u, v) with ln v beside them, drawn a block at a time for the rejection
// methods; what a call leaves unused is dropped with it.
class UniformPairs {
 public:
  explicit UniformPairs(StreamRecord* stream) : stream_(stream) {}
  // Draws the next pair; a negative status of the generator is returned.
  int32_t next(double* u, double* v, double* ln_v) {
    if (pos_ == count_) {
      const int32_t status = zok::rng::uniform(stream_, 2 * kPairs, uv_, 0.0f, 1.0f);
      if (status < 0) return status;
      for (int i = 0; i < kPairs; ++i) v_[i] = uv_[2 * i + 1];
      s_ln(kPairs, v_, ln_v_);
      pos_ = 0;
      count_ = kPairs;
    }
    *u = uv_[2 * pos_];
    *v = v_[pos_];
    *ln_v = ln_v_[pos_];
    ++pos_;
    return 0;
  }

 private:
  static constexpr int kPairs = 512;
  StreamRecord* stream_;
  int pos_ = 0, count_ = 0;
  float uv_[2 * kPairs];
  float v_[kPairs];
  float ln_v_[kPairs];
};

// e^x by the polynomial that the per-element Poisson start values use: 2^k times the degree-7 fit
// of e^f on [0, 1) (relative error 2.2e-9), with k = floor(x / ln 2).
inline double exp_poly(double x) {
  static constexpr double kC[8] = {0.9999999978976929,    1.000000235204182,    0.49999555884885266,
                                   0.16669916415448055,   0.0415487961378904,   0.008565930750590653,
                                   0.0011369805324212754, 0.0003351641595394528};
  if (x < -745.0) return 0.0;
  const double t = x * 1.4426950408889634;
  const double k = std::floor(t);
  const double f = (t - k) * 0.69314718055994531;
  double p = kC[7];
  for (int i = 6; i >= 0; --i) p = p * f + kC[i];
  return std::ldexp(p, static_cast<int>(k));
}

}  // namespace zok::rng::discrete

namespace zok::rng::discrete {
// Poisson variates of mean lambda[k] (0 gives 0), the body of PoissonV that the negative binomial's
// gamma mixture shares.
int32_t poisson_per_element(StreamRecord* stream, int32_t n, uint32_t* r, const double* lambda);
}  // namespace zok::rng::discrete

namespace zok::rng::discrete {
// Inversion searches stop at a bound far in the tail, which only a sum of probabilities rounding
// below the uniform reaches, and ask for a new uniform (a negative count). These redraws are capped
// so that a generator stuck on such a value ends at the bound rather than never.
// A uniform as the searches take it: one of 1.0 (a float rounded up) counts as the value below.
inline double below_one(float u) {
  return std::min(u, kBelowOne);
}
inline double below_one(double u) {
  return std::min(u, 0x1.fffffffffffffp-1);
}

template <class T, class Invert>
int32_t redraw(StreamRecord* stream, Invert invert, double bound, double* x) {
  for (int tries = 0; *x < 0.0; ++tries) {
    if (tries == 16) {
      *x = bound;
      break;
    }
    T u;
    const int32_t status = zok::rng::uniform(stream, 1, &u, T(0), T(1));
    if (status < 0) return status;
    *x = invert(below_one(u));
  }
  return 0;
}

// r[0..n) by inversion of uniforms of type T that draw(m, u) makes a block at a time: invert(u)
// gives the variate (or a negative count past `bound`, see redraw) and out(x) the value written.
template <class T, class Draw, class Invert, class Out>
int32_t fill_by_inversion(StreamRecord* stream, int32_t n, uint32_t* r, Draw draw, Invert invert,
                          double bound, Out out) {
  T u[kBlock];
  for (int32_t done = 0; done < n;) {
    const int32_t m = std::min(n - done, kBlock);
    int32_t status = draw(m, u);
    if (status < 0) return status;
    for (int32_t k = 0; k < m; ++k) {
      double x = invert(below_one(u[k]));
      if (x < 0.0 && (status = redraw<T>(stream, invert, bound, &x)) < 0) return status;
      r[done + k] = to_word(out(x));
    }
    done += m;
  }
  return 0;
}
// The same on the stream's own uniforms.
template <class T, class Invert, class Out>
int32_t fill_by_inversion(StreamRecord* stream, int32_t n, uint32_t* r, Invert invert, double bound,
                          Out out) {
  auto draw = [stream](int32_t m, T* u) { return zok::rng::uniform(stream, m, u, T(0), T(1)); };
  return fill_by_inversion<T>(stream, n, r, draw, invert, bound, out);
}

// r[0..n) by a rejection method: attempt(u, v, ln v) on pairs of float uniforms gives the variate
// or -1; out(x) is the value written.
template <class Attempt, class Out>
int32_t fill_by_rejection(StreamRecord* stream, int32_t n, uint32_t* r, Attempt attempt, Out out) {
  RepairScope repair(repair_ln_float);
  UniformPairs pairs(stream);
  for (int32_t k = 0; k < n; ++k) {
    double x = -1.0;
    while (x < 0.0) {
      double u, v, ln_v;
      const int32_t status = pairs.next(&u, &v, &ln_v);
      if (status < 0) return status;
      x = attempt(u, v, ln_v);
    }
    r[k] = to_word(out(x));
  }
  return 0;
}

// The first of `size` ascending cumulative probabilities not below u (the last when none is).
inline int64_t first_not_below(const double* cdf, int64_t size, double u) {
  int64_t lo = 0, hi = size - 1;
  while (lo < hi) {
    const int64_t mid = (lo + hi) / 2;
    if (cdf[mid] < u) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

inline double identity(double x) {
  return x;
}
}  // namespace zok::rng::discrete
