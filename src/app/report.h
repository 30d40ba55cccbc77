#pragma once
// The recovery report (`recover --report FILE`, and the window's option): one
// row for every fragment of the pass, as one self-contained HTML page or as a
// CSV table (RFC 4180), by FILE's extension (.html/.htm or .csv).
//
// Memory stays small whatever the number of fragments: rows go to a temporary
// file beside the report as the outcomes arrive, and only a tally per kind is
// kept. Finish assembles FILE.tmp and renames it to FILE, so a run that fails
// or is killed never leaves half a report under FILE's name.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/main_dialog.h"
#include "platform/platform.h"

namespace tessaro::outputs {

// An absolute, lexically normal path, as a browser resolves links: its root
// name ("" on POSIX; "C:" or "\\server" on Windows) and its names.
struct NormalPath {
  std::string root;
  std::vector<std::string> names;
  bool operator==(const NormalPath&) const = default;
};
NormalPath Normal(const std::string& utf8);

// How the fragments' outcomes read in the report: the columns of the CSV
// table and of the page's grid, one table of them for both.
class ReportRows {
 public:
  // `dest`: DEST as the command was given it; `folder`: the report's folder.
  // The links of the page lead from `folder` to the outputs.
  ReportRows(bool checked, std::string dest, const std::string& folder);

  bool Checked() const { return checked_; }
  // The CSV table's header record and one fragment's record, CR LF ended.
  std::string CsvHeader() const;
  std::string CsvRow(const FileOutcome& o) const;
  // The page's header row, one fragment's row ("</tr>" and a line break
  // ended), and the grid's own style: its tracks and the cells aligned right.
  std::string HtmlHeader() const;
  std::string HtmlRow(const FileOutcome& o) const;
  std::string GridStyle() const;

  // The part of an output's path inside DEST ("" when it lies elsewhere), and
  // the link to it from the report's folder.
  std::string_view InDest(std::string_view outputPath) const;
  std::string Link(const std::string& outputPath) const;

 private:
  bool checked_;
  std::string dest_;
  NormalPath folder_;
  std::string destLink_;  // DEST as a link from the report's folder: "" or segments ending in '/'
};

class ReportWriter {
 public:
  explicit ReportWriter(Platform& platform = SystemPlatform()) : platform_(platform) {}
  ~ReportWriter();
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;

  // Before the pass. An empty `path` asks for no report (true, and the other
  // calls do nothing). Otherwise false, with the reason on standard error,
  // when FILE cannot be a report: an extension other than .html, .htm or
  // .csv, a folder that does not exist (`dest` may: the command makes it),
  // FILE being a folder, or FILE lying in the fragment folder `source`,
  // where nothing is ever written. No file is made here.
  bool Open(const std::string& path, const std::string& source, const std::string& dest, bool checked);

  // One fragment's outcome, on the pass's worker thread.
  void Add(const FileOutcome& outcome);
  // With splitting: bytes of the fragment `name` that no file found holds.
  void AddUnclaimed(std::string_view name, std::uint64_t offset, std::uint64_t length);

  // After the pass has ended (`stopped`: by the user): writes FILE. False,
  // with the reason on standard error naming FILE, when it could not be
  // written; then no FILE and no temporary file is left.
  bool Finish(bool stopped);

  // Where Open and Finish give their reasons: standard error, as the command
  // line says them, unless a sink is set here (the window shows them).
  void SendReasonsTo(std::function<void(const std::string& reason)> sink) { complain_ = std::move(sink); }

 private:
  enum class Format { kNone, kHtml, kCsv };
  struct Tally {
    std::string name, extension;
    std::int64_t count = 0;
    std::uint64_t bytes = 0;
    VerdictCounts verdicts;
  };
  // A file written in chunks of a buffer; the first failure is kept.
  struct Sink {
    FileHandle file = kNoFile;
    std::string path;
    std::string buffer;
    int error = 0;
  };

  bool Begin();
  void Put(Sink& sink, std::string_view text);
  bool Flush(Sink& sink);
  bool Close(Sink& sink);
  bool WritePage(bool stopped);
  void Fail(const std::string& what);
  void Discard();

  Platform& platform_;
  Format format_ = Format::kNone;
  std::unique_ptr<ReportRows> rows_;
  std::string path_, source_, dest_;
  Sink rowFile_;
  bool begun_ = false;
  std::string failure_;  // the first reason the report cannot be written
  std::vector<std::string> temporaries_;  // the files made so far, which no run leaves behind
  std::unordered_map<const FileTypeRecord*, Tally> kinds_;
  std::int64_t fragments_ = 0, recovered_ = 0, skipped_ = 0, failed_ = 0, stopped_ = 0;
  std::uint64_t bytes_ = 0;
  std::vector<std::string> sameNamedOutputs_;
  std::function<void(const std::string&)> complain_;  // outputs named as FILE: it must not replace them
};

}  // namespace tessaro::outputs
