// The archive checkers on what the generic test of real files does not make:
// a whole second archive right after the first, ends that lie, streams in a
// row, the deep check of every ZIP member, and ZIP members sized from the
// central directory against the walk that inflates them.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/archive_checks.h"
#include "engine/formats/format_check.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::ReadAll;
using testing::TempFolder;

using testing::Kind;

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

void Put16(std::string& s, std::uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void Add32(std::string& s, std::uint32_t v) {
  s.append(4, '\0');
  Put32(s, s.size() - 4, v);
}

// One member stored as it is, its sizes told only after it in a data
// descriptor (as streaming writers do), with a decoy descriptor inside the
// data whose sizes and CRC do not fit.
std::string StreamedStoredZip() {
  const std::string name = "a.txt";
  std::string data = "stored PK";
  data += "\x07\x08";
  data += std::string(12, '\0') + " streamed";
  const std::uint32_t crc = Crc32(0, data.data(), data.size());
  std::string zip;
  const auto common = [&](std::string& s, bool sizes) {
    Put16(s, 20), Put16(s, 8), Put16(s, 0), Add32(s, 0);
    Add32(s, sizes ? crc : 0), Add32(s, sizes ? data.size() : 0), Add32(s, sizes ? data.size() : 0);
    Put16(s, static_cast<std::uint16_t>(name.size())), Put16(s, 0);
  };
  Add32(zip, 0x04034B50);
  common(zip, false);
  zip += name + data;
  Add32(zip, 0x08074B50), Add32(zip, crc), Add32(zip, data.size()), Add32(zip, data.size());
  const std::size_t directory = zip.size();
  Add32(zip, 0x02014B50), Put16(zip, 20);
  common(zip, true);
  Put16(zip, 0), Put16(zip, 0), Put16(zip, 0), Add32(zip, 0), Add32(zip, 0);
  zip += name;
  const std::size_t size = zip.size() - directory;
  Add32(zip, 0x06054B50), Add32(zip, 0), Put16(zip, 1), Put16(zip, 1), Add32(zip, size), Add32(zip, directory);
  Put16(zip, 0);
  return zip;
}

// A copy of `bytes` with the bits of `mask` flipped at `at`.
std::string Flipped(std::string bytes, std::size_t at, int mask) {
  bytes[at] = static_cast<char>(bytes[at] ^ mask);
  return bytes;
}

// A copy of `bytes` with a 32-bit little-endian `value` at `at`.
std::string Patched32(std::string bytes, std::size_t at, std::uint32_t value) {
  Put32(bytes, at, value);
  return bytes;
}

struct Case {
  const char* what;
  const char* extension;
  std::function<std::string()> bytes;
  Verdict verdict;
  std::uint64_t length;  // when intact; else the expected length, or kUnknown
  bool deep = false;
};

void ExpectAll(const std::vector<Case>& cases) {
  TempFolder folder;
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = folder.Write("f" + std::to_string(n++), c.bytes());
    bool readFailed = true;
    int error = 0;
    CheckOptions options;
    options.deep = c.deep;
    const CheckResult r = CheckFile(SystemPlatform(), path, c.extension, options, readFailed, error);
    EXPECT_FALSE(readFailed) << c.what;
    EXPECT_EQ(r.verdict, c.verdict) << c.what << ": " << VerdictName(r.verdict) << " (" << r.detail << ")";
    EXPECT_EQ(r.verdict == Verdict::kIntact ? r.length : r.expected, c.length) << c.what << ": " << r.detail;
  }
}

