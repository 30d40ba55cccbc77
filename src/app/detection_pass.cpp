// The folder scan and the detection pass.

#include <optional>

#include "app/control_ids.h"
#include "app/format_text.h"
#include "app/main_dialog.h"
#include "app/texts.h"
#include "engine/split/fragment_split.h"

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

void MainDialog::DetectParts(const std::string& path, std::string_view name, int textRow) {
  FileOutcome whole;
  whole.name = name;
  FileStatus status;
  int error = 0;
  bool statusFailed = false;
  const FileHandle file = platform_.StatusAndOpen(path, status, error, statusFailed);
  if (statusFailed || file == kNoFile) {
    whole.FailUnshown(statusFailed ? FormatText(texts::kStatusFailed, path.c_str(), error)
                                   : "open " + path + " failed");
    if (observer_ != nullptr) observer_->OnFileDetected(whole);
    return;
  }
  split::FragmentSplitter splitter(m_engine, platform_, file, status.size, path.c_str(), checkOptions_,
                                   &m_stopRequested);
  split::Piece piece;
  std::uint64_t files = 0;
  std::optional<split::Piece> leading;
  while (splitter.Next(piece)) {
    if (piece.role == split::Piece::Role::kRecords) continue;
    if (piece.role == split::Piece::Role::kUnclaimed) {
      if (files == 0) leading = piece;
      else if (observer_ != nullptr) observer_->OnUnclaimed(name, piece.offset, piece.extent);
      continue;
    }
    if (++files == 1 && leading && observer_ != nullptr) observer_->OnUnclaimed(name, leading->offset, leading->extent);
    const int row = piece.kind == &m_engine.textKind
                        ? textRow
                        : tallyRows_[static_cast<std::size_t>(piece.kind - m_engine.kinds[0])];
    if (row >= 0) {
      ++m_tally[static_cast<std::size_t>(row)].count;
      m_tally[static_cast<std::size_t>(row)].verdicts.Add(piece.check.verdict);
    }
    if (observer_ == nullptr) continue;
    FileOutcome outcome;
    outcome.name = name;
    outcome.size = piece.extent;
    outcome.kind = piece.kind;
    outcome.row = row;
    outcome.result = FileOutcome::Result::kRecovered;
    outcome.part = true;
    outcome.offset = piece.offset;
    outcome.length = piece.length;
    outcome.check = piece.check;
    observer_->OnFileDetected(outcome);
  }
  platform_.Close(file);
  if (splitter.Failed()) whole.FailUnshown(m_engine.lastError);
  if ((splitter.Failed() || files == 0) && observer_ != nullptr) observer_->OnFileDetected(whole);
}

void MainDialog::LookInside(const std::string& path, FileOutcome& outcome) {
  FileStatus status;
  int error = 0;
  bool statusFailed = false;
  const FileHandle file = platform_.StatusAndOpen(path, status, error, statusFailed);
  if (statusFailed || file == kNoFile) return;
  // A fragment of one or two sectors holds no second file.
  if (status.size >= 2 * formats::kSectorSize) {
    unsigned char sector[formats::kSectorSize];
    outcome.beginsWithRecords = platform_.ReadAt(file, 0, sector, sizeof sector) == sizeof sector &&
                                folders::BeginsFolderRecords(sector, sizeof sector);
    split::FragmentSplitter splitter(m_engine, platform_, file, status.size, path.c_str(), checkOptions_,
                                     &m_stopRequested);
    for (split::Piece piece; splitter.Next(piece);) {
      if (piece.role == split::Piece::Role::kFile) ++outcome.filesInside;
    }
  }
  platform_.Close(file);
}

int MainDialog::RunDetectionPass() {
  // Detection shows no byte counts: the listing need not ask any file's size.
  const int n = ScanFragmentFolder(m_sourceFolder, false);
  // Detection writes nothing: a damaged fragment keeps no image.
  rescueReads_.SetScratchFolder(std::string());
  for (KindTally& row : m_tally) {
    row.count = 0;
    row.verdicts = {};
  }

  // The row each kind counts on, found once for the pass.
  tallyRows_.resize(static_cast<std::size_t>(m_engine.kindCount));
  for (int k = 0; k < m_engine.kindCount; ++k) {
    tallyRows_[static_cast<std::size_t>(k)] = TallyRow(m_engine.kinds[static_cast<std::size_t>(k)]);
  }
  const int textRow = TallyRow(&m_engine.textKind);

  std::string path;
  const FolderScope folder(platform_, m_sourceFolder);
  for (int i = 0; i < n; ++i) {
    if (m_stopRequested) {
      if (observer_ != nullptr) observer_->OnDetectionTally(m_tally, std::string());
      return 0;
    }
    JoinPathInto(path, m_sourceFolder, m_fileNames[static_cast<std::size_t>(i)]);
    if (split_) {
      SetPosition(ids::kTotalProgress, static_cast<int>(100LL * i / n));
      DetectParts(path, m_fileNames[static_cast<std::size_t>(i)], textRow);
      continue;
    }
    IdentifyStatus status;
    const FileTypeRecord* kind = m_engine.IdentifyFile(path.c_str(), status);
    SetPosition(ids::kTotalProgress, static_cast<int>(100LL * i / n));
    const int row = kind == nullptr              ? -1
                    : kind == &m_engine.textKind ? textRow
                                                 : tallyRows_[static_cast<std::size_t>(kind - m_engine.kinds[0])];
    if (row >= 0) ++m_tally[static_cast<std::size_t>(row)].count;
    if (observer_ == nullptr) continue;
    FileOutcome outcome;
    outcome.name = m_fileNames[static_cast<std::size_t>(i)];
    outcome.kind = kind;
    outcome.row = row;
    if (status == IdentifyStatus::kFailed) outcome.FailUnshown(m_engine.lastError);
    else outcome.result = kind == nullptr ? FileOutcome::Result::kNoKind : FileOutcome::Result::kRecovered;
    if (kind == nullptr && status == IdentifyStatus::kNoKind && insideHints_) LookInside(path, outcome);
    if (kind != nullptr && checkFormats_) {
      bool readFailed = false;
      int error = 0;
      outcome.check = formats::CheckFile(platform_, path, kind->ExtensionOrEmpty(), checkOptions_, readFailed, error);
      if (readFailed) outcome.FailUnshown(FormatText(texts::kCheckReadFailed, path.c_str()));
    }
    if (row >= 0 && outcome.CountsVerdict()) m_tally[static_cast<std::size_t>(row)].verdicts.Add(outcome.check->verdict);
    observer_->OnFileDetected(outcome);
  }

  SetPosition(ids::kTotalProgress, 100);
  std::int64_t sum = 0;
  for (std::size_t r = 0; r < m_tally.size(); ++r) {
    window_.SetListCell(ids::kKindList, static_cast<int>(r), 2, std::to_string(m_tally[r].count));
    sum += m_tally[r].count;
  }
  const std::string summary = FormatCount(texts::kDetectSummary, sum);
  window_.SetItemText(ids::kInfo, summary);
  if (observer_ != nullptr) observer_->OnDetectionTally(m_tally, summary);
  return 0;
}

}  // namespace tessaro
