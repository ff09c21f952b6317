// Basic statistics and minimum/maximum: checks, the range split over threads and its combination, the
// state carried between calls, final conversions, the kept-means and from-sums methods.
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>

#include "frame/thread_state.h"
#include "stats/basic_update.h"
#include "stats/task.h"
#include "zok/core_services.h"
#include "zok/vector_math.h"

namespace zok::ss {

namespace {

// Internal estimate numbers; the dependency tables are sets of them.
enum Est : int {
  kMean,
  kRaw2,
  kRaw3,
  kRaw4,
  kC2,
  kC3,
  kC4,
  kCov,
  kCor,
  kKurt,
  kSkew,
  kVariation,
  kSum,
  kRS2,
  kRS3,
  kRS4,
  kCS2,
  kCS3,
  kCS4,
  kCP,
  kEstimates
};

constexpr uint64_t kMaskOf[kEstimates] = {0x1,        0x2,        0x4,        0x8,        0x10,
                                          0x20,       0x40,       0x1000,     0x2000,     0x80,
                                          0x100,      0x200,      0x2000000,  0x4000000,  0x8000000,
                                          0x10000000, 0x20000000, 0x40000000, 0x80000000, 0x100000000};
constexpr int32_t kMissing[kEstimates] = {-4006, -4007, -4008, -4009, -4010, -4011, -4012,
                                          -4018, -4019, -4013, -4014, -4017, -4074, -4075,
                                          -4076, -4077, -4078, -4079, -4080, -4081};
// The task parameter that holds each estimate.
constexpr int kParamOf[kEstimates] = {7,  8,  9,  10, 11, 12, 13, 19, 21, 14,
                                      15, 18, 67, 68, 69, 70, 71, 72, 73, 74};

constexpr uint32_t set_of(std::initializer_list<int> l) {
  uint32_t s = 0;
  for (int i : l) s |= 1u << i;
  return s;
}
// Arrays each estimate needs registered, by method family; 0: the family cannot produce it.
constexpr uint32_t kDepOnePass[kEstimates] = {set_of({0}),
                                              set_of({1}),
                                              set_of({2}),
                                              set_of({3}),
                                              set_of({0, 1, 4}),
                                              set_of({0, 1, 2, 5}),
                                              set_of({0, 1, 2, 3, 6}),
                                              set_of({0, 7}),
                                              set_of({0, 8}),
                                              set_of({0, 1, 2, 3, 4, 6, 9}),
                                              set_of({0, 1, 2, 4, 5, 10}),
                                              set_of({0, 1, 4, 11}),
                                              set_of({12}),
                                              set_of({13}),
                                              set_of({14}),
                                              set_of({15}),
                                              set_of({0, 16}),
                                              set_of({0, 17}),
                                              set_of({0, 18}),
                                              set_of({0, 19})};
constexpr uint32_t kDepRaw[kEstimates] = {set_of({0}),
                                          set_of({1}),
                                          set_of({2}),
                                          set_of({3}),
                                          set_of({0, 1, 4}),
                                          set_of({0, 1, 2, 5}),
                                          set_of({0, 1, 2, 3, 6}),
                                          set_of({0, 7}),
                                          set_of({0, 8}),
                                          set_of({0, 1, 2, 3, 4, 6, 9}),
                                          set_of({0, 1, 2, 4, 5, 10}),
                                          set_of({0, 1, 4, 11}),
                                          set_of({12}),
                                          set_of({13}),
                                          set_of({14}),
                                          set_of({15}),
                                          set_of({0, 1, 16}),
                                          set_of({0, 1, 2, 17}),
                                          set_of({0, 1, 2, 3, 18}),
                                          set_of({0, 19})};
constexpr uint32_t kDepSums[kEstimates] = {set_of({0, 12}),
                                           set_of({1, 13}),
                                           set_of({2, 14}),
                                           set_of({3, 15}),
                                           set_of({4, 16}),
                                           set_of({5, 17}),
                                           set_of({6, 18}),
                                           set_of({7, 19}),
                                           set_of({8, 19}),
                                           set_of({0, 4, 6, 9}),
                                           set_of({0, 4, 5, 10}),
                                           set_of({0, 4, 11}),
                                           0,
                                           0,
                                           0,
                                           0,
                                           0,
                                           0,
                                           0,
                                           0};

constexpr uint64_t kDataMethods = ZOK_SS_METHOD_RAW | ZOK_SS_METHOD_ONEPASS | ZOK_SS_METHOD_KEPT;
constexpr uint64_t kSumsMethods = ZOK_SS_METHOD_SUMS | ZOK_SS_METHOD_SUMS_2;
constexpr uint32_t kMatrices = set_of({kCov, kCor, kCP});
// Below this many variables cross-products are cheaper one observation at a time than through BLAS.
constexpr int64_t kBlockedMinVars = 4;

// ---- scratch memory: every block of one call, released together ----
class Scratch {
 public:
  ~Scratch() {
    for (int i = 0; i < count_; ++i) zok_serv_deallocate(blocks_[i]);
  }
  // Zero-filled; null when memory is short or the size overflows.
  template <class U>
  U* take(int64_t elements) {
    if (count_ == kMax || elements < 0 ||
        static_cast<uint64_t>(elements) > std::numeric_limits<size_t>::max() / sizeof(U) / 2)
      return nullptr;
    const size_t bytes = (elements == 0 ? 1 : static_cast<size_t>(elements)) * sizeof(U);
    void* p = zok_serv_allocate(bytes, kAlignment);
    if (p == nullptr) return nullptr;
    std::memset(p, 0, bytes);
    blocks_[count_++] = p;
    return static_cast<U*>(p);
  }

