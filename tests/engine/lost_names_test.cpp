// A lost folder's records naming the files the split finds in a synthetic
// exFAT rescue: the placement solved from the files that agree with their
// records, each file cut at its record's size and named by it, and the
// records a damaged or hostile folder holds refused without harm.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalog/fragment_engine.h"
#include "engine/split/fragment_split.h"
#include "engine/split/lost_names.h"
#include "platform/platform.h"
#include "support/rescue_kit.h"
#include "support/temp_folder.h"

namespace tessaro::split {
namespace {

using testing::RescueRecord;
using testing::StandardRescue;
using testing::Utf16;

const std::string kFragment = "FILE0000000";

struct Outcome {
  std::vector<Piece> pieces;
  std::optional<Placement> placement;
  std::vector<PlacedFile> placed;
};

struct Want {
  std::uint64_t cluster;
  std::uint64_t size;
  std::vector<std::string> folders;
  std::string name;
};

struct Case {
  std::string what;
  std::uint64_t clusterSize = 4096;
  bool subFolderFirst = false;
  std::vector<RescueRecord> extraTop, extraSub;
  std::vector<std::pair<std::uint64_t, std::string>> extraFiles;  // cluster from nextFree on: bytes
  // The standard files that the records must not place, and the files of the
  // extra records that they do.
  std::vector<std::string> notPlaced;
  std::vector<Want> alsoPlaced;
  // How many of the last extra records the reader itself refuses (a set no
  // volume writes ends the folder's records there).
  std::size_t unread = 0;
};

class LostNamesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(engine.ready) << engine.lastError; }

  // The split of `bytes` as the fragment `name`, its records added to
  // `lost`, solved and placed.
  Outcome Run(const std::string& bytes, LostFolders& lost, const std::string& name = kFragment,
              std::shared_ptr<const folders::FolderRecords> extra = nullptr) {
    Outcome out;
    const std::string path = folder.Write(name + ".CHK", bytes);
    Platform& platform = SystemPlatform();
    int error = 0;
    const FileHandle file = platform.OpenRead(path, error);
    EXPECT_NE(file, kNoFile);
    if (file == kNoFile) return out;
    FragmentSplitter splitter(engine, platform, file, bytes.size(), path.c_str(), {});
    for (Piece piece; splitter.Next(piece);) {
      if (piece.role == Piece::Role::kRecords) lost.Add(name, piece.offset, piece.records);
      out.pieces.push_back(piece);
    }
    platform.Close(file);
    EXPECT_FALSE(splitter.Failed()) << engine.lastError;
    if (extra) lost.Add(name, bytes.size(), extra);
    out.placement = lost.Solve(name, bytes.size(), out.pieces);
    if (out.placement) out.placed = lost.Place(bytes.size(), *out.placement, out.pieces);
    return out;
  }
  Outcome Run(const std::string& bytes) {
    LostFolders lost;
    return Run(bytes, lost);
  }

  void ExpectPlaced(const Case& c);

  FragmentEngine engine{std::string(TESSARO_SOURCE_DIR) + "/resources/tessaro.cfg"};
  testing::TempFolder folder;
};

// Every placed file: in fragment order, inside the fragment, none overlapping.
void ExpectSound(const std::vector<PlacedFile>& placed, std::uint64_t size) {
  for (std::size_t i = 0; i < placed.size(); ++i) {
    EXPECT_GT(placed[i].size, 0u);
    EXPECT_LE(placed[i].offset, size);
    EXPECT_LE(placed[i].size, size - placed[i].offset) << placed[i].name;
    if (i > 0) {
      EXPECT_GE(placed[i].offset, placed[i - 1].offset + placed[i - 1].size) << placed[i].name;
    }
  }
}

