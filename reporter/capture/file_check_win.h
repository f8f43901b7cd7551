// The module-file integrity self-check: the PE checksum of the file on disk, compared with
// the one its header carries. A header without a checksum (0) passes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace qx {

// The standard PE image checksum of a file's bytes (16-bit sums with carry, the header's
// checksum field left out, plus the file length).
uint32_t PeFileChecksum(const std::string& bytes, uint32_t& headerChecksum);

// True when the module's file is unchanged (or carries no checksum); false when it cannot
// be read or its checksum differs.
bool CheckModuleFile(HMODULE module);

}  // namespace qx
