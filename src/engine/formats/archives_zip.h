#pragma once
// The central directory of a ZIP as the end record at the back of a fragment
// tells it. Used by the ZIP checker (archives_zip.cpp,
// archives_zip_directory.cpp) and by the look at a container's entries
// (container_kind.cpp).

#include <cstdint>

#include "engine/formats/zip_records.h"

namespace tessaro::formats {

// The central directory that an end record names, found by searching back
// from the fragment's end, so that a member whose sizes follow its data can
// take them from its entry instead of being inflated to find its end.
//
// Slack is not trusted: an end record is taken only when the directory it
// names lies whole before it, ends exactly where the end record (or its ZIP64
// record) begins, and holds as many entries, back to back, as it says. Every
// candidate from the back is tried in turn, up to a few that fit that
// arithmetic (only real end records do, so more means a crafted fragment).
// Reads go through bounded buffers; nothing grows with the fragment.
class ZipDirectory {
 public:
  explicit ZipDirectory(Fragment& f) : f_(f) {}

  // Whether such a directory was found. Searches on the first call only.
  bool Found();
  // The same, looking only at the end records in the fragment's last
  // kTail bytes: a quick look at an archive that fills its fragment, which
  // never reads the whole fragment.
  bool FoundInTail();
  static constexpr std::uint64_t kTail = 256 * 1024;
  // Whether Found was ever asked: only then can the walk have relied on it.
  bool Consulted() const { return state_ != State::kUnsearched; }
  // Where the directory's first entry begins; when Found.
  std::uint64_t Start() const { return start_; }
  // Entry number `k` (from 0), in the directory's order; false when it has
  // fewer or the entry cannot be read. Cheapest when asked in rising order.
  bool Entry(std::uint64_t k, CentralEntry& entry);

 private:
  bool Fits(std::uint64_t at, int& fitting);

  Fragment& f_;
  // Looks for an end record that fits among the starts [from, to), the
  // nearest to `to` first when `backwards`, else the nearest to `from`.
  bool Search(std::uint64_t from, std::uint64_t to, bool backwards, int& fitting);
  enum class State : std::uint8_t { kUnsearched, kFound, kNone } state_ = State::kUnsearched;
  std::uint64_t start_ = 0, end_ = 0;
  std::uint64_t cursor_ = 0, index_ = 0;  // the entry Entry reads next
};

}  // namespace tessaro::formats
