// SFMT19937: the SIMD-oriented twisted register of 156 128-bit words, seeded by its init-by-array
// with period certification; long requests are produced in the caller's array, and skip-ahead goes
// through the jump engine over the characteristic polynomial of one 128-bit step.
#include <smmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "streams/generators/generator_common.h"
#include "streams/generators/mt_jump_polys.h"
#include "streams/generators/twister.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

constexpr int kWords = 156;           // 128-bit words in the register
constexpr int kWords32 = 4 * kWords;  // 624
constexpr int kPos1 = 122;
constexpr int kSl1 = 18, kSl2 = 1, kSr1 = 11, kSr2 = 1;  // bits of each lane; bytes of the word
constexpr uint32_t kMask[4] = {0xDFFFFFEFu, 0xDDFECB7Fu, 0xBFFAFFFFu, 0xBFFFFFF6u};
constexpr uint32_t kParity[4] = {0x00000001u, 0x00000000u, 0x00000000u, 0x13C9E684u};

// Behind the header: the register, 16 bytes kept zero, then the two position fields.
struct SfmtState {
  uint32_t w[kWords32];  // 16-byte aligned: the record is 128-byte aligned and the header 16 bytes
  uint32_t reserved[4];
  uint32_t left;  // words of the register not yet delivered; 0 after seeding (regenerate first)
  uint32_t ring;  // the jump engine's ring position of the oldest 128-bit word; 0 in a stream
};
static_assert(offsetof(SfmtState, left) == 2512 && offsetof(SfmtState, ring) == 2516 &&
              sizeof(SfmtState) == 2520);

inline __m128i* words(SfmtState& st) {
  return reinterpret_cast<__m128i*>(st.w);
}

inline __m128i recursion(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kMask));
  __m128i r = _mm_xor_si128(a, _mm_slli_si128(a, kSl2));
  r = _mm_xor_si128(r, _mm_and_si128(_mm_srli_epi32(b, kSr1), mask));
  r = _mm_xor_si128(r, _mm_srli_si128(c, kSr2));
  return _mm_xor_si128(r, _mm_slli_epi32(d, kSl1));
}

