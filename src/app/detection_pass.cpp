// The folder scan and the detection pass.

#include "app/control_ids.h"
#include "app/format_text.h"
#include "app/main_dialog.h"
#include "app/texts.h"

namespace tessaro {

int MainDialog::ScanFragmentFolder(const std::string& folder, bool sizes) {
  m_fileNames.clear();
  m_totalBytes = 0;
  auto add = [this](std::string_view name) {
    if (name.empty() || name[0] == '.') return false;
    m_fileNames.emplace_back(name);
    return true;
  };
  // The platform lists regular files only: a pipe would stall the pass, a
  // device could be read without end, and a link leads out of the folder.
  if (sizes) {
    platform_.ListFolder(folder, [&](std::string_view name, std::uint64_t size) {
      if (add(name)) m_totalBytes += size;
    });
  } else {
    platform_.ListFolderNames(folder, add);
  }
  return static_cast<int>(m_fileNames.size());
}

int MainDialog::TallyRow(const FileTypeRecord* kind) const {
  // The first row of exactly this extension; kinds that share an extension
  // share its first row. A kind without an extension has nothing to share,
  // so it counts on its own row.
  const std::string& extension = kind->ExtensionOrEmpty();
  for (std::size_t r = 0; r < m_tally.size(); ++r) {
    const bool same = kind->extension ? m_tally[r].extension == extension : m_engine.kinds[r] == kind;
    if (same) return static_cast<int>(r);
  }
  return -1;
}

int MainDialog::RunDetectionPass() {
  // Detection shows no byte counts: the listing need not ask any file's size.
  const int n = ScanFragmentFolder(m_sourceFolder, false);
  for (KindTally& row : m_tally) row.count = 0;

  // The row each kind counts on, found once for the pass.
  tallyRows_.resize(static_cast<std::size_t>(m_engine.kindCount));
  for (int k = 0; k < m_engine.kindCount; ++k) {
    tallyRows_[static_cast<std::size_t>(k)] = TallyRow(m_engine.kinds[static_cast<std::size_t>(k)]);
  }
  const int textRow = TallyRow(&m_engine.textKind);

  std::string path;
  const FolderScope folder(platform_, m_sourceFolder);
  for (int i = 0; i < n; ++i) {
    if (m_stopRequested) return 0;
    JoinPathInto(path, m_sourceFolder, m_fileNames[static_cast<std::size_t>(i)]);
    IdentifyStatus status;
    const FileTypeRecord* kind = m_engine.IdentifyFile(path.c_str(), status);
    SetPosition(ids::kTotalProgress, static_cast<int>(100LL * i / n));
    const int row = kind == nullptr              ? -1
                    : kind == &m_engine.textKind ? textRow
                                                 : tallyRows_[static_cast<std::size_t>(kind - m_engine.kinds[0])];
    if (row >= 0) ++m_tally[static_cast<std::size_t>(row)].count;
    if (observer_ == nullptr) continue;
    DetectionOutcome outcome{m_fileNames[static_cast<std::size_t>(i)], kind,
                             status == IdentifyStatus::kFailed ? m_engine.lastError : nullptr, row};
    formats::CheckResult check;
    if (kind != nullptr && checkFormats_) {
      bool readFailed = false;
      int error = 0;
      check = formats::CheckFile(platform_, path, kind->ExtensionOrEmpty(), checkOptions_, readFailed, error);
      outcome.check = &check;
      if (readFailed) {
        checkFailure_ = FormatText(texts::kCheckReadFailed, path.c_str());
        outcome.failure = checkFailure_.c_str();
      }
    }
    observer_->OnFileDetected(outcome);
  }

  SetPosition(ids::kTotalProgress, 100);
  std::int64_t sum = 0;
  for (std::size_t r = 0; r < m_tally.size(); ++r) {
    window_.SetListCell(ids::kKindList, static_cast<int>(r), 2, std::to_string(m_tally[r].count));
    sum += m_tally[r].count;
  }
  window_.SetItemText(ids::kInfo, FormatCount(texts::kDetectSummary, sum));
  return 0;
}

}  // namespace tessaro
