#include "engine/folders/folder_records.h"

#include <memory>
#include <new>

#include "engine/folders/record_source.h"

namespace tessaro::folders {

const char* FileSystemName(FileSystem system) { return system == FileSystem::kExfat ? "exFAT" : "FAT"; }

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void AppendUtf16(std::string& out, const std::uint16_t* units, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t unit = units[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else {
      AppendUtf8(out, unit);  // an unpaired surrogate becomes U+FFFD there
    }
  }
}

std::uint64_t RecordsLength(std::uint64_t offset, std::uint64_t at, bool ended, std::uint64_t end) {
  if (!ended) return at - offset;
  // The end-of-folder entry, and the zeros a file system leaves after it to
  // the end of its sector: a sector is written whole.
  const std::uint64_t sectorEnd =
      (at + kEntrySize + formats::kSectorSize - 1) / formats::kSectorSize * formats::kSectorSize;
  return (sectorEnd < end ? sectorEnd : end) - offset;
}

bool BeginsFolderRecords(const unsigned char* sector, std::size_t n) {
  if (sector == nullptr) return false;
  EntrySource source(sector, n - n % kEntrySize);
  if (ReadExfat(source, 0, Reading::kProbe)) return true;
  return ReadFat(source, 0, Reading::kProbe).has_value();
}

std::optional<FolderRecords> ReadFolderRecords(formats::Fragment& f, std::uint64_t offset, std::uint64_t limit) {
  // Up to 32 KiB of window: kept off the caller's stack, which a scanner of
  // many fragments may already use deeply.
  auto source = std::unique_ptr<EntrySource>(new (std::nothrow) EntrySource(f, limit));
  if (!source || offset >= source->End()) return std::nullopt;
  std::optional<FolderRecords> records = ReadExfat(*source, offset, Reading::kAll);
  if (!records && !source->Failed()) records = ReadFat(*source, offset, Reading::kAll);
  if (source->Failed()) return std::nullopt;
  return records;
}

}  // namespace tessaro::folders
