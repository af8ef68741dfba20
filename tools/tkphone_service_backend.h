#pragma once
// tkphone's backend on the telephony service: the same operations as the
// in-process host, through the TAPI32 application functions (libtapi32 ->
// tapisrv), so that several tkphone processes share the exchange's lines.
//
// TAPI hands an application HCALLs, not the htCalls tkphone's session names
// calls by: a call's HCALL value stands in for its htCall. An application
// learns of a call it did not make (offered, or made by another application
// while it monitors the line) from the first LINE_CALLSTATE for the new
// handle, which carries its privilege in dwParam3; the backend hands the
// session a LINE_NEWCALL for it first, as the host would. LINE_REPLY
// becomes the completion of its request. Messages are read with
// lineGetMessage (event notification); the callback instance of every line
// is its device ID, so each message names its line.
//
// Threads: one, the session's.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tapi/tapi32.h"
#include "tools/tkphone_session.h"

namespace tkphone {

class ServiceBackend : public PhoneBackend {
 public:
  // With monitorOnly the lines are opened with monitor privilege alone: the
  // application sees every call but owns none.
  explicit ServiceBackend(bool monitorOnly) : monitorOnly_(monitorOnly) {}
  // Closes what is still open and shuts the application down.
  ~ServiceBackend() override;

  // lineInitializeExW; its result (LINEERR_NODRIVER: no service running).
  LONG Initialize();
  // TAPI's provider list through lineGetProviderListW: (ID, file) pairs,
  // file names in UTF-8.
  static LONG ProviderList(std::vector<std::pair<uint32_t, std::string>>* providers);

  uint32_t LineCount() override { return lineCount_; }
  std::string LineName(uint32_t line) override;
  LONG OpenLine(uint32_t line) override;
  LONG CloseLine(uint32_t line) override;
  tapihost::AsyncCall MakeCall(uint32_t line, const std::string& number, const std::string& address,
                               HTAPICALL* htCall) override;
  tapihost::AsyncCall Dial(HTAPICALL htCall, const std::string& digits) override;
  tapihost::AsyncCall Accept(HTAPICALL htCall) override;
  tapihost::AsyncCall Answer(HTAPICALL htCall) override;
  tapihost::AsyncCall Drop(HTAPICALL htCall) override;
  LONG CloseCall(HTAPICALL htCall) override;
  LONG CallInfo(HTAPICALL htCall, std::vector<uint8_t>& buffer) override;
  LONG CallStatus(HTAPICALL htCall, std::vector<uint8_t>& buffer) override;
  tapihost::AsyncCall BlindTransfer(HTAPICALL htCall, const std::string& number) override;
  tapihost::AsyncCall SetupTransfer(HTAPICALL htCall, HTAPICALL* newCall) override;
  tapihost::AsyncCall CompleteTransfer(HTAPICALL htCall, HTAPICALL htConsultCall, DWORD transferMode,
                                       HTAPICALL* newCall) override;
  tapihost::AsyncCall SwapHold(HTAPICALL htActiveCall, HTAPICALL htHeldCall) override;
  tapihost::AsyncCall Park(HTAPICALL htCall) override;
  std::optional<std::string> ParkAddress(DRV_REQUESTID requestId) override;
  tapihost::AsyncCall Unpark(uint32_t line, const std::string& address, HTAPICALL* newCall) override;
  tapihost::AsyncCall Pickup(uint32_t line, const std::string& number, HTAPICALL* newCall) override;
  tapihost::AsyncCall Redirect(HTAPICALL htCall, const std::string& number) override;
  tapihost::AsyncCall Forward(uint32_t line, DWORD forwardMode, const std::string& number) override;
  std::vector<tapihost::HostEvent> NextEvents(uint32_t timeoutMs) override;

 private:
  // The request's AsyncCall: TAPI returns the request ID or an error.
  static tapihost::AsyncCall Request(LONG result);
  // A call operation that may create a call: *newCall is its handle.
  tapihost::AsyncCall NewCall(LONG result, HCALL hCall, uint32_t line, HTAPICALL* newCall);
  HLINE LineHandle(uint32_t line) const;
  // The event(s) one message becomes.
  void Translate(const LINEMESSAGE& message, std::vector<tapihost::HostEvent>& out);
  LONG GetStructure(HCALL hCall, bool info, std::vector<uint8_t>& buffer);

  bool monitorOnly_;
  HLINEAPP app_ = 0;
  uint32_t lineCount_ = 0;
  uint64_t sequence_ = 0;
  std::map<uint32_t, HLINE> lines_;           // open lines by device ID
  std::map<HCALL, uint32_t> callLines_;       // known calls and their device IDs
  std::map<DWORD, std::unique_ptr<std::vector<uint8_t>>> parkBuffers_;  // VARSTRINGs of parks in flight
  std::map<DWORD, std::string> parkAddresses_;                          // of parks completed with 0
};

}  // namespace tkphone
