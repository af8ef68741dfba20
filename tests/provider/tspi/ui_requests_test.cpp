// The configuration dialog's requests, sent to the loaded plug-in through
// TSPI_providerGenericDialogData as the telephony service passes them on.
#include <gtest/gtest.h>

#include <optional>

#include "platform/profile.h"
#include "platform/reg_types.h"
#include "tests/provider/tspi/provider_fixture.h"
#include "tests/support/registry_helpers.h"

namespace {

using tktest::kProviderId;
using tktest::kVersion;
using tktest::OutputText;
using namespace kvarsp;

constexpr char16_t kUserKey[] = u"Software\\Marlix\\TSP\\Marlix TK-Anlage";
constexpr char16_t kProviderKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider3";

std::optional<uint32_t> ReadDword(platform::RegKeyHandle root, std::u16string_view path, std::u16string_view name) {
  tktest::Key key;
  if (platform::regOpenKeyEx(root, path, &key.h) != 0) return std::nullopt;
  uint32_t type = 0, value = 0, size = sizeof value;
  if (platform::regQueryValueEx(key.h, name, &type, reinterpret_cast<uint8_t*>(&value), &size) != 0) return std::nullopt;
  if (type != platform::kRegDword) return std::nullopt;
  return value;
}

class UiRequests : public tktest::StartedProvider {};

TEST_F(UiRequests, ConfigurationLockAdmitsOneDialogAtATime) {
  EXPECT_EQ(Ui(UIREQ_LOCK, 1).result, 1u);
  EXPECT_EQ(Ui(UIREQ_LOCK, 1).result, 0u);  // another dialog is open
  EXPECT_EQ(Ui(UIREQ_LOCK, 0).result, 1u);  // releasing always works
  EXPECT_EQ(Ui(UIREQ_LOCK, 0).result, 1u);
  EXPECT_EQ(Ui(UIREQ_LOCK, 1).result, 1u);
}

TEST_F(UiRequests, ExtensionAndMsnLists) {
  struct Row {
    uint32_t request, x, y, result;
    const char16_t* text;  // the output string; nullptr: none is written
  };
  for (const Row& r : {Row{UIREQ_GET_EXT_COUNT, 0, 0, 3, nullptr}, Row{UIREQ_GET_EXT_ADDRESS, 1, 0, 1, u"21"},
                       Row{UIREQ_GET_EXT_ADDRESS, 3, 0, 0, u""}, Row{UIREQ_GET_MSN_COUNT, 0, 0, 2, nullptr},
                       Row{UIREQ_GET_MSN_ADDRESS, 1, 0, 1, u"4712"}, Row{UIREQ_GET_MSN_ADDRESS, 2, 0, 0, u""},
                       Row{UIREQ_GET_EXT_MSN_COUNT, 1, 0, 2, nullptr}, Row{UIREQ_GET_EXT_MSN_COUNT, 0, 0, 0, nullptr},
                       Row{UIREQ_GET_EXT_MSN_COUNT, 0xFFFFFFFF, 0, 0, nullptr},
                       Row{UIREQ_GET_EXT_MSN, 1, 0, 1, u"4711"}, Row{UIREQ_GET_EXT_MSN, 1, 2, 0, u""},
                       Row{UIREQ_GET_EXT_MSN, 7, 0, 0, u""}, Row{UIREQ_GET_EXT_LINE_ID, 2, 0, 12, nullptr},
                       Row{UIREQ_GET_EXT_LINE_ID, 3, 0, 0, nullptr}}) {
    SCOPED_TRACE(testing::Message() << "request " << r.request << " (" << r.x << ", " << r.y << ")");
    auto block = Ui(r.request, r.x, r.y);
    EXPECT_EQ(block.result, r.result);
    EXPECT_EQ(OutputText(block), r.text ? r.text : u"");
  }
}

TEST_F(UiRequests, LineNameAndPrefixes) {
  auto name = Ui(UIREQ_GET_LINE_NAME);
  EXPECT_EQ(OutputText(name), u"Marlix TK-Anlage");
  EXPECT_EQ(name.result, 0xDEADBEEFu);  // left as it was
  UiText(UIREQ_SET_LINE_NAME, u"Büro-Anlage");
  EXPECT_EQ(OutputText(Ui(UIREQ_GET_LINE_NAME)), u"Büro-Anlage");

  struct Prefix {
    uint32_t get, set;
    const char16_t* byDefault;
    const char16_t* useName;
  };
  for (Prefix p : {Prefix{UIREQ_GET_OUTSIDE_PREFIX, UIREQ_SET_OUTSIDE_PREFIX, u"0", u"UseOutsideLinePrefix"},
                   Prefix{UIREQ_GET_LONGDIST_PREFIX, UIREQ_SET_LONGDIST_PREFIX, u"0", u"UseLongDistancePrefix"},
                   Prefix{UIREQ_GET_INTL_PREFIX, UIREQ_SET_INTL_PREFIX, u"00", u"UseInternationalPrefix"}}) {
    auto before = Ui(p.get);
    EXPECT_EQ(OutputText(before), p.byDefault);
    EXPECT_EQ(before.result, 1u);
    EXPECT_EQ(UiText(p.set, u"9", 0).result, 1u);
    auto after = Ui(p.get);
    EXPECT_EQ(OutputText(after), u"9");
    EXPECT_EQ(after.result, 0u);
    // The use flag is stored as the dialog sent it, not folded to 0/1.
    UiText(p.set, u"9", 5);
    EXPECT_EQ(ReadDword(platform::kHkeyLocalMachine, kProviderKey, p.useName), 5u);
    EXPECT_EQ(Ui(p.get).result, 1u);
  }
  // Each prefix is its own value.
  UiText(UIREQ_SET_INTL_PREFIX, u"+", 1);
  EXPECT_EQ(OutputText(Ui(UIREQ_GET_OUTSIDE_PREFIX)), u"9");
  EXPECT_EQ(OutputText(Ui(UIREQ_GET_INTL_PREFIX)), u"+");
}

TEST_F(UiRequests, InputTextIsNeverReadBeyondItsField) {
  kvarsp::UiRequestBlock block{};
  block.request = UIREQ_SET_LINE_NAME;
  for (char16_t& c : block.inputText) c = u'x';  // no terminator at all
  block.y = 0x00410041;                           // would continue the text as "AA"
  ASSERT_EQ(Dialog(block), 0);
  std::u16string name = OutputText(Ui(UIREQ_GET_LINE_NAME));
  EXPECT_EQ(name, std::u16string(1023, u'x'));
}

TEST_F(UiRequests, InUseAndHandsfreeSettings) {
  EXPECT_EQ(Ui(UIREQ_GET_EXT_IN_USE, 0).result, 1u);
  Ui(UIREQ_SET_EXT_IN_USE, 0, 0);
  EXPECT_EQ(Ui(UIREQ_GET_EXT_IN_USE, 0).result, 0u);
  EXPECT_EQ(Ui(UIREQ_GET_EXT_IN_USE, 3).result, 0u);
  Ui(UIREQ_SET_EXT_IN_USE, 3, 1);  // ignored
  EXPECT_EQ(Ui(UIREQ_GET_EXT_COUNT).result, 3u);

  Ui(UIREQ_SET_HANDSFREE, 1, 0x102);  // only the low byte counts
  EXPECT_EQ(Ui(UIREQ_GET_HANDSFREE, 1).result, 2u);
  EXPECT_EQ(Ui(UIREQ_GET_HANDSFREE, 0).result, 0u);
  EXPECT_EQ(Ui(UIREQ_GET_HANDSFREE, 9).result, 0u);

  // Request 40 stores only the hands-free records, one per line entry.
  Ui(UIREQ_SAVE_HANDSFREE);
  EXPECT_EQ(ReadDword(platform::kHkeyCurrentUser, kUserKey, u"NumLinesHandsfreeMode"), 3u);
  EXPECT_EQ(ReadDword(platform::kHkeyCurrentUser, kUserKey, u"HandsfreeModeLineID1"), 11u);
  EXPECT_EQ(ReadDword(platform::kHkeyCurrentUser, kUserKey, u"HandsfreeMode1"), 2u);
  EXPECT_FALSE(ReadDword(platform::kHkeyCurrentUser, kUserKey, u"NumLinesInUse"));

  // Reloading drops what was not saved, but keeps what request 40 stored.
  Ui(UIREQ_RELOAD);
  EXPECT_EQ(Ui(UIREQ_GET_EXT_IN_USE, 0).result, 1u);
  EXPECT_EQ(Ui(UIREQ_GET_HANDSFREE, 1).result, 2u);
}

TEST_F(UiRequests, SavingRebuildsTheDevicesTapiKnows) {
  // Devices 0, 1, 2 stand for lines 10, 11, 12. Line 11 goes out of use.
  Ui(UIREQ_SET_EXT_IN_USE, 1, 0);
  Ui(UIREQ_SAVE);
  ASSERT_TRUE(harness().waitFor([](const auto& r) { return r.size() >= 1; }));
  auto records = harness().records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].msg, LINE_REMOVE);
  EXPECT_EQ(records[0].param1, 1u);
  EXPECT_EQ(Ui(UIREQ_IS_OWN_LINE, 1).result, 0u);
  EXPECT_EQ(Ui(UIREQ_IS_OWN_LINE, 2).result, 1u);
  EXPECT_EQ(ReadDword(platform::kHkeyCurrentUser, kUserKey, u"NumLinesInUse"), 2u);
  EXPECT_EQ(ReadDword(platform::kHkeyCurrentUser, kUserKey, u"LineIDInUse1"), 12u);
  EXPECT_EQ(ReadDword(platform::kHkeyLocalMachine, kProviderKey, u"NumLines"), 2u);

  // It comes back: announced with the next temporary ID, bound by TAPI.
  Ui(UIREQ_SET_EXT_IN_USE, 1, 1);
  Ui(UIREQ_SAVE);
  ASSERT_TRUE(harness().waitFor([](const auto& r) { return r.size() >= 2; }));
  records = harness().records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].msg, LINE_CREATE);
  EXPECT_EQ(records[1].param1, reinterpret_cast<DWORD_PTR>(tapihost::ProviderHarness::providerHandle()));
  EXPECT_EQ(records[1].param2, 0u);
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_providerCreateLineDevice, DWORD_PTR{0}, DWORD{3}), 0);
  EXPECT_EQ(Ui(UIREQ_IS_OWN_LINE, 3).result, 1u);
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_providerCreateLineDevice, DWORD_PTR{0}, DWORD{4}), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_providerCreateLineDevice, DWORD_PTR{5}, DWORD{4}), LINEERR_OPERATIONFAILED);

  // A reload alone changes no device.
  Ui(UIREQ_SET_EXT_IN_USE, 0, 0);
  Ui(UIREQ_RELOAD);
  EXPECT_EQ(harness().records().size(), 2u);
}

