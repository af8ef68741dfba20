#pragma once
// Marks a function as exported from a shared module (a plug-in or library that
// other code loads by name). Everything else in a module stays hidden.
#if defined(_WIN32)
#define TK_EXPORT __declspec(dllexport)
#else
#define TK_EXPORT __attribute__((visibility("default")))
#endif
