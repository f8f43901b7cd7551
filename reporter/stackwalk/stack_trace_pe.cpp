// The only places where the walker reads PE headers: a module's code and data ranges and its
// export table. Kept together so that a shared PE image view can replace them in one step.
#include <algorithm>
#include <cstring>

#include "stack_trace_internal.h"

namespace qx::stackwalk {

namespace {

uint32_t U32At(const uint8_t* bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, bytes + at, 4);
  return value;
}

uint16_t U16At(const uint8_t* bytes, size_t at) {
  uint16_t value;
  std::memcpy(&value, bytes + at, 2);
  return value;
}

constexpr uint32_t kNewHeaderOffset = 0x3C;  // e_lfanew in the DOS header
constexpr size_t kOptionalHeader = 24;       // after the signature and the file header
constexpr size_t kExportDirectory = kOptionalHeader + 96;
constexpr size_t kSectionSize = 40;
constexpr uint32_t kSectionCode = 0x20;

}  // namespace

ModuleImageRanges ReadModuleImageRanges(CodeMemory& memory, uint32_t base) {
  ModuleImageRanges ranges;
  uint32_t pe = 0;
  uint8_t headers[248] = {};
  if (!memory.Read(base + kNewHeaderOffset, &pe, 4) || !memory.Read(base + pe, headers, 248))
    return ranges;
  const uint16_t sections = U16At(headers, 6), optionalSize = U16At(headers, 20);
  const size_t opt = kOptionalHeader;
  const uint32_t sizeOfCode = U32At(headers, opt + 4), sizeInit = U32At(headers, opt + 8),
                 sizeUninit = U32At(headers, opt + 12), entryRva = U32At(headers, opt + 16);
  ranges.entryPoint = entryRva ? base + entryRva : 0;
  ranges.codeBegin = base + U32At(headers, opt + 20);
  ranges.codeEnd = ranges.codeBegin + sizeOfCode;
  ranges.dataBegin = base + U32At(headers, opt + 24);
  ranges.dataEnd = ranges.dataBegin + sizeInit + sizeUninit;
  // The first section when it holds code, extended over a second code section.
  const uint32_t sectionTable = base + pe + kOptionalHeader + optionalSize;
  uint8_t section[2][kSectionSize] = {};
  if (sections < 1 || !memory.Read(sectionTable, section[0], kSectionSize)) return ranges;
  if ((U32At(section[0], 36) & kSectionCode) == 0) return ranges;
  auto sectionEnd = [&](int s) {
    return base + U32At(section[s], 12) + std::max(U32At(section[s], 8), U32At(section[s], 16));
  };
  ranges.codeBegin = base + U32At(section[0], 12);
  ranges.codeEnd = sectionEnd(0);
  if (sections >= 2 && memory.Read(sectionTable + kSectionSize, section[1], kSectionSize) &&
      (U32At(section[1], 36) & kSectionCode)) {
    ranges.codeEnd = sectionEnd(1);
  }
  return ranges;
}

std::vector<uint32_t> ReadExportAddresses(CodeMemory& memory, uint32_t base) {
  std::vector<uint32_t> exports;
  uint32_t pe = 0, dirRva = 0, dirSize = 0;
  uint8_t directory[40];
  if (!memory.Read(base + kNewHeaderOffset, &pe, 4) ||
      !memory.Read(base + pe + kExportDirectory, &dirRva, 4) ||
      !memory.Read(base + pe + kExportDirectory + 4, &dirSize, 4) || dirRva == 0 ||
      !memory.Read(base + dirRva, directory, 40))
    return exports;
  // A corrupt count must not make the walker allocate without bound.
  const uint32_t count = std::min<uint32_t>(U32At(directory, 20), 65536);
  const uint32_t functionsRva = U32At(directory, 28);
  std::vector<uint32_t> rvas(count);
  if (count == 0 || !memory.Read(base + functionsRva, rvas.data(), count * 4)) return exports;
  for (uint32_t rva : rvas) {
    if (rva == 0 || (rva >= dirRva && rva < dirRva + dirSize)) continue;  // forwarders
    exports.push_back(base + rva);
  }
  std::sort(exports.begin(), exports.end());
  return exports;
}

}  // namespace qx::stackwalk
