// A module's shared data area on Windows: the module's own variable in its
// shared image section (see platform/shared_section.h).
//
// The section ".shared" of a TK_SHARED_SECTION variable carries
// IMAGE_SCN_MEM_SHARED (GCC's "shared" attribute), so the loader maps one
// copy of it into every process that loads the module. Nothing is created
// or mapped here: the constructor only checks, from the module's section
// table, that the variable really lies in a shared, writable section whole,
// and refuses it otherwise (a private copy per process would silently break
// the area's users). The Linux backend names the area; here the name is
// not used: the area is one per module file.
#include <windows.h>

#include <cstdint>

#include "platform/shared_section.h"

namespace platform {

struct SharedSection::Mapping {};

namespace {

// The module whose image holds `address`, or null.
HMODULE moduleOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

// True when [address, address + size) lies whole in one section of the
// module's image that is shared and writable.
bool inSharedSection(HMODULE module, const void* address, size_t size, std::string& why) {
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  const uintptr_t start = reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(base);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    const uintptr_t begin = section->VirtualAddress;
    const uintptr_t end = begin + section->Misc.VirtualSize;
    if (start < begin || start >= end) continue;
    if (start + size > end) {
      why = "the shared area runs past the end of its image section";
      return false;
    }
    const DWORD wanted = IMAGE_SCN_MEM_SHARED | IMAGE_SCN_MEM_WRITE;
    if ((section->Characteristics & wanted) != wanted) {
      why = "the shared area is not in a shared, writable image section";
      return false;
    }
    return true;
  }
  why = "the shared area is in no image section of its module";
  return false;
}

}  // namespace

SharedSection::SharedSection(std::string_view, void* image, size_t size) : size_(size) {
  HMODULE module = image ? moduleOf(image) : nullptr;
  if (!module) {
    error_ = "the shared area is not part of a loaded module";
    return;
  }
  if (inSharedSection(module, image, size, error_)) data_ = image;
}

SharedSection::~SharedSection() = default;

}  // namespace platform
