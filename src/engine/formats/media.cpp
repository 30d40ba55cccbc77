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

namespace {

// Tags may lie after the audio in any order, one each at most; the loop over
// them stops long before this.
constexpr int kMostTrailingTags = 8;
// An APE tag's items, walked one by one to the footer.
constexpr int kMostApeItems = 4096;
// Lyrics3v2 ends where its size says; lyrics that happen to hold its end
// mark are passed over, a few times at most.
constexpr int kMostLyricsMarks = 16;

// An APEv2 (or v1) tag at `at`: a 32-byte header when its flags say so, the
// items, then the 32-byte footer, whose size counts the items and the footer.
// Without a header the footer is reached by walking the items (value size,
// flags, a key of printable ASCII and its NUL, the value), so the tag is
// found from its start as a reader finds it from the file's end. kUnknown
// when no whole tag lies at `at`.
std::uint64_t ApeTagEnd(Fragment& f, std::uint64_t at) {
  unsigned char ape[32];
  if (!f.Read(at, ape, sizeof ape)) return kUnknown;
  if (std::memcmp(ape, "APETAGEX", 8) == 0) {
    if ((ape[23] & 0x20) == 0 || Le32(ape + 12) < 32) return kUnknown;
    const std::uint64_t end = at + 32 + Le32(ape + 12);
    unsigned char footer[8];
    return f.Read(end - 32, footer, 8) && std::memcmp(footer, "APETAGEX", 8) == 0 ? end : kUnknown;
  }
  std::uint64_t item = at;
  for (std::uint32_t items = 0; items < kMostApeItems; ++items) {
    unsigned char head[8 + 256];
    const std::size_t got = f.ReadSome(item, head, sizeof head);
    if (got >= 32 && std::memcmp(head, "APETAGEX", 8) == 0) {
      // The footer of a tag without a header: its size and count must be
      // those of the items walked.
      const bool fits =
          (head[23] & 0xA0) == 0 && items > 0 && Le32(head + 12) == item + 32 - at && Le32(head + 16) == items;
      return fits ? item + 32 : kUnknown;
    }
    // Item flags: read-only and the content type; the rest are reserved.
    if (got < 11 || (Le32(head + 4) & 0x1FFFFFF8u) != 0) return kUnknown;
    std::size_t key = 8;
    while (key < got && head[key] >= 0x20 && head[key] <= 0x7E) ++key;
    if (key == got || head[key] != 0 || key - 8 < 2) return kUnknown;
    const std::uint64_t length = key + 1 + std::uint64_t{Le32(head)};
    if (!f.Holds(item, length)) return kUnknown;
    item += length;
  }
  return kUnknown;
}

// A Lyrics3 block at `at`: "LYRICSBEGIN" and fields, ending in version 2
// with the block's size in six digits and "LYRICS200"; in version 1 with
// "LYRICSEND" after at most 5100 bytes of lyrics, and then always an ID3v1
// tag, which is how readers find it. kUnknown when none is whole there.
std::uint64_t Lyrics3End(Fragment& f, std::uint64_t at) {
  unsigned char begin[11];
  if (!f.Read(at, begin, sizeof begin) || std::memcmp(begin, "LYRICSBEGIN", 11) != 0) return kUnknown;
  const std::uint64_t limit = at + 999999 + 15;
  std::uint64_t from = at + 11;
  for (int marks = 0; marks < kMostLyricsMarks && from < limit; ++marks) {
    const std::uint64_t end = FindBytes(f, from, limit, "LYRICS200", 9);
    if (end == kUnknown) break;
    unsigned char digits[6];
    if (end >= at + 17 && f.Read(end - 6, digits, 6)) {
      std::uint64_t size = 0;
      bool number = true;
      for (const unsigned char d : digits) {
        number = number && d >= '0' && d <= '9';
        size = size * 10 + (d - '0');
      }
      if (number && size == end - 6 - at) return end + 9;
    }
    from = end + 1;
  }
  const std::uint64_t end = FindBytes(f, at + 11, at + 11 + 5100 + 9, "LYRICSEND", 9);
  unsigned char tag[3];
  if (end != kUnknown && f.Holds(end + 9, 128) && f.Read(end + 9, tag, 3) && std::memcmp(tag, "TAG", 3) == 0) {
    return end + 9;
  }
  return kUnknown;
}

}  // namespace

// The end of the tags after the frames, or `at`: an appended ID3v2.4 tag with
// its footer, an APE tag, a Lyrics3 block, in whatever order writers put them,
// and last an ID3v1 tag (with an Enhanced "TAG+" block before it). Each is
// taken only whole and in its exact layout, so slack after the last (zeros,
// an older file) never extends it.
std::uint64_t SkipTrailingTags(Fragment& f, std::uint64_t at) {
  for (int tags = 0; tags < kMostTrailingTags; ++tags) {
    std::uint64_t end = AppendedId3v2End(f, at);
    // A tag with a footer has no padding, so one followed at once by an
    // MPEG audio frame is the tag in front of the next file's sound.
    unsigned char sync[2];
    if (end != kUnknown && f.Read(end, sync, 2) && sync[0] == 0xFF && (sync[1] & 0xE0) == 0xE0) end = kUnknown;
    if (end == kUnknown) end = ApeTagEnd(f, at);
    if (end == kUnknown) end = Lyrics3End(f, at);
    if (end == kUnknown) break;
    at = end;
  }
  unsigned char id3v1[4];
  if (f.Holds(at, 227 + 128) && f.Read(at, id3v1, 4) && std::memcmp(id3v1, "TAG+", 4) == 0) {
    unsigned char next[3];
    if (f.Read(at + 227, next, 3) && std::memcmp(next, "TAG", 3) == 0) return at + 227 + 128;
  }
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
