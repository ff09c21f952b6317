// Basic statistics and minimum/maximum: the estimate rows, the checks and plan of a call, the state
// restored from the output arrays, the ranges run over threads and combined, and the final writes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>

#include "stats/basic_update.h"
#include "stats/estimator.h"
#include "stats/merge.h"
#include "stats/task.h"
#include "zok/core_services.h"

namespace zok::ss {

namespace {

// ---- the estimate rows ----
namespace est {
#define ESTIMATE(name, ...) name,
enum Id : int {
#include "stats/basic_estimates.def"
  kCount
};
#undef ESTIMATE

// Method families, the columns of a row's needs.
enum Family : int { kOnePass, kRawMoments, kFromSums };

struct Row {
  const char* name;
  uint64_t mask;
  int32_t missing;    // status when the estimate's array is needed and not registered
  int param;          // the task parameter that holds it
  uint32_t needs[3];  // by family, the set of estimates whose arrays it needs; 0: cannot be produced
};

constexpr uint32_t set_of(std::initializer_list<int> l) {
  uint32_t s = 0;
  for (int i : l) s |= 1u << i;
  return s;
}

#define ZOK_SS_SET(...) set_of({__VA_ARGS__})
#define ESTIMATE(name, mask, missing, param, one_pass, raw, sums) \
  {#name, mask, missing, param, {ZOK_SS_SET one_pass, ZOK_SS_SET raw, ZOK_SS_SET sums}},
constexpr Row kRows[kCount] = {
#include "stats/basic_estimates.def"
};
#undef ESTIMATE
#undef ZOK_SS_SET

constexpr uint32_t kMatrices = set_of({Cov, Cor, CP});
}  // namespace est

using namespace est;

constexpr uint64_t kDataMethods = ZOK_SS_METHOD_RAW | ZOK_SS_METHOD_ONEPASS | ZOK_SS_METHOD_KEPT;
constexpr uint64_t kSumsMethods = ZOK_SS_METHOD_SUMS | ZOK_SS_METHOD_SUMS_2;
// Below this many variables cross-products are cheaper one observation at a time than through BLAS.
constexpr int64_t kBlockedMinVars = 4;

// ---- the plan of one call ----
template <class T>
struct Plan {
  SSTask* task = nullptr;
  int64_t p = 0, n = 0, k = 0;
  const int64_t* vars = nullptr;  // selected variables
  uint32_t need = 0;              // estimates whose arrays the call reads or writes
  bool from_sums = false, raw_method = false, kept_method = false;
  bool want_c = false;  // cross-products
  Packing cov_f = Packing::kFull, cor_f = Packing::kFull, cp_f = Packing::kFull;
  T W = 0, W2 = 0;  // earlier weight and weight of squares
  T* accum = nullptr;

