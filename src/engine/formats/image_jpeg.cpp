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
