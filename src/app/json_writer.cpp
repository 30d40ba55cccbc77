#include "app/json_writer.h"

#include <cstdio>

namespace tessaro::outputs {

std::size_t Utf8SequenceLength(const unsigned char* p, std::size_t left) {
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  std::size_t n;
  unsigned min;
  unsigned code;
  if ((c & 0xE0) == 0xC0) { n = 2; min = 0x80; code = c & 0x1F; }
  else if ((c & 0xF0) == 0xE0) { n = 3; min = 0x800; code = c & 0x0F; }
  else if ((c & 0xF8) == 0xF0) { n = 4; min = 0x10000; code = c & 0x07; }
  else return 0;
  if (left < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (p[i] & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8SequenceLength(p + i, text.size() - i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8SequenceLength(p + i, text.size() - i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    const unsigned char c = p[i];
    if (n == 1) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
          } else {
            out += static_cast<char>(c);
          }
      }
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
  out += "\"";
  return out;
}

void JsonObject::Key(std::string_view key) {
  if (!body_.empty()) body_ += ",";
  body_ += JsonString(key);
  body_ += ":";
}

JsonObject& JsonObject::Field(std::string_view key, std::string_view value) {
  Key(key);
  body_ += JsonString(value);
  if (!IsValidUtf8(value)) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : value) {
      hex += digits[c >> 4];
      hex += digits[c & 15];
    }
    Key(std::string(key) + "_hex");
    body_ += "\"" + hex + "\"";
  }
  return *this;
}

JsonObject& JsonObject::Number(std::string_view key, std::int64_t value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Null(std::string_view key) {
  Key(key);
  body_ += "null";
  return *this;
}

JsonObject& JsonObject::Raw(std::string_view key, std::string_view json) {
  Key(key);
  body_ += json;
  return *this;
}

}  // namespace tessaro::outputs
