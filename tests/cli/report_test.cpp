// recover --report: hostile names stay text in the HTML page and fields in the
// CSV table, links from a report outside DEST reach the recovered files, and
// a report that cannot be written never costs a recovered file.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <vector>

#include "app/report.h"
#include "platform/platform.h"
#include "support/faulty_platform.h"
#include "support/json_check.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCatalogue =
    "[JPEG image]\noffset=0\nsignature=FFD8FF\npostfix=.jpg\n"
    "[Table]\noffset=0\nsignature=6E616D652C\npostfix=.csv\n";

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

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

#if !defined(_WIN32)
// For the tests of hostile names, which only a Linux folder can hold.

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


// The page's cells of one row of the grid: each cell's attributes and its
// text with the entities decoded (a link's own markup dropped).
struct PageCell {
  std::string attributes, text;
};

std::string Unescaped(std::string text) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, character] : kEntities) {
    for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
      text.replace(at, std::strlen(entity), character);
    }
  }
  return text;
}

std::vector<PageCell> PageCells(const std::string& row) {
  std::vector<PageCell> cells;
  for (std::size_t at = row.find("<td"); at != std::string::npos;) {
    const std::size_t close = row.find('>', at);
    const std::size_t next = row.find("<td", close);
    std::string content = row.substr(close + 1, (next == std::string::npos ? row.find("</tr>", close) : next) - close - 1);
    content = std::regex_replace(content, std::regex("<a [^>]*>|</a>"), "");
    cells.push_back({row.substr(at + 3, close - at - 3), Unescaped(content)});
    at = next;
  }
  return cells;
}

// The rows of the page's grid, as written.
std::vector<std::string> PageRows(const std::string& page) {
  std::vector<std::string> rows;
  const std::size_t grid = page.find("<table id=r");
  for (std::size_t at = page.find("<tr><td", grid); at != std::string::npos; at = page.find("<tr><td", at + 1)) {
    rows.push_back(page.substr(at, page.find("</tr>", at) + 5 - at));
  }
  return rows;
}

std::string TextOf(const JsonValue* value) {
  return value == nullptr || value->type == JsonValue::Type::kNull ? std::string() : value->text;
}

// One recovery's --json, its CSV table and its page tell the same story, row
// by row: a verdict is shown for every fragment whose check ran, also where
// the copy then failed, and only there; failures carry one reason.
TEST_F(ReportTest, JsonCsvAndPageAgreeRowByRow) {
  const std::string png = Kind("ffmpeg.png");
  source.Write("FILE0000.CHK", png);                        // intact
  source.Write("FILE0001.CHK", png.substr(0, png.size() / 2));  // truncated
  source.Write("FILE0002.CHK", png);                        // checked, then its copy fails
  source.Write("FILE0003.CHK", RandomBytes(2000, 9));        // no kind
  source.Write("a, b & c.CHK", jpeg);                        // checked, a name to quote and escape
  struct Run {
    std::string report;
    JsonValue json;
  } runs[] = {{JoinPath(pages, "report.csv"), {}}, {JoinPath(pages, "report.html"), {}}};
  for (Run& run : runs) {
    const std::string dest = JoinPath(work.Sub(run.report.substr(run.report.size() - 3)), "out");
    fs::create_directories(PathOf(JoinPath(dest, "FILE0002.png")));  // no file can be made under its name
    const auto r = RunCli({"--config", SharedCatalogue(), "recover", source.str(), dest, "--check", "--json",
                           "--report", run.report});
    EXPECT_EQ(r.exitCode, 1) << r.err;  // the one failed copy
    ASSERT_TRUE(ParseJson(r.out, run.json)) << r.out;
  }
  const auto& files = runs[0].json.Find("files")->items;
  const auto& pageFiles = runs[1].json.Find("files")->items;
  ASSERT_EQ(files.size(), 5u);
  ASSERT_EQ(pageFiles.size(), files.size());

  const auto records = ParseCsv(ReadAll(runs[0].report));
  ASSERT_EQ(records.size(), files.size() + 1);
  const auto pageRows = PageRows(ReadAll(runs[1].report));
  ASSERT_EQ(pageRows.size(), files.size());
  int checkedThenFailed = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const JsonValue& f = files[i];
    // The page's run went into a destination of its own: all else is alike.
    for (const char* key : {"name", "kind", "verdict", "length", "expected", "detail"}) {
      EXPECT_EQ(TextOf(pageFiles[i].Find(key)), TextOf(f.Find(key))) << key;
    }
    const std::vector<std::string>& csv = records[i + 1];
    const std::vector<PageCell> cells = PageCells(pageRows[i]);
    ASSERT_EQ(csv.size(), 10u);
    ASSERT_EQ(cells.size(), 7u) << pageRows[i];
    const std::string name = TextOf(f.Find("name"));
    SCOPED_TRACE(name);
    EXPECT_EQ(csv[0], name);
    EXPECT_EQ(cells[0].text, name);
    EXPECT_EQ(csv[2] + "|" + csv[3], TextOf(f.Find("kind")) + "|" + TextOf(f.Find("extension")));
    EXPECT_EQ(cells[2].text + "|" + cells[3].text, csv[2] + "|" + csv[3]);
    const bool checked = f.Find("kind")->type != JsonValue::Type::kNull;
    const std::string failure = TextOf(f.Find("failure"));
    if (checked) {
      EXPECT_EQ(csv[4], TextOf(f.Find("verdict")));
      EXPECT_EQ(csv[5], TextOf(f.Find("length")));
      EXPECT_EQ(csv[6], TextOf(f.Find("expected")));
      EXPECT_EQ(csv[7], TextOf(f.Find("detail")));
      EXPECT_EQ(cells[4].text, csv[4]);
      EXPECT_EQ(cells[5].text, csv[5]);
      EXPECT_NE(cells[4].attributes.find(" class=" + csv[4].substr(0, 1)), std::string::npos) << cells[4].attributes;
      if (!csv[7].empty()) {
        EXPECT_NE(cells[4].attributes.find("title=\"" + csv[7] + "\""), std::string::npos) << cells[4].attributes;
      }
      if (!failure.empty()) ++checkedThenFailed;
    } else {
      EXPECT_EQ(csv[4] + csv[5] + csv[6] + csv[7], "");
      EXPECT_EQ(cells[4].text + cells[5].text, "");
    }
    EXPECT_EQ(csv[8], TextOf(f.Find("output")));
    const std::string status = !failure.empty() ? "failed: " + failure : checked ? "recovered" : "no kind";
    EXPECT_EQ(csv[9], status);
    // The page's output cell: the output inside DEST, then how it ended.
    const std::string pageOutput = TextOf(pageFiles[i].Find("output"));
    const std::string inDest = pageOutput.empty() ? "" : Utf8(PathOf(pageOutput).filename());
    const std::string pageFailure = TextOf(pageFiles[i].Find("failure"));
    const std::string ending = !pageFailure.empty() ? "failed: " + pageFailure : checked ? "" : "no kind";
    EXPECT_EQ(cells[6].text, inDest + (inDest.empty() || ending.empty() ? "" : " ") + ending);
  }
  EXPECT_EQ(checkedThenFailed, 1);
}

