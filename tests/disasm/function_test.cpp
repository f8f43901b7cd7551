// Function analysis and listing on hand-made functions.
#include <gtest/gtest.h>

#include <cstring>

#include "function_analysis.h"
#include "mapped_pe_file.h"
#include "text_lines.h"

namespace {

using qx::Lines;
using qx::TCodeArea;
using qx::TFunctionInfo;

constexpr uint32_t kEntry = 0x401000;

struct Code {
  std::vector<uint8_t> bytes;
  explicit Code(size_t size, uint8_t fill = 0x90) : bytes(size, fill) {}
  Code& At(size_t offset, std::initializer_list<uint8_t> values) {
    std::copy(values.begin(), values.end(), bytes.begin() + offset);
    return *this;
  }
  Code& Dword(size_t offset, uint32_t value) {
    std::memcpy(bytes.data() + offset, &value, 4);
    return *this;
  }
};

struct Function {
  qxtest::ImageMemory memory;
  explicit Function(const Code& code) { memory.AddBlock(kEntry, code.bytes, "C:\\mods\\test.dll"); }
  TFunctionInfo Parse(const qx::TRuntimeRoutines& routines = {}) {
    return qx::ParseFunction(memory, kEntry, nullptr, routines);
  }
  std::string List(uint32_t marked, bool formatted, int limit,
                   const qx::TRuntimeRoutines& routines = {}) {
    return qx::DisassembleFunction(memory, kEntry, marked, formatted, limit, nullptr, routines);
  }
};

const TCodeArea* AreaAt(const TFunctionInfo& info, uint32_t begin) {
  for (const TCodeArea& area : info.codeAreas) {
    if (area.begin == begin) return &area;
  }
  return nullptr;
}

// push ebp / mov ebp, esp / sub esp, 8 / test eax, eax / jz +5 / call 00500000h /
// mov esp, ebp / pop ebp / ret
Code SimpleFunction() {
  Code code(0x20);
  code.At(0, {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x08, 0x85, 0xC0, 0x74, 0x05, 0xE8})
      .Dword(11, 0x500000 - 0x40100F)
      .At(0x0F, {0x8B, 0xE5, 0x5D, 0xC3});
  return code;
}

TEST(ParseFunction, SimpleFunction) {
  Function f(SimpleFunction());
  TFunctionInfo info = f.Parse();
  ASSERT_TRUE(info.isValid) << info.lastErrorText;
  EXPECT_EQ(info.entryPoint, kEntry);
  EXPECT_EQ(info.codeBegin, kEntry);
  EXPECT_EQ(info.codeLength, 0x13u);
  ASSERT_EQ(info.codeAreas.size(), 2u);
  const TCodeArea* tail = AreaAt(info, kEntry + 0x0F);
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail->branchFrom, kEntry + 8);
  EXPECT_EQ(tail->end, kEntry + 0x12);
  EXPECT_EQ(AreaAt(info, kEntry)->end, kEntry + 0x0E);
  ASSERT_EQ(info.farCalls.size(), 1u);
  EXPECT_TRUE(info.farCalls[0].isCall);
  EXPECT_EQ(info.farCalls[0].target, 0x500000u);
  EXPECT_EQ(info.farCalls[0].start, kEntry + 0x0A);
  EXPECT_TRUE(info.isCopyable);
  EXPECT_EQ(info.copySize, 0x13u + 4);
  EXPECT_TRUE(info.unresolvedCalls.empty());
}

TEST(ParseFunction, Failures) {
  qxtest::ImageMemory empty;
  TFunctionInfo missing = qx::ParseFunction(empty, 0x700000);
  EXPECT_FALSE(missing.isValid);
  EXPECT_EQ(missing.lastErrorCode, 87u);
  EXPECT_EQ(missing.lastErrorAddr, 0x700000u);
  EXPECT_EQ(missing.lastErrorText, "The parameter is incorrect.");

  Function bad(Code(0x20).At(0, {0x40, 0x0F, 0x04, 0xC0, 1, 2, 3, 4}));
  TFunctionInfo info = bad.Parse();
  EXPECT_FALSE(info.isValid);
  EXPECT_EQ(info.lastErrorCode, 0x770001u);
  EXPECT_EQ(info.lastErrorText, "Invalid code!");
  EXPECT_EQ(info.lastErrorAddr, kEntry + 2);  // an unknown opcode spans one byte
  EXPECT_EQ(bad.List(kEntry, false, 0), "");

  // Code that runs off the end of the readable block.
  Function runaway(Code(0x10, 0x40));
  EXPECT_FALSE(runaway.Parse().isValid);
}

