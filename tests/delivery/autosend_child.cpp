// A program with the whole reporter and AutoSend settings that faults in a worker thread.
//   autosend_child EVENT   the mail hand-off sets EVENT once it has recorded the report; the
//                          program waits for it (at most a minute): exit code 0 once
//                          recorded, 1 when nothing came
//   autosend_child --smtp  the SMTP port comes from QX_SMTP_PORT; the settings close the
//                          program once the report is sent (exit code 1, the close exit
//                          code); 3 when it is still running after a minute
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "reporter_lifecycle_win.h"
#include "settings_open_win.h"

namespace {

// Read at run time, so that the compiler cannot see the write through null.
int* volatile gTarget = nullptr;

__attribute__((noinline, noipa)) void Fault() { *gTarget = 42; }

DWORD WINAPI Worker(void*) {
  Fault();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  const bool smtp = std::strcmp(argv[1], "--smtp") == 0;
  HANDLE recorded = smtp ? nullptr : CreateEventA(nullptr, TRUE, FALSE, argv[1]);
  if (!smtp && recorded == nullptr) return 2;
  qx::ReporterStartup();
  if (smtp) {
    const char* port = std::getenv("QX_SMTP_PORT");
    if (port == nullptr || !qx::MainSettings()) return 2;
    qx::MainSettings()->SetSmtpPort(static_cast<uint32_t>(std::atoi(port)));
  }
  HANDLE worker = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
  const bool done = smtp ? false : WaitForSingleObject(recorded, 60000) == WAIT_OBJECT_0;
  if (smtp) Sleep(60000);  // the reporter ends the process long before
  // The faulted worker may still wait in the reporter: end without unwinding it.
  TerminateProcess(GetCurrentProcess(), smtp ? 3 : done ? 0 : 1);
  CloseHandle(worker);
  return done ? 0 : 1;
}
