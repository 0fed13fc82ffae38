#pragma once

#include <string>

namespace pulsaro {

// The user's desktop folder ending in a separator, or empty when the desktop
// has no such folder (a default name then has no folder part).
std::string desktopFolder();

// The per-user folder that holds the settings store ($XDG_CONFIG_HOME, by
// default ~/.config).
std::string settingsRoot();

bool fileExists(const std::string& path);

}  // namespace pulsaro
