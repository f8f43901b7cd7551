// The x86 instruction decoder: one 32-bit instruction at a time into a TInstrInfo, and the
// text line of an instruction. It reads foreign memory only through a CodeMemory, so the
// same code runs in the reporter (reading its own process) and natively over file images.
// Decoding never faults: an unreadable byte makes the instruction invalid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "memory_reader.h"
#include "process_registries.h"

namespace qx {

// The result of decoding one instruction; all zero before each decode.
struct TInstrInfo {
  uint8_t isValid;
  uint16_t opcode;           // the opcode byte, or 0F00h plus the second byte
  uint8_t modRm;
  uint8_t isCall;
  uint8_t isJump;
  uint8_t isRelTarget;
  uint32_t target;           // where the call or jump goes, 0 if unknown
  uint32_t targetFieldAddr;  // the relative field, or the source of a register's value
  uint32_t targetSlotAddr;   // for [disp32] or [reg]: the field that holds the slot address
  uint32_t targetSize;       // size of the target field: 1, 2 or 4
  uint8_t canEnlarge;        // a relative branch a patcher may widen
  uint32_t start;            // first byte, prefixes included
  uint32_t next;             // first byte after the instruction
};

// Where each general register (eax, ecx, edx, ebx, esp, ebp, esi, edi) got a known constant
// from: the address of the immediate of a mov reg, imm32, or 0 when unknown.
struct TRegState {
  uint32_t regs[8];
};

// One range of the readable-memory snapshot: [begin, end).
struct TReadRange {
  uint32_t begin;
  uint32_t end;
  bool readable;
};

// A snapshot of which address ranges were readable, ascending, adjacent ranges with the same
// flag merged. Built once for one analysis (BuildReadableMap on Windows).
struct TDATryRead {
  std::vector<TReadRange> ranges;
};

// Binary search of the snapshot; tests only the first address of a read.
bool IsReadable(const TDATryRead& map, uint32_t address);
// Appends [begin, end) to a snapshot being built in ascending order, merging it with the last
// range when the flag is the same. Starts at 64 slots and grows by half.
void AppendReadRange(TDATryRead& map, uint32_t begin, uint32_t end, bool readable);

// A loaded module image.
struct TModuleInfo {
  uint32_t base = 0;
  uint32_t size = 0;          // of the image in memory
  std::string fileName;       // full path
  bool isSelf = false;        // the module that holds the reporter
};

// One memory region as the system's region query reports it.
struct TMemoryRegion {
  uint32_t base = 0;
  uint32_t size = 0;
  uint32_t allocationBase = 0;
  bool committed = false;
};

// What the decoder and the function analysis may look at of an address space. Its Read (from
// MemoryReader) copies count bytes starting at address, true only when every byte was read;
// it never faults, and an address of 0 is never readable.
class CodeMemory : public MemoryReader {
 public:
  // The loaded module whose image holds the address; false when none does.
  virtual bool ModuleAt(uint32_t address, TModuleInfo& module) = 0;
  // The region query of the system for the address; false when the query fails.
  virtual bool QueryRegion(uint32_t address, TMemoryRegion& region) = 0;
  // The system's message text for an error code, without a trailing line break.
  virtual std::string ErrorText(uint32_t code) = 0;
};

// Reads count bytes; with a snapshot, the first address must lie in a readable range.
bool ReadGuarded(CodeMemory& memory, uint32_t address, void* destination, uint32_t count,
                 const TDATryRead* map);

// Decodes the instruction at code. With a register state, that state is updated; with
// resolveRegisters, calls and jumps through registers with known constants get targets.
// A code address of 0 gives an all-zero result.
TInstrInfo DecodeInstruction(CodeMemory& memory, uint32_t code, TRegState* regState = nullptr,
                             bool resolveRegisters = false, const TDATryRead* map = nullptr);

// The same, and the text line(s) of the instruction. Invalid code is listed as "db" lines,
// one per byte, separated by CR LF. No line break after the last line.
TInstrInfo DecodeInstructionText(CodeMemory& memory, uint32_t code, std::string& text,
                                 TRegState* regState = nullptr, bool resolveRegisters = false);

// The name under which the module at moduleBase exports exactly that address: the name, else
// "#" and the ordinal in decimal; empty when it exports nothing there. With unmangle, a
// decorated name is reduced to the routine's name (see UnmangleExportName).
// Takes the export cache's lock once, so that its state exists before a fault needs it.
void PrepareExportNames();
std::string ExportNameAt(CodeMemory& memory, uint32_t moduleBase, uint32_t address,
                         bool unmangle);

// "@Unit@Routine$qqrv" -> "Routine.Unit", "@Unit@Class@Method$..." -> "Class.Method.Unit",
// "_Name@12" / "Name@12" -> "Name"; other names are returned unchanged.
std::string UnmangleExportName(const std::string& name);

// The name of the function that starts exactly at address: the module's export there,
// else MapProcNameHook; empty when neither knows one. moduleOut receives the module.
std::string FunctionNameAt(CodeMemory& memory, uint32_t address, TModuleInfo* moduleOut);

}  // namespace qx
