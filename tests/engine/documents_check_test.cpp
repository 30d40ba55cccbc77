// The checkers of documents, programs, data and fonts, on what the generic
// test of real files does not reach: updates appended to a PDF and leftovers
// that point back into it, compound files cut after their first clusters,
// SQLite headers whose page count is stale, programs followed by installer
// data.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/check_kit.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::BeAt;
using testing::Check;
using testing::Describe;
using testing::Kind;
using testing::LeAt;
using testing::Patched;

// An incremental update of `pdf`: one new object and a cross-reference table
// naming it, its startxref pointing there; its /Prev the startxref before it
// unless `prev` says another.
std::string WithUpdate(const std::string& pdf, std::size_t prev = 0) {
  const std::size_t previous = prev != 0 ? prev : std::stoul(pdf.substr(pdf.rfind("startxref") + 10));
  std::string update = "99 0 obj\n(an added note)\nendobj\n";
  const std::size_t xref = pdf.size() + update.size();
  char entry[21];
  std::snprintf(entry, sizeof entry, "%010zu 00000 n\r\n", pdf.size());
  update += "xref\n99 1\n" + std::string(entry) + "trailer\n<</Size 100/Prev " + std::to_string(previous) +
            ">>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf + update;
}

// The same update with a cross-reference stream (PDF 1.5): an object of
// /Type /XRef whose entries (type, offset, generation in 1, 4 and 2 bytes)
// name the new object and the stream itself.
std::string WithStreamUpdate(const std::string& pdf) {
  const std::size_t previous = std::stoul(pdf.substr(pdf.rfind("startxref") + 10));
  std::string update = "98 0 obj\n(an added note)\nendobj\n";
  const std::size_t xref = pdf.size() + update.size();
  const std::string data = std::string("\x01", 1) + testing::Be(pdf.size()) + std::string(2, '\0') +
                           std::string("\x01", 1) + testing::Be(xref) + std::string(2, '\0');
  update += "99 0 obj\n<</Type /XRef /Size 100 /W [1 4 2] /Index [98 2] /Prev " + std::to_string(previous) +
            " /Length " + std::to_string(data.size()) + ">>\nstream\r\n" + data + "\nendstream\nendobj\nstartxref\n" +
            std::to_string(xref) + "\n%%EOF\n";
  return pdf + update;
}

TEST(DocumentCheckTest, PdfEndsAtTheLastEofWhoseStartxrefPointsAtACrossReferenceOfThisFile) {
  const std::string pdf = Kind("libreoffice-pdf.pdf");
  const std::string updated = WithUpdate(pdf);
  const std::string tail = pdf.substr(pdf.size() - 40);  // another copy's "startxref ... %%EOF"
  std::string lying = pdf.substr(pdf.size() - 40);
  lying.replace(lying.find("startxref") + 10, 1, "1");  // points at an offset that holds no cross-reference
  // Four updates, by table and by stream in turn: five "%%EOF"s.
  const std::string four = WithStreamUpdate(WithUpdate(WithStreamUpdate(updated)));
  const std::string linearized = WithStreamUpdate(Kind("qpdf-linearized.pdf"));
  const std::string streams = WithUpdate(Kind("exiftool-xref-stream-update.pdf"));
  // An update whose /Prev names the first section, not the one it follows:
  // an older revision's leftover, or a writer's slip.
  const std::string stray = WithUpdate(updated, std::stoul(pdf.substr(pdf.rfind("startxref") + 10)));
  const std::string padded = WithUpdate(pdf + std::string(300, '\0'));
  testing::ExpectCases({
      {"an update appended", "pdf", updated, Verdict::kIntact, updated.size()},
      {"four updates, by table and by stream", "pdf", four + std::string(300, '\0'), Verdict::kIntact, four.size()},
      {"a linearized file, then an update by stream", "pdf", linearized + std::string(300, '\0'), Verdict::kIntact,
       linearized.size()},
      {"exiftool's update by stream, then one by table", "pdf", streams + tail, Verdict::kIntact, streams.size()},
      {"an update that names another section before it", "pdf", stray, Verdict::kUnchecked, kUnknown},
      {"an update, then a copy of the first section's end", "pdf", updated + std::string(100, '\0') + tail,
       Verdict::kIntact, updated.size()},
      {"a copy of its own end in the slack", "pdf", pdf + std::string(37, '\0') + tail, Verdict::kIntact, pdf.size()},
      {"a startxref in the slack that points at no cross-reference", "pdf", pdf + "\n" + lying, Verdict::kIntact,
       pdf.size()},
      {"the update's end cut off", "pdf", updated.substr(0, updated.size() - 1), Verdict::kUnchecked, kUnknown},
      {"cut before the first end, a copy of it in the slack", "pdf",
       pdf.substr(0, pdf.size() - 300) + std::string(300, '\0') + tail, Verdict::kUnchecked, kUnknown},
      {"an update after zeros that pad the first revision", "pdf", padded, Verdict::kIntact, padded.size()},
  });
  // In a fragment of many files, what follows the end is the next file: the
  // later "%%EOF"s of those files are not looked for, whatever their number.
  for (const std::string& next : {Kind("ffmpeg.png"), Kind("libreoffice-pdf.pdf")}) {
    std::string others;
    while (others.size() < (8u << 20)) others += next + std::string(4096 - next.size() % 4096, '\0') + tail;
    testing::MemoryFragment memory(updated + std::string(4096 - updated.size() % 4096, '\0') + others);
    const CheckResult r = CheckFragment(memory.fragment(), "pdf", CheckOptions{});
    EXPECT_TRUE(r.verdict == Verdict::kIntact && r.length == updated.size()) << testing::Describe(r);
    EXPECT_LT(memory.platform().FarthestRead(), updated.size() + (1u << 20));
  }
}

