// A lost folder's own records: real FAT32 and exFAT folders read back as the
// volumes wrote them, at the start of a fragment and inside one; what is not
// records (real files of other kinds, random bytes) never read as records;
// hostile records give nothing or a bounded, safe answer.

#include "engine/folders/folder_records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/check_kit.h"
#include "support/faulty_platform.h"
#include "support/folder_kit.h"
#include "support/temp_folder.h"

namespace tessaro {
namespace {

using folders::BeginsFolderRecords;
using folders::FileSystem;
using folders::FolderRecords;
using testing::ExfatFile;
using testing::ExfatSet;
using testing::FatEntry;
using testing::FatLongName;
using testing::Le;
using testing::MemoryFragment;

constexpr std::uint64_t kAll = UINT64_MAX;

struct Expected {
  std::string name;
  bool isFolder = false;
  std::uint64_t firstCluster = 0;
  std::uint64_t size = 0;
  std::uint64_t validSize = 0;
  bool contiguous = false;
};

std::optional<FolderRecords> Read(const std::string& bytes, std::uint64_t offset = 0, std::uint64_t limit = kAll) {
  MemoryFragment memory(bytes);
  std::optional<FolderRecords> records = folders::ReadFolderRecords(memory.fragment(), offset, limit);
  EXPECT_EQ(memory.platform().ReadsPastTheEnd(), 0);
  EXPECT_FALSE(memory.fragment().Failed());
  return records;
}

bool Begins(const std::string& bytes, std::size_t at = 0) {
  return BeginsFolderRecords(reinterpret_cast<const unsigned char*>(bytes.data()) + at, bytes.size() - at);
}

// What every answer promises, whatever the bytes: records inside the fragment
// and the limit, entries in order inside them, names of valid UTF-8 without a
// NUL and at most 255 UTF-16 units (4 bytes each at most).
void ExpectBounded(const FolderRecords& records, std::uint64_t size, const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_LE(records.offset + records.length, size);
  EXPECT_LE(records.entries.size(), folders::kMaxEntries);
  std::uint64_t last = records.offset;
  for (const folders::FolderEntry& entry : records.entries) {
    EXPECT_GE(entry.recordOffset, last);
    EXPECT_LT(entry.recordOffset, records.offset + records.length);
    last = entry.recordOffset;
    EXPECT_FALSE(entry.name.empty());
    EXPECT_LE(entry.name.size(), 255u * 3);
    EXPECT_EQ(entry.name.find('\0'), std::string::npos);
    for (std::size_t i = 0; i < entry.name.size();) {
      const unsigned char c = static_cast<unsigned char>(entry.name[i]);
      const std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
      ASSERT_NE(n, 0u) << "not UTF-8 in " << entry.name;
      ASSERT_LE(i + n, entry.name.size());
      for (std::size_t k = 1; k < n; ++k) ASSERT_EQ(entry.name[i + k] & 0xC0, 0x80);
      i += n;
    }
  }
}

struct RealFolder {
  std::string file;
  FileSystem system;
  std::vector<Expected> entries;
  std::uint64_t length;
  bool hasDots = false;
  std::uint64_t self = 0, parent = 0;
};

// Every file and folder of the real folders, as the tools that wrote them
// list them (mdir and mshowfat; the exFAT writer of make-folders.sh, checked
// by fsck.exfat), read at the fragment's start and 3 sectors into a larger
// one, after other bytes and followed by more.
TEST(FolderRecordsTest, ReadsRealFolders) {
  const std::vector<RealFolder> folders = {
      {"fat32-root.dir",
       FileSystem::kFat,
       {{"Long file name with spaces.txt", false, 3, 1000, 1000},
        {"中文文件名.txt", false, 5, 70000, 70000},
        {"emoji \xF0\x9F\x98\x80.jpg", false, 142, 1000, 1000},
        {"lower.txt", false, 144, 1000, 1000},
        {"UPPER.TXT", false, 146, 1000, 1000},
        {"readme", false, 148, 1000, 1000},
        {"archive.tar.gz", false, 0, 0, 0},
        {"café.txt", false, 150, 1000, 1000},
        {"..hidden..dots", false, 152, 1000, 1000},
        {"Photos 2024", true, 155, 0, 0}},
       1024},
      {"fat32-subfolder.dir",
       FileSystem::kFat,
       {{"IMG_0001.JPG", false, 156, 1000, 1000}, {"empty.bin", false, 0, 0, 0}},
       512,
       true,
       155,
       0},
      {"exfat-root.dir",
       FileSystem::kExfat,
       {{"Long file name with spaces.txt", false, 10, 1000, 1000, true},
        {"中文文件名.txt", false, 12, 70000, 70000, false},
        {"emoji \xF0\x9F\x98\x80 photo.jpg", false, 34, 1000, 1000, true},
        {"lower.txt", false, 35, 1000, 1000, true},
        {"empty file", false, 0, 0, 0, false},
        {"Café Ünïcödé.txt", false, 36, 1000, 1000, true},
        {"preallocated.mp4", false, 14, 12288, 5000, true},
        {"Sub Folder", true, 6, 4096, 4096, true},
        {std::string(200, 'N') + ".txt", false, 37, 1, 1, true}},
       2048},
      {"exfat-subfolder.dir",
       FileSystem::kExfat,
       {{"notes.txt", false, 7, 5000, 5000, true}, {"scattered.bin", false, 9, 9000, 9000, false}},
       512},
  };
  for (const RealFolder& folder : folders) {
    const std::string bytes = testing::FolderData(folder.file);
    ASSERT_FALSE(bytes.empty()) << folder.file;
    EXPECT_TRUE(Begins(bytes.substr(0, 512))) << folder.file;
    for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{1536}}) {
      SCOPED_TRACE(folder.file + " at " + std::to_string(at));
      const std::string fragment = testing::RandomBytes(at, 7) + bytes + testing::RandomBytes(2048, 8);
      const std::optional<FolderRecords> records = Read(fragment, at);
      ASSERT_TRUE(records.has_value());
      EXPECT_EQ(records->system, folder.system);
      EXPECT_EQ(records->offset, at);
      EXPECT_EQ(records->length, folder.length);
      EXPECT_TRUE(records->ended);
      EXPECT_EQ(records->hasDotEntries, folder.hasDots);
      EXPECT_EQ(records->selfCluster, folder.self);
      EXPECT_EQ(records->parentCluster, folder.parent);
      ASSERT_EQ(records->entries.size(), folder.entries.size());
      for (std::size_t i = 0; i < folder.entries.size(); ++i) {
        const folders::FolderEntry& got = records->entries[i];
        const Expected& want = folder.entries[i];
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.isFolder, want.isFolder) << want.name;
        EXPECT_EQ(got.firstCluster, want.firstCluster) << want.name;
        EXPECT_EQ(got.size, want.size) << want.name;
        EXPECT_EQ(got.validSize, want.validSize) << want.name;
        EXPECT_EQ(got.contiguous, want.contiguous) << want.name;
      }
      ExpectBounded(*records, fragment.size(), folder.file);
      // The limit is the end of the records' area: a folder cut short by it
      // at its last entry gives the entries before it and no more.
      const std::uint64_t last = records->entries.back().recordOffset;
      const std::optional<FolderRecords> cut = Read(fragment, at, last);
      ASSERT_TRUE(cut.has_value());
      EXPECT_EQ(cut->offset + cut->length, last);
      EXPECT_FALSE(cut->ended);
      EXPECT_EQ(cut->entries.size(), folder.entries.size() - 1);
    }
  }
}

