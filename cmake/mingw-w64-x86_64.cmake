# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix-threads
# flavour, so std::thread works), tested under Wine.
#
#   cmake -S . -B /work/build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Everything is linked statically: the programs run from a copied folder or a
# zip without any MinGW runtime DLL beside them.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSARO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSARO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSARO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSARO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSARO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Listing the tests of a program needs Wine; do it when the tests run, not as
# a build step, so building needs no Wine at all.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# The Windows parts of the build (GoogleTest from source, the window, the
# Windows tests, the release zip) join right after the project is declared.
set(CMAKE_PROJECT_Tessaro_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/windows.cmake)
