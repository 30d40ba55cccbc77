# The Windows parts of the build, included right after project(Tessaro) by the
# mingw-w64 toolchain file.

if(NOT WIN32)
  return()
endif()

# The resource scripts of the window and the command line.
enable_language(RC)

# The window is the native one here; Qt is not part of the Windows build.
set(TESSARO_BUILD_GUI OFF CACHE BOOL "Build the Qt window" FORCE)
set(TESSARO_BUILD_BENCH OFF CACHE BOOL "Build the micro-benchmarks" FORCE)

# Test programs run under Wine in the build's own prefix, made on first use.
set(TESSARO_WINEPREFIX ${CMAKE_BINARY_DIR}/wine CACHE PATH "Wine prefix of the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh --prefix=${TESSARO_WINEPREFIX})

# Debian ships GoogleTest for the build machine only; build it from its
# sources for Windows. The stub package config lets the tests' plain
# find_package(GTest) take these targets.
# (The project's own options are declared after this file runs.)
if((NOT DEFINED TESSARO_BUILD_TESTS OR TESSARO_BUILD_TESTS) AND NOT TARGET GTest::gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
  set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/gtest-from-source CACHE PATH "" FORCE)
endif()

# Paths handed to the Windows programs, in the spelling they understand
# (under Wine the build machine's "/" is drive Z:).
function(tessaro_windows_path out path)
  if(path MATCHES "^/")
    set(path "Z:${path}")
  endif()
  string(REPLACE "/" "\\\\" path "${path}")
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

# The command line's manifest (UTF-8 arguments, long paths) joins its target
# once that is declared.
function(tessaro_windows_cli_manifest)
  if(TARGET tessaro-cli)
    # The manifest names the version: it is made from the project's version.
    set(generated ${PROJECT_BINARY_DIR}/resources/windows)
    configure_file(${PROJECT_SOURCE_DIR}/resources/windows/tessaro-cli.exe.manifest
                   ${generated}/tessaro-cli.exe.manifest @ONLY)
    set(rc ${PROJECT_SOURCE_DIR}/resources/windows/tessaro-cli.rc)
    target_sources(tessaro-cli PRIVATE ${rc})
    set_source_files_properties(${rc} TARGET_DIRECTORY tessaro-cli PROPERTIES
      COMPILE_OPTIONS "-I${generated}"
      OBJECT_DEPENDS ${generated}/tessaro-cli.exe.manifest)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL tessaro_windows_cli_manifest)
