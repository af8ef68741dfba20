// Windows-only cases of the window backend (platform/win32/window*_win32.cpp):
// messages between processes through the real window manager (the child is
// tests/platform/window_test_child.cpp, started with CreateProcess), what the
// windows are to the system (hidden, top-level, of the module's instance),
// msgWaitForMultiple for every kind of wake, and exceptions of a procedure.
// The cases that hold on both systems are in tests/platform/window_test.cpp.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "platform/window.h"

namespace {

using namespace platform;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Messages of the child's serving window (see window_test_child.cpp).
constexpr uint32_t kEcho = kWmUser + 1;
constexpr uint32_t kEchoBack = kWmUser + 2;
constexpr uint32_t kDouble = kWmUser + 3;
constexpr uint32_t kDieUnanswered = kWmUser + 4;
constexpr uint32_t kSendBack = kWmUser + 6;
constexpr uint32_t kRelay = kWmUser + 7;
constexpr uint32_t kReturnPlusOne = kWmUser + 11;
constexpr uint32_t kSendOnward = kWmUser + 12;
constexpr uint32_t kThrow = kWmUser + 20;

// The child program beside this one.
std::string childPath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string own(path, n);
  return own.substr(0, own.find_last_of("\\/") + 1) + "win_window_test_child.exe";
}

// A child process whose standard output a reader thread splits into lines.
class Child {
 public:
  bool start(const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&out_, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
    std::string command = "\"" + childPath() + "\"";
    for (const std::string& a : args) command += " \"" + a + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);  // the child's end: the output ends with the child
    if (!started) return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    reader_ = std::thread([this] { readAll(); });
    return true;
  }
  ~Child() {
    kill();
    if (reader_.joinable()) reader_.join();
    if (out_) CloseHandle(out_);
    if (process_) CloseHandle(process_);
  }
  std::optional<std::string> readLine(milliseconds timeout = milliseconds(10000)) {
    std::unique_lock lock(lock_);
    if (!changed_.wait_for(lock, timeout, [&] { return !lines_.empty() || ended_; }) || lines_.empty()) {
      return std::nullopt;
    }
    std::string line = lines_.front();
    lines_.pop_front();
    return line;
  }
  // The handle printed after "ready " by a serving child.
  WindowHandle readyWindow() {
    auto line = readLine();
    if (!line || line->rfind("ready ", 0) != 0) return nullptr;
    return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(std::stoull(line->substr(6), nullptr, 16)));
  }
  std::optional<int> wait(DWORD timeoutMs = 10000) {
    DWORD code = 0;
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    if (!GetExitCodeProcess(process_, &code)) return std::nullopt;
    return static_cast<int>(code);
  }
  void kill() {
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_, 9);
      WaitForSingleObject(process_, 10000);
    }
  }
  uint32_t pid() const { return pid_; }

 private:
  void readAll() {
    char buffer[512];
    std::string partial;
    DWORD got = 0;
    while (ReadFile(out_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      partial.append(buffer, got);
      for (size_t end; (end = partial.find('\n')) != std::string::npos; partial.erase(0, end + 1)) {
        std::string line = partial.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::lock_guard lock(lock_);
        lines_.push_back(line);
        changed_.notify_all();
      }
    }
    std::lock_guard lock(lock_);
    ended_ = true;
    changed_.notify_all();
  }
  HANDLE process_ = nullptr;
  HANDLE out_ = nullptr;
  uint32_t pid_ = 0;
  std::thread reader_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

std::string childOutput(const std::vector<std::string>& args) {
  Child child;
  if (!child.start(args)) return "start failed";
  return child.readLine().value_or("no output");
}

std::string hex(WindowHandle window) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
  return text;
}

// What the test window saw.
struct Seen {
  uint32_t message;
  WParam wParam;
  LParam lParam;
  std::string copyData;
};
std::mutex g_seenLock;
std::vector<Seen> g_seen;

