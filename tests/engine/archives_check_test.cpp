// The archive checkers on what the generic test of real files does not make:
// a whole second archive right after the first, ends that lie, streams in a
// row, the deep check of every ZIP member, and ZIP members sized from the
// central directory against the walk that inflates them.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/archive_checks.h"
#include "support/check_kit.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::Check;
using testing::CheckCase;
using testing::Flipped;
using testing::Kind;
using testing::Le;
using testing::LeAt;
using testing::Patched;

// One member stored as it is, its sizes told only after it in a data
// descriptor (as streaming writers do), with a decoy descriptor inside the
// data whose sizes and CRC do not fit.
std::string StreamedStoredZip() {
  const std::string name = "a.txt";
  std::string data = "stored PK";
  data += "\x07\x08";
  data += std::string(12, '\0') + " streamed";
  const std::uint32_t crc = Crc32(0, data.data(), data.size());
  const auto common = [&](std::string& s, bool sizes) {
    s += Le(20, 2) + Le(8, 2) + Le(0, 2) + Le(0);
    s += Le(sizes ? crc : 0) + Le(sizes ? data.size() : 0) + Le(sizes ? data.size() : 0);
    s += Le(name.size(), 2) + Le(0, 2);
  };
  std::string zip = Le(0x04034B50);
  common(zip, false);
  zip += name + data;
  zip += Le(0x08074B50) + Le(crc) + Le(data.size()) + Le(data.size());
  const std::size_t directory = zip.size();
  zip += Le(0x02014B50) + Le(20, 2);
  common(zip, true);
  zip += Le(0, 2) + Le(0, 2) + Le(0, 2) + Le(0) + Le(0);
  zip += name;
  const std::size_t size = zip.size() - directory;
  zip += Le(0x06054B50) + Le(0) + Le(1, 2) + Le(1, 2) + Le(size) + Le(directory) + Le(0, 2);
  return zip;
}

TEST(ArchiveCheckTest, EndsAndFaultsComeFromTheStructureNotFromWhatFollows) {
  const std::string zip = Kind("info-zip.zip"), other = Kind("7zip.zip");
  const std::string gz = Kind("gzip.gz"), xz = Kind("xz.xz"), bz2 = Kind("bzip2.bz2");
  const std::string seven = Kind("7zip.7z"), iso = Kind("genisoimage.iso"), zst = Kind("zstd.zst");
  const std::string lz4 = Kind("lz4.lz4"), lz = Kind("lzip.lz"), rar5 = Kind("handmade-v5.rar"), cab = Kind("gcab.cab");
  const std::string cpio = Kind("gnu.cpio"), deb = Kind("dpkg-deb.deb"), ar = Kind("binutils-ar.a");
  testing::ExpectCases({
      // Another archive of the same layout right behind: its end record is
      // not ours, and the directory offsets say so.
      {"zip followed at once by another", "zip", zip + other, Verdict::kIntact, zip.size()},
      {"zip whose comment runs past the fragment", "zip",
       Patched(zip, zip.size() - 2, Le(100, 1)),
       Verdict::kTruncated, zip.size() + 100},
      {"zip whose directory offset is wrong", "zip",
       Patched(zip, zip.size() - 6, Le(41)),
       Verdict::kDamaged, kUnknown},
      {"zip member changed, deep check", "zip",
       Flipped(zip, 38, 1),
       Verdict::kDamaged, kUnknown, true},
      {"zip of a stored member sized after its data", "zip",
       StreamedStoredZip() + std::string(100, '\0'), Verdict::kIntact, StreamedStoredZip().size()},
      {"gzip of two members", "gz", gz + gz, Verdict::kIntact, 2 * gz.size()},
      {"gzip whose second member is cut", "gz", gz + gz.substr(0, 40), Verdict::kTruncated, kUnknown},
      {"xz of two streams with padding", "xz", xz + std::string(8, '\0') + xz, Verdict::kIntact,
       2 * xz.size() + 8},
      {"xz with a cut stream after zeros", "xz", xz + std::string(380, '\0') + xz.substr(0, 60),
       Verdict::kIntact, xz.size()},
      {"xz with a block header changed", "xz",
       // The first block header's flags, under its CRC.
       Flipped(xz, 13, 1),
       Verdict::kDamaged, kUnknown},
      {"bzip2 of two streams", "bz2", bz2 + bz2, Verdict::kIntact, 2 * bz2.size()},
      {"bzip2 with a block CRC changed", "bz2",
       // Inside the first block's CRC (bits 80 to 111).
       Flipped(bz2, 12, 1),
       Verdict::kDamaged, kUnknown},
      {"zstd of two frames", "zst", zst + zst, Verdict::kIntact, 2 * zst.size()},
      {"zstd with a reserved block type", "zst",
       // The first block header, after a 6-byte frame header: kind 2 made 3.
       Flipped(zst, 6, 0x02),
       Verdict::kDamaged, kUnknown},
      {"lz4 with its descriptor checksum changed", "lz4",
       Flipped(lz4, 6, 1),
       Verdict::kDamaged, kUnknown},
      {"lzip of two members", "lz", lz + lz, Verdict::kIntact, 2 * lz.size()},
      {"lzip whose member size lies", "lz",
       Flipped(lz, lz.size() - 8, 0x40) + std::string(600, '\0'),
       Verdict::kTruncated, kUnknown},
      {"rar 5 with a header changed", "rar",
       Flipped(rar5, 14, 1),
       Verdict::kDamaged, kUnknown},
      {"cab larger than the fragment", "cab",
       Patched(cab, 8, Le(5000)),
       Verdict::kTruncated, 5000},
      {"cpio whose block is not filled with zeros", "cpio",
       Flipped(cpio, 511, 'x'),
       Verdict::kIntact, cpio.find("TRAILER!!!") - 110 + 124},
      {"deb that stops before its data member", "deb", deb.substr(0, deb.find("data.tar")),
       Verdict::kTruncated, kUnknown},
      {"ar followed by a member the fragment cuts", "a",
       ar + "three.txt/      0           0     0     644     100       `\n" + "abc", Verdict::kTruncated,
       kUnknown},
      {"7z cut before its next header", "7z", seven.substr(0, 100), Verdict::kTruncated, seven.size()},
      {"hybrid iso with an EFI partition appended", "iso",
       [&] {
         // A partition of 8 sectors right after the volume, as bootable
         // images append their EFI system partition.
         std::string s = iso + std::string(4096, 'e') + std::string(4096, '\0');
         s[446 + 4] = static_cast<char>(0xEF);
         s.replace(446 + 8, 8, Le(iso.size() / 512) + Le(8));
         s[510] = 0x55;
         s[511] = static_cast<char>(0xAA);
         return s;
       }(),
       Verdict::kIntact, iso.size() + 4096},
      {"iso cut after its descriptors", "iso", iso.substr(0, 40960), Verdict::kTruncated, iso.size()},
  });
}

