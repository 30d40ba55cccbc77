// Programs: ELF and PE say in their headers where every piece of the file
// lies; the file ends after the furthest piece, or after the payload a
// self-extractor or installer appends to it.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/byte_reader.h"
#include "engine/formats/documents_parts.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

std::uint64_t Plus(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// Data that installers and self-extractors append to a program, after
// everything its headers describe: an archive, an installer's data, an
// AppImage's squashfs image. What follows a program's end and begins like one
// of these is not slack.
bool LooksLikeOverlay(const unsigned char* p, std::size_t n) {
  static const char* const kMarks[] = {"PK\x03\x04", "Rar!\x1A\x07", "7z\xBC\xAF\x27\x1C", "MSCF", "zlb\x1A",
                                       "idska32\x1A", "\xEF\xBE\xAD\xDENullsoftInst", "!@Install@!", "hsqs"};
  for (const char* mark : kMarks) {
    const std::size_t m = std::strlen(mark);
    if (n >= m && std::memcmp(p, mark, m) == 0) return true;
    // NSIS puts four bytes of flags before its mark.
    if (n >= m + 4 && mark[0] == '\xEF' && std::memcmp(p + 4, mark, m) == 0) return true;
  }
  return false;
}

// A PyInstaller program's archive begins where the program ends and has no
// mark there: its cookie ("MEI\014\013\012\013\016", then the archive's length,
// big-endian) closes it. Where the archive the cookie measures begins right
// at `start`, the file ends after the cookie; else kUnknown. The cookie is 24
// bytes long, or 88 with the name of the Python library (PyInstaller 2.1 on).
std::uint64_t PyInstallerEnd(Fragment& f, std::uint64_t start) {
  static const char kCookie[] = "MEI\014\013\012\013\016";
  std::uint64_t at = FindBytes(f, start, f.Size(), kCookie, 8);
  for (int tries = 0; at != kUnknown && tries < 16; ++tries, at = FindBytes(f, at + 1, f.Size(), kCookie, 8)) {
    unsigned char length[4];
    if (!f.Read(at + 8, length, 4)) break;
    for (const std::uint64_t size : {88u, 24u}) {
      if (f.Holds(at, size) && at + size >= start && at + size - start == Be32(length)) return at + size;
    }
  }
  return kUnknown;
}

// What a program's structure ending at `end` leaves to the bytes after it:
// kUnknown when data appended to it begins there whose own end is unsure,
// else where the file ends (`end`, or the end of an appended archive that
// tells it).
std::uint64_t AfterProgram(Fragment& f, std::uint64_t end) {
  unsigned char after[32];
  const std::size_t more = f.ReadSome(end, after, sizeof after);
  if (LooksLikeOverlay(after, more)) return kUnknown;
  // Zeros are slack: no archive begins so, and the search for a cookie
  // costs a read of the rest of the fragment.
  if (std::all_of(after, after + more, [](unsigned char b) { return b == 0; })) return end;
  const std::uint64_t archive = PyInstallerEnd(f, end);
  return archive != kUnknown ? archive : end;
}

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
  const ByteOrder e{h[5] == 2};
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
  // The table of section names must be a string table: a section header
  // table of zeros (slack where the real one was cut off) is not one.
  const std::uint32_t names = e.U16(sizes + 10);
  if (shnum > 0 && names != 0) {
    if (names >= shnum || !f.Read(shoff + names * wantSh, r, wantSh)) return Damaged("no table of section names");
    if (std::all_of(r, r + wantSh, [](unsigned char b) { return b == 0; })) {
      return Truncated(end, "zeros where the section header table should be: cut off before it");
    }
    if (e.U32(r + 4) != 3) return Damaged("the table of section names is no string table");
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
  // A self-extractor, an AppImage or a PyInstaller program carries its
  // payload after everything the headers describe.
  const std::uint64_t whole = AfterProgram(f, end);
  if (whole == kUnknown) return Unchecked("an archive or other payload follows at " + std::to_string(end));
  return Intact(whole, std::to_string(phnum) + " segments, " + std::to_string(shnum) + " sections" +
                           (whole == end ? "" : ", then an archive to its cookie") + ", ends at " + std::to_string(whole));
}

// PE (.exe .dll): the headers, every section's raw data, the COFF symbol and
// string tables, the debug data and the certificate table (the one piece
// addressed by file offset). Whatever is appended after all of them cannot
// be told from slack by the format: known installer and archive data there
// makes the end unsure (AfterProgram); anything else is taken for slack.
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
  // Appended data after a signature would be outside it: a signed program ends with its certificates.
  const std::uint64_t whole = signedFile ? end : AfterProgram(f, end);
  if (whole == kUnknown) return Unchecked("installer or archive data follows at " + std::to_string(end));
  return Intact(whole, std::to_string(sections) + " sections" + (signedFile ? ", signed" : "") +
                           (whole == end ? "" : ", then an archive to its cookie") + ", ends at " + std::to_string(whole));
}

namespace {

// Sequential reads of a class file's many small big-endian fields.
class Cursor : public ByteReader {
 public:
  using ByteReader::ByteReader;
  std::uint64_t At() const { return Position(); }
  bool U16(std::uint32_t* v) {
    unsigned char b[2];
    if (!Bytes(b, 2)) return false;
    *v = Be16(b);
    return true;
  }
  bool U32(std::uint32_t* v) {
    unsigned char b[4];
    if (!Bytes(b, 4)) return false;
    *v = Be32(b);
    return true;
  }
  // An unsigned LEB128 number of at most 32 bits.
  bool Leb(std::uint32_t* v) {
    std::uint32_t value = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      std::uint8_t b = 0;
      if (!Byte(&b)) return false;
      value |= static_cast<std::uint32_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) {
        *v = value;
        return true;
      }
    }
    return false;
  }
};

