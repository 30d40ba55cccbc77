// Files of typed blocks with their own lengths: Creative Voice (blocks to the
// terminator block) and RealMedia (chunks after the .RMF header, the DATA
// chunk's counted packets, the index chain).

#include <cstring>
#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

bool KnownRealChunk(const unsigned char* id) {
  static const char* const kIds[] = {"PROP", "MDPR", "CONT", "DATA", "INDX", "RMMD"};
  for (const char* known : kIds) {
    if (std::memcmp(id, known, 4) == 0) return true;
  }
  return false;
}

// The end of the `count` packets of a DATA chunk from `at`, 0 when one is
// impossible, kUnknown when the fragment ends inside one.
std::uint64_t SkipRealPackets(Fragment& f, std::uint64_t at, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    unsigned char p[4];
    if (!f.Read(at, p, sizeof p)) return kUnknown;
    const std::uint16_t version = Be16(p), length = Be16(p + 2);
    if (version > 1 || length < 12u + version) return 0;
    if (!f.Holds(at, length)) return kUnknown;
    at += length;
  }
  return at;
}

}  // namespace

// VOC: "Creative Voice File", 0x1A, the header's size, a version and its
// check (the version's complement plus 0x1234), then blocks of a type byte
// and a 24-bit length, up to the terminator, a lone type byte 0.
CheckResult CheckVoc(Fragment& f, const CheckOptions&) {
  unsigned char h[26];
  if (!f.Read(0, h, sizeof h) || std::memcmp(h, "Creative Voice File\x1A", 20) != 0) return Damaged("no VOC header");
  if (Le16(h + 24) != static_cast<std::uint16_t>(~Le16(h + 22) + 0x1234)) return Damaged("the version's check does not match");
  std::uint64_t at = Le16(h + 20);
  if (at < sizeof h) return Damaged("impossible header size");
  for (std::uint64_t blocks = 0;; ++blocks) {
    unsigned char b[4];
    const std::size_t got = f.ReadSome(at, b, sizeof b);
    const std::string counted = std::to_string(blocks) + (blocks == 1 ? " block" : " blocks");
    if (got == 0) return Truncated(kUnknown, "ends after " + counted + ", before the terminator block");
    if (b[0] == 0) return Intact(at + 1, counted + " to the terminator block");
    // A writer that leaves the terminator out is followed by whatever the
    // disk holds: the end is unsure.
    if (b[0] > 9) return Unchecked(counted + ", then no block at " + std::to_string(at));
    const std::uint64_t length = Le24(b + 1);
    if (got < sizeof b || !f.Holds(at + 4, length)) return Truncated(kUnknown, "ends inside block " + std::to_string(blocks + 1));
    const bool sound16 = b[0] == 9;
    at += 4 + length;
    // SoX gives a 16-bit sound block (type 9) a length 8 bytes short: its
    // terminator lies 8 bytes on. Where the stated end holds no block and
    // the terminator stands 8 bytes on, before slack, that is the end; the
    // longer end is taken even after a true terminator, as what it adds is
    // then slack.
    unsigned char next = 0, late = 0;
    if (sound16 && f.ReadSome(at, &next, 1) == 1 && (next == 0 || next > 9) && f.ReadSome(at + 8, &late, 1) == 1 &&
        late == 0 && (at + 9 == f.Size() || SlackOrAnother(f, at + 9, "Creative Voice"))) {
      return Intact(at + 9, std::to_string(blocks + 1) + " blocks to the terminator (SoX's short length)");
    }
  }
}

// RealMedia: the .RMF header chunk, then chunks of an id, a 32-bit size and a
// version. The DATA chunk counts its packets (each with its length), which
// say where it ends better than its size does (ffmpeg's is ten bytes long);
// PROP gives where the index is, and each INDX the next one's offset.
CheckResult CheckRealMedia(Fragment& f, const CheckOptions&) {
  unsigned char c[20];
  if (!f.Read(0, c, 10) || std::memcmp(c, ".RMF", 4) != 0) return Damaged("no .RMF header");
  std::uint64_t at = Be32(c + 4);
  if (at < 10) return Damaged("impossible .RMF header size");
  std::uint64_t indexAt = 0, nextIndex = 0, chunks = 1;
  bool data = false;
  for (;;) {
    const std::size_t got = f.ReadSome(at, c, sizeof c);
    if (got < 10 || !KnownRealChunk(c)) break;
    const std::uint32_t size = Be32(c + 4);
    const std::string where = std::string(reinterpret_cast<const char*>(c), 4) + " chunk at " + std::to_string(at);
    if (size < 10) return Damaged("an impossible size of the " + where);
    if (std::memcmp(c, "PROP", 4) == 0) {
      unsigned char prop[4];
      if (size < 50 || !f.Read(at + 38, prop, 4)) return Truncated(kUnknown, "ends inside the " + where);
      indexAt = Be32(prop);
    }
    if (std::memcmp(c, "INDX", 4) == 0) {
      if (got < sizeof c) return Truncated(kUnknown, "ends inside the " + where);
      nextIndex = Be32(c + 16);
      if (nextIndex != 0 && nextIndex < at + size) return Damaged("the " + where + " points back");
    }
    ++chunks;
    if (std::memcmp(c, "DATA", 4) == 0) {
      data = true;
      if (got < 18) return Truncated(kUnknown, "ends inside the " + where);
      if (Be32(c + 10) > 0) {
        const std::uint64_t end = SkipRealPackets(f, at + 18, Be32(c + 10));
        if (end == kUnknown) return Truncated(kUnknown, "ends inside the packets of the " + where);
        if (end == 0) return Damaged("an impossible packet in the " + where);
        at = end;
        continue;
      }
    }
    if (!f.Holds(at, size)) return Truncated(kUnknown, "ends inside the " + where);
    at += size;
  }
  const std::string counted = std::to_string(chunks) + " chunks";
  if (!data) return Truncated(kUnknown, counted + " and no DATA chunk");
  if ((nextIndex != 0 && nextIndex >= at) || (indexAt != 0 && indexAt >= at)) {
    const std::uint64_t missing = nextIndex >= at ? nextIndex : indexAt;
    if (missing >= f.Size()) return Truncated(kUnknown, "the index at " + std::to_string(missing) + " lies beyond the fragment");
    return Damaged("no index chunk at " + std::to_string(missing) + ", where the file says");
  }
  // ffmpeg closes the file with eight zero bytes, an empty chunk header.
  unsigned char tail[8];
  const std::size_t got = f.ReadSome(at, tail, sizeof tail);
  if (got > 0 && ZeroBytes(f, at, got)) {
    if (got < sizeof tail) return Truncated(kUnknown, "ends inside the closing empty chunk header");
    at += sizeof tail;
  }
  return EndOfUncountedChain(f, at, counted, ".RMF");
}

extern const FormatRow kVocRow{.extensions = {"voc"}, .checker = CheckVoc};
extern const FormatRow kRealMediaRow{.extensions = {"rm"}, .checker = CheckRealMedia};

}  // namespace tessaro::formats
