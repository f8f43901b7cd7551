// Text: the visible items are named from the maps and exports, the runtime's own frames
// around a throw are hidden, and the frame lines are laid out in aligned columns.
#include <algorithm>
#include <cstdio>

#include "callstack_crc.h"
#include "stack_trace_internal.h"

namespace qx {

using namespace stackwalk;

namespace stackwalk {

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

}  // namespace stackwalk

namespace {

// The call's offset in its function; 0 when the start is unknown or not below it.
uint32_t RelAddrOf(const Item& item) {
  return item.functionStart != 0 && item.functionStart < item.codeAddr
             ? item.codeAddr - item.functionStart
             : 0;
}

CrcStackItem CrcItemOf(const Item& item) {
  CrcStackItem crc;
  crc.address = item.codeAddr;
  crc.functionStart = item.functionStart;
  crc.module = item.moduleName == "???" ? std::string() : item.moduleName;
  crc.unit = item.unitName;
  crc.function = item.functionName;
  crc.hasLine = item.relLine != 0 || item.absLine > 0;
  return crc;
}

}  // namespace

// The item's own call site: one in an approved function first, else any.
const CallLink* StackTraceRun::OwnSiteLink(const Item& item) {
  for (const CallLink& link : item.lists[kToCallers].items) {
    if (link.function >= 0 && Function(link.function).approved && link.codeAddr != 0)
      return &link;
  }
  for (const CallLink& link : item.lists[kToCallers].items) {
    if (link.codeAddr != 0) return &link;
  }
  return nullptr;
}

void StackTraceRun::FillFinalOutput() {
  if (in_.knownContext && !in_.isException) KeepLiveFrames();
  bool first = true;
  for (int i = ItemCount() - 1; i >= 0; --i) {
    CheckAbort();
    Item& item = ItemAt(i);
    if (item.hidden) continue;
    NameItem(item);
    if (first) {
      out_.topCodeAddress = item.codeAddr;
      first = false;
    }
  }
  if (in_.cppTermination) HideThrowRoutines();
  if (Prepared() && !in_.dontAddTopItem) HideExceptionHandler();
}

// Code address, module, function, unit and lines of one visible item.
void StackTraceRun::NameItem(Item& item) {
  const CallLink* use = OwnSiteLink(item);
  item.codeAddr = use != nullptr ? use->codeAddr : item.addr;
  int module = item.module;
  if (use != nullptr && use->function >= 0 && Function(use->function).approved) {
    FunctionEntry& f = Function(use->function);
    item.functionStart = f.info.entryPoint;
    module = f.module >= 0 ? f.module : module;
    if (!f.name.empty()) item.functionName = UnmangleExportName(f.name);
  }
  ModuleEntry* m = ModuleOf(module);
  item.moduleName = m != nullptr ? m->name : "???";
  if (m != nullptr && m->map) {
    NameFromMap(item, *m);
  } else if (m != nullptr && item.functionName.empty()) {
    NameFromExports(item, *m);
  }
}

void StackTraceRun::NameFromMap(Item& item, ModuleEntry& m) {
  const TMapFile& map = *m.map;
  const TMfPublic* pub = PublicAt(map, item.codeAddr);
  if (pub != nullptr && (item.functionName.empty() || item.functionStart == pub->address ||
                         item.functionStart == 0)) {
    item.functionName = pub->name;
    item.functionStart = pub->address;
  }
  if (const TMfSegment* seg = SegmentAt(map, true, item.codeAddr)) item.unitName = seg->name;
  uint32_t next = 0;
  int line = LineAt(map, item.codeAddr, next);
  if (line > 0) {
    item.relLine = line;
    if (in_.showRelLines && item.functionStart != 0) {
      // A line before the function's first one comes from other code merged into it (a
      // header's inlined routine): it gets no relative line.
      int firstLine = LineAt(map, item.functionStart, next);
      if (firstLine > 0 && firstLine <= line) {
        item.absLine = line;
        item.line = line;
        item.relLine = line - firstLine;
      }
    }
  }
  NoteMinDebugInfo(m);
}

void StackTraceRun::NoteMinDebugInfo(const ModuleEntry& m) {
  if (m.map->minDebugInfo.empty() || minDebugInfo_ == nullptr) return;
  std::string entry = m.name + "|" + m.map->minDebugInfo;
  if (std::find(minDebugInfo_->begin(), minDebugInfo_->end(), entry) == minDebugInfo_->end())
    minDebugInfo_->push_back(entry);
}

// Without a map the closest export names the function when its code holds the address;
// code that no export covers (a module's inner routines, stripped of their names) is named
// by its module and its offset there, so that the frame is shown rather than dropped.
void StackTraceRun::NameFromExports(Item& item, ModuleEntry& m) {
  uint32_t start = ClosestExportBelow(m, item.codeAddr);
  if (start != 0 && start != m.entryPoint && ExportHolds(item.module, start, item.codeAddr)) {
    item.functionName = ExportNameAt(mem_, m.base, start, true);
    item.functionStart = start;
  }
  if (item.functionName.empty() && item.codeAddr >= m.base) {
    char offset[16];
    std::snprintf(offset, sizeof offset, "+%x", item.codeAddr - m.base);
    item.functionName = m.name + offset;
  }
}

bool StackTraceRun::ExportHolds(int module, uint32_t start, uint32_t address) {
  const int f = AnalyseFunction(start, module, {}, false);
  for (const TCodeArea& area : Function(f).info.codeAreas) {
    if (area.end != 0 && address >= area.begin && address <= area.end) return true;
  }
  return false;
}

void StackTraceRun::HideFrom(int index, bool keepTop) {
  for (int k = index; k < ItemCount(); ++k) {
    if (keepTop && ItemAt(k).isTop) continue;
    ItemAt(k).hidden = true;
  }
}

// In a C++ termination the newest throw routine and everything above it are the runtime's.
void StackTraceRun::HideThrowRoutines() {
  for (int i = ItemCount() - 1; i >= 0; --i) {
    const Item& item = ItemAt(i);
    if (item.hidden) continue;
    // This runtime's throw routines stand where the original runtime had its own.
    if (item.functionName == "_ThrowExceptionLDTC" || item.functionName == "_ReThrowException" ||
        item.functionName == "__cxa_throw" || item.functionName == "__cxa_rethrow") {
      HideFrom(i, false);
      return;
    }
  }
}

// A stack prepared in an exception holds the handler's frames above the fault: the newest
// handler frame and those above it are hidden (the top item stays), and the system's
// dispatcher right below it too.
void StackTraceRun::HideExceptionHandler() {
  for (int i = ItemCount() - 1; i >= 0; --i) {
    if (ItemAt(i).hidden || ItemAt(i).functionName != "__ExceptionHandler") continue;
    HideFrom(i, true);
    for (int k = i - 1; k >= 0; --k) {
      Item& below = ItemAt(k);
      if (below.hidden || below.functionName.empty()) continue;
      if (below.functionName == "KiUserExceptionDispatcher") below.hidden = true;
      break;
    }
    return;
  }
}

// The widths of the frame lines' columns, over every line that could show.
struct StackTraceRun::Columns {
  size_t moduleWidth = 0, unitWidth = 0, lineWidth = 0, relWidth = 0, relAddrDigits = 0;
  bool anyLine = false, anyAbsLine = false, anyStart = false;
  bool relColumn = false;
};

// HideUglyItems: an item without a source line (RelLine 0 or less) is left out unless it is
// the top item or the creator. Without the setting every named item shows, and every item in
// a known module has a name (its export, else module + offset: see NameFromExports); only
// items outside every module stay unnamed and unshown.
bool StackTraceRun::CouldShow(int i) const {
  const Item& item = ItemAt(i);
  if (item.hidden) return false;
  if (item.isTop || (i == 0 && in_.creatorAddress != 0)) return true;
  if (item.functionName.empty()) return false;
  if (in_.hideUglyItems && item.relLine <= 0) return false;
  return true;
}

// The items shown, newest first, without repeats of the same code address; measures the
// columns over every item that could show.
std::vector<const Item*> StackTraceRun::ShownLines(Columns& c) const {
  const bool withCreator = in_.creatorAddress != 0;
  std::vector<const Item*> lines;
  uint32_t lastAddr = 0;
  for (int i = ItemCount() - 1; i >= 0; --i) {
    if (!CouldShow(i)) continue;
    const Item& item = ItemAt(i);
    c.moduleWidth = std::max(c.moduleWidth, item.moduleName.size());
    c.unitWidth = std::max(c.unitWidth, item.unitName.size());
    if (item.absLine > 0) {
      c.anyAbsLine = true;
      c.lineWidth = std::max(c.lineWidth, std::to_string(item.absLine).size());
    }
    if (item.relLine != 0 || item.absLine > 0) {
      c.anyLine = true;
      size_t width = std::to_string(item.relLine).size() + (in_.showRelLines && item.absLine > 0);
      c.relWidth = std::max(c.relWidth, width);
    }
    if (item.functionStart != 0 && item.functionStart < item.codeAddr) {
      c.anyStart = true;
      char digits[16];
      c.relAddrDigits = std::max<size_t>(
          c.relAddrDigits, static_cast<size_t>(std::snprintf(digits, sizeof digits, "%x",
                                                             item.codeAddr - item.functionStart)));
    }
    bool repeat = !lines.empty() && item.codeAddr == lastAddr &&
                  !(item.isTop || (i == 0 && withCreator));
    if (repeat) continue;
    lines.push_back(&item);
    lastAddr = item.codeAddr;
  }
  c.relColumn = in_.showRelAddrs && c.anyStart;
  return lines;
}

// "address +rel module unit line +relline function", padded to the columns.
std::string StackTraceRun::LineText(const Item& item, const Columns& c) const {
  std::string text = Hex8(item.codeAddr);
  text += ' ';
  if (c.relColumn) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "+%0*x ", static_cast<int>(c.relAddrDigits),
                  RelAddrOf(item));
    text += buffer;
  }
  text += item.moduleName;
  text.append(c.moduleWidth + 1 - item.moduleName.size(), ' ');
  text += item.unitName;
  text.append(c.unitWidth + 1 - item.unitName.size(), ' ');
  if (c.anyAbsLine) {
    std::string number = item.absLine > 0 ? std::to_string(item.absLine) : std::string();
    text.append(c.lineWidth - number.size(), ' ');
    text += number;
    text += ' ';
  }
  if (c.anyLine) {
    std::string number;
    if (item.relLine != 0 || item.absLine > 0) {
      number = std::to_string(item.relLine);
      if (in_.showRelLines && item.absLine > 0) number = "+" + number;
    }
    text.append(c.relWidth - std::min(c.relWidth, number.size()), ' ');
    text += number;
    text += ' ';
  }
  text += item.functionName;
  return text;
}

