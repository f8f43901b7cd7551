// Start-up and shut-down of the SQL function units when the engine loads and unloads the
// shared library (the counterpart of the Windows module's DllMain).
#include "platform.h"

namespace {

__attribute__((constructor)) void QxModuleLoad() { qx::PlatformStartup(); }

__attribute__((destructor)) void QxModuleUnload() { qx::PlatformShutdown(); }

}  // namespace
