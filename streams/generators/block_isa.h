// The instruction set of the generators' block paths: the one the vector-math tables were filled
// for (the widest the processor runs, lowered by ZOK_ISA), lowered further by tests and benchmarks
// that measure every path.
#pragma once

namespace zok::rng {

enum class BlockIsa { kSse41 = 0, kAvx2 = 1, kAvx512 = 2 };

// The vector-math choice. A generator whose AVX-512 path did not measure faster than its AVX2 one
// (or that has none) uses AVX2 at this level.
BlockIsa widest_block_isa();
BlockIsa block_isa();
// Uses `isa` from now on, or the widest available when that is narrower.
void set_block_isa(BlockIsa isa);

}  // namespace zok::rng
