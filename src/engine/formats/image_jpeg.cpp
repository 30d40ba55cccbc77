// JPEG: marker segments, each with its length, and after each start of scan
// the entropy-coded data up to the next marker, until the end of image.
// Segment lengths carry the walk past an EXIF thumbnail (its own SOI..EOI lies
// inside APP1), and the entropy-coded data cannot hold an unescaped marker, so
// the first EOI met this way is the picture's end, whatever lies in the slack.
// What a file keeps after it is named from the start (an MPF index) or, in
// Samsung's trailer, by a directory at the file's very end.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/image_checks.h"
#include "engine/formats/format_row.h"
#include "engine/formats/jpeg_segments.h"
#include "engine/formats/tiff_ifd.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats::images {

namespace {

// The further pictures a multi-picture file (MPF, in APP2) stores after the
// first one's end, as cameras write them.
struct MorePictures {
  bool present = false;
  bool unreadable = false;
  std::size_t count = 0;
  std::uint64_t offset[16];
  std::uint64_t size[16];
};

struct JpegWalk {
  std::uint64_t end = 0;
  int scans = 0;
  int segments = 0;
  bool motionPhoto = false;
  MorePictures more;
};

bool Contains(const unsigned char* data, std::size_t n, const char* word) {
  const std::size_t w = std::strlen(word);
  for (std::size_t i = 0; i + w <= n; ++i) {
    if (std::memcmp(data + i, word, w) == 0) return true;
  }
  return false;
}

// The MP index IFD: offsets count from the MP header (the byte-order mark
// right after "MPF\0"), whose file position is `header`, `n` bytes long.
void ReadMpf(Fragment& f, std::uint64_t header, std::size_t n, MorePictures& more) {
  more.present = true;
  more.unreadable = true;
  unsigned char h[8];
  ByteOrder order;
  if (n < 8 || !f.Read(header, h, 8) || !TiffByteOrder(h, order)) return;
  TiffReader tiff(f, order, header, n);
  const std::uint32_t ifd = order.U32(h + 4);
  unsigned entries = 0;
  if (!tiff.Entries(ifd, entries)) return;
  for (unsigned i = 0; i < entries; ++i) {
    TiffEntry e;
    if (!tiff.Entry(ifd, i, e)) return;
    if (e.tag != 0xB002) continue;
    const std::uint32_t bytes = e.count;
    const std::uint32_t at = tiff.Offset(e);
    if (bytes % 16 != 0 || at > n || n - at < bytes || bytes / 16 > 16) return;
    more.count = 0;
    for (std::uint32_t k = 0; k < bytes / 16; ++k) {
      unsigned char entry[16];
      if (!tiff.Read(at + k * 16ull, entry, 16)) return;
      const std::uint32_t size = order.U32(entry + 4);
      const std::uint32_t offset = order.U32(entry + 8);
      if (offset == 0) continue;  // the first picture, this one
      more.offset[more.count] = header + offset;
      more.size[more.count] = size;
      ++more.count;
    }
    more.unreadable = false;
    return;
  }
}

// Samsung's trailer: blocks after the picture, each two zero bytes, its type
// (16 bits), its name's length (32 bits) and name, then its data; after them
// the "SEFH" directory (version, count, then per block two zero bytes, its
// type, its distance back from the directory's start and its size), the
// directory's size and "SEFT", the file's last bytes. All little-endian.
constexpr std::uint32_t kMostSamsungBlocks = 64;
// "SEFH" met in a video by chance is passed over, a few times at most.
constexpr int kMostSamsungDirectories = 64;

// Whether the block header of a Samsung trailer lies at `at`.
bool SamsungBlockAt(Fragment& f, std::uint64_t at) {
  unsigned char head[8 + 64];
  if (!f.Read(at, head, 8) || head[0] != 0 || head[1] != 0 || Le16(head + 2) == 0) return false;
  const std::uint32_t name = Le32(head + 4);
  if (name == 0 || name > 64 || !f.Read(at + 8, head + 8, name)) return false;
  for (std::uint32_t i = 0; i < name; ++i) {
    const unsigned char c = head[8 + i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

// Whether the directory at `directory` is the one of blocks that begin at
// `blocks` (the first right there, none past the directory), followed by its
// size and "SEFT"; `end` is then where "SEFT" ends.
bool SamsungDirectory(Fragment& f, std::uint64_t blocks, std::uint64_t directory, std::uint64_t& end) {
  unsigned char head[12];
  if (!f.Read(directory, head, sizeof head)) return false;
  const std::uint32_t count = Le32(head + 8);
  if (count == 0 || count > kMostSamsungBlocks) return false;
  const std::uint64_t size = 12 + 12ull * count;
  unsigned char tail[8];
  if (!f.Read(directory + size, tail, sizeof tail) || Le32(tail) != size || std::memcmp(tail + 4, "SEFT", 4) != 0) {
    return false;
  }
  bool first = false;
  for (std::uint32_t i = 0; i < count; ++i) {
    unsigned char entry[12];
    unsigned char block[4];
    if (!f.Read(directory + 12 + 12ull * i, entry, sizeof entry)) return false;
    const std::uint64_t back = Le32(entry + 4);
    const std::uint64_t length = Le32(entry + 8);
    if (back > directory - blocks || length < 8 || length > back) return false;
    if (!f.Read(directory - back, block, 4) || std::memcmp(block, entry, 4) != 0) return false;
    first = first || directory - back == blocks;
  }
  end = directory + size + 8;
  return first;
}

// Where the Samsung trailer whose first block begins at `blocks` ends:
// nothing counts the blocks from the front, so its directory is looked for
// after them, and taken only when it points back at them. kUnknown when the
// fragment holds none.
std::uint64_t SamsungTrailerEnd(Fragment& f, std::uint64_t blocks) {
  std::uint64_t at = blocks + 8;
  for (int tries = 0; tries < kMostSamsungDirectories; ++tries) {
    const std::uint64_t directory = FindBytes(f, at, f.Size(), "SEFH", 4);
    if (directory == kUnknown) return kUnknown;
    std::uint64_t end = 0;
    if (SamsungDirectory(f, blocks, directory, end)) return end;
    at = directory + 1;
  }
  return kUnknown;
}

bool IsFrame(int m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

// Walks one JPEG from `start`; on intact, `walk.end` is its end.
CheckResult Walk(Fragment& f, std::uint64_t start, JpegWalk& walk) {
  unsigned char soi[2];
  if (!f.Read(start, soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8) return Damaged("no JPEG start of image");
  static thread_local unsigned char segment[65536];
  bool frame = false;
  std::uint64_t at = start + 2;
  JpegSegments segments(f, at);
  for (;;) {
    segments.Seek(at);
    switch (segments.Next()) {
      case JpegSegments::Marker::kFound: break;
      case JpegSegments::Marker::kEnded: return Truncated(kUnknown, "ends before a marker at " + std::to_string(at));
      case JpegSegments::Marker::kNoMarker: return Damaged("no marker at " + std::to_string(at));
      case JpegSegments::Marker::kCut: return Truncated(kUnknown, "ends inside a marker at " + std::to_string(at));
    }
    const unsigned m = segments.Code();
    const std::uint64_t code = segments.CodeAt();
    if (m == 0xD9) {
      if (!frame || walk.scans == 0) return Damaged("end of image before any frame and scan");
      walk.end = code + 1;
      return Intact(walk.end, "");
    }
    if (segments.Standalone()) {
      at = code + 1;
      continue;
    }
    if (m < 0xC0 || m == 0xD8) return Damaged("impossible marker at " + std::to_string(code - 1));
    std::uint16_t length = 0;
    if (!segments.Length(length)) return Truncated(kUnknown, "ends inside a segment at " + std::to_string(code - 1));
    if (length < 2) return Damaged("impossible segment length at " + std::to_string(code - 1));
    if (!f.Holds(code + 1, length)) return Truncated(kUnknown, "ends inside a segment at " + std::to_string(code - 1));
    ++walk.segments;
    if (IsFrame(m)) frame = true;
    if (m == 0xE1 || m == 0xE2) {
      const std::size_t n = length - 2u;
      if (!f.Read(code + 3, segment, n)) return Unchecked("a read failed");
      if (m == 0xE2 && start == 0 && n >= 4 && std::memcmp(segment, "MPF", 4) == 0) {
        ReadMpf(f, code + 7, n - 4, walk.more);
      }
      if (m == 0xE1 && n > 29 && std::memcmp(segment, "http://ns.adobe.com/xap/1.0/", 29) == 0 &&
          (Contains(segment, n, "MotionPhoto") || Contains(segment, n, "MicroVideo"))) {
        walk.motionPhoto = true;
      }
    }
    at = code + 1 + length;
    if (m != 0xDA) continue;
    // Entropy-coded data: FF is followed by 00 (a stuffed byte) or a restart
    // marker; anything else is the next marker.
    if (!frame) return Damaged("a scan before any frame");
    ++walk.scans;
    ByteReader& cursor = segments.Reader();
    cursor.Seek(at);
    for (;;) {
      if (!cursor.Find(0xFF)) return Truncated(kUnknown, "ends inside scan " + std::to_string(walk.scans));
      cursor.Next();
      const std::uint64_t ff = cursor.Position() - 1;
      int next = cursor.Next();
      while (next == 0xFF) next = cursor.Next();
      if (next < 0) return Truncated(kUnknown, "ends inside scan " + std::to_string(walk.scans));
      if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) continue;
      at = ff;
      break;
    }
  }
}

// The further pictures of an MPF index, each a whole JPEG where the index
// says; `end` moves past the last of them.
CheckResult FurtherPictures(Fragment& f, const JpegWalk& walk, std::uint64_t& end) {
  if (!walk.more.present) return Intact(end, "");
  if (walk.more.unreadable) return Unchecked("a multi-picture index that cannot be read");
  for (std::size_t i = 0; i < walk.more.count; ++i) {
    const std::uint64_t offset = walk.more.offset[i];
    const std::uint64_t size = walk.more.size[i];
    if (offset < walk.end) return Damaged("a further picture inside the first");
    if (!f.Holds(offset, size)) return Truncated(offset + size, "ends inside further picture " + std::to_string(i + 2));
    JpegWalk inner;
    const CheckResult r = Walk(f, offset, inner);
    if (r.verdict != Verdict::kIntact || inner.end > offset + size) {
      return Damaged("further picture " + std::to_string(i + 2) + " at " + std::to_string(offset) + ": " + r.detail);
    }
    end = std::max(end, offset + size);
  }
  return Intact(end, "");
}

}  // namespace

CheckResult CheckJpeg(Fragment& f, const CheckOptions&) {
  JpegWalk walk;
  CheckResult first = Walk(f, 0, walk);
  if (first.verdict != Verdict::kIntact) return first;
  // Whatever a file keeps after its end of image is told of from the start
  // (the further pictures of an MPF index, the video of a motion photo) or,
  // in Samsung's trailer, from the file's end.
  std::uint64_t end = walk.end;
  const CheckResult pictures = FurtherPictures(f, walk, end);
  if (pictures.verdict != Verdict::kIntact) {
    return walk.motionPhoto ? Unchecked("a motion photo whose multi-picture index fails: " + pictures.detail) : pictures;
  }
  std::string detail = std::to_string(walk.segments) + " segments, " + std::to_string(walk.scans) +
                       (walk.scans == 1 ? " scan" : " scans") + ", end of image at " + std::to_string(walk.end - 2);
  if (walk.more.count > 0) detail += ", " + std::to_string(walk.more.count) + " further pictures";
  if (SamsungBlockAt(f, end)) {
    // The trailer's end is the file's, wherever the picture ends in its
    // sector; a fragment that does not hold the directory lost the file's end.
    const std::uint64_t trailer = SamsungTrailerEnd(f, end);
    if (trailer == kUnknown) {
      return Truncated(kUnknown, "a Samsung trailer follows at " + std::to_string(end) + " without its directory");
    }
    return Intact(trailer, detail + ", then a Samsung trailer to " + std::to_string(trailer));
  }
  if (walk.motionPhoto) return Unchecked("a motion photo: its video follows the picture's end at " + std::to_string(walk.end));
  return Intact(end, detail);
}

}  // namespace tessaro::formats::images

namespace tessaro::formats {

extern const FormatRow kJpegRow{
    .extensions = {"jpg", "jpeg", "jpe", "jfif"},
    .checker = images::CheckJpeg,
    .nameReader = names::JpegDate,
    .endPolicy = EndPolicy::kLastSectorZeros
};

}  // namespace tessaro::formats
