// Identification of files that are not ordinary fragments, and catalogues at
// and past their limits: none may crash, hang, read more than it needs, or
// misreport.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>

#include "catalog/fragment_engine.h"
#include "support/faulty_platform.h"
#include "support/temp_folder.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::FaultyPlatform;
using testing::PathOf;
using testing::TempFolder;
using testing::WriteCatalogue;

constexpr const char* kPictures =
    "[JPEG image]\noffset=0\nsignature=FFD8FF\npostfix=.jpg\n"
    "[ISO image]\noffset=5368709000\nsignature=4344303031\npostfix=.iso\n"
    "[Word document]\noffset=0\nsignature=504B0304\naddon=776F72642F\npostfix=.docx\n";

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = std::make_unique<FragmentEngine>(WriteCatalogue(config_, kPictures), platform_);
    ASSERT_TRUE(engine_->ready) << engine_->lastError;
  }
  std::string Kind(const std::string& path) {
    const FileTypeRecord* kind = engine_->IdentifyFile(path.c_str());
    return kind ? kind->ExtensionOrEmpty() : "-";
  }
  TempFolder config_;
  TempFolder folder_;
  FaultyPlatform platform_;
  std::unique_ptr<FragmentEngine> engine_;
};

// Whatever stands at a path, identification answers at once: nothing that is
// not a regular file holds a kind, and none of them is waited on.
#if !defined(_WIN32)
TEST_F(HostileInputTest, SpecialFilesHaveNoKindAndNeverBlock) {
  const std::string fifo = folder_.str() + "/pipe.CHK";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string socketPath = folder_.str() + "/sock.CHK";
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string loop = folder_.str() + "/loop.CHK";
  fs::create_symlink(loop, loop);
  const std::string sub = folder_.Sub("folder.CHK");

  EXPECT_EQ(Kind(fifo), "-");
  EXPECT_EQ(Kind(socketPath), "-");
  EXPECT_EQ(Kind("/dev/null"), "-");
  EXPECT_EQ(Kind("/dev/zero"), "-");
  EXPECT_EQ(Kind("/dev/urandom"), "-");
  IdentifyStatus status;
  EXPECT_EQ(engine_->IdentifyFile(loop.c_str(), status), nullptr);
  EXPECT_EQ(status, IdentifyStatus::kFailed);
  EXPECT_EQ(std::string(engine_->lastError), "cann't get " + loop + " information\n");
  EXPECT_EQ(Kind(sub), "-");
  ::close(sock);
}
#else
// Windows has no pipes, sockets or device nodes in a folder; what stands in
// for them there is the device names, which every folder answers to.
TEST_F(HostileInputTest, DevicesAndFoldersHaveNoKindAndNeverBlock) {
  const std::string sub = folder_.Sub("folder.CHK");
  EXPECT_EQ(Kind("NUL"), "-");
  EXPECT_EQ(Kind("\\\\.\\NUL"), "-");
  EXPECT_EQ(Kind(folder_.str() + "\\CON"), "-");
  EXPECT_EQ(Kind(sub), "-");
}
#endif

// A symbolic link to a fragment is the fragment, as the runtime's status query
// and open see it; to a folder, it is a folder.
TEST_F(HostileInputTest, LinksAreFollowedToWhatTheyName) {
  const std::string file = folder_.Write("real.CHK", Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00}));
  std::error_code made;
  fs::create_symlink(file, folder_.path() / "link.CHK", made);
  if (made) GTEST_SKIP() << "this system does not let the test make a link: " << made.message();
  fs::create_directory_symlink(folder_.path(), folder_.path() / "up.CHK");
  EXPECT_EQ(Kind(folder_.str() + "/link.CHK"), ".jpg");
  EXPECT_EQ(Kind(folder_.str() + "/up.CHK"), "-");
}

// Names are bytes: the longest a file system allows, bytes that are no UTF-8,
// line feeds and leading dashes all reach the file. Windows names are UTF-16
// without control characters, and the system drops blanks at their end; there
// characters outside the Latin and Chinese code pages take the others' place.
TEST_F(HostileInputTest, AnyNameTheFileSystemAllowsIsIdentified) {
  const std::string jpeg = Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10});
#if !defined(_WIN32)
  const std::vector<std::string> names = {std::string(251, 'n') + ".CHK", "\xff\xfe\x80.CHK", "line\nfeed.CHK",
                                          "-rf", "--json", " blank ", "tab\tname", "\xe6\x96\x87\xe4\xbb\xb6.CHK"};
