#pragma once
// The symbolic names of the messages a provider sends through its line
// event and line-create callbacks, for logs, event records and messages.
#include <string>

#include "tapi/tapi_types.h"

namespace tapihost {

// "LINE_CALLSTATE" and so on; nullptr for a number that is no line message.
const char* lineMessageName(DWORD msg);
// The name, or "message <number>" for a number that is no line message.
std::string lineMessageText(DWORD msg);

}  // namespace tapihost
