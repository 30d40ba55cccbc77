// LintCatalogue: ConfigFile gives the catalogue's meaning, a second walk over
// the lines gives where each section and key was written. The checks then
// read the kinds through ReadKind, as the load builds them.

#include "catalog/catalogue_lint.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "catalog/config_file.h"
#include "catalog/fragment_engine.h"
#include "catalog/hex.h"
#include "catalog/read_kind.h"

namespace tessaro {

namespace {

constexpr const char* kTextExtension = ".txt";

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

bool ReadWhole(const std::string& path, std::string& text) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  return std::ferror(file.get()) == 0;
}

// The lines as the reader sees them.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::string line;
  while (ConfigFile::TakeLine(text, start, line)) lines.push_back(line);
  return lines;
}

bool StopsReader(const std::string& line) {
  if (line.empty()) return false;
  const auto c = static_cast<unsigned char>(line[0]);
  return c < 0x20 || c == 0x7F;
}

std::string DescribeControl(unsigned char c) {
  switch (c) {
    case '\t': return "a tab";
    case '\f': return "a form feed";
    case '\v': return "a vertical tab";
    case 0x1A: return "an end-of-file character (1A)";
    default: {
      char hex[32];
      std::snprintf(hex, sizeof hex, "the control character %02X", c);
      return hex;
    }
  }
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Where the reader put each line: the line of every section header, and of the
// first appearance of every key, by the indices ConfigFile gives them.
struct SectionLines {
  std::uint64_t header = 0;
  std::vector<std::uint64_t> keys;
  std::vector<std::string> keyNames;  // as first written, for repeat detection
};

struct Repeat {
  std::uint32_t section;
  std::string key;
  std::uint64_t first;
  std::uint64_t again;
};

struct LineMap {
  std::vector<SectionLines> sections;
  std::vector<Repeat> repeats;
};

// Follows the reader's rules line by line (the first of ";#[=" decides a
// line's kind; keys are filed under the first section of the current name).
LineMap MapLines(const std::vector<std::string>& lines, std::uint64_t stopLine,
                 const ConfigFile& config) {
  LineMap map;
  std::vector<std::string> names;
  std::string current;
  auto findSection = [&](const std::string& name) -> int {
    const std::string wanted = config.Normalize(name);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (config.Normalize(names[i]) == wanted) return static_cast<int>(i);
    }
    return -1;
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::uint64_t number = i + 1;
    if (stopLine != 0 && number >= stopLine) break;
    const std::string& line = lines[i];
    const std::size_t at = line.find_first_of(";#[=");
    if (at == std::string::npos) continue;
    if (line[at] == '[') {
      const std::size_t close = line.rfind(']');
      if (close == std::string::npos || close <= at) continue;
      std::string name = ConfigFile::Trim(line.substr(at + 1, close - at - 1));
      if (name.empty()) name = "default";
      current = name;
      names.push_back(name);
      map.sections.push_back(SectionLines{number, {}, {}});
      continue;
    }
    if (line[at] != '=') continue;
    std::string body = line;
    const std::size_t mark = body.find_first_of(";#");
    if (mark != std::string::npos) body.resize(mark);
    const std::string key = ConfigFile::Trim(body.substr(0, at));
    if (current.empty()) current = "default";
    int s = findSection(current);
    if (s < 0) {
      names.push_back(current);
      map.sections.push_back(SectionLines{number, {}, {}});
      s = static_cast<int>(names.size() - 1);
    }
    SectionLines& section = map.sections[static_cast<std::size_t>(s)];
    bool known = false;
    for (std::size_t k = 0; k < section.keyNames.size(); ++k) {
      if (config.Normalize(section.keyNames[k]) == config.Normalize(key)) {
        map.repeats.push_back(Repeat{static_cast<std::uint32_t>(s), key, section.keys[k], number});
        known = true;
        break;
      }
    }
    if (!known) {
      section.keys.push_back(number);
      section.keyNames.push_back(key);
    }
  }
  return map;
}

