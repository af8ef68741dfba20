#pragma once
// The VNL2 API's entry points in one table: the function type of each
// export, the name it is exported under and its ordinal (the Windows export
// files vnl2d32.def and vnlsock.def use the same numbers), and one struct of
// typed pointers that a client binds by name. VNL2D32 exports all ten;
// vnlsock forwards the eight of the client half; the telephony provider
// binds the six it uses.
//
// In: a loaded module and the set of entries wanted. Out: those entries
// bound in an Entries struct, and the name of the first one missing (or
// none). No state and no threads: binding is a look-up by name.
//
// A module that defines the exports checks its own signatures against the
// table by assigning them to an Entries struct (a function of another type
// does not convert), e.g.
//   constexpr vnl2::Entries kOwn = [] { vnl2::Entries e; e.sendData = &VNL2_SendData; return e; }();
#include <cstdint>
#include <initializer_list>

#include "link/api/vnl2_api.h"
#include "platform/module.h"

using Vnl2OpenConnectionFn = int32_t (TK_WINAPI*)(uint32_t service);
using Vnl2CloseConnectionFn = int32_t (TK_WINAPI*)(uint32_t service);
using Vnl2EnableNotificationFn = int32_t (TK_WINAPI*)(uint32_t service, platform::WindowHandle window);
using Vnl2SendDataFn = int32_t (TK_WINAPI*)(uint32_t service, const void* data, uint32_t length);
using Vnl2ReceiveDataFn = int32_t (TK_WINAPI*)(uint32_t service, void* buffer, uint32_t size);
using Vnl2GetStateFn = void (TK_WINAPI*)(uint32_t service, VNL2_STATE* state);
using Vnl2CopyRecDataFn = int32_t (TK_WINAPI*)(uint32_t service, const void* data, uint32_t length);
using Vnl2LinkInfoFn = int32_t (TK_WINAPI*)(uint32_t kind);
using Vnl2OpenConnectionExAFn = int32_t (TK_WINAPI*)(uint32_t service, const char* link);
using Vnl2OpenConnectionExWFn = int32_t (TK_WINAPI*)(uint32_t service, const char16_t* link);

namespace vnl2 {

// The entries by their export ordinal.
enum class Entry : uint8_t {
  OpenConnection = 1,
  CloseConnection = 2,
  EnableNotification = 3,
  SendData = 4,
  ReceiveData = 5,
  GetState = 6,
  CopyRecData = 7,  // the link control process only
  LinkInfo = 8,     // the link control process only
  OpenConnectionExA = 9,
  OpenConnectionExW = 10,
};

class EntrySet {
 public:
  constexpr EntrySet(std::initializer_list<Entry> entries) {
    for (Entry e : entries) bits_ |= Bit(e);
  }
  constexpr bool Has(Entry e) const { return (bits_ & Bit(e)) != 0; }

 private:
  static constexpr uint32_t Bit(Entry e) { return uint32_t{1} << static_cast<unsigned>(e); }
  uint32_t bits_ = 0;
};

// What the telephony provider binds (through vnlsock), on service 32.
inline constexpr EntrySet kProviderEntries{Entry::OpenConnection, Entry::CloseConnection,
                                           Entry::EnableNotification, Entry::SendData,
                                           Entry::ReceiveData, Entry::GetState};
// The client half: everything but the two calls of the link control process; vnlsock's exports.
inline constexpr EntrySet kClientEntries{Entry::OpenConnection,    Entry::CloseConnection, Entry::EnableNotification,
                                         Entry::SendData,          Entry::ReceiveData,     Entry::GetState,
                                         Entry::OpenConnectionExA, Entry::OpenConnectionExW};
inline constexpr EntrySet kControlEntries{Entry::CopyRecData, Entry::LinkInfo};

struct Entries {
  Vnl2OpenConnectionFn openConnection = nullptr;
  Vnl2CloseConnectionFn closeConnection = nullptr;
  Vnl2EnableNotificationFn enableNotification = nullptr;
  Vnl2SendDataFn sendData = nullptr;
  Vnl2ReceiveDataFn receiveData = nullptr;
  Vnl2GetStateFn getState = nullptr;
  Vnl2CopyRecDataFn copyRecData = nullptr;
  Vnl2LinkInfoFn linkInfo = nullptr;
  Vnl2OpenConnectionExAFn openConnectionExA = nullptr;
  Vnl2OpenConnectionExWFn openConnectionExW = nullptr;
};

// The table itself: calls visit(entry, exported name, the member of
// `entries` that holds it) for every entry, in ordinal order.
template <typename EntriesT, typename Visit>
constexpr void ForEachEntry(EntriesT& entries, Visit&& visit) {
  visit(Entry::OpenConnection, "VNL2_OpenConnection", entries.openConnection);
  visit(Entry::CloseConnection, "VNL2_CloseConnection", entries.closeConnection);
  visit(Entry::EnableNotification, "VNL2_EnableNotification", entries.enableNotification);
  visit(Entry::SendData, "VNL2_SendData", entries.sendData);
  visit(Entry::ReceiveData, "VNL2_ReceiveData", entries.receiveData);
  visit(Entry::GetState, "VNL2_GetState", entries.getState);
  visit(Entry::CopyRecData, "VNL2_CopyRecData", entries.copyRecData);
  visit(Entry::LinkInfo, "VNL2_LinkInfo", entries.linkInfo);
  visit(Entry::OpenConnectionExA, "VNL2_OpenConnectionExA", entries.openConnectionExA);
  visit(Entry::OpenConnectionExW, "VNL2_OpenConnectionExW", entries.openConnectionExW);
}

// Looks up every entry of `wanted` in the module (each one missing is left
// null); entries not wanted are not touched. Returns the name of the first
// missing entry, or nullptr when all were found.
inline const char* Bind(platform::ModuleHandle module, EntrySet wanted, Entries& entries) {
  const char* missing = nullptr;
  ForEachEntry(entries, [&](Entry e, const char* name, auto& fn) {
    if (!wanted.Has(e)) return;
    if (!platform::getProcAddress(module, name, fn) && !missing) missing = name;
  });
  return missing;
}

}  // namespace vnl2
