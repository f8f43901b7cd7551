#include "handling_core.h"

namespace qx {

void ShiftHistory(ExceptionHistory& history, uint64_t now) {
  for (int i = 9; i > 0; --i) history.stamps[i] = history.stamps[i - 1];
  history.stamps[0] = now;
}

bool RepeatRuleHolds(uint32_t seconds, const ExceptionHistory& history, uint64_t now) {
  if (seconds == 0) return false;
  if (seconds == 1) return true;
  for (uint64_t stamp : history.stamps) {
    if (stamp == 0) return false;
    // A stamp from the future (the clock was set back) counts as recent.
    if (stamp < now && now - stamp > seconds) return false;
  }
  return true;
}

std::vector<std::string> SplitClassList(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    size_t first = start, last = comma;
    while (first < last && static_cast<unsigned char>(list[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(list[last - 1]) <= ' ') --last;
    if (last > first) names.push_back(list.substr(first, last - first));
    start = comma + 1;
  }
  return names;
}

std::string ProcessObjectName(const std::string& prefix, uint32_t processId) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  do {
    hex.insert(hex.begin(), kDigits[processId & 15]);
    processId >>= 4;
  } while (processId != 0);
  return prefix + "$" + hex;
}

}  // namespace qx
