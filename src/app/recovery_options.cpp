#include "app/recovery_options.h"

#include <array>
#include <utility>

namespace tessaro {

namespace {

constexpr std::uint64_t kLargestFile = 64 * 1024;

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

constexpr std::array<std::pair<RecoveryOptions::Names, std::string_view>, 3> kNames = {{
    {RecoveryOptions::Names::kFragment, "fragment"},
    {RecoveryOptions::Names::kContent, "content"},
    {RecoveryOptions::Names::kOriginal, "original"},
}};

void SetFlag(bool& flag, std::string_view value) {
  if (value == "on") flag = true;
  if (value == "off") flag = false;
}

}  // namespace

std::string OptionsText(const RecoveryOptions& options) {
  auto flag = [](bool on) { return on ? "on" : "off"; };
  std::string names;
  for (const auto& [value, text] : kNames) {
    if (value == options.names) names = text;
  }
  std::string out = "; Tessaro: the options of the window's recovery, as its options box last left them.\n";
  out += std::string("trim = ") + flag(options.trim) + "\n";
  out += std::string("split = ") + flag(options.split) + "\n";
  out += "names = " + names + "\n";
  out += std::string("sort = ") + (options.sortByKind ? "kind" : "none") + "\n";
  out += std::string("report = ") + flag(options.report) + "\n";
  out += std::string("rescue = ") + flag(options.rescue) + "\n";
  return out;
}

RecoveryOptions ParseOptions(std::string_view text) {
  RecoveryOptions options;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::size_t equals = line.find('=');
    if (line.empty() || line.front() == ';' || line.front() == '#' || equals == std::string_view::npos) continue;
    const std::string_view key = Trimmed(line.substr(0, equals)), value = Trimmed(line.substr(equals + 1));
    if (key == "trim") SetFlag(options.trim, value);
    if (key == "split") SetFlag(options.split, value);
    if (key == "report") SetFlag(options.report, value);
    if (key == "rescue") SetFlag(options.rescue, value);
    if (key == "sort" && (value == "kind" || value == "none")) options.sortByKind = value == "kind";
    if (key == "names") {
      for (const auto& [names, name] : kNames) {
        if (value == name) options.names = names;
      }
    }
  }
  return options;
}

SettingsFile::SettingsFile(Platform& platform, std::string folder) : platform_(platform), folder_(std::move(folder)) {
  if (!folder_.empty()) path_ = JoinPath(folder_, "settings.ini");
}

RecoveryOptions SettingsFile::Load() const {
  if (path_.empty()) return {};
  FileStatus status;
  int error = 0;
  bool statusFailed = false;
  const FileHandle file = platform_.StatusAndOpen(path_, status, error, statusFailed);
  if (file == kNoFile) return {};
  std::string text;
  if (!status.isDirectory && status.size <= kLargestFile) {
    text.resize(static_cast<std::size_t>(status.size));
    if (platform_.ReadAt(file, 0, text.data(), text.size()) != text.size()) text.clear();
  }
  platform_.Close(file);
  return ParseOptions(text);
}

bool SettingsFile::Save(const RecoveryOptions& options) const {
  if (path_.empty()) return false;
  int error = 0;
  FileStatus status;
  // The settings folder, and the folder it lies in ($XDG_CONFIG_HOME may not
  // be there yet on a new account).
  const std::size_t cut = folder_.find_last_of("/\\");
  for (const std::string& folder : {cut == std::string::npos ? std::string() : folder_.substr(0, cut), folder_}) {
    if (folder.empty() || platform_.Status(folder, status, error)) continue;
    platform_.MakeFolder(folder, error);
  }
  const std::string temporary = path_ + ".tmp";
  const FileHandle file = platform_.Create(temporary, error);
  if (file == kNoFile) return false;
  const std::string text = OptionsText(options);
  const bool written = platform_.Write(file, text.data(), text.size(), error);
  platform_.Close(file);
  if (written && platform_.Rename(temporary, path_, error)) return true;
  platform_.Remove(temporary, error);
  return false;
}

}  // namespace tessaro
