#pragma once
// DialogWindow: the small dialog framework MainDialog talks to. Controls are
// addressed by their fixed ids (control_ids.h). The Qt window, the terminal
// and the tests' recording window each implement it.
//
// Calls may come from the window's own thread or from a worker thread. A call
// from a worker is synchronous: it returns only when the window has carried it
// out (an implementation may carry it to its own thread and wait). Texts and
// bar positions are the exception an implementation may make: it may keep a
// worker's latest one of each control and show it at its next frame, as long
// as it shows it before it carries out any later call. MainDialog never holds
// a lock while it calls in.

#include <cstdint>
#include <functional>
#include <string>

#include "app/recovery_options.h"

namespace tessaro {

class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  virtual void SetItemText(int id, const std::string& text) = 0;
  virtual void EnableItem(int id, bool enabled) = 0;
  virtual void SetProgressRange(int id, int low, int high) = 0;
  virtual void SetProgressPos(int id, int position) = 0;

  // The kind list (report view).
  virtual void DeleteAllListRows(int id) = 0;
  virtual void InsertListColumn(int id, int column, const std::string& title, int widthPixels) = 0;
  virtual void SetListExtendedStyle(int id, std::uint32_t style) = 0;
  virtual void InsertListRow(int id, int row, const std::string& firstColumn) = 0;
  virtual void SetListCell(int id, int row, int column, const std::string& text) = 0;

  // A message box owned by the window: OK only, no icon. Returns when dismissed.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;

  // The folder browser, file-system folders only. Empty when cancelled.
  virtual std::string ChooseFolder(const std::string& prompt) = 0;

  // The same browser, opened at `startFolder` (empty: where the browser starts
  // by itself). A window whose browser cannot be opened at a folder ignores
  // it, as this default does.
  virtual std::string ChooseFolderFrom(const std::string& prompt, const std::string& startFolder) {
    static_cast<void>(startFolder);
    return ChooseFolder(prompt);
  }

  // Opens a file with the desktop's default handler. Returns 2 when the file
  // does not exist, 0 or another code otherwise (as the shell reports it).
  virtual int OpenDocument(const std::string& path) = 0;

  // Runs the About box modally.
  virtual void ShowAbout() = 0;

  // Runs the options box modally, showing `options`; true, with `options`
  // as the user left them, when the user confirmed it.
  virtual bool ShowOptions(RecoveryOptions& options) = 0;

  // Blocks the calling (window) thread until `done` is true, while still
  // carrying out calls that workers make meanwhile.
  virtual void ServeUntil(const std::function<bool()>& done) = 0;
};

}  // namespace tessaro
