#include "report_columns.h"

#include <algorithm>
#include <cctype>

namespace qx {

namespace {

constexpr char kCellSeparator = '\t';

bool StartsWithMarks(const std::string& line) { return line.compare(0, 2, ">>") == 0; }

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

bool IsDigits(const std::string& text, bool signAllowed) {
  if (text.empty()) return false;
  size_t i = 0;
  if (signAllowed && (text[0] == '+' || text[0] == '-')) i = 1;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

bool IsRelativeAddress(const std::string& text) {
  if (text.size() < 2 || text[0] != '+') return false;
  for (size_t i = 1; i < text.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

// A ">>" line: the marks in the first cell, the rest in the last.
ListRow MarkedRow(const std::string& line, size_t columnCount) {
  ListRow row(std::max<size_t>(columnCount, 1));
  row[0] = ">>";
  std::string rest = TrimBlanks(line.substr(2));
  if (row.size() > 1)
    row.back() = rest;
  else if (!rest.empty())
    row[0] += " " + rest;
  return row;
}

bool Candidate(const std::string& line, size_t p) {
  char c = line[p];
  return c == ' ' || c == '=' || c == '|' || (c == ':' && p + 1 < line.size() && line[p + 1] == ' ');
}

// Whether the line shows something at p: the separator itself, or after a space the next
// character.
bool ShowsSomething(const std::string& line, size_t p) {
  if (p >= line.size()) return false;
  if (line[p] != ' ') return true;
  return p + 1 < line.size() && line[p + 1] != ' ';
}

// The trimmed text of [begin, end) of the line (empty beyond its end).
std::string Slice(const std::string& line, size_t begin, size_t end) {
  if (begin >= line.size()) return {};
  return TrimBlanks(line.substr(begin, end - begin));
}

struct Segment {
  size_t begin, end;
};

// The stretches where at least one line of the run has a non-blank character.
std::vector<Segment> Segments(const std::vector<std::string>& run) {
  size_t width = 0;
  for (const auto& line : run) width = std::max(width, line.size());
  std::vector<Segment> segments;
  bool inside = false;
  for (size_t p = 0; p <= width; ++p) {
    bool gap = true;
    if (p < width)
      for (const auto& line : run)
        if (p < line.size() && line[p] != ' ') {
          gap = false;
          break;
        }
    if (!gap && !inside) {
      segments.push_back({p, p});
      inside = true;
    } else if (gap && inside) {
      segments.back().end = p;
      inside = false;
    }
  }
  return segments;
}

template <class Test>
bool AllCells(const std::vector<std::string>& run, const Segment& s, Test&& test) {
  bool any = false;
  for (const auto& line : run) {
    std::string cell = Slice(line, s.begin, s.end);
    if (cell.empty()) continue;
    if (!test(cell)) return false;
    any = true;
  }
  return any;
}

enum ThreadColumn { kAddress, kRelAddress, kModule, kUnit, kLine, kRelLine, kFunction, kThreadColumns };

void SplitFrameRun(const std::vector<std::string>& run, std::vector<ListRow>& rows) {
  std::vector<Segment> s = Segments(run);
  int at[kThreadColumns];
  std::fill(at, at + kThreadColumns, -1);
  size_t i = 0;
  auto number = [](const std::string& cell) { return IsDigits(cell, true); };
  if (i < s.size()) at[kAddress] = static_cast<int>(i++);
  if (i < s.size() && AllCells(run, s[i], IsRelativeAddress)) at[kRelAddress] = static_cast<int>(i++);
  if (i < s.size()) at[kModule] = static_cast<int>(i++);
  // A last stretch after the module is the function: a frame without a unit.
  if (i + 1 < s.size() && !AllCells(run, s[i], number)) at[kUnit] = static_cast<int>(i++);
  std::vector<int> numbers;
  while (i < s.size() && numbers.size() < 2 && AllCells(run, s[i], number))
    numbers.push_back(static_cast<int>(i++));
  if (numbers.size() == 2) {
    at[kLine] = numbers[0];
    at[kRelLine] = numbers[1];
  } else if (numbers.size() == 1) {
    at[kRelLine] = numbers[0];
  }
  if (i < s.size()) at[kFunction] = static_cast<int>(i);
  for (const auto& line : run) {
    ListRow row(kThreadColumns);
    for (int c = 0; c < kFunction; ++c)
      if (at[c] >= 0) row[c] = Slice(line, s[at[c]].begin, s[at[c]].end);
    if (at[kFunction] >= 0) row[kFunction] = Slice(line, s[at[kFunction]].begin, line.size());
    rows.push_back(std::move(row));
  }
}

}  // namespace

std::vector<ListColumn> ParseColumns(const std::string& layout) {
  std::vector<ListColumn> columns;
  size_t start = 0;
  for (;;) {
    size_t bar = layout.find('|', start);
    std::string text = layout.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    ListColumn column;
    while (!text.empty() && (text[0] == '^' || text[0] == ' ')) {
      (text[0] == '^' ? column.upperCase : column.rightAligned) = true;
      text.erase(0, 1);
    }
    column.title = text;
    columns.push_back(std::move(column));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return columns;
}

void UpperCaseCell(std::string& cell) {
  for (char& c : cell) {
    auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || u == 0xE4 || u == 0xF6 || u == 0xFC) c = static_cast<char>(u - 32);
  }
}

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::vector<std::string> TrimmedLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t cr = text.find('\r', start);
    std::string line = text.substr(start, cr == std::string::npos ? std::string::npos : cr - start);
    line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
    lines.push_back(TrimBlanks(line));
    if (cr == std::string::npos) break;
    start = cr + 1;
  }
  return lines;
}

std::vector<size_t> DetectBoundaries(const std::vector<std::string>& lines) {
  const std::string* longest = nullptr;
  size_t contentLines = 0;
  for (const auto& line : lines) {
    if (line.empty() || StartsWithMarks(line)) continue;
    ++contentLines;
    if (longest == nullptr || line.size() > longest->size()) longest = &line;
  }
  std::vector<size_t> boundaries;
  if (longest == nullptr) return boundaries;
  const std::string& l = *longest;
  std::vector<bool> cut(l.size(), false);
  for (size_t p = 0; p < l.size(); ++p) {
    if (!Candidate(l, p)) continue;
    bool same = true;
    size_t showing = 0;
    for (const auto& line : lines) {
      if (line.empty() || StartsWithMarks(line)) continue;
      if (&line != longest && p < line.size() && line[p] != l[p]) {
        same = false;
        break;
      }
      if (ShowsSomething(line, p) && p < line.size() && line[p] == l[p]) ++showing;
    }
    cut[p] = same && (contentLines == 1 || showing >= 2);
  }
  for (size_t p = 0; p < l.size();) {
    if (!cut[p]) {
      ++p;
      continue;
    }
    size_t end = p;
    while (end < l.size() && cut[end]) ++end;
    size_t chosen = end - 1;
    for (size_t q = p; q < end; ++q)
      if (l[q] != ' ') {
        chosen = q;
        break;
      }
    // A cut at the very start or end of the line would only make an empty cell.
    if (chosen > 0 && chosen + 1 < l.size()) boundaries.push_back(chosen);
    p = end;
  }
  return boundaries;
}

std::vector<ListRow> SplitRows(const std::vector<std::string>& lines,
                               const std::vector<ListColumn>& columns,
                               const std::vector<size_t>& boundaries) {
  std::vector<ListRow> rows;
  const size_t count = std::max<size_t>(columns.size(), 1);
  for (std::string line : lines) {
    if (StartsWithMarks(line)) {
      rows.push_back(MarkedRow(line, count));
      continue;
    }
    for (size_t c = 0; c + 1 < count && c < boundaries.size(); ++c)
      if (boundaries[c] < line.size()) line[boundaries[c]] = kCellSeparator;
    ListRow row(count);
    size_t start = 0;
    for (size_t c = 0; c < count && start <= line.size(); ++c) {
      size_t tab = c + 1 < count ? line.find(kCellSeparator, start) : std::string::npos;
      row[c] = TrimBlanks(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(std::move(row));
  }
  ApplyUpperCase(rows, columns);
  return rows;
}

std::vector<ListRow> SplitTabbedRows(const std::vector<std::string>& lines,
                                     const std::vector<ListColumn>& columns) {
  return SplitRows(lines, columns, {});
}

std::vector<ListRow> SplitThreadRows(const std::vector<std::string>& lines) {
  std::vector<ListRow> rows;
  std::vector<std::string> run;
  auto flush = [&] {
    if (!run.empty()) SplitFrameRun(run, rows);
    run.clear();
  };
  for (const auto& line : lines) {
    if (line.empty() || StartsWithMarks(line)) {
      flush();
      rows.push_back(line.empty() ? ListRow(kThreadColumns) : MarkedRow(line, kThreadColumns));
      continue;
    }
    run.push_back(line);
  }
  flush();
  return rows;
}

bool DisassemblyHasLines(const std::vector<std::string>& lines) {
  for (const auto& line : lines) {
    if (line.size() <= 9 || StartsWithMarks(line)) continue;
    size_t end = line.find(' ', 9);
    if (end != std::string::npos && IsDigits(line.substr(9, end - 9), false)) return true;
  }
  return false;
}

std::vector<ListRow> SplitDisassemblyRows(const std::vector<std::string>& lines, bool withLines) {
  std::vector<ListRow> rows;
  const size_t count = withLines ? 4 : 3;
  for (const auto& line : lines) {
    if (StartsWithMarks(line)) {
      rows.push_back(MarkedRow(line, count));
      continue;
    }
    ListRow row(count);
    size_t space = line.find(' ');
    row[0] = line.substr(0, space);
    std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (withLines) {
      // A label line has blanks where the number stands; an address alone is followed by
      // its number.
      std::string trimmed = TrimBlanks(rest);
      size_t end = trimmed.find(' ');
      std::string first = trimmed.substr(0, end);
      if (!rest.empty() && rest[0] != ' ' && IsDigits(first, false)) {
        row[1] = first;
        rest = end == std::string::npos ? std::string() : trimmed.substr(end + 1);
      }
    }
    size_t semicolon = rest.find(';');
    row[count - 2] = TrimBlanks(rest.substr(0, semicolon));
    if (semicolon != std::string::npos) row[count - 1] = TrimBlanks(rest.substr(semicolon + 1));
    rows.push_back(std::move(row));
  }
  return rows;
}

void ApplyUpperCase(std::vector<ListRow>& rows, const std::vector<ListColumn>& columns) {
  for (auto& row : rows)
    for (size_t c = 0; c < row.size() && c < columns.size(); ++c)
      if (columns[c].upperCase && !(c == 0 && row[c] == ">>")) UpperCaseCell(row[c]);
}

}  // namespace qx
