#include "gui/qt_dialog_window.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <algorithm>

#include "app/control_ids.h"
#include "app/main_dialog.h"
#include "gui/about_box.h"
#include "gui/options_box.h"
#include "gui/desktop_handlers.h"
#include "gui/dialog_units.h"
#include "gui/program_icon.h"
#include "gui/system_menu.h"
#include "gui/template_builder.h"
#include "gui/window_calls.h"
#include "resources/dialog_templates.h"

namespace tessaro::gui {

namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Extended list styles the kind list honours; the others (sub-item images,
// regional selection) change nothing that this list shows.
constexpr std::uint32_t kGridLines = 0x1;
constexpr std::uint32_t kFullRowSelect = 0x20;

// How often a wait for the worker looks whether it is over, besides after
// every call the worker makes.
constexpr int kServePollMs = 5;

// What the desktop launcher reports when no program opens the file.
constexpr int kNoAssociation = 31;

// The counts that the template gives room for three digits only.
constexpr int kCounts[] = {ids::kKindCount, ids::kFileCount, ids::kProcessedCount};

// The pages of a compiled help file, installed beside it as HTML:
// help/index.html for help.chm. Empty when there are none.
QString HtmlPagesOf(const QFileInfo& document) {
  if (document.suffix().compare(QStringLiteral("chm"), Qt::CaseInsensitive) != 0) return {};
  QFileInfo pages(document.dir().filePath(document.completeBaseName() + QStringLiteral("/index.html")));
  return pages.isFile() ? pages.absoluteFilePath() : QString();
}

// `folder`, or the nearest folder above it that exists; the home folder when
// none does (a folder chosen earlier may be gone, or on a disk taken out).
QString ExistingFolderAtOrAbove(const QString& folder) {
  if (folder.isEmpty()) return QDir::homePath();
  QString path = QDir::cleanPath(QDir(folder).absolutePath());
  while (!QFileInfo(path).isDir()) {
    const QString up = QFileInfo(path).path();
    if (up == path) return QDir::homePath();
    path = up;
  }
  return path;
}

QTableWidgetItem* Cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

}  // namespace

QtDialogWindow::QtDialogWindow(QWidget* parent) : QDialog(parent) {
  const templates::Dialog& tpl = templates::kMainDialog;
  calls_ = new WindowCalls(this);
  calls_->SetFlush([this] { ShowPosted(); });
  // A window of its own (on the task bar), with a minimise box but no
  // maximise box and no sizing border.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QString::fromUtf8(tpl.caption));
  setWindowIcon(ProgramIcon());
  setFont(DialogFont(QString::fromUtf8(tpl.font), tpl.pointSize));
  DialogUnits units = DialogUnits::ForFont(font());

  BuildMenu();
  int menuHeight = menu_->sizeHint().height();
  // The template's size is that of the client area; the menu sits above it.
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("client"));
  client_->setGeometry(0, menuHeight, units.X(tpl.width), units.Y(tpl.height));
  menu_->setGeometry(0, 0, units.X(tpl.width), menuHeight);
  controls_ = BuildControls(tpl, client_, units);
  for (int i = 0; i < tpl.controlCount; ++i) {
    if (std::find(std::begin(kCounts), std::end(kCounts), tpl.controls[i].id) == std::end(kCounts)) continue;
    QWidget* count = controls_[static_cast<std::size_t>(i)];
    count->resize(units.X(RoomToTheRight(tpl, i)), count->height());
  }
  setFixedSize(units.X(tpl.width), menuHeight + units.Y(tpl.height));

  const std::pair<int, int> buttons[] = {
      {ids::kChooseSource, ids::kChooseSource}, {ids::kChooseDest, ids::kChooseDest},
      {ids::kDetect, ids::kDetect},             {ids::kStopDetect, ids::kStopDetect},
      {ids::kRecover, ids::kRecover},           {ids::kStopRecover, ids::kStopRecover},
  };
  for (auto [control, command] : buttons) {
    if (auto* button = qobject_cast<QAbstractButton*>(Control(control))) {
      connect(button, &QAbstractButton::clicked, this, [this, command = command] { Command(command); });
    }
  }
}

QtDialogWindow::~QtDialogWindow() {
  // Whatever a worker still hands over now finds no window: let it return.
  calls_->Close();
}

