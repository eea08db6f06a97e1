# Cross build for 64-bit Windows with Debian's MinGW-w64 (the POSIX thread
# flavour, for std::thread): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and the demo run under Wine (Debian's 64-bit loader itself: the
# "wine" script would warn on every run that the 32-bit half is missing).
find_program(BORVANTEL_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(BORVANTEL_WINE NAMES wine64 wine)
if(BORVANTEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BORVANTEL_WINE})
endif()
