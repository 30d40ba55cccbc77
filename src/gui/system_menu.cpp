#include "gui/system_menu.h"

#include <QWidget>

#ifdef _WIN32
#include <windows.h>

#include "app/control_ids.h"
#include "resources/dialog_templates.h"
#endif

namespace tessaro::gui {

#ifdef _WIN32

void AppendAboutToSystemMenu(QWidget* window) {
  HMENU menu = ::GetSystemMenu(reinterpret_cast<HWND>(window->winId()), FALSE);
  if (menu == nullptr) return;
  QString text = QString::fromUtf8(templates::kAboutString);
  if (text.isEmpty()) return;
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, ids::kSysAbout, reinterpret_cast<LPCWSTR>(text.utf16()));
}

bool IsSystemMenuCommand(const QByteArray& eventType, void* message, unsigned& command) {
  if (eventType != "windows_generic_MSG") return false;
  const MSG* msg = static_cast<const MSG*>(message);
  if (msg->message != WM_SYSCOMMAND) return false;
  // The low four bits of a system command are the system's own.
  if ((msg->wParam & 0xFFF0) != static_cast<WPARAM>(ids::kSysAbout)) return false;
  command = static_cast<unsigned>(msg->wParam & 0xFFF0);
  return true;
}

#else

void AppendAboutToSystemMenu(QWidget*) {}

bool IsSystemMenuCommand(const QByteArray&, void*, unsigned&) { return false; }

#endif

}  // namespace tessaro::gui
