#pragma once
// What the exFAT and FAT readers share: the bytes they read entries from
// (a fragment through a bounded window, or a sector already in memory), the
// UTF-8 they write names in, and the readers themselves.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "engine/folders/folder_records.h"
#include "engine/formats/format_check.h"

namespace tessaro::folders {

inline constexpr std::size_t kEntrySize = 32;
// An exFAT set is at most 256 entries (a file entry and 255 secondaries).
inline constexpr std::size_t kLongestSet = 256 * kEntrySize;

// Entries from `begin` up to `end`, a whole set at a time. Over a fragment the
// bytes come through a window of a few sets, refilled by positioned reads.
class EntrySource {
 public:
  EntrySource(formats::Fragment& f, std::uint64_t end) : fragment_(&f), end_(end < f.Size() ? end : f.Size()) {}
  EntrySource(const unsigned char* bytes, std::size_t n) : bytes_(bytes), end_(n) {}
  EntrySource(const EntrySource&) = delete;
  EntrySource& operator=(const EntrySource&) = delete;

  std::uint64_t End() const { return end_; }
  bool Failed() const { return fragment_ != nullptr && fragment_->Failed(); }
  // The `n` (at most kLongestSet) bytes at `at`, or null when they do not all
  // lie before the end or cannot be read.
  const unsigned char* Get(std::uint64_t at, std::size_t n) {
    if (n > kLongestSet || at > end_ || n > end_ - at) return nullptr;
    if (bytes_ != nullptr) return bytes_ + at;
    if (at < windowAt_ || at + n > windowAt_ + windowLength_) {
      windowAt_ = at;
      const std::uint64_t room = end_ - at;
      const std::size_t want = room < sizeof window_ ? static_cast<std::size_t>(room) : sizeof window_;
      windowLength_ = fragment_->ReadSome(at, window_, want);
      if (windowLength_ < n) {
        windowLength_ = 0;
        return nullptr;
      }
    }
    return window_ + (at - windowAt_);
  }

 private:
  formats::Fragment* fragment_ = nullptr;
  const unsigned char* bytes_ = nullptr;
  std::uint64_t end_;
  std::uint64_t windowAt_ = 0;
  std::size_t windowLength_ = 0;
  unsigned char window_[4 * kLongestSet];
};

// How a reader is run: to read every record, or only to tell whether the
// first bytes begin records (BeginsFolderRecords), which stops at the first
// file or folder named and asks more of what precedes it.
enum class Reading : std::uint8_t { kAll, kProbe };

inline std::uint64_t Le(const unsigned char* p, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// Appends a code point as UTF-8; what is no character (a surrogate, past
// U+10FFFF, U+0000) becomes U+FFFD.
void AppendUtf8(std::string& out, std::uint32_t code);

// Decodes UTF-16 units, pairing surrogates; an unpaired one gives U+FFFD.
void AppendUtf16(std::string& out, const std::uint16_t* units, std::size_t n);

// The length to report for records from `offset` that were read up to `at`:
// through an end-of-folder entry at `at`, the rest of its sector too (never
// past `end`).
std::uint64_t RecordsLength(std::uint64_t offset, std::uint64_t at, bool ended, std::uint64_t end);

// The readers: nullopt when no file or folder is named at `offset`.
std::optional<FolderRecords> ReadExfat(EntrySource& source, std::uint64_t offset, Reading reading);
std::optional<FolderRecords> ReadFat(EntrySource& source, std::uint64_t offset, Reading reading);

}  // namespace tessaro::folders
