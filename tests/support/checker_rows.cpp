#include "support/checker_rows.h"

#include <algorithm>

#include "engine/formats/format_row.h"

namespace tessaro::testing {

std::vector<CheckerRow> CheckerRows() {
  std::vector<CheckerRow> rows;
  const std::string names = formats::ListCheckedExtensions();
  for (std::size_t start = 0; start < names.size();) {
    std::size_t end = names.find(' ', start);
    if (end == std::string::npos) end = names.size();
    const std::string name = names.substr(start, end - start);
    const formats::FormatRow* entry = formats::FindEntry(name);
    rows.push_back({name, entry->knowsWhenCut, entry->checksEveryByte});
    start = end + 1;
  }
  return rows;
}

const CheckerRow* FindRow(std::string_view extension) {
  static const std::vector<CheckerRow> rows = CheckerRows();
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  std::string lower(extension);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  const auto it = std::find_if(rows.begin(), rows.end(), [&](const CheckerRow& row) { return row.extension == lower; });
  return it != rows.end() ? &*it : nullptr;
}

formats::CheckResult RunBareChecker(formats::Fragment& fragment, std::string_view extension,
                                    const formats::CheckOptions& options) {
  const formats::FormatRow* row = formats::FindEntry(extension);
  if (row == nullptr) return formats::Unchecked("no checker for this kind");
  return formats::RunChecker(*row, fragment, options);
}

formats::CheckResult RunGuardedCheck(formats::Fragment& fragment, std::string_view extension,
                                     const formats::CheckOptions& options) {
  return formats::CheckFragment(fragment, extension, options);
}

}  // namespace tessaro::testing
