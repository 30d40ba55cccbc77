// The format rows against what they serve: the shipped catalogue's extensions
// and the real files of tests/data/kinds. And a file that begins inside a
// larger one, seen through a view, is checked and identified exactly as the
// same bytes alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalog/fragment_engine.h"
#include "engine/formats/format_row.h"
#include "platform/platform.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::TempFolder;

// The extensions of the shipped catalogue that have no checker on purpose.
const std::map<std::string, std::string> kUnchecked = {
    {"m2v", "MPEG video without a container: ffmpeg writes it without its sequence end code, so no end can be told"},
    {"mdb", "an Access database is a run of pages that no header counts, and Access leaves the pages it frees as they were"},
    {"accdb", "an Access database is a run of pages that no header counts, and Access leaves the pages it frees as they were"},
    {"dcm", "a DICOM data set runs to the end of the file: no element states where the last one ends"},
    {"tak", "no TAK encoder here to make a sample with frames to prove a checker on"},
};

std::string Extension(const fs::path& path) {
  std::string extension = path.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  return extension;
}

std::vector<fs::path> KindFiles() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::path(TESSARO_SOURCE_DIR) / "tests" / "data" / "kinds")) {
    if (entry.is_regular_file() && !Extension(entry.path()).empty()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FormatRowsTest, EveryExtensionHasOneRowInLowerCaseWithoutItsDot) {
  std::set<std::string> seen;
  ASSERT_GE(FormatRows().size(), 80u);
  for (const FormatRow* row : FormatRows()) {
    ASSERT_NE(row->extensions[0], nullptr) << "a row without extensions";
    EXPECT_NE(row->checker, nullptr) << row->extensions[0];
    EXPECT_TRUE(row->nameReader != nullptr || !row->nameReaderUsesCheck) << row->extensions[0];
    for (const char* extension : row->extensions) {
      if (extension == nullptr) break;
      const std::string name(extension);
      EXPECT_TRUE(seen.insert(name).second) << name << " is in two rows";
      EXPECT_FALSE(name.empty() || name.front() == '.') << name;
      EXPECT_EQ(name.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << name;
      EXPECT_EQ(FindEntry("." + name), row) << name;
    }
  }
}

// Every kind of the shipped catalogue is checked, but those listed with their
// reason; a listed one that gained a checker must leave the list.
TEST(FormatRowsTest, TheShippedCatalogueIsCheckedButTheListedExtensions) {
  FragmentEngine engine(testing::SharedCatalogue());
  ASSERT_TRUE(engine.ready) << engine.lastError;
  std::set<std::string> unchecked;
  for (int i = 0; i < engine.kindCount; ++i) {
    std::string extension = engine.kinds[static_cast<std::size_t>(i)]->ExtensionOrEmpty();
    if (extension.empty()) continue;
    extension.erase(0, 1);
    if (FindChecker(extension) == nullptr) unchecked.insert(extension);
  }
  std::set<std::string> listed;
  for (const auto& [extension, reason] : kUnchecked) listed.insert(extension);
  EXPECT_EQ(unchecked, listed);
}

// Every row is proven on a real file of one of its extensions, and every real
// file's extension has a row unless it is listed.
TEST(FormatRowsTest, EveryRowHasARealFileAndEveryRealFileARow) {
  std::set<const FormatRow*> proven;
  for (const fs::path& file : KindFiles()) {
    const std::string extension = Extension(file);
    const FormatRow* row = FindChecker(extension);
    if (row == nullptr) {
      EXPECT_EQ(kUnchecked.count(extension), 1u) << file.filename().string() << " has no checker";
      continue;
    }
    proven.insert(row);
  }
  for (const FormatRow* row : FormatRows()) {
    EXPECT_EQ(proven.count(row), 1u) << "no real file of ." << row->extensions[0];
  }
}

// One real file of each row, and every real file for identification, inside
// a larger file between other bytes: through a view, the same verdict,
// length, expectation and detail, and the same kind, as the bytes alone.
TEST(FormatRowsTest, AFileInsideAnotherIsCheckedAndIdentifiedThroughAViewAsAlone) {
  TempFolder folder;
  FragmentEngine engine(testing::SharedCatalogue());
  ASSERT_TRUE(engine.ready) << engine.lastError;
  Platform& platform = SystemPlatform();
  std::set<const FormatRow*> checked;
  int counter = 0;
  for (const fs::path& path : KindFiles()) {
    const std::string bytes = ReadAll(path.string());
    const std::string extension = Extension(path);
    const std::string alone = folder.Write("alone" + std::to_string(counter), bytes);
    // Before: bytes that begin other kinds; after: more than a sector of
    // bytes other than zeros, which a read past the view would meet.
    const std::string before = std::string("%PDF-1.4\n\x89PNG\r\n\x1A\n", 17) + std::string(1000 + counter, 'B');
    const std::string larger =
        folder.Write("larger" + std::to_string(counter++), before + bytes + std::string(4096 + 512, '\x5A'));
    int error = 0;
    const FileHandle file = platform.OpenRead(larger, error);
    ASSERT_NE(file, kNoFile) << larger;

    IdentifyStatus aloneStatus, viewStatus;
    const FileTypeRecord* aloneKind = engine.IdentifyFile(alone.c_str(), aloneStatus);
    const FileTypeRecord* viewKind = engine.IdentifyRange(file, before.size(), bytes.size(), "larger", viewStatus);
    EXPECT_EQ(viewKind, aloneKind) << path.filename().string();
    EXPECT_EQ(viewStatus, aloneStatus) << path.filename().string();

    const FormatRow* row = FindChecker(extension);
    if (row != nullptr && checked.insert(row).second) {
      bool readFailed = true;
      const CheckResult expected = CheckFile(platform, alone, extension, CheckOptions{}, readFailed, error);
      Fragment view(platform, file, before.size(), bytes.size());
      const CheckResult seen = CheckFragment(view, extension, CheckOptions{});
      EXPECT_FALSE(view.Failed()) << path.filename().string();
      EXPECT_EQ(VerdictName(seen.verdict), std::string(VerdictName(expected.verdict))) << path.filename().string();
      EXPECT_EQ(seen.length, expected.length) << path.filename().string();
      EXPECT_EQ(seen.expected, expected.expected) << path.filename().string();
      EXPECT_EQ(seen.detail, expected.detail) << path.filename().string();
    }
    platform.Close(file);
  }
  EXPECT_EQ(checked.size(), FormatRows().size());
}

}  // namespace
}  // namespace tessaro::formats
