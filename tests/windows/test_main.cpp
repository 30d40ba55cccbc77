// The Windows tests' program. Some cases start it again as a helper process:
//   --hold-open PATH MODE READY RELEASE   keeps a file open (win_test_support.h)
//   --load-skin [FOLDER]                  the skin step of start-up; exit 1 if
//                                         the library was called, 0 if not

#include <gtest/gtest.h>

#include <string>

#include "win32/skin.h"
#include "win_test_support.h"

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wstring(argv[1]) == L"--hold-open") {
    return tessaro::wintest::RunFileHolder(argc, argv);
  }
  if (argc >= 2 && std::wstring(argv[1]) == L"--load-skin") {
    if (argc >= 3) SetDllDirectoryW(argv[2]);
    return tessaro::win32::LoadSkin() ? 1 : 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