size_t countSeen(uint32_t message) {
  std::lock_guard lock(g_seenLock);
  size_t n = 0;
  for (const Seen& s : g_seen) n += s.message == message;
  return n;
}

LResult testProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  Seen s{message, wParam, lParam, {}};
  LResult result = 0;
  if (message == kWmCopyData) {
    const auto* copy = reinterpret_cast<const CopyDataStruct*>(lParam);
    s.copyData.assign(static_cast<const char*>(copy->lpData), copy->cbData);
    result = std::accumulate(s.copyData.begin(), s.copyData.end(), LResult{0}) + static_cast<LResult>(copy->dwData);
  } else if (message == kReturnPlusOne) {
    result = lParam + 1;
  } else if (message == kSendOnward) {
    result = sendMessage(reinterpret_cast<WindowHandle>(wParam), kReturnPlusOne, 0, lParam) + 100;
  } else if (message == kThrow) {
    throw std::runtime_error("from the procedure");
  } else {
    result = defWindowProc(window, message, wParam, lParam);
  }
  std::lock_guard lock(g_seenLock);
  g_seen.push_back(std::move(s));
  return result;
}

bool pumpUntil(const std::function<bool()>& cond, milliseconds timeout = milliseconds(10000)) {
  const auto deadline = steady_clock::now() + timeout;
  while (!cond()) {
    if (steady_clock::now() >= deadline) return false;
    msgWaitForMultiple({}, 20);
    Message m;
    for (int i = 0; i < 1000 && peekMessage(m); ++i) dispatchMessage(m);
  }
  return true;
}

bool underWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

class WinWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard lock(g_seenLock);
      g_seen.clear();
    }
    Message m;
    for (int i = 0; i < 100000 && peekMessage(m); ++i) {
    }
    // Test programs of other areas may run at the same time in the same
    // desktop: class names of this process's own.
    className_ = "TkWinWindowTest" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(registerClass(className_, testProc));
    window_ = createWindow(className_);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    destroyWindow(window_);
    unregisterClass(className_);
  }
  std::string uniqueName(const char* base) { return base + std::to_string(GetCurrentProcessId()); }
  std::string className_;
  WindowHandle window_ = nullptr;
};

// --- what the windows are ------------------------------------------------------------

TEST_F(WinWindows, AWindowIsHiddenTopLevelAndOfTheModulesInstance) {
  HWND hwnd = reinterpret_cast<HWND>(window_);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_EQ(GetAncestor(hwnd, GA_PARENT), GetDesktopWindow());  // not message-only
  EXPECT_EQ(reinterpret_cast<HINSTANCE>(GetClassLongPtrA(hwnd, GCLP_HMODULE)), GetModuleHandleA(nullptr));
  EXPECT_EQ(FindWindowA(className_.c_str(), nullptr), hwnd);
  std::lock_guard lock(g_seenLock);
  ASSERT_FALSE(g_seen.empty());
  EXPECT_EQ(g_seen[0].message, kWmCreate);  // the first message the procedure sees
  EXPECT_EQ(g_seen[0].lParam, 0);
}

TEST_F(WinWindows, SpecialHandlesAndBadNamesAreRefused) {
  for (WindowHandle target : {WindowHandle{nullptr}, reinterpret_cast<WindowHandle>(HWND_BROADCAST)}) {
    EXPECT_FALSE(postMessage(target, kEcho, 0, 0));
    EXPECT_EQ(sendMessage(target, kDouble, 0, 1), 0);
    EXPECT_FALSE(isWindow(target));
    EXPECT_EQ(windowProcessId(target), 0u);
    EXPECT_EQ(setTimer(target, 1, 10), 0u);
  }
  Message m;
  EXPECT_FALSE(peekMessage(m));  // nothing went to the thread's own queue
  EXPECT_EQ(setTimer(window_, 0, 10), 0u);
  const std::string longest(255, 'n');
  struct Row {
    std::string name;
    bool valid;
  } rows[] = {{"", false}, {longest + "n", false}, {"two\nlines", false}, {"cr\rname", false},
              {std::string("zero\0byte", 9), false}, {longest, true}, {"Tk_Registered_Name", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name.size());
    EXPECT_EQ(registerWindowMessage(row.name) != 0, row.valid);
    EXPECT_EQ(registerClass(row.name, testProc) && unregisterClass(row.name), row.valid);
  }
  EXPECT_FALSE(registerClass("NullProcedureClass", nullptr));
}

