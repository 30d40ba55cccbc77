# Compiles help.chm: cmake -DSOURCE=... -DWORK=... -DCHMCMD=... [-DICONV=...] -DOUTPUT=...
#                          -DTESSARO_VERSION=... -P build_help.cmake
#
# The pages are UTF-8 and say so. The project, contents and index files are
# read by help viewers in the code page of the help file's language (Chinese,
# PRC: GB18030), so they are converted when iconv is there.

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(GLOB pages ${SOURCE}/*.html ${SOURCE}/*.css)
foreach(page ${pages})
  # The pages name the version (@TESSARO_VERSION@).
  get_filename_component(name ${page} NAME)
  configure_file(${page} ${WORK}/${name} @ONLY)
endforeach()
file(GLOB pictures ${SOURCE}/*.png)
foreach(picture ${pictures})
  get_filename_component(name ${picture} NAME)
  configure_file(${picture} ${WORK}/${name} COPYONLY)
endforeach()
file(GLOB project_files ${SOURCE}/*.hhp ${SOURCE}/*.hhc ${SOURCE}/*.hhk)
foreach(file ${project_files})
  get_filename_component(name ${file} NAME)
  set(converted FALSE)
  if(ICONV)
    execute_process(COMMAND ${ICONV} -f UTF-8 -t GB18030 ${file}
                    OUTPUT_FILE ${WORK}/${name} RESULT_VARIABLE rc)
    if(rc EQUAL 0)
      set(converted TRUE)
    endif()
  endif()
  if(NOT converted)
    file(COPY ${file} DESTINATION ${WORK})
  endif()
endforeach()
execute_process(COMMAND ${CHMCMD} --verbosity 1 tessaro.hhp
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/help.chm)
  message(FATAL_ERROR "chmcmd failed:\n${out}")
endif()
file(COPY_FILE ${WORK}/help.chm ${OUTPUT} ONLY_IF_DIFFERENT)
