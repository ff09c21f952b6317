// Stream images: the byte layout, round trips of every built generator through files and buffers,
// chunk records, refused images with their statuses, allocation failures, reads that stay in bounds.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "streams/generators/hardware.h"
#include "streams/registry.h"
#include "tests/streams/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;
using zok::test::block;
using zok::test::refcount;
using SaveLoad = zok::test::StreamTest;

// One file per process: the test runner may run these tests as parallel processes.
const std::string kFile = ::testing::TempDir() + "saveload_test_" + std::to_string(getpid()) + ".img";
constexpr size_t kCounterImage = 20 + zok::test::kCounterStateSize - 16;  // without chunks

Bytes image_of(const StreamRecord* s) {
  Bytes b(static_cast<size_t>(__qorGetStreamSize(s)));
  EXPECT_EQ(__qorSaveStreamM(s, b.data()), 0);
  return b;
}
void write_file(const Bytes& b, size_t n) {
  std::ofstream(kFile, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(n));
}
// Loads `image` from a buffer, with its length and from a file; each form must give its expected
// status, and a failure no stream. Returns the three loaded streams.
std::vector<StreamRecord*> load_all(const Bytes& image, int32_t file_status, int32_t memory_status) {
  std::vector<StreamRecord*> s(3, reinterpret_cast<StreamRecord*>(1));
  write_file(image, image.size());
  EXPECT_EQ(__qorLoadStreamM(&s[0], image.data()), memory_status);
  EXPECT_EQ(__qorLoadStreamMEx(&s[1], image.data(), image.size()), memory_status);
  EXPECT_EQ(__qorLoadStreamF(&s[2], kFile.c_str(), -1), file_status);
  for (StreamRecord* r : s) EXPECT_TRUE(file_status == 0 || r == nullptr);
  return s;
}
Bytes seeded_image(int32_t brng, uint32_t seed) {
  StreamRecord* s = nullptr;
  EXPECT_EQ(__qorNewStreamEx(&s, brng, 1, &seed), 0);
  Bytes image = image_of(s);
  __qorDeleteStream(&s);
  return image;
}

TEST_F(SaveLoad, Mcg31m1ImageByteByByte) {
  // Version, magic, header size 20, state size 8, no chunks, identifier; state x = 1, a = 1132489760.
  const Bytes expected = {1, 0, 0, 0, 'R',  'N', 'G', 0, 20, 0, 8,    0,    0,    0,
                          0, 0, 0, 0, 0x10, 0,   1,   0, 0,  0, 0x20, 0x6C, 0x80, 0x43};
  EXPECT_EQ(seeded_image(ZOK_RNG_MCG31M1, 1), expected);
}

// The file image equals the memory image. After a partial block the copies continue the original
// bit for bit in integers and doubles. The largest record, whose state size exceeds the 16-bit field, comes
// back whole.
TEST_F(SaveLoad, EveryBuiltGeneratorRoundTrips) {
  std::vector<int32_t> ids = {4, 276, ZOK_RNG_WH + 100, ZOK_RNG_MT2203 + 3};  // legacy WH, members
  for (int32_t r = 0; r < zok::rng::kBuiltinRows; ++r)
    // Abstract streams come from constructors of their own (abstract_test.cpp).
    if (!zok::rng::has_placeholder_operations(__RegBrngsNew[r]) && (r < 9 || r > 11))
      ids.push_back((r + 1) * ZOK_RNG_ID_STEP);
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
    ASSERT_EQ(__qorSaveStreamF(s, kFile.c_str(), static_cast<int32_t>(kFile.size())), 0);
    std::ifstream f(kFile, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(f), {}), image);
    ASSERT_EQ(row.generate_i(s, 9, want.data()), 0);
    ASSERT_EQ(row.generate_d(s, 9, dwant.data(), -1.0, 3.0), 0);
    for (StreamRecord* c : load_all(image, 0, 0)) {
      EXPECT_EQ(c->brng, id);
      ASSERT_EQ(row.generate_i(c, 9, got.data()), 0);
      ASSERT_EQ(row.generate_d(c, 9, dgot.data(), -1.0, 3.0), 0);
      EXPECT_TRUE(id == ZOK_RNG_TRNG || (got == want && dgot == dwant));
      __qorDeleteStream(&c);
    }
    __qorDeleteStream(&s);
  }
  StreamRecord* s = nullptr;
  const uint32_t dimension = 318;
  ASSERT_EQ(__qorNewStreamEx(&s, ZOK_RNG_NIEDERR, 1, &dimension), 0);
  std::vector<double> points(318 + 5);  // one point and five coordinates of the next
  ASSERT_EQ(__qordBRngNiederr(s, 318 + 5, points.data(), 0.0, 1.0), 0);
  for (StreamRecord* c : load_all(image_of(s), 0, 0)) {
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(std::memcmp(c + 1, s + 1, 84272), 0);
    __qorDeleteStream(&c);
  }
  __qorDeleteStream(&s);
}

