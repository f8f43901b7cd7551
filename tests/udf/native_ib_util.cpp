// The server's allocator for native test programs of the portable code.
#include <cstdint>
#include <cstdlib>

#include "host_contract.h"

extern "C" void* ib_util_malloc(IbUtilSize size) {
  return size < 0 ? nullptr : std::malloc(static_cast<size_t>(size));
}
