// JPEG 2000: the codestream (.j2k) runs from SOC through the main header's
// marker segments and the tile-parts, each of which states its own length
// (Psot), to EOC. A JP2 file (.jp2) is a chain of boxes, each with its length,
// one of which (jp2c) holds the codestream.

#include <cstring>
#include <string>

#include "engine/formats/image_checks.h"
#include "engine/formats/format_row.h"
#include "engine/formats/iso_boxes.h"

namespace tessaro::formats::images {

namespace {

// Walks a codestream from `start`, reading no further than `limit`; on intact,
// the length is the codestream's end.
CheckResult WalkCodestream(Fragment& f, std::uint64_t start, std::uint64_t limit) {
  unsigned char m[12];
  if (!f.Read(start, m, 4) || m[0] != 0xFF || m[1] != 0x4F || m[2] != 0xFF || m[3] != 0x51) {
    return Damaged("no codestream start (SOC, SIZ)");
  }
  std::uint64_t at = start + 2;
  std::uint64_t tileParts = 0;
  for (;;) {
    if (at + 2 > limit || !f.Read(at, m, 2)) return Truncated(kUnknown, "ends before a marker at " + std::to_string(at));
    if (m[0] != 0xFF || m[1] < 0x30) return Damaged("no marker at " + std::to_string(at));
    if (m[1] == 0xD9) return Intact(at + 2, std::to_string(tileParts) + " tile-parts, EOC at " + std::to_string(at));
    if (m[1] <= 0x3F) {  // markers without a length
      at += 2;
      continue;
    }
    if (at + 4 > limit || !f.Read(at, m, 4)) return Truncated(kUnknown, "ends inside a marker segment at " + std::to_string(at));
    const std::uint16_t length = Be16(m + 2);
    if (length < 2) return Damaged("impossible segment length at " + std::to_string(at));
    if (m[1] != 0x90) {
      at += 2 + std::uint64_t{length};
      continue;
    }
    // A tile-part: its length counts from the SOT marker; 0 means it runs to
    // EOC, which the packet data cannot hold (no FF there is followed by a
    // byte above 8F).
    if (length != 10 || at + 12 > limit || !f.Read(at, m, 12)) return Truncated(kUnknown, "ends inside a tile-part header");
    ++tileParts;
    const std::uint32_t psot = Be32(m + 6);
    if (psot != 0) {
      if (psot < 14) return Damaged("impossible tile-part length at " + std::to_string(at));
      at += psot;
      continue;
    }
    ByteReader cursor(f, at + 12);
    for (int previous = -1;;) {
      const int c = cursor.Next();
      if (c < 0 || cursor.Position() > limit) return Truncated(kUnknown, "ends inside the last tile-part");
      if (previous == 0xFF && c == 0xD9) return Intact(cursor.Position(), std::to_string(tileParts) + " tile-parts, EOC at " + std::to_string(cursor.Position() - 2));
      previous = c;
    }
  }
}

}  // namespace

CheckResult CheckJ2k(Fragment& f, const CheckOptions&) { return WalkCodestream(f, 0, f.Size()); }

// The boxes after the codestream (XML, UUID, ...) have no count: a box header
// follows, or the file has ended. What follows the last box is slack when it
// is no box header (zeros, or another file's signature box).
CheckResult CheckJp2(Fragment& f, const CheckOptions&) {
  static const unsigned char kSignature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  unsigned char h[16];
  if (!f.Read(0, h, 12) || std::memcmp(h, kSignature, 12) != 0) return Damaged("no JP2 signature box");
  std::uint64_t at = 12;
  std::uint64_t boxes = 1;
  bool codestream = false;
  for (;;) {
    BoxHeader box;
    const BoxRead read = ReadBoxHeader(f, at, box);
    if (read == BoxRead::kCut) {
      if (!codestream) return Truncated(kUnknown, "ends before the codestream");
      if (at == f.Size()) break;
      return Truncated(kUnknown, "ends inside a box header at " + std::to_string(at));
    }
    const std::uint64_t small = box.small;
    const bool signature = small == 12 && std::memcmp(box.type, kSignature + 4, 4) == 0;
    if (codestream && (!PrintableBoxType(box.type) || (small > 1 && small < 8) || signature)) break;
    if (!PrintableBoxType(box.type)) return Damaged("no box at " + std::to_string(at));
    if (at == 12 && std::memcmp(box.type, "ftyp", 4) != 0) return Damaged("no file type box");
    const bool isCodestream = std::memcmp(box.type, "jp2c", 4) == 0;
    if (read == BoxRead::kCutLarge) return Truncated(kUnknown, "ends inside a box header at " + std::to_string(at));
    const std::uint64_t header = box.header;
    const std::uint64_t size = box.size;
    if (small == 0) {  // the last box, to the end of the file
      if (!isCodestream) return Unchecked("a last box whose end is not stated");
      const CheckResult r = WalkCodestream(f, at + 8, f.Size());
      if (r.verdict != Verdict::kIntact) return r;
      return Intact(r.length, std::to_string(boxes + 1) + " boxes, the codestream's EOC last");
    }
    if (size < header) return Damaged("impossible box length at " + std::to_string(at));
    if (!f.Holds(at, size)) return Truncated(kUnknown, "ends inside box " + std::string(reinterpret_cast<char*>(box.type), 4));
    if (isCodestream) {
      const CheckResult r = WalkCodestream(f, at + header, at + size);
      if (r.verdict != Verdict::kIntact) return r;
      if (r.length != at + size) return Damaged("the codestream ends before its box");
      codestream = true;
    }
    ++boxes;
    at += size;
  }
  return Intact(at, std::to_string(boxes) + " boxes");
}

}  // namespace tessaro::formats::images

namespace tessaro::formats {

extern const FormatRow kJ2kRow{
    .extensions = {"j2k"},
    .checker = images::CheckJ2k,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kJp2Row{
    .extensions = {"jp2"},
    .checker = images::CheckJp2,
    .endPolicy = EndPolicy::kLastSectorZeros
};

}  // namespace tessaro::formats
