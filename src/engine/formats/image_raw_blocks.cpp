// Camera raws of their makers' own layouts: Fujifilm RAF (a header naming its
// blocks), Canon CRW (CIFF heaps) and Minolta MRW (blocks, then raw data whose
// size the picture's dimensions give).

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/image_checks.h"
#include "engine/formats/format_row.h"
#include "engine/formats/tiff_ifd.h"

namespace tessaro::formats::images {

namespace {

std::string At(std::uint64_t offset) { return std::to_string(offset); }

// CIFF: a heap is its records' data, then its offset table (a count and
// 10-byte entries: type, size, offset from the heap's start), then the 32-bit
// offset of that table. A record whose type says so is a heap itself.
struct Ciff {
  explicit Ciff(Fragment& fragment) : f(fragment) {}
  Fragment& f;
  std::uint64_t budget = 1u << 20;  // entries read in all, so hostile tables cannot make it slow

  // Whether [start, start + length) is a heap whose table and every sub-heap
  // agree; `rawData` is set when it holds the raw picture (type 0x2005).
  bool Valid(std::uint64_t start, std::uint64_t length, int depth, bool& rawData) {
    unsigned char b[10];
    if (depth > 8 || length < 6 || !f.Read(start + length - 4, b, 4)) return false;
    const std::uint64_t table = Le32(b);
    if (table > length - 6 || !f.Read(start + table, b, 2)) return false;
    const std::uint64_t count = Le16(b);
    if (count == 0 || table + 2 + 10 * count + 4 != length) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (budget == 0 || !f.Read(start + table + 2 + 10 * i, b, 10)) return false;
      --budget;
      const unsigned type = Le16(b);
      const std::uint64_t size = Le32(b + 2);
      const std::uint64_t offset = Le32(b + 6);
      if ((type & 0xC000) == 0x4000) continue;  // the value lies in the entry
      if ((type & 0xC000) != 0 || offset > table || size > table - offset) return false;
      if (type == 0x2005 && size > 0) rawData = true;
      const unsigned data = type & 0x3800;
      bool unused = false;
      if ((data == 0x2800 || data == 0x3000) && !Valid(start + offset, size, depth + 1, unused)) return false;
    }
    return true;
  }
};

// The Model a TIFF names in its first IFD (offsets counted from `base`); empty
// when it names none.
std::string TiffModel(Fragment& f, std::uint64_t base) {
  unsigned char h[8];
  ByteOrder order;
  if (!f.Read(base, h, 8) || !TiffByteOrder(h, order)) return "";
  TiffReader tiff(f, order, base);
  const std::uint64_t ifd = order.U32(h + 4);
  unsigned entries = 0;
  if (!tiff.Entries(ifd, entries)) return "";
  for (unsigned i = 0; i < entries; ++i) {
    TiffEntry e;
    if (!tiff.Entry(ifd, i, e)) return "";
    if (e.tag != 0x110 || e.type != 2) continue;
    char model[64] = {};
    const std::uint64_t count = std::min<std::uint64_t>(e.count, sizeof model - 1);
    if (count <= 4) {
      std::memcpy(model, e.field, count);
    } else if (!tiff.Read(tiff.Offset(e), model, count)) {
      return "";
    }
    return std::string(model);
  }
  return "";
}

}  // namespace

// RAF: a 16-byte magic, versions, the camera's name, then the offsets and
// lengths of the embedded JPEG, the CFA header and the CFA data. The file ends
// with the furthest of them.
CheckResult CheckRaf(Fragment& f, const CheckOptions&) {
  unsigned char h[108];
  if (!f.Read(0, h, 108)) return Truncated(kUnknown, "ends inside the header");
  if (std::memcmp(h, "FUJIFILMCCD-RAW ", 16) != 0) return Damaged("no RAF signature");
  const char* names[3] = {"JPEG", "CFA header", "CFA data"};
  std::uint64_t end = 108;
  std::uint64_t offsets[3];
  std::uint64_t lengths[3];
  for (int k = 0; k < 3; ++k) {
    offsets[k] = Be32(h + 84 + 8 * k);
    lengths[k] = Be32(h + 88 + 8 * k);
    if (lengths[k] == 0) continue;
    if (offsets[k] < 108) return Damaged(std::string("the ") + names[k] + " lies inside the header");
    end = std::max(end, offsets[k] + lengths[k]);
  }
  if (lengths[2] == 0) return Damaged("no CFA data");
  // A header that runs on past 120 bytes may name a second frame's directory
  // (at 120) and CFA data (at 128), from cameras that take two shots at once;
  // their extent is not stated alike everywhere.
  for (const std::uint64_t second : {120u, 128u}) {
    if (offsets[0] >= second + 4 && (!f.Read(second, h, 4) || Be32(h) != 0)) {
      return Unchecked("a second frame, whose end the header does not state plainly");
    }
  }
  unsigned char soi[3];
  if (lengths[0] > 0 && f.Read(offsets[0], soi, 3) && !(soi[0] == 0xFF && soi[1] == 0xD8 && soi[2] == 0xFF)) {
    return Damaged("no JPEG at " + At(offsets[0]));
  }
  // The CFA header: a count of records (never more than 255), each a tag, a
  // size and its data. Records that run past the header's stated length
  // leave that length in doubt.
  unsigned char b[4];
  if (lengths[1] > 0 && f.Read(offsets[1], b, 4)) {
    const std::uint64_t records = Be32(b);
    if (records > 255) return Damaged("impossible count of CFA header records");
    std::uint64_t at = offsets[1] + 4;
    for (std::uint64_t i = 0; i < records && f.Read(at, b, 4); ++i) at += 4 + Be16(b + 2);
    if (at > offsets[1] + lengths[1]) return Unchecked("the CFA header's records run past its stated length");
  }
  if (!f.Holds(0, end)) return Truncated(end, "expected " + std::to_string(end) + " bytes");
  return Intact(end, "JPEG, CFA header and CFA data; the furthest ends at " + At(end));
}

