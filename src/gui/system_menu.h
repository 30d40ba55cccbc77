#pragma once
// The system menu's "About Tessaro(&A)..." item (string 101, command 16).
//
// Only Windows gives a window a system menu of the program's own; under X11
// and Wayland the window manager owns that menu, and the About box is reached
// through "内容" > "关于".

#include <QByteArray>

class QWidget;

namespace tessaro::gui {

// Appends a separator and the About item to `window`'s system menu, where
// there is one; does nothing elsewhere.
void AppendAboutToSystemMenu(QWidget* window);

// True when the native `message` is a system-menu command of ours, with its
// id (masked as the system masks it) in `command`.
bool IsSystemMenuCommand(const QByteArray& eventType, void* message, unsigned& command);

}  // namespace tessaro::gui
