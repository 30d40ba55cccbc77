#include "support/faulty_platform.h"

#include <algorithm>

namespace tessaro::testing {

bool FaultyPlatform::Matches(const std::string& path, const std::string& end) {
  return path.size() >= end.size() && path.compare(path.size() - end.size(), end.size(), end) == 0;
}

bool FaultyPlatform::Hit(std::vector<Rule>& rules, const std::string& path,
                         std::map<std::string, int>& counts, Rule* hit) {
  const int count = ++counts[path];
  for (const Rule& rule : rules) {
    if (!Matches(path, rule.pathEnd)) continue;
    if (rule.nth != 0 && rule.nth != count) continue;
    if (hit) *hit = rule;
    return true;
  }
  return false;
}

void FaultyPlatform::FailStatus(const std::string& pathEnd, int error, int nth) {
  std::lock_guard<std::mutex> lock(mutex_);
  statusRules_.push_back({pathEnd, error, nth, 0});
}

void FaultyPlatform::FailOpen(const std::string& pathEnd, int error, int nth) {
  std::lock_guard<std::mutex> lock(mutex_);
  openRules_.push_back({pathEnd, error, nth, 0});
}

void FaultyPlatform::FailCreate(const std::string& pathEnd, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  createRules_.push_back({pathEnd, error, 0, 0});
}

void FaultyPlatform::FailRename(const std::string& pathEnd, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  renameRules_.push_back({pathEnd, error, 0, 0});
}

void FaultyPlatform::FailRemove(const std::string& pathEnd, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  removeRules_.push_back({pathEnd, error, 0, 0});
}

bool FaultyPlatform::Rename(const std::string& from, const std::string& to, int& error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Rule rule;
    if (Hit(renameRules_, to, renameCounts_, &rule)) {
      error = rule.error;
      return false;
    }
  }
  return real_.Rename(from, to, error);
}

bool FaultyPlatform::Remove(const std::string& path, int& error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Rule rule;
    if (Hit(removeRules_, path, removeCounts_, &rule)) {
      error = rule.error;
      return false;
    }
  }
  return real_.Remove(path, error);
}

void FaultyPlatform::FailRewind(const std::string& pathEnd, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  rewindRules_.push_back({pathEnd, error, 0, 0});
}

void FaultyPlatform::BeginPass(Open& entry) {
  // Every open tried so far (those that failed too) and every rewind.
  const int pass = openCounts_[entry.path] + rewinds_[entry.path];
  entry.position = 0;
  entry.readLimit = UINT64_MAX;
  for (const Rule& r : shortReads_) {
    if (Matches(entry.path, r.pathEnd) && (r.nth == 0 || r.nth == pass)) entry.readLimit = r.bytes;
  }
}

bool FaultyPlatform::Rewind(FileHandle file, int& error) {
  if (onRewind) {
    std::string path;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      path = open_[file].path;
    }
    onRewind(path);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Rule rule;
    if (Hit(rewindRules_, open_[file].path, rewindCounts_, &rule)) {
      error = rule.error;
      return false;
    }
  }
  if (!real_.Rewind(file, error)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  Open& entry = open_[file];
  ++rewinds_[entry.path];
  BeginPass(entry);
  return true;
}

bool FaultyPlatform::Seek(FileHandle file, std::uint64_t offset, int& error) {
  if (offset == 0) return Rewind(file, error);
  if (!real_.Seek(file, offset, error)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  open_[file].position = offset;
  return true;
}

void FaultyPlatform::ShortReadAfter(const std::string& pathEnd, std::uint64_t bytes, int nthOpen) {
  std::lock_guard<std::mutex> lock(mutex_);
  shortReads_.push_back({pathEnd, 0, nthOpen, bytes});
}

void FaultyPlatform::FailWriteAfter(const std::string& pathEnd, std::uint64_t bytes, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeRules_.push_back({pathEnd, error, 0, bytes});
}

int FaultyPlatform::OpenCount(const std::string& pathEnd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int total = 0;
  for (const auto& [path, count] : openCounts_) {
    if (Matches(path, pathEnd)) total += count;
  }
  return total;
}

int FaultyPlatform::StatusCount(const std::string& pathEnd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int total = 0;
  for (const auto& [path, count] : statusCounts_) {
    if (Matches(path, pathEnd)) total += count;
  }
  return total;
}

std::uint64_t FaultyPlatform::BytesRead(const std::string& pathEnd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t total = 0;
  for (const auto& [path, bytes] : bytesRead_) {
    if (Matches(path, pathEnd)) total += bytes;
  }
  return total;
}

int FaultyPlatform::ReadCalls(const std::string& pathEnd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int total = 0;
  for (const auto& [path, calls] : readCalls_) {
    if (Matches(path, pathEnd)) total += calls;
  }
  return total;
}

bool FaultyPlatform::Status(const std::string& path, FileStatus& out, int& error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Rule rule;
    if (Hit(statusRules_, path, statusCounts_, &rule)) {
      error = rule.error;
      return false;
    }
  }
  return real_.Status(path, out, error);
}

