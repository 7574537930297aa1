#pragma once

// Whether the window can be shown at all, asked before Qt is: Qt's own answer to a
// missing display is an abort with advice to reinstall. Only the platforms that need a
// display server (xcb, wayland) are checked; any other (offscreen, minimal, vnc, ...)
// is left to Qt.

#include <optional>
#include <string>

// Why no display Qt would use can be reached ("DISPLAY is not set", "no connection to
// ':99' (DISPLAY)"), or nothing when one can, or Qt will use a platform that needs
// none. Writes nothing anywhere.
std::optional<std::string> WhyNoDisplay();
