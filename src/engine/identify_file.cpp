// FragmentEngine::IdentifyFile.
//
// Cost per file: one status query, one open, one read of at most 4096 bytes.
// Only when a kind that passed its signatures declares content strings is the
// rest of the file read, once, and that one read serves every
// such candidate together: the winner is the first candidate in table order
// whose content strings all occur, exactly as if the kinds were tried one by one.
// Where a second processor is there, a helper thread reads and searches every
// second chunk (the second, the fourth, ...), so that both cores copy and
// search at once.
//
// Two indexes, built from the catalogue once, keep the work per file small:
// the kinds are grouped by the first byte of a first signature at offset 0, so
// a file is tested only against the kinds that its first byte leaves possible
// (and those whose first signature lies elsewhere); and the content strings of
// all candidates are looked for together, in one pass over each chunk.

#include <algorithm>
#include <cstring>

#include "catalog/fragment_engine.h"
#include "engine/find_bytes.h"
#include "engine/formats/container_kind.h"
#include "engine/scan_helper.h"
#include "platform/platform.h"

namespace tessaro {

struct FragmentEngine::SearchState {
  explicit SearchState(const FragmentEngine& engine);

  // The kinds, in table order, that a file whose first byte is b can pass:
  // kinds[start[b]] .. kinds[start[b + 1] - 1].
  std::array<std::uint32_t, 257> start{};
  std::vector<std::uint16_t> kinds;
  // Per kind, the first up to 8 bytes of its first signature, for a test in
  // one comparison that turns most candidates away before the full one.
  struct Prefix {
    std::uint64_t value = 0;
    std::uint64_t mask = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;  // 0: no quick test
  };
  std::vector<Prefix> prefix;
  // Per kind, the start test of its format's row, or null: a kind whose
  // signatures are a frame header's few fixed bytes is given only when the
  // frames after it agree.
  std::vector<formats::StartTest> startTests;
  NeedleSet needles;
  std::vector<ScanNeedle> list;  // the content strings of the candidates of the file in hand
  std::string path;  // the path of the file in hand, kept to reuse its storage

