#include "list_plugins_win.h"

#include <windows.h>
#include <setupapi.h>
#include <tlhelp32.h>

#include <vector>

#include "field_items.h"
#include "field_lists_win.h"
#include "header_values_win.h"
#include "list_texts.h"
#include "report_plugins_win.h"

namespace qx {

namespace {

std::string RegistryText(HKEY root, const std::string& key, const char* value, DWORD* type = nullptr,
                         DWORD* number = nullptr) {
  HKEY opened;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return {};
  std::string text;
  DWORD kind = 0, size = 0;
  if (RegQueryValueExA(opened, value, nullptr, &kind, nullptr, &size) == ERROR_SUCCESS) {
    std::vector<char> buffer(size + 2, '\0');
    if (RegQueryValueExA(opened, value, nullptr, &kind, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) == ERROR_SUCCESS) {
      if (kind == REG_SZ || kind == REG_EXPAND_SZ) text = buffer.data();
      if (kind == REG_DWORD && size == 4 && number != nullptr)
        *number = *reinterpret_cast<DWORD*>(buffer.data());
      if (type != nullptr) *type = kind;
    }
  }
  RegCloseKey(opened);
  return text;
}

// ---- processes ----

struct UnicodeText {
  USHORT length;
  USHORT maximumLength;
  PWSTR buffer;
};

// The leading part of the system's process record that the list reads.
struct ProcessRecord {
  ULONG nextEntryOffset;
  ULONG threadCount;
  LARGE_INTEGER reserved[6];
  UnicodeText imageName;
  LONG basePriority;
  HANDLE processId;
  HANDLE parentProcessId;
  ULONG handleCount;
  ULONG sessionId;
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
using ModuleFileNameEx = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
using FullImageName = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);
using GuiResources = DWORD(WINAPI*)(HANDLE, DWORD);

template <class Function>
Function Lookup(const char* module, const char* name, bool load) {
  HMODULE handle = load ? LoadLibraryA(module) : GetModuleHandleA(module);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

std::string NarrowName(const UnicodeText& name) {
  if (name.buffer == nullptr || name.length == 0) return {};
  int count = name.length / 2;
  int size = WideCharToMultiByte(CP_ACP, 0, name.buffer, count, nullptr, 0, nullptr, nullptr);
  std::string text(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, name.buffer, count, text.data(), size, nullptr, nullptr);
  return text;
}

std::string FullProcessPath(DWORD processId, const std::string& fallback) {
  // The system keeps the image name of every process: asked for it, nothing reads the other
  // process's memory. The module list read through its memory is only the older systems'
  // way; under Wine that read makes the server attach to the other process with ptrace,
  // and two programs listing each other that way hung both.
  static const auto imageName = Lookup<FullImageName>("kernel32.dll", "QueryFullProcessImageNameA", false);
  char path[MAX_PATH] = {};
  DWORD length = 0;
  if (imageName != nullptr) {
    constexpr DWORD kQueryLimitedInformation = 0x1000;
    if (HANDLE process = OpenProcess(kQueryLimitedInformation, FALSE, processId)) {
      DWORD size = MAX_PATH;
      if (imageName(process, 0, path, &size)) length = size;
      CloseHandle(process);
    }
    if (length == 0) return fallback;
  } else {
    static const auto fileNameEx = Lookup<ModuleFileNameEx>("psapi.dll", "GetModuleFileNameExA", true);
    if (fileNameEx == nullptr) return fallback;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) return fallback;
    length = fileNameEx(process, nullptr, path, MAX_PATH);
    CloseHandle(process);
    if (length == 0) return fallback;
  }
  std::string text(path, length);
  const std::string systemRoot = "\\SystemRoot\\System32\\";
  if (text.size() >= systemRoot.size() &&
      SameTextIgnoringCase(text.substr(0, systemRoot.size()), systemRoot)) {
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    text = std::string(system) + "\\" + text.substr(systemRoot.size());
  } else if (text.compare(0, 4, "\\??\\") == 0) {
    text.erase(0, 4);
  }
  return text;
}

std::vector<ProcessEntry> NtProcesses() {
  std::vector<ProcessEntry> entries;
  static const auto query = Lookup<QuerySystemInformation>("ntdll.dll", "NtQuerySystemInformation", false);
  if (query == nullptr) return entries;
  const ULONG kProcessInformation = 5;
  ULONG needed = 0;
  std::vector<char> buffer;
  query(kProcessInformation, nullptr, 0, &needed);
  bool ok = false;
  if (needed > 0) {
    buffer.resize(needed * 2);
    ok = query(kProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) >= 0;
  }
  for (ULONG size = 128 * 1024; !ok && size <= 4 * 1024 * 1024; size *= 2) {
    buffer.assign(size, 0);
    ok = query(kProcessInformation, buffer.data(), size, &needed) >= 0;
  }
  if (!ok) return entries;
  return ParseProcessRecords(buffer.data(), buffer.size());
}

std::vector<ProcessEntry> SnapshotProcesses() {
  std::vector<ProcessEntry> entries;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return entries;
  PROCESSENTRY32 process{};
  process.dwSize = sizeof process;
  for (bool more = Process32First(snapshot, &process); more; more = Process32Next(snapshot, &process)) {
    ProcessEntry entry;
    entry.processId = process.th32ProcessID;
    SplitPathAtLastBackslash(process.szExeFile, entry.directory, entry.fileName);
    entries.push_back(entry);
  }
  CloseHandle(snapshot);
  return entries;
}

// ---- hardware ----

using GetClassDevs = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
using DestroyList = BOOL(WINAPI*)(HDEVINFO);
using EnumDevice = BOOL(WINAPI*)(HDEVINFO, DWORD, SP_DEVINFO_DATA*);
using DeviceProperty = BOOL(WINAPI*)(HDEVINFO, SP_DEVINFO_DATA*, DWORD, DWORD*, BYTE*, DWORD, DWORD*);

std::string DeviceText(DeviceProperty property, HDEVINFO list, SP_DEVINFO_DATA* device, DWORD which) {
  std::vector<char> buffer(1024, '\0');
  DWORD type = 0, needed = 0;
  if (!property(list, device, which, &type, reinterpret_cast<BYTE*>(buffer.data()),
                static_cast<DWORD>(buffer.size() - 2), &needed)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return {};
    buffer.assign(needed + 2, '\0');
    if (!property(list, device, which, &type, reinterpret_cast<BYTE*>(buffer.data()), needed, &needed))
      return {};
  }
  return buffer.data();
}

void CollectNtHardware(HardwareStore& store) {
  HMODULE setup = LoadLibraryA("setupapi.dll");
  if (setup == nullptr) return;
  auto get = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(setup, name)); };
  auto classDevs = reinterpret_cast<GetClassDevs>(get("SetupDiGetClassDevsA"));
  auto destroy = reinterpret_cast<DestroyList>(get("SetupDiDestroyDeviceInfoList"));
  auto enumerate = reinterpret_cast<EnumDevice>(get("SetupDiEnumDeviceInfo"));
  auto property = reinterpret_cast<DeviceProperty>(get("SetupDiGetDeviceRegistryPropertyA"));
  if (classDevs != nullptr && destroy != nullptr && enumerate != nullptr && property != nullptr) {
    HDEVINFO list = classDevs(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (list != INVALID_HANDLE_VALUE) {
      const std::string classKey = "System\\CurrentControlSet\\Control\\Class\\";
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      for (DWORD i = 0; enumerate(list, i, &device); ++i) {
        std::string className = DeviceText(property, list, &device, SPDRP_CLASS);
        std::string hardwareId = DeviceText(property, list, &device, SPDRP_HARDWAREID);
        if (className == "LegacyDriver" || className == "Unknown" || className == "Volume") continue;
        if (hardwareId.size() >= 3 && SameTextIgnoringCase(hardwareId.substr(0, 3), "sw\\")) continue;
        std::string classText = RegistryText(
            HKEY_LOCAL_MACHINE, classKey + DeviceText(property, list, &device, SPDRP_CLASSGUID), "");
        if (classText.empty()) classText = className;
        if (classText.empty()) continue;
        std::string text = DeviceText(property, list, &device, SPDRP_FRIENDLYNAME);
        if (text.empty()) text = DeviceText(property, list, &device, SPDRP_DEVICEDESC);
        std::string driver = DeviceText(property, list, &device, SPDRP_DRIVER);
        std::string driverPath = driver.empty() ? std::string() : classKey + driver;
        if (!driverPath.empty()) {
          DWORD type = 0, characteristics = 0;
          RegistryText(HKEY_LOCAL_MACHINE, driverPath, "Characteristics", &type, &characteristics);
          if (type == REG_DWORD && (characteristics & 8) != 0) continue;
        }
        store.Insert(classText, text, driverPath);
      }
      destroy(list);
    }
  }
  FreeLibrary(setup);
}

std::string DriverSuffix(const HardwareStore::Device& device) {
  if (device.driverPath.empty()) return {};
  std::string provider = RegistryText(HKEY_LOCAL_MACHINE, device.driverPath, "ProviderName");
  if (provider.empty() || provider[0] == '(' || SameTextIgnoringCase(provider, "Microsoft")) return {};
  std::string version = RegistryText(HKEY_LOCAL_MACHINE, device.driverPath, "DriverVersion");
  if (version.empty()) version = RegistryText(HKEY_LOCAL_MACHINE, device.driverPath, "DriverDate");
  version = TrimmedText(version);
  return version.empty() ? std::string() : " (driver " + version + ")";
}

int gStartups = 0;

}  // namespace

