// The window's recovery report: with the option on, a recovery writes the
// report into the destination as the outcomes arrive and opens it in the
// browser once the pass has ended (also a stopped one). The same report as
// `recover --report`, from the same outcomes.

#include <ctime>

#include "app/format_text.h"
#include "app/main_dialog.h"
#include "app/report.h"
#include "app/texts.h"

namespace tessaro {

namespace {

// Hands each outcome to the report and to whoever listened before.
class ReportTee final : public PassObserver {
 public:
  ReportTee(PassObserver* next, outputs::ReportWriter& report) : next_(next), report_(report) {}
  void OnFileDetected(const FileOutcome& outcome) override {
    if (next_ != nullptr) next_->OnFileDetected(outcome);
  }
  void OnFileRecovered(const FileOutcome& outcome) override {
    report_.Add(outcome);
    if (next_ != nullptr) next_->OnFileRecovered(outcome);
  }
  void OnUnclaimed(std::string_view name, std::uint64_t offset, std::uint64_t length) override {
    report_.AddUnclaimed(name, offset, length);
    if (next_ != nullptr) next_->OnUnclaimed(name, offset, length);
  }
  void OnDetectionTally(const std::vector<KindTally>& tally, const std::string& summary) override {
    if (next_ != nullptr) next_->OnDetectionTally(tally, summary);
  }

 private:
  PassObserver* next_;
  outputs::ReportWriter& report_;
};

}  // namespace

std::string MainDialog::ReportPath() const {
  // "tessaro-report-20261208-213005.html": a name no recovered file is given
  // (theirs come from fragments and records), and a new one for each pass,
  // so an earlier report is never replaced.
  const std::time_t now = std::time(nullptr);
  char stamp[32] = "";
  if (const std::tm* local = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", local);
  const std::string stem = JoinPath(m_destFolder, std::string("tessaro-report-") + stamp);
  std::string path = stem + ".html";
  FileStatus status;
  int error = 0;
  for (int k = 2; platform_.Status(path, status, error) && k < 1000; ++k) path = stem + "-" + std::to_string(k) + ".html";
  return path;
}

void MainDialog::RunRecoveryPassWithReport() {
  outputs::ReportWriter report(platform_);
  std::string reason;
  report.SendReasonsTo([&reason](const std::string& why) { reason = why; });
  const std::string path = ReportPath();
  if (!report.Open(path, m_sourceFolder, m_destFolder, checkFormats_)) {
    // The recovery goes on without its report: the files matter more.
    Show(FormatText(texts::kReportFailed, path.c_str(), reason.c_str()), texts::kErrorCaption);
    RunRecoveryPass();
    return;
  }
  PassObserver* const listener = observer_;
  ReportTee tee(listener, report);
  observer_ = &tee;
  RunRecoveryPass();
  observer_ = listener;
  if (!report.Finish(m_stopRequested != 0)) {
    Show(FormatText(texts::kReportFailed, path.c_str(), reason.c_str()), texts::kErrorCaption);
    return;
  }
  window_.OpenDocument(path);
}

}  // namespace tessaro
