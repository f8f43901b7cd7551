// System libraries that the module binds on first use (delay-loaded), and what happens when
// one of them cannot be had.
//
// A server that only calls the SQL functions never needs the common controls, the common
// dialogs, the shell, the version resources or the process-module list, so the module
// binds those libraries when a routine of theirs is first called. Should a library be
// missing or lack the routine, the runtime's delay-load helper would raise a structured
// exception (0xC06D007E, 0xC06D007F) inside whatever reporter step called it, and the
// reporter's guards catch C++ exceptions only. The failure hook installed here answers
// instead: the call goes to a stand-in with the routine's own parameters that fails the
// way the routine itself reports failure (FALSE, 0, a failed HRESULT, last error
// ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND). The step that made the call then fails as
// it does on any refusal of the system, and the module goes on.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qx {

// Installs the failure hook of this module's delay-load helper (start-up; idempotent).
void InstallDelayLoadFailureHook();
bool DelayLoadFailureHookInstalled();

// The stand-in for a delay-loaded routine, or null for a routine without one (a call of
// that routine then still raises when its library is missing). Every routine the module
// delay-imports has one; the tests check that against the module's delay-import table.
void* DelayLoadStandIn(const char* routine);

// The routines whose binding failed so far (each once: its stand-in takes its place for
// good): their number and the last one.
struct DelayLoadFailure {
  char library[64];
  char routine[64];
  DWORD error;  // ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND, as the stand-in reports
};
uint32_t DelayLoadFailureCount();
bool LastDelayLoadFailure(DelayLoadFailure& failure);

// What the hook answers (the hook itself, without the helper's record, for tests):
// `notification` is the helper's failure kind (dliFailLoadLib 3: a library handle to go on
// with; dliFailGetProc 4: the stand-in), `libraryMissing` whether the routine is missing
// because its library is.
FARPROC AnswerDelayLoadFailure(unsigned notification, const char* library, const char* routine,
                               bool libraryMissing);

}  // namespace qx
