// recover --report: hostile names stay text in the HTML page and fields in the
// CSV table, links from a report outside DEST reach the recovered files, and
// a report that cannot be written never costs a recovered file.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <vector>

#include "platform/platform.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCatalogue =
    "[JPEG image]\noffset=0\nsignature=FFD8FF\npostfix=.jpg\n"
    "[Table]\noffset=0\nsignature=6E616D652C\npostfix=.csv\n";

#if !defined(_WIN32)
// For the tests of hostile names, which only a Linux folder can hold.

// RFC 4180: records end in CR LF, quoted fields may hold anything with their
// quotes doubled. Empty when `text` breaks the rules.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string& field = records.back().back();
    if (text[i] == '"' && field.empty()) {
      for (++i; i < text.size() && !(text[i] == '"' && (i + 1 == text.size() || text[i + 1] != '"')); ++i) {
        field += text[i];
        if (text[i] == '"') ++i;
      }
      if (i == text.size()) return {};
    } else if (text[i] == ',') {
      records.back().emplace_back();
    } else if (text.compare(i, 2, "\r\n") == 0) {
      records.emplace_back(1);
      ++i;
    } else if (text[i] == '\r' || text[i] == '\n' || text[i] == '"') {
      return {};
    } else {
      field += text[i];
    }
  }
  if (records.back() != std::vector<std::string>(1)) return {};  // the last record ends in CR LF too
  records.pop_back();
  return records;
}

std::string PercentDecoded(const std::string& url) {
  std::string out;
  for (std::size_t i = 0; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size()) {
      out += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += url[i];
    }
  }
  return out;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}
#endif

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalogue = work.Write("kinds.cfg", kCatalogue);
    jpeg = Bytes({0xFF, 0xD8, 0xFF, 0xE0}) + RandomBytes(3000, 4);
    pages = work.Sub("pages");
    destination = JoinPath(work.Sub("out"), "recovered files");
  }
  ProgramResult Recover(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--config", catalogue, "recover", source.str(), destination, "--check"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args);
  }
  TempFolder work, source;
  std::string catalogue, jpeg, pages, destination;
};

#if !defined(_WIN32)
// Names a Linux folder can hold, each breaking something if written raw.
const std::vector<std::string> kHostile = {
    "<script>alert(1)<b> & 'x'.CHK", "a,b \"c\".CHK", "#1 ?%\xc3\xa9.CHK", "line\nbreak.CHK", "cr\ronly.CHK",
    "bad\xff.CHK"};

