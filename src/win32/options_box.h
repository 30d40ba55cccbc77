#pragma once
// The options box: dialog template 103, shown modally over its owner.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "app/recovery_options.h"

namespace tessaro::win32 {

// Shows `options`; true, with `options` as the user left them, on "确定".
bool ShowOptionsBox(HINSTANCE instance, HWND owner, RecoveryOptions& options);

}  // namespace tessaro::win32
