#pragma once
// The program's icon (icon 128): the window, its task-bar entry and the About box.

#include <QIcon>

namespace tessaro::gui {

// The size an icon control of a template is drawn at.
inline constexpr int kDialogIconSize = 32;

// Every size drawn for the icon, 16 to 256 pixels.
QIcon ProgramIcon();

}  // namespace tessaro::gui
