// The thread-information list: what the thread hooks and the reporter record about threads
// (name, wrapping class, creator), shared with the thread sections of a report. Guarded by
// a mutex that readers wait for only briefly.
#pragma once

#include <windows.h>

#include <string>

#include "process_registries.h"
#include "thread_title.h"

namespace qx {

// Adds or replaces the record of a thread.
void RecordThreadInfo(const ThreadInfoRecord& record);
// Sets a thread's name, creating its record when needed.
void NameThreadInfo(DWORD threadId, const std::string& name);
void RemoveThreadInfo(DWORD threadId);
// Looks the thread up, waiting at most waitMs for the list's mutex. False when the list
// cannot be taken in time; found tells whether the thread has a record.
bool FindThreadInfo(DWORD threadId, DWORD waitMs, ThreadInfoRecord& record, bool& found);

// Names given elsewhere (the handling pipeline names its own threads) come through
// ThreadNameHook (process_registries.h).

// The thread the reporter regards as the program's main thread.
void SetMainThreadId(DWORD threadId);
DWORD MainThreadId();

// The list's title of a thread, as the report sections show it (50 ms wait for the list).
std::string ThreadTitle(DWORD threadId, bool force, uint32_t* creatorAddress = nullptr,
                        uint32_t* creatorThreadId = nullptr);

}  // namespace qx