TEST(ArchiveCheckTest, EndsAndFaultsComeFromTheStructureNotFromWhatFollows) {
  const std::string zip = Kind("info-zip.zip"), other = Kind("7zip.zip");
  const std::string gz = Kind("gzip.gz"), xz = Kind("xz.xz"), bz2 = Kind("bzip2.bz2");
  const std::string seven = Kind("7zip.7z"), iso = Kind("genisoimage.iso"), zst = Kind("zstd.zst");
  const std::string lz4 = Kind("lz4.lz4"), lz = Kind("lzip.lz"), rar5 = Kind("handmade-v5.rar"), cab = Kind("gcab.cab");
  const std::string cpio = Kind("gnu.cpio"), deb = Kind("dpkg-deb.deb"), ar = Kind("binutils-ar.a");
  const std::vector<Case> cases = {
      // Another archive of the same layout right behind: its end record is
      // not ours, and the directory offsets say so.
      {"zip followed at once by another", "zip", [&] { return zip + other; }, Verdict::kIntact, zip.size()},
      {"zip whose comment runs past the fragment", "zip",
       [&] {
         std::string s = zip;
         s[s.size() - 2] = 100;
         return s;
       },
       Verdict::kTruncated, zip.size() + 100},
      {"zip whose directory offset is wrong", "zip",
       [&] { return Patched32(zip, zip.size() - 6, 41); },
       Verdict::kDamaged, kUnknown},
      {"zip member changed, deep check", "zip",
       [&] { return Flipped(zip, 38, 1); },
       Verdict::kDamaged, kUnknown, true},
      {"zip of a stored member sized after its data", "zip",
       [&] { return StreamedStoredZip() + std::string(100, '\0'); }, Verdict::kIntact, StreamedStoredZip().size()},
      {"gzip of two members", "gz", [&] { return gz + gz; }, Verdict::kIntact, 2 * gz.size()},
      {"gzip whose second member is cut", "gz", [&] { return gz + gz.substr(0, 40); }, Verdict::kTruncated, kUnknown},
      {"xz of two streams with padding", "xz", [&] { return xz + std::string(8, '\0') + xz; }, Verdict::kIntact,
       2 * xz.size() + 8},
      {"xz with a cut stream after zeros", "xz", [&] { return xz + std::string(380, '\0') + xz.substr(0, 60); },
       Verdict::kIntact, xz.size()},
      {"xz with a block header changed", "xz",
       // The first block header's flags, under its CRC.
       [&] { return Flipped(xz, 13, 1); },
       Verdict::kDamaged, kUnknown},
      {"bzip2 of two streams", "bz2", [&] { return bz2 + bz2; }, Verdict::kIntact, 2 * bz2.size()},
      {"bzip2 with a block CRC changed", "bz2",
       // Inside the first block's CRC (bits 80 to 111).
       [&] { return Flipped(bz2, 12, 1); },
       Verdict::kDamaged, kUnknown},
      {"zstd of two frames", "zst", [&] { return zst + zst; }, Verdict::kIntact, 2 * zst.size()},
      {"zstd with a reserved block type", "zst",
       // The first block header, after a 6-byte frame header: kind 2 made 3.
       [&] { return Flipped(zst, 6, 0x02); },
       Verdict::kDamaged, kUnknown},
      {"lz4 with its descriptor checksum changed", "lz4",
       [&] { return Flipped(lz4, 6, 1); },
       Verdict::kDamaged, kUnknown},
      {"lzip of two members", "lz", [&] { return lz + lz; }, Verdict::kIntact, 2 * lz.size()},
      {"lzip whose member size lies", "lz",
       [&] { return Flipped(lz, lz.size() - 8, 0x40) + std::string(600, '\0'); },
       Verdict::kTruncated, kUnknown},
      {"rar 5 with a header changed", "rar",
       [&] { return Flipped(rar5, 14, 1); },
       Verdict::kDamaged, kUnknown},
      {"cab larger than the fragment", "cab",
       [&] { return Patched32(cab, 8, 5000); },
       Verdict::kTruncated, 5000},
      {"cpio whose block is not filled with zeros", "cpio",
       [&] { return Flipped(cpio, 511, 'x'); },
       Verdict::kIntact, cpio.find("TRAILER!!!") - 110 + 124},
      {"deb that stops before its data member", "deb", [&] { return deb.substr(0, deb.find("data.tar")); },
       Verdict::kTruncated, kUnknown},
      {"ar followed by a member the fragment cuts", "a",
       [&] { return ar + "three.txt/      0           0     0     644     100       `\n" + "abc"; }, Verdict::kTruncated,
       kUnknown},
      {"7z cut before its next header", "7z", [&] { return seven.substr(0, 100); }, Verdict::kTruncated, seven.size()},
      {"hybrid iso with an EFI partition appended", "iso",
       [&] {
         // A partition of 8 sectors right after the volume, as bootable
         // images append their EFI system partition.
         std::string s = iso + std::string(4096, 'e') + std::string(4096, '\0');
         s[446 + 4] = static_cast<char>(0xEF);
         Put32(s, 446 + 8, static_cast<std::uint32_t>(iso.size() / 512));
         Put32(s, 446 + 12, 8);
         s[510] = 0x55;
         s[511] = static_cast<char>(0xAA);
         return s;
       },
       Verdict::kIntact, iso.size() + 4096},
      {"iso cut after its descriptors", "iso", [&] { return iso.substr(0, 40960); }, Verdict::kTruncated, iso.size()},
  };
  ExpectAll(cases);
}

