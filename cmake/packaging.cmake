# Installation and packages: a .deb on Linux, a .zip on Windows. Both take
# their version from HIVEDUMP_VERSION_TEXT, the one the banner shows.

if(WIN32)
  # A Windows user unpacks one folder: the program with its README and
  # licence beside it, no bin/ subfolder to look for.
  set(hivedump_program_dir .)
else()
  set(hivedump_program_dir bin)
endif()
install(TARGETS hivedump RUNTIME DESTINATION ${hivedump_program_dir})

if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${hivedump_program_dir})
else()
  set(hivedump_manual ${PROJECT_SOURCE_DIR}/doc/hivedump.1)
  find_program(HIVEDUMP_GZIP gzip)
  if(HIVEDUMP_GZIP)
    # Manual pages are kept compressed; -n leaves out the name and time so
    # that the same page always gives the same bytes.
    set(hivedump_manual_gz ${CMAKE_CURRENT_BINARY_DIR}/doc/hivedump.1.gz)
    add_custom_command(
      OUTPUT ${hivedump_manual_gz}
      COMMAND ${CMAKE_COMMAND} -E copy ${hivedump_manual} ${CMAKE_CURRENT_BINARY_DIR}/doc/hivedump.1
      COMMAND ${HIVEDUMP_GZIP} -9 -n -f ${CMAKE_CURRENT_BINARY_DIR}/doc/hivedump.1
      DEPENDS ${hivedump_manual}
      COMMENT "Compressing the manual page"
      VERBATIM)
    add_custom_target(hivedump_manual ALL DEPENDS ${hivedump_manual_gz})
    install(FILES ${hivedump_manual_gz} DESTINATION share/man/man1)
  else()
    install(FILES ${hivedump_manual} DESTINATION share/man/man1)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/doc/hivedump RENAME copyright)
endif()

set(CPACK_PACKAGE_NAME hivedump)
set(CPACK_PACKAGE_VERSION ${HIVEDUMP_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "the HIVEDUMP authors")
set(CPACK_PACKAGE_CONTACT "HIVEDUMP authors <maintainers@users.noreply.c-seed-965a5ee6.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "export a registry key and its subkeys to a REGEDIT4 file")
# Kept in short lines: the .deb control file shows them as they are.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "hivedump writes one registry key, with all of its values and every key"
  "below it, into a text file in the registry editor's REGEDIT4 export format."
  "On Linux it reads the registry files of a Wine prefix directly, without"
  "running Wine, and writes the same bytes that the Windows program writes"
  "under Wine. It only reads the registry and never changes it.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME hivedump-${HIVEDUMP_VERSION_TEXT}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME hivedump-${HIVEDUMP_VERSION_TEXT}-win64)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The C and C++ runtime dependencies come from dpkg-shlibdeps (dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
