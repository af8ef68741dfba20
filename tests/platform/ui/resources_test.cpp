#include "platform/ui/resources.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>

#include "platform/ui/drawing.h"
#include "tests/support/test_root.h"

namespace ui = platform::ui;
using platform::WindowHandle;

namespace {

// Sets environment variables for one scope and puts the old values back.
class EnvScope {
 public:
  void set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old != nullptr ? std::optional<std::string>(old) : std::nullopt});
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvScope() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

constexpr int kText = 1, kMissingInBase = 2;

ui::LanguageResources strings(ui::LangId language, std::vector<std::pair<int, std::string>> table) {
  ui::LanguageResources l;
  l.language = language;
  l.strings = std::move(table);
  return l;
}

// German base, English (US) and French; one string only in English.
ui::ModuleResources trilingual(const char* name) {
  ui::ModuleResources m;
  m.moduleName = name;
  m.baseLanguage = ui::kLangGerman;
  m.languages = {strings(ui::kLangEnglishUs, {{kText, "English"}, {kMissingInBase, "only English"}}),
                 strings(ui::kLangGerman, {{kText, "Ger\xC3\xA4tesoftware"}}),
                 strings(ui::kLangFrench, {{kText, "Fran\xC3\xA7" "ais"}})};
  return m;
}

TEST(UiLanguage, FromTheEnvironmentWithFallbacks) {
  const ui::ResourceRegistration module(trilingual("Tri.dll"));
  struct Row {
    const char* tkLanguage;
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    ui::LangId language;
    const char* text;  // what "tri.DLL" string kText reads in that language
  };
  const Row rows[] = {
      {nullptr, nullptr, nullptr, "de_DE.UTF-8", ui::kLangGerman, "Ger\xC3\xA4tesoftware"},
      {nullptr, nullptr, nullptr, "de_AT", 0x0C07, "Ger\xC3\xA4tesoftware"},      // same primary language
      {nullptr, nullptr, nullptr, "en_GB.UTF-8", ui::kLangEnglishUk, "English"},  // same primary language
      {nullptr, nullptr, nullptr, "fr-CA", 0x0C0C, "Fran\xC3\xA7" "ais"},
      {nullptr, nullptr, nullptr, "pl_PL", ui::kLangPolish, "Ger\xC3\xA4tesoftware"},  // the base language
      {nullptr, nullptr, nullptr, "pt_PT@euro", ui::kLangPortuguese, "Ger\xC3\xA4tesoftware"},
      {nullptr, nullptr, nullptr, "es", ui::kLangSpanish, "Ger\xC3\xA4tesoftware"},
      {nullptr, nullptr, nullptr, "nl_BE", 0x0813, "Ger\xC3\xA4tesoftware"},
      {nullptr, nullptr, nullptr, "C", ui::kLangEnglishUs, "English"},
      {nullptr, nullptr, nullptr, "xx_YY", ui::kLangEnglishUs, "English"},
      {nullptr, nullptr, nullptr, nullptr, ui::kLangEnglishUs, "English"},
      {nullptr, "fr_FR", "de_DE", "de_DE", ui::kLangFrench, "Fran\xC3\xA7" "ais"},  // LC_ALL first
      {nullptr, nullptr, "fr_FR", "de_DE", ui::kLangFrench, "Fran\xC3\xA7" "ais"},
      {nullptr, "", "", "fr_BE", 0x080C, "Fran\xC3\xA7" "ais"},                    // empty counts as unset
      {"de_DE", "fr_FR", nullptr, nullptr, ui::kLangGerman, "Ger\xC3\xA4tesoftware"},
      {"0x040c", nullptr, nullptr, "de_DE", ui::kLangFrench, "Fran\xC3\xA7" "ais"},
      {"bogus", nullptr, nullptr, "fr_FR", ui::kLangFrench, "Fran\xC3\xA7" "ais"},  // ignored when unknown
  };
  for (const Row& row : rows) {
    EnvScope env;
    env.set("TK_UI_LANGUAGE", row.tkLanguage);
    env.set("LC_ALL", row.lcAll);
    env.set("LC_MESSAGES", row.lcMessages);
    env.set("LANG", row.lang);
    const std::string where = std::string("LANG=") + (row.lang != nullptr ? row.lang : "(unset)");
    EXPECT_EQ(ui::uiLanguage(), row.language) << where;
    EXPECT_EQ(ui::LoadStringUtf8("tri.DLL", kText), row.text) << where;
    EXPECT_EQ(ui::LoadStringUtf8("tri.dll", kMissingInBase), "only English") << where;  // any language at last
  }
}

