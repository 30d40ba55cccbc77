// Matroska and WebM: EBML elements (an ID and a size, both of variable
// length). The file is the EBML header element, then a Segment whose size
// says where it ends; a Segment of unknown size (live recording) is walked
// through its top-level elements instead.

#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

constexpr std::uint32_t kEbmlId = 0x1A45DFA3;
constexpr std::uint32_t kSegmentId = 0x18538067;
constexpr std::uint32_t kClusterId = 0x1F43B675;

struct Element {
  std::uint32_t id = 0;
  std::uint64_t size = 0;  // kUnknown: all ones, "as far as the parent goes"
  std::uint64_t data = 0;  // where the content begins
};

// Reads an element header at `at`; false when it is no header or cut short.
bool ReadElement(Fragment& f, std::uint64_t at, Element& e, bool& cut) {
  unsigned char h[12];
  const std::size_t got = f.ReadSome(at, h, sizeof h);
  cut = false;
  if (got == 0) return cut = true, false;
  int idLength = 1;
  while (idLength <= 4 && (h[0] & (0x80 >> (idLength - 1))) == 0) ++idLength;
  if (idLength > 4) return false;
  if (got < static_cast<std::size_t>(idLength) + 1) return cut = true, false;
  e.id = 0;
  for (int i = 0; i < idLength; ++i) e.id = e.id << 8 | h[i];
  const unsigned char first = h[idLength];
  int sizeLength = 1;
  while (sizeLength <= 8 && (first & (0x80 >> (sizeLength - 1))) == 0) ++sizeLength;
  if (sizeLength > 8) return false;
  if (got < static_cast<std::size_t>(idLength + sizeLength)) return cut = true, false;
  std::uint64_t size = first & (0xFFu >> sizeLength);
  bool allOnes = size == (0xFFu >> sizeLength);
  for (int i = 1; i < sizeLength; ++i) {
    size = size << 8 | h[idLength + i];
    allOnes = allOnes && h[idLength + i] == 0xFF;
  }
  e.size = allOnes ? kUnknown : size;
  e.data = at + static_cast<std::uint64_t>(idLength + sizeLength);
  return true;
}

bool TopLevelOfSegment(std::uint32_t id) {
  switch (id) {
    case 0x114D9B74:  // SeekHead
    case 0x1549A966:  // Info
    case 0x1654AE6B:  // Tracks
    case kClusterId:
    case 0x1C53BB6B:  // Cues
    case 0x1941A469:  // Attachments
    case 0x1043A770:  // Chapters
    case 0x1254C367:  // Tags
    case 0xEC:        // Void
    case 0xBF:        // CRC-32
      return true;
    default:
      return false;
  }
}

// Zeros where a Segment of unknown size might have gone on.
bool SlackOrAnotherFile(Fragment& f, std::uint64_t at) {
  const std::uint64_t left = f.Size() - at;
  return ZeroBytes(f, at, static_cast<std::size_t>(left < 8 ? left : 8));
}

}  // namespace

CheckResult CheckMatroska(Fragment& f, const CheckOptions&) {
  Element header;
  bool cut = false;
  if (!ReadElement(f, 0, header, cut) || header.id != kEbmlId || header.size == kUnknown) {
    return Damaged("no EBML header");
  }
  const std::uint64_t segmentAt = header.data + header.size;
  Element segment;
  if (!ReadElement(f, segmentAt, segment, cut)) {
    return cut ? Truncated(kUnknown, "ends before the Segment") : Damaged("no Segment after the EBML header");
  }
  if (segment.id != kSegmentId) return Damaged("no Segment after the EBML header");
  const bool sized = segment.size != kUnknown;
  const std::uint64_t declared = sized && segment.size <= UINT64_MAX - segment.data ? segment.data + segment.size : kUnknown;
  if (sized && declared == kUnknown) return Damaged("impossible Segment size");
  // The top-level elements must fill the Segment exactly.
  std::uint64_t at = segment.data;
  std::uint64_t elements = 0;
  bool clusters = false;
  while (declared == kUnknown || at < declared) {
    Element e;
    if (!ReadElement(f, at, e, cut)) {
      if (cut) {
        if (declared == kUnknown && elements > 0) break;
        return Truncated(declared, "ends inside the Segment, at element " + std::to_string(elements + 1));
      }
      if (!sized && elements > 0) {
        if (SlackOrAnotherFile(f, at)) break;
        return Unchecked("unknown data after element " + std::to_string(elements));
      }
      return Damaged("no element at " + std::to_string(at));
    }
    if (!TopLevelOfSegment(e.id)) {
      if (!sized && elements > 0) {
        if (e.id == kEbmlId || SlackOrAnotherFile(f, at)) break;
        return Unchecked("an element of unknown kind after element " + std::to_string(elements));
      }
      return Damaged("an element that does not belong in a Segment at " + std::to_string(at));
    }
    if (e.size == kUnknown) {
      if (sized) return Damaged("an element of unknown size at " + std::to_string(at));
      return Unchecked("a Cluster of unknown size: the end cannot be told");
    }
    if (e.id == kClusterId) clusters = true;
    ++elements;
    if (e.size > UINT64_MAX - e.data) return Damaged("impossible element size at " + std::to_string(at));
    at = e.data + e.size;
    if (!sized && at > f.Size()) return Truncated(kUnknown, "ends inside element " + std::to_string(elements));
  }
  if (sized && at != declared) return Damaged("the Segment's elements run past its size");
  if (at > f.Size()) return Truncated(declared, "expected " + std::to_string(declared) + " bytes");
  if (!clusters) return Damaged("a Segment without Clusters");
  // A disk check's head is whole sectors: a Segment of unknown size whose
  // last element ends with a fragment of whole sectors may go on.
  if (!sized && at == f.Size() && EndsOnSector(f)) return Unchecked("the elements end where the fragment ends");
  // A second Segment may follow in the same file.
  Element next;
  if (ReadElement(f, at, next, cut) && next.id == kSegmentId) return Unchecked("a second Segment follows");
  return Intact(at, std::to_string(elements) + (sized ? " elements fill the Segment's size" : " elements, then slack"));
}

extern const FormatRow kMatroskaRow{.extensions = {"mkv", "webm"}, .checker = CheckMatroska};

}  // namespace tessaro::formats
