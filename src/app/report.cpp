#include "app/report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

#include "app/json_writer.h"
#include "report_script.h"
#include "report_style.h"

namespace tessaro::outputs {

namespace {

bool IsSeparator(char c) { return c == '/' || c == PathSeparator(); }

// `text` with every byte that starts no valid UTF-8 sequence made U+FFFD:
// both reports are UTF-8 whatever the file system holds (--json keeps the
// exact bytes beside such a name).
std::string Utf8Text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8SequenceLength(p + i, text.size() - i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

// Text for an HTML element or a quoted attribute: markup characters become
// entities, control characters U+FFFD, so no name can open a tag or end an
// attribute.
void PutEscaped(std::string& out, std::string_view text) {
  for (char c : Utf8Text(text)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if ((static_cast<unsigned char>(c) < 0x20) || c == 0x7F) out += "\xEF\xBF\xBD";
        else out += c;
    }
  }
}

std::string Escaped(std::string_view text) {
  std::string out;
  PutEscaped(out, text);
  return out;
}

// One path segment of a URL: every byte but the unreserved ones as %XX, so
// spaces, '#', '?', '%' and non-ASCII names (the bytes themselves, UTF-8 or
// not) reach the file they name.
void PutSegment(std::string& out, std::string_view segment) {
  static const char* digits = "0123456789ABCDEF";
  for (unsigned char c : segment) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
}

// The segments of `path` (separated by either slash where the system takes
// both) as a URL path, each percent-encoded, joined by '/'.
void PutSegments(std::string& out, std::string_view path) {
  bool first = true;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (end > start) {
      if (!first) out += '/';
      PutSegment(out, path.substr(start, end - start));
      first = false;
    }
    start = end + 1;
  }
}

void PutNames(std::string& out, const std::vector<std::string>& names, std::size_t from) {
  for (std::size_t i = from; i < names.size(); ++i) {
    if (i > from) out += '/';
    PutSegment(out, names[i]);
  }
}

// A link from the folder `base` to `target`: relative where one exists, else
// (another drive) an absolute file URL.
std::string LinkBetween(const NormalPath& base, const NormalPath& target) {
  std::string url;
  if (base.root != target.root) {
    url = "file:///";
    if (!target.root.empty()) url += target.root + "/";
    PutNames(url, target.names, 0);
    return url;
  }
  std::size_t same = 0;
  while (same < base.names.size() && same < target.names.size() && base.names[same] == target.names[same]) ++same;
  for (std::size_t up = same; up < base.names.size(); ++up) url += up + 1 < base.names.size() || same < target.names.size() ? "../" : "..";
  PutNames(url, target.names, same);
  return url;
}

bool ShowsAsImage(std::string extension) {
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  static const char* const kImages[] = {".jpg", ".jpeg", ".png", ".gif", ".bmp", ".webp", ".ico", ".svg", ".avif"};
  return std::any_of(std::begin(kImages), std::end(kImages), [&](const char* e) { return extension == e; });
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
           return lower(x) == lower(y);
         });
}

std::string_view LastName(std::string_view path) {
  std::size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  return path.substr(cut);
}

