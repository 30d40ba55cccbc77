// detect without --split on a folder whose files lie inside a fragment of no
// kind: it says so, on standard error beside the table and in --json.

#include <gtest/gtest.h>

#include <string>

#include "support/json_check.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace tessaro::testing {
namespace {

TEST(DetectInsideTest, FragmentOfNoKindThatHoldsFilesIsNamedWithTheirCount) {
  TempFolder source;
  const std::string kinds = std::string(TESSARO_SOURCE_DIR) + "/tests/data/kinds/";
  // Old binary data first, then two files at sector boundaries; beside it a
  // fragment of no kind that holds nothing.
  std::string fragment;
  while (fragment.size() < 1024) fragment += std::string("\x85\x02\x3c\x71\x20\x00\x00\x00", 8);
  for (const char* name : {"ffmpeg.png", "ghostscript.pdf"}) {
    fragment += ReadAll(kinds + name);
    fragment.resize((fragment.size() + 511) / 512 * 512, '\0');
  }
  source.Write("FILE0000.CHK", fragment);
  source.Write("FILE0001.CHK", std::string(4096, '\x01') + std::string(4096, '\x02'));
  const std::string catalogue = std::string(TESSARO_SOURCE_DIR) + "/resources/tessaro.cfg";

  const auto table = RunCli({"--config", catalogue, "detect", source.str()});
  EXPECT_EQ(table.exitCode, 0) << table.err;
  EXPECT_NE(table.err.find("FILE0000.CHK: no kind, but it holds 2 files that --split finds\n"), std::string::npos)
      << table.err;
  EXPECT_EQ(table.err.find("FILE0001.CHK"), std::string::npos) << table.err;

  const auto json = RunCli({"--config", catalogue, "detect", "--json", source.str()});
  JsonValue document;
  ASSERT_TRUE(ParseJson(json.out, document)) << json.out;
  const JsonValue* inside = document.Find("inside");
  ASSERT_NE(inside, nullptr);
  ASSERT_EQ(inside->items.size(), 1u);
  EXPECT_EQ(inside->items[0].Find("fragment")->text, "FILE0000.CHK");
  EXPECT_EQ(inside->items[0].Find("files")->text, "2");
  EXPECT_EQ(inside->items[0].Find("records")->text, "false");
}

}  // namespace
}  // namespace tessaro::testing
