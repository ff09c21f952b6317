// What the generator tests share: streams that delete themselves, a generator's registry row, and a
// run of a test body on every block-path instruction set of the generators that this machine has.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "streams/generators/block_isa.h"
#include "zok/random.h"

namespace zok::test {

struct StreamDeleter {
  void operator()(StreamRecord* s) const { __qorDeleteStream(&s); }
};
using Stream = std::unique_ptr<StreamRecord, StreamDeleter>;

inline Stream make(int32_t brng, const std::vector<uint32_t>& seeds) {
  StreamRecord* s = nullptr;
  EXPECT_EQ(__qorNewStreamEx(&s, brng, static_cast<int32_t>(seeds.size()), seeds.data()), 0);
  return Stream(s);
}

inline GeneratorProperties row(int32_t brng) {
  GeneratorProperties p{};
  EXPECT_EQ(__qorGetBrngProperties(brng, &p), 0);
  return p;
}

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