TEST(ParseFunction, JumpTableSwitch) {
  // mov ecx, [esp+4] / cmp ecx, 5 / ja default / jmp [ecx*4+table] / table / default:
  // xor eax, eax / ret / six cases: inc eax / ret
  Code code(0x60);
  code.At(0, {0x8B, 0x4C, 0x24, 0x04, 0x83, 0xF9, 0x05, 0x77, 0x1F, 0xFF, 0x24, 0x8D})
      .Dword(12, kEntry + 0x10)
      .At(0x28, {0x33, 0xC0, 0xC3});
  for (uint32_t k = 0; k < 6; ++k) {
    code.Dword(0x10 + 4 * k, kEntry + 0x2B + 2 * k).At(0x2B + 2 * k, {0x40, 0xC3});
  }
  Function f(code);
  TFunctionInfo info = f.Parse();
  ASSERT_TRUE(info.isValid) << info.lastErrorText;
  const TCodeArea* table = AreaAt(info, kEntry + 0x10);
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table->isCaseTable);
  EXPECT_EQ(table->end, kEntry + 0x27);
  int cases = 0;
  for (const TCodeArea& area : info.codeAreas) {
    if (area.branchFrom == kEntry + 9 && !area.isCaseTable) ++cases;
  }
  EXPECT_EQ(cases, 6);
  EXPECT_EQ(info.codeAreas.size(), 9u);
  EXPECT_TRUE(info.unresolvedCalls.empty());
  EXPECT_EQ(info.codeLength, 0x37u);

  std::vector<std::string> lines = Lines(f.List(0, false, 0));
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(lines[3], "00401007   ja      loc_401028");
  EXPECT_EQ(lines[4], "00401009   jmp     dword ptr [ecx*4+$401010]");
  EXPECT_EQ(lines[5], "00401010   dd loc_40102b                  ; case jump table");
  EXPECT_EQ(lines[6], "00401014   dd loc_40102d");
  EXPECT_EQ(lines[11], "00401028   xor     eax, eax");

  // Formatted: the table stands between separators, the cases get labels.
  lines = Lines(f.List(0, true, 0));
  ASSERT_GE(lines.size(), 20u);
  EXPECT_EQ(lines[5], "00401009   jmp     dword ptr [ecx*4+$401010]");
  EXPECT_EQ(lines[6], "00401010");
  EXPECT_EQ(lines[7], "00401010 ; ---------------------------------------------------------");
  EXPECT_EQ(lines[8], "00401010");
  EXPECT_EQ(lines[9], "00401010 loc_401010:");
  EXPECT_EQ(lines[10], "00401010   dd loc_40102b                  ; case jump table");
  EXPECT_EQ(lines[16], "00401028");
  EXPECT_EQ(lines[17], "00401028 ; ---------------------------------------------------------");
  EXPECT_EQ(lines[18], "00401028");
  EXPECT_EQ(lines[19], "00401028 loc_401028:");
}

// test eax, eax / jz far / jmp eax / a gap / the far target: ret
Code GapFunction(uint32_t gap) {
  Code code(0x0A + gap + 0x10);
  code.At(0, {0x85, 0xC0, 0x0F, 0x84}).Dword(4, gap).At(8, {0xFF, 0xE0});
  code.bytes[0x0A + gap] = 0xC3;
  return code;
}

TEST(ParseFunction, GapBelowUnresolvedJump) {
  TFunctionInfo wide = Function(GapFunction(1024)).Parse();
  ASSERT_TRUE(wide.isValid);
  EXPECT_EQ(wide.codeAreas.size(), 2u);
  ASSERT_EQ(wide.unresolvedCalls.size(), 1u);
  EXPECT_FALSE(wide.unresolvedCalls[0].isCall);
  EXPECT_EQ(wide.unresolvedCalls[0].start, kEntry + 8);

  TFunctionInfo narrow = Function(GapFunction(1000)).Parse();
  ASSERT_TRUE(narrow.isValid);
  ASSERT_EQ(narrow.codeAreas.size(), 3u);
  EXPECT_NE(AreaAt(narrow, kEntry + 0x0A), nullptr);
  EXPECT_EQ(narrow.codeLength, 0x0Au + 1000 + 1);
}

