// The name reader of a kind (its format's row), and the one open of the file
// that the check and the reader share.

#include "engine/names/content_name.h"

#include <algorithm>
#include <vector>

#include "engine/formats/format_row.h"
#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

const formats::FormatRow* FindReaderRow(std::string_view extension) {
  const formats::FormatRow* row = formats::FindEntry(extension);
  return row != nullptr && row->nameReader != nullptr ? row : nullptr;
}

}  // namespace

bool HasContentReader(std::string_view extension) { return FindReaderRow(extension) != nullptr; }

std::string ListContentExtensions() {
  std::vector<std::string_view> names;
  for (const formats::FormatRow* row : formats::FormatRows()) {
    if (row->nameReader == nullptr) continue;
    for (const char* name : row->extensions) {
      if (name == nullptr) break;
      names.emplace_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string_view name : names) text.append(text.empty() ? "" : " ").append(name);
  return text;
}

std::string ContentName(Fragment& fragment, std::string_view extension, const CheckResult& check) {
  const formats::FormatRow* row = FindReaderRow(extension);
  if (row == nullptr || fragment.Failed()) return {};
  std::string raw = row->nameReader(fragment, check);
  // A read that failed may have left the reader with half a text.
  if (fragment.Failed()) return {};
  return BoundedSafeName(raw);
}

std::string ContentName(Fragment& fragment, std::string_view extension) {
  const formats::FormatRow* row = FindReaderRow(extension);
  if (row == nullptr) return {};
  // Only the readers that look at it are given a real check: checking is a
  // walk through the whole file.
  const CheckResult check = row->nameReaderUsesCheck ? formats::CheckFragment(fragment, extension, formats::CheckOptions{})
                                                     : formats::Unchecked("not checked");
  return ContentName(fragment, extension, check);
}

std::string ContentName(Platform& platform, const std::string& path, std::string_view extension) {
  if (FindReaderRow(extension) == nullptr) return {};
  FileStatus status;
  int error = 0;
  bool statusFailed = false;
  const FileHandle file = platform.StatusAndOpen(path, status, error, statusFailed);
  if (file == kNoFile) return {};
  Fragment fragment(platform, file, status.size);
  std::string name = ContentName(fragment, extension);
  platform.Close(file);
  return name;
}

}  // namespace tessaro::names
