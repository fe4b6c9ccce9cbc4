# Shared by the MinGW-w64 toolchain files, which set UDM_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)

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
