// Abstract streams: numbers from a caller's ring buffer that the caller's callback refills, in an
// integer, a double and a single kind; their constructors, init_stream, generators and empty slots.
#include "streams/generators/abstract.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "streams/generators/generator_common.h"
#include "streams/registry.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

// The states behind the 16-byte header; saved images carry these offsets.
struct IntState {
  int32_t n;         // buffer size N
  int32_t start;     // first unread place
  int32_t consumed;  // elements of the current filling already delivered
  int32_t unused;
  uint32_t* buffer;
  ZokRngAbstractCallbackI callback;
};
struct DoubleState {
  int32_t n, start, consumed, unused;
  double a, b;  // the interval the caller's numbers lie in
  double* buffer;
  ZokRngAbstractCallbackD callback;
};
struct SingleState {
  int32_t n, start, consumed;
  float a, b;
  float* buffer;
  ZokRngAbstractCallbackS callback;
};
static_assert(16 + offsetof(IntState, start) == 20 && 16 + offsetof(IntState, consumed) == 24);
static_assert(16 + offsetof(IntState, buffer) == 32 && 16 + offsetof(IntState, callback) == 40);
static_assert(16 + offsetof(DoubleState, a) == 32 && 16 + offsetof(DoubleState, b) == 40);
static_assert(16 + offsetof(DoubleState, buffer) == 48 && 16 + offsetof(DoubleState, callback) == 56);
static_assert(16 + offsetof(SingleState, consumed) == 24 && 16 + offsetof(SingleState, a) == 28);
static_assert(16 + offsetof(SingleState, b) == 32 && 16 + offsetof(SingleState, buffer) == 40);
static_assert(16 + offsetof(SingleState, callback) == 48);
static_assert(16 + sizeof(IntState) == kListedStateSize_IABSTRACT);
static_assert(16 + sizeof(DoubleState) == kListedStateSize_DABSTRACT);
static_assert(16 + sizeof(SingleState) == kListedStateSize_SABSTRACT);

template <class S>
struct Kind;
template <>
struct Kind<IntState> {
  using Elem = uint32_t;
  using Callback = ZokRngAbstractCallbackI;
  static constexpr int32_t kBrng = ZOK_RNG_IABSTRACT;
};
template <>
struct Kind<DoubleState> {
  using Elem = double;
  using Callback = ZokRngAbstractCallbackD;
  static constexpr int32_t kBrng = ZOK_RNG_DABSTRACT;
};
template <>
struct Kind<SingleState> {
  using Elem = float;
  using Callback = ZokRngAbstractCallbackS;
  static constexpr int32_t kBrng = ZOK_RNG_SABSTRACT;
};

// Writers of one run of buffered elements to r[at ..]: words as they are, reals mapped from [a, b)
// to [c, d) as c + (u - a)·factor. The vector loops round exactly as the scalar tail does.
struct CopyWords {
  uint32_t* r;
  void operator()(const uint32_t* u, int32_t count, int32_t at) const {
    std::memcpy(r + at, u, sizeof(uint32_t) * static_cast<size_t>(count));
  }
};
template <class T>
struct MapReals {
  typedef T Lanes __attribute__((vector_size(16)));
  T* r;
  T a, c, factor;
  void operator()(const T* u, int32_t count, int32_t at) const {
    T* out = r + at;
    constexpr int32_t kLanes = sizeof(Lanes) / sizeof(T);
    int32_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
      Lanes x;
      std::memcpy(&x, u + i, sizeof x);
      const Lanes y = c + (x - a) * factor;
      std::memcpy(out + i, &y, sizeof y);
    }
    for (; i < count; ++i) out[i] = c + (u[i] - a) * factor;
  }
};

