// The decoder on the own process: the guarded process-memory read, the readable-memory
// snapshot and a CodeMemory that reads the loaded modules of this process.
#pragma once

#include <windows.h>

#include "decoder.h"

namespace qx {

// Copies count bytes of the own process after asking the region query that every page is
// committed and readable; a fault of the copy itself (the memory went away meanwhile) is
// caught by its own exception frame. False for a source of 0, for a source outside the
// readable ranges of map (when given) and for memory that cannot be read; never faults.
bool SafeRead(const void* source, void* destination, uint32_t count,
              const TDATryRead* map = nullptr);

#if defined(__i386__)
// SafeRead's copy without the region query: 1 when all count bytes were copied, 0 when the
// copy faulted (what was copied before the fault stays in destination).
extern "C" uint32_t __cdecl QxGuardedCopy(void* destination, const void* source, uint32_t count);
#endif

// Whether a fault at address is one SafeRead's copy catches itself: the reporter's own
// vectored handler leaves such a fault alone.
bool InGuardedCopy(const void* address);

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
