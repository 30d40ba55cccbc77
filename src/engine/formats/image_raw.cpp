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
#include "engine/names/name_readers.h"

namespace tessaro::formats::images {

namespace {

constexpr std::size_t kMostIfds = 256;
constexpr unsigned kMostMakerEntries = 1000;

enum class Maker : std::uint8_t { kNone, kNikon, kOlympus, kCanon, kOther };
enum class RawKind : std::uint8_t { kCr2, kNef, kArw, kOrf, kRw2 };

// An IFD to walk. Main IFDs describe pictures; the IFDs of a maker note hold
// data of their own, and some makers count their offsets from the note.
struct Ifd {
  std::uint64_t at = 0;
  std::uint64_t base = 0;  // what the offsets in it count from
  bool little = true;
  Maker maker = Maker::kNone;
};

struct Walk {
  Walk(Fragment& fragment, RawKind rawKind) : f(fragment), kind(rawKind) {}
  Fragment& f;
  RawKind kind;
  Ifd pending[kMostIfds];
  std::size_t pendingCount = 0;
  std::uint64_t seen[kMostIfds];
  std::size_t seenCount = 0;
  std::size_t walked = 0;
  std::uint64_t furthest = 8;  // the end of every block named
  std::string furthestWhat = "the header";
  bool furthestInMakerNote = false;
  std::uint64_t rawBytes = 0;  // the largest picture data of one main IFD
  std::uint64_t rawEnd = 0;
  // Panasonic's sensor size, bits a pixel and compression, from IFD0's own tags.
  std::uint64_t panasonic[4] = {};

