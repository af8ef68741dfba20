# Shared part of the MinGW-w64 toolchain files: Debian's cross compilers with
# the POSIX thread model (std::thread, std::mutex), which the system's C++
# needs. The including file sets TK_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TK_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
