#pragma once
// The applications of this process (one per lineInitializeEx) and which of
// them each line and call handle belongs to, so that a function on an hLine
// or hCall goes out on the connection of the application that holds it.
//
// Handles are unique across the service, so one table serves every
// application. A line enters it with lineOpen's reply; a call with the reply
// that hands it out (make call, unpark, pickup, ...) or with the first call
// event that announces it (an incoming call, a call handed over); they leave
// with lineClose / LINE_CLOSE and lineDeallocateCall, and all of an
// application's with its lineShutdown. A handle the table does not know is
// still sent (on the first application's connection) so that the service
// gives its answer to it.
//
// Threads: the table is used from application threads and from every
// connection's reader thread (App::onEvent); one mutex guards it and is
// never held while calling out.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "tapi/client/client_connection.h"
#include "tapi/client/client_queue.h"
#include "tapi/tapi32.h"

namespace tapi32 {

class App : public EventSink {
 public:
  App(std::unique_ptr<Connection> connection, std::shared_ptr<MessageQueue> queue);
  ~App() override;

  Connection& connection() { return *connection_; }
  MessageQueue& queue() { return *queue_; }
  // Set once Initialize is answered; the reader thread reads it.
  std::atomic<HLINEAPP> handle{0};
  DWORD apiVersion = 0;
  bool usesEvent = false;

  // Events of the connection's reader thread: LINEMESSAGEs in the queue.
  void onEvent(const tapiwire::EventMessage& event) override;
  // LINE_LINEDEVSTATE(REINIT) for each open line (or one with hDevice 0 when
  // none is open), so that the application starts again.
  void connectionLost() override;
  // Ends the connection, then the queue.
  void close();

 private:
  std::unique_ptr<Connection> connection_;
  std::shared_ptr<MessageQueue> queue_;
};

struct LineEntry {
  HLINEAPP app = 0;
  DWORD apiVersion = 0;
  DWORD_PTR callbackInstance = 0;
};

class AppTable {
 public:
  void add(const std::shared_ptr<App>& app);
  // Removes the application and its handles; null when it is unknown.
  std::shared_ptr<App> remove(HLINEAPP handle);
  std::shared_ptr<App> find(HLINEAPP handle);
  // The application holding the handle; when none does, the first one (the
  // service decides); null when there is no application at all.
  std::shared_ptr<App> forLine(HLINE line);
  std::shared_ptr<App> forCall(HCALL call);
  // The negotiated API version of an open line (the application's when the
  // line is unknown).
  DWORD lineVersion(HLINE line, const App& app);

  void addLine(HLINE line, const LineEntry& entry);
  void removeLine(HLINE line);
  void addCall(HCALL call, HLINEAPP app);
  void removeCall(HCALL call);
  // The open lines of one application, in handle order.
  std::vector<std::pair<HLINE, LineEntry>> linesOf(HLINEAPP app);

 private:
  std::shared_ptr<App> firstLocked();

  std::mutex mutex_;
  std::map<HLINEAPP, std::shared_ptr<App>> apps_;
  std::map<HLINE, LineEntry> lines_;
  std::map<HCALL, HLINEAPP> calls_;
};

// The process's table.
AppTable& apps();

}  // namespace tapi32
