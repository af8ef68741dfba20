// The application functions of TAPI32: set-up and tear-down, version
// negotiation, messages and the provider list. Each lineInitializeEx opens a
// connection of its own to the service and gets a message queue; events
// reach the application through an event object and lineGetMessage
// (USEEVENT) or through its callback on a dispatcher thread (USEHIDDENWINDOW,
// lineInitialize: there are no windows here).
#include <cstring>

#include "platform/export.h"
#include "tapi/client/client_ansi.h"
#include "tapi/client/client_marshal.h"

using tapiwire::Function;
using tapiwire::Writer;

namespace tapi32 {
namespace {

// What lineInitialize (TAPI 1.x) tells the service: the lowest version it speaks.
constexpr DWORD kVersionOfLineInitialize = TAPI_VERSION1_4;

LONG initialize(LPHLINEAPP lphLineApp, LINECALLBACK callback, const std::optional<std::u16string>& appName,
                LPDWORD lpdwNumDevs, DWORD appVersion, LPDWORD lpdwAPIVersion,
                LPLINEINITIALIZEEXPARAMS params) {
  if (lphLineApp == nullptr || lpdwNumDevs == nullptr) return LINEERR_INVALPOINTER;
  bool useEvent = false;
  if (params != nullptr) {
    if (params->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS)) {
      if (params->dwTotalSize >= 2 * sizeof(DWORD)) params->dwNeededSize = sizeof(LINEINITIALIZEEXPARAMS);
      return LINEERR_STRUCTURETOOSMALL;
    }
    const DWORD options = params->dwOptions & ~LINEINITIALIZEEXOPTION_CALLHUBTRACKING;
    if (options == LINEINITIALIZEEXOPTION_USEEVENT) {
      useEvent = true;
    } else if (options != LINEINITIALIZEEXOPTION_USEHIDDENWINDOW) {
      return LINEERR_INVALPARAM;  // completion ports do not exist here
    }
  }
  if (!useEvent && callback == nullptr) return LINEERR_INVALPOINTER;

  std::unique_ptr<Connection> connection = Connection::open();
  if (!connection) return LINEERR_NODRIVER;
  auto app = std::make_shared<App>(std::move(connection), std::make_shared<MessageQueue>());
  if (!app->connection().start(app.get())) return LINEERR_NOMEM;
  DWORD handle = 0, numDevs = 0, version = 0;
  const LONG result = callForHandles(
      *app, Function::Initialize,
      [&](Writer& w) {
        w.text(appName ? std::optional<std::u16string_view>(*appName) : std::nullopt).u32(appVersion);
      },
      {&handle, &numDevs, &version});
  if (result != 0) return result;  // app's destructor ends the connection
  app->handle = handle;
  app->apiVersion = version;
  app->usesEvent = useEvent;
  if (!useEvent && !app->queue().startDispatcher(callback)) {
    app->connection().call(Function::Shutdown, [&](Writer& w) { w.u32(handle); });
    return LINEERR_NOMEM;
  }
  apps().add(app);
  *lphLineApp = handle;
  *lpdwNumDevs = numDevs;
  if (lpdwAPIVersion) *lpdwAPIVersion = version;
  if (params) {
    params->dwNeededSize = sizeof(LINEINITIALIZEEXPARAMS);
    params->dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);
    if (useEvent) params->Handles.hEvent = app->queue().eventHandle();
  }
  return 0;
}

LONG initializeEx(LPHLINEAPP lphLineApp, LINECALLBACK callback, const std::optional<std::u16string>& appName,
                  LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion, LPLINEINITIALIZEEXPARAMS params) {
  if (lpdwAPIVersion == nullptr) return LINEERR_INVALPOINTER;
  return initialize(lphLineApp, callback, appName, lpdwNumDevs, *lpdwAPIVersion, lpdwAPIVersion, params);
}