// Delivers `want` elements: first the unread rest of the current filling, then refills. A refill's
// count is checked before anything of it is copied. Whatever happens, the start index and consumed
// count are stored as they stand, so delivered elements never come again and a failed request
// leaves the next one to call the callback afresh.
template <class S, class Put>
int32_t generate(StreamRecord* stream, int32_t want, const Put put) {
  S& st = state_of<S>(stream);
  typename Kind<S>::Elem* const buffer = st.buffer;
  if (buffer == nullptr) return ZOK_RNG_ERROR_NULL_POINTER;
  if (want <= 0) return ZOK_RNG_STATUS_OK;
  const typename Kind<S>::Callback callback = st.callback;
  const int32_t n = st.n;
  int32_t start = st.start, consumed = st.consumed, done = 0, status = ZOK_RNG_STATUS_OK;
  // Copies `count` unread elements from the start index, in two runs when they wrap.
  const auto take = [&](int32_t count) {
    const int32_t first = std::min(count, n - start);
    put(buffer + start, first, done);
    if (count > first) put(buffer, count - first, done + first);
    start = count > first ? count - first : start + first == n ? 0 : start + first;
    consumed += count;
    done += count;
  };
  take(std::min(want, n - consumed));
  while (done < want) {
    // Copies, so that the callback cannot reach the stream's own fields through them.
    int32_t size = n, nmin = std::min(n, want - done), nmax = n, idx = start;
    const int32_t got = callback(stream, &size, buffer, &nmin, &nmax, &idx);
    if (got < 0 || got > n) {
      status = ZOK_RNG_ERROR_ABSTRACT_COUNT;
      break;
    }
    if (got == 0) {
      status = ZOK_RNG_ERROR_ABSTRACT_EMPTY;
      break;
    }
    consumed = n - got;
    take(std::min(got, want - done));
  }
  st.start = start;
  st.consumed = consumed;
  return status;
}

// The interval fields exist only in the continuous kinds.
template <class S>
void set_interval(S& st, const ZokRngAbstractParams& block) {
  if constexpr (!std::is_same_v<S, IntState>) {
    using Elem = typename Kind<S>::Elem;
    st.a = *static_cast<const Elem*>(block.a);
    st.b = *static_cast<const Elem*>(block.b);
  }
}
template <class S>
bool interval_ok(const ZokRngAbstractParams& block) {
  if constexpr (std::is_same_v<S, IntState>) {
    return true;
  } else {
    using Elem = typename Kind<S>::Elem;
    // Written so that a NaN bound fails as well.
    return block.a != nullptr && block.b != nullptr &&
           *static_cast<const Elem*>(block.a) < *static_cast<const Elem*>(block.b);
  }
}
template <class S>
bool block_ok(const ZokRngAbstractParams& block) {
  return block.n != nullptr && *block.n >= 1 && block.buffer != nullptr && block.callback != nullptr &&
         interval_ok<S>(block);
}

// Method 0 takes the constructor's block. The constructor checked it; init_stream checks again
// because the row is public and a ring of fewer than one place would be indexed out of bounds.
template <class S>
int32_t init(int32_t method, StreamRecord* stream, const uint32_t* params) {
  switch (method) {
    case ZOK_RNG_METHOD_SEED: {
      if (params == nullptr) return ZOK_RNG_ERROR_BAD_ARGUMENT;
      const auto& block = *reinterpret_cast<const ZokRngAbstractParams*>(params);
      if (!block_ok<S>(block)) return ZOK_RNG_ERROR_BAD_ARGUMENT;
      S& st = state_of<S>(stream);
      st.n = *block.n;
      st.start = 0;
      st.consumed = st.n;
      st.buffer = static_cast<typename Kind<S>::Elem*>(block.buffer);
      st.callback = reinterpret_cast<typename Kind<S>::Callback>(block.callback);
      set_interval(st, block);
      return ZOK_RNG_STATUS_OK;
    }
    case ZOK_RNG_METHOD_LEAPFROG:
      return ZOK_RNG_ERROR_NO_LEAPFROG;
    case ZOK_RNG_METHOD_SKIP:
      return ZOK_RNG_ERROR_NO_SKIP_AHEAD;
    default:
      return ZOK_RNG_ERROR_METHOD;
  }
}

// Arguments first, then the row, the record and the row's init_stream.
template <class S>
int32_t construct(StreamRecord** stream, const ZokRngAbstractParams& block) {
  if (!block_ok<S>(block)) return ZOK_RNG_ERROR_BAD_ARGUMENT;
  int32_t index = 0, member = 0;
  const GeneratorProperties* table = __qorGetBrngBaseOffset(Kind<S>::kBrng, &index, &member);
  if (const int32_t status = __qorAllocateStream(stream, table, Kind<S>::kBrng, index, member);
      status != ZOK_RNG_STATUS_OK)
    return status;
  return table[index].init_stream(ZOK_RNG_METHOD_SEED, *stream, 6, reinterpret_cast<const uint32_t*>(&block));
}

