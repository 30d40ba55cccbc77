// Both passes over folders that hold more than fragments, names of every kind,
// and destinations that are the source, inside it, or no folder at all. None
// may crash, hang, or write where it must not; every fragment stays as it was.

#include <gtest/gtest.h>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <set>

#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCatalogue =
    "[JPEG image]\noffset=0\nsignature=FFD8FF\npostfix=.jpg\n"
    "[PNG image]\noffset=0\nsignature=89504E47\npostfix=.png\n"
    "[Text]\npostfix=.txt\n";

std::string Png(std::size_t size) {
  std::string bytes = Bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A});
  bytes += RandomBytes(size - bytes.size(), static_cast<std::uint32_t>(size) + 1);
  return bytes;
}

struct Rig {
  explicit Rig(const std::string& catalogue = kCatalogue) {
    dialog = std::make_unique<MainDialog>(window, WriteCatalogue(config, catalogue), platform);
    dialog->OnInitDialog();
    window.ClearLogs();
  }
  ~Rig() { dialog.reset(); }
  void Detect(const std::string& from) {
    dialog->SetSourceFolder(from);
    dialog->OnDetect();
    dialog->WaitForWorker();
  }
  void Recover(const std::string& from, const std::string& to) {
    dialog->SetSourceFolder(from);
    dialog->SetDestFolder(to);
    dialog->OnRecover();
    dialog->WaitForWorker();
  }
  std::string Count(std::size_t row) const { return window.Rows().at(row).at(2); }
  TempFolder config;
  RecordingWindow window;
  FaultyPlatform platform;
  std::unique_ptr<MainDialog> dialog;
};

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(Utf8(entry.path().filename()));
  return names;
}

// Makes a symbolic link, or says why the system would not; on Windows that
// takes a privilege or developer mode.
std::string MakeLink(const fs::path& target, const fs::path& link) {
  std::error_code error;
  if (fs::is_directory(target)) fs::create_directory_symlink(target, link, error);
  else fs::create_symlink(target, link, error);
  return error ? error.message() : "";
}

