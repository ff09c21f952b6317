// Stream images: the byte layout, round trips of every built generator through files and buffers,
// chunk records, refused headers and states, every failure status, and reads that stay in bounds.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "streams/generators/hardware.h"
#include "streams/registry.h"
#include "streams/shared_data.h"
#include "tests/streams/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;
using zok::test::block;
using zok::test::chunk_list;
using zok::test::refcount;
using SaveLoad = zok::test::StreamTest;

const std::string kFile = ::testing::TempDir() + "saveload_test.img";

Bytes image_of(const StreamRecord* s) {
  Bytes b(static_cast<size_t>(__qorGetStreamSize(s)));
  EXPECT_EQ(__qorSaveStreamM(s, b.data()), 0);
  return b;
}
Bytes file_bytes() {
  std::ifstream f(kFile, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}
void write_file(const Bytes& b, size_t n) {
  std::ofstream(kFile, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(n));
}
// Loads `image` in every form (whole buffer, exact length, file); each must give `expected`, and a
// failure no stream. Returns the loaded copies.
std::vector<StreamRecord*> load_all(const Bytes& image, int32_t expected, int32_t memory_expected) {
  std::vector<StreamRecord*> s(3, reinterpret_cast<StreamRecord*>(1));
  write_file(image, image.size());
  EXPECT_EQ(__qorLoadStreamM(&s[0], image.data()), memory_expected);
  EXPECT_EQ(__qorLoadStreamMEx(&s[1], image.data(), image.size()), memory_expected);
  EXPECT_EQ(__qorLoadStreamF(&s[2], kFile.c_str(), -1), expected);
  for (StreamRecord* r : s) EXPECT_TRUE(expected == 0 || r == nullptr);
  return s;
}

TEST_F(SaveLoad, Mcg31m1ImageByteByByte) {
  StreamRecord* s = nullptr;
  const uint32_t seed = 1;
  ASSERT_EQ(__qorNewStreamEx(&s, ZOK_RNG_MCG31M1, 1, &seed), 0);
  // Version, magic, header size 20, state size 8, no chunks, identifier; state x = 1, a = 1132489760.
  const Bytes expected = {1, 0, 0, 0, 'R',  'N', 'G', 0, 20, 0, 8,    0,    0,    0,
                          0, 0, 0, 0, 0x10, 0,   1,   0, 0,  0, 0x20, 0x6C, 0x80, 0x43};
  EXPECT_EQ(image_of(s), expected);
  ASSERT_EQ(__qorSaveStreamF(s, kFile.c_str(), static_cast<int32_t>(kFile.size())), 0);
  EXPECT_EQ(file_bytes(), expected);
  __qorDeleteStream(&s);
}

// After a partial block the copies continue the original bit for bit in integers and doubles.
TEST_F(SaveLoad, EveryBuiltGeneratorRoundTrips) {
  std::vector<int32_t> ids = {4, 276, ZOK_RNG_WH + 100, ZOK_RNG_MT2203 + 3};  // legacy WH, members
  for (int32_t r = 0; r < zok::rng::kBuiltinRows; ++r)
    if (!zok::rng::has_placeholder_operations(__RegBrngsNew[r])) ids.push_back((r + 1) * ZOK_RNG_ID_STEP);
  const uint32_t seeds[4] = {11, 22, 33, 44};
  for (int32_t id : ids) {
    if ((id == ZOK_RNG_TRNG && !zok::rng::has_rdrand()) || (id == ZOK_RNG_ARS5 && !zok::rng::has_aes()))
      continue;
    SCOPED_TRACE(id);
    StreamRecord* s = nullptr;
    ASSERT_EQ(__qorNewStreamEx(&s, id, 4, seeds), 0);
    const GeneratorProperties& row = *zok::rng::operations_row(id);
    std::vector<uint32_t> want(64), got(64);
    std::vector<double> dwant(9), dgot(9);
    ASSERT_EQ(row.generate_i(s, 7, want.data()), 0);
    const Bytes image = image_of(s);
    EXPECT_EQ(image.size(), static_cast<size_t>(row.state_size + 4));
    ASSERT_EQ(row.generate_i(s, 9, want.data()), 0);
    ASSERT_EQ(row.generate_d(s, 9, dwant.data(), -1.0, 3.0), 0);
    for (StreamRecord* c : load_all(image, 0, 0)) {
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(c->brng, id);
      ASSERT_EQ(row.generate_i(c, 9, got.data()), 0);
      ASSERT_EQ(row.generate_d(c, 9, dgot.data(), -1.0, 3.0), 0);
      EXPECT_TRUE(id == ZOK_RNG_TRNG || (got == want && dgot == dwant));
      __qorDeleteStream(&c);
    }
    __qorDeleteStream(&s);
  }
}

// The largest record's state size exceeds the 16-bit field; its image still round-trips whole.
TEST_F(SaveLoad, LargeRecordRoundTrips) {
  StreamRecord* s = nullptr;
  ASSERT_EQ(__qorAllocateStream(&s, __RegBrngsNew, ZOK_RNG_NIEDERR, 6, 0), 0);
  auto* state = reinterpret_cast<unsigned char*>(s) + 16;
  for (int i = 0; i < 84272; ++i) state[i] = static_cast<unsigned char>(i * 7 + i / 256);
  const Bytes image = image_of(s);
  EXPECT_EQ(image[10] | image[11] << 8, 84272 & 0xFFFF);
  for (StreamRecord* c : load_all(image, 0, 0)) {
    EXPECT_EQ(std::memcmp(reinterpret_cast<unsigned char*>(c) + 16, state, 84272), 0);
    __qorDeleteStream(&c);
  }
  __qorDeleteStream(&s);
}

TEST_F(SaveLoad, ChunksKeepTheirRecordsAndSharing) {
  StreamRecord* s = make(5);
  const uint64_t held[2] = {0x1111, 0x2222}, unheld[2] = {0x3333, 0x4444};
  void* shared = block(8, 0x5A);
  GlobalRODataEntry* entry = nullptr;
  ASSERT_EQ(__qorCreateGlobRODataTableEntry(&entry, held, shared), 0);
  ASSERT_EQ(__qorAddChunk(s, 7, nullptr, block(3, 0xC3), 3), 0);
  ASSERT_EQ(__qorAddChunk(s, 8, nullptr, nullptr, 0), 0);
  ASSERT_EQ(__qorAddChunk(s, 9, held, shared, 8), 0);
  ASSERT_EQ(__qorAddChunk(s, 10, unheld, block(5, 0xE1), 5), 0);
  const Bytes image = image_of(s);
  const size_t base = 20 + zok::test::kCounterStateSize - 16;
  ASSERT_EQ(image.size(), base + 4 * 24 + 5 + 8 + 0 + 3);
  EXPECT_EQ(image[12], 4);
  // Head first: id 10 with its key and size, then its five bytes.
  const Bytes head(image.begin() + base, image.begin() + base + 29);
  EXPECT_EQ(head, (Bytes{10, 0, 0, 0, 0x33, 0x33, 0, 0, 0, 0,    0,    0,    0x44, 0x44, 0,
                         0,  0, 0, 0, 0,    5,    0, 0, 0, 0xE1, 0xE1, 0xE1, 0xE1, 0xE1}));
  __qorDeleteStream(&s);  // the unheld key's entry goes with it
  ASSERT_EQ(refcount(unheld), -1);
  const int32_t before = refcount(held);
  StreamRecord* c = nullptr;
  ASSERT_EQ(__qorLoadStreamM(&c, image.data()), 0);
  const auto list = chunk_list(c);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_TRUE(list[0]->id == 7 && list[1]->id == 8 && list[2]->id == 9 && list[3]->id == 10);
  EXPECT_EQ(std::memcmp(list[0]->data, "\xC3\xC3\xC3", 3), 0);
  EXPECT_EQ(list[1]->size, 0);
  EXPECT_EQ(list[2]->data, shared);
  EXPECT_EQ(refcount(held), before + 1);
  EXPECT_EQ(refcount(unheld), 1);
  __qorDeleteStream(&c);
  EXPECT_EQ(refcount(unheld), -1);

  // Version 0: the same records without keys, loaded with key zero.
  Bytes v0(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(base));
  v0[0] = 0;
  for (size_t at = base; at < image.size();) {
    const uint32_t size = image[at + 20];
    v0.insert(v0.end(), image.begin() + at, image.begin() + at + 4);
    v0.insert(v0.end(), image.begin() + at + 20, image.begin() + at + 24 + size);
    at += 24 + size;
  }
  ASSERT_EQ(__qorLoadStreamMEx(&c, v0.data(), v0.size()), 0);
  for (const StreamChunk* k : chunk_list(c)) EXPECT_TRUE(k->key[0] == 0 && k->key[1] == 0);
  __qorDeleteStream(&c);
  EXPECT_EQ(refcount(held), before);
  __qorUnregisterGlobRODataReference(held);
}

// Each damage refuses the image in every form with the form's code and leaves no stream.
TEST_F(SaveLoad, DamagedHeadersAndStatesAreRefused) {
  struct Case {
    int32_t brng;
    size_t at;  // byte to overwrite, little-endian
    uint32_t value;
    int width;
  } cases[] = {
      {ZOK_RNG_MCG31M1, 4, 'X', 1},
      {ZOK_RNG_MCG31M1, 6, 0, 1},
      {ZOK_RNG_MCG31M1, 16, 0x7F00000, 4},
      {ZOK_RNG_MCG31M1, 16, 279, 4},
      {ZOK_RNG_MCG31M1, 10, 9, 2},
      {ZOK_RNG_MCG31M1, 8, 19, 2},
      {ZOK_RNG_R250, 20 + 1000, 250, 4},
      {ZOK_RNG_R250, 20 + 1004, 102, 4},
      {ZOK_RNG_PHILOX4X32X10, 20 + 24, 5, 4},
      {ZOK_RNG_MT19937, 20 + 2496, 625, 4},
      {ZOK_RNG_MT2203, 20 + 276, 70, 4},
      {ZOK_RNG_SFMT19937, 20 + 2512, 625, 4},
  };
  const uint32_t seed = 3;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at);
    StreamRecord* s = nullptr;
    ASSERT_EQ(__qorNewStreamEx(&s, c.brng, 1, &seed), 0);
    Bytes image = image_of(s);
    __qorDeleteStream(&s);
    for (int k = 0; k < c.width; ++k) image[c.at + k] = static_cast<unsigned char>(c.value >> 8 * k);
    load_all(image, ZOK_RNG_ERROR_FILE_HEADER, ZOK_RNG_ERROR_MEMORY_HEADER);
  }
}

