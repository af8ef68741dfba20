#include "exchange/script_engine.h"

#include "exchange/hex_text.h"

namespace exchange {
namespace {

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t begin = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > begin) words.push_back(text.substr(begin, i - begin));
  }
  return words;
}

}  // namespace

void ScriptEngine::OnBlock(std::span<const uint8_t> block, BlockSink& out) {
  for (const Rule& rule : rules_) {
    if (!rule.pattern.Matches(block)) continue;
    for (const AnswerTemplate& answer : rule.answers) {
      auto bytes = answer.Build(block);
      if (!bytes) {
        events_.Event("answer-failed " + ToHex(block));
        return;
      }
      out.SendBlock(*bytes);
    }
    return;
  }
  events_.Event("unanswered " + ToHex(block));
}

bool ScriptEngine::AddRule(std::string_view patternAndAnswers, std::string* error) {
  std::vector<std::string_view> words = Words(patternAndAnswers);
  auto fail = [&](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (words.empty()) return fail("a pattern is needed");
  auto pattern = BlockPattern::Parse(words[0]);
  if (!pattern) return fail("bad pattern '" + std::string(words[0]) + "'");
  Rule rule{std::move(*pattern), {}};
  for (size_t i = 1; i < words.size(); ++i) {
    auto answer = AnswerTemplate::Parse(words[i]);
    if (!answer) return fail("bad answer '" + std::string(words[i]) + "'");
    rule.answers.push_back(std::move(*answer));
  }
  rules_.push_back(std::move(rule));
  return true;
}

std::optional<ProtocolEngine::CommandResult> ScriptEngine::OnCommand(std::string_view verb, std::string_view args,
                                                                     BlockSink& out) {
  (void)out;
  if (verb == "rule") {
    std::string error;
    if (!AddRule(args, &error)) return CommandResult{false, "rule: " + error};
    return CommandResult{true, "rule " + std::to_string(rules_.size())};
  }
  if (verb == "rules-clear") {
    rules_.clear();
    return CommandResult{true, "rules-clear"};
  }
  return std::nullopt;
}

std::string ScriptEngine::CommandHelp() const {
  return "  rule PATTERN [ANSWER ...]  (script engine) answer a received block that matches\n"
         "                        PATTERN with the ANSWER blocks, in order; the first\n"
         "                        matching rule wins; without ANSWER the block is\n"
         "                        swallowed. PATTERN: hex pairs, ?? for any byte, a\n"
         "                        final * for any further bytes. ANSWER: hex pairs and\n"
         "                        [n] for byte n (from 0) of the received block.\n"
         "  rules-clear           (script engine) forget every rule\n";
}

}  // namespace exchange
