// KVARUI's resources: dialog 101, the German string table and the check-list
// box's bitmaps, under the module name "KVARUI.DLL".
#include <string>
#include <utility>

#include "ui/provider/check_list_box.h"
#include "ui/provider/kvarui_dialog.h"

namespace ui::provider {

namespace {

namespace pui = platform::ui;
using pui::ControlKind;

void add(pui::DialogTemplate& t, int id, ControlKind kind, const char* text, int x, int y, int cx, int cy,
         uint32_t style = 0) {
  t.controls.push_back(pui::makeControl(id, kind, text, pui::Rect{x, y, cx, cy}, style));
}

pui::DialogTemplate configDialog() {
  pui::DialogTemplate t;
  t.id = kConfigDialogId;
  t.name = "kvarui-config";
  t.caption = "%s Konfiguration";
  t.rect = pui::Rect{20, 15, 348, 294};
  t.style = pui::kDlgModalPopup;
  t.utf8Texts = true;
  constexpr uint32_t tab = pui::kCtlTabStop;
  add(t, -1, ControlKind::Static, "&Leitungsname:", 7, 7, 118, 8);
  add(t, kIdLineName, ControlKind::Edit, "", 7, 17, 104, 13, pui::kEditAutoScroll | pui::kCtlBorder | tab);
  add(t, -1, ControlKind::Static,
      "Auswahl der &Nebenstellen, die für Telefonie-\nanwendungen vorgesehen sind:", 7, 35, 167, 18);
  add(t, kIdExtensionList, ControlKind::ListBox, "", 7, 55, 104, 83,
      pui::kListNotify | pui::kListSort | pui::kListOwnerDrawFixed | pui::kListHasStrings |
          pui::kListNoIntegralHeight | pui::kListVScroll | pui::kCtlBorder | tab);
  add(t, kIdAll, ControlKind::PushButton, "&Alle", 7, 144, 39, 14, pui::kCtlGroup | tab);
  add(t, kIdNone, ControlKind::PushButton, "&Keine", 51, 144, 39, 14, tab);
  add(t, -1, ControlKind::Static, "", 119, 58, 154, 1, pui::kStaticEtchedLine);
  add(t, -1, ControlKind::Static, " Freisprechmodus ", 123, 54, 58, 8);
  add(t, -1, ControlKind::Static,
      "Falls die selektierte Nebenstelle mit einem Systemtelefon ausgestattet ist, können Sie hier festlegen, "
      "wie der Freisprechmodus benutzt werden soll:",
      120, 67, 153, 35);
  add(t, kIdHandsfreeApp, ControlKind::AutoRadioButton, "Freisprechen über Anwendung &steuern", 119, 104, 138, 10,
      pui::kCtlGroup | tab);
  add(t, kIdHandsfreeOn, ControlKind::AutoRadioButton, "Freisprechen &immer einschalten", 119, 116, 115, 10);
  add(t, kIdHandsfreeOff, ControlKind::AutoRadioButton, "Freisprechen i&mmer ausschalten", 119, 128, 117, 10);
  add(t, -1, ControlKind::Static, "&MSNs", 190, 15, 24, 8, pui::kCtlHidden);
  add(t, kIdMsnList, ControlKind::ListBox, "", 231, 7, 17, 32, pui::kListHasStrings | pui::kCtlHidden);
  add(t, kIdPrefixGroup, ControlKind::GroupBox, "Anpassung ankommender Rufnummern", 7, 166, 263, 90);
  add(t, kIdOutsideUse, ControlKind::CheckBox, "Amts&zugang ergänzen:", 15, 181, 85, 10, tab);
  add(t, kIdOutsidePrefix, ControlKind::Edit, "", 239, 180, 20, 13, pui::kCtlBorder | tab);
  add(t, kIdOutsideExample, ControlKind::Static, "(z.B. %s für <%s> (%s6182) 350)", 27, 192, 107, 8);
  add(t, kIdLongDistUse, ControlKind::CheckBox, "&Ortsvorwahlkennung bei inländischen Nummern ergänzen:", 15, 206,
      199, 10, tab);
  add(t, kIdLongDistPrefix, ControlKind::Edit, "", 239, 205, 20, 13, pui::kCtlBorder | tab);
  add(t, kIdLongDistExample, ControlKind::Static, "(z.B. %s für <%s>6182/350)", 27, 217, 107, 8);
  add(t, kIdIntlUse, ControlKind::CheckBox, "&Internationale Kennung bei Auslandsnummern ergänzen:", 15, 230, 193, 10,
      tab);
  add(t, kIdIntlPrefix, ControlKind::Edit, "", 239, 229, 20, 13, pui::kCtlBorder | tab);
  add(t, kIdIntlExample, ControlKind::Static, "(z.B. %s für <%s>49 (6182) 350)", 27, 241, 124, 8);
  add(t, kIdLogVnl, ControlKind::CheckBox, "&Varnet-Kommunikation aufzeichnen (KVARVNL.LOG)", 7, 264, 201, 10, tab);
  add(t, kIdLogTapi, ControlKind::CheckBox, "&TAPI-Protokoll aufzeichnen (KVARTAPI.LOG)", 7, 277, 158, 10, tab);
  add(t, pui::kIdOk, ControlKind::DefPushButton, "OK", 281, 7, 60, 14, tab);
  add(t, pui::kIdCancel, ControlKind::PushButton, "Abbrechen", 281, 24, 60, 14, tab);
  add(t, kIdInterface, ControlKind::PushButton, "&Schnittstelle...", 281, 55, 60, 14, tab);
  add(t, kIdRefresh, ControlKind::PushButton, "Akt&ualisieren", 281, 74, 60, 14, tab);
  add(t, kIdAdvanced, ControlKind::PushButton, "&Erweitert >>", 281, 144, 60, 14, tab);
  add(t, kIdVersion, ControlKind::Static, "", 290, 249, 51, 8, pui::kStaticRight);
  add(t, kIdSpare, ControlKind::Static, "", 288, 280, 53, 8, pui::kStaticRight);
  return t;
}

}  // namespace

platform::ui::ModuleResources KvaruiResources() {
  pui::ModuleResources r;
  r.moduleName = kModuleName;
  r.baseLanguage = pui::kLangGerman;
  pui::LanguageResources de;
  de.language = pui::kLangGerman;
  de.dialogs.push_back(configDialog());
  const std::string component = "Eine vom Treiber benötigte Komponente (%s) ";
  de.strings = {
      {3, "Dieser Treiber ist bereits im System installiert."},
      {4, component + "kann nicht gefunden werden. Bitte installieren Sie den Treiber nochmals."},
      {5, "%s"},
      {6, component + "kann nicht gefunden werden. Bitte installieren Sie den Treiber nochmals."},
      {7, component + "ist ungültig. Bitte installieren Sie den Treiber nochmals."},
      {8, "Der Treiber wird gerade von einer TAPI-Anwendung benutzt und kann daher nicht entfernt werden. Beenden "
          "Sie alle laufenden Anwendungen, die diesen Treiber verwenden und versuchen Sie das Löschen anschließend "
          "nochmals."},
      {10, "%s-Fehler"},
      {19, "Verbindung zur Telefonanlage kann nicht hergestellt werden (Fehlercode: %ld)."},
      {20, "Verbindung zur Telefonanlage kann nicht ordnungsgemäß abgebaut werden (Fehlercode: %ld)."},
      {21, "Der Treiber ist gerade in Verwendung und kann deshalb nicht konfiguriert werden.\n\nBeenden Sie alle "
           "Anwendungen, die auf den Treiber zugreifen, und versuchen Sie es anschließend nochmals."},
      {22, "Der Treiber wird gerade konfiguriert und kann daher nicht verwendet werden.\n\nBeenden Sie die "
           "Konfiguration und versuchen Sie es anschließend nochmals."},
      {23, "Nebenstellennummern und MSNs können nicht aus der Telefonanlage ermittelt werden (Fehlercode: %ld)."},
      {24, "Der Treiber konnte keine Nebenstellennummern und/oder MSNs aus der Anlage ermitteln.\n\nDer Treiber "
           "arbeitet möglicherweise dadurch nicht korrekt.\n\nÜberprüfen Sie Ihre Anlageneinstellungen und "
           "konfigurieren Sie den Treiber anschließend nochmals."},
      {25, "Der Treiber konnte keine MSNs und/oder Nebenstellennummern aus der Anlage ermitteln.\n\nWenn Sie den "
           "Treiber auf diese Weise konfigurieren, arbeitet er möglicherweise nicht korrekt.\n\nWollen Sie trotzdem "
           "fortsetzen ?"},
      {26, "Der Treiber konnte keine Nebenstellennummern aus der Anlage ermitteln.\n\nDer Treiber arbeitet "
           "möglicherweise dadurch nicht korrekt.\n\nÜberprüfen Sie Ihre Anlageneinstellungen und konfigurieren Sie "
           "den Treiber anschließend nochmals."},
      {27, "Der Treiber konnte keine MSNs aus der Anlage ermitteln.\n\nDer Treiber arbeitet möglicherweise dadurch "
           "nicht korrekt.\n\nÜberprüfen Sie Ihre Anlageneinstellungen und konfigurieren Sie den Treiber "
           "anschließend nochmals."},
      {28, "Fehler beim Initialisieren der Layer 2 (%ld) !"},
      {29, "\"VNLSOCK.DLL\" kann nicht gefunden werden (%ld) !"},
      {30, "Verbindung zu CTI L2 Handler-Funktionalität in \"VNLSOCK.DLL\" nicht möglich (%ld) !"},
      {31, "Der Treiber wird gerade von einem anderen Benutzer konfiguriert.\n\nVersuchen Sie es später nochmals."},
      {32, "Allgemeiner Treiberfehler."},
      {33, "&Erweitert <<"},
      {34, "&Erweitert >>"},
      {35, "Der Treiber ist gerade in Verwendung. Eine Änderung der Konfiguration der Nebenstellen ist daher nicht "
           "möglich.\n\nBeenden Sie laufende Telefonieanwendungen, um die Konfiguration anzupassen."},
  };
  r.languages.push_back(std::move(de));
  r.bitmaps = CheckListBoxBitmaps();
  return r;
}

}  // namespace ui::provider
