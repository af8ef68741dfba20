#pragma once
// Marks a function that takes a printf format (the argument numbered
// formatIndex; the values from firstArgument on, 0 for a va_list), so that
// the compiler checks every call's arguments against it.
//
// The Windows build (MinGW-w64) formats with MinGW's C99 stdio, which its
// C++ library switches on (__USE_MINGW_ANSI_STDIO) and which knows %zu and
// %lld; its compiler checks a
// plain "printf" format against the older formats of the Microsoft C
// runtime, so the check names the GNU formats there.
#if defined(__MINGW32__)
#define TK_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define TK_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#endif
