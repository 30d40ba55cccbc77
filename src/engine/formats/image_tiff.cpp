// TIFF: a header, then a chain of IFDs (and the IFDs they point to: EXIF, GPS,
// interoperability, sub-IFDs). No part of a TIFF says where the file ends;
// every byte a reader can reach is named by an IFD: a tag's data that does not
// fit in its entry, and every strip or tile. The file's end is the furthest of
// them, so nothing reachable lies beyond it; only a camera's maker note may
// point elsewhere, in a layout of the maker's own (see CheckTiff). A writer
// that keeps its offsets on even (or 4-byte) boundaries pads the file's end
// with zeros to the same boundary.

#include <algorithm>
#include <string>

#include "engine/formats/image_checks.h"
#include "engine/formats/format_row.h"
#include "engine/formats/tiff_ifd.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats::images {

namespace {

struct Tiff {
  Tiff(Fragment& fragment, ByteOrder order) : f(fragment), ifds(fragment, order) {}
  Fragment& f;
  TiffReader ifds;
  std::uint64_t end = 8;
  bool makerNote = false;
  // The boundary the writer puts IFDs and tag values on (TIFF asks for an
  // even one, some writers keep to four): 4 until an offset says less.
  // Strips and tiles are left out, as writers pack them.
  std::uint64_t align = 4;
  IfdQueue<std::uint64_t> queue;

  // False when there are too many IFDs to follow.
  bool Queue(std::uint64_t offset) { return queue.Queue(offset, offset); }
  void Aligned(std::uint64_t offset) {
    while (align > 1 && offset % align != 0) align /= 2;
  }
};

// A writer that aligns what it writes pads the file's end in the same way,
// with zeros: they are the file's. Only zeros are taken, and only up to the
// writer's boundary (or the fragment's end, which the file cannot pass).
std::uint64_t PaddedEnd(Fragment& f, std::uint64_t end, std::uint64_t align) {
  for (; align > 1; align /= 2) {
    const std::uint64_t padded = std::min((end + align - 1) / align * align, f.Size());
    if (padded > end && ZeroBytes(f, end, static_cast<std::size_t>(padded - end))) return padded;
  }
  return end;
}

// The pairs of data offsets and byte counts (strips, tiles, a JPEG) of one IFD.
Step WalkPairs(Tiff& t, const TiffEntry& offsets, const TiffEntry& counts, const char* what) {
  if (offsets.count != counts.count) return Damaged(std::string("the ") + what + " offsets and byte counts disagree");
  TiffValues atOffsets(t.ifds, offsets);
  TiffValues atCounts(t.ifds, counts);
  for (std::uint64_t i = 0; i < offsets.count; ++i) {
    std::uint64_t offset = 0;
    std::uint64_t count = 0;
    if (!atOffsets.Next(offset) || !atCounts.Next(count)) {
      return Truncated(kUnknown, std::string("ends inside the ") + what + " table");
    }
    if (count == 0) continue;
    if (offset < 8) return Damaged(std::string("a ") + what + " inside the header");
    t.end = std::max(t.end, offset + count);
  }
  return kKeepGoing;
}

Step WalkIfd(Tiff& t, std::uint64_t at) {
  unsigned entries = 0;
  if (at < 8) return Damaged("an IFD inside the header");
  t.Aligned(at);
  if (!t.ifds.Entries(at, entries)) return Truncated(kUnknown, "ends before the IFD at " + std::to_string(at));
  if (entries == 0) return Damaged("an empty IFD at " + std::to_string(at));
  const std::uint64_t ifdEnd = TiffReader::IfdEnd(at, entries);
  if (!t.f.Holds(0, ifdEnd)) return Truncated(kUnknown, "ends inside the IFD at " + std::to_string(at));
  t.end = std::max(t.end, ifdEnd);
  TiffEntry pairs[8];  // offsets and counts of strips, tiles, a JPEG and free space
  for (unsigned i = 0; i < entries; ++i) {
    TiffEntry e;
    if (!t.ifds.Entry(at, i, e)) return Unchecked("a read failed");
    const unsigned tag = e.tag;
    const unsigned type = e.type;
    const std::uint64_t count = e.count;
    if (TiffTypeSize(type) == 0) return Unchecked("tag " + std::to_string(tag) + " has an unknown type " + std::to_string(type));
    const std::uint64_t bytes = e.Bytes();
    const std::uint64_t offset = t.ifds.Offset(e);
    if (bytes > 4) {
      if (offset < 8) return Damaged("tag " + std::to_string(tag) + " points inside the header");
      t.end = std::max(t.end, offset + bytes);
      t.Aligned(offset);
    }
    // Offsets whose lengths no tag states: the tables of the old JPEG
    // compression, and the private data of Sony's raws when it is an IFD.
    if ((tag >= 0x207 && tag <= 0x209) || (tag == 0xC634 && type != 1 && type != 7)) {
      return Unchecked("tag " + std::to_string(tag) + " points to data of no stated length");
    }
    if (tag == 0x927C) t.makerNote = true;
    const int pair = tag == 273 ? 0 : tag == 279 ? 1 : tag == 324 ? 2 : tag == 325 ? 3 : tag == 513 ? 4 : tag == 514 ? 5
                   : tag == 288 ? 6 : tag == 289 ? 7 : -1;
    if (pair >= 0) {
      if (type != 3 && type != 4) return Damaged("tag " + std::to_string(tag) + " is neither SHORT nor LONG");
      pairs[pair] = e;
    }
    // Tags that lead to further IFDs.
    if (tag == 34665 || tag == 34853 || tag == 40965 || tag == 330) {
      if (type != 4 && type != 13) return Damaged("tag " + std::to_string(tag) + " is no IFD offset");
      for (std::uint64_t k = 0; k < count; ++k) {
        std::uint64_t ifd = 0;
        if (!t.ifds.Value(e, k, ifd)) return Truncated(kUnknown, "ends inside tag " + std::to_string(tag));
        if (!t.Queue(ifd)) return Unchecked("too many IFDs to follow");
      }
    }
  }
  const char* names[4] = {"strip", "tile", "JPEG", "free space"};
  for (int k = 0; k < 4; ++k) {
    const TiffEntry& offsets = pairs[2 * k];
    const TiffEntry& counts = pairs[2 * k + 1];
    if (offsets.count == 0 && counts.count == 0) continue;
    if (offsets.count == 0 || counts.count == 0) {
      return Unchecked(std::string("the ") + names[k] + " offsets without byte counts");
    }
    if (Step r = WalkPairs(t, offsets, counts, names[k])) return *r;
  }
  std::uint32_t nextIfd = 0;
  if (!t.ifds.Next(at, entries, nextIfd)) return Unchecked("a read failed");
  if (nextIfd != 0 && !t.Queue(nextIfd)) return Unchecked("too many IFDs to follow");
  return kKeepGoing;
}

}  // namespace

