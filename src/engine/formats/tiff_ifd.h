#pragma once
// The TIFF structure that TIFF itself, the camera raws built on it, JPEG's
// EXIF segment and HEIF's Exif item carry: an 8-byte header ("II" or "MM",
// a magic number, the first IFD's offset), then IFDs, each a count of 12-byte
// entries (tag, type, count, then the values when they fit in 4 bytes, else
// their offset) and the offset of the next IFD. Offsets count from the
// header. Every read is a positioned read of the fragment, bounded by it and
// by the structure's own length.

#include <cstddef>
#include <cstdint>

#include "engine/formats/byte_reader.h"
#include "engine/formats/format_check.h"

namespace tessaro::formats {

// The bytes of one value of a TIFF field type (BYTE, ASCII, SHORT, LONG,
// RATIONAL, their signed kinds, FLOAT, DOUBLE, IFD); 0 for a type TIFF does
// not define.
unsigned TiffTypeSize(unsigned type);

// The byte order that "II" or "MM" at `p` names; false for anything else.
bool TiffByteOrder(const unsigned char* p, ByteOrder& order);

struct TiffEntry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  unsigned char field[4] = {};  // the values when they fit, else their offset

  // What the values take; 0 for a type TIFF does not define.
  std::uint64_t Bytes() const { return std::uint64_t{count} * TiffTypeSize(type); }
  bool Fits() const { return Bytes() <= 4; }
};

// One TIFF structure: its header lies at `base` of the fragment, and nothing
// is read further than `limit` bytes from there.
class TiffReader {
 public:
  TiffReader(Fragment& f, ByteOrder order, std::uint64_t base = 0, std::uint64_t limit = kUnknown)
      : f_(f), order_(order), base_(base), limit_(limit) {}

  Fragment& Source() const { return f_; }
  ByteOrder Order() const { return order_; }
  std::uint64_t Base() const { return base_; }
  std::uint64_t Limit() const { return limit_; }
  std::uint16_t U16(const unsigned char* p) const { return order_.U16(p); }
  std::uint32_t U32(const unsigned char* p) const { return order_.U32(p); }

  // Exactly `n` bytes at `offset`; false when they do not all lie inside the
  // structure and the fragment.
  bool Read(std::uint64_t offset, void* buffer, std::size_t n);
  // The number of entries of the IFD at `ifd`.
  bool Entries(std::uint64_t ifd, unsigned& count);
  // Entry `i` of the IFD at `ifd`.
  bool Entry(std::uint64_t ifd, unsigned i, TiffEntry& entry);
  // The offset of the IFD that follows the one at `ifd` with `count` entries.
  bool Next(std::uint64_t ifd, unsigned count, std::uint32_t& next);
  // Where the values of an entry lie when they do not fit in it.
  std::uint32_t Offset(const TiffEntry& entry) const { return order_.U32(entry.field); }
  // Value `i` of an entry, read as SHORT when its type is SHORT, else as LONG.
  bool Value(const TiffEntry& entry, std::uint64_t i, std::uint64_t& out);

  // Where the IFD at `ifd` with `count` entries ends: after its next offset.
  static std::uint64_t IfdEnd(std::uint64_t ifd, unsigned count) { return ifd + 2 + 12ull * count + 4; }

 private:
  Fragment& f_;
  ByteOrder order_;
  std::uint64_t base_;
  std::uint64_t limit_;
};

// The values of one entry in turn (SHORT when its type is SHORT, else LONG),
// through a buffer: strip and tile tables hold thousands of them.
class TiffValues {
 public:
  TiffValues(const TiffReader& tiff, const TiffEntry& entry);
  // The next value; false where the structure or the fragment ends first.
  bool Next(std::uint64_t& out);

 private:
  TiffEntry entry_;
  ByteOrder order_;
  unsigned size_;
  std::uint64_t index_ = 0;
  std::uint64_t left_;  // bytes the structure's limit allows from the values on
  ByteReader reader_;
};

inline constexpr std::size_t kMostIfds = 256;

// The IFDs still to walk, each walked once however the IFDs point to one
// another, and at most kMostIfds of them: loops and hostile chains end.
template <typename T>
class IfdQueue {
 public:
  // Queues `item`, the IFD at `at`, unless one at `at` was queued before;
  // false when kMostIfds were queued already.
  bool Queue(std::uint64_t at, const T& item) {
    for (std::size_t i = 0; i < seenCount_; ++i) {
      if (seen_[i] == at) return true;
    }
    if (seenCount_ == kMostIfds) return false;
    seen_[seenCount_++] = at;
    pending_[pendingCount_++] = item;
    return true;
  }
  // The IFD queued last and not yet taken; false when none is left.
  bool Take(T& item) {
    if (pendingCount_ == 0) return false;
    item = pending_[--pendingCount_];
    return true;
  }

 private:
  std::uint64_t seen_[kMostIfds];
  std::size_t seenCount_ = 0;
  T pending_[kMostIfds];
  std::size_t pendingCount_ = 0;
};

}  // namespace tessaro::formats