// Pipes, sockets, devices, links and folders beside the fragments are neither
// listed nor opened: a pipe without a writer would stall the pass, a device
// could be read without end, and a link leads out of the folder.
TEST(HostileFolderTest, OnlyTheRegularFilesOfTheFolderAreHandled) {
  TempFolder source;
  TempFolder dest;
  TempFolder elsewhere;
  source.Write("FILE0000.CHK", Jpeg(5000));
  source.Write("FILE0001.CHK", Png(7000));
  const std::string outside = elsewhere.Write("outside.CHK", Jpeg(3000));
  const bool links = MakeLink(PathOf(outside), source.path() / "LINKFILE.CHK").empty();
  if (links) MakeLink(elsewhere.path(), source.path() / "LINKDIR.CHK");
  const FragmentSnapshot before(source.path());
  const FragmentSnapshot outsideBefore(elsewhere.path());

#if !defined(_WIN32)
  fs::create_symlink(source.path() / "LOOP.CHK", source.path() / "LOOP.CHK");
  ASSERT_EQ(::mkfifo((source.str() + "/PIPE.CHK").c_str(), 0600), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = source.str() + "/SOCK.CHK";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  bool haveDevice = false;
  if (::geteuid() == 0) {
    // A twin of /dev/zero: endless bytes, if it were ever read.
    haveDevice = ::mknod((source.str() + "/ZERO.CHK").c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;
  }
#endif
  source.Sub("SUBDIR.CHK");
  source.Write("SUBDIR.CHK/inner.CHK", Jpeg(1000));

  Rig rig;
  rig.Detect(source.str());
  EXPECT_EQ(rig.Count(0), "1");
  EXPECT_EQ(rig.Count(1), "1");
  rig.Recover(source.str(), dest.str());
  EXPECT_EQ(rig.window.Text(ids::kFileCount), "2");
  EXPECT_EQ(rig.window.Text(ids::kProcessedCount), "2");
  EXPECT_TRUE(rig.window.Boxes().empty());
  EXPECT_EQ(Names(dest.path()), (std::set<std::string>{"FILE0000.jpg", "FILE0001.png"}));
  for (const char* special : {"PIPE.CHK", "SOCK.CHK", "ZERO.CHK", "LOOP.CHK", "LINKFILE.CHK", "LINKDIR.CHK"}) {
    EXPECT_EQ(rig.platform.OpenCount(special), 0) << special;
  }
#if !defined(_WIN32)
  EXPECT_TRUE(links);
  EXPECT_TRUE(fs::is_fifo(source.path() / "PIPE.CHK"));
  if (haveDevice) {
    EXPECT_TRUE(fs::is_character_file(source.path() / "ZERO.CHK"));
  }
  ::close(sock);
#endif
  EXPECT_EQ(before.Changes(), "");
  EXPECT_EQ(outsideBefore.Changes(), "");
}

// Names as the file system allows them: 255 bytes, bytes that are no UTF-8,
// line feeds, leading dashes. Each gives its output, or, where the output
// name would be longer than a name may be, the create message, and the pass
// goes on. Windows names are UTF-16 without control characters; there names
// in scripts beyond the Latin and Chinese code pages stand in for the bytes.
TEST(HostileFolderTest, EveryNameIsRecoveredUnderItsOwnBaseName) {
  TempFolder source;
  TempFolder dest;
  const std::string longBase(251, 'n');
  const std::string noDot(255, 'x');
  const std::vector<std::pair<std::string, std::string>> names = {
      {longBase + ".CHK", longBase + ".jpg"},
#if !defined(_WIN32)
      {"\xff\xfe\x80.CHK", "\xff\xfe\x80.jpg"},
      {"line\nfeed.CHK", "line\nfeed.jpg"},
#else
      {"\xd0\xa4\xd0\xbe\xd1\x82\xd0\xbe.CHK", "\xd0\xa4\xd0\xbe\xd1\x82\xd0\xbe.jpg"},
      {"\xe0\xa4\x9a\xe0\xa4\xbf\xe0\xa4\xa4\xe0\xa5\x8d\xe0\xa4\xb0 \xf0\x9f\x93\xb7.CHK",
       "\xe0\xa4\x9a\xe0\xa4\xbf\xe0\xa4\xa4\xe0\xa5\x8d\xe0\xa4\xb0 \xf0\x9f\x93\xb7.jpg"},
#endif
      {"-rf", "-rf.jpg"},
      {"--help.CHK", "--help.jpg"},
      {"\xe7\xa2\x8e\xe7\x89\x87.CHK", "\xe7\xa2\x8e\xe7\x89\x87.jpg"},
      {" lead and trail .CHK", " lead and trail .jpg"},
  };
  std::map<std::string, std::string> bytes;
  for (std::size_t i = 0; i < names.size(); ++i) {
    bytes[names[i].first] = Jpeg(2000 + i);
    source.Write(names[i].first, bytes[names[i].first]);
  }
  source.Write(noDot, Jpeg(1500));
  const FragmentSnapshot before(source.path());

  Rig rig;
  rig.Detect(source.str());
  EXPECT_EQ(rig.Count(0), std::to_string(names.size() + 1));
  rig.Recover(source.str(), dest.str());

  for (const auto& [fragment, output] : names) {
    EXPECT_EQ(HashBytes(ReadAll(dest.str() + "/" + output)), HashBytes(bytes[fragment])) << output;
  }
  // 255 bytes and ".jpg" do not make a name; that one file fails alone.
  const std::vector<Box> boxes = rig.window.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Open File Error");
  EXPECT_EQ(boxes[0].text, "Create file " + JoinPath(dest.str(), noDot + ".jpg") + " for write failed");
  EXPECT_EQ(Names(dest.path()).size(), names.size());
  EXPECT_EQ(rig.window.Text(ids::kProcessedCount), std::to_string(names.size() + 1));
  EXPECT_EQ(before.Changes(), "");
}

// A fragment nobody may read is not recognised and so not copied, without a
// message; every other fragment is. Root reads everything, so as root the
// passes run in a child that has become nobody. On Windows (where Wine runs
// the tests as root, whom no permission stops) the fragment is one that
// another program holds open without sharing, which no one may read.
TEST(HostileFolderTest, UnreadableFragmentIsSkippedAndTheRestRecovered) {
  TempFolder source;
  TempFolder dest;
  TempFolder config;
  const std::string catalogue = WriteCatalogue(config, kCatalogue);
  const std::string readable = Jpeg(4000);
  source.Write("A.CHK", readable);
  source.Write("B.CHK", Jpeg(4100));
  source.Write("C.CHK", Png(4200));
#if !defined(_WIN32)
  ASSERT_EQ(::chmod((source.str() + "/B.CHK").c_str(), 0), 0);
  for (const TempFolder* folder : {&source, &dest, &config}) ::chmod(folder->str().c_str(), 0777);
#endif
  const FragmentSnapshot before(source.path());

  auto run = [&]() -> std::string {
    RecordingWindow window;
    MainDialog dialog(window, catalogue);
    dialog.OnInitDialog();
    dialog.SetSourceFolder(source.str());
    dialog.OnDetect();
    dialog.WaitForWorker();
    const auto rows = window.Rows();
    if (rows.size() < 2 || rows[0][2] != "1" || rows[1][2] != "1") return "detection counted the unreadable file";
    dialog.SetDestFolder(dest.str());
    dialog.OnRecover();
    dialog.WaitForWorker();
    if (!window.Boxes().empty()) return "a message was shown: " + window.Boxes()[0].text;
    if (window.Text(ids::kProcessedCount) != "3") return "the pass did not handle all three";
    if (ReadAll(dest.str() + "/A.jpg") != readable) return "A was not copied whole";
    if (fs::exists(dest.path() / "B.jpg")) return "the unreadable B was copied";
    if (!fs::exists(dest.path() / "C.png")) return "C was not copied";
    return "";
  };

#if defined(_WIN32)
  const std::wstring held = PathOf(JoinPath(source.str(), "B.CHK")).wstring();
  const HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(run(), "");
  CloseHandle(holder);
#else
  if (::geteuid() != 0) {
    EXPECT_EQ(run(), "");
  } else {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(pipeFds[0]);
      std::string verdict = "could not become nobody";
      if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0) verdict = run();
      if (verdict.empty()) verdict = "ok";
      (void)!::write(pipeFds[1], verdict.data(), verdict.size());
      ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string verdict;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) verdict.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died";
    EXPECT_EQ(verdict, "ok");
  }
  ::chmod((source.str() + "/B.CHK").c_str(), 0644);
#endif
  EXPECT_EQ(before.Changes(), "");
}

