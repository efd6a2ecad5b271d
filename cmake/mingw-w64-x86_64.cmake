# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler (POSIX thread model), every
# program linked statically so that one .exe runs alone. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# GCC 12 reports a false -Wrestrict inside std::string's inlined copies when optimising for
# this target (an overlap of 2^63 bytes that no code can make); the native build has none.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")

# Debian's wine64 package keeps its loader out of PATH; the wine package adds a wrapper.
find_program(KIV_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KIV_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KIV_WINE})
endif()
