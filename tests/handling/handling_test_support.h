// Helpers shared by the handling test programs: records of handler calls, exception
// classes of the tests, child processes.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "child_process_win.h"
#include "exception_classes.h"

namespace qx {

QX_EXCEPTION_CLASS(ETestError, Exception)
QX_EXCEPTION_CLASS(EDBEditError, Exception)
QX_EXCEPTION_CLASS(EMaskedEditError, EDBEditError)
QX_EXCEPTION_CLASS(EUserCancel, EAbort)
QX_EXCEPTION_CLASS(EFirstListed, Exception)
QX_EXCEPTION_CLASS(ESecondListed, Exception)
QX_EXCEPTION_CLASS(ESecondChild, ESecondListed)

// Runs this program again with `arguments`; the exit code, or -1 when it did not end
// within `limitMs`.
inline long RunChild(const std::string& arguments, DWORD limitMs = 60000) {
  return RunChildProcess("\"" + SelfPath() + "\" " + arguments, limitMs);
}

inline std::string TempPath(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + name + std::to_string(GetCurrentProcessId()) + ".txt";
}

inline std::string ReadWholeFile(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// The text on the clipboard (CF_TEXT), empty when there is none.
inline std::string ClipboardText() {
  std::string text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (auto* bytes = static_cast<const char*>(GlobalLock(data))) {
      text = bytes;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

inline size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Pumps this thread's messages for `ms` milliseconds.
inline void PumpFor(DWORD ms) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

}  // namespace qx