// Compound files of every kind: whole ones end after their last sector in
// use, table sectors included, whatever follows; the first clusters of a
// long one (its table beyond them) are cut.
TEST(DocumentCheckTest, CompoundFilesEndAfterTheirLastSectorInUse) {
  for (const char* name : {"libreoffice-doc.doc", "libreoffice-xls.xls", "libreoffice-ppt.ppt", "msitools.msi"}) {
    const std::string bytes = Kind(name);
    const CheckResult r = Check("msi", bytes + std::string(3000, '\0') + bytes.substr(0, 1000));
    EXPECT_TRUE(r.verdict == Verdict::kIntact && r.length == bytes.size()) << name << ": " << Describe(r);
  }
  // msitools writes its FAT last; a writer that leaves the FAT's own entry
  // free still has the FAT sector in the file.
  const std::string msi = Kind("msitools.msi");
  const std::size_t fatSector = LeAt(msi, 0x4C);
  ASSERT_EQ((fatSector + 2) * 512, msi.size());
  const std::string unmarked = Patched(msi, 512 * (fatSector + 1) + 4 * fatSector, testing::Le(0xFFFFFFFF));
  const std::string xls = Kind("libreoffice-xls.xls");  // one FAT sector: 128 sectors
  testing::ExpectCases({
      {"a FAT sector last, its own entry free", "msi", unmarked + std::string(512, 'x'), Verdict::kIntact, msi.size()},
      {"free sectors of zeros at the end", "xls", xls + std::string(4 * 512, '\0') + Kind("libreoffice-doc.doc"),
       Verdict::kIntact, xls.size()},
  });
  for (const char* name : {"libreoffice-doc-first-clusters.doc", "libreoffice-compound-first-cluster.doc",
                           "libreoffice-xls-first-clusters.xls", "libreoffice-ppt-first-clusters.ppt"}) {
    const CheckResult r = Check("msi", Kind(name) + std::string(4096, '\0'));
    EXPECT_EQ(r.verdict, Verdict::kTruncated) << name << ": " << Describe(r);
  }
  // A directory chain that loops back on itself.
  std::string looped = Kind("libreoffice-xls.xls");
  const std::uint32_t directory = static_cast<unsigned char>(looped[0x30]);
  const std::size_t entry = 512 + 4 * directory;  // the first FAT sector is sector 0
  looped[entry] = static_cast<char>(directory);
  looped[entry + 1] = looped[entry + 2] = looped[entry + 3] = 0;
  EXPECT_EQ(Check("msi", looped).verdict, Verdict::kDamaged);
}

