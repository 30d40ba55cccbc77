#pragma once
// The boxes of ISO base media files (MP4, MOV, 3GP, M4A, HEIF, AVIF, CR3) and
// of JPEG 2000: a 32-bit size that counts the whole box, a four-character
// type, and, when the size is 1, a 64-bit size after them; a size of 0 runs
// to the end of the file. Boxes hold boxes within their own extent.

#include <cstdint>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

struct BoxHeader {
  std::uint32_t small = 0;  // the 32-bit size as stored: 0 and 1 mean what is said above
  std::uint64_t size = 0;   // the box's size: `small`, or the 64-bit size
  unsigned header = 8;      // 8, or 16 with a 64-bit size
  unsigned char type[4] = {};
};

enum class BoxRead : std::uint8_t {
  kRead,
  kCut,       // fewer than 8 bytes at the box
  kCutLarge,  // the size and type are read, the 64-bit size that should follow is cut
};

// The header of the box at `at`.
BoxRead ReadBoxHeader(Fragment& f, std::uint64_t at, BoxHeader& box);

// Whether a type is four printable characters.
bool PrintableBoxType(const unsigned char* type);

struct Box {
  std::uint64_t start = 0;
  std::uint64_t body = 0;  // where the contents begin
  std::uint64_t end = 0;
  char type[5] = {};
};

// The boxes in [from, limit) (a file's top level, or a box's contents), in
// turn. A top-level walk may take a limit past the fragment: a film's mdat
// declares far more than a fragment holding only its start.
class BoxWalk {
 public:
  BoxWalk(Fragment& f, std::uint64_t from, std::uint64_t limit) : f_(f), at_(from), limit_(limit) {}
  // The next box, which lies within the limit (one of size 0 reaches it);
  // false at anything that is no box header: a type that is not four
  // printable characters (iTunes's tag names begin with "©", 0xA9, too), a
  // size too small or past the limit, and past kMostBoxes boxes.
  bool Next(Box& box);
  // The first box of `type` still to come.
  bool Find(const char* type, Box& found);

  static constexpr int kMostBoxes = 4096;

 private:
  Fragment& f_;
  std::uint64_t at_;
  std::uint64_t limit_;
  int walked_ = 0;
};

}  // namespace tessaro::formats
