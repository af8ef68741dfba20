// Stand-in for the layer-2 forwarding library "VNLSOCK.DLL" in provider
// tests: exports the six VNL2 functions the provider binds (or, built with
// FAKE_VNLSOCK_INCOMPLETE, all but VNL2_GetState). The functions refuse
// everything; these tests only exercise the binding.
#include <cstdint>

#include "platform/export.h"

extern "C" {
TK_EXPORT int VNL2_OpenConnection(int) { return 0; }
TK_EXPORT int VNL2_CloseConnection(int) { return 0; }
TK_EXPORT int VNL2_SendData(int, const void*, uint32_t) { return 0; }
TK_EXPORT int VNL2_ReceiveData(int, void*, uint32_t) { return 0; }
TK_EXPORT uint32_t VNL2_EnableNotification(int, void*) { return 0; }
#ifndef FAKE_VNLSOCK_INCOMPLETE
TK_EXPORT int VNL2_GetState(int, void*) { return 0; }
#endif
}
