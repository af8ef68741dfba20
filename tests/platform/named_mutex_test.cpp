#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/process_shared_mutex.h"
#include "platform/thread.h"
#include "tests/support/child_process.h"

namespace {

using LockResult = platform::NamedMutex::LockResult;

// The result of the child's "lock-mutex NAME MS" as it prints it.
std::string ChildLock(const std::string& name, uint32_t ms) {
  tktest::ChildProcess child;
  if (!child.start(TK_TEST_CHILD, {"lock-mutex", name, std::to_string(ms)})) return "not started";
  std::string line = child.readLine().value_or("no answer");
  child.wait();
  return line;
}

// The file a mutex of this name keeps, as a NamedMutex gives it.
std::string FileOf(const std::string& name) {
  platform::NamedMutex probe(name);
  return probe.lockFilePath();
}

void WriteFile(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A complete mutex file as another boot left it.
std::vector<char> FileOfAnotherBoot(bool held) {
  platform::SharedMutexFile file{};
  std::memcpy(file.magic, platform::kSharedMutexMagic, sizeof file.magic);
  file.layout = sizeof file;
  file.held = held ? 1 : 0;
  std::strncpy(file.bootId, "00000000-0000-0000-0000-000000000000", sizeof file.bootId - 1);
  std::vector<char> bytes(sizeof file);
  std::memcpy(bytes.data(), &file, sizeof file);
  return bytes;
}

TEST(NamedMutex, ExcludesOtherThreadsAndIsRecursiveForItsOwner) {
  platform::NamedMutex a("__Test__Mutex__");
  platform::NamedMutex b("__Test__Mutex__");  // same name: same mutex
  ASSERT_TRUE(a.valid());
  EXPECT_EQ(a.lock(), LockResult::Acquired);
  EXPECT_EQ(b.lock(0), LockResult::Acquired);  // the owning thread again, through another object

  std::atomic<int> other{-1};
  platform::Thread t;
  t.start([&] { other = static_cast<int>(b.lock(20)); });
  t.join();
  EXPECT_EQ(other.load(), static_cast<int>(LockResult::Timeout));

  EXPECT_TRUE(a.unlock());
  platform::Thread t2;
  t2.start([&] { other = static_cast<int>(b.lock(20)); });
  t2.join();
  EXPECT_EQ(other.load(), static_cast<int>(LockResult::Timeout));  // still held once

  EXPECT_TRUE(b.unlock());
  EXPECT_FALSE(b.unlock());  // not owned any more
  platform::Thread t3;
  t3.start([&] {
    other = static_cast<int>(b.lock(1000));
    b.unlock();
  });
  t3.join();
  EXPECT_EQ(other.load(), static_cast<int>(LockResult::Acquired));
}

TEST(NamedMutex, OnlyTheOwnerCanRelease) {
  platform::NamedMutex m("owner-only");
  ASSERT_EQ(m.lock(), LockResult::Acquired);
  std::atomic<bool> released{true};
  platform::Thread t;
  t.start([&] { released = m.unlock(); });
  t.join();
  EXPECT_FALSE(released.load());
  EXPECT_TRUE(m.unlock());
}

TEST(NamedMutex, NamesWithSeparatorsAndOddCharactersAreDistinct) {
  platform::NamedMutex a("Global\\name");
  platform::NamedMutex b("Global/name");
  platform::NamedMutex c("Global%5Cname");
  EXPECT_NE(a.lockFilePath(), b.lockFilePath());
  EXPECT_NE(a.lockFilePath(), c.lockFilePath());
  ASSERT_EQ(a.lock(), LockResult::Acquired);
  std::atomic<int> r{-1};
  platform::Thread t;
  t.start([&] {
    r = static_cast<int>(b.lock(0));
    b.unlock();
  });
  t.join();
  EXPECT_EQ(r.load(), static_cast<int>(LockResult::Acquired));
  a.unlock();
}

TEST(NamedMutex, ExcludesAnotherProcess) {
  platform::NamedMutex m("__MarlixTSP__Tapi__Log__");
  ASSERT_EQ(m.lock(), LockResult::Acquired);

  tktest::ChildProcess blocked;
  ASSERT_TRUE(blocked.start(TK_TEST_CHILD, {"lock-mutex", "__MarlixTSP__Tapi__Log__", "100"}));
  EXPECT_EQ(blocked.readLine(), "timeout");
  EXPECT_EQ(blocked.wait(), 1);

  m.unlock();
  tktest::ChildProcess free;
  ASSERT_TRUE(free.start(TK_TEST_CHILD, {"lock-mutex", "__MarlixTSP__Tapi__Log__", "5000"}));
  EXPECT_EQ(free.readLine(), "acquired");
  EXPECT_EQ(free.wait(), 0);
  EXPECT_EQ(m.lock(0), LockResult::Acquired);  // the child released it cleanly
  m.unlock();
}

TEST(NamedMutex, IsReleasedWhenItsHolderIsKilled) {
  tktest::ChildProcess holder;
  ASSERT_TRUE(holder.start(TK_TEST_CHILD, {"hold-mutex", "__MarlixTSP__Cti__Log__"}));
  ASSERT_EQ(holder.readLine(), "locked");

  platform::NamedMutex m("__MarlixTSP__Cti__Log__");
  EXPECT_EQ(m.lock(50), LockResult::Timeout);

  holder.kill();
  ASSERT_TRUE(holder.wait());
  // The system released it; the next owner learns the holder died.
  EXPECT_EQ(m.lock(5000), LockResult::Abandoned);
  EXPECT_TRUE(m.unlock());
  EXPECT_EQ(m.lock(0), LockResult::Acquired);
  EXPECT_TRUE(m.unlock());
}

TEST(NamedMutex, WaitingForTheMutexEndsWhenTheOtherProcessReleasesIt) {
  tktest::ChildProcess holder;
  ASSERT_TRUE(holder.start(TK_TEST_CHILD, {"hold-mutex", "wait-for-me"}));
  ASSERT_EQ(holder.readLine(), "locked");
  platform::NamedMutex m("wait-for-me");
  std::atomic<int> r{-1};
  platform::Thread waiter;
  waiter.start([&] {
    r = static_cast<int>(m.lock(platform::kInfinite));
    m.unlock();
  });
  EXPECT_FALSE(waiter.join(20));
  holder.kill();
  EXPECT_TRUE(waiter.join(20000));
  EXPECT_EQ(r.load(), static_cast<int>(LockResult::Abandoned));
}

TEST(NamedMutex, RecursionThroughSeveralObjectsNeedsAsManyReleases) {
  for (int levels : {1, 2, 5}) {
    SCOPED_TRACE(levels);
    std::vector<std::unique_ptr<platform::NamedMutex>> objects;
    for (int i = 0; i < levels; ++i) objects.push_back(std::make_unique<platform::NamedMutex>("recursive"));
    for (auto& m : objects) ASSERT_EQ(m->lock(0), LockResult::Acquired);
    for (int i = 0; i < levels; ++i) {
      EXPECT_EQ(ChildLock("recursive", 0), "timeout") << "released after " << i << " of " << levels;
      EXPECT_TRUE(objects[static_cast<size_t>(i)]->unlock());
    }
    EXPECT_FALSE(objects.front()->unlock());
    EXPECT_EQ(ChildLock("recursive", 0), "acquired");
  }
}

TEST(NamedMutex, TimesOutNoSoonerThanAskedWhileAnotherHolds) {
  struct Row {
    const char* holder;  // "thread" (of this process) or "process"
    uint32_t timeoutMs;
  };
  const Row rows[] = {{"thread", 0}, {"thread", 40}, {"process", 0}, {"process", 40}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.holder) + " " + std::to_string(row.timeoutMs));
    const std::string name = std::string("timeout-") + row.holder;
    platform::NamedMutex holderObject(name);
    tktest::ChildProcess holderProcess;
    if (std::string(row.holder) == "thread") {
      ASSERT_EQ(holderObject.lock(), LockResult::Acquired);
    } else {
      ASSERT_TRUE(holderProcess.start(TK_TEST_CHILD, {"hold-mutex", name}));
      ASSERT_EQ(holderProcess.readLine(), "locked");
    }
    std::atomic<int> result{-1};
    std::atomic<long long> waitedMs{-1};
    platform::Thread waiter;
    waiter.start([&] {
      platform::NamedMutex m(name);
      const auto start = std::chrono::steady_clock::now();
      result = static_cast<int>(m.lock(row.timeoutMs));
      waitedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    });
    ASSERT_TRUE(waiter.join(20000));
    EXPECT_EQ(result.load(), static_cast<int>(LockResult::Timeout));
    EXPECT_GE(waitedMs.load(), static_cast<long long>(row.timeoutMs));
    if (std::string(row.holder) == "thread") {
      EXPECT_TRUE(holderObject.unlock());
    }
  }
}