// Sizes and offsets that point nowhere, wrap around or never end: a verdict,
// never a hang, a read outside the fragment or an end beyond it.
TEST(ArchiveCheckTest, HostileSizesAndOffsetsGiveAVerdict) {
  const std::string zip = Kind("info-zip.zip"), seven = Kind("7zip.7z"), xz = Kind("xz.xz");
  const std::string rar5 = Kind("handmade-v5.rar"), iso = Kind("genisoimage.iso"), cpio = Kind("gnu.cpio");
  const std::string lz4 = Kind("lz4.lz4");
  const std::size_t directory = Le32(reinterpret_cast<const unsigned char*>(zip.data()) + zip.size() - 6);
  const auto withCrc = [](std::string s, std::size_t crcAt, std::size_t from, std::size_t n) {
    Put32(s, crcAt, Crc32(0, s.data() + from, n));
    return s;
  };
  const std::vector<Case> cases = {
      {"zip of a lone end record that lists members", "zip",
       [&] { return std::string("PK\x05\x06\0\0\0\0\x05\0\x05\0", 12) + std::string(10, '\0'); },
       Verdict::kDamaged, kUnknown},
      {"zip whose directory entry points at the directory", "zip",
       [&] { return Patched32(zip, directory + 42, static_cast<std::uint32_t>(directory)); }, Verdict::kDamaged,
       kUnknown},
      {"7z whose next header would end past 2^64", "7z",
       [&] {
         std::string s = seven;  // offset 2^63 - 1 and size 2^64 - 1
         Put32(s, 16, 0x7FFFFFFF);
         Put32(s, 24, 0xFFFFFFFF);
         return withCrc(s, 8, 12, 20);
       },
       Verdict::kDamaged, kUnknown},
      {"xz whose footer puts the index before the stream", "xz",
       [&] { return withCrc(Patched32(xz, xz.size() - 8, 0xFFFFFFFF), xz.size() - 12, xz.size() - 8, 6); },
       Verdict::kTruncated, kUnknown},
      {"rar 5 header size that never ends", "rar",
       [&] { return rar5.substr(0, 12) + std::string(10, '\xFF') + rar5.substr(22); }, Verdict::kDamaged, kUnknown},
      {"iso with a logical block of zero bytes", "iso",
       [&] { return Patched32(iso, 32768 + 128, 0); }, Verdict::kDamaged, kUnknown},
      {"cpio entry with an empty name", "cpio",
       [&] {
         std::string s = cpio;
         s.replace(94, 8, "00000000");
         return s;
       },
       Verdict::kDamaged, kUnknown},
      {"lz4 block larger than its frame allows", "lz4", [&] { return Patched32(lz4, 7, 0x00FFFFFF); },
       Verdict::kDamaged, kUnknown},
  };
  ExpectAll(cases);
}

