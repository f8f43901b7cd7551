// The exception box's report pages: which tabs a report gets, the text each page shows,
// and the columns and rows that text becomes. Text in, text out.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "report_columns.h"

namespace qx {

// One section of the report as the box reads it: name and content.
struct ReportPart {
  std::string name;
  std::string content;
};

struct ReportTab {
  enum class Kind { kGeneral, kCallStack, kSection };
  Kind kind = Kind::kSection;
  std::string caption;
  std::string section;  // the section shown (kSection only)
};

// How many of the leading sections describe threads (their names hold a "$").
size_t ThreadSectionCount(const std::vector<ReportPart>& sections);

// "general", "call stack" ("call stacks" when the second section also names a thread), then
// one tab per further section ("cpu registers" as "cpu regs", "disassembling" as "disasm").
std::vector<ReportTab> ReportTabs(const std::vector<ReportPart>& sections);

// The header fields, one "name<tab>value" line each.
std::string GeneralPageText(const std::vector<ReportPart>& fields);

// ">> " + name, the content, an empty line between threads.
std::string CallStackPageText(const std::vector<ReportPart>& sections);

// The text a tab shows; empty when its section is gone.
std::string PageText(const ReportTab& tab, const std::vector<ReportPart>& fields,
                     const std::vector<ReportPart>& sections);

// The page as a list: no columns (or no rows) means the plain text in an edit control.
struct ListPage {
  std::vector<ListColumn> columns;
  std::vector<ListRow> rows;
};
ListPage BuildListPage(const ReportTab& tab, const std::string& text);

// The four column sets of the process list, chosen by the number of cuts found.
std::string ProcessColumns(size_t boundaries);

}  // namespace qx
