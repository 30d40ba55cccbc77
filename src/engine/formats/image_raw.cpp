// Camera raws built on TIFF: Canon CR2, Nikon NEF, Sony ARW, Olympus ORF and
// Panasonic RW2. Like a TIFF, none says where the file ends; every block a
// reader can reach is named by an IFD. Cameras write the raw picture data last,
// so the file's end is certain only where the raw data (the largest picture
// data of one IFD) ends the furthest of all the blocks named, previews, maker
// notes and the data in them included. Anything named past it (a preview of a
// maker's own, say) leaves the end open.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/image_checks.h"
#include "engine/formats/format_row.h"
#include "engine/formats/tiff_ifd.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats::images {

namespace {

constexpr unsigned kMostMakerEntries = 1000;

enum class Maker : std::uint8_t { kNone, kNikon, kOlympus, kCanon, kOther };
enum class RawKind : std::uint8_t { kCr2, kNef, kArw, kOrf, kRw2 };

// An IFD to walk. Main IFDs describe pictures; the IFDs of a maker note hold
// data of their own, and some makers count their offsets from the note.
struct Ifd {
  std::uint64_t at = 0;
  std::uint64_t base = 0;  // what the offsets in it count from
  ByteOrder order;
  Maker maker = Maker::kNone;
};

struct Walk {
  Walk(Fragment& fragment, RawKind rawKind) : f(fragment), kind(rawKind) {}
  Fragment& f;
  RawKind kind;
  IfdQueue<Ifd> queue;
  std::size_t walked = 0;
  std::uint64_t furthest = 8;  // the end of every block named
  std::string furthestWhat = "the header";
  bool furthestInMakerNote = false;
  std::uint64_t rawBytes = 0;  // the largest picture data of one main IFD
  std::uint64_t rawEnd = 0;
  // Panasonic's sensor size, bits a pixel and compression, from IFD0's own tags.
  std::uint64_t panasonic[4] = {};

