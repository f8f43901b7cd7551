// Screenshots: the whole virtual screen, or only what is visible of this process's
// top-level windows (white elsewhere), with the mouse cursor drawn in.
#pragma once

#include "bitmap_win.h"

namespace qx {

// A new bitmap (one reference), or null when there is nothing to capture or capturing fails.
INVBitmap* CaptureScreen(bool ownWindowsOnly);

}  // namespace qx