// Chunks come back reversed with their data; a held key is shared (one more reference), an unheld
// one is entered with the loaded block and released with the stream; version 0 carries no keys.
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
  __qorDeleteStream(&s);
  ASSERT_EQ(image.size(), kCounterImage + 4 * 24 + 5 + 8 + 0 + 3);
  // The head record: id 10, its key words, size 5, its data.
  EXPECT_EQ(Bytes(image.begin() + kCounterImage, image.begin() + kCounterImage + 29),
            (Bytes{10, 0, 0, 0, 0x33, 0x33, 0, 0, 0, 0,    0,    0,    0x44, 0x44, 0,
                   0,  0, 0, 0, 0,    5,    0, 0, 0, 0xE1, 0xE1, 0xE1, 0xE1, 0xE1}));
  Bytes v0(image.begin(), image.begin() + kCounterImage);  // the same records without keys
  v0[0] = 0;
  for (size_t at = kCounterImage; at < image.size(); at += 24 + image[at + 20]) {
    v0.insert(v0.end(), image.begin() + at, image.begin() + at + 4);
    v0.insert(v0.end(), image.begin() + at + 20, image.begin() + at + 24 + image[at + 20]);
  }
  for (const Bytes& b : {image, v0}) {
    StreamRecord* c = nullptr;
    ASSERT_EQ(__qorLoadStreamMEx(&c, b.data(), b.size()), 0);
    const auto list = zok::test::chunk_list(c);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_TRUE(list[0]->id == 7 && list[1]->id == 8 && list[2]->id == 9 && list[3]->id == 10);
    EXPECT_TRUE(std::memcmp(list[0]->data, "\xC3\xC3\xC3", 3) == 0 && list[1]->size == 0);
    const bool keyed = b[0] == 1;
    EXPECT_EQ(list[2]->data == shared, keyed);
    EXPECT_EQ(refcount(held), keyed ? 2 : 1);
    EXPECT_EQ(refcount(unheld), keyed ? 1 : -1);
    EXPECT_TRUE(keyed || (list[3]->key[0] == 0 && list[3]->key[1] == 0));
    __qorDeleteStream(&c);
    EXPECT_EQ(refcount(unheld), -1);
  }
  __qorUnregisterGlobRODataReference(held);
}

