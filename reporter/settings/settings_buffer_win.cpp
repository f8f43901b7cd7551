#include "settings_buffer_win.h"

#include <cstdio>

#include "desktop_visibility_win.h"
#include "own_security_win.h"
#include "password_scramble.h"
#include "settings_open_win.h"
#include "settings_stream.h"

namespace qx {

namespace {

// Long enough for any copy of the reporter that maps or unmaps the block; only a holder
// that never lets go waits it out.
constexpr DWORD kSettingsMutexWaitMs = 2000;

// This copy's view of the shared block and the references it holds on it.
SettingsBuffer* gBuffer = nullptr;
volatile LONG gLocalReferences = 0;
SettingsMessageHandler gMessageHandler = nullptr;

void* ProcessHeapAllocate(size_t size) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}
void ProcessHeapRelease(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

std::string AnsiFromWide(const wchar_t* units, int count) {
  if (count <= 0) return std::string();
  int size = WideCharToMultiByte(CP_ACP, 0, units, count, nullptr, 0, nullptr, nullptr);
  std::string text(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, units, count, text.data(), size, nullptr, nullptr);
  return text;
}

std::string AnsiFromUtf16(const char16_t* units, size_t count) {
  return AnsiFromWide(reinterpret_cast<const wchar_t*>(units), static_cast<int>(count));
}

std::string AnsiFromUtf8(const char* bytes, size_t count) {
  if (count == 0) return std::string();
  int units = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(count), nullptr, 0);
  if (units <= 0) return std::string();
  std::wstring wide(units, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(count), wide.data(), units);
  return AnsiFromWide(wide.data(), units);
}

const TextConverter kSystemCodePage{AnsiFromUtf16, AnsiFromUtf8};

// The named mutex that orders the copies of the reporter in this process as they map and
// unmap the shared block; open to this process's user and SYSTEM only, not inherited.
// Start-up takes it inside the loader lock, so the wait is bounded: whoever else holds it
// past the bound makes this copy go on without it (Held() is false) rather than hang the
// thread that loads the module.
class SettingsMutex {
 public:
  SettingsMutex() {
    OwnProcessSecurity security;
    std::string name = ProcessObjectName("qelExceptSettingsMtx", GetCurrentProcessId());
    handle_ = CreateMutexA(security.Attributes(), FALSE, name.c_str());
    if (handle_ == nullptr) return;
    DWORD result = WaitForSingleObject(handle_, kSettingsMutexWaitMs);
    held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }
  ~SettingsMutex() {
    if (handle_ == nullptr) return;
    if (held_) ReleaseMutex(handle_);
    CloseHandle(handle_);
  }
  SettingsMutex(const SettingsMutex&) = delete;
  SettingsMutex& operator=(const SettingsMutex&) = delete;

  bool Held() const { return held_; }

 private:
  HANDLE handle_ = nullptr;
  bool held_ = false;
};

// A block of this copy's own, for when the mutex of the shared one could not be had: the
// settings work as ever, only other copies of the reporter in the process do not see them.
HANDLE CreatePrivateBlock() {
  return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                            sizeof(SettingsBuffer), nullptr);
}

// Adds 1 to `count` unless it is below `least`; true when it did.
bool IncrementFrom(volatile LONG& count, LONG least) {
  for (LONG seen = count; seen >= least; seen = count)
    if (InterlockedCompareExchange(&count, seen + 1, seen) == seen) return true;
  return false;
}

// Subtracts 1 from `count` unless that would leave it below `least`.
bool DecrementTo(volatile LONG& count, LONG least) {
  for (LONG seen = count; seen - 1 >= least; seen = count)
    if (InterlockedCompareExchange(&count, seen - 1, seen) == seen) return true;
  return false;
}

