// The recovery pass and the copy of one fragment.

#include <algorithm>
#include <optional>

#include "app/control_ids.h"
#include "app/format_text.h"
#include "app/main_dialog.h"
#include "app/name_key.h"
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
  if (!m_stopRequested) SetProgress(100, 100);
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
      if (foldersThisPass_.count(NameKey(prefix)) == 0) {
        FileStatus status;
        int folderError = 0;
        // One that cannot be made is not remembered: the output's creation
        // then fails and says so, and the next output tries again.
        if (platform_.MakeFolder(folder, folderError) || (platform_.Status(folder, status, folderError) && status.isDirectory)) {
          foldersThisPass_.insert(NameKey(prefix));
        }
      }
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
    if (trimToTrueEnd_ && outcome.check->verdict == formats::Verdict::kIntact) length = outcome.check->length;
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
  WriteOutput(outcome, source, fragmentPath, baseName, content, length, size);
  return 0;
}

namespace {

// "FILE0007-0001": the fragment's name, a dash, the file's number in
// fragment order (from 1, four digits at least).
std::string PartName(const std::string& baseName, std::uint64_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  return baseName + '-' + digits;
}

}  // namespace

void MainDialog::RecoverParts(FileOutcome& whole, FileHandle source, const std::string& fragmentPath,
                              const std::string& baseName) {
  const std::uint64_t size = whole.size;
  split::FragmentSplitter splitter(m_engine, platform_, source, size, fragmentPath.c_str(), checkOptions_,
                                   &m_stopRequested);
  // One piece ahead: a fragment that is one file from its first byte keeps
  // the name it has without splitting.
  split::Piece piece, next;
  bool have = splitter.Next(piece);
  bool haveNext = have && splitter.Next(next);
  const bool single = have && !haveNext && piece.role == split::Piece::Role::kFile && piece.offset == 0;
  std::uint64_t number = 0, handled = 0;
  // Bytes before the first file are told of only once a file is found: a
  // fragment of no kind at all is reported as such.
  std::optional<split::Piece> leading;
  for (; have; piece = next, have = haveNext, haveNext = have && splitter.Next(next)) {
    if (piece.role == split::Piece::Role::kUnclaimed) {
      if (number == 0) {
        leading = piece;
      } else if (observer_ != nullptr) {
        observer_->OnUnclaimed(whole.name, piece.offset, piece.extent);
      }
      continue;
    }
    if (++number == 1 && leading && observer_ != nullptr) observer_->OnUnclaimed(whole.name, leading->offset, leading->extent);
    FileOutcome outcome;
    outcome.name = whole.name;
    outcome.size = piece.extent;
    outcome.kind = piece.kind;
    outcome.part = true;
    outcome.offset = piece.offset;
    outcome.length = piece.length;
    outcome.check = piece.check;
    currentOutcome_ = &outcome;
    handled += piece.extent;
    const std::string& extension = piece.kind->ExtensionOrEmpty();
    std::string content;
    if (contentNames_) {
      formats::Fragment named(platform_, source, piece.offset, piece.extent);
      content = !checkOptions_.deep ? names::ContentName(named, extension, piece.check)
                                    : names::ContentName(named, extension);
    }
    int error = 0;
    if (!platform_.Seek(source, piece.offset, error)) {
      Show(FormatText(texts::kOpenSourceFailed, fragmentPath.c_str()), texts::kOpenFileErrorCaption);
      m_copiedBytes += piece.extent;
      Report(outcome);
      continue;
    }
    const bool cut = trimToTrueEnd_ && piece.check.verdict == formats::Verdict::kIntact;
    WriteOutput(outcome, source, fragmentPath, single ? baseName : PartName(baseName, number), content,
                cut ? piece.check.length : piece.extent, piece.extent);
  }
  currentOutcome_ = &whole;
  m_copiedBytes += size - std::min(size, handled);
  if (splitter.Failed()) {
    // What could not be read ends the fragment's reading; the files found
    // before it stand.
    whole.FailUnshown(m_engine.lastError);
    Report(whole);
  } else if (number == 0) {
    if (m_stopRequested) whole.result = FileOutcome::Result::kStopped;
    Report(whole);
  }
  currentOutcome_ = nullptr;
}

void MainDialog::WriteOutput(FileOutcome& outcome, FileHandle source, const std::string& fragmentPath,
                             const std::string& baseName, const std::string& content, std::uint64_t length,
                             std::uint64_t size) {
  const FileTypeRecord* kind = outcome.kind;
  int error = 0;
  const std::string destPath =
      OutputPath(baseName, content, kind->ExtensionOrEmpty(), outcome.check ? &*outcome.check : nullptr);
  const FileHandle dest = platform_.Create(destPath, error);
  if (dest == kNoFile) {
    Show(FormatText(texts::kCreateFailed, destPath.c_str()), texts::kOpenFileErrorCaption);
    m_copiedBytes += size;
    Report(outcome);
    return;
  }
  outcome.outputPath = destPath;

  outcome.result = FileOutcome::Result::kRecovered;
  const std::uint64_t chunk = std::min<std::uint64_t>(length, kCopyChunk);
  if (m_stopRequested) {
    outcome.result = FileOutcome::Result::kStopped;
  } else {
    std::uint64_t done = 0;
    while (done < length) {
      const std::size_t n = static_cast<std::size_t>(std::min(chunk, length - done));
      const Platform::CopyResult copied = platform_.CopyChunk(source, dest, copyBuffer_.get(), n, error);
      if (copied == Platform::CopyResult::kReadFailed) {
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
  Report(outcome);
}

}  // namespace tessaro