TEST_F(ReportTest, HostileNamesStayTextAndLinksReachTheFilesFromOutsideDest) {
  for (const std::string& name : kHostile) source.Write(name, jpeg);
  source.Write("plain.CHK", RandomBytes(2000, 9));  // no kind
  const std::string html = JoinPath(pages, "report.html");
  const auto r = Recover({"--report", html});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string page = ReadAll(html);
  EXPECT_EQ(Count(page, "<script"), 1u);  // the page's own
  EXPECT_EQ(page.find("<b> &"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;b&gt; &amp; &#39;x&#39;.CHK"), std::string::npos);
  EXPECT_NE(page.find("a,b &quot;c&quot;.CHK"), std::string::npos);
  EXPECT_NE(page.find("bad\xef\xbf\xbd.CHK"), std::string::npos);  // the page stays UTF-8
  EXPECT_EQ(Count(page, "</tr>\n"), kHostile.size() + 1);

  // Every link, decoded and taken from the report's folder, is a recovered file.
  const std::regex href("href=\"([^\"]*)\"");
  std::vector<std::string> linked;
  for (std::sregex_iterator it(page.begin(), page.end(), href), end; it != end; ++it) {
    const std::string target = (*it)[1];
    EXPECT_EQ(target.find_first_of(" #?\"<>\xc3\xff"), std::string::npos) << target;
    const fs::path file = PathOf(pages) / PathOf(PercentDecoded(target));
    EXPECT_TRUE(fs::is_regular_file(file)) << target;
    linked.push_back(Utf8(fs::canonical(file)));
  }
  std::vector<std::string> outputs;
  for (const auto& entry : fs::directory_iterator(PathOf(destination))) outputs.push_back(Utf8(fs::canonical(entry)));
  std::sort(linked.begin(), linked.end());
  std::sort(outputs.begin(), outputs.end());
  EXPECT_EQ(linked, outputs);
  EXPECT_EQ(outputs.size(), kHostile.size());
  EXPECT_EQ(std::distance(fs::directory_iterator(PathOf(pages)), {}), 1);  // no temporary file left
}

TEST_F(ReportTest, CsvQuotesWhatNeedsItAndHasOneRowPerFragment) {
  for (const std::string& name : kHostile) source.Write(name, jpeg);
  source.Write("plain.CHK", RandomBytes(2000, 9));
  const std::string csv = JoinPath(pages, "report.csv");
  ASSERT_EQ(Recover({"--report=" + csv}).exitCode, 0);
  const auto records = ParseCsv(ReadAll(csv));
  ASSERT_EQ(records.size(), kHostile.size() + 2) << ReadAll(csv);
  EXPECT_EQ(records[0], (std::vector<std::string>{"fragment", "size", "kind", "extension", "verdict", "length",
                                                  "expected", "detail", "output", "status"}));
  std::vector<std::string> names;
  for (std::size_t i = 1; i < records.size(); ++i) {
    const auto& f = records[i];
    ASSERT_EQ(f.size(), 10u);
    names.push_back(f[0]);
    if (f[0] == "plain.CHK") {
      EXPECT_EQ(f[1], "2000");
      EXPECT_EQ(f[2] + f[3] + f[4] + f[5] + f[6] + f[7] + f[8], "");
      EXPECT_EQ(f[9], "no kind");
    } else {
      EXPECT_EQ(f[1], "3004");
      EXPECT_EQ(f[2] + "|" + f[3], "JPEG image|.jpg");
      EXPECT_FALSE(f[4].empty());  // checked
      EXPECT_EQ(f[8], JoinPath(destination, f[0].substr(0, f[0].find('.')) + ".jpg"));
      EXPECT_EQ(f[9], "recovered");
    }
  }
  std::vector<std::string> expected = kHostile;
  expected.back() = "bad\xef\xbf\xbd.CHK";
  expected.push_back("plain.CHK");
  std::sort(names.begin(), names.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
}
#endif

// Every FILE that cannot be a report is refused before the pass, which then
// neither runs nor makes DEST.
TEST_F(ReportTest, BadReportFilesAreUsageErrorsBeforeThePass) {
  source.Write("FILE0000.CHK", jpeg);
  const std::string folderNamedHtml = work.Sub("looks.html");
  const struct {
    std::string file;
    const char* says;
  } cases[] = {
      {JoinPath(pages, "report.txt"), "must end in .html, .htm or .csv"},
      {JoinPath(pages, "report"), "must end in .html, .htm or .csv"},
      {JoinPath(JoinPath(pages, "missing"), "report.html"), "does not exist"},
      {folderNamedHtml, "is a folder"},
      {JoinPath(source.str(), "report.csv"), "fragment folder"},
  };
  for (const auto& c : cases) {
    const auto r = Recover({"--report", c.file});
    EXPECT_EQ(r.exitCode, 2) << c.file;
    EXPECT_NE(r.err.find(c.file), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(PathOf(destination))) << c.file;
  }
  // DEST itself may hold the report, though the command makes it only now.
  const auto inDest = Recover({"--report", JoinPath(destination, "report.htm")});
  EXPECT_EQ(inDest.exitCode, 0) << inDest.err;
  EXPECT_TRUE(fs::is_regular_file(PathOf(JoinPath(destination, "report.htm"))));
}

// A report that cannot be written is exit 1 with its name, after a recovery
// that happened all the same; it never replaces a recovered file.
TEST_F(ReportTest, ReportThatCannotBeWrittenFailsButTheRecoveryStands) {
  source.Write("FILE0000.CHK", jpeg);
  const std::string table = "name,size\r\nfragment,1\r\n";
  source.Write("REPORT.CHK", table);
  fs::create_directories(PathOf(destination));
  const std::string taken = JoinPath(destination, "REPORT.csv");  // a recovered file's name
  const std::string blocked = JoinPath(pages, "blocked.html");
  fs::create_directory(PathOf(blocked + ".rows.tmp"));  // no temporary file can be made there
  for (const std::string& report : {taken, blocked}) {
    const auto r = Recover({"--report", report});
    EXPECT_EQ(r.exitCode, 1) << report;
    EXPECT_NE(r.err.find("cannot write the report " + report), std::string::npos) << r.err;
    EXPECT_EQ(ReadAll(JoinPath(destination, "FILE0000.jpg")), jpeg);
    EXPECT_EQ(ReadAll(taken), table);
  }
  EXPECT_FALSE(fs::exists(PathOf(blocked)));
  EXPECT_FALSE(fs::exists(PathOf(taken + ".tmp")));
}

}  // namespace
}  // namespace tessaro::testing
