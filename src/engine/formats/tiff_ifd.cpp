// The IFD reading the TIFF checker, the raw checkers and the EXIF date share.

#include "engine/formats/tiff_ifd.h"

#include <cstring>

namespace tessaro::formats {

unsigned TiffTypeSize(unsigned type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

bool TiffByteOrder(const unsigned char* p, ByteOrder& order) {
  if (!((p[0] == 'I' && p[1] == 'I') || (p[0] == 'M' && p[1] == 'M'))) return false;
  order.big = p[0] == 'M';
  return true;
}

bool TiffReader::Read(std::uint64_t offset, void* buffer, std::size_t n) {
  return offset <= limit_ && n <= limit_ - offset && offset <= UINT64_MAX - base_ && f_.Read(base_ + offset, buffer, n);
}

bool TiffReader::Entries(std::uint64_t ifd, unsigned& count) {
  unsigned char b[2];
  if (!Read(ifd, b, 2)) return false;
  count = order_.U16(b);
  return true;
}

bool TiffReader::Entry(std::uint64_t ifd, unsigned i, TiffEntry& entry) {
  unsigned char b[12];
  if (!Read(ifd + 2 + 12ull * i, b, 12)) return false;
  entry.tag = order_.U16(b);
  entry.type = order_.U16(b + 2);
  entry.count = order_.U32(b + 4);
  std::memcpy(entry.field, b + 8, 4);
  return true;
}

bool TiffReader::Next(std::uint64_t ifd, unsigned count, std::uint32_t& next) {
  unsigned char b[4];
  if (!Read(ifd + 2 + 12ull * count, b, 4)) return false;
  next = order_.U32(b);
  return true;
}

bool TiffReader::Value(const TiffEntry& entry, std::uint64_t i, std::uint64_t& out) {
  const unsigned size = entry.type == 3 ? 2 : 4;
  unsigned char b[4];
  if (entry.Fits()) {
    if (i >= 4 / size) return false;
    std::memcpy(b, entry.field + i * size, size);
  } else if (i > (UINT64_MAX - Offset(entry)) / size || !Read(Offset(entry) + i * size, b, size)) {
    return false;
  }
  out = size == 2 ? order_.U16(b) : order_.U32(b);
  return true;
}

namespace {

std::uint64_t Room(const TiffReader& tiff, const TiffEntry& entry) {
  if (entry.Fits()) return 4;
  const std::uint64_t offset = tiff.Offset(entry);
  return offset <= tiff.Limit() ? tiff.Limit() - offset : 0;
}

}  // namespace

TiffValues::TiffValues(const TiffReader& tiff, const TiffEntry& entry)
    : entry_(entry),
      order_(tiff.Order()),
      size_(entry.type == 3 ? 2 : 4),
      left_(Room(tiff, entry)),
      reader_(tiff.Source(), tiff.Base() + tiff.Offset(entry)) {}

bool TiffValues::Next(std::uint64_t& out) {
  unsigned char b[4];
  if (left_ < size_) return false;
  if (entry_.Fits()) {
    std::memcpy(b, entry_.field + index_ * size_, size_);
  } else if (!reader_.Bytes(b, size_)) {
    return false;
  }
  left_ -= size_;
  ++index_;
  out = size_ == 2 ? order_.U16(b) : order_.U32(b);
  return true;
}

}  // namespace tessaro::formats
