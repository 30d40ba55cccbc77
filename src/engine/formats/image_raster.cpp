// Pictures whose end follows from their dimensions: PCX (run-length rows and
// a palette), DDS (a texture's levels), Radiance HDR (run-length scanlines),
// OpenEXR (an offset table to its chunks).

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/image_checks.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats::images {

// PCX: a 128-byte header, run-length bytes (C0|n then a value, or a byte
// below C0) for planes x bytes-per-line x rows, and for 256 colours a palette
// after 0C.
CheckResult CheckPcx(Fragment& f, const CheckOptions&) {
  unsigned char h[128];
  if (!f.Read(0, h, 128)) return Truncated(kUnknown, "ends inside the header");
  const unsigned bits = h[3];
  const unsigned planes = h[65];
  const std::uint64_t perLine = Le16(h + 66);
  if (h[0] != 0x0A || h[1] > 5 || h[2] != 1 || !(bits == 1 || bits == 2 || bits == 4 || bits == 8) || planes == 0 ||
      planes > 4 || perLine == 0 || Le16(h + 10) < Le16(h + 6) || Le16(h + 8) < Le16(h + 4)) {
    return Damaged("not a PCX header");
  }
  const std::uint64_t rows = std::uint64_t{Le16(h + 10)} - Le16(h + 6) + 1;
  const std::uint64_t total = planes * perLine * rows;
  ByteReader cursor(f, 128);
  for (std::uint64_t done = 0; done < total;) {
    const int c = cursor.Next();
    if (c < 0) return Truncated(kUnknown, "ends inside the pixels");
    std::uint64_t count = 1;
    if ((c & 0xC0) == 0xC0) {
      count = c & 0x3F;
      if (cursor.Next() < 0) return Truncated(kUnknown, "ends inside the pixels");
    }
    if (done + count > total) return Unchecked("a run passes the last row");
    done += count;
  }
  std::uint64_t end = cursor.Position();
  if (h[1] == 5 && bits == 8 && planes == 1) {
    unsigned char mark;
    if (!f.Read(end, &mark, 1)) return Truncated(end + 769, "ends before the palette");
    if (mark == 0x0C) {
      if (!f.Holds(end, 769)) return Truncated(end + 769, "ends inside the palette");
      end += 769;
    }
  }
  return Intact(end, std::to_string(rows) + " rows of " + std::to_string(planes) + " planes, ends at " + std::to_string(end));
}

// DDS: "DDS ", a 124-byte header, then each face's levels, from the full size
// down, each half the one before.
CheckResult CheckDds(Fragment& f, const CheckOptions&) {
  unsigned char h[128];
  if (!f.Read(0, h, 128)) return Truncated(kUnknown, "ends inside the header");
  if (std::memcmp(h, "DDS ", 4) != 0 || Le32(h + 4) != 124 || Le32(h + 76) != 32) return Damaged("no DDS header");
  const std::uint32_t flags = Le32(h + 8);
  std::uint64_t height = Le32(h + 12);
  std::uint64_t width = Le32(h + 16);
  const std::uint32_t mips = (flags & 0x20000) != 0 && Le32(h + 28) != 0 ? Le32(h + 28) : 1;
  const std::uint32_t formatFlags = Le32(h + 80);
  const std::uint32_t caps2 = Le32(h + 112);
  if (width == 0 || height == 0 || width > (1u << 16) || height > (1u << 16) || mips > 17) return Damaged("impossible dimensions");
  if ((caps2 & 0x200000) != 0) return Unchecked("a volume texture");
  std::uint64_t block = 0;  // bytes per 4x4 block, or 0 for pixels
  std::uint64_t pixelBits = 0;
  if ((formatFlags & 0x4) != 0) {
    const std::string code(reinterpret_cast<const char*>(h + 84), 4);
    if (code == "DXT1" || code == "ATI1" || code == "BC4U" || code == "BC4S") {
      block = 8;
    } else if (code == "DXT2" || code == "DXT3" || code == "DXT4" || code == "DXT5" || code == "ATI2" || code == "BC5U" ||
               code == "BC5S") {
      block = 16;
    } else {
      return Unchecked("texture format " + code);
    }
  } else if ((formatFlags & (0x40 | 0x20000 | 0x2 | 0x200)) != 0) {
    pixelBits = Le32(h + 88);
    if (pixelBits == 0 || pixelBits % 8 != 0 || pixelBits > 128) return Damaged("impossible bits per pixel");
  } else {
    return Unchecked("an unknown pixel format");
  }
  std::uint64_t faces = 1;
  if ((caps2 & 0x200) != 0) {
    faces = 0;
    for (std::uint32_t face = 0x400; face <= 0x8000; face <<= 1) faces += (caps2 & face) != 0 ? 1 : 0;
    if (faces == 0) return Damaged("a cube map without faces");
  }
  std::uint64_t perFace = 0;
  for (std::uint32_t level = 0; level < mips; ++level) {
    perFace += block != 0 ? std::max<std::uint64_t>(1, (width + 3) / 4) * std::max<std::uint64_t>(1, (height + 3) / 4) * block
                          : (width * pixelBits + 7) / 8 * height;
    width = std::max<std::uint64_t>(1, width / 2);
    height = std::max<std::uint64_t>(1, height / 2);
  }
  const std::uint64_t end = 128 + faces * perFace;
  if (!f.Holds(0, end)) return Truncated(end, "expected " + std::to_string(end) + " bytes");
  return Intact(end, std::to_string(faces) + (faces == 1 ? " face" : " faces") + " of " + std::to_string(mips) +
                         (mips == 1 ? " level" : " levels"));
}

namespace {

// One Radiance scanline of `width` pixels from the cursor: the run-length
// form (02 02 and the width, then each of the four components in runs) or
// pixels of four bytes, where 01 01 01 n repeats the one before. False when the
// fragment ends first; `bad` when the runs do not fit the width.
bool HdrScanline(ByteReader& cursor, std::uint64_t width, bool& bad) {
  const std::uint64_t start = cursor.Position();
  int p[4];
  for (int& b : p) {
    b = cursor.Next();
    if (b < 0) return false;
  }
  if (width >= 8 && width < 0x8000 && p[0] == 2 && p[1] == 2 && static_cast<std::uint64_t>(p[2] << 8 | p[3]) == width) {
    for (int component = 0; component < 4; ++component) {
      for (std::uint64_t done = 0; done < width;) {
        const int c = cursor.Next();
        if (c < 0) return false;
        const std::uint64_t count = c > 128 ? c - 128u : static_cast<std::uint64_t>(c);
        if (count == 0 || done + count > width) {
          bad = true;
          return true;
        }
        if (!cursor.Skip(c > 128 ? 1 : count)) return false;
        done += count;
      }
    }
    return true;
  }
  cursor.Seek(start);
  unsigned shift = 0;
  for (std::uint64_t done = 0; done < width;) {
    for (int& b : p) {
      b = cursor.Next();
      if (b < 0) return false;
    }
    if (p[0] == 1 && p[1] == 1 && p[2] == 1) {
      if (done == 0 || shift > 16) {
        bad = true;
        return true;
      }
      done += static_cast<std::uint64_t>(p[3]) << shift;
      shift += 8;
    } else {
      ++done;
      shift = 0;
    }
  }
  return true;
}

}  // namespace

// Radiance HDR: "#?" and a program's name, lines of the header up to an empty
// one, the resolution line ("-Y 32 +X 48"), then the scanlines.
CheckResult CheckHdr(Fragment& f, const CheckOptions&) {
  unsigned char magic[2];
  if (!f.Read(0, magic, 2) || magic[0] != '#' || magic[1] != '?') return Damaged("no Radiance signature");
  ByteReader cursor(f, 2);
  for (int previous = 0;;) {
    const int c = cursor.Next();
    if (c < 0) return Truncated(kUnknown, "ends inside the header");
    if (c == '\n' && previous == '\n') break;
    previous = c;
  }
  std::uint64_t size[2] = {};
  for (int i = 0; i < 2; ++i) {
    const int sign = cursor.Next();
    const int axis = cursor.Next();
    if (sign < 0 || axis < 0) return Truncated(kUnknown, "ends inside the resolution");
    if ((sign != '-' && sign != '+') || (axis != 'X' && axis != 'Y') || cursor.Next() != ' ') return Damaged("no resolution line");
    int c = cursor.Next();
    if (c < '0' || c > '9') return Damaged("no resolution line");
    for (; c >= '0' && c <= '9'; c = cursor.Next()) {
      size[i] = size[i] * 10 + static_cast<unsigned>(c - '0');
      if (size[i] > (1u << 20)) return Damaged("impossible resolution");
    }
    if (c != (i == 0 ? ' ' : '\n')) return Damaged("no resolution line");
  }
  if (size[0] == 0 || size[1] == 0) return Damaged("impossible resolution");
  for (std::uint64_t row = 0; row < size[0]; ++row) {
    bool bad = false;
    if (!HdrScanline(cursor, size[1], bad)) return Truncated(kUnknown, "ends inside scanline " + std::to_string(row + 1));
    if (bad) return Damaged("scanline " + std::to_string(row + 1) + " does not fit its width");
  }
  return Intact(cursor.Position(), std::to_string(size[0]) + " scanlines of " + std::to_string(size[1]) + " pixels");
}

// OpenEXR (one part, scanlines): the header's attributes up to an empty name,
// an offset table of one entry per chunk of lines, the chunks (line, size,
// data). The end is the furthest chunk's end.
CheckResult CheckExr(Fragment& f, const CheckOptions&) {
  unsigned char h[8];
  if (!f.Read(0, h, 8) || Le32(h) != 20000630) return Damaged("no OpenEXR signature");
  if ((h[4]) != 2) return Unchecked("OpenEXR version " + std::to_string(h[4]));
  if ((Le32(h + 4) & 0x1A00) != 0) return Unchecked("a tiled, deep or multi-part OpenEXR");
  const std::size_t longest = (Le32(h + 4) & 0x400) != 0 ? 255 : 31;
  std::uint64_t at = 8;
  int compression = -1;
  std::int64_t window[4] = {};
  bool haveWindow = false;
  for (;;) {
    // name\0 type\0 size value; an empty name ends the header.
    char text[2][256];
    for (auto& t : text) {
      std::size_t n = 0;
      for (;; ++n) {
        unsigned char c;
        if (!f.Read(at, &c, 1)) return Truncated(kUnknown, "ends inside the header");
        ++at;
        if (n > longest) return Damaged("an attribute name too long at " + std::to_string(at));
        t[n] = static_cast<char>(c);
        if (c == 0) break;
      }
      if (n == 0 && &t == &text[0]) break;
    }
    if (text[0][0] == 0) break;
    unsigned char sizeBytes[4];
    if (!f.Read(at, sizeBytes, 4)) return Truncated(kUnknown, "ends inside the header");
    const std::uint32_t size = Le32(sizeBytes);
    at += 4;
    unsigned char value[16];
    if (std::strcmp(text[0], "compression") == 0 && size == 1 && f.Read(at, value, 1)) compression = value[0];
    if (std::strcmp(text[0], "dataWindow") == 0 && size == 16 && f.Read(at, value, 16)) {
      for (int i = 0; i < 4; ++i) window[i] = static_cast<std::int32_t>(Le32(value + 4 * i));
      haveWindow = true;
    }
    if (!f.Holds(at, size)) return Truncated(kUnknown, "ends inside the header");
    at += size;
  }
  static const int kLines[10] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
  if (compression < 0 || compression > 9 || !haveWindow || window[3] < window[1] || window[2] < window[0]) {
    return Damaged("no compression or data window");
  }
  const std::uint64_t chunks = (static_cast<std::uint64_t>(window[3] - window[1]) + kLines[compression]) / kLines[compression];
  const std::uint64_t tableEnd = at + 8 * chunks;
  std::uint64_t end = tableEnd;
  ByteReader table(f, at);
  for (std::uint64_t i = 0; i < chunks; ++i) {
    unsigned char entry[8];
    for (unsigned char& b : entry) {
      const int c = table.Next();
      if (c < 0) return Truncated(kUnknown, "ends inside the offset table");
      b = static_cast<unsigned char>(c);
    }
    const std::uint64_t offset = Le64(entry);
    unsigned char chunk[8];
    if (offset < tableEnd) return Damaged("chunk " + std::to_string(i + 1) + " inside the header");
    if (!f.Read(offset, chunk, 8)) return Truncated(kUnknown, "ends before chunk " + std::to_string(i + 1));
    const auto line = static_cast<std::int32_t>(Le32(chunk));
    if (line < window[1] || line > window[3]) return Damaged("chunk " + std::to_string(i + 1) + " names a line outside the picture");
    end = std::max(end, offset + 8 + Le32(chunk + 4));
  }
  if (!f.Holds(0, end)) return Truncated(kUnknown, "ends inside a chunk");
  return Intact(end, std::to_string(chunks) + " chunks, the last ends at " + std::to_string(end));
}

}  // namespace tessaro::formats::images

namespace tessaro::formats {

extern const FormatRow kDdsRow{
    .extensions = {"dds"},
    .checker = images::CheckDds,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kExrRow{
    .extensions = {"exr"},
    .checker = images::CheckExr,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kHdrRow{
    .extensions = {"hdr"},
    .checker = images::CheckHdr,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kPcxRow{
    .extensions = {"pcx"},
    .checker = images::CheckPcx,
    .endPolicy = EndPolicy::kLastSectorZeros
};

}  // namespace tessaro::formats