  // The helper for files of two chunks or more, made at its first use; null
  // when no thread can be had, or only one processor (two threads would just
  // take turns on it): the search then reads every chunk itself.
  ScanHelper* Helper(Platform& platform, std::size_t windowCapacity, std::size_t flagCount) {
    if (!helper && !helperUnavailable) {
      if (platform.UsableProcessors() < 2) {
        helperUnavailable = true;
        return nullptr;
      }
      helper = std::make_unique<ScanHelper>(windowCapacity, flagCount);
    }
    if (helper && helper->Ready()) return helper.get();
    helperUnavailable = true;
    helper.reset();
    return nullptr;
  }
  std::unique_ptr<ScanHelper> helper;
  bool helperUnavailable = false;
};

FragmentEngine::SearchState::SearchState(const FragmentEngine& engine) {
  // A kind whose first signature lies at offset 0 and is not empty can only
  // pass a file that begins with that signature's first byte: either the
  // signature fits and the first byte is compared, or it does not fit and the
  // kind fails at once. A kind without signatures, or without an offset for
  // its first one, never passes. Every other kind is kept for every byte.
  auto possible = [&](const FileTypeRecord& kind, int byte) {
    if (kind.signatureBytes.empty() || kind.offsets.empty()) return false;
    const std::string& first = kind.signatureBytes[0];
    if (kind.offsets[0] != 0 || first.empty()) return true;
    return static_cast<unsigned char>(first[0]) == byte;
  };
  for (int byte = 0; byte < 256; ++byte) {
    start[static_cast<std::size_t>(byte)] = static_cast<std::uint32_t>(kinds.size());
    for (int i = 0; i < engine.kindCount; ++i) {
      if (possible(engine.records_[static_cast<std::size_t>(i)], byte)) kinds.push_back(static_cast<std::uint16_t>(i));
    }
  }
  start[256] = static_cast<std::uint32_t>(kinds.size());
  prefix.resize(static_cast<std::size_t>(engine.kindCount));
  startTests.resize(static_cast<std::size_t>(engine.kindCount));
  for (int i = 0; i < engine.kindCount; ++i) {
    startTests[static_cast<std::size_t>(i)] =
        formats::StartTestOf(engine.records_[static_cast<std::size_t>(i)].ExtensionOrEmpty());
  }
  for (int i = 0; i < engine.kindCount; ++i) {
    const FileTypeRecord& kind = engine.records_[static_cast<std::size_t>(i)];
    if (kind.signatureBytes.empty() || kind.offsets.empty() || kind.offsets[0] < 0) continue;
    const std::string& first = kind.signatureBytes[0];
    Prefix& p = prefix[static_cast<std::size_t>(i)];
    p.offset = static_cast<std::uint64_t>(kind.offsets[0]);
    p.length = std::min<std::uint64_t>(first.size(), 8);
    std::memcpy(&p.value, first.data(), p.length);
    // The mask covers the same bytes in either byte order.
    unsigned char ones[8] = {};
    std::memset(ones, 0xFF, p.length);
    std::memcpy(&p.mask, ones, sizeof ones);
  }
  needles.Reserve(engine.found_.size());
  list.reserve(engine.found_.size());
  path.reserve(1024);
}

bool FragmentEngine::SignaturesFit(const FileTypeRecord& kind, std::uint64_t size,
                                   std::size_t headLength, std::intptr_t file, bool& readFailed) {
  const std::size_t count = kind.signatureBytes.size();
  for (std::size_t k = 0; k < count; ++k) {
    const std::string& signature = kind.signatureBytes[k];
    const std::uint64_t n = signature.size();
    // A signature without its offset cannot fit anywhere.
    if (k >= kind.offsets.size()) return k > 0;
    const std::int64_t offset = kind.offsets[k];
    // The first signature that does not fit in the file ends the test with the
    // verdict reached so far.
    if (offset < 0 || static_cast<std::uint64_t>(offset) > size || n > size - static_cast<std::uint64_t>(offset)) {
      return k > 0;
    }
    if (n == 0) continue;
    const auto at = static_cast<std::uint64_t>(offset);
    const unsigned char* bytes;
    if (at + n <= headLength) {
      bytes = head_.get() + at;
    } else {
      // Beyond the head: the file's own bytes at that offset (CD001 of an ISO image).
      if (platform_->ReadAt(file, base_ + at, farSignature_.get(), n) != n) {
        readFailed = true;
        return false;
      }
      bytes = farSignature_.get();
    }
    if (std::memcmp(bytes, signature.data(), n) != 0) return false;
  }
  return count > 0;
}

// Reads the file once from its start and looks for the content strings of every
// candidate. Returns the index into `candidates` of the winner, or -1.
//
// Chunk k is searched together with the `carry` bytes before it, so that an
// occurrence across a chunk boundary is found: each chunk after the first is
// read as one window from k * kChunkSize - carry.
int FragmentEngine::ScanContent(std::intptr_t file, std::uint64_t size, std::size_t headLength,
                                const int* candidates, int candidateCount, bool& readFailed) {
  SearchState& state = *search_;
  std::vector<ScanNeedle>& list = state.list;
  list.clear();
  std::size_t carry = 0;
  for (int c = 0; c < candidateCount; ++c) {
    const FileTypeRecord& kind = records_[static_cast<std::size_t>(candidates[c])];
    for (std::size_t a = 0; a < kind.addonBytes.size(); ++a) {
      const std::string& needle = kind.addonBytes[a];
      const std::size_t flag = kind.firstAddon + a;
      found_[flag] = 0;
      if (!needle.empty()) carry = std::max(carry, needle.size() - 1);
      list.push_back({reinterpret_cast<const unsigned char*>(needle.data()), needle.size(), flag});
    }
  }

  auto allFound = [&](int c) {
    const FileTypeRecord& kind = records_[static_cast<std::size_t>(candidates[c])];
    for (std::size_t a = 0; a < kind.addonBytes.size(); ++a) {
      if (!found_[kind.firstAddon + a]) return false;
    }
    return true;
  };

  // A text file's last sector is zero from its end to the sector's end, and
  // after that lies whatever the cluster held before: the leftovers of a page
  // or a mail, whose "<html" or "Subject: " must not decide the text's kind.
  // So in a file that looks like text, the scan ends at a first zero byte
  // that only zeros follow to the end of its sector; a zero byte that other
  // bytes follow makes the file binary, and the whole of it is searched.
  bool text = LooksLikeText(size, headLength);
  const std::uint64_t chunks = (size + kChunkSize - 1) / kChunkSize;
  ScanHelper* helper = chunks >= 2 && !text ? state.Helper(*platform_, carryCapacity_ + kChunkSize, found_.size()) : nullptr;
  // A chunk given to the helper and not taken back is cancelled on the way out.
  struct Outstanding {
    ScanHelper* helper = nullptr;
    ~Outstanding() {
      if (helper != nullptr) helper->Cancel();
    }
  } outstanding;
  // (A content string longer than a chunk reaches back over several.)
  auto window = [&](std::uint64_t k, std::uint64_t& offset, std::size_t& length) {
    const std::uint64_t at = k * kChunkSize;
    const std::size_t back = static_cast<std::size_t>(std::min<std::uint64_t>(carry, at));
    offset = at - back;
    length = back + static_cast<std::size_t>(std::min<std::uint64_t>(kChunkSize, size - at));
  };
  unsigned char* const own = scan_.get() + carryCapacity_;
  for (std::uint64_t k = 0; k < chunks;) {
    std::uint64_t offset = 0;
    std::size_t length = 0;
    // The helper takes the chunk after this one.
    const bool give = helper != nullptr && k + 1 < chunks;
    if (give) {
      window(k + 1, offset, length);
      helper->Give(*platform_, file, base_ + offset, length, list.data(), list.size(), found_.data());
      outstanding.helper = helper;
    }
    window(k, offset, length);
    unsigned char* const at = own - static_cast<std::size_t>(k * kChunkSize - offset);
    if (k == 0) {
      // The head, and the rest of the first chunk after it.
      const std::size_t fromHead = std::min(headLength, length);
      std::memcpy(at, head_.get(), fromHead);
      // A positioned read too: the helper is reading the next chunk meanwhile.
      if (length > fromHead && platform_->ReadAt(file, base_ + fromHead, at + fromHead, length - fromHead) != length - fromHead) {
        readFailed = true;
        return -1;
      }
    } else if (platform_->ReadAt(file, base_ + offset, at, length) != length) {
      readFailed = true;
      return -1;
    }
    bool textEnds = false;
    if (text) {
      // The chunk's own bytes (not those carried from the one before) hold
      // the first zero, if any; chunks are whole sectors.
      const std::size_t back = static_cast<std::size_t>(k * kChunkSize - offset);
      const auto* zero = static_cast<const unsigned char*>(std::memchr(at + back, 0, length - back));
      if (zero != nullptr) {
        const std::size_t z = static_cast<std::size_t>(zero - at);
        const std::size_t sectorEnd = std::min(length, back + ((z - back) / kSectorSize + 1) * kSectorSize);
        text = std::all_of(zero, static_cast<const unsigned char*>(at + sectorEnd), [](unsigned char b) { return b == 0; });
        if (text) {
          length = z;
          textEnds = true;
        }
      }
    }
    SearchWindow(state.needles, list.data(), list.size(), found_.data(), at, length);
    if (textEnds) break;
    // The first candidate settles the matter as soon as it has everything.
    if (allFound(0)) return 0;
    if (give) {
      outstanding.helper = nullptr;
      if (!helper->Take(found_.data())) {
        readFailed = true;
        return -1;
      }
      if (allFound(0)) return 0;
    }
    k += give ? 2 : 1;
  }
  for (int c = 0; c < candidateCount; ++c) {
    if (allFound(c)) return c;
  }
  return -1;
}

bool FragmentEngine::LooksLikeText(std::uint64_t size, std::size_t headLength) const {
  if (size >= kTextSizeLimit) return false;
  std::size_t n = std::min(headLength, kTextWindow);
  // A disk hands back whole clusters: a text file's last sector is zero from
  // the file's end to the sector's end, and after that comes whatever the
  // cluster held before. So in a fragment of whole sectors, a first zero byte
  // that only zeros follow to the end of its sector is the end of the text:
  // the bytes before it are judged. Any other zero byte is binary data.
  const unsigned char* zero = static_cast<const unsigned char*>(std::memchr(head_.get(), 0, n));
  if (zero != nullptr) {
    const std::size_t at = static_cast<std::size_t>(zero - head_.get());
    const std::size_t sectorEnd = (at / kSectorSize + 1) * kSectorSize;
    if (at == 0 || size % kSectorSize != 0 || sectorEnd > headLength) return false;
    for (std::size_t i = at; i < sectorEnd; ++i) {
      if (head_[i] != 0) return false;
    }
    n = at;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = head_[i];
    if (b == 9 || b == 10 || b == 13) continue;
    if (b < 32 || b == 255) return false;
  }
  return true;
}

const FileTypeRecord* FragmentEngine::IdentifyFile(const char* path) {
  IdentifyStatus status;
  return IdentifyFile(path, status);
}

bool FragmentEngine::ReadyToIdentify(const char* path, IdentifyStatus& status) {
  status = IdentifyStatus::kFailed;
  if (!ready) {
    SetError("inside error,the class object haven't be initialized\n");
    return false;
  }
  if (path == nullptr) {
    SetError("input file path is NULL\n");
    return false;
  }
  if (platform_ == nullptr) platform_ = &SystemPlatform();
  if (!search_) search_ = std::make_shared<SearchState>(*this);
  return true;
}

const FileTypeRecord* FragmentEngine::IdentifyFile(const char* path, IdentifyStatus& status) {
  if (!ReadyToIdentify(path, status)) return nullptr;
  std::string& name = search_->path;
  name.assign(path);

  FileStatus fileStatus;
  int error = 0;
  bool statusFailed = false;
  const FileHandle file = platform_->StatusAndOpen(name, fileStatus, error, statusFailed);
  if (statusFailed) {
    SetError("cann't get %s information\n", path);
    return nullptr;
  }
  const FileTypeRecord* result = IdentifyOpen(path, file, fileStatus.size, status);
  if (file != kNoFile) platform_->Close(file);
  return result;
}

const FileTypeRecord* FragmentEngine::IdentifyOpenFile(const char* path, FileHandle file, std::uint64_t size,
                                                       IdentifyStatus& status) {
  if (!ReadyToIdentify(path, status)) return nullptr;
  return IdentifyOpen(path, file, size, status);
}

const FileTypeRecord* FragmentEngine::IdentifyOpen(const char* path, FileHandle file, std::uint64_t size,
                                                   IdentifyStatus& status) {
  status = IdentifyStatus::kFailed;
  Platform& system = *platform_;
  if (size == 0) {
    status = IdentifyStatus::kNoKind;
    return nullptr;
  }
  if (file == kNoFile) {
    SetError("open %s failed\n", path);
    return nullptr;
  }
  base_ = 0;
  const std::size_t headLength = static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeadSize));
  if (system.Read(file, head_.get(), headLength) != headLength) {
    SetError("read file %s failed\n", path);
    return nullptr;
  }
  return IdentifyOpen(file, size, headLength, path, status);
}

