// --split through the command line: the lines of identify and check, the
// outputs' names, and the JSON account of every part and of the bytes that
// belong to no file.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/json_check.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace tessaro::testing {
namespace {

std::string Kind(const std::string& name) {
  return ReadAll(std::string(TESSARO_SOURCE_DIR) + "/tests/data/kinds/" + name);
}

std::string Padded(std::string bytes, std::size_t cluster) {
  bytes.resize((bytes.size() + cluster - 1) / cluster * cluster, '\0');
  return bytes;
}

class SplitCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    png = Kind("ffmpeg.png");
    pdf = Kind("ghostscript.pdf");
    junk = std::string(512, '\x01');
    // A lost folder's clusters: a picture, old data, a document; and a
    // fragment that is one picture.
    many = source.Write("FILE0000000.CHK", Padded(png, 4096) + junk + Padded(pdf, 4096));
    one = source.Write("FILE0000001.CHK", Padded(png, 4096));
  }
  TempFolder source, dest;
  std::string catalogue = std::string(TESSARO_SOURCE_DIR) + "/resources/tessaro.cfg";
  std::string png, pdf, junk, many, one;
};

TEST_F(SplitCliTest, IdentifyAndCheckPrintALinePerFileWithItsOffset) {
  const auto identify = RunCli({"--config", catalogue, "identify", "--split", many, one});
  EXPECT_EQ(identify.exitCode, 0) << identify.err;
  EXPECT_EQ(identify.out, many + "\t.png\tPNG image\n" + many + "@4608\t.pdf\tPDF document\n" + one +
                              "\t.png\tPNG image\n");
  const auto check = RunCli({"--config", catalogue, "check", "--split", many});
  EXPECT_EQ(check.exitCode, 0) << check.err;
  EXPECT_EQ(check.out.rfind(many + "\t.png\tintact\t" + std::to_string(png.size()) + "\t", 0), 0u) << check.out;
  EXPECT_NE(check.out.find(many + "@4608\t.pdf\tintact\t" + std::to_string(pdf.size()) + "\t"), std::string::npos)
      << check.out;
}

TEST_F(SplitCliTest, RecoverWritesEachFileOnItsOwnAndAccountsForEveryByte) {
  const auto r = RunCli({"--config", catalogue, "recover", "--split", "--trim", "--json", source.str(), dest.str()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  JsonValue document;
  ASSERT_TRUE(ParseJson(r.out, document)) << r.out;
  // Parts are numbered in fragment order; a fragment that is one file keeps
  // its own name.
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0000000-0001.png"), png);
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0000000-0002.pdf"), pdf);
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0000001.png"), png);
  const JsonValue* files = document.Find("files");
  ASSERT_NE(files, nullptr);
  ASSERT_EQ(files->items.size(), 3u);
  struct Part {
    const char* fragment;
    const char* offset;
    std::size_t length;
  } parts[] = {{"FILE0000000.CHK", "0", png.size()}, {"FILE0000000.CHK", "4608", pdf.size()},
               {"FILE0000001.CHK", "0", png.size()}};
  // In the order the folder lists its fragments.
  for (const Part& part : parts) {
    int found = 0;
    for (const JsonValue& entry : files->items) {
      ASSERT_NE(entry.Find("fragment"), nullptr);
      if (entry.Find("fragment")->text != part.fragment || entry.Find("offset")->text != part.offset) continue;
      ++found;
      EXPECT_EQ(entry.Find("length")->text, std::to_string(part.length));
      EXPECT_EQ(entry.Find("verdict")->text, "intact");
    }
    EXPECT_EQ(found, 1) << part.fragment << "@" << part.offset;
  }
  const JsonValue* unclaimed = document.Find("unclaimed");
  ASSERT_NE(unclaimed, nullptr);
  ASSERT_EQ(unclaimed->items.size(), 1u);
  EXPECT_EQ(unclaimed->items[0].Find("fragment")->text, "FILE0000000.CHK");
  EXPECT_EQ(unclaimed->items[0].Find("offset")->text, "4096");
  EXPECT_EQ(unclaimed->items[0].Find("length")->text, "512");
}

}  // namespace
}  // namespace tessaro::testing
