// The optional skin: used when the library is there, skipped when it is not.
// Each case runs in a fresh process, since a loaded library stays loaded.

#include "win32/skin.h"

#include <gtest/gtest.h>

#include "win_test_support.h"

#if !defined(TESSARO_SKIN_DOUBLE_DIR) || !defined(TESSARO_SKIN_PLAIN_DIR)
#error "the folders of the stand-in libraries are given by the build"
#endif

namespace tessaro {
namespace {

using wintest::TempDir;
using wintest::W;

class SkinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = dir_ / "record.txt";
    SetEnvironmentVariableW(L"TESSARO_SKIN_RECORD", W(record_).c_str());
  }
  void TearDown() override { SetEnvironmentVariableW(L"TESSARO_SKIN_RECORD", nullptr); }

  TempDir dir_;
  std::string record_;
};

TEST_F(SkinTest, ThePresentLibraryGetsTheSkinFileAndZeroThroughOrdinalThree) {
  const int loaded = wintest::RunSelf(L"--load-skin \"" + W(TESSARO_SKIN_DOUBLE_DIR) + L"\"");
  EXPECT_EQ(loaded, 1);
  EXPECT_EQ(wintest::ReadFileBytes(record_), "xp_corona.ssk|0");
}

TEST_F(SkinTest, WithoutTheLibraryStartUpGoesOnWithoutASkin) {
  const int loaded = wintest::RunSelf(L"--load-skin");
  EXPECT_EQ(loaded, 0);
  EXPECT_FALSE(wintest::FileExists(record_));
}

TEST_F(SkinTest, ALibraryOfThatNameWithoutTheExportIsLeftAlone) {
  // The same stand-in, its function exported under another ordinal.
  EXPECT_EQ(wintest::RunSelf(L"--load-skin \"" + W(TESSARO_SKIN_PLAIN_DIR) + L"\""), 0);
  EXPECT_FALSE(wintest::FileExists(record_));
}

}  // namespace
}  // namespace tessaro
