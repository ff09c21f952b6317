// The Gray-code walk of SOBOL and NIEDERR: coordinates of a point side by side in vector lanes, one
// coordinate over blocks of points, 32-dimension slices over threads; leapfrog, skip-ahead, seeding.
#include "streams/generators/quasi.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "streams/generators/block_isa.h"
#include "streams/generators/generator_common.h"
#include "zok/core_services.h"

namespace zok::rng::quasi {

namespace {

static_assert(sizeof(Fields) == 16);

constexpr int kAlign = 128;
// The last point the 32 direction numbers reach: point 2^32 - 1 would use the 33rd.
constexpr uint64_t kLastCounter = 0xFFFFFFFFu;
// Below this many points per request threads cost more than they save.
constexpr int64_t kThreadPoints = 1000;
constexpr int32_t kSlice = 32;

template <int W>
struct Lanes {
  typedef uint32_t U __attribute__((vector_size(4 * W)));
  typedef int32_t I __attribute__((vector_size(4 * W)));
  typedef double D __attribute__((vector_size(8 * W)));
  typedef float F __attribute__((vector_size(4 * W)));
};

struct IntSink {
  uint32_t* r;
  IntSink from(int64_t i) const { return {r + i}; }
  void put(int64_t i, uint32_t x) const { r[i] = x; }
  template <int W>
  [[gnu::always_inline]] void putv(int64_t i, typename Lanes<W>::U x) const {
    std::memcpy(r + i, &x, sizeof x);
  }
};

// u = (x >> 1)·2^-31 is exact and scale holds (b - a)·2^-31, so (x >> 1)·scale + a rounds like
// a + (b - a)·u; floats round that double once.
template <class T>
struct RealSink {
  T* r;
  double scale, offset;
  RealSink from(int64_t i) const { return {r + i, scale, offset}; }
  void put(int64_t i, uint32_t x) const {
    r[i] = static_cast<T>(static_cast<double>(x >> 1) * scale + offset);
  }
  template <int W>
  [[gnu::always_inline]] void putv(int64_t i, typename Lanes<W>::U x) const {
    using L = Lanes<W>;
    const typename L::D d =
        __builtin_convertvector(reinterpret_cast<typename L::I>(x >> 1), typename L::D) * scale + offset;
    if constexpr (sizeof(T) == 8) {
      std::memcpy(r + i, &d, sizeof d);
    } else {
      const typename L::F f = __builtin_convertvector(d, typename L::F);
      std::memcpy(r + i, &f, sizeof f);
    }
  }
};

inline int32_t ctz(uint64_t c) {
  return __builtin_ctzll(c);
}

// One request, or a slice of it: n elements from point c, coordinate p on, of which only coordinates
// j0 .. j1-1 are written (threads split by slices); x is the point, rows the direction numbers.
struct Walk {
  uint32_t* x;
  const uint32_t* rows;
  int32_t d;
  uint64_t c;
  int32_t p;
  int64_t n;
  int32_t j0, j1;
};

// Coordinates j .. end-1 of one point: x[j] ^= v[j], delivered at o + j; the tail in half widths.
template <int W, class Sink>
[[gnu::always_inline]] inline void row(uint32_t* x, const uint32_t* v, int32_t j, int32_t end, int64_t o,
                                       const Sink& out) {
  using U = typename Lanes<W>::U;
  for (; j + W <= end; j += W) {
    U a, b;
    std::memcpy(&a, x + j, sizeof a);
    std::memcpy(&b, v + j, sizeof b);
    a ^= b;
    std::memcpy(x + j, &a, sizeof a);
    out.template putv<W>(o + j, a);
  }
  if constexpr (W > 4) {
    row<W / 2>(x, v, j, end, o, out);
    return;
  }
  for (; j < end; ++j) {
    x[j] ^= v[j];
    out.put(o + j, x[j]);
  }
}

// Coordinate k of n successive points from point c, x holding it for point c - 1. Points W·m + t
// (t < W) are point W·m XOR the sum of the numbers of t's Gray-code bits, so a block of W points
// is one broadcast XOR a constant vector.
template <int W, class Sink>
[[gnu::always_inline]] inline void column(uint32_t& xk, const uint32_t* rows, int32_t d, int32_t k,
                                          uint64_t c, int64_t n, const Sink& out) {
  using U = typename Lanes<W>::U;
  uint32_t x = xk;
  int64_t i = 0;
  for (; i < n && c % W != 0; ++i, ++c) {
    x ^= rows[static_cast<int64_t>(ctz(c)) * d + k];
    out.put(i, x);
  }
  if (n - i >= W) {
    U offsets;
    for (int t = 0; t < W; ++t) {
      uint32_t s = 0;
      for (uint32_t g = t ^ (t >> 1), b = 0; g != 0; g >>= 1, ++b)
        if (g & 1) s ^= rows[static_cast<int64_t>(b) * d + k];
      offsets[t] = s;
    }
    for (; n - i >= W; i += W, c += W) {
      const U block = offsets ^ (x ^ rows[static_cast<int64_t>(ctz(c)) * d + k]);
      out.template putv<W>(i, block);
      x = block[W - 1];
    }
  }
  for (; i < n; ++i, ++c) {
    x ^= rows[static_cast<int64_t>(ctz(c)) * d + k];
    out.put(i, x);
  }
  xk = x;
}

// Point after point, the coordinates of each side by side.
template <int W, class Sink>
[[gnu::always_inline]] inline void points(const Walk& w, const Sink& out) {
  uint64_t point = w.c;
  int32_t lo = w.p;
  for (int64_t e = 0; e < w.n; ++point) {
    const int32_t hi = static_cast<int32_t>(std::min<int64_t>(w.d, lo + (w.n - e)));
    row<W>(w.x, w.rows + static_cast<int64_t>(ctz(point)) * w.d, std::max(lo, w.j0), std::min(hi, w.j1),
           e - lo, out);
    e += hi - lo;
    lo = 0;
  }
}

// Dimensions up to this many go by blocks of W whole points.
constexpr int32_t kBlockDims = 16;

// n / (W·d) blocks of W points from point c, c a multiple of W: the block is W·d words, point t of
// it the block's first point XOR the numbers of t's Gray-code bits, and the first point of block m+1
// the first of block m XOR the numbers of bits lg W + ctz(m + 1) and lg W - 1 (the Gray code of W·m
// is W·g(m), plus W/2 when m is odd). Both are kept replicated over the block, so a block is d
// vectors. Returns the elements written.
template <int W, class Sink>
[[gnu::always_inline]] inline int64_t blocks(uint32_t* x, const uint32_t* rows, int32_t d, uint64_t c,
                                             int64_t n, const Sink& out) {
  using U = typename Lanes<W>::U;
  constexpr int kLg = __builtin_ctz(W);
  const int32_t len = W * d;
  alignas(64) uint32_t step[(kBits - kLg) * W * kBlockDims];
  alignas(64) uint32_t offsets[W * kBlockDims], base[W * kBlockDims];
  for (int32_t t = 0; t < W; ++t)
    for (int32_t j = 0; j < d; ++j) {
      uint32_t s = 0;
      for (uint32_t g = t ^ (t >> 1), b = 0; g != 0; g >>= 1, ++b)
        if (g & 1) s ^= rows[b * d + j];
      offsets[t * d + j] = s;
      // The first step, from point c - 1, has no bit lg W - 1 to undo.
      const uint32_t half = rows[(kLg - 1) * d + j];
      base[t * d + j] = x[j] ^ half;
      for (int32_t b = kLg; b < kBits; ++b) step[(b - kLg) * len + t * d + j] = rows[b * d + j] ^ half;
    }
  const int64_t count = n / len;
  for (int64_t k = 0; k < count; ++k, c += W) {
    const uint32_t* add = step + (ctz(c) - kLg) * len;
    for (int32_t i = 0; i < len; i += W) {
      U b, a, o;
      std::memcpy(&b, base + i, sizeof b);
      std::memcpy(&a, add + i, sizeof a);
      std::memcpy(&o, offsets + i, sizeof o);
      b ^= a;
      std::memcpy(base + i, &b, sizeof b);
      out.template putv<W>(k * len + i, b ^ o);
    }
  }
  if (count > 0)
    for (int32_t j = 0; j < d; ++j) x[j] = base[(W - 1) * d + j] ^ offsets[(W - 1) * d + j];
  return count * len;
}

template <int W, class Sink>
[[gnu::always_inline]] inline void walk(const Walk& w, const Sink& out) {
  if (w.d == 1) {
    column<W>(w.x[0], w.rows, 1, 0, w.c, w.n, out);
    return;
  }
  // Blocks pay for their tables beyond some 32 of them.
  if (w.d > kBlockDims || w.j0 != 0 || w.j1 != w.d || w.n < 32 * W * w.d) {
    points<W>(w, out);
    return;
  }
  // Up to the first point that starts a block, the blocks, then the rest.
  Walk lead = w;
  const uint64_t first = w.c + (w.p > 0) + (W - (w.c + (w.p > 0)) % W) % W;
  lead.n = static_cast<int64_t>(first - w.c) * w.d - w.p;
  points<W>(lead, out);
  const int64_t done = lead.n + blocks<W>(w.x, w.rows, w.d, first, w.n - lead.n, out.from(lead.n));
  Walk rest = w;
  rest.c = first + static_cast<uint64_t>((done - lead.n) / w.d);
  rest.p = 0;
  rest.n = w.n - done;
  points<W>(rest, out.from(done));
}

template <class Sink>
void walk_sse41(const Walk& w, const Sink& out) {
  walk<4>(w, out);
}
template <class Sink>
__attribute__((target("avx2"))) void walk_avx2(const Walk& w, const Sink& out) {
  walk<8>(w, out);
}
template <class Sink>
__attribute__((target("avx512f,avx512vl,avx512dq,avx512bw"))) void walk_avx512(const Walk& w,
                                                                               const Sink& out) {
  walk<16>(w, out);
}
template <class Sink>
void column_sse41(uint32_t& x, const uint32_t* rows, int32_t d, int32_t k, uint64_t c, int64_t n,
                  const Sink& out) {
  column<4>(x, rows, d, k, c, n, out);
}
template <class Sink>
__attribute__((target("avx2"))) void column_avx2(uint32_t& x, const uint32_t* rows, int32_t d, int32_t k,
                                                 uint64_t c, int64_t n, const Sink& out) {
  column<8>(x, rows, d, k, c, n, out);
}
template <class Sink>
__attribute__((target("avx512f,avx512vl,avx512dq,avx512bw"))) void column_avx512(
    uint32_t& x, const uint32_t* rows, int32_t d, int32_t k, uint64_t c, int64_t n, const Sink& out) {
  column<16>(x, rows, d, k, c, n, out);
}

template <class Sink>
void walk_isa(const Walk& w, const Sink& out) {
  switch (block_isa()) {
    case BlockIsa::kAvx512:
      walk_avx512(w, out);
      break;
    case BlockIsa::kAvx2:
      walk_avx2(w, out);
      break;
    default:
      walk_sse41(w, out);
  }
}

// One 32-dimension slice of all requested points per item.
template <class Sink>
struct SliceJob {
  Walk w;
  Sink out;
  static void run(int64_t item, int, int, void* context) {
    const auto* job = static_cast<const SliceJob*>(context);
    Walk w = job->w;
    w.j0 = static_cast<int32_t>(item * kSlice);
    w.j1 = std::min(w.d, w.j0 + kSlice);
    walk_isa(w, job->out);
  }
};

Fields& fields(StreamRecord* stream) {
  return state_of<Fields>(stream);
}
uint32_t* words(StreamRecord* stream) {
  return &state_of<uint32_t>(stream);
}

const StreamChunk* find_chunk(const StreamRecord* stream, int32_t id) {
  for (const StreamChunk* c = stream->chunks; c != nullptr; c = c->next)
    if (c->id == id) return c;
  return nullptr;
}

struct Tables {
  uint32_t* point;
  const uint32_t* rows;
};

// The stream's point and table, or false when its fields do not fit them (a record that only a
// foreign image or a caller writing into it can make).
bool tables(StreamRecord* stream, const Family& f, Tables& t) {
  const Fields& fl = fields(stream);
  const int64_t d = fl.dim;
  if (d < 1 || fl.counter < 1 || fl.pos < 0 || fl.pos >= d || fl.coord < -1 || fl.coord >= d) return false;
  const StreamChunk* table = find_chunk(stream, f.table_chunk);
  const StreamChunk* point = f.point_chunk != 0 ? find_chunk(stream, f.point_chunk) : nullptr;
  if (table != nullptr && (f.point_chunk == 0 || point != nullptr)) {
    if (table->data == nullptr || table->size < kBits * 4 * d) return false;
    if (point != nullptr) {
      if (point->data == nullptr || point->size < 4 * d) return false;
      t.point = static_cast<uint32_t*>(point->data);
    } else {
      if (d > f.builtin_max) return false;
      t.point = words(stream) + 4;
    }
    t.rows = static_cast<const uint32_t*>(table->data);
    return true;
  }
  if (d > f.builtin_max) return false;
  t.point = words(stream) + 4;
  t.rows = t.point + d;
  return true;
}

}  // namespace

bool state_fits(StreamRecord* stream) {
  const int32_t id = stream->brng;
  const bool sobol = id == ZOK_RNG_SOBOL || id == 277;
  if (!sobol && id != ZOK_RNG_NIEDERR && id != 278) return false;
  Tables t;
  return tables(stream, sobol ? kSobol : kNiederr, t);
}

namespace {

// The point for counter c and position p from the Gray codes of c and c - 1.
void recompute(uint32_t* x, const uint32_t* rows, int32_t d, uint64_t c, int32_t p) {
  const uint64_t now = c ^ (c >> 1), before = (c - 1) ^ ((c - 1) >> 1);
  for (int32_t j = 0; j < d; ++j) {
    uint32_t s = 0;
    for (uint64_t g = j < p ? now : before, b = 0; g != 0; g >>= 1, ++b)
      if (g & 1) s ^= rows[b * d + j];
    x[j] = s;
  }
}

template <class Sink>
int32_t run(StreamRecord* stream, const Family& f, int32_t n, const Sink& out) {
  if (n <= 0) return ZOK_RNG_STATUS_OK;
  Fields& fl = fields(stream);
  if (fl.counter + static_cast<uint64_t>(n) > kLastCounter) return ZOK_RNG_ERROR_COUNTER_LIMIT;
  Tables t;
  if (!tables(stream, f, t)) return ZOK_RNG_ERROR_BAD_ARGUMENT;
  const int32_t d = fl.dim;
  if (fl.coord >= 0) {
    const BlockIsa isa = block_isa();
    if (isa == BlockIsa::kAvx512)
      column_avx512(t.point[fl.coord], t.rows, d, fl.coord, fl.counter, n, out);
    else if (isa == BlockIsa::kAvx2)
      column_avx2(t.point[fl.coord], t.rows, d, fl.coord, fl.counter, n, out);
    else
      column_sse41(t.point[fl.coord], t.rows, d, fl.coord, fl.counter, n, out);
    fl.counter += static_cast<uint32_t>(n);
    return ZOK_RNG_STATUS_OK;
  }
  const Walk w{t.point, t.rows, d, fl.counter, fl.pos, n, 0, d};
  if (d > kSlice && n / d > kThreadPoints && (d >= 64 || d % kSlice == 0)) {
    using Limit = int (*)();
    using For = void (*)(int64_t, int, void*, ZokLoopBody);
    const auto limit =
        reinterpret_cast<Limit>(zok_serv_load_thread_fun("zok_qor_serv_threader_get_num_threads_limit"));
    const auto loop = reinterpret_cast<For>(zok_serv_load_thread_fun("zok_qor_serv_threader_for"));
    if (limit != nullptr && loop != nullptr && limit() > 1) {
      SliceJob<Sink> job{w, out};
      loop((d + kSlice - 1) / kSlice, 0, &job, &SliceJob<Sink>::run);
    } else {
      walk_isa(w, out);
    }
  } else {
    walk_isa(w, out);
  }
  const int64_t through = fl.pos + static_cast<int64_t>(n);
  fl.counter += static_cast<uint32_t>(through / d);
  fl.pos = static_cast<int32_t>(through % d);
  return ZOK_RNG_STATUS_OK;
}

}  // namespace

uint32_t* allocate_rows(int32_t d) {
  return static_cast<uint32_t*>(zok_serv_allocate(sizeof(uint32_t) * kBits * d, kAlign));
}

void start_builtin(StreamRecord* stream, const Family& f, int32_t d, const uint32_t* cols) {
  __qorDeleteChunksById(stream, f.table_chunk);
  if (f.point_chunk != 0) __qorDeleteChunksById(stream, f.point_chunk);
  uint32_t* w = words(stream);
  fields(stream) = Fields{1, d, -1, 0};
  std::memset(w + 4, 0, sizeof(uint32_t) * d);
  for (int32_t j = 0; j < d; ++j) put_column(cols + static_cast<int64_t>(j) * kBits, d, j, w + 4 + d);
}

int32_t start_user(StreamRecord* stream, const Family& f, int32_t d, uint32_t* rows) {
  __qorDeleteChunksById(stream, f.table_chunk);
  if (f.point_chunk != 0) __qorDeleteChunksById(stream, f.point_chunk);
  uint32_t* point = words(stream) + 4;
  if (f.point_chunk != 0) {
    point = static_cast<uint32_t*>(zok_serv_allocate(sizeof(uint32_t) * d, kAlign));
    if (point == nullptr) {
      zok_serv_deallocate(rows);
      return ZOK_RNG_ERROR_MEMORY;
    }
  }
  uint64_t key[2] = {0, 0};
  if (f.shared_table) __qorGenerateNewGlobalRODataTableEntryId(key, static_cast<uint64_t>(f.table_chunk));
  int32_t status = __qorAddChunk(stream, f.table_chunk, key, rows, kBits * 4 * d);
  if (status != ZOK_RNG_STATUS_OK) {
    zok_serv_deallocate(rows);
    if (f.point_chunk != 0) zok_serv_deallocate(point);
  } else if (f.point_chunk != 0) {
    status = __qorAddChunk(stream, f.point_chunk, nullptr, point, 4 * d);
    if (status != ZOK_RNG_STATUS_OK) zok_serv_deallocate(point);
  }
  if (status != ZOK_RNG_STATUS_OK) {
    uint32_t first[kBits];
    for (int32_t b = 0; b < kBits; ++b) first[b] = 0x80000000u >> b;
    start_builtin(stream, f, 1, first);
    return status;
  }
  fields(stream) = Fields{1, d, -1, 0};
  std::memset(point, 0, sizeof(uint32_t) * d);
  return ZOK_RNG_STATUS_OK;
}

int32_t start_table(StreamRecord* stream, const Family& f, int32_t d, const uint32_t* cols) {
  return start_columns(stream, f, d, [&](int32_t j, uint32_t* col) {
    std::memcpy(col, cols + static_cast<int64_t>(j) * kBits, sizeof(uint32_t) * kBits);
  });
}

int32_t init(const Family& f, int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params,
             int32_t (*seed)(StreamRecord*, int32_t, const uint32_t*)) {
  switch (method) {
    case ZOK_RNG_METHOD_SEED:
      return seed(stream, n, params);
    case ZOK_RNG_METHOD_LEAPFROG:
      return leapfrog(stream, f, n, params[0]);
    case ZOK_RNG_METHOD_SKIP:
      return skip(stream, f, skip_count(params));
    default:
      return ZOK_RNG_ERROR_METHOD;
  }
}

int32_t leapfrog(StreamRecord* stream, const Family& f, int32_t nstreams, uint32_t k) {
  Fields& fl = fields(stream);
  if (nstreams != 0x7FFFFFFF || k >= static_cast<uint32_t>(fl.dim)) return ZOK_RNG_ERROR_NO_LEAPFROG;
  Tables t;
  if (!tables(stream, f, t)) return ZOK_RNG_ERROR_BAD_ARGUMENT;
  // A point already begun is left behind.
  const uint64_t c = fl.counter + (fl.pos > 0 ? 1u : 0u);
  if (c > kLastCounter) return ZOK_RNG_ERROR_COUNTER_LIMIT;
  fl.counter = static_cast<uint32_t>(c);
  fl.pos = 0;
  fl.coord = static_cast<int32_t>(k);
  recompute(t.point, t.rows, fl.dim, c, 0);
  return ZOK_RNG_STATUS_OK;
}

int32_t skip(StreamRecord* stream, const Family& f, uint64_t s) {
  Fields& fl = fields(stream);
  Tables t;
  if (!tables(stream, f, t)) return ZOK_RNG_ERROR_BAD_ARGUMENT;
  // In coordinate mode an element is a point.
  const uint64_t d = fl.coord >= 0 ? 1 : static_cast<uint64_t>(fl.dim);
  uint64_t points = s / d, pos = fl.pos + s % d;
  if (pos >= d) {
    pos -= d;
    ++points;
  }
  if (points > kLastCounter - fl.counter) return ZOK_RNG_ERROR_COUNTER_LIMIT;
  fl.counter += static_cast<uint32_t>(points);
  fl.pos = static_cast<int32_t>(pos);
  recompute(t.point, t.rows, fl.dim, fl.counter, fl.pos);
  return ZOK_RNG_STATUS_OK;
}

int32_t generate(StreamRecord* stream, const Family& f, int32_t n, uint32_t* r) {
  return run(stream, f, n, IntSink{r});
}
int32_t generate(StreamRecord* stream, const Family& f, int32_t n, double* r, double a, double b) {
  return run(stream, f, n, RealSink<double>{r, (b - a) * 0x1p-31, a});
}
int32_t generate(StreamRecord* stream, const Family& f, int32_t n, float* r, double a, double b) {
  return run(stream, f, n, RealSink<float>{r, (b - a) * 0x1p-31, a});
}

}  // namespace zok::rng::quasi
