#pragma once
// MainDialog: the main window's logic and the owner of all run-time state.
//
// It knows no toolkit: it reaches its window through a DialogWindow. Handlers
// (On...) run on the window's thread. The two passes run on one worker thread
// at a time, started through the Platform.
//
// Run control: a start (or a folder choice) while a stopped worker is still
// finishing its file waits for that worker, serving its window calls meanwhile,
// so there are never two workers. OnClose stops and waits the same way; the
// destructor does too, so the members a worker uses outlive it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "app/dialog_window.h"
#include "app/kind_tally.h"
#include "app/recovery_options.h"
#include "app/rescue_reads.h"
#include "catalog/fragment_engine.h"
#include "engine/formats/format_check.h"
#include "engine/split/lost_names.h"
#include "platform/platform.h"

namespace tessaro {

// What became of one fragment in a pass: the one account both passes give,
// from which the command line's summary, --json and report are all made.
struct FileOutcome {
  enum class Result : std::uint8_t {
    kRecovered,  // recovery: written whole (or up to its true end); detection: a kind was found
    kNoKind,
    kFailed,     // `failure` says why
    kStopped,    // recovery: a stop cut the copy short, or came before it began
  };
  std::string_view name;                 // as listed
  std::uint64_t size = 0;                // recovery: the fragment's size when the pass reached it
  const FileTypeRecord* kind = nullptr;  // null: no kind, or it could not be examined
  Result result = Result::kNoKind;
  std::string failure;                   // the message box's text, or the reason where no box was shown
  bool failureShown = false;             // the window showed `failure` in a box
  std::string outputPath;                // empty when nothing was written
  std::uint64_t bytesCopied = 0;
  int row = -1;                          // detection: the tally row it counts on, -1 when none
  // With splitting: the file is the bytes [offset, offset + length) of the
  // fragment `name` (its proven length when intact, else up to the next file).
  bool part = false;
  // Detection without splitting, of a fragment of no kind, when asked
  // (SetInsideHints): how many files splitting finds in it, and whether it
  // begins with a lost folder's records.
  std::uint64_t filesInside = 0;
  bool beginsWithRecords = false;
  bool unclaimed = false;  // the report's row of bytes that belong to no file found (no kind)
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  // With format checks on, once the check ran (a kind was found): what the
  // file's structure says. Its verdict is shown wherever the fragment is,
  // also when the copy then failed; it is counted only when the fragment
  // did not fail.
  std::optional<formats::CheckResult> check;
  // With rescue reading: the sectors of the output that could not be read
  // and are zeros in it, as offsets into the output.
  std::vector<RescueReads::Range> unreadable;

  bool CountsVerdict() const { return check.has_value() && result != Result::kFailed; }
  // A failure the window shows no box for (the fragment could not be
  // examined): the reason, without the line end the engine's messages carry.
  void FailUnshown(std::string_view reason) {
    result = Result::kFailed;
    while (!reason.empty() && reason.back() == '\n') reason.remove_suffix(1);
    failure.assign(reason);
  }
};

// Hears of each fragment's outcome on the worker thread, as it happens, and of
// the detection's tally at the end of the pass (also a stopped one): how the
// command line gets its counts and reports without reading a window back.
class PassObserver {
 public:
  virtual ~PassObserver() = default;
  virtual void OnFileDetected(const FileOutcome& /*outcome*/) {}
  virtual void OnFileRecovered(const FileOutcome& /*outcome*/) {}
  // `tally` in catalogue order, as the kind list shows it; `summary` is the
  // line under it, empty when the pass was stopped.
  // With splitting: bytes of the fragment `name`, not all zeros, that belong
  // to no file found (also when the pass only detects).
  virtual void OnUnclaimed(std::string_view /*name*/, std::uint64_t /*offset*/, std::uint64_t /*length*/) {}
  virtual void OnDetectionTally(const std::vector<KindTally>& /*tally*/, const std::string& /*summary*/) {}
};

namespace detail {
// Made before the engine, which reads through it.
struct RescueHolder {
  explicit RescueHolder(Platform& platform) : rescueReads_(platform) {}
  RescueReads rescueReads_;
};
}  // namespace detail

class MainDialog : private detail::RescueHolder {
 public:
  static constexpr std::size_t kCopyChunk = 32768;