TEST_F(UiRequests, ProviderFlagsAndValues) {
  EXPECT_EQ(Ui(UIREQ_IS_IN_USE).result, 0u);
  EXPECT_EQ(Ui(UIREQ_IS_INITIALIZED).result, 1u);
  EXPECT_EQ(Ui(UIREQ_IS_FIRST_CONFIG).result, 1u);
  Ui(UIREQ_SET_FIRST_CONFIG, 1);
  EXPECT_EQ(Ui(UIREQ_IS_FIRST_CONFIG).result, 0u);
  EXPECT_EQ(ReadDword(platform::kHkeyCurrentUser, kUserKey, u"FirstConfig"), 1u);

  // Without the switches, then with a LogTapi that is not 1.
  Configure(std::string(tktest::kRegLoggingKey) + "\"LogTapi\"=-\n\"LogCTI\"=-\n");
  EXPECT_EQ(Ui(UIREQ_GET_LOG_TAPI).result, 0u);
  Configure(tktest::regLogging(5, 0));
  EXPECT_EQ(Ui(UIREQ_GET_LOG_TAPI).result, 1u);
  EXPECT_EQ(Ui(UIREQ_GET_LOG_VNL).result, 0u);

  Ui(UIREQ_SET_NUM_PHONES, 4);
  DWORD lines = 0, phones = 0;
  EXPECT_EQ(harness().enumDevices(kProviderId, &lines, &phones), 0);
  EXPECT_EQ(phones, 4u);

  // Another provider ID reads and writes another provider key.
  Ui(UIREQ_SET_PROVIDER_ID, 8);
  EXPECT_EQ(Ui(UIREQ_GET_EXT_COUNT).result, 3u);  // the tables stay until reloaded
  Ui(UIREQ_RELOAD);
  EXPECT_EQ(Ui(UIREQ_GET_EXT_COUNT).result, 0u);

  // Codes without a meaning leave the block alone.
  for (uint32_t code : {0u, 21u, 22u, 41u, 0xFFFFFFFFu}) EXPECT_EQ(Ui(code, 1, 1).result, 0xDEADBEEFu) << code;
}

