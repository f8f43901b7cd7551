#include "header_values_win.h"

#include <lmcons.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "decoder_win.h"
#include "machine_texts.h"
#include "pe_image.h"
#include "settings_open_win.h"

namespace qx {

namespace {

template <class Function>
Function KernelFunction(const char* module, const char* name) {
  HMODULE handle = GetModuleHandleA(module);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

std::string RegistryText(HKEY root, const std::string& key, const char* value) {
  HKEY opened;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return {};
  std::string text;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(opened, value, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<char> buffer(size + 1, '\0');
    if (RegQueryValueExA(opened, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) == ERROR_SUCCESS)
      text = buffer.data();
  }
  RegCloseKey(opened);
  return text;
}

// Performance counter in milliseconds, 0 when it is not available.
int64_t CounterMilliseconds() {
  LARGE_INTEGER counter, frequency;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart < 1000 ||
      !QueryPerformanceCounter(&counter))
    return 0;
  return counter.QuadPart / (frequency.QuadPart / 1000);
}

int64_t gProgramStart = 0;

ReportTime ToReportTime(const SYSTEMTIME& t) {
  return {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

OsVersionInfo ReadOsVersionInfo() {
  OsVersionInfo info;
  DWORD version = GetVersion();
  if (version & 0x80000000u) {
    OSVERSIONINFOA basic{};
    basic.dwOSVersionInfoSize = sizeof basic;
    if (GetVersionExA(&basic)) {
      info.is9x = basic.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
      info.majorVersion = basic.dwMajorVersion;
      info.minorVersion = basic.dwMinorVersion;
      info.build = basic.dwBuildNumber & 0xFFFF;
      info.servicePack = basic.szCSDVersion;
    }
  } else {
    OSVERSIONINFOEXW extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    bool haveExtended = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended)) != 0;
    if (!haveExtended) {
      extended.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
      if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) return info;
    }
    info.isNt = extended.dwPlatformId == VER_PLATFORM_WIN32_NT;
    info.is9x = extended.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    info.majorVersion = extended.dwMajorVersion;
    info.minorVersion = extended.dwMinorVersion;
    info.build = info.isNt ? extended.dwBuildNumber : extended.dwBuildNumber & 0xFFFF;
    for (int i = 0; i < 128 && extended.szCSDVersion[i] != 0; ++i)
      info.servicePack += static_cast<char>(extended.szCSDVersion[i] & 0xFF);
    if (haveExtended) {
      info.servicePackNumber = extended.wServicePackMajor;
    } else if (info.servicePack.size() > 13) {
      info.servicePackNumber = std::strtoul(info.servicePack.c_str() + 13, nullptr, 10);
    }
    bool workstation = haveExtended && extended.wProductType == VER_NT_WORKSTATION;
    if (info.isNt) info.osIndex = OsIndexNt(info.majorVersion, info.minorVersion, workstation);
  }
  if (info.is9x) info.osIndex = OsIndex9x(info.majorVersion, info.minorVersion, info.build);
  using NativeInfo = void(WINAPI*)(SYSTEM_INFO*);
  if (auto native = KernelFunction<NativeInfo>("kernel32.dll", "GetNativeSystemInfo")) {
    SYSTEM_INFO system{};
    native(&system);
    info.is64Bit = system.wProcessorArchitecture == 9;
  }
  info.osName = OsTableName(info.osIndex);
  if (info.isNt) {
    if (GetSystemMetrics(89) != 0) info.osName += " R2";
    if (GetSystemMetrics(SM_TABLETPC) != 0) info.osName += " Tablet PC";
    if (GetSystemMetrics(SM_STARTER) != 0) info.osName += " Starter";
    if (info.osIndex < 12 && GetSystemMetrics(SM_MEDIACENTER) != 0) info.osName += " Media Center";
    if (info.is64Bit) info.osName += " x64";
    if (!info.servicePack.empty()) info.osName += " " + info.servicePack;
  }
  return info;
}

uint64_t FileVersionNumber(const std::string& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return 0;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return 0;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
      fixed == nullptr || length < sizeof *fixed)
    return 0;
  return (static_cast<uint64_t>(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS;
}

int64_t FreeBytes(const std::string& path) {
  std::string root = path.substr(0, 3);
  ULARGE_INTEGER available, total, free;
  using FreeEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  if (auto freeEx = KernelFunction<FreeEx>("kernel32.dll", "GetDiskFreeSpaceExA"))
    return freeEx(root.c_str(), &available, &total, &free) ? static_cast<int64_t>(free.QuadPart) : 0;
  DWORD sectors, bytes, freeClusters, clusters;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &freeClusters, &clusters)) return 0;
  return static_cast<int64_t>(sectors) * bytes * freeClusters;
}

}  // namespace