struct Signature {
  std::int64_t offset = 0;
  std::string bytes;
  std::uint64_t end() const { return static_cast<std::uint64_t>(offset) + bytes.size(); }
};

// One kind as the load builds it, plus what lint needs to know about it.
struct Kind {
  std::string name;
  std::uint64_t line = 0;
  bool hasKeys = false;
  FileTypeRecord record;
  // The record's signatures at the offsets they are tested at (-1 for one
  // without an offset: it never fits, as a negative offset never does).
  std::vector<Signature> signatures;
  bool loadable = true;  // every hex text decodes
};

bool IsDecimal(const std::string& text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Hexadecimal digits, at least one of them a letter.
bool LooksLikeHex(const std::string& text) {
  std::string bytes;
  std::size_t bad = 0;
  return !text.empty() && !AllDigits(text) && DecodeHex(text, bytes, bad);
}

// True when every file whose size lies in [low, high] and whose bytes at
// `known` are as given passes the signature test of `earlier`. A signature
// that does not fit ends that test, with a pass if an earlier one matched.
bool PassesForAll(const std::vector<Signature>& earlier, const std::map<std::uint64_t, unsigned char>& known,
                  std::uint64_t low, std::uint64_t high) {
  for (std::size_t j = 0; j < earlier.size(); ++j) {
    const Signature& s = earlier[j];
    if (s.offset < 0) return j > 0;
    const std::uint64_t end = s.end();
    if (end > high) return j > 0;      // never fits in these sizes
    if (end > low) {                   // fits in some sizes only
      if (j == 0) return false;        // in the others the kind fails
      low = end;                       // the others pass; follow the rest
    }
    for (std::size_t t = 0; t < s.bytes.size(); ++t) {
      auto it = known.find(static_cast<std::uint64_t>(s.offset) + t);
      if (it == known.end() || it->second != static_cast<unsigned char>(s.bytes[t])) return false;
    }
  }
  return true;
}

// True when `earlier` passes its signature test on every file on which
// `later` passes its own. `later` passes with its first k signatures matched
// when the (k+1)-th does not fit; each such k is a case of its own.
bool SignaturesAlwaysPassFirst(const Kind& earlier, const Kind& later) {
  if (earlier.signatures.empty() || later.signatures.empty()) return false;
  std::map<std::uint64_t, unsigned char> known;
  std::uint64_t low = 1;  // an empty file has no kind
  for (std::size_t k = 1; k <= later.signatures.size(); ++k) {
    const Signature& matched = later.signatures[k - 1];
    // `later` never gets past a signature that cannot fit: every case is seen
    // (and with the first one, `later` never matches at all).
    if (matched.offset < 0) return k > 1;
    low = std::max(low, matched.end());
    for (std::size_t t = 0; t < matched.bytes.size(); ++t) {
      known.emplace(static_cast<std::uint64_t>(matched.offset) + t, static_cast<unsigned char>(matched.bytes[t]));
    }
    std::uint64_t high = UINT64_MAX;
    if (k < later.signatures.size()) {
      const Signature& next = later.signatures[k];
      if (next.offset >= 0) {
        if (next.end() <= low) continue;  // it always fits: no file stops here
        high = next.end() - 1;
      }
    }
    if (!PassesForAll(earlier.signatures, known, low, high)) return false;
  }
  return true;
}

// True when each content string of `earlier` occurs wherever all of `later`'s
// do: each is part of one of them.
bool ContentAlwaysFoundFirst(const Kind& earlier, const Kind& later) {
  for (const std::string& needle : earlier.record.addonBytes) {
    if (needle.empty()) return false;
    bool inside = false;
    for (const std::string& hay : later.record.addonBytes) {
      if (hay.find(needle) != std::string::npos) inside = true;
    }
    if (!inside) return false;
  }
  return true;
}

class Linter {
 public:
  std::vector<LintFinding> Run(const std::string& path, std::vector<FileTypeRecord>* kinds);

 private:
  void Add(const std::string& section, std::uint64_t line, std::string message) {
    findings_.push_back(LintFinding{section, line, std::move(message)});
  }
  void Inform(const std::string& section, std::uint64_t line, std::string message) {
    findings_.push_back(LintFinding{section, line, std::move(message), true});
  }
  void CheckKeys(const ConfigFile& config, std::uint32_t i, const SectionLines& lines, Kind& kind);
  void CheckKind(const Kind& kind, std::size_t i);

  std::vector<Kind> kinds_;
  std::vector<LintFinding> findings_;
};

std::vector<LintFinding> Linter::Run(const std::string& path, std::vector<FileTypeRecord>* kinds) {
  std::string text;
  if (!ReadWhole(path, text)) {
    Add("", 0, "cannot read the file");
    return findings_;
  }
  const std::vector<std::string> lines = SplitLines(text);
  std::uint64_t stopLine = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!StopsReader(lines[i])) continue;
    if (stopLine == 0) stopLine = i + 1;
    Add("", i + 1,
        "the line begins with " + DescribeControl(static_cast<unsigned char>(lines[i][0])) +
            ": the reader stops at such a line, and the catalogue does not load");
  }

  ConfigFile config(path);
  config.ReadFile();
  const LineMap map = MapLines(lines, stopLine, config);
  const std::uint32_t n = config.SectionCount();
  if (n == 0) {
    if (stopLine == 0) Add("", 0, "the file declares no kind: the catalogue does not load");
    return findings_;
  }
  if (n > static_cast<std::uint32_t>(FragmentEngine::kMaxKinds)) {
    Add("", 0,
        "the file declares " + std::to_string(n) + " kinds, but at most " +
            std::to_string(FragmentEngine::kMaxKinds) + " are allowed: the catalogue does not load");
  }
  for (const Repeat& r : map.repeats) {
    Add(config.SectionName(r.section), r.again,
        "key '" + r.key + "' repeats the key of line " + std::to_string(r.first) +
            ": its value replaces the earlier one; give each offset and signature key a name of its own "
            "(offset1, signature1, offset2, ...)");
  }

  kinds_.resize(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    Kind& kind = kinds_[i];
    kind.name = config.SectionName(i);
    const SectionLines empty;
    const SectionLines& where = i < map.sections.size() ? map.sections[i] : empty;
    kind.line = where.header;
    kind.hasKeys = config.KeyCount(i) > 0;
    CheckKeys(config, i, where, kind);
  }
  for (std::size_t i = 0; i < kinds_.size(); ++i) CheckKind(kinds_[i], i);
  if (kinds != nullptr) {
    for (const Kind& kind : kinds_) kinds->push_back(kind.record);
  }

  std::stable_sort(findings_.begin(), findings_.end(),
                   [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
  return findings_;
}

void Linter::CheckKeys(const ConfigFile& config, std::uint32_t i, const SectionLines& lines, Kind& kind) {
  std::vector<KeyReading> readings;
  ReadKind(config, i, kind.record, readings);
  const FileTypeRecord& record = kind.record;
  auto lineOf = [&](std::uint32_t j) { return j < lines.keys.size() ? lines.keys[j] : kind.line; };
  std::uint32_t pairKeys = 0;       // offset and signature keys met so far
  std::int64_t lastOther = -1;   // the latest postfix or addon key
  bool shiftReported = false;
  // The keys the record's offsets and signatures came from, in the record's order.
  std::vector<std::uint32_t> offsetKeys;
  std::vector<std::uint32_t> signatureKeys;
  for (std::uint32_t j = 0; j < readings.size(); ++j) {
    const KeyReading& reading = readings[j];
    const std::string key = config.KeyName(i, j);
    const std::string value = config.KeyValue(i, j, std::string());
    const std::uint64_t line = lineOf(j);
    const std::string lowered = Lower(key);
    if (reading.role == KeyRole::kPostfix) {
      lastOther = j;
      if (value.empty()) Add(kind.name, line, "the postfix is empty: recovered files get no extension");
      continue;
    }
    if (reading.role == KeyRole::kAddon) {
      lastOther = j;
      if (reading.fault == HexFault::kNotHex) {
        kind.loadable = false;
        Add(kind.name, line,
            "content string '" + value + "' of key '" + key + "': '" + value.substr(reading.badIndex, 1) +
                "' is not a hexadecimal digit, and the catalogue does not load");
      } else if (reading.fault == HexFault::kOddDigits) {
        kind.loadable = false;
        Add(kind.name, line,
            "content string '" + value + "' of key '" + key + "' has an odd number of hexadecimal digits: "
            "it is looked for as whole bytes, and the catalogue does not load");
      } else if (value.empty()) {
        Add(kind.name, line, "content string of key '" + key + "' is empty: it never occurs, so the kind never matches");
      }
      continue;
    }
    // Case matters to the load: "Postfix" and "ADDON" are offsets or signatures.
    if (lowered.find("postfix") != std::string::npos || lowered.find("addon") != std::string::npos) {
      Add(kind.name, line,
          "key '" + key + "' is read as an offset or a signature: only the lower-case words "
          "\"postfix\" and \"addon\" give a key those roles");
    }
    const bool signature = reading.role == KeyRole::kSignature;
    if (!shiftReported && (j - pairKeys) % 2 == 1 && lastOther >= 0) {
      shiftReported = true;
      Add(kind.name, line,
          "key '" + key + "' is read as " + (signature ? "a signature" : "an offset") + ", because key '" +
              config.KeyName(i, static_cast<std::uint32_t>(lastOther)) + "' (line " +
              std::to_string(lineOf(static_cast<std::uint32_t>(lastOther))) +
              ") stands between the offset/signature pairs and shifts them; put postfix and addon keys "
              "after the pairs");
    }
    ++pairKeys;
    if (!signature) {
      const std::int64_t offset = record.offsets[offsetKeys.size()];
      if (reading.offsetOutOfRange) {
        Add(kind.name, line,
            "offset '" + value + "' of key '" + key + "' is beyond the 64-bit range: it is read as " +
                std::to_string(offset) + (offset > 0 ? ", past the end of every file" : ""));
      } else if (!IsDecimal(value)) {
        Add(kind.name, line,
            "offset '" + value + "' of key '" + key + "' is not a decimal number: it is read as " +
                std::to_string(offset) +
                (LooksLikeHex(value) ? "; is it a signature that slipped into an offset's place?" : ""));
      }
      offsetKeys.push_back(j);
      continue;
    }
    if (reading.fault == HexFault::kNotHex) {
      kind.loadable = false;
      Add(kind.name, line,
          "signature '" + value + "' of key '" + key + "': '" + value.substr(reading.badIndex, 1) +
              "' is not a hexadecimal digit, and the catalogue does not load");
    } else if (value.empty()) {
      Add(kind.name, line, "signature of key '" + key + "' is empty: it matches any byte");
    } else if (value.size() % 2 == 1) {
      Add(kind.name, line,
          "signature '" + value + "' of key '" + key + "' has an odd number of hexadecimal digits: the last one "
              "is ignored" + (AllDigits(value) ? "; is it an offset that slipped into a signature's place?" : ""));
    } else if (AllDigits(value) && lowered.find("offset") != std::string::npos) {
      Add(kind.name, line, "key '" + key + "' is named as an offset, but it is read as the signature " + value);
    }
    signatureKeys.push_back(j);
  }
  for (std::size_t k = 0; k < record.signatures.size(); ++k) {
    const std::uint64_t line = lineOf(signatureKeys[k]);
    const std::string key = config.KeyName(i, signatureKeys[k]);
    const std::string consequence = k == 0 ? "the kind never matches" : "it and the signatures after it are never tested";
    const std::optional<std::int64_t> offset = PairedOffset(record, k);
    kind.signatures.push_back(Signature{offset.value_or(-1), record.signatureBytes[k]});
    if (!offset) {
      Add(kind.name, line, "signature key '" + key + "' has no offset paired with it, so it never fits: " + consequence);
    } else if (*offset < 0) {
      Add(kind.name, line,
          "signature key '" + key + "' lies at the negative offset " + std::to_string(*offset) +
              ", so it never fits: " + consequence);
    }
  }
  for (std::size_t k = record.signatures.size(); k < record.offsets.size(); ++k) {
    Add(kind.name, lineOf(offsetKeys[k]),
        "offset key '" + config.KeyName(i, offsetKeys[k]) + "' has no signature paired with it: it is ignored");
  }
}

void Linter::CheckKind(const Kind& kind, std::size_t i) {
  if (!kind.hasKeys) {
    for (std::size_t e = 0; e < i; ++e) {
      if (Lower(kinds_[e].name) == Lower(kind.name)) {
        Add(kind.name, kind.line,
            "the header repeats [" + kinds_[e].name + "] of line " + std::to_string(kinds_[e].line) +
                ": the keys after it join that kind, and this row stays empty, without a name or an extension");
        return;
      }
    }
    Add(kind.name, kind.line, "the section has no keys: it never matches and has no extension");
    return;
  }
  const std::optional<std::string>& extension = kind.record.extension;
  if (!extension) {
    Add(kind.name, kind.line, "the kind has no postfix key: its files are recovered without an extension");
  }
  if (kind.signatures.empty()) {
    if (!(extension && *extension == kTextExtension)) {
      Add(kind.name, kind.line,
          std::string("the kind has no signatures: it never matches (only a kind with the text kind's "
                      "extension ") + kTextExtension + " may have none: it counts the text files)");
    }
  }
  if (extension && !extension->empty()) {
    for (std::size_t e = 0; e < i; ++e) {
      if (kinds_[e].record.extension == extension) {
        Inform(kind.name, kind.line,
               "extension " + *extension + " counted on row " + std::to_string(e) + " with " + kinds_[e].name +
                   " (line " + std::to_string(kinds_[e].line) + ")");
        break;
      }
    }
  }
  // A signature that reaches beyond every one before it is not tested in a
  // file too short for it: the kind then matches without it.
  std::uint64_t reach = 0;
  for (std::size_t k = 0; k < kind.signatures.size(); ++k) {
    const Signature& s = kind.signatures[k];
    if (s.offset < 0) break;
    if (k > 0 && s.end() > reach) {
      Add(kind.name, kind.line,
          "signature " + std::to_string(k + 1) + " (offset " + std::to_string(s.offset) +
              ") reaches beyond the signatures before it: a file too short for it matches the kind without it; "
              "list the signature that reaches furthest first");
      break;
    }
    reach = std::max(reach, s.end());
  }
  if (!kind.loadable || kind.signatures.empty()) return;
  for (std::size_t e = 0; e < i; ++e) {
    const Kind& earlier = kinds_[e];
    if (!earlier.hasKeys || !earlier.loadable) continue;
    if (SignaturesAlwaysPassFirst(earlier, kind) && ContentAlwaysFoundFirst(earlier, kind)) {
      Add(kind.name, kind.line,
          "the kind can never be reached: [" + earlier.name + "] (line " + std::to_string(earlier.line) +
              ") comes earlier and matches every file this kind matches");
      return;
    }
  }
}

}  // namespace

std::vector<LintFinding> LintCatalogue(const std::string& path, std::vector<FileTypeRecord>* kinds) {
  if (kinds != nullptr) kinds->clear();
  return Linter().Run(path, kinds);
}

std::string FormatFinding(const std::string& path, const LintFinding& finding) {
  std::string text = path;
  if (finding.line != 0) text += ":" + std::to_string(finding.line);
  text += ": ";
  if (finding.information) text += "info: ";
  if (!finding.section.empty()) text += "[" + finding.section + "] ";
  return text + finding.message;
}

}  // namespace tessaro
