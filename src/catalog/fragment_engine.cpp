// FragmentEngine: construction and the catalogue load.

#include "catalog/fragment_engine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "catalog/config_file.h"
#include "catalog/hex.h"

namespace tessaro {

const std::string& FileTypeRecord::NameOrEmpty() const {
  static const std::string empty;
  return name ? *name : empty;
}

const std::string& FileTypeRecord::ExtensionOrEmpty() const {
  static const std::string empty;
  return extension ? *extension : empty;
}

void FileTypeRecord::Clear() { *this = FileTypeRecord(); }

FragmentEngine::FragmentEngine() : FragmentEngine(kDefaultConfig) {}

FragmentEngine::FragmentEngine(std::string configPath)
    : configPath_(std::move(configPath)), platform_(nullptr) {
  std::memset(lastError, 0, sizeof lastError);
  textKind.name = "text file";
  textKind.extension = ".txt";
  for (int i = 0; i < kMaxKinds; ++i) kinds[static_cast<std::size_t>(i)] = &records_[static_cast<std::size_t>(i)];
  // 8 spare bytes: the quick signature test loads 8 bytes wherever a prefix lies.
  head_ = std::make_unique<unsigned char[]>(kHeadSize + 8);
  if (LoadCatalogue() == 0) {
    ready = true;
  } else {
    std::fputs("load file type information failed\n", stdout);
    std::fflush(stdout);
  }
}

FragmentEngine::FragmentEngine(std::string configPath, Platform& platform)
    : FragmentEngine(std::move(configPath)) {
  platform_ = &platform;
}

FragmentEngine::~FragmentEngine() = default;

void FragmentEngine::SetError(const char* format, ...) {
  std::memset(lastError, 0, sizeof lastError);
  va_list args;
  va_start(args, format);
  // vsnprintf cuts a long message (a long path) at 511 characters.
  std::vsnprintf(lastError, sizeof lastError, format, args);
  va_end(args);
}

bool FragmentEngine::Decode(std::size_t slot, const std::string& section, const std::string& key,
                            const std::string& hex, std::string& bytes) {
  (void)slot;
  std::size_t bad = 0;
  if (DecodeHex(hex, bytes, bad)) return true;
  const auto c = static_cast<unsigned char>(hex[bad]);
  // A control character or a byte of a multi-byte character would garble the
  // message (a zero byte would end it); those are named by their value.
  if (c > 0x20 && c < 0x7F) {
    SetError("configure file %s: section [%s], key %s: '%c' is not a hexadecimal digit\n",
             configPath_.c_str(), section.c_str(), key.c_str(), c);
  } else {
    SetError("configure file %s: section [%s], key %s: byte 0x%02X is not a hexadecimal digit\n",
             configPath_.c_str(), section.c_str(), key.c_str(), c);
  }
  return false;
}

namespace {

// The decimal reading of an offset: blanks, a sign, digits up to the first
// other character; no digits give 0. Saturates instead of overflowing.
std::int64_t ReadDecimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (value > (kMax - digit) / 10) {
      value = kMax;
      continue;
    }
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

}  // namespace

int FragmentEngine::LoadCatalogue() {
  ConfigFile config;
  config.SetPath(configPath_);
  kindCount = 0;
  search_.reset();
  for (auto& record : records_) record.Clear();

  if (!config.ReadFile()) {
    SetError("default configure file %s not exist\n", configPath_.c_str());
    return -1;
  }
  const std::uint32_t n = config.SectionCount();
  if (n == 0) {
    SetError("cann't find configure information in %s\n", configPath_.c_str());
    return -1;
  }
  if (n > static_cast<std::uint32_t>(kMaxKinds)) {
    SetError("configure file %s declares %u kinds, but at most %d kinds are allowed\n",
             configPath_.c_str(), n, kMaxKinds);
    return -1;
  }

  std::uint32_t addonCount = 0;
  std::size_t longestAddon = 0;
  longestSignature_ = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    FileTypeRecord& record = records_[i];
    record.name = config.SectionName(i);
    const std::uint32_t m = config.KeyCount(i);
    if (m == 0) {
      record.name.reset();
      continue;
    }
    record.firstAddon = addonCount;
    for (std::uint32_t j = 0; j < m; ++j) {
      std::string value = config.KeyValue(i, j, std::string());
      std::string key = config.KeyName(i, j);
      std::string bytes;
      if (key.find("addon") != std::string::npos) {
        if (!Decode(i, *record.name, key, value, bytes)) {
          for (auto& r : records_) r.Clear();
          return -1;
        }
        longestAddon = std::max(longestAddon, bytes.size());
        record.addons.push_back(std::move(value));
        record.addonBytes.push_back(std::move(bytes));
        ++addonCount;
      } else if (key.find("postfix") != std::string::npos) {
        record.extension = std::move(value);
      } else if (j % 2 == 1) {
        if (!Decode(i, *record.name, key, value, bytes)) {
          for (auto& r : records_) r.Clear();
          return -1;
        }
        longestSignature_ = std::max(longestSignature_, bytes.size());
        record.signatures.push_back(std::move(value));
        record.signatureBytes.push_back(std::move(bytes));
      } else {
        record.offsets.push_back(ReadDecimal(value));
      }
    }
  }
  kindCount = static_cast<int>(n);

  carryCapacity_ = longestAddon > 0 ? longestAddon - 1 : 0;
  scan_ = std::make_unique<unsigned char[]>(carryCapacity_ + kChunkSize);
  farSignature_ = std::make_unique<unsigned char[]>(longestSignature_ + 1);
  found_.assign(addonCount, 0);
  candidates_.assign(kMaxKinds, 0);
  return 0;
}

}  // namespace tessaro
