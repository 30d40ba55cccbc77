// The central directory found from the back of a fragment.

#include "engine/formats/archives_zip.h"

#include <algorithm>
#include <cstring>

namespace tessaro::formats {

bool ZipDirectory::Found() {
  if (state_ != State::kUnsearched) return state_ == State::kFound;
  state_ = State::kNone;
  if (f_.Size() < 22) return false;
  // A fragment the archive fills has its end record in its last sectors:
  // after it come only the archive's comment and the slack of a cluster, so
  // those are searched from the end backwards. Where more follows (a file
  // that begins inside a fragment, other files after it), the archive's own
  // end record is the first one that fits from its start: searched forwards,
  // it costs a read of the archive, not of everything after it.
  const std::uint64_t last = f_.Size() - 21;  // one past the last start to look at
  const std::uint64_t split = last > kTail ? last - kTail : 0;
  int fitting = 0;
  if (Search(split, last, true, fitting) || fitting >= 4) return state_ == State::kFound;
  Search(0, split, false, fitting);
  return state_ == State::kFound;
}

bool ZipDirectory::FoundInTail() {
  if (state_ != State::kUnsearched) return state_ == State::kFound;
  state_ = State::kNone;
  if (f_.Size() < 22) return false;
  const std::uint64_t last = f_.Size() - 21;
  int fitting = 0;
  Search(last > kTail ? last - kTail : 0, last, true, fitting);
  return state_ == State::kFound;
}

bool ZipDirectory::Search(std::uint64_t from, std::uint64_t to, bool backwards, int& fitting) {
  // Windows, each read with the three bytes after it so that a signature
  // across two windows is seen whole.
  constexpr std::size_t kWindow = 16384;
  unsigned char buffer[kWindow + 3];
  for (std::uint64_t done = 0; done < to - from;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, to - from - done));
    const std::uint64_t low = backwards ? to - done - n : from + done;
    if (!f_.Read(low, buffer, n + 3)) return false;
    // Each 'P' in the window in the search's order; memchr leaps over the
    // bytes between them.
    const unsigned char* const first = buffer;
    const unsigned char* const stop = buffer + n;
    const unsigned char* p = backwards ? stop : first;
    for (;;) {
      if (backwards) {
        while (p != first && *--p != 'P') {
        }
        if (*p != 'P') break;
      } else {
        p = static_cast<const unsigned char*>(std::memchr(p, 'P', static_cast<std::size_t>(stop - p)));
        if (p == nullptr) break;
      }
      const std::size_t i = static_cast<std::size_t>(p - first);
      if (!backwards) ++p;
      if (Le32(buffer + i) != kZipEnd) {
        if (backwards && i == 0) break;
        continue;
      }
      if (Fits(low + i, fitting)) {
        state_ = State::kFound;
        cursor_ = start_;
        return true;
      }
      if (fitting >= 4) return false;
      if (backwards && i == 0) break;
    }
    done += n;
  }
  return false;
}

// Whether the end record at `at` names a directory that lies whole before it,
// ends where the end records begin and holds the entries it says. `fitting`
// counts the candidates whose numbers fit, each of which costs a walk.
bool ZipDirectory::Fits(std::uint64_t at, int& fitting) {
  unsigned char e[22];
  if (!f_.Read(at, e, 22) || Le16(e + 4) != 0 || Le16(e + 6) != 0) return false;
  std::uint64_t entries = Le16(e + 10), bytes = Le32(e + 12), start = Le32(e + 16), end = at;
  // When a ZIP64 locator stands right before, the ZIP64 end record it points
  // at tells the numbers (the narrow fields may be all ones), and the
  // directory ends where that record begins; the record ends at the locator.
  unsigned char l[20], z[56];
  if (at >= 20 && f_.Read(at - 20, l, 20) && Le32(l) == kZip64Locator) {
    const std::uint64_t record = Le64(l + 8), locator = at - 20;
    if (locator < 56 || record > locator - 56 || !f_.Read(record, z, 56) || Le32(z) != kZip64End ||
        Le64(z + 4) != locator - record - 12) {
      return false;
    }
    entries = Le64(z + 32);
    bytes = Le64(z + 40);
    start = Le64(z + 48);
    end = record;
  } else if (entries == 0xFFFF || bytes == 0xFFFFFFFF) {
    return false;
  } else if (start == 0xFFFFFFFF && bytes <= end) {
    // Info-ZIP writing ZIP64 to a pipe sets the offset so and leaves the
    // ZIP64 records out; the directory is then the `bytes` before us.
    start = end - bytes;
  }
  if (start > end || bytes != end - start) return false;
  ++fitting;
  std::uint64_t walked = 0;
  for (std::uint64_t p = start; p < end; ++walked) {
    CentralEntry entry;
    if (walked == entries || ReadCentral(f_, p, entry) != ZipRead::kOk) return false;
    p = entry.next;
    if (p > end) return false;
  }
  if (walked != entries) return false;
  start_ = start;
  end_ = end;
  return true;
}

bool ZipDirectory::Entry(std::uint64_t k, CentralEntry& entry) {
  if (!Found()) return false;
  if (k < index_) {
    cursor_ = start_;
    index_ = 0;
  }
  for (; index_ <= k; ++index_) {
    if (cursor_ >= end_ || ReadCentral(f_, cursor_, entry) != ZipRead::kOk) return false;
    cursor_ = entry.next;
  }
  return true;
}

}  // namespace tessaro::formats