// The destination is the source folder itself, spelt another way: outputs
// go beside the fragments under names no fragment has, and a second run
// does the same with the first run's outputs as fragments. (On Windows the
// other spelling is the path in capitals, which names the same folder.)
TEST(HostileFolderTest, DestinationThatIsTheSourceNeverWritesOntoAFragment) {
  TempFolder source;
  TempFolder links;
  const std::string picture = Jpeg(3000);
  source.Write("A.CHK", picture);
  source.Write("A.jpg", Jpeg(3100));     // a fragment with the first output's name
  source.Write("A (2).jpg", Jpeg(3200));  // and with the next one's
  source.Write("B", Png(3300));
#if defined(_WIN32)
  std::string sameFolder = source.str() + "\\.";
  for (char& c : sameFolder) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
#else
  fs::create_directory_symlink(source.path(), links.path() / "same");
  const std::string sameFolder = links.str() + "/same/.";
#endif
  const FragmentSnapshot before(source.path());

  Rig rig;
  rig.Recover(source.str(), sameFolder);
  EXPECT_TRUE(rig.window.Boxes().empty());
  EXPECT_EQ(before.Changes(), "");
  // Four new files beside the four fragments, one copy of each.
  std::multiset<std::uint64_t> fragments, outputs;
  for (const char* name : {"A.CHK", "A.jpg", "A (2).jpg", "B"}) fragments.insert(HashBytes(ReadAll(source.str() + "/" + name)));
  const std::set<std::string> after = Names(source.path());
  for (const std::string& name : after) {
    if (name != "A.CHK" && name != "A.jpg" && name != "A (2).jpg" && name != "B") {
      outputs.insert(HashBytes(ReadAll(source.str() + "/" + name)));
    }
  }
  EXPECT_EQ(after.size(), 8u);
  EXPECT_EQ(after.count("B.png"), 1u);
  EXPECT_EQ(outputs, fragments);

  const FragmentSnapshot second(source.path());
  rig.Recover(source.str(), source.str());
  EXPECT_EQ(second.Changes(), "");
  EXPECT_EQ(Names(source.path()).size(), 16u);
}

// The destination inside the source: the outputs are in a subfolder, which no
// later scan lists, so neither pass ever sees them as fragments.
TEST(HostileFolderTest, DestinationInsideTheSourceStaysOutOfItsScans) {
  TempFolder source;
  source.Write("F1.CHK", Jpeg(2000));
  source.Write("F2.CHK", Png(2100));
  const std::string out = source.Sub("recovered");
  const FragmentSnapshot before(source.path());

  Rig rig;
  rig.Recover(source.str(), out);
  rig.Recover(source.str(), out);
  EXPECT_EQ(rig.window.Text(ids::kFileCount), "2");
  EXPECT_EQ(Names(out), (std::set<std::string>{"F1.jpg", "F2.png"}));
  rig.Detect(source.str());
  EXPECT_EQ(rig.Count(0), "1");
  EXPECT_EQ(before.Changes(), "");
}

