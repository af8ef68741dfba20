// The plug-in's TAPI trace file, as the telephony service would leave it:
// every TSPI call with its parameters, outputs and result.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/provider/tspi/provider_fixture.h"

namespace {

using tktest::kProviderId;
using tktest::kVersion;

class TraceFiles : public tktest::ProviderFixture {
 protected:
  void SetUp() override {
    ProviderFixture::SetUp();
    folder_ = tktest::currentRoot() + "/tapi-logs";
    platform::ensureDirectory(folder_);
  }
  void TraceTo(const std::string& folder, uint32_t logTapi) { Configure(tktest::regLogging(logTapi, 0, folder)); }
  std::string TapiLog() { return tktest::readFile(folder_ + "/KVARTAPI.LOG"); }

  std::string folder_;
};

const std::string kPrefix = R"(\[\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d,\d\d\d\] )";
const std::string kIndent(24, ' ');

TEST_F(TraceFiles, ProviderInitIsWrittenWithItsParametersOutputAndResult) {
  Configure(tktest::kThreeLines);
  TraceTo(folder_, 1);
  Start(/*lineDeviceIdBase=*/4);
  std::string log = TapiLog();

  std::string entry = kPrefix + "TSPI_providerInit\r\n" + kIndent + R"(  \(\r\n)" + kIndent +
                      "  dwTSPIVersion = 0x00020000\r\n" + kIndent + "  dwPermanentProviderID = 3\r\n" + kIndent +
                      "  dwLineDeviceIDBase = 4\r\n" + kIndent + "  dwPhoneDeviceIDBase = 0\r\n" + kIndent +
                      "  dwNumLines = 3\r\n" + kIndent + "  dwNumPhones = 0\r\n" + kIndent +
                      "  lpfnCompletionProc = 0x[0-9A-F]{16}\r\n" + kIndent + "  lpdwTSPIOptions = 0x[0-9A-F]{16}\r\n" +
                      kIndent + R"(  \)\r\n)";
  std::string exit = kPrefix + "TSPI_providerInit\\(\\) output: \\*lpdwTSPIOptions = 0x00000001\r\n" + kPrefix +
                     "TSPI_providerInit\\(\\) return SUCCESS\r\n";
  EXPECT_TRUE(std::regex_search(log, std::regex(entry + "(.*\r\n)*" + exit))) << log;
  // Enumeration came first, with its outputs.
  EXPECT_TRUE(std::regex_search(log, std::regex(kPrefix + "TSPI_providerEnumDevices\\(\\) output: \\*lpdwNumLines = 3\r\n")))
      << log;
  EXPECT_LT(log.find("TSPI_providerEnumDevices() return SUCCESS"), log.find("TSPI_providerInit\r\n"));
  // The debugger gets the same records, without prefix and indentation.
  EXPECT_TRUE(TraceHas("TSPI_providerInit\r\n  (\r\n  dwTSPIVersion = 0x00020000\r\n"));

  // Refusals are written by name.
  DWORD version = 0;
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_lineNegotiateTSPIVersion, DWORD{9}, DWORD{0x10003}, DWORD{0x20000}, &version),
            LINEERR_BADDEVICEID);
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_lineNegotiateTSPIVersion, DWORD{4}, DWORD{0x10003}, DWORD{0x30000}, &version),
            0);
  log = TapiLog();
  EXPECT_NE(log.find("TSPI_lineNegotiateTSPIVersion() return LINEERR_BADDEVICEID\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("TSPI_lineNegotiateTSPIVersion() output: *lpdwTSPIVersion = 0x00020000\r\n"), std::string::npos)
      << log;
}

TEST_F(TraceFiles, NothingIsWrittenWhileTheSwitchIsOff) {
  Configure(tktest::kThreeLines);
  TraceTo(folder_, 0);
  Start();
  Stop();
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/KVARTAPI.LOG"));
  EXPECT_FALSE(TraceHas("TSPI_providerInit"));

  // Switched on while loaded: the next call is written.
  TraceTo(folder_, 1);
  Start();
  EXPECT_NE(TapiLog().find("TSPI_providerInit() return SUCCESS\r\n"), std::string::npos);
}

}  // namespace
