// The camera raw checkers on what the generic test of real files does not
// make: blocks named past the raw data (in maker notes whose offsets count
// from the note, in Sony's private IFD), byte counts and headers that cannot
// be trusted, and the length a cut raw declares.

#include <gtest/gtest.h>

#include <string>

#include "support/check_kit.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::Kind;
using testing::Patched;
using testing::Sectors;

std::string U32(std::uint64_t v, bool little, int width = 4) {
  return little ? testing::Le(v, width) : testing::Be(v, width);
}

// Where the value of the last IFD entry of `tag` (a LONG, count 1) lies.
std::size_t LastEntryValue(const std::string& file, unsigned tag, bool little) {
  const std::size_t at = file.rfind(U32(tag, little, 2) + U32(4, little, 2) + U32(1, little));
  EXPECT_NE(at, std::string::npos) << "tag " << tag;
  return at + 8;
}

// The value of a file's entry of `tag` set to `value`.
std::string WithValue(const std::string& file, unsigned tag, bool little, std::uint64_t value) {
  return Patched(file, LastEntryValue(file, tag, little), U32(value, little));
}

TEST(RawCheckTest, TheEndIsTheRawDataOnlyWhenNothingIsNamedPastIt) {
  const std::string jpeg = Kind("imagemagick.jpg");
  const std::string nef = Kind("camera-layout-nikon.nef");
  const std::size_t nikonTiff = nef.find(std::string("Nikon\0", 6)) + 10;
  const std::string cr2 = Kind("camera-layout-canon.cr2");
  const std::string arw = Kind("camera-layout-sony.arw");
  const std::string orf = Kind("camera-layout-olympus.orf");
  const std::size_t olympusNote = orf.find(std::string("OLYMPUS\0", 8));
  const std::string rw2 = Kind("handmade-panasonic.rw2");
  const std::size_t nefIfd0 = 8;
  const std::size_t nefNext = nefIfd0 + 2 + 12 * static_cast<unsigned char>(nef[nefIfd0 + 1]);
  const std::string raf = Kind("camera-layout-fujifilm.raf");
  const std::string crw = Kind("handmade-canon.crw");
  const std::string mrw = Kind("handmade-minolta.mrw");
  // CRW: the root heap's table at 26 + the offset its last 4 bytes give; its
  // entries (type, size, offset) are the JPEG, the raw data (type 0x2005) and
  // the ImageProps heap.
  const auto le = [&](std::size_t at) { return testing::LeAt(crw, at, 2); };
  const std::size_t crwTable = 26 + le(crw.size() - 4);
  const std::size_t propsEnd = 26 + le(crwTable + 22 + 6) + le(crwTable + 22 + 2);

  testing::ExpectCases({
      {"Nikon preview, counted from the note's TIFF, past the raw data", "nef",
       Sectors(WithValue(nef, 0x201, false, Sectors(nef).size() - nikonTiff)) + jpeg, Verdict::kUnchecked},
      {"Nikon preview past the fragment", "nef", WithValue(nef, 0x201, false, 1 << 20), Verdict::kUnchecked},
      {"CR2 preview strip moved past the raw data", "cr2",
       Sectors(Patched(cr2, LastEntryValue(cr2.substr(0, 200), 0x111, true), U32(Sectors(cr2).size(), true))) + jpeg,
       Verdict::kUnchecked},
      {"Sony private block past the raw data", "arw",
       Sectors(WithValue(arw, 0x7200, true, Sectors(arw).size())) + std::string(512, 'x'), Verdict::kUnchecked},
      {"Olympus preview, counted from the note, past the raw data", "orf",
       Sectors(WithValue(orf, 0x101, true, Sectors(orf).size() - olympusNote)) + jpeg, Verdict::kUnchecked},
      {"Canon original decision data", "cr2", Patched(cr2, cr2.find(std::string("\x10\x00\x04\x00\x01\x00\x00\x00", 8)),
                                                      std::string("\x83\x00\x04\x00\x01\x00\x00\x00", 8) + U32(1000, true)),
       Verdict::kUnchecked},
      {"Panasonic byte count of the unpacked size", "rw2", WithValue(rw2, 0x117, true, 16 * 16 * 12 / 8) + std::string(80, '\0'),
       Verdict::kUnchecked},
      {"NEF whose IFD chain loops", "nef", Patched(nef, nefNext, U32(nefIfd0, false)), Verdict::kIntact, nef.size()},
      {"CR2 cut inside its raw data", "cr2", cr2.substr(0, cr2.size() - 100), Verdict::kTruncated, cr2.size()},
      {"RAF naming a second frame", "raf", Patched(raf, 120, U32(1, false)), Verdict::kUnchecked},
      {"RAF whose JPEG lies in its header", "raf", Patched(raf, 84, U32(20, false)), Verdict::kDamaged},
      {"RAF cut inside its CFA data", "raf", raf.substr(0, raf.size() - 10), Verdict::kTruncated, raf.size()},
      {"CRW whose sub-heap's table is not where it says", "crw", Patched(crw, propsEnd - 4, U32(0, true)),
       Verdict::kTruncated, kUnknown},
      {"CRW whose root heap holds no raw data", "crw", Patched(crw, crwTable + 12, std::string("\x06\x20", 2)),
       Verdict::kTruncated, kUnknown},
      {"MRW of a camera storing more than its sensor's size", "mrw",
       Patched(mrw, mrw.find("DYNAX 7D"), "DiMAGE G"), Verdict::kUnchecked},
      {"MRW stored in an unknown way", "mrw", Patched(mrw, 16 + 18, "\x41"), Verdict::kUnchecked},
      {"MRW cut inside its raw data", "mrw", mrw.substr(0, mrw.size() - 1), Verdict::kTruncated, mrw.size()},
  });
}

}  // namespace
}  // namespace tessaro::formats
