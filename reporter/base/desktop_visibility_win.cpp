#include "desktop_visibility_win.h"

#include <windows.h>

namespace qx {

namespace {

bool WindowStationVisible() {
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return false;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  // A station whose flags cannot be read is taken as visible: this is the normal desktop
  // of every interactive program, and refusing every window there would hide the reporter.
  if (!GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Since Windows Vista, session 0 holds the services and no user ever logs on to it; on
// older systems session 0 is the console's.
bool InteractiveSession() {
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return true;
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return true;
  return session != 0 || version.dwMajorVersion < 6;
}

}  // namespace

DesktopFacts QueryDesktopFacts() {
  if (DesktopFactsQuery != nullptr) return DesktopFactsQuery();
  return DesktopFacts{WindowStationVisible(), InteractiveSession()};
}

bool WindowsCanBeSeen(const DesktopFacts& facts, bool reporterIsExecutable) {
  return facts.stationVisible && (reporterIsExecutable || facts.interactiveSession);
}

bool WindowsCanBeSeen(bool reporterIsExecutable) {
  return WindowsCanBeSeen(QueryDesktopFacts(), reporterIsExecutable);
}

}  // namespace qx
