// Each ZIP record read in one place, for the checker and the name readers.

#include "engine/formats/zip_records.h"

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

ZipRead ReadLocal(Fragment& f, std::uint64_t at, LocalHeader& h) {
  unsigned char b[30];
  const ZipRead read = ReadFixed(f, at, kZipLocal, b, 30, 4, h);
  if (read != ZipRead::kOk) return read;
  std::uint64_t* fields[] = {&h.size, &h.compressed};
  if (!ReadZip64(f, at + 30 + h.nameLength, h.extra, fields, 2, h.zip64)) return ZipRead::kCut;
  h.data = at + 30 + h.nameLength + h.extra;
  return ZipRead::kOk;
}

ZipRead ReadLocalFixed(Fragment& f, std::uint64_t at, ZipFields& fields) {
  unsigned char b[30];
  return ReadFixed(f, at, kZipLocal, b, 30, 4, fields);
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

}  // namespace tessaro::formats