 private:
  static constexpr int kMax = 8;
  void* blocks_[kMax] = {};
  int count_ = 0;
};

// ---- symmetric matrices in the caller's storage ----
enum class Packing { kFull, kLower, kUpper };
Packing packing_of(int64_t code) {
  if (code & 1) return Packing::kLower;
  if (code & 2) return Packing::kUpper;
  return Packing::kFull;
}
int64_t mat_index(int64_t i, int64_t j, int64_t p, Packing f) {
  switch (f) {
    case Packing::kFull:
      return i * p + j;
    case Packing::kLower:
      if (i < j) std::swap(i, j);
      return i * (i + 1) / 2 + j;
    case Packing::kUpper:
      if (i > j) std::swap(i, j);
      return i * p - i * (i - 1) / 2 + (j - i);
  }
  return 0;
}

// Reads the selected variables' block of a caller matrix into a full k x k matrix.
template <class T>
void read_matrix(const T* src, Packing f, int64_t p, const int64_t* vars, int64_t k, T* dst) {
  for (int64_t a = 0; a < k; ++a)
    for (int64_t b = 0; b < k; ++b) dst[a * k + b] = src[mat_index(vars[a], vars[b], p, f)];
}
// Writes value(a, b) into the selected variables' positions; other entries stay as they were.
template <class T, class F>
void write_matrix(T* dst, Packing f, int64_t p, const int64_t* vars, int64_t k, F value) {
  for (int64_t a = 0; a < k; ++a)
    for (int64_t b = (f == Packing::kFull ? 0 : a); b < k; ++b)
      dst[mat_index(vars[a], vars[b], p, f)] = value(a, b);
}

// ---- vector inverse square root through its kernel table ----
// Internal work runs with denormals kept; the caller's mode word comes back when the guard ends.
// The setter never clears a field, so a word whose denormal field was 0 is put back whole.
class ModeGuard {
 public:
  ModeGuard() : old_(_yubSetMode(ZOK_VM_FTZDAZ_OFF)) {}
  ~ModeGuard() { vm::thread_state()->mode = old_; }
  ModeGuard(const ModeGuard&) = delete;
  ModeGuard& operator=(const ModeGuard&) = delete;

