// The recovery pass and the copy of one fragment.

#include <algorithm>
#include <cctype>
#include <deque>
#include <optional>

#include "app/control_ids.h"
#include "app/format_text.h"
#include "app/main_dialog.h"
#include "app/name_key.h"
#include "app/part_copies.h"
#include "app/texts.h"
#include "engine/names/content_name.h"
#include "engine/split/fragment_split.h"

namespace tessaro {

int MainDialog::RunRecoveryPass() {
  if (!m_sourceFolder.empty()) {
    const int n = ScanFragmentFolder(m_sourceFolder);
    window_.SetItemText(ids::kFileCount, std::to_string(n));
  } else {
    m_fileNames.clear();
    window_.SetItemText(ids::kFileCount, "0");
  }
  SetProgress(0, 0);
  m_copiedBytes = 0;

  // Output names of this pass, and, when the destination is the source folder,
  // the fragments' own names: neither is ever written over. They are compared
  // without regard to case on every system, since the destination may be a
  // FAT, exFAT or NTFS volume where FILE0001.jpg and file0001.JPG are one file.
  outputsThisPass_.clear();
  fragmentNames_.clear();
  foldersThisPass_.clear();
  destIsSource_ = platform_.SameFile(m_destFolder, m_sourceFolder);
  if (destIsSource_) {
    for (const std::string& name : m_fileNames) fragmentNames_.insert(NameKey(name));
  }

  // Split, the fragments in the order of their names:
  // a disk check numbers them in the order of their first clusters, and a
  // lost folder's records come before its files.
  if (split_) {
    std::sort(m_fileNames.begin(), m_fileNames.end());
    lostFolders_ = std::make_unique<split::LostFolders>();
  }
  rescuedFiles_ = 0;
  lostBytes_ = 0;
  if (rescue_) {
    // The images of damaged fragments go where the outputs go.
    rescueReads_.SetScratchFolder(m_destFolder);
    rescueReads_.SetProgress([this](std::uint64_t done, std::uint64_t total) {
      SetProgress(Percent(done, total), Percent(m_copiedBytes, m_totalBytes));
    });
  }
  std::string fragmentPath;
  std::string baseName;
  if (!m_stopRequested) {
    const FolderScope folder(platform_, m_sourceFolder);
    for (std::size_t i = 0; i < m_fileNames.size(); ++i) {
      const std::string& name = m_fileNames[i];
      JoinPathInto(fragmentPath, m_sourceFolder, name);
      window_.SetItemText(ids::kCurrentFile, name);
      baseName.assign(name, 0, name.find('.'));
      RecoverFile(fragmentPath, baseName);
      window_.SetItemText(ids::kProcessedCount, std::to_string(i + 1));
      if (m_stopRequested) break;
    }
  }
  m_fileNames.clear();
  outputsThisPass_.clear();
  fragmentNames_.clear();
  foldersThisPass_.clear();
  lostFolders_.reset();
  if (!m_stopRequested) SetProgress(100, 100);
  rescueReads_.SetProgress(nullptr);
  // One word for all the files that came back with holes, instead of a box
  // for each.
  if (rescue_ && options_.rescue && rescuedFiles_ > 0) {
    window_.MessageBox(FormatText(texts::kRescueSummary, static_cast<unsigned long long>(rescuedFiles_),
                                  static_cast<unsigned long long>(lostBytes_)),
                       texts::kRescueSummaryCaption);
  }
  SetRunState(ids::kStopDetect);
  return 0;
}

int MainDialog::Percent(std::uint64_t part, std::uint64_t whole) const {
  if (whole == 0) return 100;  // nothing to do is all done
  // Exact for any 64-bit sizes: whole parts first, then the remainder.
  const std::uint64_t quotient = part / whole;
  const std::uint64_t remainder = part % whole;
  std::uint64_t percent = quotient * 100;
  if (remainder <= UINT64_MAX / 100) {
    percent += remainder * 100 / whole;
  } else {
    percent += remainder / (whole / 100 + 1);
  }
  // A file that grew after the scan can carry the count past the scan's total;
  // a bar never goes beyond full.
  return static_cast<int>(std::min<std::uint64_t>(percent, 100));
}

namespace {

// The subfolder of the destination an output of `extension` goes into when
// outputs are sorted by kind: "jpg", "docx", "other" for a kind without one;
// a file that is not whole goes one level further, "jpg/truncated".
std::string KindFolder(const std::string& extension, const formats::CheckResult* check) {
  std::string folder = extension.substr(!extension.empty() && extension[0] == '.' ? 1 : 0);
  // A catalogue's extension is any text: one that cannot name a folder of its
  // own is sorted with those that have none.
  if (folder.empty() || folder.find_first_of("/\\:*?\"<>|") != std::string::npos || folder.find_first_not_of('.') == std::string::npos) {
    folder = "other";
  }
  if (check != nullptr && (check->verdict == formats::Verdict::kTruncated || check->verdict == formats::Verdict::kDamaged)) {
    folder += '/';
    folder += formats::VerdictName(check->verdict);
  }
  return folder;
}

// The name without its extension of the k-th output that wants one name (k =
// 1 the first): "FILE0007", "FILE0007 (2)"; with a name from the file's own
// content, "CONTENT (FILE0007)", "CONTENT (FILE0007) (2)", the content
// shortened so the whole stays within the names' limit.
std::string Stem(const std::string& content, const std::string& baseName, int k) {
  const std::string suffix = k < 2 ? std::string() : " (" + std::to_string(k) + ")";
  if (content.empty()) return baseName + suffix;
  std::string shortened = content;
  std::string stem = names::NameWithContent(shortened, baseName);
  while (stem.size() + suffix.size() > names::kMaxNameBytes && !shortened.empty()) {
    // One character less: the last lead byte and what continues it.
    std::size_t end = shortened.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(shortened[end]) & 0xC0) == 0x80) --end;
    shortened.resize(end);
    stem = names::NameWithContent(shortened, baseName);
  }
  return stem + suffix;
}

}  // namespace

