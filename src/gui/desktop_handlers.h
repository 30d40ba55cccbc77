#pragma once
// Whether the desktop has a program for a kind of file, decided as the
// desktop's own launchers (xdg-open, file managers) decide it: from the
// installed desktop entries and the mimeapps.list files of the freedesktop.org
// "MIME applications" rules.
//
// The help menu asks this before it hands help.chm to the desktop: where no
// program reads compiled help (most Linux systems), the launch would fail
// without a word, so the window opens the same help as HTML pages instead.

#include <QString>
#include <QStringList>

namespace tessaro::gui {

// Where a desktop keeps its associations, most important first.
struct DesktopFolders {
  QStringList config;        // $XDG_CONFIG_HOME, then $XDG_CONFIG_DIRS
  QStringList applications;  // $XDG_DATA_HOME/applications, then $XDG_DATA_DIRS/applications
  QStringList desktops;      // $XDG_CURRENT_DESKTOP in lower case: their own mimeapps lists

  // The folders of this session.
  static DesktopFolders OfThisSession();
};

// True when an installed application opens files of one of `mimeTypes` (a
// type and its aliases): a default or an added association that names an
// installed application, or an application that lists the type, unless the
// user took that association off.
bool DesktopHasHandler(const QStringList& mimeTypes, const DesktopFolders& folders);

// DesktopHasHandler for the type of the file at `path` (by its name, then its
// content), in this session.
bool DesktopHasHandlerFor(const QString& path);

}  // namespace tessaro::gui
