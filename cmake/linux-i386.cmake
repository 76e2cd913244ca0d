# 32-bit x86 Linux under qemu-i386: the driver and its tests with the stdcall
# stack cleanup and x87 arithmetic of the 32-bit DLL. Executables link
# dynamically against Debian's multilib libraries (qemu-i386 runs them with
# /lib/ld-linux.so.2); the raw stack-cell test links statically by itself.
# Needs Debian's g++-multilib and qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
# Tests only: line tables serve their reports, and cost a third of full debug information.
set(CMAKE_C_FLAGS_RELWITHDEBINFO_INIT "-O2 -g1 -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO_INIT "-O2 -g1 -DNDEBUG")

find_program(ZARVO_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZARVO_QEMU_I386})

# The installed gtest libraries are 64-bit; tests/ builds them from source.
set(ZARVO_GTEST_SOURCE_DIR /usr/src/googletest)
