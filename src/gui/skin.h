#pragma once
// The skin: a Qt style sheet read from a file before the window is created.

#include <QString>

class QApplication;

namespace tessaro::gui {

// The skin file the program looks for in the current directory.
inline constexpr const char* kSkinFile = "xp_corona.ssk";

// Applies the style sheet in `path` to the whole program. A missing or
// unreadable file, or one that is not text (the binary skins of other
// skinning tools share the extension), is ignored: the program then keeps the
// system's look. True when the skin was applied.
bool LoadSkin(QApplication& app, const QString& path);

}  // namespace tessaro::gui
