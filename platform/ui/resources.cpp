// Module resources (see resources.h): a registry of what modules register,
// the choice of the user-interface language, and the loaders.
//
// In: ModuleResources from static ResourceRegistration objects of modules
// (any thread, any moment of static construction or destruction, dlopen and
// dlclose). Out: templates, strings, pictures and clips by module name and id.
//
// The registry is made on first use and never destroyed, so a module's static
// registration may end after every other static object of the process has
// gone. Each registration copies its resources, so nothing points into a
// module's data after it is unloaded. One mutex guards the list; what the
// finders return lives in the registration's copy and stays valid while the
// registration lasts.
#include "platform/ui/resources.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/codepage.h"

namespace platform::ui {
#if defined(_WIN32)
namespace win32 {
LangId userUiLanguage();  // GetUserDefaultUILanguage (platform/ui/win32/)
}
#endif

namespace {

struct Registry {
  std::mutex lock;
  std::vector<const ModuleResources*> modules;  // newest last
};

Registry& registry() {
  static Registry* instance = new Registry;  // never destroyed: see the note above
  return *instance;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The newest registration of the module; the caller holds the registry's lock.
const ModuleResources* findModule(std::string_view moduleName) {
  const auto& modules = registry().modules;
  for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
    if (sameName((*it)->moduleName, moduleName)) return *it;
  }
  return nullptr;
}

// The module's languages in the order lookups try them: the user-interface
// language, one with the same primary language (its default sublanguage
// first), the base language, then the rest as listed (as Windows falls back to
// any language a resource has).
std::vector<const LanguageResources*> languageOrder(const ModuleResources& module, LangId ui) {
  std::vector<const LanguageResources*> order;
  auto add = [&order](const LanguageResources* l) {
    if (l != nullptr && std::find(order.begin(), order.end(), l) == order.end()) order.push_back(l);
  };
  auto exact = [&module](LangId id) -> const LanguageResources* {
    for (const LanguageResources& l : module.languages) {
      if (l.language == id) return &l;
    }
    return nullptr;
  };
  add(exact(ui));
  add(exact(static_cast<LangId>((1 << 10) | primaryLanguage(ui))));
  for (const LanguageResources& l : module.languages) {
    if (primaryLanguage(l.language) == primaryLanguage(ui)) add(&l);
  }
  add(exact(module.baseLanguage));
  for (const LanguageResources& l : module.languages) add(&l);
  return order;
}

template <typename T>
const T* byId(const std::vector<std::pair<int, T>>& items, int id) {
  for (const auto& [itemId, value] : items) {
    if (itemId == id) return &value;
  }
  return nullptr;
}

std::string findString(std::string_view moduleName, int stringId) {
  const LangId ui = uiLanguage();
  std::lock_guard<std::mutex> lock(registry().lock);
  const ModuleResources* module = findModule(moduleName);
  if (module == nullptr) return {};
  for (const LanguageResources* l : languageOrder(*module, ui)) {
    if (const std::string* text = byId(l->strings, stringId)) return *text;
  }
  return {};
}

// Locale names: language and territory to Windows language ids; the first
// row of a language is the one a name without (or with an unknown) territory gets.
struct LocaleRow {
  const char* language;
  const char* territory;
  LangId id;
};
constexpr LocaleRow kLocales[] = {
    {"de", "DE", 0x0407}, {"de", "CH", 0x0807}, {"de", "AT", 0x0C07}, {"de", "LU", 0x1007},
    {"de", "LI", 0x1407}, {"en", "US", 0x0409}, {"en", "GB", 0x0809}, {"en", "AU", 0x0C09},
    {"en", "CA", 0x1009}, {"en", "NZ", 0x1409}, {"en", "IE", 0x1809}, {"fr", "FR", 0x040C},
    {"fr", "BE", 0x080C}, {"fr", "CA", 0x0C0C}, {"fr", "CH", 0x100C}, {"fr", "LU", 0x140C},
    {"nl", "NL", 0x0413}, {"nl", "BE", 0x0813}, {"pl", "PL", 0x0415}, {"pt", "PT", 0x0816},
    {"pt", "BR", 0x0416}, {"es", "ES", 0x0C0A}, {"es", "MX", 0x080A}, {"it", "IT", 0x0410},
    {"it", "CH", 0x0810}, {"da", "DK", 0x0406}, {"sv", "SE", 0x041D}, {"cs", "CZ", 0x0405},
};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return out;
}

// "0x0407" as a LANGID; 0 when it is not one.
LangId parseLangId(std::string_view text) {
  if (text.size() < 3 || text.size() > 6 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return 0;
  uint32_t value = 0;
  for (char ch : text.substr(2)) {
    const int digit = std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0'
                      : (ch >= 'a' && ch <= 'f')                   ? ch - 'a' + 10
                      : (ch >= 'A' && ch <= 'F')                   ? ch - 'A' + 10
                                                                   : -1;
    if (digit < 0) return 0;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return static_cast<LangId>(value);
}

const char* nonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

LangId languageFromLocaleName(std::string_view name) {
  // language[_territory][.codeset][@modifier], '-' accepted for '_'.
  name = name.substr(0, std::min(name.find('.'), name.find('@')));
  const size_t sep = name.find_first_of("_-");
  const std::string language = lower(name.substr(0, sep));
  const std::string territory = sep == std::string_view::npos ? std::string() : lower(name.substr(sep + 1));
  LangId fallback = 0;
  for (const LocaleRow& row : kLocales) {
    if (language != row.language) continue;
    if (fallback == 0) fallback = row.id;
    if (territory == lower(row.territory)) return row.id;
  }
  return fallback;
}

LangId uiLanguage() {
  if (const char* chosen = nonEmptyEnv("TK_UI_LANGUAGE")) {
    if (LangId id = parseLangId(chosen); id != 0) return id;
    if (LangId id = languageFromLocaleName(chosen); id != 0) return id;
  }
  // The first of these that is set decides, as for the C library's messages.
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* locale = nonEmptyEnv(variable)) {
      const LangId id = languageFromLocaleName(locale);
      return id != 0 ? id : kLangEnglishUs;
    }
  }
#if defined(_WIN32)
  // Windows sets none of these: the user's user-interface language decides.
  if (const LangId id = win32::userUiLanguage(); id != 0) return id;
#endif
  return kLangEnglishUs;
}

Picture pictureFromRows(const std::vector<std::string>& rows, const std::vector<std::pair<char, uint32_t>>& palette) {
  Picture picture;
  picture.height = static_cast<int>(rows.size());
  for (const std::string& row : rows) picture.width = std::max(picture.width, static_cast<int>(row.size()));
  picture.pixels.assign(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height), 0);
  for (size_t y = 0; y < rows.size(); ++y) {
    for (size_t x = 0; x < rows[y].size(); ++x) {
      for (const auto& [ch, colour] : palette) {
        if (ch == rows[y][x]) {
          picture.pixels[y * static_cast<size_t>(picture.width) + x] = colour;
          break;
        }
      }
    }
  }
  return picture;
}