TEST(Resources, StringsInEveryForm) {
  EnvScope env;
  env.set("TK_UI_LANGUAGE", "pl_PL");
  ui::ModuleResources m;
  m.moduleName = "Str.dll";
  m.languages = {strings(ui::kLangPolish, {{1, "Po\xC5\x82\xC4\x85" "czenie"}, {2, "Ger\xC3\xA4t"}})};
  const ui::ResourceRegistration module(std::move(m));
  EXPECT_EQ(ui::LoadStringW("str.dll", 1), u"Połączenie");
  EXPECT_EQ(ui::LoadStringA("str.dll", 1), "Po??czenie");  // beyond Windows-1252
  EXPECT_EQ(ui::LoadStringA("str.dll", 2), "Ger\xE4t");
  EXPECT_EQ(ui::LoadStringW("str.dll", 3), u"");
  EXPECT_EQ(ui::LoadStringW("other.dll", 1), u"");
  struct Row {
    int id;
    int size;
    int copied;
    const char* text;
  };
  const Row rows[] = {{2, 10, 5, "Ger\xE4t"}, {2, 4, 3, "Ger"}, {2, 1, 0, ""}, {3, 10, 0, ""}};
  for (const Row& row : rows) {
    char buffer[10] = "xxxxxxxxx";
    EXPECT_EQ(ui::LoadStringA("STR.DLL", row.id, buffer, row.size), row.copied) << row.size;
    EXPECT_STREQ(buffer, row.text) << row.size;
  }
  EXPECT_EQ(ui::LoadStringA("str.dll", 2, nullptr, 10), 0);
}

TEST(Resources, LaterRegistrationHidesAndUnregisteringRestores) {
  EnvScope env;
  env.set("TK_UI_LANGUAGE", "en_US");
  ui::ModuleResources first;
  first.moduleName = "Layer.dll";
  first.languages = {strings(ui::kLangEnglishUs, {{1, "first"}})};
  ui::ModuleResources second = first;
  second.languages = {strings(ui::kLangEnglishUs, {{1, "second"}})};
  const ui::ResourceRegistration a(std::move(first));
  {
    const ui::ResourceRegistration b(std::move(second));
    EXPECT_EQ(ui::LoadStringUtf8("layer.dll", 1), "second");
  }
  EXPECT_EQ(ui::LoadStringUtf8("layer.dll", 1), "first");
  EXPECT_TRUE(ui::HasResources("LAYER.DLL"));
  EXPECT_FALSE(ui::HasResources("layer"));
}

TEST(Resources, RegisteringWhileAnotherThreadLooksUp) {
  EnvScope env;
  env.set("TK_UI_LANGUAGE", "en_US");
  std::atomic<bool> done{false};
  std::atomic<int> seen{0};
  std::thread reader([&] {
    while (!done) {
      if (ui::LoadStringUtf8("churn.dll", 1) == "x") ++seen;
      (void)ui::FindIcon("churn.dll", 1);
    }
  });
  for (int i = 0; i < 300; ++i) {
    ui::ModuleResources m;
    m.moduleName = "Churn.dll";
    m.languages = {strings(ui::kLangEnglishUs, {{1, "x"}})};
    m.icons = {{1, ui::pictureFromRows({"ab"}, {{'a', 0xFF000000}})}};
    const ui::ResourceRegistration r(std::move(m));
    EXPECT_EQ(ui::LoadStringUtf8("churn.dll", 1), "x");
  }
  done = true;
  reader.join();
  EXPECT_FALSE(ui::HasResources("churn.dll"));
}

TEST(Resources, PictureFromRows) {
  const ui::Picture p = ui::pictureFromRows({"ab.", "b", ""}, {{'a', 0xFFFF0000}, {'b', 0x800000FF}});
  EXPECT_EQ(p.width, 3);
  EXPECT_EQ(p.height, 3);
  const std::vector<uint32_t> expected = {0xFFFF0000, 0x800000FF, 0, 0x800000FF, 0, 0, 0, 0, 0};
  EXPECT_EQ(p.pixels, expected);
  EXPECT_EQ(ui::pictureFromRows({}, {}).pixels.size(), 0u);
}

}  // namespace

