#pragma once
// The provider's call object. Calls live in the provider's call list
// (CallModel), which is their only writer: everyone else reads a call
// through const TspCall references and changes it through the model's named
// transitions, so that every change that TAPI must hear of is reported.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/tick_timer.h"
#include "platform/clock.h"
#include "tapi/tapi.h"
#include "tapi/tspi.h"

namespace kvarsp {

enum class PartyRole { Caller, Called, Connected, Redirection, Redirecting };
constexpr size_t kPartyRoleCount = 5;

struct PartyId {
  uint32_t flags = LINECALLPARTYID_UNKNOWN;
  std::optional<std::u16string> number;  // null: not known
  std::optional<std::u16string> name;

  bool operator==(const PartyId&) const = default;
};

// Byte size of a string as LINECALLINFO reports it: UTF-16 with terminator, 0 for null.
inline uint32_t WideByteSize(const std::optional<std::u16string>& text) {
  return text ? static_cast<uint32_t>((text->size() + 1) * sizeof(char16_t)) : 0;
}

// The byte blobs a call keeps; empty means none.
enum class CallBlob {
  DisplayableAddress,
  CalledParty,
  Comment,
  Display,
  UserUserInfo,
  HighLevelCompatibility,
  LowLevelCompatibility,
  ChargingInfo,
  DevSpecific,
  CallData,
};
constexpr size_t kCallBlobCount = 10;

struct TspCall {
  HTAPILINE line = nullptr;  // the owning OpenLine's htLine
  HTAPICALL htCall = nullptr;
  // The handle the call was given at creation; hdCall() is null while the call is unbound.
  uintptr_t handle = 0;
  bool bound = true;
  bool pbxCallIdValid = false;
  uint16_t pbxCallId = 0;
  uint32_t callState = LINECALLSTATE_UNKNOWN;
  uint32_t callStateMode = 0;
  uint32_t addressId = 0;
  uint32_t mediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  std::u16string dialledNumber;
  uint32_t countryCode = 0;
  uint32_t origin = 0;
  uint32_t reason = LINECALLREASON_UNKNOWN;
  bool offeredByExchange = false;

  TickTimer ringTimer;
  uint32_t ringCount = 0;
  TickTimer noAnswerTimer;
  bool noAnswerDropped = false;

  bool blindTransfer = false;
  bool conferenceMember = false;
  uintptr_t conferenceHdCall = 0;
  bool conferenceRoot = false;
  uint16_t conferencePbxCallId = 0;
  bool pendingConference = false;
  uintptr_t pendingConferenceHdCall = 0;
  uint32_t savedCallState = 0;
  uint32_t savedCallStateMode = 0;

  TickTimer setupWatchTimer;
  bool watchDropSent = false;
  bool watchDropDone = false;

  struct BlindTransferWait {
    bool active = false;
    uint16_t consultationPbxCallId = 0;
    DRV_REQUESTID requestId = 0;
    TickTimer timer;
  } blindTransferWait;

  uint32_t callParamFlags = 0;
  uint32_t appSpecific = 0;
  std::array<PartyId, kPartyRoleCount> parties{};
  std::array<std::vector<uint8_t>, kCallBlobCount> blobs{};
  platform::SystemTime stateEntryTime{};  // UTC

  HDRVCALL hdCall() const { return bound ? reinterpret_cast<HDRVCALL>(handle) : nullptr; }
  const PartyId& party(PartyRole role) const { return parties[static_cast<size_t>(role)]; }
  const std::vector<uint8_t>& blob(CallBlob which) const { return blobs[static_cast<size_t>(which)]; }
};

// Party numbers are stored without any 'P' or 'T' (either case), the pulse
// and tone dialling marks.
std::u16string StripDialModeMarks(std::u16string_view number);

// The LINECALLINFOSTATE_ bit reported when a party ID or blob changes.
uint32_t CallInfoStateBit(PartyRole role);
uint32_t CallInfoStateBit(CallBlob blob);

}  // namespace kvarsp
