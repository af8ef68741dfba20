#pragma once
// The VNL2 API: the layer-2 interface library's exports, as clients (and
// the forwarding library vnlsock) see them. Services are named by a one-byte
// code; the telephony provider uses 0x20. The exports themselves, their
// function types and names, are tabled in link/api/vnl2_entry_table.h.
#include <cstdint>

#include "platform/window.h"

// The record VNL2_GetState fills.
struct VNL2_STATE {
  uint16_t State;      // 1 when the service is open
  uint16_t Reserved;   // always 0
  uint16_t RecQueue;   // number of queued blocks
  uint16_t Length;     // length of the oldest queued block (low 16 bits)
};
static_assert(sizeof(VNL2_STATE) == 8);

// Kinds of the notification message "CTI_LayerII_Event" (its lParam).
constexpr intptr_t VNL2_CONNECT_IND = 0x0E00;
constexpr intptr_t VNL2_DATA_IND = 0x0100;
constexpr intptr_t VNL2_DISCONNECT_IND = 0x0F00;

// Link states reported through VNL2_LinkInfo.
constexpr uint32_t kVnl2LinkDown = 0;
constexpr uint32_t kVnl2LinkUp = 1;
constexpr uint32_t kVnl2LinkStarting = 16;
constexpr uint32_t kVnl2LinkAcknowledged = 17;
constexpr uint32_t kVnl2LinkRefused = 18;

// Results of VNL2_SendData.
constexpr int32_t kVnl2SendNotOpen = -11;
constexpr int32_t kVnl2SendFailed = -12;
