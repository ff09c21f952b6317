// Searches members of the MT2203 family: a random twist constant whose register has period
// 2^2203 - 1, then tempering masks by a beam search over their bits that maximises k(v), the
// equidistribution of the tempered output to v bits. Prints one line per member found.
//
// Usage: mt2203_search SEED FIRST LAST SECONDS BAR [THREADS [TAKEN]]
//   Members FIRST..LAST in index order; 0, 1, 6023 and the members listed in the file TAKEN (lines
//   "member a b c ...", '#' lines ignored) are skipped and their twist constants avoided. Candidate
//   i of a member and its tempering choices come from SEED, the member and i alone, and a member
//   takes its first candidate that passes and whose constant no earlier member holds, so the
//   output does not depend on THREADS (default 1) and a run can resume at any member. No member
//   is started after SECONDS. A member is taken only when its total shortfall of k(v) from
//   floor(2203 / v), v = 1..32, is at most BAR. Output: "member a b c shortfall k(1) .. k(32)".
// Usage: mt2203_search --check FILE
//   Recomputes k(v) of the published members and of every member in FILE both by the lattice
//   method and as the rank of the linear map from the state to the output bits, and checks that
//   the two and the file agree.
// Period: the minimal polynomial of an output bit, by Berlekamp-Massey, has degree 2203 and no
// factor of degree up to 10 (one gcd with the product of x^(2^d) - x), and x^(2^2203) = x modulo
// it; 2203 is prime and 2^2203 - 1 a Mersenne prime, so that proves the period.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int N = 69, M = 34, R = 5, P = 2203;
constexpr uint32_t kUpper = 0xFFFFFFE0u;
constexpr int W = (P + 63) / 64;  // words of a polynomial of degree below P
using Form = std::array<uint64_t, W>;
using Poly = std::vector<uint64_t>;  // bit e: coefficient of x^e

struct Member {
  uint32_t a, b, c;
};
const std::map<int, Member> kPublished = {{0, {0xAF81055Fu, 0xDD7EEF80u, 0xEFD78000u}},
                                          {1, {0x832604E1u, 0x66AD7F80u, 0xEBD58000u}},
                                          {6023, {0xE8761D4Bu, 0x72967680u, 0xEFEB0000u}}};

// ---- polynomials over GF(2) ----

int degree(const Poly& p) {
  for (int i = static_cast<int>(p.size()) - 1; i >= 0; --i)
    if (p[i] != 0) return 64 * i + 63 - __builtin_clzll(p[i]);
  return -1;
}
bool bit(const Poly& p, int i) {
  return (p[i >> 6] >> (i & 63)) & 1;
}
// p ^= q · x^shift for the first `words` words of q.
void add_shifted(Poly& p, const Poly& q, int shift, size_t words = SIZE_MAX) {
  const size_t w = shift >> 6, s = shift & 63, end = std::min(words, q.size());
  for (size_t i = 0; i < end && i + w < p.size(); ++i) {
    p[i + w] ^= q[i] << s;
    if (s != 0 && i + w + 1 < p.size()) p[i + w + 1] ^= q[i] >> (64 - s);
  }
}

// The degree of p, known to be below `bound`.
int degree_below(const Poly& p, int bound) {
  if (bound <= 0) return -1;
  int i = (bound - 1) >> 6;
  uint64_t w = p[i] & (~uint64_t{0} >> (63 - ((bound - 1) & 63)));
  while (w == 0 && i > 0) w = p[--i];
  return w == 0 ? -1 : 64 * i + 63 - __builtin_clzll(w);
}
void reduce(Poly& p, const Poly& f, int df) {
  for (int d = degree(p); d >= df; d = degree_below(p, d)) add_shifted(p, f, d - df, df / 64 + 1);
}
Poly gcd(Poly a, Poly b) {
  int db = degree(b);
  while (db >= 0) {
    reduce(a, b, db);
    std::swap(a, b);
    db = degree(b);
  }
  return a;
}

