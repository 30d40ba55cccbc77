#pragma once
// FragmentEngine: the catalogue of file kinds read from tessaro.cfg, and the
// identification of one fragment file against it.
//
// Failures are reported by return value and by lastError, a NUL-terminated
// text of at most 511 characters that ends in a line feed; it is set only when
// something fails, and read only after that. No exceptions.
//
// One engine identifies one file at a time: IdentifyFile reuses buffers the
// engine owns, so two threads must not call it on one engine at once. The
// catalogue never changes after the load.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/file_type_record.h"

namespace tessaro {

class Platform;
using FileHandle = std::intptr_t;  // as platform/platform.h has it

// How an identification ended: with a kind (the text kind included), with no
// kind (an empty file, or nothing fitted), or failed (the file could not be
// examined; lastError says why).
enum class IdentifyStatus : std::uint8_t { kKind, kNoKind, kFailed };

class FragmentEngine {
 public:
  static constexpr int kMaxKinds = 300;
  static constexpr std::size_t kHeadSize = 4096;
  static constexpr std::size_t kChunkSize = 262144;
  static constexpr std::size_t kTextWindow = 1024;
  // Disks hand back whole sectors: the text test knows where one ends.
  static constexpr std::size_t kSectorSize = 512;
  static constexpr std::uint64_t kTextSizeLimit = 52428800;
  static constexpr const char* kDefaultConfig = "tessaro.cfg";

  // Reads tessaro.cfg from the current directory.
  FragmentEngine();
  // Reads the catalogue at `configPath`; the messages name that path.
  explicit FragmentEngine(std::string configPath);
  FragmentEngine(std::string configPath, Platform& platform);
  ~FragmentEngine();
  FragmentEngine(const FragmentEngine&) = delete;
  FragmentEngine& operator=(const FragmentEngine&) = delete;

  // 0 on success; -1 with lastError set. Called once, by the constructor.
  int LoadCatalogue();

  // The first kind in table order that the file at `path` satisfies, the text
  // kind when none does and the file looks like text, or null. The file is
  // opened for reading only.
  const FileTypeRecord* IdentifyFile(const char* path);
  // The same, and whether the file could be examined at all: a caller tells a
  // failure from "no kind" by `status`.
  const FileTypeRecord* IdentifyFile(const char* path, IdentifyStatus& status);
  // The same for the `size` bytes at `offset` of a file the caller holds
  // open (a file that begins inside a fragment): the result is the one a file
  // holding just those bytes would get, and nothing outside them is read.
  // `name` only names the file in lastError. The file is not closed.
  const FileTypeRecord* IdentifyRange(std::intptr_t file, std::uint64_t offset, std::uint64_t size, const char* name,
                                      IdentifyStatus& status);

  // The same, of a file the caller has opened already (`file`, at its start,
  // of `size` bytes, as Platform::StatusAndOpen gives them; kNoFile when that
  // open failed), so that one open serves the identification and what
  // follows it. The file is left open; `path` names it in lastError.
  const FileTypeRecord* IdentifyOpenFile(const char* path, FileHandle file, std::uint64_t size,
                                         IdentifyStatus& status);

  // Whether a file that begins with `bytes` (`n` of them, as many as are at
  // hand) could be of some kind: false only when every kind has a signature
  // within those bytes that they refuse. A quick test before IdentifyRange, for
  // looking for files that begin inside a fragment; the text kind is not
  // considered.
  bool MayBegin(const unsigned char* bytes, std::size_t n);

  const std::string& ConfigPath() const { return configPath_; }

  char lastError[512];
  bool ready = false;
  FileTypeRecord textKind;
  std::array<FileTypeRecord*, kMaxKinds> kinds{};
  int kindCount = 0;

 private:
  void SetError(const char* format, ...);
  bool ReadyToIdentify(const char* path, IdentifyStatus& status);
  const FileTypeRecord* IdentifyOpen(const char* path, FileHandle file, std::uint64_t size, IdentifyStatus& status);
  bool SignaturesFit(const FileTypeRecord& kind, std::uint64_t size, std::size_t headLength,
                     std::intptr_t file, bool& readFailed);
  int ScanContent(std::intptr_t file, std::uint64_t size, std::size_t headLength,
                  const int* candidates, int candidateCount, bool& readFailed);
  bool LooksLikeText(std::uint64_t size, std::size_t headLength) const;
  // The kind a compound file's or a ZIP's own directory proves, where the
  // catalogue has one for it and its signatures fit; else `chosen`.
  const FileTypeRecord* ByContainer(const FileTypeRecord* chosen, std::intptr_t file, std::uint64_t size,
                                    std::size_t headLength, bool& readFailed);
  // The identification once the head is read; `path` names the file in lastError.
  const FileTypeRecord* IdentifyOpen(std::intptr_t file, std::uint64_t size, std::size_t headLength, const char* path,
                                     IdentifyStatus& status);

  std::string configPath_;
  Platform* platform_;
  std::array<FileTypeRecord, kMaxKinds> records_;

  // Working storage, made once and reused by every call.
  std::unique_ptr<unsigned char[]> head_;
  std::unique_ptr<unsigned char[]> scan_;   // carry of the previous chunk + one chunk
  std::size_t carryCapacity_ = 0;           // longest content string - 1
  std::unique_ptr<unsigned char[]> farSignature_;  // a signature beyond the head
  std::size_t longestSignature_ = 0;
  std::vector<unsigned char> found_;        // one flag per content string of the catalogue
  std::vector<int> candidates_;
  std::uint64_t base_ = 0;                  // where in the open file the file in hand begins
  // The kinds by the first byte of their first signature, the needle set of the
  // content scan and the like: built from the catalogue by the first
  // identification (identify_file.cpp), dropped by a new load.
  struct SearchState;
  std::shared_ptr<SearchState> search_;
};

}  // namespace tessaro
