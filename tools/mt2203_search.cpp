// Searches members of the MT2203 family: a random twist constant whose register has period
// 2^2203 - 1, then tempering masks by a beam search over their bits that maximises k(v), the
// equidistribution of the tempered output to v bits. Prints one line per member found.
//
// Usage: mt2203_search SEED FIRST LAST SECONDS BAR
//   Members FIRST..LAST in index order (0, 1 and 6023 are published and skipped); each member's
//   random choices come from SEED and its index alone, so a run can resume at any member. Stops
//   after SECONDS. A member is taken only when its total shortfall of k(v) from floor(2203 / v),
//   v = 1..32, is at most BAR. Output: "member a b c shortfall k(1) .. k(32)" in hex and decimal.
// Period: the minimal polynomial of an output bit, by Berlekamp-Massey, has degree 2203 and no
// factor of degree up to 10 (gcd with x^(2^d) - x), and x^(2^2203) = x modulo it; 2203 is prime
// and 2^2203 - 1 a Mersenne prime, so that proves the period.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr int N = 69, M = 34, R = 5, P = 2203;
constexpr uint32_t kUpper = 0xFFFFFFE0u;
constexpr int W = (P + 63) / 64;  // words of a linear form on the 2203 state bits
using Form = std::array<uint64_t, W>;
using Poly = std::vector<uint64_t>;  // bit e: coefficient of x^e

// ---- polynomials over GF(2) ----

