// The two hooks through which the decoder and the listing ask the debug-information map
// for names and line numbers. The map unit sets them once at start-up; while they are null
// the decoder works without names from debug information.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

// Gives the unit-qualified name ("Unit.Function") of the function that starts exactly at
// the address. Returns false, leaving the name untouched, when no function starts there.
using TMapProcNameHook = bool (*)(uint32_t address, std::string& name);

// Gives the source line that holds the code at the address. On entry, line, rangeBegin and
// rangeEnd hold the answer of the previous call (all 0 on the first), so that the hook may
// return at once while the address still lies in [rangeBegin, rangeEnd). On return, line is
// the line number (0 when unknown) and [rangeBegin, rangeEnd) the addresses for which that
// line number still holds (an empty range when unknown).
using TMapLineHook = void (*)(uint32_t address, uint32_t& line, uint32_t& rangeBegin,
                              uint32_t& rangeEnd);

extern TMapProcNameHook MapProcNameHook;
extern TMapLineHook MapLineHook;

}  // namespace qx
