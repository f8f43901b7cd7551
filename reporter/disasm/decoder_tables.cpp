// The opcode tables; their contents are generated.
#include "decoder_internal.h"

namespace qx::decoder {

#include "decoder_tables.inc"

}  // namespace qx::decoder
