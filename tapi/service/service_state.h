#pragma once
// The service core's state and the operations its parts share (internal to
// tapi/service). ServiceCore's methods land here; the parts live in files of
// their own:
//   service_tables.cpp    handles (one service-wide counter) and the checks
//                         that a handle is the asking client's
//   service_providers.cpp the providers of the list, global device numbers,
//                         reading their events and contract breaches
//   service_requests.cpp  cutting a request into its function and values,
//                         the reply, refusals of malformed input
//   service_line_requests.cpp / service_call_requests.cpp  the functions
//   service_events.cpp    provider events to the applications they concern,
//                         LINE_REPLY of completed requests
//   service_apps.cpp      an application's end: its calls handed over or
//                         dropped, its lines closed
//   service_structs.cpp   checks of the applications' in-structures
//   service_ui_requests.cpp  providers added and removed at run time, and
//                         the UI modules' dialog data to the providers
//
// Threads: everything here runs on the service thread. The providers' own
// threads only append to their TelephonyHost's event log (and call the wake
// function); their events are read here, between requests.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "tapi/host/call_watchdog.h"
#include "tapi/host/host_calls.h"
#include "tapi/host/telephony_host.h"
#include "tapi/service/service_core.h"
#include "tapi/tapi.h"
#include "tapi/wire/tapi_functions.h"
#include "tapi/wire/tapi_wire.h"

namespace tapisrv {

inline constexpr uint32_t kFirstHandle = 0x00010001;
inline constexpr DWORD kLowestApiVersion = 0x00010004;
inline constexpr DWORD kHighestApiVersion = 0x00020000;
// The largest out-structure an application may ask for.
inline constexpr uint32_t kMaxCap = 1u << 20;
// How long StopProviders waits for outstanding requests, and then once more
// for the completions that closing the lines brings.
inline constexpr uint32_t kStopWaitMs = 5000;
inline constexpr uint32_t kStopCloseWaitMs = 1000;
// The htConsultCall the service hands TSPI_lineForward; such calls are not followed.
inline constexpr uintptr_t kForwardConsultBase = 0x7E000000;

struct Provider {
  uint32_t permanentId = 0;
  std::string file;
  std::unique_ptr<tapihost::TelephonyHost> host;
  std::unique_ptr<tapihost::HostCalls> calls;
  size_t cursor = 0;           // into the host's event log
  size_t violationsSeen = 0;   // of host->violations(), already logged
  std::vector<uint32_t> globalOf;  // local device ID -> global device ID
  bool running = false;
};

// One global line device ID.
struct Device {
  size_t provider = 0;
  uint32_t local = 0;
  bool removed = false;
  std::vector<HLINE> opens;      // the applications' opens, in lineOpen order
  DWORD lineStates = 0;          // the union of the opens' masks, as the provider has it
  DWORD addressStates = 0;
};

struct CallKey {
  size_t provider = 0;
  HTAPICALL htCall = nullptr;
  auto operator<=>(const CallKey&) const = default;
};

struct Call {
  uint32_t device = 0;             // global
  DWORD state = 0;                 // 0 until the provider reports one
  DWORD_PTR stateMode = 0;        // dwParam2: for CONFERENCED the conference call's htCall
  std::vector<HCALL> handles;      // the applications' handles, in order given
  bool monitorsPending = false;    // created by an application: monitors join at its first event
  bool dropped = false;            // the service dropped it, its owner having gone
};

struct App {
  ClientId client = 0;
  HLINEAPP hLineApp = 0;
  DWORD apiVersion = 0;
  std::u16string name;
  std::vector<HLINE> lines;  // open, in order
  uint32_t nextRequestId = 1;
};

struct LineOpen {
  ClientId client = 0;
  uint32_t device = 0;  // global
  DWORD privileges = 0;
  DWORD mediaModes = 0;
  uint64_t callbackInstance = 0;
  DWORD lineStates = 0;
  DWORD addressStates = 0;
  std::vector<HCALL> calls;  // the call handles held through this open
};

struct CallHandle {
  ClientId client = 0;
  CallKey call;
  HLINE hLine = 0;
  DWORD privilege = 0;  // LINECALLPRIVILEGE_OWNER or _MONITOR
  bool announced = false;
};

struct Client {
  uint32_t pid = 0;
  HLINEAPP app = 0;  // 0 before lineInitializeEx and after lineShutdown
  bool shutDown = false;
};

// An asynchronous request the provider has accepted and not yet completed.
struct Pending {
  ClientId client = 0;
  uint32_t appRequestId = 0;
  tapiwire::Function function = tapiwire::Function::MakeCall;
  std::optional<CallKey> createdCall;  // a call the request creates
  HCALL createdHandle = 0;
  // The park VARSTRING or the dev-specific parameters: the provider writes
  // into it until it completes; it goes back with the LINE_REPLY.
  std::vector<uint8_t> buffer;
  bool attach = false;
  // In-structures the provider may still read until it completes.
  std::vector<std::vector<uint8_t>> keep;
};

// The values of a reply after its result.
using OutValue = std::variant<uint32_t, std::vector<uint8_t>, std::u16string>;
using OutValues = std::vector<OutValue>;

// One request being handled.
struct Request {
  ClientId client = 0;
  tapiwire::Function function = tapiwire::Function::Initialize;
  tapiwire::Reader* in = nullptr;
  OutValues out;
};

struct ServiceCore::State {
  State(ClientSink& s, ServiceLog l, std::function<void()> w) : sink(s), log(std::move(l)), wake(std::move(w)) {}

