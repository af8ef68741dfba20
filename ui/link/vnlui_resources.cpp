#include "ui/link/vnlui_resources.h"

#include "ui/link/firmware_check.h"

namespace ui::link {

platform::ui::ModuleResources VnluiResources() {
  using platform::ui::LanguageResources;
  platform::ui::ModuleResources resources;
  resources.moduleName = kVnluiModuleName;
  resources.baseLanguage = platform::ui::kLangGerman;

  LanguageResources german;
  german.language = platform::ui::kLangGerman;
  german.strings = {
      {kTextIncompatibleFirmware,
       "Ihre Gerätesoftware ist nicht kompatibel zu dieser Version. Prüfen Sie ob eine neue Firmware verfügbar ist."},
      {kTextMissingDll, "Fehlende DLL!"},
      {kTextError, "Fehler"},
  };
  LanguageResources english;
  english.language = platform::ui::kLangEnglishUs;
  english.strings = {
      {kTextIncompatibleFirmware,
       "Incompatible Firmwareversion. Please check for a new Version with Support for TAPI Release 3."},
      {kTextMissingDll, "Missing DLL!"},
      {kTextError, "Error"},
  };
  LanguageResources french;
  french.language = platform::ui::kLangFrench;
  french.strings = {
      {kTextIncompatibleFirmware,
       "Incompatible version du micrologiciel. S'il vous plaît vérifier une nouvelle version avec le support "
       "pour TAPI Release 3."},
      {kTextMissingDll, "DLL manquante!"},
      {kTextError, "Erreur"},
  };
  resources.languages.push_back(std::move(german));
  resources.languages.push_back(std::move(english));
  resources.languages.push_back(std::move(french));
  return resources;
}

}  // namespace ui::link
