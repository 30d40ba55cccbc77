#pragma once
// What the window's tests share: a window whose message boxes, folder browser
// and document launcher are scripted, real sample files made by Qt's own
// encoders, a catalogue that knows them, and a gate that holds a worker at a
// chosen window call.

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/main_dialog.h"
#include "gui/qt_dialog_window.h"

namespace tessaro::guitest {

// A box the window showed: what it said, and whether the window's thread showed it.
struct ShownMessage {
  QString text;
  QString caption;
  bool onWindowThread = false;
};

// Holds a worker thread inside a window call until the test opens it.
class Gate {
 public:
  // The next `SetProgressPos(id, …)` with a position at or above `from` waits.
  void Arm(int id, int from);
  void Open();
  // True once a worker waits at the gate (the window's thread polls this).
  bool Reached() const { return reached_; }
  // Called by the window on the worker's side of a call.
  void Pass(int id, int position);

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  int id_ = -1;
  int from_ = 0;
  bool armed_ = false;
  bool open_ = false;
  std::atomic<bool> reached_{false};
};

class ScriptedWindow : public gui::QtDialogWindow {
 public:
  ScriptedWindow();

  // Answers of the folder browser, in order; an empty one is a cancel.
  std::deque<QString> folderAnswers;
  QStringList folderPrompts;
  QStringList folderStarts;  // where each browser was asked to open
  // What the desktop has a program for: every document, or none.
  bool desktopOpensDocuments = true;
  std::vector<ShownMessage> messages;
  QStringList launched;
  // Use the real message box (and let the test dismiss it) instead of recording.
  bool realMessageBoxes = false;
  bool realFolderBrowser = false;
  bool realAboutBox = false;
  int aboutBoxes = 0;
  Gate gate;
  // Every text the window was told to show, per control (worker or not).
  std::map<int, QStringList> textsShown;

  void SetItemText(int id, const std::string& text) override;
  void SetProgressPos(int id, int position) override;

 protected:
  void ShowMessage(const QString& text, const QString& caption) override;
  QString BrowseForFolder(const QString& prompt, const QString& startFolder) override;
  bool DesktopOpens(const QString& absolutePath) override;
  bool LaunchDocument(const QString& absolutePath) override;
  void RunAboutBox() override;

 private:
  std::thread::id windowThread_;
  std::mutex textsMutex_;
};

// A folder of real files of known kinds.
struct SampleFolder {
  QTemporaryDir root;
  QString fragments;    // FOUND.000 with the fragment files
  QString destination;  // an empty folder for recovered files
  QString catalogue;    // tessaro.cfg naming the kinds below
  // Fragment name -> the extension its recovered copy gets ("" when none).
  std::map<QString, QString> expected;
};

// PNG ×2, JPEG, BMP, PDF, a text file and an unrecognisable binary file.
std::unique_ptr<SampleFolder> MakeSampleFolder();
// Only `count` PNG images, named FILE0000.CHK onwards.
void AddImages(const QString& folder, int count, int firstNumber, int edge);
// Two fragments of several MiB, FILE<firstNumber>.CHK and the next, entered
// in `sample.expected`: a PDF of pages of noise, which barely compresses,
// so its "%%EOF" lies megabytes in and the content scan reads it whole; and a
// bitmap, copied chunk by chunk. Passes over them are still running when a
// stop comes.
void AddLargeFiles(SampleFolder& sample, int firstNumber);

// The catalogue of the sample folder: six kinds, in this order.
QStringList SampleKindNames();
QStringList SampleKindExtensions();

// The text of a control of `window` as the user sees it.
QString ControlText(const gui::QtDialogWindow& window, int id);
bool ControlEnabled(const gui::QtDialogWindow& window, int id);
int ProgressValue(const gui::QtDialogWindow& window, int id);

// The eight controls of the run states, in their table's order.
inline constexpr int kRunControls[] = {1000, 1002, 1001, 1003, 1024, 1025, 1023, 1015};

// Clicks a button of the window with the mouse, as the user does.
void Click(gui::QtDialogWindow& window, int id);

QByteArray ReadFile(const QString& path);

}  // namespace tessaro::guitest
