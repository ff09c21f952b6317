// The mode word: option parsing, per-thread first reads, SetMode field rules, table index.
#include <gtest/gtest.h>

#include <string>

#include "frame/thread_state.h"
#include "tests/frame/test_support.h"
#include "zok/vector_math.h"

namespace {

using zok::test::ModeOption;
using zok::test::on_fresh_thread;

uint32_t mode_of_fresh_thread(const char* option) {
  ModeOption env(option);
  return on_fresh_thread([] { return _yubGetMode(); });
}

TEST(ModeOption, AcceptedValuesOrTheirMasks) {
  EXPECT_EQ(mode_of_fresh_thread("YUB_LA,YUB_ERRMODE_STDERR"), 0x401u);
  EXPECT_EQ(mode_of_fresh_thread("YUB_LA,YUB_HA"), 0x3u);  // masks are ORed: LA|HA is EP
  EXPECT_EQ(mode_of_fresh_thread("YUB_EP"), 0x3u);
  EXPECT_EQ(mode_of_fresh_thread("YUB_HA,YUB_FLOAT_CONSISTENT"), 0x12u);
  EXPECT_EQ(mode_of_fresh_thread("YUB_LA,YUB_DOUBLE_CONSISTEN"), 0x21u);
  EXPECT_EQ(mode_of_fresh_thread("YUB_HA,YUB_RESTORE"), 0x32u);
  EXPECT_EQ(mode_of_fresh_thread("YUB_LA,YUB_ERRMODE_IGNORE"), 0x101u);
  EXPECT_EQ(mode_of_fresh_thread("YUB_HA,YUB_ERRMODE_ERRNO,YUB_ERRMODE_EXCEPT"), 0xA02u);
  EXPECT_EQ(mode_of_fresh_thread("YUB_EP,YUB_ERRMODE_CALLBACK"), 0x1003u);
  EXPECT_EQ(mode_of_fresh_thread("YUB_LA,YUB_ERRMODE_DEFAULT"), 0x1A01u);
}

TEST(ModeOption, MalformedValuesFallBackToTheDefault) {
  for (const char* bad :
       {"YUB_LA,HA", "YUB_LA;YUB_HA", "YUB_la", "YUB_DOUBLE_CONSISTENT", "YUB_HA,", "yub_HA", "YUB_",
        "YUB_LAX", " YUB_LA", "YUB_LA ", "YUB_HA,,YUB_LA", "YUB_ERRMODE_STDER"}) {
    EXPECT_EQ(mode_of_fresh_thread(bad), 0x1A02u) << bad;
  }
  EXPECT_EQ(mode_of_fresh_thread(nullptr), 0x1A02u);
  EXPECT_EQ(mode_of_fresh_thread(""), 0x1A02u);
}

TEST(ModeOption, TokensUpToTheEndOfTheBufferAndNoFurther) {
  std::string prefix;
  for (int i = 0; i < 34; ++i) prefix += "YUB_HA,";  // 238 characters
  // 238 + 17 = 255 characters: the last word ends on the buffer's last byte and is accepted.
  const std::string fits = prefix + "YUB_ERRMODE_ERRNO";
  ASSERT_EQ(fits.size(), 255u);
  EXPECT_EQ(mode_of_fresh_thread(fits.c_str()), 0x202u);
  // 256 characters: only 255 fit in the buffer, the last word is cut and the value is rejected.
  const std::string cut = prefix + "YUB_ERRMODE_STDERR";
  ASSERT_EQ(cut.size(), 256u);
  EXPECT_EQ(mode_of_fresh_thread(cut.c_str()), 0x1A02u);
}

TEST(ModeOption, DefaultPrecisionAloneLeavesTheModeUnsetAndReparses) {
  ModeOption env("YUB_DEFAULT_PRECISION");
  struct Seen {
    uint32_t first, index_first, after_change;
    int32_t index;
  };
  const Seen s = on_fresh_thread([] {
    Seen r{};
    r.first = _yubGetMode();
    r.index = zok_yub_kernel_GetTTableIndex();
    setenv("ZOK_YUB_MODE", "YUB_LA", 1);
    r.after_change = _yubGetMode();  // the stored 0 makes this read parse again
    return r;
  });
  EXPECT_EQ(s.first, 0u);
  EXPECT_EQ(s.index, -1);
  EXPECT_EQ(s.after_change, 0x1u);
}

TEST(ModeOption, EachThreadParsesOnceOnItsFirstRead) {
  ModeOption env("YUB_LA");
  const auto modes = on_fresh_thread([] {
    const uint32_t first = _yubGetMode();
    setenv("ZOK_YUB_MODE", "YUB_EP", 1);
    const uint32_t again = _yubGetMode();  // already set: not parsed again
    const uint32_t other = on_fresh_thread([] { return _yubGetMode(); });
    return std::to_string(first) + "," + std::to_string(again) + "," + std::to_string(other);
  });
  EXPECT_EQ(modes, "1,1,3");
}

TEST(ModeWord, DefaultSelectsTheHighAccuracySlot) {
  ModeOption env(nullptr);
  EXPECT_EQ(on_fresh_thread([] { return zok_yub_kernel_GetTTableIndex(); }), 1);
  EXPECT_EQ(on_fresh_thread([] { return zok_yub_kernel_GetMode(); }), 0x1A02u);
}

TEST(ModeWord, SetModeReplacesOnlyNonZeroFields) {
  ModeOption env(nullptr);
  const std::string trace = on_fresh_thread([] {
    std::string t;
    auto rec = [&t](uint32_t v) { t += std::to_string(v) + ";"; };
    rec(_yubSetMode(0));                    // nothing changes; the old (default) word comes back
    rec(_yubGetMode());                     // 0x1A02
    rec(_yubSetMode(0x30));                 // consistency is not settable here
    rec(_yubGetMode());                     // still 0x1A02
    rec(_yubSetMode(0x280001));             // LA and flush-to-zero; error mode kept
    rec(_yubGetMode());                     // 0x281A01
    rec(zok_yub_kernel_SetMode(0x140400));  // other name, same routine
    rec(_yubGetMode());                     // 0x140401
    rec(_yubSetMode(0xFF000000u | 0x3));    // high bits ignored
    rec(zok_yub_kernel_GetTTableIndex() + 100);
    return t;
  });
  EXPECT_EQ(trace, std::to_string(0x1A02) + ";" + std::to_string(0x1A02) + ";" + std::to_string(0x1A02) +
                       ";" + std::to_string(0x1A02) + ";" + std::to_string(0x1A02) + ";" +
                       std::to_string(0x281A01) + ";" + std::to_string(0x281A01) + ";" +
                       std::to_string(0x140401) + ";" + std::to_string(0x140401) + ";102;");
}

TEST(ModeWord, TableIndexOfAGivenWordAndTheSmallServices) {
  EXPECT_EQ(zok_yub_kernel_GetTTableIndexM(nullptr, 0x1A01), 0);
  EXPECT_EQ(zok_yub_kernel_GetTTableIndexM(nullptr, 0x3), 2);
  EXPECT_EQ(zok_yub_kernel_GetTTableIndexM(nullptr, 0x280000), -1);
  EXPECT_EQ(dll_cpu_version(), 0);
  double a[4];
  EXPECT_EQ(_yubSetInterfInputVectorPointer(a), a);
  EXPECT_EQ(zok_yub_kernel_SetInterfInputVectorPointer(nullptr), nullptr);
}

}  // namespace