TEST(DocumentCheckTest, SqliteTrustsItsPageCountOnlyWhenItIsKeptUpToDate) {
  const std::string db = Kind("sqlite3.sqlite");
  std::string stale = db;
  stale[95] = static_cast<char>(stale[95] ^ 1);  // version-valid-for differs from the change counter
  EXPECT_EQ(Check("sqlite", stale).verdict, Verdict::kUnchecked);
  const CheckResult cut = Check("sqlite", db.substr(0, 4096));
  EXPECT_EQ(cut.verdict, Verdict::kTruncated);
  EXPECT_EQ(cut.expected, db.size());
}

// Installers append their payload after everything a program's headers
// describe: such a program's end is unsure, whereas other bytes are slack.
TEST(DocumentCheckTest, ProgramFollowedByInstallerDataHasNoSureEnd) {
  const std::string exe = Kind("mingw.exe");
  EXPECT_EQ(Check("exe", exe + "PK\x03\x04" + std::string(600, 'x')).verdict, Verdict::kUnchecked);
  EXPECT_EQ(Check("exe", exe + std::string("\x01\0\0\0\xEF\xBE\xAD\xDENullsoftInst", 20)).verdict,
            Verdict::kUnchecked);
  const CheckResult r = Check("exe", exe + std::string(512, '\x55'));
  EXPECT_TRUE(r.verdict == Verdict::kIntact && r.length == exe.size()) << Describe(r);
}

// A PyInstaller archive: its entries, then its cookie (mark, the archive's
// length, where its table of contents lies and how long it is, the Python
// version, the library's name).
std::string PyInstallerArchive(std::size_t entries) {
  const std::string data(entries, '\x78');
  return data + "MEI\014\013\012\013\016" + testing::Be(entries + 88) + testing::Be(entries / 2) +
         testing::Be(entries - entries / 2) + testing::Be(311) + Patched(std::string(64, '\0'), 0, "libpython3.11.so");
}

// ELF programs carry payloads too: a self-extracting ZIP (what Info-ZIP's
// `cat sfx archive.zip` and `zip -A` make), an AppImage's squashfs image, a
// PyInstaller archive whose cookie tells where it ends. The same goes for PE.
TEST(DocumentCheckTest, ProgramsKeepThePayloadAppendedToThem) {
  const std::string elf = Kind("gcc.elf");
  const std::string exe = Kind("mingw.exe");
  const std::string archive = PyInstallerArchive(700);
  const std::string squashfs = "hsqs" + testing::Le(3) + std::string(1000, '\x11');
  testing::ExpectCases({
      {"ELF, then a ZIP", "elf", elf + Kind("info-zip.zip") + std::string(300, '\0'), Verdict::kUnchecked, kUnknown},
      {"ELF, then a squashfs image", "elf", elf + squashfs, Verdict::kUnchecked, kUnknown},
      {"ELF, then a PyInstaller archive", "elf", elf + archive + std::string(300, '\0') + "MEI\014\013\012\013\016",
       Verdict::kIntact, elf.size() + archive.size()},
      {"PE, then a PyInstaller archive", "exe", exe + archive + std::string(300, '\x55'), Verdict::kIntact,
       exe.size() + archive.size()},
      {"ELF, then a cookie that measures another archive", "elf",
       elf + "x" + archive + std::string(300, '\0'), Verdict::kIntact, elf.size()},
  });
}

// Formats whose end is a mark in their text: braces that close, an end tag,
// an END line; and plain text. Slack after the end is zeros to the sector's end, then
// leftovers; a text cut before its mark has no sure end.
TEST(DocumentCheckTest, MarkedTextsEndAtTheirClosingMark) {
  const std::string zeros(512, '\0');
  const std::string rtf = "{\\rtf1 {\\b bold \\} brace}\\bin3 }}}{\\i x}}\r\n";
  const std::string xml = "<?xml version=\"1.0\"?>\n<a><b/></a>\n";
  const std::string card = "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n";
  const std::string page = "<!DOCTYPE html>\n<!-- a } -->\n<HTML><body>x</body></HTML\n>\n";
  testing::ExpectCases({
      {"RTF, zeros, then braces", "rtf", rtf + zeros + "}}}", Verdict::kIntact, rtf.size()},
      {"RTF whose last group closes at the fragment's end", "rtf", rtf.substr(0, rtf.size() - 2), Verdict::kIntact,
       rtf.size() - 2},
      {"RTF cut, then zeros", "rtf", rtf.substr(0, 20) + zeros, Verdict::kTruncated},
      {"RTF whose binary data runs past the fragment", "rtf", "{\\rtf1 \\bin99 }}", Verdict::kTruncated},
      {"HTML, zeros, then another end tag", "html", page + zeros + "</html>", Verdict::kIntact, page.size()},
      {"HTML cut before its end tag", "html", page.substr(0, 40) + zeros, Verdict::kUnchecked},
      {"XML, then zeros", "xml", xml + zeros, Verdict::kIntact, xml.size()},
      {"XML whose end tag is not its root's", "xml", "<?xml version=\"1.0\"?>\n<a><b/></b>" + zeros,
       Verdict::kUnchecked},
      {"vCard, then zeros", "vcf", card + zeros, Verdict::kIntact, card.size()},
      {"vCard without its END line", "vcf", "BEGIN:VCARD\r\nFN:A\r\n" + zeros, Verdict::kUnchecked},
      // Text that fills the fragment to a sector's end may go on in the next cluster.
      {"text to a sector's end", "txt", std::string(4096, 'a'), Verdict::kUnchecked},
      {"text ending inside a sector", "txt", std::string(4000, 'a'), Verdict::kIntact, 4000},
  });
}

