#include "report_pages.h"

namespace qx {

namespace {

constexpr char kThreadColumns[] = "^address|^ rel.|module|unit| line| rel.|function";
constexpr char kPlaceholder[] = ">> will be";
constexpr char kInternalError[] = ">> internal";
// The stack dump's lines are "address  16 bytes  16 characters" at fixed places.
constexpr size_t kStackDumpCuts[] = {9, 60};

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string TabCaption(const std::string& section) {
  if (section == "cpu registers") return "cpu regs";
  if (section == "disassembling") return "disasm";
  return section;
}

// Untitled columns, one more than cuts found.
std::vector<ListColumn> DetectedColumns(size_t cuts) {
  return std::vector<ListColumn>(cuts + 1);
}

ListPage Detected(const std::vector<std::string>& lines) {
  std::vector<size_t> cuts = DetectBoundaries(lines);
  if (cuts.empty()) return {};
  ListPage page;
  page.columns = DetectedColumns(cuts.size());
  page.rows = SplitRows(lines, page.columns, cuts);
  return page;
}

ListPage WithColumns(const std::vector<std::string>& lines, const std::string& layout,
                     const std::vector<size_t>& cuts) {
  ListPage page;
  page.columns = ParseColumns(layout);
  page.rows = SplitRows(lines, page.columns, cuts);
  return page;
}

ListPage ThreadPage(const std::vector<std::string>& lines) {
  ListPage page;
  page.columns = ParseColumns(kThreadColumns);
  page.rows = SplitThreadRows(lines);
  ApplyUpperCase(page.rows, page.columns);
  return page;
}

ListPage DisassemblyPage(const std::vector<std::string>& lines) {
  bool withLines = DisassemblyHasLines(lines);
  ListPage page;
  page.columns = ParseColumns(withLines ? "address|line|asm code|comments" : "address|asm code|comments");
  page.rows = SplitDisassemblyRows(lines, withLines);
  return page;
}

bool HasContent(const std::vector<ListRow>& rows) {
  for (const auto& row : rows)
    for (const auto& cell : row)
      if (!cell.empty()) return true;
  return false;
}

}  // namespace

size_t ThreadSectionCount(const std::vector<ReportPart>& sections) {
  size_t count = 0;
  while (count < sections.size() && sections[count].name.find('$') != std::string::npos) ++count;
  return count;
}

std::vector<ReportTab> ReportTabs(const std::vector<ReportPart>& sections) {
  std::vector<ReportTab> tabs;
  tabs.push_back({ReportTab::Kind::kGeneral, "general", {}});
  bool several = sections.size() > 1 && sections[1].name.find('$') != std::string::npos;
  tabs.push_back({ReportTab::Kind::kCallStack, several ? "call stacks" : "call stack", {}});
  for (size_t i = ThreadSectionCount(sections); i < sections.size(); ++i)
    tabs.push_back({ReportTab::Kind::kSection, TabCaption(sections[i].name), sections[i].name});
  return tabs;
}

std::string GeneralPageText(const std::vector<ReportPart>& fields) {
  std::string text;
  for (const auto& field : fields) {
    if (!text.empty()) text += "\r\n";
    text += field.name + "\t" + field.content;
  }
  return text;
}

std::string CallStackPageText(const std::vector<ReportPart>& sections) {
  std::string text;
  size_t threads = ThreadSectionCount(sections);
  for (size_t i = 0; i < threads; ++i) {
    if (i > 0) text += "\r\n\r\n";
    text += ">> " + sections[i].name + "\r\n" + sections[i].content;
  }
  return text;
}

std::string PageText(const ReportTab& tab, const std::vector<ReportPart>& fields,
                     const std::vector<ReportPart>& sections) {
  switch (tab.kind) {
    case ReportTab::Kind::kGeneral:
      return GeneralPageText(fields);
    case ReportTab::Kind::kCallStack:
      return CallStackPageText(sections);
    case ReportTab::Kind::kSection:
      for (const auto& section : sections)
        if (section.name == tab.section) return section.content;
      break;
  }
  return {};
}

std::string ProcessColumns(size_t boundaries) {
  if (boundaries <= 3) return "^id|file name|priority|path";
  if (boundaries == 4) return "^id|file name|session|priority|path";
  if (boundaries == 5) return "^id|file name|gdi objects|user objects|priority|path";
  return "^id|file name|session|gdi objects|user objects|priority|path";
}

ListPage BuildListPage(const ReportTab& tab, const std::string& text) {
  std::vector<std::string> lines = TrimmedLines(text);
  ListPage page;
  if (tab.kind == ReportTab::Kind::kGeneral) {
    page = WithColumns(lines, "description|value", {});
  } else if (tab.kind == ReportTab::Kind::kCallStack || StartsWith(text, kInternalError)) {
    page = ThreadPage(lines);
  } else if (StartsWith(text, kPlaceholder)) {
    page = Detected(lines);
  } else if (tab.section == "modules") {
    page = WithColumns(lines, "^handle|file name| version|path", DetectBoundaries(lines));
  } else if (tab.section == "cpu registers") {
    page = WithColumns(lines, "reg.|content", DetectBoundaries(lines));
  } else if (tab.section == "stack dump") {
    page = WithColumns(lines, "address|data - hexadecimal|data - chars",
                       {std::begin(kStackDumpCuts), std::end(kStackDumpCuts)});
  } else if (tab.section == "processes") {
    std::vector<size_t> cuts = DetectBoundaries(lines);
    page = WithColumns(lines, ProcessColumns(cuts.size()), cuts);
  } else if (tab.section == "disassembling") {
    page = DisassemblyPage(lines);
  } else {
    page = Detected(lines);
  }
  if (page.columns.empty() || !HasContent(page.rows)) return {};
  return page;
}

}  // namespace qx
