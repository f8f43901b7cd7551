// The services of a failing server, linked into a second copy of the UDR module
// (libQXUdrFailProbe.so) that the engine loads beside the real one: a blob of more than
// kBlobLimit bytes finds no memory and the rich-text conversion fails. The statements
// that hit them must fail with the message while the engine and the connection go on.
#include <new>
#include <string>

#include "blob_transfer.h"
#include "platform.h"
#include "udf_failure.h"

namespace {
constexpr size_t kBlobLimit = 1000;
}

namespace qx::udr {

void ReserveBlobBytes(std::string& text, size_t bytes) {
  if (bytes > kBlobLimit) throw std::bad_alloc();
  text.reserve(bytes);
}

}  // namespace qx::udr

namespace qx {

std::string RichTextToPlain(const std::string&) { throw RichTextFailure{"test failure"}; }

}  // namespace qx
