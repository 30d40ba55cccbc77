// Fuzz target: the metadata readers and the safe names on arbitrary bytes.
//
// Input: an extension, a line feed, then the file (an input without a line
// feed in its first 16 bytes goes to every reader in turn). Held to:
// - no crash, no read past the file (the sanitizers and Fragment's bounds),
//   no hang (libFuzzer's timeout);
// - the name is empty or SafeName-clean (SafeName gives it back unchanged)
//   and at most kMaxNameBytes long, and so is the output name made from it;
// - SafeName of the raw input is clean too, and a second SafeName changes
//   nothing.

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/names/content_name.h"
#include "memory_file.h"
#include "platform/platform.h"

using namespace tessaro;
using namespace tessaro::names;

namespace {

void Fail(const char* what, std::string_view extension, const std::string& name) {
  std::fprintf(stderr, "%.*s: %s: [%s]\n", static_cast<int>(extension.size()), extension.data(), what, name.c_str());
  std::abort();
}

void NameOne(std::string_view extension, std::string_view bytes) {
  static fuzz::MemoryFile file("tessaro-names-file");
  const std::string name = ContentName(SystemPlatform(), file.Fill(bytes), extension);
  if (name.size() > kMaxNameBytes) Fail("longer than a name may be", extension, name);
  if (SafeName(name) != name) Fail("not a safe name", extension, name);
  const std::string output = NameWithContent(name, "FILE0007");
  if (output.size() > kMaxNameBytes || (!name.empty() && SafeName(output) != output)) {
    Fail("a bad output name", extension, output);
  }
}

const std::vector<std::string>& Extensions() {
  static const std::vector<std::string> list = [] {
    std::vector<std::string> names;
    std::istringstream words(ListContentExtensions());
    for (std::string word; words >> word;) names.push_back(word);
    return names;
  }();
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string safe = SafeName(input);
  if (SafeName(safe) != safe) Fail("SafeName twice differs", "raw", safe);
  const std::size_t line = input.substr(0, 16).find('\n');
  if (line != std::string_view::npos) {
    const std::string_view extension = input.substr(0, line);
    if (HasContentReader(extension)) NameOne(extension, input.substr(line + 1));
    return 0;
  }
  for (const std::string& extension : Extensions()) NameOne(extension, input);
  return 0;
}
