#include "ui/provider/kvarui_requests.h"

#include <algorithm>
#include <cstdio>

#include "common/trace_file.h"
#include "tapi/tapi_constants.h"
#include "tapi/tapi_names.h"

namespace ui::provider {

namespace {

constexpr uint32_t kLinkInitFailure = 0xFFFFFFFFu;
constexpr int kGeneralErrorMessage = 32;

const char* objectTypeName(DWORD type) {
  switch (type) {
    case TUISPIDLL_OBJECT_LINEID: return "TUISPIDLL_OBJECT_LINEID";
    case TUISPIDLL_OBJECT_PHONEID: return "TUISPIDLL_OBJECT_PHONEID";
    case TUISPIDLL_OBJECT_PROVIDERID: return "TUISPIDLL_OBJECT_PROVIDERID";
    case TUISPIDLL_OBJECT_DIALOGINSTANCE: return "TUISPIDLL_OBJECT_DIALOGINSTANCE";
    default: return "<unknown>";
  }
}

// The output text when its terminator lies inside the field; empty otherwise.
std::u16string_view replyText(const UiRequestBlock& block) {
  const char16_t* begin = block.outputText;
  const char16_t* end = std::find(begin, begin + kvarsp::kUiOutputChars, u'\0');
  if (end == begin + kvarsp::kUiOutputChars) return {};
  return {begin, static_cast<size_t>(end - begin)};
}

UiRequestBlock freshBlock(uint32_t code, uint32_t arg1, uint32_t arg2) {
  UiRequestBlock block{};
  block.request = code;
  block.x = arg1;
  block.y = arg2;
  return block;
}

}  // namespace

CallbackTarget& CurrentTarget() {
  static CallbackTarget target;
  return target;
}

std::string ResultText(LONG result) {
  if (result > 0) {
    char text[48];
    std::snprintf(text, sizeof text, "dwRequestID (0x%lx)", static_cast<unsigned long>(result));
    return text;
  }
  if (result == 0) return "SUCCESS";
  const char* name = tapi::LineResultName(result);
  return name != nullptr ? name : "<unknown>";
}

void TraceReturn(const char* function, LONG result) {
  WriteTraceFile(TraceFile::Tapi, "%s return %s", function, ResultText(result).c_str());
}

bool SendRequest(UiRequestBlock& block) {
  const CallbackTarget target = CurrentTarget();
  WriteTraceFile(TraceFile::Tapi,
                 "lpfnUIDLLCallback\n  (\n  dwObjectID = 0x%08zx\n  dwObjectType = %s\n  lpParams = 0x%016zX\n"
                 "  dwSize = %u\n  )",
                 static_cast<size_t>(target.objectId), objectTypeName(target.objectType),
                 static_cast<size_t>(reinterpret_cast<uintptr_t>(&block)),
                 static_cast<unsigned>(sizeof(UiRequestBlock)));
  if (target.callback == nullptr) return false;
  const LONG rc = target.callback(target.objectId, target.objectType, &block, sizeof(UiRequestBlock));
  TraceReturn("lpfnUIDLLCallback()", rc);
  return rc == 0;
}

uint32_t RequestValue(uint32_t code, uint32_t arg1, uint32_t arg2, uint32_t failure) {
  UiRequestBlock block = freshBlock(code, arg1, arg2);
  return SendRequest(block) ? block.result : failure;
}

std::u16string RequestText(uint32_t code, uint32_t arg1, uint32_t arg2, size_t bufferChars, uint32_t* result) {
  UiRequestBlock block = freshBlock(code, arg1, arg2);
  const bool ok = SendRequest(block);
  if (result != nullptr) *result = ok ? block.result : 0;
  if (!ok || bufferChars == 0) return {};
  const std::u16string_view text = replyText(block);
  return std::u16string(text.substr(0, bufferChars - 1));
}

void SendText(uint32_t code, std::u16string_view text, uint32_t arg2) {
  UiRequestBlock block = freshBlock(code, 0, arg2);
  const size_t n = std::min(text.size(), kvarsp::kUiInputChars - 1);
  std::copy_n(text.data(), n, block.inputText);
  block.inputText[n] = u'\0';
  SendRequest(block);
}

LinkInitReply RequestLinkInit() {
  UiRequestBlock block = freshBlock(kvarsp::UIREQ_LINK_INIT, 0, 0);
  LinkInitReply reply;
  if (!SendRequest(block)) {
    reply.result = kLinkInitFailure;
    reply.messageId = kGeneralErrorMessage;
    return reply;
  }
  reply.result = block.result;
  // Only the provider's three link messages; anything else is the general one.
  const uint32_t id = block.outputMessageId;
  reply.messageId = id >= 28 && id <= 30 ? static_cast<int>(id) : kGeneralErrorMessage;
  return reply;
}

}  // namespace ui::provider
