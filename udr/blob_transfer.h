// Blobs through the engine's blob interface, in segments, of any size.
#pragma once

#include <string>
#include <string_view>

#include "udr_call.h"

namespace qx::udr {

// The largest segment one call moves.
constexpr unsigned kMaxBlobSegment = 65535;

// Reads the whole blob into one string, zero bytes included. A blob that ends before the
// length the engine gave for it fails the statement with a message naming `function`.
std::string ReadWholeBlob(Status* status, ::Firebird::IExternalContext* context,
                          ISC_QUAD id, const char* function);

// Creates a blob in the caller's transaction holding exactly `bytes`; stores its id.
void WriteNewBlob(Status* status, ::Firebird::IExternalContext* context, ISC_QUAD* id,
                  std::string_view bytes);

// Makes room for a blob's bytes (the memory a module may refuse). Throws std::bad_alloc
// when there is none.
void ReserveBlobBytes(std::string& text, size_t bytes);

}  // namespace qx::udr