void QtDialogWindow::BuildMenu() {
  menu_ = new QMenuBar(this);
  menu_->setObjectName(QStringLiteral("menu%1").arg(templates::kMainDialog.menu));
  const int titles = static_cast<int>(std::size(templates::kMenuTitles));
  for (int m = 0; m < titles; ++m) {
    QString title = QString::fromUtf8(templates::kMenuTitles[m]);
    bool hasItems = std::any_of(std::begin(templates::kMenuItems), std::end(templates::kMenuItems),
                                [m](const templates::MenuItem& item) { return item.menu == m; });
    if (!hasItems && title.isEmpty()) {
      // The empty top-level item between the two drop-downs.
      menu_->addSeparator()->setObjectName(QStringLiteral("menuSeparator%1").arg(m));
      continue;
    }
    QMenu* popup = menu_->addMenu(title);
    popup->setObjectName(QStringLiteral("menuPopup%1").arg(m));
    for (const templates::MenuItem& item : templates::kMenuItems) {
      if (item.menu != m) continue;
      if (item.id == 0) {
        popup->addSeparator();
        continue;
      }
      QAction* action = popup->addAction(QString::fromUtf8(item.text));
      action->setObjectName(QStringLiteral("cmd%1").arg(item.id));
      action->setData(item.id);
      connect(action, &QAction::triggered, this, [this, id = item.id] { Command(id); });
    }
  }
}

void QtDialogWindow::Attach(MainDialog& dialog) { dialog_ = &dialog; }

void QtDialogWindow::Initialise() {
  AppendAboutToSystemMenu(this);
  if (dialog_ != nullptr) dialog_->OnInitDialog();
  // The focus goes to the first control that takes it, as a dialog starts.
  for (QWidget* widget : controls_) {
    if (widget->focusPolicy() != Qt::NoFocus && widget->isEnabled() && !widget->isHidden()) {
      widget->setFocus(Qt::OtherFocusReason);
      break;
    }
  }
}

int QtDialogWindow::RunModal() {
  Initialise();
  return exec();
}

QWidget* QtDialogWindow::Control(int id) const { return FindControl(client_, id); }

QAction* QtDialogWindow::MenuCommand(int id) const {
  return menu_->findChild<QAction*>(QStringLiteral("cmd%1").arg(id));
}

void QtDialogWindow::Command(int id) {
  // "退出" is the window's own; the system menu's About comes as a system
  // command; every other id goes to the dialog's command table.
  if (id == ids::kExit) {
    reject();
    return;
  }
  if (dialog_ == nullptr) return;
  if (id == ids::kSysAbout) {
    dialog_->OnSysCommand(static_cast<unsigned>(id));
    return;
  }
  dialog_->OnCommand(static_cast<unsigned>(id));
}

void QtDialogWindow::done(int result) {
  // Escape, the close box and "退出" all end here. A second request while the
  // first still waits for the worker changes nothing.
  if (closing_) return;
  if (serving_ > 0) {
    // The window manager's close box reaches us even while a handler waits for
    // a worker; closing under that handler would let it go on with a closed
    // window (start a pass, say). It closes once the handler has returned.
    closeDeferred_ = true;
    deferredResult_ = result;
    return;
  }
  closing_ = true;
  if (dialog_ != nullptr) dialog_->OnClose();
  QDialog::done(result);
  closing_ = false;
}

bool QtDialogWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
  unsigned command = 0;
  if (IsSystemMenuCommand(eventType, message, command)) {
    Command(static_cast<int>(command));
    *result = 0;
    return true;
  }
  return QDialog::nativeEvent(eventType, message, result);
}

void QtDialogWindow::OnGuiThread(const std::function<void()>& call) { calls_->Run(call); }

namespace {

// The entry for control `id` in `entries`, made when there is none yet.
template <typename Value>
Value& SlotFor(std::vector<std::pair<int, Value>>& entries, int id) {
  for (auto& entry : entries) {
    if (entry.first == id) return entry.second;
  }
  return entries.emplace_back(id, Value{}).second;
}

}  // namespace

