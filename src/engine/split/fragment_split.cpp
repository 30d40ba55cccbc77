// Files back to back inside one fragment: where each begins and ends.

#include "engine/split/fragment_split.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/formats/format_row.h"

namespace tessaro::split {

namespace {

constexpr std::uint64_t kSector = formats::kSectorSize;
// How far past a boundary the catalogue's signatures are looked for in the
// window: a kind whose first signature lies further on is identified by
// reading the fragment there.
constexpr std::size_t kLookAhead = 65536;
// The window of the fragment read at once while looking for the next start.
constexpr std::size_t kWindowSize = (1u << 20) + kLookAhead;
// The bytes from a start that the first identification sees: enough for
// every signature of the catalogue and the content strings of a file's first
// members, but no further than the first sector of zeros after kLeastProbe
// (the slack before the next file, whose content strings would mislead). A
// file whose end is proven is identified again over just its own bytes.
constexpr std::uint64_t kProbe = 1u << 20;
constexpr std::uint64_t kLeastProbe = 65536;

std::uint64_t RoundUp(std::uint64_t at) {
  const std::uint64_t rest = at % kSector;
  return rest == 0 ? at : at + (kSector - rest);
}

bool AllZero(const unsigned char* p, std::size_t n) {
  static const unsigned char kZeros[kSector] = {};
  while (n >= kSector) {
    if (std::memcmp(p, kZeros, kSector) != 0) return false;
    p += kSector;
    n -= kSector;
  }
  return n == 0 || std::memcmp(p, kZeros, n) == 0;
}

bool Sound(formats::Verdict verdict) {
  return verdict == formats::Verdict::kIntact || verdict == formats::Verdict::kTruncated;
}

}  // namespace

FragmentSplitter::FragmentSplitter(FragmentEngine& engine, Platform& platform, FileHandle file, std::uint64_t size,
                                   const char* name, const formats::CheckOptions& options,
                                   const std::atomic<std::uint8_t>* stop)
    : engine_(engine),
      platform_(platform),
      file_(file),
      size_(size),
      name_(name != nullptr ? name : ""),
      options_(options),
      stop_(stop),
      window_(new unsigned char[kWindowSize]) {}

FragmentSplitter::~FragmentSplitter() = default;

const unsigned char* FragmentSplitter::Window(std::uint64_t at, std::size_t n) {
  if (at >= windowAt_ && at - windowAt_ + n <= windowLength_) return window_.get() + (at - windowAt_);
  windowAt_ = at;
  windowLength_ = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, size_ - at));
  if (platform_.ReadAt(file_, at, window_.get(), windowLength_) != windowLength_) {
    windowLength_ = 0;
    failed_ = true;
    std::snprintf(engine_.lastError, sizeof engine_.lastError, "read file %s failed\n", name_.c_str());
    return nullptr;
  }
  return window_.get();
}

bool FragmentSplitter::TryStart(std::uint64_t at, bool strict, Start& start) {
  std::uint64_t probe = std::min(size_ - at, kProbe);
  for (std::uint64_t p = kLeastProbe; p + kSector <= probe; p += kSector) {
    const unsigned char* bytes = Window(at + p, kSector);
    if (bytes == nullptr) return false;
    if (AllZero(bytes, kSector)) {
      probe = p;
      break;
    }
  }
  IdentifyStatus status;
  const FileTypeRecord* kind = engine_.IdentifyRange(file_, at, probe, name_.c_str(), status);
  if (status == IdentifyStatus::kFailed) {
    failed_ = true;
    return false;
  }
  if (kind == nullptr) return false;
  const std::string& extension = kind->ExtensionOrEmpty();
  const bool checked = formats::FindChecker(extension) != nullptr;
  if (strict && (kind == &engine_.textKind || !checked)) return false;
  formats::CheckResult check;
  if (checked) {
    formats::Fragment view(platform_, file_, at, size_ - at);
    check = formats::CheckFragment(view, extension, options_);
    if (view.Failed()) {
      failed_ = true;
      std::snprintf(engine_.lastError, sizeof engine_.lastError, "read file %s failed\n", name_.c_str());
      return false;
    }
  } else {
    check = formats::Unchecked("no checker for this kind");
  }
  if (strict && !Sound(check.verdict)) return false;
  start.offset = at;
  start.probe = probe;
  start.kind = kind;
  start.check = std::move(check);
  return true;
}

