#pragma once
// Where built VNL messages leave the provider: the layer-2 send on service
// 32. The implementation writes the raw protocol-trace line and sends under
// the link lock, and only while the layer-2 library is loaded and the
// connection is open.
#include <cstdint>
#include <span>

namespace kvarsp {

class VnlLink {
 public:
  virtual ~VnlLink() = default;
  // True when the layer-2 library accepted the block.
  virtual bool SendBlock(std::span<const uint8_t> message) = 0;
};

}  // namespace kvarsp
