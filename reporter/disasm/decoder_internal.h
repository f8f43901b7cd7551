// What the decoder knows about one instruction beyond TInstrInfo; shared by the decoding and
// the text code.
#pragma once

#include <cstdint>

#include "decoder.h"

namespace qx::decoder {

constexpr uint16_t kInvalidFlags = 0xFFFF;

struct TGroupEntry {
  uint8_t opcode;
  uint16_t memoryForms[8];
  uint16_t registerForms[8];
};

extern const uint16_t kOneByteFlags[256];
extern const uint16_t kTwoByteFlags[256];
extern const uint8_t kOneByteMnemonic[256];
extern const uint8_t kTwoByteMnemonic[256];
extern const unsigned kMnemonicCount;
extern const char kMnemonicList[];
extern const uint16_t kMnemonicStart[];
extern const TGroupEntry kGroupTable[10];
extern const char k3DNowList[];
extern const uint8_t k3DNowValid[23];
extern const char kConditionList[];

// One row of the three-byte maps (0F 38h, 0F 3Ah) and of the VEX and EVEX encodings, which
// also reach the 0F map. The generator documents the operand codes.
struct TExtOp {
  uint16_t key;          // (map - 1) * 256 + opcode; map 1 0Fh, 2 0F 38h, 3 0F 3Ah
  uint8_t prefix;        // mandatory prefix: 0 none, 1 66h, 2 F3h, 3 F2h (the VEX pp order)
  uint8_t encodings;     // kEncLegacy, kEncVex, kEncEvex
  uint8_t attributes;    // kExt... bits
  char memorySize;       // the size code of the r/m operand
  const char* name;      // "|" by ModR/M reg, "^" by vector length, ":" register/memory, "/" by W
  const char* operands;  // two characters an operand
};

constexpr uint8_t kEncLegacy = 1, kEncVex = 2, kEncEvex = 4;
constexpr uint8_t kExtImm8 = 1, kExtMemoryOnly = 2, kExtRegisterOnly = 4, kExtNoModRm = 8,
                  kExtVsib = 16, kExtGroup = 32, kExtGeneral = 64;

extern const unsigned kExtOpCount;
extern const TExtOp kExtOps[];
extern const uint16_t kExtFirst[3 * 256 + 1];

// Flag word fields.
inline unsigned RegKind(uint16_t flags) { return flags & 7; }
inline unsigned RmKind(uint16_t flags) { return (flags >> 3) & 7; }
inline bool RegFollows66(uint16_t flags) { return flags & 0x40; }
inline bool RmFollows66(uint16_t flags) { return flags & 0x80; }
inline bool ExplicitSize(uint16_t flags) { return flags & 0x100; }
inline bool Reversed(uint16_t flags) { return flags & 0x200; }
inline unsigned ImmediateKind(uint16_t flags) { return (flags >> 10) & 3; }
inline bool RelativeImmediate(uint16_t flags) { return flags & 0x1000; }
inline unsigned RegEffect(uint16_t flags) { return flags >> 13; }

constexpr int kNoRegister = -1;

struct TDecoded {
  TInstrInfo info;
  uint16_t flags;
  uint8_t operandSize;   // 4, or 2 after 66h
  bool has66, addr16, lock, repne, rep;
  uint8_t segment;       // 0 none, 1-6 es, cs, ss, ds, fs, gs
  bool hasModRm, isMemory;
  uint8_t mod, reg, rm;
  int8_t base, index;    // register numbers, kNoRegister when absent
  uint8_t scale;
  uint8_t sib;
  uint8_t dispSize;
  int32_t disp;
  uint32_t dispAddr;
  uint8_t immSize;
  int32_t imm;           // sign-extended; the offset of a far pointer; enter's word
  uint32_t immAddr;
  uint16_t immHigh;      // a far pointer's segment; enter's byte
  // Three-byte, VEX and EVEX instructions; ext and encoding are always set, the others only
  // for those encodings. Decode clears the fields above ext as one block.
  const TExtOp* ext;     // the table row, null for the one- and two-byte maps
  uint8_t encoding;      // kEncLegacy, kEncVex or kEncEvex; 0 for the older maps
  uint8_t vvvv;          // the register operand held in the prefix
  uint8_t vectorBytes;   // 16, 32 or 64 by the length bits
  bool vexW;
  uint8_t mask;          // EVEX: the opmask register, 0 for none
  bool zeroing, broadcast;
};

// The decode of DecodeInstruction with everything the text needs.
void Decode(CodeMemory& memory, uint32_t code, TDecoded& d, TRegState* regState,
            bool resolveRegisters, const TDATryRead* map);

}  // namespace qx::decoder
