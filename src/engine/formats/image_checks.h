#pragma once
// The picture family's checkers, split over several sources; images.cpp holds
// the table that names them.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "engine/formats/format_check.h"

namespace tessaro::formats::images {

// One step of a walk through a structure (an IFD, its strips): nothing when
// the walk goes on, else the verdict that ends it.
using Step = std::optional<CheckResult>;
inline constexpr std::nullopt_t kKeepGoing = std::nullopt;

// Reads a fragment byte by byte from a position through a bounded buffer, for
// the formats whose end is found only by walking their data (a JPEG scan, GIF
// sub-blocks, run-length pixels).
class ByteCursor {
 public:
  ByteCursor(Fragment& fragment, std::uint64_t at) : fragment_(fragment), base_(at) {}
  // The next byte, or -1 where the fragment ends.
  int Next() {
    if (pos_ == len_) {
      base_ += len_;
      pos_ = 0;
      len_ = fragment_.ReadSome(base_, buffer_, sizeof buffer_);
      if (len_ == 0) return -1;
    }
    return buffer_[pos_++];
  }
  // The offset of the byte Next would give.
  std::uint64_t Position() const { return base_ + pos_; }
  // Goes to `at`, keeping the buffer when it holds that position.
  void Seek(std::uint64_t at) {
    if (at >= base_ && at <= base_ + len_) {
      pos_ = static_cast<std::size_t>(at - base_);
    } else {
      base_ = at;
      pos_ = len_ = 0;
    }
  }
  // Moves to the next byte that is `value`, which Next then gives; false
  // where the fragment ends first. A whole buffer is searched at a time.
  bool Find(unsigned char value) {
    for (;;) {
      if (pos_ == len_) {
        base_ += len_;
        pos_ = 0;
        len_ = fragment_.ReadSome(base_, buffer_, sizeof buffer_);
        if (len_ == 0) return false;
      }
      const void* hit = std::memchr(buffer_ + pos_, value, len_ - pos_);
      if (hit != nullptr) {
        pos_ = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - buffer_);
        return true;
      }
      pos_ = len_;
    }
  }
  // Moves forward by `n` bytes; false where that passes the fragment's end.
  bool Skip(std::uint64_t n) {
    const std::uint64_t target = Position() + n;
    if (target < Position() || target > fragment_.Size()) return false;
    Seek(target);
    return true;
  }

 private:
  Fragment& fragment_;
  std::uint64_t base_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  unsigned char buffer_[16384];
};

// The bytes of one value of a TIFF field type (BYTE, ASCII, SHORT, LONG,
// RATIONAL, their signed kinds, FLOAT, DOUBLE, IFD); 0 for a type TIFF does
// not define. The TIFF checker and the raws built on TIFF read IFDs alike.
inline unsigned TiffTypeSize(unsigned type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

CheckResult CheckJpeg(Fragment& f, const CheckOptions& options);
CheckResult CheckTiff(Fragment& f, const CheckOptions& options);
CheckResult CheckEmf(Fragment& f, const CheckOptions& options);
CheckResult CheckWmf(Fragment& f, const CheckOptions& options);
CheckResult CheckHdr(Fragment& f, const CheckOptions& options);
CheckResult CheckExr(Fragment& f, const CheckOptions& options);
CheckResult CheckPcx(Fragment& f, const CheckOptions& options);
CheckResult CheckDds(Fragment& f, const CheckOptions& options);
CheckResult CheckJ2k(Fragment& f, const CheckOptions& options);
CheckResult CheckJp2(Fragment& f, const CheckOptions& options);
// Camera raws: those built on TIFF (image_raw.cpp) and those of their makers'
// own layouts (image_raw_blocks.cpp).
CheckResult CheckCr2(Fragment& f, const CheckOptions& options);
CheckResult CheckNef(Fragment& f, const CheckOptions& options);
CheckResult CheckArw(Fragment& f, const CheckOptions& options);
CheckResult CheckOrf(Fragment& f, const CheckOptions& options);
CheckResult CheckRw2(Fragment& f, const CheckOptions& options);
CheckResult CheckRaf(Fragment& f, const CheckOptions& options);
CheckResult CheckCrw(Fragment& f, const CheckOptions& options);
CheckResult CheckMrw(Fragment& f, const CheckOptions& options);

}  // namespace tessaro::formats::images