namespace {

constexpr int kDialog = 100, kTitle = 10, kPolish = 11, kIcon = 12, kBitmap = 13, kClip = 14, kOpaqueClip = 15,
              kClipId = 5, kPollTimer = 3;
constexpr uint32_t kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kGreen = 0xFF00FF00;


ui::ModuleResources dialogModule() {
  using K = ui::ControlKind;
  ui::DialogTemplate t;
  t.id = kDialog;
  t.name = "resource-dialog";
  t.caption = "Ger\xC3\xA4tesoftware";
  t.rect = {0, 0, 200, 100};
  t.controls = {ui::makeControl(kTitle, K::Static, "Ger\xC3\xA4tesoftware", {40, 5, 100, 8}, 0),
                ui::makeControl(kPolish, K::Static, "Po\xC5\x82\xC4\x85" "czenie", {40, 15, 100, 8}, 0),
                ui::makeControl(kIcon, K::Image, "", {5, 5, 20, 20}, 0, 1),
                ui::makeControl(kBitmap, K::Image, "", {5, 30, 20, 20}, ui::kImageBitmap, 2),
                ui::makeControl(kClip, K::Animation, "", {40, 30, 40, 30}, ui::kAnimCenter | ui::kAnimTransparent),
                ui::makeControl(kOpaqueClip, K::Animation, "", {90, 30, 40, 30}, ui::kAnimAutoPlay),
                ui::makeControl(ui::kIdOk, K::DefPushButton, "OK", {140, 80, 50, 14}, ui::kCtlTabStop)};
  ui::LanguageResources german;
  german.language = ui::kLangGerman;
  german.dialogs = {t};
  ui::ModuleResources m;
  m.moduleName = "Res.dll";
  m.baseLanguage = ui::kLangGerman;
  m.languages = {german};
  m.icons = {{1, ui::pictureFromRows({"rrrr", "rrrr", "rrrr", "rrrr"}, {{'r', kRed}})}};
  m.bitmaps = {{2, ui::pictureFromRows({"bbb", "bbb"}, {{'b', kBlue}})}};
  ui::Animation clip;
  clip.frameMs = 10;
  for (char c : {'r', 'b', 'g'}) {
    clip.frames.push_back(
        ui::pictureFromRows({std::string(1, c) + ".", ".."}, {{'r', kRed}, {'b', kBlue}, {'g', kGreen}}));
  }
  m.animations = {{kClipId, clip}};
  return m;
}

uint32_t pixelAt(const ui::Picture& p, int x, int y) {
  if (x < 0 || y < 0 || x >= p.width || y >= p.height) return 0;
  return p.pixels[static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x)];
}

uint32_t argbOf(ui::ColorRef c) {
  return 0xFF000000u | (uint32_t{ui::redOf(c)} << 16) | (uint32_t{ui::greenOf(c)} << 8) | ui::blueOf(c);
}

bool g_clipEnded = false;

// Plays the transparent clip once and ends the dialog with 7 when it stopped on its last frame.
intptr_t resourceProc(WindowHandle dlg, uint32_t message, platform::WParam wParam, platform::LParam) {
  if (message == platform::kWmTimer && wParam == kPollTimer &&
      !ui::testing::IsAnimationPlaying(ui::GetDlgItem(dlg, kClip))) {
    g_clipEnded = ui::testing::AnimationFrame(ui::GetDlgItem(dlg, kClip)) == 2;
    EXPECT_EQ(ui::SendDlgItemMessage(dlg, kClip, ui::kAcmOpen, 0, 0), 1);  // closes
    EXPECT_EQ(ui::testing::AnimationFrame(ui::GetDlgItem(dlg, kClip)), -1);
    ui::EndDialog(dlg, 7);
  }
  return message == ui::kWmInitDialog ? 1 : 0;
}

class ResourceDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ui::testing::SetDialogTimeout(10000);
    env_.set("TK_UI_LANGUAGE", "de_DE");
  }
  EnvScope env_;
};

