#pragma once
// Win32DialogWindow: the native Windows window of MainDialog.
//
// Runs dialog template 102 modally (DialogBoxParamW) and carries MainDialog's
// calls to its controls by id. It only renders and forwards: every rule of
// the run states lives in MainDialog.
//
// Threads: Run and the handlers run on the window's thread. A worker's call
// is carried to the window's thread with SendMessageW of a private message
// holding the call, so the worker waits while the window carries it out, and
// the window's thread never waits for a worker without serving such calls
// (ServeUntil).

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "app/dialog_window.h"

namespace tessaro {

class MainDialog;

namespace win32 {

// The private message that carries a call: lParam points to a
// std::function<void()> that lives until SendMessageW returns.
inline constexpr UINT kCarryCall = WM_APP + 1;

class Win32DialogWindow final : public DialogWindow {
 public:
  // `instance` is the module that holds the window's resources.
  explicit Win32DialogWindow(HINSTANCE instance);
  ~Win32DialogWindow() override;
  Win32DialogWindow(const Win32DialogWindow&) = delete;
  Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

  // Shows the main window for `dialog` and returns when it has been closed
  // (close box, Escape or "退出"), after any running pass has ended.
  // REQUIRES: called once per window, on the thread that will be the
  // window's; `dialog` was built with this window.
  void Run(MainDialog& dialog);

  // The main window while Run is showing it, else null. Any thread.
  HWND Handle() const { return hwnd_.load(); }

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
  int OpenDocument(const std::string& path) override;
  void ShowAbout() override;
  bool ShowOptions(RecoveryOptions& options) override;
  void ServeUntil(const std::function<bool()>& done) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInit(HWND hwnd);
  void OnCommand(int id, int code, HWND control);
  bool OnPaint();
  void Close();

  // Runs `call` on the window's thread and returns once it has run.
  void OnWindowThread(const std::function<void()>& call);
  HWND Item(int id) const { return GetDlgItem(hwnd_.load(), id); }

  HINSTANCE instance_;
  MainDialog* dialog_ = nullptr;
  std::atomic<HWND> hwnd_{nullptr};
  std::atomic<DWORD> windowThread_{0};
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  bool closing_ = false;
  // A close asked for while a handler waits in ServeUntil is carried out when
  // that handler has returned, so nothing of it runs on a closed window.
  int serving_ = 0;
  bool closePending_ = false;
};

}  // namespace win32
}  // namespace tessaro