inline __m128i load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
inline void store(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

void regenerate(SfmtState& st) {
  __m128i* w = words(st);
  __m128i r1 = w[kWords - 2], r2 = w[kWords - 1];
  int i = 0;
  for (; i < kWords - kPos1; ++i) {
    w[i] = recursion(w[i], w[i + kPos1], r1, r2);
    r1 = r2;
    r2 = w[i];
  }
  for (; i < kWords; ++i) {
    w[i] = recursion(w[i], w[i + kPos1 - kWords], r1, r2);
    r1 = r2;
    r2 = w[i];
  }
}

// m >= 156 128-bit words straight into out (any alignment); the register becomes the last 156 of
// them, a used-up block.
void generate_into(SfmtState& st, uint32_t* out, int64_t m) {
  __m128i* w = words(st);
  auto at = [out](int64_t i) { return out + 4 * i; };
  __m128i r1 = w[kWords - 2], r2 = w[kWords - 1];
  int64_t i = 0;
  for (; i < kWords - kPos1; ++i) {
    r1 = std::exchange(r2, recursion(w[i], w[i + kPos1], r1, r2));
    store(at(i), r2);
  }
  for (; i < kWords; ++i) {
    r1 = std::exchange(r2, recursion(w[i], load(at(i + kPos1 - kWords)), r1, r2));
    store(at(i), r2);
  }
  for (; i < m; ++i) {
    r1 = std::exchange(r2, recursion(load(at(i - kWords)), load(at(i + kPos1 - kWords)), r1, r2));
    store(at(i), r2);
  }
  std::memcpy(st.w, at(m - kWords), sizeof st.w);
}

void generate_words(SfmtState& st, int32_t n, uint32_t* r) {
  uint32_t left = st.left < kWords32 ? st.left : kWords32;
  for (int32_t i = 0; i < n;) {
    if (left == 0) {
      const int64_t whole = (n - i) / 4;
      if (whole >= kWords) {
        generate_into(st, r + i, whole);
        i += static_cast<int32_t>(4 * whole);
        continue;
      }
      regenerate(st);
      left = kWords32;
    }
    const int32_t take = std::min<int32_t>(n - i, static_cast<int32_t>(left));
    std::memcpy(r + i, st.w + (kWords32 - left), sizeof(uint32_t) * take);
    i += take;
    left -= take;
  }
  st.left = left;
}

struct Sfmt19937 {
  using State = SfmtState;
  static int32_t ints(StreamRecord* stream, int32_t n, uint32_t* r) {
    if (n > 0) generate_words(state_of<State>(stream), n, r);
    return ZOK_RNG_STATUS_OK;
  }
  template <class T>
  static int32_t reals(StreamRecord* stream, int32_t n, T* r, double a, double b) {
    if (n <= 0) return ZOK_RNG_STATUS_OK;
    uint32_t* z = words_in_place(r, n);
    generate_words(state_of<State>(stream), n, z);
    convert_signed_in_place(z, r, n, a, b);
    return ZOK_RNG_STATUS_OK;
  }
};

// The published init-by-array (size 624, lag 11, mid 306) and the period certification.
void seed(SfmtState& st, int32_t n, const uint32_t* key) {
  static const uint32_t kOne = 1;
  if (n < 1) {
    n = 1;
    key = &kOne;
  }
  constexpr uint32_t size = kWords32, lag = 11, mid = (size - lag) / 2;
  auto f1 = [](uint32_t x) { return (x ^ (x >> 27)) * 1664525u; };
  auto f2 = [](uint32_t x) { return (x ^ (x >> 27)) * 1566083941u; };
  uint32_t* w = st.w;
  std::memset(&st, 0, sizeof st);
  std::memset(w, 0x8B, sizeof st.w);
  const int64_t count = std::max<int64_t>(int64_t{n} + 1, size);
  uint32_t r = f1(w[0] ^ w[mid] ^ w[size - 1]);
  w[mid] += r;
  r += static_cast<uint32_t>(n);
  w[mid + lag] += r;
  w[0] = r;
  uint32_t i = 1;
  for (int64_t j = 1; j < count; ++j) {
    r = f1(w[i] ^ w[(i + mid) % size] ^ w[(i + size - 1) % size]);
    w[(i + mid) % size] += r;
    r += (j - 1 < n ? key[j - 1] : 0) + i;
    w[(i + mid + lag) % size] += r;
    w[i] = r;
    i = (i + 1) % size;
  }
  for (uint32_t j = 0; j < size; ++j) {
    r = f2(w[i] + w[(i + mid) % size] + w[(i + size - 1) % size]);
    w[(i + mid) % size] ^= r;
    r -= i;
    w[(i + mid + lag) % size] ^= r;
    w[i] = r;
    i = (i + 1) % size;
  }
  // An odd inner product with the parity words puts the state on the long cycle; otherwise the
  // lowest set parity bit is flipped, which makes it odd.
  uint32_t inner = 0;
  for (int k = 0; k < 4; ++k) inner ^= w[k] & kParity[k];
  if (__builtin_parity(inner)) return;
  for (int k = 0; k < 4; ++k)
    if (kParity[k] != 0) {
      w[k] ^= kParity[k] & (0u - kParity[k]);
      return;
    }
}

// The jump engine's view: a ring of 128-bit words whose oldest is word `ring`; one step replaces it
// by the next word of the sequence.
void ring_step(void* p) {
  auto& st = *static_cast<SfmtState*>(p);
  __m128i* w = words(st);
  const uint32_t i = st.ring;
  const uint32_t b = i + kPos1 < kWords ? i + kPos1 : i + kPos1 - kWords;
  const uint32_t c = i >= 2 ? i - 2 : i + kWords - 2, d = i >= 1 ? i - 1 : kWords - 1;
  w[i] = recursion(w[i], w[b], w[c], w[d]);
  st.ring = i + 1 == kWords ? 0 : i + 1;
}

void ring_add(void* dst, const void* src) {
  auto& d = *static_cast<SfmtState*>(dst);
  const auto& s = *static_cast<const SfmtState*>(src);
  for (uint32_t k = 0, a = d.ring, b = s.ring; k < kWords; ++k) {
    uint32_t* x = d.w + 4 * a;
    const uint32_t* y = s.w + 4 * b;
    store(x, _mm_xor_si128(load(x), load(y)));
    a = a + 1 == kWords ? 0 : a + 1;
    b = b + 1 == kWords ? 0 : b + 1;
  }
}

// Skipping s words: the rest of the block, then whole 128-bit steps by the jump engine (phi is the
// characteristic polynomial of the whole 19968-bit state, so x^q mod phi is exact), then the first
// s mod 4 words of the next block.
int32_t skip_ahead(SfmtState& st, uint64_t s) {
  const uint32_t left = st.left < kWords32 ? st.left : kWords32;
  if (s <= left) {
    st.left = left - static_cast<uint32_t>(s);
    return ZOK_RNG_STATUS_OK;
  }
  s -= left;
  const uint64_t q = s / 4;
  if (q > 0) {
    uint64_t g[(kSfmt19937JumpDegree + 64) / 64];
    int32_t status = __qorPolyRem(q, kSfmt19937JumpDegree, kSfmt19937JumpTerms, kSfmt19937JumpExponents, g);
    if (status != ZOK_RNG_STATUS_OK) return status;
    st.ring = 0;
    const auto size = static_cast<int32_t>(sizeof st);
    status = q < static_cast<uint64_t>(kSfmt19937JumpDegree)
                 ? __qor_SkipAheadHorner(&st, size, g, kSfmt19937JumpDegree, ring_step, ring_add)
                 : __qor_SkipAheadSWin(&st, size, g, kSfmt19937JumpDegree, ring_step, ring_add);
    if (status != ZOK_RNG_STATUS_OK) return status;
    std::rotate(words(st), words(st) + st.ring, words(st) + kWords);
    st.ring = 0;
  }
  st.left = 0;
  if (s % 4 != 0) {
    regenerate(st);
    st.left = kWords32 - static_cast<uint32_t>(s % 4);
  }
  return ZOK_RNG_STATUS_OK;
}

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" int32_t __qorBRngSFMT19937InitStream(int32_t method, StreamRecord* stream, int32_t n,
                                                const uint32_t* params) {
  SfmtState& st = state_of<SfmtState>(stream);
  return seed_or_skip(
      method, params, [&] { seed(st, n, params); }, [&](uint64_t s) { return skip_ahead(st, s); });
}

ZOK_GENERATOR_ENTRIES(SFMT19937, Sfmt19937)
