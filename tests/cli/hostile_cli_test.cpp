// tessaro-cli against hostile folders, names and catalogues: it ends, with
// the exit code that says what happened, its JSON parses whatever the names
// are, no name is lost in it, and no fragment changes.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/platform.h"
#include "support/json_check.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCatalogue =
    "[JPEG image]\noffset=0\nsignature=FFD8FF\npostfix=.jpg\n"
    "[PNG image]\noffset=0\nsignature=89504E47\npostfix=.png\n";

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

// The names a recover --json document reports, as the bytes they stand for
// (from name_hex where the name is no UTF-8), one hex line each; or a line
// starting "error" when the document does not parse.
std::set<std::string> ReportedNames(const std::string& json) {
#if defined(_WIN32)
  // No python3 here: the tests' own reader.
  std::set<std::string> names;
  JsonValue doc;
  if (!ParseJson(json, doc)) return {"error: no JSON document"};
  const JsonValue* files = doc.Find("files");
  if (files == nullptr) return {"error: no files"};
  for (const JsonValue& f : files->items) {
    const JsonValue* hex = f.Find("name_hex");
    const JsonValue* name = f.Find("name");
    names.insert(hex != nullptr ? hex->text : name != nullptr ? Hex(name->text) : "error: a file without a name");
  }
  return names;
#else
  TempFolder scratch;
  const std::string path = scratch.Write("doc.json", json);
  const char* script =
      "import json,sys\n"
      "try:\n"
      "  doc = json.load(open(sys.argv[1], encoding='utf-8'))\n"
      "except Exception as e:\n"
      "  print('error', e); sys.exit(0)\n"
      "for f in doc['files']:\n"
      "  print(f['name_hex'] if 'name_hex' in f else f['name'].encode('utf-8').hex())\n";
  const ProgramResult r = RunProgram("/usr/bin/python3", {"-c", script, path});
  std::set<std::string> names;
  std::size_t start = 0;
  while (start < r.out.size()) {
    const std::size_t end = r.out.find('\n', start);
    names.insert(r.out.substr(start, end - start));
    start = end == std::string::npos ? r.out.size() : end + 1;
  }
  if (r.exitCode != 0) names.insert("error: python3 failed: " + r.err);
  return names;
#endif
}

class HostileCliTest : public ::testing::Test {
 protected:
  void SetUp() override { catalogue = work.Write("kinds.cfg", kCatalogue); }
  std::string Jpeg(std::size_t n, std::uint32_t seed) {
    return Bytes({0xFF, 0xD8, 0xFF, 0xE0}) + RandomBytes(n, seed);
  }
  TempFolder work, source, dest;
  std::string catalogue;
};

// A fragment for every byte a name may hold (all but 0 and '/'), and the
// sequences that are no UTF-8: lone continuation bytes, overlong forms,
// surrogates, truncated sequences. Both passes' JSON parse; recover's names
// every one of them, byte for byte. A Windows name is Unicode without control
// characters or <>:"/\|?*, and one letter's two cases name one file: there
// every other printable character stands in the name, with letters of other
// scripts and characters beyond the 16-bit range.
TEST_F(HostileCliTest, JsonStaysValidAndNamesEveryFragmentWhateverItsName) {
  std::set<std::string> names;
#if defined(_WIN32)
  for (int b = 0x20; b < 0x7F; ++b) {
    if (std::string("<>:\"/\\|?*.").find(static_cast<char>(b)) != std::string::npos) continue;
    if (FileNamesIgnoreCase() && b >= 'A' && b <= 'Z') continue;
    names.insert(std::string("n").append(1, static_cast<char>(b)).append("x.CHK"));
  }
  for (const char* odd : {"\xc3\xa9t\xc3\xa9", "\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1", "\xe6\x96\x87\xe4\xbb\xb6",
                          "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d", "\xf0\x9f\x93\xb7", "\xf0\xa0\x80\x80", "\xef\xbb\xbf",
                          "-rf", "--json", "%PATH%", "'single'"}) {
    names.insert(std::string(odd) + ".CHK");
  }
#else
  for (int b = 1; b < 256; ++b) {
    if (b == '/' || b == '.') continue;
    names.insert(std::string("n").append(1, static_cast<char>(b)).append("x.CHK"));
  }
  for (const char* odd : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE6\x96",
                          "\xFF\xFE", "\"quoted\"", "back\\slash", "\\u0000", "-rf", "--json", "\x1b[31mred"}) {
    names.insert(std::string(odd) + ".CHK");
  }
