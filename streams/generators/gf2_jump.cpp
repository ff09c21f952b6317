// The jump engine of the shift-register generators: x^s modulo a characteristic polynomial over
// GF(2), and that remainder applied to a generator state by Horner's rule or a 7-bit sliding window.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zok/core_services.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

constexpr int kAlign = 128;
constexpr int kWindow = 7;

inline int64_t words_of(int32_t degree) {
  return (static_cast<int64_t>(degree) + 64) / 64;
}

inline bool bit(const uint64_t* p, int64_t i) {
  return (p[i >> 6] >> (i & 63)) & 1;
}

// The degree of g, -1 for the zero polynomial.
int64_t top_coefficient(const uint64_t* g, int32_t degree) {
  int64_t top = words_of(degree) * 64 - 1;
  while (top >= 0 && !bit(g, top)) --top;
  return top;
}

// Spreads the 32 bits of x over the even bits of a 64-bit word: squaring over GF(2) is exactly that.
inline uint64_t spread(uint32_t x) {
  uint64_t v = x;
  v = (v | v << 16) & 0x0000FFFF0000FFFFull;
  v = (v | v << 8) & 0x00FF00FF00FF00FFull;
  v = (v | v << 4) & 0x0F0F0F0F0F0F0F0Full;
  v = (v | v << 2) & 0x3333333333333333ull;
  return (v | v << 1) & 0x5555555555555555ull;
}

// dst ^= h · x^pos, h holding k words.
inline void xor_at(uint64_t* dst, int64_t pos, const uint64_t* h, int k) {
  uint64_t* d = dst + (pos >> 6);
  const int sh = static_cast<int>(pos & 63);
  if (sh == 0) {
    for (int i = 0; i < k; ++i) d[i] ^= h[i];
    return;
  }
  for (int i = 0; i < k; ++i) {
    d[i] ^= h[i] << sh;
    d[i + 1] ^= h[i] >> (64 - sh);
  }
}

// Bits pos .. pos+7 of p.
inline unsigned byte_at(const uint64_t* p, int64_t pos) {
  const int64_t w = pos >> 6;
  const int sh = static_cast<int>(pos & 63);
  uint64_t v = p[w] >> sh;
  if (sh > 56) v |= p[w + 1] << (64 - sh);
  return static_cast<unsigned>(v & 0xFF);
}
inline void clear_byte(uint64_t* p, int64_t pos) {
  const int64_t w = pos >> 6;
  const int sh = static_cast<int>(pos & 63);
  p[w] &= ~(uint64_t{0xFF} << sh);
  if (sh > 56) p[w + 1] &= ~(uint64_t{0xFF} >> (64 - sh));
}

// A polynomial φ = x^degree + (terms below) and the reduction of p (bits below 2·degree) modulo it.
// With few terms the high bits are folded down term by term; with many, eight at a time through a
// table of v·(φ - x^degree) for every byte v.
struct Modulus {
  int32_t degree;
  const int32_t* lower;  // exponents below the degree, ascending
  int32_t lower_count;
  int chunk_words;  // high bits folded down at once: few enough that none lands back at or above them
  const uint64_t* table = nullptr;
  int64_t table_words = 0;

  void fill_table(uint64_t* t) {
    table_words = (lower[lower_count - 1] + 8) / 64 + 1;
    std::memset(t, 0, static_cast<size_t>(256 * table_words) * 8);
    for (int32_t k = 0; k < lower_count; ++k)
      t[table_words + (lower[k] >> 6)] |= uint64_t{1} << (lower[k] & 63);
    for (int j = 1; j < 8; ++j) {
      const uint64_t* from = t + (int64_t{1} << (j - 1)) * table_words;
      uint64_t* to = t + (int64_t{1} << j) * table_words;
      to[0] = from[0] << 1;
      for (int64_t i = 1; i < table_words; ++i) to[i] = (from[i] << 1) | (from[i - 1] >> 63);
    }
    for (int v = 3; v < 256; ++v) {
      if ((v & (v - 1)) == 0) continue;
      const uint64_t* a = t + (v & (v - 1)) * table_words;
      const uint64_t* b = t + (v & -v) * table_words;
      uint64_t* to = t + v * table_words;
      for (int64_t i = 0; i < table_words; ++i) to[i] = a[i] ^ b[i];
    }
    table = t;
  }

