#pragma once
// TerminalWindow: the dialog interface rendered on a terminal. It keeps what
// the passes write (control texts, bar positions, the kind list) so the command
// line can report it, prints message boxes as "CAPTION: TEXT" lines on standard
// error without waiting for anyone, and draws a live progress line on standard
// error when that is a terminal.

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/dialog_window.h"

namespace tessaro::cli {

class TerminalWindow final : public DialogWindow {
 public:
  explicit TerminalWindow(std::FILE* errors, bool live);

  void SetItemText(int id, const std::string& text) override;
  void EnableItem(int id, bool enabled) override {}
  void SetProgressRange(int id, int low, int high) override {}
  void SetProgressPos(int id, int position) override;
  void DeleteAllListRows(int id) override;
  void InsertListColumn(int id, int column, const std::string& title, int widthPixels) override {}
  void SetListExtendedStyle(int id, std::uint32_t style) override {}
  void InsertListRow(int id, int row, const std::string& firstColumn) override;
  void SetListCell(int id, int row, int column, const std::string& text) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::string ChooseFolder(const std::string& prompt) override { return {}; }
  int OpenDocument(const std::string& path) override { return 0; }
  void ShowAbout() override {}
  // The command line takes its options from its arguments.
  bool ShowOptions(RecoveryOptions&) override { return false; }
  void ServeUntil(const std::function<bool()>& done) override;

  // Whether there is a progress line to draw (standard error is a terminal).
  bool Live() const { return live_; }

  // Redraws the progress line if it is live and due; `final` clears it.
  void Render(bool recovering, bool final);

  std::string Text(int id) const;
  std::vector<std::vector<std::string>> Rows() const;

 private:
  std::FILE* errors_;
  bool live_;
  mutable std::mutex mutex_;
  std::map<int, std::string> texts_;
  std::map<int, int> positions_;
  std::vector<std::vector<std::string>> rows_;
  bool drawn_ = false;
  long long lastDraw_ = 0;
};

}  // namespace tessaro::cli
