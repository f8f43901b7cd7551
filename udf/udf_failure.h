// How a failure inside an SQL function reaches the server.
#pragma once

#include <cstdint>

namespace qx {

// The structured-exception code our exports raise when a call fails. A C++ exception must
// never unwind into the server's frames, so the export boundary catches it, releases
// everything and raises this instead; the server's own handler sees a failed call.
constexpr uint32_t kUdfFailureCode = 0xE0515855;  // 'QXU' with the customer bit

// First exception parameter: what failed.
enum class UdfFailure : uint32_t {
  kOutOfMemory = 1,
  kRichTextControl = 2,
  kInternal = 3,
};

// Thrown by platform code when the rich-text control cannot be loaded or created.
struct RichTextFailure {
  const char* what;
};

// Reports the failure to the server. On Windows it raises kUdfFailureCode and does not
// return. The Linux engine has no failure channel for external functions (a signal inside
// one aborts the server, a C++ exception skips its clean-up), so there it returns and the
// export hands back a null result, which the engine delivers as SQL NULL.
#if defined(_WIN32)
[[noreturn]]
#endif
void RaiseUdfFailure(UdfFailure kind);

}  // namespace qx
