# Shared part of the MinGW-w64 toolchain files; the caller sets ZARVO_MINGW_TRIPLET.
#
# Debian ships each MinGW-w64 compiler in two thread models. We use "posix"
# deliberately: GCC 12's "win32" model has no std::thread, std::mutex or
# std::condition_variable, so code that builds and passes on Linux (the
# driver promises parallel calls for different lines) would not build for
# Windows. The posix model's winpthreads is linked statically like libgcc and
# libstdc++, so the DLL still imports nothing but Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZARVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZARVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZARVO_MINGW_TRIPLET}-windres)
# The "-posix" suffix hides the binutils prefix from CMake's own search.
foreach(tool AR RANLIB OBJDUMP OBJCOPY STRIP NM)
  string(TOLOWER ${tool} name)
  find_program(CMAKE_${tool} ${ZARVO_MINGW_TRIPLET}-${name} REQUIRED)
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${ZARVO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLLs of the compiler: libgcc, libstdc++ and winpthreads go inside
# the DLL. Test hosts link the way g++ links by default, against the runtime
# DLLs, as a host author's program would.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
