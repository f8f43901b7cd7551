// The decoder on hand-made code: table rows, validity, targets, register constants and the
// exact text of instructions.
#include <gtest/gtest.h>

#include "decoder.h"
#include "decoder_internal.h"
#include "mapped_pe_file.h"

namespace {

using qx::TInstrInfo;
using qx::TRegState;
using qxtest::ImageMemory;

constexpr uint32_t kCode = 0x401000;

// Decodes bytes placed at kCode in a module "test.dll".
struct Fixture {
  ImageMemory memory;
  explicit Fixture(std::vector<uint8_t> bytes, bool isSelf = false) {
    bytes.resize(bytes.size() + 16, 0x90);
    memory.AddBlock(kCode, std::move(bytes), "C:\\mods\\test.dll", isSelf);
  }
  TInstrInfo Decode(uint32_t address = kCode, TRegState* state = nullptr, bool resolve = false) {
    return qx::DecodeInstruction(memory, address, state, resolve);
  }
  std::string Text(uint32_t address = kCode) {
    std::string text;
    qx::DecodeInstructionText(memory, address, text);
    return text;
  }
};

std::string TextOf(std::vector<uint8_t> bytes) { return Fixture(std::move(bytes)).Text(); }

TEST(DecoderTables, QuotedFlagRowsAreExact) {
  using namespace qx::decoder;
  EXPECT_EQ(kOneByteFlags[0x00], 0x4211);
  EXPECT_EQ(kOneByteFlags[0x03], 0x20E4);
  EXPECT_EQ(kTwoByteFlags[0xB6], 0x2154);
  EXPECT_EQ(kOneByteFlags[0x68], 0x0C00);
  for (int op = 0x70; op <= 0x7F; ++op) EXPECT_EQ(kOneByteFlags[op], 0x1400) << op;
  EXPECT_EQ(kOneByteFlags[0xE8], 0x1C00);
  EXPECT_EQ(kOneByteFlags[0x80], 0x0510);
  for (int op = 0xB8; op <= 0xBF; ++op) EXPECT_EQ(kOneByteFlags[op], 0x6C45) << op;
  for (int op : {0xF6, 0xF7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF}) {
    EXPECT_EQ(kOneByteFlags[op], 0x0008) << op;
  }
  EXPECT_EQ(kTwoByteFlags[0x0F], 0x052D);
  const uint16_t f7[8] = {0x0DA0, 0xFFFF, 0x41A0, 0x41A0, 0x81A0, 0x81A0, 0x81A0, 0x81A0};
  bool found = false;
  for (const TGroupEntry& group : kGroupTable) {
    if (group.opcode != 0xF7) continue;
    found = true;
    for (int reg = 0; reg < 8; ++reg) EXPECT_EQ(group.memoryForms[reg], f7[reg]) << reg;
  }
  EXPECT_TRUE(found);
}

TEST(DecoderTables, ListsHaveTheirShape) {
  using namespace qx::decoder;
  std::string list(kMnemonicList, kMnemonicStart[kMnemonicCount] - 1);
  EXPECT_EQ(static_cast<size_t>(std::count(list.begin(), list.end(), '\x01')),
            kMnemonicCount - 1);
  for (const char* entry : {"add|or|adc|sbb|and|sub|xor|cmp", "inc|dec|call|call|jmp|jmp|push",
                            "j%cc", "cwde/cbw", "movq/movdqa//movdqu", "addPS", "int     3",
                            "pop     %seg", "movhlPS:movlPS/movlPS/movddup/movsldup"}) {
    EXPECT_NE(list.find(std::string("\x01") + entry + "\x01"), std::string::npos) << entry;
  }
  EXPECT_NE(list.find("chs-abs---tst-xam"), std::string::npos);
  EXPECT_STREQ(kConditionList, "o|no|b|nb|z|nz|be|a|s|ns|p|np|l|ge|le|g");
  int valid = 0;
  for (uint8_t byte : k3DNowValid) valid += __builtin_popcount(byte);
  EXPECT_EQ(valid, 24);
}

TEST(Decoder, CallToNextInstructionIsNoBranch) {
  TInstrInfo info = Fixture({0xE8, 0, 0, 0, 0}).Decode();
  EXPECT_TRUE(info.isValid);
  EXPECT_EQ(info.next - info.start, 5u);
  EXPECT_FALSE(info.isCall);
  EXPECT_FALSE(info.isJump);
  EXPECT_EQ(info.target, 0u);
  EXPECT_EQ(info.targetFieldAddr, 0u);
  EXPECT_FALSE(info.canEnlarge);
}

TEST(Decoder, RelativeBranches) {
  Fixture f({0xE8, 0x10, 0, 0, 0, 0xEB, 0xFE, 0xE2, 0xF0, 0x0F, 0x84, 0x00, 0x01, 0, 0});
  TInstrInfo call = f.Decode();
  EXPECT_TRUE(call.isCall && call.isRelTarget && call.canEnlarge);
  EXPECT_EQ(call.target, kCode + 0x15);
  EXPECT_EQ(call.targetFieldAddr, kCode + 1);
  EXPECT_EQ(call.targetSize, 4u);
  TInstrInfo self = f.Decode(kCode + 5);
  EXPECT_TRUE(self.isJump);
  EXPECT_EQ(self.target, kCode + 5);
  EXPECT_EQ(self.targetSize, 1u);
  TInstrInfo loop = f.Decode(kCode + 7);
  EXPECT_TRUE(loop.isJump);
  EXPECT_FALSE(loop.canEnlarge);
  TInstrInfo jz = f.Decode(kCode + 9);
  EXPECT_EQ(jz.opcode, 0x0F84);
  EXPECT_EQ(jz.target, kCode + 15 + 0x100);
}

TEST(Decoder, IndirectCallThroughSlot) {
  // call [slot] where the slot lies inside the block and holds 00402000h.
  Fixture readable({0xFF, 0x15, 0x08, 0x10, 0x40, 0x00, 0x90, 0x90, 0x00, 0x20, 0x40, 0x00});
  TInstrInfo info = readable.Decode();
  EXPECT_TRUE(info.isValid && info.isCall);
  EXPECT_EQ(info.targetSlotAddr, kCode + 2);
  EXPECT_EQ(info.target, 0x402000u);
  EXPECT_EQ(info.next, kCode + 6);

  TInstrInfo unreadable = Fixture({0xFF, 0x15, 0x00, 0x00, 0x70, 0x00}).Decode();
  EXPECT_FALSE(unreadable.isValid);
  TInstrInfo fs = Fixture({0x64, 0xFF, 0x15, 0x00, 0x00, 0x70, 0x00}).Decode();
  EXPECT_TRUE(fs.isValid);
  EXPECT_EQ(fs.target, 0u);
  EXPECT_EQ(fs.next - fs.start, 7u);

  // With a readable-memory snapshot that leaves the slot out, the read is not attempted.
  qx::TDATryRead map;
  qx::AppendReadRange(map, 0, kCode, false);
  qx::AppendReadRange(map, kCode, kCode + 8, true);
  qx::AppendReadRange(map, kCode + 8, 0xFFFFFFFF, false);
  EXPECT_FALSE(qx::DecodeInstruction(readable.memory, kCode, nullptr, false, &map).isValid);
  // Code outside the snapshot's readable ranges is not read at all.
  qx::TInstrInfo outside =
      qx::DecodeInstruction(readable.memory, kCode + 8, nullptr, false, &map);
  EXPECT_FALSE(outside.isValid);
  EXPECT_EQ(outside.next, kCode + 8);
}

TEST(Decoder, RegisterResolution) {
  // mov eax, 00401020h / call eax / mov ebx, 00401024h / jmp [ebx]
  Fixture f({0xB8, 0x20, 0x10, 0x40, 0x00, 0xFF, 0xD0, 0xBB, 0x24, 0x10, 0x40, 0x00, 0xFF, 0x23,
             0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90,
             0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x28, 0x10, 0x40, 0x00, 0x00, 0x50,
             0x40, 0x00});
  TRegState state{};
  TInstrInfo mov = f.Decode(kCode, &state, true);
  EXPECT_EQ(state.regs[0], kCode + 1);
  TInstrInfo call = f.Decode(mov.next, &state, true);
  EXPECT_TRUE(call.isCall);
  EXPECT_EQ(call.target, 0x401020u);
  EXPECT_EQ(call.targetFieldAddr, kCode + 1);
  TInstrInfo movEbx = f.Decode(call.next, &state, true);
  TInstrInfo jmp = f.Decode(movEbx.next, &state, true);
  EXPECT_TRUE(jmp.isJump);
  EXPECT_EQ(jmp.targetSlotAddr, kCode + 8);
  EXPECT_EQ(jmp.target, 0x401028u);  // the value in the slot at 00401024h

  TRegState off{};
  f.Decode(kCode, &off, false);
  TInstrInfo unresolved = f.Decode(mov.next, &off, false);
  EXPECT_TRUE(unresolved.isCall);
  EXPECT_EQ(unresolved.target, 0u);
}

TEST(Decoder, RegisterStateUpdates) {
  TRegState state{};
  // mov ecx, 5 / mov edx, ecx / rep movsb / mov ah, 1 / popad
  Fixture f({0xB9, 5, 0, 0, 0, 0x8B, 0xD1, 0xF3, 0xA4, 0xB8, 1, 0, 0, 0, 0xB4, 1, 0x61});
  uint32_t at = kCode;
  at = f.Decode(at, &state).next;
  EXPECT_EQ(state.regs[1], kCode + 1);
  at = f.Decode(at, &state).next;
  EXPECT_EQ(state.regs[2], kCode + 1);
  at = f.Decode(at, &state).next;
  EXPECT_EQ(state.regs[1], 0u);  // rep clears ecx
  EXPECT_EQ(state.regs[2], kCode + 1);
  at = f.Decode(at, &state).next;
  EXPECT_EQ(state.regs[0], kCode + 10);
  at = f.Decode(at, &state).next;
  EXPECT_EQ(state.regs[0], 0u);  // mov ah writes eax
  EXPECT_EQ(state.regs[4], 0u);
  state.regs[3] = 1;
  f.Decode(at, &state);
  EXPECT_EQ(state.regs[3], 0u);
  EXPECT_EQ(state.regs[2], 0u);
}

TEST(Decoder, NullAddressAndTruncatedCode) {
  ImageMemory memory;
  TInstrInfo zero = qx::DecodeInstruction(memory, 0);
  EXPECT_EQ(zero.start, 0u);
  EXPECT_EQ(zero.next, 0u);
  EXPECT_FALSE(zero.isValid);
  memory.AddBlock(kCode, {0xB8, 0x01});
  TInstrInfo cut = qx::DecodeInstruction(memory, kCode);
  EXPECT_FALSE(cut.isValid);
  EXPECT_EQ(cut.next, kCode + 2);
  EXPECT_EQ(cut.opcode, 0xB8);
  std::string text;
  qx::DecodeInstructionText(memory, kCode, text);
  EXPECT_EQ(text, "00401000   db $b8\r\n00401001   db $01");
  qx::DecodeInstructionText(memory, kCode + 0x100, text);
  EXPECT_EQ(text, "");
}

TEST(Decoder, Validity) {
  auto valid = [](std::vector<uint8_t> bytes) { return !!Fixture(std::move(bytes)).Decode().isValid; };
  EXPECT_FALSE(valid({0xDB, 0xE5}));
  EXPECT_TRUE(valid({0xDB, 0xE3}));
  EXPECT_TRUE(valid({0xDA, 0xE9}));
  EXPECT_FALSE(valid({0xDA, 0xEA}));
  EXPECT_FALSE(valid({0xD9, 0xD1}));
  EXPECT_FALSE(valid({0x8D, 0xC0}));          // lea needs memory
  EXPECT_FALSE(valid({0x8E, 0xF0}));          // no segment register 6
  EXPECT_FALSE(valid({0xFE, 0xD0}));
  EXPECT_FALSE(valid({0xFF, 0xD8}));          // far call needs memory
  EXPECT_TRUE(valid({0xFF, 0x18}));
  EXPECT_FALSE(valid({0xF7, 0x08}));          // F7 /1
  EXPECT_FALSE(valid({0x0F, 0x6C, 0xC0}));
  EXPECT_TRUE(valid({0x66, 0x0F, 0x6C, 0xC0}));
  EXPECT_FALSE(valid({0x0F, 0x71, 0xD8, 1}));
  EXPECT_TRUE(valid({0x0F, 0x71, 0xD0, 1}));
  EXPECT_FALSE(valid({0x0F, 0xF0, 0x00}));
  EXPECT_TRUE(valid({0xF2, 0x0F, 0xF0, 0x00}));
  EXPECT_FALSE(valid({0x0F, 0xAE, 0xC0}));
  EXPECT_TRUE(valid({0x0F, 0xAE, 0xE8}));
  EXPECT_TRUE(valid({0x0F, 0x0F, 0xC1, 0xBF}));
  EXPECT_FALSE(valid({0x0F, 0x0F, 0xC1, 0x00}));
  EXPECT_FALSE(valid({0x0F, 0x0B - 1, 0xC0}));
  TInstrInfo bad = Fixture({0x0F, 0x04, 0xC0, 1, 2, 3, 4}).Decode();
  EXPECT_FALSE(bad.isValid);
  EXPECT_EQ(bad.opcode, 0x0F04);
  EXPECT_EQ(bad.next - bad.start, 1u);  // its length is unknown: one byte, not the bytes after
}

TEST(DecoderText, MnemonicChoices) {
  EXPECT_EQ(TextOf({0x66, 0x0F, 0x6F, 0xC1}), "00401000   movdqa  xmm0, xmm1");
  EXPECT_EQ(TextOf({0xF3, 0x0F, 0x6F, 0xC1}), "00401000   movdqu  xmm0, xmm1");
  EXPECT_EQ(TextOf({0x0F, 0x6F, 0xC1}), "00401000   movq    mm0, mm1");
  EXPECT_EQ(TextOf({0x0F, 0x58, 0xC1}), "00401000   addps   xmm0, xmm1");
  EXPECT_EQ(TextOf({0x66, 0x0F, 0x58, 0xC1}), "00401000   addpd   xmm0, xmm1");
  EXPECT_EQ(TextOf({0xF2, 0x0F, 0x58, 0xC1}), "00401000   addsd   xmm0, xmm1");
  EXPECT_EQ(TextOf({0xF3, 0x0F, 0x58, 0xC1}), "00401000   addss   xmm0, xmm1");
  EXPECT_EQ(TextOf({0xD9, 0xE0}), "00401000   fchs");
  EXPECT_EQ(TextOf({0xDA, 0xE9}), "00401000   fucompp");
  EXPECT_EQ(TextOf({0xDB, 0xE5}), "00401000   db $db\r\n00401001   db $e5");
  EXPECT_EQ(TextOf({0x0F, 0x12, 0xC1}), "00401000   movhlps xmm0, xmm1");
  EXPECT_EQ(TextOf({0x0F, 0x12, 0x00}), "00401000   movlps  xmm0, [eax]");
  EXPECT_EQ(TextOf({0x66, 0x0F, 0x12, 0x00}), "00401000   movlpd  xmm0, [eax]");
  EXPECT_EQ(TextOf({0xF2, 0x0F, 0x12, 0x00}), "00401000   movddup xmm0, [eax]");
  EXPECT_EQ(TextOf({0x98}), "00401000   cwde");
  EXPECT_EQ(TextOf({0x66, 0x98}), "00401000   cbw");
  EXPECT_EQ(TextOf({0x0F, 0x84, 0, 0, 0, 0}).substr(0, 13), "00401000   jz");
  EXPECT_EQ(TextOf({0x0F, 0x4F, 0xC1}), "00401000   cmovg   eax, ecx");
  EXPECT_EQ(TextOf({0x1F}), "00401000   pop     ds");
  EXPECT_EQ(TextOf({0x0F, 0xA8}), "00401000   push    gs");
  EXPECT_EQ(TextOf({0xCC}), "00401000   int     3");
  EXPECT_EQ(TextOf({0x83, 0xE8, 0x01}), "00401000   sub     eax, 1");
  EXPECT_EQ(TextOf({0xFF, 0x30}), "00401000   push    dword ptr [eax]");
  EXPECT_EQ(TextOf({0xDC, 0xC1}), "00401000   fadd    st(1), st");
  EXPECT_EQ(TextOf({0xD8, 0xC0}), "00401000   fadd    st, st");
  EXPECT_EQ(TextOf({0xDD, 0x45, 0xF8}), "00401000   fld     qword ptr [ebp-8]");
  EXPECT_EQ(TextOf({0xDF, 0xE0}), "00401000   fnstsw  ax");
  EXPECT_EQ(TextOf({0x0F, 0x0F, 0xC1, 0xBF}), "00401000   pavgusb mm0, mm1");
  EXPECT_EQ(TextOf({0x0F, 0x0F, 0xC1, 0x0C}), "00401000   pi2fw   mm0, mm1");
}

TEST(DecoderText, Prefixes) {
  EXPECT_EQ(TextOf({0xF3, 0xA4}), "00401000   rep movsb");
  EXPECT_EQ(TextOf({0xF3, 0xA5}), "00401000   rep movsd");
  EXPECT_EQ(TextOf({0x66, 0xF3, 0xA5}), "00401000   rep movsw");
  EXPECT_EQ(TextOf({0xF2, 0xAE}), "00401000   repne scasb");
  EXPECT_EQ(TextOf({0xF0, 0x0F, 0xB1, 0x0A}), "00401000   lock cmpxchg [edx], ecx");
  EXPECT_EQ(TextOf({0xF0, 0xFF, 0x00}), "00401000   lock inc dword ptr [eax]");
  EXPECT_EQ(TextOf({0x64, 0xA1, 0x18, 0, 0, 0}), "00401000   mov     eax, fs:[$18]");
  EXPECT_EQ(TextOf({0x64, 0x8B, 0x0D, 0, 0, 0, 0}), "00401000   mov     ecx, fs:[0]");
  EXPECT_EQ(TextOf({0x66, 0x89, 0x08}), "00401000   mov     [eax], cx");
  EXPECT_EQ(TextOf({0x66, 0xC7, 0x00, 0x34, 0x12}), "00401000   mov     word ptr [eax], $1234");
  EXPECT_EQ(TextOf({0x67, 0x8B, 0x47, 0x02}), "00401000   mov     eax, [bx+2]");
  EXPECT_EQ(TextOf({0x67, 0x8B, 0x00}), "00401000   mov     eax, [bx+si]");
  EXPECT_EQ(TextOf({0xF3, 0x90}), "00401000   pause");
}

TEST(DecoderText, NumbersAndMemory) {
  EXPECT_EQ(TextOf({0xB8, 9, 0, 0, 0}), "00401000   mov     eax, 9");
  EXPECT_EQ(TextOf({0xB8, 10, 0, 0, 0}), "00401000   mov     eax, $a");
  EXPECT_EQ(TextOf({0x8B, 0x43, 0xF4}), "00401000   mov     eax, [ebx-$c]");
  EXPECT_EQ(TextOf({0x8B, 0x45, 0xFC}), "00401000   mov     eax, [ebp-4]");
  EXPECT_EQ(TextOf({0x8B, 0x45, 0x08}), "00401000   mov     eax, [ebp+8]");
  EXPECT_EQ(TextOf({0x8B, 0x45, 0x10}), "00401000   mov     eax, [ebp+$10]");
  EXPECT_EQ(TextOf({0x6A, 0xFF}), "00401000   push    $ffffffff");
  EXPECT_EQ(TextOf({0x66, 0x6A, 0xFF}), "00401000   push    $ffff");
  EXPECT_EQ(TextOf({0x6A, 0x05}), "00401000   push    5");
  EXPECT_EQ(TextOf({0x8B, 0x04, 0x85, 0x00, 0x00, 0x50, 0x00}),
            "00401000   mov     eax, [eax*4+$500000]");
  EXPECT_EQ(TextOf({0x8B, 0x44, 0x8E, 0x04}), "00401000   mov     eax, [esi+ecx*4+4]");
  EXPECT_EQ(TextOf({0x8B, 0x04, 0x24}), "00401000   mov     eax, [esp]");
  EXPECT_EQ(TextOf({0xA1, 5, 0, 0, 0}), "00401000   mov     eax, [5]");
  EXPECT_EQ(TextOf({0x83, 0xC4, 0xF0}), "00401000   add     esp, -$10");
  EXPECT_EQ(TextOf({0x6B, 0xC0, 0x03}), "00401000   imul    eax, eax, 3");
  EXPECT_EQ(TextOf({0xC2, 0x08, 0x00}), "00401000   ret     8");
  EXPECT_EQ(TextOf({0xC8, 0x10, 0x00, 0x00}), "00401000   enter   $10");
  EXPECT_EQ(TextOf({0xC8, 0x10, 0x00, 0x01}), "00401000   enter   $10, $1");
  EXPECT_EQ(TextOf({0xD4, 0x0A}), "00401000   aam");
  EXPECT_EQ(TextOf({0xD5, 0x10}), "00401000   aad     $10");
  EXPECT_EQ(TextOf({0xEA, 0x00, 0x10, 0x00, 0x00, 0x1B, 0x00}),
            "00401000   jmp     $1b:$1000");
  EXPECT_EQ(TextOf({0xD1, 0xE0}), "00401000   shl     eax, 1");
  EXPECT_EQ(TextOf({0xD3, 0xF8}), "00401000   sar     eax, cl");
  EXPECT_EQ(TextOf({0x0F, 0xA5, 0xD0}), "00401000   shld    eax, edx, cl");
  EXPECT_EQ(TextOf({0xEE}), "00401000   out     dx, al");
  EXPECT_EQ(TextOf({0xE4, 0x60}), "00401000   in      al, $60");
  EXPECT_EQ(TextOf({0x0F, 0x20, 0xC0}), "00401000   mov     eax, cr0");
  EXPECT_EQ(TextOf({0x0F, 0x23, 0xF8}), "00401000   mov     dr7, eax");
  EXPECT_EQ(TextOf({0xF2, 0x0F, 0x2C, 0xC1}), "00401000   cvttsd2si eax, xmm1");
  EXPECT_EQ(TextOf({0xEB, 0x10}), "00401000   jmp     +$10 ($401012)");
  EXPECT_EQ(TextOf({0x74, 0xFC}), "00401000   jz      -4 ($400ffe)");
}

bool ProcNames(uint32_t address, std::string& name) {
  if (address == kCode + 0x20) {
    name = "Unit.Routine";
    return true;
  }
  if (address == kCode + 0x30) {
    name = "Unit.Other(x)";
    return true;
  }
  return false;
}

TEST(DecoderText, FunctionNameComments) {
  std::vector<uint8_t> code(0x200, 0x90);
  const uint8_t call[] = {0xE8, 0x1B, 0, 0, 0};  // to kCode + 0x20
  std::copy(std::begin(call), std::end(call), code.begin());
  const uint8_t call2[] = {0xE8, 0x26, 0, 0, 0};  // at +5, to kCode + 0x30
  std::copy(std::begin(call2), std::end(call2), code.begin() + 5);
  const uint8_t viaThunk[] = {0xE8, 0x36, 0, 0, 0};  // at +10, to kCode + 0x45
  std::copy(std::begin(viaThunk), std::end(viaThunk), code.begin() + 10);
  const uint8_t thunk[] = {0xE9, 0xD6, 0xFF, 0xFF, 0xFF};  // at +0x45, to kCode + 0x20
  std::copy(std::begin(thunk), std::end(thunk), code.begin() + 0x45);
  qx::MapProcNameHook = ProcNames;
  for (bool isSelf : {false, true}) {
    Fixture f(code, isSelf);
    std::string suffix = isSelf ? "" : " (test.dll)";
    EXPECT_EQ(f.Text(), "00401000   call    +$1b ($401020)         ; Unit.Routine" + suffix);
    EXPECT_EQ(f.Text(kCode + 5), "00401005   call    +$26 ($401030)         ; Unit.Other(x)");
    EXPECT_EQ(f.Text(kCode + 10),
              "0040100a   call    +$36 ($401045)         ; Unit.Routine" + suffix);
  }
  qx::MapProcNameHook = nullptr;
  EXPECT_EQ(Fixture(code).Text(), "00401000   call    +$1b ($401020)");
}

TEST(DecoderText, StringComments) {
  std::vector<uint8_t> code(0x300, 0);
  const uint8_t push[] = {0x68, 0x00, 0x11, 0x40, 0x00};          // push $401100
  const uint8_t load[] = {0xA1, 0x00, 0x12, 0x40, 0x00};          // mov eax, [$401200]
  const uint8_t ptr[] = {0x8B, 0x0D, 0x04, 0x12, 0x40, 0x00};     // mov ecx, [$401204]
  const uint8_t binary[] = {0x68, 0x40, 0x11, 0x40, 0x00};        // push $401140
  std::copy(std::begin(push), std::end(push), code.begin());
  std::copy(std::begin(load), std::end(load), code.begin() + 5);
  std::copy(std::begin(ptr), std::end(ptr), code.begin() + 10);
  std::copy(std::begin(binary), std::end(binary), code.begin() + 16);
  const char hello[] = "Hello, world";
  std::copy(std::begin(hello), std::end(hello), code.begin() + 0x100);
  const char junk[] = "\x01\x02zz";
  std::copy(std::begin(junk), std::end(junk), code.begin() + 0x140);
  const uint8_t pointer[] = {0x00, 0x11, 0x40, 0x00};
  std::copy(std::begin(pointer), std::end(pointer), code.begin() + 0x204);
  Fixture f(code);
  EXPECT_EQ(f.Text(), "00401000   push    $401100                ; 'Hello, world'");
  EXPECT_EQ(f.Text(kCode + 10), "0040100a   mov     ecx, [$401204]         ; 'Hello, world'");
  EXPECT_EQ(f.Text(kCode + 16), "00401010   push    $401140");
}

TEST(ExportNames, Unmangle) {
  EXPECT_EQ(qx::UnmangleExportName("@Sysutils@Format$qqrx17System@AnsiString"), "Format.Sysutils");
  EXPECT_EQ(qx::UnmangleExportName("@Classes@TList@Add$qqrpv"), "TList.Add.Classes");
  EXPECT_EQ(qx::UnmangleExportName("_GetThing@12"), "GetThing");
  EXPECT_EQ(qx::UnmangleExportName("qelTraceProcess"), "qelTraceProcess");
  EXPECT_EQ(qx::UnmangleExportName("@"), "@");
}

TEST(ReadableMap, MergesAndSearches) {
  qx::TDATryRead map;
  qx::AppendReadRange(map, 0, 0x10000, false);
  qx::AppendReadRange(map, 0x10000, 0x20000, true);
  qx::AppendReadRange(map, 0x20000, 0x30000, true);
  qx::AppendReadRange(map, 0x30000, 0x40000, false);
  ASSERT_EQ(map.ranges.size(), 3u);
  EXPECT_EQ(map.ranges[1].end, 0x30000u);
  EXPECT_FALSE(qx::IsReadable(map, 0xFFFF));
  EXPECT_TRUE(qx::IsReadable(map, 0x10000));
  EXPECT_TRUE(qx::IsReadable(map, 0x2FFFF));
  EXPECT_FALSE(qx::IsReadable(map, 0x30000));
  EXPECT_FALSE(qx::IsReadable(map, 0x50000));
  EXPECT_FALSE(qx::IsReadable(qx::TDATryRead(), 0x10000));
  for (uint32_t i = 0; i < 200; ++i) qx::AppendReadRange(map, 0x40000 + i, 0x40001 + i, i & 1);
  EXPECT_EQ(map.ranges.size(), 202u);  // the first merges with the unreadable range before
  EXPECT_TRUE(qx::IsReadable(map, 0x40001));
  EXPECT_FALSE(qx::IsReadable(map, 0x40002));
}

}  // namespace

