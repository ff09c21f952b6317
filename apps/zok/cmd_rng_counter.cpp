// The tour stop of the counter-based and hardware generators: a Philox block, skips whose cost does
// not depend on their length, speed beside Random123's own loops, and the hardware unit's rate.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "apps/zok/commands.h"
#include "bench/random123_loops.h"
#include "zok/random.h"

namespace {

using Clock = std::chrono::steady_clock;

// Nanoseconds per word of fill(out, n), the best of five runs.
template <class Fill>
double ns_per_word(std::vector<uint32_t>& out, Fill fill) {
  double best = 1e30;
  for (int rep = 0; rep < 5; ++rep) {
    const auto start = Clock::now();
    fill(out.data(), static_cast<int32_t>(out.size()));
    best = std::min(best, std::chrono::duration<double, std::nano>(Clock::now() - start).count());
  }
  return best / static_cast<double>(out.size());
}

void tour_counter_based() {
  zok::app::tour_heading("random streams: counter-based and hardware generators");
  StreamRecord* s = nullptr;
  const uint32_t seeds[2] = {0, 0};
  if (__qorNewStreamEx(&s, ZOK_RNG_PHILOX4X32X10, 2, seeds) != 0) {
    __qorDeleteStream(&s);
    return;
  }
  uint32_t block[4] = {};
  __qoriBRngPHILOX4X32X10(s, 4, block);
  std::printf("  PHILOX4X32X10, key 0 and counter 0: block %u %u %u %u\n", block[0], block[1], block[2],
              block[3]);
  // A skip evaluates one block whatever its length: each one starts from the fresh state (copied
  // back first) and lands inside a block, which it computes.
  StreamRecord* fresh = nullptr;
  if (__qorCopyStream(&fresh, s) == 0) {
    for (uint64_t skip : {uint64_t{1}, (uint64_t{1} << 62) + 1}) {
      constexpr int kSkips = 20000;
      double best = 1e30;
      for (int rep = 0; rep < 5; ++rep) {
        const auto start = Clock::now();
        for (int i = 0; i < kSkips; ++i) {
          __qorCopyStreamState(s, fresh);
          __qorSkipAheadStream(s, skip);
        }
        best =
            std::min(best, std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kSkips);
      }
      std::printf("  state copy and skip ahead by %-20llu %6.1f ns (best of 5)\n",
                  static_cast<unsigned long long>(skip), best);
    }
  }
  __qorDeleteStream(&fresh);
  __qorDeleteStream(&s);

  std::vector<uint32_t> words(1 << 16);
  uint32_t counter = 0;
  const bool aes = __qorCPUisAES() != 0;
  std::printf("  ns per word over %zu words (best of 5):\n", words.size());
  for (const int32_t id : {ZOK_RNG_PHILOX4X32X10, ZOK_RNG_ARS5}) {
    if (id == ZOK_RNG_ARS5 && !aes) {
      std::printf("    ARS5: not on this processor (%d)\n", ZOK_RNG_ERROR_NO_AES);
      continue;
    }
    GeneratorProperties row{};
    if (__qorGetBrngProperties(id, &row) != 0 || __qorNewStreamEx(&s, id, 2, seeds) != 0) {
      __qorDeleteStream(&s);
      continue;
    }
    const double ours = ns_per_word(words, [&](uint32_t* r, int32_t n) { row.generate_i(s, n, r); });
    const double theirs = ns_per_word(words, [&](uint32_t* r, int32_t n) {
      if (id == ZOK_RNG_PHILOX4X32X10)
        zok::baseline::random123_philox(r, n, &counter);
      else
        zok::baseline::random123_ars5(r, n, &counter);
    });
    std::printf("    %-14s %6.2f   Random123's loop %6.2f   (%.1fx)\n",
                id == ZOK_RNG_ARS5 ? "ARS5" : "PHILOX4X32X10", ours, theirs, theirs / ours);
    __qorDeleteStream(&s);
  }

  if (__qorCPUisRDRAND() == 0) {
    std::printf("  hardware generator: not on this processor (%d)\n", ZOK_RNG_ERROR_NO_RDRAND);
    return;
  }
  std::vector<uint32_t> hw(1 << 14);
  if (__qorNewStreamEx(&s, ZOK_RNG_TRNG, 0, nullptr) == 0) {
    int32_t status = 0;
    const double ns = ns_per_word(hw, [&](uint32_t* r, int32_t n) { status = __qoriBRngTRNG(s, n, r); });
    if (status == 0)
      std::printf("  hardware generator: %.1f ns per word (%.0f million words per second)\n", ns, 1e3 / ns);
    else
      std::printf("  hardware generator: status %d\n", status);
  }
  __qorDeleteStream(&s);
}

const bool kRegistered =
    zok::app::register_command({"rng-counter", nullptr, nullptr, tour_counter_based, 101});

}  // namespace
