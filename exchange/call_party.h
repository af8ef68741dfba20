#pragma once
// The simulated parties of the exchange's calls: how a called party behaves
// (its rule, per number, with a default for every other number) and how a
// caller's number is presented to the PC (number and address type).
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "provider/vnl/codec/vnl_message.h"

namespace exchange {

// Address types of the *_ADDRESS_TYPE parameters.
inline constexpr uint8_t kAddressUnknown = 0;
inline constexpr uint8_t kAddressInternal = 3;
inline constexpr uint8_t kAddressNational = 4;
inline constexpr uint8_t kAddressInternational = 5;

// How a simulated party behaves when it is called.
struct PartyRule {
  enum class Kind { Answer, Busy, Reject, NoAnswer, Unreachable };
  static constexpr uint32_t kDefaultAnswerMs = 1000;

  Kind kind = Kind::Answer;
  uint32_t answerAfterMs = kDefaultAnswerMs;  // Answer: rings this long
  std::optional<uint32_t> hangupAfterMs;      // Answer: hangs up this long after the connect
  std::optional<vnl::Charging> charge;        // Answer: the charge reported when the call ends
};

// The words the party command takes after the number, and back:
//   answer [AFTER-MS] [hangup-after MS] [charge AMOUNT [CURRENCY]]
//   busy | reject | noanswer | unreachable
// AMOUNT is a decimal with at most three places ("1.25"); it goes on the
// wire in thousandths with exponent 0.
std::optional<PartyRule> ParsePartyRule(const std::vector<std::string>& words, std::string* error);
std::string PartyRuleText(const PartyRule& rule);

// The rules by number; "*" is the default for every number without a rule
// of its own (initially: answer after 1000 ms).
class PartyRules {
 public:
  static constexpr std::string_view kDefaultNumber = "*";

  void Set(std::string number, PartyRule rule);
  const PartyRule& For(std::string_view number) const;

 private:
  PartyRule default_;
  std::map<std::string, PartyRule, std::less<>> rules_;
};

// A number as the PC sees it, with its address type.
struct PresentedNumber {
  std::string number;
  uint8_t type = kAddressUnknown;
};

// A caller's number for ORIG_ADDRESS. Internal callers keep their number
// (type 3). External numbers lose their dialling prefix, which the PC puts
// back itself by the type: "+49..." or "0049..." is international (type 5,
// "49..."), "0301234567" national (type 4, "301234567"); a number without
// a leading 0 is a local number, sent as it is with type 0.
PresentedNumber PresentCaller(std::string_view number, bool internal);

}  // namespace exchange
