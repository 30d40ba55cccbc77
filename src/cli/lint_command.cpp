// lint: what a catalogue's author most likely did not mean.

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "catalog/catalogue_lint.h"
#include "cli/options.h"
#include "engine/formats/format_check.h"
#include "platform/platform.h"

namespace tessaro::cli {

int RunLint(const Options& options) {
  if (options.operands.size() > 1) {
    std::fputs("tessaro-cli lint: expected at most one FILE\n", stderr);
    return kExitUsage;
  }
  const std::string path = options.operands.empty() ? CataloguePath(options) : options.operands[0];
  FileStatus status;
  int error = 0;
  if (!SystemPlatform().Status(path, status, error) || !status.isRegular) {
    std::fprintf(stderr, "tessaro-cli lint: cannot read %s\n", path.c_str());
    return kExitUsage;
  }
  std::vector<FileTypeRecord> kinds;
  const std::vector<LintFinding> findings = LintCatalogue(path, &kinds);
  bool clean = true;
  for (const LintFinding& finding : findings) {
    std::printf("%s\n", FormatFinding(path, finding).c_str());
    if (!finding.information) clean = false;
  }
  // Which kinds the format checkers (check, --check, --trim) know nothing of:
  // information, once for each extension.
  std::set<std::string> told;
  for (const FileTypeRecord& kind : kinds) {
    const std::string& extension = kind.ExtensionOrEmpty();
    if (extension.empty() || formats::FindChecker(extension) != nullptr || !told.insert(extension).second) continue;
    LintFinding info{kind.NameOrEmpty(), 0, "extension " + extension + " has no checker: its files stay unchecked", true};
    std::printf("%s\n", FormatFinding(path, info).c_str());
  }
  return clean ? kExitOk : kExitFailures;
}

}  // namespace tessaro::cli
