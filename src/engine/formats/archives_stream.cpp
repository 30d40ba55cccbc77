// Compressed streams without a length of their own: xz, bzip2, zstd, lzip,
// LZ4. Each is walked from its first byte through its own framing (blocks,
// indexes, trailers), and each end found is proven by what the format
// records about itself (an index and its CRC, a combined CRC, a member size).

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/archive_checks.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

// xz's variable-length integers: 7 bits a byte, at most 9 bytes.
bool ReadVarint(const unsigned char* p, std::size_t n, std::size_t& used, std::uint64_t& value) {
  value = 0;
  for (used = 0; used < n && used < 9; ++used) {
    value |= static_cast<std::uint64_t>(p[used] & 0x7F) << (7 * used);
    if ((p[used] & 0x80) == 0) {
      ++used;
      return !(used > 1 && p[used - 1] == 0);
    }
  }
  return false;
}

// The blocks of a stream, walked with the sizes its index records: each
// block header's CRC, and the compressed size it may state. The number of
// the first broken block, or 0.
std::uint64_t XzBrokenBlock(Fragment& f, std::uint64_t block, std::uint64_t indexAt, unsigned check) {
  static const unsigned kCheckSize[16] = {0, 4, 4, 4, 8, 8, 8, 16, 16, 16, 32, 32, 32, 64, 64, 64};
  unsigned char record[18];
  std::size_t used = 0;
  std::uint64_t records = 0, q = indexAt + 1;
  std::size_t n = f.ReadSome(q, record, 9);
  if (!ReadVarint(record, n, used, records)) return 1;
  q += used;
  for (std::uint64_t r = 1; r <= records; ++r) {
    std::uint64_t unpadded = 0, size = 0;
    n = f.ReadSome(q, record, sizeof record);
    std::size_t second = 0;
    if (!ReadVarint(record, n, used, unpadded) || !ReadVarint(record + used, n - used, second, size)) return r;
    q += used + second;
    unsigned char header[1024];
    if (!f.Read(block, header, 1) || header[0] == 0) return r;
    const std::size_t length = (header[0] + 1u) * 4;
    if (!f.Read(block, header, length) || Crc32(0, header, length - 4) != Le32(header + length - 4)) return r;
    if (header[1] & 0x40) {
      std::uint64_t compressed = 0;
      if (!ReadVarint(header + 2, length - 6, used, compressed) ||
          compressed + length + kCheckSize[check] != unpadded) {
        return r;
      }
    }
    block += (unpadded + 3) / 4 * 4;
  }
  return 0;
}

