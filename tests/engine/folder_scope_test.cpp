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

#include "catalog/fragment_engine.h"
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

// The first bytes of an open file, which is then closed.
std::string HeadOf(Platform& platform, FileHandle file) {
  char bytes[16] = {};
  const std::size_t n = platform.Read(file, bytes, sizeof bytes);
  platform.Close(file);
  return std::string(bytes, n);
}

Answer Ask(Platform& platform, const std::string& path) {
  Answer a;
  a.ok = platform.Status(path, a.status, a.error);
  int error = 0;
  const FileHandle file = platform.OpenRead(path, error);
  if (file != kNoFile) {
    a.head = HeadOf(platform, file);
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

// StatusAndOpen: what the status says and whether the file opens, and the
// identification built on it, are the same inside the scope as outside.
TEST(FolderScopeTest, StatusAndOpenTogetherAnswerAsTheTwoCallsInTurn) {
  TempFolder root;
  const std::string folder = root.Sub("FOUND.000");
  root.Write("FOUND.000/FILE0000.CHK", "\xFF\xD8\xFF\xE0 a picture");
  root.Write("FOUND.000/FILE0001.CHK", "");
  root.Write("FOUND.000/FILE0002.CHK", "plain words\n");
  root.Write("FOUND.000/FILE0003.CHK", std::string(100, '\0'));
  std::filesystem::create_directory(folder + "/sub");
  const std::string catalogue = testing::WriteCatalogue(root, "[JPEG]\no=0\ns=FFD8FF\npostfix=.jpg\n");
  Platform& platform = SystemPlatform();
  const std::vector<std::string> names = {"FILE0000.CHK", "FILE0001.CHK", "FILE0002.CHK",
                                          "FILE0003.CHK", "missing.CHK",  "sub"};
  struct Together {
    FileHandle file = kNoFile;
    FileStatus status;
    bool statusFailed = false;
    std::string head;
    const FileTypeRecord* kind = nullptr;
    std::string lastError;
  };
  FragmentEngine engine(catalogue);
  ASSERT_TRUE(engine.ready) << engine.lastError;
  auto ask = [&](const std::string& path) {
    Together t;
    int error = 0;
    t.file = platform.StatusAndOpen(path, t.status, error, t.statusFailed);
    if (t.file != kNoFile) t.head = HeadOf(platform, t.file);
    engine.lastError[0] = '\0';
    t.kind = engine.IdentifyFile(path.c_str());
    t.lastError = engine.lastError;
    return t;
  };
  std::vector<Together> outside;
  for (const std::string& name : names) outside.push_back(ask(JoinPath(folder, name)));
  EXPECT_EQ(outside[0].head.substr(4), " a picture");
  EXPECT_EQ(outside[1].file, kNoFile);  // empty: not opened, and no failure
  EXPECT_FALSE(outside[1].statusFailed);
  EXPECT_TRUE(outside[4].statusFailed);
  ASSERT_NE(outside[0].kind, nullptr);
  EXPECT_EQ(outside[0].kind->ExtensionOrEmpty(), ".jpg");
  EXPECT_EQ(outside[2].kind, &engine.textKind);
  const FolderScope scope(platform, folder);
  const int descriptors = OpenDescriptors();
  for (std::size_t i = 0; i < names.size(); ++i) {
    const Together inside = ask(JoinPath(folder, names[i]));
    EXPECT_EQ(OpenDescriptors(), descriptors) << names[i] << ": a file was left open";
    EXPECT_EQ(inside.file == kNoFile, outside[i].file == kNoFile) << names[i];
    EXPECT_EQ(inside.statusFailed, outside[i].statusFailed) << names[i];
    EXPECT_EQ(inside.status.size, outside[i].status.size) << names[i];
    EXPECT_EQ(inside.status.isRegular, outside[i].status.isRegular) << names[i];
    EXPECT_EQ(inside.status.isDirectory, outside[i].status.isDirectory) << names[i];
    EXPECT_EQ(inside.head, outside[i].head) << names[i];
    EXPECT_EQ(inside.kind, outside[i].kind) << names[i];
    EXPECT_EQ(inside.lastError, outside[i].lastError) << names[i];
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