std::string CsvField(std::string_view text) {
  std::string field = Utf8Text(text);
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

std::string Length(std::uint64_t value) { return value == formats::kUnknown ? std::string() : Number(value); }

// The class of a verdict's cell, which colours it.
char VerdictClass(formats::Verdict verdict) { return formats::VerdictName(verdict)[0]; }

std::string StatusText(const FileOutcome& o) {
  switch (o.result) {
    case FileOutcome::Result::kFailed: return "failed: " + o.failure;
    case FileOutcome::Result::kNoKind: return o.unclaimed ? "unclaimed bytes" : "no kind";
    case FileOutcome::Result::kStopped: return "stopped";
    case FileOutcome::Result::kRecovered: break;
  }
  return "recovered";
}

// The output's cell of the page: its link, and how the fragment ended where
// that was not a recovery.
void PutOutputCell(const ReportRows& rows, const FileOutcome& o, std::string& out) {
  std::string link;
  if (!o.outputPath.empty()) {
    const std::string_view inDest = rows.InDest(o.outputPath);
    // A picture a browser shows gets its thumbnail once its row is in view.
    const bool thumbnail = o.result == FileOutcome::Result::kRecovered && o.kind != nullptr &&
                           ShowsAsImage(o.kind->ExtensionOrEmpty());
    link = (thumbnail ? "<a class=t href=\"" : "<a href=\"") + rows.Link(o.outputPath) + "\">";
    link += Escaped(inDest.empty() ? std::string_view(o.outputPath) : inDest);
    link += "</a>";
  }
  switch (o.result) {
    case FileOutcome::Result::kFailed:
      out += "<td class=f>" + link + (link.empty() ? "" : " ") + "failed: " + Escaped(o.failure);
      break;
    case FileOutcome::Result::kNoKind: out += "<td class=s>no kind"; break;
    case FileOutcome::Result::kStopped: out += "<td class=p>" + link + " stopped"; break;
    case FileOutcome::Result::kRecovered: out += "<td>" + link; break;
  }
}

// One column of the report. Every column is a field of the CSV table; those
// with a page header are cells of the page's grid too, those without are
// shown there inside another cell (a verdict's detail as its cell's title,
// the status with the output).
struct Column {
  const char* csvName;
  std::string (*csvField)(const ReportRows&, const FileOutcome&);
  const char* pageName;  // nullptr: not a column of the page
  const char* key;       // data-c by which the page's script finds the column, or nullptr
  bool number;           // sorted as a number and aligned right
  bool checkedOnly;      // in the page only with --check
  const char* track;     // its width in the page's grid: the short columns narrow, the names get the room
  void (*putCell)(const ReportRows&, const FileOutcome&, std::string& out);  // "<td...>" and the content
};

const formats::CheckResult* CheckOf(const FileOutcome& o) { return o.check ? &*o.check : nullptr; }

// The fragment's name, and for a file (or bytes) further in, "@" and where
// in the fragment it begins: "FILE0007.CHK@98304".
std::string FragmentText(const FileOutcome& o) {
  std::string text(o.name);
  if (o.part && o.offset != 0) text += '@' + std::to_string(o.offset);
  return text;
}

const Column kColumns[] = {
    {"fragment", [](const ReportRows&, const FileOutcome& o) { return CsvField(FragmentText(o)); },
     "Fragment", nullptr, false, false, "minmax(8em,1.2fr)",
     [](const ReportRows&, const FileOutcome& o, std::string& out) {
       out += "<td>";
       PutEscaped(out, FragmentText(o));
     }},
    {"size", [](const ReportRows&, const FileOutcome& o) { return Number(o.size); },
     "Size", nullptr, true, false, "6em",
     [](const ReportRows&, const FileOutcome& o, std::string& out) { out += "<td>" + Number(o.size); }},
    {"kind", [](const ReportRows&, const FileOutcome& o) { return o.kind ? CsvField(o.kind->NameOrEmpty()) : ""; },
     "Kind", "k", false, false, "minmax(8em,1.2fr)",
     [](const ReportRows&, const FileOutcome& o, std::string& out) {
       out += "<td>";
       if (o.kind != nullptr) PutEscaped(out, o.kind->NameOrEmpty());
     }},
    {"extension", [](const ReportRows&, const FileOutcome& o) { return o.kind ? CsvField(o.kind->ExtensionOrEmpty()) : ""; },
     "Extension", "e", false, false, "7em",
     [](const ReportRows&, const FileOutcome& o, std::string& out) {
       out += "<td>";
       if (o.kind != nullptr) PutEscaped(out, o.kind->ExtensionOrEmpty());
     }},
    {"verdict",
     [](const ReportRows&, const FileOutcome& o) {
       return o.check ? std::string(formats::VerdictName(o.check->verdict)) : std::string();
     },
     "Verdict", "v", false, true, "7em",
     [](const ReportRows&, const FileOutcome& o, std::string& out) {
       const formats::CheckResult* c = CheckOf(o);
       if (c == nullptr) {
         out += "<td>";
         return;
       }
       out += "<td class=";
       out += VerdictClass(c->verdict);
       if (!c->detail.empty()) out += " title=\"" + Escaped(c->detail) + "\"";
       out += ">";
       out += formats::VerdictName(c->verdict);
     }},
    {"length", [](const ReportRows&, const FileOutcome& o) { return o.check ? Length(o.check->length) : ""; },
     "Length", nullptr, true, true, "6em",
     [](const ReportRows&, const FileOutcome& o, std::string& out) {
       out += "<td>";
       if (o.check) out += Length(o.check->length);
     }},
    {"expected", [](const ReportRows&, const FileOutcome& o) { return o.check ? Length(o.check->expected) : ""; },
     nullptr, nullptr, false, false, nullptr, nullptr},
    {"detail", [](const ReportRows&, const FileOutcome& o) { return o.check ? CsvField(o.check->detail) : ""; },
     nullptr, nullptr, false, false, nullptr, nullptr},
    {"output", [](const ReportRows&, const FileOutcome& o) { return CsvField(o.outputPath); },
     "Output", "o", false, false, "minmax(12em,2fr)", PutOutputCell},
    {"status", [](const ReportRows&, const FileOutcome& o) { return CsvField(StatusText(o)); },
     nullptr, nullptr, false, false, nullptr, nullptr},
};

// The rows are a table in the markup (copied, it pastes as one), laid out as
// one grid row each and held in bodies of kRowsPerBody rows, so that the
// browser styles, lays out and paints only the bodies in view
// (content-visibility, report.css): a page of 100,000 rows opens in about two
// seconds, where a real table lays out every row before it shows one.
constexpr int kRowsPerBody = 256;

}  // namespace