// One key for blocks of two sizes would point a chunk at a shorter block, which saving it would read
// past: __qorAddChunk refuses it and so does every loader, with nothing left held.
TEST_F(SaveLoad, OneKeyForTwoSizesIsRefused) {
  StreamRecord* s = make(5);
  const uint64_t a[2] = {0x5151, 0x6161}, b[2] = {0x7171, 0x8181};
  ASSERT_EQ(__qorAddChunk(s, 1, a, block(5, 0x11), 5), 0);
  void* other = block(3, 0x22);
  EXPECT_EQ(__qorAddChunk(s, 2, a, other, 3), ZOK_RNG_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(__qorGetNumChunks(s), 1);
  EXPECT_EQ(refcount(a), 1);
  ASSERT_EQ(__qorAddChunk(s, 2, b, other, 3), 0);
  Bytes image = image_of(s);
  __qorDeleteStream(&s);
  // The head record (key b, 3 bytes) takes key a, which the second record enters with 5 bytes.
  std::copy(image.begin() + kCounterImage + 24 + 3 + 4, image.begin() + kCounterImage + 24 + 3 + 20,
            image.begin() + kCounterImage + 4);
  for (StreamRecord* r : load_all(image, ZOK_RNG_ERROR_FILE_READ, ZOK_RNG_ERROR_FILE_READ))
    EXPECT_EQ(r, nullptr);
  EXPECT_EQ(refcount(a), -1);
  EXPECT_EQ(refcount(b), -1);
}

// One change to a valid image, and what every form of the loader must answer.
TEST_F(SaveLoad, ChangedImagesAreRefusedOrAccepted) {
  constexpr int32_t kHeader = -1, kShort = ZOK_RNG_ERROR_FILE_READ;
  const size_t chunk = kCounterImage;  // the first chunk record of the chunked image
  struct Case {
    int32_t brng;  // 0: the registered stream with one chunk
    size_t at;
    std::vector<unsigned char> bytes;
    int32_t status;
  } cases[] = {
      {ZOK_RNG_MCG31M1, 4, {'X'}, kHeader},
      {ZOK_RNG_MCG31M1, 16, {0, 0, 0xF0, 7}, kHeader},  // identifier of no row
      {ZOK_RNG_MCG31M1, 16, {23, 1, 0, 0}, kHeader},    // legacy 279 has no operations
      {ZOK_RNG_MCG31M1, 10, {9}, kHeader},              // state size
      {ZOK_RNG_MCG31M1, 8, {19}, kHeader},              // header size
      {ZOK_RNG_R250, 20 + 1000, {250}, kHeader},        // ring position
      {ZOK_RNG_R250, 20 + 1004, {102}, kHeader},        // lag
      {ZOK_RNG_PHILOX4X32X10, 20 + 24, {5}, kHeader},   // buffered words
      {ZOK_RNG_MT19937, 20 + 2496, {0x71, 2}, kHeader},
      {ZOK_RNG_MT2203, 20 + 276, {70}, kHeader},
      {ZOK_RNG_SFMT19937, 20 + 2512, {0x71, 2}, kHeader},
      {ZOK_RNG_SOBOL, 20 + 4, {41}, kHeader},                // a dimension beyond the tables
      {ZOK_RNG_NIEDERR, 20 + 4, {0x3F, 1}, kHeader},         // 319
      {ZOK_RNG_SOBOL, 20 + 4, {40}, 0},                      // the largest built-in one
      {ZOK_RNG_MCG31M1, 8, {24}, 0},                         // longer header, nothing skipped
      {ZOK_RNG_MCG31M1, 0, {'R', 'N', 'G', 0, 0, 0, 0}, 0},  // older magic, no chunks
      {0, 0, {'R', 'N', 'G', 0, 0, 0, 0}, kShort},           // older magic: no chunk version
      {0, 0, {2}, kShort},                                   // unknown chunk version
      {0, chunk + 20, {0xFF, 0xFF, 0xFF, 0xFF}, kShort},     // negative chunk size
  };
  StreamRecord* chunked = make(3);
  ASSERT_EQ(__qorAddChunk(chunked, 1, nullptr, block(4, 1), 4), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.brng << " " << c.at);
    Bytes image = c.brng != 0 ? seeded_image(c.brng, 3) : image_of(chunked);
    std::copy(c.bytes.begin(), c.bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(c.at));
    for (StreamRecord* s : load_all(image, c.status == kHeader ? ZOK_RNG_ERROR_FILE_HEADER : c.status,
                                    c.status == kHeader ? ZOK_RNG_ERROR_MEMORY_HEADER : c.status)) {
      EXPECT_TRUE(s == nullptr || std::memcmp(s + 1, &image[20], 8) == 0);
      __qorDeleteStream(&s);
    }
  }
  __qorDeleteStream(&chunked);
}

