# 32-bit Windows (x86) with MinGW-w64: `cmake --preset windows32`.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain-common.cmake)