void MainDialog::MakeOutputFolder(const std::string& folder, const std::string& prefix) {
  if (foldersThisPass_.count(NameKey(prefix)) != 0) return;
  FileStatus status;
  int folderError = 0;
  // One that cannot be made is not remembered: the output's creation then
  // fails and says so, and the next output tries again.
  if (platform_.MakeFolder(folder, folderError) || (platform_.Status(folder, status, folderError) && status.isDirectory)) {
    foldersThisPass_.insert(NameKey(prefix));
  }
}

std::string MainDialog::OriginalOutputPath(const std::vector<std::string>& folders, const std::string& name,
                                           const std::string& fallback) {
  std::string folder = m_destFolder;
  std::string prefix;
  for (const std::string& raw : folders) {
    std::string part = names::SafeName(raw);
    if (part.empty()) part = "_";
    folder = JoinPath(folder, part);
    prefix += part;
    prefix += '/';
    MakeOutputFolder(folder, prefix);
  }
  std::string safe = names::SafeName(name);
  if (safe.empty()) safe = fallback;
  const std::size_t dot = safe.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? safe : safe.substr(0, dot);
  const std::string extension = dot == std::string::npos || dot == 0 ? std::string() : safe.substr(dot);
  std::string chosen = safe;
  for (int k = 2; outputsThisPass_.count(NameKey(prefix + chosen)) != 0 ||
                  (destIsSource_ && prefix.empty() && fragmentNames_.count(NameKey(chosen)) != 0);
       ++k) {
    chosen = stem + " (" + std::to_string(k) + ")" + extension;
  }
  outputsThisPass_.insert(NameKey(prefix + chosen));
  return JoinPath(folder, chosen);
}

std::string MainDialog::OutputPath(const std::string& baseName, const std::string& content,
                                   const std::string& extension, const formats::CheckResult* check) {
  std::string folder = m_destFolder;
  std::string prefix;  // the subfolders, as part of the name key
  if (sortByKind_) {
    const std::string sub = KindFolder(extension, check);
    std::size_t start = 0;
    while (start <= sub.size()) {
      std::size_t end = sub.find('/', start);
      if (end == std::string::npos) end = sub.size();
      const std::string part = sub.substr(start, end - start);
      folder = JoinPath(folder, part);
      prefix += part;
      prefix += '/';
      MakeOutputFolder(folder, prefix);
      start = end + 1;
    }
  }
  auto taken = [&](const std::string& name) {
    const std::string key = NameKey(prefix + name);
    return outputsThisPass_.count(key) != 0 || (destIsSource_ && fragmentNames_.count(key) != 0);
  };
  std::string name = Stem(content, baseName, 1) + extension;
  // "a (2).txt", "a (3).txt", ...: the extension stays last.
  for (int k = 2; taken(name); ++k) name = Stem(content, baseName, k) + extension;
  outputsThisPass_.insert(NameKey(prefix + name));
  return JoinPath(folder, name);
}