NormalPath Normal(const std::string& utf8) {
  const std::string absolute = AbsolutePath(utf8.empty() ? std::string(".") : utf8);
  NormalPath path;
  std::size_t at = 0;
  if (PathSeparator() == '\\') {
    // "C:\..." names a drive; "\\server\share\..." a server.
    if (absolute.size() >= 2 && absolute[1] == ':') {
      path.root = absolute.substr(0, 2);
      at = 2;
    } else if (absolute.size() >= 2 && IsSeparator(absolute[0]) && IsSeparator(absolute[1])) {
      at = 2;
      while (at < absolute.size() && !IsSeparator(absolute[at])) ++at;
      path.root = "\\\\" + absolute.substr(2, at - 2);
    }
  }
  // The names, with "." dropped and ".." taking the name before it away, as
  // a browser resolves them.
  while (at <= absolute.size()) {
    std::size_t end = at;
    while (end < absolute.size() && !IsSeparator(absolute[end])) ++end;
    const std::string_view name = std::string_view(absolute).substr(at, end - at);
    if (name == "..") {
      if (!path.names.empty()) path.names.pop_back();
    } else if (!name.empty() && name != ".") {
      path.names.emplace_back(name);
    }
    at = end + 1;
  }
  return path;
}

ReportRows::ReportRows(bool checked, std::string dest, const std::string& folder)
    : checked_(checked), dest_(std::move(dest)), folder_(Normal(folder)) {
  destLink_ = LinkBetween(folder_, Normal(dest_));
  if (!destLink_.empty()) destLink_ += '/';
}

std::string ReportRows::CsvHeader() const {
  std::string header;
  for (const Column& column : kColumns) {
    if (!header.empty()) header += ',';
    header += column.csvName;
  }
  return header + "\r\n";
}

std::string ReportRows::CsvRow(const FileOutcome& o) const {
  std::string row;
  for (const Column& column : kColumns) {
    if (&column != kColumns) row += ',';
    row += column.csvField(*this, o);
  }
  return row + "\r\n";
}

std::string ReportRows::HtmlHeader() const {
  std::string header = "<tr>";
  for (const Column& column : kColumns) {
    if (column.pageName == nullptr || (column.checkedOnly && !checked_)) continue;
    header += "<th";
    if (column.number) header += " data-n";
    if (column.key != nullptr) header += std::string(" data-c=") + column.key;
    header += ">";
    header += column.pageName;
  }
  return header;
}

