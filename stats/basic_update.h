// Accumulation state of the basic statistics and its two sets of update routines (one observation at a
// time; blocks through BLAS), templates over storage, weighting, order level and cross-product.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "zok/core_services.h"

namespace zok::ss {

// Per-variable state of one range of observations. Means are kept as a shift K (a value near the
// data, subtracted exactly from every observation) plus the mean of x - K: data far from zero then
// loses no digits to the running mean. Raw moments are averages of x^k itself.
template <class T>
struct State {
  T W = 0, W2 = 0;
  T* K = nullptr;
  T* m = nullptr;
  T* r[3] = {};    // raw moments 2, 3, 4
  T* M[3] = {};    // central sums 2, 3, 4
  T* C = nullptr;  // k*k, upper triangle (i <= j) maintained; null without cross-products
};

// What every range routine reads. `shifted`: the kept-means method with kept means present; K is
// then the kept means in every range and C holds sum w (x-K)(x-K)^T, combined without mean terms.
template <class T>
struct Job {
  const T* x = nullptr;
  const T* w = nullptr;  // null: unit weights
  int64_t n = 0, p = 0;
  const int64_t* vars = nullptr;  // selected variables
  int64_t k = 0;
  bool cols = false;  // columns storage (with p > 1)
  bool shifted = false;
  int64_t block = 0;  // observations per block of the blocked path
};

template <bool Cols, class T>
inline T at(const Job<T>& job, int64_t i, int64_t v) {
  return Cols ? job.x[i * job.p + v] : job.x[v * job.n + i];
}

// ---- linear-algebra forms by element type ----
inline void blas_syrk(int n, int kk, const double* a, int lda, double* c, int ldc) {
  const double one = 1;
  zok_blas_xdsyrk("L", "T", &n, &kk, &one, a, &lda, &one, c, &ldc);
}
inline void blas_syrk(int n, int kk, const float* a, int lda, float* c, int ldc) {
  const float one = 1;
  zok_blas_xssyrk("L", "T", &n, &kk, &one, a, &lda, &one, c, &ldc);
}
inline void blas_gemm_tn(int n, int kk, const double* a, const double* b, int ld, double* c, int ldc) {
  const double one = 1;
  zok_blas_xdgemm("T", "N", &n, &n, &kk, &one, a, &ld, b, &ld, &one, c, &ldc);
}
inline void blas_gemm_tn(int n, int kk, const float* a, const float* b, int ld, float* c, int ldc) {
  const float one = 1;
  zok_blas_xsgemm("T", "N", &n, &n, &kk, &one, a, &ld, b, &ld, &one, c, &ldc);
}
inline void blas_syr(int n, double alpha, const double* x, double* a, int lda) {
  const int inc = 1;
  zok_blas_xdsyr("L", &n, &alpha, x, &inc, a, &lda);
}
inline void blas_syr(int n, float alpha, const float* x, float* a, int lda) {
  const int inc = 1;
  zok_blas_xssyr("L", &n, &alpha, x, &inc, a, &lda);
}
// The plain forms, for the kept-means rank-1 updates.
inline void blas_syr_plain(int n, double alpha, const double* x, double* a, int lda) {
  const int inc = 1;
  zok_blas_dsyr("L", &n, &alpha, x, &inc, a, &lda);
}
inline void blas_syr_plain(int n, float alpha, const float* x, float* a, int lda) {
  const int inc = 1;
  zok_blas_ssyr("L", &n, &alpha, x, &inc, a, &lda);
}
// Column-major lower is row-major upper: C[i*k + j] with i <= j is what the BLAS calls above keep.

// ---- running means that neither overflow nor depend on where infinities fall ----
// r moved the fraction a of the way to v. The plain form serves all data whose difference is finite;
// the rest takes the slow form below, so ordinary data keeps its exact arithmetic.
template <class T>
[[gnu::cold, gnu::noinline]] T toward_slow(T r, T v, T a) {
  if (a == T(0)) return r;  // an observation of no weight changes nothing
  if (std::isfinite(r) && std::isfinite(v)) {
    // The difference overflowed: halves of such large values are exact.
    const T h = T(0.5);
    return (r * h + (v * h - r * h) * a) * T(2);
  }
  // An infinity or NaN: the weighted sum would be inf, -inf or NaN by the signs present, in any order.
  return r + v;
}
template <class T>
inline T toward(T r, T v, T a) {
  const T d = v - r;
  if (std::isfinite(d)) [[likely]]
    return r + d * a;
  return toward_slow(r, v, a);
}

// (WA*ra + sb)/W, the mean of two parts where sb is part B's sum and rb its mean; when the weighted
// sum overflows for finite means, the mean is moved instead.
template <class T>
inline T pooled_mean(T WA, T ra, T sb, T rb, T f, T W) {
  const T r = (WA * ra + sb) / W;
  if (std::isfinite(r)) [[likely]]
    return r;
  return toward_slow(ra, rb, f);
}

// Central sums M2..M(Level+1) of variable j after an observation of deviation 2*dh from the mean
// (dh finite, its double not), with the update factors of update_obs.
template <class T, int Level>
[[gnu::cold]] void central_sums_half(T* const* M, int64_t j, T dh, T a, T b, T b3, T b4) {
  const T dh2 = dh * dh;
  if constexpr (Level >= 3)
    M[2][j] += dh2 * dh2 * b4 * T(16) + T(6) * dh2 * M[0][j] * a * a * T(4) - T(4) * dh * M[1][j] * a * T(2);
  if constexpr (Level >= 2) M[1][j] += dh2 * dh * b3 * T(8) - T(3) * dh * M[0][j] * a * T(2);
  if constexpr (Level >= 1) M[0][j] += dh2 * b * T(4);
}

// Variable j of an observation whose deviation from the running mean is not finite: an infinity or
// NaN in the data or the mean (every central sum becomes NaN, as a two-pass computation gives), or
// finite values too far apart (half deviations). Returns the deviation the cross-products use.
template <class T, int Level>
[[gnu::cold, gnu::noinline]] T update_rare(State<T>& s, int64_t j, T yv, T a, T b, T b3, T b4) {
  T dev;
  if (std::isfinite(yv) && std::isfinite(s.m[j])) {
    const T dh = yv * T(0.5) - s.m[j] * T(0.5);
    central_sums_half<T, Level>(s.M, j, dh, a, b, b3, b4);
    dev = dh * T(2);
  } else {
    for (int q = 0; q < Level; ++q) s.M[q][j] = std::numeric_limits<T>::quiet_NaN();
    dev = std::numeric_limits<T>::quiet_NaN();
  }
  s.m[j] = toward_slow(s.m[j], yv, a);
  return dev;
}

// Variable j of s continues without its shift, which is too far from the data for x - K to be
// finite. Cross-products kept about the shift (about_k) move to sums about zero; in the middle of an
// observation they use the means as they stand, which matters only at sizes where they overflow.
template <class T>
[[gnu::cold, gnu::noinline]] void unshift(State<T>& s, int64_t k, int64_t j, bool about_k) {
  const T K = s.K[j];
  if (about_k && s.W != T(0))
    for (int64_t c = 0; c < k; ++c) {
      T& e = j <= c ? s.C[j * k + c] : s.C[c * k + j];
      e += c == j ? s.W * K * (T(2) * s.m[j] + K) : K * s.W * s.m[c];
    }
  s.m[j] += K;
  s.K[j] = T(0);
}

// ---- first set: one observation at a time ----
// Powers 2..Level+1 of x, the values the raw moments average.
template <class T, int Level>
inline void powers(T xv, T (&pw)[3]) {
  const T x2 = xv * xv;
  pw[0] = x2;
  pw[1] = Level >= 2 ? x2 * xv : T(0);
  pw[2] = Level >= 3 ? x2 * x2 : T(0);
}

// The central sums and the mean of variable j after an observation of deviation dj from the mean.
template <class T, int Level>
inline void update_central(State<T>& s, int64_t j, T dj, T a, T b, T b3, T b4) {
  if constexpr (Level >= 3) {
    const T d2 = dj * dj;
    s.M[2][j] += d2 * d2 * b4 + T(6) * d2 * s.M[0][j] * a * a - T(4) * dj * s.M[1][j] * a;
  }
  if constexpr (Level >= 2) s.M[1][j] += dj * dj * dj * b3 - T(3) * dj * s.M[0][j] * a;
  if constexpr (Level >= 1) s.M[0][j] += dj * dj * b;
  s.m[j] += dj * a;
}

// The variables of observation i where a deviation or raw-moment difference may not be finite: a
// shift too far from the data is given up, the rest goes through the careful forms above. Finite
// differences give the plain loop's results to the bit.
template <class T, bool Cols, int Level, bool CP>
[[gnu::cold, gnu::noinline]] void update_careful(const Job<T>& job, State<T>& s, int64_t i, T a, T b, T b3,
                                                 T b4, T* d, T* y) {
  if (a == T(0)) {
    // No weight: whatever its values, the observation takes no part (their products with zero may
    // be NaN).
    if constexpr (CP)
      for (int64_t j = 0; j < job.k; ++j) d[j] = y[j] = T(0);
    return;
  }
  for (int64_t j = 0; j < job.k; ++j) {
    const T xv = at<Cols>(job, i, job.vars[j]);
    T yv = xv - s.K[j];
    if (std::isfinite(xv) && !std::isfinite(yv)) {
      unshift(s, job.k, j, CP && job.shifted);
      yv = xv;
    }
    T dj = yv - s.m[j];
    if (std::isfinite(dj))
      update_central<T, Level>(s, j, dj, a, b, b3, b4);
    else
      dj = update_rare<T, Level>(s, j, yv, a, b, b3, b4);
    T pw[3];
    powers<T, Level>(xv, pw);
    for (int q = 0; q < Level; ++q) s.r[q][j] = toward(s.r[q][j], pw[q], a);
    if constexpr (CP) {
      d[j] = dj;
      y[j] = yv;
    }
  }
}

// Scratch of update_obs for k variables: two rows of deviations and a copy of the state, with its
// cross-products when they are kept (a means-only call over many variables needs no k x k copy).
inline int64_t obs_scratch_size(int64_t k, bool cross_products) {
  return 10 * k + (cross_products ? k * k : 0);
}

// Copies the per-variable arrays (and cross-products) of s to or from `copy` (8k + k*k values).
template <class T>
void copy_state(State<T>& s, int64_t k, T* copy, bool save) {
  T* arrays[8] = {s.K, s.m, s.r[0], s.r[1], s.r[2], s.M[0], s.M[1], s.M[2]};
  for (int a = 0; a < 8; ++a)
    save ? std::memcpy(copy + a * k, arrays[a], k * sizeof(T))
         : std::memcpy(arrays[a], copy + a * k, k * sizeof(T));
  if (s.C != nullptr)
    save ? std::memcpy(copy + 8 * k, s.C, k * k * sizeof(T))
         : std::memcpy(s.C, copy + 8 * k, k * k * sizeof(T));
}

// A non-finite difference leaves a mean or raw moment non-finite for good (inf absorbs finite values,
// NaN everything), so finite ones at the end of a span show that none occurred in it.
template <class T, int Level>
bool means_finite(const State<T>& s, int64_t k) {
  bool ok = true;
  for (int64_t j = 0; j < k; ++j) {
    ok &= std::isfinite(s.m[j]);
    for (int q = 0; q < Level; ++q) ok &= std::isfinite(s.r[q][j]);
  }
  return ok;
}

// Observations [i0, i1), through the plain loop over variables or the careful routine. d, y: k
// values each.
template <class T, bool Cols, bool Weighted, int Level, bool CP, bool Plain>
void update_span(const Job<T>& job, State<T>& s, int64_t i0, int64_t i1, T* d, T* y) {
  const int64_t k = job.k;
  for (int64_t i = i0; i < i1; ++i) {
    const T w = Weighted ? job.w[i] : T(1);
    // Leading zero weights are skipped so that no total of zero is ever divided by.
    if (Weighted && s.W == T(0) && w == T(0)) continue;
    const T W = s.W, Wn = W + w;
    const T a = w / Wn;  // weight of the new observation in the mean
    const T b = W * a;   // W w / W'
    [[maybe_unused]] const T b3 = b * (W - w) / Wn;
    [[maybe_unused]] const T b4 = b * (W * W - W * w + w * w) / (Wn * Wn);
    if constexpr (Plain) {
      for (int64_t j = 0; j < k; ++j) {
        const T xv = at<Cols>(job, i, job.vars[j]);
        const T yv = xv - s.K[j];
        const T dj = yv - s.m[j];
        if constexpr (CP) {
          d[j] = dj;
          y[j] = yv;
        }
        update_central<T, Level>(s, j, dj, a, b, b3, b4);
        T pw[3];
        powers<T, Level>(xv, pw);
        for (int q = 0; q < Level; ++q) s.r[q][j] += (pw[q] - s.r[q][j]) * a;
      }
    } else {
      update_careful<T, Cols, Level, CP>(job, s, i, a, b, b3, b4, d, y);
    }
    if constexpr (CP) {
      if (job.shifted) {
        for (int64_t r = 0; r < k; ++r) {
          const T f = w * y[r];
          T* row = s.C + r * k;
          for (int64_t c = r; c < k; ++c) row[c] += f * y[c];
        }
      } else {
        for (int64_t r = 0; r < k; ++r) {
          const T f = b * d[r];
          T* row = s.C + r * k;
          for (int64_t c = r; c < k; ++c) row[c] += f * d[c];
        }
      }
    }
    s.W = Wn;
    s.W2 += w * w;
  }
}

// Level L keeps M2..M(L+1) and raw moments up to order L+1. scratch: obs_scratch_size(k, CP) values.
// Spans run the plain loop; one that leaves a mean or raw moment not finite (infinities, NaN,
// overflowing differences) is put back and run again through the careful one.
template <class T, bool Cols, bool Weighted, int Level, bool CP>
void update_obs(const Job<T>& job, State<T>& s, int64_t begin, int64_t end, T* scratch) {
  constexpr int64_t kSpan = 64;
  const int64_t k = job.k;
  T* d = scratch;
  T* y = scratch + k;
  T* saved = scratch + 2 * k;
  for (int64_t i0 = begin; i0 < end; i0 += kSpan) {
    const int64_t i1 = std::min(end, i0 + kSpan);
    const T W = s.W, W2 = s.W2;
    copy_state(s, k, saved, true);
    update_span<T, Cols, Weighted, Level, CP, true>(job, s, i0, i1, d, y);
    if (!means_finite<T, Level>(s, k)) [[unlikely]] {
      copy_state(s, k, saved, false);
      s.W = W;
      s.W2 = W2;
      update_span<T, Cols, Weighted, Level, CP, false>(job, s, i0, i1, d, y);
    }
  }
}

// Folds a block's statistics (weight WB, mean mB of x - K, raw sums RB, central sums MB) into s.
template <class T, int Level>
void merge_block(State<T>& s, int64_t k, T WB, const T* mB, const T* const* RB, const T* const* MB) {
  const T WA = s.W, W = WA + WB;
  const T f = WB / W;
  for (int64_t j = 0; j < k; ++j) {
    const T dl = mB[j] - s.m[j];
    if constexpr (Level >= 3) {
      const T d2 = dl * dl;
      s.M[2][j] += MB[2][j] + d2 * d2 * WA * WB * (WA * WA - WA * WB + WB * WB) / (W * W * W) +
                   T(6) * d2 * (WA * WA * MB[0][j] + WB * WB * s.M[0][j]) / (W * W) +
                   T(4) * dl * (WA * MB[1][j] - WB * s.M[1][j]) / W;
    }
    if constexpr (Level >= 2)
      s.M[1][j] += MB[1][j] + dl * dl * dl * WA * WB * (WA - WB) / (W * W) +
                   T(3) * dl * (WA * MB[0][j] - WB * s.M[0][j]) / W;
    if constexpr (Level >= 1) s.M[0][j] += MB[0][j] + dl * dl * WA * WB / W;
    s.m[j] += dl * f;
    for (int q = 0; q < Level; ++q) s.r[q][j] = pooled_mean(WA, s.r[q][j], RB[q][j], RB[q][j] / WB, f, W);
  }
  s.W = W;
}

// Interleaved partial sums of the blocked path's passes: element i of a block goes to lane i % kLanes,
// the lanes held in kGroups vectors of 16 bytes.
inline constexpr int kLanes = 8;
template <class T>
struct Lanes16;
template <>
struct Lanes16<double> {
  using type [[gnu::vector_size(16)]] = double;
};
template <>
struct Lanes16<float> {
  using type [[gnu::vector_size(16)]] = float;
};
template <class T>
using LaneVec = typename Lanes16<T>::type;
template <class T>
inline constexpr int kPerVec = static_cast<int>(16 / sizeof(T));
template <class T>
inline constexpr int kGroups = kLanes / kPerVec<T>;

// A stretch of observations fetched ahead of use: n values from x.
template <class T>
struct Ahead {
  const T* x = nullptr;
  int64_t n = 0;
};

// body(i, count, g) for the elements i .. i + count - 1 of [0, n) in group g (count <= kPerVec), every
// group of every run of kLanes elements, then the shorter rest. One line of `near` (into the first-level
// cache) and of `far` (into the second) is fetched per run.
template <class T, class F>
[[gnu::always_inline]] inline void for_lane_groups(int64_t n, F&& body, Ahead<T> near = {},
                                                   Ahead<T> far = {}) {
  constexpr int P = kPerVec<T>;
  int64_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    if (i < near.n) __builtin_prefetch(near.x + i, 0, 3);
    if (i < far.n) __builtin_prefetch(far.x + i, 0, 2);
#pragma GCC unroll 8
    for (int g = 0; g < kGroups<T>; ++g) body(i + g * P, int64_t{P}, g);
  }
  for (int g = 0; g < kGroups<T> && i + g * P < n; ++g)
    body(i + g * P, std::min<int64_t>(P, n - i - g * P), g);
}
// Elements i .. i + count - 1 of a column of the data (stride: p with columns storage); lanes past
// count are zero.
template <bool Cols, class T>
[[gnu::always_inline]] inline void load_lanes(LaneVec<T>& v, const T* src, int64_t i, int64_t count,
                                              int64_t stride) {
  if (!Cols && count == kPerVec<T>) {
    std::memcpy(&v, src + i, sizeof v);
  } else {
    v = LaneVec<T>{};
    for (int64_t l = 0; l < count; ++l) v[l] = src[Cols ? (i + l) * stride : i + l];
  }
}
template <class T>
[[gnu::always_inline]] inline void store_lanes(T* dst, int64_t i, int64_t count, const LaneVec<T>& v) {
  if (count == kPerVec<T>) {
    std::memcpy(dst + i, &v, sizeof v);
  } else {
    for (int64_t l = 0; l < count; ++l) dst[i + l] = v[l];
  }
}
// The weights of elements i .. i + count - 1 (ones when unweighted), zero past count.
template <bool Weighted, class T>
[[gnu::always_inline]] inline void weights_lanes(LaneVec<T>& v, const T* w, int64_t i, int64_t count) {
  if (Weighted && count == kPerVec<T>) {
    std::memcpy(&v, w + i, sizeof v);
  } else {
    v = LaneVec<T>{};
    for (int64_t l = 0; l < count; ++l) v[l] = Weighted ? w[i + l] : T(1);
  }
}
// The lanes' sum in a fixed order.
template <class T>
inline T lane_sum(const LaneVec<T> (&a)[kGroups<T>]) {
  T l[kLanes];
  std::memcpy(l, a, sizeof l);
  return ((l[0] + l[1]) + (l[2] + l[3])) + ((l[4] + l[5]) + (l[6] + l[7]));
}

