// The structure readers that the checkers and the name readers share, at
// the edges a hostile or cut fragment reaches: a segment table or a page body
// past the fragment's end, tag sizes that are no syncsafe numbers, FAT chains
// that loop, deflate streams cut, broken or longer than the room for them.

#include <gtest/gtest.h>

#include <string>

#include "engine/formats/compound_reader.h"
#include "engine/formats/id3.h"
#include "engine/formats/inflate.h"
#include "engine/formats/ogg_pages.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::Kind;
using testing::TempFolder;

// `bytes` written to a file and open as one fragment.
class OpenFragment {
 public:
  OpenFragment(const TempFolder& folder, const std::string& bytes)
      : file_(SystemPlatform().OpenRead(folder.Write("fragment" + std::to_string(++count_), bytes), error_)),
        fragment_(SystemPlatform(), file_, bytes.size()) {}
  ~OpenFragment() { SystemPlatform().Close(file_); }
  OpenFragment(const OpenFragment&) = delete;
  OpenFragment& operator=(const OpenFragment&) = delete;
  Fragment& operator*() { return fragment_; }

 private:
  static inline int count_ = 0;
  int error_ = 0;
  FileHandle file_;
  Fragment fragment_;
};

TEST(ContainerReadersTest, OggPageTellsWhereAFragmentCutsIt) {
  TempFolder folder;
  const std::string ogg = Kind("oggenc.ogg");
  const auto segments = static_cast<unsigned char>(ogg[26]);
  std::size_t body = 0;
  for (unsigned i = 0; i < segments; ++i) body += static_cast<unsigned char>(ogg[27 + i]);
  const std::size_t length = 27 + segments + body;
  std::string flipped = ogg;
  flipped[length - 1] = static_cast<char>(flipped[length - 1] ^ 1);
  struct Case {
    const char* what;
    std::string bytes;
    OggRead read;
    OggCrc crc;
  } cases[] = {
      {"a whole first page", ogg.substr(0, length), OggRead::kOk, OggCrc::kRight},
      {"a byte of its body changed", flipped.substr(0, length), OggRead::kOk, OggCrc::kWrong},
      {"cut inside its body", ogg.substr(0, length - 1), OggRead::kOk, OggCrc::kCut},
      {"cut inside the segment table", ogg.substr(0, 27 + segments - 1), OggRead::kCutTable, OggCrc::kCut},
      {"cut inside the header", ogg.substr(0, 26), OggRead::kCutHeader, OggCrc::kCut},
      {"another version", ogg.substr(0, 4) + '\x01' + ogg.substr(5, length - 5), OggRead::kNoPage, OggCrc::kCut},
  };
  for (const Case& c : cases) {
    OpenFragment f(folder, c.bytes);
    OggPage page;
    EXPECT_EQ(ReadOggPage(*f, 0, page), c.read) << c.what;
    if (c.read == OggRead::kOk) {
      EXPECT_EQ(page.Length(), length) << c.what;
      EXPECT_EQ(CheckOggCrc(*f, 0, page), c.crc) << c.what;
    }
  }
}

TEST(ContainerReadersTest, Id3SizesAreSyncsafeAndATagMustLieWhole) {
  TempFolder folder;
  struct Case {
    const char* what;
    std::string bytes;
    bool header, syncsafe;
    std::uint64_t end;  // of the tag at 0
    bool frames;        // whether the name reader opens it
  } cases[] = {
      {"the largest size", std::string("ID3\x03\0\0\x7F\x7F\x7F\x7F", 10), true, true, 10 + 0x0FFFFFFFull, false},
      {"a size byte with its high bit", std::string("ID3\x03\0\0\0\0\x80\0", 10), true, false, 0, false},
      {"a footer", std::string("ID3\x04\0\x10\0\0\0\x02", 10) + "xx", true, true, 22, true},
      {"version 5", std::string("ID3\x05\0\0\0\0\0\0", 10), true, true, 10, false},
      {"cut inside the header", "ID3\x03", false, false, 0, false},
  };
  for (const Case& c : cases) {
    OpenFragment f(folder, c.bytes);
    Id3v2Header header;
    ASSERT_EQ(ReadId3v2Header(*f, 0, header), c.header) << c.what;
    if (c.header) {
      EXPECT_EQ(header.syncsafe, c.syncsafe) << c.what;
      if (c.syncsafe) {
        EXPECT_EQ(header.End(0), c.end) << c.what;
      }
    }
    Id3v2Frames frames(*f, 65536);
    EXPECT_EQ(frames.Open(), c.frames) << c.what;
  }
}