  ClientSink& sink;
  ServiceLog log;
  std::function<void()> wake;

  // Times every provider call; made with the first provider loaded, and
  // before the providers so it goes after them.
  uint32_t callLimitMs = tapihost::CallWatchdog::kDefaultLimitMs;
  std::unique_ptr<tapihost::CallWatchdog> watchdog;

  // Before the providers, so they go after them: a provider may write into
  // a pending request's buffer until it is shut down.
  std::map<std::pair<size_t, DRV_REQUESTID>, Pending> pending;
  // Buffers of requests given up on at the stop, kept until the providers are down.
  std::vector<std::vector<uint8_t>> orphanBuffers;

  std::vector<Provider> providers;
  // Plug-ins being added (AddProviderBegin): loaded, not started, until
  // their client's AddProviderFinish; at most one per client.
  std::map<ClientId, Provider> adding;
  std::vector<Device> devices;
  std::map<ClientId, Client> clients;
  std::map<HLINEAPP, App> apps;
  std::map<HLINE, LineOpen> lines;
  std::map<HCALL, CallHandle> callHandles;
  std::map<CallKey, Call> calls;
  std::vector<std::string> violations;
  uint32_t nextHandle = kFirstHandle;
  uint32_t stopWaitMs = kStopWaitMs;
  uintptr_t nextForwardConsult = kForwardConsultBase;
  bool stopped = false;

  // --- service_tables.cpp
  uint32_t NewHandle();
  std::string Who(ClientId client) const;
  void Refuse(ClientId client, const std::string& what);
  App* FindApp(Request& r, HLINEAPP h);
  LineOpen* FindLine(Request& r, HLINE h);
  CallHandle* FindCall(Request& r, HCALL h);
  App* AppOf(ClientId client);
  // A new handle on the call for the open hLine.
  HCALL AddCallHandle(const CallKey& key, HLINE hLine, DWORD privilege, bool announced);
  void RemoveCallHandle(HCALL h);
  size_t CountPrivilege(const Call& call, DWORD privilege) const;

