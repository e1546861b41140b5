// Dialog templates give the designed pixel geometry in dialog units for a
// font of 6 x 13 pixels per 4 x 8 units. Where the system's dialog font
// has other metrics the controls would grow or shrink with it; these put
// them back at their designed pixels.
#pragma once

#include <windows.h>

namespace vorsal {

// Moves and sizes the dialog's own controls (not their children) from the
// dialog units of the font in use to the designed pixels. A combo box keeps
// room for its list when it drops down. A label or check box whose text
// does not fit grows to the right within its group box, pushing a control
// that follows it on its line.
void FitToDesignedPixels(HWND dialog);

// Sets the window's client area to `width` x `height` pixels, the menu bar
// (if any) however many lines it wraps to.
void SetClientSize(HWND window, int width, int height);

}  // namespace vorsal
