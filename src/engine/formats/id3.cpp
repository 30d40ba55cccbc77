// ID3v2 tags, read for the sound checkers and the name reader alike.

#include "engine/formats/id3.h"

#include <algorithm>
#include <cstring>

namespace tessaro::formats {

std::string Resync(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out += bytes[i];
    if (static_cast<unsigned char>(bytes[i]) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == '\0') ++i;
  }
  return out;
}

bool ReadId3v2Header(Fragment& f, std::uint64_t at, Id3v2Header& header) {
  unsigned char h[10];
  if (!f.Read(at, h, sizeof h) || std::memcmp(h, "ID3", 3) != 0) return false;
  header.version = h[3];
  header.revision = h[4];
  header.flags = h[5];
  header.syncsafe = ((h[6] | h[7] | h[8] | h[9]) & 0x80) == 0;
  header.size = Syncsafe(h + 6);
  return true;
}

std::uint64_t AppendedId3v2End(Fragment& f, std::uint64_t at) {
  unsigned char header[10];
  unsigned char footer[10];
  if (!f.Read(at, header, sizeof header) || std::memcmp(header, "ID3", 3) != 0) return kUnknown;
  const bool syncsafe = ((header[6] | header[7] | header[8] | header[9]) & 0x80) == 0;
  if (header[3] != 4 || header[4] == 0xFF || (header[5] & 0x10) == 0 || !syncsafe) return kUnknown;
  const std::uint64_t end = at + 10 + Syncsafe(header + 6) + 10;
  if (!f.Read(end - 10, footer, sizeof footer) || std::memcmp(footer, "3DI", 3) != 0 ||
      std::memcmp(footer + 3, header + 3, 7) != 0) {
    return kUnknown;
  }
  return end;
}

bool Id3v2Frames::Open() {
  if (!ReadId3v2Header(f_, 0, header_)) return false;
  const unsigned version = header_.version;
  if (version < 2 || version > 4 || !header_.syncsafe) return false;
  if (!f_.Holds(10, header_.size)) return false;
  whole_ = (header_.flags & 0x80) != 0 && version < 4;
  size_ = header_.size;
  if (whole_) {
    // What the fragment holds of the tag, up to the bound; ReadSome keeps
    // the allocation to what was read.
    tag_.assign(std::min<std::size_t>(header_.size, maxBytes_), '\0');
    tag_.resize(f_.ReadSome(10, tag_.data(), tag_.size()));
    tag_ = Resync(tag_);
    size_ = tag_.size();
  }
  at_ = 0;
  frames_ = 0;
  if ((header_.flags & 0x40) != 0 && version >= 3) {  // an extended header
    std::string bytes;
    if (!Read(0, 4, bytes)) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    at_ = version == 3 ? 4 + std::uint64_t{Be32(p)} : Syncsafe(p);
  }
  return true;
}

bool Id3v2Frames::Next(Id3v2Frame& frame) {
  const unsigned version = header_.version;
  const std::size_t header = version == 2 ? 6 : 10;
  if (frames_ >= 4096 || at_ + header > size_) return false;
  ++frames_;
  std::string bytes;
  if (!Read(at_, header, bytes)) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (p[0] == 0) return false;  // padding
  const std::size_t idLength = version == 2 ? 3 : 4;
  std::memcpy(id_, p, idLength);
  const std::uint64_t length = version == 2 ? Be24(p + 3) : version == 3 ? Be32(p + 4) : Syncsafe(p + 4);
  if (length > size_ - at_ - header) return false;
  frame.id = std::string_view(id_, idLength);
  frame.format = version == 2 ? 0 : p[9];
  frame.body = at_ + header;
  frame.length = length;
  at_ = frame.body + length;
  return true;
}

bool Id3v2Frames::Opaque(const Id3v2Frame& frame) const {
  // 2.3: compression 0x80, encryption 0x40; 2.4: compression 0x08,
  // encryption 0x04.
  return (header_.version == 3 && (frame.format & 0xC0) != 0) || (header_.version == 4 && (frame.format & 0x0C) != 0);
}

bool Id3v2Frames::Body(const Id3v2Frame& frame, std::size_t n, std::string& out) {
  if (!Read(frame.body, static_cast<std::size_t>(std::min<std::uint64_t>(frame.length, n)), out)) return false;
  if (header_.version == 4) {
    // 2.4: a data length field (0x01) comes first; unsynchronisation (0x02)
    // may be the frame's own or the whole tag's.
    if ((frame.format & 0x01) != 0) out.erase(0, std::min<std::size_t>(4, out.size()));
    if ((frame.format & 0x02) != 0 || (header_.flags & 0x80) != 0) out = Resync(out);
  }
  return true;
}

bool Id3v2Frames::Read(std::uint64_t at, std::size_t n, std::string& out) {
  if (!whole_) {
    out.assign(n, '\0');
    return n <= maxBytes_ && f_.Read(10 + at, out.data(), n);
  }
  if (at > tag_.size() || n > tag_.size() - at) return false;
  out.assign(tag_, static_cast<std::size_t>(at), n);
  return true;
}

}  // namespace tessaro::formats
