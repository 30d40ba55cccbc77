// The format checkers on real files made by real programs (tests/data/kinds):
// every file of an extension that has a checker is checked alone, with the
// slack a disk leaves (zeros; leftovers of another file of its kind, the
// hardest case), cut short anywhere, and with a byte changed; arbitrary bytes
// and changed headers never lead a checker outside the fragment.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/check_kit.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::Check;
using testing::CheckedKindFiles;
using testing::Describe;
using testing::FindRow;
using testing::KindFile;
using testing::RandomBytes;

constexpr std::size_t kCluster = 4096;

TEST(FormatCheckTest, EveryCheckedRealFileIsIntactAtItsOwnLengthWhateverFollows) {
  std::map<std::string, std::vector<const KindFile*>> byExtension;
  for (const KindFile& file : CheckedKindFiles()) {
    if (!file.head) byExtension[file.extension].push_back(&file);
  }
  ASSERT_FALSE(byExtension.empty());
  std::uint32_t seed = 1;
  for (const auto& [extension, list] : byExtension) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      const KindFile& file = *list[i];
      const std::uint64_t size = file.bytes.size();
      const std::size_t rest = kCluster - file.bytes.size() % kCluster;
      const std::size_t sectorRest = (512 - file.bytes.size() % 512) % 512;
      // Leftovers of another file of the same kind (or of itself, when it is
      // the only one), after zeros to the end of the sector.
      const std::string& other = list[(i + 1) % list.size()]->bytes;
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
      if (!FindRow(extension)->knowsWhenCut) variants.erase(variants.begin());
      for (const auto& [what, bytes] : variants) {
        const CheckResult r = Check(extension, bytes);
        EXPECT_TRUE(r.verdict == Verdict::kIntact && r.length == size)
            << file.name << " " << what << ": " << Describe(r) << ", its length is " << size;
      }
    }
  }
}

// Where a file cut short is by design a whole one: a gzip of several members
// after one of them, a tar cut at a block inside the zeros of its record
// after its end-of-archive blocks.
bool WholeWhenCutAt(const KindFile& file, std::size_t cut) {
  if (file.extension == "gz") return file.bytes.compare(cut, 2, "\x1F\x8B") == 0;
  if (file.extension == "tar") {
    return cut % 512 == 0 && file.bytes.find_first_not_of('\0', cut) == std::string::npos;
  }
  return false;
}

// A fragment that breaks off anywhere inside a file of a kind that knows when
// it is cut is never taken for the whole file: not where a segment, box,
// page, frame or table ends either.
TEST(FormatCheckTest, ARealFileCutAnywhereIsNeverIntact) {
  int files = 0;
  for (const KindFile& file : CheckedKindFiles()) {
    if (!FindRow(file.extension)->knowsWhenCut) continue;
    ++files;
    const std::size_t size = file.bytes.size();
    std::set<std::size_t> cuts = {size / 2 + 1, size - 1};
    for (std::size_t i = 1; i < 48; ++i) cuts.insert(size * i / 48);
    for (const std::size_t cut : cuts) {
      if (cut == 0 || cut >= size || WholeWhenCutAt(file, cut)) continue;
      const CheckResult r = Check(file.extension, file.bytes.substr(0, cut));
      EXPECT_NE(r.verdict, Verdict::kIntact) << file.name << " cut at " << cut << " of " << size << ": " << Describe(r);
    }
  }
  EXPECT_GT(files, 150);
}

TEST(FormatCheckTest, AChangedByteIsDamagedWhereTheChecksumsCoverEveryByte) {
  int files = 0;
  for (const KindFile& file : CheckedKindFiles()) {
    if (file.head || !FindRow(file.extension)->checksEveryByte) continue;
    ++files;
    const CheckResult r = Check(file.extension, testing::Flipped(file.bytes, file.bytes.size() / 2, 0x20));
    EXPECT_EQ(r.verdict, Verdict::kDamaged) << file.name << " with a byte changed: " << Describe(r);
  }
  EXPECT_GT(files, 10);
}

// Whatever the bytes, arbitrary or a real file with its header bytes
// (lengths, counts, offsets) changed, a checker reads only the fragment and
// gives no end outside it. Asked of the checker itself: the product's guard
// would turn such an end into no end, and hide the fault (the fuzz target
// goes further).
TEST(FormatCheckTest, ArbitraryBytesAndChangedHeadersKeepACheckerInsideTheFragment) {
  std::uint32_t seed = 100;
  for (const testing::CheckerRow& row : testing::CheckerRows()) {
    for (const std::size_t size : {1u, 12u, 513u, 5000u}) {
      testing::ExpectSoundBareCheck(row.extension, RandomBytes(size, seed++),
                                    row.extension + " of " + std::to_string(size) + " arbitrary bytes");
    }
  }
  seed = 5;
  for (const KindFile& file : CheckedKindFiles()) {
    for (int round = 0; round < 20; ++round) {
      std::string changed = file.bytes;
      for (int k = 0; k < 4; ++k) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t at = (seed >> 8) % std::min<std::size_t>(changed.size(), 128);
        changed[at] = static_cast<char>(seed >> 24);
      }
      testing::ExpectSoundBareCheck(file.extension, changed, file.name + " changed in round " + std::to_string(round));
    }
  }
}

// A file checked where it lies gets what its bytes get; a file that cannot
// be read is reported so, not given a verdict.
TEST(FormatCheckTest, AFileAtAPathIsCheckedAsItsBytesAre) {
  const auto check = [](const std::string& path, const std::string& extension, bool& readFailed) {
    int error = 0;
    return CheckFile(SystemPlatform(), path, extension, CheckOptions{}, readFailed, error);
  };
  for (const KindFile& file : CheckedKindFiles()) {
    bool readFailed = true;
    const CheckResult r = check(testing::Utf8(testing::PathOf(TESSARO_SOURCE_DIR) / "tests" / "data" / "kinds" /
                                              testing::PathOf(file.name)),
                                file.extension, readFailed);
    const CheckResult bytes = Check(file.extension, file.bytes);
    EXPECT_FALSE(readFailed) << file.name;
    EXPECT_EQ(r.verdict, bytes.verdict) << file.name << ": " << Describe(r);
    EXPECT_EQ(r.length, bytes.length) << file.name;
    EXPECT_EQ(r.expected, bytes.expected) << file.name;
  }
  testing::TempFolder folder;
  bool readFailed = true;
  EXPECT_EQ(check(folder.Write("empty.png", ""), "png", readFailed).verdict, Verdict::kUnchecked);
  EXPECT_FALSE(readFailed);
  EXPECT_EQ(check(folder.str() + "/missing.png", "png", readFailed).verdict, Verdict::kUnchecked);
  EXPECT_TRUE(readFailed);
}

TEST(FormatTableTest, CheckersAreFoundByExtensionInEitherCase) {
  ASSERT_NE(FindRow(".PNG"), nullptr);
  EXPECT_EQ(FindRow(".PNG"), FindRow("png"));
  EXPECT_EQ(FindRow(".nothing"), nullptr);
  EXPECT_EQ(FindRow(""), nullptr);
}

}  // namespace
}  // namespace tessaro::formats
