// Reading what a program under test wrote: whole files, the lines of a record, and the
// values a test driver hands over in the environment.
#pragma once

#include <string>
#include <vector>

namespace qx {

// The bytes of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// The lines of `text` separated by "\n" (a "\r" before it stays); no empty last line.
std::vector<std::string> LinesOfRecord(const std::string& text);

// The value of an environment variable; empty when it is not set.
std::string EnvironmentText(const char* name);

}  // namespace qx
