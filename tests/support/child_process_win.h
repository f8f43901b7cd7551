// Child processes of a test program: this program again in another mode, or a program
// beside it, always waited for with a time limit.
#pragma once

#include <windows.h>

#include <string>

namespace qx {

// This program's own path.
std::string SelfPath();

// The folder of this program, with its trailing backslash.
std::string SelfFolder();

// Starts `commandLine` (the program's path quoted as the caller wants it); the process
// handle, or null when it could not be started.
HANDLE StartChild(const std::string& commandLine);

// Waits at most `limitMs` for `process` and closes the handle: its exit code, or -1 when it
// did not end in time (it is then terminated).
long FinishChild(HANDLE process, DWORD limitMs = 60000);

// StartChild and FinishChild: the exit code, -1 when it did not end within `limitMs`, -2
// when it could not be started.
long RunChildProcess(const std::string& commandLine, DWORD limitMs = 60000);

}  // namespace qx
