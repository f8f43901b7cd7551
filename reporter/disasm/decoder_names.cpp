// Names of code addresses: a module's exports (read from its mapped image through the
// CodeMemory and the PE image view) and, failing that, the debug-information map's hook.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "decoder.h"
#include "pe_image.h"

namespace qx {
namespace {

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
  PeExports exports{};
  std::vector<std::pair<uint32_t, uint32_t>> byRva;  // (rva, function index)
  std::vector<int32_t> nameOfIndex;                  // index into the name table, or -1
};

bool LoadExports(const PeImage& image, const CodeMemory& memory, uint32_t moduleBase,
                 TExportCache& cache) {
  PeExports exports;
  if (!image.Exports(exports)) return false;
  if (cache.memory == &memory && cache.moduleBase == moduleBase && cache.exports == exports) {
    return true;
  }
  const uint32_t functionCount = exports.functionCount;
  const uint32_t nameCount = exports.nameCount;
  if (functionCount == 0) return false;
  std::vector<uint32_t> functions(functionCount);
  if (!image.ReadRva(exports.functionsRva, functions.data(), functionCount * 4)) return false;
  cache.memory = nullptr;
  cache.byRva.clear();
  for (uint32_t i = 0; i < functionCount; ++i) cache.byRva.emplace_back(functions[i], i);
  std::sort(cache.byRva.begin(), cache.byRva.end());
  cache.nameOfIndex.assign(functionCount, -1);
  std::vector<uint16_t> ordinals(nameCount);
  if (nameCount > 0 && image.ReadRva(exports.ordinalsRva, ordinals.data(), nameCount * 2)) {
    for (uint32_t i = nameCount; i-- > 0;) {
      if (ordinals[i] < functionCount) cache.nameOfIndex[ordinals[i]] = static_cast<int32_t>(i);
    }
  }
  cache.memory = &memory;
  cache.moduleBase = moduleBase;
  cache.exports = exports;
  return true;
}

}  // namespace

namespace {

// One cache for the process, not one per thread: a thread-local object with a destructor
// makes the C++ runtime pin the module, which then can never be unloaded.
std::mutex gExportCacheLock;

}  // namespace

void PrepareExportNames() { std::lock_guard<std::mutex> hold(gExportCacheLock); }

std::string ExportNameAt(CodeMemory& memory, uint32_t moduleBase, uint32_t address,
                         bool unmangle) {
  static TExportCache cache;
  std::lock_guard<std::mutex> hold(gExportCacheLock);
  PeImage image(memory, moduleBase, PeLayout::kLoaded);
  if (!image.Open() || !LoadExports(image, memory, moduleBase, cache)) return {};
  const uint32_t rva = address - moduleBase;
  auto found = std::lower_bound(cache.byRva.begin(), cache.byRva.end(),
                                std::make_pair(rva, 0u));
  if (found == cache.byRva.end() || found->first != rva) return {};
  const uint32_t index = found->second;
  const int32_t nameIndex = cache.nameOfIndex[index];
  if (nameIndex >= 0) {
    std::string name;
    uint32_t named = 0;
    if (image.ExportName(cache.exports, static_cast<uint32_t>(nameIndex), name, named) &&
        !name.empty()) {
      return unmangle ? UnmangleExportName(name) : name;
    }
  }
  std::string ordinal(1, '#');
  ordinal += std::to_string(cache.exports.ordinalBase + index);
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
