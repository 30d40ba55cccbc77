// The format checkers on real files made by real programs (tests/data/kinds):
// every file of an extension that has a checker is checked alone, with the
// slack a disk leaves (zeros; leftovers of another file of its kind, the
// hardest case), cut short, and with a byte changed; arbitrary bytes never
// give an end beyond the fragment.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/formats/format_row.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

namespace fs = std::filesystem;
using testing::RandomBytes;
using testing::ReadAll;
using testing::TempFolder;

constexpr std::size_t kCluster = 4096;

bool KnowsWhenCut(const std::string& extension) { return FindEntry(extension)->knowsWhenCut; }
bool ChecksEveryByte(const std::string& extension) { return FindEntry(extension)->checksEveryByte; }

struct RealFile {
  std::string name;
  std::string extension;  // lower case, no dot
  std::string bytes;
};

std::map<std::string, std::vector<RealFile>> CheckedFiles() {
  std::map<std::string, std::vector<RealFile>> byExtension;
  for (const auto& entry : fs::directory_iterator(fs::path(TESSARO_SOURCE_DIR) / "tests" / "data" / "kinds")) {
    std::string extension = entry.path().extension().string();
    if (extension.size() < 2) continue;
    extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    if (FindChecker(extension) == nullptr) continue;
    // The first clusters of a file, kept there for identification: heads by
    // design, which their checkers rightly call truncated.
    if (entry.path().filename().string().find("first-cluster") != std::string::npos) continue;
    byExtension[extension].push_back({entry.path().filename().string(), extension, ReadAll(entry.path().string())});
  }
  for (auto& [extension, files] : byExtension) {
    std::sort(files.begin(), files.end(), [](const RealFile& a, const RealFile& b) { return a.name < b.name; });
  }
  return byExtension;
}

class FormatCheckTest : public ::testing::Test {
 protected:
  CheckResult Check(const std::string& extension, const std::string& bytes) {
    const std::string path = folder_.Write("f" + std::to_string(counter_++), bytes);
    bool readFailed = true;
    int error = 0;
    CheckResult result = CheckFile(SystemPlatform(), path, extension, CheckOptions{}, readFailed, error);
    EXPECT_FALSE(readFailed);
    return result;
  }
  TempFolder folder_;
  int counter_ = 0;
};

std::string Describe(const CheckResult& r) {
  return std::string(VerdictName(r.verdict)) + " " + (r.length == kUnknown ? "-" : std::to_string(r.length)) + " (" +
         r.detail + ")";
}

TEST_F(FormatCheckTest, EveryCheckedRealFileIsIntactAtItsOwnLengthWhateverFollows) {
  const auto files = CheckedFiles();
  ASSERT_FALSE(files.empty());
  std::uint32_t seed = 1;
  for (const auto& [extension, list] : files) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      const RealFile& file = list[i];
      const std::uint64_t size = file.bytes.size();
      const std::size_t rest = kCluster - file.bytes.size() % kCluster;
      const std::size_t sectorRest = (512 - file.bytes.size() % 512) % 512;
      // Leftovers of another file of the same kind (or of itself, when it is
      // the only one), after zeros to the end of the sector.
      const std::string& other = list[(i + 1) % list.size()].bytes;
      std::string leftovers = other;
      while (leftovers.size() < rest + kCluster) leftovers += other;
      // A format that cannot tell when it is cut cannot tell its end when
      // nothing follows it either.
      std::vector<std::pair<const char*, std::string>> variants = {
          {"alone", file.bytes},
          {"with zero slack", file.bytes + std::string(rest, '\0')},
          {"with random slack", file.bytes + std::string(sectorRest, '\0') + RandomBytes(rest - sectorRest, seed++)},
          {"with another of its kind as slack",
           file.bytes + std::string(sectorRest, '\0') + leftovers.substr(0, rest - sectorRest + kCluster)},
      };
      if (!KnowsWhenCut(extension)) variants.erase(variants.begin());
      for (const auto& [what, bytes] : variants) {
        const CheckResult r = Check(extension, bytes);
        EXPECT_TRUE(r.verdict == Verdict::kIntact && r.length == size)
            << file.name << " " << what << ": " << Describe(r) << ", its length is " << size;
      }
    }
  }
}

TEST_F(FormatCheckTest, ACutFileIsNeverIntactAndAChangedByteIsDamaged) {
  for (const auto& [extension, list] : CheckedFiles()) {
    for (const RealFile& file : list) {
      if (KnowsWhenCut(extension) && file.bytes.size() > 16) {
        // (Not at a half that could be a structure's own end: tar's
        // end-of-archive blocks end a whole archive.)
        for (const std::size_t cut : {file.bytes.size() / 2 + 1, file.bytes.size() - 1}) {
          const CheckResult r = Check(extension, file.bytes.substr(0, cut));
          EXPECT_NE(r.verdict, Verdict::kIntact) << file.name << " cut at " << cut << ": " << Describe(r);
        }
      }
      if (ChecksEveryByte(extension)) {
        std::string changed = file.bytes;
        changed[changed.size() / 2] = static_cast<char>(changed[changed.size() / 2] ^ 0x20);
        const CheckResult r = Check(extension, changed);
        EXPECT_EQ(r.verdict, Verdict::kDamaged) << file.name << " with a byte changed: " << Describe(r);
      }
    }
  }
}

// Whatever the bytes, a checker reads only the fragment and never gives an
// end beyond it (the fuzz target goes further).
TEST_F(FormatCheckTest, ArbitraryBytesNeverGiveAnEndBeyondTheFragment) {
  const std::string extensions = ListCheckedExtensions();
  std::uint32_t seed = 100;
  for (std::size_t start = 0; start < extensions.size();) {
    std::size_t end = extensions.find(' ', start);
    if (end == std::string::npos) end = extensions.size();
    const std::string extension = extensions.substr(start, end - start);
    start = end + 1;
    for (const std::size_t size : {1u, 12u, 513u, 5000u}) {
      const CheckResult r = Check(extension, RandomBytes(size, seed++));
      if (r.verdict == Verdict::kIntact) {
        EXPECT_LE(r.length, size) << extension;
      }
    }
  }
}

TEST(FormatTableTest, CheckersAreFoundByExtensionInEitherCase) {
  EXPECT_NE(FindChecker(".PNG"), nullptr);
  EXPECT_EQ(FindChecker(".png"), FindChecker("png"));
  EXPECT_EQ(FindChecker(".nothing"), nullptr);
  EXPECT_EQ(FindChecker(""), nullptr);
}

}  // namespace
}  // namespace tessaro::formats
