// Locating and caching the map of a loaded module, and the lookups built on it.
#include <windows.h>

#include <mutex>

#include "decoder_win.h"
#include "function_win.h"
#include "process_registries.h"
#include "map_lookup.h"
#include "map_sources.h"
#include "pe_image.h"

namespace qx {

namespace {

// The cache is reached from the handling thread and from report building; building a map
// happens outside the lock, so a slow build never blocks another module's lookup.
std::mutex gCacheLock;
TMapCache gCache;

class TModuleEnvironment : public IMapEnvironment {
 public:
  explicit TModuleEnvironment(HMODULE module) : module_(module) {}

  bool ReadResource(bool rcData, const char* type, const char* name, std::string& out) override {
    HRSRC info = FindResourceA(module_, name, rcData ? MAKEINTRESOURCEA(10) : type);
    if (info == nullptr) return false;
    HGLOBAL handle = LoadResource(module_, info);
    DWORD size = SizeofResource(module_, info);
    const void* data = handle != nullptr ? LockResource(handle) : nullptr;
    if (data == nullptr) return false;
    out.assign(static_cast<const char*>(data), size);
    return true;
  }

  bool ReadWholeFile(const std::string& path, std::string& out) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = false;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (size != INVALID_FILE_SIZE && high == 0) {
      std::string data(size, '\0');
      DWORD read = 0;
      ok = size == 0 || (ReadFile(file, data.data(), size, &read, nullptr) && read == size);
      if (ok) out = std::move(data);
    }
    CloseHandle(file);
    return ok;
  }

  bool FileLastWriteDay(const std::string& path, int64_t& day) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    ULARGE_INTEGER t;
    t.LowPart = data.ftLastWriteTime.dwLowDateTime;
    t.HighPart = data.ftLastWriteTime.dwHighDateTime;
    day = static_cast<int64_t>(t.QuadPart / 864000000000ull);
    return true;
  }

 private:
  HMODULE module_;
};

// Last-write stamp of a file in the FAT date/time format; 0 when unknown.
uint32_t FileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  FILETIME local;
  WORD date = 0, time = 0;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return uint32_t(date) << 16 | time;
}

// The loaded image as a byte range, from its own headers (read through the checked read of
// the own process).
std::string_view LoadedImage(HMODULE module) {
  const uint32_t base = reinterpret_cast<uint32_t>(module);
  PeImage image(ProcessMemory(), base, PeLayout::kLoaded);
  if (base == 0 || !image.Open()) return {};
  return std::string_view(reinterpret_cast<const char*>(module), image.SizeOfImage());
}

TMapFileRef InvalidMap() { return std::make_shared<TMapFile>(); }

}  // namespace

TMapFileRef LocateMap(uint32_t address) {
  try {
    if (address == 0) address = reinterpret_cast<uint32_t>(&LocateMap);
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == 0 ||
        info.State != MEM_COMMIT || info.AllocationBase == nullptr)
      return InvalidMap();
    HMODULE module = static_cast<HMODULE>(info.AllocationBase);
    char name[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return InvalidMap();
    const std::string fileName(name, length);
    const uint32_t stamp = FileStamp(fileName);
    {
      std::lock_guard<std::mutex> hold(gCacheLock);
      if (TMapFileRef cached = gCache.Find(fileName, stamp)) return cached;
    }
    auto map = std::make_shared<TMapFile>();
    TModuleEnvironment env(module);
    BuildMapFile(*map, reinterpret_cast<uint32_t>(module), fileName, LoadedImage(module), env);
    if (map->isValid) {
      std::lock_guard<std::mutex> hold(gCacheLock);
      gCache.Add(stamp, map);
    }
    return map;
  } catch (...) {
    return InvalidMap();
  }
}

bool LookupAddress(uint32_t address, TMfLookup& result) {
  if (address == 0)
    address = reinterpret_cast<uint32_t>(__builtin_extract_return_addr(__builtin_return_address(0))) - 1;
  try {
    TMapFileRef map = LocateMap(address);
    return LookupInMap(*map, address, result);
  } catch (...) {
    result = TMfLookup{};
    return false;
  }
}

std::string LookupProcName(uint32_t address) {
  try {
    return ProcNameInMap(*LocateMap(address), address);
  } catch (...) {
    return {};
  }
}

void LookupLine(uint32_t address, uint32_t& line, uint32_t& rangeBegin, uint32_t& rangeEnd) {
  if (line != 0 && address >= rangeBegin && address < rangeEnd) return;
  try {
    LineHookInMap(*LocateMap(address), address, line, rangeBegin, rangeEnd);
  } catch (...) {
    line = 0;
    rangeBegin = address;
    rangeEnd = address + 1;
  }
}

bool ProcNameHookEntry(uint32_t address, std::string& name) {
  std::string found = LookupProcName(address);
  if (found.empty()) return false;
  name = std::move(found);
  return true;
}

namespace {

// A code public of any unit with exactly that name; 0 when none.
uint32_t CodePublicOfAnyUnit(const TMapFile& map, const std::string& name) {
  for (const TMfPublic& item : map.publics.Items())
    if (item.isCode != 0 && item.name == name) return item.address;
  return 0;
}

// Whether a return of the function removes arguments from the stack (ret n, retf n).
bool RemovesArguments(const TFunctionInfo& info) {
  for (const TCodeArea& area : info.codeAreas) {
    if (area.end == 0 || area.isCaseTable || area.isExceptTable) continue;
    for (uint32_t at = area.begin; at <= area.end;) {
      const TInstrInfo instr = DecodeInstruction(reinterpret_cast<const void*>(at));
      if (!instr.isValid || instr.next <= at) return true;
      if (instr.opcode == 0xC2 || instr.opcode == 0xCA) return true;
      at = instr.next;
    }
  }
  return false;
}

}  // namespace

uint32_t HandlerRoutine(uintptr_t moduleBase, const std::string& name) {
  try {
    TMapFileRef map = LocateMap(static_cast<uint32_t>(moduleBase));
    if (!map->isValid || name.empty()) return 0;
    // Unit names carry dots of their own ("handlers.cpp"): the routine follows the last.
    const size_t dot = name.rfind('.');
    const uint32_t entry =
        dot == std::string::npos
            ? CodePublicOfAnyUnit(*map, name)
            : PublicByName(*map, true, std::string_view(name).substr(0, dot), true,
                           std::string_view(name).substr(dot + 1));
    if (entry == 0) return 0;
    const TFunctionInfo info = ParseFunction(reinterpret_cast<const void*>(entry));
    return info.isValid && !RemovesArguments(info) ? entry : 0;
  } catch (...) {
    return 0;
  }
}

void MapFileStartup() {
  MapProcNameHook = &ProcNameHookEntry;
  MapLineHook = &LookupLine;
  MapHandlerRoutineHook = &HandlerRoutine;
  // This runtime's mutexes allocate their state on their first lock: taken once now, the
  // lookups of a fault after heap corruption need no heap for them.
  { std::lock_guard<std::mutex> hold(gCacheLock); }
  PrepareExportNames();
}

void MapFileShutdown() {
  MapProcNameHook = nullptr;
  MapLineHook = nullptr;
  MapHandlerRoutineHook = nullptr;
  std::lock_guard<std::mutex> hold(gCacheLock);
  gCache.Clear();
}

}  // namespace qx
