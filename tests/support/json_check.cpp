#include "support/json_check.h"

#include <cstdint>

namespace tessaro::testing {

const JsonValue* JsonValue::Find(const std::string& key) const {
  for (const auto& [name, value] : members) {
    if (name == key) return &value;
  }
  return nullptr;
}

namespace {

class Reader {
 public:
  explicit Reader(const std::string& text) : s_(text) {}

  bool Document(JsonValue& out) {
    Blank();
    if (!Value(out, 0)) return false;
    Blank();
    return i_ == s_.size();
  }

 private:
  static constexpr int kMaxDepth = 200;

  bool At(char c) const { return i_ < s_.size() && s_[i_] == c; }
  unsigned char Byte(std::size_t at) const { return static_cast<unsigned char>(s_[at]); }
  void Blank() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
  }
  bool Word(const char* word) {
    for (; *word; ++word, ++i_) {
      if (!At(*word)) return false;
    }
    return true;
  }

  bool Value(JsonValue& out, int depth) {
    if (depth > kMaxDepth || i_ >= s_.size()) return false;
    const std::size_t start = i_;
    switch (s_[i_]) {
      case '{': out.type = JsonValue::Type::kObject; return Object(out, depth);
      case '[': out.type = JsonValue::Type::kArray; return Array(out, depth);
      case '"': out.type = JsonValue::Type::kString; return String(out.text);
      case 'n': out.type = JsonValue::Type::kNull; return Word("null");
      case 't':
      case 'f':
        out.type = JsonValue::Type::kBool;
        if (!Word(s_[i_] == 't' ? "true" : "false")) return false;
        out.text = s_.substr(start, i_ - start);
        return true;
      default:
        out.type = JsonValue::Type::kNumber;
        if (!Number()) return false;
        out.text = s_.substr(start, i_ - start);
        return true;
    }
  }

  bool Object(JsonValue& out, int depth) {
    ++i_;
    Blank();
    if (At('}')) return ++i_, true;
    for (;;) {
      std::string key;
      JsonValue value;
      Blank();
      if (!At('"') || !String(key)) return false;
      Blank();
      if (!At(':')) return false;
      ++i_;
      Blank();
      if (!Value(value, depth + 1)) return false;
      out.members.emplace_back(std::move(key), std::move(value));
      Blank();
      if (At('}')) return ++i_, true;
      if (!At(',')) return false;
      ++i_;
    }
  }

  bool Array(JsonValue& out, int depth) {
    ++i_;
    Blank();
    if (At(']')) return ++i_, true;
    for (;;) {
      JsonValue item;
      Blank();
      if (!Value(item, depth + 1)) return false;
      out.items.push_back(std::move(item));
      Blank();
      if (At(']')) return ++i_, true;
      if (!At(',')) return false;
      ++i_;
    }
  }

  bool Digits() {
    const std::size_t start = i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    return i_ > start;
  }

  bool Number() {
    if (At('-')) ++i_;
    if (At('0')) {
      ++i_;
    } else if (!Digits()) {
      return false;
    }
    if (At('.')) {
      ++i_;
      if (!Digits()) return false;
    }
    if (At('e') || At('E')) {
      ++i_;
      if (At('+') || At('-')) ++i_;
      if (!Digits()) return false;
    }
    return true;
  }

  static void PutUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      return;
    }
    static constexpr unsigned kLead[] = {0, 0xC0, 0xE0, 0xF0};
    const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    out.push_back(static_cast<char>(kLead[tail] | (c >> (6 * tail))));
    for (int k = tail - 1; k >= 0; --k) out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
  }

  bool Hex4(std::uint32_t& out) {
    if (i_ + 4 > s_.size()) return false;
    out = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[i_++];
      out <<= 4;
      if (c >= '0' && c <= '9') out |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') out |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') out |= static_cast<std::uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  bool Escape(std::string& out) {
    if (i_ >= s_.size()) return false;
    const char c = s_[i_++];
    switch (c) {
      case '"': case '\\': case '/': out.push_back(c); return true;
      case 'b': out.push_back('\b'); return true;
      case 'f': out.push_back('\f'); return true;
      case 'n': out.push_back('\n'); return true;
      case 'r': out.push_back('\r'); return true;
      case 't': out.push_back('\t'); return true;
      case 'u': break;
      default: return false;
    }
    std::uint32_t code;
    if (!Hex4(code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      std::uint32_t low;
      if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    PutUtf8(out, code);
    return true;
  }

  // One whole UTF-8 sequence, shortest form, no surrogate, at most U+10FFFF.
  bool Character(std::string& out) {
    const unsigned char lead = Byte(i_);
    std::size_t n;
    std::uint32_t code, min;
    if (lead < 0x80) n = 1, code = lead, min = 0;
    else if ((lead & 0xE0) == 0xC0) n = 2, code = lead & 0x1Fu, min = 0x80;
    else if ((lead & 0xF0) == 0xE0) n = 3, code = lead & 0x0Fu, min = 0x800;
    else if ((lead & 0xF8) == 0xF0) n = 4, code = lead & 0x07u, min = 0x10000;
    else return false;
    if (i_ + n > s_.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((Byte(i_ + k) & 0xC0) != 0x80) return false;
      code = (code << 6) | (Byte(i_ + k) & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    out.append(s_, i_, n);
    i_ += n;
    return true;
  }

  bool String(std::string& out) {
    ++i_;
    for (;;) {
      if (i_ >= s_.size()) return false;
      const unsigned char c = Byte(i_);
      if (c == '"') return ++i_, true;
      if (c < 0x20) return false;
      if (c == '\\') {
        ++i_;
        if (!Escape(out)) return false;
      } else if (!Character(out)) {
        return false;
      }
    }
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

}  // namespace

bool ParseJson(const std::string& text, JsonValue& out) {
  out = JsonValue{};
  return Reader(text).Document(out);
}

}  // namespace tessaro::testing
