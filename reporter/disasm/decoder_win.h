// The decoder on the own process: the guarded process-memory read, the readable-memory
// snapshot and a CodeMemory that reads the loaded modules of this process.
#pragma once

#include <windows.h>

#include "decoder.h"

namespace qx {

// Copies count bytes of the own process through the system's process-memory read. False
// for a source of 0, for a source outside the readable ranges of map (when given) and for a
// short read; never faults.
bool SafeRead(const void* source, void* destination, uint32_t count,
              const TDATryRead* map = nullptr);

// A snapshot of which ranges of the own address space are readable. Release it by letting
// it go out of scope.
TDATryRead BuildReadableMap();

// The CodeMemory of the own process, shared by every caller.
CodeMemory& ProcessMemory();

// The forms with the own process implied.
TInstrInfo DecodeInstruction(const void* code, TRegState* regState = nullptr,
                             bool resolveRegisters = false, const TDATryRead* map = nullptr);
TInstrInfo DecodeInstructionText(const void* code, std::string& text,
                                 TRegState* regState = nullptr, bool resolveRegisters = false);
std::string ExportNameAt(HMODULE module, const void* address, bool unmangle);

}  // namespace qx
