#pragma once
// Stand-ins for the user's profile strings (WriteProfileString /
// GetProfileString on the sections of win.ini) and for the broadcast of a
// changed setting (WM_WININICHANGE sent to all top-level windows).
//
// A profile section is kept in the registry store of the current user, under
// HKEY_CURRENT_USER "Software\TK\Profile\<section>", one REG_SZ value per key.
//
// The broadcast reaches every listener registered in this process. (Once
// top-level windows exist on this platform, it is also posted to them.)
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char16_t kProfileKeyPath[] = u"Software\\TK\\Profile";

// False when the store could not be written.
bool writeProfileString(std::u16string_view section, std::u16string_view key, std::u16string_view value);
std::optional<std::u16string> getProfileString(std::u16string_view section, std::u16string_view key);

using SettingChangeListener = std::function<void(std::u16string_view section)>;
// Returns an id for removeSettingChangeListener.
int addSettingChangeListener(SettingChangeListener listener);
void removeSettingChangeListener(int id);
// Calls every listener with the section whose settings changed.
void broadcastSettingChange(std::u16string_view section);

}  // namespace platform