OsVersionInfo GetOsVersionInfo() {
  static const OsVersionInfo info = ReadOsVersionInfo();
  return info;
}

char ReportDecimalSeparator() {
  static const char separator = [] {
    char text[8] = {};
    if (GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, text, sizeof text) > 0 && text[0] != 0)
      return text[0];
    return ',';
  }();
  return separator;
}

std::string SizeText(int64_t bytes) { return SizeToText(bytes, ReportDecimalSeparator()); }

void RecordProgramStart() { gProgramStart = CounterMilliseconds(); }

std::string ComputerNameValue() {
  char name[260] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return {};
  return std::string(name, strnlen(name, sizeof name));
}

std::string WtsClientNameValue() {
  if (GetOsVersionInfo().is9x || GetSystemMetrics(SM_REMOTESESSION) == 0) return {};
  HMODULE wts = LoadLibraryA("wtsapi32.dll");
  if (wts == nullptr) return {};
  using Query = BOOL(WINAPI*)(HANDLE, DWORD, int, LPSTR*, DWORD*);
  using Free = void(WINAPI*)(void*);
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(wts, "WTSQuerySessionInformationA")));
  auto release = reinterpret_cast<Free>(reinterpret_cast<void*>(GetProcAddress(wts, "WTSFreeMemory")));
  std::string name;
  LPSTR buffer = nullptr;
  DWORD bytes = 0;
  const DWORD kCurrentSession = static_cast<DWORD>(-1);
  const int kClientName = 10;
  if (query != nullptr && release != nullptr &&
      query(nullptr, kCurrentSession, kClientName, &buffer, &bytes) && buffer != nullptr) {
    if (bytes > 1) name.assign(buffer, bytes - 1);
    release(buffer);
  }
  FreeLibrary(wts);
  return name;
}

std::string UserNameValue() {
  char name[260] = {};
  DWORD size = sizeof name;
  if (!GetUserNameA(name, &size)) return {};
  std::string text(name, strnlen(name, sizeof name));
  using Check = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  auto check = advapi == nullptr ? nullptr
                                 : reinterpret_cast<Check>(reinterpret_cast<void*>(
                                       GetProcAddress(advapi, "CheckTokenMembership")));
  if (check == nullptr) return text;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                               0, 0, 0, 0, &administrators)) {
    BOOL member = FALSE;
    if (check(nullptr, administrators, &member) && member) text += "  <admin>";
    FreeSid(administrators);
  }
  return text;
}

std::string RegisteredOwnerValue() {
  std::string key = std::string("Software\\Microsoft\\Windows") +
                    (GetOsVersionInfo().isNt ? " NT" : "") + "\\CurrentVersion";
  std::string owner = RegistryText(HKEY_LOCAL_MACHINE, key, "RegisteredOwner");
  std::string organization = RegistryText(HKEY_LOCAL_MACHINE, key, "RegisteredOrganization");
  if (!organization.empty()) owner += " / " + organization;
  return owner;
}

std::string OperatingSystemValue() {
  OsVersionInfo info = GetOsVersionInfo();
  return info.osName + " build " + std::to_string(info.build);
}

std::string SystemLanguageValue() {
  char text[260] = {};
  if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, text, sizeof text) <= 0) return {};
  return text;
}

std::string SystemUpTimeValue() {
  LARGE_INTEGER counter, frequency;
  if (!QueryPerformanceCounter(&counter) || !QueryPerformanceFrequency(&frequency) ||
      frequency.QuadPart == 0)
    return {};
  return TimeSpanToText(counter.QuadPart / frequency.QuadPart);
}

std::string ProgramUpTimeValue() {
  if (gProgramStart == 0) return {};
  return ProgramUpTimeText(CounterMilliseconds() - gProgramStart);
}

