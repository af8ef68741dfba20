#pragma once
// Windows system error codes, with the numbers the system logs.
#include <cstdint>

namespace platform {

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorPathNotFound = 3;
constexpr long kErrorTooManyOpenFiles = 4;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorNotEnoughMemory = 8;
constexpr long kErrorInvalidData = 13;
constexpr long kErrorWriteFault = 29;
constexpr long kErrorGenFailure = 31;            // a device failed or went away
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorBrokenPipe = 109;          // the other end of a connection went
constexpr long kErrorAlreadyExists = 183;
constexpr long kErrorMoreData = 234;
constexpr long kErrorOperationAborted = 995;     // ended by a close of its handle
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

// Windows Sockets error numbers (WSAGetLastError), which the socket interface
// (platform/tcp_socket.h) reports whatever the system underneath says.
constexpr int kWsaInterrupted = 10004;          // WSAEINTR
constexpr int kWsaBadHandle = 10009;            // WSAEBADF
constexpr int kWsaAccessDenied = 10013;         // WSAEACCES
constexpr int kWsaFault = 10014;                // WSAEFAULT
constexpr int kWsaInvalidArgument = 10022;      // WSAEINVAL
constexpr int kWsaTooManySockets = 10024;       // WSAEMFILE
constexpr int kWsaWouldBlock = 10035;           // WSAEWOULDBLOCK
constexpr int kWsaInProgress = 10036;           // WSAEINPROGRESS
constexpr int kWsaAlready = 10037;              // WSAEALREADY
constexpr int kWsaNotSocket = 10038;            // WSAENOTSOCK
constexpr int kWsaMessageSize = 10040;          // WSAEMSGSIZE
constexpr int kWsaProtocolOption = 10042;       // WSAENOPROTOOPT
constexpr int kWsaNotSupported = 10045;         // WSAEOPNOTSUPP
constexpr int kWsaFamilyNotSupported = 10047;   // WSAEAFNOSUPPORT
constexpr int kWsaAddressInUse = 10048;         // WSAEADDRINUSE
constexpr int kWsaAddressNotAvailable = 10049;  // WSAEADDRNOTAVAIL
constexpr int kWsaNetworkDown = 10050;          // WSAENETDOWN
constexpr int kWsaNetworkUnreachable = 10051;   // WSAENETUNREACH
constexpr int kWsaNetworkReset = 10052;         // WSAENETRESET
constexpr int kWsaConnectionAborted = 10053;    // WSAECONNABORTED
constexpr int kWsaConnectionReset = 10054;      // WSAECONNRESET
constexpr int kWsaNoBuffers = 10055;            // WSAENOBUFS
constexpr int kWsaIsConnected = 10056;          // WSAEISCONN
constexpr int kWsaNotConnected = 10057;         // WSAENOTCONN
constexpr int kWsaShutDown = 10058;             // WSAESHUTDOWN: the socket was shut down for this direction
constexpr int kWsaTimedOut = 10060;             // WSAETIMEDOUT
constexpr int kWsaConnectionRefused = 10061;    // WSAECONNREFUSED
constexpr int kWsaHostDown = 10064;             // WSAEHOSTDOWN
constexpr int kWsaHostUnreachable = 10065;      // WSAEHOSTUNREACH
constexpr int kWsaSystemCallFailure = 10107;    // WSASYSCALLFAILURE: a failure with no number of its own

}  // namespace platform
