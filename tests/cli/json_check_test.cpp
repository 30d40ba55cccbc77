// The tests' own JSON reader, which judges tessaro-cli's reports where no
// python3 is at hand: it must refuse what is no JSON as firmly as python3's
// parser does, and take the rest apart exactly.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/json_check.h"
#include "support/run_program.h"

namespace tessaro::testing {
namespace {

struct Case {
  std::string text;
  bool valid;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"{}", true},
      {" [ ] ", true},
      {"{\"a\":[1,-0.5e+3,2E-7,0,true,false,null,\"x\"],\"b\":{}}\n", true},
      {"\"\\u00e9\\ud83d\\udcf7\\n\\/\\\"\"", true},
      {"\"\xe6\x96\x87\xf0\x9f\x93\xb7\"", true},
      {"", false},
      {"{", false},
      {"{\"a\":1,}", false},
      {"[1,]", false},
      {"[1 2]", false},
      {"{\"a\" 1}", false},
      {"{1:2}", false},
      {"[1]x", false},
      {"{}{}", false},
      {"01", false},
      {"1.", false},
      {"-", false},
      {".5", false},
      {"+1", false},
      {"tru", false},
      {"\"open", false},
      {"\"tab\tinside\"", false},
      {"\"\\x\"", false},
      {"\"\\u12\"", false},
      {"\"\xff\"", false},
      {"\"\xc0\xaf\"", false},
      {"\"\xed\xa0\x80\"", false},
      {"\"\xe6\x96\"", false},
      {"\"\xf4\x90\x80\x80\"", false},
  };
  return cases;
}

TEST(JsonCheckTest, RefusesWhatIsNoJsonAndTakesTheRest) {
  for (const Case& c : Cases()) {
    JsonValue value;
    EXPECT_EQ(ParseJson(c.text, value), c.valid) << ::testing::PrintToString(c.text);
  }
}

#if !defined(_WIN32)
// Where both judges are at hand they agree.
TEST(JsonCheckTest, AgreesWithPythonsParser) {
  for (const Case& c : Cases()) EXPECT_EQ(IsValidJson(c.text), c.valid) << ::testing::PrintToString(c.text);
}
#endif

TEST(JsonCheckTest, StringsAreDecodedAndMembersKeptInOrder) {
  JsonValue doc;
  ASSERT_TRUE(ParseJson("{\"name\":\"a\\tb\\u00e9\\ud83d\\udcf7\",\"files\":[{\"n\":1},null],\"name_hex\":\"ff\"}", doc));
  ASSERT_EQ(doc.type, JsonValue::Type::kObject);
  ASSERT_EQ(doc.members.size(), 3u);
  EXPECT_EQ(doc.members[2].first, "name_hex");
  EXPECT_EQ(doc.Find("name")->text, "a\tb\xc3\xa9\xf0\x9f\x93\xb7");
  const JsonValue* files = doc.Find("files");
  ASSERT_NE(files, nullptr);
  ASSERT_EQ(files->items.size(), 2u);
  EXPECT_EQ(files->items[0].Find("n")->text, "1");
  EXPECT_EQ(files->items[1].type, JsonValue::Type::kNull);
  EXPECT_EQ(doc.Find("absent"), nullptr);
}

TEST(JsonCheckTest, LoneSurrogatesAndDeepNestingAreRefused) {
  JsonValue value;
  EXPECT_FALSE(ParseJson("\"\\ud800\"", value));
  EXPECT_FALSE(ParseJson("\"\\udc00\\ud800\"", value));
  EXPECT_FALSE(ParseJson(std::string(100000, '['), value));
  EXPECT_TRUE(ParseJson(std::string(100, '[') + std::string(100, ']'), value));
}

}  // namespace
}  // namespace tessaro::testing
