// Minimal X11 access for tests that drive the real program under Xvfb; kept apart from
// Qt's headers because Xlib's macros clash with them.
#pragma once

#include <string>

// True once a top-level window with this title exists on the display.
bool xWindowShown(const std::string& display, const std::string& title);

// Asks the window with this title to close, as a window manager's close button does.
bool xCloseWindow(const std::string& display, const std::string& title);
