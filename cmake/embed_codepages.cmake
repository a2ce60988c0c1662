# Turns the code page tables (pairs of little-endian 16-bit numbers: a UTF-16
# code unit and the ANSI bytes it becomes, measured under wine64 by
# tools/codepage_dump.c; tools/regenerate.sh makes them again) into a source
# file compiled into the program.
function(hivedump_embed_codepages output)
  file(GLOB tables ${CMAKE_CURRENT_SOURCE_DIR}/src/wine/codepages/*.bin)
  set(body "// Generated from src/wine/codepages; do not edit.\n#include \"wine/code_page_tables.h\"\n\nnamespace hivedump::wine::code_page_tables {\n")
  set(list "")
  foreach(table ${tables})
    get_filename_component(number ${table} NAME_WE)
    file(READ ${table} hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
    string(APPEND body "static const unsigned char table_${number}[] = {${hex}};\n")
    string(APPEND list "    {${number}, table_${number}, sizeof table_${number}},\n")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
  endforeach()
  string(APPEND body "\nconst Table tables[] = {\n${list}};\nconst std::size_t table_count = sizeof tables / sizeof tables[0];\n\n} // namespace hivedump::wine::code_page_tables\n")
  file(WRITE ${output}.new "${body}")
  file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
endfunction()
