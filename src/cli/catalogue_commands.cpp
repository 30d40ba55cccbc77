// identify and kinds: the catalogue and identification seen from the shell.

#include <cstdio>

#include "catalog/fragment_engine.h"
#include "cli/options.h"
#include "cli/split_file.h"
#include "platform/platform.h"

namespace tessaro::cli {

std::string CataloguePath(const Options& options) {
  if (!options.config.empty()) return options.config;
  FileStatus status;
  int error = 0;
  Platform& system = SystemPlatform();
  if (system.Status(FragmentEngine::kDefaultConfig, status, error)) return FragmentEngine::kDefaultConfig;
  const std::string folder = ExecutableDirectory();
  if (!folder.empty()) {
    // Beside the program, as the Windows zip unpacks it.
    const std::string beside = JoinPath(folder, FragmentEngine::kDefaultConfig);
    if (system.Status(beside, status, error)) return beside;
    const std::string installed =
        JoinPath(JoinPath(JoinPath(JoinPath(folder, ".."), "share"), "tessaro"), FragmentEngine::kDefaultConfig);
    if (system.Status(installed, status, error)) return installed;
  }
  return FragmentEngine::kDefaultConfig;
}

namespace {

// The engine prints its one diagnostic line on standard output when the load
// fails; the command line reports the reason on standard error instead.
bool LoadOrReport(const FragmentEngine& engine) {
  if (engine.ready) return true;
  std::fputs(engine.lastError, stderr);
  return false;
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ",";
    out += items[i];
  }
  return out;
}

}  // namespace

int RunIdentify(const Options& options) {
  if (options.operands.empty()) {
    std::fputs("tessaro-cli identify: no FILE given\n", stderr);
    return kExitUsage;
  }
  FragmentEngine engine(CataloguePath(options));
  if (!LoadOrReport(engine)) return kExitUsage;
  bool failed = false;
  for (const std::string& path : options.operands) {
    if (options.split) {
      const SplitEnd end = SplitFile(engine, path, formats::CheckOptions{}, [&](const split::Piece& piece) {
        std::printf("%s\t%s\t%s\n", PartPath(path, piece.offset).c_str(), piece.kind->ExtensionOrEmpty().c_str(),
                    piece.kind->NameOrEmpty().c_str());
      });
      if (end == SplitEnd::kNoFile) std::printf("%s\t-\t-\n", path.c_str());
      if (end == SplitEnd::kFailed) failed = true;
      continue;
    }
    IdentifyStatus status;
    const FileTypeRecord* kind = engine.IdentifyFile(path.c_str(), status);
    if (kind != nullptr) {
      std::printf("%s\t%s\t%s\n", path.c_str(), kind->ExtensionOrEmpty().c_str(), kind->NameOrEmpty().c_str());
      continue;
    }
    std::printf("%s\t-\t-\n", path.c_str());
    if (status == IdentifyStatus::kFailed) {
      failed = true;
      std::fflush(stdout);
      std::fputs(engine.lastError, stderr);
    }
  }
  return failed ? kExitFailures : kExitOk;
}

int RunKinds(const Options& options) {
  if (!options.operands.empty()) {
    std::fputs("tessaro-cli kinds: takes no operands\n", stderr);
    return kExitUsage;
  }
  FragmentEngine engine(CataloguePath(options));
  if (!LoadOrReport(engine)) return kExitUsage;
  for (int i = 0; i < engine.kindCount; ++i) {
    const FileTypeRecord& kind = *engine.kinds[static_cast<std::size_t>(i)];
    std::vector<std::string> offsets;
    for (std::int64_t o : kind.offsets) offsets.push_back(std::to_string(o));
    std::printf("%d\t%s\t%s\t%s\t%s\t%s\n", i, kind.NameOrEmpty().c_str(), kind.ExtensionOrEmpty().c_str(),
                Join(offsets).c_str(), Join(kind.signatures).c_str(), Join(kind.addons).c_str());
  }
  return kExitOk;
}

}  // namespace tessaro::cli