  // Builds the engine from `configPath` (tessaro.cfg in the current directory
  // by default). `window` and `platform` must outlive the dialog.
  explicit MainDialog(DialogWindow& window, std::string configPath = FragmentEngine::kDefaultConfig,
                      Platform& platform = SystemPlatform());
  ~MainDialog();
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Window thread.
  void OnInitDialog();
  void ResetRunState();
  void InitKindListColumns();
  void FillKindList();
  std::string ChooseFolder(bool source);
  // A button or menu item of the main window, by its control id: runs its
  // handler. False for an id that has none ("退出" and closing are the
  // window's own).
  bool OnCommand(unsigned id);
  void OnChooseSource();
  void OnChooseDest();
  void OnHelpContents();
  void OnAbout();
  void OnSysCommand(unsigned id);
  void OnDetect();
  void OnStopDetect();
  void OnRecover();
  void OnStopRecover();
  // Menu "开始": a detection, as "检测" starts it, unless a pass runs.
  // Menu "结束": stops the pass that runs, as its "停止" would.
  void OnMenuStart();
  void OnMenuEnd();
  // Menu "选项(&O)...": the options box; what it chooses holds from the next
  // pass on and is kept in the settings file. Nothing while a pass runs.
  void OnOptions();
  // The windows' options, read from the settings file in `folder` (none
  // when ""): the window's own behaviour until its options box says more.
  void UseSettingsFolder(const std::string& folder);
  void ApplyOptions(const RecoveryOptions& options);
  const RecoveryOptions& Options() const { return options_; }
  // Before the window goes away: stop a running pass and wait for its worker.
  void OnClose();

  // Either thread.
  void SetRunState(std::uint32_t buttonId);
  void SetProgress(int filePercent, int overallPercent);

  // The worker's side.
  static std::uint32_t DetectThreadProc(void* dialog);
  static std::uint32_t RecoverThreadProc(void* dialog);
  // Lists the fragments into m_fileNames; with `sizes`, their total into
  // m_totalBytes (the recovery's overall bar), else m_totalBytes is 0.
  int ScanFragmentFolder(const std::string& folder, bool sizes = true);
  int RunDetectionPass();
  int RunRecoveryPass();
  // The recovery pass with the options box's report: written into the
  // destination, then opened in the browser.
  void RunRecoveryPassWithReport();
  std::string ReportPath() const;
  int RecoverFile(const std::string& fragmentPath, const std::string& baseName);
  // The files inside one open fragment, each written on its own: placed
  // (and, with originalNames_, named) by the lost folders' records where
  // those confirm them, else as the content split found them.
  void RecoverParts(FileOutcome& whole, FileHandle source, const std::string& fragmentPath, const std::string& baseName);

  // Sets a folder as the browser would (the command line has no browser).
  void SetSourceFolder(const std::string& folder);
  void SetDestFolder(const std::string& folder);

  // True while a worker thread exists (running or finishing after a stop).
  bool WorkerAlive() const;
  // Waits up to `limit` for the worker to end, and says whether it has: a
  // caller that watches a pass sees its end at once.
  bool AwaitWorkerEnd(std::chrono::microseconds limit);
  // Waits, serving window calls, until no worker exists.
  void WaitForWorker();
  void SetPassObserver(PassObserver* observer) { observer_ = observer; }
  // Beyond the window's passes (the command line's --check and --trim): each
  // recognised fragment's own structure is checked, and with `trim` an intact
  // file is written up to its true end only. Off unless asked for.
  void SetFormatChecks(bool check, bool trim, formats::CheckOptions options = {}) {
    checkFormats_ = check || trim;
    trimToTrueEnd_ = trim;
    checkOptions_ = options;
  }
  // Also beyond the window (the command line's --names content and --sort
  // kind): outputs named "CONTENT (FILE0007).jpg" from their own metadata, and
  // written into one subfolder of the destination per extension. Off unless
  // asked for.
  void SetOutputLayout(bool contentNames, bool sortByKind) {
    contentNames_ = contentNames;
    sortByKind_ = sortByKind;
  }

  // Also beyond the window (the command line's --split): a fragment is read
  // as files back to back, and each file found is counted, checked and
  // written on its own, "FILE0007-0001.jpg", ... Implies the checks. Off
  // unless asked for.
  void SetSplit(bool split) {
    split_ = split;
    if (split) checkFormats_ = true;
  }
  // Also beyond the window (the command line's detect): a fragment of no
  // kind is read as files back to back, and its outcome says how many it
  // holds (and whether it begins with a lost folder's records), so that a
  // folder whose files all lie inside such fragments is not passed over.
  void SetInsideHints(bool hints) { insideHints_ = hints; }
  // Also beyond the window (the command line's --names original): with
  // splitting, files are named as their lost folders' own records name
  // them, DEST/FOLDER/NAME; those without a record as from their content.
  void SetOriginalNames(bool original) {
    originalNames_ = original;
    if (original) contentNames_ = true;
  }

  // Also beyond the window (the command line's --rescue): a fragment whose
  // reads fail is read carefully, its unreadable sectors become zeros in the
  // output, and the file is kept with the verdict damaged instead of being
  // lost. Implies the checks. Off unless asked for.
  void SetRescue(bool rescue) {
    rescue_ = rescue;
    rescueReads_.Enable(rescue);
    if (rescue) checkFormats_ = true;
  }
  // The files this pass wrote with unreadable sectors, and the bytes lost.
  std::uint64_t RescuedFiles() const { return rescuedFiles_; }
  std::uint64_t LostBytes() const { return lostBytes_; }

