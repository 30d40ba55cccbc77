// FragmentEngine: construction and the catalogue load.

#include "catalog/fragment_engine.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "catalog/config_file.h"
#include "catalog/read_kind.h"

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
  // A key whose hexadecimal text does not load, named by section and key. A
  // control character or a byte of a multi-byte character would garble the
  // message (a zero byte would end it); such a byte is named by its value.
  auto reportHexFault = [&](std::uint32_t i, std::uint32_t j, const KeyReading& reading) {
    const std::string section = config.SectionName(i);
    const std::string key = config.KeyName(i, j);
    const std::string value = config.KeyValue(i, j, std::string());
    if (reading.fault == HexFault::kOddDigits) {
      SetError("configure file %s: section [%s], key %s: an odd number of hexadecimal digits (%zu), "
               "but a content string needs two a byte\n",
               configPath_.c_str(), section.c_str(), key.c_str(), value.size());
      return;
    }
    const auto c = static_cast<unsigned char>(value[reading.badIndex]);
    if (c > 0x20 && c < 0x7F) {
      SetError("configure file %s: section [%s], key %s: '%c' is not a hexadecimal digit\n", configPath_.c_str(),
               section.c_str(), key.c_str(), c);
    } else {
      SetError("configure file %s: section [%s], key %s: byte 0x%02X is not a hexadecimal digit\n",
               configPath_.c_str(), section.c_str(), key.c_str(), c);
    }
  };
  std::vector<KeyReading> readings;
  for (std::uint32_t i = 0; i < n; ++i) {
    FileTypeRecord& record = records_[i];
    ReadKind(config, i, record, readings);
    for (std::uint32_t j = 0; j < readings.size(); ++j) {
      if (readings[j].fault == HexFault::kNone) continue;
      reportHexFault(i, j, readings[j]);
      for (auto& r : records_) r.Clear();
      return -1;
    }
    record.firstAddon = addonCount;
    addonCount += static_cast<std::uint32_t>(record.addons.size());
    for (const std::string& bytes : record.addonBytes) longestAddon = std::max(longestAddon, bytes.size());
    for (const std::string& bytes : record.signatureBytes) {
      longestSignature_ = std::max(longestSignature_, bytes.size());
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
