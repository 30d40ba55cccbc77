// FLAC: "fLaC", metadata blocks (the first is STREAMINFO with the stream's
// total samples), then audio frames. A frame's header has a CRC-8 and the
// whole frame a CRC-16, but nothing gives a frame's length: the subframes are
// decoded just far enough to know where each ends (their Rice-coded
// residuals), so the end is exact even when another FLAC lies in the slack.

#include <cstring>
#include <string>

#include "engine/formats/byte_reader.h"
#include "engine/formats/flac_blocks.h"
#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats {

namespace {

// Bits read most significant first from the fragment, a byte at a time from
// a buffered reader.
class BitReader {
 public:
  BitReader(Fragment& f, std::uint64_t byte) : f_(f), bytes_(f, byte), bit_(byte * 8) {}

  // Up to 32 bits; false past the fragment's end.
  bool Bits(unsigned n, std::uint32_t& value) {
    value = 0;
    for (unsigned i = 0; i < n; ++i) {
      int b = Bit();
      if (b < 0) return false;
      value = value << 1 | static_cast<std::uint32_t>(b);
    }
    return true;
  }
  bool Skip(std::uint64_t n) {
    bit_ += n;
    return f_.Holds(0, (bit_ + 7) / 8);
  }
  // Zeros up to a one bit (a Rice code's quotient); false past the end.
  bool Unary(std::uint32_t& count) {
    count = 0;
    for (;;) {
      const int b = Bit();
      if (b < 0) return false;
      if (b == 1) return true;
      if (++count == 0) return false;
    }
  }
  std::uint64_t ByteAligned() const { return (bit_ + 7) / 8; }

 private:
  int Bit() {
    const std::uint64_t byte = bit_ / 8;
    if (byte != current_) {
      bytes_.Seek(byte);
      const int c = bytes_.Next();
      if (c < 0) return -1;
      value_ = static_cast<unsigned>(c);
      current_ = byte;
    }
    const int b = value_ >> (7 - bit_ % 8) & 1;
    ++bit_;
    return b;
  }
  Fragment& f_;
  ByteReader bytes_;
  std::uint64_t bit_;
  std::uint64_t current_ = kUnknown;  // the byte `value_` holds
  unsigned value_ = 0;
};

unsigned char Crc8(const unsigned char* p, std::size_t n) {
  unsigned crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 0x80) ? ((crc << 1) ^ 0x07) & 0xFF : (crc << 1) & 0xFF;
  }
  return static_cast<unsigned char>(crc);
}

// Skips a residual of `samples` samples of a block of `blockSize` with
// `order` warm-up samples; false when it is broken or runs past the end.
bool SkipResidual(BitReader& r, std::uint32_t blockSize, std::uint32_t order) {
  std::uint32_t method, partitionOrder;
  if (!r.Bits(2, method) || method > 1 || !r.Bits(4, partitionOrder)) return false;
  const unsigned paramBits = method == 0 ? 4 : 5;
  const std::uint32_t escape = method == 0 ? 15 : 31;
  const std::uint32_t partitions = 1u << partitionOrder;
  if ((blockSize & (partitions - 1)) != 0 || (blockSize >> partitionOrder) < order) return false;
  for (std::uint32_t p = 0; p < partitions; ++p) {
    std::uint32_t samples = (blockSize >> partitionOrder) - (p == 0 ? order : 0);
    std::uint32_t param;
    if (!r.Bits(paramBits, param)) return false;
    if (param == escape) {
      std::uint32_t raw;
      if (!r.Bits(5, raw) || !r.Skip(std::uint64_t{raw} * samples)) return false;
      continue;
    }
    for (std::uint32_t i = 0; i < samples; ++i) {
      std::uint32_t q;
      if (!r.Unary(q) || !r.Skip(param)) return false;
    }
  }
  return true;
}

bool SkipSubframe(BitReader& r, std::uint32_t blockSize, std::uint32_t bps) {
  std::uint32_t pad, type, wasted;
  if (!r.Bits(1, pad) || pad != 0 || !r.Bits(6, type) || !r.Bits(1, wasted)) return false;
  if (wasted != 0) {
    std::uint32_t k;
    if (!r.Unary(k) || k + 1 >= bps) return false;
    bps -= k + 1;
  }
  if (type == 0) return r.Skip(bps);
  if (type == 1) return r.Skip(std::uint64_t{bps} * blockSize);
  if (type >= 8 && type <= 12) {
    const std::uint32_t order = type - 8;
    return order <= blockSize && r.Skip(std::uint64_t{bps} * order) && SkipResidual(r, blockSize, order);
  }
  if (type >= 32) {
    const std::uint32_t order = type - 31;
    std::uint32_t precision, shift;
    if (order > blockSize || !r.Skip(std::uint64_t{bps} * order) || !r.Bits(4, precision) || precision == 15 ||
        !r.Bits(5, shift) || !r.Skip(std::uint64_t{precision + 1} * order)) {
      return false;
    }
    return SkipResidual(r, blockSize, order);
  }
  return false;
}

struct Frame {
  std::uint32_t blockSize = 0;
  std::uint64_t end = 0;
};

