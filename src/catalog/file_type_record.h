#pragma once
// FileTypeRecord: one kind of file of the catalogue.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessaro {

struct FileTypeRecord {
  // The section name; absent for a section without keys.
  std::optional<std::string> name;
  // The extension recovered files receive, with its own leading dot as written;
  // absent when the section has no postfix key.
  std::optional<std::string> extension;
  // Hexadecimal texts as written in the catalogue, and the offsets they are
  // paired with by index.
  std::vector<std::string> signatures;
  std::vector<std::int64_t> offsets;
  // Content strings, hexadecimal texts as written.
  std::vector<std::string> addons;

  // The same, decoded once at load into raw bytes (a signature's odd last
  // digit dropped; a content string with an odd digit count does not load).
  std::vector<std::string> signatureBytes;
  std::vector<std::string> addonBytes;
  // Index of this record's first content string among all content strings of
  // the catalogue (see FragmentEngine).
  std::uint32_t firstAddon = 0;

  const std::string& NameOrEmpty() const;
  const std::string& ExtensionOrEmpty() const;
  void Clear();
};

}  // namespace tessaro
