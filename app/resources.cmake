# Images, Windows resources and desktop integration of the halcyon executable.
# Included by app/CMakeLists.txt; sets
#   HALCYON_QRC         the resource collection (embedded images, window icon)
#   HALCYON_WINDOWS_RC  the Windows resource script (icon group IDI_ICON1, manifest)
# and registers the check of the Windows resources when MinGW's windres is there.
# The pictures come from tools/imagegen/generate.sh and are committed as they are.

set(HALCYON_QRC ${CMAKE_CURRENT_LIST_DIR}/resources.qrc)
set(HALCYON_WINDOWS_RC ${CMAKE_CURRENT_LIST_DIR}/windows/halcyon.rc)

# Format 2 keeps modification times and is read by every Qt 5; newer rcc default to 3.
if(Qt5Core_VERSION VERSION_GREATER_EQUAL 5.13)
  set_source_files_properties(${HALCYON_QRC} PROPERTIES AUTORCC_OPTIONS "--format-version;2")
endif()

if(BUILD_TESTING)
  find_program(HALCYON_WINDRES x86_64-w64-mingw32-windres)
  if(HALCYON_WINDRES)
    add_test(NAME windowsresources
      COMMAND bash ${PROJECT_SOURCE_DIR}/tools/check-windows-resources.sh
              ${HALCYON_WINDRES} ${CMAKE_CURRENT_BINARY_DIR}/windowsresources)
    set_tests_properties(windowsresources PROPERTIES LABELS app)
  else()
    message(STATUS "x86_64-w64-mingw32-windres not found (binutils-mingw-w64-x86-64): Windows resources go unchecked")
  endif()
endif()

if(UNIX AND NOT APPLE)
  include(GNUInstallDirs)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/halcyon.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/hicolor/${size}x${size}/apps/halcyon.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()
