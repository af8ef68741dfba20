#pragma once
// The request block the configuration dialog sends to the provider through
// TSPI_providerGenericDialogData: 6164 bytes, little-endian, the same layout
// on both sides.
#include <cstddef>
#include <cstdint>

namespace kvarsp {

constexpr size_t kUiInputChars = 1024;   // 1023 characters and the terminator
constexpr size_t kUiOutputChars = 1025;  // 1024 characters and the terminator

struct UiRequestBlock {
  uint32_t request;
  union {
    uint32_t x;                        // argument 1
    char16_t inputText[kUiInputChars];  // or the input string
  };
  uint32_t reserved1;
  uint32_t y;       // argument 2
  uint32_t result;  // written by the provider
  uint8_t reserved2[2048];
  union {
    char16_t outputText[kUiOutputChars];
    uint32_t outputMessageId;  // request 2: the id of the message to show
  };
};

static_assert(sizeof(UiRequestBlock) == 6164);
static_assert(offsetof(UiRequestBlock, request) == 0);
static_assert(offsetof(UiRequestBlock, x) == 4);
static_assert(offsetof(UiRequestBlock, inputText) == 4);
static_assert(offsetof(UiRequestBlock, reserved1) == 2052);
static_assert(offsetof(UiRequestBlock, y) == 2056);
static_assert(offsetof(UiRequestBlock, result) == 2060);
static_assert(offsetof(UiRequestBlock, reserved2) == 2064);
static_assert(offsetof(UiRequestBlock, outputText) == 4112);
static_assert(offsetof(UiRequestBlock, outputMessageId) == 4112);

// The request codes.
enum UiRequest : uint32_t {
  UIREQ_LOCK = 1,
  UIREQ_LINK_INIT = 2,
  UIREQ_LINK_EXIT = 3,
  UIREQ_GET_EXT_COUNT = 4,
  UIREQ_GET_EXT_ADDRESS = 5,
  UIREQ_GET_MSN_COUNT = 6,
  UIREQ_GET_MSN_ADDRESS = 7,
  UIREQ_GET_EXT_MSN_COUNT = 8,
  UIREQ_GET_EXT_MSN = 9,
  UIREQ_PBX_CONNECT = 10,
  UIREQ_PBX_DISCONNECT = 11,
  UIREQ_PBX_READ = 12,
  UIREQ_GET_LINE_NAME = 13,
  UIREQ_SET_LINE_NAME = 14,
  UIREQ_GET_LOG_TAPI = 15,
  UIREQ_GET_LOG_VNL = 16,
  UIREQ_IS_IN_USE = 17,
  UIREQ_IS_FIRST_CONFIG = 18,
  UIREQ_RELOAD = 19,
  UIREQ_SAVE = 20,
  UIREQ_SET_FIRST_CONFIG = 23,
  UIREQ_SET_PROVIDER_ID = 24,
  UIREQ_SET_NUM_PHONES = 25,
  UIREQ_IS_INITIALIZED = 26,
  UIREQ_IS_OWN_LINE = 27,
  UIREQ_NOTIFY_TAPI = 28,
  UIREQ_SET_OUTSIDE_PREFIX = 29,
  UIREQ_GET_OUTSIDE_PREFIX = 30,
  UIREQ_SET_LONGDIST_PREFIX = 31,
  UIREQ_GET_LONGDIST_PREFIX = 32,
  UIREQ_SET_INTL_PREFIX = 33,
  UIREQ_GET_INTL_PREFIX = 34,
  UIREQ_GET_EXT_IN_USE = 35,
  UIREQ_SET_EXT_IN_USE = 36,
  UIREQ_GET_EXT_LINE_ID = 37,
  UIREQ_SET_HANDSFREE = 38,
  UIREQ_GET_HANDSFREE = 39,
  UIREQ_SAVE_HANDSFREE = 40,
};

}  // namespace kvarsp
