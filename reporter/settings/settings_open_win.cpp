#include "settings_open_win.h"

#include <shlobj.h>

#include <cstring>
#include <new>

#include "placeholders.h"
#include "settings_buffer_win.h"
#include "settings_object_win.h"
#include "sync_win.h"

namespace qx {

namespace {

// This module's main settings. Set at start-up and cleared at shut-down, while no other
// thread of the reporter runs; readers only copy the pointer and take a reference.
IKVModuleSettings* gMainSettings = nullptr;
HMODULE gMainModule = nullptr;

// Made at first use and never destroyed: the main settings may be asked for before this
// unit's static objects exist and after they are gone.
CriticalSection& MainLock() {
  alignas(CriticalSection) static unsigned char storage[sizeof(CriticalSection)];
  static CriticalSection* lock = new (storage) CriticalSection;
  return *lock;
}

std::string FileNameOf(HMODULE module) {
  char path[MAX_PATH * 2];
  DWORD length = GetModuleFileNameA(module, path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::string();
  std::string text(path, length);
  size_t slash = text.find_last_of("\\/");
  return slash == std::string::npos ? text : text.substr(slash + 1);
}

std::string FolderOf(HMODULE module) {
  char path[MAX_PATH * 2];
  DWORD length = GetModuleFileNameA(module, path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::string();
  std::string text(path, length);
  size_t slash = text.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

// The file version of the module's version resource, 0 when there is none.
uint64_t ModuleFileVersion(HMODULE module) {
  HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
  if (info == nullptr) return 0;
  HGLOBAL loaded = LoadResource(module, info);
  const auto* data = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
  DWORD size = SizeofResource(module, info);
  if (data == nullptr) return 0;
  // VS_FIXEDFILEINFO starts with its signature on a 32-bit boundary.
  for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, data + at, sizeof fixed);
    if (fixed.dwSignature == 0xFEEF04BD)
      return (uint64_t{fixed.dwFileVersionMS} << 32) | fixed.dwFileVersionLS;
  }
  return 0;
}

std::string VersionOf(HMODULE module) {
  std::string version;
  if (auto settings = SettingsForModule(module)) version = settings->Version();
  return version.empty() ? FileVersionText(ModuleFileVersion(module)) : version;
}

std::string ShellFolder(int folder) {
  char path[MAX_PATH];
  if (FAILED(SHGetFolderPathA(nullptr, folder, nullptr, 0, path))) return std::string();
  std::string text = path;
  if (text.empty()) text = FolderOf(nullptr);
  while (!text.empty() && text.back() == '\\') text.pop_back();
  return text;
}

class WindowsPlaceholderSource : public PlaceholderSource {
 public:
  explicit WindowsPlaceholderSource(HMODULE module) : module_(module) {}
  std::string AppName() override { return FileNameOf(nullptr); }
  std::string ModuleName() override { return FileNameOf(module_); }
  std::string AppVersion() override { return VersionOf(GetModuleHandleA(nullptr)); }
  std::string ModuleVersion() override { return VersionOf(module_); }
  LocalTime Now() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
  }
  std::string ComputerName() override {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
  }
  std::string UserAppData() override { return ShellFolder(CSIDL_APPDATA); }
  std::string CommonAppData() override { return ShellFolder(CSIDL_COMMON_APPDATA); }

 private:
  HMODULE module_;
};

bool NoSettingsOf(const ComPtr<IKVModuleSettings>& settings) {
  return settings->GetNoSettings();
}

// The allocation base of the memory that holds `address`, when it is committed.
HMODULE AllocationOf(const void* address) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(address, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT)
    return nullptr;
  return static_cast<HMODULE>(info.AllocationBase);
}

bool IsModuleWithSettings(HMODULE base) {
  MEMORY_BASIC_INFORMATION info;
  return base != nullptr && VirtualQuery(base, &info, sizeof info) == sizeof info &&
         info.Type == MEM_IMAGE && ModuleHasSettings(base);
}

}  // namespace

HMODULE ReporterModule() {
  static HMODULE module = [] {
    HMODULE found = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&ReporterModule), &found);
    return found;
  }();
  return module;
}

void SettingsStartup() {
  ComPtr<IKVModuleSettings> main = SettingsForModule(ReporterModule());
  CriticalSectionGuard guard(MainLock());
  if (gMainSettings == nullptr && main) {
    gMainModule = main->ModuleHandle();
    gMainSettings = main.Detach();
  }
}