// Bytes that are not records: no sector of the real files of every kind, of
// random bytes, of zeros or of text begins records, and reading there finds
// none.
TEST(FolderRecordsTest, OtherBytesAreNotRecords) {
  std::vector<std::pair<std::string, std::string>> inputs;
  for (const auto& file : std::filesystem::directory_iterator(std::filesystem::path(TESSARO_SOURCE_DIR) / "tests" /
                                                              "data" / "kinds")) {
    inputs.emplace_back(file.path().filename().string(), testing::ReadAll(file.path().string()));
  }
  inputs.emplace_back("random", testing::RandomBytes(1 << 20, 99));
  inputs.emplace_back("zeros", std::string(4096, '\0'));
  inputs.emplace_back("text", std::string(4096, 'a'));
  for (const auto& [what, bytes] : inputs) {
    ASSERT_FALSE(bytes.empty()) << what;
    MemoryFragment memory(bytes);
    for (std::size_t at = 0; at < bytes.size(); at += 512) {
      EXPECT_FALSE(Begins(bytes, at)) << what << " at " << at;
      if (at < 64 * 1024) {
        EXPECT_FALSE(folders::ReadFolderRecords(memory.fragment(), at, kAll).has_value()) << what << " at " << at;
      }
    }
  }
}

struct HostileCase {
  std::string what;
  std::string bytes;
  // The names read, in order; none at all means no records.
  std::vector<std::string> names;
  std::uint64_t length = 0;
  std::uint64_t limit = kAll;
};

