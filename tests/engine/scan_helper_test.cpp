// ScanHelper, and the content scan that shares a file's chunks with it: the
// same verdicts as one thread reading the chunks in file order, also across
// chunk boundaries and when a read comes short, and no call on the platform
// once an identification has returned.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "catalog/fragment_engine.h"
#include "engine/scan_helper.h"
#include "support/faulty_platform.h"
#include "support/temp_folder.h"

namespace tessaro {
namespace {

using testing::FaultyPlatform;
using testing::RandomBytes;
using testing::TempFolder;
using testing::WriteCatalogue;

// Counts the calls made by other threads than the one that made it, and the
// calls made while the test says none may be.
class WatchedPlatform : public FaultyPlatform {
 public:
  unsigned processors = 2;
  std::atomic<bool> callsForbidden{false};
  std::atomic<int> forbiddenCalls{0};
  std::atomic<int> readsElsewhere{0};      // ReadAt from another thread
  std::atomic<int> otherCallsElsewhere{0};  // anything else from another thread
  std::atomic<int> slowReadsMicroseconds{0};
  // Reads from the file position while a positioned read runs: on a system
  // whose positioned reads move the position for their time, these would read
  // from the wrong place.
  std::atomic<int> readsAlongside{0};
  std::thread::id owner = std::this_thread::get_id();

  unsigned UsableProcessors() override { return processors; }

  bool Status(const std::string& path, FileStatus& out, int& error) override {
    Note(false);
    return FaultyPlatform::Status(path, out, error);
  }
  FileHandle OpenRead(const std::string& path, int& error) override {
    Note(false);
    return FaultyPlatform::OpenRead(path, error);
  }
  std::size_t Read(FileHandle file, void* buffer, std::size_t n) override {
    Note(false);
    if (positionedReads_ > 0) ++readsAlongside;
    return FaultyPlatform::Read(file, buffer, n);
  }
  std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t n) override {
    Note(true);
    ++positionedReads_;
    // Slow enough that a caller that did not wait for the helper would be seen.
    if (const int us = slowReadsMicroseconds.load()) std::this_thread::sleep_for(std::chrono::microseconds(us));
    const std::size_t got = FaultyPlatform::ReadAt(file, offset, buffer, n);
    --positionedReads_;
    return got;
  }
  void Close(FileHandle file) override {
    Note(false);
    FaultyPlatform::Close(file);
  }

 private:
  void Note(bool positioned) {
    if (callsForbidden) ++forbiddenCalls;
    if (std::this_thread::get_id() != owner) ++(positioned ? readsElsewhere : otherCallsElsewhere);
  }
  std::atomic<int> positionedReads_{0};
};

std::vector<ScanNeedle> Needles(const std::vector<std::string>& strings) {
  std::vector<ScanNeedle> list;
  for (std::size_t i = 0; i < strings.size(); ++i) {
    list.push_back({reinterpret_cast<const unsigned char*>(strings[i].data()), strings[i].size(), i});
  }
  return list;
}

class ScanHelperTest : public ::testing::Test {
 protected:
  FileHandle Open(const std::string& path) {
    int error = 0;
    const FileHandle file = platform_.OpenRead(path, error);
    EXPECT_NE(file, kNoFile);
    return file;
  }

