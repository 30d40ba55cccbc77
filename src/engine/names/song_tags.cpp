// A song's artist and title: ID3v2 (2.2, 2.3, 2.4) at the start of an MP3,
// ID3v1 at the end of its frames, and Vorbis comments (FLAC's
// VORBIS_COMMENT block, the comment header of Ogg Vorbis and Opus).

#include <cstring>

#include "engine/formats/format_check.h"
#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

using formats::Be32;
using formats::Le32;

std::uint32_t Syncsafe(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0] & 0x7F) << 21 | (p[1] & 0x7F) << 14 | (p[2] & 0x7F) << 7 | (p[3] & 0x7F);
}

// Undoes unsynchronisation: every 0xFF 0x00 back to 0xFF.
std::string Resync(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out += bytes[i];
    if (static_cast<unsigned char>(bytes[i]) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == '\0') ++i;
  }
  return out;
}

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

// The frames of an ID3v2 tag, read where they lie: a tag may hold a large
// picture before its text frames. A tag unsynchronised as a whole (2.2, 2.3)
// is first taken into memory, up to kMetadataBytes, and read from there.
class Id3v2Frames {
 public:
  Id3v2Frames(Fragment& f, bool whole) : f_(f), whole_(whole) {}

  void Load(std::uint64_t size) { tag_ = Resync(ReadText(f_, 10, static_cast<std::size_t>(size))); }
  std::uint64_t Size(std::uint64_t declared) const { return whole_ ? tag_.size() : declared; }

  // `n` bytes at `at` from the tag's body (after its 10-byte header).
  bool Read(std::uint64_t at, std::size_t n, std::string& out) {
    if (!whole_) return ReadExact(f_, 10 + at, n, out);
    if (at > tag_.size() || n > tag_.size() - at) return false;
    out.assign(tag_, static_cast<std::size_t>(at), n);
    return true;
  }

 private:
  Fragment& f_;
  bool whole_;
  std::string tag_;
};

// The artist and title frames of the ID3v2 tag at the start of the file.
std::string Id3v2Name(Fragment& f) {
  unsigned char h[10];
  if (!f.Read(0, h, 10) || std::memcmp(h, "ID3", 3) != 0) return {};
  const int version = h[3];
  if (version < 2 || version > 4 || ((h[6] | h[7] | h[8] | h[9]) & 0x80) != 0) return {};
  const std::uint32_t declared = Syncsafe(h + 6);
  // The whole tag must be there: a tag cut short could give the artist
  // without the title.
  if (!f.Holds(10, declared)) return {};
  const int flags = h[5];
  const bool unsynchronised = (flags & 0x80) != 0;
  Id3v2Frames frames(f, unsynchronised && version < 4);
  if (unsynchronised && version < 4) frames.Load(declared);
  const std::uint64_t size = frames.Size(declared);
  std::string bytes;
  std::uint64_t at = 0;
  if ((flags & 0x40) != 0 && version >= 3) {  // an extended header
    if (!frames.Read(0, 4, bytes)) return {};
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    at = version == 3 ? 4 + std::uint64_t{Be32(p)} : Syncsafe(p);
  }
  const std::size_t header = version == 2 ? 6 : 10;
  std::string artist, title;
  for (int n = 0; n < 4096 && at + header <= size && (artist.empty() || title.empty()); ++n) {
    if (!frames.Read(at, header, bytes)) break;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (p[0] == 0) break;  // padding
    const std::string id = bytes.substr(0, version == 2 ? 3 : 4);
    const std::uint64_t length = version == 2   ? (std::uint64_t{p[3]} << 16 | p[4] << 8 | p[5])
                                 : version == 3 ? Be32(p + 4)
                                                : Syncsafe(p + 4);
    const int format = version == 2 ? 0 : p[9];
    if (length > size - at - header) break;
    const std::uint64_t body = at + header;
    at = body + length;
    const bool isArtist = id == "TPE1" || id == "TP1";
    const bool isTitle = id == "TIT2" || id == "TT2";
    // 2.3: compression 0x80, encryption 0x40; 2.4: compression 0x08,
    // encryption 0x04, unsynchronisation 0x02, data length 0x01.
    if ((!isArtist && !isTitle) || (version == 3 && (format & 0xC0) != 0) || (version == 4 && (format & 0x0C) != 0)) {
      continue;
    }
    // A text longer than any name is read only as far as a name may go.
    std::string text;
    if (!frames.Read(body, static_cast<std::size_t>(std::min<std::uint64_t>(length, 4096)), text)) break;
    if (version == 4) {
      if ((format & 0x01) != 0) text.erase(0, std::min<std::size_t>(4, text.size()));
      if ((format & 0x02) != 0 || unsynchronised) text = Resync(text);
    }
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
  unsigned char h[4];
  if (!f.Read(0, h, 4) || std::memcmp(h, "fLaC", 4) != 0) return {};
  std::uint64_t at = 4;
  for (int blocks = 0; blocks < 128 && f.Read(at, h, 4); ++blocks) {
    const std::uint32_t length = static_cast<std::uint32_t>(h[1]) << 16 | h[2] << 8 | h[3];
    if ((h[0] & 0x7F) == 4) {
      if (!f.Holds(at + 4, length)) return {};
      return VorbisName(ReadText(f, at + 4, length));
    }
    if ((h[0] & 0x80) != 0) break;  // the last metadata block
    at += 4 + std::uint64_t{length};
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
    unsigned char h[27];
    if (!f.Read(at, h, sizeof h) || std::memcmp(h, "OggS", 4) != 0 || h[4] != 0) return {};
    const std::uint32_t pageSerial = Le32(h + 14);
    if (pages == 0) serial = pageSerial;
    unsigned char lacing[255];
    const std::size_t segments = h[26];
    if (!f.Read(at + 27, lacing, segments)) return {};
    std::uint64_t data = at + 27 + segments;
    if (pageSerial == serial) {
      if (pages == 0) speex = f.Read(data, h, 8) && std::memcmp(h, "Speex   ", 8) == 0;
      for (std::size_t s = 0; s < segments; ++s) {
        if (packetIndex == 1 && packet.size() < kMetadataBytes) {
          std::string piece;
          if (!ReadExact(f, data, lacing[s], piece)) return {};
          packet += piece;
        }
        data += lacing[s];
        if (lacing[s] < 255 && ++packetIndex == 2) {
          const std::string_view p(packet);
          if (p.substr(0, 7) == std::string_view("\x03vorbis", 7)) return VorbisName(p.substr(7));
          if (p.substr(0, 7) == "\x81theora") return VorbisName(p.substr(7));
          if (p.substr(0, 8) == "OpusTags") return VorbisName(p.substr(8));
          return speex ? VorbisName(p) : std::string();
        }
      }
    } else {
      for (std::size_t s = 0; s < segments; ++s) data += lacing[s];
    }
    at = data;
  }
  return {};
}

}  // namespace tessaro::names