std::string ReportRows::HtmlRow(const FileOutcome& o) const {
  std::string row = "<tr>";
  for (const Column& column : kColumns) {
    if (column.pageName == nullptr || (column.checkedOnly && !checked_)) continue;
    column.putCell(*this, o, row);
  }
  // The row's end tag keeps the line break out of the last cell's text.
  return row + "</tr>\n";
}

std::string ReportRows::GridStyle() const {
  std::string right, tracks;
  int n = 0;
  for (const Column& column : kColumns) {
    if (column.pageName == nullptr || (column.checkedOnly && !checked_)) continue;
    ++n;
    if (column.number) right += (right.empty() ? "" : ",") + std::string("#r td:nth-child(") + std::to_string(n) + ")";
    tracks += (tracks.empty() ? "" : " ") + std::string(column.track);
  }
  return right + "{text-align:right}#r tr{grid-template-columns:" + tracks + "}";
}

std::string_view ReportRows::InDest(std::string_view outputPath) const {
  if (outputPath.size() > dest_.size() + 1 && outputPath.compare(0, dest_.size(), dest_) == 0 &&
      IsSeparator(outputPath[dest_.size()])) {
    return outputPath.substr(dest_.size() + 1);
  }
  return {};
}

std::string ReportRows::Link(const std::string& outputPath) const {
  // Outputs lie in DEST (or a folder of it): its link is known already.
  const std::string_view inDest = InDest(outputPath);
  if (!inDest.empty()) {
    std::string url = destLink_;
    PutSegments(url, inDest);
    return url;
  }
  return LinkBetween(folder_, Normal(outputPath));
}

ReportWriter::~ReportWriter() {
  if (begun_) Discard();
}

bool ReportWriter::Open(const std::string& path, const std::string& source, const std::string& dest, bool checked) {
  if (path.empty()) return true;
  auto usage = [&](const std::string& why) {
    if (complain_) complain_(why);
    else std::fprintf(stderr, "tessaro-cli recover: --report %s: %s\n", path.c_str(), why.c_str());
    return false;
  };
  std::string extension(LastName(path));
  const std::size_t dot = extension.rfind('.');
  extension = dot == std::string::npos ? std::string() : extension.substr(dot);
  if (SameNameIgnoringCase(extension, ".html") || SameNameIgnoringCase(extension, ".htm")) {
    format_ = Format::kHtml;
  } else if (SameNameIgnoringCase(extension, ".csv")) {
    format_ = Format::kCsv;
  } else {
    return usage("the report's name must end in .html, .htm or .csv (the format follows it)");
  }
  FileStatus status;
  int error = 0;
  if (platform_.Status(path, status, error) && status.isDirectory) return usage("is a folder");
  const std::string folder = ParentFolder(path).empty() ? std::string(".") : ParentFolder(path);
  // The destination is made after this check, so the report may go there.
  const bool folderThere = platform_.Status(folder, status, error);
  if (folderThere && !status.isDirectory) return usage(folder + " is not a folder");
  if (!folderThere && !(Normal(folder) == Normal(dest))) return usage("its folder " + folder + " does not exist");
  if (folderThere && platform_.SameFile(folder, source)) {
    return usage("the report cannot go into the fragment folder, where nothing is ever written");
  }
  path_ = path;
  source_ = source;
  dest_ = dest;
  rows_ = std::make_unique<ReportRows>(checked, dest, folder);
  return true;
}

bool ReportWriter::Begin() {
  begun_ = true;
  rowFile_.path = path_ + (format_ == Format::kHtml ? ".rows.tmp" : ".tmp");
  rowFile_.file = platform_.Create(rowFile_.path, rowFile_.error);
  if (rowFile_.file == kNoFile) {
    Fail(ErrorText(rowFile_.error));
    return false;
  }
  temporaries_.push_back(rowFile_.path);
  if (format_ == Format::kCsv) Put(rowFile_, rows_->CsvHeader());
  return true;
}

void ReportWriter::Put(Sink& sink, std::string_view text) {
  sink.buffer.append(text);
  if (sink.buffer.size() >= 65536) Flush(sink);
}

