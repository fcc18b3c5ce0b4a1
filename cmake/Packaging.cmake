# Debian package of the program: `cpack` (or the `package` target) in the build tree
# writes halcyon_<version>_<arch>.deb with what `cmake --install` puts in place.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halcyon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Halcyon maintainers")
set(CPACK_PACKAGE_CONTACT "Halcyon maintainers <maintainers@users.noreply.c-seed-2f1ab6e7.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended compression of database backup files")
# Debian wants the long description in lines short enough for a terminal.
set(CPACK_PACKAGE_DESCRIPTION "A small Qt desktop tool that writes every .bak file of a source directory
tree into a ZIP archive of its own in an output directory, at once or
every day at a set time.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME halcyon)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")

find_program(HALCYON_DPKG dpkg)
if(HALCYON_DPKG)
  execute_process(COMMAND ${HALCYON_DPKG} --print-architecture
    OUTPUT_VARIABLE HALCYON_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE arch_result)
  if(arch_result EQUAL 0 AND HALCYON_DEB_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${HALCYON_DEB_ARCH})
  endif()
endif()

# The window's Chinese labels need a CJK font; nothing links to it, so it is named by hand.
set(halcyon_font_depends "fonts-wqy-microhei")
find_program(HALCYON_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(HALCYON_FILE file)
if(HALCYON_DPKG_SHLIBDEPS AND HALCYON_FILE)
  # Versioned Depends on the Qt, QuaZip, libdeflate and C/C++ runtime packages, read from the binary.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${halcyon_font_depends}")
else()
  message(STATUS "dpkg-shlibdeps or file not found (dpkg-dev, file): the package's Depends are listed by hand")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libgcc-s1, libqt5core5a, libqt5gui5, libqt5widgets5, libquazip1-qt5-1, libdeflate0, ${halcyon_font_depends}")
endif()

# What Debian asks of every package: /usr/share/doc/<package>/copyright in its
# machine-readable format, the changelog and a manual page for the command, compressed so
# that their bytes do not depend on when they were built (gzip -9n).
if(UNIX AND NOT APPLE)
  include(GNUInstallDirs)
  set(halcyon_deb_doc ${PROJECT_BINARY_DIR}/debian)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${PROJECT_SOURCE_DIR}/app/man/halcyon.1)
  # The licence text from "Permission" on, as a copyright file's paragraph: indented by
  # one space, blank lines as " .".
  file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
  set(HALCYON_DEB_LICENSE "")
  set(in_text OFF)
  foreach(line IN LISTS license_lines)
    if(line MATCHES "^Permission ")
      set(in_text ON)
    endif()
    if(in_text)
      if(line STREQUAL "")
        set(line ".")
      endif()
      string(APPEND HALCYON_DEB_LICENSE " ${line}\n")
    endif()
  endforeach()
  string(REGEX REPLACE "\n$" "" HALCYON_DEB_LICENSE "${HALCYON_DEB_LICENSE}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${halcyon_deb_doc}/copyright @ONLY)
  file(MAKE_DIRECTORY ${halcyon_deb_doc})
  foreach(entry "${CMAKE_CURRENT_LIST_DIR}/debian/changelog changelog.gz" "${PROJECT_SOURCE_DIR}/app/man/halcyon.1 halcyon.1.gz")
    separate_arguments(entry)
    list(GET entry 0 source)
    list(GET entry 1 compressed)
    execute_process(COMMAND gzip -9n -c ${source} OUTPUT_FILE ${halcyon_deb_doc}/${compressed} RESULT_VARIABLE gzip_result)
    if(NOT gzip_result EQUAL 0)
      message(FATAL_ERROR "gzip failed on ${source}: ${gzip_result}")
    endif()
  endforeach()
  install(FILES ${halcyon_deb_doc}/copyright ${halcyon_deb_doc}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/halcyon)
  install(FILES ${halcyon_deb_doc}/halcyon.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

include(CPack)
