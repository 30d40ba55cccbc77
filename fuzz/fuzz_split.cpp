// Fuzz target: a fragment read as files back to back, and the names its lost
// folders' records give them.
//
// Input: the fragment. The splitter reads it with the shipped catalogue; the
// records pieces it meets are added to a LostFolders, whose placement is then
// solved and whose files are placed. Held to:
// - no crash, no read past the fragment, no hang (the sanitizers, libFuzzer's
//   timeout); a read of a memory file never fails;
// - pieces in increasing offset order, all inside the fragment, none inside
//   what another holds (a file's extent may run over an unclaimed run up to
//   the next file or records); a file spans at least one byte, its own length
//   at most its span, and has a kind; records pieces hold records;
// FUZZ_SPLIT_PIECES set in the environment lists the pieces of each input.
// - a placement's cluster size is a power of two from 512 bytes to 32 MiB
//   that divides the fragment's size;
// - placed files in fragment order, each at least one byte and inside the
//   fragment, none overlapping another, each with a name and a folder path.
// Small synthetic exFAT rescues are the seeds (fuzz/corpus/split).

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "catalog/fragment_engine.h"
#include "engine/split/fragment_split.h"
#include "engine/split/lost_names.h"
#include "memory_file.h"
#include "platform/platform.h"

using namespace tessaro;
using namespace tessaro::split;

namespace {

[[noreturn]] void Fail(const char* what, std::uint64_t at) {
  std::fprintf(stderr, "at %llu: %s\n", static_cast<unsigned long long>(at), what);
  std::abort();
}

const char* RoleName(Piece::Role role) {
  return role == Piece::Role::kFile ? "file" : role == Piece::Role::kRecords ? "records" : "unclaimed";
}

void CheckPieces(const std::vector<Piece>& pieces, std::uint64_t size) {
  if (std::getenv("FUZZ_SPLIT_PIECES") != nullptr) {
    for (const Piece& piece : pieces) {
      std::fprintf(stderr, "  %s at %llu, %llu bytes (length %llu)\n", RoleName(piece.role),
                   static_cast<unsigned long long>(piece.offset), static_cast<unsigned long long>(piece.extent),
                   static_cast<unsigned long long>(piece.length));
    }
  }
  // A file's extent runs to the next file or records, over any unclaimed run
  // between them; what it holds (its proven length, else its extent) and
  // records overlap nothing.
  std::uint64_t start = 0, extentEnd = 0, heldEnd = 0;
  bool first = true;
  for (const Piece& piece : pieces) {
    if (!first && piece.offset <= start) Fail("a piece not after the one before it", piece.offset);
    first = false;
    start = piece.offset;
    if (piece.offset > size || piece.extent > size - piece.offset) Fail("a piece past the fragment", piece.offset);
    if (piece.extent == 0) Fail("an empty piece", piece.offset);
    if (piece.offset < heldEnd) Fail("a piece inside what the one before it holds", piece.offset);
    switch (piece.role) {
      case Piece::Role::kFile:
        if (piece.kind == nullptr) Fail("a file of no kind", piece.offset);
        if (piece.length == 0 || piece.length > piece.extent) Fail("a file's length outside its span", piece.offset);
        if (piece.offset < extentEnd) Fail("a file inside the span of the one before it", piece.offset);
        extentEnd = piece.offset + piece.extent;
        heldEnd = piece.offset + piece.length;
        break;
      case Piece::Role::kRecords:
        if (!piece.records || piece.records->offset != piece.offset) Fail("records not where they lie", piece.offset);
        if (piece.offset < extentEnd) Fail("records inside the span of a file", piece.offset);
        extentEnd = heldEnd = piece.offset + piece.extent;
        break;
      case Piece::Role::kUnclaimed:
        heldEnd = piece.offset + piece.extent;
        break;
    }
  }
}

void CheckPlaced(const std::vector<PlacedFile>& placed, std::uint64_t size) {
  std::uint64_t end = 0;
  for (const PlacedFile& file : placed) {
    if (file.offset < end) Fail("placed files overlap", file.offset);
    if (file.size == 0) Fail("an empty placed file", file.offset);
    if (file.offset > size || file.size > size - file.offset) Fail("a placed file past the fragment", file.offset);
    if (file.name.empty() || file.folders.empty() || file.entry == nullptr) Fail("a placed file unnamed", file.offset);
    end = file.offset + file.size;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tessaro::fuzz::MemoryFile fragmentFile("tessaro-split-fragment");
  static FragmentEngine engine(TESSARO_CATALOGUE);
  if (!engine.ready) {
    std::fprintf(stderr, "the shipped catalogue did not load: %s", engine.lastError);
    std::abort();
  }
  const std::string& path = fragmentFile.Fill(std::string_view(reinterpret_cast<const char*>(data), size));
  Platform& platform = SystemPlatform();
  int error = 0;
  const FileHandle file = platform.OpenRead(path, error);
  if (file == kNoFile) std::abort();
  std::vector<Piece> pieces;
  LostFolders lost;
  {
    FragmentSplitter splitter(engine, platform, file, size, path.c_str(), {});
    for (Piece piece; splitter.Next(piece);) {
      if (piece.role == Piece::Role::kRecords) lost.Add("FILE0000000", piece.offset, piece.records);
      pieces.push_back(std::move(piece));
    }
    if (splitter.Failed()) {
      std::fprintf(stderr, "the split of a memory file failed: %s", engine.lastError);
      std::abort();
    }
  }
  CheckPieces(pieces, size);
  if (const std::optional<Placement> placement = lost.Solve("FILE0000000", size, pieces)) {
    const std::uint64_t cluster = placement->clusterSize;
    if (cluster < 512 || cluster > (std::uint64_t{32} << 20) || (cluster & (cluster - 1)) != 0 || size % cluster != 0) {
      Fail("a cluster size no volume has", cluster);
    }
    CheckPlaced(lost.Place(size, *placement, pieces), size);
  }
  platform.Close(file);
  return 0;
}