#endif
  names.insert(std::string(255, 'L'));
  std::uint32_t seed = 1;
  for (const std::string& name : names) source.Write(name, Jpeg(100, seed++));
  const FragmentSnapshot before(source.path());

  const ProgramResult detected = RunCli({"--config", catalogue, "detect", "--json", source.str()});
  EXPECT_EQ(detected.exitCode, 0) << detected.err;
  EXPECT_TRUE(IsValidJson(detected.out)) << detected.out;
  EXPECT_NE(detected.out.find("\"total\":" + std::to_string(names.size())), std::string::npos) << detected.out;

  const ProgramResult recovered = RunCli({"--config", catalogue, "recover", "--json", source.str(), dest.str()});
  EXPECT_TRUE(IsValidJson(recovered.out)) << recovered.out;
  std::set<std::string> expected;
  for (const std::string& name : names) expected.insert(Hex(name));
  EXPECT_EQ(ReportedNames(recovered.out), expected);
  // Only the 255-byte name cannot take ".jpg": one failure, exit 1.
  EXPECT_EQ(recovered.exitCode, 1) << recovered.err;
  EXPECT_NE(recovered.out.find("\"recovered\":" + std::to_string(names.size() - 1)), std::string::npos);
  EXPECT_EQ(before.Changes(), "");
}

// The folders themselves with hostile names, as operands after "--". (On
// Windows, where every name is Unicode, the folder has letters beyond the
// code pages instead.)
TEST_F(HostileCliTest, FolderNamesThatLookLikeOptionsOrAreNoUtf8) {
#if defined(_WIN32)
  const std::string from = source.Sub("-\xce\xa9 folder \xf0\x9f\x93\x82");
#else
  const std::string from = source.Sub("-\xff folder\n");
#endif
  const std::string to = dest.Sub("--json");
  const std::string bytes = Jpeg(3000, 9);
  std::ofstream(PathOf(JoinPath(from, "F.CHK")), std::ios::binary) << bytes;
  const FragmentSnapshot before(PathOf(from));
  const ProgramResult r = RunCli({"--config", catalogue, "recover", "--json", "--", from, to});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(IsValidJson(r.out)) << r.out;
#if defined(_WIN32)
  JsonValue doc;
  ASSERT_TRUE(ParseJson(r.out, doc)) << r.out;
  EXPECT_EQ(doc.Find("folder")->text, from);
  EXPECT_EQ(doc.Find("destination")->text, to);
#else
  EXPECT_NE(r.out.find("\"folder_hex\":\"" + Hex(from) + "\""), std::string::npos) << r.out;
#endif
  EXPECT_EQ(HashBytes(ReadAll(JoinPath(to, "F.jpg"))), HashBytes(bytes));
  EXPECT_EQ(before.Changes(), "");
}

