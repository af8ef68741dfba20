// A plug-in that carries its own copy of the link log, as each link library
// does, so tests can check what one module's set-up means for another.
#include <cstdint>

#include "link/common/link_log.h"
#include "platform/export.h"

extern "C" TK_EXPORT void ProbeLinkLogSetup(uint32_t* sharedMask) {
  LinkLogSetProgramNameForTest("PROBE");
  LinkLogSetup(sharedMask);
}

extern "C" TK_EXPORT uint32_t ProbeLinkLogMask() { return LinkLogMask(); }

extern "C" TK_EXPORT void ProbeLinkLog(uint32_t level, const char* text) { LinkLog(level, "%s", text); }
