// detect and recover: the window's two passes, run through a terminal.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <array>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "app/main_dialog.h"
#include "app/json_writer.h"
#include "cli/options.h"
#include "app/report.h"
#include "cli/terminal_window.h"
#include "engine/formats/format_check.h"

namespace tessaro::cli {

using namespace tessaro::outputs;

namespace {

std::atomic<bool> g_interrupted{false};
// The stop flag of the pass in hand. Ctrl-C sets it from the handler itself,
// so the pass stops at once and no thread has to wake to carry the stop over.
std::atomic<std::atomic<std::uint8_t>*> g_stopFlag{nullptr};
static_assert(std::atomic<std::uint8_t>::is_always_lock_free && std::atomic<std::atomic<std::uint8_t>*>::is_always_lock_free,
              "set from a signal handler");

extern "C" void OnInterrupt(int) {
  g_interrupted = true;
  if (std::atomic<std::uint8_t>* stop = g_stopFlag.load()) stop->store(1);
}

// Counts what became of each fragment and, for --json, writes its entry at
// once: nothing per fragment is kept beyond that, so a folder of 100,000
// fragments costs no more memory than one of ten.
class Outcomes final : public PassObserver {
 public:
  Outcomes(bool json, bool check, ReportWriter* report = nullptr) : json_(json), check_(check), report_(report) {}
  // With rescue reading, every entry lists its unreadable ranges.
  void ListUnreadable(bool on) { unreadable_ = on; }

  // Called on the worker; read by the main thread only after it has ended.
  void OnFileDetected(const FileOutcome& o) override {
    Count(o);
    if (o.filesInside == 0 && !o.beginsWithRecords) return;
    const std::string name(o.name);
    std::string line = name + ": no kind, but it ";
    if (o.beginsWithRecords) line += "begins with a lost folder's records";
    if (o.beginsWithRecords && o.filesInside > 0) line += " and ";
    if (o.filesInside > 0) line += "holds " + std::to_string(o.filesInside) + (o.filesInside == 1 ? " file" : " files");
    line += o.filesInside > 0 ? " that --split finds" : ", so it may hold their files: try --split";
    inside.push_back(line);
    if (!insideJson.empty()) insideJson += ',';
    insideJson += JsonObject()
                      .Field("fragment", name)
                      .Number("files", static_cast<std::int64_t>(o.filesInside))
                      .Raw("records", o.beginsWithRecords ? "true" : "false")
                      .Done();
  }

  void OnUnclaimed(std::string_view name, std::uint64_t offset, std::uint64_t length) override {
    if (report_ != nullptr) report_->AddUnclaimed(name, offset, length);
    if (!json_) return;
    if (!unclaimed.empty()) unclaimed += ',';
    unclaimed += JsonObject()
                     .Field("fragment", std::string(name))
                     .Number("offset", static_cast<std::int64_t>(offset))
                     .Number("length", static_cast<std::int64_t>(length))
                     .Done();
  }

  void OnDetectionTally(const std::vector<KindTally>& rows, const std::string& line) override {
    tally = rows;
    summary = line;
  }

  void OnFileRecovered(const FileOutcome& o) override {
    Count(o);
    if (report_ != nullptr) report_->Add(o);
    if (json_) PutJsonEntry(o);
  }

  std::int64_t examined = 0, recovered = 0, skipped = 0, failed = 0;
  VerdictCounts verdicts;
  std::vector<KindTally> tally;
  std::string summary;
  std::string unclaimed;  // --json: the runs of bytes no file found holds, as JSON objects
  // detect without --split: fragments of no kind that hold files or begin
  // with a lost folder's records, as lines and as JSON objects.
  std::vector<std::string> inside;
  std::string insideJson;

 private:
  void Count(const FileOutcome& o) {
    ++examined;
    // The window shows no box when a fragment cannot be examined; here its
    // reason goes where the boxes of the other failures go.
    if (o.result == FileOutcome::Result::kFailed && !o.failureShown) std::fprintf(stderr, "%s\n", o.failure.c_str());
    switch (o.result) {
      case FileOutcome::Result::kFailed: ++failed; break;
      case FileOutcome::Result::kNoKind: ++skipped; break;
      case FileOutcome::Result::kRecovered: ++recovered; break;
      case FileOutcome::Result::kStopped: break;
    }
    if (o.CountsVerdict()) verdicts.Add(o.check->verdict);
  }