  // --- service_providers.cpp
  size_t StartProviders();
  // The plug-in loaded into a host of its own, not started; nullopt with
  // *error saying why.
  std::optional<Provider> LoadProvider(uint32_t permanentId, const std::string& file, std::string* error);
  // Starts a loaded provider and numbers its lines (logged either way); its
  // index in providers, or nullopt when it did not start.
  std::optional<size_t> RunProvider(Provider p);
  void StopProviders();
  // Shuts the providers down in list order (quiet: no log lines, for the destructor).
  void StopHosts(bool quiet);
  // Reads provider events until no request is pending or the deadline passes.
  void WaitPending(uint32_t timeoutMs);
  void ReadProviderEvents();
  void LogViolations(Provider& p);
  void LogViolationsOfAll();
  // A fault of the provider the service itself noticed (logged like a breach).
  void Fault(size_t provider, const std::string& what);
  std::optional<uint32_t> AddDevice(size_t provider, uint32_t local);
  Device* DeviceOf(uint32_t globalId);
  tapihost::TelephonyHost& HostOf(const Device& d) { return *providers[d.provider].host; }
  tapihost::HostCalls& CallsOf(const Device& d) { return *providers[d.provider].calls; }
  std::optional<HDRVLINE> HdLine(const Device& d) { return HostOf(d).LineHandle(d.local); }
  std::optional<HDRVCALL> HdCall(const CallKey& key);

  // --- service_requests.cpp
  void OnMessage(ClientId client, std::span<const uint8_t> message);
  void SendReply(ClientId client, uint32_t sequence, LONG result, const OutValues& out);
  void SendEvent(ClientId client, tapiwire::EventMessage event);
  bool ArgsDone(Request& r);
  LONG Dispatch(Request& r);
  // An accepted provider request becomes pending; the app's request ID is the result.
  LONG Accepted(Request& r, size_t provider, const tapihost::AsyncCall& c, Pending p);

  // --- service_line_requests.cpp
  LONG Initialize(Request& r);
  LONG Shutdown(Request& r);
  LONG NegotiateApiVersion(Request& r);
  LONG GetDevCaps(Request& r);
  LONG GetAddressCaps(Request& r);
  LONG GetAddressStatus(Request& r);
  LONG GetLineDevStatus(Request& r);
  LONG GetId(Request& r);
  LONG Open(Request& r);
  LONG Close(Request& r);
  LONG SetStatusMessages(Request& r);
  LONG GetProviderList(Request& r);
  LONG Forward(Request& r);
  LONG DevSpecific(Request& r);
  LONG DevSpecificFeature(Request& r);
  LONG Unpark(Request& r);
  LONG Pickup(Request& r);
  // The device an application names: 0, or LINEERR_BADDEVICEID / _NODEVICE / _NODRIVER.
  LONG CheckDevice(uint32_t deviceId);
  // The cap of an out-structure: 0, or LINEERR_STRUCTURETOOSMALL below the
  // fixed part, or (logged) LINEERR_OPERATIONFAILED above kMaxCap.
  LONG CheckCap(Request& r, uint32_t cap, size_t fixedSize);
  // The TSPI version for a request of the application on the device.
  LONG DeviceVersion(const Device& d, DWORD apiVersion, DWORD extVersion, DWORD* tspiVersion);
  // An out-structure the provider filled: rc, or LINEERR_OPERATIONFAILED
  // (logged) when it misreported the sizes; else it becomes the reply's value.
  LONG OutResult(Request& r, size_t provider, const char* tspi, LONG rc, std::vector<uint8_t>& buffer);