template <class S>
bool ring_loaded(const GeneratorProperties& row, StreamRecord* stream) {
  if (record_bytes(row) < 16 + static_cast<int32_t>(sizeof(S))) return true;  // not our record
  S& st = state_of<S>(stream);
  st.buffer = nullptr;
  st.callback = nullptr;
  return st.n >= 1 && st.start >= 0 && st.start < st.n && st.consumed >= 0 && st.consumed <= st.n;
}

// The slots of a row that hold no output of their type: nothing to do for no elements, else the
// type is unavailable and nothing is written.
int32_t empty_slot(int32_t n) {
  return n <= 0 ? ZOK_RNG_STATUS_OK : ZOK_RNG_ERROR_UNAVAILABLE;
}

template <class F>
ZokRngAbstractParams params_of(const int32_t* n, void* buffer, F callback, const void* a, const void* b) {
  return {n, buffer, reinterpret_cast<void (*)(void)>(callback), a, b};
}

}  // namespace

bool abstract_state_loaded(const GeneratorProperties& row, StreamRecord* stream) {
  if (row.init_stream == __qorBRngiAbstractInitStream) return ring_loaded<IntState>(row, stream);
  if (row.init_stream == __qorBRngdAbstractInitStream) return ring_loaded<DoubleState>(row, stream);
  if (row.init_stream == __qorBRngsAbstractInitStream) return ring_loaded<SingleState>(row, stream);
  return true;
}

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qoriNewAbstractStream(StreamRecord** stream, int32_t n, uint32_t* buffer,
                                ZokRngAbstractCallbackI callback) {
  return construct<IntState>(stream, params_of(&n, buffer, callback, nullptr, nullptr));
}
int32_t __qordNewAbstractStream(StreamRecord** stream, int32_t n, double* buffer, double a, double b,
                                ZokRngAbstractCallbackD callback) {
  return construct<DoubleState>(stream, params_of(&n, buffer, callback, &a, &b));
}
int32_t __qorsNewAbstractStream(StreamRecord** stream, int32_t n, float* buffer, float a, float b,
                                ZokRngAbstractCallbackS callback) {
  return construct<SingleState>(stream, params_of(&n, buffer, callback, &a, &b));
}

int32_t __qorBRngiAbstractInitStream(int32_t method, StreamRecord* stream, int32_t, const uint32_t* params) {
  return init<IntState>(method, stream, params);
}
int32_t __qorBRngdAbstractInitStream(int32_t method, StreamRecord* stream, int32_t, const uint32_t* params) {
  return init<DoubleState>(method, stream, params);
}
int32_t __qorBRngsAbstractInitStream(int32_t method, StreamRecord* stream, int32_t, const uint32_t* params) {
  return init<SingleState>(method, stream, params);
}

int32_t __qoriBRngiAbstract(StreamRecord* stream, int32_t n, uint32_t* r) {
  return generate<IntState>(stream, n, CopyWords{r});
}
int32_t __qordBRngdAbstract(StreamRecord* stream, int32_t n, double* r, double c, double d) {
  const DoubleState& st = state_of<DoubleState>(stream);
  return generate<DoubleState>(stream, n, MapReals<double>{r, st.a, c, (d - c) / (st.b - st.a)});
}
int32_t __qorsBRngsAbstract(StreamRecord* stream, int32_t n, float* r, float c, float d) {
  const SingleState& st = state_of<SingleState>(stream);
  return generate<SingleState>(stream, n, MapReals<float>{r, st.a, c, (d - c) / (st.b - st.a)});
}

int32_t __qorsBRngiAbstract(StreamRecord*, int32_t n, float*, float, float) {
  return empty_slot(n);
}
int32_t __qordBRngiAbstract(StreamRecord*, int32_t n, double*, double, double) {
  return empty_slot(n);
}
int32_t __qorsBRngdAbstract(StreamRecord*, int32_t n, float*, float, float) {
  return empty_slot(n);
}
int32_t __qoriBRngdAbstract(StreamRecord*, int32_t n, uint32_t*) {
  return empty_slot(n);
}
int32_t __qordBRngsAbstract(StreamRecord*, int32_t n, double*, double, double) {
  return empty_slot(n);
}
int32_t __qoriBRngsAbstract(StreamRecord*, int32_t n, uint32_t*) {
  return empty_slot(n);
}

}  // extern "C"
