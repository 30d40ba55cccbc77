// Ogg (Vorbis, Opus, Speex, Theora, FLAC in Ogg): pages ("OggS", a header
// with the stream's serial number and a CRC-32, a table of segment lengths,
// the segments) from the first byte until every logical stream begun has had
// its end-of-stream page. Every page's CRC is checked.

#include <cstring>
#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"
#include "engine/formats/ogg_pages.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats {

namespace {

// Streams open at once in one file; more than a handful is not a real file.
constexpr int kMaxStreams = 32;

}  // namespace

CheckResult CheckOgg(Fragment& f, const CheckOptions&) {
  std::uint32_t serials[kMaxStreams];
  bool ended[kMaxStreams] = {};
  int streams = 0;
  int open = 0;
  std::uint64_t at = 0;
  std::uint64_t pages = 0;
  for (;;) {
    OggPage page;
    const OggRead read = ReadOggPage(f, at, page);
    if (read == OggRead::kCutHeader) {
      return Truncated(kUnknown, "ends inside the header of page " + std::to_string(pages + 1));
    }
    if (read == OggRead::kNoPage) {
      return Damaged("no Ogg page at " + std::to_string(at) + " (page " + std::to_string(pages + 1) + ")");
    }
    const OggCrc crc = read == OggRead::kOk ? CheckOggCrc(f, at, page) : OggCrc::kCut;
    if (crc == OggCrc::kCut) return Truncated(kUnknown, "ends inside page " + std::to_string(pages + 1));
    if (crc == OggCrc::kWrong) {
      return Damaged("the CRC of page " + std::to_string(pages + 1) + " at " + std::to_string(at) + " does not match");
    }
    const std::uint32_t serial = page.serial;
    const unsigned flags = page.flags;
    int stream = 0;
    while (stream < streams && serials[stream] != serial) ++stream;
    if ((flags & 2) != 0) {
      // A stream begins: all of a file's streams begin before any data page.
      if (stream < streams) return Damaged("stream " + std::to_string(serial) + " begins twice");
      if (streams == kMaxStreams) return Unchecked("too many logical streams");
      serials[streams] = serial;
      ended[streams] = false;
      ++streams;
      ++open;
    } else if (stream == streams || ended[stream]) {
      return Damaged("page " + std::to_string(pages + 1) + " belongs to no open stream");
    }
    ++pages;
    at += page.Length();
    if ((flags & 4) != 0) {
      ended[stream] = true;
      if (--open == 0) break;
    }
  }
  // Chained files go on with a new set of streams; another Ogg file in the
  // slack looks the same, so a page right at the end leaves the end unsure.
  unsigned char next[4];
  if (f.Read(at, next, 4) && std::memcmp(next, "OggS", 4) == 0) {
    return Unchecked("another Ogg stream follows at once at " + std::to_string(at) + ": chained, or slack");
  }
  return Intact(at, std::to_string(pages) + " pages, every CRC right, " + std::to_string(streams) +
                        (streams == 1 ? " stream ended" : " streams ended"));
}

extern const FormatRow kOggRow{

    .extensions = {"oga", "ogg", "ogv", "opus", "spx"},
    .checker = CheckOgg,
    .nameReader = names::OggName,
    .checksEveryByte = true
};

}  // namespace tessaro::formats