 private:
  uint32_t old_;
};

void inv_sqrt_in_place(int n, double* v) {
  using Kernel = void (*)(int, const double*, double*);
  ModeGuard guard;
  reinterpret_cast<Kernel>(__atomic_load_n(&zok_yub_kernel_dInvSqrt_ttab[0], __ATOMIC_RELAXED))(n, v, v);
}
void inv_sqrt_in_place(int n, float* v) {
  using Kernel = void (*)(int, const float*, float*);
  ModeGuard guard;
  reinterpret_cast<Kernel>(__atomic_load_n(&zok_yub_kernel_sInvSqrt_ttab[0], __ATOMIC_RELAXED))(n, v, v);
}

// ---- the range split ----
template <class T>
struct RangeContext {
  const Job<T>* job;
  State<T>* states;
  T** scratch;
  RangeFn<T> fn;
  int64_t length;
  int ranges;
};

template <class T>
void run_range(int64_t index, int, int, void* context) {
  auto* ctx = static_cast<RangeContext<T>*>(context);
  const Job<T>& job = *ctx->job;
  const int t = static_cast<int>(index);
  const int64_t begin = t * ctx->length;
  const int64_t end = t == ctx->ranges - 1 ? job.n : begin + ctx->length;
  State<T>& s = ctx->states[t];
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
  ctx->fn(job, s, begin, end, ctx->scratch[t]);
}

// Folds range B into A so that the result equals accumulating A's observations, then B's.
// delta: k values of scratch.
template <class T>
void combine(State<T>& A, const State<T>& B, int64_t k, bool cp, bool shifted, T* delta) {
  if (B.W == T(0)) return;
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
    const T dl = delta[j];
    const T M2A = A.M[0][j], M3A = A.M[1][j], M4A = A.M[2][j];
    const T M2B = B.M[0][j], M3B = B.M[1][j], M4B = B.M[2][j];
    const T d2 = dl * dl;
    A.M[2][j] = M4A + M4B + d2 * d2 * WA * WB * (WA * WA - WA * WB + WB * WB) / (W * W * W) +
                T(6) * d2 * (WA * WA * M2B + WB * WB * M2A) / (W * W) + T(4) * dl * (WA * M3B - WB * M3A) / W;
    A.M[1][j] = M3A + M3B + d2 * dl * WA * WB * (WA - WB) / (W * W) + T(3) * dl * (WA * M2B - WB * M2A) / W;
    A.M[0][j] = M2A + M2B + d2 * WA * WB / W;
    A.m[j] += dl * (WB / W);
    for (int q = 0; q < 3; ++q) A.r[q][j] = (WA * A.r[q][j] + WB * B.r[q][j]) / W;
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
T* array(const SSTask* task, int e) {
  return static_cast<T*>(const_cast<void*>(field(const_cast<SSTask*>(task), kParamOf[e])));
}

int thread_limit(const ThreadingServices* services) {
  if (services == nullptr || services->parallel_run == nullptr || services->max_threads == nullptr) return 1;
  const int t = services->max_threads();
  return t < 1 ? 1 : t;
}

template <class T>
int32_t basic(SSTask* task, uint64_t estimates, uint64_t method, const ThreadingServices* services) {
  if (task == nullptr) return ErrNullTask;
  const int64_t p = read_int(*task, task->p);
  if (p < 1) return ErrP;

  // Method word: one data method, or none with a from-sums bit.
  const uint64_t data_bits = method & kDataMethods;
  const bool from_sums = data_bits == 0;
  if (from_sums ? (method & kSumsMethods) == 0 : (data_bits & (data_bits - 1)) != 0) return ErrMethod;
  const bool raw_method = data_bits == ZOK_SS_METHOD_RAW;
  const bool kept_method = data_bits == ZOK_SS_METHOD_KEPT;

  // Dependencies: the union of the arrays every wanted estimate needs.
  const uint32_t* deps = from_sums ? kDepSums : raw_method ? kDepRaw : kDepOnePass;
  uint32_t need = 0;
  for (int e = 0; e < kEstimates; ++e) {
    if ((estimates & kMaskOf[e]) == 0) continue;
    if (deps[e] == 0) return ErrMethod;
    need |= deps[e];
  }
  for (int e = 0; e < kEstimates; ++e)
    if ((need & (1u << e)) && array<T>(task, e) == nullptr) return kMissing[e];
  auto has = [need](int e) { return (need & (1u << e)) != 0; };
  // A matrix is never written without knowing how large its storage is.
  if ((has(kCov) && task->cov_storage == nullptr) || (has(kCor) && task->cor_storage == nullptr) ||
      (has(kCP) && task->cp_storage == nullptr))
    return ErrStoragePtr;

  int64_t n = 0;
  if (!from_sums) {
    if (task->n == nullptr || (n = read_int(*task, task->n)) < 1) return ErrN;
    if (task->x == nullptr) return ErrX;
    if (task->x_storage == nullptr) return ErrStoragePtr;
    const int64_t storage = read_int(*task, task->x_storage);
    if (storage != ZOK_SS_STORAGE_ROWS && storage != ZOK_SS_STORAGE_COLUMNS) return ErrStorage;
  } else if (task->accum_weights == nullptr && (task->n == nullptr || task->weights != nullptr)) {
    return ErrAccumWeights;
  }

  // Selected variables.
  Scratch scratch;
  int64_t* vars = scratch.take<int64_t>(p);
  if (vars == nullptr) return ErrMemory;
  int64_t k = 0;
  for (int64_t j = 0; j < p; ++j)
    if (task->indices == nullptr || read_int(*task, task->indices, j) != 0) vars[k++] = j;
  const bool want_c = (need & kMatrices) != 0;
  const Packing cov_f = has(kCov) ? packing_of(read_int(*task, task->cov_storage)) : Packing::kFull;
  const Packing cor_f = has(kCor) ? packing_of(read_int(*task, task->cor_storage)) : Packing::kFull;
  const Packing cp_f = has(kCP) ? packing_of(read_int(*task, task->cp_storage)) : Packing::kFull;

  T* const mean_out = array<T>(task, kMean);
  T* accum = static_cast<T*>(task->accum_weights);
  T W = 0, W2 = 0;
  if (accum != nullptr) {
    W = accum[0];
    W2 = accum[1];
  } else if (from_sums) {
    W = W2 = static_cast<T>(read_int(*task, task->n));
  }

  if (from_sums) {
    T* cmat = want_c ? scratch.take<T>(k * k + k) : nullptr;
    if (want_c && cmat == nullptr) return ErrMemory;
    for (int64_t j = 0; j < k; ++j) {
      const int64_t v = vars[j];
      if (has(kSum)) mean_out[v] = array<T>(task, kSum)[v] / W;
      for (int q = 0; q < 3; ++q)
        if (has(kRS2 + q)) array<T>(task, kRaw2 + q)[v] = array<T>(task, kRS2 + q)[v] / W;
      if (has(kCS2)) array<T>(task, kC2)[v] = array<T>(task, kCS2)[v] * W / (W * W - W2);
      if (has(kCS3)) array<T>(task, kC3)[v] = array<T>(task, kCS3)[v] / W;
      if (has(kCS4)) array<T>(task, kC4)[v] = array<T>(task, kCS4)[v] / W;
      const T c2 = has(kC2) ? array<T>(task, kC2)[v] : T(0);
      if (has(kKurt)) array<T>(task, kKurt)[v] = array<T>(task, kC4)[v] / (c2 * c2) - T(3);
      if (has(kSkew)) array<T>(task, kSkew)[v] = array<T>(task, kC3)[v] / std::sqrt(c2 * c2 * c2);
      if (has(kVariation)) array<T>(task, kVariation)[v] = std::sqrt(c2) / mean_out[v];
    }
    if (want_c) {
      read_matrix(array<T>(task, kCP), packing_of(read_int(*task, task->cp_storage)), p, vars, k, cmat);
      const T f = W > T(0) ? T(1) / (W - W2 / W) : std::numeric_limits<T>::quiet_NaN();
      if (has(kCov))
        write_matrix(array<T>(task, kCov), cov_f, p, vars, k,
                     [&](int64_t a, int64_t b) { return f * cmat[a * k + b]; });
      if (has(kCor)) {
        T* d = cmat + k * k;
        for (int64_t j = 0; j < k; ++j) d[j] = cmat[j * k + j];
        inv_sqrt_in_place(static_cast<int>(k), d);
        write_matrix(array<T>(task, kCor), cor_f, p, vars, k, [&](int64_t a, int64_t b) {
          return a == b ? f * cmat[a * k + a] : cmat[a * k + b] * d[a] * d[b];
        });
      }
    }
    return kOk;
  }
  if (k == 0) return kOk;

  // ---- data methods ----
  const bool weighted = task->weights != nullptr;
  const int64_t storage = read_int(*task, task->x_storage);
  int level = 0;
  for (int q = 0; q < 3; ++q)
    if (has(kRaw2 + q) || has(kC2 + q) || has(kCS2 + q)) level = q + 1;
  if (W <= T(0)) W = W2 = 0;  // no earlier data: the state starts empty

  // The kept-means method sums cross-products about the means kept by the previous call.
  const bool shifted = kept_method && want_c && task->kept_means != nullptr && task->kept_count >= p;
  const T* kept = static_cast<const T*>(task->kept_means);

  // Threads: enough work per range, at least 16 observations per range.
  const double work = (want_c ? static_cast<double>(p) * static_cast<double>(p) : static_cast<double>(p)) *
                      static_cast<double>(n) / 8192.0;
  int64_t ranges = std::min<int64_t>(thread_limit(services), n >> 4);
  if (work < static_cast<double>(ranges)) ranges = static_cast<int64_t>(work);
  if (ranges < 1) ranges = 1;

  const bool blocked = want_c && k >= kBlockedMinVars;
  const int64_t block = std::max<int64_t>(262144 / (8 * p * (weighted ? 2 : 1)), 64);
  const int64_t range_scratch = blocked ? block_scratch_size(k, std::min(block, n), weighted) : 2 * k;
  const int64_t state_size = 8 * k + (want_c ? k * k : 0);
  T* states_mem = scratch.take<T>(state_size * ranges + k);
  T* work_mem = scratch.take<T>(range_scratch * ranges);
  auto* states = scratch.take<State<T>>(ranges);
  T** range_scratch_ptr = scratch.take<T*>(ranges);
  if (states_mem == nullptr || work_mem == nullptr || states == nullptr || range_scratch_ptr == nullptr)
    return ErrMemory;
  T* delta = states_mem + state_size * ranges;
  // The task's kept array grows to p values before anything is written, so no failure can follow.
  if (kept_method && (task->kept_means == nullptr || task->kept_count < p)) {
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
  for (int64_t t = 0; t < ranges; ++t) {
    new (&states[t]) State<T>();
    lay_out(states[t], states_mem + t * state_size, k, want_c);
    range_scratch_ptr[t] = work_mem + t * range_scratch;
  }

  // Range 0 continues the earlier state held in the output arrays.
  State<T>& s0 = states[0];
  if (W > T(0)) {
    s0.W = W;
    s0.W2 = W2;
    const T g2 = W * W - W2;  // W^2 - W2: zero after a single observation
    for (int64_t j = 0; j < k; ++j) {
      const int64_t v = vars[j];
      const T mv = has(kMean) ? mean_out[v] : has(kSum) ? array<T>(task, kSum)[v] / W : T(0);
      s0.K[j] = shifted ? kept[v] : mv;
      s0.m[j] = mv - s0.K[j];
      for (int q = 0; q < 3; ++q)
        s0.r[q][j] = has(kRaw2 + q)  ? array<T>(task, kRaw2 + q)[v]
                     : has(kRS2 + q) ? array<T>(task, kRS2 + q)[v] / W
                                     : T(0);
      if (!raw_method) {
        // Central sums re-enter from their own arrays, else from the central moments, else (a lower
        // sum that a higher one needs, with neither array registered) from the raw moments.
        const T m = mv, r2 = s0.r[0][j], r3 = s0.r[1][j];
        s0.M[0][j] = has(kCS2)  ? array<T>(task, kCS2)[v]
                     : has(kC2) ? (g2 == T(0) ? T(0) : array<T>(task, kC2)[v] * g2 / W)
                                : (r2 - m * m) * W;
        s0.M[1][j] = has(kCS3)  ? array<T>(task, kCS3)[v]
                     : has(kC3) ? array<T>(task, kC3)[v] * W
                                : (r3 - T(3) * m * r2 + T(2) * m * m * m) * W;
        s0.M[2][j] = has(kCS4) ? array<T>(task, kCS4)[v] : has(kC4) ? array<T>(task, kC4)[v] * W : T(0);
      }
    }
    if (want_c) {
      T* C = s0.C;
      const T g = W - W2 / W;
      if (has(kCP)) {
        read_matrix(array<T>(task, kCP), cp_f, p, vars, k, C);
      } else if (has(kCov)) {
        read_matrix(array<T>(task, kCov), cov_f, p, vars, k, C);
        for (int64_t i = 0; i < k * k; ++i) C[i] = g == T(0) ? T(0) : C[i] * g;
      } else {
        read_matrix(array<T>(task, kCor), cor_f, p, vars, k, C);
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
      if (shifted) blas_syr_plain(static_cast<int>(k), W, s0.m, C, static_cast<int>(k));
    }
  } else if (shifted) {
    for (int64_t j = 0; j < k; ++j) s0.K[j] = kept[vars[j]];
  }
  for (int64_t t = 1; t < ranges && shifted; ++t)
    for (int64_t j = 0; j < k; ++j) states[t].K[j] = kept[vars[j]];

  Job<T> job;
  job.x = static_cast<const T*>(task->x);
  job.w = static_cast<const T*>(task->weights);
  job.n = n;
  job.p = p;
  job.vars = vars;
  job.k = k;
  job.cols = storage == ZOK_SS_STORAGE_COLUMNS && p > 1;
  job.shifted = shifted;
  job.block = block;
  const int index = routine_index(job.cols, weighted, level, want_c);
  RangeContext<T> ctx{&job,
                      states,
                      range_scratch_ptr,
                      blocked ? kBlockRoutines<T>[index] : kObsRoutines<T>[index],
                      n / ranges,
                      static_cast<int>(ranges)};
  if (ranges == 1) {
    run_range<T>(0, 0, 1, &ctx);
  } else {
    services->parallel_run(static_cast<int>(ranges), &ctx, run_range<T>);
  }
  for (int64_t t = 1; t < ranges; ++t) combine(s0, states[t], k, want_c, shifted, delta);

  W = s0.W;
  W2 = s0.W2;
  T* C = s0.C;
  if (want_c) {
    // Sums about the kept means become central cross-products again.
    if (shifted) blas_syr_plain(static_cast<int>(k), -W, s0.m, C, static_cast<int>(k));
    for (int64_t a = 0; a < k; ++a)
      for (int64_t b = a + 1; b < k; ++b) C[b * k + a] = C[a * k + b];
  }

  // ---- final conversions ----
  const T g2 = W * W - W2;
  for (int64_t j = 0; j < k; ++j) {
    const int64_t v = vars[j];
    const T m = s0.K[j] + s0.m[j];
    const T r2 = s0.r[0][j], r3 = s0.r[1][j], r4 = s0.r[2][j];
    if (has(kMean)) mean_out[v] = m;
    for (int q = 0; q < 3; ++q)
      if (has(kRaw2 + q)) array<T>(task, kRaw2 + q)[v] = s0.r[q][j];
    if (has(kSum)) array<T>(task, kSum)[v] = m * W;
    for (int q = 0; q < 3; ++q)
      if (has(kRS2 + q)) array<T>(task, kRS2 + q)[v] = s0.r[q][j] * W;
    // Raw-moment forms of the central quantities, divided by W.
    const T m2 = m * m;
    const T k2 = r2 - m2, k3 = r3 - T(3) * m * r2 + T(2) * m2 * m,
            k4 = r4 - T(4) * m * r3 + T(6) * m2 * r2 - T(3) * m2 * m2;
    const T M2 = raw_method ? k2 * W : s0.M[0][j];
    const T M3 = raw_method ? k3 * W : s0.M[1][j];
    const T M4 = raw_method ? k4 * W : s0.M[2][j];
    if (has(kCS2)) array<T>(task, kCS2)[v] = M2;
    if (has(kCS3)) array<T>(task, kCS3)[v] = M3;
    if (has(kCS4)) array<T>(task, kCS4)[v] = M4;
    const T c2 = raw_method ? k2 * W * W / g2 : M2 * W / g2;
    const T c3 = raw_method ? k3 : M3 / W;
    const T c4 = raw_method ? k4 : M4 / W;
    if (has(kC2)) array<T>(task, kC2)[v] = c2;
    if (has(kC3)) array<T>(task, kC3)[v] = c3;
    if (has(kC4)) array<T>(task, kC4)[v] = c4;
    if (has(kKurt)) array<T>(task, kKurt)[v] = c4 / (c2 * c2) - T(3);
    if (has(kSkew)) array<T>(task, kSkew)[v] = c3 / std::sqrt(c2 * c2 * c2);
    if (has(kVariation)) array<T>(task, kVariation)[v] = std::sqrt(c2) / m;
  }
  if (want_c) {
    const T f = W > T(0) ? T(1) / (W - W2 / W) : std::numeric_limits<T>::quiet_NaN();
    if (has(kCP))
      write_matrix(array<T>(task, kCP), cp_f, p, vars, k, [&](int64_t a, int64_t b) { return C[a * k + b]; });
    if (has(kCov))
      write_matrix(array<T>(task, kCov), cov_f, p, vars, k,
                   [&](int64_t a, int64_t b) { return f * C[a * k + b]; });
    if (has(kCor)) {
      // The diagonal keeps the variance, so that a later call can rebuild the cross-products.
      T* d = delta;
      for (int64_t j = 0; j < k; ++j) d[j] = C[j * k + j];
      inv_sqrt_in_place(static_cast<int>(k), d);
      write_matrix(array<T>(task, kCor), cor_f, p, vars, k, [&](int64_t a, int64_t b) {
        return a == b ? f * C[a * k + a] : C[a * k + b] * d[a] * d[b];
      });
    }
  }
  if (accum != nullptr) {
    accum[0] = W;
    accum[1] = W2;
  }
  if (kept_method) {
    T* keep = static_cast<T*>(task->kept_means);
    for (int64_t j = 0; j < k; ++j) keep[vars[j]] = s0.K[j] + s0.m[j];
  }
  return kOk;
}

// Running minimum and maximum over the selected variables.
template <class T>
int32_t minmax(SSTask* task, uint64_t estimates, uint64_t method) {
  if (task == nullptr) return ErrNullTask;
  const int64_t p = read_int(*task, task->p);
  if (p < 1) return ErrP;
  int64_t n = 0;
  if (task->n == nullptr || (n = read_int(*task, task->n)) < 1) return ErrN;
  if (task->x == nullptr) return ErrX;
  if (task->x_storage == nullptr) return ErrStoragePtr;
  const int64_t storage = read_int(*task, task->x_storage);
  if (storage != ZOK_SS_STORAGE_ROWS && storage != ZOK_SS_STORAGE_COLUMNS) return ErrStorage;
  const bool want_min = (estimates & ZOK_SS_MIN) != 0, want_max = (estimates & ZOK_SS_MAX) != 0;
  if (want_min && task->min == nullptr) return ZOK_SS_ERR_MIN;
  if (want_max && task->max == nullptr) return ZOK_SS_ERR_MAX;
  if ((method & (ZOK_SS_METHOD_RAW | ZOK_SS_METHOD_ONEPASS)) == 0) return ErrMethod;
  if (!want_min && !want_max) return kOk;

  Scratch scratch;
  int64_t* vars = scratch.take<int64_t>(p);
  if (vars == nullptr) return ErrMemory;
  int64_t k = 0;
  for (int64_t j = 0; j < p; ++j)
    if (task->indices == nullptr || read_int(*task, task->indices, j) != 0) vars[k++] = j;
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
  const bool cols = storage == ZOK_SS_STORAGE_COLUMNS && p > 1;
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