// The standard rescue with the case's records and files added: solved with
// the true placement, and every file the case wants placed, nothing else.
void LostNamesTest::ExpectPlaced(const Case& c) {
  constexpr std::uint64_t kFirst = 1000;
  SCOPED_TRACE(c.what);
  const StandardRescue rescue = testing::MakeStandardRescue(c.clusterSize, kFirst, c.subFolderFirst);
  // Extra records' clusters are counted from the first free one; the
  // special values below it name the clusters 0, 1, 0xFFFFFFFF and the
  // lost folder's own.
  auto fix = [&](RescueRecord r) {
    if (r.firstCluster == ~std::uint64_t{0}) r.firstCluster = 0;
    else if (r.firstCluster == ~std::uint64_t{1}) r.firstCluster = 1;
    else if (r.firstCluster == ~std::uint64_t{2}) r.firstCluster = 0xFFFFFFFF;
    else if (r.firstCluster == ~std::uint64_t{3}) r.firstCluster = rescue.topCluster;
    else r.firstCluster += rescue.nextFree;
    return r;
  };
  std::vector<RescueRecord> top, sub;
  for (const RescueRecord& r : c.extraTop) top.push_back(fix(r));
  for (const RescueRecord& r : c.extraSub) sub.push_back(fix(r));
  std::vector<std::pair<std::uint64_t, std::string>> files;
  for (const auto& [cluster, bytes] : c.extraFiles) files.push_back({rescue.nextFree + cluster, bytes});
  const std::string bytes = testing::RescueBytes(rescue, top, sub, files);
  const Outcome out = Run(bytes);
  // The hostile records are read as records: it is the placing that refuses them.
  std::size_t entries = 0;
  for (const Piece& piece : out.pieces) entries += piece.records ? piece.records->entries.size() : 0;
  EXPECT_EQ(entries, rescue.top.size() + rescue.sub.size() + top.size() + sub.size() - c.unread);
  ASSERT_TRUE(out.placement.has_value());
  EXPECT_EQ(out.placement->clusterSize, c.clusterSize);
  EXPECT_EQ(out.placement->firstCluster, kFirst);
  ExpectSound(out.placed, bytes.size());

  std::vector<Want> wanted;
  for (const StandardRescue::File& f : rescue.files) {
    if (std::find(c.notPlaced.begin(), c.notPlaced.end(), f.name) != c.notPlaced.end()) continue;
    std::vector<std::string> path{kFragment};
    if (!f.folder.empty()) path.push_back(f.folder);
    wanted.push_back({f.cluster, f.bytes.size(), path, f.name});
  }
  for (Want w : c.alsoPlaced) {
    w.cluster += rescue.nextFree;
    w.folders.insert(w.folders.begin(), kFragment);
    wanted.push_back(w);
  }
  std::sort(wanted.begin(), wanted.end(), [](const Want& a, const Want& b) { return a.cluster < b.cluster; });
  ASSERT_EQ(out.placed.size(), wanted.size());
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    SCOPED_TRACE(wanted[i].name);
    EXPECT_EQ(out.placed[i].offset, (wanted[i].cluster - kFirst) * c.clusterSize);
    EXPECT_EQ(out.placed[i].folders, wanted[i].folders);
    // "a|b": either record, each with its own size.
    const std::string& name = out.placed[i].name;
    EXPECT_NE(("|" + wanted[i].name + "|").find("|" + name + "|"), std::string::npos) << name;
    if (name == wanted[i].name || wanted[i].name.find('|') != std::string::npos) {
      EXPECT_EQ(out.placed[i].size, wanted[i].size);
    }
  }
}

