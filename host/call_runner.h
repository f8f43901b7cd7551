// Parses call expressions such as
//   fn_strReplace('banana','ana','x')
//   fn_GetBlobValue(blob:'a=1\r\nb=2', 'B')
// and runs them against the loaded module the way a server would: every argument passed
// by reference, blobs as descriptors over in-memory blobs, text results freed after use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "udf_binding.h"

namespace qxhost {

struct Argument {
  enum class Kind { kNull, kNumber, kText, kBlob, kNullBlob } kind = Kind::kNull;
  std::string text;     // text or blob bytes, or the number as written
};

struct Call {
  std::string function;
  std::vector<Argument> arguments;
};

// Parses one expression; on failure returns false with a message in error.
bool ParseCall(const std::string& expression, Call& call, std::string& error);

struct RunOptions {
  uint16_t segmentSize = 65535;  // longest segment the blob reads deliver
};

// Runs a parsed call and formats its result ('text', a number, or blob:'bytes').
// Returns false with a message when the call is malformed or the function failed.
bool RunCall(const UdfLibrary& library, const Call& call, const RunOptions& options,
             std::string& result, std::string& error);

// Writes bytes as a quoted literal with C escapes for what is not printable.
std::string QuoteBytes(const std::string& bytes);

}  // namespace qxhost
