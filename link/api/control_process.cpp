#include "link/api/control_process.h"

#include <atomic>
#include <cstring>
#include <string>

#include "link/api/vnl2_api.h"
#include "link/api/vnl2_library.h"
#include "link/common/link_config.h"
#include "link/common/link_log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/root.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace {

constexpr char kControlClass[] = "VNL2ControlProg";
constexpr uint32_t kStaleExitWaitMs = 3000;
constexpr uint32_t kPollIntervalMs = 20;
constexpr uint32_t kAnswerDeadlineMs = 3100;
constexpr uint32_t kExitWaitMs = 3000;
constexpr size_t kMaxPath = 260;

// Link names are ANSI text; only ASCII letters compare without regard to case.
bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

uint64_t AsWord(platform::WindowHandle window) { return reinterpret_cast<uint64_t>(window); }
unsigned Low32(platform::WindowHandle window) { return static_cast<unsigned>(AsWord(window)); }

// Handles what waits in the calling thread's queue, so that its windows stay
// responsive while it waits for the control process. A quit request is kept.
void DrainMessages() {
  platform::Message message;
  bool quit = false;
  int exitCode = 0;
  while (platform::peekMessage(message)) {
    if (message.message == platform::kWmQuit) {
      quit = true;
      exitCode = static_cast<int>(message.wParam);
      continue;
    }
    platform::dispatchMessage(message);
  }
  if (quit) platform::postQuitMessage(exitCode);
}

// Asks a control process to end and waits up to timeoutMs for it. The
// request is posted, not sent: a control process that no longer serves its
// messages must not hold up the caller (and with it every open and close in
// the system) beyond the wait. False when it did not end in time.
bool CloseControlProcess(platform::WindowHandle window, uint32_t timeoutMs) {
  uint32_t processId = platform::windowProcessId(window);
  if (processId == 0) return true;
  platform::postMessage(window, platform::kWmClose, 0, 0);
  std::unique_ptr<platform::Process>& started = Vnl2().startedProcess();
  if (started && started->id() == processId) {
    bool ended = started->wait(timeoutMs);
    if (ended) started.reset();
    return ended;
  }
  return platform::waitForProcessExit(processId, timeoutMs);
}

// Names the control process in the area: its window and its process id,
// which the clients watch (0: none). Under the area lock, and each word
// stored whole: a watch thread of this process reads them.
void SetControlProcess(Vnl2SharedArea& area, uint64_t window, uint32_t processId) {
  NamedMutexLock areaLock(Vnl2().areaLock());
  std::atomic_ref<uint64_t>(area.controlWindow).store(window);
  Vnl2ProcessInformation& info = area.processInformation;
  std::atomic_ref<uint64_t>(info.process).store(0);
  std::atomic_ref<uint64_t>(info.thread).store(0);
  std::atomic_ref<uint32_t>(info.threadId).store(0);
  std::atomic_ref<uint32_t>(info.processId).store(processId);
}

bool WaitForAnswer(Vnl2SharedArea& area) {
  uint32_t start = platform::tickCount();
  for (;;) {
    platform::sleepMs(kPollIntervalMs);
    DrainMessages();
    int32_t state = std::atomic_ref<int32_t>(area.linkState).load();
    if (state == static_cast<int32_t>(kVnl2LinkUp) || state == static_cast<int32_t>(kVnl2LinkAcknowledged))
      return true;
    if (state != static_cast<int32_t>(kVnl2LinkStarting)) return false;
    if (platform::tickCount() - start >= kAnswerDeadlineMs) return false;
  }
}

}  // namespace

bool StartControlProcess(Vnl2SharedArea& area, const char* link) {
  platform::WindowHandle stale = platform::findWindow(kControlClass);
  // Until the new process answers, the area names no control process: the
  // clients that watch the control process must not take a link that is
  // being started for the end of an older one.
  SetControlProcess(area, AsWord(stale), 0);
  if (stale) {
    LinkLog(kLogDetail, "VNL2 BgndApplikation gefunden:  Handle  %X", Low32(stale));
    if (!CloseControlProcess(stale, kStaleExitWaitMs))
      LinkLog(kLogWarning, "WaitForSingleObject( hWndBgndProc, 3000)==WAIT_TIMEOUT)");
    // The old process reports the link down on its way out, which clears
    // the open count; this open still counts.
    area.openCount = 1;
  }

  std::string path = platform::systemDir();
  if (path.size() > kMaxPath) path.resize(kMaxPath);
  path += "\\VNL2C64.EXE";
  std::string name = link ? link : "";
  std::string commandLine = "VNL2C64.EXE " + name;
  LinkLog(kLogDetail, "Create %s", path.c_str());

  std::atomic_ref<int32_t>(area.linkState).store(kVnl2LinkStarting);
  std::memset(area.linkName, 0, sizeof area.linkName);
  std::strncpy(area.linkName, name.c_str(), sizeof area.linkName - 1);

  std::string error;
  std::unique_ptr<platform::Process> process = platform::createProcess(path, commandLine, &error);
  if (!process) {
    LinkLog(kLogError, "Create VNL2 Process failed");
    area.openCount = 0;
    return false;
  }
  const uint32_t processId = process->id();
  // Replacing the record of an earlier start leaves that process reaped all
  // the same: each record's reaper thread outlives the record.
  Vnl2().startedProcess() = std::move(process);

  if (WaitForAnswer(area)) {
    platform::WindowHandle window = platform::findWindow(kControlClass);
    SetControlProcess(area, AsWord(window), processId);
    LinkLog(kLogDetail, "VNL2 BgndApplikation gestartet:  Handle  %X", Low32(window));
    return true;
  }
  area.openCount = 0;
  LinkLog(kLogError, "VNL2 LinkRequest failed");
  if (platform::WindowHandle window = platform::findWindow(kControlClass))
    platform::postMessage(window, platform::kWmClose, 0, 0);
  return false;
}

void StopControlProcess(Vnl2SharedArea& area) {
  auto window = reinterpret_cast<platform::WindowHandle>(std::atomic_ref<uint64_t>(area.controlWindow).load());
  if (!window || platform::windowProcessId(window) == 0) {
    LinkLog(kLogTrace, "VNL2 BgndApplikation not found !");
    return;
  }
  LinkLog(kLogDetail, "WM_CLOSE to 0x%x", Low32(window));
  // The process that started the control process waits on its own record;
  // any other closer waits by process id.
  CloseControlProcess(window, kExitWaitMs);
  LinkLog(kLogTrace, "VNL2 BgndApplikation closed");
}

bool AcceptsLinkName(const Vnl2SharedArea& area, const char* link) {
  if (!link || !*link) return true;
  std::string_view stored(area.linkName, sizeof area.linkName);
  std::string running(stored.substr(0, stored.find('\0')));
  if (running.empty()) {
    LinkConfig config;
    LoadConfiguration(&config);
    running = config.Link;
  }
  return EqualIgnoringCase(running, link);
}
