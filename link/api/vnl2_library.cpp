#include "link/api/vnl2_library.h"

#include "link/common/link_log.h"

namespace {

// The area as the first process finds it: link starting, every receive
// queue empty, spare4 all 0xFF.
constexpr Vnl2SharedArea InitialArea() {
  Vnl2SharedArea area{};
  area.linkState = 16;
  for (int32_t& index : area.recIndex) index = -1;
  for (uint8_t& byte : area.spare4) byte = 0xFF;
  return area;
}

// The module's shared data area (platform/shared_section.h): constant-
// initialised, so that no process that loads the library writes it at load.
TK_SHARED_SECTION constinit Vnl2SharedArea g_sharedArea = InitialArea();

}  // namespace

Vnl2Library::Vnl2Library()
    : queueLock_("VNL2D32.RecQueue"),
      openLock_("VNL2D32.Open"),
      areaLock_("VNL2D32.Area"),
      controlWatch_(Vnl2WatchedControlProcess, Vnl2ControlProcessEnded) {
  section_ = std::make_unique<platform::SharedSection>("VNL2D32.SharedDa", &g_sharedArea, sizeof g_sharedArea);
  // Without its locks the area cannot be used safely: every call refuses then.
  bool locks = queueLock_.valid() && openLock_.valid() && areaLock_.valid();
  if (section_->valid() && locks) area_ = static_cast<Vnl2SharedArea*>(section_->data());
  LinkLogSetup(section_->valid() ? &static_cast<Vnl2SharedArea*>(section_->data())->logMask : nullptr);
  LinkLog(kLogTrace, " - Process_Attach");
  if (!section_->valid()) LinkLog(kLogError, "Shared data area not available: %s", section_->error().c_str());
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
