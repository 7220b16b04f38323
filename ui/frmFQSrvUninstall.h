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

// Where the window's parts go, in pixels. The frame is in the window's client
// area; the label and the image are in the frame.
struct Placement {
  int x, y, width, height;
};
struct Layout {
  int clientWidth, clientHeight;
  Placement frame, label, image;
};

// The twip layout at a display's resolution (dots per inch across and down),
// grown so that a message of textWidth x textHeight pixels fits the label: the
// frame and the window grow by what the label needs on top of its own size.
Layout ComputeLayout(int dpiX, int dpiY, int textWidth, int textHeight);

}  // namespace frmFQSrvUninstall