  // --- service_call_requests.cpp
  LONG MakeCall(Request& r);
  LONG CallOperation(Request& r);  // Dial .. Redirect that take one call and no new call
  LONG DeallocateCall(Request& r);
  LONG GetCallInfo(Request& r);
  LONG GetCallStatus(Request& r);
  // lineSetAppSpecific and lineSetMediaMode: one DWORD for an owned call.
  LONG SetCallValue(Request& r);
  LONG SetupTransfer(Request& r);
  LONG CompleteTransfer(Request& r);
  LONG SwapHold(Request& r);
  LONG Park(Request& r);
  // The asking client's call handle with OWNER privilege; else *rc is
  // LINEERR_INVALCALLHANDLE or LINEERR_NOTOWNER.
  CallHandle* OwnedCall(Request& r, HCALL h, LONG* rc);
  // A call an application's request creates: owner handle for it, monitors later.
  HCALL NewAppCall(size_t provider, HTAPICALL htCall, uint32_t device, HLINE hLine);
  // The reply to a request that creates a call (htCall on device): once the
  // provider has accepted it, the asking application owns the new call
  // through hLine and gets its handle as the reply's out value.
  LONG AcceptedNewCall(Request& r, size_t provider, const tapihost::AsyncCall& c, HTAPICALL htCall, uint32_t device,
                       HLINE hLine);

  // --- service_events.cpp
  void HandleEvent(size_t provider, const tapihost::HostEvent& e);
  void Complete(size_t provider, DRV_REQUESTID id, LONG result);
  void CallEvent(size_t provider, const tapihost::HostEvent& e);
  void LineEvent(uint32_t device, const tapihost::HostEvent& e);
  void NewCall(size_t provider, uint32_t device, HTAPICALL htCall);
  void JoinMonitors(const CallKey& key, Call& call);
  void SendCallState(HCALL h, const Call& call);
  // Closes the call with the provider once it is idle and nobody holds it.
  void CloseIfDone(const CallKey& key);
  void Broadcast(DWORD msg, uint32_t deviceId);

  // --- service_ui_requests.cpp
  LONG AddProviderBegin(Request& r);
  LONG AddProviderFinish(Request& r);
  LONG RemoveProvider(Request& r);
  LONG ProviderUi(Request& r);
  LONG LineUi(Request& r);
  LONG GenericDialogData(Request& r);
  // Forgets the plug-ins being added for clients that have gone.
  void DropStaleAdds();
  // Ends a running provider: its lines closed (LINE_CLOSE to the apps that
  // had them open), its outstanding requests answered, its devices removed
  // (LINE_REMOVE to every app; their IDs are not given out again).
  void RetireProvider(size_t index);

  // --- service_apps.cpp
  void EndApp(HLINEAPP h);
  void CloseLine(HLINE h);
  // The provider closed or removed the device: every open of it ends, no hand-over.
  void ForceCloseDevice(uint32_t device);
  // The application lets go of its handle: handed over or dropped when it owned the call alone.
  void ReleaseCall(HCALL h);
  // Gives the provider the union of the opens' masks when it changed; its result.
  LONG UpdateStatusMasks(uint32_t device);
  void OnDisconnect(ClientId client);
};

// --- service_structs.cpp
// Whether bytes hold a LINECALLPARAMS / LINEFORWARDLIST whose dwTotalSize is
// their length and whose variable parts lie inside; *why says what is wrong.
bool ValidCallParams(const std::vector<uint8_t>& bytes, std::string* why);
bool ValidForwardList(const std::vector<uint8_t>& bytes, std::string* why);
// The bytes, with zeros up to minSize and two more after them, so a text the
// provider reads without its size ends inside the buffer, and a provider
// reading the members of a newer version finds zeros.
std::vector<uint8_t> Padded(const std::vector<uint8_t>& bytes, size_t minSize = 0);
// LINEPROVIDERLIST of cap bytes for the list (UTF-16 names).
std::vector<uint8_t> ProviderListStruct(uint32_t cap);
// An out-structure of cap bytes with dwTotalSize = cap.
std::vector<uint8_t> OutStruct(uint32_t cap);
// Whether the provider left dwTotalSize and dwUsedSize of an out-structure sane.
bool SaneOut(const std::vector<uint8_t>& buffer);

template <typename T>
T* As(std::vector<uint8_t>& buffer) {
  return reinterpret_cast<T*>(buffer.data());
}

}  // namespace tapisrv
