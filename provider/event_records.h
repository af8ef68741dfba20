#pragma once
// The TAPI trace records of the line events, written by the delivery thread
// just before it hands an event to TAPI.
//
// LINE_CALLSTATE, LINE_LINEDEVSTATE, LINE_ADDRESSSTATE and LINE_CALLINFO get
// a multi-line record with one line per parameter, the parameters decoded by
// their TAPI names, for example
//
//   LINE_CALLSTATE
//     (
//     htLine = 0x10
//     htCall = 0x20
//     dwLineCallState = LINECALLSTATE_CONNECTED
//     dwConnectedMode = LINECONNECTEDMODE_ACTIVE
//     dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE
//     )
//
// where the line after the call state depends on the state: the offering,
// dial tone, busy, special information, connected or disconnected mode,
// "htConfCall = 0x..." for CONFERENCED, "dwParam2 = <not used>" otherwise.
// LINE_CLOSE, LINE_CREATE, LINE_REMOVE and LINE_NEWCALL get a one-line
// record with their parameters, every other event of the LINE_ family a
// one-line record with its three parameters in hex, and anything else
// "Unknown message from TSP to TAPI".
#include <string>

#include "tapi/tspi.h"

namespace kvarsp {

std::string LineEventRecord(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR param1, DWORD_PTR param2,
                            DWORD_PTR param3);

}  // namespace kvarsp
