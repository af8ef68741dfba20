#include "provider/tspi_trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/root.h"
#include "provider/provider_instance.h"
#include "tapi/tapi_constants.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/trace_capture.h"

namespace {

using namespace kvarsp;

TEST(LogResult, NamesResultsAndShowsRequestIdsAndReturnsTheResultUnchanged) {
  tktest::TraceCapture trace;
  EXPECT_EQ(LogResult("TSPI_lineDrop()", LINEERR_INVALCALLHANDLE), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(LogResult("TSPI_lineDrop()", 0x12), 0x12);
  EXPECT_EQ(LogResult("TSPI_lineClose()", 0), 0);
  EXPECT_EQ(LogResult("TSPI_lineMakeCall()", 0x7fffffff), 0x7fffffff);
  EXPECT_EQ(LogResult("TSPI_lineOpen()", static_cast<LONG>(0x8000ffff)), static_cast<LONG>(0x8000ffff));
  using R = tktest::TraceCapture::Record;
  EXPECT_EQ(trace.records(), (std::vector<R>{
                               {TraceLog::Tapi, "TSPI_lineDrop() return LINEERR_INVALCALLHANDLE"},
                               {TraceLog::Tapi, "TSPI_lineDrop() return dwRequestID (0x12)"},
                               {TraceLog::Tapi, "TSPI_lineClose() return SUCCESS"},
                               {TraceLog::Tapi, "TSPI_lineMakeCall() return dwRequestID (0x7fffffff)"},
                               {TraceLog::Tapi, "TSPI_lineOpen() return <unknown>"},
                           }));
}

// An entry point's work passes its result through; running out of memory
// inside it becomes LINEERR_NOMEM, traced as the entry point's result.
TEST(NoThrow, OutOfMemoryIsTheEntryPointsResult) {
  tktest::TraceCapture trace;
  EXPECT_EQ(NoThrow("TSPI_lineDrop()", [] { return LONG{0x12}; }), 0x12);
  EXPECT_EQ(NoThrow("TSPI_lineOpen()", []() -> LONG { throw std::bad_alloc(); }), LINEERR_NOMEM);
  EXPECT_EQ(trace.records(), (std::vector<tktest::TraceCapture::Record>{
                                 {TraceLog::Tapi, "TSPI_lineOpen() return LINEERR_NOMEM"}}));
}

TEST(TraceValues, HandlesPointersAndTextPrintAsTheRecordsShowThem) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "0x%zx | 0x%zx | 0x%016zX", TraceHandle(reinterpret_cast<HTAPILINE>(0xab12)),
                TraceHandle(DWORD_PTR{0x5f0}), TracePointer(reinterpret_cast<const void*>(0x7ffdeadbeef0)));
  EXPECT_STREQ(buffer, "0xab12 | 0x5f0 | 0x00007FFDEADBEEF0");
  EXPECT_EQ(TraceText(nullptr), "");
  EXPECT_EQ(TraceText(u"B\u00fcro 20"), "B\xC3\xBCro 20");
}

// Without a sink the records go to the trace files, each log to its own.
class TraceToFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = tktest::currentRoot() + "/logs";
    platform::ensureDirectory(folder_);
  }
  void Switch(int tapi, int vnl) { ASSERT_TRUE(tktest::regSeed(tktest::regLogging(tapi, vnl, folder_), "switch.reg")); }
  // The file's records without their time prefixes.
  std::vector<std::string> Records(const char* name) {
    std::string text = tktest::readFile(folder_ + "/" + name);
    std::vector<std::string> records;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      records.push_back(text.substr(at + 24, end - at - 24));
      at = end + 2;
    }
    return records;
  }
  std::string folder_;
};

TEST_F(TraceToFiles, EachLogGoesToItsFileOnlyWhileItsSwitchIsOn) {
  Switch(0, 0);
  EXPECT_FALSE(TapiTraceOn());
  traceTapi("tapi %d", 1);
  traceVnl("vnl %d", 1);
  Switch(1, 0);
  EXPECT_TRUE(TapiTraceOn());
  traceTapi("tapi %d", 2);
  traceVnl("vnl %d", 2);
  Switch(0, 1);
  EXPECT_FALSE(TapiTraceOn());
  traceTapi("tapi %d", 3);
  traceVnl("vnl %d", 3);
  EXPECT_EQ(Records("KVARTAPI.LOG"), std::vector<std::string>{"tapi 2"});
  EXPECT_EQ(Records("KVARVNL.LOG"), std::vector<std::string>{"vnl 3"});

  // A sink takes every record whatever the switches say.
  tktest::TraceCapture trace;
  EXPECT_TRUE(TapiTraceOn());
  traceTapi("tapi %d", 4);
  EXPECT_EQ(trace.records(), (std::vector<tktest::TraceCapture::Record>{{TraceLog::Tapi, "tapi 4"}}));
  EXPECT_EQ(Records("KVARTAPI.LOG"), std::vector<std::string>{"tapi 2"});
}

}  // namespace