namespace {

// Length of the instruction at kCode, and whether it is valid.
std::pair<uint32_t, bool> LengthOf(std::vector<uint8_t> bytes) {
  TInstrInfo info = Fixture(std::move(bytes)).Decode();
  return {info.next - info.start, !!info.isValid};
}

TEST(DecoderNewerSets, BitCountsAndSystemForms) {
  EXPECT_EQ(TextOf({0xF3, 0x0F, 0xBC, 0xC1}), "00401000   tzcnt   eax, ecx");
  EXPECT_EQ(TextOf({0xF3, 0x0F, 0xBD, 0xC1}), "00401000   lzcnt   eax, ecx");
  EXPECT_EQ(TextOf({0x0F, 0xBC, 0xC1}), "00401000   bsf     eax, ecx");
  EXPECT_EQ(TextOf({0x0F, 0xBD, 0xC1}), "00401000   bsr     eax, ecx");
  EXPECT_EQ(TextOf({0xF3, 0x0F, 0xB8, 0xC1}), "00401000   popcnt  eax, ecx");
  EXPECT_EQ(TextOf({0x66, 0xF3, 0x0F, 0xB8, 0xC0}), "00401000   popcnt  ax, ax");
  EXPECT_FALSE(LengthOf({0x0F, 0xB8, 0xC1}).second);  // jmpe: not in 32-bit user code
  EXPECT_EQ(TextOf({0x0F, 0x01, 0xF9}), "00401000   rdtscp");
  EXPECT_EQ(TextOf({0x0F, 0x01, 0xD0}), "00401000   xgetbv");
  EXPECT_EQ(TextOf({0x0F, 0x01, 0x38}), "00401000   invlpg  [eax]");
  EXPECT_FALSE(LengthOf({0x0F, 0x01, 0xF8}).second);  // swapgs exists only in 64-bit code
  EXPECT_EQ(TextOf({0x0F, 0xC7, 0xF0}), "00401000   rdrand  eax");
  EXPECT_EQ(TextOf({0x0F, 0xC7, 0xF9}), "00401000   rdseed  ecx");
  EXPECT_EQ(TextOf({0x0F, 0xC7, 0x0E}), "00401000   cmpxchg8b qword ptr [esi]");
  EXPECT_EQ(TextOf({0x0F, 0xAE, 0x21}), "00401000   xsave   [ecx]");
  EXPECT_EQ(TextOf({0x0F, 0xAE, 0xF0}), "00401000   mfence");
  TRegState state{};
  state.regs[0] = state.regs[1] = state.regs[2] = 0x1234;
  Fixture({0x0F, 0x01, 0xF9}).Decode(kCode, &state);
  EXPECT_EQ(state.regs[0] | state.regs[1] | state.regs[2], 0u);  // rdtscp writes all three
}

TEST(DecoderNewerSets, LockOnlyBeforeWhatAllowsIt) {
  // and esp, -16 whose last byte is F0h, then a call: from the F0h on, there is no "lock call"
  // but a one-byte invalid span, and the call follows at its own start.
  Fixture code({0x83, 0xE4, 0xF0, 0xE8, 0x10, 0, 0, 0});
  TInstrInfo lockByte = code.Decode(kCode + 2);
  EXPECT_FALSE(lockByte.isValid);
  EXPECT_EQ(lockByte.next, kCode + 3);
  EXPECT_EQ(code.Text(kCode + 2), "00401002   db $f0");
  TInstrInfo call = code.Decode(lockByte.next);
  EXPECT_TRUE(call.isValid);
  EXPECT_TRUE(call.isCall);
  EXPECT_FALSE(LengthOf({0xF0, 0x8B, 0x00}).second);       // mov
  EXPECT_FALSE(LengthOf({0xF0, 0x01, 0xC0}).second);       // add in register form
  EXPECT_FALSE(LengthOf({0xF0, 0x39, 0x00}).second);       // cmp writes nothing
  EXPECT_TRUE(LengthOf({0xF0, 0x01, 0x00}).second);        // add [eax], eax
  EXPECT_TRUE(LengthOf({0xF0, 0x0F, 0xC1, 0x01}).second);  // xadd
  EXPECT_TRUE(LengthOf({0xF0, 0x0F, 0xC7, 0x0E}).second);  // cmpxchg8b
  EXPECT_TRUE(LengthOf({0xF0, 0xF7, 0x18}).second);        // neg
  EXPECT_EQ(LengthOf({0xF0, 0x66, 0x0F, 0x38, 0x00, 0xC1}), std::make_pair(1u, false));
  EXPECT_EQ(LengthOf({0xF0, 0xC5, 0xFC, 0x58, 0xC1}), std::make_pair(1u, false));
}

TEST(DecoderNewerSets, InvalidCodeNeverSwallowsTheNextInstruction) {
  // An opcode no map knows spans one byte; a known map's unknown opcode spans its ModR/M.
  EXPECT_EQ(LengthOf({0x0F, 0x04, 0xE8, 0, 0, 0, 0}), std::make_pair(1u, false));
  EXPECT_EQ(LengthOf({0x0F, 0xFF, 0xC0}), std::make_pair(1u, false));
  EXPECT_EQ(LengthOf({0x0F, 0x38, 0xFF, 0xC0}), std::make_pair(4u, false));
  EXPECT_EQ(LengthOf({0x0F, 0x3A, 0xFF, 0xC0, 0x01}), std::make_pair(5u, false));
  EXPECT_EQ(LengthOf({0xC5, 0xF8, 0xFF, 0xC0}), std::make_pair(4u, false));
  EXPECT_EQ(LengthOf({0xC4, 0xE0, 0x78, 0x58, 0xC0}), std::make_pair(1u, false));  // map 0
  EXPECT_EQ(LengthOf({0xF7, 0x08, 0x90}), std::make_pair(2u, false));  // group form /1
}

TEST(DecoderNewerSets, VexOrLesLds) {
  // In 32-bit code C4h/C5h start VEX only where les/lds would have a register form.
  EXPECT_EQ(TextOf({0xC4, 0x00}), "00401000   les     eax, [eax]");
  EXPECT_EQ(TextOf({0xC5, 0x41, 0x08}), "00401000   lds     eax, [ecx+8]");
  EXPECT_EQ(TextOf({0xC5, 0xFC, 0x58, 0xC1}), "00401000   vaddps  ymm0, ymm0, ymm1");
  EXPECT_EQ(TextOf({0xC5, 0xF0, 0x58, 0x02}), "00401000   vaddps  xmm0, xmm1, oword ptr [edx]");
  EXPECT_EQ(TextOf({0xC4, 0xE2, 0x75, 0xB8, 0x44, 0x24, 0x20}),
            "00401000   vfmadd231ps ymm0, ymm1, ymmword ptr [esp+$20]");
  EXPECT_EQ(TextOf({0xC4, 0xE2, 0x68, 0xF7, 0xC1}), "00401000   bextr   eax, ecx, edx");
  EXPECT_EQ(TextOf({0xC4, 0xE2, 0x73, 0xF5, 0xC2}), "00401000   pdep    eax, ecx, edx");
  EXPECT_EQ(TextOf({0xC4, 0xE2, 0x78, 0xF3, 0xC9}), "00401000   blsr    eax, ecx");
  EXPECT_EQ(TextOf({0xC5, 0xF8, 0x77}), "00401000   vzeroupper");
  EXPECT_EQ(TextOf({0xC4, 0xE2, 0x75, 0x92, 0x04, 0x8A}),
            "00401000   vgatherdps ymm0, [edx+ymm1*4], ymm1");
  EXPECT_EQ(TextOf({0xC4, 0xE3, 0x7D, 0x39, 0xC1, 0x01}), "00401000   vextracti128 xmm1, ymm0, 1");
  // A legacy prefix before VEX is refused.
  EXPECT_FALSE(LengthOf({0x66, 0xC5, 0xFC, 0x58, 0xC1}).second);
}

TEST(DecoderNewerSets, EvexOrBound) {
  EXPECT_EQ(TextOf({0x62, 0x01}), "00401000   bound   eax, dword ptr [ecx]");
  EXPECT_EQ(TextOf({0x62, 0xF1, 0x7C, 0x48, 0x58, 0xC1}), "00401000   vaddps  zmm0, zmm0, zmm1");
  // The one-byte displacement is scaled by the operand size: 1 * 64.
  EXPECT_EQ(TextOf({0x62, 0xF1, 0x7C, 0x48, 0x58, 0x41, 0x01}),
            "00401000   vaddps  zmm0, zmm0, zmmword ptr [ecx+$40]");
  // Broadcast of one element, and a merging and a zeroing mask.
  EXPECT_EQ(TextOf({0x62, 0xF1, 0x7C, 0x58, 0x58, 0x41, 0x01}),
            "00401000   vaddps  zmm0, zmm0, dword ptr [ecx+4]{1to16}");
  EXPECT_EQ(TextOf({0x62, 0xF1, 0xFD, 0x49, 0x58, 0xC1}),
            "00401000   vaddpd  zmm0{k1}, zmm0, zmm1");
  EXPECT_EQ(TextOf({0x62, 0xF1, 0xFD, 0xCA, 0x59, 0xC1}),
            "00401000   vmulpd  zmm0{k2}{z}, zmm0, zmm1");
  EXPECT_EQ(TextOf({0x62, 0xF1, 0xFE, 0x48, 0x6F, 0x0A}),
            "00401000   vmovdqu64 zmm1, zmmword ptr [edx]");
  EXPECT_EQ(TextOf({0x62, 0xF3, 0x75, 0x48, 0x25, 0x02, 0x96}),
            "00401000   vpternlogd zmm0, zmm1, zmmword ptr [edx], $96");
  EXPECT_EQ(TextOf({0xC5, 0xF8, 0x92, 0xCA}), "00401000   kmovw   k1, edx");
  // Reserved bits of the EVEX prefix: no instruction, one byte.
  EXPECT_EQ(LengthOf({0x62, 0xFD, 0x7C, 0x48, 0x58, 0xC1}), std::make_pair(1u, false));
}

TEST(DecoderNewerSets, ThreeByteMaps) {
  EXPECT_EQ(TextOf({0xF2, 0x0F, 0x38, 0xF1, 0xC1}), "00401000   crc32   eax, ecx");
  EXPECT_EQ(TextOf({0xF2, 0x0F, 0x38, 0xF0, 0x10}), "00401000   crc32   edx, byte ptr [eax]");
  EXPECT_EQ(TextOf({0x66, 0x0F, 0x38, 0x00, 0xC1}), "00401000   pshufb  xmm0, xmm1");
  EXPECT_EQ(TextOf({0x0F, 0x38, 0x00, 0xC1}), "00401000   pshufb  mm0, mm1");
  EXPECT_EQ(TextOf({0x66, 0x0F, 0x3A, 0x63, 0xC1, 0x0C}), "00401000   pcmpistri xmm0, xmm1, $c");
  EXPECT_EQ(TextOf({0x66, 0x0F, 0x38, 0x21, 0x01}), "00401000   pmovsxbd xmm0, dword ptr [ecx]");
  EXPECT_EQ(TextOf({0x0F, 0x38, 0xF0, 0x01}), "00401000   movbe   eax, dword ptr [ecx]");
  EXPECT_EQ(TextOf({0x66, 0x0F, 0x3A, 0x16, 0xC0, 0x02}), "00401000   pextrd  eax, xmm0, 2");
  EXPECT_FALSE(LengthOf({0x66, 0x0F, 0x38, 0x2A, 0xC1}).second);  // movntdqa needs memory
  // The general registers an instruction of these maps writes lose their constants.
  TRegState state{};
  state.regs[0] = 0x1234;
  Fixture({0xF2, 0x0F, 0x38, 0xF1, 0xC1}).Decode(kCode, &state);
  EXPECT_EQ(state.regs[0], 0u);
}

}  // namespace