  bool Queue(const Ifd& ifd) { return queue.Queue(ifd.at, ifd); }
  void Block(std::uint64_t start, std::uint64_t length, const std::string& what, bool makerNote) {
    if (start + length <= furthest) return;
    furthest = start + length;
    furthestWhat = what;
    furthestInMakerNote = makerNote;
  }
};

std::string Tag(unsigned tag) { return "tag " + std::to_string(tag); }

// Where the IFD of a maker note lies, from the header its maker gives it.
// Canon's, and some of Sony's, have no header: the note is the IFD.
bool MakerNoteIfd(Fragment& f, std::uint64_t note, ByteOrder byteOrder, RawKind kind, Ifd& out) {
  unsigned char h[18] = {};
  f.ReadSome(note, h, sizeof h);
  out.order = byteOrder;
  out.base = 0;
  out.maker = Maker::kOther;
  if (std::memcmp(h, "Nikon\0", 6) == 0) {
    // An embedded TIFF header at +10; offsets count from it.
    if (!TiffByteOrder(h + 10, out.order)) return false;
    out.base = note + 10;
    out.at = out.base + out.order.U32(h + 14);
    out.maker = Maker::kNikon;
  } else if (std::memcmp(h, "OLYMPUS\0", 8) == 0 || std::memcmp(h, "OM SYSTEM\0\0\0", 12) == 0) {
    const std::size_t order = h[0] == 'O' && h[1] == 'L' ? 8 : 12;
    out.order.big = h[order] != 'I';
    out.base = note;
    out.at = note + order + 4;
    out.maker = Maker::kOlympus;
  } else if (std::memcmp(h, "OLYMP\0", 6) == 0) {
    out.at = note + 8;
    out.maker = Maker::kOlympus;
  } else if (std::memcmp(h, "SONY DSC \0\0\0", 12) == 0 || std::memcmp(h, "SONY CAM \0\0\0", 12) == 0 ||
             std::memcmp(h, "Panasonic\0\0\0", 12) == 0) {
    out.at = note + 12;
  } else if (std::memcmp(h, "FUJIFILM", 8) == 0) {
    out.order.big = false;
    out.base = note;
    out.at = note + Le32(h + 8);
  } else if (kind == RawKind::kCr2 || kind == RawKind::kArw) {
    out.at = note;
    if (kind == RawKind::kCr2) out.maker = Maker::kCanon;
  } else {
    return false;
  }
  return true;
}

// Offsets and byte counts of strips, tiles or a JPEG. Returns the bytes of
// picture data they hold; `end` grows to their furthest end.
Step WalkPairs(Walk& w, const Ifd& ifd, const TiffReader& tiff, const TiffEntry& offsets,
                      const TiffEntry& counts, const char* what, std::uint64_t& bytes, std::uint64_t& end) {
  const bool maker = ifd.maker != Maker::kNone;
  // Far more strips or tiles than any camera writes: a count that cannot be.
  if (offsets.count > (1u << 20)) return maker ? kKeepGoing : Step(Unchecked(std::string("too many ") + what + "s to follow"));
  if (offsets.count != counts.count) {
    return maker ? kKeepGoing : Step(Damaged(std::string("the ") + what + " offsets and byte counts disagree"));
  }
  TiffValues atOffsets(tiff, offsets);
  TiffValues atCounts(tiff, counts);
  for (std::uint64_t i = 0; i < offsets.count; ++i) {
    std::uint64_t offset = 0;
    std::uint64_t count = 0;
    if (!atOffsets.Next(offset) || !atCounts.Next(count)) {
      return maker ? kKeepGoing : Step(Truncated(kUnknown, std::string("ends inside the ") + what + " table"));
    }
    if (count == 0) continue;
    offset += ifd.base;
    if (offset < 8) {
      if (maker) continue;
      return Damaged(std::string("a ") + what + " inside the header");
    }
    w.Block(offset, count, what, maker);
    bytes += count;
    end = std::max(end, offset + count);
  }
  return kKeepGoing;
}

// Which of the offset and byte count pairs a tag is: strips and tiles of a
// picture, a JPEG, Sony's private block, an Olympus preview; -1 for none.
int PairIndex(unsigned tag, Maker maker) {
  static const unsigned kTags[10] = {0x111, 0x117, 0x144, 0x145, 0x201, 0x202, 0x7200, 0x7201, 0x101, 0x102};
  const int i = static_cast<int>(std::find(kTags, kTags + 10, tag) - kTags);
  switch (maker) {
    case Maker::kNone: return i < 8 ? i : -1;
    case Maker::kNikon: return i == 4 || i == 5 ? i : -1;
    case Maker::kOlympus: return i >= 8 && i < 10 ? i : -1;
    case Maker::kCanon:
    case Maker::kOther: return -1;
  }
  return -1;
}

bool LeadsToIfd(unsigned tag, unsigned type, Maker maker) {
  if (type != 4 && type != 13) return false;
  switch (maker) {
    case Maker::kNone: return tag == 0x14A || tag == 0x8769 || tag == 0x8825 || tag == 0xA005 || tag == 0xC634;
    case Maker::kNikon: return tag == 0x11 || type == 13;
    case Maker::kOlympus: return (tag >= 0x2010 && tag <= 0x2050) || tag == 0x3000 || type == 13;
    case Maker::kCanon:
    case Maker::kOther: return type == 13;
  }
  return false;
}

Step WalkIfd(Walk& w, const Ifd& ifd) {
  const bool maker = ifd.maker != Maker::kNone;
  // A maker's IFD that cannot be read is left alone: only its note's own
  // bytes are known, and they are counted already.
  auto fail = [&](CheckResult r) { return maker ? kKeepGoing : Step(std::move(r)); };
  // Offsets in a maker's IFD may count from its note.
  TiffReader tiff(w.f, ifd.order, ifd.base);
  const std::uint64_t at = ifd.at - ifd.base;
  unsigned entries = 0;
  if (ifd.at < 8) return fail(Damaged("an IFD inside the header"));
  if (!tiff.Entries(at, entries)) return fail(Truncated(kUnknown, "ends before the IFD at " + std::to_string(ifd.at)));
  if (entries == 0 || (maker && entries > kMostMakerEntries)) return fail(Damaged("an empty IFD at " + std::to_string(ifd.at)));
  const std::uint64_t ifdEnd = TiffReader::IfdEnd(ifd.at, entries);
  if (!w.f.Holds(0, ifdEnd)) return fail(Truncated(kUnknown, "ends inside the IFD at " + std::to_string(ifd.at)));
  w.Block(ifd.at, ifdEnd - ifd.at, "an IFD", maker);
  ++w.walked;
  // Offsets and counts: strips, tiles, a JPEG, Sony's private block, and an
  // Olympus preview.
  TiffEntry pairs[10];
  for (unsigned i = 0; i < entries; ++i) {
    TiffEntry e;
    if (!tiff.Entry(at, i, e)) return Unchecked("a read failed");
    if (TiffTypeSize(e.type) == 0) {
      if (maker) return kKeepGoing;
      return Unchecked(Tag(e.tag) + " has an unknown type " + std::to_string(e.type));
    }
    const std::uint64_t bytes = e.Bytes();
    const std::uint64_t values = ifd.base + tiff.Offset(e);  // when they do not fit in the entry
    if (bytes > 4) {
      if (values < 8) {
        if (maker) continue;
        return Damaged(Tag(e.tag) + " points inside the header");
      }
      w.Block(values, bytes, "the values of " + Tag(e.tag), maker);
    }
    if (!maker && e.tag >= 0x207 && e.tag <= 0x209) return Unchecked(Tag(e.tag) + " points to data of no stated length");
    const int pair = PairIndex(e.tag, ifd.maker);
    if (pair >= 0 && (e.type == 3 || e.type == 4)) pairs[pair] = e;
    // Sony names its private IFD with four bytes of type BYTE.
    if (!maker && w.kind == RawKind::kArw && e.tag == 0xC634 && e.type == 1 && e.count == 4) e.type = 4, e.count = 1;
    if (!maker && w.kind == RawKind::kRw2 && e.tag >= 2 && e.tag <= 0xB && e.count == 1 && e.type == 3) {
      const int k = e.tag == 2 ? 0 : e.tag == 3 ? 1 : e.tag == 0xA ? 2 : e.tag == 0xB ? 3 : -1;
      std::uint64_t v = 0;
      if (k >= 0 && tiff.Value(e, 0, v)) w.panasonic[k] = v;
    }
    // Canon's original decision data (the pro bodies' proof that a picture
    // is unaltered) lies where this offset says, with no length stated.
    std::uint64_t decision = 0;
    if (ifd.maker == Maker::kCanon && e.tag == 0x83 && e.type == 4 && tiff.Value(e, 0, decision) &&
        decision != 0) {
      return Unchecked("Canon's original decision data lies at " + std::to_string(decision) + ", of no stated length");
    }
    if (LeadsToIfd(e.tag, e.type, ifd.maker)) {
      for (std::uint64_t k = 0; k < e.count && k < kMostIfds; ++k) {
        std::uint64_t next = 0;
        TiffEntry asLong = e;
        asLong.type = 4;
        if (!tiff.Value(asLong, k, next)) return fail(Truncated(kUnknown, "ends inside " + Tag(e.tag)));
        if (!w.Queue(Ifd{ifd.base + next, ifd.base, ifd.order, ifd.maker})) return Unchecked("too many IFDs to follow");
      }
    }
    if (!maker && e.tag == 0x927C && bytes > 4) {
      Ifd note;
      if (MakerNoteIfd(w.f, values, ifd.order, w.kind, note) && !w.Queue(note)) return Unchecked("too many IFDs to follow");
    }
  }
  const char* names[5] = {"strip", "tile", "JPEG", "private block", "preview"};
  std::uint64_t pictureBytes = 0;
  std::uint64_t pictureEnd = 0;
  for (int k = 0; k < 5; ++k) {
    const TiffEntry& offsets = pairs[2 * k];
    const TiffEntry& counts = pairs[2 * k + 1];
    if (offsets.count == 0 && counts.count == 0) continue;
    if (offsets.count == 0 || counts.count == 0) {
      if (maker) continue;
      return Unchecked(std::string("the ") + names[k] + " offsets without byte counts");
    }
    std::uint64_t bytes = 0;
    std::uint64_t end = 0;
    if (Step r = WalkPairs(w, ifd, tiff, offsets, counts, names[k], bytes, end)) return *r;
    if (k < 2) {
      pictureBytes += bytes;
      pictureEnd = std::max(pictureEnd, end);
    }
  }
  if (!maker && pictureBytes > w.rawBytes) {
    w.rawBytes = pictureBytes;
    w.rawEnd = pictureEnd;
  }
  // A maker's IFDs end their chains with whatever their maker wrote there.
  if (maker) return kKeepGoing;
  std::uint32_t nextIfd = 0;
  if (!tiff.Next(at, entries, nextIfd)) return Unchecked("a read failed");
  if (nextIfd != 0 && !w.Queue(Ifd{nextIfd, 0, ifd.order, Maker::kNone})) return Unchecked("too many IFDs to follow");
  return kKeepGoing;
}

CheckResult CheckTiffRaw(Fragment& f, RawKind kind) {
  unsigned char h[16];
  if (!f.Read(0, h, 16)) return Truncated(kUnknown, "ends inside the header");
  ByteOrder order;
  if (!TiffByteOrder(h, order)) return Damaged("no TIFF byte order");
  const unsigned magic = order.U16(h + 2);
  const bool magicRight = kind == RawKind::kOrf   ? magic == 0x4F52 || magic == 0x5253
                          : kind == RawKind::kRw2 ? magic == 0x55
                                                  : magic == 42;
  if (!magicRight) return Damaged("not the signature of this camera's raw");
  if (kind == RawKind::kCr2 && !(h[8] == 'C' && h[9] == 'R' && h[10] == 2)) return Damaged("no CR2 header");
  Walk w(f, kind);
  w.Queue(Ifd{order.U32(h + 4), 0, order, Maker::kNone});
  // CR2 names its raw IFD in the header too (it is also the last of the chain).
  if (kind == RawKind::kCr2 && Le32(h + 12) != 0) w.Queue(Ifd{Le32(h + 12), 0, order, Maker::kNone});
  w.Block(0, kind == RawKind::kCr2 ? 16 : 8, "the header", false);
  for (Ifd ifd; w.queue.Take(ifd);) {
    if (Step r = WalkIfd(w, ifd)) return *r;
  }
  // Some Panasonic cameras store, in place of the compressed data's size, the
  // size it would have unpacked (or zero, which leaves no raw data above).
  const std::uint64_t* p = w.panasonic;
  if (kind == RawKind::kRw2 && p[3] != 1 && w.rawBytes >= p[0] * p[1] * p[2] / 8) {
    return Unchecked("its raw data's byte count is the unpacked size, not what is stored");
  }
  const std::string reach = std::to_string(w.furthest);
  if (!f.Holds(0, w.furthest)) {
    if (w.furthestInMakerNote) return Unchecked("its maker note names data past the fragment, at " + reach);
    const bool rawLast = w.rawEnd == w.furthest;
    return Truncated(rawLast ? w.furthest : kUnknown, "the furthest block (" + w.furthestWhat + ") ends at " + reach +
                                                          ", past the fragment");
  }
  if (w.rawBytes == 0) return Unchecked("no IFD names its raw data");
  if (w.rawEnd != w.furthest) {
    return Unchecked("the raw data ends at " + std::to_string(w.rawEnd) + ", before the furthest block (" +
                     w.furthestWhat + "), which ends at " + reach);
  }
  return Intact(w.rawEnd, std::to_string(w.walked) + (w.walked == 1 ? " IFD" : " IFDs") + "; the raw data (" +
                              std::to_string(w.rawBytes) + " bytes) is the last block, ending at " + reach);
}

}  // namespace

