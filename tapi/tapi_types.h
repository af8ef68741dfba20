#pragma once
// The Windows base types as TAPI uses them, in the sizes of 64-bit Windows
// (32-bit Windows for KVARSP32: the pointer-sized ones are 4 bytes there).
//
// TAPI structures are filled in and read byte for byte, so every type here has
// a fixed width. Note that LONG is 32 bits although "long" is 64 bits on Linux,
// and that wide text is UTF-16 (char16_t), not wchar_t.
//
// The names are the Windows ones and live at global scope on purpose: code
// shared with our Windows build spells them the same way, and that build does
// not include the system's own TAPI headers, so nothing clashes.
#include <cstdint>
#include <type_traits>

// The Windows layouts of x64 and, for the 32-bit provider KVARSP32, of x86:
// handles and pointer-sized integers are as wide as a pointer.
static_assert(sizeof(void*) == 8 || sizeof(void*) == 4,
              "the TAPI definitions describe the Windows layouts of x64 and x86");

// --- Integers ----------------------------------------------------------------

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;  // a 32-bit integer, not bool

// Pointer-sized integers: they carry either a number or a pointer.
using DWORD_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using INT_PTR = std::intptr_t;

// --- Text --------------------------------------------------------------------

using CHAR = char;
using WCHAR = char16_t;  // one UTF-16 code unit
using LPSTR = CHAR*;
using LPCSTR = const CHAR*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;

// --- Pointers ----------------------------------------------------------------

using LPVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;
using LPWORD = WORD*;
using LPDWORD = DWORD*;
using LPLONG = LONG*;
using LPBOOL = BOOL*;

// --- System handles ----------------------------------------------------------
// Opaque and pointer-sized; TAPI code only stores and passes them on.

using HANDLE = void*;
using LPHANDLE = HANDLE*;

struct HWND_opaque;
using HWND = HWND_opaque*;
struct HICON_opaque;
using HICON = HICON_opaque*;
using LPHICON = HICON*;
struct HINSTANCE_opaque;
using HINSTANCE = HINSTANCE_opaque*;
using HMODULE = HINSTANCE;

// --- Application-side TAPI handles -------------------------------------------
// On 64-bit Windows these stay 32 bits wide (TAPI declares them as DWORD-sized
// opaque values): TAPI hands them between its server process and every
// application, where a pointer would mean nothing, and a fixed width keeps
// structures that carry one - LINECALLINFO holds an HLINE - the same size for
// 32- and 64-bit applications (LINECALLINFO stays 324 bytes).

using HCALL = DWORD;
using LPHCALL = HCALL*;
using HLINE = DWORD;
using LPHLINE = HLINE*;
using HLINEAPP = DWORD;
using LPHLINEAPP = HLINEAPP*;
using HPHONE = DWORD;
using LPHPHONE = HPHONE*;
using HPHONEAPP = DWORD;
using LPHPHONEAPP = HPHONEAPP*;

// --- Service provider handles ------------------------------------------------
// Opaque and pointer-sized: a provider usually keeps its own object's address
// in its HDRV* handles, and TAPI does the same with its HTAPI* handles.
// (64-bit Windows declares HTAPIDIALOGINSTANCE only 32 bits wide, because it
// also reaches the provider's UI module in the application's process. We keep
// it pointer-sized like the others; no structure defined here carries one.)

struct HDRVLINE_opaque;
using HDRVLINE = const HDRVLINE_opaque*;
using LPHDRVLINE = HDRVLINE*;
struct HDRVCALL_opaque;
using HDRVCALL = const HDRVCALL_opaque*;
using LPHDRVCALL = HDRVCALL*;
struct HDRVPHONE_opaque;
using HDRVPHONE = const HDRVPHONE_opaque*;
using LPHDRVPHONE = HDRVPHONE*;
struct HDRVDIALOGINSTANCE_opaque;
using HDRVDIALOGINSTANCE = const HDRVDIALOGINSTANCE_opaque*;
using LPHDRVDIALOGINSTANCE = HDRVDIALOGINSTANCE*;

struct HTAPILINE_opaque;
using HTAPILINE = const HTAPILINE_opaque*;
using LPHTAPILINE = HTAPILINE*;
struct HTAPICALL_opaque;
using HTAPICALL = const HTAPICALL_opaque*;
using LPHTAPICALL = HTAPICALL*;
struct HTAPIPHONE_opaque;
using HTAPIPHONE = const HTAPIPHONE_opaque*;
using LPHTAPIPHONE = HTAPIPHONE*;
struct HTAPIDIALOGINSTANCE_opaque;
using HTAPIDIALOGINSTANCE = const HTAPIDIALOGINSTANCE_opaque*;
using LPHTAPIDIALOGINSTANCE = HTAPIDIALOGINSTANCE*;

struct HPROVIDER_opaque;
using HPROVIDER = const HPROVIDER_opaque*;
using LPHPROVIDER = HPROVIDER*;

// Identifies one asynchronous request; the provider reports its result later
// through the completion callback it got at initialisation.
using DRV_REQUESTID = DWORD;

static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(WORD) == 2 && sizeof(BYTE) == 1);
static_assert(sizeof(BOOL) == 4 && sizeof(WCHAR) == 2);
constexpr auto kTapiPointerSize = sizeof(void*);
static_assert(sizeof(DWORD_PTR) == kTapiPointerSize && sizeof(LONG_PTR) == kTapiPointerSize &&
              sizeof(HANDLE) == kTapiPointerSize);
static_assert(sizeof(HLINE) == 4 && sizeof(HCALL) == 4 && sizeof(HLINEAPP) == 4);
static_assert(sizeof(HDRVLINE) == kTapiPointerSize && sizeof(HTAPICALL) == kTapiPointerSize &&
              sizeof(HPROVIDER) == kTapiPointerSize);
static_assert(sizeof(ULONG) == 4 && sizeof(ULONG_PTR) == kTapiPointerSize && sizeof(HWND) == kTapiPointerSize &&
              sizeof(HICON) == kTapiPointerSize);
static_assert(sizeof(HINSTANCE) == kTapiPointerSize && sizeof(HPHONE) == 4 && sizeof(HPHONEAPP) == 4);
static_assert(sizeof(HDRVCALL) == kTapiPointerSize && sizeof(HDRVPHONE) == kTapiPointerSize &&
              sizeof(HDRVDIALOGINSTANCE) == kTapiPointerSize);
static_assert(sizeof(HTAPILINE) == kTapiPointerSize && sizeof(HTAPIPHONE) == kTapiPointerSize &&
              sizeof(HTAPIDIALOGINSTANCE) == kTapiPointerSize);
static_assert(std::is_signed_v<LONG> && std::is_signed_v<LONG_PTR>);
static_assert(std::is_unsigned_v<DWORD> && std::is_unsigned_v<DWORD_PTR>);
static_assert(std::is_same_v<WCHAR, char16_t> && std::is_same_v<LPCWSTR, const char16_t*>);
static_assert(std::is_same_v<LPWSTR, char16_t*> && std::is_same_v<LPDWORD, DWORD*>);
// Distinct handle types, so a line handle cannot be passed where a call handle belongs.
static_assert(!std::is_same_v<HDRVLINE, HDRVCALL> && !std::is_same_v<HTAPILINE, HTAPICALL>);
static_assert(std::is_same_v<LPHDRVLINE, HDRVLINE*> && std::is_same_v<LPHDRVCALL, HDRVCALL*>);
static_assert(std::is_same_v<DRV_REQUESTID, DWORD>);
