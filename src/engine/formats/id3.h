#pragma once
// ID3v2 tags (2.2, 2.3, 2.4): a 10-byte header with a syncsafe size, an
// optional extended header, then frames, the whole tag or (2.4) each frame
// possibly unsynchronised. The sound checkers skip the tags before the audio
// with it, and a 2.4 tag appended after the audio; the name reader takes the
// artist and title frames from it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

// A 28-bit number kept in four bytes of seven bits each.
inline std::uint32_t Syncsafe(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0] & 0x7F) << 21 | (p[1] & 0x7F) << 14 | (p[2] & 0x7F) << 7 | (p[3] & 0x7F);
}

// Undoes unsynchronisation: every 0xFF 0x00 back to 0xFF.
std::string Resync(std::string_view bytes);

struct Id3v2Header {
  unsigned version = 0;   // 2, 3 or 4 in a sound tag
  unsigned revision = 0;
  unsigned flags = 0;     // 0x80 unsynchronised, 0x40 extended header, 0x10 footer
  bool syncsafe = false;  // whether the size's bytes all have their high bit clear
  std::uint32_t size = 0; // what follows the header, footer excluded

  // Where the tag that begins at `at` ends, its footer included.
  std::uint64_t End(std::uint64_t at) const { return at + 10 + size + ((flags & 0x10) != 0 ? 10 : 0); }
};

// The header of the ID3v2 tag at `at`; false when the fragment does not hold
// ten bytes there or they do not begin with "ID3".
bool ReadId3v2Header(Fragment& f, std::uint64_t at, Id3v2Header& header);

// Where a tag appended after the audio that begins at `at` ends, or kUnknown.
// Only 2.4 may be appended, and then it carries its footer ("3DI", the
// header's other nine bytes repeated), which must be there and agree.
std::uint64_t AppendedId3v2End(Fragment& f, std::uint64_t at);

// A frame of a tag: its identifier, its format flags (0 in 2.2) and where its
// body lies within the tag's body.
struct Id3v2Frame {
  std::string_view id;
  unsigned format = 0;
  std::uint64_t body = 0;
  std::uint64_t length = 0;
};

// The frames of the ID3v2 tag at the start of a fragment, read where they
// lie: a tag may hold a large picture before its text frames. A tag
// unsynchronised as a whole (2.2, 2.3) is first taken into memory, up to
// `maxBytes`, and read from there. Walks at most 4096 frames.
class Id3v2Frames {
 public:
  Id3v2Frames(Fragment& f, std::size_t maxBytes) : f_(f), maxBytes_(maxBytes) {}

  // Whether a tag of version 2 to 4 begins the fragment and lies whole in it
  // (a tag cut short could give one frame without another).
  bool Open();
  // The next frame; false at the padding, the tag's end, or a frame longer
  // than what is left of the tag.
  bool Next(Id3v2Frame& frame);
  // Whether a frame's body is compressed or encrypted, so that no text can
  // be read from it.
  bool Opaque(const Id3v2Frame& frame) const;
  // Up to `n` bytes of a frame's body, its own unsynchronisation (2.4) and
  // data length field undone; false when the tag does not hold them.
  bool Body(const Id3v2Frame& frame, std::size_t n, std::string& out);

 private:
  // `n` bytes at `at` from the tag's body (after its 10-byte header).
  bool Read(std::uint64_t at, std::size_t n, std::string& out);

  Fragment& f_;
  std::size_t maxBytes_;
  Id3v2Header header_;
  bool whole_ = false;     // unsynchronised as a whole, and so read into tag_
  std::string tag_;
  std::uint64_t size_ = 0;  // of the tag's body
  std::uint64_t at_ = 0;    // the next frame
  int frames_ = 0;
  char id_[4] = {};
};

}  // namespace tessaro::formats