void QtDialogWindow::SetItemText(int id, const std::string& text) {
  if (calls_->OnWindowThread()) {
    calls_->Run([&] { ShowText(id, Q(text)); });
    return;
  }
  {
    std::lock_guard<std::mutex> lock(postedMutex_);
    SlotFor(posted_.texts, id) = text;
  }
  calls_->ChangesPosted();
}

void QtDialogWindow::SetProgressPos(int id, int position) {
  if (calls_->OnWindowThread()) {
    calls_->Run([&] { ShowPosition(id, position); });
    return;
  }
  {
    std::lock_guard<std::mutex> lock(postedMutex_);
    SlotFor(posted_.positions, id) = position;
  }
  calls_->ChangesPosted();
}

void QtDialogWindow::ShowPosted() {
  {
    std::lock_guard<std::mutex> lock(postedMutex_);
    if (posted_.texts.empty() && posted_.positions.empty()) return;
    std::swap(posted_, showing_);
  }
  for (const auto& [id, text] : showing_.texts) ShowText(id, Q(text));
  for (const auto& [id, position] : showing_.positions) ShowPosition(id, position);
  showing_.texts.clear();
  showing_.positions.clear();
}

void QtDialogWindow::ShowText(int id, const QString& value) {
  QWidget* widget = Control(id);
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(value);
  } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    line->setText(value);
    line->setCursorPosition(0);
  } else if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
    box->setPlainText(value);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(value);
  }
}

void QtDialogWindow::ShowPosition(int id, int position) {
  auto* bar = qobject_cast<QProgressBar*>(Control(id));
  if (bar == nullptr) return;
  // A progress bar shows a position outside its range at the nearer end.
  bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

void QtDialogWindow::EnableItem(int id, bool enabled) {
  OnGuiThread([&] {
    if (QWidget* widget = Control(id)) widget->setEnabled(enabled);
  });
}

void QtDialogWindow::SetProgressRange(int id, int low, int high) {
  OnGuiThread([&] {
    if (auto* bar = qobject_cast<QProgressBar*>(Control(id))) bar->setRange(low, high);
  });
}

void QtDialogWindow::DeleteAllListRows(int id) {
  OnGuiThread([&] {
    if (auto* list = qobject_cast<QTableWidget*>(Control(id))) list->setRowCount(0);
  });
}

void QtDialogWindow::InsertListColumn(int id, int column, const std::string& title, int widthPixels) {
  OnGuiThread([&] {
    auto* list = qobject_cast<QTableWidget*>(Control(id));
    if (list == nullptr || column < 0) return;
    int at = std::min(column, list->columnCount());
    list->insertColumn(at);
    auto* header = new QTableWidgetItem(Q(title));
    header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->setHorizontalHeaderItem(at, header);
    list->setColumnWidth(at, std::max(0, widthPixels));
  });
}

void QtDialogWindow::SetListExtendedStyle(int id, std::uint32_t style) {
  OnGuiThread([&] {
    auto* list = qobject_cast<QTableWidget*>(Control(id));
    if (list == nullptr) return;
    list->setShowGrid(style & kGridLines);
    list->setSelectionBehavior((style & kFullRowSelect) ? QAbstractItemView::SelectRows
                                                        : QAbstractItemView::SelectItems);
  });
}

void QtDialogWindow::InsertListRow(int id, int row, const std::string& firstColumn) {
  OnGuiThread([&] {
    auto* list = qobject_cast<QTableWidget*>(Control(id));
    if (list == nullptr || row < 0) return;
    int at = std::min(row, list->rowCount());
    list->insertRow(at);
    list->setItem(at, 0, Cell(Q(firstColumn)));
    for (int c = 1; c < list->columnCount(); ++c) list->setItem(at, c, Cell(QString()));
  });
}

void QtDialogWindow::SetListCell(int id, int row, int column, const std::string& text) {
  OnGuiThread([&] {
    auto* list = qobject_cast<QTableWidget*>(Control(id));
    if (list == nullptr || row < 0 || row >= list->rowCount() || column < 0 ||
        column >= list->columnCount())
      return;
    if (QTableWidgetItem* item = list->item(row, column)) {
      item->setText(Q(text));
    } else {
      list->setItem(row, column, Cell(Q(text)));
    }
  });
}

void QtDialogWindow::MessageBox(const std::string& text, const std::string& caption) {
  OnGuiThread([&] { ShowMessage(Q(text), Q(caption)); });
}

std::string QtDialogWindow::ChooseFolder(const std::string& prompt) { return ChooseFolderFrom(prompt, {}); }

std::string QtDialogWindow::ChooseFolderFrom(const std::string& prompt, const std::string& startFolder) {
  std::string chosen;
  OnGuiThread([&] { chosen = BrowseForFolder(Q(prompt), Q(startFolder)).toStdString(); });
  return chosen;
}

int QtDialogWindow::OpenDocument(const std::string& path) {
  int result = 0;
  OnGuiThread([&] {
    QFileInfo file(Q(path));
    if (!file.exists()) {
      result = 2;
      return;
    }
    QString target = file.absoluteFilePath();
    // Most Linux desktops have no program for compiled help, and the desktop's
    // launcher then fails without a word. The same help, installed beside it as
    // HTML pages, opens in the browser every desktop has.
    if (!DesktopOpens(target)) {
      const QString pages = HtmlPagesOf(file);
      if (!pages.isEmpty()) target = pages;
    }
    result = LaunchDocument(target) ? 0 : kNoAssociation;
  });
  return result;
}

void QtDialogWindow::ShowAbout() {
  OnGuiThread([&] { RunAboutBox(); });
}

bool QtDialogWindow::ShowOptions(RecoveryOptions& options) {
  bool confirmed = false;
  OnGuiThread([&] { confirmed = RunOptionsBox(options); });
  return confirmed;
}

void QtDialogWindow::ServeUntil(const std::function<bool()>& done) {
  if (!calls_->OnWindowThread()) {
    // Only the window's thread is meant to wait here; any other has no calls to serve.
    while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(kServePollMs));
    return;
  }
  if (done()) {
    calls_->FlushChanges();
    return;
  }
  QEventLoop loop;
  auto check = [&] {
    if (done()) loop.quit();
  };
  QTimer poll;
  poll.setInterval(kServePollMs);
  QObject::connect(&poll, &QTimer::timeout, &loop, check);
  poll.start();
  std::function<void()> outer = calls_->SetAfterEachCall(check);
  ++serving_;
  // The worker's calls are served; the user's clicks and keys wait until the
  // worker is gone, so no handler starts while one is waiting.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  --serving_;
  calls_->SetAfterEachCall(std::move(outer));
  // The worker waited for is done: the window shows all it was told.
  calls_->FlushChanges();
  if (closeDeferred_ && serving_ == 0) {
    // Queued, so it runs after the waiting handler has returned.
    QTimer::singleShot(0, this, [this] {
      if (!closeDeferred_) return;
      closeDeferred_ = false;
      this->done(deferredResult_);
    });
  }
}