// While this copy holds a reference, the block stays mapped and alive, so further
// references and releases that do not end this copy's use of it need not take the mutex:
// settings objects are created per query, and the mutex costs a kernel call each way.
bool ReferenceBuffer() {
  if (IncrementFrom(gLocalReferences, 1)) {
    InterlockedIncrement(&gBuffer->refCount);
    return true;
  }
  SettingsMutex mutex;
  if (gBuffer == nullptr) {
    HANDLE mapping;
    bool existed = false;
    if (mutex.Held()) {
      OwnProcessSecurity security;
      std::string name = ProcessObjectName("qelExceptSettingsBuf", GetCurrentProcessId());
      mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE,
                                   0, sizeof(SettingsBuffer), name.c_str());
      existed = mapping != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    } else {
      mapping = CreatePrivateBlock();
    }
    void* view = mapping == nullptr
                     ? nullptr
                     : MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SettingsBuffer));
    if (view == nullptr) {
      if (mapping != nullptr) CloseHandle(mapping);
      ShowSettingsMessage("internal error (opening settings buffer)");
      return false;
    }
    gBuffer = static_cast<SettingsBuffer*>(view);
    if (existed) {
      // The creator's handle keeps the block alive; this copy needs only its view.
      CloseHandle(mapping);
    } else {
      gBuffer->refCount = 0;
      gBuffer->mapping = mapping;
      InitializeCriticalSection(&gBuffer->lock);
      gBuffer->head = nullptr;
      gBuffer->reserved = 0;
    }
  }
  InterlockedIncrement(&gBuffer->refCount);
  InterlockedIncrement(&gLocalReferences);
  return true;
}

// Each copy unmaps its view when its own references end; the last reference of the
// process also destroys the lock and closes the block.
void ReleaseBuffer() {
  // Not this copy's last reference: the process-wide count stays above 0 as well.
  if (DecrementTo(gLocalReferences, 1)) {
    InterlockedDecrement(&gBuffer->refCount);
    return;
  }
  // Without the mutex (somebody holds it past the bound) the release goes on all the same:
  // the counts are interlocked, and a module being unloaded must not wait forever.
  SettingsMutex mutex;
  if (gBuffer == nullptr) return;
  bool lastOfCopy = InterlockedDecrement(&gLocalReferences) <= 0;
  if (InterlockedDecrement(&gBuffer->refCount) <= 0) {
    HANDLE mapping = gBuffer->mapping;
    DeleteCriticalSection(&gBuffer->lock);
    UnmapViewOfFile(gBuffer);
    gBuffer = nullptr;
    gLocalReferences = 0;
    if (mapping != nullptr) CloseHandle(mapping);
  } else if (lastOfCopy) {
    UnmapViewOfFile(gBuffer);
    gBuffer = nullptr;
    gLocalReferences = 0;
  }
}

std::string TextOf(TSettingsModule& record, const char* name) {
  TSettingsProperty* property = FindProperty(record.properties, record.count, name);
  return property != nullptr ? PropertyText(*property) : std::string();
}

void DescramblePasswordProperty(TSettingsModule& record, const char* password,
                                const char* account, const char* server) {
  TSettingsProperty* property = FindProperty(record.properties, record.count, password);
  if (property == nullptr || property->text == nullptr) return;
  auto plain = DescramblePassword(property->text, TextOf(record, account), TextOf(record, server));
  // A text that is not in the scrambled form is taken as it is.
  if (plain) StorePropertyText(record, *property, *plain, ProcessPropertyHeap());
}

void ReadModuleStream(TSettingsModule& record) {
  StreamParseResult parsed;
  auto module = static_cast<HMODULE>(record.module);
  if (HRSRC info = FindResourceA(module, "TQELEXCEPT", MAKEINTRESOURCEA(10))) {
    HGLOBAL loaded = LoadResource(module, info);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data != nullptr)
      parsed = ParseSettingsStream(static_cast<const uint8_t*>(data),
                                   SizeofResource(module, info), kSystemCodePage);
  }
  if (parsed.invalidTypeByte >= 0)
    ShowSettingsMessage(
        InvalidSettingsResourceMessage(static_cast<uint8_t>(parsed.invalidTypeByte)).c_str());
  PropertyWriteLock lock(&record, ProcessPropertyHeap());
  if (!lock.Held()) return;
  LoadProperties(record, parsed, ProcessPropertyHeap());
  DescramblePasswordProperty(record, "SmtpPassword", "SmtpAccount", "SmtpServer");
  DescramblePasswordProperty(record, "HttpPassword", "HttpAccount", "HttpServer");
}

}  // namespace