// One xz stream at `at`: its index, found from the stream footer whose
// backward size points at an index that describes blocks filling the stream
// exactly from its header. A footer candidate is looked for forward, every
// four bytes, so a later stream's footer (of the slack) is never met first.
CheckResult XzStream(Fragment& f, std::uint64_t at, std::uint64_t& end, std::uint64_t& blockCount) {
  static const unsigned char kMagic[6] = {0xFD, '7', 'z', 'X', 'Z', 0};
  unsigned char h[12];
  if (!f.Read(at, h, 12)) return Truncated(kUnknown, "ends inside the stream header");
  if (std::memcmp(h, kMagic, 6) != 0) return Damaged("no xz stream header");
  if (Crc32(0, h + 6, 2) != Le32(h + 8)) return Damaged("stream header CRC does not match");
  unsigned char buffer[4096 + 12];
  for (std::uint64_t p = at + 12; f.Holds(p, 12); p += 4096) {
    const std::size_t got = f.ReadSome(p, buffer, sizeof buffer);
    for (std::size_t i = 0; i + 12 <= got && i < 4096; i += 4) {
      const unsigned char* footer = buffer + i;
      if (footer[10] != 'Y' || footer[11] != 'Z' || std::memcmp(footer + 8, h + 6, 2) != 0) continue;
      if (Crc32(0, footer + 4, 6) != Le32(footer)) continue;
      const std::uint64_t footerAt = p + i;
      const std::uint64_t indexSize = (static_cast<std::uint64_t>(Le32(footer + 4)) + 1) * 4;
      if (indexSize > footerAt - at - 12) continue;
      const std::uint64_t indexAt = footerAt - indexSize;
      // The index: a zero byte, the count of records, each record's unpadded
      // and uncompressed sizes, padding, CRC-32.
      unsigned char index[64];
      std::uint32_t crc = 0;
      std::uint64_t q = indexAt;
      if (!f.Read(q, index, 1) || index[0] != 0) continue;
      crc = Crc32(crc, index, 1);
      ++q;
      std::uint64_t values[1] = {0};
      std::size_t used = 0;
      const std::size_t n = f.ReadSome(q, index, 9);
      if (!ReadVarint(index, n, used, values[0])) continue;
      crc = Crc32(crc, index, used);
      q += used;
      const std::uint64_t records = values[0];
      if (records > indexSize) continue;
      std::uint64_t blocks = 0;
      bool ok = true;
      for (std::uint64_t r = 0; r < records * 2 && ok; ++r) {
        std::uint64_t value = 0;
        const std::size_t m = f.ReadSome(q, index, 9);
        ok = q < footerAt && ReadVarint(index, m, used, value);
        if (!ok) break;
        crc = Crc32(crc, index, used);
        q += used;
        if (r % 2 == 0) blocks += (value + 3) / 4 * 4;
      }
      if (!ok || q > footerAt - 4) continue;
      const std::uint64_t padding = (4 - (q - indexAt) % 4) % 4;
      if (q + padding + 4 != footerAt) continue;
      if (!f.Read(q, index, static_cast<std::size_t>(padding + 4))) continue;
      if (std::any_of(index, index + padding, [](unsigned char c) { return c != 0; })) continue;
      crc = Crc32(crc, index, static_cast<std::size_t>(padding));
      if (crc != Le32(index + padding)) continue;
      if (at + 12 + blocks != indexAt) continue;
      const std::uint64_t broken = XzBrokenBlock(f, at + 12, indexAt, h[7] & 0x0F);
      if (broken != 0) return Damaged("header of block " + std::to_string(broken) + " is broken");
      end = footerAt + 12;
      blockCount += records;
      return Intact(end, "");
    }
  }
  return Truncated(kUnknown, "no stream footer in the fragment");
}

}  // namespace

// xz: streams, each optionally followed by stream padding (zeros, a multiple
// of four bytes) and another stream. Padding that no stream follows may as
// well be slack, and the file is whole without it. When what follows padding
// does not run to a sound end, it is taken for the leftovers of another file,
// as a disk leaves them after zeros, and the file ends before the padding.
CheckResult CheckXz(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0, end = 0, streams = 0;
  std::uint64_t beforeGap = 0, streamsBeforeGap = 0, blocks = 0, blocksBeforeGap = 0;
  for (;;) {
    CheckResult r = XzStream(f, at, end, blocks);
    if (r.verdict != Verdict::kIntact) {
      if (beforeGap == 0) return r;
      end = beforeGap;
      streams = streamsBeforeGap;
      blocks = blocksBeforeGap;
      break;
    }
    ++streams;
    std::uint64_t p = end;
    unsigned char b[4];
    while (f.Read(p, b, 4) && Le32(b) == 0) p += 4;
    const Next next = NextMember(f, p, "\xFD" "7zXZ", 6);
    if (next == Next::kCut && p == end) return Truncated(kUnknown, "ends inside the header of stream " + std::to_string(streams + 1));
    if (next != Next::kMore) break;
    if (p > end && beforeGap == 0) {
      beforeGap = end;
      streamsBeforeGap = streams;
      blocksBeforeGap = blocks;
    }
    at = p;
  }
  return Intact(end, Count(streams, "stream", "streams") + ", " + Count(blocks, "block", "blocks") +
                         ", every header, index and footer CRC right");
}