bool ReportWriter::Flush(Sink& sink) {
  if (sink.error == 0 && !sink.buffer.empty() &&
      !platform_.Write(sink.file, sink.buffer.data(), sink.buffer.size(), sink.error)) {
    Fail(ErrorText(sink.error));
  }
  sink.buffer.clear();
  return sink.error == 0;
}

bool ReportWriter::Close(Sink& sink) {
  const bool flushed = sink.file != kNoFile && Flush(sink);
  if (sink.file != kNoFile) platform_.Close(sink.file);
  sink.file = kNoFile;
  return flushed;
}

void ReportWriter::Fail(const std::string& what) {
  if (failure_.empty()) failure_ = what;
}

void ReportWriter::Discard() {
  Close(rowFile_);
  int error = 0;
  // Removed as far as they can be: a file that stays is no report.
  for (const std::string& path : temporaries_) platform_.Remove(path, error);
  temporaries_.clear();
  begun_ = false;
}

void ReportWriter::AddUnclaimed(std::string_view name, std::uint64_t offset, std::uint64_t length) {
  FileOutcome o;
  o.name = name;
  o.part = o.unclaimed = true;
  o.offset = offset;
  o.size = o.length = length;
  Add(o);
}

void ReportWriter::Add(const FileOutcome& o) {
  if (format_ == Format::kNone) return;
  if (!begun_ && !Begin()) return;
  ++fragments_;
  bytes_ += o.size;
  switch (o.result) {
    case FileOutcome::Result::kFailed: ++failed_; break;
    case FileOutcome::Result::kNoKind: ++skipped_; break;
    case FileOutcome::Result::kStopped: ++stopped_; break;
    case FileOutcome::Result::kRecovered: ++recovered_; break;
  }
  Tally& tally = kinds_[o.kind];
  if (tally.count == 0 && o.kind != nullptr) {
    tally.name = o.kind->NameOrEmpty();
    tally.extension = o.kind->ExtensionOrEmpty();
  }
  ++tally.count;
  tally.bytes += o.size;
  if (o.CountsVerdict()) tally.verdicts.Add(o.check->verdict);
  // An output of this pass may have taken the report's own name; the report
  // must not replace it (checked, for these few, when the pass has ended).
  if (!o.outputPath.empty() && SameNameIgnoringCase(LastName(o.outputPath), LastName(path_))) {
    sameNamedOutputs_.push_back(o.outputPath);
  }
  if (!failure_.empty()) return;
  if (format_ == Format::kCsv) {
    Put(rowFile_, rows_->CsvRow(o));
    return;
  }
  // Add has counted this fragment: a new body begins after every kRowsPerBody rows.
  if (fragments_ > 1 && (fragments_ - 1) % kRowsPerBody == 0) Put(rowFile_, "</tbody><tbody>\n");
  Put(rowFile_, rows_->HtmlRow(o));
}

bool ReportWriter::Finish(bool stopped) {
  if (format_ == Format::kNone) return true;
  if (!begun_) Begin();
  if (failure_.empty()) {
    for (const std::string& output : sameNamedOutputs_) {
      if (platform_.SameFile(output, path_)) Fail("a recovered file took its name (" + output + ")");
    }
  }
  const bool written = failure_.empty() && Close(rowFile_) && (format_ == Format::kCsv || WritePage(stopped));
  if (written) {
    int error = 0;
    if (!platform_.Rename(path_ + ".tmp", path_, error)) Fail(ErrorText(error));
  }
  if (!failure_.empty()) {
    if (complain_) complain_(failure_);
    else std::fprintf(stderr, "tessaro-cli recover: cannot write the report %s: %s\n", path_.c_str(), failure_.c_str());
  }
  Discard();
  return failure_.empty();
}

