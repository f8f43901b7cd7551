// Checksums and raw deflate as the attachments use them, all from zlib.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx {

uint32_t Crc32(const void* data, size_t size);
uint32_t Adler32(const void* data, size_t size);

// The output bound of a compressed block: its size times 11 div 10 plus 12 bytes.
size_t DeflateBound(size_t size);

// Raw deflate (no zlib header) of one memory block into a buffer of DeflateBound bytes.
// False when zlib fails or the stream does not fit the bound: the output is then empty,
// never longer than the bound.
bool RawDeflate(const void* data, size_t size, int level, std::string& out);

}  // namespace qx
