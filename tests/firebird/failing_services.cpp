// The services of a failing server, linked into a second copy of the library
// (libQXUdfFailProbe.so) that the engine loads beside the real one: the allocator gives
// nothing and the rich-text conversion fails. Every text function and fn_TrimRTF then
// fails inside the engine, which must go on running and deliver SQL NULL.
#include <string>

#include "host_contract.h"
#include "platform.h"
#include "udf_failure.h"

extern "C" void* ib_util_malloc(IbUtilSize) { return nullptr; }

namespace qx {

std::string RichTextToPlain(const std::string&) { throw RichTextFailure{"test failure"}; }

}  // namespace qx