// bzip2: after "BZh" and the level, blocks that each begin with a 48-bit
// magic and their CRC, then the end-of-stream magic and the CRC combined
// from every block's. Neither magic is byte-aligned, so the stream is read
// bit by bit; the combined CRC proves that the blocks found were the
// stream's own. The file ends with the byte that holds the last CRC bit.
CheckResult CheckBzip2(Fragment& f, const CheckOptions&) {
  constexpr std::uint64_t kBlock = 0x314159265359, kEnd = 0x177245385090, kMask = 0xFFFFFFFFFFFF;
  std::uint64_t at = 0, streams = 0, blocks = 0;
  unsigned char buffer[16384];
  for (;;) {
    unsigned char h[4];
    if (!f.Read(at, h, 4)) return Truncated(kUnknown, "ends inside the stream header");
    if (h[0] != 'B' || h[1] != 'Z' || h[2] != 'h' || h[3] < '1' || h[3] > '9') return Damaged("no bzip2 stream header");
    std::uint64_t bits = 0, seen = 0, combined = 0;
    std::uint64_t crcBits = 0;  // bits of a CRC still to take in after a magic
    bool ending = false, first = true;
    std::uint64_t crc = 0;
    std::uint64_t p = at + 4;
    bool done = false;
    while (!done) {
      const std::size_t got = f.ReadSome(p, buffer, sizeof buffer);
      if (got == 0) return Truncated(kUnknown, "ends inside block " + std::to_string(blocks + 1));
      for (std::size_t i = 0; i < got && !done; ++i) {
        for (int b = 7; b >= 0 && !done; --b) {
          const unsigned bit = buffer[i] >> b & 1u;
          ++seen;
          if (crcBits > 0) {
            crc = crc << 1 | bit;
            if (--crcBits > 0) continue;
            if (ending) {
              if (crc != combined) return Damaged("combined CRC does not match");
              at = p + i + 1;
              done = true;
            } else {
              combined = ((combined << 1 | combined >> 31) ^ crc) & 0xFFFFFFFF;
              ++blocks;
            }
            bits = 0;
            continue;
          }
          bits = (bits << 1 | bit) & kMask;
          // Right after the header, and after each block's CRC, a magic must
          // come at once only for the first: later ones end compressed data.
          if (first && seen == 48 && bits != kBlock && bits != kEnd) return Damaged("no block after the stream header");
          if (bits == kBlock || bits == kEnd) {
            first = false;
            ending = bits == kEnd;
            crcBits = 32;
            crc = 0;
          }
        }
      }
      p += got;
    }
    ++streams;
    const Next next = NextMember(f, at, "BZh", 3);
    if (next == Next::kCut) return Truncated(kUnknown, "ends inside the header of stream " + std::to_string(streams + 1));
    if (next == Next::kNone) break;
  }
  return Intact(at, Count(blocks, "block", "blocks") + (streams > 1 ? " in " + Count(streams, "stream", "streams") : "") +
                        ", combined CRC right");
}

