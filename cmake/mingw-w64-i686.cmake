# 32-bit x86 Windows (PE32), the DLL that station hosts load.
# Needs Debian's g++-mingw-w64-i686-posix; see mingw-w64-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZARVO_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