ResourceRegistration::ResourceRegistration(ModuleResources resources)
    : entry_(new ModuleResources(std::move(resources))) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.lock);
  r.modules.push_back(static_cast<const ModuleResources*>(entry_));
}

ResourceRegistration::~ResourceRegistration() {
  const auto* mine = static_cast<const ModuleResources*>(entry_);
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.lock);
    r.modules.erase(std::remove(r.modules.begin(), r.modules.end(), mine), r.modules.end());
  }
  delete mine;
}

bool HasResources(std::string_view moduleName) {
  std::lock_guard<std::mutex> lock(registry().lock);
  return findModule(moduleName) != nullptr;
}

const DialogTemplate* FindDialog(std::string_view moduleName, int dialogId) {
  const LangId ui = uiLanguage();
  std::lock_guard<std::mutex> lock(registry().lock);
  const ModuleResources* module = findModule(moduleName);
  if (module == nullptr) return nullptr;
  for (const LanguageResources* l : languageOrder(*module, ui)) {
    for (const DialogTemplate& t : l->dialogs) {
      if (t.id == dialogId) return &t;
    }
  }
  return nullptr;
}

intptr_t DialogBoxParam(std::string_view moduleName, int dialogId, WindowHandle owner, DialogProc proc,
                        LParam initParam) {
  const DialogTemplate* found = FindDialog(moduleName, dialogId);
  if (found == nullptr) return -1;
  DialogTemplate t = *found;  // the dialog runs on its own copy
  t.utf8Texts = true;
  t.module = std::string(moduleName);
  return DialogBoxIndirectParam(t, owner, proc, initParam);
}

std::u16string LoadStringW(std::string_view moduleName, int stringId) {
  return utf8ToWide(findString(moduleName, stringId));
}

std::string LoadStringA(std::string_view moduleName, int stringId) {
  return utf8ToAnsi(findString(moduleName, stringId));
}

std::string LoadStringUtf8(std::string_view moduleName, int stringId) { return findString(moduleName, stringId); }

int LoadStringA(std::string_view moduleName, int stringId, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  const std::string text = LoadStringA(moduleName, stringId);
  const size_t count = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<int>(count);
}

const Picture* FindIcon(std::string_view moduleName, int iconId) {
  std::lock_guard<std::mutex> lock(registry().lock);
  const ModuleResources* module = findModule(moduleName);
  return module != nullptr ? byId(module->icons, iconId) : nullptr;
}

const Picture* FindBitmap(std::string_view moduleName, int bitmapId) {
  std::lock_guard<std::mutex> lock(registry().lock);
  const ModuleResources* module = findModule(moduleName);
  return module != nullptr ? byId(module->bitmaps, bitmapId) : nullptr;
}

const Animation* FindAnimation(std::string_view moduleName, int animationId) {
  std::lock_guard<std::mutex> lock(registry().lock);
  const ModuleResources* module = findModule(moduleName);
  return module != nullptr ? byId(module->animations, animationId) : nullptr;
}

}  // namespace platform::ui
