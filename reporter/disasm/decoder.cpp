// Decoding one instruction into a TInstrInfo: prefixes, opcode tables, ModR/M and SIB,
// immediates, validity, branch targets and the register-constant tracking.
#include <cstddef>
#include <cstring>

#include "decoder_internal.h"

namespace qx {

bool IsReadable(const TDATryRead& map, uint32_t address) {
  size_t low = 0;
  size_t high = map.ranges.size();
  while (low < high) {
    size_t middle = (low + high) / 2;
    const TReadRange& range = map.ranges[middle];
    if (address < range.begin) {
      high = middle;
    } else if (address >= range.end) {
      low = middle + 1;
    } else {
      return range.readable;
    }
  }
  return false;
}

void AppendReadRange(TDATryRead& map, uint32_t begin, uint32_t end, bool readable) {
  if (!map.ranges.empty()) {
    TReadRange& last = map.ranges.back();
    if (last.readable == readable && last.end == begin) {
      last.end = end;
      return;
    }
  }
  if (map.ranges.capacity() == 0) {
    map.ranges.reserve(64);
  } else if (map.ranges.size() == map.ranges.capacity()) {
    map.ranges.reserve(map.ranges.capacity() + map.ranges.capacity() / 2);
  }
  map.ranges.push_back({begin, end, readable});
}

bool ReadGuarded(CodeMemory& memory, uint32_t address, void* destination, uint32_t count,
                 const TDATryRead* map) {
  if (address == 0) return false;
  if (map && !IsReadable(*map, address)) return false;
  return memory.Read(address, destination, count);
}

namespace decoder {
namespace {

// Every instruction byte comes through here. Bytes are fetched sixteen at a time; near the
// end of readable memory the window shrinks to what can be read.
class ByteReader {
 public:
  // With a readable-memory snapshot, bytes outside its readable ranges are not even asked
  // for: a stack walk tries many candidate addresses that lie nowhere.
  ByteReader(CodeMemory& memory, uint32_t address, const TDATryRead* map)
      : memory_(memory), map_(map), base_(address) {}

  uint32_t Address() const { return base_ + pos_; }

  bool Byte(uint8_t& value) {
    if (pos_ >= have_ && !Fill()) return false;
    value = window_[pos_++];
    return true;
  }

  // The next byte without consuming it.
  bool Peek(uint8_t& value) {
    if (pos_ >= have_ && !Fill()) return false;
    value = window_[pos_];
    return true;
  }

  // Reads a little-endian field of 1, 2 or 4 bytes, sign-extended.
  bool Signed(unsigned size, int32_t& value) {
    if (pos_ + size <= have_ && pos_ + 4 <= sizeof window_) {
      uint32_t raw;
      std::memcpy(&raw, window_ + pos_, 4);
      pos_ += size;
      const unsigned shift = 32 - 8 * size;
      value = static_cast<int32_t>(raw << shift) >> shift;
      return true;
    }
    uint8_t bytes[4];
    for (unsigned i = 0; i < size; ++i) {
      if (!Byte(bytes[i])) return false;
    }
    if (size == 1) {
      value = static_cast<int8_t>(bytes[0]);
    } else if (size == 2) {
      value = static_cast<int16_t>(bytes[0] | bytes[1] << 8);
    } else {
      value = static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                   static_cast<uint32_t>(bytes[3]) << 24);
    }
    return true;
  }

 private:
  static constexpr unsigned kChunk = 16;

  bool Fill() {
    if (have_ + kChunk > sizeof(window_)) {
      base_ += have_;
      pos_ = have_ = 0;
    }
    uint32_t from = base_ + have_;
    if (from < base_) return false;  // wrapped past the top of the address space
    if (map_ && !IsReadable(*map_, from)) return false;
    if (memory_.Read(from, window_ + have_, kChunk)) {
      have_ += kChunk;
      return true;
    }
    unsigned got = 0;
    while (got < kChunk && memory_.Read(from + got, window_ + have_ + got, 1)) ++got;
    have_ += got;
    return pos_ < have_;
  }