// The item as a trace entry; the first item with a function start (with a line preferred)
// gives the disassembly its function.
void StackTraceRun::AddResultItem(const Item& item, bool& firstWithLine) {
  TStackItem out;
  out.Addr = item.codeAddr;
  out.RelAddr = RelAddrOf(item);
  out.ModuleName = item.moduleName;
  out.UnitName = item.unitName;
  out.Line = item.line;
  out.RelLine = item.relLine;
  out.FunctionName = item.functionName;
  out_.trace.push_back(std::move(out));
  if (item.functionStart == 0) return;
  if (item.absLine > 0 && !firstWithLine) {
    out_.firstFunctionStart = item.functionStart;
    out_.firstFunctionAddr = item.codeAddr;
    firstWithLine = true;
  } else if (out_.firstFunctionStart == 0) {
    out_.firstFunctionStart = item.functionStart;
    out_.firstFunctionAddr = item.codeAddr;
  }
}

void StackTraceRun::ComposeResult() {
  Columns columns;
  const std::vector<const Item*> lines = ShownLines(columns);
  std::string text;
  std::vector<CrcStackItem> crcItems;
  bool firstWithLine = false;
  for (const Item* item : lines) {
    if (!text.empty()) text += "\r\n";
    text += LineText(*item, columns);
    AddResultItem(*item, firstWithLine);
    crcItems.push_back(CrcItemOf(*item));
  }
  ThreadCrc crc = ThreadCallstackCrc(crcItems);
  out_.crcLocation = crc.location;
  out_.crcStack = crc.stack;
  out_.hasLines = crc.hasLines;
  out_.text = std::move(text);
}

