#include "support/checker_rows.h"

#include <algorithm>

#include "engine/formats/checkers.h"

namespace tessaro::testing {

std::vector<CheckerRow> CheckerRows() {
  std::vector<CheckerRow> rows;
  const std::string names = formats::ListCheckedExtensions();
  for (std::size_t start = 0; start < names.size();) {
    std::size_t end = names.find(' ', start);
    if (end == std::string::npos) end = names.size();
    const formats::CheckerEntry* entry = formats::FindEntry(names.substr(start, end - start));
    rows.push_back({entry->extension, entry->knowsWhenCut, entry->checksEveryByte});
    start = end + 1;
  }
  return rows;
}

const CheckerRow* FindRow(std::string_view extension) {
  static const std::vector<CheckerRow> rows = CheckerRows();
  const formats::CheckerEntry* entry = formats::FindEntry(extension);
  if (entry == nullptr) return nullptr;
  const auto it = std::find_if(rows.begin(), rows.end(),
                               [&](const CheckerRow& row) { return row.extension == entry->extension; });
  return it != rows.end() ? &*it : nullptr;
}

formats::CheckResult RunBareChecker(formats::Fragment& fragment, std::string_view extension,
                                    const formats::CheckOptions& options) {
  const formats::Checker checker = formats::FindChecker(extension);
  if (checker == nullptr) return formats::Unchecked("no checker for this kind");
  return checker(fragment, options);
}

formats::CheckResult RunGuardedCheck(formats::Fragment& fragment, std::string_view extension,
                                     const formats::CheckOptions& options) {
  return formats::CheckFragment(fragment, extension, options);
}

}  // namespace tessaro::testing