TEST_F(SaveLoad, FileAndProcessorStatuses) {
  StreamRecord* s = make(2);
  StreamRecord* c = nullptr;
  EXPECT_EQ(__qorSaveStreamF(s, "/nonexistent/x", -1), ZOK_RNG_ERROR_FILE_OPEN);
  EXPECT_EQ(__qorLoadStreamF(&c, "/nonexistent/x", 14), ZOK_RNG_ERROR_FILE_OPEN);
  ASSERT_EQ(__qorAddChunk(s, 1, nullptr, block(5, 1), 5), 0);
  const Bytes image = image_of(s);
  for (size_t n = 0; n < image.size(); ++n) {
    write_file(image, n);
    EXPECT_EQ(__qorLoadStreamF(&c, kFile.c_str(), -1), ZOK_RNG_ERROR_FILE_READ) << n;
    EXPECT_EQ(c, nullptr);
  }
  EXPECT_EQ(__qorSaveStreamF(s, "/dev/full", -1), ZOK_RNG_ERROR_FILE_CLOSE);  // buffered until the close
  ASSERT_EQ(__qorAddChunk(s, 1, nullptr, block(1 << 16, 1), 1 << 16), 0);
  EXPECT_EQ(__qorSaveStreamF(s, "/dev/full", -1), ZOK_RNG_ERROR_FILE_WRITE);
  __qorDeleteStream(&s);
  zok::rng::override_rdrand(0);
  zok::rng::override_aes(0);
  for (int32_t id : {ZOK_RNG_TRNG, ZOK_RNG_ARS5}) {
    ASSERT_EQ(__qorAllocateStream(&s, __RegBrngsNew, id, (id >> 20) - 1, 0), 0);
    const int32_t want = id == ZOK_RNG_TRNG ? ZOK_RNG_ERROR_NO_RDRAND : ZOK_RNG_ERROR_NO_AES;
    load_all(image_of(s), want, want);
    __qorDeleteStream(&s);
  }
  zok::rng::override_rdrand(-1);
  zok::rng::override_aes(-1);
}

// Every allocation of a load or a file save fails in turn: -4, nothing kept, shared counts as before.
TEST_F(SaveLoad, AllocationFailures) {
  StreamRecord* s = make(4);
  const uint64_t key[2] = {0x77, 0x88};
  ASSERT_EQ(__qorAddChunk(s, 1, key, block(16, 2), 16), 0);
  ASSERT_EQ(__qorAddChunk(s, 2, nullptr, block(16, 3), 16), 0);
  const Bytes image = image_of(s);
  StreamRecord* c = nullptr;
  const auto no_stream = [&] { EXPECT_TRUE(c == nullptr && refcount(key) == 1); };
  EXPECT_EQ(zok::test::sweep([&] { return __qorLoadStreamMEx(&c, image.data(), image.size()); }, no_stream),
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
  __qorDeleteStream(&s);
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  auto* map = static_cast<unsigned char*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_TRUE(map != MAP_FAILED && mprotect(map + page, page, PROT_NONE) == 0);
  for (size_t n = 0; n <= image.size(); ++n) {
    std::memcpy(map + page - n, image.data(), n);
    EXPECT_EQ(__qorLoadStreamMEx(&s, map + page - n, n), n == image.size() ? 0 : ZOK_RNG_ERROR_FILE_READ)
        << n;
    __qorDeleteStream(&s);
  }
  EXPECT_EQ(__qorLoadStreamM(&s, map + page - image.size()), 0);
  __qorDeleteStream(&s);
  munmap(map, 2 * page);
}

// More chunks than the 16-bit count holds, or more bytes than a signed size, make no image.
TEST_F(SaveLoad, StreamsNoImageCanDescribe) {
  StreamRecord* s = make(8);
  Bytes buffer(64, 0xAB);
  ASSERT_EQ(__qorAddChunk(s, 1, nullptr, block(16, 0), 0x7FFFFFF0), 0);  // the size is counted, not read
  EXPECT_EQ(__qorGetStreamSize(s), ZOK_RNG_ERROR_IMAGE_SIZE);
  EXPECT_EQ(__qorSaveStreamM(s, buffer.data()), ZOK_RNG_ERROR_IMAGE_SIZE);
  EXPECT_EQ(__qorSaveStreamF(s, kFile.c_str(), -1), ZOK_RNG_ERROR_IMAGE_SIZE);
  EXPECT_EQ(buffer, Bytes(64, 0xAB));
  __qorDeleteChunks(s);
  for (int k = 0; k < 65535; ++k) ASSERT_EQ(__qorAddChunk(s, k, nullptr, nullptr, 0), 0);
  EXPECT_EQ(__qorGetStreamSize(s), static_cast<int32_t>(kCounterImage + 65535 * 24));
  ASSERT_EQ(__qorAddChunk(s, 0, nullptr, nullptr, 0), 0);
  EXPECT_EQ(__qorGetStreamSize(s), ZOK_RNG_ERROR_IMAGE_SIZE);
  __qorDeleteStream(&s);
}

}  // namespace
