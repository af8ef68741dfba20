// The tksetup program as users run it, under the test's TK_ROOT: checks that
// change nothing when they fail, and a second run that updates the provider
// the first one added.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/root.h"
#include "tapi/host/provider_list.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using tktest::ToolRun;

constexpr char kProviderKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider";

ToolRun tksetup(const std::vector<std::string>& args) { return tktest::runTool(TK_TKSETUP, args); }

std::string machineStore() { return tktest::readFile(platform::registryDir() + "/HKEY_LOCAL_MACHINE.reg"); }

std::string linkControlTarget() {
  std::error_code ec;
  return fs::read_symlink(platform::systemDir() + "/vnl2c64", ec).string();
}

// The values stored under the provider's key, as .reg text.
std::string providerValues(uint32_t id) {
  const std::string store = machineStore();
  const std::string header = std::string("[") + kProviderKey + std::to_string(id) + "]\n";
  const size_t start = store.find(header);
  if (start == std::string::npos) return "(none)";
  const size_t end = store.find("\n\n", start);
  const size_t first = start + header.size();
  return store.substr(first, end == std::string::npos ? std::string::npos : end - first);
}

TEST(TksetupProgram, ACheckThatFailsChangesNothing) {
  const std::string root = tktest::currentRoot();
  const std::string values = root + "/lines.values", broken = root + "/broken.values";
  tktest::writeFile(values, "\"NumLinesTotal\"=dword:00000001\n\"LineAddress0\"=\"20\"\n");
  tktest::writeFile(broken, "\"NumLinesTotal\"=dword:00000001\n\"LineAddress0\"=twenty\n");
  ToolRun first = tksetup({"--port", "5000", "--provider", TK_FAKE_CALLS_PROVIDER, "--provider-config", values,
                           "--link-control", TK_TKSETUP});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  ASSERT_THAT(first.out, HasSubstr("provider-id 1 (added)"));
  const std::string storeBefore = machineStore();
  ASSERT_THAT(storeBefore, HasSubstr("\"TapiSvrIpPort\"=dword:00001388"));
  ASSERT_EQ(linkControlTarget(), TK_TKSETUP);

  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  };
  const std::string fake = TK_FAKE_CALLS_PROVIDER;
  const std::vector<Case> cases = {
      {{"--port", "5001", "--provider", fake, "--provider-config", root}, 1,
       "--provider-config: cannot read " + root + ": it is a folder, not a file (nothing was changed)"},
      {{"--port", "5001", "--provider", fake, "--provider-config", root + "/none.values"}, 1,
       "--provider-config: cannot open " + root + "/none.values: No such file or directory"},
      {{"--port", "5001", "--provider", fake, "--provider-config", broken}, 1, broken + ":2: "},
      {{"--port", "5001", "--provider", "/nonexistent.tsp"}, 1,
       "--provider /nonexistent.tsp: No such file or directory (nothing was changed)"},
      {{"--port", "5001", "--provider", root}, 1, "--provider " + root + ": it is a folder, not a file"},
      {{"--port", "5001", "--link-control", "/nonexistent"}, 1, "--link-control /nonexistent: No such file"},
      {{"--port", "5001", "--link-control", values}, 1, "--link-control " + values + ": it is not executable"},
      {{"--port", "5001", "--link-control", root}, 1, "--link-control " + root + ": it is a folder, not a file"},
      {{"--port", "0"}, 2, "--port needs a port number from 1 to 65535, not '0'"},
      {{"--port", "65536"}, 2, "--port needs a port number from 1 to 65535, not '65536' (try --help)"},
      {{"--port"}, 2, "--port needs a value"},
      {{"--port", "5001", "--port", "5002"}, 2, "--port is given twice"},
      {{"--provider", fake}, 2, "--port, --serial or --usb is missing"},
      {{"--port", "5001", "--serial", "/dev/null"}, 2, "--port, --serial and --usb exclude each other"},
      {{"--usb", "3", "--serial", "/dev/null"}, 2, "--port, --serial and --usb exclude each other"},
      {{"--usb", "10"}, 2, "--usb needs a device number from 0 to 9, not '10'"},
      {{"--port", "5001", "--com", "3"}, 2, "--com needs --serial"},
      {{"--serial", "/dev/null", "--com", "256"}, 2, "--com needs a port number from 1 to 255, not '256'"},
      {{"--serial", root + "/none"}, 1, "--serial " + root + "/none: no such device (nothing was changed)"},
      {{"--serial", values}, 1, "--serial " + values + ": not a terminal device"},
      {{"--port", "5001", "--provider-config", values}, 2, "--provider-config needs --provider"},
      {{"--port", "5001", "--provider", ""}, 2, "--provider needs a file name, not an empty one"},
      {{"--port", "5001", "--fr\x1b[2Job"}, 2, "unknown option --fr\\x1b[2Job"},
  };
  for (const Case& c : cases) {
    const std::string shown = ::testing::PrintToString(c.args);
    ToolRun run = tksetup(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << shown << "\n" << run.err;
    EXPECT_THAT(run.err, HasSubstr("tksetup: " + c.message)) << shown;
    EXPECT_THAT(run.err, Not(HasSubstr("\x1b"))) << shown;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_EQ(machineStore(), storeBefore) << shown;
    EXPECT_EQ(linkControlTarget(), TK_TKSETUP) << shown;
  }
}

