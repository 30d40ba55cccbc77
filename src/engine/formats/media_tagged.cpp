// Containers of objects or tags with sizes: ASF (WMV, WMA), whose File
// Properties object gives the file's size, and FLV, whose tags each repeat
// their size after them and whose metadata usually gives the file's size.

#include <cstring>
#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

const unsigned char kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kAsfData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kAsfFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                              0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

// The "filesize" that FLV's onMetaData holds (an AMF number), or kUnknown.
std::uint64_t FlvMetadataSize(Fragment& f, std::uint64_t data, std::uint32_t size) {
  static const unsigned char kKey[] = {0x00, 0x08, 'f', 'i', 'l', 'e', 's', 'i', 'z', 'e', 0x00};
  unsigned char buffer[4096];
  const std::size_t n = f.ReadSome(data, buffer, size < sizeof buffer ? size : sizeof buffer);
  for (std::size_t i = 0; i + sizeof kKey + 8 <= n; ++i) {
    if (std::memcmp(buffer + i, kKey, sizeof kKey) != 0) continue;
    const std::uint64_t bits = Be64(buffer + i + sizeof kKey);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!(value >= 13 && value < 9007199254740992.0)) return kUnknown;
    const auto whole = static_cast<std::uint64_t>(value);
    return static_cast<double>(whole) == value ? whole : kUnknown;
  }
  return kUnknown;
}

}  // namespace

CheckResult CheckAsf(Fragment& f, const CheckOptions&) {
  unsigned char object[24];
  if (!f.Read(0, object, 24) || std::memcmp(object, kAsfHeader, 16) != 0) return Damaged("no ASF header object");
  const std::uint64_t headerSize = Le64(object + 16);
  if (headerSize < 30) return Damaged("impossible header object size");
  // The File Properties object, among the header's objects.
  std::uint64_t declared = kUnknown;
  bool broadcast = false;
  for (std::uint64_t at = 30; at + 24 <= headerSize;) {
    if (!f.Read(at, object, 24)) return Truncated(kUnknown, "ends inside the header object");
    const std::uint64_t size = Le64(object + 16);
    if (size < 24 || size > headerSize - at) return Damaged("an object inside the header runs past it at " + std::to_string(at));
    if (std::memcmp(object, kAsfFileProperties, 16) == 0 && size >= 92) {
      unsigned char properties[52];
      if (!f.Read(at + 40, properties, sizeof properties)) return Truncated(kUnknown, "ends inside the header object");
      declared = Le64(properties);
      broadcast = (Le32(properties + 48) & 1) != 0;
    }
    at += size;
  }
  if (declared == kUnknown) return Damaged("no File Properties object");
  if (broadcast) return Unchecked("a broadcast stream: its file size is not given");
  // The header, the data object and the index objects fill the file size.
  std::uint64_t at = 0;
  int objects = 0;
  bool data = false;
  while (at < declared) {
    if (!f.Read(at, object, 24)) return Truncated(declared, "expected " + std::to_string(declared) + " bytes");
    const std::uint64_t size = Le64(object + 16);
    if (size < 24 || size > declared - at) return Damaged("object " + std::to_string(objects + 1) + " runs past the file size");
    if (std::memcmp(object, kAsfData, 16) == 0) data = true;
    at += size;
    ++objects;
  }
  if (!data) return Damaged("no data object");
  if (at > f.Size()) return Truncated(declared, "expected " + std::to_string(declared) + " bytes");
  return Intact(at, std::to_string(objects) + " objects fill the declared file size");
}

CheckResult CheckFlv(Fragment& f, const CheckOptions&) {
  unsigned char head[13];
  if (!f.Read(0, head, 13) || std::memcmp(head, "FLV", 3) != 0) return Damaged("no FLV header");
  const std::uint64_t headerSize = Be32(head + 5);
  if (headerSize < 9) return Damaged("impossible header size");
  std::uint64_t at = headerSize;
  unsigned char previous[4];
  if (!f.Read(at, previous, 4)) return Truncated(kUnknown, "ends after the header");
  if (Be32(previous) != 0) return Damaged("the first previous-tag size is not zero");
  at += 4;
  std::uint64_t declared = kUnknown;
  std::uint64_t tags = 0;
  for (;;) {
    if (declared != kUnknown && at >= declared) break;
    unsigned char tag[11];
    const std::size_t got = f.ReadSome(at, tag, sizeof tag);
    const unsigned type = tag[0] & 0x1F;
    const bool isTag = got == sizeof tag && (tag[0] & 0xC0) == 0 && (type == 8 || type == 9 || type == 18) &&
                       (tag[8] | tag[9] | tag[10]) == 0;
    if (!isTag) {
      if (declared != kUnknown) {
        if (got < sizeof tag && at + got == f.Size()) break;
        return Damaged("no tag at " + std::to_string(at) + " before the declared end");
      }
      if (got < sizeof tag && got > 0 && !ZeroBytes(f, at, got)) return Truncated(kUnknown, "ends inside a tag header");
      break;
    }
    const std::uint32_t size = Be24(tag + 1);
    if (tags == 0 && type == 18) declared = FlvMetadataSize(f, at + 11, size);
    if (!f.Read(at + 11 + size, previous, 4)) {
      return Truncated(declared, "ends inside tag " + std::to_string(tags + 1) + " at " + std::to_string(at));
    }
    if (Be32(previous) != 11 + size) return Damaged("the size after tag " + std::to_string(tags + 1) + " does not match");
    at += 11 + std::uint64_t{size} + 4;
    ++tags;
  }
  const std::string counted = std::to_string(tags) + " tags, each size repeated after it";
  if (declared != kUnknown) {
    if (declared > f.Size()) return Truncated(declared, "expected " + std::to_string(declared) + " bytes");
    if (at != declared) return Unchecked("the tags do not end at the size the metadata gives");
    return Intact(at, counted + ", ending at the size the metadata gives");
  }
  return EndOfUncountedChain(f, at, counted, "FLV");
}

extern const FormatRow kAsfRow{.extensions = {"wma", "wmv"}, .checker = CheckAsf};
extern const FormatRow kFlvRow{.extensions = {"flv"}, .checker = CheckFlv};

}  // namespace tessaro::formats
