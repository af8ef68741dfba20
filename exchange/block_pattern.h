#pragma once
// Matching received blocks and building answers from hex templates, for the
// script engine.
//
// Pattern: hex byte pairs, "??" for any one byte, and an optional "*" at the
// end for any further bytes (without it the block must have exactly the
// pattern's length). Example: "10??0003*" matches a block that starts with
// 0x10, any byte, 0x00, 0x03.
//
// Answer template: hex byte pairs and "[n]" (n decimal) for byte n of the
// received block, counted from 0. Example: "11[1]0003d00100" answers with
// the request's second byte (its reference number) in place. A reference
// past the end of the received block makes the answer fail.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace exchange {

class BlockPattern {
 public:
  static std::optional<BlockPattern> Parse(std::string_view text);
  bool Matches(std::span<const uint8_t> block) const;

 private:
  std::vector<int> bytes_;  // -1 matches any byte
  bool anyTail_ = false;
};

class AnswerTemplate {
 public:
  static std::optional<AnswerTemplate> Parse(std::string_view text);
  // nullopt when a reference lies past the end of the received block.
  std::optional<std::vector<uint8_t>> Build(std::span<const uint8_t> received) const;

 private:
  struct Piece {
    bool reference = false;
    uint8_t value = 0;   // literal byte
    size_t index = 0;    // reference
  };
  std::vector<Piece> pieces_;
};

}  // namespace exchange
