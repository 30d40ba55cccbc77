// Document titles kept as text: the dc:title of an office document's
// metadata part (docProps/core.xml in OOXML, meta.xml in ODF), which lives
// deflated inside the ZIP; and a web page's <title>.

#include <cstring>

#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

using formats::Le16;
using formats::Le32;

// The ZIP member `name` inflated, up to kMetadataBytes. It is found by its
// local header, which a fragment holds even when it lacks the central
// directory at the file's end; the name is searched for and the header
// checked 30 bytes before it.
bool ZipMember(Fragment& f, std::string_view name, std::string& out) {
  unsigned char h[30];
  if (!f.Read(0, h, 4) || std::memcmp(h, "PK\x03\x04", 4) != 0) return false;
  std::uint64_t from = 30;
  for (int hits = 0; hits < 16; ++hits) {
    const std::uint64_t at = Find(f, from, f.Size(), name);
    if (at == formats::kUnknown) return false;
    from = at + 1;
    if (!f.Read(at - 30, h, 30) || std::memcmp(h, "PK\x03\x04", 4) != 0 || Le16(h + 26) != name.size()) continue;
    const std::uint16_t flags = Le16(h + 6), method = Le16(h + 8);
    const std::uint64_t data = at + name.size() + Le16(h + 28);
    if ((flags & 1) != 0 || data > f.Size()) return false;  // encrypted, or cut
    // Sizes are in the header unless a data descriptor follows the data (bit
    // 3); then the deflate stream itself says where it ends.
    const std::uint64_t limit = (flags & 8) != 0 ? f.Size() : std::min(f.Size(), data + Le32(h + 18));
    if (method == 0) {
      if ((flags & 8) != 0 || !f.Holds(data, Le32(h + 18))) return false;
      out = ReadText(f, data, static_cast<std::size_t>(std::min<std::uint64_t>(Le32(h + 18), kMetadataBytes)));
      return true;
    }
    return method == 8 && Inflate(f, data, limit, true, kMetadataBytes, out);
  }
  return false;
}

// The raw text of the first element named `tag` (with its namespace prefix;
// in any case for HTML); empty when the element is empty or not closed.
std::string_view ElementText(std::string_view xml, std::string_view tag, bool html) {
  const auto lower = [&](char c) { return html && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  const auto findFrom = [&](std::string_view needle, std::size_t from) {
    for (std::size_t i = from; i + needle.size() <= xml.size(); ++i) {
      std::size_t k = 0;
      while (k < needle.size() && lower(xml[i + k]) == needle[k]) ++k;
      if (k == needle.size()) return i;
    }
    return std::string_view::npos;
  };
  const std::string open = "<" + std::string(tag);
  for (std::size_t at = findFrom(open, 0); at != std::string_view::npos; at = findFrom(open, at + 1)) {
    const std::size_t after = at + open.size();
    if (after >= xml.size()) return {};
    const char next = xml[after];
    if (next != '>' && next != ' ' && next != '\t' && next != '\r' && next != '\n' && next != '/') continue;
    const std::size_t close = xml.find('>', after);
    if (close == std::string_view::npos || xml[close - 1] == '/') return {};
    const std::size_t end = findFrom("</" + std::string(tag), close + 1);
    if (end == std::string_view::npos) return {};
    return xml.substr(close + 1, end - close - 1);
  }
  return {};
}

std::string OfficeTitle(Fragment& f, std::string_view part) {
  std::string xml;
  if (!ZipMember(f, part, xml)) return {};
  const std::string_view title = ElementText(xml, "dc:title", false);
  return IsUtf8(title) ? DecodeEntities(title, false) : std::string();
}

}  // namespace

std::string OoxmlTitle(Fragment& f, const CheckResult&) { return OfficeTitle(f, "docProps/core.xml"); }

std::string OdfTitle(Fragment& f, const CheckResult&) { return OfficeTitle(f, "meta.xml"); }

std::string HtmlTitle(Fragment& f, const CheckResult&) {
  std::string page = ReadText(f, 0, kMetadataBytes);
  // The title belongs in the head. A page cut before its end is followed by
  // slack: zeros, or older data that may hold another page's title.
  page.resize(std::min(page.size(), page.find('\0')));
  std::string lowerPage = page;
  for (char& c : lowerPage) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const std::size_t body = lowerPage.find("<body");
  if (body != std::string::npos) page.resize(body);
  const std::string_view title = ElementText(page, "title", true);
  if (IsUtf8(title)) return DecodeEntities(title, true);
  // Other bytes are read as Windows-1252 (which browsers read for pages
  // labelled Latin-1) only where the page names no other character set: a
  // title in GBK or Shift_JIS read so would be garbage.
  lowerPage.resize(page.size());
  const std::size_t charset = lowerPage.find("charset=");
  if (charset != std::string::npos) {
    std::size_t at = charset + 8;
    while (at < lowerPage.size() && (lowerPage[at] == '"' || lowerPage[at] == '\'' || lowerPage[at] == ' ')) ++at;
    const std::string_view name = std::string_view(lowerPage).substr(at, 12);
    bool latin = false;
    for (const char* known : {"iso-8859-1", "iso8859-1", "latin1", "latin-1", "windows-1252", "cp1252", "us-ascii"}) {
      latin = latin || name.substr(0, std::strlen(known)) == known;
    }
    if (!latin) return {};
  }
  return DecodeEntities(Cp1252ToUtf8(title), true);
}

}  // namespace tessaro::names
