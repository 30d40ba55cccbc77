// The structure readers the checkers and the name readers share (TIFF IFDs,
// ISO boxes, JPEG markers, the buffered reader) on the hostile edges real
// files do not reach: IFDs that point to each other, counts far past the
// data, 64-bit box sizes that would wrap, a structure's own length shorter
// than the fragment around it.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/formats/byte_reader.h"
#include "engine/formats/iso_boxes.h"
#include "engine/formats/jpeg_segments.h"
#include "engine/formats/tiff_ifd.h"
#include "platform/platform.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::TempFolder;

// A fragment of the given bytes, open for as long as the object lives.
class BytesFragment {
 public:
  explicit BytesFragment(const std::string& bytes) {
    int error = 0;
    file_ = SystemPlatform().OpenRead(folder_.Write("fragment", bytes), error);
    fragment_.emplace(SystemPlatform(), file_, bytes.size());
  }
  ~BytesFragment() { SystemPlatform().Close(file_); }
  BytesFragment(const BytesFragment&) = delete;
  BytesFragment& operator=(const BytesFragment&) = delete;
  Fragment& operator*() { return *fragment_; }

 private:
  TempFolder folder_;
  FileHandle file_ = kNoFile;
  std::optional<Fragment> fragment_;
};

std::string Le16s(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)}; }
std::string Le32s(std::uint32_t v) { return Le16s(v & 0xFFFF) + Le16s(v >> 16); }
std::string Be32s(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16 & 0xFF), static_cast<char>(v >> 8 & 0xFF),
          static_cast<char>(v & 0xFF)};
}
std::string Entry(unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
  return Le16s(tag) + Le16s(type) + Le32s(count) + Le32s(value);
}
// A little-endian IFD of one entry at its offset, and the offset of the next.
std::string OneEntryIfd(const std::string& entry, std::uint32_t next) { return Le16s(1) + entry + Le32s(next); }

TEST(TiffReaderTest, ReadsNothingPastTheStructuresOwnLength) {
  // Header, then an IFD at 8 with a LONG table of 3 values at 26; the
  // structure is said to be 30 bytes long inside a fragment of 38.
  const std::string bytes = "II" + Le16s(42) + Le32s(8) + OneEntryIfd(Entry(273, 4, 3, 26), 0) + Le32s(100) +
                            Le32s(200) + Le32s(300);
  BytesFragment f(bytes);
  TiffReader tiff(*f, ByteOrder{}, 0, 30);
  TiffEntry e;
  ASSERT_TRUE(tiff.Entry(8, 0, e));
  std::uint64_t v = 0;
  EXPECT_TRUE(tiff.Value(e, 0, v));
  EXPECT_EQ(v, 100u);
  EXPECT_FALSE(tiff.Value(e, 1, v)) << "the second value lies past the structure's length";
  TiffValues values(tiff, e);
  EXPECT_TRUE(values.Next(v));
  EXPECT_FALSE(values.Next(v));
  // The whole fragment allows all three, and no fourth.
  TiffReader whole(*f, ByteOrder{});
  TiffValues all(whole, e);
  std::vector<std::uint64_t> read;
  while (all.Next(v)) read.push_back(v);
  EXPECT_EQ(read, (std::vector<std::uint64_t>{100, 200, 300}));
}

TEST(TiffReaderTest, ValuesThatFitInTheEntryAreNeverReadPastIt) {
  BytesFragment f("II" + Le16s(42) + Le32s(8) + OneEntryIfd(Entry(273, 3, 2, 0x00070005), 0) + std::string(64, 'x'));
  TiffReader tiff(*f, ByteOrder{});
  TiffEntry e;
  ASSERT_TRUE(tiff.Entry(8, 0, e));
  std::uint64_t v = 0;
  ASSERT_TRUE(tiff.Value(e, 1, v));
  EXPECT_EQ(v, 7u);
  EXPECT_FALSE(tiff.Value(e, 2, v));
  TiffValues values(tiff, e);
  EXPECT_TRUE(values.Next(v) && values.Next(v));
  EXPECT_FALSE(values.Next(v));
}

TEST(TiffReaderTest, AHostileCountEndsWithTheFragment) {
  // 2^32 - 1 LONG values said to follow at 26: only the fragment's bytes are read.
  BytesFragment f("II" + Le16s(42) + Le32s(8) + OneEntryIfd(Entry(273, 4, 0xFFFFFFFF, 26), 0) + std::string(40, '\0'));
  TiffReader tiff(*f, ByteOrder{});
  TiffEntry e;
  ASSERT_TRUE(tiff.Entry(8, 0, e));
  TiffValues values(tiff, e);
  std::uint64_t v = 0;
  int read = 0;
  while (values.Next(v)) ++read;
  EXPECT_EQ(read, 10);
  EXPECT_FALSE(tiff.Value(e, 0xFFFFFFFE, v));
}

TEST(IfdQueueTest, WalksEachIfdOnceAndStopsAtItsBound) {
  IfdQueue<std::uint64_t> queue;
  // A chain that loops back: 8 -> 40 -> 8.
  EXPECT_TRUE(queue.Queue(8, 8));
  std::uint64_t at = 0;
  ASSERT_TRUE(queue.Take(at));
  EXPECT_TRUE(queue.Queue(40, 40));
  ASSERT_TRUE(queue.Take(at));
  EXPECT_TRUE(queue.Queue(8, 8)) << "an IFD met before is no error";
  EXPECT_FALSE(queue.Take(at)) << "but it is not walked again";
  IfdQueue<std::uint64_t> many;
  for (std::uint64_t i = 0; i < kMostIfds; ++i) ASSERT_TRUE(many.Queue(1000 + i, i));
  EXPECT_FALSE(many.Queue(5, 5));
}

