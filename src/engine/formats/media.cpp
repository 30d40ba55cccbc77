// Sound and video: where each format's structure says the file ends.

#include <cstring>

#include "engine/formats/id3.h"
#include "engine/formats/media_checkers.h"

namespace tessaro::formats {

std::uint16_t Crc16(std::uint16_t crc, const unsigned char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ p[i] << 8);
    for (int k = 0; k < 8; ++k) crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
  }
  return crc;
}

// The end of the tags after the frames (APEv2 with a header, ID3v1), or `at`.
std::uint64_t SkipTrailingTags(Fragment& f, std::uint64_t at) {
  unsigned char ape[32];
  if (f.Read(at, ape, sizeof ape) && std::memcmp(ape, "APETAGEX", 8) == 0 && (ape[23] & 0x20) != 0 &&
      Le32(ape + 12) >= 32) {
    // A header: the size counts the items and the footer, not the header.
    const std::uint64_t end = at + 32 + Le32(ape + 12);
    unsigned char footer[8];
    if (f.Read(end - 32, footer, 8) && std::memcmp(footer, "APETAGEX", 8) == 0) at = end;
  }
  unsigned char id3v1[3];
  if (f.Holds(at, 128) && f.Read(at, id3v1, 3) && std::memcmp(id3v1, "TAG", 3) == 0) at += 128;
  return at;
}

bool SkipId3v2(Fragment& f, std::uint64_t& at, int& tags) {
  for (Id3v2Header tag; ReadId3v2Header(f, at, tag); ++tags) {
    if (tag.version == 0xFF || tag.revision == 0xFF || !tag.syncsafe) return false;
    at = tag.End(at);
  }
  return true;
}

bool SlackOrAnother(Fragment& f, std::uint64_t end, const char* nextFile) {
  unsigned char next[16] = {};
  const std::size_t got = f.ReadSome(end, next, sizeof next);
  const std::size_t magic = nextFile != nullptr ? std::strlen(nextFile) : 0;
  return ZeroBytes(f, end, got) || (magic > 0 && got >= magic && std::memcmp(next, nextFile, magic) == 0);
}

CheckResult EndOfCountedAudio(Fragment& f, std::uint64_t end, const std::string& counted, const char* nextFile) {
  const std::uint64_t tagsEnd = SkipTrailingTags(f, end);
  if (tagsEnd == f.Size() || SlackOrAnother(f, tagsEnd, nextFile)) {
    return Intact(tagsEnd, counted + (tagsEnd != end ? ", then its tags" : ""));
  }
  return Unchecked(counted + ", then data that is neither a tag nor slack at " + std::to_string(tagsEnd));
}

CheckResult EndOfUncountedChain(Fragment& f, std::uint64_t end, const std::string& counted, const char* nextFile) {
  if (end == f.Size()) {
    // A disk check's head is whole sectors; a chain that stops where such a
    // fragment stops may go on in the next cluster.
    if (EndsOnSector(f)) return Unchecked(counted + ", ending where the fragment ends");
    return Intact(end, counted + ", the fragment ends after the last");
  }
  // What follows must be certainly no part of this file: zeros, or the start
  // of another file of its kind.
  if (SlackOrAnother(f, end, nextFile)) return Intact(end, counted + ", then slack");
  return Unchecked(counted + ", then data that is neither part of it nor slack at " + std::to_string(end));
}

}  // namespace tessaro::formats
