// The platform layer on Windows: real files, real folders, real processes.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <thread>

#include "platform/platform.h"
#include "win_test_support.h"

namespace tessaro {
namespace {

using wintest::FileHolder;
using wintest::ReadFileBytes;
using wintest::TempDir;
using wintest::W;

Platform& System() { return SystemPlatform(); }

std::string ReadThrough(const std::string& path, int& error) {
  FileHandle file = System().OpenRead(path, error);
  if (file == kNoFile) return "<open failed>";
  std::string bytes(1 << 20, '\0');
  bytes.resize(System().Read(file, bytes.data(), bytes.size()));
  System().Close(file);
  return bytes;
}

std::set<std::string> Listed(const std::string& folder, std::map<std::string, std::uint64_t>* sizes = nullptr) {
  std::set<std::string> names;
  System().ListFolder(folder, [&](std::string_view name, std::uint64_t size) {
    names.emplace(name);
    if (sizes != nullptr) (*sizes)[std::string(name)] = size;
  });
  return names;
}

TEST(Win32PathTest, JoinsWithBackslashAndKeepsTheOneMoreAfterADriveRoot) {
  EXPECT_EQ(PathSeparator(), '\\');
  EXPECT_EQ(JoinPath("D:\\out", "FILE0007.jpg"), "D:\\out\\FILE0007.jpg");
  // The root of a drive already ends in a separator and still gets one more.
  EXPECT_EQ(JoinPath("D:\\", "FILE0007.jpg"), "D:\\\\FILE0007.jpg");
}

TEST(Win32PathTest, ADriveRootWithTheDoubledSeparatorWorksForEveryCall) {
  TempDir dir;
  wintest::MappedDrive drive(dir.path());
  if (!drive.Mapped()) GTEST_SKIP() << "no free drive letter could be mapped";
  const std::string root = drive.Root();
  const std::string path = JoinPath(root, "FILE0000.jpg");
  ASSERT_EQ(path.substr(2, 2), "\\\\");

  int error = 0;
  FileHandle out = System().Create(path, error);
  ASSERT_NE(out, kNoFile) << ErrorText(error);
  ASSERT_TRUE(System().Write(out, "tile", 4, error));
  System().Close(out);
  // It landed in the mapped folder itself, under its plain name.
  EXPECT_EQ(ReadFileBytes(JoinPath(drive.Folder(), "FILE0000.jpg")), "tile");

  FileStatus status;
  ASSERT_TRUE(System().Status(path, status, error)) << ErrorText(error);
  EXPECT_EQ(status.size, 4u);
  EXPECT_EQ(ReadThrough(path, error), "tile");
  EXPECT_EQ(Listed(root), std::set<std::string>{"FILE0000.jpg"});
  EXPECT_TRUE(System().SameFile(path, JoinPath(drive.Folder(), "FILE0000.jpg")));
  EXPECT_TRUE(System().SameFile(root, drive.Folder()));
}

TEST(Win32NamesTest, NamesOutsideTheLatinAndChineseCodePagesSurviveEveryCall) {
  TempDir dir;
  // Devanagari, Hebrew, Thai, Hangul and a character beyond the 16-bit range:
  // none of them is in code page 1252 or 936.
  const std::vector<std::string> names = {
      "नमस्ते0001.CHK", "עברית0002.CHK", "ภาษาไทย0003.CHK", "한국어0004.CHK", "tile😀0005.CHK"};
  const std::string folder = JoinPath(dir.path(), "Ελληνικά-日本語-ქართული");
  ASSERT_TRUE(CreateDirectoryW(W(folder).c_str(), nullptr));

  int error = 0;
  for (const std::string& name : names) {
    FileHandle out = System().Create(JoinPath(folder, name), error);
    ASSERT_NE(out, kNoFile) << name << ": " << ErrorText(error);
    ASSERT_TRUE(System().Write(out, name.data(), name.size(), error));
    System().Close(out);
  }
  // The system holds the names themselves, not a code page's guess at them.
  std::vector<std::wstring> expected;
  for (const std::string& name : names) expected.push_back(W(name));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(wintest::FolderEntries(folder), expected);

  std::map<std::string, std::uint64_t> sizes;
  EXPECT_EQ(Listed(folder, &sizes), std::set<std::string>(names.begin(), names.end()));
  for (const std::string& name : names) {
    EXPECT_EQ(sizes[name], name.size()) << name;
    EXPECT_EQ(ReadThrough(JoinPath(folder, name), error), name);
    FileStatus status;
    EXPECT_TRUE(System().Status(JoinPath(folder, name), status, error)) << name;
    EXPECT_TRUE(status.isRegular);
  }
}

TEST(Win32NamesTest, ANameThatIsNotValidUtf16IsListedInAFormThatOpensIt) {
  TempDir dir;
  // NTFS takes any 16-bit units; a lone surrogate is a real, if rare, name.
  const std::wstring odd = W(dir.path()) + L"\\a\xD800" L"b.CHK";
  HANDLE h = CreateFileW(odd.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this file system refuses such names";
  DWORD written = 0;
  WriteFile(h, "odd", 3, &written, nullptr);
  CloseHandle(h);
  if (wintest::FolderEntries(dir.path()) != std::vector<std::wstring>{L"a\xD800" L"b.CHK"}) {
    GTEST_SKIP() << "this file system stores such names altered";
  }

  const std::set<std::string> listed = Listed(dir.path());
  ASSERT_EQ(listed.size(), 1u);
  int error = 0;
  EXPECT_EQ(ReadThrough(JoinPath(dir.path(), *listed.begin()), error), "odd");
}

TEST(Win32NamesTest, BytesThatAreNotUtf8AreRefusedWithoutTouchingTheDisk) {
  TempDir dir;
  int error = 0;
  EXPECT_EQ(System().Create(JoinPath(dir.path(), "bad\xFF\xFEname.txt"), error), kNoFile);
  EXPECT_EQ(error, ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_FALSE(ErrorText(error).empty());
  EXPECT_TRUE(wintest::FolderEntries(dir.path()).empty());
  FileStatus status;
  EXPECT_FALSE(System().Status(JoinPath(dir.path(), "\xC0\x80"), status, error));
  EXPECT_FALSE(System().ListFolder(dir.path() + "\\\xE4\xB8", [](std::string_view, std::uint64_t) {}));
}

TEST(Win32SharingTest, AFileAnotherProgramKeepsOpenForWritingCanBeRead) {
  TempDir dir;
  const std::string path = dir.Write("FILE0000.CHK", "still being written");
  FileHolder holder(path, FileHolder::Mode::kWriteSharedRead);
  ASSERT_TRUE(holder.Holding());

  int error = 0;
  EXPECT_EQ(ReadThrough(path, error), "still being written") << ErrorText(error);
  FileStatus status;
  ASSERT_TRUE(System().Status(path, status, error));
  EXPECT_EQ(status.size, 19u);
  EXPECT_EQ(Listed(dir.path()), std::set<std::string>{"FILE0000.CHK"});
}

TEST(Win32SharingTest, AFileLockedAgainstEveryoneGivesTheSystemsSharingError) {
  TempDir dir;
  const std::string path = dir.Write("FILE0001.CHK", "locked");
  FileHolder holder(path, FileHolder::Mode::kExclusive);
  ASSERT_TRUE(holder.Holding());

  int error = 0;
  EXPECT_EQ(System().OpenRead(path, error), kNoFile);
  EXPECT_EQ(error, ERROR_SHARING_VIOLATION);
  const std::string words = ErrorText(error);
  EXPECT_FALSE(words.empty());
  EXPECT_NE(words.back(), '\n');
  // Its size can still be asked for, and the listing still has it.
  FileStatus status;
  EXPECT_TRUE(System().Status(path, status, error));
  EXPECT_EQ(status.size, 6u);
  EXPECT_EQ(Listed(dir.path()), std::set<std::string>{"FILE0001.CHK"});
}

TEST(Win32SharingTest, WhileWeReadOthersMayStillWriteRenameAndDelete) {
  TempDir dir;
  const std::string path = dir.Write("FILE0002.CHK", "abc");
  int error = 0;
  FileHandle file = System().OpenRead(path, error);
  ASSERT_NE(file, kNoFile);
  HANDLE writer = CreateFileW(W(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "another program could not open it for writing";
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_TRUE(MoveFileW(W(path).c_str(), W(dir / "renamed.CHK").c_str()));
  EXPECT_TRUE(DeleteFileW(W(dir / "renamed.CHK").c_str()));
  System().Close(file);
}

TEST(Win32ReadOnlyTest, AReadOnlyFragmentIsReadAndAReadOnlyTargetIsNotReplaced) {
  TempDir dir;
  const std::string path = dir.Write("FILE0003.CHK", "read-only bytes");
  ASSERT_TRUE(SetFileAttributesW(W(path).c_str(), FILE_ATTRIBUTE_READONLY));

  int error = 0;
  EXPECT_EQ(ReadThrough(path, error), "read-only bytes") << ErrorText(error);
  EXPECT_EQ(System().Create(path, error), kNoFile);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadFileBytes(path), "read-only bytes");
  EXPECT_EQ(GetFileAttributesW(W(path).c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST(Win32FileTest, CreateTruncatesAndLargeTransfersGoWhole) {
  TempDir dir;
  const std::string path = dir.Write("out.bin", std::string(100000, 'x'));
  std::string data(3 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 9));

  int error = 0;
  FileHandle out = System().Create(path, error);
  ASSERT_NE(out, kNoFile);
  ASSERT_TRUE(System().Write(out, data.data(), data.size(), error));
  System().Close(out);
  EXPECT_EQ(ReadFileBytes(path), data);

  FileHandle in = System().OpenRead(path, error);
  ASSERT_NE(in, kNoFile);
  std::string back(data.size() + 100, '\0');
  EXPECT_EQ(System().Read(in, back.data(), back.size()), data.size());  // short only at the end
  EXPECT_EQ(System().Read(in, back.data(), 10), 0u);
  System().Close(in);
}

TEST(Win32FileTest, SizesBeyondFourGibibytesAndReadsAtAnOffsetLeaveThePosition) {
  TempDir dir;
  const std::string path = dir / "big.CHK";
  const std::uint64_t size = 5ull << 30;
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD ignored = 0;
  // Sparse, so the test costs no disk space where the system can help it.
  DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  DWORD written = 0;
  WriteFile(h, "HEAD", 4, &written, nullptr);
  LARGE_INTEGER tail;
  tail.QuadPart = static_cast<LONGLONG>(size - 4);
  SetFilePointerEx(h, tail, nullptr, FILE_BEGIN);
  WriteFile(h, "TAIL", 4, &written, nullptr);
  CloseHandle(h);

  int error = 0;
  FileStatus status;
  ASSERT_TRUE(System().Status(path, status, error));
  EXPECT_EQ(status.size, size);
  std::map<std::string, std::uint64_t> sizes;
  Listed(dir.path(), &sizes);
  EXPECT_EQ(sizes["big.CHK"], size);

  FileHandle file = System().OpenRead(path, error);
  ASSERT_NE(file, kNoFile);
  char last[4] = {};
  EXPECT_EQ(System().ReadAt(file, size - 4, last, 4), 4u);
  EXPECT_EQ(std::string(last, 4), "TAIL");
  EXPECT_EQ(System().ReadAt(file, size, last, 4), 0u);  // nothing beyond the end
  char head[4] = {};
  EXPECT_EQ(System().Read(file, head, 4), 4u);  // the sequential reader is still at 0
  EXPECT_EQ(std::string(head, 4), "HEAD");
  System().Close(file);
}

TEST(Win32StatusTest, MissingPathsGiveTheSystemsCodesAndFoldersAreNotFiles) {
  TempDir dir;
  int error = 0;
  FileStatus status;
  EXPECT_FALSE(System().Status(dir / "absent.CHK", status, error));
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(System().Status(dir / "absent\\FILE0000.CHK", status, error));
  EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
  EXPECT_NE(ErrorText(ERROR_FILE_NOT_FOUND), ErrorText(ERROR_PATH_NOT_FOUND));

  ASSERT_TRUE(System().Status(dir.path(), status, error));
  EXPECT_TRUE(status.isDirectory);
  EXPECT_FALSE(status.isRegular);
  EXPECT_EQ(System().OpenRead(dir.path(), error), kNoFile);
}

TEST(Win32ListTest, ListsRegularFilesOnlyAndRefusesWhatIsNoFolder) {
  TempDir dir;
  dir.Write("FILE0000.CHK", "a");
  dir.Write("readme.txt", "bb");
  dir.Write(".hidden", "ccc");
  dir.Sub("subfolder");
  dir.Write("subfolder\\FILE0009.CHK", "inner");
  // A link leads out of the folder: not listed, whether or not it may be made here.
  const bool linked = CreateSymbolicLinkW(W(dir / "link.CHK").c_str(), W(dir / "readme.txt").c_str(),
                                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;

  std::map<std::string, std::uint64_t> sizes;
  EXPECT_EQ(Listed(dir.path(), &sizes), (std::set<std::string>{"FILE0000.CHK", "readme.txt", ".hidden"}))
      << (linked ? "with a link" : "without a link");
  EXPECT_EQ(sizes["readme.txt"], 2u);
  // The same folder written with a trailing separator lists the same.
  EXPECT_EQ(Listed(dir.path() + "\\"), Listed(dir.path()));

  auto none = [](std::string_view, std::uint64_t) { ADD_FAILURE() << "nothing to list"; };
  EXPECT_FALSE(System().ListFolder(dir / "absent", none));
  EXPECT_FALSE(System().ListFolder(dir / "readme.txt", none));
  EXPECT_FALSE(System().ListFolder("", none));  // not the root of the current drive
  EXPECT_TRUE(System().ListFolder(dir.Sub("empty"), none));
}

TEST(Win32ListTest, FoldersDeeperThanMaxPathWork) {
  TempDir dir;
  std::string folder = dir.path();
  while (folder.size() < 300) {
    folder += "\\" + std::string(40, 'd');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + W(folder)).c_str(), nullptr));
  }
  const std::string path = JoinPath(folder, "FILE0000.CHK");
  int error = 0;
  FileHandle out = System().Create(path, error);
  ASSERT_NE(out, kNoFile) << ErrorText(error);
  ASSERT_TRUE(System().Write(out, "deep", 4, error));
  System().Close(out);
  EXPECT_EQ(Listed(folder), std::set<std::string>{"FILE0000.CHK"});
  FileStatus status;
  EXPECT_TRUE(System().Status(path, status, error));
  EXPECT_EQ(ReadThrough(path, error), "deep");
  EXPECT_TRUE(System().SameFile(path, path));
}

TEST(Win32SameFileTest, OneFileUnderDifferentSpellingsIsTheSameFile) {
  TempDir dir;
  const std::string a = dir.Write("Fragment.CHK", "x");
  const std::string b = dir.Write("other.CHK", "x");
  std::string slashed = dir.path() + "/./FRAGMENT.chk";
  EXPECT_TRUE(System().SameFile(a, slashed));
  EXPECT_FALSE(System().SameFile(a, b));
  EXPECT_FALSE(System().SameFile(a, dir / "absent.CHK"));
  EXPECT_TRUE(System().SameFile(dir.path(), dir.path() + "\\"));
  EXPECT_FALSE(System().SameFile(dir.path(), dir.Sub("inner")));
}

TEST(Win32WorkerTest, TheBodyRunsOnAnotherThreadAndJoinWaitsForIt) {
  std::thread::id ran;
  bool done = false;
  WorkerHandle worker;
  ASSERT_TRUE(System().StartWorker(
      [&] {
        Sleep(50);
        ran = std::this_thread::get_id();
        done = true;
      },
      worker));
  worker.Join();
  EXPECT_TRUE(done);
  EXPECT_NE(ran, std::this_thread::get_id());
  EXPECT_FALSE(worker.Joinable());
}

}  // namespace
}  // namespace tessaro