struct BoxCase {
  const char* what;
  std::string bytes;
  std::uint64_t limit;
  std::vector<std::string> types;  // what BoxWalk gives, in turn
};

TEST(BoxWalkTest, GivesOnlyBoxesInsideTheirParent) {
  const std::string free8 = Be32s(8) + "free";
  const std::vector<BoxCase> cases = {
      {"sizes that fill the range", free8 + Be32s(12) + "moov" + "abcd", 20, {"free", "moov"}},
      {"a box past the range", free8 + Be32s(16) + "moov" + "abcd", 20, {"free"}},
      {"a size of 0 reaches the range's end", free8 + Be32s(0) + "mdat" + "abcd", 20, {"free", "mdat"}},
      {"a size smaller than the header", Be32s(4) + "free", 8, {}},
      {"a 64-bit size that would wrap past 2^64", free8 + Be32s(1) + "mdat" + std::string(8, '\xFF'), UINT64_MAX, {"free"}},
      {"a 64-bit size smaller than its header", Be32s(1) + "mdat" + std::string(7, '\0') + "\x0F", UINT64_MAX, {}},
      {"a 64-bit size cut short", Be32s(1) + "mdat" + std::string(3, '\0'), UINT64_MAX, {}},
      {"a type that is no text", Be32s(8) + std::string("fr\x01" "e", 4), 8, {}},
      {"iTunes's tag names", Be32s(8) + "\xA9nam", 8, {"\xA9nam"}},
  };
  for (const BoxCase& c : cases) {
    BytesFragment f(c.bytes);
    BoxWalk walk(*f, 0, c.limit);
    std::vector<std::string> types;
    for (Box box; walk.Next(box);) types.emplace_back(box.type);
    EXPECT_EQ(types, c.types) << c.what;
  }
}

TEST(BoxWalkTest, StopsAfterItsMostBoxes) {
  std::string bytes;
  for (int i = 0; i < BoxWalk::kMostBoxes + 10; ++i) bytes += Be32s(8) + "free";
  BytesFragment f(bytes);
  BoxWalk walk(*f, 0, bytes.size());
  int n = 0;
  for (Box box; walk.Next(box);) ++n;
  EXPECT_EQ(n, BoxWalk::kMostBoxes);
}

TEST(JpegSegmentsTest, ReadsMarkersThroughFillBytesAndTellsWhereTheyStop) {
  struct Case {
    const char* what;
    std::string bytes;
    JpegSegments::Marker marker;
    unsigned code;
    std::uint64_t fills;
  };
  const std::vector<Case> cases = {
      {"a marker", std::string("\xFF\xE1\x00\x10", 4), JpegSegments::Marker::kFound, 0xE1, 0},
      {"fill bytes", std::string("\xFF\xFF\xFF\xDB\x00\x43", 6), JpegSegments::Marker::kFound, 0xDB, 2},
      {"nothing", "", JpegSegments::Marker::kEnded, 0, 0},
      {"no FF", std::string("\x00\xE1", 2), JpegSegments::Marker::kNoMarker, 0, 0},
      {"only fill bytes", "\xFF\xFF\xFF", JpegSegments::Marker::kCut, 0, 0},
  };
  for (const Case& c : cases) {
    BytesFragment f(c.bytes);
    JpegSegments segments(*f, 0);
    EXPECT_EQ(segments.Next(), c.marker) << c.what;
    if (c.marker != JpegSegments::Marker::kFound) continue;
    EXPECT_EQ(segments.Code(), c.code) << c.what;
    EXPECT_EQ(segments.Fills(), c.fills) << c.what;
    EXPECT_EQ(segments.CodeAt(), c.fills + 1) << c.what;
  }
  // A length cut short by the fragment's end.
  BytesFragment cut(std::string("\xFF\xE1\x00", 3));
  JpegSegments segments(*cut, 0);
  std::uint16_t length = 0;
  ASSERT_EQ(segments.Next(), JpegSegments::Marker::kFound);
  EXPECT_FALSE(segments.Length(length));
}

TEST(ByteReaderTest, FindsAndSkipsAcrossItsBufferAndNeverPastTheEnd) {
  std::string bytes(40000, '\0');
  bytes[20000] = '\x7F';
  BytesFragment f(bytes);
  ByteReader reader(*f, 10);
  ASSERT_TRUE(reader.Find(0x7F));
  EXPECT_EQ(reader.Position(), 20000u);
  EXPECT_EQ(reader.Next(), 0x7F);
  EXPECT_FALSE(reader.Find(0x7F));
  reader.Seek(5);
  EXPECT_TRUE(reader.Skip(40000 - 5));
  EXPECT_EQ(reader.Next(), -1);
  reader.Seek(5);
  EXPECT_FALSE(reader.Skip(40000));
  EXPECT_FALSE(reader.Skip(UINT64_MAX));
  EXPECT_EQ(reader.Position(), 5u);
  unsigned char b[4];
  reader.Seek(39998);
  EXPECT_FALSE(reader.Bytes(b, 4));
}

}  // namespace
}  // namespace tessaro::formats
