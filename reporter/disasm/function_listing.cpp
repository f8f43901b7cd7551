// DisassembleFunction: the listing of an analysed function with labels, case and exception
// tables, line numbers, the marked line and the line limit.
#include <algorithm>
#include <cstring>

#include "function_analysis.h"

namespace qx {
namespace {

const char kSeparator[] = "; ---------------------------------------------------------";
constexpr size_t kLabelColumn = 31;
constexpr size_t kOperandColumn = 19;

std::string ShortHex(uint32_t value) {
  char digits[9];
  snprintf(digits, sizeof digits, "%x", value);
  return digits;
}

std::string Address8(uint32_t value) {
  char digits[9];
  snprintf(digits, sizeof digits, "%08x", value);
  return digits;
}

std::string PadRight(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

unsigned DecimalDigits(uint32_t value) {
  unsigned digits = 0;
  while (value) {
    ++digits;
    value /= 10;
  }
  return digits;
}

// The class name of an exception-table entry: the runtime keeps a pointer to the class's
// name (a length byte and the characters) 44 bytes before the class reference.
std::string ClassName(CodeMemory& memory, uint32_t classRef) {
  uint32_t namePointer = 0;
  uint8_t length = 0;
  char name[256];
  if (classRef < 44 || !memory.Read(classRef - 44, &namePointer, 4) ||
      !memory.Read(namePointer, &length, 1) || length == 0 ||
      !memory.Read(namePointer + 1, name, length)) {
    return "EUnknown";
  }
  for (unsigned i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(name[i]) < 0x20) return "EUnknown";
  }
  return std::string(name, length);
}

enum class LineKind { kInstruction, kLabel, kOther };

struct Line {
  uint32_t address;
  LineKind kind;
  std::string text;  // instruction lines: the decoder's text, with its address
};

class Lister {
 public:
  Lister(CodeMemory& memory, const TFunctionInfo& info, const TRuntimeRoutines& routines,
         bool formatted)
      : memory_(memory), info_(info), routines_(routines), formatted_(formatted) {}

  bool Compose(std::vector<Line>& lines);
  std::string HeaderLabel();

 private:
  void Add(uint32_t address, LineKind kind, std::string text) {
    lines_->push_back({address, kind, std::move(text)});
  }
  bool LastIsBlank() const {
    return lines_->empty() || (lines_->back().kind == LineKind::kOther && lines_->back().text.empty());
  }
  void BlockLead(uint32_t address);
  void BlockTail(uint32_t address);
  void CaseTable(const TCodeArea& area);
  void ExceptTable(const TCodeArea& area);
  void Code(const TCodeArea& area, bool isLastArea);
  bool BeginsArea(uint32_t address) const {
    for (const TCodeArea& area : info_.codeAreas) {
      if (area.begin == address && !area.isCaseTable && !area.isExceptTable) return true;
    }
    return false;
  }
  std::string LabelOf(uint32_t address) {
    return address == info_.entryPoint ? header_ : "loc_" + ShortHex(address);
  }