namespace {

bool IsSkippable(std::uint32_t magic) { return (magic & 0xFFFFFFF0u) == 0x184D2A50u; }

bool SkippableAt(Fragment& f, std::uint64_t at) {
  unsigned char m[4];
  return f.Read(at, m, 4) && IsSkippable(Le32(m));
}

// One zstd frame at `at`: its header, then blocks (3-byte headers with their
// kind and size) to the last one, then the content checksum when the header
// says there is one. The checksum is of the decompressed content, which is
// not verified here.
CheckResult ZstdFrame(Fragment& f, std::uint64_t at, std::uint64_t& end, std::uint64_t& blocks) {
  unsigned char h[18];
  if (!f.Read(at, h, 6)) return Truncated(kUnknown, "ends inside a frame header");
  const std::uint32_t magic = Le32(h);
  if (IsSkippable(magic)) {
    if (!f.Read(at, h, 8)) return Truncated(kUnknown, "ends inside a skippable frame");
    end = at + 8 + Le32(h + 4);
    if (!f.Holds(end, 0)) return Truncated(kUnknown, "ends inside a skippable frame");
    return Intact(end, "");
  }
  if (magic != 0xFD2FB528u) return Damaged("no zstd frame");
  const unsigned descriptor = h[4];
  if (descriptor & 0x08) return Damaged("reserved bit set in a frame header");
  const bool single = (descriptor & 0x20) != 0;
  static const int kDictionary[4] = {0, 1, 2, 4};
  static const int kContentSize[4] = {0, 2, 4, 8};
  const int contentSize = (descriptor >> 6) == 0 ? (single ? 1 : 0) : kContentSize[descriptor >> 6];
  std::uint64_t p = at + 5 + (single ? 0 : 1) + kDictionary[descriptor & 3] + contentSize;
  for (;;) {
    unsigned char b[3];
    if (!f.Read(p, b, 3)) return Truncated(kUnknown, "ends inside block " + std::to_string(blocks + 1));
    const std::uint32_t header = b[0] | b[1] << 8 | b[2] << 16;
    const unsigned kind = header >> 1 & 3;
    const std::uint32_t size = header >> 3;
    if (kind == 3 || size > 128 * 1024) return Damaged("block " + std::to_string(blocks + 1) + " is impossible");
    p += 3 + (kind == 1 ? 1 : size);
    ++blocks;
    if (!f.Holds(p, 0)) return Truncated(kUnknown, "ends inside block " + std::to_string(blocks));
    if (header & 1) break;
  }
  if (descriptor & 0x04) p += 4;
  if (!f.Holds(p, 0)) return Truncated(kUnknown, "ends inside a content checksum");
  end = p;
  return Intact(end, "");
}

}  // namespace

// zstd: frames (and skippable frames) one after another. Another frame is
// taken only where a frame's magic follows at once.
CheckResult CheckZstd(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0, frames = 0, blocks = 0;
  for (;;) {
    std::uint64_t end = 0;
    CheckResult r = ZstdFrame(f, at, end, blocks);
    if (r.verdict != Verdict::kIntact) return r;
    ++frames;
    at = end;
    const Next next = NextMember(f, at, "\x28\xB5\x2F\xFD", 4);
    if (next == Next::kCut) return Truncated(kUnknown, "ends inside the header of frame " + std::to_string(frames + 1));
    if (next == Next::kNone && !SkippableAt(f, at)) break;
  }
  return Intact(at, Count(frames, "frame", "frames") + ", " + Count(blocks, "block", "blocks") + ", every block header sound");
}

// lzip: members of a 6-byte header, LZMA data and a 20-byte trailer (CRC-32
// and size of the data, and the member's own size). Without decoding LZMA,
// the trailer is found as the first place where the member size it records
// is exactly the distance from the member's start.
CheckResult CheckLzip(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0, members = 0;
  unsigned char buffer[4096 + 8];
  for (;;) {
    unsigned char h[6];
    if (!f.Read(at, h, 6)) return Truncated(kUnknown, "ends inside a member header");
    if (std::memcmp(h, "LZIP", 4) != 0 || h[4] != 1) return Damaged("no lzip member header");
    std::uint64_t end = 0;
    for (std::uint64_t p = at + 6 + 20 - 8; end == 0 && f.Holds(p, 8); p += 4096) {
      const std::size_t got = f.ReadSome(p, buffer, sizeof buffer);
      for (std::size_t i = 0; i + 8 <= got && i < 4096; ++i) {
        const std::uint64_t candidate = p + i + 8;
        if (Le64(buffer + i) == candidate - at) {
          end = candidate;
          break;
        }
      }
    }
    if (end == 0) return Truncated(kUnknown, "no trailer of member " + std::to_string(members + 1) + " in the fragment");
    ++members;
    at = end;
    const Next next = NextMember(f, at, "LZIP", 4);
    if (next == Next::kCut) return Truncated(kUnknown, "ends inside the header of member " + std::to_string(members + 1));
    if (next == Next::kNone) break;
  }
  return Intact(at, Count(members, "member", "members") + ", member sizes right");
}