// Sizes and offsets that point nowhere, wrap around or never end: a verdict,
// never a hang, a read outside the fragment or an end beyond it.
TEST(ArchiveCheckTest, HostileSizesAndOffsetsGiveAVerdict) {
  const std::string zip = Kind("info-zip.zip"), seven = Kind("7zip.7z"), xz = Kind("xz.xz");
  const std::string rar5 = Kind("handmade-v5.rar"), iso = Kind("genisoimage.iso"), cpio = Kind("gnu.cpio");
  const std::string lz4 = Kind("lz4.lz4");
  const std::size_t directory = LeAt(zip, zip.size() - 6);
  const auto withCrc = [](std::string s, std::size_t crcAt, std::size_t from, std::size_t n) {
    return Patched(s, crcAt, Le(Crc32(0, s.data() + from, n)));
  };
  testing::ExpectCases({
      {"zip of a lone end record that lists members", "zip",
       std::string("PK\x05\x06\0\0\0\0\x05\0\x05\0", 12) + std::string(10, '\0'),
       Verdict::kDamaged, kUnknown},
      {"zip whose directory entry points at the directory", "zip",
       Patched(zip, directory + 42, Le(directory)), Verdict::kDamaged,
       kUnknown},
      {"7z whose next header would end past 2^64", "7z",
       [&] {
         std::string s = seven;  // offset 2^63 - 1 and size 2^64 - 1
         s.replace(16, 4, Le(0x7FFFFFFF));
         s.replace(24, 4, Le(0xFFFFFFFF));
         return withCrc(s, 8, 12, 20);
       }(),
       Verdict::kDamaged, kUnknown},
      {"xz whose footer puts the index before the stream", "xz",
       withCrc(Patched(xz, xz.size() - 8, Le(0xFFFFFFFF)), xz.size() - 12, xz.size() - 8, 6),
       Verdict::kTruncated, kUnknown},
      {"rar 5 header size that never ends", "rar",
       rar5.substr(0, 12) + std::string(10, '\xFF') + rar5.substr(22), Verdict::kDamaged, kUnknown},
      {"iso with a logical block of zero bytes", "iso",
       Patched(iso, 32768 + 128, Le(0)), Verdict::kDamaged, kUnknown},
      {"cpio entry with an empty name", "cpio",
       Patched(cpio, 94, "00000000"),
       Verdict::kDamaged, kUnknown},
      {"lz4 block larger than its frame allows", "lz4", Patched(lz4, 7, Le(0x00FFFFFF)),
       Verdict::kDamaged, kUnknown},
  });
}

