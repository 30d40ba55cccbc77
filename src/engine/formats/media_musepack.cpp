// Musepack SV8: "MPCK", then packets, each a key of two capital letters and
// its size (in 7-bit groups, most significant first, the high bit telling
// that more follow), the key and size counted in. The stream header comes
// first, under a CRC-32; the stream end packet ("SE") closes the stream, and
// an APEv2 tag may follow it.
//
// Musepack SV7: "MP+", the version (7, or 0x17 for 7.1), the frame count,
// then a bit stream read as little-endian 32-bit words, most significant bit
// first. It begins at the 8th bit of the 7th word (the top byte is the
// encoder's version); each frame is a 20-bit count of the bits that follow
// it, and after the last frame come 11 bits with its number of valid
// samples. The stream fills whole words; tags may follow.

#include <cstring>
#include <string>

#include "engine/formats/format_row.h"
#include "engine/formats/media_checkers.h"

namespace tessaro::formats {

namespace {

// A size field of more bytes than this would be past any file.
constexpr int kMostSizeBytes = 9;
// A stream header larger than this holds no more than its few numbers.
constexpr std::uint64_t kMostStreamHeader = 64;

// SV7: where the words of the bit stream begin, and the bits of the 7th
// word that still belong to the header.
constexpr std::uint64_t kSv7Words = 24;
constexpr std::uint64_t kSv7FirstBit = 8;
// The fewest bits a frame holds: band 0's resolution in either channel.
constexpr std::uint32_t kSv7LeastFrameBits = 8;
constexpr std::uint64_t kSv7LastFrameBits = 11;

// The byte just past the word that holds bit `bits - 1` of the stream.
std::uint64_t Sv7WordsEnd(std::uint64_t bits) { return kSv7Words + (bits + 31) / 32 * 4; }

CheckResult CheckMusepackSv7(Fragment& f, const unsigned char* header) {
  const std::uint32_t frames = Le32(header + 4);
  if (frames == 0) return Unchecked("a Musepack SV7 stream that counts no frames");
  std::uint64_t bit = kSv7FirstBit;
  for (std::uint32_t i = 0; i < frames; ++i) {
    // The 20-bit count lies in this word, or runs into the next.
    const std::uint64_t word = kSv7Words + bit / 32 * 4;
    const unsigned shift = static_cast<unsigned>(bit % 32);
    unsigned char w[8] = {};
    if (!f.Read(word, w, shift + 20 > 32 ? 8 : 4)) {
      return Truncated(kUnknown, "ends before frame " + std::to_string(i + 1) + " of " + std::to_string(frames));
    }
    const std::uint64_t both = std::uint64_t{Le32(w)} << 32 | Le32(w + 4);
    const auto length = static_cast<std::uint32_t>(both >> (44 - shift) & 0xFFFFF);
    if (length < kSv7LeastFrameBits) return Damaged("frame " + std::to_string(i + 1) + " is shorter than its bands");
    bit += 20 + length;
    if (Sv7WordsEnd(bit) > f.Size()) {
      return Truncated(kUnknown, "ends inside frame " + std::to_string(i + 1) + " of " + std::to_string(frames));
    }
  }
  // The last frame's count of valid samples may begin a word of its own; a
  // tag that begins at that word instead tells that the stream has no such
  // count (its top bits would have been set in place of a tag's letters).
  const std::uint64_t framesEnd = Sv7WordsEnd(bit);
  std::uint64_t end = Sv7WordsEnd(bit + kSv7LastFrameBits);
  if (end != framesEnd && SkipTrailingTags(f, framesEnd) != framesEnd) end = framesEnd;
  const std::string counted = std::to_string(frames) + " frames of version 7";
  if (end > f.Size()) return Truncated(end, counted + ", expected " + std::to_string(end) + " bytes");
  return EndOfCountedAudio(f, end, counted, "MP+");
}

}  // namespace

CheckResult CheckMusepack(Fragment& f, const CheckOptions&) {
  unsigned char magic[4];
  if (!f.Read(0, magic, 4)) return Damaged("no MPCK header");
  if (std::memcmp(magic, "MP+", 3) == 0) {
    // Stream versions before 7 carry no "MP+"; the low digit is the version.
    if ((magic[3] & 0x0F) != 7) return Unchecked("a Musepack stream of an unknown version");
    unsigned char header[kSv7Words];
    if (!f.Read(0, header, sizeof header)) return Truncated(kUnknown, "ends inside the SV7 header");
    return CheckMusepackSv7(f, header);
  }
  if (std::memcmp(magic, "MPCK", 4) != 0) return Damaged("no MPCK header");
  std::uint64_t at = 4;
  std::uint64_t packets = 0;
  for (;;) {
    unsigned char head[2 + kMostSizeBytes];
    const std::size_t got = f.ReadSome(at, head, sizeof head);
    if (got < 3) return Truncated(kUnknown, "ends before the stream end packet");
    if (head[0] < 'A' || head[0] > 'Z' || head[1] < 'A' || head[1] > 'Z') {
      return Damaged("no packet at " + std::to_string(at));
    }
    std::uint64_t size = 0;
    std::size_t used = 2;
    for (;;) {
      if (used == got) return Truncated(kUnknown, "ends inside the size of packet " + std::to_string(packets + 1));
      if (used == sizeof head) return Damaged("an impossible size of packet " + std::to_string(packets + 1));
      size = size << 7 | (head[used] & 0x7F);
      if ((head[used++] & 0x80) == 0) break;
    }
    if (size < used) return Damaged("packet " + std::to_string(packets + 1) + " is shorter than its own header");
    const bool first = packets++ == 0;
    if (first) {
      // The stream header: its CRC-32 covers what follows the CRC.
      if (std::memcmp(head, "SH", 2) != 0) return Damaged("no stream header first");
      if (size < used + 5 || size > kMostStreamHeader) return Damaged("an impossible stream header size");
      unsigned char sh[kMostStreamHeader];
      if (!f.Read(at, sh, static_cast<std::size_t>(size))) return Truncated(kUnknown, "ends inside the stream header");
      if (Crc32(0, sh + used + 4, static_cast<std::size_t>(size) - used - 4) != Be32(sh + used)) {
        return Damaged("the stream header's CRC does not match");
      }
    }
    if (!f.Holds(at, size)) return Truncated(kUnknown, "ends inside packet " + std::to_string(packets));
    at += size;
    if (std::memcmp(head, "SE", 2) == 0) break;
  }
  return EndOfCountedAudio(f, at, std::to_string(packets) + " packets to the stream end", "MPCK");
}

extern const FormatRow kMusepackRow{.extensions = {"mpc"}, .checker = CheckMusepack};

}  // namespace tessaro::formats
