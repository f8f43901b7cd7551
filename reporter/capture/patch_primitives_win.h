// Code patches that are recorded so that they can be undone, and import-table redirection.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace qx {

// Writes length bytes at target unless they are there already (false then); the previous
// bytes are recorded. False on any fault.
bool RecordPatch(void* target, const void* bytes, uint32_t length);
// A 5-byte relative jump at target to destination; an import stub (jmp [slot]) at target is
// followed to the routine it jumps to, which gets the patch instead.
bool WriteJumpPatch(void* target, const void* destination);
// A 5-byte relative call at target to destination.
bool WriteCallPatch(void* target, const void* destination);
// Four bytes at target (a displacement of a call or a memory operand).
bool WriteWordPatch(void* target, uint32_t value);
// Writes back, in patch order, the previous bytes of every patch whose target still holds
// what the patch wrote; patches overwritten since are left alone. Clears the list.
void RevertPatches();
// The number of recorded patches.
size_t PatchCount();

// Redirects the import slots that hold library!function to replacement: in every loaded
// module when allModules, otherwise only in ownModule. The real address goes into saved;
// nothing happens when saved is already set. False when the function does not exist.
bool RedirectImport(const char* library, const char* function, void* replacement,
                    void** saved, bool allModules, HMODULE ownModule);
// Writes the saved address back into every slot that holds replacement, and clears saved.
void RestoreImport(void* replacement, void** saved, bool allModules, HMODULE ownModule);

}  // namespace qx