// Berlekamp-Massey: the characteristic polynomial of the shortest recurrence of the bits. The
// sequence is held reversed, so the discrepancy reads it at a bit offset rather than shifting it.
Poly minimal_polynomial(const std::vector<uint8_t>& bits) {
  const int n = static_cast<int>(bits.size()), words = n / 64 + 3;
  Poly reversed(words), c(words), b(words), previous(words);
  for (int t = 0; t < n; ++t) reversed[(n - 1 - t) >> 6] |= uint64_t{bits[t]} << ((n - 1 - t) & 63);
  c[0] = b[0] = 1;
  int length = 0, shift = 1, b_length = 0;
  for (int t = 0; t < n; ++t) {
    const int q = (n - 1 - t) >> 6, r = (n - 1 - t) & 63;
    uint64_t d = 0;
    for (int i = 0; i <= length / 64; ++i)
      d ^= c[i] & ((reversed[q + i] >> r) | (r != 0 ? reversed[q + i + 1] << (64 - r) : 0));
    if (!__builtin_parityll(d)) {
      ++shift;
      continue;
    }
    const bool longer = 2 * length <= t;
    if (longer) previous = c;
    add_shifted(c, b, shift, b_length / 64 + 1);
    if (longer) {
      b_length = length;
      length = t + 1 - length;
      std::swap(b, previous);
      shift = 1;
    } else {
      ++shift;
    }
  }
  Poly phi(words);
  for (int e = 0; e <= length; ++e)
    if (bit(c, length - e)) phi[e >> 6] |= uint64_t{1} << (e & 63);
  return phi;
}

// Arithmetic modulo a polynomial of degree P: carry-less products and Barrett reduction, which is
// exact over GF(2) for products of degree below 2P.
class Modulus {
 public:
  explicit Modulus(const Poly& phi) : phi_(phi.begin(), phi.begin() + W), mu_(W) {
    Poly rem(2 * W + 1);  // x^(2P) divided by phi, a bit at a time
    rem[(2 * P) >> 6] = uint64_t{1} << ((2 * P) & 63);
    for (int i = 2 * P; i >= P; --i)
      if (bit(rem, i)) {
        add_shifted(rem, phi, i - P);
        mu_[(i - P) >> 6] |= uint64_t{1} << ((i - P) & 63);
      }
  }
  Form square(const Form& a) const {
    Poly c(2 * W);
    for (int i = 0; i < W; ++i) {
      const __m128i x = _mm_set_epi64x(0, static_cast<long long>(a[i]));
      const __m128i s = _mm_clmulepi64_si128(x, x, 0);
      c[2 * i] = static_cast<uint64_t>(_mm_cvtsi128_si64(s));
      c[2 * i + 1] = static_cast<uint64_t>(_mm_extract_epi64(s, 1));
    }
    return reduce_product(c);
  }
  Form multiply(const Form& a, const Form& b) const {
    Poly c(2 * W);
    product(a.data(), b.data(), W, c.data());
    return reduce_product(c);
  }

 private:
  // Words lo..hi of the product of two n-word polynomials (out holds 2n words, zero outside),
  // one diagonal at a time so that the partial products stay in a register.
  static void product(const uint64_t* a, const uint64_t* b, int n, uint64_t* out, int lo = 0,
                      int hi = 1 << 30) {
    __m128i carry = _mm_setzero_si128();
    for (int k = std::max(0, lo - 1); k <= std::min(hi, 2 * n - 2); ++k) {
      __m128i acc = _mm_setzero_si128();
      for (int i = std::max(0, k - n + 1); i <= std::min(k, n - 1); ++i)
        acc = _mm_xor_si128(
            acc, _mm_clmulepi64_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + i)),
                                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + k - i)), 0));
      out[k] = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_xor_si128(acc, carry)));
      carry = _mm_srli_si128(acc, 8);
    }
    if (hi >= 2 * n - 1) out[2 * n - 1] = static_cast<uint64_t>(_mm_cvtsi128_si64(carry));
  }
  // Bits P.. of a 2W-word polynomial, as W words.
  static Form high(const Poly& c) {
    Form h{};
    constexpr int q = P >> 6, s = P & 63;
    for (int i = 0; i < W && i + q < 2 * W; ++i)
      h[i] = (c[i + q] >> s) | (i + q + 1 < 2 * W ? c[i + q + 1] << (64 - s) : 0);
    return h;
  }
  // c mod phi for deg c < 2P: the quotient is the top of (c / x^P)·mu / x^P.
  Form reduce_product(const Poly& c) const {
    const Form ch = high(c);
    Poly t(2 * W);
    product(ch.data(), mu_.data(), W, t.data(), P / 64);
    const Form q = high(t);
    Poly qphi(2 * W);
    product(q.data(), phi_.data(), W, qphi.data(), 0, W - 1);
    Form r;
    for (int i = 0; i < W; ++i) r[i] = c[i] ^ qphi[i];
    r[W - 1] &= (uint64_t{1} << (P & 63)) - 1;
    return r;
  }
  Poly phi_, mu_;
};

