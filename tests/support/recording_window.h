#pragma once
// RecordingWindow: a DialogWindow that keeps everything MainDialog does to it,
// so every rule of the run states can be checked without a display. Calls run
// on the calling thread (worker calls included) under one lock; the lock is
// never held while a test hook runs.

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/dialog_window.h"

namespace tessaro::testing {

struct Box {
  std::string text;
  std::string caption;
};

class RecordingWindow : public DialogWindow {
 public:
  void SetItemText(int id, const std::string& text) override;
  void EnableItem(int id, bool enabled) override;
  void SetProgressRange(int id, int low, int high) override;
  void SetProgressPos(int id, int position) override;
  void DeleteAllListRows(int id) override;
  void InsertListColumn(int id, int column, const std::string& title, int widthPixels) override;
  void SetListExtendedStyle(int id, std::uint32_t style) override;
  void InsertListRow(int id, int row, const std::string& firstColumn) override;
  void SetListCell(int id, int row, int column, const std::string& text) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::string ChooseFolder(const std::string& prompt) override;
  std::string ChooseFolderFrom(const std::string& prompt, const std::string& startFolder) override;
  int OpenDocument(const std::string& path) override;
  void ShowAbout() override;
  bool ShowOptions(RecoveryOptions& options) override;
  void ServeUntil(const std::function<bool()>& done) override;

  // What the window shows now.
  std::string Text(int id) const;
  bool Enabled(int id) const;  // controls never switched count as enabled (template default)
  int Position(int id) const;  // -1 when never set
  std::vector<int> PositionHistory(int id) const;
  std::vector<std::string> TextHistory(int id) const;
  std::vector<std::vector<std::string>> Rows() const;
  std::vector<std::string> Columns() const;
  std::vector<int> ColumnWidths() const;
  std::uint32_t ExtendedStyle() const;
  std::vector<Box> Boxes() const;
  std::vector<std::string> Prompts() const;
  // Where each browser opened through ChooseFolderFrom was asked to start.
  std::vector<std::string> BrowserStarts() const;
  std::vector<std::string> OpenedDocuments() const;
  int AboutCount() const;
  // The options each options box was opened with.
  std::vector<RecoveryOptions> OptionsShown() const;
  int WindowCalls() const;  // every call, for the "only on change" rule
  std::pair<int, int> Range(int id) const;
  // Every EnableItem in order, as id and state.
  std::vector<std::pair<int, bool>> EnableLog() const;
  void ClearLogs();

  // Test hooks.
  void QueueFolderAnswer(std::string folder);           // "" = cancel
  void SetOpenDocumentResult(int result);
  // The next options box is confirmed with these; without, it is cancelled.
  void QueueOptionsAnswer(RecoveryOptions options);
  std::function<void(const Box&)> onMessageBox;         // runs on the calling thread
  std::function<void(int id, const std::string&)> onText;

 private:
  mutable std::mutex mutex_;
  std::map<int, std::string> texts_;
  std::map<int, std::vector<std::string>> textHistory_;
  std::map<int, bool> enabled_;
  std::vector<std::pair<int, bool>> enableLog_;
  std::map<int, int> positions_;
  std::map<int, std::vector<int>> positionHistory_;
  std::map<int, std::pair<int, int>> ranges_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<std::string> columns_;
  std::vector<int> widths_;
  std::uint32_t style_ = 0;
  std::vector<Box> boxes_;
  std::vector<std::string> prompts_;
  std::vector<std::string> starts_;
  std::deque<std::string> folderAnswers_;
  std::vector<std::string> opened_;
  int openResult_ = 33;
  int about_ = 0;
  std::vector<RecoveryOptions> optionsShown_;
  std::deque<RecoveryOptions> optionsAnswers_;
  int calls_ = 0;
};

}  // namespace tessaro::testing
