// MRG32K3A: two three-term recurrences modulo m1 = 2^32 - 209 and m2 = 2^32 - 22853 whose difference
// mod m1 is the output; long requests run 16 lanes, each from a jump of the state over its stretch.
#include <smmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "streams/generators/generator_common.h"
#include "streams/generators/modular.h"
#include "streams/generators/mrg32k3a_lanes.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

using namespace mrg32k3a;

static_assert(sizeof(MrgState) == 24 && offsetof(MrgState, y) == 12);

// x_n = (a12·x_{n-2} - a13·x_{n-3}) mod m1; the a13 term is taken as a13·(m1 - x) to stay positive,
// and 2^32 ≡ 209 (mod m1) folds the high word back in; the sum is below 2^54, so after one fold it
// is below 2^32 + 2^30 < 2·m1 and one subtraction ends the reduction.
inline uint32_t next_x(const uint32_t* x) {
  uint64_t p = kA12 * x[1] + kA13 * (kM1 - x[0]);
  p = (p & 0xFFFFFFFF) + (p >> 32) * 209;
  return static_cast<uint32_t>(p >= kM1 ? p - kM1 : p);
}

// y_n = (a21·y_{n-1} - a23·y_{n-3}) mod m2 with 2^32 ≡ 22853 (mod m2): two folds bring the sum
// below 2^32 + 16·22853 < 2·m2.
inline uint32_t next_y(const uint32_t* y) {
  uint64_t p = kA21 * y[2] + kA23 * (kM2 - y[0]);
  p = (p & 0xFFFFFFFF) + (p >> 32) * 22853;
  p = (p & 0xFFFFFFFF) + (p >> 32) * 22853;
  return static_cast<uint32_t>(p >= kM2 ? p - kM2 : p);
}

inline uint32_t step(MrgState& st) {
  const uint32_t xn = next_x(st.x), yn = next_y(st.y);
  st.x[0] = st.x[1];
  st.x[1] = st.x[2];
  st.x[2] = xn;
  st.y[0] = st.y[1];
  st.y[1] = st.y[2];
  st.y[2] = yn;
  return xn >= yn ? xn - yn : static_cast<uint32_t>(xn + (kM1 - yn));
}

// The state is copied in and out: the output may be written through a pointer of the state's type.
template <class Out>
void generate_serial(MrgState& st, int64_t first, int64_t n, const Out out) {
  MrgState s = st;
  for (int64_t i = 0; i < n; ++i) out.put(first + i, step(s));
  st = s;
}

// Powers A^(2^k) of both companion matrices, k = 0..30, made at compile time.
struct JumpTable {
  Mat3 x[31], y[31];
};
constexpr JumpTable make_jumps() {
  JumpTable t{};
  t.x[0] = companion(0, static_cast<uint32_t>(kA12), static_cast<uint32_t>(kM1 - kA13));
  t.y[0] = companion(static_cast<uint32_t>(kA21), 0, static_cast<uint32_t>(kM2 - kA23));
  for (int k = 1; k < 31; ++k) {
    t.x[k] = mat3_mul(t.x[k - 1], t.x[k - 1], FixedModulus<kM1>{});
    t.y[k] = mat3_mul(t.y[k - 1], t.y[k - 1], FixedModulus<kM2>{});
  }
  return t;
}
constexpr JumpTable kJumps = make_jumps();

// Lane j covers elements j·L .. j·L + L - 1, so its state is the stream's state jumped by j·L.
template <class Out>
void generate(MrgState& st, int32_t n, const Out out) {
  if (n < kBlockMin) {
    generate_serial(st, 0, n, out);
    return;
  }
  const int64_t len = n / kLanes;
  Mat3 jx = mat3_identity(), jy = mat3_identity();
  for (int k = 0; k < 31; ++k)
    if ((len >> k) & 1) {
      jx = mat3_mul(jx, kJumps.x[k], FixedModulus<kM1>{});
      jy = mat3_mul(jy, kJumps.y[k], FixedModulus<kM2>{});
    }
  MrgState lanes[kLanes];
  lanes[0] = st;
  for (int j = 1; j < kLanes; ++j) {
    lanes[j] = lanes[j - 1];
    mat3_apply(jx, lanes[j].x, FixedModulus<kM1>{});
    mat3_apply(jy, lanes[j].y, FixedModulus<kM2>{});
  }
  // The last lane ends where the stream continues.
  if (block_isa() >= BlockIsa::kAvx2)
    run_lanes_avx2(lanes, len, out);
  else
    run_lanes_sse41(lanes, len, out);
  st = lanes[kLanes - 1];
  generate_serial(st, kLanes * len, n - kLanes * len, out);
}

// Continuous output: short requests element by element; long ones produce their words in the
// caller's array, then convert them there (see words_in_place).
template <class T>
void generate_real(MrgState& st, int32_t n, T* r, double scale, double offset) {
  if (n < kBlockMin) {
    MrgState s = st;
    for (int32_t i = 0; i < n; ++i) r[i] = real_of<T>(step(s), scale, offset);
    st = s;
    return;
  }
  uint32_t* z = words_in_place(r, n);
  generate(st, n, LaneIntOut{z});
  convert_in_place(z, r, n, scale, offset);
}

struct Mrg32k3a {
  using State = MrgState;
  static int32_t ints(StreamRecord* stream, int32_t n, uint32_t* r) {
    generate(state_of<State>(stream), n, LaneIntOut{r});
    return ZOK_RNG_STATUS_OK;
  }
  template <class T>
  static int32_t reals(StreamRecord* stream, int32_t n, T* r, double a, double b) {
    generate_real(state_of<State>(stream), n, r, (b - a) * kNorm, a);
    return ZOK_RNG_STATUS_OK;
  }
};

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qorBRngMRG32K3AInitStream(int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params) {
  if (method == ZOK_RNG_METHOD_LEAPFROG) return ZOK_RNG_ERROR_NO_LEAPFROG;
  MrgState& st = state_of<MrgState>(stream);
  if (method == ZOK_RNG_METHOD_SKIP) {
    const uint64_t s = skip_count(params);
    const uint32_t cx[3] = {0, static_cast<uint32_t>(kA12), static_cast<uint32_t>(kM1 - kA13)};
    const uint32_t cy[3] = {static_cast<uint32_t>(kA21), 0, static_cast<uint32_t>(kM2 - kA23)};
    __qoriVect3PowMod(st.x, cx, static_cast<uint32_t>(kM1), s);
    __qoriVect3PowMod(st.y, cy, static_cast<uint32_t>(kM2), s);
    return ZOK_RNG_STATUS_OK;
  }
  if (method != ZOK_RNG_METHOD_SEED) return ZOK_RNG_ERROR_METHOD;
  uint32_t seeds[6] = {1, 1, 1, 1, 1, 1};
  for (int32_t k = 0; k < n && k < 6; ++k) seeds[k] = params[k];
  for (int k = 0; k < 3; ++k) {
    st.x[k] = seeds[k] >= kM1 ? static_cast<uint32_t>(seeds[k] - kM1) : seeds[k];
    st.y[k] = seeds[k + 3] >= kM2 ? static_cast<uint32_t>(seeds[k + 3] - kM2) : seeds[k + 3];
  }
  // An all-zero component would stay zero for ever.
  if ((st.x[0] | st.x[1] | st.x[2]) == 0) st.x[0] = 1;
  if ((st.y[0] | st.y[1] | st.y[2]) == 0) st.y[0] = 1;
  return ZOK_RNG_STATUS_OK;
}

}  // extern "C"

ZOK_GENERATOR_ENTRIES(MRG32K3A, Mrg32k3a)
