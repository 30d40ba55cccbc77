#pragma once
// LintCatalogue: checks a catalogue file for what its author most likely did
// not mean. The catalogue loads by fixed rules that never complain (a key's
// role is its position, a repeated name merges, a tab ends the file); these
// findings say where those rules will do something surprising:
//   - a line that stops the reader (it begins with a control character);
//   - more than 300 kinds;
//   - keys that broke the offset/signature pairing (an offset that is no
//     decimal number, a signature that is one, a postfix or addon key between
//     the pairs, an offset without its signature, a repeated key name);
//   - text that is not hexadecimal, odd digit counts (a content string with
//     one does not load), offsets beyond the 64-bit range, empty patterns;
//   - a kind without signatures (it never matches), except the one intended
//     row: a kind without signatures whose extension is the built-in text
//     kind's ".txt", which counts the text files;
//   - a kind without a postfix key;
//   - a later signature that reaches beyond the first (a file too short for
//     it matches without it);
//   - a kind that can never be reached, because an earlier kind matches every
//     file it matches and wins.
// Beside the findings, information that is no mistake: an extension an earlier
// kind already uses (the kinds of one file type share its first row).
// A result without findings means the catalogue is clean. Pure: reads the one file.

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/file_type_record.h"

namespace tessaro {

struct LintFinding {
  // The kind's section name as written; empty for the file as a whole.
  std::string section;
  // Line number counted from 1; 0 when no single line applies.
  std::uint64_t line = 0;
  std::string message;
  // Information, not a finding: it says how the catalogue works, and a
  // catalogue with only information is clean.
  bool information = false;
};

// The findings for the catalogue at `path`, ordered by line. A file that
// cannot be read gives a single finding that says so. When `kinds` is given,
// it receives the kinds the findings describe, slot by slot: the records the
// load builds from the same file (when the file loads).
std::vector<LintFinding> LintCatalogue(const std::string& path, std::vector<FileTypeRecord>* kinds = nullptr);

// "PATH:LINE: [SECTION] MESSAGE" (the line and the section left out where
// they do not apply, "info: " before the section for information), for
// printing one finding on a line.
std::string FormatFinding(const std::string& path, const LintFinding& finding);

}  // namespace tessaro
