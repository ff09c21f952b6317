// Group and pooled means and covariances: contiguous ranges of observations over threads, each
// group's observations taken in blocks centred on its running mean and added by a rank-k update,
// per-range group states folded in order by the exact combination formulas.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "stats/derived.h"
#include "stats/estimator.h"
#include "stats/task.h"

namespace zok::ss {
namespace {

template <class T>
struct Pooled {
  SSTask* task = nullptr;
  int64_t p = 0, n = 0, k = 0, groups = 0;
  const int64_t* vars = nullptr;
  const T* x = nullptr;
  const T* w = nullptr;
  bool cols = false;
  int64_t ranges = 1, block = 0;
  // Per range: W, W2 (2G), means (G k), cross-products (G k k, upper triangle column-major).
  T** state = nullptr;
  // Per range: observation order by group (range length + G + 1) and a block buffer (block (k + 1) + k).
  int64_t** order = nullptr;
  T** work = nullptr;
};

template <class T>
inline T value(const Pooled<T>& c, int64_t i, int64_t v) {
  return c.cols ? c.x[i * c.p + v] : c.x[v * c.n + i];
}

// Group g's observations (positions idx[0..count)) of one range into its state: blocks centred on the
// running mean (the first observation when the group is empty), added by syrk, then corrected to
// the new mean with a rank-1 update. The block is variable-major (nb values of each variable in a
// row), so that rows storage reads every variable's observations in increasing order.
template <class T>
void accumulate_group(const Pooled<T>& c, const int64_t* idx, int64_t count, T* Wg, T* mean, T* C, T* buf) {
  const int64_t k = c.k;
  T* delta = buf + c.block * k;
  T* wb = delta + k;
  for (int64_t s = 0; s < count; s += c.block) {
    const int64_t nb = std::min(c.block, count - s);
    const int64_t* ix = idx + s;
    if (Wg[0] == T(0))
      for (int64_t j = 0; j < k; ++j) mean[j] = value(c, ix[0], c.vars[j]);
    T WB = 0, W2B = 0;
    for (int64_t r = 0; r < nb; ++r) {
      wb[r] = c.w != nullptr ? c.w[ix[r]] : T(1);
      WB += wb[r];
      W2B += wb[r] * wb[r];
    }
    for (int64_t j = 0; j < k; ++j) {
      T* z = buf + j * nb;
      const T m = mean[j];
      if (c.cols)
        for (int64_t r = 0; r < nb; ++r) z[r] = c.x[ix[r] * c.p + c.vars[j]] - m;
      else
        for (int64_t r = 0; r < nb; ++r) z[r] = c.x[c.vars[j] * c.n + ix[r]] - m;
      T d = 0;
      for (int64_t r = 0; r < nb; ++r) d += wb[r] * z[r];
      delta[j] = d / WB;
      if (c.w != nullptr)
        for (int64_t r = 0; r < nb; ++r) z[r] *= std::sqrt(wb[r]);
    }
    const T W = Wg[0] + WB;
    syrk_upper(true, "T", static_cast<int>(k), static_cast<int>(nb), T(1), buf, static_cast<int>(nb), T(1), C,
               static_cast<int>(k));
    // Sum w (x - m)(x - m)^T about the old mean m is the block's own sum plus WB d d^T; the
    // combination with the earlier state adds W_A WB / W d d^T: together -WB^2/W d d^T.
    syr_upper(static_cast<int>(k), -WB * WB / W, delta, C, static_cast<int>(k));
    for (int64_t j = 0; j < k; ++j) mean[j] += delta[j] * (WB / W);
    Wg[0] = W;
    Wg[1] += W2B;
  }
}

template <class T>
void run_range(int64_t t, int, int, void* context) {
  const Pooled<T>& c = *static_cast<const Pooled<T>*>(context);
  const auto [begin, end] = range_bounds(t, c.ranges, c.n);
  const int64_t G = c.groups, k = c.k;
  // Counting sort of the range's observations by group, keeping their order; zero weights take no part.
  int64_t* start = c.order[t];
  int64_t* idx = start + G + 1;
  std::fill(start, start + G + 1, int64_t{0});
  auto group = [&](int64_t i) { return read_int(*c.task, c.task->group_index, i); };
  auto used = [&](int64_t i) { return c.w == nullptr || c.w[i] != T(0); };
  for (int64_t i = begin; i < end; ++i)
    if (used(i)) ++start[group(i) + 1];
  for (int64_t g = 0; g < G; ++g) start[g + 1] += start[g];
  for (int64_t i = begin; i < end; ++i)
    if (used(i)) idx[start[group(i)]++] = i;
  T* st = c.state[t];
  for (int64_t g = G - 1; g >= 0; --g) {
    const int64_t b = g == 0 ? 0 : start[g - 1];
    accumulate_group(c, idx + b, start[g] - b, st + 2 * g, st + 2 * G + g * k, st + 2 * G + G * k + g * k * k,
                     c.work[t]);
  }
}

// Folds range B's group states into A's: the result equals accumulating A's observations, then B's.
template <class T>
void combine(const Pooled<T>& c, T* A, const T* B) {
  const int64_t G = c.groups, k = c.k;
  for (int64_t g = 0; g < G; ++g) {
    const T WA = A[2 * g], WB = B[2 * g];
    if (WB == T(0)) continue;
    T* mA = A + 2 * G + g * k;
    const T* mB = B + 2 * G + g * k;
    T* CA = A + 2 * G + G * k + g * k * k;
    const T* CB = B + 2 * G + G * k + g * k * k;
    const T W = WA + WB, f = WA * WB / W;
    for (int64_t b = 0; b < k; ++b)
      for (int64_t a = 0; a <= b; ++a) CA[b * k + a] += CB[b * k + a] + f * (mB[a] - mA[a]) * (mB[b] - mA[b]);
    for (int64_t j = 0; j < k; ++j) mA[j] = WA == T(0) ? mB[j] : mA[j] + (mB[j] - mA[j]) * (WB / W);
    A[2 * g] = W;
    A[2 * g + 1] += B[2 * g + 1];
  }
}

template <class T>
int32_t pooled_covariance(SSTask* task, uint64_t estimates, uint64_t method,
                          const ThreadingServices* services) {
  if (task == nullptr) return ErrNullTask;
  Pooled<T> c;
  c.task = task;
  c.p = read_int(*task, task->p);
  if (c.p < 1) return ErrP;
  int32_t status = check_observations(*task, &c.n);
  if (status != kOk) return status;
  if (task->group_index == nullptr) return ZOK_SS_ERR_GROUPS;
  const bool pooled_cov = (estimates & ZOK_SS_POOLED_COV) != 0,
             group_cov = (estimates & ZOK_SS_GROUP_COV) != 0;
  const bool pooled_mean = pooled_cov || (estimates & ZOK_SS_POOLED_MEAN) != 0;
  const bool group_mean = group_cov || (estimates & ZOK_SS_GROUP_MEAN) != 0;
  if (pooled_mean && task->pooled_mean == nullptr) return ZOK_SS_ERR_POOLED_MEAN;
  if (pooled_cov && task->pooled_cov_storage == nullptr) return ErrStoragePtr;
  if (pooled_cov && task->pooled_cov == nullptr) return ZOK_SS_ERR_POOLED_COV;
  if (group_mean && task->group_selection == nullptr) return ZOK_SS_ERR_GROUPS;
  if (group_mean && task->group_means == nullptr) return ZOK_SS_ERR_GROUP_MEANS;
  if (group_cov && task->group_cov_storage == nullptr) return ErrStoragePtr;
  if (group_cov && task->group_cov == nullptr) return ZOK_SS_ERR_GROUP_COV;
  if ((method & ZOK_SS_METHOD_POOLED) == 0) return ErrMethod;
  int64_t top = -1;
  for (int64_t i = 0; i < c.n; ++i) {
    const int64_t g = read_int(*task, task->group_index, i);
    if (g < 0) return ZOK_SS_ERR_GROUP_VALUE;
    top = std::max(top, g);
  }
  const int64_t G = c.groups = top + 1;
  if (group_mean)
    for (int64_t g = 0; g < G; ++g) {
      const int64_t s = read_int(*task, task->group_selection, g);
      if (s != 0 && s != 1) return ZOK_SS_ERR_GROUP_VALUE;
    }
  c.w = static_cast<const T*>(task->weights);
  if (c.w != nullptr)
    for (int64_t i = 0; i < c.n; ++i)
      if (!(c.w[i] >= T(0))) return ErrBadWeight;
  if (!pooled_mean && !group_mean) return kOk;

  Scratch scratch;
  c.vars = select_variables(*task, c.p, scratch, &c.k);
  if (c.vars == nullptr) return ErrMemory;
  const int64_t k = c.k;
  if (k == 0) return kOk;
  c.x = static_cast<const T*>(task->x);
  c.cols = columns_storage(*task, c.p);
  const int threads = c.p > 10 ? thread_limit(services, &ThreadingServices::parallel_for2) : 1;
  c.ranges = std::max<int64_t>(1, std::min<int64_t>(threads, c.n >> 4));
  // Blocks of about 2 MB: long enough for the rank-k update to run at its full rate.
  c.block = std::clamp<int64_t>(2097152 / (8 * k), 64, 4096);
  const int64_t state_size = 2 * G + G * k + G * k * k;
  const int64_t longest = c.n - (c.ranges - 1) * (c.n / c.ranges);
  T* states = scratch.take<T>(state_size * c.ranges);
  int64_t* orders = scratch.take_unset<int64_t>((longest + G + 1) * c.ranges);
  T* work = scratch.take_unset<T>((c.block * k + k + c.block) * c.ranges);
  c.state = scratch.take_unset<T*>(c.ranges);
  c.order = scratch.take_unset<int64_t*>(c.ranges);
  c.work = scratch.take_unset<T*>(c.ranges);
  T* sums = scratch.take<T>(k + (pooled_cov ? k * k : 0));  // pooled mean sums and cross-products
  if (sums == nullptr || states == nullptr || orders == nullptr || work == nullptr || c.state == nullptr ||
      c.order == nullptr || c.work == nullptr)
    return ErrMemory;
  for (int64_t t = 0; t < c.ranges; ++t) {
    c.state[t] = states + t * state_size;
    c.order[t] = orders + t * (longest + G + 1);
    c.work[t] = work + t * (c.block * k + k + c.block);
  }
  if (c.ranges == 1)
    run_range<T>(0, 0, 1, &c);
  else
    services->parallel_for2(c.ranges, threads, &c, run_range<T>);
  for (int64_t t = 1; t < c.ranges; ++t) combine(c, c.state[0], c.state[t]);

  // Writes: group g's mean and covariance in its slot; pooled sums over non-empty groups.
  const T nan = std::numeric_limits<T>::quiet_NaN();
  const T* st = c.state[0];
  const T* means = st + 2 * G;
  const T* cps = means + G * k;
  T* pooled = sums;
  T Wsum = 0, norm_sum = 0;
  const Packing gf = group_cov ? packing_of(read_int(*task, task->group_cov_storage)) : Packing::kFull;
  const int64_t gsize = gf == Packing::kFull ? c.p * c.p : c.p * (c.p + 1) / 2;
  for (int64_t g = 0; g < G; ++g) {
    const T W = st[2 * g], W2 = st[2 * g + 1];
    const T* m = means + g * k;
    const T* C = cps + g * k * k;
    const T norm = W > T(0) ? W - W2 / W : T(0);
    if (W > T(0)) {
      Wsum += W;
      norm_sum += norm;
      for (int64_t j = 0; j < k; ++j) pooled[j] += W * m[j];
      if (pooled_cov)
        for (int64_t i = 0; i < k * k; ++i) pooled[k + i] += C[i];
    }
    if (!group_mean || read_int(*task, task->group_selection, g) != 1) continue;
    T* gm = static_cast<T*>(task->group_means) + g * c.p;
    if (estimates & ZOK_SS_GROUP_MEAN)
      for (int64_t j = 0; j < k; ++j) gm[c.vars[j]] = W > T(0) ? m[j] : nan;
    if (group_cov) {
      const T f = norm > T(0) ? T(1) / norm : nan;
      write_matrix(static_cast<T*>(task->group_cov) + g * gsize, gf, c.p, c.vars, k,
                   [&](int64_t a, int64_t b) { return f * C[std::max(a, b) * k + std::min(a, b)]; });
    }
  }
  if (estimates & ZOK_SS_POOLED_MEAN)
    for (int64_t j = 0; j < k; ++j) static_cast<T*>(task->pooled_mean)[c.vars[j]] = pooled[j] / Wsum;
  if (pooled_cov) {
    const T f = norm_sum > T(0) ? T(1) / norm_sum : nan;
    const T* C = pooled + k;
    write_matrix(static_cast<T*>(task->pooled_cov), packing_of(read_int(*task, task->pooled_cov_storage)),
                 c.p, c.vars, k,
                 [&](int64_t a, int64_t b) { return f * C[std::max(a, b) * k + std::min(a, b)]; });
  }
  return kOk;
}

}  // namespace
}  // namespace zok::ss

extern "C" {

ZOK_SS_API int32_t _qordSSPooledCovariance(SSTask* task, uint64_t estimates, uint64_t method,
                                           const ThreadingServices* services) {
  return zok::ss::pooled_covariance<double>(task, estimates, method, services);
}
ZOK_SS_API int32_t _qorsSSPooledCovariance(SSTask* task, uint64_t estimates, uint64_t method,
                                           const ThreadingServices* services) {
  return zok::ss::pooled_covariance<float>(task, estimates, method, services);
}

}  // extern "C"
