// JPEG: marker segments, each with its length, and after each start of scan
// the entropy-coded data up to the next marker, until the end of image.
// Segment lengths carry the walk past an EXIF thumbnail (its own SOI..EOI lies
// inside APP1), and the entropy-coded data cannot hold an unescaped marker, so
// the first EOI met this way is the picture's end, whatever lies in the slack.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/image_checks.h"
#include "engine/formats/format_row.h"
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
// right after "MPF\0"), whose file position is `header`.
void ReadMpf(const unsigned char* d, std::size_t n, std::uint64_t header, MorePictures& more) {
  more.present = true;
  more.unreadable = true;
  if (n < 8) return;
  const bool little = d[0] == 'I' && d[1] == 'I';
  if (!little && !(d[0] == 'M' && d[1] == 'M')) return;
  auto u16 = [&](std::size_t at) { return little ? Le16(d + at) : Be16(d + at); };
  auto u32 = [&](std::size_t at) { return little ? Le32(d + at) : Be32(d + at); };
  const std::uint32_t ifd = u32(4);
  if (ifd > n || n - ifd < 2) return;
  const std::uint32_t entries = u16(ifd);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::size_t e = ifd + 2 + std::size_t{i} * 12;
    if (e + 12 > n) return;
    if (u16(e) != 0xB002) continue;
    const std::uint32_t bytes = u32(e + 4);
    const std::uint32_t at = u32(e + 8);
    if (bytes % 16 != 0 || at > n || n - at < bytes || bytes / 16 > 16) return;
    more.count = 0;
    for (std::uint32_t k = 0; k < bytes / 16; ++k) {
      const std::uint32_t size = u32(at + k * 16 + 4);
      const std::uint32_t offset = u32(at + k * 16 + 8);
      if (offset == 0) continue;  // the first picture, this one
      more.offset[more.count] = header + offset;
      more.size[more.count] = size;
      ++more.count;
    }
    more.unreadable = false;
    return;
  }
}

bool IsFrame(int m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

// Walks one JPEG from `start`; on intact, `walk.end` is its end.
CheckResult Walk(Fragment& f, std::uint64_t start, JpegWalk& walk) {
  unsigned char soi[2];
  if (!f.Read(start, soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8) return Damaged("no JPEG start of image");
  static thread_local unsigned char segment[65536];
  bool frame = false;
  std::uint64_t at = start + 2;
  ByteCursor cursor(f, at);
  for (;;) {
    // A marker: FF, maybe fill bytes FF, then its code.
    cursor.Seek(at);
    int b = cursor.Next();
    if (b < 0) return Truncated(kUnknown, "ends before a marker at " + std::to_string(at));
    if (b != 0xFF) return Damaged("no marker at " + std::to_string(at));
    int m = cursor.Next();
    while (m == 0xFF) m = cursor.Next();
    if (m < 0) return Truncated(kUnknown, "ends inside a marker at " + std::to_string(at));
    const std::uint64_t code = cursor.Position() - 1;
    if (m == 0xD9) {
      if (!frame || walk.scans == 0) return Damaged("end of image before any frame and scan");
      walk.end = code + 1;
      return Intact(walk.end, "");
    }
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {  // no length
      at = code + 1;
      continue;
    }
    if (m < 0xC0 || m == 0xD8) return Damaged("impossible marker at " + std::to_string(code - 1));
    unsigned char lengthBytes[2];
    if (!f.Read(code + 1, lengthBytes, 2)) return Truncated(kUnknown, "ends inside a segment at " + std::to_string(code - 1));
    const std::uint16_t length = Be16(lengthBytes);
    if (length < 2) return Damaged("impossible segment length at " + std::to_string(code - 1));
    if (!f.Holds(code + 1, length)) return Truncated(kUnknown, "ends inside a segment at " + std::to_string(code - 1));
    ++walk.segments;
    if (IsFrame(m)) frame = true;
    if (m == 0xE1 || m == 0xE2) {
      const std::size_t n = length - 2u;
      if (!f.Read(code + 3, segment, n)) return Unchecked("a read failed");
      if (m == 0xE2 && start == 0 && n >= 4 && std::memcmp(segment, "MPF", 4) == 0) {
        ReadMpf(segment + 4, n - 4, code + 7, walk.more);
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

}  // namespace

CheckResult CheckJpeg(Fragment& f, const CheckOptions&) {
  JpegWalk walk;
  CheckResult first = Walk(f, 0, walk);
  if (first.verdict != Verdict::kIntact) return first;
  // Whatever a file keeps after its end of image is told of from the start:
  // the further pictures of an MPF index, the video of a motion photo.
  if (walk.motionPhoto) return Unchecked("a motion photo: its video follows the picture's end at " + std::to_string(walk.end));
  std::uint64_t end = walk.end;
  if (walk.more.present) {
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
  }
  std::string detail = std::to_string(walk.segments) + " segments, " + std::to_string(walk.scans) +
                       (walk.scans == 1 ? " scan" : " scans") + ", end of image at " + std::to_string(walk.end - 2);
  if (walk.more.count > 0) detail += ", " + std::to_string(walk.more.count) + " further pictures";
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
