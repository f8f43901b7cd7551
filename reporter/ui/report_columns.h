// How the exception box puts a report text into the columns and rows of a list view: the
// column titles with their marks, where a line is cut into cells, and the cells themselves.
// Only text goes in and out, so the rules are tested on every platform.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qx {

struct ListColumn {
  std::string title;          // without its marks
  bool upperCase = false;     // "^" in front: the values are shown in upper case
  bool rightAligned = false;  // " " in front: the values are right-aligned
};
using ListRow = std::vector<std::string>;

// Column texts separated by "|", e.g. "^address|^ rel.|module| line".
std::vector<ListColumn> ParseColumns(const std::string& layout);

// Upper case as the box shows it: a to z, and the bytes E4h, F6h and FCh (ä ö ü in the
// Western code page), each moved down by 32.
void UpperCaseCell(std::string& cell);

// Removes characters of code 32 and below at both ends.
std::string TrimBlanks(const std::string& text);

// The text's lines, split at carriage returns (line feeds dropped), each trimmed.
std::vector<std::string> TrimmedLines(const std::string& text);

// Where the lines are cut into cells: the positions (from 0) of the separator characters
// found in every line. The longest line not starting with ">>" proposes a space, "=", "|"
// or a ":" before a space; the others must have the same character there (when they reach
// it), and, unless only one line has content, at least two lines must show something
// there (the character itself or, after a space, the next one). A run of adjacent
// positions is one cut: at its first non-space character, else at its last space.
std::vector<size_t> DetectBoundaries(const std::vector<std::string>& lines);

// Cuts every line at the first (columns - 1) boundaries, the last column taking the rest;
// the cells are trimmed and those of upper-case columns upper-cased. A line that begins
// with ">>" keeps only those two characters in its first cell; what follows them goes
// into the last column, so a thread's title or a placeholder stays readable.
std::vector<ListRow> SplitRows(const std::vector<std::string>& lines,
                               const std::vector<ListColumn>& columns,
                               const std::vector<size_t>& boundaries);

// Rows of a text whose lines carry tab characters between their cells (the header page).
std::vector<ListRow> SplitTabbedRows(const std::vector<std::string>& lines,
                                     const std::vector<ListColumn>& columns);

// The call-stack format: address, rel., module, unit, line, rel., function. Each run of
// frame lines (between ">>" lines and empty lines) is aligned on its own; its cells are
// the stretches between the positions where every line of the run has a blank, read by
// what they hold: the relative address starts with "+", line numbers are digits (the
// relative line may carry a sign), the function takes the rest of the line.
std::vector<ListRow> SplitThreadRows(const std::vector<std::string>& lines);

// The listing of the crashing function: address, line (when `withLines`), code, comment
// (after ";").
std::vector<ListRow> SplitDisassemblyRows(const std::vector<std::string>& lines, bool withLines);
// Whether a listing carries a line-number column after its addresses.
bool DisassemblyHasLines(const std::vector<std::string>& lines);

// Applies the upper-case marks of `columns` to the rows' cells.
void ApplyUpperCase(std::vector<ListRow>& rows, const std::vector<ListColumn>& columns);

}  // namespace qx
