#include "tests/ui/provider/kvarui_fake_provider.h"

#include <algorithm>

#include "platform/codepage.h"
#include "provider/ui_request_block.h"

namespace kvarui_test {

namespace {

using kvarsp::UiRequestBlock;

void answer(UiRequestBlock& b, const std::u16string& text, bool terminated) {
  if (!terminated) return std::fill(std::begin(b.outputText), std::end(b.outputText), u'X');
  const size_t n = std::min(text.size(), kvarsp::kUiOutputChars - 1);
  std::copy_n(text.data(), n, b.outputText);
  b.outputText[n] = u'\0';
}

std::string entry(const UiRequestBlock& b) {
  const std::string code = std::to_string(b.request);
  const std::string x = ":" + std::to_string(b.x), y = ":" + std::to_string(b.y);
  switch (b.request) {
    case 1: case 5: case 7: case 8: case 10: case 23: case 24: case 27: case 35: case 37: case 39:
      return code + x;
    case 9: case 36: case 38: return code + x + y;
    case 14: return code + "'" + platform::wideToUtf8(b.inputText) + "'";
    case 29: case 31: case 33: return code + "'" + platform::wideToUtf8(b.inputText) + "'" + y;
    default: return code;
  }
}

}  // namespace

FakeProvider& FakeProvider::current() {
  static FakeProvider provider;
  return provider;
}

std::string FakeProvider::requests() const {
  std::string out;
  for (const std::string& e : log) out += (out.empty() ? "" : " ") + e;
  return out;
}

LONG FakeProviderCallback(DWORD_PTR, DWORD, LPVOID params, DWORD size) {
  FakeProvider& p = FakeProvider::current();
  if (size != sizeof(UiRequestBlock) || params == nullptr) return -1;
  auto& b = *static_cast<UiRequestBlock*>(params);
  p.log.push_back(entry(b));
  if (p.failing.count(b.request) != 0) return static_cast<LONG>(0x80000048);
  const bool terminated = p.unterminated.count(b.request) == 0;
  const uint32_t x = b.x;
  const FakeExtension* ext = x < p.table.size() ? &p.table[x] : nullptr;
  b.result = 0;
  switch (b.request) {
    case 1: b.result = p.lock; break;
    case 2: b.result = p.linkInit; b.outputMessageId = p.linkMessage; break;
    case 4: b.result = static_cast<uint32_t>(p.table.size()); break;
    case 5: answer(b, ext ? ext->number : u"", terminated); b.result = ext ? 1 : 0; break;
    case 6: b.result = static_cast<uint32_t>(p.msns.size()); break;
    case 7: answer(b, x < p.msns.size() ? p.msns[x] : u"", terminated); b.result = x < p.msns.size(); break;
    case 10: b.result = p.connect; break;
    case 11: b.result = p.disconnect; break;
    case 12:
      b.result = p.read;
      if (p.read == 0 && !p.exchange.empty()) p.table = p.exchange;
      break;
    case 13: answer(b, p.lineName, terminated); break;
    case 17: b.result = p.inUse; break;
    case 18: b.result = p.firstConfig; break;
    case 27: b.result = p.ownLine; break;
    case 30: case 32: case 34:
      answer(b, p.prefixes[(b.request - 30) / 2].text, terminated);
      b.result = p.prefixes[(b.request - 30) / 2].use;
      break;
    case 35: b.result = ext && ext->inUse; break;
    case 36: if (ext) p.table[x].inUse = b.y != 0; break;
    case 37: b.result = ext ? ext->lineId : 0; break;
    case 38: if (ext) p.table[x].handsfree = b.y & 0xFF; break;
    case 39: b.result = ext ? ext->handsfree : 0; break;
    default: break;
  }
  return 0;
}

}  // namespace kvarui_test
