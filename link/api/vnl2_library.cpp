#include "link/api/vnl2_library.h"

#include <cstring>
#include <vector>

#include "link/common/link_log.h"

namespace {

std::vector<std::byte> InitialArea() {
  std::vector<std::byte> bytes(sizeof(Vnl2SharedArea));
  auto* area = reinterpret_cast<Vnl2SharedArea*>(bytes.data());
  area->linkState = 16;
  for (int32_t& index : area->recIndex) index = -1;
  std::memset(area->spare4, 0xFF, sizeof area->spare4);
  return bytes;
}

}  // namespace

Vnl2Library::Vnl2Library()
    : queueLock_("VNL2D32.RecQueue"),
      openLock_("VNL2D32.Open"),
      areaLock_("VNL2D32.Area"),
      controlWatch_(Vnl2WatchedControlProcess, Vnl2ControlProcessEnded) {
  std::vector<std::byte> initial = InitialArea();
  memory_ = std::make_unique<platform::SharedMemory>("VNL2D32.SharedDa", sizeof(Vnl2SharedArea), initial);
  // Without its locks the area cannot be used safely: every call refuses then.
  bool locks = queueLock_.valid() && openLock_.valid() && areaLock_.valid();
  if (memory_->valid() && locks) area_ = static_cast<Vnl2SharedArea*>(memory_->data());
  LinkLogSetup(memory_->valid() ? &static_cast<Vnl2SharedArea*>(memory_->data())->logMask : nullptr);
  LinkLog(kLogTrace, " - Process_Attach");
  if (!memory_->valid()) LinkLog(kLogError, "Shared data area not available: %s", memory_->error().c_str());
  if (!locks) LinkLog(kLogError, "Shared data area locks not available");
}

Vnl2Library::~Vnl2Library() {
  LinkLog(kLogTrace, " - Process_Detach");
  // The log mask may live in the area; this module logs nothing after this.
  LinkLogSetup(nullptr);
}

Vnl2Library& Vnl2() {
  // Created when the library is loaded (also when a program links it at
  // build time), destroyed when it is unloaded.
  static Vnl2Library library;
  return library;
}

namespace {
// Maps the area at load time rather than at the first call.
[[maybe_unused]] Vnl2Library& loadTimeInstance = Vnl2();
}  // namespace
