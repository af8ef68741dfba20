#include "platform/file_append.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/root.h"
#include "tests/support/files.h"

namespace {

TEST(FileAppend, NeverCreatesAFileAndRefusesFolders) {
  std::string path = platform::systemDir() + "/absent.log";
  EXPECT_FALSE(platform::fileExists(path));
  EXPECT_FALSE(platform::canOpenExistingForWriting(path));
  EXPECT_FALSE(platform::appendToExistingFile(path, "line\r\n"));
  EXPECT_FALSE(std::filesystem::exists(path));

  std::string folder = platform::systemDir();
  EXPECT_FALSE(platform::fileExists(folder));
  EXPECT_FALSE(platform::canOpenExistingForWriting(folder));
  EXPECT_FALSE(platform::appendToExistingFile(folder, "x"));
}

TEST(FileAppend, AppendsAfterWhatIsThere) {
  std::string path = platform::systemDir() + "/vnl2.log";
  tktest::writeFile(path, "old\r\n");
  EXPECT_TRUE(platform::fileExists(path));
  EXPECT_TRUE(platform::canOpenExistingForWriting(path));
  EXPECT_EQ(tktest::readFile(path), "old\r\n") << "checking must not change the file";
  EXPECT_TRUE(platform::appendToExistingFile(path, "one\r\n"));
  EXPECT_TRUE(platform::appendToExistingFile(path, std::string("t\0o\r\n", 5)));
  EXPECT_TRUE(platform::appendToExistingFile(path, ""));
  EXPECT_EQ(tktest::readFile(path), std::string("old\r\none\r\nt\0o\r\n", 15));
}

TEST(FileAppend, ConcurrentAppendsStayWholeAndNoneIsLost) {
  std::string path = platform::systemDir() + "/shared.log";
  tktest::writeFile(path, "");
  constexpr int kThreads = 8, kPieces = 150;
  auto piece = [](int t, int i) {
    // Up to 20 KB, more than one write may take.
    return std::to_string(t) + ":" + std::to_string(i) + ":" +
           std::string(static_cast<size_t>((i * 613 + t * 97) % 20000), static_cast<char>('A' + t)) + "\n";
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPieces; ++i) EXPECT_TRUE(platform::appendToExistingFile(path, piece(t, i)));
    });
  for (auto& th : threads) th.join();

  std::string text = tktest::readFile(path);
  std::vector<std::vector<bool>> seen(kThreads, std::vector<bool>(kPieces, false));
  size_t pos = 0, count = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    std::string line = text.substr(pos, end + 1 - pos);
    int t = std::stoi(line);
    int i = std::stoi(line.substr(line.find(':') + 1));
    ASSERT_TRUE(t >= 0 && t < kThreads && i >= 0 && i < kPieces) << line.substr(0, 40);
    ASSERT_EQ(line, piece(t, i));
    EXPECT_FALSE(seen[t][i]);
    seen[t][i] = true;
    ++count;
    pos = end + 1;
  }
  EXPECT_EQ(count, size_t(kThreads * kPieces));
}

}  // namespace
