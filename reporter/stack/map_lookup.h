// The map unit's entry points for the rest of the reporter: which module, unit, function
// and line a code address belongs to, and the name and line hooks of the disassembler.
#pragma once

#include <cstdint>
#include <string>

#include "map_cache.h"
#include "map_file.h"

namespace qel {

// The map of the module containing address (0: this module). Never null; an invalid map
// when the address belongs to no module or anything fails. Valid maps stay cached.
TMapFileRef LocateMap(uint32_t address);

// Module file, unit, function (name and start) and line of address; 0 means the caller's
// own return address minus 1. False when nothing is known.
bool LookupAddress(uint32_t address, TMfLookup& result);

// Hook for the disassembler: "unit.function" of a function starting exactly at address.
std::string LookupProcName(uint32_t address);
// Hook for the disassembler: keeps line while address stays in [rangeBegin, rangeEnd).
void LookupLine(uint32_t address, int& line, uint32_t& rangeBegin, uint32_t& rangeEnd);

// The decoder owns the hook variables; start-up hands it these two functions through the
// installer the decoder provides, shut-down removes them and frees every cached map.
using TMapProcNameHook = std::string (*)(uint32_t address);
using TMapLineHook = void (*)(uint32_t address, int& line, uint32_t& rangeBegin,
                              uint32_t& rangeEnd);
using TMapHookInstaller = void (*)(TMapProcNameHook procName, TMapLineHook line);
void MapFileStartup(TMapHookInstaller install);
void MapFileShutdown(TMapHookInstaller install);

}  // namespace qel