// Scratch of the blocked path for k variables and blocks of b observations.
inline int64_t block_scratch_size(int64_t k, int64_t b, bool weighted) {
  return (weighted ? 2 : 1) * b * k + b + 9 * k + obs_scratch_size(k, true);
}

// A block's deviations from a shift c carry their mean zbar along: sum z z^T - W zbar zbar^T is the
// centred cross-product, which the rank-1 term subtracts. The subtraction cancels a fraction
// W zbar^2 / sum z^2 of each diagonal sum; up to this fraction (a loss of at most 0.2 bits) one
// pass suffices, beyond it the variable is centred again on its block mean.
template <class T>
inline constexpr T kShiftedFraction = T(0.125);
// How many variables ahead the copy fetches into the first- and second-level caches (rows storage).
inline constexpr int64_t kNear = 2, kFar = 8;

// ---- second set: blocks of observations ----
// Each block is centred (on the previous block's mean, or on its own when that is too far off),
// its cross-products added by a rank-k update, and the block merged into the running state with
// the exact combination formulas (rank-1 updates for the cross-products: the block's residual mean
// and the merge).
template <class T, bool Cols, bool Weighted, int Level, bool CP>
void update_blocks(const Job<T>& job, State<T>& s, int64_t begin, int64_t end, T* scratch) {
  const int64_t k = job.k;
  // Leading zero weights are skipped here too, so that their observations are never read.
  if (Weighted && s.W == T(0))
    while (begin < end && job.w[begin] == T(0)) ++begin;
  // The shift of each variable's deviations: the previous block's mean, which stays close to the data
  // of the next block (slowly drifting data included), so that one pass over the data suffices.
  T* const shift = scratch + (Weighted ? 2 : 1) * std::min(job.block, std::max<int64_t>(end - begin, 0)) * k +
                   std::min(job.block, std::max<int64_t>(end - begin, 0)) + 7 * k;
  auto reset_shift = [&] {
    for (int64_t j = 0; j < k; ++j) shift[j] = s.W != T(0) && std::isfinite(s.m[j]) ? s.m[j] : T(0);
  };
  reset_shift();
  while (begin < end) {
    const int64_t nb = std::min(job.block, end - begin);
    T* Z = scratch;                               // nb x k, variable-major
    T* Zw = Z + nb * k;                           // weighted copies (weighted only)
    T* wb = Weighted ? Zw + nb * k : Z + nb * k;  // block weights
    T* mB = wb + nb;
    T* RB[3] = {mB + k, mB + 2 * k, mB + 3 * k};
    T* MB[3] = {mB + 4 * k, mB + 5 * k, mB + 6 * k};
    T* res = shift + k;  // mean of each column of Z (weights included)
    T* dl = shift + 2 * k;
    T WB = 0;
    if constexpr (Weighted) {
      for (int64_t i = 0; i < nb; ++i) {
        wb[i] = job.w[begin + i];
        WB += wb[i];
      }
    } else {
      WB = static_cast<T>(nb);
    }
    // A block of zero total weight (leading zeros, or weights that cancel) has no mean to centre
    // on; the one-at-a-time routine handles it exactly.
    if (Weighted && !(WB != T(0) && s.W + WB != T(0))) {
      update_obs<T, Cols, Weighted, Level, CP>(job, s, begin, begin + nb, dl);
      reset_shift();
      begin += nb;
      continue;
    }
    T W2B = 0;
    if constexpr (Weighted)
      for (int64_t i = 0; i < nb; ++i) W2B += wb[i] * wb[i];
    else
      W2B = WB;
    bool finite = true;
    const int64_t next = std::min(job.block, end - begin - nb);
    for (int64_t j = 0; j < k; ++j) {
      T* zj = Z + j * nb;
      T* zw = Zw + j * nb;
      const int64_t v = job.vars[j];
      const T K = s.K[j], c = shift[j];
      const T* src = Cols ? job.x + begin * job.p + v : job.x + v * job.n + begin;
      // The observations of the variables kNear and kFar places on (in this block or the next),
      // fetched while this one is copied: short distances keep the fetches spread over the copy, where
      // a burst of a whole block ahead would wait on the memory system with nothing else to do.
      auto ahead = [&](int64_t d) {
        Ahead<T> a;
        if constexpr (!Cols) {
          if (j + d < k) {
            a.x = job.x + job.vars[j + d] * job.n + begin;
            a.n = nb;
          } else if (next > 0 && j + d - k < k) {
            a.x = job.x + job.vars[j + d - k] * job.n + begin + nb;
            a.n = next;
          }
        }
        return a;
      };
      // Pass 1, with the copy into the block: deviations z = (x - K) - c with their sum and sum of
      // squares, and the raw sums of x. Sums run in kLanes interleaved partial sums (added in a fixed
      // order at the end), so they are not one long chain of dependent additions.
      using V = LaneVec<T>;
      // The deviations z = (x - K) - centre of a run, stored into the block (weighted too, where the
      // cross-products need them); returns w z. wv holds the weights where they are not all 1.
      auto deviations = [&](int64_t i, int64_t count, T centre, V& xv, V& z, V& wv) {
        load_lanes<Cols>(xv, src, i, count, job.p);
        z = (xv - K) - centre;
        store_lanes(zj, i, count, z);
        V wz = z;
        if (Weighted || count < kPerVec<T>) {
          weights_lanes<Weighted>(wv, wb, i, count);
          wz = wv * z;
        }
        if constexpr (Weighted && CP) store_lanes(zw, i, count, wz);
        return wz;
      };
      V a1[kGroups<T>] = {}, aq[kGroups<T>] = {}, a2[kGroups<T>] = {}, a3[kGroups<T>] = {},
        a4[kGroups<T>] = {};
      auto pass1 = [&](int64_t i, int64_t count, int g) {
        V xv, z, wv;
        const V wz = deviations(i, count, c, xv, z, wv);
        a1[g] += wz;
        aq[g] += wz * z;
        if constexpr (Level >= 1) {
          const V x2 = xv * xv, wx2 = Weighted || count < kPerVec<T> ? wv * x2 : x2;
          a2[g] += wx2;
          if constexpr (Level >= 2) a3[g] += wx2 * xv;
          if constexpr (Level >= 3) a4[g] += wx2 * x2;
        }
      };
      for_lane_groups<T>(nb, pass1, ahead(kNear), ahead(kFar));
      const T s1 = lane_sum<T>(a1), q = lane_sum<T>(aq), s2 = lane_sum<T>(a2), s3 = lane_sum<T>(a3),
              s4 = lane_sum<T>(a4);
      const T zbar = s1 / WB;
      RB[0][j] = s2;
      RB[1][j] = s3;
      RB[2][j] = s4;
      if (Level <= 1 && s1 * zbar <= kShiftedFraction<T> * q) {
        // Close enough to the shift: the sums about it give the block's central sums.
        res[j] = zbar;
        mB[j] = c + zbar;
        MB[0][j] = q - s1 * zbar;
        MB[1][j] = MB[2][j] = T(0);
      } else {
        // Pass 2: deviations from the block mean, from the observations again (still in cache);
        // their sum corrects the mean's rounding.
        const T mean = c + zbar;
        V b1[kGroups<T>] = {}, b2[kGroups<T>] = {}, b3[kGroups<T>] = {}, b4[kGroups<T>] = {};
        auto pass2 = [&](int64_t i, int64_t count, int g) {
          V xv, z, wv;
          const V wz = deviations(i, count, mean, xv, z, wv);
          b1[g] += wz;
          if constexpr (Level >= 1) {
            const V wz2 = wz * z;
            b2[g] += wz2;
            if constexpr (Level >= 2) b3[g] += wz2 * z;
            if constexpr (Level >= 3) b4[g] += wz2 * z * z;
          }
        };
        for_lane_groups<T>(nb, pass2);
        const T c1 = lane_sum<T>(b1), c2 = lane_sum<T>(b2), c3 = lane_sum<T>(b3), c4 = lane_sum<T>(b4);
        const T corr = c1 / WB;
        res[j] = corr;
        mB[j] = mean + corr;
        MB[0][j] = c2 - c1 * corr;
        MB[1][j] = c3;
        MB[2][j] = c4;
      }
      for (const T x : {mB[j] - s.m[j], s2, s3, s4, MB[0][j], MB[1][j], MB[2][j]})
        finite = finite && std::isfinite(x);
    }
    // Sums that overflowed, or infinities in the block or the running mean: the one-at-a-time
    // routine takes such a block.
    if (!finite) [[unlikely]] {
      update_obs<T, Cols, Weighted, Level, CP>(job, s, begin, begin + nb, dl);
      reset_shift();
      begin += nb;
      continue;
    }
    if constexpr (CP) {
      const int ki = static_cast<int>(k), nbi = static_cast<int>(nb);
      if constexpr (Weighted)
        blas_gemm_tn(ki, nbi, Z, Zw, nbi, s.C, ki);
      else
        blas_syrk(ki, nbi, Z, nbi, s.C, ki);
      // The columns' residual means, whose outer product the block's products hold.
      blas_syr(ki, -WB, res, s.C, ki);
      if (job.shifted) {
        // Sums about K: the block's centred products plus its mean's own outer product.
        blas_syr(ki, WB, mB, s.C, ki);
      } else if (s.W != T(0)) {
        for (int64_t j = 0; j < k; ++j) dl[j] = mB[j] - s.m[j];
        blas_syr(ki, s.W * WB / (s.W + WB), dl, s.C, ki);
      }
    }
    for (int64_t j = 0; j < k; ++j) shift[j] = mB[j];
    merge_block<T, Level>(s, k, WB, mB, RB, MB);
    s.W2 += W2B;
    begin += nb;
  }
}

