// A song's artist and title: ID3v2 (2.2, 2.3, 2.4) at the start of an MP3,
// ID3v1 at the end of its frames, and Vorbis comments (FLAC's
// VORBIS_COMMENT block, the comment header of Ogg Vorbis and Opus).

#include <cstring>

#include "engine/formats/flac_blocks.h"
#include "engine/formats/format_check.h"
#include "engine/formats/id3.h"
#include "engine/formats/ogg_pages.h"
#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

using formats::Le32;

// Tag text the format calls Latin-1. Many taggers wrote the system's code
// page there instead (GBK, Shift_JIS, Big5: two bytes of 0x80 or more per
// character), which read as Latin-1 would be garbage; Latin-1 words rarely
// hold two such letters in a row, so text that does gives no name.
std::string TagLatin1(std::string_view text) {
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i - 1]) >= 0x80 && static_cast<unsigned char>(text[i]) >= 0x80) return {};
  }
  return Latin1ToUtf8(text);
}

// A text frame's body: an encoding byte, then the text; the first of several
// values (ID3v2.4 parts them with NULs).
std::string TextFrame(std::string_view body) {
  if (body.empty()) return {};
  const auto encoding = static_cast<unsigned char>(body[0]);
  std::string_view text = body.substr(1);
  switch (encoding) {
    case 0: return TagLatin1(UpToNul(text));
    case 3: return IsUtf8(UpToNul(text)) ? std::string(UpToNul(text)) : std::string();
    case 1:
    case 2: {
      bool big = encoding == 2;
      if (text.size() >= 2) {
        const auto a = static_cast<unsigned char>(text[0]), b = static_cast<unsigned char>(text[1]);
        if ((a == 0xFE && b == 0xFF) || (a == 0xFF && b == 0xFE)) {
          big = a == 0xFE;
          text.remove_prefix(2);
        } else if (encoding == 1) {
          return {};  // UTF-16 needs its byte order mark
        }
      }
      std::size_t end = 0;
      while (end + 1 < text.size() && (text[end] != '\0' || text[end + 1] != '\0')) end += 2;
      return Utf16ToUtf8(text.substr(0, end), big);
    }
    default: return {};
  }
}

// The artist and title frames of the ID3v2 tag at the start of the file.
std::string Id3v2Name(Fragment& f) {
  formats::Id3v2Frames frames(f, kMetadataBytes);
  if (!frames.Open()) return {};
  std::string artist, title;
  formats::Id3v2Frame frame;
  while ((artist.empty() || title.empty()) && frames.Next(frame)) {
    const bool isArtist = frame.id == "TPE1" || frame.id == "TP1";
    const bool isTitle = frame.id == "TIT2" || frame.id == "TT2";
    if ((!isArtist && !isTitle) || frames.Opaque(frame)) continue;
    // A text longer than any name is read only as far as a name may go.
    std::string text;
    if (!frames.Body(frame, 4096, text)) break;
    (isArtist ? artist : title) = TextFrame(text);
  }
  return ArtistTitle(artist, title);
}

// The 128-byte ID3v1 tag, read only where the MP3's frames are known to end:
// in a fragment the slack follows the file, so the last 128 bytes may be
// anything there.
std::string Id3v1Name(Fragment& f, const CheckResult& check) {
  if (check.verdict != formats::Verdict::kIntact || check.length < 128 || check.length > f.Size()) return {};
  unsigned char tag[128];
  if (!f.Read(check.length - 128, tag, sizeof tag) || std::memcmp(tag, "TAG", 3) != 0) return {};
  const auto field = [&](std::size_t at) {
    std::string_view text = UpToNul(std::string_view(reinterpret_cast<const char*>(tag + at), 30));
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return TagLatin1(text);
  };
  return ArtistTitle(field(33), field(3));
}