// A destination that is a file: every recognised fragment gives the create
// message, nothing is written, and the file is left alone.
TEST(HostileFolderTest, DestinationThatIsAFileIsNeverWritten) {
  TempFolder source;
  TempFolder other;
  source.Write("F1.CHK", Jpeg(2000));
  source.Write("F2.CHK", Png(2100));
  source.Write("F3.CHK", RandomBytes(500, 9) + std::string(1, '\0'));
  const std::string file = other.Write("not-a-folder", "keep me");
  const FragmentSnapshot before(source.path());
  const FragmentSnapshot fileBefore(other.path());

  Rig rig;
  rig.Recover(source.str(), file);
  const std::vector<Box> boxes = rig.window.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  for (const Box& box : boxes) {
    EXPECT_EQ(box.caption, "Open File Error");
    EXPECT_TRUE(box.text.starts_with("Create file " + file + PathSeparator())) << box.text;
  }
  EXPECT_EQ(rig.window.Text(ids::kProcessedCount), "3");
  EXPECT_EQ(ReadAll(file), "keep me");
  EXPECT_EQ(before.Changes(), "");
  EXPECT_EQ(fileBefore.Changes(), "");
}

// A destination where an output's name already leads somewhere else: a link
// to a fragment of the pass, a second name (hard link) of one, a pipe.
// Writing the output there would write over the fragment or wait for ever; such
// a name is refused with the create message, and the rest goes on. Windows
// has no pipes; a folder of that name stands in, and the symbolic links are
// made only where the system lets the test make them.
TEST(HostileFolderTest, OutputNameThatLeadsElsewhereIsRefusedNotWrittenThrough) {
  TempFolder source;
  TempFolder dest;
  TempFolder elsewhere;
  source.Write("F1.CHK", Jpeg(40000));
  const std::string secondPath = source.Write("F2.CHK", Jpeg(50000));
  source.Write("F3.CHK", Jpeg(60000));
  const std::string fourth = Png(70000);
  source.Write("F4.CHK", fourth);
  const std::string precious = elsewhere.Write("precious", "not a fragment, still not to be lost");
  const bool links = MakeLink(PathOf(secondPath), dest.path() / "F1.jpg").empty();
  fs::create_hard_link(PathOf(secondPath), dest.path() / "F2.jpg");
#if defined(_WIN32)
  fs::create_directory(dest.path() / "F3.jpg");
#else
  ASSERT_TRUE(links);
  ASSERT_EQ(::mkfifo((dest.str() + "/F3.jpg").c_str(), 0600), 0);
#endif
  if (links) MakeLink(PathOf(precious), dest.path() / "F4.png");
  const FragmentSnapshot before(source.path());
  const FragmentSnapshot preciousBefore(elsewhere.path());

  Rig rig;
  rig.Recover(source.str(), dest.str());
  EXPECT_EQ(before.Changes(), "");
  EXPECT_EQ(preciousBefore.Changes(), "");
  std::set<std::string> refused;
  for (const Box& box : rig.window.Boxes()) {
    EXPECT_EQ(box.caption, "Open File Error");
    refused.insert(box.text);
  }
  std::set<std::string> expected;
  for (const char* name : {"F1.jpg", "F2.jpg", "F3.jpg", "F4.png"}) {
    if (links || (name != std::string("F1.jpg") && name != std::string("F4.png"))) {
      expected.insert("Create file " + JoinPath(dest.str(), name) + " for write failed");
    }
  }
  EXPECT_EQ(refused, expected);
  EXPECT_EQ(fs::is_symlink(dest.path() / "F1.jpg"), links);
#if !defined(_WIN32)
  EXPECT_TRUE(fs::is_fifo(dest.path() / "F3.jpg"));
#endif
  EXPECT_EQ(rig.window.Text(ids::kProcessedCount), "4");
  EXPECT_EQ(rig.dialog->m_copiedBytes, 40000u + 50000u + 60000u + 70000u);

  // A plain file of that name is still replaced, as ever.
  fs::remove(dest.path() / "F4.png");
  dest.Write("F4.png", "an older output");
  Rig again;
  again.Recover(source.str(), dest.str());
  EXPECT_EQ(HashBytes(ReadAll(dest.str() + "/F4.png")), HashBytes(fourth));
  EXPECT_EQ(before.Changes(), "");
}

}  // namespace
}  // namespace tessaro::testing