TEST_F(LostNamesTest, RecordsPlaceCutAndNameEveryFileTheyHoldAndNothingElse) {
  const std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();
  const std::string png = testing::Kind("ffmpeg.png");
  const std::string odd = testing::NoKindBytes(5000);
  // Clusters from nextFree: N+0, N+1, ...
  std::vector<Case> cases = {
      {"clusters of 4096", 4096, false, {}, {}, {}, {}, {}},
      {"clusters of 32768", 32768, false, {}, {}, {}, {}, {}},
      {"names no file system path may hold, kept raw",
       4096,
       false,
       {{u"..", 0, png.size()}, {u"a/b", 1, 3000}, {u"\x01" u"ctl", 2, 3000}},
       {},
       {{0, png}, {1, testing::NoKindBytes(3000)}, {2, testing::NoKindBytes(3000)}},
       {},
       {{0, png.size(), {}, ".."}, {1, 3000, {}, "a/b"}, {2, 3000, {}, "\x01" "ctl"}}},
      {"sizes and first clusters outside the fragment",
       4096,
       false,
       {{u"huge.bin", 0, kAll},
        {u"past.bin", 1, 1u << 30},
        {u"empty.bin", ~std::uint64_t{0}, 0},  // first cluster 0: no clusters
        {u"one.bin", ~std::uint64_t{1}, 100},   // first cluster 1
        {u"far.bin", ~std::uint64_t{2}, 100}},  // first cluster 0xFFFFFFFF
       {},
       {{0, odd}, {1, odd}},
       {},
       {},
       2},
      {"two records claiming the same clusters",
       4096,
       false,
       {{u"first.bin", 0, 5000}, {u"second.bin", 0, 5000}, {u"inside.bin", 1, 500}},
       {},
       {{0, odd}},
       {},
       {{0, 5000, {}, "first.bin|second.bin"}}},
      {"a folder its records make its own ancestor", 4096, false, {{u"Self", ~std::uint64_t{3}, 4096, true}}, {}, {}, {}, {}},
  };
  for (const Case& c : cases) ExpectPlaced(c);
}

// Faults: the lost folder is numbered among the folders named after its
// fragment when a subfolder's records come first ("FILE0000000 (2)"), and a
// record whose size runs over a proven file that begins after its start
// places it (the proven file is then not placed by its own record, nor
// written on its own).
TEST_F(LostNamesTest, SubfoldersFirstAndRecordsOverProvenFiles) {
  const std::string png = testing::Kind("ffmpeg.png");
  const std::vector<Case> cases = {
      {"a subfolder made before the lost folder's own records", 4096, true, {}, {}, {}, {}, {}},
      {"a record whose size runs into a proven file that begins after it",
       4096,
       false,
       {{u"spill.bin", 0, 4096 + 100}, {u"copy.png", 1, png.size()}},
       {},
       {{0, testing::NoKindBytes(4096)}, {1, png}},
       {},
       {{1, png.size(), {}, "copy.png"}}},
  };
  for (const Case& c : cases) ExpectPlaced(c);
}

// Records the reader refuses, handed over as if read: first clusters 1, past
// the fragment and past any cluster number (offsets that overflow), sizes
// past the fragment. None is placed; the rescue's own files still are.
TEST_F(LostNamesTest, RecordsOutsideTheFragmentPlaceNothingHoweverLarge) {
  const StandardRescue rescue = testing::MakeStandardRescue(4096, 1000);
  auto hostile = std::make_shared<folders::FolderRecords>();
  hostile->system = folders::FileSystem::kExfat;
  const std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();
  for (const auto& [cluster, size] : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
           {1, 100}, {rescue.nextFree + 100, 100}, {kAll, 100}, {kAll / 4096 + 1000, 100}, {kAll - 1, kAll},
           {rescue.nextFree, kAll}, {rescue.nextFree, kAll - 4096 * 3}}) {
    folders::FolderEntry e;
    e.name = "hostile " + std::to_string(cluster) + " " + std::to_string(size) + ".bin";
    e.firstCluster = cluster;
    e.size = e.validSize = size;
    e.contiguous = true;
    hostile->entries.push_back(e);
  }
  LostFolders lost;
  const Outcome out = Run(testing::RescueBytes(rescue), lost, kFragment, hostile);
  ASSERT_TRUE(out.placement.has_value());
  EXPECT_EQ(out.placement->firstCluster, 1000u);
  ExpectSound(out.placed, testing::RescueBytes(rescue).size());
  ASSERT_EQ(out.placed.size(), rescue.files.size());
  for (const PlacedFile& file : out.placed) EXPECT_EQ(file.name.rfind("hostile", 0), std::string::npos) << file.name;
}

TEST_F(LostNamesTest, FoldersThatNameEachOtherGiveFinitePathsFromTheFragment) {
  // The subfolder's records name the lost folder as a subfolder of its own.
  const StandardRescue rescue = testing::MakeStandardRescue(4096, 1000);
  const std::string bytes = testing::RescueBytes(rescue, {}, {{u"Back", rescue.topCluster, 4096, true}});
  const Outcome out = Run(bytes);
  ASSERT_TRUE(out.placement.has_value());
  ASSERT_EQ(out.placed.size(), rescue.files.size());
  for (const PlacedFile& file : out.placed) {
    SCOPED_TRACE(file.name);
    ASSERT_FALSE(file.folders.empty());
    EXPECT_EQ(file.folders.front().rfind(kFragment, 0), 0u) << file.folders.front();
    EXPECT_LE(file.folders.size(), 2u);
  }
}

