# 64-bit Windows (PE32+), the build our tests load under wine.
# Needs Debian's g++-mingw-w64-x86-64-posix; see mingw-w64-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZARVO_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