std::string ProcessorName(int& count) {
  const std::string key = "hardware\\description\\system\\centralProcessor\\";
  std::string name = CleanProcessorName(RegistryText(HKEY_LOCAL_MACHINE, key + "0", "ProcessorNameString"));
  count = 0;
  if (name.empty()) return {};
  count = 16;
  for (int i = 1; i <= 15; ++i) {
    if (CleanProcessorName(RegistryText(HKEY_LOCAL_MACHINE, key + std::to_string(i),
                                        "ProcessorNameString"))
            .empty()) {
      count = i;
      break;
    }
  }
  return name;
}

std::string PhysicalMemoryValue() {
  using StatusEx = BOOL(WINAPI*)(MEMORYSTATUSEX*);
  if (auto statusEx = KernelFunction<StatusEx>("kernel32.dll", "GlobalMemoryStatusEx")) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (statusEx(&status)) return PhysicalMemoryText(status.ullAvailPhys, status.ullTotalPhys);
  }
  MEMORYSTATUS status{};
  status.dwLength = sizeof status;
  GlobalMemoryStatus(&status);
  return PhysicalMemoryText(status.dwAvailPhys, status.dwTotalPhys);
}

std::string FreeDiskSpaceValue() {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  std::string exe = ModuleFileName(nullptr);
  std::string windowsText = DriveFreeText(windows, FreeBytes(windows), ReportDecimalSeparator());
  if (!exe.empty() && exe[0] != '\0' && std::toupper(static_cast<unsigned char>(exe[0])) ==
                                            std::toupper(static_cast<unsigned char>(windows[0])))
    return windowsText;
  std::string exeText = DriveFreeText(exe, FreeBytes(exe), ReportDecimalSeparator());
  return windowsText + " " + exeText;
}

std::string DisplayModeValue() {
  int bits = 0;
  if (HDC screen = GetDC(nullptr)) {
    bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
  }
  return std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
         std::to_string(GetSystemMetrics(SM_CYSCREEN)) + ", " + std::to_string(bits) + " bit";
}

std::string ProcessIdValue() { return DollarHex(GetCurrentProcessId()); }

std::string AllocatedMemoryValue() {
  int64_t total = 0;
  uintptr_t address = 0;
  void* previousBase = reinterpret_cast<void*>(1);
  bool counting = false;
  MEMORY_BASIC_INFORMATION info;
  while (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == sizeof info) {
    if (info.State == MEM_COMMIT) {
      if (info.AllocationBase != previousBase) {
        char name[MAX_PATH];
        counting = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), name, MAX_PATH) == 0;
        previousBase = info.AllocationBase;
      }
      if (counting) total += static_cast<int64_t>(info.RegionSize);
    }
    uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return SizeText(total);
}

std::string CommandLineValue() {
  const char* line = GetCommandLineA();
  if (line == nullptr) return {};
  const char* p = line;
  // The program name, quoted or up to the first blank.
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && static_cast<unsigned char>(*p) > ' ') ++p;
  }
  while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ') ++p;
  return *p == '\0' ? std::string() : std::string(line);
}

std::string ModuleFileName(HMODULE module) {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  return std::string(path, length < MAX_PATH ? length : 0);
}

std::string ExaminedFile(bool& isExecutable) {
  HMODULE reporter = ReporterModule();
  isExecutable = reporter == GetModuleHandleA(nullptr);
  return ModuleFileName(reporter);
}

bool FileDateValue(const std::string& path, std::string& value) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  FILETIME local;
  SYSTEMTIME time;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &time))
    return false;
  value = FileDateTimeText(ToReportTime(time));
  return true;
}

std::string FileVersionValue(const std::string& path) {
  return FourPartVersionText(FileVersionNumber(path));
}

std::string BdeVersionValue() {
  HMODULE bde = GetModuleHandleA("idapi32.dll");
  return bde == nullptr ? std::string() : FileVersionValue(ModuleFileName(bde));
}

std::string CompiledWithValue() {
  static const char kGnuLd[] = "mingw-w64 GCC " __VERSION__ ", GNU ld 2";
  static const char kOtherLinker[] = "mingw-w64 GCC " __VERSION__ ", another linker";
  const auto base = reinterpret_cast<uintptr_t>(ReporterModule());
  if (base == 0) return kGnuLd;
  PeImage image(ProcessMemory(), static_cast<uint32_t>(base), PeLayout::kLoaded);
  if (!image.Open()) return kGnuLd;
  return image.Headers().majorLinkerVersion == 2 ? kGnuLd : kOtherLinker;
}

}  // namespace qx