CheckResult CheckCr2(Fragment& f, const CheckOptions&) { return CheckTiffRaw(f, RawKind::kCr2); }
CheckResult CheckNef(Fragment& f, const CheckOptions&) { return CheckTiffRaw(f, RawKind::kNef); }
CheckResult CheckArw(Fragment& f, const CheckOptions&) { return CheckTiffRaw(f, RawKind::kArw); }
CheckResult CheckOrf(Fragment& f, const CheckOptions&) { return CheckTiffRaw(f, RawKind::kOrf); }
CheckResult CheckRw2(Fragment& f, const CheckOptions&) { return CheckTiffRaw(f, RawKind::kRw2); }

}  // namespace tessaro::formats::images

namespace tessaro::formats {

extern const FormatRow kArwRow{
    .extensions = {"arw"},
    .checker = images::CheckArw,
    .nameReader = names::TiffDate,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kCr2Row{
    .extensions = {"cr2"},
    .checker = images::CheckCr2,
    .nameReader = names::TiffDate,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kNefRow{
    .extensions = {"nef"},
    .checker = images::CheckNef,
    .nameReader = names::TiffDate,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kOrfRow{
    .extensions = {"orf"},
    .checker = images::CheckOrf,
    .nameReader = names::TiffDate,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kRw2Row{
    .extensions = {"rw2"},
    .checker = images::CheckRw2,
    .nameReader = names::TiffDate,
    .endPolicy = EndPolicy::kLastSectorZeros
};

}  // namespace tessaro::formats
