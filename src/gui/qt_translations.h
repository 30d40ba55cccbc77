#pragma once
// Qt's own texts in the window's language: the buttons of the message boxes
// and Qt's folder browser ("Look in", "Choose", "Cancel") come from Qt, not
// from this program, and are English unless Qt's translations are loaded.

#include <QString>

class QCoreApplication;
class QTranslator;

namespace tessaro::gui {

// Where this Qt keeps its translations (Debian: qt6-translations-l10n).
QString QtTranslationsFolder();

// Loads Qt's Chinese texts from `folder` into `app`, which owns them from
// then on, with the few that Qt's catalogue lacks. Null, and nothing changed,
// where they are not installed: Qt's texts then stay English and everything
// else works as before. Deleting the translator returned takes the texts off
// again.
QTranslator* LoadQtTranslations(QCoreApplication& app, const QString& folder = QtTranslationsFolder());

}  // namespace tessaro::gui
