#pragma once
// An exchange driven by answer rules: a received block that matches a
// rule's pattern is answered with the rule's blocks, in order; the first
// matching rule (in the order the rules were given) wins. A block no rule
// matches is reported as "unanswered <hex>" and not answered.
//
// Commands (from the command interface or a scenario file):
//   rule <pattern> [<answer> ...]   add a rule (no answers: match and stay silent)
//   rules-clear                     forget every rule
// Pattern and answer syntax: block_pattern.h.
#include <string>
#include <vector>

#include "exchange/block_pattern.h"
#include "exchange/protocol_engine.h"

namespace exchange {

class ScriptEngine : public ProtocolEngine {
 public:
  explicit ScriptEngine(EventSink& events) : events_(events) {}

  std::string_view Name() const override { return "script"; }
  void OnBlock(std::span<const uint8_t> block, BlockSink& out) override;
  std::optional<CommandResult> OnCommand(std::string_view verb, std::string_view args, BlockSink& out) override;
  std::string CommandHelp() const override;

  // The same as the "rule" command; false when the text is not valid.
  bool AddRule(std::string_view patternAndAnswers, std::string* error = nullptr);
  size_t RuleCount() const { return rules_.size(); }

 private:
  struct Rule {
    BlockPattern pattern;
    std::vector<AnswerTemplate> answers;
  };
  EventSink& events_;
  std::vector<Rule> rules_;
};

}  // namespace exchange