  bool has(int e) const { return (need & (1u << e)) != 0; }
  T* out(int e) const { return static_cast<T*>(const_cast<void*>(field(task, kRows[e].param))); }
};

// Every check in the order its status is reported, then the selection and the earlier weights. A merge
// reads no observations: its weights come from the accumulated pair, or n for an unweighted task.
template <class T>
int32_t plan_call(SSTask* task, uint64_t estimates, uint64_t method, Scratch& scratch, Plan<T>& c,
                  bool merging = false) {
  if (task == nullptr) return ErrNullTask;
  c.task = task;
  c.p = read_int(*task, task->p);
  if (c.p < 1) return ErrP;

  // Method word: one data method, or none with a from-sums bit.
  const uint64_t data_bits = method & kDataMethods;
  c.from_sums = data_bits == 0;
  if (c.from_sums ? (method & kSumsMethods) == 0 : (data_bits & (data_bits - 1)) != 0) return ErrMethod;
  c.raw_method = data_bits == ZOK_SS_METHOD_RAW;
  c.kept_method = data_bits == ZOK_SS_METHOD_KEPT;

  // Dependencies: the union of the arrays every wanted estimate needs.
  const Family family = c.from_sums ? kFromSums : c.raw_method ? kRawMoments : kOnePass;
  for (const Row& row : kRows) {
    if ((estimates & row.mask) == 0) continue;
    if (row.needs[family] == 0) return ErrMethod;
    c.need |= row.needs[family];
  }
  for (int e = 0; e < kCount; ++e)
    if (c.has(e) && c.out(e) == nullptr) return kRows[e].missing;
  // A matrix is never written without knowing how large its storage is.
  if ((c.has(Cov) && task->cov_storage == nullptr) || (c.has(Cor) && task->cor_storage == nullptr) ||
      (c.has(CP) && task->cp_storage == nullptr))
    return ErrStoragePtr;

  if (!c.from_sums && !merging) {
    const int32_t status = check_observations(*task, &c.n);
    if (status != kOk) return status;
    // A negative or NaN weight has no meaning as a share of the total: refused before anything is read.
    if (const T* w = static_cast<const T*>(task->weights); w != nullptr)
      for (int64_t i = 0; i < c.n; ++i)
        if (!(w[i] >= T(0))) return ErrBadWeight;
  } else if (task->accum_weights == nullptr && (task->n == nullptr || task->weights != nullptr)) {
    return ErrAccumWeights;
  }

  c.vars = select_variables(*task, c.p, scratch, &c.k);
  if (c.vars == nullptr) return ErrMemory;
  c.want_c = (c.need & kMatrices) != 0;
  if (c.has(Cov)) c.cov_f = packing_of(read_int(*task, task->cov_storage));
  if (c.has(Cor)) c.cor_f = packing_of(read_int(*task, task->cor_storage));
  if (c.has(CP)) c.cp_f = packing_of(read_int(*task, task->cp_storage));

  c.accum = static_cast<T*>(task->accum_weights);
  if (c.accum != nullptr) {
    c.W = c.accum[0];
    c.W2 = c.accum[1];
  } else if (c.from_sums || merging) {
    c.W = c.W2 = static_cast<T>(read_int(*task, task->n));
  }
  return kOk;
}

// Covariance and correlation from full cross-products C (k x k) of weight W and weight of squares W2;
// d: k values of scratch.
template <class T>
void write_cov_cor(const Plan<T>& c, T W, T W2, const T* C, T* d) {
  const int64_t k = c.k;
  const T f = W > T(0) ? T(1) / (W - W2 / W) : std::numeric_limits<T>::quiet_NaN();
  if (c.has(Cov))
    write_matrix(c.out(Cov), c.cov_f, c.p, c.vars, k, [&](int64_t a, int64_t b) { return f * C[a * k + b]; });
  if (c.has(Cor)) {
    // The diagonal keeps the variance, so that a later call can rebuild the cross-products.
    for (int64_t j = 0; j < k; ++j) d[j] = C[j * k + j];
    inv_sqrt_in_place(static_cast<int>(k), d);
    write_matrix(c.out(Cor), c.cor_f, c.p, c.vars, k, [&](int64_t a, int64_t b) {
      return a == b ? f * C[a * k + a] : C[a * k + b] * d[a] * d[b];
    });
  }
}

// ---- from sums: no observations are read ----
template <class T>
int32_t write_from_sums(const Plan<T>& c, Scratch& scratch) {
  const int64_t k = c.k;
  const T W = c.W, W2 = c.W2;
  T* cmat = c.want_c ? scratch.take<T>(k * k + k) : nullptr;
  if (c.want_c && cmat == nullptr) return ErrMemory;
  T* const mean_out = c.out(Mean);
  for (int64_t j = 0; j < k; ++j) {
    const int64_t v = c.vars[j];
    if (c.has(Sum)) mean_out[v] = c.out(Sum)[v] / W;
    for (int q = 0; q < 3; ++q)
      if (c.has(RawSum2 + q)) c.out(Raw2 + q)[v] = c.out(RawSum2 + q)[v] / W;
    if (c.has(CentralSum2)) c.out(Central2)[v] = c.out(CentralSum2)[v] * W / (W * W - W2);
    if (c.has(CentralSum3)) c.out(Central3)[v] = c.out(CentralSum3)[v] / W;
    if (c.has(CentralSum4)) c.out(Central4)[v] = c.out(CentralSum4)[v] / W;
    const T c2 = c.has(Central2) ? c.out(Central2)[v] : T(0);
    if (c.has(Kurtosis)) c.out(Kurtosis)[v] = c.out(Central4)[v] / (c2 * c2) - T(3);
    if (c.has(Skewness)) c.out(Skewness)[v] = c.out(Central3)[v] / std::sqrt(c2 * c2 * c2);
    if (c.has(Variation)) c.out(Variation)[v] = std::sqrt(c2) / mean_out[v];
  }
  if (c.want_c) {
    read_matrix(c.out(CP), c.cp_f, c.p, c.vars, k, cmat);
    write_cov_cor(c, W, W2, cmat, cmat + k * k);
  }
  return kOk;
}

// ---- the ranges of the data methods ----
// Variable j of combine() when the means' difference is not finite: an infinity or NaN in either part
// (central sums NaN, means added as the sums would be), or finite means too far apart (half
// differences). Ranges of the kept-means method share their shift; others continue unshifted.
// Returns the difference the cross-products use.
template <class T>
[[gnu::cold, gnu::noinline]] T combine_rare(State<T>& A, const State<T>& B, int64_t j, bool shifted) {
  const T WA = A.W, WB = B.W, W = WA + WB;
  const T ma = shifted ? A.m[j] : A.K[j] + A.m[j], mb = shifted ? B.m[j] : B.K[j] + B.m[j];
  if (!shifted) A.K[j] = T(0);
  for (int q = 0; q < 3; ++q) A.r[q][j] = pooled_mean(WA, A.r[q][j], WB * B.r[q][j], B.r[q][j], WB / W, W);
  A.m[j] = toward_slow(ma, mb, WB / W);
  if (!std::isfinite(ma) || !std::isfinite(mb)) {
    for (int q = 0; q < 3; ++q) A.M[q][j] = std::numeric_limits<T>::quiet_NaN();
    return std::numeric_limits<T>::quiet_NaN();
  }
  const T dh = mb * T(0.5) - ma * T(0.5);
  const T M2A = A.M[0][j], M3A = A.M[1][j], M2B = B.M[0][j], M3B = B.M[1][j];
  const T d2 = dh * dh;
  A.M[2][j] += B.M[2][j] + d2 * d2 * WA * WB * (WA * WA - WA * WB + WB * WB) / (W * W * W) * T(16) +
               T(6) * d2 * (WA * WA * M2B + WB * WB * M2A) / (W * W) * T(4) +
               T(4) * dh * (WA * M3B - WB * M3A) / W * T(2);
  A.M[1][j] +=
      M3B + d2 * dh * WA * WB * (WA - WB) / (W * W) * T(8) + T(3) * dh * (WA * M2B - WB * M2A) / W * T(2);
  A.M[0][j] += M2B + d2 * WA * WB / W * T(4);
  return dh * T(2);
}

// Folds range B into A so that the result equals accumulating A's observations, then B's.
// delta: k values of scratch.
template <class T>
void combine(State<T>& A, State<T>& B, int64_t k, bool cp, bool shifted, T* delta) {
  if (B.W == T(0)) return;
  // Sums about kept means add only about the same values: a range that gave up a shift makes the
  // other give it up too.
  if (shifted)
    for (int64_t j = 0; j < k; ++j)
      if (A.K[j] != B.K[j]) [[unlikely]] {
        unshift(A, k, j, cp);
        unshift(B, k, j, cp);
      }
  const T WA = A.W, WB = B.W, W = WA + WB;
  if (WA == T(0)) {
    // Nothing to combine with: A takes B's state (its cross-products add, A's being zero).
    for (int64_t j = 0; j < k; ++j) {
      A.K[j] = B.K[j];
      A.m[j] = B.m[j];
      for (int q = 0; q < 3; ++q) {
        A.r[q][j] = B.r[q][j];
        A.M[q][j] = B.M[q][j];
      }
    }
    if (cp)
      for (int64_t i = 0; i < k * k; ++i) A.C[i] += B.C[i];
    A.W = WB;
    A.W2 += B.W2;
    return;
  }
  for (int64_t j = 0; j < k; ++j) delta[j] = (B.K[j] - A.K[j]) + (B.m[j] - A.m[j]);
  for (int64_t j = 0; j < k; ++j) {
    if (!std::isfinite(delta[j])) [[unlikely]] {
      delta[j] = combine_rare(A, B, j, shifted);
      continue;
    }
    const T dl = delta[j];
    const T M2A = A.M[0][j], M3A = A.M[1][j], M4A = A.M[2][j];
    const T M2B = B.M[0][j], M3B = B.M[1][j], M4B = B.M[2][j];
    const T d2 = dl * dl;
    A.M[2][j] = M4A + M4B + d2 * d2 * WA * WB * (WA * WA - WA * WB + WB * WB) / (W * W * W) +
                T(6) * d2 * (WA * WA * M2B + WB * WB * M2A) / (W * W) + T(4) * dl * (WA * M3B - WB * M3A) / W;
    A.M[1][j] = M3A + M3B + d2 * dl * WA * WB * (WA - WB) / (W * W) + T(3) * dl * (WA * M2B - WB * M2A) / W;
    A.M[0][j] = M2A + M2B + d2 * WA * WB / W;
    A.m[j] += dl * (WB / W);
    for (int q = 0; q < 3; ++q) A.r[q][j] = pooled_mean(WA, A.r[q][j], WB * B.r[q][j], B.r[q][j], WB / W, W);
  }
  if (cp) {
    // Ranges of the kept-means method are all sums about the same values: they add without mean terms.
    const T g = shifted ? T(0) : WA * WB / W;
    for (int64_t a = 0; a < k; ++a)
      for (int64_t b = a; b < k; ++b) A.C[a * k + b] += B.C[a * k + b] + g * delta[a] * delta[b];
  }
  A.W = W;
  A.W2 += B.W2;
}

// Carves one state's arrays out of `mem` (8k values, then k*k for cross-products).
template <class T>
void lay_out(State<T>& s, T* mem, int64_t k, bool cp) {
  s.K = mem;
  s.m = mem + k;
  for (int q = 0; q < 3; ++q) {
    s.r[q] = mem + (2 + q) * k;
    s.M[q] = mem + (5 + q) * k;
  }
  s.C = cp ? mem + 8 * k : nullptr;
}

template <class T>
struct Ranges {
  int64_t count = 1;
  State<T>* states = nullptr;
  T** scratch = nullptr;  // per range
  T* delta = nullptr;     // k values
  // The kept-means method sums cross-products about the means kept by the previous call.
  bool shifted = false;
  const T* kept = nullptr;
  bool weighted = false, blocked = false;
  int level = 0;  // highest moment order beyond the mean: 0 .. 3 for orders 1 .. 4
  int64_t block = 0;
};

// Splits the observations over threads and lays out every range's state and scratch. The task's
// kept array grows to p values before anything is written, so no failure can follow.
template <class T>
int32_t set_up_ranges(const Plan<T>& c, const ThreadingServices* services, Scratch& scratch, Ranges<T>& r) {
  SSTask* task = c.task;
  const int64_t p = c.p, n = c.n, k = c.k;
  r.weighted = task->weights != nullptr;
  for (int q = 0; q < 3; ++q)
    if (c.has(Raw2 + q) || c.has(Central2 + q) || c.has(CentralSum2 + q)) r.level = q + 1;
  r.shifted = c.kept_method && c.want_c && task->kept_means != nullptr && task->kept_count >= p;
  r.kept = static_cast<const T*>(task->kept_means);

  // Threads: enough work per range, at least 16 observations per range.
  const double work = (c.want_c ? static_cast<double>(p) * static_cast<double>(p) : static_cast<double>(p)) *
                      static_cast<double>(n) / 8192.0;
  r.count = std::min<int64_t>(thread_limit(services, &ThreadingServices::parallel_run), n >> 4);
  if (work < static_cast<double>(r.count)) r.count = static_cast<int64_t>(work);
  if (r.count < 1) r.count = 1;

  r.blocked = c.want_c && k >= kBlockedMinVars;
  r.block = std::max<int64_t>(262144 / (8 * p * (r.weighted ? 2 : 1)), 64);
  const int64_t range_scratch =
      r.blocked ? block_scratch_size(k, std::min(r.block, n), r.weighted) : obs_scratch_size(k, c.want_c);
  const int64_t state_size = 8 * k + (c.want_c ? k * k : 0);
  T* states_mem = scratch.take<T>(state_size * r.count + k);
  T* work_mem = scratch.take<T>(range_scratch * r.count);
  r.states = scratch.take<State<T>>(r.count);
  r.scratch = scratch.take<T*>(r.count);
  if (states_mem == nullptr || work_mem == nullptr || r.states == nullptr || r.scratch == nullptr)
    return ErrMemory;
  r.delta = states_mem + state_size * r.count;
  if (c.kept_method && (task->kept_means == nullptr || task->kept_count < p)) {
    T* keep = static_cast<T*>(zok_serv_allocate(static_cast<size_t>(p) * sizeof(T), kAlignment));
    if (keep == nullptr) return ErrMemory;
    std::memset(keep, 0, static_cast<size_t>(p) * sizeof(T));
    if (task->kept_means != nullptr) {
      std::memcpy(keep, task->kept_means, static_cast<size_t>(task->kept_count) * sizeof(T));
      zok_serv_deallocate(task->kept_means);
    }
    task->kept_means = keep;
    task->kept_count = p;
  }
  for (int64_t t = 0; t < r.count; ++t) {
    new (&r.states[t]) State<T>();
    lay_out(r.states[t], states_mem + t * state_size, k, c.want_c);
    r.scratch[t] = work_mem + t * range_scratch;
  }
  return kOk;
}

// Range 0 continues the earlier state held in the output arrays; with kept means every range is
// shifted by them.
template <class T>
void restore(const Plan<T>& c, Ranges<T>& r) {
  const int64_t k = c.k;
  const T W = c.W, W2 = c.W2;
  State<T>& s0 = r.states[0];
  // A shift must be finite: an infinite or NaN mean carries on in m, unshifted.
  auto base = [](T v) { return std::isfinite(v) ? v : T(0); };
  if (W > T(0)) {
    s0.W = W;
    s0.W2 = W2;
    const T g2 = W * W - W2;  // W^2 - W2: zero after a single observation
    for (int64_t j = 0; j < k; ++j) {
      const int64_t v = c.vars[j];
      const T mv = c.has(Mean) ? c.out(Mean)[v] : c.has(Sum) ? c.out(Sum)[v] / W : T(0);
      s0.K[j] = r.shifted ? base(r.kept[v]) : base(mv);
      s0.m[j] = mv - s0.K[j];
      for (int q = 0; q < 3; ++q)
        s0.r[q][j] = c.has(Raw2 + q)      ? c.out(Raw2 + q)[v]
                     : c.has(RawSum2 + q) ? c.out(RawSum2 + q)[v] / W
                                          : T(0);
      if (!c.raw_method) {
        // Central sums re-enter from their own arrays, else from the central moments, else (a lower
        // sum that a higher one needs, with neither array registered) from the raw moments.
        const T m = mv, r2 = s0.r[0][j], r3 = s0.r[1][j];
        s0.M[0][j] = c.has(CentralSum2) ? c.out(CentralSum2)[v]
                     : c.has(Central2)  ? (g2 == T(0) ? T(0) : c.out(Central2)[v] * g2 / W)
                                        : (r2 - m * m) * W;
        s0.M[1][j] = c.has(CentralSum3) ? c.out(CentralSum3)[v]
                     : c.has(Central3)  ? c.out(Central3)[v] * W
                                        : (r3 - T(3) * m * r2 + T(2) * m * m * m) * W;
        s0.M[2][j] = c.has(CentralSum4) ? c.out(CentralSum4)[v]
                     : c.has(Central4)  ? c.out(Central4)[v] * W
                                        : T(0);
      }
    }
    if (c.want_c) {
      T* C = s0.C;
      const T g = W - W2 / W;
      if (c.has(CP)) {
        read_matrix(c.out(CP), c.cp_f, c.p, c.vars, k, C);
      } else if (c.has(Cov)) {
        read_matrix(c.out(Cov), c.cov_f, c.p, c.vars, k, C);
        for (int64_t i = 0; i < k * k; ++i) C[i] = g == T(0) ? T(0) : C[i] * g;
      } else {
        read_matrix(c.out(Cor), c.cor_f, c.p, c.vars, k, C);
        // The diagonal carries the variances; a zero variance (or a single observation) means zero
        // cross-products, whatever the undefined correlations written for it say.
        for (int64_t a = 0; a < k; ++a)
          for (int64_t b = 0; b < k; ++b)
            if (a != b) {
              const T vv = C[a * k + a] * C[b * k + b];
              C[a * k + b] = (g == T(0) || vv == T(0)) ? T(0) : C[a * k + b] * std::sqrt(vv) * g;
            }
        for (int64_t a = 0; a < k; ++a) C[a * k + a] = g == T(0) ? T(0) : C[a * k + a] * g;
      }
      if (r.shifted) blas_syr_plain(static_cast<int>(k), W, s0.m, C, static_cast<int>(k));
    }
  } else if (r.shifted) {
    for (int64_t j = 0; j < k; ++j) s0.K[j] = base(r.kept[c.vars[j]]);
  }
  for (int64_t t = 1; t < r.count && r.shifted; ++t)
    for (int64_t j = 0; j < k; ++j) r.states[t].K[j] = base(r.kept[c.vars[j]]);
}

template <class T>
struct RangeContext {
  const Job<T>* job;
  Ranges<T>* ranges;
  RangeFn<T> fn;
};

template <class T>
void run_range(int64_t index, int, int, void* context) {
  auto* ctx = static_cast<RangeContext<T>*>(context);
  const Job<T>& job = *ctx->job;
  const auto [begin, end] = range_bounds(index, ctx->ranges->count, job.n);
  State<T>& s = ctx->ranges->states[index];
  if (s.W == T(0) && !job.shifted) {
    // A range without earlier data is shifted by its first observation of non-zero weight, so that
    // its running means stay small; the subtraction is exact for data near that observation.
    int64_t first = begin;
    if (job.w != nullptr)
      while (first < end && job.w[first] == T(0)) ++first;
    if (first == end) return;
    for (int64_t j = 0; j < job.k; ++j) {
      const T xv = job.cols ? at<true>(job, first, job.vars[j]) : at<false>(job, first, job.vars[j]);
      s.K[j] = std::isfinite(xv) ? xv : T(0);
    }
  }
  ctx->fn(job, s, begin, end, ctx->ranges->scratch[index]);
}

// Accumulates every range and folds ranges 1.. into range 0, in order.
template <class T>
void run(const Plan<T>& c, Ranges<T>& r, const ThreadingServices* services) {
  Job<T> job;
  job.x = static_cast<const T*>(c.task->x);
  job.w = static_cast<const T*>(c.task->weights);
  job.n = c.n;
  job.p = c.p;
  job.vars = c.vars;
  job.k = c.k;
  job.cols = columns_storage(*c.task, c.p);
  job.shifted = r.shifted;
  job.block = r.block;
  const int index = routine_index(job.cols, r.weighted, r.level, c.want_c);
  RangeContext<T> ctx{&job, &r, r.blocked ? kBlockRoutines<T>[index] : kObsRoutines<T>[index]};
  run_ranges(services, static_cast<int>(r.count), &ctx, run_range<T>);
  for (int64_t t = 1; t < r.count; ++t) combine(r.states[0], r.states[t], c.k, c.want_c, r.shifted, r.delta);
}

// The final conversions of range 0's state into every registered output, the accumulated weights
// and the kept means.
template <class T>
void write(const Plan<T>& c, Ranges<T>& r) {
  const int64_t k = c.k;
  State<T>& s0 = r.states[0];
  const T W = s0.W, W2 = s0.W2;
  T* C = s0.C;
  if (c.want_c) {
    // Sums about the kept means become central cross-products again.
    if (r.shifted) blas_syr_plain(static_cast<int>(k), -W, s0.m, C, static_cast<int>(k));
    for (int64_t a = 0; a < k; ++a)
      for (int64_t b = a + 1; b < k; ++b) C[b * k + a] = C[a * k + b];
  }
  const bool raw = c.raw_method;
  const T g2 = W * W - W2;
  for (int64_t j = 0; j < k; ++j) {
    const int64_t v = c.vars[j];
    const T m = s0.K[j] + s0.m[j];
    const T r2 = s0.r[0][j], r3 = s0.r[1][j], r4 = s0.r[2][j];
    if (c.has(Mean)) c.out(Mean)[v] = m;
    for (int q = 0; q < 3; ++q)
      if (c.has(Raw2 + q)) c.out(Raw2 + q)[v] = s0.r[q][j];
    if (c.has(Sum)) c.out(Sum)[v] = m * W;
    for (int q = 0; q < 3; ++q)
      if (c.has(RawSum2 + q)) c.out(RawSum2 + q)[v] = s0.r[q][j] * W;
    // Raw-moment forms of the central quantities, divided by W.
    const T m2 = m * m;
    const T k2 = r2 - m2, k3 = r3 - T(3) * m * r2 + T(2) * m2 * m,
            k4 = r4 - T(4) * m * r3 + T(6) * m2 * r2 - T(3) * m2 * m2;
    const T M2 = raw ? k2 * W : s0.M[0][j];
    const T M3 = raw ? k3 * W : s0.M[1][j];
    const T M4 = raw ? k4 * W : s0.M[2][j];
    if (c.has(CentralSum2)) c.out(CentralSum2)[v] = M2;
    if (c.has(CentralSum3)) c.out(CentralSum3)[v] = M3;
    if (c.has(CentralSum4)) c.out(CentralSum4)[v] = M4;
    const T c2 = raw ? k2 * W * W / g2 : M2 * W / g2;
    const T c3 = raw ? k3 : M3 / W;
    const T c4 = raw ? k4 : M4 / W;
    if (c.has(Central2)) c.out(Central2)[v] = c2;
    if (c.has(Central3)) c.out(Central3)[v] = c3;
    if (c.has(Central4)) c.out(Central4)[v] = c4;
    if (c.has(Kurtosis)) c.out(Kurtosis)[v] = c4 / (c2 * c2) - T(3);
    if (c.has(Skewness)) c.out(Skewness)[v] = c3 / std::sqrt(c2 * c2 * c2);
    if (c.has(Variation)) c.out(Variation)[v] = std::sqrt(c2) / m;
  }
  if (c.want_c) {
    if (c.has(CP))
      write_matrix(c.out(CP), c.cp_f, c.p, c.vars, k, [&](int64_t a, int64_t b) { return C[a * k + b]; });
    write_cov_cor(c, W, W2, C, r.delta);
  }
  if (c.accum != nullptr) {
    c.accum[0] = W;
    c.accum[1] = W2;
  }
  if (c.kept_method) {
    T* keep = static_cast<T*>(c.task->kept_means);
    for (int64_t j = 0; j < k; ++j) keep[c.vars[j]] = s0.K[j] + s0.m[j];
  }
}

template <class T>
int32_t basic(SSTask* task, uint64_t estimates, uint64_t method, const ThreadingServices* services) {
  Scratch scratch;
  Plan<T> c;
  int32_t status = plan_call(task, estimates, method, scratch, c);
  if (status != kOk) return status;
  if (c.from_sums) return write_from_sums(c, scratch);
  if (c.k == 0) return kOk;
  if (c.W <= T(0)) c.W = c.W2 = 0;  // no earlier data: the state starts empty
  Ranges<T> r;
  status = set_up_ranges(c, services, scratch, r);
  if (status != kOk) return status;
  restore(c, r);
  run(c, r, services);
  write(c, r);
  return kOk;
}

// Running minimum and maximum over the selected variables.
template <class T>
int32_t minmax(SSTask* task, uint64_t estimates, uint64_t method) {
  if (task == nullptr) return ErrNullTask;
  const int64_t p = read_int(*task, task->p);
  if (p < 1) return ErrP;
  int64_t n = 0;
  const int32_t status = check_observations(*task, &n);
  if (status != kOk) return status;
  const bool want_min = (estimates & ZOK_SS_MIN) != 0, want_max = (estimates & ZOK_SS_MAX) != 0;
  if (want_min && task->min == nullptr) return ZOK_SS_ERR_MIN;
  if (want_max && task->max == nullptr) return ZOK_SS_ERR_MAX;
  if ((method & (ZOK_SS_METHOD_RAW | ZOK_SS_METHOD_ONEPASS)) == 0) return ErrMethod;
  if (!want_min && !want_max) return kOk;

  Scratch scratch;
  int64_t k = 0;
  const int64_t* vars = select_variables(*task, p, scratch, &k);
  if (vars == nullptr) return ErrMemory;
  // Compact working copies of the selected entries.
  T* lo = scratch.take<T>(k);
  T* hi = scratch.take<T>(k);
  if (lo == nullptr || hi == nullptr) return ErrMemory;
  T* mins = static_cast<T*>(task->min);
  T* maxs = static_cast<T*>(task->max);
  for (int64_t j = 0; j < k; ++j) {
    lo[j] = want_min ? mins[vars[j]] : T(0);
    hi[j] = want_max ? maxs[vars[j]] : T(0);
  }
  const T* x = static_cast<const T*>(task->x);
  const bool cols = columns_storage(*task, p);
  for (int64_t j = 0; j < k; ++j) {
    const int64_t v = vars[j];
    T a = lo[j], b = hi[j];
    if (cols) {
      for (int64_t i = 0; i < n; ++i) {
        const T xv = x[i * p + v];
        a = xv < a ? xv : a;
        b = xv > b ? xv : b;
      }
    } else {
      const T* row = x + v * n;
      for (int64_t i = 0; i < n; ++i) {
        a = row[i] < a ? row[i] : a;
        b = row[i] > b ? row[i] : b;
      }
    }
    lo[j] = a;
    hi[j] = b;
  }
  for (int64_t j = 0; j < k; ++j) {
    if (want_min) mins[vars[j]] = lo[j];
    if (want_max) maxs[vars[j]] = hi[j];
  }
  return kOk;
}

}  // namespace

// Restores both parts' states from their arrays exactly as a continued call would, folds other's into
// task's by the range combination and writes task's arrays from the result.
template <class T>
int32_t merge_basic(SSTask* task, SSTask* other, uint64_t estimates) {
  Scratch scratch;
  Plan<T> a, b;
  int32_t status = plan_call(task, estimates, ZOK_SS_METHOD_ONEPASS, scratch, a, true);
  if (status == kOk) status = plan_call(other, estimates, ZOK_SS_METHOD_ONEPASS, scratch, b, true);
  if (status != kOk) return status;
  // An empty part changes nothing, so task's arrays are left exactly as they are.
  if (!(b.W > T(0)) || a.k == 0) return kOk;
  if (!(a.W > T(0))) a.W = a.W2 = 0;
  // other is read at the variables task selects.
  b.vars = a.vars;
  b.k = a.k;
  const int64_t k = a.k, size = 8 * k + (a.want_c ? k * k : 0);
  T* mem = scratch.take<T>(2 * size + k);
  if (mem == nullptr) return ErrMemory;
  State<T> sa, sb;
  lay_out(sa, mem, k, a.want_c);
  lay_out(sb, mem + size, k, a.want_c);
  Ranges<T> ra, rb;
  ra.states = &sa;
  rb.states = &sb;
  ra.delta = mem + 2 * size;
  restore(a, ra);
  restore(b, rb);
  combine(sa, sb, k, a.want_c, false, ra.delta);
  write(a, ra);
  return kOk;
}
template int32_t merge_basic<double>(SSTask*, SSTask*, uint64_t);
template int32_t merge_basic<float>(SSTask*, SSTask*, uint64_t);

}  // namespace zok::ss

extern "C" {

ZOK_SS_API int32_t _qordSSBasic(SSTask* task, uint64_t estimates, uint64_t method,
                                const ThreadingServices* services) {
  return zok::ss::basic<double>(task, estimates, method, services);
}
ZOK_SS_API int32_t _qorsSSBasic(SSTask* task, uint64_t estimates, uint64_t method,
                                const ThreadingServices* services) {
  return zok::ss::basic<float>(task, estimates, method, services);
}
ZOK_SS_API int32_t _qordSSMinmax(SSTask* task, uint64_t estimates, uint64_t method) {
  return zok::ss::minmax<double>(task, estimates, method);
}
ZOK_SS_API int32_t _qorsSSMinmax(SSTask* task, uint64_t estimates, uint64_t method) {
  return zok::ss::minmax<float>(task, estimates, method);
}

}  // extern "C"
