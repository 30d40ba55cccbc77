// ContainerKind: the names under a compound file's root, the entries of a
// ZIP's central directory.

#include "engine/formats/container_kind.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/formats/archives_zip.h"
#include "engine/formats/compound_reader.h"
#include "engine/formats/format_row.h"
#include "engine/formats/read_bytes.h"
#include "engine/formats/tiff_ifd.h"

namespace tessaro::formats {
namespace {

// A compound file with more entries than this is judged by the first ones.
constexpr std::uint32_t kMaxEntries = 4096;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

// The root's own class: an installer package (MSI).
constexpr unsigned char kMsiClass[16] = {0x84, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

bool Starts(std::u16string_view name, std::u16string_view prefix) {
  return name.substr(0, prefix.size()) == prefix;
}

// What one name directly under the root says; empty for names every
// compound file may have (summaries, embedded objects, ...).
std::string_view KindOfStream(std::u16string_view name) {
  if (Starts(name, u"__substg1.0_") || name == u"__properties_version1.0" || name == u"__nameid_version1.0") {
    return "msg";
  }
  if (name == u"VisioDocument") return "vsd";
  if (name == u"PowerPoint Document" || name == u"PP40") return "ppt";
  if (name == u"Workbook" || name == u"Book") return "xls";
  if (name == u"WordDocument") return "doc";
  return {};
}

std::string CompoundKind(Fragment& f) {
  // The reader keeps a whole allocation table's list: too big for a worker's stack.
  const auto reader = std::make_unique<CompoundFile>(f);
  CompoundFile& file = *reader;
  if (file.Open() != CompoundFile::Opened::kOk) return {};
  // The directory's sectors, in chain order, as far as kMaxEntries reach.
  const std::uint32_t perSector = file.SectorSize() / 128;
  std::vector<std::uint32_t> sectors;
  for (std::uint32_t s = file.Header().directory; s < kCompoundLastSector;) {
    if (sectors.size() * perSector >= kMaxEntries) break;
    for (std::uint32_t seen : sectors) {
      if (seen == s) return {};  // a loop
    }
    sectors.push_back(s);
    if (!file.Next(s, s)) break;
  }
  auto entry = [&](std::uint32_t id, unsigned char* e) {
    if (id / perSector >= sectors.size()) return false;
    return f.Read(file.Offset(sectors[id / perSector]) + std::uint64_t{id % perSector} * 128, e, 128);
  };
  unsigned char e[128];
  if (!entry(0, e) || e[66] != 5) return {};
  const bool msi = std::memcmp(e + 80, kMsiClass, sizeof kMsiClass) == 0;
  // The root's children are one tree of siblings under its child; each
  // entry is visited once, so a hostile tree that loops ends.
  std::vector<bool> visited(sectors.size() * perSector, false);
  std::vector<std::uint32_t> pending{Le32(e + 76)};
  std::string_view found;
  while (!pending.empty()) {
    const std::uint32_t id = pending.back();
    pending.pop_back();
    if (id == kNoEntry || id >= visited.size() || visited[id] || !entry(id, e)) continue;
    visited[id] = true;
    pending.push_back(Le32(e + 68));
    pending.push_back(Le32(e + 72));
    const std::uint16_t bytes = Le16(e + 64);
    if (bytes < 2 || bytes > 64 || bytes % 2 != 0) continue;
    std::u16string name;
    for (std::uint16_t i = 0; i + 2 < bytes; i += 2) name.push_back(static_cast<char16_t>(Le16(e + i)));
    const std::string_view kind = KindOfStream(name);
    // The order of the list above decides between two (none is known to
    // stand beside another under one root).
    if (!kind.empty() && (found.empty() || std::string_view("msg vsd ppt xls doc").find(kind) <
                                               std::string_view("msg vsd ppt xls doc").find(found))) {
      found = kind;
    }
  }
  if (!found.empty()) return std::string(found);
  return msi ? "msi" : "";
}

// The main part that names an Office package's format.
struct PackagePart {
  std::string_view name;
  std::string_view kind;
};
constexpr PackagePart kPackageParts[] = {
    {"word/document.xml", "docx"},   {"xl/workbook.xml", "xlsx"},      {"xl/workbook.bin", "xlsb"},
    {"ppt/presentation.xml", "pptx"}, {"visio/document.xml", "vsdx"},
};

std::string ZipKind(Fragment& f) {
  ZipDirectory directory(f);
  if (!directory.FoundInTail()) return {};
  bool types = false, other = false;
  std::string_view part;
  CentralEntry entry;
  char name[64];
  for (std::uint64_t k = 0; directory.Entry(k, entry); ++k) {
    if (k >= kMaxEntries) return {};
    const std::size_t n = std::min<std::size_t>(entry.nameLength, sizeof name);
    if (!f.Read(entry.name, name, n)) return {};
    const std::string_view text(name, n);
    const bool whole = entry.nameLength <= sizeof name;
    if (whole && text == "[Content_Types].xml") types = true;
    // An OpenDocument file, an e-book, a Java archive: the catalogue tells
    // those by the bytes at their start, and they are left to it.
    if ((whole && text == "mimetype") || text.substr(0, 9) == "META-INF/") other = true;
    if (whole && text.size() > 6 && text.substr(text.size() - 6) == ".fdseq") part = "xps";
    for (const PackagePart& p : kPackageParts) {
      if (whole && text == p.name) part = p.kind;
    }
  }
  if (other) return {};
  if (types) return std::string(part);
  return "zip";
}

// TIFF and the camera raws built on it: the first IFD's DNGVersion tag makes
// a DNG, else its maker (and Canon's own header) the camera's raw; a TIFF
// without either is a TIFF.
std::string TiffKind(Fragment& f, const unsigned char* head) {
  ByteOrder order;
  if (!TiffByteOrder(head, order)) return {};
  TiffReader tiff(f, order);
  const std::uint32_t ifd = order.U32(head + 4);
  unsigned count = 0;
  if (ifd < 8 || !tiff.Entries(ifd, count) || count == 0 || count > 1000) return {};
  std::string make;
  for (unsigned i = 0; i < count; ++i) {
    TiffEntry entry;
    if (!tiff.Entry(ifd, i, entry)) return {};
    if (entry.tag == 0xC612) return "dng";
    if (entry.tag == 0x010F && entry.type == 2 && entry.count > 0) {
      char text[16] = {};
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(entry.count, sizeof text));
      const bool read = entry.Fits() ? (std::memcpy(text, entry.field, n), true) : tiff.Read(tiff.Offset(entry), text, n);
      if (!read) return {};
      make.assign(text, strnlen(text, n));
    }
  }
  auto starts = [&](std::string_view maker) {
    if (make.size() < maker.size()) return false;
    for (std::size_t i = 0; i < maker.size(); ++i) {
      if (std::toupper(static_cast<unsigned char>(make[i])) != maker[i]) return false;
    }
    return true;
  };
  if (starts("NIKON")) return "nef";
  if (starts("SONY")) return "arw";
  if (starts("CANON")) return std::memcmp(head + 8, "CR\x02", 3) == 0 ? "cr2" : "tif";
  return "tif";
}

// A HEIF file under the general brands (mif1, msf1), as phones write it: its
// compatible brands tell AVIF from HEIC.
std::string HeifKind(Fragment& f, const unsigned char* head) {
  if (std::memcmp(head + 8, "mif1", 4) != 0 && std::memcmp(head + 8, "msf1", 4) != 0) return {};
  const std::uint32_t size = Be32(head);
  unsigned char brands[64];
  if (size < 20 || size > 16 + sizeof brands || !f.Read(16, brands, size - 16)) return {};
  std::string_view found;
  for (std::uint32_t at = 0; at + 4 <= size - 16; at += 4) {
    const std::string_view brand(reinterpret_cast<const char*>(brands + at), 4);
    if (brand == "avif" || brand == "avis") return "avif";
    if (brand == "heic" || brand == "heix" || brand == "heim" || brand == "heis" || brand == "hevc" ||
        brand == "hevx") {
      found = "heic";
    }
  }
  return std::string(found);
}

}  // namespace

std::string ContainerKind(Fragment& f) {
  unsigned char head[12];
  if (!f.Read(0, head, sizeof head)) return {};
  if (std::memcmp(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0) return CompoundKind(f);
  if (std::memcmp(head, "PK\x03\x04", 4) == 0) return ZipKind(f);
  if (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0) return TiffKind(f, head);
  if (std::memcmp(head + 4, "ftyp", 4) == 0) return HeifKind(f, head);
  return {};
}

StartTest StartTestOf(std::string_view extension) {
  const FormatRow* row = FindEntry(extension);
  return row == nullptr ? nullptr : row->startTest;
}

}  // namespace tessaro::formats