// Pipes, sockets, devices and links in the folder: the passes end, handle the
// files only, and leave everything as it was.
#if !defined(_WIN32)
TEST_F(HostileCliTest, SpecialFilesInTheFolderNeitherStallNorCount) {
  const std::string picture = Jpeg(5000, 3);
  source.Write("F.CHK", picture);
  const FragmentSnapshot before(source.path());
  ASSERT_EQ(::mkfifo((source.str() + "/PIPE.CHK").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", source.path() / "ZERO.CHK");
  fs::create_symlink(source.path() / "LOOP.CHK", source.path() / "LOOP.CHK");
  fs::create_symlink(source.path(), source.path() / "SELF.CHK");

  const ProgramResult detected = RunCli({"--config", catalogue, "detect", "--json", source.str()});
  EXPECT_EQ(detected.exitCode, 0) << detected.err;
  EXPECT_NE(detected.out.find("\"total\":1"), std::string::npos) << detected.out;
  const ProgramResult recovered = RunCli({"--config", catalogue, "recover", source.str(), dest.str()});
  EXPECT_EQ(recovered.exitCode, 0) << recovered.err;
  EXPECT_EQ(HashBytes(ReadAll(dest.str() + "/F.jpg")), HashBytes(picture));
  EXPECT_EQ(std::distance(fs::directory_iterator(dest.path()), fs::directory_iterator()), 1);
  EXPECT_EQ(before.Changes(), "");

  // Named one by one, the same things have no kind and block nothing; only
  // what cannot be queried at all is a failure.
  const ProgramResult identified = RunCli({"--config", catalogue, "identify", source.str() + "/PIPE.CHK",
                                           source.str() + "/ZERO.CHK", source.str() + "/SELF.CHK",
                                           source.str() + "/LOOP.CHK", source.str() + "/F.CHK"});
  EXPECT_EQ(identified.exitCode, 1);
  EXPECT_NE(identified.out.find(source.str() + "/PIPE.CHK\t-\t-\n"), std::string::npos) << identified.out;
  EXPECT_NE(identified.out.find(source.str() + "/ZERO.CHK\t-\t-\n"), std::string::npos) << identified.out;
  EXPECT_NE(identified.out.find(source.str() + "/F.CHK\t.jpg\tJPEG image\n"), std::string::npos) << identified.out;
  EXPECT_NE(identified.err.find("cann't get " + source.str() + "/LOOP.CHK information"), std::string::npos)
      << identified.err;
}
#endif

// Destinations that are a file, the source, or inside the source.
TEST_F(HostileCliTest, DestinationsThatAreAFileTheSourceOrInsideIt) {
  const std::string picture = Jpeg(40000, 5);
  source.Write("F.CHK", picture);
  source.Write("F.jpg", Jpeg(41000, 6));
  const FragmentSnapshot before(source.path());

  const std::string file = work.Write("a-file", "keep me");
  const ProgramResult toFile = RunCli({"--config", catalogue, "recover", source.str(), file});
  EXPECT_EQ(toFile.exitCode, 2);
  EXPECT_NE(toFile.err.find("is not a folder"), std::string::npos) << toFile.err;
  EXPECT_EQ(ReadAll(file), "keep me");

  const ProgramResult toSelf = RunCli({"--config", catalogue, "recover", "--json", source.str(), source.str()});
  EXPECT_EQ(toSelf.exitCode, 0) << toSelf.err;
  EXPECT_TRUE(IsValidJson(toSelf.out));
  EXPECT_EQ(before.Changes(), "");
  // F.jpg is a fragment, so the copy of F.CHK takes the next free name; which
  // one depends on whether the fragment F.jpg was handled first.
  EXPECT_TRUE(HashBytes(ReadAll(JoinPath(source.str(), "F (2).jpg"))) == HashBytes(picture) ||
              HashBytes(ReadAll(JoinPath(source.str(), "F (3).jpg"))) == HashBytes(picture));

  TempFolder other;
  other.Write("G.CHK", picture);
  const std::string inside = other.Sub("out");
  const FragmentSnapshot otherBefore(other.path());
  for (int run = 0; run < 2; ++run) {
    const ProgramResult r = RunCli({"--config", catalogue, "recover", other.str(), inside});
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(PathOf(inside)), fs::directory_iterator()), 1);
  EXPECT_EQ(otherBefore.Changes(), "");
}

// Catalogues that are no catalogue: a pipe, a device, a folder, rubbish, too
// many kinds. Each ends at once with exit 2 and the reason; nothing is read.
// (Windows has no pipes in folders; its null device stands for the devices.)
TEST_F(HostileCliTest, HostileCataloguesEndWithExitTwo) {
  source.Write("F.CHK", Jpeg(100, 1));
  const FragmentSnapshot before(source.path());
  std::string many;
  for (int i = 0; i < 301; ++i) many += "[k" + std::to_string(i) + "]\noffset=0\nsig=41\npostfix=.k\n";
#if defined(_WIN32)
  const std::vector<std::string> catalogues = {"NUL", work.Sub("folder.cfg"),
                                               work.Write("rubbish.cfg", RandomBytes(20000, 11)),
                                               work.Write("many.cfg", many)};
#else
  const std::string fifo = work.str() + "/fifo.cfg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::string> catalogues = {fifo, "/dev/zero", "/dev/null", work.Sub("folder.cfg"),
                                               work.Write("rubbish.cfg", RandomBytes(20000, 11)),
                                               work.Write("many.cfg", many)};
#endif
  for (const std::string& bad : catalogues) {
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"kinds"}, {"detect", "--json", source.str()}, {"recover", source.str(), dest.str()}}) {
      std::vector<std::string> args = {"--config", bad};
      args.insert(args.end(), command.begin(), command.end());
      const ProgramResult r = RunCli(args);
      EXPECT_EQ(r.exitCode, 2) << bad << " " << command[0];
      EXPECT_FALSE(r.err.empty()) << bad << " " << command[0];
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dest.path()), fs::directory_iterator()), 0);
  EXPECT_EQ(before.Changes(), "");
}

}  // namespace
}  // namespace tessaro::testing
