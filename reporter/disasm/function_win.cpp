#include "function_win.h"

namespace qx {
namespace {

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

std::string ListingOfProcess(uint32_t entry, uint32_t marked, bool formatted, int lineLimit,
                             TFunctionInfo* info) {
  return DisassembleFunction(ProcessMemory(), entry, marked, formatted, lineLimit, info);
}

}  // namespace

TFunctionInfo ParseFunction(const void* entry, const TDATryRead* map,
                            const TRuntimeRoutines& routines) {
  return ParseFunction(ProcessMemory(), AddressOf(entry), map, routines);
}

std::string DisassembleFunction(const void* entry, const void* marked, bool formatted,
                                int lineLimit, TFunctionInfo* info) {
  return DisassembleFunction(ProcessMemory(), AddressOf(entry), AddressOf(marked), formatted,
                             lineLimit, info);
}

void LinkDisAsm() {
  // The C runtime ends the program through exit; code after a call to it never runs. The
  // exception-handler roles have no counterpart here: unwinding is table driven.
  if (HMODULE crt = GetModuleHandleA("msvcrt.dll")) {
    DefaultRuntimeRoutines.haltRoutine =
        AddressOf(reinterpret_cast<const void*>(GetProcAddress(crt, "exit")));
  }
  DisAsmHook = ListingOfProcess;
}

}  // namespace qx