template <class T>
using RangeFn = void (*)(const Job<T>&, State<T>&, int64_t, int64_t, T*);

// Index 16*(columns) + 8*(weighted) + 2*(order level) + (cross-product).
template <class T, template <class, bool, bool, int, bool> class Pick, size_t... I>
constexpr std::array<RangeFn<T>, 32> make_table(std::index_sequence<I...>) {
  return {
      Pick<T, ((I >> 4) & 1) != 0, ((I >> 3) & 1) != 0, static_cast<int>((I >> 1) & 3), (I & 1) != 0>::fn...};
}
template <class T, bool C, bool W, int L, bool P>
struct PickObs {
  static constexpr RangeFn<T> fn = &update_obs<T, C, W, L, P>;
};
template <class T, bool C, bool W, int L, bool P>
struct PickBlock {
  static constexpr RangeFn<T> fn = &update_blocks<T, C, W, L, P>;
};
template <class T>
inline constexpr std::array<RangeFn<T>, 32> kObsRoutines =
    make_table<T, PickObs>(std::make_index_sequence<32>{});
template <class T>
inline constexpr std::array<RangeFn<T>, 32> kBlockRoutines =
    make_table<T, PickBlock>(std::make_index_sequence<32>{});

constexpr int routine_index(bool cols, bool weighted, int level, bool cp) {
  return 16 * cols + 8 * weighted + 2 * level + cp;
}

}  // namespace zok::ss
