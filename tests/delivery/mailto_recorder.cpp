// The program a test registers for "mailto:" links: writes its whole command line into
// mailto_record.txt beside itself and sets the event "qx_mailto_recorded" when one exists.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  char self[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self, length);
  path = path.substr(0, path.find_last_of('\\') + 1) + "mailto_record.txt";
  const char* line = GetCommandLineA();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 1;
  std::fputs(line, file);
  std::fclose(file);
  HANDLE done = OpenEventA(EVENT_MODIFY_STATE, FALSE, "qx_mailto_recorded");
  if (done != nullptr) {
    SetEvent(done);
    CloseHandle(done);
  }
  return 0;
}
