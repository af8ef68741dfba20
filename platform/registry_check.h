#pragma once
// The check regImportDocument makes of a document before it changes
// anything, shared by both registry backends. Internal to the platform layer.
#include <string>

#include "platform/reg_text.h"

namespace platform {

// Checks a document as the .reg parser checks text, since a program may
// have built or changed it: the limits and names of keys and values, no
// deleted root, no values in a deleted key. Returns kErrorSuccess, or the
// error (kErrorBadKey for a key path, kErrorInvalidParameter for a value
// name or values under a deleted key, kErrorAccessDenied for deleting a
// root) with message set to "key section N (line L): what is wrong".
long checkRegTextDocument(const RegTextDocument& document, std::string* message);

}  // namespace platform