// Two folders whose records name each other land in one tree, not in two
// that each hold the other.
TEST_F(LostNamesTest, FoldersThatNameEachOtherFormOneTree) {
  const StandardRescue rescue = testing::MakeStandardRescue(4096, 1000);
  const Outcome out = Run(testing::RescueBytes(rescue, {}, {{u"Back", rescue.topCluster, 4096, true}}));
  ASSERT_EQ(out.placed.size(), rescue.files.size());
  std::vector<std::string> top, sub;
  for (const PlacedFile& file : out.placed) {
    if (file.name == "chart.png") top = file.folders;
    if (file.name == "notes.gz") sub = file.folders;
  }
  std::vector<std::string> topThenTrip = top, subThenBack = sub;
  topThenTrip.push_back("Trip");
  subThenBack.push_back("Back");
  EXPECT_TRUE(sub == topThenTrip || top == subThenBack) << ::testing::PrintToString(top) << " "
                                                        << ::testing::PrintToString(sub);
}

// A rescue in two runs of clusters: the lost folder's records and its first
// files in one fragment, the rest in the next, named after the first.
TEST_F(LostNamesTest, RecordsInOneFragmentNameTheFilesOfTheNext) {
  const StandardRescue rescue = testing::MakeStandardRescue(4096, 1000);
  const std::string whole = testing::RescueBytes(rescue);
  // The first fragment ends after chart.png; the next begins after a gap of
  // clusters that are not lost (data.bin's).
  const std::uint64_t split = rescue.files[2].cluster - 1000, resume = rescue.files[3].cluster - 1000;
  LostFolders lost;
  const Outcome first = Run(whole.substr(0, split * 4096), lost, "FILE0000000");
  ASSERT_TRUE(first.placement.has_value());
  EXPECT_EQ(first.placement->firstCluster, 1000u);
  ASSERT_EQ(first.placed.size(), 2u);
  const Outcome next = Run(whole.substr(resume * 4096), lost, "FILE0000001");
  ASSERT_TRUE(next.placement.has_value());
  EXPECT_EQ(next.placement->clusterSize, 4096u);
  EXPECT_EQ(next.placement->firstCluster, 1000 + resume);
  ASSERT_EQ(next.placed.size(), rescue.files.size() - 3);
  for (std::size_t i = 0; i < next.placed.size(); ++i) {
    const StandardRescue::File& f = rescue.files[3 + i];
    SCOPED_TRACE(f.name);
    EXPECT_EQ(next.placed[i].offset, (f.cluster - 1000 - resume) * 4096);
    EXPECT_EQ(next.placed[i].size, f.bytes.size());
    EXPECT_EQ(next.placed[i].name, f.name);
    EXPECT_EQ(next.placed[i].folders.front(), "FILE0000000");
  }
}

TEST_F(LostNamesTest, RecordsThatAgreeWithNoFileFoundPlaceNothing) {
  const StandardRescue rescue = testing::MakeStandardRescue(4096, 1000);
  // Every recorded size differs from the file found at its cluster.
  StandardRescue wrong = rescue;
  for (RescueRecord& r : wrong.top) r.size += r.folder ? 0 : 7;
  for (RescueRecord& r : wrong.sub) r.size += 7;
  // The lost folder's records alone, its files gone.
  testing::Rescue alone(4096, 1000);
  alone.PutFolder(1000, rescue.top);
  for (const std::string& bytes : {testing::RescueBytes(wrong), alone.Bytes(8)}) {
    const Outcome out = Run(bytes);
    EXPECT_FALSE(out.placement.has_value()) << out.placement->clusterSize << " " << out.placement->firstCluster;
  }
}

