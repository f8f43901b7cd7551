// Names of code addresses: a module's exports (read from its mapped image through the
// CodeMemory) and, failing that, the debug-information map's hook.
#include <cstring>
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

std::string ExportNameAt(CodeMemory& memory, uint32_t moduleBase, uint32_t address,
                         bool unmangle) {
  uint16_t magic = 0;
  uint32_t peOffset = 0;
  if (!ReadValue(memory, moduleBase, magic) || magic != 0x5A4D) return {};
  if (!ReadValue(memory, moduleBase + 0x3C, peOffset) || peOffset > 0x10000000) return {};
  const uint32_t pe = moduleBase + peOffset;
  uint32_t signature = 0;
  uint16_t optionalMagic = 0;
  uint32_t exportRva = 0, exportSize = 0, rvaCount = 0;
  if (!ReadValue(memory, pe, signature) || signature != 0x00004550) return {};
  if (!ReadValue(memory, pe + 24, optionalMagic) || optionalMagic != 0x10B) return {};
  if (!ReadValue(memory, pe + 24 + 92, rvaCount) || rvaCount < 1) return {};
  if (!ReadValue(memory, pe + 24 + 96, exportRva) ||
      !ReadValue(memory, pe + 24 + 100, exportSize) || exportRva == 0) {
    return {};
  }
  TExportDirectory directory;
  if (!ReadValue(memory, moduleBase + exportRva, directory)) return {};
  const uint32_t functionCount = directory.numberOfFunctions;
  const uint32_t nameCount = directory.numberOfNames;
  if (functionCount == 0 || functionCount > 0x10000 || nameCount > 0x10000) return {};
  std::vector<uint32_t> functions(functionCount);
  if (!memory.Read(moduleBase + directory.addressOfFunctions, functions.data(),
                   functionCount * 4)) {
    return {};
  }
  const uint32_t rva = address - moduleBase;
  uint32_t index = 0;
  while (index < functionCount && functions[index] != rva) ++index;
  if (index == functionCount) return {};
  if (nameCount > 0) {
    std::vector<uint16_t> ordinals(nameCount);
    if (memory.Read(moduleBase + directory.addressOfNameOrdinals, ordinals.data(),
                    nameCount * 2)) {
      for (uint32_t i = 0; i < nameCount; ++i) {
        if (ordinals[i] != index) continue;
        uint32_t nameRva = 0;
        std::string name;
        if (ReadValue(memory, moduleBase + directory.addressOfNames + i * 4, nameRva) &&
            ReadName(memory, moduleBase + nameRva, name) && !name.empty()) {
          return unmangle ? UnmangleExportName(name) : name;
        }
      }
    }
  }
  return "#" + std::to_string(directory.ordinalBase + index);
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
