// libFuzzer target: random bytes as code. Decoding, the text form and the function analysis
// must never fault, and a valid instruction is 1 to 15 bytes long.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoder.h"
#include "function_analysis.h"
#include "mapped_pe_file.h"

namespace {

constexpr uint32_t kBase = 0x401000;

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  qxtest::ImageMemory memory;
  // The input also lands in a second block, so that slots, strings and thunks it points at
  // can be read.
  memory.AddBlock(kBase, std::vector<uint8_t>(data, data + size), "fuzz.dll");
  memory.AddBlock(0x10000, std::vector<uint8_t>(data, data + size));
  qx::TRegState state{};
  std::string text;
  for (uint32_t offset = 0; offset < size && offset < 64; ++offset) {
    const uint32_t at = kBase + offset;
    qx::TInstrInfo plain = qx::DecodeInstruction(memory, at);
    qx::TInstrInfo info = qx::DecodeInstructionText(memory, at, text, &state, true);
    Check(info.start == at);
    Check(info.next >= at);
    Check(plain.next == info.next);
    if (info.isValid) {
      Check(info.next - info.start >= 1 && info.next - info.start <= 15);
      Check(!text.empty());
      Check(!(info.isCall && info.isJump));
      if (info.isRelTarget && (info.isCall || info.isJump)) {
        Check(info.targetSize == 1 || info.targetSize == 2 || info.targetSize == 4);
      }
    } else {
      Check(text.empty() || text.find("   db $") == 8);
    }
  }
  qx::TFunctionInfo function = qx::ParseFunction(memory, kBase);
  if (function.isValid) {
    Check(function.codeLength >= 1);
    std::string listing = qx::DisassembleFunction(memory, kBase, kBase + size / 2, true, 5);
    Check(!listing.empty());
  }
  return 0;
}
