// The memory for a blob's bytes comes from the C++ runtime; a blob too large for it fails
// the statement instead of the engine.
#include "blob_transfer.h"

namespace qx::udr {

void ReserveBlobBytes(std::string& text, size_t bytes) {
  if (bytes > text.max_size()) throw std::bad_alloc();
  text.reserve(bytes);
}

}  // namespace qx::udr
