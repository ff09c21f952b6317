// MT19937: the 624-word twisted shift register with its tempering, seeded by init-by-array, and
// its skip-ahead by the jump engine over the characteristic polynomial of one word's step.
#include <smmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "streams/generators/generator_common.h"
#include "streams/generators/mt_jump_polys.h"
#include "streams/generators/twister.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

using Mt = Twister<624, 397, 0x80000000u>;
constexpr int N = Mt::N;
constexpr uint32_t kTwist = 0x9908B0DFu;
constexpr Tempering kTemper{11, 0x9D2C5680u, 0xEFC60000u};

struct Mt19937State {
  uint32_t mt[N];
  uint32_t index;   // the next word to deliver; N when the block is used up
  uint32_t unused;  // pads the record to its listed size
};
static_assert(offsetof(Mt19937State, index) == 2496 && sizeof(Mt19937State) == 2504);

// Floats are computed in single precision: the word rounded to float, times (b - a)·2^-32 rounded
// to float, plus a. The word converts as hi·2^16 + lo, both halves exact, so it is rounded once.
struct Mt19937FloatOut {
  float* r;
  float scale, a;
  void put(int64_t i, uint32_t v) const { r[i] = static_cast<float>(v) * scale + a; }
  void put4(int64_t i, __m128i v) const {
    const __m128 hi = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(v, 16)), _mm_set1_ps(65536.0f));
    const __m128 lo = _mm_cvtepi32_ps(_mm_and_si128(v, _mm_set1_epi32(0xFFFF)));
    const __m128 x = _mm_add_ps(hi, lo);
    _mm_storeu_ps(r + i, _mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(scale)), _mm_set1_ps(a)));
  }
  __attribute__((target("avx2"))) void put8(int64_t i, __m256i v) const {
    const __m256 hi = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(v, 16)), _mm256_set1_ps(65536.0f));
    const __m256 lo = _mm256_cvtepi32_ps(_mm256_and_si256(v, _mm256_set1_epi32(0xFFFF)));
    const __m256 x = _mm256_add_ps(hi, lo);
    _mm256_storeu_ps(r + i, _mm256_add_ps(_mm256_mul_ps(x, _mm256_set1_ps(scale)), _mm256_set1_ps(a)));
  }
};

struct Mt19937 {
  using State = Mt19937State;
  template <class Out>
  static int32_t run(StreamRecord* stream, int32_t n, const Out out) {
    State& st = state_of<State>(stream);
    twister_generate<Mt>(st.mt, st.index, kTwist, kTemper, n, out);
    return ZOK_RNG_STATUS_OK;
  }
  static int32_t ints(StreamRecord* stream, int32_t n, uint32_t* r) { return run(stream, n, IntOut{r}); }
  // From AVX2 on, whole buffers of words convert at once: converting them straight from the register
  // breaks the vectors at every block's end and keeps the tempering and the conversion in one loop.
  static int32_t reals(StreamRecord* stream, int32_t n, double* r, double a, double b) {
    const double scale = (b - a) * 0x1p-32;
    if (block_isa() < BlockIsa::kAvx2) return run(stream, n, DoubleOut{r, scale, a});
    State& st = state_of<State>(stream);
    twister_doubles<Mt>(
        st.mt, st.index, kTwist, kTemper, n, r,
        [=](const uint32_t* w, int64_t m, double* out) { unsigned_to_real(w, m, out, scale, a); });
    return ZOK_RNG_STATUS_OK;
  }
  static int32_t reals(StreamRecord* stream, int32_t n, float* r, double a, double b) {
    const auto fa = static_cast<float>(a), fb = static_cast<float>(b);
    return run(stream, n, Mt19937FloatOut{r, (fb - fa) * 0x1p-32f, fa});
  }
};

// The jump engine's view of the register: a ring whose oldest word is mt[index]. One step replaces
// that word by the next one of the sequence.
void ring_step(void* p) {
  auto& s = *static_cast<Mt19937State*>(p);
  const uint32_t i = s.index;
  const uint32_t next = i + 1 == N ? 0 : i + 1;
  const uint32_t far = i + Mt::M < N ? i + Mt::M : i + Mt::M - N;
  s.mt[i] = Mt::twist(s.mt[i], s.mt[next], s.mt[far], kTwist);
  s.index = next;
}

// Rings are added word by word from their oldest words on.
void ring_add(void* dst, const void* src) {
  auto& d = *static_cast<Mt19937State*>(dst);
  const auto& s = *static_cast<const Mt19937State*>(src);
  uint32_t a = d.index, b = s.index;
  for (int left = N; left > 0;) {
    int run = left;
    if (run > static_cast<int>(N - a)) run = static_cast<int>(N - a);
    if (run > static_cast<int>(N - b)) run = static_cast<int>(N - b);
    for (int k = 0; k < run; ++k) d.mt[a + k] ^= s.mt[b + k];
    a = a + run == N ? 0 : a + run;
    b = b + run == N ? 0 : b + run;
    left -= run;
  }
}

// Advances a ring by s >= 1 steps: by x^(s-1) mod phi and one plain step. The characteristic
// polynomial describes the 19937 bits that matter; the 31 low bits of the oldest word, which no
// later word reads, follow it only after a step, so the final step makes the state exact.
int32_t advance_ring(Mt19937State& ring, uint64_t s) {
  uint64_t g[(kMt19937JumpDegree + 64) / 64];
  int32_t status = __qorPolyRem(s - 1, kMt19937JumpDegree, kMt19937JumpTerms, kMt19937JumpExponents, g);
  if (status != ZOK_RNG_STATUS_OK) return status;
  const auto size = static_cast<int32_t>(sizeof ring);
  status = s - 1 < static_cast<uint64_t>(kMt19937JumpDegree)
               ? __qor_SkipAheadHorner(&ring, size, g, kMt19937JumpDegree, ring_step, ring_add)
               : __qor_SkipAheadSWin(&ring, size, g, kMt19937JumpDegree, ring_step, ring_add);
  if (status == ZOK_RNG_STATUS_OK) ring_step(&ring);
  return status;
}

int32_t skip_ahead(Mt19937State& st, uint64_t s) {
  const uint32_t index = st.index < N ? st.index : N;
  if (s <= N - index) {
    st.index = index + static_cast<uint32_t>(s);
    return ZOK_RNG_STATUS_OK;
  }
  s -= N - index;
  // With the block used up the register holds the last 624 words, oldest first: a ring at 0. The
  // engine leaves the state as it was when it fails.
  st.index = 0;
  const int32_t status = advance_ring(st, s);
  if (status != ZOK_RNG_STATUS_OK) {
    st.index = index;
    return status;
  }
  // Back to a used-up block, oldest word first.
  std::rotate(st.mt, st.mt + st.index, st.mt + N);
  st.index = N;
  return ZOK_RNG_STATUS_OK;
}

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" int32_t __qorBRngMT19937InitStream(int32_t method, StreamRecord* stream, int32_t n,
                                              const uint32_t* params) {
  Mt19937State& st = state_of<Mt19937State>(stream);
  auto seed = [&] {
    twister_seed<N>(st.mt, n, params);
    st.index = N;
  };
  return seed_or_skip(method, params, seed, [&](uint64_t s) { return skip_ahead(st, s); });
}

ZOK_GENERATOR_ENTRIES(MT19937, Mt19937)
