#pragma once
// Windows system error codes, with the numbers the system logs.
#include <cstdint>

namespace platform {

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorPathNotFound = 3;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorNotEnoughMemory = 8;
constexpr long kErrorInvalidData = 13;
constexpr long kErrorWriteFault = 29;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;
constexpr long kErrorModNotFound = 126;
constexpr long kErrorProcNotFound = 127;
constexpr long kErrorBadDb = 1009;             // the configuration store is corrupt
constexpr long kErrorBadKey = 1010;            // invalid key name
constexpr long kErrorCantWrite = 1013;         // the store could not be written
constexpr long kErrorRegistryCorrupt = 1015;
constexpr long kErrorKeyDeleted = 1018;
constexpr long kErrorInvalidWindowHandle = 1400;
constexpr long kErrorClassAlreadyExists = 1410;
constexpr long kErrorNoSystemResources = 1450;
constexpr long kErrorTimeout = 1460;

}  // namespace platform
