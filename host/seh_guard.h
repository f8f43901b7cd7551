// Runs a call under a structured-exception frame of its own, as a server runs an external
// function: a Windows exception raised inside it returns here with its code instead of
// ending the process. gcc has no __try, so the frame is registered by hand.
#pragma once

#include <windows.h>

namespace qxhost {

struct SehOutcome {
  bool raised = false;
  DWORD code = 0;
  ULONG_PTR firstParameter = 0;
};

SehOutcome RunUnderSeh(void (*call)(void*), void* context);

template <class F>
SehOutcome RunUnderSeh(F& f) {
  return RunUnderSeh([](void* p) { (*static_cast<F*>(p))(); }, static_cast<void*>(&f));
}

}  // namespace qxhost
