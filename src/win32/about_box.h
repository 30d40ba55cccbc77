#pragma once
// The About box: dialog template 100, shown modally over its owner.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tessaro::win32 {

// Returns when the box is closed ("确定" or Escape).
void ShowAboutBox(HINSTANCE instance, HWND owner);

}  // namespace tessaro::win32
