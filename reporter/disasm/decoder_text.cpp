// The text line of one instruction: mnemonic choice, operands, immediates, memory operands
// and the function-name or string comment.
#include <cctype>
#include <cstring>
#include <string_view>

#include "decoder_internal.h"

namespace qx {
namespace decoder {
namespace {

const char* const kByteRegs[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char* const kWordRegs[8] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
const char* const kDwordRegs[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
const char* const kSegRegs[8] = {"es", "cs", "ss", "ds", "fs", "gs", "?", "?"};
const char* const kMmxRegs[8] = {"mm0", "mm1", "mm2", "mm3", "mm4", "mm5", "mm6", "mm7"};
const char* const kXmmRegs[8] = {"xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7"};
const char* const kFpuRegs[8] = {"st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)"};
const char* const kControlRegs[8] = {"cr0", "cr1", "cr2", "cr3", "cr4", "cr5", "cr6", "cr7"};
const char* const kDebugRegs[8] = {"dr0", "dr1", "dr2", "dr3", "dr4", "dr5", "dr6", "dr7"};
const char kHexDigits[] = "0123456789abcdef";
constexpr size_t kOperandColumn = 19;
constexpr size_t kCommentColumn = 40;
constexpr uint32_t kStringScan = 100;

// A short text built without allocation; what does not fit is dropped.
struct Piece {
  char chars[80];
  uint8_t size = 0;
  void Add(char c) {
    if (size < sizeof chars) chars[size++] = c;
  }
  void Add(std::string_view text) {
    for (char c : text) Add(c);
  }
  void Add(const char* text) {
    while (*text) Add(*text++);
  }
  std::string_view View() const { return std::string_view(chars, size); }
  bool Empty() const { return size == 0; }
};

void AppendHexDigits(Piece& out, uint32_t value) {
  char digits[8];
  int n = 0;
  do {
    digits[n++] = kHexDigits[value & 15];
    value >>= 4;
  } while (value);
  while (n) out.Add(digits[--n]);
}

// "$" and the digits without padding.
void AppendHex(Piece& out, uint32_t value) {
  out.Add('$');
  AppendHexDigits(out, value);
}

// Above 9 as hex, else the decimal digit.
void AppendNumber(Piece& out, uint32_t value) {
  if (value > 9) {
    AppendHex(out, value);
  } else {
    out.Add(static_cast<char>('0' + value));
  }
}

void AppendAddress(std::string& out, uint32_t value) {
  char digits[8];
  for (int i = 7; i >= 0; --i, value >>= 4) digits[i] = kHexDigits[value & 15];
  out.append(digits, 8);
}

void PadTo(std::string& line, size_t column) {
  if (line.size() < column) line.append(column - line.size(), ' ');
}

// Part number wanted of text split at separator; count receives the number of parts.
std::string_view Split(std::string_view text, char separator, unsigned wanted,
                       unsigned* count = nullptr) {
  unsigned index = 0;
  size_t begin = 0;
  std::string_view result;
  for (;;) {
    size_t end = text.find(separator, begin);
    if (index == wanted) {
      result = text.substr(begin, end == std::string_view::npos ? end : end - begin);
      if (!count) return result;
    }
    ++index;
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  if (count) *count = index;
  return result;
}

std::string_view MnemonicEntry(unsigned number) {
  if (number == 0 || number > kMnemonicCount) return {};
  return std::string_view(kMnemonicList + kMnemonicStart[number - 1],
                          kMnemonicStart[number] - kMnemonicStart[number - 1] - 1);
}

std::string_view ThreeDNowName(uint8_t suffix) {
  std::string_view list(k3DNowList);
  for (size_t i = 0; i + 1 < list.size(); ++i) {
    if (list[i] != '|' || static_cast<uint8_t>(list[i + 1]) != suffix) continue;
    size_t begin = i + 2;
    size_t end = list.find('|', begin);
    return list.substr(begin, end == std::string_view::npos ? end : end - begin);
  }
  return {};
}

// Builds the mnemonic; usedPrefix tells whether a "/" choice consumed a repeat prefix.
[[gnu::always_inline]] inline void Mnemonic(const TDecoded& d, Piece& out, bool& usedPrefix) {
  const uint16_t op = d.info.opcode;
  usedPrefix = false;
  if (op == 0x0F0F) {
    out.Add(ThreeDNowName(static_cast<uint8_t>(d.imm)));
    return;
  }
  unsigned number = op >= 0x0F00 ? kTwoByteMnemonic[op & 0xFF] : kOneByteMnemonic[op];
  std::string_view chosen = MnemonicEntry(number);
  if (chosen.find('/') != std::string_view::npos) {
    unsigned pick = d.has66 ? 1 : d.repne ? 2 : d.rep ? 3 : 0;
    std::string_view choice = Split(chosen, '/', pick);
    if (choice.empty() && pick == 1 && (d.repne || d.rep)) {
      // 66h as the operand size of an instruction that F2h or F3h selects (popcnt ax, ...).
      pick = d.repne ? 2 : 3;
      choice = Split(chosen, '/', pick);
    }
    if (choice.empty()) {
      chosen = Split(chosen, '/', 0);
    } else {
      chosen = choice;
      usedPrefix = pick >= 2;
    }
  }
  if (chosen.find('|') != std::string_view::npos) {
    unsigned alternatives = 0;
    Split(chosen, '|', 0, &alternatives);
    if (alternatives <= 8 || d.isMemory) {
      chosen = Split(chosen, '|', d.reg);
    } else {
      chosen = Split(chosen, '|', d.reg + 8u);
      if (chosen.find('-') != std::string_view::npos) chosen = Split(chosen, '-', d.rm);
    }
  }
  if (chosen.find(':') != std::string_view::npos) chosen = Split(chosen, ':', d.isMemory ? 1 : 0);
  if (op >= 0xD8 && op <= 0xDF) out.Add('f');
  for (size_t i = 0; i < chosen.size(); ++i) {
    char c = chosen[i];
    if (c == 'S') {
      out.Add(d.has66 || d.repne ? 'd' : 's');
    } else if (c == 'P') {
      out.Add(d.repne || d.rep ? 's' : 'p');
    } else if (c == '%' && chosen.substr(i, 3) == "%cc") {
      out.Add(Split(kConditionList, '|', op & 15));
      i += 2;
    } else if (c == '%' && chosen.substr(i, 4) == "%seg") {
      out.Add(kSegRegs[(op >> 3) & 7]);
      i += 3;
    } else {
      out.Add(c);
    }
  }
}

enum class Kind { kNone, kByte, kWord, kDword, kMmx, kXmm, kFpu, kSegment, kControl };

const char* RegisterName(Kind kind, unsigned number, uint16_t opcode) {
  number &= 7;
  switch (kind) {
    case Kind::kByte: return kByteRegs[number];
    case Kind::kWord: return kWordRegs[number];
    case Kind::kDword: return kDwordRegs[number];
    case Kind::kMmx: return kMmxRegs[number];
    case Kind::kXmm: return kXmmRegs[number];
    case Kind::kFpu: return kFpuRegs[number];
    case Kind::kSegment: return kSegRegs[number];
    case Kind::kControl: return (opcode & 1) ? kDebugRegs[number] : kControlRegs[number];
    case Kind::kNone: break;
  }
  return "";
}

void AppendSigned(Piece& out, int32_t value, bool plusSign) {
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  if (value < 0) {
    out.Add('-');
  } else if (plusSign) {
    out.Add('+');
  }
  AppendNumber(out, magnitude);
}

const char* SizeWord(unsigned size) {
  switch (size) {
    case 1: return "byte";
    case 2: return "word";
    case 4: return "dword";
    case 8: return "qword";
    case 10: return "tbyte";
    case 16: return "oword";
    case 32: return "ymmword";
    case 64: return "zmmword";
    default: return nullptr;
  }
}

const char* VectorName(unsigned bytes, unsigned number) {
  static const char* const kYmmRegs[8] = {"ymm0", "ymm1", "ymm2", "ymm3",
                                          "ymm4", "ymm5", "ymm6", "ymm7"};
  static const char* const kZmmRegs[8] = {"zmm0", "zmm1", "zmm2", "zmm3",
                                          "zmm4", "zmm5", "zmm6", "zmm7"};
  number &= 7;
  return bytes >= 64 ? kZmmRegs[number] : bytes == 32 ? kYmmRegs[number] : kXmmRegs[number];
}

// vsibBytes: the index is a vector register of that width (gathers and scatters).
void MemoryText(const TDecoded& d, unsigned size, bool withSize, Piece& out,
                unsigned vsibBytes = 0) {
  const char* sizeWord = SizeWord(size);
  if (withSize && sizeWord) {
    out.Add(sizeWord);
    out.Add(" ptr ");
  }
  if (d.segment) {
    out.Add(kSegRegs[d.segment - 1]);
    out.Add(':');
  }
  const char* const* names = d.addr16 ? kWordRegs : kDwordRegs;
  out.Add('[');
  if (d.base != kNoRegister) out.Add(names[d.base]);
  if (d.index != kNoRegister) {
    if (d.base != kNoRegister) out.Add('+');  // no "+" right after "["
    out.Add(vsibBytes ? VectorName(vsibBytes, d.index) : names[d.index]);
    if (d.scale > 1) {
      out.Add('*');
      out.Add(static_cast<char>('0' + d.scale));
    }
  }
  if (d.base == kNoRegister && d.index == kNoRegister) {
    uint32_t value = static_cast<uint32_t>(d.disp);
    if (d.dispSize == 2) value &= 0xFFFF;
    AppendNumber(out, value);
  } else if (d.disp != 0) {
    AppendSigned(out, d.disp, true);
  }
  out.Add(']');
}

unsigned RmSize(unsigned rmKind) {
  static const unsigned kSizes[8] = {0, 0, 1, 2, 4, 8, 10, 16};
  return kSizes[rmKind & 7];
}

struct TOperands {
  Piece items[4];
  unsigned count = 0;
  Piece& Next() { return items[count < 3 ? count++ : 3]; }
  void Add(const char* text) { Next().Add(text); }
};

void RegisterOperands(const TDecoded& d, TOperands& ops, bool xmmReg, bool dwordReg) {
  const uint16_t op = d.info.opcode;
  const unsigned kind = RegKind(d.flags);
  const bool word = d.has66 && RegFollows66(d.flags);
  if (d.hasModRm) {
    Kind k = Kind::kNone;
    switch (kind) {
      case 1: k = Kind::kByte; break;
      case 2: k = Kind::kWord; break;
      case 3: k = op >= 0x0F20 && op <= 0x0F23 ? Kind::kControl : Kind::kSegment; break;
      case 4: k = word ? Kind::kWord : Kind::kDword; break;
      case 5: k = word ? Kind::kXmm : Kind::kMmx; break;
      case 6: k = Kind::kFpu; break;
      case 7: k = Kind::kXmm; break;
      default: break;
    }
    if (k == Kind::kMmx && xmmReg) k = Kind::kXmm;
    if (k == Kind::kXmm && !xmmReg && op == 0x0FD6 && d.repne) k = Kind::kMmx;
    if (dwordReg) k = Kind::kDword;
    if (k != Kind::kNone) ops.Add(k == Kind::kFpu ? "st" : RegisterName(k, d.reg, op));
    return;
  }
  const char* const* wide = word ? kWordRegs : kDwordRegs;
  switch (kind) {
    case 1: ops.Add("al"); break;
    case 2: ops.Add(wide[0]); break;
    case 4: ops.Add(kByteRegs[op & 7]); break;
    case 5: ops.Add(wide[op & 7]); break;
    case 6: ops.Add(wide[0]); ops.Add(wide[op & 7]); break;
    case 7: ops.Add((op & 1) ? wide[0] : "al"); ops.Add("dx"); break;
    default: break;
  }
}

void RmOperand(const TDecoded& d, TOperands& ops, bool xmmRm, bool dwordRm) {
  const uint16_t op = d.info.opcode;
  const unsigned kind = RmKind(d.flags);
  if (kind < 2 || !d.hasModRm) return;
  if (op == 0x0FAE && !d.isMemory) return;  // the fences have no operand
  // monitor, mwait, xgetbv, xsetbv and rdtscp have none either.
  if (op == 0x0F01 && !d.isMemory && d.reg != 4 && d.reg != 6) return;
  const bool follows66 = d.has66 && RmFollows66(d.flags);
  if (!d.isMemory) {
    Kind k = Kind::kDword;
    if (op >= 0xD8 && op <= 0xDF) {
      k = Kind::kFpu;
    } else {
      switch (kind) {
        case 2: k = Kind::kByte; break;
        case 3: k = Kind::kWord; break;
        case 4: k = follows66 ? Kind::kWord : Kind::kDword; break;
        case 5: k = follows66 || xmmRm ? Kind::kXmm : Kind::kMmx; break;
        case 7: k = Kind::kXmm; break;
        default: break;
      }
      if (k == Kind::kXmm && op == 0x0FD6 && d.rep) k = Kind::kMmx;
      if (op == 0x0FC7) k = follows66 || d.has66 ? Kind::kWord : Kind::kDword;  // rdrand
      if (dwordRm) k = Kind::kDword;
    }
    ops.Add(RegisterName(k, d.rm, op));
    return;
  }
  unsigned size = RmSize(kind);
  if (follows66) size = kind == 5 ? 16 : 2;
  if (dwordRm) size = 4;
  MemoryText(d, size, ExplicitSize(d.flags), ops.Next());
}

void ImmediateOperand(const TDecoded& d, TOperands& ops) {
  const uint16_t op = d.info.opcode;
  if (d.immSize == 0 || op == 0x0F0F) return;
  if ((op == 0xD4 || op == 0xD5) && d.imm == 0x0A) return;
  Piece& text = ops.Next();
  if (RelativeImmediate(d.flags)) {
    AppendSigned(text, d.imm, true);
    text.Add(" (");
    AppendHex(text, d.info.next + static_cast<uint32_t>(d.imm));
    text.Add(')');
  } else if (op == 0x69 || op == 0x6B || (op >= 0x80 && op <= 0x83)) {
    AppendSigned(text, d.imm, false);
  } else if (op == 0xC8) {
    AppendHex(text, static_cast<uint32_t>(d.imm) & 0xFFFF);
    if (d.immHigh != 0) {
      text.Add(", ");
      AppendHex(text, d.immHigh);
    }
  } else if (op == 0x9A || op == 0xEA) {
    if (d.immHigh != 0) {
      AppendHex(text, d.immHigh);
      text.Add(':');
      AppendHex(text, static_cast<uint32_t>(d.imm));
    } else {
      AppendNumber(text, static_cast<uint32_t>(d.imm));
    }
  } else if (op >= 0xA0 && op <= 0xA3) {
    if (d.segment) {
      text.Add(kSegRegs[d.segment - 1]);
      text.Add(':');
    }
    text.Add('[');
    AppendNumber(text, d.immSize == 2 ? static_cast<uint32_t>(d.imm) & 0xFFFF
                                      : static_cast<uint32_t>(d.imm));
    text.Add(']');
  } else {
    uint32_t value = static_cast<uint32_t>(d.imm);
    if (op == 0x6A) {
      if (d.has66) value &= 0xFFFF;
    } else if (d.immSize == 1) {
      value &= 0xFF;
    } else if (d.immSize == 2) {
      value &= 0xFFFF;
    }
    AppendNumber(text, value);
  }
}

// Instructions of the three-byte maps and the VEX and EVEX encodings.

// The vector register width and memory size that an operand's size code stands for.
void ExtSizes(const TDecoded& d, char code, unsigned& registerBytes, unsigned& memoryBytes) {
  const unsigned vector = d.vectorBytes;
  auto atLeast16 = [](unsigned bytes) { return bytes < 16 ? 16u : bytes; };
  registerBytes = 16;
  switch (code) {
    case 'x': registerBytes = memoryBytes = vector; break;
    case 'h': memoryBytes = vector / 2; registerBytes = atLeast16(memoryBytes); break;
    case 'q': memoryBytes = vector / 4; registerBytes = atLeast16(memoryBytes); break;
    case 'e': memoryBytes = vector / 8; break;
    case 'o': memoryBytes = 16; break;
    case 'y': registerBytes = memoryBytes = 32; break;
    case 's': case 'g': memoryBytes = d.vexW ? 8 : 4; break;
    case 'v': memoryBytes = d.operandSize; break;
    case 'd': case '4': memoryBytes = 4; break;
    case 'w': case '2': memoryBytes = 2; break;
    case '8': memoryBytes = 8; break;
    default: memoryBytes = 1; break;
  }
}

// The mnemonic: choices by ModR/M reg ("|"), vector length ("^"), register or memory form
// (":") and W ("/"), in that order.
std::string_view ExtMnemonic(const TDecoded& d) {
  std::string_view name = d.ext->name;
  if (name.find('|') != std::string_view::npos) name = Split(name, '|', d.reg);
  if (name.find('^') != std::string_view::npos) name = Split(name, '^', d.vectorBytes > 16);
  if (name.find(':') != std::string_view::npos) name = Split(name, ':', d.isMemory);
  if (name.find('/') != std::string_view::npos) name = Split(name, '/', d.vexW);
  return name;
}

void ExtMemory(const TDecoded& d, char code, Piece& out) {
  unsigned registerBytes, memoryBytes;
  ExtSizes(d, code, registerBytes, memoryBytes);
  if (d.broadcast) memoryBytes = d.vexW ? 8 : 4;
  // The older encodings leave a full 16-byte operand's size unsaid, as SSE does.
  const bool withSize = d.encoding != kEncLegacy || memoryBytes != 16;
  MemoryText(d, memoryBytes, withSize && code != 'g', out, code == 'g' ? d.vectorBytes : 0);
  if (d.broadcast) {
    out.Add("{1to");
    const unsigned count = d.vectorBytes / memoryBytes;
    if (count >= 10) out.Add(static_cast<char>('0' + count / 10));
    out.Add(static_cast<char>('0' + count % 10));
    out.Add('}');
  }
}

void ExtOperand(const TDecoded& d, char kind, char code, Piece& out) {
  unsigned registerBytes, memoryBytes;
  ExtSizes(d, code, registerBytes, memoryBytes);
  const bool wordRegister = code == 'v' && d.operandSize == 2;
  switch (kind) {
    case 'V': out.Add(VectorName(registerBytes, d.reg)); return;
    case 'H': out.Add(VectorName(registerBytes, d.vvvv)); return;
    case 'L': out.Add(VectorName(registerBytes, static_cast<uint32_t>(d.imm) >> 4)); return;
    case 'X': out.Add("xmm0"); return;
    case 'P': out.Add(kMmxRegs[d.reg]); return;
    case 'K': out.Add("k"); out.Add(static_cast<char>('0' + d.reg)); return;
    case 'N': out.Add("k"); out.Add(static_cast<char>('0' + d.vvvv)); return;
    case 'B': out.Add(kDwordRegs[d.vvvv]); return;
    case 'G': out.Add(wordRegister ? kWordRegs[d.reg] : kDwordRegs[d.reg]); return;
    case 'I': AppendNumber(out, static_cast<uint32_t>(d.imm) & 0xFF); return;
    default: break;
  }
  if (d.isMemory) {
    ExtMemory(d, code, out);
  } else if (kind == 'Q') {
    out.Add(kMmxRegs[d.rm]);
  } else if (kind == 'R') {
    out.Add("k");
    out.Add(static_cast<char>('0' + d.rm));
  } else if (kind == 'E') {
    out.Add(code == 't' ? kByteRegs[d.rm] : wordRegister ? kWordRegs[d.rm] : kDwordRegs[d.rm]);
  } else {
    out.Add(VectorName(registerBytes, d.rm));
  }
}

// Mnemonic and operands; the EVEX mask follows the first operand.
void ExtText(const TDecoded& d, std::string& text) {
  text += ExtMnemonic(d);
  const char* operands = d.ext->operands;
  if (!*operands) return;
  PadTo(text, kOperandColumn);
  if (text.back() != ' ') text += ' ';
  for (unsigned i = 0; operands[0] && operands[1]; ++i) {
    if (i) text += ", ";
    Piece piece;
    ExtOperand(d, operands[0], operands[1], piece);
    text.append(piece.chars, piece.size);
    if (i == 0 && d.mask) {
      text += "{k";
      text += static_cast<char>('0' + d.mask);
      text += '}';
    }
    if (i == 0 && d.zeroing) text += "{z}";
    operands += operands[2] == ',' ? 3 : 2;
  }
}

std::string FunctionComment(CodeMemory& memory, uint32_t address, int depth);

// The name of the function at address with its module, or empty.
std::string FunctionComment(CodeMemory& memory, uint32_t address, int depth) {
  TModuleInfo module;
  std::string name = FunctionNameAt(memory, address, &module);
  if (name.empty() && depth == 0 && module.size != 0 && address >= module.base &&
      address - module.base < module.size) {
    TDecoded thunk;
    Decode(memory, address, thunk, nullptr, false, nullptr);
    if (thunk.info.isValid && thunk.info.target != 0 && thunk.info.target != address) {
      return FunctionComment(memory, thunk.info.target, depth + 1);
    }
  }
  if (name.empty()) return {};
  if (module.size != 0 && !module.isSelf && name.find('(') == std::string::npos) {
    size_t slash = module.fileName.find_last_of("\\/");
    name += " (";
    name += slash == std::string::npos ? module.fileName : module.fileName.substr(slash + 1);
    name += ')';
  }
  return name;
}

bool LooksLikeText(const std::string& text) {
  unsigned a = 0, b = 0, c = 0, dCount = 0;
  for (unsigned char ch : text) {
    if (std::isalnum(ch) && ch < 0x80) {
      ++a;
    } else if (ch == ' ') {
      ++a;
    } else if (ch == ',' || ch == '.' || ch == ':' || ch == '\\') {
      ++b;
    } else if (ch >= 0x21 && ch <= 0x5D) {
      ++c;
    } else if (ch >= 0x20) {
      ++dCount;
    } else {
      return false;
    }
  }
  if (text.size() < 4 || b * 5 >= a * 2) return false;
  unsigned m = a + b / 2;
  return c * 8 < m && dCount * 10 < m + c / 4;
}

// The text at address when it reads as a string: up to 100 characters, ending at 00h, 0Ah
// or 0Ch; false when any other control character occurs.
bool ReadText(CodeMemory& memory, uint32_t address, std::string& text) {
  text.clear();
  char buffer[kStringScan];
  // One read for the whole scan; byte by byte only where that read fails.
  const bool whole = memory.Read(address, buffer, kStringScan);
  uint32_t have = 0;
  while (have < kStringScan && (whole || memory.Read(address + have, buffer + have, 1))) {
    char ch = buffer[have];
    if (ch == 0 || ch == 0x0A || ch == 0x0C) break;
    ++have;
  }
  text.assign(buffer, have);
  return LooksLikeText(text);
}

// The comment for a value that may point at a string; viaPointer: the value is the address
// of a pointer to it.
std::string StringComment(CodeMemory& memory, uint32_t code, uint32_t address,
                          bool viaPointer, bool& isName) {
  isName = false;
  TModuleInfo module;
  if (!memory.ModuleAt(code, module) || module.size <= kStringScan) return {};
  auto inRange = [&](uint32_t value) {
    return value >= module.base && value - module.base < module.size - kStringScan;
  };
  if (!inRange(address)) return {};
  if (viaPointer) {
    uint32_t pointer = 0;
    if (memory.Read(address, &pointer, 4) && inRange(pointer)) address = pointer;
  }
  std::string name = FunctionComment(memory, address, 1);
  if (!name.empty()) {
    isName = true;
    return name;
  }
  std::string text;
  if (!ReadText(memory, address, text)) return {};
  return text;
}

void AppendComment(std::string& line, const std::string& comment, bool quoted) {
  if (comment.empty()) return;
  PadTo(line, kCommentColumn);
  line += quoted ? "  ; '" : "  ; ";
  line += comment;
  if (quoted) line += '\'';
}

// Invalid code is listed over the same span the decoder consumed (up to next), so that a
// listing that goes on at next neither skips nor repeats bytes.
void InvalidText(CodeMemory& memory, const TInstrInfo& info, std::string& text) {
  for (uint32_t address = info.start; address != info.next; ++address) {
    uint8_t byte = 0;
    if (!memory.Read(address, &byte, 1)) break;
    if (!text.empty()) text += "\r\n";
    AppendAddress(text, address);
    text += "   db $";
    text += "0123456789abcdef"[byte >> 4];
    text += "0123456789abcdef"[byte & 15];
  }
}

// The function-name comment of a target, else the string an address operand points at.
void AppendOperandComment(CodeMemory& memory, uint32_t code, const TDecoded& d,
                          std::string& text) {
  const TInstrInfo& info = d.info;
  if (info.target != 0) {
    AppendComment(text, FunctionComment(memory, info.target, 0), false);
    return;
  }
  bool isName = false;
  std::string comment;
  if (d.isMemory && d.dispSize == 4) {
    comment = StringComment(memory, code, static_cast<uint32_t>(d.disp), true, isName);
  }
  if (comment.empty() && d.immSize == 4 && !RelativeImmediate(d.flags) && info.opcode != 0xC8) {
    comment = StringComment(memory, code, static_cast<uint32_t>(d.imm), ExplicitSize(d.flags),
                            isName);
  }
  AppendComment(text, comment, !isName);
}

}  // namespace
}  // namespace decoder

TInstrInfo DecodeInstructionText(CodeMemory& memory, uint32_t code, std::string& text,
                                 TRegState* regState, bool resolveRegisters) {
  using namespace decoder;
  text.clear();
  TDecoded d;
  Decode(memory, code, d, regState, resolveRegisters, nullptr);
  const TInstrInfo& info = d.info;
  if (info.next == info.start) return info;
  if (!info.isValid) {
    InvalidText(memory, info, text);
    return info;
  }
  const uint16_t op = info.opcode;
  text.reserve(64);
  AppendAddress(text, info.start);
  text += "   ";
  if (d.ext) {
    ExtText(d, text);
    AppendOperandComment(memory, code, d, text);
    return info;
  }
  if (d.lock) text += "lock ";
  bool usedPrefix = false;
  Piece mnemonic;
  Mnemonic(d, mnemonic, usedPrefix);
  if (op < 0xFF && !usedPrefix) {
    if (d.repne) text += "repne ";
    if (d.rep) text += "rep ";
  }
  text.append(mnemonic.chars, mnemonic.size);

  const bool scalar = d.repne || d.rep;
  const bool bothXmm = scalar && (op == 0x0F6F || op == 0x0F70 || op == 0x0F7E || op == 0x0F7F);
  const bool xmmReg = bothXmm || (op == 0x0FD6 && d.rep);
  const bool dwordReg = scalar && (op == 0x0F2C || op == 0x0F2D);
  const bool xmmRm = bothXmm || (op == 0x0FD6 && d.repne);
  const bool dwordRm = scalar && op == 0x0F2A;
  TOperands ops;
  RegisterOperands(d, ops, xmmReg, dwordReg);
  RmOperand(d, ops, xmmRm, dwordRm);
  bool reversed = Reversed(d.flags);
  // These prefixed forms load the register operand from r/m.
  if ((op == 0x0F7E && d.rep) || (op == 0x0FD6 && scalar)) reversed = false;
  ImmediateOperand(d, ops);
  if (op == 0xD0 || op == 0xD1) ops.Add("1");
  if (op == 0xD2 || op == 0xD3 || op == 0x0FA5 || op == 0x0FAD) ops.Add("cl");
  if (ops.count) {
    PadTo(text, kOperandColumn);
    if (text.back() != ' ') text += ' ';
    for (unsigned i = 0; i < ops.count; ++i) {
      if (i) text += ", ";
      unsigned which = reversed && i < 2 && ops.count >= 2 ? 1 - i : i;
      text.append(ops.items[which].chars, ops.items[which].size);
    }
  }

  AppendOperandComment(memory, code, d, text);
  return info;
}

}  // namespace qx