TEST(NamedMutex, AThreadThatEndsHoldingItLeavesItAbandoned) {
  for (const char* next : {"thread", "process"}) {
    SCOPED_TRACE(next);
    const std::string name = std::string("thread-ends-") + next;
    platform::NamedMutex m(name);
    platform::Thread holder;
    holder.start([&] { EXPECT_EQ(m.lock(0), LockResult::Acquired); });
    ASSERT_TRUE(holder.join(20000));
    if (std::string(next) == "thread") {
      EXPECT_EQ(m.lock(5000), LockResult::Abandoned);  // not taken for the ended thread's recursion
      EXPECT_TRUE(m.unlock());
      EXPECT_EQ(m.lock(0), LockResult::Acquired);
      EXPECT_TRUE(m.unlock());
    } else {
      EXPECT_EQ(ChildLock(name, 5000), "abandoned");
      EXPECT_EQ(ChildLock(name, 0), "acquired");
    }
  }
}

TEST(NamedMutex, ClosingTheLastObjectReleasesItForItsOwner) {
  {
    platform::NamedMutex m("closed-held");
    ASSERT_EQ(m.lock(), LockResult::Acquired);
    ASSERT_EQ(m.lock(), LockResult::Acquired);
  }
  EXPECT_EQ(ChildLock("closed-held", 0), "acquired");
  platform::NamedMutex again("closed-held");
  EXPECT_EQ(again.lock(0), LockResult::Acquired);
  EXPECT_TRUE(again.unlock());
  EXPECT_FALSE(again.unlock());
}

