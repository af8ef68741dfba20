#pragma once
// A scripted stand-in for the telephony service, in the test process: it
// listens at <runtime>/tapisrv.sock of the test's root, records every
// request and answers with what the test scripted for its function
// (replies and events it chooses). Initialize and Shutdown have default
// answers; anything unscripted gets LINEERR_OPERATIONUNAVAIL. One server
// thread serves every connection; the test thread may push events and drop
// the connections at any time.
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/local_socket.h"
#include "platform/root.h"
#include "platform/thread.h"
#include "tapi/tapi32.h"
#include "tapi/wire/tapi_functions.h"
#include "tapi/wire/tapi_wire.h"

namespace tktest {

using Bytes = std::vector<uint8_t>;

class FakeTapiSrv {
 public:
  // The request's arguments (after its function ID) -> the messages to send back.
  using Handler = std::function<std::vector<Bytes>(uint32_t sequence, tapiwire::Reader& args)>;
  static constexpr HLINEAPP kFirstApp = 0x00010001;

  FakeTapiSrv() {
    platform::ensureDirectory(platform::runtimeDir());
    listener_ = platform::LocalListener::listen(platform::runtimeDir() + "/" + tapiwire::kServiceSocketName);
    on(tapiwire::Function::Initialize, [this](uint32_t seq, tapiwire::Reader&) {
      const HLINEAPP app = nextApp_++;
      return std::vector<Bytes>{reply(seq, 0, [&](tapiwire::Writer& w) { w.u32(app).u32(2).u32(TAPI_VERSION2_0); })};
    });
    on(tapiwire::Function::Shutdown, [](uint32_t seq, tapiwire::Reader&) { return std::vector<Bytes>{reply(seq, 0)}; });
    thread_.start([this] { serve(); }, "fake tapisrv");
  }
  ~FakeTapiSrv() {
    stop_ = true;
    poller_.wake();
    thread_.join();
  }

  bool listening() const { return listener_.valid(); }

  void on(tapiwire::Function function, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[static_cast<uint32_t>(function)] = std::move(handler);
  }

  static Bytes reply(uint32_t sequence, LONG result, const std::function<void(tapiwire::Writer&)>& values = {}) {
    tapiwire::Writer w(tapiwire::Kind::Reply, sequence);
    w.u32(static_cast<uint32_t>(result));
    if (values) values(w);
    return w.finish();
  }
  static Bytes event(DWORD hDevice, DWORD messageId, uint64_t instance, uint64_t p1, uint64_t p2 = 0,
                     uint64_t p3 = 0, std::optional<Bytes> attachment = std::nullopt) {
    tapiwire::EventMessage e;
    e.hDevice = hDevice;
    e.messageId = messageId;
    e.callbackInstance = instance;
    e.param1 = p1;
    e.param2 = p2;
    e.param3 = p3;
    e.attachment = std::move(attachment);
    return tapiwire::encodeEvent(e);
  }

