#include "reference_identify.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/formats/format_row.h"

namespace tessaro::fuzz {

namespace {

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  std::abort();  // the load let a character through that is no digit
}

// The signature test of one kind: the verdict so far when a signature does not
// fit, false at the first mismatch, true when all matched.
bool SignaturesPass(const FileTypeRecord& kind, std::string_view file) {
  bool verdict = false;
  for (std::size_t k = 0; k < kind.signatures.size(); ++k) {
    if (k >= kind.offsets.size()) break;  // no offset: cannot fit
    const std::string bytes = DecodeHexPlain(kind.signatures[k]);
    const std::int64_t offset = kind.offsets[k];
    if (offset < 0) break;
    const auto at = static_cast<std::uint64_t>(offset);
    if (at > file.size() || bytes.size() > file.size() - at) break;
    if (file.substr(static_cast<std::size_t>(at), bytes.size()) != bytes) return false;
    verdict = true;
  }
  return verdict;
}

bool ContentPasses(const FileTypeRecord& kind, std::string_view file) {
  for (const std::string& addon : kind.addons) {
    const std::string bytes = DecodeHexPlain(addon);
    if (bytes.empty()) return false;  // an empty content string never occurs
    if (file.find(bytes) == std::string_view::npos) return false;
  }
  return true;
}

bool LooksLikeText(std::string_view file) {
  if (file.size() >= FragmentEngine::kTextSizeLimit) return false;
  std::size_t n = std::min<std::size_t>(file.size(), FragmentEngine::kTextWindow);
  // The end of a text in a fragment of whole sectors: a zero byte followed by
  // zeros only, to the end of its sector.
  const std::size_t zero = file.substr(0, n).find('\0');
  if (zero != std::string_view::npos) {
    const std::size_t sector = FragmentEngine::kSectorSize;
    const std::size_t end = (zero / sector + 1) * sector;
    if (zero == 0 || file.size() % sector != 0) return false;
    if (file.substr(zero, end - zero).find_first_not_of('\0') != std::string_view::npos) return false;
    n = zero;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(file[i]);
    if (b == 9 || b == 10 || b == 13) continue;
    if (b < 32 || b == 255) return false;
  }
  return true;
}

// What content strings are looked for in: a file that looks like text ends
// at a first zero byte that only zeros follow to the end of its sector (or of
// the file); a zero byte that other bytes follow makes all of it count.
std::string_view SearchedPart(std::string_view file) {
  if (!LooksLikeText(file)) return file;
  const std::size_t zero = file.find('\0');
  if (zero == std::string_view::npos) return file;
  const std::size_t sector = FragmentEngine::kSectorSize;
  const std::size_t end = std::min(file.size(), (zero / sector + 1) * sector);
  if (file.substr(zero, end - zero).find_first_not_of('\0') != std::string_view::npos) return file;
  return file.substr(0, zero);
}

}  // namespace

std::string DecodeHexPlain(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(Digit(hex[i]) * 16 + Digit(hex[i + 1])));
  }
  if (hex.size() % 2 == 1) Digit(hex.back());
  return bytes;
}

const FileTypeRecord* ReferenceIdentify(const FragmentEngine& engine, std::string_view file, std::string_view proven,
                                        const std::set<std::string>& started) {
  if (!engine.ready || file.empty()) return nullptr;
  auto startPasses = [&](const FileTypeRecord& kind) {
    const formats::FormatRow* row = formats::FindEntry(kind.ExtensionOrEmpty());
    if (row == nullptr || row->startTest == nullptr) return true;
    std::string lower = kind.ExtensionOrEmpty();
    if (!lower.empty() && lower.front() == '.') lower.erase(0, 1);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return started.count(lower) > 0;
  };
  const std::string_view content = SearchedPart(file);
  const FileTypeRecord* chosen = nullptr;
  for (int i = 0; i < engine.kindCount && chosen == nullptr; ++i) {
    const FileTypeRecord& kind = *engine.kinds[static_cast<std::size_t>(i)];
    if (SignaturesPass(kind, file) && startPasses(kind) && ContentPasses(kind, content)) chosen = &kind;
  }
  if (chosen == nullptr) return LooksLikeText(file) ? &engine.textKind : nullptr;
  const std::string wanted = "." + std::string(proven);
  if (proven.empty() || chosen->ExtensionOrEmpty() == wanted) return chosen;
  for (int i = 0; i < engine.kindCount; ++i) {
    const FileTypeRecord& kind = *engine.kinds[static_cast<std::size_t>(i)];
    if (kind.ExtensionOrEmpty() == wanted && SignaturesPass(kind, file)) return &kind;
  }
  return chosen;
}

}  // namespace tessaro::fuzz
