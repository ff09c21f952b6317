// Core services: allocation, locks, environment lookup, bounded copy, messages, exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "zok/core_services.h"

namespace {

// Alignment (128 by default, raised for a stronger request), whole block usable, impossible sizes
// refused, null freed harmlessly.
TEST(Allocate, AlignsAndRefusesImpossibleSizes) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{17}, size_t{4096}, size_t{1} << 20}) {
    void* p = zok_serv_allocate(size, 128);
    ASSERT_NE(p, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 128, 0u) << size;
    std::memset(p, 0xAB, size);  // checked by the sanitizer build
    zok_serv_deallocate(p);
  }
  for (auto [align, expect] : {std::pair{size_t{4096}, 4096u}, std::pair{size_t{24}, 128u}}) {
    void* p = zok_serv_allocate(100, align);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % expect, 0u) << align;
    zok_serv_deallocate(p);
  }
  EXPECT_EQ(zok_serv_allocate(SIZE_MAX, 128), nullptr);
  EXPECT_EQ(zok_serv_allocate(SIZE_MAX / 2, 128), nullptr);
  zok_serv_deallocate(nullptr);
}

// Many live blocks of mixed sizes and alignments keep what was written into them: no block, and
// no bookkeeping beside one, overlaps another; freeing them in a shuffled order is clean.
TEST(Allocate, LiveBlocksStayApart) {
  std::mt19937 rng(3);
  struct Block {
    unsigned char* p;
    size_t size;
  };
  std::vector<Block> blocks;
  for (int i = 0; i < 2000; ++i) {
    const size_t size = rng() % 700, align = size_t{1} << (rng() % 13);
    auto* p = static_cast<unsigned char*>(zok_serv_allocate(size, static_cast<int>(align)));
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % std::max<size_t>(align, 128), 0u) << align;
    std::memset(p, i & 0xFF, size);
    blocks.push_back({p, size});
  }
  std::shuffle(blocks.begin(), blocks.end(), rng);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const Block& b = blocks[i];
    for (size_t k = 0; k < b.size; ++k) ASSERT_EQ(b.p[k], b.p[0]) << "block " << i << " byte " << k;
    zok_serv_deallocate(b.p);
  }
}

// Mutual exclusion: a non-atomic increment with a pause inside loses counts on any overlap.
TEST(Lock, HoldsUnderContention) {
  int lock_word = 0;
  volatile long counter = 0;
  constexpr int kThreads = 8, kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        zok_serv_lock(&lock_word);
        const long v = counter;
        if ((i & 255) == 0) std::this_thread::yield();
        counter = v + 1;
        zok_serv_unlock(&lock_word);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, long{kThreads} * kRounds);
  EXPECT_EQ(lock_word, 0);
}

// Unset, empty and null names fail; a long value is cut to the buffer with its full length reported.
TEST(Getenv, CopiesBoundedAndReportsLength) {
  char buf[256 + 8];
  unsetenv("ZOK_TEST_VAR");
  EXPECT_LT(zok_serv_getenv("ZOK_TEST_VAR", buf, 256), 1);
  EXPECT_LT(zok_serv_getenv(nullptr, buf, 256), 1);
  setenv("ZOK_TEST_VAR", "", 1);
  EXPECT_LT(zok_serv_getenv("ZOK_TEST_VAR", buf, 256), 1);
  setenv("ZOK_TEST_VAR", "YUB_LA", 1);
  EXPECT_EQ(zok_serv_getenv("ZOK_TEST_VAR", buf, 256), 6);
  EXPECT_STREQ(buf, "YUB_LA");
  setenv("ZOK_TEST_VAR", std::string(300, 'q').c_str(), 1);
  std::memset(buf, 'Z', sizeof buf);
  EXPECT_EQ(zok_serv_getenv("ZOK_TEST_VAR", buf, 256), 300);
  EXPECT_EQ(std::strlen(buf), 255u);
  for (size_t i = 256; i < sizeof buf; ++i) EXPECT_EQ(buf[i], 'Z') << "wrote past the buffer at " << i;
  unsetenv("ZOK_TEST_VAR");
}

// Status codes, and on failure the destination is cleared but nothing past it is written.
TEST(MemcpyS, NeverWritesPastTheDestination) {
  char src[64], dest[32 + 8];
  for (int i = 0; i < 64; ++i) src[i] = static_cast<char>('a' + i % 26);
  std::memset(dest, '#', sizeof dest);
  EXPECT_EQ(zok_serv_memcpy_s(dest, 32, src, 20), 0);
  EXPECT_EQ(std::memcmp(dest, src, 20), 0);
  EXPECT_EQ(dest[20], '#');
  std::memset(dest, '#', sizeof dest);
  EXPECT_EQ(zok_serv_memcpy_s(dest, 32, src, 40), ERANGE);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(dest[i], i < 32 ? 0 : '#') << i;
  std::memset(dest, '#', sizeof dest);
  EXPECT_EQ(zok_serv_memcpy_s(dest, 32, nullptr, 4), EINVAL);
  EXPECT_EQ(dest[0], 0);
  EXPECT_EQ(dest[32], '#');
  EXPECT_EQ(zok_serv_memcpy_s(nullptr, 32, src, 4), EINVAL);
  EXPECT_EQ(zok_serv_memcpy_s(dest, 32, src, 32), 0);
  EXPECT_EQ(std::memcmp(dest, src, 32), 0);
}

// Message texts and argument formatting; a wrong count must not read the arguments; every
// catalogue number that kernels use has a text of its own.
TEST(Print, WritesNumberedMessagesToStandardError) {
  testing::internal::CaptureStderr();
  zok_serv_print(1, 739, 1, "vdExp");
  zok_serv_print(1, 742, 2, 7, 710.5);
  zok_serv_print(1, 735, 2, "vsLn", 12);
  zok_serv_print(1, 760, 0);
  zok_serv_print(1, 999, 0);
  zok_serv_print(1, 742, 0);  // wrong count: the arguments must not be read
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("zok-739: vdExp:"), std::string::npos) << out;
  EXPECT_NE(out.find("zok-742:   element 7: argument 710.5\n"), std::string::npos) << out;
  EXPECT_NE(out.find("zok-735: vsLn: bad argument at element 12\n"), std::string::npos) << out;
  EXPECT_NE(out.find("zok-760: "), std::string::npos) << out;
  EXPECT_NE(out.find("zok-999: (no catalogue text)"), std::string::npos) << out;
  for (int msg : {736, 737, 738, 740, 741}) {
    testing::internal::CaptureStderr();
    zok_serv_print(1, msg, 1, "vdX");
    const std::string line = testing::internal::GetCapturedStderr();
    EXPECT_EQ(line.rfind("zok-" + std::to_string(msg) + ": vdX: ", 0), 0u) << line;
  }
  for (int msg = 743; msg <= 753; ++msg) {
    testing::internal::CaptureStderr();
    zok_serv_print(1, msg, 2, 3, 1.25);
    const std::string line = testing::internal::GetCapturedStderr();
    EXPECT_NE(line.find("element 3: "), std::string::npos) << msg << ": " << line;
    EXPECT_NE(line.find("1.25"), std::string::npos) << msg << ": " << line;
  }
}

TEST(ExitDeathTest, EndsTheProcessWithTheCode) {
  EXPECT_EXIT(zok_serv_exit(3), testing::ExitedWithCode(3), "");
}

}  // namespace
