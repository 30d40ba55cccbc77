#include "support/folder_kit.h"

#include <filesystem>

#include "support/check_kit.h"
#include "support/temp_folder.h"

namespace tessaro::testing {

namespace fs = std::filesystem;

std::string FolderData(const std::string& name) {
  return ReadAll((fs::path(TESSARO_SOURCE_DIR) / "tests" / "data" / "folders" / name).string());
}

namespace {

std::uint16_t Rotated(std::uint16_t sum, unsigned char byte) {
  return static_cast<std::uint16_t>(((sum & 1) != 0 ? 0x8000 : 0) + (sum >> 1) + byte);
}

std::uint16_t NameHash(std::u16string_view name) {
  std::uint16_t hash = 0;
  for (char16_t unit : name) {
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
    hash = Rotated(hash, static_cast<unsigned char>(unit & 0xFF));
    hash = Rotated(hash, static_cast<unsigned char>(unit >> 8));
  }
  return hash;
}

std::string Units(std::u16string_view units) {
  std::string out;
  for (char16_t unit : units) out += Le(unit, 2);
  return out;
}

}  // namespace

std::string WithSetChecksum(std::string set) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (i != 2 && i != 3) sum = Rotated(sum, static_cast<unsigned char>(set[i]));
  }
  return Patched(std::move(set), 2, Le(sum, 2));
}

std::string ExfatSet(const ExfatFile& file) {
  const std::size_t nameEntries = (file.name.size() + 14) / 15;
  const std::size_t secondaries = 1 + nameEntries + static_cast<std::size_t>(file.vendorEntries);
  const int claimed = file.secondaryCount >= 0 ? file.secondaryCount : static_cast<int>(secondaries);
  std::string set = "\x85" + std::string(1, static_cast<char>(claimed));
  set += std::string(2, '\0') + Le(file.attributes, 2) + std::string(2, '\0') + Le(0x5B8E0000, 4) + Le(0x5B8E0000, 4) +
         Le(0x5B8E0000, 4) + std::string(12, '\0');
  const std::uint8_t flags = file.firstCluster != 0 ? (file.contiguous ? 3 : 1) : 0;
  const std::uint16_t hash = static_cast<std::uint16_t>(NameHash(file.name) ^ (file.badHash ? 0x5A5A : 0));
  set += std::string("\xC0", 1) + static_cast<char>(flags) + '\0' + static_cast<char>(file.name.size()) + Le(hash, 2) +
         std::string(2, '\0') + Le(file.validSize, 8) + std::string(4, '\0') + Le(file.firstCluster, 4) + Le(file.size, 8);
  for (std::size_t i = 0; i < nameEntries; ++i) {
    std::u16string part(file.name.substr(i * 15, 15));
    part.resize(15, u'\0');
    set += std::string("\xC1\0", 2) + Units(part);
  }
  for (int i = 0; i < file.vendorEntries; ++i) set += "\xE0" + std::string(31, '\0');
  set = WithSetChecksum(std::move(set));
  if (file.deleted) {
    for (std::size_t i = 0; i < set.size(); i += 32) set[i] = static_cast<char>(set[i] & 0x7F);
  }
  return set;
}

std::string FatEntry(std::string_view name11, std::uint8_t attributes, std::uint32_t cluster, std::uint32_t size,
                     std::uint8_t caseBits) {
  std::string e(name11.substr(0, 11));
  e.resize(11, ' ');
  const std::string time = Le(0x94F6, 2), date = Le(0x5D88, 2);  // 2026-12-08 18:39:44
  e += static_cast<char>(attributes);
  e += static_cast<char>(caseBits);
  e += '\0';
  e += time + date + date + Le(cluster >> 16, 2) + time + date + Le(cluster & 0xFFFF, 2) + Le(size, 4);
  return e;
}

std::uint8_t ShortNameChecksum(std::string_view name11) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 11; ++i) {
    sum = static_cast<std::uint8_t>(((sum & 1) != 0 ? 0x80 : 0) + (sum >> 1) +
                                    static_cast<unsigned char>(i < name11.size() ? name11[i] : ' '));
  }
  return sum;
}

std::string FatLongName(std::u16string_view name, std::string_view name11) {
  std::u16string units(name.substr(0, 260));
  if (units.size() % 13 != 0) units += u'\0';
  while (units.size() % 13 != 0) units += u'\xFFFF';
  const std::size_t count = units.size() / 13;
  const char checksum = static_cast<char>(ShortNameChecksum(name11));
  std::string out;
  for (std::size_t k = count; k >= 1; --k) {
    const std::u16string_view part = std::u16string_view(units).substr((k - 1) * 13, 13);
    std::string e(1, static_cast<char>(k | (k == count ? 0x40 : 0)));
    e += Units(part.substr(0, 5)) + "\x0F" + '\0' + checksum + Units(part.substr(5, 6)) + std::string(2, '\0') +
         Units(part.substr(11, 2));
    out += e;
  }
  return out;
}

}  // namespace tessaro::testing
