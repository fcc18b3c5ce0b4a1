# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 against the zlib, Qt and QuaZip
# that tools/windows/toolchain.sh builds into its cache, and the libdeflate that
# tools/windows/libdeflate.sh builds into a cache of its own:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# HALCYON_MINGW_PREFIX and HALCYON_LIBDEFLATE_PREFIX name other such trees; by default the
# scripts name their caches.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model: QtTest and the Qt build in the cache use std::mutex and friends.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# halcyon_cache_prefix(VARIABLE SCRIPT STAMP DESCRIPTION): the cache that SCRIPT builds,
# unless VARIABLE is set; it must be complete (hold STAMP).
set(halcyon_windows_tools ${CMAKE_CURRENT_LIST_DIR}/../tools/windows)
function(halcyon_cache_prefix variable script stamp description)
  if(NOT "${${variable}}" STREQUAL "")
    return()
  endif()
  execute_process(
    COMMAND bash ${halcyon_windows_tools}/${script} --print-prefix
    OUTPUT_VARIABLE prefix OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE prefix_result)
  if(NOT prefix_result EQUAL 0)
    message(FATAL_ERROR "tools/windows/${script} --print-prefix failed")
  endif()
  if(NOT EXISTS ${prefix}/${stamp})
    message(FATAL_ERROR "No complete cache in ${prefix}: build it with tools/windows/${script}")
  endif()
  set(${variable} ${prefix} CACHE PATH "${description}")
endfunction()
halcyon_cache_prefix(HALCYON_MINGW_PREFIX toolchain.sh halcyon-toolchain.txt "zlib, Qt and QuaZip built for MinGW-w64")
halcyon_cache_prefix(HALCYON_LIBDEFLATE_PREFIX libdeflate.sh halcyon-libdeflate.txt "libdeflate built for MinGW-w64")
# try_compile projects read this file again without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HALCYON_MINGW_PREFIX HALCYON_LIBDEFLATE_PREFIX)

# Libraries, headers and packages only from the cache and the MinGW sysroot; tools (moc,
# rcc, uic in the cache's bin/) run on the build machine.
set(CMAKE_FIND_ROOT_PATH ${HALCYON_MINGW_PREFIX} ${HALCYON_LIBDEFLATE_PREFIX} /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the test programs under Wine, in a Wine prefix of the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_CURRENT_LIST_DIR}/../tools/windows/wine-test.sh
    --prefix ${HALCYON_MINGW_PREFIX} --wineprefix ${CMAKE_BINARY_DIR}/wineprefix)
