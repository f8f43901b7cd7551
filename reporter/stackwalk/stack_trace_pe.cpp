// What the walker needs from a module's PE headers: its code and data ranges and the
// addresses of its exports, read through the shared PE image view.
#include <algorithm>

#include "pe_image.h"
#include "stack_trace_internal.h"

namespace qx::stackwalk {

ModuleImageRanges ReadModuleImageRanges(CodeMemory& memory, uint32_t base) {
  ModuleImageRanges ranges;
  PeImage image(memory, base, PeLayout::kLoaded);
  if (!image.Open()) return ranges;
  const PeHeaders& headers = image.Headers();
  ranges.entryPoint = headers.entryPoint ? base + headers.entryPoint : 0;
  ranges.codeBegin = base + headers.baseOfCode;
  ranges.codeEnd = ranges.codeBegin + headers.sizeOfCode;
  ranges.dataBegin = base + headers.baseOfData;
  ranges.dataEnd =
      ranges.dataBegin + headers.sizeOfInitializedData + headers.sizeOfUninitializedData;
  // The first section when it holds code, extended over a second code section. A section's
  // end counts its raw size too: the linker may round the raw data past the virtual size.
  auto sectionEnd = [base](const PeSection& s) {
    return base + s.virtualAddress + std::max(s.virtualSize, s.rawSize);
  };
  PeSection first, second;
  if (!image.Section(0, first) || !first.IsCode()) return ranges;
  ranges.codeBegin = base + first.virtualAddress;
  ranges.codeEnd = sectionEnd(first);
  if (image.Section(1, second) && second.IsCode()) ranges.codeEnd = sectionEnd(second);
  return ranges;
}

std::vector<uint32_t> ReadExportAddresses(CodeMemory& memory, uint32_t base) {
  std::vector<uint32_t> exports;
  PeImage image(memory, base, PeLayout::kLoaded);
  PeExports table;
  // The view refuses counts beyond its limit, so a corrupt directory cannot make the walker
  // allocate without bound.
  if (!image.Open() || !image.Exports(table) || table.functionCount == 0) return exports;
  std::vector<uint32_t> rvas(table.functionCount);
  if (!image.ReadRva(table.functionsRva, rvas.data(), table.functionCount * 4)) return exports;
  for (uint32_t rva : rvas) {
    if (rva == 0 || image.IsForwarder(table, rva)) continue;
    exports.push_back(base + rva);
  }
  std::sort(exports.begin(), exports.end());
  return exports;
}

}  // namespace qx::stackwalk