void MainDialog::Report(FileOutcome& outcome) {
  currentOutcome_ = nullptr;
  // A box shown on the way makes the fragment a failure, whatever came before.
  if (!outcome.failure.empty()) outcome.result = FileOutcome::Result::kFailed;
  if (observer_ != nullptr) observer_->OnFileRecovered(outcome);
}

int MainDialog::RecoverFile(const std::string& fragmentPath, const std::string& baseName) {
  FileOutcome outcome;
  const std::size_t slash = fragmentPath.find_last_of(PathSeparator());
  outcome.name = std::string_view(fragmentPath).substr(slash == std::string::npos ? 0 : slash + 1);
  currentOutcome_ = &outcome;

  SetProgress(0, Percent(m_copiedBytes, m_totalBytes));

  // One status query and one open serve the identification, the check, the
  // name from the content and the copy: every one of them reads the fragment
  // as it was at this moment, and a folder of small fragments costs the
  // system one look-up of each name.
  FileStatus status;
  int error = 0;
  bool statusFailed = false;
  const FileHandle source = platform_.StatusAndOpen(fragmentPath, status, error, statusFailed);
  if (statusFailed) {
    Show(FormatText(texts::kStatusFailed, fragmentPath.c_str(), error), texts::kStatusFailedCaption);
    Report(outcome);
    return -1;
  }
  const std::uint64_t size = status.size;
  outcome.size = size;
  // Closes the fragment on every way out.
  struct Closer {
    Platform& platform;
    FileHandle file;
    ~Closer() {
      if (file != kNoFile) platform.Close(file);
    }
  } closeSource{platform_, source};

  if (split_ && source != kNoFile) {
    RecoverParts(outcome, source, fragmentPath, baseName);
    return 0;
  }

  IdentifyStatus identified;
  const FileTypeRecord* kind = m_engine.IdentifyOpenFile(fragmentPath.c_str(), source, size, identified);
  outcome.kind = kind;
  if (kind == nullptr && rescue_ && identified != IdentifyStatus::kFailed &&
      !rescueReads_.Unreadable(source, 0, formats::kSectorSize).empty()) {
    // Its first sector is unreadable, and with it what tells its kind: the
    // rest is kept under the fragment's own name rather than lost.
    const std::size_t dot = outcome.name.find('.');
    const std::string own = dot == std::string_view::npos ? std::string() : std::string(outcome.name.substr(dot));
    outcome.check = formats::Damaged("the first sector cannot be read, and with it the kind");
    if (!platform_.Rewind(source, error)) {
      Show(FormatText(texts::kOpenSourceFailed, fragmentPath.c_str()), texts::kOpenFileErrorCaption);
      m_copiedBytes += size;
      Report(outcome);
      return 0;
    }
    WriteOutput(outcome, source, fragmentPath, OutputPath(baseName, "", own, &*outcome.check), size, size);
    return 0;
  }
  if (kind == nullptr) {
    // A fragment that could not be examined is a failure, not "no kind"; the
    // window shows nothing for it, the observer hears the engine's reason.
    if (identified == IdentifyStatus::kFailed) outcome.FailUnshown(m_engine.lastError);
    m_copiedBytes += size;
    Report(outcome);
    return 0;
  }
  formats::Fragment fragment(platform_, source, size);

  // What the file's own structure says (the command line's --check), and
  // with --trim, where an intact file ends: only that much is written.
  std::uint64_t length = size;
  if (checkFormats_) {
    outcome.check = formats::CheckFragment(fragment, kind->ExtensionOrEmpty(), checkOptions_);
    if (fragment.Failed()) {
      outcome.FailUnshown(FormatText(texts::kCheckReadFailed, fragmentPath.c_str()));
      m_copiedBytes += size;
      Report(outcome);
      return 0;
    }
    if (trimToTrueEnd_ && outcome.check->verdict == formats::Verdict::kIntact &&
        !EndMadeByZeros(source, 0, size, outcome.check->length)) {
      length = outcome.check->length;
    }
  }

  // With names from content, what the file's own metadata calls it. The
  // readers that look at the file's end are given the check's, made as a
  // plain check makes it.
  std::string content;
  if (contentNames_) {
    formats::Fragment named(platform_, source, size);
    content = checkFormats_ && !checkOptions_.deep
                  ? names::ContentName(named, kind->ExtensionOrEmpty(), *outcome.check)
                  : names::ContentName(named, kind->ExtensionOrEmpty());
  }

  if (!platform_.Rewind(source, error)) {
    Show(FormatText(texts::kOpenSourceFailed, fragmentPath.c_str()), texts::kOpenFileErrorCaption);
    m_copiedBytes += size;
    Report(outcome);
    return 0;
  }
  WriteOutput(outcome, source, fragmentPath,
              OutputPath(baseName, content, kind->ExtensionOrEmpty(), outcome.check ? &*outcome.check : nullptr),
              length, size);
  return 0;
}

