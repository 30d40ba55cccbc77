// ReadAhead: chunks in file order, one read each, nothing read after Finish or
// after a short read, and the platform never called by two threads at once,
// also through IdentifyFile.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "catalog/fragment_engine.h"
#include "engine/read_ahead.h"
#include "support/faulty_platform.h"
#include "support/temp_folder.h"

namespace tessaro {
namespace {

using testing::FaultyPlatform;
using testing::RandomBytes;
using testing::TempFolder;
using testing::WriteCatalogue;

// Fails the test when two calls on it overlap, and notes a read made while
// the caller says none may be.
class SerialPlatform : public FaultyPlatform {
 public:
  std::atomic<bool> readsForbidden{false};
  unsigned processors = 2;
  std::atomic<int> readsElsewhere{0};  // reads not made by the thread that made the platform
  std::thread::id owner = std::this_thread::get_id();

  unsigned UsableProcessors() override { return processors; }
  std::atomic<int> overlaps{0};
  std::atomic<int> forbiddenReads{0};

  bool Status(const std::string& path, FileStatus& out, int& error) override {
    Inside in(*this);
    return FaultyPlatform::Status(path, out, error);
  }
  FileHandle OpenRead(const std::string& path, int& error) override {
    Inside in(*this);
    return FaultyPlatform::OpenRead(path, error);
  }
  std::size_t Read(FileHandle file, void* buffer, std::size_t n) override {
    Inside in(*this);
    if (readsForbidden) ++forbiddenReads;
    if (std::this_thread::get_id() != owner) ++readsElsewhere;
    // Slow enough that a caller that did not wait for the reader would be seen.
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    return FaultyPlatform::Read(file, buffer, n);
  }
  std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t n) override {
    Inside in(*this);
    return FaultyPlatform::ReadAt(file, offset, buffer, n);
  }
  void Close(FileHandle file) override {
    Inside in(*this);
    FaultyPlatform::Close(file);
  }

 private:
  struct Inside {
    explicit Inside(SerialPlatform& p) : platform(p) {
      if (platform.busy_.exchange(true)) ++platform.overlaps;
    }
    ~Inside() { platform.busy_ = false; }
    SerialPlatform& platform;
  };
  std::atomic<bool> busy_{false};
};

class ReadAheadTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kChunk = 1000;
  static constexpr std::size_t kSpace = 7;

  FileHandle Open(const std::string& path) {
    int error = 0;
    const FileHandle file = platform_.OpenRead(path, error);
    EXPECT_NE(file, kNoFile);
    return file;
  }
  // Takes every chunk of `total` bytes and compares it with `bytes` from `from`.
  void ExpectChunks(ReadAhead& ahead, const std::string& bytes, std::size_t from, std::size_t total) {
    for (std::size_t at = 0; at < total; at += kChunk) {
      std::size_t length = 0;
      unsigned char* chunk = ahead.Next(length);
      ASSERT_NE(chunk, nullptr) << "at " << at;
      ASSERT_EQ(length, std::min(kChunk, total - at));
      EXPECT_EQ(std::memcmp(chunk, bytes.data() + from + at, length), 0) << "at " << at;
      std::memset(chunk - kSpace, 0xAB, kSpace);  // the space in front is the caller's
    }
  }

  TempFolder folder_;
  SerialPlatform platform_;
};

TEST_F(ReadAheadTest, ChunksComeInFileOrderEachFromOneRead) {
  const std::string bytes = RandomBytes(5500, 1);
  const std::string path = folder_.Write("a.chk", bytes);
  ReadAhead ahead(kChunk, kSpace);
  const FileHandle file = Open(path);
  // The caller has read the first 300 bytes itself.
  std::string head(300, '\0');
  ASSERT_EQ(platform_.Read(file, head.data(), head.size()), head.size());
  ASSERT_TRUE(ahead.Start(platform_, file, bytes.size() - 300));
  ExpectChunks(ahead, bytes, 300, bytes.size() - 300);
  ahead.Finish();
  platform_.Close(file);
  EXPECT_EQ(platform_.ReadCalls("a.chk"), 1 + 6);  // 5200 bytes: five whole chunks and 200
  EXPECT_EQ(platform_.BytesRead("a.chk"), bytes.size());
  EXPECT_EQ(platform_.overlaps, 0);
}

TEST_F(ReadAheadTest, ShortReadIsReportedAndEndsTheReading) {
  const std::string bytes = RandomBytes(5000, 2);
  const std::string path = folder_.Write("b.chk", bytes);
  platform_.ShortReadAfter("b.chk", 2500);  // the file "shrank" in the third chunk
  ReadAhead ahead(kChunk, kSpace);
  const FileHandle file = Open(path);
  ASSERT_TRUE(ahead.Start(platform_, file, bytes.size()));
  ExpectChunks(ahead, bytes, 0, 2000);
  std::size_t length = 1;
  EXPECT_EQ(ahead.Next(length), nullptr);
  EXPECT_EQ(length, 0u);
  ahead.Finish();
  platform_.Close(file);
  EXPECT_EQ(platform_.ReadCalls("b.chk"), 3);
}

