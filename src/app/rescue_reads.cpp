// Rescue reading: the careful pass over a fragment on a failing medium, and
// the reads it serves afterwards.

#include "app/rescue_reads.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace tessaro {

namespace {

using Clock = std::chrono::steady_clock;

// Adds [offset, offset + length) to an ordered list of ranges, joining it
// with those it touches.
void AddRange(std::vector<RescueReads::Range>& ranges, std::uint64_t offset, std::uint64_t length) {
  if (length == 0) return;
  std::uint64_t end = offset + length;
  auto it = std::lower_bound(ranges.begin(), ranges.end(), offset,
                             [](const RescueReads::Range& r, std::uint64_t at) { return r.offset + r.length < at; });
  while (it != ranges.end() && it->offset <= end) {
    offset = std::min(offset, it->offset);
    end = std::max(end, it->offset + it->length);
    it = ranges.erase(it);
  }
  ranges.insert(it, {offset, end - offset});
}

// The first range of `ranges` that ends after `offset`, or none.
const RescueReads::Range* NextRange(const std::vector<RescueReads::Range>& ranges, std::uint64_t offset) {
  for (const RescueReads::Range& r : ranges) {
    if (r.offset + r.length > offset) return &r;
  }
  return nullptr;
}

}  // namespace

RescueReads::RescueReads(Platform& inner) : inner_(inner) {}

RescueReads::~RescueReads() {
  for (auto& [file, open] : open_) {
    if (open->image != kNoFile) {
      inner_.Close(open->image);
      int error = 0;
      inner_.Remove(open->imagePath, error);
    }
  }
}

void RescueReads::SetScratchFolder(std::string folder) { scratch_ = std::move(folder); }

RescueReads::Open* RescueReads::Find(FileHandle file) const {
  if (tracked_.load() == 0) return nullptr;
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = open_.find(file);
  return it == open_.end() ? nullptr : it->second.get();
}

void RescueReads::Track(FileHandle file, std::uint64_t size) {
  auto open = std::make_unique<Open>();
  open->size = size;
  const std::lock_guard<std::mutex> lock(mutex_);
  open_[file] = std::move(open);
  tracked_.store(open_.size());
}

FileHandle RescueReads::OpenRead(const std::string& path, int& error) {
  const FileHandle file = inner_.OpenRead(path, error);
  if (enabled_ && file != kNoFile) {
    FileStatus status;
    int statusError = 0;
    Track(file, inner_.Status(path, status, statusError) && status.isRegular ? status.size : kNone);
  }
  return file;
}

FileHandle RescueReads::StatusAndOpen(const std::string& path, FileStatus& status, int& error, bool& statusFailed) {
  const FileHandle file = inner_.StatusAndOpen(path, status, error, statusFailed);
  if (enabled_ && file != kNoFile) Track(file, status.size);
  return file;
}

void RescueReads::Close(FileHandle file) {
  std::unique_ptr<Open> open;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = open_.find(file);
    if (it != open_.end()) {
      open = std::move(it->second);
      open_.erase(it);
      tracked_.store(open_.size());
    }
  }
  inner_.Close(file);
  if (open != nullptr && open->image != kNoFile) {
    inner_.Close(open->image);
    int error = 0;
    inner_.Remove(open->imagePath, error);
  }
}

std::vector<RescueReads::Range> RescueReads::Unreadable(FileHandle file, std::uint64_t offset,
                                                        std::uint64_t length) const {
  std::vector<Range> found;
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = open_.find(file);
  if (it == open_.end()) return found;
  const std::uint64_t end = offset + std::min(length, UINT64_MAX - offset);
  for (const Range& r : it->second->unreadable) {
    const std::uint64_t from = std::max(r.offset, offset);
    const std::uint64_t to = std::min(r.offset + r.length, end);
    if (from < to) found.push_back({from - offset, to - from});
  }
  return found;
}

bool RescueReads::Seek(FileHandle file, std::uint64_t offset, int& error) {
  const bool moved = inner_.Seek(file, offset, error);
  if (Open* open = Find(file)) {
    const std::lock_guard<std::mutex> lock(mutex_);
    open->position = offset;
  }
  return moved;
}

bool RescueReads::Rewind(FileHandle file, int& error) {
  const bool moved = inner_.Rewind(file, error);
  if (Open* open = Find(file)) {
    const std::lock_guard<std::mutex> lock(mutex_);
    open->position = 0;
  }
  return moved;
}

