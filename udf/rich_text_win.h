// The Windows rich-text conversion's life cycle and the limits on its waits.
#pragma once

#include <windows.h>

namespace qx {

// Releases the rich-edit library at unload. Waits at most the unload limit for a
// conversion that holds the control; if it does not finish by then, the library stays
// loaded (freeing it under a running conversion would crash it) and false is returned.
bool ReleaseRichTextLibrary();

// How long a conversion waits for the control held by another one before it fails, and
// how long unload waits. Production keeps the defaults; tests shorten them.
constexpr DWORD kDefaultControlWaitMs = 60000;
constexpr DWORD kDefaultUnloadWaitMs = 5000;
void SetRichTextWaitLimits(DWORD controlWaitMs, DWORD unloadWaitMs);

}  // namespace qx