TEST_F(ResourceDialogTest, Utf8TextsPicturesAndClips) {
  const ui::ResourceRegistration module(dialogModule());
  const std::string dir = tktest::currentRoot();
  g_clipEnded = false;
  ui::testing::OnNextDialog([&](WindowHandle dlg) {
    EXPECT_EQ(ui::GetDlgItemTextW(dlg, kTitle), u"Gerätesoftware");
    EXPECT_EQ(ui::GetDlgItemTextW(dlg, kPolish), u"Połączenie");
    EXPECT_EQ(ui::GetWindowText(dlg), "Ger\xE4tesoftware");
    EXPECT_TRUE(ui::SetWindowTextW(dlg, u"Połączenie"));
    EXPECT_EQ(ui::GetWindowTextW(dlg), u"Połączenie");
    const WindowHandle clip = ui::GetDlgItem(dlg, kClip);
    const WindowHandle opaque = ui::GetDlgItem(dlg, kOpaqueClip);
    EXPECT_EQ(ui::testing::AnimationFrame(clip), -1);
    EXPECT_EQ(ui::SendMessage(clip, ui::kAcmOpen, 0, kClipId), 1);
    EXPECT_FALSE(ui::testing::IsAnimationPlaying(clip));  // no auto-play
    EXPECT_EQ(ui::SendMessage(opaque, ui::kAcmOpen, 0, kClipId), 1);
    EXPECT_TRUE(ui::testing::IsAnimationPlaying(opaque));
    EXPECT_EQ(ui::SendMessage(opaque, ui::kAcmStop, 0, 0), 1);
    EXPECT_FALSE(ui::testing::IsAnimationPlaying(opaque));
    EXPECT_EQ(ui::SendMessage(opaque, ui::kAcmPlay, 1, platform::LParam{3}), 0);  // no frame 3
    EXPECT_EQ(ui::SendMessage(opaque, ui::kAcmOpen, 0, 99), 0);                   // no such clip
    EXPECT_EQ(ui::SendMessage(opaque, ui::kAcmOpen, 0, kClipId), 1);
    ui::SendMessage(opaque, ui::kAcmStop, 0, 0);
    // Pictures: the icon and bitmap at their size; the first frame of each
    // clip, its transparent pixels on the dialog or on the window colour.
    const ui::Rect icon = ui::GetControlRect(ui::GetDlgItem(dlg, kIcon));
    const ui::Rect bitmap = ui::GetControlRect(ui::GetDlgItem(dlg, kBitmap));
    EXPECT_EQ(icon.cx, 4);
    EXPECT_EQ(bitmap.cx, 3);
    const ui::Rect c = ui::GetControlRect(clip);
    const ui::Rect o = ui::GetControlRect(opaque);
    ASSERT_TRUE(ui::GrabDialog(dlg, dir + "/resource-dialog.png"));
    const ui::Picture shot = ui::testing::ReadPng(dir + "/resource-dialog.png");
    EXPECT_EQ(pixelAt(shot, icon.x + 1, icon.y + 1), kRed);
    EXPECT_EQ(pixelAt(shot, bitmap.x + 2, bitmap.y + 1), kBlue);
    const int cx = c.x + (c.cx - 2) / 2, cy = c.y + (c.cy - 2) / 2;
    EXPECT_EQ(pixelAt(shot, cx, cy), kRed);
    EXPECT_EQ(pixelAt(shot, cx + 1, cy), pixelAt(shot, c.x - 1, c.y));  // the dialog shows through
    EXPECT_EQ(pixelAt(shot, o.x, o.y), kRed);
    EXPECT_EQ(pixelAt(shot, o.x + 1, o.y), argbOf(ui::GetSysColor(ui::kColorWindow)));
    // Played once through its three frames by the timer.
    EXPECT_EQ(ui::SendMessage(clip, ui::kAcmPlay, 1, static_cast<platform::LParam>(0xFFFF0000)), 1);
    EXPECT_TRUE(ui::testing::IsAnimationPlaying(clip));
    ui::SetTimer(dlg, kPollTimer, 10);
  });
  EXPECT_EQ(ui::DialogBoxParam("res.DLL", kDialog, nullptr, resourceProc, 0), 7);
  EXPECT_TRUE(g_clipEnded);
  EXPECT_EQ(ui::DialogBoxParam("res.dll", kDialog + 1, nullptr, resourceProc, 0), -1);
  EXPECT_EQ(ui::DialogBoxParam("none.dll", kDialog, nullptr, resourceProc, 0), -1);
}

TEST_F(ResourceDialogTest, MessageBoxWithUtf16Texts) {
  ui::testing::OnNextDialog([](WindowHandle box) {
    EXPECT_EQ(ui::GetWindowText(box), "Ger\xE4t");
    EXPECT_EQ(ui::GetDlgItemTextW(box, 0xFFFF), u"Połączenie?");
    ui::testing::Click(ui::GetDlgItem(box, ui::kIdNo));
  });
  EXPECT_EQ(ui::MessageBoxW(nullptr, u"Połączenie?", u"Gerät", ui::kMbYesNo | ui::kMbIconQuestion), ui::kIdNo);
}

}  // namespace