namespace {

// "FILE0007-0001": the fragment's name, a dash, the file's number in
// fragment order, from 1, as wide as the fragment's count needs and four
// digits at least, so that the names sort in fragment order.
std::string PartName(const std::string& baseName, std::uint64_t number, std::uint64_t count) {
  const std::size_t width = std::max<std::size_t>(4, std::to_string(count).size());
  std::string digits = std::to_string(number);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return baseName + '-' + digits;
}

}  // namespace

void MainDialog::RecoverParts(FileOutcome& whole, FileHandle source, const std::string& fragmentPath,
                                   const std::string& baseName) {
  const std::uint64_t size = whole.size;
  // The whole fragment first: the records' placement is solved from every
  // file found in it. What is kept per file is its account, not its bytes.
  split::FragmentSplitter splitter(m_engine, platform_, source, size, fragmentPath.c_str(), checkOptions_,
                                   &m_stopRequested);
  std::vector<split::Piece> pieces;
  for (split::Piece piece; splitter.Next(piece);) {
    if (piece.role == split::Piece::Role::kRecords) lostFolders_->Add(baseName, piece.offset, piece.records);
    pieces.push_back(std::move(piece));
  }
  std::vector<split::PlacedFile> placed;
  if (const std::optional<split::Placement> placement = lostFolders_->Solve(baseName, size, pieces)) {
    placed = lostFolders_->Place(size, *placement, pieces);
  }
  // A FAT rescue: each lost chain a fragment of its own, named by its lost
  // folder's records in the order of the chains.
  const auto firstFile = std::find_if(pieces.begin(), pieces.end(),
                                      [](const split::Piece& piece) { return piece.role == split::Piece::Role::kFile; });
  const bool holdsRecords = std::any_of(pieces.begin(), pieces.end(), [](const split::Piece& piece) {
    return piece.role == split::Piece::Role::kRecords;
  });
  if (placed.empty() && !holdsRecords && !splitter.Failed()) {
    auto known = [this](const std::string& extension) {
      for (int k = 0; k < m_engine.kindCount; ++k) {
        const std::string& own = m_engine.kinds[static_cast<std::size_t>(k)]->ExtensionOrEmpty();
        if (own.size() == extension.size() &&
            std::equal(own.begin(), own.end(), extension.begin(), [](char a, char b) {
              return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            })) {
          return true;
        }
      }
      return false;
    };
    // A file's last sector is written whole: past its end, zeros to the
    // sector's end.
    formats::Fragment view(platform_, source, 0, size);
    auto endsAt = [&view](std::uint64_t end) {
      return end % formats::kSectorSize == 0 || formats::ZerosToSectorEnd(view, end);
    };
    if (std::optional<split::PlacedFile> chain =
            lostFolders_->PairChain(size, firstFile != pieces.end() ? &*firstFile : nullptr, known, endsAt)) {
      placed.push_back(std::move(*chain));
    }
  }
  // The files to write in fragment order: those the records place, and
  // those found by their content outside them.
  struct Item {
    std::uint64_t offset;
    const split::Piece* piece;       // found by content, or null
    const split::PlacedFile* named;  // placed by a record, or null
  };
  std::vector<Item> items;
  std::size_t p = 0;
  for (const split::Piece& piece : pieces) {
    if (piece.role != split::Piece::Role::kFile) continue;
    while (p < placed.size() && placed[p].offset + placed[p].size <= piece.offset) {
      items.push_back({placed[p].offset, nullptr, &placed[p]});
      ++p;
    }
    if (p < placed.size() && placed[p].offset <= piece.offset) continue;  // inside a placed file
    items.push_back({piece.offset, &piece, nullptr});
  }
  for (; p < placed.size(); ++p) items.push_back({placed[p].offset, nullptr, &placed[p]});
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.offset < b.offset; });
  // Where a placed file begins, the piece found there tells its kind.
  auto pieceAt = [&](std::uint64_t offset) -> const split::Piece* {
    for (const split::Piece& piece : pieces) {
      if (piece.role == split::Piece::Role::kFile && piece.offset == offset) return &piece;
    }
    return nullptr;
  };

  // A fragment that is one file from its first byte keeps the name it has
  // without splitting.
  const bool single = items.size() == 1 && items[0].offset == 0;
  // Two files copied at once where there are processors for both. A careful
  // reader (rescue) serves one read at a time, so it copies in turn.
  std::optional<PartCopies> copies;
  if (!rescue_ && items.size() > 1 && platform_.UsableProcessors() > 1) {
    copies.emplace(platform_, fragmentPath, kCopyChunk, &m_stopRequested);
    if (!copies->Ready()) copies.reset();
  }
  struct Waiting {
    FileOutcome outcome;
    std::string destPath;
    std::uint64_t extent;
  };
  std::deque<Waiting> waiting;
  bool stopTold = false;
  // The oldest copy handed over, told of as WriteOutput tells of its own.
  auto finishOldest = [&] {
    const PartCopies::Copy copy = copies->TakeOldest();
    Waiting& w = waiting.front();
    FileOutcome& outcome = w.outcome;
    platform_.Close(copy.dest);
    if (!copy.begun && stopTold) {
      // Made ahead, then reached by no copy: the pass stopped before it.
      int error = 0;
      platform_.Remove(w.destPath, error);
      waiting.pop_front();
      return;
    }
    currentOutcome_ = &outcome;
    if (copy.result == Platform::CopyResult::kReadFailed) {
      Show(FormatText(texts::kReadFailed, fragmentPath.c_str()), texts::kReadFailedCaption);
    } else if (copy.result == Platform::CopyResult::kWriteFailed) {
      Show(FormatText(texts::kWriteFailed, w.destPath.c_str()), texts::kWriteFailedCaption);
    }
    m_copiedBytes += copy.copied;
    if (copy.length > 0 && copy.copied == copy.length) m_copiedBytes += w.extent - copy.length;
    outcome.bytesCopied = copy.copied;
    if (copy.stopped) {
      outcome.result = FileOutcome::Result::kStopped;
      stopTold = true;
    }
    SetProgress(Percent(copy.copied, copy.length), Percent(m_copiedBytes, m_totalBytes));
    Report(outcome);
    waiting.pop_front();
  };
  auto finishAll = [&] {
    while (!waiting.empty()) finishOldest();
  };
  std::uint64_t number = 0, handled = 0;
  bool leadingTold = false;
  for (const Item& item : items) {
    if (m_stopRequested) break;
    ++number;
    FileOutcome outcome;
    outcome.name = whole.name;
    outcome.part = true;
    outcome.offset = item.offset;
    currentOutcome_ = &outcome;
    std::string destPath;
    std::uint64_t length = 0, extent = 0;
    if (item.named != nullptr) {
      const split::PlacedFile& file = *item.named;
      extent = length = file.size;
      const split::Piece* found = pieceAt(file.offset);
      IdentifyStatus status = IdentifyStatus::kNoKind;
      outcome.kind = found != nullptr ? found->kind
                                      : m_engine.IdentifyRange(source, file.offset, file.size, fragmentPath.c_str(), status);
      if (outcome.kind != nullptr && formats::FindChecker(outcome.kind->ExtensionOrEmpty()) != nullptr) {
        formats::Fragment view(platform_, source, file.offset, file.size);
        outcome.check = formats::CheckFragment(view, outcome.kind->ExtensionOrEmpty(), checkOptions_);
      } else {
        outcome.check = formats::Unchecked(outcome.kind ? "no checker for this kind" : "no kind; placed by its record");
      }
      outcome.size = file.size;
      outcome.length = file.size;
      // Of a kind the catalogue does not know, the extension its name has.
      std::string extension = outcome.kind != nullptr ? outcome.kind->ExtensionOrEmpty() : std::string();
      const std::size_t dot = file.name.rfind('.');
      if (outcome.kind == nullptr && dot != std::string::npos && dot > 0) {
        extension = names::SafeName(file.name.substr(dot));
        if (!extension.empty() && extension[0] != '.') extension.clear();
      }
      const std::string stem = single ? baseName : PartName(baseName, number, items.size());
      if (originalNames_) {
        destPath = OriginalOutputPath(file.folders, file.name, stem + extension);
      } else {
        std::string content;
        if (contentNames_ && outcome.kind != nullptr) {
          formats::Fragment named(platform_, source, file.offset, file.size);
          content = names::ContentName(named, extension, *outcome.check);
        }
        destPath = OutputPath(stem, content, extension, &*outcome.check);
      }
    } else {
      const split::Piece& piece = *item.piece;
      extent = piece.extent;
      outcome.kind = piece.kind;
      outcome.check = piece.check;
      outcome.size = piece.extent;
      outcome.length = piece.length;
      const bool cut = trimToTrueEnd_ && piece.check.verdict == formats::Verdict::kIntact &&
                       !EndMadeByZeros(source, piece.offset, piece.extent, piece.check.length);
      length = cut ? piece.check.length : piece.extent;
      std::string content;
      if (contentNames_) {
        formats::Fragment named(platform_, source, piece.offset, piece.extent);
        content = names::ContentName(named, piece.kind->ExtensionOrEmpty(), piece.check);
      }
      destPath = OutputPath(single ? baseName : PartName(baseName, number, items.size()), content, piece.kind->ExtensionOrEmpty(),
                            &piece.check);
    }
    handled += extent;
    if (!leadingTold && observer_ != nullptr) {
      leadingTold = true;
      for (const split::Piece& piece : pieces) {
        if (piece.role == split::Piece::Role::kUnclaimed) observer_->OnUnclaimed(whole.name, piece.offset, piece.extent);
      }
    }
    int error = 0;
    if (copies) {
      // A failure is told after the copies handed over before it.
      const FileHandle dest = CreateOutput(outcome, destPath, extent, finishAll);
      if (dest == kNoFile) continue;
      PartCopies::Copy copy;
      copy.dest = dest;
      copy.offset = item.offset;
      copy.length = length;
      copies->Start(copy);
      waiting.push_back({std::move(outcome), destPath, extent});
      // One more than the lanes waits its turn, so that no lane idles while
      // the next file is named.
      while (waiting.size() > PartCopies::kLanes + 1) finishOldest();
      continue;
    }
    if (!platform_.Seek(source, item.offset, error)) {
      Show(FormatText(texts::kOpenSourceFailed, fragmentPath.c_str()), texts::kOpenFileErrorCaption);
      m_copiedBytes += extent;
      Report(outcome);
      continue;
    }
    WriteOutput(outcome, source, fragmentPath, destPath, length, extent);
  }
  if (copies) finishAll();
  currentOutcome_ = &whole;
  m_copiedBytes += size - std::min(size, handled);
  if (splitter.Failed()) {
    whole.FailUnshown(m_engine.lastError);
    Report(whole);
  } else if (number == 0) {
    if (m_stopRequested) whole.result = FileOutcome::Result::kStopped;
    Report(whole);
  }
  currentOutcome_ = nullptr;
}