TEST(TksetupProgram, SerialAndUsbLinks) {
  // Any character device will do for the check; /dev/null stands in for a tty.
  ToolRun run = tksetup({"--serial", "/dev/null", "--com", "7"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "link COM7 /dev/null\n");
  std::error_code ec;
  EXPECT_EQ(fs::read_symlink(platform::rootDir() + "/dev/COM7", ec).string(), "/dev/null");
  const std::string store = machineStore();
  // Stored as the fixed-width string the link library reads ("COM7", UTF-16LE).
  EXPECT_THAT(store, HasSubstr("\"Link\"=hex(1):43,00,4f,00,4d,00,37,00,00,00"));
  EXPECT_THAT(store, HasSubstr("\"ControlLines\"=dword:00000000"));

  ToolRun usb = tksetup({"--usb", "2"});
  ASSERT_EQ(usb.exitCode, 0) << usb.err;
  EXPECT_EQ(usb.out, "link USB \\\\.\\VNLUSB2 " + platform::rootDir() + "/dev/VNLUSB2\n");
  EXPECT_THAT(machineStore(), HasSubstr("\"Link\"=hex(1):55,00,53,00,42,00,00,00"));

  // Back to the LAN: the port's link stays for whoever set it up.
  ToolRun lan = tksetup({"--port", "5000"});
  ASSERT_EQ(lan.exitCode, 0) << lan.err;
  EXPECT_THAT(machineStore(), HasSubstr("\"Link\"=hex(1):54,00,43,00,50,00,00,00"));
}

TEST(TksetupProgram, ASecondRunUpdatesTheProviderItAdded) {
  const std::string root = tktest::currentRoot();
  const std::string first = root + "/first.values", second = root + "/second.values";
  tktest::writeFile(first, "\xEF\xBB\xBF\"NumLinesTotal\"=dword:00000002\n\"LineAddress0\"=\"20\"\n");
  // UTF-16LE with BOM and CRLF, as Windows editors save it.
  std::string utf16 = "\xFF\xFE";
  for (char ch : std::string("\"NumLinesTotal\"=dword:00000001\r\n\"LineName\"=\"Zweite\"\r\n")) {
    utf16 += ch;
    utf16 += '\0';
  }
  tktest::writeFile(second, utf16);

  ToolRun added = tksetup({"--port", "5000", "--provider", TK_FAKE_CALLS_PROVIDER, "--provider-config", first});
  ASSERT_EQ(added.exitCode, 0) << added.err;
  EXPECT_EQ(added.out, "link TCP 127.0.0.1:5000\nprovider-id 1 (added)\nprovider-config Provider1\n");

  ToolRun updated = tksetup({"--port", "5001", "--provider", TK_FAKE_CALLS_PROVIDER, "--provider-config", second});
  ASSERT_EQ(updated.exitCode, 0) << updated.err;
  EXPECT_EQ(updated.out, "link TCP 127.0.0.1:5001\nprovider-id 1 (updated)\nprovider-config Provider1\n");
  EXPECT_EQ(updated.err, "");
  const std::vector<tapihost::ProviderListEntry> list = tapihost::ReadProviderList(nullptr);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].filename, fs::absolute(TK_FAKE_CALLS_PROVIDER).lexically_normal().string());
  // The second configuration replaced the first one whole.
  EXPECT_EQ(providerValues(1), "\"NumLinesTotal\"=dword:00000001\n\"LineName\"=\"Zweite\"");
  EXPECT_THAT(machineStore(), HasSubstr("\"TapiSvrIpPort\"=dword:00001389"));

  // Without a configuration the stored one stays.
  ToolRun kept = tksetup({"--port", "5001", "--provider", TK_FAKE_CALLS_PROVIDER});
  ASSERT_EQ(kept.exitCode, 0) << kept.err;
  EXPECT_THAT(kept.out, HasSubstr("provider-id 1 (updated)"));
  EXPECT_EQ(providerValues(1), "\"NumLinesTotal\"=dword:00000001\n\"LineName\"=\"Zweite\"");

  // A list that holds the file twice (as older versions left it): the first
  // entry is updated and the other one named.
  ASSERT_EQ(tapihost::AddProvider(TK_FAKE_CALLS_PROVIDER), 2u);
  ToolRun twice = tksetup({"--port", "5001", "--provider", TK_FAKE_CALLS_PROVIDER, "--provider-config", first});
  ASSERT_EQ(twice.exitCode, 0) << twice.err;
  EXPECT_THAT(twice.out, HasSubstr("provider-id 1 (updated)"));
  EXPECT_THAT(twice.err, HasSubstr("tksetup: warning: TAPI's provider list also holds"));
  EXPECT_THAT(twice.err, HasSubstr("as provider ID 2; provider ID 1 was updated"));
  EXPECT_EQ(tapihost::ReadProviderList(nullptr).size(), 2u);
  EXPECT_EQ(providerValues(1), "\"NumLinesTotal\"=dword:00000002\n\"LineAddress0\"=\"20\"");
  EXPECT_EQ(providerValues(2), "(none)");
}

TEST(TksetupProgram, AStepThatFailsLeavesNothingBehind) {
  // A provider list the store can read but AddProvider refuses to extend.
  tktest::writeFile(platform::registryDir() + "/HKEY_LOCAL_MACHINE.reg",
                    "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers]\n"
                    "\"NumProviders\"=\"two\"\n");
  const std::string storeBefore = machineStore();
  ToolRun run = tksetup({"--port", "5000", "--provider", TK_FAKE_CALLS_PROVIDER, "--link-control", TK_TKSETUP});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("cannot add the provider"));
  EXPECT_THAT(run.err, HasSubstr("NumProviders has the wrong type or no data; nothing was changed"));
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(machineStore(), storeBefore);
  // Nothing left in the system directory, not even the prepared link.
  std::error_code ec;
  EXPECT_TRUE(fs::is_empty(platform::systemDir(), ec) || !fs::exists(platform::systemDir()));
}

}  // namespace
