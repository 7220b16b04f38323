// The progress window: "Uninstall", with the two-line "please wait" message.
#pragma once

#include "platform/winapi.h"

namespace frmFQSrvUninstall {

// Creates the window and its controls hidden, then runs the load handler,
// which writes the progress message. False when the window cannot be created.
bool Load();

// Makes the window visible.
void Show();

// Paints the window and its controls now, not when the event loop gets to it.
void Repaint();

// Destroys the window and its controls. Harmless when not loaded.
void Unload();

// The window, or null when it is not loaded (owner of the error box).
HWND Handle();

}  // namespace frmFQSrvUninstall