  bool Queue(const Ifd& ifd) {
    if (std::find(seen, seen + seenCount, ifd.at) != seen + seenCount) return true;
    if (seenCount == kMostIfds) return false;
    seen[seenCount++] = ifd.at;
    pending[pendingCount++] = ifd;
    return true;
  }
  void Block(std::uint64_t start, std::uint64_t length, const std::string& what, bool makerNote) {
    if (start + length <= furthest) return;
    furthest = start + length;
    furthestWhat = what;
    furthestInMakerNote = makerNote;
  }
};

std::uint16_t U16(bool little, const unsigned char* p) { return little ? Le16(p) : Be16(p); }
std::uint32_t U32(bool little, const unsigned char* p) { return little ? Le32(p) : Be32(p); }

// One IFD entry; its values lie at `values` (inside the entry when they fit).
struct Entry {
  unsigned tag = 0;
  unsigned type = 0;
  std::uint64_t count = 0;
  std::uint64_t values = 0;
};

// The i-th SHORT or LONG value of an entry; false where it cannot be read.
bool Value(Fragment& f, bool little, const Entry& e, std::uint64_t i, std::uint64_t& out) {
  unsigned char b[4];
  const unsigned size = e.type == 3 ? 2 : 4;
  if (!f.Read(e.values + i * size, b, size)) return false;
  out = size == 2 ? U16(little, b) : U32(little, b);
  return true;
}

std::string Tag(unsigned tag) { return "tag " + std::to_string(tag); }

// Where the IFD of a maker note lies, from the header its maker gives it.
// Canon's, and some of Sony's, have no header: the note is the IFD.
bool MakerNoteIfd(Fragment& f, std::uint64_t note, bool little, RawKind kind, Ifd& out) {
  unsigned char h[18] = {};
  f.ReadSome(note, h, sizeof h);
  out.little = little;
  out.base = 0;
  out.maker = Maker::kOther;
  if (std::memcmp(h, "Nikon\0", 6) == 0) {
    // An embedded TIFF header at +10; offsets count from it.
    if (!((h[10] == 'I' && h[11] == 'I') || (h[10] == 'M' && h[11] == 'M'))) return false;
    out.little = h[10] == 'I';
    out.base = note + 10;
    out.at = out.base + U32(out.little, h + 14);
    out.maker = Maker::kNikon;
  } else if (std::memcmp(h, "OLYMPUS\0", 8) == 0 || std::memcmp(h, "OM SYSTEM\0\0\0", 12) == 0) {
    const std::size_t order = h[0] == 'O' && h[1] == 'L' ? 8 : 12;
    out.little = h[order] == 'I';
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
    out.little = true;
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
Step WalkPairs(Walk& w, const Ifd& ifd, const Entry& offsets, const Entry& counts, const char* what,
               std::uint64_t& bytes, std::uint64_t& end) {
  const bool maker = ifd.maker != Maker::kNone;
  // Far more strips or tiles than any camera writes: a count that cannot be.
  if (offsets.count > (1u << 20)) return maker ? kKeepGoing : Step(Unchecked(std::string("too many ") + what + "s to follow"));
  if (offsets.count != counts.count) {
    return maker ? kKeepGoing : Step(Damaged(std::string("the ") + what + " offsets and byte counts disagree"));
  }
  for (std::uint64_t i = 0; i < offsets.count; ++i) {
    std::uint64_t offset = 0;
    std::uint64_t count = 0;
    if (!Value(w.f, ifd.little, offsets, i, offset) || !Value(w.f, ifd.little, counts, i, count)) {
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
  unsigned char countBytes[2];
  if (ifd.at < 8) return fail(Damaged("an IFD inside the header"));
  if (!w.f.Read(ifd.at, countBytes, 2)) return fail(Truncated(kUnknown, "ends before the IFD at " + std::to_string(ifd.at)));
  const unsigned entries = U16(ifd.little, countBytes);
  if (entries == 0 || (maker && entries > kMostMakerEntries)) return fail(Damaged("an empty IFD at " + std::to_string(ifd.at)));
  const std::uint64_t ifdEnd = ifd.at + 2 + 12ull * entries + 4;
  if (!w.f.Holds(0, ifdEnd)) return fail(Truncated(kUnknown, "ends inside the IFD at " + std::to_string(ifd.at)));
  w.Block(ifd.at, ifdEnd - ifd.at, "an IFD", maker);
  ++w.walked;
  // Offsets and counts: strips, tiles, a JPEG, Sony's private block, and an
  // Olympus preview.
  Entry pairs[10];
  for (unsigned i = 0; i < entries; ++i) {
    unsigned char b[12];
    const std::uint64_t at = ifd.at + 2 + 12ull * i;
    if (!w.f.Read(at, b, 12)) return Unchecked("a read failed");
    Entry e{U16(ifd.little, b), U16(ifd.little, b + 2), U32(ifd.little, b + 4), at + 8};
    const unsigned size = TiffTypeSize(e.type);
    if (size == 0) {
      if (maker) return kKeepGoing;
      return Unchecked(Tag(e.tag) + " has an unknown type " + std::to_string(e.type));
    }
    const std::uint64_t bytes = e.count * size;
    if (bytes > 4) {
      e.values = ifd.base + U32(ifd.little, b + 8);
      if (e.values < 8) {
        if (maker) continue;
        return Damaged(Tag(e.tag) + " points inside the header");
      }
      w.Block(e.values, bytes, "the values of " + Tag(e.tag), maker);
    }
    if (!maker && e.tag >= 0x207 && e.tag <= 0x209) return Unchecked(Tag(e.tag) + " points to data of no stated length");
    const int pair = PairIndex(e.tag, ifd.maker);
    if (pair >= 0 && (e.type == 3 || e.type == 4)) pairs[pair] = e;
    // Sony names its private IFD with four bytes of type BYTE.
    if (!maker && w.kind == RawKind::kArw && e.tag == 0xC634 && e.type == 1 && e.count == 4) e.type = 4, e.count = 1;
    if (!maker && w.kind == RawKind::kRw2 && e.tag >= 2 && e.tag <= 0xB && e.count == 1 && e.type == 3) {
      const int k = e.tag == 2 ? 0 : e.tag == 3 ? 1 : e.tag == 0xA ? 2 : e.tag == 0xB ? 3 : -1;
      std::uint64_t v = 0;
      if (k >= 0 && Value(w.f, ifd.little, e, 0, v)) w.panasonic[k] = v;
    }
    // Canon's original decision data (the pro bodies' proof that a picture
    // is unaltered) lies where this offset says, with no length stated.
    std::uint64_t decision = 0;
    if (ifd.maker == Maker::kCanon && e.tag == 0x83 && e.type == 4 && Value(w.f, ifd.little, e, 0, decision) &&
        decision != 0) {
      return Unchecked("Canon's original decision data lies at " + std::to_string(decision) + ", of no stated length");
    }
    if (LeadsToIfd(e.tag, e.type, ifd.maker)) {
      for (std::uint64_t k = 0; k < e.count && k < kMostIfds; ++k) {
        std::uint64_t next = 0;
        if (!Value(w.f, ifd.little, Entry{e.tag, 4, e.count, e.values}, k, next)) {
          return fail(Truncated(kUnknown, "ends inside " + Tag(e.tag)));
        }
        if (!w.Queue(Ifd{ifd.base + next, ifd.base, ifd.little, ifd.maker})) return Unchecked("too many IFDs to follow");
      }
    }
    if (!maker && e.tag == 0x927C && bytes > 4) {
      Ifd note;
      if (MakerNoteIfd(w.f, e.values, ifd.little, w.kind, note) && !w.Queue(note)) return Unchecked("too many IFDs to follow");
    }
  }
  const char* names[5] = {"strip", "tile", "JPEG", "private block", "preview"};
  std::uint64_t pictureBytes = 0;
  std::uint64_t pictureEnd = 0;
  for (int k = 0; k < 5; ++k) {
    const Entry& offsets = pairs[2 * k];
    const Entry& counts = pairs[2 * k + 1];
    if (offsets.count == 0 && counts.count == 0) continue;
    if (offsets.count == 0 || counts.count == 0) {
      if (maker) continue;
      return Unchecked(std::string("the ") + names[k] + " offsets without byte counts");
    }
    std::uint64_t bytes = 0;
    std::uint64_t end = 0;
    if (Step r = WalkPairs(w, ifd, offsets, counts, names[k], bytes, end)) return r;
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
  unsigned char next[4];
  if (!w.f.Read(ifdEnd - 4, next, 4)) return Unchecked("a read failed");
  const std::uint32_t nextIfd = U32(ifd.little, next);
  if (nextIfd != 0 && !w.Queue(Ifd{nextIfd, 0, ifd.little, Maker::kNone})) return Unchecked("too many IFDs to follow");
  return kKeepGoing;
}

CheckResult CheckTiffRaw(Fragment& f, RawKind kind) {
  unsigned char h[16];
  if (!f.Read(0, h, 16)) return Truncated(kUnknown, "ends inside the header");
  if (!((h[0] == 'I' && h[1] == 'I') || (h[0] == 'M' && h[1] == 'M'))) return Damaged("no TIFF byte order");
  const bool little = h[0] == 'I';
  const unsigned magic = U16(little, h + 2);
  const bool magicRight = kind == RawKind::kOrf   ? magic == 0x4F52 || magic == 0x5253
                          : kind == RawKind::kRw2 ? magic == 0x55
                                                  : magic == 42;
  if (!magicRight) return Damaged("not the signature of this camera's raw");
  if (kind == RawKind::kCr2 && !(h[8] == 'C' && h[9] == 'R' && h[10] == 2)) return Damaged("no CR2 header");
  Walk w(f, kind);
  w.Queue(Ifd{U32(little, h + 4), 0, little, Maker::kNone});
  // CR2 names its raw IFD in the header too (it is also the last of the chain).
  if (kind == RawKind::kCr2 && Le32(h + 12) != 0) w.Queue(Ifd{Le32(h + 12), 0, little, Maker::kNone});
  w.Block(0, kind == RawKind::kCr2 ? 16 : 8, "the header", false);
  while (w.pendingCount > 0) {
    const Ifd ifd = w.pending[--w.pendingCount];
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
