# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DKERG_BUILD_GUI=OFF -DKERG_BUILD_BENCH=OFF
# The programs link libstdc++, libgcc and winpthread statically, so they run under wine (or on
# Windows) without any DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KERG_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KERG_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KERG_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KERG_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KERG_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run through wine when CMake or CTest needs to start them.
find_program(KERG_WINE NAMES wine64 wine)
if(KERG_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KERG_WINE})
endif()

# -O2 rather than -O3 for Release: at -O3, GCC 12 reports a false -Wrestrict inside
# std::string's operator+ (GCC bug 105329), which -Werror would turn into a failed build.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