// A proven file at a record's cluster whose own end says another length than
// the record: the record does not cut it short.
TEST_F(LostNamesTest, ARecordDoesNotCutAProvenFileShort) {
  const StandardRescue rescue = testing::MakeStandardRescue(4096, 1000);
  StandardRescue shorter = rescue;
  for (RescueRecord& r : shorter.top) {
    if (r.name == u"chart.png") r.size -= 100;
  }
  const std::string bytes = testing::RescueBytes(shorter);
  const Outcome out = Run(bytes);
  ASSERT_TRUE(out.placement.has_value());
  for (const PlacedFile& file : out.placed) {
    if (file.name == "chart.png") {
      EXPECT_EQ(file.size, testing::Kind("ffmpeg.png").size());
    }
  }
}

// FAT: a fragment of no kind pairs with the next record of a kind the
// catalogue does not know only where its bytes may end at the record's size;
// the tail of a broken chain whose bytes run on past it (an ID3 tag after
// the padding of a DSF file's last block) is not cut there, and the record
// waits for the fragment that ends where it says.
TEST(LostChainsTest, AFragmentOfNoKindIsCutByARecordOnlyWhereItsBytesMayEnd) {
  auto records = std::make_shared<folders::FolderRecords>();
  records->system = folders::FileSystem::kFat;
  records->hasDotEntries = true;
  records->selfCluster = 10;
  folders::FolderEntry notes;
  notes.name = "F00139";
  notes.firstCluster = 11;
  notes.size = notes.validSize = 60;
  records->entries.push_back(notes);
  LostFolders lost;
  lost.Add("FILE0000", 0, records);
  const auto unknown = [](const std::string&) { return false; };
  std::vector<std::uint64_t> asked;
  const auto runsOn = [&](std::uint64_t end) {
    asked.push_back(end);
    return false;
  };
  EXPECT_FALSE(lost.PairChain(4096, nullptr, unknown, runsOn).has_value());
  EXPECT_EQ(asked, std::vector<std::uint64_t>{60});
  const std::optional<PlacedFile> paired =
      lost.PairChain(4096, nullptr, unknown, [](std::uint64_t end) { return end == 60; });
  ASSERT_TRUE(paired.has_value());
  EXPECT_EQ(paired->name, "F00139");
  EXPECT_EQ(paired->offset, 0u);
  EXPECT_EQ(paired->size, 60u);
}

// FAT: a fragment of no kind (the tail of a broken chain, often) does not
// pass over records of kinds the catalogue knows to take one further on that
// names no kind: those records belong to the fragments that follow it. A
// record that names no kind and whose fragment did not take it (the head of
// a chain cut short) may be passed over.
TEST(LostChainsTest, AFragmentOfNoKindPassesOverOnlyRecordsOfNoKnownKind) {
  const auto known = [](const std::string& extension) { return extension == ".pcx" || extension == ".eml"; };
  const auto endsAt = [](std::uint64_t want) { return [want](std::uint64_t end) { return end == want; }; };
  struct Chain {
    const char* what;
    std::vector<std::pair<std::string, std::uint64_t>> records;
    bool pairs;
  };
  for (const Chain& c : std::vector<Chain>{
           {"records of known kinds first", {{"F00176.PCX", 320}, {"F00088.EML", 96}, {"F00182", 132}}, false},
           {"a record of no kind first", {{"F00063", 12416}, {"F00182", 132}}, true},
       }) {
    SCOPED_TRACE(c.what);
    auto records = std::make_shared<folders::FolderRecords>();
    records->system = folders::FileSystem::kFat;
    records->hasDotEntries = true;
    records->selfCluster = 10;
    std::uint32_t cluster = 11;
    for (const auto& [name, size] : c.records) {
      folders::FolderEntry e;
      e.name = name;
      e.firstCluster = cluster++;
      e.size = e.validSize = size;
      records->entries.push_back(e);
    }
    LostFolders lost;
    lost.Add("FILE0000", 0, records);
    const std::optional<PlacedFile> paired = lost.PairChain(32768, nullptr, known, endsAt(132));
    EXPECT_EQ(paired.has_value(), c.pairs);
    if (paired) {
      EXPECT_EQ(paired->name, "F00182");
    }
  }
}

}  // namespace
}  // namespace tessaro::split
