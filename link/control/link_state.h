#pragma once
// The states of the link and the one-shot timers of the control window.
#include <cstdint>

enum LinkStateValue : uint16_t {
  kLinkDisconnected = 0,        // transient: set just before a release
  kLinkRequestingService = 1,   // serial/USB: service request sent, waiting for the answer
  kLinkSetUp = 2,               // sending START, waiting for UA
  kLinkInformationTransfer = 3, // link up
  kLinkTimerRecovery = 4,       // link up, a poll or retransmission outstanding
  kLinkDisconnecting = 6,       // DISC sent, waiting for UA or DM
  kLinkReleased = 7,            // the window is told to destroy itself; the receive thread ends
};

// Timer ids of the control window (all one-shot: killed before handling).
constexpr uintptr_t kTimerServiceRequest = 0x1001;  // service request repetition
constexpr uintptr_t kTimerT1 = 0x1200;              // response timer of the frame protocol
constexpr uintptr_t kTimerT3 = 0x1203;              // idle supervision of the frame protocol
constexpr uintptr_t kTimerKeepAlive = 0x1210;       // LAN keep-alive supervision
constexpr uintptr_t kTimerHeldBlocks = 0x1220;      // retry of blocks a full client queue could not take
constexpr uint32_t kHeldBlocksRetryMs = 10;

constexpr uint32_t kServiceRequestPeriodMs = 500;
constexpr uint16_t kServiceRequestTries = 3;
