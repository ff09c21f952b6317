// The width of the generators' block paths: decided once from the processor and ZOK_ISA, lowered by
// tests that run every path.
#include <atomic>
#include <cstring>

#include "frame/cpu.h"
#include "streams/generators/block_isa.h"
#include "zok/core_services.h"

namespace zok::rng {

namespace {

// -1 until first asked; a race only repeats the same detection.
constinit std::atomic<int> g_isa{-1};

}  // namespace

BlockIsa widest_block_isa() {
  if (!detect_cpu_features().avx2) return BlockIsa::kSse41;
  char wanted[16] = {};
  if (zok_serv_getenv("ZOK_ISA", wanted, sizeof wanted) >= 0 && std::strcmp(wanted, "sse41") == 0)
    return BlockIsa::kSse41;
  return BlockIsa::kAvx2;
}

BlockIsa block_isa() {
  int isa = g_isa.load(std::memory_order_relaxed);
  if (isa < 0) {
    isa = static_cast<int>(widest_block_isa());
    g_isa.store(isa, std::memory_order_relaxed);
  }
  return static_cast<BlockIsa>(isa);
}

void set_block_isa(BlockIsa isa) {
  const BlockIsa widest = widest_block_isa();
  g_isa.store(static_cast<int>(isa > widest ? widest : isa), std::memory_order_relaxed);
}

}  // namespace zok::rng
