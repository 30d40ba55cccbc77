// Box headers for the ISO media checker, the JPEG 2000 checker and the dates
// and tags read from ISO media.

#include "engine/formats/iso_boxes.h"

#include <cstring>

namespace tessaro::formats {

BoxRead ReadBoxHeader(Fragment& f, std::uint64_t at, BoxHeader& box) {
  unsigned char h[8];
  if (!f.Read(at, h, 8)) return BoxRead::kCut;
  box.small = Be32(h);
  std::memcpy(box.type, h + 4, 4);
  box.size = box.small;
  box.header = 8;
  if (box.small != 1) return BoxRead::kRead;
  if (at > UINT64_MAX - 8 || !f.Read(at + 8, h, 8)) return BoxRead::kCutLarge;
  box.size = Be64(h);
  box.header = 16;
  return BoxRead::kRead;
}

bool PrintableBoxType(const unsigned char* type) {
  for (int i = 0; i < 4; ++i) {
    if (type[i] < 0x20 || type[i] > 0x7E) return false;
  }
  return true;
}

bool BoxWalk::Next(Box& box) {
  BoxHeader h;
  if (walked_ == kMostBoxes || at_ >= limit_ || ReadBoxHeader(f_, at_, h) != BoxRead::kRead) return false;
  for (const unsigned char c : h.type) {
    if ((c < 0x20 || c > 0x7E) && c != 0xA9) return false;
  }
  const std::uint64_t size = h.small == 0 ? limit_ - at_ : h.size;
  if (size < h.header || size > limit_ - at_) return false;
  ++walked_;
  box.start = at_;
  box.body = at_ + h.header;
  box.end = at_ + size;
  std::memcpy(box.type, h.type, 4);
  at_ = box.end;
  return true;
}

bool BoxWalk::Find(const char* type, Box& found) {
  Box box;
  while (Next(box)) {
    if (std::memcmp(box.type, type, 4) == 0) {
      found = box;
      return true;
    }
  }
  return false;
}

}  // namespace tessaro::formats
