// The mode word: option parsing, per-thread first reads, SetMode field rules, table index.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "frame/thread_state.h"
#include "tests/frame/test_support.h"
#include "zok/vector_math.h"

namespace {

using zok::test::ModeOption;
using zok::test::on_fresh_thread;

// The mode a new thread reads first under the given option (null: unset).
uint32_t mode_of_fresh_thread(const char* option) {
  ModeOption env(option);
  return on_fresh_thread([] { return _yubGetMode(); });
}

// Each accepted word maps to its mask and masks are ORed (LA|HA is EP); "CONSISTEN" is the
// accepted spelling of the double-consistent word.
TEST(ModeOption, AcceptedValuesOrTheirMasks) {
  for (auto [value, mode] :
       {std::pair{"YUB_LA,YUB_ERRMODE_STDERR", 0x401u}, std::pair{"YUB_LA,YUB_HA", 0x3u},
        std::pair{"YUB_EP", 0x3u}, std::pair{"YUB_HA,YUB_FLOAT_CONSISTENT", 0x12u},
        std::pair{"YUB_LA,YUB_DOUBLE_CONSISTEN", 0x21u}, std::pair{"YUB_HA,YUB_RESTORE", 0x32u},
        std::pair{"YUB_LA,YUB_ERRMODE_IGNORE", 0x101u},
        std::pair{"YUB_HA,YUB_ERRMODE_ERRNO,YUB_ERRMODE_EXCEPT", 0xA02u},
        std::pair{"YUB_EP,YUB_ERRMODE_CALLBACK", 0x1003u}, std::pair{"YUB_LA,YUB_ERRMODE_DEFAULT", 0x1A01u}})
    EXPECT_EQ(mode_of_fresh_thread(value), mode) << value;
}

// Any malformed value (bad separator, case, spacing, unknown or truncated word) gives the default.
TEST(ModeOption, MalformedValuesFallBackToTheDefault) {
  for (const char* bad : {"YUB_LA,HA", "YUB_LA;YUB_HA", "YUB_la", "YUB_DOUBLE_CONSISTENT", "YUB_HA,",
                          "yub_HA", "YUB_", "YUB_LAX", " YUB_LA", "YUB_LA ", "YUB_HA,,YUB_LA",
                          "YUB_ERRMODE_STDER", "", static_cast<const char*>(nullptr)})
    EXPECT_EQ(mode_of_fresh_thread(bad), 0x1A02u) << (bad ? bad : "(unset)");
}

// The option is read into a 255-character buffer: a word ending on its last byte is accepted, a
// word cut by it makes the value malformed.
TEST(ModeOption, TokensUpToTheEndOfTheBufferAndNoFurther) {
  std::string prefix;
  for (int i = 0; i < 34; ++i) prefix += "YUB_HA,";  // 238 characters
  const std::string fits = prefix + "YUB_ERRMODE_ERRNO", cut = prefix + "YUB_ERRMODE_STDERR";
  ASSERT_EQ(fits.size(), 255u);
  ASSERT_EQ(cut.size(), 256u);
  EXPECT_EQ(mode_of_fresh_thread(fits.c_str()), 0x202u);
  EXPECT_EQ(mode_of_fresh_thread(cut.c_str()), 0x1A02u);
}

// Default precision alone stores 0 (table index -1), and the stored 0 makes the next read parse again.
TEST(ModeOption, DefaultPrecisionAloneLeavesTheModeUnsetAndReparses) {
  ModeOption env("YUB_DEFAULT_PRECISION");
  const auto seen = on_fresh_thread([] {
    const uint32_t first = _yubGetMode();
    const int32_t index = zok_yub_kernel_GetTTableIndex();
    setenv("ZOK_YUB_MODE", "YUB_LA", 1);
    return std::vector<int64_t>{first, index, _yubGetMode()};
  });
  EXPECT_EQ(seen, (std::vector<int64_t>{0, -1, 0x1}));
}

// A set mode is not parsed again on the same thread, but a new thread parses the changed option.
TEST(ModeOption, EachThreadParsesOnceOnItsFirstRead) {
  ModeOption env("YUB_LA");
  const auto modes = on_fresh_thread([] {
    const uint32_t first = _yubGetMode();
    setenv("ZOK_YUB_MODE", "YUB_EP", 1);
    const uint32_t again = _yubGetMode();
    return std::vector<uint32_t>{first, again, on_fresh_thread([] { return _yubGetMode(); })};
  });
  EXPECT_EQ(modes, (std::vector<uint32_t>{1, 1, 3}));
}

// Without the option the word is 0x1A02 (table slot 1, high accuracy); SetMode returns the old word
// and replaces only the fields that are non-zero in the new one; consistency and the high bits are
// not settable.
TEST(ModeWord, SetModeReplacesOnlyNonZeroFields) {
  ModeOption env(nullptr);
  const auto trace = on_fresh_thread([] {
    std::vector<int64_t> t{zok_yub_kernel_GetTTableIndex(), zok_yub_kernel_GetMode()};
    // Nothing; consistency (ignored); LA and flush-to-zero; the other name; high bits (ignored).
    for (uint32_t m : {0x0u, 0x30u, 0x280001u, 0x140400u, 0xFF000003u}) {
      t.push_back(m == 0x140400u ? zok_yub_kernel_SetMode(m) : _yubSetMode(m));
      t.push_back(_yubGetMode());
    }
    t.push_back(zok_yub_kernel_GetTTableIndex());
    return t;
  });
  EXPECT_EQ(trace, (std::vector<int64_t>{1, 0x1A02, 0x1A02, 0x1A02, 0x1A02, 0x1A02, 0x1A02, 0x281A01,
                                         0x281A01, 0x140401, 0x140401, 0x140403, 2}));
}

// The table index of a given word, and the small services that only hand values back.
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