// Metafiles state their size; records that do not meet it exactly are damage.
TEST(DocumentCheckTest, MetafilesWhoseRecordsMissTheDeclaredSizeAreDamaged) {
  std::string emf = Kind("libreoffice.emf");
  emf[48] = static_cast<char>(emf[48] + 4);  // nBytes four more than the records
  std::string wmf = Kind("libreoffice.wmf");
  wmf[22 + 6] = static_cast<char>(wmf[22 + 6] - 1);  // one word fewer than the records
  EXPECT_EQ(Check("emf", emf + std::string(600, '\0')).verdict, Verdict::kDamaged);
  EXPECT_EQ(Check("wmf", wmf).verdict, Verdict::kDamaged);
  const std::string whole = Kind("libreoffice.wmf");
  const CheckResult cut = Check("wmf", whole.substr(0, 1000));
  EXPECT_EQ(cut.verdict, Verdict::kTruncated);
  EXPECT_EQ(cut.expected, whole.size());
}

// Compiled HTML help states its size in its first header section: what
// follows is another file, and a size that leaves out the directory, or an
// ITSF header that points elsewhere, is damage.
TEST(DocumentCheckTest, CompiledHelpEndsAtTheSizeItsHeaderSectionStates) {
  const std::string chm = Kind("chmcmd.chm");
  const std::size_t section0 = LeAt(chm, 0x38, 8);
  ASSERT_EQ(LeAt(chm, section0 + 8, 8), chm.size());
  testing::ExpectCases({
      {"another help file after it", "chm", chm + chm, Verdict::kIntact, chm.size()},
      {"a size short of the directory", "chm", Patched(chm, section0 + 8, testing::Le(0x80, 8)), Verdict::kDamaged},
      {"a size past the fragment", "chm", Patched(chm, section0 + 8, testing::Le(chm.size() + 512, 8)),
       Verdict::kTruncated, chm.size() + 512},
      {"the first header section moved", "chm", Patched(chm, 0x38, testing::Le(section0 + 8, 8)), Verdict::kDamaged},
  });
}

// A Kindle book ends with its end-of-book record; a last record of another
// kind runs to the end of the file, and records out of order are damage.
TEST(DocumentCheckTest, KindleBooksEndWithTheirEndOfBookRecord) {
  const std::string mobi = Kind("calibre.mobi");
  const std::size_t records = BeAt(mobi, 76, 2);
  const std::size_t last = 78 + 8 * (records - 1);
  ASSERT_EQ(BeAt(mobi, last, 4) + 4, mobi.size());
  testing::ExpectCases({
      {"another book after it", "mobi", mobi + mobi, Verdict::kIntact, mobi.size()},
      {"a last record of text", "mobi", Patched(mobi, mobi.size() - 4, "text"), Verdict::kUnchecked},
      {"records out of order", "mobi", Patched(mobi, last, testing::Be(BeAt(mobi, last - 8, 4), 4)), Verdict::kDamaged},
  });
}

