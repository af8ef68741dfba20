#pragma once
// Multi-line text dumps of the TAPI structures that the provider receives and
// fills in, for the TAPI trace. Each function is pure: it reads the structure
// and returns the text (lines separated by '\n', no final line break); the
// caller writes it only when the TAPI trace is switched on.
//
// Layout (each member line starts with two blanks):
//   lpCallParams = 0x00000000012FF3A0
//     ->dwTotalSize = 224
//     ->dwMediaMode = LINEMEDIAMODE_DATAMODEM
//                     | LINEMEDIAMODE_INTERACTIVEVOICE
//     ->dwCalledPartySize/Offset = "123\0" (  8/0x0b0)
//     ->dwUserUserInfoSize/Offset = 0x01 0x02 (  2/0x0b8)
//
// - Pointers print like the provider's other "0x%p" texts: "0x" and 16
//   upper-case hex digits, so a null pointer prints 0x0000000000000000 and
//   ends the dump after the header.
// - A pointer that is not null is taken as readable: there is no portable
//   way to probe memory, so "<invalid pointer>" is never produced here.
// - dwTotalSize is trusted as the size of the caller's buffer; nothing past
//   it is read. A structure smaller than its fixed part for the TSPI version
//   prints only the header followed by " (structure too short)".
// - Members that TAPI added in version 1.4 or 2.0 are printed (and counted
//   in the fixed part) only when tspiVersion is at least that version.
// - A size/offset pair prints as one member "dw<Name>Size/Offset": "<empty>"
//   when size or offset is 0, "<invalid size/offset (size/offset)>" when it
//   reaches past dwTotalSize, otherwise the text (UTF-16 or byte string,
//   chosen by the member or by the structure's dwStringFormat) or the bytes
//   of a binary member, followed by "(size/offset)".
// - Forwarding entries: a LINEFORWARDLIST prints its entries as members,
//   "  ->ForwardList[ n ]", with their own members indented four blanks more.
//   The entries that a LINEADDRESSSTATUS points at with dwForwardSize/Offset
//   belong to that member and print one level deeper, "      ->Forward[ n ]".
#include <string>

#include "tapi/tapi_structs.h"

namespace kvarsp {

std::string DumpLineCallParams(const char* name, const LINECALLPARAMS* params, DWORD tspiVersion);
std::string DumpLineForwardList(const char* name, const LINEFORWARDLIST* list, DWORD tspiVersion);
std::string DumpLineDevCaps(const char* name, const LINEDEVCAPS* caps, DWORD tspiVersion);
std::string DumpLineAddressCaps(const char* name, const LINEADDRESSCAPS* caps, DWORD tspiVersion);
std::string DumpLineAddressStatus(const char* name, const LINEADDRESSSTATUS* status, DWORD tspiVersion);
std::string DumpLineDevStatus(const char* name, const LINEDEVSTATUS* status, DWORD tspiVersion);
std::string DumpLineCallInfo(const char* name, const LINECALLINFO* info, DWORD tspiVersion);
std::string DumpLineCallStatus(const char* name, const LINECALLSTATUS* status, DWORD tspiVersion);
std::string DumpVarString(const char* name, const VARSTRING* varString, DWORD tspiVersion);

}  // namespace kvarsp
