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

void exercise(StreamRecord* s) {
  const GeneratorProperties* row = zok::rng::operations_row(s->brng);
  require(row != nullptr, "a loaded stream has no row");
  uint32_t words[4 * 37];
  double d[37];
  float f[37];
  // A generator may refuse (a stand-in row, a missing instruction); it must not misbehave.
  row->generate_i(s, 37, words);
  row->generate_d(s, 37, d, -1.0, 1.0);
  row->generate_s(s, 37, f, 0.0f, 1.0f);
  const int32_t size = __qorGetStreamSize(s);
  require(size >= 20, "a loaded stream has no image size");
  std::vector<unsigned char> image(static_cast<size_t>(size));
  require(__qorSaveStreamM(s, image.data()) == 0, "a loaded stream does not save");
  StreamRecord* again = nullptr;
  require(__qorLoadStreamMEx(&again, image.data(), image.size()) == 0, "a saved image does not load");
  require(__qorGetStreamSize(again) == size, "a reloaded image changed size");
  __qorDeleteStream(&again);
}

// True when the input is accepted.
bool run_one(const uint8_t* data, size_t size) {
  StreamRecord* s = reinterpret_cast<StreamRecord*>(&s);
  const int32_t status = __qorLoadStreamMEx(&s, data, size);
  if (status != 0) {
    require(status < 0 && s == nullptr, "a refused image left a stream or a positive status");
    return false;
  }
  exercise(s);
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

// One of: a byte set at random, a 32-bit field set to an edge value, a cut, a header byte changed.
void mutate(std::vector<unsigned char>& b, uint64_t& x) {
  static const uint32_t kEdges[] = {0,   1,   4,      5,          20,         249,       250,
                                    624, 625, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  const size_t at = b.empty() ? 0 : next(x) % b.size();
  switch (next(x) % 4) {
    case 0:
      if (!b.empty()) b[at] = static_cast<unsigned char>(next(x));
      break;
    case 1:
      if (b.size() >= 4) {
        const uint32_t v = kEdges[next(x) % std::size(kEdges)];
        std::memcpy(&b[at & ~size_t{3}], &v, std::min<size_t>(4, b.size() - (at & ~size_t{3})));
      }
      break;
    case 2:
      b.resize(at);
      break;
    default:
      if (b.size() >= 20) b[next(x) % 20] = static_cast<unsigned char>(next(x) % 3);
  }
}

}  // namespace

// load_fuzz [ROUNDS] runs every seed and ROUNDS mutants of each (1, 2 or 3 mutations). The seeds
// are DIR/<generator>[_chunks].img in the corpus.
int main(int argc, char** argv) {
  const auto seeds = seed_images();
  // --write-corpus DIR writes the seeds; --check-corpus DIR compares them with the committed ones,
  // so an image format that drifts fails here.
  if (argc == 3 &&
      (std::strcmp(argv[1], "--write-corpus") == 0 || std::strcmp(argv[1], "--check-corpus") == 0)) {
    const bool write = argv[1][2] == 'w';
    for (const Seed& seed : seeds) {
      const std::string path = std::string(argv[2]) + "/" + seed.name + ".img";
      if (write) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(seed.image.data()), std::streamsize(seed.image.size()));
        continue;
      }
      std::ifstream f(path, std::ios::binary);
      // A generator built after the corpus was written has no image there yet.
      if (!f) std::printf("load fuzz: no committed %s\n", path.c_str());
      require(!f || std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {}) == seed.image,
              "a committed seed image differs");
    }
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
