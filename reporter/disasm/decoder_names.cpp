// Names of code addresses: a module's exports (read from its mapped image through the
// CodeMemory) and, failing that, the debug-information map's hook.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "decoder.h"

namespace qx {
namespace {

template <class T>
bool ReadValue(CodeMemory& memory, uint32_t address, T& value) {
  return memory.Read(address, &value, sizeof value);
}

struct TExportDirectory {
  uint32_t characteristics, timeDateStamp;
  uint16_t majorVersion, minorVersion;
  uint32_t name, ordinalBase, numberOfFunctions, numberOfNames;
  uint32_t addressOfFunctions, addressOfNames, addressOfNameOrdinals;
};

// Reads a zero-terminated name of at most 1024 bytes.
bool ReadName(CodeMemory& memory, uint32_t address, std::string& name) {
  name.clear();
  char chunk[64];
  while (name.size() < 1024) {
    uint32_t count = sizeof chunk;
    // Near the end of a region fall back to single bytes.
    if (!memory.Read(address, chunk, count)) {
      count = 1;
      if (!memory.Read(address, chunk, 1)) return false;
    }
    const void* end = std::memchr(chunk, 0, count);
    if (end) {
      name.append(chunk, static_cast<const char*>(end) - chunk);
      return true;
    }
    name.append(chunk, count);
    address += count;
  }
  return false;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::string UnmangleExportName(const std::string& name) {
  if (name.size() > 1 && name[0] == '@') {
    // Borland style: "@Unit@[Class@]Routine$signature".
    std::string body = name.substr(1, name.find('$') == std::string::npos
                                          ? std::string::npos
                                          : name.find('$') - 1);
    size_t firstAt = body.find('@');
    if (firstAt == std::string::npos || firstAt == 0) return name;
    std::string unit = body.substr(0, firstAt);
    std::string routine = body.substr(firstAt + 1);
    for (char& c : routine) {
      if (c == '@') c = '.';
    }
    if (routine.empty()) return name;
    return routine + "." + unit;
  }
  size_t at = name.rfind('@');
  if (at != std::string::npos && at > 0 && AllDigits(name.substr(at + 1))) {
    size_t begin = name[0] == '_' && at > 1 ? 1 : 0;
    return name.substr(begin, at - begin);
  }
  return name;
}

namespace {

// The export table of the module looked at last, sorted by address. Listings and comments ask
// for the names of many addresses of the same few modules; each thread keeps its own.
struct TExportCache {
  const CodeMemory* memory = nullptr;
  uint32_t moduleBase = 0;
  TExportDirectory directory{};
  std::vector<std::pair<uint32_t, uint32_t>> byRva;  // (rva, function index)
  std::vector<int32_t> nameOfIndex;                  // index into the name table, or -1
};

bool LoadExports(CodeMemory& memory, uint32_t moduleBase, TExportCache& cache) {
  uint16_t magic = 0;
  uint32_t peOffset = 0;
  if (!ReadValue(memory, moduleBase, magic) || magic != 0x5A4D) return false;
  if (!ReadValue(memory, moduleBase + 0x3C, peOffset) || peOffset > 0x10000000) return false;
  const uint32_t pe = moduleBase + peOffset;
  uint32_t signature = 0, exportRva = 0, rvaCount = 0;
  uint16_t optionalMagic = 0;
  if (!ReadValue(memory, pe, signature) || signature != 0x00004550) return false;
  if (!ReadValue(memory, pe + 24, optionalMagic) || optionalMagic != 0x10B) return false;
  if (!ReadValue(memory, pe + 24 + 92, rvaCount) || rvaCount < 1) return false;
  if (!ReadValue(memory, pe + 24 + 96, exportRva) || exportRva == 0) return false;
  TExportDirectory directory;
  if (!ReadValue(memory, moduleBase + exportRva, directory)) return false;
  if (cache.memory == &memory && cache.moduleBase == moduleBase &&
      std::memcmp(&cache.directory, &directory, sizeof directory) == 0) {
    return true;
  }
  const uint32_t functionCount = directory.numberOfFunctions;
  const uint32_t nameCount = directory.numberOfNames;
  if (functionCount == 0 || functionCount > 0x10000 || nameCount > 0x10000) return false;
  std::vector<uint32_t> functions(functionCount);
  if (!memory.Read(moduleBase + directory.addressOfFunctions, functions.data(),
                   functionCount * 4)) {
    return false;
  }
  cache.memory = nullptr;
  cache.byRva.clear();
  for (uint32_t i = 0; i < functionCount; ++i) cache.byRva.emplace_back(functions[i], i);
  std::sort(cache.byRva.begin(), cache.byRva.end());
  cache.nameOfIndex.assign(functionCount, -1);
  std::vector<uint16_t> ordinals(nameCount);
  if (nameCount > 0 && memory.Read(moduleBase + directory.addressOfNameOrdinals, ordinals.data(),
                                   nameCount * 2)) {
    for (uint32_t i = nameCount; i-- > 0;) {
      if (ordinals[i] < functionCount) cache.nameOfIndex[ordinals[i]] = static_cast<int32_t>(i);
    }
  }
  cache.memory = &memory;
  cache.moduleBase = moduleBase;
  cache.directory = directory;
  return true;
}

}  // namespace

std::string ExportNameAt(CodeMemory& memory, uint32_t moduleBase, uint32_t address,
                         bool unmangle) {
  // One cache for the process, not one per thread: a thread-local object with a destructor
  // makes the C++ runtime pin the module, which then can never be unloaded.
  static std::mutex cacheLock;
  static TExportCache cache;
  std::lock_guard<std::mutex> hold(cacheLock);
  if (!LoadExports(memory, moduleBase, cache)) return {};
  const uint32_t rva = address - moduleBase;
  auto found = std::lower_bound(cache.byRva.begin(), cache.byRva.end(),
                                std::make_pair(rva, 0u));
  if (found == cache.byRva.end() || found->first != rva) return {};
  const uint32_t index = found->second;
  const int32_t nameIndex = cache.nameOfIndex[index];
  if (nameIndex >= 0) {
    uint32_t nameRva = 0;
    std::string name;
    if (ReadValue(memory, moduleBase + cache.directory.addressOfNames + nameIndex * 4, nameRva) &&
        ReadName(memory, moduleBase + nameRva, name) && !name.empty()) {
      return unmangle ? UnmangleExportName(name) : name;
    }
  }
  std::string ordinal(1, '#');
  ordinal += std::to_string(cache.directory.ordinalBase + index);
  return ordinal;
}

std::string FunctionNameAt(CodeMemory& memory, uint32_t address, TModuleInfo* moduleOut) {
  TModuleInfo module;
  std::string name;
  if (memory.ModuleAt(address, module)) {
    name = ExportNameAt(memory, module.base, address, true);
  }
  if (name.empty() && MapProcNameHook) {
    std::string fromMap;
    if (MapProcNameHook(address, fromMap)) name = fromMap;
  }
  if (moduleOut) *moduleOut = module;
  return name;
}

}  // namespace qx
