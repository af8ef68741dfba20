#pragma once
// Marshalling helpers shared by the exported functions: the checks TAPI
// makes in the application's process before asking the service (null
// pointers, out-structures smaller than their fixed part), the request's
// in-structures and texts, and the reply's out-structures and handles
// copied back into the application's memory.
//
// Everything here runs on the calling application thread; nothing keeps
// state between calls.
#include <cstddef>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "tapi/client/client_apps.h"
#include "tapi/tapi32.h"

namespace tapi32 {

using Args = std::function<void(tapiwire::Writer&)>;

// Null: LINEERR_INVALPOINTER. dwTotalSize below fixedSize:
// LINEERR_STRUCTURETOOSMALL, with dwNeededSize set to fixedSize where the
// application's structure has room for it. 0 when it may go to the service.
LONG checkOut(void* structure, size_t fixedSize);

// An in-structure as the service takes it: exactly its dwTotalSize bytes;
// nullopt for a null pointer.
std::optional<std::span<const uint8_t>> inStructure(const void* structure);
// A structure without dwTotalSize (LINEDIALPARAMS): its fixed size.
std::optional<std::span<const uint8_t>> fixedBlock(const void* block, size_t size);
// An in-structure whose dwTotalSize is beyond what a request can carry.
bool tooLarge(const void* structure);

// A LINECALLPARAMS as the service takes it; for the A functions with its
// strings widened (apiVersion: the line's, which fixes its fixed part).
std::optional<std::vector<uint8_t>> callParamsBlock(const LINECALLPARAMS* params, bool ansi, DWORD apiVersion);
// A block for Writer::bytes (nullopt stays a null pointer).
std::optional<std::span<const uint8_t>> view(const std::optional<std::vector<uint8_t>>& block);

// Caller-supplied bytes (user-user information, call data); nullopt for null.
std::optional<std::span<const uint8_t>> userBytes(const void* data, DWORD size);

std::optional<std::u16string> ansiText(LPCSTR text);
std::optional<std::u16string> wideText(LPCWSTR text);
// A text for Writer::text (nullopt stays a null pointer).
std::optional<std::u16string_view> view(const std::optional<std::u16string>& text);

// Sends the request on the application's connection; on success reads the
// out handles (u32 each) into the given places (null places are read and
// dropped). Returns the service's result, or LINEERR_OPERATIONFAILED for a
// reply whose out values are malformed.
LONG callForHandles(App& app, tapiwire::Function function, const Args& args,
                    std::initializer_list<DWORD*> handles, AttachmentWriter attachment = {});

// The functions on one call handle: hCall, then what args writes (may be
// empty); no out values.
LONG callOnly(tapiwire::Function function, HCALL hCall, const Args& args);
// The functions on a call handle and a destination address (a null address
// is LINEERR_INVALPOINTER).
LONG callAndAddress(tapiwire::Function function, HCALL hCall, const std::optional<std::u16string>& dest,
                    DWORD countryCode);

// Sends the request; on success copies the out-structure of the reply into
// the application's buffer (at most its dwTotalSize bytes, which stays as
// the application set it).
LONG callForStructure(App& app, tapiwire::Function function, const Args& args, void* structure);

// Copies an out-structure the service sent into the application's buffer.
void copyStructure(std::span<const uint8_t> data, void* structure);

}  // namespace tapi32
