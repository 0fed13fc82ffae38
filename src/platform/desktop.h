#pragma once

#include <string>

namespace pulsaro {

// The folder for new result files, ending in a separator: the user's desktop
// folder when it exists, else the home folder, so a default name never
// depends on the working folder.
std::string desktopFolder();

bool fileExists(const std::string& path);

// Whether the windowing system shows per-window opacity: X11, Windows and
// macOS do; Wayland (for a client) and the offscreen platform do not.
bool windowOpacitySupported();

}  // namespace pulsaro
