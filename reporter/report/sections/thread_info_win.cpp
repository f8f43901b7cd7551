#include "thread_info_win.h"

#include <atomic>
#include <vector>

namespace qx {


namespace {

struct ThreadInfoList {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  std::vector<ThreadInfoRecord> records;
};

ThreadInfoList& List() {
  static ThreadInfoList list;
  return list;
}

std::atomic<DWORD> gMainThreadId{0};

// Writers hold the list only for a copy, but a holder may be paused while a report traces
// it: a writer then gives up rather than wait with it, and one thread's name or creator is
// missing from the reports.
constexpr DWORD kWriteWaitMs = 5000;

class MutexHold {
 public:
  MutexHold(HANDLE mutex, DWORD waitMs) : mutex_(mutex) {
    DWORD result = mutex_ != nullptr ? WaitForSingleObject(mutex_, waitMs) : WAIT_FAILED;
    held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }
  ~MutexHold() {
    if (held_) ReleaseMutex(mutex_);
  }
  bool Held() const { return held_; }

 private:
  HANDLE mutex_;
  bool held_ = false;
};

ThreadInfoRecord* Find(DWORD threadId) {
  for (ThreadInfoRecord& record : List().records) {
    if (record.threadId == threadId) return &record;
  }
  return nullptr;
}

}  // namespace

void RecordThreadInfo(const ThreadInfoRecord& record) {
  MutexHold hold(List().mutex, kWriteWaitMs);
  if (!hold.Held()) return;
  if (ThreadInfoRecord* existing = Find(record.threadId)) {
    *existing = record;
  } else {
    List().records.push_back(record);
  }
}

void NameThreadInfo(DWORD threadId, const std::string& name) {
  MutexHold hold(List().mutex, kWriteWaitMs);
  if (!hold.Held()) return;
  if (ThreadInfoRecord* existing = Find(threadId)) {
    existing->name = name;
  } else {
    ThreadInfoRecord record;
    record.threadId = threadId;
    record.name = name;
    List().records.push_back(record);
  }
}

void RemoveThreadInfo(DWORD threadId) {
  MutexHold hold(List().mutex, kWriteWaitMs);
  if (!hold.Held()) return;
  auto& records = List().records;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].threadId == threadId) {
      records.erase(records.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

bool FindThreadInfo(DWORD threadId, DWORD waitMs, ThreadInfoRecord& record, bool& found) {
  found = false;
  MutexHold hold(List().mutex, waitMs);
  if (!hold.Held()) return false;
  if (const ThreadInfoRecord* existing = Find(threadId)) {
    record = *existing;
    found = true;
  }
  return true;
}

void SetMainThreadId(DWORD threadId) { gMainThreadId = threadId; }
DWORD MainThreadId() { return gMainThreadId; }

std::string ThreadTitle(DWORD threadId, bool force, uint32_t* creatorAddress,
                        uint32_t* creatorThreadId) {
  ThreadInfoRecord record;
  bool found = false;
  bool listed = FindThreadInfo(threadId, 50, record, found);
  if (listed && record.name.empty() && ThreadNameHook != nullptr) {
    std::string name = ThreadNameHook(threadId);
    if (!name.empty()) {
      record.threadId = threadId;
      record.name = name;
      found = true;
    }
  }
  if (creatorAddress != nullptr) *creatorAddress = found ? record.creatorAddress : 0;
  if (creatorThreadId != nullptr) *creatorThreadId = found ? record.creatorThreadId : 0;
  return ThreadTitleText(listed, found ? &record : nullptr, threadId, force);
}

}  // namespace qx
