#include "gui/skin.h"

#include <QApplication>
#include <QFile>

namespace tessaro::gui {

namespace {
// A style sheet is a few kilobytes; anything far larger is not one of ours.
constexpr qint64 kLargestSkin = 1 << 20;
}  // namespace

bool LoadSkin(QApplication& app, const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  if (file.size() > kLargestSkin) return false;
  QByteArray bytes = file.read(kLargestSkin + 1);
  if (bytes.size() > kLargestSkin || bytes.contains('\0')) return false;
  QString sheet = QString::fromUtf8(bytes);
  // Invalid UTF-8 turns into replacement characters: such a file is no text we wrote.
  if (sheet.contains(QChar::ReplacementCharacter)) return false;
  app.setStyleSheet(sheet);
  return true;
}

}  // namespace tessaro::gui
