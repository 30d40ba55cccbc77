// UTF-8 inside, UTF-16 at the edge: the conversion every name and text takes.

#include "platform/wide_text.h"

#include <gtest/gtest.h>

#include "win_test_support.h"

namespace tessaro::win32 {
namespace {

TEST(WideTextTest, RoundTripsEveryScriptAndAgreesWithTheSystem) {
  for (const char* raw :
       {"", "FILE0000.CHK", "让数据恢复更简单！", "नमस्ते", "tile😀🧩", "Ελληνικά ქართული"}) {
    const std::string text = raw;
    std::wstring wide;
    ASSERT_TRUE(Widen(text, wide)) << text;
    // The system's own converter is the reference.
    EXPECT_EQ(wide, wintest::W(text)) << text;
    EXPECT_EQ(Narrow(wide), text);
  }
}

TEST(WideTextTest, ALoneSurrogateComesBackAsTheSameUnit) {
  for (const std::wstring& odd : {std::wstring(L"a\xD800" L"b"), std::wstring(L"\xDFFF"),
                                 std::wstring(L"x\xDC00\xD800")}) {
    const std::string narrow = Narrow(odd);
    std::wstring back;
    ASSERT_TRUE(Widen(narrow, back));
    EXPECT_EQ(back, odd);
  }
}

TEST(WideTextTest, RefusesBytesThatAreNotUtf8) {
  std::wstring out;
  for (const std::string& bad : {std::string("\x80"), std::string("\xC0\x80"), std::string("\xE4\xB8"),
                                std::string("ab\xE4"), std::string("\xF5\x80\x80\x80"),
                                std::string("\xF0\x82\x82\xAC"), std::string("\xFF")}) {
    EXPECT_FALSE(Widen(bad, out)) << testing::PrintToString(bad);
  }
}

TEST(WideTextTest, TextsShowAReplacementForBadBytesAndKeepTheRest) {
  EXPECT_EQ(WidenText("read \xFF file 中"), L"read \xFFFD file \x4E2D");
  EXPECT_EQ(WidenText("\xE4\xB8"), L"\xFFFD\xFFFD");
  EXPECT_EQ(WidenText("正常"), wintest::W("正常"));
}

}  // namespace
}  // namespace tessaro::win32
