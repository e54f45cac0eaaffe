# Cross-compiling dirlog.exe for 64-bit Windows with the mingw-w64 compilers
# (Debian: g++-mingw-w64-x86-64-posix). Use:
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
# Built programs run here through Wine, when it is installed, so that CTest
# and gtest_discover_tests can start them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DIRLOG_MINGW_TRIPLE x86_64-w64-mingw32)

# The posix flavour has std::thread and friends, which GoogleTest uses; the
# win32 flavour lacks them in this GCC.
find_program(CMAKE_C_COMPILER NAMES ${DIRLOG_MINGW_TRIPLE}-gcc-posix ${DIRLOG_MINGW_TRIPLE}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DIRLOG_MINGW_TRIPLE}-g++-posix ${DIRLOG_MINGW_TRIPLE}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DIRLOG_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DIRLOG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Nothing travels with the .exe: the C++ runtime, libgcc and the threads
# library (winpthread, which the posix flavour brings in) are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(DIRLOG_WINE NAMES wine wine64)
if(DIRLOG_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DIRLOG_WINE})
endif()