  // The run-time state.
  std::atomic<std::uint8_t> m_stopRequested{0};
  std::vector<std::string> m_fileNames;
  std::string m_destFolder;
  std::string m_sourceFolder;
  int m_kindCount = 0;
  std::uint64_t m_totalBytes = 0;
  std::uint64_t m_copiedBytes = 0;
  std::vector<KindTally> m_tally;
  FragmentEngine m_engine;

 private:
  bool StartWorker(std::uint32_t (*proc)(void*));
  void WorkerEnded();
  void SetPosition(int id, int position);
  int Percent(std::uint64_t part, std::uint64_t whole) const;
  // The path of a new output, unique in this pass, named after its fragment
  // (and its `content`, when it has a name from there); with sortByKind_, in
  // the subfolder of its kind (and verdict), made when missing.
  std::string OutputPath(const std::string& baseName, const std::string& content, const std::string& extension,
                         const formats::CheckResult* check);
  void Report(FileOutcome& outcome);
  // Writes `length` bytes of `source` from its file position to a new output
  // named after `baseName` (and `content`); `size` is what the pass counts
  // as handled for it. Reports the outcome.
  // Creates the output of `outcome`; when it cannot, calls `beforeTelling`,
  // shows the failure, counts `size` as handled, reports, and gives kNoFile.
  FileHandle CreateOutput(FileOutcome& outcome, const std::string& destPath, std::uint64_t size,
                          const std::function<void()>& beforeTelling = {});
  void WriteOutput(FileOutcome& outcome, FileHandle source, const std::string& fragmentPath,
                   const std::string& destPath, std::uint64_t length, std::uint64_t size);
  // The path of a new output named as a lost folder's records name it:
  // DEST/FOLDER/.../NAME, each name made safe, the folders made when
  // missing, unique in this pass; `fallback` names it where nothing of the
  // recorded name is left.
  std::string OriginalOutputPath(const std::vector<std::string>& folders, const std::string& name,
                                 const std::string& fallback);
  // Makes the subfolder `folder` of the destination (`prefix` its name key)
  // once in this pass.
  void MakeOutputFolder(const std::string& folder, const std::string& prefix);
  // Detection of the files inside one fragment.
  void DetectParts(const std::string& path, std::string_view name, int textRow);
  // Fills outcome.filesInside and beginsWithRecords for the fragment at `path`.
  void LookInside(const std::string& path, FileOutcome& outcome);
  void Show(const std::string& text, const char* caption);
  // With rescue reading: whether the end `end` that a check found in the
  // `size` bytes at `offset` of `source` lies at or inside sectors that
  // could not be read (and so may be made by their zeros).
  bool EndMadeByZeros(FileHandle source, std::uint64_t offset, std::uint64_t size, std::uint64_t end) const;
  // With rescue reading: the written file's unreadable sectors into
  // `outcome`, which then is damaged.
  void MarkUnreadable(FileOutcome& outcome, FileHandle source);
  // The tally row `kind` counts on, -1 when none.
  int TallyRow(const FileTypeRecord* kind) const;

  DialogWindow& window_;
  Platform& platform_;
  WorkerHandle worker_;
  mutable std::mutex workerMutex_;
  bool workerRunning_ = false;  // guarded by workerMutex_
  std::condition_variable workerEnded_;
  bool waiting_ = false;        // a handler is waiting for the worker (window thread only)

  // Last positions shown, so the window hears only of changes. -1: unknown.
  std::atomic<int> shownFile_{-1};
  std::atomic<int> shownTotal_{-1};

  // Recovery pass: names already used this pass, and the fragments' own names
  // when the destination is the source folder.
  std::unordered_set<std::string> outputsThisPass_;
  std::unordered_set<std::string> fragmentNames_;
  bool destIsSource_ = false;
  // Detection pass: the tally row of each kind, by table index.
  std::vector<int> tallyRows_;
  std::unique_ptr<unsigned char[]> copyBuffer_;
  PassObserver* observer_ = nullptr;
  bool checkFormats_ = false;
  bool trimToTrueEnd_ = false;
  bool contentNames_ = false;
  bool sortByKind_ = false;
  bool split_ = false;
  bool originalNames_ = false;
  bool insideHints_ = false;
  bool rescue_ = false;
  std::uint64_t rescuedFiles_ = 0;
  std::uint64_t lostBytes_ = 0;
  RecoveryOptions options_;
  std::unique_ptr<SettingsFile> settings_;
  std::atomic<int> runningPass_{0};  // ids::kDetect or ids::kRecover while one runs
  // The lost folders' records met this pass (with split_).
  std::unique_ptr<split::LostFolders> lostFolders_;
  // The subfolders made (or found) this pass, by their name key.
  std::unordered_set<std::string> foldersThisPass_;
  formats::CheckOptions checkOptions_;
  FileOutcome* currentOutcome_ = nullptr;
  // The folders last chosen in each browser (window thread): a cancel empties
  // the folder, not the place where the browser opens next.
  std::string lastSourceChosen_;
  std::string lastDestChosen_;
};

}  // namespace tessaro
