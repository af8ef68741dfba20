// The random fault source of tksim: how often and which faults it picks for
// a seed and rate, what a corruption does to the bytes of a frame, how long a
// silence lasts, the event lines and the kinds on the command line.
#include "exchange/fault_injector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/exchange/recording_events.h"

namespace {

using exchange::Fault;
using exchange::FaultBit;
using exchange::FaultInjector;
using exchange::FaultKind;
using exchange::FaultKinds;
using exchange::FaultSettings;
using exchangetest::RecordingEvents;

constexpr int kQuestions = 20000;

FaultSettings Settings(double rate, uint64_t seed, FaultKinds kinds = exchange::kAllFaultKinds) {
  FaultSettings settings;
  settings.rate = rate;
  settings.seed = seed;
  settings.kinds = kinds;
  return settings;
}

// The faults of kQuestions questions, alternately for a frame going out and
// a block coming in; silences end at once (a clock that runs ahead).
std::vector<FaultKind> Ask(FaultInjector& faults) {
  std::vector<FaultKind> kinds;
  uint32_t now = 0;
  for (int i = 0; i < kQuestions; ++i, now += FaultSettings::kDefaultSilenceMs) {
    faults.Silent(now);
    auto fault = i % 2 == 0 ? faults.OnOutgoing(now, 10) : faults.OnIncoming(now);
    if (fault) kinds.push_back(fault->kind);
  }
  return kinds;
}

TEST(FaultInjectorTest, FaultsComeAtTheRateOfTheSettingsAndOnlyOfTheKindsAsked) {
  struct Row {
    double rate;
    uint64_t seed;
    FaultKinds kinds;
  };
  const FaultKinds outgoing = exchange::kOutgoingFaults;
  for (const Row& row : {Row{0, 1, exchange::kAllFaultKinds}, Row{0.01, 1, exchange::kAllFaultKinds},
                         Row{0.01, 7, FaultBit(FaultKind::Drop)}, Row{0.1, 2, outgoing},
                         Row{0.5, 3, FaultBit(FaultKind::Refuse) | FaultBit(FaultKind::Corrupt)},
                         Row{1, 4, exchange::kAllFaultKinds}}) {
    SCOPED_TRACE("rate " + std::to_string(row.rate) + " seed " + std::to_string(row.seed));
    FaultInjector faults(Settings(row.rate, row.seed, row.kinds));
    const std::vector<FaultKind> kinds = Ask(faults);
    // Only the questions whose side has a kind asked can give a fault.
    const double sides = ((row.kinds & exchange::kOutgoingFaults) != 0) + ((row.kinds & exchange::kIncomingFaults) != 0);
    const double expected = row.rate * kQuestions * sides / 2;
    EXPECT_NEAR(static_cast<double>(kinds.size()), expected, 4 * std::sqrt(expected) + 1);
    EXPECT_EQ(faults.Total(), kinds.size());
    for (FaultKind kind : kinds) EXPECT_NE(row.kinds & FaultBit(kind), 0u) << exchange::FaultKindName(kind);
    for (size_t k = 0; k < exchange::kFaultKindCount; ++k) {
      const auto kind = static_cast<FaultKind>(k);
      const auto seen = static_cast<uint64_t>(std::count(kinds.begin(), kinds.end(), kind));
      EXPECT_EQ(faults.Count(kind), seen) << exchange::FaultKindName(kind);
      // Every kind asked for turns up once the faults are many.
      if (kinds.size() > 1000 && (row.kinds & FaultBit(kind)) != 0) {
        EXPECT_GT(seen, 0u);
      }
    }
  }
}

TEST(FaultInjectorTest, TheSameSeedGivesTheSameFaultsAndAnotherSeedOthers) {
  FaultInjector first(Settings(0.05, 11)), again(Settings(0.05, 11)), other(Settings(0.05, 12));
  const std::vector<FaultKind> faults = Ask(first);
  EXPECT_EQ(Ask(again), faults);
  EXPECT_NE(Ask(other), faults);
}

TEST(FaultInjectorTest, AKindATransportCannotDoIsNeverPicked) {
  FaultInjector faults(Settings(1, 5, FaultBit(FaultKind::Rnr) | FaultBit(FaultKind::Drop)));
  for (int i = 0; i < 100; ++i) {
    EXPECT_FALSE(faults.OnIncoming(0, FaultBit(FaultKind::Disconnect) | FaultBit(FaultKind::Refuse)));
    auto out = faults.OnOutgoing(0, 8, 0, FaultBit(FaultKind::Drop));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->kind, FaultKind::Drop);
  }
  EXPECT_EQ(faults.CountsText(),
            "faults=100 fault-corrupt=0 fault-drop=100 fault-silence=0 fault-rnr=0 fault-disconnect=0 fault-refuse=0");
}

