#pragma once
// ConfigFile: a small INI reader that keeps every section and key in the order
// met, so a caller can walk a whole file by index without knowing any names.
//
// Syntax: "[name]" headers, "key = value" lines, ";" or "#" comment lines.
// A line's kind is decided by the first of ";#[=" in it, wherever it stands.
// Reading stops with false at a line whose first byte is a control character.
// Bytes pass through unchanged: text of any code page, or UTF-8, is kept as is.
// An object is used by one thread at a time.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tessaro {

struct ConfigSection {
  std::vector<std::string> keys;
  std::vector<std::string> values;
  std::vector<std::vector<std::string>> keyComments;
};

class ConfigFile {
 public:
  explicit ConfigFile(std::string path = {});
  virtual ~ConfigFile();

  void SetPath(std::string path);

  // Parses the file into this object (without clearing what it holds). True only
  // when the file was opened and read to its end and at least one section exists.
  bool ReadFile();

  std::uint32_t SectionCount() const;
  std::string SectionName(std::uint32_t section) const;
  std::uint32_t KeyCount(std::uint32_t section) const;
  std::string KeyName(std::uint32_t section, std::uint32_t key) const;
  std::string KeyValue(std::uint32_t section, std::uint32_t key, const std::string& fallback) const;

  // -1 when nothing is found.
  int FindSection(const std::string& name) const;
  int FindKey(std::uint32_t section, const std::string& name) const;

  // Always appends, even when a section of that name exists.
  std::uint32_t AddSection(const std::string& name);
  bool SetValue(const std::string& section, const std::string& key, const std::string& value,
                bool create);
  bool SetKeyComment(const std::string& section, const std::string& key, const std::string& comment);
  bool AddKeyComment(std::uint32_t section, std::uint32_t key, const std::string& comment);
  void AddHeaderComment(const std::string& comment);

  // Takes the line that begins at `start` in `text` and moves `start` past it;
  // false when no line is left. A line ends at LF, which is not part of it.
  // It reads as a system's text mode gives it to the reader, which then drops
  // one CR at the end: so "v\r\n" and "v\r\r\n" both give "v", and a blank
  // line saved as "\r\r\n" is blank. A CR anywhere else stays.
  static bool TakeLine(const std::string& text, std::size_t& start, std::string& line);

  // Strips blanks, tabs, CR, LF and both quote characters from both ends.
  static std::string Trim(const std::string& text);
  std::string Normalize(const std::string& text) const;

  // Line number (from 1) of the line that stopped the last ReadFile, 0 if none did.
  std::uint64_t StoppedAtLine() const { return stoppedAtLine_; }

  bool caseInsensitive = true;
  std::string path;
  std::vector<ConfigSection> sections;
  std::vector<std::string> sectionNames;
  std::vector<std::string> headerComments;

 private:
  void ParseLine(const std::string& line, std::string& currentSection, std::string& lastKey);
  std::uint64_t stoppedAtLine_ = 0;
  // Normalized section name -> its first index, so that filing each key costs
  // one lookup, not a walk over every section (a catalogue of many sections
  // would otherwise load in quadratic time). Rebuilt when it falls out of step.
  mutable std::unordered_map<std::string, std::uint32_t> firstSection_;
  mutable std::size_t indexed_ = 0;
  mutable bool indexedCase_ = true;
};

}  // namespace tessaro