std::string Zeros(std::size_t n) { return std::string(n, '\0'); }

ExfatFile File(std::u16string name, std::uint64_t cluster = 5, std::uint64_t size = 100) {
  ExfatFile file;
  file.name = std::move(name);
  file.firstCluster = cluster;
  file.size = file.validSize = size;
  return file;
}

// Records no volume writes, or cut where they may not be: each gives no
// records, or the ones before the fault, ended where the fault begins.
TEST(FolderRecordsTest, HostileRecordsGiveNothingOrWhatPrecedes) {
  const std::string a = ExfatSet(File(u"a.txt"));  // 3 entries
  const std::string b = ExfatSet(File(u"b.txt"));
  ExfatFile more = File(u"claims more.txt");
  more.secondaryCount = 255;
  ExfatFile hash = File(u"hash.txt");
  hash.badHash = true;
  ExfatFile hashWide = File(u"h\u00E9.txt");
  hashWide.badHash = true;
  ExfatFile vendors = File(u"many.txt");
  vendors.vendorEntries = 253;  // 255 secondaries in all
  ExfatFile huge = File(u"huge", 7, UINT64_MAX);
  huge.validSize = 1;
  ExfatFile overValid = File(u"over");
  overValid.validSize = 101;
  ExfatFile deleted = File(u"gone.txt");
  deleted.deleted = true;
  const std::string badChecksum = testing::Flipped(b, 40, 0x01);
  const std::string lfnBase = "HOSTILE TXT";
  const std::string fatFile = FatEntry(lfnBase, 0x20, 9, 10);
  std::string outOfOrder = FatLongName(u"a long name that takes two.txt", lfnBase);
  std::swap_ranges(outOfOrder.begin(), outOfOrder.begin() + 32, outOfOrder.begin() + 32);

  const std::vector<HostileCase> cases = {
      {"exFAT: two sets, then the end", a + b + Zeros(512), {"a.txt", "b.txt"}, 512},
      {"exFAT: a set that claims 255 secondaries, followed by another", ExfatSet(more) + a + Zeros(512), {}},
      {"exFAT: a second set whose checksum is wrong", a + badChecksum + a, {"a.txt"}, 96},
      {"exFAT: the stream first cluster 1", ExfatSet(File(u"one", 1)), {}},
      {"exFAT: the stream first cluster 0xFFFFFFFF", ExfatSet(File(u"max", 0xFFFFFFFF)), {}},
      {"exFAT: bytes without a cluster", ExfatSet(File(u"none", 0, 10)), {}},
      {"exFAT: more valid bytes than bytes", ExfatSet(overValid), {}},
      {"exFAT: a size of 2^64-1 kept as recorded", ExfatSet(huge) + Zeros(512), {"huge"}, 512},
      {"exFAT: an ASCII name whose hash is wrong", ExfatSet(hash), {}},
      {"exFAT: a wider name's hash is not told without the up-case table", ExfatSet(hashWide) + Zeros(512),
       {"h\xC3\xA9.txt"}, 512},
      {"exFAT: 255 secondaries, vendor entries after the name", ExfatSet(vendors), {"many.txt"}, 256 * 32},
      {"exFAT: deleted sets alone name nothing", ExfatSet(deleted) + Zeros(512), {}},
      {"exFAT: deleted sets are passed over", ExfatSet(deleted) + a + Zeros(512), {"a.txt"}, 512},
      {"exFAT: a set across the limit", a + b, {"a.txt"}, 96, 100},
      {"exFAT: the fragment ends inside a set", a + b.substr(0, 80), {"a.txt"}, 96},
      {"exFAT: an entry type no volume writes", a + "\x84" + Zeros(31) + b, {"a.txt"}, 96},
      {"exFAT: names as recorded, a surrogate alone is U+FFFD, a NUL too",
       ExfatSet(File(u"../x/\\y")) + ExfatSet(File(std::u16string(u"a\xD800" u"b\0c\x01", 6))) + Zeros(512),
       {"../x/\\y", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\x01"},
       512},
      {"FAT: a long name out of order gives the 8.3 name", outOfOrder + fatFile + Zeros(512), {"HOSTILE.TXT"}, 512},
      {"FAT: a long name of another 8.3 entry gives the 8.3 name",
       FatLongName(u"other", "OTHER   TXT") + fatFile + Zeros(512), {"HOSTILE.TXT"}, 512},
      {"FAT: a long name of 20 entries stops at 255 units",
       FatLongName(std::u16string(300, u'L'), lfnBase) + fatFile + Zeros(512), {std::string(255, 'L')}, 1024},
      {"FAT: the same name twice is listed twice", fatFile + fatFile + Zeros(512), {"HOSTILE.TXT", "HOSTILE.TXT"}, 512},
      {"FAT: 0x05 first is 0xE5, case bits lower the base and extension",
       FatEntry("\x05" "BC     TXT", 0x20, 3, 1) + FatEntry("MIXED   TXT", 0x20, 4, 1, 0x08) +
           FatEntry("MIXED   TXT", 0x20, 4, 1, 0x10) + Zeros(512),
       {"\xCF\x83" "BC.TXT", "mixed.TXT", "MIXED.txt"},
       512},
      {"FAT: the volume label is no file", FatEntry("VOLUME     ", 0x08, 0, 0) + fatFile + Zeros(512), {"HOSTILE.TXT"},
       512},
      {"FAT: first cluster 1", FatEntry("ONE     TXT", 0x20, 1, 10), {}},
      {"FAT: first cluster 0xFFFFFFFF", FatEntry("MAX     TXT", 0x20, 0xFFFFFFFF, 10), {}},
      {"FAT: a file with bytes but no cluster", FatEntry("NONE    TXT", 0x20, 0, 10), {}},
      {"FAT: a folder with a size", FatEntry("FOLDER     ", 0x10, 5, 10), {}},
      {"FAT: a name with a slash", FatEntry("A/B     TXT", 0x20, 5, 10), {}},
      {"FAT: the records stop at an entry no FAT writes", fatFile + std::string(32, 'x') + fatFile, {"HOSTILE.TXT"},
       32},
      {"FAT: a '.' without '..'", FatEntry(".          ", 0x10, 5, 0) + fatFile, {}},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<FolderRecords> records = Read(c.bytes, 0, c.limit);
    if (c.names.empty()) {
      EXPECT_FALSE(records.has_value());
      EXPECT_FALSE(Begins(c.bytes));
      continue;
    }
    ASSERT_TRUE(records.has_value());
    ExpectBounded(*records, c.bytes.size(), c.what);
    EXPECT_EQ(records->length, c.length);
    std::vector<std::string> names;
    for (const folders::FolderEntry& entry : records->entries) names.push_back(entry.name);
    EXPECT_EQ(names, c.names);
  }
}

// A FAT subfolder that holds nothing but "." and ".." still tells its own
// cluster and its parent's; and a folder of more entries than any FAT holds
// is read up to the bound, no further.
TEST(FolderRecordsTest, FatFolderBounds) {
  const std::string dots = FatEntry(".          ", 0x10, 0x12345, 0) + FatEntry("..         ", 0x10, 0x200, 0);
  std::optional<FolderRecords> empty = Read(dots + Zeros(32 * 14));
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(Begins(dots + Zeros(32 * 14)));
  EXPECT_TRUE(empty->hasDotEntries);
  EXPECT_EQ(empty->selfCluster, 0x12345u);
  EXPECT_EQ(empty->parentCluster, 0x200u);
  EXPECT_TRUE(empty->entries.empty());
  EXPECT_EQ(empty->length, 512u);

  std::string many;
  const std::string one = FatEntry("SAME    TXT", 0x20, 9, 10);
  for (int i = 0; i < 70000; ++i) many += one;
  const std::optional<FolderRecords> records = Read(many);
  ASSERT_TRUE(records.has_value());
  EXPECT_EQ(records->entries.size(), folders::kMaxEntries);
  EXPECT_EQ(records->length, folders::kMaxEntries * 32);
  EXPECT_FALSE(records->ended);
}

// Every byte of the real folders changed in turn: whatever is read stays
// bounded and safe, and where a sector is said to begin records, records are
// read there.
TEST(FolderRecordsTest, ChangedBytesStayBounded) {
  for (const char* file : {"fat32-root.dir", "exfat-root.dir"}) {
    const std::string bytes = testing::FolderData(file).substr(0, 1024);
    ASSERT_EQ(bytes.size(), 1024u);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
      for (int mask : {0x01, 0x80, 0xFF}) {
        const std::string changed = testing::Flipped(bytes, at, mask);
        const std::optional<FolderRecords> records = Read(changed);
        if (records) ExpectBounded(*records, changed.size(), std::string(file) + " changed at " + std::to_string(at));
        if (Begins(changed)) {
          EXPECT_TRUE(records.has_value()) << file << " changed at " << at;
        }
      }
    }
  }
}

