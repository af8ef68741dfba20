# 64-bit Windows (x64) with MinGW-w64: `cmake --preset windows`.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain-common.cmake)