std::size_t RescueReads::ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t n) {
  Open* open = Find(file);
  if (open == nullptr) return inner_.ReadAt(file, offset, buffer, n);
  if (BeginDirect(*open)) {
    const Clock::time_point start = Clock::now();
    const std::size_t got = inner_.ReadAt(file, offset, buffer, n);
    const bool whole = got == n || (open->size != kNone && offset + got >= open->size);
    // Where the size is not known, a short read cannot be told from the end.
    const bool fine = open->size == kNone || (whole && Clock::now() - start <= slowLimit_);
    if (!fine && !whole) NoteFailure(*open, offset, got);
    open->direct.fetch_sub(1);
    if (fine) return got;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!open->rescued.load()) Rescue(file, *open);
    return Serve(file, *open, offset, buffer, n);
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  return Serve(file, *open, offset, buffer, n);
}

std::size_t RescueReads::Read(FileHandle file, void* buffer, std::size_t n) {
  Open* open = Find(file);
  if (open == nullptr) return inner_.Read(file, buffer, n);
  std::size_t got = 0;
  if (BeginDirect(*open)) {
    const Clock::time_point start = Clock::now();
    got = inner_.Read(file, buffer, n);
    const std::uint64_t at = open->position;
    const bool whole = got == n || (open->size != kNone && at + got >= open->size);
    const bool fine = open->size == kNone || (whole && Clock::now() - start <= slowLimit_);
    if (!fine && !whole) NoteFailure(*open, at, got);
    open->direct.fetch_sub(1);
    if (fine) {
      open->position += got;
      return got;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!open->rescued.load()) Rescue(file, *open);
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  // What arrived before the trouble is the medium's own; the rest comes from
  // the careful pass.
  got += Serve(file, *open, open->position + got, static_cast<unsigned char*>(buffer) + got, n - got);
  open->position += got;
  return got;
}

Platform::CopyResult RescueReads::CopyChunk(FileHandle source, FileHandle dest, void* buffer, std::size_t n,
                                            int& error) {
  Open* open = Find(source);
  if (open == nullptr) return inner_.CopyChunk(source, dest, buffer, n, error);
  // Through the buffer, so that a read that fails says where.
  const std::size_t got = Read(source, buffer, n);
  if (got != n) return CopyResult::kReadFailed;
  return inner_.Write(dest, buffer, n, error) ? CopyResult::kCopied : CopyResult::kWriteFailed;
}

bool RescueReads::BeginDirect(Open& open) {
  if (open.careful.load()) return false;
  open.direct.fetch_add(1);
  if (!open.careful.load()) return true;
  open.direct.fetch_sub(1);
  return false;
}

void RescueReads::NoteFailure(Open& open, std::uint64_t offset, std::size_t got) {
  const std::uint64_t sector = (offset + got) / kSector * kSector;
  const std::lock_guard<std::mutex> lock(badMutex_);
  for (auto& [known, twice] : open.knownBad) {
    if (known != sector) continue;
    twice = true;  // a second read that failed there
    return;
  }
  open.knownBad.emplace_back(sector, got > 0);
}

std::pair<std::uint64_t, bool> RescueReads::KnownBad(const Open& open, std::uint64_t from, std::uint64_t to) const {
  std::pair<std::uint64_t, bool> first{kNone, false};
  const std::lock_guard<std::mutex> lock(badMutex_);
  for (const auto& [sector, twice] : open.knownBad) {
    if (sector >= from && sector < to && sector < first.first) first = {sector, twice};
  }
  return first;
}

void RescueReads::Rescue(FileHandle file, Open& open) {
  // No other reader asks the medium from now on, and one whose read is on
  // its way has noted what failed before the pass begins: a sector it tried
  // twice is not tried a third time here.
  open.careful.store(true);
  while (open.direct.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const std::uint64_t size = open.size;
  if (buffer_ == nullptr) buffer_ = std::make_unique<unsigned char[]>(kLargeStep);
  unsigned char* buffer = buffer_.get();

  // The image: what could be read, at its own offsets.
  FileHandle image = kNoFile;
  std::string imagePath;
  if (!scratch_.empty()) {
    int error = 0;
    imagePath = JoinPath(scratch_, ".tessaro-rescue-" + std::to_string(++images_) + ".tmp");
    image = inner_.Create(imagePath, error);
  }
  // Bytes for the image gather while they follow one another (the second
  // pass reads a sector at a time), and are written a run at once.
  if (pending_ == nullptr) pending_ = std::make_unique<unsigned char[]>(kLargeStep);
  std::uint64_t pendingAt = 0;
  std::size_t pendingLength = 0;
  auto flush = [&] {
    if (image == kNoFile || pendingLength == 0) return;
    int error = 0;
    if (!inner_.Seek(image, pendingAt, error) || !inner_.Write(image, pending_.get(), pendingLength, error)) {
      // No room for the image: the readable areas are read again instead.
      inner_.Close(image);
      inner_.Remove(imagePath, error);
      image = kNoFile;
    }
    pendingLength = 0;
  };
  auto keep = [&](std::uint64_t at, const void* bytes, std::size_t n) {
    if (image == kNoFile || n == 0) return;
    if (pendingLength > 0 && (at != pendingAt + pendingLength || pendingLength + n > kLargeStep)) flush();
    if (pendingLength == 0) pendingAt = at;
    // (No read here is longer than kLargeStep.)
    std::memcpy(pending_.get() + pendingLength, bytes, n);
    pendingLength += n;
  };
  std::uint64_t done = 0;
  auto tell = [&](std::uint64_t n) {
    done += n;
    if (progress_) progress_(std::min(done, size), size);
  };
  // One read of the medium, timed.
  bool slow = false;
  auto read = [&](std::uint64_t at, std::size_t n) {
    const Clock::time_point start = Clock::now();
    const std::size_t got = inner_.ReadAt(file, at, buffer, n);
    slow = Clock::now() - start > slowLimit_;
    keep(at, buffer, got);
    return got;
  };

  // A read that fails after delivering some bytes was answered short and
  // asked again from the failing byte on (as every reader does with a short
  // answer): the sector there has had its two tries and is unreadable now.
  // One that fails at once has had one, and gets the second at the end.
  auto lose = [&](std::uint64_t sector) {
    const std::uint64_t n = std::min<std::uint64_t>(kSector, size - sector);
    AddRange(open.unreadable, sector, n);
    std::memset(buffer, 0, static_cast<std::size_t>(n));
    keep(sector, buffer, static_cast<std::size_t>(n));
  };

  {
    std::vector<std::uint64_t> lost;
    {
      const std::lock_guard<std::mutex> lock(badMutex_);
      for (const auto& [sector, twice] : open.knownBad) {
        if (twice) lost.push_back(sector);
      }
    }
    std::sort(lost.begin(), lost.end());
    for (const std::uint64_t sector : lost) lose(sector);
  }

  // First pass: in order, skipping ahead of trouble.
  std::vector<Range> failedAreas, slowAreas;
  std::uint64_t at = 0;
  std::size_t step = kLargeStep;
  unsigned calm = 0;  // small steps read without trouble since the last
  while (at < size) {
    if (Stopped()) {
      AddRange(open.untried, at, size - at);
      break;
    }
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(step, size - at));
    // A sector known to fail is not read again in this pass; one that had
    // its two tries is given up (again, if it was lost already: AddRange
    // merges).
    auto [known, twice] = KnownBad(open, at, at + n);
    if (known != kNone) n = static_cast<std::size_t>(known - at);
    const std::size_t got = n == 0 ? 0 : read(at, n);
    tell(got);
    if (got < n || n == 0) {
      if (got > 0) twice = true;
      const std::uint64_t bad = (at + got) / kSector * kSector;
      const std::uint64_t skipTo = std::min(size, bad + kSkip);
      if (twice) lose(bad);
      const std::uint64_t retry = twice ? std::min(size, bad + kSector) : bad;
      AddRange(failedAreas, retry, skipTo - retry);
      tell(skipTo - (at + got));
      at = skipTo;
      step = kStep;
      calm = 0;
      continue;
    }
    at += n;
    if (KnownBad(open, at, at + 1).first == at) continue;  // its failure comes first
    if (slow && at < size) {
      const std::uint64_t skipTo = std::min(size, at + kSkip);
      AddRange(slowAreas, at, skipTo - at);
      tell(skipTo - at);
      at = skipTo;
    } else if (step == kStep && ++calm >= 64) {
      step = kLargeStep;  // 256 KiB read without trouble: the patch is behind
    }
  }

  // Second pass: the areas skipped, once: sector by sector where a read
  // failed; in 4 KiB steps where reads were only slow, and sector by sector
  // from a failure on. Sectors given up already are not read again.
  auto again = [&](std::uint64_t from, std::uint64_t to, std::size_t stride) {
    for (std::uint64_t s = from; s < to;) {
      if (Stopped()) {
        AddRange(open.untried, s, to - s);
        return;
      }
      const Range* lost = NextRange(open.unreadable, s);
      if (lost != nullptr && lost->offset <= s) {
        s = lost->offset + lost->length;
        continue;
      }
      const std::uint64_t limit = lost != nullptr ? std::min(to, lost->offset) : to;
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(stride, limit - s));
      const std::size_t got = read(s, n);
      if (got == n) {
        s += n;
        continue;
      }
      const std::uint64_t bad = (s + got) / kSector * kSector;
      if (got > 0 || stride == kSector) {
        lose(bad);
        s = bad + kSector;
      } else {
        s = bad;
      }
      stride = static_cast<std::size_t>(kSector);
    }
  };
  std::vector<std::pair<Range, bool>> skipped;  // the area, and whether a read failed there
  for (const Range& r : failedAreas) skipped.push_back({r, true});
  for (const Range& r : slowAreas) skipped.push_back({r, false});
  std::sort(skipped.begin(), skipped.end(),
            [](const auto& a, const auto& b) { return a.first.offset < b.first.offset; });
  for (const auto& [area, failed] : skipped) {
    again(area.offset, area.offset + area.length, failed ? static_cast<std::size_t>(kSector) : kStep);
  }

  flush();
  if (image != kNoFile) {
    int error = 0;
    inner_.Close(image);
    image = inner_.OpenRead(imagePath, error);
    if (image == kNoFile) inner_.Remove(imagePath, error);
  }
  open.image = image;
  open.imagePath = imagePath;
  open.rescued.store(true);
}