TEST_F(WinWindows, AnExceptionOfAProcedureReachesTheCaller) {
  EXPECT_THROW(dispatchMessage(Message{window_, kThrow, 0, 0}), std::runtime_error);
  EXPECT_THROW(sendMessage(window_, kThrow, 0, 0), std::runtime_error);
  EXPECT_EQ(sendMessage(window_, kReturnPlusOne, 0, 1), 2);  // nothing left over
  ASSERT_TRUE(postMessage(window_, kThrow, 0, 0));
  Message m;
  ASSERT_TRUE(peekMessage(m));
  EXPECT_THROW(dispatchMessage(m), std::runtime_error);
  // Sent by another thread and handled inside a wait: the sender gets 0, the wait throws.
  std::atomic<LResult> answer{-1};
  std::thread sender([&] { answer = sendMessage(window_, kThrow, 0, 0); });
  EXPECT_THROW(msgWaitForMultiple({}, 10000), std::runtime_error);
  sender.join();
  EXPECT_EQ(answer.load(), 0);

  // Thrown from WM_CREATE: the creation fails and no window remains.
  const std::string name = uniqueName("TkThrowingCreate");
  ASSERT_TRUE(registerClass(name, [](WindowHandle, uint32_t message, WParam, LParam) -> LResult {
    if (message == kWmCreate) throw std::runtime_error("no");
    return 0;
  }));
  EXPECT_THROW(createWindow(name), std::runtime_error);
  EXPECT_EQ(findWindow(name), nullptr);
  EXPECT_TRUE(unregisterClass(name));
}

// --- waiting for objects and input --------------------------------------------------------

TEST_F(WinWindows, MsgWaitEndsForEveryKindOfWake) {
  Event event(Event::Reset::Auto);
  Event never(Event::Reset::Manual);
  struct Row {
    const char* what;
    std::function<void()> cause;  // run on another thread
    uint32_t expected;            // index into {event, never, input}
    uint32_t seenMessage;         // posted/timer message to find in the queue afterwards, 0 for none
  };
  std::atomic<LResult> sent{0};
  const Row rows[] = {
      {"event set by another thread", [&] { event.set(); }, 0, 0},
      {"posted by another thread", [&] { postMessage(window_, kEcho, 0, 0); }, 2, kEcho},
      {"sent by another thread", [&] { sent = sendMessage(window_, kReturnPlusOne, 0, 6); }, 2, 0},
      {"timer set by another thread", [&] { setTimer(window_, 4, 10); }, 2, kWmTimer},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Thread other;
    Event go(Event::Reset::Manual);
    ASSERT_TRUE(other.start([&] {
      go.wait(10000);
      row.cause();
    }));
    Waitable* objects[] = {&event, &never};
    go.set();
    EXPECT_EQ(msgWaitForMultiple(objects, 10000), kWaitObject0 + row.expected);
    ASSERT_TRUE(other.join(10000));
    Message m;
    if (row.seenMessage != 0) {
      ASSERT_TRUE(peekMessage(m));
      EXPECT_EQ(m.message, row.seenMessage);
    }
    killTimer(window_, 4);
    while (peekMessage(m)) {
    }
  }
  EXPECT_EQ(sent.load(), 7);  // handled inside the wait

  // A thread that ends ends the wait for its handle.
  Thread ending;
  ASSERT_TRUE(ending.start([] {}));
  Waitable* objects[] = {&event, &ending.handle()};
  EXPECT_EQ(msgWaitForMultiple(objects, 10000), kWaitObject0 + 1);
}