// With --deep every member of every real ZIP is inflated and its CRC checked.
TEST(ArchiveCheckTest, DeepCheckVerifiesEveryMemberOfTheRealZips) {
  for (const char* name : {"info-zip.zip", "7zip.zip", "openjdk.jar", "libreoffice-docx.docx", "libreoffice-xlsx.xlsx",
                           "libreoffice-pptx.pptx", "libreoffice-odt.odt", "libreoffice-ods.ods", "libreoffice-odp.odp",
                           "libreoffice-odg.odg", "libreoffice-epub.epub"}) {
    const std::string path = (std::filesystem::path(TESSARO_SOURCE_DIR) / "tests" / "data" / "kinds" / name).string();
    const std::string extension = std::filesystem::path(name).extension().string();
    bool readFailed = true;
    int error = 0;
    const CheckResult r = CheckFile(SystemPlatform(), path, extension, CheckOptions{true}, readFailed, error);
    EXPECT_EQ(r.verdict, Verdict::kIntact) << name << ": " << r.detail;
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
  zip.directory = Le32(reinterpret_cast<const unsigned char*>(zip.bytes.data()) + zip.end + 16);
  return zip;
}

// An end record naming `entries` entries in the `size` bytes at `start`.
std::string EndRecord(std::size_t start, std::size_t size, std::uint16_t entries) {
  std::string e;
  Add32(e, 0x06054B50), Add32(e, 0), Put16(e, entries), Put16(e, entries);
  Add32(e, static_cast<std::uint32_t>(size)), Add32(e, static_cast<std::uint32_t>(start)), Put16(e, 0);
  return e;
}

// A copy of `zip`'s central directory placed at `at`, with an end record
// that names it there: a directory whose numbers fit, but not ours. Its end
// record may count more entries, its first entry tell a longer member.
std::string DirectoryCopy(const Zip& zip, std::size_t at, int moreEntries = 0, std::uint32_t longer = 0) {
  std::string directory = zip.bytes.substr(zip.directory, zip.end - zip.directory);
  const auto* bytes = reinterpret_cast<const unsigned char*>(zip.bytes.data());
  Put32(directory, 20, Le32(bytes + zip.directory + 20) + longer);
  const auto entries = static_cast<std::uint16_t>(Le16(bytes + zip.end + 10) + moreEntries);
  return directory + EndRecord(at, directory.size(), entries);
}

// `zip` as ZIP64 writers end it: a ZIP64 end record and its locator before
// an end record whose numbers are all ones (76 bytes more).
std::string WithZip64End(const Zip& zip) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(zip.bytes.data());
  std::string s = zip.bytes.substr(0, zip.end);
  const auto wide = [&s](std::uint64_t v) { Add32(s, static_cast<std::uint32_t>(v)), Add32(s, v >> 32); };
  Add32(s, 0x06064B50), wide(44), Put16(s, 45), Put16(s, 45), Add32(s, 0), Add32(s, 0);
  wide(Le16(bytes + zip.end + 10)), wide(Le16(bytes + zip.end + 10)), wide(zip.end - zip.directory), wide(zip.directory);
  Add32(s, 0x07064B50), Add32(s, 0), wide(zip.end), Add32(s, 1);
  return s + EndRecord(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF);
}

CheckResult CheckByInflating(const std::string& path, std::uint64_t size) {
  int error = 0;
  const FileHandle file = SystemPlatform().OpenRead(path, error);
  Fragment fragment(SystemPlatform(), file, size);
  CheckResult r = CheckZipByInflating(fragment, CheckOptions{});
  SystemPlatform().Close(file);
  return r;
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
       [](const Zip& z, const Zip&) { return Patched32(z.bytes, z.directory + 42, 1); }, Verdict::kDamaged},
      {"whose first member's descriptor tells another size",
       [](const Zip& z, const Zip&) {
         // The descriptor right before the second member's local header.
         const std::size_t second = z.bytes.find("PK\x03\x04", 4);
         return Flipped(z.bytes, second - 8, 1);
       },
       Verdict::kDamaged},
  };
  TempFolder folder;
  const std::vector<Zip> zips = {ZipKind("libreoffice-docx.docx"), ZipKind("libreoffice-xlsx.xlsx"),
                                 ZipKind("libreoffice-pptx.pptx")};
  for (std::size_t i = 0; i < zips.size(); ++i) {
    for (const Variant& v : variants) {
      const std::string what = std::to_string(i) + " " + v.what, bytes = v.bytes(zips[i], zips[(i + 1) % zips.size()]);
      const std::string path = folder.Write("f", bytes);
      bool readFailed = true;
      int error = 0;
      const CheckResult r = CheckFile(SystemPlatform(), path, "docx", CheckOptions{}, readFailed, error);
      const CheckResult inflated = CheckByInflating(path, bytes.size());
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
        // Sizes taken from the directory say nothing of the data's CRC-32.
        const bool told = r.detail.find("data descriptors of") != std::string::npos;
        EXPECT_EQ(r.detail.find("CRC-32") == std::string::npos, v.fromDirectory) << what << ": " << r.detail;
        EXPECT_EQ(told, v.fromDirectory) << what << ": " << r.detail;
      } else {
        EXPECT_EQ(r.detail, inflated.detail) << what;
      }
    }
  }
}

// What the directory cannot tell, a deep check finds: a changed byte inside
// a member's deflated data.
TEST(ArchiveCheckTest, DeepCheckInflatesMembersSizedFromTheDirectory) {
  const Zip docx = ZipKind("libreoffice-docx.docx");
  ExpectAll({{"docx with member data changed, deep check", "docx", [&] { return Flipped(docx.bytes, 80, 0x10); },
              Verdict::kDamaged, kUnknown, true}});
}

}  // namespace
}  // namespace tessaro::formats