// phi has degree P, no factor of degree up to kSieveDegree, and x^(2^P) = x modulo it. The
// factors are sought by one gcd with the product of x^(2^k) - x, k = 1..d, at d = 8, 16, 32, ...
constexpr int kSieveDegree = 512;

bool has_full_period(const Poly& phi) {
  if (degree(phi) != P) return false;
  const Modulus mod(phi);
  Form x{}, x1{}, sieve{};
  x[0] = x1[0] = 2;
  sieve[0] = 1;
  for (int k = 1; k <= P; ++k) {
    x = mod.square(x);
    if (k <= kSieveDegree) {
      Form diff = x;
      diff[0] ^= 2;
      sieve = mod.multiply(sieve, diff);
      if ((k & (k - 1)) == 0 && k >= 8 && degree(gcd(phi, Poly(sieve.begin(), sieve.end()))) > 0)
        return false;
    }
  }
  return x == x1;
}

uint32_t step(uint32_t* mt, int i, uint32_t a) {
  const uint32_t y = (mt[i] & kUpper) | (mt[(i + 1) % N] & ~kUpper);
  return mt[i] = mt[(i + M) % N] ^ (y >> 1) ^ (y & 1 ? a : 0);
}

// The minimal polynomial of the register's lowest output bit, by Berlekamp-Massey.
Poly output_polynomial(uint32_t a) {
  uint32_t mt[N];
  for (int i = 0; i < N; ++i) mt[i] = 1812433253u * static_cast<uint32_t>(i) + 12345u;
  std::vector<uint8_t> bits(2 * P);
  for (int t = 0; t < 2 * P; ++t) bits[t] = step(mt, t % N, a) & 1;
  return minimal_polynomial(bits);
}

// The characteristic polynomial of one step of the register, by Horner's rule in closed form:
// (t^N + t^M)^(32 - R)·(t^(N-1) + t^(M-1))^R plus the bits of a, lowest first, each one factor
// further down. --check confirms it against Berlekamp-Massey on the output.
Poly characteristic_polynomial(uint32_t a) {
  Poly p(W + 1), next(W + 1);
  p[0] = 1;
  for (int i = 0; i < 32; ++i) {
    const int n = i < R ? N - 1 : N, m = i < R ? M - 1 : M;
    std::fill(next.begin(), next.end(), 0);
    add_shifted(next, p, n);
    add_shifted(next, p, m);
    next[0] ^= (a >> i) & 1;
    std::swap(p, next);
  }
  return p;
}

bool period_proved(uint32_t a) {
  return has_full_period(characteristic_polynomial(a));
}

uint32_t temper(uint32_t y, uint32_t b, uint32_t c) {
  y ^= y >> 12;
  y ^= (y << 7) & b;
  y ^= (y << 15) & c;
  return y ^ (y >> 18);
}

// ---- equidistribution by the lattice method ----
//
// For the leading v bits, the series A(s) = sum over i of out_i(s)·z^-(i+1) of a state s span, with
// the polynomial vectors, a lattice of rank v over GF(2)[z] whose reduced basis has largest degree
// -k(v) (it is the dual of the lattice of linear relations among the outputs). Multiplying A(s) by
// z is stepping s, as long as no polynomial part appears, so every vector of negative degree is a
// state: stored stepped to its first nonzero output (at index f, degree -(f + 1)), two of the same
// degree add as states. Lenstra's reduction keeps one vector per pivot (top bit of the leading
// coefficients) and folds each further generator into them until it vanishes.
//
// The generators are the unit vectors and one state; or, when the reduced basis for v - 1 bits is
// known, its vectors (now with v coordinates) and the v-th unit vector, which is far cheaper: the
// basis is nearly reduced already.

