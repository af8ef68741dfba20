# Build settings of the Windows build (MinGW-w64 cross compilers).
#
# Every deliverable is self-contained: the C and C++ runtimes and the thread
# library are linked in statically, so that a Windows machine needs nothing
# but the files themselves. The platform layer is a static library on
# Windows: its process-wide state is the operating system's own there
# (windows, registry, kernel objects), so each module may carry its own copy.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
add_link_options(-static -static-libgcc -static-libstdc++)

# Tests run under Wine through scripts/wine-run.sh, which keeps one Wine
# prefix per build folder. 32-bit programs need Wine's 32-bit part (wine32),
# which this build does not install, so they are built but not run.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(TK_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(TK_WINE64 wine64)
  if(TK_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
  endif()
endif()
