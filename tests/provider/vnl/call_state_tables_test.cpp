// The translation of the exchange's call reports into TAPI values: call
// states, call types and reasons, causes, party ID flags, forwarding and the
// charging text.
#include "provider/vnl/call_state_tables.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tapi/tapi.h"

namespace {

using namespace kvarsp;

TEST(CallStateTables, EveryListedCallStateHasItsNameStateAndOrigin) {
  struct Row {
    uint8_t byte;
    const char* name;
    uint32_t state;
    uint32_t origin;
  };
  const Row rows[] = {
      {0x10, "idle", LINECALLSTATE_IDLE, 0},
      {0x11, "offering", LINECALLSTATE_OFFERING, LINECALLORIGIN_INBOUND},
      {0x12, "accepted", LINECALLSTATE_ACCEPTED, LINECALLORIGIN_INBOUND},
      {0x13, "connected", LINECALLSTATE_CONNECTED, 0},
      {0x14, "busy", LINECALLSTATE_BUSY, 0},
      {0x15, "dialtone", LINECALLSTATE_DIALTONE, LINECALLORIGIN_OUTBOUND},
      {0x16, "dialing", LINECALLSTATE_DIALING, LINECALLORIGIN_OUTBOUND},
      {0x17, "delivered", LINECALLSTATE_RINGBACK, 0},
      {0x18, "disconnected", LINECALLSTATE_DISCONNECTED, 0},
      {0x19, "onHold", 0, 0},
      {0x20, "pendTransfer", LINECALLSTATE_ONHOLDPENDTRANSFER, 0},
      {0x21, "conferenced", LINECALLSTATE_CONFERENCED, 0},
      {0x22, "proceeding", LINECALLSTATE_PROCEEDING, LINECALLORIGIN_OUTBOUND},
      {0x30, "callback", 0, 0},
      {0x81, "callingConnected", LINECALLSTATE_CONNECTED, 0},
  };
  for (const Row& row : rows) {
    const CallStateEntry entry = CallStateOf(row.byte);
    EXPECT_STREQ(entry.name, row.name) << std::hex << int(row.byte);
    EXPECT_EQ(entry.state, row.state) << std::hex << int(row.byte);
    EXPECT_EQ(entry.origin, row.origin) << std::hex << int(row.byte);
  }
  for (uint8_t unlisted : {0x00, 0x0F, 0x1A, 0x23, 0x31, 0x80, 0x82, 0xFF}) {
    const CallStateEntry entry = CallStateOf(unlisted);
    EXPECT_STREQ(entry.name, "") << int(unlisted);
    EXPECT_EQ(entry.state, 0u) << int(unlisted);
    EXPECT_EQ(entry.origin, 0u) << int(unlisted);
  }
}

TEST(CallStateTables, CallTypesGiveReasonsAndTwoOfThemAnOrigin) {
  EXPECT_EQ(CallTypeOf(0x01).reason, LINECALLREASON_DIRECT);
  EXPECT_EQ(CallTypeOf(0x01).originOverride, LINECALLORIGIN_EXTERNAL);
  EXPECT_EQ(CallTypeOf(0x02).reason, LINECALLREASON_DIRECT);
  EXPECT_EQ(CallTypeOf(0x02).originOverride, LINECALLORIGIN_INTERNAL);
  EXPECT_EQ(CallTypeOf(0x11).reason, LINECALLREASON_FWDUNCOND);
  EXPECT_EQ(CallTypeOf(0x21).reason, LINECALLREASON_REDIRECT);
  EXPECT_EQ(CallTypeOf(0x31).reason, LINECALLREASON_REMINDER);
  for (uint8_t type : {0x11, 0x21, 0x31}) EXPECT_EQ(CallTypeOf(type).originOverride, 0u) << int(type);
  for (uint8_t type : {0x00, 0x03, 0x04, 0x05, 0x12, 0xFF}) {
    EXPECT_EQ(CallTypeOf(type).reason, 0u) << int(type);
    EXPECT_EQ(CallTypeOf(type).originOverride, 0u) << int(type);
  }
}

TEST(CallStateTables, CallReasonsMapOneToOneAndUnlistedOnesGiveNone) {
  const uint32_t expected[] = {LINECALLREASON_DIRECT,    LINECALLREASON_FWDBUSY,        LINECALLREASON_FWDNOANSWER,
                               LINECALLREASON_FWDUNCOND, LINECALLREASON_PICKUP,         LINECALLREASON_UNPARK,
                               LINECALLREASON_REDIRECT,  LINECALLREASON_CALLCOMPLETION, LINECALLREASON_TRANSFER,
                               LINECALLREASON_REMINDER,  LINECALLREASON_UNKNOWN,        LINECALLREASON_UNAVAIL};
  for (uint8_t i = 0; i < 12; ++i) EXPECT_EQ(CallReasonOf(0x10 + i), expected[i]) << int(i);
  for (uint8_t reason : {0x00, 0x0F, 0x1C, 0xFF}) EXPECT_EQ(CallReasonOf(reason), 0u) << int(reason);
}

TEST(CallStateTables, CausesGiveDisconnectModesAndUnknownWhenAbsentOrUnlisted) {
  EXPECT_EQ(DisconnectModeOf(0x00), LINEDISCONNECTMODE_NORMAL);
  EXPECT_EQ(DisconnectModeOf(0x10), LINEDISCONNECTMODE_UNKNOWN);
  EXPECT_EQ(DisconnectModeOf(0x11), LINEDISCONNECTMODE_REJECT);
  EXPECT_EQ(DisconnectModeOf(0x12), LINEDISCONNECTMODE_PICKUP);
  EXPECT_EQ(DisconnectModeOf(0x13), LINEDISCONNECTMODE_FORWARDED);
  EXPECT_EQ(DisconnectModeOf(0x14), LINEDISCONNECTMODE_BUSY);
  EXPECT_EQ(DisconnectModeOf(0x15), LINEDISCONNECTMODE_NOANSWER);
  EXPECT_EQ(DisconnectModeOf(0x16), LINEDISCONNECTMODE_BADADDRESS);
  EXPECT_EQ(DisconnectModeOf(0x17), LINEDISCONNECTMODE_UNREACHABLE);
  EXPECT_EQ(DisconnectModeOf(0x18), LINEDISCONNECTMODE_CONGESTION);
  EXPECT_EQ(DisconnectModeOf(0x19), LINEDISCONNECTMODE_INCOMPATIBLE);
  EXPECT_EQ(DisconnectModeOf(0x1A), LINEDISCONNECTMODE_UNAVAIL);
  EXPECT_EQ(DisconnectModeOf(0x1B), LINEDISCONNECTMODE_NODIALTONE);
  EXPECT_EQ(DisconnectModeOf(0x1C), LINEDISCONNECTMODE_NUMBERCHANGED);
  EXPECT_EQ(DisconnectModeOf(0x1D), LINEDISCONNECTMODE_OUTOFORDER);
  EXPECT_EQ(DisconnectModeOf(0x1E), LINEDISCONNECTMODE_TEMPFAILURE);
  EXPECT_EQ(DisconnectModeOf(0x1F), LINEDISCONNECTMODE_QOSUNAVAIL);
  EXPECT_EQ(DisconnectModeOf(0x20), LINEDISCONNECTMODE_BLOCKED);
  EXPECT_EQ(DisconnectModeOf(0x21), LINEDISCONNECTMODE_DONOTDISTURB);
  EXPECT_EQ(DisconnectModeOf(0xFF), LINEDISCONNECTMODE_UNKNOWN);
  EXPECT_EQ(DisconnectModeOf(0x22), LINEDISCONNECTMODE_UNKNOWN);
  EXPECT_EQ(DisconnectModeOf(std::nullopt), LINEDISCONNECTMODE_UNKNOWN) << "absent is not NORMAL";
}

TEST(CallStateTables, StateModesDependOnTheLineVersionAndTheNoAnswerDrop) {
  EXPECT_EQ(CallStateMode(LINECALLSTATE_OFFERING, 0x10003, std::nullopt, false), 0u);
  EXPECT_EQ(CallStateMode(LINECALLSTATE_OFFERING, 0x10004, std::nullopt, false), LINEOFFERINGMODE_ACTIVE);
  EXPECT_EQ(CallStateMode(LINECALLSTATE_CONNECTED, 0x10003, std::nullopt, false), 0u);
  EXPECT_EQ(CallStateMode(LINECALLSTATE_CONNECTED, 0x20000, std::nullopt, false), LINECONNECTEDMODE_ACTIVE);
  EXPECT_EQ(CallStateMode(LINECALLSTATE_DIALTONE, 0x10003, std::nullopt, false), LINEDIALTONEMODE_UNAVAIL);
  EXPECT_EQ(CallStateMode(LINECALLSTATE_BUSY, 0x10003, std::nullopt, false), LINEBUSYMODE_STATION);
  EXPECT_EQ(CallStateMode(LINECALLSTATE_DISCONNECTED, 0x20000, 0x14, false), LINEDISCONNECTMODE_BUSY);
  EXPECT_EQ(CallStateMode(LINECALLSTATE_DISCONNECTED, 0x20000, std::nullopt, false), LINEDISCONNECTMODE_UNKNOWN);
  EXPECT_EQ(CallStateMode(LINECALLSTATE_DISCONNECTED, 0x20000, 0x00, true), LINEDISCONNECTMODE_NOANSWER);
  EXPECT_EQ(CallStateMode(LINECALLSTATE_DISCONNECTED, 0x10004, 0x00, true), LINEDISCONNECTMODE_NORMAL)
      << "before TSPI 2.0 the cause decides";
  for (uint32_t state : {LINECALLSTATE_IDLE, LINECALLSTATE_ACCEPTED, LINECALLSTATE_DIALING, LINECALLSTATE_RINGBACK,
                         LINECALLSTATE_PROCEEDING, LINECALLSTATE_ONHOLDPENDTRANSFER})
    EXPECT_EQ(CallStateMode(state, 0x20000, 0x14, true), 0u) << std::hex << state;
}

TEST(CallStateTables, PartyFlagsFollowTypeAndEmptiness) {
  EXPECT_EQ(PartyIdFlags(0, false), LINECALLPARTYID_ADDRESS);
  EXPECT_EQ(PartyIdFlags(0, true), LINECALLPARTYID_UNAVAIL);
  EXPECT_EQ(PartyIdFlags(2, false), LINECALLPARTYID_BLOCKED);
  EXPECT_EQ(PartyIdFlags(2, true), LINECALLPARTYID_BLOCKED);
  for (uint8_t type : {3, 4, 5}) {
    EXPECT_EQ(PartyIdFlags(type, false), LINECALLPARTYID_ADDRESS) << int(type);
    EXPECT_EQ(PartyIdFlags(type, true), LINECALLPARTYID_ADDRESS) << int(type);
  }
  for (std::optional<uint8_t> type :
       {std::optional<uint8_t>{}, std::optional<uint8_t>{1}, std::optional<uint8_t>{6}, std::optional<uint8_t>{0xFF}}) {
    EXPECT_EQ(PartyIdFlags(type, false), LINECALLPARTYID_ADDRESS);
    EXPECT_EQ(PartyIdFlags(type, true), LINECALLPARTYID_UNKNOWN);
  }
}

TEST(CallStateTables, LineStatesGiveForwardModes) {
  EXPECT_EQ(ForwardModeOfLineState(0x10), LINEFORWARDMODE_UNCOND);
  EXPECT_EQ(ForwardModeOfLineState(0x11), LINEFORWARDMODE_BUSY);
  EXPECT_EQ(ForwardModeOfLineState(0x12), LINEFORWARDMODE_NOANSW);
  for (uint8_t state : {0x00, 0x0F, 0x13, 0xFF}) EXPECT_EQ(ForwardModeOfLineState(state), 0u) << int(state);
}

vnl::Charging Charge(uint32_t amount, uint8_t exponent, std::string currency = "") {
  vnl::Charging c;
  c.amount = amount;
  c.exponent = exponent;
  c.currency = std::move(currency);
  return c;
}

TEST(ChargingText, WholeUnitsPointThousandthsAndCurrency) {
  EXPECT_EQ(ChargingText(Charge(1250, 0, "EUR"), "."), "1.250 EUR");
  EXPECT_EQ(ChargingText(Charge(1250, 0, "EUR"), ","), "1,250 EUR");
  EXPECT_EQ(ChargingText(Charge(256, 3), "."), "256.000 ") << "the default exponent: the amount itself";
  EXPECT_EQ(ChargingText(Charge(256, 0), "."), "0.256 ");
  EXPECT_EQ(ChargingText(Charge(7, 0, "DM"), "."), "0.007 DM");
  EXPECT_EQ(ChargingText(Charge(0, 0, "EUR"), "."), "0.000 EUR");
}

TEST(ChargingText, OtherExponentsScaleExactly) {
  EXPECT_EQ(ChargingText(Charge(1250, 1, "EUR"), "."), "12.500 EUR");
  EXPECT_EQ(ChargingText(Charge(1234, 2, "EUR"), "."), "123.400 EUR");
  EXPECT_EQ(ChargingText(Charge(29, 1), "."), "0.290 ") << "no floating-point rounding down to 289";
  EXPECT_EQ(ChargingText(Charge(12, 5, "EUR"), "."), "1200.000 EUR");
  EXPECT_EQ(ChargingText(Charge(4294967295u, 3), "."), "4294967295.000 ");
  EXPECT_EQ(ChargingText(Charge(4294967295u, 0), "."), "4294967.295 ");
}

TEST(ChargingText, AHugeChargeSaturatesAndACurrencyEndsAtNul) {
  EXPECT_EQ(ChargingText(Charge(5, 255), "."), "9223372036854775807.000 ");
  EXPECT_EQ(ChargingText(Charge(0, 255), "."), "0.000 ");
  EXPECT_EQ(ChargingText(Charge(1000, 0, std::string("EU\0R", 4)), "."), "1.000 EU");
}

TEST(ChargingText, TheEnvironmentsDecimalPointOrAPoint) {
  // The C locale is always there; a locale that is not installed falls back.
  const char* saved = std::getenv("LC_ALL");
  const std::string restore = saved ? saved : "";
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(EnvironmentDecimalPoint(), ".");
  setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
  EXPECT_EQ(EnvironmentDecimalPoint(), ".");
  if (saved)
    setenv("LC_ALL", restore.c_str(), 1);
  else
    unsetenv("LC_ALL");
}

}  // namespace
