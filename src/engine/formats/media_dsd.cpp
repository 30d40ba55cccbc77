// DSD audio, the 1-bit sound of SACD downloads, in its two files: DSF (a
// header that gives the whole file's size, then "fmt " and "data" chunks and
// an ID3v2 tag where the header points) and DSDIFF (a FRM8 form of chunks
// with 64-bit sizes, big-endian, perhaps followed by an ID3 chunk). Both say
// exactly where they end.

#include <cstring>
#include <string>

#include "engine/formats/format_row.h"
#include "engine/formats/id3.h"
#include "engine/formats/media_checkers.h"

namespace tessaro::formats {

namespace {

constexpr std::uint64_t kDsfHeader = 28;
// Longer "fmt " chunks than the 52 bytes of version 1 would be a later
// version's; none that large is believed.
constexpr std::uint64_t kMostDsfFormat = 4096;
// A DSDIFF form holds a handful of chunks (version, properties, sound,
// comments, markers, edit master); far more is no DSDIFF file.
constexpr int kMostDsdiffChunks = 4096;

bool PrintableId(const unsigned char* id) {
  for (int i = 0; i < 4; ++i) {
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  }
  return true;
}

}  // namespace

// DSF: the "DSD " chunk holds the size of the whole file and where the
// metadata (an ID3v2 tag) lies, 0 when there is none. The sound fills whole
// blocks of every channel in turn, so the data chunk's size is checked
// against the format, and the tag against the file's size.
CheckResult CheckDsf(Fragment& f, const CheckOptions&) {
  unsigned char head[kDsfHeader];
  if (!f.Read(0, head, sizeof head) || std::memcmp(head, "DSD ", 4) != 0 || Le64(head + 4) != kDsfHeader) {
    return Damaged("no DSF header");
  }
  const std::uint64_t total = Le64(head + 12);
  const std::uint64_t metadata = Le64(head + 20);
  unsigned char fmt[52];
  if (!f.Read(kDsfHeader, fmt, sizeof fmt)) return Truncated(total, "ends inside the fmt chunk");
  const std::uint64_t fmtSize = Le64(fmt + 4);
  const std::uint32_t channels = Le32(fmt + 24);
  const std::uint32_t bits = Le32(fmt + 32);
  const std::uint64_t samples = Le64(fmt + 36);
  const std::uint32_t blockSize = Le32(fmt + 44);
  if (std::memcmp(fmt, "fmt ", 4) != 0 || fmtSize < sizeof fmt || fmtSize > kMostDsfFormat) {
    return Damaged("no fmt chunk after the header");
  }
  if (channels == 0 || channels > 6 || (bits != 1 && bits != 8) || blockSize == 0) {
    return Damaged("an impossible format: " + std::to_string(channels) + " channels of " + std::to_string(bits) +
                   " bits in blocks of " + std::to_string(blockSize));
  }
  const std::uint64_t dataAt = kDsfHeader + fmtSize;
  unsigned char data[12];
  if (!f.Read(dataAt, data, sizeof data)) return Truncated(total, "ends before the data chunk");
  const std::uint64_t dataSize = Le64(data + 4);
  if (std::memcmp(data, "data", 4) != 0 || dataSize < 12 || dataSize > UINT64_MAX / 2) {
    return Damaged("no data chunk at " + std::to_string(dataAt));
  }
  const std::uint64_t sound = dataSize - 12;
  const std::uint64_t group = std::uint64_t{blockSize} * channels;
  // The samples of each channel fit its blocks, the last one padded.
  if (sound % group != 0 || samples / 8 * bits > sound / channels) {
    return Damaged("the data chunk's " + std::to_string(sound) + " bytes are not the blocks of " +
                   std::to_string(samples) + " samples");
  }
  const std::uint64_t dataEnd = dataAt + dataSize;
  std::string counted = std::to_string(sound / group) + " of " + std::to_string(channels) + "-channel blocks";
  if (metadata == 0) {
    if (total != dataEnd) return Damaged("the header's file size is not where the data chunk ends");
  } else {
    Id3v2Header tag;
    if (metadata < dataEnd || metadata >= total) return Damaged("the metadata pointer lies outside the file");
    if (!f.Holds(metadata, 10)) return Truncated(total, "ends before the metadata");
    if (!ReadId3v2Header(f, metadata, tag) || tag.End(metadata) > total) {
      return Damaged("no ID3v2 tag where the metadata pointer says, or one past the file's size");
    }
    counted += ", then the ID3v2 tag";
  }
  if (total > f.Size()) return Truncated(total, "the header says " + std::to_string(total) + " bytes");
  return Intact(total, counted + ", to the header's file size");
}

// DSDIFF: "FRM8", the form's 64-bit size, "DSD ", then chunks (id, 64-bit
// size, data, a pad byte to an even size) that fill the form: the version
// first, the properties, the sound ("DSD " or DST-compressed "DST ").
CheckResult CheckDsdiff(Fragment& f, const CheckOptions&) {
  unsigned char head[16];
  if (!f.Read(0, head, sizeof head) || std::memcmp(head, "FRM8", 4) != 0 || std::memcmp(head + 12, "DSD ", 4) != 0) {
    return Damaged("no FRM8 form of DSD");
  }
  const std::uint64_t size = Be64(head + 4);
  if (size < 4 || size > UINT64_MAX / 2) return Damaged("impossible FRM8 size");
  const std::uint64_t end = 12 + size;
  std::uint64_t at = sizeof head;
  int chunks = 0;
  bool properties = false, sound = false;
  while (at < end) {
    unsigned char chunk[12];
    if (end - at < sizeof chunk) return Damaged("a chunk header runs past the FRM8 size at " + std::to_string(at));
    if (!f.Read(at, chunk, sizeof chunk)) return Truncated(end, "ends inside chunk " + std::to_string(chunks + 1));
    const std::uint64_t chunkSize = Be64(chunk + 4);
    if (!PrintableId(chunk) || chunkSize > end - at - sizeof chunk) {
      return Damaged("chunk at " + std::to_string(at) + " runs past the FRM8 size");
    }
    if (chunks == 0 && std::memcmp(chunk, "FVER", 4) != 0) return Damaged("no version chunk first");
    if (++chunks > kMostDsdiffChunks) return Damaged("too many chunks");
    properties = properties || std::memcmp(chunk, "PROP", 4) == 0;
    sound = sound || std::memcmp(chunk, "DSD ", 4) == 0 || std::memcmp(chunk, "DST ", 4) == 0;
    at += sizeof chunk + chunkSize + (chunkSize & 1);
  }
  if (at != end) return Damaged("the last chunk's pad byte runs past the FRM8 size");
  if (!properties || !sound) return Damaged("no properties or no sound chunk");
  if (end > f.Size()) return Truncated(end, "the FRM8 size says " + std::to_string(end) + " bytes");
  // Tag editors that know DSDIFF put their ID3v2 tag in an "ID3 " chunk;
  // some append that chunk after the form without growing the form's size.
  // It belongs to the file.
  unsigned char id3[12];
  Id3v2Header tag;
  if (f.Read(end, id3, sizeof id3) && std::memcmp(id3, "ID3 ", 4) == 0 && Be64(id3 + 4) <= UINT64_MAX / 2 &&
      ReadId3v2Header(f, end + sizeof id3, tag) && tag.End(end + sizeof id3) <= end + sizeof id3 + Be64(id3 + 4)) {
    const std::uint64_t tagEnd = end + sizeof id3 + Be64(id3 + 4) + (Be64(id3 + 4) & 1);
    if (tagEnd > f.Size()) return Truncated(tagEnd, "ends inside the ID3 chunk after the form");
    return Intact(tagEnd, std::to_string(chunks) + " chunks fill the FRM8 size, then an ID3 chunk");
  }
  return Intact(end, std::to_string(chunks) + " chunks fill the FRM8 size");
}

extern const FormatRow kDsfRow{.extensions = {"dsf"}, .checker = CheckDsf};
extern const FormatRow kDsdiffRow{.extensions = {"dff"}, .checker = CheckDsdiff};

}  // namespace tessaro::formats