  void PutJsonEntry(const FileOutcome& o) {
    JsonObject entry;
    entry.Field("name", o.name);
    if (o.kind) entry.Field("kind", o.kind->NameOrEmpty()).Field("extension", o.kind->ExtensionOrEmpty());
    else entry.Null("kind").Null("extension");
    if (o.outputPath.empty()) entry.Null("output"); else entry.Field("output", o.outputPath);
    if (o.failure.empty()) entry.Null("failure"); else entry.Field("failure", o.failure);
    entry.Number("bytes", static_cast<std::int64_t>(o.bytesCopied));
    if (o.part) {
      entry.Field("fragment", std::string(o.name))
          .Number("offset", static_cast<std::int64_t>(o.offset))
          .Number("length", static_cast<std::int64_t>(o.length));
    }
    if (check_) {
      // Every entry has the four, also a fragment of no kind (unchecked).
      const formats::CheckResult none;
      const formats::CheckResult& c = o.check ? *o.check : none;
      entry.Field("verdict", formats::VerdictName(c.verdict));
      if (o.part) {
        // The part's length went before: for an intact file it is the check's.
      } else if (c.length == formats::kUnknown) {
        entry.Null("length");
      } else {
        entry.Number("length", static_cast<std::int64_t>(c.length));
      }
      if (c.expected == formats::kUnknown) entry.Null("expected"); else entry.Number("expected", static_cast<std::int64_t>(c.expected));
      entry.Field("detail", o.check ? c.detail : std::string(o.kind ? "" : "no kind"));
    }
    if (unreadable_) {
      std::string ranges = "[";
      for (const RescueReads::Range& r : o.unreadable) {
        if (ranges.size() > 1) ranges += ',';
        ranges += '[' + std::to_string(r.offset) + ',' + std::to_string(r.length) + ']';
      }
      entry.Raw("unreadable", ranges + ']');
    }
    // Written out at once, between the document's head and tail: the list
    // is never held, whatever the number of fragments.
    if (entries_++ > 0) std::fputc(',', stdout);
    std::fputs(entry.Done().c_str(), stdout);
  }

  bool json_;
  bool check_;
  bool unreadable_ = false;
  std::int64_t entries_ = 0;
  ReportWriter* report_;
};

std::string VerdictCountsJson(const VerdictCounts& v) {
  JsonObject counts;
  for (formats::Verdict verdict : kVerdictOrder) counts.Number(formats::VerdictName(verdict), v[verdict]);
  return counts.Done();
}

// Says on standard error why `path` cannot be the folder of `command`, or
// nothing when it is a folder.
bool CheckFolder(const char* command, const char* what, const std::string& path) {
  FileStatus status;
  int error = 0;
  if (!SystemPlatform().Status(path, status, error)) {
    std::fprintf(stderr, "tessaro-cli %s: %s%s does not exist\n", command, what, path.c_str());
    return false;
  }
  if (!status.isDirectory) {
    std::fprintf(stderr, "tessaro-cli %s: %s%s is not a folder\n", command, what, path.c_str());
    return false;
  }
  return true;
}

// Makes the destination and the folders above it that are missing, as
// "mkdir -p" does; says why on standard error when it cannot.
bool MakeDestination(const std::string& dest) {
  Platform& platform = SystemPlatform();
  FileStatus status;
  int error = 0;
  if (platform.Status(dest, status, error)) return CheckFolder("recover", "destination ", dest);
  // The missing folders, from the innermost outwards, up to one that is there.
  auto separator = [](char c) { return c == '/' || c == PathSeparator(); };
  std::vector<std::string> missing;
  std::string path = dest;
  while (!path.empty() && !platform.Status(path, status, error)) {
    missing.push_back(path);
    std::size_t end = path.size();
    while (end > 0 && separator(path[end - 1])) --end;   // separators at the end
    while (end > 0 && !separator(path[end - 1])) --end;  // the last name
    while (end > 1 && separator(path[end - 1])) --end;   // the separators before it, but a root's
    path.resize(end);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!platform.MakeFolder(*it, error) && !(platform.Status(*it, status, error) && status.isDirectory)) {
      std::fprintf(stderr, "tessaro-cli recover: cannot make the destination %s: %s\n", it->c_str(),
                   ErrorText(error).c_str());
      return false;
    }
  }
  return true;
}

// Runs the pass the dialog has just started, redrawing progress and turning
// Ctrl-C into the stop button, until its worker has ended.
bool RunToEnd(MainDialog& dialog, TerminalWindow& window, bool recovering) {
  g_interrupted = false;
  g_stopFlag = &dialog.m_stopRequested;
  auto previous = std::signal(SIGINT, OnInterrupt);
  bool stopped = false;
  // The end of the pass is seen at once and Ctrl-C stops the pass by itself:
  // this thread wakes only to redraw a live display (at its own bounded
  // rate). Every wake-up of an idle thread takes a processor from the pass.
  const auto period = window.Live() ? std::chrono::milliseconds(5) : std::chrono::milliseconds(500);
  while (!dialog.AwaitWorkerEnd(period)) {
    if (g_interrupted && !stopped) {
      stopped = true;
      if (recovering) dialog.OnStopRecover(); else dialog.OnStopDetect();
    }
    window.Render(recovering, false);
  }
  dialog.WaitForWorker();
  window.Render(recovering, true);
  std::signal(SIGINT, previous);
  g_stopFlag = nullptr;
  return stopped || g_interrupted;
}

struct Session {
  explicit Session(const Options& options)
      : window(stderr, isatty(fileno(stderr)) != 0), dialog(window, CataloguePath(options)) {}
  TerminalWindow window;
  MainDialog dialog;
};

bool Ready(Session& session) {
  if (session.dialog.m_engine.ready) return true;
  std::fputs(session.dialog.m_engine.lastError, stderr);
  return false;
}

}  // namespace