class Lattice {
 public:
  static constexpr int kRoom = 128;
  struct Vec {
    uint32_t unit = 0;  // a constant vector (its only degree-0 part)
    uint32_t lead = 0;  // the leading bits of the first nonzero output
    int f = 0;          // the index of that output
    int off = 0;        // the state is x[off..off + N): outputs are x[off + 1], x[off + 2], ...
    std::array<uint32_t, kRoom> x{};
  };
  using Basis = std::vector<Vec>;

  Lattice(uint32_t a, uint32_t b, uint32_t c, int v) : a_(a), b_(b), c_(c), v_(v), top_(~0u << (32 - v)) {}

  // k(v) from the unit vectors and one state; the reduced basis goes to *basis if asked for.
  int k(Basis* basis = nullptr) const {
    std::vector<Vec> pool(v_ + 1);
    for (int p = 0; p < v_; ++p) pool[p].unit = uint32_t{1} << (31 - p);
    Vec& s0 = pool[v_];
    for (int i = 0; i < N; ++i) s0.x[i] = 1812433253u * static_cast<uint32_t>(i) + 12345u;
    normalize(s0);
    return reduce(pool, basis);
  }
  // k(v) from the reduced basis for the leading v - 1 bits under the same a and the same masks on
  // those bits.
  int k(const Basis& previous, Basis* basis = nullptr) const {
    std::vector<Vec> pool(previous.begin(), previous.end());
    for (Vec& s : pool) {
      if (s.unit != 0) continue;
      for (; s.f > 0; --s.f) retreat(s);  // the v-th bit may lead earlier
      normalize(s);
    }
    pool.emplace_back().unit = uint32_t{1} << (32 - v_);
    return reduce(pool, basis);
  }

 private:
  int reduce(std::vector<Vec>& pool, Basis* basis) const {
    std::vector<Vec*> slots(v_, nullptr);  // the vectors move by pointer
    for (Vec& g : pool) insert(slots, &g);
    int k = P;
    for (const Vec* s : slots) k = std::min(k, s == nullptr || s->unit != 0 ? 0 : s->f + 1);
    if (basis != nullptr) {
      basis->clear();
      for (const Vec* s : slots)
        if (s != nullptr) basis->push_back(*s);
    }
    return k;
  }
  void insert(std::vector<Vec*>& slots, Vec* u) const {
    for (;;) {
      Vec*& s = slots[__builtin_clz(u->unit ? u->unit : u->lead)];
      if (s == nullptr) {
        s = u;
        return;
      }
      if (degree(*s) > degree(*u)) std::swap(s, u);  // s: the lower degree
      bool nonzero = true;
      if (s->unit != 0) {
        u->unit ^= s->unit;
      } else if (u->unit != 0) {  // u = constant + A(state): add z·A(s) = lead + A(T s)
        u->unit ^= s->lead;
        advance(*s);
        nonzero = add(*u, *s);
        s->off -= 1;  // s's words are untouched, so stepping back is free
      } else {
        nonzero = add(*u, *s);
      }
      if (u->unit != 0) continue;
      if (!nonzero) return;
      normalize(*u);
    }
  }
  static int degree(const Vec& s) { return s.unit != 0 ? 0 : -(s.f + 1); }
  void advance(Vec& s) const {
    if (s.off + N + 1 > kRoom) {
      std::memmove(s.x.data(), s.x.data() + s.off, N * sizeof(uint32_t));
      s.off = 0;
    }
    uint32_t* x = s.x.data() + s.off;
    const uint32_t y = (x[0] & kUpper) | (x[1] & ~kUpper);
    x[N] = x[M] ^ (y >> 1) ^ (y & 1 ? a_ : 0);
    ++s.off;
  }
  // One step back: the twisted word x[N - 1] ^ x[M - 1] tells the parity of y (a's top bit is set)
  // and so y, which holds the older word's upper bits and the next one's lower bits.
  void retreat(Vec& s) const {
    if (s.off == 0) {
      std::memmove(s.x.data() + kRoom - N, s.x.data(), N * sizeof(uint32_t));
      s.off = kRoom - N;
    }
    uint32_t* x = s.x.data() + s.off;
    const uint32_t t = x[N - 1] ^ x[M - 1], odd = t >> 31;
    const uint32_t y = ((t ^ (odd ? a_ : 0)) << 1) | odd;
    x[-1] = y & kUpper;
    x[0] = (x[0] & kUpper) | (y & ~kUpper);
    --s.off;
  }
  // u's state += s's state; false when the sum is zero.
  static bool add(Vec& u, const Vec& s) {
    uint32_t* x = u.x.data() + u.off;
    const uint32_t* y = s.x.data() + s.off;
    x[0] ^= y[0];
    __m128i any = _mm_cvtsi32_si128(static_cast<int>(x[0] & kUpper));
    static_assert((N - 1) % 4 == 0);
    for (int i = 1; i + 4 <= N; i += 4) {
      const __m128i sum = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(x + i), sum);
      any = _mm_or_si128(any, sum);
    }
    return !_mm_testz_si128(any, any);
  }
  // Steps a nonzero state to its first output with a nonzero leading part.
  void normalize(Vec& s) const {
    for (;;) {
      s.lead = temper(s.x[s.off + 1], b_, c_) & top_;
      if (s.lead != 0) return;
      advance(s);
      ++s.f;
    }
  }
  uint32_t a_, b_, c_;
  int v_;
  uint32_t top_;
};

