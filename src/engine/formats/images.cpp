// Pictures: where each format's structure says the file ends.

#include <algorithm>
#include <cstring>

#include "engine/formats/image_checks.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

std::string At(std::uint64_t offset) { return std::to_string(offset); }

// GIF: header, logical screen (with its colour table), then blocks: images
// (descriptor, colour table, LZW data in sub-blocks) and extensions (sub-blocks),
// up to the trailer 3B.
CheckResult CheckGif(Fragment& f, const CheckOptions&) {
  unsigned char head[13];
  if (!f.Read(0, head, 13) || (std::memcmp(head, "GIF87a", 6) != 0 && std::memcmp(head, "GIF89a", 6) != 0)) {
    return Damaged("no GIF signature");
  }
  ByteReader cursor(f, 13);
  if ((head[10] & 0x80) != 0 && !cursor.Skip(3u << ((head[10] & 7) + 1))) {
    return Truncated(kUnknown, "ends inside the global colour table");
  }
  std::uint64_t images = 0;
  std::uint64_t extensions = 0;
  for (;;) {
    const std::uint64_t block = cursor.Position();
    const int kind = cursor.Next();
    if (kind < 0) return Truncated(kUnknown, "ends before the trailer, after " + std::to_string(images) + " images");
    if (kind == 0x3B) {
      return Intact(cursor.Position(), std::to_string(images) + " images, " + std::to_string(extensions) +
                                           " extensions, trailer at " + At(block));
    }
    if (kind == 0x2C) {
      unsigned char descriptor[9];
      if (!f.Read(cursor.Position(), descriptor, 9)) return Truncated(kUnknown, "ends inside image " + std::to_string(images + 1));
      cursor.Skip(9);
      if ((descriptor[8] & 0x80) != 0 && !cursor.Skip(3u << ((descriptor[8] & 7) + 1))) {
        return Truncated(kUnknown, "ends inside image " + std::to_string(images + 1));
      }
      const int codeSize = cursor.Next();
      if (codeSize < 0) return Truncated(kUnknown, "ends inside image " + std::to_string(images + 1));
      if (codeSize < 1 || codeSize > 12) return Damaged("impossible LZW code size in image " + std::to_string(images + 1));
      ++images;
    } else if (kind == 0x21) {
      if (cursor.Next() < 0) return Truncated(kUnknown, "ends inside an extension at " + At(block));
      ++extensions;
    } else {
      return Damaged("no block at " + At(block));
    }
    // Sub-blocks: a length byte, that many bytes, until a length of 0.
    for (;;) {
      const int n = cursor.Next();
      if (n < 0 || !cursor.Skip(static_cast<unsigned>(n))) return Truncated(kUnknown, "ends inside the block at " + At(block));
      if (n == 0) break;
    }
  }
}

// The end of BMP run-length pixels (RLE8 or RLE4): pairs of a count and a
// value, or an escape (end of line, end of bitmap, a move, a literal run padded
// to a 16-bit boundary). 0 when they end without an end of bitmap.
std::uint64_t RunLengthEnd(Fragment& f, std::uint64_t at, bool fourBits) {
  ByteReader cursor(f, at);
  for (;;) {
    const int count = cursor.Next();
    const int value = cursor.Next();
    if (value < 0) return 0;
    if (count != 0 || value == 0) continue;
    if (value == 1) return cursor.Position();
    if (value == 2) {
      if (!cursor.Skip(2)) return 0;
      continue;
    }
    std::uint64_t bytes = fourBits ? (value + 1) / 2 : value;
    if (!cursor.Skip(bytes + bytes % 2)) return 0;
  }
}

