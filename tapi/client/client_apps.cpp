#include "tapi/client/client_apps.h"

#include <utility>

#include "tapi/tapi_constants.h"

namespace tapi32 {

namespace {

// Messages whose hDevice is a call handle of the receiving application.
bool isCallMessage(DWORD messageId) {
  switch (messageId) {
    case LINE_CALLSTATE:
    case LINE_CALLINFO:
    case LINE_GENERATE:
    case LINE_MONITORDIGITS:
    case LINE_MONITORMEDIA:
    case LINE_MONITORTONE:
    case LINE_GATHERDIGITS:
      return true;
    default:
      return false;
  }
}

}  // namespace

App::App(std::unique_ptr<Connection> connection, std::shared_ptr<MessageQueue> queue)
    : connection_(std::move(connection)), queue_(std::move(queue)) {}

App::~App() { close(); }

void App::onEvent(const tapiwire::EventMessage& event) {
  if (isCallMessage(event.messageId) && event.hDevice != 0) apps().addCall(event.hDevice, handle);
  if (event.messageId == LINE_APPNEWCALL && event.param2 != 0) {
    apps().addCall(static_cast<HCALL>(event.param2), handle);
  }
  if (event.messageId == LINE_CLOSE) apps().removeLine(event.hDevice);
  LINEMESSAGE message{};
  message.hDevice = event.hDevice;
  message.dwMessageID = event.messageId;
  message.dwCallbackInstance = static_cast<DWORD_PTR>(event.callbackInstance);
  message.dwParam1 = static_cast<DWORD_PTR>(event.param1);
  message.dwParam2 = static_cast<DWORD_PTR>(event.param2);
  message.dwParam3 = static_cast<DWORD_PTR>(event.param3);
  queue_->push(message);
}

void App::connectionLost() {
  LINEMESSAGE message{};
  message.dwMessageID = LINE_LINEDEVSTATE;
  message.dwParam1 = LINEDEVSTATE_REINIT;
  const auto lines = apps().linesOf(handle);
  for (const auto& [line, entry] : lines) {
    message.hDevice = line;
    message.dwCallbackInstance = entry.callbackInstance;
    queue_->push(message);
  }
  if (lines.empty()) queue_->push(message);
}

void App::close() {
  connection_->close();
  queue_->close();
}

void AppTable::add(const std::shared_ptr<App>& app) {
  std::lock_guard<std::mutex> lock(mutex_);
  apps_[app->handle] = app;
}

std::shared_ptr<App> AppTable::remove(HLINEAPP handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = apps_.find(handle);
  if (it == apps_.end()) return nullptr;
  std::shared_ptr<App> app = std::move(it->second);
  apps_.erase(it);
  std::erase_if(lines_, [&](const auto& line) { return line.second.app == handle; });
  std::erase_if(calls_, [&](const auto& call) { return call.second == handle; });
  return app;
}

std::shared_ptr<App> AppTable::find(HLINEAPP handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = apps_.find(handle);
  return it == apps_.end() ? nullptr : it->second;
}

std::shared_ptr<App> AppTable::firstLocked() { return apps_.empty() ? nullptr : apps_.begin()->second; }

std::shared_ptr<App> AppTable::forLine(HLINE line) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = lines_.find(line);
  if (it != lines_.end()) {
    auto app = apps_.find(it->second.app);
    if (app != apps_.end()) return app->second;
  }
  return firstLocked();
}

std::shared_ptr<App> AppTable::forCall(HCALL call) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = calls_.find(call);
  if (it != calls_.end()) {
    auto app = apps_.find(it->second);
    if (app != apps_.end()) return app->second;
  }
  return firstLocked();
}

DWORD AppTable::lineVersion(HLINE line, const App& app) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = lines_.find(line);
  return it == lines_.end() ? app.apiVersion : it->second.apiVersion;
}

void AppTable::addLine(HLINE line, const LineEntry& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (apps_.count(entry.app)) lines_[line] = entry;
}

void AppTable::removeLine(HLINE line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.erase(line);
}

void AppTable::addCall(HCALL call, HLINEAPP app) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (apps_.count(app)) calls_[call] = app;
}

void AppTable::removeCall(HCALL call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.erase(call);
}

std::vector<std::pair<HLINE, LineEntry>> AppTable::linesOf(HLINEAPP app) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::pair<HLINE, LineEntry>> result;
  for (const auto& [line, entry] : lines_) {
    if (entry.app == app) result.emplace_back(line, entry);
  }
  return result;
}

AppTable& apps() {
  static AppTable* table = new AppTable;  // never destroyed: reader threads may outlive static destruction
  return *table;
}

}  // namespace tapi32
