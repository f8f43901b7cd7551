#include <windows.h>
#include <tlhelp32.h>

#include <vector>

#include "thread_sections_win.h"

namespace qx {

namespace {

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
constexpr ULONG kSystemProcessInformation = 5;
constexpr uint32_t kThreadRecordSize = 64;

std::vector<DWORD> ThreadsFromToolHelp() {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 entry{};
  entry.dwSize = 28;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ids.push_back(entry.th32ThreadID);
    entry.dwSize = 28;
  }
  CloseHandle(snapshot);
  return ids;
}

// The process record is 136 bytes long before Windows 2000 and 184 bytes since.
uint32_t ProcessRecordSize() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&version);
#pragma GCC diagnostic pop
  return version.dwMajorVersion >= 5 ? 184 : 136;
}

bool ThreadsFromProcessQuery(std::vector<DWORD>& ids) {
  auto query = reinterpret_cast<NtQuerySystemInformationFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return false;
  ULONG needed = 0;
  query(kSystemProcessInformation, nullptr, 0, &needed);
  std::vector<uint8_t> buffer;
  LONG status = -1;
  if (needed != 0) {
    buffer.resize(static_cast<size_t>(needed) * 2);
    status = query(kSystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                   &needed);
  } else {
    for (size_t size = 128 * 1024; size <= 4 * 1024 * 1024 && status != 0; size *= 2) {
      buffer.resize(size);
      status = query(kSystemProcessInformation, buffer.data(), static_cast<ULONG>(size), &needed);
    }
  }
  if (status != 0) return false;
  const uint32_t recordSize = ProcessRecordSize();
  const uint32_t self = GetCurrentProcessId();
  size_t offset = 0;
  for (;;) {
    if (offset + recordSize > buffer.size()) return false;
    const uint8_t* record = buffer.data() + offset;
    uint32_t next, threads, processId;
    memcpy(&next, record, 4);
    memcpy(&threads, record + 4, 4);
    memcpy(&processId, record + 0x44, 4);
    if (processId == self) {
      for (uint32_t i = 0; i < threads; ++i) {
        size_t at = offset + recordSize + i * kThreadRecordSize + 0x24;
        if (at + 4 > buffer.size()) break;
        uint32_t id;
        memcpy(&id, buffer.data() + at, 4);
        ids.push_back(id);
      }
      return true;
    }
    if (next == 0) return false;
    offset += next;
  }
}

}  // namespace

std::vector<DWORD> ThreadIdList() {
  std::vector<DWORD> ids;
  if (GetVersion() & 0x80000000u) return ThreadsFromToolHelp();  // the 9x family
  if (ThreadsFromProcessQuery(ids) && !ids.empty()) return ids;
  return ThreadsFromToolHelp();
}

HANDLE OpenThreadForState(DWORD threadId) {
  if (threadId == GetCurrentThreadId()) {
    HANDLE duplicate = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                        &duplicate, 0, TRUE, DUPLICATE_SAME_ACCESS))
      return duplicate;
    return nullptr;
  }
  HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SUSPEND_RESUME |
                                 THREAD_QUERY_INFORMATION, TRUE, threadId);
  if (thread == nullptr) thread = OpenThread(THREAD_GET_CONTEXT, TRUE, threadId);
  return thread;
}

}  // namespace qx
