// The resources of VNL2U32: the link connection dialog (101), its icon (107)
// and strings 1 to 3, in German (the base language), English (United States),
// French, Dutch, Polish, Portuguese (Portugal) and Spanish. Every language
// has the same layout; the Polish and Spanish combo boxes keep their choices
// sorted. Texts are UTF-8.
#include <utility>

#include "ui/link/vnl2u32_dialog.h"

namespace ui::link {

namespace {

namespace pui = platform::ui;

// The texts of one language.
struct LanguageTexts {
  pui::LangId language;
  const char* caption;
  const char* group;
  const char* label;
  const char* cancel;
  const char* title;
  const char* subtitle;
  bool sortedCombo;
  const char* inUse;     // string 1: another program has the dialog open
  const char* boxTitle;  // string 2: caption of the message boxes
  const char* missing;   // string 3: gwprobe.dll or its export is missing
};

const LanguageTexts kLanguages[] = {
    {pui::kLangGerman, "Anschlusskonfiguration", "Anschlusskonfiguration", "Anschluss :", "Abbrechen",
     "Ondra Tk-Anlagen", "Varnet Layer II Konfiguration", false,
     "Die Varnet Konfiguration wird gerade von einem anderen Programm benutzt. ", "Varnet Konfiguration",
     "Fehler ! Eine erforderliche Programmkomponente kann nicht gefunden werden.\nInstallieren Sie die Software "
     "erneut !"},
    {pui::kLangEnglishUs, "Varnet Configuration", "Connection configuration", "Connection :", "Cancel", "Ondra PBX",
     "Varnet Layer II Configuration", false,
     "The Varnet Konfiguration is in use by another Programm.\nTry again later. ", "Varnet Configuration",
     "Error ! A required Softwarecomponent is missing.\nPlease reinstall the Software package  !"},
    {pui::kLangFrench, "Configuration de la connexion", "Configuration de la connexion", "Connexion :", "Annuler",
     "PABX Ondra", "Configuration Varnet Layer II", false,
     "La configuration Varnet est en cours d'utilisation par un autre programme. ", "Configuration Varnet",
     "Erreur ! Un composant logiciel requis est introuvable.\nVeuillez réinstaller le logiciel !"},
    {pui::kLangDutch, "Verbindingsconfiguratie", "Verbindingsconfiguratie", "Verbinding :", "Annuleren",
     "Ondra-centrales", "Varnet Layer II-configuratie", false,
     "De Varnet-configuratie wordt momenteel door een ander programma gebruikt. ", "Varnet-configuratie",
     "Fout! Een vereist programmaonderdeel kan niet worden gevonden.\nInstalleer de software opnieuw!"},
    {pui::kLangPolish, "Konfiguracja połączenia", "Konfiguracja połączenia", "Połączenie :", "Anuluj", "Centrale Ondra",
     "Konfiguracja Varnet Layer II", true, "Konfiguracja Varnet jest obecnie używana przez inny program. ",
     "Konfiguracja Varnet",
     "Błąd! Nie można znaleźć wymaganego składnika programu.\nZainstaluj oprogramowanie ponownie!"},
    {pui::kLangPortuguese, "Configuração da ligação", "Configuração da ligação", "Ligação :", "Cancelar",
     "Centrais Ondra", "Configuração do Varnet Layer II", false,
     "A configuração Varnet está a ser utilizada por outro programa. ", "Configuração Varnet",
     "Erro! Não foi possível encontrar um componente necessário do programa.\nVolte a instalar o software!"},
    {pui::kLangSpanish, "Configuración de la conexión", "Configuración de la conexión", "Conexión :", "Cancelar",
     "Centralitas Ondra", "Configuración de Varnet Layer II", true,
     "La configuración de Varnet está siendo utilizada por otro programa. ", "Configuración de Varnet",
     "¡Error! No se encuentra un componente necesario del programa.\n¡Vuelva a instalar el software!"},
};


pui::DialogTemplate linkDialog(const LanguageTexts& t) {
  using K = pui::ControlKind;
  pui::DialogTemplate d;
  d.id = kLinkDialogId;
  d.name = "vnl2u32-link";
  d.caption = t.caption;
  d.rect = {0, 0, 194, 106};
  d.style = pui::kDlgModalPopup;
  const uint32_t comboStyle = pui::kCtlTabStop | pui::kListVScroll | (t.sortedCombo ? pui::kListSort : 0);
  pui::ControlTemplate icon = pui::makeControl(-1, K::Image, "", {13, 8, 20, 20}, 0);
  icon.imageId = kLinkIconId;
  d.controls = {
      pui::makeControl(pui::kIdOk, K::DefPushButton, "OK", {135, 55, 50, 14}, pui::kCtlTabStop | pui::kCtlGroup),
      pui::makeControl(-1, K::GroupBox, t.group, {5, 50, 120, 45}, 0),
      pui::makeControl(-1, K::Static, t.label, {15, 73, 40, 7}, 0),
      pui::makeControl(kLinkComboId, K::ComboDropDown, "", {59, 71, 54, 45}, comboStyle),
      pui::makeControl(pui::kIdCancel, K::PushButton, t.cancel, {135, 75, 50, 14}, pui::kCtlTabStop),
      pui::makeControl(-1, K::Static, t.title, {70, 10, 62, 10}, pui::kStaticCenter),
      pui::makeControl(-1, K::Static, "", {45, 20, 113, 1}, pui::kStaticEtchedLine),
      pui::makeControl(-1, K::Static, t.subtitle, {41, 24, 121, 16}, pui::kStaticCenter),
      icon,
  };
  return d;
}

// A desk telephone with a dial, 32 x 32.
pui::Picture linkIcon() {
  // clang-format off
  return pui::pictureFromRows({
      "................................",
      "................................",
      "................................",
      ".....KKKKKKKKKKKKKKKKKKKKKK.....",
      "...KKRrrrrrrrrrrrrrrrrrrrrRKK...",
      "..KRRRRRRRRRRRRRRRRRRRRRRRRRRK..",
      "..KRRRRRRRRRRRRRRRRRRRRRRRRRRK..",
      "..KRRRRRRRRRRRRRRRRRRRRRRRRRRK..",
      "..KRRRRRRKKKKKKKKKKKKKKRRRRRRK..",
      "..KRRRRRRK..KKKKKKKK..KRRRRRRK..",
      "..KRRRRRRK.KRRRRRRRRK.KRRRRRRK..",
      "...KKKKKKKKKRRRRRRRRKKKKKKKKK...",
      ".......KRRRRRRRRRRRRRRRRK.......",
      ".......KRRRRRRWWWWRRRRRRK.......",
      ".......KRRRRWWWWWWWWRRRRK.......",
      "......KRRRRWWWWGWGWWWRRRRK......",
      "......KRRRRWGWWWWWWGWRRRRK......",
      ".....KRRRRWWWWRRRRWWWWRRRRK.....",
      ".....KRRRRWWWWRRRRWWWWRRRRK.....",
      "....KRRRRRWWWRRRRRRWGWRRRRRK....",
      "....KRRRRRWWWWRRRRWWWWRRRRRK....",
      "...KRRRRRRWWWWRRRRWGWWRRRRRRK...",
      "...KRRRRRRRWWGWWWWWWWRRRRRRRK...",
      "..KRRRRRRRRWWWWGWWGWWRRRRRRRRK..",
      "..KRRRRRRRRRWWWWWWWWRRRRRRRRRK..",
      ".KRRRRRRRRRRRRWWWWRRRRRRRRRRRRK.",
      ".KddddddddddddddddddddddddddddK.",
      "KddddddddddddddddddddddddddddddK",
      ".KKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.",
      "................................",
      "................................",
      "................................",
  }, {{'K', 0xFF202020}, {'R', 0xFFB8282E}, {'r', 0xFFE8747A}, {'d', 0xFF7A1418}, {'W', 0xFFF2F2F2},
      {'G', 0xFF505050}});
  // clang-format on
}

}  // namespace

platform::ui::ModuleResources Vnl2u32Resources() {
  pui::ModuleResources module;
  module.moduleName = kVnl2u32ModuleName;
  module.baseLanguage = pui::kLangGerman;
  for (const LanguageTexts& t : kLanguages) {
    pui::LanguageResources l;
    l.language = t.language;
    l.dialogs.push_back(linkDialog(t));
    l.strings = {{kStringInUse, t.inUse}, {kStringBoxTitle, t.boxTitle}, {kStringMissingComponent, t.missing}};
    module.languages.push_back(std::move(l));
  }
  module.icons.emplace_back(kLinkIconId, linkIcon());
  return module;
}

}  // namespace ui::link
