// Plain-loop baselines of the pack and unpack kernels, one set per instruction set: loops[type][kind],
// type s, d, c, z and kind PackI, PackV, PackM, UnpackI, UnpackV, UnpackM, with the kernels' arguments.
#pragma once

namespace zok::bench {
namespace isa_sse41 {
void pack_loops(void* loops[4][6]);
}
namespace isa_avx2 {
void pack_loops(void* loops[4][6]);
}
namespace isa_avx512 {
void pack_loops(void* loops[4][6]);
}
}  // namespace zok::bench
