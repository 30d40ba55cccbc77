#include "gui_test_support.h"

#include <QAbstractButton>
#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTest>

namespace tessaro::guitest {

void Gate::Arm(int id, int from) {
  std::lock_guard<std::mutex> lock(mutex_);
  id_ = id;
  from_ = from;
  armed_ = true;
  open_ = false;
  reached_ = false;
}

void Gate::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  armed_ = false;
  opened_.notify_all();
}

void Gate::Pass(int id, int position) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!armed_ || id != id_ || position < from_) return;
  armed_ = false;
  reached_ = true;
  opened_.wait(lock, [this] { return open_; });
}

ScriptedWindow::ScriptedWindow() : windowThread_(std::this_thread::get_id()) {}

void ScriptedWindow::SetItemText(int id, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(textsMutex_);
    textsShown[id].push_back(QString::fromStdString(text));
  }
  QtDialogWindow::SetItemText(id, text);
}

void ScriptedWindow::SetProgressPos(int id, int position) {
  // On the caller's side, before the call is handed to the window: a worker
  // waits here while the window's thread stays free for the test's clicks.
  if (std::this_thread::get_id() != windowThread_) gate.Pass(id, position);
  QtDialogWindow::SetProgressPos(id, position);
}

void ScriptedWindow::ShowMessage(const QString& text, const QString& caption) {
  messages.push_back({text, caption, std::this_thread::get_id() == windowThread_});
  if (realMessageBoxes) QtDialogWindow::ShowMessage(text, caption);
}

QString ScriptedWindow::BrowseForFolder(const QString& prompt, const QString& startFolder) {
  folderPrompts.push_back(prompt);
  folderStarts.push_back(startFolder);
  if (realFolderBrowser) return QtDialogWindow::BrowseForFolder(prompt, startFolder);
  if (folderAnswers.empty()) return QString();
  QString answer = folderAnswers.front();
  folderAnswers.pop_front();
  return answer;
}

bool ScriptedWindow::DesktopOpens(const QString&) { return desktopOpensDocuments; }

bool ScriptedWindow::LaunchDocument(const QString& absolutePath) {
  launched.push_back(absolutePath);
  return true;
}

void ScriptedWindow::RunAboutBox() {
  ++aboutBoxes;
  if (realAboutBox) QtDialogWindow::RunAboutBox();
}

namespace {

bool WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QImage Picture(int edge, int seed) {
  QImage image(edge, edge, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.fillRect(image.rect(), QColor::fromHsv((seed * 47) % 360, 180, 230));
  painter.setPen(Qt::black);
  painter.drawEllipse(QRect(edge / 4, edge / 4, edge / 2, edge / 2));
  painter.drawText(image.rect(), Qt::AlignCenter, QString::number(seed));
  return image;
}

void SaveImage(const QString& path, int edge, int seed, const char* format) {
  if (!Picture(edge, seed).save(path, format)) qFatal("cannot write %s", qPrintable(path));
}

void SavePdf(const QString& path) {
  QPdfWriter writer(path);
  writer.setTitle(QStringLiteral("Tessaro sample"));
  QPainter painter(&writer);
  painter.drawText(QRect(0, 0, 4000, 1000), Qt::AlignLeft, QStringLiteral("A page of a real PDF."));
  painter.end();
  if (!QFile::exists(path)) qFatal("cannot write %s", qPrintable(path));
}

QString Name(int n) { return QStringLiteral("FILE%1.CHK").arg(n, 4, 10, QLatin1Char('0')); }

}  // namespace

QStringList SampleKindNames() {
  return {QStringLiteral("PNG image"),     QStringLiteral("JPEG image"),
          QStringLiteral("Bitmap image"),  QStringLiteral("PDF document"),
          QStringLiteral("GIF image"),     QStringLiteral("Plain text")};
}

QStringList SampleKindExtensions() {
  return {".png", ".jpg", ".bmp", ".pdf", ".gif", ".txt"};
}

void AddImages(const QString& folder, int count, int firstNumber, int edge) {
  for (int i = 0; i < count; ++i) SaveImage(folder + "/" + Name(firstNumber + i), edge, i, "PNG");
}

namespace {

QImage Noise(int edge, quint32 seed) {
  QImage image(edge, edge, QImage::Format_RGB32);
  QRandomGenerator random(seed);
  for (int y = 0; y < edge; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < edge; ++x) line[x] = 0xFF000000u | (random.generate() & 0xFFFFFFu);
  }
  return image;
}

void RequireSize(const QString& path, qint64 atLeast) {
  const qint64 size = QFileInfo(path).size();
  if (size < atLeast) {
    qFatal("%s came out at %lld bytes, less than wanted", qPrintable(path), static_cast<long long>(size));
  }
}

}  // namespace