  CodeMemory& memory_;
  const TFunctionInfo& info_;
  TRuntimeRoutines routines_;
  bool formatted_;
  std::string header_;
  std::vector<Line>* lines_ = nullptr;
};

std::string Lister::HeaderLabel() {
  if (header_.empty()) {
    std::string name = FunctionNameAt(memory_, info_.entryPoint, nullptr);
    header_ = name.empty() ? "sub_" + ShortHex(info_.entryPoint) : "public " + name;
  }
  return header_;
}

void Lister::BlockLead(uint32_t address) {
  if (!formatted_) return;
  // The block follows code when the last line that is not blank is an instruction (or the
  // separator that code already ended with).
  auto last = lines_->rbegin();
  while (last != lines_->rend() && last->kind == LineKind::kOther && last->text.empty()) ++last;
  if (last == lines_->rend() || last->kind == LineKind::kLabel) return;
  const bool endedWithSeparator = last->text == kSeparator;
  if (!LastIsBlank()) Add(address, LineKind::kOther, "");
  if (!endedWithSeparator) {
    Add(address, LineKind::kOther, kSeparator);
    Add(address, LineKind::kOther, "");
  }
}

void Lister::BlockTail(uint32_t address) {
  if (!formatted_) return;
  Add(address, LineKind::kOther, "");
  Add(address, LineKind::kOther, kSeparator);
  Add(address, LineKind::kOther, "");
}

void Lister::CaseTable(const TCodeArea& area) {
  BlockLead(area.begin);
  const uint32_t count = (area.end - area.begin + 1) / 4;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t target = 0;
    memory_.Read(area.begin + i * 4, &target, 4);
    std::string text = "  dd loc_" + ShortHex(target);
    if (i == 0) text = PadRight(text, kLabelColumn) + "  ; case jump table";
    Add(area.begin + i * 4, LineKind::kOther, text);
  }
  BlockTail(area.end + 1);
}

void Lister::ExceptTable(const TCodeArea& area) {
  BlockLead(area.begin);
  uint32_t count = 0;
  memory_.Read(area.begin, &count, 4);
  count = std::min(count, (area.end - area.begin + 1) / 8);
  std::vector<std::pair<std::string, uint32_t>> entries;
  size_t longest = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t classRef = 0, handler = 0;
    memory_.Read(area.begin + 4 + i * 8, &classRef, 4);
    memory_.Read(area.begin + 8 + i * 8, &handler, 4);
    std::string name = classRef ? ClassName(memory_, classRef) : std::string();
    longest = std::max(longest, name.size());
    entries.emplace_back(name, handler);
  }
  for (uint32_t i = 0; i < count; ++i) {
    const auto& [name, handler] = entries[i];
    std::string text = name.empty() ? PadRight("  else", longest + 8)
                                    : "  on " + PadRight(name, longest) + " do";
    Add(area.begin + 4 + i * 8, LineKind::kOther, text + " loc_" + ShortHex(handler));
  }
  BlockTail(area.end + 1);
}

void Lister::Code(const TCodeArea& area, bool isLastArea) {
  TRegState state = area.regState;
  for (uint32_t at = area.begin; at <= area.end;) {
    std::string text;
    const TInstrInfo instr = DecodeInstructionText(memory_, at, text, &state, true);
    if (instr.next <= at) break;
    if (instr.isValid && instr.isRelTarget && (instr.isCall || instr.isJump) &&
        BeginsArea(instr.target)) {
      size_t cut = text.find(' ', 11);
      if (cut != std::string::npos) text.resize(cut);
      text = PadRight(text, kOperandColumn);
      if (text.back() != ' ') text += ' ';
      text += LabelOf(instr.target);
    }
    Add(at, LineKind::kInstruction, text);
    const bool last = isLastArea && instr.next > area.end;
    if (formatted_ && !last) {
      const uint16_t op = instr.opcode;
      const bool unconditional =
          op == 0xE9 || op == 0xEA || op == 0xEB ||
          (op == 0xFF && (((instr.modRm >> 3) & 7) == 4 || ((instr.modRm >> 3) & 7) == 5));
      const bool isReturn = op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB || op == 0xCF;
      const bool toHandler = instr.target != 0 && (instr.target == routines_.catchAllHandler ||
                                                   instr.target == routines_.typedHandler ||
                                                   instr.target == routines_.finallyHandler);
      if (isReturn || unconditional) {
        Add(instr.next, LineKind::kOther, "");
        if (!toHandler) {
          Add(instr.next, LineKind::kOther, kSeparator);
          Add(instr.next, LineKind::kOther, "");
        }
      } else if (instr.isCall || instr.isJump) {
        Add(instr.next, LineKind::kOther, "");
      }
    }
    at = instr.next;
  }
}

bool Lister::Compose(std::vector<Line>& lines) {
  lines_ = &lines;
  HeaderLabel();
  std::vector<const TCodeArea*> areas;
  for (const TCodeArea& area : info_.codeAreas) areas.push_back(&area);
  std::stable_sort(areas.begin(), areas.end(),
                   [](const TCodeArea* a, const TCodeArea* b) { return a->begin < b->begin; });
  for (size_t i = 1; i < areas.size(); ++i) {
    if (areas[i]->begin <= areas[i - 1]->end || areas[i]->end < areas[i]->begin) return false;
  }
  for (size_t i = 0; i < areas.size(); ++i) {
    const TCodeArea& area = *areas[i];
    if (area.begin == info_.entryPoint || (formatted_ && area.branchFrom != 0)) {
      if (!LastIsBlank()) Add(area.begin, LineKind::kOther, "");
      std::string label = LabelOf(area.begin) + ":";
      if (area.begin == info_.entryPoint) {
        label = PadRight(label, kLabelColumn) + "  ; function entry point";
      }
      Add(area.begin, LineKind::kLabel, label);
    }
    if (area.isCaseTable) {
      CaseTable(area);
    } else if (area.isExceptTable) {
      ExceptTable(area);
    } else {
      Code(area, i + 1 == areas.size());
    }
  }
  return true;
}

