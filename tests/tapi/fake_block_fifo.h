#pragma once
// The FIFO in the test root's runtime folder on which the blocking fake
// provider (fake_blocking_provider.cpp) waits inside TSPI_lineGetAddressCaps:
// the provider opens it for reading and writing (so the open never waits)
// and reads one byte; the test lets the call return by writing that byte.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/root.h"

namespace tktest {

inline std::string BlockFifoPath() { return platform::runtimeDir() + "/fakesp_block.fifo"; }

// Creates the FIFO (and the runtime folder); false when it cannot.
inline bool MakeBlockFifo() {
  return platform::ensureDirectory(platform::runtimeDir()) && ::mkfifo(BlockFifoPath().c_str(), 0600) == 0;
}

// Lets one blocked call return; false when nobody has the FIFO open.
inline bool ReleaseBlockedCall() {
  const int fd = ::open(BlockFifoPath().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const char byte = 1;
  const bool written = ::write(fd, &byte, 1) == 1;
  ::close(fd);
  return written;
}

}  // namespace tktest
