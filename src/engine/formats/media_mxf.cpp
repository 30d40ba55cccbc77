// MXF: KLV packets (a 16-byte key, a BER length, the value) from the header
// partition to the footer partition and the random index pack that closes
// the file. Every partition pack gives its own offset, which must be where
// it stands, and the header's the footer's offset.

#include <cstring>
#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

const unsigned char kKeyStart[4] = {0x06, 0x0E, 0x2B, 0x34};
const unsigned char kPackPrefix[13] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01};

enum class Pack { kOther, kHeader, kBody, kFooter, kRandomIndex };

Pack KindOf(const unsigned char* key) {
  if (std::memcmp(key, kPackPrefix, sizeof kPackPrefix) != 0) return Pack::kOther;
  if (key[13] == 0x11 && key[14] == 0x01) return Pack::kRandomIndex;
  if (key[14] < 1 || key[14] > 4) return Pack::kOther;
  switch (key[13]) {
    case 2: return Pack::kHeader;
    case 3: return Pack::kBody;
    case 4: return Pack::kFooter;
    default: return Pack::kOther;
  }
}

}  // namespace

CheckResult CheckMxf(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0;
  std::uint64_t packets = 0;
  std::uint64_t declaredFooter = 0;
  bool footer = false;
  for (;;) {
    unsigned char klv[16 + 9 + 32];
    const std::size_t got = f.ReadSome(at, klv, sizeof klv);
    if (got < 17 || std::memcmp(klv, kKeyStart, 4) != 0) {
      if (packets == 0) return Damaged("no KLV packet at the start");
      break;
    }
    std::uint64_t length = klv[16];
    std::size_t lengthSize = 1;
    if (length >= 0x80) {
      lengthSize += length & 0x7F;
      if (lengthSize == 1 || lengthSize > 9) return Damaged("a BER length of unknown size at " + std::to_string(at));
      if (got < 16 + lengthSize) return Truncated(kUnknown, "ends inside a KLV header");
      length = 0;
      for (std::size_t i = 1; i < lengthSize; ++i) length = length << 8 | klv[16 + i];
    }
    const Pack kind = KindOf(klv);
    if (packets == 0 && kind != Pack::kHeader) return Damaged("no header partition first");
    if (kind == Pack::kHeader && packets > 0) {
      // Another file's header partition: this one ended before it.
      if (!footer) return Damaged("a second header partition at " + std::to_string(at));
      break;
    }
    if (length > UINT64_MAX / 2 || !f.Holds(at, 16 + lengthSize + length)) {
      return Truncated(kUnknown, "ends inside KLV packet " + std::to_string(packets + 1) + " at " + std::to_string(at));
    }
    const unsigned char* value = klv + 16 + lengthSize;
    if (kind == Pack::kHeader || kind == Pack::kBody || kind == Pack::kFooter) {
      if (length < 32 || got < 16 + lengthSize + 32) return Damaged("a partition pack too short at " + std::to_string(at));
      if (Be64(value + 8) != at) return Damaged("a partition pack not where it says it is, at " + std::to_string(at));
      if (kind == Pack::kHeader) declaredFooter = Be64(value + 24);
      if (kind == Pack::kFooter) {
        if (declaredFooter != 0 && declaredFooter != at) return Damaged("the footer partition is not where the header says");
        footer = true;
      }
    }
    const std::uint64_t next = at + 16 + lengthSize + length;
    ++packets;
    if (kind == Pack::kRandomIndex) {
      unsigned char overall[4];
      if (length < 4 || !f.Read(next - 4, overall, 4) || Be32(overall) != next - at) {
        return Damaged("the random index pack's length does not match");
      }
      if (!footer) return Damaged("a random index pack before the footer partition");
      return Intact(next, std::to_string(packets) + " KLV packets up to the random index pack");
    }
    at = next;
  }
  if (!footer) return Truncated(kUnknown, "ends before the footer partition");
  return EndOfUncountedChain(f, at, std::to_string(packets) + " KLV packets, the footer partition among them", nullptr);
}

extern const FormatRow kMxfRow{.extensions = {"mxf"}, .checker = CheckMxf};

}  // namespace tessaro::formats
