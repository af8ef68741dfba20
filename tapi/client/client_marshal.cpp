#include "tapi/client/client_marshal.h"

#include <algorithm>
#include <vector>

#include "platform/codepage.h"
#include "platform/debug_output.h"
#include "tapi/client/client_ansi.h"
#include "tapi/tapi_constants.h"

namespace tapi32 {

namespace {

LONG malformed(tapiwire::Function function) {
  platform::outputDebugStringA("TAPI32: the telephony service's reply to " +
                               tapiwire::functionName(static_cast<uint32_t>(function)) + " is malformed\n");
  return LINEERR_OPERATIONFAILED;
}

DWORD totalSize(const void* structure) {
  DWORD total = 0;
  std::memcpy(&total, structure, sizeof total);
  return total;
}

}  // namespace

LONG checkOut(void* structure, size_t fixedSize) {
  if (structure == nullptr) return LINEERR_INVALPOINTER;
  const DWORD total = totalSize(structure);
  if (total >= fixedSize) return 0;
  if (total >= 2 * sizeof(DWORD)) {
    const DWORD needed = static_cast<DWORD>(fixedSize);
    std::memcpy(static_cast<uint8_t*>(structure) + sizeof(DWORD), &needed, sizeof needed);
  }
  return LINEERR_STRUCTURETOOSMALL;
}

bool tooLarge(const void* structure) {
  return structure != nullptr && totalSize(structure) > tapiwire::kMaxMessageSize;
}

std::optional<std::span<const uint8_t>> inStructure(const void* structure) {
  if (structure == nullptr) return std::nullopt;
  return std::span<const uint8_t>(static_cast<const uint8_t*>(structure), totalSize(structure));
}

std::optional<std::span<const uint8_t>> fixedBlock(const void* block, size_t size) {
  if (block == nullptr) return std::nullopt;
  return std::span<const uint8_t>(static_cast<const uint8_t*>(block), size);
}

std::optional<std::vector<uint8_t>> callParamsBlock(const LINECALLPARAMS* params, bool ansi, DWORD apiVersion) {
  if (params == nullptr) return std::nullopt;
  std::span<const uint8_t> given = *inStructure(params);
  if (ansi) return ansi::widenCallParams(given, apiVersion);
  return std::vector<uint8_t>(given.begin(), given.end());
}

std::optional<std::span<const uint8_t>> view(const std::optional<std::vector<uint8_t>>& block) {
  if (!block) return std::nullopt;
  return std::span<const uint8_t>(*block);
}

std::optional<std::span<const uint8_t>> userBytes(const void* data, DWORD size) {
  if (data == nullptr) return std::nullopt;
  return std::span<const uint8_t>(static_cast<const uint8_t*>(data), size);
}

std::optional<std::u16string> ansiText(LPCSTR text) {
  if (text == nullptr) return std::nullopt;
  return platform::ansiToWide(text);
}

std::optional<std::u16string> wideText(LPCWSTR text) {
  if (text == nullptr) return std::nullopt;
  return std::u16string(text);
}

std::optional<std::u16string_view> view(const std::optional<std::u16string>& text) {
  if (!text) return std::nullopt;
  return std::u16string_view(*text);
}

LONG callForHandles(App& app, tapiwire::Function function, const Args& args,
                    std::initializer_list<DWORD*> handles, AttachmentWriter attachment) {
  Reply reply = app.connection().call(function, args, std::move(attachment));
  if (reply.failed()) return reply.result();
  std::vector<DWORD> values;
  for (size_t i = 0; i < handles.size(); ++i) values.push_back(reply.values().u32());
  if (!reply.valuesOk()) return malformed(function);
  size_t i = 0;
  for (DWORD* place : handles) {
    if (place) *place = values[i];
    ++i;
  }
  return reply.result();
}

LONG callOnly(tapiwire::Function function, HCALL hCall, const Args& args) {
  std::shared_ptr<App> app = apps().forCall(hCall);
  if (!app) return LINEERR_INVALCALLHANDLE;
  return callForHandles(*app, function, [&](tapiwire::Writer& w) {
    w.u32(hCall);
    if (args) args(w);
  }, {});
}

LONG callAndAddress(tapiwire::Function function, HCALL hCall, const std::optional<std::u16string>& dest,
                    DWORD countryCode) {
  if (!dest) return LINEERR_INVALPOINTER;
  return callOnly(function, hCall, [&](tapiwire::Writer& w) { w.text(view(dest)).u32(countryCode); });
}

void copyStructure(std::span<const uint8_t> data, void* structure) {
  const DWORD total = totalSize(structure);
  std::memcpy(structure, data.data(), std::min<size_t>(data.size(), total));
  std::memcpy(structure, &total, sizeof total);
}

LONG callForStructure(App& app, tapiwire::Function function, const Args& args, void* structure) {
  Reply reply = app.connection().call(function, args);
  if (reply.failed()) return reply.result();
  std::optional<std::vector<uint8_t>> data = reply.values().bytes();
  if (!reply.valuesOk() || !data) return malformed(function);
  copyStructure(*data, structure);
  return reply.result();
}

}  // namespace tapi32