void QtDialogWindow::ShowMessage(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, this);
  // A box of a fixed size that asks the window manager for a close box only.
  box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                     Qt::MSWindowsFixedSizeDialogHint);
  // Texts name files, and a name may look like markup.
  box.setTextFormat(Qt::PlainText);
  // Some styles draw a picture on the standard buttons; these boxes show none.
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->setIcon(QIcon());
  box.exec();
}

QString QtDialogWindow::BrowseForFolder(const QString& prompt, const QString& startFolder) {
  // Without DontUseNativeDialog Qt shows the desktop's own folder dialog where
  // the platform offers one (a GTK or portal platform theme), and its own
  // dialog elsewhere, in Chinese once Qt's translations are loaded.
  QString folder = QFileDialog::getExistingDirectory(this, prompt, ExistingFolderAtOrAbove(startFolder),
                                                     QFileDialog::ShowDirsOnly);
  return QDir::toNativeSeparators(folder);
}

bool QtDialogWindow::DesktopOpens(const QString& absolutePath) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  return DesktopHasHandlerFor(absolutePath);
#else
  static_cast<void>(absolutePath);
  return true;
#endif
}

bool QtDialogWindow::LaunchDocument(const QString& absolutePath) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(absolutePath));
}

void QtDialogWindow::RunAboutBox() {
  AboutBox box(this);
  box.exec();
}

bool QtDialogWindow::RunOptionsBox(RecoveryOptions& options) {
  OptionsBox box(options, this);
  if (box.exec() != QDialog::Accepted) return false;
  options = box.Options();
  return true;
}

}  // namespace tessaro::gui
