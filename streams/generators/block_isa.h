// The instruction set of the generators' block paths: the widest the processor and ZOK_ISA allow,
// lowered by tests and benchmarks that measure every path.
#pragma once

namespace zok::rng {

enum class BlockIsa { kSse41 = 0, kAvx2 = 1 };

// AVX2 when the processor and the operating system support it and ZOK_ISA does not ask for sse41.
BlockIsa widest_block_isa();
BlockIsa block_isa();
// Uses `isa` from now on, or the widest available when that is narrower.
void set_block_isa(BlockIsa isa);

}  // namespace zok::rng