bool ReportWriter::WritePage(bool stopped) {
  Sink page;
  page.path = path_ + ".tmp";
  page.file = platform_.Create(page.path, page.error);
  if (page.file == kNoFile) {
    Fail(ErrorText(page.error));
    return false;
  }
  temporaries_.push_back(page.path);
  const bool checked = rows_->Checked();
  std::string head =
      "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8>"
      "<meta name=viewport content=\"width=device-width\"><title>Recovery report: " +
      Escaped(source_) + "</title><style>" + kReportStyle + rows_->GridStyle();
  char when[32] = "";
  const std::time_t now = std::time(nullptr);
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", utc);
  head += "</style></head><body>\n<h1>Recovery report</h1>\n<p>Fragments of <b>" + Escaped(source_) +
          "</b> recovered to <b>" + Escaped(dest_) + "</b>, " + when + ".\n<p id=t>" + Number(fragments_) +
          " fragments (" + Number(bytes_) + " bytes): <b>" + Number(recovered_) + " recovered</b>, " +
          Number(skipped_) + " no kind, " + Number(failed_) + " failed" +
          (stopped_ ? ", " + Number(stopped_) + " stopped in the copy" : std::string()) + ".";
  if (stopped) head += " <b class=p>The recovery was stopped: the fragments after the last row were not handled.</b>";
  // The totals per kind, the most frequent first, fragments of no kind last.
  std::vector<const Tally*> order;
  for (const auto& [kind, tally] : kinds_) order.push_back(&tally);
  const Tally* none = kinds_.count(nullptr) ? &kinds_.at(nullptr) : nullptr;
  std::sort(order.begin(), order.end(), [&](const Tally* a, const Tally* b) {
    if ((a == none) != (b == none)) return b == none;
    if (a->count != b->count) return a->count > b->count;
    return a->name < b->name;
  });
  head += "\n<div id=w><table id=k><thead><tr><th>Kind<th>Extension<th>Fragments<th>Bytes";
  if (checked) head += "<th>Intact<th>Truncated<th>Damaged<th>Unchecked";
  head += "</thead><tbody>\n";
  std::string kindOptions, verdictOptions;
  for (const Tally* tally : order) {
    const std::string name = tally == none ? std::string("(no kind)") : Escaped(tally->name);
    head += "<tr><td>" + name + "<td>" + Escaped(tally->extension) + "<td>" + Number(tally->count) + "<td>" +
            Number(tally->bytes);
    if (checked) {
      for (formats::Verdict verdict : kVerdictOrder) head += "<td>" + Number(tally->verdicts[verdict]);
    }
    head += "\n";
    kindOptions += "<option value=\"" + Escaped(tally->name) + "\t" + Escaped(tally->extension) + "\">" + name +
                   (tally->extension.empty() ? "" : " (" + Escaped(tally->extension) + ")");
  }
  head += "</tbody></table></div>\n<p id=c>Kind <select id=fk><option value=\"\">all" + kindOptions + "</select>";
  if (checked) {
    for (formats::Verdict verdict : kVerdictOrder) verdictOptions += std::string("<option>") + formats::VerdictName(verdict);
    head += "Verdict <select id=fv><option value=\"\">all" + verdictOptions + "</select>";
  }
  head +=
      "Status <select id=fs><option value=\"\">all<option value=r>recovered<option value=s>no kind"
      "<option value=f>failed<option value=p>stopped</select><span id=n></span>\n"
      "<table id=r data-b=" + std::to_string(kRowsPerBody) + "><thead>" + rows_->HtmlHeader() + "</thead><tbody>\n";
  Put(page, head);

  // The rows, as the pass streamed them.
  int error = 0;
  const FileHandle rows = platform_.OpenRead(rowFile_.path, error);
  if (rows == kNoFile) {
    Fail(ErrorText(error));
  } else {
    const std::unique_ptr<char[]> buffer(new char[65536]);
    std::size_t got;
    while (page.error == 0 && (got = platform_.Read(rows, buffer.get(), 65536)) > 0) {
      Flush(page);
      if (!platform_.Write(page.file, buffer.get(), got, page.error)) Fail(ErrorText(page.error));
    }
    platform_.Close(rows);
  }
  // Sorting, filtering and thumbnails (report.js).
  Put(page, "</tbody></table>\n<script>\n");
  Put(page, kReportScript);
  Put(page, "</script>\n</body></html>\n");
  const bool closed = Close(page);
  return closed && failure_.empty();
}

}  // namespace tessaro::outputs