TEST_F(SaveLoad, OlderHeaderForms) {
  StreamRecord* s = make(9);
  Bytes image = image_of(s);
  image[8] = 24;  // a longer header is accepted and nothing is skipped
  for (StreamRecord* c : load_all(image, 0, 0)) {
    EXPECT_EQ(std::memcmp(c + 1, s + 1, zok::test::kCounterStateSize - 16), 0);
    __qorDeleteStream(&c);
  }
  std::memcpy(image.data(), "RNG\0\0\0\0", 7);  // magic at the start; no chunk version
  for (StreamRecord* c : load_all(image, 0, 0)) __qorDeleteStream(&c);
  ASSERT_EQ(__qorAddChunk(s, 1, nullptr, nullptr, 0), 0);
  Bytes chunked = image_of(s);
  std::memcpy(chunked.data(), image.data(), 20);
  chunked[12] = 1;
  load_all(chunked, ZOK_RNG_ERROR_FILE_READ, ZOK_RNG_ERROR_FILE_READ);
  __qorDeleteStream(&s);
}

TEST_F(SaveLoad, FileStatuses) {
  StreamRecord* s = make(2);
  StreamRecord* c = nullptr;
  EXPECT_EQ(__qorSaveStreamF(s, "/nonexistent/dir/x", -1), ZOK_RNG_ERROR_FILE_OPEN);
  EXPECT_EQ(__qorLoadStreamF(&c, "/nonexistent/dir/x", 18), ZOK_RNG_ERROR_FILE_OPEN);
  EXPECT_EQ(__qorSaveStreamF(s, "/dev/full", -1), ZOK_RNG_ERROR_FILE_CLOSE);  // buffered: fails at close
  ASSERT_EQ(__qorAddChunk(s, 1, nullptr, block(1 << 16, 1), 1 << 16), 0);
  EXPECT_EQ(__qorSaveStreamF(s, "/dev/full", -1), ZOK_RNG_ERROR_FILE_WRITE);
  const Bytes image = image_of(s);
  for (size_t n = 0; n < image.size(); n += n < 200 ? 1 : 997) {
    write_file(image, n);
    EXPECT_EQ(__qorLoadStreamF(&c, kFile.c_str(), -1), ZOK_RNG_ERROR_FILE_READ) << n;
    EXPECT_EQ(c, nullptr);
  }
  zok::rng::override_rdrand(0);
  zok::rng::override_aes(0);
  for (int32_t id : {ZOK_RNG_TRNG, ZOK_RNG_ARS5}) {
    StreamRecord* t = nullptr;
    ASSERT_EQ(__qorAllocateStream(&t, __RegBrngsNew, id, (id >> 20) - 1, 0), 0);
    const int32_t want = id == ZOK_RNG_TRNG ? ZOK_RNG_ERROR_NO_RDRAND : ZOK_RNG_ERROR_NO_AES;
    load_all(image_of(t), want, want);
    __qorDeleteStream(&t);
  }
  zok::rng::override_rdrand(-1);
  zok::rng::override_aes(-1);
  __qorDeleteStream(&s);
}