// CRW: a header ("II", its length, "HEAPCCDR"), then the root heap, which runs
// to the file's end. The root's table lies at its end and is found through
// the last 4 bytes, so the end is the first position after the header where
// those bytes name a table that ends right there, every sub-heap agrees, and
// the raw data is among the records: leftovers of another CRW after it name
// tables of their own heap, not of this one.
CheckResult CheckCrw(Fragment& f, const CheckOptions&) {
  unsigned char h[14];
  if (!f.Read(0, h, 14)) return Truncated(kUnknown, "ends inside the header");
  if (h[0] != 'I' || h[1] != 'I' || std::memcmp(h + 6, "HEAPCCDR", 8) != 0) return Damaged("no CRW header");
  const std::uint64_t heap = Le32(h + 2);
  if (heap < 14 || heap > 512) return Damaged("impossible header length " + At(heap));
  Ciff ciff(f);
  ByteReader cursor(f, heap);
  std::uint32_t last = 0;
  // The count at the last table looked at: runs of equal bytes (zeros) name
  // the same table again and again.
  std::uint64_t countAt = kUnknown;
  std::uint64_t count = 0;
  for (std::uint64_t length = 1;; ++length) {
    const int c = cursor.Next();
    if (c < 0) return Truncated(kUnknown, "no offset table of the root heap ends inside the fragment");
    last = last >> 8 | static_cast<std::uint32_t>(c) << 24;
    if (length < 6 || last > length - 6) continue;
    if (countAt != last) {
      unsigned char b[2];
      if (!f.Read(heap + last, b, 2)) return Unchecked("a read failed");
      countAt = last;
      count = Le16(b);
    }
    if (last + 2 + 10 * count + 4 != length) continue;
    bool rawData = false;
    if (ciff.Valid(heap, length, 0, rawData) && rawData) {
      return Intact(heap + length, "the root heap and every sub-heap agree; its table ends at " + At(heap + length));
    }
    if (ciff.budget == 0) return Unchecked("too many heap entries to follow");
  }
}

// MRW: "\0MRM" and the length of the blocks that follow (picture dimensions
// PRD, TIFF tags TTW, white balance WBG, ...); the raw data comes right after
// them, its size given by PRD: the sensor's width and height, 16 bits a
// pixel when stored unpacked (0x52), 12 when packed (0x59). Some compact
// cameras (DiMAGE G) store more than that, so the end is given only for a
// camera the TTW block names as another.
CheckResult CheckMrw(Fragment& f, const CheckOptions&) {
  unsigned char h[24];
  if (!f.Read(0, h, 8)) return Truncated(kUnknown, "ends inside the header");
  if (std::memcmp(h, "\0MRM", 4) != 0) return Damaged("no MRW signature");
  const std::uint64_t data = 8 + std::uint64_t{Be32(h + 4)};
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  unsigned bits = 0;
  std::uint64_t tiff = 0;
  std::uint64_t at = 8;
  while (at < data) {
    if (!f.Read(at, h, 8)) return Truncated(kUnknown, "ends inside the block at " + At(at));
    if (h[0] != 0 || !std::all_of(h + 1, h + 4, [](unsigned char c) { return c >= 'A' && c <= 'Z'; })) {
      return Damaged("no block at " + At(at));
    }
    const std::uint64_t next = at + 8 + Be32(h + 4);
    if (next > data) return Damaged("the block at " + At(at) + " runs into the raw data");
    if (std::memcmp(h, "\0PRD", 4) == 0) {
      if (next - at < 8 + 19 || !f.Read(at + 8, h, 19)) return Truncated(kUnknown, "ends inside the PRD block");
      height = Be16(h + 8);
      width = Be16(h + 10);
      bits = h[18] == 0x52 && h[16] == 16 ? 16 : h[18] == 0x59 && h[16] == 12 ? 12 : 0;
    } else if (std::memcmp(h, "\0TTW", 4) == 0) {
      tiff = at + 8;
    }
    at = next;
  }
  if (width == 0 || height == 0) return Damaged("no picture dimensions");
  if (bits == 0) return Unchecked("raw data stored in a way of unknown size");
  const std::string model = tiff != 0 ? TiffModel(f, tiff) : "";
  if (model.empty() || model.rfind("DiMAGE G", 0) == 0) return Unchecked("no camera whose raw data's size is certain");
  const std::uint64_t end = data + (width * bits + 7) / 8 * height;
  const std::string detail = model + ", " + std::to_string(width) + "x" + std::to_string(height) + " at " +
                             std::to_string(bits) + " bits";
  if (!f.Holds(0, end)) return Truncated(end, detail + "; expected " + std::to_string(end) + " bytes");
  return Intact(end, detail + "; the raw data ends at " + At(end));
}

}  // namespace tessaro::formats::images

namespace tessaro::formats {

extern const FormatRow kCrwRow{
    .extensions = {"crw"},
    .checker = images::CheckCrw,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kMrwRow{
    .extensions = {"mrw"},
    .checker = images::CheckMrw,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kRafRow{
    .extensions = {"raf"},
    .checker = images::CheckRaf,
    .endPolicy = EndPolicy::kLastSectorZeros
};

}  // namespace tessaro::formats
