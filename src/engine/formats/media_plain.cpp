// Plainly laid out files: YUV4MPEG2 (frames of the size the header's picture
// gives) and uncompressed SWF (the file's length in its header, and tags up
// to the End tag).

#include <cstring>
#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

// The value of the YUV4MPEG2 header parameter starting with `letter`, as a
// number, or 0.
std::uint64_t Y4mNumber(const std::string& header, char letter) {
  const std::size_t at = header.find(std::string(" ") + letter);
  if (at == std::string::npos) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = at + 2; i < header.size() && header[i] >= '0' && header[i] <= '9' && value < 1000000; ++i) {
    value = value * 10 + static_cast<std::uint64_t>(header[i] - '0');
  }
  return value;
}

// The bytes of one picture of `width` × `height` in colour space `c`, or 0
// for a colour space not known here.
std::uint64_t Y4mFrameBytes(std::uint64_t width, std::uint64_t height, const std::string& c) {
  const std::uint64_t luma = width * height;
  const std::uint64_t halfW = (width + 1) / 2, halfH = (height + 1) / 2;
  std::uint64_t samples = 0;
  // "420p10", "monop16": more than 8 bits a sample take two bytes.
  std::string base = c;
  std::uint64_t bytesPerSample = 1;
  const std::size_t p = c.rfind('p');
  if (p != std::string::npos && p + 1 < c.size() && c.find_first_not_of("0123456789", p + 1) == std::string::npos) {
    base = c.substr(0, p);
    bytesPerSample = 2;
  }
  if (base == "420" || base == "420jpeg" || base == "420paldv" || base == "420mpeg2") samples = luma + 2 * halfW * halfH;
  else if (base == "411") samples = luma + 2 * ((width + 3) / 4) * height;
  else if (base == "422") samples = luma + 2 * halfW * height;
  else if (base == "444") samples = 3 * luma;
  else if (base == "444alpha") samples = 4 * luma;
  else if (base == "mono") samples = luma;
  return samples * bytesPerSample;
}

}  // namespace

CheckResult CheckY4m(Fragment& f, const CheckOptions&) {
  char line[1024];
  const std::size_t got = f.ReadSome(0, line, sizeof line);
  const char* newline = static_cast<const char*>(std::memchr(line, '\n', got));
  if (got < 10 || std::memcmp(line, "YUV4MPEG2 ", 10) != 0) return Damaged("no YUV4MPEG2 header");
  if (newline == nullptr) return got == sizeof line ? Unchecked("a header too long") : Truncated(kUnknown, "ends inside the header");
  const std::string header(line, static_cast<std::size_t>(newline - line));
  std::string colour = "420jpeg";
  const std::size_t c = header.find(" C");
  if (c != std::string::npos) colour = header.substr(c + 2, header.find(' ', c + 2) - (c + 2));
  const std::uint64_t frameBytes = Y4mFrameBytes(Y4mNumber(header, 'W'), Y4mNumber(header, 'H'), colour);
  if (frameBytes == 0) return Unchecked("a picture size or colour space not known here");
  std::uint64_t at = header.size() + 1;
  std::uint64_t frames = 0;
  for (;;) {
    char frame[256];
    const std::size_t n = f.ReadSome(at, frame, sizeof frame);
    if (n < 5 || std::memcmp(frame, "FRAME", 5) != 0) {
      if (n > 0 && n < 5 && std::memcmp(frame, "FRAME", n) == 0) return Truncated(kUnknown, "ends inside a frame header");
      break;
    }
    const char* end = static_cast<const char*>(std::memchr(frame, '\n', n));
    if (end == nullptr) return n == sizeof frame ? Damaged("a frame header without its end") : Truncated(kUnknown, "ends inside a frame header");
    const std::uint64_t data = at + static_cast<std::uint64_t>(end - frame) + 1;
    if (!f.Holds(data, frameBytes)) return Truncated(kUnknown, "ends inside frame " + std::to_string(frames + 1));
    at = data + frameBytes;
    ++frames;
  }
  if (frames == 0) return Truncated(kUnknown, "no frame");
  return EndOfUncountedChain(f, at, std::to_string(frames) + " frames", "YUV4MPEG2");
}

CheckResult CheckSwf(Fragment& f, const CheckOptions&) {
  unsigned char head[8];
  if (!f.Read(0, head, 8) || std::memcmp(head + 1, "WS", 2) != 0) return Damaged("no SWF header");
  // Compressed files give the length the file has once uncompressed; where
  // the compressed data ends only decompressing it would tell.
  if (head[0] == 'C' || head[0] == 'Z') return Unchecked("a compressed SWF");
  if (head[0] != 'F') return Damaged("no SWF header");
  const std::uint64_t declared = Le32(head + 4);
  // The frame's rectangle (its bit count in the first five bits), the frame
  // rate and count, then tags up to the End tag.
  unsigned char rect[1];
  if (!f.Read(8, rect, 1)) return Truncated(declared, "ends inside the header");
  const std::uint64_t bits = 5 + 4 * static_cast<std::uint64_t>(rect[0] >> 3);
  std::uint64_t at = 8 + (bits + 7) / 8 + 4;
  std::uint64_t tags = 0;
  for (;;) {
    unsigned char tag[6];
    if (!f.Read(at, tag, 2)) return Truncated(declared, "ends inside the header of tag " + std::to_string(tags + 1));
    const unsigned code = Le16(tag) >> 6;
    std::uint64_t length = Le16(tag) & 0x3F;
    std::uint64_t headerSize = 2;
    if (length == 0x3F) {
      if (!f.Read(at, tag, 6)) return Truncated(declared, "ends inside the header of tag " + std::to_string(tags + 1));
      length = Le32(tag + 2);
      headerSize = 6;
    }
    at += headerSize + length;
    ++tags;
    if (at > declared) {
      return at > f.Size() && declared > f.Size() ? Truncated(declared, "expected " + std::to_string(declared) + " bytes")
                                                  : Damaged("tag " + std::to_string(tags) + " runs past the file length");
    }
    if (code == 0) break;
  }
  if (at != declared) return Damaged("the End tag is not at the file length the header gives");
  return Intact(at, std::to_string(tags) + " tags up to the End tag, at the file length the header gives");
}

extern const FormatRow kSwfRow{.extensions = {"swf"}, .checker = CheckSwf};
extern const FormatRow kY4mRow{.extensions = {"y4m"}, .checker = CheckY4m, .knowsWhenCut = false};

}  // namespace tessaro::formats
