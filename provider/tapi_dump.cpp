#include "provider/tapi_dump.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/codepage.h"
#include "provider/text_builder.h"
#include "tapi/tapi_constants.h"
#include "tapi/tapi_names.h"

namespace kvarsp {

using tapi::TapiFamily;
using tapi::TapiFlagWord;
using tapi::TapiValueName;

namespace {

constexpr size_t kMemberIndent = 2;
// Members of a forwarding entry sit this much deeper than the entry's line.
constexpr size_t kEntryIndent = 4;

// How the bytes of a size/offset member are shown.
enum class Content { Wide, Bytes, Binary };

Content ContentOfFormat(DWORD stringFormat) {
  switch (stringFormat) {
    case STRINGFORMAT_ASCII:
    case STRINGFORMAT_DBCS:
      return Content::Bytes;
    case STRINGFORMAT_UNICODE:
      return Content::Wide;
    default:
      // STRINGFORMAT_BINARY, and anything unknown is safest shown as bytes.
      return Content::Binary;
  }
}

DWORD ReadDword(const BYTE* at) {
  DWORD value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Prints the members of one structure whose bytes [base, base + totalSize)
// may be read; size/offset members are checked against totalSize.
class MemberPrinter {
 public:
  MemberPrinter(TextBuilder& out, const BYTE* base, DWORD totalSize)
      : out_(out), base_(base), totalSize_(totalSize) {}

  TextBuilder& out() { return out_; }
  const BYTE* base() const { return base_; }

  // Starts "->name = " on a new line; returns the value column.
  size_t begin(std::string_view name) {
    out_.newLine();
    out_.append("->");
    out_.append(name);
    out_.append(" = ");
    return out_.column();
  }

  void number(const char* name, DWORD value) {
    begin(name);
    out_.appendFormat("%u", value);
  }

  void flags(const char* name, TapiFamily family, DWORD value) {
    size_t column = begin(name);
    out_.append(TapiFlagWord(family, value, column));
  }

  void value(const char* name, TapiFamily family, DWORD v) {
    begin(name);
    out_.append(TapiValueName(family, v));
  }

  void handle(const char* name, size_t value) {
    begin(name);
    out_.appendFormat("0x%zx", value);
  }

  void dialParams(std::string_view name, const LINEDIALPARAMS& params) {
    std::string prefix(name);
    number((prefix + ".dwDialPause").c_str(), params.dwDialPause);
    number((prefix + ".dwDialSpeed").c_str(), params.dwDialSpeed);
    number((prefix + ".dwDigitDuration").c_str(), params.dwDigitDuration);
    number((prefix + ".dwWaitForDialtone").c_str(), params.dwWaitForDialtone);
  }

  void systemTime(const char* name, const SYSTEMTIME& time) {
    begin(name);
    out_.appendFormat("%02u.%02u.%04u %02u:%02u:%02u,%03u", time.wDay, time.wMonth, time.wYear, time.wHour,
                      time.wMinute, time.wSecond, time.wMilliseconds);
  }

  // A size/offset member. Returns true when its bytes lie inside the
  // structure (and were printed), false for "<empty>" and invalid ones.
  bool variable(const char* name, DWORD size, DWORD offset, Content content) {
    size_t column = begin(name);
    if (!inside(size, offset)) return false;
    const BYTE* bytes = base_ + offset;
    switch (content) {
      case Content::Wide:
        appendWide(bytes, size);
        break;
      case Content::Bytes:
        appendBytes(bytes, size);
        break;
      case Content::Binary:
        appendBinary(bytes, size, column);
        break;
    }
    appendSizeOffset(size, offset);
    return true;
  }

  // The start of a size/offset member whose contents the caller prints
  // itself. Returns true when they lie inside the structure.
  bool region(const char* name, DWORD size, DWORD offset) {
    begin(name);
    if (!inside(size, offset)) return false;
    appendSizeOffset(size, offset);
    return true;
  }

 private:
  // Writes "<empty>" or "<invalid size/offset ...>" unless the member's bytes
  // lie inside the structure. Overflow-safe: the sum is taken in 64 bits.
  bool inside(DWORD size, DWORD offset) {
    if (size == 0 || offset == 0) {
      out_.append("<empty>");
      return false;
    }
    if (std::uint64_t{offset} + size > totalSize_) {
      out_.appendFormat("<invalid size/offset (%3d/0x%03x)>", static_cast<int>(size), offset);
      return false;
    }
    return true;
  }

  void appendSizeOffset(DWORD size, DWORD offset) {
    out_.appendFormat("(%3d/0x%03x)", static_cast<int>(size), offset);
  }

  // UTF-16 text; an odd last byte is not part of any character.
  void appendWide(const BYTE* bytes, DWORD size) {
    out_.append("\"");
    for (DWORD i = 0; i + 1 < size; i += 2) {
      char16_t c;
      std::memcpy(&c, bytes + i, sizeof c);
      if (c == 0) {
        out_.append("\\0");
      } else if (c < 32 || c >= 128) {
        out_.appendFormat("\\x%04x", static_cast<unsigned>(c));
      } else {
        out_.append(1, static_cast<char>(c));
      }
    }
    out_.append("\" ");
  }

  // Text in the ANSI code page; characters from 128 are carried over into
  // the UTF-8 trace text.
  void appendBytes(const BYTE* bytes, DWORD size) {
    out_.append("\"");
    for (DWORD i = 0; i < size; ++i) {
      BYTE b = bytes[i];
      if (b == 0) {
        out_.append("\\0");
      } else if (b < 32) {
        out_.appendFormat("\\x%02x", static_cast<unsigned>(b));
      } else if (b < 128) {
        out_.append(1, static_cast<char>(b));
      } else {
        char ansi = static_cast<char>(b);
        out_.append(platform::ansiToUtf8(std::string_view(&ansi, 1)));
      }
    }
    out_.append("\" ");
  }

  // Eight bytes to a line; further lines start at the value column.
  void appendBinary(const BYTE* bytes, DWORD size, size_t column) {
    for (DWORD i = 0; i < size; ++i) {
      if (i != 0 && i % 8 == 0) out_.newLine(column);
      out_.appendFormat("0x%02x ", static_cast<unsigned>(bytes[i]));
    }
  }

  TextBuilder& out_;
  const BYTE* base_;
  DWORD totalSize_;
};

// The members of one forwarding entry, indented below its own line
// "->label[ index ]". String offsets count from the enclosing structure.
void PrintForwardEntry(MemberPrinter& p, const char* label, DWORD index, const LINEFORWARD& s) {
  TextBuilder& out = p.out();
  size_t indent = out.indent();
  out.newLine();
  out.appendFormat("->%s[ %u ]", label, index);
  out.setIndent(indent + kEntryIndent);
  p.value("dwForwardMode", TapiFamily::LineForwardMode, s.dwForwardMode);
  p.variable("dwCallerAddressSize/Offset", s.dwCallerAddressSize, s.dwCallerAddressOffset, Content::Wide);
  p.number("dwDestCountryCode", s.dwDestCountryCode);
  p.variable("dwDestAddressSize/Offset", s.dwDestAddressSize, s.dwDestAddressOffset, Content::Wide);
  out.setIndent(indent);
}

LINEFORWARD ReadForwardEntry(const BYTE* at) {
  LINEFORWARD entry;
  std::memcpy(&entry, at, sizeof entry);
  return entry;
}

// Writes the header line. Returns false when no members follow (null
// pointer or a structure smaller than fixedSize).
bool PrintHeader(TextBuilder& out, const char* name, const void* pointer, DWORD totalSize, std::uint64_t fixedSize) {
  out.appendFormat("%s = 0x%016zX", name, static_cast<size_t>(reinterpret_cast<std::uintptr_t>(pointer)));
  if (pointer == nullptr) return false;
  if (totalSize < fixedSize) {
    out.append(" (structure too short)");
    return false;
  }
  return true;
}

// Checks the header of structure T and copies its fixed part (fixedSize
// bytes; the rest of the copy stays zero). Returns false when no members
// follow.
template <typename T>
bool LoadFixedPart(TextBuilder& out, const char* name, const T* structure, size_t fixedSize, T& fixed,
                   DWORD& totalSize) {
  static_assert(offsetof(T, dwTotalSize) == 0);
  fixed = T{};
  totalSize = 0;
  if (structure != nullptr) totalSize = ReadDword(reinterpret_cast<const BYTE*>(structure));
  if (!PrintHeader(out, name, structure, totalSize, fixedSize)) return false;
  std::memcpy(&fixed, structure, std::min(fixedSize, sizeof(T)));
  out.setIndent(kMemberIndent);
  return true;
}

// The fixed part of a structure for a TSPI version: members from 1.4 or 2.0
// on count only for those versions.
size_t FixedSizeFor(DWORD tspiVersion, size_t size13, size_t size14, size_t size20) {
  if (tspiVersion >= TAPI_VERSION2_0) return size20;
  if (tspiVersion >= TAPI_VERSION1_4) return size14;
  return size13;
}

// Shorthands naming each member once, so that its text and its field agree.
// They expect a MemberPrinter p and the copied fixed part s.
#define KV_NUMBER(member) p.number(#member, s.member)
#define KV_FLAGS(member, family) p.flags(#member, TapiFamily::family, s.member)
#define KV_VALUE(member, family) p.value(#member, TapiFamily::family, s.member)
#define KV_VARIABLE(stem, content) \
  p.variable("dw" #stem "Size/Offset", s.dw##stem##Size, s.dw##stem##Offset, Content::content)
#define KV_TEXT(stem) \
  p.variable("dw" #stem "Size/Offset", s.dw##stem##Size, s.dw##stem##Offset, ContentOfFormat(s.dwStringFormat))
#define KV_DIALPARAMS(member) p.dialParams(#member, s.member)

void PrintSizes(MemberPrinter& p, DWORD totalSize, DWORD neededSize, DWORD usedSize) {
  p.number("dwTotalSize", totalSize);
  p.number("dwNeededSize", neededSize);
  p.number("dwUsedSize", usedSize);
}

}  // namespace

std::string DumpLineCallParams(const char* name, const LINECALLPARAMS* params, DWORD tspiVersion) {
  const bool v20 = tspiVersion >= TAPI_VERSION2_0;
  TextBuilder out;
  LINECALLPARAMS s;
  DWORD totalSize;
  size_t fixedSize = v20 ? sizeof(LINECALLPARAMS) : offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates);
  if (!LoadFixedPart(out, name, params, fixedSize, s, totalSize)) return out.take();
  MemberPrinter p(out, reinterpret_cast<const BYTE*>(params), totalSize);
  KV_NUMBER(dwTotalSize);
  KV_VALUE(dwBearerMode, LineBearerMode);
  KV_NUMBER(dwMinRate);
  KV_NUMBER(dwMaxRate);
  KV_FLAGS(dwMediaMode, LineMediaMode);
  KV_FLAGS(dwCallParamFlags, LineCallParamFlags);
  KV_VALUE(dwAddressMode, LineAddressMode);
  KV_NUMBER(dwAddressID);
  KV_DIALPARAMS(DialParams);
  KV_VARIABLE(OrigAddress, Wide);
  KV_VARIABLE(DisplayableAddress, Wide);
  KV_VARIABLE(CalledParty, Wide);
  KV_VARIABLE(Comment, Wide);
  KV_VARIABLE(UserUserInfo, Binary);
  KV_VARIABLE(HighLevelComp, Binary);
  KV_VARIABLE(LowLevelComp, Binary);
  KV_VARIABLE(DevSpecific, Binary);
  if (v20) {
    KV_FLAGS(dwPredictiveAutoTransferStates, LineCallState);
    KV_VARIABLE(TargetAddress, Wide);
    KV_VARIABLE(SendingFlowspec, Binary);
    KV_VARIABLE(ReceivingFlowspec, Binary);
    KV_VARIABLE(DeviceClass, Wide);
    KV_VARIABLE(DeviceConfig, Binary);
    KV_VARIABLE(CallData, Binary);
    KV_NUMBER(dwNoAnswerTimeout);
    KV_VARIABLE(CallingPartyID, Wide);
  }
  return out.take();
}

std::string DumpLineForwardList(const char* name, const LINEFORWARDLIST* list, DWORD /*tspiVersion*/) {
  // The fixed part is the two counts and every entry the list announces.
  constexpr size_t kHeadSize = offsetof(LINEFORWARDLIST, ForwardList);
  TextBuilder out;
  const BYTE* base = reinterpret_cast<const BYTE*>(list);
  DWORD totalSize = list != nullptr ? ReadDword(base) : 0;
  DWORD numEntries = 0;
  std::uint64_t fixedSize = kHeadSize;
  if (list != nullptr && totalSize >= kHeadSize) {
    numEntries = ReadDword(base + offsetof(LINEFORWARDLIST, dwNumEntries));
    fixedSize += std::uint64_t{numEntries} * sizeof(LINEFORWARD);
  }
  if (!PrintHeader(out, name, list, totalSize, fixedSize)) return out.take();
  out.setIndent(kMemberIndent);
  MemberPrinter p(out, base, totalSize);
  p.number("dwTotalSize", totalSize);
  p.number("dwNumEntries", numEntries);
  for (DWORD i = 0; i < numEntries; ++i) {
    PrintForwardEntry(p, "ForwardList", i, ReadForwardEntry(base + kHeadSize + size_t{i} * sizeof(LINEFORWARD)));
  }
  return out.take();
}

std::string DumpLineDevCaps(const char* name, const LINEDEVCAPS* caps, DWORD tspiVersion) {
  TextBuilder out;
  LINEDEVCAPS s;
  DWORD totalSize;
  size_t fixedSize = FixedSizeFor(tspiVersion, offsetof(LINEDEVCAPS, dwLineFeatures),
                                  offsetof(LINEDEVCAPS, dwSettableDevStatus), sizeof(LINEDEVCAPS));
  if (!LoadFixedPart(out, name, caps, fixedSize, s, totalSize)) return out.take();
  MemberPrinter p(out, reinterpret_cast<const BYTE*>(caps), totalSize);
  PrintSizes(p, s.dwTotalSize, s.dwNeededSize, s.dwUsedSize);
  KV_TEXT(ProviderInfo);
  KV_TEXT(SwitchInfo);
  KV_NUMBER(dwPermanentLineID);
  KV_TEXT(LineName);
  KV_VALUE(dwStringFormat, StringFormat);
  KV_FLAGS(dwAddressModes, LineAddressMode);
  KV_NUMBER(dwNumAddresses);
  KV_FLAGS(dwBearerModes, LineBearerMode);
  KV_NUMBER(dwMaxRate);
  KV_FLAGS(dwMediaModes, LineMediaMode);
  KV_FLAGS(dwGenerateToneModes, LineToneMode);
  KV_NUMBER(dwGenerateToneMaxNumFreq);
  KV_FLAGS(dwGenerateDigitModes, LineDigitMode);
  KV_NUMBER(dwMonitorToneMaxNumFreq);
  KV_NUMBER(dwMonitorToneMaxNumEntries);
  KV_FLAGS(dwMonitorDigitModes, LineDigitMode);
  KV_NUMBER(dwGatherDigitsMinTimeout);
  KV_NUMBER(dwGatherDigitsMaxTimeout);
  KV_NUMBER(dwMedCtlDigitMaxListSize);
  KV_NUMBER(dwMedCtlMediaMaxListSize);
  KV_NUMBER(dwMedCtlToneMaxListSize);
  KV_NUMBER(dwMedCtlCallStateMaxListSize);
  KV_FLAGS(dwDevCapFlags, LineDevCapFlags);
  KV_NUMBER(dwMaxNumActiveCalls);
  KV_FLAGS(dwAnswerMode, LineAnswerMode);
  KV_NUMBER(dwRingModes);
  KV_FLAGS(dwLineStates, LineDevState);
  KV_NUMBER(dwUUIAcceptSize);
  KV_NUMBER(dwUUIAnswerSize);
  KV_NUMBER(dwUUIMakeCallSize);
  KV_NUMBER(dwUUIDropSize);
  KV_NUMBER(dwUUISendUserUserInfoSize);
  KV_NUMBER(dwUUICallInfoSize);
  KV_DIALPARAMS(MinDialParams);
  KV_DIALPARAMS(MaxDialParams);
  KV_DIALPARAMS(DefaultDialParams);
  KV_NUMBER(dwNumTerminals);
  KV_VARIABLE(TerminalCaps, Binary);
  KV_NUMBER(dwTerminalTextEntrySize);
  KV_TEXT(TerminalText);
  KV_VARIABLE(DevSpecific, Binary);
  if (tspiVersion >= TAPI_VERSION1_4) KV_FLAGS(dwLineFeatures, LineFeature);
  if (tspiVersion >= TAPI_VERSION2_0) {
    KV_FLAGS(dwSettableDevStatus, LineDevStatusFlags);
    // A list of NUL-separated device class names.
    KV_VARIABLE(DeviceClasses, Wide);
  }
  return out.take();
}

std::string DumpLineAddressCaps(const char* name, const LINEADDRESSCAPS* caps, DWORD tspiVersion) {
  TextBuilder out;
  LINEADDRESSCAPS s;
  DWORD totalSize;
  size_t fixedSize = FixedSizeFor(tspiVersion, offsetof(LINEADDRESSCAPS, dwAddressFeatures),
                                  offsetof(LINEADDRESSCAPS, dwPredictiveAutoTransferStates), sizeof(LINEADDRESSCAPS));
  if (!LoadFixedPart(out, name, caps, fixedSize, s, totalSize)) return out.take();
  MemberPrinter p(out, reinterpret_cast<const BYTE*>(caps), totalSize);
  PrintSizes(p, s.dwTotalSize, s.dwNeededSize, s.dwUsedSize);
  KV_NUMBER(dwLineDeviceID);
  KV_VARIABLE(Address, Wide);
  KV_VARIABLE(DevSpecific, Binary);
  KV_VALUE(dwAddressSharing, LineAddressSharing);
  KV_FLAGS(dwAddressStates, LineAddressState);
  KV_FLAGS(dwCallInfoStates, LineCallInfoState);
  KV_FLAGS(dwCallerIDFlags, LineCallPartyId);
  KV_FLAGS(dwCalledIDFlags, LineCallPartyId);
  KV_FLAGS(dwConnectedIDFlags, LineCallPartyId);
  KV_FLAGS(dwRedirectionIDFlags, LineCallPartyId);
  KV_FLAGS(dwRedirectingIDFlags, LineCallPartyId);
  KV_FLAGS(dwCallStates, LineCallState);
  KV_FLAGS(dwDialToneModes, LineDialToneMode);
  KV_FLAGS(dwBusyModes, LineBusyMode);
  KV_FLAGS(dwSpecialInfo, LineSpecialInfo);
  KV_FLAGS(dwDisconnectModes, LineDisconnectMode);
  KV_NUMBER(dwMaxNumActiveCalls);
  KV_NUMBER(dwMaxNumOnHoldCalls);
  KV_NUMBER(dwMaxNumOnHoldPendingCalls);
  KV_NUMBER(dwMaxNumConference);
  KV_NUMBER(dwMaxNumTransConf);
  KV_FLAGS(dwAddrCapFlags, LineAddrCapFlags);
  KV_FLAGS(dwCallFeatures, LineCallFeature);
  KV_VALUE(dwRemoveFromConfCaps, LineRemoveFromConf);
  KV_FLAGS(dwRemoveFromConfState, LineCallState);
  KV_FLAGS(dwTransferModes, LineTransferMode);
  KV_FLAGS(dwParkModes, LineParkMode);
  KV_FLAGS(dwForwardModes, LineForwardMode);
  KV_NUMBER(dwMaxForwardEntries);
  KV_NUMBER(dwMaxSpecificEntries);
  KV_NUMBER(dwMinFwdNumRings);
  KV_NUMBER(dwMaxFwdNumRings);
  KV_NUMBER(dwMaxCallCompletions);
  KV_FLAGS(dwCallCompletionConds, LineCallComplCond);
  KV_FLAGS(dwCallCompletionModes, LineCallComplMode);
  KV_NUMBER(dwNumCompletionMessages);
  KV_NUMBER(dwCompletionMsgTextEntrySize);
  KV_VARIABLE(CompletionMsgText, Wide);
  if (tspiVersion >= TAPI_VERSION1_4) KV_FLAGS(dwAddressFeatures, LineAddrFeature);
  if (tspiVersion >= TAPI_VERSION2_0) {
    KV_FLAGS(dwPredictiveAutoTransferStates, LineCallState);
    KV_NUMBER(dwNumCallTreatments);
    KV_VARIABLE(CallTreatmentList, Binary);
    KV_VARIABLE(DeviceClasses, Wide);
    KV_NUMBER(dwMaxCallDataSize);
    KV_FLAGS(dwCallFeatures2, LineCallFeature2);
    KV_NUMBER(dwMaxNoAnswerTimeout);
    KV_FLAGS(dwConnectedModes, LineConnectedMode);
    KV_FLAGS(dwOfferingModes, LineOfferingMode);
    KV_FLAGS(dwAvailableMediaModes, LineMediaMode);
  }
  return out.take();
}

std::string DumpLineAddressStatus(const char* name, const LINEADDRESSSTATUS* status, DWORD /*tspiVersion*/) {
  TextBuilder out;
  LINEADDRESSSTATUS s;
  DWORD totalSize;
  if (!LoadFixedPart(out, name, status, sizeof(LINEADDRESSSTATUS), s, totalSize)) return out.take();
  const BYTE* base = reinterpret_cast<const BYTE*>(status);
  MemberPrinter p(out, base, totalSize);
  PrintSizes(p, s.dwTotalSize, s.dwNeededSize, s.dwUsedSize);
  KV_NUMBER(dwNumInUse);
  KV_NUMBER(dwNumActiveCalls);
  KV_NUMBER(dwNumOnHoldCalls);
  KV_NUMBER(dwNumOnHoldPendCalls);
  KV_FLAGS(dwAddressFeatures, LineAddrFeature);
  KV_NUMBER(dwNumRingsNoAnswer);
  KV_NUMBER(dwForwardNumEntries);
  if (p.region("dwForwardSize/Offset", s.dwForwardSize, s.dwForwardOffset)) {
    // Only entries that lie wholly inside the member are shown.
    DWORD entries = std::min<DWORD>(s.dwForwardNumEntries, s.dwForwardSize / sizeof(LINEFORWARD));
    size_t indent = out.indent();
    out.setIndent(indent + kEntryIndent);
    for (DWORD i = 0; i < entries; ++i) {
      PrintForwardEntry(p, "Forward", i,
                        ReadForwardEntry(base + s.dwForwardOffset + size_t{i} * sizeof(LINEFORWARD)));
    }
    out.setIndent(indent);
  }
  KV_VARIABLE(TerminalModes, Binary);
  KV_VARIABLE(DevSpecific, Binary);
  return out.take();
}

std::string DumpLineDevStatus(const char* name, const LINEDEVSTATUS* status, DWORD tspiVersion) {
  const bool v20 = tspiVersion >= TAPI_VERSION2_0;
  TextBuilder out;
  LINEDEVSTATUS s;
  DWORD totalSize;
  size_t fixedSize = v20 ? sizeof(LINEDEVSTATUS) : offsetof(LINEDEVSTATUS, dwAvailableMediaModes);
  if (!LoadFixedPart(out, name, status, fixedSize, s, totalSize)) return out.take();
  MemberPrinter p(out, reinterpret_cast<const BYTE*>(status), totalSize);
  PrintSizes(p, s.dwTotalSize, s.dwNeededSize, s.dwUsedSize);
  KV_NUMBER(dwNumOpens);
  KV_FLAGS(dwOpenMediaModes, LineMediaMode);
  KV_NUMBER(dwNumActiveCalls);
  KV_NUMBER(dwNumOnHoldCalls);
  KV_NUMBER(dwNumOnHoldPendCalls);
  KV_FLAGS(dwLineFeatures, LineFeature);
  KV_NUMBER(dwNumCallCompletions);
  KV_NUMBER(dwRingMode);
  KV_NUMBER(dwSignalLevel);
  KV_NUMBER(dwBatteryLevel);
  KV_VALUE(dwRoamMode, LineRoamMode);
  KV_FLAGS(dwDevStatusFlags, LineDevStatusFlags);
  KV_VARIABLE(TerminalModes, Binary);
  KV_VARIABLE(DevSpecific, Binary);
  if (v20) {
    KV_FLAGS(dwAvailableMediaModes, LineMediaMode);
    KV_VARIABLE(AppInfo, Binary);
  }
  return out.take();
}

std::string DumpLineCallInfo(const char* name, const LINECALLINFO* info, DWORD tspiVersion) {
  const bool v20 = tspiVersion >= TAPI_VERSION2_0;
  TextBuilder out;
  LINECALLINFO s;
  DWORD totalSize;
  size_t fixedSize = v20 ? sizeof(LINECALLINFO) : offsetof(LINECALLINFO, dwCallTreatment);
  if (!LoadFixedPart(out, name, info, fixedSize, s, totalSize)) return out.take();
  MemberPrinter p(out, reinterpret_cast<const BYTE*>(info), totalSize);
  PrintSizes(p, s.dwTotalSize, s.dwNeededSize, s.dwUsedSize);
  p.handle("hLine", s.hLine);
  KV_NUMBER(dwLineDeviceID);
  KV_NUMBER(dwAddressID);
  KV_VALUE(dwBearerMode, LineBearerMode);
  KV_NUMBER(dwRate);
  KV_FLAGS(dwMediaMode, LineMediaMode);
  KV_NUMBER(dwAppSpecific);
  KV_NUMBER(dwCallID);
  KV_NUMBER(dwRelatedCallID);
  KV_FLAGS(dwCallParamFlags, LineCallParamFlags);
  KV_FLAGS(dwCallStates, LineCallState);
  KV_FLAGS(dwMonitorDigitModes, LineDigitMode);
  KV_FLAGS(dwMonitorMediaModes, LineMediaMode);
  KV_DIALPARAMS(DialParams);
  KV_VALUE(dwOrigin, LineCallOrigin);
  KV_VALUE(dwReason, LineCallReason);
  KV_NUMBER(dwCompletionID);
  KV_NUMBER(dwNumOwners);
  KV_NUMBER(dwNumMonitors);
  KV_NUMBER(dwCountryCode);
  KV_NUMBER(dwTrunk);
  KV_FLAGS(dwCallerIDFlags, LineCallPartyId);
  KV_VARIABLE(CallerID, Wide);
  KV_VARIABLE(CallerIDName, Wide);
  KV_FLAGS(dwCalledIDFlags, LineCallPartyId);
  KV_VARIABLE(CalledID, Wide);
  KV_VARIABLE(CalledIDName, Wide);
  KV_FLAGS(dwConnectedIDFlags, LineCallPartyId);
  KV_VARIABLE(ConnectedID, Wide);
  KV_VARIABLE(ConnectedIDName, Wide);
  KV_FLAGS(dwRedirectionIDFlags, LineCallPartyId);
  KV_VARIABLE(RedirectionID, Wide);
  KV_VARIABLE(RedirectionIDName, Wide);
  KV_FLAGS(dwRedirectingIDFlags, LineCallPartyId);
  KV_VARIABLE(RedirectingID, Wide);
  KV_VARIABLE(RedirectingIDName, Wide);
  KV_VARIABLE(AppName, Wide);
  KV_VARIABLE(DisplayableAddress, Wide);
  KV_VARIABLE(CalledParty, Wide);
  KV_VARIABLE(Comment, Wide);
  KV_VARIABLE(Display, Wide);
  KV_VARIABLE(UserUserInfo, Binary);
  KV_VARIABLE(HighLevelComp, Binary);
  KV_VARIABLE(LowLevelComp, Binary);
  KV_VARIABLE(ChargingInfo, Binary);
  KV_VARIABLE(TerminalModes, Binary);
  KV_VARIABLE(DevSpecific, Binary);
  if (v20) {
    KV_VALUE(dwCallTreatment, LineCallTreatment);
    KV_VARIABLE(CallData, Binary);
    KV_VARIABLE(SendingFlowspec, Binary);
    KV_VARIABLE(ReceivingFlowspec, Binary);
  }
  return out.take();
}

std::string DumpLineCallStatus(const char* name, const LINECALLSTATUS* status, DWORD tspiVersion) {
  const bool v20 = tspiVersion >= TAPI_VERSION2_0;
  TextBuilder out;
  LINECALLSTATUS s;
  DWORD totalSize;
  size_t fixedSize = v20 ? sizeof(LINECALLSTATUS) : offsetof(LINECALLSTATUS, dwCallFeatures2);
  if (!LoadFixedPart(out, name, status, fixedSize, s, totalSize)) return out.take();
  MemberPrinter p(out, reinterpret_cast<const BYTE*>(status), totalSize);
  PrintSizes(p, s.dwTotalSize, s.dwNeededSize, s.dwUsedSize);
  KV_VALUE(dwCallState, LineCallState);
  // The mode's meaning depends on the state; states without modes show the number.
  switch (s.dwCallState) {
    case LINECALLSTATE_OFFERING:
      KV_VALUE(dwCallStateMode, LineOfferingMode);
      break;
    case LINECALLSTATE_DIALTONE:
      KV_VALUE(dwCallStateMode, LineDialToneMode);
      break;
    case LINECALLSTATE_BUSY:
      KV_VALUE(dwCallStateMode, LineBusyMode);
      break;
    case LINECALLSTATE_SPECIALINFO:
      KV_VALUE(dwCallStateMode, LineSpecialInfo);
      break;
    case LINECALLSTATE_CONNECTED:
      KV_VALUE(dwCallStateMode, LineConnectedMode);
      break;
    case LINECALLSTATE_DISCONNECTED:
      KV_VALUE(dwCallStateMode, LineDisconnectMode);
      break;
    default:
      KV_NUMBER(dwCallStateMode);
      break;
  }
  KV_VALUE(dwCallPrivilege, LineCallPrivilege);
  KV_FLAGS(dwCallFeatures, LineCallFeature);
  KV_VARIABLE(DevSpecific, Binary);
  if (v20) {
    KV_FLAGS(dwCallFeatures2, LineCallFeature2);
    p.systemTime("tStateEntryTime", s.tStateEntryTime);
  }
  return out.take();
}

std::string DumpVarString(const char* name, const VARSTRING* varString, DWORD /*tspiVersion*/) {
  TextBuilder out;
  VARSTRING s;
  DWORD totalSize;
  if (!LoadFixedPart(out, name, varString, sizeof(VARSTRING), s, totalSize)) return out.take();
  MemberPrinter p(out, reinterpret_cast<const BYTE*>(varString), totalSize);
  PrintSizes(p, s.dwTotalSize, s.dwNeededSize, s.dwUsedSize);
  KV_VALUE(dwStringFormat, StringFormat);
  KV_TEXT(String);
  return out.take();
}

#undef KV_NUMBER
#undef KV_FLAGS
#undef KV_VALUE
#undef KV_VARIABLE
#undef KV_TEXT
#undef KV_DIALPARAMS

}  // namespace kvarsp
