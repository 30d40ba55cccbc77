// Programs: ELF and PE say in their headers where every piece of the file
// lies; the file ends after the furthest piece.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/documents_parts.h"

namespace tessaro::formats {

namespace {

struct Endian {
  bool big = false;
  std::uint16_t U16(const unsigned char* p) const { return big ? Be16(p) : Le16(p); }
  std::uint32_t U32(const unsigned char* p) const { return big ? Be32(p) : Le32(p); }
  std::uint64_t U64(const unsigned char* p) const { return big ? Be64(p) : Le64(p); }
};

std::uint64_t Plus(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

}  // namespace

// ELF: the header, the program header table and its segments, the section
// header table and its sections (those that take room in the file).
CheckResult CheckElf(Fragment& f, const CheckOptions&) {
  unsigned char h[64];
  if (!f.Read(0, h, 52)) return Truncated(kUnknown, "ends inside the header");
  if (std::memcmp(h, "\x7F" "ELF", 4) != 0 || (h[4] != 1 && h[4] != 2) || (h[5] != 1 && h[5] != 2) || h[6] != 1) {
    return Damaged("no ELF header");
  }
  const bool wide = h[4] == 2;
  if (wide && !f.Read(0, h, 64)) return Truncated(kUnknown, "ends inside the header");
  const Endian e{h[5] == 2};
  const std::uint64_t phoff = wide ? e.U64(h + 32) : e.U32(h + 28);
  const std::uint64_t shoff = wide ? e.U64(h + 40) : e.U32(h + 32);
  const unsigned char* sizes = h + (wide ? 52 : 40);
  const std::uint16_t ehsize = e.U16(sizes);
  const std::uint16_t phentsize = e.U16(sizes + 2);
  std::uint64_t phnum = e.U16(sizes + 4);
  const std::uint16_t shentsize = e.U16(sizes + 6);
  std::uint64_t shnum = e.U16(sizes + 8);
  const std::uint16_t wantPh = wide ? 56 : 32;
  const std::uint16_t wantSh = wide ? 64 : 40;
  if (ehsize != (wide ? 64 : 52) || (phnum != 0 && phentsize != wantPh) || (shoff != 0 && shentsize != wantSh)) {
    return Damaged("impossible header sizes");
  }
  std::uint64_t end = ehsize;
  unsigned char r[64];
  // Section 0 holds the true counts when they do not fit the header.
  if (shoff != 0 && (shnum == 0 || phnum == 0xFFFF)) {
    if (!f.Read(shoff, r, wantSh)) return Truncated(Plus(shoff, wantSh), "ends before the section header table");
    if (shnum == 0) shnum = wide ? e.U64(r + 32) : e.U32(r + 20);
    if (phnum == 0xFFFF) phnum = e.U32(r + (wide ? 44 : 28));
  }
  if (phnum != 0) end = std::max(end, Plus(phoff, phnum * wantPh));
  if (shoff != 0) end = std::max(end, Plus(shoff, shnum * wantSh));
  if (end > f.Size()) return Truncated(end, "ends before its header tables; expected at least " + std::to_string(end));
  for (std::uint64_t i = 0; i < phnum; ++i) {
    if (!f.Read(phoff + i * wantPh, r, wantPh)) return Unchecked("a read failed");
    if (e.U32(r) == 0) continue;  // unused entry
    const std::uint64_t offset = wide ? e.U64(r + 8) : e.U32(r + 4);
    const std::uint64_t size = wide ? e.U64(r + 32) : e.U32(r + 16);
    end = std::max(end, Plus(offset, size));
  }
  for (std::uint64_t i = 0; i < shnum; ++i) {
    if (!f.Read(shoff + i * wantSh, r, wantSh)) return Unchecked("a read failed");
    const std::uint32_t type = e.U32(r + 4);
    if (type == 0 || type == 8) continue;  // unused, or takes no room in the file
    const std::uint64_t offset = wide ? e.U64(r + 24) : e.U32(r + 16);
    const std::uint64_t size = wide ? e.U64(r + 32) : e.U32(r + 20);
    end = std::max(end, Plus(offset, size));
  }
  if (end > f.Size()) return Truncated(end, "expected " + std::to_string(end) + " bytes");
  return Intact(end, std::to_string(phnum) + " segments, " + std::to_string(shnum) + " sections, ends at " +
                         std::to_string(end));
}

namespace {

// Data that installers and self-extracting archives append to a program,
// after everything its headers describe. What follows a program's end and
// begins like one of these is not slack.
bool LooksLikeOverlay(const unsigned char* p, std::size_t n) {
  static const char* const kMarks[] = {"PK\x03\x04", "Rar!\x1A\x07", "7z\xBC\xAF\x27\x1C", "MSCF", "zlb\x1A",
                                       "idska32\x1A", "\xEF\xBE\xAD\xDENullsoftInst", "!@Install@!"};
  for (const char* mark : kMarks) {
    const std::size_t m = std::strlen(mark);
    if (n >= m && std::memcmp(p, mark, m) == 0) return true;
    // NSIS puts four bytes of flags before its mark.
    if (n >= m + 4 && mark[0] == '\xEF' && std::memcmp(p + 4, mark, m) == 0) return true;
  }
  return false;
}

}  // namespace

// PE (.exe .dll): the headers, every section's raw data, the COFF symbol and
// string tables, the debug data and the certificate table (the one piece
// addressed by file offset). Whatever is appended after all of them cannot
// be told from slack by the format: known installer and archive data there
// makes the end unsure; anything else is taken for slack.
CheckResult CheckPe(Fragment& f, const CheckOptions&) {
  unsigned char mz[64];
  if (!f.Read(0, mz, sizeof mz)) return Truncated(kUnknown, "ends inside the DOS header");
  if (mz[0] != 'M' || mz[1] != 'Z') return Damaged("no MZ header");
  const std::uint64_t pe = Le32(mz + 0x3C);
  unsigned char h[24 + 240];
  if (!f.Read(pe, h, 24)) return f.Size() < pe ? Truncated(kUnknown, "ends before the PE header") : Damaged("no PE header");
  if (std::memcmp(h, "PE\0\0", 4) != 0) return Damaged("no PE header");
  const std::uint16_t sections = Le16(h + 6);
  const std::uint64_t symbols = Le32(h + 12);
  const std::uint64_t symbolCount = Le32(h + 16);
  const std::uint16_t optionalSize = Le16(h + 20);
  if (optionalSize < 96 || optionalSize > 240) return Damaged("impossible optional header size");
  if (!f.Read(pe + 24, h + 24, optionalSize)) return Truncated(kUnknown, "ends inside the optional header");
  const unsigned char* o = h + 24;
  const bool plus = Le16(o) == 0x20B;
  if (!plus && Le16(o) != 0x10B) return Damaged("unknown optional header");
  const std::uint32_t directories = Le32(o + (plus ? 108 : 92));
  const std::size_t directoryAt = plus ? 112 : 96;
  auto directory = [&](std::uint32_t index, std::uint32_t* where, std::uint32_t* size) {
    if (index >= directories || directoryAt + 8 * (index + 1) > optionalSize) return false;
    *where = Le32(o + directoryAt + 8 * index);
    *size = Le32(o + directoryAt + 8 * index + 4);
    return *size != 0;
  };
  const std::uint64_t table = pe + 24 + optionalSize;
  std::uint64_t end = std::max<std::uint64_t>(Le32(o + 60), table + 40ull * sections);
  if (end > f.Size()) return Truncated(kUnknown, "ends inside the headers");
  std::uint32_t debugRva = 0;
  std::uint32_t debugSize = 0;
  const bool debug = directory(6, &debugRva, &debugSize);
  std::uint64_t debugAt = kUnknown;
  for (std::uint16_t i = 0; i < sections; ++i) {
    unsigned char s[40];
    if (!f.Read(table + 40ull * i, s, sizeof s)) return Unchecked("a read failed");
    const std::uint32_t rva = Le32(s + 12);
    const std::uint32_t rawSize = Le32(s + 16);
    const std::uint32_t raw = Le32(s + 20);
    if (rawSize != 0) end = std::max(end, std::uint64_t{raw} + rawSize);
    if (debug && debugRva >= rva && debugRva - rva < rawSize) debugAt = std::uint64_t{raw} + (debugRva - rva);
  }
  // Debug data may lie outside every section, addressed by file offset.
  for (std::uint32_t k = 0; debugAt != kUnknown && k < debugSize / 28 && k < 64; ++k) {
    unsigned char d[28];
    if (!f.Read(debugAt + 28ull * k, d, sizeof d)) break;
    if (Le32(d + 16) != 0 && Le32(d + 24) != 0) end = std::max<std::uint64_t>(end, std::uint64_t{Le32(d + 24)} + Le32(d + 16));
  }
  if (symbols != 0) {
    const std::uint64_t strings = symbols + symbolCount * 18;
    unsigned char n[4];
    if (!f.Read(strings, n, 4)) return Truncated(kUnknown, "ends inside the symbol table");
    end = std::max(end, strings + std::max<std::uint32_t>(Le32(n), 4));
  }
  std::uint32_t certificates = 0;
  std::uint32_t certificatesSize = 0;
  const bool signedFile = directory(4, &certificates, &certificatesSize);
  if (signedFile) end = std::max<std::uint64_t>(end, std::uint64_t{certificates} + certificatesSize);
  if (end > f.Size()) return Truncated(end, "expected at least " + std::to_string(end) + " bytes");
  unsigned char after[32];
  const std::size_t more = f.ReadSome(end, after, sizeof after);
  // Appended data after a signature would be outside it: a signed program ends with its certificates.
  if (!signedFile && LooksLikeOverlay(after, more)) return Unchecked("installer or archive data follows at " + std::to_string(end));
  return Intact(end, std::to_string(sections) + " sections" + (signedFile ? ", signed" : "") + ", ends at " +
                         std::to_string(end));
}

}  // namespace tessaro::formats
