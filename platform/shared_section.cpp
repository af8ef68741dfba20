// A module's shared data area on Linux: named shared memory under the root
// folder, initialised by the first process from the module's variable (see
// shared_section.h). Windows: platform/win32/shared_section_win32.cpp.
#include "platform/shared_section.h"

#include <span>

#include "platform/shared_memory.h"

namespace platform {

struct SharedSection::Mapping {
  SharedMemory memory;
  Mapping(std::string_view name, const void* image, size_t size)
      : memory(name, size, std::span<const std::byte>(static_cast<const std::byte*>(image), size)) {}
};

SharedSection::SharedSection(std::string_view name, void* image, size_t size)
    : mapping_(std::make_unique<Mapping>(name, image, size)), size_(size) {
  if (mapping_->memory.valid()) {
    data_ = mapping_->memory.data();
  } else {
    error_ = mapping_->memory.error();
  }
}

SharedSection::~SharedSection() = default;

}  // namespace platform