int k_of_v(uint32_t a, uint32_t b, uint32_t c, int v) {
  return Lattice(a, b, c, v).k();
}

// ---- equidistribution by rank, the reference for --check ----

// The words x ^ (x >> 12) of the first P + 1 outputs as linear forms on the state bits (the upper
// 27 bits of the oldest word, then 68 words): tempering starts with that step for every member.
std::vector<std::array<Form, 32>> output_forms(uint32_t a) {
  std::vector<std::array<Form, 32>> mt(N);
  int index = 0;
  for (int w = 0; w < N; ++w)
    for (int j = 0; j < 32; ++j) {
      mt[w][j] = Form{};
      if (w == 0 && j < R) continue;
      mt[w][j][index >> 6] = uint64_t{1} << (index & 63);
      ++index;
    }
  std::vector<std::array<Form, 32>> out(P + 1);
  for (int t = 0; t <= P; ++t) {
    const int i = t % N;
    std::array<Form, 32> y, next;
    for (int j = 0; j < 32; ++j) y[j] = ((kUpper >> j) & 1) ? mt[i][j] : mt[(i + 1) % N][j];
    for (int j = 0; j < 32; ++j) {
      next[j] = mt[(i + M) % N][j];
      for (int k = 0; k < W; ++k) {
        if (j + 1 < 32) next[j][k] ^= y[j + 1][k];
        if ((a >> j) & 1) next[j][k] ^= y[0][k];
      }
    }
    mt[i] = next;
    for (int j = 0; j < 32; ++j) {
      out[t][j] = next[j];
      if (j + 12 < 32)
        for (int k = 0; k < W; ++k) out[t][j][k] ^= next[j + 12][k];
    }
  }
  return out;
}

int top_bit(const Form& f) {
  for (int i = W - 1; i >= 0; --i)
    if (f[i] != 0) return 64 * i + 63 - __builtin_clzll(f[i]);
  return -1;
}

// Outputs are taken in order while the leading v bits of all of them stay independent.
int k_of_v_by_rank(const std::vector<std::array<Form, 32>>& y0, uint32_t b, uint32_t c, int v) {
  std::vector<Form> basis(P);
  std::vector<char> held(P, 0);
  for (int t = 0; t <= P / v; ++t) {
    std::array<Form, 32> y = y0[t];
    for (int j = 31; j >= 7; --j)
      if ((b >> j) & 1)
        for (int k = 0; k < W; ++k) y[j][k] ^= y[j - 7][k];
    for (int j = 31; j >= 15; --j)
      if ((c >> j) & 1)
        for (int k = 0; k < W; ++k) y[j][k] ^= y[j - 15][k];
    for (int j = 31; j > 31 - v; --j) {
      Form f = y[j];
      if (j + 18 < 32)
        for (int k = 0; k < W; ++k) f[k] ^= y[j + 18][k];
      for (int top = top_bit(f);; top = top_bit(f)) {
        if (top < 0) return t;
        if (!held[top]) {
          basis[top] = f;
          held[top] = 1;
          break;
        }
        for (int k = 0; k < W; ++k) f[k] ^= basis[top][k];
      }
    }
  }
  return P / v;
}

