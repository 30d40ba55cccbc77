// ISO base media files (MP4, MOV, M4A, 3GP, HEIF, AVIF, CR3): a run of
// top-level boxes (32-bit size, type; size 1 means a 64-bit size follows)
// from the first byte to the last. Nothing says how many boxes there are, so
// the file ends where the next eight bytes are not a box of a known type.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/iso_boxes.h"
#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats {

namespace {

// Top-level box types that real files carry.
bool KnownTopLevelBox(const unsigned char* type) {
  static const char* const kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta",
                                       "moof", "mfra", "sidx", "ssix", "styp", "pdin", "prft", "emsg",
                                       "meco", "pnot", "junk", "PICT", "jumb", "idat"};
  for (const char* known : kTypes) {
    if (std::memcmp(type, known, 4) == 0) return true;
  }
  return false;
}

std::string TypeName(const unsigned char* type) { return std::string(reinterpret_cast<const char*>(type), 4); }

bool Is(const unsigned char* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

}  // namespace

CheckResult CheckIsoMedia(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0;
  std::uint64_t boxes = 0;
  bool movie = false;  // moov, or meta for still pictures
  bool data = false;   // mdat
  int moovBoxes = 0;
  int metaBoxes = 0;
  for (;;) {
    if (at == f.Size()) break;
    BoxHeader box;
    const BoxRead read = ReadBoxHeader(f, at, box);
    if (read == BoxRead::kCut) {
      // Too short for a box: slack when it is zeros, else perhaps a box cut short.
      const auto left = static_cast<std::size_t>(std::min<std::uint64_t>(f.Size() - at, 8));
      if (boxes > 0 && ZeroBytes(f, at, left)) break;
      return Truncated(kUnknown, "ends inside a box header at " + std::to_string(at));
    }
    const unsigned char* type = box.type;
    const std::uint64_t small = box.small;
    const bool known = KnownTopLevelBox(type);
    if (boxes > 0) {
      // A second ftyp starts another file; what is no box at all is slack.
      if (Is(type, "ftyp")) break;
      if (!known) {
        const bool couldBeBox = PrintableBoxType(type) && (small >= 8 || small == 1);
        if (couldBeBox) return Unchecked("a box of unknown type " + TypeName(type) +
                                         " at " + std::to_string(at));
        break;
      }
    } else if (!known) {
      return Damaged("no box of a known type at the start");
    }
    if (small == 0) return Unchecked("the last box runs to the end of the file, wherever that is");
    if (read == BoxRead::kCutLarge) return Truncated(kUnknown, "ends inside a box header at " + std::to_string(at));
    const std::uint64_t size = box.size;
    if (size < box.header) return Damaged("impossible box size at " + std::to_string(at));
    if (Is(type, "moov") || Is(type, "meta")) {
      int& seen = Is(type, "moov") ? moovBoxes : metaBoxes;
      if (++seen > 1) return Unchecked("a second " + TypeName(type) + " box");
      movie = true;
    }
    if (Is(type, "mdat")) data = true;
    ++boxes;
    if (!f.Holds(at, size)) {
      return Truncated(size > UINT64_MAX - at ? kUnknown : at + size,
                       "ends inside box " + TypeName(type) + " at " + std::to_string(at));
    }
    at += size;
  }
  if (!movie || !data) return Truncated(kUnknown, movie ? "no media data (mdat)" : "no movie box (moov)");
  return Intact(at, std::to_string(boxes) + " top-level boxes, movie and media data present");
}

extern const FormatRow kIsoMovieRow{

    .extensions = {"3g2", "3gp", "m4v", "mov", "mp4"},
    .checker = CheckIsoMedia,
    .nameReader = names::MovieDate
};
extern const FormatRow kHeifRow{
    .extensions = {"avif", "heic", "heif"},
    .checker = CheckIsoMedia,
    .nameReader = names::HeifDate
};
extern const FormatRow kCr3Row{.extensions = {"cr3"}, .checker = CheckIsoMedia};
extern const FormatRow kM4aRow{.extensions = {"m4a"}, .checker = CheckIsoMedia, .nameReader = names::SongName};

}  // namespace tessaro::formats
