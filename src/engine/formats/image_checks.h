#pragma once
// The picture family's checkers, split over several sources; images.cpp holds
// the table that names them.

#include <cstddef>
#include <cstdint>

#include "engine/formats/format_check.h"

namespace tessaro::formats::images {

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

}  // namespace tessaro::formats::images
