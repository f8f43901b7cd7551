// The map unit's entry points for the rest of the reporter: which module, unit, function
// and line a code address belongs to, and the name and line hooks of the disassembler.
#pragma once

#include <cstdint>
#include <string>

#include "map_cache.h"
#include "map_file.h"

namespace qx {

// The map of the module containing address (0: this module). Never null; an invalid map
// when the address belongs to no module or anything fails. Valid maps stay cached.
TMapFileRef LocateMap(uint32_t address);

// Module file, unit, function (name and start) and line of address; 0 means the caller's
// own return address minus 1. False when nothing is known.
bool LookupAddress(uint32_t address, TMfLookup& result);

// "unit.function" of a function starting exactly at address, else empty.
std::string LookupProcName(uint32_t address);
// Keeps line while address stays in [rangeBegin, rangeEnd); otherwise looks it up and sets
// the range to [address, next line item) ([address, address + 1) when none follows).
void LookupLine(uint32_t address, uint32_t& line, uint32_t& rangeBegin, uint32_t& rangeEnd);

// The entry of the routine `name` ("unit.routine" or a routine alone) of the module at
// moduleBase when it can be a form handler (its code parses, no return removes arguments);
// 0 otherwise. Installed as MapHandlerRoutineHook.
uint32_t HandlerRoutine(uintptr_t moduleBase, const std::string& name);

// The decoder's name hook: false, leaving name untouched, where no function starts.
bool ProcNameHookEntry(uint32_t address, std::string& name);

// Start-up of the map unit: installs ProcNameHookEntry and LookupLine as the decoder's
// MapProcNameHook and MapLineHook. Shut-down removes them and frees every cached map.
void MapFileStartup();
void MapFileShutdown();

}  // namespace qx
