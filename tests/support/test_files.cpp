#include "test_files.h"

#include <cstdio>
#include <cstdlib>

namespace qx {

std::string ReadFileBytes(const std::string& path) {
  std::string data;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return data;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, got);
  std::fclose(file);
  return data;
}

std::vector<std::string> LinesOfRecord(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace qx
