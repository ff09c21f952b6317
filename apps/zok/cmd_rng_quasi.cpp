// The tour stop of the quasi-random generators: SOBOL points beside MCG31M1 pairs on a 16 x 16 grid,
// and the cost of a coordinate.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "apps/zok/commands.h"
#include "zok/random.h"

namespace {

constexpr int kCells = 16;
constexpr int kPoints = 256;

// Points per cell of the unit square, from pairs (x, y) laid out one after the other.
std::vector<int> histogram(const std::vector<double>& xy) {
  std::vector<int> cells(kCells * kCells);
  for (size_t i = 0; i + 1 < xy.size(); i += 2)
    ++cells[static_cast<int>(xy[i + 1] * kCells) * kCells + static_cast<int>(xy[i] * kCells)];
  return cells;
}

// `pairs` pairs of a stream seeded with `seeds` after `lead` zeros, or nothing when it cannot be made.
std::vector<double> draw(int32_t brng, std::vector<uint32_t> seeds, int pairs, int lead) {
  StreamRecord* s = nullptr;
  std::vector<double> xy(2 * (pairs + lead));
  GeneratorProperties p{};
  if (__qorNewStreamEx(&s, brng, static_cast<int32_t>(seeds.size()), seeds.data()) != 0 ||
      __qorGetBrngProperties(brng, &p) != 0 ||
      p.generate_d(s, 2 * pairs, xy.data() + 2 * lead, 0.0, 1.0) != 0)
    xy.clear();
  __qorDeleteStream(&s);
  return xy;
}

void tour_quasi() {
  zok::app::tour_heading("random streams: quasi-random points");
  // The sequence proper starts with the zero point, which the stream leaves out: with it, the first
  // 2^8 points put one in every cell.
  const std::vector<double> sobol = draw(ZOK_RNG_SOBOL, {2}, kPoints - 1, 1),
                            mcg = draw(ZOK_RNG_MCG31M1, {7}, kPoints, 0);
  if (sobol.empty() || mcg.empty()) return;
  const std::vector<int> a = histogram(sobol), b = histogram(mcg);
  std::printf("  %d points on a %dx%d grid (points per cell, . for none)\n", kPoints, kCells, kCells);
  std::printf("  %-*s  %s\n", 2 * kCells, "SOBOL dims 1-2, zero point + 255", "MCG31M1, pairs");
  for (int row = kCells - 1; row >= 0; --row) {
    std::printf("  ");
    for (const std::vector<int>* h : {&a, &b}) {
      for (int col = 0; col < kCells; ++col) {
        const int n = (*h)[row * kCells + col];
        std::printf("%c%s",
                    n == 0  ? '.'
                    : n > 9 ? '+'
                            : static_cast<char>('0' + n),
                    col + 1 < kCells ? " "
                    : h == &a        ? "    "
                                     : "");
      }
    }
    std::printf("\n");
  }
  std::printf("  empty cells: SOBOL %d, MCG31M1 %d\n", static_cast<int>(std::count(a.begin(), a.end(), 0)),
              static_cast<int>(std::count(b.begin(), b.end(), 0)));

  for (uint32_t dim : {1u, 40u}) {
    StreamRecord* s = nullptr;
    std::vector<double> out(1000000 / dim * dim);
    double best = 1e30;
    for (int rep = 0; rep < 5 && __qorNewStreamEx(&s, ZOK_RNG_SOBOL, 1, &dim) == 0; ++rep) {
      const auto start = std::chrono::steady_clock::now();
      __qordBRngSobol(s, static_cast<int32_t>(out.size()), out.data(), 0.0, 1.0);
      best = std::min(
          best, std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count());
      __qorDeleteStream(&s);
    }
    __qorDeleteStream(&s);
    std::printf("  SOBOL in %u dimension%s: %.2f ns per coordinate (doubles, a million of them)\n", dim,
                dim == 1 ? "" : "s", best / static_cast<double>(out.size()));
  }
}

const bool kRegistered = zok::app::register_command({"rng-quasi", nullptr, nullptr, tour_quasi, 102});

}  // namespace