TEST_F(WinWindows, InputAlreadySeenStillCountsAndTheQuitRequestIsInput) {
  ASSERT_TRUE(postMessage(window_, kEcho, 0, 0));
  Message m;
  ASSERT_TRUE(peekMessage(m, false));  // seen, not taken
  EXPECT_EQ(msgWaitForMultiple({}, 10000), kWaitObject0);
  EXPECT_TRUE(waitMessage());
  ASSERT_TRUE(peekMessage(m));
  EXPECT_EQ(msgWaitForMultiple({}, 0), kWaitTimeout);
  postQuitMessage(3);
  EXPECT_EQ(msgWaitForMultiple({}, 10000), kWaitObject0);
  EXPECT_FALSE(getMessage(m));
  EXPECT_EQ(m.wParam, 3u);
}

TEST(WinWait, EveryBlockingWaitClosesItsEvent) {
  if (underWine()) GTEST_SKIP() << "Wine 8's GetProcessHandleCount does not follow the handles";
  Event never(Event::Reset::Manual);
  Waitable* objects[] = {&never};
  DWORD before = 0, after = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(waitForSingle(never, 1), kWaitTimeout);
    ASSERT_EQ(msgWaitForMultiple(objects, 1), kWaitTimeout);
  }
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_LE(after, before);
}

// --- between processes -----------------------------------------------------------------

TEST_F(WinWindows, FindWindowSeesWindowsOfOtherProcessesByClass) {
  const std::string name = uniqueName("TkServedClass");
  Child child;
  ASSERT_TRUE(child.start({"serve", name}));
  WindowHandle theirs = child.readyWindow();
  ASSERT_NE(theirs, nullptr);
  EXPECT_EQ(FindWindowA(name.c_str(), nullptr), reinterpret_cast<HWND>(theirs));
  EXPECT_EQ(findWindow(name), theirs);
  EXPECT_EQ(windowProcessId(theirs), child.pid());
  EXPECT_TRUE(isWindow(theirs));
  EXPECT_EQ(setTimer(theirs, 1, 10), 0u);  // another process's window

  // The child finds ours, whatever the case of the name.
  std::string lower = className_;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(childOutput({"find", lower}), hex(window_) + " " + std::to_string(GetCurrentProcessId()));

  // The windows of an ended process are gone with it.
  child.kill();
  ASSERT_TRUE(child.wait().has_value());
  EXPECT_FALSE(isWindow(theirs));
  EXPECT_EQ(findWindow(name), nullptr);
  EXPECT_EQ(windowProcessId(theirs), 0u);
}

TEST_F(WinWindows, RegisteredMessageIdsAgreeBetweenProcesses) {
  for (const std::string& name : {uniqueName("Tk_Child_First"), std::string("CTI_LayerII_Event")}) {
    SCOPED_TRACE(name);
    const std::string theirs = childOutput({"register", name});
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const uint32_t mine = registerWindowMessage(upper);
    EXPECT_GE(mine, 0xC000u);
    EXPECT_EQ(theirs, std::to_string(mine));
  }
}