const FileTypeRecord* FragmentEngine::IdentifyRange(std::intptr_t file, std::uint64_t offset, std::uint64_t size,
                                                    const char* name, IdentifyStatus& status) {
  status = IdentifyStatus::kFailed;
  if (!ready) {
    SetError("inside error,the class object haven't be initialized\n");
    return nullptr;
  }
  if (name == nullptr) name = "";
  if (platform_ == nullptr) platform_ = &SystemPlatform();
  if (!search_) search_ = std::make_shared<SearchState>(*this);
  if (size == 0) {
    status = IdentifyStatus::kNoKind;
    return nullptr;
  }
  // Every read is positioned at the range's start plus an offset inside it;
  // a range that would reach past the largest offset cannot be read.
  if (offset > UINT64_MAX - size) {
    SetError("read file %s failed\n", name);
    return nullptr;
  }
  base_ = offset;
  const std::size_t headLength = static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeadSize));
  if (platform_->ReadAt(file, base_, head_.get(), headLength) != headLength) {
    SetError("read file %s failed\n", name);
    return nullptr;
  }
  return IdentifyOpen(file, size, headLength, name, status);
}

bool FragmentEngine::MayBegin(const unsigned char* bytes, std::size_t n) {
  if (!ready || n == 0) return false;
  if (!search_) search_ = std::make_shared<SearchState>(*this);
  const SearchState& index = *search_;
  const std::uint32_t last = index.start[bytes[0] + 1u];
  for (std::uint32_t k = index.start[bytes[0]]; k < last; ++k) {
    const int i = index.kinds[k];
    const SearchState::Prefix& p = index.prefix[static_cast<std::size_t>(i)];
    if (p.length != 0 && p.offset + p.length <= n) {
      std::uint64_t value = 0;
      std::memcpy(&value, bytes + p.offset, p.length);
      if ((value & p.mask) != p.value) continue;
    }
    // Every signature that lies within the bytes must match there; one that
    // lies beyond them may yet.
    const FileTypeRecord& kind = records_[static_cast<std::size_t>(i)];
    bool matches = true;
    for (std::size_t s = 0; s < kind.signatureBytes.size() && s < kind.offsets.size() && matches; ++s) {
      const std::string& signature = kind.signatureBytes[s];
      if (kind.offsets[s] < 0) break;
      const auto at = static_cast<std::uint64_t>(kind.offsets[s]);
      if (at + signature.size() > n) break;
      matches = std::memcmp(bytes + at, signature.data(), signature.size()) == 0;
    }
    if (matches) return true;
  }
  return false;
}