// Every allocation of a load or a file save fails in turn: -4, nothing kept, shared counts as before.
TEST_F(SaveLoad, AllocationFailures) {
  StreamRecord* s = make(4);
  const uint64_t key[2] = {0x77, 0x88};
  ASSERT_EQ(__qorAddChunk(s, 1, key, block(16, 2), 16), 0);
  ASSERT_EQ(__qorAddChunk(s, 2, nullptr, block(16, 3), 16), 0);
  const Bytes image = image_of(s);
  StreamRecord* c = nullptr;
  EXPECT_EQ(zok::test::sweep([&] { return __qorLoadStreamMEx(&c, image.data(), image.size()); },
                             [&] {
                               EXPECT_EQ(c, nullptr);
                               EXPECT_EQ(refcount(key), 1);
                             }),
            5);
  __qorDeleteStream(&c);
  EXPECT_EQ(zok::test::sweep([&] { return __qorSaveStreamF(s, kFile.c_str(), 3); }, [] {}), 1);
  std::remove(kFile.substr(0, 3).c_str());
  __qorDeleteStream(&s);
}

// An image cut anywhere ends at a page nobody may read: the length-taking form stops at the cut,
// the length-less one reads a whole image and nothing more.
TEST_F(SaveLoad, ReadsStayInsideTheImage) {
  StreamRecord* s = make(6);
  ASSERT_EQ(__qorAddChunk(s, 1, nullptr, block(40, 4), 40), 0);
  ASSERT_EQ(__qorAddChunk(s, 2, nullptr, block(3, 5), 3), 0);
  const Bytes image = image_of(s);
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  auto* map = static_cast<unsigned char*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(map, MAP_FAILED);
  ASSERT_EQ(mprotect(map + page, page, PROT_NONE), 0);
  StreamRecord* c = nullptr;
  for (size_t n = 0; n <= image.size(); ++n) {
    unsigned char* at = map + page - n;
    std::memcpy(at, image.data(), n);
    EXPECT_EQ(__qorLoadStreamMEx(&c, at, n), n == image.size() ? 0 : ZOK_RNG_ERROR_FILE_READ) << n;
    __qorDeleteStream(&c);
  }
  EXPECT_EQ(__qorLoadStreamM(&c, map + page - image.size()), 0);
  __qorDeleteStream(&c);
  // A negative chunk size is refused, not taken for 4 GiB.
  Bytes bad = image;
  std::memset(&bad[20 + zok::test::kCounterStateSize - 16 + 20], 0xFF, 4);
  load_all(bad, ZOK_RNG_ERROR_FILE_READ, ZOK_RNG_ERROR_FILE_READ);
  munmap(map, 2 * page);
  __qorDeleteStream(&s);
}