TEST_F(ReadAheadTest, NothingIsReadOnceFinishHasReturned) {
  const std::string bytes = RandomBytes(200 * kChunk, 3);
  const std::string path = folder_.Write("c.chk", bytes);
  ReadAhead ahead(kChunk, kSpace);
  for (int round = 0; round < 20; ++round) {
    const FileHandle file = Open(path);
    ASSERT_TRUE(ahead.Start(platform_, file, bytes.size()));
    ExpectChunks(ahead, bytes, 0, static_cast<std::size_t>(round % 4) * kChunk);
    const int before = platform_.ReadCalls("c.chk");
    ahead.Finish();
    platform_.readsForbidden = true;
    const int after = platform_.ReadCalls("c.chk");
    // Besides the chunks taken, at most the slots' worth was read ahead.
    EXPECT_LE(after - before, static_cast<int>(ReadAhead::kSlots) + 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    platform_.Close(file);
    platform_.readsForbidden = false;
    EXPECT_EQ(platform_.ReadCalls("c.chk"), after) << "round " << round;
  }
  EXPECT_EQ(platform_.forbiddenReads, 0);
  EXPECT_EQ(platform_.overlaps, 0);
}

TEST_F(ReadAheadTest, ManyFilesInTurnEachGetTheirOwnBytes) {
  std::mt19937 random(4);
  ReadAhead ahead(kChunk, kSpace);
  std::vector<std::string> contents;
  std::vector<std::string> paths;
  for (int i = 0; i < 8; ++i) {
    contents.push_back(RandomBytes(1 + random() % (6 * kChunk), 10 + i));
    paths.push_back(folder_.Write("f" + std::to_string(i) + ".chk", contents.back()));
  }
  for (int round = 0; round < 400; ++round) {
    const std::size_t i = random() % contents.size();
    const FileHandle file = Open(paths[i]);
    ASSERT_TRUE(ahead.Start(platform_, file, contents[i].size()));
    // All of it, or a part and then done with (as when a kind has won early).
    const bool whole = random() % 2 == 0;
    const std::size_t chunks = (contents[i].size() + kChunk - 1) / kChunk;
    const std::size_t take = whole ? contents[i].size() : std::min(contents[i].size(), (random() % chunks) * kChunk);
    ExpectChunks(ahead, contents[i], 0, take);
    ahead.Finish();
    platform_.Close(file);
    if (HasFailure()) break;
  }
  EXPECT_EQ(platform_.overlaps, 0);
}

TEST_F(ReadAheadTest, IdentificationNeverCallsThePlatformFromTwoThreadsAtOnce) {
  // The first kind's content string is found in the first chunk (the scan ends
  // while the reader is busy with the next), the second's only at the end.
  const std::string catalogue =
      "[Early]\no=0\ns=41\naddon=4541524C59\npostfix=.early\n"
      "[Late]\no=0\ns=41\naddon=4C415445\npostfix=.late\n"
      "[Plain]\no=0\ns=41\npostfix=.plain\n";
  FragmentEngine engine(WriteCatalogue(folder_, catalogue), platform_);
  ASSERT_TRUE(engine.ready) << engine.lastError;
  const std::size_t size = 3 * FragmentEngine::kChunkSize + 123;
  std::string early = "A" + std::string(size - 1, 'x');
  early.replace(5000, 5, "EARLY");
  std::string late = "A" + std::string(size - 1, 'x');
  late.replace(size - 4, 4, "LATE");
  std::string plain = "A" + std::string(size - 1, 'x');
  const std::string e = folder_.Write("early.chk", early);
  const std::string l = folder_.Write("late.chk", late);
  const std::string p = folder_.Write("plain.chk", plain);
  for (int round = 0; round < 30; ++round) {
    ASSERT_EQ(engine.IdentifyFile(e.c_str())->ExtensionOrEmpty(), ".early");
    ASSERT_EQ(engine.IdentifyFile(l.c_str())->ExtensionOrEmpty(), ".late");
    ASSERT_EQ(engine.IdentifyFile(p.c_str())->ExtensionOrEmpty(), ".plain");
  }
  EXPECT_EQ(platform_.overlaps, 0);
  // Each late or plain file is read whole, once.
  EXPECT_EQ(platform_.BytesRead("late.chk"), 30 * size);
  EXPECT_EQ(platform_.BytesRead("plain.chk"), 30 * size);
}

TEST_F(ReadAheadTest, ReadAheadOnlyWhereASecondProcessorIsThere) {
  const std::string catalogue = "[Late]\no=0\ns=41\naddon=4C415445\npostfix=.late\n";
  const std::size_t size = 4 * FragmentEngine::kChunkSize;
  std::string late = "A" + std::string(size - 1, 'x');
  late.replace(size - 4, 4, "LATE");
  const std::string path = folder_.Write("late.chk", late);
  for (const unsigned processors : {1u, 2u}) {
    platform_.processors = processors;
    platform_.readsElsewhere = 0;
    FragmentEngine engine(WriteCatalogue(folder_, catalogue), platform_);
    ASSERT_TRUE(engine.ready) << engine.lastError;
    ASSERT_EQ(engine.IdentifyFile(path.c_str())->ExtensionOrEmpty(), ".late");
    // On one processor every read is the caller's; else the three chunks after
    // the first are read ahead.
    EXPECT_EQ(platform_.readsElsewhere, processors == 1 ? 0 : 3) << processors << " processors";
  }
}

}  // namespace
}  // namespace tessaro