  // The byte of p at degree + 8k goes to 8k: a whole number of bytes, so the table row is added at a
  // byte offset. The row ends below degree + 8k (the gap is at least 8), so it never reaches a byte
  // still to be read at or above its own.
  void reduce_by_table(uint64_t* p, int64_t top_bit) const {
    auto* bytes = reinterpret_cast<unsigned char*>(p);
    for (int64_t k = (top_bit - degree) >> 3; k >= 0; --k) {
      const unsigned v = byte_at(p, degree + 8 * k);
      if (v == 0) continue;
      clear_byte(p, degree + 8 * k);
      const uint64_t* row = table + v * table_words;
      unsigned char* d = bytes + k;
      for (int64_t i = 0; i < table_words; ++i) {
        uint64_t x;
        std::memcpy(&x, d + 8 * i, 8);
        x ^= row[i];
        std::memcpy(d + 8 * i, &x, 8);
      }
    }
  }

  // Folds the bits at and above the degree down, the highest first. x^degree ≡ Σ x^e over the lower
  // terms, so a chunk of high bits at position P goes to P - degree + e for every e; the chunk's
  // width stays within degree - (highest lower exponent), so nothing reaches the chunk again.
  void reduce(uint64_t* p, int64_t top_bit) const {
    if (table != nullptr) {
      reduce_by_table(p, top_bit);
      return;
    }
    const int64_t dw = degree >> 6;
    const int db = degree & 63;
    for (int64_t hi = top_bit >> 6; hi >= dw; hi -= chunk_words) {
      const int64_t lo = hi - chunk_words + 1 > dw ? hi - chunk_words + 1 : dw;
      const int k = static_cast<int>(hi - lo + 1);
      uint64_t h[9] = {};
      for (int i = 0; i < k; ++i) h[i] = p[lo + i];
      int64_t base = lo * 64;
      if (lo == dw) {
        // The lowest word also holds bits below the degree: keep those, and shift the chunk so it
        // starts at the degree itself.
        const uint64_t below = db == 0 ? 0 : p[dw] & ((uint64_t{1} << db) - 1);
        if (db != 0) {
          for (int i = 0; i < k; ++i) h[i] = (h[i] >> db) | (i + 1 < k ? h[i + 1] << (64 - db) : 0);
        }
        for (int i = 0; i < k; ++i) p[lo + i] = 0;
        p[dw] = below;
        base = degree;
      } else {
        for (int i = 0; i < k; ++i) p[lo + i] = 0;
      }
      for (int32_t t = 0; t < lower_count; ++t) xor_at(p, base - degree + lower[t], h, k);
    }
  }
};

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qorPolyRem(uint64_t s, int32_t degree, int32_t nterms, const int32_t* exponents, uint64_t* g) {
  if (degree < 1 || nterms < 2 || exponents[nterms - 1] != degree) return ZOK_RNG_ERROR_BAD_ARGUMENT;
  const int64_t words = words_of(degree);
  std::memset(g, 0, static_cast<size_t>(words) * 8);
  const int32_t gap = degree - exponents[nterms - 2];
  Modulus phi{degree, exponents, nterms - 1, gap >= 8 * 64 ? 8 : gap / 64};
  if (phi.chunk_words == 0) phi.chunk_words = 1;
  // Fewer than 64 bits between the degree and the next term would let a fold reach its own chunk.
  if (gap < 64) return ZOK_RNG_ERROR_BAD_ARGUMENT;
  if (s < static_cast<uint64_t>(degree)) {
    g[s >> 6] = uint64_t{1} << (s & 63);
    return ZOK_RNG_STATUS_OK;
  }
  // A dense φ (a fold costs two word operations per term and word, a table row eight per word)
  // gets the byte table, behind the square in the same block.
  const bool by_table = 2 * int64_t{nterms - 1} > 8 * (words + 1);
  const int64_t sq_words = 2 * words + 8;
  const int64_t table_words = by_table ? 256 * ((exponents[nterms - 2] + 8) / 64 + 1) : 0;
  auto* sq =
      static_cast<uint64_t*>(zok_serv_allocate(static_cast<size_t>(sq_words + table_words) * 8, kAlign));
  if (sq == nullptr) return ZOK_RNG_ERROR_MEMORY;
  if (by_table) phi.fill_table(sq + sq_words);
  // The leading bits of s that still give an exponent below the degree are taken at once.
  int b = 63 - __builtin_clzll(s);
  uint64_t head = 0;
  while (b >= 0 && ((head << 1) | ((s >> b) & 1)) < static_cast<uint64_t>(degree))
    head = (head << 1) | ((s >> b--) & 1);
  g[head >> 6] = uint64_t{1} << (head & 63);
  for (; b >= 0; --b) {
    std::memset(sq, 0, static_cast<size_t>(sq_words) * 8);
    for (int64_t i = 0; i < words; ++i) {
      sq[2 * i] = spread(static_cast<uint32_t>(g[i]));
      sq[2 * i + 1] = spread(static_cast<uint32_t>(g[i] >> 32));
    }
    if ((s >> b) & 1) {
      // One more factor x: a shift by one bit.
      for (int64_t i = 2 * words - 1; i > 0; --i) sq[i] = (sq[i] << 1) | (sq[i - 1] >> 63);
      sq[0] <<= 1;
    }
    phi.reduce(sq, 2 * static_cast<int64_t>(degree) - 1);
    std::memcpy(g, sq, static_cast<size_t>(words) * 8);
  }
  zok_serv_deallocate(sq);
  return ZOK_RNG_STATUS_OK;
}