TEST_F(WinWindows, CopyDataIsCopiedBetweenProcessesBothWays) {
  Child child;
  ASSERT_TRUE(child.start({"serve", uniqueName("TkCopyClass")}));
  WindowHandle theirs = child.readyWindow();
  ASSERT_NE(theirs, nullptr);
  std::vector<unsigned char> block(300000);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 31 + 7);
  CopyDataStruct copy{0x00010020, static_cast<uint32_t>(block.size()), block.data()};
  const LResult expected = std::accumulate(block.begin(), block.end(), LResult{0}) + 0x00010020;
  EXPECT_EQ(sendMessage(theirs, kWmCopyData, 0, reinterpret_cast<LParam>(&copy)), expected);
  CopyDataStruct empty{3, 0, nullptr};
  EXPECT_EQ(sendMessage(theirs, kWmCopyData, 0, reinterpret_cast<LParam>(&empty)), 3);
  CopyDataStruct broken{1, 10, nullptr};  // a length without data is not sent
  EXPECT_EQ(sendMessage(theirs, kWmCopyData, 0, reinterpret_cast<LParam>(&broken)), 0);
  EXPECT_EQ(sendMessage(theirs, kWmCopyData, 0, 0), 0);
  EXPECT_FALSE(postMessage(theirs, kWmCopyData, 0, reinterpret_cast<LParam>(&copy)));

  // The other way: our thread serves the child's message before it can print the answer.
  Child sender;
  ASSERT_TRUE(sender.start({"send-copy", hex(window_), "hello"}));
  ASSERT_TRUE(pumpUntil([] { return countSeen(kWmCopyData) == 1; }));
  const std::string hello = "hello";
  EXPECT_EQ(sender.readLine(), std::to_string(std::accumulate(hello.begin(), hello.end(), LResult{0}) + 9));
  std::lock_guard lock(g_seenLock);
  EXPECT_EQ(g_seen.back().copyData, "hello");
}

TEST_F(WinWindows, PostsArriveInOrderAndNestedSendsAreServedWhileWaiting) {
  Child child;
  ASSERT_TRUE(child.start({"serve", uniqueName("TkEchoClass")}));
  WindowHandle theirs = child.readyWindow();
  ASSERT_NE(theirs, nullptr);
  constexpr int kCount = 200;
  for (int i = 0; i < kCount; ++i) ASSERT_TRUE(postMessage(theirs, kEcho, reinterpret_cast<WParam>(window_), i));
  ASSERT_TRUE(pumpUntil([] { return countSeen(kEchoBack) == kCount; }));
  {
    std::lock_guard lock(g_seenLock);
    LParam next = 0;
    for (const Seen& s : g_seen) {
      if (s.message == kEchoBack) {
        EXPECT_EQ(s.lParam, next++);
      }
    }
  }
  EXPECT_EQ(sendMessage(theirs, kDouble, 0, -21), -42);
  // The child sends WM_COPYDATA back while we wait for its answer.
  const std::string text = "from child";
  EXPECT_EQ(sendMessage(theirs, kSendBack, reinterpret_cast<WParam>(window_), 0),
            std::accumulate(text.begin(), text.end(), LResult{0}) + 5);
  // Three deep: the child sends to us, we send to the child, each serves while waiting.
  EXPECT_EQ(sendMessage(theirs, kRelay, reinterpret_cast<WParam>(window_), 5), 5 + 1 + 100 + 1000);
  EXPECT_EQ(countSeen(kSendOnward), 1u);
}

TEST_F(WinWindows, MessagesToAnEndingOrEndedProcessFailPromptly) {
  Child child;
  ASSERT_TRUE(child.start({"serve", uniqueName("TkDyingClass")}));
  WindowHandle theirs = child.readyWindow();
  ASSERT_NE(theirs, nullptr);
  const auto start = steady_clock::now();
  EXPECT_EQ(sendMessage(theirs, kDieUnanswered, 0, 0), 0);
  EXPECT_EQ(child.wait(), 3);
  EXPECT_EQ(sendMessage(theirs, kDouble, 0, 1), 0);
  EXPECT_FALSE(postMessage(theirs, kEcho, 0, 0));
  EXPECT_LT(steady_clock::now() - start, milliseconds(5000));

  // A posted WM_CLOSE: the default handling destroys the window, the child's loop ends.
  Child closing;
  ASSERT_TRUE(closing.start({"serve", uniqueName("TkClosingClass")}));
  WindowHandle other = closing.readyWindow();
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(postMessage(other, kWmClose, 0, 0));
  EXPECT_EQ(closing.readLine(), "quit 0");
  EXPECT_EQ(closing.wait(), 0);
  EXPECT_FALSE(isWindow(other));
}

}  // namespace
