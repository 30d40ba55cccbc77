#pragma once
// Files back to back inside one fragment.
//
// A disk check gives back what it could not place as fragments, and most hold
// one file. Some hold many: an exFAT file written in one piece has no chain in
// the allocation table, so when its folder's records are lost the check
// gathers the folder's clusters into one fragment, file after file. The
// splitter reads such a fragment once, from its start to its end, as files
// that each begin on a 512-byte boundary:
//   - the file at offset 0 is identified and checked as a whole fragment is;
//   - where a file's check proves its end, the next file may begin at the
//     first boundary at or after that end (after zeros only, any kind the
//     catalogue tells, text too);
//   - elsewhere a boundary begins a file only when the catalogue's signatures
//     fit there and the kind's checker finds a sound structure from there
//     (intact, or cut short by the fragment's end);
//   - a boundary inside a file whose check proved an end beyond it is never
//     taken.
// Bytes that no file found holds, other than zeros, come back as runs of their
// own, so that nothing is dropped unseen. A lost folder's own records (exFAT
// entry sets, FAT directory entries, every checksum right) come back as
// pieces of their own wherever they begin outside a proven file; they end the
// file before them, and the next file may begin where they end.
//
// Memory is one window of the fragment and does not grow with its size. The
// identification uses the engine given, so the splitter is used by one thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "catalog/fragment_engine.h"
#include "engine/folders/folder_records.h"
#include "engine/formats/format_check.h"
#include "platform/platform.h"

namespace tessaro::split {

struct Piece {
  enum class Role : std::uint8_t {
    kFile,       // a file found: `kind` and `check` say what it is
    kUnclaimed,  // bytes, not all zeros, that belong to no file found
    kRecords,    // a lost folder's own records: `records` holds them
  };
  Role role = Role::kFile;
  // Where it begins in the fragment, and how many bytes it spans: a file up
  // to the next piece's start (or the fragment's end), slack included.
  std::uint64_t offset = 0;
  std::uint64_t extent = 0;
  // A file's own length: its proven end when its check says intact, else its
  // extent.
  std::uint64_t length = 0;
  const FileTypeRecord* kind = nullptr;
  // What the file's structure says of the bytes [offset, offset + extent),
  // as CheckFragment gives it (lengths from the file's own start).
  formats::CheckResult check;
  std::shared_ptr<const folders::FolderRecords> records;
};

class FragmentSplitter {
 public:
  // `file` is open for reading and `size` bytes long; `name` names it in the
  // engine's messages. A set `stop` ends the reading at the next window or
  // file. The file stays open and is not moved (positioned reads only).
  FragmentSplitter(FragmentEngine& engine, Platform& platform, FileHandle file, std::uint64_t size,
                   const char* name, const formats::CheckOptions& options,
                   const std::atomic<std::uint8_t>* stop = nullptr);
  ~FragmentSplitter();
  FragmentSplitter(const FragmentSplitter&) = delete;
  FragmentSplitter& operator=(const FragmentSplitter&) = delete;

  // The next piece in fragment order; false when there are no more, or the
  // reading failed (Failed(); the engine's lastError says why) or stopped.
  bool Next(Piece& piece);
  bool Failed() const { return failed_; }
  // How many files the pieces so far have held.
  std::uint64_t FilesFound() const { return files_; }

 private:
  struct Start {
    std::uint64_t offset = 0;
    std::uint64_t probe = 0;  // the bytes its kind was told from
    const FileTypeRecord* kind = nullptr;
    formats::CheckResult check;  // on [offset, fragment's end)
    std::shared_ptr<const folders::FolderRecords> records;  // set: records begin here, no file
  };
  // Whether a folder's records begin at `at` (whose first bytes are `bytes`).
  bool TryRecords(std::uint64_t at, const unsigned char* bytes, std::size_t n, Start& start);
  // Whether a file begins at `at`: identified, and with `strict`, of a kind
  // whose checker finds a sound structure there.
  bool TryStart(std::uint64_t at, bool strict, Start& start);
  // The next start at or after `from`, or none (start.kind null, at the end).
  // `afterProof`: `from` follows a proven end, so a start after zeros only
  // needs no proof. Runs of bytes other than zeros passed on the way, where
  // they belong to no file, become unclaimed pieces.
  // `tryFrom` false: `from` itself was tried already.
  void FindNext(std::uint64_t from, bool afterProof, bool tryFrom);
  // The bytes [at, at + n) from the window, reading it on when needed; null
  // when they cannot be read. `n` at most kLookAhead.
  const unsigned char* Window(std::uint64_t at, std::size_t n);
  // Settles the file in hand up to `end` and queues it.
  void SettleFile(std::uint64_t end);
  bool Stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed) != 0; }

  FragmentEngine& engine_;
  Platform& platform_;
  FileHandle file_;
  std::uint64_t size_;
  std::string name_;
  formats::CheckOptions options_;
  const std::atomic<std::uint8_t>* stop_;
  bool failed_ = false;
  bool started_ = false;
  bool done_ = false;
  std::uint64_t files_ = 0;

  // Where to look next when no file is in hand (after records).
  std::uint64_t resume_ = 0;
  // The file in hand (whose end is not yet known), if any.
  bool open_ = false;
  Start current_;
  // Pieces found and not yet handed out: at most an unclaimed run and a file.
  Piece queue_[3];
  int queued_ = 0;
  int handed_ = 0;

  std::unique_ptr<unsigned char[]> window_;
  std::uint64_t windowAt_ = 0;
  std::size_t windowLength_ = 0;
};

}  // namespace tessaro::split