int RunDetect(const Options& options) {
  if (options.operands.size() != 1) {
    std::fputs("tessaro-cli detect: expected one FOLDER\n", stderr);
    return kExitUsage;
  }
  const std::string& folder = options.operands[0];
  if (!CheckFolder("detect", "", folder)) return kExitUsage;
  Session session(options);
  if (!Ready(session)) return kExitUsage;
  MainDialog& dialog = session.dialog;
  dialog.OnInitDialog();
  dialog.SetSourceFolder(folder);
  const bool check = options.check || options.split;
  Outcomes outcomes(options.json && options.split, check);
  outcomes.tally = dialog.m_tally;  // the empty table, should the pass never begin
  dialog.SetPassObserver(&outcomes);
  dialog.SetFormatChecks(check, false, formats::CheckOptions{options.deep});
  dialog.SetSplit(options.split);
  dialog.SetInsideHints(!options.split);
  dialog.OnDetect();
  const bool interrupted = RunToEnd(dialog, session.window, false);
  const bool failed = outcomes.failed > 0;

  const std::vector<KindTally>& rows = outcomes.tally;
  if (options.json) {
    std::string kinds = "[";
    std::int64_t sum = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      sum += rows[r].count;
      if (r) kinds += ",";
      JsonObject row;
      row.Number("slot", static_cast<std::int64_t>(r))
          .Field("name", rows[r].name)
          .Field("extension", rows[r].extension)
          .Number("count", rows[r].count);
      if (check) {
        for (formats::Verdict verdict : kVerdictOrder) row.Number(formats::VerdictName(verdict), rows[r].verdicts[verdict]);
      }
      kinds += row.Done();
    }
    kinds += "]";
    JsonObject document;
    document.Field("folder", folder)
        .Raw("kinds", kinds)
        .Number("total", sum)
        .Number("examined", outcomes.examined)
        .Number("no_kind", outcomes.skipped)
        .Number("failed", outcomes.failed)
        .Raw("stopped", interrupted ? "true" : "false");
    if (options.split) document.Raw("unclaimed", "[" + outcomes.unclaimed + "]");
    else document.Raw("inside", "[" + outcomes.insideJson + "]");
    std::printf("%s\n", document.Done().c_str());
  } else if (!interrupted) {
    std::printf("%-32s %-10s %s", "KIND", "EXTENSION", check ? "COUNT " : "COUNT\n");
    if (check) std::printf(" %9s %9s %9s %9s\n", "INTACT", "TRUNCATED", "DAMAGED", "UNCHECKED");
    for (const KindTally& row : rows) {
      if (!options.all && row.count == 0) continue;
      std::printf("%-32s %-10s %-5lld", row.name.c_str(), row.extension.c_str(), static_cast<long long>(row.count));
      if (check) {
        for (formats::Verdict verdict : kVerdictOrder) std::printf(" %9lld", static_cast<long long>(row.verdicts[verdict]));
      }
      std::printf("\n");
    }
    std::printf("%s\n", outcomes.summary.c_str());
    std::printf("examined %lld, no kind %lld, could not be read %lld\n", static_cast<long long>(outcomes.examined),
                static_cast<long long>(outcomes.skipped), static_cast<long long>(outcomes.failed));
    // Said where a person looks, beside the table: a folder whose files all
    // lie inside fragments of no kind is not "nothing recoverable".
    std::fflush(stdout);
    for (const std::string& line : outcomes.inside) std::fprintf(stderr, "%s\n", line.c_str());
  }
  if (interrupted) return kExitInterrupted;
  return failed ? kExitFailures : kExitOk;
}

