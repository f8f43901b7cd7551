// The title of a thread's report section, from what the reporter recorded about the thread.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

// One record of the thread-information list.
struct ThreadInfoRecord {
  uint32_t threadId = 0;
  std::string name;       // given by the program or the reporter; empty when unnamed
  std::string className;  // the class that wrapped the thread's start, may be empty
  uint32_t creatorAddress = 0;
  uint32_t creatorThreadId = 0;
};

// "$" and the id in lower-case hexadecimal without leading zeros.
std::string ThreadIdText(uint32_t threadId);

// The title: without the list, "thread $id"; the reporter's own threads ("-",
// "AntiFreezeThread", "HandleExceptionThread") get an empty title unless forced; a named
// thread "name ($id)"; an unnamed one "thread $id", with " (class)" when a class is known.
std::string ThreadTitleText(bool listAvailable, const ThreadInfoRecord* record,
                            uint32_t threadId, bool force);

}  // namespace qx
