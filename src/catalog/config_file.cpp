// ConfigFile: reading and the index operations.

#include "catalog/config_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace tessaro {

ConfigFile::ConfigFile(std::string p) : path(std::move(p)) {}
ConfigFile::~ConfigFile() = default;

void ConfigFile::SetPath(std::string p) { path = std::move(p); }

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Control characters stop the reader. Bytes from 0x80 on count as printable, so a
// UTF-8 byte-order mark or the lead byte of a double-byte character starts a line.
bool StartsPrintable(unsigned char c) { return c >= 0x20 && c != 0x7F; }

}  // namespace

bool ConfigFile::ReadFile() {
  stoppedAtLine_ = 0;
  // Only a file is read: a pipe without a writer would block the open for
  // ever, and a device such as /dev/zero would be read without end.
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return false;
  // Binary mode, with CR LF translated by TakeLine: the same result as the
  // text mode of systems that translate CR LF, on every system.
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  std::string text;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  file.reset();

  std::string currentSection;
  std::string lastKey;
  std::string line;
  std::uint64_t lineNumber = 0;
  std::size_t start = 0;
  while (TakeLine(text, start, line)) {
    ++lineNumber;
    if (line.empty()) continue;
    if (!StartsPrintable(static_cast<unsigned char>(line[0]))) {
      stoppedAtLine_ = lineNumber;
      return false;
    }
    ParseLine(line, currentSection, lastKey);
  }
  return !sectionNames.empty();
}

bool ConfigFile::TakeLine(const std::string& text, std::size_t& start, std::string& line) {
  if (start >= text.size()) return false;
  std::size_t end = text.find('\n', start);
  const bool endsAtLineFeed = end != std::string::npos;
  if (!endsAtLineFeed) end = text.size();
  line.assign(text, start, end - start);
  start = end + 1;
  // Text mode turns CR LF into LF, which leaves the CR of a CR CR LF before
  // it; without that, a blank line saved as CR CR LF would hold a CR, a
  // control character, and stop the reader.
  if (endsAtLineFeed && !line.empty() && line.back() == '\r') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void ConfigFile::ParseLine(const std::string& line, std::string& currentSection,
                           std::string& lastKey) {
  std::size_t at = line.find_first_of(";#[=");
  if (at == std::string::npos) return;
  switch (line[at]) {
    case '[': {
      std::size_t close = line.rfind(']');
      if (close == std::string::npos || close <= at) return;
      std::string name = Trim(line.substr(at + 1, close - at - 1));
      if (name.empty()) name = "default";
      currentSection = name;
      AddSection(name);
      return;
    }
    case '=': {
      std::string body = line;
      std::string comment;
      std::size_t mark = body.find_first_of(";#");
      if (mark != std::string::npos) {
        comment = Trim(body.substr(mark + 1));
        body.resize(mark);
      }
      std::string key = Trim(body.substr(0, at));
      std::string value = Trim(body.substr(at + 1));
      lastKey = key;
      if (currentSection.empty()) currentSection = "default";
      SetValue(currentSection, key, value, true);
      if (!comment.empty()) SetKeyComment(currentSection, key, comment);
      return;
    }
    default: {  // ';' or '#'
      std::string comment = Trim(line.substr(at + 1));
      if (sectionNames.empty()) {
        AddHeaderComment(comment);
        return;
      }
      if (currentSection.empty()) currentSection = "default";
      SetKeyComment(currentSection, lastKey, comment);
      return;
    }
  }
}

std::uint32_t ConfigFile::SectionCount() const {
  return static_cast<std::uint32_t>(sectionNames.size());
}

std::string ConfigFile::SectionName(std::uint32_t section) const {
  return section < sectionNames.size() ? sectionNames[section] : std::string();
}

std::uint32_t ConfigFile::KeyCount(std::uint32_t section) const {
  return section < sections.size() ? static_cast<std::uint32_t>(sections[section].keys.size()) : 0;
}

std::string ConfigFile::KeyName(std::uint32_t section, std::uint32_t key) const {
  if (section >= sections.size() || key >= sections[section].keys.size()) return {};
  return sections[section].keys[key];
}

std::string ConfigFile::KeyValue(std::uint32_t section, std::uint32_t key,
                                 const std::string& fallback) const {
  if (section >= sections.size() || key >= sections[section].keys.size()) return fallback;
  return sections[section].values[key];
}

int ConfigFile::FindSection(const std::string& name) const {
  if (indexedCase_ != caseInsensitive || indexed_ > sectionNames.size()) {
    firstSection_.clear();
    indexed_ = 0;
    indexedCase_ = caseInsensitive;
  }
  for (; indexed_ < sectionNames.size(); ++indexed_) {
    firstSection_.emplace(Normalize(sectionNames[indexed_]), static_cast<std::uint32_t>(indexed_));
  }
  const std::string wanted = Normalize(name);
  auto it = firstSection_.find(wanted);
  if (it != firstSection_.end() && it->second < sectionNames.size() &&
      Normalize(sectionNames[it->second]) == wanted) {
    return static_cast<int>(it->second);
  }
  // A name changed from outside: walk, as the index cannot be trusted.
  for (std::size_t i = 0; i < sectionNames.size(); ++i) {
    if (Normalize(sectionNames[i]) == wanted) return static_cast<int>(i);
  }
  return -1;
}

int ConfigFile::FindKey(std::uint32_t section, const std::string& name) const {
  if (section >= sections.size()) return -1;
  const std::string wanted = Normalize(name);
  const auto& keys = sections[section].keys;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (Normalize(keys[i]) == wanted) return static_cast<int>(i);
  }
  return -1;
}

std::uint32_t ConfigFile::AddSection(const std::string& name) {
  sectionNames.push_back(name);
  sections.emplace_back();
  return static_cast<std::uint32_t>(sectionNames.size() - 1);
}

bool ConfigFile::SetValue(const std::string& section, const std::string& key,
                          const std::string& value, bool create) {
  int s = FindSection(section);
  if (s < 0) {
    if (!create) return false;
    s = static_cast<int>(AddSection(section));
  }
  int k = FindKey(static_cast<std::uint32_t>(s), key);
  ConfigSection& target = sections[static_cast<std::size_t>(s)];
  if (k >= 0) {
    target.values[static_cast<std::size_t>(k)] = value;
    return true;
  }
  if (!create) return false;
  target.keys.push_back(key);
  target.values.push_back(value);
  target.keyComments.emplace_back();
  return true;
}

bool ConfigFile::SetKeyComment(const std::string& section, const std::string& key,
                               const std::string& comment) {
  int s = FindSection(section);
  if (s < 0) return false;
  int k = FindKey(static_cast<std::uint32_t>(s), key);
  if (k < 0) return false;
  sections[static_cast<std::size_t>(s)].keyComments[static_cast<std::size_t>(k)].push_back(comment);
  return true;
}

bool ConfigFile::AddKeyComment(std::uint32_t section, std::uint32_t key, const std::string& comment) {
  if (section >= sections.size() || key >= sections[section].keys.size()) return false;
  sections[section].keyComments[key].push_back(comment);
  return true;
}

void ConfigFile::AddHeaderComment(const std::string& comment) { headerComments.push_back(comment); }

std::string ConfigFile::Trim(const std::string& text) {
  auto strip = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '\'';
  };
  std::size_t begin = 0;
  while (begin < text.size() && strip(text[begin])) ++begin;
  std::size_t end = text.size();
  while (end > begin && strip(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string ConfigFile::Normalize(const std::string& text) const {
  if (!caseInsensitive) return text;
  std::string lowered = text;
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

}  // namespace tessaro
