// Splitting the texts the reporter writes (lines ended by CR LF) for line-by-line checks.
#pragma once

#include <string>
#include <vector>

namespace qx {

// The lines of `text` separated by "\r\n"; a text without one is a single line, and a
// text ending in "\r\n" ends with an empty line.
std::vector<std::string> Lines(const std::string& text);

}  // namespace qx