TEST(ParseFunction, Copyable) {
  Code loop(0x10);
  loop.At(0, {0xE2, 0x04, 0x90, 0x90, 0x90, 0x90, 0xC3});
  TFunctionInfo info = Function(loop).Parse();
  ASSERT_TRUE(info.isValid);
  EXPECT_FALSE(info.isCopyable);
  loop.At(0, {0x74});
  EXPECT_TRUE(Function(loop).Parse().isCopyable);
  Code tiny(0x10);
  tiny.At(0, {0x33, 0xC0, 0xC3});
  EXPECT_FALSE(Function(tiny).Parse().isCopyable);
}

TEST(ParseFunction, RegisterSnapshotsAndResolvedJump) {
  // mov eax, 00401010h / jmp eax / ... 00401010: ret
  Code code(0x20);
  code.At(0, {0xB8}).Dword(1, kEntry + 0x10).At(5, {0xFF, 0xE0}).At(0x10, {0xC3});
  TFunctionInfo info = Function(code).Parse();
  ASSERT_TRUE(info.isValid);
  const TCodeArea* after = AreaAt(info, kEntry + 5);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after->regState.regs[0], kEntry + 1);
  const TCodeArea* target = AreaAt(info, kEntry + 0x10);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->branchFrom, kEntry + 5);
  EXPECT_TRUE(info.unresolvedCalls.empty());
}

TEST(ParseFunction, ExceptionFrameAndTypedHandlerTable) {
  constexpr uint32_t kTyped = kEntry + 0x80;
  constexpr uint32_t kClass = kEntry + 0x100;
  Code code(0x140);
  // push ebp / push handler / push fs:[eax] / mov fs:[eax], esp / jmp typed / table
  code.At(0, {0x55, 0x68}).Dword(2, kEntry + 0x30).At(6, {0x64, 0xFF, 0x30, 0x64, 0x89, 0x20});
  code.At(0x0C, {0xE9}).Dword(0x0D, kTyped - (kEntry + 0x11));
  code.Dword(0x11, 2).Dword(0x15, kClass).Dword(0x19, kEntry + 0x40);
  code.Dword(0x1D, 0).Dword(0x21, kEntry + 0x48);
  code.At(0x30, {0xC3}).At(0x40, {0xC3}).At(0x48, {0xC3}).At(0x80, {0xC3});
  code.Dword(0x100 - 44, kEntry + 0x110).At(0x110, {10, 'E', 'M', 'y', 'P', 'r', 'o', 'b', 'l', 'e', 'm'});
  Function f(code);
  qx::TRuntimeRoutines routines;
  routines.typedHandler = kTyped;
  TFunctionInfo info = f.Parse(routines);
  ASSERT_TRUE(info.isValid) << info.lastErrorText;
  const TCodeArea* handler = AreaAt(info, kEntry + 0x30);
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(handler->branchFrom, kEntry + 6);
  const TCodeArea* table = AreaAt(info, kEntry + 0x11);
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table->isExceptTable);
  EXPECT_EQ(table->end, kEntry + 0x11 + 2 * 8 + 4 - 1);
  EXPECT_NE(AreaAt(info, kEntry + 0x40), nullptr);
  EXPECT_NE(AreaAt(info, kEntry + 0x48), nullptr);
  ASSERT_EQ(info.farCalls.size(), 1u);
  EXPECT_EQ(info.farCalls[0].target, kTyped);

  std::vector<std::string> lines = Lines(f.List(0, false, 0, routines));
  EXPECT_EQ(lines[6], "00401015   on EMyProblem do loc_401040");
  EXPECT_EQ(lines[7], "0040101d   else             loc_401048");
}

TEST(ParseFunction, HostCppHandlerDescriptors) {
  constexpr uint32_t kHost = kEntry + 0x80;
  // mov eax, descriptor / jmp host routine; descriptors of kind 0 and kind 3.
  for (uint16_t kind : {0, 3}) {
    Code code(0x140);
    code.At(0, {0xB8}).Dword(1, kEntry + 0x100).At(5, {0xE9}).Dword(6, kHost - (kEntry + 10));
    code.At(0x30, {0xC3}).At(0x38, {0xC3}).At(0x80, {0xC3});
    code.bytes[0x10A] = static_cast<uint8_t>(kind);
    code.bytes[0x10B] = 0;
    if (kind == 0) {
      code.Dword(0x10C, kEntry + 0x30);
    } else {
      code.Dword(0x10C, kEntry + 0x110);                    // the table
      code.Dword(0x118, kEntry + 0x30).Dword(0x12C, kEntry + 0x38);  // 20 bytes apart
    }
    Function f(code);
    qx::HostCppExceptionRoutine = kHost;
    TFunctionInfo info = f.Parse();
    qx::HostCppExceptionRoutine = 0;
    ASSERT_TRUE(info.isValid) << info.lastErrorText;
    EXPECT_NE(AreaAt(info, kEntry + 0x30), nullptr) << kind;
    EXPECT_EQ(AreaAt(info, kEntry + 0x38) != nullptr, kind == 3);
    // Without the routine known, the jump is an ordinary far jump.
    EXPECT_EQ(AreaAt(Function(code).Parse(), kEntry + 0x30), nullptr);
  }
}

