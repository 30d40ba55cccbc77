#include "cli/report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cli/json_writer.h"

namespace tessaro::cli {

namespace {

namespace fs = std::filesystem;

// Paths are UTF-8 byte strings above the platform layer; std::filesystem
// takes the system's own spelling, which on Windows is UTF-16.
fs::path PathOf(const std::string& utf8) {
#if defined(_WIN32)
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
#else
  return fs::path(utf8);
#endif
}

std::string Utf8Of(const fs::path& path) {
#if defined(_WIN32)
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
#else
  return path.string();
#endif
}

bool IsSeparator(char c) { return c == '/' || c == PathSeparator(); }

// An absolute, lexically normal path without a trailing separator: the
// browser resolves a link against the report's place the same lexical way.
fs::path Normal(const std::string& utf8) {
  std::error_code ec;
  fs::path path = fs::absolute(PathOf(utf8.empty() ? std::string(".") : utf8), ec).lexically_normal();
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path;
}

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

// A link from the folder `base` to `target` (both from Normal): relative where
// one exists, else (another drive) an absolute file URL.
std::string LinkBetween(const fs::path& base, const fs::path& target) {
  const fs::path relative = target.lexically_relative(base);
  std::string url;
  if (relative.empty()) {
    url = "file:///";
    const std::string root = Utf8Of(target.root_name());
    if (!root.empty()) url += root + "/";
    PutSegments(url, Utf8Of(target.relative_path()));
  } else if (relative != ".") {
    PutSegments(url, Utf8Of(relative));
  }
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

constexpr formats::Verdict kVerdicts[] = {formats::Verdict::kIntact, formats::Verdict::kTruncated,
                                          formats::Verdict::kDamaged, formats::Verdict::kUnchecked};

// The class of a verdict's cell, which colours it.
char VerdictClass(formats::Verdict verdict) { return formats::VerdictName(verdict)[0]; }

// The rows are a table in the markup (copied, it pastes as one), laid out as
// one grid row each and held in bodies of kRowsPerBody rows, so that the
// browser styles, lays out and paints only the bodies in view
// (content-visibility): a page of 100,000 rows opens in about two seconds,
// where a real table lays out every row before it shows one.
constexpr int kRowsPerBody = 256;
constexpr const char* kStyle =
    "body{font:14px/1.4 system-ui,sans-serif;margin:16px;color:#222}"
    "h1{font-size:20px;margin:0 0 6px}p{margin:4px 0}"
    "table{border-collapse:collapse;margin:8px 0}"
    "td,th{padding:2px 8px;text-align:left;border-bottom:1px solid #e6e6e6;overflow-wrap:anywhere}"
    "th{background:#f1f1f1}#k td:nth-child(n+3){text-align:right}"
    "#w{max-height:32vh;overflow:auto;display:inline-block;border:1px solid #e6e6e6}#k{margin:0}"
    "#r,#r thead,#r tbody{display:block}#r tr{display:grid;align-items:center;border-bottom:1px solid #e6e6e6}"
    "#r tr[hidden]{display:none}#r td,#r th{border:0}"
    "#r thead{position:sticky;top:0;z-index:1;background:#f1f1f1}#r th{cursor:pointer;user-select:none}"
    "#r tbody{content-visibility:auto;contain-intrinsic-size:auto 6656px}"
    "#r th.a:after{content:' \\25B2'}#r th.d:after{content:' \\25BC'}"
    "#r img{width:96px;height:64px;object-fit:contain;vertical-align:middle;margin-right:8px}"
    ".s{color:#777}.f{color:#b00}.p{color:#a60}"
    "td.i{color:#070}td.t{color:#a60}td.d{color:#b00}td.u{color:#777}"
    "#c select{margin-right:12px}";

// Sorting, filtering and thumbnails. Nothing runs over all rows at load. A
// sort reads each row's key once and reorders the rows while the table is
// out of the page, so the page is laid out once, not once per row; a filter
// works the same way. Thumbnails are made only for the rows in view: an
// image element for each of 100,000 rows, even a lazy one, would cost the
// page more than all its text.
constexpr const char* kScript = R"(
(function(){
var t=document.getElementById('r'),h=t.tHead.rows[0].cells,per=+t.dataset.b,col=-1,dir=1;
var V=-1,O=h.length-1,i;
for(i=0;i<h.length;i++){if(h[i].dataset.c=='v')V=i;}
function all(){return Array.prototype.slice.call(t.querySelectorAll('tbody tr'));}
function offPage(work){var p=document.createComment(''),u=t.parentNode;u.replaceChild(p,t);work();u.replaceChild(t,p);thumbs();}
// Names sort as people count: FILE9 before FILE10 (digit runs compared as numbers).
function natural(s){return s.toLowerCase().replace(/\d+/g,function(d){return ('0000000000000000000'+d).slice(-20);});}
function sortBy(c){
  dir=c==col?-dir:1;col=c;
  var num='n' in h[c].dataset,rows=all(),n=rows.length,k=new Array(n),x=new Array(n),i;
  for(i=0;i<n;i++){var s=rows[i].cells[c].textContent;k[i]=num?(s===''?-1:+s):natural(s);x[i]=i;}
  x.sort(function(p,q){return (k[p]<k[q]?-dir:k[p]>k[q]?dir:0)||p-q;});
  offPage(function(){for(var i=0;i<n;i++)t.tBodies[Math.floor(i/per)].appendChild(rows[x[i]]);});
  for(i=0;i<h.length;i++)h[i].className=i==c?(dir>0?'a':'d'):'';
}
for(i=0;i<h.length;i++)h[i].onclick=sortBy.bind(null,i);
var fk=document.getElementById('fk'),fv=document.getElementById('fv'),fs=document.getElementById('fs'),
    shown=document.getElementById('n');
function filter(){
  var kv=fk.value,vv=fv?fv.value:'',sv=fs.value,rows=all(),n=0;
  offPage(function(){
    for(var i=0;i<rows.length;i++){
      var r=rows[i],c=r.cells,ok=(!kv||c[2].textContent+'\t'+c[3].textContent==kv)&&
        (!vv||c[V].textContent==vv)&&(!sv||(c[O].className||'r')==sv);
      if(r.hidden==ok)r.hidden=!ok;
      if(ok)n++;
    }
  });
  shown.textContent=n==rows.length?'':'showing '+n+' of '+rows.length;
}
fk.onchange=fs.onchange=filter;if(fv)fv.onchange=filter;
// Thumbnails: from the row at the top of the window down to its foot.
function next(r){var b=r.parentNode.nextElementSibling;return r.nextElementSibling||(b&&b.rows[0]);}
var pending=false;
function thumbs(){
  pending=false;
  var top=Math.max(t.tHead.getBoundingClientRect().bottom,0)+1,r=t.tBodies[0].rows[0];
  if(t.tHead.getBoundingClientRect().bottom<top){
    var e=document.elementFromPoint(t.getBoundingClientRect().left+4,top);
    while(e&&e.tagName!='TR')e=e.parentNode;
    if(e&&e.parentNode.parentNode===t)r=e.previousElementSibling||e;
  }
  for(var n=0;r&&n<500;r=next(r)){
    if(r.hidden)continue;
    if(r.getBoundingClientRect().top>innerHeight)break;
    var a=r.cells[O].firstChild;
    if(a&&a.className=='t'){var m=new Image();m.loading='lazy';m.alt='';m.src=a.href;a.className='';a.prepend(m);}
    n++;
  }
}
function later(){if(!pending){pending=true;requestAnimationFrame(thumbs);}}
addEventListener('scroll',later);addEventListener('resize',later);thumbs();
window.tessaroReport={sortBy:sortBy,filter:filter,thumbs:thumbs};
})();
)";

}  // namespace

ReportWriter::~ReportWriter() {
  if (begun_) Discard();
}

bool ReportWriter::Open(const std::string& path, const std::string& source, const std::string& dest, bool checked) {
  if (path.empty()) return true;
  auto usage = [&](const std::string& why) {
    std::fprintf(stderr, "tessaro-cli recover: --report %s: %s\n", path.c_str(), why.c_str());
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
  const fs::path folderPath = Normal(folder);
  // The destination is made after this check, so the report may go there.
  const bool folderThere = platform_.Status(folder, status, error);
  if (folderThere && !status.isDirectory) return usage(folder + " is not a folder");
  if (!folderThere && folderPath != Normal(dest)) return usage("its folder " + folder + " does not exist");
  if (folderThere && platform_.SameFile(folder, source)) {
    return usage("the report cannot go into the fragment folder, where nothing is ever written");
  }
  path_ = path;
  source_ = source;
  dest_ = dest;
  checked_ = checked;
  folderAbsolute_ = Utf8Of(folderPath);
  destLink_ = LinkBetween(folderPath, Normal(dest));
  if (!destLink_.empty()) destLink_ += '/';
  return true;
}

bool ReportWriter::Begin() {
  begun_ = true;
  rows_.path = path_ + (format_ == Format::kHtml ? ".rows.tmp" : ".tmp");
  rows_.file = platform_.Create(rows_.path, rows_.error);
  if (rows_.file == kNoFile) {
    Fail(ErrorText(rows_.error));
    return false;
  }
  temporaries_.push_back(rows_.path);
  if (format_ == Format::kCsv) Put(rows_, "fragment,size,kind,extension,verdict,length,expected,detail,output,status\r\n");
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
  Close(rows_);
  std::error_code ec;
  for (const std::string& path : temporaries_) fs::remove(PathOf(path), ec);
  temporaries_.clear();
  begun_ = false;
}

void ReportWriter::Add(const RecoveryOutcome& o) {
  if (format_ == Format::kNone) return;
  if (!begun_ && !Begin()) return;
  ++fragments_;
  bytes_ += o.size;
  if (!o.failure.empty()) ++failed_;
  else if (o.kind == nullptr) ++skipped_;
  else if (o.stopped) ++stopped_;
  else ++recovered_;
  Tally& tally = kinds_[o.kind];
  if (tally.count == 0 && o.kind != nullptr) {
    tally.name = o.kind->NameOrEmpty();
    tally.extension = o.kind->ExtensionOrEmpty();
  }
  ++tally.count;
  tally.bytes += o.size;
  if (o.checked && o.failure.empty()) ++tally.verdicts[static_cast<std::size_t>(o.check.verdict)];
  // An output of this pass may have taken the report's own name; the report
  // must not replace it (checked, for these few, when the pass has ended).
  if (!o.outputPath.empty() && SameNameIgnoringCase(LastName(o.outputPath), LastName(path_))) {
    sameNamedOutputs_.push_back(o.outputPath);
  }
  if (!failure_.empty()) return;
  if (format_ == Format::kHtml) HtmlRow(o); else CsvRow(o);
}

std::string_view ReportWriter::InDest(std::string_view outputPath) const {
  if (outputPath.size() > dest_.size() + 1 && outputPath.compare(0, dest_.size(), dest_) == 0 &&
      IsSeparator(outputPath[dest_.size()])) {
    return outputPath.substr(dest_.size() + 1);
  }
  return {};
}

std::string ReportWriter::Link(const std::string& outputPath) const {
  // Outputs lie in DEST (or a folder of it): its link is known already.
  const std::string_view inDest = InDest(outputPath);
  if (!inDest.empty()) {
    std::string url = destLink_;
    PutSegments(url, inDest);
    return url;
  }
  return LinkBetween(PathOf(folderAbsolute_), Normal(outputPath));
}

void ReportWriter::HtmlRow(const RecoveryOutcome& o) {
  // Add has counted this fragment: a new body begins after every kRowsPerBody rows.
  std::string row = fragments_ > 1 && (fragments_ - 1) % kRowsPerBody == 0 ? "</tbody><tbody>\n<tr><td>" : "<tr><td>";
  PutEscaped(row, o.name);
  row += "<td>" + Number(o.size) + "<td>";
  if (o.kind != nullptr) {
    PutEscaped(row, o.kind->NameOrEmpty());
    row += "<td>";
    PutEscaped(row, o.kind->ExtensionOrEmpty());
  } else {
    row += "<td>";
  }
  if (checked_) {
    if (o.checked && o.failure.empty()) {
      row += "<td class=";
      row += VerdictClass(o.check.verdict);
      if (!o.check.detail.empty()) row += " title=\"" + Escaped(o.check.detail) + "\"";
      row += ">";
      row += formats::VerdictName(o.check.verdict);
      row += "<td>" + Length(o.check.length);
    } else {
      row += "<td><td>";
    }
  }
  std::string link;
  if (!o.outputPath.empty()) {
    const std::string url = Link(o.outputPath);
    const std::string_view inDest = InDest(o.outputPath);
    // A picture a browser shows gets its thumbnail once its row is in view.
    const bool thumbnail =
        o.failure.empty() && !o.stopped && o.kind != nullptr && ShowsAsImage(o.kind->ExtensionOrEmpty());
    link = (thumbnail ? "<a class=t href=\"" : "<a href=\"") + url + "\">";
    link += Escaped(inDest.empty() ? std::string_view(o.outputPath) : inDest);
    link += "</a>";
  }
  if (!o.failure.empty()) {
    row += "<td class=f>" + link + (link.empty() ? "" : " ") + "failed: " + Escaped(o.failure);
  } else if (o.kind == nullptr) {
    row += "<td class=s>no kind";
  } else if (o.stopped) {
    row += "<td class=p>" + link + " stopped";
  } else {
    row += "<td>" + link;
  }
  // The row's end tag keeps the line break out of the last cell's text.
  row += "</tr>\n";
  Put(rows_, row);
}

void ReportWriter::CsvRow(const RecoveryOutcome& o) {
  const bool verdict = o.checked && o.failure.empty();
  std::string status = !o.failure.empty() ? "failed: " + o.failure
                       : o.kind == nullptr ? std::string("no kind")
                       : o.stopped         ? std::string("stopped")
                                           : std::string("recovered");
  std::string row = CsvField(o.name) + "," + Number(o.size) + ",";
  if (o.kind != nullptr) row += CsvField(o.kind->NameOrEmpty()) + "," + CsvField(o.kind->ExtensionOrEmpty());
  else row += ",";
  row += ",";
  if (verdict) {
    row += std::string(formats::VerdictName(o.check.verdict)) + "," + Length(o.check.length) + "," +
           Length(o.check.expected) + "," + CsvField(o.check.detail);
  } else {
    row += ",,,";
  }
  row += "," + CsvField(o.outputPath) + "," + CsvField(status) + "\r\n";
  Put(rows_, row);
}

bool ReportWriter::Finish(bool stopped) {
  if (format_ == Format::kNone) return true;
  if (!begun_) Begin();
  if (failure_.empty()) {
    for (const std::string& output : sameNamedOutputs_) {
      if (platform_.SameFile(output, path_)) Fail("a recovered file took its name (" + output + ")");
    }
  }
  const bool written = failure_.empty() && Close(rows_) && (format_ == Format::kCsv || WritePage(stopped));
  if (written) {
    std::error_code ec;
    fs::rename(PathOf(path_ + ".tmp"), PathOf(path_), ec);
    if (ec) Fail(ec.message());
  }
  if (!failure_.empty()) {
    std::fprintf(stderr, "tessaro-cli recover: cannot write the report %s: %s\n", path_.c_str(), failure_.c_str());
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
  std::string head =
      "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8>"
      "<meta name=viewport content=\"width=device-width\"><title>Recovery report: " +
      Escaped(source_) + "</title><style>" + kStyle;
  // Numbers read best aligned right: the size, and the true length when
  // checked. The short columns are narrow, the names get the room.
  head += checked_ ? "#r td:nth-child(2),#r td:nth-child(6){text-align:right}#r tr{grid-template-columns:"
                     "minmax(8em,1.2fr) 6em minmax(8em,1.2fr) 7em 7em 6em minmax(12em,2fr)}"
                   : "#r td:nth-child(2){text-align:right}#r tr{grid-template-columns:"
                     "minmax(8em,1.2fr) 6em minmax(8em,1.2fr) 7em minmax(12em,2fr)}";
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
  if (checked_) head += "<th>Intact<th>Truncated<th>Damaged<th>Unchecked";
  head += "</thead><tbody>\n";
  std::string kindOptions, verdictOptions;
  for (const Tally* tally : order) {
    const std::string name = tally == none ? std::string("(no kind)") : Escaped(tally->name);
    head += "<tr><td>" + name + "<td>" + Escaped(tally->extension) + "<td>" + Number(tally->count) + "<td>" +
            Number(tally->bytes);
    if (checked_) {
      for (formats::Verdict verdict : kVerdicts) head += "<td>" + Number(tally->verdicts[static_cast<int>(verdict)]);
    }
    head += "\n";
    kindOptions += "<option value=\"" + Escaped(tally->name) + "\t" + Escaped(tally->extension) + "\">" + name +
                   (tally->extension.empty() ? "" : " (" + Escaped(tally->extension) + ")");
  }
  head += "</tbody></table></div>\n<p id=c>Kind <select id=fk><option value=\"\">all" + kindOptions + "</select>";
  if (checked_) {
    for (formats::Verdict verdict : kVerdicts) verdictOptions += std::string("<option>") + formats::VerdictName(verdict);
    head += "Verdict <select id=fv><option value=\"\">all" + verdictOptions + "</select>";
  }
  head +=
      "Status <select id=fs><option value=\"\">all<option value=r>recovered<option value=s>no kind"
      "<option value=f>failed<option value=p>stopped</select><span id=n></span>\n"
      "<table id=r data-b=" + std::to_string(kRowsPerBody) + "><thead><tr><th>Fragment<th data-n>Size<th>Kind<th>Extension";
  if (checked_) head += "<th data-c=v>Verdict<th data-n>Length";
  head += "<th data-c=o>Output</thead><tbody>\n";
  Put(page, head);

  // The rows, as the pass streamed them.
  int error = 0;
  const FileHandle rows = platform_.OpenRead(rows_.path, error);
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
  Put(page, "</tbody></table>\n<script>");
  Put(page, kScript);
  Put(page, "</script>\n</body></html>\n");
  const bool closed = Close(page);
  return closed && failure_.empty();
}

}  // namespace tessaro::cli