bool FragmentSplitter::TryRecords(std::uint64_t at, const unsigned char* bytes, std::size_t n, Start& start) {
  if (!folders::BeginsFolderRecords(bytes, std::min<std::size_t>(n, kSector))) return false;
  formats::Fragment view(platform_, file_, size_);
  std::optional<folders::FolderRecords> records = folders::ReadFolderRecords(view, at, size_);
  if (view.Failed()) {
    failed_ = true;
    std::snprintf(engine_.lastError, sizeof engine_.lastError, "read file %s failed\n", name_.c_str());
    return false;
  }
  if (!records || records->length == 0) return false;
  start = Start{};
  start.offset = at;
  start.records = std::make_shared<const folders::FolderRecords>(std::move(*records));
  return true;
}

void FragmentSplitter::FindNext(std::uint64_t from, bool afterProof, bool tryFrom) {
  // Bytes other than zeros met on the way that no file holds: one run per
  // gap, from the first such sector to the last.
  const bool claimed = open_ && current_.check.verdict != formats::Verdict::kIntact;
  std::uint64_t runStart = 0, runEnd = 0;
  bool zerosOnly = true;
  Start next;
  bool found = false;
  std::uint64_t b = from;
  for (; b < size_; b += kSector) {
    if (Stopped()) {
      done_ = true;
      return;
    }
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kLookAhead, size_ - b));
    const unsigned char* bytes = Window(b, n);
    if (bytes == nullptr) return;
    const bool zeroSector = AllZero(bytes, std::min<std::size_t>(n, kSector));
    // After a proven end and a sector of zeros or more (the slack a disk
    // leaves), the first sector that holds anything begins a file of any
    // kind the catalogue tells, text too; elsewhere a start must prove
    // itself (old data right after a file's last sector is no new file
    // because it reads as text). A sector of zeros may begin a file too: an
    // ISO image begins with 32 KiB of them.
    const bool lenient = afterProof && zerosOnly && b != from && !zeroSector;
    const bool look = (b != from || tryFrom) && (lenient || engine_.MayBegin(bytes, n));
    if (!zeroSector && (b != from || tryFrom) && TryRecords(b, bytes, n, next)) {
      found = true;
      break;
    }
    if (failed_) return;
    if (look && TryStart(b, !lenient, next)) {
      found = true;
      break;
    }
    if (failed_) return;
    if (!zeroSector) {
      zerosOnly = false;
      if (!claimed) {
        if (runEnd == 0) runStart = b;
        runEnd = std::min(size_, b + kSector);
      }
    }
  }
  const std::uint64_t end = found ? b : size_;
  if (open_) SettleFile(end);
  if (runEnd != 0) {
    Piece& run = queue_[queued_++];
    run = Piece{};
    run.role = Piece::Role::kUnclaimed;
    run.offset = runStart;
    run.extent = run.length = runEnd - runStart;
  }
  if (found && next.records) {
    Piece& records = queue_[queued_++];
    records = Piece{};
    records.role = Piece::Role::kRecords;
    records.offset = next.offset;
    records.extent = records.length = std::min(size_ - next.offset, RoundUp(next.records->length));
    records.records = std::move(next.records);
    open_ = false;
    resume_ = records.offset + records.extent;
    return;
  }
  open_ = found;
  if (found) current_ = std::move(next);
  else done_ = true;
}