// BMP: file header, DIB header, colour table, pixels (and a V5 header's
// embedded colour profile, which may follow them). The end is computed from
// the pixels' size; the size the header declares is checked against it, and
// counts when larger, since some writers pad the file.
CheckResult CheckBmp(Fragment& f, const CheckOptions&) {
  unsigned char h[138] = {};
  if (!f.Read(0, h, 18) || h[0] != 'B' || h[1] != 'M') return Damaged("no BMP signature");
  const std::uint32_t declared = Le32(h + 2);
  const std::uint32_t pixels = Le32(h + 10);
  const std::uint32_t dib = Le32(h + 14);
  if (dib != 12 && dib != 16 && dib != 40 && dib != 52 && dib != 56 && dib != 64 && dib != 108 && dib != 124) {
    return Damaged("unknown DIB header size " + std::to_string(dib));
  }
  if (!f.Read(0, h, std::min<std::size_t>(14 + dib, sizeof h))) return Truncated(declared ? declared : kUnknown, "ends inside the header");
  std::uint64_t width, height, planes, bits, compression = 0, imageSize = 0;
  if (dib == 12) {
    width = Le16(h + 18);
    height = Le16(h + 20);
    planes = Le16(h + 22);
    bits = Le16(h + 24);
  } else {
    const auto w = static_cast<std::int32_t>(Le32(h + 18));
    const auto hh = static_cast<std::int32_t>(Le32(h + 22));
    width = w < 0 ? ~0ull : static_cast<std::uint64_t>(w);
    height = hh < 0 ? 0ull - static_cast<std::uint64_t>(static_cast<std::int64_t>(hh)) : static_cast<std::uint64_t>(hh);
    planes = Le16(h + 26);
    bits = Le16(h + 28);
    if (dib >= 20) compression = Le32(h + 30);
    if (dib >= 24) imageSize = Le32(h + 34);
  }
  if (planes != 1 || width > (1u << 24) || height > (1u << 24)) return Damaged("impossible dimensions");
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32 && bits != 64) {
    return Damaged("impossible bit depth " + std::to_string(bits));
  }
  if (pixels < 14 + dib) return Damaged("pixels inside the header");
  std::uint64_t end = 0;
  if (compression == 0 || compression == 3 || compression == 6) {
    end = pixels + (width * bits + 31) / 32 * 4 * height;
  } else if ((compression == 1 && bits == 8) || (compression == 2 && bits == 4)) {
    end = RunLengthEnd(f, pixels, compression == 2);
    if (end == 0) return Truncated(declared ? declared : kUnknown, "ends inside the run-length pixels");
    end = std::max<std::uint64_t>(end, imageSize != 0 ? pixels + imageSize : 0);
  } else if ((compression == 4 || compression == 5) && imageSize != 0) {
    end = pixels + imageSize;
  } else {
    return Unchecked("compression " + std::to_string(compression) + " without a size");
  }
  // A V5 header's embedded profile ('MBED'), placed by its offset from the
  // DIB header.
  if (dib == 124 && Le32(h + 14 + 56) == 0x4D424544) {
    end = std::max<std::uint64_t>(end, 14 + std::uint64_t{Le32(h + 14 + 112)} + Le32(h + 14 + 116));
  }
  std::string detail = std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(bits) + " bits";
  if (declared > end) {
    if (!f.Holds(0, declared)) return Truncated(declared, "expected " + std::to_string(declared) + " bytes");
    return Intact(declared, detail + ", declared size " + std::to_string(declared - end) + " bytes past the pixels");
  }
  if (!f.Holds(0, end)) return Truncated(end, "ends inside the pixels; expected " + std::to_string(end) + " bytes");
  if (declared != 0 && declared != end) detail += ", declared size " + std::to_string(declared) + " is short";
  return Intact(end, detail);
}

// PNG: the signature, then chunks (length, type, data, CRC-32 of type and
// data) up to IEND. Every CRC is checked; the end is IEND's last byte.
CheckResult CheckPng(Fragment& f, const CheckOptions&) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  unsigned char head[8];
  if (!f.Read(0, head, 8) || std::memcmp(head, kSignature, 8) != 0) return Damaged("no PNG signature");
  std::uint64_t at = 8;
  unsigned char buffer[16384];
  std::uint64_t chunks = 0;
  for (;;) {
    unsigned char header[8];
    if (!f.Read(at, header, 8)) return Truncated(kUnknown, "ends inside a chunk header at " + std::to_string(at));
    const std::uint32_t length = Be32(header);
    if (length > 0x7FFFFFFFu) return Damaged("impossible chunk length at " + std::to_string(at));
    for (int i = 4; i < 8; ++i) {
      const unsigned char c = header[i];
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return Damaged("no chunk type at " + std::to_string(at));
    }
    if (!f.Holds(at + 8, std::uint64_t{length} + 4)) {
      return Truncated(kUnknown, "ends inside chunk " + std::string(reinterpret_cast<char*>(header + 4), 4) + " at " +
                                     std::to_string(at));
    }
    std::uint32_t crc = Crc32(0, header + 4, 4);
    for (std::uint32_t done = 0; done < length;) {
      const std::size_t n = std::min<std::size_t>(sizeof buffer, length - done);
      if (!f.Read(at + 8 + done, buffer, n)) return Unchecked("a read failed");
      crc = Crc32(crc, buffer, n);
      done += static_cast<std::uint32_t>(n);
    }
    unsigned char stored[4];
    if (!f.Read(at + 8 + length, stored, 4)) return Unchecked("a read failed");
    if (Be32(stored) != crc) {
      return Damaged("CRC of chunk " + std::string(reinterpret_cast<char*>(header + 4), 4) + " at " +
                     std::to_string(at) + " does not match");
    }
    ++chunks;
    at += 12 + std::uint64_t{length};
    if (std::memcmp(header + 4, "IEND", 4) == 0) {
      return Intact(at, std::to_string(chunks) + " chunks, every CRC right, IEND at " + std::to_string(at - 12));
    }
  }
}

