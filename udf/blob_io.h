// Moving whole blobs between the server's segment callbacks and byte strings.
#pragma once

#include <cstddef>
#include <string>

#include "host_contract.h"

namespace qx {

// The largest request the 16-bit size field can carry.
constexpr size_t kMaxSegment = 65535;

// Reads a whole input blob. A null descriptor, a null handle or a total length of 0 read
// as the empty string without calling the server. Zero bytes are kept. If the server stops
// delivering before the total length is reached, the bytes read so far are returned.
std::string BlobToString(const BlobDescriptor* blob);

// Writes length bytes to an output blob in chunks of at most kMaxSegment, straight from
// data. Writing nothing makes no call at all.
void StringToBlob(const BlobDescriptor* blob, const char* data, size_t length);

// Hands a text to the server as a fresh ib_util_malloc block of length + 1 bytes, zero
// terminated; the empty text is a one-byte block. Throws std::bad_alloc when the server's
// allocator gives nothing.
char* ToServerString(const std::string& text);

}  // namespace qx
