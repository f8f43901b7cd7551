// Holds a conversion inside the rich-edit control, as a control that stopped responding
// would: a hook on the converting thread waits when the RICHEDIT window is created, until
// the test lets it go (or 30 s pass, so a failing test still ends).
#pragma once

#include <windows.h>

namespace qx::test {

class ControlStall {
 public:
  ControlStall()
      : stalled_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    instance_ = this;
  }
  ~ControlStall() {
    SetEvent(release_);
    CloseHandle(stalled_);
    CloseHandle(release_);
    instance_ = nullptr;
  }
  ControlStall(const ControlStall&) = delete;
  ControlStall& operator=(const ControlStall&) = delete;

  // On the thread to stall, around its conversion.
  void Install() { hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId()); }
  void Remove() { UnhookWindowsHookEx(hook_); }

  bool WaitUntilStalled() { return WaitForSingleObject(stalled_, 30000) == WAIT_OBJECT_0; }
  bool Stalled() { return WaitForSingleObject(stalled_, 0) == WAIT_OBJECT_0; }
  void Release() { SetEvent(release_); }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && instance_ != nullptr) {
      char name[32] = {};
      GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name);
      if (lstrcmpiA(name, "RICHEDIT") == 0) {
        SetEvent(instance_->stalled_);
        WaitForSingleObject(instance_->release_, 30000);
      }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static inline ControlStall* instance_ = nullptr;
  HANDLE stalled_;
  HANDLE release_;
  HHOOK hook_ = nullptr;
};

}  // namespace qx::test