const FileTypeRecord* FragmentEngine::ByContainer(const FileTypeRecord* chosen, std::intptr_t file, std::uint64_t size,
                                                  std::size_t headLength, bool& readFailed) {
  // Only a compound file, a ZIP, a TIFF or an ISO file has such a directory; every other file
  // costs one comparison here.
  static constexpr unsigned char kCompound[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  const bool compound = headLength >= 8 && std::memcmp(head_.get(), kCompound, 8) == 0;
  const bool zip = headLength >= 4 && std::memcmp(head_.get(), "PK\x03\x04", 4) == 0;
  const bool tiff = headLength >= 4 && (std::memcmp(head_.get(), "II*\0", 4) == 0 || std::memcmp(head_.get(), "MM\0*", 4) == 0);
  const bool heif = headLength >= 12 && std::memcmp(head_.get() + 4, "ftyp", 4) == 0;
  if (!compound && !zip && !tiff && !heif) return chosen;
  formats::Fragment fragment(*platform_, file, base_, size);
  const std::string proven = formats::ContainerKind(fragment);
  if (fragment.Failed()) {
    readFailed = true;
    return nullptr;
  }
  if (proven.empty()) return chosen;
  const std::string wanted = "." + proven;
  if (chosen->ExtensionOrEmpty() == wanted) return chosen;
  for (int i = 0; i < kindCount; ++i) {
    const FileTypeRecord& kind = records_[static_cast<std::size_t>(i)];
    if (kind.ExtensionOrEmpty() != wanted) continue;
    if (SignaturesFit(kind, size, headLength, file, readFailed)) return &kind;
    if (readFailed) return nullptr;
  }
  return chosen;
}

const FileTypeRecord* FragmentEngine::IdentifyOpen(std::intptr_t file, std::uint64_t size, std::size_t headLength,
                                                   const char* path, IdentifyStatus& status) {
  // Candidates in table order: kinds whose signatures pass and that declare
  // content strings, up to the first passing kind without any, which wins
  // whenever none of those before it does.
  int candidateCount = 0;
  const FileTypeRecord* fallback = nullptr;
  bool readFailed = false;
  const SearchState& index = *search_;
  const std::uint32_t last = index.start[head_[0] + 1u];
  for (std::uint32_t k = index.start[head_[0]]; k < last; ++k) {
    const int i = index.kinds[k];
    // The first signature's first bytes, when they lie in the head: a kind
    // they do not match fails its full test too (the signature either does
    // not fit or differs).
    const SearchState::Prefix& p = index.prefix[static_cast<std::size_t>(i)];
    if (p.length != 0 && p.offset + p.length <= headLength) {
      std::uint64_t bytes;
      std::memcpy(&bytes, head_.get() + p.offset, sizeof bytes);  // the head has 8 spare bytes
      if ((bytes & p.mask) != p.value) continue;
    }
    const FileTypeRecord& kind = records_[static_cast<std::size_t>(i)];
    if (!SignaturesFit(kind, size, headLength, file, readFailed)) {
      if (readFailed) break;
      continue;
    }
    if (const formats::StartTest startTest = index.startTests[static_cast<std::size_t>(i)]; startTest != nullptr) {
      formats::Fragment fragment(*platform_, file, base_, size);
      const bool starts = startTest(fragment);
      if (fragment.Failed()) {
        readFailed = true;
        break;
      }
      if (!starts) continue;
    }
    if (kind.addonBytes.empty()) {
      fallback = &kind;
      break;
    }
    candidates_[static_cast<std::size_t>(candidateCount++)] = i;
  }

  const FileTypeRecord* result = fallback;
  if (!readFailed && candidateCount > 0) {
    const int winner = ScanContent(file, size, headLength, candidates_.data(), candidateCount, readFailed);
    if (winner >= 0) result = &records_[static_cast<std::size_t>(candidates_[static_cast<std::size_t>(winner)])];
  }
  if (!readFailed && result != nullptr) result = ByContainer(result, file, size, headLength, readFailed);
  if (readFailed) {
    SetError("read file %s failed\n", path);
    return nullptr;
  }
  if (result == nullptr && LooksLikeText(size, headLength)) result = &textKind;
  status = result != nullptr ? IdentifyStatus::kKind : IdentifyStatus::kNoKind;
  return result;
}

}  // namespace tessaro