CheckResult CheckTiff(Fragment& f, const CheckOptions&) {
  unsigned char h[8];
  if (!f.Read(0, h, 8)) return Truncated(kUnknown, "ends inside the header");
  ByteOrder order;
  if (!TiffByteOrder(h, order)) return Damaged("no TIFF byte order");
  if (order.U16(h + 2) == 43) return Unchecked("a BigTIFF");
  if (order.U16(h + 2) != 42) return Damaged("no TIFF signature");
  Tiff t(f, order);
  t.Queue(order.U32(h + 4));
  std::size_t walked = 0;
  for (std::uint64_t at = 0; t.queue.Take(at);) {
    if (Step r = WalkIfd(t, at)) return *r;
    ++walked;
  }
  if (!f.Holds(0, t.end)) return Truncated(kUnknown, "its data reaches " + std::to_string(t.end) + " bytes");
  // A camera's maker note may point past everything the IFDs name (a preview
  // picture, say), and its layout is the maker's own; so the end is given
  // only when nothing but zeros follows it. A JPEG right after the end is
  // such a picture too.
  const std::uint64_t end = PaddedEnd(f, t.end, t.align);
  unsigned char after[16] = {};
  const std::size_t got = f.ReadSome(end, after, sizeof after);
  const bool zeros = std::all_of(after, after + got, [](unsigned char c) { return c == 0; });
  if ((t.makerNote && !zeros) || (got >= 3 && after[0] == 0xFF && after[1] == 0xD8 && after[2] == 0xFF)) {
    return Unchecked("its data ends at " + std::to_string(end) + " but more follows, maybe named by its maker note");
  }
  std::string detail = std::to_string(walked) + " IFDs; the furthest data ends at " + std::to_string(t.end);
  if (end != t.end) detail += ", padded to " + std::to_string(end);
  return Intact(end, detail);
}

}  // namespace tessaro::formats::images

namespace tessaro::formats {

extern const FormatRow kTiffRow{
    .extensions = {"dng", "tif", "tiff"},
    .checker = images::CheckTiff,
    .nameReader = names::TiffDate,
    .endPolicy = EndPolicy::kLastSectorZeros
};

}  // namespace tessaro::formats