std::vector<ProcessEntry> ParseProcessRecords(const char* data, size_t size) {
  std::vector<ProcessEntry> entries;
  size_t offset = 0;
  while (offset + sizeof(ProcessRecord) <= size) {
    const auto* record = reinterpret_cast<const ProcessRecord*>(data + offset);
    ProcessEntry entry;
    entry.processId = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record->processId));
    entry.logon = record->sessionId;
    if (record->imageName.buffer == nullptr || record->imageName.length == 0) {
      entry.fileName = "Idle";
    } else {
      std::string path = FullProcessPath(entry.processId, NarrowName(record->imageName));
      SplitPathAtLastBackslash(path, entry.directory, entry.fileName);
    }
    entries.push_back(entry);
    if (record->nextEntryOffset == 0) break;
    offset += record->nextEntryOffset;
  }
  return entries;
}

std::string ModuleListText() {
  std::vector<ModuleEntry> modules;
  modules.reserve(32);
  uintptr_t address = 0;
  void* previousBase = reinterpret_cast<void*>(1);
  MEMORY_BASIC_INFORMATION info;
  while (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == sizeof info) {
    if (info.State == MEM_COMMIT && info.BaseAddress == info.AllocationBase &&
        info.AllocationBase != previousBase) {
      char path[MAX_PATH] = {};
      DWORD length = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, MAX_PATH);
      if (length > 0) {
        ModuleEntry entry;
        entry.base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.AllocationBase));
        SplitPathAtLastBackslash(std::string(path, length), entry.directory, entry.fileName);
        entry.version = FileVersionValue(path);
        modules.push_back(entry);
      }
    }
    previousBase = info.AllocationBase;
    uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return ModuleListLayout(modules);
}

