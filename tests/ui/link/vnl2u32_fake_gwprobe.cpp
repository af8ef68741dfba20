// Stand-ins for gwprobe.dll in the link dialog's tests. With the export it
// leaves "size:text" of the call in TK_FAKE_GWPROBE_SEEN and answers with
// TK_FAKE_GWPROBE_ANSWER ("*": a full buffer without a zero; empty: cancelled).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/export.h"

#ifndef VNL2U32_FAKE_WITHOUT_EXPORT
extern "C" TK_EXPORT uint8_t _GetRouterIPAddress(char* buffer, uint32_t size) {
  setenv("TK_FAKE_GWPROBE_SEEN", (std::to_string(size) + ":" + std::string(buffer, strnlen(buffer, size))).c_str(), 1);
  const char* answer = std::getenv("TK_FAKE_GWPROBE_ANSWER");
  if (answer == nullptr || *answer == '\0') return 1;
  if (*answer == '*') return std::memset(buffer, '1', size), 0;
  return std::strncpy(buffer, answer, size), 0;
}
#else
extern "C" TK_EXPORT int GwProbeWithoutItsExport() { return 0; }
#endif