TEST_F(UiRequests, TelephonyChangeIsStampedAndBroadcast) {
  std::vector<std::u16string> sections;
  int id = platform::addSettingChangeListener([&](std::u16string_view s) { sections.emplace_back(s); });
  Ui(UIREQ_NOTIFY_TAPI);
  platform::removeSettingChangeListener(id);
  EXPECT_EQ(sections, (std::vector<std::u16string>{u"Windows Telephony"}));
  auto stamp = platform::getProfileString(u"Windows Telephony", u"TelephonINIChanged");
  ASSERT_TRUE(stamp.has_value());
  // "YYYY-MM-DD hh:mm:ss"
  ASSERT_EQ(stamp->size(), 19u);
  EXPECT_EQ((*stamp)[4], u'-');
  EXPECT_EQ((*stamp)[10], u' ');
  EXPECT_EQ((*stamp)[16], u':');
}

TEST_F(UiRequests, BlocksTooShortAreRefused) {
  kvarsp::UiRequestBlock block{};
  block.request = UIREQ_GET_LINE_NAME;
  EXPECT_EQ(Dialog(block, sizeof block - 1), LINEERR_INVALPARAM);
  EXPECT_EQ(OutputText(block), u"");
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_providerGenericDialogData, DWORD_PTR{kProviderId},
                      DWORD{TUISPIDLL_OBJECT_PROVIDERID}, LPVOID{}, DWORD{6164}),
            LINEERR_INVALPARAM);
}

}  // namespace
