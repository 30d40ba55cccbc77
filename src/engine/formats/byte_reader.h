#pragma once
// Reads a fragment forward from a position through one bounded buffer, for
// the formats whose structure is many small fields or whose end is found
// only by walking their data (a JPEG scan, GIF sub-blocks, a marshal stream,
// a class file's constant pool). Every read is a positioned read of the
// fragment; nothing is read past its end, and the buffer does not grow.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

class ByteReader {
 public:
  ByteReader(Fragment& fragment, std::uint64_t at) : fragment_(fragment), base_(at) {}
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  // The next byte, or -1 where the fragment ends.
  int Next() {
    if (pos_ == len_ && !Refill()) return -1;
    return buffer_[pos_++];
  }
  // The next byte into `out`; false where the fragment ends.
  bool Byte(std::uint8_t* out) {
    const int c = Next();
    if (c < 0) return false;
    *out = static_cast<std::uint8_t>(c);
    return true;
  }
  // The next `n` bytes into `out`; false where the fragment ends first.
  bool Bytes(unsigned char* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      const int c = Next();
      if (c < 0) return false;
      out[i] = static_cast<unsigned char>(c);
    }
    return true;
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
      if (pos_ == len_ && !Refill()) return false;
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
    if (!Room(n)) return false;
    Seek(Position() + n);
    return true;
  }
  // Whether `n` more bytes lie inside the fragment.
  bool Room(std::uint64_t n) const { return fragment_.Holds(Position(), n); }

 private:
  bool Refill() {
    base_ += len_;
    pos_ = 0;
    len_ = fragment_.ReadSome(base_, buffer_, sizeof buffer_);
    return len_ > 0;
  }

  Fragment& fragment_;
  std::uint64_t base_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  unsigned char buffer_[16384];
};

}  // namespace tessaro::formats
