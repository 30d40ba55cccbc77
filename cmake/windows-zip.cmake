# Makes the release zip of the Windows programs:
#   cmake -DSTAGE=dir -DZIP=file.zip -DFILES="a;b;..." [-DOPTIONAL="c;d"] [-DSTRIP=strip]
#         -P windows-zip.cmake
# Every file of FILES must exist; OPTIONAL ones go in when they do. All go
# flat into one folder named after the zip, so unpacked the window finds
# tessaro.cfg, help.chm and the skin in its own folder, where Explorer
# starts it.

get_filename_component(folder ${ZIP} NAME_WE)
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/${folder})
foreach(file IN LISTS FILES)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "the zip needs ${file}")
  endif()
  file(COPY ${file} DESTINATION ${STAGE}/${folder})
endforeach()
foreach(file IN LISTS OPTIONAL)
  if(EXISTS ${file})
    file(COPY ${file} DESTINATION ${STAGE}/${folder})
  else()
    message(STATUS "not in the zip (not built here): ${file}")
  endif()
endforeach()
# Debugging information stays in the build tree.
if(STRIP)
  file(GLOB programs ${STAGE}/${folder}/*.exe)
  foreach(program IN LISTS programs)
    execute_process(COMMAND ${STRIP} --strip-debug ${program} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "could not strip ${program}")
    endif()
  endforeach()
endif()
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip -- ${folder}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not write ${ZIP}")
endif()