#else
  const std::vector<std::string> names = {std::string(251, 'n') + ".CHK", "\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1.CHK",
                                          "\xf0\x9f\x93\xb7 photo.CHK", "-rf", "--json", " blank",
                                          "\xe6\x96\x87\xe4\xbb\xb6.CHK"};
#endif
  for (const std::string& name : names) {
    const std::string path = folder_.Write(name, jpeg);
    EXPECT_EQ(Kind(path), ".jpg") << name;
  }
  EXPECT_EQ(names[0].size(), 255u);
}

// A 5 GiB sparse fragment: a signature-only kind costs one read of at most
// 4096 bytes, and a signature near the end is read where it lies, alone.
TEST_F(HostileInputTest, HugeSparseFragmentReadsOnlyWhatItsKindNeeds) {
  constexpr std::uint64_t kSize = 5ull << 30;
  const std::string path = folder_.Write("huge.CHK", "\xFF\xD8\xFF");
  fs::resize_file(path, kSize);
  EXPECT_EQ(Kind(path), ".jpg");
  EXPECT_LE(platform_.BytesRead("huge.CHK"), 4096u);
  EXPECT_EQ(platform_.ReadCalls("huge.CHK"), 1);

  // No longer a picture; the disc image's mark lies 5 GiB in (appended to
  // sparse zeros, so the test needs no 64-bit seek of its own).
  const std::string other = folder_.Write("disc.CHK", "");
  fs::resize_file(other, 5368709000);
  std::ofstream(PathOf(other), std::ios::binary | std::ios::app) << "CD001";
  fs::resize_file(other, kSize);
  EXPECT_EQ(Kind(other), ".iso");
  EXPECT_LE(platform_.BytesRead("disc.CHK"), 4096u + 5u);
}

// Lines of a mebibyte: as a section name, a signature, a content string, a
// comment and a last line without a line end. The reader has no line limit.
TEST(HostileCatalogueTest, MebibyteLinesLoadAndIdentify) {
  TempFolder folder;
  const std::size_t kLine = 1 << 20;
  std::string signatureHex;
  std::string fileHead;
  for (std::size_t i = 0; i < kLine / 2; ++i) {
    static const char* digits = "0123456789ABCDEF";
    const unsigned char byte = static_cast<unsigned char>(i * 7 + 1);
    signatureHex += digits[byte >> 4];
    signatureHex += digits[byte & 15];
    fileHead += static_cast<char>(byte);
  }
  const std::string longName(kLine, 'k');
  const std::string catalogue = "; " + std::string(kLine, 'c') + "\n[" + longName + "]\noffset=0\nsignature=" +
                                signatureHex + "\npostfix=.big\n[Small]\noffset=0\nsignature=FFD8\naddon=" +
                                std::string(kLine, 'A') + "\npostfix=" + std::string(kLine, 'e');
  FragmentEngine engine(WriteCatalogue(folder, catalogue));
  ASSERT_TRUE(engine.ready) << engine.lastError;
  ASSERT_EQ(engine.kindCount, 2);
  EXPECT_EQ(engine.kinds[0]->NameOrEmpty(), longName);
  EXPECT_EQ(engine.kinds[0]->signatures.at(0).size(), kLine);
  EXPECT_EQ(engine.kinds[1]->ExtensionOrEmpty().size(), kLine);

  const std::string match = folder.Write("a.CHK", fileHead + "tail");
  const FileTypeRecord* kind = engine.IdentifyFile(match.c_str());
  ASSERT_NE(kind, nullptr);
  EXPECT_EQ(kind->ExtensionOrEmpty(), ".big");
  // One byte short of the signature: it does not fit, and nothing else matches.
  const std::string shortFile = folder.Write("b.CHK", fileHead.substr(0, fileHead.size() - 1));
  EXPECT_EQ(engine.IdentifyFile(shortFile.c_str()), nullptr);
  // The half-mebibyte content string of AA bytes, found whole across chunks.
  const std::string content = Bytes({0xFF, 0xD8}) + std::string(300000, 'x') + std::string(kLine / 2, '\xAA');
  const std::string withContent = folder.Write("c.CHK", content);
  kind = engine.IdentifyFile(withContent.c_str());
  ASSERT_NE(kind, nullptr);
  EXPECT_EQ(kind, engine.kinds[1]);
  const std::string without = folder.Write("d.CHK", content.substr(0, content.size() - 1));
  EXPECT_EQ(engine.IdentifyFile(without.c_str()), nullptr);
}

