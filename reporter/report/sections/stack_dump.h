// The "stack dump" section: the memory above the stack pointer in lines of 16 bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qx {

using StackDumpReader = std::function<bool(uint32_t address, void* destination, uint32_t count)>;

// At most 20 lines from stackPointer, ending early at regionEnd (0: no end known). Each line:
// address, two spaces, 16 byte columns "xx " (blank past the end) with "- " before the ninth,
// one space and the bytes as characters (21h-7Eh as themselves, others "."). Bytes that
// cannot be read end the dump like the end of the region.
std::string StackDumpText(const StackDumpReader& read, uint32_t stackPointer, uint32_t regionEnd);

}  // namespace qx
