// The handling pipeline's rules that only work on numbers and text: the filter class
// lists, the exception history and its repeat rule, the freeze watchdog's interval, and
// the names of the process-wide kernel objects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qx {

// Ten time stamps in whole seconds of UTC since 1601-01-01, newest first, 0 = empty.
struct ExceptionHistory {
  uint64_t stamps[10] = {};
};
static_assert(sizeof(ExceptionHistory) == 80, "the history is handed over as 80 bytes");

// Drops the oldest stamp and stores `now` as the newest.
void ShiftHistory(ExceptionHistory& history, uint64_t now);

// 0: false; 1: true; N > 1: true only when all ten stamps are set and none lies more than
// N seconds before `now` (ten exceptions within N seconds).
bool RepeatRuleHolds(uint32_t seconds, const ExceptionHistory& history, uint64_t now);

// A filter's class list split at ",", blanks around the items and at both ends removed;
// empty items are left out.
std::vector<std::string> SplitClassList(const std::string& list);

// The watchdog's ping interval after a freeze report: half as long again.
inline uint32_t GrownInterval(uint32_t interval) { return interval + interval / 2; }

// "<prefix>$<process id in lower-case hexadecimal without leading zeros>".
std::string ProcessObjectName(const std::string& prefix, uint32_t processId);

// The block a restarting process leaves for its successor.
struct RestartBlock {
  uint32_t processId;      // the process that restarted
  uint32_t blockHandle;    // the block's handle, duplicated into the new process
  ExceptionHistory history;
};
static_assert(sizeof(RestartBlock) == 88, "the restart block is 88 bytes");

}  // namespace qx