int RunRecover(const Options& options) {
  if (options.operands.size() != 2) {
    std::fputs("tessaro-cli recover: expected FOLDER and DEST\n", stderr);
    return kExitUsage;
  }
  const std::string& folder = options.operands[0];
  const std::string& dest = options.operands[1];
  if (!CheckFolder("recover", "", folder)) return kExitUsage;
  ReportWriter report;
  const bool split = options.split || options.originalNames;
  const bool check = options.check || split || options.rescue;
  if (!report.Open(options.report, folder, dest, check)) return kExitUsage;
  if (!MakeDestination(dest)) return kExitUsage;
  Session session(options);
  if (!Ready(session)) return kExitUsage;
  MainDialog& dialog = session.dialog;
  Outcomes outcomes(options.json, check, &report);
  dialog.SetPassObserver(&outcomes);
  dialog.SetFormatChecks(check, options.trim, formats::CheckOptions{options.deep});
  dialog.SetSplit(split);
  dialog.SetRescue(options.rescue);
  outcomes.ListUnreadable(options.rescue);
  dialog.SetOriginalNames(options.originalNames);
  dialog.SetOutputLayout(options.contentNames, options.sortByKind);
  dialog.OnInitDialog();
  dialog.SetSourceFolder(folder);
  dialog.SetDestFolder(dest);
  if (options.json) {
    // The document's head; the entries follow as the pass makes them.
    std::string head = JsonObject().Field("folder", folder).Field("destination", dest).Done();
    head.pop_back();
    std::printf("%s,\"files\":[", head.c_str());
  }
  dialog.OnRecover();
  const bool interrupted = RunToEnd(dialog, session.window, true);
  const bool reported = report.Finish(interrupted);

  const std::int64_t recovered = outcomes.recovered, skipped = outcomes.skipped, failed = outcomes.failed;
  if (options.json) {
    JsonObject document;
    document.Number("recovered", recovered)
        .Number("skipped", skipped)
        .Number("failed", failed)
        .Raw("stopped", interrupted ? "true" : "false");
    if (check) document.Raw("verdicts", VerdictCountsJson(outcomes.verdicts));
    if (split) document.Raw("unclaimed", "[" + outcomes.unclaimed + "]");
    if (options.rescue) {
      document.Number("unreadable_files", static_cast<std::int64_t>(dialog.RescuedFiles()))
          .Number("unreadable_bytes", static_cast<std::int64_t>(dialog.LostBytes()));
    }
    std::printf("],%s\n", document.Done().c_str() + 1);  // the tail of the document whose head went before the pass
  } else {
    std::printf("recovered %lld, skipped (no kind) %lld, failed %lld; destination %s\n",
                static_cast<long long>(recovered), static_cast<long long>(skipped),
                static_cast<long long>(failed), dest.c_str());
    if (check) {
      const VerdictCounts& v = outcomes.verdicts;
      std::printf("intact %lld, truncated %lld, damaged %lld, unchecked %lld%s\n",
                  static_cast<long long>(v[formats::Verdict::kIntact]),
                  static_cast<long long>(v[formats::Verdict::kTruncated]),
                  static_cast<long long>(v[formats::Verdict::kDamaged]),
                  static_cast<long long>(v[formats::Verdict::kUnchecked]),
                  options.trim ? "; intact files written up to their true end" : "");
    }
    if (options.rescue) {
      std::printf("unreadable sectors in %llu files, %llu bytes lost (zeros in their place)\n",
                  static_cast<unsigned long long>(dialog.RescuedFiles()),
                  static_cast<unsigned long long>(dialog.LostBytes()));
    }
  }
  if (interrupted) return kExitInterrupted;
  return failed > 0 || !reported ? kExitFailures : kExitOk;
}

}  // namespace tessaro::cli
