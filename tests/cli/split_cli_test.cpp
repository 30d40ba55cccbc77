// --split through the command line: the lines of identify and check, the
// outputs' names, and the JSON account of every part and of the bytes that
// belong to no file.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/json_check.h"
#include "support/rescue_kit.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace tessaro::testing {
namespace {

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

TEST(SplitNamesCliTest, OriginalNamesRebuildTheLostFolderInsideTheDestinationOnly) {
  // source/LOST+FOUND/FILE0000000.CHK and DEST side by side in one folder:
  // every file in it after the run is the fragment or lies under DEST.
  TempFolder root;
  StandardRescue rescue = MakeStandardRescue(4096, 1000);
  for (RescueRecord& r : rescue.top) {
    if (r.folder) r.name = u"..";  // the subfolder
  }
  const std::string png = Kind("ffmpeg.png"), odd = NoKindBytes(3000);
  const std::uint64_t n = rescue.nextFree;
  const std::string fragment = root.Write(
      "source/LOST+FOUND/FILE0000000.CHK",
      RescueBytes(rescue,
                  {{u"..", n, png.size()}, {u"a/b", n + 1, odd.size()}, {u"\x01" u"ctl", n + 2, odd.size()},
                   {u"../../escape.png", n + 3, png.size()}},
                  {}, {{n, png}, {n + 1, odd}, {n + 2, odd}, {n + 3, png}}));
  const fs::path dest = root.path() / "dest";
  const auto r = RunCli({"--config", std::string(TESSARO_SOURCE_DIR) + "/resources/tessaro.cfg", "recover", "--names",
                         "original", "--json", Utf8(root.path() / "source" / "LOST+FOUND"), Utf8(dest)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(IsValidJson(r.out)) << r.out;
  const fs::path lost = dest / "FILE0000000";
  for (const StandardRescue::File& f : rescue.files) {
    if (!f.folder.empty()) continue;
    EXPECT_EQ(ReadAll(Utf8(lost / fs::u8path(f.name))), f.bytes) << f.name;
  }
  // The subfolder named ".." and the hostile names: made safe, each file
  // whole, all of them inside the lost folder.
  std::vector<std::string> written;
  std::size_t pngs = 0, odds = 0, inSub = 0;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root.path())) {
    if (!e.is_regular_file()) continue;
    const fs::path relative = e.path().lexically_relative(root.path());
    if (relative == fs::path("source") / "LOST+FOUND" / "FILE0000000.CHK") continue;
    ASSERT_EQ(*relative.begin(), "dest") << Utf8(relative) << " written outside DEST";
    const fs::path inside = e.path().lexically_relative(lost);
    ASSERT_FALSE(inside.empty() || *inside.begin() == "..") << Utf8(relative) << " outside the lost folder";
    const std::string bytes = ReadAll(Utf8(e.path()));
    pngs += bytes == png;
    odds += bytes == odd;
    if (std::distance(inside.begin(), inside.end()) == 2) {
      ++inSub;
      EXPECT_TRUE(bytes == Kind("gzip.gz") || bytes == Kind("info-zip.zip")) << Utf8(relative);
    }
  }
  EXPECT_EQ(pngs, 3u);  // chart.png, ".." and "../../escape.png"
  EXPECT_EQ(odds, 3u);  // data.bin, "a/b" and "\x01ctl"
  EXPECT_EQ(inSub, 2u);
  EXPECT_FALSE(fs::exists(root.path().parent_path() / "escape.png"));
}

}  // namespace
}  // namespace tessaro::testing