FileHandle FaultyPlatform::OpenRead(const std::string& path, int& error) {
  if (onOpenRead) onOpenRead(path);
  std::lock_guard<std::mutex> lock(mutex_);
  Rule rule;
  if (Hit(openRules_, path, openCounts_, &rule)) {
    error = rule.error;
    return kNoFile;
  }
  const FileHandle file = real_.OpenRead(path, error);
  if (file == kNoFile) return file;
  Open entry;
  entry.path = path;
  BeginPass(entry);
  open_[file] = entry;
  return file;
}

FileHandle FaultyPlatform::Create(const std::string& path, int& error) {
  if (onCreate) onCreate(path);
  std::lock_guard<std::mutex> lock(mutex_);
  Rule rule;
  if (Hit(createRules_, path, createCounts_, &rule)) {
    error = rule.error;
    return kNoFile;
  }
  const FileHandle file = real_.Create(path, error);
  if (file == kNoFile) return file;
  Open entry;
  entry.path = path;
  for (const Rule& r : writeRules_) {
    if (Matches(path, r.pathEnd)) {
      entry.writeLimit = r.bytes;
      entry.writeError = r.error;
    }
  }
  open_[file] = entry;
  return file;
}

namespace {

// How many of `n` bytes from `position` a read may deliver under a short-read rule.
std::size_t Allowed(std::uint64_t position, std::uint64_t limit, std::size_t n) {
  if (position >= limit) return 0;
  return limit - position < n ? static_cast<std::size_t>(limit - position) : n;
}

}  // namespace

void FaultyPlatform::BadBytes(const std::string& pathEnd, std::uint64_t offset, std::uint64_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  badBytes_.push_back({pathEnd, offset, length});
}

int FaultyPlatform::MostTriesOfABadSector(const std::string& pathEnd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int most = 0;
  for (const auto& [key, tries] : badTries_) {
    if (Matches(key.first, pathEnd)) most = std::max(most, tries);
  }
  return most;
}

std::size_t FaultyPlatform::BeforeBad(const std::string& path, std::uint64_t offset, std::size_t n) {
  std::uint64_t first = UINT64_MAX;
  for (const Bad& bad : badBytes_) {
    if (!Matches(path, bad.pathEnd) || bad.offset + bad.length <= offset || bad.offset >= offset + n) continue;
    first = std::min(first, std::max(bad.offset, offset));
  }
  if (first == UINT64_MAX) return n;
  ++badTries_[{path, first / 512}];
  return static_cast<std::size_t>(first - offset);
}

std::size_t FaultyPlatform::Read(FileHandle file, void* buffer, std::size_t n) {
  std::string path;
  std::uint64_t position = 0;
  std::uint64_t limit = UINT64_MAX;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Open& entry = open_[file];
    path = entry.path;
    position = entry.position;
    limit = entry.readLimit;
    n = BeforeBad(path, position, n);
  }
  if (onRead) onRead(path, position);
  const std::size_t allowed = Allowed(position, limit, n);
  const std::size_t got = allowed ? real_.Read(file, buffer, allowed) : 0;
  std::lock_guard<std::mutex> lock(mutex_);
  open_[file].position += got;
  bytesRead_[path] += got;
  ++readCalls_[path];
  return got;
}

std::size_t FaultyPlatform::ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t n) {
  std::string path;
  std::uint64_t limit = UINT64_MAX;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Open& entry = open_[file];
    path = entry.path;
    limit = entry.readLimit;
    n = BeforeBad(path, offset, n);
  }
  if (onRead) onRead(path, offset);
  const std::size_t allowed = Allowed(offset, limit, n);
  const std::size_t got = allowed ? real_.ReadAt(file, offset, buffer, allowed) : 0;
  std::lock_guard<std::mutex> lock(mutex_);
  bytesRead_[path] += got;
  ++readCalls_[path];
  return got;
}

bool FaultyPlatform::Write(FileHandle file, const void* buffer, std::size_t n, int& error) {
  std::uint64_t written, limit;
  int writeError;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Open& entry = open_[file];
    written = entry.written;
    limit = entry.writeLimit;
    writeError = entry.writeError;
  }
  if (written + n > limit) {
    // Like a full disk: what fits is written, then the call fails.
    const std::size_t fits = limit > written ? static_cast<std::size_t>(limit - written) : 0;
    int ignored = 0;
    if (fits) real_.Write(file, buffer, fits, ignored);
    std::lock_guard<std::mutex> lock(mutex_);
    open_[file].written += fits;
    error = writeError;
    return false;
  }
  if (!real_.Write(file, buffer, n, error)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  open_[file].written += n;
  return true;
}

void FaultyPlatform::Close(FileHandle file) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(file);
  }
  real_.Close(file);
}

bool FaultyPlatform::StartWorker(std::function<void()> body, WorkerHandle& handle) {
  if (failWorker_) return false;
  return real_.StartWorker(std::move(body), handle);
}

}  // namespace tessaro::testing
