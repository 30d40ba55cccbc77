#pragma once
// identify --split and check --split: the files found inside one file.

#include <functional>
#include <string>

#include "catalog/fragment_engine.h"
#include "engine/formats/format_check.h"
#include "engine/split/fragment_split.h"

namespace tessaro::cli {

// How the reading of one file as files back to back ended.
enum class SplitEnd : std::uint8_t { kFiles, kNoFile, kFailed };

// Reads `path` as files back to back and hands each file found to `onFile`
// in fragment order. kFailed when the file could not be opened or read (the
// reason is on standard error; the files found before stand).
SplitEnd SplitFile(FragmentEngine& engine, const std::string& path, const formats::CheckOptions& options,
                   const std::function<void(const split::Piece&)>& onFile);

// "PATH" for a file at offset 0, "PATH@OFFSET" for one further in.
std::string PartPath(const std::string& path, std::uint64_t offset);

}  // namespace tessaro::cli
