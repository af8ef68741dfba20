#include "tapi/host/contract_checker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using tapihost::ContractChecker;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr uint32_t kTapiThread = 100;
constexpr uint32_t kProviderThread = 200;

TEST(ContractChecker, AcceptedRequestCompletedOnceFromAnotherThreadIsFine) {
  ContractChecker c;
  c.providerInitialised();
  c.callEntered(kTapiThread, "TSPI_lineDrop");
  c.requestIssued(1, "TSPI_lineDrop");
  EXPECT_THAT(c.requestReturned(1, 1), IsEmpty());
  c.callLeft(kTapiThread);
  EXPECT_THAT(c.completion(kProviderThread, 1, 0), IsEmpty());
  EXPECT_THAT(c.providerShutDown(), IsEmpty());
}

TEST(ContractChecker, CompletionThatOvertakesTheReturnIsFineButNotForARefusal) {
  ContractChecker c;
  c.providerInitialised();
  c.requestIssued(1, "TSPI_lineDrop");
  EXPECT_THAT(c.completion(kProviderThread, 1, 0), IsEmpty());  // before the function returned
  EXPECT_THAT(c.requestReturned(1, 1), IsEmpty());

  c.requestIssued(2, "TSPI_lineDrop");
  EXPECT_THAT(c.completion(kProviderThread, 2, 0), IsEmpty());
  EXPECT_THAT(c.requestReturned(2, static_cast<LONG>(0x80000048)),
              ElementsAre(HasSubstr("completed although the function refused it")));
}

TEST(ContractChecker, DoubleUnknownAndRefusedCompletionsAreViolations) {
  ContractChecker c;
  c.providerInitialised();
  c.requestIssued(1, "TSPI_lineDrop");
  c.requestReturned(1, 1);
  EXPECT_THAT(c.completion(kProviderThread, 1, 0), IsEmpty());
  EXPECT_THAT(c.completion(kProviderThread, 1, 0), ElementsAre(HasSubstr("completed twice")));
  EXPECT_THAT(c.completion(kProviderThread, 77, 0), ElementsAre(HasSubstr("never issued")));
  c.requestIssued(2, "TSPI_lineAnswer");
  EXPECT_THAT(c.requestReturned(2, static_cast<LONG>(0x8000001C)), IsEmpty());
  EXPECT_THAT(c.completion(kProviderThread, 2, 0), ElementsAre(HasSubstr("refused this request")));
}

TEST(ContractChecker, AsyncFunctionMustReturnItsRequestIdOrAnError) {
  ContractChecker c;
  c.requestIssued(5, "TSPI_lineDrop");
  EXPECT_THAT(c.requestReturned(5, 0), ElementsAre(HasSubstr("returned 0 for request ID 5")));
  c.requestIssued(6, "TSPI_lineDrop");
  EXPECT_THAT(c.requestReturned(6, 7), ElementsAre(HasSubstr("returned 7")));
}

TEST(ContractChecker, CallbackOnTheThreadOfARunningCallIsAViolation) {
  ContractChecker c;
  c.providerInitialised();
  c.callEntered(kTapiThread, "TSPI_lineOpen");
  EXPECT_THAT(c.event(kTapiThread, "LINE_NEWCALL"),
              ElementsAre(HasSubstr("on the thread of TSPI_lineOpen while that call was running")));
  EXPECT_THAT(c.event(kProviderThread, "LINE_NEWCALL"), IsEmpty());
  c.callLeft(kTapiThread);
  EXPECT_THAT(c.event(kTapiThread, "LINE_NEWCALL"), IsEmpty());  // the call is over
}

TEST(ContractChecker, NothingMayArriveOrStayPendingAfterTheLastShutdown) {
  ContractChecker c;
  c.providerInitialised();
  c.providerInitialised();  // a second init with the same provider ID
  c.requestIssued(1, "TSPI_lineDrop");
  c.requestReturned(1, 1);
  EXPECT_THAT(c.providerShutDown(), IsEmpty());  // one init left: not over yet
  EXPECT_THAT(c.event(kProviderThread, "LINE_CLOSE"), IsEmpty());
  EXPECT_THAT(c.providerShutDown(), ElementsAre(HasSubstr("request ID 1 of TSPI_lineDrop was never completed")));
  EXPECT_THAT(c.event(kProviderThread, "LINE_CLOSE"), ElementsAre(HasSubstr("after TSPI_providerShutdown")));
  EXPECT_THAT(c.completion(kProviderThread, 1, 0), testing::Contains(HasSubstr("after TSPI_providerShutdown")));
  // A new initialisation opens the door again.
  c.providerInitialised();
  EXPECT_THAT(c.event(kProviderThread, "LINE_CLOSE"), IsEmpty());
}

TEST(ContractChecker, MemoryStaysBoundedAndLateCompletionsAreStillCaught) {
  ContractChecker c;
  c.providerInitialised();
  constexpr DRV_REQUESTID kFirst = 10, kCount = 100000;
  c.requestIssued(kFirst, "TSPI_lineMakeCall");  // stays outstanding throughout
  c.requestReturned(kFirst, kFirst);
  for (DRV_REQUESTID id = kFirst + 1; id <= kFirst + kCount; ++id) {
    c.requestIssued(id, "TSPI_lineDrop");
    ASSERT_THAT(c.requestReturned(id, static_cast<LONG>(id)), IsEmpty());
    ASSERT_THAT(c.completion(kProviderThread, id, 0), IsEmpty());
  }
  constexpr DRV_REQUESTID kRefused = kFirst + kCount + 1;
  c.requestIssued(kRefused, "TSPI_lineAnswer");
  c.requestReturned(kRefused, static_cast<LONG>(0x8000001C));
  EXPECT_LE(c.size(), ContractChecker::kRecentFinished + 1);

  struct Row {
    DRV_REQUESTID id;
    const char* violation;
  };
  for (const Row& row : {Row{kFirst + kCount, "of TSPI_lineDrop completed twice"},
                         Row{kRefused, "TSPI_lineAnswer had refused this request"},
                         Row{kFirst + 1, "is not outstanding"},
                         Row{kFirst - 1, "never issued"},
                         Row{kRefused + 1, "never issued"}}) {
    EXPECT_THAT(c.completion(kProviderThread, row.id, 0), ElementsAre(HasSubstr(row.violation))) << row.id;
  }
  EXPECT_THAT(c.providerShutDown(), ElementsAre(HasSubstr("request ID 10 of TSPI_lineMakeCall was never completed")));
}

}  // namespace
