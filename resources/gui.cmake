# The window's files beside the catalogue in share/tessaro: the skin, the
# help file and its pages, so the program in the build tree finds them when started there.
# Included by src/gui once the window is built.

set(TESSARO_SHARE_BUILD_DIR ${PROJECT_BINARY_DIR}/share/tessaro)

configure_file(${PROJECT_SOURCE_DIR}/resources/skin/xp_corona.ssk
               ${TESSARO_SHARE_BUILD_DIR}/xp_corona.ssk COPYONLY)

# help.chm from the HTML sources, compiled by chmcmd (Debian package fp-utils).
# Without chmcmd the build goes on without a help file; the program then says
# "Cann't find help file help.chm" when asked for it.
find_program(TESSARO_CHMCMD chmcmd)
find_program(TESSARO_ICONV iconv)
set(help_src ${PROJECT_SOURCE_DIR}/resources/help)

# The same help as HTML pages in help/ beside help.chm: where the desktop has
# no program for .chm files (most Linux systems), the window opens
# help/index.html in the browser instead. The installation (packaging/) finds
# them through TESSARO_HELP_PAGES.
# The pages name the version (@TESSARO_VERSION@): they are made from the
# project's version.
file(GLOB help_pages CONFIGURE_DEPENDS ${help_src}/*.html ${help_src}/*.css)
set(built_pages)
foreach(page ${help_pages})
  get_filename_component(name ${page} NAME)
  configure_file(${page} ${TESSARO_SHARE_BUILD_DIR}/help/${name} @ONLY)
  list(APPEND built_pages ${TESSARO_SHARE_BUILD_DIR}/help/${name})
endforeach()
# Their pictures, as they are.
file(GLOB help_pictures CONFIGURE_DEPENDS ${help_src}/*.png)
foreach(picture ${help_pictures})
  get_filename_component(name ${picture} NAME)
  configure_file(${picture} ${TESSARO_SHARE_BUILD_DIR}/help/${name} COPYONLY)
  list(APPEND built_pages ${TESSARO_SHARE_BUILD_DIR}/help/${name})
endforeach()
set(TESSARO_HELP_PAGES ${built_pages} CACHE INTERNAL "")
file(GLOB help_sources CONFIGURE_DEPENDS ${help_src}/*.html ${help_src}/*.css ${help_src}/*.png
     ${help_src}/*.hhp ${help_src}/*.hhc ${help_src}/*.hhk)
# The installation (packaging/) finds the compiled file through TESSARO_HELP_FILE.
if(TESSARO_CHMCMD)
  set(TESSARO_HELP_FILE ${TESSARO_SHARE_BUILD_DIR}/help.chm CACHE INTERNAL "")
  add_custom_command(
    OUTPUT ${TESSARO_HELP_FILE}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${help_src} -DWORK=${CMAKE_CURRENT_BINARY_DIR}/help
            -DCHMCMD=${TESSARO_CHMCMD} -DICONV=${TESSARO_ICONV} -DOUTPUT=${TESSARO_HELP_FILE}
            -DTESSARO_VERSION=${TESSARO_VERSION}
            -P ${help_src}/build_help.cmake
    DEPENDS ${help_sources} ${help_src}/build_help.cmake
    COMMENT "Compiling help.chm"
    VERBATIM)
  add_custom_target(help_chm ALL DEPENDS ${TESSARO_HELP_FILE})
else()
  message(STATUS "chmcmd not found (Debian package fp-utils): help.chm is not built")
  set(TESSARO_HELP_FILE "" CACHE INTERNAL "")
endif()
