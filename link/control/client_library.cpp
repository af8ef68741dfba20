#include "link/control/client_library.h"

#include "link/api/vnl2_api.h"
#include "link/api/vnl2_shared_area.h"
#include "platform/export.h"

extern "C" {
int32_t TK_WINAPI VNL2_CopyRecData(uint32_t service, const void* data, uint32_t length);
int32_t TK_WINAPI VNL2_LinkInfo(uint32_t kind);
void TK_WINAPI VNL2_GetState(uint32_t service, VNL2_STATE* state);
}

namespace {

class Vnl2d32 final : public ClientLibrary {
 public:
  int32_t CopyRecData(uint32_t service, const void* data, uint32_t length) override {
    return VNL2_CopyRecData(service, data, length);
  }
  int32_t LinkInfo(uint32_t kind) override { return VNL2_LinkInfo(kind); }
  bool QueueFull(uint32_t service) override {
    VNL2_STATE state{};
    VNL2_GetState(service, &state);
    return state.State == 1 && state.RecQueue >= kRecQueueBlocks;
  }
};

}  // namespace

ClientLibrary& Vnl2d32Library() {
  static Vnl2d32 library;
  return library;
}