  size_t requestCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
  }
  // The last request of that function without its header, and the index of
  // the connection it came on; an empty body when there was none.
  std::pair<Bytes, size_t> last(tapiwire::Function function) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = requests_.rbegin(); it != requests_.rend(); ++it) {
      if (functionOf(it->second) == static_cast<uint32_t>(function)) {
        return {Bytes(it->second.begin() + tapiwire::kHeaderSize, it->second.end()), it->first};
      }
    }
    return {};
  }
  Bytes lastBody(tapiwire::Function function) { return last(function).first; }
  // The message the library must send for function and args, without header.
  static Bytes body(tapiwire::Function function, const std::function<void(tapiwire::Writer&)>& args) {
    tapiwire::Writer w(tapiwire::Kind::Request, 0);
    w.u32(static_cast<uint32_t>(function));
    args(w);
    Bytes message = w.finish();
    return Bytes(message.begin() + tapiwire::kHeaderSize, message.end());
  }

  // Sends a message to connection index (in order of connecting).
  void send(size_t connection, const Bytes& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection < connections_.size()) connections_[connection]->send(message.data(), message.size());
  }
  size_t connectionCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_.size();
  }
  // Ends every connection, as a service that goes away.
  void dropClients() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : connections_) c->shutdownBoth();
  }

 private:
  static uint32_t functionOf(const Bytes& message) {
    uint32_t function = 0;
    if (message.size() >= tapiwire::kHeaderSize + 5) std::memcpy(&function, message.data() + tapiwire::kHeaderSize + 1, 4);
    return function;
  }

  void serve() {
    std::vector<tapiwire::Splitter> splitters;
    std::vector<uint8_t> buffer(64 * 1024);
    while (!stop_) {
      std::vector<const platform::LocalConnection*> watched;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& c : connections_) watched.push_back(c.get());
      }
      platform::LocalPoller::Ready ready = poller_.wait(&listener_, watched, 1000);
      if (ready.listenerReady) {
        platform::LocalConnection c = listener_.accept(0);
        if (c.valid()) {
          std::lock_guard<std::mutex> lock(mutex_);
          connections_.push_back(std::make_unique<platform::LocalConnection>(std::move(c)));
          splitters.emplace_back();
        }
      }
      for (size_t index : ready.readable) {
        const long n = connections_[index]->receive(buffer.data(), buffer.size());
        if (n <= 0) {
          std::lock_guard<std::mutex> lock(mutex_);
          connections_[index]->close();
          continue;
        }
        splitters[index].feed(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)));
        while (auto message = splitters[index].next()) answer(index, std::move(*message));
      }
    }
  }

  void answer(size_t index, Bytes message) {
    Handler handler;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.emplace_back(index, message);
      auto it = handlers_.find(functionOf(message));
      if (it != handlers_.end()) handler = it->second;
    }
    std::optional<tapiwire::Reader> reader = tapiwire::Reader::open(message);
    reader->u32();
    std::vector<Bytes> out = handler ? handler(reader->sequence(), *reader)
                                     : std::vector<Bytes>{reply(reader->sequence(), LINEERR_OPERATIONUNAVAIL)};
    for (const Bytes& m : out) send(index, m);
  }

  platform::LocalListener listener_;
  platform::LocalPoller poller_;
  platform::Thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<uint32_t, Handler> handlers_;
  std::vector<std::unique_ptr<platform::LocalConnection>> connections_;
  std::vector<std::pair<size_t, Bytes>> requests_;  // connection index, message
  HLINEAPP nextApp_ = kFirstApp;
};

// An out-structure as the service sends it: the fixed part, then each
// UTF-16 string (with its terminator) placed through the size member at
// sizePos; dwNeededSize and dwUsedSize are the length, dwTotalSize is cap
// and the bytes are padded to it.
template <typename T>
Bytes structureWith(T fixed, DWORD cap, const std::vector<std::pair<size_t, std::u16string>>& strings) {
  Bytes out(sizeof(T));
  for (const auto& [sizePos, text] : strings) {
    const DWORD size = static_cast<DWORD>((text.size() + 1) * 2), offset = static_cast<DWORD>(out.size());
    std::memcpy(reinterpret_cast<uint8_t*>(&fixed) + sizePos, &size, 4);
    std::memcpy(reinterpret_cast<uint8_t*>(&fixed) + sizePos + 4, &offset, 4);
    out.resize(out.size() + size);
    std::memcpy(out.data() + offset, text.c_str(), size);
  }
  const DWORD used = static_cast<DWORD>(out.size());
  std::memcpy(out.data(), &fixed, sizeof(T));
  std::memcpy(out.data(), &cap, 4);
  std::memcpy(out.data() + 4, &used, 4);
  std::memcpy(out.data() + 8, &used, 4);
  out.resize(cap);
  return out;
}

// A fake service per test, and the applications the test initialised shut
// down at its end (the library's application table is process-wide).
class ClientTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HLINEAPP app : apps_) lineShutdown(app);
  }

  // An application with USEEVENT; its event in *event when given.
  HLINEAPP initEvent(HANDLE* event = nullptr) {
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    HLINEAPP app = 0;
    DWORD devs = 0, version = TAPI_VERSION2_0;
    EXPECT_EQ(lineInitializeExW(&app, nullptr, nullptr, u"test", &devs, &version, &params), 0);
    if (event) *event = params.Handles.hEvent;
    apps_.push_back(app);
    return app;
  }
  HLINEAPP initCallback(LINECALLBACK callback) {
    HLINEAPP app = 0;
    DWORD devs = 0;
    EXPECT_EQ(lineInitialize(&app, nullptr, callback, "test", &devs), 0);
    apps_.push_back(app);
    return app;
  }
  // The next message of a USEEVENT application, within 5 s.
  LINEMESSAGE next(HLINEAPP app) {
    LINEMESSAGE m{};
    EXPECT_EQ(lineGetMessage(app, &m, 5000), 0);
    return m;
  }
  void forget(HLINEAPP app) { std::erase(apps_, app); }

  FakeTapiSrv service;

 private:
  std::vector<HLINEAPP> apps_;
};

}  // namespace tktest
