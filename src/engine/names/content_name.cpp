// Which reader serves which kind, and the one open of the file they share.

#include "engine/names/content_name.h"

#include <algorithm>
#include <vector>

#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

using Reader = std::string (*)(Fragment& f, const CheckResult& check);

struct ReaderEntry {
  const char* extension;  // lower case, without the dot
  Reader reader;
  bool usesCheck = false;  // looks at the check's end
};

const ReaderEntry kReaders[] = {
    {"jpg", JpegDate},
    {"jpeg", JpegDate},
    {"jpe", JpegDate},
    {"jfif", JpegDate},
    // TIFF and the camera raws built on it walk the same IFDs.
    {"tif", TiffDate},
    {"tiff", TiffDate},
    {"cr2", TiffDate},
    {"nef", TiffDate},
    {"arw", TiffDate},
    {"orf", TiffDate},
    {"rw2", TiffDate},
    {"dng", TiffDate},
    {"heic", HeifDate},
    {"heif", HeifDate},
    {"avif", HeifDate},
    {"mp4", MovieDate},
    {"mov", MovieDate},
    {"3gp", MovieDate},
    {"3g2", MovieDate},
    {"m4a", SongName},
    {"m4v", MovieDate},
    {"mp3", Id3Name, true},
    {"flac", FlacName},
    {"ogg", OggName},
    {"oga", OggName},
    {"opus", OggName},
    {"ogv", OggName},
    {"spx", OggName},
    {"docx", OoxmlTitle},
    {"xlsx", OoxmlTitle},
    {"pptx", OoxmlTitle},
    {"docm", OoxmlTitle},
    {"xlsm", OoxmlTitle},
    {"pptm", OoxmlTitle},
    {"odt", OdfTitle},
    {"ods", OdfTitle},
    {"odp", OdfTitle},
    {"odg", OdfTitle},
    {"doc", CompoundTitle},
    {"xls", CompoundTitle},
    {"ppt", CompoundTitle},
    {"pdf", PdfTitle, true},
    {"html", HtmlTitle},
    {"htm", HtmlTitle},
    {"xhtml", HtmlTitle},
};

const ReaderEntry* FindReaderEntry(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  std::string lower(extension);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const ReaderEntry& entry : kReaders) {
    if (lower == entry.extension) return &entry;
  }
  return nullptr;
}

}  // namespace

bool HasContentReader(std::string_view extension) { return FindReaderEntry(extension) != nullptr; }

std::string ListContentExtensions() {
  std::vector<std::string_view> names;
  for (const ReaderEntry& entry : kReaders) names.push_back(entry.extension);
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string_view name : names) text.append(text.empty() ? "" : " ").append(name);
  return text;
}

std::string ContentName(Fragment& fragment, std::string_view extension, const CheckResult& check) {
  const ReaderEntry* entry = FindReaderEntry(extension);
  if (entry == nullptr || fragment.Failed()) return {};
  std::string raw = entry->reader(fragment, check);
  // A read that failed may have left the reader with half a text.
  if (fragment.Failed()) return {};
  return BoundedSafeName(raw);
}

std::string ContentName(Fragment& fragment, std::string_view extension) {
  const ReaderEntry* entry = FindReaderEntry(extension);
  if (entry == nullptr) return {};
  // Only the readers that look at it are given a real check: checking is a
  // walk through the whole file.
  const CheckResult check = entry->usesCheck ? formats::CheckFragment(fragment, extension, formats::CheckOptions{})
                                             : formats::Unchecked("not checked");
  return ContentName(fragment, extension, check);
}

std::string ContentName(Platform& platform, const std::string& path, std::string_view extension) {
  if (FindReaderEntry(extension) == nullptr) return {};
  FileStatus status;
  int error = 0;
  bool statusFailed = false;
  const FileHandle file = platform.StatusAndOpen(path, status, error, statusFailed);
  if (file == kNoFile) return {};
  Fragment fragment(platform, file, status.size);
  std::string name = ContentName(fragment, extension);
  platform.Close(file);
  return name;
}

}  // namespace tessaro::names
