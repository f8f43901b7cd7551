// udfhost: loads QXUdfLib.dll as a database server would and calls its functions.
//
//   udfhost [--segment N] [--lib PATH] "fn_strReplace('banana','ana','x')" ...
//
// Arguments: integers and doubles as written, 'text' with C escapes (\r \n \t \0 \xHH),
// null for an SQL NULL passed by a null pointer, blob:'bytes' and blob:null for blobs.
// Each line of output is the call, " = " and its result; text results are quoted.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "call_runner.h"
#include "ib_util_host.h"
#include "udf_binding.h"

int main(int argc, char** argv) {
  qxhost::RunOptions options;
  std::string libraryPath = "QXUdfLib.dll";
  int first = 1;
  for (; first < argc; ++first) {
    std::string arg = argv[first];
    if (arg == "--segment" && first + 1 < argc) {
      long n = std::strtol(argv[++first], nullptr, 10);
      if (n < 1 || n > 65535) {
        std::fprintf(stderr, "udfhost: --segment takes 1 to 65535\n");
        return 2;
      }
      options.segmentSize = static_cast<uint16_t>(n);
    } else if (arg == "--lib" && first + 1 < argc) {
      libraryPath = argv[++first];
    } else {
      break;
    }
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: udfhost [--segment N] [--lib PATH] CALL...\n");
    return 2;
  }

  qxhost::UdfLibrary library;
  if (!library.Load(libraryPath)) {
    std::fprintf(stderr, "udfhost: %s\n", library.error().c_str());
    return 1;
  }

  int failures = 0;
  for (int i = first; i < argc; ++i) {
    qxhost::Call call;
    std::string result, error;
    if (!qxhost::ParseCall(argv[i], call, error) ||
        !qxhost::RunCall(library, call, options, result, error)) {
      std::printf("%s -> error: %s\n", argv[i], error.c_str());
      ++failures;
      continue;
    }
    std::printf("%s = %s\n", argv[i], result.c_str());
  }
  std::printf("server blocks still allocated: %d\n", static_cast<int>(ib_util_live_blocks()));
  std::fflush(stdout);
  return failures == 0 ? 0 : 1;
}
