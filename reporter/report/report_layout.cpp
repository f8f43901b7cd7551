#include "report_layout.h"

#include <algorithm>

namespace qx {

namespace {

constexpr char kLineBreak[] = "\r\n";

void AppendContentLines(std::string& out, const std::string& content) {
  size_t at = 0;
  while (true) {
    size_t end = content.find_first_of("\r\n", at);
    std::string piece = content.substr(at, end == std::string::npos ? std::string::npos : end - at);
    size_t keep = piece.size();
    while (keep > 0 && static_cast<unsigned char>(piece[keep - 1]) <= 32) --keep;
    piece.resize(keep);
    out += kLineBreak;
    out += piece.empty() ? std::string(".") : piece;
    if (end == std::string::npos) break;
    at = end + 1;
    if (content[end] == '\r' && at < content.size() && content[at] == '\n') ++at;
  }
}

}  // namespace

std::string OneLineValue(const std::string& value) {
  std::string result;
  result.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '\r') {
      if (i + 1 < value.size() && value[i + 1] == '\n') ++i;
      c = ' ';
    } else if (c == '\n') {
      c = ' ';
    }
    // Collapsing while copying gives the same result as repeating the two-to-one replacement.
    if (c == ' ' && !result.empty() && result.back() == ' ') continue;
    result += c;
  }
  return result;
}

std::string NormalizedExceptionMessage(const std::string& message) {
  size_t end = message.size();
  while (end > 0 && (message[end - 1] == '.' || message[end - 1] == '!')) --end;
  return message.substr(0, end) + ".";
}

std::string ReportLayoutText(const std::vector<ReportField>& header,
                             const std::vector<ReportField>& sections) {
  size_t width = 0;
  for (const auto& field : header) width = std::max(width, field.first.size());
  ++width;
  std::string out;
  for (size_t i = 0; i < header.size(); ++i) {
    if (i > 0) out += kLineBreak;
    out += header[i].first;
    out.append(width - header[i].first.size(), ' ');
    out += ": ";
    out += OneLineValue(header[i].second);
  }
  for (const auto& [name, content] : sections) {
    out += kLineBreak;
    out += kLineBreak;
    out += name;
    if (name.find(':') == std::string::npos) out += ':';
    AppendContentLines(out, content);
  }
  return out;
}

std::string ReadHeaderValue(const std::string& report, const std::string& name) {
  size_t at = report.find(kLineBreak + name);
  if (at == std::string::npos) return {};
  size_t start = at + 2 + name.size();
  size_t end = report.find(kLineBreak, start);
  std::string rest = report.substr(start, end == std::string::npos ? std::string::npos : end - start);
  size_t colon = rest.find_first_not_of(' ');
  if (colon == std::string::npos || rest[colon] != ':') return {};
  return colon + 2 <= rest.size() ? rest.substr(colon + 2) : std::string();
}

bool SameHeaderValue(const std::string& reportA, const std::string& reportB,
                     const std::string& name) {
  return ReadHeaderValue(reportA, name) == ReadHeaderValue(reportB, name);
}

void InsertHeaderLine(std::string& report, const std::string& newName,
                      const std::string& afterName, const std::string& value) {
  size_t at = report.find(kLineBreak + afterName);
  if (at == std::string::npos) return;
  size_t lineStart = at + 2;
  size_t lineEnd = report.find(kLineBreak, lineStart);
  if (lineEnd == std::string::npos) return;
  size_t colon = report.find(':', lineStart);
  if (colon == std::string::npos || colon > lineEnd) return;
  size_t width = colon - lineStart;
  std::string line = kLineBreak + newName;
  if (line.size() - 2 < width) line.append(width - (line.size() - 2), ' ');
  line += ": " + value;
  report.insert(lineEnd, line);
}

}  // namespace qx