TEST(ParseFunction, CatchAllAndHaltRoutines) {
  constexpr uint32_t kCatchAll = kEntry + 0x80;
  constexpr uint32_t kHalt = kEntry + 0x90;
  // jmp catch-all / code after it: call halt / (never reached) ret
  Code code(0xA0);
  code.At(0, {0xE9}).Dword(1, kCatchAll - (kEntry + 5)).At(5, {0x40, 0xE8});
  code.Dword(7, kHalt - (kEntry + 11)).At(11, {0xC3});
  code.At(0x80, {0xC3}).At(0x90, {0xC3});
  qx::TRuntimeRoutines routines;
  routines.catchAllHandler = kCatchAll;
  routines.haltRoutine = kHalt;
  TFunctionInfo info = Function(code).Parse(routines);
  ASSERT_TRUE(info.isValid);
  const TCodeArea* after = AreaAt(info, kEntry + 5);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after->branchFrom, kEntry);
  EXPECT_EQ(after->end, kEntry + 10);  // the call to the halt routine ends it
  EXPECT_EQ(info.farCalls.size(), 2u);
  EXPECT_EQ(info.codeLength, 11u);
}

// Calls to routines that never come back end their code area: what follows them is not
// analysed (here it is no code at all).
TEST(ParseFunction, CallsThatDoNotReturn) {
  // test eax, eax / jz to a ret at 24h / call the routine / 0F 04h (no instruction) / ret.
  // The routines lie at 40h, 50h, 60h, 70h and 80h.
  for (uint32_t routine : {0x40u, 0x50u, 0x60u, 0x70u, 0x80u}) {
    Code code(0x100);
    code.At(0, {0x85, 0xC0, 0x74, 0x20, 0xE8}).Dword(5, routine - 9).At(9, {0x0F, 0x04, 0xC3});
    code.At(0x24, {0xC3});
    code.At(0x40, {0x55, 0x8B, 0xEC, 0x0F, 0x0B});  // ends in ud2
    code.At(0x50, {0x6A, 0x01, 0xEB, 0xFE});        // ends in a jump to itself
    code.At(0x60, {0x90, 0xCC});                    // int3
    code.At(0x70, {0x6A, 0x00, 0xE8}).Dword(0x73, 0x40 - 0x77).At(0x77, {0xC3});  // calls 40h
    // Both paths of a conditional branch end: ud2 / jmp $.
    code.At(0x80, {0x85, 0xC0, 0x74, 0x02, 0x0F, 0x0B, 0xEB, 0xFE});
    TFunctionInfo info = Function(code).Parse();
    ASSERT_TRUE(info.isValid) << routine << ": " << std::hex << info.lastErrorAddr;
    const TCodeArea* first = AreaAt(info, kEntry);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->end, kEntry + 8) << routine;  // ends with the call
  }
  // A routine that returns, on every path or on one, keeps the code after the call in the
  // function.
  for (const std::vector<uint8_t>& routine :
       {std::vector<uint8_t>{0x6A, 0x00, 0x58, 0xC3},
        std::vector<uint8_t>{0x85, 0xC0, 0x74, 0x01, 0xC3, 0x0F, 0x0B}}) {
    Code code(0x100);
    code.At(0, {0xE8}).Dword(1, 0x40 - 5).At(5, {0x40, 0xC3});
    std::copy(routine.begin(), routine.end(), code.bytes.begin() + 0x40);
    TFunctionInfo info = Function(code).Parse();
    ASSERT_TRUE(info.isValid);
    EXPECT_EQ(info.codeLength, 7u);
  }
}