// ---- tempering search ----

// Bits chosen at step v: those that reach the v-th leading output bit and no earlier one.
std::vector<std::pair<char, int>> free_bits(int v) {
  std::vector<std::pair<char, int>> f;
  const int bit = 32 - v;
  if (v <= 15) f.push_back({'b', bit});
  if (bit >= 15) f.push_back({'c', bit});
  if (bit - 15 >= 7) f.push_back({'b', bit - 15});
  return f;
}

struct Masks {
  uint32_t b, c;
  int shortfall;
  Lattice::Basis basis;  // the reduced basis for the bits chosen so far
};

// A beam of the `width` best masks by the shortfall accumulated over v = 1.. so far.
Masks tempering(uint32_t a, int width, std::mt19937_64& rng) {
  std::vector<Masks> beam = {{0, 0, 0, {}}};
  for (int v = 1; v <= 32; ++v) {
    const auto frees = free_bits(v);
    std::set<std::pair<uint32_t, uint32_t>> seen;
    std::vector<Masks> next;
    for (const Masks& m : beam)
      for (uint32_t combo = 0; combo < (1u << frees.size()); ++combo) {
        uint32_t b = m.b, c = m.c;
        for (size_t i = 0; i < frees.size(); ++i) {
          uint32_t& mask = frees[i].first == 'b' ? b : c;
          mask = (mask & ~(1u << frees[i].second)) | (((combo >> i) & 1) << frees[i].second);
        }
        if (!seen.emplace(b, c).second) continue;
        Masks grown{b, c, 0, {}};
        const Lattice lattice(a, b, c, v);
        const int k = v == 1 ? lattice.k(&grown.basis) : lattice.k(m.basis, &grown.basis);
        grown.shortfall = m.shortfall + P / v - k;
        next.push_back(std::move(grown));
      }
    // Equal shortfalls are ordered at random, so members do not all take the same masks.
    std::shuffle(next.begin(), next.end(), rng);
    std::stable_sort(next.begin(), next.end(),
                     [](const Masks& x, const Masks& y) { return x.shortfall < y.shortfall; });
    if (static_cast<int>(next.size()) > width) next.resize(width);
    beam = std::move(next);
  }
  return beam[0];
}

uint64_t mix(uint64_t x) {  // splitmix64's finaliser
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

struct Found {
  Member m;
  int shortfall;
};

// The member's first candidate that passes and whose twist constant is not taken.
Found search(uint64_t seed, int member, int bar, const std::set<uint32_t>& taken) {
  for (uint64_t i = 0;; ++i) {
    const uint64_t key = mix(mix(seed ^ mix(static_cast<uint64_t>(member))) + i);
    const uint32_t a = static_cast<uint32_t>(key) | 0x80000000u;
    if (taken.count(a) || !period_proved(a)) continue;
    std::mt19937_64 rng(mix(key));
    const Masks m = tempering(a, 32, rng);
    if (m.shortfall <= bar) return {{a, m.b, m.c}, m.shortfall};
  }
}

std::map<int, Member> read_members(const char* path) {
  std::map<int, Member> rows;
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::exit(2);
  }
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    int member;
    std::string a, b, c;
    fields >> member >> a >> b >> c;
    rows[member] = {static_cast<uint32_t>(std::stoul(a, nullptr, 16)),
                    static_cast<uint32_t>(std::stoul(b, nullptr, 16)),
                    static_cast<uint32_t>(std::stoul(c, nullptr, 16))};
  }
  return rows;
}