  TempFolder folder_;
  WatchedPlatform platform_;
};

TEST_F(ScanHelperTest, FindsOnlyWhatItsWindowHoldsAndLeavesFlagsAlreadySet) {
  std::string bytes = RandomBytes(10000, 1);
  bytes.replace(2000, 5, "alpha");
  bytes.replace(2998, 4, "beta");   // runs past the window's end
  bytes.replace(2500, 5, "gamma");
  bytes.replace(9000, 5, "delta");  // outside the window
  const std::string path = folder_.Write("a.chk", bytes);
  const std::vector<std::string> strings = {"alpha", "beta", "gamma", "delta", "omega"};
  const std::vector<ScanNeedle> list = Needles(strings);
  ScanHelper helper(4096, strings.size());
  ASSERT_TRUE(helper.Ready());
  const FileHandle file = Open(path);
  for (int round = 0; round < 50; ++round) {
    // gamma counts as found already: it is not looked for, and stays set.
    unsigned char flags[5] = {0, 0, 1, 0, 0};
    helper.Give(platform_, file, 1500, 1500, list.data(), list.size(), flags);
    ASSERT_TRUE(helper.Take(flags));
    EXPECT_EQ(flags[0], 1) << round;
    EXPECT_EQ(flags[1], 0) << round;
    EXPECT_EQ(flags[2], 1) << round;
    EXPECT_EQ(flags[3], 0) << round;
    EXPECT_EQ(flags[4], 0) << round;
  }
  platform_.Close(file);
  EXPECT_EQ(platform_.otherCallsElsewhere, 0);
  EXPECT_EQ(platform_.readsElsewhere, 50);
}

TEST_F(ScanHelperTest, AShortReadIsReportedAndSetsNothing) {
  std::string bytes = RandomBytes(5000, 2);
  bytes.replace(4500, 5, "alpha");
  const std::string path = folder_.Write("b.chk", bytes);
  const std::vector<std::string> strings = {"alpha"};
  const std::vector<ScanNeedle> list = Needles(strings);
  ScanHelper helper(4096, 1);
  ASSERT_TRUE(helper.Ready());
  const FileHandle file = Open(path);
  unsigned char flags[1] = {0};
  // The window runs past the end of the file.
  helper.Give(platform_, file, 4000, 1500, list.data(), list.size(), flags);
  EXPECT_FALSE(helper.Take(flags));
  EXPECT_EQ(flags[0], 0);
  // The same bytes, whole.
  helper.Give(platform_, file, 4000, 1000, list.data(), list.size(), flags);
  EXPECT_TRUE(helper.Take(flags));
  EXPECT_EQ(flags[0], 1);
  platform_.Close(file);
}

TEST_F(ScanHelperTest, NothingIsCalledOnceCancelHasReturned) {
  const std::string path = folder_.Write("c.chk", RandomBytes(100000, 3));
  const std::vector<std::string> strings = {"never there at all"};
  const std::vector<ScanNeedle> list = Needles(strings);
  ScanHelper helper(65536, 1);
  ASSERT_TRUE(helper.Ready());
  platform_.slowReadsMicroseconds = 200;
  for (int round = 0; round < 40; ++round) {
    const FileHandle file = Open(path);
    unsigned char flags[1] = {0};
    helper.Give(platform_, file, static_cast<std::uint64_t>(round) * 100, 65536, list.data(), list.size(), flags);
    if (round % 2 == 0) std::this_thread::sleep_for(std::chrono::microseconds(round * 10));
    helper.Cancel();
    platform_.callsForbidden = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    platform_.callsForbidden = false;
    platform_.Close(file);
  }
  EXPECT_EQ(platform_.forbiddenCalls, 0);
}

// A catalogue whose kinds all pass every file beginning with "A": which one
// wins depends only on the content strings the file holds.
constexpr const char* kCatalogue =
    "[First]\no=0\ns=41\naddon=4649525354\npostfix=.first\n"  // FIRST
    "[Pair]\no=0\ns=41\naddon1=5041495231\naddon2=5041495232\npostfix=.pair\n"  // PAIR1, PAIR2
    "[Long]\no=0\ns=41\naddon=4C4F4E47204C4F4E47204C4F4E47\npostfix=.long\n"  // LONG LONG LONG
    "[Plain]\no=0\ns=41\npostfix=.plain\n";

// What a search of the whole file would decide, in table order.
std::string Expected(const std::string& bytes) {
  auto has = [&](const char* s) { return bytes.find(s) != std::string::npos; };
  if (has("FIRST")) return ".first";
  if (has("PAIR1") && has("PAIR2")) return ".pair";
  if (has("LONG LONG LONG")) return ".long";
  return ".plain";
}

TEST_F(ScanHelperTest, VerdictsMatchASearchOfTheWholeFileOnOneOrTwoProcessors) {
  constexpr std::uint64_t kChunk = FragmentEngine::kChunkSize;
  const char* strings[] = {"FIRST", "PAIR1", "PAIR2", "LONG LONG LONG"};
  std::mt19937 random(5);
  std::vector<std::string> paths, expected;
  for (int i = 0; i < 24; ++i) {
    const std::size_t size = 1 + random() % (6 * kChunk);
    // Letters that none of the strings can be made of by chance.
    std::string bytes(size, 'x');
    bytes[0] = 'A';
    // A zero byte that other bytes follow: binary, searched to its end.
    if (size > 2) bytes[1] = '\0';
    const int placed = static_cast<int>(random() % 4);
    for (int s = 0; s < placed; ++s) {
      const std::string text = strings[random() % 4];
      if (text.size() + 1 > size) continue;
      // Often across a chunk boundary, else anywhere.
      std::uint64_t at = 1 + random() % (size - text.size());
      const std::uint64_t chunks = size / kChunk;
      if (chunks > 0 && random() % 2 == 0) {
        const std::uint64_t boundary = (1 + random() % chunks) * kChunk;
        const std::uint64_t back = random() % text.size();
        if (boundary >= back + 1 && boundary - back + text.size() <= size) at = boundary - back;
      }
      bytes.replace(at, text.size(), text);
    }
    expected.push_back(Expected(bytes));
    paths.push_back(folder_.Write("f" + std::to_string(i) + ".chk", bytes));
  }
  platform_.slowReadsMicroseconds = 20;
  for (const unsigned processors : {1u, 2u}) {
    platform_.processors = processors;
    platform_.readsElsewhere = 0;
    FragmentEngine engine(WriteCatalogue(folder_, kCatalogue), platform_);
    ASSERT_TRUE(engine.ready) << engine.lastError;
    for (int round = 0; round < 3; ++round) {
      for (std::size_t i = 0; i < paths.size(); ++i) {
        const FileTypeRecord* kind = engine.IdentifyFile(paths[i].c_str());
        ASSERT_NE(kind, nullptr) << paths[i] << ": " << engine.lastError;
        EXPECT_EQ(kind->ExtensionOrEmpty(), expected[i]) << paths[i] << " on " << processors << " processors";
      }
    }
    if (processors == 1) EXPECT_EQ(platform_.readsElsewhere, 0);
    else EXPECT_GT(platform_.readsElsewhere, 0);
    EXPECT_EQ(platform_.otherCallsElsewhere, 0);
  }
  EXPECT_EQ(platform_.readsAlongside, 0);
}

TEST_F(ScanHelperTest, AShortReadFailsOnlyWhereAReadingInFileOrderWouldHaveGotThere) {
  constexpr std::size_t kChunk = FragmentEngine::kChunkSize;
  const std::size_t size = 6 * kChunk;
  // FIRST in chunk 1 settles the file before chunk 2 is needed; PAIR1 and
  // PAIR2 in chunk 3 need every chunk, as LONG... does, which is nowhere.
  std::string early(size, 'x');
  early[0] = 'A';
  early.replace(kChunk + 100, 5, "FIRST");
  std::string late = early;
  late.replace(kChunk + 100, 5, "xxxxx");
  late.replace(3 * kChunk + 10, 5, "PAIR1");
  late.replace(3 * kChunk + 20, 5, "PAIR2");
  const std::string e = folder_.Write("early.chk", early);
  const std::string l = folder_.Write("late.chk", late);
  // Every read ends after the first 2.5 chunks: chunk 2 comes short.
  platform_.ShortReadAfter("early.chk", 2 * kChunk + kChunk / 2);
  platform_.ShortReadAfter("late.chk", 2 * kChunk + kChunk / 2);
  platform_.slowReadsMicroseconds = 100;
  for (const unsigned processors : {1u, 2u}) {
    platform_.processors = processors;
    FragmentEngine engine(WriteCatalogue(folder_, kCatalogue), platform_);
    ASSERT_TRUE(engine.ready) << engine.lastError;
    for (int round = 0; round < 10; ++round) {
      const FileTypeRecord* kind = engine.IdentifyFile(e.c_str());
      ASSERT_NE(kind, nullptr) << engine.lastError;
      EXPECT_EQ(kind->ExtensionOrEmpty(), ".first") << processors << " processors";
      EXPECT_EQ(engine.IdentifyFile(l.c_str()), nullptr) << processors << " processors";
      EXPECT_EQ(std::string(engine.lastError), "read file " + l + " failed\n");
    }
  }
}

TEST_F(ScanHelperTest, NothingIsCalledOnceAnIdentificationHasReturned) {
  constexpr std::size_t kChunk = FragmentEngine::kChunkSize;
  std::string bytes(5 * kChunk + 7, 'x');
  bytes[0] = 'A';
  std::mt19937 random(6);
  platform_.slowReadsMicroseconds = 150;
  FragmentEngine engine(WriteCatalogue(folder_, kCatalogue), platform_);
  ASSERT_TRUE(engine.ready) << engine.lastError;
  for (int round = 0; round < 30; ++round) {
    // FIRST in a random chunk: the scan often ends with a chunk still in the helper's hands.
    std::string file = bytes;
    file.replace(1 + random() % (file.size() - 6), 5, "FIRST");
    const std::string path = folder_.Write("r.chk", file);
    const FileTypeRecord* kind = engine.IdentifyFile(path.c_str());
    ASSERT_NE(kind, nullptr) << engine.lastError;
    EXPECT_EQ(kind->ExtensionOrEmpty(), ".first");
    platform_.callsForbidden = true;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    platform_.callsForbidden = false;
  }
  EXPECT_EQ(platform_.forbiddenCalls, 0);
  EXPECT_EQ(platform_.otherCallsElsewhere, 0);
}

}  // namespace
}  // namespace tessaro
