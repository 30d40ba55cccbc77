// FolderScope on the real system: inside it, status and opens of the files of
// the folder answer as they do by path, other paths are untouched, and the
// folder is let go of at the end (an open folder keeps a disk from being
// unmounted). Only POSIX systems open the folder; elsewhere the scope does
// nothing.

#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/platform.h"
#include "support/temp_folder.h"

namespace tessaro {
namespace {

using testing::TempFolder;

int OpenDescriptors() {
  int n = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (const dirent* entry = ::readdir(dir)) n += entry->d_name[0] != '.';
  ::closedir(dir);
  return n;
}

struct Answer {
  bool ok = false;
  int error = 0;
  FileStatus status;
  std::string head;  // the first bytes, when it opens
};

Answer Ask(Platform& platform, const std::string& path) {
  Answer a;
  a.ok = platform.Status(path, a.status, a.error);
  int error = 0;
  const FileHandle file = platform.OpenRead(path, error);
  if (file != kNoFile) {
    char bytes[16] = {};
    a.head.assign(bytes, platform.Read(file, bytes, sizeof bytes));
    platform.Close(file);
  } else if (a.ok) {
    a.error = error;
  }
  return a;
}

void ExpectSame(const Answer& in, const Answer& out, const std::string& what) {
  EXPECT_EQ(in.ok, out.ok) << what;
  EXPECT_EQ(in.error, out.error) << what;
  EXPECT_EQ(in.status.size, out.status.size) << what;
  EXPECT_EQ(in.status.isRegular, out.status.isRegular) << what;
  EXPECT_EQ(in.status.isDirectory, out.status.isDirectory) << what;
  EXPECT_EQ(in.head, out.head) << what;
}

TEST(FolderScopeTest, AnswersAreThoseGivenByPath) {
  TempFolder root;
  const std::string folder = root.Sub("FOUND.000");
  root.Write("FOUND.000/FILE0000.CHK", "first fragment");
  root.Write("FOUND.000/deeper/FILE0001.CHK", "deeper one");
  root.Write("elsewhere.CHK", "not in the folder");
  std::filesystem::create_symlink(root.str() + "/elsewhere.CHK", folder + "/link.CHK");
  std::filesystem::create_directory(folder + "/sub");
  Platform& platform = SystemPlatform();
  const std::vector<std::string> paths = {
      JoinPath(folder, "FILE0000.CHK"), JoinPath(folder, "link.CHK"),    JoinPath(folder, "missing.CHK"),
      JoinPath(folder, "sub"),          folder + "/deeper/FILE0001.CHK", root.str() + "/elsewhere.CHK",
      JoinPath(folder, ".."),
  };
  std::vector<Answer> byPath;
  for (const std::string& path : paths) byPath.push_back(Ask(platform, path));
  EXPECT_EQ(byPath[0].head, "first fragment");
  EXPECT_EQ(byPath[2].error, ENOENT);
  {
    const FolderScope scope(platform, folder);
    for (std::size_t i = 0; i < paths.size(); ++i) ExpectSame(Ask(platform, paths[i]), byPath[i], paths[i]);
  }
  // The folder named with a separator at its end, as a root folder is: the
  // joined paths then hold two.
  {
    const FolderScope scope(platform, folder + "/");
    ExpectSame(Ask(platform, JoinPath(folder + "/", "FILE0000.CHK")), byPath[0], "doubled separator");
  }
}

TEST(FolderScopeTest, TheFolderIsLetGoOfAndAFolderThatCannotBeOpenedChangesNothing) {
  TempFolder root;
  const std::string folder = root.Sub("lost+found");
  const std::string file = root.Write("lost+found/#12345", "fsck leftover");
  Platform& platform = SystemPlatform();
  const int before = OpenDescriptors();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 20; ++i) {
    const FolderScope scope(platform, folder);
    EXPECT_EQ(Ask(platform, file).head, "fsck leftover");
    // A second folder in the same thread takes the place of the first.
    platform.BeginFolder(root.str());
  }
  EXPECT_EQ(OpenDescriptors(), before);
  {
    const FolderScope scope(platform, root.str() + "/no such folder");
    EXPECT_EQ(Ask(platform, file).head, "fsck leftover");
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace tessaro

#endif  // !_WIN32
