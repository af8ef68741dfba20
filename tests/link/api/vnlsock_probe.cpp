// Loads vnlsock from the path given and reports what its calls return; the
// tests run it from a folder where no VNL2D32 can be found.
#include <cstdio>

#include "link/api/vnl2_api.h"
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
  auto open = reinterpret_cast<Vnl2OpenConnectionFn>(platform::getProcAddress(sock, "VNL2_OpenConnection"));
  auto send = reinterpret_cast<Vnl2SendDataFn>(platform::getProcAddress(sock, "VNL2_SendData"));
  auto receive = reinterpret_cast<Vnl2ReceiveDataFn>(platform::getProcAddress(sock, "VNL2_ReceiveData"));
  char buffer[16];
  std::printf("loaded open=%d send=%d receive=%d\n", open(0x20), send(0x20, "x", 1), receive(0x20, buffer, 16));
  platform::freeLibrary(sock);
  return 0;
}
