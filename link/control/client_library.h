#pragma once
// The exports of the interface library VNL2D32 that the control process
// calls: queuing a received block for a service, whether a service's
// receive queue is full (VNL2_GetState), and reporting the state of the
// link to the clients (its kinds are the link states of link/api/vnl2_api.h).
#include <cstdint>

class ClientLibrary {
 public:
  virtual ~ClientLibrary() = default;
  // 1 queued, -1 refused (service not open, queue full).
  virtual int32_t CopyRecData(uint32_t service, const void* data, uint32_t length) = 0;
  virtual int32_t LinkInfo(uint32_t kind) = 0;
  // True when the service is open and its receive queue holds as many blocks as it can.
  virtual bool QueueFull(uint32_t service) = 0;
};

// VNL2D32 as linked into the control process.
ClientLibrary& Vnl2d32Library();
