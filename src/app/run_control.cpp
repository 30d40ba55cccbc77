// Run control: the run states, the start and stop buttons, the worker threads.
//
// Only one worker ever exists. A stop makes the window idle at once, while the
// worker may still be inside a file; a start or a folder choice in that moment
// waits for the worker to end, serving its window calls meanwhile (the worker
// blocks on them), and then goes on as usual.

#include "app/control_ids.h"
#include "app/main_dialog.h"
#include "app/texts.h"

namespace tessaro {

namespace {

// The eight controls SetRunState switches, in the order it switches them.
constexpr int kSwitched[] = {ids::kSourceEdit, ids::kDestEdit,   ids::kChooseSource,
                             ids::kChooseDest, ids::kDetect,     ids::kStopDetect,
                             ids::kRecover,    ids::kStopRecover};

}  // namespace

void MainDialog::SetRunState(std::uint32_t buttonId) {
  bool enabled[8];
  switch (buttonId) {
    case ids::kDetect:
      runningPass_ = ids::kDetect;
      m_stopRequested = 0;
      for (bool& e : enabled) e = false;
      enabled[5] = true;
      break;
    case ids::kRecover:
      runningPass_ = ids::kRecover;
      m_stopRequested = 0;
      for (bool& e : enabled) e = false;
      enabled[7] = true;
      break;
    case ids::kStopRecover:
    case ids::kStopDetect:
      runningPass_ = 0;
      m_stopRequested = 1;
      for (bool& e : enabled) e = true;
      enabled[5] = false;
      enabled[7] = false;
      break;
    default:
      return;
  }
  for (int i = 0; i < 8; ++i) window_.EnableItem(kSwitched[i], enabled[i]);
}

void MainDialog::SetProgress(int filePercent, int overallPercent) {
  SetPosition(ids::kFileProgress, filePercent);
  SetPosition(ids::kTotalProgress, overallPercent);
}

void MainDialog::SetPosition(int id, int position) {
  // The window hears only of changes: a bar moved for every chunk would make the
  // window, not the disk, set the pace.
  std::atomic<int>& shown = id == ids::kFileProgress ? shownFile_ : shownTotal_;
  if (shown.exchange(position) == position) return;
  window_.SetProgressPos(id, position);
}

void MainDialog::OnDetect() {
  if (waiting_) return;
  if (m_sourceFolder.empty()) {
    Show(texts::kNoSource, texts::kParamError);
    return;
  }
  WaitForWorker();
  SetRunState(ids::kDetect);
  if (!StartWorker(&MainDialog::DetectThreadProc)) Show(texts::kDetectStartFailed, texts::kErrorCaption);
}

void MainDialog::OnStopDetect() { SetRunState(ids::kStopDetect); }

void MainDialog::OnRecover() {
  if (waiting_) return;
  if (m_sourceFolder.empty()) {
    Show(texts::kNoSource, texts::kParamError);
    return;
  }
  if (m_destFolder.empty()) {
    Show(texts::kNoDest, texts::kParamError);
    return;
  }
  WaitForWorker();
  SetRunState(ids::kRecover);
  if (!StartWorker(&MainDialog::RecoverThreadProc)) Show(texts::kRecoverStartFailed, texts::kErrorCaption);
}

void MainDialog::OnStopRecover() { SetRunState(ids::kStopRecover); }

void MainDialog::OnMenuStart() {
  if (runningPass_ == 0) OnDetect();
}

void MainDialog::OnMenuEnd() {
  const int pass = runningPass_;
  if (pass == ids::kDetect) OnStopDetect();
  if (pass == ids::kRecover) OnStopRecover();
}

void MainDialog::OnOptions() {
  if (runningPass_ != 0 || waiting_) return;
  RecoveryOptions chosen = options_;
  if (!window_.ShowOptions(chosen)) return;
  ApplyOptions(chosen);
  // A settings file that cannot be written costs the choice of later runs only.
  if (settings_) settings_->Save(options_);
}

void MainDialog::UseSettingsFolder(const std::string& folder) {
  settings_ = std::make_unique<SettingsFile>(platform_, folder);
  ApplyOptions(settings_->Load());
}

void MainDialog::ApplyOptions(const RecoveryOptions& options) {
  // The command line's flags, as `recover` combines them: original names
  // split, and name the files without a record from their content.
  options_ = options;
  const bool original = options.names == RecoveryOptions::Names::kOriginal;
  const bool split = options.split || original;
  SetFormatChecks(split || options.trim || options.rescue, options.trim, checkOptions_);
  SetSplit(split);
  SetRescue(options.rescue);
  SetOriginalNames(original);
  SetOutputLayout(options.names != RecoveryOptions::Names::kFragment, options.sortByKind);
}

void MainDialog::OnClose() {
  m_stopRequested = 1;
  WaitForWorker();
}

std::uint32_t MainDialog::DetectThreadProc(void* dialog) {
  auto* self = static_cast<MainDialog*>(dialog);
  self->RunDetectionPass();
  self->SetRunState(ids::kStopDetect);
  return 0;
}

std::uint32_t MainDialog::RecoverThreadProc(void* dialog) {
  auto* self = static_cast<MainDialog*>(dialog);
  if (self->options_.report) self->RunRecoveryPassWithReport();
  else self->RunRecoveryPass();
  self->SetRunState(ids::kStopRecover);
  return 0;
}

bool MainDialog::StartWorker(std::uint32_t (*proc)(void*)) {
  {
    std::lock_guard<std::mutex> lock(workerMutex_);
    workerRunning_ = true;
  }
  const bool started = platform_.StartWorker(
      [this, proc] {
        proc(this);
        WorkerEnded();
      },
      worker_);
  if (!started) {
    std::lock_guard<std::mutex> lock(workerMutex_);
    workerRunning_ = false;
  }
  return started;
}

void MainDialog::WorkerEnded() {
  std::lock_guard<std::mutex> lock(workerMutex_);
  workerRunning_ = false;
  workerEnded_.notify_all();
}

bool MainDialog::WorkerAlive() const {
  std::lock_guard<std::mutex> lock(workerMutex_);
  return workerRunning_;
}

bool MainDialog::AwaitWorkerEnd(std::chrono::microseconds limit) {
  std::unique_lock<std::mutex> lock(workerMutex_);
  return workerEnded_.wait_for(lock, limit, [this] { return !workerRunning_; });
}

void MainDialog::WaitForWorker() {
  if (WorkerAlive()) {
    waiting_ = true;
    window_.ServeUntil([this] { return !WorkerAlive(); });
    waiting_ = false;
  }
  worker_.Join();
}

}  // namespace tessaro
