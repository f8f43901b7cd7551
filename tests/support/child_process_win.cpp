#include "child_process_win.h"

namespace qx {

std::string SelfPath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length);
}

std::string SelfFolder() {
  std::string path = SelfPath();
  return path.substr(0, path.find_last_of("\\/") + 1);
}

HANDLE StartChild(const std::string& commandLine) {
  std::string line = commandLine;  // CreateProcessA may write into its command line
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

long FinishChild(HANDLE process, DWORD limitMs) {
  long code = -1;
  if (WaitForSingleObject(process, limitMs) == WAIT_OBJECT_0) {
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process, &exitCode)) code = static_cast<long>(exitCode);
  } else {
    TerminateProcess(process, 99);
    WaitForSingleObject(process, 10000);
  }
  CloseHandle(process);
  return code;
}

long RunChildProcess(const std::string& commandLine, DWORD limitMs) {
  HANDLE process = StartChild(commandLine);
  if (process == nullptr) return -2;
  return FinishChild(process, limitMs);
}

}  // namespace qx
