#pragma once
// The optional skin: the skinning library SkinPPWTL.dll, when the user has it
// beside the program or on the search path, is handed the skin file before
// the main window is created. The library is not part of this program and is
// never shipped with it; without it the window has the system's own look.

namespace tessaro::win32 {

// The skin file handed to the library, relative to the current directory.
inline constexpr const char* kSkinFile = "xp_corona.ssk";

// Loads the library and calls its export with ordinal 3 with kSkinFile and 0.
// Returns whether the library was there and the call was made; its result
// is not looked at, and start-up goes on either way.
bool LoadSkin();

}  // namespace tessaro::win32