void SettingsShutdown() {
  UnlistModuleRecord(ReporterModule());
  ReleaseMainSettings();
}

void ReleaseMainSettings() {
  IKVModuleSettings* main = nullptr;
  {
    CriticalSectionGuard guard(MainLock());
    main = gMainSettings;
    gMainSettings = nullptr;
    gMainModule = nullptr;
  }
  if (main != nullptr) main->Release();
}

ComPtr<IKVModuleSettings> MainSettings() {
  CriticalSectionGuard guard(MainLock());
  return ComPtr<IKVModuleSettings>(gMainSettings);
}

HMODULE MainSettingsModule() { return gMainModule; }

ComPtr<IKVModuleSettings> FindSharedSettings() {
  ComPtr<IKVModuleSettings> result;
  if (ModuleHasSettings(ReporterModule())) result = OpenModuleSettings(ReporterModule());
  if (!result || NoSettingsOf(result)) {
    HMODULE ide = GetModuleHandleA("qelExceptIde_.bpl");
    if (ide != nullptr && ModuleHasSettings(ide)) result = OpenModuleSettings(ide);
  }
  if (!result || NoSettingsOf(result)) {
    const char* address = nullptr;
    void* previousBase = nullptr;
    MEMORY_BASIC_INFORMATION info;
    while (VirtualQuery(address, &info, sizeof info) == sizeof info) {
      if (info.State == MEM_COMMIT && info.AllocationBase == info.BaseAddress &&
          info.AllocationBase != previousBase) {
        auto base = static_cast<HMODULE>(info.AllocationBase);
        if (info.Type == MEM_IMAGE && ModuleHasSettings(base)) {
          ComPtr<IKVModuleSettings> candidate = OpenModuleSettings(base);
          if (candidate && (!result || !NoSettingsOf(candidate))) result = candidate;
          if (result && !NoSettingsOf(result)) break;
        }
      }
      previousBase = info.AllocationBase;
      const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
      if (next <= address) break;
      address = next;
    }
  }
  return result;
}

ComPtr<IKVModuleSettings> SettingsForModule(HMODULE module) {
  ComPtr<IKVModuleSettings> own = OpenModuleSettings(module);
  if (!own || !own->HasSettings() || !NoSettingsOf(own)) return own;
  ComPtr<IKVModuleSettings> shared = FindSharedSettings();
  if (shared && shared->HasSettings() && !NoSettingsOf(shared)) return shared;
  return own;
}

ComPtr<IKVModuleSettings> SettingsForAddress(const void* address) {
  ComPtr<IKVModuleSettings> result;
  HMODULE base = AllocationOf(address);
  if (base != nullptr && base != ReporterModule() && IsModuleWithSettings(base))
    result = OpenModuleSettings(base);
  if (!result || (result->HasSettings() && NoSettingsOf(result))) {
    ComPtr<IKVModuleSettings> shared = FindSharedSettings();
    if (!result || (shared && shared->HasSettings() && !NoSettingsOf(shared)))
      if (shared) result = shared;
  }
  if (!result) result = OpenModuleSettings(ReporterModule());
  return result;
}

__attribute__((noinline)) ComPtr<IKVModuleSettings> SettingsForCaller() {
  return SettingsForAddress(__builtin_return_address(0));
}

__attribute__((noinline)) ComPtr<IKVModuleSettings> SettingsForFrame(int level) {
  // The chain of saved frame pointers, checked against this thread's stack at each step.
  NT_TIB* tib;
  asm("movl %%fs:0x18, %0" : "=r"(tib));
  auto low = reinterpret_cast<uintptr_t>(tib->StackLimit);
  auto high = reinterpret_cast<uintptr_t>(tib->StackBase);
  auto* frame = static_cast<void**>(__builtin_frame_address(0));
  for (int i = 0; i < level && frame != nullptr; ++i) {
    auto* next = static_cast<void**>(frame[0]);
    auto at = reinterpret_cast<uintptr_t>(next);
    if (at <= reinterpret_cast<uintptr_t>(frame) || at < low || at + 8 > high) {
      frame = nullptr;
      break;
    }
    frame = next;
  }
  return SettingsForAddress(frame != nullptr ? frame[1] : nullptr);
}

std::string ExpandSettingsText(HMODULE module, const std::string& text,
                               const ExceptionTexts* exception) {
  WindowsPlaceholderSource source(module);
  return ExpandPlaceholders(text, source, exception);
}

}  // namespace qx
