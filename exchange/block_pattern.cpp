#include "exchange/block_pattern.h"

#include <charconv>

#include "exchange/hex_text.h"

namespace exchange {
namespace {

std::optional<uint8_t> HexPair(std::string_view text) {
  auto parsed = ParseHex(text.substr(0, 2));
  if (!parsed || parsed->size() != 1 || text.size() < 2) return std::nullopt;
  return (*parsed)[0];
}

}  // namespace

std::optional<BlockPattern> BlockPattern::Parse(std::string_view text) {
  BlockPattern pattern;
  if (!text.empty() && text.back() == '*') {
    pattern.anyTail_ = true;
    text.remove_suffix(1);
  }
  if (text.size() % 2 != 0) return std::nullopt;
  for (size_t i = 0; i < text.size(); i += 2) {
    std::string_view pair = text.substr(i, 2);
    if (pair == "??") {
      pattern.bytes_.push_back(-1);
      continue;
    }
    auto value = HexPair(pair);
    if (!value) return std::nullopt;
    pattern.bytes_.push_back(*value);
  }
  if (pattern.bytes_.empty() && !pattern.anyTail_) return std::nullopt;
  return pattern;
}

bool BlockPattern::Matches(std::span<const uint8_t> block) const {
  if (anyTail_ ? block.size() < bytes_.size() : block.size() != bytes_.size()) return false;
  for (size_t i = 0; i < bytes_.size(); ++i) {
    if (bytes_[i] >= 0 && block[i] != bytes_[i]) return false;
  }
  return true;
}

std::optional<AnswerTemplate> AnswerTemplate::Parse(std::string_view text) {
  AnswerTemplate answer;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '[') {
      size_t close = text.find(']', i);
      if (close == std::string_view::npos || close == i + 1) return std::nullopt;
      size_t index = 0;
      auto [end, error] = std::from_chars(text.data() + i + 1, text.data() + close, index);
      if (error != std::errc() || end != text.data() + close) return std::nullopt;
      answer.pieces_.push_back(Piece{true, 0, index});
      i = close + 1;
      continue;
    }
    if (i + 2 > text.size()) return std::nullopt;
    auto value = HexPair(text.substr(i, 2));
    if (!value) return std::nullopt;
    answer.pieces_.push_back(Piece{false, *value, 0});
    i += 2;
  }
  if (answer.pieces_.empty()) return std::nullopt;
  return answer;
}

std::optional<std::vector<uint8_t>> AnswerTemplate::Build(std::span<const uint8_t> received) const {
  std::vector<uint8_t> block;
  block.reserve(pieces_.size());
  for (const Piece& piece : pieces_) {
    if (!piece.reference) {
      block.push_back(piece.value);
    } else if (piece.index < received.size()) {
      block.push_back(received[piece.index]);
    } else {
      return std::nullopt;
    }
  }
  return block;
}

}  // namespace exchange
