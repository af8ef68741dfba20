#pragma once
// The baseline of the round-trip benchmarks: plain bytes to an echoing
// thread over loopback TCP and back, timed one round trip at a time.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {
class TcpSocket;
}

namespace tktest {

// Reads exactly count bytes, waiting at most 5 s for each part.
bool ReadExactly(platform::TcpSocket& socket, uint8_t* buffer, size_t count);

// The micros (microseconds) of each of count round trips of size bytes;
// empty when loopback could not be used.
std::vector<double> RawTcpRoundTrips(int count, size_t size);

}  // namespace tktest
