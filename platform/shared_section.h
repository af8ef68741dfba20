#pragma once
// A module's shared data area: one copy of a fixed-size block for every
// process that loads the module (a library), from the module's own image.
//
// The module defines the block as a variable marked TK_SHARED_SECTION,
// constant-initialised (constinit) with the area's first contents, and hands
// it to a SharedSection when it is loaded:
//
//   TK_SHARED_SECTION constinit Area g_area = InitialArea();
//   platform::SharedSection section("NAME", &g_area, sizeof g_area);
//
// Windows: the variable lies in the image section ".shared", which the
// linker marks shared; the loader maps that section into every process that
// loads the module from one copy, which starts with the image's contents. A
// dynamic initialiser would run again in each process that loads the module
// and wipe the area, hence constinit. data() is the variable itself; the
// SharedSection refuses (valid() false) a variable that does not lie in a
// shared section of its module, rather than let each process work on a
// private copy. The copy lives as long as any process has the module loaded,
// and it is one per module file, not per root folder.
// Linux: named shared memory under the root folder (platform::SharedMemory,
// whose lifetime rules apply), which the first process initialises from the
// variable's contents; the variable itself stays untouched.
//
// No threads; the area needs its users' own locking either way.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#if defined(_WIN32)
#define TK_SHARED_SECTION __attribute__((section(".shared"), shared))
#else
#define TK_SHARED_SECTION
#endif

namespace platform {

class SharedSection {
 public:
  // image: the module's TK_SHARED_SECTION variable of `size` bytes. name:
  // the area's name where it is named shared memory (Linux).
  SharedSection(std::string_view name, void* image, size_t size);
  ~SharedSection();
  SharedSection(const SharedSection&) = delete;
  SharedSection& operator=(const SharedSection&) = delete;

  bool valid() const { return data_ != nullptr; }
  // The shared area; null when !valid().
  void* data() const { return data_; }
  size_t size() const { return size_; }
  // Why the area is not available.
  const std::string& error() const { return error_; }

 private:
  struct Mapping;  // what keeps the area mapped, where it is not the image itself
  std::unique_ptr<Mapping> mapping_;
  void* data_ = nullptr;
  size_t size_ = 0;
  std::string error_;
};

}  // namespace platform
