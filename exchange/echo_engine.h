#pragma once
// The simplest exchange: every received data block goes straight back as a
// frame. Used by benchmarks and by integration tests of the link programs.
#include "exchange/protocol_engine.h"

namespace exchange {

class EchoEngine : public ProtocolEngine {
 public:
  std::string_view Name() const override { return "echo"; }
  void OnBlock(std::span<const uint8_t> block, BlockSink& out) override { out.SendBlock(block); }
};

}  // namespace exchange