// With --deep every member of every real ZIP is inflated and its CRC checked.
TEST(ArchiveCheckTest, DeepCheckVerifiesEveryMemberOfTheRealZips) {
  for (const char* name : {"info-zip.zip", "7zip.zip", "openjdk.jar", "libreoffice-docx.docx", "libreoffice-xlsx.xlsx",
                           "libreoffice-pptx.pptx", "libreoffice-odt.odt", "libreoffice-ods.ods", "libreoffice-odp.odp",
                           "libreoffice-odg.odg", "libreoffice-epub.epub"}) {
    const std::string file = name;
    const CheckResult r = Check(file.substr(file.rfind('.') + 1), Kind(file), CheckOptions{true});
    EXPECT_EQ(r.verdict, Verdict::kIntact) << name << ": " << r.detail;
    // What the check tells the user it verified: the deep check's proof
    // that it inflated every member (no verdict tells it).
    EXPECT_NE(r.detail.find("every member's CRC-32 right"), std::string::npos) << name << ": " << r.detail;
  }
}

// A ZIP of tests/data/kinds and where its central directory and end record
// lie (the files of LibreOffice have no archive comment).
struct Zip {
  std::string bytes;
  std::size_t directory = 0, end = 0;
  std::string Tail() const { return bytes.substr(directory); }
};

Zip ZipKind(const std::string& name) {
  Zip zip{Kind(name)};
  zip.end = zip.bytes.size() - 22;
  zip.directory = LeAt(zip.bytes, zip.end + 16);
  return zip;
}

// An end record naming `entries` entries in the `size` bytes at `start`.
std::string EndRecord(std::size_t start, std::size_t size, std::uint16_t entries) {
  return Le(0x06054B50) + Le(0) + Le(entries, 2) + Le(entries, 2) + Le(size) + Le(start) + Le(0, 2);
}

// A copy of `zip`'s central directory placed at `at`, with an end record
// that names it there: a directory whose numbers fit, but not ours. Its end
// record may count more entries, its first entry tell a longer member.
std::string DirectoryCopy(const Zip& zip, std::size_t at, int moreEntries = 0, std::uint32_t longer = 0) {
  std::string directory = zip.bytes.substr(zip.directory, zip.end - zip.directory);
  directory.replace(20, 4, Le(LeAt(zip.bytes, zip.directory + 20) + longer));
  const auto entries = static_cast<std::uint16_t>(LeAt(zip.bytes, zip.end + 10, 2) + moreEntries);
  return directory + EndRecord(at, directory.size(), entries);
}

// `zip` as ZIP64 writers end it: a ZIP64 end record and its locator before
// an end record whose numbers are all ones (76 bytes more).
std::string WithZip64End(const Zip& zip) {
  const std::uint64_t entries = LeAt(zip.bytes, zip.end + 10, 2);
  return zip.bytes.substr(0, zip.end) + Le(0x06064B50) + Le(44, 8) + Le(45, 2) + Le(45, 2) + Le(0) + Le(0) +
         Le(entries, 8) + Le(entries, 8) + Le(zip.end - zip.directory, 8) + Le(zip.directory, 8) + Le(0x07064B50) +
         Le(0) + Le(zip.end, 8) + Le(1) + EndRecord(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF);
}

CheckResult CheckByInflating(const std::string& bytes) {
  testing::MemoryFragment memory(bytes);
  return CheckZipByInflating(memory.fragment(), CheckOptions{});
}

