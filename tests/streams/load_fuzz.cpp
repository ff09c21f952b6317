// Fuzzing the length-taking stream loader. Every input must either be refused with a negative status
// and no stream, or give a stream that draws in every form, sizes, saves and loads again. Built
// with libFuzzer when the compiler has it; otherwise (and in the normal test run) a deterministic
// driver mutates the seed images of every built generator.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "streams/registry.h"
#include "zok/core_services.h"
#include "zok/random.h"

namespace {

void require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "load fuzz: %s\n", what);
    std::abort();
  }
}

// Refused: a negative status and no stream. Accepted: the stream draws in every form (a generator
// may refuse, e.g. a stand-in row, but must not misbehave), sizes, saves and loads again.
bool run_one(const uint8_t* data, size_t size) {
  StreamRecord* s = reinterpret_cast<StreamRecord*>(&s);
  const int32_t status = __qorLoadStreamMEx(&s, data, size);
  require(status == 0 || (status < 0 && s == nullptr), "a refused image left a stream or a positive status");
  if (status != 0) return false;
  const GeneratorProperties* row = zok::rng::operations_row(s->brng);
  uint32_t words[4 * 37];
  double d[37];
  float f[37];
  row->generate_i(s, 37, words);
  row->generate_d(s, 37, d, -1.0, 1.0);
  row->generate_s(s, 37, f, 0.0f, 1.0f);
  std::vector<unsigned char> image(static_cast<size_t>(std::max(__qorGetStreamSize(s), 0)));
  StreamRecord* again = nullptr;
  require(image.size() >= 20 && __qorSaveStreamM(s, image.data()) == 0 &&
              __qorLoadStreamMEx(&again, image.data(), image.size()) == 0,
          "an accepted image does not size, save and load again");
  __qorDeleteStream(&again);
  __qorDeleteStream(&s);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  run_one(data, size);
  return 0;
}

#ifndef ZOK_LIBFUZZER
namespace {

// The seed images: every built generator after a few draws, some with private, shared and empty
// chunks.
struct Seed {
  std::string name;
  std::vector<unsigned char> image;
};
std::vector<Seed> seed_images() {
  std::vector<Seed> out;
  const uint32_t seeds[4] = {5, 6, 7, 8};
  for (int32_t r = 0; r < zok::rng::kBuiltinRows; ++r) {
    const GeneratorProperties& row = __RegBrngsNew[r];
    if (zok::rng::has_placeholder_operations(row)) continue;
    for (int chunks = 0; chunks < 2; ++chunks) {
      StreamRecord* s = nullptr;
      uint32_t words[4 * 5];
      if (__qorNewStreamEx(&s, (r + 1) * ZOK_RNG_ID_STEP, 4, seeds) == 0 &&
          row.generate_i(s, 5, words) == 0) {
        const uint64_t key[2] = {0x5EED, static_cast<uint64_t>(r)};
        for (int k = 0; k < 3 * chunks; ++k) {
          const int32_t size = k * 5;
          void* block = zok_serv_allocate(static_cast<size_t>(size), 128);
          std::memset(block, k + 1, static_cast<size_t>(size));
          if (__qorAddChunk(s, k, k == 1 ? key : nullptr, block, size) != 0) zok_serv_deallocate(block);
        }
        std::vector<unsigned char> image(static_cast<size_t>(__qorGetStreamSize(s)));
        __qorSaveStreamM(s, image.data());
        out.push_back({std::string(zok::rng::row_name(r)) + (chunks ? "_chunks" : ""), std::move(image)});
      }
      __qorDeleteStream(&s);
    }
  }
  return out;
}

uint64_t next(uint64_t& x) {
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  return x;
}

// A byte set at random, a 32-bit field set to an edge value, or a cut.
void mutate(std::vector<unsigned char>& b, uint64_t& x) {
  static const uint32_t kEdges[] = {4, 5, 20, 250, 624, 625, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  const size_t at = b.size() < 4 ? 0 : next(x) % (b.size() - 3), what = next(x) % 3;
  if (what == 0 && !b.empty()) b[at] = static_cast<unsigned char>(next(x));
  if (what == 1 && b.size() >= 4) std::memcpy(&b[at], &kEdges[next(x) % std::size(kEdges)], 4);
  if (what == 2) b.resize(at);
}

}  // namespace

// load_fuzz [ROUNDS] runs every seed and ROUNDS mutants of each (1, 2 or 3 mutations); load_fuzz
// --write-corpus DIR writes the seeds as DIR/<generator>[_chunks].img, the libFuzzer corpus.
int main(int argc, char** argv) {
  const auto seeds = seed_images();
  if (argc == 3 && std::strcmp(argv[1], "--write-corpus") == 0) {
    for (const Seed& seed : seeds)
      std::ofstream(std::string(argv[2]) + "/" + seed.name + ".img", std::ios::binary)
          .write(reinterpret_cast<const char*>(seed.image.data()), std::streamsize(seed.image.size()));
    return 0;
  }
  const long rounds = argc >= 2 ? std::strtol(argv[1], nullptr, 10) : 2000;
  uint64_t x = 0x9E3779B97F4A7C15u;
  long accepted = 0, runs = 0;
  for (const auto& seed : seeds) {
    for (long k = 0; k <= rounds; ++k, ++runs) {
      std::vector<unsigned char> b = seed.image;
      for (int m = k == 0 ? 0 : 1 + static_cast<int>(next(x) % 3); m > 0; --m) mutate(b, x);
      // An exact-size copy, so a read past the end is a sanitizer's report.
      const std::vector<unsigned char> exact(b);
      const bool ok = run_one(exact.data(), exact.size());
      require(ok || k > 0, "a seed image was refused");
      accepted += ok;
    }
  }
  std::printf("load fuzz: %ld inputs from %zu seeds, %ld accepted\n", runs, seeds.size(), accepted);
  return 0;
}
#endif
