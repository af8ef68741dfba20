// Loads vnlsock from the path given and reports what its calls return; the
// tests run it from a folder where no VNL2D32 can be found.
#include <cstdio>

#include "link/api/vnl2_entry_table.h"
#include "platform/module.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vnlsock_probe <path of vnlsock>\n");
    return 2;
  }
  platform::ModuleHandle sock = platform::loadLibrary(argv[1]);
  if (!sock) {
    std::printf("not loaded: %s\n", platform::lastModuleError().c_str());
    return 1;
  }
  vnl2::Entries api;
  if (const char* missing =
          vnl2::Bind(sock, {vnl2::Entry::OpenConnection, vnl2::Entry::SendData, vnl2::Entry::ReceiveData}, api)) {
    std::printf("loaded without %s\n", missing);
    return 1;
  }
  char buffer[16];
  std::printf("loaded open=%d send=%d receive=%d\n", api.openConnection(0x20), api.sendData(0x20, "x", 1),
              api.receiveData(0x20, buffer, 16));
  platform::freeLibrary(sock);
  return 0;
}
