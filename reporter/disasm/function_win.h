// Function analysis and listing on the own process.
#pragma once

#include "decoder_win.h"
#include "function_analysis.h"

namespace qx {

TFunctionInfo ParseFunction(const void* entry, const TDATryRead* map = nullptr,
                            const TRuntimeRoutines& routines = {});
std::string DisassembleFunction(const void* entry, const void* marked, bool formatted,
                                int lineLimit, TFunctionInfo* info = nullptr);

// The start-up of the listing unit: fills DefaultRuntimeRoutines with this runtime's
// routines and stores the listing in DisAsmHook. Call once at module start-up.
void LinkDisAsm();

}  // namespace qx
