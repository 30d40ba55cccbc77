// lint: what a catalogue's author most likely did not mean.

#include <cstdio>

#include "catalog/catalogue_lint.h"
#include "cli/options.h"
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
  const std::vector<LintFinding> findings = LintCatalogue(path);
  bool clean = true;
  for (const LintFinding& finding : findings) {
    std::printf("%s\n", FormatFinding(path, finding).c_str());
    if (!finding.information) clean = false;
  }
  return clean ? kExitOk : kExitFailures;
}

}  // namespace tessaro::cli
