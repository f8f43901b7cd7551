#include "stack_trace_win.h"

#include "decoder_win.h"
#include "map_lookup.h"
#include "process_registries.h"
#include "report_hooks_win.h"

namespace qx {

namespace {

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

class ProcessStack final : public StackMemory {
 public:
  bool Read(uint32_t address, void* destination, uint32_t count) override {
    return ProcessMemory().Read(address, destination, count);
  }
  bool ModuleAt(uint32_t address, TModuleInfo& module) override {
    return ProcessMemory().ModuleAt(address, module);
  }
  bool QueryRegion(uint32_t address, TMemoryRegion& region) override {
    return ProcessMemory().QueryRegion(address, region);
  }
  std::string ErrorText(uint32_t code) override { return ProcessMemory().ErrorText(code); }
  std::shared_ptr<const TMapFile> MapOfModule(const TModuleInfo& module) override {
    if (module.base == 0) return nullptr;
    TMapFileRef map = LocateMap(module.base);
    if (!map || !map->isValid) return nullptr;
    return map;
  }
  TDATryRead ReadableMap() override { return BuildReadableMap(); }
  bool CurrentStack(uint32_t& top, uint32_t& bottom) override {
    MEMORY_BASIC_INFORMATION info;
    int local = 0;
    if (VirtualQuery(&local, &info, sizeof info) != sizeof info) return false;
    top = AddressOf(info.BaseAddress) + static_cast<uint32_t>(info.RegionSize);
    bottom = AddressOf(&local) & ~3u;
    return true;
  }
  uint32_t MainModuleBase() override { return AddressOf(GetModuleHandleA(nullptr)); }
};

std::string ReportInternalErrorText(const char* step) {
  return InternalErrorText(step, true, true);
}

}  // namespace

StackMemory& ProcessStackMemory() {
  static ProcessStack memory;
  return memory;
}

StackWalker& ProcessStackWalker() {
  static StackWalker walker(ProcessStackMemory());
  return walker;
}

std::string StackAddressText(uint32_t address, bool showRelAddrs, bool showRelLines) {
  return StackAddressText(ProcessStackMemory(), address, showRelAddrs, showRelLines);
}

std::string InternalErrorText(const std::string& name, bool showRelAddrs, bool showRelLines) {
  return InternalErrorText(ProcessStackMemory(), name, showRelAddrs, showRelLines,
                           HandledExceptionAddress.load());
}

void StackTraceStartup() { Hooks().internalErrorText = ReportInternalErrorText; }

void StackTraceShutdown() {
  if (Hooks().internalErrorText == ReportInternalErrorText) Hooks().internalErrorText = nullptr;
  ProcessStackWalker().Clear();
}

}  // namespace qx