int degree(const Poly& p) {
  for (int i = static_cast<int>(p.size()) - 1; i >= 0; --i)
    if (p[i] != 0) return 64 * i + 63 - __builtin_clzll(p[i]);
  return -1;
}
bool bit(const Poly& p, int i) {
  return (p[i >> 6] >> (i & 63)) & 1;
}
// p ^= q · x^shift
void add_shifted(Poly& p, const Poly& q, int shift) {
  const int w = shift >> 6, s = shift & 63;
  for (size_t i = 0; i < q.size() && i + w < p.size(); ++i) {
    if (q[i] == 0) continue;
    p[i + w] ^= q[i] << s;
    if (s != 0 && i + w + 1 < p.size()) p[i + w + 1] ^= q[i] >> (64 - s);
  }
}
void reduce(Poly& p, const Poly& f, int df) {
  for (int d = degree(p); d >= df; d = degree(p)) add_shifted(p, f, d - df);
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

// Berlekamp-Massey: the characteristic polynomial of the shortest recurrence of the bits.
Poly minimal_polynomial(const std::vector<uint8_t>& bits) {
  const size_t words = bits.size() / 64 + 2;
  Poly c(words), b(words), window(words);
  c[0] = b[0] = 1;
  int length = 0, shift = 1;
  for (size_t t = 0; t < bits.size(); ++t) {
    for (size_t i = words - 1; i > 0; --i) window[i] = (window[i] << 1) | (window[i - 1] >> 63);
    window[0] = (window[0] << 1) | bits[t];
    int d = 0;
    for (int i = 0; i <= length / 64; ++i) d ^= __builtin_parityll(c[i] & window[i]);
    if (d == 0) {
      ++shift;
      continue;
    }
    const Poly previous = c;
    add_shifted(c, b, shift);
    if (2 * length <= static_cast<int>(t)) {
      length = static_cast<int>(t) + 1 - length;
      b = previous;
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

// x^(2^P) = x mod phi, with no factor of degree up to 10 found on the way.
bool has_full_period(const Poly& phi) {
  if (degree(phi) != P) return false;
  Poly x(2 * W + 2), one_x(2 * W + 2);
  x[0] = one_x[0] = 2;
  for (int k = 1; k <= P; ++k) {
    Poly sq(2 * W + 2);
    for (int i = 0; i < P; ++i)
      if (bit(x, i)) sq[(2 * i) >> 6] |= uint64_t{1} << ((2 * i) & 63);
    reduce(sq, phi, P);
    x = sq;
    if (k <= 10) {
      Poly diff = x;
      diff[0] ^= 2;
      if (degree(gcd(phi, diff)) > 0) return false;
    }
  }
  return x == one_x;
}

uint32_t step(uint32_t* mt, int i, uint32_t a) {
  const uint32_t y = (mt[i] & kUpper) | (mt[(i + 1) % N] & ~kUpper);
  return mt[i] = mt[(i + M) % N] ^ (y >> 1) ^ (y & 1 ? a : 0);
}

bool period_proved(uint32_t a) {
  uint32_t mt[N];
  for (int i = 0; i < N; ++i) mt[i] = 1812433253u * static_cast<uint32_t>(i) + 12345u;
  std::vector<uint8_t> bits(2 * P);
  for (int t = 0; t < 2 * P; ++t) bits[t] = step(mt, t % N, a) & 1;
  return has_full_period(minimal_polynomial(bits));
}

// ---- equidistribution ----

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

// k(v): outputs are taken in order while the leading v bits of all of them stay independent.
int k_of_v(const std::vector<std::array<Form, 32>>& y0, uint32_t b, uint32_t c, int v) {
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
  bool operator<(const Masks& o) const {
    return shortfall != o.shortfall ? shortfall < o.shortfall : b != o.b ? b < o.b : c < o.c;
  }
};

// A beam of the `width` best masks by the shortfall accumulated over v = 1.. so far.
Masks tempering(const std::vector<std::array<Form, 32>>& y0, int width, std::mt19937_64& rng) {
  std::vector<Masks> beam = {{0, 0, 0}};
  for (int v = 1; v <= 32; ++v) {
    const auto frees = free_bits(v);
    std::map<std::pair<uint32_t, uint32_t>, int> seen;
    std::vector<Masks> next;
    for (const Masks& m : beam)
      for (uint32_t combo = 0; combo < (1u << frees.size()); ++combo) {
        uint32_t b = m.b, c = m.c;
        for (size_t i = 0; i < frees.size(); ++i) {
          uint32_t& mask = frees[i].first == 'b' ? b : c;
          mask = (mask & ~(1u << frees[i].second)) | (((combo >> i) & 1) << frees[i].second);
        }
        if (!seen.emplace(std::make_pair(b, c), 0).second) continue;
        next.push_back({b, c, m.shortfall + P / v - k_of_v(y0, b, c, v)});
      }
    // Equal shortfalls are ordered at random, so members do not all take the same masks.
    std::shuffle(next.begin(), next.end(), rng);
    std::stable_sort(next.begin(), next.end(),
                     [](const Masks& x, const Masks& y) { return x.shortfall < y.shortfall; });
    if (static_cast<int>(next.size()) > width) next.resize(width);
    beam = next;
  }
  return beam[0];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: mt2203_search SEED FIRST LAST SECONDS BAR\n");
    return 2;
  }
  const uint64_t seed = std::strtoull(argv[1], nullptr, 0);
  const int first = std::atoi(argv[2]), last = std::atoi(argv[3]);
  const double seconds = std::atof(argv[4]);
  const int bar = std::atoi(argv[5]);
  const auto start = std::chrono::steady_clock::now();
  const std::set<uint32_t> published = {0xAF81055Fu, 0x832604E1u, 0xE8761D4Bu};
  std::set<uint32_t> twists = published;
  for (int member = first; member <= last; ++member) {
    if (member == 0 || member == 1 || member == 6023) continue;
    if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > seconds) break;
    std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(member));
    for (;;) {
      const uint32_t a = static_cast<uint32_t>(rng()) | 0x80000000u;
      if (twists.count(a) || !period_proved(a)) continue;
      const auto y0 = output_forms(a);
      const Masks m = tempering(y0, 32, rng);
      if (m.shortfall > bar) continue;
      twists.insert(a);
      std::printf("%d 0x%08X 0x%08X 0x%08X %d", member, a, m.b, m.c, m.shortfall);
      for (int v = 1; v <= 32; ++v) std::printf(" %d", k_of_v(y0, m.b, m.c, v));
      std::printf("\n");
      std::fflush(stdout);
      break;
    }
  }
  return 0;
}
