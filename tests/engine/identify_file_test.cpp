// IdentifyFile: signatures, content strings, the text fallback, failures.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "catalog/fragment_engine.h"
#include "support/faulty_platform.h"
#include "support/temp_folder.h"

namespace tessaro {
namespace {

using testing::Bytes;
using testing::FaultyPlatform;
using testing::RandomBytes;
using testing::TempFolder;
using testing::WriteCatalogue;

class IdentifyFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<FragmentEngine> Engine(const std::string& catalogue) {
    auto engine = std::make_unique<FragmentEngine>(WriteCatalogue(folder_, catalogue), platform_);
    EXPECT_TRUE(engine->ready) << engine->lastError;
    return engine;
  }
  // The extension identified, "-" for no kind.
  std::string Kind(FragmentEngine& engine, const std::string& bytes) {
    const std::string path = folder_.Write("file" + std::to_string(counter_++) + ".chk", bytes);
    const FileTypeRecord* kind = engine.IdentifyFile(path.c_str());
    return kind ? kind->ExtensionOrEmpty() : "-";
  }
  TempFolder folder_;
  FaultyPlatform platform_;
  int counter_ = 0;
};

TEST_F(IdentifyFileTest, EmptyFileHasNoKindAndLeavesLastErrorAlone) {
  auto engine = Engine("[Z]\no=0\ns=\npostfix=.z\n");
  std::strcpy(engine->lastError, "earlier");
  EXPECT_EQ(Kind(*engine, ""), "-");
  EXPECT_STREQ(engine->lastError, "earlier");
  EXPECT_EQ(platform_.OpenCount(".chk"), 0);
}

TEST_F(IdentifyFileTest, SignatureEndingOnTheLastByteFits) {
  auto engine = Engine("[Zip]\no=0\ns=504B0304\npostfix=.zip\n");
  EXPECT_EQ(Kind(*engine, Bytes({0x50, 0x4B, 0x03, 0x04})), ".zip");
  EXPECT_EQ(Kind(*engine, Bytes({0x50, 0x4B, 0x03, 0x04, 0x00})), ".zip");
  EXPECT_EQ(Kind(*engine, Bytes({0x50, 0x4B, 0x03})), "-");
}

TEST_F(IdentifyFileTest, FirstSignatureThatDoesNotFitEndsTheTestWithTheVerdictSoFar) {
  auto forward = Engine("[J]\no1=0\ns1=FFD8\no2=6000\ns2=4A464946\npostfix=.jpg\n");
  std::string file = Bytes({0xFF, 0xD8}) + std::string(98, '\x01');
  EXPECT_EQ(Kind(*forward, file), ".jpg");
  auto reversed = Engine("[J]\no2=6000\ns2=4A464946\no1=0\ns1=FFD8\npostfix=.jpg\n");
  EXPECT_EQ(Kind(*reversed, file), "-");
}

TEST_F(IdentifyFileTest, ZeroBytesInASignatureAreCompared) {
  auto engine = Engine("[Ico]\no=0\ns=00000100\npostfix=.ico\n");
  EXPECT_EQ(Kind(*engine, Bytes({0, 0, 1, 0, 1, 0})), ".ico");
  EXPECT_EQ(Kind(*engine, Bytes({0, 7, 7, 7, 1, 0})), "-");
}

TEST_F(IdentifyFileTest, HexOfEitherCaseMatchesTheSameBytes) {
  auto engine = Engine("[J]\no=0\ns=ffd8\npostfix=.jpg\n");
  EXPECT_EQ(Kind(*engine, Bytes({0xFF, 0xD8, 0xFF})), ".jpg");
  EXPECT_EQ(Kind(*engine, Bytes({0x1F, 0xD8, 0xFF})), "-");
}

TEST_F(IdentifyFileTest, OddLastDigitIsIgnored) {
  auto engine = Engine("[Z]\no=0\ns=504B3\npostfix=.zip\n");
  EXPECT_EQ(Kind(*engine, Bytes({0x50, 0x4B, 0x77})), ".zip");
}

TEST_F(IdentifyFileTest, NegativeOffsetNeverFits) {
  auto engine = Engine("[N]\no=-1\ns=41\npostfix=.n\n");
  EXPECT_EQ(Kind(*engine, std::string(10, '\x41') + '\0'), "-");
}

TEST_F(IdentifyFileTest, SignatureBeyondTheHeadIsComparedWithTheFilesOwnBytes) {
  auto engine = Engine("[Iso]\no=32769\ns=4344303031\npostfix=.iso\n");
  std::string image(40000, '\0');
  image.replace(32769, 5, "CD001");
  EXPECT_EQ(Kind(*engine, image), ".iso");
  image.replace(32769, 5, "CD002");
  EXPECT_EQ(Kind(*engine, image), "-");
}

TEST_F(IdentifyFileTest, SignatureOnlyKindReadsOnlyTheHead) {
  auto engine = Engine("[J]\no=0\ns=FFD8FF\npostfix=.jpg\n");
  std::string big = Bytes({0xFF, 0xD8, 0xFF}) + RandomBytes(1 << 20, 1);
  EXPECT_EQ(Kind(*engine, big), ".jpg");
  EXPECT_EQ(platform_.BytesRead(".chk"), 4096u);
  EXPECT_EQ(platform_.ReadCalls(".chk"), 1);
  EXPECT_EQ(platform_.OpenCount(".chk"), 1);
}

TEST_F(IdentifyFileTest, ContentStringsAreFoundAnywhereOnByteBoundaries) {
  auto engine = Engine("[Docx]\no=0\ns=504B\naddon=776F72642F\npostfix=.docx\n"
                       "[Zip]\no=0\ns=504B\npostfix=.zip\n");
  std::string file = "PK" + RandomBytes(700000, 2);
  EXPECT_EQ(Kind(*engine, file), ".zip");
  file.replace(500000, 5, "word/");
  EXPECT_EQ(Kind(*engine, file), ".docx");
}

TEST_F(IdentifyFileTest, ContentStringAcrossAChunkBoundaryIsFound) {
  auto engine = Engine("[Docx]\no=0\ns=504B\naddon=776F72642F\npostfix=.docx\n[Zip]\no=0\ns=504B\npostfix=.zip\n");
  for (std::size_t start : {FragmentEngine::kChunkSize - 4, FragmentEngine::kChunkSize - 1,
                            2 * FragmentEngine::kChunkSize - 2}) {
    std::string file = "PK" + std::string(3 * FragmentEngine::kChunkSize, 'x');
    file.replace(start, 5, "word/");
    EXPECT_EQ(Kind(*engine, file), ".docx") << start;
  }
}

TEST_F(IdentifyFileTest, NoMatchStartingInTheLowDigitOfAByte) {
  // 04B03 spells the middle of 50 4B 03 04 in hex text; on bytes it is 04 B0 3.
  auto engine = Engine("[Odd]\no=0\ns=50\naddon=04B0\npostfix=.odd\n");
  EXPECT_EQ(Kind(*engine, Bytes({0x50, 0x4B, 0x03, 0x04, 0x00})), "-");
  EXPECT_EQ(Kind(*engine, Bytes({0x50, 0x04, 0xB0, 0x00})), ".odd");
}

TEST_F(IdentifyFileTest, AllContentStringsMustOccurInAnyChunks) {
  auto engine = Engine("[Two]\no=0\ns=41\naddon1=5858\naddon2=5959\npostfix=.two\n");
  std::string file = "A" + std::string(3 * FragmentEngine::kChunkSize, '\0');
  file.replace(10, 2, "XX");
  EXPECT_EQ(Kind(*engine, file), "-");
  file.replace(2 * FragmentEngine::kChunkSize + 100, 2, "YY");
  EXPECT_EQ(Kind(*engine, file), ".two");
}

TEST_F(IdentifyFileTest, EarlierKindWinsUnlessItsContentStringsAreMissing) {
  auto engine = Engine("[Xlsx]\no=0\ns=504B\naddon=786C2F\npostfix=.xlsx\n"
                       "[Docx]\no=0\ns=504B\naddon=776F72642F\npostfix=.docx\n"
                       "[Zip]\no=0\ns=504B\npostfix=.zip\n"
                       "[Late]\no=0\ns=504B\naddon=776F72642F\npostfix=.late\n");
  EXPECT_EQ(Kind(*engine, "PK..word/..xl/.."), ".xlsx");
  EXPECT_EQ(Kind(*engine, "PK..word/......."), ".docx");
  // The first kind without content strings ends the search: later kinds are never tried.
  EXPECT_EQ(Kind(*engine, "PK.............."), ".zip");
}

TEST_F(IdentifyFileTest, EmptyContentStringNeverOccurs) {
  auto engine = Engine("[E]\no=0\ns=41\naddon=\npostfix=.e\n");
  EXPECT_EQ(Kind(*engine, "A\x01\x02"), "-");
}

TEST_F(IdentifyFileTest, KindWithoutSignaturesNeverPasses) {
  auto engine = Engine("[Text document]\npostfix=.txt\n[Other]\no=0\ns=41\npostfix=.a\n");
  EXPECT_EQ(Kind(*engine, "ABC\n"), ".a");
  EXPECT_EQ(Kind(*engine, "plain words\n"), ".txt");  // the built-in kind
}

TEST_F(IdentifyFileTest, TextTestLooksAtTheFirstKilobyteOnly) {
  auto engine = Engine("[Other]\no=0\ns=FEFF\npostfix=.a\n");
  std::string text(30, 'a');
  text[10] = '\n';
  EXPECT_EQ(Kind(*engine, text), ".txt");
  std::string withZero = text;
  withZero[5] = '\0';
  EXPECT_EQ(Kind(*engine, withZero), "-");
  std::string with255 = text;
  with255[5] = '\xFF';
  EXPECT_EQ(Kind(*engine, with255), "-");
  std::string highBytes = "\x80\xB0\xA1\xFE\x7F\t\r\n";
  EXPECT_EQ(Kind(*engine, highBytes), ".txt");
  std::string late(2000, 'x');
  late[1500] = '\0';
  EXPECT_EQ(Kind(*engine, late), ".txt");
}

// A disk check hands back whole clusters: the text, zeros to the end of its
// last sector, then zeros or older data to the end of the cluster.
TEST_F(IdentifyFileTest, TextEndsAtAZeroThatOnlyZerosFollowToItsSectorsEnd) {
  auto engine = Engine("[Other]\no=0\ns=FEFF\npostfix=.a\n");
  const std::string note = "Call the plumber on Monday.\r\nKeys are under the mat.\r\n";
  auto pad = [](std::string s, std::size_t to, char fill) { return s + std::string(to - s.size() % to, fill); };
  const std::string older = RandomBytes(4096 - 512, 4);
  const std::string sectorText(512, 't');
  struct Case {
    const char* what;
    std::string bytes;
    const char* kind;
  };
  const Case cases[] = {
      {"zeros to the cluster's end", pad(note, 4096, '\0'), ".txt"},
      {"zeros to the sector's end, older data after", pad(note, 512, '\0') + older, ".txt"},
      {"a whole sector of text, then a zero sector", sectorText + std::string(512, '\0') + older, ".txt"},
      {"text again after the zeros", pad(note, 512, '\0') + pad(note, 512, '\0'), ".txt"},
      {"the zero is not followed by zeros only", pad(note + '\0' + "x", 512, '\0'), "-"},
      {"binary after the zero in its sector", pad(note + std::string(10, '\0') + "\x01", 512, '\0'), "-"},
      {"not a whole number of sectors", note + std::string(100, '\0'), "-"},
      {"a zero as the first byte", pad(std::string(1, '\0') + note, 4096, '\0'), "-"},
      {"a control byte before the zero", pad("\x01" + note, 512, '\0'), "-"},
  };
  for (const Case& c : cases) EXPECT_EQ(Kind(*engine, c.bytes), c.kind) << c.what;
}

TEST_F(IdentifyFileTest, TextOfFiftyMebibytesOrMoreIsNoKind) {
  auto engine = Engine("[Other]\no=0\ns=FEFF\npostfix=.a\n");
  const std::string path = folder_.str() + "/big.txt";
  std::filesystem::resize_file(folder_.Write("big.txt", "abc"), FragmentEngine::kTextSizeLimit);
  // A sparse file reads as zeros past "abc"; fill the head with text instead.
  {
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    std::string head(4096, 'a');
    std::fwrite(head.data(), 1, head.size(), f);
    std::fclose(f);
  }
  EXPECT_EQ(engine->IdentifyFile(path.c_str()), nullptr);
  std::filesystem::resize_file(path, FragmentEngine::kTextSizeLimit - 1);
  EXPECT_EQ(engine->IdentifyFile(path.c_str()), &engine->textKind);
}

TEST_F(IdentifyFileTest, ReadOnlyFileIsIdentified) {
  auto engine = Engine("[J]\no=0\ns=FFD8\npostfix=.jpg\n");
  const std::string path = folder_.Write("ro.chk", Bytes({0xFF, 0xD8, 0xFF}));
  namespace fs = std::filesystem;
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const FileTypeRecord* kind = engine->IdentifyFile(path.c_str());
  ASSERT_NE(kind, nullptr);
  EXPECT_EQ(kind->extension, ".jpg");
}

TEST_F(IdentifyFileTest, LargeFileSizesAreSixtyFourBit) {
  auto engine = Engine("[J]\no=0\ns=FFD8\npostfix=.jpg\n[Tail]\no=3000000000\ns=41\npostfix=.t\n");
  const std::string path = folder_.Write("sparse.chk", "\x01\x02");
  // The mark is appended past 3,000,000,000 bytes of (sparse) zeros: no
  // 32-bit file offset in the test itself.
  std::filesystem::resize_file(path, 3000000000ull);
  std::ofstream(path, std::ios::binary | std::ios::app) << 'A';
  ASSERT_EQ(std::filesystem::file_size(path), 3000000001ull);
  const FileTypeRecord* kind = engine->IdentifyFile(path.c_str());
  ASSERT_NE(kind, nullptr);
  EXPECT_EQ(kind->extension, ".t");
  EXPECT_LE(platform_.BytesRead("sparse.chk"), 4097u);
}

class IdentifyFailureTest : public IdentifyFileTest {};

TEST_F(IdentifyFailureTest, NotReadyAndNullPath) {
  FragmentEngine engine(folder_.str() + "/missing.cfg", platform_);
  EXPECT_EQ(engine.IdentifyFile("x"), nullptr);
  EXPECT_STREQ(engine.lastError, "inside error,the class object haven't be initialized\n");
  auto ready = Engine("[J]\no=0\ns=FFD8\npostfix=.jpg\n");
  EXPECT_EQ(ready->IdentifyFile(nullptr), nullptr);
  EXPECT_STREQ(ready->lastError, "input file path is NULL\n");
}

TEST_F(IdentifyFailureTest, EachFailureHasItsMessage) {
  auto engine = Engine("[Docx]\no=0\ns=504B\naddon=776F72642F\npostfix=.docx\n[Zip]\no=0\ns=504B\npostfix=.zip\n");
  const std::string a = folder_.Write("a.chk", "PK" + std::string(600000, 'x'));
  platform_.FailStatus("a.chk", 2, 1);
  EXPECT_EQ(engine->IdentifyFile(a.c_str()), nullptr);
  EXPECT_EQ(std::string(engine->lastError), "cann't get " + a + " information\n");

  platform_.FailOpen("a.chk", 13, 1);
  EXPECT_EQ(engine->IdentifyFile(a.c_str()), nullptr);
  EXPECT_EQ(std::string(engine->lastError), "open " + a + " failed\n");

  const std::string b = folder_.Write("b.chk", "PK" + std::string(600000, 'x'));
  platform_.ShortReadAfter("b.chk", 100, 1);  // in the head
  EXPECT_EQ(engine->IdentifyFile(b.c_str()), nullptr);
  EXPECT_EQ(std::string(engine->lastError), "read file " + b + " failed\n");

  platform_.ShortReadAfter("b.chk", 300000, 2);  // in the content scan
  EXPECT_EQ(engine->IdentifyFile(b.c_str()), nullptr);
  EXPECT_EQ(std::string(engine->lastError), "read file " + b + " failed\n");

  // And the next call goes on normally.
  EXPECT_EQ(engine->IdentifyFile(b.c_str())->extension, ".zip");
}

TEST_F(IdentifyFailureTest, EveryPathThatOpenedTheFileClosesIt) {
  auto engine = Engine("[Docx]\no=0\ns=504B\naddon=776F72642F\npostfix=.docx\n[Zip]\no=0\ns=504B\npostfix=.zip\n");
  const std::string b = folder_.Write("c.chk", "PK" + std::string(600000, 'x'));
  platform_.ShortReadAfter("c.chk", 300000, 1);
  for (int i = 0; i < 2000; ++i) engine->IdentifyFile(b.c_str());
  // Leaked descriptors would have run out long before (the default limit is 1024).
  const std::string t = folder_.Write("t.chk", "text\n");
  EXPECT_EQ(engine->IdentifyFile(t.c_str()), &engine->textKind);
}

}  // namespace
}  // namespace tessaro
