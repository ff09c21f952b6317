// The width of the generators' block paths: the vector-math instruction-set choice (so ZOK_ISA
// governs both), lowered by tests and benchmarks that measure every path.
#include <atomic>

#include "frame/functions.h"
#include "streams/generators/block_isa.h"

namespace zok::rng {

namespace {

// -1 while the block paths follow the vector-math choice.
constinit std::atomic<int> g_forced{-1};

}  // namespace

BlockIsa widest_block_isa() {
  switch (vm::selected_isa()) {
    case vm::Isa::kAvx512:
      return BlockIsa::kAvx512;
    case vm::Isa::kAvx2:
      return BlockIsa::kAvx2;
    default:
      return BlockIsa::kSse41;
  }
}

BlockIsa block_isa() {
  const int forced = g_forced.load(std::memory_order_relaxed);
  return forced < 0 ? widest_block_isa() : static_cast<BlockIsa>(forced);
}

void set_block_isa(BlockIsa isa) {
  const BlockIsa widest = widest_block_isa();
  g_forced.store(static_cast<int>(isa > widest ? widest : isa), std::memory_order_relaxed);
}

}  // namespace zok::rng