TEST(ContainerReadersTest, Id3FramesStopAtAFrameLongerThanTheTag) {
  TempFolder folder;
  const std::string frame = std::string("TIT2\0\0\0\x02\0\0", 10) + std::string("\0A", 2);
  const std::string longer = std::string("TPE1\0\0\0\x7F\0\0", 10) + "x";
  const std::string tag = frame + longer + std::string(4, '\0');
  OpenFragment f(folder, std::string("ID3\x03\0\0\0\0\0", 9) + static_cast<char>(tag.size()) + tag);
  Id3v2Frames frames(*f, 65536);
  ASSERT_TRUE(frames.Open());
  Id3v2Frame one;
  ASSERT_TRUE(frames.Next(one));
  EXPECT_EQ(one.id, "TIT2");
  std::string body;
  ASSERT_TRUE(frames.Body(one, 4096, body));
  EXPECT_EQ(body, std::string("\0A", 2));
  EXPECT_FALSE(frames.Next(one));  // TPE1 claims 127 bytes; the tag holds 5 more
}

// A FAT whose one sector points at itself: every chain through it loops,
// and the walk's budget catches it rather than going round for ever.
TEST(ContainerReadersTest, CompoundChainThatLoopsIsCaught) {
  TempFolder folder;
  std::string file(512 * 3, '\0');
  const unsigned char magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  file.replace(0, 8, reinterpret_cast<const char*>(magic), 8);
  const auto put16 = [&file](std::size_t at, unsigned v) {
    file[at] = static_cast<char>(v & 0xFF), file[at + 1] = static_cast<char>(v >> 8);
  };
  const auto put32 = [&](std::size_t at, std::uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
  put16(0x1A, 3), put16(0x1C, 0xFFFE), put16(0x1E, 9), put16(0x20, 6);
  put32(0x2C, 1), put32(0x4C, 0);  // one FAT sector: sector 0
  put32(512 + 0, 0xFFFFFFFD);      // sector 0 is the FAT
  put32(512 + 4, 1);               // sector 1 points at itself
  OpenFragment f(folder, file);
  CompoundFile compound(*f);
  ASSERT_EQ(compound.Open(), CompoundFile::Opened::kOk);
  std::uint64_t length = 0;
  std::string why;
  EXPECT_FALSE(compound.ChainLength(128, 1, length, why));
  EXPECT_EQ(why, "chains loop or share sectors");
  EXPECT_FALSE(compound.ChainLength(128, 200, length, why));
  EXPECT_EQ(why, "a chain leaves the allocation table at sector 200");
  // Read through the loop, a stream's bytes stop at the bound.
  std::string stream;
  EXPECT_TRUE(compound.ReadStream(1, 512 * 10000, false, 65536, stream));
  EXPECT_EQ(stream.size(), 65536u);
}

// A raw deflate stream of one stored block holding "hello world".
TEST(ContainerReadersTest, InflateKeepsWhatCameBeforeACutABreakOrAFullBuffer) {
  TempFolder folder;
  const std::string stored = std::string("\x01\x0B\x00\xF4\xFF", 5) + "hello world";
  struct Case {
    const char* what;
    std::string bytes;
    std::size_t room;
    InflateResult::Status status;
    std::string kept;
  } cases[] = {
      {"the whole stream", stored + "slack", 64, InflateResult::Status::kEnd, "hello world"},
      {"less room than it gives", stored, 5, InflateResult::Status::kFull, "hello"},
      {"cut inside the block", stored.substr(0, 10), 64, InflateResult::Status::kCut, "hello"},
      {"a block of the reserved type", std::string("\x07", 1) + stored.substr(1), 64, InflateResult::Status::kBad, ""},
  };
  for (const Case& c : cases) {
    OpenFragment f(folder, c.bytes);
    std::string out(c.room, '\0');
    const InflateResult r =
        Inflate(*f, 0, c.bytes.size(), DeflateWrapper::kRaw, reinterpret_cast<unsigned char*>(out.data()), c.room);
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(out.substr(0, r.produced), c.kept) << c.what;
    if (c.status == InflateResult::Status::kEnd) {
      EXPECT_EQ(r.consumed, stored.size()) << c.what;
    }
  }
}

}  // namespace
}  // namespace tessaro::formats
