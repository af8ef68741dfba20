#include "tapi/host/host_event.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tapi/tapi.h"
#include "tapi/tspi.h"

namespace {

using tapihost::CallbackRecord;
using tapihost::HostEvent;
using ::testing::HasSubstr;

TEST(HostEvent, CarriesTheRecordWithItsDeviceAndName) {
  CallbackRecord r;
  r.kind = CallbackRecord::Kind::LineEvent;
  r.msg = LINE_NEWCALL;
  r.htLine = reinterpret_cast<HTAPILINE>(uintptr_t{0x4C000010});
  r.param1 = 5;
  r.param2 = 0x1234;
  r.newHtCall = reinterpret_cast<HTAPICALL>(uintptr_t{0x10000});
  HostEvent e = tapihost::hostEventFrom(r, 1u);
  EXPECT_EQ(e.kind, HostEvent::Kind::LineEvent);
  EXPECT_EQ(e.name, "LINE_NEWCALL");
  EXPECT_EQ(e.deviceId, 1u);
  EXPECT_EQ(e.htLine, r.htLine);
  EXPECT_EQ(e.param1, 5u);
  EXPECT_EQ(e.param2, 0x1234u);
  EXPECT_EQ(e.newHtCall, r.newHtCall);
  e.sequence = 12;
  EXPECT_THAT(tapihost::describe(e), HasSubstr("#12 LINE_NEWCALL line 1"));

  r.msg = 77;
  e = tapihost::hostEventFrom(r, std::nullopt);
  EXPECT_EQ(e.name, "message 77");
  EXPECT_THAT(tapihost::describe(e), HasSubstr("message 77 line -"));

  CallbackRecord c;
  c.kind = CallbackRecord::Kind::Completion;
  c.requestId = 9;
  c.result = LINEERR_OPERATIONFAILED;
  e = tapihost::hostEventFrom(c, std::nullopt);
  EXPECT_EQ(e.name, "ASYNC_COMPLETION");
  EXPECT_EQ(e.requestId, 9u);
  EXPECT_EQ(e.result, LINEERR_OPERATIONFAILED);
  EXPECT_THAT(tapihost::describe(e), HasSubstr("request 9 result 0x80000048"));
}

}  // namespace