// Writes one line: the marker, the line-number column and CR LF.
class LineWriter {
 public:
  LineWriter(uint32_t marked, unsigned width) : marked_(marked), width_(width) {
    out_.reserve(200);
  }

  void Write(const Line& line) {
    std::string text = line.kind == LineKind::kInstruction
                           ? line.text
                           : (line.text.empty() ? Address8(line.address)
                                                : Address8(line.address) + " " + line.text);
    if (line.kind == LineKind::kInstruction && line.address == marked_ && text.size() > 9) {
      text[9] = '>';
    }
    if (width_ != 0) {
      std::string column;
      if (line.kind == LineKind::kLabel) {
        column.assign(width_ + 1, ' ');
      } else {
        uint32_t number = LineOf(line.address);
        if (number != previous_ || text.size() <= 9) {
          column = Padded(number) + " ";
        } else {
          column.assign(width_ + 1, ' ');
        }
        previous_ = number;
      }
      if (text.size() > 9) {
        text.insert(9, column);
      } else {
        text += ' ';
        text += Padded(LineOf(line.address));
      }
    }
    Append(text);
  }

  void Append(const std::string& text) {
    if (out_.capacity() < out_.size() + text.size() + 2) {
      out_.reserve((out_.size() + text.size() + 2) * 2);
    }
    out_ += text;
    out_ += "\r\n";
  }

  std::string Take() {
    if (out_.size() >= 2) out_.resize(out_.size() - 2);
    return std::move(out_);
  }

 private:
  uint32_t LineOf(uint32_t address) {
    if (!MapLineHook) return 0;
    if (!(address >= rangeBegin_ && address < rangeEnd_)) {
      MapLineHook(address, line_, rangeBegin_, rangeEnd_);
    }
    return line_;
  }
  std::string Padded(uint32_t number) const {
    std::string digits = std::to_string(number);
    if (digits.size() < width_) digits.insert(0, width_ - digits.size(), '0');
    return digits;
  }

  uint32_t marked_;
  unsigned width_;
  uint32_t previous_ = 0xFFFFFFFF;
  uint32_t line_ = 0, rangeBegin_ = 0, rangeEnd_ = 0;
  std::string out_;
};

unsigned LineNumberWidth(const TFunctionInfo& info, uint32_t marked) {
  if (!MapLineHook) return 0;
  uint32_t line = 0, begin = 0, end = 0;
  MapLineHook(info.entryPoint + info.codeLength - 1, line, begin, end);
  if (line == 0) {
    begin = end = 0;
    MapLineHook(marked, line, begin, end);
    line *= 10;
  }
  return DecimalDigits(line);
}

}  // namespace

std::string DisassembleFunction(CodeMemory& memory, uint32_t entry, uint32_t marked,
                                bool formatted, int lineLimit, TFunctionInfo* infoOut,
                                const TRuntimeRoutines& routines) {
  TFunctionInfo local;
  TFunctionInfo& info = infoOut ? *infoOut : local;
  info = ParseFunction(memory, entry, nullptr, routines);
  if (!info.isValid) return {};
  TRuntimeRoutines effective = routines;
  if (!effective.catchAllHandler) effective.catchAllHandler = DefaultRuntimeRoutines.catchAllHandler;
  if (!effective.typedHandler) effective.typedHandler = DefaultRuntimeRoutines.typedHandler;
  if (!effective.finallyHandler) effective.finallyHandler = DefaultRuntimeRoutines.finallyHandler;
  Lister lister(memory, info, effective, formatted);
  std::vector<Line> lines;
  if (!lister.Compose(lines)) return kListingInternalError;

  size_t first = 0, last = lines.size();
  bool leadingMark = false, trailingMark = false;
  if (lineLimit > 0) {
    const size_t limit = static_cast<size_t>(lineLimit);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].address < marked) continue;
      if (i + 1 > limit * 12 / 10) {
        first = i - limit;
        leadingMark = true;
      }
      if (lines.size() - (i + 1) > limit) {
        last = i + 1 + limit;
        trailingMark = true;
      }
      break;
    }
  }
  LineWriter writer(marked, LineNumberWidth(info, marked));
  if (leadingMark) writer.Append("[...]");
  for (size_t i = first; i < last; ++i) writer.Write(lines[i]);
  if (trailingMark) writer.Append("[...]");
  return writer.Take();
}

}  // namespace qx
