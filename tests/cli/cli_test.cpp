// tessaro-cli end to end: real files in, outputs byte for byte, fragments untouched.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/platform.h"
#include "support/json_check.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCatalogue =
    "[JPEG image]\noffset=0\nsignature=FFD8FF\npostfix=.jpg\n"
    "[Word document]\noffset=0\nsignature=504B0304\naddon=776F72642F\npostfix=.docx\n"
    "[ZIP archive]\noffset=0\nsignature=504B0304\npostfix=.zip\n"
    "[Text document]\npostfix=.txt\n";

// A path as a JSON string holds it: Windows paths have backslashes to escape.
std::string InJson(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalogue = work.Write("kinds.cfg", kCatalogue);
    jpeg = Bytes({0xFF, 0xD8, 0xFF, 0xE0}) + RandomBytes(50000, 4);
    docx = std::string("PK\x03\x04", 4) + RandomBytes(1000, 5) + "word/document.xml" + RandomBytes(80000, 6);
    source.Write("FILE0000.CHK", jpeg);
    source.Write("FILE0001.CHK", docx);
    source.Write("FILE0002.CHK", "Dear diary,\nno kind but text.\n");
    source.Write("FILE0003.CHK", RandomBytes(4096, 7) + std::string(1, '\0'));
  }
  TempFolder work, source, dest;
  std::string catalogue, jpeg, docx;
};

