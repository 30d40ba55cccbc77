#pragma once
// The marker segments of a JPEG, one after another from the start of image
// to a start of scan: each a marker (FF, maybe fill bytes FF, then its code)
// and, for all but the standalone markers, a 16-bit length that counts
// itself and the segment's data. The JPEG checker and the EXIF date walk them
// alike; what a code means, and which ones are impossible, each decides.

#include <cstdint>

#include "engine/formats/byte_reader.h"
#include "engine/formats/format_check.h"

namespace tessaro::formats {

class JpegSegments {
 public:
  // Reads from `at`, where a marker is due.
  JpegSegments(Fragment& f, std::uint64_t at) : reader_(f, at) {}

  enum class Marker : std::uint8_t {
    kFound,     // Code() and CodeAt() tell it
    kEnded,     // the fragment ends where the marker is due
    kNoMarker,  // no FF where the marker is due
    kCut,       // the fragment ends among its fill bytes
  };
  // Reads the marker at the current position, up to its code.
  Marker Next() {
    int b = reader_.Next();
    if (b < 0) return Marker::kEnded;
    if (b != 0xFF) return Marker::kNoMarker;
    fills_ = 0;
    int code = reader_.Next();
    for (; code == 0xFF; code = reader_.Next()) ++fills_;
    if (code < 0) return Marker::kCut;
    code_ = static_cast<unsigned>(code);
    codeAt_ = reader_.Position() - 1;
    return Marker::kFound;
  }
  unsigned Code() const { return code_; }
  // Where the code lies; the FF before it is one byte earlier.
  std::uint64_t CodeAt() const { return codeAt_; }
  // How many fill bytes came between the marker's first FF and the last.
  std::uint64_t Fills() const { return fills_; }
  // Whether the code stands alone, with no length after it (TEM, RST0-7).
  bool Standalone() const { return code_ == 0x01 || (code_ >= 0xD0 && code_ <= 0xD7); }
  // The length after the code; false where the fragment ends first.
  bool Length(std::uint16_t& length) {
    reader_.Seek(codeAt_ + 1);
    unsigned char b[2];
    if (!reader_.Bytes(b, 2)) return false;
    length = Be16(b);
    return true;
  }
  // Where the next marker is due: past a segment, or where a scan ends.
  void Seek(std::uint64_t at) { reader_.Seek(at); }
  std::uint64_t Position() const { return reader_.Position(); }
  // The reader under the walk, for the entropy-coded data after a scan's header.
  ByteReader& Reader() { return reader_; }

 private:
  ByteReader reader_;
  unsigned code_ = 0;
  std::uint64_t codeAt_ = 0;
  std::uint64_t fills_ = 0;
};

}  // namespace tessaro::formats
