// Fuzz target: ConfigFile::ReadFile and the catalogue load on any file contents.
//
// Beyond "no crash, no leak, no undefined behaviour" it checks what must hold
// for every input: the reader's parallel arrays stay parallel and a section
// never holds a key twice; CR LF and CR CR LF line ends read like LF ones; the load either
// succeeds with exactly the kinds the schema makes of the reader's sections,
// or fails with ready false, no kinds and a bounded message.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

#include "catalog/config_file.h"
#include "catalog/fragment_engine.h"
#include "memory_file.h"

using tessaro::ConfigFile;
using tessaro::FileTypeRecord;
using tessaro::FragmentEngine;

namespace {

#define CHECK(condition)                                                        \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "check failed at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                             \
    }                                                                           \
  } while (0)

void CheckShape(const ConfigFile& config) {
  CHECK(config.sections.size() == config.sectionNames.size());
  for (std::size_t s = 0; s < config.sections.size(); ++s) {
    const auto& section = config.sections[s];
    CHECK(section.keys.size() == section.values.size());
    CHECK(section.keys.size() == section.keyComments.size());
    std::set<std::string> seen;
    for (const std::string& key : section.keys) CHECK(seen.insert(config.Normalize(key)).second);
  }
  // Out-of-range lookups answer with their neutral values.
  const auto n = config.SectionCount();
  CHECK(config.SectionName(n).empty());
  CHECK(config.KeyCount(n) == 0);
  CHECK(config.KeyValue(n, 0, "fallback") == "fallback");
  if (n > 0) CHECK(config.KeyValue(0, config.KeyCount(0), "fallback") == "fallback");
}

bool SameModel(const ConfigFile& a, const ConfigFile& b) {
  if (a.sectionNames != b.sectionNames || a.headerComments != b.headerComments) return false;
  for (std::size_t s = 0; s < a.sections.size(); ++s) {
    if (a.sections[s].keys != b.sections[s].keys || a.sections[s].values != b.sections[s].values ||
        a.sections[s].keyComments != b.sections[s].keyComments) {
      return false;
    }
  }
  return true;
}

bool IsHex(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The decimal reading of an offset: blanks, a sign, digits up to the first
// other character; no digits give 0; too many digits stay at the largest
// value of their sign.
std::int64_t Decimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  __int128 value = 0;
  const __int128 limit = negative ? -static_cast<__int128>(INT64_MIN) : INT64_MAX;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;
  }
  return static_cast<std::int64_t>(negative ? -value : value);
}

// What the schema makes of one section.
FileTypeRecord Expected(const ConfigFile& config, std::uint32_t i) {
  FileTypeRecord record;
  const std::uint32_t m = config.KeyCount(i);
  if (m == 0) return record;
  record.name = config.SectionName(i);
  for (std::uint32_t j = 0; j < m; ++j) {
    const std::string key = config.KeyName(i, j);
    const std::string value = config.KeyValue(i, j, "");
    if (key.find("addon") != std::string::npos) record.addons.push_back(value);
    else if (key.find("postfix") != std::string::npos) record.extension = value;
    else if (j % 2 == 1) record.signatures.push_back(value);
    else record.offsets.push_back(Decimal(value));
  }
  return record;
}

// A signature's odd last digit is ignored; a content string needs whole bytes.
bool HexValuesValid(const FileTypeRecord& record) {
  for (const auto& s : record.signatures) if (!IsHex(s)) return false;
  for (const auto& a : record.addons) if (!IsHex(a) || a.size() % 2 == 1) return false;
  return true;
}

void CheckLoad(const std::string& path, const ConfigFile& config, bool readOk, bool hasZeroByte) {
  FragmentEngine engine(path);
  const std::size_t errorLength = ::strnlen(engine.lastError, sizeof engine.lastError);
  CHECK(errorLength < sizeof engine.lastError);
  CHECK(engine.textKind.name == "text file" && engine.textKind.extension == ".txt");
  CHECK(engine.textKind.signatures.empty() && engine.textKind.addons.empty());

  bool expectReady = readOk && config.SectionCount() > 0 &&
                     config.SectionCount() <= static_cast<std::uint32_t>(FragmentEngine::kMaxKinds);
  for (std::uint32_t i = 0; expectReady && i < config.SectionCount(); ++i) {
    expectReady = HexValuesValid(Expected(config, i));
  }
  CHECK(engine.ready == expectReady);

  if (!engine.ready) {
    CHECK(engine.kindCount == 0);
    CHECK(errorLength > 0);
    // A message cut at the buffer's end loses its line feed; any other ends in
    // one, unless a zero byte of a section or key name ended it early.
    CHECK(errorLength == sizeof engine.lastError - 1 || engine.lastError[errorLength - 1] == '\n' ||
          hasZeroByte);
    return;
  }
  CHECK(engine.kindCount == static_cast<int>(config.SectionCount()));
  for (int i = 0; i < FragmentEngine::kMaxKinds; ++i) {
    const FileTypeRecord& got = *engine.kinds[static_cast<std::size_t>(i)];
    const FileTypeRecord want = i < engine.kindCount ? Expected(config, static_cast<std::uint32_t>(i)) : FileTypeRecord();
    CHECK(got.name == want.name);
    CHECK(got.extension == want.extension);
    CHECK(got.signatures == want.signatures);
    CHECK(got.offsets == want.offsets);
    CHECK(got.addons == want.addons);
    CHECK(got.signatureBytes.size() == got.signatures.size());
    CHECK(got.addonBytes.size() == got.addons.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A failed load announces itself on standard output; thousands of those a
  // second would drown libFuzzer's own report.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tessaro::fuzz::MemoryFile file("tessaro-catalogue");
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string& path = file.Fill(text);

  ConfigFile config(path);
  const bool ok = config.ReadFile();
  CheckShape(config);
  CHECK(!ok || config.SectionCount() > 0);
  if (config.StoppedAtLine() == 0) CHECK(ok == (config.SectionCount() > 0));

  // The same file with CR LF or CR CR LF line ends reads the same.
  if (text.find('\r') == std::string_view::npos && text.find('\n') != std::string_view::npos) {
    for (const char* lineEnd : {"\r\n", "\r\r\n"}) {
      std::string other;
      other.reserve(size + size / 4);
      for (char c : text) {
        if (c == '\n') other += lineEnd;
        else other.push_back(c);
      }
      static tessaro::fuzz::MemoryFile otherFile("tessaro-catalogue-crlf");
      ConfigFile again(otherFile.Fill(other));
      CHECK(again.ReadFile() == ok);
      CHECK(SameModel(config, again));
    }
  }

  CheckLoad(path, config, ok, text.find('\0') != std::string_view::npos);
  return 0;
}
