#include "http_reply.h"

#include "ascii_text.h"
#include "mail_headers.h"

namespace qx {

namespace {

// Offset just after the empty line that ends the head starting at `from`, or npos.
size_t HeadEnd(const std::string& text, size_t from) {
  size_t at = from;
  while (at < text.size()) {
    const size_t lf = text.find('\n', at);
    if (lf == std::string::npos) return std::string::npos;
    const bool empty = lf == at || (lf == at + 1 && text[at] == '\r');
    if (empty && at != from) return lf + 1;
    at = lf + 1;
  }
  return std::string::npos;
}

std::string StatusCode(const std::string& line) {
  const size_t space = line.find(' ');
  if (space == std::string::npos) return std::string();
  size_t end = line.find(' ', space + 1);
  if (end == std::string::npos) end = line.size();
  return line.substr(space + 1, end - space - 1);
}

HttpVerdict Redirect(const std::string& text, size_t from, size_t headEnd) {
  HttpVerdict verdict;
  verdict.kind = HttpVerdict::Kind::kFailure;
  size_t at = from;
  while (at < headEnd) {
    size_t lf = text.find('\n', at);
    if (lf == std::string::npos || lf > headEnd) lf = headEnd;
    if (StartsWithNoCase(text, at, "location:")) {
      std::string value = text.substr(at + 9, lf - at - 9);
      while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
      size_t first = 0;
      while (first < value.size() && value[first] == ' ') ++first;
      value = HeaderSafe(value.substr(first));
      // Only a web page is handed to the shell: a server must not start programs or open
      // files on this machine through a Location.
      if (StartsWithNoCase(value, 0, "http://") || StartsWithNoCase(value, 0, "https://")) {
        verdict.kind = HttpVerdict::Kind::kSuccess;
        verdict.location = value;
      }
      return verdict;
    }
    at = lf + 1;
  }
  return verdict;
}

}  // namespace

HttpVerdict JudgeHttpReply(const std::string& received) {
  HttpVerdict verdict;
  size_t start = 0;
  for (;;) {
    const size_t lf = received.find('\n', start);
    if (lf == std::string::npos) return verdict;  // the status line is not complete
    std::string line = received.substr(start, lf - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string code = StatusCode(line);
    if (code == "100") {
      const size_t end = HeadEnd(received, start);
      if (end == std::string::npos || end >= received.size()) return verdict;
      start = end;
      continue;
    }
    if (code == "302") {
      const size_t end = HeadEnd(received, start);
      if (end == std::string::npos) return verdict;
      return Redirect(received, lf + 1, end);
    }
    verdict.kind = code == "200" ? HttpVerdict::Kind::kSuccess : HttpVerdict::Kind::kFailure;
    return verdict;
  }
}

}  // namespace qx