// More chunks than the 16-bit count holds, or more bytes than a signed size, make no image.
TEST_F(SaveLoad, StreamsNoImageCanDescribe) {
  StreamRecord* s = make(8);
  Bytes buffer(64, 0xAB);
  ASSERT_EQ(__qorAddChunk(s, 1, nullptr, block(16, 0), 0x7FFFFFF0), 0);  // size only counted, never read
  EXPECT_EQ(__qorGetStreamSize(s), ZOK_RNG_ERROR_IMAGE_SIZE);
  EXPECT_EQ(__qorSaveStreamM(s, buffer.data()), ZOK_RNG_ERROR_IMAGE_SIZE);
  EXPECT_EQ(__qorSaveStreamF(s, kFile.c_str(), -1), ZOK_RNG_ERROR_IMAGE_SIZE);
  EXPECT_EQ(buffer, Bytes(64, 0xAB));
  __qorDeleteChunks(s);
  for (int k = 0; k < 65535; ++k) ASSERT_EQ(__qorAddChunk(s, k, nullptr, nullptr, 0), 0);
  EXPECT_EQ(__qorGetStreamSize(s), 20 + zok::test::kCounterStateSize - 16 + 65535 * 24);
  ASSERT_EQ(__qorAddChunk(s, 0, nullptr, nullptr, 0), 0);
  EXPECT_EQ(__qorGetStreamSize(s), ZOK_RNG_ERROR_IMAGE_SIZE);
  __qorDeleteStream(&s);
}

}  // namespace
