// Archives whose headers say how long they are, or where their index lies:
// 7z, CAB, ISO 9660, RAR.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/archive_checks.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

// The CRC-32 of `n` bytes at `at`, read through a bounded buffer; false when
// the fragment does not hold them.
bool CrcOf(Fragment& f, std::uint64_t at, std::uint64_t n, std::uint32_t& crc) {
  crc = 0;
  if (!f.Holds(at, n)) return false;
  unsigned char buffer[16384];
  for (std::uint64_t p = at, end = at + n; p < end;) {
    const std::size_t got = f.ReadSome(p, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, end - p)));
    if (got == 0) return false;
    crc = Crc32(crc, buffer, got);
    p += got;
  }
  return true;
}

// 7z: a 32-byte signature header whose CRC covers where the next header
// lies (offset and size from byte 32) and that header's own CRC. The next
// header is written last, so its end is the file's end.
CheckResult Check7z(Fragment& f, const CheckOptions&) {
  static const unsigned char kMagic[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
  unsigned char h[32];
  if (!f.Read(0, h, 32)) return Truncated(kUnknown, "ends inside the signature header");
  if (std::memcmp(h, kMagic, 6) != 0) return Damaged("no 7z signature");
  if (Crc32(0, h + 12, 20) != Le32(h + 8)) return Damaged("start header CRC does not match");
  const std::uint64_t offset = Le64(h + 12), size = Le64(h + 20);
  if (size > UINT64_MAX - 32 || offset > UINT64_MAX - 32 - size) return Damaged("impossible header offset");
  const std::uint64_t end = 32 + offset + size;
  if (end > f.Size()) return Truncated(end, "expected " + Thousands(end) + " bytes");
  std::uint32_t crc = 0;
  if (!CrcOf(f, 32 + offset, size, crc)) return Unchecked("a read failed");
  if (crc != Le32(h + 28)) return Damaged("next header CRC does not match");
  if (size > 0) {
    unsigned char kind = 0;
    if (!f.Read(32 + offset, &kind, 1) || (kind != 0x01 && kind != 0x17)) return Damaged("next header is no header");
  }
  return Intact(end, "start and next header CRCs right");
}

// CAB: the header gives the cabinet's size (cbCabinet).
CheckResult CheckCab(Fragment& f, const CheckOptions&) {
  unsigned char h[36];
  if (!f.Read(0, h, 36)) return Truncated(kUnknown, "ends inside the header");
  if (std::memcmp(h, "MSCF", 4) != 0 || Le32(h + 4) != 0) return Damaged("no cabinet header");
  const std::uint32_t size = Le32(h + 8);
  const std::uint32_t files = Le32(h + 16);
  if (h[25] != 1 || size < 36 || files >= size || Le16(h + 26) == 0) return Damaged("impossible cabinet header");
  if (size > f.Size()) return Truncated(size, "expected " + Thousands(size) + " bytes");
  return Intact(size, Count(Le16(h + 26), "folder", "folders") + ", " + Count(Le16(h + 28), "file", "files") + ", " + Thousands(size) + " bytes");
}

// Hybrid images (bootable from a USB stick as well as a CD) carry an MBR or
// GPT partition table in their system area, and may append partitions (an EFI
// boot image) after the ISO 9660 volume: the furthest end of any partition,
// or of the GPT's backup header, belongs to the file too. 0 when none.
std::uint64_t PartitionsEnd(Fragment& f) {
  unsigned char mbr[512];
  if (!f.Read(0, mbr, sizeof mbr) || mbr[510] != 0x55 || mbr[511] != 0xAA) return 0;
  std::uint64_t end = 0;
  for (int i = 0; i < 4; ++i) {
    const unsigned char* entry = mbr + 446 + 16 * i;
    if (entry[4] == 0) continue;
    end = std::max(end, (static_cast<std::uint64_t>(Le32(entry + 8)) + Le32(entry + 12)) * 512);
    unsigned char gpt[512];
    if (entry[4] == 0xEE && f.Read(512, gpt, sizeof gpt) && std::memcmp(gpt, "EFI PART", 8) == 0) {
      const std::uint64_t backup = Le64(gpt + 32);
      if (backup < UINT64_MAX / 512) end = std::max(end, (backup + 1) * 512);
    }
  }
  return end;
}

// ISO 9660: the volume descriptors from sector 16 to their terminator; the
// primary one gives the volume's size in logical blocks, each field written
// both little- and big-endian.
CheckResult CheckIso(Fragment& f, const CheckOptions&) {
  unsigned char d[2048];
  std::uint64_t volume = kUnknown;
  for (std::uint64_t sector = 16; sector < 16 + 64; ++sector) {
    if (!f.Read(sector * 2048, d, sizeof d)) return Truncated(volume, "ends inside the volume descriptors");
    if (std::memcmp(d + 1, "CD001", 5) != 0 || d[6] != 1) return Damaged("volume descriptor " + std::to_string(sector) + " is broken");
    if (d[0] == 255) {
      if (volume == kUnknown) return Damaged("no primary volume descriptor");
      const std::uint64_t partitions = PartitionsEnd(f);
      std::string detail = "volume of " + Thousands(volume) + " bytes";
      if (partitions > volume) {
        volume = partitions;
        detail += ", partitions to " + Thousands(volume);
      }
      if (volume > f.Size()) return Truncated(volume, "expected " + Thousands(volume) + " bytes");
      return Intact(volume, detail);
    }
    if (d[0] == 1 && volume == kUnknown) {
      const std::uint32_t blocks = Le32(d + 80);
      const std::uint16_t block = Le16(d + 128);
      if (blocks != Be32(d + 84) || block != Be16(d + 130) || block < 512 || (block & (block - 1)) != 0) {
        return Damaged("primary volume descriptor's sizes disagree");
      }
      volume = static_cast<std::uint64_t>(blocks) * block;
      if (volume < (sector + 2) * 2048) return Damaged("volume smaller than its descriptors");
    }
  }
  return Damaged("no volume descriptor terminator");
}

namespace {

// RAR 5's variable-length integers: 7 bits a byte, low first, at most 10.
bool RarVint(Fragment& f, std::uint64_t& at, std::uint64_t limit, std::uint64_t& value) {
  value = 0;
  for (int i = 0; i < 10 && at < limit; ++i) {
    unsigned char b = 0;
    if (!f.Read(at++, &b, 1)) return false;
    value |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
    if ((b & 0x80) == 0) return true;
  }
  return false;
}

// RAR 5: after the signature, headers each with the CRC-32 of its size and
// body, and the size of the data that follows it, up to the end of archive
// header.
CheckResult CheckRar5(Fragment& f) {
  std::uint64_t at = 8, headers = 0;
  for (;;) {
    const std::string which = "header " + std::to_string(headers + 1);
    unsigned char crc[4];
    if (!f.Read(at, crc, 4)) return Truncated(kUnknown, "ends inside " + which);
    std::uint64_t p = at + 4, size = 0;
    if (!RarVint(f, p, f.Size(), size)) {
      if (p >= f.Size()) return Truncated(kUnknown, "ends inside " + which);
      return Damaged(which + " has a size that never ends");
    }
    if (size == 0 || size > 2 * 1024 * 1024) return Damaged(which + " has an impossible size");
    const std::uint64_t bodyEnd = p + size;
    std::uint32_t sum = 0;
    if (!CrcOf(f, at + 4, bodyEnd - (at + 4), sum)) return Truncated(kUnknown, "ends inside " + which);
    if (sum != Le32(crc)) return Damaged("CRC-32 of " + which + " does not match");
    std::uint64_t type = 0, flags = 0, extra = 0, data = 0;
    if (!RarVint(f, p, bodyEnd, type) || !RarVint(f, p, bodyEnd, flags) || ((flags & 1) && !RarVint(f, p, bodyEnd, extra)) ||
        ((flags & 2) && !RarVint(f, p, bodyEnd, data))) {
      return Damaged(which + " is malformed");
    }
    ++headers;
    if (type == 4) return Unchecked("headers are encrypted");
    if (type == 5) return Intact(bodyEnd, Count(headers, "header", "headers") + ", every CRC right");
    if (data > f.Size() - bodyEnd) return Truncated(kUnknown, "ends inside the data of " + which);
    at = bodyEnd + data;
  }
}

// RAR 4: blocks of a 7-byte head (CRC, type, flags, size), the size of the
// data that follows when flags say so, up to the end of archive block.
CheckResult CheckRar4(Fragment& f) {
  std::uint64_t at = 7, blocks = 0;
  unsigned char h[36];
  for (;;) {
    const std::string which = "block " + std::to_string(blocks + 1);
    if (!f.Read(at, h, 7)) return Truncated(kUnknown, "ends inside " + which);
    const std::uint8_t type = h[2];
    const std::uint16_t flags = Le16(h + 3), size = Le16(h + 5);
    if (type < 0x73 || type > 0x7B || size < 7) {
      // Archives of old versions may stop after their last file without an
      // end block: where they stop, slack cannot be told from damage.
      if (blocks > 1) return Unchecked("no end of archive block after " + Count(blocks, "block", "blocks"));
      return Damaged(which + " is no RAR block");
    }
    std::uint32_t sum = 0;
    if (!CrcOf(f, at + 2, size - 2u, sum)) return Truncated(kUnknown, "ends inside " + which);
    if ((sum & 0xFFFF) != Le16(h)) return Damaged("CRC of " + which + " does not match");
    ++blocks;
    if (type == 0x73 && (flags & 0x80)) return Unchecked("headers are encrypted");
    if (type == 0x7B) return Intact(at + size, Count(blocks, "block", "blocks") + ", every CRC right");
    std::uint64_t data = 0;
    if (flags & 0x8000) {
      if (size < 11 || !f.Read(at, h, std::min<std::size_t>(size, 36))) return Damaged(which + " is too short");
      data = Le32(h + 7);
      if (type == 0x74 && (flags & 0x100)) {
        if (size < 36) return Damaged(which + " is too short");
        data |= static_cast<std::uint64_t>(Le32(h + 32)) << 32;
      }
    }
    at += size;
    if (data > f.Size() - std::min(at, f.Size())) return Truncated(kUnknown, "ends inside the data of " + which);
    at += data;
  }
}

}  // namespace

CheckResult CheckRar(Fragment& f, const CheckOptions&) {
  unsigned char m[8];
  if (!f.Read(0, m, 7)) return Truncated(kUnknown, "ends inside the signature");
  if (std::memcmp(m, "Rar!\x1A\x07", 6) != 0) return Damaged("no RAR signature");
  if (m[6] == 0) return CheckRar4(f);
  if (m[6] == 1 && f.Read(0, m, 8) && m[7] == 0) return CheckRar5(f);
  return Damaged("unknown RAR version");
}

extern const FormatRow kSevenZipRow{.extensions = {"7z"}, .checker = Check7z};
extern const FormatRow kCabRow{.extensions = {"cab"}, .checker = CheckCab};
extern const FormatRow kIsoRow{.extensions = {"iso"}, .checker = CheckIso};
extern const FormatRow kRarRow{.extensions = {"rar"}, .checker = CheckRar};

}  // namespace tessaro::formats