std::string ProcessObjectName(const char* prefix, DWORD processId) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "$%lx", static_cast<unsigned long>(processId));
  return std::string(prefix) + suffix;
}

const PropertyHeap& ProcessPropertyHeap() {
  static const PropertyHeap heap{ProcessHeapAllocate, ProcessHeapRelease};
  return heap;
}

bool ModuleHasSettings(HMODULE module) {
  return module != nullptr && FindResourceA(module, "TQELEXCEPT", MAKEINTRESOURCEA(10)) != nullptr;
}

TSettingsModule* ReferenceModuleRecord(HMODULE module) {
  if (!ModuleHasSettings(module)) return nullptr;
  if (!ReferenceBuffer()) return nullptr;
  SettingsBuffer* buffer = gBuffer;
  TSettingsModule* record = nullptr;
  EnterCriticalSection(&buffer->lock);
  TSettingsModule** link = &buffer->head;
  for (; *link != nullptr; link = &(*link)->next) {
    if ((*link)->module == module) {
      record = *link;
      break;
    }
  }
  if (record == nullptr) {
    record = static_cast<TSettingsModule*>(ProcessHeapAllocate(sizeof(TSettingsModule)));
    if (record != nullptr) {
      *link = record;
      record->module = module;
      ReadModuleStream(*record);
    }
  }
  if (record != nullptr) ++record->refCount;
  LeaveCriticalSection(&buffer->lock);
  if (record == nullptr) ReleaseBuffer();
  return record;
}

void ReleaseModuleRecord(TSettingsModule* record) {
  if (record == nullptr || gBuffer == nullptr) return;
  EnterCriticalSection(&gBuffer->lock);
  if (record->refCount <= 1) {
    for (TSettingsModule** link = &gBuffer->head; *link != nullptr; link = &(*link)->next) {
      if (*link == record) {
        *link = record->next;
        break;
      }
    }
    FreeProperties(*record, ProcessPropertyHeap());
    ProcessHeapRelease(record);
  } else {
    --record->refCount;
  }
  LeaveCriticalSection(&gBuffer->lock);
  ReleaseBuffer();
}

void RereadModuleRecord(TSettingsModule* record) {
  if (record == nullptr || gBuffer == nullptr) return;
  EnterCriticalSection(&gBuffer->lock);
  ReadModuleStream(*record);
  LeaveCriticalSection(&gBuffer->lock);
}

void UnlistModuleRecord(HMODULE module) {
  if (gBuffer == nullptr) return;
  EnterCriticalSection(&gBuffer->lock);
  for (TSettingsModule** link = &gBuffer->head; *link != nullptr; link = &(*link)->next) {
    if ((*link)->module == module) {
      TSettingsModule* record = *link;
      *link = record->next;
      record->next = nullptr;
      break;
    }
  }
  LeaveCriticalSection(&gBuffer->lock);
}

SettingsBuffer* MappedSettingsBuffer() { return gBuffer; }

void SetSettingsMessageHandler(SettingsMessageHandler handler) { gMessageHandler = handler; }

void ShowSettingsMessage(const char* text) {
  if (gMessageHandler != nullptr) {
    gMessageHandler(text);
    return;
  }
  // Nobody could dismiss the box: the message goes to a debugger, if one listens.
  if (!WindowsCanBeSeen(ReporterModule() == GetModuleHandleA(nullptr))) {
    OutputDebugStringA(text);
    return;
  }
  MessageBoxA(nullptr, text, "qelExcept", MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_TOPMOST);
}

}  // namespace qx
