# Turns a text file into a C++ header holding its bytes as a character array,
# so a resource ships inside the program: cmake -DNAME=kName -DINPUT=file
# -DOUTPUT=header.h -P embed_text.cmake. The array ends in a NUL; the text
# itself is every byte of the file (its last line break included).
file(READ "${INPUT}" bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
# One line of the array for each line of the text.
string(REPLACE "'\\x0a'," "'\\x0a',\n  " bytes "${bytes}")
get_filename_component(source "${INPUT}" NAME)
file(WRITE "${OUTPUT}.new"
  "// Made at build time from ${source}; do not edit.\n#pragma once\n\n"
  "inline constexpr char ${NAME}[] = {\n  ${bytes}'\\0'};\n")
# Rewritten only when it changes, so what includes it is not rebuilt for nothing.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
