// Runs a test body once per block-path instruction set of the generators that this machine has.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "streams/generators/block_isa.h"

namespace zok::test {

inline void for_each_isa(const std::function<void()>& body) {
  using rng::BlockIsa;
  for (BlockIsa isa : {BlockIsa::kSse41, BlockIsa::kAvx2, BlockIsa::kAvx512}) {
    if (isa > rng::widest_block_isa()) continue;
    rng::set_block_isa(isa);
    SCOPED_TRACE(isa == BlockIsa::kSse41 ? "sse41" : isa == BlockIsa::kAvx2 ? "avx2" : "avx512");
    body();
  }
  rng::set_block_isa(rng::widest_block_isa());
}

}  // namespace zok::test
