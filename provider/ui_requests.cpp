// The configuration dialog's requests on the provider's configuration, as
// they arrive through TSPI_providerGenericDialogData.
#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "platform/profile.h"
#include "provider/config_store.h"
#include "provider/dialog_requests.h"

namespace kvarsp {
namespace {

// The input string at argument 1, never read beyond its field.
std::u16string InputText(const UiRequestBlock& block) {
  std::u16string text;
  for (size_t i = 0; i + 1 < kUiInputChars && block.inputText[i] != u'\0'; ++i) text.push_back(block.inputText[i]);
  return text;
}

// Writes the output string, cut to its field.
void SetOutputText(UiRequestBlock& block, std::u16string_view text) {
  size_t n = text.size() < kUiOutputChars - 1 ? text.size() : kUiOutputChars - 1;
  text.copy(block.outputText, n);
  block.outputText[n] = u'\0';
}

// Copies text to the output; 1 for a valid entry, 0 (and an empty string) for none.
uint32_t Answer(UiRequestBlock& block, const std::u16string* text) {
  SetOutputText(block, text ? std::u16string_view(*text) : std::u16string_view());
  return text ? 1 : 0;
}

PrefixKind PrefixOf(uint32_t request) {
  switch (request) {
    case UIREQ_SET_OUTSIDE_PREFIX:
    case UIREQ_GET_OUTSIDE_PREFIX: return PrefixKind::OutsideLine;
    case UIREQ_SET_LONGDIST_PREFIX:
    case UIREQ_GET_LONGDIST_PREFIX: return PrefixKind::LongDistance;
    default: return PrefixKind::International;
  }
}

constexpr char16_t kTelephonySection[] = u"Windows Telephony";

// Stamps the telephony settings as changed and tells everyone who listens.
void AnnounceTelephonyChange(const platform::SystemTime& now) {
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", now.year, now.month, now.day, now.hour,
                now.minute, now.second);
  platform::writeProfileString(kTelephonySection, u"TelephonINIChanged", platform::utf8ToWide(stamp));
  platform::broadcastSettingChange(kTelephonySection);
}

}  // namespace

DialogRequests::DialogRequests(CCritSec& lock, LinkInterface& link, ConfigTables& config, const CallModel& calls,
                               const LineDirectory& directory, ProviderSession& session, ProviderLifecycle& lifecycle,
                               platform::Clock& clock)
    : lock_(lock),
      link_(link),
      config_(config),
      calls_(calls),
      directory_(directory),
      session_(session),
      lifecycle_(lifecycle),
      clock_(clock) {}

LONG DialogRequests::GenericDialogData(DWORD_PTR, DWORD, LPVOID params, DWORD size) {
  // The block is read and written in place; a shorter one would be overrun.
  if (!params || size < sizeof(UiRequestBlock)) return LINEERR_INVALPARAM;
  HandleUiRequest(*static_cast<UiRequestBlock*>(params));
  return 0;
}

