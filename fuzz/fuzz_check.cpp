// Fuzz target: every format checker on arbitrary bytes.
//
// Input: an extension, a line feed, then the fragment (an input without a line
// feed in its first 16 bytes goes to every checker in turn). Held to:
// - no crash, no read past the fragment (the sanitizers and Fragment's bounds);
// - an intact length is never beyond the fragment, and never 0;
// - the end does not depend on what follows it: when the checker says intact
//   at n, the first n bytes alone, and followed by slack as a disk leaves it
//   (zeros to the end of the sector, then older data: here the input's own
//   bytes), are intact at n too, or not intact at all (a checker may doubt an
//   end), but never intact at another end (except a later one over nothing
//   but zeros, for formats that pad themselves with zeros). Real files with slack are the seeds
//   (fuzz/corpus/check), so the search starts from structures that hold.
// - through a view of the same bytes at an offset inside a larger file (the
//   input's first two bytes choose the offset; other bytes before and after),
//   the checker gives exactly what it gives on a file holding only them: it
//   reads nothing outside the view, and its offsets are the view's.
// Formats whose end cannot be told once cut (text) are held to the first two.
// The checkers are every format row's, each with its end policy.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/format_row.h"
#include "memory_file.h"
#include "platform/platform.h"

using namespace tessaro;
using namespace tessaro::formats;

namespace {

CheckResult Run(const FormatRow& row, const std::string& path, std::uint64_t offset, std::uint64_t size) {
  Platform& platform = SystemPlatform();
  int error = 0;
  const FileHandle file = platform.OpenRead(path, error);
  if (file == kNoFile) std::abort();
  Fragment fragment(platform, file, offset, size);
  CheckResult result = RunChecker(row, fragment, CheckOptions{});
  platform.Close(file);
  if (fragment.Failed()) std::abort();  // a memory file never fails a read inside it
  if (result.verdict == Verdict::kIntact && (result.length == 0 || result.length > size)) {
    std::fprintf(stderr, "%s: intact at %llu in a fragment of %llu bytes\n", row.extensions[0],
                 static_cast<unsigned long long>(result.length), static_cast<unsigned long long>(size));
    std::abort();
  }
  return result;
}

CheckResult Run(const FormatRow& row, const std::string& path, std::uint64_t size) { return Run(row, path, 0, size); }

// The same bytes inside a larger file, seen through a view, give the same.
void CheckThroughView(const FormatRow& row, std::string_view bytes, const CheckResult& alone) {
  static fuzz::MemoryFile file("tessaro-check-view");
  const std::size_t offset =
      (static_cast<unsigned char>(bytes[0]) | (bytes.size() > 1 ? static_cast<unsigned char>(bytes[1]) << 8 : 0)) % 4097;
  // Around the view: the input's bytes backwards, never the same as what a
  // checker would find by reading on past the view's end.
  std::string around(bytes.rbegin(), bytes.rend());
  around.resize(std::max<std::size_t>(offset, 512), '\xA5');
  std::string larger = around.substr(0, offset);
  larger.append(bytes);
  larger.append(around.substr(0, 512));
  const CheckResult viewed = Run(row, file.Fill(larger), offset, bytes.size());
  if (viewed.verdict != alone.verdict || viewed.length != alone.length || viewed.expected != alone.expected ||
      viewed.detail != alone.detail) {
    std::fprintf(stderr, "%s: alone %s (%s), through a view at %zu %s (%s)\n", row.extensions[0],
                 VerdictName(alone.verdict), alone.detail.c_str(), offset, VerdictName(viewed.verdict),
                 viewed.detail.c_str());
    std::abort();
  }
}

void CheckOne(const FormatRow& entry, std::string_view bytes) {
  // CheckFile gives no checker an empty fragment.
  if (bytes.empty()) return;
  static fuzz::MemoryFile file("tessaro-check-fragment");
  const CheckResult first = Run(entry, file.Fill(bytes), bytes.size());
  CheckThroughView(entry, bytes, first);
  if (first.verdict != Verdict::kIntact || !entry.knowsWhenCut) return;
  const std::size_t n = static_cast<std::size_t>(first.length);
  std::string alone(bytes.substr(0, n));
  std::string slack = alone;
  slack.append((512 - n % 512) % 512, '\0');
  // Older data: never beginning with a zero, which would only continue the
  // zeros of the sector.
  std::string older(bytes.size() > 1 ? bytes.substr(1) : std::string_view("\x01", 1));
  if (older[0] == '\0') older[0] = '\x01';
  slack.append(older.substr(0, 4096));
  for (const std::string* variant : {&alone, &slack}) {
    const CheckResult again = Run(entry, file.Fill(*variant), variant->size());
    // Followed by a sector's zeros, a format that pads its end with zeros
    // (cpio to 512 bytes) may take them as its own: nothing is lost.
    const bool overZeros = variant == &slack && again.verdict == Verdict::kIntact && again.length > n &&
                           variant->find_first_not_of('\0', n) >= again.length;
    // A checker may doubt an end that nothing follows (a PDF's last line end
    // may be what was cut), or one that what follows makes unsure (an
    // installer's archive after a program): not intact is safe, another end
    // is not.
    const bool doubted = again.verdict != Verdict::kIntact;
    if (again.length != n && !overZeros && !doubted) {
      std::fprintf(stderr, "%s: intact at %zu, but %s %s at %llu (%s) when %s\n", entry.extensions[0], n,
                   "the same bytes say", VerdictName(again.verdict),
                   static_cast<unsigned long long>(again.length == kUnknown ? 0 : again.length), again.detail.c_str(),
                   variant == &alone ? "alone" : "followed by other slack");
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t line = input.substr(0, 16).find('\n');
  if (line != std::string_view::npos) {
    const FormatRow* entry = FindChecker(input.substr(0, line));
    if (entry != nullptr) CheckOne(*entry, input.substr(line + 1));
    return 0;
  }
  for (const FormatRow* row : FormatRows()) {
    if (row->checker != nullptr) CheckOne(*row, input);
  }
  return 0;
}