TEST(FaultInjectorTest, ACorruptionFlipsTheBitsOfOneByteFromTheFirstAllowedOn) {
  struct Row {
    size_t size, first;
  };
  for (const Row& row : {Row{1, 0}, Row{8, 0}, Row{8, 3}, Row{8, 7}, Row{4, 9}}) {
    FaultInjector faults(Settings(1, 3, FaultBit(FaultKind::Corrupt)));
    for (int i = 0; i < 50; ++i) {
      auto fault = faults.OnOutgoing(0, row.size, row.first);
      ASSERT_TRUE(fault);
      // A first byte past the end leaves the whole frame open.
      const size_t lowest = row.first < row.size ? row.first : 0;
      EXPECT_GE(fault->byte, lowest);
      EXPECT_LT(fault->byte, row.size);
      std::vector<uint8_t> frame(row.size, 0x5A), expected = frame;
      expected[fault->byte] ^= FaultInjector::kCorruptMask;
      FaultInjector::Apply(*fault, frame);
      EXPECT_EQ(frame, expected);
    }
  }
  // Only a corruption changes bytes, and never past the end.
  std::vector<uint8_t> frame{1, 2, 3};
  Fault drop;
  FaultInjector::Apply(drop, frame);
  Fault far;
  far.kind = FaultKind::Corrupt;
  far.byte = 3;
  FaultInjector::Apply(far, frame);
  EXPECT_EQ(frame, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(FaultInjectorTest, ASilenceLastsItsTimeAcrossTheWrapOfTheTickAndIsLogged) {
  for (uint32_t start : {1000u, 0xFFFFF000u}) {
    FaultSettings settings = Settings(1, 9, FaultBit(FaultKind::Silence));
    settings.log = true;
    RecordingEvents events;
    FaultInjector faults(settings, &events);
    EXPECT_FALSE(faults.Silent(start));
    auto fault = faults.OnOutgoing(start, 4);
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->kind, FaultKind::Silence);
    EXPECT_TRUE(faults.Silent(start));
    EXPECT_TRUE(faults.Silent(start + settings.silenceMs - 1));
    EXPECT_FALSE(faults.Silent(start + settings.silenceMs));
    EXPECT_FALSE(faults.Silent(start + settings.silenceMs + 1));
    EXPECT_EQ(events.Lines(), (std::vector<std::string>{"fault silence ms=3000", "fault silence-end"}));
  }
}

TEST(FaultInjectorTest, EveryFaultIsOneEventLineWhenLoggingIsOnAndNoneOtherwise) {
  for (bool log : {true, false}) {
    FaultSettings settings = Settings(1, 21);
    settings.log = log;
    RecordingEvents events;
    FaultInjector faults(settings, &events);
    std::vector<std::string> expected;
    for (int i = 0; i < 30; ++i) {
      auto fault = i % 2 ? faults.OnIncoming(0) : faults.OnOutgoing(0, 6, 0, FaultBit(FaultKind::Corrupt) | FaultBit(FaultKind::Drop));
      ASSERT_TRUE(fault);
      std::string line = "fault " + std::string(exchange::FaultKindName(fault->kind));
      if (fault->kind == FaultKind::Corrupt) line += " byte=" + std::to_string(fault->byte);
      expected.push_back(line);
    }
    EXPECT_EQ(events.Lines(), log ? expected : std::vector<std::string>{});
  }
}

TEST(FaultInjectorTest, RateZeroIsOffAndLeavesTheRandomSourceAlone) {
  FaultInjector off(Settings(0, 1));
  EXPECT_FALSE(off.Enabled());
  EXPECT_TRUE(Ask(off).empty());
  EXPECT_FALSE(FaultInjector(Settings(0.5, 1, 0)).Enabled()) << "no kinds";
  EXPECT_TRUE(FaultInjector(Settings(0.5, 1)).Enabled());
}

TEST(FaultInjectorTest, KindsOnTheCommandLine) {
  struct Row {
    const char* text;
    bool ok;
    FaultKinds kinds;
    const char* error;
  };
  for (const Row& row : {
           Row{"corrupt", true, FaultBit(FaultKind::Corrupt), ""},
           Row{"drop,rnr,refuse", true, FaultBit(FaultKind::Drop) | FaultBit(FaultKind::Rnr) | FaultBit(FaultKind::Refuse), ""},
           Row{"silence,disconnect,silence", true, FaultBit(FaultKind::Silence) | FaultBit(FaultKind::Disconnect), ""},
           Row{"all", true, exchange::kAllFaultKinds, ""},
           Row{"", false, 0, "an empty fault kind in ''"},
           Row{"drop,", false, 0, "an empty fault kind in 'drop,'"},
           Row{"drop,frob", false, 0, "unknown fault kind 'frob' (corrupt, drop, silence, rnr, disconnect, refuse or all)"},
           Row{"Drop", false, 0, "unknown fault kind 'Drop' (corrupt, drop, silence, rnr, disconnect, refuse or all)"},
       }) {
    FaultKinds kinds = 0x80;
    std::string error;
    EXPECT_EQ(exchange::ParseFaultKinds(row.text, kinds, &error), row.ok) << row.text;
    EXPECT_EQ(kinds, row.ok ? row.kinds : 0x80u) << row.text << ": unchanged on an error";
    EXPECT_EQ(error, row.error) << row.text;
  }
}

}  // namespace