void DialogRequests::HandleUiRequest(UiRequestBlock& block) {
  ScopedLock lock(&lock_);
  const uint32_t x = block.x;
  const uint32_t y = block.y;
  uint32_t& result = block.result;
  auto line = [&]() -> LineConfigEntry* { return x < config_.lines.size() ? &config_.lines[x] : nullptr; };

  switch (block.request) {
    case UIREQ_LOCK:
      if (configurationOpen_ && x) {
        result = 0;
      } else {
        configurationOpen_ = x;
        result = 1;
      }
      break;
    case UIREQ_LINK_INIT: {
      uint32_t status = 0;
      result = static_cast<uint32_t>(link_.Load(&status));
      block.outputMessageId = status;
      break;
    }
    case UIREQ_LINK_EXIT: result = static_cast<uint32_t>(link_.Unload()); break;
    case UIREQ_GET_EXT_COUNT: result = static_cast<uint32_t>(config_.lines.size()); break;
    case UIREQ_GET_EXT_ADDRESS: result = Answer(block, line() ? &line()->address : nullptr); break;
    case UIREQ_GET_MSN_COUNT: result = static_cast<uint32_t>(config_.msns.size()); break;
    case UIREQ_GET_MSN_ADDRESS: result = Answer(block, x < config_.msns.size() ? &config_.msns[x].address : nullptr); break;
    case UIREQ_GET_EXT_MSN_COUNT: result = line() ? line()->msnCount : 0; break;
    case UIREQ_GET_EXT_MSN: {
      const MsnEntry* msn = nullptr;
      if (line() && y < line()->msnCount) msn = config_.FindMsn(line()->msnIndexes[y]);
      result = Answer(block, msn ? &msn->address : nullptr);
      break;
    }
    case UIREQ_PBX_CONNECT: result = static_cast<uint32_t>(link_.LinkStart(static_cast<uint8_t>(x), lock)); break;
    case UIREQ_PBX_DISCONNECT: result = static_cast<uint32_t>(link_.LinkEnd(lock)); break;
    case UIREQ_PBX_READ: result = static_cast<uint32_t>(link_.GetAddressList(lock)); break;
    case UIREQ_GET_LINE_NAME: SetOutputText(block, ReadLineName(session_.permanentProviderId, kUiOutputChars)); break;
    case UIREQ_SET_LINE_NAME: WriteLineName(session_.permanentProviderId, InputText(block)); break;
    case UIREQ_GET_LOG_TAPI: result = ReadLogTapi() ? 1 : 0; break;
    case UIREQ_GET_LOG_VNL: result = ReadLogCti() ? 1 : 0; break;
    case UIREQ_IS_IN_USE: result = calls_.AnyLineOpen() ? 1 : 0; break;
    case UIREQ_IS_FIRST_CONFIG: result = ReadFirstConfig() == 0 ? 1 : 0; break;
    case UIREQ_RELOAD: lifecycle_.ReloadConfiguration(); break;
    case UIREQ_SAVE: lifecycle_.SaveAndRebuildDevices(); break;
    case UIREQ_SET_FIRST_CONFIG: WriteFirstConfig(x); break;
    case UIREQ_SET_PROVIDER_ID: session_.permanentProviderId = x; break;
    case UIREQ_SET_NUM_PHONES: WriteNumPhones(session_.permanentProviderId, x); break;
    case UIREQ_IS_INITIALIZED: result = session_.initCount > 0 ? 1 : 0; break;
    case UIREQ_IS_OWN_LINE: result = directory_.LineIndexOf(x) ? 1 : 0; break;
    case UIREQ_NOTIFY_TAPI: AnnounceTelephonyChange(clock_.localTime()); break;
    case UIREQ_SET_OUTSIDE_PREFIX:
    case UIREQ_SET_LONGDIST_PREFIX:
    case UIREQ_SET_INTL_PREFIX:
      WriteDialPrefix(PrefixOf(block.request), session_.permanentProviderId, y, InputText(block));
      result = 1;
      break;
    case UIREQ_GET_OUTSIDE_PREFIX:
    case UIREQ_GET_LONGDIST_PREFIX:
    case UIREQ_GET_INTL_PREFIX: {
      DialPrefix prefix = ReadDialPrefix(PrefixOf(block.request), session_.permanentProviderId, kUiOutputChars);
      SetOutputText(block, prefix.prefix);
      result = prefix.use ? 1 : 0;
      break;
    }
    case UIREQ_GET_EXT_IN_USE: result = line() && line()->inUse ? 1 : 0; break;
    case UIREQ_SET_EXT_IN_USE:
      if (line()) line()->inUse = y != 0;
      break;
    case UIREQ_GET_EXT_LINE_ID: result = line() ? line()->pbxLineId : 0; break;
    case UIREQ_SET_HANDSFREE:
      if (line()) line()->handsfreeMode = static_cast<uint8_t>(y);
      break;
    case UIREQ_GET_HANDSFREE: result = line() ? line()->handsfreeMode : 0; break;
    case UIREQ_SAVE_HANDSFREE: SaveHandsfreeModes(config_); break;
    default: break;
  }
}

}  // namespace kvarsp