  CodeMemory& memory_;
  const TDATryRead* map_;
  uint32_t base_;
  unsigned pos_ = 0;
  unsigned have_ = 0;
  uint8_t window_[64];
};

// What a first byte may be besides an opcode: a prefix (segment overrides, operand and
// address size, lock and the repeats), or the start of a VEX or EVEX prefix.
constexpr uint8_t kPrefixByte = 1, kVexByte = 2;
constexpr auto kByteKind = [] {
  struct Table {
    uint8_t value[256] = {};
    constexpr uint8_t operator[](uint8_t i) const { return value[i]; }
  } table;
  for (int b : {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3}) {
    table.value[b] = kPrefixByte;
  }
  for (int b : {0x62, 0xC4, 0xC5}) table.value[b] = kVexByte;
  return table;
}();

const TGroupEntry* GroupOf(uint8_t opcode) {
  for (const TGroupEntry& entry : kGroupTable) {
    if (entry.opcode == opcode) return &entry;
  }
  return nullptr;
}

bool Is3DNowSuffixValid(uint8_t suffix) {
  if (suffix < 0x08 || suffix > 0xBF) return false;
  unsigned bit = suffix - 0x08;
  return k3DNowValid[bit / 8] & (1u << (bit % 8));
}

bool IsValid(const TDecoded& d, uint8_t suffix) {
  if (d.flags == kInvalidFlags) return false;
  const bool mem = d.isMemory;
  const unsigned reg = d.reg;
  const uint8_t modRm = d.info.modRm;
  switch (d.info.opcode) {
    case 0x62: case 0x8D: case 0xC4: case 0xC5:
      return mem;
    case 0x8C: case 0x8E:
      return reg < 6;
    case 0xD9:
      return mem || !((modRm >= 0xD1 && modRm <= 0xD7) || modRm == 0xE2 || modRm == 0xE3 ||
                      modRm == 0xE6 || modRm == 0xE7 || modRm == 0xEF);
    case 0xDA:
      return mem || modRm == 0xE9 || modRm < 0xE8 || modRm > 0xEF;
    case 0xDB:
      return mem || modRm < 0xE5 || modRm > 0xE7;
    case 0xDF:
      return mem || modRm < 0xE1 || modRm > 0xE7;
    case 0xFE:
      return reg < 2;
    case 0xFF:
      return reg < 7 && ((reg != 3 && reg != 5) || mem);
    case 0x0F00:
      return reg < 6;
    case 0x0F01:
      // Register forms: monitor/mwait, xgetbv/xsetbv, smsw, lmsw and rdtscp.
      if (mem) return reg != 5;
      return ((reg == 1 || reg == 2) && d.rm <= 1) || reg == 4 || reg == 6 ||
             (reg == 7 && d.rm == 1);
    case 0x0F0D:
      return mem && reg < 2;
    case 0x0F0F:
      return Is3DNowSuffixValid(suffix);
    case 0x0F18:
      return mem && reg < 4;
    case 0x0F20: case 0x0F21: case 0x0F22: case 0x0F23:
      return !mem;
    case 0x0F6C: case 0x0F6D:
      return d.has66;
    case 0x0F71: case 0x0F72:
      return !mem && (reg == 2 || reg == 4 || reg == 6);
    case 0x0F73:
      return !mem && (reg == 2 || reg == 3 || reg == 6 || reg == 7);
    case 0x0F7C: case 0x0F7D: case 0x0FD0:
      return d.has66 || d.repne;
    case 0x0FAE:
      return mem || reg >= 5;
    case 0x0FB2: case 0x0FB4: case 0x0FB5: case 0x0FC3:
      return mem;
    case 0x0FC7:
      // cmpxchg8b; rdrand and rdseed.
      return mem ? reg == 1 : reg >= 6;
    case 0x0FB8:
      return d.rep;
    case 0x0FBA:
      return reg > 3;
    case 0x0FD6: case 0x0FE6:
      return d.has66 || d.repne || d.rep;
    case 0x0FF0:
      return d.repne;
    default:
      return true;
  }
}

// The instructions a lock prefix may stand before: read-modify-write forms with a memory
// destination. Before anything else the processor refuses it.
bool LockAllowed(const TDecoded& d) {
  if (!d.isMemory) return false;
  const uint16_t op = d.info.opcode;
  if (op < 0x40) return (op & 7) <= 1 && (op & 0x38) != 0x38;  // add ... xor, not cmp
  switch (op) {
    case 0x80: case 0x81: case 0x82: case 0x83: return d.reg != 7;
    case 0x86: case 0x87: return true;
    case 0xF6: case 0xF7: return d.reg == 2 || d.reg == 3;
    case 0xFE: case 0xFF: return d.reg <= 1;
    case 0x0FAB: case 0x0FB3: case 0x0FBB: case 0x0FB0: case 0x0FB1: case 0x0FC0: case 0x0FC1:
      return true;
    case 0x0FBA: return d.reg >= 5;
    case 0x0FC7: return d.reg == 1;
    default: return false;
  }
}

bool Read32(CodeMemory& memory, uint32_t address, const TDATryRead* map, uint32_t& value) {
  return ReadGuarded(memory, address, &value, 4, map);
}

// Calls and jumps through FFh: [disp32] slots and, when asked, registers with known sources.
void ResolveIndirect(CodeMemory& memory, TDecoded& d, const TRegState* regState,
                     bool resolveRegisters, const TDATryRead* map) {
  TInstrInfo& info = d.info;
  if (d.reg == 2 || d.reg == 3) {
    info.isCall = 1;
  } else {
    info.isJump = 1;
  }
  if (d.isMemory && d.base == kNoRegister && d.index == kNoRegister && d.dispSize == 4) {
    info.targetSlotAddr = d.dispAddr;
    info.targetSize = 4;
    if (d.segment == 0 && !Read32(memory, static_cast<uint32_t>(d.disp), map, info.target)) {
      info.isValid = 0;
    }
    return;
  }
  if (!resolveRegisters || !regState) return;
  if (d.isMemory) {
    if (d.base == kNoRegister || d.index != kNoRegister || d.dispSize != 0) return;
    uint32_t source = regState->regs[d.base];
    if (source == 0) return;
    info.targetSlotAddr = source;
    info.targetSize = 4;
    uint32_t slot = 0;
    if (d.segment == 0 && (!Read32(memory, source, map, slot) ||
                           !Read32(memory, slot, map, info.target))) {
      info.isValid = 0;
    }
  } else {
    uint32_t source = regState->regs[d.rm];
    if (source == 0) return;
    info.targetFieldAddr = source;
    info.targetSize = 4;
    if (!Read32(memory, source, map, info.target)) info.target = 0;
  }
}

// Byte registers 4-7 (ah, ch, dh, bh) live in eax, ecx, edx and ebx.
unsigned Dword(unsigned reg, bool isByte) { return isByte ? reg & 3 : reg; }

void UpdateRegisters(const TDecoded& d, TRegState& state) {
  uint32_t* regs = state.regs;
  const uint16_t op = d.info.opcode;
  const bool regIsByte = d.hasModRm ? RegKind(d.flags) == 1 : RegKind(d.flags) == 4;
  const bool rmIsByte = RmKind(d.flags) == 2;
  const unsigned reg = Dword(d.reg, regIsByte);
  const unsigned opReg = Dword(op & 7, regIsByte);
  const bool rmRegister = d.hasModRm && !d.isMemory;
  const unsigned rm = Dword(d.rm, rmIsByte);
  const unsigned effect = RegEffect(d.flags);
  auto clearRm = [&] {
    if (rmRegister) regs[rm] = 0;
  };
  switch (effect) {
    case 1: regs[reg] = 0; break;
    case 2: clearRm(); break;
    case 3: regs[opReg] = 0; break;
    case 4: regs[0] = 0; break;
    case 5: regs[reg] = 0; clearRm(); break;
    case 6: regs[0] = 0; clearRm(); break;
    case 7: regs[0] = 0; regs[opReg] = 0; break;
    default: break;
  }
  switch (op) {
    case 0x8B:
      // A copy through 66h moves only the low word: the register is then no constant.
      if (rmRegister && !d.has66) regs[d.reg] = regs[d.rm];
      break;
    case 0xB8: case 0xB9: case 0xBA: case 0xBB: case 0xBC: case 0xBD: case 0xBE: case 0xBF:
      if (!d.has66) regs[op & 7] = d.immAddr;
      break;
    case 0xC7:
      if (rmRegister && !d.has66) regs[d.rm] = d.immAddr;
      break;
    case 0x61:
      for (int i = 0; i < 8; ++i) regs[i] = 0;
      break;
    case 0x6C: case 0x6D: case 0xAA: case 0xAB: case 0xAE: case 0xAF:
      regs[7] = 0;
      break;
    case 0x6E: case 0x6F: case 0xAC: case 0xAD:
      regs[6] = 0;
      break;
    case 0xA4: case 0xA5: case 0xA6: case 0xA7:
      regs[6] = regs[7] = 0;
      break;
    case 0x80: case 0x81: case 0x82: case 0x83:
      if (d.reg != 7) clearRm();
      break;
    case 0x99:
      regs[2] = 0;
      break;
    case 0xC8: case 0xC9:
      regs[5] = 0;
      break;
    case 0xDF:
      if (d.info.modRm == 0xE0) regs[0] = 0;
      break;
    case 0xE0: case 0xE1: case 0xE2:
      regs[1] = 0;
      break;
    case 0xF7:
      if (d.reg >= 4) regs[2] = 0;
      break;
    case 0xFF:
      if (d.reg <= 1) clearRm();
      break;
    case 0x0F00:
      if (d.reg <= 1) clearRm();
      break;
    case 0x0F01:
      if (d.reg == 4) clearRm();
      // xgetbv, rdtscp and the monitor pair use eax, ecx and edx.
      if (rmRegister && d.reg != 4 && d.reg != 6) regs[0] = regs[1] = regs[2] = 0;
      break;
    case 0x0FBA:
      if (d.reg >= 5) clearRm();
      break;
    case 0x0F7E: case 0x0F7F:
      if (!d.rep) clearRm();
      break;
    case 0x0F2C: case 0x0F2D:
      if (d.repne || d.rep) regs[d.reg] = 0;
      break;
    case 0x0F31: case 0x0F32: case 0x0F33:
      regs[2] = 0;
      break;
    case 0x0FC7:
      regs[2] = 0;
      clearRm();  // rdrand, rdseed
      break;
    case 0x0FA2:
      regs[0] = regs[1] = regs[2] = regs[3] = 0;
      break;
    default:
      break;
  }
}

// ModR/M, SIB and displacement. False when a byte could not be read.
// Inlined: the common one- and two-byte path pays no call for them.
[[gnu::always_inline]] inline bool DecodeModRm(ByteReader& in, TDecoded& d) {
  uint8_t modRm;
  if (!in.Byte(modRm)) return false;
  d.hasModRm = true;
  d.info.modRm = modRm;
  d.mod = modRm >> 6;
  d.reg = (modRm >> 3) & 7;
  d.rm = modRm & 7;
  d.isMemory = d.mod != 3;
  if (!d.isMemory) return true;
  if (d.mod == 1) {
    d.dispSize = 1;
  } else if (d.mod == 2) {
    d.dispSize = d.addr16 ? 2 : 4;
  }
  if (d.addr16) {
    static const int8_t kBase16[8] = {3, 3, 5, 5, 6, 7, 5, 3};
    if (d.rm <= 3) {
      d.index = (d.rm & 1) ? 7 : 6;
      d.scale = 1;
    }
    if (d.mod == 0 && d.rm == 6) {
      d.dispSize = 2;
    } else {
      d.base = kBase16[d.rm];
    }
  } else if (d.rm == 4) {
    uint8_t sib;
    if (!in.Byte(sib)) return false;
    d.sib = sib;
    unsigned sibBase = sib & 7;
    unsigned sibIndex = (sib >> 3) & 7;
    if (sibIndex != 4) {
      d.index = static_cast<int8_t>(sibIndex);
      d.scale = static_cast<uint8_t>(1u << (sib >> 6));
    }
    if (d.mod == 0 && sibBase == 5) {
      d.dispSize = 4;
    } else {
      d.base = static_cast<int8_t>(sibBase);
    }
  } else if (d.mod == 0 && d.rm == 5) {
    d.dispSize = 4;
  } else {
    d.base = static_cast<int8_t>(d.rm);
  }
  if (d.dispSize) {
    d.dispAddr = in.Address();
    if (!in.Signed(d.dispSize, d.disp)) return false;
  }
  return true;
}

unsigned ImmediateSize(const TDecoded& d) {
  switch (ImmediateKind(d.flags)) {
    case 1: return 1;
    case 2: return 2;
    case 3: return d.operandSize;
    default: break;
  }
  switch (d.info.opcode) {
    case 0x9A: case 0xEA: return d.operandSize + 2u;
    case 0xA0: case 0xA1: case 0xA2: case 0xA3: return d.addr16 ? 2u : 4u;
    case 0xC8: return 3;
    default: return 0;
  }
}

[[gnu::always_inline]] inline bool ReadImmediate(ByteReader& in, TDecoded& d, unsigned size) {
  d.immSize = static_cast<uint8_t>(size);
  d.immAddr = in.Address();
  const uint16_t op = d.info.opcode;
  if (op == 0x9A || op == 0xEA) {
    int32_t segment;
    if (!in.Signed(d.operandSize, d.imm) || !in.Signed(2, segment)) return false;
    if (d.operandSize == 2) d.imm &= 0xFFFF;
    d.immHigh = static_cast<uint16_t>(segment);
    return true;
  }
  if (size == 3) {
    int32_t frame, level;
    if (!in.Signed(2, frame) || !in.Signed(1, level)) return false;
    d.imm = frame & 0xFFFF;
    d.immHigh = static_cast<uint8_t>(level);
    return true;
  }
  return in.Signed(size, d.imm);
}


// The row of a three-byte, VEX or EVEX opcode whose mandatory prefix matches.
const TExtOp* FindExt(unsigned map, uint8_t opcode, unsigned prefix, uint8_t encoding) {
  const unsigned key = (map - 1) * 256 + opcode;
  for (unsigned i = kExtFirst[key]; i < kExtFirst[key + 1]; ++i) {
    const TExtOp& row = kExtOps[i];
    if (row.prefix == prefix && (row.encodings & encoding)) return &row;
  }
  return nullptr;
}

// Whether the "|"-separated name has a non-empty choice for the ModR/M reg field.
bool GroupHasForm(const char* name, unsigned reg) {
  unsigned index = 0;
  const char* begin = name;
  for (const char* p = name;; ++p) {
    if (*p != '|' && *p != 0) continue;
    if (index == reg) return p != begin;
    if (*p == 0) return false;
    ++index;
    begin = p + 1;
  }
}

// EVEX scales a one-byte displacement by the size of the memory operand (an element's, when
// it is broadcast).
unsigned DisplacementScale(const TDecoded& d) {
  if (d.broadcast) return d.vexW ? 8 : 4;
  switch (d.ext ? d.ext->memorySize : 'x') {
    case 'x': return d.vectorBytes;
    case 'h': return d.vectorBytes / 2u;
    case 'q': return d.vectorBytes / 4u;
    case 'e': return d.vectorBytes / 8u;
    case 'o': return 16;
    case 'y': return 32;
    case '8': return 8;
    case '4': case 'd': return 4;
    case '2': case 'w': return 2;
    case 's': case 'g': return d.vexW ? 8 : 4;
    default: return 1;
  }
}

// The rest of a three-byte, VEX or EVEX instruction once its map and opcode are read. An
// opcode that no row knows still has its ModR/M byte (and an imm8 in the 0F 3Ah map), so
// its span is what the processor would have read. True when the instruction is valid.
[[gnu::noinline]] bool DecodeExtended(ByteReader& in, TDecoded& d, unsigned map, uint8_t opcode,
                    unsigned prefix) {
  TInstrInfo& info = d.info;
  static const uint16_t kMapBase[4] = {0, 0x0F00, 0x3800, 0x3A00};
  info.opcode = static_cast<uint16_t>(kMapBase[map] + opcode);
  const TExtOp* row = FindExt(map, opcode, prefix, d.encoding);
  if (!row && d.encoding == kEncLegacy && prefix == 1) {
    row = FindExt(map, opcode, 0, d.encoding);  // a 66h no row claims sets the operand size
  }
  d.ext = row;
  const uint8_t attributes = row ? row->attributes : (map == 3 ? kExtImm8 : 0);
  if (!(attributes & kExtNoModRm) && !DecodeModRm(in, d)) return false;
  if (d.encoding == kEncEvex && d.broadcast && !d.isMemory) {
    d.broadcast = false;  // in register form the bit selects rounding on full-width registers
    d.vectorBytes = 64;
  }
  if (d.encoding == kEncEvex && d.dispSize == 1) {
    d.disp *= static_cast<int32_t>(DisplacementScale(d));
  }
  if (attributes & kExtVsib) {
    d.index = static_cast<int8_t>((d.sib >> 3) & 7);  // index 4 is a vector register here
    d.scale = static_cast<uint8_t>(1u << (d.sib >> 6));
  }
  if ((attributes & kExtImm8) && !ReadImmediate(in, d, 1)) return false;
  if (!row || d.lock) return false;
  if ((attributes & kExtMemoryOnly) && !d.isMemory) return false;
  if ((attributes & kExtRegisterOnly) && d.isMemory) return false;
  if ((attributes & kExtVsib) && (d.addr16 || d.rm != 4)) return false;
  if ((attributes & kExtGroup) && !GroupHasForm(row->name, d.reg)) return false;
  return d.vectorBytes <= 64;
}

// A VEX (C4h, C5h) or EVEX (62h) prefix and what follows it. In 32-bit code these bytes are
// also les, lds and bound, whose register forms do not exist: the prefix is recognised by
// the top two bits of the next byte, which would be a register-form ModR/M.
[[gnu::noinline]] bool DecodeVex(ByteReader& in, TDecoded& d, uint8_t first, bool& unknownLength) {
  uint8_t p0 = 0, p1 = 0, p2 = 0, opcode = 0;
  d.vexW = d.zeroing = d.broadcast = false;
  d.mask = d.vvvv = 0;
  d.vectorBytes = 16;
  d.encoding = first == 0x62 ? kEncEvex : kEncVex;
  if (!in.Byte(p0)) return false;
  unsigned map = 1;
  bool wellFormed = true;
  if (first == 0xC5) {
    d.encoding = kEncVex;
    p1 = p0;
  } else {
    if (!in.Byte(p1)) return false;
    if (first == 0xC4) {
      d.encoding = kEncVex;
      map = p0 & 0x1F;
    } else {
      d.encoding = kEncEvex;
      if (!in.Byte(p2)) return false;
      map = p0 & 3;
      wellFormed = (p0 & 0x0C) == 0 && (p1 & 0x04) != 0;
    }
    d.vexW = p1 >> 7;
  }
  // 32-bit code has eight vector registers: the top bit of vvvv is ignored.
  d.vvvv = static_cast<uint8_t>((~p1 >> 3) & 7);
  if (d.encoding == kEncEvex) {
    d.zeroing = p2 >> 7;
    d.vectorBytes = static_cast<uint8_t>(16u << ((p2 >> 5) & 3));  // 128 marks the reserved 3
    d.broadcast = (p2 >> 4) & 1;
    d.mask = p2 & 7;
  } else {
    d.vectorBytes = (p1 & 4) ? 32 : 16;
  }
  if (map < 1 || map > 3 || !wellFormed) {
    unknownLength = true;  // no opcode map to tell the length
    return false;
  }
  if (!in.Byte(opcode)) return false;
  // These encodings carry their own operand-size and repeat prefixes.
  const bool legacyPrefix = d.has66 || d.rep || d.repne;
  const bool valid = DecodeExtended(in, d, map, opcode, p1 & 3);
  return valid && !legacyPrefix;
}

// Register constants an instruction of the newer maps may overwrite: general registers in
// ModR/M reg, in vvvv and in register-form r/m.
void UpdateRegistersExtended(const TDecoded& d, TRegState& state) {
  if (!d.ext || !(d.ext->attributes & kExtGeneral)) return;
  state.regs[d.reg] = 0;
  if (d.encoding != kEncLegacy) state.regs[d.vvvv] = 0;
  if (d.hasModRm && !d.isMemory) state.regs[d.rm] = 0;
}

[[gnu::noinline]] void FinishExtended(ByteReader& in, TDecoded& d, uint32_t code, bool valid,
                    TRegState* regState) {
  d.info.next = in.Address();
  if (valid && d.info.next - code <= 15) {
    d.info.isValid = 1;
    if (regState) UpdateRegistersExtended(d, *regState);
  }
}

}  // namespace

void Decode(CodeMemory& memory, uint32_t code, TDecoded& d, TRegState* regState,
            bool resolveRegisters, const TDATryRead* map) {
  // The fields of the newer encodings are set where those are decoded; clearing them for
  // every instruction would cost the common path a third more stores.
  std::memset(&d, 0, offsetof(TDecoded, ext));
  d.ext = nullptr;
  d.encoding = 0;
  d.base = d.index = kNoRegister;
  d.info.start = code;
  if (code == 0) return;
  d.operandSize = 4;
  ByteReader in(memory, code, map);
  TInstrInfo& info = d.info;
  uint8_t byte;
  bool repeatPending = false;
  for (;;) {
    if (!in.Byte(byte)) {
      info.next = in.Address();
      return;
    }
    if (repeatPending && byte != 0x0F && regState) regState->regs[1] = 0;
    repeatPending = false;
    if (kByteKind[byte] != kPrefixByte) break;
    switch (byte) {
      case 0x66: d.has66 = true; d.operandSize = 2; continue;
      case 0x67: d.addr16 = true; continue;
      case 0xF0: d.lock = true; continue;
      case 0xF2: d.repne = true; repeatPending = true; continue;
      case 0xF3: d.rep = true; repeatPending = true; continue;
      case 0x26: d.segment = 1; continue;
      case 0x2E: d.segment = 2; continue;
      case 0x36: d.segment = 3; continue;
      case 0x3E: d.segment = 4; continue;
      case 0x64: d.segment = 5; continue;
      case 0x65: d.segment = 6; continue;
      default: break;
    }
    break;
  }
  // The processor refuses instructions longer than 15 bytes, however they are built.
  constexpr uint32_t kMaxLength = 15;
  uint8_t following = 0;
  if (kByteKind[byte] == kVexByte && in.Peek(following) &&
      (following & 0xC0) == 0xC0) {
    bool unknownLength = false;
    const bool valid = DecodeVex(in, d, byte, unknownLength);
    FinishExtended(in, d, code, valid, regState);
    if (unknownLength || d.lock) info.next = code + 1;
    return;
  }
  if (byte == 0x0F) {
    if (!in.Byte(byte)) {
      info.opcode = 0x0F00;
      info.next = in.Address();
      return;
    }
    if (byte == 0x38 || byte == 0x3A) {
      info.opcode = static_cast<uint16_t>(0x0F00 + byte);
      d.encoding = kEncLegacy;
      d.vvvv = d.mask = 0;
      d.vexW = d.zeroing = d.broadcast = false;
      d.vectorBytes = 16;
      uint8_t opcode = 0;
      bool valid = false;
      if (in.Byte(opcode)) {
        const unsigned prefix = d.repne ? 3 : d.rep ? 2 : d.has66 ? 1 : 0;
        valid = DecodeExtended(in, d, byte == 0x38 ? 2 : 3, opcode, prefix);
      }
      FinishExtended(in, d, code, valid, regState);
      if (d.lock) info.next = code + 1;  // no instruction of these maps takes lock
      return;
    }
    info.opcode = static_cast<uint16_t>(0x0F00 + byte);
    d.flags = kTwoByteFlags[byte];
  } else {
    info.opcode = byte;
    d.flags = kOneByteFlags[byte];
  }
  if (d.flags == kInvalidFlags) {
    // No map knows the opcode, so nothing tells its length: the invalid span is one byte,
    // and whatever follows is decoded on its own.
    info.next = code + 1;
    return;
  }
  if (RmKind(d.flags) != 0) {
    if (!DecodeModRm(in, d)) {
      info.next = in.Address();
      return;
    }
    if (RmKind(d.flags) == 1) {
      const TGroupEntry* group = GroupOf(static_cast<uint8_t>(info.opcode));
      d.flags = group ? (d.isMemory ? group->memoryForms[d.reg] : group->registerForms[d.reg])
                      : kInvalidFlags;
      if (d.flags == kInvalidFlags) {
        info.next = in.Address();  // the group's form is unknown, its ModR/M is not
        return;
      }
    }
  }
  if (unsigned size = ImmediateSize(d)) {
    if (!ReadImmediate(in, d, size)) {
      info.next = in.Address();
      return;
    }
  }
  info.next = in.Address();
  if (d.lock && !LockAllowed(d)) {
    // A lock before anything else is no prefix of this instruction: a listing that starts
    // on it goes on at the next byte.
    info.next = code + 1;
    return;
  }
  if (info.next - code <= kMaxLength && IsValid(d, static_cast<uint8_t>(d.imm))) {
    info.isValid = 1;
    const uint16_t op = info.opcode;
    if (RelativeImmediate(d.flags)) {
      info.isRelTarget = 1;
      info.targetFieldAddr = d.immAddr;
      info.targetSize = d.immSize;
      info.target = d.immAddr + d.immSize + static_cast<uint32_t>(d.imm);
      info.canEnlarge = op < 0xE0 || op > 0xE3;
      if (op == 0xE8) {
        info.isCall = 1;
      } else {
        info.isJump = 1;
      }
    } else if (op == 0xFF && d.reg >= 2 && d.reg <= 5) {
      ResolveIndirect(memory, d, regState, resolveRegisters, map);
    } else if (op == 0x9A) {
      info.isCall = 1;
    } else if (op == 0xEA) {
      info.isJump = 1;
    }
    if (info.isValid && regState) UpdateRegisters(d, *regState);
  }
  if ((info.isCall || info.isJump) && info.target == info.next) {
    info.isCall = info.isJump = info.canEnlarge = 0;
    info.target = info.targetFieldAddr = info.targetSlotAddr = info.targetSize = 0;
  }
}

}  // namespace decoder

TInstrInfo DecodeInstruction(CodeMemory& memory, uint32_t code, TRegState* regState,
                             bool resolveRegisters, const TDATryRead* map) {
  decoder::TDecoded d;
  decoder::Decode(memory, code, d, regState, resolveRegisters, map);
  return d.info;
}

}  // namespace qx