// A read that fails partway through the records gives no records, so the
// caller reports the fragment as unreadable rather than as holding fewer
// files than it does.
TEST(FolderRecordsTest, ReadFailureGivesNoRecords) {
  testing::TempFolder folder;
  const std::string path = folder.Write("FILE0000.CHK", testing::RandomBytes(512, 3) + testing::FolderData("fat32-root.dir"));
  testing::FaultyPlatform platform;
  platform.ShortReadAfter("FILE0000.CHK", 512 + 600);
  int error = 0;
  const FileHandle file = platform.OpenRead(path, error);
  ASSERT_NE(file, kNoFile);
  formats::Fragment fragment(platform, file, 512, 1024);
  EXPECT_FALSE(folders::ReadFolderRecords(fragment, 0, kAll).has_value());
  EXPECT_TRUE(fragment.Failed());
  platform.Close(file);
}

TEST(FolderRecordsTest, DeletedFolderSetsNameTheFoldersTheyHeld) {
  // A lost folder's parent whose sets a loss marked deleted: a whole folder
  // set still names its subfolder; a deleted file set, or one whose bytes
  // changed after it was deleted, names nothing.
  ExfatFile camera{u"100CAMERA", 0x10, 40, 32768, 32768, true};
  camera.deleted = true;
  ExfatFile photo{u"IMG_0001.JPG", 0x20, 41, 5000, 5000, true};
  photo.deleted = true;
  std::string changed = ExfatSet(ExfatFile{u"101CAMERA", 0x10, 50, 32768, 32768, true, 0, true});
  changed[40] ^= 1;
  const std::optional<FolderRecords> records = Read(ExfatSet(camera) + ExfatSet(photo) + changed + Zeros(32));
  ASSERT_TRUE(records.has_value());
  EXPECT_TRUE(records->entries.empty());
  ASSERT_EQ(records->deletedFolders.size(), 1u);
  EXPECT_EQ(records->deletedFolders[0].name, "100CAMERA");
  EXPECT_EQ(records->deletedFolders[0].firstCluster, 40u);
  EXPECT_TRUE(folders::BeginsFolderRecords(reinterpret_cast<const unsigned char*>(ExfatSet(camera).c_str()), 96));
}

}  // namespace
}  // namespace tessaro
