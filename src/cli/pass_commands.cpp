// detect and recover: the window's two passes, run through a terminal.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "app/control_ids.h"
#include "app/main_dialog.h"
#include "cli/json_writer.h"
#include "cli/options.h"
#include "cli/terminal_window.h"

namespace tessaro::cli {

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted = true; }

// Counts what became of each fragment and, for --json, writes its entry at
// once: nothing per fragment is kept beyond that, so a folder of 100,000
// fragments costs no more memory than one of ten.
class Outcomes final : public PassObserver {
 public:
  explicit Outcomes(bool json) : json_(json) {}

  // Called on the worker; read by the main thread only after it has ended.
  void OnFileDetected(const DetectionOutcome& o) override {
    ++examined;
    if (o.failure != nullptr) {
      ++failed;
      std::fputs(o.failure, stderr);
    } else if (o.kind == nullptr) {
      ++skipped;
    }
  }

  void OnFileRecovered(const RecoveryOutcome& o) override {
    // The window shows no box when a fragment cannot be examined; here its
    // reason goes where the boxes of the other failures go.
    if (o.identifyFailed) std::fprintf(stderr, "%s\n", o.failure.c_str());
    if (!o.failure.empty()) ++failed;
    else if (o.kind == nullptr) ++skipped;
    else if (!o.stopped) ++recovered;
    if (!json_) return;
    JsonObject entry;
    entry.Field("name", o.name);
    if (o.kind) entry.Field("kind", o.kind->NameOrEmpty()).Field("extension", o.kind->ExtensionOrEmpty());
    else entry.Null("kind").Null("extension");
    if (o.outputPath.empty()) entry.Null("output"); else entry.Field("output", o.outputPath);
    if (o.failure.empty()) entry.Null("failure"); else entry.Field("failure", o.failure);
    entry.Number("bytes", static_cast<std::int64_t>(o.bytesCopied));
    if (files.size() > 1) files += ",";
    files += entry.Done();
  }

  std::int64_t examined = 0, recovered = 0, skipped = 0, failed = 0;
  std::string files = "[";

 private:
  bool json_;
};

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
  auto previous = std::signal(SIGINT, OnInterrupt);
  bool stopped = false;
  // The end of the pass is seen at once; Ctrl-C within a few milliseconds,
  // and the display redraws at its own bounded rate.
  while (!dialog.AwaitWorkerEnd(std::chrono::milliseconds(5))) {
    if (g_interrupted && !stopped) {
      stopped = true;
      if (recovering) dialog.OnStopRecover(); else dialog.OnStopDetect();
    }
    window.Render(recovering, false);
  }
  dialog.WaitForWorker();
  window.Render(recovering, true);
  std::signal(SIGINT, previous);
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
  Outcomes outcomes(false);
  dialog.SetPassObserver(&outcomes);
  dialog.OnDetect();
  const bool interrupted = RunToEnd(dialog, session.window, false);
  const bool failed = outcomes.failed > 0;

  const auto rows = session.window.Rows();
  if (options.json) {
    std::string kinds = "[";
    std::int64_t sum = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const std::int64_t count = dialog.m_tally.size() > r ? dialog.m_tally[r].count : 0;
      sum += count;
      if (r) kinds += ",";
      kinds += JsonObject()
                   .Number("slot", static_cast<std::int64_t>(r))
                   .Field("name", rows[r][0])
                   .Field("extension", rows[r][1])
                   .Number("count", count)
                   .Done();
    }
    kinds += "]";
    std::printf("%s\n", JsonObject()
                            .Field("folder", folder)
                            .Raw("kinds", kinds)
                            .Number("total", sum)
                            .Number("examined", outcomes.examined)
                            .Number("no_kind", outcomes.skipped)
                            .Number("failed", outcomes.failed)
                            .Raw("stopped", interrupted ? "true" : "false")
                            .Done()
                            .c_str());
  } else if (!interrupted) {
    std::printf("%-32s %-10s %s\n", "KIND", "EXTENSION", "COUNT");
    for (const auto& row : rows) {
      if (!options.all && row[2] == "0") continue;
      std::printf("%-32s %-10s %s\n", row[0].c_str(), row[1].c_str(), row[2].c_str());
    }
    std::printf("%s\n", session.window.Text(ids::kInfo).c_str());
    std::printf("examined %lld, no kind %lld, could not be read %lld\n", static_cast<long long>(outcomes.examined),
                static_cast<long long>(outcomes.skipped), static_cast<long long>(outcomes.failed));
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
  if (!MakeDestination(dest)) return kExitUsage;
  Session session(options);
  if (!Ready(session)) return kExitUsage;
  MainDialog& dialog = session.dialog;
  Outcomes outcomes(options.json);
  dialog.SetPassObserver(&outcomes);
  dialog.OnInitDialog();
  dialog.SetSourceFolder(folder);
  dialog.SetDestFolder(dest);
  dialog.OnRecover();
  const bool interrupted = RunToEnd(dialog, session.window, true);

  outcomes.files += "]";
  const std::int64_t recovered = outcomes.recovered, skipped = outcomes.skipped, failed = outcomes.failed;
  const std::string& files = outcomes.files;
  if (options.json) {
    std::printf("%s\n", JsonObject()
                            .Field("folder", folder)
                            .Field("destination", dest)
                            .Raw("files", files)
                            .Number("recovered", recovered)
                            .Number("skipped", skipped)
                            .Number("failed", failed)
                            .Raw("stopped", interrupted ? "true" : "false")
                            .Done()
                            .c_str());
  } else {
    std::printf("recovered %lld, skipped (no kind) %lld, failed %lld; destination %s\n",
                static_cast<long long>(recovered), static_cast<long long>(skipped),
                static_cast<long long>(failed), dest.c_str());
  }
  if (interrupted) return kExitInterrupted;
  return failed > 0 ? kExitFailures : kExitOk;
}

}  // namespace tessaro::cli
