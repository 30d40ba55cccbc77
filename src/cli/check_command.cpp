// check: what each file's own structure says of it.

#include <cstdio>

#include "catalog/fragment_engine.h"
#include "cli/options.h"
#include "cli/split_file.h"
#include "engine/formats/format_check.h"
#include "platform/platform.h"

namespace tessaro::cli {

int RunCheck(const Options& options) {
  if (options.operands.empty()) {
    std::fputs("tessaro-cli check: no FILE given\n", stderr);
    return kExitUsage;
  }
  FragmentEngine engine(CataloguePath(options));
  if (!engine.ready) {
    std::fputs(engine.lastError, stderr);
    return kExitUsage;
  }
  formats::CheckOptions checkOptions;
  checkOptions.deep = options.deep;
  bool failed = false;
  for (const std::string& path : options.operands) {
    if (options.split) {
      const SplitEnd end = SplitFile(engine, path, checkOptions, [&](const split::Piece& piece) {
        const std::string& extension = piece.kind->ExtensionOrEmpty();
        const formats::CheckResult& result = piece.check;
        const std::string length = result.length == formats::kUnknown ? "-" : std::to_string(result.length);
        std::printf("%s\t%s\t%s\t%s\t%s\n", PartPath(path, piece.offset).c_str(),
                    extension.empty() ? "-" : extension.c_str(), formats::VerdictName(result.verdict), length.c_str(),
                    result.detail.c_str());
      });
      if (end == SplitEnd::kNoFile) std::printf("%s\t-\tunchecked\t-\tno kind\n", path.c_str());
      if (end == SplitEnd::kFailed) failed = true;
      continue;
    }
    IdentifyStatus identified;
    const FileTypeRecord* kind = engine.IdentifyFile(path.c_str(), identified);
    if (kind == nullptr) {
      std::printf("%s\t-\tunchecked\t-\t%s\n", path.c_str(),
                  identified == IdentifyStatus::kFailed ? "cannot be read" : "no kind");
      if (identified == IdentifyStatus::kFailed) {
        failed = true;
        std::fflush(stdout);
        std::fputs(engine.lastError, stderr);
      }
      continue;
    }
    bool readFailed = false;
    int error = 0;
    const std::string& extension = kind->ExtensionOrEmpty();
    const formats::CheckResult result =
        formats::CheckFile(SystemPlatform(), path, extension, checkOptions, readFailed, error);
    const std::string length = result.length == formats::kUnknown ? "-" : std::to_string(result.length);
    std::printf("%s\t%s\t%s\t%s\t%s\n", path.c_str(), extension.empty() ? "-" : extension.c_str(),
                formats::VerdictName(result.verdict), length.c_str(), result.detail.c_str());
    if (readFailed) {
      failed = true;
      std::fflush(stdout);
      std::fprintf(stderr, "read file %s failed: %s\n", path.c_str(), ErrorText(error).c_str());
    }
  }
  return failed ? kExitFailures : kExitOk;
}

}  // namespace tessaro::cli
