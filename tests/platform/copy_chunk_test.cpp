// The system's CopyChunk must leave exactly what a Read and a Write of the
// chunk would: the same bytes, and nothing of a chunk whose read falls short.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "platform/platform.h"
#include "support/temp_folder.h"

namespace tessaro::testing {
namespace {

class CopyChunkTest : public ::testing::Test {
 protected:
  std::string Put(const std::string& name, const std::string& bytes) { return folder_.Write(name, bytes); }
  static std::string Random(std::size_t n) { return RandomBytes(n, 5); }

  TempFolder folder_;
  const fs::path& root_ = folder_.path();
};

TEST_F(CopyChunkTest, ChunksInTurnGiveTheWholeFile) {
  Platform& system = SystemPlatform();
  const std::string bytes = Random(3 * 32768 + 5);
  const std::string from = Put("in", bytes);
  const std::string to = (root_ / "out").string();
  int error = 0;
  const FileHandle in = system.OpenRead(from, error);
  const FileHandle out = system.Create(to, error);
  ASSERT_NE(in, kNoFile);
  ASSERT_NE(out, kNoFile);
  std::vector<unsigned char> buffer(32768);
  for (std::size_t done = 0; done < bytes.size();) {
    const std::size_t n = std::min<std::size_t>(32768, bytes.size() - done);
    ASSERT_EQ(system.CopyChunk(in, out, buffer.data(), n, error), Platform::CopyResult::kCopied);
    done += n;
  }
  system.Close(in);
  system.Close(out);
  EXPECT_EQ(ReadAll(to), bytes);
}

TEST_F(CopyChunkTest, AShortReadLeavesOnlyTheWholeChunksBeforeIt) {
  Platform& system = SystemPlatform();
  const std::string bytes = Random(4 * 32768);
  const std::string from = Put("in", bytes);
  const std::string to = (root_ / "out").string();
  int error = 0;
  const FileHandle in = system.OpenRead(from, error);
  const FileHandle out = system.Create(to, error);
  std::vector<unsigned char> buffer(32768);
  ASSERT_EQ(system.CopyChunk(in, out, buffer.data(), 32768, error), Platform::CopyResult::kCopied);
  // The fragment shrinks in the middle of the second chunk.
  fs::resize_file(from, 32768 + 1000);
  EXPECT_EQ(system.CopyChunk(in, out, buffer.data(), 32768, error), Platform::CopyResult::kReadFailed);
  system.Close(in);
  system.Close(out);
  EXPECT_EQ(ReadAll(to), bytes.substr(0, 32768));
}

TEST_F(CopyChunkTest, AWriteThatCannotBeMadeIsAWriteFailure) {
  // A limit on the size of files written makes the write fail as a full disk
  // would (EFBIG instead of ENOSPC), for the kernel's copy and a plain write alike.
  Platform& system = SystemPlatform();
  const std::string from = Put("in", Random(2 * 32768));
  const std::string to = (root_ / "out").string();
  int error = 0;
  const FileHandle in = system.OpenRead(from, error);
  const FileHandle out = system.Create(to, error);
  ASSERT_NE(out, kNoFile);
  std::vector<unsigned char> buffer(32768);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 40000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto first = system.CopyChunk(in, out, buffer.data(), 32768, error);
  error = 0;
  const auto second = system.CopyChunk(in, out, buffer.data(), 32768, error);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  system.Close(in);
  system.Close(out);
  EXPECT_EQ(first, Platform::CopyResult::kCopied);
  EXPECT_EQ(second, Platform::CopyResult::kWriteFailed);
  EXPECT_NE(error, 0);
}

}  // namespace
}  // namespace tessaro::testing