bool NetpbmSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The raster of a text Netpbm picture (P1, P2, P3): `count` samples written as
// decimal numbers (P1's single digits may touch), none above `most`. The file
// ends after the last one and the line break that closes its line; white space
// left before a line break that never comes is not counted.
CheckResult CheckNetpbmText(ByteReader& cursor, int c, std::uint64_t count, std::uint64_t most, bool digits) {
  for (std::uint64_t i = 0; i < count; ++i) {
    while (NetpbmSpace(c)) c = cursor.Next();
    if (c < 0) return Truncated(kUnknown, "ends after " + std::to_string(i) + " of " + std::to_string(count) + " samples");
    if (c < '0' || c > '9') return Damaged("no sample at " + At(cursor.Position() - 1));
    std::uint64_t value = 0;
    do {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > most) return Damaged("a sample above the maximum at " + At(cursor.Position() - 1));
      c = cursor.Next();
    } while (!digits && c >= '0' && c <= '9');
  }
  std::uint64_t end = cursor.Position() - (c < 0 ? 0 : 1);
  while (c == ' ' || c == '\t' || c == '\r') c = cursor.Next();
  if (c == '\n') end = cursor.Position();
  return Intact(end, std::to_string(count) + " samples, the last line ends at " + At(end));
}

// Netpbm (PBM, PGM, PPM): a text header of width, height and maximum value,
// one whitespace byte, then a raster whose size they give (or, in the text
// forms P1 to P3, the samples as numbers). A stream may hold several pictures
// one after another, so another header right after the raster leaves the end
// open.
CheckResult CheckNetpbm(Fragment& f, const CheckOptions&) {
  unsigned char magic[2];
  if (!f.Read(0, magic, 2) || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6') return Damaged("no Netpbm signature");
  const int kind = magic[1] - '0';
  const int fields = kind == 4 || kind == 1 ? 2 : 3;
  std::uint64_t value[3] = {};
  ByteReader cursor(f, 2);
  int c = cursor.Next();
  for (int i = 0; i < fields; ++i) {
    // Whitespace and comments, then digits.
    bool gap = false;
    for (;;) {
      if (c == '#') {
        while (c >= 0 && c != '\n' && c != '\r') c = cursor.Next();
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
        c = cursor.Next();
      } else {
        break;
      }
      gap = true;
    }
    if (c < 0) return Truncated(kUnknown, "ends inside the header");
    if (!gap || c < '0' || c > '9') return Damaged("no number in the header");
    while (c >= '0' && c <= '9') {
      value[i] = value[i] * 10 + static_cast<unsigned>(c - '0');
      if (value[i] > (1u << 24)) return Damaged("impossible number in the header");
      c = cursor.Next();
    }
  }
  if (c < 0) return Truncated(kUnknown, "ends inside the header");
  if (!(c == ' ' || c == '\t' || c == '\n' || c == '\r')) return Damaged("no whitespace after the header");
  if (value[0] == 0 || value[1] == 0 || (fields == 3 && (value[2] == 0 || value[2] > 65535))) {
    return Damaged("impossible header values");
  }
  if (kind <= 3) {
    const std::uint64_t count = value[0] * value[1] * (kind == 3 ? 3 : 1);
    return CheckNetpbmText(cursor, c, count, kind == 1 ? 1 : value[2], kind == 1);
  }
  const std::uint64_t sample = kind == 4 ? 0 : (value[2] > 255 ? 2 : 1);
  const std::uint64_t row = kind == 4 ? (value[0] + 7) / 8 : value[0] * sample * (kind == 6 ? 3 : 1);
  const std::uint64_t end = cursor.Position() + row * value[1];
  if (!f.Holds(0, end)) return Truncated(end, "ends inside the raster; expected " + std::to_string(end) + " bytes");
  unsigned char next[3];
  if (f.Read(end, next, 3) && next[0] == 'P' && next[1] == magic[1] &&
      (next[2] == ' ' || next[2] == '\t' || next[2] == '\n' || next[2] == '\r')) {
    return Unchecked("another picture's header follows the raster at " + At(end));
  }
  return Intact(end, std::to_string(value[0]) + "x" + std::to_string(value[1]) + ", raster ends at " + At(end));
}

// ICO: a directory of pictures, each with its offset and size; each is a PNG
// or a DIB. The end is the furthest picture's end.
CheckResult CheckIco(Fragment& f, const CheckOptions&) {
  unsigned char head[6];
  if (!f.Read(0, head, 6) || Le16(head) != 0 || Le16(head + 2) != 1 || Le16(head + 4) == 0) return Damaged("no icon directory");
  const unsigned count = Le16(head + 4);
  const std::uint64_t directoryEnd = 6 + 16ull * count;
  std::uint64_t end = directoryEnd;
  for (unsigned i = 0; i < count; ++i) {
    unsigned char entry[16];
    if (!f.Read(6 + 16ull * i, entry, 16)) return Truncated(kUnknown, "ends inside the directory");
    const std::uint32_t size = Le32(entry + 8);
    const std::uint32_t offset = Le32(entry + 12);
    if (size < 8 || offset < directoryEnd) return Damaged("impossible entry " + std::to_string(i + 1));
    end = std::max<std::uint64_t>(end, std::uint64_t{offset} + size);
    unsigned char start[8];
    if (!f.Read(offset, start, 8)) continue;  // beyond the fragment: truncated below
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (std::memcmp(start, kPng, 8) != 0 && Le32(start) != 40 && Le32(start) != 12) {
      return Damaged("picture " + std::to_string(i + 1) + " is neither PNG nor DIB");
    }
  }
  if (!f.Holds(0, end)) return Truncated(end, "expected " + std::to_string(end) + " bytes");
  return Intact(end, std::to_string(count) + " pictures, the last ends at " + At(end));
}

// Targa: header, image ID, colour map, pixels (raw, or run-length packets
// counted to width x height pixels), and in version 2 an extension area,
// developer area and the footer TRUEVISION-XFILE.
CheckResult CheckTga(Fragment& f, const CheckOptions&) {
  unsigned char h[18];
  if (!f.Read(0, h, 18)) return Truncated(kUnknown, "ends inside the header");
  const unsigned type = h[2];
  const unsigned depth = h[16];
  const std::uint64_t width = Le16(h + 12);
  const std::uint64_t height = Le16(h + 14);
  if (h[1] > 1 || !(type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11) ||
      !(depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32) || width == 0 || height == 0 ||
      (h[1] == 1 && !(h[7] == 15 || h[7] == 16 || h[7] == 24 || h[7] == 32))) {
    return Damaged("not a Targa header");
  }
  const std::uint64_t map = h[1] == 1 ? std::uint64_t{Le16(h + 5)} * ((h[7] + 7) / 8) : 0;
  const std::uint64_t start = 18 + std::uint64_t{h[0]} + map;
  const std::uint64_t bytesPerPixel = (depth + 7) / 8;
  std::uint64_t end = 0;
  if (type < 9) {
    end = start + width * height * bytesPerPixel;
    if (!f.Holds(0, end)) return Truncated(kUnknown, "ends inside the pixels");
  } else {
    ByteReader cursor(f, start);
    for (std::uint64_t left = width * height; left > 0;) {
      const int packet = cursor.Next();
      if (packet < 0) return Truncated(kUnknown, "ends inside the pixels");
      const std::uint64_t count = (packet & 0x7F) + 1u;
      if (count > left) return Damaged("a run-length packet beyond the last pixel at " + At(cursor.Position() - 1));
      if (!cursor.Skip((packet & 0x80) != 0 ? bytesPerPixel : count * bytesPerPixel)) {
        return Truncated(kUnknown, "ends inside the pixels");
      }
      left -= count;
    }
    end = cursor.Position();
  }
  // Version 2: what follows the pixels is the extension area, the developer
  // area or the footer itself; the footer names both, so it is sought among
  // the bytes after the pixels and taken only when its offsets agree.
  unsigned char after[18];
  if (!f.Read(end, after, 18)) return Intact(end, "pixels end at " + At(end));
  const bool extension = Le16(after) == 495;
  const bool footerNow = std::memcmp(after + 8, "TRUEVISION-XFILE", 10) == 0 && Le32(after) == 0 && Le32(after + 4) == 0;
  if (footerNow) {
    if (!f.Holds(end, 26)) return Truncated(end + 26, "ends inside the footer");
    return Intact(end + 26, "pixels and footer");
  }
  if (!extension) return Intact(end, "pixels end at " + At(end));
  static const char kSignature[18] = {'T', 'R', 'U', 'E', 'V', 'I', 'S', 'I', 'O', 'N', '-', 'X', 'F', 'I', 'L', 'E', '.', 0};
  ByteReader cursor(f, end + 495);
  std::size_t matched = 0;
  for (int c = cursor.Next(); c >= 0; c = cursor.Next()) {
    matched = c == kSignature[matched] ? matched + 1 : (c == 'T' ? 1 : 0);
    if (matched < 18) continue;
    const std::uint64_t footer = cursor.Position() - 26;
    unsigned char offsets[8];
    if (!f.Read(footer, offsets, 8)) return Unchecked("a read failed");
    if (Le32(offsets) == end && Le32(offsets + 4) < footer) return Intact(footer + 26, "pixels, extension area and footer");
    matched = 0;
  }
  return Unchecked("an extension area without its footer");
}

// Photoshop (PSD, and PSB with its larger lengths): header, then the colour
// mode data, image resources and layer sections, each after its length, then
// the merged picture: raw (its size computed) or run-length (a byte count per
// row, their sum after the table).
CheckResult CheckPsd(Fragment& f, const CheckOptions&) {
  unsigned char h[26];
  if (!f.Read(0, h, 26) || std::memcmp(h, "8BPS", 4) != 0) return Damaged("no Photoshop signature");
  const unsigned version = Be16(h + 4);
  const std::uint64_t channels = Be16(h + 12);
  const std::uint64_t height = Be32(h + 14);
  const std::uint64_t width = Be32(h + 18);
  const std::uint64_t depth = Be16(h + 22);
  const std::uint64_t most = version == 1 ? 30000 : 300000;
  if ((version != 1 && version != 2) || channels == 0 || channels > 56 || width == 0 || height == 0 || width > most ||
      height > most || !(depth == 1 || depth == 8 || depth == 16 || depth == 32)) {
    return Damaged("impossible Photoshop header");
  }
  std::uint64_t at = 26;
  for (int section = 0; section < 3; ++section) {
    unsigned char length[8];
    const std::size_t size = section == 2 && version == 2 ? 8 : 4;
    if (!f.Read(at, length, size)) return Truncated(kUnknown, "ends before section " + std::to_string(section + 1));
    const std::uint64_t n = size == 8 ? Be64(length) : Be32(length);
    if (n > f.Size()) return Truncated(kUnknown, "ends inside section " + std::to_string(section + 1));
    at += size + n;
  }
  unsigned char compression[2];
  if (!f.Read(at, compression, 2)) return Truncated(kUnknown, "ends before the picture");
  at += 2;
  const std::uint64_t rows = channels * height;
  std::uint64_t end = 0;
  if (Be16(compression) == 0) {
    end = at + rows * ((width * depth + 7) / 8);
  } else if (Be16(compression) == 1) {
    const unsigned size = version == 1 ? 2 : 4;
    ByteReader cursor(f, at);
    end = at + rows * size;
    for (std::uint64_t row = 0; row < rows; ++row) {
      std::uint64_t count = 0;
      for (unsigned k = 0; k < size; ++k) {
        const int c = cursor.Next();
        if (c < 0) return Truncated(kUnknown, "ends inside the row byte counts");
        count = count << 8 | static_cast<unsigned>(c);
      }
      end += count;
    }
  } else {
    return Unchecked("a compressed picture whose size is not stored");
  }
  if (!f.Holds(0, end)) return Truncated(end, "ends inside the picture; expected " + std::to_string(end) + " bytes");
  return Intact(end, std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(channels) +
                         " channels, the picture ends at " + At(end));
}

}  // namespace

extern const FormatRow kBmpRow{.extensions = {"bmp"}, .checker = CheckBmp, .endPolicy = EndPolicy::kLastSectorZeros};
extern const FormatRow kGifRow{.extensions = {"gif"}, .checker = CheckGif, .endPolicy = EndPolicy::kLastSectorZeros};
extern const FormatRow kIcoRow{.extensions = {"ico"}, .checker = CheckIco, .endPolicy = EndPolicy::kLastSectorZeros};
extern const FormatRow kNetpbmRow{
    .extensions = {"pbm", "pgm", "ppm"},
    .checker = CheckNetpbm,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kPngRow{
    .extensions = {"png"},
    .checker = CheckPng,
    .endPolicy = EndPolicy::kLastSectorZeros,
    .checksEveryByte = true
};
extern const FormatRow kPsdRow{
    .extensions = {"psb", "psd"},
    .checker = CheckPsd,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kTgaRow{.extensions = {"tga"}, .checker = CheckTga, .endPolicy = EndPolicy::kLastSectorZeros};

}  // namespace tessaro::formats
