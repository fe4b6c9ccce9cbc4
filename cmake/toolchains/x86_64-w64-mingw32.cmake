# Cross build for 64-bit Windows with the MinGW-w64 compilers.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(UDM_MINGW_TRIPLE x86_64-w64-mingw32)
# The POSIX-threads flavour: its standard library has std::mutex, which
# GoogleTest needs; the runtime is linked statically, so nothing extra ships.
set(CMAKE_C_COMPILER ${UDM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UDM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${UDM_MINGW_TRIPLE}-windres)

# Look for libraries and headers only in the cross environment, programs on the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${UDM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The test programs run under Wine where it is installed (ctest prefixes them with it).
find_program(UDM_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(UDM_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${UDM_WINE64})
endif()
