// The title of an OLE2 compound file (Word, Excel and PowerPoint 97-2003):
// property 2 of the "\x05SummaryInformation" stream, in the code page that
// property 1 names, found through the compound file's directory and chains.

#include <cstring>
#include <memory>

#include "engine/formats/compound_reader.h"
#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

using formats::Le16;
using formats::Le32;

// Text in the property set's code page, as UTF-8. Code pages other than
// these are taken only when the text is plain ASCII, which they all share.
std::string FromCodePage(std::string_view bytes, int codePage) {
  switch (codePage) {
    case 1200: return Utf16ToUtf8(bytes, false);
    case 65001: return IsUtf8(bytes) ? std::string(bytes) : std::string();
    case 1252: return Cp1252ToUtf8(bytes);
    case 28591: return Latin1ToUtf8(bytes);
    default: break;
  }
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return {};
  }
  return std::string(bytes);
}

std::string SummaryTitle(std::string_view stream) {
  static const unsigned char kSummary[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                             0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
  const auto* p = reinterpret_cast<const unsigned char*>(stream.data());
  if (stream.size() < 48 || Le16(p) != 0xFFFE || std::memcmp(p + 28, kSummary, 16) != 0) return {};
  const std::uint32_t section = Le32(p + 44);
  if (section > stream.size() - 8) return {};
  const std::uint32_t count = Le32(p + section + 4);
  int codePage = 1252;
  std::uint32_t titleAt = 0;
  for (std::uint32_t i = 0; i < count && i < 1024; ++i) {
    const std::uint64_t pair = section + 8ull + 8ull * i;
    if (pair + 8 > stream.size()) return {};
    const std::uint32_t id = Le32(p + pair);
    const std::uint64_t value = section + std::uint64_t{Le32(p + pair + 4)};
    if (value + 8 > stream.size()) continue;
    if (id == 1 && Le16(p + value) == 2) codePage = Le16(p + value + 4);
    if (id == 2) titleAt = static_cast<std::uint32_t>(value);
  }
  if (titleAt == 0) return {};
  const std::uint16_t type = Le16(p + titleAt);
  const std::uint64_t length = Le32(p + titleAt + 4);
  const std::string_view rest = stream.substr(titleAt + 8);
  if (type == 0x1F) {  // VT_LPWSTR: UTF-16 characters
    if (length * 2 > rest.size()) return {};
    const std::string wide = Utf16ToUtf8(rest.substr(0, length * 2), false);
    return std::string(UpToNul(wide));
  }
  if (type != 0x1E || length > rest.size()) return {};  // VT_LPSTR: bytes in the code page
  std::string_view text = rest.substr(0, length);
  if (codePage == 1200) {
    std::string wide = Utf16ToUtf8(text, false);
    return std::string(UpToNul(wide));
  }
  return FromCodePage(UpToNul(text), codePage);
}

}  // namespace

std::string CompoundTitle(Fragment& f, const CheckResult&) {
  auto file = std::make_unique<formats::CompoundFile>(f);
  if (file->Open() != formats::CompoundFile::Opened::kOk) return {};
  const formats::CompoundHeader& h = file->Header();
  // Mini sectors of 64 bytes, and the cutoff below which streams are mini
  // streams, which is always 4096.
  if ((h.shift != 9 && h.shift != 12) || h.miniShift != 6 || h.cutoff != 4096) return {};
  std::uint32_t start = 0;
  std::uint64_t size = 0;
  std::string stream;
  if (!file->FindStream(u"\x05SummaryInformation", start, size) ||
      !file->ReadStream(start, size, size < 4096, kMetadataBytes, stream)) {
    return {};
  }
  return SummaryTitle(stream);
}

}  // namespace tessaro::names