// A long path in a failure message is cut to fit the 512-byte error text.
TEST(HostileCatalogueTest, LongPathsNeverOverrunTheErrorText) {
  TempFolder folder;
  FragmentEngine engine(WriteCatalogue(folder, kPictures));
  ASSERT_TRUE(engine.ready);
  const std::string path = folder.str() + "/" + std::string(250, 'd') + "/" + std::string(250, 'e') + "/" +
                           std::string(250, 'f') + "/missing";
  EXPECT_EQ(engine.IdentifyFile(path.c_str()), nullptr);
  EXPECT_LT(::strnlen(engine.lastError, sizeof engine.lastError), sizeof engine.lastError);
  EXPECT_EQ(std::string(engine.lastError).rfind("cann't get ", 0), 0u);

  FragmentEngine missing(path + ".cfg");
  EXPECT_FALSE(missing.ready);
  EXPECT_LT(::strnlen(missing.lastError, sizeof missing.lastError), sizeof missing.lastError);
}

// A catalogue that is binary rubbish, or a file that is no catalogue at all,
// fails the load with its message; identification then refuses every file.
TEST(HostileCatalogueTest, RubbishInsteadOfACatalogueFailsTheLoadCleanly) {
  TempFolder folder;
  const std::string file = folder.Write("f.CHK", Bytes({0xFF, 0xD8, 0xFF, 0x00}));
  for (const std::string& rubbish : {testing::RandomBytes(100000, 1), std::string(4096, '\0'),
                                     std::string("[a]\nk=v\n") + '\x01' + "[b]\n", std::string("\xEF\xBB\xBF"),
                                     std::string("[J]\noffset=0\nsig=FF D8\npostfix=.jpg\n"),
                                     std::string("[J]\noffset=0\nsig=FF\x80\npostfix=.jpg\n")}) {
    FragmentEngine engine(WriteCatalogue(folder, rubbish));
    EXPECT_FALSE(engine.ready);
    EXPECT_EQ(engine.kindCount, 0);
    const std::string error = engine.lastError;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.back(), '\n') << error;
    EXPECT_EQ(engine.IdentifyFile(file.c_str()), nullptr);
    EXPECT_EQ(std::string(engine.lastError), "inside error,the class object haven't be initialized\n");
  }
}

// Found by the catalogue fuzzer: a zero byte in a signature ended the message
// at the quote, so it said neither what was wrong nor ended in a line feed.
// Bytes that cannot be shown are named by their value.
TEST(HostileCatalogueTest, ABadByteInHexIsNamedWholeWhateverItIs) {
  TempFolder folder;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string("FF\0D8", 5), "byte 0x00"}, {"FF\x01" "D8", "byte 0x01"}, {"FF\xC3\xA9", "byte 0xC3"},
      {"FF\x7F", "byte 0x7F"}, {"FF D8", "byte 0x20"}, {"FFG8", "'G'"}};
  for (const auto& [hex, named] : cases) {
    FragmentEngine engine(WriteCatalogue(folder, "[J]\noffset=0\nsig=" + hex + "\npostfix=.jpg\n"));
    EXPECT_FALSE(engine.ready);
    const std::string error = engine.lastError;
    EXPECT_NE(error.find("section [J], key sig: " + named + " is not a hexadecimal digit\n"), std::string::npos)
        << error;
  }
}

// Thousands of sections are refused with the limit's message, not read into
// a table of 300.
TEST(HostileCatalogueTest, ThousandsOfKindsAreRefused) {
  TempFolder folder;
  std::string catalogue;
  for (int i = 0; i < 1000; ++i) catalogue += "[kind " + std::to_string(i) + "]\noffset=0\nsig=41\npostfix=.k\n";
  FragmentEngine engine(WriteCatalogue(folder, catalogue));
  EXPECT_FALSE(engine.ready);
  EXPECT_EQ(engine.kindCount, 0);
  EXPECT_NE(std::string(engine.lastError).find("1000 kinds"), std::string::npos) << engine.lastError;
}

}  // namespace
}  // namespace tessaro
