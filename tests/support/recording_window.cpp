#include "support/recording_window.h"

#include <chrono>
#include <thread>

namespace tessaro::testing {

void RecordingWindow::SetItemText(int id, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    texts_[id] = text;
    textHistory_[id].push_back(text);
  }
  if (onText) onText(id, text);
}

void RecordingWindow::EnableItem(int id, bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  enabled_[id] = enabled;
  enableLog_.emplace_back(id, enabled);
}

void RecordingWindow::SetProgressRange(int id, int low, int high) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  ranges_[id] = {low, high};
}

void RecordingWindow::SetProgressPos(int id, int position) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  positions_[id] = position;
  positionHistory_[id].push_back(position);
}

void RecordingWindow::DeleteAllListRows(int) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  rows_.clear();
}

void RecordingWindow::InsertListColumn(int, int column, const std::string& title, int width) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  columns_.insert(columns_.begin() + column, title);
  widths_.insert(widths_.begin() + column, width);
}

void RecordingWindow::SetListExtendedStyle(int, std::uint32_t style) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  style_ = style;
}

void RecordingWindow::InsertListRow(int, int row, const std::string& firstColumn) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  rows_.insert(rows_.begin() + row, std::vector<std::string>{firstColumn, "", ""});
}

void RecordingWindow::SetListCell(int, int row, int column, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return;
  rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
}

void RecordingWindow::MessageBox(const std::string& text, const std::string& caption) {
  Box box{text, caption};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    boxes_.push_back(box);
  }
  if (onMessageBox) onMessageBox(box);
}

std::string RecordingWindow::ChooseFolder(const std::string& prompt) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  prompts_.push_back(prompt);
  if (folderAnswers_.empty()) return {};
  std::string answer = folderAnswers_.front();
  folderAnswers_.pop_front();
  return answer;
}

std::string RecordingWindow::ChooseFolderFrom(const std::string& prompt, const std::string& startFolder) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    starts_.push_back(startFolder);
  }
  return ChooseFolder(prompt);
}

int RecordingWindow::OpenDocument(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  opened_.push_back(path);
  return openResult_;
}

void RecordingWindow::ShowAbout() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  ++about_;
}

bool RecordingWindow::ShowOptions(RecoveryOptions& options) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  optionsShown_.push_back(options);
  if (optionsAnswers_.empty()) return false;
  options = optionsAnswers_.front();
  optionsAnswers_.pop_front();
  return true;
}

std::vector<RecoveryOptions> RecordingWindow::OptionsShown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return optionsShown_;
}

void RecordingWindow::QueueOptionsAnswer(RecoveryOptions options) {
  std::lock_guard<std::mutex> lock(mutex_);
  optionsAnswers_.push_back(options);
}

void RecordingWindow::ServeUntil(const std::function<bool()>& done) {
  while (!done()) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

std::string RecordingWindow::Text(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}

bool RecordingWindow::Enabled(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = enabled_.find(id);
  return it == enabled_.end() ? true : it->second;
}

int RecordingWindow::Position(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = positions_.find(id);
  return it == positions_.end() ? -1 : it->second;
}

std::vector<int> RecordingWindow::PositionHistory(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = positionHistory_.find(id);
  return it == positionHistory_.end() ? std::vector<int>() : it->second;
}

std::vector<std::string> RecordingWindow::TextHistory(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = textHistory_.find(id);
  return it == textHistory_.end() ? std::vector<std::string>() : it->second;
}

std::vector<std::vector<std::string>> RecordingWindow::Rows() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rows_;
}

std::vector<std::string> RecordingWindow::Columns() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return columns_;
}

std::vector<int> RecordingWindow::ColumnWidths() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return widths_;
}

std::uint32_t RecordingWindow::ExtendedStyle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return style_;
}

std::vector<Box> RecordingWindow::Boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

std::vector<std::string> RecordingWindow::Prompts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return prompts_;
}

std::vector<std::string> RecordingWindow::BrowserStarts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return starts_;
}

std::vector<std::string> RecordingWindow::OpenedDocuments() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return opened_;
}

int RecordingWindow::AboutCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return about_;
}

int RecordingWindow::WindowCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::pair<int, int> RecordingWindow::Range(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = ranges_.find(id);
  return it == ranges_.end() ? std::pair<int, int>{-1, -1} : it->second;
}

std::vector<std::pair<int, bool>> RecordingWindow::EnableLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return enableLog_;
}

void RecordingWindow::ClearLogs() {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_.clear();
  enableLog_.clear();
  positionHistory_.clear();
  textHistory_.clear();
  calls_ = 0;
}

void RecordingWindow::QueueFolderAnswer(std::string folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  folderAnswers_.push_back(std::move(folder));
}

void RecordingWindow::SetOpenDocumentResult(int result) {
  std::lock_guard<std::mutex> lock(mutex_);
  openResult_ = result;
}

}  // namespace tessaro::testing