TEST(NamedMutex, AFileThatIsDamagedOrOfAnotherBootIsReplaced) {
  struct Row {
    const char* what;
    std::vector<char> bytes;
    LockResult first;  // the first owner of the replacement
  };
  const std::vector<Row> rows = {
      {"empty", {}, LockResult::Acquired},
      {"garbage", std::vector<char>(sizeof(platform::SharedMutexFile), '\x5a'), LockResult::Abandoned},
      {"cut short", std::vector<char>(8, 'T'), LockResult::Abandoned},
      {"another boot, free", FileOfAnotherBoot(false), LockResult::Acquired},
      {"another boot, held", FileOfAnotherBoot(true), LockResult::Abandoned},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string name = std::string("stale ") + row.what;
    WriteFile(FileOf(name), row.bytes);
    platform::NamedMutex m(name);
    ASSERT_TRUE(m.valid());
    EXPECT_EQ(m.lock(0), row.first);
    // The replacement is the one every process uses.
    EXPECT_EQ(ChildLock(name, 0), "timeout");
    EXPECT_TRUE(m.unlock());
    EXPECT_EQ(ChildLock(name, 0), "acquired");
    EXPECT_EQ(m.lock(0), LockResult::Acquired);
    EXPECT_TRUE(m.unlock());
  }
}

TEST(NamedMutex, AFileOfTheFormerFormatIsNotTakenForTheMutex) {
  // The former lock file held the owner's process id; it means nothing now.
  platform::NamedMutex m("former");
  const std::string former = m.lockFilePath().substr(0, m.lockFilePath().rfind('.')) + ".mutex";
  ASSERT_NE(former, m.lockFilePath());
  const int32_t pid = 12345;
  std::vector<char> bytes(sizeof pid);
  std::memcpy(bytes.data(), &pid, sizeof pid);
  WriteFile(former, bytes);
  EXPECT_EQ(m.lock(0), LockResult::Acquired);
  EXPECT_TRUE(m.unlock());
}

TEST(NamedMutex, ProcessesStartingTogetherShareOneMutex) {
  // Every child creates the file if it finds none; exactly one file wins and
  // all of them lock that one.
  constexpr int kChildren = 4;
  std::vector<std::unique_ptr<tktest::ChildProcess>> children;
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(std::make_unique<tktest::ChildProcess>());
    ASSERT_TRUE(children.back()->start(TK_TEST_CHILD, {"lock-mutex", "created-together", "20000"}));
  }
  for (auto& child : children) {
    EXPECT_EQ(child->readLine(std::chrono::seconds(30)), "acquired");
    EXPECT_EQ(child->wait(), 0);
  }
  platform::NamedMutex m("created-together");
  ASSERT_EQ(m.lock(0), LockResult::Acquired);
  EXPECT_EQ(ChildLock("created-together", 0), "timeout");
  EXPECT_TRUE(m.unlock());
}

}  // namespace