void AddLargeFiles(SampleFolder& sample, int firstNumber) {
  constexpr qint64 kMiB = 1 << 20;
  const QString pdf = Name(firstNumber);
  const QString bmp = Name(firstNumber + 1);
  {
    QPdfWriter writer(sample.fragments + "/" + pdf);
    writer.setTitle(QStringLiteral("Tessaro large sample"));
    QPainter painter(&writer);
    for (int page = 0; page < 4; ++page) {
      if (page > 0) writer.newPage();
      const QImage noise = Noise(800, static_cast<quint32>(page + 1));
      painter.drawImage(QRect(0, 0, writer.width(), writer.width()), noise);
    }
  }
  RequireSize(sample.fragments + "/" + pdf, 2 * kMiB);
  SaveImage(sample.fragments + "/" + bmp, 1100, 5, "BMP");
  RequireSize(sample.fragments + "/" + bmp, 3 * kMiB);
  sample.expected[pdf] = ".pdf";
  sample.expected[bmp] = ".bmp";
}

std::unique_ptr<SampleFolder> MakeSampleFolder() {
  auto sample = std::make_unique<SampleFolder>();
  QDir root(sample->root.path());
  root.mkdir("FOUND.000");
  root.mkdir("recovered");
  sample->fragments = root.filePath("FOUND.000");
  sample->destination = root.filePath("recovered");
  sample->catalogue = root.filePath("tessaro.cfg");
  // Offsets first, then the pattern; postfix and addon after the pairs.
  const char* catalogue =
      "; the kinds of the window's tests\n"
      "[PNG image]\noffset = 0\nsignature = 89504E470D0A1A0A\npostfix = .png\n"
      "[JPEG image]\noffset = 0\nsignature = FFD8FF\npostfix = .jpg\n"
      "[Bitmap image]\noffset = 0\nsignature = 424D\npostfix = .bmp\n"
      "[PDF document]\noffset = 0\nsignature = 255044462D\npostfix = .pdf\naddon = 2525454F46\n"
      "[GIF image]\noffset = 0\nsignature = 474946383961\npostfix = .gif\n"
      "[Plain text]\npostfix = .txt\n";
  if (!WriteBytes(sample->catalogue, catalogue)) qFatal("cannot write the catalogue");

  const QString dir = sample->fragments + "/";
  SaveImage(dir + Name(0), 64, 1, "PNG");
  SaveImage(dir + Name(1), 80, 2, "JPEG");
  SavePdf(dir + Name(2));
  WriteBytes(dir + Name(3), "Notes left in a text file.\r\nSecond line.\r\n");
  QByteArray noise(5000, '\0');
  QRandomGenerator random(7);
  for (int i = 1; i < noise.size(); ++i) noise[i] = static_cast<char>(random.bounded(256));
  noise[0] = '\0';  // a zero byte up front: not text, and no kind starts so
  WriteBytes(dir + Name(4), noise);
  SaveImage(dir + Name(5), 48, 3, "PNG");
  SaveImage(dir + Name(6), 32, 4, "BMP");
  sample->expected = {{Name(0), ".png"}, {Name(1), ".jpg"}, {Name(2), ".pdf"}, {Name(3), ".txt"},
                      {Name(4), ""},     {Name(5), ".png"}, {Name(6), ".bmp"}};
  return sample;
}

QString ControlText(const gui::QtDialogWindow& window, int id) {
  QWidget* widget = window.Control(id);
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* line = qobject_cast<QLineEdit*>(widget)) return line->text();
  if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) return box->toPlainText();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  qFatal("control %d has no text", id);
  return {};
}

bool ControlEnabled(const gui::QtDialogWindow& window, int id) {
  QWidget* widget = window.Control(id);
  if (widget == nullptr) qFatal("no control %d", id);
  return widget->isEnabled();
}

int ProgressValue(const gui::QtDialogWindow& window, int id) {
  auto* bar = qobject_cast<QProgressBar*>(window.Control(id));
  if (bar == nullptr) qFatal("control %d is no progress bar", id);
  return bar->value();
}

void Click(gui::QtDialogWindow& window, int id) {
  QWidget* widget = window.Control(id);
  if (widget == nullptr) qFatal("no control %d", id);
  QTest::mouseClick(widget, Qt::LeftButton);
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

}  // namespace tessaro::guitest
