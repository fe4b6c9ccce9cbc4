# Cross build for 64-bit Windows with the MinGW-w64 compilers.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake
set(UDM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# The test programs run under Wine where it is installed (ctest prefixes them with it).
find_program(UDM_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(UDM_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${UDM_WINE64})
endif()