namespace {

std::uint32_t Rotl(std::uint32_t x, int r) { return x << r | x >> (32 - r); }

// xxHash32 of a short run of bytes (under 16), as LZ4 frame headers use.
std::uint32_t XxHash32Short(const unsigned char* p, std::size_t n) {
  constexpr std::uint32_t P1 = 2654435761u, P3 = 3266489917u, P4 = 668265263u, P5 = 374761393u, P2 = 2246822519u;
  std::uint32_t h = P5 + static_cast<std::uint32_t>(n);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) h = Rotl(h + Le32(p + i) * P3, 17) * P4;
  for (; i < n; ++i) h = Rotl(h + p[i] * P5, 11) * P1;
  h ^= h >> 15;
  h *= P2;
  h ^= h >> 13;
  h *= P3;
  h ^= h >> 16;
  return h;
}

}  // namespace

// LZ4 frames: a descriptor with its checksum, blocks each with its size, an
// end mark, and the optional checksums. The legacy format has no end mark.
CheckResult CheckLz4(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0, frames = 0, blocks = 0;
  for (;;) {
    unsigned char h[19];
    if (!f.Read(at, h, 7)) return Truncated(kUnknown, "ends inside a frame header");
    const std::uint32_t magic = Le32(h);
    if (IsSkippable(magic)) {
      if (!f.Read(at, h, 8) || !f.Holds(at + 8, Le32(h + 4))) return Truncated(kUnknown, "ends inside a skippable frame");
      at += 8 + Le32(h + 4);
    } else {
      if (magic == 0x184C2102u) return Unchecked("legacy LZ4 frame: no end mark");
      if (magic != 0x184D2204u) return Damaged("no LZ4 frame");
      const unsigned flags = h[4];
      if ((flags >> 6) != 1 || (flags & 2) || (h[5] & 0x8F) || (h[5] >> 4 & 7) < 4) return Damaged("impossible frame descriptor");
      const std::size_t length = 2 + ((flags & 8) ? 8 : 0) + ((flags & 1) ? 4 : 0);
      if (!f.Read(at, h, 4 + length + 1)) return Truncated(kUnknown, "ends inside a frame header");
      if (((XxHash32Short(h + 4, length) >> 8) & 0xFF) != h[4 + length]) return Damaged("frame descriptor checksum does not match");
      const std::uint32_t maxBlock = 1u << (8 + 2 * (h[5] >> 4 & 7));
      std::uint64_t p = at + 4 + length + 1;
      for (;;) {
        unsigned char b[4];
        if (!f.Read(p, b, 4)) return Truncated(kUnknown, "ends inside block " + std::to_string(blocks + 1));
        const std::uint32_t size = Le32(b) & 0x7FFFFFFF;
        p += 4;
        if (Le32(b) == 0) break;
        if (size > maxBlock) return Damaged("block " + std::to_string(blocks + 1) + " larger than the frame allows");
        p += size + ((flags & 0x10) ? 4 : 0);
        ++blocks;
        if (!f.Holds(p, 0)) return Truncated(kUnknown, "ends inside block " + std::to_string(blocks));
      }
      if (flags & 4) p += 4;
      if (!f.Holds(p, 0)) return Truncated(kUnknown, "ends inside the content checksum");
      at = p;
    }
    ++frames;
    const Next next = NextMember(f, at, "\x04\x22\x4D\x18", 4);
    if (next == Next::kCut) return Truncated(kUnknown, "ends inside the header of frame " + std::to_string(frames + 1));
    if (next == Next::kNone && !SkippableAt(f, at)) break;
  }
  return Intact(at, Count(frames, "frame", "frames") + ", " + Count(blocks, "block", "blocks") + ", header checksums right");
}

extern const FormatRow kXzRow{.extensions = {"xz"}, .checker = CheckXz};
extern const FormatRow kBzip2Row{.extensions = {"bz2"}, .checker = CheckBzip2};
extern const FormatRow kZstdRow{.extensions = {"zst"}, .checker = CheckZstd};
extern const FormatRow kLzipRow{.extensions = {"lz"}, .checker = CheckLzip};
extern const FormatRow kLz4Row{.extensions = {"lz4"}, .checker = CheckLz4};

}  // namespace tessaro::formats
