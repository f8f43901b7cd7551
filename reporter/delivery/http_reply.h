// Judges an upload's reply from what has arrived so far: 200 succeeds; 302 with an http or
// https Location succeeds and names the page to open; "100 Continue" is skipped; anything
// else fails. A status line or a 302 head still incomplete asks for more.
#pragma once

#include <string>

namespace qx {

struct HttpVerdict {
  enum class Kind { kNeedMore, kSuccess, kFailure };
  Kind kind = Kind::kNeedMore;
  std::string location;  // set for a 302 that succeeds
};

HttpVerdict JudgeHttpReply(const std::string& received);

}  // namespace qx
