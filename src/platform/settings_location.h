#pragma once

#include <string>

namespace pulsaro {

// The per-user folder that holds the settings store ($XDG_CONFIG_HOME, by
// default ~/.config).
std::string settingsRoot();

}  // namespace pulsaro
