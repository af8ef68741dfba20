#pragma once
// Marks a function as exported from a shared module (a plug-in or library that
// other code loads by name). Everything else in a module stays hidden.
//
// Windows: every deliverable lists its exports, with their names and
// ordinals, in the .def file beside its sources, and the linker exports
// exactly those; a dllexport mark would add a second, stdcall-decorated name
// ("Name@12") for each function on x86. A module without a .def file (a test
// plug-in) exports all its functions, the linker's default when nothing is
// marked.
#if defined(_WIN32)
#define TK_EXPORT
#else
#define TK_EXPORT __attribute__((visibility("default")))
#endif

// The calling convention of the exported APIs and the callbacks they take
// or are handed (WINAPI, CALLBACK): __stdcall on x86 Windows, where it makes
// the compiler decorate a C name as "_Name@<argument bytes>"; elsewhere there
// is one convention and this is empty.
#if defined(_WIN32) && !defined(_WIN64)
#define TK_WINAPI __stdcall
#define TK_STDCALL_DECORATED 1
#else
#define TK_WINAPI
#define TK_STDCALL_DECORATED 0
#endif
