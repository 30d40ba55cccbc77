// Fuzz target: IdentifyFile on any file against any catalogue, held to the
// plain reference of reference_identify.cpp.
//
// Input: a catalogue text, the line "--file--", then the file. A file part that
// begins with the byte FE is stretched: the next three bytes give a count (at
// most 600,000) and the fourth a filler byte, and that many filler bytes are
// put into the middle of the rest. So a few bytes of input make files that
// run past the 4096-byte head and across the 262,144-byte chunks of the
// content scan, where the engine's one-read scan has its boundaries.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "catalog/fragment_engine.h"
#include "engine/formats/container_kind.h"
#include "engine/formats/format_row.h"
#include "platform/platform.h"
#include "memory_file.h"
#include "reference_identify.h"

using tessaro::FileTypeRecord;
using tessaro::FragmentEngine;

namespace {

constexpr std::string_view kSeparator = "\n--file--\n";
constexpr std::size_t kMaxStretch = 600000;

std::string FileBytes(std::string_view part) {
  if (part.size() < 5 || static_cast<unsigned char>(part[0]) != 0xFE) return std::string(part);
  const std::size_t count = (static_cast<unsigned char>(part[1]) | static_cast<unsigned char>(part[2]) << 8 |
                             static_cast<std::size_t>(static_cast<unsigned char>(part[3])) << 16) %
                            (kMaxStretch + 1);
  const char filler = part[4];
  const std::string_view rest = part.substr(5);
  std::string bytes;
  bytes.reserve(rest.size() + count);
  bytes.append(rest.substr(0, rest.size() / 2));
  bytes.append(count, filler);
  bytes.append(rest.substr(rest.size() / 2));
  return bytes;
}

const char* Describe(const FragmentEngine& engine, const FileTypeRecord* kind) {
  static std::string text;
  if (kind == nullptr) return "no kind";
  if (kind == &engine.textKind) return "the text kind";
  for (int i = 0; i < engine.kindCount; ++i) {
    if (engine.kinds[static_cast<std::size_t>(i)] == kind) {
      text = "slot " + std::to_string(i) + " (" + kind->NameOrEmpty() + ")";
      return text.c_str();
    }
  }
  return "a record outside the table";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tessaro::fuzz::MemoryFile catalogueFile("tessaro-identify-catalogue");
  static tessaro::fuzz::MemoryFile fragmentFile("tessaro-identify-fragment");
  static std::string loadedCatalogue;
  static std::unique_ptr<FragmentEngine> engine;

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find(kSeparator);
  const std::string_view catalogue = input.substr(0, cut);
  const std::string_view filePart =
      cut == std::string_view::npos ? std::string_view() : input.substr(cut + kSeparator.size());

  // Inputs that share a catalogue share the loaded engine, as the passes do.
  if (!engine || catalogue != loadedCatalogue) {
    loadedCatalogue.assign(catalogue);
    engine.reset();
    engine = std::make_unique<FragmentEngine>(catalogueFile.Fill(catalogue));
  }
  if (!engine->ready) return 0;

  const std::string file = FileBytes(filePart);
  const std::string& path = fragmentFile.Fill(file);
  tessaro::IdentifyStatus status;
  const FileTypeRecord* got = engine->IdentifyFile(path.c_str(), status);
  // What the file's container says, and which formats' start tests it
  // passes, read on their own through the system.
  std::string proven;
  std::set<std::string> started;
  {
    tessaro::Platform& platform = tessaro::SystemPlatform();
    int error = 0;
    const tessaro::FileHandle handle = platform.OpenRead(path, error);
    if (handle != tessaro::kNoFile) {
      tessaro::formats::Fragment fragment(platform, handle, file.size());
      proven = tessaro::formats::ContainerKind(fragment);
      for (const tessaro::formats::FormatRow* row : tessaro::formats::FormatRows()) {
        if (row->startTest == nullptr || !row->startTest(fragment)) continue;
        for (const char* const* e = row->extensions; e != std::end(row->extensions) && *e != nullptr; ++e) {
          started.insert(*e);
        }
      }
      platform.Close(handle);
    }
  }
  const FileTypeRecord* want = tessaro::fuzz::ReferenceIdentify(*engine, file, proven, started);
  if (status == tessaro::IdentifyStatus::kFailed) {
    std::fprintf(stderr, "identification of a readable file failed: %s", engine->lastError);
    std::abort();
  }
  if (got != want) {
    std::fprintf(stderr, "file of %zu bytes: the engine says %s, ", file.size(), Describe(*engine, got));
    std::fprintf(stderr, "the rules say %s\n", Describe(*engine, want));
    std::abort();
  }
  return 0;
}
