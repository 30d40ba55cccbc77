// The library's export 3 takes the skin file's name as a narrow text and a
// flag. Its name is plain ASCII, so the code page does not matter.

#include "win32/skin.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>


namespace tessaro::win32 {

bool LoadSkin() {
  // A missing or unusable library (a 32-bit build cannot load into this
  // 64-bit program) must not bring up a system error box.
  DWORD previous = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
  HMODULE library = LoadLibraryW(L"SkinPPWTL.dll");
  SetThreadErrorMode(previous, nullptr);
  if (library == nullptr) return false;
  using LoadSkinFn = int(WINAPI*)(char* skinFile, int fromResource);
  auto load = reinterpret_cast<LoadSkinFn>(
      reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(3))));
  if (load == nullptr) {
    FreeLibrary(library);
    return false;
  }
  char skinFile[] = "xp_corona.ssk";  // kSkinFile, writable as the export wants it
  load(skinFile, 0);
  // The library stays loaded: the skin it installed lives in it.
  return true;
}

}  // namespace tessaro::win32