int32_t __qor_SkipAheadHorner(void* state, int32_t state_size, const uint64_t* g, int32_t degree,
                              ZokJumpStep step, ZokJumpAdd add) {
  const int64_t top = top_coefficient(g, degree);
  const auto size = static_cast<size_t>(state_size);
  auto* w = zok_serv_allocate(size, kAlign);
  if (w == nullptr) return ZOK_RNG_ERROR_MEMORY;
  if (top < 0) {
    std::memset(state, 0, size);
  } else {
    std::memcpy(w, state, size);
    for (int64_t i = top - 1; i >= 0; --i) {
      step(w);
      if (bit(g, i)) add(w, state);
    }
    std::memcpy(state, w, size);
  }
  zok_serv_deallocate(w);
  return ZOK_RNG_STATUS_OK;
}

int32_t __qor_SkipAheadSWin(void* state, int32_t state_size, const uint64_t* g, int32_t degree,
                            ZokJumpStep step, ZokJumpAdd add) {
  const int64_t top = top_coefficient(g, degree);
  const auto size = static_cast<size_t>(state_size);
  // Every table entry keeps the alignment of a stream's state.
  const size_t stride = (size + kAlign - 1) / kAlign * kAlign;
  auto* table = static_cast<unsigned char*>(zok_serv_allocate(stride << kWindow, kAlign));
  if (table == nullptr) return ZOK_RNG_ERROR_MEMORY;
  auto* w = static_cast<unsigned char*>(zok_serv_allocate(size, kAlign));
  if (w == nullptr) {
    zok_serv_deallocate(table);
    return ZOK_RNG_ERROR_MEMORY;
  }
  // table[p] = p(T)·state for every p of degree below 7 with p(0) read as its lowest bit.
  auto entry = [&](uint64_t p) { return table + p * stride; };
  std::memcpy(entry(1), state, size);
  for (uint64_t p = 2; p < (uint64_t{1} << kWindow); ++p) {
    std::memcpy(entry(p), entry(p >> 1), size);
    step(entry(p));
    if (p & 1) add(entry(p), state);
  }
  std::memset(w, 0, size);
  bool started = false;
  for (int64_t i = top; i >= 0;) {
    if (!bit(g, i)) {
      if (started) step(w);
      --i;
      continue;
    }
    const int width = i + 1 < kWindow ? static_cast<int>(i + 1) : kWindow;
    uint64_t p = 0;
    for (int k = 0; k < width; ++k) p = (p << 1) | bit(g, i - k);
    if (started) {
      for (int k = 0; k < width; ++k) step(w);
      add(w, entry(p));
    } else {
      std::memcpy(w, entry(p), size);
      started = true;
    }
    i -= width;
  }
  std::memcpy(state, w, size);
  zok_serv_deallocate(w);
  zok_serv_deallocate(table);
  return ZOK_RNG_STATUS_OK;
}

}  // extern "C"