void FragmentSplitter::SettleFile(std::uint64_t end) {
  Piece& piece = queue_[queued_++];
  piece = Piece{};
  piece.role = Piece::Role::kFile;
  piece.offset = current_.offset;
  piece.extent = end - current_.offset;
  piece.kind = current_.kind;
  piece.check = std::move(current_.check);
  const bool proven = piece.check.verdict == formats::Verdict::kIntact;
  piece.length = proven ? piece.check.length : piece.extent;
  // The kind over the file's own bytes: the first look saw a window that may
  // hold less of the file, or some of the next.
  if (piece.length != current_.probe) {
    IdentifyStatus status;
    const FileTypeRecord* kind =
        engine_.IdentifyRange(file_, piece.offset, piece.length, name_.c_str(), status);
    if (status == IdentifyStatus::kFailed) {
      failed_ = true;
      return;
    }
    if (kind != nullptr && kind != piece.kind &&
        kind->ExtensionOrEmpty() != piece.kind->ExtensionOrEmpty()) {
      piece.kind = kind;
      // Its own checker says what this kind makes of the bytes.
      if (formats::FindChecker(kind->ExtensionOrEmpty()) != nullptr) {
        formats::Fragment view(platform_, file_, piece.offset, piece.extent);
        piece.check = formats::CheckFragment(view, kind->ExtensionOrEmpty(), options_);
        if (view.Failed()) {
          failed_ = true;
          return;
        }
      } else {
        piece.check = formats::Unchecked("no checker for this kind");
      }
      piece.length = piece.check.verdict == formats::Verdict::kIntact ? piece.check.length : piece.extent;
      return;
    }
  }
  // A file not proven whose bytes stop before the fragment's end: what its
  // structure says of just those bytes.
  if (!proven && piece.offset + piece.extent < size_ && formats::FindChecker(piece.kind->ExtensionOrEmpty()) != nullptr) {
    formats::Fragment view(platform_, file_, piece.offset, piece.extent);
    piece.check = formats::CheckFragment(view, piece.kind->ExtensionOrEmpty(), options_);
    if (view.Failed()) failed_ = true;
    piece.length = piece.check.verdict == formats::Verdict::kIntact ? piece.check.length : piece.extent;
  }
}

bool FragmentSplitter::Next(Piece& piece) {
  while (handed_ == queued_) {
    handed_ = queued_ = 0;
    if (done_ || failed_ || Stopped()) return false;
    if (!started_) {
      started_ = true;
      if (size_ == 0) {
        done_ = true;
        return false;
      }
      Start first;
      const unsigned char* head = Window(0, static_cast<std::size_t>(std::min<std::uint64_t>(kLookAhead, size_)));
      if (head == nullptr) return false;
      if (TryRecords(0, head, static_cast<std::size_t>(std::min<std::uint64_t>(kLookAhead, size_)), first) ||
          failed_) {
        if (failed_) return false;
        // As FindNext queues records it meets.
        Piece& records = queue_[queued_++];
        records = Piece{};
        records.role = Piece::Role::kRecords;
        records.extent = records.length = std::min(size_, RoundUp(first.records->length));
        records.records = std::move(first.records);
        resume_ = records.extent;
        continue;
      }
      if (TryStart(0, false, first)) {
        open_ = true;
        current_ = std::move(first);
        continue;
      }
      if (failed_) return false;
      FindNext(0, false, false);
      continue;
    }
    if (!open_) {
      if (resume_ >= size_) {
        done_ = true;
        return false;
      }
      FindNext(resume_, true, true);
      continue;
    }
    const bool proven = current_.check.verdict == formats::Verdict::kIntact;
    FindNext(proven ? RoundUp(current_.offset + current_.check.length) : current_.offset + kSector, proven, true);
  }
  piece = queue_[handed_++];
  if (piece.role == Piece::Role::kFile) ++files_;
  return !failed_;
}

}  // namespace tessaro::split
