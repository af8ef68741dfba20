#include "exchange/call_party.h"

#include <charconv>

#include "exchange/exchange_config.h"
#include "platform/codepage.h"

namespace exchange {
namespace {

constexpr uint32_t kMaxMs = 3600000;
constexpr size_t kMaxCurrency = 20;

std::optional<uint32_t> Millis(const std::string& text) {
  uint32_t value = 0;
  auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || failure != std::errc() || end != text.data() + text.size() || value > kMaxMs) {
    return std::nullopt;
  }
  return value;
}

// "1.25" -> 1250 (thousandths); at most three places, at most 2^32-1 in all.
std::optional<uint32_t> Thousandths(const std::string& text) {
  size_t point = text.find('.');
  std::string whole = text.substr(0, point);
  std::string places = point == std::string::npos ? std::string() : text.substr(point + 1);
  if (whole.empty() || places.size() > 3 || (point != std::string::npos && places.empty())) return std::nullopt;
  places.resize(3, '0');
  uint64_t value = 0;
  for (char c : whole + places) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

const char* KindName(PartyRule::Kind kind) {
  switch (kind) {
    case PartyRule::Kind::Answer: return "answer";
    case PartyRule::Kind::Busy: return "busy";
    case PartyRule::Kind::Reject: return "reject";
    case PartyRule::Kind::NoAnswer: return "noanswer";
    case PartyRule::Kind::Unreachable: return "unreachable";
  }
  return "?";
}

}  // namespace

std::optional<PartyRule> ParsePartyRule(const std::vector<std::string>& words, std::string* error) {
  auto fail = [error](std::string text) -> std::optional<PartyRule> {
    if (error) *error = std::move(text);
    return std::nullopt;
  };
  if (words.empty()) return fail("a behaviour is needed: answer, busy, reject, noanswer or unreachable");
  PartyRule rule;
  const std::string& kind = words[0];
  if (kind != "answer") {
    if (words.size() != 1) return fail("'" + kind + "' takes no further words");
    if (kind == "busy") {
      rule.kind = PartyRule::Kind::Busy;
    } else if (kind == "reject") {
      rule.kind = PartyRule::Kind::Reject;
    } else if (kind == "noanswer") {
      rule.kind = PartyRule::Kind::NoAnswer;
    } else if (kind == "unreachable") {
      rule.kind = PartyRule::Kind::Unreachable;
    } else {
      return fail("unknown behaviour '" + kind + "'");
    }
    return rule;
  }
  size_t i = 1;
  if (i < words.size() && words[i] != "hangup-after" && words[i] != "charge") {
    auto ms = Millis(words[i]);
    if (!ms) return fail("bad answer time '" + words[i] + "'");
    rule.answerAfterMs = *ms;
    ++i;
  }
  while (i < words.size()) {
    if (words[i] == "hangup-after" && !rule.hangupAfterMs) {
      auto ms = i + 1 < words.size() ? Millis(words[i + 1]) : std::nullopt;
      if (!ms) return fail("hangup-after needs a time in ms");
      rule.hangupAfterMs = *ms;
      i += 2;
    } else if (words[i] == "charge" && !rule.charge) {
      auto amount = i + 1 < words.size() ? Thousandths(words[i + 1]) : std::nullopt;
      if (!amount) return fail("charge needs an amount such as 1.25");
      vnl::Charging charge;
      charge.amount = *amount;
      charge.exponent = 0;
      i += 2;
      if (i < words.size() && words[i] != "hangup-after") {
        // The currency goes on the wire in the ANSI code page, like every text.
        std::optional<std::string> currency = WireText(words[i]);
        if (!currency) return fail("currency has characters outside Windows-1252");
        if (currency->size() > kMaxCurrency) return fail("currency longer than 20 bytes");
        charge.currency = std::move(*currency);
        ++i;
      }
      rule.charge = std::move(charge);
    } else {
      return fail("unexpected '" + words[i] + "'");
    }
  }
  return rule;
}

std::string PartyRuleText(const PartyRule& rule) {
  std::string text = KindName(rule.kind);
  if (rule.kind != PartyRule::Kind::Answer) return text;
  text += " " + std::to_string(rule.answerAfterMs);
  if (rule.hangupAfterMs) text += " hangup-after " + std::to_string(*rule.hangupAfterMs);
  if (rule.charge) {
    std::string places = std::to_string(rule.charge->amount % 1000);
    text += " charge " + std::to_string(rule.charge->amount / 1000) + "." + std::string(3 - places.size(), '0') +
            places;
    if (!rule.charge->currency.empty()) text += " " + platform::ansiToUtf8(rule.charge->currency);
  }
  return text;
}

void PartyRules::Set(std::string number, PartyRule rule) {
  if (number == kDefaultNumber) {
    default_ = std::move(rule);
  } else {
    rules_[std::move(number)] = std::move(rule);
  }
}

const PartyRule& PartyRules::For(std::string_view number) const {
  auto it = rules_.find(number);
  return it == rules_.end() ? default_ : it->second;
}

PresentedNumber PresentCaller(std::string_view number, bool internal) {
  if (internal) return {std::string(number), kAddressInternal};
  if (number.size() > 1 && number[0] == '+') return {std::string(number.substr(1)), kAddressInternational};
  if (number.size() > 2 && number.substr(0, 2) == "00") return {std::string(number.substr(2)), kAddressInternational};
  if (number.size() > 1 && number[0] == '0') return {std::string(number.substr(1)), kAddressNational};
  return {std::string(number), kAddressUnknown};
}

}  // namespace exchange
