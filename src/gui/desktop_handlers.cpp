#include "gui/desktop_handlers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QMimeDatabase>
#include <QSet>
#include <QStandardPaths>

namespace tessaro::gui {

namespace {

// Desktop entries and association lists are a few kilobytes; a file far
// larger is none of them, and is not read whole on a click of the menu.
constexpr qint64 kLargestKeyFile = 1 << 20;

// The groups of a key file ("[Desktop Entry]", "[Added Associations]") with
// their keys and values.
using KeyGroup = QHash<QString, QString>;

QHash<QString, KeyGroup> ReadKeyFile(const QString& path) {
  QHash<QString, KeyGroup> groups;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestKeyFile) return groups;
  KeyGroup* group = nullptr;
  for (const QByteArray& raw : file.readAll().split('\n')) {
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    if (line.startsWith('[') && line.endsWith(']')) {
      group = &groups[line.mid(1, line.size() - 2)];
      continue;
    }
    const qsizetype equals = line.indexOf('=');
    // Keys before the first group belong to none, as the format has it.
    if (group == nullptr || equals <= 0) continue;
    group->insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
  }
  return groups;
}

QStringList SplitList(const QString& value) { return value.split(';', Qt::SkipEmptyParts); }

// An installed desktop entry: whether it may be started, and the types it opens.
struct Entry {
  bool usable = false;
  QStringList types;
};

// The entries by desktop-file id ("kde-okular.desktop" for kde/okular.desktop);
// an id found in a more important folder hides the same id further on.
QHash<QString, Entry> ReadEntries(const QStringList& applicationFolders) {
  QHash<QString, Entry> entries;
  for (const QString& folder : applicationFolders) {
    const QDir root(folder);
    QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      QString id = root.relativeFilePath(path);
      id.replace('/', '-');
      if (entries.contains(id)) continue;
      const KeyGroup group = ReadKeyFile(path).value(QStringLiteral("Desktop Entry"));
      Entry entry;
      // A hidden entry stands for a deleted one (how a user takes a system
      // program off their menus and associations).
      entry.usable = group.value(QStringLiteral("Hidden")) != QStringLiteral("true") &&
                     group.value(QStringLiteral("Type"), QStringLiteral("Application")) ==
                         QStringLiteral("Application");
      entry.types = SplitList(group.value(QStringLiteral("MimeType")));
      entries.insert(id, entry);
    }
  }
  return entries;
}

}  // namespace

DesktopFolders DesktopFolders::OfThisSession() {
  DesktopFolders folders;
  folders.config = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
  folders.applications = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
  for (const QString& desktop : qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(':', Qt::SkipEmptyParts)) {
    folders.desktops << desktop.toLower();
  }
  return folders;
}

bool DesktopHasHandler(const QStringList& mimeTypes, const DesktopFolders& folders) {
  const QHash<QString, Entry> entries = ReadEntries(folders.applications);
  auto installed = [&](const QString& id) {
    auto it = entries.constFind(id);
    return it != entries.constEnd() && it->usable;
  };
  QStringList listNames;
  for (const QString& desktop : folders.desktops) listNames << desktop + QStringLiteral("-mimeapps.list");
  listNames << QStringLiteral("mimeapps.list");

  // The lists, most important first. A removal in one list takes the
  // association off for the lists after it and for the entries themselves.
  QSet<QString> removed;
  for (const QString& folder : folders.config + folders.applications) {
    for (const QString& name : listNames) {
      const QHash<QString, KeyGroup> lists = ReadKeyFile(QDir(folder).filePath(name));
      if (lists.isEmpty()) continue;
      for (const QString& type : mimeTypes) {
        for (const QString& id : SplitList(lists.value(QStringLiteral("Default Applications")).value(type))) {
          if (installed(id)) return true;
        }
        for (const QString& id : SplitList(lists.value(QStringLiteral("Added Associations")).value(type))) {
          if (installed(id) && !removed.contains(id)) return true;
        }
      }
      for (const QString& type : mimeTypes) {
        for (const QString& id : SplitList(lists.value(QStringLiteral("Removed Associations")).value(type))) {
          removed.insert(id);
        }
      }
    }
  }
  for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
    if (!it->usable || removed.contains(it.key())) continue;
    for (const QString& type : mimeTypes) {
      if (it->types.contains(type)) return true;
    }
  }
  return false;
}

bool DesktopHasHandlerFor(const QString& path) {
  const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
  QStringList names{type.name()};
  names += type.aliases();
  return DesktopHasHandler(names, DesktopFolders::OfThisSession());
}

}  // namespace tessaro::gui