FileHandle MainDialog::CreateOutput(FileOutcome& outcome, const std::string& destPath, std::uint64_t size,
                                    const std::function<void()>& beforeTelling) {
  int error = 0;
  const FileHandle dest = platform_.Create(destPath, error);
  if (dest == kNoFile) {
    if (beforeTelling) beforeTelling();
    currentOutcome_ = &outcome;
    Show(FormatText(texts::kCreateFailed, destPath.c_str()), texts::kOpenFileErrorCaption);
    m_copiedBytes += size;
    Report(outcome);
    return kNoFile;
  }
  outcome.outputPath = destPath;
  outcome.result = FileOutcome::Result::kRecovered;
  return dest;
}

void MainDialog::WriteOutput(FileOutcome& outcome, FileHandle source, const std::string& fragmentPath,
                             const std::string& destPath, std::uint64_t length, std::uint64_t size) {
  const FileHandle dest = CreateOutput(outcome, destPath, size);
  if (dest == kNoFile) return;
  int error = 0;
  const std::uint64_t chunk = std::min<std::uint64_t>(length, kCopyChunk);
  if (m_stopRequested) {
    outcome.result = FileOutcome::Result::kStopped;
  } else {
    std::uint64_t done = 0;
    while (done < length) {
      const std::size_t n = static_cast<std::size_t>(std::min(chunk, length - done));
      const Platform::CopyResult copied = platform_.CopyChunk(source, dest, copyBuffer_.get(), n, error);
      if (copied == Platform::CopyResult::kReadFailed) {
        // A stop during a careful read leaves the rest unread: no failure.
        if (rescue_ && m_stopRequested) {
          outcome.result = FileOutcome::Result::kStopped;
          break;
        }
        Show(FormatText(texts::kReadFailed, fragmentPath.c_str()), texts::kReadFailedCaption);
        break;
      }
      if (copied == Platform::CopyResult::kWriteFailed) {
        Show(FormatText(texts::kWriteFailed, destPath.c_str()), texts::kWriteFailedCaption);
        break;
      }
      m_copiedBytes += n;
      done += n;
      outcome.bytesCopied = done;
      // The slack cut off counts as handled, so the overall bar ends full.
      if (done == length) m_copiedBytes += size - length;
      SetProgress(Percent(done, length), Percent(m_copiedBytes, m_totalBytes));
      if (m_stopRequested) {
        if (done < length) outcome.result = FileOutcome::Result::kStopped;
        break;
      }
    }
  }
  platform_.Close(dest);
  if (rescue_ && outcome.bytesCopied > 0) MarkUnreadable(outcome, source);
  Report(outcome);
}

