#pragma once
// Named shared memory of a fixed size, shared by every process under the
// same root folder. The first process to map a name initialises it with the
// given initial contents; it stays as long as any process has it mapped, and
// after the last one unmapped it (or died) the next mapping starts afresh
// from the initial contents. (Windows: a file mapping object named below
// "Local\", so the processes of one session under the same root share it.)
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace platform {

class SharedMemory {
 public:
  // Maps the named area of `size` bytes; `initial` (size bytes, or empty
  // for all zero) is written when this is the first mapping. Check valid().
  SharedMemory(std::string_view name, size_t size, std::span<const std::byte> initial = {});
  ~SharedMemory();  // unmaps
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  bool valid() const { return data_ != nullptr; }
  void* data() const { return data_; }
  size_t size() const { return size_; }
  // True when this mapping initialised the area.
  bool created() const { return created_; }
  // Why mapping failed.
  const std::string& error() const { return error_; }

 private:
  void* data_ = nullptr;
  size_t size_ = 0;
  bool created_ = false;
  // What keeps the area alive while this mapping exists: on Linux the
  // descriptor holding the shared lock of the area file, on Windows the
  // handle of the file mapping object. -1 when there is none.
  intptr_t ref_ = -1;
  std::string error_;
};

}  // namespace platform
