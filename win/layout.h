// Dialog templates give the designed pixel geometry in dialog units for a
// font of 6 x 13 pixels per 4 x 8 units. Where the system's dialog font
// has other metrics the controls would grow or shrink with it; these put
// them back at their designed pixels.
#pragma once

#include <windows.h>

// Older SDK headers lack the message a DPI change sends.
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace vorsal {

// Moves and sizes the dialog's own controls (not their children) from the
// dialog units of the font in use to the designed pixels. A combo box keeps
// room for its list when it drops down. A label or check box whose text
// does not fit grows to the right within its group box, pushing a control
// that follows it on its line.
// `dpi` is the window's: a designed pixel is dpi / 96 pixels.
void FitToDesignedPixels(HWND dialog, int dpi);

// After the window's DPI changed from `oldDpi` to `newDpi` (its controls
// already have their fonts for the new one): moves and sizes the controls
// in proportion, then widens what its text no longer fits. `dialogWidth` is
// the dialog's client width at the new DPI.
void RescaleForDpi(HWND dialog, int oldDpi, int newDpi, int dialogWidth);

// The dialog templates' font, MS Sans Serif 8 points, at `dpi`.
HFONT CreateDialogFont(int dpi);

// A font `pixelsAt96` high at 96 DPI, scaled to `dpi`.
HFONT CreateScaledFont(int dpi, int pixelsAt96, bool bold, const wchar_t* face,
                       DWORD pitchAndFamily = DEFAULT_PITCH | FF_SWISS);

// The DPI the window is drawn at (the system's where the system cannot tell
// per window).
int WindowDpi(HWND window);

// The dialog leaves a DPI change to the window's own handling.
void KeepDialogDpiChangesToItself(HWND dialog);

// Sets the window's client area to `width` x `height` pixels, the menu bar
// (if any) however many lines it wraps to. A minimised window gets the size
// for its restore, with a menu bar of one line: measure again once restored.
void SetClientSize(HWND window, int width, int height);

}  // namespace vorsal
