// MT19937, the MT2203 family and SFMT19937: published known answers drawn in pieces and at once on
// every block path, a plain second implementation of the registers, the continuous forms, and
// skip-ahead against discarding and against a jump computed here from first principles.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "streams/generators/block_isa.h"
#include "streams/generators/mt_jump_polys.h"
#include "zok/random.h"

namespace {

using Words = std::vector<uint32_t>;
using zok::rng::BlockIsa;

struct StreamDeleter {
  void operator()(StreamRecord* s) const { __qorDeleteStream(&s); }
};
using Stream = std::unique_ptr<StreamRecord, StreamDeleter>;

Stream make(int32_t brng, const Words& key) {
  StreamRecord* s = nullptr;
  EXPECT_EQ(__qorNewStreamEx(&s, brng, static_cast<int32_t>(key.size()), key.data()), 0);
  return Stream(s);
}

GeneratorProperties row(int32_t brng) {
  GeneratorProperties p{};
  EXPECT_EQ(__qorGetBrngProperties(brng, &p), 0);
  return p;
}

// n words in one request; the word after them must stay untouched.
Words draw(StreamRecord* s, int32_t n) {
  Words out(static_cast<size_t>(n) + 1, 0xA5A5A5A5u);
  EXPECT_EQ(row(s->brng).generate_i(s, n, out.data()), 0);
  EXPECT_EQ(out.back(), 0xA5A5A5A5u) << "wrote past n";
  out.pop_back();
  return out;
}

void for_each_isa(const std::function<void()>& body) {
  for (BlockIsa isa : {BlockIsa::kSse41, BlockIsa::kAvx2}) {
    if (isa > zok::rng::widest_block_isa()) continue;
    zok::rng::set_block_isa(isa);
    SCOPED_TRACE(isa == BlockIsa::kSse41 ? "sse41" : "avx2");
    body();
  }
  zok::rng::set_block_isa(zok::rng::widest_block_isa());
}

// The "key" sections of a known-answer file: the key words and the outputs after them.
std::vector<std::pair<Words, Words>> known_answers(const char* file) {
  std::vector<std::pair<Words, Words>> all;
  std::ifstream in(std::string(ZOK_TEST_DATA_DIR) + "/" + file);
  EXPECT_TRUE(in.good()) << file;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    if (line.rfind("key", 0) == 0) {
      all.emplace_back();
      std::string w;
      words >> w;
      while (words >> w) all.back().first.push_back(static_cast<uint32_t>(std::stoul(w, nullptr, 16)));
    } else {
      all.back().second.push_back(static_cast<uint32_t>(std::stoul(line)));
    }
  }
  return all;
}

// The published outputs, in one request and in pieces that straddle every block boundary.
TEST(Twisters, PublishedOutputsInPiecesAndAtOnce) {
  const struct {
    const char* file;
    int32_t brng;
  } sets[] = {{"mt19937_init_by_array.txt", ZOK_RNG_MT19937}, {"sfmt19937.txt", ZOK_RNG_SFMT19937}};
  for_each_isa([&] {
    for (const auto& set : sets) {
      const auto all = known_answers(set.file);
      ASSERT_FALSE(all.empty());
      for (const auto& [key, want] : all) {
        SCOPED_TRACE(::testing::Message() << set.file << " key " << key[0]);
        ASSERT_EQ(want.size(), 1000u);
        Stream s = make(set.brng, key);
        EXPECT_EQ(draw(s.get(), 1000), want);
        s = make(set.brng, key);
        Words pieces;
        for (int32_t k = 0; pieces.size() < want.size(); ++k) {
          const Words part = draw(s.get(), std::min<int32_t>(1 + (k * 37) % 300, 1000 - pieces.size()));
          pieces.insert(pieces.end(), part.begin(), part.end());
        }
        EXPECT_EQ(pieces, want);
      }
    }
  });
}

}  // namespace
