// Stream quantiles: per-variable segments of growing size, each a binary counter of sorted summaries
// with rank bounds, fed portion by portion over many calls and merged to answer epsilon-approximate
// quantiles.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "stats/estimator.h"
#include "stats/order_sort.h"
#include "stats/task.h"
#include "zok/core_services.h"

extern "C" void __qorSQuantilesFreeBuffers(SSTask* task);

namespace zok::ss {
namespace {

// One segment of one variable: a level-0 buffer of b values and levels 1..L of summaries, each level
// area b + 1 entries long (two merged summaries of ceil(b/2)). One allocation holds the level flags,
// the two rank areas and the value area.
struct Segment {
  int64_t taken;   // observations taken into the segment
  int64_t b;       // block size
  int64_t levels;  // L
  int64_t top;     // highest level in use
  int64_t fill;    // observations in the level-0 buffer
  int64_t* flags;  // L + 1 level-occupied flags, then the areas
  void* values;
  int64_t* lower;
  int64_t* upper;
};
static_assert(sizeof(Segment) == 9 * 8);

struct Variable {
  int64_t segments;  // created
  int64_t current;   // index of the segment being filled, -1 before the first
  int64_t tracked;
  Segment* segs;
};

struct State {
  int64_t p;
  Variable vars[1];  // p of them
};

int64_t floor_div(double num, double eps) {
  return static_cast<int64_t>(std::floor(num / eps));
}
// Segment k takes floor((2^(k+2) - 1)/eps) - floor((2^(k+1) - 1)/eps) observations.
int64_t segment_size(int64_t k, double eps) {
  return floor_div(std::ldexp(1.0, static_cast<int>(k) + 2) - 1, eps) -
         floor_div(std::ldexp(1.0, static_cast<int>(k) + 1) - 1, eps);
}

// Block size and levels of a segment of m observations. A block of 0 or 1 would never fill or never
// shrink: at least 2.
void shape(int64_t m, double eps, int64_t* b, int64_t* levels) {
  const double lg = __qordLn(eps * static_cast<double>(m)) * 1.4426950408889634;
  *b = std::max<int64_t>(2, static_cast<int64_t>(std::floor(lg / eps)));
  *levels = std::max<int64_t>(2, static_cast<int64_t>(std::floor(lg + 2)));
}

void free_state(State* st) {
  if (st == nullptr) return;
  for (int64_t j = 0; j < st->p; ++j) {
    Variable& v = st->vars[j];
    for (int64_t s = 0; s < v.segments; ++s) zok_serv_deallocate(v.segs[s].flags);
    zok_serv_deallocate(v.segs);
  }
  zok_serv_deallocate(st);
}

// A sorted list of (value, lower rank, upper rank).
template <class T>
struct Summary {
  T* v;
  int64_t* lo;
  int64_t* up;
  int64_t n;
};

template <class T>
Summary<T> level_of(const Segment& s, int64_t l, int64_t n) {
  const int64_t at = l * (s.b + 1);
  return {static_cast<T*>(s.values) + at, s.lower + at, s.upper + at, n};
}

// Merges A and B (A first on equal values) into out; ranks of B's entries gain A's bounds around them.
template <class T>
void merge(const Summary<T>& A, const Summary<T>& B, Summary<T>& out) {
  int64_t i = 0, k = 0, o = 0;
  while (i < A.n && k < B.n) {
    if (A.v[i] > B.v[k]) {
      out.v[o] = B.v[k];
      out.lo[o] = B.lo[k] + (i > 0 ? A.lo[i - 1] : 0);
      out.up[o++] = B.up[k] + A.up[i] - 1;
      ++k;
    } else {
      out.v[o] = A.v[i];
      out.lo[o] = A.lo[i] + (k > 0 ? B.lo[k - 1] : 0);
      out.up[o++] = A.up[i] + B.up[k] - 1;
      ++i;
    }
  }
  const int64_t alo = A.n > 0 ? A.lo[A.n - 1] : 0, aup = A.n > 0 ? A.up[A.n - 1] : 0;
  const int64_t blo = B.n > 0 ? B.lo[B.n - 1] : 0, bup = B.n > 0 ? B.up[B.n - 1] : 0;
  for (; i < A.n; ++i, ++o) {
    out.v[o] = A.v[i];
    out.lo[o] = A.lo[i] + blo;
    out.up[o] = A.up[i] + bup;
  }
  for (; k < B.n; ++k, ++o) {
    out.v[o] = B.v[k];
    out.lo[o] = B.lo[k] + alo;
    out.up[o] = B.up[k] + aup;
  }
  out.n = o;
}

// Keeps the entries at even positions, in place: ceil(n/2) of them.
template <class T>
void compress(Summary<T>& s) {
  const int64_t kept = (s.n + 1) / 2;
  for (int64_t i = 0; i < kept; ++i) {
    s.v[i] = s.v[2 * i];
    s.lo[i] = s.lo[2 * i];
    s.up[i] = s.up[2 * i];
  }
  s.n = kept;
}

template <class T>
void copy_summary(const Summary<T>& from, Summary<T>& to) {
  std::memcpy(to.v, from.v, static_cast<size_t>(from.n) * sizeof(T));
  std::memcpy(to.lo, from.lo, static_cast<size_t>(from.n) * sizeof(int64_t));
  std::memcpy(to.up, from.up, static_cast<size_t>(from.n) * sizeof(int64_t));
  to.n = from.n;
}

// Scratch of one thread: two summaries of `size` entries and a radix scratch.
template <class T>
struct Work {
  Summary<T> a, b;
  T* radix;
};
template <class T>
Work<T> carve(void* mem, int64_t size) {
  auto* ints = static_cast<int64_t*>(mem);
  T* reals = reinterpret_cast<T*>(ints + 4 * size);
  return {
      {reals, ints, ints + size, 0}, {reals + size, ints + 2 * size, ints + 3 * size, 0}, reals + 2 * size};
}
template <class T>
int64_t work_bytes(int64_t size) {
  return size * (4 * static_cast<int64_t>(sizeof(int64_t)) + 3 * static_cast<int64_t>(sizeof(T)));
}

// The full level-0 buffer, sorted and compressed, carried up like a binary counter.
template <class T>
void flush(Segment& s, Work<T>& w) {
  Summary<T> zero = level_of<T>(s, 0, s.b);
  sort_values(s.b, zero.v, 1, w.radix);
  Summary<T>& carry = w.a;
  copy_summary(zero, carry);
  compress(carry);
  int64_t l = 1;
  for (;; ++l) {
    if (!s.flags[l]) break;
    Summary<T> held = level_of<T>(s, l, carry.n);
    merge(held, carry, w.b);
    s.flags[l] = 0;
    compress(w.b);
    std::swap(w.a, w.b);
    // The levels a segment gets hold every carry its size can produce; the last one absorbs the rest.
    if (l == s.levels) break;
  }
  Summary<T> dest = level_of<T>(s, l, 0);
  copy_summary(w.a, dest);
  s.flags[l] = 1;
  s.top = std::max(s.top, l);
  s.fill = 0;
}

template <class T>
struct ChunkJob {
  State* st;
  const int64_t* tracked;  // indices of the tracked variables
  const T* x;
  int64_t n, p;
  bool cols;
  int64_t first, count;  // observations [first, first + count) of the portion
  char* work;            // per thread
  int64_t work_size, work_stride;
};

template <class T>
void chunk_body(int64_t t, int thread, int, void* context) {
  const auto& job = *static_cast<const ChunkJob<T>*>(context);
  const int64_t j = job.tracked[t];
  Variable& var = job.st->vars[j];
  Segment& s = var.segs[var.current];
  Work<T> w = carve<T>(job.work + thread * job.work_stride, job.work_size);
  T* const zero = static_cast<T*>(s.values);
  for (int64_t i = job.first; i < job.first + job.count; ++i) {
    zero[s.fill] = job.cols ? job.x[i * job.p + j] : job.x[j * job.n + i];
    s.lower[s.fill] = s.upper[s.fill] = s.fill + 1;
    ++s.fill;
    ++s.taken;
    if (s.fill == s.b) flush(s, w);
  }
}

// A new segment k for every tracked variable; all or none.
template <class T>
int32_t add_segments(State* st, const int64_t* tracked, int64_t count, int64_t k, double eps) {
  int64_t b = 0, levels = 0;
  shape(segment_size(k, eps), eps, &b, &levels);
  const int64_t area = (levels + 1) * (b + 1);
  const size_t bytes =
      static_cast<size_t>((levels + 1) + area * 2) * sizeof(int64_t) + static_cast<size_t>(area) * sizeof(T);
  int64_t done = 0;
  for (; done < count; ++done) {
    Variable& v = st->vars[tracked[done]];
    auto* segs = static_cast<Segment*>(zok_serv_allocate((v.segments + 1) * sizeof(Segment), kAlignment));
    void* mem = segs != nullptr ? zok_serv_allocate(bytes, kAlignment) : nullptr;
    if (mem == nullptr) {
      zok_serv_deallocate(segs);
      break;
    }
    std::memset(mem, 0, bytes);
    if (v.segments > 0) std::memcpy(segs, v.segs, static_cast<size_t>(v.segments) * sizeof(Segment));
    auto* flags = static_cast<int64_t*>(mem);
    int64_t* lower = flags + levels + 1;
    segs[v.segments] = {0, b, levels, 0, 0, flags, lower + 2 * area, lower, lower + area};
    zok_serv_deallocate(v.segs);
    v.segs = segs;
    ++v.segments;
  }
  if (done < count) {
    // Undo: the variables that got a segment give it back.
    for (int64_t t = 0; t < done; ++t) {
      Variable& v = st->vars[tracked[t]];
      zok_serv_deallocate(v.segs[--v.segments].flags);
    }
    return ErrMemory;
  }
  for (int64_t t = 0; t < count; ++t) st->vars[tracked[t]].current = k;
  return kOk;
}

template <class T>
struct AnswerJob {
  State* st;
  const int64_t* tracked;
  const T* orders;
  int64_t count;
  T* out;
  char* work;
  int64_t work_size, work_stride;
};

template <class T>
void answer_body(int64_t t, int thread, int, void* context) {
  const auto& job = *static_cast<const AnswerJob<T>*>(context);
  Variable& var = job.st->vars[job.tracked[t]];
  Work<T> w = carve<T>(job.work + thread * job.work_stride, job.work_size);
  int64_t N = 0;
  w.a.n = 0;
  for (int64_t g = 0; g < var.segments; ++g) {
    Segment& s = var.segs[g];
    N += s.taken;
    // The partly filled buffer is sorted where it is: its ranks go by position, and the next flush
    // sorts the same values again.
    sort_values(s.fill, static_cast<T*>(s.values), 1, w.radix);
    for (int64_t l = 0; l <= s.top; ++l) {
      if (l > 0 && !s.flags[l]) continue;
      const Summary<T> part = level_of<T>(s, l, l == 0 ? s.fill : (s.b + 1) / 2);
      if (part.n == 0) continue;
      merge(w.a, part, w.b);
      std::swap(w.a, w.b);
    }
  }
  if (w.a.n == 0) return;  // nothing seen yet: the outputs stay as they were
  T* out = job.out + t * job.count;
  for (int64_t i = 0; i < job.count; ++i) {
    const double target = static_cast<double>(job.orders[i]) * static_cast<double>(N);
    double best = 2.0 * static_cast<double>(N);
    T value = w.a.v[0];
    for (int64_t e = 0; e < w.a.n; ++e) {
      const double d = std::floor(std::fabs(static_cast<double>(w.a.lo[e] + w.a.up[e]) / 2 - target));
      if (d < best) {
        best = d;
        value = w.a.v[e];
      }
    }
    out[i] = value;
  }
}

template <class T>
int32_t stream_quantiles(SSTask* task, uint64_t, uint64_t method, const ThreadingServices* services) {
  if (task == nullptr) return ErrNullTask;
  const int64_t p = read_int(*task, task->p);
  if (p < 1) return ErrP;
  int64_t n = 0;
  if (task->n == nullptr || (n = read_int(*task, task->n)) < 0) return ErrN;
  if (n > 0) {
    if (task->x == nullptr) return ErrX;
    if (task->x_storage == nullptr) return ErrStoragePtr;
    const int64_t code = read_int(*task, task->x_storage);
    if (code != ZOK_SS_STORAGE_ROWS && code != ZOK_SS_STORAGE_COLUMNS) return ErrStorage;
  }
  T* const out = static_cast<T*>(task->stream_quantiles);
  const T* orders = static_cast<const T*>(task->stream_orders);
  if (out == nullptr) return ZOK_SS_ERR_STREAM_QUANTILES;
  if (orders == nullptr) return ZOK_SS_ERR_STREAM_ORDERS;
  int64_t count = 0;
  if (task->stream_order_count == nullptr || (count = read_int(*task, task->stream_order_count)) < 0)
    return ZOK_SS_ERR_STREAM_ORDER_COUNT;
  if (task->stream_param_count == nullptr) return ZOK_SS_ERR_STREAM_PARAM_COUNT;
  if (read_int(*task, task->stream_param_count) != 1) return ZOK_SS_ERR_STREAM_PARAM_COUNT_VALUE;
  for (int64_t i = 0; i < count; ++i)
    if (!(orders[i] >= T(0) && orders[i] <= T(1))) return ZOK_SS_ERR_STREAM_ORDER_COUNT;
  if (task->stream_params == nullptr) return ZOK_SS_ERR_STREAM_PARAMS;
  if ((method & (ZOK_SS_METHOD_STREAM | ZOK_SS_METHOD_STREAM_UPDATE)) == 0) return ErrMethod;
  const double eps = static_cast<const T*>(task->stream_params)[0];
  if (!(eps > 0 && eps <= 1)) return ZOK_SS_ERR_STREAM_EPS;

  auto* st = static_cast<State*>(task->stream_state);
  if (st == nullptr) {
    const size_t bytes = sizeof(State) + static_cast<size_t>(p - 1) * sizeof(Variable);
    st = static_cast<State*>(zok_serv_allocate(bytes, kAlignment));
    if (st == nullptr) return ErrMemory;
    std::memset(static_cast<void*>(st), 0, bytes);
    st->p = p;
    for (int64_t j = 0; j < p; ++j) {
      st->vars[j].current = -1;
      st->vars[j].tracked = task->indices == nullptr || read_int(*task, task->indices, j) != 0;
    }
    if (!add_cleanup(task, __qorSQuantilesFreeBuffers)) {
      zok_serv_deallocate(st);
      return ErrMemory;
    }
    task->stream_state = st;
  }
  // The state is sized and selected by the first call.
  if (st->p != p) return ZOK_SS_ERR_INDICES;
  Scratch scratch;
  int64_t* tracked = scratch.take<int64_t>(p);
  if (tracked == nullptr) return ErrMemory;
  int64_t k = 0;
  for (int64_t j = 0; j < p; ++j) {
    if (task->indices != nullptr && read_int(*task, task->indices, j) != 0 && !st->vars[j].tracked)
      return ZOK_SS_ERR_INDICES;
    if (st->vars[j].tracked) tracked[k++] = j;
  }
  if (k == 0) return ZOK_SS_ERR_INDICES;

  const int threads =
      static_cast<int>(std::min<int64_t>(thread_limit(services, &ThreadingServices::parallel_for), k));
  ChunkJob<T> job{
      st, tracked, static_cast<const T*>(task->x), n, p, n > 0 && columns_storage(*task, p), 0, 0, nullptr,
      0,  0};
  for (int64_t done = 0; done < n;) {
    Variable& v0 = st->vars[tracked[0]];
    int64_t room = v0.current < 0 ? 0 : segment_size(v0.current, eps) - v0.segs[v0.current].taken;
    if (room <= 0) {
      if (const int32_t status = add_segments<T>(st, tracked, k, v0.current + 1, eps); status != kOk)
        return status;
      room = segment_size(v0.current, eps);
    }
    const Segment& s = v0.segs[v0.current];
    job.first = done;
    job.count = std::min(room, n - done);
    job.work_size = s.b + 2;
    job.work_stride = (work_bytes<T>(job.work_size) + 127) / 128 * 128;
    void* work = zok_serv_allocate(static_cast<size_t>(job.work_stride * threads), kAlignment);
    if (work == nullptr) return ErrMemory;
    job.work = static_cast<char*>(work);
    run_items(services, k, threads, &job, chunk_body<T>);
    zok_serv_deallocate(work);
    done += job.count;
  }
  if ((method & ZOK_SS_METHOD_STREAM) == 0) return kOk;

  // Every summary of every segment at once. Tracked variables have seen the same observation count,
  // so their summaries have the same sizes; the merge's last output takes a summary's b + 1 entries.
  const Variable& v0 = st->vars[tracked[0]];
  int64_t entries = 2;
  for (int64_t g = 0; g < v0.segments; ++g) {
    const Segment& s = v0.segs[g];
    entries += s.b + 1;
    for (int64_t l = 1; l <= s.top; ++l) entries += s.flags[l] ? (s.b + 1) / 2 : 0;
  }
  AnswerJob<T> answer{st, tracked, orders, count, out, nullptr, entries, 0};
  answer.work_stride = (work_bytes<T>(entries) + 127) / 128 * 128;
  answer.work = scratch.take_unset<char>(answer.work_stride * threads);
  if (answer.work == nullptr) return ErrMemory;
  run_items(services, k, threads, &answer, answer_body<T>);
  return kOk;
}

}  // namespace
}  // namespace zok::ss

extern "C" {

// The task's cleanup routine: frees the stream state with every segment.
void __qorSQuantilesFreeBuffers(SSTask* task) {
  zok::ss::free_state(static_cast<zok::ss::State*>(task->stream_state));
  task->stream_state = nullptr;
}

ZOK_SS_ESTIMATOR(_qordSSStreamQuantiles) {
  return zok::ss::stream_quantiles<double>(task, estimates, method, services);
}
ZOK_SS_ESTIMATOR(_qorsSSStreamQuantiles) {
  return zok::ss::stream_quantiles<float>(task, estimates, method, services);
}

}  // extern "C"
