// tessaro.exe: the window. Start-up in the order the program has always had:
// the controls, the skin, then the main dialog, run modally; when it closes,
// the program ends.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>

#include "app/main_dialog.h"
#include "win32/skin.h"
#include "win32/win32_dialog_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls,
                                ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  tessaro::win32::LoadSkin();

  tessaro::win32::Win32DialogWindow window(instance);
  tessaro::MainDialog dialog(window);  // reads tessaro.cfg from the current directory
  dialog.UseSettingsFolder(tessaro::UserSettingsFolder());
  window.Run(dialog);
  return 0;
}