// The rows without a process: every format shows the same columns for each
// outcome, and the page's header, rows and grid have one cell per column.
TEST(ReportRowsTest, EachOutcomeReadsAlikeInEveryColumn) {
  TempFolder work;
  const std::string dest = JoinPath(work.str(), "out");
  const std::string folder = JoinPath(work.str(), "pages");
  FileTypeRecord jpeg;
  jpeg.name = "JPEG image";
  jpeg.extension = ".jpg";
  formats::CheckResult intact;
  intact.verdict = formats::Verdict::kIntact;
  intact.length = 3000;
  intact.detail = "ends at its \"EOI\"";
  formats::CheckResult truncated;
  truncated.verdict = formats::Verdict::kTruncated;
  truncated.expected = 9000;

  auto outcome = [&](std::string_view name, const FileTypeRecord* kind, FileOutcome::Result result,
                     std::optional<formats::CheckResult> check, std::string output, std::string failure) {
    FileOutcome o;
    o.name = name;
    o.size = 3004;
    o.kind = kind;
    o.result = result;
    o.check = std::move(check);
    o.outputPath = std::move(output);
    o.failure = std::move(failure);
    return o;
  };
  const std::string out1 = JoinPath(dest, "FILE0001.jpg");
  const std::string elsewhere = JoinPath(JoinPath(work.str(), "other"), "x.jpg");
  const struct {
    FileOutcome o;
    std::string csv, page;
  } cases[] = {
      {outcome("FILE0001.CHK", &jpeg, FileOutcome::Result::kRecovered, intact, out1, ""),
       "FILE0001.CHK,3004,JPEG image,.jpg,intact,3000,,\"ends at its \"\"EOI\"\"\"," + out1 + ",recovered\r\n",
       "<tr><td>FILE0001.CHK<td>3004<td>JPEG image<td>.jpg<td class=i title=\"ends at its &quot;EOI&quot;\">intact"
       "<td>3000<td><a class=t href=\"../out/FILE0001.jpg\">FILE0001.jpg</a></tr>\n"},
      // Checked, and then the copy failed: the verdict stays.
      {outcome("FILE0002.CHK", &jpeg, FileOutcome::Result::kFailed, truncated, "", "Create file X for write failed"),
       "FILE0002.CHK,3004,JPEG image,.jpg,truncated,,9000,,,failed: Create file X for write failed\r\n",
       "<tr><td>FILE0002.CHK<td>3004<td>JPEG image<td>.jpg<td class=t>truncated<td>"
       "<td class=f>failed: Create file X for write failed</tr>\n"},
      {outcome("FILE0003.CHK", &jpeg, FileOutcome::Result::kFailed, intact, out1, "read <file> failed"),
       "FILE0003.CHK,3004,JPEG image,.jpg,intact,3000,,\"ends at its \"\"EOI\"\"\"," + out1 +
           ",failed: read <file> failed\r\n",
       "<tr><td>FILE0003.CHK<td>3004<td>JPEG image<td>.jpg<td class=i title=\"ends at its &quot;EOI&quot;\">intact"
       "<td>3000<td class=f><a href=\"../out/FILE0001.jpg\">FILE0001.jpg</a> failed: read &lt;file&gt; failed</tr>\n"},
      {outcome("a,b \"c\" <i>.CHK", nullptr, FileOutcome::Result::kNoKind, std::nullopt, "", ""),
       "\"a,b \"\"c\"\" <i>.CHK\",3004,,,,,,,,no kind\r\n",
       "<tr><td>a,b &quot;c&quot; &lt;i&gt;.CHK<td>3004<td><td><td><td><td class=s>no kind</tr>\n"},
      {outcome("FILE0005.CHK", &jpeg, FileOutcome::Result::kStopped, intact, elsewhere, ""),
       "FILE0005.CHK,3004,JPEG image,.jpg,intact,3000,,\"ends at its \"\"EOI\"\"\"," + elsewhere + ",stopped\r\n",
       "<tr><td>FILE0005.CHK<td>3004<td>JPEG image<td>.jpg<td class=i title=\"ends at its &quot;EOI&quot;\">intact"
       "<td>3000<td class=p><a href=\"../other/x.jpg\">" + elsewhere + "</a> stopped</tr>\n"},
  };
  const outputs::ReportRows rows(true, dest, folder);
  EXPECT_EQ(rows.CsvHeader(), "fragment,size,kind,extension,verdict,length,expected,detail,output,status\r\n");
  for (const auto& c : cases) {
    EXPECT_EQ(rows.CsvRow(c.o), c.csv);
    EXPECT_EQ(rows.HtmlRow(c.o), c.page);
  }

  // Without --check the page has no verdict and no length; the grid has a
  // track for every header cell and the rows a cell for each.
  const outputs::ReportRows unchecked(false, dest, folder);
  EXPECT_EQ(unchecked.HtmlRow(cases[0].o),
            "<tr><td>FILE0001.CHK<td>3004<td>JPEG image<td>.jpg<td><a class=t href=\"../out/FILE0001.jpg\">"
            "FILE0001.jpg</a></tr>\n");
  for (const outputs::ReportRows* r : {&rows, &unchecked}) {
    const std::string header = r->HtmlHeader();
    const std::string grid = r->GridStyle();
    const std::string tracks = grid.substr(grid.find("grid-template-columns:"));
    const std::size_t columns = Count(header, "<th");
    EXPECT_EQ(Count(r->HtmlRow(cases[1].o), "<td"), columns);
    EXPECT_EQ(Count(tracks, " ") + 1, columns) << grid;
    for (const char* key : {"k", "e", "o"}) EXPECT_EQ(Count(header, std::string("data-c=") + key), 1u) << header;
    EXPECT_EQ(Count(header, "data-c=v"), r->Checked() ? 1u : 0u);
  }
  EXPECT_EQ(rows.GridStyle().substr(0, rows.GridStyle().find('{')), "#r td:nth-child(2),#r td:nth-child(6)");
}

// The report's files go through the platform: a rename or a write that fails
// is the report's failure, and neither FILE nor a temporary file is left.
TEST(ReportWriterTest, FaultsOfItsFilesLeaveNoFileBehind) {
  FileTypeRecord jpeg;
  jpeg.name = "JPEG image";
  jpeg.extension = ".jpg";
  for (const char* format : {"report.csv", "report.html"}) {
    for (int fault = 0; fault < 2; ++fault) {
      TempFolder source, pages;
      FaultyPlatform platform;
      const std::string path = JoinPath(pages.str(), format);
      if (fault == 0) platform.FailRename(format, 5);
      else platform.FailWriteAfter(".tmp", 0);
      outputs::ReportWriter report(platform);
      ASSERT_TRUE(report.Open(path, source.str(), JoinPath(pages.str(), "out"), true));
      FileOutcome o;
      o.name = "FILE0000.CHK";
      o.kind = &jpeg;
      o.result = FileOutcome::Result::kRecovered;
      report.Add(o);
      EXPECT_FALSE(report.Finish(false)) << format << " " << fault;
      EXPECT_EQ(std::distance(fs::directory_iterator(pages.path()), {}), 0) << format << " " << fault;
    }
  }
}

}  // namespace
}  // namespace tessaro::testing
