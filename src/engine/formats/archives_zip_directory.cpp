// The central directory found from the back of a fragment, and the records
// both walks of the ZIP checker read.

#include "engine/formats/archives_zip.h"

#include <algorithm>
#include <cstring>

namespace tessaro::formats {

bool ReadZip64(Fragment& f, std::uint64_t at, std::uint16_t length, std::uint64_t* fields[], int count, bool& found) {
  found = false;
  const std::uint64_t end = at + length;
  while (at + 4 <= end) {
    unsigned char h[4];
    if (!f.Read(at, h, 4)) return false;
    const std::uint16_t size = Le16(h + 2);
    if (Le16(h) == 1) {
      std::uint64_t p = at + 4;
      for (int i = 0; i < count; ++i) {
        if (*fields[i] != 0xFFFFFFFFu) continue;
        unsigned char v[8];
        if (p + 8 > at + 4 + size || !f.Read(p, v, 8)) break;
        *fields[i] = Le64(v);
        p += 8;
      }
      found = true;
      return true;
    }
    at += 4 + size;
  }
  return f.Holds(at, 0);
}

bool SameBytes(Fragment& f, std::uint64_t a, std::uint64_t b, std::uint16_t length) {
  unsigned char x[256], y[256];
  for (std::uint16_t done = 0; done < length;) {
    const std::size_t n = std::min<std::size_t>(sizeof x, length - done);
    if (!f.Read(a + done, x, n) || !f.Read(b + done, y, n) || std::memcmp(x, y, n) != 0) return false;
    done = static_cast<std::uint16_t>(done + n);
  }
  return true;
}

ZipRead ReadFixed(Fragment& f, std::uint64_t at, std::uint32_t signature, unsigned char* b, std::size_t n,
                  std::size_t fields, ZipFields& into) {
  if (!f.Read(at, b, n)) return ZipRead::kCut;
  if (Le32(b) != signature) return ZipRead::kBad;
  const unsigned char* p = b + fields;  // the version needed to extract
  into.flags = Le16(p + 2);
  into.method = Le16(p + 4);
  into.crc = Le32(p + 10);
  into.compressed = Le32(p + 14);
  into.size = Le32(p + 18);
  into.nameLength = Le16(p + 22);
  into.extra = Le16(p + 24);
  return ZipRead::kOk;
}

ZipRead ReadCentral(Fragment& f, std::uint64_t at, CentralEntry& entry) {
  unsigned char b[46];
  const ZipRead read = ReadFixed(f, at, kZipCentral, b, 46, 6, entry);
  if (read != ZipRead::kOk) return read;
  entry.offset = Le32(b + 42);
  std::uint64_t* fields[] = {&entry.size, &entry.compressed, &entry.offset};
  bool zip64 = false;
  if (!ReadZip64(f, at + 46 + entry.nameLength, entry.extra, fields, 3, zip64)) return ZipRead::kCut;
  entry.name = at + 46;
  entry.next = at + 46 + entry.nameLength + entry.extra + Le16(b + 32);
  return ZipRead::kOk;
}

bool ZipDirectory::Found() {
  if (state_ != State::kUnsearched) return state_ == State::kFound;
  state_ = State::kNone;
  if (f_.Size() < 22) return false;
  // Windows of the fragment from its end backwards, each read with the three
  // bytes after it so that a signature across two windows is seen whole.
  constexpr std::size_t kWindow = 16384;
  unsigned char buffer[kWindow + 3];
  int fitting = 0;
  for (std::uint64_t high = f_.Size() - 21; high > 0;) {  // one past the last start to look at
    const std::uint64_t low = high > kWindow ? high - kWindow : 0;
    const std::size_t n = static_cast<std::size_t>(high - low);
    if (!f_.Read(low, buffer, n + 3)) return false;
    for (std::size_t i = n; i-- > 0;) {
      if (buffer[i] != 'P' || Le32(buffer + i) != kZipEnd) continue;
      if (Fits(low + i, fitting)) {
        state_ = State::kFound;
        cursor_ = start_;
        return true;
      }
      if (fitting >= 4) return false;
    }
    high = low;
  }
  return false;
}

// Whether the end record at `at` names a directory that lies whole before it,
// ends where the end records begin and holds the entries it says. `fitting`
// counts the candidates whose numbers fit, each of which costs a walk.
bool ZipDirectory::Fits(std::uint64_t at, int& fitting) {
  unsigned char e[22];
  if (!f_.Read(at, e, 22) || Le16(e + 4) != 0 || Le16(e + 6) != 0) return false;
  std::uint64_t entries = Le16(e + 10), bytes = Le32(e + 12), start = Le32(e + 16), end = at;
  // When a ZIP64 locator stands right before, the ZIP64 end record it points
  // at tells the numbers (the narrow fields may be all ones), and the
  // directory ends where that record begins; the record ends at the locator.
  unsigned char l[20], z[56];
  if (at >= 20 && f_.Read(at - 20, l, 20) && Le32(l) == kZip64Locator) {
    const std::uint64_t record = Le64(l + 8), locator = at - 20;
    if (locator < 56 || record > locator - 56 || !f_.Read(record, z, 56) || Le32(z) != kZip64End ||
        Le64(z + 4) != locator - record - 12) {
      return false;
    }
    entries = Le64(z + 32);
    bytes = Le64(z + 40);
    start = Le64(z + 48);
    end = record;
  } else if (entries == 0xFFFF || bytes == 0xFFFFFFFF) {
    return false;
  } else if (start == 0xFFFFFFFF && bytes <= end) {
    // Info-ZIP writing ZIP64 to a pipe sets the offset so and leaves the
    // ZIP64 records out; the directory is then the `bytes` before us.
    start = end - bytes;
  }
  if (start > end || bytes != end - start) return false;
  ++fitting;
  std::uint64_t walked = 0;
  for (std::uint64_t p = start; p < end; ++walked) {
    CentralEntry entry;
    if (walked == entries || ReadCentral(f_, p, entry) != ZipRead::kOk) return false;
    p = entry.next;
    if (p > end) return false;
  }
  if (walked != entries) return false;
  start_ = start;
  end_ = end;
  return true;
}

bool ZipDirectory::Entry(std::uint64_t k, CentralEntry& entry) {
  if (!Found()) return false;
  if (k < index_) {
    cursor_ = start_;
    index_ = 0;
  }
  for (; index_ <= k; ++index_) {
    if (cursor_ >= end_ || ReadCentral(f_, cursor_, entry) != ZipRead::kOk) return false;
    cursor_ = entry.next;
  }
  return true;
}

}  // namespace tessaro::formats
