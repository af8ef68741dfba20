// libFuzzer target for tksim's configuration parser: any text must parse
// without a crash, a leak or undefined behaviour. A refused text leaves the
// configuration as it was and names a line of the text ("line N: ...") in
// a message that is safe to print (valid UTF-8, no control character). An
// accepted one keeps every promise the address list relies on: IDs, addresses,
// MSN indexes and numbers unique; texts within 255 bytes and free of control
// characters; 8-bit line IDs unless the list is 16-bit; MSNs naming known
// lines; the whole list fitting one message. Written back as a configuration
// text, it must parse to the same configuration.
//
// Input: the text of the file; nothing else.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "exchange/exchange_config.h"
#include "platform/codepage.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace {

using exchange::ExchangeConfig;

void require(bool condition) {
  if (!condition) std::abort();
}

bool same(const ExchangeConfig& a, const ExchangeConfig& b) {
  if (a.lineList16 != b.lineList16 || a.protocolVersion != b.protocolVersion || a.manufacturer != b.manufacturer ||
      a.lines.size() != b.lines.size() || a.msns.size() != b.msns.size())
    return false;
  for (size_t i = 0; i < a.lines.size(); ++i) {
    const auto& x = a.lines[i];
    const auto& y = b.lines[i];
    if (x.lineId != y.lineId || x.address != y.address || x.lineState != y.lineState ||
        x.forwardDestination != y.forwardDestination)
      return false;
  }
  for (size_t i = 0; i < a.msns.size(); ++i) {
    const auto& x = a.msns[i];
    const auto& y = b.msns[i];
    if (x.index != y.index || x.number != y.number || x.lineIds != y.lineIds) return false;
  }
  return true;
}

void checkText(const std::string& ansi) {
  require(ansi.size() <= 255 && !exchange::HasControlCharacter(ansi));
}

void checkAccepted(const ExchangeConfig& c) {
  checkText(c.manufacturer);
  std::set<uint16_t> ids;
  std::set<std::string> addresses;
  for (const auto& line : c.lines) {
    require(ids.insert(line.lineId).second);
    require(c.lineList16 || line.lineId <= 0xFF);
    checkText(line.address);
    checkText(line.forwardDestination);
    require(line.address.empty() || addresses.insert(line.address).second);
    require((line.lineState == exchange::kForwardNone) == line.forwardDestination.empty());
  }
  std::set<uint8_t> indexes;
  std::set<std::string> numbers;
  for (const auto& msn : c.msns) {
    require(indexes.insert(msn.index).second && numbers.insert(msn.number).second);
    checkText(msn.number);
    require(!msn.number.empty());
    std::set<uint16_t> used;
    for (uint16_t id : msn.lineIds) require(ids.count(id) && used.insert(id).second);
  }
  require(exchange::LineListValue(c).size() + exchange::MsnListValue(c).size() <= vnl::kMaxMessage);
}

std::string quoted(const std::string& ansi) {
  std::string out = "\"";
  for (char c : platform::ansiToUtf8(ansi)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The configuration as a file that says everything explicitly.
std::string written(const ExchangeConfig& c) {
  std::string out = c.lineList16 ? "line-list 16\n" : "line-list 8\n";
  out += "protocol-version " + std::to_string(c.protocolVersion) + "\n";
  out += "manufacturer " + quoted(c.manufacturer) + "\n";
  for (const auto& line : c.lines) {
    out += "line " + std::to_string(line.lineId) + " " + quoted(line.address);
    if (line.lineState != exchange::kForwardNone) {
      out += " forward " + exchange::ForwardingStateName(line.lineState) + " " + quoted(line.forwardDestination);
    }
    out += "\n";
  }
  for (const auto& msn : c.msns) {
    out += "msn " + std::to_string(msn.index) + " " + quoted(msn.number);
    if (!msn.lineIds.empty()) out += " lines";
    for (uint16_t id : msn.lineIds) out += " " + std::to_string(id);
    out += "\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const ExchangeConfig before = exchange::DefaultExchangeConfig();
  ExchangeConfig config = before;
  std::string error;
  if (!exchange::ParseExchangeConfig(text, config, &error)) {
    require(same(config, before));
    require(error.starts_with("line "));
    const size_t colon = error.find(": ");
    require(colon != std::string::npos && colon > 5);
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    require(std::stoul(error.substr(5, colon - 5)) <= lines);
    require(platform::isValidUtf8(error));
    for (char c : error) require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    return 0;
  }
  require(error.empty());
  checkAccepted(config);
  ExchangeConfig again;
  std::string againError;
  require(exchange::ParseExchangeConfig(written(config), again, &againError));
  require(same(again, config));
  return 0;
}