// A list of fields or methods (or, with `members` false, of attributes):
// each member's fixed part and its attributes (name, length, data).
bool SkipMembers(Cursor& c, bool members) {
  std::uint32_t count = 0;
  if (!c.U16(&count)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t attributes = 1;
    if (members && (!c.Skip(6) || !c.U16(&attributes))) return false;
    for (std::uint32_t k = 0; k < attributes; ++k) {
      std::uint32_t length = 0;
      if (!c.Skip(2) || !c.U32(&length) || !c.Skip(length)) return false;
    }
  }
  return true;
}

}  // namespace

// Java class: the constant pool (each entry's size told by its tag), the
// class's names and interfaces, fields, methods and attributes, to the end.
CheckResult CheckJavaClass(Fragment& f, const CheckOptions&) {
  Cursor c(f, 0);
  std::uint32_t magic = 0;
  std::uint32_t version = 0;
  std::uint32_t entries = 0;
  if (!c.U32(&magic) || !c.Skip(2) || !c.U16(&version) || !c.U16(&entries)) {
    return Truncated(kUnknown, "ends inside the header");
  }
  if (magic != 0xCAFEBABE || version < 45) return Damaged("no class file header");
  for (std::uint32_t i = 1; i < entries; ++i) {
    std::uint8_t tag = 0;
    if (!c.Byte(&tag)) return Truncated(kUnknown, "ends inside the constant pool");
    std::uint32_t length = 0;
    bool ok = true;
    switch (tag) {
      case 1: ok = c.U16(&length) && c.Skip(length); break;       // UTF-8 text
      case 7: case 8: case 16: case 19: case 20: ok = c.Skip(2); break;
      case 15: ok = c.Skip(3); break;                             // method handle
      case 3: case 4: case 9: case 10: case 11: case 12: case 17: case 18: ok = c.Skip(4); break;
      case 5: case 6: ok = c.Skip(8); ++i; break;                 // long and double take two slots
      default: return Damaged("unknown constant pool tag " + std::to_string(tag) + " at entry " + std::to_string(i));
    }
    if (!ok) return Truncated(kUnknown, "ends inside the constant pool");
  }
  std::uint32_t interfaces = 0;
  if (!c.Skip(6) || !c.U16(&interfaces) || !c.Skip(2ull * interfaces) || !SkipMembers(c, true) ||
      !SkipMembers(c, true) || !SkipMembers(c, false)) {
    return Truncated(kUnknown, "ends inside the fields, methods or attributes");
  }
  return Intact(c.At(), std::to_string(entries) + " constants, ends at " + std::to_string(c.At()));
}

// WebAssembly: the header, then sections (id, size) to the file's end,
// which the format does not mark: the sections run on while each is well
// formed (a known id in its order, a custom section with its name inside it)
// and lies inside the fragment. The end is sure only where what follows
// cannot begin any section (an id beyond the known ones, an empty custom
// section as zeros give): a known section out of its order may be damage.
// A module that declares functions must have their code.
CheckResult CheckWasm(Fragment& f, const CheckOptions&) {
  unsigned char h[8];
  if (!f.Read(0, h, sizeof h)) return Truncated(kUnknown, "ends inside the header");
  if (std::memcmp(h, "\0asm\x01\0\0\0", 8) != 0) return Damaged("no WebAssembly header");
  // The order of the known sections: type import function table memory tag
  // global export start element datacount code data (ids 1..13, tag = 13,
  // datacount = 12).
  static const int kOrder[14] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 12, 13, 11, 6};
  int last = 0;
  bool functions = false;
  bool code = false;
  std::uint64_t sections = 0;
  std::uint64_t at = 8;
  bool sure = true;
  while (at < f.Size()) {
    Cursor c(f, at);
    std::uint8_t id = 0;
    std::uint32_t size = 0;
    if (!c.Byte(&id) || id > 13) break;
    sure = false;
    if (!c.Leb(&size)) break;
    if (id != 0 && kOrder[id] <= last) break;
    const std::uint64_t body = c.At();
    if (id == 0) {
      std::uint32_t name = 0;
      sure = size == 0;
      if (size == 0 || !c.Leb(&name) || c.At() - body + name > size) break;
    }
    sure = true;
    if (!f.Holds(body, size)) {
      return Truncated(body + size, "ends inside section " + std::to_string(sections) + " (id " + std::to_string(id) + ")");
    }
    if (id != 0) last = kOrder[id];
    functions = functions || id == 3;
    code = code || id == 10;
    at = body + size;
    ++sections;
  }
  if (!sure) return Unchecked("what follows the section ending at " + std::to_string(at) + " may be a section out of place");
  if (functions && !code) return Truncated(kUnknown, "the functions' code is missing");
  return Intact(at, std::to_string(sections) + " sections, ends at " + std::to_string(at));
}

extern const FormatRow kJavaClassRow{.extensions = {"class"}, .checker = CheckJavaClass};
extern const FormatRow kWasmRow{.extensions = {"wasm"}, .checker = CheckWasm, .knowsWhenCut = false};
extern const FormatRow kElfRow{.extensions = {"elf", "so"}, .checker = CheckElf};
extern const FormatRow kPeRow{.extensions = {"exe", "dll"}, .checker = CheckPe};

}  // namespace tessaro::formats
