// check: what each file's own structure says of it.

#include <cstdio>

#include "app/rescue_reads.h"
#include "catalog/fragment_engine.h"
#include "cli/options.h"
#include "cli/split_file.h"
#include "engine/formats/format_check.h"
#include "platform/platform.h"

namespace tessaro::cli {

namespace {

void PrintCheck(const std::string& path, const std::string& extension, const formats::CheckResult& result) {
  const std::string length = result.length == formats::kUnknown ? "-" : std::to_string(result.length);
  std::printf("%s\t%s\t%s\t%s\t%s\n", path.c_str(), extension.empty() ? "-" : extension.c_str(),
              formats::VerdictName(result.verdict), length.c_str(), result.detail.c_str());
}

// One file with rescue reading: its kind and check from what can be read,
// damaged where sectors could not be. False when nothing of it could be read.
bool CheckRescued(FragmentEngine& engine, RescueReads& reads, const std::string& path,
                  const formats::CheckOptions& checkOptions) {
  FileStatus status;
  int error = 0;
  bool statusFailed = false;
  const FileHandle file = reads.StatusAndOpen(path, status, error, statusFailed);
  IdentifyStatus identified;
  const FileTypeRecord* kind = engine.IdentifyOpenFile(path.c_str(), file, status.size, identified);
  bool ok = identified != IdentifyStatus::kFailed;
  formats::CheckResult result = formats::Unchecked(ok ? "no kind" : "cannot be read");
  if (kind != nullptr) {
    formats::Fragment fragment(reads, file, status.size);
    result = formats::CheckFragment(fragment, kind->ExtensionOrEmpty(), checkOptions);
    if (fragment.Failed()) {
      ok = false;
      result = formats::Unchecked("cannot be read");
    }
  }
  if (ok && file != kNoFile) {
    const std::vector<RescueReads::Range> unreadable = reads.Unreadable(file, 0, status.size);
    if (!unreadable.empty()) {
      std::string detail = UnreadableDetail(unreadable);
      if (!result.detail.empty()) detail += "; " + result.detail;
      result = formats::Damaged(std::move(detail));
    }
  }
  if (file != kNoFile) reads.Close(file);
  PrintCheck(path, kind != nullptr ? kind->ExtensionOrEmpty() : std::string(), result);
  if (!ok) {
    std::fflush(stdout);
    if (statusFailed || file == kNoFile) {
      std::fprintf(stderr, "read file %s failed: %s\n", path.c_str(), ErrorText(error).c_str());
    } else {
      std::fputs(engine.lastError, stderr);
    }
  }
  return ok;
}

}  // namespace

int RunCheck(const Options& options) {
  if (options.operands.empty()) {
    std::fputs("tessaro-cli check: no FILE given\n", stderr);
    return kExitUsage;
  }
  // With --rescue every read goes through the careful reader, and each file
  // is opened once for its kind and its check: its damaged sectors are read
  // once, not once for each.
  RescueReads reads(SystemPlatform());
  reads.Enable(options.rescue);
  FragmentEngine engine(CataloguePath(options), reads);
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
    if (options.rescue) {
      if (!CheckRescued(engine, reads, path, checkOptions)) failed = true;
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
    PrintCheck(path, extension, result);
    if (readFailed) {
      failed = true;
      std::fflush(stdout);
      std::fprintf(stderr, "read file %s failed: %s\n", path.c_str(), ErrorText(error).c_str());
    }
  }
  return failed ? kExitFailures : kExitOk;
}

}  // namespace tessaro::cli