// Some font tools sum the head table with its adjustment field as it stands
// (WenQuanYi's collection in Debian): such a font is whole. A table checksum
// otherwise wrong is damage.
TEST(DocumentCheckTest, FontHeadChecksumsOfEitherKindAreRight) {
  const std::string font = Kind("fonttools-dejavu.ttf");
  std::size_t record = 12;
  while (font.compare(record, 4, "head") != 0) record += 16;
  const std::size_t head = BeAt(font, record + 8);
  const std::string summedAsItStands =
      Patched(font, record + 4, testing::Be((BeAt(font, record + 4) + BeAt(font, head + 8)) & 0xFFFFFFFF));
  const CheckResult r = Check("ttf", summedAsItStands + std::string(500, '\0'));
  EXPECT_TRUE(r.verdict == Verdict::kIntact && r.length == font.size()) << Describe(r);
  const std::string wrong = Patched(font, record + 4, testing::Be((BeAt(font, record + 4) + 1) & 0xFFFFFFFF));
  EXPECT_EQ(Check("ttf", wrong).verdict, Verdict::kDamaged);
}

// Programs and data whose headers were changed or whose ends were cut, each
// against what its structure then says.
TEST(DocumentCheckTest, ProgramsAndDataAgainstChangedHeaders) {
  const std::string elf = Kind("gcc.elf");  // its section header table is last, at 12600
  std::string elfBadEntry = elf;
  elfBadEntry[58] = 32;  // e_shentsize
  // A signed program: the certificate table (data directory 4, by file
  // offset) is last, and what follows it is outside the signature.
  const std::string exe = Kind("mingw.exe");
  const std::size_t optional = LeAt(exe, 0x3C) + 24;
  std::string signedExe = exe + std::string(64, '\x30');
  signedExe = Patched(signedExe, optional + 108, testing::Le(std::max<std::uint64_t>(LeAt(exe, optional + 108), 5)));
  signedExe = Patched(signedExe, optional + 112 + 8 * 4, testing::Le(exe.size()) + testing::Le(64));
  std::string badConstant = Kind("openjdk.class");
  badConstant[10] = 2;  // no constant pool tag 2
  const std::string wasm = Kind("clang.wasm");
  std::string wasmOutOfOrder = wasm + std::string("\x02\x01\x00", 3) + std::string(600, '\0');
  std::string woff = Kind("fonttools-dejavu.woff");
  woff = Patched(woff, 8, testing::Be(woff.size() + 4));
  std::string db = Kind("sqlite3.sqlite");
  testing::ExpectCases({
      {"ELF without its section header table", "elf", elf.substr(0, 12600) + std::string(2000, '\0'),
       Verdict::kTruncated, elf.size()},
      {"ELF with an impossible entry size", "elf", elfBadEntry, Verdict::kDamaged, kUnknown},
      {"signed PE, then an archive", "exe", signedExe + "PK\x03\x04" + std::string(100, 'x'), Verdict::kIntact,
       signedExe.size()},
      {"signed PE without its certificates", "exe", signedExe.substr(0, exe.size() + 10), Verdict::kTruncated,
       signedExe.size()},
      {"class with an unknown constant", "class", badConstant, Verdict::kDamaged, kUnknown},
      {"WebAssembly, then a section out of its order", "wasm", wasmOutOfOrder, Verdict::kUnchecked, kUnknown},
      {"WebAssembly, then zeros", "wasm", wasm + std::string(600, '\0'), Verdict::kIntact, wasm.size()},
      {"WOFF whose length runs past its tables", "woff", woff + std::string(8, '\0'), Verdict::kDamaged, kUnknown},
      {"SQLite cut after its first page", "sqlite", db.substr(0, 4096) + std::string(512, '\0'), Verdict::kTruncated,
       db.size()},
  });
}

// The root's mini stream (in regular sectors) whose size says one sector
// more than its chain holds.
TEST(DocumentCheckTest, CompoundStreamWhoseChainMissesItsSizeIsDamaged) {
  std::string ppt = Kind("libreoffice-ppt.ppt");
  const std::size_t root = (LeAt(ppt, 0x30) + 1) * 512;
  ASSERT_EQ(ppt[root + 66], 5);
  ppt = Patched(ppt, root + 120, testing::Le(LeAt(ppt, root + 120) + 512));
  const CheckResult r = Check("msi", ppt);
  EXPECT_EQ(r.verdict, Verdict::kDamaged) << Describe(r);
}

}  // namespace
}  // namespace tessaro::formats
