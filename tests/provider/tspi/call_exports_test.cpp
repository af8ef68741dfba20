// The call exports of the loaded plug-in as the telephony service calls
// them: each is there, refuses what it must and writes its trace records
// (the debugger copy of a record ends its lines in CR LF).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/provider/tspi/provider_fixture.h"

namespace {

class CallExports : public tktest::StartedProvider {};

const HDRVCALL kNoCall = reinterpret_cast<HDRVCALL>(uintptr_t{0x4711});

TEST_F(CallExports, EveryCallExportRefusesAnUnknownCall) {
  auto& h = harness();
  EXPECT_EQ(TSPI_CALL_ASYNC(h, TSPI_lineDial, kNoCall, static_cast<LPCWSTR>(u"1"), DWORD{0}).result,
            LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_CALL_ASYNC(h, TSPI_lineAccept, kNoCall, static_cast<LPCSTR>(nullptr), DWORD{0}).result,
            LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_CALL_ASYNC(h, TSPI_lineAnswer, kNoCall, static_cast<LPCSTR>(nullptr), DWORD{0}).result,
            LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_CALL_ASYNC(h, TSPI_lineDrop, kNoCall, static_cast<LPCSTR>(nullptr), DWORD{0}).result,
            LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_CALL(h, TSPI_lineDropOnClose, kNoCall), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_CALL(h, TSPI_lineDropNoOwner, kNoCall), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_CALL(h, TSPI_lineCloseCall, kNoCall), LINEERR_INVALCALLHANDLE);
  std::vector<uint8_t> info(400);
  *reinterpret_cast<DWORD*>(info.data()) = 400;
  EXPECT_EQ(TSPI_CALL(h, TSPI_lineGetCallInfo, kNoCall, reinterpret_cast<LPLINECALLINFO>(info.data())),
            LINEERR_INVALCALLHANDLE);
  std::vector<uint8_t> status(56);
  *reinterpret_cast<DWORD*>(status.data()) = 56;
  EXPECT_EQ(TSPI_CALL(h, TSPI_lineGetCallStatus, kNoCall, reinterpret_cast<LPLINECALLSTATUS>(status.data())),
            LINEERR_INVALCALLHANDLE);
  DWORD addressId = 0;
  EXPECT_EQ(TSPI_CALL(h, TSPI_lineGetCallAddressID, kNoCall, &addressId), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_CALL(h, TSPI_lineSetAppSpecific, kNoCall, DWORD{1}), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_CALL_ASYNC(h, TSPI_lineSetCallData, kNoCall, static_cast<LPVOID>(nullptr), DWORD{0}).result,
            LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_CALL_ASYNC(h, TSPI_lineSetCallParams, kNoCall, DWORD{LINEBEARERMODE_VOICE}, DWORD{0}, DWORD{0},
                            static_cast<LPLINEDIALPARAMS>(nullptr))
                .result,
            LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_CALL(h, TSPI_lineSetMediaMode, kNoCall, DWORD{LINEMEDIAMODE_INTERACTIVEVOICE}),
            LINEERR_INVALCALLHANDLE);
  EXPECT_TRUE(TraceHas("TSPI_lineDrop() return LINEERR_INVALCALLHANDLE"));
  EXPECT_TRUE(TraceHas("TSPI_lineCloseCall\r\n  (\r\n  hdCall = 0x4711\r\n  )"));
  EXPECT_TRUE(h.violations().empty());
}

TEST_F(CallExports, MakeCallRecordsItsParametersAndCallParameters) {
  std::vector<uint8_t> buffer(sizeof(LINECALLPARAMS));
  auto* params = reinterpret_cast<LINECALLPARAMS*>(buffer.data());
  params->dwTotalSize = sizeof(LINECALLPARAMS);
  params->dwBearerMode = LINEBEARERMODE_VOICE;
  HDRVCALL hdCall = nullptr;
  const auto made = TSPI_CALL_ASYNC(harness(), TSPI_lineMakeCall, reinterpret_cast<HDRVLINE>(uintptr_t{0x55}),
                                    reinterpret_cast<HTAPICALL>(uintptr_t{0x66}), &hdCall,
                                    static_cast<LPCWSTR>(u"0 (123) 456-78"), DWORD{49}, params);
  EXPECT_EQ(made.result, LINEERR_INVALLINEHANDLE);
  EXPECT_TRUE(TraceHas("TSPI_lineMakeCall\r\n  (\r\n"));
  EXPECT_TRUE(TraceHas("  hdLine = 0x55\r\n  htCall = 0x66\r\n"));
  EXPECT_TRUE(TraceHas("  lpszDestAddress = \"0 (123) 456-78\"\r\n  dwCountryCode = 49\r\n"));
  EXPECT_TRUE(TraceHas("->dwBearerMode = LINEBEARERMODE_VOICE"));
  EXPECT_TRUE(TraceHas("TSPI_lineMakeCall() return LINEERR_INVALLINEHANDLE"));
  EXPECT_FALSE(TraceHas("TSPI_lineMakeCall() output"));
}

TEST_F(CallExports, CallInfoTooSmallIsAnOperationFailure) {
  std::vector<uint8_t> info(400);
  *reinterpret_cast<DWORD*>(info.data()) = 323;
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_lineGetCallInfo, kNoCall, reinterpret_cast<LPLINECALLINFO>(info.data())),
            LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(TraceHas("TSPI_lineGetCallInfo() - LINECALLINFO structure too small"));
  EXPECT_TRUE(TraceHas("TSPI_lineGetCallInfo() return LINEERR_OPERATIONFAILED"));
}

}  // namespace
