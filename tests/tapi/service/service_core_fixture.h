#pragma once
// The service core in-process for tests: the fake provider plug-ins of
// tests/tapi in the test root's provider list, a sink that records what each
// client gets, requests built and replies read with the wire codec, and
// bounded waits for events that the providers' threads announce through the
// core's wake function.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "tapi/host/provider_list.h"
#include "tapi/service/service_core.h"
#include "tapi/tapi.h"
#include "tapi/wire/tapi_functions.h"
#include "tapi/wire/tapi_wire.h"

namespace tktest {

using tapisrv::ClientId;
using tapiwire::EventMessage;
using tapiwire::Function;

struct NullText {};
struct NullBytes {};
using WireValue = std::variant<uint32_t, uint64_t, std::u16string, std::vector<uint8_t>, NullText, NullBytes>;

inline std::vector<uint8_t> RequestMessage(uint32_t function, const std::vector<WireValue>& values,
                                           uint32_t sequence = 1) {
  tapiwire::Writer w(tapiwire::Kind::Request, sequence);
  w.u32(function);
  for (const WireValue& v : values) {
    if (auto* n = std::get_if<uint32_t>(&v)) w.u32(*n);
    if (auto* q = std::get_if<uint64_t>(&v)) w.u64(*q);
    if (auto* t = std::get_if<std::u16string>(&v)) w.text(std::u16string_view(*t));
    if (auto* b = std::get_if<std::vector<uint8_t>>(&v)) w.bytes(std::span<const uint8_t>(*b));
    if (std::holds_alternative<NullText>(v)) w.text(std::nullopt);
    if (std::holds_alternative<NullBytes>(v)) w.bytes(std::nullopt);
  }
  return w.finish();
}

// A reply: its result, and a reader at its first out value.
struct Reply {
  LONG result = 0;
  std::shared_ptr<const std::vector<uint8_t>> message;
  std::optional<tapiwire::Reader> out;
};

template <typename T>
const T& StructIn(const std::vector<uint8_t>& bytes) {
  EXPECT_GE(bytes.size(), sizeof(T));
  return *reinterpret_cast<const T*>(bytes.data());
}

class RecordingSink : public tapisrv::ClientSink {
 public:
  void Send(ClientId client, std::vector<uint8_t> message) override { messages[client].push_back(std::move(message)); }
  void Disconnect(ClientId client) override { disconnected.insert(client); }
  std::map<ClientId, std::vector<std::vector<uint8_t>>> messages;
  std::set<ClientId> disconnected;
};

class ServiceCoreFixture : public ::testing::Test {
 protected:
  static constexpr DWORD kVoice = LINEMEDIAMODE_INTERACTIVEVOICE;
  static constexpr uint32_t kWaitMs = 10000;

  void TearDown() override {
    core.StopProviders();
    if (!violationsExpected) {
      EXPECT_THAT(core.Violations(), ::testing::IsEmpty());
    }
  }

  // Registers the plug-ins of tests/tapi in the list and starts them.
  void Start(const std::vector<std::string>& plugins) {
    for (const std::string& p : plugins) {
      std::string error;
      ASSERT_NE(tapihost::AddProvider(std::string(TK_FAKE_PROVIDER_DIR) + "/" + p, &error), 0u) << error;
    }
    ASSERT_EQ(core.StartProviders(), plugins.size());
  }

  ClientId Connect() {
    const ClientId id = nextClient_++;
    core.OnConnect(id, static_cast<uint32_t>(4000 + id));
    return id;
  }

  // Sends a request and returns its reply (the only reply it brings).
  Reply Ask(ClientId client, Function f, const std::vector<WireValue>& values) {
    return AskRaw(client, RequestMessage(static_cast<uint32_t>(f), values, ++sequence_));
  }
  Reply AskRaw(ClientId client, const std::vector<uint8_t>& message) {
    const size_t before = sink.messages[client].size();
    core.OnMessage(client, message);
    Reply reply;
    reply.result = LINEERR_NODRIVER;  // no reply came
    auto& got = sink.messages[client];
    for (size_t i = before; i < got.size(); ++i) {
      auto shared = std::make_shared<const std::vector<uint8_t>>(got[i]);
      std::optional<tapiwire::Reader> in = tapiwire::Reader::open(*shared);
      if (!in || in->kind() != tapiwire::Kind::Reply) continue;
      EXPECT_EQ(reply.message, nullptr) << "two replies";
      reply.result = static_cast<LONG>(in->u32());
      reply.message = shared;
      reply.out = tapiwire::Reader::open(*shared);
      reply.out->u32();
    }
    return reply;
  }

  HLINEAPP Init(ClientId client) {
    Reply r = Ask(client, Function::Initialize, {std::u16string(u"test"), uint32_t{0x20000}});
    EXPECT_EQ(r.result, 0);
    return r.result == 0 ? r.out->u32() : 0;
  }
  HLINE Open(ClientId client, HLINEAPP app, uint32_t device, DWORD privileges, uint64_t callbackInstance = 0) {
    Reply r = Ask(client, Function::Open,
                  {app, device, uint32_t{0x20000}, uint32_t{0}, callbackInstance, privileges,
                   privileges & LINECALLPRIVILEGE_OWNER ? kVoice : DWORD{0}, NullBytes{}});
    EXPECT_EQ(r.result, 0);
    return r.result == 0 ? r.out->u32() : 0;
  }

  std::vector<EventMessage> Events(ClientId client) {
    std::vector<EventMessage> events;
    for (const auto& m : sink.messages[client]) {
      if (auto e = tapiwire::decodeEvent(m)) events.push_back(*e);
    }
    return events;
  }

  // The next event of the client (after the ones an earlier wait returned)
  // for which pred holds, handling provider events as they come; bounded.
  std::optional<EventMessage> WaitEvent(ClientId client, const std::function<bool(const EventMessage&)>& pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    for (;;) {
      uint64_t wakes;
      {
        std::lock_guard lock(m_);
        wakes = wakes_;
      }
      core.ProcessProviderEvents();
      const std::vector<EventMessage> events = Events(client);
      for (size_t& i = seen_[client]; i < events.size();) {
        if (pred(events[i++])) return events[i - 1];
      }
      std::unique_lock lock(m_);
      if (!woken_.wait_until(lock, deadline, [&] { return wakes_ != wakes; })) return std::nullopt;
    }
  }
  // Handles provider events until pred holds; bounded.
  bool WaitCore(const std::function<bool()>& pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    for (;;) {
      uint64_t wakes;
      {
        std::lock_guard lock(m_);
        wakes = wakes_;
      }
      core.ProcessProviderEvents();
      if (pred()) return true;
      std::unique_lock lock(m_);
      if (!woken_.wait_until(lock, deadline, [&] { return wakes_ != wakes; })) return pred();
    }
  }
  static auto Msg(DWORD id, uint64_t param1) {
    return [=](const EventMessage& e) { return e.messageId == id && e.param1 == param1; };
  }

  bool Logged(const std::string& text) const {
    for (const std::string& line : logLines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  RecordingSink sink;
  std::vector<std::string> logLines;
  bool violationsExpected = false;

 private:
  std::mutex m_;
  std::condition_variable woken_;
  uint64_t wakes_ = 0;
  std::map<ClientId, size_t> seen_;
  ClientId nextClient_ = 1;
  uint32_t sequence_ = 0;

 protected:
  tapisrv::ServiceCore core{sink, [this](const std::string& line) { logLines.push_back(line); },
                            [this] {
                              std::lock_guard lock(m_);
                              ++wakes_;
                              woken_.notify_all();
                            }};
};

}  // namespace tktest