std::string ProcessListText() {
  OsVersionInfo os = GetOsVersionInfo();
  std::vector<ProcessEntry> processes = os.isNt ? NtProcesses() : SnapshotProcesses();
  static const auto guiResources =
      os.isNt ? Lookup<GuiResources>("user32.dll", "GetGuiResources", false) : nullptr;
  for (ProcessEntry& entry : processes) {
    if (entry.processId == 0) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.processId);
    if (process == nullptr) continue;
    entry.priorityClass = static_cast<int32_t>(GetPriorityClass(process));
    if (guiResources != nullptr) {
      entry.gdiObjects = guiResources(process, GR_GDIOBJECTS);
      entry.userObjects = guiResources(process, GR_USEROBJECTS);
    }
    CloseHandle(process);
  }
  return ProcessListLayout(processes);
}

std::string HardwareListText() {
  HardwareStore store;
  if (GetOsVersionInfo().isNt) CollectNtHardware(store);
  return store.Text(DriverSuffix);
}

void ReportStartup() {
  if (gStartups++ != 0) return;
  // Settings objects build their lists at first use, so even those made earlier get these.
  InstallSettingsLists();
  RecordProgramStart();
  RegisterReportPlugin("hardware", "list of installed hardware", &HardwareListText, true);
  RegisterReportPlugin("processes", "list of running processes", &ProcessListText, true);
  RegisterReportPlugin("modules", "list of loaded modules", &ModuleListText, true);
}

void ReportShutdown() {
  if (gStartups == 0 || --gStartups != 0) return;
  UnregisterReportPlugin("modules");
  UnregisterReportPlugin("processes");
  UnregisterReportPlugin("hardware");
  RemoveSettingsLists();
}

}  // namespace qx