std::size_t RescueReads::Serve(FileHandle file, Open& open, std::uint64_t offset, void* buffer, std::size_t n) {
  if (offset >= open.size) return 0;
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, open.size - offset));
  // Nothing of the file could be read: a failure, as without rescue.
  if (open.unreadable.size() == 1 && open.unreadable[0].offset == 0 && open.unreadable[0].length >= open.size) {
    return 0;
  }
  // What a stop left unread reads as a failure.
  if (const Range* untried = NextRange(open.untried, offset); untried != nullptr && untried->offset < offset + n) {
    n = untried->offset > offset ? static_cast<std::size_t>(untried->offset - offset) : 0;
    if (n == 0) return 0;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  if (open.image != kNoFile && inner_.ReadAt(open.image, offset, out, n) == n) return n;
  // Without an image: the readable runs from the medium, zeros for the rest.
  std::uint64_t at = offset;
  const std::uint64_t end = offset + n;
  while (at < end) {
    const Range* bad = NextRange(open.unreadable, at);
    if (bad != nullptr && bad->offset <= at) {
      const std::uint64_t to = std::min(end, bad->offset + bad->length);
      std::memset(out + (at - offset), 0, static_cast<std::size_t>(to - at));
      at = to;
      continue;
    }
    const std::uint64_t to = bad != nullptr ? std::min(end, bad->offset) : end;
    const std::size_t want = static_cast<std::size_t>(to - at);
    const std::size_t got = inner_.ReadAt(file, at, out + (at - offset), want);
    if (got < want) {
      // Read well once, failing now: the medium is getting worse. Its
      // sectors are not tried again.
      const std::uint64_t from = (at + got) / kSector * kSector;
      AddRange(open.unreadable, from, to - from);
      at = std::max(at, from);
      continue;
    }
    at = to;
  }
  return n;
}

std::string UnreadableDetail(const std::vector<RescueReads::Range>& unreadable) {
  std::uint64_t lost = 0;
  for (const RescueReads::Range& r : unreadable) lost += r.length;
  std::string detail = std::to_string(lost) + " unreadable bytes in " + std::to_string(unreadable.size()) +
                       (unreadable.size() == 1 ? " place" : " places") + ", zeros in their place:";
  // The first few places, as offset+length; the JSON lists all.
  constexpr std::size_t kListed = 8;
  for (std::size_t i = 0; i < unreadable.size() && i < kListed; ++i) {
    detail += ' ' + std::to_string(unreadable[i].offset) + '+' + std::to_string(unreadable[i].length);
  }
  if (unreadable.size() > kListed) detail += " ...";
  return detail;
}

}  // namespace tessaro
