#include "patch_primitives_win.h"

#include <psapi.h>

#include <cstring>
#include <vector>

#include "decoder_win.h"
#include "pe_image.h"
#include "sync_win.h"

namespace qx {

namespace {

struct PatchRecord {
  uint8_t* target;
  std::string previous;
  std::string written;
};

CriticalSection& PatchLock() {
  static CriticalSection lock;
  return lock;
}

std::vector<PatchRecord>& Patches() {
  static std::vector<PatchRecord> patches;
  return patches;
}

// Makes the range writable for the duration of a write and restores its protection.
bool WriteCode(uint8_t* target, const void* bytes, uint32_t length) {
  DWORD previous = 0;
  if (!VirtualProtect(target, length, PAGE_EXECUTE_READWRITE, &previous)) return false;
  std::memcpy(target, bytes, length);
  DWORD ignored = 0;
  VirtualProtect(target, length, previous, &ignored);
  FlushInstructionCache(GetCurrentProcess(), target, length);
  return true;
}

bool WriteSlot(void** slot, void* value) {
  DWORD previous = 0;
  if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &previous)) return false;
  *slot = value;
  DWORD ignored = 0;
  VirtualProtect(slot, sizeof(void*), previous, &ignored);
  return true;
}

// Replaces every import slot of the module that holds from by to; stops at an import table
// that points outside the image.
void RewriteImports(HMODULE module, void* from, void* to) {
  auto base = reinterpret_cast<uint8_t*>(module);
  PeImage image(ProcessMemory(), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(module)),
                PeLayout::kLoaded);
  PeDirectory imports;
  if (!image.Open() || !image.Directory(pe::kImportDirectory, imports)) return;
  for (uint32_t at = imports.rva;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    if (!image.ReadRvaValue(at, descriptor)) return;
    if (descriptor.Name == 0 && descriptor.FirstThunk == 0) return;
    if (descriptor.FirstThunk >= image.SizeOfImage()) return;
    for (uint32_t slot = descriptor.FirstThunk;; slot += sizeof(void*)) {
      void* value = nullptr;
      if (!image.ReadRvaValue(slot, value) || value == nullptr) break;
      if (value == from) WriteSlot(reinterpret_cast<void**>(base + slot), to);
    }
  }
}

void ForEachModule(bool allModules, HMODULE ownModule, void* from, void* to) {
  if (!allModules) {
    RewriteImports(ownModule, from, to);
    return;
  }
  HMODULE modules[1024];
  DWORD needed = 0;
  if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &needed)) return;
  for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 1024; ++i)
    RewriteImports(modules[i], from, to);
}

}  // namespace

bool RecordPatch(void* target, const void* bytes, uint32_t length) {
  auto* at = static_cast<uint8_t*>(target);
  std::string previous(length, '\0');
  if (target == nullptr || !SafeRead(at, previous.data(), length)) return false;
  if (std::memcmp(previous.data(), bytes, length) == 0) return false;
  CriticalSectionGuard guard(PatchLock());
  if (!WriteCode(at, bytes, length)) return false;
  Patches().push_back({at, previous, std::string(static_cast<const char*>(bytes), length)});
  return true;
}

bool WriteJumpPatch(void* target, const void* destination) {
  auto* at = static_cast<uint8_t*>(target);
  uint8_t stub[6];
  if (SafeRead(at, stub, 6) && stub[0] == 0xFF && stub[1] == 0x25) {
    uint8_t** slot;
    std::memcpy(&slot, stub + 2, 4);
    uint8_t* real = nullptr;
    if (SafeRead(slot, &real, 4) && real != nullptr) at = real;
  }
  uint8_t jump[5] = {0xE9};
  int32_t distance = static_cast<int32_t>(reinterpret_cast<intptr_t>(destination) -
                                          reinterpret_cast<intptr_t>(at) - 5);
  std::memcpy(jump + 1, &distance, 4);
  return RecordPatch(at, jump, 5);
}

bool WriteCallPatch(void* target, const void* destination) {
  uint8_t call[5] = {0xE8};
  int32_t distance = static_cast<int32_t>(reinterpret_cast<intptr_t>(destination) -
                                          reinterpret_cast<intptr_t>(target) - 5);
  std::memcpy(call + 1, &distance, 4);
  return RecordPatch(target, call, 5);
}

bool WriteWordPatch(void* target, uint32_t value) { return RecordPatch(target, &value, 4); }

void RevertPatches() {
  CriticalSectionGuard guard(PatchLock());
  auto& patches = Patches();
  for (PatchRecord& patch : patches) {
    std::string now(patch.written.size(), '\0');
    if (!SafeRead(patch.target, now.data(), static_cast<uint32_t>(now.size()))) continue;
    if (now != patch.written) continue;
    WriteCode(patch.target, patch.previous.data(), static_cast<uint32_t>(patch.previous.size()));
  }
  patches.clear();
}

size_t PatchCount() {
  CriticalSectionGuard guard(PatchLock());
  return Patches().size();
}

bool RedirectImport(const char* library, const char* function, void* replacement,
                    void** saved, bool allModules, HMODULE ownModule) {
  if (*saved != nullptr) return true;
  HMODULE module = GetModuleHandleA(library);
  void* real = module ? reinterpret_cast<void*>(GetProcAddress(module, function)) : nullptr;
  if (real == nullptr) return false;
  *saved = real;
  ForEachModule(allModules, ownModule, real, replacement);
  return true;
}

void RestoreImport(void* replacement, void** saved, bool allModules, HMODULE ownModule) {
  if (*saved == nullptr) return;
  ForEachModule(allModules, ownModule, replacement, *saved);
  *saved = nullptr;
}

}  // namespace qx
