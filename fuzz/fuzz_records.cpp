// Fuzz target: the reader of a lost folder's records on arbitrary bytes.
//
// Input: two bytes, then the fragment. The first chooses where the records are
// read (that many 32-byte entries in, below the fragment's end), the second
// where the area they may occupy ends (that many 512-byte sectors after them;
// 0: the fragment's end). Held to:
// - no crash, no read past the fragment, no hang (the sanitizers, Fragment's
//   bounds, libFuzzer's timeout);
// - the records lie inside the area; each entry begins inside them, in
//   order; at most kMaxEntries; names are UTF-8 without a NUL, of at most
//   255 UTF-16 units;
// - where the bytes are said to begin records, records are read there;
// - through a view of the same bytes at an offset inside a larger file, the
//   same records, at the same offsets of the view.
// Real folders of a FAT32 and an exFAT volume are the seeds (fuzz/corpus/records).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "engine/folders/folder_records.h"
#include "memory_file.h"
#include "platform/platform.h"

using namespace tessaro;
using namespace tessaro::folders;

namespace {

[[noreturn]] void Fail(const char* what, std::uint64_t at) {
  std::fprintf(stderr, "records at %llu: %s\n", static_cast<unsigned long long>(at), what);
  std::abort();
}

std::optional<FolderRecords> Read(const std::string& path, std::uint64_t base, std::uint64_t size, std::uint64_t at,
                                  std::uint64_t limit) {
  Platform& platform = SystemPlatform();
  int error = 0;
  const FileHandle file = platform.OpenRead(path, error);
  if (file == kNoFile) std::abort();
  formats::Fragment fragment(platform, file, base, size);
  std::optional<FolderRecords> records = ReadFolderRecords(fragment, at, limit);
  platform.Close(file);
  if (fragment.Failed()) std::abort();  // a memory file never fails a read inside it
  return records;
}

bool Utf8WithoutNul(const std::string& name) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < name.size();) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const std::size_t n = c == 0 ? 0 : c < 0x80 ? 1 : c >= 0xF5 ? 0 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (n == 0 || i + n > name.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(name[i + k]) & 0xC0) != 0x80) return false;
    }
    units += n == 4 ? 2 : 1;
    i += n;
  }
  return units <= 255;
}

void CheckBounded(const FolderRecords& records, std::uint64_t at, std::uint64_t end) {
  if (records.offset != at) Fail("records not where they were read", at);
  if (records.length == 0 || records.length > end - at) Fail("records past their area", at);
  if (records.entries.size() > kMaxEntries) Fail("too many entries", at);
  if (records.entries.empty() && !records.hasDotEntries) Fail("records that name nothing", at);
  std::uint64_t last = at;
  for (const FolderEntry& entry : records.entries) {
    if (entry.recordOffset < last || entry.recordOffset >= at + records.length) Fail("an entry out of place", at);
    last = entry.recordOffset;
    if (entry.name.empty() || !Utf8WithoutNul(entry.name)) Fail("a name that is not one", at);
  }
}

bool Same(const FolderRecords& a, const FolderRecords& b) {
  if (a.system != b.system || a.offset != b.offset || a.length != b.length || a.ended != b.ended ||
      a.hasDotEntries != b.hasDotEntries || a.selfCluster != b.selfCluster || a.parentCluster != b.parentCluster ||
      a.entries.size() != b.entries.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.entries.size(); ++i) {
    const FolderEntry& x = a.entries[i];
    const FolderEntry& y = b.entries[i];
    if (x.name != y.name || x.isFolder != y.isFolder || x.firstCluster != y.firstCluster || x.size != y.size ||
        x.validSize != y.validSize || x.contiguous != y.contiguous || x.recordOffset != y.recordOffset) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t entry = data[0], sectors = data[1];
  data += 2;
  size -= 2;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::uint64_t at = std::uint64_t{entry} * 32 % size;
  const std::uint64_t end = sectors == 0 ? size : std::min<std::uint64_t>(size, at + std::uint64_t{sectors} * 512);

  static fuzz::MemoryFile file("tessaro-records-fragment");
  const std::optional<FolderRecords> alone = Read(file.Fill(bytes), 0, size, at, end);
  if (alone) CheckBounded(*alone, at, end);
  if (BeginsFolderRecords(data + at, end - at) && !alone) Fail("said to begin records, but none read", at);

  // The same bytes inside a larger file: other bytes before and after.
  static fuzz::MemoryFile larger("tessaro-records-view");
  const std::size_t before = 512 + sectors;
  std::string around(before, '\x85');
  around += bytes;
  around.append(4096, '\xC1');
  const std::optional<FolderRecords> viewed = Read(larger.Fill(around), before, size, at, end);
  if (alone.has_value() != viewed.has_value() || (alone && !Same(*alone, *viewed))) {
    Fail("different through a view", at);
  }
  return 0;
}
