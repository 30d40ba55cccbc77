// identify --split and check --split: the files found inside one file.

#include "cli/split_file.h"

#include <cstdio>

#include "platform/platform.h"

namespace tessaro::cli {

SplitEnd SplitFile(FragmentEngine& engine, const std::string& path, const formats::CheckOptions& options,
                   const std::function<void(const split::Piece&)>& onFile) {
  Platform& platform = SystemPlatform();
  FileStatus status;
  int error = 0;
  bool statusFailed = false;
  const FileHandle file = platform.StatusAndOpen(path, status, error, statusFailed);
  if (statusFailed || file == kNoFile) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s %s failed: %s\n", statusFailed ? "cann't get information of" : "open", path.c_str(),
                 ErrorText(error).c_str());
    return SplitEnd::kFailed;
  }
  split::FragmentSplitter splitter(engine, platform, file, status.size, path.c_str(), options);
  split::Piece piece;
  bool any = false;
  while (splitter.Next(piece)) {
    if (piece.role != split::Piece::Role::kFile) continue;
    any = true;
    onFile(piece);
  }
  platform.Close(file);
  if (splitter.Failed()) {
    std::fflush(stdout);
    std::fputs(engine.lastError, stderr);
    return SplitEnd::kFailed;
  }
  return any ? SplitEnd::kFiles : SplitEnd::kNoFile;
}

std::string PartPath(const std::string& path, std::uint64_t offset) {
  return offset == 0 ? path : path + '@' + std::to_string(offset);
}

}  // namespace tessaro::cli
