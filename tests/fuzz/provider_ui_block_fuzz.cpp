// Both ends of the configuration dialog's request block. The provider's end:
// TSPI_providerGenericDialogData with a block from the input (request code,
// arguments, input text and every other byte as given) and a dwSize of its
// choice, in a buffer of exactly dwSize bytes. KVARUI's end: its requests
// (values, texts with a caller's buffer size, link start, sent texts) whose
// callback first lets the provider answer and then lays the input's reply
// over the block (result, message ID, output text with or without its
// terminator, the callback's return code). Nothing may be read or written
// outside the block, a reply text never longer than the caller's buffer.
//
// Each input gets a provider of its own (started over a FakeLink, stopped at
// the end) and starts from a registry that holds the provider's
// configuration alone, since the requests save settings.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake_clock.h"
#include "platform/registry.h"
#include "provider/provider.h"
#include "provider/ui_request_block.h"
#include "tests/fuzz/fuzz_env.h"
#include "tests/provider/component/component_configuration.h"
#include "tests/provider/fake_link.h"
#include "ui/provider/kvarui_requests.h"

namespace {

constexpr DWORD kProviderId = 3;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "provider_ui_block_fuzz: %s\n", what);
  std::abort();
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() {
    const uint8_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  uint32_t Dword() {
    const uint16_t low = Word();
    return low | (static_cast<uint32_t>(Word()) << 16);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A request code: mostly one the provider knows.
uint32_t RequestCode(Input& in) {
  const uint8_t b = in.Byte();
  return b < 240 ? b % 42 : in.Dword();
}

// Texts of up to 40 characters, or filling the whole field without terminator.
void FillText(Input& in, char16_t* field, size_t chars) {
  const uint8_t how = in.Byte();
  const size_t n = how == 255 ? chars : how % 41;
  for (size_t i = 0; i < n; ++i) field[i] = static_cast<char16_t>(u'0' + in.Byte() % 40);
  if (n < chars) field[n] = u'\0';
}

struct Session {
  Session() {
    DWORD lines = 0, phones = 0, options = 0;
    if (provider.lifecycle.EnumDevices(kProviderId, &lines, &phones, nullptr, nullptr) != 0 ||
        provider.lifecycle.Init(0x20000, kProviderId, 0, lines, [](DRV_REQUESTID, LONG) {}, &options) != 0)
      Fail("the provider did not start");
  }
  ~Session() {
    if (provider.lifecycle.Shutdown(0x20000, kProviderId) != 0) Fail("providerShutdown failed");
  }
  platform::FakeClock clock{1000};
  kvarsp_test::FakeLink link;
  // The drain waits pause without moving the fake clock (see provider_indications_fuzz.cpp).
  kvarsp::Provider provider{link, clock, [](uint32_t) { std::this_thread::yield(); }};
};

Session* session = nullptr;
Input* reply = nullptr;

// The telephony service's way from KVARUI to the provider, with the input's reply laid over the answer.
LONG Callback(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size) {
  Input& in = *reply;
  const uint8_t how = in.Byte();
  if (how & 1) session->provider.dialog.GenericDialogData(objectId, objectType, params, size);
  auto& block = *static_cast<kvarsp::UiRequestBlock*>(params);
  if (how & 2) block.result = in.Dword();
  if (how & 4) block.outputMessageId = in.Dword();
  if (how & 8) FillText(in, block.outputText, kvarsp::kUiOutputChars);
  return how & 16 ? static_cast<LONG>(in.Dword()) : 0;
}

// The provider's end: a block of dwSize bytes from the input.
void ProviderEnd(Input& in) {
  const uint8_t sizeChoice = in.Byte();
  const size_t size = sizeChoice < 200 ? sizeof(kvarsp::UiRequestBlock) : sizeChoice * 24;
  std::vector<uint8_t> bytes(size, 0);
  kvarsp::UiRequestBlock block{};
  block.request = RequestCode(in);
  if (in.Byte() & 1) {
    FillText(in, block.inputText, kvarsp::kUiInputChars);
  } else {
    block.x = in.Byte() < 200 ? in.Byte() % 4 : in.Dword();
  }
  block.y = in.Byte() < 200 ? in.Byte() % 4 : in.Dword();
  block.result = in.Dword();
  FillText(in, block.outputText, kvarsp::kUiOutputChars);
  std::memcpy(bytes.data(), &block, std::min(size, sizeof block));
  const LONG rc = session->provider.dialog.GenericDialogData(0, TUISPIDLL_OBJECT_PROVIDERID, bytes.data(),
                                                             static_cast<DWORD>(size));
  if (size < sizeof block && rc == 0) Fail("a short block was taken");
}

// KVARUI's end: one request, its reply through Callback.
void KvaruiEnd(Input& in) {
  const uint8_t what = in.Byte();
  const uint32_t code = RequestCode(in);
  const uint32_t x = in.Byte() % 4;
  switch (what % 4) {
    case 0: {
      const uint32_t y = in.Byte() % 4;
      ui::provider::RequestValue(code, x, y, in.Dword());
      break;
    }
    case 1: {
      const size_t bufferChars = in.Word() % 1100;
      uint32_t result = 0;
      const std::u16string text = ui::provider::RequestText(code, x, 0, bufferChars, &result);
      if (bufferChars == 0 ? !text.empty() : text.size() >= bufferChars) Fail("a reply text longer than its buffer");
      if (text.find(u'\0') != std::u16string::npos) Fail("a reply text with its terminator inside");
      break;
    }
    case 2: {
      const ui::provider::LinkInitReply r = ui::provider::RequestLinkInit();
      if (r.messageId != 32 && (r.messageId < 28 || r.messageId > 30)) Fail("a link message that does not exist");
      break;
    }
    default: {
      std::u16string text(in.Word() % 1100, u'5');
      ui::provider::SendText(code, text, in.Byte());
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::PrivateRoot("provider_ui_block_fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The registry as the provider's configuration alone.
  platform::regDeleteTree(platform::kHkeyLocalMachine, u"Software");
  platform::regDeleteTree(platform::kHkeyCurrentUser, u"Software");
  if (platform::regImport(tktest::kComponentConfiguration, "fuzz configuration") != 0)
    Fail("the configuration was not imported");
  Input in(data, size);
  Session s;
  session = &s;
  reply = &in;
  ui::provider::CurrentTarget().callback = Callback;
  ui::provider::CurrentTarget().objectType = TUISPIDLL_OBJECT_PROVIDERID;
  for (int step = 0; step < 16 && !in.empty(); ++step) {
    if (in.Byte() & 1) {
      KvaruiEnd(in);
    } else {
      ProviderEnd(in);
    }
  }
  ui::provider::CurrentTarget() = ui::provider::CallbackTarget{};
  session = nullptr;
  reply = nullptr;
  return 0;
}
