// The bug report as text: the byte-exact layout of header and sections, and the helpers
// that read and change single header lines of a finished report.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qx {

using ReportField = std::pair<std::string, std::string>;  // name, value

// Replaces every CR LF, lone CR and lone LF by a space, then reduces runs of two spaces
// to one until none is left.
std::string OneLineValue(const std::string& value);

// Removes all trailing "." and "!" and appends one ".".
std::string NormalizedExceptionMessage(const std::string& message);

// The report text: header lines with names padded to the longest name plus one, then each
// section after an empty line as "name:" and its lines. No line break after the last line.
std::string ReportLayoutText(const std::vector<ReportField>& header,
                             const std::vector<ReportField>& sections);

// The value of the header line `name` of a report (not its first line); empty when the line
// is missing or `name` is only the beginning of a longer name.
std::string ReadHeaderValue(const std::string& report, const std::string& name);
bool SameHeaderValue(const std::string& reportA, const std::string& reportB,
                     const std::string& name);
// Inserts "newName: value" after the line `afterName`, its name padded to that line's
// name width. Nothing happens when that line is missing or has no ":".
void InsertHeaderLine(std::string& report, const std::string& newName,
                      const std::string& afterName, const std::string& value);

}  // namespace qx
