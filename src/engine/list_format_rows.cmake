# Gathers the rows of the checker files into one list, so that no row is
# forgotten and none is dropped by the linker: a row is a line beginning
# "extern const FormatRow k...Row{" in src/engine/formats/*.cpp.
# Called at build time with -DOUTPUT=<file> -DSOURCES=<list separated by |>.
string(REPLACE "|" ";" sources "${SOURCES}")
set(rows)
foreach(source IN LISTS sources)
  file(STRINGS "${source}" lines REGEX "^extern const FormatRow k[A-Za-z0-9]+Row[{]")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^extern const FormatRow (k[A-Za-z0-9]+Row)[{].*$" "\\1" row "${line}")
    list(APPEND rows ${row})
  endforeach()
endforeach()
list(SORT rows)
set(text "// Made by src/engine/list_format_rows.cmake from the checker files: do not edit.\n\n")
string(APPEND text "#include \"engine/formats/format_row.h\"\n\nnamespace tessaro::formats {\n\n")
foreach(row IN LISTS rows)
  string(APPEND text "extern const FormatRow ${row};\n")
endforeach()
string(APPEND text "\nnamespace {\n\nconst FormatRow* const kRows[] = {\n")
foreach(row IN LISTS rows)
  string(APPEND text "    &${row},\n")
endforeach()
string(APPEND text "};\n\n}  // namespace\n\nstd::span<const FormatRow* const> FormatRows() { return kRows; }\n\n}  // namespace tessaro::formats\n")
# Written only when it changed, so that an edit elsewhere in a checker file
# does not rebuild the list.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
