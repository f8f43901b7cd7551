// The process-wide list of settings-module records, reached through the named shared
// block that every reporter copy in the process maps.
#pragma once

#include <windows.h>

#include <string>

#include "property_list.h"

namespace qx {

// The 40-byte shared block. Its layout is what other reporter copies expect.
struct SettingsBuffer {
  LONG refCount;             // open references from settings objects of all copies
  HANDLE mapping;            // kept by the creator, closed by the last release
  CRITICAL_SECTION lock;     // guards the list and the records' arrays
  TSettingsModule* head;
  DWORD reserved;
};
#if !defined(_WIN64)
static_assert(sizeof(SettingsBuffer) == 40, "the shared settings block is 40 bytes");
#endif

// "<prefix>$<process id in lower-case hexadecimal>".
std::string ProcessObjectName(const char* prefix, DWORD processId);

// Records and their arrays come from the process heap, which every copy can free into.
const PropertyHeap& ProcessPropertyHeap();

// Whether the module itself carries the settings resource.
bool ModuleHasSettings(HMODULE module);

// References the module's record, creating it and reading its stream on first use.
// Null when the module has no settings or the shared block cannot be opened.
TSettingsModule* ReferenceModuleRecord(HMODULE module);
// Drops one reference; the last one unlinks and frees the record.
void ReleaseModuleRecord(TSettingsModule* record);
// Reads the module's stream again, dropping every change made in memory.
void RereadModuleRecord(TSettingsModule* record);
// Takes the module's record out of the list without freeing it (module shut-down), so
// that no other copy finds the settings of a module being unloaded.
void UnlistModuleRecord(HMODULE module);

// This copy's view of the shared block; null while it holds no reference.
SettingsBuffer* MappedSettingsBuffer();

// Internal errors of the reporter's start-up are shown as message boxes with the caption
// "qelExcept" (on a desktop nobody sees, sent to the debugger instead); tests replace the
// box by a handler of their own (null restores it).
using SettingsMessageHandler = void (*)(const char* text);
void SetSettingsMessageHandler(SettingsMessageHandler handler);
void ShowSettingsMessage(const char* text);

}  // namespace qx
