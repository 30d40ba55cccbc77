#include "gui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tessaro::gui {

namespace {
// The window speaks Simplified Chinese whatever the system's language, so
// Qt's texts follow the window, not the system. qtbase holds every text of
// the widgets and dialogs the window uses.
constexpr const char* kQtCatalogue = "qtbase_zh_CN";
}  // namespace

QString QtTranslationsFolder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

QTranslator* LoadQtTranslations(QCoreApplication& app, const QString& folder) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QString::fromLatin1(kQtCatalogue), folder) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

}  // namespace tessaro::gui
