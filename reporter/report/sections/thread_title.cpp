#include "thread_title.h"

#include <cstdio>

namespace qx {

std::string ThreadIdText(uint32_t threadId) {
  char text[16];
  std::snprintf(text, sizeof text, "$%x", static_cast<unsigned>(threadId));
  return text;
}

std::string ThreadTitleText(bool listAvailable, const ThreadInfoRecord* record,
                            uint32_t threadId, bool force) {
  if (!listAvailable) return "thread " + ThreadIdText(threadId);
  if (record != nullptr && !record->name.empty()) {
    if (!force && (record->name == "-" || record->name == "AntiFreezeThread" ||
                   record->name == "HandleExceptionThread"))
      return {};
    return record->name + " (" + ThreadIdText(threadId) + ")";
  }
  std::string title = "thread " + ThreadIdText(threadId);
  if (record != nullptr && !record->className.empty()) title += " (" + record->className + ")";
  return title;
}

}  // namespace qx
