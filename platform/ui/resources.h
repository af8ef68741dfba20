#pragma once
// Resources of a module: dialog templates, string tables, pictures (icons
// and bitmaps) and animation clips, per language, as a Windows module carries
// them in its resource section. A module describes its resources as data and
// registers them under its Windows-style module name ("VNL2U32.Dll") for as
// long as it is loaded (a static ResourceRegistration in the module); code
// then loads them by module name and id, as it would with the module handle
// on Windows.
//
// Language: lookups take the user-interface language (uiLanguage()), then a
// language of the module with the same primary language (English (United
// Kingdom) for English (United States)), then the module's base language.
// Pictures and clips belong to no language.
//
// Texts in resources are UTF-8 (a Polish or Portuguese text needs more than
// the ANSI code page); the dialogs show them as written, LoadStringW gives
// them as UTF-16 and LoadStringA in the ANSI code page (Windows-1252, '?'
// for what it cannot hold).
//
// Threads: registration and lookups may come from any thread.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/dialog_template.h"

namespace platform::ui {

// Windows language ids (LANGID).
using LangId = uint16_t;
constexpr LangId kLangGerman = 0x0407;
constexpr LangId kLangEnglishUs = 0x0409;
constexpr LangId kLangEnglishUk = 0x0809;
constexpr LangId kLangFrench = 0x040C;
constexpr LangId kLangDutch = 0x0413;
constexpr LangId kLangPolish = 0x0415;
constexpr LangId kLangPortuguese = 0x0816;  // Portugal
constexpr LangId kLangSpanish = 0x0C0A;     // Spain, modern sort
constexpr LangId primaryLanguage(LangId language) { return static_cast<LangId>(language & 0x3FF); }

// The user-interface language: TK_UI_LANGUAGE when set (a locale name such as
// "de_DE", or a LANGID such as "0x0407"), else the locale of LC_ALL,
// LC_MESSAGES or LANG ("fr_FR.UTF-8" is French); English (United States)
// for "C", "POSIX", an unset locale or one that names no known language.
// On Windows, where none of these is set, the user's user-interface
// language (GetUserDefaultUILanguage).
LangId uiLanguage();
// The language a locale name stands for; 0 when it names none we know.
LangId languageFromLocaleName(std::string_view localeName);

// A picture: width x height pixels, row by row, 0xAARRGGBB.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};
// A small picture written as text: one string per row, one character per
// pixel, each character looked up in the palette (a character the palette
// lacks is transparent). Rows of unequal length are padded transparent.
Picture pictureFromRows(const std::vector<std::string>& rows,
                        const std::vector<std::pair<char, uint32_t>>& palette);

// An animation clip: frames shown in turn, each for frameMs, repeated.
struct Animation {
  std::vector<Picture> frames;
  uint32_t frameMs = 100;
};

struct LanguageResources {
  LangId language = kLangEnglishUs;
  std::vector<DialogTemplate> dialogs;             // by DialogTemplate::id
  std::vector<std::pair<int, std::string>> strings;  // string table: id, UTF-8 text
};

struct ModuleResources {
  std::string moduleName;  // Windows-style, matched case-insensitively ("gwprobe.dll")
  LangId baseLanguage = kLangEnglishUs;
  std::vector<LanguageResources> languages;
  std::vector<std::pair<int, Picture>> icons;
  std::vector<std::pair<int, Picture>> bitmaps;
  std::vector<std::pair<int, Animation>> animations;
};

// Registers the resources for the lifetime of this object; a second
// registration under the same name hides the first until it ends.
class ResourceRegistration {
 public:
  explicit ResourceRegistration(ModuleResources resources);
  ~ResourceRegistration();
  ResourceRegistration(const ResourceRegistration&) = delete;
  ResourceRegistration& operator=(const ResourceRegistration&) = delete;

 private:
  const void* entry_;
};

// True while a module of that name has registered resources.
bool HasResources(std::string_view moduleName);

// The dialog template in the best language; nullptr when the module or the
// dialog is missing. The returned template stays valid while the module's
// resources are registered.
const DialogTemplate* FindDialog(std::string_view moduleName, int dialogId);

// Runs a dialog of a module's resources modally, as DialogBoxIndirectParam;
// -1 when the module or the dialog is missing. Icons, bitmaps and clips its
// controls name come from the same module.
intptr_t DialogBoxParam(std::string_view moduleName, int dialogId, WindowHandle owner, DialogProc proc,
                        LParam initParam);

// A string of the module's string table in the best language; empty when missing.
std::u16string LoadStringW(std::string_view moduleName, int stringId);
std::string LoadStringA(std::string_view moduleName, int stringId);  // Windows-1252
std::string LoadStringUtf8(std::string_view moduleName, int stringId);
// Windows' LoadStringA into a buffer: copies at most size - 1 characters and
// a terminating zero; returns the characters copied, 0 when missing.
int LoadStringA(std::string_view moduleName, int stringId, char* buffer, int size);

// Pictures and clips of a module; nullptr when missing.
const Picture* FindIcon(std::string_view moduleName, int iconId);
const Picture* FindBitmap(std::string_view moduleName, int bitmapId);
const Animation* FindAnimation(std::string_view moduleName, int animationId);

// A message box with UTF-16 texts (for resource strings beyond the ANSI code page).
int MessageBoxW(WindowHandle owner, std::u16string_view text, std::u16string_view caption, uint32_t style);

}  // namespace platform::ui