TEST_F(CliTest, IdentifyPrintsOneLinePerFile) {
  const auto r = RunCli({"--config", catalogue, "identify", source.str() + "/FILE0000.CHK",
                         source.str() + "/FILE0003.CHK"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, source.str() + "/FILE0000.CHK\t.jpg\tJPEG image\n" + source.str() + "/FILE0003.CHK\t-\t-\n");
}

TEST_F(CliTest, IdentifyFailureGivesDashLineErrorTextAndExitOne) {
  const std::string missing = source.str() + "/absent";
  const auto r = RunCli({"--config", catalogue, "identify", missing, source.str() + "/FILE0001.CHK"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, missing + "\t-\t-\n" + source.str() + "/FILE0001.CHK\t.docx\tWord document\n");
  EXPECT_EQ(r.err, "cann't get " + missing + " information\n");
}

TEST_F(CliTest, KindsListsTheTableInOrder) {
  TempFolder w;
  const std::string cfg = w.Write("k.cfg", "[Two sigs]\no1=0\ns1=4142\no2=8\ns2=43\npostfix=.ts\naddon=44\naddon2=45\n[Bare]\n");
  const auto r = RunCli({"--config", cfg, "kinds"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "0\tTwo sigs\t.ts\t0,8\t4142,43\t44,45\n1\t\t\t\t\t\n");
}

TEST_F(CliTest, CatalogueThatFailsToLoadGivesItsErrorAndExitTwo) {
  const std::string missing = work.str() + "/nope.cfg";
  const auto r = RunCli({"--config", missing, "kinds"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "default configure file " + missing + " not exist\n");
}

TEST_F(CliTest, CatalogueInTheCurrentFolderComesBeforeTheInstalledOne) {
  TempFolder cwd;
  cwd.Write("tessaro.cfg", "[Only here]\no=0\ns=5A5A\npostfix=.zz\n");
  const auto r = RunCli({"kinds"}, cwd.str());
  EXPECT_EQ(r.out, "0\tOnly here\t.zz\t0\t5A5A\t\n");
  TempFolder empty;
  const auto installed = RunCli({"kinds"}, empty.str());
  EXPECT_EQ(installed.exitCode, 0) << installed.err;
  EXPECT_NE(installed.out.find("JPEG"), std::string::npos);
}

// Where no catalogue is named: ./tessaro.cfg, then the one beside the program
// (the Windows zip unpacks flat), then the installed one in ../share/tessaro.
TEST_F(CliTest, CatalogueIsLookedForHereThenBesideTheProgramThenInstalled) {
  TempFolder tree;
  const fs::path bin = PathOf(tree.Sub("bin"));
  const fs::path program = bin / PathOf(TESSARO_CLI_PATH).filename();
  fs::copy_file(PathOf(TESSARO_CLI_PATH), program);
  const std::string beside = Utf8(bin / "tessaro.cfg");
  std::ofstream(PathOf(beside), std::ios::binary) << "[Beside]\no=0\ns=4242\npostfix=.bb\n";
  tree.Write(Utf8(fs::path("share") / "tessaro" / "tessaro.cfg"), "[Installed]\no=0\ns=4949\npostfix=.ii\n");
  TempFolder here;
  here.Write("tessaro.cfg", "[Here]\no=0\ns=4848\npostfix=.hh\n");
  TempFolder empty;

  auto firstKind = [&](const std::string& folder) {
    const ProgramResult r = RunProgram(Utf8(program), {"kinds"}, folder);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out.substr(0, r.out.find('\t', 2));
  };
  EXPECT_EQ(firstKind(here.str()), "0\tHere");
  EXPECT_EQ(firstKind(empty.str()), "0\tBeside");
  fs::remove(PathOf(beside));
  EXPECT_EQ(firstKind(empty.str()), "0\tInstalled");
}

TEST_F(CliTest, DetectPrintsTheTableAndTheSummary) {
  FragmentSnapshot before(source.path());
  const auto r = RunCli({"--config", catalogue, "detect", source.str()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("JPEG image"), std::string::npos);
  EXPECT_NE(r.out.find("Word document"), std::string::npos);
  EXPECT_EQ(r.out.find("ZIP archive"), std::string::npos);  // no files: left out
  EXPECT_NE(r.out.find("共发现 3 个可恢复的文件"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("examined 4, no kind 1, could not be read 0\n"), std::string::npos) << r.out;
  const auto all = RunCli({"--config", catalogue, "detect", "--all", source.str()});
  EXPECT_NE(all.out.find("ZIP archive"), std::string::npos);
  EXPECT_EQ(r.err, "");  // no live display when standard error is not a terminal
  EXPECT_EQ(before.Changes(), "");
}

TEST_F(CliTest, DetectJsonHasEveryRowAndTheSum) {
  const auto r = RunCli({"--config", catalogue, "detect", "--json", source.str()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(IsValidJson(r.out)) << r.out;
  EXPECT_NE(r.out.find("\"name\":\"ZIP archive\",\"extension\":\".zip\",\"count\":0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"name\":\"Text document\",\"extension\":\".txt\",\"count\":1"), std::string::npos);
  EXPECT_NE(r.out.find("\"total\":3,\"examined\":4,\"no_kind\":1,\"failed\":0"), std::string::npos) << r.out;
}

TEST_F(CliTest, RecoverCopiesByteForByteAndLeavesFragmentsAlone) {
  FragmentSnapshot before(source.path());
  const auto r = RunCli({"--config", catalogue, "recover", source.str(), dest.str()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0000.jpg"), jpeg);
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0001.docx"), docx);
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0002.txt"), "Dear diary,\nno kind but text.\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dest.path()), {}), 3);
  EXPECT_NE(r.out.find("recovered 3, skipped (no kind) 1, failed 0"), std::string::npos) << r.out;
  EXPECT_EQ(before.Changes(), "");
}

TEST_F(CliTest, RecoverJsonNamesEachFragment) {
  const auto r = RunCli({"--config", catalogue, "recover", "--json", source.str(), dest.str()});
  EXPECT_EQ(r.exitCode, 0);
  ASSERT_TRUE(IsValidJson(r.out)) << r.out;
  EXPECT_NE(r.out.find("{\"name\":\"FILE0003.CHK\",\"kind\":null,\"extension\":null,\"output\":null,"
                       "\"failure\":null,\"bytes\":0}"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"output\":\"" + InJson(JoinPath(dest.str(), "FILE0000.jpg")) +
                       "\",\"failure\":null,\"bytes\":50004"),
            std::string::npos)
      << r.out;
}

#if !defined(_WIN32)
TEST_F(CliTest, NamesThatAreNotUtf8StayValidJsonAndAreNotLost) {
  TempFolder odd;
  odd.Write(std::string("bad\xFF\xFEname\n.CHK"), "odd but text\n");
  const auto r = RunCli({"--config", catalogue, "recover", "--json", odd.str(), dest.str()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_TRUE(IsValidJson(r.out)) << r.out;
  EXPECT_NE(r.out.find("\"name_hex\":\"626164fffe6e616d650a2e43484b\""), std::string::npos) << r.out;
  EXPECT_EQ(ReadAll(dest.str() + "/bad\xFF\xFEname\n.txt"), "odd but text\n");
}
#else
// Windows names are always Unicode; those beyond the Latin and Chinese code
// pages reach the program through its arguments and the folder listing, and
// its output, unchanged.
TEST_F(CliTest, NamesBeyondTheCodePagesAreNamedInTheJsonAndRecovered) {
  TempFolder odd;
  const std::string name = "\xd0\xa4\xd0\xbe\xd1\x82\xd0\xbe \xf0\x9f\x93\xb7";  // "Фото 📷"
  const std::string folder = odd.Sub("\xce\xb1\xce\xb2\xce\xb3");             // "αβγ"
  std::ofstream(PathOf(JoinPath(folder, name + ".CHK")), std::ios::binary) << "odd but text\n";
  const auto r = RunCli({"--config", catalogue, "recover", "--json", folder, dest.str()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  JsonValue doc;
  ASSERT_TRUE(ParseJson(r.out, doc)) << r.out;
  ASSERT_NE(doc.Find("folder"), nullptr);
  EXPECT_EQ(doc.Find("folder")->text, folder);
  ASSERT_EQ(doc.Find("files")->items.size(), 1u);
  EXPECT_EQ(doc.Find("files")->items[0].Find("name")->text, name + ".CHK");
  EXPECT_EQ(ReadAll(JoinPath(dest.str(), name + ".txt")), "odd but text\n");
}
#endif

TEST_F(CliTest, FailuresOfSingleFilesGiveMessageLinesAndExitOne) {
  // A folder where an output should go cannot be created as a file, even by root.
  fs::create_directory(dest.path() / "FILE0000.jpg");
  const auto r = RunCli({"--config", catalogue, "recover", source.str(), dest.str() + "/"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Open File Error: Create file " + dest.str() + "/" + PathSeparator() + "FILE0000.jpg"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("recovered 2, skipped (no kind) 1, failed 1"), std::string::npos) << r.out;
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0001.docx"), docx);  // the pass went on
}

TEST_F(CliTest, UsageErrorsExitTwoWithAReason) {
  struct Case {
    std::vector<std::string> args;
    std::string reason;  // a part of the one line on standard error
  };
  const std::string absent = source.str() + "/absent";
  const std::string file = source.str() + "/FILE0000.CHK";
  const Case cases[] = {
      {{"frobnicate"}, "unknown command"},
      {{"--bogus", "kinds"}, "unknown option"},
      {{"--config"}, "needs a FILE"},
      {{"--config", catalogue, "detect"}, "expected one FOLDER"},
      {{"--config", catalogue, "detect", absent}, absent + " does not exist"},
      {{"--config", catalogue, "detect", file}, file + " is not a folder"},
      {{"--config", catalogue, "recover", absent, dest.str()}, absent + " does not exist"},
      {{"--config", catalogue, "recover", source.str()}, "expected FOLDER and DEST"},
      {{"--config", catalogue, "recover", source.str(), file}, "destination " + file + " is not a folder"},
      {{"--config", catalogue, "recover", source.str(), file + "/sub"}, "cannot make the destination"},
      {{"--config", catalogue, "identify"}, "no FILE given"},
      {{"--config", catalogue, "recover", "--names", "title", source.str(), dest.str()}, "--names takes content"},
      {{"--config", catalogue, "recover", "--sort=date", source.str(), dest.str()}, "--sort takes kind"},
      {{"--config", catalogue, "recover", source.str(), dest.str(), "--sort"}, "--sort needs a value"},
      {{"--config", catalogue, "detect", "--sort", "kind", source.str()}, "belong to recover"},
  };
  for (const Case& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, 2) << ::testing::PrintToString(c.args);
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_TRUE(fs::is_empty(dest.path()));
}

// A destination that is not there yet is made, with the folders above it, as
// cp and rsync users expect.
TEST_F(CliTest, RecoverMakesAMissingDestinationAndItsParents) {
  const std::string deep = dest.str() + "/recovered/from the stick/";
  const auto r = RunCli({"--config", catalogue, "recover", source.str(), deep});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadAll(deep + "FILE0000.jpg"), jpeg);
}

TEST_F(CliTest, HelpAndVersion) {
  const auto help = RunCli({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("recover FOLDER DEST"), std::string::npos);
  // "help" says the same; nothing at all says it too, as a usage error.
  EXPECT_EQ(RunCli({"help"}).out, help.out);
  const auto nothing = RunCli({});
  EXPECT_EQ(nothing.exitCode, 2);
  EXPECT_EQ(nothing.out, help.out);
  const auto version = RunCli({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.out.find("3.40"), std::string::npos);
}

TEST_F(CliTest, NamesWithLeadingDashesAfterDoubleDash) {
  const std::string path = source.Write("-rf.CHK", "text\n");
  const auto r = RunCli({"--config", catalogue, "identify", "--", "-rf.CHK"}, source.str());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "-rf.CHK\t.txt\ttext file\n");
}

TEST_F(CliTest, InterruptStopsLikeTheStopButtonAndKeepsThePartialCopy) {
#if defined(_WIN32)
  GTEST_SKIP() << "Ctrl-C reaches only the programs of a shared console, and Wine gives the test none to share";
#else
  TempFolder big;
  for (int i = 0; i < 40; ++i) big.Write("F" + std::to_string(i) + ".CHK", std::string(4 << 20, 'x'));
  FragmentSnapshot before(big.path());
  const auto r = RunCli({"--config", catalogue, "recover", big.str(), dest.str()}, {}, [&](int pid) {
    // Once the first output has appeared, press "stop".
    for (int i = 0; i < 5000 && fs::is_empty(dest.path()); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(r.exitCode, 130) << r.err;
  const auto outputs = std::distance(fs::directory_iterator(dest.path()), {});
  EXPECT_GE(outputs, 1);
  EXPECT_LT(outputs, 40);
  for (const auto& entry : fs::directory_iterator(dest.path())) {
    const std::string bytes = ReadAll(entry.path().string());
    EXPECT_EQ(bytes, std::string(bytes.size(), 'x'));  // a prefix of its fragment
  }
  EXPECT_EQ(before.Changes(), "");
#endif
}

}  // namespace
}  // namespace tessaro::testing

namespace tessaro::testing {
namespace {

// What the files' own structure says: a PNG followed by slack is intact and,
// with --trim, written up to its true end only; one cut short or with a byte
// changed is copied whole, as every file is without --trim.
TEST(CliCheckTest, CheckDetectAndTrimSayWhatTheStructureSays) {
  TempFolder source, dest;
  const std::string png = ReadAll(std::string(TESSARO_SOURCE_DIR) + "/tests/data/kinds/imagemagick.png");
  std::string changed = png;
  changed[png.size() / 2] = static_cast<char>(changed[png.size() / 2] ^ 0x01);
  const std::string slack = png + std::string(4096 - png.size(), '\0');
  source.Write("FILE0000.CHK", slack);
  source.Write("FILE0001.CHK", png.substr(0, png.size() / 2));
  source.Write("FILE0002.CHK", changed);
  source.Write("FILE0003.CHK", RandomBytes(3000, 3) + std::string(1, '\0'));
  const FragmentSnapshot before(source.path());
  const std::string catalogue = SharedCatalogue();

  const auto check = RunCli({"--config", catalogue, "check", source.str() + "/FILE0000.CHK",
                             source.str() + "/FILE0001.CHK", source.str() + "/FILE0003.CHK"});
  EXPECT_EQ(check.exitCode, 0) << check.err;
  EXPECT_NE(check.out.find("/FILE0000.CHK\t.png\tintact\t" + std::to_string(png.size()) + "\t"), std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("/FILE0001.CHK\t.png\ttruncated\t-\t"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("/FILE0003.CHK\t-\tunchecked\t-\tno kind\n"), std::string::npos) << check.out;

  const auto detected = RunCli({"--config", catalogue, "detect", "--check", "--json", source.str()});
  EXPECT_EQ(detected.exitCode, 0) << detected.err;
  EXPECT_NE(detected.out.find("\"extension\":\".png\",\"count\":3,\"intact\":1,\"truncated\":1,\"damaged\":1,"
                              "\"unchecked\":0"),
            std::string::npos)
      << detected.out;

  const auto trimmed = RunCli({"--config", catalogue, "recover", "--trim", "--json", source.str(), dest.str()});
  EXPECT_EQ(trimmed.exitCode, 0) << trimmed.err;
  JsonValue doc;
  ASSERT_TRUE(ParseJson(trimmed.out, doc)) << trimmed.out;
  std::map<std::string, const JsonValue*> byName;
  for (const JsonValue& file : doc.Find("files")->items) byName[file.Find("name")->text] = &file;
  EXPECT_EQ(byName["FILE0000.CHK"]->Find("verdict")->text, "intact");
  EXPECT_EQ(byName["FILE0000.CHK"]->Find("length")->text, std::to_string(png.size()));
  EXPECT_EQ(byName["FILE0000.CHK"]->Find("bytes")->text, std::to_string(png.size()));
  EXPECT_EQ(byName["FILE0001.CHK"]->Find("length")->type, JsonValue::Type::kNull);
  EXPECT_EQ(byName["FILE0002.CHK"]->Find("verdict")->text, "damaged");
  EXPECT_EQ(byName["FILE0003.CHK"]->Find("verdict")->text, "unchecked");
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0000.png"), png);
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0001.png"), png.substr(0, png.size() / 2));
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0002.png"), changed);
  EXPECT_EQ(doc.Find("verdicts")->Find("intact")->text, "1");
  EXPECT_EQ(before.Changes(), "");
}

TEST(CliLintTest, ShippedCatalogueIsCleanAndFindingsExitOne) {
  const auto clean = RunCli({"lint", SharedCatalogue()});
  EXPECT_EQ(clean.exitCode, 0) << clean.out;
  // Only information: the kinds of one file type that share its extension.
  std::istringstream lines(clean.out);
  for (std::string line; std::getline(lines, line);) EXPECT_NE(line.find(": info: "), std::string::npos) << line;
  TempFolder folder;
  const std::string bad = folder.Write("bad.cfg", "[Photo]\no=0\ns=FFD8\n\tpostfix=.jpg\n");
  const auto findings = RunCli({"lint", bad});
  EXPECT_EQ(findings.exitCode, 1);
  EXPECT_NE(findings.out.find(bad + ":4:"), std::string::npos) << findings.out;
  EXPECT_EQ(RunCli({"lint", folder.str() + "/missing.cfg"}).exitCode, 2);
}

}  // namespace
}  // namespace tessaro::testing
