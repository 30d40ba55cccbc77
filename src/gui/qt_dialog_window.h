#pragma once
// QtDialogWindow: the main window, template 102 with menu 129, as Qt widgets.
//
// It renders what MainDialog tells it and forwards the user's commands to
// MainDialog's handlers; it decides nothing itself. Calls from a worker thread
// are carried to the window's thread and return when done, but for texts and
// bar positions: those a worker posts, and the window shows them at its next
// frame (the latest of each control), always before it carries out a later
// call, so nothing shows out of order.
//
// The message boxes, the folder browser, the desktop's document handler and
// the About box are reached through protected virtual functions, so a test can
// put its own in their place.
//
// Where the template leaves a count too little room (three digits; a large
// disk leaves six-digit numbers of fragments), the count keeps its place and
// takes the free space to its right.

#include <QDialog>
#include <QString>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog_window.h"

class QAction;
class QMenuBar;

namespace tessaro {
class MainDialog;
}

namespace tessaro::gui {

class WindowCalls;

class QtDialogWindow : public QDialog, public DialogWindow {
 public:
  explicit QtDialogWindow(QWidget* parent = nullptr);
  ~QtDialogWindow() override;

  // Connects the buttons and the menu to `dialog`'s handlers. `dialog` must
  // live until the window has closed.
  void Attach(MainDialog& dialog);
  // The dialog's initialisation, then the focus on the first control.
  void Initialise();
  // Initialise, show, and run until the window closes.
  int RunModal();

  // The widget of control `id`, or null.
  QWidget* Control(int id) const;
  // The widgets in template order.
  const std::vector<QWidget*>& Controls() const { return controls_; }
  QMenuBar* Menu() const { return menu_; }
  // The menu item with command `id`, or null.
  QAction* MenuCommand(int id) const;
  // A command of the menu or a button, as the user gives it.
  void Command(int id);

  // DialogWindow
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

  // Closing: a running pass is stopped and its worker waited for first.
  void done(int result) override;

 protected:
  // A modal box owned by this window: OK only, no icon, no maximise box.
  virtual void ShowMessage(const QString& text, const QString& caption);
  // The folder browser, the desktop's own where it offers one, opened at
  // `startFolder` (or the nearest folder above it that exists; the home
  // folder when there is none); empty when cancelled.
  virtual QString BrowseForFolder(const QString& prompt, const QString& startFolder);
  // Whether the desktop has a program for the existing file (Linux: by its
  // associations; elsewhere the system always has one for what we open).
  virtual bool DesktopOpens(const QString& absolutePath);
  // Hands an existing file to the desktop's default handler.
  virtual bool LaunchDocument(const QString& absolutePath);
  virtual void RunAboutBox();
  // The options box, modal; true when confirmed, with `options` as left.
  virtual bool RunOptionsBox(RecoveryOptions& options);

  // Where the window has a system menu (Windows): its About item.
  bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  void BuildMenu();
  void OnGuiThread(const std::function<void()>& call);
  void ShowText(int id, const QString& text);
  void ShowPosition(int id, int position);
  // The window's thread: shows what workers posted.
  void ShowPosted();

  // Texts and bar positions posted by workers, the latest for each control.
  struct Posted {
    std::vector<std::pair<int, std::string>> texts;
    std::vector<std::pair<int, int>> positions;
  };
  std::mutex postedMutex_;
  Posted posted_;  // guarded by postedMutex_
  Posted showing_;  // the window's thread only

  MainDialog* dialog_ = nullptr;
  WindowCalls* calls_ = nullptr;
  QWidget* client_ = nullptr;
  QMenuBar* menu_ = nullptr;
  std::vector<QWidget*> controls_;
  bool closing_ = false;
  // Waits for a worker in progress (ServeUntil), and a close that came meanwhile.
  int serving_ = 0;
  bool closeDeferred_ = false;
  int deferredResult_ = 0;
};

}  // namespace tessaro::gui
