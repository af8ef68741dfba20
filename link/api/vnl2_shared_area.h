#pragma once
// The data area VNL2D32 shares between every process that loads it: the link
// state, which services are open and where their notifications go, the
// control process, and one receive queue per service. A cross-process
// format: little-endian, handles 8 bytes, 197284 bytes in all.
#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr size_t kVnl2Slots = 6;  // slot 0 is never used
constexpr size_t kRecQueueBlocks = 16;
constexpr size_t kRecBlockData = 2048;

struct RecBlock {
  uint32_t length;
  uint8_t data[kRecBlockData];
};

// Blocks in arrival order: block 0 the oldest.
struct RecQueue {
  RecBlock blocks[kRecQueueBlocks];
};

struct Vnl2ProcessInformation {
  uint64_t process;  // handle, meaningful only in the process that started it
  uint64_t thread;
  uint32_t processId;
  uint32_t threadId;
};

// Packed to 4 bytes: the area ends with a 4-byte word and has no tail padding.
#pragma pack(push, 4)
struct Vnl2SharedArea {
  uint32_t messageId;      // "CTI_LayerII_Event"
  int32_t linkState;       // 16 starting, 17 acknowledged, 18 refused, 1 up, 0 down
  int32_t openCount;       // services open in all processes together
  uint32_t spare1;
  int32_t serviceOpen[5];  // slots 1..5
  uint32_t spare2;
  int32_t recIndex[kVnl2Slots];  // newest queued block per slot, -1 = empty
  uint64_t controlWindow;
  int32_t notifyEnabled[5];  // slots 1..5
  uint32_t spare3;
  uint64_t notifyWindow[5];  // slots 1..5
  char linkName[16];
  Vnl2ProcessInformation processInformation;
  uint8_t startupInformation[104];
  uint8_t spare4[8];  // all 0xFF
  RecQueue recQueue[kVnl2Slots];
  uint32_t logMask;
};
#pragma pack(pop)

static_assert(sizeof(RecBlock) == 2052);
static_assert(sizeof(RecQueue) == 32832);
static_assert(sizeof(Vnl2ProcessInformation) == 24);
static_assert(sizeof(Vnl2SharedArea) == 197284);
static_assert(offsetof(Vnl2SharedArea, messageId) == 0);
static_assert(offsetof(Vnl2SharedArea, linkState) == 4);
static_assert(offsetof(Vnl2SharedArea, openCount) == 8);
static_assert(offsetof(Vnl2SharedArea, serviceOpen) == 16);
static_assert(offsetof(Vnl2SharedArea, recIndex) == 40);
static_assert(offsetof(Vnl2SharedArea, controlWindow) == 64);
static_assert(offsetof(Vnl2SharedArea, notifyEnabled) == 72);
static_assert(offsetof(Vnl2SharedArea, notifyWindow) == 96);
static_assert(offsetof(Vnl2SharedArea, linkName) == 136);
static_assert(offsetof(Vnl2SharedArea, processInformation) == 152);
static_assert(offsetof(Vnl2SharedArea, startupInformation) == 176);
static_assert(offsetof(Vnl2SharedArea, spare4) == 280);
static_assert(offsetof(Vnl2SharedArea, recQueue) == 288);
static_assert(offsetof(Vnl2SharedArea, recQueue) + sizeof(RecQueue) == 33120);
static_assert(offsetof(Vnl2SharedArea, logMask) == 197280);

// The process that opened each service, kept in the area's spare words (the
// area's size and layout stay as they are): slots 1 to 3 in the three
// 4-byte spares, slots 4 and 5 in the two halves of spare4. kVnl2NoHolder
// (spare4's initial all-0xFF, also written on close) or 0: none recorded.
constexpr uint32_t kVnl2NoHolder = 0xFFFFFFFF;

inline uint8_t* Vnl2HolderWord(Vnl2SharedArea& area, int slot) {
  switch (slot) {
    case 1: return reinterpret_cast<uint8_t*>(&area.spare1);
    case 2: return reinterpret_cast<uint8_t*>(&area.spare2);
    case 3: return reinterpret_cast<uint8_t*>(&area.spare3);
    case 4: return area.spare4;
    case 5: return area.spare4 + 4;
    default: return nullptr;
  }
}

inline uint32_t Vnl2Holder(const Vnl2SharedArea& area, int slot) {
  const uint8_t* word = Vnl2HolderWord(const_cast<Vnl2SharedArea&>(area), slot);
  if (!word) return kVnl2NoHolder;
  uint32_t holder = 0;
  std::memcpy(&holder, word, sizeof holder);
  return holder == 0 ? kVnl2NoHolder : holder;
}

inline void SetVnl2Holder(Vnl2SharedArea& area, int slot, uint32_t processId) {
  if (uint8_t* word = Vnl2HolderWord(area, slot)) std::memcpy(word, &processId, sizeof processId);
}

// The slot of a service code, 0 for an unknown service.
constexpr int Vnl2SlotOf(uint32_t service) {
  switch (service) {
    case 0x20: return 1;
    case 0x30: return 2;
    case 0x40: return 3;
    case 0x42: return 4;
    case 0x80: return 5;
    default: return 0;
  }
}
constexpr uint32_t kVnl2ServiceOfSlot[kVnl2Slots] = {0, 0x20, 0x30, 0x40, 0x42, 0x80};