int check(const char* path) {
  std::map<int, Member> rows = read_members(path);
  std::map<int, std::vector<int>> recorded;
  {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      int member, k;
      std::string skip;
      fields >> member >> skip >> skip >> skip >> skip;
      while (fields >> k) recorded[member].push_back(k);
    }
  }
  rows.insert(kPublished.begin(), kPublished.end());
  int bad = 0;
  for (const auto& [member, m] : rows) {
    const auto y0 = output_forms(m.a);
    std::vector<int> lattice, rank;
    for (int v = 1; v <= 32; ++v) {
      lattice.push_back(k_of_v(m.a, m.b, m.c, v));
      rank.push_back(k_of_v_by_rank(y0, m.b, m.c, v));
    }
    const bool same = lattice == rank && (!recorded.count(member) || recorded[member] == rank);
    Poly bm = output_polynomial(m.a);
    const bool polynomial = degree(bm) == P && (bm.resize(W + 1), bm == characteristic_polynomial(m.a));
    bad += !same || !polynomial || !period_proved(m.a);
    std::printf("%d 0x%08X: %s, %s\n", member, m.a, same ? "k(v) agree" : "k(v) DIFFER",
                polynomial ? "polynomials agree" : "polynomials DIFFER");
  }
  std::printf("%zu members, %d failed\n", rows.size(), bad);
  return bad == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--check") == 0) return check(argv[2]);
  if (argc < 6 || argc > 8) {
    std::fprintf(stderr,
                 "usage: mt2203_search SEED FIRST LAST SECONDS BAR [THREADS [TAKEN]]\n"
                 "       mt2203_search --check FILE\n");
    return 2;
  }
  const uint64_t seed = std::strtoull(argv[1], nullptr, 0);
  const int first = std::atoi(argv[2]), last = std::atoi(argv[3]);
  const double seconds = std::atof(argv[4]);
  const int bar = std::atoi(argv[5]);
  const int threads = argc > 6 ? std::max(1, std::atoi(argv[6])) : 1;
  const std::map<int, Member> listed = argc > 7 ? read_members(argv[7]) : std::map<int, Member>{};
  const auto start = std::chrono::steady_clock::now();

  std::vector<int> todo;
  std::set<uint32_t> taken;
  for (const auto& rows : {kPublished, listed})
    for (const auto& [member, m] : rows) taken.insert(m.a);
  for (int member = first; member <= last; ++member)
    if (!kPublished.count(member) && !listed.count(member)) todo.push_back(member);

  // Workers search ahead with the constants taken so far; results are accepted in member order,
  // and one whose constant an earlier member took meanwhile is searched again.
  std::mutex lock;
  std::condition_variable ready;
  std::map<size_t, Found> results;
  size_t next = 0;
  int alive = threads;
  auto work = [&] {
    for (;;) {
      std::set<uint32_t> snapshot;
      size_t i;
      {
        const std::lock_guard<std::mutex> hold(lock);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if ((i = next) >= todo.size() || elapsed > seconds) {
          --alive;
          ready.notify_all();
          return;
        }
        ++next;
        snapshot = taken;
      }
      const Found f = search(seed, todo[i], bar, snapshot);
      const std::lock_guard<std::mutex> hold(lock);
      results[i] = f;
      ready.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(work);
  for (size_t i = 0;; ++i) {
    std::unique_lock<std::mutex> hold(lock);
    ready.wait(hold, [&] { return results.count(i) || (i >= next && alive == 0); });
    if (!results.count(i)) break;
    Found f = results[i];
    if (taken.count(f.m.a)) {
      hold.unlock();
      f = search(seed, todo[i], bar, taken);  // taken only grows under this loop
      hold.lock();
    }
    taken.insert(f.m.a);
    hold.unlock();
    // The search built each k(v) from the basis for v - 1 bits; the line gives them from scratch.
    std::string ks;
    int shortfall = 0;
    for (int v = 1; v <= 32; ++v) {
      const int k = k_of_v(f.m.a, f.m.b, f.m.c, v);
      shortfall += P / v - k;
      ks += " " + std::to_string(k);
    }
    if (shortfall != f.shortfall) {
      std::fprintf(stderr, "member %d: k(v) from scratch disagree with the search\n", todo[i]);
      std::fflush(stdout);
      std::_Exit(1);
    }
    std::printf("%d 0x%08X 0x%08X 0x%08X %d%s\n", todo[i], f.m.a, f.m.b, f.m.c, f.shortfall, ks.c_str());
    std::fflush(stdout);
  }
  for (auto& t : pool) t.join();
  return 0;
}