bool MainDialog::EndMadeByZeros(FileHandle source, std::uint64_t offset, std::uint64_t size, std::uint64_t end) const {
  if (!rescue_) return false;
  // Zeros in place of unreadable sectors can look like a file's end (text
  // ends at its first zero): an end at or inside them is not believed.
  for (const RescueReads::Range& r : rescueReads_.Unreadable(source, offset, size)) {
    if (r.offset <= end && end <= r.offset + r.length) return true;
  }
  return false;
}

void MainDialog::MarkUnreadable(FileOutcome& outcome, FileHandle source) {
  outcome.unreadable = rescueReads_.Unreadable(source, outcome.part ? outcome.offset : 0, outcome.bytesCopied);
  if (outcome.unreadable.empty()) return;
  std::uint64_t lost = 0;
  for (const RescueReads::Range& r : outcome.unreadable) lost += r.length;
  ++rescuedFiles_;
  lostBytes_ += lost;
  std::string detail = UnreadableDetail(outcome.unreadable);
  if (outcome.check && !outcome.check->detail.empty() && outcome.check->verdict != formats::Verdict::kDamaged) {
    detail += "; read as it is: ";
    detail += formats::VerdictName(outcome.check->verdict);
    detail += ", ";
    detail += outcome.check->detail;
  } else if (outcome.check && !outcome.check->detail.empty()) {
    detail += "; ";
    detail += outcome.check->detail;
  }
  formats::CheckResult damaged = formats::Damaged(std::move(detail));
  if (outcome.check) damaged.expected = outcome.check->expected;
  outcome.check = std::move(damaged);
}

}  // namespace tessaro