// Vorbis comments: a vendor string, then "KEY=value" entries, each after its
// little-endian length. `comments` may be the start of a longer block.
std::string VorbisName(std::string_view comments) {
  std::size_t at = 0;
  const auto u32 = [&](std::uint32_t& v) {
    if (comments.size() - at < 4) return false;
    v = Le32(reinterpret_cast<const unsigned char*>(comments.data() + at));
    at += 4;
    return true;
  };
  std::uint32_t vendor = 0, count = 0;
  if (!u32(vendor) || vendor > comments.size() - at) return {};
  at += vendor;
  if (!u32(count)) return {};
  std::string artist, author, title;
  for (std::uint32_t i = 0; i < count && i < 4096; ++i) {
    std::uint32_t length = 0;
    if (!u32(length) || length > comments.size() - at) break;
    const std::string_view entry = comments.substr(at, length);
    at += length;
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    std::string key(entry.substr(0, equals));
    for (char& c : key) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    const std::string_view value = entry.substr(equals + 1);
    // The first of repeated keys; values must be UTF-8.
    if (key == "ARTIST" && artist.empty() && IsUtf8(value)) artist = value;
    if (key == "TITLE" && title.empty() && IsUtf8(value)) title = value;
    // speexenc and some older encoders write AUTHOR for the artist.
    if (key == "AUTHOR" && author.empty() && IsUtf8(value)) author = value;
  }
  return ArtistTitle(artist.empty() ? author : artist, title);
}

}  // namespace

std::string Id3Name(Fragment& f, const CheckResult& check) {
  std::string name = Id3v2Name(f);
  return name.empty() ? Id3v1Name(f, check) : name;
}

std::string FlacName(Fragment& f, const CheckResult&) {
  if (!formats::HasFlacSignature(f)) return {};
  formats::FlacBlock block;
  std::uint64_t at = formats::kFlacFirstBlock;
  for (int blocks = 0; blocks < 128 && formats::ReadFlacBlock(f, at, block); ++blocks) {
    if (block.type == formats::kFlacVorbisComment) {
      if (!f.Holds(block.Data(), block.length)) return {};
      return VorbisName(ReadText(f, block.Data(), block.length));
    }
    if (block.last) break;
    at = block.End();
  }
  return {};
}

std::string OggName(Fragment& f, const CheckResult&) {
  // The comment header is the second packet of the first logical stream; it
  // may span pages. Its bytes are gathered up to kMetadataBytes.
  std::string packet;
  std::uint64_t at = 0;
  std::uint32_t serial = 0;
  int packetIndex = 0;
  bool speex = false;  // Speex's comments come bare, without a packet type
  for (int pages = 0; pages < 256; ++pages) {
    formats::OggPage page;
    if (formats::ReadOggPage(f, at, page) != formats::OggRead::kOk) return {};
    if (pages == 0) serial = page.serial;
    if (page.serial == serial) {
      std::uint64_t data = at + 27 + page.segments;
      unsigned char h[8];
      if (pages == 0) speex = f.Read(data, h, 8) && std::memcmp(h, "Speex   ", 8) == 0;
      for (unsigned s = 0; s < page.segments; ++s) {
        const unsigned char lacing = page.lacing[s];
        if (packetIndex == 1 && packet.size() < kMetadataBytes) {
          std::string piece;
          if (!ReadExact(f, data, lacing, piece)) return {};
          packet += piece;
        }
        data += lacing;
        if (lacing < 255 && ++packetIndex == 2) {
          const std::string_view p(packet);
          if (p.substr(0, 7) == std::string_view("\x03vorbis", 7)) return VorbisName(p.substr(7));
          if (p.substr(0, 7) == "\x81theora") return VorbisName(p.substr(7));
          if (p.substr(0, 8) == "OpusTags") return VorbisName(p.substr(8));
          return speex ? VorbisName(p) : std::string();
        }
      }
    }
    at += page.Length();
  }
  return {};
}

}  // namespace tessaro::names
