#pragma once
// A small JSON writer for the command line's reports. Strings that are not
// valid UTF-8 are written with U+FFFD for each bad byte and, beside them, an
// exact "<key>_hex" field, so no name is ever lost or made invalid JSON.

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaro::outputs {

bool IsValidUtf8(std::string_view text);
// Length of the valid UTF-8 sequence at `p` (of `left` bytes), or 0 when the
// byte there starts none.
std::size_t Utf8SequenceLength(const unsigned char* p, std::size_t left);
// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

class JsonObject {
 public:
  JsonObject& Field(std::string_view key, std::string_view value);  // a name: adds key_hex when needed
  JsonObject& Number(std::string_view key, std::int64_t value);
  JsonObject& Null(std::string_view key);
  JsonObject& Raw(std::string_view key, std::string_view json);
  std::string Done() const { return "{" + body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_;
};

}  // namespace tessaro::outputs
