#pragma once
// The firmware check vnlui runs after the user confirmed the link dialog:
// over the new link it asks the exchange to start the call-control protocol
// and accepts the exchange's firmware when the answer names protocol version
// 0x30 or later, then ends the protocol again.
//
// In: the eight client functions of the layer-2 interface (looked up by name
// in "vnl2d32.dll", or a fake table in tests), a wait and a message box.
// Out: 1 when the check passed or could not be run (the link could not be
// opened: busy or not startable, the user's choice stands), 0 when it failed
// (box 101) or the layer-2 library is missing (box 102) or incomplete (no box).
// Runs on the caller's thread and blocks it for up to about 1.3 s: ten polls
// 100 ms apart, then 300 ms for the closing.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

#include "link/api/vnl2_entry_table.h"

namespace ui::link {

inline constexpr uint32_t kFirmwareCheckService = 0x20;
// VNL_START_REQ, RefID 0xE4: LINK_PROTOCOL_VERSION 0x30, DRIVER_TYPE 0x10.
inline constexpr std::array<uint8_t, 10> kFirmwareRequest = {0x00, 0xE4, 0x00, 0x06, 0x00,
                                                             0x01, 0x30, 0x01, 0x01, 0x10};
// VNL_END_REQ, RefID 0xE6: CAUSE 0.
inline constexpr std::array<uint8_t, 7> kFirmwareClosing = {0x04, 0xE6, 0x00, 0x03, 0x0F, 0x01, 0x00};
inline constexpr int kFirmwarePolls = 10;
inline constexpr std::chrono::milliseconds kFirmwarePollWait{100};
inline constexpr std::chrono::milliseconds kFirmwareClosingWait{200};
inline constexpr std::chrono::milliseconds kFirmwareCloseWait{100};
inline constexpr uint32_t kFirmwareReceiveSize = 256;

// Texts of vnlui's string table the check shows (caption kTextError).
inline constexpr int kTextIncompatibleFirmware = 101;
inline constexpr int kTextMissingDll = 102;
inline constexpr int kTextError = 103;

// The first block received is accepted when it holds at least 10 bytes, a
// RESULT parameter of length 1 at byte 4 and LINK_PROTOCOL_VERSION of
// length 1 at byte 7 whose value is 0x30 or later. Bytes 0 to 3 and the
// RESULT value are not examined.
bool IsAcceptedFirmwareAnswer(std::span<const uint8_t> block);

struct FirmwareCheckHooks {
  std::function<void(std::chrono::milliseconds)> wait;  // empty: sleep
  std::function<void(int textId)> showBox;              // empty: vnlui's message box (text, caption 103)
};

// The eight client functions the check needs.
inline constexpr vnl2::EntrySet kFirmwareCheckEntries = vnl2::kClientEntries;
bool HasFirmwareCheckEntries(const vnl2::Entries& entries);

// The check over bound functions: 0 without a box when one is missing.
int32_t RunFirmwareCheck(const vnl2::Entries& entries, const FirmwareCheckHooks& hooks = {});

// Loads "vnl2d32.dll", looks the functions up and runs the check. The
// library stays loaded after a check (one reference, kept until
// ReleaseFirmwareCheckLibrary); an incomplete one is unloaded at once.
int32_t CheckFirmware(const FirmwareCheckHooks& hooks = {});
void ReleaseFirmwareCheckLibrary();

// vnlui's message box: string textId with caption 103 from the resources of
// "VNLUI.Dll" in the user-interface language, OK button, no owner.
void ShowVnluiBox(int textId);

}  // namespace ui::link