// Reads the frame at `at`: "" when whole and its CRCs right, else why not.
std::string ReadFrame(Fragment& f, std::uint64_t at, std::uint32_t streamBps, Frame& frame, bool& cut) {
  cut = false;
  unsigned char h[16];
  const std::size_t got = f.ReadSome(at, h, sizeof h);
  if (got < 6) return cut = true, "ends inside a frame header";
  if (h[0] != 0xFF || (h[1] & 0xFE) != 0xF8) return "no frame sync";
  const unsigned sizeCode = h[2] >> 4, rateCode = h[2] & 15, channelCode = h[3] >> 4, bpsCode = (h[3] >> 1) & 7;
  if (sizeCode == 0 || rateCode == 15 || channelCode > 10 || bpsCode == 3 || (h[3] & 1) != 0) return "a bad frame header";
  std::size_t n = 4;
  // The frame or sample number, UTF-8 style.
  unsigned extra = 0;
  if ((h[4] & 0x80) == 0) extra = 0;
  else if ((h[4] & 0xE0) == 0xC0) extra = 1;
  else if ((h[4] & 0xF0) == 0xE0) extra = 2;
  else if ((h[4] & 0xF8) == 0xF0) extra = 3;
  else if ((h[4] & 0xFC) == 0xF8) extra = 4;
  else if ((h[4] & 0xFE) == 0xFC) extra = 5;
  else if (h[4] == 0xFE) extra = 6;
  else return "a bad frame number";
  n += 1 + extra;
  std::uint32_t blockSize = 0;
  if (sizeCode == 1) blockSize = 192;
  else if (sizeCode <= 5) blockSize = 576u << (sizeCode - 2);
  else if (sizeCode == 6) blockSize = h[n++] + 1u;
  else if (sizeCode == 7) blockSize = Be16(h + n) + 1u, n += 2;
  else blockSize = 256u << (sizeCode - 8);
  if (rateCode == 12) n += 1;
  else if (rateCode == 13 || rateCode == 14) n += 2;
  if (got < n + 1) return cut = true, "ends inside a frame header";
  if (Crc8(h, n) != h[n]) return "the CRC-8 of a frame header does not match";
  static const std::uint32_t kBps[8] = {0, 8, 12, 0, 16, 20, 24, 32};
  const std::uint32_t bps = bpsCode == 0 ? streamBps : kBps[bpsCode];
  const unsigned channels = channelCode <= 7 ? channelCode + 1 : 2;
  BitReader r(f, at + n + 1);
  for (unsigned c = 0; c < channels; ++c) {
    // The side channel of a stereo pair has one bit more.
    const bool side = (channelCode == 8 && c == 1) || (channelCode == 9 && c == 0) || (channelCode == 10 && c == 1);
    if (!SkipSubframe(r, blockSize, bps + (side ? 1 : 0))) {
      if (r.ByteAligned() >= f.Size()) return cut = true, "ends inside a frame";
      return "a broken subframe";
    }
  }
  const std::uint64_t crcAt = r.ByteAligned();
  unsigned char stored[2];
  if (!f.Read(crcAt, stored, 2)) return cut = true, "ends inside a frame";
  std::uint16_t crc = 0;
  unsigned char buffer[4096];
  for (std::uint64_t p = at; p < crcAt;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, crcAt - p));
    if (!f.Read(p, buffer, want)) return cut = true, "ends inside a frame";
    crc = Crc16(crc, buffer, want);
    p += want;
  }
  if (crc != Be16(stored)) return "the CRC-16 of a frame does not match";
  frame.blockSize = blockSize;
  frame.end = crcAt + 2;
  return "";
}

}  // namespace

CheckResult CheckFlac(Fragment& f, const CheckOptions&) {
  if (!HasFlacSignature(f)) return Damaged("no fLaC signature");
  std::uint64_t at = kFlacFirstBlock;
  std::uint64_t total = 0;
  std::uint32_t bps = 0;
  for (bool last = false; !last;) {
    FlacBlock block;
    if (!ReadFlacBlock(f, at, block)) return Truncated(kUnknown, "ends inside the metadata");
    last = block.last;
    if (at == kFlacFirstBlock) {
      unsigned char info[34];
      if (block.type != kFlacStreamInfo || block.length != 34) return Damaged("no STREAMINFO first");
      if (!f.Read(block.Data(), info, sizeof info)) return Truncated(kUnknown, "ends inside STREAMINFO");
      bps = ((info[12] & 1u) << 4 | info[13] >> 4) + 1;
      total = (std::uint64_t{info[13] & 15u} << 32) | Be32(info + 14);
    } else if (block.type == kFlacInvalid) {
      return Damaged("a metadata block of invalid type at " + std::to_string(at));
    }
    at = block.End();
  }
  if (total == 0) return Unchecked("STREAMINFO does not give the number of samples");
  std::uint64_t samples = 0;
  std::uint64_t frames = 0;
  while (samples < total) {
    Frame frame;
    bool cut = false;
    const std::string problem = ReadFrame(f, at, bps, frame, cut);
    if (cut) return Truncated(kUnknown, problem + " (frame " + std::to_string(frames + 1) + ")");
    if (!problem.empty()) return Damaged(problem + " (frame " + std::to_string(frames + 1) + " at " + std::to_string(at) + ")");
    samples += frame.blockSize;
    at = frame.end;
    ++frames;
  }
  if (samples != total) return Damaged("the frames hold more samples than STREAMINFO says");
  return Intact(at, std::to_string(frames) + " frames, every CRC right, " + std::to_string(total) + " samples");
}

extern const FormatRow kFlacRow{.extensions = {"flac"}, .checker = CheckFlac, .nameReader = names::FlacName};

}  // namespace tessaro::formats