LONG providerList(DWORD apiVersion, LPLINEPROVIDERLIST list) {
  if (LONG check = checkOut(list, sizeof(LINEPROVIDERLIST))) return check;
  // Needs no lineInitialize: a connection of its own for this one request.
  std::unique_ptr<Connection> connection = Connection::open();
  if (!connection) return LINEERR_NODRIVER;
  if (!connection->start(nullptr)) return LINEERR_NOMEM;
  Reply reply = connection->call(Function::GetProviderList,
                                 [&](Writer& w) { w.u32(apiVersion).u32(list->dwTotalSize); });
  if (reply.failed()) return reply.result();
  std::optional<std::vector<uint8_t>> data = reply.values().bytes();
  if (!reply.valuesOk() || !data) return LINEERR_OPERATIONFAILED;
  copyStructure(*data, list);
  return reply.result();
}

}  // namespace
}  // namespace tapi32

using namespace tapi32;

extern "C" {

TK_EXPORT LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
                              LPDWORD lpdwNumDevs) {
  return initialize(lphLineApp, lpfnCallback, ansiText(lpszAppName), lpdwNumDevs, kVersionOfLineInitialize,
                    nullptr, nullptr);
}

TK_EXPORT LONG lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback,
                                 LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                                 LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams) {
  return initializeEx(lphLineApp, lpfnCallback, ansiText(lpszFriendlyAppName), lpdwNumDevs, lpdwAPIVersion,
                      lpLineInitializeExParams);
}

TK_EXPORT LONG lineInitializeExW(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback,
                                 LPCWSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                                 LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams) {
  std::optional<std::u16string> name;
  if (lpszFriendlyAppName) name = lpszFriendlyAppName;
  return initializeEx(lphLineApp, lpfnCallback, name, lpdwNumDevs, lpdwAPIVersion, lpLineInitializeExParams);
}

TK_EXPORT LONG lineShutdown(HLINEAPP hLineApp) {
  std::shared_ptr<App> app = apps().remove(hLineApp);
  if (!app) return LINEERR_INVALAPPHANDLE;
  // The application is gone from here on whatever the service says; a
  // service that went already has forgotten it.
  app->connection().expectEnd();
  LONG result = app->connection().call(Function::Shutdown, [&](Writer& w) { w.u32(hLineApp); }).result();
  if (app->connection().lost()) result = 0;
  app->close();
  return result > 0 ? 0 : result;
}

TK_EXPORT LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                       DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                                       LPLINEEXTENSIONID lpExtensionID) {
  if (lpdwAPIVersion == nullptr || lpExtensionID == nullptr) return LINEERR_INVALPOINTER;
  std::shared_ptr<App> app = apps().find(hLineApp);
  if (!app) return LINEERR_INVALAPPHANDLE;
  Reply reply = app->connection().call(Function::NegotiateApiVersion, [&](Writer& w) {
    w.u32(hLineApp).u32(dwDeviceID).u32(dwAPILowVersion).u32(dwAPIHighVersion);
  });
  if (reply.failed()) return reply.result();
  const DWORD version = reply.values().u32();
  std::optional<std::vector<uint8_t>> extension = reply.values().bytes();
  if (!reply.valuesOk() || !extension || extension->size() != sizeof(LINEEXTENSIONID)) {
    return LINEERR_OPERATIONFAILED;
  }
  *lpdwAPIVersion = version;
  std::memcpy(lpExtensionID, extension->data(), sizeof(LINEEXTENSIONID));
  return reply.result();
}

TK_EXPORT LONG lineGetMessage(HLINEAPP hLineApp, LPLINEMESSAGE lpMessage, DWORD dwTimeout) {
  if (lpMessage == nullptr) return LINEERR_INVALPOINTER;
  std::shared_ptr<App> app = apps().find(hLineApp);
  if (!app || !app->usesEvent) return LINEERR_INVALAPPHANDLE;
  return app->queue().take(lpMessage, dwTimeout);
}

TK_EXPORT LONG lineGetProviderListW(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) {
  return providerList(dwAPIVersion, lpProviderList);
}

TK_EXPORT LONG lineGetProviderListA(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) {
  const LONG result = providerList(dwAPIVersion, lpProviderList);
  if (result == 0) ansi::providerList(lpProviderList);
  return result;
}

TK_EXPORT LONG lineGetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) {
  return lineGetProviderListA(dwAPIVersion, lpProviderList);
}

}  // extern "C"