std::string StackAddressText(StackMemory& memory, uint32_t address, bool showRelAddrs,
                             bool showRelLines) {
  std::string text = Hex8(address);
  TModuleInfo module;
  std::shared_ptr<const TMapFile> map;
  TMfLookup found;
  bool known = memory.ModuleAt(address, module) && (map = memory.MapOfModule(module)) &&
               map->isValid && LookupInMap(*map, address, found);
  if (!known) {
    if (showRelAddrs) text += " +0";
    return text + " ???";
  }
  char buffer[24];
  if (showRelAddrs) {
    std::snprintf(buffer, sizeof buffer, " +%x",
                  found.publicAddress <= address ? address - found.publicAddress : 0);
    text += buffer;
  }
  text += " " + FileNameOf(found.moduleFileName.empty() ? module.fileName : found.moduleFileName);
  text += " " + found.unitName + " ";
  if (found.line > 0) text += std::to_string(found.line) + " ";
  if (showRelLines) {
    uint32_t next = 0;
    int first = found.publicAddress != 0 ? LineAt(*map, found.publicAddress, next) : 0;
    if (first > 0 && found.line >= first)
      text += "+" + std::to_string(found.line - first) + " ";
    else
      text += "+0 ";
  }
  return text + found.publicName;
}

std::string InternalErrorText(StackMemory& memory, const std::string& name, bool showRelAddrs,
                              bool showRelLines, uint32_t exceptionAddress) {
  std::string text = ">> internal error in " + name;
  if (exceptionAddress != 0) {
    text += ":\r\n";
    text += StackAddressText(memory, exceptionAddress, showRelAddrs, showRelLines);
  }
  return text;
}

}  // namespace qx
