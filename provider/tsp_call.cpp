#include "provider/tsp_call.h"

namespace kvarsp {

std::u16string StripDialModeMarks(std::u16string_view number) {
  std::u16string out;
  out.reserve(number.size());
  for (char16_t c : number) {
    if (c == u'P' || c == u'p' || c == u'T' || c == u't') continue;
    out.push_back(c);
  }
  return out;
}

uint32_t CallInfoStateBit(PartyRole role) {
  switch (role) {
    case PartyRole::Caller: return LINECALLINFOSTATE_CALLERID;
    case PartyRole::Called: return LINECALLINFOSTATE_CALLEDID;
    case PartyRole::Connected: return LINECALLINFOSTATE_CONNECTEDID;
    case PartyRole::Redirection: return LINECALLINFOSTATE_REDIRECTIONID;
    case PartyRole::Redirecting: return LINECALLINFOSTATE_REDIRECTINGID;
  }
  return LINECALLINFOSTATE_OTHER;
}

uint32_t CallInfoStateBit(CallBlob blob) {
  switch (blob) {
    case CallBlob::DisplayableAddress:
    case CallBlob::Comment: return LINECALLINFOSTATE_OTHER;
    case CallBlob::CalledParty: return LINECALLINFOSTATE_CALLEDID;
    case CallBlob::Display: return LINECALLINFOSTATE_DISPLAY;
    case CallBlob::UserUserInfo: return LINECALLINFOSTATE_USERUSERINFO;
    case CallBlob::HighLevelCompatibility: return LINECALLINFOSTATE_HIGHLEVELCOMP;
    case CallBlob::LowLevelCompatibility: return LINECALLINFOSTATE_LOWLEVELCOMP;
    case CallBlob::ChargingInfo: return LINECALLINFOSTATE_CHARGINGINFO;
    case CallBlob::DevSpecific: return LINECALLINFOSTATE_DEVSPECIFIC;
    case CallBlob::CallData: return LINECALLINFOSTATE_CALLDATA;
  }
  return LINECALLINFOSTATE_OTHER;
}

}  // namespace kvarsp
