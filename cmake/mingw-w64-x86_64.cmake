# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 against the zlib, Qt and QuaZip
# that tools/windows/toolchain.sh builds into its cache:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# HALCYON_MINGW_PREFIX names another such tree; by default the script names its cache.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model: QtTest and the Qt build in the cache use std::mutex and friends.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT HALCYON_MINGW_PREFIX)
  execute_process(
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../tools/windows/toolchain.sh --print-prefix
    OUTPUT_VARIABLE HALCYON_MINGW_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE prefix_result)
  if(NOT prefix_result EQUAL 0)
    message(FATAL_ERROR "tools/windows/toolchain.sh --print-prefix failed")
  endif()
  if(NOT EXISTS ${HALCYON_MINGW_PREFIX}/halcyon-toolchain.txt)
    message(FATAL_ERROR "No complete cache in ${HALCYON_MINGW_PREFIX}: build it with tools/windows/toolchain.sh")
  endif()
  set(HALCYON_MINGW_PREFIX ${HALCYON_MINGW_PREFIX} CACHE PATH "zlib, Qt and QuaZip built for MinGW-w64")
endif()
# try_compile projects read this file again without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HALCYON_MINGW_PREFIX)

# Libraries, headers and packages only from the cache and the MinGW sysroot; tools (moc,
# rcc, uic in the cache's bin/) run on the build machine.
set(CMAKE_FIND_ROOT_PATH ${HALCYON_MINGW_PREFIX} /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the test programs under Wine, in a Wine prefix of the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_CURRENT_LIST_DIR}/../tools/windows/wine-test.sh
    --prefix ${HALCYON_MINGW_PREFIX} --wineprefix ${CMAKE_BINARY_DIR}/wineprefix)
