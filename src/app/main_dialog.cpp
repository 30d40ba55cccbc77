// MainDialog: start-up of the window's state, the kind list, folders, help and About.

#include "app/main_dialog.h"

#include "app/control_ids.h"
#include "app/texts.h"

namespace tessaro {

MainDialog::MainDialog(DialogWindow& window, std::string configPath, Platform& platform)
    : RescueHolder(platform),
      m_engine(std::move(configPath), rescueReads_),
      window_(window),
      platform_(rescueReads_),
      copyBuffer_(std::make_unique<unsigned char[]>(kCopyChunk)) {
  rescueReads_.SetStopFlag(&m_stopRequested);
}

MainDialog::~MainDialog() {
  // The worker uses our members; it must be gone before they are.
  m_stopRequested = 1;
  WaitForWorker();
}

void MainDialog::OnInitDialog() {
  ResetRunState();
  m_kindCount = m_engine.ready ? m_engine.kindCount : 0;
  if (m_kindCount != 0) {
    window_.SetItemText(ids::kKindCount, std::to_string(m_kindCount));
  } else {
    Show(m_engine.lastError, texts::kCatalogueErrorCaption);
  }
  m_tally.assign(static_cast<std::size_t>(m_kindCount), KindTally{});
  InitKindListColumns();
  FillKindList();
}

void MainDialog::ResetRunState() {
  m_sourceFolder.clear();
  m_destFolder.clear();
  m_totalBytes = 0;
  m_copiedBytes = 0;
  m_kindCount = 0;
  m_stopRequested = 0;
  window_.SetProgressRange(ids::kFileProgress, 0, 100);
  window_.SetProgressRange(ids::kTotalProgress, 0, 100);
}

void MainDialog::InitKindListColumns() {
  window_.DeleteAllListRows(ids::kKindList);
  window_.InsertListColumn(ids::kKindList, 0, texts::kColumnKind, 220);
  window_.InsertListColumn(ids::kKindList, 1, texts::kColumnExtension, 100);
  window_.InsertListColumn(ids::kKindList, 2, texts::kColumnCount, 100);
  window_.SetListExtendedStyle(ids::kKindList, 0x223);
}

void MainDialog::FillKindList() {
  for (int i = 0; i < m_kindCount; ++i) {
    const FileTypeRecord& kind = *m_engine.kinds[static_cast<std::size_t>(i)];
    window_.InsertListRow(ids::kKindList, i, kind.NameOrEmpty());
    m_tally[static_cast<std::size_t>(i)].name = kind.NameOrEmpty();
    window_.SetListCell(ids::kKindList, i, 1, kind.ExtensionOrEmpty());
    window_.SetListCell(ids::kKindList, i, 2, "0");
    m_tally[static_cast<std::size_t>(i)].extension = kind.ExtensionOrEmpty();
    m_tally[static_cast<std::size_t>(i)].count = 0;
    m_tally[static_cast<std::size_t>(i)].verdicts = {};
  }
}

std::string MainDialog::ChooseFolder(bool source) {
  // The browser opens where the user was last, not at the top each time: at
  // the folder chosen last for the same purpose, and for the destination,
  // until one is chosen, beside the fragments (the source's parent), where a
  // folder for the recovered files is usually made.
  std::string& last = source ? lastSourceChosen_ : lastDestChosen_;
  std::string start = last;
  if (start.empty() && !source) start = ParentFolder(lastSourceChosen_);
  std::string chosen = window_.ChooseFolderFrom(source ? texts::kSourcePrompt : texts::kDestPrompt, start);
  if (!chosen.empty()) last = chosen;
  return chosen;
}

void MainDialog::OnChooseSource() {
  if (waiting_) return;
  // A folder is never chosen anew while a stopped worker still finishes.
  WaitForWorker();
  m_sourceFolder.clear();
  m_sourceFolder = ChooseFolder(true);
  window_.SetItemText(ids::kSourceEdit, m_sourceFolder);
}

void MainDialog::OnChooseDest() {
  if (waiting_) return;
  WaitForWorker();
  m_destFolder.clear();
  m_destFolder = ChooseFolder(false);
  window_.SetItemText(ids::kDestEdit, m_destFolder);
}

void MainDialog::SetSourceFolder(const std::string& folder) {
  WaitForWorker();
  m_sourceFolder = folder;
  window_.SetItemText(ids::kSourceEdit, m_sourceFolder);
}

void MainDialog::SetDestFolder(const std::string& folder) {
  WaitForWorker();
  m_destFolder = folder;
  window_.SetItemText(ids::kDestEdit, m_destFolder);
}

void MainDialog::OnHelpContents() {
  if (window_.OpenDocument(JoinPath(".", texts::kHelpFile)) == 2) {
    Show(texts::kHelpMissing, texts::kHelpMissingCaption);
  }
}

void MainDialog::OnAbout() { window_.ShowAbout(); }

void MainDialog::OnSysCommand(unsigned id) {
  if ((id & 0xFFF0u) == static_cast<unsigned>(ids::kSysAbout)) window_.ShowAbout();
}

void MainDialog::Show(const std::string& text, const char* caption) {
  if (currentOutcome_ != nullptr) {
    currentOutcome_->failure = text;
    currentOutcome_->failureShown = true;
  }
  window_.MessageBox(text, caption);
}

}  // namespace tessaro