// Office Open XML writers tell each member's sizes only after its data. The
// check takes them from the central directory found from the fragment's end;
// whatever the slack holds or wherever the fragment is cut, the verdict and
// the end are those of inflating every member, and where the directory is
// not to be trusted the check is the inflating one.
TEST(ArchiveCheckTest, SizesFromTheDirectoryGiveWhatInflatingGives) {
  struct Variant {
    const char* what;
    std::function<std::string(const Zip& zip, const Zip& other)> bytes;
    // Intact means at the file's own length; none, not intact, whatever the
    // walk makes of two directories run together.
    std::optional<Verdict> verdict;
    bool fromDirectory = false;  // whether the directory told the sizes
    std::size_t longer = 0;      // than the file it was made from
  };
  const auto at = [](const Zip& zip, std::size_t n) { return zip.bytes + std::string(n, '\0'); };
  const std::vector<Variant> variants = {
      {"with zero slack", [&](const Zip& z, const Zip&) { return at(z, 4096 - z.bytes.size() % 4096); },
       Verdict::kIntact, true},
      {"with another's directory and end record as slack",
       [](const Zip& z, const Zip& o) { return z.bytes + o.Tail(); }, Verdict::kIntact, true},
      {"ending in ZIP64 records", [&](const Zip& z, const Zip&) { return WithZip64End(z) + std::string(100, '\0'); },
       Verdict::kIntact, true, 76},
      {"with an end record whose numbers fit what is no directory",
       [&](const Zip& z, const Zip&) { return at(z, 64) + EndRecord(z.bytes.size(), 64, 1); }, Verdict::kIntact,
       true},
      {"with a copy of its directory that tells one entry more",
       [&](const Zip& z, const Zip&) { return at(z, 10) + DirectoryCopy(z, z.bytes.size() + 10, 1); }, Verdict::kIntact,
       true},
      // Sound entries that are not where the members end: found first, so
      // the walk must not settle for them but inflate.
      {"with a whole copy of its directory",
       [&](const Zip& z, const Zip&) { return at(z, 10) + DirectoryCopy(z, z.bytes.size() + 10); }, Verdict::kIntact},
      {"with a copy of its directory whose first entry tells another size",
       [&](const Zip& z, const Zip&) { return at(z, 10) + DirectoryCopy(z, z.bytes.size() + 10, 0, 1); },
       Verdict::kIntact},
      // The descriptor, not the directory, tells the CRC-32 the inflating
      // walk checks.
      {"whose first entry tells another CRC-32",
       [](const Zip& z, const Zip&) { return Flipped(z.bytes, z.directory + 16, 1); }, Verdict::kIntact},
      {"cut inside its directory",
       [](const Zip& z, const Zip&) { return z.bytes.substr(0, (z.directory + z.end) / 2); }, Verdict::kTruncated},
      {"cut inside its directory, another's end as slack",
       [](const Zip& z, const Zip& o) { return z.bytes.substr(0, (z.directory + z.end) / 2) + o.Tail(); },
       std::nullopt},
      {"whose first entry points at the second member",
       [](const Zip& z, const Zip&) { return Patched(z.bytes, z.directory + 42, Le(1)); }, Verdict::kDamaged},
      {"whose first member's descriptor tells another size",
       [](const Zip& z, const Zip&) {
         // The descriptor right before the second member's local header.
         const std::size_t second = z.bytes.find("PK\x03\x04", 4);
         return Flipped(z.bytes, second - 8, 1);
       },
       Verdict::kDamaged},
  };
  const std::vector<Zip> zips = {ZipKind("libreoffice-docx.docx"), ZipKind("libreoffice-xlsx.xlsx"),
                                 ZipKind("libreoffice-pptx.pptx")};
  for (std::size_t i = 0; i < zips.size(); ++i) {
    for (const Variant& v : variants) {
      const std::string what = std::to_string(i) + " " + v.what, bytes = v.bytes(zips[i], zips[(i + 1) % zips.size()]);
      const CheckResult r = Check("docx", bytes);
      const CheckResult inflated = CheckByInflating(bytes);
      if (v.verdict) {
        EXPECT_EQ(r.verdict, *v.verdict) << what << ": " << r.detail;
      } else {
        EXPECT_NE(r.verdict, Verdict::kIntact) << what << ": " << r.detail;
      }
      EXPECT_EQ(r.verdict, inflated.verdict) << what << ": " << r.detail << " / " << inflated.detail;
      EXPECT_EQ(r.expected, inflated.expected) << what;
      if (r.verdict == Verdict::kIntact) {
        EXPECT_EQ(r.length, zips[i].bytes.size() + v.longer) << what;
        EXPECT_EQ(r.length, inflated.length) << what;
        // Sizes taken from the directory say nothing of the data's CRC-32,
        // and what the check tells the user must not claim it: which walk
        // ran shows only in what it tells.
        const bool told = r.detail.find("data descriptors of") != std::string::npos;
        EXPECT_EQ(r.detail.find("CRC-32") == std::string::npos, v.fromDirectory) << what << ": " << r.detail;
        EXPECT_EQ(told, v.fromDirectory) << what << ": " << r.detail;
      } else {
        EXPECT_EQ(r.detail, inflated.detail) << what;  // the inflating walk's own finding
      }
    }
  }
}

// What the directory cannot tell, a deep check finds: a changed byte inside
// a member's deflated data.
TEST(ArchiveCheckTest, DeepCheckInflatesMembersSizedFromTheDirectory) {
  const Zip docx = ZipKind("libreoffice-docx.docx");
  testing::ExpectCases({{"docx with member data changed, deep check", "docx", Flipped(docx.bytes, 80, 0x10),
              Verdict::kDamaged, kUnknown, true}});
}

}  // namespace
}  // namespace tessaro::formats
