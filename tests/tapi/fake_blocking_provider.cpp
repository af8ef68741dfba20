// A provider plug-in whose TSPI_lineGetAddressCaps hangs: it waits for a
// thread of its own that waits for a byte on the FIFO of fake_block_fifo.h,
// as a provider stuck on a device that does not answer. One line;
// everything else answers at once. Without the FIFO the call fails at once.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/module.h"
#include "tapi/tapi.h"
#include "tapi/tspi.h"
#include "tests/tapi/fake_block_fifo.h"

extern "C" TK_EXPORT LONG TSPI_providerEnumDevices(DWORD, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones, HPROVIDER,
                                                   LINEEVENT, PHONEEVENT) {
  *lpdwNumLines = 1;
  *lpdwNumPhones = 0;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerInit(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR, ASYNC_COMPLETION,
                                            LPDWORD lpdwTSPIOptions) {
  *lpdwTSPIOptions = LINETSPIOPTION_NONREENTRANT;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerShutdown(DWORD, DWORD) { return 0; }

extern "C" TK_EXPORT LONG TSPI_lineNegotiateTSPIVersion(DWORD, DWORD, DWORD dwHighVersion, LPDWORD lpdwTSPIVersion) {
  *lpdwTSPIVersion = std::min<DWORD>(dwHighVersion, 0x20000);
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineGetAddressCaps(DWORD, DWORD, DWORD, DWORD, LPLINEADDRESSCAPS lpAddressCaps) {
  if (lpAddressCaps->dwTotalSize < sizeof(LINEADDRESSCAPS)) return LINEERR_STRUCTURETOOSMALL;
  const int fd = ::open(tktest::BlockFifoPath().c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return LINEERR_OPERATIONFAILED;
  // The call waits for a thread of the provider that waits for the device.
  std::mutex m;
  std::condition_variable answered;
  bool done = false;
  std::thread device([&] {
    char byte = 0;
    while (::read(fd, &byte, 1) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(m);
    done = true;
    answered.notify_all();
  });
  {
    std::unique_lock lock(m);
    answered.wait(lock, [&] { return done; });
  }
  device.join();
  ::close(fd);
  lpAddressCaps->dwNeededSize = lpAddressCaps->dwUsedSize = sizeof(LINEADDRESSCAPS);
  lpAddressCaps->dwMaxNumActiveCalls = 1;
  return 0;
}
