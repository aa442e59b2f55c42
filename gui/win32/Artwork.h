// The side pictures of both windows (app/Artwork.h) painted with GDI at the size their controls
// have, so they stay sharp at every system DPI.
#pragma once

#include "app/Artwork.h"

#include <windows.h>

namespace crenovix::win32 {

// A 24-bit bitmap of `width` x `height` pixels; the caller deletes it. nullptr when GDI cannot
// make one.
HBITMAP DrawSidePicture(ESidePicture picture, int width, int height);

// Draws the picture at the client size of `control`, a bitmap static (SS_BITMAP), and gives it to
// the control. The control does not own it: the caller deletes the returned bitmap once the
// control is gone (nullptr when nothing was drawn).
HBITMAP ShowSidePicture(HWND control, ESidePicture picture);

} // namespace crenovix::win32
