#pragma once
// A strict JSON reader for the tests, independent of the program's own
// writer: it checks that a document is one JSON value in UTF-8 and takes it
// apart, so the tests can read what tessaro-cli reports. Where python3 is at
// hand its parser is the judge as well (see run_program.h).

#include <string>
#include <utility>
#include <vector>

namespace tessaro::testing {

struct JsonValue {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  std::string text;  // a string's UTF-8; a number or a boolean as written
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  // The member named `key` of an object, or nullptr.
  const JsonValue* Find(const std::string& key) const;
};

// False, with `out` unspecified, unless `text` is exactly one JSON value
// with optional white space around it: strings of valid UTF-8 without raw
// control characters, escapes that name whole characters (no lone
// surrogate), numbers in the grammar's form.
bool ParseJson(const std::string& text, JsonValue& out);

}  // namespace tessaro::testing
