#include "gui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstring>

namespace tessaro::gui {

namespace {

// The window speaks Simplified Chinese whatever the system's language, so
// Qt's texts follow the window, not the system. qtbase holds every text of
// the widgets and dialogs the window uses.
constexpr const char* kQtCatalogue = "qtbase_zh_CN";

// Texts Qt's Chinese catalogue leaves English although Qt's folder browser
// shows them: the type column of its folder list.
struct Missing {
  const char* context;
  const char* english;
  const char* chinese;
};
constexpr Missing kMissing[] = {
    {"QAbstractFileIconProvider", "Folder", "文件夹"},
    {"QAbstractFileIconProvider", "File Folder", "文件夹"},
    {"QAbstractFileIconProvider", "Drive", "驱动器"},
    {"QAbstractFileIconProvider", "Shortcut", "快捷方式"},
    {"QAbstractFileIconProvider", "Unknown", "未知"},
};

class MissingQtTexts : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                    int /*n*/) const override {
    if (context == nullptr || sourceText == nullptr) return {};
    for (const Missing& text : kMissing) {
      if (std::strcmp(context, text.context) == 0 && std::strcmp(sourceText, text.english) == 0) {
        return QString::fromUtf8(text.chinese);
      }
    }
    // Empty: Qt asks the next translator, then keeps its English text.
    return {};
  }
};

}  // namespace

QString QtTranslationsFolder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

QTranslator* LoadQtTranslations(QCoreApplication& app, const QString& folder) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QString::fromLatin1(kQtCatalogue), folder) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  // Owned by Qt's catalogue, so both go together; asked first, as the later one.
  QCoreApplication::installTranslator(new MissingQtTexts(translator));
  return translator;
}

}  // namespace tessaro::gui
