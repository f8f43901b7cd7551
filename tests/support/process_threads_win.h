// The threads and windows of the test program itself.
#pragma once

#include <windows.h>

namespace qx {

// How many threads this process has now.
int ThreadsOfThisProcess();

// The first visible top-level window of the class that belongs to this process, or null.
// Test programs run side by side in one prefix: another program's window of the same class
// (a box, an assistant form) is passed over.
HWND VisibleWindowOfThisProcess(const char* className);

}  // namespace qx