// A branch further than any real function reaches leaves the function instead of pulling
// the code there into it.
TEST(ParseFunction, RunAwayIsCapped) {
  constexpr uint32_t kFar = 300 * 1024;
  Code code(kFar + 0x10);
  code.At(0, {0x85, 0xC0, 0x0F, 0x84}).Dword(4, kFar - 8).At(8, {0xC3}).At(kFar, {0xC3});
  TFunctionInfo info = Function(code).Parse();
  ASSERT_TRUE(info.isValid);
  EXPECT_EQ(AreaAt(info, kEntry + kFar), nullptr);
  ASSERT_EQ(info.farCalls.size(), 1u);
  EXPECT_EQ(info.farCalls[0].target, kEntry + kFar);
  EXPECT_EQ(info.codeLength, 9u);
}

TEST(DisassembleFunction, WholeFunction) {
  Function f(SimpleFunction());
  EXPECT_EQ(f.List(kEntry + 6, false, 0),
            "00401000 sub_401000:                      ; function entry point\r\n"
            "00401000   push    ebp\r\n"
            "00401001   mov     ebp, esp\r\n"
            "00401003   sub     esp, 8\r\n"
            "00401006 > test    eax, eax\r\n"
            "00401008   jz      loc_40100f\r\n"
            "0040100a   call    +$feff1 ($500000)\r\n"
            "0040100f   mov     esp, ebp\r\n"
            "00401011   pop     ebp\r\n"
            "00401012   ret");
}

TEST(DisassembleFunction, Formatted) {
  Function f(SimpleFunction());
  EXPECT_EQ(f.List(0, true, 0),
            "00401000 sub_401000:                      ; function entry point\r\n"
            "00401000   push    ebp\r\n"
            "00401001   mov     ebp, esp\r\n"
            "00401003   sub     esp, 8\r\n"
            "00401006   test    eax, eax\r\n"
            "00401008   jz      loc_40100f\r\n"
            "0040100a\r\n"
            "0040100a   call    +$feff1 ($500000)\r\n"
            "0040100f\r\n"
            "0040100f loc_40100f:\r\n"
            "0040100f   mov     esp, ebp\r\n"
            "00401011   pop     ebp\r\n"
            "00401012   ret");
}

// 20 x inc eax, ret: 22 lines with the label.
Function* IncFunction() {
  Code code(0x30, 0x40);
  code.At(20, {0xC3});
  return new Function(code);
}

TEST(DisassembleFunction, LineLimit) {
  std::unique_ptr<Function> f(IncFunction());
  std::vector<std::string> lines = Lines(f->List(kEntry + 9, false, 5));
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines.front(), "[...]");
  EXPECT_EQ(lines[1], "00401004   inc     eax");
  EXPECT_EQ(lines[6], "00401009 > inc     eax");
  EXPECT_EQ(lines[11], "0040100e   inc     eax");
  EXPECT_EQ(lines.back(), "[...]");

  // Five lines before the mark: the listing starts at the function's first line.
  lines = Lines(f->List(kEntry + 4, false, 5));
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0].substr(0, 20), "00401000 sub_401000:");
  EXPECT_EQ(lines[5], "00401004 > inc     eax");
  EXPECT_EQ(lines.back(), "[...]");

  // Near the end nothing follows the last lines.
  lines = Lines(f->List(kEntry + 18, false, 5));
  EXPECT_EQ(lines.front(), "[...]");
  EXPECT_EQ(lines.back(), "00401014   ret");
  EXPECT_EQ(Lines(f->List(kEntry + 9, false, 0)).size(), 22u);
}

void LineHook(uint32_t address, uint32_t& line, uint32_t& begin, uint32_t& end) {
  begin = address & ~3u;
  end = begin + 4;
  line = 40 + (address - kEntry) / 4;
}

TEST(DisassembleFunction, LineNumberColumn) {
  std::unique_ptr<Function> f(IncFunction());
  qx::MapLineHook = LineHook;
  std::vector<std::string> lines = Lines(f->List(kEntry + 1, false, 0));
  qx::MapLineHook = nullptr;
  EXPECT_EQ(lines[0].substr(0, 23), "00401000    sub_401000:");
  EXPECT_EQ(lines[1], "00401000 40   inc     eax");
  EXPECT_EQ(lines[2], "00401001    > inc     eax");  // same line as before
  EXPECT_EQ(lines[3], "00401002      inc     eax");
  EXPECT_EQ(lines[5], "00401004 41   inc     eax");
}

}  // namespace
